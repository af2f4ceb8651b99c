// One application object for every test of the shell's windows (offscreen platform).
#include <QApplication>
#include <gtest/gtest.h>

namespace {
class ShellWindowsEnvironment : public testing::Environment {
public:
    void SetUp() override
    {
        if (!QCoreApplication::instance()) {
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
