// GIF through giflib, walked record by record so that every frame size is checked against the
// limits before a pixel is allocated (a slurp of the whole file would let a tiny file claim
// gigabytes). Frames are composited on the logical screen as a browser shows them: each frame
// answers the whole canvas after the previous frame's disposal.

#include "FormatDecoder.h"
#include "imageio/DecodeBudget.h"
#include "imageio/GifAnimation.h"
#include "imageio/ImageLimits.h"
#include "imageio/ImageProperties.h"
#include "imageio/ContentTypes.h"

#include <gif_lib.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <vector>

namespace kpv {
namespace {

struct MemoryInput {
    const GifByteType* data = nullptr;
    size_t size = 0;
    size_t pos = 0;
};

extern "C" int readGifBytes(GifFileType* gif, GifByteType* out, int length)
{
    auto* in = static_cast<MemoryInput*>(gif->UserData);
    if (length <= 0)
        return 0;
    const size_t n = std::min(size_t(length), in->size - in->pos);
    std::memcpy(out, in->data + in->pos, n);
    in->pos += n;
    return int(n);
}

struct FrameRecord {
    int left = 0, top = 0, width = 0, height = 0;
    bool interlaced = false;
    int delayCentiseconds = 0;
    int disposal = 0;
    int transparentIndex = -1;
};

// An open giflib handle over the bytes, closed on destruction.
class GifHandle {
public:
    explicit GifHandle(const QByteArray& data)
    {
        m_input.data = reinterpret_cast<const GifByteType*>(data.constData());
        m_input.size = size_t(data.size());
        int err = 0;
        m_gif = DGifOpen(&m_input, readGifBytes, &err);
    }
    ~GifHandle()
    {
        if (m_gif) {
            int err = 0;
            DGifCloseFile(m_gif, &err);
        }
    }
    GifFileType* get() const { return m_gif; }

private:
    MemoryInput m_input;
    GifFileType* m_gif = nullptr;
};

// GIF89a 23: graphic control extension.
void readGraphicControl(const GifByteType* block, FrameRecord& frame)
{
    if (block[0] < 4)
        return;
    const int packed = block[1];
    frame.disposal = (packed >> 2) & 7;
    frame.delayCentiseconds = block[2] | (block[3] << 8);
    frame.transparentIndex = (packed & 1) ? block[4] : -1;
}

// The colour table as the screen's four bytes a pixel (red, green, blue, opaque).
std::vector<uint32_t> screenColours(const ColorMapObject* map)
{
    std::vector<uint32_t> colours(size_t(std::clamp(map->ColorCount, 0, 256)));
    for (size_t i = 0; i < colours.size(); ++i) {
        const GifColorType& c = map->Colors[i];
        const uint8_t bytes[4] = {c.Red, c.Green, c.Blue, 255};
        std::memcpy(&colours[i], bytes, 4);
    }
    return colours;
}

class GifDecoder final : public FormatDecoder {
public:
    bool open(const QByteArray& data, QString* error) override
    {
        m_data = data;
        GifHandle handle(m_data);
        GifFileType* gif = handle.get();
        if (!gif) {
            if (error)
                *error = QStringLiteral("not a readable GIF file");
            return false;
        }
        m_screen = QSize(gif->SWidth, gif->SHeight);
        const bool noScreen = gif->SWidth <= 0 || gif->SHeight <= 0;
        if (!noScreen && !ImageLimits::frameAllowed(uint64_t(gif->SWidth), uint64_t(gif->SHeight))) {
            if (error)
                *error = QStringLiteral("GIF screen of %1 x %2 pixels exceeds the size limit")
                             .arg(gif->SWidth)
                             .arg(gif->SHeight);
            return false;
        }
        walk(gif, nullptr, -1);
        if (m_frames.empty()) {
            if (error)
                *error = QStringLiteral("GIF file has no readable frame");
            return false;
        }
        const FrameRecord& first = m_frames.front();
        const int firstRight = std::max(0, first.left) + std::max(0, first.width);
        const int firstBottom = std::max(0, first.top) + std::max(0, first.height);
        if (!noScreen && first.width > 0 && first.height > 0 &&
            (firstRight > m_screen.width() || firstBottom > m_screen.height())) {
            // A first frame larger than the logical screen (a writer's mistake) enlarges the
            // screen to hold it, as browsers do, rather than showing a corner of the picture.
            const QSize screen(std::max(m_screen.width(), firstRight), std::max(m_screen.height(), firstBottom));
            if (!ImageLimits::frameAllowed(uint64_t(screen.width()), uint64_t(screen.height()))) {
                if (error)
                    *error = QStringLiteral("GIF frame of %1 x %2 pixels exceeds the size limit").arg(screen.width()).arg(screen.height());
                return false;
            }
            m_screen = screen;
        }
        if (noScreen) {
            // A logical screen of no size is taken as large as the frames reach, as other
            // readers take it.
            int width = 0, height = 0;
            for (const FrameRecord& f : m_frames) {
                width = std::max(width, std::max(0, f.left) + std::max(0, f.width));
                height = std::max(height, std::max(0, f.top) + std::max(0, f.height));
            }
            m_screen = QSize(width, height);
            if (!ImageLimits::frameAllowed(uint64_t(width), uint64_t(height))) {
                if (error)
                    *error = QStringLiteral("GIF screen and frames of %1 x %2 pixels are empty or exceed the size limit")
                                 .arg(width)
                                 .arg(height);
                return false;
            }
        }
        return true;
    }

