#include "browse_support.h"

#include "foundation/RunLoop.h"

#include <QApplication>
#include <QImage>
#include <gtest/gtest.h>

namespace {
class BrowseEnvironment : public testing::Environment {
public:
    void SetUp() override
    {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char name[] = "kpv-browse-tests";
        static char* argv[] = {name, nullptr};
        m_app = new QApplication(argc, argv);
    }
    void TearDown() override
    {
        delete m_app;
        m_app = nullptr;
    }

private:
    QApplication* m_app = nullptr;
};

[[maybe_unused]] testing::Environment* const g_env = testing::AddGlobalTestEnvironment(new BrowseEnvironment);
} // namespace

void drainMainRunLoop()
{
    for (int i = 0; i < 100 && kpv::RunLoop::main().runOnce() > 0; ++i) {
    }
}

void writeTestJpeg(const QString& path, int w, int h)
{
    QImage img(w, h, QImage::Format_RGB32);
    img.fill(QColor(10, 200, 30));
    img.save(path, "JPG");
}
