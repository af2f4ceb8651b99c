// The feedback form worked from the keyboard as the user works it: a paste longer than the message
// takes is cut to fit, the user is told so and of the limit, and what was typed before stays; a
// key typed at the limit is told too.
#include "Share/FeedbackWindowController.h"

#include "Kit/LMNormalCustomWindow.h"
#include "appkit/Application.h"
#include "appkit/Event.h"
#include "appkit/Pasteboard.h"
#include "desktop/FakeDesktopServices.h"
#include "foundation/Bundle.h"

#include <gtest/gtest.h>

TEST(FeedbackForm, APasteOverTheLimitIsCutWithAWordAndKeepsWhatWasTyped)
{
    kpv::FakeDesktopServices desktop;
    FeedbackWindowController form(desktop, "Kestrane Photo Viewer", "0.1.0");
    form.beginSheetOnParentWindow(nullptr);
    auto key = [&](unsigned short code, const QString& chars, std::uint64_t flags = 0) {
        kpv::Application::shared().sendEvent(
            kpv::Event::keyEvent(kpv::KeyDown, code, chars, chars, form.feedbackWindow(), flags));
    };
    for (const QChar c : QStringLiteral("Hi. "))
        key(kpv::KeyCode::A, QString(c));
    kpv::Pasteboard::generalPasteboard().writeString(QString(6000, QChar('p')));
    key(kpv::KeyCode::V, "v", kpv::CommandKeyMask);
    const QString message = form.messageTextView()->string();
    EXPECT_EQ(message.size(), 5000);
    EXPECT_EQ(message, "Hi. " + QString(4996, QChar('p'))) << "what was typed before the paste stays";
    const kpv::Bundle& bundle = kpv::Bundle::mainBundle();
    EXPECT_EQ(form.statusText(), bundle.localizedStringWithFormat("IDS_FeedbackPasteShortened_Fmt", qlonglong(5000)));

    // Once full, a paste takes nothing and says so; Undo takes the cut paste back whole.
    key(kpv::KeyCode::V, "v", kpv::CommandKeyMask);
    EXPECT_EQ(form.messageTextView()->string(), message);
    EXPECT_EQ(form.statusText(), bundle.localizedStringWithFormat("IDS_FeedbackPasteFull_Fmt", qlonglong(5000)));
    key(kpv::KeyCode::A, "x"); // so is a key typed
    EXPECT_EQ(form.messageTextView()->string(), message);
    EXPECT_EQ(form.statusText(), bundle.localizedStringWithFormat("IDS_FieldTypedFull_Fmt", qlonglong(5000)));
    key(kpv::KeyCode::Z, "z", kpv::CommandKeyMask);
    EXPECT_EQ(form.messageTextView()->string(), "Hi. ");
    EXPECT_TRUE(form.statusText().isEmpty());
    form.cancelButtonClicked();
}
