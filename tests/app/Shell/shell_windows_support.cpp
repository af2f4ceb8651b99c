// One application object for every test of the shell's windows (offscreen platform).
#include <QApplication>
#include <gtest/gtest.h>

namespace {
class ShellWindowsEnvironment : public testing::Environment {
public:
    void SetUp() override
    {
        if (!QCoreApplication::instance()) {
            // The offscreen platform borrows an X display for OpenGL when one is there (as under
            // xvfb-run), and then composes OpenGL views in a way it cannot flush. These tests are
            // about the shell, not drawing: keep them to software windows in every environment.
            if (qEnvironmentVariable("QT_QPA_PLATFORM") == QLatin1String("offscreen")) {
                qunsetenv("DISPLAY");
                qunsetenv("WAYLAND_DISPLAY");
            }
            static int argc = 1;
            static char name[] = "test";
            static char* argv[] = {name, nullptr};
            app_ = new QApplication(argc, argv);
        }
    }
    void TearDown() override
    {
        delete app_;
        app_ = nullptr;
    }

private:
    QApplication* app_ = nullptr;
};

const auto* const kEnvironment = testing::AddGlobalTestEnvironment(new ShellWindowsEnvironment);
}  // namespace
