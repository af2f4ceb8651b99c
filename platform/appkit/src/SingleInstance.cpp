#include "appkit/SingleInstance.h"

#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QPointer>
#include <unistd.h>

namespace kpv {

namespace {
// A message larger than this is not a list of paths; the connection is dropped.
constexpr qint64 kMaxMessageBytes = 4 * 1024 * 1024;
} // namespace

SingleInstance::SingleInstance(const QString& key)
    : m_serverName(key + QStringLiteral("-") + QString::number(getuid()))
{
}

SingleInstance::~SingleInstance() = default;

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
    QLocalSocket socket;
    socket.connectToServer(m_serverName);
    if (!socket.waitForConnected(timeoutMs))
        return false;
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
    m_received = std::move(received);
    m_server = std::make_unique<QLocalServer>();
    // Only this user may connect.
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
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
        while (QLocalSocket* socket = m_server->nextPendingConnection()) {
            auto buffer = std::make_shared<QByteArray>();
            QObject::connect(socket, &QLocalSocket::readyRead, socket, [socket, buffer] {
                *buffer += socket->readAll();
                if (buffer->size() > kMaxMessageBytes) {
                    buffer->clear();
                    socket->abort();
                }
            });
            QObject::connect(socket, &QLocalSocket::disconnected, socket, [this, socket, buffer] {
                *buffer += socket->readAll();
                const QStringList paths = decodePaths(*buffer);
                socket->deleteLater();
                if (m_received)
                    m_received(paths);
            });
        }
    });
    return true;
}

} // namespace kpv
