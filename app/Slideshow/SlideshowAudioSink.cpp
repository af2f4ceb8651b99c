// The slideshow's music on Qt Multimedia.
#include "Slideshow/SlideshowMusic.h"

#include <QAudioOutput>
#include <QMediaPlayer>
#include <QUrl>

namespace {

class QtAudioSink final : public SlideshowMusicSink {
public:
    QtAudioSink()
    {
        m_player.setAudioOutput(&m_output);
        m_player.setLoops(QMediaPlayer::Infinite);
        QObject::connect(&m_player, &QMediaPlayer::errorOccurred, [this](QMediaPlayer::Error, const QString& why) {
            if (m_onError && !m_path.isEmpty() && !m_reported) {
                m_reported = true;
                m_onError(m_path, why);
            }
        });
    }
    ~QtAudioSink() override
    {
        QObject::disconnect(&m_player, nullptr, nullptr, nullptr);
        m_player.stop();
    }

    void play(const QString& path) override
    {
        m_path = path;
        m_reported = false;
        m_player.stop();
        m_player.setSource(path.isEmpty() ? QUrl() : QUrl::fromLocalFile(path));
        if (!path.isEmpty())
            m_player.play();
    }
    void pause() override { m_player.pause(); }
    void resume() override
    {
        if (!m_path.isEmpty())
            m_player.play();
    }
    void setMuted(bool muted) override { m_output.setMuted(muted); }
    void setErrorHandler(std::function<void(const QString&, const QString&)> handler) override
    {
        m_onError = std::move(handler);
    }

private:
    QMediaPlayer m_player;
    QAudioOutput m_output;
    QString m_path;
    bool m_reported = false;
    std::function<void(const QString&, const QString&)> m_onError;
};

} // namespace

std::unique_ptr<SlideshowMusicSink> makeSlideshowAudioSink() { return std::make_unique<QtAudioSink>(); }
