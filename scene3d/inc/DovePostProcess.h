// A renderable that draws a full-screen quad with a technique, reading input textures and
// writing output textures through a frame buffer.
#ifndef DOVE_POSTPROCESS_H
#define DOVE_POSTPROCESS_H

#include <string>
#include <utility>
#include <vector>

#include "DoveRenderParameter.h"
#include "DoveRenderable.h"

namespace Dove {

class ResManager;
class FrameBuffer;
class Texture;

class PostProcess : public Renderable {
public:
    // The empty name gives "PostProcess_" and the next value of the post-processes' counter.
    PostProcess(ResManager* manager, const std::string& name);
    ~PostProcess() override;

    virtual unsigned int addParamName(const std::string& name, RenderDataType type);
    virtual unsigned int addInputTextureName(const std::string& name);
    virtual unsigned int addOutputTextureName(const std::string& name);
    virtual void setInputTexture(unsigned int index, Texture* const& texture);
    virtual void setOutputTexture(unsigned int index, Texture* const& texture);
    template <typename T>
    void setParam(unsigned int index, const T& value) {
        if (index < mParams.size() && mParams[index].second && mParams[index].second->getVariable())
            *mParams[index].second->getVariable() = value;
    }
    virtual void apply();
    void setTechnique(RenderTechnique* technique) override;

    void setFrameBuffer(FrameBuffer* frameBuffer);
    FrameBuffer* getFrameBuffer() const { return mFrameBuffer; }
    ResManager* getResManager() const { return mResManager; }
    RenderParameter* getParam(unsigned int index) const {
        return index < mParams.size() ? mParams[index].second : nullptr;
    }
    RenderParameter* getOutputBinding(unsigned int index) const {
        return index < mOutputBinds.size() ? mOutputBinds[index] : nullptr;
    }
    RenderParameter* getInputBinding(unsigned int index) const {
        return index < mInputBinds.size() ? mInputBinds[index] : nullptr;
    }
    Texture* getInputTexture(unsigned int index) const {
        return index < mInputs.size() ? mInputs[index].second : nullptr;
    }
    Texture* getOutputTexture(unsigned int index) const {
        return index < mOutputs.size() ? mOutputs[index].second : nullptr;
    }

    static uint32_t& nameIndex();  // the context's counter for generated names

private:
    void updateBinds();
    void createRenderOperation();
    void releaseOwnParameters();

    ResManager* mResManager;
    FrameBuffer* mFrameBuffer = nullptr;
    std::vector<std::pair<std::string, Texture*>> mInputs;
    std::vector<std::pair<std::string, Texture*>> mOutputs;
    std::vector<std::pair<std::string, RenderParameter*>> mParams;
    std::vector<RenderParameter*> mOwnParams;  // made here, not part of any effect
    std::vector<RenderParameter*> mInputBinds;
    std::vector<RenderParameter*> mOutputBinds;
    class VertexBuffer* mQuadVertices = nullptr;
    class IndexBuffer* mQuadIndices = nullptr;
};

}  // namespace Dove

#endif
