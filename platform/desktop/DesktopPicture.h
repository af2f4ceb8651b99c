#pragma once
// The desktop picture on the desktops that keep one: each is reached through its own documented
// tool, started with an argument vector (never a shell), and every change is read back, so a
// setting that nothing stored is reported as refused rather than as done.
//   GNOME (and Unity, Budgie, Pantheon)  gsettings, org.gnome.desktop.background picture-uri
//   Cinnamon                             gsettings, org.cinnamon.desktop.background picture-uri
//   MATE                                 gsettings, org.mate.background picture-filename
//   Xfce                                 xfconf-query, xfce4-desktop …/last-image of every monitor
//   KDE Plasma                           the shell's evaluateScript over D-Bus (gdbus, else qdbus)

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>

namespace kpv {

enum class DesktopFamily { Gnome, Cinnamon, Mate, Xfce, Plasma, Other };

// The desktop named by XDG_CURRENT_DESKTOP's value ("ubuntu:GNOME", "X-Cinnamon", "KDE", …).
DesktopFamily desktopFamily(const QString& currentDesktop);

struct ProgramResult {
    bool started = false; // false: no such program, or it could not be run
    int exitCode = -1;    // -1 when it crashed or was stopped for taking too long
    QByteArray output;    // its standard output
    bool ok() const { return started && exitCode == 0; }
};
using ProgramRunner = std::function<ProgramResult(const QStringList& args)>;
// Runs the program (first element) with its arguments and waits up to five seconds.
ProgramResult runProgram(const QStringList& args);

// Makes `path` the picture of the desktop family through its tool; false with *error saying why.
bool setDesktopPicture(DesktopFamily family, const QString& path, const ProgramRunner& run, QString* error);
// The picture the desktop shows now, or empty when it does not say.
QString desktopPicture(DesktopFamily family, const ProgramRunner& run);

// What the user is told on a desktop that takes no picture from here.
QString unsupportedDesktopMessage(const QString& currentDesktop);

} // namespace kpv
