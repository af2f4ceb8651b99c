#include "DoveOGLGraphicsBuffer.h"

#include "DoveShaderProgram.h"
#include "OGLCommon.h"

namespace Dove {

unsigned int getGLUsage(GraphicsBuffer::BufferUsage usage) {
    return usage == GraphicsBuffer::BU_DYNAMIC ? GL_DYNAMIC_DRAW : GL_STATIC_DRAW;
}

unsigned int getGLType(VertexDataType type) {
    if (type >= 1 && type <= 4) return GL_FLOAT;
    if (type >= 5 && type <= 8) return GL_SHORT;
    if (type == 9) return GL_UNSIGNED_BYTE;
    return 0;
}

namespace {

uint32_t makeBuffer(GLenum target, uint32_t size, GLenum usage) {
    if (!glReady()) return 0;
    GLuint name = 0;
    glGenBuffers(1, &name);
    glBindBuffer(target, name);
    // A size the driver cannot allocate leaves an empty store; writes into it are refused below.
    glBufferData(target, GLsizeiptr(size), nullptr, usage);
    drainGLErrors();
    return name;
}

void deleteBuffer(uint32_t name) {
    if (name == 0 || !glReady()) return;
    GLuint n = name;
    glDeleteBuffers(1, &n);
    drainGLErrors();
}

// Writes a range; the whole store is replaced when the range is the whole buffer. A range past the
// end of the buffer is refused rather than handed to the driver.
void writeBuffer(GLenum target, uint32_t name, uint32_t bufferSize, GLenum usage, unsigned int offset,
                 unsigned int size, const void* data) {
    if (name == 0 || !data || size == 0 || uint64_t(offset) + size > bufferSize) return;
    glBindBuffer(target, name);
    if (offset == 0 && size == bufferSize)
        glBufferData(target, GLsizeiptr(size), data, usage);
    else
        glBufferSubData(target, GLintptr(offset), GLsizeiptr(size), data);
    drainGLErrors();
}

}  // namespace

OGLVertexBuffer::OGLVertexBuffer(unsigned int vertexSize, unsigned int vertexCount, BufferUsage usage)
    : VertexBuffer(vertexSize, vertexCount, usage), mName(makeBuffer(GL_ARRAY_BUFFER, mSize, getGLUsage(usage))) {}

OGLVertexBuffer::~OGLVertexBuffer() { deleteBuffer(mName); }

void OGLVertexBuffer::active() {
    glBindBuffer(GL_ARRAY_BUFFER, mName);
    drainGLErrors();
}

void OGLVertexBuffer::writeData(unsigned int offset, unsigned int size, const void* data) {
    writeBuffer(GL_ARRAY_BUFFER, mName, mSize, getGLUsage(mUsage), offset, size, data);
}

OGLIndexBuffer::OGLIndexBuffer(IndexType type, unsigned int indexCount, BufferUsage usage)
    : IndexBuffer(type, indexCount, usage),
      mName(makeBuffer(GL_ELEMENT_ARRAY_BUFFER, mSize, getGLUsage(usage))) {}

OGLIndexBuffer::~OGLIndexBuffer() { deleteBuffer(mName); }

void OGLIndexBuffer::active() {
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, mName);
    drainGLErrors();
}

void OGLIndexBuffer::writeData(unsigned int offset, unsigned int size, const void* data) {
    writeBuffer(GL_ELEMENT_ARRAY_BUFFER, mName, mSize, getGLUsage(mUsage), offset, size, data);
}

void OGLRenderOperation::bindVertexStreams(ShaderProgram* program) {
    if (!program) return;
    for (const DataUnit& unit : mDataUnits) {
        if (!unit.vertexBuffer) continue;
        for (const VertexElement& e : unit.elements) {
            const int location = program->getAttribLocation(e.usage);
            if (location == -1) continue;  // the program has no attribute of this usage
            unit.vertexBuffer->active();
            glVertexAttribPointer(GLuint(location), GLint(getComponentCount(e.type)), getGLType(e.type), GL_FALSE,
                                  GLsizei(unit.vertexBuffer->getVertexSize()),
                                  reinterpret_cast<const void*>(uintptr_t(e.offset)));
            drainGLErrors();
            glEnableVertexAttribArray(GLuint(location));
            drainGLErrors();
        }
    }
    if (mIndexBuffer) mIndexBuffer->active();
}

}  // namespace Dove
