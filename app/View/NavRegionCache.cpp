#include "View/NavRegionCache.h"

#include "imageio/DecodeBudget.h"

#include <algorithm>
#include <cmath>
#include <cstring>

bool NavRegionCache::holdsWhole(const QSizeF &size)
{
    const double pixels = size.width() * size.height();
    return pixels <= kMaxWholePicturePixels && pixels * 4 <= double(kpv::DecodeBudget::shared().capacity());
}

int NavRegionCache::reductionForScale(double scale)
{
    for (int reduction : {8, 4, 2})
        if (scale * reduction <= 1.0001)
            return reduction;
    return 1;
}

QSize NavRegionCache::reducedSize(const QSizeF &raw, int reduction)
{
    if (!(raw.width() >= 1 && raw.height() >= 1) || reduction < 1)
        return {};
    const auto side = [reduction](double v) { return int(std::min((std::floor(v) + reduction - 1) / reduction, 1e9)); };
    return QSize(side(raw.width()), side(raw.height()));
}

void NavRegionCache::resetFor(const LMPathString &path, const LMFileImgBaseInfoPtr &imageBaseInfo)
{
    if (path == m_path && imageBaseInfo && m_base && imageBaseInfo->isEqual(*m_base))
        return;
    clear();
    m_path = path;
    m_base = imageBaseInfo;
}

void NavRegionCache::clear()
{
    m_tiles.clear();
    m_pending.clear();
    m_buffers.clear();
    m_bytes = 0;
    m_path = LMPathString();
    m_base.reset();
    ++m_generation;
}

std::vector<NavRegionCache::Band> NavRegionCache::bandsToDecode(const QRectF &rawRect, int reduction, QPointF rawFocus,
                                                                int finestStandIn)
{
    std::vector<Band> bands;
    if (!m_base || rawRect.isEmpty())
        return bands;
    const QSizeF raw = m_base->rawFrameSize();
    const QSize size = reducedSize(raw, reduction);
    if (size.isEmpty())
        return bands;
    const double sx = size.width() / raw.width(), sy = size.height() / raw.height();
    const QRect wanted = QRectF(rawRect.x() * sx, rawRect.y() * sy, rawRect.width() * sx, rawRect.height() * sy)
                             .toAlignedRect()
                             .intersected(QRect(QPoint(0, 0), size));
    if (wanted.isEmpty())
        return bands;
    const int c0 = wanted.left() / kTileSize, c1 = wanted.right() / kTileSize;
    const int r0 = wanted.top() / kTileSize, r1 = wanted.bottom() / kTileSize;
    const QRect whole(QPoint(0, 0), size);
    const auto missing = [&](int column, int row) {
        const Key key{reduction, column, row};
        return !m_tiles.count(key) && !m_pending.count(key) && !coveredByFiner(reduction, column, row, finestStandIn);
    };
    // Runs of neighbouring missing tiles in each row; a run that repeats the one above it joins
    // that band, so that a block of rows decodes in one go (the rows above it are read once).
    struct Run {
        int first, last;
        size_t band;
    };
    std::vector<Run> above;
    for (int row = r0; row <= r1; ++row) {
        std::vector<Run> here;
        for (int column = c0; column <= c1;) {
            if (!missing(column, row)) {
                ++column;
                continue;
            }
            const int first = column;
            while (column <= c1 && missing(column, row))
                ++column;
            const int last = column - 1;
            size_t index = bands.size();
            for (const Run &r : above)
                if (r.first == first && r.last == last)
                    index = r.band;
            if (index == bands.size()) {
                Band band;
                band.generation = m_generation;
                band.reduction = reduction;
                band.reducedSize = size;
                bands.push_back(std::move(band));
            }
            for (int c = first; c <= last; ++c) {
                bands[index].tiles.push_back(QRect(c * kTileSize, row * kTileSize, kTileSize, kTileSize).intersected(whole));
                m_pending.insert(Key{reduction, c, row});
            }
            here.push_back({first, last, index});
        }
        above = std::move(here);
    }
    for (Band &band : bands) {
        QRect cover;
        for (const QRect &t : band.tiles)
            cover |= t;
        band.decodeRect = cover.adjusted(-1, -1, 1, 1).intersected(whole);
    }
    // The rows nearest the point the user looks at first.
    const double fy = rawFocus.y() * sy, fx = rawFocus.x() * sx;
    std::stable_sort(bands.begin(), bands.end(), [fx, fy](const Band &a, const Band &b) {
        const auto distance = [fx, fy](const QRect &r) {
            const double dy = std::max({0.0, r.top() - fy, fy - r.bottom()});
            const double dx = std::max({0.0, r.left() - fx, fx - r.right()});
            return dy * 4 + dx; // a row's rows cost alike; its columns matter less
        };
        return distance(a.decodeRect) < distance(b.decodeRect);
    });
    return bands;
}

