#pragma once

// A sharp part of the shown picture, decoded from its file at the resolution a zoomed-in view
// needs, drawn over the picture the view holds. The pixels hold the tile with a one-pixel ring of
// its neighbours' pixels where the picture has them, so that neighbouring tiles meet without a
// seam under linear filtering: the rows of the band it was decoded in, which its neighbours in
// that band share rather than each copying its part.

#include "Model/LMImage.h"

#include <QPoint>
#include <QRect>
#include <QRectF>
#include <QSize>
#include <QSizeF>

#include <memory>

struct LMRegionTile {
    int reduction = 1;  // 1, 2, 4 or 8: the picture's pixels per tile pixel
    QSize reducedSize;  // the whole picture at that reduction
    QRect rect;         // the tile, in pixels of the reduced picture
    QPoint inset;       // where the tile starts inside `pixels`
    LMImagePtr pixels;
    // What holds the pixels, and its size: shared by the tiles of one band, whose memory goes
    // with the last of them.
    std::shared_ptr<const void> buffer;
    uint64_t bufferBytes = 0;

    // The part of the original picture the tile covers, for a raw frame of `raw`.
    QRectF rawRect(const QSizeF &raw) const
    {
        if (reducedSize.isEmpty())
            return {};
        const double sx = raw.width() / reducedSize.width(), sy = raw.height() / reducedSize.height();
        return QRectF(rect.x() * sx, rect.y() * sy, rect.width() * sx, rect.height() * sy);
    }
};

using LMRegionTilePtr = std::shared_ptr<const LMRegionTile>;
