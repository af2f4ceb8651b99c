#pragma once

// The aspect presets of crop mode: free, the display's ratio, the image's own ratio and four fixed
// ratios, with the chosen one. The list is rebuilt on every entry into the mode, with the free
// preset chosen.

#include "Edit/CropGeometry.h"

#include <QSizeF>
#include <QString>
#include <QVariantMap>

#include <cstddef>
#include <functional>
#include <vector>

class CropAspectPresets {
public:
    enum Type : int { Free = 0, Display = 1, Image = 2, Fixed = 3 };
    static constexpr size_t NotFound = size_t(-1);

    struct Preset {
        QSizeF aspectRatio;
        int type = Free;
        bool operator==(const Preset &o) const { return aspectRatio == o.aspectRatio && type == o.type; }
    };

    // Looks up a localised text by key; the main bundle's table by default.
    using Localizer = std::function<QString(const QString &key)>;

    // The seven presets in their fixed order; the free one chosen.
    void rebuild(const QSizeF &displaySizePoints, const QSizeF &imageVisualSize);

    const std::vector<Preset> &arrayCustomSizes() const { return m_presets; }
    size_t curCustomSizeIdx() const { return m_curIdx; }
    void setCurCustomSizeIdx(size_t idx) { m_curIdx = idx; }

    // The chosen preset, or the first one when the index lies outside the list (a default free
    // preset when the list is empty).
    Preset curCustomSizeInfo() const;
    bool keepCropAspectRatio() const { return curCustomSizeInfo().type != Free; }
    QSizeF curCropAspectRatio() const { return curCustomSizeInfo().aspectRatio; }
    CropAspect curAspect() const { return CropAspect{keepCropAspectRatio(), curCropAspectRatio()}; }
    QSizeF aspectRatioBySize(double width, double height) const { return curAspect().aspectRatioBySize(width, height); }
    size_t customSizeIdxByType(int type) const;

    // The title of a preset in the button and the pop-up; empty for an unknown type.
    static QString customSizeTitleString(const Preset &preset, const Localizer &localize = {});

    // Choosing the preset at `idx`: answers whether the rectangle must be re-applied for it (the
    // index changed to a non-free preset, or the display or image preset was chosen again).
    // *indexChanged tells whether the chosen index changed (the button's title then follows).
    bool choosePreset(size_t idx, bool *indexChanged);

private:
    std::vector<Preset> m_presets;
    size_t m_curIdx = 0;
};
