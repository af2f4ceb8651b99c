// A small drawing set up by hand for the GL tests: one effect with the given parameters, one
// technique with one pass whose program is built from two GLSL sources, and a full-screen quad.
#ifndef KPV_TESTS_SCENE3D_GL_GLDRAWING_H
#define KPV_TESTS_SCENE3D_GL_GLDRAWING_H

#include <string>
#include <utility>
#include <vector>

#include "DoveGraphicsBuffer.h"
#include "DoveRenderEffect.h"
#include "DoveRenderEngine.h"
#include "DoveRenderFactory.h"
#include "DoveRenderParameter.h"
#include "DoveShaderProgram.h"
#include "DoveTexture.h"

struct GLDrawing {
    Dove::RenderEffect* effect = nullptr;
    Dove::RenderTechnique* technique = nullptr;
    Dove::RenderPass* pass = nullptr;
    Dove::ShaderProgram* program = nullptr;
    Dove::RenderOperation* operation = nullptr;
    Dove::VertexBuffer* vertices = nullptr;
    Dove::IndexBuffer* indices = nullptr;

    GLDrawing(const char* vertexSource, const char* fragmentSource,
              const std::vector<std::pair<std::string, Dove::RenderDataType>>& parameters) {
        Dove::RenderFactory* f = Dove::RenderFactory::getSingleton();
        effect = new Dove::RenderEffect(nullptr, "");
        for (const auto& [name, type] : parameters) effect->addRenderParameter(name, type)->release();
        technique = effect->createRenderTechnique("");
        technique->release();
        pass = technique->createPass("");
        pass->release();
        program = f->createShaderProgram("");
        program->setEffect(effect);
        program->attachShader(0, vertexSource);
        program->attachShader(1, fragmentSource);
        program->linkShader();
        pass->setShaderProgram(program);

        // Full-screen quad: x, y, z, u, v per vertex.
        const float quad[] = {-1, 1, 0, 0, 1, 1, 1, 0, 1, 1, -1, -1, 0, 0, 0, 1, -1, 0, 1, 0};
        const uint16_t order[] = {0, 2, 1, 3, 1, 2};
        vertices = f->createVertexBuffer(20, 4, Dove::GraphicsBuffer::BU_STATIC);
        vertices->writeData(0, sizeof quad, quad);
        indices = f->createIndexBuffer(Dove::IndexBuffer::IT_16BIT, 6, Dove::GraphicsBuffer::BU_STATIC);
        indices->writeData(0, sizeof order, order);
        operation = f->createRenderOperation();
        Dove::RenderOperation::DataUnit unit;
        unit.vertexBuffer = vertices;
        unit.elements = {{0, Dove::VEU_POSITION, 3}, {12, Dove::VEU_TEXCOORD, 2}};
        operation->addDataUnit(unit);
        operation->setIndexBuffer(indices);
        operation->setVertexCount(4);
        operation->setIndexCount(6);
    }

    ~GLDrawing() {
        Dove::RenderFactory* f = Dove::RenderFactory::getSingleton();
        f->releaseRenderOperation(operation);
        f->releaseVertexBuffer(vertices);
        f->releaseIndexBuffer(indices);
        delete effect;  // the pass drops its reference to the program but leaves it to its maker
        f->releaseShaderProgram(program);
    }

    template <typename T>
    void set(const std::string& name, const T& value) {
        *effect->getRenderParameterByName(name)->getVariable() = value;
    }

    void draw() { Dove::RenderEngine::getSingleton()->render(technique, operation); }
};

#endif
