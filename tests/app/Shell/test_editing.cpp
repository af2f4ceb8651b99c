// Editing as the program connects it: the Crop command of the viewer opens the crop page in the
// main window on the current file, the menu commands reach the crop controller (Crop shows the
// result, Save As writes through the panel with the format picker and brings the written file into
// the viewer), and Esc returns to the viewer; the Batch menu's commands open their sheets on the
// viewer's files. Timers run on the manual clock.

#include "Shell/MainWindow/AppDelegate.h"
#include "Shell/MainWindow/LMMainWindow.h"
#include "Shell/MainWindow/LMMainWndContentView.h"
#include "Shell/MainWindow/MainWndController.h"
#include "Shell/MainWindow/MainCommand.h"
#include "Shell/Modes/MainWndCropHost.h"
#include "Shell/Modes/MainWndEditSheets.h"
#include "Shell/Modes/MainWndMiniWindow.h"
#include "Shell/Modes/MainWndNavigateHost.h"
#include "Shell/Modes/NavigateViewMode.h"
#include "Shell/ViewChrome/MainWndPhotoBin.h"
#include "Shell/ViewChrome/NavigateToolbar.h"
#include "Shell/Program/ViewerProgram.h"

#include "Edit/BatchConvertWindowController.h"
#include "Edit/BatchRenameWindowController.h"
#include "Edit/BatchResizeWindowController.h"
#include "Edit/ImageSaveAsPanel.h"
#include "Browse/PhotoBinItemView.h"
#include "Browse/PhotoBinView.h"
#include "Kit/LMLengthLimitTextField.h"
#include "Kit/LMAreaTrackView.h"
#include "Kit/LMButton.h"
#include "Model/MainConfig.h"
#include "View/LMOpenGLView.h"
#include "View/NavigateController.h"
#include "appkit/Application.h"
#include "appkit/Event.h"
#include "appkit/Menu.h"
#include "appkit/Panels.h"
#include "foundation/Bundle.h"
#include "foundation/Clock.h"
#include "foundation/OperationQueue.h"
#include "foundation/RunLoop.h"
#include "foundation/UserDefaults.h"
#include "imageio/ContentTypes.h"
#include "imageio/ImageSource.h"
#include "ProgramTestSetup.h"

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QKeyEvent>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

// A save panel that answers at once with a chosen path (empty: cancelled), after the user's
// choices in the panel.
class AnsweringSavePanel final : public kpv::SavePanel {
public:
    AnsweringSavePanel(QString answer, std::function<void()> choices) : m_answer(std::move(answer)), m_choices(choices) {}
    void beginSheetModalForWindow(kpv::Window*, std::function<void(long)> handler) override
    {
        if (m_choices)
            m_choices();
        if (!m_answer.isEmpty())
            m_urls = QStringList{m_answer};
        handler(m_answer.isEmpty() ? 0 : 1);
    }

private:
    QString m_answer;
    std::function<void()> m_choices;
};

class Editing : public ProgramTest {
protected:
    void SetUp() override
    {
        ASSERT_NO_FATAL_FAILURE(ProgramTest::SetUp());
        QImage image(QSize(400, 200), QImage::Format_RGB32);
        image.fill(Qt::blue);
        ASSERT_TRUE(image.save(QDir(folder).filePath(QStringLiteral("p0.png"))));
        defaults = std::make_unique<kpv::UserDefaults>(scratch.filePath(QStringLiteral("defaults.json")));
        AppDelegate::Setup setup = programTestSetup(*defaults, scratch);
        delegate = std::make_unique<AppDelegate>(std::move(setup));
        // The viewer as the program assembles it, crop mode and the sheets included.
        program = std::make_unique<ViewerProgram>(*delegate);
        controller = &program->controller();
        viewer = &program->viewMode();
    }
    void TearDown() override
    {
        ImageSaveAsPanel::shared().setPanelFactory({});
        controller = nullptr;
        viewer = nullptr;
        program.reset();
        delegate.reset();
        kpv::RunLoop::main().runOnce();
        kpv::RunLoop::main().setClock(nullptr);
    }

