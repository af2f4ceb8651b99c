// Tiles, content preparation and the frame of the image view.

#include "View/LMOpenGLView.h"

#include "Model/LMPhotoLoader.h"
#include "View/LMShareGLContext.h"
#include "foundation/RunLoop.h"
#include "foundation/Timer.h"

#include <QPainter>
#include <QRegion>
#include <QTransform>

#include <epoxy/gl.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstring>
#include <functional>
#include <optional>
#include <system_error>
#include <thread>

namespace {
// New tiles a frame may upload while the view zooms: at least these, and more while the frame
// has spent less than kUploadTimePerFrame on them, so that a zoom into a picture held whole
// shows its pixels within a few frames on any machine.
constexpr int kNewTilesPerFrame = 4;
constexpr double kUploadTimePerFrame = 0.012;
// Tiles made ahead take this long a turn at most, one turn every kTilesAheadPause, so that
// events and frames go on between them.
constexpr double kTilesAheadTimePerTurn = 0.008;
constexpr double kTilesAheadPause = 0.005;
// The painter draws the frames of a zoom or a turn, and a picture zoomed in, whole at every paint,
// at about 8 ns a device pixel: a view of up to 1920 x 1200 device pixels keeps 30 frames a
// second or more. A larger one (a 4K screen, a doubled scale) has them drawn by OpenGL, set up at
// the first such paint.
constexpr double kMostPaintedFramePixels = 1920.0 * 1200.0;

// Orders tiles by the distance of their centres from `middle`, the nearest first.
void sortNearestFirst(std::vector<QRect> &tiles, QPointF middle)
{
    const auto distance = [middle](const QRect &t) {
        const QPointF d = QRectF(t).center() - middle;
        return d.x() * d.x() + d.y() * d.y();
    };
    std::stable_sort(tiles.begin(), tiles.end(), [&](const QRect &a, const QRect &b) { return distance(a) < distance(b); });
}
} // namespace

void LMOpenGLView::initOpenGL()
{
    if (m_openGLInited)
        return;
    m_openGLInited = true;
    const char *ext = reinterpret_cast<const char *>(glGetString(GL_EXTENSIONS));
    if (ext) {
        m_renderInfo.extension[0] = std::strstr(ext, "GL_APPLE_texture_2D_limited_npot") != nullptr;
        m_renderInfo.extension[1] = std::strstr(ext, "GL_IMG_texture_format_BGRA8888") != nullptr;
    }
    GLint size = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &size);
    m_renderInfo.maxTextureSize = size;
}

std::vector<LMOpenGLTexturePtr> LMOpenGLView::prepareTexturesForImage(int imageMode, const QRectF &imageRect,
                                                                      bool createAllTesturesIfNotExist)
{
    std::vector<LMOpenGLTexturePtr> result;
    const LMImagePtr image = imageByImageMode(imageMode);
    if (!image)
        return result;
    auto &tiles = imageMode == ImageModeFitin ? m_usingTexturesFitin : m_usingTexturesNormal;
    int64_t frame = 0;
    if (imageMode == ImageModeNormal) {
        frame = drawableFrameIdx();
        m_frameIdxOfCurNormalTexture = frame;
        // The tiles made ahead for this picture are its first tiles.
        if (image == imageAhead() && frame == 0) {
            tiles.merge(m_texturesAhead);
            prepareTilesAhead(nullptr, QRectF());
        }
    }
    // The fit-in image is often the very picture shown: its tiles are uploaded once and serve both
    // sets (first frames alike; the sets are released apart, each holding its references).
    const bool fitin = imageMode == ImageModeFitin;
    const auto &otherTiles = fitin ? m_usingTexturesNormal : m_usingTexturesFitin;
    const bool sharesTiles = (imageMode == ImageModeNormal || fitin) && frame == 0 &&
                             (fitin ? m_frameIdxOfCurNormalTexture == 0 && imageNormal() == image : imageFitin() == image);
    // Without leave to make them all, a few new tiles a frame: a zoom that reaches pixels not
    // uploaded yet shows them within a few frames, and no frame stalls on uploads.
    int mayCreate = createAllTesturesIfNotExist ? INT_MAX : kNewTilesPerFrame;
    const auto started = std::chrono::steady_clock::now();
    const auto mayCreateMore = [&] {
        return mayCreate > 0 ||
               std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count() < kUploadTimePerFrame;
    };
    std::vector<QRect> covering = LMOpenGLTexture::tilesCoveringRect(image->width(), image->height(), imageRect);
    // A few at a time, those in the middle of the view first: where the eye is, and where a zoom
    // about the middle ends.
    if (!createAllTesturesIfNotExist)
        sortNearestFirst(covering, imageRect.center());
    for (const QRect &t : covering) {
        const int64_t key = LMOpenGLTexture::tileKey(t.x(), t.y());
        auto it = tiles.find(key);
        if (it == tiles.end() && sharesTiles) {
            if (const auto shared = otherTiles.find(key); shared != otherTiles.end())
                it = tiles.emplace(key, shared->second).first;
        }
        if (it == tiles.end()) {
            if (!mayCreateMore())
                continue;
            auto texture = textureFromPool();
            // A tile that cannot be made (unknown pixel size, short frame, no texture name) ends
            // the walk: the view shows what exists.
            if (!texture->setData(*image, frame, t.x(), t.y(), t.width(), t.height(), &m_renderInfo))
                return result;
            ++m_tileUploads;
            it = tiles.emplace(key, std::move(texture)).first;
            --mayCreate;
        } else if (it->second->frameIdx() != frame) {
            // The next frame of an animation goes into the tile that is already there, unless the
            // other set shows that tile too (an animation that is its own fit-in image): then this
            // set takes a texture of its own, once. A tile that cannot take the frame is dropped
            // rather than shown with another frame's pixels.
            if (const auto other = otherTiles.find(key); other != otherTiles.end() && other->second == it->second)
                it->second = std::make_shared<LMOpenGLTexture>();
            if (!it->second->setData(*image, frame, t.x(), t.y(), t.width(), t.height(), &m_renderInfo)) {
                tiles.erase(it);
                return result;
            }
            ++m_tileUploads;
        }
        result.push_back(it->second);
    }
    return result;
}

std::vector<LMOpenGLTexturePtr> LMOpenGLView::prepareTexturesForImageViewRect(int imageMode, const QRectF &viewRect,
                                                                              bool createAllTesturesIfNotExist)
{
    const LMImagePtr image = imageByImageMode(imageMode);
    if (!image)
        return {};
    return prepareTexturesForImage(imageMode, mapToImageRect(viewRect, image), createAllTesturesIfNotExist);
}

void LMOpenGLView::prepareTilesAhead(const LMImagePtr &image, const QRectF &imageRect)
{
    if (m_tilesAheadTimer)
        m_tilesAheadTimer->invalidate();
    m_tilesAheadTimer.reset();
    m_tilesAheadToMake.clear();
    if (image != imageAhead())
        m_texturesAhead.clear();
    LMImageViewModel::prepareTilesAhead(image, imageRect);
    if (!image)
        return;
    // Those it has already, or that the view shows already, are not made again.
    m_tilesAheadToMake = LMOpenGLTexture::tilesCoveringRect(image->width(), image->height(), imageRect);
    const bool shown = image == imageNormal();
    std::erase_if(m_tilesAheadToMake, [&](const QRect &t) {
        const int64_t key = LMOpenGLTexture::tileKey(t.x(), t.y());
        return m_texturesAhead.count(key) || (shown && m_usingTexturesNormal.count(key));
    });
    // Made from the back of the list: the middle last in it.
    sortNearestFirst(m_tilesAheadToMake, imageRect.center());
    std::reverse(m_tilesAheadToMake.begin(), m_tilesAheadToMake.end());
    makeTilesAhead();
}

