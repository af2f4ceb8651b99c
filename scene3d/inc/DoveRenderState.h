// Fixed-function GPU state carried by render passes. The engine keeps the last applied value of
// each kind and the backend touches the hardware only for a state that differs.
#ifndef DOVE_RENDERSTATE_H
#define DOVE_RENDERSTATE_H

#include <cstdint>

#include "DoveObject.h"

namespace Dove {

class RasterizerState : public Refcount {
public:
    virtual void active() {}
    RasterizerState& operator=(const RasterizerState& o) {
        fillSetting = o.fillSetting;
        faceSetting = o.faceSetting;
        cullMode = o.cullMode;
        return *this;
    }
    uint32_t fillSetting = 2;
    uint32_t faceSetting = 1;
    uint32_t cullMode = 2;  // 0 none, 1 front faces, 2 back faces
};

class DepthState : public Refcount {
public:
    virtual void active() {}
    DepthState& operator=(const DepthState& o) {
        depthTest = o.depthTest;
        depthWrite = o.depthWrite;
        depthFunc = o.depthFunc;
        return *this;
    }
    long depthTest = 0;
    long depthWrite = 1;
    uint32_t depthFunc = 2;
};

struct StencilFace {
    long enable = 0;
    uint32_t func = 0;
    uint16_t ref = 0;
    uint16_t mask = 0;
    uint32_t failOp = 0, depthFailOp = 0, passOp = 0;
    bool operator==(const StencilFace& o) const {
        return enable == o.enable && func == o.func && ref == o.ref && mask == o.mask && failOp == o.failOp &&
               depthFailOp == o.depthFailOp && passOp == o.passOp;
    }
};

class StencilState : public Refcount {
public:
    virtual void active() {}
    StencilState& operator=(const StencilState& o) {
        front = o.front;
        back = o.back;
        return *this;
    }
    StencilFace front;
    StencilFace back;
};

class BlendState : public Refcount {
public:
    virtual void active() {}
    BlendState& operator=(const BlendState& o) {
        colorEnable = o.colorEnable;
        colorSrc = o.colorSrc;
        colorDst = o.colorDst;
        colorOp = o.colorOp;
        alphaEnable = o.alphaEnable;
        alphaSrc = o.alphaSrc;
        alphaDst = o.alphaDst;
        alphaOp = o.alphaOp;
        return *this;
    }
    long colorEnable = 1;
    uint32_t colorSrc = 0, colorDst = 0, colorOp = 0;
    long alphaEnable = 0;
    uint32_t alphaSrc = 0, alphaDst = 0, alphaOp = 0;
};

class SamplerState : public Refcount {
public:
    virtual void active() {}
    SamplerState& operator=(const SamplerState& o) {
        minFilter = o.minFilter;
        magFilter = o.magFilter;
        wrapS = o.wrapS;
        wrapT = o.wrapT;
        lodBias = o.lodBias;
        compare = o.compare;
        return *this;
    }
    uint32_t minFilter = 0, magFilter = 0, wrapS = 0, wrapT = 1;
    float lodBias = 0.0f;
    uint32_t compare = 0;
};

bool operator==(const RasterizerState& a, const RasterizerState& b);
bool operator==(const DepthState& a, const DepthState& b);
bool operator==(const StencilState& a, const StencilState& b);
bool operator==(const BlendState& a, const BlendState& b);
bool operator==(const SamplerState& a, const SamplerState& b);
inline bool operator!=(const RasterizerState& a, const RasterizerState& b) { return !(a == b); }
inline bool operator!=(const DepthState& a, const DepthState& b) { return !(a == b); }
inline bool operator!=(const StencilState& a, const StencilState& b) { return !(a == b); }
inline bool operator!=(const BlendState& a, const BlendState& b) { return !(a == b); }
inline bool operator!=(const SamplerState& a, const SamplerState& b) { return !(a == b); }

}  // namespace Dove

#endif
