#pragma once
// The views over the image of the view mode: the status line ("NN%", "Loading…" with its waiting
// indicator), the previous and next arrow buttons with their hit areas at the window's sides, and
// the file-information line along the bottom. Each fades in and out through its own fade proxy;
// the viewer's controller drives them through the shell's host. Main thread only.

#include "Kit/LMButtonDelegate.h"
#include "Kit/LMFadeShowProxy.h"
#include "Model/LMFileImgBaseInfo.h"
#include "Model/NavFileInfoView.h"
#include "View/NavigateControllerHost.h"
#include "appkit/Geometry.h"

#include <functional>
#include <memory>
#include <utility>

class LMButton;
class NavStatusView;
namespace kpv {
class TextField;
class View;
}

class NavigateOverlays final : public LMButtonDelegate {
public:
    // Arrow button pressed (`down`) or released; `next` says which.
    using ArrowHandler = std::function<void(bool next, bool down)>;

    // Adds the views to `parent` (owned by it from then on), over its whole bounds.
    explicit NavigateOverlays(kpv::View* parent);
    ~NavigateOverlays() override;
    NavigateOverlays(const NavigateOverlays&) = delete;
    NavigateOverlays& operator=(const NavigateOverlays&) = delete;

    void setArrowHandler(ArrowHandler handler) { m_arrowHandler = std::move(handler); }

    // The status line: text and waiting indicator; an empty text hides it. `onAnchor`, it sits
    // above the toolbar strip (`anchorTop`, in the parent's coordinates), otherwise centred on
    // the parent.
    void updateStatusInfo(const QString& text, bool showWaiting, bool onAnchor, double anchorTop);
    // Moves the status line as it stands, text unchanged.
    void placeStatusLine(bool onAnchor, double anchorTop);
    // Whether the status line, centred, would be under or over `view` (shown or not).
    bool centredStatusLineMeets(const kpv::View* view) const;
    QString statusText() const { return m_statusText; }
    kpv::Rect statusLineFrame() const;
    bool statusLineVisible() const;

    // Room kept below the picture drawn for a file that cannot be shown, for the reason line.
    static constexpr double kStatusReasonRoom = 22;
    // The smaller line that says why the file cannot be shown, below the picture that says so
    // (`pictureHalfHeight` from the middle of the parent) and kept above `floor` (parent
    // coordinates: the top of the toolbar's place), where it would meet the toolbar it stays
    // hidden. Elided to the parent's width. An empty reason hides it; so does a new status line.
    void setStatusReason(const QString& reason, double pictureHalfHeight, double floor);
    QString statusReason() const { return m_statusReason; }
    // The reason as drawn (elided), and where; empty while it is hidden.
    QString statusReasonShown() const;
    kpv::Rect statusReasonFrame() const;

    LMFadeShowProxy& previewStatusShowProxy() { return *m_statusProxy; }
    LMFadeShowProxy& nextPrevShowProxy() { return *m_nextPrevProxy; }
    LMFadeShowProxy& fileInfoShowProxy() { return *m_fileInfoProxy; }

    // The file line: hidden with the whole information container, filled from the record. The
    // status line hides with the container too, and comes back with it when it has a text.
    void setNavInfoContainerHidden(bool hidden);
    // Where the file line stands (parent coordinates): on the bottom edge, or on top of a bar that
    // covers the bottom (the photo bin), so that the bar never hides it.
    void setFileLineBottom(double y);
    double fileLineBottom() const;
    // The top of the file line where it shows over the picture (parent coordinates), else 0.
    double fileLineCoveredTop() const;
    void setFileImgBaseInfo(const LMFileImgBaseInfoPtr& info, int64_t mask);
    const NavFileInfoView& fileInfo() const { return m_fileInfo; }
    // The file name as the line draws it: shortened in the middle where its field is too narrow.
    QString fileNameShown() const;
    // The properties as the line draws them: cut at their end where their field is too narrow.
    QString exifInfoShown() const;
    // Where the line draws the name and the properties (the line's coordinates), each as wide as
    // its text as drawn.
    std::pair<kpv::Rect, kpv::Rect> fileLineTextFrames() const;

    // Which arrow control the point (parent coordinates) lies on.
    NavArrowHit arrowHitTest(QPointF point) const;
    bool arrowsVisible() const;

    // LMButtonDelegate
    void buttonMouseDown(LMButton* button) override;
    void buttonMouseUp(LMButton* button) override;
    void buttonMouseEntered(LMButton*) override {}
    void buttonMouseExited(LMButton*) override {}

private:
    class FileLineView;

    kpv::View* m_parent;
    kpv::View* m_statusContainer = nullptr;
    NavStatusView* m_status = nullptr;
    kpv::View* m_nextPrevContainer = nullptr;
    LMButton* m_btnPrev = nullptr;
    LMButton* m_btnNext = nullptr;
    kpv::View* m_infoContainer = nullptr;
    FileLineView* m_fileLine = nullptr;
    NavFileInfoView m_fileInfo;
    QString m_statusText;
    kpv::TextField* m_reason = nullptr;
    QString m_statusReason;
    double m_reasonPictureHalf = 0, m_reasonFloor = 0;
    void placeStatusReason();
    std::unique_ptr<LMFadeShowProxy> m_statusProxy;
    std::unique_ptr<LMFadeShowProxy> m_nextPrevProxy;
    std::unique_ptr<LMFadeShowProxy> m_fileInfoProxy;
    ArrowHandler m_arrowHandler;
};
