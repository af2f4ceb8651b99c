#pragma once
// What the favourites controller needs of the main window controller and of the view-mode
// controller. The shell connects an adapter; tests use a fake. Every operation is the shell's to
// answer.

#include "Model/LMFileInfo.h"
#include "Model/LMPathString.h"

#include <QImage>
#include <QList>
#include <functional>
#include <memory>
#include <vector>

class LMEquivalentResponder;
class MainConfig;
#include "appkit/Geometry.h"

namespace kpv {
class Event;
class View;
class Window;
}

// One favourite handed to sharing or to a slideshow.
struct FavoriteHandOff {
    LMPathString filePath;
    LMFileImgBaseInfoPtr imgBaseInfo;
    QImage rawThumb;
};

class FavoriteViewHost {
public:
    virtual ~FavoriteViewHost() = default;

    // ---- Main window ----
    virtual long showMode() const = 0;
    virtual void setShowMode(long mode) = 0;
    virtual bool isWorkableWindow() const = 0;
    virtual kpv::Window* window() const = 0;
    virtual void registEquivalentResponder(LMEquivalentResponder* responder, bool regist) = 0;
    // The settings; nullptr keeps the defaults and stores nothing.
    virtual MainConfig* mainConfig() const = 0;
    // Whether the file is a GIF: by its base information's image type, else by its extension.
    static bool isGifFile(const LMFileInfo& info)
    {
        if (const LMFileImgBaseInfoPtr base = info.imgBaseInfo())
            return base->AMCMImageType() == 4;
        return info.filePath().path().endsWith(QLatin1String(".gif"), Qt::CaseInsensitive);
    }

    // ---- View mode ----
    virtual void updateFavPhotoBoxUI() = 0;
    virtual kpv::View* viewNavFavContainer() const = 0;
    virtual kpv::View* viewToolbarContainer() const = 0;
    virtual void revealFilesInFinder(const QList<LMPathString>& paths) = 0;
    virtual void batchRenameFiles(const QList<LMPathString>& paths) = 0;
    virtual void batchResizeFiles(const std::vector<std::shared_ptr<LMFileInfo>>& files) = 0;
    virtual void batchConvertFiles(const std::vector<std::shared_ptr<LMFileInfo>>& files) = 0;
    virtual void shareFiles(const std::vector<FavoriteHandOff>& files, long shareType) = 0;
    virtual void startSlideshow(const std::vector<FavoriteHandOff>& files, long startFromIndex) = 0;
    // Renders the file upright at full size for printing; `done` gets 0 and the image on success,
    // a negative result when the file cannot be read.
    virtual void renderFileForPrint(const LMPathString& path, std::function<void(int result, QImage image)> done) = 0;
    // Prints the images, one a page; `jobName` names the job in the queue and a PDF's title.
    virtual void printImages(const QList<QImage>& images, const QString& jobName) = 0;
    // An alert sheet over the favourites window: text and buttons; `done` gets 1 for the default
    // button.
    virtual void alert(const QString& text, const QString& defaultButton, const QString& alternateButton,
                       std::function<void(int)> done) = 0;
    // ---- Toolbar pop-ups (0 batch, 1 share) and the leave-favourites tip ----
    virtual void showPopMenu(int type, kpv::Point anchorInWindow, bool delay) = 0;
    virtual void hidePopMenu(int type, bool delay) = 0;
    virtual void showFavoriteIntroTips(bool show) = 0;
    // The share button's image name and tool tip for a share type.
    virtual QString shareButtonImageName(long shareType) const = 0;
    virtual QString shareButtonToolTip(long shareType) const = 0;
    // The context menu of the grid.
    virtual void popUpContextMenu(const kpv::Event& e, kpv::View* view) = 0;
    // A folder chosen by the user for Save As (empty when cancelled), starting in `startFolder`.
    virtual QString chooseFolder(const QString& startFolder) = 0;
};
