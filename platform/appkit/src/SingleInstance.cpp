#include "appkit/SingleInstance.h"

#include "foundation/FileNames.h"
#include "foundation/TerminationSignals.h"
#include "foundation/Timer.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QPointer>
#include <QRegularExpression>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kpv {

namespace {
// A message larger than this is not a list of paths; the connection is dropped.
constexpr qint64 kMaxMessageBytes = 4 * 1024 * 1024;
constexpr quint32 kMaxPathBytes = 64 * 1024;
// The start of every message and the running viewer's answer once it has one whole.
constexpr char kMagic[] = "KPVOPEN1";
constexpr char kAnswer[] = "TAKEN";
// The answer of a viewer that took the start's token too, and so ends the start's feedback.
constexpr char kAnswerWithActivation[] = "TAKEN+ACTIVATION";
// The entries that carry the desktop's tokens.
constexpr char kStartupIdField[] = "startup-id=";
constexpr char kActivationTokenField[] = "activation-token=";
// The entry that carries an address named on the command line that is no file of this computer
// ("https://…", "file://otherhost/…"): the running viewer tells the user it cannot open it, in the
// words it was typed in, instead of a file of that name in its own folder.
constexpr char kAddressField[] = "address=";

// "scheme://" at the start (RFC 3986 3.1): what a later start hands over unchanged.
bool isAddress(const QString& entry)
{
    static const QRegularExpression scheme(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]*://"));
    return scheme.match(entry).hasMatch();
}

void appendLength(QByteArray* out, quint32 value)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        *out += char((value >> shift) & 0xFF);
}

bool readLength(const QByteArray& in, qsizetype* at, quint32* value)
{
    if (in.size() - *at < 4)
        return false;
    quint32 v = 0;
    for (int i = 0; i < 4; ++i)
        v = (v << 8) | uchar(in.at(*at + i));
    *at += 4;
    *value = v;
    return true;
}

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

SingleInstance::~SingleInstance()
{
    stopListening();
}

