#pragma once
// The title-less, skin-drawn window of the application's dialogs: a transparent frame so that
// a nine-slice skin view draws the whole look, a caller-decided key status, optional dragging
// anywhere, key-downs offered to a delegate first, and running as a sheet with a completion.

#include "Kit/LMCustomWindowDelegate.h"
#include "Kit/LMNineSliceImageView.h"
#include "appkit/Window.h"

#include <cstdint>
#include <functional>

class LMSimButtonBase;

class LMCustomWindow : public kpv::Window {
public:
    using SheetDidEndBlock = std::function<void(std::int64_t returnCode)>;

    // The style mask is ignored: the window is always closable without a title bar.
    LMCustomWindow(const kpv::Rect& contentRect, unsigned styleMask = kpv::ClosableWindowMask);

    bool canBecomeKeyWindow() const override { return m_canBecomeKeyWindow; }
    virtual void setCanBecomeKeyWindow(bool flag) { m_canBecomeKeyWindow = flag; }
    bool mouseDownMoveable() const { return m_mouseDownMoveable; }
    void setMouseDownMoveable(bool m) { m_mouseDownMoveable = m; }
    LMCustomWindowDelegate* customWindowDelegate() const { return m_customWindowDelegate; }
    void setCustomWindowDelegate(LMCustomWindowDelegate* d) { m_customWindowDelegate = d; }
    LMNineSliceImageView* nineSliceImageBkgrdView() const { return m_nineSliceImageBkgrdView; }
    // Puts the view at the back of the content, filling it; the content view owns it.
    void setNineSliceImageBkgrdView(LMNineSliceImageView* view);
    // The panel of the small dialogs and sheets (About, the batch and copy sheets) behind the
    // content: the window is see-through, and its controls would stand on nothing without it.
    void setPopWindowPanel();
    bool sheetRunning() const { return m_sheetRunning; }
    // The button Return and Enter press when nothing with the focus takes them (a button or a
    // menu with the focus is pressed itself, a text box breaks its line): OK, or the button that
    // starts what the dialog is for. Not owned; a view of this window, or nullptr.
    LMSimButtonBase* defaultButton() const { return m_defaultButton; }
    void setDefaultButton(LMSimButtonBase* button) { m_defaultButton = button; }
    // The button Esc presses when nothing with the focus takes it: Cancel. Not owned, as above.
    LMSimButtonBase* cancelButton() const { return m_cancelButton; }
    void setCancelButton(LMSimButtonBase* button) { m_cancelButton = button; }

    void mouseDown(const kpv::Event& e) override;
    void keyDown(const kpv::Event& e) override;

    // Runs this window as a sheet of `parent`.
    void beginSheet(kpv::Window* parent, SheetDidEndBlock sheetDidEndBlock);
    void sheetDidEnd(std::int64_t returnCode);
    void endSheetWithReturnCode(std::int64_t returnCode);
    void endSheet() { endSheetWithReturnCode(1); }
    using kpv::Window::endSheet;
    void close() override;

private:
    LMNineSliceImageView* m_nineSliceImageBkgrdView = nullptr;
    LMCustomWindowDelegate* m_customWindowDelegate = nullptr;
    bool m_sheetRunning = false;
    LMSimButtonBase* m_defaultButton = nullptr;
    LMSimButtonBase* m_cancelButton = nullptr;
    SheetDidEndBlock m_sheetDidEndBlock;
    bool m_mouseDownMoveable = false;
    bool m_canBecomeKeyWindow = true;
};
