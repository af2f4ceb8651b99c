#include "Shell/MainWindow/FileOpenViewController.h"

#include "Shell/MainWindow/AppDelegate.h"
#include "Shell/MainWindow/LMMainWindow.h"
#include "Shell/MainWindow/MainWndController.h"

#include "Kit/LMImageView.h"
#include "Kit/LMNineSliceImageRep.h"
#include "Kit/LMNormalCustomButton.h"
#include "appkit/GraphicsContext.h"
#include "foundation/Bundle.h"
#include "foundation/NotificationCenter.h"

#include <cmath>

namespace {

// Light text on the dark skin: calibrated white 230/255.
const kpv::Color kTextColor(230.0 / 255, 230.0 / 255, 230.0 / 255, 1.0);

// A thin divider line.
class LineView : public kpv::View {
public:
    using kpv::View::View;
    void drawRect(const kpv::Rect&) override
    {
        if (auto* ctx = kpv::GraphicsContext::current())
            ctx->fillRect(kpv::Rect(0, bounds().height() / 2, bounds().width(), 1), kpv::Color(1, 1, 1, 0.25));
    }
};

// The view of the empty state: re-lays its row of texts when its width changes.
class FileOpenView : public kpv::View {
public:
    FileOpenView(const kpv::Rect& frame, FileOpenViewController* c) : kpv::View(frame), m_controller(c) {}
    void resizeSubviewsWithOldSize(kpv::Size oldSize) override
    {
        kpv::View::resizeSubviewsWithOldSize(oldSize);
        m_controller->layoutViews();
    }

private:
    FileOpenViewController* m_controller;
};

// Vertical placement of the pieces, from the view's centre (the horizontal layout is computed).
constexpr double kWidth = 600, kHeight = 400;

} // namespace

FileOpenViewController::FileOpenViewController(MainWndController& controller) : m_controller(controller)
{
    m_ownedView = std::make_unique<FileOpenView>(kpv::Rect(0, 0, kWidth, kHeight), this);
    m_view = m_ownedView.get();
    m_view->setWantsLayer(true);

    // A centred block that keeps its place when the container grows.
    const double cx = kWidth / 2, cy = kHeight / 2;
    m_imageViewDragIcon = new LMImageView(kpv::Rect(cx - 64, cy + 20, 128, 110));
    m_txtDragDropDesc = new kpv::TextField(kpv::Rect(0, cy - 10, 200, 22));
    m_imageViewPhoto = new kpv::View(kpv::Rect(0, cy - 10, 0, 22));
    m_txtOR = new kpv::TextField(kpv::Rect(0, cy - 44, 40, 18));
    m_imageViewLeftLine = new LineView(kpv::Rect(0, cy - 44, 100, 18));
    m_imageViewRightLine = new LineView(kpv::Rect(0, cy - 44, 100, 18));
    m_btnOpenFile = new LMNormalCustomButton(kpv::Rect(cx - 60, cy - 100, 120, 32));
    m_imageViewDragIcon->setAutoresizingMask(kpv::ViewMinXMargin | kpv::ViewMaxXMargin | kpv::ViewMinYMargin |
                                             kpv::ViewMaxYMargin);
    m_btnOpenFile->setAutoresizingMask(kpv::ViewMinXMargin | kpv::ViewMaxXMargin | kpv::ViewMinYMargin |
                                       kpv::ViewMaxYMargin);
    for (kpv::View* v : {static_cast<kpv::View*>(m_txtDragDropDesc), m_imageViewPhoto, static_cast<kpv::View*>(m_txtOR),
                         m_imageViewLeftLine, m_imageViewRightLine})
        v->setAutoresizingMask(kpv::ViewMinYMargin | kpv::ViewMaxYMargin);
    for (kpv::View* v : {static_cast<kpv::View*>(m_imageViewDragIcon), static_cast<kpv::View*>(m_txtDragDropDesc),
                         m_imageViewPhoto, static_cast<kpv::View*>(m_txtOR), m_imageViewLeftLine, m_imageViewRightLine,
                         static_cast<kpv::View*>(m_btnOpenFile)})
        m_view->addSubview(v);

    const kpv::Bundle& bundle = kpv::Bundle::mainBundle();
    m_imageViewDragIcon->setImage(LMNineSliceImageRep::loadImageWithoutExtension(QStringLiteral("Img_Open")), 0);
    m_txtDragDropDesc->setTextColor(kTextColor);
    m_txtDragDropDesc->setStringValue(bundle.localizedString(QStringLiteral("IDS_DragDropPhoto")));
    m_txtDragDropDesc->setAlignment(Qt::AlignCenter);
    m_txtOR->setTextColor(kTextColor);
    m_txtOR->setStringValue(bundle.localizedString(QStringLiteral("IDS_OR")));
    m_txtOR->setAlignment(Qt::AlignCenter);
    m_btnOpenFile->setBkgrdImageName(QStringLiteral("bt_open"), kpv::Point{10, 10}, kpv::Point{10, 10});
    m_btnOpenFile->setTitleColor(kTextColor);
    m_btnOpenFile->setTitle(bundle.localizedString(QStringLiteral("IDS_Open")));
    m_btnOpenFile->setTarget(this);
    m_btnOpenFile->setAction([this](kpv::View*) { openFileButtonClicked(); });
    layoutViews();

    kpv::NotificationCenter::defaultCenter().addObserver(
        this, QString::fromLatin1(DidChangeMainShowModeNotification), nullptr, [this](const kpv::Notification& n) {
            didChangeMainShowMode(n.userInfo.value(QStringLiteral("new")).toLongLong(),
                                  n.userInfo.value(QStringLiteral("old")).toLongLong());
        });
}

