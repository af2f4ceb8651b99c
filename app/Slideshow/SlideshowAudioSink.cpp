// The slideshow's music on Qt Multimedia: a decoder turns the file into samples, which go round
// and round into an audio output (the sound device in the program).
#include "Slideshow/SlideshowMusic.h"

#include "foundation/FileNames.h"

#include <QAudioBuffer>
#include <QAudioDecoder>
#include <QAudioDevice>
#include <QAudioSink>
#include <QFile>
#include <QIODevice>
#include <QMediaDevices>
#include <QUrl>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Opens the music file by the bytes of its name (a name that is not UTF-8 would name another file
// once made a URL, so the decoder reads such a file through this one) and only when it is a
// regular file: a FIFO named like a song would hold the decoder for good. Null, with the reason in
// `why`, for anything else.
std::unique_ptr<QFile> openMusicFile(const QString& path, QString* why)
{
    const int fd = ::open(kpv::encodeFileName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        *why = QString::fromLocal8Bit(std::strerror(errno));
        return nullptr;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        *why = QStringLiteral("not a regular file");
        ::close(fd);
        return nullptr;
    }
    auto file = std::make_unique<QFile>();
    if (!file->open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        *why = file->errorString();
        ::close(fd);
        return nullptr;
    }
    return file;
}

// The decoded samples, read out in whole frames, from the start again once the whole file is in.
// While the decoder has not caught up, a read gives what there is (perhaps nothing). Silence
// while muted.
class LoopingSamples final : public QIODevice {
public:
    LoopingSamples() { open(QIODevice::ReadOnly | QIODevice::Unbuffered); }

    void reset(int frameBytes)
    {
        m_data.clear();
        m_pos = 0;
        m_complete = false;
        m_frameBytes = std::max(1, frameBytes);
    }
    // False once the cap is reached (the rest of the file is not kept).
    bool append(const char* data, qint64 size)
    {
        const qint64 room = kMaxDecodedBytes - m_data.size();
        size = std::min(size, room);
        size -= size % m_frameBytes;
        if (size > 0)
            m_data.append(data, size);
        return m_data.size() + m_frameBytes <= kMaxDecodedBytes;
    }
    void setComplete() { m_complete = true; }
    bool isEmpty() const { return m_data.isEmpty(); }
    void setMuted(bool muted) { m_muted = muted; }

    bool isSequential() const override { return true; }
    qint64 bytesAvailable() const override
    {
        return (m_complete ? (m_data.isEmpty() ? 0 : qint64(1) << 20) : m_data.size() - m_pos) + QIODevice::bytesAvailable();
    }

protected:
    qint64 readData(char* out, qint64 max) override
    {
        max -= max % m_frameBytes;
        if (max <= 0 || (m_complete && m_data.isEmpty()))
            return 0;
        qint64 done = 0;
        while (done < max) {
            if (m_pos >= m_data.size()) {
                if (!m_complete || m_data.isEmpty())
                    break;
                m_pos = 0;
            }
            const qint64 n = std::min(max - done, qint64(m_data.size()) - m_pos);
            std::memcpy(out + done, m_data.constData() + m_pos, size_t(n));
            m_pos += n;
            done += n;
        }
        if (m_muted)
            std::memset(out, 0, size_t(done));
        return done;
    }
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    QByteArray m_data;
    qint64 m_pos = 0;
    int m_frameBytes = 1;
    bool m_complete = false;
    bool m_muted = false;
};

class QtAudioSink final : public SlideshowMusicSink {
public:
    explicit QtAudioSink(std::unique_ptr<SlideshowAudioOutput> output)
        : m_output(std::move(output))
    {
    }
    ~QtAudioSink() override { stopAll(); }

    void play(const QString& path) override
    {
        stopAll();
        m_path = path;
        m_reported = false;
        if (path.isEmpty())
            return;
        QString why;
        m_file = openMusicFile(path, &why);
        if (!m_file) {
            failed(why); // the handler may start another file: nothing of this one is left
            return;
        }
        m_decoder = std::make_unique<QAudioDecoder>();
        QAudioFormat wanted;
        wanted.setSampleRate(44100);
        wanted.setChannelCount(2);
        wanted.setSampleFormat(QAudioFormat::Int16);
        m_decoder->setAudioFormat(wanted);
        QAudioDecoder* decoder = m_decoder.get();
        QObject::connect(decoder, &QAudioDecoder::bufferReady, decoder, [this] {
            InSignal in(m_inSignal);
            takeBuffers();
        });
        QObject::connect(decoder, &QAudioDecoder::finished, decoder, [this] {
            InSignal in(m_inSignal);
            decodingFinished();
        });
        QObject::connect(decoder, qOverload<QAudioDecoder::Error>(&QAudioDecoder::error), decoder,
                         [this](QAudioDecoder::Error) {
                             InSignal in(m_inSignal);
                             failed(m_decoder ? m_decoder->errorString() : QString());
                         });
        if (kpv::fileNameHasRawBytes(path)) {
            m_decoder->setSourceDevice(m_file.get());
        } else {
            // A name the decoder can reach goes to it as a URL, for it to read as it reads any
            // file, on its own time.
            m_file.reset();
            m_decoder->setSource(QUrl::fromLocalFile(path));
        }
        m_decoder->start();
    }
    void pause() override
    {
        m_paused = true;
        if (m_outputStarted)
            m_output->suspend();
    }
    void resume() override
    {
        m_paused = false;
        if (m_outputStarted)
            m_output->resume();
    }
    void setMuted(bool muted) override { m_samples.setMuted(muted); }
    void setErrorHandler(std::function<void(const QString&, const QString&)> handler) override
    {
        m_onError = std::move(handler);
    }
    void setOutputErrorHandler(std::function<void(const QString&)> handler) override { m_onOutputError = std::move(handler); }

private:
    struct InSignal {
        explicit InSignal(int& depth) : d(depth) { ++d; }
        ~InSignal() { --d; }
        int& d;
    };

