// The batch resize and convert sheets on the offscreen platform: a run writes beside the
// originals and never over an existing file, stores the settings and ends the sheet; bad input is
// refused with an alert; Cancel stops a run without a report unless a file had failed before it;
// a disk that fills up half-way is reported once after the sheet while every original and every
// file already there stays as it was; and what a new file lacks of its photo is told.

#include "Edit/BatchConvertWindowController.h"
#include "Edit/BatchRenameWindowController.h"
#include "Edit/BatchResizeWindowController.h"
#include "Edit/BatchToolSettings.h"
#include "Edit/EditPopUpButton.h"
#include "Edit/LMImageSaveParamView.h"
#include "edit_test_support.h"
#include "../../support/FaultInjection.h"
#include "../../support/PagesTiff.h"

#include "Kit/LMLengthLimitTextField.h"
#include "Kit/LMNormalCheckButton.h"
#include "Kit/LMNormalCustomButton.h"
#include "Kit/LMProgressBar.h"
#include "Model/MainConfig.h"
#include "appkit/Application.h"
#include "appkit/Control.h"
#include "appkit/Event.h"
#include "appkit/Window.h"
#include "appkit/GraphicsContext.h"
#include "appkit/Panels.h"
#include "appkit/Pasteboard.h"
#include "foundation/Bundle.h"
#include "foundation/FileNames.h"
#include "foundation/FileReplace.h"
#include "foundation/UserDefaults.h"
#include "imageio/ContentTypes.h"

#include <QApplication>
#include <QBuffer>
#include <QColorSpace>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QWidget>

#include <vector>

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <exiv2/exiv2.hpp>
#include <gtest/gtest.h>
#include <turbojpeg.h>

namespace {

class BatchSheets : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        QDir().mkpath(dir.filePath("src"));
    }
    std::shared_ptr<LMFileInfo> photo(const QString &name, QSize size, int orientation = 0)
    {
        const QString path = dir.filePath("src/" + name);
        EXPECT_TRUE(writeTestImage(path, size, Qt::darkGreen, orientation));
        auto info = std::make_shared<LMFileInfo>(LMPathString(path, false));
        info->setImgBaseInfo(editTestLoader().loadImgBaseInfo(info->filePath(), nullptr));
        return info;
    }
    template <class Sheet>
    void begin(Sheet &sheet, const BatchSheetController::FileInfoList &files)
    {
        sheet.setAlertPresenter([this](const QString &text, kpv::Window *, std::function<void()> done) {
            alerts << text;
            if (done)
                done();
        });
        sheet.beginSheetOnParentWindow(&parent, files, [this] { ++completed; });
        for (const auto &f : files)
            if (QFileInfo(f->filePath().path()).isFile())
                sums.insert(f->filePath().path(), fileChecksum(f->filePath().path()));
    }
    void finishRun(BatchSheetController &sheet)
    {
        for (int i = 0; i < 50 && !completed; ++i) {
            sheet.waitUntilWorkerFinished();
            QCoreApplication::processEvents();
        }
    }
    void expectOriginalsIntact()
    {
        for (auto it = sums.cbegin(); it != sums.cend(); ++it)
            EXPECT_EQ(fileChecksum(it.key()), it.value()) << it.key().toStdString();
    }
    QStringList outputs(const QString &folder) const { return QDir(folder).entryList(QDir::Files, QDir::Name); }

    QTemporaryDir dir;
    kpv::UserDefaults defaults{dir.filePath("settings.conf")};
    MainConfig config{defaults};
    kpv::Window parent{kpv::Rect(0, 0, 600, 400), 0};
    int completed = 0;
    QStringList alerts;
    QHash<QString, QByteArray> sums;
};

TEST_F(BatchSheets, ResizeWritesNewFilesBesideExistingOnesAndStoresTheSettings)
{
    const auto files = BatchSheetController::FileInfoList{photo("a.jpg", QSize(400, 300)), photo("b.png", QSize(300, 400))};
    const QString out = dir.filePath("out");
    QDir().mkpath(out);
    // A file of the first output name is already there: it is kept and the output takes another name.
    ASSERT_TRUE(writeTestImage(QDir(out).filePath("a.jpg"), QSize(8, 8), Qt::red));
    const QByteArray existing = fileChecksum(QDir(out).filePath("a.jpg"));

    BatchResizeWindowController sheet(&config, editTestLoader());
    begin(sheet, files);
    // The first classic size, 320 x 240, keeping the picture's proportions.
    sheet.popupBtnSizeFitInto()->chooseItemAtIndex(2);
    sheet.edtDestFolder()->setStringValue(out);
    EXPECT_EQ(sheet.txtOldFileName()->stringValue(), "a.jpg");
    // Names of the preview give up their middle, not their extension, when longer than the field.
    EXPECT_EQ(sheet.txtOldFileName()->lineBreakMode(), kpv::TextField::LineBreakByTruncatingMiddle);
    EXPECT_EQ(sheet.txtNewFileName()->lineBreakMode(), kpv::TextField::LineBreakByTruncatingMiddle);
    EXPECT_EQ(sheet.txtProgress()->stringValue(), "0/2");
    ASSERT_TRUE(sheet.btnRun()->isEnabled());
    sheet.resizeButtonClicked();
    EXPECT_TRUE(sheet.taskRunning());
    EXPECT_FALSE(sheet.popupBtnSizeFitInto()->isEnabled());
    EXPECT_FALSE(sheet.indicatorProgress()->isHidden());
    finishRun(sheet);
    ASSERT_EQ(completed, 1);
    EXPECT_TRUE(alerts.isEmpty());
    EXPECT_EQ(sheet.txtProgress()->stringValue(), "2/2");
    EXPECT_EQ(fileChecksum(QDir(out).filePath("a.jpg")), existing);
    EXPECT_EQ(outputs(out), QStringList({"a.jpg", "a_1.jpg", "b.png"}));
    EXPECT_EQ(storedImageSize(QDir(out).filePath("a_1.jpg")), QSize(320, 240));
    EXPECT_EQ(storedImageSize(QDir(out).filePath("b.png")), QSize(240, 320));
    expectOriginalsIntact();

    const QVariantMap stored = BatchToolSettings::loadResizeConfigInfo(&config);
    EXPECT_EQ(stored.value("ClassicSizeWidth").toInt(), 320);
    EXPECT_EQ(stored.value("DestFolderPath").toString(), out);
    // The next sheet starts where this one ended.
    BatchResizeWindowController next(&config, editTestLoader());
    EXPECT_EQ(next.popupBtnSizeFitInto()->indexOfSelectedItem(), 2);
    EXPECT_EQ(next.edtDestFolder()->stringValue(), out);
}

