#include "store/TADOCommand.h"

#include "store/AdoTexts.h"
#include "store/EDatabaseError.h"
#include "store/TADOConnection.h"
#include "store/TSqliteStatement.h"

namespace vantelo {

namespace {

bool IsNameChar(char c)
{
    // Parameter names are ASCII; the user's locale must not widen them.
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
}

}  // namespace

TADOCommand::TADOCommand(TComponent* owner, std::string name)
    : TComponent(owner, std::move(name)), commandTextAlias_(AdoTexts::kCommandTextProperty)
{
}

TADOCommand::~TADOCommand()
{
    SetConnection(nullptr);
}

void TADOCommand::SetConnection(TADOConnection* connection)
{
    if (connection == connection_)
        return;
    if (connection_) {
        connection_->UnRegisterClient(this);
        if (activeConnection_ == connection_)
            activeConnection_ = nullptr;
    }
    connection_ = connection;
    if (connection_)
        connection_->RegisterClient(this, [this](bool connecting) {
            // A dropped connection is no longer the command's.
            if (!connecting)
                activeConnection_ = nullptr;
        });
}

void TADOCommand::Attach()
{
    if (activeConnection_)
        return;
    if (!connectionString_.empty()) {
        if (!ownConnection_)
            ownConnection_ = std::make_unique<TADOConnection>();
        ownConnection_->SetConnectionString(connectionString_);
        ownConnection_->CheckActive();
        activeConnection_ = ownConnection_.get();
    } else if (!connection_) {
        throw EDatabaseError(AdoTexts::kMissingConnection);
    } else {
        connection_->CheckActive();
        activeConnection_ = connection_;
    }
}

void TADOCommand::SetConnectionFlag(TConnectionUse use, bool on)
{
    const auto bit = static_cast<unsigned>(use);
    if (on) {
        if (flags_ == 0)
            Attach();
        flags_ |= bit;
        return;
    }
    if ((flags_ & bit) == 0)
        return;
    flags_ &= ~bit;
    if (flags_ != 0)
        return;
    if (TADOConnection* connection = activeConnection_ ? activeConnection_ : connection_)
        connection->CheckDisconnect();
}

void TADOCommand::SetCommandText(std::string text)
{
    if (text == commandText_)
        return;
    commandText_ = std::move(text);
    if (commandType_ == TCommandType::cmdText && !commandText_.empty() && paramCheck_) {
        std::vector<std::string> names;
        engineText_ = ScanParameters(commandText_, &names);
        if (connection_ || !connectionString_.empty()) {
            // Asking the engine about the statement connects a connection
            // that is not yet made; whatever fails here is dropped, the open
            // tries again and reports.
            try {
                SetConnectionFlag(TConnectionUse::Parameters, true);
                try {
                    TSqliteStatement(activeConnection_->Handle(), engineText_);
                } catch (...) {
                }
                SetConnectionFlag(TConnectionUse::Parameters, false);
            } catch (...) {
                flags_ &= ~static_cast<unsigned>(TConnectionUse::Parameters);
            }
        }
        if (!names.empty())
            parameters_ = std::move(names);
    } else {
        engineText_ = commandText_;
        parameters_.clear();
    }
}

std::string TADOCommand::ScanParameters(std::string_view text, std::vector<std::string>* names)
{
    std::string out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        const char c = text[i];
        if (c == '\'' || c == '"' || c == '`' || c == '[') {
            // A quoted literal or name, copied as it stands ('' and "" inside).
            const char close = c == '[' ? ']' : c;
            size_t end = i + 1;
            while (end < text.size()) {
                if (text[end] == close) {
                    if (close != ']' && end + 1 < text.size() && text[end + 1] == close) {
                        end += 2;
                        continue;
                    }
                    break;
                }
                ++end;
            }
            end = end < text.size() ? end + 1 : end;
            out.append(text.substr(i, end - i));
            i = end;
        } else if (c == '-' && i + 1 < text.size() && text[i + 1] == '-') {
            const size_t end = text.find('\n', i);
            const size_t stop = end == std::string_view::npos ? text.size() : end;
            out.append(text.substr(i, stop - i));
            i = stop;
        } else if (c == '/' && i + 1 < text.size() && text[i + 1] == '*') {
            const size_t end = text.find("*/", i + 2);
            const size_t stop = end == std::string_view::npos ? text.size() : end + 2;
            out.append(text.substr(i, stop - i));
            i = stop;
        } else if (c == ':' && i + 1 < text.size() && text[i + 1] == ':') {
            // "::" is no marker.
            out.append("::");
            i += 2;
        } else if (c == ':' && i + 1 < text.size() && IsNameChar(text[i + 1]) &&
                   (i == 0 || !IsNameChar(text[i - 1]))) {
            size_t end = i + 1;
            while (end < text.size() && IsNameChar(text[end]))
                ++end;
            if (names)
                names->emplace_back(text.substr(i + 1, end - i - 1));
            out.push_back('?');
            i = end;
        } else {
            out.push_back(c);
            ++i;
        }
    }
    return out;
}

}  // namespace vantelo
