#pragma once

// The sharp regions of the current file: which tiles of the picture, at which reduction, are
// decoded or on their way, the bands of tiles still to decode for what the view shows, and a
// bound on the memory they hold (the tiles the view shows stay; the others go, least recently
// shown first). Display-free and main-thread only, apart from cutBand, which workers call.

#include "Model/LMFileImgBaseInfo.h"
#include "Model/LMPathString.h"
#include "View/LMRegionTile.h"

#include <QPointF>
#include <QRect>
#include <QRectF>

#include <cstdint>
#include <map>
#include <set>
#include <tuple>
#include <vector>

class NavRegionCache {
public:
    // Tiles measure this many pixels of their reduction each way: one texture tile each.
    static constexpr int kTileSize = 510;
    // The largest picture decoded whole for a zoomed-in view (four bytes a pixel, held while it is
    // shown); beyond it the view shows regions of the file.
    static constexpr double kMaxWholePicturePixels = 32e6;
    // Whether a picture of this size is held whole for a zoomed-in view: within the bound above
    // and within what all decodes may hold at once.
    static bool holdsWhole(const QSizeF &size);
    // What the tiles of one file may hold at once (besides those shown), counting the pixels of
    // each band once however many of its tiles are kept.
    static constexpr uint64_t kMaxBytes = uint64_t(160) << 20;

    // The coarsest reduction (8, 4, 2 or 1) whose pixels show the picture at `scale` (device
    // pixels per picture pixel) without enlarging them.
    static int reductionForScale(double scale);
    static QSize reducedSize(const QSizeF &raw, int reduction);

    // A row of neighbouring tiles missing from the cache, decoded in one go: `decodeRect` holds
    // them and a one-pixel ring of their neighbours (pixels of the reduced picture).
    struct Band {
        uint64_t generation = 0;
        int reduction = 1;
        QSize reducedSize;
        QRect decodeRect;
        std::vector<QRect> tiles;
    };

    // Keeps the tiles when the file and its description are the same; otherwise starts empty.
    void resetFor(const LMPathString &path, const LMFileImgBaseInfoPtr &imageBaseInfo);
    void clear();
    const LMPathString &path() const { return m_path; }
    const LMFileImgBaseInfoPtr &imageBaseInfo() const { return m_base; }
    uint64_t generation() const { return m_generation; }

    // The bands to decode so that `rawRect` (picture pixels) is covered at `reduction`, the rows
    // nearest `rawFocus` first; their tiles count as on their way from now on. A tile whose
    // pixels finer tiles down to `finestStandIn` hold, or will, is not decoded again (the view
    // draws those instead).
    std::vector<Band> bandsToDecode(const QRectF &rawRect, int reduction, QPointF rawFocus, int finestStandIn);
    // The tiles of a decoded band (worker threads); empty when the pixels do not fit the band.
    static std::vector<LMRegionTilePtr> cutBand(const Band &band, const LMImagePtr &pixels);
    // Files the tiles of a band (or, with none, lets its tiles be asked for again). Those of an
    // earlier generation are dropped. Then sheds the tiles beyond the bound that do not meet
    // `shownRawRect`.
    void fileBand(const Band &band, const std::vector<LMRegionTilePtr> &tiles, const QRectF &shownRawRect);
    // Every tile in the cache, coarse reductions first.
    std::vector<LMRegionTilePtr> tiles() const;
    bool hasPendingBands() const { return !m_pending.empty(); }
    uint64_t bytes() const { return m_bytes; }

private:
    using Key = std::tuple<int, int, int>; // reduction, column, row
    struct Entry {
        LMRegionTilePtr tile;
        uint64_t lastUse = 0;
    };
    void shed(const QRectF &shownRawRect);
    // Counts a tile in or out of the memory held: its band's pixels with the first of its tiles,
    // out with the last.
    void hold(const LMRegionTilePtr &tile, bool held);
    // Whether finer tiles, down to `finest`, decoded or on their way, hold every pixel of the tile.
    bool coveredByFiner(int reduction, int column, int row, int finest) const;

    LMPathString m_path;
    LMFileImgBaseInfoPtr m_base;
    uint64_t m_generation = 1;
    uint64_t m_clock = 0;
    uint64_t m_bytes = 0;
    std::map<Key, Entry> m_tiles;
    std::set<Key> m_pending;
    std::map<const void *, uint64_t> m_buffers; // tiles kept of each band
};