TEST_F(BatchSheets, ResizeRefusesBadInputWithAnAlertAndStoresNothing)
{
    const auto files = BatchSheetController::FileInfoList{photo("a.jpg", QSize(40, 30))};
    BatchResizeWindowController sheet(&config, editTestLoader());
    begin(sheet, files);
    // A custom percent above 500.
    sheet.popupBtnSizeFitInto()->chooseItemAtIndex(0);
    sheet.popupBtnSizeUnitType()->chooseItemAtIndex(1);
    sheet.edtCustomSizeWidth()->setStringValue("501");
    sheet.customSizeTextDidChange(true);
    EXPECT_EQ(sheet.edtCustomSizeHeight()->stringValue(), "501");
    sheet.edtDestFolder()->setStringValue(dir.filePath("out"));
    sheet.resizeButtonClicked();
    ASSERT_EQ(alerts.size(), 1);
    EXPECT_TRUE(alerts.front().contains("501"));
    EXPECT_FALSE(sheet.taskRunning());
    EXPECT_FALSE(config.batchResizeConfigInfo().contains("ClassicSizeType"));

    // A destination that is a file, not a folder.
    sheet.edtCustomSizeWidth()->setStringValue("50");
    sheet.customSizeTextDidChange(true);
    const QString notAFolder = dir.filePath("plain");
    QFile(notAFolder).open(QIODevice::WriteOnly);
    sheet.edtDestFolder()->setStringValue(notAFolder);
    sheet.resizeButtonClicked();
    ASSERT_EQ(alerts.size(), 2);
    EXPECT_EQ(alerts.back(), "\u201C" + notAFolder + "\u201D is a file, not a folder: the files cannot be saved there.");
    EXPECT_FALSE(sheet.taskRunning());

    // Closing while idle ends the sheet at once, without a report.
    sheet.closeWindow();
    EXPECT_EQ(completed, 1);
    EXPECT_EQ(alerts.size(), 2);
    expectOriginalsIntact();
}

// The custom size fields are greyed while a classic size is chosen: a click does not focus them
// and the keys do not reach them. With the custom entry they take the click and the keys.
TEST_F(BatchSheets, GreyedCustomSizeFieldsTakeNoInput)
{
    const auto files = BatchSheetController::FileInfoList{photo("a.jpg", QSize(40, 30))};
    BatchResizeWindowController sheet(&config, editTestLoader());
    begin(sheet, files);
    kpv::Window *w = sheet.window();
    // A click at the end of the field, then Backspace.
    auto clickAndErase = [&](LMLengthLimitTextField *field) {
        const kpv::Rect r = field->convertRectToView(field->bounds(), nullptr);
        kpv::Application::shared().sendEvent(kpv::Event::mouseEvent(kpv::LeftMouseDown, kpv::Point{r.maxX() - 2, r.midY()}, w));
        kpv::Application::shared().sendEvent(kpv::Event::mouseEvent(kpv::LeftMouseUp, kpv::Point{r.maxX() - 2, r.midY()}, w));
        w->sendEvent(kpv::Event::keyEvent(kpv::KeyDown, kpv::KeyCode::Delete, "\x7f", "\x7f", w));
    };
    sheet.popupBtnSizeFitInto()->chooseItemAtIndex(2);
    const QString width = sheet.edtCustomSizeWidth()->stringValue();
    clickAndErase(sheet.edtCustomSizeWidth());
    EXPECT_EQ(sheet.edtCustomSizeWidth()->stringValue(), width);
    EXPECT_NE(w->firstResponder(), sheet.edtCustomSizeWidth());

    sheet.popupBtnSizeFitInto()->chooseItemAtIndex(0);
    const QString custom = sheet.edtCustomSizeWidth()->stringValue();
    clickAndErase(sheet.edtCustomSizeWidth());
    EXPECT_EQ(w->firstResponder(), sheet.edtCustomSizeWidth());
    EXPECT_EQ(sheet.edtCustomSizeWidth()->stringValue(), custom.chopped(1));
    // Back to a classic size, the field gives up the focus: the keys no longer reach it.
    sheet.popupBtnSizeFitInto()->chooseItemAtIndex(2);
    EXPECT_NE(w->firstResponder(), sheet.edtCustomSizeWidth());
    sheet.closeWindow();
}

// Tab and Shift+Tab go from field to field in reading order, passing over greyed ones, and the
// field reached has its text selected, so typing replaces it.
TEST_F(BatchSheets, TabGoesFromFieldToField)
{
    const auto files = BatchSheetController::FileInfoList{photo("a.jpg", QSize(40, 30))};
    BatchResizeWindowController sheet(&config, editTestLoader());
    begin(sheet, files);
    kpv::Window *w = sheet.window();
    auto key = [&](unsigned short code, const QString &chars, std::uint64_t flags = 0) {
        w->sendEvent(kpv::Event::keyEvent(kpv::KeyDown, code, chars, chars, w, flags));
    };
    sheet.popupBtnSizeFitInto()->chooseItemAtIndex(0);
    ASSERT_TRUE(w->makeFirstResponder(sheet.edtCustomSizeWidth()));
    key(kpv::KeyCode::Tab, "\t");
    EXPECT_EQ(w->firstResponder(), sheet.edtCustomSizeHeight());
    key(kpv::KeyCode::A, "5");
    EXPECT_EQ(sheet.edtCustomSizeHeight()->stringValue(), "5");
    key(kpv::KeyCode::Tab, "\t", kpv::ShiftKeyMask);
    EXPECT_EQ(w->firstResponder(), sheet.edtCustomSizeWidth());

    // With a classic size the size fields and their unit are passed over: back from the
    // resolution field, the focus goes to the size menu above them.
    sheet.popupBtnSizeFitInto()->chooseItemAtIndex(2);
    ASSERT_TRUE(w->makeFirstResponder(sheet.edtDpi()));
    key(kpv::KeyCode::Tab, "\t", kpv::ShiftKeyMask);
    EXPECT_EQ(w->firstResponder(), sheet.popupBtnSizeFitInto());
    key(kpv::KeyCode::Tab, "\t");
    EXPECT_EQ(w->firstResponder(), sheet.edtDpi());
    sheet.closeWindow();
}

// Tab goes round every control of the sheet, buttons and menus among the fields, in the order
// they stand, and Shift+Tab back; the control reached shows it. Space on a check box ticks it,
// Return on the focused Cancel cancels instead of starting the run.
TEST_F(BatchSheets, TabReachesEveryControlAndTheFocusedOneIsPressed)
{
    const auto files = BatchSheetController::FileInfoList{photo("a.jpg", QSize(40, 30))};
    const QString out = dir.filePath("out");
    QDir().mkpath(out);
    BatchResizeWindowController sheet(&config, editTestLoader());
    begin(sheet, files);
    sheet.edtDestFolder()->setStringValue(out);
    kpv::Window *w = sheet.window();
    auto key = [&](unsigned short code, const QString &chars, std::uint64_t flags = 0) {
        kpv::Application::shared().sendEvent(kpv::Event::keyEvent(kpv::KeyDown, code, chars, chars, w, flags));
    };
    ASSERT_TRUE(w->makeFirstResponder(sheet.edtDestFolder()));
    QList<kpv::View *> forward{w->firstResponder()};
    for (int i = 0; i < 30; ++i) {
        key(kpv::KeyCode::Tab, "\t");
        if (w->firstResponder() == forward.first())
            break;
        forward << w->firstResponder();
    }
    ASSERT_EQ(w->firstResponder(), forward.first()) << "Tab never came round";
    for (kpv::View *v : std::initializer_list<kpv::View *>{sheet.btnBrowseFolder(), sheet.chkNotEnlarge(),
                                                          sheet.chkKeepAlpha(), sheet.popupBtnSizeFitInto(),
                                                          sheet.btnRun(), sheet.btnCancel(), sheet.edtDpi()})
        EXPECT_TRUE(forward.contains(v));
    // In the order they stand: the check boxes one under the other, Cancel beside the run button.
    EXPECT_LT(forward.indexOf(sheet.chkNotEnlarge()), forward.indexOf(sheet.chkKeepAlpha()));
    EXPECT_LT(forward.indexOf(sheet.btnCancel()), forward.indexOf(sheet.btnRun()));
    QList<kpv::View *> backward{w->firstResponder()};
    for (int i = 1; i < forward.size(); ++i) {
        key(kpv::KeyCode::Tab, "\t", kpv::ShiftKeyMask);
        backward.prepend(w->firstResponder());
    }
    backward.prepend(backward.takeLast());
    EXPECT_EQ(backward, forward);

    const auto tabTo = [&](kpv::View *v) {
        for (int i = 0; i < 30 && w->firstResponder() != v; ++i)
            key(kpv::KeyCode::Tab, "\t");
        return w->firstResponder() == v;
    };
    // The focus is shown: a ring stands round the check box while it has it.
    ASSERT_TRUE(tabTo(sheet.chkKeepAlpha()));
    const std::int64_t was = sheet.chkKeepAlpha()->state();
    key(kpv::KeyCode::Space, " ");
    EXPECT_NE(sheet.chkKeepAlpha()->state(), was);
    const QWidget *ring = sheet.chkKeepAlpha()->focusRing();
    ASSERT_NE(ring, nullptr);
    EXPECT_TRUE(ring->isVisible());
    key(kpv::KeyCode::Tab, "\t");
    EXPECT_FALSE(ring->isVisible());

    ASSERT_TRUE(tabTo(sheet.btnCancel()));
    key(kpv::KeyCode::Return, "\r");
    finishRun(sheet);
    EXPECT_TRUE(outputs(out).isEmpty()) << "Return on Cancel ran the resize";
    EXPECT_FALSE(w->isVisible());
}

