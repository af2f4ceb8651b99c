#include "Kit/LMTextEditRules.h"

#include <QList>

namespace LMTextEditRules {

std::optional<QString> textAfterChange(const QString& current, qint64 location, qint64 length,
                                       const QString& replacement)
{
    const qint64 size = current.size();
    if (location < 0 || length < 0 || location > size || length > size - location)
        return std::nullopt;
    // A range edge between the two halves of a surrogate pair would leave half a character.
    auto splitsPair = [&](qint64 at) {
        return at > 0 && at < size && current[at - 1].isHighSurrogate() && current[at].isLowSurrogate();
    };
    if (splitsPair(location) || splitsPair(location + length))
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

QString insertableText(const QString& s, bool multiLine)
{
    QString out;
    out.reserve(s.size());
    for (qsizetype i = 0; i < s.size(); ++i) {
        const QChar c = s[i];
        const bool lineBreak = c == u'\n' || c == u'\r' || c == QChar::LineSeparator || c == QChar::ParagraphSeparator;
        if (lineBreak) {
            if (c == u'\r' && i + 1 < s.size() && s[i + 1] == u'\n')
                ++i;
            out += multiLine ? u'\n' : u' ';
        } else if (c == u'\t') {
            out += multiLine ? u'\t' : u' ';
        } else if (c.category() != QChar::Other_Control) {
            out += c;
        }
    }
    return out;
}

bool lengthAllows(const QString& wouldBe, std::uint64_t allowedMaxLength, bool ignoreWhiteSpace)
{
    if (allowedMaxLength == 0)
        return true;
    const QString counted = ignoreWhiteSpace ? trimmedWhiteSpace(wouldBe) : wouldBe;
    return std::uint64_t(counted.size()) <= allowedMaxLength;
}

bool lengthAllowsChange(const QString& current, const QString& wouldBe, std::uint64_t allowedMaxLength,
                        bool ignoreWhiteSpace)
{
    if (lengthAllows(wouldBe, allowedMaxLength, ignoreWhiteSpace))
        return true;
    const auto counted = [&](const QString& s) { return ignoreWhiteSpace ? trimmedWhiteSpace(s).size() : s.size(); };
    return counted(wouldBe) <= counted(current);
}

bool isAllDigits(const QString& s)
{
    for (QChar c : s)
        if (c.unicode() < 48 || c.unicode() > 57)
            return false;
    return true;
}

bool isTypedText(const QString& chars)
{
    const QList<uint> codePoints = chars.toUcs4();
    return !codePoints.isEmpty() && QChar::isPrint(char32_t(codePoints.first()));
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
