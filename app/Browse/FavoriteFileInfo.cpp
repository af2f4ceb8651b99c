#include "Browse/FavoriteFileInfo.h"

FavoriteFileInfo::FavoriteFileInfo(const LMPathString& filePath, const FavoriteFileInfo* src)
    : LMFileInfo(filePath)
{
    if (!src)
        return;
    if (const LMFileImgBaseInfoPtr base = src->imgBaseInfo())
        setImgBaseInfo(base->fileImgBaseInfoByReplaceFilePath(filePath));
    m_smallThumb = src->m_smallThumb;
    m_formalSmallThumb = src->m_formalSmallThumb;
}

void FavoriteFileInfo::updateForFileModified()
{
    setImgBaseInfo(nullptr);
    m_smallThumb = QImage();
    m_formalSmallThumb = false;
}
