// The preview window ("预览"): every listed file's old and new name side by
// side, as the batch's own check found them, each row the batch would refuse
// marked with its reason; a box shows the refused rows alone. "修改文件"
// closes the window with Accepted, and its owner then runs the same batch as
// the main window's button; "关闭" (or Escape) closes it with Rejected. The
// window never changes a file itself.
#pragma once

#include <QDialog>

#include <memory>

class QCheckBox;
class QLabel;
class QPushButton;
class QTableView;

namespace vantelo {

class TPreviewModel;
class TRenamePreview;

class TPreviewForm : public QDialog {
    Q_OBJECT
public:
    // Size of the window at 96 pixels per inch.
    static constexpr int kWidth = 640;
    static constexpr int kHeight = 420;

    TPreviewForm(std::shared_ptr<const TRenamePreview> preview, QWidget* parent);
    // The small link that opens the preview, made on `window` (the main
    // window): right-aligned under its rename button, in the gap above the
    // grid, outside every control's place and out of the tab order.
    static QLabel* MakeLink(QWidget* window);
    ~TPreviewForm() override;

    TPreviewModel& Model() const { return *model_; }
    QTableView* View() const { return view_; }
    QLabel* Summary() const { return summary_; }
    QCheckBox* OnlyRefused() const { return onlyRefused_; }
    QPushButton* RenameButton() const { return rename_; }
    QPushButton* CloseButton() const { return close_; }

private:
    TPreviewModel* model_;
    QLabel* summary_;
    QTableView* view_;
    QCheckBox* onlyRefused_;
    QPushButton* rename_;
    QPushButton* close_;
};

}  // namespace vantelo
