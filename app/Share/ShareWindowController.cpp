#include "Share/ShareWindowController.h"

#include "Kit/LMImageView.h"
#include "Kit/LMNormalCustomButton.h"
#include "Kit/LMNormalCustomWindow.h"
#include "Model/MainConfig.h"
#include "Share/ShareSelectWebsiteViewController.h"
#include "Model/ShareWebsiteType.h"
#include "appkit/Control.h"
#include "appkit/Event.h"
#include "appkit/Image.h"
#include "desktop/DesktopServices.h"
#include "foundation/Bundle.h"
#include "foundation/FileNames.h"

#include <QFileInfo>
#include <QFontMetricsF>

#include <algorithm>
#include <unistd.h>

namespace {
constexpr double kWidth = 620;
constexpr double kHeight = 430;
constexpr unsigned short kEscKeyCode = 53;
constexpr long kSites[4] = {ShareWebsiteTypeFacebook, ShareWebsiteTypeFlickr, ShareWebsiteTypeTwitter,
                            ShareWebsiteTypeTumblr};
const char* const kSiteNames[4] = {"Facebook", "Flickr", "Twitter", "Tumblr"};
const kpv::Color kTextColor(230 / 255.0, 230 / 255.0, 230 / 255.0);
const kpv::Color kWarnColor(1.0, 0.62, 0.35);

QString text(const char* key) { return kpv::Bundle::mainBundle().localizedString(QString::fromLatin1(key)); }

bool isSite(long type) { return type >= ShareWebsiteTypeFacebook && type <= ShareWebsiteTypeTumblr; }

std::uint64_t trimmedLength(const QString& s) { return std::uint64_t(s.trimmed().size()); }

// A thumbnail that selects its file when clicked. It has its place in the sheet's Tab loop, with
// the ring of the focus: there Space or Return selects its file and Delete or Backspace takes the
// file out of the share.
class ShareThumbView : public LMImageView {
public:
    ShareThumbView(const kpv::Rect& frame, std::function<void()> clicked, std::function<void()> removed)
        : LMImageView(frame), m_clicked(std::move(clicked)), m_removed(std::move(removed))
    {
    }
    void mouseDown(const kpv::Event&) override
    {
        if (m_clicked)
            m_clicked();
    }
    bool acceptsKeyFocus() const override { return true; }
    bool performKeyAction(const kpv::Event& e) override
    {
        if (e.type() != kpv::KeyDown ||
            (e.modifierFlags() & (kpv::CommandKeyMask | kpv::AlternateKeyMask | kpv::ControlKeyMask)))
            return false;
        switch (e.keyCode()) {
        case kpv::KeyCode::Space:
        case kpv::KeyCode::Return:
        case kpv::KeyCode::KeypadEnter:
            if (m_clicked && !e.isARepeat())
                m_clicked();
            return true;
        case kpv::KeyCode::Delete:
        case kpv::KeyCode::ForwardDelete:
            if (m_removed && !e.isARepeat())
                m_removed();
            return true;
        default:
            return false;
        }
    }

private:
    std::function<void()> m_clicked;
    std::function<void()> m_removed;
};

kpv::TextField* label(kpv::View* parent, const kpv::Rect& frame, int alignment = Qt::AlignLeft | Qt::AlignVCenter)
{
    auto* field = new kpv::TextField(frame);
    field->setTextColor(kTextColor);
    field->setAlignment(alignment);
    parent->addSubview(field);
    return field;
}
} // namespace

ShareWindowController::ShareWindowController(MainConfig& config) : m_config(config) { loadWindow(); }

ShareWindowController::~ShareWindowController()
{
    *m_alive = false;
    if (m_window) {
        m_window->setCustomWindowDelegate(nullptr);
        if (m_window->sheetRunning())
            m_window->endSheet();
    }
    if (m_descTextView) {
        m_descTextView->setShareFileDescDelegate(nullptr);
        m_descTextView->setLengthLimitTextViewDelegate(nullptr);
    }
}

