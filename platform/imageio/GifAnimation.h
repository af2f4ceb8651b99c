#pragma once

// An animated GIF held as its frames' own colour indexes (one byte a pixel of each frame's
// rectangle, a quarter of a composed frame or less) and composed on the logical screen when a
// frame is asked for, as a browser shows it: each frame drawn over what the previous frame's
// disposal left. One composed screen is kept, so playing the frames in order costs one frame's
// drawing each; asking for an earlier frame composes again from the first.
//
// Shared between threads as std::shared_ptr<const GifAnimation>: frame() may be called from any
// thread.

#include <QImage>
#include <QRect>
#include <QSize>

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace kpv {

class GifAnimation {
public:
    struct Frame {
        QRect rect;                // where the frame lies on the screen (it may reach past it)
        int disposal = 0;          // what happens to the frame's area before the next frame
        int transparentIndex = -1; // the index that leaves the screen as it is, or -1
        // The colour table in force, as the screen's four bytes (red, green, blue, 255).
        std::vector<uint32_t> colours;
        std::vector<uint8_t> indexes; // rect.width() x rect.height(), rows from the top
        // Rows that decoded (a damaged frame loses the rest); empty when all did.
        std::vector<char> rowsDone;
    };

    GifAnimation(QSize screen, std::vector<std::shared_ptr<const Frame>> frames);
    GifAnimation(const GifAnimation&) = delete;
    GifAnimation& operator=(const GifAnimation&) = delete;

    QSize size() const { return m_screen; }
    int frameCount() const { return int(m_frames.size()); }
    // The screen after frame `index` as premultiplied RGBA (transparent pixels are zero), rows
    // from the top; null for an index out of range or without the memory.
    QImage frame(int index) const;
    // The bytes the frames' indexes take.
    uint64_t indexBytes() const;

    // Draws `frame` over `screen` (premultiplied RGBA of the animation's size), clipped to it.
    static void draw(QImage* screen, const Frame& frame);
    // What `previous` leaves on `screen` before the next frame: its area cleared (disposal 2) or
    // the screen as it was before it (disposal 3, from `saved`, which is then released).
    static void dispose(QImage* screen, QImage* saved, const Frame& previous);

private:
    QSize m_screen;
    std::vector<std::shared_ptr<const Frame>> m_frames;
    mutable std::mutex m_mutex;
    mutable QImage m_canvas; // the screen after frame m_next - 1
    mutable QImage m_saved;  // the screen before a frame that asks for it back
    mutable int m_next = 0;
};

}  // namespace kpv
