#include "Shell/Modes/MainWndEditSheets.h"

#include "Shell/MainWindow/AppDelegate.h"
#include "Shell/MainWindow/LMMainWindow.h"
#include "Shell/MainWindow/MainWndController.h"

#include "Edit/BatchConvertWindowController.h"
#include "Edit/BatchRenameWindowController.h"
#include "Edit/BatchResizeWindowController.h"
#include "Edit/ImageSaveAsPanel.h"
#include "Model/LMPerformSelectorWrapper.h"
#include "Model/PublicObject.h"

namespace MainWndEditSheets {
namespace {

// Keeps a sheet's controller until its completion has run; it goes on the next turn, since the
// completion is called from inside it.
BatchSheetController* g_activeBatchSheet = nullptr;
BatchRenameWindowController* g_activeRenameSheet = nullptr;

template <class Controller>
struct SheetHolder {
    std::unique_ptr<Controller> controller;
    void release(const std::shared_ptr<SheetHolder>& self)
    {
        if (g_activeBatchSheet == static_cast<void*>(controller.get()))
            g_activeBatchSheet = nullptr;
        if (g_activeRenameSheet == static_cast<void*>(controller.get()))
            g_activeRenameSheet = nullptr;
        auto keep = self;
        LMPerformSelectorWrapper().performWithBlock([keep] { keep->controller.reset(); }, 0);
    }
};

}  // namespace

void runSaveAsPanel(MainWndController& windowController, const QString& sourcePath, const QString& directory,
                    SavePanelDone done)
{
    ImageSaveAsPanel::shared().run(windowController.getCurWindow(), sourcePath, directory, std::move(done));
}

void beginBatchRename(MainWndController& windowController, const QList<LMPathString>& files, RenameDone done)
{
    if (files.isEmpty()) {
        if (done)
            done({});
        return;
    }
    auto holder = std::make_shared<SheetHolder<BatchRenameWindowController>>();
    holder->controller = std::make_unique<BatchRenameWindowController>(windowController.appDelegate().mainConfig());
    g_activeRenameSheet = holder->controller.get();
    holder->controller->beginSheetOnParentWindow(
        windowController.getCurWindow(), files,
        [holder, done](const std::optional<BatchRenameWorker::RenameMap>& renamed) {
            if (done)
                done(renamed.value_or(BatchRenameWorker::RenameMap()));
            holder->release(holder);
        });
}

void beginBatchResizeOrConvert(MainWndController& windowController, bool resize,
                               const QList<std::shared_ptr<LMFileInfo>>& files, std::function<void()> done)
{
    if (files.isEmpty()) {
        if (done)
            done();
        return;
    }
    MainConfig* config = windowController.appDelegate().mainConfig();
    const LMPhotoLoader& loader = *PublicObject::getPublicObject()->photoLoader();
    auto holder = std::make_shared<SheetHolder<BatchSheetController>>();
    if (resize)
        holder->controller = std::make_unique<BatchResizeWindowController>(config, loader);
    else
        holder->controller = std::make_unique<BatchConvertWindowController>(config, loader);
    g_activeBatchSheet = holder->controller.get();
    holder->controller->beginSheetOnParentWindow(windowController.getCurWindow(), files, [holder, done] {
        if (done)
            done();
        holder->release(holder);
    });
}

BatchSheetController* activeBatchSheet() { return g_activeBatchSheet; }

BatchRenameWindowController* activeRenameSheet() { return g_activeRenameSheet; }

}  // namespace MainWndEditSheets
