#include "kit_support.h"

#include "../../support/QtTestApplication.h"
#include "appkit/Image.h"
#include "foundation/Bundle.h"

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <algorithm>
#include <cstdlib>

namespace {
QTemporaryDir& resourceDir()
{
    static QTemporaryDir dir;
    return dir;
}

void refresh()
{
    kpv::Bundle::mainBundle().reload();
    kpv::Image::clearNamedCache();
}

[[maybe_unused]] testing::Environment* const g_env =
    testing::AddGlobalTestEnvironment(new QtTestApplication("kpv-kit-tests", [] {
        // Before the bundle is first used: our folder is searched before the generated skin.
        qputenv("KPV_RESOURCES_DIR", resourceDir().path().toLocal8Bit());
        QtTestApplication::useOffscreenUnlessSet();
    }));
} // namespace

QString kitResourceDir() { return resourceDir().path(); }

void writeSkinImage(const QString& name, const QImage& image)
{
    image.save(resourceDir().path() + "/" + name.toLower() + ".png", "PNG");
    refresh();
}

void writeSkinImage(const QString& name, int w, int h, const QColor& color, bool with2x)
{
    QImage img(w, h, QImage::Format_ARGB32_Premultiplied);
    img.fill(color);
    img.save(resourceDir().path() + "/" + name.toLower() + ".png", "PNG");
    if (with2x) {
        QImage img2(w * 2, h * 2, QImage::Format_ARGB32_Premultiplied);
        img2.fill(color);
        img2.save(resourceDir().path() + "/" + name.toLower() + "@2x.png", "PNG");
    }
    refresh();
}

void clearSkinImages()
{
    QDir dir(resourceDir().path());
    for (const QString& f : dir.entryList(QDir::Files))
        dir.remove(f);
    refresh();
}

int maxChannelDifference(const QImage& a0, const QImage& b0)
{
    if (a0.size() != b0.size())
        return -1;
    const QImage a = a0.convertToFormat(QImage::Format_ARGB32);
    const QImage b = b0.convertToFormat(QImage::Format_ARGB32);
    int worst = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            worst = std::max({worst, std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)),
                              std::abs(qBlue(p) - qBlue(q)), std::abs(qAlpha(p) - qAlpha(q))});
        }
    return worst;
}
