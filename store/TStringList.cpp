#include "store/TStringList.h"

namespace vantelo {

void TStringList::Changed()
{
    if (onChange_)
        onChange_();
}

void TStringList::Add(std::string line)
{
    lines_.push_back(std::move(line));
    Changed();
}

void TStringList::Clear()
{
    lines_.clear();
    Changed();
}

std::string TStringList::Text() const
{
    std::string text;
    for (const std::string& line : lines_) {
        text += line;
        text += "\r\n";
    }
    return text;
}

void TStringList::SetText(const std::string& text)
{
    lines_.clear();
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find_first_of("\r\n", start);
        if (end == std::string::npos)
            end = text.size();
        lines_.push_back(text.substr(start, end - start));
        if (end < text.size() && text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n')
            ++end;
        start = end + 1;
    }
    Changed();
}

}  // namespace vantelo
