#pragma once

// Looks at what the X server shows: whether a picture of a known colour covers a good part of
// some top-level window. Works for any program, so ours and the peers are judged alike.

#include "BenchPictures.h"

#include <vector>

struct _XDisplay;

class ScreenProbe {
public:
    ScreenProbe();
    ~ScreenProbe();
    ScreenProbe(const ScreenProbe &) = delete;
    ScreenProbe &operator=(const ScreenProbe &) = delete;

    bool isOpen() const { return m_display != nullptr; }
    // True when at least three patches of a 7 x 7 grid over one mapped top-level window average
    // to one of `colours` (in the proportions of its channels, dimmed or not).
    bool shows(const std::vector<bench_pictures::Rgb> &colours) const { return sample(colours).shows; }

    struct Sample {
        bool shows = false;
        // The sharpness figure (Sharpness.h), the median of the patches that show the colour;
        // NaN when none does.
        double sharpness = 0;
    };
    // The same look as shows(), with the sharpness of what is shown.
    Sample sample(const std::vector<bench_pictures::Rgb> &colours) const;
    // Width in screen pixels of the picture of `colour` on the middle row of the largest window
    // (its longest run of pixels near the colour); 0 when none.
    int pictureWidth(const bench_pictures::Rgb &colour) const;
    // Centre of the largest mapped top-level window, in screen coordinates; false when none.
    bool largestWindowCentre(int *x, int *y) const;

private:
    _XDisplay *m_display = nullptr;
};
