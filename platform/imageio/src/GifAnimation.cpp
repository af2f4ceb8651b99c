#include "imageio/GifAnimation.h"

#include <algorithm>
#include <cstring>

namespace kpv {

GifAnimation::GifAnimation(QSize screen, std::vector<std::shared_ptr<const Frame>> frames)
    : m_screen(screen), m_frames(std::move(frames))
{
}

uint64_t GifAnimation::indexBytes() const
{
    uint64_t bytes = 0;
    for (const auto& f : m_frames)
        bytes += f->indexes.size();
    return bytes;
}

void GifAnimation::draw(QImage* screen, const Frame& frame)
{
    const QRect r = frame.rect;
    const int x0 = std::max(0, r.left()), y0 = std::max(0, r.top());
    const int x1 = std::min(screen->width(), r.left() + r.width());
    const int y1 = std::min(screen->height(), r.top() + r.height());
    if (r.width() <= 0 || r.height() <= 0 || frame.indexes.size() < size_t(r.width()) * size_t(r.height()))
        return;
    const size_t colourCount = frame.colours.size();
    for (int y = y0; y < y1; ++y) {
        const size_t row = size_t(y - r.top());
        if (!frame.rowsDone.empty() && (row >= frame.rowsDone.size() || !frame.rowsDone[row]))
            continue; // lost to damage: what was beneath stays
        const uint8_t* src = frame.indexes.data() + row * size_t(r.width());
        auto* dst = reinterpret_cast<uint32_t*>(screen->scanLine(y));
        for (int x = x0; x < x1; ++x) {
            const int c = src[x - r.left()];
            if (c == frame.transparentIndex || size_t(c) >= colourCount)
                continue;
            dst[x] = frame.colours[size_t(c)];
        }
    }
}

void GifAnimation::dispose(QImage* screen, QImage* saved, const Frame& previous)
{
    if (previous.disposal == 2) {
        const QRect area = previous.rect & screen->rect();
        for (int y = area.top(); y <= area.bottom(); ++y)
            std::memset(screen->scanLine(y) + size_t(area.left()) * 4, 0, size_t(area.width()) * 4);
    } else if (previous.disposal == 3 && !saved->isNull()) {
        *screen = *saved;
        *saved = QImage();
    }
}

QImage GifAnimation::frame(int index) const
{
    if (index < 0 || index >= frameCount() || m_screen.isEmpty())
        return {};
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_canvas.isNull() && index == m_next - 1)
        return m_canvas;
    if (m_canvas.isNull() || index < m_next) {
        // Starting over (an animation that loops) reuses the screen unless a frame handed out
        // still holds it.
        if (m_canvas.isNull() || !m_canvas.isDetached())
            m_canvas = QImage(m_screen, QImage::Format_RGBA8888_Premultiplied);
        if (m_canvas.isNull())
            return {};
        m_canvas.fill(0);
        m_saved = QImage();
        m_next = 0;
    }
    // A frame handed out earlier keeps its pixels: the canvas is copied before it changes.
    for (; m_next <= index; ++m_next) {
        const Frame& f = *m_frames[size_t(m_next)];
        if (m_next > 0)
            dispose(&m_canvas, &m_saved, *m_frames[size_t(m_next) - 1]);
        if (f.disposal == 3)
            m_saved = m_canvas.copy();
        draw(&m_canvas, f);
        if (m_canvas.isNull()) {
            m_next = 0;
            return {};
        }
    }
    return m_canvas;
}

}  // namespace kpv
