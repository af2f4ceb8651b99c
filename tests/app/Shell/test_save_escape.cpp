// Esc at every step of a save, in the program as it is assembled: a turn saved on the way to the
// next photo, Save As of a turned photo, and crop's Save As. Each save is held at one step (the
// panel, the start, the new file complete beside the old one, the new file in place) while Esc is
// pressed. Whatever the step, the program says what happened: cancelled means the file is byte for
// byte as it was, the edit is still there and no temporary file is left; once the new file is in
// place the save counts as done and the viewer shows the new picture. Crop mode holds Esc back
// while it saves, so its saves always finish. And Esc on the question asked before leaving a turned
// photo that cannot be written into its own file.

#include "Shell/MainWindow/AppDelegate.h"
#include "Shell/MainWindow/LMMainWindow.h"
#include "Shell/MainWindow/MainWndController.h"
#include "Shell/Modes/NavigateViewMode.h"
#include "Shell/Program/ViewerProgram.h"

#include "Edit/CropViewController.h"
#include "Edit/ImageSaveAsPanel.h"
#include "Model/LMSaveStages.h"
#include "View/LMOpenGLView.h"
#include "View/NavigateController.h"
#include "View/NavigateSaveFileSession.h"
#include "appkit/Application.h"
#include "appkit/Event.h"
#include "appkit/Menu.h"
#include "appkit/Panels.h"
#include "desktop/DesktopServices.h"
#include "desktop/FakeDesktopServices.h"
#include "foundation/NotificationCenter.h"
#include "foundation/Bundle.h"
#include "foundation/Clock.h"
#include "foundation/RunLoop.h"
#include "foundation/TerminationSignals.h"
#include "foundation/UserDefaults.h"
#include "imageio/ImageSource.h"
#include "ProgramTestSetup.h"

#include "../../support/FaultInjection.h"
#include "../../support/ReferencePng.h"

#include <QApplication>
#include <QBuffer>
#include <QLineEdit>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <condition_variable>
#include <csignal>
#include <mutex>
#include <thread>

namespace {

enum class Flow { TurnOnStep, SaveAs, CropSaveAs };
// Asking: Esc in the save panel, before any save starts.
enum class Step { Asking, Preparing, Writing, Replaced };

const char* name(Flow f)
{
    return f == Flow::TurnOnStep ? "turn saved on step" : f == Flow::SaveAs ? "Save As" : "crop's Save As";
}
const char* name(Step s)
{
    switch (s) {
    case Step::Asking: return "Esc in the panel";
    case Step::Preparing: return "Esc while preparing";
    case Step::Writing: return "Esc while the new file is written";
    default: return "Esc after the new file took the old one's place";
    }
}

// A save panel that answers at once: the path, or Cancel (what Esc does in a panel).
class AnsweringSavePanel final : public kpv::SavePanel {
public:
    explicit AnsweringSavePanel(QString answer) : m_answer(std::move(answer)) {}
    void beginSheetModalForWindow(kpv::Window*, std::function<void(long)> handler) override
    {
        if (!m_answer.isEmpty())
            m_urls = QStringList{m_answer};
        handler(m_answer.isEmpty() ? 0 : 1);
    }

private:
    QString m_answer;
};

// Holds the save's worker at one step for one target until released.
class StepGate {
public:
    StepGate(LMSaveStages::Stage stage, QString path) : m_stage(stage), m_path(std::move(path))
    {
        LMSaveStages::setObserverForTesting([this](LMSaveStages::Stage s, const QString& p) {
            if (s != m_stage || p != m_path)
                return;
            std::unique_lock lock(m_mutex);
            m_held = true;
            m_changed.notify_all();
            m_changed.wait(lock, [this] { return m_released; });
        });
    }
    ~StepGate()
    {
        release();
        LMSaveStages::setObserverForTesting({});
    }
    bool held()
    {
        std::lock_guard lock(m_mutex);
        return m_held;
    }
    void release()
    {
        std::lock_guard lock(m_mutex);
        m_released = true;
        m_changed.notify_all();
    }

private:
    LMSaveStages::Stage m_stage;
    QString m_path;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_held = false;
    bool m_released = false;
};

struct Case {
    Flow flow;
    Step step;
    bool saved; // what the program must report and do
};

// The program on p0.png, p1.png and other.png, showing p0. With `cutShort`, p0 ends before its
// end chunk, which the viewer cannot write back: a turn of it is never written into the file. With
// `deep`, p0 has 16 bits per channel, none of its samples one that 8 bits could hold.
class ProgramOnPhotos : public ProgramTest {
protected:
    void start(bool cutShort, bool deep = false)
    {
        ASSERT_NO_FATAL_FAILURE(ProgramTest::SetUp());
        QImage wide(QSize(400, 200), QImage::Format_RGB32);
        for (int y = 0; y < 200; ++y)
            for (int x = 0; x < 400; ++x)
                wide.setPixel(x, y, qRgb(x % 256, y, (x * y) % 256));
        if (deep) {
            QImage samples(QSize(400, 200), QImage::Format_RGBX64);
            for (int y = 0; y < 200; ++y)
                for (int x = 0; x < 400; ++x)
                    samples.setPixelColor(x, y, QColor::fromRgba64(quint16(x * 163 + 1), quint16(y * 327 + 2),
                                                                   quint16((x * y) % 65000 + 1), 0xffff));
            ASSERT_TRUE(samples.save(path("p0.png")));
        } else {
            ASSERT_TRUE(wide.save(path("p0.png")));
        }
        if (cutShort)
            ASSERT_TRUE(QFile::resize(path("p0.png"), QFileInfo(path("p0.png")).size() - 12));
        QImage other(QSize(8, 8), QImage::Format_RGB32);
        other.fill(Qt::red);
        ASSERT_TRUE(other.save(path("p1.png")));
        ASSERT_TRUE(other.save(path("other.png")));
        defaults = std::make_unique<kpv::UserDefaults>(scratch.filePath(QStringLiteral("defaults.json")));
        delegate = std::make_unique<AppDelegate>(programTestSetup(*defaults, scratch));
        program = std::make_unique<ViewerProgram>(*delegate);
        controller = &program->controller();
        viewer = &program->viewMode();
        delegate->applicationOpenFiles({path("p0.png")});
        delegate->applicationDidFinishLaunching();
        settle(2.0);
        ASSERT_EQ(controller->showMode(), MainShowModeView);
        ASSERT_EQ(viewer->controller().curFilePath().path(), path("p0.png"));
    }
    void TearDown() override
    {
        ImageSaveAsPanel::shared().setPanelFactory({});
        controller = nullptr;
        viewer = nullptr;
        program.reset();
        delegate.reset();
        kpv::RunLoop::main().runOnce();
        kpv::RunLoop::main().setClock(nullptr);
    }