// Opened, a sheet has the keyboard where the first Tab would put it, on its first control, and
// shows it with a ring.
TEST_F(BatchSheets, SheetsOpenWithTheFocusShownOnTheirFirstControl)
{
    const auto files = BatchSheetController::FileInfoList{photo("a.jpg", QSize(40, 30))};
    BatchResizeWindowController resize(&config, editTestLoader());
    begin(resize, files);
    EXPECT_EQ(resize.window()->firstResponder(), resize.popupBtnSizeFitInto());
    QCoreApplication::processEvents();
    const QWidget *ring = resize.popupBtnSizeFitInto()->focusRing();
    ASSERT_NE(ring, nullptr);
    EXPECT_TRUE(ring->isVisible());
    resize.closeWindow();

    BatchConvertWindowController convert(&config, editTestLoader());
    begin(convert, files);
    kpv::View *focus = convert.window()->firstResponder();
    ASSERT_NE(focus, nullptr);
    EXPECT_TRUE(focus->isDescendantOf(convert.saveParamView())) << "not on the format, the first control";
    convert.closeWindow();
}

// The sheets open with the focus on a menu; Return there runs the sheet as in any dialog rather
// than opening the menu, which Space opens.
TEST_F(BatchSheets, ReturnOnTheFocusedMenuRunsTheSheet)
{
    const auto files = BatchSheetController::FileInfoList{photo("a.jpg", QSize(40, 30))};
    const auto returnKey = [](kpv::Window *w) {
        kpv::Application::shared().sendEvent(kpv::Event::keyEvent(kpv::KeyDown, kpv::KeyCode::Return, "\r", "\r", w));
    };
    const QString converted = dir.filePath("converted");
    BatchConvertWindowController convert(&config, editTestLoader());
    convert.setWorkerPause([] {});
    begin(convert, files);
    convert.edtDestFolder()->setStringValue(converted);
    ASSERT_TRUE(convert.window()->firstResponder()->isDescendantOf(convert.saveParamView()));
    returnKey(convert.window());
    EXPECT_EQ(QApplication::activePopupWidget(), nullptr) << "Return opened the format menu";
    finishRun(convert);
    EXPECT_EQ(completed, 1);
    EXPECT_EQ(outputs(converted), QStringList({"a.jpg"}));

    const QString resized = dir.filePath("resized");
    BatchResizeWindowController resize(&config, editTestLoader());
    completed = 0;
    begin(resize, files);
    resize.edtDestFolder()->setStringValue(resized);
    kpv::Window *w = resize.window();
    ASSERT_EQ(w->firstResponder(), resize.popupBtnSizeFitInto());
    kpv::Application::shared().sendEvent(kpv::Event::keyEvent(kpv::KeyDown, kpv::KeyCode::Space, " ", " ", w));
    QWidget *menu = QApplication::activePopupWidget();
    ASSERT_NE(menu, nullptr) << "Space did not open the size menu";
    menu->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    returnKey(w);
    EXPECT_EQ(QApplication::activePopupWidget(), nullptr) << "Return opened the size menu";
    finishRun(resize);
    EXPECT_EQ(completed, 1);
    EXPECT_EQ(outputs(resized), QStringList({"a.jpg"}));
    expectOriginalsIntact();
}

TEST_F(BatchSheets, ResizeOnAFullDiskReportsTheFailuresAndKeepsEveryFile)
{
    // The small picture fits on the disk, the large one does not.
    const auto files = BatchSheetController::FileInfoList{photo("small.png", QSize(16, 16)), photo("large.png", QSize(600, 600))};
    const QString out = dir.filePath("out");
    QDir().mkpath(out);
    BatchResizeWindowController sheet(&config, editTestLoader());
    begin(sheet, files);
    sheet.popupBtnSizeFitInto()->chooseItemAtIndex(0);
    sheet.popupBtnSizeUnitType()->chooseItemAtIndex(1);
    sheet.edtCustomSizeWidth()->setStringValue("100");
    sheet.customSizeTextDidChange(true);
    sheet.edtDestFolder()->setStringValue(out);
    {
        DiskFullScope full(2048);
        sheet.resizeButtonClicked();
        finishRun(sheet);
    }
    ASSERT_EQ(completed, 1);
    ASSERT_EQ(alerts.size(), 1);
    EXPECT_TRUE(alerts.front().contains('1'));
    ASSERT_EQ(sheet.failedFilePaths().size(), 1);
    EXPECT_EQ(sheet.failedFilePaths().front(), files[1]->filePath());
    EXPECT_EQ(outputs(out), QStringList({"small.png"}));
    expectOriginalsIntact();
}

TEST_F(BatchSheets, ConvertWritesTheChosenFormatUprightAndCancelStopsWithoutAReport)
{
    // Stored as 40 x 20 and shown turned a quarter; a mirrored one too.
    const auto files = BatchSheetController::FileInfoList{photo("t.jpg", QSize(40, 20), 6), photo("m.jpg", QSize(40, 20), 5)};
    const QString out = dir.filePath("converted");
    BatchConvertWindowController sheet(&config, editTestLoader());
    sheet.setWorkerPause([] {});
    // First use: JPEG at 0.9.
    EXPECT_EQ(sheet.imageSaveParamController().saveType(), kpv::ContentTypes::kJpeg);
    EXPECT_EQ(sheet.saveParamView()->shownTab(), 1);
    begin(sheet, files);
    sheet.saveParamView()->popupFormat()->chooseItemAtIndex(2);  // PNG
    EXPECT_EQ(sheet.imageSaveParamController().saveType(), kpv::ContentTypes::kPng);
    EXPECT_EQ(sheet.saveParamView()->shownTab(), 0);
    sheet.edtDestFolder()->setStringValue(out);
    sheet.convertButtonClicked();
    finishRun(sheet);
    ASSERT_EQ(completed, 1);
    EXPECT_TRUE(alerts.isEmpty());
    EXPECT_EQ(outputs(out), QStringList({"m.png", "t.png"}));
    EXPECT_EQ(storedImageSize(QDir(out).filePath("t.png")), QSize(20, 40));
    EXPECT_EQ(storedImageSize(QDir(out).filePath("m.png")), QSize(20, 40));
    expectOriginalsIntact();
    EXPECT_EQ(BatchToolSettings::loadConvertConfigInfo(&config).value("FileTypeUTI").toString(), kpv::ContentTypes::kPng);

    // A second sheet starts with PNG; cancelled at once, it closes without a report.
    BatchConvertWindowController again(&config, editTestLoader());
    again.setWorkerPause([] {});
    EXPECT_EQ(again.imageSaveParamController().saveType(), kpv::ContentTypes::kPng);
    completed = 0;
    begin(again, files);
    again.edtDestFolder()->setStringValue(dir.filePath("other"));
    again.convertButtonClicked();
    again.closeWindow();
    EXPECT_TRUE(again.taskRunning());
    finishRun(again);
    EXPECT_EQ(completed, 1);
    EXPECT_TRUE(alerts.isEmpty());
    EXPECT_FALSE(again.taskRunning());
}

