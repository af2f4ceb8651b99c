#include "Model/NavSortFileInfo.h"

#include <QTimeZone>

QDateTime NavSortFileInfo::fileModificationDate()
{
    std::lock_guard lock(m_lock);
    if (!m_hasDate) {
        m_date = m_filePath.dateModified();
        if (!m_date.isValid())
            m_date = QDateTime::fromSecsSinceEpoch(0, Qt::UTC);
        m_hasDate = true;
    }
    return m_date;
}

void NavSortFileInfo::setFileModificationDate(const QDateTime &date)
{
    std::lock_guard lock(m_lock);
    // An invalid date forgets the held one, so the next request reads the file again.
    m_date = date;
    m_hasDate = date.isValid();
}

bool NavSortFileInfo::hasFileModificationDate() const
{
    std::lock_guard lock(m_lock);
    return m_hasDate;
}