    QString path(const char* file) const { return QDir(folder).filePath(QString::fromLatin1(file)); }
    void settle(double seconds) { settleProgram(*delegate, clock, seconds); }
    CropViewController* crop() const
    {
        return dynamic_cast<CropViewController*>(controller->existingModeController(MainShowModeCrop));
    }
    void pressEscape()
    {
        kpv::Application::shared().sendEvent(kpv::Event::keyEvent(kpv::KeyDown, kpv::KeyCode::Escape,
                                                                  QStringLiteral("\x1b"), QStringLiteral("\x1b"),
                                                                  controller->window(), 0));
    }
    // Turns the main loop until the worker is held at its step.
    bool waitUntilHeld(StepGate& gate)
    {
        const QDeadlineTimer deadline(60000);
        while (!gate.held() && !deadline.hasExpired()) {
            kpv::RunLoop::main().runOnce();
            QCoreApplication::processEvents();
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return gate.held();
    }
    void waitForSaves()
    {
        viewer->controller().navigateSaveFileSession()->waitUntilAllOperationsAreFinished();
        if (crop())
            crop()->waitUntilSavesFinished();
        settle(0.5);
        if (crop())
            crop()->waitUntilSavesFinished();
        settle(0.5);
    }
    bool turned() const { return viewer->imageView()->angleRotate().isRotatedOrFlipped(); }

    std::unique_ptr<kpv::UserDefaults> defaults;
    std::unique_ptr<AppDelegate> delegate;
    std::unique_ptr<ViewerProgram> program;
    MainWndController* controller = nullptr;
    NavigateViewMode* viewer = nullptr;
};

class SaveEscape : public ProgramOnPhotos, public ::testing::WithParamInterface<Case> {
protected:
    void SetUp() override { start(false); }
};

QSize storedSize(const QString& file)
{
    const auto source = kpv::ImageSource::createWithFile(file);
    return source ? source->createImageAtIndex(0).size() : QSize();
}

TEST_P(SaveEscape, TellsTheTruthAndKeepsTheEditWhenNothingWasSaved)
{
    const Case c = GetParam();
    SCOPED_TRACE(testing::Message() << name(c.flow) << ", " << name(c.step));
    const QString target = c.flow == Flow::TurnOnStep ? path("p0.png") : path("other.png");
    const QByteArray originalBefore = kpv::test::checksum(path("p0.png"));
    const QByteArray targetBefore = kpv::test::checksum(target);
    const QStringList namesBefore = kpv::test::entriesOf(folder);
    ImageSaveAsPanel::shared().setPanelFactory([target, c] {
        return std::make_unique<AnsweringSavePanel>(c.step == Step::Asking ? QString() : target);
    });

    // The edit: a quarter turn in the viewer, or the crop page's rectangle.
    if (c.flow == Flow::CropSaveAs) {
        controller->performMenuAction(9);
        settle(1.0);
        ASSERT_EQ(controller->showMode(), MainShowModeCrop);
    } else {
        controller->performMenuAction(15);
        settle(0.5);
        ASSERT_TRUE(turned());
    }

    const LMSaveStages::Stage stage = c.step == Step::Writing    ? LMSaveStages::Writing
                                      : c.step == Step::Replaced ? LMSaveStages::Replaced
                                                                 : LMSaveStages::Preparing;
    {
        StepGate gate(stage, target);
        controller->performMenuAction(c.flow == Flow::TurnOnStep ? 41 : 4);
        if (c.step == Step::Asking) {
            settle(0.2);
            EXPECT_FALSE(gate.held()) << "a cancelled panel started a save";
        } else {
            ASSERT_TRUE(waitUntilHeld(gate)) << "the save never reached its step";
            if (c.step == Step::Writing)
                EXPECT_GT(kpv::test::entriesOf(folder).size(), namesBefore.size()) << "no new file beside the old one";
            pressEscape();
            gate.release();
        }
        waitForSaves();
    }

    // No temporary file, whatever happened.
    EXPECT_EQ(kpv::test::entriesOf(folder), namesBefore);
    if (!c.saved) {
        EXPECT_EQ(kpv::test::checksum(path("p0.png")), originalBefore);
        EXPECT_EQ(kpv::test::checksum(target), targetBefore);
        if (c.flow == Flow::CropSaveAs) {
            EXPECT_EQ(controller->showMode(), MainShowModeCrop) << "the crop was dropped";
        } else {
            EXPECT_EQ(viewer->controller().curFilePath().path(), path("p0.png")) << "the viewer left the photo";
            EXPECT_TRUE(turned()) << "the turn was dropped";
        }
        return;
    }
    // Saved: the file holds the new picture and the viewer shows it.
    EXPECT_NE(kpv::test::checksum(target), targetBefore);
    EXPECT_EQ(controller->showMode(), MainShowModeView);
    if (c.flow == Flow::TurnOnStep) {
        EXPECT_EQ(storedSize(target), QSize(200, 400));
        EXPECT_EQ(viewer->controller().curFilePath().path(), path("p1.png")) << "the step did not go on";
        controller->performMenuAction(40);
        settle(1.0);
    } else {
        EXPECT_EQ(kpv::test::checksum(path("p0.png")), originalBefore);
        EXPECT_EQ(storedSize(target), c.flow == Flow::SaveAs ? QSize(200, 400) : QSize(200, 100));
    }
    EXPECT_EQ(viewer->controller().curFilePath().path(), target);
    const LMNavFileInfoPtr shown = viewer->controller().curFileInfo();
    ASSERT_TRUE(shown && shown->imgBaseInfo());
    EXPECT_EQ(shown->imgBaseInfo()->rawFrameSize().toSize(), storedSize(target)) << "the viewer kept the old picture";
    EXPECT_FALSE(turned());
}

INSTANTIATE_TEST_SUITE_P(
    EveryStep, SaveEscape,
    ::testing::Values(Case{Flow::TurnOnStep, Step::Preparing, false}, Case{Flow::TurnOnStep, Step::Writing, false},
                      Case{Flow::TurnOnStep, Step::Replaced, true}, Case{Flow::SaveAs, Step::Asking, false},
                      Case{Flow::SaveAs, Step::Preparing, false}, Case{Flow::SaveAs, Step::Writing, false},
                      Case{Flow::SaveAs, Step::Replaced, true}, Case{Flow::CropSaveAs, Step::Asking, false},
                      // Crop mode holds Esc back while it saves: the save goes through.
                      Case{Flow::CropSaveAs, Step::Preparing, true}, Case{Flow::CropSaveAs, Step::Writing, true},
                      Case{Flow::CropSaveAs, Step::Replaced, true}));

} // namespace

namespace {

class TurnQuestion : public ProgramOnPhotos {
protected:
    void SetUp() override { start(true); }

