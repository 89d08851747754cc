// The main window: the three input fields, the two command buttons, the
// check box asking for the old files to be deleted, and the file list grid.
// Its layout and property values come from resources/FormMain.ui.
#pragma once

#include <QWidget>

#include <memory>
#include <string>

class QLineEdit;

namespace Ui {
class FormMain;
}

namespace vantelo {

class TADOQuery;
class TComponent;
class TDataSource;

class TFormMain : public QWidget {
    Q_OBJECT
public:
    explicit TFormMain(QWidget* parent = nullptr);
    ~TFormMain() override;

    Ui::FormMain& Controls() { return *ui_; }

    // The non-visual components: the grid's query and its data source. The
    // query's connection is the data module's ADOConnection1, bound when the
    // data module comes into being.
    TADOQuery* ADOQuery1 = nullptr;
    TDataSource* DataSource1 = nullptr;

    // The directory the last search listed, as an absolute path: the rename
    // resolves the listed names against it.
    const std::string& SearchedDirectory() const { return searchedDirectory_; }

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
    static std::string NarrowText(const QLineEdit* edit);
    static void ShowCopyFailure(int error);

    std::unique_ptr<Ui::FormMain> ui_;
    std::unique_ptr<TComponent> components_;
    std::string searchedDirectory_;
    bool shownOnce_ = false;
};

// The process's main window (set by the application object at start-up).
extern TFormMain* FormMain;

}  // namespace vantelo
