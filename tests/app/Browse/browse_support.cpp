#include "browse_support.h"

#include "Kit/LMThumbZoomSlider.h"
#include "appkit/Application.h"
#include "appkit/Event.h"
#include "foundation/RunLoop.h"
#include "../../support/QtTestApplication.h"

#include <QApplication>
#include <QImage>
#include <gtest/gtest.h>

namespace {
[[maybe_unused]] testing::Environment* const g_env = testing::AddGlobalTestEnvironment(
    new QtTestApplication("kpv-browse-tests", &QtTestApplication::useOffscreenUnlessSet));
} // namespace

void drainMainRunLoop()
{
    for (int i = 0; i < 100 && kpv::RunLoop::main().runOnce() > 0; ++i) {
    }
}

void writeTestJpeg(const QString& path, int w, int h)
{
    QImage img(w, h, QImage::Format_RGB32);
    img.fill(QColor(10, 200, 30));
    img.save(path, "JPG");
}

void dragSliderKnob(LMThumbZoomSlider& slider, const std::vector<double>& parts, const std::function<void()>& step)
{
    kpv::Window* window = slider.window();
    ASSERT_TRUE(window && !parts.empty());
    const kpv::Rect track = slider.convertRectToView(slider.bounds(), nullptr);
    const kpv::Rect knob = slider.convertRectToView(slider.cell()->knobRectFlipped(slider.isFlipped()), nullptr);
    kpv::Application& app = kpv::Application::shared();
    for (std::size_t i = 0; i < parts.size(); ++i) {
        const kpv::Point at{track.x() + track.width() * parts[i], knob.midY()};
        app.postEvent(kpv::Event::mouseEvent(i + 1 < parts.size() ? kpv::LeftMouseDragged : kpv::LeftMouseUp, at, window));
    }
    const kpv::Action action = slider.action();
    slider.setAction([&](kpv::View* sender) {
        action(sender);
        step();
    });
    slider.mouseDown(*kpv::Event::mouseEvent(kpv::LeftMouseDown, {knob.midX(), knob.midY()}, window));
    slider.setAction(action);
}
