#include "Share/FeedbackWindowController.h"

#include "Kit/LMButton.h"
#include "Kit/LMLengthLimitTextView.h"
#include "Kit/LMNormalCustomButton.h"
#include "Kit/LMNormalCustomWindow.h"
#include "appkit/Control.h"
#include "appkit/Event.h"
#include "desktop/DesktopServices.h"
#include "foundation/Bundle.h"

#include <QSysInfo>

namespace {
constexpr double kWidth = 480;
constexpr double kHeight = 320;
constexpr unsigned short kEscKeyCode = 53;
constexpr std::uint64_t kMaxMessageLength = 5000;

QString text(const char* key) { return kpv::Bundle::mainBundle().localizedString(QString::fromLatin1(key)); }
} // namespace

FeedbackWindowController::FeedbackWindowController(kpv::DesktopServices& desktop, QString appName, QString appVersion)
    : m_desktop(desktop), m_appName(std::move(appName)), m_appVersion(std::move(appVersion))
{
    loadWindow();
}

FeedbackWindowController::~FeedbackWindowController()
{
    if (m_txtMessage)
        m_txtMessage->setLengthLimitTextViewDelegate(nullptr);
    if (m_window) {
        m_window->setCustomWindowDelegate(nullptr);
        if (m_window->sheetRunning())
            m_window->endSheet();
    }
}

void FeedbackWindowController::loadWindow()
{
    m_window = std::make_unique<LMNormalCustomWindow>(kpv::Rect(0, 0, kWidth, kHeight));
    m_window->setCustomWindowDelegate(this);
    m_window->setMouseDownMoveable(true);
    kpv::View* content = m_window->contentView();
    m_txtTitle = new kpv::TextField(kpv::Rect(40, kHeight - 36, kWidth - 80, 24));
    m_txtTitle->setAlignment(Qt::AlignCenter);
    m_txtTitle->setTextColor(kpv::Color(230 / 255.0, 230 / 255.0, 230 / 255.0));
    m_txtTitle->setStringValue(text("IDS_Feedback"));
    content->addSubview(m_txtTitle);
    m_txtMessage = new LMPlaceholderTextView(kpv::Rect(20, 76, kWidth - 40, kHeight - 124));
    m_txtMessage->awakeFromNib();
    m_txtMessage->setAllowedMaxLength(kMaxMessageLength, false);
    m_txtMessage->setPlaceholderString(text("IDS_FeedbackPlaceholder"));
    m_txtMessage->setLengthLimitTextViewDelegate(this);
    content->addSubview(m_txtMessage);
    m_txtStatus = new kpv::TextField(kpv::Rect(20, 48, kWidth - 40, 22));
    m_txtStatus->setTextColor(kpv::Color(1.0, 0.62, 0.35));
    content->addSubview(m_txtStatus);
    m_btnSend = new LMNormalCustomButton(kpv::Rect(kWidth - 20 - 100, 12, 100, 28));
    m_btnCancel = new LMNormalCustomButton(kpv::Rect(kWidth - 20 - 210, 12, 100, 28));
    m_btnSend->setTitle(text("IDS_Send"));
    m_btnCancel->setTitle(text("IDS_Cancel"));
    m_btnSend->setAction([this](kpv::View*) { sendButtonClicked(); });
    m_btnCancel->setAction([this](kpv::View*) { cancelButtonClicked(); });
    content->addSubview(m_btnSend);
    content->addSubview(m_btnCancel);
    if (m_window->btnClose())
        m_window->btnClose()->setAction([this](kpv::View*) { cancelButtonClicked(); });
}

void FeedbackWindowController::beginSheetOnParentWindow(kpv::Window* parent)
{
    if (m_window->sheetRunning())
        return;
    m_txtStatus->setStringValue(QString());
    if (parent) {
        m_window->beginSheet(parent, [](std::int64_t) {});
    } else {
        m_window->center();
        m_window->makeKeyAndOrderFront();
    }
    // What the user types first goes into the message.
    m_window->makeFirstResponder(m_txtMessage);
}

QString FeedbackWindowController::subject() const
{
    return kpv::Bundle::mainBundle().localizedStringWithFormat(QStringLiteral("IDS_FeedbackSubject_Fmt"), m_appName,
                                                               m_appVersion);
}

QString FeedbackWindowController::bodyForMessage(const QString& message) const
{
    return message.trimmed() + QStringLiteral("\n\n--\n%1 %2\n%3 (%4)\n")
                                   .arg(m_appName, m_appVersion, QSysInfo::prettyProductName(),
                                        QSysInfo::currentCpuArchitecture());
}

bool FeedbackWindowController::sendButtonClicked()
{
    const QString message = m_txtMessage->string();
    if (message.trimmed().isEmpty()) {
        m_txtStatus->setStringValue(text("IDS_FeedbackEmpty"));
        return false;
    }
    if (!m_desktop.composeMail(subject(), bodyForMessage(message), {})) {
        m_txtStatus->setStringValue(text("IDS_FeedbackNoMail"));
        return false;
    }
    m_txtMessage->setString(QString());
    m_txtStatus->setStringValue(QString());
    m_btnSend->normalizeRollState();
    endSheet();
    return true;
}

void FeedbackWindowController::cancelButtonClicked()
{
    m_btnCancel->normalizeRollState();
    endSheet();
}

QString FeedbackWindowController::statusText() const { return m_txtStatus->stringValue(); }

void FeedbackWindowController::endSheet()
{
    if (m_window->sheetRunning())
        m_window->endSheet();
    else
        m_window->close();
}

bool FeedbackWindowController::customWindow(LMCustomWindow*, const kpv::Event& keyDown)
{
    if (keyDown.keyCode() != kEscKeyCode)
        return false;
    endSheet();
    return true;
}

void FeedbackWindowController::didChangeTextForLengthLimitTextView(LMLengthLimitTextView*)
{
    m_txtStatus->setStringValue(QString());
}

void FeedbackWindowController::lengthLimitTextViewDidShortenPaste(LMLengthLimitTextView*, qint64, qint64 kept)
{
    m_txtStatus->setStringValue(kpv::Bundle::mainBundle().localizedStringWithFormat(
        QString::fromLatin1(kept > 0 ? "IDS_FeedbackPasteShortened_Fmt" : "IDS_FeedbackPasteFull_Fmt"),
        qlonglong(kMaxMessageLength)));
}

void FeedbackWindowController::lengthLimitTextViewDidRefuseTyping(LMLengthLimitTextView*)
{
    m_txtStatus->setStringValue(kpv::Bundle::mainBundle().localizedStringWithFormat(
        QStringLiteral("IDS_FieldTypedFull_Fmt"), qlonglong(kMaxMessageLength)));
}
