#include "Shell/Program/CommandLine.h"

#include "Model/PhotoSearchHandler.h"
#include "appkit/WindowSystem.h"
#include "foundation/Bundle.h"
#include "foundation/FileNames.h"
#include "imageio/ImageSource.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUrl>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace CommandLine {

namespace {

// What is read of a file named on the command line to tell whether it is a photo: enough for
// every signature the readers look for.
constexpr qsizetype kHeadBytes = 4096;

// Compiled in, so that the answer needs no resources and no toolkit.
constexpr const char* kDisplayName = "Kestrane Photo Viewer";
#ifndef KPV_VERSION
#define KPV_VERSION "0.1.0"
#endif

QString tr(const char* key, const char* fallback)
{
    return kpv::Bundle::mainBundle().localizedString(QLatin1String(key), QString::fromUtf8(fallback));
}

// "scheme:" at the start, as an address has it (RFC 3986 3.1), followed by "//".
bool looksLikeAddress(const QByteArray& text)
{
    const qsizetype colon = text.indexOf("://");
    if (colon < 2 || !std::isalpha(static_cast<unsigned char>(text[0])))
        return false;
    for (qsizetype i = 1; i < colon; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (!std::isalnum(c) && c != '+' && c != '-' && c != '.')
            return false;
    }
    return true;
}

// The path of a "file:" address on this computer (RFC 8089: file:/path, file:///path,
// file://localhost/path), its escapes decoded to the bytes they stand for; empty for anything else.
QByteArray localPathOfFileAddress(const QByteArray& text)
{
    if (!text.left(5).toLower().startsWith("file:"))
        return {};
    QByteArray rest = text.mid(5);
    if (rest.startsWith("//")) {
        rest = rest.mid(2);
        const qsizetype slash = rest.indexOf('/');
        if (slash < 0)
            return {};
        const QByteArray host = rest.left(slash).toLower();
        if (!host.isEmpty() && host != "localhost")
            return {};
        rest = rest.mid(slash);
    }
    if (!rest.startsWith('/'))
        return {};
    const QByteArray path = QByteArray::fromPercentEncoding(rest);
    // A file name holds no zero byte: an address that escapes one names nothing.
    if (path.contains('\0'))
        return {};
    return path;
}

} // namespace

const char* programName(const char* argv0)
{
    const char* slash = argv0 ? std::strrchr(argv0, '/') : nullptr;
    return slash ? slash + 1 : (argv0 && *argv0 ? argv0 : "kestrane-viewer");
}

Arguments parse(int argc, const char* const* argv)
{
    // The toolkit's own options (window system, style, geometry) pass through to it.
    static const char* const kToolkitOptionsWithValue[] = {
        "platform", "platformpluginpath", "platformtheme", "plugin", "qmljsdebugger", "qwindowgeometry",
        "qwindowicon", "qwindowtitle", "session", "display", "style", "stylesheet", "geometry", "name", "title"};
    static const char* const kToolkitFlags[] = {"reverse", "widgetcount", "nograb", "dograb", "sync"};
    Arguments result;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i] ? argv[i] : "";
        if (optionsEnded || arg.empty() || arg[0] != '-' || arg == "-") {
            result.paths.push_back(arg);
            continue;
        }
        const std::string bare = arg.substr(arg.rfind("--", 0) == 0 ? 2 : 1);
        const std::string key = bare.substr(0, bare.find('='));
        bool toolkit = false;
        for (const char* option : kToolkitOptionsWithValue) {
            if (key == option) {
                toolkit = true;
                const size_t equals = bare.find('=');
                std::string value = equals != std::string::npos ? bare.substr(equals + 1)
                                    : i + 1 < argc && argv[i + 1] ? argv[++i] : "";
                if (key == "display")
                    result.display = value;
            }
        }
        for (const char* flag : kToolkitFlags)
            toolkit = toolkit || bare == flag;
        if (toolkit && arg != "--help" && arg != "--version")
            continue;
        if (arg == "--") {
            optionsEnded = true;
        } else if (arg == "--help") {
            result.action = Arguments::Action::Help;
            return result;
        } else if (arg == "--version") {
            result.action = Arguments::Action::Version;
            return result;
        } else if (arg.rfind("--", 0) == 0) {
            result.action = Arguments::Action::UsageError;
            result.error = "unrecognized option '" + arg + "'";
            return result;
        } else {
            // Short options may be written together ("-hv"); the first that is not one of ours is
            // named alone, as other programs name it. A file whose name starts with '-' is told
            // how to be opened.
            for (size_t at = 1; at < arg.size(); ++at) {
                if (arg[at] == 'h' || arg[at] == 'v') {
                    result.action = arg[at] == 'h' ? Arguments::Action::Help : Arguments::Action::Version;
                    return result;
                }
                result.action = Arguments::Action::UsageError;
                result.error = "invalid option -- '" + arg.substr(at, 1) + "'";
                struct stat st {};
                if (::stat(arg.c_str(), &st) == 0)
                    result.error += "\nTo open the file '" + arg + "', name it after '--' or as './" + arg + "'.";
                return result;
            }
        }
    }
    return result;
}

