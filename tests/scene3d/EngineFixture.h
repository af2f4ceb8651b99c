// Starts the engine on the null backend with a manual clock, and tears it all down after each
// test so that registries and counters never leak from one test into the next.
#ifndef KPV_TESTS_SCENE3D_ENGINEFIXTURE_H
#define KPV_TESTS_SCENE3D_ENGINEFIXTURE_H

#include <gtest/gtest.h>

#include <cstdint>

#include "DoveContext.h"
#include "DoveNullRender.h"
#include "DoveRenderEngine.h"
#include "DoveResManager.h"
#include "DoveSceneManager.h"
#include "DoveTime.h"

class ManualClock {
public:
    ManualClock() {
        Dove::TimeGlobal::setClockSource([this](int64_t& s, int64_t& us) {
            s = int64_t(mMicros / 1000000);
            us = int64_t(mMicros % 1000000);
        });
    }
    ~ManualClock() { Dove::TimeGlobal::setClockSource({}); }
    void setMillis(uint64_t ms) { mMicros = ms * 1000; }
    void advanceMillis(uint64_t ms) { mMicros += ms * 1000; }
    void setMicros(uint64_t us) { mMicros = us; }

private:
    uint64_t mMicros = 1000000000ull * 1000;  // a day well past the epoch, in microseconds
};

class EngineTest : public ::testing::Test {
protected:
    void SetUp() override {
        Dove::RenderEngine::resetFrameLimiter();
        Dove::Context::getSingleton()->init();
        Dove::SceneManager::getSingleton()->init(800, 600);
    }
    void TearDown() override {
        Dove::SceneManager::releaseSingleton();
        Dove::Context::releaseSingleton();
    }
    Dove::SceneManager* sm() { return Dove::SceneManager::getSingleton(); }
    Dove::ResManager* rm() { return Dove::ResManager::getSingleton(); }
    Dove::NullRenderEngine* engine() {
        return static_cast<Dove::NullRenderEngine*>(Dove::RenderEngine::getSingleton());
    }

    ManualClock clock;
};

#endif
