#pragma once
// The 3D slideshow player: plays a 3D theme's scene file on the scene engine with the user's
// photos on the theme's photo meshes. It owns the engine context for its lifetime: start() brings
// the context up (with the application's bitmap converter), the scene manager at the host view's
// size, the theme's scene and its animation; cleanUp() (also run by the destructor) destroys the
// scene resource and releases the context. The scene manager is kept: the next player
// initialises it again. Main thread only.
//
// Photos: each group of the theme's parameters names photo meshes. At start every group gets
// photos from the slide source, in order. When a group comes on screen the group before it gets
// the next photos, and when the animation has played to its end the last group does and the
// theme plays again from the start, round and round until stop() or clean-up. A mesh's own
// texture from the scene file becomes its mask, and the photo its colour. A card never shows
// without a photo: when the source has none ready (a short list, a slow decode) the mesh takes one
// of the photos shown before, in turn, so a theme with fewer photos than cards repeats them;
// fillStandIns() later gives such cards photos of their own, as the source has them.
//
// Photos are put on meshes outside the frame that noticed the group change: the work is queued
// on the main run loop (performPendingWork() runs it at once, for tests).

#include "Slideshow/SlideshowTheme.h"

#include "DoveAnimation.h"

#include <QImage>
#include <QString>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace Dove {
class ZephraResource;
struct ZephraSceneFile;
}

class SlideshowPlayerDove : public Dove::Animation::Listener {
public:
    // The next photo, upright; a null image when none is ready (a photo shown before stands in).
    using SlideSource = std::function<QImage()>;

    SlideshowPlayerDove(SlideshowTheme theme, SlideshowThemeParam param);
    ~SlideshowPlayerDove() override;
    SlideshowPlayerDove(const SlideshowPlayerDove&) = delete;
    SlideshowPlayerDove& operator=(const SlideshowPlayerDove&) = delete;

    // Reads the theme's scene file and decodes the pictures it names: no engine object and no
    // OpenGL call, so that it runs on a worker thread while the window goes on.
    static std::shared_ptr<Dove::ZephraSceneFile> readScene(const SlideshowTheme& theme);
    // The scene file read beforehand, which start() builds from instead of reading it itself.
    void setScene(std::shared_ptr<Dove::ZephraSceneFile> scene) { m_scene = std::move(scene); }

    // Called when stop() has stopped the theme.
    void setFinishedHandler(std::function<void()> handler) { m_onFinished = std::move(handler); }
    void setSlideSource(SlideSource source) { m_source = std::move(source); }

    // Sets the engine up inside `hostView` (the backend's host view, width x height pixels), puts
    // photos on every group and plays. False, with lastError() set and everything released
    // again, when the theme's scene cannot be loaded.
    bool start(void* hostView, unsigned width, unsigned height);
    // The same with a slide source that goes round `slides`.
    bool start(void* hostView, unsigned width, unsigned height, const std::vector<QImage>& slides);
    void pause();
    void resume();
    void stop();
    void cleanUp();
    // Puts new photos from the source on every group and plays the theme from its start; a paused
    // theme stays paused and shows its first frame with the new photos.
    void restart();
    // The host view has a new size (pixels): the theme fills it again. The theme is drawn over the
    // whole view, never in bars: a view wider than the theme's own frame shows more of its
    // backdrop at the sides, a narrower one more above and below, and the frame the theme was
    // made for is always seen whole.
    void resize(unsigned width, unsigned height);

    bool isStarted() const { return m_started; }
    bool isPlaying() const;
    bool isPaused() const { return m_started && m_paused; }
    QString lastError() const { return m_error; }
    // Photos put on meshes since start (repeats included), and how often the theme has started again.
    std::size_t slidesBound() const { return m_slidesBound; }
    // Photo meshes of the theme that have no photo on them (a blank card).
    std::size_t meshesWithoutPhoto() const;
    // Photos kept to stand in when the source has none.
    static constexpr std::size_t kRecentPhotos = 12;
    // A photo standing in is put on its card at most this many pixels wide and high.
    static constexpr int kStandInSide = 512;
    long loopCount() const { return m_loops; }
    // The photo the user looks at now: of the cards that show, the one largest on screen (of
    // cards of about the same size, the one whose photo came first). Its
    // number among the photos taken from the source (0 the first since start or restart); -1 when
    // no card shows or a photo shown before stands in on that card.
    long photoOnScreen() const;
    Dove::ZephraResource* resource() const { return m_resource.get(); }