namespace {
// The status once an answer is written: a write that failed (to a full disk) is said, as other
// programs do, and is no success.
int answered(std::FILE* out, std::FILE* err, const char* name)
{
    if (std::fflush(out) == 0 && !std::ferror(out))
        return kExitOk;
    std::fprintf(err, "%s: write error: %s\n", name, std::strerror(errno));
    return kExitFailure;
}
} // namespace

std::optional<int> answerWithoutWindow(const Arguments& arguments, const char* programName, std::FILE* out,
                                       std::FILE* err)
{
    const char* name = CommandLine::programName(programName);
    switch (arguments.action) {
    case Arguments::Action::Open:
        return std::nullopt;
    case Arguments::Action::Help:
        std::fprintf(out,
                     "Usage: %s [OPTION]... [FILE|FOLDER]...\n"
                     "View photos: each FILE opens with the other photos of its folder, each FOLDER\n"
                     "with its photos. Without arguments the window opens empty. A viewer that is\n"
                     "already running is handed the files and shows them.\n"
                     "\n"
                     "  -h, --help       show this help and exit\n"
                     "  -v, --version    show the version and exit\n"
                     "  --               treat every later argument as a file, even one that\n"
                     "                   starts with '-'\n"
                     "\n"
                     "Exit status: 0 if all went well, 1 if a file or folder could not be opened\n"
                     "or the viewer could not start, 2 for a wrong command line.\n"
                     "\n"
                     "Keys: Right, Space and Left, Backspace step through the folder; Home and End\n"
                     "go to the first and last photo; Delete moves the photo to the trash and\n"
                     "Ctrl+Z puts it back; + and - zoom, 1 shows the actual size and 0 fits the\n"
                     "photo to the window; F11 shows it full screen. See %s(1) for more.\n",
                     name, name);
        return answered(out, err, name);
    case Arguments::Action::Version:
        std::fprintf(out, "%s (%s) %s\n", name, kDisplayName, KPV_VERSION);
        return answered(out, err, name);
    case Arguments::Action::UsageError:
        std::fprintf(err, "%s: %s\nTry '%s --help' for more information.\n", name, arguments.error.c_str(), name);
        return kExitUsage;
    }
    return std::nullopt;
}

QString pathFromArgument(const std::string& argument)
{
    const QByteArray bytes = QByteArray::fromStdString(argument);
    struct stat st {};
    // A file whose name merely looks like an address is opened as named.
    const bool exists = !bytes.isEmpty() && ::stat(bytes.constData(), &st) == 0;
    if (!bytes.isEmpty() && !exists) {
        const QByteArray local = localPathOfFileAddress(bytes);
        if (!local.isEmpty())
            return kpv::decodeFileName(local);
    }
    // A relative name is joined to the folder it was typed in here, byte for byte: a viewer
    // already running in another folder is handed the whole path, and a name that is not UTF-8
    // would not survive the toolkit's own way of making it whole.
    if (!bytes.isEmpty() && !bytes.startsWith('/') && (exists || !looksLikeAddress(bytes))) {
        if (char* cwd = ::getcwd(nullptr, 0)) {
            const QByteArray folder(cwd);
            std::free(cwd);
            return QDir::cleanPath(kpv::decodeFileName(folder + '/' + bytes));
        }
    }
    return kpv::decodeFileName(bytes);
}

void settleHome()
{
    const char* home = std::getenv("HOME");
    if (home && *home)
        return;
    if (const passwd* user = ::getpwuid(::getuid()); user && user->pw_dir && user->pw_dir[0] == '/')
        ::setenv("HOME", user->pw_dir, 1);
}

