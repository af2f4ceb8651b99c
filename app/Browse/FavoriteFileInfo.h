#pragma once
// One favourite file: the file record plus the small thumbnail that the favourites bin button,
// the share sheet and the fly-in animation show for it. A thumbnail is "formal" when it was made
// from a larger decoded image of the file; informal ones (a thumbnail load, the caller of add)
// give way to the first formal one.

#include "Model/LMFileInfo.h"

#include <QImage>

class FavoriteFileInfo : public LMFileInfo {
public:
    explicit FavoriteFileInfo(const LMPathString& filePath) : LMFileInfo(filePath) {}
    // A record for a renamed file: the source's base information moved to the new path, its
    // thumbnail and formal flag.
    FavoriteFileInfo(const LMPathString& filePath, const FavoriteFileInfo* srcFileInfoBeforeRename);

    const QImage& smallThumb() const { return m_smallThumb; }
    void setSmallThumb(const QImage& thumb) { m_smallThumb = thumb; }
    bool formalSmallThumb() const { return m_formalSmallThumb; }
    void setFormalSmallThumb(bool formal) { m_formalSmallThumb = formal; }

    // The file changed on disk: forget what was learnt about it.
    virtual void updateForFileModified();

private:
    QImage m_smallThumb;
    bool m_formalSmallThumb = false;
};
