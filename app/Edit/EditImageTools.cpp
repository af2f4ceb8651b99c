#include "Edit/EditImageTools.h"

#include "Model/LMFileImgBaseInfo.h"
#include "Model/LMImage.h"

QImage EditImageTools::uprightImage(const QImage &stored, const LMFileImgBaseInfo &info)
{
    return LMImage::uprightImage(stored, info);
}
