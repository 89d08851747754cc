#include "store/TDataFolder.h"

#include "store/StoreTexts.h"

#include <fcntl.h>
#include <pwd.h>
#include <sqlite3.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace vantelo {

namespace {

std::string Problem(const std::string& path, int error)
{
    return path + ": " + std::strerror(error);
}

bool Absolute(const std::string& path)
{
    return !path.empty() && path.front() == '/';
}

bool EntryExists(const std::string& path)
{
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

// Makes `folder` and any missing parent with mode 0700, as the per-user
// base folders are to be made, and notes in `made` each folder it made,
// outermost first. Answers an empty text or the problem.
std::string MakeFolders(const std::string& folder, std::vector<std::string>& made)
{
    std::string prefix;
    std::size_t at = 0;
    while (at != std::string::npos) {
        const std::size_t next = folder.find('/', at + 1);
        prefix = folder.substr(0, next);
        at = next;
        if (prefix.empty() || prefix.back() == '/')
            continue;
        struct stat st {};
        if (::stat(prefix.c_str(), &st) != 0) {
            if (errno != ENOENT)
                return Problem(prefix, errno);
            if (::mkdir(prefix.c_str(), 0700) == 0)
                made.push_back(prefix);
            else if (errno != EEXIST)
                return Problem(prefix, errno);
            if (::stat(prefix.c_str(), &st) != 0)
                return Problem(prefix, errno);
        }
        if (!S_ISDIR(st.st_mode))
            return Problem(prefix, ENOTDIR);
    }
    return {};
}

// Removes the folders MakeFolders made, innermost first, unless released.
// Only empty ones go: a folder another start filled meanwhile stays.
class TMadeFolders {
public:
    TMadeFolders() = default;
    ~TMadeFolders()
    {
        for (auto folder = made_.rbegin(); folder != made_.rend(); ++folder)
            ::rmdir(folder->c_str());
    }
    TMadeFolders(const TMadeFolders&) = delete;
    TMadeFolders& operator=(const TMadeFolders&) = delete;

    std::vector<std::string>& List() { return made_; }
    void Release() { made_.clear(); }

private:
    std::vector<std::string> made_;
};

// The first of `schemas` that is a regular file, or empty.
std::string FindSchema(const std::vector<std::string>& schemas)
{
    for (const std::string& schema : schemas) {
        struct stat st {};
        if (::stat(schema.c_str(), &st) == 0 && S_ISREG(st.st_mode))
            return schema;
    }
    return {};
}

// Removes the temporary database and its journal unless released.
class TTemporaryDatabase {
public:
    explicit TTemporaryDatabase(std::string path) : path_(std::move(path)) {}
    ~TTemporaryDatabase()
    {
        if (path_.empty())
            return;
        ::unlink(path_.c_str());
        ::unlink((path_ + "-journal").c_str());
    }
    TTemporaryDatabase(const TTemporaryDatabase&) = delete;
    TTemporaryDatabase& operator=(const TTemporaryDatabase&) = delete;

    const std::string& Path() const { return path_; }
    void Release() { path_.clear(); }

private:
    std::string path_;
};

// Runs the schema on the empty database file at `path`.
std::string RunSchema(const std::string& path, const std::string& schema)
{
    sqlite3* db = nullptr;
    const int opened = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
    std::string problem;
    if (opened != SQLITE_OK) {
        problem = path + ": " + (db ? sqlite3_errmsg(db) : sqlite3_errstr(opened));
    } else {
        char* message = nullptr;
        if (sqlite3_exec(db, schema.c_str(), nullptr, nullptr, &message) != SQLITE_OK)
            problem = path + ": " + (message ? message : sqlite3_errmsg(db));
        sqlite3_free(message);
    }
    if (sqlite3_close(db) != SQLITE_OK && problem.empty())
        problem = path + ": " + sqlite3_errmsg(db);
    return problem;
}

// Gives the finished file its name unless that name exists. Answers 0 when
// `to` exists afterwards, made here or by someone else, else errno.
int NameWithoutReplacing(const std::string& from, const std::string& to)
{
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno == EEXIST)
        return 0;
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP)
        return errno;
    // A file system without the no-replace rename: a link never replaces either.
    if (::link(from.c_str(), to.c_str()) == 0 || errno == EEXIST)
        return 0;
    return errno;
}

void SyncFolder(const std::string& folder)
{
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

}  // namespace

