// Render states that apply themselves to OpenGL. Only culling and the depth test and mask reach the
// hardware; the others are carried and compared by the engine and applied by nobody.
#ifndef DOVE_OGLRENDERSTATE_H
#define DOVE_OGLRENDERSTATE_H

#include "DoveRenderState.h"

namespace Dove {

class OGLRasterizerState : public RasterizerState {
public:
    using RasterizerState::operator=;
    void active() override;
};

class OGLDepthState : public DepthState {
public:
    using DepthState::operator=;
    void active() override;
};

class OGLStencilState : public StencilState {
public:
    using StencilState::operator=;
};

class OGLBlendState : public BlendState {
public:
    using BlendState::operator=;
};

class OGLSamplerState : public SamplerState {
public:
    using SamplerState::operator=;
};

}  // namespace Dove

#endif
