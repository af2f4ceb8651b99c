// The slideshow mode's themes, 3D player, controls and music.
#include "Slideshow/SlideshowViewController.h"

#include "Slideshow/SlideshowDovePresenter.h"
#include "Slideshow/SlideshowMenus.h"
#include "Slideshow/SlideshowMusic.h"
#include "Slideshow/SlideshowNoticeView.h"
#include "Slideshow/SlideshowNotifications.h"
#include "Slideshow/SlideshowThemeMgr.h"
#include "Slideshow/SlideshowView.h"

#include "Kit/LMButton.h"
#include "Model/MainConfig.h"
#include "appkit/Panels.h"
#include "appkit/Window.h"
#include "foundation/Bundle.h"
#include "foundation/FileNames.h"
#include "foundation/NotificationCenter.h"
#include "foundation/OperationQueue.h"
#include "foundation/RunLoop.h"
#include "foundation/Timer.h"

#include <QDebug>
#include <QFileInfo>
#include <algorithm>

namespace {
constexpr const char* kTypeKey = "SlideshowType";
constexpr const char* kIDKey = "ThemeID";
constexpr const char* kGroupKey = "ThemeGroupID";
// The settings' type of a theme: 0 a normal (2D) one, 1 a 3D one.
qint64 settingsType(const SlideshowTheme& t) { return t.type == SlideshowTheme::ThreeD ? 1 : 0; }

// The box a photo was made smaller to fit when it touches it (decoding it larger would add
// detail); an invalid size when it is the whole picture.
QSize reducedFor(const QImage& image, QSize decodedFor)
{
    if (image.isNull() || !decodedFor.isValid())
        return {};
    const bool reduced = image.width() >= decodedFor.width() - 1 || image.height() >= decodedFor.height() - 1;
    return reduced ? decodedFor : QSize();
}

// A photo reduced to fit `reduced` would be sharper decoded for `now`.
bool outgrown(QSize reduced, QSize now)
{
    return reduced.isValid() && (now.width() > reduced.width() || now.height() > reduced.height());
}
} // namespace

void SlideshowViewController::setMusicSinkFactory(std::function<std::unique_ptr<SlideshowMusicSink>()> factory)
{
    m_sinkFactory = std::move(factory);
    m_menus.reset();
    m_music.reset();
}

std::optional<SlideshowTheme> SlideshowViewController::chosenTheme() const
{
    if (!m_themeMgr || !m_themeMgr->isLoaded())
        return std::nullopt;
    const std::vector<SlideshowTheme> themes = m_themeMgr->themes();
    if (themes.empty())
        return std::nullopt;
    if (m_mainConfig) {
        const QVariantMap id = m_mainConfig->curSlideshowThemeID();
        if (!id.isEmpty()) {
            const qint64 type = id.value(kTypeKey).toLongLong();
            const qint64 themeID = id.value(kIDKey).toLongLong();
            const qint64 groupID = id.value(kGroupKey).toLongLong();
            for (const SlideshowTheme& t : themes)
                if (settingsType(t) == type && t.themeID == themeID && (type == 0 || t.groupID == groupID))
                    return t;
        }
    }
    // Nothing chosen yet (or the chosen theme is gone): the first normal theme, else the first.
    for (const SlideshowTheme& t : themes)
        if (t.type == SlideshowTheme::Normal)
            return t;
    return themes.front();
}

void SlideshowViewController::chooseTheme(const SlideshowTheme& theme)
{
    if (m_mainConfig) {
        QVariantMap id;
        id.insert(kTypeKey, settingsType(theme));
        id.insert(kIDKey, theme.themeID);
        id.insert(kGroupKey, theme.groupID);
        m_mainConfig->setCurSlideshowThemeID(id);
    }
    if (!m_playing)
        return;
    if (m_menus)
        m_menus->hideAll();
    const long shown = slideOnScreen();
    const long from = shown < 0 ? 0 : shown;
    m_paused = false;
    if (m_bar)
        m_bar->setPaused(false);
    beginPresentation(from);
}

