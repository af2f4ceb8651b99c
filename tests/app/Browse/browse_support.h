#pragma once
// Shared by the browsing-mode tests: an offscreen application, a fake shell, scratch files.

#include "Browse/FavoriteViewHost.h"

class LMThumbZoomSlider;

#include <QString>
#include <QTemporaryDir>
#include <functional>
#include <vector>

// Runs the main run loop's posted calls and due timers until nothing more runs (bounded).
void drainMainRunLoop();
// Writes a small JPEG of w x h pixels at `path`.
void writeTestJpeg(const QString& path, int w = 8, int h = 6);
// Drags the slider's knob with the mouse, as a user does: down on the knob, through `parts` of
// its width (0 the left end, 1 the right), up at the last. `step` runs after every action the
// slider sends meanwhile. The slider must be in a window.
void dragSliderKnob(LMThumbZoomSlider& slider, const std::vector<double>& parts, const std::function<void()>& step);

class FakeFavoriteHost : public FavoriteViewHost {
public:
    long mode = 4;
    int favBoxUpdates = 0;
    std::vector<long> modeRequests;
    std::vector<QString> alerts;
    int alertAnswer = 1;
    QString chosenFolder;
    QList<LMPathString> revealed;
    QList<LMPathString> renamed;
    std::vector<FavoriteHandOff> shared;
    long sharedType = 0;
    std::vector<FavoriteHandOff> slideshow;
    QList<QImage> printed;
    int printCalls = 0;
    QString printJobName;
    // Paths whose rendering for print fails.
    QList<LMPathString> unprintable;

    std::vector<int> popupsShown;
    int tipShows = 0;
    void showPopMenu(int type, kpv::Point, bool) override { popupsShown.push_back(type); }
    void showFavoriteIntroTips(bool show) override { tipShows += show ? 1 : 0; }
    long showMode() const override { return mode; }
    void setShowMode(long m) override
    {
        modeRequests.push_back(m);
        mode = m;
    }
    void updateFavPhotoBoxUI() override { ++favBoxUpdates; }
    void revealFilesInFinder(const QList<LMPathString>& p) override { revealed = p; }
    void batchRenameFiles(const QList<LMPathString>& p) override { renamed = p; }
    void shareFiles(const std::vector<FavoriteHandOff>& f, long t) override
    {
        shared = f;
        sharedType = t;
    }
    void startSlideshow(const std::vector<FavoriteHandOff>& f, long) override { slideshow = f; }
    void renderFileForPrint(const LMPathString& p, std::function<void(int, QImage)> done) override
    {
        if (unprintable.contains(p))
            done(-1, {});
        else {
            QImage img(4, 4, QImage::Format_RGB32);
            img.fill(Qt::red);
            done(0, img);
        }
    }
    void printImages(const QList<QImage>& images, const QString& jobName) override
    {
        printed = images;
        printJobName = jobName;
        ++printCalls;
    }
    void alert(const QString& text, const QString&, const QString&, std::function<void(int)> done) override
    {
        alerts.push_back(text);
        if (done)
            done(alertAnswer);
    }
    QString chooseFolder(const QString&) override { return chosenFolder; }
    bool isWorkableWindow() const override { return true; }
    kpv::Window* win = nullptr; // none unless a test gives one
    kpv::Window* window() const override { return win; }
    void registEquivalentResponder(LMEquivalentResponder*, bool) override {}
    MainConfig* config = nullptr; // none unless a test gives one
    MainConfig* mainConfig() const override { return config; }
    kpv::View* favContainer = nullptr; // none unless a test gives them
    kpv::View* toolbarContainer = nullptr;
    kpv::View* viewNavFavContainer() const override { return favContainer; }
    kpv::View* viewToolbarContainer() const override { return toolbarContainer; }
    std::vector<std::shared_ptr<LMFileInfo>> resized, converted;
    void batchResizeFiles(const std::vector<std::shared_ptr<LMFileInfo>>& f) override { resized = f; }
    void batchConvertFiles(const std::vector<std::shared_ptr<LMFileInfo>>& f) override { converted = f; }
    std::vector<int> popupsHidden;
    void hidePopMenu(int type, bool) override { popupsHidden.push_back(type); }
    QString shareButtonImageName(long t) const override { return QStringLiteral("E_SHARE_%1").arg(t); }
    QString shareButtonToolTip(long) const override { return {}; }
    int contextMenus = 0;
    void popUpContextMenu(const kpv::Event&, kpv::View*) override { ++contextMenus; }
};