void LMOpenGLView::makeTilesAhead()
{
    m_tilesAheadTimer.reset();
    const LMImagePtr image = imageAhead();
    if (!image || m_tilesAheadToMake.empty())
        return;
    uploadTurn(m_tilesAheadTimer, &LMOpenGLView::makeTilesAhead, [&] {
        const QRect t = m_tilesAheadToMake.back();
        m_tilesAheadToMake.pop_back();
        auto texture = std::make_shared<LMOpenGLTexture>();
        if (!texture->setData(*image, 0, t.x(), t.y(), t.width(), t.height(), &m_renderInfo)) {
            m_tilesAheadToMake.clear();
            return false;
        }
        ++m_tileUploads;
        m_texturesAhead.emplace(LMOpenGLTexture::tileKey(t.x(), t.y()), std::move(texture));
        return !m_tilesAheadToMake.empty();
    });
}

void LMOpenGLView::uploadTurn(std::shared_ptr<kpv::Timer> &timer, void (LMOpenGLView::*next)(),
                              const std::function<bool()> &makeOne)
{
    // Only once OpenGL is set up: until then the uploads wait, untimed, for openGLWillStart.
    if (waitsForOpenGL())
        return;
    {
        LMShareGLContext::Scope scope;
        if (!scope.ok())
            return;
        glEnable(GL_TEXTURE_2D);
        initOpenGL();
        const auto started = std::chrono::steady_clock::now();
        bool more = true;
        while (more &&
               std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count() < kTilesAheadTimePerTurn)
            more = makeOne();
        glDisable(GL_TEXTURE_2D);
        if (!more)
            return;
    }
    timer = kpv::RunLoop::current().performAfterDelay(kTilesAheadPause, [this, next] { (this->*next)(); });
}

LMOpenGLTexturePtr LMOpenGLView::regionTexture(const LMRegionTilePtr &tile)
{
    LMOpenGLTexturePtr &texture = m_regionTextures[tile.get()];
    if (!texture) {
        auto made = std::make_shared<LMOpenGLTexture>();
        if (!made->setData(*tile->pixels, 0, tile->inset.x(), tile->inset.y(), tile->rect.width(), tile->rect.height(),
                           &m_renderInfo)) {
            m_regionTextures.erase(tile.get());
            return nullptr;
        }
        ++m_tileUploads;
        texture = std::move(made);
    }
    return texture;
}

void LMOpenGLView::prepareShadowTexture()
{
    if (m_textureShadow || !m_imageShadow)
        return;
    auto texture = std::make_unique<LMOpenGLShadowTexture>();
    if (texture->setShadowData(*m_imageShadow, m_shadowSliceLeftTop, m_shadowSliceRightBottom, &m_renderInfo,
                               m_backgroundColor))
        m_textureShadow = std::move(texture);
}

void LMOpenGLView::prepareDrawContent(LMOpenGLLayer *)
{
    if (!imageNormal() && !imageBadFile()) {
        m_texturesNormal.clear();
        m_texturesFitin.clear();
        return;
    }
    // The tiles are made once OpenGL is set up (openGLWillStart).
    if (waitsForOpenGL())
        return;
    LMShareGLContext::Scope scope;
    if (!scope.ok())
        return;
    glEnable(GL_TEXTURE_2D);
    initOpenGL();
    if (const LMImagePtr fitin = imageFitin(); fitin && m_usingTexturesFitin.empty())
        prepareTexturesForImage(ImageModeFitin, QRectF(0, 0, double(fitin->width()), double(fitin->height())), true);
    const QRectF viewRect = viewBounds();
    const bool zooming = needOptimizeDrawImage();
    if (zooming)
        m_texturesFitin = prepareTexturesForImageViewRect(ImageModeFitin, viewRect, true);
    else
        m_texturesFitin.clear();
    m_haveFitinTextures = zooming;
    if (imageNormal()) {
        // During a zoom a few new tiles per frame, so no frame stalls on uploads.
        m_texturesNormal = prepareTexturesForImageViewRect(ImageModeNormal, viewRect, !zooming);
    } else {
        const LMImagePtr bad = imageBadFile();
        m_texturesNormal =
            prepareTexturesForImage(ImageModeBadFile, QRectF(0, 0, double(bad->width()), double(bad->height())), true);
    }
    prepareRegionTextures();
    prepareShadowTexture();
    glDisable(GL_TEXTURE_2D);
}

std::vector<std::pair<LMRegionTilePtr, bool>> LMOpenGLView::regionsForFrame(bool zooming) const
{
    std::vector<std::pair<LMRegionTilePtr, bool>> list;
    const LMImagePtr normal = imageNormal();
    const LMFileImgBaseInfoPtr base = normal ? normal->originalImgBaseInfo() : nullptr;
    if (!base || regionTiles().empty())
        return list;
    const QSizeF raw = base->rawFrameSize();
    // A region adds nothing where the normal image is as fine, unless its tiles are still on
    // their way (during a zoom): then it fills their gaps from under them. A finer one is drawn
    // through a zoom; at rest only over a normal image enlarged, and not when the view would
    // shrink it more than twice: a fitted picture keeps the look of its own pixels, and the
    // regions decoded for a zoom to come wait for its frames.
    const double have = normal->scaleOfOriginal();
    const bool enlarged = scale() > have * 1.0001;
    const QRectF shown = convertToOriginalImageRectForRect(viewBounds());
    for (const LMRegionTilePtr &tile : regionTiles()) {
        const LMFileImgBaseInfoPtr tileBase = tile->pixels ? tile->pixels->originalImgBaseInfo() : nullptr;
        const bool finer = 1.0 / tile->reduction > have * 1.0001;
        const bool drawn = zooming || (finer && enlarged && 1.0 / tile->reduction <= 2 * scale() * 1.0001);
        if (tileBase && tileBase->isEqual(*base) && drawn && tile->rawRect(raw).intersects(shown))
            list.emplace_back(tile, finer);
    }
    return list;
}

void LMOpenGLView::prepareRegionTextures()
{
    m_regionsToDraw.clear();
    m_regionsUnderNormal = 0;
    std::vector<std::pair<LMRegionTilePtr, LMOpenGLTexturePtr>> under, over;
    for (const auto &[tile, finer] : regionsForFrame(m_haveFitinTextures)) {
        const LMOpenGLTexturePtr texture = regionTexture(tile);
        if (!texture)
            continue;
        (finer ? over : under).emplace_back(tile, texture);
    }
    // Coarse reductions first, the finest on top.
    const auto coarseFirst = [](const auto &a, const auto &b) { return a.first->reduction > b.first->reduction; };
    std::stable_sort(under.begin(), under.end(), coarseFirst);
    std::stable_sort(over.begin(), over.end(), coarseFirst);
    m_regionsUnderNormal = under.size();
    m_regionsToDraw = std::move(under);
    m_regionsToDraw.insert(m_regionsToDraw.end(), over.begin(), over.end());
}

