#pragma once

// The view that shows one image with OpenGL: the current file of the view mode, the mini window's
// image and the images of crop mode. Geometry, zoom, frames, rotation and input decisions are the
// display-free LMImageViewModel it derives from; this class adds the layer, the texture tiles, the
// drawing with its drop shadow and low-resolution filler, cursor rectangles and the event entry
// points. Main thread only.

#include "View/LMImageViewModel.h"
#include "View/LMOpenGLLayer.h"
#include "View/LMOpenGLShadowTexture.h"
#include "View/LMOpenGLTexture.h"
#include "View/LMOpenGLViewDelegate.h"

#include "appkit/OpenGLView.h"

#include <QColor>
#include <QImage>
#include <QObject>
#include <QRect>
#include <QTransform>

#include <functional>
#include <map>
#include <memory>
#include <vector>

namespace kpv {
class Timer;
}

class LMOpenGLView : public kpv::OpenGLView, public LMImageViewModel, public LMOpenGLLayerDelegate {
public:
    explicit LMOpenGLView(const kpv::Rect &frame = kpv::Rect());
    ~LMOpenGLView() override;

    LMOpenGLViewDelegate *delegate() const { return m_delegate; }
    void setDelegate(LMOpenGLViewDelegate *delegate) { m_delegate = delegate; }
    LMOpenGLLayer *openGLLayer() const { return m_openGLLayer.get(); }

    // ---- Screen ----
    void viewWillMoveToWindow(kpv::Window *window) override;
    void viewDidMoveToWindow() override;
    // Takes the window's device pixel ratio, up or down; whether it changed.
    bool updateLayerContentsScale();
    // The window moved to a screen of another density, or its screen's density changed: on the
    // next turn the picture is placed and drawn again for the new density, and a fitted picture's
    // new scale is told (the zoom figure, the decode size asked for, the navigation panel).
    void windowDidChangeScreen();
    // Follows whether the window can be seen (see LMImageViewModel::setOnScreen).
    void updateOnScreen();
    void setFrame(const kpv::Rect &frame) override;

    // ---- Drawing ----
    void prepareDrawContent(LMOpenGLLayer *layer) override;
    void drawLayer(LMOpenGLLayer *layer, double layerTime) override;
    void drawShadow(double k);
    void prepareShadowTexture();
    // The same image again changes nothing, not even the offsets.
    void setShadowImage(const LMImagePtr &image, QPointF sliceSizeLeftTop, QPointF sliceSizeRightBottom,
                        QPointF drawOffsetLeftTop, QPointF drawOffsetRightBottom);
    void setImageNotDraw(bool notDraw);
    bool imageNotDraw() const { return m_imageNotDraw; }
    void initOpenGL();
    const LMRendererInfo &renderInfo() const { return m_renderInfo; }

    // ---- Tiles ----
    std::vector<LMOpenGLTexturePtr> prepareTexturesForImage(int imageMode, const QRectF &imageRect,
                                                            bool createAllTesturesIfNotExist);
    std::vector<LMOpenGLTexturePtr> prepareTexturesForImageViewRect(int imageMode, const QRectF &viewRect,
                                                                    bool createAllTesturesIfNotExist);
    const std::vector<LMOpenGLTexturePtr> &texturesNormal() const { return m_texturesNormal; }
    const std::vector<LMOpenGLTexturePtr> &texturesFitin() const { return m_texturesFitin; }
    size_t normalTileCount() const { return m_usingTexturesNormal.size(); }
    // How many tile textures were filled so far (made or refilled with another frame).
    uint64_t tileUploadCount() const { return m_tileUploads; }
    // The tiles ahead are made the middle first, a few at a time between events; the view takes
    // them with their image.
    void prepareTilesAhead(const LMImagePtr &image, const QRectF &imageRect) override;
    size_t tilesAheadCount() const { return m_texturesAhead.size(); }