    // Turns the photo and asks for the next one: the question must come up.
    QMessageBox* askToStepOn()
    {
        controller->performMenuAction(15);
        settle(0.5);
        EXPECT_TRUE(turned());
        controller->performMenuAction(41);
        settle(0.3);
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box)
            EXPECT_EQ(box->text(), kpv::Bundle::mainBundle().localizedString(QStringLiteral("IDS_SAVE_PHOTOTIP")));
        return box;
    }
    // A key as the user presses it: to the alert's focused button, passed on to the alert.
    void press(QMessageBox* box, int key)
    {
        QWidget* target = box->focusWidget() ? box->focusWidget() : box;
        QKeyEvent down(QEvent::KeyPress, key, Qt::NoModifier);
        QApplication::sendEvent(target, &down);
        settle(0.3);
    }
};

// A turned photo that cannot be written into its file without loss: stepping on asks. Esc answers nothing: the
// viewer stays on the photo with its turn, as when the save panel is cancelled. Return is
// "Save As"; "Continue" steps on. No answer writes to the photo or leaves a file behind.
TEST_F(TurnQuestion, EscKeepsTheTurnReturnSavesAsContinueStepsOn)
{
    const QByteArray cutBefore = kpv::test::checksum(path("p0.png"));
    const QStringList namesBefore = kpv::test::entriesOf(folder);
    int panels = 0;
    ImageSaveAsPanel::shared().setPanelFactory([&panels] {
        ++panels;
        return std::make_unique<AnsweringSavePanel>(QString()); // the user cancels it
    });

    QMessageBox* box = askToStepOn();
    ASSERT_TRUE(box);
    press(box, Qt::Key_Escape);
    EXPECT_FALSE(QApplication::activeModalWidget()) << "Esc left the question up";
    EXPECT_EQ(viewer->controller().curFilePath().path(), path("p0.png")) << "Esc stepped on";
    EXPECT_TRUE(turned()) << "Esc dropped the turn";
    EXPECT_EQ(panels, 0);

    box = askToStepOn();
    ASSERT_TRUE(box);
    press(box, Qt::Key_Return);
    EXPECT_EQ(panels, 1) << "Return did not mean Save As";
    EXPECT_EQ(viewer->controller().curFilePath().path(), path("p0.png"));
    EXPECT_TRUE(turned());

    box = askToStepOn();
    ASSERT_TRUE(box);
    QAbstractButton* goOn = nullptr;
    for (QAbstractButton* b : box->buttons())
        if (b->text() == kpv::Bundle::mainBundle().localizedString(QStringLiteral("IDS_Continue")))
            goOn = b;
    ASSERT_TRUE(goOn);
    goOn->click();
    settle(1.0);
    EXPECT_EQ(viewer->controller().curFilePath().path(), path("p1.png")) << "Continue did not step on";

    EXPECT_EQ(kpv::test::checksum(path("p0.png")), cutBefore);
    EXPECT_EQ(kpv::test::entriesOf(folder), namesBefore);
}

} // namespace