    void settle(double seconds = 1.0) { settleProgram(*delegate, clock, seconds); }
    // Until the crop worker has answered.
    void waitForCrop()
    {
        for (int i = 0; i < 20 && crop() && crop()->inSaving(); ++i) {
            crop()->waitUntilSavesFinished();
            kpv::RunLoop::main().runOnce();
            QCoreApplication::processEvents();
        }
        ASSERT_FALSE(crop()->inSaving());
        settle(0.2);
    }

    CropViewController* crop() const
    {
        return dynamic_cast<CropViewController*>(controller->existingModeController(MainShowModeCrop));
    }

    void pressEscape()
    {
        kpv::Application::shared().sendEvent(kpv::Event::keyEvent(kpv::KeyDown, kpv::KeyCode::Escape,
                                                                  QStringLiteral("\x1b"), QStringLiteral("\x1b"),
                                                                  controller->window(), 0));
    }

    void openViewer()
    {
        delegate->applicationOpenFiles({folder});
        delegate->applicationDidFinishLaunching();
        settle(2.0);
        ASSERT_EQ(controller->showMode(), MainShowModeView);
    }

    std::unique_ptr<kpv::UserDefaults> defaults;
    std::unique_ptr<AppDelegate> delegate;
    std::unique_ptr<ViewerProgram> program;
    MainWndController* controller = nullptr;
    NavigateViewMode* viewer = nullptr;
};

TEST_F(Editing, CropCommandOpensTheCropPageAndEscapeReturns)
{
    ASSERT_NO_FATAL_FAILURE(openViewer());
    ASSERT_TRUE(controller->canDoAction(9));
    controller->performMenuAction(9);
    settle(0.1);
    ASSERT_EQ(controller->showMode(), MainShowModeCrop);
    ASSERT_TRUE(crop());
    // The mode fades in over the viewer.
    EXPECT_GT(crop()->view()->alphaValue(), 0.0);
    EXPECT_LT(crop()->view()->alphaValue(), 1.0);
    settle();
    EXPECT_DOUBLE_EQ(crop()->view()->alphaValue(), 1.0);
    // The page shows in the window's background, over the centred half of the picture.
    EXPECT_EQ(crop()->view()->superview(), controller->containerViewByShowMode(MainShowModeCrop));
    EXPECT_EQ(crop()->view()->frame().size, controller->containerViewByShowMode(MainShowModeCrop)->bounds().size);
    EXPECT_EQ(crop()->originalImageRawCropRect(), QRectF(100, 50, 200, 100));
    EXPECT_FALSE(crop()->cropTrackView()->cropTrackRect().isEmpty());
    EXPECT_FALSE(crop()->trackToolbar()->isHidden());

    // The menu asks the crop controller: rotate and select all on the crop page, no zoom there.
    EXPECT_TRUE(controller->canDoAction(10));
    EXPECT_TRUE(controller->canDoAction(14));
    EXPECT_FALSE(controller->canDoAction(32));
    EXPECT_FALSE(controller->canDoAction(16));
    controller->performMenuAction(10);
    EXPECT_EQ(crop()->originalImageRawCropRect(), QRectF(0, 0, 400, 200));

    // Crop shows the result page; its zoom commands are then offered.
    controller->performMenuAction(9);
    ASSERT_NO_FATAL_FAILURE(waitForCrop());
    ASSERT_TRUE(crop()->isCurCroppedImagePage());
    EXPECT_FALSE(controller->canDoAction(10));
    EXPECT_TRUE(controller->canDoAction(32));

    // Esc twice: the mode is left once and fades out; the second press is the viewer's.
    pressEscape();
    pressEscape();
    settle(0.1);
    EXPECT_EQ(controller->showMode(), MainShowModeView);
    EXPECT_EQ(crop()->view()->superview(), controller->containerViewByShowMode(MainShowModeCrop));
    EXPECT_LT(crop()->view()->alphaValue(), 1.0);
    settle();
    EXPECT_EQ(controller->showMode(), MainShowModeView);
    EXPECT_EQ(crop()->view()->superview(), nullptr);
    EXPECT_FALSE(viewer->imageView()->isHidden());
}

