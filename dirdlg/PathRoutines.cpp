#include "dirdlg/PathRoutines.h"

#include <QFont>
#include <QFontMetrics>

#include "platform/TCodePage.h"
#include "platform/TCurrentDirectory.h"
#include "platform/TDrives.h"

namespace vantelo {

std::string JoinPath(const std::string& path, const std::string& name)
{
    if (!path.empty() && path.back() == '/')
        return path + name;
    return path + "/" + name;
}

int FolderDepth(const std::string& path)
{
    const TCodePage& codePage = TCodePage::Active();
    int depth = 0;
    for (size_t i = 0; i < path.size(); i += codePage.CharLength(path, i))
        if (path[i] == '/')
            ++depth;
    return depth;
}

namespace {

// Sets the current directory back to `saved` when it goes out of scope, if
// that folder still exists. Neither this nor the checks before it count as
// visits to a folder of a drive (TCurrentDirectory::SetTemporarily).
class TCurrentDirectoryRestorer {
public:
    explicit TCurrentDirectoryRestorer(std::string saved) : saved_(std::move(saved)) {}
    ~TCurrentDirectoryRestorer()
    {
        try {
            // Not where a mount has stopped answering: that would hang here.
            if (TDrives::Answers(saved_) && TCurrentDirectory::DirectoryExists(saved_))
                TCurrentDirectory::SetTemporarily(saved_);
        } catch (...) {
            // Nothing sensible to do: the error that brought us here goes on.
        }
    }
    TCurrentDirectoryRestorer(const TCurrentDirectoryRestorer&) = delete;
    TCurrentDirectoryRestorer& operator=(const TCurrentDirectoryRestorer&) = delete;

private:
    std::string saved_;
};

size_t LastSlash(const std::string& text)
{
    return TCodePage::Active().FindLastChar(text, '/');
}

}  // namespace

TTypedPath SplitTypedPath(const std::string& text)
{
    const std::string saved = TCurrentDirectory::GetOrNearestParent();
    TTypedPath result;
    result.folder = text;
    if (text.size() >= 2 && text.front() == '[' && text.back() == ']')
        result.folder = text.substr(1, text.size() - 2);

    TCurrentDirectoryRestorer restorer(saved);
    const size_t slash = LastSlash(result.folder);
    result.file = slash == std::string::npos ? result.folder : result.folder.substr(slash + 1);
    if (slash == 0)
        result.folder = std::string(1, '/');
    else if (slash != std::string::npos)
        result.folder.resize(slash);
    else
        result.folder = saved;

    if (!result.folder.empty())
        TCurrentDirectory::SetTemporarily(result.folder);
    // The last name joins the folder when it names a folder, whatever its
    // characters ("*" and "?" are legal in names here); otherwise it is a
    // pattern when it has one of them, a file when it names one, and a
    // folder to enter (which raises its error) in any other case.
    const bool pattern = result.file.find_first_of("*?") != std::string::npos;
    if (!result.file.empty() &&
        (TCurrentDirectory::DirectoryExists(result.file) || (!pattern && !TCurrentDirectory::FileExists(result.file)))) {
        TCurrentDirectory::SetTemporarily(result.file);
        result.folder = JoinPath(result.folder, result.file);
        result.file.clear();
    }
    const std::string absolute = !result.folder.empty() && result.folder[0] == '/' ? result.folder
                                                                                    : JoinPath(saved, result.folder);
    result.drive = TDrives::DriveOf(absolute);
    return result;
}

QString ToDisplay(const std::string& narrow)
{
    return QString::fromStdU16String(TCodePage::Active().ToWide(narrow));
}

std::string FromDisplay(const QString& text)
{
    return TCodePage::Active().ToNarrow(text.toStdU16String());
}

int TextRowHeight(const QFont& font)
{
    return QFontMetrics(font).height();
}

}  // namespace vantelo