    void takeBuffers()
    {
        while (m_decoder && m_decoder->bufferAvailable()) {
            const QAudioBuffer buffer = m_decoder->read();
            if (!buffer.isValid())
                continue;
            if (!m_outputStarted) {
                m_format = buffer.format();
                m_samples.reset(m_format.bytesPerFrame());
            } else if (buffer.format() != m_format) {
                continue; // a stream that changes its format half-way keeps the first one
            }
            if (!m_samples.append(buffer.constData<char>(), buffer.byteCount())) {
                // Long enough: what is kept plays round and round.
                m_samples.setComplete();
                m_decoder->stop();
            }
            if (!m_outputStarted && !m_samples.isEmpty()) {
                m_outputStarted = true;
                const QString unheard = m_output->start(&m_samples, m_format);
                if (!unheard.isEmpty() && m_onOutputError)
                    m_onOutputError(unheard);
                if (m_paused)
                    m_output->suspend();
            }
        }
    }
    void decodingFinished()
    {
        takeBuffers();
        m_samples.setComplete();
        if (m_samples.isEmpty())
            failed(QStringLiteral("the file holds no sound"));
    }
    void failed(const QString& why)
    {
        if (m_reported || m_path.isEmpty())
            return;
        m_reported = true;
        const QString path = m_path;
        if (m_onError)
            m_onError(path, why.isEmpty() ? QStringLiteral("the file cannot be decoded") : why);
    }
    void stopAll()
    {
        if (m_outputStarted)
            m_output->stop();
        m_outputStarted = false;
        if (m_decoder) {
            QObject::disconnect(m_decoder.get(), nullptr, nullptr, nullptr);
            m_decoder->stop();
            // Told of a failure by the decoder itself, the handler may start another file: the
            // decoder that is speaking goes when its signal has returned.
            if (m_inSignal > 0)
                m_decoder.release()->deleteLater();
            else
                m_decoder.reset();
        }
        // The decoder that read it has gone (or goes once its signal has returned, holding it).
        if (m_file && m_inSignal > 0)
            m_file.release()->deleteLater();
        m_file.reset();
        m_samples.reset(1);
    }

    std::unique_ptr<SlideshowAudioOutput> m_output;
    std::unique_ptr<QAudioDecoder> m_decoder;
    std::unique_ptr<QFile> m_file;
    LoopingSamples m_samples;
    QAudioFormat m_format;
    QString m_path;
    bool m_outputStarted = false;
    bool m_paused = false;
    bool m_reported = false;
    int m_inSignal = 0;
    std::function<void(const QString&, const QString&)> m_onError;
    std::function<void(const QString&)> m_onOutputError;
};

class SoundDeviceOutput final : public SlideshowAudioOutput {
public:
    QString start(QIODevice* source, const QAudioFormat& format) override
    {
        stop();
        // Without a sound device the slideshow goes on without sound, and says so.
        const QAudioDevice device = QMediaDevices::defaultAudioOutput();
        if (device.isNull())
            return QStringLiteral("no sound output was found");
        m_sink = std::make_unique<QAudioSink>(device, format);
        m_sink->start(source);
        if (m_sink->error() == QAudio::OpenError)
            return QStringLiteral("the sound output cannot be opened");
        return QString();
    }
    void suspend() override
    {
        if (m_sink)
            m_sink->suspend();
    }
    void resume() override
    {
        if (m_sink)
            m_sink->resume();
    }
    void stop() override
    {
        if (m_sink)
            m_sink->stop();
        m_sink.reset();
    }

private:
    std::unique_ptr<QAudioSink> m_sink;
};

class SilentMusicSink final : public SlideshowMusicSink {
public:
    void play(const QString&) override {}
    void pause() override {}
    void resume() override {}
    void setMuted(bool) override {}
    void setErrorHandler(std::function<void(const QString&, const QString&)>) override {}
    void setOutputErrorHandler(std::function<void(const QString&)>) override {}
};

} // namespace

std::unique_ptr<SlideshowAudioOutput> makeSoundDeviceOutput() { return std::make_unique<SoundDeviceOutput>(); }

std::unique_ptr<SlideshowMusicSink> makeSlideshowAudioSink(std::unique_ptr<SlideshowAudioOutput> output)
{
    return std::make_unique<QtAudioSink>(std::move(output));
}

std::unique_ptr<SlideshowMusicSink> makeSilentMusicSink() { return std::make_unique<SilentMusicSink>(); }