    // Runs the queued group change or loop now.
    void performPendingWork();

    // The numbers (as photoOnScreen() counts them) of the photos on the cards and of those kept
    // to stand in: what a sharper copy would replace.
    std::vector<long> photosInUse() const;
    // Puts `sharper`, the same picture decoded larger, in place of photo `number` on every card
    // that shows it and among the stand-ins, without changing which photo a card shows.
    void replacePhoto(long number, const QImage& sharper);
    // Cards that took a photo shown before (the source had none ready) take the source's next
    // photos now, in the order the cards were filled; stops when the source has none.
    std::size_t fillStandIns();
    std::size_t standInCount() const { return m_standIns.size(); }
    // Photos `numbers` (their files are gone) stand in no more; a card showing one keeps it until
    // its group's turn. Returns how many were dropped.
    std::size_t forgetPhotos(const std::vector<long>& numbers);
    // Cards showing one of photos `numbers` (their files are gone) take the next photo now, so
    // that none comes forward later; the card largest on screen, the one the user is looking at,
    // keeps its photo until its group's turn. Returns how many cards took another photo.
    std::size_t replacePhotos(const std::vector<long>& numbers);

    // ---- Dove::Animation::Listener ----
    void OnAnimationStarted(Dove::Animation*, float) override {}
    void OnAnimationPaused(Dove::Animation*) override {}
    void OnAnimationResumed(Dove::Animation*) override {}
    void OnAnimationStopped(Dove::Animation*) override;
    void OnAnimationCancel(Dove::Animation*) override {}
    void OnAnimationAtTime(Dove::Animation*, float seconds) override;
    void OnAnimationAtFrame(Dove::Animation*, unsigned long) override {}

private:
    void bindGroup(std::size_t group);
    // Puts the next photo (or a stand-in) on a mesh; false when it has none to put there.
    bool putNextPhoto(const std::string& name);
    // The photo mesh largest on screen (of those about as large, the one whose photo came first);
    // empty when none shows.
    std::string meshOnScreen() const;
    // Puts one photo on a mesh; false when the mesh or the photo cannot take it.
    bool bindPhoto(const std::string& mesh, const QImage& photo);
    void fillView(unsigned width, unsigned height);
    void schedulePending();
    void playFromStart();
    // The next photo and, when it came from the source, its number (else -1); `shown` gets the
    // number of the picture itself, a stand-in's included.
    QImage nextPhoto(long* taken = nullptr, long* shown = nullptr);
    // The source's next photo, kept to stand in later, and its number; null when it has none.
    QImage takeFromSource(long* number);

    SlideshowTheme m_theme;
    SlideshowThemeParam m_param;
    std::shared_ptr<Dove::ZephraSceneFile> m_scene;
    std::unique_ptr<Dove::ZephraResource> m_resource;
    SlideSource m_source;
    std::function<void()> m_onFinished;
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
    // Groups waiting for new photos, and whether the theme waits to play again.
    std::vector<std::size_t> m_pendingGroups;
    bool m_pendingLoop = false;
    bool m_pendingScheduled = false;
    bool m_stopping = false;
    QString m_error;
    std::size_t m_slidesBound = 0;
    // The latest photos from the source, and which of them stands in next.
    std::vector<QImage> m_recent;
    std::vector<long> m_recentNumbers;
    std::vector<QImage> m_recentSmall; // the smaller copies a stand-in shows, made when first needed
    std::size_t m_recentNext = 0;
    std::size_t m_recentOldest = 0;
    // Photos taken from the source, and the number of the one on each photo mesh (-1: a stand-in).
    long m_taken = 0;
    std::map<std::string, long> m_meshPhoto;
    // The number of the picture each photo mesh shows, a stand-in's included, and the meshes that
    // show a stand-in, in the order they were filled.
    std::map<std::string, long> m_meshPicture;
    std::vector<std::string> m_standIns;
    std::vector<std::string> m_photoMeshes;
    long m_loops = 0;
    bool m_started = false;
    bool m_paused = false;
    bool m_contextUp = false;
    // The camera's view as the theme made it.
    float m_themeAspect = 0;
    float m_themeFov = 0;
};
