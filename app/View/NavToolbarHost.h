#pragma once

// What the view-mode toolbar needs of the windows around it: the navigation controller's zoom and
// file commands, the main window controller, the settings, the favourites, the photo bin, the two
// pop-up menus and the two tips. The shell implements it; tests implement it with a recorder.
// Every call comes on the main thread.

#include "appkit/Geometry.h"

#include <QImage>
#include <QString>

#include <cstdint>

class NavToolbarController;

class NavToolbarHost {
public:
    virtual ~NavToolbarHost() = default;

    // ---- Navigation controller: zoom ----
    virtual double curScale() const = 0;
    virtual double curMinScale() const = 0;
    virtual double curMaxScale() const = 0;
    virtual void setScale(double scale) = 0;
    virtual bool fitinMode() const = 0;
    virtual void switchToFitin() {}
    virtual void switchToOriginal() {}
    virtual void switchToMaxScale() {}

    // ---- Navigation controller: current file and commands ----
    // 0 nothing loaded yet, 1 the small thumbnail is loaded, 2 the load failed.
    virtual int curFileState() const = 0;
    virtual bool canDoAction(int actionId) const = 0;
    virtual QString curFilePath() const = 0;
    virtual void switchToThumbView() {}
    virtual void showPropertiesWindow() {}
    virtual void playSlideshow() {}
    virtual void cropCurFile() {}
    virtual void deleteCurFile() {}
    virtual void favorCurFile() {}
    virtual void switchToMyFavorites() {}
    virtual void beginAutoNav(bool /*next*/) {}
    virtual void endAutoNav() {}
    // False when the share could not start.
    virtual bool doShareForType(int64_t /*shareType*/) { return true; }
    virtual void rotateCurFile(int /*editType*/) {}
    // The file-information line that gives way to the toolbar.
    virtual void showFileInfo(bool /*animation*/) {}
    virtual void hideFileInfo(bool /*animation*/) {}

    // ---- Main window controller ----
    virtual int64_t showMode() const = 0;
    virtual void setShowMode(int64_t) {}
    virtual void registEquivalentResponder(NavToolbarController *, bool /*regist*/) {}
    // The pointer's current location in the toolbar's window.
    virtual kpv::Point mouseLocationInWindow() const = 0;
    virtual bool doOpenFolder(const QString & /*folder*/, bool /*fromSandboxAccessTips*/) { return false; }
    virtual void playFavoritesSlideshow() {}

    // ---- Settings ----
    virtual bool photoBinVisible() const = 0;
    virtual void setPhotoBinVisible(bool) = 0;
    virtual int64_t curShareType() const = 0;
    virtual bool loveTipsAlreadyShowed() const = 0;
    virtual void setLoveTipsAlreadyShowed(bool) = 0;
    virtual QString localizedString(const QString &key) const { return key; }
    virtual bool fileExists(const QString &path) const = 0;
    virtual double mainScreenWidth() const = 0;

    // ---- Favourites and the favourites-bin button ----
    virtual qsizetype favoriteFileCount() const = 0;
    virtual bool isFavoriteFile(const QString &path) const = 0;
    // The last favourite's small thumbnail (or the default image) and its orientation angle.
    virtual QImage lastFavoriteThumb(int * /*angle*/) const { return {}; }
    virtual void setFavoriteBinThumb(const QImage &, int /*angle*/) {}
    virtual void setFavoriteBinPhotoCount(qsizetype) {}
    virtual void setFavoriteBinEnabled(bool) {}
    virtual void setFavoriteBinToolTip(const QString &) {}

    // ---- Photo bin ----
    virtual void showPhotoBinView(bool) {}
    virtual double photoBinItemWidth() const { return 0; }
    virtual qsizetype photoBinWholeVisibleItemCountOfCurPage() const { return 0; }
    virtual void resetPhotoBinFiles() {}

    // ---- Pop-up menus (0 edit, 1 share) ----
    virtual void showPopMenu(int /*type*/, kpv::Point /*locationInWindow*/, bool /*delay*/) {}
    virtual void hidePopMenu(int /*type*/, bool /*animation*/) {}
    // The main-menu action id of a share type (0 when none).
    virtual int mainActionTypeForShareType(int64_t) const { return 0; }

    // ---- Tips ----
    virtual void showSandboxAccessTipsView() {}
    virtual void hideSandboxAccessTipsView() {}
    virtual bool sandboxAccessTipsShowing() const { return false; }
    virtual void showLoveIntroTipsView() {}
    virtual void hideLoveIntroTipsView() {}
    virtual bool loveIntroTipsShowing() const { return false; }
};
