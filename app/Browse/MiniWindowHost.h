#pragma once
// What the mini window controller needs of its window, of its image view and of the navigator.
// The shell connects an adapter over the real window and view; tests use a fake. Every
// operation is the shell's to answer.

#include "appkit/Geometry.h"

#include <QString>

class LMEquivalentResponder;

class MiniWindowHost {
public:
    virtual ~MiniWindowHost() = default;
    // ---- Main window ----
    virtual long showMode() const = 0;
    virtual void setShowMode(long mode) = 0;
    // ---- The mini window ----
    virtual kpv::Rect windowFrame() const = 0;
    virtual void setWindowFrame(const kpv::Rect& frame) = 0;
    virtual kpv::Rect visibleScreenFrame() const = 0;
    virtual kpv::Size minWindowSize() const = 0;
    virtual double backingScaleFactor() const = 0;
    virtual bool isWindowVisible() const = 0;
    virtual void showImageForm(bool imageForm) = 0;
    virtual void orderFrontMiniWindow() = 0;
    virtual void orderFrontMainWindow() = 0;
    virtual void orderOutMiniWindow() = 0;
    // Shows the status text (hidden when empty) and answers the status line's width.
    virtual double setStatusText(const QString& text, bool showWaiting) = 0;
    // ---- The image view ----
    virtual double viewScale() const = 0;
    virtual double viewMaxScale() const = 0;
    virtual kpv::Rect imageVisibleViewRect() const = 0;
    virtual void setNewScaleMode(int mode) = 0;
    virtual void switchToScaleMode(int mode) = 0;
    // The view keeps the last photo on screen while the next one's picture is on its way.
    virtual bool viewHoldsPicture() const = 0;
    // ---- The navigator ----
    // Pixel size of the current file after its orientation (0 x 0 when unknown: no file, or the
    // base information is not read yet and the original cannot be decoded).
    virtual kpv::Size curFileFrameSize() const = 0;
    virtual bool hasCurFile() const = 0;
    virtual void updateOpenGLViewImage(int imageMode) = 0;
    // After leaving: the navigator's own view takes over again.
    virtual void restoreNavigatorView() = 0;
    virtual void registEquivalentResponder(bool regist) = 0;
};