std::vector<LMOpenGLTexturePtr> LMOpenGLView::fillerTextures(const QRectF &rawFrame) const
{
    std::vector<LMOpenGLTexturePtr> list;
    const LMImagePtr normal = imageNormal(), fitin = imageFitin();
    if (!normal || !fitin || fitin->width() == 0 || fitin->height() == 0 || normal->width() == 0 || normal->height() == 0)
        return list;
    const QRectF v = convertToOriginalImageRectForRect(viewBounds());
    const double fx = rawFrame.width() / double(fitin->width()), fy = rawFrame.height() / double(fitin->height());
    const double nx = rawFrame.width() / double(normal->width()), ny = rawFrame.height() / double(normal->height());
    auto scaled = [](const QRectF &r, double sx, double sy) {
        return QRectF(r.x() * sx, r.y() * sy, r.width() * sx, r.height() * sy);
    };
    for (const LMOpenGLTexturePtr &tile : m_texturesFitin) {
        const QRectF w = scaled(tile->blockRect(), fx, fy).intersected(v);
        if (w.isEmpty())
            continue;
        double covered = 0;
        for (const LMOpenGLTexturePtr &n : m_texturesNormal) {
            const QRectF c = w.intersected(scaled(n->blockRect(), nx, ny));
            if (!c.isEmpty())
                covered += c.width() * c.height();
        }
        if (w.width() * w.height() * 0.9999999 > covered)
            list.push_back(tile);
    }
    return list;
}

QRect LMOpenGLView::pixelsCoveredByPicture() const
{
    const LMImagePtr normal = imageNormal();
    if (!normal || m_imageNotDraw || m_haveFitinTextures || normal->width() == 0 || normal->height() == 0)
        return QRect();
    // Only an upright or quarter-turned picture fills a rectangle of the frame buffer.
    const LMImageRotateAngle &a = angleRotate();
    if (std::fmod(a.angleRotate(), 90) != 0 || std::fmod(a.angleHorizontalFlip(), 180) != 0 ||
        std::fmod(a.angleVerticalFlip(), 180) != 0)
        return QRect();
    // Every tile of the visible part must be there to be drawn.
    const QRectF shownPart = mapToImageRect(viewBounds(), normal);
    if (LMOpenGLTexture::tilesCoveringRect(normal->width(), normal->height(), shownPart).size() != m_texturesNormal.size())
        return QRect();
    // The pixels whose centres lie inside the picture, frame-buffer pixels from the bottom left.
    const double r = pixelRatio();
    const QRectF v = imageVisibleViewRect().intersected(viewBounds());
    const int left = int(std::ceil(v.left() * r)), right = int(std::floor(v.right() * r));
    const int bottom = int(std::ceil(v.top() * r)), top = int(std::floor(v.bottom() * r));
    if (right <= left || top <= bottom)
        return QRect();
    return QRect(left, bottom, right - left, top - bottom);
}

void LMOpenGLView::clearAroundPicture()
{
    // A clear of the whole frame buffer is cheap; a clear of a part of it (the scissor box, while
    // only the picture of an animation is drawn again) is drawn like a picture, pixel by pixel. The
    // picture is drawn without blending over every pixel it covers, so those need no clearing.
    const QRect covered = glIsEnabled(GL_SCISSOR_TEST) ? pixelsCoveredByPicture() : QRect();
    GLint box[4] = {0, 0, 0, 0};
    if (!covered.isEmpty())
        glGetIntegerv(GL_SCISSOR_BOX, box);
    const QRect scissor(box[0], box[1], box[2], box[3]);
    const QRect inner = covered.intersected(scissor);
    if (inner.isEmpty()) {
        glClear(GL_COLOR_BUFFER_BIT);
        return;
    }
    const QRect strips[4] = {
        QRect(QPoint(scissor.left(), scissor.top()), QPoint(scissor.right(), inner.top() - 1)),       // below
        QRect(QPoint(scissor.left(), inner.bottom() + 1), QPoint(scissor.right(), scissor.bottom())), // above
        QRect(QPoint(scissor.left(), inner.top()), QPoint(inner.left() - 1, inner.bottom())),         // left
        QRect(QPoint(inner.right() + 1, inner.top()), QPoint(scissor.right(), inner.bottom())),       // right
    };
    for (const QRect &strip : strips) {
        if (strip.isEmpty())
            continue;
        glScissor(strip.x(), strip.y(), strip.width(), strip.height());
        glClear(GL_COLOR_BUFFER_BIT);
    }
    glScissor(box[0], box[1], box[2], box[3]);
}

