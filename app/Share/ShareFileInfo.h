#pragma once
// One file handed to the share flow: its path and base information (from LMFileInfo), the small
// thumbnail the sheet shows, and the decoded full-size image when the caller already has it.

#include "Model/LMFileInfo.h"
#include "Model/LMImage.h"

#include <QImage>

#include <memory>

class ShareFileInfo : public LMFileInfo {
public:
    explicit ShareFileInfo(const LMPathString& filePath) : LMFileInfo(filePath) {}

    const QImage& rawThumb() const { return m_rawThumb; }
    void setRawThumb(const QImage& thumb) { m_rawThumb = thumb; }
    const LMImagePtr& originalImage() const { return m_originalImage; }
    void setOriginalImage(LMImagePtr image) { m_originalImage = std::move(image); }
    // The turn the user made on screen was written into the file just before it was handed over:
    // a hand-over that fails then must not say the photo is unchanged.
    bool turnSaved() const { return m_turnSaved; }
    void setTurnSaved(bool saved) { m_turnSaved = saved; }

private:
    QImage m_rawThumb;
    LMImagePtr m_originalImage;
    bool m_turnSaved = false;
};

using ShareFileInfoPtr = std::shared_ptr<ShareFileInfo>;