    QString type() const override { return ContentTypes::kGif; }
    int frameCount() const override { return int(m_frames.size()); }
    QSize frameSize(int) const override { return m_screen; }

    QImage decode(int index, int, QString* error) override
    {
        if (index < 0 || index >= int(m_frames.size())) {
            if (error)
                *error = QStringLiteral("no GIF frame %1").arg(index);
            return {};
        }
        // While the animation of this file lives, its screen answers: composing the frame again
        // here would take a second screen beside the one it holds.
        if (const std::shared_ptr<const GifAnimation> animation = m_animation.lock();
            animation && index < animation->frameCount()) {
            const QImage shown = animation->frame(index);
            if (!shown.isNull())
                return shown;
        }
        // A frame after one that cannot be composed cannot be either: it fails at once, rather
        // than composing every frame before the damage again to fail there.
        if (index >= m_brokenFrom) {
            if (error)
                *error = QStringLiteral("GIF frame %1 is damaged").arg(m_brokenFrom);
            return {};
        }
        // Frames come in order; continue from the last one rather than starting over.
        if (m_canvas.isNull() || index != m_nextIndex) {
            m_canvas = QImage();
            m_nextIndex = 0;
        }
        // Only the frame asked for is copied out, charged as every frame is; those before it are
        // only drawn.
        while (m_nextIndex <= index) {
            if (!composeNext(error))
                return {};
        }
        if (!imageio_detail::reserveDecodeBytes(screenBytes(), error))
            return {};
        return m_canvas.copy();
    }

    QVariantMap formatProperties(int index) const override
    {
        QVariantMap gif;
        if (index >= 0 && index < int(m_frames.size())) {
            const double delay = m_frames[size_t(index)].delayCentiseconds / 100.0;
            gif.insert(kCGImagePropertyGIFUnclampedDelayTime, delay);
            // Very short delays are played at 0.1 s, as browsers do.
            gif.insert(kCGImagePropertyGIFDelayTime, delay < 0.02 ? 0.1 : delay);
        }
        if (m_loopCount >= 0)
            gif.insert(kCGImagePropertyGIFLoopCount, m_loopCount);
        QVariantMap map;
        map.insert(kCGImagePropertyGIFDictionary, gif);
        // Every GIF picture is palette indices (GIF89a 22): one written again as PNG stays so.
        map.insert(kCGImagePropertyIsIndexed, true);
        return map;
    }

