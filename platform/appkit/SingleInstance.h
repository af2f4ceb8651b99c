#pragma once
// One running viewer per user session. The first start listens on a local socket named after the
// application and the user; a later start sends its file arguments there and exits, and the running
// one receives them. The message is the paths, each made absolute, as UTF-8 lines.

#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

class QLocalServer;

namespace kpv {

class SingleInstance {
public:
    // `key` names the socket (the user's id is added).
    explicit SingleInstance(const QString& key);
    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    QString serverName() const { return m_serverName; }
    // Tries to hand the paths to a running instance; true when one took them (waits at most
    // `timeoutMs` for it to answer).
    bool handOver(const QStringList& paths, int timeoutMs = 2000) const;
    // Becomes the running instance; `received` is called on the main thread with the paths of
    // every later start. False when the socket cannot be made.
    bool listen(std::function<void(const QStringList&)> received);

    static QByteArray encodePaths(const QStringList& paths);
    // Paths of a message; empty lines and lines that are not absolute paths are dropped.
    static QStringList decodePaths(const QByteArray& message);

private:
    QString m_serverName;
    std::unique_ptr<QLocalServer> m_server;
    std::function<void(const QStringList&)> m_received;
};

} // namespace kpv