void ShareWindowController::loadWindow()
{
    m_window = std::make_unique<LMNormalCustomWindow>(kpv::Rect(0, 0, kWidth, kHeight));
    m_window->setCustomWindowDelegate(this);
    kpv::View* content = m_window->contentView();
    m_txtTitle = label(content, kpv::Rect(40, kHeight - 36, kWidth - 80, 24), Qt::AlignCenter);

    const double siteWidth = 110;
    const double siteX = (kWidth - 4 * siteWidth) / 2;
    for (int i = 0; i < 4; ++i) {
        auto* button = new LMNormalCustomButton(kpv::Rect(siteX + i * siteWidth, kHeight - 74, siteWidth - 6, 28));
        button->setCareState(true);
        button->setTitle(QString::fromLatin1(kSiteNames[i]));
        button->setTitleColorForStateOn(kpv::Color::whiteColor());
        const long site = kSites[i];
        button->setAction([this, site](kpv::View*) { selectWebsite(site); });
        content->addSubview(button);
        m_siteButtons[i] = button;
    }
    m_txtSignIn = label(content, kpv::Rect(20, kHeight - 104, kWidth - 40, 22), Qt::AlignCenter);

    const double thumbSize = 84;
    const double thumbX = (kWidth - kMaxThumbs * (thumbSize + 14)) / 2;
    for (int i = 0; i < kMaxThumbs; ++i) {
        const double x = thumbX + i * (thumbSize + 14);
        auto* thumb = new ShareThumbView(kpv::Rect(x, 200, thumbSize, thumbSize), [this, i] { selectFile(i); },
                                         [this, i] { removeFile(i); });
        thumb->setImageScaling(3);
        content->addSubview(thumb);
        m_thumbViews[i] = thumb;
        m_thumbNames[i] = label(content, kpv::Rect(x - 6, 178, thumbSize + 12, 18), Qt::AlignCenter);
    }
    m_txtMoreFiles = label(content, kpv::Rect(20, 156, kWidth - 40, 18), Qt::AlignCenter);

    m_descTextView = new ShareFileDescTextView(kpv::Rect(20, 64, kWidth - 40, 88));
    m_descTextView->awakeFromNib();
    m_descTextView->setShareFileDescDelegate(this);
    m_descTextView->setLengthLimitTextViewDelegate(this);
    m_descTextView->setPlaceholderString(text("IDS_ShareDescPlaceholder"));
    content->addSubview(m_descTextView);
    m_txtLength = label(content, kpv::Rect(kWidth - 110, 40, 90, 20), Qt::AlignRight | Qt::AlignVCenter);
    m_txtMessage = label(content, kpv::Rect(20, 40, kWidth - 140, 20));
    m_txtMessage->setTextColor(kWarnColor);

    m_btnShare = new LMNormalCustomButton(kpv::Rect(kWidth - 20 - 100, 8, 100, 28));
    m_btnCancel = new LMNormalCustomButton(kpv::Rect(kWidth - 20 - 210, 8, 100, 28));
    m_btnShare->setAction([this](kpv::View*) { shareButtonClicked(); });
    m_btnCancel->setAction([this](kpv::View*) { cancelButtonClicked(); });
    content->addSubview(m_btnShare);
    content->addSubview(m_btnCancel);
    if (m_window->btnClose())
        m_window->btnClose()->setAction([this](kpv::View*) { cancelButtonClicked(); });
    m_window->setMouseDownMoveable(true);
}

void ShareWindowController::beginShareFiles(const QList<ShareFileInfoPtr>& files, long website, kpv::Window* parent)
{
    if (files.isEmpty() || !isSite(website) || m_window->sheetRunning())
        return;
    m_files = files;
    m_descriptions = QList<QString>(files.size());
    m_curFileIndex = 0;
    m_finished = false;
    m_tooLongShown = false;
    m_lastFileKeptShown = false;
    m_pasteCutShown = false;
    m_typingFullShown = false;
    m_websiteType = website;
    m_descTextView->setString(QString());
    layOutThumbs();
    updateUI();
    if (parent) {
        std::weak_ptr<bool> alive = m_alive;
        m_window->beginSheet(parent, [](std::int64_t) {});
    } else {
        m_window->center();
        m_window->makeKeyAndOrderFront();
    }
    m_window->makeFirstResponder(m_descTextView); // what the user types first is the description
}

