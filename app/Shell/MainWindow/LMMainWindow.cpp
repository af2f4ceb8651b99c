#include "Shell/MainWindow/LMMainWindow.h"

#include "Shell/MainWindow/LMMainWindowTitleBkgrdView.h"
#include "Shell/MainWindow/LMMainWndContentView.h"

#include "Kit/LMButton.h"
#include "Kit/LMMultiSliceImageView.h"
#include "Kit/LMNineSliceImageRep.h"
#include "foundation/FileNames.h"
#include "foundation/Bundle.h"

#include <QFileInfo>
#include <QWidget>
#include <algorithm>
#include <cmath>

namespace {

// The title's text colour: calibrated white 240/255.
const kpv::Color kTitleColor(240.0 / 255, 240.0 / 255, 240.0 / 255, 1.0);
// Room the document icon takes before the title.
constexpr double kDocumentIconWidth = 18;
constexpr double kButtonSize = 22;
// Space between the title and the menus or buttons beside it.
constexpr double kTitleMargin = 12;

// The root view: keeps the title strip on top and the content below it on every resize.
class FrameView : public kpv::View {
public:
    FrameView(const kpv::Rect& frame, LMMainWindow* window) : kpv::View(frame), m_window(window) {}
    void resizeSubviewsWithOldSize(kpv::Size oldSize) override
    {
        kpv::View::resizeSubviewsWithOldSize(oldSize);
        m_window->updateCustomTitleText(false);
    }

private:
    LMMainWindow* m_window;
};

} // namespace

void LMMainWindowTitleBkgrdView::drawRect(const kpv::Rect&)
{
    if (!m_bkgrdImage)
        m_bkgrdImage = LMNineSliceImageRep::loadImageWithoutExtension(QStringLiteral("bg_title"));
    if (!m_bkgrdImage)
        return;
    const double w = m_bkgrdImage->size().width;
    LMMultiSliceImageView::drawMultiSliceImageImage(m_bkgrdImage, bounds(), {}, {8, w - 8});
}

LMMainWindow::LMMainWindow(const kpv::Rect& contentRect)
    : kpv::Window(contentRect, kpv::TitledWindowMask | kpv::ClosableWindowMask | kpv::MiniaturizableWindowMask |
                                   kpv::ResizableWindowMask)
{
    const double w = contentRect.width(), h = contentRect.height();
    auto* root = new FrameView(kpv::Rect(0, 0, w, h), this);
    setContentView(root);
    m_frameView = root;

    const double titleH = kTitleBarHeight;
    m_mainContentView = new LMMainWndContentView(kpv::Rect(0, 0, w, std::max(0.0, h - titleH)));
    m_mainContentView->setAutoresizingMask(kpv::ViewWidthSizable | kpv::ViewHeightSizable);
    root->addSubview(m_mainContentView);

    // The strip, the title and the buttons, as the window wakes.
    const double titleBarHeight = heightOfTitleBar();
    const kpv::Rect fb = root->bounds();
    m_viewTitleBkgrd = new LMMainWindowTitleBkgrdView(
        kpv::Rect(fb.x(), fb.maxY() - titleBarHeight, fb.width(), titleBarHeight));
    m_viewTitleBkgrd->setAutoresizingMask(kpv::ViewMinXMargin | kpv::ViewWidthSizable | kpv::ViewMaxXMargin |
                                          kpv::ViewMinYMargin);
    root->addSubview(m_viewTitleBkgrd);

    m_txtTitle = new kpv::TextField(kpv::Rect(0, 0, 100, 16));
    m_txtTitle->setTextColor(kTitleColor);
    m_txtTitle->setFont(kpv::Font::boldSystemFontOfSize(12));
    m_txtTitle->setLineBreakMode(kpv::TextField::LineBreakByTruncatingMiddle);
    root->addSubview(m_txtTitle);
    updateCustomTitleText(true);

    m_viewFeedback = new kpv::View(kpv::Rect(0, 0, kAccessoryWidth, titleBarHeight));
    const double y = (titleBarHeight - kButtonSize) / 2;
    m_btnFeedback = new LMButton(kpv::Rect(4, y, kButtonSize, kButtonSize));
    m_btnMiniMode = new LMButton(kpv::Rect(4 + kButtonSize + 4, y, kButtonSize, kButtonSize));
    m_btnFullScreen = new LMButton(kpv::Rect(4 + 2 * (kButtonSize + 4), y, kButtonSize, kButtonSize));
    for (LMButton* b : {m_btnFeedback, m_btnMiniMode, m_btnFullScreen})
        m_viewFeedback->addSubview(b);
    addViewToTitleBar(m_viewFeedback, frame().width() - m_viewFeedback->frame().width());

    const kpv::Bundle& bundle = kpv::Bundle::mainBundle();
    m_btnFeedback->setImageName(QStringLiteral("feedback"));
    m_btnFeedback->setToolTip(bundle.localizedString(QStringLiteral("IDS_Tips_Feedback")));
    m_btnFullScreen->setImageName(QStringLiteral("fullscreen"));
    m_btnMiniMode->setImageName(QStringLiteral("mode"));
    m_btnMiniMode->setToolTip(bundle.localizedString(QStringLiteral("IDS_SwitchToSimpleMode")));
    m_btnFeedback->setAction([this](kpv::View*) { feedbackButtonClicked(); });
    m_btnFullScreen->setAction([this](kpv::View*) { fullscreenButtonClicked(); });
    m_btnMiniMode->setAction([this](kpv::View*) { minimodeButtonClicked(); });
    updateFullScreenButton();
}