void SlideshowViewController::endPresentation()
{
    ++m_generation; // loads of the presentation that ends are dropped
    stopTimers();
    m_dove.reset();
    m_photos.clear();
    m_photosLoading = 0;
    m_photosWanted = 0;
    m_doveWaiting = false;
    m_doveScene.reset();
    m_doveSceneRead = false;
    m_doveRestarting = false;
    m_doveStepTarget = -1;
    m_takenSlides.clear();
    m_takenReducedFor.clear();
    m_takenFileState.clear();
    m_takenFirst = 0;
    m_doveRedecoding.clear();
    m_doveRewriting.clear();
    m_loadingIndex = -1;
    m_readyIndex = -1;
    m_readyImage = QImage();
    m_waitingForSlide = false;
    m_stepping = false;
    m_loadedFrames.clear();
    m_readyFrames = SlideFrames();
    m_curFrames = SlideFrames();
    m_curFrame = 0;
}

void SlideshowViewController::beginPresentation(long index)
{
    endPresentation();
    m_presentationStart = index;
    m_themeProblem.clear();
    m_theme = chosenTheme();
    ensureMusicAndMenus();
    if (m_theme && m_theme->type == SlideshowTheme::ThreeD) {
        QString error;
        m_param = SlideshowThemeParam();
        if (!SlideshowDovePresenter::loadThemeParam(*m_theme, &m_param, &error)) {
            startMusic();
            fallBackTo2D(error, index);
            return;
        }
        view()->setSlides(QImage(), QImage(), 1.0);
        m_dove = std::make_unique<SlideshowDovePresenter>(view(), m_bar);
        m_nextPhotoIndex = index;
        m_curIndex = -1;
        // Photos for every group are asked for at once; the theme starts with the first that is
        // decoded, and the others take their cards as they come. Then one group's worth ahead.
        m_photosWanted = std::min({SlideshowDovePresenter::photoCount(m_param), m_slides.size(), kMaxPhotosAhead});
        m_photosWanted = std::max<std::size_t>(m_photosWanted, 1);
        m_doveWaiting = true;
        readDoveScene();
        requestPhotos(); // they decode while the scene file is read and the sound system opens
        startMusic();
        return;
    }
    m_curIndex = -1;
    m_waitingForSlide = true;
    requestSlide(index); // decodes while the sound system opens
    startMusic();
}

void SlideshowViewController::startMusic()
{
    m_music->start(m_theme ? m_theme->musicFile : QString());
    if (m_paused)
        m_music->pause();
}

void SlideshowViewController::fallBackTo2D(const QString& why, long index)
{
    m_themeProblem = why;
    showNotice(kpv::Bundle::mainBundle().localizedStringWithFormat(QStringLiteral("IDS_SS_THEME_CANNOT_PLAY"),
                                                                    m_theme ? m_theme->name : QString(), why));
    m_dove.reset();
    m_photos.clear();
    m_doveWaiting = false;
    m_doveScene.reset();
    m_doveSceneRead = false;
    m_doveRestarting = false;
    m_curIndex = -1;
    m_waitingForSlide = true;
    requestSlide(index);
}

void SlideshowViewController::requestPhotos()
{
    if (!m_dove || m_slides.empty())
        return;
    while (m_photos.size() + std::size_t(m_photosLoading) < m_photosWanted) {
        const long index = m_nextPhotoIndex;
        m_nextPhotoIndex = nextIndex(index);
        ++m_photosLoading;
        loadSlide(index, &SlideshowViewController::photoLoaded);
    }
}

