// Slideshow benchmark on the software OpenGL renderer (Mesa) in a shown 1920 x 1080 window:
//   frame   one frame of each 3D theme, drawn and read back, beside one frame of the cross-fade
//           (two photos blended over the whole window), also drawn and read back;
//   slide   putting one 24-megapixel photo on a theme's photo mesh (upload, fit and mask),
//           beside the cross-fade's work for a new slide (scaling it to the window);
//   memory  the process's resident memory and the engine's texture count before and after 200
//           slides on one theme, at the size the slideshow decodes them (the window's).
// Each figure is the median of repeated runs after a warm-up; every frame is checked to hold
// pictures (not a black window) before its time counts.
#include "Slideshow/SlideshowBitmapConverter.h"
#include "Slideshow/SlideshowDovePresenter.h"
#include "Slideshow/SlideshowThemeMgr.h"
#include "Slideshow/SlideshowView.h"

#include "DoveHostRenderSystem.h"
#include "DoveOGLFrameBuffer.h"
#include "DoveOpenGLLayer.h"
#include "DoveRenderEngine.h"
#include "DoveRenderView.h"
#include "DoveResManager.h"
#include "DoveTime.h"
#include "ZephraResource.h"
#include "appkit/OpenGLView.h"
#include "appkit/View.h"
#include "appkit/Window.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QPainter>
#include <QWidget>

#include <algorithm>
#include <malloc.h>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
uint64_t gMicros = 1000000000ull * 1000;

QImage photo(int w, int h, int i)
{
    QImage img(w, h, QImage::Format_RGB32);
    img.fill(QColor::fromHsv((i * 47) % 360, 180, 210));
    QPainter p(&img);
    p.fillRect(QRect(0, h / 10, w, h / 6), Qt::white);
    return img;
}

double medianMillis(int warmup, int runs, const std::function<void()>& work)
{
    for (int i = 0; i < warmup; ++i)
        work();
    std::vector<double> ms;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer t;
        t.start();
        work();
        ms.push_back(double(t.nsecsElapsed()) / 1e6);
    }
    std::sort(ms.begin(), ms.end());
    return ms[ms.size() / 2];
}

// A frame holds pictures when a good part of it is not black.
bool holdsPictures(const QImage& frame)
{
    long lit = 0, total = 0;
    for (int y = 0; y < frame.height(); y += 16)
        for (int x = 0; x < frame.width(); x += 16, ++total)
            if (qGray(frame.pixel(x, y)) > 24)
                ++lit;
    return total && lit * 4 > total;
}

long residentKiB()
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return -1;
}

