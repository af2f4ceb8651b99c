#include "Slideshow/SlideshowMusic.h"

#include "Model/MainConfig.h"
#include "foundation/FileNames.h"

namespace {
// Looked at by the bytes of the name: a name that is not UTF-8 is still the user's file.
bool isMusicFile(const QString& path) { return !path.isEmpty() && kpv::pathStatus(path).isRegularFile; }
} // namespace

SlideshowMusic::SlideshowMusic(MainConfig* config, std::unique_ptr<SlideshowMusicSink> sink)
    : m_config(config)
    , m_sink(std::move(sink))
{
    m_sink->setErrorHandler([this](const QString& path, const QString& why) { fileFailed(path, why); });
    m_sink->setOutputErrorHandler([this](const QString& why) { outputFailed(why); });
}

SlideshowMusic::~SlideshowMusic()
{
    m_sink->setErrorHandler({});
    m_sink->setOutputErrorHandler({});
    m_sink->play(QString());
}

QString SlideshowMusic::musicToPlay(const QString& themeMusic, bool useThemeMusic, const std::optional<LMPathString>& userFile)
{
    if (!useThemeMusic && userFile && isMusicFile(userFile->path()))
        return userFile->path();
    return isMusicFile(themeMusic) ? themeMusic : QString();
}

bool SlideshowMusic::isMuted() const { return m_config ? m_config->slideshowMute() : m_mutedWithoutConfig; }

bool SlideshowMusic::isUsingThemeMusic() const { return !m_config || m_config->isUsingDefaultThemeBkgrdMusic(); }

std::vector<LMPathString> SlideshowMusic::recentMusicPaths() const
{
    return m_config ? m_config->recentMusicPaths() : std::vector<LMPathString>();
}

std::optional<LMPathString> SlideshowMusic::userMusicPath() const
{
    return m_config ? m_config->curPlayingMusicPath() : std::nullopt;
}

void SlideshowMusic::start(const QString& themeMusic)
{
    // Another theme chosen while the slideshow plays is the same slideshow: what the user was told
    // stays told. A new slideshow tells again.
    if (!m_playing) {
        m_toldMissing.clear();
        m_outputProblem.clear();
        m_toldOutputProblem = false;
    }
    m_themeMusic = themeMusic;
    m_playing = true;
    m_paused = false;
    m_current.clear();
    apply();
}

void SlideshowMusic::apply()
{
    m_sink->setMuted(isMuted());
    if (!m_playing)
        return;
    const QString path = musicToPlay(m_themeMusic, isUsingThemeMusic(), userMusicPath());
    // The file the user chose (or the theme's own) that was moved, deleted or is on a drive taken
    // away: the show goes on with what can play, and the user is told why the music changed.
    const std::optional<LMPathString> user = isUsingThemeMusic() ? std::nullopt : userMusicPath();
    const QString wanted = user ? user->path() : m_themeMusic;
    if (!wanted.isEmpty() && path != wanted && wanted != m_toldMissing) {
        m_toldMissing = wanted;
        if (m_onProblem)
            m_onProblem(wanted, QStringLiteral("the file is not there"));
    }
    if (path == m_current)
        return;
    m_current = path;
    m_sink->play(path);
    if (m_paused)
        m_sink->pause();
}

void SlideshowMusic::pause()
{
    if (!m_playing || m_paused)
        return;
    m_paused = true;
    m_sink->pause();
}

void SlideshowMusic::resume()
{
    if (!m_playing || !m_paused)
        return;
    m_paused = false;
    m_sink->resume();
}

void SlideshowMusic::stop()
{
    m_playing = false;
    m_paused = false;
    m_current.clear();
    m_sink->play(QString());
}

void SlideshowMusic::chooseThemeMusic()
{
    if (m_config)
        m_config->setCurPlayingMusic(true, std::nullopt, true);
    apply();
}

void SlideshowMusic::chooseUserMusic(const LMPathString& path)
{
    if (m_config)
        m_config->setCurPlayingMusic(false, path, true);
    apply();
}

void SlideshowMusic::setMuted(bool muted)
{
    if (m_config)
        m_config->setSlideshowMute(muted);
    else
        m_mutedWithoutConfig = muted;
    m_sink->setMuted(muted);
    tellOutputProblem();
}

void SlideshowMusic::fileFailed(const QString& path, const QString& why)
{
    if (path != m_current)
        return;
    const bool usersFile = path != m_themeMusic;
    if (usersFile && m_config) {
        // The user's choice stays in the list; this slideshow goes on with the theme's music.
        m_current = isMusicFile(m_themeMusic) ? m_themeMusic : QString();
        m_sink->play(m_current);
        if (m_paused)
            m_sink->pause();
    } else {
        m_current.clear();
        m_sink->play(QString());
    }
    if (m_onProblem)
        m_onProblem(path, why);
}

void SlideshowMusic::outputFailed(const QString& why)
{
    m_outputProblem = why;
    tellOutputProblem();
}

void SlideshowMusic::tellOutputProblem()
{
    // Muted, the user hears nothing either way: told when the sound is turned on.
    if (m_outputProblem.isEmpty() || m_toldOutputProblem || isMuted())
        return;
    m_toldOutputProblem = true;
    if (m_onProblem)
        m_onProblem(QString(), m_outputProblem);
}
