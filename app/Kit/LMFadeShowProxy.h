#pragma once
// Shows and hides one view with a fade, optionally hiding it again after an idle interval, and
// dims it for a moment with an alpha that restores itself after the same interval. The view is
// not owned (its superview owns it) and must outlive the proxy or be left by it first.

#include "Model/LMBlockTimer.h"
#include "appkit/View.h"

#include <functional>
#include <memory>

class LMFadeShowProxy;

class LMFadeShowProxyDelegate {
public:
    virtual ~LMFadeShowProxyDelegate() = default;
    virtual void beginShowFadeShowProxy(LMFadeShowProxy*, bool /*animation*/) {}
    virtual void endShowFadeShowProxy(LMFadeShowProxy*) {}
    virtual void beginHideFadeShowProxy(LMFadeShowProxy*, bool /*animation*/) {}
    virtual void endHideFadeShowProxy(LMFadeShowProxy*) {}
};

class LMFadeShowProxy {
public:
    static constexpr double kFadeDuration = 0.3;

    // With `hide` the view starts hidden at alpha 0, otherwise shown at alpha 1.
    explicit LMFadeShowProxy(kpv::View* object, bool hide = true);
    ~LMFadeShowProxy();
    LMFadeShowProxy(const LMFadeShowProxy&) = delete;
    LMFadeShowProxy& operator=(const LMFadeShowProxy&) = delete;

    kpv::View* object() const { return m_object; }
    LMFadeShowProxyDelegate* delegate() const { return m_delegate; }
    void setDelegate(LMFadeShowProxyDelegate* d) { m_delegate = d; }
    double autoHideInterval() const { return m_autoHideInterval; }
    void setAutoHideInterval(double s) { m_autoHideInterval = s; }

    void showWithAnimation(bool animation, bool autoHide);
    void hideWithAnimation(bool animation, std::function<void()> endBlock);
    void hideWithAnimation(bool animation, bool needDelay);
    void setAlpha(double alpha, bool animation, bool autoRestore, double restoreToAlpha);
    void restoreAlpha(double alpha, bool animation, bool needDelay);
    void createAutoHideTimer(bool animation);
    void killAutoHideTimer();
    void createRestoreAlphaTimer(double alpha, bool animation);
    void stopRestoreAlphaTimer();

    // Inspection.
    bool showAnimationDoing() const { return m_showAnimationDoing; }
    bool hideAnimationDoing() const { return m_hideAnimationDoing; }
    bool isAutoHideTimerRunning() const { return m_autoHideTimer && m_autoHideTimer->isTimerRunning(); }
    bool isRestoreAlphaTimerRunning() const { return m_restoreAlphaTimer && m_restoreAlphaTimer->isTimerRunning(); }
    double curAlphaValue() const { return m_curAlphaValue; }

private:
    // Runs `done` when the fade ends, unless the proxy is gone by then.
    void fade(double to, bool animation, std::function<void()> done);

    LMFadeShowProxyDelegate* m_delegate = nullptr;
    kpv::View* m_object;
    bool m_showAnimationDoing = false;
    bool m_hideAnimationDoing = false;
    bool m_needAutoHide = false;
    double m_autoHideInterval = 3.0;
    std::unique_ptr<LMBlockTimer> m_autoHideTimer;
    double m_curAlphaValue = 0;
    double m_restoreAlphaValue = 1;
    bool m_setAlphaAnimationDoing = false;
    bool m_restoreAlphaAnimationDoing = false;
    bool m_needRestoreAlpha = false;
    std::unique_ptr<LMBlockTimer> m_restoreAlphaTimer;
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};
