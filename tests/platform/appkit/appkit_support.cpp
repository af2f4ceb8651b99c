// One QApplication for every test of the folder (offscreen platform, set by the test runner).
#include <QApplication>
#include <gtest/gtest.h>

namespace {
class QtEnvironment : public testing::Environment {
public:
    void SetUp() override
    {
        if (!QApplication::instance()) {
            static int argc = 1;
            static char name[] = "kpv-tests";
            static char* argv[] = {name, nullptr};
            qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
            m_app = new QApplication(argc, argv);
        }
    }
    void TearDown() override
    {
        delete m_app;
        m_app = nullptr;
    }

private:
    QApplication* m_app = nullptr;
};

[[maybe_unused]] testing::Environment* const g_env = testing::AddGlobalTestEnvironment(new QtEnvironment);
} // namespace