namespace {

// Quitting or closing the window while Save As still writes: the viewer waits for the save, its
// "Saving…" showing, and goes only once the file is there. A save that does not end in a file
// (here cancelled with Esc) keeps the viewer open, with nothing lost.
class LeaveWhileSaving : public ProgramOnPhotos {
protected:
    void SetUp() override
    {
        start(false);
        controller->setQuitHandler([this] { ++quits; });
        ImageSaveAsPanel::shared().setPanelFactory(
            [this] { return std::make_unique<AnsweringSavePanel>(path("saved.png")); });
    }
    int quits = 0;
};

TEST_F(LeaveWhileSaving, QuitWaitsForTheSaveToFinish)
{
    {
        StepGate gate(LMSaveStages::Writing, path("saved.png"));
        controller->performMenuAction(4); // Save As
        ASSERT_TRUE(waitUntilHeld(gate));
        controller->performMenuAction(MainWndController::TagQuit);
        settle(0.5);
        EXPECT_EQ(quits, 0) << "the viewer quit with the photo half saved";
        gate.release();
        waitForSaves();
    }
    EXPECT_TRUE(QFileInfo::exists(path("saved.png")));
    EXPECT_EQ(storedSize(path("saved.png")), QSize(400, 200));
    EXPECT_EQ(quits, 1) << "the quit was forgotten";
}

// The same from crop mode, whose save would be cancelled unwritten as the mode goes: the quit,
// and the window's close, wait for the crop's file.
TEST_F(LeaveWhileSaving, QuitAndCloseInCropWaitForTheCropsSave)
{
    controller->performMenuAction(9);
    settle(1.0);
    ASSERT_EQ(controller->showMode(), MainShowModeCrop);
    {
        StepGate gate(LMSaveStages::Preparing, path("saved.png"));
        controller->performMenuAction(4); // Save As
        ASSERT_TRUE(waitUntilHeld(gate));
        controller->performMenuAction(MainWndController::TagQuit);
        controller->window()->performClose();
        settle(0.5);
        EXPECT_EQ(quits, 0) << "the viewer quit with the crop not yet written";
        EXPECT_TRUE(controller->window()->isVisible()) << "the window closed with the crop not yet written";
        gate.release();
        waitForSaves();
    }
    settle(0.3);
    EXPECT_EQ(storedSize(path("saved.png")), QSize(200, 100));
    EXPECT_GE(quits, 1) << "the quit was forgotten"; // the closed window quits too
}

TEST_F(LeaveWhileSaving, ClosingTheWindowDuringASaveThatIsCancelledKeepsTheViewerOpen)
{
    const QStringList namesBefore = kpv::test::entriesOf(folder);
    {
        StepGate gate(LMSaveStages::Preparing, path("saved.png"));
        controller->performMenuAction(4);
        ASSERT_TRUE(waitUntilHeld(gate));
        controller->window()->performClose();
        settle(0.5);
        EXPECT_TRUE(controller->window()->isVisible()) << "the window closed with the photo half saved";
        pressEscape();
        gate.release();
        waitForSaves();
    }
    EXPECT_TRUE(controller->window()->isVisible());
    EXPECT_EQ(quits, 0);
    EXPECT_EQ(kpv::test::entriesOf(folder), namesBefore);
}

} // namespace