void SlideshowViewController::photoLoaded(unsigned long long generation, long index, QImage image)
{
    if (generation != m_generation || !m_playing || !m_dove)
        return;
    --m_photosLoading;
    if (image.isNull()) {
        if (slideFailed(index))
            return;
        // A step back onto a photo that cannot be shown goes on back, to the one before it; the
        // failures still count, so a list with nothing left to show ends the show.
        if (m_doveRestarting && index == m_doveStepTarget && m_stepDirection < 0) {
            const long failed = m_failedInARow;
            stepDoveTo(passOverIndex(index));
            m_failedInARow = failed;
            return;
        }
    } else {
        m_failedInARow = 0;
        m_goneSlides.erase(index); // decoded: its file is back
        const QSize reduced = reducedFor(image, m_loadedDecodeSize);
        m_photos.push_back({index, std::move(image), reduced, m_loadedFileState});
    }
    // A start or a step plays at once: the photos still decoding take their cards as they come.
    if (m_doveWaiting && !m_photos.empty()) {
        if (m_doveSceneRead) // else the theme starts once its scene has been read
            startDove();
    } else if (m_doveRestarting && !m_photos.empty())
        restartDove();
    else if (!m_doveWaiting && !m_doveRestarting && !m_photos.empty())
        fillDoveStandIns();
    requestPhotos();
}

void SlideshowViewController::readDoveScene()
{
    m_doveScene.reset();
    m_doveSceneRead = false;
    const SceneReader reader = m_sceneReader;
    if (!reader) {
        m_doveSceneRead = true; // the player reads the file itself
        return;
    }
    std::weak_ptr<bool> alive = m_alive;
    const unsigned long long generation = m_generation;
    m_sceneQueue->addOperationWithBlock([this, alive, generation, reader, theme = *m_theme] {
        std::shared_ptr<Dove::ZephraSceneFile> scene = reader(theme);
        kpv::RunLoop::performOnMainThread(
            [this, alive, generation, scene = std::move(scene)]() mutable {
                const auto a = alive.lock();
                // A show ended meanwhile (Esc during the start) drops what was read.
                if (!a || !*a || generation != m_generation || !m_playing || !m_dove || !m_doveWaiting)
                    return;
                m_doveScene = std::move(scene);
                m_doveSceneRead = true;
                if (!m_photos.empty())
                    startDove();
            },
            false);
    });
}

void SlideshowViewController::startDove()
{
    m_doveWaiting = false;
    std::weak_ptr<bool> alive = m_alive;
    QString error;
    const bool started = m_dove->start(*m_theme, m_param, [this, alive] {
        const auto a = alive.lock();
        return a && *a ? takePhoto() : QImage();
    }, &error, std::move(m_doveScene));
    m_doveScene.reset();
    if (!started) {
        const long from = m_photos.empty() ? m_nextPhotoIndex : m_photos.front().index;
        fallBackTo2D(error, from);
        return;
    }
    m_photosWanted = dovePhotosAhead();
    if (held())
        m_dove->pause();
    updateFileCheckTimer();
    if (!m_firstFrameDisplayed) {
        m_firstFrameDisplayed = true;
        kpv::NotificationCenter::defaultCenter().postNotification(
            QLatin1String(DidSlideshowFirstFrameDisplayedNotification), this);
    }
    requestPhotos();
}

