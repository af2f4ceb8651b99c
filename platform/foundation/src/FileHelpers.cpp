#include "foundation/FileHelpers.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cstdlib>
#include <mutex>
#include <sys/stat.h>
#include <vector>

namespace kpv {

namespace {

constexpr const char* kAppFolder = "kestrane-viewer";

QString envPath(const char* name)
{
    const QByteArray value = qgetenv(name);
    // The XDG rules ignore relative paths.
    if (value.isEmpty() || value.at(0) != '/') {
        return {};
    }
    return QString::fromLocal8Bit(value);
}

QString homeSub(const char* sub)
{
    return QDir::homePath() + QLatin1Char('/') + QLatin1String(sub);
}

QString appFolderIn(const QString& base, bool privateFolder)
{
    const QString path = base + QLatin1Char('/') + QLatin1String(kAppFolder);
    QDir().mkpath(path);
    if (privateFolder) {
        ::chmod(QFile::encodeName(path).constData(), 0700);
    }
    return path;
}

std::mutex g_tempMutex;
QString g_tempDir;
bool g_tempTried = false;

} // namespace

QString configDirectory()
{
    QString base = envPath("XDG_CONFIG_HOME");
    return appFolderIn(base.isEmpty() ? homeSub(".config") : base, true);
}

QString dataDirectory()
{
    QString base = envPath("XDG_DATA_HOME");
    return appFolderIn(base.isEmpty() ? homeSub(".local/share") : base, false);
}

QString cacheDirectory()
{
    QString base = envPath("XDG_CACHE_HOME");
    return appFolderIn(base.isEmpty() ? homeSub(".cache") : base, false);
}

QString temporaryDirectory()
{
    std::lock_guard lock(g_tempMutex);
    if (!g_tempTried) {
        g_tempTried = true;
        QString base = envPath("TMPDIR");
        if (base.isEmpty() || !QFileInfo(base).isDir()) {
            base = QStringLiteral("/tmp");
        }
        QByteArray templ = QFile::encodeName(base + QLatin1String("/kestrane-viewer-XXXXXX"));
        std::vector<char> buffer(templ.constData(), templ.constData() + templ.size() + 1);
        // mkdtemp makes the folder with mode 0700, under a name nobody could have guessed.
        if (::mkdtemp(buffer.data()) != nullptr) {
            g_tempDir = QFile::decodeName(buffer.data());
        }
    }
    return g_tempDir;
}

void removeTemporaryDirectory()
{
    std::lock_guard lock(g_tempMutex);
    if (!g_tempDir.isEmpty()) {
        QDir(g_tempDir).removeRecursively();
        g_tempDir.clear();
    }
    // A later request makes a fresh folder.
    g_tempTried = false;
}

int naturalCompare(QStringView a, QStringView b)
{
    qsizetype i = 0;
    qsizetype j = 0;
    int tieBreak = 0; // from runs equal in value but not in leading zeros
    while (i < a.size() && j < b.size()) {
        const QChar ca = a[i];
        const QChar cb = b[j];
        if (ca.isDigit() && cb.isDigit()) {
            qsizetype ai = i;
            qsizetype bj = j;
            while (ai < a.size() && a[ai].isDigit() && a[ai].digitValue() == 0) ++ai;
            while (bj < b.size() && b[bj].isDigit() && b[bj].digitValue() == 0) ++bj;
            qsizetype ae = ai;
            qsizetype be = bj;
            while (ae < a.size() && a[ae].isDigit()) ++ae;
            while (be < b.size() && b[be].isDigit()) ++be;
            // Values of any length: more significant digits means larger.
            if (ae - ai != be - bj) {
                return ae - ai < be - bj ? -1 : 1;
            }
            for (qsizetype k = 0; k < ae - ai; ++k) {
                const int da = a[ai + k].digitValue();
                const int db = b[bj + k].digitValue();
                if (da != db) {
                    return da < db ? -1 : 1;
                }
            }
            if (tieBreak == 0 && (ae - i) != (be - j)) {
                tieBreak = (ae - i) < (be - j) ? -1 : 1;
            }
            i = ae;
            j = be;
            continue;
        }
        const char32_t fa = ca.toCaseFolded().unicode();
        const char32_t fb = cb.toCaseFolded().unicode();
        if (fa != fb) {
            return fa < fb ? -1 : 1;
        }
        ++i;
        ++j;
    }
    if (i < a.size()) {
        return 1;
    }
    if (j < b.size()) {
        return -1;
    }
    return tieBreak;
}

} // namespace kpv
