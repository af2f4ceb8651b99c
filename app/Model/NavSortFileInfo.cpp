#include "Model/NavSortFileInfo.h"

#include <QTimeZone>

namespace {

QDateTime readDate(const LMPathString &path)
{
    const QDateTime date = path.dateModified();
    return date.isValid() ? date : QDateTime::fromSecsSinceEpoch(0, Qt::UTC);
}

} // namespace

QDateTime NavSortFileInfo::fileModificationDate()
{
    std::lock_guard lock(m_lock);
    if (!m_hasDate) {
        m_date = readDate(m_filePath);
        m_hasDate = true;
    }
    return m_date;
}

bool NavSortFileInfo::refreshFileModificationDate()
{
    std::lock_guard lock(m_lock);
    if (!m_hasDate)
        return false;
    const QDateTime date = readDate(m_filePath);
    if (date == m_date)
        return false;
    m_date = date;
    return true;
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