void settleBaseDirectories()
{
    // The base-directory rules count a relative path as unset. The toolkit takes it as it is, from
    // the current folder: started in a folder of photos with XDG_CACHE_HOME=cache, the viewer
    // wrote its thumbnails and desktop pictures into a "cache" folder among the photos.
    for (const char* name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_STATE_HOME"}) {
        const char* value = std::getenv(name);
        if (value && *value != '/')
            ::unsetenv(name);
    }
    for (const char* name : {"XDG_DATA_DIRS", "XDG_CONFIG_DIRS"}) {
        const char* value = std::getenv(name);
        if (!value)
            continue;
        std::string kept;
        const std::string list = value;
        for (size_t at = 0; at <= list.size();) {
            const size_t end = std::min(list.find(':', at), list.size());
            if (end > at && list[at] == '/')
                kept += (kept.empty() ? "" : ":") + list.substr(at, end - at);
            at = end + 1;
        }
        // With none left the standard folders apply, as when the list is unset.
        if (kept.empty())
            ::unsetenv(name);
        else if (kept != list)
            ::setenv(name, kept.c_str(), 1);
    }
}

std::optional<int> checkDisplay(const Arguments& arguments, const char* programName, std::FILE* err)
{
    const std::string why = kpv::whyNoWindowSystem(arguments.display);
    if (why.empty())
        return std::nullopt;
    std::fprintf(err, "%s: %s\n", CommandLine::programName(programName), why.c_str());
    return kExitFailure;
}

QStringList problemsWithPaths(const QStringList& paths, const QStringList& allowedExtensions)
{
    QStringList problems;
    for (const QString& path : paths) {
        const QByteArray native = kpv::encodeFileName(path);
        const QString shown = QStringLiteral("\u201c%1\u201d").arg(kpv::displayFileName(path));
        const auto cannotOpen = [&](const QString& why) {
            problems << tr("IDS_CannotOpenPath_Fmt", "cannot open %1: %2").arg(shown, why);
        };
        // A relative name is one that could not be made whole: the folder it was typed in has
        // been removed since (a terminal still standing in it), and "." would only look empty.
        if (!native.isEmpty() && !native.startsWith('/') && !looksLikeAddress(native)) {
            if (char* cwd = ::getcwd(nullptr, 0)) {
                std::free(cwd);
            } else {
                cannotOpen(tr("IDS_CurrentFolderGone", "the folder it was named in has been removed"));
                continue;
            }
        }
        struct stat st {};
        const int statError = path.isEmpty() ? ENOENT : ::stat(native.constData(), &st) != 0 ? errno : 0;
        if (statError != 0) {
            if (statError == ENOENT && looksLikeAddress(native))
                cannotOpen(tr("IDS_NotOnThisComputer", "only files and folders on this computer can be opened"));
            else
                cannotOpen(statError == ENOENT || statError == ENOTDIR
                               ? tr("IDS_NoSuchFileOrFolder", "no such file or folder")
                               : QString::fromLocal8Bit(std::strerror(statError)));
            continue;
        }
        if (S_ISDIR(st.st_mode)) {
            DIR* dir = ::opendir(native.constData());
            if (!dir) {
                cannotOpen(QString::fromLocal8Bit(std::strerror(errno)));
                continue;
            }
            ::closedir(dir);
            const auto found = PhotoSearchHandler::EnumDirectoryFiles(QUrl::fromLocalFile(path), false,
                                                                      allowedExtensions, true);
            if (!found || found->isEmpty())
                problems << tr("IDS_FolderWithoutPhotos_Fmt", "there are no photos in the folder %1").arg(shown);
            continue;
        }
        if (!S_ISREG(st.st_mode)) {
            cannotOpen(tr("IDS_NotARegularFile", "it is not a regular file"));
            continue;
        }
        if (!allowedExtensions.contains(QFileInfo(path).suffix().toLower())) {
            cannotOpen(tr("IDS_NotAPhotoType", "it is not a type of photo the viewer opens"));
            continue;
        }
        const int fd = ::open(native.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        if (fd < 0) {
            cannotOpen(QString::fromLocal8Bit(std::strerror(errno)));
            continue;
        }
        // The start of the file decides, as it does when the photo is shown: a file of a photo's
        // name that holds something else would only show "cannot be shown" and end with status 0.
        QByteArray head(kHeadBytes, Qt::Uninitialized);
        const ssize_t got = ::read(fd, head.data(), size_t(head.size()));
        const int readError = errno;
        ::close(fd);
        if (got < 0) {
            cannotOpen(QString::fromLocal8Bit(std::strerror(readError)));
            continue;
        }
        head.truncate(got);
        if (head.isEmpty())
            cannotOpen(tr("IDS_FileIsEmpty", "the file is empty"));
        else if (!kpv::ImageSource::isImageFormat(head, path))
            cannotOpen(tr("IDS_NotAPhotoInside", "what it holds is not a photo the viewer can read"));
    }
    return problems;
}

} // namespace CommandLine
