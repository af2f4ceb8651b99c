#pragma once

// One file and, once loaded, its base information. The base of the view's navigation record and of
// the favourites, share and slideshow file records. A worker sets the base information while the
// main thread reads it, so that member is guarded.

#include "Model/LMFileImgBaseInfo.h"
#include "Model/LMPathString.h"

#include <memory>
#include <mutex>

class LMFileInfo {
public:
    explicit LMFileInfo(const LMPathString &filePath) : m_filePath(filePath) {}
    virtual ~LMFileInfo() = default;
    LMFileInfo(const LMFileInfo &) = delete;
    LMFileInfo &operator=(const LMFileInfo &) = delete;

    const LMPathString &filePath() const { return m_filePath; }

    LMFileImgBaseInfoPtr imgBaseInfo() const;
    void setImgBaseInfo(LMFileImgBaseInfoPtr info);

    // False without base information, else whether the file changed since it was read.
    bool fileModified() const;

private:
    const LMPathString m_filePath;
    mutable std::mutex m_baseInfoLock;
    LMFileImgBaseInfoPtr m_imgBaseInfo;
};
