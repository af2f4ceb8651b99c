#include "Browse/ThumbImageBrowserItem.h"

#include "foundation/FileNames.h"
#include "imageio/FileAccess.h"

#include <sys/stat.h>

ThumbImageBrowserItem::ThumbImageBrowserItem(const LMPathString& filePath, const QDateTime& date)
    : m_filePath(filePath), m_fileModificationDate(date), m_hasDate(true)
{
    takeFileStamp();
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
        takeFileStamp();
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
    takeFileStamp();
    m_hasDate = true;
    makeImageUID();
}

QString ThumbImageBrowserItem::imageVersion() const
{
    fileModificationDate();
    return m_imageVersion;
}

void ThumbImageBrowserItem::takeFileStamp() const
{
    m_fileStamp = fileStamp(m_filePath);
    const FileStamp& s = m_fileStamp;
    m_imageVersion =
        s.valid ? kpv::fileVersionText(s.device, s.inode, s.size, s.changedSecs, s.changedNsec) : QString();
}

bool ThumbImageBrowserItem::wasReplaced() const
{
    if (!m_hasDate || !m_fileStamp.valid)
        return false;
    const FileStamp now = fileStamp(m_filePath);
    return now.valid && !(now == m_fileStamp);
}

ThumbImageBrowserItem::FileStamp ThumbImageBrowserItem::fileStamp(const LMPathString& path)
{
    struct stat st {};
    if (::stat(kpv::encodeFileName(path.path()).constData(), &st) != 0)
        return {};
    return {true, std::uint64_t(st.st_dev), std::uint64_t(st.st_ino), std::int64_t(st.st_size),
            std::int64_t(st.st_ctim.tv_sec), std::int64_t(st.st_ctim.tv_nsec)};
}

void ThumbImageBrowserItem::makeImageUID() const
{
    m_imageUID = m_filePath.path() + (m_fileModificationDate.isValid() ? m_fileModificationDate.toString(Qt::ISODateWithMs) : QString());
}