void LMOpenGLView::drawLayer(LMOpenGLLayer *layer, double)
{
    if (layer->isAsynchronous()) {
        advanceZoomForFrame();
        prepareDrawContent(layer);
    } else if (imageNormal() && m_frameIdxOfCurNormalTexture != drawableFrameIdx()) {
        // Frames shown as kept pixels left the tiles behind: they take the frame now.
        prepareDrawContent(layer);
    }
    glEnable(GL_TEXTURE_2D);
    glDisable(GL_BLEND);
    glDisable(GL_DEPTH_TEST);
    glClearColor(GLfloat(m_backgroundColor.redF()), GLfloat(m_backgroundColor.greenF()), GLfloat(m_backgroundColor.blueF()),
                 GLfloat(m_backgroundColor.alphaF()));
    clearAroundPicture();
    const LMImagePtr valid = validImage();
    const bool hasContent = !m_texturesNormal.empty() || imageNormal() || imageBadFile();
    if (hasContent && !m_imageNotDraw && valid && valid->originalImgBaseInfo()) {
        const QRectF b = viewBounds();
        const QRectF f = getBoundsForFitin();
        const QRectF raw = valid->originalImgBaseInfo()->rawFrameRect();
        const double m = std::max(raw.width(), raw.height());
        if (m > 0 && b.width() > 0 && b.height() > 0) {
            const double k = (1 / m) * 0.5;
            const double r = pixelRatio();
            // The frame buffer is the view's size in device pixels, rounded as the toolkit rounds it.
            glViewport(GLint(std::lround(b.x() * r)), GLint(std::lround(b.y() * r)), GLsizei(std::lround(b.width() * r)),
                       GLsizei(std::lround(b.height() * r)));
            glMatrixMode(GL_PROJECTION);
            glLoadIdentity();
            // A deep depth range: an image turned edge-on by a flip at a high zoom must not be cut
            // by the near and far planes.
            glOrtho(-0.5 * b.width() * k, 0.5 * b.width() * k, -0.5 * b.height() * k, 0.5 * b.height() * k, -1e6, 1e6);
            glMatrixMode(GL_MODELVIEW);
            glLoadIdentity();
            drawShadow(k);

            const LMImageRotateAngle &a = angleRotate();
            const QSizeF v = viewPortSizeScale();
            const double s = scale();
            glTranslated(((f.x() + f.width() * 0.5) - (b.x() + b.width() * 0.5)) * k,
                         ((f.y() + f.height() * 0.5) - (b.y() + b.height() * 0.5)) * k, 0);
            glRotated(-a.angleVerticalFlip(), 1, 0, 0);
            glRotated(-a.angleHorizontalFlip(), 0, 1, 0);
            glTranslated(offset().x() * k, offset().y() * k, 0);
            glScaled(v.width(), v.height(), 1);
            glRotated(-a.angleRotate(), 0, 0, 1);
            glScaled(s / r, s / r, 1);
            glRotated(180, 1, 0, 0); // image rows run downward
            // Orientations 2, 4, 5 and 7 mirror the picture after its turn.
            if (valid->originalImgBaseInfo()->isOrientationMirrored())
                glRotated(180, 0, 1, 0);
            glRotated(double(valid->originalImgBaseInfo()->orientationAngle()), 0, 0, 1);
            glScaled(k, k, 1);
            glTranslated(-(raw.x() + raw.width() * 0.5), -(raw.y() + raw.height() * 0.5), 0);
            // Screen pixels across one texel of a picture of `width` x `height` pixels drawn over
            // the raw frame (the scale is screen pixels per raw pixel), the narrower way. Only at
            // rest and not fitted: the frames of a zoom or a turn are drawn from the tiles as they
            // are, as the painter draws them, and no frame waits for halvings to be made.
            const bool resting = !m_haveFitinTextures && !isRotateTimerRunning() && !showsFitted();
            const auto texelScale = [&](double width, double height) {
                return resting && width > 0 && height > 0
                           ? s * std::min(v.width() * raw.width() / width, v.height() * raw.height() / height)
                           : 1.0;
            };

            if (m_haveFitinTextures) {
                const std::vector<LMOpenGLTexturePtr> filler = fillerTextures(raw);
                if (const LMImagePtr fitin = imageFitin(); fitin && !filler.empty()) {
                    glPushMatrix();
                    glScaled(raw.width() / double(fitin->width()), raw.height() / double(fitin->height()), 1);
                    const double shown = texelScale(fitin->width(), fitin->height());
                    for (const LMOpenGLTexturePtr &tile : filler)
                        tile->draw(shown);
                    glPopMatrix();
                }
            }
            // The sharp regions, each placed by its own reduction: those as fine as the normal
            // image under its tiles, the finer ones over them.
            const auto drawRegions = [&](size_t begin, size_t end) {
                for (size_t i = begin; i < end && imageNormal(); ++i) {
                    const auto &[tile, texture] = m_regionsToDraw[i];
                    if (tile->reducedSize.isEmpty())
                        continue;
                    glPushMatrix();
                    glScaled(raw.width() / tile->reducedSize.width(), raw.height() / tile->reducedSize.height(), 1);
                    glTranslated(tile->rect.x() - tile->inset.x(), tile->rect.y() - tile->inset.y(), 0);
                    texture->draw(texelScale(tile->reducedSize.width(), tile->reducedSize.height()));
                    glPopMatrix();
                }
            };
            drawRegions(0, m_regionsUnderNormal);
            const LMImagePtr source = imageNormal() ? imageNormal() : imageBadFile();
            if (source && source->width() > 0 && source->height() > 0) {
                glPushMatrix();
                glScaled(raw.width() / double(source->width()), raw.height() / double(source->height()), 1);
                const double shown = texelScale(double(source->width()), double(source->height()));
                for (const LMOpenGLTexturePtr &tile : m_texturesNormal)
                    tile->draw(shown);
                glPopMatrix();
            }
            drawRegions(m_regionsUnderNormal, m_regionsToDraw.size());
            if (pictureShowsBackgroundThrough())
                drawBackgroundUnderPicture();
        }
    }
    glDisable(GL_TEXTURE_2D);
    // What the pool still holds after the frame is not wanted.
    m_texturePool.clear();
}

namespace {
// Whether any pixel of any frame is less than opaque.
bool hasTransparentPixel(const LMImage &image)
{
    constexpr uint32_t kByteOrder32Little = 2;
    const uint32_t alphaInfo = image.bitmapInfo() & 0x1F, order = (image.bitmapInfo() >> 12) & 7;
    if (image.bitsPerPixel() != 32 || (alphaInfo < 1 || alphaInfo > 4))
        return false;
    const bool alphaLast = alphaInfo == 1 || alphaInfo == 3;
    const size_t at = alphaLast == (order != kByteOrder32Little) ? 3 : 0;
    const size_t row = size_t(image.width()) * 4;
    for (const LMDataBlock &frame : image.frameDatas()) {
        if (!frame || image.bytesPerRow() < row)
            continue;
        for (uint64_t y = 0; y < image.height(); ++y) {
            const size_t begin = size_t(y * image.bytesPerRow());
            if (begin + row > frame->length())
                break;
            const uint8_t *p = frame->bytes() + begin;
            for (size_t x = at; x < row; x += 4)
                if (p[x] != 255)
                    return true;
        }
    }
    return false;
}
} // namespace

bool LMOpenGLView::pictureShowsBackgroundThrough() const
{
    if (m_imageNotDraw || m_backgroundColor.alpha() != 255)
        return false;
    // The picture drawn: the photo, or in its place the mark of a file that cannot be shown.
    const LMImagePtr image = imageNormal() ? imageNormal() : imageBadFile();
    const LMFileImgBaseInfoPtr base = image ? image->originalImgBaseInfo() : nullptr;
    if (!base || !LMPhotoLoader::hasAlphaByAMCMType(base->AMCMImageType()))
        return false;
    // Looked at once a picture (and again as an animation's frames arrive): most kinds that may
    // be transparent are not, and their pictures are drawn as they always were.
    const qsizetype frames = image->frameDatas().size();
    if (m_transparency.image.lock() != image || m_transparency.frames != frames)
        m_transparency = {image, frames, hasTransparentPixel(*image)};
    return m_transparency.transparent;
}

void LMOpenGLView::drawBackgroundUnderPicture()
{
    // The picture's texels replaced what was under them, alpha included; the background goes
    // under what they left transparent, as the window's would under a transparent layer.
    const GLfloat quad[8] = {-1, -1, 1, -1, 1, 1, -1, 1};
    glDisable(GL_TEXTURE_2D);
    glEnable(GL_BLEND);
    glBlendFunc(GL_ONE_MINUS_DST_ALPHA, GL_ONE);
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glLoadIdentity();
    glColor4f(GLfloat(m_backgroundColor.redF()), GLfloat(m_backgroundColor.greenF()), GLfloat(m_backgroundColor.blueF()), 1);
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    glEnableClientState(GL_VERTEX_ARRAY);
    glVertexPointer(2, GL_FLOAT, 0, quad);
    glDrawArrays(GL_QUADS, 0, 4);
    glDisableClientState(GL_VERTEX_ARRAY);
    glColor4f(1, 1, 1, 1);
    glPopMatrix();
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
    glDisable(GL_BLEND);
    glEnable(GL_TEXTURE_2D);
}

void LMOpenGLView::drawShadow(double k)
{
    if (!imageNormal() || !shadowEnabled())
        return;
    // A shadow laid over another background is made again for this one.
    if (m_textureShadow && m_textureShadow->background() != m_backgroundColor)
        m_textureShadow.reset();
    prepareShadowTexture();
    if (!m_textureShadow)
        return;
    const QRectF b = viewBounds();
    const QRectF i = imageVisibleViewRect();
    const QPointF lt = m_drawOffsetLeftTop, rb = m_drawOffsetRightBottom;
    const QRectF s(i.x() - lt.x(), i.y() - rb.y(), i.width() + lt.x() + rb.x(), i.height() + lt.y() + rb.y());
    // Over a background of its own the soft shadow darkens it; over a transparent one its texels
    // stand for themselves. Laid over the background before the upload, they already are the
    // shadow on it.
    const bool blend = m_backgroundColor.alpha() == 255 && !m_textureShadow->isComposedOver(m_backgroundColor);
    if (blend) {
        glEnable(GL_BLEND);
        glBlendFunc(GL_ONE, GL_ONE_MINUS_SRC_ALPHA);
    }
    glPushMatrix();
    glScaled(k, k, 1);
    glTranslated(-(b.x() + b.width() * 0.5), -(b.y() + b.height() * 0.5), 0);
    m_textureShadow->drawShadowOnRect(s, b);
    glPopMatrix();
    if (blend)
        glDisable(GL_BLEND);
}

