#pragma once
// The one application object a widget test program runs under, made before the first test and
// deleted after the last. `prepare` runs first: what must be in place before the application
// exists (environment variables, the shared OpenGL context).

#include <QApplication>
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>

class QtTestApplication : public testing::Environment {
public:
    explicit QtTestApplication(std::string name, std::function<void()> prepare = {})
        : m_name(std::move(name)), m_prepare(std::move(prepare))
    {
    }

    // Widget tests run on the offscreen platform unless the caller chose another.
    static void useOffscreenUnlessSet()
    {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
    }

    void SetUp() override
    {
        if (m_prepare)
            m_prepare();
        m_argv[0] = m_name.data();
        m_app = new QApplication(m_argc, m_argv);
    }
    void TearDown() override
    {
        delete m_app;
        m_app = nullptr;
    }

private:
    std::string m_name;
    std::function<void()> m_prepare;
    // The application keeps references to both for its whole life.
    int m_argc = 1;
    char* m_argv[2] = {nullptr, nullptr};
    QApplication* m_app = nullptr;
};
