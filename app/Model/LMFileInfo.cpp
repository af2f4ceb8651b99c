#include "Model/LMFileInfo.h"

LMFileImgBaseInfoPtr LMFileInfo::imgBaseInfo() const
{
    std::lock_guard lock(m_baseInfoLock);
    return m_imgBaseInfo;
}

void LMFileInfo::setImgBaseInfo(LMFileImgBaseInfoPtr info)
{
    std::lock_guard lock(m_baseInfoLock);
    m_imgBaseInfo = std::move(info);
}

bool LMFileInfo::fileModified() const
{
    const LMFileImgBaseInfoPtr info = imgBaseInfo();
    return info ? info->fileModified() : false;
}
