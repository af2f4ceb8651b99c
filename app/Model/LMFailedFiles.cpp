#include "Model/LMFailedFiles.h"

#include "foundation/FileNames.h"
#include "foundation/Bundle.h"
#include "foundation/FileReplace.h"

void LMFailedFiles::add(const LMPathString &path, const QString &reason)
{
    m_paths.append(path);
    m_reasons.append(reason);
    if (kpv::isOutOfRoomError(reason))
        m_stoppedForRoom = true;
}

void LMFailedFiles::addNote(const LMPathString &path, const QString &note)
{
    m_notes.append(QStringLiteral("%1: %2").arg(kpv::displayFileName(LMPathString::lastPathComponent(path.path())), note));
}

QString LMFailedFiles::details() const
{
    const kpv::Bundle &bundle = kpv::Bundle::mainBundle();
    QStringList lines;
    for (qsizetype i = 0; i < m_paths.size() && i < kNamedInReport; ++i) {
        const QString why = m_reasons.value(i).isEmpty() ? bundle.localizedString(QStringLiteral("IDS_FailedForUnknownReason"))
                                                         : m_reasons.value(i);
        lines << QStringLiteral("%1: %2").arg(kpv::displayFileName(LMPathString::lastPathComponent(m_paths[i].path())), why);
    }
    if (m_paths.size() > kNamedInReport)
        lines << bundle.localizedStringWithFormat(QStringLiteral("IDS_AndMoreFailedFiles"), long(m_paths.size() - kNamedInReport));
    for (qsizetype i = 0; i < m_notes.size() && i < kNamedInReport; ++i)
        lines << m_notes[i];
    if (m_notes.size() > kNamedInReport)
        lines << bundle.localizedStringWithFormat(QStringLiteral("IDS_AndMoreFailedFiles"), long(m_notes.size() - kNamedInReport));
    if (m_stoppedForRoom && m_notTried > 0)
        lines << bundle.localizedStringWithFormat(QStringLiteral("IDS_RunStoppedNoRoom"), long(m_notTried));
    else if (m_stoppedForRoom)
        lines << bundle.localizedString(QStringLiteral("IDS_NoRoomLeft"));
    lines << bundle.localizedString(QStringLiteral("IDS_OriginalsUnchanged"));
    return lines.join(QLatin1Char('\n'));
}
