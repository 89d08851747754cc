// The main window: the three input fields, the two command buttons, the
// check box asking for the old files to be deleted, and the file list grid.
// Its layout and property values come from resources/FormMain.ui.
#pragma once

#include <QPointer>
#include <QWidget>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "jobs/TJournalUpkeep.h"
#include "mainwin/TListCheck.h"
#include "platform/TFileIdentity.h"

class QLabel;
class QLineEdit;

namespace Ui {
class FormMain;
}

namespace vantelo {

class TADOQuery;
class TComponent;
class TDataSource;
class TFileOps;
class TGridRowTip;
class TPreviewForm;
class TRenameJob;

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
    // Ctrl+P: checks every listed file as the rename would and shows the
    // old and new names side by side in the preview window, each refused
    // row with its reason; its "修改文件" runs the rename as the button does.
    void ActionPreviewExecute();
    // The preview window while it is open, else null.
    TPreviewForm* Preview() const;
    // The grid's tooltip over a row: the row's new name and, once the list
    // has been checked, the reason the rename would refuse it. Empty unless
    // both the target and the replacement field hold text.
    QString RowTip(size_t listRow, const std::string& fileName);
    TGridRowTip& GridRowTip() const { return *rowTip_; }
    TListCheck& ListCheck() const { return *listCheck_; }
    // The small link under the rename button that opens the preview.
    QLabel* PreviewLink() const { return previewLink_; }

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    static std::string NarrowText(const QLineEdit* edit);
    // The rename's file passes for a checked batch, its rows and its boxes.
    void RenameFiles(TRenameJob& job, std::chrono::steady_clock::time_point started);
    std::string DatabasePath() const;
    // The keys, accessible names, tooltip and preview link of the window.
    void SetUpReach();
    // What a check of the list is for: the searched folder, the two texts
    // and the list as now shown.
    TListCheck::Key ListKey() const;

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
    uint64_t listGeneration_ = 0;  // counts the list's refreshes
    TListCheck* listCheck_ = nullptr;
    TGridRowTip* rowTip_ = nullptr;
    QLabel* previewLink_ = nullptr;
    QPointer<TPreviewForm> preview_;
    // The journal's old batches dropped after a batch, waited for on close.
    TJournalUpkeep journalUpkeep_;
};

// The process's main window (set by the application object at start-up).
extern TFormMain* FormMain;

}  // namespace vantelo