void LMOpenGLView::prepareOpenGL() { m_openGLLayer->didCreateContext(); }

void LMOpenGLView::openGLWillStart()
{
    m_paintedApart = QImage(); // OpenGL paints from now on
    if (!m_openGLLayer->isAsynchronous())
        prepareDrawContent(m_openGLLayer.get());
    // The tiles made ahead that waited for OpenGL, after its first frame.
    if (!m_tilesAheadToMake.empty() && !m_tilesAheadTimer)
        m_tilesAheadTimer = kpv::RunLoop::current().performAfterDelay(kTilesAheadPause, [this] { makeTilesAhead(); });
}

kpv::OpenGLView::PaintWithoutOpenGL LMOpenGLView::paintWithoutOpenGL(QPainter &painter, const QRect &rect)
{
    if (!pictureShowsBackgroundThrough())
        return paintPictureWithoutOpenGL(painter, rect);
    // Painted apart first, so that the background can go under the transparent pixels the
    // picture leaves, as drawBackgroundUnderPicture puts it there.
    const double r = pixelRatio();
    const bool wholePixels = r == std::floor(r);
    // At a pixel ratio between whole ones only the whole view lands on whole device pixels.
    const QRect area = wholePixels ? rect
                                   : QRect(0, 0, int(std::ceil(viewBounds().width())), int(std::ceil(viewBounds().height())));
    const QSize size(int(std::ceil(area.width() * r)), int(std::ceil(area.height() * r)));
    if (m_paintedApart.size() != size)
        m_paintedApart = QImage(size, QImage::Format_ARGB32_Premultiplied);
    QImage &apart = m_paintedApart;
    if (apart.isNull())
        return paintPictureWithoutOpenGL(painter, rect);
    apart.setDevicePixelRatio(r);
    apart.fill(Qt::transparent);
    QPainter p(&apart);
    p.translate(-area.topLeft());
    const PaintWithoutOpenGL result = paintPictureWithoutOpenGL(p, rect);
    p.setCompositionMode(QPainter::CompositionMode_DestinationOver);
    p.fillRect(rect, m_backgroundColor);
    p.end();
    if (result == PaintWithoutOpenGL::NeedsOpenGL)
        return result;
    painter.save();
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.drawImage(QRectF(rect), apart, QRectF(QPointF(rect.topLeft() - area.topLeft()) * r, QSizeF(rect.size()) * r));
    painter.restore();
    return result;
}

kpv::OpenGLView::PaintWithoutOpenGL LMOpenGLView::paintPictureWithoutOpenGL(QPainter &painter, const QRect &rect)
{
    const LMImagePtr image = imageNormal();
    if (!image && !imageBadFile()) {
        painter.fillRect(rect, Qt::transparent); // what the frame's clear leaves
        return PaintWithoutOpenGL::Clear;
    }
    // A zoom's frame shows the scale of this moment, as drawLayer's does.
    if (m_openGLLayer->isAsynchronous())
        advanceZoomForFrame();
    // The picture is painted here as drawLayer draws it: the background, the drop shadow, the
    // picture and the sharp regions over it, at rest, through a zoom and turned.
    // A picture set aside (while a swipe shows the pictures on their own views) leaves the
    // background, as drawLayer's clear does.
    if (image && m_imageNotDraw) {
        painter.fillRect(rect, m_backgroundColor);
        return PaintWithoutOpenGL::PictureAtRest;
    }
    const LMFileImgBaseInfoPtr base = image ? image->originalImgBaseInfo() : nullptr;
    if (!image || !base)
        return PaintWithoutOpenGL::NeedsOpenGL;
    const QImage pixels = image->frameImage(int(drawableFrameIdx()));
    const QRectF shown = imageVisibleViewRect();
    const QSizeF raw = base->rawFrameSize();
    if (pixels.isNull() || shown.isEmpty() || raw.isEmpty())
        return PaintWithoutOpenGL::NeedsOpenGL;
    // From the raw frame (rows downward from its top left) to the widget's points (downward from
    // its top left): the view's own mapping, turns and flips included, seen flat as drawLayer's
    // projection sees it.
    const double viewHeight = viewBounds().height();
    const LMMatrix m = currentMatrix();
    const QTransform fromRaw(m.a, -m.d, m.b, -m.e, m.c, viewHeight - m.f);
    const double r = pixelRatio();
    const bool actualSize = fromRaw.m11() * r == 1 && fromRaw.m22() * r == 1 && fromRaw.m12() == 0 &&
                            fromRaw.m21() == 0 && viewBounds().contains(shown) && QSizeF(pixels.size()) == raw;
    // Of an animation the frames after the first are painted here at actual size, or at rest
    // where each is resampled once into the view (a GIF at fit): setting OpenGL up for them would
    // cost a software driver more memory and processor time than the frames themselves.
    const bool laterFrame = drawableFrameIdx() != 0;
    if (laterFrame && base->AMCMImageType() != LMPhotoLoader::kAMCMImageTypeGIF)
        return PaintWithoutOpenGL::NeedsOpenGL;
    // View points run upward from the bottom left, the widget's downward from the top left.
    const auto down = [viewHeight](const QRectF &v) {
        return QRectF(v.x(), viewHeight - v.y() - v.height(), v.width(), v.height());
    };
    const QRectF shownDown = down(shown);
    const bool shadow = shadowEnabled() && m_imageShadow;
    const std::vector<std::pair<LMRegionTilePtr, bool>> regions = regionsForFrame(needOptimizeDrawImage());
    if (actualSize && regions.empty() && r == 1.0 && shownDown.toRect() == shownDown) {
        // A frame at actual size is copied as it is, without blending, as OpenGL draws it; only
        // the background and the shadow around it are painted.
        const QRect covered = shownDown.toRect();
        // The next frame of an animation repaints the picture alone.
        if (!covered.contains(rect)) {
            for (const QRect &part : QRegion(rect).subtracted(QRegion(covered)))
                painter.fillRect(part, m_backgroundColor);
            if (shadow)
                paintShadow(painter, shown, down);
        }
        painter.save();
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.drawImage(covered.topLeft(), pixels);
        painter.restore();
        return PaintWithoutOpenGL::PictureAtRest;
    }
    // At rest every region drawn is finer than the picture and goes over it. A frame of a drag is
    // not at rest: averaging the whole view anew at each step of the pointer would slow the drag.
    const bool resting = !needOptimizeDrawImage() && !isRotateTimerRunning() && !m_panning &&
                         std::all_of(regions.begin(), regions.end(), [](const auto &region) { return region.second; });
    if (!resting && (laterFrame || viewBounds().width() * r * viewBounds().height() * r > kMostPaintedFramePixels))
        return PaintWithoutOpenGL::NeedsOpenGL;
    painter.fillRect(rect, m_backgroundColor);
    if (shadow)
        paintShadow(painter, shown, down);
    painter.save();
    // The picture is drawn without blending, as drawLayer draws it.
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    if (resting) {
        // At rest, resampled once with its sharp regions: as OpenGL's filter samples it where it
        // is shown at its size or larger, by area where it is shown smaller; every later paint (a
        // fade over the view) copies it.
        const QTransform toDevice = QTransform::fromScale(raw.width() / pixels.width(), raw.height() / pixels.height()) *
                                    fromRaw * QTransform::fromScale(r, r);
        if (const QImage &resampled = restingPicture(image, pixels, toDevice, regions); !resampled.isNull()) {
            painter.drawImage(QPointF(m_restingPicture.device.topLeft()) / r, resampled);
            painter.restore();
            return PaintWithoutOpenGL::PictureAtRest;
        }
    }
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.setTransform(fromRaw, true);
    // Each region with its ring of neighbouring pixels, cut at its own edges: neighbouring regions
    // meet without a seam, as their tiles do under OpenGL's filtering.
    const auto paintRegion = [&](const LMRegionTile &tile) {
        const QImage regionPixels = tile.pixels ? tile.pixels->frameImage(0) : QImage();
        if (regionPixels.isNull() || tile.reducedSize.isEmpty())
            return;
        const QRect source = QRect(tile.inset, tile.rect.size()).adjusted(-1, -1, 1, 1).intersected(regionPixels.rect());
        const double sx = raw.width() / tile.reducedSize.width(), sy = raw.height() / tile.reducedSize.height();
        const QPointF origin(tile.rect.x() - tile.inset.x(), tile.rect.y() - tile.inset.y());
        painter.save();
        painter.setClipRect(tile.rawRect(raw), Qt::IntersectClip);
        painter.drawImage(QRectF((origin.x() + source.x()) * sx, (origin.y() + source.y()) * sy, source.width() * sx,
                                 source.height() * sy),
                          regionPixels, QRectF(source));
        painter.restore();
    };
    // Those as fine as the picture under it (they show only through its transparent pixels), the
    // finer ones over it.
    for (const auto &[tile, finer] : regions)
        if (!finer)
            paintRegion(*tile);
    painter.drawImage(QRectF(0, 0, raw.width(), raw.height()), pixels);
    for (const auto &[tile, finer] : regions)
        if (finer)
            paintRegion(*tile);
    painter.restore();
    return PaintWithoutOpenGL::PictureAtRest;
}

