// The favourites mode as the program connects it: the window controller makes the favourites
// controller, whose grid and toolbar come into the window and go again with the mode, and whose
// slideshow plays in the window and returns to the favourites. Timers run on the manual clock.

#include "Shell/MainWindow/AppDelegate.h"
#include "Shell/MainWindow/LMMainWindow.h"
#include "Shell/MainWindow/LMMainWndContentView.h"
#include "Shell/MainWindow/MainWndController.h"
#include "Shell/Modes/MainWndEditSheets.h"
#include "Shell/Modes/MainWndFavoriteHost.h"
#include "Edit/BatchPopViewController.h"
#include "Edit/BatchResizeWindowController.h"
#include "Browse/FavImageBrowserView.h"
#include "Kit/LMIconTextButton.h"
#include "Kit/LMShadowTextFieldCell.h"
#include "Shell/Tips/FavoriteIntroTipsViewController.h"
#include "appkit/Application.h"
#include "appkit/Control.h"
#include "appkit/Event.h"
#include "appkit/PrintPanel.h"
#include "foundation/Bundle.h"
#include "Kit/LMNormalCustomWindow.h"
#include "Share/ShareWindowController.h"
#include "Share/ShareSelectWebsiteViewController.h"
#include "Kit/LMPopMenuView.h"
#include "Shell/MainWindow/MainWndSecondaryWindows.h"
#include "Shell/Modes/MainWndSlideshowHost.h"
#include "Shell/Modes/NavigateViewMode.h"

#include "Model/MainConfig.h"
#include "foundation/Clock.h"
#include "foundation/NotificationCenter.h"
#include "foundation/OperationQueue.h"
#include "foundation/RunLoop.h"
#include "foundation/UserDefaults.h"
#include "ProgramTestSetup.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QFontMetricsF>
#include <QImage>
#include <QPrinter>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <gtest/gtest.h>

namespace {

class FavoriteMode : public ProgramTest {
protected:
    void SetUp() override
    {
        ASSERT_NO_FATAL_FAILURE(ProgramTest::SetUp());
        for (int i = 0; i < 2; ++i) {
            QImage image(QSize(320, 240), QImage::Format_RGB32);
            image.fill(i ? Qt::yellow : Qt::cyan);
            ASSERT_TRUE(image.save(QDir(folder).filePath(QStringLiteral("f%1.png").arg(i))));
        }
        defaults = std::make_unique<kpv::UserDefaults>(scratch.filePath(QStringLiteral("defaults.json")));
        AppDelegate::Setup setup = programTestSetup(*defaults, scratch);
        delegate = std::make_unique<AppDelegate>(std::move(setup));
        controller = std::make_unique<MainWndController>(
            *delegate, std::make_unique<LMMainWindow>(kpv::Rect(0, 0, 800, 600)));
        registerSlideshowMode(*controller);
        registerFavoriteMode(*controller);
        viewer = std::make_unique<NavigateViewMode>(*delegate, *controller);
        controller->awakeFromNib();
        kpv::NotificationCenter::defaultCenter().addObserver(
            this, QStringLiteral("didChangeMainShowMode"), nullptr, [this](const kpv::Notification& n) {
                changes.push_back(QStringLiteral("%1>%2")
                                      .arg(n.userInfo.value(QStringLiteral("old")).toLongLong())
                                      .arg(n.userInfo.value(QStringLiteral("new")).toLongLong()));
            });
        delegate->applicationOpenFiles({folder});
        delegate->applicationDidFinishLaunching();
        settle(2.0);
    }
    void TearDown() override
    {
        kpv::NotificationCenter::defaultCenter().removeObserver(this);
        viewer.reset();
        controller.reset();
        delegate.reset();
        kpv::RunLoop::main().runOnce();
        kpv::RunLoop::main().setClock(nullptr);
    }

    void settle(double seconds = 1.0)
    {
        settleProgram(*delegate, clock, seconds, [this] {
            if (auto* s = dynamic_cast<SlideshowViewController*>(
                    controller->existingModeController(MainShowModeSlideshow)))
                s->waitForSlideLoads();
        });
    }