// Cancelled after a photo failed, the run still tells which one and why; the rest stay as they were.
TEST_F(BatchSheets, CancelAfterAFailureStillReportsIt)
{
    auto gone = photo("gone.jpg", QSize(40, 20));
    const auto files = BatchSheetController::FileInfoList{gone, photo("b.jpg", QSize(40, 20)), photo("c.jpg", QSize(40, 20))};
    ASSERT_TRUE(QFile::remove(gone->filePath().path()));
    BatchConvertWindowController sheet(&config, editTestLoader());
    sheet.setWorkerPause([] {});
    begin(sheet, files);
    sheet.edtDestFolder()->setStringValue(dir.filePath("out"));
    // The user cancels while the second photo is under way, after the first has failed.
    editTestTypes().onTypeAsked = [&sheet](const LMPathString &) { sheet.closeWindow(); };
    sheet.convertButtonClicked();
    finishRun(sheet);
    editTestTypes().onTypeAsked = nullptr;
    ASSERT_EQ(completed, 1);
    ASSERT_EQ(alerts.size(), 1);
    EXPECT_TRUE(alerts.front().contains("gone.jpg: it is no longer there")) << alerts.front().toStdString();
    EXPECT_TRUE(alerts.front().contains("unchanged")) << alerts.front().toStdString();
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("out/c.jpg")));
    expectOriginalsIntact();
}

// The tags and comments kept beside a photo go with it: into a copy made as it is, and into a
// converted one.
TEST_F(BatchSheets, ConvertedAndCopiedPhotosKeepTheirTags)
{
    const auto files = BatchSheetController::FileInfoList{photo("a.png", QSize(30, 20)), photo("b.jpg", QSize(30, 20))};
    for (const auto &f : files) {
        const QByteArray native = kpv::encodeFileName(f->filePath().path());
        if (::setxattr(native.constData(), "user.xdg.tags", "harbour", 7, 0) != 0)
            GTEST_SKIP() << "this file system keeps no extended attributes";
    }
    BatchConvertWindowController sheet(&config, editTestLoader());
    sheet.setWorkerPause([] {});
    begin(sheet, files);
    sheet.saveParamView()->popupFormat()->chooseItemAtIndex(2); // PNG: a.png is copied, b.jpg converted
    sheet.edtDestFolder()->setStringValue(dir.filePath("out"));
    sheet.convertButtonClicked();
    finishRun(sheet);
    EXPECT_TRUE(alerts.isEmpty());
    ASSERT_EQ(outputs(dir.filePath("out")), QStringList({"a.png", "b.png"}));
    for (const QString name : {"a.png", "b.png"}) {
        char tags[16] = {};
        const QByteArray out = kpv::encodeFileName(dir.filePath("out/" + name));
        EXPECT_EQ(::getxattr(out.constData(), "user.xdg.tags", tags, sizeof tags), 7) << name.toStdString();
        EXPECT_STREQ(tags, "harbour");
    }

    // A folder on a stick that stores no tags: both files are written there, and the report names
    // them with what they could not take along.
    kpv::setAttributeSetterForTesting([](int, const char *, const void *, size_t, int) {
        errno = EOPNOTSUPP;
        return -1;
    });
    completed = 0;
    BatchConvertWindowController stick(&config, editTestLoader());
    stick.setWorkerPause([] {});
    begin(stick, files);
    stick.saveParamView()->popupFormat()->chooseItemAtIndex(2);
    stick.edtDestFolder()->setStringValue(dir.filePath("stick"));
    stick.convertButtonClicked();
    finishRun(stick);
    kpv::setAttributeSetterForTesting(nullptr);
    EXPECT_EQ(outputs(dir.filePath("stick")), QStringList({"a.png", "b.png"}));
    EXPECT_TRUE(stick.failedFilePaths().isEmpty());
    ASSERT_EQ(alerts.size(), 1);
    for (const char *name : {"a.png", "b.jpg"})
        EXPECT_TRUE(alerts.front().contains(QString(name) + ": its tags and comments could not be kept there"))
            << alerts.front().toStdString();
    expectOriginalsIntact();
}

// A TIFF of several pages becomes a new file of its first page only: the run says so, by name,
// though nothing failed.
TEST_F(BatchSheets, ConvertTellsWhatANewFileLacks)
{
    const QString pages = dir.filePath("src/m.tif");
    ASSERT_TRUE(kpv::test::writePagesTiff(pages, 3));
    auto multi = std::make_shared<LMFileInfo>(LMPathString(pages, false));
    const auto files = BatchSheetController::FileInfoList{photo("a.png", QSize(30, 20)), multi};
    BatchConvertWindowController sheet(&config, editTestLoader());
    sheet.setWorkerPause([] {});
    begin(sheet, files);
    sheet.saveParamView()->popupFormat()->chooseItemAtIndex(3); // TIFF
    sheet.edtDestFolder()->setStringValue(dir.filePath("out"));
    sheet.convertButtonClicked();
    finishRun(sheet);
    EXPECT_EQ(outputs(dir.filePath("out")), QStringList({"a.tiff", "m.tiff"}));
    EXPECT_TRUE(sheet.failedFilePaths().isEmpty());
    ASSERT_EQ(alerts.size(), 1);
    EXPECT_TRUE(alerts.front().contains("m.tif: its new file lacks 2 of its 3 pages")) << alerts.front().toStdString();
    EXPECT_FALSE(alerts.front().contains("a.png")) << alerts.front().toStdString();
    expectOriginalsIntact();
}

