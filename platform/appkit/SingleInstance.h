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
//
// Besides its files, a later start hands over the token the desktop gave it (its startup id on
// X11, its activation token on Wayland), so that the running viewer may come forward with it where
// the desktop keeps windows from taking the focus unasked. The token travels as an entry of the
// path list that does not begin with '/', "name=value": a viewer that knows no such entry drops
// it as a relative path and takes the files all the same, and a start that sends none is served as
// before. A viewer that took the token answers so, and then ends the desktop's feedback for that
// start itself; otherwise the start ends it.
//
// An address named on the command line that is no file here ("https://…") travels the same way,
// as an "address=…" entry, so that the running viewer says it cannot open that address rather
// than a file of that name in its own folder.

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
    // Longest token taken; a longer one, or one with bytes other than printable ASCII, is ignored.
    static constexpr int kMaxTokenBytes = 1024;

    // The desktop's token for one start.
    struct Activation {
        QByteArray startupId;        // DESKTOP_STARTUP_ID (X11)
        QByteArray activationToken;  // XDG_ACTIVATION_TOKEN (Wayland)
        bool isEmpty() const { return startupId.isEmpty() && activationToken.isEmpty(); }
        // The tokens of this start's environment, read before the toolkit takes them out of it;
        // those that are not acceptable tokens are left out.
        static Activation fromEnvironment();
    };
    // Whether `token` may travel: 1 to kMaxTokenBytes bytes of printable ASCII.
    static bool isAcceptableToken(const QByteArray& token);

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
    // As above, with the desktop's token for this start; `activationTaken` (may be null) tells
    // whether the running viewer took the token over, and with it the end of the start's feedback.
    bool handOver(const QStringList& paths, const Activation& activation, bool* activationTaken,
                  int timeoutMs = 2000) const;
    // Becomes the running instance; `received` is called on the main thread with the paths of
    // every later start. False when the socket cannot be made.
    bool listen(std::function<void(const QStringList&)> received);
    // As above, with the token the later start was given (empty when it had none, or is of a
    // version that does not send it).
    bool listen(std::function<void(const QStringList&, const Activation&)> received);
    // What a start became.
    enum class Role { HandedOver, Listening, Alone };
    // Hands the paths over to the running viewer, or becomes it when none runs. Starts made at the
    // same moment (several photos opened one start each) agree on one viewer: a start that found
    // none, then cannot listen because another start began listening meanwhile, hands its paths to
    // that one, waiting up to `startingTimeoutMs` for it to come up. Alone when a viewer is there
    // but did not take them (busy or stopped): the start then runs on its own.
    Role handOverOrListen(const QStringList& paths, const Activation& activation, bool* activationTaken,
                          std::function<void(const QStringList&, const Activation&)> received,
                          int timeoutMs = 2000, int startingTimeoutMs = 10000);
    // Stops listening and removes the socket (also done on destruction); connections still open
    // are closed without calling `received` again, so the receiver may go away after this.
    void stopListening();
    // Connections open now (tests).
    int openConnectionCount() const { return m_openConnections; }

    // The message for these paths (made absolute; addresses "scheme://…" kept as written; empty
    // ones left out) and this token (tokens that are not acceptable left out).
    static QByteArray encodePaths(const QStringList& paths, const Activation& activation = {});
    enum class Message { Complete, Incomplete, Malformed };
    // Reads a message: Complete with the paths (absolute ones and addresses; others dropped) and the token
    // (entries that are unknown or not acceptable dropped), Incomplete while bytes are missing,
    // Malformed for anything that is not such a message.
    static Message decodePaths(const QByteArray& message, QStringList* paths, Activation* activation = nullptr);
    // The folder the socket goes into: $XDG_RUNTIME_DIR when it is an absolute path of a folder
    // owned by this user, closed to others and writable, else <temporary folder>/kestrane-viewer-<uid>
    // (made with mode 0700; refused when it exists but is not a private folder of this user).
    // Empty when neither can be had.
    static QString socketDirectory();
    // The display the viewer runs on, as part of a file name ("wayland-0", "x11-_0", "none").
    static QString displayTag();
    // True when the peer of a connected local socket runs as this user.
    static bool peerIsSameUser(int socketDescriptor);

private:
    void accept(QLocalSocket* socket);
    // handOver that also tells whether a viewer was reached at all.
    bool handOverTo(const QStringList& paths, const Activation& activation, bool* activationTaken, int timeoutMs,
                    bool* reached) const;

    QString m_serverName;
    std::unique_ptr<QLocalServer> m_server;
    std::function<void(const QStringList&, const Activation&)> m_received;
    int m_openConnections = 0;
    bool m_takesActivation = false;
};

} // namespace kpv
