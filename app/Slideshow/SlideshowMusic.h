#pragma once
// The slideshow's background music: the theme's own music, or a file of the user's own from the
// settings' music list, played round and round while the slideshow runs, quiet when the
// settings say mute. The decisions live here; the sound itself goes through a sink (Qt
// Multimedia in the program, a fake in tests). A user's file that cannot be played gives way to
// the theme's music and is reported once. Main thread only.

#include "Model/LMPathString.h"

#include <QAudioFormat>
#include <QString>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class MainConfig;
class QIODevice;

class SlideshowMusicSink {
public:
    virtual ~SlideshowMusicSink() = default;
    // Plays the file from its start, again and again; an empty path stops.
    virtual void play(const QString& path) = 0;
    virtual void pause() = 0;
    virtual void resume() = 0;
    virtual void setMuted(bool muted) = 0;
    // Told once per file that cannot be played, with the reason.
    virtual void setErrorHandler(std::function<void(const QString& path, const QString& why)> handler) = 0;
    // Told when the sound cannot be heard at all (no sound output, or one that will not open),
    // with the reason; no file is at fault.
    virtual void setOutputErrorHandler(std::function<void(const QString& why)> handler) = 0;
};

// Where decoded samples go. The output pulls them from `source` as it plays; suspend() stops the
// pulling, resume() goes on, stop() lets go of the source.
class SlideshowAudioOutput {
public:
    virtual ~SlideshowAudioOutput() = default;
    // Empty when the samples are being played; otherwise why they cannot be heard.
    [[nodiscard]] virtual QString start(QIODevice* source, const QAudioFormat& format) = 0;
    virtual void suspend() = 0;
    virtual void resume() = 0;
    virtual void stop() = 0;
};

// The machine's default sound device; without one, the samples go nowhere and start() says so.
std::unique_ptr<SlideshowAudioOutput> makeSoundDeviceOutput();

// The sink on Qt Multimedia: the file is decoded and its samples go round and round into
// `output`, silence while muted. At most kMaxDecodedBytes of a long file are kept and repeated.
std::unique_ptr<SlideshowMusicSink> makeSlideshowAudioSink(std::unique_ptr<SlideshowAudioOutput> output);
constexpr qint64 kMaxDecodedBytes = 48ll * 1024 * 1024;

// A sink that plays nothing and never touches the sound system.
std::unique_ptr<SlideshowMusicSink> makeSilentMusicSink();

class SlideshowMusic {
public:
    // `config` (not owned, may be null: then the theme's music plays, unmuted) keeps the choice.
    SlideshowMusic(MainConfig* config, std::unique_ptr<SlideshowMusicSink> sink);
    ~SlideshowMusic();
    SlideshowMusic(const SlideshowMusic&) = delete;
    SlideshowMusic& operator=(const SlideshowMusic&) = delete;

    // The file to play: the user's when chosen and present, else the theme's (empty: none).
    static QString musicToPlay(const QString& themeMusic, bool useThemeMusic, const std::optional<LMPathString>& userFile);

    // Starts the music for a theme; paused or stopped music starts again.
    void start(const QString& themeMusic);
    void pause();
    void resume();
    void stop();

    // The choices of the music pop-up; each takes effect at once and is kept in the settings.
    void chooseThemeMusic();
    void chooseUserMusic(const LMPathString& path);
    void setMuted(bool muted);

    bool isMuted() const;
    bool isUsingThemeMusic() const;
    std::vector<LMPathString> recentMusicPaths() const;
    std::optional<LMPathString> userMusicPath() const;
    // What plays now ("" when nothing does).
    QString currentPath() const { return m_current; }
    bool isPlaying() const { return m_playing && !m_paused; }
    // Called when a music file could not be played, or is not there (its path and why); with an
    // empty path when no music can be heard on this machine, once a slideshow and only unmuted.
    void setProblemHandler(std::function<void(const QString&, const QString&)> handler) { m_onProblem = std::move(handler); }

private:
    void apply();
    void fileFailed(const QString& path, const QString& why);
    void outputFailed(const QString& why);
    void tellOutputProblem();

    MainConfig* m_config;
    std::unique_ptr<SlideshowMusicSink> m_sink;
    std::function<void(const QString&, const QString&)> m_onProblem;
    QString m_themeMusic;
    QString m_current;
    // The file wanted but missing that the user was told of since the music started.
    QString m_toldMissing;
    // Why no sound can be heard, until the user is told (held while muted).
    QString m_outputProblem;
    bool m_toldOutputProblem = false;
    bool m_playing = false;
    bool m_paused = false;
    bool m_mutedWithoutConfig = false;
};
