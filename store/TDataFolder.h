// Which "FileName.mdb" the tool opens. The tool never creates the file in
// the folder it starts in; this decides which file it opens before the
// window and the data module exist:
//   - a start folder that holds "FileName.mdb" is kept, as it always was:
//     the file is opened by its bare name, in the start folder;
//   - otherwise the per-user data folder ($XDG_DATA_HOME/vantelo, by default
//     ~/.local/share/vantelo) is used, by the database's absolute path, and
//     the folder and its database are made from the installed schema when
//     they are missing.
// The process's current directory is never changed for it: the chooser
// opens, and a typed relative folder resolves, where the tool was started.
// Nothing is ever created anywhere but in the data folder, nothing at all
// when the database cannot be made there, and an existing entry named
// "FileName.mdb" is never replaced.
#pragma once

#include <string>
#include <vector>

namespace vantelo {

class TDataFolder {
public:
    // What the decision depends on; FromProcess() reads it from the process.
    struct TPlaces {
        std::string startFolder;           // the folder the tool started in
        std::string xdgDataHome;           // $XDG_DATA_HOME, empty when unset
        std::string home;                  // the user's home folder
        std::vector<std::string> schemas;  // schema files to try, first found wins
    };

    enum class TKind {
        StartFolder,  // the start folder holds the database
        DataFolder,   // the data folder already held the database
        Created,      // the data folder's database was made just now
        Failed,       // no database could be made; the start folder's name stays
    };

    struct TChoice {
        TKind kind = TKind::Failed;
        std::string folder;    // the folder that holds the database
        std::string database;  // what the connection opens: the bare name in the
                               // start folder, else the absolute path in the data folder
        std::string problem;   // what went wrong (Failed only): a path and the system's reason
    };

    static constexpr const char* kDatabaseName = "FileName.mdb";
    static constexpr const char* kFolderName = "vantelo";

    // The per-user data folder: <xdgDataHome>/vantelo when that is an
    // absolute path, else <home>/.local/share/vantelo; empty when neither
    // is an absolute path (a relative $XDG_DATA_HOME is ignored).
    static std::string UserFolder(const std::string& xdgDataHome, const std::string& home);

    // The schema files an executable at `executable` looks for: the installed
    // <bindir>/../share/vantelo/schema.sql, then <dir>/share/vantelo/schema.sql,
    // the copy a build folder keeps beside the program it builds.
    static std::vector<std::string> SchemaCandidates(const std::string& executable);

    // Decides which database the tool opens, making the data folder (mode
    // 0700) and its database when needed. The schema is found before any
    // folder is made, and folders made here are removed again when the
    // database cannot be made in them.
    static TChoice Choose(const TPlaces& places);

    // Makes <folder>/FileName.mdb from the schema file: built under a
    // temporary name and then given its name without replacing anything.
    // Answers an empty text when the database exists afterwards (made here or
    // by a process that won the race), else the problem.
    static std::string CreateDatabase(const std::string& folder, const std::string& schemaPath);

    // The places of this process: "." as start folder, the environment, the
    // password entry's home when $HOME is unset, the schemas of this executable.
    static TPlaces FromProcess();

    // The start-up step: chooses and notes a problem on standard error (the
    // tool then opens the bare name in the start folder and reports the
    // database that will not open as always). Never changes the process's
    // current directory.
    static TChoice ChooseForStart();
};

}  // namespace vantelo
