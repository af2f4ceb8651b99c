#pragma once
// One running viewer per user and display. The first start listens on a local socket; a later
// start on the same display sends its file arguments there and exits, and the running one receives
// them. The message carries the paths, each made absolute, as their file-name bytes with a length
// in front of each, so a name may hold any byte (a new line, bytes that are not UTF-8). The running
// viewer answers once it has the whole message; without that answer (it is busy, or quitting) the
// later start knows its files were not taken and opens them itself. From the moment a quit is
// asked for (a termination signal, whose own handling runs later), nothing more is taken.
//
// The socket lives in the user's runtime folder ($XDG_RUNTIME_DIR), or else in a private folder
// (mode 0700, owned by the user) inside the temporary folder, never directly in a folder others
// can write. Both sides check the other's user id on the connection before trusting it: paths are
// never handed to, nor taken from, another user. A connection that does not deliver its message
// within a second is dropped, and only a few may be open at once, so idle connections cannot
// exhaust the viewer's file descriptors.

#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

class QLocalServer;
class QLocalSocket;

namespace kpv {

class SingleInstance {
public:
    // Seconds a connection may stay open before its message is complete.
    static constexpr double kConnectionTimeout = 1.0;
    // Connections served at once; more are closed at once.
    static constexpr int kMaxOpenConnections = 16;

    // `key` names the socket; the display is added, so a start on another display runs there.
    explicit SingleInstance(const QString& key);
    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    // The socket's full path; empty when no private folder could be found or made (the viewer
    // then runs on its own, without handing over or listening).
    QString serverName() const { return m_serverName; }
    // Tries to hand the paths to a running instance of this user; true only when one confirmed it
    // took them all (waits at most `timeoutMs` for each step).
    bool handOver(const QStringList& paths, int timeoutMs = 2000) const;
    // Becomes the running instance; `received` is called on the main thread with the paths of
    // every later start. False when the socket cannot be made.
    bool listen(std::function<void(const QStringList&)> received);
    // Stops listening and removes the socket (also done on destruction); connections still open
    // are closed without calling `received` again, so the receiver may go away after this.
    void stopListening();
    // Connections open now (tests).
    int openConnectionCount() const { return m_openConnections; }

    // The message for these paths (made absolute; empty ones left out).
    static QByteArray encodePaths(const QStringList& paths);
    enum class Message { Complete, Incomplete, Malformed };
    // Reads a message: Complete with the paths (those that are not absolute dropped), Incomplete
    // while bytes are missing, Malformed for anything that is not such a message.
    static Message decodePaths(const QByteArray& message, QStringList* paths);
    // The folder the socket goes into: $XDG_RUNTIME_DIR when it is an absolute path of a folder
    // owned by this user and closed to others, else <temporary folder>/kestrane-viewer-<uid>
    // (made with mode 0700; refused when it exists but is not a private folder of this user).
    // Empty when neither can be had.
    static QString socketDirectory();
    // The display the viewer runs on, as part of a file name ("wayland-0", "x11-_0", "none").
    static QString displayTag();
    // True when the peer of a connected local socket runs as this user.
    static bool peerIsSameUser(int socketDescriptor);

private:
    void accept(QLocalSocket* socket);

    QString m_serverName;
    std::unique_ptr<QLocalServer> m_server;
    std::function<void(const QStringList&)> m_received;
    int m_openConnections = 0;
};

} // namespace kpv
