// The slideshow's music as it sounds: a file decoded by Qt Multimedia, its samples pulled by a
// capture output of the test's own (no sound card, no sound server). Samples flow, pause stops
// them, mute turns them to silence, the music goes round, and a file that cannot be decoded gives
// way to the theme's music while the slideshow goes on.
#include "Slideshow/SlideshowMusic.h"

#include "Model/MainConfig.h"
#include "foundation/FileNames.h"
#include "foundation/UserDefaults.h"

#include <QCoreApplication>
#include <QDataStream>
#include <QElapsedTimer>
#include <QFile>
#include <QIODevice>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <thread>

// Qt Multimedia probes the machine's devices once, when first used, and the device providers keep
// what they made until exit: whole stacks let the leak check's suppressions recognise that.
extern "C" const char* __asan_default_options() { return "fast_unwind_on_malloc=0"; }

namespace {

// What the capture output was given; the test pulls from it as a sound card would.
struct Capture {
    QIODevice* source = nullptr;
    QAudioFormat format;
    bool suspended = false;
    int starts = 0;
    QString refusal; // what start() says: the sound cannot be heard

    QByteArray pull(qint64 bytes) { return source && !suspended ? source->read(bytes) : QByteArray(); }
};

class CaptureOutput final : public SlideshowAudioOutput {
public:
    explicit CaptureOutput(std::shared_ptr<Capture> c) : m_c(std::move(c)) {}
    QString start(QIODevice* source, const QAudioFormat& format) override
    {
        m_c->source = source;
        m_c->format = format;
        m_c->suspended = false;
        ++m_c->starts;
        return m_c->refusal;
    }
    void suspend() override { m_c->suspended = true; }
    void resume() override { m_c->suspended = false; }
    void stop() override { m_c->source = nullptr; }

private:
    std::shared_ptr<Capture> m_c;
};

// A 16-bit stereo WAV file of `seconds` of a 440 Hz tone.
bool writeTone(const QString& path, double seconds)
{
    const int rate = 44100, frames = int(rate * seconds);
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return false;
    QDataStream out(&f);
    out.setByteOrder(QDataStream::LittleEndian);
    const quint32 dataBytes = quint32(frames) * 4;
    out.writeRawData("RIFF", 4);
    out << quint32(36 + dataBytes);
    out.writeRawData("WAVEfmt ", 8);
    out << quint32(16) << quint16(1) << quint16(2) << quint32(rate) << quint32(rate * 4) << quint16(4) << quint16(16);
    out.writeRawData("data", 4);
    out << dataBytes;
    for (int i = 0; i < frames; ++i) {
        const qint16 v = qint16(8000 * std::sin(2 * M_PI * 440 * i / rate));
        out << v << v;
    }
    return f.error() == QFile::NoError;
}

bool hasSound(const QByteArray& pcm)
{
    const auto* s = reinterpret_cast<const qint16*>(pcm.constData());
    for (qsizetype i = 0; i < pcm.size() / 2; ++i)
        if (std::abs(s[i]) > 1000)
            return true;
    return false;
}

bool allSilent(const QByteArray& pcm) { return !pcm.isEmpty() && pcm.count('\0') == pcm.size(); }

// Lets the decoder's threads hand their buffers over, until `done` or a generous limit.
bool waitFor(const std::function<bool()>& done)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > 20000)
            return false;
        QCoreApplication::processEvents();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

class MusicSoundTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        // No sound server of the machine is asked, not even for its list of devices.
        qputenv("PULSE_SERVER", dir.filePath("no-sound-server").toUtf8());
        theme = dir.filePath("theme.wav");
        ASSERT_TRUE(writeTone(theme, 0.5));
    }
    void TearDown() override
    {
        music.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    void startMusic(MainConfig* config)
    {
        music = std::make_unique<SlideshowMusic>(config, makeSlideshowAudioSink(std::make_unique<CaptureOutput>(capture)));
        music->setProblemHandler([this](const QString& path, const QString& why) {
            problems << path;
            reasons << why;
        });
    }
    // The first samples of the current file, or a skip where this machine decodes no WAV.
    void awaitSamples()
    {
        const bool started = waitFor([this] { return capture->source != nullptr || !problems.isEmpty(); });
        if (!started || (problems.contains(theme) && capture->source == nullptr))
            GTEST_SKIP() << "Qt Multimedia on this machine decodes no WAV file";
    }

    QTemporaryDir dir;
    QString theme;
    std::shared_ptr<Capture> capture = std::make_shared<Capture>();
    std::unique_ptr<SlideshowMusic> music;
    QStringList problems;
    QStringList reasons;
};

