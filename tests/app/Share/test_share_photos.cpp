// The photos of the share sheet worked from the keyboard: Tab reaches each thumbnail, which shows
// the focus ring; Space chooses its photo and Delete takes the photo out of the share, its
// description with it, while the descriptions of the others stay; the last photo stays.
#include "Share/ShareWindowController.h"

#include "Kit/LMImageView.h"
#include "Kit/LMNormalCustomWindow.h"
#include "Model/MainConfig.h"
#include "appkit/Application.h"
#include "appkit/Event.h"
#include "foundation/Bundle.h"
#include "foundation/UserDefaults.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <QWidget>
#include <gtest/gtest.h>

namespace {

TEST(SharePhotos, TabReachesEachPhotoWhereSpaceChoosesItAndDeleteTakesItOut)
{
    QTemporaryDir dir;
    kpv::UserDefaults defaults(dir.filePath("settings.conf"));
    MainConfig config(defaults);
    QList<ShareFileInfoPtr> files;
    for (const char* name : {"a.jpg", "b.jpg", "c.jpg"})
        files << std::make_shared<ShareFileInfo>(LMPathString(dir.filePath(name), false));
    ShareWindowController sheet(config);
    sheet.beginShareFiles(files, 1, nullptr);
    kpv::Window* w = sheet.shareWindow();
    auto key = [&](unsigned short code, const QString& chars, std::uint64_t flags = 0) {
        kpv::Application::shared().sendEvent(kpv::Event::keyEvent(kpv::KeyDown, code, chars, chars, w, flags));
    };
    key(kpv::KeyCode::A, "a");
    // From the description, Shift+Tab goes back to the last photo shown, which shows the ring.
    key(kpv::KeyCode::Tab, "\t", kpv::ShiftKeyMask);
    ASSERT_EQ(w->firstResponder(), sheet.thumbView(2));
    QCoreApplication::processEvents();
    const QWidget* ring = sheet.thumbView(2)->focusRing();
    ASSERT_NE(ring, nullptr);
    EXPECT_TRUE(ring->isVisible());
    key(kpv::KeyCode::Space, " ");
    EXPECT_EQ(sheet.curFileIndex(), 2);
    EXPECT_TRUE(sheet.descTextView()->string().isEmpty()) << "the third photo's own description";

    // Delete on the second photo takes b out; c stays the chosen one, a keeps its text.
    key(kpv::KeyCode::Tab, "\t", kpv::ShiftKeyMask);
    ASSERT_EQ(w->firstResponder(), sheet.thumbView(1));
    key(kpv::KeyCode::Delete, "\x7f");
    ASSERT_EQ(sheet.files().size(), 2);
    EXPECT_EQ(sheet.files()[1]->filePath().path(), dir.filePath("c.jpg"));
    EXPECT_EQ(sheet.curFileIndex(), 1);
    EXPECT_EQ(sheet.descriptionOfFile(0), "a");
    EXPECT_TRUE(sheet.thumbView(2)->isHidden());
    // Again: c goes, a is chosen with its text, and the focus stays in the row.
    key(kpv::KeyCode::Delete, "\x7f");
    ASSERT_EQ(sheet.files().size(), 1);
    EXPECT_EQ(sheet.curFileIndex(), 0);
    EXPECT_EQ(sheet.descTextView()->string(), "a");
    EXPECT_EQ(w->firstResponder(), sheet.thumbView(0));
    // The last photo stays, and the sheet says why.
    key(kpv::KeyCode::ForwardDelete, QString());
    EXPECT_EQ(sheet.files().size(), 1);
    EXPECT_EQ(sheet.messageText(), kpv::Bundle::mainBundle().localizedString("IDS_ShareKeepsOnePhoto"));
    sheet.cancelButtonClicked();
}

} // namespace
