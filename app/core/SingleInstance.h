#pragma once

// One running instance per user: the running program listens on a local
// socket whose name it stores as "Setting"/"Class Name"; a second start
// connects to that name and asks it to come forward, then ends.
//
// How it works: the caller sends one line, "raise", and waits (bounded) for
// the answer "ok"; only an answer counts as a running instance, so a socket
// file left behind by a crashed instance finds nobody, and the next Listen
// removes it. The listening side emits raiseRequested for each request on its
// own thread's event loop.
//
// The socket lives in a folder only this user can write ($XDG_RUNTIME_DIR,
// else the settings store's 0700 folder), and both sides check the other's
// user id with the kernel (SO_PEERCRED): a socket of another user, or one
// left behind, never makes a start end, and another user's request is
// refused.

#include <QObject>
#include <QString>

class QLocalServer;

class SingleInstance : public QObject {
    Q_OBJECT
public:
    explicit SingleInstance(QObject* parent = nullptr);
    ~SingleInstance() override;

    // The socket path of this user's main window; empty when there is no
    // private folder for it (the program then runs without the check).
    static QString defaultName();

    // Asks the instance listening on `name` to come forward; true when one
    // answered within `timeoutMs`. An empty name finds nobody.
    static bool raiseRunning(const QString& name, int timeoutMs = 2000);

    // Listens on `name`, taking over a name left behind; false while another
    // instance answers on it, or when it cannot.
    bool listen(const QString& name);
    QString serverName() const;

signals:
    void raiseRequested();

private:
    QLocalServer* m_server;
};
