#pragma once

// Two-finger swipe paging over the image view: the current image follows the fingers out of the
// view while the next one fades in beneath it, or the previous image slides in over the current
// one, which fades out. Releasing past a quarter of the view commits the change of file with a
// short eased animation; releasing earlier, or swiping past either end of the list, springs back.
// Main thread only: driven by scroll-wheel events and main run-loop timers.

#include "Model/LMBlockRepeatTimer.h"
#include "Model/LMBlockTimer.h"
#include "Model/LMImage.h"

#include <QPointF>
#include <QRectF>

#include <cstdint>
#include <memory>

class LMImageViewModel;
class NavigateController;
namespace kpv {
class Event;
}

// One of the two views that carry the images while a swipe runs. Its image is shown at image mode
// 0 and without rotation; its frame is in the container's coordinates.
class NavPagingView {
public:
    virtual ~NavPagingView() = default;
    virtual void setImage(const LMImagePtr &image) = 0;
    virtual LMImagePtr image() const = 0;
    virtual QRectF frame() const = 0;
    virtual void setFrame(const QRectF &frame) = 0;
    virtual double alpha() const = 0;
    virtual void setAlpha(double alpha) = 0;
    virtual bool isHidden() const = 0;
    virtual void setHidden(bool hidden) = 0;
    virtual bool isInContainer() const = 0;
    virtual void addToContainer() = 0;
};

// The container the paging views are placed in (the view over the image view), and the main view's
// drawing switch.
class NavPagingViewFactory {
public:
    virtual ~NavPagingViewFactory() = default;
    // A view with a zero frame, input disabled, wheel events passed on, no drop shadow, hidden.
    virtual std::unique_ptr<NavPagingView> createPagingView() = 0;
    virtual QRectF containerBounds() const = 0;
    // A rectangle of the main image view in the container's coordinates.
    virtual QRectF convertFromMainView(const QRectF &rect) const = 0;
    // Stops (true) or resumes drawing the main view's image.
    virtual void setMainViewImageNotDraw(bool notDraw) = 0;
};

class NavGestureScrollFileSession {
public:
    enum Direction : int { None = 0, PrevHorizontal = 1, NextHorizontal = 2, PrevVertical = 3, NextVertical = 4 };
    static constexpr qsizetype kNotFound = -1;
    static constexpr double kGestureEndDelay = 0.05;
    static constexpr double kAnimationDuration = 0.3;

    NavGestureScrollFileSession(NavigateController *controller, LMImageViewModel *openGLView,
                                NavPagingViewFactory *overlapViewContainer);
    ~NavGestureScrollFileSession();
    NavGestureScrollFileSession(const NavGestureScrollFileSession &) = delete;
    NavGestureScrollFileSession &operator=(const NavGestureScrollFileSession &) = delete;

    void scrollWheel(const kpv::Event &event);
    bool scrollSessionRunning() const;
    void abortScrollSession();

    // Steps, public for the controller's tests.
    void beginScroll();
    void doScroll(QPointF delta, bool momentumPhase);
    void endScroll();
    bool canScrollFile() const;
    void createScrollAnimationTimer(bool shouldScrollFile);
    void endScrollWithoutCheckAnimation(bool shouldScrollFile);
    QRectF calcImageViewRect(int direction, const LMImagePtr &image, double scale, int curFilePos,
                             bool beforeScroll) const;
    void startGestureScrollTimer();

    int scrollDirection() const { return m_scrollDirection; }
    qsizetype fileIndexScrollTo() const { return m_fileIndexScrollTo; }
    bool inPhaseScrollSession() const { return m_inPhaseScrollSession; }
    bool isGestureTimerRunning() const { return m_gestureScrollTimer.isTimerRunning(); }
    bool isAnimationRunning() const { return m_scrollAnimationTimer.isTimerRunning(); }
    QRectF imageViewRectBeforeScroll() const { return m_imageViewRectBeforeScroll; }
    QRectF imageViewRectAfterScroll() const { return m_imageViewRectAfterScroll; }
    NavPagingView *imageViewMove() const { return m_imageViewMove.get(); }
    NavPagingView *imageViewStay() const { return m_imageViewStay.get(); }

private:
    bool isHorizontal() const { return m_scrollDirection == PrevHorizontal || m_scrollDirection == NextHorizontal; }
    bool isNext() const { return m_scrollDirection == NextHorizontal || m_scrollDirection == NextVertical; }
    void setupFirstDelta(QPointF delta);
    double axisValue(QPointF origin) const { return isHorizontal() ? origin.x() : origin.y(); }

    NavigateController *m_controller;
    LMImageViewModel *m_openGLView;
    NavPagingViewFactory *m_container;
    std::unique_ptr<NavPagingView> m_imageViewMove;
    std::unique_ptr<NavPagingView> m_imageViewStay;
    QRectF m_imageViewRectBeforeScroll;
    QRectF m_imageViewRectAfterScroll;
    int m_scrollDirection = None;
    qsizetype m_fileIndexScrollTo = kNotFound;
    bool m_openGLEnableStatusBeforeScroll = true;
    LMBlockTimer m_gestureScrollTimer;
    bool m_inPhaseScrollSession = false;
    LMBlockRepeatTimer m_scrollAnimationTimer;
    bool m_animationShouldScrollFile = false;
};
