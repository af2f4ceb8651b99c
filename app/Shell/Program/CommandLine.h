#pragma once
// The program's command line: options as GNU programs have them, then the files and folders to
// open. Reading it needs nothing of the toolkit, so --help and --version answer before any
// window system is reached, and a wrong option ends the program with status 2.
//
// Exit status: 0 when all went well, 1 when a file or folder given could not be opened or the
// program could not start, 2 for a wrong command line.

#include <QString>
#include <QStringList>

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace CommandLine {

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

struct Arguments {
    enum class Action { Open, Help, Version, UsageError };
    Action action = Action::Open;
    std::vector<std::string> paths; // as given, in order; options and "--" taken out
    std::string error;              // for UsageError
    std::string display;            // the toolkit's -display option, when given
};

Arguments parse(int argc, const char* const* argv);

// The name messages start with: the program's file name without its folder.
const char* programName(const char* argv0);

// Answers --help, --version and a wrong option on the given streams; the exit status when the
// program ends here, nothing when it goes on to open `arguments.paths`.
std::optional<int> answerWithoutWindow(const Arguments& arguments, const char* programName, std::FILE* out,
                                       std::FILE* err);

// The file or folder an argument names, as its bytes: the argument itself, a relative one joined
// to the current folder, or, for a local "file:" address (as a browser's address bar or a file
// manager copies it) that names no file as written, the path it stands for, percent escapes
// decoded byte for byte. Any other address is kept as it is and told as not on this computer.
QString pathFromArgument(const std::string& argument);

// Sets HOME to the user's home folder from the system's user database when it is unset or empty
// (a start from a service or a bare environment): the toolkit would take "/" instead, and the
// settings, caches and thumbnails would be written at the top of the file system, or fail there.
void settleHome();

// Takes out of the environment the base folders given as relative paths (XDG_CACHE_HOME=cache),
// which the rules say to ignore, so that nothing is written relative to the current folder; the
// folders' lists keep their absolute entries.
void settleBaseDirectories();

// Status 1 with a message on `err` when there is no display to open a window on: none named, or
// an X display that does not answer; nothing when there may be one.
std::optional<int> checkDisplay(const Arguments& arguments, const char* programName, std::FILE* err);

// Why each path cannot be opened, one line each ("cannot open “x.jpg”: no such file or folder");
// empty when all can. A path is a photo of a supported extension that can be read, or a folder
// that can be read and holds at least one such photo directly.
QStringList problemsWithPaths(const QStringList& paths, const QStringList& allowedExtensions);

} // namespace CommandLine