namespace {

// The session ends (log-out's SIGTERM, Ctrl+C, a closed terminal) while a photo is being saved,
// from the viewer's Save As or from crop's: the program's quit waits for the file to be written,
// as Quit from the menu does, and then goes, leaving nothing half written beside it.
class SignalWhileSaving : public ProgramOnPhotos, public ::testing::WithParamInterface<Flow> {
protected:
    void SetUp() override
    {
        start(false);
        ImageSaveAsPanel::shared().setPanelFactory(
            [this] { return std::make_unique<AnsweringSavePanel>(path("saved.png")); });
        // What the program does on such a signal.
        ASSERT_TRUE(kpv::quitOnTerminationSignals([this] { ++quits; }));
    }
    void TearDown() override
    {
        kpv::quitOnTerminationSignals([] {});
        ProgramOnPhotos::TearDown();
    }
    int quits = 0;
};

TEST_P(SignalWhileSaving, TheQuitWaitsForTheFileToBeWritten)
{
    const QByteArray originalBefore = kpv::test::checksum(path("p0.png"));
    QStringList namesAfter = kpv::test::entriesOf(folder);
    namesAfter << QStringLiteral("saved.png");
    namesAfter.sort();
    if (GetParam() == Flow::CropSaveAs) {
        controller->performMenuAction(9);
        settle(1.0);
        ASSERT_EQ(controller->showMode(), MainShowModeCrop);
    }
    {
        StepGate gate(LMSaveStages::Preparing, path("saved.png"));
        controller->performMenuAction(4); // Save As
        ASSERT_TRUE(waitUntilHeld(gate));
        std::raise(SIGTERM);
        settle(0.5);
        EXPECT_EQ(quits, 0) << "the program quit with the photo not yet written";
        gate.release();
        waitForSaves();
    }
    EXPECT_EQ(quits, 1) << "the signal's quit was forgotten";
    EXPECT_EQ(storedSize(path("saved.png")), GetParam() == Flow::CropSaveAs ? QSize(200, 100) : QSize(400, 200));
    EXPECT_EQ(kpv::test::checksum(path("p0.png")), originalBefore);
    QStringList names = kpv::test::entriesOf(folder);
    names.sort();
    EXPECT_EQ(names, namesAfter) << "a temporary file was left behind";
}

INSTANTIATE_TEST_SUITE_P(SaveAsAndCrop, SignalWhileSaving, ::testing::Values(Flow::SaveAs, Flow::CropSaveAs),
                         [](const auto& info) { return info.param == Flow::SaveAs ? "SaveAs" : "CropSaveAs"; });

} // namespace

