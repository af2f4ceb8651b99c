#pragma once
// Shared set-up of the view-mode controller tests: a host that records what the controller asks of
// the windows, a loader that decodes nothing (images of the right sizes made in memory), paging
// views that only keep their geometry, and a controller over a model view on the manual clock.

#include "View/LMImageViewModel.h"
#include "View/NavGestureScrollFileSession.h"
#include "View/NavImageLoader.h"
#include "View/NavigateController.h"

#include "Model/LMBlockOperation.h"
#include "Model/LMData.h"
#include "Model/MainConfig.h"
#include "foundation/Clock.h"
#include "foundation/NotificationCenter.h"
#include "foundation/RunLoop.h"
#include "foundation/UserDefaults.h"
#include "desktop/FakeWorkspaceServices.h"
#include "imageio/ImageSource.h"

#include <gtest/gtest.h>

#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <set>

namespace navtest {

inline const QDateTime kFileDate = QDateTime::fromSecsSinceEpoch(1600000000);

inline LMFileImgBaseInfoPtr makeBaseInfo(const LMPathString &path, uint64_t amcmType = 8, double w = 1600,
                                         double h = 1200)
{
    return std::make_shared<LMFileImgBaseInfo>(path, QStringLiteral("public.png"), amcmType, kFileDate, QSizeF(w, h),
                                               1, QVariantMap());
}

inline LMImagePtr makeImage(uint64_t w, uint64_t h, LMFileImgBaseInfoPtr info)
{
    auto block = LMData::create(w * h * 4);
    return std::make_shared<LMImage>(1u, 32u, w * 4, w, h, QList<LMDataBlock>{block}, std::move(info));
}

// Decodes nothing: answers images of each scale type's size for a 1600 x 1200 file. Files whose
// name contains "bad" have no base information; "gif" files are GIFs.
class FakeLoader : public NavImageLoader {
public:
    LMFileImgBaseInfoPtr loadImgBaseInfo(const LMPathString &path, const kpv::Operation *) const override
    {
        std::lock_guard lock(m_mutex);
        ++baseInfoLoads;
        if (path.path().contains(QStringLiteral("bad")))
            return nullptr;
        const uint64_t type = path.path().endsWith(QStringLiteral(".gif")) ? 4 : codecType;
        // A file on disk is described as the real loader does: its date and identity as read, its
        // type by its bytes.
        const kpv::FileIdentity identity = kpv::fileIdentity(path.path());
        if (identity.isValid()) {
            const auto source = kpv::ImageSource::createWithFile(path.path());
            const QString uti = source ? source->type() : QStringLiteral("public.png");
            return std::make_shared<LMFileImgBaseInfo>(path, uti, type, path.dateModified(), QSizeF(1600, 1200), 1,
                                                       QVariantMap(), identity);
        }
        return makeBaseInfo(path, type);
    }
    LMImagePtr loadImage(const LMPathString &path, int type, LMFileImgBaseInfoPtr info, const kpv::Operation *,
                         int *equivalent, const FramesSoFarSink &framesSoFar) const override
    {
        std::unique_lock lock(m_mutex);
        loads.push_back({path, type});
        if (equivalent)
            *equivalent = equivalentFor.count(type) ? equivalentFor.at(type) : 0;
        if (!info && path.path().contains(QStringLiteral("Img_")))
            return makeImage(4, 4, makeBaseInfo(path, 8, 4, 4));
        if (!info)
            return nullptr;
        const QSizeF size = sizes.count(type) ? sizes.at(type) : sizeFor(type, info);
        const auto w = uint64_t(size.width()), h = uint64_t(size.height());
        // An animation of gifFrames frames for the fit-in types, its frames told as they "decode".
        if (gifFrames > 1 && type >= 10 && info->AMCMImageType() == 4) {
            QList<LMDataBlock> frames;
            for (int f = 0; f < gifFrames; ++f)
                frames << LMData::create(w * h * 4);
            if (framesSoFar) {
                const auto hook = afterFramesSoFar;
                lock.unlock();
                for (int count = 1; count < gifFrames; count *= 2) {
                    framesSoFar(std::make_shared<LMImage>(1u, 32u, w * 4, w, h, frames.mid(0, count), info));
                    if (hook)
                        hook(count);
                }
            }
            return std::make_shared<LMImage>(1u, 32u, w * 4, w, h, frames, info);
        }
        return makeImage(w, h, info);
    }
    LMImagePtr resizeImage(const LMImagePtr &image, const QSizeF &toSize, const kpv::Operation *) const override
    {
        std::lock_guard lock(m_mutex);
        ++resizes;
        if (!image || toSize.isEmpty())
            return nullptr;
        return makeImage(uint64_t(toSize.width()), uint64_t(toSize.height()), image->originalImgBaseInfo());
    }
    // Files have no cached or stored thumbnail unless `storedThumbs` says so; `storedThumbsInCache`
    // keeps them in the desktop cache rather than in the files.
    LMImagePtr loadStoredSmallThumb(const LMPathString &, const LMFileImgBaseInfoPtr &info, const kpv::Operation *,
                                    bool inFileOnly) const override
    {
        std::lock_guard lock(m_mutex);
        ++storedThumbLookups;
        return storedThumbs && info && !(inFileOnly && storedThumbsInCache) ? makeImage(160, 120, info) : nullptr;
    }
    // Files have no cached large thumbnail unless `storedLargeThumbs` says so.
    LMImagePtr loadStoredLargeThumb(const LMPathString &, const LMFileImgBaseInfoPtr &info,
                                    const kpv::Operation *) const override
    {
        std::lock_guard lock(m_mutex);
        ++storedLargeLookups;
        return storedLargeThumbs && info ? makeImage(256, 192, info) : nullptr;
    }
    QSizeF calcPreferredImageSizeForImageScaleType(int type, const LMFileImgBaseInfoPtr &info,
                                                   int *equivalent) const override
    {
        std::lock_guard lock(m_mutex);
        if (equivalent)
            *equivalent = equivalentFor.count(type) ? equivalentFor.at(type) : 0;
        return sizes.count(type) ? sizes.at(type) : sizeFor(type, info);
    }
    bool isSmallFitinTypeByCheckSize(const QSizeF &) const override { return true; }
    // Counts the parts asked for; none is decoded.
    LMImagePtr loadImageRegion(const LMPathString &, const LMFileImgBaseInfoPtr &, const QRect &, int,
                               const kpv::Operation *) const override
    {
        std::lock_guard lock(m_mutex);
        ++regionLoads;
        return nullptr;
    }

