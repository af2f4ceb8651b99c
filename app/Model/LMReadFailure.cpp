#include "Model/LMReadFailure.h"

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
    for (const QLatin1String step : {QLatin1String("decoding failed: "), QLatin1String("decoding failed, ")})
        if (why.startsWith(step))
            why = why.mid(step.size());
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
