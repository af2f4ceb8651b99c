// Turns one scene file into live engine objects: a root scene "ZephraRes_RootScene" holding mesh
// elements, lights and bend deformers in sub-scenes, one camera with its viewport, materials with
// textures, and one animation whose tracks move them.
#ifndef DOVE_ZEPHRARESOURCE_H
#define DOVE_ZEPHRARESOURCE_H

#include <map>
#include <memory>
#include <string>

#include "DoveContext.h"
#include "DoveResManager.h"
#include "MdBitmap.h"

namespace Dove {

class Element;
class Light;
class Material;
class BendDeformer;
class Texture;
class Scene;
class Animation;
class Camera;
class Viewport;
struct t3DModel;
struct tKeyMeshNode;
struct tVec3Timelines;
class TransformAnimationTrack;

// What a scene file needs from the disk, read without the engine: the scene model and the
// pictures its materials name, decoded by the application's converter. Reading it takes no engine
// object and no OpenGL call, so it may run on any thread; the resource then builds from it.
struct ZephraSceneFile {
    ZephraSceneFile() = default;
    ~ZephraSceneFile();
    ZephraSceneFile(const ZephraSceneFile&) = delete;
    ZephraSceneFile& operator=(const ZephraSceneFile&) = delete;

    std::string path;
    std::unique_ptr<t3DModel> model;  // null when the file could not be read
    std::string error;                // why not
    // The decoded pictures by their full path; a picture that could not be decoded is absent.
    // Each record's first plane is owned here (delete[]).
    std::map<std::string, MBITMAP> pictures;
};

class ZephraResource {
public:
    // Reads the scene file at `path` and decodes the pictures its materials name with
    // `converter` (none: no pictures).
    static std::shared_ptr<ZephraSceneFile> readSceneFile(const std::string& path, const BitmapConverter& converter);

    // 0 mesh element, 1 material, 2 light, 3 bend deformer.
    enum ResType { RT_ELEMENT = 0, RT_MATERIAL = 1, RT_LIGHT = 2, RT_BENDDEFORMER = 3 };

    explicit ZephraResource(const std::string& path);
    // Builds from a scene file read beforehand (readSceneFile) instead of reading the file.
    explicit ZephraResource(std::shared_ptr<ZephraSceneFile> file);
    ~ZephraResource();
    ZephraResource(const ZephraResource&) = delete;
    ZephraResource& operator=(const ZephraResource&) = delete;

    // Key times are converted at load: a rate set after the first getRootScene changes nothing.
    // A rate that is not a positive number is ignored.
    void setAnimationFrameRate(float framesPerSecond);
    float getAnimationFrameRate() const { return mFrameRate; }
    Scene* init(float framesPerSecond);
    // Loads the file on the first call; null when it cannot be read.
    Scene* getRootScene();
    // Why the last load failed, empty after a good one.
    const std::string& loadError() const { return mLoadError; }

    // Puts a photo on the named mesh as its base texture, turned and fitted to the mesh's
    // rectangle; the photo bound there before is released.
    void bindMeshTexture(const std::string& meshName, MBITMAP* bitmap, TextureRotateType rotation,
                         TextureFitType fit);
    Element* getElement(const std::string& name) const;
    void* getResTypeByName(const std::string& name, int* type) const;
    static void getResFileName(const std::string& path, const std::string& fileName, std::string* fullName);
    // The texture size bindMeshTexture asks for, from the element's rectangle and the bitmap.
    static Size meshTextureSize(float rectWidth, float rectHeight, float bitmapWidth, float bitmapHeight,
                                TextureFitType fit);

    Animation* animation = nullptr;

    Camera* getCamera() const { return mCamera; }
    Viewport* getViewport() const { return mViewport; }
    // Places the camera's viewport in a screen of the new size, at the camera's aspect, centred.
    void fitViewportToScreen(unsigned width, unsigned height);
    const t3DModel* getModel() const { return mModel.get(); }
    uint32_t getStartFrame() const { return mStartFrame; }
    uint32_t getEndFrame() const { return mEndFrame; }
    uint32_t getCurFrame() const { return mCurFrame; }
    size_t textureCount() const { return mTextures.size(); }

private:
    bool load();
    void buildCamera();
    void buildMaterials();
    void buildLights();
    void buildBendDeformers();
    void buildMeshes();
    void buildNodes();
    // Merges up to nine timelines (translate, rotate, scale X, Y, Z; null when absent) into the
    // track's key frames. wholeFrames cuts frames to integers as camera keys are.
    void mergeTimelines(TransformAnimationTrack* track, const tVec3Timelines* t, const tVec3Timelines* r,
                        const tVec3Timelines* s, bool wholeFrames);

    std::map<std::string, Element*> mElements;
    std::map<std::string, Light*> mLights;
    std::map<std::string, Material*> mMaterials;
    std::map<std::string, BendDeformer*> mBendDeformers;
    std::map<std::string, Texture*> mTextures;
    std::map<std::string, Texture*> mMeshTextures;  // the photo bound to each mesh
    std::string mPath;
    std::unique_ptr<t3DModel> mModel;
    std::shared_ptr<ZephraSceneFile> mFile;  // read beforehand; the load takes its model
    Scene* mRootScene = nullptr;
    std::string mRootSceneName;
    Camera* mCamera = nullptr;
    Viewport* mViewport = nullptr;
    uint32_t mNumMeshes = 0, mNumMaterials = 0, mNumLights = 0;
    uint32_t mStartFrame = 0, mEndFrame = 0, mCurFrame = 0;
    float mFrameRate = 24.0f;
    std::string mLoadError;
};

}  // namespace Dove

#endif
