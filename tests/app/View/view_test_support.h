#pragma once
// Shared set-up of the image view tests: a manual clock on the main run loop, decoded images of
// any raw size built in memory, and a recorder of the view's notifications.

#include "View/LMImageViewModel.h"

#include "Model/LMData.h"
#include "foundation/Clock.h"
#include "foundation/NotificationCenter.h"
#include "foundation/RunLoop.h"
#include "imageio/ImageProperties.h"

#include <gtest/gtest.h>

#include <QStringList>

namespace viewtest {

// A decoded image of `w` x `h` 32-bit premultiplied RGBA pixels from a raw frame of rawW x rawH,
// with `frames` frames whose pixels are (x, y, frame, 255).
inline LMImagePtr makeImage(double rawW, double rawH, uint64_t w = 0, uint64_t h = 0, int64_t orientation = 1,
                            int frames = 1, double delay = -1)
{
    if (w == 0)
        w = uint64_t(rawW);
    if (h == 0)
        h = uint64_t(rawH);
    QVariantMap props;
    if (delay >= 0) {
        QVariantMap gif;
        gif.insert(QString::fromLatin1(kpv::kCGImagePropertyGIFDelayTime), delay);
        props.insert(QString::fromLatin1(kpv::kCGImagePropertyGIFDictionary), gif);
    }
    auto info = std::make_shared<LMFileImgBaseInfo>(LMPathString(QStringLiteral("/tmp/view-test.png"), false),
                                                    QStringLiteral("public.png"), 0, QDateTime(), QSizeF(rawW, rawH),
                                                    orientation, props);
    QList<LMDataBlock> blocks;
    for (int f = 0; f < frames; ++f) {
        auto block = LMData::create(w * h * 4);
        uint8_t *p = block->mutableBytes();
        for (uint64_t y = 0; y < h; ++y)
            for (uint64_t x = 0; x < w; ++x) {
                uint8_t *px = p + (y * w + x) * 4;
                px[0] = uint8_t(x);
                px[1] = uint8_t(y);
                px[2] = uint8_t(f);
                px[3] = 255;
            }
        blocks.push_back(block);
    }
    return std::make_shared<LMImage>(1u, 32u, w * 4, w, h, blocks, info);
}

// Records the names of the notifications that one sender posts.
class NotificationRecorder {
public:
    explicit NotificationRecorder(const void *sender)
    {
        kpv::NotificationCenter::defaultCenter().addObserver(this, QString(), sender,
                                                             [this](const kpv::Notification &n) { names << n.name; });
    }
    ~NotificationRecorder() { kpv::NotificationCenter::defaultCenter().removeObserver(this); }
    int count(const char *name) const { return int(names.count(QString::fromLatin1(name))); }
    QStringList names;
};

// A model in a 800 x 600 view on the manual clock.
class ViewModelTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        kpv::RunLoop::main().setClock(&clock);
        model.setViewBounds(QRectF(0, 0, 800, 600));
    }
    void TearDown() override { kpv::RunLoop::main().setClock(nullptr); }
    // Runs the timers for `seconds` in ticks of `step`, drawing a frame after each tick as the
    // asynchronous layer does during a zoom.
    void run(double seconds, double step = 1.0 / 120)
    {
        for (double t = 0; t < seconds - 1e-9; t += step) {
            clock.advance(step);
            model.advanceZoomForFrame();
        }
    }

    kpv::ManualClock clock;
    LMImageViewModel model;
};

} // namespace viewtest
