#pragma once

// Pixel steps shared by crop mode and the batch tools.

#include <QImage>

class LMFileImgBaseInfo;

class EditImageTools {
public:
    // The stored pixels as the file asks them to be shown: turned by the orientation's angle, then
    // mirrored left to right for the mirrored orientations. Written files are marked upright, so
    // both steps have to be done in the pixels.
    static QImage uprightImage(const QImage &stored, const LMFileImgBaseInfo &info);
};