    // ---- Model hooks ----
    void setNeedsUpdateDrawContent() override;
    // The next frame of an animation: refills the tiles and redraws only the image's part of the view.
    void setNeedsUpdateFrameContent() override;
    void invalidateCursorRects() override;
    void setLayerAsynchronous(bool asynchronous) override;
    void recoveryTextures(TileSet set) override;
    void didEmptyImageSlots() override;
    // Not through a zoom or a swipe: their frames follow the view's state as they go.
    bool holdShownPicture() override;
    void releaseShownPicture() override { releasePictureOnScreen(); }
    void didChangeRegionTiles() override;
    // The sharp regions the next frame draws, coarse ones first.
    size_t regionTileDrawCount() const { return m_regionsToDraw.size(); }
    // How many sharp regions have their texture made.
    size_t regionTextureCount() const { return m_regionTextures.size(); }
    void enableShadow(bool enabled) override;
    // What shows around the picture: transparent (the default, for a view laid over others) or
    // the colour of what lies behind it in the window, over which the drop shadow is blended.
    void setBackgroundColor(const QColor &color);
    QColor backgroundColor() const { return m_backgroundColor; }
    void resetCursorRects() override;

    // ---- Events ----
    void scrollWheel(const kpv::Event &e) override;
    void magnifyWithEvent(const kpv::Event &e) override;
    void smartMagnifyWithEvent(const kpv::Event &e) override;
    void rotateWithEvent(const kpv::Event &e) override;
    void mouseDown(const kpv::Event &e) override;

protected:
    void prepareOpenGL() override;
    void drawRect(const kpv::Rect &dirty) override;
    // Pictures are drawn flat, one over another in order: no depth or stencil test.
    bool drawsWithDepth() const override { return false; }
    // Every drawing sets the view port, the matrices, the clear colour, blending and texturing it
    // draws with: the context the textures are made in serves for drawing too.
    bool drawsInSharedContext() const override { return true; }
    PaintWithoutOpenGL paintWithoutOpenGL(QPainter &painter, const QRect &rect) override;
    // What paintWithoutOpenGL paints, with the picture's transparent pixels left transparent.
    PaintWithoutOpenGL paintPictureWithoutOpenGL(QPainter &painter, const QRect &rect);
    // Whether the picture may have transparent pixels that are to show the view's background
    // (an opaque one: the window's tile, or black in full screen) instead of the black of their
    // empty texels, as they would show it through the layer onto the window beneath.
    bool pictureShowsBackgroundThrough() const;
    // The drop shadow around `shown` (view points) with the window's painter; `down` turns view
    // rectangles into widget ones.
    void paintShadow(QPainter &painter, const QRectF &shown, const std::function<QRectF(const QRectF &)> &down) const;
    // The picture at rest in device pixels of the view (`toDevice` maps the pixels of `image`'s
    // frame shown there), with the sharp `regions` over it, made when the picture, its place or
    // its regions changed; null when it cannot be made.
    const QImage &restingPicture(const LMImagePtr &image, const QImage &pixels, const QTransform &toDevice,
                                 const std::vector<std::pair<LMRegionTilePtr, bool>> &regions);
    void openGLWillStart() override;

private:
    // The textures of the sharp regions that meet the view and are finer than the normal image
    // (or, during a zoom, as fine).
    void prepareRegionTextures();
    // Whether the picture is shown at the fit-in scale: drawn there as it always was, each pixel
    // sampled linearly even where it is shown a little smaller than its size.
    bool showsFitted() const;
    // The sharp regions a frame draws (with whether each goes over the normal image), during a
    // zoom or at rest.
    std::vector<std::pair<LMRegionTilePtr, bool>> regionsForFrame(bool zooming) const;
    // The texture of a sharp region, made when it has none yet; null when it cannot be made.
    LMOpenGLTexturePtr regionTexture(const LMRegionTilePtr &tile);
    // Which fit-in tiles to draw under the normal tiles (those whose visible part they leave open).
    std::vector<LMOpenGLTexturePtr> fillerTextures(const QRectF &rawFrame) const;
    // The frame-buffer pixels (from the bottom left) that the picture's tiles will cover, or an
    // empty rectangle when they do not fill a rectangle (turning, zooming, tiles missing).
    QRect pixelsCoveredByPicture() const;
    // Shows the current frame of the normal image by putting its pixels into the view's kept
    // pixels, without drawing, when the picture is upright at actual size and wholly in the view;
    // false when it must be drawn.
    bool showFrameAsKeptPixels();
    // Clears the frame buffer for a new frame, except what the picture will cover.
    void clearAroundPicture();
    // Puts the opaque background under the transparent pixels the picture's tiles left.
    void drawBackgroundUnderPicture();
    // One turn of prepareTilesAhead: a few milliseconds of uploads, then the next turn.
    void makeTilesAhead();
    // One turn of uploads made ahead: `makeOne` runs while the turn lasts and says whether more is
    // left to make; what is left is made in `next`'s turn after a pause (`timer` holds it).
    void uploadTurn(std::shared_ptr<kpv::Timer> &timer, void (LMOpenGLView::*next)(), const std::function<bool()> &makeOne);

