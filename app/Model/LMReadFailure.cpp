#include "Model/LMReadFailure.h"

#include <QRegularExpression>

namespace {

thread_local LMReadFailure *t_innermost = nullptr;

// The reader's message as a person reads it: the file is named already where it is shown, and
// whether a step was a decode or an opening is no concern of theirs.
QString plainReason(const QString &path, QString why)
{
    why = why.trimmed();
    if (!path.isEmpty() && why.startsWith(path)) {
        why = why.mid(path.size());
        if (why.startsWith(QLatin1String(": ")))
            why = why.mid(2);
        else if (why.startsWith(QLatin1Char(' ')))
            why = QStringLiteral("it") + why;
    }
    // "decoding failed", "PNG decoding failed: ...": the step and the format go, the cause stays.
    static const QRegularExpression step(QStringLiteral("^(?:[A-Za-z0-9 ]+ )?decoding failed(?:[:,] *|$)"));
    why.remove(step);
    // A reader that gave no cause found bytes it could not make a picture of.
    if (why.isEmpty() || why.compare(QLatin1String("Unable to read image data"), Qt::CaseInsensitive) == 0)
        return QStringLiteral("its picture data is damaged or cut short");
    return why.trimmed();
}

} // namespace

LMReadFailure::LMReadFailure() : m_outer(t_innermost) { t_innermost = this; }

LMReadFailure::~LMReadFailure() { t_innermost = m_outer; }

void LMReadFailure::tell(const QString &path, const QString &why)
{
    LMReadFailure *scope = t_innermost;
    if (!scope || !scope->m_reason.isEmpty())
        return;
    scope->m_reason = plainReason(path, why);
}