    static QSizeF sizeFor(int type, const LMFileImgBaseInfoPtr &info)
    {
        const QSizeF raw = info ? info->rawFrameSize() : QSizeF(1600, 1200);
        switch (type) {
        case 8: return QSizeF(160, 120);
        case 9: return QSizeF(256, 192);
        case 10: return QSizeF(1024, 768);
        case 11: return raw;
        default: return type >= 1 && type <= 7 ? raw / double(1 << (type - 1)) : QSizeF();
        }
    }

    struct Load {
        LMPathString path;
        int type;
    };
    mutable std::mutex m_mutex;
    mutable std::vector<Load> loads;
    uint64_t codecType = 8; // of the files that are no GIF (2: JPEG)
    mutable int baseInfoLoads = 0;
    mutable int resizes = 0;
    mutable int storedThumbLookups = 0;
    mutable int storedLargeLookups = 0;
    mutable int regionLoads = 0;
    bool storedThumbs = false;
    bool storedThumbsInCache = false;
    bool storedLargeThumbs = false;
    std::map<int, QSizeF> sizes; // sizes of scale types other than sizeFor's
    std::map<int, int> equivalentFor;
    // GIFs load this many frames for the fit-in types; after telling each count of frames so far
    // (1, 2, 4, ...) the load runs afterFramesSoFar with that count, then answers the whole animation.
    int gifFrames = 1;
    std::function<void(int)> afterFramesSoFar;
};

class FakeHost : public NavigateControllerHost {
public:
    explicit FakeHost(MainConfig *config) : m_config(config) {}

