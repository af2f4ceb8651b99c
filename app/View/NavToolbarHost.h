#pragma once

// What the view-mode toolbar needs of the windows around it: the navigation controller's zoom and
// file commands, the main window controller, the settings, the favourites, the photo bin, the two
// pop-up menus and the two tips. The shell implements every operation; tests implement it with a
// recorder.
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
    virtual void switchToFitin() = 0;
    virtual void switchToOriginal() = 0;
    virtual void switchToMaxScale() = 0;

    // ---- Navigation controller: current file and commands ----
    // 0 nothing loaded yet, 1 the small thumbnail is loaded, 2 the load failed.
    virtual int curFileState() const = 0;
    virtual bool canDoAction(int actionId) const = 0;
    virtual QString curFilePath() const = 0;
    virtual void switchToThumbView() = 0;
    virtual void showPropertiesWindow() = 0;
    virtual void playSlideshow() = 0;
    virtual void cropCurFile() = 0;
    virtual void deleteCurFile() = 0;
    virtual void favorCurFile() = 0;
    virtual void switchToMyFavorites() = 0;
    virtual void beginAutoNav(bool /*next*/) = 0;
    virtual void endAutoNav() = 0;
    // Height in points of the picture drawn in place of a file that cannot be shown (0 if none).
    virtual double badFilePictureHeight() const = 0;
    // Room in points kept below that picture for the line that says why the file cannot be shown.
    virtual double badFileReasonRoom() const = 0;
    // False when the share could not start.
    virtual bool doShareForType(int64_t /*shareType*/) = 0;
    virtual void rotateCurFile(int /*editType*/) = 0;
    // The file-information line that gives way to the toolbar.
    virtual void showFileInfo(bool /*animation*/) = 0;
    virtual void hideFileInfo(bool /*animation*/) = 0;
    // The play button moved (below a message about the file, or back to the middle): whatever
    // gave it way may take its place again.
    virtual void playButtonMoved() = 0;

    // ---- Main window controller ----
    virtual int64_t showMode() const = 0;
    virtual void setShowMode(int64_t) = 0;
    virtual void registEquivalentResponder(NavToolbarController *, bool /*regist*/) = 0;
    // The pointer's current location in the toolbar's window.
    virtual kpv::Point mouseLocationInWindow() const = 0;
    virtual bool doOpenFolder(const QString & /*folder*/, bool /*fromSandboxAccessTips*/) = 0;
    virtual void playFavoritesSlideshow() = 0;

    // ---- Settings ----
    virtual bool photoBinVisible() const = 0;
    virtual void setPhotoBinVisible(bool) = 0;
    virtual int64_t curShareType() const = 0;
    virtual bool loveTipsAlreadyShowed() const = 0;
    virtual void setLoveTipsAlreadyShowed(bool) = 0;
    virtual QString localizedString(const QString &key) const = 0;
    virtual bool fileExists(const QString &path) const = 0;
    virtual double mainScreenWidth() const = 0;

    // ---- Favourites and the favourites-bin button ----
    virtual qsizetype favoriteFileCount() const = 0;
    virtual bool isFavoriteFile(const QString &path) const = 0;
    // The last favourite's small thumbnail (or the default image) and its orientation angle.
    virtual QImage lastFavoriteThumb(int * /*angle*/) const = 0;
    virtual void setFavoriteBinThumb(const QImage &, int /*angle*/) = 0;
    virtual void setFavoriteBinPhotoCount(qsizetype) = 0;
    virtual void setFavoriteBinEnabled(bool) = 0;
    virtual void setFavoriteBinToolTip(const QString &) = 0;

    // ---- Photo bin ----
    virtual void showPhotoBinView(bool) = 0;
    virtual double photoBinItemWidth() const = 0;
    virtual qsizetype photoBinWholeVisibleItemCountOfCurPage() const = 0;
    virtual void resetPhotoBinFiles() = 0;

    // ---- Pop-up menus (0 edit, 1 share) ----
    virtual void showPopMenu(int /*type*/, kpv::Point /*locationInWindow*/, bool /*delay*/) = 0;
    virtual void hidePopMenu(int /*type*/, bool /*animation*/) = 0;
    // The main-menu action id of a share type (0 when none).
    virtual int mainActionTypeForShareType(int64_t) const = 0;

    // ---- Tips ----
    virtual void showSandboxAccessTipsView() = 0;
    virtual void hideSandboxAccessTipsView() = 0;
    virtual bool sandboxAccessTipsShowing() const = 0;
    virtual void showLoveIntroTipsView() = 0;
    virtual void hideLoveIntroTipsView() = 0;
    virtual bool loveIntroTipsShowing() const = 0;
};