LMMainWindow::~LMMainWindow() = default;

double LMMainWindow::heightOfTitleBar() const
{
    if (!m_frameView || !m_mainContentView)
        return 0;
    return m_frameView->frame().height() - m_mainContentView->frame().height();
}

double LMMainWindow::sheetTopInset() const { return heightOfTitleBar(); }

void LMMainWindow::addViewToTitleBar(kpv::View* view, double x)
{
    if (!view || !m_frameView)
        return;
    const double h = heightOfTitleBar();
    view->setFrame(kpv::Rect(x, m_mainContentView->frame().height(), view->frame().width(), h));
    // Keep the distance to the nearer side and to the top.
    if (x > frame().width() * 0.5)
        view->setAutoresizingMask(kpv::ViewMinXMargin | kpv::ViewMinYMargin);
    else
        view->setAutoresizingMask(kpv::ViewMaxXMargin | kpv::ViewMinYMargin);
    m_frameView->addSubview(view);
}

void LMMainWindow::updateCustomTitleText(bool updateText)
{
    if (!m_txtTitle || !m_frameView)
        return;
    if (updateText)
        m_txtTitle->setStringValue(title());
    const kpv::Rect fb = m_frameView->bounds();
    const double titleBarHeight = heightOfTitleBar();
    const double textWidth = std::round(std::round(m_txtTitle->attributedStringValueSize().width) + 5);
    // The document icon stands where a centred title would start. Icon and title stay between
    // the menus and the buttons: centred in the window while they fit there, else moved aside and,
    // if still too wide, shortened in the middle.
    const double icon = m_representedFilename.isEmpty() ? 0 : kDocumentIconWidth;
    const double from = fb.x() + (menuBarWidth() > 0 ? menuBarWidth() + kTitleMargin : 70);
    const double to = fb.maxX() - (menuBarWidth() > 0 ? kAccessoryWidth + kTitleMargin : 70);
    const double width = std::max(0.0, std::min(textWidth, to - from - icon));
    const double height = m_txtTitle->bounds().height();
    const double y = (fb.y() + fb.height() - titleBarHeight) + titleBarHeight * 0.5 -
                     (m_txtTitle->bounds().y() + height * 0.5);
    const double centred = fb.x() + fb.width() * 0.5 - (width + icon) * 0.5;
    const double start = std::max(from, std::min(centred, to - (width + icon)));
    m_txtTitle->setFrame(kpv::Rect(start + icon, y, width, height));
}

