#include "app/TModalForm.h"

#include <QCloseEvent>

namespace vantelo {

TModalForm::TModalForm(QWidget* parent) : QDialog(parent) {}

void TModalForm::SetModalResult(int result)
{
    done(result);
}

void TModalForm::done(int result)
{
    if (result == mrNone) {
        setResult(mrNone);
        return;
    }
    if (!CanClose()) {
        setResult(mrNone);
        return;
    }
    QDialog::done(result);
}

void TModalForm::reject()
{
    // Escape and the close box: result 2.
    done(mrCancel);
}

void TModalForm::closeEvent(QCloseEvent* event)
{
    if (isVisible() && result() == mrNone) {
        event->ignore();
        done(mrCancel);
        return;
    }
    QDialog::closeEvent(event);
}

}  // namespace vantelo
