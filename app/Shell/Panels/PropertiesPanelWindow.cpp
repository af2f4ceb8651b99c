#include "Shell/Panels/PropertiesPanelWindow.h"

#include "Kit/LMAutoTipsLabel.h"
#include "Kit/LMButton.h"
#include "Kit/LMImageView.h"
#include "Kit/LMNineSliceImageRep.h"
#include "Kit/LMNineSliceImageView.h"
#include "Kit/LMNormalCustomWindow.h"
#include "Kit/LMTiledImageView.h"
#include "Model/MainConfig.h"
#include "Shell/MainWindow/AppDelegate.h"
#include "Shell/Panels/FloatingPanelWindow.h"
#include "Shell/MainWindow/LMMainWindow.h"
#include "Shell/MainWindow/MainWndController.h"
#include "Shell/Panels/PropertiesExifInfoItemController.h"
#include "View/NavigateController.h"
#include "appkit/Application.h"
#include "appkit/Control.h"
#include "appkit/Image.h"
#include "foundation/Bundle.h"
#include "foundation/NotificationCenter.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {
constexpr double kWidth = 330;
// The panel grows for a long row up to this width (or the screen's); beyond it the row's text is
// shortened in the middle, with the whole of it in the row's tip.
constexpr double kMaxWidth = 640;
constexpr double kHeight = 680;
constexpr double kMargin = 18;
const kpv::Color kTextColor(230 / 255.0, 230 / 255.0, 230 / 255.0);
} // namespace

PropertiesPanelWindow::PropertiesPanelWindow(AppDelegate& delegate, MainWndController& windowController,
                                             NavigateController& navigator)
    : m_delegate(delegate), m_windowController(windowController), m_navigator(navigator)
{
    // The focus notifications of the platform reach the panel's controller here: it follows the
    // application's activation and the main window's key state.
    m_controller = std::make_unique<PropertiesWindowController>(*this, kpv::NotificationCenter::defaultCenter(),
                                                                &kpv::Application::shared(), windowController.window());
    loadWindow();
    auto& center = kpv::NotificationCenter::defaultCenter();
    const kpv::Window* main = windowController.window();
    center.addObserver(this, QString::fromLatin1(kpv::WindowDidBecomeKeyNotification), main,
                       [this](const kpv::Notification&) { m_controller->showWithCheckStatus(); });
    center.addObserver(this, QString::fromLatin1(kpv::WindowDidResignKeyNotification), main,
                       [this](const kpv::Notification&) { m_controller->hideWithoutChangeStatus(); });
    center.addObserver(this, QString::fromLatin1(kpv::ApplicationDidBecomeActiveNotification), nullptr,
                       [this](const kpv::Notification&) { m_controller->showWithCheckStatus(); });
    center.addObserver(this, QString::fromLatin1(kpv::ApplicationDidResignActiveNotification), nullptr,
                       [this](const kpv::Notification&) { m_controller->hideWithoutChangeStatus(); });
}

PropertiesPanelWindow::~PropertiesPanelWindow()
{
    kpv::NotificationCenter::defaultCenter().removeObserver(this);
    // The histogram view belongs to the controller: take it out of the window before either goes.
    m_controller->grayHistogramView().removeFromSuperview();
    m_rows.clear();
    m_window.reset();
    m_controller.reset();
}

