#pragma once
// One slide of a slideshow: the file's record plus the images the viewer had already decoded for
// it, handed over so that the first slides show without decoding them again.

#include "Model/LMFileInfo.h"
#include "Model/LMImage.h"

#include <memory>
#include <mutex>

class SlideshowFileInfo : public LMFileInfo {
public:
    explicit SlideshowFileInfo(const LMPathString& filePath) : LMFileInfo(filePath) {}

    // Scale type 11 (fits the main screen), or nullptr.
    LMImagePtr prevLoadedLargeFitInImage() const;
    void setPrevLoadedLargeFitInImage(LMImagePtr image);
    // Scale type 1 (the original), or nullptr.
    LMImagePtr prevLoadedOriginalImage() const;
    void setPrevLoadedOriginalImage(LMImagePtr image);
    // The better of the two handed-over images: the original when there is one.
    LMImagePtr bestPrevLoadedImage() const;

private:
    // Set on the main thread, read by the slide loader's worker.
    mutable std::mutex m_lock;
    LMImagePtr m_largeFitIn;
    LMImagePtr m_original;
};

using SlideshowFileInfoPtr = std::shared_ptr<SlideshowFileInfo>;
