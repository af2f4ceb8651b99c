// A mesh: the geometry, render effect, textures and material that an element draws with.
#ifndef DOVE_MESH_H
#define DOVE_MESH_H

#include <string>

#include "DoveBendDeformer.h"
#include "DoveRenderable.h"

namespace Dove {

class Element;
class RenderEffect;
class VertexBuffer;
class IndexBuffer;

class Mesh : public Renderable {
public:
    // The empty name gives "Mesh_" and the next object number.
    explicit Mesh(const std::string& name = std::string());
    ~Mesh() override;

    const std::string& getMeshName() const { return mMeshName; }
    void setRenderEffect(RenderEffect* effect);
    RenderEffect* getRenderEffect() const { return mEffect; }
    void render(Element* element);
    using Renderable::render;

    const AABBox& getBoundingBox() const { return mBox; }
    void setBoundingBox(const AABBox& box) { mBox = box; }
    void setUVOffset(float u, float v) {
        mUVOffset[0] = u;
        mUVOffset[1] = v;
    }
    float getUVOffsetU() const { return mUVOffset[0]; }
    float getUVOffsetV() const { return mUVOffset[1]; }
    // Takes over the buffers its render operation draws from (the operation holds none).
    void adoptBuffers(VertexBuffer* vertices, IndexBuffer* indices);
    VertexBuffer* getVertexBuffer() const { return mVertices; }
    IndexBuffer* getIndexBuffer() const { return mIndices; }

private:
    RenderEffect* mEffect = nullptr;
    float mUVOffset[2] = {0, 0};
    std::string mMeshName;
    AABBox mBox;
    VertexBuffer* mVertices = nullptr;
    IndexBuffer* mIndices = nullptr;
};

}  // namespace Dove

#endif