void PropertiesPanelWindow::loadWindow()
{
    m_window = std::make_unique<LMNormalCustomWindow>(kpv::Rect(0, 0, kWidth, kHeight));
    makeFloatingPanelWindow(*m_window, m_windowController.window());
    if (m_window->btnClose())
        m_window->btnClose()->setAction([this](kpv::View*) { m_controller->closeButtonClicked(); });
    kpv::View* content = m_window->contentView();

    m_txtTitle = new kpv::TextField(kpv::Rect(40, kHeight - 30, kWidth - 80, 20));
    m_txtTitle->setAlignment(Qt::AlignCenter);
    m_txtTitle->setTextColor(kTextColor);
    m_txtTitle->setStringValue(kpv::Bundle::mainBundle().localizedString(QStringLiteral("IDS_Info")));
    m_txtTitle->setAutoresizingMask(kpv::ViewWidthSizable);
    content->addSubview(m_txtTitle);

    const double innerWidth = kWidth - 2 * kMargin;
    auto* thumbBkgrd = new LMNineSliceImageView(
        kpv::Rect(kMargin, kHeight - 40 - 150, innerWidth, 150),
        std::make_shared<LMNineSliceImageRep>(QStringLiteral("bg_picexif"), kpv::Point{9, 9}, kpv::Point{9, 9}));
    thumbBkgrd->setAutoresizingMask(kpv::ViewWidthSizable);
    content->addSubview(thumbBkgrd);
    m_imageViewThumb = new LMImageView(kpv::Rect(kMargin + 6, kHeight - 40 - 150 + 6, innerWidth - 12, 138));
    m_imageViewThumb->setImageScaling(3);
    m_imageViewThumb->setAutoresizingMask(kpv::ViewWidthSizable);
    content->addSubview(m_imageViewThumb);

    const double baseHeight = 4 * PropertiesExifInfoItemController::kRowHeight + 8;
    const double baseTop = kHeight - 40 - 150 - 8;
    m_viewBaseFileInfoContainer = new kpv::View(kpv::Rect(kMargin, baseTop - baseHeight, innerWidth, baseHeight));
    m_viewBaseFileInfoContainer->setAutoresizingMask(kpv::ViewWidthSizable);
    content->addSubview(m_viewBaseFileInfoContainer);

    const double exifHeight = (PropertiesWindowController::kItemCount - 4) * PropertiesExifInfoItemController::kRowHeight + 12;
    const double exifTop = baseTop - baseHeight - 6;
    auto* tiled = new LMTiledImageView(kpv::Rect(kMargin, exifTop - exifHeight, innerWidth, exifHeight));
    tiled->setTileImage(LMNineSliceImageRep::loadImageWithoutExtension(QStringLiteral("BG_ExifTile")));
    tiled->setAutoresizingMask(kpv::ViewWidthSizable);
    content->addSubview(tiled);
    m_viewExifInfoContainer = new kpv::View(tiled->frame());
    m_viewExifInfoContainer->setAutoresizingMask(kpv::ViewWidthSizable);
    content->addSubview(m_viewExifInfoContainer);

    LMGrayHistogramView& histogram = m_controller->grayHistogramView();
    histogram.setFrame(kpv::Rect(kMargin, 16, innerWidth, exifTop - exifHeight - 16 - 8));
    histogram.setBackgroundImage(LMNineSliceImageRep::loadImageWithoutExtension(QStringLiteral("bg_info")), {3, 7}, {3, 7});
    histogram.setAutoresizingMask(kpv::ViewWidthSizable);
    content->addSubview(&histogram);

    for (int type = 0; type < PropertiesWindowController::kItemCount; ++type) {
        auto row = std::make_unique<PropertiesExifInfoItemController>(type < 4 ? m_viewBaseFileInfoContainer
                                                                               : m_viewExifInfoContainer);
        row->setTextColor(kTextColor);
        row->setExifInfoName(true, PropertiesWindowController::infoDisplayNameByType(type));
        if (type < 4) {
            row->setSpacePixels(5);
            row->setInfoValueMinWidth(105);
        } else {
            row->setSpacePixels(10);
            row->setInfoValueMinWidth(160);
            row->setExifInfoName(true, int(Qt::AlignRight | Qt::AlignVCenter));
        }
        m_rows.push_back(std::move(row));
    }
    layoutRows();
}

void PropertiesPanelWindow::layoutRows()
{
    // Rows 0 to 3 size their own name column; the rows below them share the widest name.
    // A row that needs more width than its container grows the window by the larger of the two
    // containers' shortfalls (the window never shrinks back while it lives). Each row's text is
    // measured once.
    double sharedName = 0, baseShortfall = 0;
    double exifBeyondName = std::numeric_limits<double>::lowest();
    for (int type = 0; type < PropertiesWindowController::kItemCount; ++type) {
        double ownName = 0;
        const double need = m_rows[size_t(type)]->calcItemWidthWithExifInfoNameWidth(&ownName);
        if (type < 4) {
            baseShortfall = std::max(baseShortfall, need - m_viewBaseFileInfoContainer->frame().width());
        } else {
            sharedName = std::max(sharedName, ownName);
            exifBeyondName = std::max(exifBeyondName, need - ownName);
        }
    }
    const double exifShortfall = std::max(0.0, exifBeyondName + sharedName - m_viewExifInfoContainer->frame().width());
    const double grow = std::ceil(std::max(baseShortfall, exifShortfall));
    const kpv::Rect screen = m_window->screen().visibleFrame;
    kpv::Rect frame = m_window->frame();
    const double widest = screen.isEmpty() ? kMaxWidth : std::min(kMaxWidth, screen.width());
    if (grow > 0 && frame.width() < widest) {
        frame.size.width = std::min(frame.width() + grow, widest);
        // Grown past the screen's right edge, the panel moves left so that it stays in view.
        if (!screen.isEmpty() && frame.maxX() > screen.maxX())
            frame.origin.x = std::max(screen.minX(), screen.maxX() - frame.width());
        m_window->setFrame(frame, false);
    }
    auto stack = [this](kpv::View* container, int first, int last, double nameWidth) {
        const double h = PropertiesExifInfoItemController::kRowHeight;
        const double total = h * (last - first + 1);
        double top = std::round((container->frame().height() - total) / 2) + total;
        for (int type = first; type <= last; ++type) {
            top -= h;
            m_rows[size_t(type)]->setItemFrame(kpv::Rect(0, top, container->frame().width(), h), nameWidth);
        }
    };
    stack(m_viewBaseFileInfoContainer, 0, 3, 0);
    stack(m_viewExifInfoContainer, 4, PropertiesWindowController::kItemCount - 1, sharedName);
}

