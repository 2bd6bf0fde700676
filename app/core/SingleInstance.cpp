#include "app/core/SingleInstance.h"

#include "platform/log/DialscopeLog.h"
#include "platform/registry/RegistryStore.h"

#include <QLocalServer>
#include <QLocalSocket>

#include <cstdlib>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
constexpr char kRequest[] = "raise\n";
constexpr char kAnswer[] = "ok\n";
constexpr char kSocketFile[] = "/dialscope.socket";

// True when the process at the other end of a connected local socket runs
// as this user (the kernel's word, not the peer's).
bool peerIsUs(qintptr descriptor) {
    ucred credentials{};
    socklen_t length = sizeof credentials;
    if (descriptor < 0 || ::getsockopt(int(descriptor), SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0)
        return false;
    return credentials.uid == ::geteuid();
}

// A folder only this user can change: ours, and no one else may write.
bool isPrivateFolder(const std::string& folder) {
    struct stat st {};
    return !folder.empty() && folder[0] == '/' && ::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode) &&
           st.st_uid == ::geteuid() && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}
} // namespace

SingleInstance::SingleInstance(QObject* parent)
    : QObject(parent)
    , m_server(new QLocalServer(this)) {
    // Only this user may ask the program to come forward.
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    connect(m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = m_server->nextPendingConnection()) {
            if (!peerIsUs(socket->socketDescriptor())) {
                qCWarning(lcApp, "single-instance request from another user refused");
                socket->abort();
                socket->deleteLater();
                continue;
            }
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
                if (!socket->canReadLine())
                    return;
                if (socket->readLine(64) == kRequest) {
                    socket->write(kAnswer);
                    socket->flush();
                    emit raiseRequested();
                }
                socket->disconnectFromServer();
            });
        }
    });
}

SingleInstance::~SingleInstance() = default;

QString SingleInstance::defaultName() {
    // A folder no other user can put a socket into: the session's runtime
    // folder, else the settings store's own 0700 folder. Never a shared
    // folder, where anybody could take the name first.
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && isPrivateFolder(runtime))
        return QString::fromLocal8Bit(runtime) + QLatin1String(kSocketFile);
    const std::string store = RegistryStore::defaultPath(RegistryRoot::CurrentUser);
    const size_t slash = store.rfind('/');
    if (slash != std::string::npos && slash > 0 && isPrivateFolder(store.substr(0, slash)))
        return QString::fromLocal8Bit(store.substr(0, slash)) + QLatin1String(kSocketFile);
    qCWarning(lcApp, "no private folder for the single-instance socket; every start runs on its own");
    return {};
}

bool SingleInstance::raiseRunning(const QString& name, int timeoutMs) {
    if (name.isEmpty())
        return false;
    QLocalSocket socket;
    socket.connectToServer(name);
    if (!socket.waitForConnected(timeoutMs))
        return false;
    // Only an instance of this user counts; anyone else's socket is ignored.
    if (!peerIsUs(socket.socketDescriptor())) {
        qCWarning(lcApp, "%s belongs to another user; ignored", qPrintable(name));
        return false;
    }
    socket.write(kRequest);
    if (!socket.waitForBytesWritten(timeoutMs))
        return false;
    while (!socket.canReadLine()) {
        if (!socket.waitForReadyRead(timeoutMs))
            return false;
    }
    return socket.readLine(64) == kAnswer;
}

bool SingleInstance::listen(const QString& name) {
    // Someone answering on the name keeps it; a socket file left behind by an
    // instance that is gone is removed.
    // Someone else's socket on the name is neither an instance nor a reason
    // to give up the name.
    if (name.isEmpty())
        return false;
    QLocalSocket probe;
    probe.connectToServer(name);
    if (probe.waitForConnected(500) && peerIsUs(probe.socketDescriptor()))
        return false;
    probe.abort();
    QLocalServer::removeServer(name);
    return m_server->listen(name);
}

QString SingleInstance::serverName() const {
    return m_server->serverName();
}
