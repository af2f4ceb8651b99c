#include "Kit/LMCustomWindow.h"
#include "Kit/LMNineSliceImageRep.h"
#include "Kit/LMSimButtonBase.h"

#include "appkit/Application.h"

LMCustomWindow::LMCustomWindow(const kpv::Rect& contentRect, unsigned)
    : kpv::Window(contentRect, kpv::ClosableWindowMask)
{
    setOpaque(false);
    setBackgroundColor(kpv::Color::clearColor());
    setCutToPaintedShape(true);
}

void LMCustomWindow::setNineSliceImageBkgrdView(LMNineSliceImageView* view)
{
    if (view == m_nineSliceImageBkgrdView)
        return;
    if (m_nineSliceImageBkgrdView) {
        m_nineSliceImageBkgrdView->removeFromSuperview();
        delete m_nineSliceImageBkgrdView;
    }
    m_nineSliceImageBkgrdView = view;
    if (view && contentView()) {
        view->setFrame(contentView()->bounds());
        view->setAutoresizingMask(kpv::ViewWidthSizable | kpv::ViewHeightSizable);
        contentView()->addSubview(view, false, nullptr);
    }
}

void LMCustomWindow::setPopWindowPanel()
{
    // A sheet or small panel is worked with the keyboard too: Tab goes round its controls.
    setAutorecalculatesKeyViewLoop(true);
    if (contentView())
        setNineSliceImageBkgrdView(new LMNineSliceImageView(
            contentView()->bounds(),
            std::make_shared<LMNineSliceImageRep>(QStringLiteral("bg_popwin"), kpv::Point{15, 15}, kpv::Point{15, 15})));
}

void LMCustomWindow::mouseDown(const kpv::Event& e)
{
    if (!m_mouseDownMoveable) {
        kpv::Window::mouseDown(e);
        return;
    }
    const kpv::Point start = convertPointToScreen(e.locationInWindow());
    const kpv::Rect startFrame = frame();
    for (;;) {
        kpv::EventPtr next = nextEventMatchingMask(kpv::LeftMouseUpMask | kpv::LeftMouseDraggedMask);
        if (!next || next->type() == kpv::LeftMouseUp)
            break; // an abandoned loop ends the drag too
        const kpv::Point now = convertPointToScreen(next->locationInWindow());
        setFrame(kpv::Rect(startFrame.x() + (now.x - start.x), startFrame.y() + (now.y - start.y), startFrame.width(),
                           startFrame.height()),
                 true, false);
    }
}

void LMCustomWindow::keyDown(const kpv::Event& e)
{
    if (m_customWindowDelegate && m_customWindowDelegate->customWindow(this, e))
        return;
    const bool enter = e.keyCode() == kpv::KeyCode::Return || e.keyCode() == kpv::KeyCode::KeypadEnter;
    LMSimButtonBase* button = enter ? m_defaultButton : e.keyCode() == kpv::KeyCode::Escape ? m_cancelButton : nullptr;
    if (button && button->window() == this && button->canBecomeKeyView() &&
        !(e.modifierFlags() & (kpv::CommandKeyMask | kpv::AlternateKeyMask | kpv::ControlKeyMask))) {
        if (!e.isARepeat())
            button->sendAction(button->action(), button->target());
        return;
    }
    kpv::Window::keyDown(e);
}

void LMCustomWindow::beginSheet(kpv::Window* parent, SheetDidEndBlock block)
{
    m_sheetRunning = true;
    m_sheetDidEndBlock = std::move(block);
    kpv::Application::shared().beginSheet(this, parent, [this](long rc) { sheetDidEnd(rc); });
}

void LMCustomWindow::sheetDidEnd(std::int64_t returnCode)
{
    orderOut();
    if (m_sheetDidEndBlock) {
        SheetDidEndBlock block = std::move(m_sheetDidEndBlock);
        m_sheetDidEndBlock = nullptr;
        block(returnCode);
    }
    m_sheetRunning = false;
}

void LMCustomWindow::endSheetWithReturnCode(std::int64_t returnCode)
{
    if (m_sheetRunning)
        kpv::Application::shared().endSheet(this, long(returnCode));
}

void LMCustomWindow::close()
{
    if (m_sheetRunning)
        endSheet();
    kpv::Window::close();
}