void LMMainWindow::menuBarWidthChanged()
{
    updateCustomTitleText(false);
    // Never so narrow that the buttons at the right of the title strip cover the last menus.
    if (QWidget* w = widget(); w && menuBarWidth() > 0)
        w->setMinimumWidth(int(std::ceil(menuBarWidth() + kTitleMargin + kAccessoryWidth)));
}

void LMMainWindow::layoutTitleBar()
{
    updateCustomTitleText(false);
}

void LMMainWindow::updateFullScreenButton()
{
    if (m_btnFullScreen)
        m_btnFullScreen->setHidden(!m_fullScreenPrimary || isFullScreen());
}

void LMMainWindow::setWindowTitle(const QString& t)
{
    setTitle(t);
    updateCustomTitleText(true);
}

void LMMainWindow::setTitleWithRepresentedFilename(const QString& path)
{
    m_representedFilename = path;
    setTitle(path.isEmpty() ? QString() : kpv::displayFileName(QFileInfo(path).fileName()));
    updateCustomTitleText(true);
}

void LMMainWindow::setRepresentedFilename(const QString& path)
{
    m_representedFilename = path;
    updateCustomTitleText(false);
}

void LMMainWindow::setFullScreenPrimary(bool on)
{
    m_fullScreenPrimary = on;
    updateFullScreenButton();
}

void LMMainWindow::willEnterFullScreen()
{
    m_viewFeedback->setHidden(true);
    m_txtTitle->setHidden(true);
    // The photo alone: the title strip goes and the content takes its place.
    m_viewTitleBkgrd->setHidden(true);
    m_mainContentView->setFrame(m_frameView->bounds());
}

void LMMainWindow::willExitFullScreen()
{
    m_viewFeedback->setHidden(false);
    m_txtTitle->setHidden(false);
    m_viewTitleBkgrd->setHidden(false);
    const kpv::Rect b = m_frameView->bounds();
    m_mainContentView->setFrame(kpv::Rect(b.x(), b.y(), b.width(), std::max(0.0, b.height() - m_viewTitleBkgrd->frame().height())));
}

void LMMainWindow::enterOrLeaveFullScreen()
{
    const bool entering = !isFullScreen();
    if (onFullScreenWillChange)
        onFullScreenWillChange();
    if (entering)
        willEnterFullScreen();
    else
        willExitFullScreen();
    toggleFullScreen();
    updateFullScreenButton();
    if (onFullScreenDidChange)
        onFullScreenDidChange();
}

void LMMainWindow::fullScreenChangedBySystem(bool fullScreen)
{
    if (onFullScreenWillChange)
        onFullScreenWillChange();
    if (fullScreen)
        willEnterFullScreen();
    else
        willExitFullScreen();
    kpv::Window::fullScreenChangedBySystem(fullScreen);
    updateFullScreenButton();
    if (onFullScreenDidChange)
        onFullScreenDidChange();
}

void LMMainWindow::feedbackButtonClicked()
{
    m_btnFeedback->normalizeRollState();
    const kpv::Point p = m_btnFeedback->convertPointToView(kpv::Point{0, 22}, m_mainContentView);
    if (onFeedback)
        onFeedback(p);
}

void LMMainWindow::fullscreenButtonClicked()
{
    enterOrLeaveFullScreen();
}

void LMMainWindow::minimodeButtonClicked()
{
    m_btnMiniMode->normalizeRollState();
    if (onMiniMode)
        onMiniMode();
}

void LMMainWindow::keyDown(const kpv::Event& e)
{
    if (!eventForwarder || !eventForwarder(e))
        kpv::Window::keyDown(e);
}

void LMMainWindow::keyUp(const kpv::Event& e)
{
    if (!eventForwarder || !eventForwarder(e))
        kpv::Window::keyUp(e);
}

void LMMainWindow::scrollWheel(const kpv::Event& e)
{
    if (!eventForwarder || !eventForwarder(e))
        kpv::Window::scrollWheel(e);
}

void LMMainWindow::magnifyWithEvent(const kpv::Event& e)
{
    if (!eventForwarder || !eventForwarder(e))
        kpv::Window::magnifyWithEvent(e);
}