    FavoriteViewController* favorites() const
    {
        return dynamic_cast<FavoriteViewController*>(controller->existingModeController(MainShowModeFavorite));
    }

    // The content view's subviews that are on screen.
    std::vector<kpv::View*> shownSubviews() const
    {
        std::vector<kpv::View*> shown;
        for (kpv::View* v : controller->contentView()->subviews())
            if (!v->isHidden() && v->alphaValue() > 0.0)
                shown.push_back(v);
        return shown;
    }

    std::unique_ptr<kpv::UserDefaults> defaults;
    std::unique_ptr<AppDelegate> delegate;
    std::unique_ptr<MainWndController> controller;
    std::unique_ptr<NavigateViewMode> viewer;
    QStringList changes;
};

TEST_F(FavoriteMode, EnteringAndLeavingShowsAndHidesTheGrid)
{
    ASSERT_EQ(controller->showMode(), MainShowModeView);
    const std::vector<kpv::View*> before = shownSubviews();
    changes.clear();

    controller->setShowMode(MainShowModeFavorite);
    settle();
    EXPECT_EQ(controller->showMode(), MainShowModeFavorite);
    EXPECT_EQ(changes, QStringList({QStringLiteral("4>8")}));
    ASSERT_TRUE(favorites());
    // The grid and the toolbar came into the window.
    std::vector<kpv::View*> added;
    for (kpv::View* v : shownSubviews())
        if (std::find(before.begin(), before.end(), v) == before.end())
            added.push_back(v);
    EXPECT_GE(added.size(), 2u);

    controller->setShowMode(MainShowModeView);
    settle();
    EXPECT_EQ(controller->showMode(), MainShowModeView);
    EXPECT_EQ(changes, QStringList({QStringLiteral("4>8"), QStringLiteral("8>4")}));
    for (kpv::View* v : shownSubviews())
        EXPECT_EQ(std::find(added.begin(), added.end(), v), added.end()) << "a favourites view is still shown";
}

TEST_F(FavoriteMode, SlideshowOfFavouritesReturnsToFavourites)
{
    controller->setShowMode(MainShowModeFavorite);
    settle();
    ASSERT_TRUE(favorites());
    // The first visit shows the tip, which holds the commands back until it is closed.
    auto* connected = dynamic_cast<MainWndFavoriteController*>(favorites());
    ASSERT_TRUE(connected);
    ASSERT_TRUE(connected->host().introTips());
    EXPECT_TRUE(connected->host().introTips()->showStatus());
    EXPECT_TRUE(favorites()->curFavoriteIntroTipsShowStatus());
    connected->host().introTips()->closeButtonClicked();
    EXPECT_FALSE(favorites()->curFavoriteIntroTipsShowStatus());
    EXPECT_FALSE(connected->host().introTips()->showStatus());

    favorites()->addFovoriteFile(LMPathString(QDir(folder).filePath(QStringLiteral("f1.png")), false), nullptr, QImage());
    ASSERT_TRUE(favorites()->isFavoriteFile(LMPathString(QDir(folder).filePath(QStringLiteral("f1.png")), false)));
    changes.clear();

    controller->performMenuAction(39);
    settle();
    EXPECT_EQ(controller->showMode(), MainShowModeSlideshow);
    auto* slideshow = dynamic_cast<SlideshowViewController*>(controller->existingModeController(MainShowModeSlideshow));
    ASSERT_TRUE(slideshow);
    EXPECT_TRUE(slideshow->isPlaying());

    slideshow->endSlideshow();
    settle();
    EXPECT_EQ(controller->showMode(), MainShowModeFavorite);
    EXPECT_EQ(changes, QStringList({QStringLiteral("8>32"), QStringLiteral("32>8")}));
}

// From the keyboard the tip of a first visit goes as it does by its close button: Esc puts it away
// and the favourites stay, their commands free again.
TEST_F(FavoriteMode, EscPutsTheTipAwayAndFreesTheCommands)
{
    controller->setShowMode(MainShowModeFavorite);
    settle();
    ASSERT_TRUE(favorites());
    favorites()->addFovoriteFile(LMPathString(QDir(folder).filePath(QStringLiteral("f1.png")), false), nullptr, QImage());
    ASSERT_TRUE(favorites()->curFavoriteIntroTipsShowStatus());
    EXPECT_FALSE(controller->canDoAction(4)) << "Save As while the tip is up";

    const QString esc(QChar(0x1b));
    kpv::Application::shared().sendEvent(
        kpv::Event::keyEvent(kpv::KeyDown, kpv::KeyCode::Escape, esc, esc, controller->window()));
    settle();
    EXPECT_FALSE(favorites()->curFavoriteIntroTipsShowStatus());
    EXPECT_EQ(controller->showMode(), MainShowModeFavorite);
    EXPECT_TRUE(controller->canDoAction(4));
}

// The favourites hand their files to the share sheet of the main window; the share button shows
// the chosen target's image.
TEST_F(FavoriteMode, SharingFavouritesOpensTheShareSheet)
{
    controller->setShowMode(MainShowModeFavorite);
    settle();
    auto* connected = dynamic_cast<MainWndFavoriteController*>(favorites());
    ASSERT_TRUE(connected);
    const LMPathString file(QDir(folder).filePath(QStringLiteral("f1.png")), false);
    connected->host().shareFiles({FavoriteHandOff{file, nullptr, QImage(8, 8, QImage::Format_RGB32)}}, 2);
    ShareWindowController* sheet = controller->secondaryWindows().shareWindowController();
    ASSERT_TRUE(sheet);
    EXPECT_TRUE(sheet->shareWindow()->sheetRunning());
    EXPECT_EQ(sheet->websiteType(), 2);
    ASSERT_EQ(sheet->files().size(), 1);
    EXPECT_EQ(sheet->files().front()->filePath(), file);
    EXPECT_EQ(connected->host().shareButtonImageName(3), QStringLiteral("E_TWITTER"));
    sheet->cancelButtonClicked();
    EXPECT_FALSE(sheet->shareWindow()->sheetRunning());

    // The share button's pop-up lists the targets this desktop serves; choosing one shares the
    // selection there.
    connected->host().showPopMenu(1, kpv::Point{100, 100}, false);
    ShareSelectWebsiteViewController* popup = connected->host().shareSelectWebsiteViewController();
    ASSERT_TRUE(popup);
    EXPECT_EQ(popup->shareTypes(), QList<long>({1, 2, 3, 4, 33}));
    favorites()->addFovoriteFile(file, nullptr, QImage());
    // The first visit's tip holds the commands back until it is closed.
    if (connected->host().introTips() && connected->host().introTips()->showStatus())
        connected->host().introTips()->closeButtonClicked();
    ASSERT_TRUE(popup->popMenuView() && popup->popMenuView()->delegate());
    popup->popMenuView()->delegate()->popMenuViewItemClicked(popup->popMenuView(), QVariant::fromValue<qlonglong>(4), {});
    settle();
    EXPECT_TRUE(sheet->shareWindow()->sheetRunning());
    EXPECT_EQ(sheet->websiteType(), 4);
    sheet->cancelButtonClicked();
}

// The batch button's pop-up offers the three tools; choosing resize opens its sheet on the
// selected favourites (all of them when none is selected).
TEST_F(FavoriteMode, BatchPopUpOpensTheToolOnTheSelection)
{
    controller->setShowMode(MainShowModeFavorite);
    settle();
    auto* connected = dynamic_cast<MainWndFavoriteController*>(favorites());
    ASSERT_TRUE(connected);
    const LMPathString file(QDir(folder).filePath(QStringLiteral("f1.png")), false);
    favorites()->addFovoriteFile(file, nullptr, QImage());
    if (connected->host().introTips() && connected->host().introTips()->showStatus())
        connected->host().introTips()->closeButtonClicked();
    settle();

    connected->host().showPopMenu(0, kpv::Point{100, 100}, false);
    BatchPopViewController* popup = connected->host().batchPopViewController();
    ASSERT_TRUE(popup);
    EXPECT_EQ(popup->itemTypes(), QList<int>({BatchItemRename, BatchItemResize, BatchItemConvert}));
    ASSERT_TRUE(popup->popMenuView() && popup->popMenuView()->delegate());
    EXPECT_TRUE(popup->popMenuView()->delegate()->popMenuViewItemEnabled(popup->popMenuView(), BatchItemResize, {}));
    popup->popMenuView()->delegate()->popMenuViewItemClicked(popup->popMenuView(), BatchItemResize, {});
    settle();
    auto* sheet = dynamic_cast<BatchResizeWindowController*>(MainWndEditSheets::activeBatchSheet());
    ASSERT_TRUE(sheet);
    ASSERT_EQ(sheet->srcFileInfos().size(), 1);
    EXPECT_EQ(sheet->srcFileInfos().front()->filePath(), file);
    // The destination's browse button shows its icon at the left and its name in white beside it.
    LMIconTextButton* browse = sheet->btnBrowseFolder();
    ASSERT_TRUE(browse);
    EXPECT_EQ(browse->title(), kpv::Bundle::mainBundle().localizedString(QStringLiteral("IDS_Browse")));
    const QImage look = browse->renderToImage(1.0).convertToFormat(QImage::Format_ARGB32);
    EXPECT_EQ(browse->iconWidth(), 20);
    int whiteBesideIcon = 0;
    for (int y = 0; y < look.height(); ++y)
        for (int x = int(browse->iconWidth()) + 5; x < look.width(); ++x)
            whiteBesideIcon += qRed(look.pixel(x, y)) > 200 && qGreen(look.pixel(x, y)) > 200 && qAlpha(look.pixel(x, y)) > 200;
    EXPECT_GT(whiteBesideIcon, 10) << "no title beside the icon";
    EXPECT_LE(browse->frame().maxX(), sheet->btnBrowseFolder()->superview()->bounds().maxX());
    sheet->closeWindow();
    settle();
    EXPECT_FALSE(MainWndEditSheets::activeBatchSheet());
}

// The first visit's tip writes its text over the grid with a black shadow under it, wrapped into
// the lines its frame gives it.
TEST_F(FavoriteMode, TipTextStandsOnAShadowAndWraps)
{
    controller->setShowMode(MainShowModeFavorite);
    settle();
    auto* connected = dynamic_cast<MainWndFavoriteController*>(favorites());
    ASSERT_TRUE(connected && connected->host().introTips());
    ASSERT_TRUE(connected->host().introTips()->showStatus());
    kpv::TextField* text = connected->host().introTips()->txtTipsExitFavorite();
    ASSERT_TRUE(dynamic_cast<LMShadowTextFieldCell*>(text));
    const QImage shot = text->renderToImage(1.0).convertToFormat(QImage::Format_ARGB32);
    const double spacing = QFontMetricsF(text->font().toQFont()).lineSpacing();
    ASSERT_GE(shot.height(), int(2 * spacing) - 1) << "the tip's frame holds one line";
    int shadow = 0, bright = 0, brightBelowFirstLine = 0;
    for (int y = 0; y < shot.height(); ++y)
        for (int x = 0; x < shot.width(); ++x) {
            const QRgb p = shot.pixel(x, y);
            if (qAlpha(p) < 200)
                continue;
            if (qRed(p) < 40 && qGreen(p) < 40 && qBlue(p) < 40)
                ++shadow;
            if (qRed(p) > 180 && qGreen(p) > 180 && qBlue(p) > 180) {
                ++bright;
                brightBelowFirstLine += y >= spacing;
            }
        }
    EXPECT_GT(bright, 20);
    EXPECT_GT(shadow, 20) << "no shadow under the text";
    EXPECT_GT(brightBelowFirstLine, 5) << "the text did not wrap onto a second line";
    connected->host().introTips()->closeButtonClicked();
}

// A print panel that is confirmed at once, printing to a PDF file as "print to file" does.
class PdfPrintPanel : public kpv::PrintPanel {
public:
    PdfPrintPanel(QString path, QString* jobName) : m_path(std::move(path)), m_jobName(jobName) {}
    void beginSheetWithPrintInfo(kpv::Window*, std::function<void(long)> handler) override
    {
        QPrinter printer(QPrinter::ScreenResolution);
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(m_path);
        const bool printed = printableView() && printView(printer, *printableView());
        if (m_jobName)
            *m_jobName = printer.docName();
        handler(printed ? 1 : kPrintFailed);
    }

private:
    QString m_path;
    QString* m_jobName;
};

// Printing the selected favourites prints each on a page of its own, turned to suit it: a
// portrait photo on a portrait page, a landscape and a square one on landscape pages.
// Save As asks for the folder that takes the copies in words of its own: a panel titled and
// buttoned "Open" reads as if it opened a photo.
TEST_F(FavoriteMode, SaveAsAsksForTheFolderOfTheCopies)
{
    controller->setShowMode(MainShowModeFavorite);
    settle();
    ASSERT_TRUE(favorites());
    favorites()->hideFavoriteIntroTips();
    favorites()->addFovoriteFile(LMPathString(QDir(folder).filePath(QStringLiteral("f1.png")), false), nullptr, QImage());
    QString title;
    QStringList buttons;
    QTimer::singleShot(0, [&] {
        QWidget* panel = QApplication::activeModalWidget();
        ASSERT_TRUE(panel);
        title = panel->windowTitle();
        for (QPushButton* b : panel->findChildren<QPushButton*>())
            buttons << b->text();
        qobject_cast<QDialog*>(panel)->reject();
    });
    favorites()->doSaveAs();
    const kpv::Bundle& bundle = kpv::Bundle::mainBundle();
    EXPECT_TRUE(title.startsWith(bundle.localizedString(QStringLiteral("IDS_Tips_Browser")))) << title.toStdString();
    EXPECT_TRUE(buttons.contains(bundle.localizedString(QStringLiteral("IDS_Copy")))) << buttons.join(u',').toStdString();
}

TEST_F(FavoriteMode, PrintingPutsEachFavouriteOnAPageTurnedToSuitIt)
{
    const QString pdf = scratch.filePath(QStringLiteral("printed.pdf"));
    QString jobName;
    kpv::PrintPanel::setPanelFactory([pdf, &jobName] { return std::make_unique<PdfPrintPanel>(pdf, &jobName); });
    struct Restore {
        ~Restore() { kpv::PrintPanel::setPanelFactory({}); }
    } restore;
    for (const auto& [name, size] : {std::pair{QStringLiteral("tall.png"), QSize(200, 300)}, std::pair{QStringLiteral("square.png"), QSize(250, 250)}}) {
        QImage image(size, QImage::Format_RGB32);
        image.fill(Qt::magenta);
        ASSERT_TRUE(image.save(QDir(folder).filePath(name)));
    }
    controller->setShowMode(MainShowModeFavorite);
    settle();
    auto* connected = dynamic_cast<MainWndFavoriteController*>(favorites());
    ASSERT_TRUE(connected);
    if (connected->host().introTips() && connected->host().introTips()->showStatus())
        connected->host().introTips()->closeButtonClicked();
    for (const char* name : {"f0.png", "tall.png", "square.png"})
        favorites()->addFovoriteFile(LMPathString(QDir(folder).filePath(QString::fromLatin1(name)), false), nullptr, QImage());
    settle();
    favorites()->browser()->selectAll();
    controller->performMenuAction(5);
    settle();

    QFile f(pdf);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly)) << "nothing was printed";
    const QString text = QString::fromLatin1(f.readAll());
    const QRegularExpression box(QStringLiteral("/MediaBox\\s*\\[\\s*0\\s+0\\s+([0-9.]+)\\s+([0-9.]+)"));
    QList<bool> landscape;
    for (auto it = box.globalMatch(text); it.hasNext();) {
        const auto m = it.next();
        landscape << (m.captured(1).toDouble() > m.captured(2).toDouble());
    }
    EXPECT_EQ(landscape, QList<bool>({true, false, true}));
    // Each page carries its photo's own pixels.
    QStringList images;
    const QRegularExpression image(QStringLiteral("/Width\\s+([0-9]+)\\s*/Height\\s+([0-9]+)"));
    for (auto it = image.globalMatch(text); it.hasNext();) {
        const auto m = it.next();
        images << m.captured(1) + QLatin1Char('x') + m.captured(2);
    }
    for (const char* size : {"320x240", "200x300", "250x250"})
        EXPECT_TRUE(images.contains(QString::fromLatin1(size))) << size << " not printed: " << images.join(' ').toStdString();
    // Pictures enlarged onto the page carry their own colours, not the smear that compression
    // leaves around their edges once each pixel is large on paper.
    EXPECT_FALSE(text.contains(QStringLiteral("/DCTDecode")));
    // The job is named after the photos in the print queue and the PDF's title, not the program.
    EXPECT_EQ(jobName, "f0.png and 2 more");
    favorites()->browser()->setSelectionIndexes({1});
    controller->performMenuAction(5);
    settle();
    EXPECT_EQ(jobName, "tall.png");
}