    LMOpenGLViewDelegate *m_delegate = nullptr;
    std::unique_ptr<LMOpenGLLayer> m_openGLLayer;
    // Hears the widget's screen changes; the pending turn that follows one.
    std::unique_ptr<QObject> m_screenWatcher;
    std::shared_ptr<kpv::Timer> m_screenChangeTimer;
    bool m_openGLInited = false;
    LMRendererInfo m_renderInfo;
    bool m_imageNotDraw = false;
    // Whether the normal image has a pixel less than opaque, for the image and frames looked at.
    mutable struct {
        std::weak_ptr<const LMImage> image;
        qsizetype frames = 0;
        bool transparent = false;
    } m_transparency;
    QColor m_backgroundColor = QColor(0, 0, 0, 0);
    std::map<int64_t, LMOpenGLTexturePtr> m_usingTexturesNormal, m_usingTexturesFitin;
    int64_t m_frameIdxOfCurNormalTexture = 0;
    uint64_t m_tileUploads = 0;
    std::vector<LMOpenGLTexturePtr> m_texturesNormal, m_texturesFitin;
    std::map<const LMRegionTile *, LMOpenGLTexturePtr> m_regionTextures;
    std::vector<std::pair<LMRegionTilePtr, LMOpenGLTexturePtr>> m_regionsToDraw;
    // How many of them go under the normal tiles: as fine as the normal image, they fill the
    // gaps of its tiles still to be uploaded during a zoom instead of the fit-in filler.
    size_t m_regionsUnderNormal = 0;
    bool m_haveFitinTextures = false;
    // While the picture is dragged: its frames are drawn as a zoom's are, and the averaged resting
    // picture is made once, when the drag ends.
    bool m_panning = false;
    // Tile textures given up since the last frame, to be refilled by the next tiles made.
    static constexpr size_t kTexturePoolSize = 16;
    std::vector<LMOpenGLTexturePtr> m_texturePool;
    LMOpenGLTexturePtr textureFromPool();
    std::vector<QRect> m_tilesAheadToMake;
    std::map<int64_t, LMOpenGLTexturePtr> m_texturesAhead;
    std::shared_ptr<kpv::Timer> m_tilesAheadTimer;
    // The last picture resampled at rest: what it was made of, and where it goes.
    struct RestingPicture {
        std::weak_ptr<const LMImage> image;
        int64_t frame = 0;
        QTransform toDevice;
        QRect device;
        QImage pixels;
        std::vector<std::weak_ptr<const LMRegionTile>> regions;
    } m_restingPicture;
    // Where a picture that shows the background through is painted apart, kept from paint to
    // paint (the frames of an animation).
    QImage m_paintedApart;
    LMImagePtr m_imageShadow;
    std::unique_ptr<LMOpenGLShadowTexture> m_textureShadow;
    QPointF m_shadowSliceLeftTop, m_shadowSliceRightBottom, m_drawOffsetLeftTop, m_drawOffsetRightBottom;
};
