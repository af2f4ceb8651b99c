#include "Edit/EditImageTools.h"

#include "Model/LMFileImgBaseInfo.h"
#include "Model/LMImageTools.h"

QImage EditImageTools::uprightImage(const QImage &stored, const LMFileImgBaseInfo &info)
{
    QImage out = stored;
    if (!out.isNull() && info.orientationAngle() != 0)
        out = LMImageTools::imageRotatedByAngle(out, int(info.orientationAngle()));
    if (!out.isNull() && info.isOrientationMirrored())
        out = out.mirrored(true, false);
    return out;
}
