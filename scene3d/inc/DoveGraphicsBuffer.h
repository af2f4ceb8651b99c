// Geometry on the GPU: vertex and index buffers, vertex layouts and render operations.
#ifndef DOVE_GRAPHICSBUFFER_H
#define DOVE_GRAPHICSBUFFER_H

#include <cstdint>
#include <vector>

#include "DoveObject.h"

namespace Dove {

class ShaderProgram;

class GraphicsBuffer : public Refcount {
public:
    enum BufferUsage { BU_STATIC = 0, BU_DYNAMIC = 1 };

    GraphicsBuffer(uint32_t size, BufferUsage usage) : mSize(size), mUsage(usage) {}
    virtual uint32_t getBufferID() const = 0;
    virtual void active() = 0;
    virtual void writeData(unsigned int offset, unsigned int size, const void* data) = 0;

    uint32_t getBufferSize() const { return mSize; }
    BufferUsage getUsage() const { return mUsage; }

protected:
    uint32_t mSize;
    BufferUsage mUsage;
};

class VertexBuffer : public GraphicsBuffer {
public:
    // The byte size saturates rather than wraps; a backend refuses a size it cannot allocate.
    VertexBuffer(unsigned int vertexSize, unsigned int vertexCount, BufferUsage usage)
        : GraphicsBuffer(productOrMax(vertexSize, vertexCount), usage), mVertexCount(vertexCount),
          mVertexSize(vertexSize) {}
    uint32_t getVertexSize() const { return mVertexSize; }
    uint32_t getVertexCount() const { return mVertexCount; }

    static uint32_t productOrMax(uint32_t a, uint32_t b) {
        uint64_t p = uint64_t(a) * b;
        return p > UINT32_MAX ? UINT32_MAX : uint32_t(p);
    }

private:
    uint32_t mVertexCount;
    uint32_t mVertexSize;
};

class IndexBuffer : public GraphicsBuffer {
public:
    enum IndexType { IT_16BIT = 0, IT_32BIT = 1 };
    IndexBuffer(IndexType type, unsigned int indexCount, BufferUsage usage)
        : GraphicsBuffer(VertexBuffer::productOrMax(type == IT_32BIT ? 4u : 2u, indexCount), usage),
          mType(type), mIndexCount(indexCount), mIndexSize(type == IT_32BIT ? 4u : 2u) {}
    IndexType getIndexType() const { return mType; }
    uint32_t getIndexCount() const { return mIndexCount; }
    uint32_t getIndexSize() const { return mIndexSize; }

private:
    IndexType mType;
    uint32_t mIndexCount;
    uint32_t mIndexSize;
};

// 0 position, 1 normal, 2 texture coordinate.
enum VertexElementUsage { VEU_POSITION = 0, VEU_NORMAL = 1, VEU_TEXCOORD = 2 };

// 1..4 floats, 5..8 signed 16-bit, 9 four unsigned bytes.
using VertexDataType = int;
uint32_t getTypeSize(VertexDataType type);
uint32_t getComponentCount(VertexDataType type);

struct VertexElement {
    uint32_t offset = 0;
    VertexElementUsage usage = VEU_POSITION;
    VertexDataType type = 0;
};

class RenderOperation : public Refcount {
public:
    struct DataUnit {
        VertexBuffer* vertexBuffer = nullptr;
        std::vector<VertexElement> elements;
    };

    virtual void active(ShaderProgram* program) = 0;
    virtual void deactive(ShaderProgram* program) = 0;

    void setVertexCount(uint32_t n) { mVertexCount = n; }
    void setIndexCount(uint32_t n) { mIndexCount = n; }
    void setStartVertexLcoation(uint32_t n) { mStartVertex = n; }
    void setStartIndexLocation(uint32_t n) { mStartIndex = n; }
    void setTopologyType(uint32_t t) { mTopology = t; }
    void setIndexBuffer(IndexBuffer* const& buffer) { mIndexBuffer = buffer; }
    void addDataUnit(const DataUnit& unit) { mDataUnits.push_back(unit); }

    const std::vector<DataUnit>& getDataUnits() const { return mDataUnits; }
    IndexBuffer* getIndexBuffer() const { return mIndexBuffer; }
    uint32_t getVertexCount() const { return mVertexCount; }
    uint32_t getIndexCount() const { return mIndexCount; }
    uint32_t getStartVertexLocation() const { return mStartVertex; }
    uint32_t getStartIndexLocation() const { return mStartIndex; }
    uint32_t getTopologyType() const { return mTopology; }

protected:
    std::vector<DataUnit> mDataUnits;
    IndexBuffer* mIndexBuffer = nullptr;
    uint32_t mVertexCount = 0, mIndexCount = 0, mStartVertex = 0, mStartIndex = 0;
    uint32_t mTopology = 4;  // triangles
};

}  // namespace Dove

#endif
