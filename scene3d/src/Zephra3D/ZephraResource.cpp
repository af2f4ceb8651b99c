#include "ZephraResource.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "DoveAnimation.h"
#include "DoveBendDeformer.h"
#include "DoveCamera.h"
#include "DoveContext.h"
#include "DoveElement.h"
#include "DoveFrameBuffer.h"
#include "DoveLight.h"
#include "DoveMaterial.h"
#include "DoveMesh.h"
#include "DoveRenderEngine.h"
#include "DoveRenderFactory.h"
#include "DoveSceneManager.h"
#include "DoveTexture.h"
#include "DoveViewport.h"
#include "ZepLoad3DS.h"

namespace Dove {

namespace {
const char* const kRootSceneName = "ZephraRes_RootScene";
constexpr float kCameraFrameCap = 268435455.0f;  // 0x0FFFFFFF
}  // namespace

ZephraSceneFile::~ZephraSceneFile() {
    for (auto& [path, bitmap] : pictures) delete[] bitmap.pPlane[0];
}

std::shared_ptr<ZephraSceneFile> ZephraResource::readSceneFile(const std::string& path,
                                                               const BitmapConverter& converter) {
    auto file = std::make_shared<ZephraSceneFile>();
    file->path = path;
    auto model = std::make_unique<t3DModel>();
    CZepLoad3DS reader;
    if (!reader.Import3DS(model.get(), path.c_str())) {
        file->error = reader.lastError();
        return file;
    }
    if (converter)
        for (const tMaterialInfo& rec : model->pMaterials) {
            if (rec.strFile.empty()) continue;
            std::string full;
            getResFileName(path, rec.strFile, &full);
            if (file->pictures.count(full)) continue;
            MBITMAP bitmap{};
            MBITMAP* handle = &bitmap;
            // A converter that answers with another record than the one it was given is not
            // trusted with it: what it filled is not ours to free.
            if (!converter(full, &handle) || handle != &bitmap) continue;
            if (checkedBitmapBytes(&bitmap) == 0) {
                delete[] bitmap.pPlane[0];
                continue;
            }
            file->pictures.emplace(full, bitmap);
        }
    file->model = std::move(model);
    return file;
}

ZephraResource::ZephraResource(const std::string& path) : mPath(path) {}

ZephraResource::ZephraResource(std::shared_ptr<ZephraSceneFile> file)
    : mPath(file ? file->path : std::string()), mFile(std::move(file)) {}

void ZephraResource::setAnimationFrameRate(float fps) {
    if (std::isfinite(fps) && fps > 0.0f) mFrameRate = fps;
}

Scene* ZephraResource::init(float fps) {
    setAnimationFrameRate(fps);
    return getRootScene();
}

Scene* ZephraResource::getRootScene() {
    if (mRootScene) return mRootScene;  // loaded, or empty after a failed load
    SceneManager* sm = SceneManager::getSingleton();
    mRootScene = sm->createScene(kRootSceneName, 1);
    if (!mRootScene) return nullptr;
    mRootSceneName = mRootScene->getName();
    if (!load()) return nullptr;
    return mRootScene;
}

bool ZephraResource::load() {
    std::unique_ptr<t3DModel> model;
    if (mFile) {
        model = std::move(mFile->model);
        if (!model) {
            mLoadError = mFile->error.empty() ? std::string("the scene file cannot be read") : mFile->error;
            mFile.reset();
            return false;
        }
    } else {
        model = std::make_unique<t3DModel>();
        CZepLoad3DS reader;
        if (!reader.Import3DS(model.get(), mPath.c_str())) {
            mLoadError = reader.lastError();
            return false;
        }
    }
    mLoadError.clear();
    mModel = std::move(model);
    mNumMeshes = uint32_t(mModel->numOfObjects);
    mNumMaterials = uint32_t(mModel->numOfMaterials);
    mNumLights = uint32_t(mModel->numOfLights);
    mStartFrame = uint32_t(mModel->startFrame);
    mEndFrame = uint32_t(mModel->endFrame);
    mCurFrame = uint32_t(mModel->curFrame);
    const float duration = float(int64_t(mEndFrame) - int64_t(mStartFrame)) / mFrameRate;
    animation = ResManager::getSingleton()->createAnimation(mPath, duration, 1);
    if (animation) animation->setFrameRate(mFrameRate);
    buildCamera();
    buildMaterials();
    buildLights();
    buildBendDeformers();
    buildMeshes();
    buildNodes();
    mFile.reset();  // the pictures are textures now
    return true;
}

void ZephraResource::mergeTimelines(TransformAnimationTrack* track, const tVec3Timelines* t, const tVec3Timelines* r,
                                    const tVec3Timelines* s, bool wholeFrames) {
    const tKeyTimeLine* lines[9] = {};
    for (int i = 0; i < 3; ++i) {
        const tVec3Timelines* group = i == 0 ? t : i == 1 ? r : s;
        if (!group) continue;
        lines[i * 3 + 0] = &group->x;
        lines[i * 3 + 1] = &group->y;
        lines[i * 3 + 2] = &group->z;
    }
    size_t cursor[9] = {};
    auto frameOf = [&](int i) {
        float f = lines[i]->keys[cursor[i]].frame;
        if (wholeFrames) f = std::trunc(f);
        return f;
    };
    for (;;) {
        float chosen = wholeFrames ? kCameraFrameCap : 1e8f;
        bool any = false;
        for (int i = 0; i < 9; ++i) {
            if (!lines[i] || cursor[i] >= lines[i]->keys.size()) continue;
            any = true;
            float f = frameOf(i);
            if (wholeFrames && f > kCameraFrameCap) f = kCameraFrameCap;
            if (f < chosen) chosen = f;
        }
        if (!any) break;
        // A key beyond the search range (or not a number) can never be chosen; the merge stops
        // there rather than spin.
        bool match = false;
        for (int i = 0; i < 9 && !match; ++i)
            if (lines[i] && cursor[i] < lines[i]->keys.size() && frameOf(i) == chosen) match = true;
        if (!match) break;
        TransformKeyFrame* k = track->createTransformKeyFrame(chosen / mFrameRate);
        for (int i = 0; i < 9; ++i) {
            if (lines[i] && cursor[i] < lines[i]->keys.size() && frameOf(i) == chosen) {
                float v = lines[i]->keys[cursor[i]].value;
                switch (i) {
                    case 0: k->setTranslateX(v); break;
                    case 1: k->setTranslateY(v); break;
                    case 2: k->setTranslateZ(v); break;
                    case 3: k->setRotateX(v); break;
                    case 4: k->setRotateY(v); break;
                    case 5: k->setRotateZ(v); break;
                    case 6: k->setScaleX(v); break;
                    case 7: k->setScaleY(v); break;
                    case 8: k->setScaleZ(v); break;
                }
                k->setPresent(i, true);
                ++cursor[i];
            } else {
                k->setPresent(i, false);
            }
        }
    }
    track->makeTransformKeyFrameValid();
}

void ZephraResource::buildCamera() {
    if (mModel->pCameras.empty()) return;
    const tCamera& rec = mModel->pCameras.front();
    SceneManager* sm = SceneManager::getSingleton();
    mCamera = sm->createCamera(rec.strName, 1);
    if (!mCamera) return;
    mCamera->setPosition(rec.position);
    mCamera->setLookAt(rec.lookAt);
    mCamera->setUpVector(rec.up);
    mCamera->setFov(Radian(rec.fov));
    mCamera->setNear(rec.nearPlane);
    mCamera->setFar(rec.farPlane);
    mCamera->setAspect(rec.aspect);

    int x = 0, y = 0, w = 0, h = 0;
    getViewportValueWithCameraAspect(mCamera->getAspect(), Size{sm->getRenderWidth(), sm->getRenderHeight()}, &x, &y,
                                     &w, &h);
    if (FrameBuffer* screen = RenderEngine::getSingleton()->getScreenFrameBuffer())
        mViewport = screen->addViewportWithActualValue(mCamera, x, y, w, h, 0);

    if (animation && (rec.translateKeys.anyKeys() || rec.rotateKeys.anyKeys())) {
        TransformAnimationTrack* track = animation->createTransformTrack();
        mergeTimelines(track, &rec.translateKeys, &rec.rotateKeys, nullptr, true);
        track->bindCamera(mCamera);
    }
    if (animation && !rec.fovKeys.keys.empty()) {
        CameraFovAnimationTrack* track = animation->createCameraFovTrack();
        for (const tTimeLineValue& key : rec.fovKeys.keys) track->createCameraFovKeyFrame(key.frame / mFrameRate)->setFov(key.value);
        track->bindCamera(mCamera);
    }
}

void ZephraResource::buildMaterials() {
    ResManager* rm = ResManager::getSingleton();
    const BitmapConverter* converter = nullptr;
    if (Context* ctx = Context::getSingleton(); ctx->getBitmapConverter()) converter = &ctx->getBitmapConverter();
    for (const tMaterialInfo& rec : mModel->pMaterials) {
        Material* mat = rm->createMaterial(rec.strName, 1);
        if (!mat) continue;
        const tColor24* colours[5] = {&rec.colorA021, &rec.ambient, &rec.diffuse, &rec.specular, &rec.colorA501};
        for (int i = 0; i < 5; ++i)
            mat->colors[i] = Color{colours[i]->r / 255.0f, colours[i]->g / 255.0f, colours[i]->b / 255.0f, 1.0f};
        mat->shininess = float(rec.shininess);
        mat->setTransparency(float(rec.transparency));
        mat->setInitialTransparency(float(rec.transparency));

        if (animation && !rec.transparencyKeys.keys.empty()) {
            MaterialTransparencyAnimationTrack* track = animation->createMaterialTransparencyAnimationTrack();
            for (const tTimeLineValue& key : rec.transparencyKeys.keys)
                track->createMaterialTransparentKeyFrame(key.frame / mFrameRate)->setTransparent(key.value);
            track->bindMaterial(mat);
        }

        Texture* texture = nullptr;
        if (mFile && !rec.strFile.empty()) {
            // Decoded when the file was read.
            std::string full;
            getResFileName(mPath, rec.strFile, &full);
            texture = rm->getTextureByName(full);
            auto picture = mFile->pictures.find(full);
            if (!texture && picture != mFile->pictures.end()) {
                texture = rm->createTextureFromMBitmap(&picture->second, std::string());
                if (texture) mTextures[texture->getName()] = texture;
            }
        } else if (converter && !rec.strFile.empty()) {
            std::string full;
            getResFileName(mPath, rec.strFile, &full);
            texture = rm->getTextureByName(full);
            if (!texture) {
                auto* bitmap = new MBITMAP;
                std::memset(bitmap, 0, sizeof *bitmap);
                MBITMAP* handle = bitmap;
                if ((*converter)(full, &handle) && handle == bitmap) {
                    texture = rm->createTextureFromMBitmap(bitmap, std::string());
                    if (texture) mTextures[texture->getName()] = texture;
                }
                delete[] bitmap->pPlane[0];
                delete bitmap;
            }
        }
        mat->setTexture(texture, TU_BASE);
        mMaterials[mat->getName()] = mat;
    }
}

void ZephraResource::buildLights() {
    if (mModel->numOfLights < 1) return;
    SceneManager* sm = SceneManager::getSingleton();
    for (const tLight& rec : mModel->pLights) {
        Light_Type type;
        switch (rec.type) {
            case 1: type = 2; break;
            case 2: type = 3; break;
            case 3: type = 1; break;
            default: continue;
        }
        Light* light = sm->createLight(type, rec.strName, 1);
        if (!light) continue;
        light->enabled = 1;
        light->position = rec.position;
        light->direction = rec.vec4685;
        light->colors[0] = Color{rec.vec4681.x, rec.vec4681.y, rec.vec4681.z, 1.0f};
        light->colors[1] = Color{rec.color.x, rec.color.y, rec.color.z, 1.0f};
        light->colors[2] = Color{rec.vec4682.x, rec.vec4682.y, rec.vec4682.z, 1.0f};
        light->falloff = rec.falloff;
        light->attenuation = rec.vec4684;
        light->innerValue = rec.value465A;
        light->outerValue = rec.value4659;
        mLights[light->getName()] = light;
    }
}

void ZephraResource::buildBendDeformers() {
    SceneManager* sm = SceneManager::getSingleton();
    for (const tBendDeformer& rec : mModel->bendDeformers) {
        BendDeformer* d = sm->createBendDeformer(rec.strName, 1);
        if (!d) continue;
        for (int i = 0; i < 4; ++i) d->params[i] = rec.params[i];
        mBendDeformers[d->getName()] = d;
    }
}

void ZephraResource::buildMeshes() {
    SceneManager* sm = SceneManager::getSingleton();
    RenderFactory* f = RenderFactory::getSingleton();
    RenderEffect* effect = ResManager::getSingleton()->getDefault3DEffect();
    for (const t3DObject& rec : mModel->pObject) {
        Element* e = sm->createElement(rec.strName, 1);
        if (!e) continue;
        Mesh* mesh = e->createMesh();
        auto mat = mMaterials.find(rec.strMaterialName);
        mesh->setMaterial(mat == mMaterials.end() ? nullptr : mat->second);

        const bool textured = rec.bHasTexture;
        const uint32_t floatsPerVertex = textured ? 8 : 6;
        const size_t count = rec.pVerts.size();
        std::vector<float> data(count * floatsPerVertex);
        Vector3 lo(3.4e38f, 3.4e38f, 3.4e38f), hi(-3.4e38f, -3.4e38f, -3.4e38f);
        Vector3 corner00, corner01, corner11;
        for (size_t i = 0; i < count; ++i) {
            float* v = &data[i * floatsPerVertex];
            const Vector3& p = rec.pVerts[i];
            const Vector3 n = i < rec.pNormals.size() ? rec.pNormals[i] : Vector3::ZERO;
            v[0] = p.x, v[1] = p.y, v[2] = p.z;
            v[3] = n.x, v[4] = n.y, v[5] = n.z;
            lo = Vector3::minimize(lo, p);
            hi = Vector3::maximize(hi, p);
            if (!textured) continue;
            // A mesh with fewer coordinates than vertices gets (0, 0) for the rest.
            const bool has = i * 2 + 1 < rec.pTexVerts.size();
            const float u = has ? rec.pTexVerts[i * 2] : 0.0f;
            const float vv = 1.0f - (has ? rec.pTexVerts[i * 2 + 1] : 0.0f);
            v[6] = u;
            v[7] = vv;
            if (!has) continue;
            auto near = [](float a, float b) { return std::fabs(a - b) <= 0.000001f; };
            if (near(u, 0) && near(vv, 0)) corner00 = p;
            if (near(u, 0) && near(vv, 1)) corner01 = p;
            if (near(u, 1) && near(vv, 1)) corner11 = p;
        }
        mesh->setBoundingBox(AABBox(lo, hi));
        e->setRect(Rect{0, 0, Math::Length3D(corner01, corner11), Math::Length3D(corner01, corner00)});

        const uint32_t stride = floatsPerVertex * 4;
        VertexBuffer* vb = f->createVertexBuffer(stride, uint32_t(count), GraphicsBuffer::BU_STATIC);
        if (!data.empty()) vb->writeData(0, uint32_t(data.size() * 4), data.data());
        IndexBuffer* ib = f->createIndexBuffer(IndexBuffer::IT_32BIT, uint32_t(rec.pFaces.size()), GraphicsBuffer::BU_STATIC);
        if (!rec.pFaces.empty()) ib->writeData(0, uint32_t(rec.pFaces.size() * 4), rec.pFaces.data());
        mesh->adoptBuffers(vb, ib);

        RenderOperation::DataUnit unit;
        unit.vertexBuffer = vb;
        unit.elements.push_back({0, VEU_POSITION, 3});
        unit.elements.push_back({12, VEU_NORMAL, 3});
        if (textured) unit.elements.push_back({24, VEU_TEXCOORD, 2});
        mesh->setRenderEffect(effect);
        RenderOperation* op = mesh->getRenderOperation();
        op->setIndexBuffer(ib);
        op->addDataUnit(unit);
        op->setVertexCount(uint32_t(count));
        op->setIndexCount(uint32_t(rec.pFaces.size()));
        op->setStartVertexLcoation(0);
        mElements[e->getName()] = e;
    }
}

void ZephraResource::buildNodes() {
    SceneManager* sm = SceneManager::getSingleton();
    // An explicit stack: a hierarchy from a file may be deeper than the call stack allows.
    std::vector<std::pair<const tKeyMeshNode*, Scene*>> pending;
    for (auto it = mModel->keyRootNodes.rbegin(); it != mModel->keyRootNodes.rend(); ++it)
        pending.emplace_back(*it, mRootScene);
    while (!pending.empty()) {
        auto [node, parent] = pending.back();
        pending.pop_back();
        int kind = -1;
        void* object = getResTypeByName(node->strInstanceName, &kind);
        const bool hasTransformKeys =
            node->translateKeys.anyKeys() || node->rotateKeys.anyKeys() || node->scaleKeys.anyKeys();
        if (object && kind == RT_BENDDEFORMER) {
            parent->addBendDeformer(static_cast<BendDeformer*>(object));
        } else if (object && kind == RT_LIGHT) {
            parent->addLight(static_cast<Light*>(object));
        } else if (object && kind == RT_ELEMENT) {
            auto* e = static_cast<Element*>(object);
            parent->addElement(e);
            if (node->visible == 0) e->setVisible(0);
            if (const tLocalTransform* t = node->localTransform.get()) {
                Transform& tr = e->getTransform();
                tr.setTranslate(t->translate);
                tr.setScale(t->scale);
                tr.setRotate(t->rotate);
                tr.setScalePivot(t->scalePivot);
                tr.setRotatePivot(t->rotatePivot);
                tr.setScalePivotTranslate(t->scalePivotTranslate);
                tr.setRotatePivotTranslate(t->rotatePivotTranslate);
                tr.setShear(t->shear);
            }
            if (animation && hasTransformKeys) {
                TransformAnimationTrack* track = animation->createTransformTrack();
                mergeTimelines(track, &node->translateKeys, &node->rotateKeys, &node->scaleKeys, false);
                track->bindElement(e);
            }
            if (animation && !node->hideKeys.keys.empty()) {
                VisibilityAnimationTrack* track = animation->createVisiblityTrack();
                for (const tTimeLineValue& key : node->hideKeys.keys)
                    track->createVisibilityKeyFrame(key.frame / mFrameRate)->setVisible(key.value == 0.0f ? 1 : 0);
                track->bindElement(e);
            }
        }
        if (node->children.empty()) continue;
        Scene* scene = sm->createScene(node->strInstanceName, 1);
        if (!scene) continue;
        if (animation && hasTransformKeys) {
            TransformAnimationTrack* track = animation->createTransformTrack();
            mergeTimelines(track, &node->translateKeys, &node->rotateKeys, &node->scaleKeys, false);
            track->bindNode(scene);
        }
        tLocalTransform defaults;
        const tLocalTransform* t = node->localTransform ? node->localTransform.get() : &defaults;
        scene->setPosition(t->translate);
        scene->setScale(t->scale);
        scene->rotate(0, Radian(t->rotate.x));
        scene->rotate(1, Radian(t->rotate.y));
        scene->rotate(2, Radian(t->rotate.z));
        parent->addChild(scene);
        const std::string name = scene->getName();
        const bool attached = scene->getParent() == parent;
        // The parent's reference becomes the scene's only one.
        sm->releaseSceneByName(name);
        if (!attached) continue;  // a name clash in the parent: the scene is gone
        for (auto it = node->children.rbegin(); it != node->children.rend(); ++it) pending.emplace_back(*it, scene);
    }
}

void ZephraResource::bindMeshTexture(const std::string& meshName, MBITMAP* bitmap, TextureRotateType rotation,
                                     TextureFitType fit) {
    Element* e = getElement(meshName);
    if (!e || checkedBitmapBytes(bitmap) == 0) return;
    const Rect& r = e->getRect();
    Size size = meshTextureSize(r.right - r.left, r.bottom - r.top, float(bitmap->lWidth), float(bitmap->lHeight), fit);
    ResManager* rm = ResManager::getSingleton();
    Texture* t = rm->createRotateTextureFromMBitmap(bitmap, rotation, fit, size);
    if (!t) return;
    // Making the texture handed the caller's context back; the photo it replaces is freed in the
    // engine's own, where the driver can let go of it.
    RenderEngine* engine = RenderEngine::getSingleton();
    engine->setCurrent();
    e->bindTexture(t, TU_BASE);
    // The photo this one replaces is released now, not when the theme ends: a slideshow binds a
    // new photo to the same mesh for every slide.
    Texture*& bound = mMeshTextures[meshName];
    if (bound && bound != t) {
        auto it = mTextures.find(bound->getName());
        if (it != mTextures.end() && it->second == bound) mTextures.erase(it);
        rm->releaseTexture(bound, 1);
    }
    bound = t;
    mTextures[t->getName()] = t;
    engine->restoreGLContext();
}

void ZephraResource::fitViewportToScreen(unsigned width, unsigned height) {
    if (!mCamera || !mViewport) return;
    int x = 0, y = 0, w = 0, h = 0;
    getViewportValueWithCameraAspect(mCamera->getAspect(), Size{float(width), float(height)}, &x, &y, &w, &h);
    mViewport->setActualValue(x, y, w, h);
}

Size ZephraResource::meshTextureSize(float w, float h, float W, float H, TextureFitType fit) {
    if (w == 0.0f || h == 0.0f || H == 0.0f) return Size{W, H};
    const float r = w / h;
    Size size = fit == 1 && !(r < W / H) ? Size{r * H, H} : Size{W, W / r};
    // A texture of a few pixels has no room for the margins that keep a small picture's shape
    // (a single pixel would fill the whole mesh): it is made large enough to hold them.
    constexpr float kMinSide = 64.0f;
    const float shorter = std::min(size.width, size.height);
    if (shorter > 0.0f && shorter < kMinSide) {
        size.width *= kMinSide / shorter;
        size.height *= kMinSide / shorter;
    }
    return size;
}

Element* ZephraResource::getElement(const std::string& name) const {
    auto it = mElements.find(name);
    return it == mElements.end() ? nullptr : it->second;
}

void* ZephraResource::getResTypeByName(const std::string& name, int* type) const {
    void* found = nullptr;
    auto consult = [&](const auto& map, int kind) {
        auto it = map.find(name);
        if (it == map.end()) return;
        found = it->second;
        if (type) *type = kind;
    };
    consult(mElements, RT_ELEMENT);
    consult(mMaterials, RT_MATERIAL);
    consult(mLights, RT_LIGHT);
    consult(mBendDeformers, RT_BENDDEFORMER);
    return found;
}

void ZephraResource::getResFileName(const std::string& path, const std::string& fileName, std::string* fullName) {
    if (!fullName) return;
    size_t slash = path.rfind('/');
    *fullName = slash == std::string::npos ? fileName : path.substr(0, slash + 1) + fileName;
}

ZephraResource::~ZephraResource() {
    RenderEngine* engine = RenderEngine::peekSingleton();
    if (engine) engine->setCurrent();
    SceneManager* sm = SceneManager::peekSingleton();
    ResManager* rm = ResManager::peekSingleton();
    if (mCamera) {
        // The screen keeps no viewport that looks through a camera that is going away.
        if (engine && mViewport && engine->getScreenFrameBuffer()) engine->getScreenFrameBuffer()->removeViewport(mViewport);
        if (sm) sm->releaseCameraByName(mCamera->getName());
    }
    if (rm)
        for (auto& [name, m] : mMaterials) rm->releaseMaterial(m, 1);
    mMaterials.clear();
    if (sm) {
        for (auto& [name, l] : mLights) {
            // The scene's reference goes first, so that the light does not outlive the theme.
            if (Node* holder = l->getParentNode())
                static_cast<Scene*>(holder)->removeLight(l);
            else
                sm->releaseLightByName(name);
            if (sm->getLightByName(name) == l) sm->releaseLightByName(name);
        }
        for (auto& [name, d] : mBendDeformers) sm->releaseBendDeformerByName(name);
        if (mRootScene) {
            if (Node* parent = mRootScene->getParent()) parent->removeChild(mRootScene);
            sm->releaseSceneByName(mRootSceneName);
        }
        for (auto& [name, e] : mElements) sm->releaseElementByName(name);
    }
    mLights.clear();
    mBendDeformers.clear();
    mElements.clear();
    if (rm && animation) rm->releaseAnimation(animation, 1);
    animation = nullptr;
    if (rm)
        for (auto& [name, t] : mTextures) rm->releaseTexture(t, 1);
    mTextures.clear();
    mMeshTextures.clear();
    if (engine) engine->restoreGLContext();
}

}  // namespace Dove