QString SingleInstance::socketDirectory()
{
    // The runtime folder must take the socket too: one that is read-only (a session set up
    // wrongly, a full or read-only volume) would leave every start without a running viewer to
    // find, each opening a window of its own. Every start of the session sees the same folder
    // and so chooses the same place.
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    if (runtime.startsWith('/') && isPrivateFolder(runtime) && ::access(runtime.constData(), W_OK | X_OK) == 0)
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

bool SingleInstance::isAcceptableToken(const QByteArray& token)
{
    if (token.isEmpty() || token.size() > kMaxTokenBytes)
        return false;
    return std::all_of(token.begin(), token.end(), [](char c) { return c >= 0x20 && c <= 0x7E; });
}

SingleInstance::Activation SingleInstance::Activation::fromEnvironment()
{
    Activation activation;
    if (const QByteArray id = qgetenv("DESKTOP_STARTUP_ID"); isAcceptableToken(id))
        activation.startupId = id;
    if (const QByteArray token = qgetenv("XDG_ACTIVATION_TOKEN"); isAcceptableToken(token))
        activation.activationToken = token;
    return activation;
}

QByteArray SingleInstance::encodePaths(const QStringList& paths, const Activation& activation)
{
    QList<QByteArray> names;
    for (const QString& p : paths)
        if (p.isEmpty())
            continue;
        else if (QDir::isAbsolutePath(p))
            names << encodeFileName(QDir::cleanPath(p));
        else if (isAddress(p))
            names << kAddressField + p.toUtf8();
        // A relative name is made whole from the current folder. Where that folder was removed
        // it cannot be: the name is left out (the start tells it itself) rather than sent empty,
        // which the viewer would refuse with every other file of the start.
        else if (const QString whole = QFileInfo(p).absoluteFilePath(); QDir::isAbsolutePath(whole))
            names << encodeFileName(whole);
    if (isAcceptableToken(activation.startupId))
        names << kStartupIdField + activation.startupId;
    if (isAcceptableToken(activation.activationToken))
        names << kActivationTokenField + activation.activationToken;
    QByteArray out(kMagic);
    appendLength(&out, quint32(names.size()));
    for (const QByteArray& name : names) {
        appendLength(&out, quint32(name.size()));
        out += name;
    }
    return out;
}

SingleInstance::Message SingleInstance::decodePaths(const QByteArray& message, QStringList* paths,
                                                    Activation* activation)
{
    const qsizetype head = qsizetype(sizeof kMagic) - 1;
    if (!message.startsWith(QByteArray(kMagic).left(std::min(head, message.size()))))
        return Message::Malformed;
    qsizetype at = head;
    quint32 count = 0;
    if (!readLength(message, &at, &count))
        return Message::Incomplete;
    QStringList out;
    Activation token;
    // A token entry: the first acceptable one of its name counts.
    const auto takeField = [](const QByteArray& entry, const char* name, QByteArray* value) {
        if (!entry.startsWith(name))
            return false;
        const QByteArray v = entry.mid(qsizetype(std::strlen(name)));
        if (value->isEmpty() && isAcceptableToken(v))
            *value = v;
        return true;
    };
    for (quint32 i = 0; i < count; ++i) {
        quint32 length = 0;
        if (!readLength(message, &at, &length))
            return Message::Incomplete;
        if (length == 0 || length > kMaxPathBytes)
            return Message::Malformed;
        if (message.size() - at < qsizetype(length))
            return Message::Incomplete;
        const QByteArray entry = message.mid(at, length);
        at += length;
        if (entry.startsWith('/')) {
            out << decodeFileName(entry);
        } else if (entry.startsWith(kAddressField)) {
            const QString address = QString::fromUtf8(entry.mid(qsizetype(std::strlen(kAddressField))));
            if (isAddress(address))
                out << address;
        } else if (!takeField(entry, kStartupIdField, &token.startupId)) {
            takeField(entry, kActivationTokenField, &token.activationToken);
        }
    }
    if (at != message.size())
        return Message::Malformed;
    if (paths)
        *paths = out;
    if (activation)
        *activation = token;
    return Message::Complete;
}

bool SingleInstance::handOver(const QStringList& paths, int timeoutMs) const
{
    return handOver(paths, {}, nullptr, timeoutMs);
}

bool SingleInstance::handOver(const QStringList& paths, const Activation& activation, bool* activationTaken,
                              int timeoutMs) const
{
    return handOverTo(paths, activation, activationTaken, timeoutMs, nullptr);
}

SingleInstance::Role SingleInstance::handOverOrListen(const QStringList& paths, const Activation& activation,
                                                      bool* activationTaken,
                                                      std::function<void(const QStringList&, const Activation&)> received,
                                                      int timeoutMs, int startingTimeoutMs)
{
    bool reached = false;
    if (handOverTo(paths, activation, activationTaken, timeoutMs, &reached))
        return Role::HandedOver;
    if (listen(std::move(received)))
        return Role::Listening;
    // Nobody listened a moment ago, and somebody does now: a start made at the same time as this
    // one, still building its window. It answers once it is up.
    if (!reached && handOverTo(paths, activation, activationTaken, startingTimeoutMs, nullptr))
        return Role::HandedOver;
    return Role::Alone;
}

bool SingleInstance::handOverTo(const QStringList& paths, const Activation& activation, bool* activationTaken,
                                int timeoutMs, bool* reached) const
{
    if (activationTaken)
        *activationTaken = false;
    if (reached)
        *reached = false;
    if (m_serverName.isEmpty())
        return false;
    QLocalSocket socket;
    socket.connectToServer(m_serverName);
    if (!socket.waitForConnected(timeoutMs))
        return false;
    if (reached)
        *reached = true;
    // The listener must be ourselves; another user's socket gets nothing.
    if (!peerIsSameUser(int(socket.socketDescriptor()))) {
        socket.abort();
        return false;
    }
    socket.write(encodePaths(paths, activation));
    socket.flush();
    while (socket.bytesToWrite() > 0)
        if (!socket.waitForBytesWritten(timeoutMs))
            return false;
    // Taken only when the viewer says so: a busy one closes the connection instead. A viewer that
    // knows no tokens answers the short way and closes.
    QByteArray answer;
    while (answer.size() < qsizetype(sizeof kAnswerWithActivation) - 1) {
        if (socket.bytesAvailable() == 0 && !socket.waitForReadyRead(timeoutMs))
            break;
        answer += socket.readAll();
    }
    socket.abort();
    if (answer == kAnswerWithActivation) {
        if (activationTaken)
            *activationTaken = true;
        return true;
    }
    return answer == kAnswer;
}

bool SingleInstance::listen(std::function<void(const QStringList&)> received)
{
    std::function<void(const QStringList&, const Activation&)> withoutTokens;
    if (received)
        withoutTokens = [received = std::move(received)](const QStringList& paths, const Activation&) { received(paths); };
    const bool listening = listen(std::move(withoutTokens));
    // Tokens are not taken over here: the later start ends its own feedback.
    m_takesActivation = false;
    return listening;
}

bool SingleInstance::listen(std::function<void(const QStringList&, const Activation&)> received)
{
    if (m_serverName.isEmpty())
        return false;
    m_received = std::move(received);
    m_takesActivation = true;
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
    m_received = nullptr;
    if (!m_server)
        return;
    m_server->close();
    // Open connections end here, quietly: their handlers refer to the receiver, which may be
    // about to go away.
    for (QLocalSocket* socket : m_server->findChildren<QLocalSocket*>()) {
        QObject::disconnect(socket, nullptr, nullptr, nullptr);
        socket->abort();
        delete socket;
    }
    m_openConnections = 0;
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
    auto finish = [this, socket, buffer, done, timer] {
        QStringList paths;
        Activation activation;
        const Message state = decodePaths(*buffer, &paths, m_takesActivation ? &activation : nullptr);
        if (state == Message::Incomplete && buffer->size() <= kMaxMessageBytes)
            return;
        *done = true;
        timer->invalidate();
        buffer->clear();
        // A quit under way takes nothing, even before its signal's handling has run: unanswered,
        // the later start opens its files itself instead of handing them to a viewer that goes.
        if (state != Message::Complete || quitRequested()) {
            socket->abort();
            socket->deleteLater();
            return;
        }
        // The answer first: the later start may end as soon as it has it. Only a start that sent
        // a token hears the long answer: an earlier version would not understand it.
        if (activation.isEmpty())
            socket->write(kAnswer, qint64(sizeof kAnswer) - 1);
        else
            socket->write(kAnswerWithActivation, qint64(sizeof kAnswerWithActivation) - 1);
        socket->flush();
        // A later start that stopped waiting (this viewer was stopped or busy past its timeout)
        // has closed its end and shown the files itself: the answer cannot reach it, and the files
        // are not opened here a second time, away from the photo the user was looking at.
        const bool answered = socket->state() == QLocalSocket::ConnectedState && socket->bytesToWrite() == 0;
        socket->disconnectFromServer();
        socket->deleteLater();
        if (m_received && answered)
            m_received(paths, activation);
    };
    QObject::connect(socket, &QLocalSocket::readyRead, socket, [socket, buffer, done, finish] {
        if (*done)
            return;
        *buffer += socket->readAll();
        finish();
    });
    QObject::connect(socket, &QLocalSocket::disconnected, socket, [socket, done, timer] {
        // Gone before its message was whole: nothing was promised, nothing is opened.
        if (*done)
            return;
        *done = true;
        timer->invalidate();
        socket->deleteLater();
    });
}

} // namespace kpv
