#include "appkit/SingleInstance.h"

#include "foundation/Timer.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QPointer>

#include <cerrno>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kpv {

namespace {
// A message larger than this is not a list of paths; the connection is dropped.
constexpr qint64 kMaxMessageBytes = 4 * 1024 * 1024;

// A folder only this user can enter: a real folder (not a link), owned by us, no group or
// other permissions.
bool isPrivateFolder(const QByteArray& path)
{
    struct stat st {};
    if (::lstat(path.constData(), &st) != 0)
        return false;
    return S_ISDIR(st.st_mode) && st.st_uid == ::getuid() && (st.st_mode & 077) == 0;
}

QString fileNamePart(QString text)
{
    for (QChar& c : text)
        if (!(c.isLetterOrNumber() || c == u'-' || c == u'_' || c == u'.'))
            c = u'_';
    return text.left(64);
}
} // namespace

SingleInstance::SingleInstance(const QString& key)
{
    const QString dir = socketDirectory();
    if (!dir.isEmpty())
        m_serverName = dir + u'/' + fileNamePart(key) + u'-' + displayTag();
}

SingleInstance::~SingleInstance() = default;

QString SingleInstance::socketDirectory()
{
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    if (runtime.startsWith('/') && isPrivateFolder(runtime))
        return QFile::decodeName(runtime);
    QByteArray base = qgetenv("TMPDIR");
    if (!base.startsWith('/') || !QFileInfo(QFile::decodeName(base)).isDir())
        base = "/tmp";
    const QByteArray folder = base + "/kestrane-viewer-" + QByteArray::number(qulonglong(::getuid()));
    if (::mkdir(folder.constData(), 0700) != 0 && errno != EEXIST)
        return {};
    // Someone else may have made the name first: use it only when it is ours and closed.
    return isPrivateFolder(folder) ? QFile::decodeName(folder) : QString();
}

QString SingleInstance::displayTag()
{
    const QByteArray wayland = qgetenv("WAYLAND_DISPLAY");
    if (!wayland.isEmpty())
        return fileNamePart(QStringLiteral("wayland-") + QString::fromLocal8Bit(wayland).section(u'/', -1));
    const QByteArray x11 = qgetenv("DISPLAY");
    if (!x11.isEmpty()) {
        // ":0" and ":0.0" are the same display; a host name in front makes it another.
        QString name = QString::fromLocal8Bit(x11);
        const qsizetype colon = name.lastIndexOf(u':');
        const qsizetype dot = name.indexOf(u'.', colon < 0 ? 0 : colon);
        if (dot > colon && colon >= 0)
            name.truncate(dot);
        return fileNamePart(QStringLiteral("x11-") + name);
    }
    return QStringLiteral("none");
}

bool SingleInstance::peerIsSameUser(int socketDescriptor)
{
    struct ucred cred {};
    socklen_t length = sizeof cred;
    if (socketDescriptor < 0 || ::getsockopt(socketDescriptor, SOL_SOCKET, SO_PEERCRED, &cred, &length) != 0 ||
        length != sizeof cred)
        return false;
    return cred.uid == ::getuid();
}

QByteArray SingleInstance::encodePaths(const QStringList& paths)
{
    QByteArray out;
    for (const QString& p : paths) {
        if (p.isEmpty() || p.contains(QLatin1Char('\n')))
            continue;
        out += QFileInfo(p).absoluteFilePath().toUtf8();
        out += '\n';
    }
    return out;
}

QStringList SingleInstance::decodePaths(const QByteArray& message)
{
    QStringList paths;
    for (const QByteArray& line : message.split('\n')) {
        const QString p = QString::fromUtf8(line);
        if (!p.isEmpty() && QDir::isAbsolutePath(p))
            paths.append(p);
    }
    return paths;
}

bool SingleInstance::handOver(const QStringList& paths, int timeoutMs) const
{
    if (m_serverName.isEmpty())
        return false;
    QLocalSocket socket;
    socket.connectToServer(m_serverName);
    if (!socket.waitForConnected(timeoutMs))
        return false;
    // The listener must be ourselves; another user's socket gets nothing.
    if (!peerIsSameUser(int(socket.socketDescriptor()))) {
        socket.abort();
        return false;
    }
    socket.write(encodePaths(paths));
    socket.flush();
    if (!socket.waitForBytesWritten(timeoutMs) && socket.bytesToWrite() > 0)
        return false;
    socket.disconnectFromServer();
    if (socket.state() != QLocalSocket::UnconnectedState)
        socket.waitForDisconnected(timeoutMs);
    return true;
}

bool SingleInstance::listen(std::function<void(const QStringList&)> received)
{
    if (m_serverName.isEmpty())
        return false;
    m_received = std::move(received);
    m_server = std::make_unique<QLocalServer>();
    // Only this user may connect.
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    m_server->setMaxPendingConnections(kMaxOpenConnections);
    if (!m_server->listen(m_serverName)) {
        // A socket left by a crashed run: nobody answers on it, so it may be replaced.
        QLocalSocket probe;
        probe.connectToServer(m_serverName);
        if (probe.waitForConnected(500))
            return false;
        QLocalServer::removeServer(m_serverName);
        if (!m_server->listen(m_serverName))
            return false;
    }
    QObject::connect(m_server.get(), &QLocalServer::newConnection, m_server.get(), [this] {
        while (QLocalSocket* socket = m_server->nextPendingConnection())
            accept(socket);
    });
    return true;
}

void SingleInstance::stopListening()
{
    if (m_server)
        m_server->close();
}

void SingleInstance::accept(QLocalSocket* socket)
{
    if (m_openConnections >= kMaxOpenConnections || !peerIsSameUser(int(socket->socketDescriptor()))) {
        socket->abort();
        socket->deleteLater();
        return;
    }
    ++m_openConnections;
    QObject::connect(socket, &QObject::destroyed, m_server.get(), [this] { --m_openConnections; });
    auto buffer = std::make_shared<QByteArray>();
    auto done = std::make_shared<bool>(false);
    // Whatever the peer does, the connection ends within the timeout.
    QPointer<QLocalSocket> guard(socket);
    std::shared_ptr<Timer> timer = Timer::scheduled(kConnectionTimeout, false, [guard, done](Timer&) {
        if (guard && !*done) {
            *done = true;
            guard->abort();
            guard->deleteLater();
        }
    });
    QObject::connect(socket, &QLocalSocket::readyRead, socket, [socket, buffer, done] {
        *buffer += socket->readAll();
        if (buffer->size() > kMaxMessageBytes && !*done) {
            *done = true;
            buffer->clear();
            socket->abort();
            socket->deleteLater();
        }
    });
    QObject::connect(socket, &QLocalSocket::disconnected, socket, [this, socket, buffer, done, timer] {
        timer->invalidate();
        if (*done)
            return;
        *done = true;
        *buffer += socket->readAll();
        const QStringList paths = decodePaths(*buffer);
        socket->deleteLater();
        if (m_received)
            m_received(paths);
    });
}

} // namespace kpv
