#include "Shell/Desktop/AppDesktopEntry.h"

#include "foundation/FileHelpers.h"
#include "foundation/FileReplace.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <algorithm>

namespace AppDesktopEntry {

namespace {

// The program's path as one quoted argument of the Exec key, whatever it holds.
QString quotedExecValue(const QString& executable)
{
    // Inside a quoted argument `"`, `` ` ``, `$` and `\` take a backslash; the entry format then
    // doubles every backslash of the value once more.
    QString quoted;
    for (QChar c : executable) {
        if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') || c == QLatin1Char('\\'))
            quoted += QLatin1Char('\\');
        quoted += c;
    }
    quoted.replace(QLatin1String("\\"), QLatin1String("\\\\"));
    // A literal percent sign is written twice, so that it is not read as a field code.
    quoted.replace(QLatin1String("%"), QLatin1String("%%"));
    return QLatin1Char('"') + quoted + QStringLiteral("\" %F");
}

// The program's path back out of an Exec value this file wrote, bare or quoted; empty for any
// other value.
QString executableOfExecValue(const QString& exec)
{
    if (!exec.endsWith(QLatin1String(" %F")))
        return {};
    QString value = exec.chopped(3);
    if (!value.startsWith(QLatin1Char('"')))
        return QString(value).replace(QLatin1String("%%"), QLatin1String("%"));
    if (value.size() < 2 || !value.endsWith(QLatin1Char('"')))
        return {};
    value = value.mid(1, value.size() - 2).replace(QLatin1String("%%"), QLatin1String("%"));
    value.replace(QLatin1String("\\\\"), QLatin1String("\\"));
    QString path;
    for (qsizetype i = 0; i < value.size(); ++i) {
        if (value[i] == QLatin1Char('\\') && i + 1 < value.size())
            ++i;
        path += value[i];
    }
    return path;
}

// The text of an entry with the given Exec value, as this file writes it.
QString entryTextWithExec(const QString& name, const QString& exec, const QStringList& mimeTypes)
{
    QString text = QStringLiteral("[Desktop Entry]\nType=Application\nName=%1\nExec=%2\nTerminal=false\n"
                                  "Icon=org.kestrane.viewer\nCategories=Graphics;Viewer;\n")
                       .arg(QString(name).remove(QLatin1Char('\n')), exec);
    QStringList types;
    for (const QString& t : mimeTypes)
        if (!t.isEmpty() && !t.contains(QLatin1Char(';')) && !t.contains(QLatin1Char('\n')))
            types << t;
    if (!types.isEmpty())
        text += QStringLiteral("MimeType=%1;\n").arg(types.join(QLatin1Char(';')));
    return text;
}

// Whether `text` is an entry this program wrote for itself and nobody changed since: the one it
// writes now, or the one earlier versions wrote, which quoted every path. Such an entry is the
// program's to bring up to date; any other is an installed or edited one.
bool isOwnEntry(const QString& text)
{
    const auto value = [&text](const QString& key) {
        return text.section(QLatin1Char('\n') + key + QLatin1Char('='), 1).section(QLatin1Char('\n'), 0, 0);
    };
    const QString name = value(QStringLiteral("Name"));
    const QString exec = value(QStringLiteral("Exec"));
    const QString executable = executableOfExecValue(exec);
    if (executable.isEmpty())
        return false;
    const QStringList mimeTypes = value(QStringLiteral("MimeType")).split(QLatin1Char(';'), Qt::SkipEmptyParts);
    return text == entryTextWithExec(name, execValue(executable), mimeTypes)
        || text == entryTextWithExec(name, quotedExecValue(executable), mimeTypes);
}

} // namespace

QString execValue(const QString& executable)
{
    if (executable.isEmpty() || executable.contains(QLatin1Char('\n')) || executable.contains(QLatin1Char('\r')))
        return {};
    // A path with none of the characters the entry format reserves is written bare: the generic
    // opener of desktops without a session of their own (and its query of the default program)
    // takes the key's first word as the program, quotes and all, and found none for a quoted one,
    // so photos went on opening elsewhere although this program had been made their default.
    static const QString kReserved = QStringLiteral(" \t\"'\\><~|&;$*?#()`[]");
    if (std::none_of(executable.begin(), executable.end(), [](QChar c) { return kReserved.contains(c); }))
        return QString(executable).replace(QLatin1String("%"), QLatin1String("%%")) + QStringLiteral(" %F");
    return quotedExecValue(executable);
}

QString entryText(const QString& name, const QString& executable, const QStringList& mimeTypes)
{
    const QString exec = execValue(executable);
    if (exec.isEmpty())
        return {};
    return entryTextWithExec(name, exec, mimeTypes);
}

bool ensureInstalled(const QString& desktopId, const QString& name, const QString& executable,
                     const QStringList& mimeTypes, QString* error)
{
    const auto fail = [error](const QString& why) {
        if (error)
            *error = why;
        return false;
    };
    if (desktopId.isEmpty() || desktopId.contains(QLatin1Char('/')))
        return fail(QStringLiteral("\"%1\" cannot name a desktop entry").arg(desktopId));
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::ApplicationsLocation);
    const QString target = folder.isEmpty() ? QString() : QDir(folder).filePath(desktopId);
    const QString installed = QStandardPaths::locate(QStandardPaths::ApplicationsLocation, desktopId);
    // An entry this program wrote into the user's folder earlier is rewritten when it no longer
    // says what it would now (an earlier version quoted every path, and the generic opener then
    // found no program; or it names another copy of the program): that entry is ours.
    QString earlier;
    if (!installed.isEmpty() && installed == target) {
        QFile file(installed);
        if (file.size() < 64 * 1024 && file.open(QIODevice::ReadOnly))
            earlier = QString::fromUtf8(file.readAll());
    }
    if (!installed.isEmpty() && (earlier.isEmpty() || !isOwnEntry(earlier)))
        return true;
    // The desktop's launcher looks for the program named in the entry before it expands "%%"
    // back to "%": a program whose path holds a "%" is named through a link without one.
    QString program = executable;
    if (program.contains(QLatin1Char('%'))) {
        const QString data = kpv::dataDirectory();
        const QString bin = data + QStringLiteral("/bin");
        QString linkName = QFileInfo(program).fileName().remove(QLatin1Char('%'));
        if (linkName.isEmpty())
            linkName = QStringLiteral("kestrane-viewer");
        const QString link = bin + QLatin1Char('/') + linkName;
        if (data.isEmpty() || data.contains(QLatin1Char('%')) || !QDir().mkpath(bin))
            return fail(QStringLiteral("the program's path %1 cannot be named in a desktop entry").arg(executable));
        if (QFileInfo(link).symLinkTarget() != QFileInfo(program).absoluteFilePath()) {
            QFile::remove(link);
            if (!QFile::link(program, link))
                return fail(QStringLiteral("the link %1 to the program cannot be made").arg(link));
        }
        program = link;
    }
    const QString text = entryText(name, program, mimeTypes);
    if (text.isEmpty())
        return fail(QStringLiteral("the program's path %1 cannot be written in a desktop entry").arg(executable));
    if (text == earlier)
        return true;
    if (folder.isEmpty() || !QDir().mkpath(folder))
        return fail(QStringLiteral("the applications folder %1 cannot be made").arg(folder));
    return kpv::replaceFileContents(target, text.toUtf8(), {}, error);
}

}  // namespace AppDesktopEntry
