#include "mainwin/TListCheck.h"

#include <atomic>
#include <thread>

#include "rename/TRenamePreview.h"

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
