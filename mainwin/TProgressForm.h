// The progress window of long file work: what is being done, "n / N" with a
// bar, the file being worked on, for large copies a second bar with the
// bytes, and a "取消" button. Fixed size, in the classic look of the message
// box, titled with the application title. It does not run a loop of its
// own: the background-work runner shows it modally and keeps the events
// flowing. "取消", Escape and the close box all ask for a stop; the window
// stays until the runner takes it down.
#pragma once

#include <QDialog>
#include <QPointer>

#include <cstdint>
#include <functional>
#include <string>

#include "jobs/TWorkProgress.h"

class QLabel;
class QProgressBar;
class QPushButton;

namespace vantelo {

class TProgressForm : public QDialog {
    Q_OBJECT
public:
    // Client size in pixels at 96 pixels per inch.
    static constexpr int kClientWidth = 360, kClientHeight = 128;

    // `caption` says what is being done ("正在搜索文件…", UTF-8); the owner
    // is the window the work belongs to, which the form is centred on and
    // kept above (without owning it: the form is its creator's).
    explicit TProgressForm(const std::string& caption, QWidget* owner = nullptr);
    ~TProgressForm() override;

    // Shows a state of the work.
    void ShowProgress(const TWorkProgress::Snapshot& state);
    // A stop was asked for: the button goes grey and the caption says so.
    void ShowStopping();
    bool Stopping() const { return stopping_; }

    // Called, on the window's thread, when the user asks for a stop.
    void SetOnCancel(std::function<void()> onCancel) { onCancel_ = std::move(onCancel); }

    QLabel* CaptionLabel() const { return caption_; }
    QLabel* CountLabel() const { return count_; }
    QLabel* FileLabel() const { return file_; }
    QProgressBar* FilesBar() const { return filesBar_; }
    QLabel* BytesLabel() const { return bytes_; }
    QProgressBar* BytesBar() const { return bytesBar_; }
    QPushButton* CancelButton() const { return cancel_; }

    // "n / N"; only "n" while the total is not known.
    static QString CountText(size_t done, size_t total);
    // "1.5 MB / 3.0 GB": each count in the largest unit that keeps it at 1 or
    // more, with one decimal above bytes.
    static QString BytesText(uint64_t done, uint64_t total);

public slots:
    // Escape: asks for a stop instead of closing.
    void reject() override;

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void Cancel();

    QLabel* caption_ = nullptr;
    QLabel* count_ = nullptr;
    QLabel* file_ = nullptr;
    QProgressBar* filesBar_ = nullptr;
    QLabel* bytes_ = nullptr;
    QProgressBar* bytesBar_ = nullptr;
    QPushButton* cancel_ = nullptr;
    QString currentName_;
    bool stopping_ = false;
    bool placed_ = false;
    QPointer<QWidget> owner_;
    std::function<void()> onCancel_;
};

}  // namespace vantelo
