// The string table parser and the format routine that consumes its texts.
#include "foundation/Bundle.h"
#include "foundation/StringFormat.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    QHash<QString, QString> table;
    QString error;
    kpv::parseStringsTable(QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)), &table, &error);
    for (auto it = table.begin(); it != table.end(); ++it) {
        (void)kpv::formatString(it.value(), {1, QStringLiteral("x"), 2.5});
    }
    return 0;
}
