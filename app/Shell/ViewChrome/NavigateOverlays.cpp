#include "Shell/ViewChrome/NavigateOverlays.h"

#include "Kit/LMButton.h"
#include "Kit/LMNineSliceImageRep.h"
#include "Kit/NavStatusView.h"
#include "appkit/Color.h"
#include "appkit/Control.h"
#include "appkit/GraphicsContext.h"
#include "appkit/View.h"
#include "foundation/Bundle.h"

#include <QFontMetricsF>
#include <cmath>

namespace {

constexpr double kArrowWidth = 48;
constexpr double kArrowHeight = 72;
constexpr double kArrowHitWidth = 90;
// Room for the status plate: its text with the plate's margins above and below.
constexpr double kStatusHeight = 40;
constexpr double kFileLineHeight = 22;
// The reason line under the broken-file picture: its height, its gap to the picture, and the
// margin it keeps from the parent's sides.
constexpr double kReasonHeight = 16;
constexpr double kReasonGap = NavigateOverlays::kStatusReasonRoom - kReasonHeight;
constexpr double kReasonSideMargin = 12;

const kpv::Font& fileLineFont()
{
    static const kpv::Font font = kpv::Font::systemFontOfSize(12);
    return font;
}

// A field's text as the file line draws it: a name longer than its field is shortened in the
// middle, so that its start and its extension stay readable.
QString shownInField(const NavFileInfoView::TextField& field)
{
    return QFontMetricsF(fileLineFont().toQFont()).elidedText(field.stringValue, Qt::ElideMiddle, field.frame.width());
}

// The properties as the file line draws them: too many for their field, they give way at their
// end, so that the first ones (the size, the date) stay readable.
QString shownItems(const NavFileInfoView::TextField& field)
{
    return QFontMetricsF(fileLineFont().toQFont()).elidedText(field.stringValue, Qt::ElideRight, field.frame.width());
}

// Where the line draws its texts. Each field is measured a little wider than its text (room that
// boxed text fields lose to their insets; drawn here there are none): the name leans on the
// properties and the properties on the name, so that the spare room falls at the outer ends and
// the name is followed by the same " | " as every other item, not by a wider gap.
std::pair<kpv::Rect, kpv::Rect> textFramesOf(const NavFileInfoView& info, double height)
{
    const QFontMetricsF metrics(fileLineFont().toQFont());
    const QRectF name = info.txtFileName().frame, items = info.txtExifInfo().frame;
    const double nameWidth = std::min(name.width(), metrics.horizontalAdvance(shownInField(info.txtFileName())));
    const double itemsWidth = std::min(items.width(), metrics.horizontalAdvance(shownItems(info.txtExifInfo())));
    return {kpv::Rect(name.right() - nameWidth, 0, nameWidth, height), kpv::Rect(items.x(), 0, itemsWidth, height)};
}

// A line of text that is placed again whenever its parent changes size.
class FollowingTextField final : public kpv::TextField {
public:
    using kpv::TextField::TextField;
    std::function<void()> onSuperviewResized;
    void resizeWithOldSuperviewSize(kpv::Size) override
    {
        if (onSuperviewResized)
            onSuperviewResized();
    }
};

// A container over the whole image that lets clicks through to the image except on its controls.
class PassThroughView final : public kpv::View {
public:
    using kpv::View::View;
    bool drawsOwnContent() const override { return false; }
    kpv::View* hitTest(kpv::Point pointInSuperview) override
    {
        kpv::View* hit = kpv::View::hitTest(pointInSuperview);
        return hit == this ? nullptr : hit;
    }
};

} // namespace

// The file name and the shooting information along the bottom of the image, on a dark band.
class NavigateOverlays::FileLineView final : public kpv::View {
public:
    FileLineView(const kpv::Rect& frame, NavFileInfoView& info) : kpv::View(frame), m_info(info) {}

    // The window made wider or narrower: the name and the items are centred on the new width,
    // not left where the old one put them (cut off at the edge of a narrower window).
    void setFrame(const kpv::Rect& frame) override
    {
        const double oldWidth = this->frame().width();
        kpv::View::setFrame(frame);
        if (frame.width() != oldWidth) {
            m_info.setBounds(QRectF(0, 0, frame.width(), frame.height()));
            setNeedsDisplay();
        }
    }