    std::shared_ptr<const GifAnimation> animation(QString* error) override
    {
        if (!imageio_detail::gifCanHold(uint64_t(m_data.size()), uint64_t(m_screen.width()), uint64_t(m_screen.height()))) {
            if (error)
                *error = QStringLiteral("the GIF file is far too short for %1 x %2 pixels")
                             .arg(m_screen.width())
                             .arg(m_screen.height());
            return nullptr;
        }
        GifHandle handle(m_data);
        std::vector<std::shared_ptr<const GifAnimation::Frame>> frames;
        if (!handle.get()) {
            if (error)
                *error = QStringLiteral("not a readable GIF file");
            return nullptr;
        }
        // The indexes and the screens are charged to the decode budget before they are
        // allocated, for as long as the animation lives: at the most the frames found when the
        // file was opened may take, then at what they really took.
        QString why;
        DecodeBudget::Reservation reservation = DecodeBudget::shared().reserveKept(plannedBytes(), &why);
        if (!reservation.isValid()) {
            if (error)
                *error = why;
            return nullptr;
        }
        // A damaged frame ends the animation; the frames before it, and the rows of it that
        // decoded, still play.
        walk(handle.get(), nullptr, -1, &frames);
        if (frames.empty()) {
            if (error)
                *error = QStringLiteral("GIF file has no readable frame");
            return nullptr;
        }
        uint64_t indexBytes = 0;
        for (const auto& f : frames)
            indexBytes += f->indexes.size();
        reservation.shrinkTo(indexBytes + GifAnimation::screenBytes(m_screen, frames));
        auto animation = std::make_shared<const GifAnimation>(m_screen, std::move(frames), std::move(reservation));
        m_animation = animation;
        return animation;
    }

private:
    // What animation() may allocate for the frames recorded at open: their indexes (no more
    // than the limit lets it keep) and the screens it composes on.
    uint64_t plannedBytes() const
    {
        uint64_t indexes = 0;
        bool restores = false;
        for (const FrameRecord& f : m_frames) {
            if (f.width > 0 && f.height > 0)
                indexes = std::min(ImageLimits::kMaxDecodedBytes, indexes + uint64_t(f.width) * uint64_t(f.height));
            restores = restores || f.disposal == 3;
        }
        const uint64_t screen = uint64_t(m_screen.width()) * uint64_t(m_screen.height()) * 4;
        return indexes + (restores ? 2 : 1) * screen;
    }

