#include "Browse/ThumbImageBrowserItem.h"

ThumbImageBrowserItem::ThumbImageBrowserItem(const LMPathString& filePath, const QDateTime& date)
    : m_filePath(filePath), m_fileModificationDate(date)
{
    makeImageUID();
}

void ThumbImageBrowserItem::updateForFileModified()
{
    m_fileModificationDate = m_filePath.dateModified();
    makeImageUID();
}

void ThumbImageBrowserItem::makeImageUID()
{
    m_imageUID = m_filePath.path() + (m_fileModificationDate.isValid() ? m_fileModificationDate.toString(Qt::ISODateWithMs) : QString());
}
