#include "browse_support.h"

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
