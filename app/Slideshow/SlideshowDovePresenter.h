#pragma once
// A 3D theme on screen: a host view filling the slideshow, in which the 3D player draws the
// theme with the slides it takes from a slide source. Made when a 3D theme starts and destroyed
// when it ends (the player's engine is released first). Main thread only.

#include "Slideshow/SlideshowPlayerDove.h"
#include "Slideshow/SlideshowTheme.h"

#include <QPointer>
#include <QString>
#include <QWidget>
#include <memory>

namespace kpv {
class View;
}

class SlideshowDovePresenter {
public:
    // The host view goes into `container`, below `above` when that is one of its subviews.
    SlideshowDovePresenter(kpv::View* container, kpv::View* above);
    ~SlideshowDovePresenter();
    SlideshowDovePresenter(const SlideshowDovePresenter&) = delete;
    SlideshowDovePresenter& operator=(const SlideshowDovePresenter&) = delete;

    // Reads a 3D theme's parameter file (untrusted: size-capped and parsed strictly).
    static bool loadThemeParam(const SlideshowTheme& theme, SlideshowThemeParam* param, QString* error);
    // How many photos one pass of the theme shows.
    static std::size_t photoCount(const SlideshowThemeParam& param);

    // Starts the theme, from its scene file read beforehand when `scene` is given; false with
    // `error` set when it cannot be played.
    bool start(const SlideshowTheme& theme, const SlideshowThemeParam& param, SlideshowPlayerDove::SlideSource source,
               QString* error, std::shared_ptr<Dove::ZephraSceneFile> scene = nullptr);
    void pause();
    void resume();
    SlideshowPlayerDove* player() const { return m_player.get(); }
    kpv::View* hostView() const;

private:
    class HostView;
    void hostResized();

    HostView* m_host;
    QPointer<QWidget> m_hostGuard; // the container may delete the host with itself
    std::unique_ptr<SlideshowPlayerDove> m_player;
};
