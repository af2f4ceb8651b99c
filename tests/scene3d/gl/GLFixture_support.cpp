#include <epoxy/gl.h>

#include <QApplication>
#include <QDir>
#include <QImage>
#include <cstdlib>

#include "DoveContext.h"
#include "DoveFrameBuffer.h"
#include "DoveHostRenderSystem.h"
#include "DoveOGLContext.h"
#include "DoveOGLRenderEngine.h"
#include "DoveQtOGLContext.h"
#include "DoveRenderFactory.h"
#include "DoveSceneManager.h"
#include "DoveTexture.h"
#include "DoveTime.h"
#include "GLFixture.h"
#include "appkit/OpenGLView.h"

namespace gltest {

void startApplication() {
    if (QApplication::instance()) return;
    kpv::OpenGLView::configureSharedContext();
    static int argc = 1;
    static char name[] = "test_scene3d_gl";
    static char* argv[] = {name, nullptr};
    new QApplication(argc, argv);  // lives for the whole process
}

Image readPixels(int width, int height) {
    Image img;
    img.width = width;
    img.height = height;
    img.rgba.resize(size_t(width) * height * 4);
    std::vector<uint8_t> raw(img.rgba.size());
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, width, height, GL_RGBA, GL_UNSIGNED_BYTE, raw.data());
    const size_t row = size_t(width) * 4;
    for (int y = 0; y < height; ++y)
        std::copy_n(&raw[size_t(height - 1 - y) * row], row, &img.rgba[size_t(y) * row]);
    return img;
}

namespace {
QImage toQImage(const Image& img) {
    QImage q(img.width, img.height, QImage::Format_RGBA8888);
    for (int y = 0; y < img.height; ++y) std::copy_n(img.at(0, y), size_t(img.width) * 4, q.scanLine(y));
    return q;
}

void writeOut(const std::string& kind, const std::string& name, const QImage& img) {
    QDir().mkpath(QString::fromStdString("golden-out/" + kind));
    img.save(QString::fromStdString("golden-out/" + kind + "/" + name + ".png"));
}
}  // namespace

::testing::AssertionResult matchesGolden(const std::string& name, const Image& actual, int tolerance) {
    const std::string path = std::string(KPV_TEST_DATA_DIR) + "/golden/scene3d/" + name + ".png";
    const QImage act = toQImage(actual);
    if (const char* u = std::getenv("KPV_UPDATE_GOLDEN"); u && std::string(u) == "1") {
        act.save(QString::fromStdString(path));
        return ::testing::AssertionSuccess() << "golden image written";
    }
    QImage expected(QString::fromStdString(path));
    if (expected.isNull()) return ::testing::AssertionFailure() << "no golden image " << path;
    expected = expected.convertToFormat(QImage::Format_RGBA8888);
    if (expected.size() != act.size())
        return ::testing::AssertionFailure() << "size " << act.width() << "x" << act.height() << ", golden "
                                             << expected.width() << "x" << expected.height();
    QImage diff(act.size(), QImage::Format_RGBA8888);
    int worst = 0, bad = 0;
    for (int y = 0; y < act.height(); ++y) {
        const uint8_t* a = act.constScanLine(y);
        const uint8_t* e = expected.constScanLine(y);
        uint8_t* d = diff.scanLine(y);
        for (int i = 0; i < act.width() * 4; ++i) {
            const int delta = std::abs(int(a[i]) - int(e[i]));
            worst = std::max(worst, delta);
            if (delta > tolerance) ++bad;
            d[i] = (i % 4 == 3) ? 255 : uint8_t(std::min(255, delta * 16));
        }
    }
    if (bad == 0) return ::testing::AssertionSuccess();
    writeOut("expected", name, expected);
    writeOut("actual", name, act);
    writeOut("diff", name, diff);
    return ::testing::AssertionFailure() << name << ": " << bad << " channels off by more than " << tolerance
                                         << " (worst " << worst << "); images in golden-out/";
}

}  // namespace gltest

void GLEngineTest::SetUp() {
    gltest::startApplication();
    Dove::installHostRenderSystem();
    Dove::TimeGlobal::setClockSource([this](int64_t& s, int64_t& us) {
        s = int64_t(mMicros / 1000000);
        us = int64_t(mMicros % 1000000);
    });
    Dove::RenderEngine::resetFrameLimiter();
    auto* context = dynamic_cast<Dove::QtOGLContext*>(Dove::OGLContext::getSingleton());
    ASSERT_TRUE(context && context->context()) << "no OpenGL context: the GL tests need an X server (xvfb-run)";
    context->setCurrent();
    Dove::Context::getSingleton()->init();
    Dove::SceneManager::getSingleton()->init(64, 64);
    mEngine = Dove::OGLRenderEngine::current();
    ASSERT_NE(mEngine, nullptr);
    ASSERT_NE(mEngine->getRenderCapability(), nullptr);
}

void GLEngineTest::TearDown() {
    if (Dove::OGLContext* c = Dove::OGLContext::peekSingleton()) c->setCurrent();
    Dove::RenderFactory* f = Dove::RenderFactory::peekSingleton();
    for (Dove::FrameBuffer* fb : mTargets)
        if (f) f->releaseFrameBuffer(fb);
    mTargets.clear();
    Dove::SceneManager::releaseSingleton();
    Dove::Context::releaseSingleton();
    Dove::OGLContext::releaseSingleton();
    Dove::RenderFactory::setMaker(nullptr);
    Dove::TimeGlobal::setClockSource({});
}

void GLEngineTest::setClockMillis(uint64_t ms) { mMicros = ms * 1000; }

Dove::FrameBuffer* GLEngineTest::makeTarget(int width, int height) {
    Dove::RenderFactory* f = Dove::RenderFactory::getSingleton();
    Dove::FrameBuffer* fb = f->createFrameBuffer(unsigned(width), unsigned(height));
    Dove::Texture* tex = f->createTexture(unsigned(width), unsigned(height), "");
    tex->createBlankTexture(unsigned(width), unsigned(height));
    Dove::RenderBuffer* rb = f->createTexture2DRenderBuffer(tex);
    f->releaseTexture(tex);  // the render buffer holds it now
    fb->attach(rb, Dove::RBA_COLOR0);
    fb->addViewportWithActualValue(nullptr, 0, 0, width, height, 0);
    mEngine->bindFrameBuffer(fb);
    mTargets.push_back(fb);
    return fb;
}
