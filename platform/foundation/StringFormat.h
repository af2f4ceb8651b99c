#pragma once
// printf-style formatting for user-visible texts whose format comes from the string table.
// Conversions: %@ and %s (any value as text), %d %i %ld %lld %u %lu %llu %zu (integers),
// %f %e %g with flags, width and precision (e.g. %.2f, %5.1f), %x %X, %c, %% and positional
// arguments (%1$@, %2$d). A missing argument formats as nothing and a wrong type is converted;
// a broken format is copied as it stands: a bad table entry never crashes.

#include <QString>
#include <QVariant>
#include <QVariantList>

namespace kpv {

QString formatString(const QString& format, const QVariantList& args);

// A text as a place that shows one line draws it: each run of line breaks and other control
// characters (a file name or a camera's text may hold them) becomes one space.
QString singleLine(const QString& text);

template <typename... Args>
QString stringWithFormat(const QString& format, const Args&... args)
{
    return formatString(format, QVariantList{QVariant::fromValue(args)...});
}

} // namespace kpv
