#include "Kit/LMTextEditRules.h"

namespace LMTextEditRules {

std::optional<QString> textAfterChange(const QString& current, qint64 location, qint64 length,
                                       const QString& replacement)
{
    const qint64 size = current.size();
    if (location < 0 || length < 0 || location > size || length > size - location)
        return std::nullopt;
    QString out = current;
    out.replace(location, length, replacement);
    return out;
}

static bool isBlank(QChar c)
{
    return c == u' ' || c == u'\t' || c.category() == QChar::Separator_Space;
}

QString trimmedWhiteSpace(const QString& s)
{
    qsizetype b = 0, e = s.size();
    while (b < e && isBlank(s[b]))
        ++b;
    while (e > b && isBlank(s[e - 1]))
        --e;
    return s.mid(b, e - b);
}

bool lengthAllows(const QString& wouldBe, std::uint64_t allowedMaxLength, bool ignoreWhiteSpace)
{
    if (allowedMaxLength == 0)
        return true;
    const QString counted = ignoreWhiteSpace ? trimmedWhiteSpace(wouldBe) : wouldBe;
    return std::uint64_t(counted.size()) <= allowedMaxLength;
}

bool isAllDigits(const QString& s)
{
    for (QChar c : s)
        if (c.unicode() < 48 || c.unicode() > 57)
            return false;
    return true;
}

void lastCharacterRange(const QString& s, qint64* location, qint64* length)
{
    qint64 n = s.size();
    qint64 len = 0;
    if (n > 0) {
        len = 1;
        if (n >= 2 && s[n - 1].isLowSurrogate() && s[n - 2].isHighSurrogate())
            len = 2;
    }
    *location = n - len;
    *length = len;
}

} // namespace LMTextEditRules