void ShareWindowController::layOutThumbs()
{
    const QList<ShareFileInfoPtr>& files = m_files;
    // The thumbnails shown stand centred in their row.
    const int shownCount = int(std::min<qsizetype>(files.size(), kMaxThumbs));
    const double step = m_thumbViews[1]->frame().x() - m_thumbViews[0]->frame().x();
    const double rowX = (kWidth - shownCount * step + (step - m_thumbViews[0]->frame().width())) / 2;
    for (int i = 0; i < kMaxThumbs; ++i) {
        const bool shown = i < files.size();
        const kpv::Rect thumbFrame = m_thumbViews[i]->frame();
        m_thumbViews[i]->setFrameOrigin(kpv::Point{rowX + i * step, thumbFrame.y()});
        const kpv::Rect nameFrame = m_thumbNames[i]->frame();
        m_thumbNames[i]->setFrameOrigin(kpv::Point{rowX + i * step - 6, nameFrame.y()});
        m_thumbViews[i]->setHidden(!shown);
        m_thumbNames[i]->setHidden(!shown);
        if (!shown)
            continue;
        const ShareFileInfo& info = *files[i];
        // The raw thumbnail keeps the file's stored orientation: shown as the viewer shows the photo.
        const LMFileImgBaseInfoPtr base = info.imgBaseInfo();
        const QImage thumb = base && !info.rawThumb().isNull() ? LMImage::uprightImage(info.rawThumb(), *base)
                                                               : info.rawThumb();
        m_thumbViews[i]->setImage(thumb.isNull() ? nullptr : std::make_shared<kpv::Image>(thumb), 0);
        // A name wider than its thumbnail loses its middle, keeping its start and its extension.
        kpv::TextField* name = m_thumbNames[i];
        name->setStringValue(QFontMetricsF(name->font().toQFont())
                                 .elidedText(kpv::displayFileName(LMPathString::lastPathComponent(info.filePath().path())), Qt::ElideMiddle,
                                             name->bounds().width()));
    }
    const qsizetype more = files.size() - kMaxThumbs;
    m_txtMoreFiles->setStringValue(more > 0 ? kpv::Bundle::mainBundle().localizedStringWithFormat(
                                                  QStringLiteral("IDS_ShareMoreFiles_Fmt"), qlonglong(more))
                                            : QString());
}

bool ShareWindowController::shareFilesByEmail(const QList<ShareFileInfoPtr>& files, kpv::DesktopServices& desktop,
                                              QStringList* leftOut)
{
    QStringList attachments, missing;
    for (const ShareFileInfoPtr& info : files) {
        if (!info)
            continue;
        const QString path = info->filePath().path();
        // A file that is gone or unreadable is left out rather than handing the mail program a
        // broken attachment.
        // By the name's bytes: a name that is not UTF-8 is attached like any other.
        const QString absolute = path.startsWith(QLatin1Char('/')) ? path : QFileInfo(path).absoluteFilePath();
        if (kpv::pathStatus(absolute).isRegularFile &&
            ::access(kpv::encodeFileName(absolute).constData(), R_OK) == 0)
            attachments << absolute;
        else
            missing << absolute;
    }
    if (leftOut)
        *leftOut = missing;
    if (attachments.isEmpty())
        return false;
    return desktop.composeMail(QString(), QString(), attachments);
}

QString ShareWindowController::mailLeftOutMessage(const QStringList& leftOut)
{
    if (leftOut.isEmpty())
        return {};
    return kpv::Bundle::mainBundle().localizedStringWithFormat(QStringLiteral("IDS_ShareMailLeftOut"), long(leftOut.size())) +
           QLatin1Char('\n') + mailLeftOutNames(leftOut);
}

