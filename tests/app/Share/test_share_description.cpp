// The share sheet's description box, typed into as the user types: it takes what the chosen site
// takes (a paste cut to fit it is told), a text left too long by a change of site can always be
// shortened, Return breaks the line where it is typed, and a text taller than the box scrolls so
// that the line typed is in sight.
#include "Share/ShareWindowController.h"

#include "Kit/LMNormalCustomWindow.h"
#include "Model/MainConfig.h"
#include "appkit/Event.h"
#include "appkit/Pasteboard.h"
#include "foundation/Bundle.h"
#include "foundation/UserDefaults.h"

#include <QFile>
#include <QFontMetricsF>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

void type(kpv::View& v, const QString& chars)
{
    v.keyDown(*kpv::Event::keyEvent(kpv::KeyDown, kpv::KeyCode::A, chars, chars, nullptr));
}

void backspace(kpv::View& v)
{
    v.keyDown(*kpv::Event::keyEvent(kpv::KeyDown, kpv::KeyCode::Delete, "\x7f", "\x7f", nullptr));
}

TEST(ShareDescription, TheBoxTakesWhatTheChosenSiteTakesAndAlwaysLetsATextShrink)
{
    QTemporaryDir dir;
    kpv::UserDefaults defaults(dir.filePath("settings.conf"));
    MainConfig config(defaults);
    const QString photo = dir.filePath("a.jpg");
    QFile f(photo);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.close();

    ShareWindowController sheet(config);
    sheet.beginShareFiles({std::make_shared<ShareFileInfo>(LMPathString(photo, false))}, 4, nullptr);
    ShareFileDescTextView* box = sheet.descTextView();
    ASSERT_NE(box, nullptr);

    // The site with no limit takes a description of any length.
    for (int i = 0; i < 300; ++i)
        type(*box, "a");
    EXPECT_EQ(box->string().size(), 300);
    EXPECT_EQ(sheet.lengthText(), "300");

    // The site of 117 characters: the text stays, nothing more is taken, and Backspace shortens it.
    sheet.selectWebsite(3);
    type(*box, "b");
    EXPECT_EQ(box->string().size(), 300);
    for (int i = 0; i < 183; ++i)
        backspace(*box);
    EXPECT_EQ(box->string().size(), 117);
    EXPECT_EQ(sheet.lengthText(), "117 / 117");
    type(*box, "c");
    EXPECT_EQ(box->string().size(), 117) << "the 118th character is refused";
    EXPECT_EQ(sheet.messageText(),
              kpv::Bundle::mainBundle().localizedStringWithFormat("IDS_ShareTypedFull_Fmt", qlonglong(117)));
    sheet.shareButtonClicked();
    EXPECT_TRUE(sheet.finished());

    // Back to a site of 255: typing goes on up to its limit.
    ShareWindowController again(config);
    again.beginShareFiles({std::make_shared<ShareFileInfo>(LMPathString(photo, false))}, 1, nullptr);
    for (int i = 0; i < 260; ++i)
        type(*again.descTextView(), "d");
    EXPECT_EQ(again.descTextView()->string().size(), 255);

    // A paste past the site's limit is cut to fit, and the sheet says so.
    ShareWindowController pasted(config);
    pasted.beginShareFiles({std::make_shared<ShareFileInfo>(LMPathString(photo, false))}, 3, nullptr);
    kpv::Pasteboard::generalPasteboard().writeString(QString(200, QChar('p')));
    pasted.descTextView()->keyDown(*kpv::Event::keyEvent(kpv::KeyDown, kpv::KeyCode::V, "v", "v", nullptr, kpv::CommandKeyMask));
    EXPECT_EQ(pasted.descTextView()->string().size(), 117);
    EXPECT_EQ(pasted.messageText(),
              kpv::Bundle::mainBundle().localizedStringWithFormat("IDS_SharePasteShortened_Fmt", qlonglong(117)));
}

