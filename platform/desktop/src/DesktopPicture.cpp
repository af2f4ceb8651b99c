#include "desktop/DesktopPicture.h"

#include "foundation/FileNames.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QUrl>

namespace kpv {

namespace {

constexpr int kToolTimeoutMs = 5000;

struct SettingsKey {
    const char* schema;
    const char* key;
    bool uri; // the value is a file address, else a path
};

SettingsKey settingsKeyFor(DesktopFamily family)
{
    switch (family) {
    case DesktopFamily::Cinnamon: return {"org.cinnamon.desktop.background", "picture-uri", true};
    case DesktopFamily::Mate: return {"org.mate.background", "picture-filename", false};
    default: return {"org.gnome.desktop.background", "picture-uri", true};
    }
}

// A string as the settings tool reads it: single-quoted, with ' and \ escaped.
QString quotedSettingsString(const QString& text)
{
    QString out = QStringLiteral("'");
    for (QChar c : text) {
        if (c == QLatin1Char('\'') || c == QLatin1Char('\\'))
            out += QLatin1Char('\\');
        out += c;
    }
    return out + QLatin1Char('\'');
}

// The settings tool's printed string value, unquoted; empty when it printed no string.
QString unquotedSettingsString(const QByteArray& printed)
{
    QString text = QString::fromUtf8(printed).trimmed();
    if (text.startsWith(QLatin1String("@s ")))
        text = text.mid(3);
    if (text.size() < 2 || (text.front() != QLatin1Char('\'') && text.front() != QLatin1Char('"')) ||
        text.back() != text.front())
        return {};
    QString out;
    for (qsizetype i = 1; i + 1 < text.size(); ++i) {
        if (text.at(i) == QLatin1Char('\\') && i + 2 < text.size())
            ++i;
        out += text.at(i);
    }
    return out;
}

// Escaped from the name's bytes, so any name the disk holds reaches the desktop as it is.
QString fileUri(const QString& path)
{
    return QString::fromLatin1(fileUrlFromName(path).toEncoded());
}

// Desktops that keep the picture as a path take only UTF-8 text (their settings are text).
bool refusesName(const QString& path, QString* error)
{
    if (!fileNameHasRawBytes(path))
        return false;
    *error = QStringLiteral("this desktop takes a picture only under a name in UTF-8");
    return true;
}

QString failedTool(const QString& tool, const ProgramResult& r)
{
    if (!r.started)
        return QStringLiteral("the desktop's tool %1 could not be started").arg(tool);
    return QStringLiteral("the desktop's tool %1 failed").arg(tool);
}

bool setWithSettings(DesktopFamily family, const QString& path, const ProgramRunner& run, QString* error)
{
    const SettingsKey k = settingsKeyFor(family);
    if (!k.uri && refusesName(path, error))
        return false;
    const QString value = k.uri ? fileUri(path) : QFileInfo(path).absoluteFilePath();
    const QString schema = QString::fromLatin1(k.schema), key = QString::fromLatin1(k.key);
    const ProgramResult set = run({QStringLiteral("gsettings"), QStringLiteral("set"), schema, key, quotedSettingsString(value)});
    if (!set.ok()) {
        *error = failedTool(QStringLiteral("gsettings"), set);
        return false;
    }
    // Read back in a new process: a value only the tool's own memory held is gone by now.
    const ProgramResult get = run({QStringLiteral("gsettings"), QStringLiteral("get"), schema, key});
    if (!get.ok() || unquotedSettingsString(get.output) != value) {
        *error = QStringLiteral("the desktop's settings did not keep the picture");
        return false;
    }
    // Dark-style GNOME desktops read a second key where it exists; older ones have none.
    if (family == DesktopFamily::Gnome)
        run({QStringLiteral("gsettings"), QStringLiteral("set"), schema, QStringLiteral("picture-uri-dark"),
             quotedSettingsString(value)});
    return true;
}

const QString kXfceChannel = QStringLiteral("xfce4-desktop");

QStringList xfceImageProperties(const ProgramRunner& run, bool* listed)
{
    const ProgramResult list = run({QStringLiteral("xfconf-query"), QStringLiteral("-c"), kXfceChannel, QStringLiteral("-l")});
    *listed = list.ok();
    QStringList props;
    for (const QByteArray& line : list.output.split('\n')) {
        const QString prop = QString::fromUtf8(line.trimmed());
        if (prop.startsWith(QLatin1String("/backdrop/")) && prop.endsWith(QLatin1String("/last-image")))
            props << prop;
    }
    return props;
}

bool setWithXfconf(const QString& path, const ProgramRunner& run, QString* error)
{
    if (refusesName(path, error))
        return false;
    bool listed = false;
    QStringList props = xfceImageProperties(run, &listed);
    if (!listed) {
        *error = failedTool(QStringLiteral("xfconf-query"), run({QStringLiteral("xfconf-query"), QStringLiteral("--version")}));
        return false;
    }
    const QString file = QFileInfo(path).absoluteFilePath();
    // Every monitor and workspace shows it; a desktop that never had a picture gets the first.
    const bool create = props.isEmpty();
    if (create)
        props << QStringLiteral("/backdrop/screen0/monitor0/workspace0/last-image");
    for (const QString& prop : std::as_const(props)) {
        QStringList args{QStringLiteral("xfconf-query"), QStringLiteral("-c"), kXfceChannel, QStringLiteral("-p"), prop};
        if (create)
            args << QStringLiteral("-n") << QStringLiteral("-t") << QStringLiteral("string");
        args << QStringLiteral("-s") << file;
        const ProgramResult set = run(args);
        const ProgramResult get =
            run({QStringLiteral("xfconf-query"), QStringLiteral("-c"), kXfceChannel, QStringLiteral("-p"), prop});
        if (!set.ok() || !get.ok() || QString::fromUtf8(get.output).trimmed() != file) {
            *error = set.ok() ? QStringLiteral("the desktop's settings did not keep the picture")
                              : failedTool(QStringLiteral("xfconf-query"), set);
            return false;
        }
    }
    return true;
}

// The shell script that gives every desktop of every screen the picture.
QString plasmaScript(const QString& uri)
{
    const QString quoted = QString::fromUtf8(QJsonDocument(QJsonArray{uri}).toJson(QJsonDocument::Compact)).mid(1).chopped(1);
    return QStringLiteral("var all = desktops();"
                          "for (var i = 0; i < all.length; i++) {"
                          " var d = all[i];"
                          " d.wallpaperPlugin = \"org.kde.image\";"
                          " d.currentConfigGroup = [\"Wallpaper\", \"org.kde.image\", \"General\"];"
                          " d.writeConfig(\"Image\", %1);"
                          "}")
        .arg(quoted);
}

bool setWithPlasma(const QString& path, const ProgramRunner& run, QString* error)
{
    const QString script = plasmaScript(fileUri(path));
    ProgramResult r = run({QStringLiteral("gdbus"), QStringLiteral("call"), QStringLiteral("--session"),
                           QStringLiteral("--dest"), QStringLiteral("org.kde.plasmashell"), QStringLiteral("--object-path"),
                           QStringLiteral("/PlasmaShell"), QStringLiteral("--method"),
                           QStringLiteral("org.kde.PlasmaShell.evaluateScript"), quotedSettingsString(script)});
    QString tool = QStringLiteral("gdbus");
    for (const QString& qdbus : {QStringLiteral("qdbus6"), QStringLiteral("qdbus")}) {
        if (r.started)
            break;
        tool = qdbus;
        r = run({qdbus, QStringLiteral("org.kde.plasmashell"), QStringLiteral("/PlasmaShell"),
                 QStringLiteral("org.kde.PlasmaShell.evaluateScript"), script});
    }
    if (!r.ok()) {
        *error = r.started ? QStringLiteral("the Plasma shell refused the picture") : failedTool(tool, r);
        return false;
    }
    return true;
}

} // namespace

DesktopFamily desktopFamily(const QString& currentDesktop)
{
    for (const QString& name : currentDesktop.split(QLatin1Char(':'), Qt::SkipEmptyParts)) {
        const QString n = name.trimmed().toLower();
        if (n == QLatin1String("kde"))
            return DesktopFamily::Plasma;
        if (n == QLatin1String("xfce"))
            return DesktopFamily::Xfce;
        if (n == QLatin1String("mate"))
            return DesktopFamily::Mate;
        if (n == QLatin1String("x-cinnamon") || n == QLatin1String("cinnamon"))
            return DesktopFamily::Cinnamon;
        if (n == QLatin1String("gnome") || n == QLatin1String("unity") || n == QLatin1String("budgie") ||
            n == QLatin1String("pantheon") || n == QLatin1String("gnome-flashback") || n == QLatin1String("gnome-classic"))
            return DesktopFamily::Gnome;
    }
    return DesktopFamily::Other;
}

ProgramResult runProgram(const QStringList& args)
{
    ProgramResult result;
    if (args.isEmpty())
        return result;
    QProcess process;
    process.setProgram(args.first());
    process.setArguments(args.mid(1));
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    process.start();
    if (!process.waitForStarted(kToolTimeoutMs))
        return result;
    result.started = true;
    if (!process.waitForFinished(kToolTimeoutMs)) {
        process.kill();
        process.waitForFinished(1000);
        return result;
    }
    result.output = process.readAllStandardOutput();
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return result;
}

bool setDesktopPicture(DesktopFamily family, const QString& path, const ProgramRunner& run, QString* error)
{
    QString why;
    bool ok = false;
    switch (family) {
    case DesktopFamily::Gnome:
    case DesktopFamily::Cinnamon:
    case DesktopFamily::Mate: ok = setWithSettings(family, path, run, &why); break;
    case DesktopFamily::Xfce: ok = setWithXfconf(path, run, &why); break;
    case DesktopFamily::Plasma: ok = setWithPlasma(path, run, &why); break;
    case DesktopFamily::Other: why = unsupportedDesktopMessage(QString()); break;
    }
    if (!ok && error)
        *error = why;
    return ok;
}

QString desktopPicture(DesktopFamily family, const ProgramRunner& run)
{
    switch (family) {
    case DesktopFamily::Gnome:
    case DesktopFamily::Cinnamon:
    case DesktopFamily::Mate: {
        const SettingsKey k = settingsKeyFor(family);
        const ProgramResult get = run({QStringLiteral("gsettings"), QStringLiteral("get"), QString::fromLatin1(k.schema),
                                       QString::fromLatin1(k.key)});
        const QString value = get.ok() ? unquotedSettingsString(get.output) : QString();
        return k.uri ? fileNameFromUrl(QUrl(value)) : value;
    }
    case DesktopFamily::Xfce: {
        bool listed = false;
        const QStringList props = xfceImageProperties(run, &listed);
        if (props.isEmpty())
            return {};
        const ProgramResult get =
            run({QStringLiteral("xfconf-query"), QStringLiteral("-c"), kXfceChannel, QStringLiteral("-p"), props.first()});
        return get.ok() ? QString::fromUtf8(get.output).trimmed() : QString();
    }
    default: return {};
    }
}

QString unsupportedDesktopMessage(const QString& currentDesktop)
{
    const QString which = currentDesktop.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(currentDesktop);
    return QStringLiteral("The desktop picture can be set on GNOME, KDE Plasma, Xfce, MATE and Cinnamon; "
                          "this desktop%1 is not one of them.")
        .arg(which);
}

} // namespace kpv