// A grid taller than the window has a scroller at its right: its knob shows the part in sight,
// dragging the knob scrolls the grid, and scrolling the grid moves the knob.
TEST_F(FavoriteMode, ScrollerShowsAndScrollsTheGrid)
{
    for (int i = 0; i < 8; ++i) {
        QImage image(QSize(160, 120), QImage::Format_RGB32);
        image.fill(QColor::fromHsv(i * 40, 200, 200));
        ASSERT_TRUE(image.save(QDir(folder).filePath(QStringLiteral("s%1.png").arg(i))));
    }
    controller->setShowMode(MainShowModeFavorite);
    settle();
    auto* connected = dynamic_cast<MainWndFavoriteController*>(favorites());
    ASSERT_TRUE(connected);
    if (connected->host().introTips() && connected->host().introTips()->showStatus())
        connected->host().introTips()->closeButtonClicked();
    FavImageBrowserView* grid = favorites()->browser();
    kpv::Scroller* scroller = grid->verticalScroller();
    ASSERT_TRUE(scroller);
    favorites()->addFovoriteFile(LMPathString(QDir(folder).filePath(QStringLiteral("s0.png")), false), nullptr, QImage());
    settle();
    EXPECT_TRUE(scroller->isHiddenOrHasHiddenAncestor()) << "a grid in sight needs no scroller";

    for (int i = 1; i < 8; ++i)
        favorites()->addFovoriteFile(LMPathString(QDir(folder).filePath(QStringLiteral("s%1.png").arg(i)), false), nullptr, QImage());
    favorites()->updateThumbZoomValue(FavoriteViewController::kMaxThumbZoom, true);
    settle();
    ASSERT_FALSE(scroller->isHiddenOrHasHiddenAncestor());
    EXPECT_LT(scroller->knobProportion(), 0.5);
    EXPECT_EQ(scroller->frame().maxX(), grid->bounds().maxX());
    EXPECT_NE(scroller->renderToImage(1.0).pixel(scroller->bounds().width() / 2, 5), 0u) << "no knob drawn at the top";

    // The user drags the knob halfway down the track.
    const kpv::Rect knob = scroller->convertRectToView(scroller->rectForPart(kpv::ScrollerKnob), nullptr);
    const kpv::Point from{knob.midX(), knob.midY()};
    const double travel = scroller->bounds().height() - scroller->rectForPart(kpv::ScrollerKnob).height();
    const kpv::Point to{from.x, from.y - travel / 2};
    kpv::Window* window = controller->window();
    ASSERT_EQ(window->contentView()->hitTest(from), scroller) << "a press would not reach the scroller";
    kpv::Application& app = kpv::Application::shared();
    app.postEvent(kpv::Event::mouseEvent(kpv::LeftMouseDragged, to, window));
    app.postEvent(kpv::Event::mouseEvent(kpv::LeftMouseUp, to, window));
    app.sendEvent(kpv::Event::mouseEvent(kpv::LeftMouseDown, from, window));
    app.discardQueuedEvents();
    const double maxOffset = grid->layout().contentHeight() - grid->bounds().height();
    EXPECT_NEAR(grid->scrollOffset(), maxOffset / 2, maxOffset * 0.05);

    // Scrolling the grid by its keys moves the knob along.
    grid->scrollIndexToVisible(0);
    EXPECT_EQ(grid->scrollOffset(), 0);
    EXPECT_EQ(scroller->doubleValue(), 0);
}

}  // namespace
