#include "Shell/Modes/MainWndCropHost.h"

#include "Shell/MainWindow/AppDelegate.h"
#include "Shell/MainWindow/LMMainWindow.h"
#include "Shell/MainWindow/LMMainWndContentView.h"
#include "Shell/MainWindow/MainWndController.h"

#include "Edit/ImageSaveAsPanel.h"
#include "Kit/LMAlertSheet.h"
#include "Model/LMPerformSelectorWrapper.h"
#include "Model/MainConfig.h"
#include "Model/PublicObject.h"
#include "View/LMOpenGLView.h"
#include "View/NavigateController.h"
#include "foundation/Bundle.h"
#include "foundation/FileNames.h"
#include "foundation/NotificationCenter.h"

#include <QGuiApplication>
#include <QScreen>
#include <QUrl>

MainWndCropHost::MainWndCropHost(MainWndController& windowController, NavigateController& navigator,
                                 LMOpenGLView* imageView, const NavigateControllerHost& navigatorHost)
    : m_windowController(windowController), m_navigator(navigator), m_imageView(imageView), m_navigatorHost(navigatorHost)
{
}

LMNavFileInfoPtr MainWndCropHost::curFileInfo() const
{
    // The crop page works on the full-size picture, which the viewer decodes only when zoomed in:
    // it is asked for here (once), and reaches the page through the "didLoadImage" notification.
    m_navigator.loadCurFileOriginalImage();
    return m_navigator.curFileInfo();
}

LMImageRotateAngle MainWndCropHost::angleRotate() const
{
    return m_imageView ? m_imageView->angleRotate() : LMImageRotateAngle();
}

const LMPhotoLoader& MainWndCropHost::photoLoader() const { return *PublicObject::getPublicObject()->photoLoader(); }

QSizeF MainWndCropHost::mainScreenSizePoints() const
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen ? QSizeF(screen->size()) : QSizeF();
}

double MainWndCropHost::backingScale() const
{
    const kpv::Window* window = m_windowController.window();
    return window ? window->backingScaleFactor() : 1.0;
}

kpv::View* MainWndCropHost::containerViewByShowMode(long showMode)
{
    return m_windowController.containerViewByShowMode(showMode);
}

void MainWndCropHost::setShowMode(long showMode) { m_windowController.setShowMode(showMode); }

kpv::View* MainWndCropHost::popupParentView() { return m_windowController.contentView(); }

void MainWndCropHost::runSaveAsPanel(const QString& srcFilePath, const QString& defaultDir, ReplaceWarning replaceWarning,
                                     SavePanelDone done)
{
    ImageSaveAsPanel::shared().run(
        m_windowController.window(), srcFilePath, defaultDir,
        [done](bool chosen, const QString& path, const std::optional<QVariantMap>& params) {
            if (done)
                done(chosen ? path : QString(), params.value_or(QVariantMap()));
        },
        std::move(replaceWarning));
}

QString MainWndCropHost::lastSaveAsDir() const
{
    MainConfig* config = m_windowController.appDelegate().mainConfig();
    return config ? kpv::fileNameFromUrl(config->lastSaveAsDirUrl()) : QString();
}

void MainWndCropHost::setLastSaveAsDir(const QString& dir)
{
    if (MainConfig* config = m_windowController.appDelegate().mainConfig())
        config->setLastSaveAsDirUrl(kpv::fileUrlFromName(dir));
}

QString MainWndCropHost::temporaryCropFolder()
{
    return m_windowController.appDelegate().temporaryDirectoryWithSubDir(QStringLiteral("Crop"));
}

QString MainWndCropHost::keptCropFolder() { return m_windowController.appDelegate().keptCropFolder(true); }

void MainWndCropHost::endSaveCurFileToPath(const LMPathString& path)
{
    m_navigator.endSaveCurFileToPath(path.path(), 0, true, {});
}

void MainWndCropHost::addFavoriteFile(const LMPathString& path, const LMImagePtr& thumb)
{
    m_navigator.addFavoriteFile(path, thumb);
}

void MainWndCropHost::postFileModified(const LMPathString& path)
{
    kpv::NotificationCenter::defaultCenter().postNotification(QString::fromLatin1(NavFileModifiedNotification), nullptr,
                                                              {{QStringLiteral("filePath"), QVariant::fromValue(path)}});
}

void MainWndCropHost::didLoadImageFromThread(const QVariantMap& loadResult) { m_navigator.didLoadImage(loadResult); }

bool MainWndCropHost::isKeyWindowForView(kpv::View* view) const
{
    const kpv::Window* window = view ? view->window() : nullptr;
    return window && window->isKeyWindow();
}

kpv::Rect MainWndCropHost::favoriteBoxFrameInWindow() const
{
    const QRectF box = m_navigatorHost.favoriteBinRectInView();
    if (box.isEmpty() || !m_imageView)
        return {};
    return m_imageView->convertRectToView(kpv::Rect(box.x(), box.y(), box.width(), box.height()), nullptr);
}

MainConfig* MainWndCropHost::mainConfig() const { return m_windowController.appDelegate().mainConfig(); }

void MainWndCropHost::showAlert(const QString& message, const QString& informative, std::function<void()> done)
{
    auto* alert = new LMAlertSheet;
    alert->beginAlertSheet(message, kpv::Bundle::mainBundle().localizedString(QStringLiteral("IDS_OK")), QString(),
                           QString(), m_windowController.window(),
                           [alert, done](std::int32_t) {
                               if (done)
                                   done();
                               // The alert is still unwinding: freed on the next turn.
                               LMPerformSelectorWrapper().performWithBlock([alert] { delete alert; }, 0);
                           },
                           informative);
}

MainWndCropController::MainWndCropController(MainWndController& windowController, NavigateController& navigator,
                                             LMOpenGLView* imageView, const NavigateControllerHost& navigatorHost)
    : detail::MainWndCropHostHolder(windowController, navigator, imageView, navigatorHost)
    , CropViewController(cropHost)
{
}

void registerCropMode(MainWndController& windowController, NavigateController& navigator, LMOpenGLView* imageView,
                      const NavigateControllerHost& navigatorHost)
{
    windowController.setShowModeControllerFactory(
        MainShowModeCrop, [&navigator, imageView, &navigatorHost](MainWndController& controller) {
            return std::unique_ptr<ShowModeController>(
                std::make_unique<MainWndCropController>(controller, navigator, imageView, navigatorHost));
        });
}