void PropertiesPanelWindow::placeWindow()
{
    if (m_placed)
        return;
    m_placed = true;
    MainConfig* config = m_delegate.mainConfig();
    kpv::Point origin;
    if (config && config->infoWindowOrigin()) {
        origin = kpv::Point{config->infoWindowOrigin()->x(), config->infoWindowOrigin()->y()};
    } else {
        // First showing: inside the main window's right edge, a little below its top.
        const kpv::Rect main = m_windowController.window()->frame();
        const kpv::Rect own = m_window->frame();
        origin = kpv::Point{main.maxX() - own.width() - 24, main.maxY() - own.height() - 70};
    }
    placeFloatingPanelOnScreen(*m_window, origin);
}

void PropertiesPanelWindow::switchShow()
{
    if (m_controller->showStatus())
        m_controller->hide();
    else
        m_controller->show();
}

QString PropertiesPanelWindow::rowValue(long type) const
{
    return type >= 0 && type < long(m_rows.size()) ? m_rows[size_t(type)]->txtExifInfoValue()->stringValue() : QString();
}

QString PropertiesPanelWindow::rowShown(long type) const
{
    return type >= 0 && type < long(m_rows.size()) ? m_rows[size_t(type)]->txtExifInfoValue()->displayedStringValue()
                                                   : QString();
}

LMNavFileInfoPtr PropertiesPanelWindow::curFileInfo() const { return m_navigator.curFileInfo(); }

long PropertiesPanelWindow::mainShowMode() const { return m_windowController.showMode(); }

bool PropertiesPanelWindow::canDoAction(long actionId) const { return m_navigator.canDoAction(actionId); }

bool PropertiesPanelWindow::isMainWindowKey() const
{
    const kpv::Window* main = m_windowController.window();
    return main && main->isKeyWindow();
}

void PropertiesPanelWindow::setPanelWindowVisible(bool visible)
{
    if (!m_window)
        return;
    if (visible) {
        placeWindow();
        m_window->orderFront();
        return;
    }
    if (m_window->isVisible()) {
        if (MainConfig* config = m_delegate.mainConfig()) {
            const kpv::Rect frame = m_window->frame();
            config->setInfoWindowOrigin(QPointF(frame.x(), frame.y()));
        }
        m_window->orderOut();
    }
}

QImage PropertiesPanelWindow::defaultImage(long kind) const
{
    const std::shared_ptr<kpv::Image> image = m_delegate.defaultImage(kind);
    if (!image || !image->isValid())
        return QImage();
    // The placeholder is drawn fitted to the thumbnail's place, enlarged as a rule: take the
    // representation with pixels enough for the place's device pixels (on a dense screen the 2x
    // one), not the smallest one enlarged further.
    const QSizeF place = thumbPixelSize();
    const kpv::Size points = image->size();
    double needed = 1.0;
    if (points.width > 0 && points.height > 0 && !place.isEmpty())
        needed = std::min(place.width() / points.width, place.height() / points.height);
    return image->bestRepresentation(std::max(needed, 1.0));
}

QSizeF PropertiesPanelWindow::thumbPixelSize() const
{
    if (!m_window || !m_imageViewThumb)
        return QSizeF();
    const double scale = m_window->backingScaleFactor();
    const kpv::Rect bounds = m_imageViewThumb->bounds();
    return QSizeF(bounds.width() * scale, bounds.height() * scale);
}

void PropertiesPanelWindow::panelContentChanged()
{
    if (m_rows.empty())
        return;
    for (int type = 0; type < PropertiesWindowController::kItemCount; ++type)
        m_rows[size_t(type)]->setExifInfoName(false, m_controller->infoValue(type));
    const QImage& thumb = m_controller->thumbImage();
    m_imageViewThumb->setImage(thumb.isNull() ? nullptr : std::make_shared<kpv::Image>(thumb), m_controller->thumbAngle());
    layoutRows();
}
