#pragma once

// The display-free state of crop mode: the crop rectangle in raw pixels of the current file, the
// file it belongs to, the aspect presets, and every command that changes the rectangle (entering
// the mode, presets, select all, the quarter turn, arrow keys, the wheel and pinches). The crop
// page feeds it the file, the view's angle and the display, and lays the rectangle out again
// whenever a command answers that it changed.
//
// Raw pixels have their origin at the top-left of the stored picture; visual pixels are the
// picture as shown (EXIF orientation and the view's angle applied) with y growing upwards.

#include "Edit/CropAspectPresets.h"
#include "Model/LMFileImgBaseInfo.h"
#include "Model/LMFileInfo.h"
#include "Model/LMPathString.h"
#include "Model/LMImageRotateAngle.h"
#include "View/LMMatrix.h"

#include <QPointF>
#include <QRectF>
#include <QSizeF>

#include <memory>

class CropModeModel {
public:
    // Command identifiers of the main window that crop mode answers.
    enum Action : int {
        SaveAs = 4, Copy = 7, Crop = 9, SelectAll = 10, ILoveIt = 11, RotateLeft = 14, RotateRight = 15,
        ActualSize = 30, ZoomToFit = 31, ZoomIn = 32, ZoomOut = 33,
    };
    // What the result page's preview tells the command check.
    struct PreviewState {
        double scale = 1;
        bool fitinMode = true;
        bool canZoomIn = false;
        bool canZoomOut = false;
    };
    // A key press as the crop page reads it.
    struct KeyDecision {
        bool consumed = false;
        bool zoom = false;      // result page: an arrow-key zoom of the preview
        bool zoomIn = false;
        bool move = false;      // crop page: move (else resize) by `delta`
        QPointF delta;
    };

    // Entering the mode on the view mode's current file: rebuilds the presets (the free one
    // chosen) and keeps the last rectangle when it belongs to the same unchanged file, else starts
    // with the centred half.
    void enterWithFile(const LMPathString &path, const LMFileImgBaseInfoPtr &info, const LMImageRotateAngle &viewAngle,
                       const QSizeF &displaySizePoints);

    const CropAspectPresets &presets() const { return m_presets; }
    CropAspect aspect() const { return m_presets.curAspect(); }

    QRectF originalImageRawCropRect() const { return m_rawCropRect; }
    // Stores a rectangle; answers whether it changed.
    bool setOriginalImageRawCropRect(const QRectF &rect);
    QRectF rawFrameRectOfCurFile() const { return m_info ? m_info->rawFrameRect() : QRectF(); }
    // The visual frame: the raw frame as shown, at the origin.
    QRectF visualFrame() const;
    QRectF rawToVisual(const QRectF &raw) const;
    QRectF visualToRaw(const QRectF &visual) const;
    const std::shared_ptr<LMFileInfo> &fileInfoLastCrop() const { return m_fileInfoLastCrop; }

    // Choosing a preset; `backingScale` turns the display preset's points into pixels.
    bool choosePreset(size_t index, double backingScale);
    // The image preset (or free without one) and the whole frame.
    bool selectAll();
    bool doRotate();
    bool moveOrResizeByKeyboard(QPointF visualDelta, bool move);
    // False for momentum events, which are left to others.
    bool scrollWheelUsed(double deltaX, double deltaY, bool directionInverted, bool hasMomentumPhase,
                         bool *changed = nullptr);
    bool magnify(double magnification);

    static KeyDecision keyDownDecision(const QString &charactersIgnoringModifiers, quint64 modifierFlags,
                                       bool resultPage);
    static bool canDoAction(int action, const QRectF &rawCropRect, bool resultPage, const PreviewState &preview);

private:
    LMMatrix rawToVisualMatrix() const;

    std::shared_ptr<LMFileInfo> m_fileInfoLastCrop;
    LMFileImgBaseInfoPtr m_info;
    LMImageRotateAngle m_viewAngle;
    QRectF m_rawCropRect;
    CropAspectPresets m_presets;
};