    // Text only: clicks go to what lies beneath.
    kpv::View* hitTest(kpv::Point) override { return nullptr; }

    void drawRect(const kpv::Rect&) override
    {
        kpv::GraphicsContext* gc = kpv::GraphicsContext::current();
        if (!gc || (m_info.txtFileName().stringValue.isEmpty() && m_info.txtExifInfo().stringValue.isEmpty()))
            return;
        gc->fillRect(bounds(), kpv::Color(0, 0, 0, 0.45));
        const auto [nameFrame, itemsFrame] = textFramesOf(m_info, bounds().height());
        for (const auto& [text, frame] : {std::pair{shownInField(m_info.txtFileName()), nameFrame},
                                          std::pair{shownItems(m_info.txtExifInfo()), itemsFrame}}) {
            // A little wider than measured, so that rounding never cuts the last letter.
            gc->drawTextInRect(text, kpv::Rect(frame.x(), frame.y(), frame.width() + 2, frame.height()), fileLineFont(),
                               kpv::Color::controlTextColor(), Qt::AlignLeft | Qt::AlignVCenter);
        }
    }

private:
    NavFileInfoView& m_info;
};

NavigateOverlays::NavigateOverlays(kpv::View* parent)
    : m_parent(parent)
    , m_fileInfo([](const QString& text) { return kpv::GraphicsContext::textWidth(text, fileLineFont()); },
                 &kpv::Bundle::mainBundle())
{
    const kpv::Rect b = parent->bounds();

    // Arrows: one container over the whole view so that both fade together.
    m_nextPrevContainer = new PassThroughView(b);
    m_nextPrevContainer->setAutoresizingMask(kpv::ViewWidthSizable | kpv::ViewHeightSizable);
    m_nextPrevContainer->setHidden(true);
    parent->addSubview(m_nextPrevContainer);
    const double arrowY = std::floor((b.height() - kArrowHeight) / 2);
    m_btnPrev = new LMButton(kpv::Rect(8, arrowY, kArrowWidth, kArrowHeight));
    m_btnPrev->setAutoresizingMask(kpv::ViewMaxXMargin | kpv::ViewMinYMargin | kpv::ViewMaxYMargin);
    m_btnNext = new LMButton(kpv::Rect(b.width() - 8 - kArrowWidth, arrowY, kArrowWidth, kArrowHeight));
    m_btnNext->setAutoresizingMask(kpv::ViewMinXMargin | kpv::ViewMinYMargin | kpv::ViewMaxYMargin);
    m_btnPrev->setImageName(QStringLiteral("nav_prev"));
    m_btnNext->setImageName(QStringLiteral("nav_next"));
    const kpv::Bundle& bundle = kpv::Bundle::mainBundle();
    m_btnPrev->setToolTip(bundle.localizedString(QStringLiteral("IDS_MENU_Previous")));
    m_btnNext->setToolTip(bundle.localizedString(QStringLiteral("IDS_MENU_Next")));
    for (LMButton* button : {m_btnPrev, m_btnNext}) {
        // Held down, an arrow keeps stepping until it is released.
        button->setContinuous(true);
        button->setButtonDelegate(this);
        m_nextPrevContainer->addSubview(button);
    }
    m_nextPrevProxy = std::make_unique<LMFadeShowProxy>(m_nextPrevContainer);

    // The file line along the bottom, inside the information container.
    m_infoContainer = new PassThroughView(kpv::Rect(0, 0, b.width(), kFileLineHeight));
    m_infoContainer->setAutoresizingMask(kpv::ViewWidthSizable | kpv::ViewMaxYMargin);
    parent->addSubview(m_infoContainer);
    m_fileLine = new FileLineView(m_infoContainer->bounds(), m_fileInfo);
    m_fileLine->setAutoresizingMask(kpv::ViewWidthSizable);
    m_fileLine->setHidden(true);
    m_infoContainer->addSubview(m_fileLine);
    m_fileInfoProxy = std::make_unique<LMFadeShowProxy>(m_fileLine);

    // The status line, centred until placed.
    m_statusContainer = new PassThroughView(kpv::Rect(0, std::floor((b.height() - kStatusHeight) / 2), b.width(), kStatusHeight));
    m_statusContainer->setAutoresizingMask(kpv::ViewWidthSizable | kpv::ViewMinYMargin | kpv::ViewMaxYMargin);
    m_statusContainer->setHidden(true);
    parent->addSubview(m_statusContainer);
    m_status = new NavStatusView(kpv::Rect(0, 0, b.width(), kStatusHeight));
    m_status->setBackgroundImageRep(
        std::make_shared<LMNineSliceImageRep>(QStringLiteral("BG_ZoomInfo"), kpv::Point{9, 9}, kpv::Point{9, 9}));
    m_status->setAutoresizingMask(kpv::ViewWidthSizable);
    m_statusContainer->addSubview(m_status);
    m_statusProxy = std::make_unique<LMFadeShowProxy>(m_status);

    // The reason a file cannot be shown, under the picture that says so; placed when set.
    auto* reason = new FollowingTextField(kpv::Rect(0, 0, b.width(), kReasonHeight));
    reason->onSuperviewResized = [this] { placeStatusReason(); };
    m_reason = reason;
    m_reason->setFont(kpv::Font(11));
    m_reason->setTextColor(kpv::Color(0.62, 0.62, 0.62, 1));
    m_reason->setAlignment(Qt::AlignCenter);
    m_reason->setLineBreakMode(kpv::TextField::LineBreakByTruncatingMiddle);
    m_reason->setHidden(true);
    parent->addSubview(m_reason);
}

