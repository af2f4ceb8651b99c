#include "Kit/LMFadeShowProxy.h"

LMFadeShowProxy::LMFadeShowProxy(kpv::View* object, bool hide) : m_object(object)
{
    if (hide) {
        m_object->setHidden(true);
        m_object->setAlphaValue(0);
    } else {
        m_object->setAlphaValue(1.0);
    }
    m_curAlphaValue = m_object->alphaValue();
}

LMFadeShowProxy::~LMFadeShowProxy()
{
    // A fade still running reports to a proxy that no longer exists: the token stops it.
    m_alive.reset();
}

void LMFadeShowProxy::fade(double to, bool animation, std::function<void()> done)
{
    std::weak_ptr<bool> alive = m_alive;
    m_object->animateAlphaValue(to, animation ? kFadeDuration : 0.0, [alive, done = std::move(done)](bool) {
        if (!alive.expired())
            done();
    });
}

void LMFadeShowProxy::showWithAnimation(bool animation, bool autoHide)
{
    m_needAutoHide = autoHide;
    if (!m_object->isHidden()) {
        if (m_showAnimationDoing) {
            if (animation)
                return;
        } else if (!m_hideAnimationDoing) {
            killAutoHideTimer();
            if (m_needAutoHide)
                createAutoHideTimer(true);
            return;
        }
    }
    stopRestoreAlphaTimer();
    m_needRestoreAlpha = false;
    m_object->setHidden(false);
    m_showAnimationDoing = true;
    if (m_delegate)
        m_delegate->beginShowFadeShowProxy(this, animation);
    fade(1.0, animation, [this] {
        m_showAnimationDoing = false;
        m_curAlphaValue = m_object->alphaValue();
        if (m_delegate)
            m_delegate->endShowFadeShowProxy(this);
        if (m_needAutoHide)
            createAutoHideTimer(true);
    });
}

void LMFadeShowProxy::hideWithAnimation(bool animation, std::function<void()> endBlock)
{
    if (m_object->isHidden())
        return;
    stopRestoreAlphaTimer();
    m_needRestoreAlpha = false;
    m_hideAnimationDoing = true;
    if (m_delegate)
        m_delegate->beginHideFadeShowProxy(this, animation);
    fade(0.0, animation, [this, endBlock = std::move(endBlock)] {
        m_hideAnimationDoing = false;
        m_curAlphaValue = m_object->alphaValue();
        if (!m_showAnimationDoing)
            m_object->setHidden(true);
        if (endBlock)
            endBlock();
        if (m_delegate)
            m_delegate->endHideFadeShowProxy(this);
    });
}

void LMFadeShowProxy::hideWithAnimation(bool animation, bool needDelay)
{
    if (m_object->isHidden())
        return;
    if (!needDelay) {
        hideWithAnimation(animation, std::function<void()>());
        return;
    }
    if (!isAutoHideTimerRunning())
        createAutoHideTimer(animation);
}

void LMFadeShowProxy::createAutoHideTimer(bool animation)
{
    killAutoHideTimer();
    if (!m_autoHideTimer)
        m_autoHideTimer = std::make_unique<LMBlockTimer>();
    m_autoHideTimer->start(m_autoHideInterval, [this, animation] { hideWithAnimation(animation, false); });
}

void LMFadeShowProxy::killAutoHideTimer()
{
    if (m_autoHideTimer)
        m_autoHideTimer->stop();
}

void LMFadeShowProxy::createRestoreAlphaTimer(double alpha, bool animation)
{
    if (!m_restoreAlphaTimer)
        m_restoreAlphaTimer = std::make_unique<LMBlockTimer>();
    m_restoreAlphaTimer->start(m_autoHideInterval, [this, alpha, animation] { restoreAlpha(alpha, animation, false); });
}

void LMFadeShowProxy::stopRestoreAlphaTimer()
{
    if (m_restoreAlphaTimer)
        m_restoreAlphaTimer->stop();
}

void LMFadeShowProxy::setAlpha(double alpha, bool animation, bool autoRestore, double restoreToAlpha)
{
    m_needRestoreAlpha = autoRestore;
    m_restoreAlphaValue = restoreToAlpha;
    killAutoHideTimer();
    if (m_curAlphaValue == alpha && !m_setAlphaAnimationDoing && !m_restoreAlphaAnimationDoing) {
        stopRestoreAlphaTimer();
        if (m_needRestoreAlpha)
            createRestoreAlphaTimer(restoreToAlpha, true);
        return;
    }
    if (m_object->isHidden())
        m_object->setHidden(false);
    m_setAlphaAnimationDoing = true;
    fade(alpha, animation, [this] {
        m_setAlphaAnimationDoing = false;
        m_curAlphaValue = m_object->alphaValue();
        if (m_needRestoreAlpha)
            createRestoreAlphaTimer(m_restoreAlphaValue, true);
    });
}

void LMFadeShowProxy::restoreAlpha(double alpha, bool animation, bool needDelay)
{
    if (needDelay) {
        if (!isRestoreAlphaTimerRunning())
            createRestoreAlphaTimer(alpha, animation);
        return;
    }
    m_restoreAlphaAnimationDoing = true;
    fade(alpha, animation, [this] {
        m_restoreAlphaAnimationDoing = false;
        m_curAlphaValue = m_object->alphaValue();
    });
}