std::string TDataFolder::UserFolder(const std::string& xdgDataHome, const std::string& home)
{
    std::string base;
    if (Absolute(xdgDataHome))
        base = xdgDataHome;
    else if (Absolute(home))
        base = home + (home.back() == '/' ? "" : "/") + ".local/share";
    else
        return {};
    while (base.size() > 1 && base.back() == '/')
        base.pop_back();
    return base + (base == "/" ? "" : "/") + kFolderName;
}

std::vector<std::string> TDataFolder::SchemaCandidates(const std::string& executable)
{
    if (executable.empty())
        return {};
    const std::filesystem::path bin = std::filesystem::path(executable).parent_path();
    return {(bin / ".." / "share" / kFolderName / "schema.sql").lexically_normal().string(),
            (bin / "share" / kFolderName / "schema.sql").lexically_normal().string()};
}

TDataFolder::TChoice TDataFolder::Choose(const TPlaces& places)
{
    const std::string start = places.startFolder.empty() ? "." : places.startFolder;
    if (EntryExists(start + "/" + kDatabaseName))
        return {TKind::StartFolder, start, kDatabaseName, {}};
    // Whatever fails below, the start folder's bare name is what the
    // connection tries, and reports, as always.
    const auto failed = [&](std::string problem) {
        return TChoice{TKind::Failed, start, kDatabaseName, std::move(problem)};
    };

    const std::string folder = UserFolder(places.xdgDataHome, places.home);
    if (folder.empty())
        return failed("$HOME: " + std::string(std::strerror(ENOENT)));
    const std::string database = folder + "/" + kDatabaseName;
    if (EntryExists(database))
        return {TKind::DataFolder, folder, database, {}};

    // Nothing is made without a schema to make the database from.
    const std::string schema = FindSchema(places.schemas);
    if (schema.empty())
        return failed(Problem(places.schemas.empty() ? std::string("schema.sql") : places.schemas.front(), ENOENT));
    TMadeFolders made;
    if (std::string problem = MakeFolders(folder, made.List()); !problem.empty())
        return failed(problem);
    // An existing data folder may hold the database after all (made by a
    // start that ran meanwhile): CreateDatabase keeps it.
    if (std::string problem = CreateDatabase(folder, schema); !problem.empty())
        return failed(problem);
    made.Release();
    return {TKind::Created, folder, database, {}};
}

std::string TDataFolder::CreateDatabase(const std::string& folder, const std::string& schemaPath)
{
    std::ifstream in(schemaPath, std::ios::binary);
    if (!in)
        return Problem(schemaPath, errno ? errno : ENOENT);
    std::ostringstream text;
    text << in.rdbuf();
    const std::string schema = text.str();
    if (schema.find_first_not_of(" \t\r\n") == std::string::npos)
        return schemaPath + ": empty schema";

    std::string name = folder + "/." + kDatabaseName + ".XXXXXX";
    const int fd = ::mkstemp(name.data());
    if (fd < 0)
        return Problem(folder, errno);
    ::close(fd);
    TTemporaryDatabase temporary(name);

    if (std::string problem = RunSchema(temporary.Path(), schema); !problem.empty())
        return problem;
    const std::string target = folder + "/" + kDatabaseName;
    if (const int error = NameWithoutReplacing(temporary.Path(), target); error != 0)
        return Problem(target, error);
    // Renamed away, the temporary name is gone; linked, it is removed here.
    if (!EntryExists(temporary.Path()))
        temporary.Release();
    SyncFolder(folder);
    return {};
}

TDataFolder::TPlaces TDataFolder::FromProcess()
{
    TPlaces places;
    places.startFolder.push_back('.');  // the start directory itself
    if (const char* xdg = std::getenv("XDG_DATA_HOME"))
        places.xdgDataHome = xdg;
    if (const char* home = std::getenv("HOME"); home && *home) {
        places.home = home;
    } else if (const passwd* entry = ::getpwuid(::getuid()); entry && entry->pw_dir) {
        places.home = entry->pw_dir;
    }
    std::error_code error;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    places.schemas = SchemaCandidates(error ? std::string() : self.string());
    return places;
}

TDataFolder::TChoice TDataFolder::ChooseForStart()
{
    const TChoice choice = Choose(FromProcess());
    if (choice.kind == TKind::Failed) {
        std::fprintf(stderr, StoreTexts::kDataFolderFailed, choice.problem.c_str());
        std::fputc('\n', stderr);
    }
    return choice;
}

}  // namespace vantelo