Dove::DoveOpenGLLayer* layer()
{
    auto* w = dynamic_cast<Dove::OGLRenderWindow*>(Dove::RenderEngine::getSingleton()->getScreenFrameBuffer());
    auto* v = w ? dynamic_cast<Dove::DoveRenderView*>(w->getView()) : nullptr;
    return v ? v->layer() : nullptr;
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
        std::fprintf(stderr, "bench_slideshow: needs a display (run make bench under xvfb-run)\n");
        return 1;
    }
    // The allocator as the program sets it up: blocks of a megabyte or more in mappings of their
    // own, so that freed pictures and textures go back to the system.
    mallopt(M_MMAP_THRESHOLD, 1 << 20);
    kpv::OpenGLView::configureSharedContext();
    QApplication app(argc, argv);
    Dove::installHostRenderSystem();
    Dove::TimeGlobal::setClockSource([](int64_t& s, int64_t& us) {
        s = int64_t(gMicros / 1000000);
        us = int64_t(gMicros % 1000000);
    });

    std::vector<SlideshowTheme> themes;
    QStringList problems;
    SlideshowThemeMgr::loadCatalogueFolder(QStringLiteral(KPV_THEMES_DIR), &themes, &problems);
    if (themes.empty()) {
        std::fprintf(stderr, "bench_slideshow: no themes in %s\n", KPV_THEMES_DIR);
        return 1;
    }
    kpv::Window window(kpv::Rect(0, 0, kWidth, kHeight), 0);
    window.makeKeyAndOrderFront();

    // The cross-fade: the slideshow's own view blending two window-sized photos.
    SlideshowView fadeView;
    window.contentView()->addSubview(&fadeView);
    fadeView.setFrame(window.contentView()->bounds());
    const QImage a = photo(kWidth, kHeight, 1), b = photo(kWidth, kHeight, 2);
    fadeView.setSlides(a, b, 0.5);
    QImage fadeFrame;
    const double fadeFrameMs = medianMillis(5, 30, [&] { fadeFrame = fadeView.widget()->grab().toImage(); });
    if (!holdsPictures(fadeFrame)) {
        std::fprintf(stderr, "bench_slideshow: the cross-fade drew no pictures\n");
        return 1;
    }
    const QImage big = photo(6000, 4000, 3);
    const double fadeSlideMs =
        medianMillis(1, 5, [&] { (void)big.scaled(kWidth, kHeight, Qt::KeepAspectRatio, Qt::SmoothTransformation); });
    fadeView.removeFromSuperview();

    std::printf("%-14s %12s %12s %8s   %16s %12s %8s\n", "theme", "frame ms", "fade ms", "ratio", "24 MP slide ms",
                "fade ms", "ratio");
    int failures = 0;
    for (const SlideshowTheme& theme : themes) {
        if (theme.type != SlideshowTheme::ThreeD)
            continue;
        SlideshowThemeParam param;
        QString error;
        if (!SlideshowDovePresenter::loadThemeParam(theme, &param, &error)) {
            std::fprintf(stderr, "%s: %s\n", qPrintable(theme.name), qPrintable(error));
            ++failures;
            continue;
        }
        SlideshowDovePresenter presenter(window.contentView(), nullptr);
        int next = 0;
        if (!presenter.start(theme, param, [&] { return photo(kWidth, kHeight * 2 / 3, next++); }, &error)) {
            std::fprintf(stderr, "%s: %s\n", qPrintable(theme.name), qPrintable(error));
            ++failures;
            continue;
        }
        Dove::DoveOpenGLLayer* l = layer();
        const double duration = presenter.player()->resource()->animation->getDuration();
        QImage frame;
        int step = 0;
        // Frames spread over the middle of the animation, where most meshes are on screen.
        const double frameMs = medianMillis(5, 40, [&] {
            gMicros += uint64_t(duration / 90 * 1e6);
            ++step;
            frame = l->grabFrame();
        });
        if (!holdsPictures(frame)) {
            std::fprintf(stderr, "%s: the theme drew no pictures\n", qPrintable(theme.name));
            ++failures;
        }
        const std::string mesh = param.maskGroups.front().front().toStdString();
        // One photo onto the mesh as the player puts it there: converted, uploaded, fitted.
        auto bindSlide = [&](const QImage& slide) {
            MBITMAP bm{};
            if (!fillMBitmapFromImage(slide, &bm))
                return;
            Dove::RenderEngine::getSingleton()->setCurrent();
            presenter.player()->resource()->bindMeshTexture(mesh, &bm, 0, 1);
            Dove::RenderEngine::getSingleton()->forceFlush();
            Dove::RenderEngine::getSingleton()->restoreGLContext();
            delete[] bm.pPlane[0];
        };
        const double slideMs = medianMillis(1, 5, [&] { bindSlide(big); });
        std::printf("%-14s %12.2f %12.2f %8.2f   %16.1f %12.1f %8.2f\n", qPrintable(theme.name), frameMs, fadeFrameMs,
                    frameMs / fadeFrameMs, slideMs, fadeSlideMs, slideMs / fadeSlideMs);

        if (&theme == &themes.back() || theme.folder.endsWith(QStringLiteral("cards"))) {
            // Memory over 200 slides of the window's size on this theme.
            const QImage slide = photo(kWidth, kHeight * 2 / 3, 9);
            for (int i = 0; i < 10; ++i)
                bindSlide(slide);
            const long before = residentKiB();
            const size_t texturesBefore = Dove::ResManager::getSingleton()->textureCount();
            for (int i = 0; i < 200; ++i)
                bindSlide(slide);
            const long after = residentKiB();
            const size_t texturesAfter = Dove::ResManager::getSingleton()->textureCount();
            std::printf("memory over 200 slides (%s): resident %ld KiB -> %ld KiB (%+ld KiB), textures %zu -> %zu\n",
                        qPrintable(theme.name), before, after, after - before, texturesBefore, texturesAfter);
            if (texturesAfter != texturesBefore)
                ++failures;
        }
    }
    return failures == 0 ? 0 : 1;
}
