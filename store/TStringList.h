// An ordered list of text lines that tells its owner after every change:
// the SQL text of a query. Every Clear and every Add is one change.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace vantelo {

class TStringList {
public:
    using TChangeEvent = std::function<void()>;

    int Count() const { return static_cast<int>(lines_.size()); }
    const std::string& operator[](int index) const { return lines_[static_cast<size_t>(index)]; }
    // Appends one line, then reports the change.
    void Add(std::string line);
    // Removes every line, then reports the change (also when it was empty).
    void Clear();
    // The lines, each followed by carriage return and line feed; empty for
    // an empty list.
    std::string Text() const;
    // Replaces the lines by text split at line ends ("\r\n", "\n" or "\r"),
    // as one change.
    void SetText(const std::string& text);

    void SetOnChange(TChangeEvent handler) { onChange_ = std::move(handler); }

private:
    void Changed();

    std::vector<std::string> lines_;
    TChangeEvent onChange_;
};

}  // namespace vantelo