QImage SlideshowViewController::takePhoto()
{
    // The photos decoding now are for the step's fresh start; until its first one comes, photos
    // shown before stand in.
    if (m_doveRestarting)
        return QImage();
    bool gone = false;
    while (!m_photos.empty() && slideGone(m_photos.front().index)) {
        m_photos.pop_front();
        gone = true;
    }
    if (m_photos.empty() || gone)
        forgetGoneStandIns(); // photos shown before stand in: none whose file is gone
    if (m_photos.empty()) {
        requestPhotos();
        return QImage(); // the mesh keeps its photo this time round
    }
    DovePhoto photo = std::move(m_photos.front());
    m_photos.pop_front();
    m_curIndex = photo.index;
    m_takenSlides.push_back(photo.index);
    m_takenReducedFor.push_back(photo.reducedFor);
    m_takenFileState.push_back(photo.state);
    if (m_takenSlides.size() > kTakenKept) {
        m_takenSlides.pop_front();
        m_takenReducedFor.pop_front();
        m_takenFileState.pop_front();
        ++m_takenFirst;
    }
    // Decoded before the window grew: a larger copy follows.
    const bool outgrownNow = outgrown(photo.reducedFor, decodeSize());
    // Not at once: the player is in the middle of binding a group.
    std::weak_ptr<bool> alive = m_alive;
    const unsigned long long generation = m_generation;
    kpv::RunLoop::main().perform([this, alive, generation, outgrownNow, index = photo.index] {
        const auto a = alive.lock();
        if (!a || !*a || generation != m_generation)
            return;
        requestPhotos();
        if (outgrownNow)
            requestDoveDecode(m_doveRedecoding, index, &SlideshowViewController::dovePhotoRedecoded);
        checkDoveFiles();
    });
    return photo.image;
}

bool SlideshowViewController::slideGone(long index) const
{
    return m_goneSlides.count(index) > 0;
}

void SlideshowViewController::checkDoveFiles()
{
    SlideshowPlayerDove* player = m_dove ? m_dove->player() : nullptr;
    if (!m_playing || !player || !m_fileCheck)
        return;
    if (m_checking) {
        m_checkAgain = true;
        return;
    }
    // The photos decoded ahead, and those on the cards or kept to stand in.
    std::set<long> slides;
    for (const DovePhoto& photo : m_photos)
        slides.insert(photo.index);
    if (player->isStarted())
        for (long number : player->photosInUse()) {
            const long at = number - m_takenFirst;
            if (at >= 0 && at < long(m_takenSlides.size()))
                slides.insert(m_takenSlides[std::size_t(at)]);
        }
    std::vector<std::pair<long, QString>> files;
    for (long index : slides)
        if (index >= 0 && index < long(m_slides.size()))
            files.emplace_back(index, m_slides[std::size_t(index)]->filePath().path());
    if (files.empty())
        return;
    m_checking = true;
    m_checkAgain = false;
    std::weak_ptr<bool> alive = m_alive;
    m_checkQueue->addOperationWithBlock([this, alive, files = std::move(files), check = m_fileCheck] {
        std::vector<std::pair<long, QString>> gone, there;
        std::map<long, FileState> now;
        for (const auto& file : files) {
            const FileState state = check(file.second);
            (state.exists ? there : gone).push_back(file);
            now[file.first] = state;
        }
        kpv::RunLoop::performOnMainThread(
            [this, alive, gone = std::move(gone), there = std::move(there), now = std::move(now)] {
                const auto a = alive.lock();
                if (a && *a)
                    doveFilesChecked(gone, there, now);
            },
            false);
    });
}

void SlideshowViewController::doveFilesChecked(const std::vector<std::pair<long, QString>>& gone,
                                               const std::vector<std::pair<long, QString>>& there,
                                               const std::map<long, FileState>& now)
{
    m_checking = false;
    // A check made for a slideshow that has ended since speaks of other files.
    const auto same = [this](const std::pair<long, QString>& file) {
        return file.first >= 0 && file.first < long(m_slides.size()) &&
               m_slides[std::size_t(file.first)]->filePath().path() == file.second;
    };
    bool newlyGone = false;
    for (const auto& file : there)
        if (same(file))
            m_goneSlides.erase(file.first);
    for (const auto& file : gone)
        if (same(file))
            newlyGone = m_goneSlides.insert(file.first).second || newlyGone;
    if (!m_playing || !m_dove)
        return;
    if (newlyGone) {
        // Gone before their turn: the photos decoded ahead are dropped and others decoded in
        // their place; those standing in stand in no more.
        const std::size_t before = m_photos.size();
        m_photos.erase(std::remove_if(m_photos.begin(), m_photos.end(),
                                      [this](const DovePhoto& photo) { return slideGone(photo.index); }),
                       m_photos.end());
        forgetGoneStandIns();
        // The cards still to come that show one take another photo now: a photo deleted while
        // its card waits behind the others never comes forward.
        if (SlideshowPlayerDove* player = m_dove->player(); player && player->isStarted())
            player->replacePhotos(gonePhotosInUse());
        if (m_photos.size() != before)
            requestPhotos();
    }
    for (const auto& file : there)
        if (same(file) && now.count(file.first) && rewrittenSinceDecoded(file.first, now.at(file.first)))
            requestDoveDecode(m_doveRewriting, file.first, &SlideshowViewController::dovePhotoRewritten);
    if (m_checkAgain)
        checkDoveFiles();
}

