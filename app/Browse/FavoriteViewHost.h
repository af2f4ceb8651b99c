#pragma once
// What the favourites controller needs of the main window controller and of the view-mode
// controller. The shell connects an adapter; tests use a fake. Every operation has a harmless
// default so that a partial shell still runs.

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
    virtual bool isWorkableWindow() const { return true; }
    virtual kpv::Window* window() const { return nullptr; }
    virtual void registEquivalentResponder(LMEquivalentResponder*, bool) {}
    // The settings; nullptr keeps the defaults and stores nothing.
    virtual MainConfig* mainConfig() const { return nullptr; }
    // Whether the file is a GIF: by its base information's image type, else by its extension.
    virtual bool isGifFile(const LMFileInfo& info) const
    {
        if (const LMFileImgBaseInfoPtr base = info.imgBaseInfo())
            return base->AMCMImageType() == 4;
        return info.filePath().path().endsWith(QLatin1String(".gif"), Qt::CaseInsensitive);
    }

    // ---- View mode ----
    virtual void updateFavPhotoBoxUI() {}
    virtual kpv::View* viewNavFavContainer() const { return nullptr; }
    virtual kpv::View* viewToolbarContainer() const { return nullptr; }
    virtual void revealFilesInFinder(const QList<LMPathString>&) {}
    virtual void batchRenameFiles(const QList<LMPathString>&) {}
    virtual void batchResizeFiles(const std::vector<std::shared_ptr<LMFileInfo>>&) {}
    virtual void batchConvertFiles(const std::vector<std::shared_ptr<LMFileInfo>>&) {}
    virtual void shareFiles(const std::vector<FavoriteHandOff>&, long /*shareType*/) {}
    virtual void startSlideshow(const std::vector<FavoriteHandOff>&, long /*startFromIndex*/) {}
    // Renders the file upright at full size for printing; `done` gets 0 and the image on success.
    // The default answers a failure at once.
    virtual void renderFileForPrint(const LMPathString&, std::function<void(int result, QImage image)> done) { done(-1, {}); }
    virtual void printImages(const QList<QImage>&) {}
    // An alert sheet over the favourites window: text and buttons; `done` gets 1 for the default
    // button. The default answers the default button.
    virtual void alert(const QString& /*text*/, const QString& /*defaultButton*/, const QString& /*alternateButton*/,
                       std::function<void(int)> done)
    {
        if (done)
            done(1);
    }
    // ---- Toolbar pop-ups (0 batch, 1 share) and the leave-favourites tip ----
    virtual void showPopMenu(int /*type*/, kpv::Point /*anchorInWindow*/, bool /*delay*/) {}
    virtual void hidePopMenu(int /*type*/, bool /*delay*/) {}
    virtual void showFavoriteIntroTips(bool /*show*/) {}
    // The share button's image name and tool tip for a share type.
    virtual QString shareButtonImageName(long /*shareType*/) const { return QStringLiteral("E_SHARE"); }
    virtual QString shareButtonToolTip(long /*shareType*/) const { return {}; }
    // The context menu of the grid.
    virtual void popUpContextMenu(const kpv::Event&, kpv::View*) {}
    // A folder chosen by the user for Save As (empty when cancelled), starting in `startFolder`.
    virtual QString chooseFolder(const QString& /*startFolder*/) { return {}; }
};