bool NavRegionCache::coveredByFiner(int reduction, int column, int row, int finest) const
{
    // A tile's pixels at half its reduction lie in the 2 x 2 tiles below it, at a quarter in the
    // 4 x 4 tiles, and so on (the tiles measure the same in pixels of every reduction).
    const QSizeF raw = m_base->rawFrameSize();
    for (int finer = reduction / 2; finer >= std::max(finest, 1); finer /= 2) {
        const int k = reduction / finer;
        const QSize size = reducedSize(raw, finer);
        const int columns = (size.width() + kTileSize - 1) / kTileSize, rows = (size.height() + kTileSize - 1) / kTileSize;
        const int c1 = std::min(columns, (column + 1) * k), r1 = std::min(rows, (row + 1) * k);
        bool all = column * k < c1 && row * k < r1;
        for (int r = row * k; all && r < r1; ++r)
            for (int c = column * k; all && c < c1; ++c)
                all = m_tiles.count(Key{finer, c, r}) || m_pending.count(Key{finer, c, r});
        if (all)
            return true;
    }
    return false;
}

std::vector<LMRegionTilePtr> NavRegionCache::cutBand(const Band &band, const LMImagePtr &pixels)
{
    std::vector<LMRegionTilePtr> tiles;
    if (!pixels || pixels->width() != uint64_t(band.decodeRect.width()) ||
        pixels->height() != uint64_t(band.decodeRect.height()) || pixels->bitsPerPixel() != 32 ||
        !pixels->hasUsableFrame(0) || pixels->frameDatas().size() != 1)
        return tiles;
    // Each tile takes the rows of the band it needs, in place: the band's pixels are held once.
    const LMDataBlock &data = pixels->frameDatas()[0];
    const std::shared_ptr<const void> buffer = data;
    const uint64_t stride = pixels->bytesPerRow();
    const QRect whole(QPoint(0, 0), band.reducedSize);
    for (const QRect &t : band.tiles) {
        const QRect piece = t.adjusted(-1, -1, 1, 1).intersected(whole).intersected(band.decodeRect);
        if (!piece.contains(t))
            return {};
        const uint64_t top = uint64_t(piece.top() - band.decodeRect.top()), rows = uint64_t(piece.height());
        auto block = LMData::createWithOwner(const_cast<uint8_t *>(data->bytes()) + top * stride, rows * stride, buffer);
        if (!block)
            return {};
        auto tile = std::make_shared<LMRegionTile>();
        tile->reduction = band.reduction;
        tile->reducedSize = band.reducedSize;
        tile->rect = t;
        tile->inset = QPoint(t.x() - band.decodeRect.x(), t.y() - piece.y());
        tile->pixels = std::make_shared<const LMImage>(pixels->bitmapInfo(), 32u, stride, pixels->width(), rows,
                                                       QList<LMDataBlock>{std::move(block)}, pixels->originalImgBaseInfo());
        if (!tile->pixels->hasUsableFrame(0))
            return {};
        tile->buffer = buffer;
        tile->bufferBytes = stride * pixels->height();
        tiles.push_back(std::move(tile));
    }
    return tiles;
}

void NavRegionCache::hold(const LMRegionTilePtr &tile, bool held)
{
    uint64_t &refs = m_buffers[tile->buffer.get()];
    if (held && refs++ == 0)
        m_bytes += tile->bufferBytes;
    if (!held && --refs == 0) {
        m_bytes -= tile->bufferBytes;
        m_buffers.erase(tile->buffer.get());
    }
}

void NavRegionCache::fileBand(const Band &band, const std::vector<LMRegionTilePtr> &tiles, const QRectF &shownRawRect)
{
    if (band.generation != m_generation)
        return;
    for (const QRect &t : band.tiles)
        m_pending.erase(Key{band.reduction, t.x() / kTileSize, t.y() / kTileSize});
    for (const LMRegionTilePtr &tile : tiles) {
        const Key key{tile->reduction, tile->rect.x() / kTileSize, tile->rect.y() / kTileSize};
        auto &entry = m_tiles[key];
        if (entry.tile)
            hold(entry.tile, false);
        entry.tile = tile;
        entry.lastUse = ++m_clock;
        hold(tile, true);
    }
    shed(shownRawRect);
}

void NavRegionCache::shed(const QRectF &shownRawRect)
{
    if (m_bytes <= kMaxBytes || !m_base)
        return;
    const QSizeF raw = m_base->rawFrameSize();
    // Those shown now count as just used.
    for (auto &[key, entry] : m_tiles)
        if (entry.tile->rawRect(raw).intersects(shownRawRect))
            entry.lastUse = ++m_clock;
    std::vector<std::pair<uint64_t, Key>> order;
    for (const auto &[key, entry] : m_tiles)
        if (!entry.tile->rawRect(raw).intersects(shownRawRect))
            order.emplace_back(entry.lastUse, key);
    std::sort(order.begin(), order.end());
    for (const auto &[use, key] : order) {
        if (m_bytes <= kMaxBytes)
            break;
        hold(m_tiles[key].tile, false);
        m_tiles.erase(key);
    }
}

std::vector<LMRegionTilePtr> NavRegionCache::tiles() const
{
    std::vector<LMRegionTilePtr> list;
    for (const auto &[key, entry] : m_tiles)
        list.push_back(entry.tile);
    std::stable_sort(list.begin(), list.end(),
                     [](const LMRegionTilePtr &a, const LMRegionTilePtr &b) { return a->reduction > b->reduction; });
    return list;
}