// Select All typed right behind the click on Crop, or behind the Return that chose Crop in the
// Edit menu, takes the whole picture: the key comes while the toolbar button still waits for its
// release, or while the closed menu still holds the keyboard, and was dropped there.
TEST_F(Editing, SelectAllTypedAtOnceAfterChoosingCropTakesTheWholePicture)
{
    ASSERT_NO_FATAL_FAILURE(openViewer());
    const QRectF whole(0, 0, 400, 200);
    auto ctrlA = [] { return new QKeyEvent(QEvent::KeyPress, Qt::Key_A, Qt::ControlModifier, QStringLiteral("\x01")); };
    auto leaveCrop = [&] {
        pressEscape();
        settle();
        ASSERT_EQ(controller->showMode(), MainShowModeView);
        // Another day on disk: the next visit starts from the centred half again.
        QFile file(QDir(folder).filePath(QStringLiteral("p0.png")));
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        file.setFileTime(QDateTime::currentDateTime().addDays(-1), QFileDevice::FileModificationTime);
    };

    // The toolbar's Crop button, pressed and released with Ctrl+A typed in between.
    kpv::View* bar = viewer->toolbar()->container();
    bar->setHidden(false);
    bar->setAlphaValue(1);
    QWidget* button = viewer->toolbar()->outlets().btnCrop->widget();
    ASSERT_NE(button, nullptr);
    const QPointF centre(button->width() / 2.0, button->height() / 2.0);
    QCoreApplication::postEvent(button, ctrlA());
    QCoreApplication::postEvent(button, new QMouseEvent(QEvent::MouseButtonRelease, centre, button->mapToGlobal(centre),
                                                        Qt::LeftButton, Qt::NoButton, Qt::NoModifier));
    QMouseEvent press(QEvent::MouseButtonPress, centre, button->mapToGlobal(centre), Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QCoreApplication::sendEvent(button, &press);
    settle(0.1);
    ASSERT_EQ(controller->showMode(), MainShowModeCrop);
    EXPECT_EQ(crop()->originalImageRawCropRect(), whole) << "the key typed with the click was lost";
    ASSERT_NO_FATAL_FAILURE(leaveCrop());

    // Crop chosen in the Edit menu with the keyboard: the menu closes, the command runs, and the
    // key typed meanwhile reaches the closed menu.
    auto* menuBar = controller->window()->widget()->findChild<QMenuBar*>();
    ASSERT_NE(menuBar, nullptr);
    QMenu* edit = nullptr;
    for (QAction* title : menuBar->actions())
        if (title->menu() && title->text().remove('&') == kpv::Bundle::mainBundle().localizedString("IDS_MENU_Edit"))
            edit = title->menu();
    ASSERT_NE(edit, nullptr);
    edit->popup(QPoint(0, 0));
    QCoreApplication::processEvents();
    QAction* cropItem = nullptr;
    for (QAction* item : edit->actions())
        if (item->text().remove('&') == kpv::Bundle::mainBundle().localizedString("IDS_MENU_Crop"))
            cropItem = item;
    ASSERT_NE(cropItem, nullptr);
    edit->hide();
    cropItem->trigger();
    ASSERT_EQ(controller->showMode(), MainShowModeCrop);
    EXPECT_NE(crop()->originalImageRawCropRect(), whole);
    std::unique_ptr<QKeyEvent> key(ctrlA());
    QCoreApplication::sendEvent(edit, key.get());
    settle(0.1);
    EXPECT_EQ(crop()->originalImageRawCropRect(), whole) << "the key typed as the menu closed was lost";
}

TEST_F(Editing, SaveAsWritesTheCropInTheChosenFormatAndShowsIt)
{
    ASSERT_NO_FATAL_FAILURE(openViewer());
    const QString out = scratch.filePath(QStringLiteral("cut"));
    // The user picks TIFF in the format picker and types a name without an extension.
    ImageSaveAsPanel::shared().setPanelFactory([out] {
        return std::make_unique<AnsweringSavePanel>(out, [] {
            // The panel started with the source's format.
            EXPECT_EQ(ImageSaveAsPanel::shared().picker().saveType(), kpv::ContentTypes::kPng);
            ImageSaveAsPanel::shared().picker().setSaveType(kpv::ContentTypes::kTiff);
        });
    });
    controller->performMenuAction(9);
    settle();
    ASSERT_EQ(controller->showMode(), MainShowModeCrop);
    controller->performMenuAction(4);
    ASSERT_NO_FATAL_FAILURE(waitForCrop());
    const QString written = scratch.filePath(QStringLiteral("cut.tiff"));
    EXPECT_FALSE(QFile::exists(out));
    auto source = kpv::ImageSource::createWithFile(written);
    ASSERT_TRUE(source);
    EXPECT_EQ(source->createImageAtIndex(0).size(), QSize(200, 100));
    // Back in the viewer, on the written file.
    settle();
    EXPECT_EQ(controller->showMode(), MainShowModeView);
    EXPECT_EQ(viewer->controller().curFilePath().path(), written);
}

// Another program renames the photo crop mode shows, then removes it: the title follows the new
// name, but when the viewer behind steps on, the window goes on naming the photo on screen until
// crop mode ends, then names the viewer's.
TEST_F(Editing, TheTitleNamesThePhotoCropShowsWhenAnotherProgramRenamesOrRemovesIt)
{
    QImage second(QSize(300, 200), QImage::Format_RGB32);
    second.fill(Qt::green);
    ASSERT_TRUE(second.save(QDir(folder).filePath(QStringLiteral("p1.png"))));
    ASSERT_NO_FATAL_FAILURE(openViewer());
    const NavigateController& nav = viewer->controller();
    ASSERT_EQ(nav.fileCount(), 2);
    EXPECT_EQ(controller->window()->title(), QStringLiteral("p0.png (1/2)"));
    controller->performMenuAction(9);
    settle();
    ASSERT_EQ(controller->showMode(), MainShowModeCrop);

    const QString renamed = QDir(folder).filePath(QStringLiteral("p0r.png"));
    ASSERT_TRUE(QFile::rename(QDir(folder).filePath(QStringLiteral("p0.png")), renamed));
    for (int i = 0; i < 100 && nav.curFilePath().path() != renamed; ++i)
        settle(0.1);
    ASSERT_EQ(nav.curFilePath().path(), renamed);
    EXPECT_EQ(controller->window()->title(), QStringLiteral("p0r.png (1/2)"));

    ASSERT_TRUE(QFile::remove(renamed));
    for (int i = 0; i < 100 && nav.fileCount() != 1; ++i)
        settle(0.1);
    ASSERT_EQ(nav.fileCount(), 1);
    ASSERT_EQ(controller->showMode(), MainShowModeCrop);
    EXPECT_EQ(controller->window()->title(), QStringLiteral("p0r.png (1/2)"));

    pressEscape();
    settle();
    ASSERT_EQ(controller->showMode(), MainShowModeView);
    EXPECT_EQ(controller->window()->title(), QStringLiteral("p1.png"));
}

// The Batch menu: each command opens its sheet on the viewer's files; a resize run writes the
// files into the chosen folder, leaves the originals and ends the sheet; Esc closes an idle sheet.
TEST_F(Editing, BatchCommandsOpenTheirSheetsOnTheViewersFiles)
{
    ASSERT_NO_FATAL_FAILURE(openViewer());
    ASSERT_TRUE(controller->canDoAction(19));
    controller->performMenuAction(19);
    settle();
    BatchSheetController* sheet = MainWndEditSheets::activeBatchSheet();
    ASSERT_TRUE(dynamic_cast<BatchResizeWindowController*>(sheet));
    ASSERT_EQ(sheet->srcFileInfos().size(), 1);
    EXPECT_EQ(sheet->srcFileInfos().front()->filePath().path(), QDir(folder).filePath(QStringLiteral("p0.png")));
    EXPECT_TRUE(sheet->window()->sheetRunning());
    const QString out = scratch.filePath(QStringLiteral("resized"));
    sheet->edtDestFolder()->setStringValue(out);
    static_cast<BatchResizeWindowController*>(sheet)->resizeButtonClicked();
    for (int i = 0; i < 50 && MainWndEditSheets::activeBatchSheet(); ++i) {
        sheet->waitUntilWorkerFinished();
        settle(0.1);
    }
    EXPECT_FALSE(MainWndEditSheets::activeBatchSheet());
    EXPECT_TRUE(QFile::exists(QDir(out).filePath(QStringLiteral("p0.png"))));
    EXPECT_TRUE(QFile::exists(QDir(folder).filePath(QStringLiteral("p0.png"))));

    // Convert shares the menu item's action with resize: its own tag opens the convert sheet.
    const auto convertItem = controller->menuItemForAction(119);
    ASSERT_TRUE(convertItem);
    convertItem->performAction();
    settle();
    BatchSheetController* convert = MainWndEditSheets::activeBatchSheet();
    ASSERT_TRUE(dynamic_cast<BatchConvertWindowController*>(convert));
    convert->closeWindow();
    settle();
    EXPECT_FALSE(MainWndEditSheets::activeBatchSheet());

    ASSERT_TRUE(controller->canDoAction(18));
    controller->performMenuAction(18);
    settle();
    BatchRenameWindowController* rename = MainWndEditSheets::activeRenameSheet();
    ASSERT_TRUE(rename);
    rename->closeWindow();
    settle();
    EXPECT_FALSE(MainWndEditSheets::activeRenameSheet());
}

// Every command the table routes to crop mode that the mode enables, on either page, does
// something the user can see: the page, the rectangle, the preview's zoom or the mode changes, or
// a file is written.
TEST_F(Editing, EveryEnabledCropCommandHasAnEffect)
{
    ASSERT_NO_FATAL_FAILURE(openViewer());
    int saveCount = 0;
    ImageSaveAsPanel::shared().setPanelFactory([&] {
        return std::make_unique<AnsweringSavePanel>(scratch.filePath(QStringLiteral("saved-%1.png").arg(++saveCount)),
                                                    nullptr);
    });
    struct State {
        long mode = 0;
        bool resultPage = false;
        QRectF rect;
        double previewScale = 0;
        bool previewFitin = false;
        QStringList written;
        bool operator==(const State&) const = default;
    };
    auto state = [&] {
        State s;
        s.mode = controller->showMode();
        if (s.mode == MainShowModeCrop && crop()) {
            s.resultPage = crop()->isCurCroppedImagePage();
            s.rect = crop()->originalImageRawCropRect();
            s.previewScale = crop()->previewScale();
            s.previewFitin = crop()->previewFitinMode();
        }
        s.written = QDir(scratch.path()).entryList(QDir::Files) + QDir(scratch.filePath("tmp")).entryList(QDir::Files);
        return s;
    };
    int checked = 0;
    for (const MainCommand& command : MainWndController::commandTable()) {
        if (command.kind != MainCommandKind::Command || command.enabled || !(command.otherModes & MainShowModeCrop))
            continue;
        for (bool resultPage : {false, true}) {
            if (controller->showMode() != MainShowModeCrop) {
                controller->setShowMode(MainShowModeView);
                settle(0.2);
                controller->performMenuAction(9);
                settle(0.2);
            }
            ASSERT_EQ(controller->showMode(), MainShowModeCrop);
            if (crop()->isCurCroppedImagePage() != resultPage) {
                controller->performMenuAction(9);
                ASSERT_NO_FATAL_FAILURE(waitForCrop());
            }
            ASSERT_EQ(crop()->isCurCroppedImagePage(), resultPage);
            // A rectangle that a turn changes (the whole landscape picture) and that Select All
            // changes (a square inside it); a zoomed preview, so that Zoom to Fit and Actual Size
            // have something to do too.
            if (!resultPage) {
                crop()->selectAll();
                if (command.tag == 10)
                    crop()->doRotate();
            } else if (command.tag != 32) {
                crop()->doZoom(true);
                settle(2.0);  // a zoom step animates
            }
            if (!controller->canDoAction(command.tag))
                continue;
            SCOPED_TRACE(testing::Message() << "command " << command.tag << (resultPage ? " on the result page" : ""));
            const State before = state();
            controller->performMenuAction(command.tag);
            ASSERT_NO_FATAL_FAILURE(waitForCrop());
            settle(0.2);
            EXPECT_FALSE(state() == before);
            ++checked;
        }
    }
    // Save As, Copy, Crop, I Love It on both pages; Select All and the turns on the crop page;
    // the four zoom commands on the result page.
    EXPECT_GE(checked, 15);
}

// The mini window stands in for the main window, which is out of sight with its menu bar: the
// menus' keys work there too, as Ctrl+R turns the photo.
TEST_F(Editing, TheMenusKeysWorkInTheMiniWindow)
{
    ASSERT_NO_FATAL_FAILURE(openViewer());
    controller->switchToSimpleMode();
    settle();
    ASSERT_EQ(controller->showMode(), MainShowModeMiniWithImage);
    MainWndMiniController* mini = miniWindowControllerOf(*controller);
    ASSERT_TRUE(mini && mini->window());
    LMImageViewModel* view = mini->host().imageView();
    ASSERT_FALSE(view->angleRotate().isRotatedOrFlipped());
    kpv::Application::shared().sendEvent(kpv::Event::keyEvent(kpv::KeyDown, kpv::KeyCode::R, QStringLiteral("r"),
                                                              QStringLiteral("r"), mini->window(), kpv::CommandKeyMask));
    settle(2.0);
    EXPECT_TRUE(view->angleRotate().isRotatedOrFlipped());
}

// Loved photos renamed by the batch sheet keep their hearts in the photo bin under their new names,
// the one not being shown too, and the photo shown stays shown under its new name.
TEST_F(Editing, RenamedFavouritesKeepTheirHeartsInThePhotoBin)
{
    for (const char* name : {"p1.png", "p2.png"}) {
        QImage image(QSize(400, 200), QImage::Format_RGB32);
        image.fill(Qt::red);
        ASSERT_TRUE(image.save(QDir(folder).filePath(QString::fromLatin1(name))));
    }
    ASSERT_NO_FATAL_FAILURE(openViewer());
    NavigateController& nav = viewer->controller();
    controller->performMenuAction(11);
    nav.doNavCurFileToIndex(1, false, {});
    settle();
    controller->performMenuAction(11);
    settle();
    PhotoBinView* bin = viewer->photoBin().controller().photoBinView();
    auto loved = [&](std::uint64_t i) { return bin->cellAtIndex(i) && bin->cellAtIndex(i)->loved(); };
    ASSERT_TRUE(loved(0) && loved(1) && !loved(2));

    controller->performMenuAction(18);
    settle();
    BatchRenameWindowController* rename = MainWndEditSheets::activeRenameSheet();
    ASSERT_TRUE(rename);
    rename->setNewNameBaseText(QStringLiteral("Trip_"));
    rename->renameButtonClicked();
    rename->waitUntilWorkerFinished();
    settle();
    ASSERT_TRUE(QFile::exists(QDir(folder).filePath(QStringLiteral("Trip_1.png"))));
    EXPECT_EQ(nav.curFilePath().path(), QDir(folder).filePath(QStringLiteral("Trip_2.png")));
    EXPECT_TRUE(loved(0)) << "the loved photo not shown lost its heart";
    EXPECT_TRUE(loved(1));
    EXPECT_FALSE(loved(2));
}

}  // namespace