bool SlideshowViewController::rewrittenSinceDecoded(long index, const FileState& now) const
{
    for (const DovePhoto& photo : m_photos)
        if (photo.index == index && now.rewrittenSince(photo.state))
            return true;
    for (std::size_t at = 0; at < m_takenSlides.size(); ++at)
        if (m_takenSlides[at] == index && now.rewrittenSince(m_takenFileState[at]))
            return true;
    return false;
}

void SlideshowViewController::dovePhotoRewritten(unsigned long long generation, long index, QImage image)
{
    if (generation != m_generation)
        return;
    m_doveRewriting.erase(index);
    SlideshowPlayerDove* player = m_dove ? m_dove->player() : nullptr;
    if (!m_playing || !player)
        return;
    // Known as it is now also where it cannot be read (a file still being written): it is not
    // decoded again every second; the card keeps its picture until the theme comes round to it.
    const FileState state = m_loadedFileState;
    const QSize reduced = image.isNull() ? QSize() : reducedFor(image, m_loadedDecodeSize);
    for (std::size_t at = 0; at < m_takenSlides.size(); ++at) {
        if (m_takenSlides[at] != index)
            continue;
        m_takenFileState[at] = state;
        if (!image.isNull() && player->isStarted()) {
            player->replacePhoto(m_takenFirst + long(at), image);
            m_takenReducedFor[at] = reduced;
        }
    }
    for (DovePhoto& photo : m_photos)
        if (photo.index == index) {
            photo.state = state;
            if (!image.isNull()) {
                photo.image = image;
                photo.reducedFor = reduced;
            }
        }
}

void SlideshowViewController::updateFileCheckTimer()
{
    SlideshowPlayerDove* player = m_dove ? m_dove->player() : nullptr;
    const bool wanted = m_playing && !held() && player && player->isStarted();
    if (!wanted) {
        if (m_fileCheckTimer)
            m_fileCheckTimer->invalidate();
        m_fileCheckTimer.reset();
        return;
    }
    if (m_fileCheckTimer)
        return;
    m_fileCheckTimer = kpv::Timer::scheduled(kFileCheckInterval, true, [this](kpv::Timer&) { checkDoveFiles(); },
                                             kpv::TimerMode::Common);
}

void SlideshowViewController::forgetGoneStandIns()
{
    SlideshowPlayerDove* player = m_dove ? m_dove->player() : nullptr;
    if (!player || !player->isStarted())
        return;
    const std::vector<long> gone = gonePhotosInUse();
    if (!gone.empty())
        player->forgetPhotos(gone);
}

std::vector<long> SlideshowViewController::gonePhotosInUse() const
{
    SlideshowPlayerDove* player = m_dove ? m_dove->player() : nullptr;
    if (!player || !player->isStarted())
        return {};
    std::map<long, bool> goneSlides; // each file looked at once
    std::vector<long> gone;
    for (long number : player->photosInUse()) {
        const long at = number - m_takenFirst;
        if (at < 0 || at >= long(m_takenSlides.size()))
            continue;
        const long slide = m_takenSlides[std::size_t(at)];
        auto it = goneSlides.find(slide);
        if (it == goneSlides.end())
            it = goneSlides.emplace(slide, slideGone(slide)).first;
        if (it->second)
            gone.push_back(number);
    }
    return gone;
}

