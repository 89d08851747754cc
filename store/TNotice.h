// How the store reaches the user without knowing the user interface: the
// application installs a handler (its message box) at start-up, and the
// store shows its notices through it. Before anything is shown, the posts
// a batch has not yet committed are committed, so that what a box reports
// never hides unwritten rows. The message boxes themselves never commit: the
// handlers' batches do.
#pragma once

#include <functional>
#include <string>

namespace vantelo {

using TNoticeHandler = std::function<void(const std::string& text)>;

// Replaces the handler (null: notices are dropped).
void SetNoticeHandler(TNoticeHandler handler);
// Commits pending writes, then shows text through the handler, if any. A
// commit that failed is shown first, with the engine's text.
void ShowStoreNotice(const std::string& text);
// Commits the open batch transaction of every connection. Answers false
// when a commit failed (that batch's uncommitted rows were rolled back;
// CommitFailureText() says why). Never raises.
[[nodiscard]] bool CommitPendingWrites() noexcept;
// The engine's text for the last commit that failed.
std::string CommitFailureText();

}  // namespace vantelo
