// Base of the tool's dialogs that the application object shows modally
// (message boxes, the directory chooser). Result values follow the classic
// convention: 0 while open, 1 OK, 2 cancel or close box, 6 yes, 7 no. The
// close box ends the dialog with 2; a form may refuse to close (CanClose).
#pragma once

#include <QDialog>

namespace vantelo {

class TModalForm : public QDialog {
    Q_OBJECT
public:
    static constexpr int mrNone = 0, mrOk = 1, mrCancel = 2, mrYes = 6, mrNo = 7;

    explicit TModalForm(QWidget* parent = nullptr);
    // Sets the result and, when it is not 0 and the form agrees, closes it.
    void SetModalResult(int result);
    int ModalResult() const { return result(); }

    void done(int result) override;
    void reject() override;

protected:
    // Asked before the form closes with a result other than 0.
    virtual bool CanClose() { return true; }
    void closeEvent(QCloseEvent* event) override;
};

}  // namespace vantelo