void SlideshowViewController::redecodeDovePhotos()
{
    SlideshowPlayerDove* player = m_dove ? m_dove->player() : nullptr;
    if (!player || !player->isStarted())
        return; // photos decoding for the start are looked at as they are taken
    const QSize now = decodeSize();
    for (long number : player->photosInUse()) {
        const long at = number - m_takenFirst;
        if (at >= 0 && at < long(m_takenSlides.size()) && outgrown(m_takenReducedFor[std::size_t(at)], now))
            requestDoveDecode(m_doveRedecoding, m_takenSlides[std::size_t(at)],
                              &SlideshowViewController::dovePhotoRedecoded);
    }
}

void SlideshowViewController::requestDoveDecode(std::set<long>& pending, long index, SlideLoaded loaded)
{
    if (index < 0 || index >= long(m_slides.size()) || !pending.insert(index).second)
        return;
    loadSlide(index, loaded);
}

void SlideshowViewController::dovePhotoRedecoded(unsigned long long generation, long index, QImage image)
{
    if (generation != m_generation)
        return;
    m_doveRedecoding.erase(index);
    SlideshowPlayerDove* player = m_dove ? m_dove->player() : nullptr;
    if (!m_playing || !player || image.isNull())
        return;
    const QSize decodedFor = m_loadedDecodeSize;
    const QSize reduced = reducedFor(image, decodedFor);
    // Every card and stand-in showing this slide smaller than it now is decoded gets the new copy.
    for (std::size_t at = 0; at < m_takenSlides.size(); ++at) {
        if (m_takenSlides[at] != index || !outgrown(m_takenReducedFor[at], decodedFor))
            continue;
        player->replacePhoto(m_takenFirst + long(at), image);
        m_takenReducedFor[at] = reduced;
    }
    // So do the photos decoded ahead for the smaller window.
    for (DovePhoto& photo : m_photos)
        if (photo.index == index && outgrown(photo.reducedFor, decodedFor)) {
            photo.image = image;
            photo.reducedFor = reduced;
        }
}

void SlideshowViewController::stepDoveTo(long target)
{
    if (!m_dove->player())
        return;
    // Photos decoded or on their way for the old order are dropped; the theme goes on meanwhile.
    ++m_generation;
    m_queue->cancelAllOperations();
    m_doveRedecoding.clear();
    m_doveRewriting.clear();
    m_photos.clear();
    m_photosLoading = 0;
    m_failedInARow = 0;
    m_nextPhotoIndex = target;
    m_doveStepTarget = target;
    m_doveRestarting = true;
    m_photosWanted = std::min({SlideshowDovePresenter::photoCount(m_param), m_slides.size(), kMaxPhotosAhead});
    m_photosWanted = std::max<std::size_t>(m_photosWanted, 1);
    requestPhotos();
}

long SlideshowViewController::slideOnScreen() const
{
    // Nothing on screen yet (the first photos still decoding): the slide the show starts from.
    if (m_curIndex < 0)
        return m_presentationStart;
    SlideshowPlayerDove* player = m_dove ? m_dove->player() : nullptr;
    if (!player || !player->isStarted())
        return m_curIndex;
    // A step still waiting for its photos: the photo it will start with.
    if (m_doveRestarting && m_doveStepTarget >= 0)
        return m_doveStepTarget;
    // The photo the user looks at, the card largest on screen. The player takes its photos ahead
    // of the screen, so the last one taken is not it.
    const long taken = player->photoOnScreen();
    if (taken >= m_takenFirst && taken - m_takenFirst < long(m_takenSlides.size()))
        return m_takenSlides[std::size_t(taken - m_takenFirst)];
    return m_curIndex;
}

