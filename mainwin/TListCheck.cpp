#include "mainwin/TListCheck.h"

#include <atomic>
#include <thread>

#include <deque>

#include "mainwin/MainTexts.h"
#include "mainwin/TBackgroundWork.h"
#include "mainwin/PreviewTexts.h"
#include "platform/TCodePage.h"
#include "rename/TNameRules.h"
#include "rename/TRenamePreview.h"
#include "store/TADOQuery.h"

namespace vantelo {
namespace {

// How often the window's thread looks whether the worker is done.
constexpr int kPollMilliseconds = 20;

}  // namespace

// Shared by the window and its worker; whichever lets go last frees it.
struct TListCheck::Job {
    std::atomic<bool> done{false};
    std::shared_ptr<TRenamePreview> result;
};

TListCheck::TListCheck(QObject* parent) : QObject(parent)
{
    poll_.setInterval(kPollMilliseconds);
    connect(&poll_, &QTimer::timeout, this, &TListCheck::Poll);
}

TListCheck::~TListCheck() = default;

std::shared_ptr<const TRenamePreview> TListCheck::Result(const Key& key) const
{
    return result_ && key == key_ ? result_ : nullptr;
}

void TListCheck::Keep(const Key& key, std::shared_ptr<const TRenamePreview> result)
{
    key_ = key;
    result_ = std::move(result);
}

void TListCheck::Start(const Key& key, Work work)
{
    if (Result(key) || job_)
        return;
    job_ = std::make_shared<Job>();
    jobKey_ = key;
    std::thread([job = job_, work = std::move(work)] {
        try {
            job->result = work();
        } catch (...) {
            // No result: the tooltips go on without reasons.
        }
        job->done = true;
    }).detach();
    poll_.start();
}

void TListCheck::StartOnLiveRows(const Key& key, TADOConnection* connection, std::optional<TFileIdentity> expected,
                                 std::string database, TFileOps& ops)
{
    if (Running() || !connection)
        return;
    // Each row's name is compared with the grid's before its reason is shown.
    auto names = std::make_shared<std::deque<std::string>>();
    try {
        TADOQuery rows(nullptr, "TipQuery");
        rows.SetConnection(connection);
        rows.SQL().Add(texts::kSelectLiveRows);
        rows.Open();
        while (!rows.Eof()) {
            names->push_back(rows.FieldByName(texts::kFileNameField).AsString());
            rows.Next();
        }
    } catch (...) {
        return;  // the list cannot be read now: tooltips without reasons
    }
    Start(key, [names, key, expected = std::move(expected), database = std::move(database), ops = &ops] {
        auto preview = std::make_shared<TRenamePreview>(database, *ops);
        preview->Run(key.directory, expected ? &*expected : nullptr, *names, key.target, key.replacement);
        return preview;
    });
}

std::shared_ptr<const TRenamePreview> TListCheck::CheckNow(QWidget* owner, const Key& key, std::deque<std::string> names,
                                                       std::optional<TFileIdentity> expected,
                                                       const std::string& database, TFileOps& ops)
{
    // Shared with the worker, which a cancel leaves behind.
    auto shared = std::make_shared<std::deque<std::string>>(std::move(names));
    auto preview = std::make_shared<TRenamePreview>(database, ops);
    TBackgroundWork checking(owner, previewtexts::kChecking, TBackgroundWork::StopPolicy::AbandonWork);
    const TBackgroundWork::Outcome checked =
        checking.Run([preview, shared, key, expected = std::move(expected)](TWorkProgress& progress) {
            progress.Report(0, shared->size(), {});
            preview->Run(key.directory, expected ? &*expected : nullptr, *shared, key.target, key.replacement);
        });
    if (checked != TBackgroundWork::Outcome::Completed)
        return nullptr;
    Keep(key, preview);
    return preview;
}

QString TListCheck::Tip(const Key& key, size_t listRow, const std::string& fileName) const
{
    const std::string newName = ReplaceAllIgnoreCase(fileName, key.target, key.replacement);
    int error = 0;
    if (const auto check = Result(key); check && listRow < check->Count() && check->OldName(listRow) == fileName)
        error = check->Error(listRow);
    QString tip = QString::fromUtf8(previewtexts::kTipNewName) + QString::fromStdU16String(TCodePage::Active().ToWide(newName));
    if (error)
        tip += QLatin1Char('\n') + QString::fromUtf8(previewtexts::kTipRefused) +
               QString::fromStdString(previewtexts::Reason(error));
    return tip;
}

void TListCheck::Poll()
{
    if (!job_ || !job_->done)
        return;
    poll_.stop();
    const std::shared_ptr<Job> job = std::exchange(job_, nullptr);
    if (!job->result)
        return;
    Keep(jobKey_, job->result);
    emit Finished();
}

}  // namespace vantelo