// A BMP holds no metadata and no inks: the run names what each new file lacks after the fact,
// only what its photo had.
TEST_F(BatchSheets, ConvertToBmpTellsTheMetadataAndInksItDropped)
{
    auto camera = photo("a.jpg", QSize(30, 20));
    {
        auto meta = Exiv2::ImageFactory::open(QFile::encodeName(camera->filePath().path()).toStdString());
        meta->readMetadata();
        Exiv2::ExifData exif;
        exif["Exif.Image.Model"] = "Harbour 7";
        meta->setExifData(exif);
        Exiv2::XmpData xmp;
        xmp["Xmp.dc.subject"] = "fjord";
        meta->setXmpData(xmp);
        const QByteArray icc = QColorSpace(QColorSpace::SRgb).iccProfile();
        Exiv2::DataBuf profile(reinterpret_cast<const Exiv2::byte *>(icc.constData()), long(icc.size()));
        meta->setIccProfile(profile, false);
        meta->writeMetadata();
    }
    const QString inks = dir.filePath("src/c.jpg");
    {
        std::vector<unsigned char> cmyk(size_t(16) * 8 * 4, 0x30);
        tjhandle tj = tjInitCompress();
        unsigned char *out = nullptr;
        unsigned long size = 0;
        ASSERT_EQ(tjCompress2(tj, cmyk.data(), 16, 16 * 4, 8, TJPF_CMYK, &out, &size, TJSAMP_444, 90, 0), 0);
        QFile file(inks);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(reinterpret_cast<const char *>(out), qint64(size));
        tjFree(out);
        tjDestroy(tj);
    }
    const auto files = BatchSheetController::FileInfoList{
        camera, std::make_shared<LMFileInfo>(LMPathString(inks, false)), photo("plain.png", QSize(30, 20))};
    BatchConvertWindowController sheet(&config, editTestLoader());
    sheet.setWorkerPause([] {});
    begin(sheet, files);
    sheet.saveParamView()->popupFormat()->chooseItemAtIndex(4); // BMP
    sheet.edtDestFolder()->setStringValue(dir.filePath("out"));
    sheet.convertButtonClicked();
    finishRun(sheet);
    EXPECT_EQ(outputs(dir.filePath("out")), QStringList({"a.bmp", "c.bmp", "plain.bmp"}));
    EXPECT_TRUE(sheet.failedFilePaths().isEmpty());
    ASSERT_EQ(alerts.size(), 1);
    const QString report = alerts.front();
    EXPECT_TRUE(report.contains("a.jpg: its new file lacks its camera data (EXIF), its descriptions (XMP), its colour "
                                "profile (ICC)")) << report.toStdString();
    EXPECT_TRUE(report.contains("c.jpg: its new file lacks its CMYK colours (they were written as RGB)"))
        << report.toStdString();
    EXPECT_FALSE(report.contains("plain.png")) << report.toStdString();
    expectOriginalsIntact();
}

// An animated GIF and an animated WebP become new files of their first frame: the run says so.
TEST_F(BatchSheets, ConvertTellsAnAnimationIsLost)
{
    // GIF89a: a 1 x 1 screen and two frames, each with its graphic control (a delay) and one pixel.
    const QByteArray frame = QByteArray::fromHex("21f904000a000000" "2c000000000100010000" "0202440100");
    const QByteArray gif = "GIF89a" + QByteArray::fromHex("01000100800000" "000000ffffff") + frame + frame + ";";
    // WebP: an extended file with the animation flag whose two frames hold a still picture each.
    QByteArray still;
    QBuffer buffer(&still);
    ASSERT_TRUE(buffer.open(QIODevice::WriteOnly));
    if (!QImage(QSize(4, 4), QImage::Format_RGB32).save(&buffer, "webp"))
        GTEST_SKIP() << "no WebP writer here";
    const QByteArray picture = still.mid(12);
    auto le = [](quint32 v, int n) {
        QByteArray b;
        for (int i = 0; i < n; ++i)
            b += char((v >> (8 * i)) & 0xff);
        return b;
    };
    auto chunk = [&](const char *name, const QByteArray &body) { return name + le(body.size(), 4) + body + QByteArray(body.size() & 1, 0); };
    const QByteArray anmf = chunk("ANMF", le(0, 3) + le(0, 3) + le(3, 3) + le(3, 3) + le(100, 3) + char(0) + picture);
    const QByteArray form = "WEBP" + chunk("VP8X", char(0x02) + le(0, 3) + le(3, 3) + le(3, 3)) + chunk("ANIM", le(0, 4) + le(0, 2)) + anmf + anmf;
    QFile gifFile(dir.filePath("src/g.gif")), webpFile(dir.filePath("src/w.webp"));
    ASSERT_TRUE(gifFile.open(QIODevice::WriteOnly) && gifFile.write(gif) == gif.size());
    ASSERT_TRUE(webpFile.open(QIODevice::WriteOnly) && webpFile.write("RIFF" + le(form.size(), 4) + form) > 0);
    gifFile.close();
    webpFile.close();
    BatchSheetController::FileInfoList files{std::make_shared<LMFileInfo>(LMPathString(gifFile.fileName(), false)),
                                             std::make_shared<LMFileInfo>(LMPathString(webpFile.fileName(), false))};
    BatchConvertWindowController sheet(&config, editTestLoader());
    sheet.setWorkerPause([] {});
    begin(sheet, files);
    sheet.saveParamView()->popupFormat()->chooseItemAtIndex(2); // PNG
    sheet.edtDestFolder()->setStringValue(dir.filePath("out"));
    sheet.convertButtonClicked();
    finishRun(sheet);
    EXPECT_EQ(outputs(dir.filePath("out")), QStringList({"g.png", "w.png"}));
    ASSERT_EQ(alerts.size(), 1);
    for (const char *name : {"g.gif", "w.webp"})
        EXPECT_TRUE(alerts.front().contains(QString(name) + ": its new file lacks the animation")) << alerts.front().toStdString();
    expectOriginalsIntact();
}

// A GIF is copied as it is by a resize, so that its frames stay: the run says it kept its size
// rather than letting it pass for resized.
TEST_F(BatchSheets, ResizeTellsAGifKeptItsSize)
{
    // GIF89a: a 1 x 1 screen and two frames, each with its graphic control (a delay) and one pixel.
    const QByteArray frame = QByteArray::fromHex("21f904000a000000" "2c000000000100010000" "0202440100");
    const QByteArray gif = "GIF89a" + QByteArray::fromHex("01000100800000" "000000ffffff") + frame + frame + ";";
    QFile gifFile(dir.filePath("src/g.gif"));
    ASSERT_TRUE(gifFile.open(QIODevice::WriteOnly) && gifFile.write(gif) == gif.size());
    gifFile.close();
    const BatchSheetController::FileInfoList files{std::make_shared<LMFileInfo>(LMPathString(gifFile.fileName(), false)),
                                                   photo("a.jpg", QSize(40, 30))};
    BatchResizeWindowController sheet(&config, editTestLoader());
    begin(sheet, files);
    // 320 x 240, smaller photos enlarged.
    sheet.popupBtnSizeFitInto()->chooseItemAtIndex(2);
    if (sheet.chkNotEnlarge()->state() == kpv::OnState)
        sheet.notEnlargeCheckButtonClicked();
    const QString out = dir.filePath("out");
    sheet.edtDestFolder()->setStringValue(out);
    sheet.resizeButtonClicked();
    finishRun(sheet);
    EXPECT_EQ(outputs(out), QStringList({"a.jpg", "g.gif"}));
    EXPECT_EQ(fileChecksum(QDir(out).filePath("g.gif")), sums.value(gifFile.fileName()));
    EXPECT_EQ(storedImageSize(QDir(out).filePath("a.jpg")), QSize(320, 240));
    ASSERT_EQ(alerts.size(), 1);
    EXPECT_TRUE(alerts.front().contains("g.gif: copied as it is at 1 x 1 pixels")) << alerts.front().toStdString();
    EXPECT_FALSE(alerts.front().contains("a.jpg")) << alerts.front().toStdString();
    expectOriginalsIntact();
}