void SlideshowViewController::restartDove()
{
    m_doveRestarting = false;
    m_doveStepTarget = -1;
    SlideshowPlayerDove* player = m_dove ? m_dove->player() : nullptr;
    if (!player)
        return;
    // The player numbers the photos it takes from 0 again.
    m_takenSlides.clear();
    m_takenReducedFor.clear();
    m_takenFileState.clear();
    m_takenFirst = 0;
    player->restart();
    m_photosWanted = dovePhotosAhead();
}

std::size_t SlideshowViewController::dovePhotosAhead() const
{
    // One group's worth, and enough for the cards that show a photo shown before.
    std::size_t wanted = 1;
    for (const QStringList& group : m_param.maskGroups)
        wanted = std::max(wanted, std::size_t(group.size()));
    if (SlideshowPlayerDove* player = m_dove ? m_dove->player() : nullptr)
        wanted = std::max(wanted, player->standInCount());
    return std::min(wanted, kMaxPhotosAhead);
}

void SlideshowViewController::fillDoveStandIns()
{
    SlideshowPlayerDove* player = m_dove ? m_dove->player() : nullptr;
    if (!player || !player->isStarted() || player->standInCount() == 0)
        return;
    player->fillStandIns();
    m_photosWanted = dovePhotosAhead();
}

void SlideshowViewController::togglePause()
{
    if (!m_playing)
        return;
    m_paused = !m_paused;
    if (m_bar)
        m_bar->setPaused(m_paused);
    if (m_music)
        m_paused ? m_music->pause() : m_music->resume();
    if (m_dove) {
        held() ? m_dove->pause() : m_dove->resume();
        updateFileCheckTimer();
        return;
    }
    if (m_paused) {
        // The slide on screen stays, its fade finished.
        stopTimers();
        if (m_viewGuard && m_view)
            m_view->setSlides(m_view->currentSlide(), QImage(), 1.0);
        m_previousImage = QImage();
        return;
    }
    if (m_heldOffScreen)
        return; // it goes on when its window is back on screen
    // The slide on screen gets its full time again; nothing on screen yet: the first one comes.
    if (m_curIndex < 0)
        advance();
    else
        scheduleNext();
}

// ---- controls ----

void SlideshowViewController::ensureMusicAndMenus()
{
    if (!m_music) {
        m_music = std::make_unique<SlideshowMusic>(m_mainConfig, m_sinkFactory ? m_sinkFactory() : makeSilentMusicSink());
        m_music->setProblemHandler([this](const QString& path, const QString&) {
            const kpv::Bundle& bundle = kpv::Bundle::mainBundle();
            showNotice(path.isEmpty() ? bundle.localizedString(QStringLiteral("IDS_SS_MUSIC_NO_OUTPUT"))
                                      : bundle.localizedStringWithFormat(QStringLiteral("IDS_SS_MUSIC_CANNOT_PLAY"),
                                                                         kpv::displayFileName(QFileInfo(path).fileName())));
        });
    }
    if (!m_menus) {
        SlideshowMenus::Handlers handlers;
        handlers.themeChosen = [this](const SlideshowTheme& t) { chooseTheme(t); };
        handlers.themeMusicChosen = [this] { m_music->chooseThemeMusic(); };
        handlers.userMusicChosen = [this](const LMPathString& p) { m_music->chooseUserMusic(p); };
        handlers.chooseMusic = [this] { chooseMusicFile(); };
        handlers.muteChosen = [this](bool mute) { m_music->setMuted(mute); };
        m_menus = std::make_unique<SlideshowMenus>(view(), m_music.get(), std::move(handlers));
    }
    if (m_themeMgr)
        m_menus->setThemes(m_themeMgr->themes(), m_theme ? m_theme->themeID : 0, m_theme ? m_theme->groupID : 0);
}

