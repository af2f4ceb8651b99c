// Owner of the engine's shared resources, each kept by name: effects, techniques, passes,
// post-processes, shader programs, materials, animations and textures. Builds the built-in
// effects on first request, makes textures from bitmaps and advances the playing animations.
#ifndef DOVE_RESMANAGER_H
#define DOVE_RESMANAGER_H

#include <functional>
#include <map>
#include <string>

#include "DoveMath.h"
#include "MdBitmap.h"

namespace Dove {

class RenderEffect;
class RenderTechnique;
class RenderPass;
class PostProcess;
class ShaderProgram;
class Material;
class Animation;
class Texture;
class Font;

// 0 none, 1 a quarter turn, 2 a half turn, 3 three quarter turns.
using TextureRotateType = int;
// 0 no fitting, 1 fit inside (letterbox), 2 fit outside (fill).
using TextureFitType = int;

class ResManager {
public:
    static ResManager* getSingleton();
    static ResManager* peekSingleton();
    static void releaseSingleton();

    static const char* const Default2DEffectName;
    static const char* const Default3DEffectName;
    static const char* const FitTextureEffectName;
    static const char* const CropTextureEffectName;
    static const char* const RotateTextureEffectName;
    static const char* const FitTexturePostProcessName;
    static const char* const CropTexturePostProcessName;
    static const char* const RotateTexturePostProcessName;
    static const char* const Default2DProgramName;
    static const char* const Default3DProgramName;
    static const char* const LightProgramName;
    static const char* const FitTextureProgramName;
    static const char* const CropTextureProgramName;
    static const char* const RotateTextureProgramName;

    RenderEffect* createRenderEffect(const std::string& name);
    RenderEffect* getRenderEffectByName(const std::string& name) const;
    RenderEffect* getDefault2DEffect();
    RenderEffect* getDefault3DEffect();
    RenderEffect* getFitTextureEffect();
    RenderEffect* getRotateTextureEffect();
    RenderEffect* getCropTextureEffect();
    ShaderProgram* getDefault2DProgram();
    ShaderProgram* getDefault3DProgram();
    ShaderProgram* createShaderProgram(const std::string& name, const std::string& vertexSource,
                                       const std::string& fragmentSource, RenderEffect* effect);
    ShaderProgram* getShaderProgram(const std::string& name) const;

    PostProcess* createPostProcess(const std::string& name);
    PostProcess* getPostProcessByName(const std::string& name) const;
    PostProcess* getFitTexturePostProcess();
    PostProcess* getRotateTexturePostProcess();
    PostProcess* getCropTexturePostProcess();

    Material* createMaterial(const std::string& name, long renameIfTaken);
    Material* getMaterialByName(const std::string& name) const;
    Animation* createAnimation(const std::string& name, float duration, long renameIfTaken);
    Animation* getAnimation(const std::string& name) const;

    // Each returns 0 when the name is not registered and 1 otherwise; flag 1 erases the entry of
    // a destroyed object.
    long releaseRenderEffect(RenderEffect* effect, long flag);
    long releasePostProcess(PostProcess* postProcess, long flag);
    long releaseShaderProgram(ShaderProgram* program, long flag);
    long releaseMaterial(Material* material, long flag);
    long releaseAnimation(Animation* animation, long flag);
    long releaseTexture(Texture* texture, long flag);
    long releaseTextureByName(const std::string& name, long flag);

    // Textures made from bitmaps; each is registered under its own (generated) name.
    Texture* createBlankTexture(unsigned int width, unsigned int height, const std::string& name);
    Texture* createTextureFromMBitmap(MBITMAP* bitmap, const std::string& name);
    Texture* createTextureFromMBitmapWithAutoFit(MBITMAP* bitmap, unsigned int width, unsigned int height, long fit);
    Texture* createPureTexture(unsigned int width, unsigned int height, Color colour);
    Texture* getTextureByName(const std::string& name) const;
    Texture* createRotateTextureFromMBitmap(MBITMAP* bitmap, TextureRotateType rotate, TextureFitType fit,
                                           Size target);
    Texture* createCropTextureFromMBitmap(MBITMAP* bitmap, const Point2D corners[4], unsigned int width,
                                         unsigned int height);

    void updateAllAnimations();
    void resetAllBindedTarget();
    Size getTextPixelSize(const std::string& text, Font* font) const;

    size_t textureCount() const { return mTextures.size(); }
    size_t materialCount() const { return mMaterials.size(); }
    size_t animationCount() const { return mAnimations.size(); }
    size_t effectCount() const { return mEffects.size(); }

private:
    ResManager() = default;
    ~ResManager();
    RenderEffect* buildEffect(const char* name, const char* const* params, const int* types, int count,
                              const char* technique, const char* pass, int depthMode, const char* program,
                              const char* vertex, const char* fragment);
    PostProcess* buildPostProcess(const char* name, const char* const* params, const int* types, int count);
    std::string uniqueName(const std::string& name, const std::function<bool(const std::string&)>& taken,
                           long renameIfTaken, bool& refused) const;
    Texture* registerTexture(Texture* texture);

    std::map<std::string, RenderEffect*> mEffects;
    std::map<std::string, RenderTechnique*> mTechniques;
    std::map<std::string, RenderPass*> mPasses;
    std::map<std::string, PostProcess*> mPostProcesses;
    std::map<std::string, ShaderProgram*> mPrograms;
    std::map<std::string, Material*> mMaterials;
    std::map<std::string, Animation*> mAnimations;
    std::map<std::string, Texture*> mTextures;
};

// The size of the source scaled to fit the target: heights matched for fit-inside when the source
// is not wider than the target (and for any other fit when it is wider), widths otherwise.
void calculateFitSize(Size source, Size target, TextureFitType fit, Size* out);

// The projective mapping (homography) from the unit square's corners onto four corners.
bool InitMatrixPoly4(const Point2D unitCorners[4], const Point2D corners[4], float matrix[9]);
// Solves an n x (n+1) augmented system in place; false when it is singular.
bool GaussElimination(double* augmented, int n, double* solution);
double comput_D(const double* m, int n);
void Creat_M(const double* m, int n, int row, int col, double* minor);
bool InvertMatrix(const double* m, int n, double* inverse);
void MatrixMultiply(const double* a, int aRows, int aCols, const double* b, int bCols, double* out);

}  // namespace Dove

#endif
