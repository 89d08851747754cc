// The directory chooser: a modal dialog in which the user picks a folder by
// drive and by folder tree. Navigating in it moves the process's current
// directory, which stays where the user left it when the dialog closes, on OK
// and on Cancel alike; on OK it is the folder returned.
//
// Built in code at 96 pixels per inch (client 424 x 255) and scaled when the
// screen has another logical resolution. Its font stands in for the classic
// 8-point "MS Sans Serif", which Linux does not have: DejaVu Sans (package
// fonts-dejavu-core; any sans-serif face when missing) with a character
// height of 8 points, 11 pixels at 96 pixels per inch, whose 13-pixel cell is
// that of the classic face.
#pragma once

#include <QPointer>
#include <QSize>

#include <functional>
#include <optional>
#include <string>

#include "app/TModalForm.h"

class QLabel;
class QLineEdit;
class QPushButton;

namespace vantelo {

class TDirectoryListBox;
class TDriveComboBox;
class TFramePlacement;
class TFileListBox;
class TPathLabel;

// Options of ChooseDirectory, a bit mask.
enum TChooseDirOption : int { cdEditable = 1, cdCreateMissing = 2, cdConfirmMissing = 4 };

class TSelectDirDlg : public TModalForm {
    Q_OBJECT
public:
    // Builds every control, reading the current directory; the tree has the
    // focus.
    explicit TSelectDirDlg(QWidget* parent = nullptr);
    ~TSelectDirDlg() override;

    TDirectoryListBox* DirList = nullptr;
    QLineEdit* DirEdit = nullptr;
    TDriveComboBox* DriveList = nullptr;
    TPathLabel* DirLabel = nullptr;
    QPushButton* OKButton = nullptr;
    QPushButton* CancelButton = nullptr;
    QPushButton* HelpButton = nullptr;
    QPushButton* NetButton = nullptr;
    TFileListBox* FileList = nullptr;

    // The answer: the edit's text when typing is allowed, else the path
    // label's caption, which is the tree's open folder.
    std::string AnswerPath() const;
    bool Editable() const { return editable_; }
    // Shows the edit instead of the path label when on.
    void SetEditable(bool on);
    bool ConfirmMissing() const { return confirmMissing_; }
    void SetConfirmMissing(bool on) { confirmMissing_ = on; }
    int HelpContext() const { return helpContext_; }
    void SetHelpContext(int context) { helpContext_ = context; }

    // Opens a non-empty initial folder (made absolute against the current
    // directory); when it cannot be opened the current directory stays open.
    void OpenInitialDirectory(const std::string& directory);
    // Scales the dialog from 96 to `pixelsPerInch` pixels per inch: every
    // control's rectangle, the client size and the font.
    void ScaleTo(int pixelsPerInch);

    // The screen's logical pixels per inch (or the value set for tests).
    static int ScreenPixelsPerInch();
    static void SetPixelsPerInchOverride(std::optional<int> pixelsPerInch);

    // The chooser's handlers.
    void FormCreate();
    void DirListChange();
    void DriveListChange();
    void OKClick();
    void NetClick();
    void HelpButtonClick();

    // Test hooks. SetNextResult scripts the next ChooseDirectory call without
    // showing anything: accepted, it makes `directory` current (as the
    // navigation would have) and returns it; refused, it returns false.
    // SetObserver sees every call's arguments. SetModalScript runs once the
    // real dialog is open in its modal loop (queued, no timer), so a test can
    // work the dialog and close it.
    static void SetNextResult(bool accepted, const std::string& directory = {});
    using Observer = std::function<void(const std::string& directory, int options, int helpCtx)>;
    static void SetObserver(Observer observer);
    static void SetModalScript(std::function<void(TSelectDirDlg&)> script);
    static void ClearTestHooks();

    // The caption labels, for layout checks.
    QLabel* NameCaption = nullptr;
    QLabel* DrivesCaption = nullptr;
    QLabel* DirectoriesCaption = nullptr;
    QLabel* FilesCaption = nullptr;

protected:
    // The first show centres the dialog on the screen by its outer size;
    // when the window manager's frame becomes known in the moments after
    // (it is added once the window is mapped), the dialog is centred again
    // by the real outer size (see TFramePlacement).
    void showEvent(QShowEvent* event) override;

private:

    bool editable_ = false;
    bool confirmMissing_ = false;
    int helpContext_ = 0;
    bool placed_ = false;
    TFramePlacement* placement_ = nullptr;  // owned by the dialog
};

// Runs the chooser modally. `directory` names the folder to open first
// (empty: the current directory) and receives the answer when the user
// presses OK; then answers true. On Cancel or the close box it answers false
// and leaves `directory` alone. A help context of 0 hides the Help button.
// Errors while building or showing the dialog reach the caller after the
// dialog is gone.
bool ChooseDirectory(std::string& directory, int options, int helpCtx);

}  // namespace vantelo