namespace {
// The device pixels whose centres `area` (device points) covers.
QRect pixelsWithCentresIn(const QRectF &area)
{
    const int left = int(std::ceil(area.left() - 0.5)), right = int(std::ceil(area.right() - 0.5));
    const int top = int(std::ceil(area.top() - 0.5)), bottom = int(std::ceil(area.bottom() - 0.5));
    return QRect(left, top, std::max(0, right - left), std::max(0, bottom - top));
}

// Each of the four bytes of `p` and `q` mixed, `weight` 256ths of `q`, rounded.
inline uint32_t lerpChannels(uint32_t p, uint32_t q, int weight)
{
    const uint32_t w = uint32_t(weight), iw = 256 - w;
    const uint32_t even = (((p & 0x00FF00FFu) * iw + (q & 0x00FF00FFu) * w + 0x00800080u) >> 8) & 0x00FF00FFu;
    const uint32_t odd = (((p >> 8) & 0x00FF00FFu) * iw + ((q >> 8) & 0x00FF00FFu) * w + 0x00800080u) & 0xFF00FF00u;
    return even | odd;
}

// Whether the pixels of `source` lie red first in memory (else blue first, as the device image's);
// nothing for a layout the resamplers do not read.
std::optional<bool> redFirstOf(const QImage &source)
{
    if (Q_BYTE_ORDER != Q_LITTLE_ENDIAN)
        return std::nullopt;
    switch (source.format()) {
    case QImage::Format_ARGB32_Premultiplied:
    case QImage::Format_ARGB32:
    case QImage::Format_RGB32:
        return false;
    case QImage::Format_RGBA8888_Premultiplied:
    case QImage::Format_RGBA8888:
    case QImage::Format_RGBX8888:
        return true;
    default:
        return std::nullopt;
    }
}

// What both resamplers need to know of a source seen through `toDevice`, which may turn it by
// quarters only: each source axis then follows one device axis ((m11, m12) of `toSource` is where
// a step along device x goes in the source, (m21, m22) a step along y), and the image they fill.
// Nothing for a layout they do not read, a transform that cannot be undone or turns otherwise,
// nothing to make, or no memory for it. `reuse` is filled again when no one else holds it and it
// has the size and layout: the frames of an animation so go into the same pages.
struct Resampling {
    bool redFirst = false;
    QTransform toSource;
    bool turned = false; // device x runs along source y
    QImage out;          // the device pixels to fill, premultiplied
};

std::optional<Resampling> resamplingOf(const QImage &source, const QTransform &toDevice, const QRect &device,
                                       QImage reuse)
{
    const std::optional<bool> order = redFirstOf(source);
    bool invertible = false;
    Resampling r;
    r.toSource = toDevice.inverted(&invertible);
    if (!order || !invertible || device.isEmpty() || source.isNull())
        return std::nullopt;
    r.redFirst = *order;
    const QTransform &t = r.toSource;
    r.turned = std::abs(t.m11()) < 1e-9 && std::abs(t.m22()) < 1e-9;
    if (!r.turned && (std::abs(t.m12()) > 1e-9 || std::abs(t.m21()) > 1e-9))
        return std::nullopt;
    if (reuse.size() == device.size() && reuse.format() == QImage::Format_ARGB32_Premultiplied && reuse.isDetached())
        r.out = std::move(reuse);
    else
        r.out = QImage(device.size(), QImage::Format_ARGB32_Premultiplied);
    if (r.out.isNull())
        return std::nullopt;
    return r;
}

// Runs `band(from, to)` over the rows 0..height, in bands on a few cores when `spread`.
void runInBands(int height, bool spread, const std::function<void(int, int)> &band)
{
    const int h = height;
    const int helpers = spread ? int(std::min(3u, std::thread::hardware_concurrency())) : 0;
    std::vector<std::thread> threads;
    for (int i = 0; i < helpers; ++i) {
        const int from = h * (i + 1) / (helpers + 1), to = h * (i + 2) / (helpers + 1);
        try {
            threads.emplace_back(band, from, to);
        } catch (const std::system_error &) {
            band(from, to); // no thread to be had: this one does the band
        }
    }
    band(0, h / (helpers + 1));
    for (std::thread &t : threads)
        t.join();
}

// `out` made from `source`, opaque where the source has no alpha of its own.
QImage opaqueWhereSourceIs(const QImage &source, QImage out)
{
    if (source.format() == QImage::Format_RGB32 || source.format() == QImage::Format_RGBX8888)
        for (int y = 0; y < out.height(); ++y)
            for (uint8_t *p = out.scanLine(y) + 3, *end = p + size_t(out.width()) * 4; p < end; p += 4)
                *p = 255;
    return out;
}

// `device` of `source` seen through `toDevice` (source pixels to device points, turned by
// quarters only), each pixel sampled as OpenGL's linear filter samples a texture: the four source
// pixels nearest its centre, weighted by distance, the picture's edges repeated beyond it. Null
// for a pixel layout it does not read.
QImage resampleLinear(const QImage &source, const QTransform &toDevice, const QRect &device, QImage reuse = {})
{
    std::optional<Resampling> r = resamplingOf(source, toDevice, device, std::move(reuse));
    if (!r)
        return QImage();
    const bool redFirst = r->redFirst, turned = r->turned;
    const QTransform &toSource = r->toSource;
    QImage out = std::move(r->out);
    // Per device column and row, the two source pixels sampled along that axis and the weight of
    // the second, in 256ths, each step rounded as a software renderer's filter rounds it, to the
    // level.
    struct Sample {
        qsizetype first, second; // byte offsets
        int weight;
    };
    const auto samples = [](int count, double start, double step, int size, qsizetype bytes) {
        std::vector<Sample> list(size_t(std::max(count, 0)));
        for (int i = 0; i < count; ++i) {
            // From the centre of the first source pixel.
            const double at = start + (i + 0.5) * step - 0.5;
            const double whole = std::floor(at);
            const int weight = int(std::lround((at - whole) * 256));
            const int64_t n = int64_t(whole);
            list[size_t(i)] = {qsizetype(std::clamp<int64_t>(n, 0, size - 1)) * bytes,
                               qsizetype(std::clamp<int64_t>(n + 1, 0, size - 1)) * bytes, weight};
        }
        return list;
    };
    const int sw = source.width(), sh = source.height();
    const qsizetype stride = source.bytesPerLine();
    // Device x runs along source x (or, turned, source y); device y along the other.
    const QPointF origin = toSource.map(QPointF(device.x(), device.y()));
    const std::vector<Sample> columns =
        turned ? samples(device.width(), origin.y(), toSource.m12(), sh, stride)
               : samples(device.width(), origin.x(), toSource.m11(), sw, 4);
    const std::vector<Sample> rows = turned ? samples(device.height(), origin.x(), toSource.m21(), sw, 4)
                                            : samples(device.height(), origin.y(), toSource.m22(), sh, stride);
    const uint8_t *bits = source.constBits();
    const auto pixel = [bits](qsizetype at) {
        uint32_t p;
        std::memcpy(&p, bits + at, 4);
        return p;
    };
    uint8_t *outBits = out.bits();
    const qsizetype outStride = out.bytesPerLine();
    const auto band = [&](int from, int to) {
        for (int y = from; y < to; ++y) {
            const Sample &row = rows[size_t(y)];
            auto *o = reinterpret_cast<uint32_t *>(outBits + y * outStride);
            for (int x = 0; x < device.width(); ++x) {
                const Sample &column = columns[size_t(x)];
                // Along source x between a and b (and c and d), along source y between the two.
                const Sample &sx = turned ? row : column, &sy = turned ? column : row;
                const uint32_t top = lerpChannels(pixel(sy.first + sx.first), pixel(sy.first + sx.second), sx.weight);
                const uint32_t bottom =
                    lerpChannels(pixel(sy.second + sx.first), pixel(sy.second + sx.second), sx.weight);
                const uint32_t v = lerpChannels(top, bottom, sy.weight);
                o[x] = redFirst ? (v & 0xFF00FF00u) | ((v & 0xFFu) << 16) | ((v >> 16) & 0xFFu) : v;
            }
        }
    };
    // A picture the size of a screen takes a good ten milliseconds on one core: in bands on
    // several, so that it reaches the screen as soon as a single scaled copy would.
    runInBands(device.height(), qsizetype(device.width()) * device.height() >= (1 << 18), band);
    return opaqueWhereSourceIs(source, std::move(out));
}

// `device` of `source` seen through `toDevice` (as resampleLinear takes them) where it shrinks the
// source along at least one axis: each device pixel the mean of the source pixels under it, each
// weighted by the part of it the device pixel covers (an axis that is not shrunk is sampled
// linearly). A picture drawn at 0.55 of its size so keeps its fine lines and text without a beat
// pattern, which four taps of a linear filter, skipping pixels between them, make of them. Null
// for a pixel layout it does not read.
QImage resampleArea(const QImage &source, const QTransform &toDevice, const QRect &device, QImage reuse = {})
{
    std::optional<Resampling> r = resamplingOf(source, toDevice, device, std::move(reuse));
    if (!r)
        return QImage();
    const bool redFirst = r->redFirst, turned = r->turned;
    const QTransform &toSource = r->toSource;
    QImage out = std::move(r->out);
    // Per device column and row, the source pixels it takes along its source axis: indices
    // (the picture's edges repeated beyond it) and weights summing to one.
    struct Taps {
        std::vector<int> begin; // per device pixel, into index and weight; one more at the end
        std::vector<int> index;
        std::vector<float> weight;
    };
    const auto taps = [](int count, double start, double step, int size) {
        Taps t;
        t.begin.reserve(size_t(count) + 1);
        const double width = std::abs(step);
        for (int i = 0; i < count; ++i) {
            t.begin.push_back(int(t.index.size()));
            if (width > 1) {
                const double a = start + i * step, b = a + step;
                const double lo = std::min(a, b), hi = std::max(a, b);
                for (double j = std::floor(lo); j < hi; ++j) {
                    const double part = std::min(hi, j + 1) - std::max(lo, j);
                    if (part <= 0)
                        continue;
                    t.index.push_back(int(std::clamp<double>(j, 0, size - 1)));
                    t.weight.push_back(float(part / width));
                }
            } else {
                const double at = start + (i + 0.5) * step - 0.5;
                const double whole = std::floor(at);
                t.index.push_back(int(std::clamp<double>(whole, 0, size - 1)));
                t.weight.push_back(float(1 - (at - whole)));
                t.index.push_back(int(std::clamp<double>(whole + 1, 0, size - 1)));
                t.weight.push_back(float(at - whole));
            }
        }
        t.begin.push_back(int(t.index.size()));
        return t;
    };
    const int sw = source.width(), sh = source.height();
    const QPointF origin = toSource.map(QPointF(device.x(), device.y()));
    // Device x runs along source x (or, turned, source y): the "across" axis; device y along the
    // other, the "down" axis.
    const Taps columns = turned ? taps(device.width(), origin.y(), toSource.m12(), sh)
                                : taps(device.width(), origin.x(), toSource.m11(), sw);
    const Taps rows = turned ? taps(device.height(), origin.x(), toSource.m21(), sw)
                             : taps(device.height(), origin.y(), toSource.m22(), sh);
    const auto [lowest, highest] = std::minmax_element(columns.index.begin(), columns.index.end());
    const int acrossFirst = columns.index.empty() ? 0 : *lowest;
    const int acrossLast = columns.index.empty() ? -1 : *highest;
    const uint8_t *bits = source.constBits();
    const qsizetype stride = source.bytesPerLine();
    // The byte offset of the pixel at `across` on the across axis and `down` on the down axis.
    const auto at = [turned, stride](int across, int down) {
        return turned ? qsizetype(across) * stride + qsizetype(down) * 4 : qsizetype(down) * stride + qsizetype(across) * 4;
    };
    uint8_t *outBits = out.bits();
    const qsizetype outStride = out.bytesPerLine();
    const auto band = [&](int from, int to) {
        // One device row: first the source lines under it summed down, then across.
        std::vector<float> line(size_t(std::max(0, acrossLast - acrossFirst + 1)) * 4);
        for (int y = from; y < to; ++y) {
            std::fill(line.begin(), line.end(), 0.0f);
            for (int k = rows.begin[size_t(y)]; k < rows.begin[size_t(y) + 1]; ++k) {
                const float w = rows.weight[size_t(k)];
                if (w == 0)
                    continue;
                const int down = rows.index[size_t(k)];
                float *l = line.data();
                for (int across = acrossFirst; across <= acrossLast; ++across, l += 4) {
                    const uint8_t *p = bits + at(across, down);
                    l[0] += w * p[0];
                    l[1] += w * p[1];
                    l[2] += w * p[2];
                    l[3] += w * p[3];
                }
            }
            uint8_t *o = outBits + y * outStride;
            for (int x = 0; x < device.width(); ++x, o += 4) {
                float sum[4] = {0, 0, 0, 0};
                for (int k = columns.begin[size_t(x)]; k < columns.begin[size_t(x) + 1]; ++k) {
                    const float w = columns.weight[size_t(k)];
                    const float *l = line.data() + size_t(columns.index[size_t(k)] - acrossFirst) * 4;
                    for (int c = 0; c < 4; ++c)
                        sum[c] += w * l[c];
                }
                uint8_t v[4];
                for (int c = 0; c < 4; ++c)
                    v[c] = uint8_t(std::clamp(std::lround(sum[c]), 0L, 255L));
                // The device image is ARGB32 premultiplied: blue, green, red, alpha in memory.
                if (redFirst)
                    std::swap(v[0], v[2]);
                std::memcpy(o, v, 4);
            }
        }
    };
    runInBands(device.height(), qsizetype(device.width()) * device.height() >= (1 << 16), band);
    return opaqueWhereSourceIs(source, std::move(out));
}

// Whether `toDevice` shrinks the source along either device axis (beyond rounding).
bool shrinks(const QTransform &toDevice)
{
    bool invertible = false;
    const QTransform toSource = toDevice.inverted(&invertible);
    if (!invertible)
        return false;
    const double acrossStep = std::hypot(toSource.m11(), toSource.m12());
    const double downStep = std::hypot(toSource.m21(), toSource.m22());
    return acrossStep > 1.0001 || downStep > 1.0001;
}

// `device` of `source` through `toDevice`: by area where that shrinks it and `byArea` allows,
// else linearly.
QImage resampleForDevice(const QImage &source, const QTransform &toDevice, const QRect &device, bool byArea,
                         QImage reuse = {})
{
    return byArea && shrinks(toDevice) ? resampleArea(source, toDevice, device, std::move(reuse))
                                       : resampleLinear(source, toDevice, device, std::move(reuse));
}
} // namespace

