#pragma once
// The 3D slideshow player: plays a 3D theme's scene file on the scene engine with the slides
// bound to the theme's mask elements. It owns the engine context for its lifetime: start()
// brings the context up (with the application's bitmap converter), the scene manager at the
// host view's size, the theme's scene and its animation; cleanUp() (also run by the destructor)
// releases the slide textures, destroys the scene resource and releases the context. The scene
// manager is kept: the next player initialises it again. Main thread only.

#include "Slideshow/SlideshowTheme.h"

#include "DoveAnimation.h"

#include <QImage>
#include <QString>
#include <functional>
#include <memory>
#include <vector>

namespace Dove {
class Texture;
class ZephraResource;
}

class SlideshowPlayerDove : public Dove::Animation::Listener {
public:
    SlideshowPlayerDove(SlideshowTheme theme, SlideshowThemeParam param);
    ~SlideshowPlayerDove() override;
    SlideshowPlayerDove(const SlideshowPlayerDove&) = delete;
    SlideshowPlayerDove& operator=(const SlideshowPlayerDove&) = delete;

    // Called when the theme's animation has played to its end or was stopped.
    void setFinishedHandler(std::function<void()> handler) { m_onFinished = std::move(handler); }

    // Sets the engine up inside `hostView` (the backend's host view, width x height pixels),
    // binds the slides to the mask elements group by group (wrapping round the slides when the
    // theme has more masks than slides) and plays. False, with lastError() set and everything
    // released again, when the theme's scene cannot be loaded.
    bool start(void* hostView, unsigned width, unsigned height, const std::vector<QImage>& slides);
    void pause();
    void resume();
    void stop();
    void cleanUp();

    bool isStarted() const { return m_started; }
    bool isPlaying() const;
    QString lastError() const { return m_error; }
    // Textures the player made for its slides and still holds.
    std::size_t slideTextureCount() const { return m_textures.size(); }
    Dove::ZephraResource* resource() const { return m_resource.get(); }

    // ---- Dove::Animation::Listener ----
    void OnAnimationStarted(Dove::Animation*, float) override {}
    void OnAnimationPaused(Dove::Animation*) override {}
    void OnAnimationResumed(Dove::Animation*) override {}
    void OnAnimationStopped(Dove::Animation*) override;
    void OnAnimationCancel(Dove::Animation*) override {}
    void OnAnimationAtTime(Dove::Animation*, float) override {}
    void OnAnimationAtFrame(Dove::Animation*, unsigned long) override {}

private:
    void bindSlides(const std::vector<QImage>& slides);

    SlideshowTheme m_theme;
    SlideshowThemeParam m_param;
    std::unique_ptr<Dove::ZephraResource> m_resource;
    std::vector<Dove::Texture*> m_textures;
    std::vector<std::pair<std::string, Dove::Texture*>> m_bindings;
    std::function<void()> m_onFinished;
    QString m_error;
    bool m_started = false;
    bool m_contextUp = false;
};