// A destination longer than its field shows its start and its last folder, shortened in the
// middle, until the field is edited: then the whole path is there to edit.
TEST_F(BatchSheets, LongDestinationShowsBothEnds)
{
    BatchConvertWindowController sheet(&config, editTestLoader());
    begin(sheet, {photo("a.png", QSize(30, 20))});
    const QString path = "/home/someone/" + QString(60, 'x') + "/Holidays/Converted";
    LMLengthLimitTextField *field = sheet.edtDestFolder();
    field->setStringValue(path);
    const QString shown = field->shownStringValue();
    EXPECT_TRUE(shown.startsWith("/home/")) << shown.toStdString();
    EXPECT_TRUE(shown.endsWith("/Converted")) << shown.toStdString();
    EXPECT_TRUE(shown.contains(QChar(0x2026)));
    ASSERT_TRUE(sheet.window()->makeFirstResponder(field));
    EXPECT_EQ(field->shownStringValue(), path);
    sheet.closeWindow();
}

// A destination typed as in a terminal: "~" is the home folder, and a relative path is refused
// with an alert instead of landing wherever the program was started.
TEST_F(BatchSheets, DestinationUnderHomeOrRelative)
{
    const auto files = BatchSheetController::FileInfoList{photo("a.png", QSize(30, 20))};
    const QByteArray oldHome = qgetenv("HOME");
    qputenv("HOME", QFile::encodeName(dir.filePath("home")));
    const QString oldCwd = QDir::currentPath();
    QDir().mkpath(dir.filePath("cwd"));
    QDir::setCurrent(dir.filePath("cwd"));

    BatchConvertWindowController relative(&config, editTestLoader());
    relative.setWorkerPause([] {});
    begin(relative, files);
    relative.edtDestFolder()->setStringValue("out");
    relative.convertButtonClicked();
    EXPECT_FALSE(relative.taskRunning());
    ASSERT_EQ(alerts.size(), 1);
    EXPECT_TRUE(alerts.front().contains("\"out\"")) << alerts.front().toStdString();
    EXPECT_TRUE(QDir(dir.filePath("cwd")).isEmpty());
    relative.closeWindow();

    completed = 0;
    BatchConvertWindowController home(&config, editTestLoader());
    home.setWorkerPause([] {});
    begin(home, files);
    home.edtDestFolder()->setStringValue("~/converted");
    home.convertButtonClicked();
    finishRun(home);
    EXPECT_EQ(home.edtDestFolder()->stringValue(), dir.filePath("home/converted"));
    EXPECT_EQ(outputs(dir.filePath("home/converted")), QStringList({"a.jpg"}));
    EXPECT_TRUE(QDir(dir.filePath("cwd")).isEmpty());

    QDir::setCurrent(oldCwd);
    qputenv("HOME", oldHome);
    expectOriginalsIntact();
}

TEST_F(BatchSheets, ConvertOnAFullDiskReportsEachFailureWithItsReasonAndKeepsEveryFile)
{
    // A pipe named like a photo among them: it is named as such, and never waited on.
    const QString pipe = dir.filePath("src/stuck.png");
    ASSERT_EQ(::mkfifo(QFile::encodeName(pipe).constData(), 0644), 0);
    const auto files = BatchSheetController::FileInfoList{photo("a.png", QSize(300, 300)),
                                                          std::make_shared<LMFileInfo>(LMPathString(pipe, false)),
                                                          photo("b.png", QSize(300, 300))};
    const QString out = dir.filePath("converted");
    QDir().mkpath(out);
    ASSERT_TRUE(writeTestImage(QDir(out).filePath("a.bmp"), QSize(4, 4), Qt::red));
    const QByteArray existing = fileChecksum(QDir(out).filePath("a.bmp"));
    BatchConvertWindowController sheet(&config, editTestLoader());
    sheet.setWorkerPause([] {});
    begin(sheet, files);
    sheet.saveParamView()->popupFormat()->chooseItemAtIndex(4);  // BMP: 270 KB a picture
    sheet.edtDestFolder()->setStringValue(out);
    {
        DiskFullScope full(4096);
        sheet.convertButtonClicked();
        finishRun(sheet);
    }
    ASSERT_EQ(completed, 1);
    ASSERT_EQ(alerts.size(), 1);
    // One alert for the run: how many, then each file by name with why, and that nothing was lost.
    const QString alert = alerts.front();
    EXPECT_TRUE(alert.startsWith("3 file(s) could not be converted.")) << alert.toStdString();
    EXPECT_TRUE(alert.contains("a.png: cannot write")) << alert.toStdString();
    EXPECT_TRUE(alert.contains("stuck.png: it is not a regular file")) << alert.toStdString();
    EXPECT_TRUE(alert.contains("b.png: cannot write")) << alert.toStdString();
    EXPECT_EQ(alert.count("the file is larger than this disk allows"), 2) << alert.toStdString();
    EXPECT_TRUE(alert.endsWith("The originals are unchanged.")) << alert.toStdString();
    // A limit on the size of a file stops no run: a smaller file would still fit.
    EXPECT_FALSE(sheet.failures().stoppedForRoom());
    EXPECT_EQ(outputs(out), QStringList({"a.bmp"}));
    EXPECT_EQ(fileChecksum(QDir(out).filePath("a.bmp")), existing);
    expectOriginalsIntact();
}

TEST_F(BatchSheets, ARunOntoADiskWithNoRoomLeftStopsAtTheFirstFileAndSaysSo)
{
    const QString out = dir.filePath("disk");
    QDir().mkpath(out);
    kpv::test::SmallTmpfs disk(out, 256);
    if (!disk.isMounted())
        GTEST_SKIP() << "no right to mount a tmpfs here; the file-size limit case covers a full disk";
    {
        QFile filler(QDir(out).filePath("filler"));
        ASSERT_TRUE(filler.open(QIODevice::WriteOnly));
        while (filler.write(QByteArray(4096, 'f')) == 4096 && filler.flush()) {
        }
    }
    const QByteArray fillerSum = fileChecksum(QDir(out).filePath("filler"));
    BatchSheetController::FileInfoList files;
    for (const char *name : {"a.png", "b.png", "c.png", "d.png"})
        files << photo(name, QSize(200, 200));
    for (bool resize : {false, true}) {
        SCOPED_TRACE(resize ? "resize" : "convert");
        alerts.clear();
        completed = 0;
        std::unique_ptr<BatchSheetController> sheet;
        if (resize) {
            auto r = std::make_unique<BatchResizeWindowController>(&config, editTestLoader());
            begin(*r, files);
            r->popupBtnSizeFitInto()->chooseItemAtIndex(0);
            r->popupBtnSizeUnitType()->chooseItemAtIndex(1);
            r->edtCustomSizeWidth()->setStringValue("90");
            r->customSizeTextDidChange(true);
            r->edtDestFolder()->setStringValue(out);
            r->resizeButtonClicked();
            sheet = std::move(r);
        } else {
            auto c = std::make_unique<BatchConvertWindowController>(&config, editTestLoader());
            c->setWorkerPause([] {});
            begin(*c, files);
            c->saveParamView()->popupFormat()->chooseItemAtIndex(4);  // BMP
            c->edtDestFolder()->setStringValue(out);
            c->convertButtonClicked();
            sheet = std::move(c);
        }
        finishRun(*sheet);
        ASSERT_EQ(completed, 1);
        ASSERT_EQ(alerts.size(), 1);
        const QString alert = alerts.front();
        EXPECT_TRUE(alert.contains("a.png: cannot write")) << alert.toStdString();
        EXPECT_TRUE(alert.contains("the disk is full")) << alert.toStdString();
        EXPECT_FALSE(alert.contains("b.png")) << alert.toStdString();
        EXPECT_TRUE(alert.contains("the run stopped there: 3 more file(s) were not tried")) << alert.toStdString();
        EXPECT_TRUE(alert.endsWith("The originals are unchanged.")) << alert.toStdString();
        ASSERT_EQ(sheet->failedFilePaths().size(), 1);
        // Nothing half-written stays on the disk, and what was there is as it was.
        EXPECT_EQ(QDir(out).entryList(QDir::Files | QDir::Hidden), QStringList({"filler"}));
        EXPECT_EQ(fileChecksum(QDir(out).filePath("filler")), fillerSum);
        expectOriginalsIntact();
    }
}