namespace {

// Crop's Save As in the real panel, onto a file the crop would leave without something it holds
// (here the part of a cut-short picture that cannot be read): the panel's question before
// replacing it names the loss, and it is the only question; Replace writes the crop.
class CropReplaceQuestion : public ProgramOnPhotos {
protected:
    void SetUp() override { start(false); }
};

TEST_F(CropReplaceQuestion, OneQuestionNamesWhatTheFileWouldLose)
{
    QByteArray png;
    {
        QBuffer buffer(&png);
        ASSERT_TRUE(buffer.open(QIODevice::WriteOnly));
        QImage picture(QSize(64, 32), QImage::Format_RGB32);
        picture.fill(Qt::green);
        ASSERT_TRUE(picture.save(&buffer, "PNG"));
    }
    QFile cut(path("cut.png"));
    ASSERT_TRUE(cut.open(QIODevice::WriteOnly));
    cut.write(png.left(png.size() - 12)); // its end chunk gone
    cut.close();

    controller->performMenuAction(9);
    settle(1.0);
    ASSERT_EQ(controller->showMode(), MainShowModeCrop);
    controller->performMenuAction(4); // Save As
    settle(0.3);
    auto* panel = controller->window()->widget()->findChild<QDialog*>(QStringLiteral("filePanel"));
    ASSERT_NE(panel, nullptr) << "no Save As panel";
    panel->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(QStringLiteral("cut.png"));
    panel->findChild<QPushButton*>(QStringLiteral("okButton"))->click();
    settle(0.3);
    auto* question = panel->findChild<QMessageBox*>(QStringLiteral("replaceQuestion"));
    ASSERT_NE(question, nullptr) << "replacing the file was not asked about";
    EXPECT_TRUE(question->text().contains(QStringLiteral("cut.png")));
    EXPECT_TRUE(question->informativeText().contains(QStringLiteral("could not be read")))
        << "the question does not say what would be lost: " << question->informativeText().toStdString();
    QPushButton* replace = nullptr;
    for (QAbstractButton* button : question->buttons())
        if (question->buttonRole(button) == QMessageBox::AcceptRole)
            replace = qobject_cast<QPushButton*>(button);
    ASSERT_NE(replace, nullptr);
    replace->click();
    settle(0.3);
    EXPECT_EQ(qobject_cast<QMessageBox*>(QApplication::activeModalWidget()), nullptr) << "a second question was asked";
    waitForSaves();
    EXPECT_EQ(storedSize(path("cut.png")), QSize(200, 100)) << "the crop was not written";
}

} // namespace

namespace {

// A photo of 16 bits per channel, turned and left for the next one: the turn is written into it
// without a question, and it keeps its 16 bits, every sample the photo's own in its turned place
// as a reference decoder reads both.
class SixteenBitTurn : public ProgramOnPhotos {
protected:
    void SetUp() override { start(false, true); }
};

TEST_F(SixteenBitTurn, IsWrittenWithoutAQuestionAndKeepsItsBits)
{
    QSize size;
    const auto before = kpv::test::referencePngSamples(path("p0.png"), &size);
    ASSERT_EQ(size, QSize(400, 200));
    controller->performMenuAction(15);
    settle(0.5);
    ASSERT_TRUE(turned());
    controller->performMenuAction(41); // the next photo: the turn is saved on the way
    settle(0.3);
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
        ADD_FAILURE() << "a question was asked: " << box->informativeText().toStdString();
        box->reject();
    }
    waitForSaves();
    int bits = 0;
    const auto after = kpv::test::referencePngSamples(path("p0.png"), &size, &bits);
    EXPECT_EQ(bits, 16) << "the turned photo lost its 16 bits per channel";
    ASSERT_EQ(size, QSize(200, 400));
    bool clockwise = true, counterClockwise = true;
    for (int y = 0; y < 400; ++y)
        for (int x = 0; x < 200; ++x) {
            clockwise = clockwise && after[size_t(y * 200 + x)] == before[size_t((199 - x) * 400 + y)];
            counterClockwise = counterClockwise && after[size_t(y * 200 + x)] == before[size_t(x * 400 + 399 - y)];
        }
    EXPECT_TRUE(clockwise || counterClockwise) << "the samples are not the photo's own, turned";
}

} // namespace

namespace {

// A turned photo handed to another program is first written with its turn. When no mail program
// takes the message, at once or after starting, the user is told that the turn was saved into the
// photo, never that the photo is unchanged.
class TurnedPhotoHandedOver : public ProgramOnPhotos {
protected:
    void SetUp() override
    {
        kpv::DesktopServices::setShared(&desktop);
        start(false);
    }
    void TearDown() override
    {
        ProgramOnPhotos::TearDown();
        kpv::DesktopServices::setShared(nullptr);
    }
    QString toldOnce()
    {
        QStringList texts;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) {
                texts << box->text();
                box->accept();
            }
        settle(0.3);
        return texts.size() == 1 ? texts.first() : texts.join(QStringLiteral(" | "));
    }
    void turnAndMail()
    {
        controller->performMenuAction(15);
        settle(0.5);
        ASSERT_TRUE(turned());
        const QByteArray before = kpv::test::checksum(path("p0.png"));
        controller->shareForType(33);
        waitForSaves();
        EXPECT_NE(kpv::test::checksum(path("p0.png")), before) << "the turn was not written";
    }
    kpv::FakeDesktopServices desktop;
};