    MainConfig *mainConfig() override { return m_config; }
    void addOperation(std::shared_ptr<kpv::Operation> op) override { queue.push_back(std::move(op)); }
    void performAfterImageViewFrame(std::function<void()> block) override { afterFrame.push_back(std::move(block)); }
    // The image view puts a frame on screen.
    void drawFrame()
    {
        auto blocks = std::move(afterFrame);
        afterFrame.clear();
        for (auto &b : blocks)
            b();
    }
    void cancelAllOperations() override
    {
        ++cancelAllCount;
        for (auto &op : queue)
            op->cancel();
    }
    QString localizedString(const QString &key) const override { return key; }
    QString resourcePath(const QString &name) const override { return QStringLiteral("/res/") + name; }
    int64_t showMode() const override { return mode; }
    void setShowMode(int64_t m) override { setShowModeCalls.push_back(m); mode = m; }
    void registEquivalentResponder(NavigateController *, bool regist) override { registered = regist; }
    void setWindowTitle(const QString &t, const QString &represented) override { title = t; representedFile = represented; }
    void updateStatusInfo(const QString &text, bool waiting, int flag) override
    {
        statusText = text;
        statusWaiting = waiting;
        statusFlag = flag;
    }
    void updateStatusReason(const QString &reason) override { statusReason = reason; }
    void showPreviewStatus(bool, bool autoHide) override { statusShown = true; statusAutoHide = autoHide; }
    void hidePreviewStatus(bool, bool) override { statusShown = false; }
    void showNextPrev(bool, bool) override { arrowsShown = true; }
    void hideNextPrev(bool, bool) override { arrowsShown = false; }
    void setNavInfoContainerHidden(bool hidden) override { navInfoHidden = hidden; }
    qsizetype photoBinMaxVisibleItemCount() const override { return binMax; }
    qsizetype photoBinWholeVisibleItemCountOfCurPage() const override { return binPage; }
    void deleteCurFile() override { ++deleteCount; }
    kpv::WorkspaceServices *workspaceServices() override { return &workspace; }
    kpv::FakeWorkspaceServices workspace;
    void sortFiles(int64_t, bool force) override { sortForced = force; }
    void startSlideshow(const QList<NavSlideshowFile> &files, qsizetype index) override
    {
        slides = files;
        slideIndex = index;
    }

    // The rest answer what an application without those windows would.
    bool isWindowFullScreen() const override { return false; }
    void toggleFullScreen() override {}
    LMImageViewModel *miniWindowOpenGLView() override { return nullptr; }
    void updateMiniUI(int, int) override {}
    void writeImageToPasteboard(const QImage &) override {}
    void setPreviewStatusAutoHideInterval(double) override {}
    void showImageView(bool, bool) override {}
    void hideImageView(bool, bool) override {}
    void setFileImgBaseInfo(const LMFileImgBaseInfoPtr &, int64_t) override {}
    NavArrowHit arrowHitTest(QPointF) const override { return NavArrowHit::None; }
    void setViewShadowImage(const LMImagePtr &) override {}
    void resetPhotoBinFiles() override {}
    void showSandboxAccessTips() override {}
    void hideSandboxAccessTips(bool) override {}
    void checkShowHideNavigationWindow() override {}
    bool curLoveIntroTipsShowStatus() const override { return false; }
    bool isFavoriteFile(const LMPathString &) const override { return false; }
    qsizetype favoriteFileCount() const override { return 0; }
    void stopFavorFileAnimationTimer() override {}
    bool fileExistsAtPath(const QString &path) const override { return QFileInfo::exists(path); }
    void beginAlertSheet(const QString &, const QString &, const QString &, const QString &, const QString &,
                         AlertDidEnd didEnd, kpv::AlertEscape) override
    {
        if (didEnd)
            didEnd(0);
    }
    void runSaveAsPanel(const QString &, const QString &, SavePanelHandler handler) override
    {
        if (handler)
            handler(false, QString(), std::nullopt);
    }
    void printImage(const QImage &, const QString &) override {}
    void writeFileAndImageToPasteboard(const QString &, const QImage &) override {}
    QString temporaryDirectoryWithSubDir(const QString &) const override { return {}; }
    void miniWindowDoBeforeRotate() override {}
    void shareFiles(const QList<NavSlideshowFile> &, int64_t) override {}
    void updateShareButtonUI(int64_t) override {}
    void switchPhotoBin() override {}
    void beginBatchRename(const QList<LMPathString> &,
                          std::function<void(const QHash<LMPathString, LMPathString> &)> done) override
    {
        if (done)
            done({});
    }
    void beginBatchResizeOrConvert(bool, const QList<NavSlideshowFile> &, std::function<void()> done) override
    {
        if (done)
            done();
    }
    void beginDragFile(const QString &, const QImage &) override {}
    void addFavoriteFile(const LMPathString &, const LMFileImgBaseInfoPtr &, const QImage &) override {}
    void removeFavoriteFile(const LMPathString &) override {}
    QImage favoriteThumb(const LMPathString &, int *) const override { return {}; }
    QRectF favoriteBinRectInView() const override { return {}; }
    void beginAniFavorFile(bool) override {}
    void endAniFavorFile(bool) override {}
    void updateFavPhotoBoxUI() override {}
    void showFavorSnapshot(const QImage &, int) override {}
    void updateFavorSnapshot(const QRectF &, double) override {}
    void removeFavorSnapshot() override {}

