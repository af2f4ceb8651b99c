// What the slideshow tests share: a fake main window (its show mode, content view and responder
// registration) and a music sink that records what it was asked to play.
#pragma once

#include "Slideshow/SlideshowFileInfo.h"
#include "Slideshow/SlideshowMusic.h"
#include "Slideshow/SlideshowViewController.h"
#include "Slideshow/SlideshowViewHost.h"

#include "appkit/View.h"
#include "foundation/Clock.h"
#include "foundation/NotificationCenter.h"

#include <QStringList>
#include <memory>

// The main window's show mode: a change is told to its observers, as the window tells it.
class ShowModeHost : public SlideshowViewHost {
public:
    long showMode() const override { return mode; }
    void setShowMode(long m) override
    {
        const long old = mode;
        mode = m;
        kpv::NotificationCenter::defaultCenter().postNotification(
            "didChangeMainShowMode", nullptr, {{"old", qlonglong(old)}, {"new", qlonglong(m)}});
    }
    void slideshowWillEnd(const LMPathString& shown, long) override { endedOn = shown.path(); }
    void reportProblem(const QString& message) override { problems << message; }

    long mode = 4;
    QStringList problems; // what the user was told
    QString endedOn;      // the photo on screen when the user ended the show
};

class FakeHost : public ShowModeHost {
public:
    FakeHost() : content(kpv::Rect(0, 0, 800, 600)) {}
    kpv::View* contentView() const override { return const_cast<kpv::View*>(&content); }
    void registEquivalentResponder(LMEquivalentResponder* r, bool on) override { registered = on ? r : nullptr; }

    kpv::View content;
    LMEquivalentResponder* registered = nullptr;
};

class FakeMusicSink : public SlideshowMusicSink {
public:
    struct Log {
        QStringList played; // every play(), "" for a stop
        bool paused = false;
        bool muted = false;
        std::function<void(const QString&, const QString&)> fail;
    };
    explicit FakeMusicSink(std::shared_ptr<Log> log = std::make_shared<Log>()) : m_log(std::move(log)) {}
    void play(const QString& path) override
    {
        m_log->played << path;
        m_log->paused = false;
    }
    void pause() override { m_log->paused = true; }
    void resume() override { m_log->paused = false; }
    void setMuted(bool muted) override { m_log->muted = muted; }
    void setErrorHandler(std::function<void(const QString&, const QString&)> handler) override
    {
        m_log->fail = std::move(handler);
    }
    void setOutputErrorHandler(std::function<void(const QString&)>) override {}

private:
    std::shared_ptr<Log> m_log;
};

// Slides "/slides/0" to "/slides/<n - 1>"; the tests' loaders read the number from the name.
inline std::vector<SlideshowFileInfoPtr> numberedSlides(int n)
{
    std::vector<SlideshowFileInfoPtr> out;
    for (int i = 0; i < n; ++i)
        out.push_back(std::make_shared<SlideshowFileInfo>(LMPathString(QString("/slides/%1").arg(i), false)));
    return out;
}

// Lets time pass on the manual clock in small steps, finishing slide loads between them.
inline void runSlideshow(SlideshowViewController& controller, kpv::ManualClock& clock, double seconds)
{
    for (double t = 0; t < seconds - 1e-9; t += 0.05) {
        controller.waitForSlideLoads();
        clock.advance(0.05);
    }
    controller.waitForSlideLoads();
}
