// Textures made from bitmap records: plain uploads, blank and single-colour textures, and the
// photo path that turns and fits a bitmap by rendering it through the built-in post-processes.
#include <cmath>
#include <vector>

#include "DoveFrameBuffer.h"
#include "DovePostProcess.h"
#include "DoveRenderEffect.h"
#include "DoveRenderEngine.h"
#include "DoveRenderFactory.h"
#include "DoveResManager.h"
#include "DoveTexture.h"
#include "DoveViewport.h"

namespace Dove {

Texture* ResManager::registerTexture(Texture* texture) {
    auto& slot = mTextures[texture->getName()];
    if (slot && slot != texture) {
        // Never drop a registered texture silently: a clash refuses the new one.
        RenderFactory::getSingleton()->releaseTexture(texture);
        return nullptr;
    }
    slot = texture;
    return texture;
}

Texture* ResManager::createTextureFromMBitmap(MBITMAP* bitmap, const std::string& name) {
    (void)name;  // the texture names itself
    if (checkedBitmapBytes(bitmap) == 0) return nullptr;
    RenderFactory* f = RenderFactory::getSingleton();
    Texture* t = f->createTexture(uint32_t(bitmap->lWidth), uint32_t(bitmap->lHeight), std::string());
    if (!t) return nullptr;
    if (!t->createFromMBitmap(bitmap)) {
        f->releaseTexture(t);
        return nullptr;
    }
    return registerTexture(t);
}

Texture* ResManager::createTextureFromMBitmapWithAutoFit(MBITMAP* bitmap, unsigned int width, unsigned int height,
                                                         long fit) {
    (void)fit;  // the upload is always into the given size
    if (checkedBitmapBytes(bitmap) == 0) return nullptr;
    RenderFactory* f = RenderFactory::getSingleton();
    Texture* t = f->createTexture(width, height, std::string());
    if (!t) return nullptr;
    if (!t->createFromMBitmapWithAutoFit(bitmap, width, height, 1)) {
        f->releaseTexture(t);
        return nullptr;
    }
    return registerTexture(t);
}

Texture* ResManager::createBlankTexture(unsigned int width, unsigned int height, const std::string& name) {
    RenderFactory* f = RenderFactory::getSingleton();
    Texture* t = f->createTexture(width, height, name);
    if (!t) return nullptr;
    if (!t->createBlankTexture(width, height)) {
        f->releaseTexture(t);
        return nullptr;
    }
    return registerTexture(t);
}

Texture* ResManager::createPureTexture(unsigned int width, unsigned int height, Color colour) {
    RenderFactory* f = RenderFactory::getSingleton();
    Texture* t = f->createTexture(0, 0, std::string());
    if (!t) return nullptr;
    if (!t->createPureTexture(width, height, colour)) {
        f->releaseTexture(t);
        return nullptr;
    }
    return registerTexture(t);
}

void calculateFitSize(Size source, Size target, TextureFitType fit, Size* out) {
    if (!out) return;
    if (source.width <= 0 || source.height <= 0 || target.height <= 0) {
        *out = Size{0, 0};
        return;
    }
    const float a = source.width / source.height, b = target.width / target.height;
    float s;
    if ((fit == 1 && a <= b) || (fit != 1 && a > b))
        s = target.height / source.height;
    else
        s = target.width / source.width;
    *out = Size{source.width * s, source.height * s};
}

Texture* ResManager::createRotateTextureFromMBitmap(MBITMAP* bitmap, TextureRotateType rotate, TextureFitType fit,
                                                    Size target) {
    if (rotate < 0 || rotate > 3) return nullptr;
    if (checkedBitmapBytes(bitmap) == 0) return nullptr;
    RenderEngine* engine = RenderEngine::getSingleton();
    RenderFactory* f = RenderFactory::getSingleton();
    engine->setCurrent();
    const unsigned bw = unsigned(bitmap->lWidth), bh = unsigned(bitmap->lHeight);

    Texture* rotated = nullptr;
    if (rotate == 0) {
        rotated = createTextureFromMBitmap(bitmap, std::string());
        if (fit == 0) {
            if (rotated) rotated->generateMipmaps();
            engine->restoreGLContext();
            return rotated;
        }
        engine->forceFlush();
    } else {
        const unsigned ow = rotate == 2 ? bw : bh, oh = rotate == 2 ? bh : bw;
        RenderEffect* effect = getRotateTextureEffect();
        PostProcess* pp = getRotateTexturePostProcess();
        FrameBuffer* fb = f->createFrameBuffer(ow, oh);
        fb->addViewportWithActualValue(nullptr, 0, 0, int(ow), int(oh), 0);
        pp->setFrameBuffer(fb);
        Texture* source = createTextureFromMBitmapWithAutoFit(bitmap, bw, bh, 1);
        rotated = createBlankTexture(ow, oh, std::string());
        if (effect && !effect->getTechniques().empty()) pp->setTechnique(effect->getTechniques().front());
        pp->setInputTexture(0, source);
        pp->setOutputTexture(0, rotated);
        Vector_T<int, 1> type;
        type[0] = rotate;
        pp->setParam(0, type);
        pp->apply();
        engine->forceFlush();
        pp->setInputTexture(0, nullptr);
        pp->setOutputTexture(0, nullptr);
        pp->setFrameBuffer(nullptr);
        if (source) releaseTextureByName(source->getName(), 1);
        f->releaseFrameBuffer(fb);
    }

    Texture* result = rotated;
    if (fit != 0 && rotated) {
        Size fitted;
        calculateFitSize(Size{float(rotated->getWidth()), float(rotated->getHeight())}, target, fit, &fitted);
        const unsigned tw = truncToUnsigned(target.width), th = truncToUnsigned(target.height);
        result = createBlankTexture(tw, th, std::string());
        engine->forceFlush();
        RenderEffect* effect = getFitTextureEffect();
        PostProcess* pp = getFitTexturePostProcess();
        FrameBuffer* fb = f->createFrameBuffer(tw, th);
        pp->setFrameBuffer(fb);
        Viewport* vp = fb->addViewport(nullptr, 0, 0, 1, 1, 0);
        const int fw = truncToInt(fitted.width), fh = truncToInt(fitted.height);
        const int x = fit == 1 ? truncToInt(target.width - fitted.width) / 2 : 0;
        const int y = fit == 1 ? truncToInt(target.height - fitted.height) / 2 : 0;
        vp->setActualValue(x, y, fw, fh);
        if (effect && !effect->getTechniques().empty()) pp->setTechnique(effect->getTechniques().front());
        pp->setInputTexture(0, rotated);
        pp->setOutputTexture(0, result);
        fb->clear(1, Color{0, 0, 0, 0}, 1.0f, 0);
        pp->apply();
        engine->forceFlush();
        pp->setInputTexture(0, nullptr);
        pp->setOutputTexture(0, nullptr);
        pp->setFrameBuffer(nullptr);
        releaseTexture(rotated, 1);
        f->releaseFrameBuffer(fb);
    }
    // A photo is drawn on cards of every size, most of them smaller than the photo.
    if (result) result->generateMipmaps();
    engine->restoreGLContext();
    return result;
}

// ---- Four-corner crop ----

static unsigned roundUpPowerOfTwo(unsigned v) {
    unsigned p = 1;
    while (p < v && p < (1u << 31)) p <<= 1;
    return p;
}

bool GaussElimination(double* a, int n, double* x) {
    const int cols = n + 1;
    for (int c = 0; c < n; ++c) {
        int pivot = c;
        for (int r = c + 1; r < n; ++r)
            if (std::fabs(a[r * cols + c]) > std::fabs(a[pivot * cols + c])) pivot = r;
        if (std::fabs(a[pivot * cols + c]) < 1e-12) return false;
        if (pivot != c)
            for (int k = 0; k < cols; ++k) std::swap(a[c * cols + k], a[pivot * cols + k]);
        for (int r = c + 1; r < n; ++r) {
            double factor = a[r * cols + c] / a[c * cols + c];
            for (int k = c; k < cols; ++k) a[r * cols + k] -= factor * a[c * cols + k];
        }
    }
    for (int r = n - 1; r >= 0; --r) {
        double s = a[r * cols + n];
        for (int k = r + 1; k < n; ++k) s -= a[r * cols + k] * x[k];
        x[r] = s / a[r * cols + r];
    }
    return true;
}

bool InitMatrixPoly4(const Point2D unit[4], const Point2D corners[4], float m[9]) {
    // x' = (h0 x + h1 y + h2) / (h6 x + h7 y + 1), y' = (h3 x + h4 y + h5) / (h6 x + h7 y + 1).
    double a[8 * 9] = {};
    for (int i = 0; i < 4; ++i) {
        const double x = unit[i].x, y = unit[i].y, u = corners[i].x, v = corners[i].y;
        double* r0 = a + (2 * i) * 9;
        double* r1 = a + (2 * i + 1) * 9;
        r0[0] = x, r0[1] = y, r0[2] = 1, r0[6] = -x * u, r0[7] = -y * u, r0[8] = u;
        r1[3] = x, r1[4] = y, r1[5] = 1, r1[6] = -x * v, r1[7] = -y * v, r1[8] = v;
    }
    double h[8];
    if (!GaussElimination(a, 8, h)) return false;
    for (int i = 0; i < 8; ++i) m[i] = float(h[i]);
    m[8] = 1.0f;
    return true;
}

void Creat_M(const double* m, int n, int row, int col, double* minor) {
    int k = 0;
    for (int r = 0; r < n; ++r)
        for (int c = 0; c < n; ++c)
            if (r != row && c != col) minor[k++] = m[r * n + c];
}

double comput_D(const double* m, int n) {
    if (n <= 0) return 1.0;
    if (n == 1) return m[0];
    if (n == 2) return m[0] * m[3] - m[1] * m[2];
    std::vector<double> minor(size_t(n - 1) * size_t(n - 1));
    double d = 0.0;
    for (int c = 0; c < n; ++c) {
        Creat_M(m, n, 0, c, minor.data());
        d += ((c % 2) ? -1.0 : 1.0) * m[c] * comput_D(minor.data(), n - 1);
    }
    return d;
}

bool InvertMatrix(const double* m, int n, double* inverse) {
    const double d = comput_D(m, n);
    if (std::fabs(d) < 1e-15) return false;
    if (n == 1) {
        inverse[0] = 1.0 / d;
        return true;
    }
    std::vector<double> minor(size_t(n - 1) * size_t(n - 1));
    for (int r = 0; r < n; ++r)
        for (int c = 0; c < n; ++c) {
            Creat_M(m, n, r, c, minor.data());
            // The adjugate is the transposed cofactor matrix.
            inverse[c * n + r] = (((r + c) % 2) ? -1.0 : 1.0) * comput_D(minor.data(), n - 1) / d;
        }
    return true;
}

void MatrixMultiply(const double* a, int aRows, int aCols, const double* b, int bCols, double* out) {
    for (int r = 0; r < aRows; ++r)
        for (int c = 0; c < bCols; ++c) {
            double s = 0.0;
            for (int k = 0; k < aCols; ++k) s += a[r * aCols + k] * b[k * bCols + c];
            out[r * bCols + c] = s;
        }
}

Texture* ResManager::createCropTextureFromMBitmap(MBITMAP* bitmap, const Point2D corners[4], unsigned int width,
                                                  unsigned int height) {
    if (!corners || checkedBitmapBytes(bitmap) == 0) return nullptr;
    RenderEngine* engine = RenderEngine::getSingleton();
    RenderFactory* f = RenderFactory::getSingleton();
    engine->setCurrent();
    const unsigned bw = unsigned(bitmap->lWidth), bh = unsigned(bitmap->lHeight);
    const unsigned pw = roundUpPowerOfTwo(bw), ph = roundUpPowerOfTwo(bh);
    Vector_T<float, 2> threshold;
    threshold[0] = float(bw) / float(pw);
    threshold[1] = float(bh) / float(ph);
    static const Point2D unit[4] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
    Point2D scaled[4];
    for (int i = 0; i < 4; ++i) scaled[i] = Point2D{corners[i].x / float(pw), corners[i].y / float(pw)};
    float h[9];
    if (!InitMatrixPoly4(unit, scaled, h)) {
        engine->restoreGLContext();
        return nullptr;
    }
    Matrix3 m(h[0], h[1], h[2], h[3], h[4], h[5], h[6], h[7], h[8]);

    Texture* source = createTextureFromMBitmapWithAutoFit(bitmap, pw, ph, 1);
    Texture* result = createBlankTexture(width, height, std::string());
    RenderEffect* effect = getCropTextureEffect();
    PostProcess* pp = getCropTexturePostProcess();
    FrameBuffer* fb = f->createFrameBuffer(width, height);
    fb->addViewportWithActualValue(nullptr, 0, 0, int(width), int(height), 0);
    pp->setFrameBuffer(fb);
    if (effect && !effect->getTechniques().empty()) pp->setTechnique(effect->getTechniques().front());
    pp->setInputTexture(0, source);
    pp->setOutputTexture(0, result);
    pp->setParam(0, m);
    pp->setParam(1, threshold);
    pp->apply();
    engine->forceFlush();
    pp->setInputTexture(0, nullptr);
    pp->setOutputTexture(0, nullptr);
    pp->setFrameBuffer(nullptr);
    if (source) releaseTextureByName(source->getName(), 1);
    f->releaseFrameBuffer(fb);
    engine->restoreGLContext();
    return result;
}

}  // namespace Dove