    // Walks the records from frame `first` on (where the handle stands). With `pixels` and `all`
    // null it only records the frames (open); with `pixels` it decodes frame `target` into
    // *pixels, skipping the data of the frames before it; with `all` it decodes every frame into
    // it, as far as the frames decode.
    bool walk(GifFileType* gif, std::vector<GifByteType>* pixels, int target,
              std::vector<std::shared_ptr<const GifAnimation::Frame>>* all = nullptr, int first = 0)
    {
        uint64_t allBytes = 0;
        FrameRecord pending;
        int index = first;
        for (;;) {
            GifRecordType record;
            if (DGifGetRecordType(gif, &record) == GIF_ERROR)
                return false;
            if (record == TERMINATE_RECORD_TYPE)
                return true;
            if (record == EXTENSION_RECORD_TYPE) {
                int code = 0;
                GifByteType* block = nullptr;
                if (DGifGetExtension(gif, &code, &block) == GIF_ERROR)
                    return false;
                bool netscape = false;
                bool first = true;
                while (block) {
                    if (code == GRAPHICS_EXT_FUNC_CODE && first)
                        readGraphicControl(block, pending);
                    else if (code == APPLICATION_EXT_FUNC_CODE && first)
                        netscape = block[0] >= 11 && (!std::memcmp(block + 1, "NETSCAPE2.0", 11) ||
                                                      !std::memcmp(block + 1, "ANIMEXTS1.0", 11));
                    else if (netscape && block[0] >= 3 && block[1] == 1 && m_loopCount < 0)
                        m_loopCount = block[2] | (block[3] << 8);
                    first = false;
                    if (DGifGetExtensionNext(gif, &block) == GIF_ERROR)
                        return false;
                }
                continue;
            }
            if (record != IMAGE_DESC_RECORD_TYPE)
                continue;
            if (DGifGetImageDesc(gif) == GIF_ERROR)
                return false;
            // The library keeps a record of every frame read, in one array grown by a frame at a
            // time: kept, a file of thousands of tiny frames would cost time and memory growing
            // with the square of their number. Frames are read here one by one; none is wanted.
            GifFreeSavedImages(gif);
            gif->ImageCount = 0;
            FrameRecord frame = pending;
            pending = FrameRecord();
            frame.left = gif->Image.Left;
            frame.top = gif->Image.Top;
            frame.width = gif->Image.Width;
            frame.height = gif->Image.Height;
            frame.interlaced = gif->Image.Interlace;
            // A frame of no pixels draws nothing but still takes its place and delay in the
            // animation; its data is skipped like that of any frame before the target.
            const bool empty = frame.width <= 0 || frame.height <= 0;
            if (!empty && !ImageLimits::frameAllowed(uint64_t(frame.width), uint64_t(frame.height)))
                return false;
            if (pixels && index == target && empty) {
                pixels->clear();
                return true;
            }
            if (all && !empty) {
                // Every frame's indexes are kept: their total answers to the same limit as
                // decoded pixels, and no frame is larger than its bytes can describe.
                const uint64_t bytes = uint64_t(frame.width) * uint64_t(frame.height);
                if (!imageio_detail::gifCanHold(uint64_t(m_data.size()), uint64_t(frame.width), uint64_t(frame.height)) ||
                    bytes > ImageLimits::kMaxDecodedBytes - allBytes)
                    return false;
                allBytes += bytes;
                auto decoded = std::make_shared<GifAnimation::Frame>();
                decoded->rect = QRect(frame.left, frame.top, frame.width, frame.height);
                decoded->disposal = frame.disposal;
                decoded->transparentIndex = frame.transparentIndex;
                const ColorMapObject* map = gif->Image.ColorMap ? gif->Image.ColorMap : gif->SColorMap;
                if (!map)
                    return false;
                decoded->colours = screenColours(map);
                decoded->indexes.assign(size_t(bytes), 0);
                std::vector<char> rowsDone(size_t(frame.height), 0);
                bool whole = true, any = false;
                for (int row : rowOrder(frame.height, frame.interlaced)) {
                    if (DGifGetLine(gif, decoded->indexes.data() + size_t(row) * size_t(frame.width), frame.width) ==
                        GIF_ERROR) {
                        whole = false;
                        break;
                    }
                    rowsDone[size_t(row)] = 1;
                    any = true;
                }
                if (!whole)
                    decoded->rowsDone = std::move(rowsDone);
                // As when frames are counted: a damaged frame plays only as the first.
                if (any && (whole || all->empty()))
                    all->push_back(std::move(decoded));
                if (!whole)
                    return false;
                ++index;
                continue;
            }
            if (pixels && index == target) {
                if (!imageio_detail::gifCanHold(uint64_t(m_data.size()), uint64_t(frame.width), uint64_t(frame.height)))
                    return false;
                pixels->assign(size_t(frame.width) * size_t(frame.height), 0);
                m_rowsDone.assign(size_t(frame.height), 0);
                bool any = false;
                for (int row : rowOrder(frame.height, frame.interlaced)) {
                    // Damaged image data: the rows decoded before the damage still show.
                    if (DGifGetLine(gif, pixels->data() + size_t(row) * size_t(frame.width), frame.width) == GIF_ERROR)
                        return any;
                    m_rowsDone[size_t(row)] = 1;
                    any = true;
                }
                return true;
            }
            // Skip the image data without decoding it. A file cut short or damaged inside its
            // first frame still has that frame, to show as far as it decodes.
            int codeSize = 0;
            GifByteType* code = nullptr;
            bool whole = DGifGetCode(gif, &codeSize, &code) != GIF_ERROR;
            while (whole && code)
                whole = DGifGetCodeNext(gif, &code) != GIF_ERROR;
            if (!whole) {
                if (!pixels && !all && m_frames.empty() && !empty)
                    m_frames.push_back(frame);
                return false;
            }
            if (!pixels && !all)
                m_frames.push_back(frame);
            if (all) {
                // A frame of no pixels takes its place and its disposal in the animation.
                auto nothing = std::make_shared<GifAnimation::Frame>();
                nothing->rect = QRect(frame.left, frame.top, 0, 0);
                nothing->disposal = frame.disposal;
                all->push_back(std::move(nothing));
            }
            ++index;
        }
    }

    // GIF89a appendix E: interlaced rows come in four passes.
    static std::vector<int> rowOrder(int height, bool interlaced)
    {
        std::vector<int> rows;
        rows.reserve(size_t(height));
        if (!interlaced) {
            for (int y = 0; y < height; ++y)
                rows.push_back(y);
            return rows;
        }
        static const int start[4] = {0, 4, 2, 1};
        static const int step[4] = {8, 8, 4, 2};
        for (int pass = 0; pass < 4; ++pass)
            for (int y = start[pass]; y < height; y += step[pass])
                rows.push_back(y);
        return rows;
    }

    uint64_t screenBytes() const { return uint64_t(m_screen.width()) * uint64_t(m_screen.height()) * 4; }

