#include "ScreenProbe.h"
#include "Sharpness.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace {

constexpr int kGrid = 7;
constexpr int kPatch = 24;
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

ScreenProbe::Sample ScreenProbe::sample(const std::vector<bench_pictures::Rgb> &colours) const
{
    Sample out;
    if (!m_display)
        return out;
    const int screenW = DisplayWidth(m_display, DefaultScreen(m_display));
    const int screenH = DisplayHeight(m_display, DefaultScreen(m_display));
    const Window root = DefaultRootWindow(m_display);
    for (const Rect &r : mappedTopLevels(m_display)) {
        std::vector<int> hits(colours.size(), 0);
        std::vector<std::vector<double>> sharpness(colours.size());
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
                unsigned char rgb[kPatch * kPatch * 3];
                for (int py = 0; py < kPatch; ++py)
                    for (int px = 0; px < kPatch; ++px) {
                        const unsigned long p = XGetPixel(img, px, py);
                        unsigned char *o = rgb + (py * kPatch + px) * 3;
                        o[0] = (unsigned char)((p >> 16) & 0xff);
                        o[1] = (unsigned char)((p >> 8) & 0xff);
                        o[2] = (unsigned char)(p & 0xff);
                        for (int k = 0; k < 3; ++k)
                            sum[k] += o[k];
                    }
                XDestroyImage(img);
                for (size_t c = 0; c < colours.size(); ++c) {
                    if (matches(sum, colours[c])) {
                        ++hits[c];
                        sharpness[c].push_back(bench_sharpness::of(rgb, kPatch, kPatch, kPatch * 3, 3));
                    }
                }
            }
        }
        for (size_t c = 0; c < colours.size(); ++c)
            if (hits[c] >= 3) {
                // The median: a button or a notice a program draws over one patch changes nothing.
                out.shows = true;
                std::sort(sharpness[c].begin(), sharpness[c].end());
                out.sharpness = sharpness[c][sharpness[c].size() / 2];
                return out;
            }
    }
    out.sharpness = NAN;
    return out;
}

int ScreenProbe::pictureWidth(const bench_pictures::Rgb &colour) const
{
    if (!m_display)
        return 0;
    Rect best{0, 0, 0, 0};
    for (const Rect &r : mappedTopLevels(m_display))
        if (long(r.w) * r.h > long(best.w) * best.h)
            best = r;
    const int screenW = DisplayWidth(m_display, DefaultScreen(m_display));
    const int x0 = std::max(0, best.x), x1 = std::min(screenW, best.x + best.w);
    if (x1 - x0 < 2)
        return 0;
    XImage *img = XGetImage(m_display, DefaultRootWindow(m_display), x0, best.y + best.h / 2, unsigned(x1 - x0), 1,
                            AllPlanes, ZPixmap);
    if (!img)
        return 0;
    // Noise may take a pixel out of the colour's range now and then: a run survives short gaps.
    int start = -1, lastHit = -1000, longest = 0;
    for (int x = 0; x < x1 - x0; ++x) {
        const unsigned long p = XGetPixel(img, x, 0);
        // One pixel, scaled up to a patch's sums.
        const long sum[3] = {long((p >> 16) & 0xff) * kPatch * kPatch, long((p >> 8) & 0xff) * kPatch * kPatch,
                             long(p & 0xff) * kPatch * kPatch};
        if (!matches(sum, colour))
            continue;
        if (x - lastHit > 6)
            start = x;
        lastHit = x;
        longest = std::max(longest, x - start + 1);
    }
    XDestroyImage(img);
    return longest;
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
