#include "ScreenProbe.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace {

constexpr int kGrid = 7;
constexpr int kPatch = 8;
constexpr double kTolerance = 0.12;
constexpr int kMinSide = 200;

// Whether a patch (channel sums over kPatch x kPatch pixels) shows `colour`, also when a program
// dims its picture under a first-run notice: the channels' proportions must match, and the patch
// must keep at least a third of the colour's brightness.
bool matches(const long sum[3], const bench_pictures::Rgb &colour)
{
    double mean[3], top = 0;
    for (int k = 0; k < 3; ++k)
        top = std::max(top, mean[k] = double(sum[k]) / (kPatch * kPatch));
    const double want = std::max({colour[0], colour[1], colour[2]});
    if (want <= 0 || top < want / 3)
        return false;
    for (int k = 0; k < 3; ++k)
        if (std::abs(mean[k] / top - colour[size_t(k)] / want) > kTolerance)
            return false;
    return true;
}

struct Rect {
    int x, y, w, h;
};

std::vector<Rect> mappedTopLevels(Display *display)
{
    std::vector<Rect> out;
    Window root = DefaultRootWindow(display), parent = 0, *children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(display, root, &root, &parent, &children, &count))
        return out;
    for (unsigned i = 0; i < count; ++i) {
        XWindowAttributes a;
        if (XGetWindowAttributes(display, children[i], &a) && a.map_state == IsViewable && a.width >= kMinSide &&
            a.height >= kMinSide && a.c_class == InputOutput)
            out.push_back({a.x, a.y, a.width, a.height});
    }
    if (children)
        XFree(children);
    return out;
}

// Windows come and go while they are looked at: a window gone between listing and reading is
// simply skipped.
int ignoreErrors(Display *, XErrorEvent *) { return 0; }

} // namespace

ScreenProbe::ScreenProbe() : m_display(XOpenDisplay(nullptr)) { XSetErrorHandler(ignoreErrors); }

ScreenProbe::~ScreenProbe()
{
    if (m_display)
        XCloseDisplay(m_display);
}

bool ScreenProbe::shows(const std::vector<bench_pictures::Rgb> &colours) const
{
    if (!m_display)
        return false;
    const int screenW = DisplayWidth(m_display, DefaultScreen(m_display));
    const int screenH = DisplayHeight(m_display, DefaultScreen(m_display));
    const Window root = DefaultRootWindow(m_display);
    for (const Rect &r : mappedTopLevels(m_display)) {
        std::vector<int> hits(colours.size(), 0);
        for (int gy = 0; gy < kGrid; ++gy) {
            for (int gx = 0; gx < kGrid; ++gx) {
                const int x = r.x + (r.w * (2 * gx + 1)) / (2 * kGrid) - kPatch / 2;
                const int y = r.y + (r.h * (2 * gy + 1)) / (2 * kGrid) - kPatch / 2;
                if (x < 0 || y < 0 || x + kPatch > screenW || y + kPatch > screenH)
                    continue;
                XImage *img = XGetImage(m_display, root, x, y, kPatch, kPatch, AllPlanes, ZPixmap);
                if (!img)
                    continue;
                long sum[3] = {0, 0, 0};
                for (int py = 0; py < kPatch; ++py)
                    for (int px = 0; px < kPatch; ++px) {
                        const unsigned long p = XGetPixel(img, px, py);
                        sum[0] += long((p >> 16) & 0xff);
                        sum[1] += long((p >> 8) & 0xff);
                        sum[2] += long(p & 0xff);
                    }
                XDestroyImage(img);
                for (size_t c = 0; c < colours.size(); ++c) {
                    if (matches(sum, colours[c]) && ++hits[c] >= 3)
                        return true;
                }
            }
        }
    }
    return false;
}

bool ScreenProbe::largestWindowCentre(int *x, int *y) const
{
    if (!m_display)
        return false;
    long best = 0;
    for (const Rect &r : mappedTopLevels(m_display)) {
        if (long(r.w) * r.h > best) {
            best = long(r.w) * r.h;
            *x = r.x + r.w / 2;
            *y = r.y + r.h / 2;
        }
    }
    return best > 0;
}