void SlideshowViewController::chooseMusicFile()
{
    auto panel = std::make_shared<kpv::OpenPanel>();
    panel->setTitle(kpv::Bundle::mainBundle().localizedString(QStringLiteral("IDS_SS_CHOOSE_MUSIC")));
    panel->setAllowedFileTypes({QStringLiteral("mp3"), QStringLiteral("m4a"), QStringLiteral("aac"), QStringLiteral("ogg"),
                                QStringLiteral("oga"), QStringLiteral("opus"), QStringLiteral("flac"), QStringLiteral("wav")});
    panel->setAllowedFileTypesName(kpv::Bundle::mainBundle().localizedString(QStringLiteral("IDS_SS_MUSIC_FILES")));
    std::weak_ptr<bool> alive = m_alive;
    kpv::Window* window = m_viewGuard && m_view ? m_view->window() : nullptr;
    panel->beginSheetModalForWindow(window, [this, alive, panel](long code) {
        const auto a = alive.lock();
        if (!a || !*a || code != 1 || panel->URL().isEmpty() || !m_music)
            return;
        m_music->chooseUserMusic(LMPathString(panel->URL(), false));
    });
}

kpv::Point SlideshowViewController::windowPointAbove(kpv::View* button) const
{
    const kpv::Rect r = button->convertRectToView(button->bounds(), nullptr);
    return kpv::Point{r.origin.x + r.width() / 2, r.origin.y + r.height() + 14};
}

void SlideshowViewController::controlBarThemesClicked(LMButton* button)
{
    ensureMusicAndMenus();
    m_menus->showThemes(windowPointAbove(button));
}

void SlideshowViewController::controlBarMusicClicked(LMButton* button)
{
    ensureMusicAndMenus();
    m_menus->showMusic(windowPointAbove(button), false);
}

void SlideshowViewController::controlBarMusicHovered(LMButton* button, bool inside)
{
    ensureMusicAndMenus();
    if (inside)
        m_menus->showMusic(windowPointAbove(button), true);
    else
        m_menus->hideMusic(true);
}

void SlideshowViewController::showControls()
{
    if (!m_playing || !m_bar || !m_viewGuard)
        return;
    if (m_bar->isHidden()) {
        m_bar->placeIn(view()->bounds());
        m_bar->setHidden(false);
    }
    hideControlsLater();
}

void SlideshowViewController::showNotice(const QString& text)
{
    if (!m_playing || !m_notice || !m_viewGuard)
        return;
    // A second message while one shows (the music and the theme at the same start) is added
    // below it rather than hiding it.
    QStringList messages;
    if (!m_notice->isHidden())
        messages = m_notice->text().split(QChar::LineSeparator, Qt::SkipEmptyParts);
    messages.removeAll(text);
    messages << text;
    m_notice->setText(messages.mid(std::max<qsizetype>(0, messages.size() - 2)).join(QChar::LineSeparator));
    m_notice->placeIn(view()->bounds());
    m_notice->setHidden(false);
    if (m_noticeTimer)
        m_noticeTimer->invalidate();
    m_noticeTimer = kpv::Timer::scheduled(kNoticeDuration, false, [this](kpv::Timer&) {
        m_noticeTimer.reset();
        if (m_notice && m_viewGuard)
            m_notice->setHidden(true);
    }, kpv::TimerMode::Common);
}

void SlideshowViewController::hideControlsLater()
{
    if (m_controlsTimer)
        m_controlsTimer->invalidate();
    m_controlsTimer = kpv::Timer::scheduled(kControlsHideDelay, false, [this](kpv::Timer&) {
        m_controlsTimer.reset();
        // An open menu keeps the controls, and so does the pointer resting on them: hidden under
        // it, the click meant for a button would land on the slideshow and end it.
        if ((m_menus && m_menus->isAnyShown()) || (m_bar && m_viewGuard && m_bar->isPointerInside())) {
            hideControlsLater();
            return;
        }
        if (m_bar && m_viewGuard)
            m_bar->setHidden(true);
    }, kpv::TimerMode::Common);
}