TEST_F(MusicSoundTest, NoSoundOutputIsToldOnceAndOnlyWhenTheUserWouldHearTheMusic)
{
    capture->refusal = QStringLiteral("no sound output was found");
    startMusic(nullptr);
    music->setMuted(true);
    music->start(theme);
    awaitSamples();
    if (IsSkipped())
        return;
    // Muted, nothing is missed; the sound turned on, the user learns why there is none, once,
    // without the music being blamed.
    EXPECT_TRUE(problems.isEmpty());
    music->setMuted(false);
    music->setMuted(true);
    music->setMuted(false);
    EXPECT_EQ(problems, QStringList{QString()});
    EXPECT_EQ(reasons, QStringList{capture->refusal});
    EXPECT_EQ(music->currentPath(), theme);
    // Another theme chosen during the slideshow starts its own music, and tells nothing new.
    const QString otherTheme = dir.filePath("other-theme.wav");
    ASSERT_TRUE(writeTone(otherTheme, 0.5));
    music->start(otherTheme);
    EXPECT_TRUE(waitFor([this] { return capture->starts >= 2; }));
    EXPECT_EQ(problems.size(), 1);
    // A new slideshow tells again.
    music->stop();
    music->start(theme);
    EXPECT_TRUE(waitFor([this] { return problems.size() == 2; }));
}

TEST_F(MusicSoundTest, SamplesFlowPauseStopsThemMuteSilencesThemAndTheMusicGoesRound)
{
    startMusic(nullptr);
    music->start(theme);
    awaitSamples();
    if (IsSkipped())
        return;
    EXPECT_EQ(capture->format.sampleFormat(), QAudioFormat::Int16);
    ASSERT_GT(capture->format.bytesPerFrame(), 0);
    const qint64 second = qint64(capture->format.sampleRate()) * capture->format.bytesPerFrame();
    ASSERT_TRUE(waitFor([&] { return hasSound(capture->pull(4096)); }));

    // Pulled in whole frames as a sound card pulls, block by block while the decoder goes on:
    // three seconds of a half-second file, every block of it sound.
    qint64 total = 0;
    int silentBlocks = 0, brokenFrames = 0;
    ASSERT_TRUE(waitFor([&] {
        const QByteArray block = capture->pull(4096);
        if (!block.isEmpty()) {
            total += block.size();
            silentBlocks += !hasSound(block);
            brokenFrames += block.size() % capture->format.bytesPerFrame() != 0;
        }
        return total >= 3 * second;
    }));
    EXPECT_EQ(silentBlocks, 0);
    EXPECT_EQ(brokenFrames, 0);

    music->pause();
    EXPECT_TRUE(capture->pull(4096).isEmpty());
    music->resume();
    EXPECT_TRUE(hasSound(capture->pull(second / 4)));

    music->setMuted(true);
    EXPECT_TRUE(allSilent(capture->pull(second / 4)));
    music->setMuted(false);
    EXPECT_TRUE(hasSound(capture->pull(second / 4)));

    // Stopped: the output lets go of the samples.
    music->stop();
    EXPECT_EQ(capture->source, nullptr);
    EXPECT_TRUE(problems.isEmpty());
}

TEST_F(MusicSoundTest, AFileThatCannotBeDecodedGivesWayToTheThemesMusic)
{
    kpv::UserDefaults defaults(dir.filePath("settings.json"));
    MainConfig config(defaults);
    const QString broken = dir.filePath("broken.wav");
    {
        QFile f(broken);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QByteArray("RIFF\x10\0\0\0WAVEjunk", 16) + QByteArray(3000, '\x5a'));
    }
    startMusic(&config);
    music->chooseUserMusic(LMPathString(broken, false));
    music->start(theme);
    EXPECT_EQ(music->currentPath(), broken);
    ASSERT_TRUE(waitFor([&] { return !problems.isEmpty(); })) << "the broken file was never reported";
    EXPECT_EQ(problems, QStringList{broken});
    EXPECT_EQ(music->currentPath(), theme);
    awaitSamples();
    if (IsSkipped())
        return;
    EXPECT_TRUE(waitFor([&] { return hasSound(capture->pull(4096)); }));
    EXPECT_EQ(problems.size(), 1);

    // A user's file that is gone is passed over, and the user is told why nothing changed.
    music->chooseUserMusic(LMPathString(dir.filePath("gone.mp3"), false));
    EXPECT_EQ(music->currentPath(), theme);
    EXPECT_EQ(problems, QStringList({broken, dir.filePath("gone.mp3")}));
}

TEST_F(MusicSoundTest, TheUsersFileWhoseNameIsNotUtf8Plays)
{
    kpv::UserDefaults defaults(dir.filePath("settings.json"));
    MainConfig config(defaults);
    // "mélodie.wav" written in Latin-1, as a disk from another system may hold it.
    const QByteArray bytes = QFile::encodeName(dir.path()) + "/m\xe9lodie.wav";
    const QString song = kpv::decodeFileName(bytes);
    ASSERT_TRUE(writeTone(dir.filePath("tone.wav"), 0.5));
    ASSERT_EQ(std::rename(QFile::encodeName(dir.filePath("tone.wav")).constData(), bytes.constData()), 0);
    startMusic(&config);
    music->chooseUserMusic(LMPathString(song, false));
    music->start(theme);
    EXPECT_EQ(music->currentPath(), song);
    awaitSamples();
    if (IsSkipped())
        return;
    EXPECT_TRUE(waitFor([&] { return hasSound(capture->pull(4096)); }));
    EXPECT_TRUE(problems.isEmpty()) << reasons.join(", ").toStdString();
    EXPECT_EQ(music->currentPath(), song);
}

} // namespace