NavigateOverlays::~NavigateOverlays() = default;

void NavigateOverlays::updateStatusInfo(const QString& text, bool showWaiting, bool onAnchor, double anchorTop)
{
    m_statusText = text;
    m_statusReason.clear();
    placeStatusLine(onAnchor, anchorTop);
    m_status->setText(text, showWaiting);
    m_statusContainer->setHidden(text.isEmpty() || m_infoContainer->isHidden());
}

void NavigateOverlays::setStatusReason(const QString& reason, double pictureHalfHeight, double floor)
{
    m_statusReason = m_statusText.isEmpty() ? QString() : reason;
    m_reasonPictureHalf = std::max(0.0, pictureHalfHeight);
    m_reasonFloor = floor;
    m_reason->setStringValue(m_statusReason);
    placeStatusReason();
}

void NavigateOverlays::placeStatusReason()
{
    const kpv::Rect parent = m_parent->bounds();
    const double below = m_reasonPictureHalf + kReasonGap;
    const double middle = parent.height() / 2;
    const double y = m_parent->isFlipped() ? std::ceil(middle + below) : std::floor(middle - below - kReasonHeight);
    const kpv::Rect frame(kReasonSideMargin, y, std::max(0.0, parent.width() - 2 * kReasonSideMargin), kReasonHeight);
    if (m_reason->frame() != frame)
        m_reason->setFrame(frame);
    // Where the toolbar comes up it would cover the line: then the line stays away.
    const bool clear = m_parent->isFlipped() ? frame.maxY() <= parent.height() - m_reasonFloor : frame.y() >= m_reasonFloor;
    m_reason->setHidden(m_statusReason.isEmpty() || !clear || m_infoContainer->isHidden());
}

QString NavigateOverlays::statusReasonShown() const
{
    return m_reason->isHiddenOrHasHiddenAncestor() ? QString() : m_reason->displayedStringValue();
}

kpv::Rect NavigateOverlays::statusReasonFrame() const { return m_reason->frame(); }

void NavigateOverlays::placeStatusLine(bool onAnchor, double anchorTop)
{
    const kpv::Rect parent = m_parent->bounds();
    const kpv::Rect frame = m_statusContainer->frame();
    const double y = onAnchor ? anchorTop : std::floor(parent.height() / 2 - frame.height() / 2);
    if (frame.y() != y || frame.width() != parent.width())
        m_statusContainer->setFrame(kpv::Rect(0, y, parent.width(), frame.height()));
    placeStatusReason();
}