FileOpenViewController::~FileOpenViewController()
{
    kpv::NotificationCenter::defaultCenter().removeObserver(this);
    // While shown, the container owns the view; take it back so that it dies with us.
    if (!m_ownedView && m_view) {
        m_view->removeFromSuperview();
        m_ownedView.reset(m_view);
    }
}

void FileOpenViewController::layoutViews()
{
    const double width = m_view->bounds().width();
    auto place = [](kpv::View* v, double x, double w) {
        kpv::Rect f = v->frame();
        v->setFrame(kpv::Rect(x, f.y(), std::max(0.0, w), f.height()));
    };
    const double descWidth = std::round(m_txtDragDropDesc->attributedStringValueSize().width) + 5;
    place(m_txtDragDropDesc, (width - descWidth) * 0.5, descWidth);
    const kpv::Rect desc = m_txtDragDropDesc->frame();
    m_imageViewPhoto->setFrameOrigin(kpv::Point{desc.x() - m_imageViewPhoto->frame().width() - 10, desc.y()});
    const double orWidth = std::round(m_txtOR->attributedStringValueSize().width) + 5;
    place(m_txtOR, (width - orWidth) * 0.5, orWidth);
    const kpv::Rect orFrame = m_txtOR->frame();
    place(m_imageViewLeftLine, 0, orFrame.x() - 10);
    const double rightX = orFrame.x() + orFrame.width() + 10;
    place(m_imageViewRightLine, rightX, width - rightX);
}

void FileOpenViewController::didChangeMainShowMode(long newMode, long oldMode)
{
    if (newMode == MainShowModeEmpty) {
        kpv::View* container = m_controller.containerViewByShowMode(MainShowModeEmpty);
        if (container && m_view->superview() != container) {
            if (m_view->superview()) {
                m_view->removeFromSuperview();
                m_ownedView.reset(m_view);
            }
            m_view->setFrame(container->bounds());
            m_view->setAutoresizingMask(kpv::ViewWidthSizable | kpv::ViewHeightSizable);
            container->addSubview(m_ownedView.release());
            layoutViews();
        }
        if (LMMainWindow* w = m_controller.window()) {
            w->setWindowTitle(m_controller.appDelegate().appName());
            w->setRepresentedFilename(QString());
        }
    } else if (oldMode == MainShowModeEmpty) {
        if (m_view->superview()) {
            m_view->removeFromSuperview();
            m_ownedView.reset(m_view);
        }
    }
}

void FileOpenViewController::openFileButtonClicked()
{
    m_controller.doOpenFile(QString(), false);
}