QString ShareWindowController::mailLeftOutNames(const QStringList& leftOut)
{
    QStringList names;
    for (const QString& path : leftOut)
        names << kpv::displayFileName(LMPathString::lastPathComponent(path));
    return names.join(QLatin1Char('\n'));
}

void ShareWindowController::selectWebsite(long website)
{
    if (!isSite(website) || m_finished)
        return;
    m_websiteType = website;
    m_tooLongShown = false;
    m_pasteCutShown = false;
    m_typingFullShown = false;
    m_config.setCurShareType(website);
    updateUI();
}

void ShareWindowController::selectFile(int index)
{
    if (index < 0 || index >= m_files.size() || index == m_curFileIndex)
        return;
    m_descriptions[m_curFileIndex] = m_descTextView->string();
    m_curFileIndex = index;
    m_pasteCutShown = false;
    m_typingFullShown = false;
    m_descTextView->setString(m_descriptions[index]);
    updateUI();
}

void ShareWindowController::removeFile(int index)
{
    if (index < 0 || index >= m_files.size() || m_finished)
        return;
    if (m_files.size() == 1) {
        // A share of nothing cannot be sent: the last photo stays, and the sheet says how to stop.
        m_lastFileKeptShown = true;
        updateUI();
        return;
    }
    m_descriptions[m_curFileIndex] = m_descTextView->string();
    m_files.removeAt(index);
    m_descriptions.removeAt(index);
    if (index < m_curFileIndex || m_curFileIndex >= m_files.size())
        --m_curFileIndex;
    m_descTextView->setString(m_descriptions[m_curFileIndex]);
    layOutThumbs();
    updateUI();
    // The focus stays in the row, on the photo that took the removed one's place.
    const int focus = std::min<int>(index, int(std::min<qsizetype>(m_files.size(), kMaxThumbs)) - 1);
    if (m_window->firstResponder() == m_thumbViews[index] && m_thumbViews[index]->isHidden())
        m_window->makeFirstResponder(m_thumbViews[focus]);
}

QString ShareWindowController::descriptionOfFile(int index) const
{
    if (index < 0 || index >= m_files.size())
        return {};
    return index == m_curFileIndex ? m_descTextView->string() : m_descriptions[index];
}

void ShareWindowController::setDescriptionOfCurFile(const QString& s)
{
    m_descTextView->setString(s);
    updateUI();
}

QString ShareWindowController::signedInUserName() const
{
    const auto info = m_config.shareAutoLoginInfoForWebsite(m_websiteType);
    return info ? info->userName() : QString();
}

QString ShareWindowController::signInStateText() const
{
    const auto info = m_config.shareAutoLoginInfoForWebsite(m_websiteType);
    const QString site = isSite(m_websiteType) ? QString::fromLatin1(kSiteNames[m_websiteType - 1]) : QString();
    const kpv::Bundle& bundle = kpv::Bundle::mainBundle();
    if (!info)
        return bundle.localizedStringWithFormat(QStringLiteral("IDS_ShareNotSignedIn_Fmt"), site);
    const QString name = info->userName();
    return name.isEmpty() ? bundle.localizedStringWithFormat(QStringLiteral("IDS_ShareSignedIn_Fmt"), site)
                          : bundle.localizedStringWithFormat(QStringLiteral("IDS_ShareSignedInAs_Fmt"), site, name);
}

QString ShareWindowController::lengthText() const
{
    const std::uint64_t limit = ShareFileDescTextView::maxFileDescLengthByWebsiteType(m_websiteType);
    const std::uint64_t cur = trimmedLength(m_descTextView->string());
    return limit == 0 ? QString::number(cur) : QStringLiteral("%1 / %2").arg(cur).arg(limit);
}

bool ShareWindowController::descriptionsFit() const
{
    const std::uint64_t limit = ShareFileDescTextView::maxFileDescLengthByWebsiteType(m_websiteType);
    if (limit == 0)
        return true;
    for (int i = 0; i < m_files.size(); ++i)
        if (trimmedLength(descriptionOfFile(i)) > limit)
            return false;
    return true;
}