bool NavigateOverlays::centredStatusLineMeets(const kpv::View* view) const
{
    if (!view || !view->superview())
        return false;
    const kpv::Rect parent = m_parent->bounds();
    const double height = m_statusContainer->frame().height();
    const kpv::Rect centred(0, std::floor(parent.height() / 2 - height / 2), parent.width(), height);
    return !kpv::intersectionRect(centred, view->superview()->convertRectToView(view->frame(), m_parent)).isEmpty();
}

kpv::Rect NavigateOverlays::statusLineFrame() const { return m_statusContainer->frame(); }

bool NavigateOverlays::statusLineVisible() const
{
    return !m_statusContainer->isHidden() && !m_status->isHidden() && m_status->alphaValue() > 0;
}

void NavigateOverlays::setNavInfoContainerHidden(bool hidden)
{
    // The status line belongs to the viewer's information too: a file's "cannot be shown" stays
    // out of the grids and the other modes.
    m_infoContainer->setHidden(hidden);
    m_statusContainer->setHidden(hidden || m_statusText.isEmpty());
    placeStatusReason();
}

void NavigateOverlays::setFileLineBottom(double y)
{
    const kpv::Rect f = m_infoContainer->frame();
    if (f.y() != y)
        m_infoContainer->setFrame(kpv::Rect(f.x(), y, f.width(), f.height()));
}

double NavigateOverlays::fileLineBottom() const { return m_infoContainer->frame().y(); }

double NavigateOverlays::fileLineCoveredTop() const
{
    if (m_fileLine->isHiddenOrHasHiddenAncestor() || m_fileLine->alphaValue() <= 0)
        return 0;
    const kpv::Rect f = m_infoContainer->frame();
    return f.y() + f.height();
}

QString NavigateOverlays::fileNameShown() const { return shownInField(m_fileInfo.txtFileName()); }

QString NavigateOverlays::exifInfoShown() const { return shownItems(m_fileInfo.txtExifInfo()); }

std::pair<kpv::Rect, kpv::Rect> NavigateOverlays::fileLineTextFrames() const
{
    return textFramesOf(m_fileInfo, m_fileLine->bounds().height());
}

void NavigateOverlays::setFileImgBaseInfo(const LMFileImgBaseInfoPtr& info, int64_t mask)
{
    m_fileInfo.setBounds(QRectF(0, 0, m_infoContainer->bounds().width(), kFileLineHeight));
    m_fileInfo.setMarginLeft(10, 10);
    m_fileInfo.setFileImgBaseInfo(info, uint64_t(mask));
    m_fileLine->setNeedsDisplay();
}

NavArrowHit NavigateOverlays::arrowHitTest(QPointF point) const
{
    // By geometry alone: the arrows are shown because the pointer comes near them.
    const kpv::Point p{point.x(), point.y()};
    auto inButton = [&](const LMButton* button) {
        return kpv::pointInRect(p, m_nextPrevContainer->convertRectToView(button->frame(), m_parent));
    };
    if (inButton(m_btnNext))
        return NavArrowHit::NextButton;
    if (inButton(m_btnPrev))
        return NavArrowHit::PrevButton;
    const kpv::Rect b = m_parent->bounds();
    if (p.x >= b.width() - kArrowHitWidth && p.x <= b.width())
        return NavArrowHit::NextHitArea;
    if (p.x >= 0 && p.x < kArrowHitWidth)
        return NavArrowHit::PrevHitArea;
    return NavArrowHit::None;
}

bool NavigateOverlays::arrowsVisible() const
{
    return !m_nextPrevContainer->isHidden() && m_nextPrevContainer->alphaValue() > 0;
}

void NavigateOverlays::buttonMouseDown(LMButton* button)
{
    if (m_arrowHandler)
        m_arrowHandler(button == m_btnNext, true);
}

void NavigateOverlays::buttonMouseUp(LMButton* button)
{
    if (m_arrowHandler)
        m_arrowHandler(button == m_btnNext, false);
}
