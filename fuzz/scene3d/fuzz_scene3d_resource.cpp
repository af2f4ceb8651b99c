// Builds engine objects from arbitrary scene files on the null backend, plays the animation a
// little and tears everything down: the scene resource must cope with whatever the reader accepts.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "DoveAnimation.h"
#include "DoveContext.h"
#include "DoveRenderEngine.h"
#include "DoveResManager.h"
#include "DoveSceneManager.h"
#include "DoveFrameBuffer.h"
#include "DoveTime.h"
#include "ZephraResource.h"

namespace {
int64_t gMicros = 0;

// A private folder for the one scene file, removed when the process ends.
struct Scratch {
    std::string dir, path;
    Scratch() {
        char name[] = "/tmp/kpv-fuzz-scene-XXXXXX";
        if (const char* made = mkdtemp(name)) dir = made;
        path = (dir.empty() ? std::string("/tmp") : dir) + "/theme.ziz";
    }
    ~Scratch() {
        std::remove(path.c_str());
        if (!dir.empty()) rmdir(dir.c_str());
    }
};

const std::string& scratchPath() {
    static Scratch scratch;
    return scratch.path;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FILE* f = std::fopen(scratchPath().c_str(), "wb");
    if (!f) return 0;
    std::fwrite(data, 1, size, f);
    std::fclose(f);

    Dove::TimeGlobal::setClockSource([](int64_t& s, int64_t& us) {
        s = 1000000 + gMicros / 1000000;
        us = gMicros % 1000000;
    });
    Dove::Context* ctx = Dove::Context::getSingleton();
    ctx->registerBitmapConverter([](const std::string&, MBITMAP** bitmap) -> long {
        MBITMAP* b = *bitmap;
        b->dwPixelArrayFormat = 0x37001777;
        b->lWidth = 1;
        b->lHeight = 1;
        b->pPlane[0] = new MByte[4]{1, 2, 3, 4};
        return 1;
    });
    ctx->init();
    Dove::SceneManager* sm = Dove::SceneManager::getSingleton();
    sm->init(64, 48);
    {
        Dove::ZephraResource res(scratchPath());
        if (Dove::Scene* root = res.getRootScene()) {
            sm->getRoot3DScene()->addChild(root);
            if (res.animation) {
                res.animation->play();
                for (int i = 0; i < 3; ++i) {
                    gMicros += 700000;
                    Dove::RenderEngine::getSingleton()->getScreenFrameBuffer()->render();
                }
            }
        }
    }
    Dove::SceneManager::releaseSingleton();
    Dove::Context::releaseSingleton();
    return 0;
}
