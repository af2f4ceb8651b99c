#include "Browse/ThumbImageBrowserItem.h"

ThumbImageBrowserItem::ThumbImageBrowserItem(const LMPathString& filePath, const QDateTime& date)
    : m_filePath(filePath), m_fileModificationDate(date), m_hasDate(true)
{
    makeImageUID();
}

ThumbImageBrowserItem::ThumbImageBrowserItem(const LMPathString& filePath, DateSource dateSource)
    : m_filePath(filePath), m_dateSource(std::move(dateSource))
{
}

const QDateTime& ThumbImageBrowserItem::fileModificationDate() const
{
    if (!m_hasDate) {
        m_fileModificationDate = m_dateSource ? m_dateSource(m_filePath) : m_filePath.dateModified();
        m_hasDate = true;
        makeImageUID();
    }
    return m_fileModificationDate;
}

QString ThumbImageBrowserItem::imageUID() const
{
    fileModificationDate();
    return m_imageUID;
}

void ThumbImageBrowserItem::updateForFileModified()
{
    m_fileModificationDate = m_filePath.dateModified();
    m_hasDate = true;
    makeImageUID();
}

void ThumbImageBrowserItem::makeImageUID() const
{
    m_imageUID = m_filePath.path() + (m_fileModificationDate.isValid() ? m_fileModificationDate.toString(Qt::ISODateWithMs) : QString());
}
