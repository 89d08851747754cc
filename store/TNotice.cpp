#include "store/TNotice.h"

#include "store/TADOConnection.h"

namespace vantelo {

namespace {

TNoticeHandler& Handler()
{
    static TNoticeHandler handler;
    return handler;
}

}  // namespace

void SetNoticeHandler(TNoticeHandler handler)
{
    Handler() = std::move(handler);
}

void ShowStoreNotice(const std::string& text)
{
    const bool committed = CommitPendingWrites();
    // A copy: the handler may replace itself while its box is open.
    TNoticeHandler handler = Handler();
    if (!handler)
        return;
    if (!committed)
        handler(CommitFailureText());
    handler(text);
}

std::string CommitFailureText()
{
    return TADOConnection::CommitFailure();
}

bool CommitPendingWrites() noexcept
{
    return TADOConnection::CommitAllPendingWrites();
}

}  // namespace vantelo
