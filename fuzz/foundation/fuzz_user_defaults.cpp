// The settings file reader: whatever is on disk, loading must fail cleanly.
#include "foundation/UserDefaults.h"

#include <QFile>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static QTemporaryDir dir;
    const QString path = dir.path() + QStringLiteral("/settings.json");
    {
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            return 0;
        }
        f.write(reinterpret_cast<const char*>(data), qint64(size));
    }
    kpv::UserDefaults defaults(path);
    const QVariantMap all = defaults.dictionaryRepresentation();
    for (auto it = all.begin(); it != all.end(); ++it) {
        (void)defaults.integerForKey(it.key());
        (void)defaults.boolForKey(it.key());
        (void)defaults.URLForKey(it.key());
    }
    return 0; // nothing changed, so nothing is written back
}
