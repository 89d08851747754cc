// One window per database: the real binary, started twice on one database,
// ends the second start at once and has the first window shown; a socket
// left by a crashed start blocks nothing; two databases run side by side.
// In process: a request un-minimizes and raises the window and is answered.
#include <gtest/gtest.h>

#include <QLocalSocket>
#include <QProcess>
#include <QTest>
#include <QWidget>

#include <sqlite3.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>

#include "app/TSingleInstance.h"
#include "support/TTempDir.h"

using namespace vantelo;

namespace {

constexpr int kWaitMs = 30000;  // a bound for a start on a busy machine, not a speed

// Temporary XDG folders for this process and the tool it starts, and start
// folders holding a fresh "FileName.mdb" each.
class Places {
public:
    Places()
    {
        for (const char* name : {"run", "data", "state", "config", "cache", "home"})
            ::mkdir((dir_ / name).c_str(), 0700);
        ::setenv("XDG_RUNTIME_DIR", (dir_ / "run").c_str(), 1);
        ::setenv("XDG_DATA_HOME", (dir_ / "data").c_str(), 1);
        ::setenv("XDG_STATE_HOME", (dir_ / "state").c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", (dir_ / "config").c_str(), 1);
        ::setenv("XDG_CACHE_HOME", (dir_ / "cache").c_str(), 1);
        ::setenv("HOME", (dir_ / "home").c_str(), 1);
    }

    // A start folder `name` with its database; answers the folder.
    std::string StartFolder(const std::string& name) const
    {
        const std::string folder = dir_ / name;
        ::mkdir(folder.c_str(), 0700);
        const std::string schema = std::string(std::getenv("VANTELO_SOURCE_DIR")) + "/resources/schema.sql";
        sqlite3* db = nullptr;
        EXPECT_EQ(sqlite3_open((folder + "/FileName.mdb").c_str(), &db), SQLITE_OK);
        std::ifstream in(schema);
        const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        EXPECT_FALSE(text.empty()) << schema;
        EXPECT_EQ(sqlite3_exec(db, text.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
        sqlite3_close(db);
        return folder;
    }

    std::string operator/(const std::string& name) const { return dir_ / name; }

private:
    test::TTempDir dir_;
};

// The tool running in a start folder, stopped at the end of the test.
class Tool {
public:
    explicit Tool(const std::string& folder)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        environment.insert("QT_LOGGING_RULES", "vantelo.instance.info=true");
        process_.setProcessEnvironment(environment);
        process_.setWorkingDirectory(QString::fromStdString(folder));
        process_.start(QString::fromStdString(std::string(std::getenv("VANTELO_BINARY_DIR")) + "/vantelo"), {});
        EXPECT_TRUE(process_.waitForStarted(kWaitMs));
    }
    ~Tool()
    {
        if (process_.state() == QProcess::NotRunning)
            return;
        process_.terminate();
        if (!process_.waitForFinished(kWaitMs))
            process_.kill();
        process_.waitForFinished(kWaitMs);
    }

    QProcess& Process() { return process_; }
    bool Running() const { return process_.state() == QProcess::Running; }
    // Everything written to standard error so far.
    const QByteArray& Errors()
    {
        errors_ += process_.readAllStandardError();
        return errors_;
    }

private:
    QProcess process_;
    QByteArray errors_;
};

// Whether the holder of the database answers a request to show its window.
bool Answers(const QString& socketPath)
{
    QLocalSocket socket;
    socket.connectToServer(socketPath);
    if (!socket.waitForConnected(1000))
        return false;
    socket.write("show\n");
    return QTest::qWaitFor(
               [&] { return socket.canReadLine() || socket.state() != QLocalSocket::ConnectedState; }, kWaitMs) &&
           socket.readLine() == "shown\n";
}

bool AnswersSoon(const QString& socketPath, Tool& tool)
{
    return QTest::qWaitFor([&] { return !tool.Running() || Answers(socketPath); }, kWaitMs) && tool.Running();
}

std::string Database(const std::string& folder) { return folder + "/FileName.mdb"; }

TEST(SingleInstance, SecondStartOnTheSameDatabaseShowsTheFirstWindowAndEnds)
{
    Places places;
    const std::string folder = places.StartFolder("photos");
    Tool first(folder);
    ASSERT_TRUE(AnswersSoon(TSingleInstance::SocketPath(Database(folder)), first));
    const int requests = first.Errors().count("show requested");

    Tool second(folder);
    ASSERT_TRUE(second.Process().waitForFinished(kWaitMs));
    EXPECT_EQ(second.Process().exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.Process().exitCode(), 0);
    EXPECT_TRUE(first.Running());
    EXPECT_TRUE(QTest::qWaitFor([&] { return first.Errors().count("show requested") == requests + 1; }, kWaitMs));
}

TEST(SingleInstance, SocketLeftByACrashedStartDoesNotBlockAStart)
{
    Places places;
    const std::string folder = places.StartFolder("photos");
    const QString path = TSingleInstance::SocketPath(Database(folder));
    ASSERT_FALSE(path.isEmpty());
    // A socket nobody listens on any more, and its unlocked lock file.
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    path.toStdString().copy(address.sun_path, sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ::close(fd);
    std::ofstream(path.toStdString() + ".lock").put('\n');

    Tool tool(folder);
    EXPECT_TRUE(AnswersSoon(path, tool));
}

TEST(SingleInstance, DifferentDatabasesRunSideBySide)
{
    Places places;
    const std::string photos = places.StartFolder("photos"), music = places.StartFolder("music");
    const QString photosSocket = TSingleInstance::SocketPath(Database(photos));
    const QString musicSocket = TSingleInstance::SocketPath(Database(music));
    EXPECT_NE(photosSocket, musicSocket);
    // The same database named another way is the same database.
    EXPECT_EQ(TSingleInstance::SocketPath(places / "music/../photos/./FileName.mdb"), photosSocket);
    Tool first(photos);
    ASSERT_TRUE(AnswersSoon(photosSocket, first));
    Tool second(music);
    EXPECT_TRUE(AnswersSoon(musicSocket, second));
    EXPECT_TRUE(first.Running());
}

TEST(SingleInstance, RequestBringsTheMinimizedWindowBackAndIsAnswered)
{
    Places places;
    const std::string database = Database(places.StartFolder("photos"));
    TSingleInstance holder(database);
    ASSERT_EQ(holder.Start(), TSingleInstance::TRole::First);
    QWidget window;
    window.show();
    window.setWindowState(Qt::WindowMinimized);
    holder.SetWindow(&window);

    QLocalSocket socket;
    socket.connectToServer(TSingleInstance::SocketPath(database));
    ASSERT_TRUE(socket.waitForConnected(kWaitMs));
    socket.write("show\n");
    socket.flush();
    ASSERT_TRUE(QTest::qWaitFor([&] { return socket.canReadLine(); }, kWaitMs));
    EXPECT_EQ(socket.readLine(), "shown\n");
    EXPECT_FALSE(window.isMinimized());
    EXPECT_TRUE(window.isVisible());

    // Anything else is hung up on, unanswered.
    QLocalSocket stranger;
    stranger.connectToServer(TSingleInstance::SocketPath(database));
    ASSERT_TRUE(stranger.waitForConnected(kWaitMs));
    stranger.write("rm -rf\n");
    stranger.flush();
    EXPECT_TRUE(QTest::qWaitFor([&] { return stranger.state() == QLocalSocket::UnconnectedState; }, kWaitMs));
    EXPECT_FALSE(stranger.canReadLine());
}

}  // namespace