    // Runs every queued operation that was not cancelled, highest priority first and in the order
    // added within a priority, then delivers their results on the main loop and draws a frame of
    // the view, until the loads that waited for it have run too.
    void runQueue(NavigateController &)
    {
        for (int round = 0; round < 4 && (!queue.empty() || !afterFrame.empty()); ++round) {
            std::stable_sort(queue.begin(), queue.end(),
                             [](const auto &a, const auto &b) { return a->queuePriority() > b->queuePriority(); });
            auto ops = std::move(queue);
            queue.clear();
            // As a queue runs them: the first whose dependencies have finished, then the rest.
            while (!ops.empty()) {
                auto next = std::find_if(ops.begin(), ops.end(), [](const auto &op) { return op->isReady(); });
                if (next == ops.end())
                    next = ops.begin();
                const auto op = *next;
                ops.erase(next);
                op->start();
            }
            kpv::RunLoop::main().runOnce();
            drawFrame();
        }
    }

    MainConfig *m_config;
    std::vector<std::shared_ptr<kpv::Operation>> queue;
    std::vector<std::function<void()>> afterFrame;
    int cancelAllCount = 0;
    int64_t mode = NavShowModeView;
    std::vector<int64_t> setShowModeCalls;
    bool registered = false;
    QString title, representedFile;
    QString statusText;
    QString statusReason;
    bool statusWaiting = false;
    int statusFlag = 0;
    bool statusShown = false;
    bool statusAutoHide = false;
    bool arrowsShown = false;
    bool navInfoHidden = false;
    qsizetype binMax = 40;
    qsizetype binPage = 0;
    int deleteCount = 0;
    bool sortForced = false;
    QList<NavSlideshowFile> slides;
    qsizetype slideIndex = -1;
};

// Records the notifications one sender posts, with their user information.
class Recorder {
public:
    explicit Recorder(const void *sender)
    {
        kpv::NotificationCenter::defaultCenter().addObserver(this, QString(), sender, [this](const kpv::Notification &n) {
            names << n.name;
            infos << n.userInfo;
        });
    }
    ~Recorder() { kpv::NotificationCenter::defaultCenter().removeObserver(this); }
    int count(const char *name) const { return int(names.count(QString::fromLatin1(name))); }
    void clear()
    {
        names.clear();
        infos.clear();
    }
    QStringList names;
    QList<QVariantMap> infos;
};

inline QList<LMPathString> makePaths(int n, const QString &ext = QStringLiteral(".jpg"))
{
    QList<LMPathString> out;
    for (int i = 0; i < n; ++i)
        out << LMPathString(QStringLiteral("/nonexistent/photos/img%1%2").arg(i, 3, 10, QChar('0')).arg(ext), false);
    return out;
}

class NavTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        kpv::RunLoop::main().setClock(&clock);
        defaults = std::make_unique<kpv::UserDefaults>(dir.filePath(QStringLiteral("defaults.plist")));
        config = std::make_unique<MainConfig>(*defaults);
        host = std::make_unique<FakeHost>(config.get());
        view.setViewBounds(QRectF(0, 0, 800, 600));
        controller = std::make_unique<NavigateController>(&view, host.get(), &loader);
        controller->awakeFromNib();
    }
    void TearDown() override
    {
        controller.reset();
        kpv::RunLoop::main().runOnce();
        kpv::RunLoop::main().setClock(nullptr);
    }
    // Opens `n` files (no folder search: the chosen paths are the files) and shows the first.
    void open(int n, const QString &ext = QStringLiteral(".jpg"))
    {
        paths = makePaths(n, ext);
        controller->openFilePaths(paths, {}, false);
    }
    void runLoads() { host->runQueue(*controller); }

    kpv::ManualClock clock;
    QTemporaryDir dir;
    std::unique_ptr<kpv::UserDefaults> defaults;
    std::unique_ptr<MainConfig> config;
    std::unique_ptr<FakeHost> host;
    FakeLoader loader;
    LMImageViewModel view;
    std::unique_ptr<NavigateController> controller;
    QList<LMPathString> paths;
};

} // namespace navtest