const QImage &LMOpenGLView::restingPicture(const LMImagePtr &image, const QImage &pixels, const QTransform &toDevice,
                                           const std::vector<std::pair<LMRegionTilePtr, bool>> &regions)
{
    const double r = pixelRatio();
    const QRectF view(0, 0, viewBounds().width() * r, viewBounds().height() * r);
    const QRect device =
        pixelsWithCentresIn(toDevice.mapRect(QRectF(0, 0, pixels.width(), pixels.height())).intersected(view));
    RestingPicture &cached = m_restingPicture;
    const auto sameRegions = [&] {
        if (cached.regions.size() != regions.size())
            return false;
        for (size_t i = 0; i < regions.size(); ++i)
            if (cached.regions[i].lock() != regions[i].first)
                return false;
        return true;
    };
    if (cached.image.lock() != image || cached.frame != drawableFrameIdx() || cached.toDevice != toDevice ||
        cached.device != device || !sameRegions()) {
        // The next frame of an animation goes into the pixels of the last.
        QImage last = std::move(cached.pixels);
        cached = RestingPicture{image, drawableFrameIdx(), toDevice, device, {}, {}};
        // Fitted, the picture keeps the look it has always had there (the fitted picture is
        // made for the view, each of its pixels shown about once).
        const bool byArea = !showsFitted();
        cached.pixels = resampleForDevice(pixels, toDevice, device, byArea, std::move(last));
        const LMFileImgBaseInfoPtr base = image->originalImgBaseInfo();
        const QSizeF raw = base ? base->rawFrameSize() : QSizeF();
        // From the raw frame to device pixels, as for the picture itself.
        const QTransform rawToDevice =
            QTransform::fromScale(pixels.width() / raw.width(), pixels.height() / raw.height()) * toDevice;
        // The sharp regions over it, coarse first, each resampled from its own pixels into the
        // device pixels whose centres it covers (its ring of neighbours' pixels feeds the filter
        // at its edges), so that neighbouring regions meet without a seam.
        for (const auto &[tile, finer] : regions) {
            cached.regions.push_back(tile);
            if (cached.pixels.isNull() || raw.isEmpty() || tile->reducedSize.isEmpty())
                continue;
            const QImage regionPixels = tile->pixels ? tile->pixels->frameImage(0) : QImage();
            if (regionPixels.isNull())
                continue;
            const QRect part = pixelsWithCentresIn(rawToDevice.mapRect(tile->rawRect(raw))).intersected(device);
            if (part.isEmpty())
                continue;
            const QTransform tileToDevice =
                QTransform::fromTranslate(tile->rect.x() - tile->inset.x(), tile->rect.y() - tile->inset.y()) *
                QTransform::fromScale(raw.width() / tile->reducedSize.width(), raw.height() / tile->reducedSize.height()) *
                rawToDevice;
            const QImage resampled = resampleForDevice(regionPixels, tileToDevice, part, byArea);
            if (resampled.isNull())
                continue;
            for (int y = 0; y < part.height(); ++y)
                std::memcpy(cached.pixels.scanLine(part.y() - device.y() + y) + size_t(part.x() - device.x()) * 4,
                            resampled.constScanLine(y), size_t(part.width()) * 4);
        }
        cached.pixels.setDevicePixelRatio(r);
    }
    return cached.pixels;
}

