#include "app/TSingleInstance.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLoggingCategory>
#include <QThread>
#include <QWidget>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>

#include "app/TApplication.h"

namespace vantelo {

namespace {

// Diagnostics of the hand-over, silent unless switched on
// (QT_LOGGING_RULES="vantelo.instance.info=true").
Q_LOGGING_CATEGORY(lcInstance, "vantelo.instance", QtWarningMsg)

// What a later start sends, and what the holder answers once its window
// has been brought to the front.
constexpr char kRequest[] = "show\n";
constexpr char kReply[] = "shown\n";
constexpr qint64 kMaxLine = 16;
// How long a later start keeps trying to reach the holder, and how long it
// waits between tries while the holder is starting or ending.
constexpr int kAskTimeoutMs = 5000;
constexpr int kRetryMs = 20;

// A real folder (no link) of this user's own in which `forbidden` mode bits
// are clear.
bool PrivateFolder(const std::string& path, mode_t forbidden)
{
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() &&
           (st.st_mode & forbidden) == 0;
}

// The folder of the user's sockets, made when missing; empty when there is
// none that only the user can enter.
std::string SocketFolder()
{
    const std::string uid = std::to_string(::geteuid());
    std::string folder;
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && runtime[0] == '/' && PrivateFolder(runtime, S_IWGRP | S_IWOTH))
        folder = std::string(runtime) + "/vantelo";
    else
        folder = QDir::tempPath().toStdString() + "/vantelo-" + uid;
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
        return {};
    return PrivateFolder(folder, 077) ? folder : std::string();
}

// The database's absolute path with every link and "." or ".." resolved
// as far as it exists, so that any two ways of naming it agree.
std::string CanonicalPath(const std::string& path)
{
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(path, error);
    if (error)
        return path;
    const std::filesystem::path canonical = std::filesystem::weakly_canonical(absolute, error);
    return (error ? absolute.lexically_normal() : canonical).string();
}

int Remaining(const QDeadlineTimer& deadline)
{
    return static_cast<int>(std::max<qint64>(deadline.remainingTime(), 0));
}

}  // namespace

TSingleInstance::TSingleInstance(std::string databasePath, QObject* parent)
    : QObject(parent), databasePath_(std::move(databasePath))
{
}

TSingleInstance::~TSingleInstance() = default;

QString TSingleInstance::SocketPath(const std::string& databasePath)
{
    const std::string folder = SocketFolder();
    if (folder.empty())
        return {};
    const QByteArray hash = QCryptographicHash::hash(QByteArray::fromStdString(CanonicalPath(databasePath)),
                                                     QCryptographicHash::Sha256)
                                .toHex()
                                .left(16);
    return QString::fromStdString(folder + "/vantelo-" + std::to_string(::geteuid()) + "-" + hash.toStdString());
}

TSingleInstance::TRole TSingleInstance::Start()
{
    socketPath_ = SocketPath(databasePath_);
    if (socketPath_.isEmpty())
        return TRole::Alone;
    const std::string lockPath = socketPath_.toStdString() + ".lock";
    lock_ = TFd(::open(lockPath.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (lock_.Get() < 0)
        return TRole::Alone;

    const QDeadlineTimer deadline(kAskTimeoutMs);
    for (;;) {
        if (::flock(lock_.Get(), LOCK_EX | LOCK_NB) == 0) {
            // Ours now: a socket still there is one a crashed holder left.
            QLocalServer::removeServer(socketPath_);
            server_ = std::make_unique<QLocalServer>();
            server_->setSocketOptions(QLocalServer::UserAccessOption);
            if (!server_->listen(socketPath_))
                break;
            connect(server_.get(), &QLocalServer::newConnection, this, &TSingleInstance::Accept);
            return TRole::First;
        }
        if (errno != EWOULDBLOCK && errno != EINTR)
            break;
        if (AskHolder(Remaining(deadline)))
            return TRole::Second;
        if (deadline.hasExpired())
            break;
        // The holder is starting (not listening yet) or ending (its socket
        // closed, its lock not yet let go): try again shortly.
        QThread::msleep(kRetryMs);
    }
    // Without a socket no later start could reach this one: let the lock go
    // so that none waits for it.
    server_.reset();
    lock_.Reset();
    return TRole::Alone;
}

bool TSingleInstance::AskHolder(int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    QLocalSocket socket;
    socket.connectToServer(socketPath_);
    if (!socket.waitForConnected(Remaining(deadline)))
        return false;
    socket.write(kRequest);
    while (socket.bytesToWrite() > 0) {
        if (!socket.waitForBytesWritten(Remaining(deadline)))
            return false;
    }
    while (!socket.canReadLine()) {
        if (socket.bytesAvailable() > kMaxLine)
            return false;
        if (!socket.waitForReadyRead(Remaining(deadline))) {
            // A holder still there but busy past the wait has the request
            // queued; one that went away is not holding the database.
            return deadline.hasExpired() && socket.state() == QLocalSocket::ConnectedState;
        }
    }
    return socket.readLine(kMaxLine + 1) == kReply;
}

void TSingleInstance::Accept()
{
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { Answer(socket); });
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        Answer(socket);
    }
}

void TSingleInstance::Answer(QLocalSocket* socket)
{
    if (!socket->canReadLine()) {
        if (socket->bytesAvailable() > kMaxLine) {
            socket->abort();
            socket->deleteLater();
        }
        return;
    }
    if (socket->readLine(kMaxLine + 1) != kRequest) {
        socket->abort();
        socket->deleteLater();
        return;
    }
    qCInfo(lcInstance, "show requested by a later start");
    BringToFront();
    socket->write(kReply);
    socket->flush();
}

void TSingleInstance::BringToFront()
{
    QWidget* window = window_ ? window_.data() : (Application ? Application->MainForm() : nullptr);
    // Not shown yet: it comes up in front on its own.
    if (!window || !window->isVisible())
        return;
    if (window->isMinimized())
        window->setWindowState((window->windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    window->raise();
    window->activateWindow();
    // A modal box open over it stays the one that takes the keys.
    if (QWidget* modal = QApplication::activeModalWidget(); modal && modal != window) {
        modal->raise();
        modal->activateWindow();
    }
}

bool TSingleInstance::HandOver(const std::string& databasePath)
{
    auto instance = std::make_unique<TSingleInstance>(databasePath);
    const TRole role = instance->Start();
    // The holder lives, and holds, as long as the toolkit does.
    if (role == TRole::First)
        instance.release()->setParent(QCoreApplication::instance());
    return role == TRole::Second;
}

}  // namespace vantelo