TEST_F(BatchSheets, ReadOnlyDestinationIsRefusedAndNothingIsWritten)
{
    const auto files = BatchSheetController::FileInfoList{photo("a.png", QSize(40, 30))};
    const QString out = dir.filePath("locked");
    QDir().mkpath(out);
    BatchConvertWindowController sheet(&config, editTestLoader());
    sheet.setWorkerPause([] {});
    begin(sheet, files);
    sheet.edtDestFolder()->setStringValue(out);
    {
        ReadOnlyFolderScope locked(out);
        if (!locked.isReadOnly())
            GTEST_SKIP() << "running as root where neither the mode bits nor the immutable flag refuse a write";
        sheet.convertButtonClicked();
    }
    ASSERT_EQ(alerts.size(), 1);
    // Told as the refusal it is, naming the folder.
    EXPECT_EQ(alerts.front(), "You have no permission to save the files in this folder.\n" + out);
    EXPECT_FALSE(sheet.taskRunning());
    EXPECT_TRUE(outputs(out).isEmpty());
    // Nothing was stored for a run that did not start.
    EXPECT_FALSE(config.batchConvertConfigInfo().contains("DestFolderPath"));
    expectOriginalsIntact();
    sheet.closeWindow();
    EXPECT_EQ(completed, 1);
}

// A paste a digit field refuses ("12ab34567890": letters, and more than its four digits) leaves
// the field as it was and is told below the fields, naming the rule; the note goes with the next
// change of that field. A letter typed there, and a name cut to its limit, are told the same way.
TEST_F(BatchSheets, ResizeFieldsTellAPasteTheyRefusedOrCut)
{
    BatchResizeWindowController sheet(&config, editTestLoader());
    begin(sheet, {photo("a.jpg", QSize(40, 30))});
    sheet.popupBtnSizeFitInto()->chooseItemAtIndex(0);
    sheet.window()->makeKeyWindow();
    auto paste = [&](LMLengthLimitTextField *field, const QString &text) {
        ASSERT_TRUE(sheet.window()->makeFirstResponder(field));
        field->editor().selectAll();
        kpv::Pasteboard::generalPasteboard().writeString(text);
        kpv::Application::shared().sendEvent(
            kpv::Event::keyEvent(kpv::KeyDown, kpv::KeyCode::V, "v", "v", sheet.window(), kpv::CommandKeyMask));
        QCoreApplication::processEvents();
    };
    const QString note = "Nothing was pasted: this field takes up to 4 digits.";
    const QString width = sheet.edtCustomSizeWidth()->stringValue();
    paste(sheet.edtCustomSizeWidth(), "12ab34567890");
    EXPECT_EQ(sheet.edtCustomSizeWidth()->stringValue(), width);
    EXPECT_EQ(sheet.txtNote()->stringValue(), note);
    EXPECT_GE(sheet.txtNote()->frame().width(), kpv::GraphicsContext::textWidth(note, sheet.txtNote()->font()));
    paste(sheet.edtCustomSizeWidth(), "640");
    EXPECT_EQ(sheet.edtCustomSizeWidth()->stringValue(), "640");
    EXPECT_EQ(sheet.txtNote()->stringValue(), "");

    paste(sheet.edtDpi(), "72 dpi");
    EXPECT_EQ(sheet.txtNote()->stringValue(), note);
    kpv::Application::shared().sendEvent(kpv::Event::keyEvent(kpv::KeyDown, kpv::KeyCode::A, "a", "a", sheet.window()));
    EXPECT_EQ(sheet.edtDpi()->stringValue(), "");
    EXPECT_EQ(sheet.txtNote()->stringValue(), "Only digits can be typed in this field.");
    paste(sheet.edtNewNameBase(), QString(40, QLatin1Char('x')));
    EXPECT_EQ(sheet.edtNewNameBase()->stringValue(), QString(32, QLatin1Char('x')));
    EXPECT_EQ(sheet.txtNote()->stringValue(), "The pasted text was cut to fit the limit of 32 characters.");
    sheet.closeWindow();
}

// A destination that cannot be made is told as what stands in the way, naming the folder (a name
// that is not UTF-8 shown as such), and nothing is made on the way.
TEST_F(BatchSheets, AnUnusableDestinationIsToldAsWhatItIs)
{
    BatchConvertWindowController sheet(&config, editTestLoader());
    sheet.setWorkerPause([] {});
    begin(sheet, {photo("a.png", QSize(30, 20))});
    const QString plain = dir.filePath(kpv::decodeFileName("caf\xe9"));
    const int fd = ::open(kpv::encodeFileName(plain).constData(), O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(fd, 0);
    ::close(fd);
    const QString shownDir = kpv::displayFileName(dir.path());
    // The name of 300 letters is shown shortened in its middle.
    const QString shownName = QString(32, 'n') + QChar(0x2026) + QString(12, 'n');
    const struct {
        QString dest, told;
    } rows[] = {
        {dir.filePath("out/" + QString(300, 'n') + "/photos"),
         "The folder \u201C" + shownDir + "/out/" + shownName + "/photos\u201D cannot be used: the name \u201C" +
             shownName + "\u201D is longer than a name may be (at most 255 bytes)."},
        {plain + "/photos", "The folder \u201C" + shownDir + "/caf\uFFFD/photos\u201D cannot be made: \u201Ccaf\uFFFD\u201D "
                            "on its way is a file, not a folder."},
    };
    for (const auto &row : rows) {
        alerts.clear();
        sheet.edtDestFolder()->setStringValue(row.dest);
        sheet.convertButtonClicked();
        EXPECT_FALSE(sheet.taskRunning());
        ASSERT_EQ(alerts.size(), 1);
        EXPECT_EQ(alerts.front(), row.told);
    }
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("out")));
    EXPECT_FALSE(config.batchConvertConfigInfo().contains("DestFolderPath"));
    sheet.closeWindow();
}

// A panel that answers at once with the folder it was given.
class ChoosingPanel : public kpv::OpenPanel {
public:
    explicit ChoosingPanel(QString folder) : m_folder(std::move(folder)) {}
    void beginSheetModalForWindow(kpv::Window *, std::function<void(long)> handler) override
    {
        m_urls = {m_folder};
        handler(kpv::ModalResponseOK);
    }

private:
    QString m_folder;
};

// Browse asks for a folder in words that say so, not as if a photo were to be opened, and the
// folder chosen becomes the destination.
class WatchedFolderPanel : public ChoosingPanel {
public:
    WatchedFolderPanel(QString folder, QString *title, QString *prompt)
        : ChoosingPanel(std::move(folder)), m_title(title), m_prompt(prompt) {}
    void beginSheetModalForWindow(kpv::Window *window, std::function<void(long)> handler) override
    {
        *m_title = SavePanel::m_title;
        *m_prompt = SavePanel::m_prompt;
        ChoosingPanel::beginSheetModalForWindow(window, std::move(handler));
    }

private:
    QString *m_title, *m_prompt;
};