TEST(ShareDescription, ReturnStartsANewLineOfTheDescription)
{
    QTemporaryDir dir;
    kpv::UserDefaults defaults(dir.filePath("settings.conf"));
    MainConfig config(defaults);
    ShareWindowController sheet(config);
    sheet.beginShareFiles({std::make_shared<ShareFileInfo>(LMPathString(dir.filePath("a.jpg"), false))}, 1, nullptr);
    ShareFileDescTextView* box = sheet.descTextView();
    type(*box, "ab");
    box->keyDown(*kpv::Event::keyEvent(kpv::KeyDown, kpv::KeyCode::Return, "\r", "\r", nullptr));
    type(*box, "cd");
    // A click at the start of the second line of the box puts the caret before "cd".
    const double lineHeight = QFontMetricsF(box->font().toQFont()).height();
    const kpv::Rect r = box->convertRectToView(box->bounds(), nullptr);
    const double y = box->isFlipped() ? r.y() + 1.5 * lineHeight : r.maxY() - 1.5 * lineHeight;
    box->mouseDown(*kpv::Event::mouseEvent(kpv::LeftMouseDown, {r.x() + 6, y}, sheet.shareWindow()));
    type(*box, "X");
    EXPECT_EQ(box->string(), "ab\nXcd");
    // Up from there goes to the first line, End to its end.
    box->keyDown(*kpv::Event::keyEvent(kpv::KeyDown, kpv::KeyCode::UpArrow, QString(), QString(), nullptr));
    box->keyDown(*kpv::Event::keyEvent(kpv::KeyDown, kpv::KeyCode::End, QString(), QString(), nullptr));
    type(*box, "Y");
    EXPECT_EQ(box->string(), "abY\nXcd");
}

TEST(ShareDescription, ALongDescriptionScrollsSoThatTheLineTypedIsInSight)
{
    QTemporaryDir dir;
    kpv::UserDefaults defaults(dir.filePath("settings.conf"));
    MainConfig config(defaults);
    ShareWindowController sheet(config);
    sheet.beginShareFiles({std::make_shared<ShareFileInfo>(LMPathString(dir.filePath("a.jpg"), false))}, 4, nullptr);
    ShareFileDescTextView* box = sheet.descTextView();
    // Twenty lines, far more than the box holds.
    for (int i = 0; i < 20; ++i) {
        type(*box, QString::number(i % 10));
        if (i < 19)
            box->keyDown(*kpv::Event::keyEvent(kpv::KeyDown, kpv::KeyCode::Return, "\r", "\r", nullptr));
    }
    // A click in the box's lowest line lands in the last lines typed, which are the ones shown.
    const kpv::Rect r = box->convertRectToView(box->bounds(), nullptr);
    const kpv::Point bottomLeft{r.x() + 8, box->isFlipped() ? r.maxY() - 4 : r.y() + 4};
    box->mouseDown(*kpv::Event::mouseEvent(kpv::LeftMouseDown, bottomLeft, sheet.shareWindow()));
    type(*box, "X");
    const QStringList lines = box->string().split('\n');
    ASSERT_EQ(lines.size(), 20);
    EXPECT_TRUE(lines.last().contains('X') || lines[18].contains('X')) << box->string().toStdString();
    // Ctrl+Home goes back to the first line, and a click at the top lands there again.
    box->keyDown(*kpv::Event::keyEvent(kpv::KeyDown, kpv::KeyCode::Home, QString(), QString(), nullptr,
                                       kpv::CommandKeyMask));
    const kpv::Point topLeft{r.x() + 8, box->isFlipped() ? r.y() + 4 : r.maxY() - 4};
    box->mouseDown(*kpv::Event::mouseEvent(kpv::LeftMouseDown, topLeft, sheet.shareWindow()));
    type(*box, "Y");
    EXPECT_TRUE(box->string().startsWith("Y0") || box->string().startsWith("0Y")) << box->string().toStdString();
}

} // namespace
