#pragma once
// Draws an image cut by division lines into bands: with two divisions per axis the outer bands
// keep their size and the middle one stretches; with four, the first, middle and last keep
// theirs and the other two share the rest. Slices are stretched, never tiled.

#include "Kit/LMNineSliceImageRep.h"
#include "appkit/GraphicsContext.h"
#include "appkit/View.h"

#include <optional>
#include <vector>

class LMMultiSliceImageView : public kpv::View {
public:
    using Divs = std::vector<double>;

    explicit LMMultiSliceImageView(const kpv::Rect& frame = kpv::Rect()) : kpv::View(frame) {}

    // Row values are given from the image's top edge; columns from its left edge.
    void setBackgroundImage(kpv::ImagePtr image, const Divs& rowsFromTop, const Divs& columns);
    const kpv::ImagePtr& backgroundImage() const { return m_bkgrdImage; }
    // Stored from the image's bottom edge, ascending.
    const Divs& imageRowDivValues() const { return m_imageRowDivValues; }
    const Divs& imageColDivValues() const { return m_imageColDivValues; }

    void drawRect(const kpv::Rect& dirty) override;

    // At exactly 1x, a new image with the 1x pixels alone, so a denser one is never scaled
    // down; otherwise the image itself.
    static kpv::ImagePtr preferredImageByImage(const kpv::ImagePtr& image, double contentScale,
                                               kpv::GraphicsContext* context);
    // The record's image with its slices (bottom and top rows from the bottom edge).
    static void drawMultiSliceImageImage(const LMNineSliceImageRep* rep, const kpv::Rect& rect);
    // Rows from the image's bottom edge, columns from its left edge.
    static void drawMultiSliceImageImage(const kpv::ImagePtr& image, const kpv::Rect& rect, const Divs& rows,
                                         const Divs& columns);
    // Positions of the divisions in a drawing of extent `drawSize` of an image of extent
    // `imageSize`; nothing for an unusable list (empty, not 2 or 4 values, out of the image).
    static std::optional<Divs> calcDrawDivsWithMaxDrawSize(double drawSize, double imageSize, const Divs& imageDivs);

protected:
    // Where the stretched image is drawn, in the view's coordinates: the bounds unless a
    // subclass lets it reach past them (what falls outside is cut off).
    virtual kpv::Rect backgroundDrawRect() const { return bounds(); }

private:
    kpv::ImagePtr m_bkgrdImage;
    Divs m_imageRowDivValues;
    Divs m_imageColDivValues;
    // The slices as last drawn, for the size and scale they were drawn at: views of this kind
    // stand behind every cell of a grid, and stretching nine slices at every paint costs more
    // than the rest of the cell together.
    QImage m_drawn;
    double m_drawnScale = 0;
    kpv::Rect m_drawnRect;
};
