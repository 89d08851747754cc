// The main window: the three input fields, the two command buttons, the
// check box asking for the old files to be deleted, and the file list grid.
// Its layout and property values come from resources/FormMain.ui.
#pragma once

#include <QWidget>

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/TFileIdentity.h"

class QLineEdit;

namespace Ui {
class FormMain;
}

namespace vantelo {

class TADOQuery;
class TComponent;
class TDataSource;
class TFileOps;

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

    // The directory whose entries the list holds, as an absolute path: the
    // rename resolves the listed names against it. It is taken over from a
    // search only once that search has written its rows and refreshed the
    // grid, with the directory's identity, so that a folder replaced at the
    // same path afterwards is refused rather than renamed.
    const std::string& SearchedDirectory() const { return searchedDirectory_; }

    // The file system the rename, the recovery and the undo work on: the
    // real one unless a test presents another.
    void SetFileOps(TFileOps& ops) { fileOps_ = &ops; }
    // Called on the search's worker after each entry it lists, with the
    // number listed so far (tests hold the listing part-way with it).
    void SetListingStep(std::function<void(size_t)> step) { listingStep_ = std::move(step); }

    // Handlers (each runs inside the handler guard when the toolkit calls it).
    void FormShow();
    void Button1Click();
    void ActionSearchExecute();
    void ActionBeginExecute();
    // Ctrl+Z: undoes the newest finished batch, after asking.
    void ActionUndoExecute();
    void RefreshFileList();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void PlaceCentred();
    static std::string NarrowText(const QLineEdit* edit);
    static void ShowCopyFailure(int error);
    // At start-up: brings a batch a crash interrupted to one end and says so.
    void RecoverUnfinishedBatches();
    std::string DatabasePath() const;

    std::unique_ptr<Ui::FormMain> ui_;
    std::unique_ptr<TComponent> components_;
    std::string searchedDirectory_;
    std::optional<TFileIdentity> searchedIdentity_;
    // A search ended by an error part-way: the table mixes its rows with the
    // previous list's, and renames are refused until a search completes.
    bool searchUnfinished_ = false;
    TFileOps* fileOps_;
    std::function<void(size_t)> listingStep_;
    bool shownOnce_ = false;
};

// The process's main window (set by the application object at start-up).
extern TFormMain* FormMain;

}  // namespace vantelo
