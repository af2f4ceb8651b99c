// Drawing in three levels: an effect owns named parameters and techniques, a technique is an
// ordered list of passes, and a pass carries the render states and the shader program of one draw.
#ifndef DOVE_RENDEREFFECT_H
#define DOVE_RENDEREFFECT_H

#include <string>
#include <vector>

#include "DoveObject.h"
#include "DoveRenderParameter.h"

namespace Dove {

class ResManager;
class RenderTechnique;
class RenderPass;
class ShaderProgram;
class RasterizerState;
class DepthState;
class StencilState;
class BlendState;

class RenderEffect : public Refcount {
public:
    RenderEffect(ResManager* manager, const std::string& name);
    ~RenderEffect() override;

    const std::string& getName() const { return mName; }
    RenderParameter* addRenderParameter(const std::string& name, RenderDataType type);
    RenderParameter* getRenderParameterByName(const std::string& name) const;
    RenderTechnique* createRenderTechnique(const std::string& name);
    const std::vector<RenderTechnique*>& getTechniques() const { return mTechniques; }
    const std::vector<RenderParameter*>& getParameters() const { return mParameters; }
    ResManager* getResManager() const { return mResManager; }

    static uint32_t& nameIndex();  // the context's counter for generated names

private:
    std::string mName;
    ResManager* mResManager;
    std::vector<RenderTechnique*> mTechniques;
    std::vector<RenderParameter*> mParameters;
};

class RenderTechnique : public Refcount {
public:
    RenderTechnique(RenderEffect* effect, const std::string& name);
    ~RenderTechnique() override;

    const std::string& getName() const { return mName; }
    RenderPass* createPass(const std::string& name);
    void addPass(RenderPass* pass);
    const std::vector<RenderPass*>& getPasses() const { return mPasses; }
    RenderEffect* getEffect() const { return mEffect; }

    static uint32_t& nameIndex();  // the context's counter for generated names

private:
    std::string mName;
    std::vector<RenderPass*> mPasses;
    RenderEffect* mEffect;
};

class RenderPass : public Refcount {
public:
    RenderPass(RenderEffect* effect, const std::string& name);
    ~RenderPass() override;

    const std::string& getName() const { return mName; }
    void setRasterizerState(const RasterizerState& state);
    void setDepthState(const DepthState& state);
    void setStencilState(const StencilState& state);
    void setBlendState(const BlendState& state);
    RasterizerState* getRasterizerState() const { return mRasterizerState; }
    DepthState* getDepthState() const { return mDepthState; }
    StencilState* getStencilState() const { return mStencilState; }
    BlendState* getBlendState() const { return mBlendState; }

    void setShaderProgram(ShaderProgram* program);
    ShaderProgram* getShaderProgram() const { return mShaderProgram; }
    RenderEffect* getEffect() const { return mEffect; }

    void bind();
    void unbind();

    static uint32_t& nameIndex();  // the context's counter for generated names

private:
    std::string mName;
    RasterizerState* mRasterizerState;
    DepthState* mDepthState;
    StencilState* mStencilState;
    BlendState* mBlendState;
    ShaderProgram* mShaderProgram = nullptr;
    RenderEffect* mEffect;
};

}  // namespace Dove

#endif
