// Vertex and index buffers as OpenGL buffer objects, and the render operation that points the
// program's attributes at them.
#ifndef DOVE_OGLGRAPHICSBUFFER_H
#define DOVE_OGLGRAPHICSBUFFER_H

#include "DoveGraphicsBuffer.h"

namespace Dove {

// OpenGL usage hint of a buffer usage; anything but dynamic is static.
unsigned int getGLUsage(GraphicsBuffer::BufferUsage usage);
// OpenGL component type of a vertex data type, 0 for an unknown one.
unsigned int getGLType(VertexDataType type);

class OGLVertexBuffer : public VertexBuffer {
public:
    OGLVertexBuffer(unsigned int vertexSize, unsigned int vertexCount, BufferUsage usage);
    ~OGLVertexBuffer() override;
    uint32_t getBufferID() const override { return mName; }
    void active() override;
    void writeData(unsigned int offset, unsigned int size, const void* data) override;

private:
    uint32_t mName = 0;
};

class OGLIndexBuffer : public IndexBuffer {
public:
    OGLIndexBuffer(IndexType type, unsigned int indexCount, BufferUsage usage);
    ~OGLIndexBuffer() override;
    uint32_t getBufferID() const override { return mName; }
    void active() override;
    void writeData(unsigned int offset, unsigned int size, const void* data) override;

private:
    uint32_t mName = 0;
};

class OGLRenderOperation : public RenderOperation {
public:
    void active(ShaderProgram* program) override { bindVertexStreams(program); }
    void deactive(ShaderProgram*) override {}

private:
    void bindVertexStreams(ShaderProgram* program);
};

}  // namespace Dove

#endif
