// One window per database. Two starts on one "FileName.mdb" would share its
// list, and the later one would reset the list under the earlier window. So
// the first start on a database holds it: a lock file, held for the
// process's life, and a local socket named after the user and the database,
// both in a folder only the user can enter. A later start on the same
// database finds the lock held, asks the holder over the socket to bring its
// window to the front and ends, before it opens the database or shows
// anything. A holder that crashed releases its lock with its life, so the
// socket it left behind is removed by the next start and never blocks it.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

#include <memory>
#include <string>

#include "platform/TFd.h"

class QLocalServer;
class QLocalSocket;
class QWidget;

namespace vantelo {

class TSingleInstance : public QObject {
    Q_OBJECT
public:
    enum class TRole {
        First,   // holds the database and answers later starts
        Second,  // a running start holds it and was asked to show its window
        Alone,   // no private place for the socket or no socket: runs unchecked
    };

    explicit TSingleInstance(std::string databasePath, QObject* parent = nullptr);
    ~TSingleInstance() override;
    TSingleInstance(const TSingleInstance&) = delete;
    TSingleInstance& operator=(const TSingleInstance&) = delete;

    // The socket of the database at `databasePath` (its lock beside it, with
    // ".lock" added): vantelo-<uid>-<hash of the database's absolute,
    // canonical path> in the folder "vantelo" of $XDG_RUNTIME_DIR when that
    // is the user's own and closed to others, else in "vantelo-<uid>" of
    // the temporary folder. The folder is made (mode 0700) when missing.
    // Empty when no folder of the user's own, closed to others, can be had.
    static QString SocketPath(const std::string& databasePath);

    // Takes this start's role. A later start waits a few seconds at most for
    // the holder's answer: a holder busy beyond that has the request queued
    // and shows its window when it can.
    TRole Start();

    // The window a later start brings to the front; by default the
    // application's main form.
    void SetWindow(QWidget* window) { window_ = window; }

    // The start-up step: true when a running start on the database was asked
    // to show its window and this process is to end. Otherwise the holder
    // stays with the toolkit's application object until the process ends.
    static bool HandOver(const std::string& databasePath);

private:
    bool AskHolder(int timeoutMs);
    void Accept();
    void Answer(QLocalSocket* socket);
    void BringToFront();

    std::string databasePath_;
    QString socketPath_;
    QPointer<QWidget> window_;
    // Declared before the server: the socket goes before the lock is let go,
    // so a start that takes the lock never has its own socket removed.
    TFd lock_;
    std::unique_ptr<QLocalServer> server_;
};

}  // namespace vantelo