TEST_F(BatchSheets, BrowseAsksForADestinationFolder)
{
    const QString chosen = dir.filePath("out");
    QDir().mkpath(chosen);
    BatchResizeWindowController sheet(&config, editTestLoader());
    begin(sheet, {photo("a.jpg", QSize(40, 30))});
    QString title, prompt;
    sheet.setFolderPanelFactory([&] { return std::make_unique<WatchedFolderPanel>(chosen, &title, &prompt); });
    sheet.browserButtonClicked();
    QCoreApplication::processEvents();
    EXPECT_EQ(title, "Choose the destination folder");
    EXPECT_EQ(prompt, "Choose");
    EXPECT_EQ(sheet.edtDestFolder()->stringValue(), chosen);
    EXPECT_TRUE(alerts.empty());
    sheet.closeWindow();
}

// A read-only volume and a full one are told as such, whether the folder is typed or chosen.
TEST_F(BatchSheets, ADestinationOnAReadOnlyOrFullVolumeIsToldAsSuch)
{
    const QString readOnly = dir.filePath("ro"), full = dir.filePath("full");
    QDir().mkpath(readOnly);
    QDir().mkpath(full);
    kpv::test::SmallTmpfs readOnlyDisk(readOnly, 64, MS_RDONLY);
    kpv::test::SmallTmpfs fullDisk(full, 64, 0, ",nr_inodes=1");
    if (!readOnlyDisk.isMounted() || !fullDisk.isMounted())
        GTEST_SKIP() << "no right to mount a tmpfs here";
    BatchConvertWindowController sheet(&config, editTestLoader());
    sheet.setWorkerPause([] {});
    begin(sheet, {photo("a.png", QSize(30, 20))});
    sheet.edtDestFolder()->setStringValue(full + "/new");
    sheet.convertButtonClicked();
    ASSERT_EQ(alerts.size(), 1);
    EXPECT_EQ(alerts.back(), "The folder \u201C" + full + "/new\u201D cannot be made: the disk is full.");
    sheet.edtDestFolder()->setStringValue(readOnly);
    sheet.convertButtonClicked();
    ASSERT_EQ(alerts.size(), 2);
    const QString told = "The folder \u201C" + readOnly + "\u201D is on a read-only volume: nothing can be saved there.";
    EXPECT_EQ(alerts.back(), told);
    EXPECT_FALSE(sheet.taskRunning());

    // Chosen in the panel: the field keeps what it had.
    sheet.edtDestFolder()->setStringValue(full);
    sheet.setFolderPanelFactory([&] { return std::make_unique<ChoosingPanel>(readOnly); });
    sheet.browserButtonClicked();
    QCoreApplication::processEvents();
    ASSERT_EQ(alerts.size(), 3);
    EXPECT_EQ(alerts.back(), told);
    EXPECT_EQ(sheet.edtDestFolder()->stringValue(), full);
    sheet.closeWindow();
}

// Every caption, check-box title and file name in the sheets shows whole: none is cut at its
// frame's edge, and none runs under the field beside it.
void collectTextFields(kpv::View *view, std::vector<kpv::TextField *> &out)
{
    for (kpv::View *child : view->subviews()) {
        if (auto *field = dynamic_cast<kpv::TextField *>(child))
            out.push_back(field);
        collectTextFields(child, out);
    }
}

TEST_F(BatchSheets, EveryTextOfTheSheetsShowsWhole)
{
    const auto files = BatchSheetController::FileInfoList{photo("a.jpg", QSize(40, 30))};
    BatchResizeWindowController resize(&config, editTestLoader());
    begin(resize, files);
    BatchConvertWindowController convert(&config, editTestLoader());
    // A destination longer than its field, whatever the home folder's length: both ends show.
    const QString longPath = QStringLiteral("/home/a-very-long-user-name-for-testing/Pictures/Holidays 2026/"
                                            "Norway and the fjords/Converted for the family");
    for (BatchSheetController *sheet : {static_cast<BatchSheetController *>(&resize), static_cast<BatchSheetController *>(&convert)}) {
        std::vector<kpv::TextField *> fields;
        collectTextFields(sheet->window()->contentView(), fields);
        ASSERT_FALSE(fields.empty());
        for (const QString &dest : {sheet->edtDestFolder()->stringValue(), longPath}) {
            sheet->edtDestFolder()->setStringValue(dest);
            for (kpv::TextField *field : fields) {
                if (field->stringValue().isEmpty() || field->isHidden())
                    continue;
                const QString shown = field->displayedStringValue();
                EXPECT_GE(field->frame().width() + 0.5, kpv::GraphicsContext::textWidth(shown, field->font()))
                    << shown.toStdString() << " is cut off";
                if (shown != field->stringValue()) {
                    EXPECT_EQ(field, sheet->edtDestFolder()) << shown.toStdString() << " is shortened";
                    const QStringList ends = shown.split(QChar(0x2026));
                    EXPECT_TRUE(ends.size() == 2 && field->stringValue().startsWith(ends[0]) &&
                                field->stringValue().endsWith(ends[1]) && !ends[0].isEmpty() && !ends[1].isEmpty())
                        << shown.toStdString() << " should keep both ends";
                }
            }
        }
        EXPECT_TRUE(sheet->edtDestFolder()->displayedStringValue() != longPath) << "the long path shows cut off";
        // The destination caption ends before its field starts.
        kpv::TextField *caption = nullptr;
        for (kpv::TextField *field : fields)
            if (field->superview() == sheet->edtDestFolder()->superview() && field != sheet->edtDestFolder() &&
                std::abs(field->frame().y() - sheet->edtDestFolder()->frame().y()) < 1 &&
                field->frame().x() < sheet->edtDestFolder()->frame().x())
                caption = field;
        ASSERT_NE(caption, nullptr);
        EXPECT_LE(caption->frame().x() + caption->attributedStringValueSize().width, sheet->edtDestFolder()->frame().x());
    }
}

// Each sheet says at its top which tool it is, inside the window.
TEST_F(BatchSheets, EachSheetHasItsTitleAtTheTopOnItsOwnPanel)
{
    BatchResizeWindowController resize(&config, editTestLoader());
    BatchConvertWindowController convert(&config, editTestLoader());
    BatchRenameWindowController rename(&config);
    const std::pair<BatchSheetController *, const char *> sheets[] = {
        {&resize, "IDS_BatchResize"}, {&convert, "IDS_BatchConvert"}, {&rename, "IDS_BatchRename"}};
    for (const auto &[sheet, key] : sheets) {
        const QString title = kpv::Bundle::mainBundle().localizedString(QString::fromLatin1(key));
        std::vector<kpv::TextField *> fields;
        kpv::View *content = sheet->window()->contentView();
        collectTextFields(content, fields);
        kpv::TextField *titleField = nullptr, *topmost = nullptr;
        for (kpv::TextField *field : fields) {
            if (field->stringValue() == title)
                titleField = field;
            if (!topmost || field->frame().maxY() > topmost->frame().maxY())
                topmost = field;
        }
        ASSERT_NE(titleField, nullptr) << key;
        EXPECT_EQ(titleField, topmost) << key;
        EXPECT_LE(titleField->frame().maxY(), content->bounds().height()) << key;
        // The sheet paints its own panel: beside the controls nothing is see-through.
        const QImage shot = content->renderToImage(1.0);
        for (const QPoint p : {QPoint(10, shot.height() / 2), QPoint(shot.width() / 2, shot.height() - 50)})
            EXPECT_GT(qAlpha(shot.pixel(p)), 200) << key << " at " << p.x() << "," << p.y();
    }
}

} // namespace