bool LMOpenGLView::showsFitted() const
{
    const double fit = calcFitinScale();
    return fit > 0 && std::abs(scale() - fit) <= fit * 1e-6;
}

void LMOpenGLView::paintShadow(QPainter &painter, const QRectF &shown,
                               const std::function<QRectF(const QRectF &)> &down) const
{
    const QImage picture = m_imageShadow->frameImage(0);
    if (picture.isNull())
        return;
    // The eight parts around the picture, laid out as drawShadow lays out its texels. Over a
    // background of its own the shadow darkens it; over a transparent one its pixels stand for
    // themselves, as drawShadow draws them without blending.
    const QPointF lt = m_drawOffsetLeftTop, rb = m_drawOffsetRightBottom;
    const QRectF s(shown.x() - lt.x(), shown.y() - rb.y(), shown.width() + lt.x() + rb.x(),
                   shown.height() + lt.y() + rb.y());
    painter.save();
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.setCompositionMode(m_backgroundColor.alpha() == 255 ? QPainter::CompositionMode_SourceOver
                                                                : QPainter::CompositionMode_Source);
    for (const LMOpenGLShadowTexture::Part &part : LMOpenGLShadowTexture::shadowParts(
             s, QSizeF(picture.size()), m_shadowSliceLeftTop, m_shadowSliceRightBottom))
        if (!part.destination.isEmpty() && !part.picture.isEmpty())
            painter.drawImage(down(part.destination), picture, part.picture);
    painter.restore();
}

void LMOpenGLView::drawRect(const kpv::Rect &)
{
    const double t = kpv::RunLoop::current().now();
    if (m_openGLLayer->canDrawInContext(t))
        m_openGLLayer->drawInContext(t);
}