QString ShareWindowController::messageText() const { return m_txtMessage->stringValue(); }

void ShareWindowController::shareButtonClicked()
{
    if (m_finished)
        return;
    if (!descriptionsFit()) {
        m_tooLongShown = true;
        updateUI();
        return;
    }
    // There is no upload service in this version: say so rather than pretend to send.
    m_finished = true;
    updateUI();
}

void ShareWindowController::cancelButtonClicked() { endSheet(); }

void ShareWindowController::endSheet()
{
    if (m_window->sheetRunning())
        m_window->endSheet();
    else
        m_window->close();
}

void ShareWindowController::ShareFileDescTextView_textChangedWithCurLength(ShareFileDescTextView*, std::uint64_t,
                                                                           std::uint64_t)
{
    m_lastFileKeptShown = false;
    m_pasteCutShown = false;
    m_typingFullShown = false;
    updateUI();
}

void ShareWindowController::lengthLimitTextViewDidShortenPaste(LMLengthLimitTextView*, qint64, qint64)
{
    m_pasteCutShown = true;
    m_typingFullShown = false;
    updateUI();
}

void ShareWindowController::lengthLimitTextViewDidRefuseTyping(LMLengthLimitTextView*)
{
    m_typingFullShown = true;
    m_pasteCutShown = false;
    updateUI();
}

bool ShareWindowController::customWindow(LMCustomWindow*, const kpv::Event& keyDown)
{
    if (keyDown.keyCode() != kEscKeyCode)
        return false;
    endSheet();
    return true;
}

void ShareWindowController::updateUI()
{
    m_txtTitle->setStringValue(ShareSelectWebsiteViewController::toolbarButtonToolTipsByShareType(m_websiteType));
    for (int i = 0; i < 4; ++i) {
        m_siteButtons[i]->setState(kSites[i] == m_websiteType ? 1 : 0);
        m_siteButtons[i]->setEnabled(!m_finished);
    }
    m_txtSignIn->setStringValue(signInStateText());
    for (int i = 0; i < kMaxThumbs && i < m_files.size(); ++i)
        m_thumbNames[i]->setTextColor(i == m_curFileIndex ? kpv::Color::whiteColor() : kpv::Color(0.6, 0.6, 0.6));
    m_descTextView->setEnabled(!m_finished);
    const std::uint64_t limit = ShareFileDescTextView::maxFileDescLengthByWebsiteType(m_websiteType);
    // The box takes what the chosen site takes: no more than its limit, and without one no cap.
    m_descTextView->setAllowedMaxLength(limit, true);
    m_txtLength->setStringValue(lengthText());
    const bool curTooLong = limit != 0 && trimmedLength(m_descTextView->string()) > limit;
    m_txtLength->setTextColor(curTooLong ? kWarnColor : kTextColor);
    QString message;
    if (m_finished)
        message = text("IDS_ShareUploadNotAvailable");
    else if (m_tooLongShown && !descriptionsFit())
        message = text("IDS_ShareDescTooLong");
    else if (m_lastFileKeptShown && m_files.size() == 1)
        message = text("IDS_ShareKeepsOnePhoto");
    else if (m_pasteCutShown && limit != 0)
        message = kpv::Bundle::mainBundle().localizedStringWithFormat(QStringLiteral("IDS_SharePasteShortened_Fmt"),
                                                                      qlonglong(limit));
    else if (m_typingFullShown && limit != 0)
        message = kpv::Bundle::mainBundle().localizedStringWithFormat(QStringLiteral("IDS_ShareTypedFull_Fmt"),
                                                                      qlonglong(limit));
    m_txtMessage->setStringValue(message);
    m_btnShare->setTitle(text("IDS_Share"));
    m_btnShare->setHidden(m_finished);
    m_btnCancel->setTitle(text(m_finished ? "IDS_Close" : "IDS_Cancel"));
}
