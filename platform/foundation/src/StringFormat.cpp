#include "foundation/StringFormat.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

namespace kpv {

namespace {

// Bounds on width and precision keep a hostile format from asking for huge buffers.
constexpr int kMaxFieldWidth = 256;

struct Spec {
    std::string flags;
    int width = -1;
    int precision = -1;
};

std::string cSpec(const Spec& s, const char* length, char conversion)
{
    std::string out = "%" + s.flags;
    if (s.width >= 0) {
        out += std::to_string(s.width);
    }
    if (s.precision >= 0) {
        out += "." + std::to_string(s.precision);
    }
    out += length;
    out += conversion;
    return out;
}

template <typename T>
QString cFormat(const std::string& fmtSpec, T value)
{
    char buffer[2 * kMaxFieldWidth + 400];
    const int n = std::snprintf(buffer, sizeof buffer, fmtSpec.c_str(), value);
    if (n < 0) {
        return {};
    }
    return QString::fromUtf8(buffer, std::min<int>(n, int(sizeof buffer) - 1));
}

QString pad(QString text, const Spec& s)
{
    if (s.width > text.size()) {
        const bool left = s.flags.find('-') != std::string::npos;
        const QString fill(s.width - text.size(), QLatin1Char(' '));
        text = left ? text + fill : fill + text;
    }
    return text;
}

} // namespace

QString formatString(const QString& format, const QVariantList& args)
{
    QString out;
    out.reserve(format.size());
    int nextArg = 0;
    const qsizetype n = format.size();
    qsizetype i = 0;
    while (i < n) {
        const QChar c = format[i];
        if (c != QLatin1Char('%')) {
            out += c;
            ++i;
            continue;
        }
        const qsizetype start = i++;
        if (i < n && format[i] == QLatin1Char('%')) {
            out += QLatin1Char('%');
            ++i;
            continue;
        }
        auto readNumber = [&](int& value) {
            bool any = false;
            value = 0;
            while (i < n && format[i].isDigit() && format[i].unicode() < 128) {
                value = std::min(value * 10 + (format[i].unicode() - '0'), 100000);
                ++i;
                any = true;
            }
            return any;
        };
        // Positional argument "%2$d".
        int argIndex = -1;
        {
            const qsizetype save = i;
            int number = 0;
            if (readNumber(number) && i < n && format[i] == QLatin1Char('$') && number >= 1) {
                argIndex = number - 1;
                ++i;
            } else {
                i = save;
            }
        }
        Spec fmtSpec;
        while (i < n && QStringView(u"-+ 0#").contains(format[i])) {
            fmtSpec.flags += char(format[i].unicode());
            ++i;
        }
        int number = 0;
        if (readNumber(number)) {
            fmtSpec.width = std::min(number, kMaxFieldWidth);
        }
        if (i < n && format[i] == QLatin1Char('.')) {
            ++i;
            readNumber(number);
            fmtSpec.precision = std::min(number, kMaxFieldWidth);
        }
        // Length modifiers only say how the caller passed the value; our arguments carry types.
        while (i < n && QStringView(u"hlqLzjt").contains(format[i])) {
            ++i;
        }
        if (i >= n) {
            out += format.mid(start); // a broken tail stays as it was
            break;
        }
        const char conversion = format[i].unicode() < 128 ? char(format[i].unicode()) : '\0';
        ++i;
        const int index = argIndex >= 0 ? argIndex : nextArg++;
        const QVariant arg = index < args.size() ? args.at(index) : QVariant();
        switch (conversion) {
        case '@':
        case 's': {
            QString text = arg.toString();
            if (fmtSpec.precision >= 0 && conversion == 's') {
                text.truncate(fmtSpec.precision);
            }
            out += pad(text, fmtSpec);
            break;
        }
        case 'd':
        case 'i':
            out += cFormat(cSpec(fmtSpec, "ll", 'd'), static_cast<long long>(arg.toLongLong()));
            break;
        case 'u':
        case 'x':
        case 'X':
        case 'o':
            out += cFormat(cSpec(fmtSpec, "ll", conversion), static_cast<unsigned long long>(arg.toULongLong()));
            break;
        case 'f':
        case 'F':
        case 'e':
        case 'E':
        case 'g':
        case 'G':
            out += cFormat(cSpec(fmtSpec, "", conversion), arg.toDouble());
            break;
        case 'c': {
            QString text;
            if (arg.typeId() == QMetaType::QString || arg.typeId() == QMetaType::QChar) {
                text = arg.toString().left(1);
            } else if (arg.isValid()) {
                const uint code = arg.toUInt();
                if (code > 0 && code <= 0x10FFFF) {
                    const char32_t u = code;
                    text = QString::fromUcs4(&u, 1);
                }
            }
            out += pad(text, fmtSpec);
            break;
        }
        default:
            out += format.mid(start, i - start); // unknown conversion: copied as written
            if (argIndex < 0) {
                --nextArg;
            }
            break;
        }
    }
    return out;
}

QString singleLine(const QString& text)
{
    const auto breaks = [](QChar c) {
        return c.category() == QChar::Other_Control || c.category() == QChar::Separator_Line ||
               c.category() == QChar::Separator_Paragraph;
    };
    if (std::none_of(text.begin(), text.end(), breaks))
        return text;
    QString out;
    out.reserve(text.size());
    bool inBreak = false;
    for (const QChar c : text) {
        if (!breaks(c)) {
            out += c;
            inBreak = false;
        } else if (!inBreak) {
            out += u' ';
            inBreak = true;
        }
    }
    return out;
}

} // namespace kpv