TEST_F(TurnedPhotoHandedOver, NoMailProgramSaysTheTurnWasSaved)
{
    const kpv::Bundle& bundle = kpv::Bundle::mainBundle();
    desktop.mailAvailable = false;
    ASSERT_NO_FATAL_FAILURE(turnAndMail());
    EXPECT_EQ(toldOnce().toStdString(), bundle.localizedString(QStringLiteral("IDS_ShareMailFailedTurnSaved")).toStdString());

    // The mail program started, then gave up.
    desktop.mailAvailable = true;
    ASSERT_NO_FATAL_FAILURE(turnAndMail());
    ASSERT_EQ(desktop.mails.size(), 1);
    const auto gaveUp = [] {
        kpv::NotificationCenter::defaultCenter().postNotification(
            kpv::kDesktopHelperFailedNotification, nullptr,
            {{QStringLiteral("purpose"), kpv::kDesktopHelperForMail}, {QStringLiteral("subject"), QString()}});
    };
    gaveUp();
    settle(0.3);
    EXPECT_EQ(toldOnce().toStdString(), bundle.localizedString(QStringLiteral("IDS_MailFailedLateTurnSaved")).toStdString());

    // A photo mailed unturned is still told as unchanged.
    controller->shareForType(33);
    settle(0.5);
    gaveUp();
    settle(0.3);
    EXPECT_EQ(toldOnce().toStdString(), bundle.localizedString(QStringLiteral("IDS_MailFailedLate")).toStdString());
}

// Open With hands the other program the photo as the user sees it: the turn made on screen is
// written into the photo first, as before a share, instead of the program showing it unturned; a
// program that then fails is told with the turn saved, not with the photo unchanged.
TEST_F(TurnedPhotoHandedOver, OpenWithHandsOverThePhotoWithItsTurn)
{
    desktop.fileApplications.insert("png", {{"paint.desktop", "Paint", "", "", {"image/png"}}});
    controller->performMenuAction(15);
    settle(0.5);
    ASSERT_TRUE(turned());
    controller->rebuildOpenWithMenu();
    const std::shared_ptr<kpv::Menu> menu = controller->openWithMenu();
    ASSERT_TRUE(menu && menu->numberOfItems() > 0);
    menu->itemAtIndex(0)->performAction();
    waitForSaves();
    ASSERT_EQ(desktop.launches.size(), 1);
    EXPECT_EQ(desktop.launches.first(), qMakePair(path("p0.png"), QStringLiteral("paint.desktop")));
    EXPECT_EQ(storedSize(path("p0.png")), QSize(200, 400)) << "the photo was handed over without its turn";

    // An application that cannot start: the turn written on the way is told, not an unchanged photo.
    desktop.launchWorks = false;
    controller->performMenuAction(15);
    settle(0.5);
    menu->itemAtIndex(0)->performAction();
    waitForSaves();
    EXPECT_EQ(storedSize(path("p0.png")), QSize(400, 200));
    EXPECT_EQ(toldOnce().toStdString(), kpv::Bundle::mainBundle()
                                            .localizedStringWithFormat(QStringLiteral("IDS_OpenWithFailedTurnSaved_Fmt"),
                                                                       QStringLiteral("Paint"))
                                            .toStdString());
}

} // namespace

