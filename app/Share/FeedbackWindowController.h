#pragma once
// The feedback form: a sheet with a message box that hands the message to the desktop's mail
// program (subject with the product and version, the system below the text). An empty message is
// refused with a word; when no mail program starts, the sheet stays with the text kept. Main
// thread only.

#include "Kit/LMCustomWindowDelegate.h"
#include "Kit/LMLengthLimitTextView.h"

#include <QString>

#include <memory>

class LMNormalCustomButton;
class LMNormalCustomWindow;

namespace kpv {
class DesktopServices;
class TextField;
class Window;
}

class FeedbackWindowController : public LMCustomWindowDelegate, public LMLengthLimitTextViewDelegate {
public:
    // `desktop` must outlive the controller.
    FeedbackWindowController(kpv::DesktopServices& desktop, QString appName, QString appVersion);
    ~FeedbackWindowController() override;
    FeedbackWindowController(const FeedbackWindowController&) = delete;
    FeedbackWindowController& operator=(const FeedbackWindowController&) = delete;

    void beginSheetOnParentWindow(kpv::Window* parent);
    LMNormalCustomWindow* feedbackWindow() const { return m_window.get(); }
    LMPlaceholderTextView* messageTextView() const { return m_txtMessage; }

    QString subject() const;
    QString bodyForMessage(const QString& message) const;
    // True when the mail program took the message (the sheet then ends).
    bool sendButtonClicked();
    void cancelButtonClicked();
    QString statusText() const;
    bool customWindow(LMCustomWindow* window, const kpv::Event& keyDown) override;
    // Typing clears the word under the message box.
    void didChangeTextForLengthLimitTextView(LMLengthLimitTextView*) override;
    // A paste past the message's limit: the word under the box says what the limit is and that
    // the text pasted was cut (or, the message being full, not taken).
    void lengthLimitTextViewDidShortenPaste(LMLengthLimitTextView*, qint64 offered, qint64 kept) override;
    void lengthLimitTextViewDidRefuseTyping(LMLengthLimitTextView*) override;

private:
    void loadWindow();
    void endSheet();

    kpv::DesktopServices& m_desktop;
    QString m_appName;
    QString m_appVersion;
    std::unique_ptr<LMNormalCustomWindow> m_window;
    kpv::TextField* m_txtTitle = nullptr;
    LMPlaceholderTextView* m_txtMessage = nullptr;
    kpv::TextField* m_txtStatus = nullptr;
    LMNormalCustomButton* m_btnSend = nullptr;
    LMNormalCustomButton* m_btnCancel = nullptr;
};
