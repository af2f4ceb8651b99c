#pragma once
// The share sheet for the web sites: the files with their thumbnails, a description for each file
// with the chosen site's length limit, the site (changeable in the sheet) and whether a sign-in is
// saved for it. This version has no upload service: the sheet's last step says so plainly and
// sends nothing. E-mail sharing does not use the sheet: shareFilesByEmail composes a message
// through the desktop's mail program. Main thread only.

#include "Kit/LMCustomWindowDelegate.h"
#include "Kit/LMLengthLimitTextView.h"
#include "Share/ShareFileInfo.h"

#include <QList>
#include <QString>

#include <memory>

class LMImageView;
class LMNormalCustomButton;
class LMNormalCustomWindow;
class MainConfig;

namespace kpv {
class DesktopServices;
class TextField;
class Window;
}

class ShareWindowController : public ShareFileDescTextViewDelegate,
                              public LMLengthLimitTextViewDelegate,
                              public LMCustomWindowDelegate {
public:
    static constexpr int kMaxThumbs = 5;

    // `config` keeps the chosen site and the saved sign-ins; it must outlive the controller.
    explicit ShareWindowController(MainConfig& config);
    ~ShareWindowController() override;
    ShareWindowController(const ShareWindowController&) = delete;
    ShareWindowController& operator=(const ShareWindowController&) = delete;

    // Site types 1 Facebook, 2 Flickr, 3 Twitter, 4 Tumblr; any other type or no file does nothing.
    void beginShareFiles(const QList<ShareFileInfoPtr>& files, long website, kpv::Window* parent);
    // Attaches the files that still exist to a new message; false when there was nothing to send
    // or no mail program could be started. The files left out (gone or unreadable) are named in
    // `leftOut`, so the user can be told the message lacks them.
    static bool shareFilesByEmail(const QList<ShareFileInfoPtr>& files, kpv::DesktopServices& desktop,
                                  QStringList* leftOut = nullptr);
    // What to tell the user of files left out of a message; empty when none was.
    static QString mailLeftOutMessage(const QStringList& leftOut);
    // The names of those files, one a line.
    static QString mailLeftOutNames(const QStringList& leftOut);

    // ---- Sheet state and its decisions ----
    LMNormalCustomWindow* shareWindow() const { return m_window.get(); }
    long websiteType() const { return m_websiteType; }
    void selectWebsite(long website);
    const QList<ShareFileInfoPtr>& files() const { return m_files; }
    int curFileIndex() const { return m_curFileIndex; }
    void selectFile(int index);
    // Takes the file out of the share (its description with it); the last file stays.
    void removeFile(int index);
    QString descriptionOfFile(int index) const;
    void setDescriptionOfCurFile(const QString& text);
    // The saved sign-in's user name for the site; empty when none is saved.
    QString signedInUserName() const;
    QString signInStateText() const;
    // "12 / 117" for the current description, "12" where the site has no limit.
    QString lengthText() const;
    // Every description fits the chosen site's limit.
    bool descriptionsFit() const;
    // Share: refuses (with a message) while a description is too long, else ends on the notice
    // that uploading is not available.
    void shareButtonClicked();
    void cancelButtonClicked();
    bool finished() const { return m_finished; }
    QString messageText() const;
    LMNormalCustomButton* btnShare() const { return m_btnShare; }
    LMImageView* thumbView(int index) const { return index >= 0 && index < kMaxThumbs ? m_thumbViews[index] : nullptr; }
    kpv::TextField* thumbName(int index) const { return index >= 0 && index < kMaxThumbs ? m_thumbNames[index] : nullptr; }
    ShareFileDescTextView* descTextView() const { return m_descTextView; }

    // ---- Description view delegate ----
    long websiteTypeOfShareFileDescTextView(ShareFileDescTextView*) override { return m_websiteType; }
    void ShareFileDescTextView_textChangedWithCurLength(ShareFileDescTextView*, std::uint64_t curLength,
                                                        std::uint64_t allowedMaxLength) override;
    // A paste cut to the site's limit: the sheet says so until the next change.
    void lengthLimitTextViewDidShortenPaste(LMLengthLimitTextView*, qint64 offered, qint64 kept) override;
    void lengthLimitTextViewDidRefuseTyping(LMLengthLimitTextView*) override;
    bool customWindow(LMCustomWindow* window, const kpv::Event& keyDown) override;

private:
    void loadWindow();
    void layOutThumbs();
    void updateUI();
    void endSheet();

    MainConfig& m_config;
    std::unique_ptr<LMNormalCustomWindow> m_window;
    kpv::TextField* m_txtTitle = nullptr;
    LMNormalCustomButton* m_siteButtons[4] = {};
    kpv::TextField* m_txtSignIn = nullptr;
    LMImageView* m_thumbViews[kMaxThumbs] = {};
    kpv::TextField* m_thumbNames[kMaxThumbs] = {};
    kpv::TextField* m_txtMoreFiles = nullptr;
    ShareFileDescTextView* m_descTextView = nullptr;
    kpv::TextField* m_txtLength = nullptr;
    kpv::TextField* m_txtMessage = nullptr;
    LMNormalCustomButton* m_btnShare = nullptr;
    LMNormalCustomButton* m_btnCancel = nullptr;
    QList<ShareFileInfoPtr> m_files;
    QList<QString> m_descriptions;
    long m_websiteType = 0;
    int m_curFileIndex = 0;
    bool m_finished = false;
    bool m_tooLongShown = false;
    bool m_lastFileKeptShown = false;
    bool m_pasteCutShown = false;
    bool m_typingFullShown = false; // a key was refused at the site's limit
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};