    // Draws the next frame on the screen; false (with *error) when it cannot be.
    bool composeNext(QString* error)
    {
        const int index = m_nextIndex;
        const FrameRecord& frame = m_frames[size_t(index)];
        if (m_canvas.isNull()) {
            if (!imageio_detail::gifCanHold(uint64_t(m_data.size()), uint64_t(m_screen.width()), uint64_t(m_screen.height()))) {
                if (error)
                    *error = QStringLiteral("the GIF file is far too short for %1 x %2 pixels")
                                 .arg(m_screen.width())
                                 .arg(m_screen.height());
                return false;
            }
            m_canvas = imageio_detail::allocateFrame(m_screen.width(), m_screen.height(), error);
            if (m_canvas.isNull())
                return false;
            m_canvas.fill(0);
        } else if (index > 0) {
            applyDisposal(m_frames[size_t(index) - 1]);
        }
        if (frame.disposal == 3) {
            if (!imageio_detail::reserveDecodeBytes(screenBytes(), error))
                return false;
            m_previous = m_canvas.copy();
        }

        // Frames asked for in order are read on from where the last one ended: starting over at
        // every frame made a walk through all the frames before it, and a file of tens of
        // thousands of tiny frames took minutes.
        if (!m_reader || m_readerNext != index) {
            m_reader = std::make_unique<GifHandle>(m_data);
            m_readerNext = 0;
        }
        GifFileType* gif = m_reader->get();
        std::vector<GifByteType> pixels;
        const bool emptyFrame = frame.width <= 0 || frame.height <= 0;
        const bool read = gif && walk(gif, &pixels, index, nullptr, m_readerNext);
        // The handle stands after the frame's data only when all of it was read.
        const bool whole = read && !emptyFrame && std::find(m_rowsDone.begin(), m_rowsDone.end(), 0) == m_rowsDone.end();
        m_readerNext = whole ? index + 1 : -1;
        if (!read || (pixels.empty() && !emptyFrame)) {
            if (error)
                *error = QStringLiteral("GIF frame %1 is damaged").arg(index);
            m_canvas = QImage();
            m_reader.reset();
            m_brokenFrom = index;
            return false;
        }
        const ColorMapObject* map = gif->Image.ColorMap ? gif->Image.ColorMap : gif->SColorMap;
        if (!map) {
            if (error)
                *error = QStringLiteral("GIF frame %1 has no colour table").arg(index);
            m_canvas = QImage();
            m_brokenFrom = index;
            return false;
        }
        // Frames reaching past the logical screen are clipped to it; rows lost to damage (or a
        // frame of no width) leave what was beneath.
        GifAnimation::Frame drawn;
        drawn.rect = QRect(frame.left, frame.top, emptyFrame ? 0 : frame.width, emptyFrame ? 0 : frame.height);
        drawn.transparentIndex = frame.transparentIndex;
        drawn.colours = screenColours(map);
        drawn.indexes = std::move(pixels);
        drawn.rowsDone = std::move(m_rowsDone);
        GifAnimation::draw(&m_canvas, drawn);
        m_nextIndex = index + 1;
        return true;
    }

    void applyDisposal(const FrameRecord& frame)
    {
        GifAnimation::Frame previous;
        previous.rect = QRect(frame.left, frame.top, frame.width, frame.height);
        previous.disposal = frame.disposal;
        GifAnimation::dispose(&m_canvas, &m_previous, previous);
    }

    QByteArray m_data;
    QSize m_screen;
    std::vector<FrameRecord> m_frames;
    int m_loopCount = -1;
    QImage m_canvas;    // the screen after frame m_nextIndex - 1
    QImage m_previous;  // the screen before a frame that restores it
    int m_nextIndex = 0;
    std::vector<char> m_rowsDone;  // rows of the frame being drawn that decoded
    std::unique_ptr<GifHandle> m_reader;  // the file as read to frame m_readerNext - 1
    int m_readerNext = -1;                // the frame m_reader reads next; -1: none
    int m_brokenFrom = INT_MAX;           // the first frame found damaged
    std::weak_ptr<const GifAnimation> m_animation;  // the last one handed out
};

}  // namespace

namespace imageio_detail {
bool gifCanHold(uint64_t fileBytes, uint64_t width, uint64_t height)
{
    // A code of the image data is at least three bits, and once the code table is full (twelve
    // bits a code) none stands for more than 4096 pixels; 4096 pixels a byte of the file is more
    // than any GIF holds, so a logical screen or frame beyond that is made of few hostile bytes.
    return width * height <= fileBytes * 4096;
}
}  // namespace imageio_detail

std::unique_ptr<FormatDecoder> makeGifDecoder() { return std::make_unique<GifDecoder>(); }

}  // namespace kpv
