// The main window: the three input fields, the two command buttons, the
// check box asking for the old files to be deleted, and the file list grid.
// Its layout and property values come from resources/FormMain.ui.
#pragma once

#include <QWidget>

#include <memory>

namespace Ui {
class FormMain;
}

namespace vantelo {

class TFormMain : public QWidget {
    Q_OBJECT
public:
    explicit TFormMain(QWidget* parent = nullptr);
    ~TFormMain() override;

    Ui::FormMain& Controls() { return *ui_; }

    // Handlers (each runs inside the handler guard when the toolkit calls it).
    void FormShow();
    void Button1Click();
    void ActionSearchExecute();
    void ActionBeginExecute();
    void RefreshFileList();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void PlaceCentred();

    std::unique_ptr<Ui::FormMain> ui_;
    bool shownOnce_ = false;
};

// The process's main window (set by the application object at start-up).
extern TFormMain* FormMain;

}  // namespace vantelo