namespace {

// Another program moves the turned photo shown out of its folder, or deletes it, before the turn is
// saved. The turned picture stays shown until the user says what becomes of it; the question says
// what happened, never that permission is lacking; Save As keeps the turn in a new file (under the
// photo's old name, which the panel proposes once it is free) and Continue lets it go. Nothing is
// written unasked where the photo was, and no other file changes.
class ShownPhotoGone : public ProgramOnPhotos {
protected:
    void SetUp() override
    {
        start(false);
        ASSERT_TRUE(QDir().mkpath(scratch.filePath(QStringLiteral("elsewhere"))));
        // The photo carries words of its own, which a copy of it must keep.
        QImage photo(path("p0.png"));
        photo.setText(QStringLiteral("Author"), QStringLiteral("Ann Miller"));
        ASSERT_TRUE(photo.save(path("p0.png")));
        settle(2.0); // read again as it is now
        ImageSaveAsPanel::shared().setPanelFactory(
            [this] { return std::make_unique<AnsweringSavePanel>(path("p0.png")); });
        controller->performMenuAction(15); // turn right
        settle(0.5);
        ASSERT_TRUE(turned());
        before = {kpv::test::checksum(path("p1.png")), kpv::test::checksum(path("other.png"))};
    }
    QString away() const { return scratch.filePath(QStringLiteral("elsewhere/p0.png")); }
    QMessageBox* question() const { return qobject_cast<QMessageBox*>(QApplication::activeModalWidget()); }
    void answer(QMessageBox* box, const char* key)
    {
        const QString text = kpv::Bundle::mainBundle().localizedString(QString::fromLatin1(key));
        for (QAbstractButton* b : box->buttons())
            if (b->text() == text)
                return b->click();
        ADD_FAILURE() << "no button " << key;
    }
    void expectShownWithTurn()
    {
        EXPECT_EQ(viewer->controller().curFilePath().path(), path("p0.png")) << "the viewer left the turned photo";
        EXPECT_TRUE(turned()) << "the turn was dropped";
    }
    void expectOthersUnchanged()
    {
        EXPECT_EQ(QList<QByteArray>({kpv::test::checksum(path("p1.png")), kpv::test::checksum(path("other.png"))}), before);
    }
    QList<QByteArray> before;
};

TEST_F(ShownPhotoGone, MovedAwayTheTurnIsKeptAndSavedAsACopy)
{
    const QByteArray original = kpv::test::checksum(path("p0.png"));
    ASSERT_TRUE(QFile::rename(path("p0.png"), away()));
    settle(3.0); // the change is heard, and no arrival under a new name follows
    expectShownWithTurn();

    controller->performMenuAction(41); // the next photo: the turn would be saved on the way
    settle(0.5);
    QMessageBox* box = question();
    ASSERT_TRUE(box) << "stepping on asked nothing";
    EXPECT_TRUE(box->informativeText().contains(QStringLiteral("moved or removed by another program")))
        << box->informativeText().toStdString();
    EXPECT_FALSE(box->informativeText().contains(QStringLiteral("permission")));
    settle(2.0); // the folder's change heard again while the question is up
    ASSERT_EQ(question(), box);
    expectShownWithTurn();
    answer(box, "IDS_SAVEAS");
    settle(0.3); // the panel comes up on the next turn of the loop
    waitForSaves();

    EXPECT_EQ(storedSize(path("p0.png")), QSize(200, 400)) << "the turn was not kept";
    QFile copy(path("p0.png"));
    ASSERT_TRUE(copy.open(QIODevice::ReadOnly));
    EXPECT_TRUE(copy.readAll().contains(QByteArray("tEXtAuthor\0Ann Miller", 21))) << "the copy lost the photo's metadata";
    EXPECT_EQ(kpv::test::checksum(away()), original);
    expectOthersUnchanged();
    EXPECT_EQ(viewer->controller().curFilePath().path(), path("p1.png"));
    EXPECT_FALSE(turned());
    EXPECT_EQ(kpv::test::entriesOf(folder), QStringList({QStringLiteral("other.png"), QStringLiteral("p0.png"),
                                                         QStringLiteral("p1.png")}));
    EXPECT_EQ(viewer->controller().fileCount(), 3);
}

// Gone with the other photos before it (the folder emptied, the drive ejected): the photo moves
// up the list, and still stays shown with its turn, for leaving it to ask.
TEST_F(ShownPhotoGone, GoneWithThePhotosBeforeItTheTurnIsKept)
{
    ASSERT_TRUE(QFile::rename(path("p0.png"), away()));
    ASSERT_TRUE(QFile::remove(path("other.png")));
    settle(3.0);
    expectShownWithTurn();
    controller->performMenuAction(41);
    settle(0.5);
    QMessageBox* box = question();
    ASSERT_TRUE(box) << "stepping on asked nothing";
    answer(box, "IDS_SAVEAS");
    settle(0.3);
    waitForSaves();
    EXPECT_EQ(storedSize(path("p0.png")), QSize(200, 400)) << "the turn was not kept";
}

// Deleted while its turn was being written into it: the save is told failed with the reason, and
// the photo is not written back into the folder. Esc on the question keeps the turn; Continue,
// asked again on the next step, lets it go.
TEST_F(ShownPhotoGone, RemovedWhileTheTurnIsWrittenNothingIsWrittenAndContinueLetsTheTurnGo)
{
    {
        StepGate gate(LMSaveStages::Preparing, path("p0.png"));
        controller->performMenuAction(41);
        ASSERT_TRUE(waitUntilHeld(gate));
        ASSERT_TRUE(QFile::remove(path("p0.png")));
        gate.release();
        waitForSaves();
    }
    settle(2.0);
    QMessageBox* box = question();
    ASSERT_TRUE(box) << "the failed save was not told";
    EXPECT_TRUE(box->informativeText().contains(QStringLiteral("moved or removed by another program")))
        << box->informativeText().toStdString();
    expectOthersUnchanged();
    EXPECT_FALSE(QFileInfo::exists(path("p0.png"))) << "the turn was written where the photo was";
    expectShownWithTurn();
    box->reject(); // Esc
    settle(0.5);
    expectShownWithTurn();

    controller->performMenuAction(41);
    settle(0.5);
    box = question();
    ASSERT_TRUE(box);
    answer(box, "IDS_Continue");
    settle(1.0);
    EXPECT_EQ(viewer->controller().curFilePath().path(), path("p1.png"));
    EXPECT_EQ(viewer->controller().fileCount(), 2);
    EXPECT_FALSE(turned());
    expectOthersUnchanged();
    EXPECT_EQ(kpv::test::entriesOf(folder), QStringList({QStringLiteral("other.png"), QStringLiteral("p1.png")}));
}

} // namespace
