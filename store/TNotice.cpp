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
    CommitPendingWrites();
    // A copy: the handler may replace itself while its box is open.
    TNoticeHandler handler = Handler();
    if (handler)
        handler(text);
}

bool CommitPendingWrites() noexcept
{
    return TADOConnection::CommitAllPendingWrites();
}

}  // namespace vantelo
