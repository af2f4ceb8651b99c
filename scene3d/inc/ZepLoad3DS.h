// The scene-file reader: a little-endian chunk tree (16-bit identifier, 32-bit length that
// counts the 6-byte header) read into a plain in-memory model. It creates no engine objects.
//
// The bytes are untrusted. Every chunk length is checked against its parent before anything
// inside it is read, nesting is bounded, unknown chunks are skipped, and counts and indices are
// checked after parsing. A file that breaks these rules is a failed import with a message; the
// model is then left empty.
#ifndef DOVE_ZEPLOAD3DS_H
#define DOVE_ZEPLOAD3DS_H

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "DoveMath.h"

namespace Dove {

struct tTimeLineValue {
    float frame = 0.0f;
    uint16_t flags = 0;
    // Optional blocks (flags 0x20 and 0x40): kept as read.
    uint16_t extraTag[2] = {0, 0};
    uint8_t extra[2][8] = {};
    float value = 0.0f;
};

struct tKeyTimeLine {
    uint16_t tag = 0;        // axis bit of a three-axis track, or the flags of a single-value track
    uint16_t headerTag = 0;  // from the track header
    std::vector<tTimeLineValue> keys;
    uint32_t keyCount() const { return uint32_t(keys.size()); }
};

struct tVec3Timelines {
    tKeyTimeLine x, y, z;
    bool anyKeys() const { return !x.keys.empty() || !y.keys.empty() || !z.keys.empty(); }
};

struct tColor24 {
    uint8_t r = 0, g = 0, b = 0;
};

struct t3DObject {
    int32_t numOfVerts = 0;
    int32_t numOfFaces = 0;
    int32_t numTexVertex = 0;
    bool bHasTexture = false;
    std::string strMaterialName;  // up to 254 characters
    std::string strName;          // up to 254 characters
    std::vector<Vector3> pVerts;
    std::vector<Vector3> pNormals;
    std::vector<float> pTexVerts;  // u, v per coordinate
    std::vector<uint32_t> pFaces;  // three vertex indices per face
};

struct tMaterialInfo {
    std::string strName;     // up to 31 characters
    std::string strFile;     // texture file, relative to the scene file's folder (up to 254)
    std::string strMapFile;  // second map file (up to 254)
    tColor24 ambient, diffuse, specular, colorA501;
    tColor24 colorA021{255, 255, 255};
    int16_t shininess = 0;
    int16_t transparency = 0;
    tKeyTimeLine transparencyKeys;
    tKeyTimeLine secondKeys;
};

struct tLight {
    Vector3 position;
    Vector3 spotTarget;
    Vector3 vec4685;
    Vector3 color;
    Vector3 vec4682;
    Vector3 vec4681;
    uint32_t type = 0;
    Vector3 vec4684;
    uint8_t off = 0;
    uint8_t spot = 0;
    float hotspot = 0.0f, falloff = 0.0f;
    float value465A = 0.0f, value4659 = 0.0f, value465B = 0.0f;
    std::string strName;  // up to 63 characters
    tVec3Timelines positionKeys;
    tVec3Timelines targetKeys;
};

struct tCamera {
    Vector3 position;
    Vector3 lookAt;
    Vector3 up{0, 1, 0};
    Vector3 payloadVector;
    float fov = 0.0f;
    float nearPlane = 0.1f;
    float farPlane = 1000.0f;
    float aspect = 0.0f;
    std::string strName;
    tVec3Timelines translateKeys;
    tVec3Timelines rotateKeys;
    tKeyTimeLine fovKeys;
};

// 28 floats in file order.
struct tLocalTransform {
    Vector3 scalePivot;
    Vector3 scale{1, 1, 1};
    Vector3 shear;
    Vector3 scalePivotTranslate;
    Vector3 rotatePivot;
    Quaternion rotateOrientation{0, 0, 0, 1};
    Vector3 rotate;
    Vector3 rotatePivotTranslate;
    Vector3 translate;
};

struct tKeyMeshNode {
    uint16_t nodeId = 0;
    uint16_t parentId = 0xFFFF;
    std::string strNodeName;
    uint16_t flags = 0;
    tKeyMeshNode* parent = nullptr;
    std::vector<tKeyMeshNode*> children;  // owned by the model's node store
    std::string strInstanceName;
    std::vector<std::string> strings;
    std::unique_ptr<tLocalTransform> localTransform;
    int32_t visible = 1;
    tVec3Timelines translateKeys, rotateKeys, scaleKeys;
    tKeyTimeLine hideKeys;
};

struct tBendDeformer {
    std::string strName;
    float params[4] = {0, 0, 0, 0};
    float extra = 0.0f;
    tKeyTimeLine keys[4];
};

struct tPointDeformer {
    std::string strName;
    uint32_t pointCount = 0;
    std::map<std::vector<uint32_t>, std::vector<tKeyTimeLine>> points;
};

struct tMotionPath {
    std::string strName;
    uint16_t value16 = 0;
    uint32_t value32 = 0;
    tVec3Timelines first, second;
};

struct t3DModel {
    int32_t numOfObjects = 0;
    int32_t numOfMaterials = 0;
    int32_t numOfLights = 0;
    int32_t numOfCameras = 0;
    std::vector<t3DObject> pObject;
    std::vector<tMaterialInfo> pMaterials;
    std::vector<tLight> pLights;
    std::vector<tCamera> pCameras;
    std::vector<tKeyMeshNode*> keyRootNodes;
    std::vector<tBendDeformer> bendDeformers;
    std::vector<tPointDeformer> pointDeformers;
    std::vector<tMotionPath> motionPaths;
    int64_t startFrame = 0, endFrame = 0, curFrame = 0;
    uint32_t chunk0005 = 0;
    // Every key-frame node, placed or not yet placed; roots and children point into it.
    std::vector<std::unique_ptr<tKeyMeshNode>> nodeStore;

    void clear() { *this = t3DModel(); }
};

class CZepLoad3DS {
public:
    CZepLoad3DS() = default;

    // Reads the file into the empty model. False when the file cannot be read, does not start
    // with the main chunk, or breaks the chunk rules; lastError() then says why.
    bool Import3DS(t3DModel* model, const char* path);
    // The same over bytes already in memory.
    bool Import3DSFromMemory(t3DModel* model, const uint8_t* data, size_t size);
    const std::string& lastError() const { return mError; }

    // Largest scene file accepted.
    static constexpr size_t kMaxFileSize = size_t(256) << 20;

private:
    bool mUsed = false;
    std::string mError;
};

// Lookups by exact name, first match in list order; null when absent.
tCamera* FindCamera(t3DModel* model, const char* name);
tLight* FindLight(t3DModel* model, const char* name);
tBendDeformer* FindBendDeformer(t3DModel* model, const char* name);
tPointDeformer* FindPointDeformer(t3DModel* model, const char* name);
tMotionPath* FindMotionPath(t3DModel* model, const char* name);
tMaterialInfo* FindMaterial(t3DModel* model, const char* name);
// Depth first: each entry, then its children, before the next entry.
tKeyMeshNode* FindNodeIndex(const std::vector<tKeyMeshNode*>& nodes, uint16_t id);

namespace vec3 {
// Scales to unit length and returns the old length; below 0.000001 leaves it and returns 0.
float normalize(Vector3& v);
}  // namespace vec3

}  // namespace Dove

#endif
