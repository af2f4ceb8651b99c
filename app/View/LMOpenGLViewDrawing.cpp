// Tiles, content preparation and the frame of the image view.

#include "View/LMOpenGLView.h"

#include "Model/LMPhotoLoader.h"
#include "View/LMShareGLContext.h"
#include "foundation/RunLoop.h"
#include "foundation/Timer.h"

#include <QPainter>
#include <QRegion>

#include <epoxy/gl.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstring>

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
    // Once OpenGL is set up; the view is shown by then.
    if (!waitsForOpenGL()) {
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
    timer = kpv::RunLoop::current().performAfterDelay(waitsForOpenGL() ? 0.1 : kTilesAheadPause,
                                                      [this, next] { (this->*next)(); });
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
    const double r = isRetinaScreen() ? 2.0 : 1.0;
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
            const double r = isRetinaScreen() ? 2.0 : 1.0;
            glViewport(GLint(b.x() * r), GLint(b.y() * r), GLsizei(b.width() * r), GLsizei(b.height() * r));
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

            if (m_haveFitinTextures) {
                const std::vector<LMOpenGLTexturePtr> filler = fillerTextures(raw);
                if (const LMImagePtr fitin = imageFitin(); fitin && !filler.empty()) {
                    glPushMatrix();
                    glScaled(raw.width() / double(fitin->width()), raw.height() / double(fitin->height()), 1);
                    for (const LMOpenGLTexturePtr &tile : filler)
                        tile->draw();
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
                    texture->draw();
                    glPopMatrix();
                }
            };
            drawRegions(0, m_regionsUnderNormal);
            const LMImagePtr source = imageNormal() ? imageNormal() : imageBadFile();
            if (source && source->width() > 0 && source->height() > 0) {
                glPushMatrix();
                glScaled(raw.width() / double(source->width()), raw.height() / double(source->height()), 1);
                for (const LMOpenGLTexturePtr &tile : m_texturesNormal)
                    tile->draw();
                glPopMatrix();
            }
            drawRegions(m_regionsUnderNormal, m_regionsToDraw.size());
        }
    }
    glDisable(GL_TEXTURE_2D);
    // What the pool still holds after the frame is not wanted.
    m_texturePool.clear();
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
    if (!m_openGLLayer->isAsynchronous())
        prepareDrawContent(m_openGLLayer.get());
}

kpv::OpenGLView::PaintWithoutOpenGL LMOpenGLView::paintWithoutOpenGL(QPainter &painter, const QRect &rect)
{
    const LMImagePtr image = imageNormal();
    if (!image && !imageBadFile()) {
        painter.fillRect(rect, Qt::transparent); // what the frame's clear leaves
        return PaintWithoutOpenGL::Clear;
    }
    // Only a picture at rest, turned as its file says and no further, is painted here: the same
    // picture in the same place as drawLayer draws it, without the shadow, which falls on the
    // clear background around the picture. Of an animation, the frames after the first only when
    // each pixel is an image pixel, as they would go into the kept pixels.
    const LMImageRotateAngle &a = angleRotate();
    const LMFileImgBaseInfoPtr base = image ? image->originalImgBaseInfo() : nullptr;
    if (!image || !base || m_imageNotDraw || m_openGLLayer->isAsynchronous() || a.angleRotate() != 0 ||
        a.angleHorizontalFlip() != 0 || a.angleVerticalFlip() != 0)
        return PaintWithoutOpenGL::NeedsOpenGL;
    const QImage pixels = image->frameImage(int(drawableFrameIdx()));
    const QRectF shown = imageVisibleViewRect();
    if (pixels.isNull() || shown.isEmpty())
        return PaintWithoutOpenGL::NeedsOpenGL;
    // A GIF shown at actual size stays with the painter (what comes before its frames, a small
    // picture enlarged, too): the background around it is what the frame's clear leaves, since
    // OpenGL will not draw over it until a paint needs OpenGL.
    const double r = isRetinaScreen() ? 2.0 : 1.0;
    const QSizeF raw = base->rawFrameSize();
    const bool atRest = base->AMCMImageType() == LMPhotoLoader::kAMCMImageTypeGIF && base->orientationAngle() == 0 &&
                        !base->isOrientationMirrored() && viewBounds().contains(shown) &&
                        shown.width() * r == raw.width() && shown.height() * r == raw.height();
    if (drawableFrameIdx() != 0 && !(atRest && QSizeF(pixels.size()) == raw))
        return PaintWithoutOpenGL::NeedsOpenGL;
    // View points run upward from the bottom left, the widget's downward from the top left.
    const double viewHeight = viewBounds().height();
    const QRectF shownDown(shown.x(), viewHeight - shown.y() - shown.height(), shown.width(), shown.height());
    if (atRest && r == 1.0 && QSizeF(pixels.size()) == raw && shownDown.toRect() == shownDown) {
        // A frame at actual size is copied as it is, without blending, as OpenGL draws it; only
        // the background around it is filled.
        const QRect covered = shownDown.toRect();
        for (const QRect &part : QRegion(rect).subtracted(QRegion(covered)))
            painter.fillRect(part, m_backgroundColor);
        painter.save();
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.drawImage(covered.topLeft(), pixels);
        painter.restore();
        return PaintWithoutOpenGL::PictureAtRest;
    }
    painter.fillRect(rect, atRest ? m_backgroundColor : QColor(Qt::transparent));
    const QPointF centre(shown.center().x(), viewHeight - shown.center().y());
    const bool quarter = base->orientationAngle() % 180 != 0;
    const double w = quarter ? shown.height() : shown.width(), h = quarter ? shown.width() : shown.height();
    painter.save();
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    painter.translate(centre);
    // The stored rows turned by the file's orientation, then mirrored: as drawLayer turns them.
    if (base->isOrientationMirrored())
        painter.scale(-1, 1);
    painter.rotate(base->orientationAngle());
    painter.drawImage(QRectF(-w / 2, -h / 2, w, h), pixels);
    painter.restore();
    return atRest ? PaintWithoutOpenGL::PictureAtRest : PaintWithoutOpenGL::Picture;
}

void LMOpenGLView::drawRect(const kpv::Rect &)
{
    const double t = kpv::RunLoop::current().now();
    if (m_openGLLayer->canDrawInContext(t))
        m_openGLLayer->drawInContext(t);
}
