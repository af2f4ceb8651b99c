// Scene-file reader. The layout is a chunk tree: u16 identifier, u32 length counting the 6-byte
// header, then payload and sub-chunks. Everything is little-endian; floats are IEEE 754 single.
#include "ZepLoad3DS.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Dove {

namespace {

constexpr int kMaxDepth = 64;

// Name widths of the model's records.
constexpr size_t kLongName = 254;
constexpr size_t kMaterialName = 31;
constexpr size_t kShortName = 63;

struct Chunk {
    uint16_t id = 0;
    size_t begin = 0;  // offset of the header
    size_t end = 0;    // one past the last byte
    size_t pos = 0;    // next unread byte
    size_t remaining() const { return end - pos; }
};

class Parser {
public:
    Parser(const uint8_t* data, size_t size, t3DModel* model) : d(data), n(size), m(model) {}

    bool run();
    const std::string& error() const { return err; }

private:
    // ---- primitive reads inside a chunk ----
    bool fail(const char* what) {
        if (err.empty()) err = what;
        return false;
    }
    bool ok() const { return err.empty(); }
    bool need(Chunk& c, size_t bytes) {
        if (!ok()) return false;
        if (c.remaining() < bytes) return fail("a chunk's content runs past its end");
        return true;
    }
    uint16_t u16(Chunk& c) {
        if (!need(c, 2)) return 0;
        uint16_t v = uint16_t(d[c.pos] | (d[c.pos + 1] << 8));
        c.pos += 2;
        return v;
    }
    uint32_t u32(Chunk& c) {
        if (!need(c, 4)) return 0;
        uint32_t v = uint32_t(d[c.pos]) | (uint32_t(d[c.pos + 1]) << 8) | (uint32_t(d[c.pos + 2]) << 16) |
                     (uint32_t(d[c.pos + 3]) << 24);
        c.pos += 4;
        return v;
    }
    float f32(Chunk& c) {
        uint32_t bits = u32(c);
        float f;
        std::memcpy(&f, &bits, 4);
        return f;
    }
    Vector3 vec(Chunk& c) {
        float x = f32(c), y = f32(c), z = f32(c);
        return {x, y, z};
    }
    void skip(Chunk& c, size_t bytes) {
        if (need(c, bytes)) c.pos += bytes;
    }
    // A NUL-terminated string, cut to the field's width.
    std::string str(Chunk& c, size_t width) {
        if (!ok()) return {};
        const void* nul = std::memchr(d + c.pos, 0, c.remaining());
        if (!nul) {
            fail("a name is not terminated inside its chunk");
            return {};
        }
        size_t len = size_t(static_cast<const uint8_t*>(nul) - (d + c.pos));
        std::string s(reinterpret_cast<const char*>(d + c.pos), len < width ? len : width);
        c.pos += len + 1;
        return s;
    }

    // The next sub-chunk of parent: false at the end of the level or on a broken header.
    bool child(Chunk& parent, Chunk& c) {
        if (!ok() || parent.pos >= parent.end) return false;
        if (parent.remaining() < 6) return fail("a chunk header is cut short");
        c.begin = parent.pos;
        c.id = uint16_t(d[c.begin] | (d[c.begin + 1] << 8));
        uint32_t len = uint32_t(d[c.begin + 2]) | (uint32_t(d[c.begin + 3]) << 8) |
                       (uint32_t(d[c.begin + 4]) << 16) | (uint32_t(d[c.begin + 5]) << 24);
        if (len < 6) return fail("a chunk is shorter than its header");
        if (len > parent.remaining()) return fail("a chunk runs past its parent");
        c.end = c.begin + len;
        c.pos = c.begin + 6;
        parent.pos = c.end;  // whatever the handler leaves unread is skipped
        return true;
    }

    struct Depth {
        Parser& p;
        bool okDepth;
        explicit Depth(Parser& parser) : p(parser), okDepth(++parser.depth <= kMaxDepth) {
            if (!okDepth) p.fail("chunks are nested too deeply");
        }
        ~Depth() { --p.depth; }
    };

    // ---- rules ----
    void mainRules(Chunk& parent, bool firstChildWhole);
    void objectRules(Chunk& c, const std::string& name);
    void meshRules(Chunk& parent, t3DObject& mesh);
    void lightRules(Chunk& parent, tLight& light);
    void cameraRules(Chunk& parent, tCamera& camera);
    void materialRules(Chunk& parent, tMaterialInfo& mat);
    void colourOrPercent(Chunk& c, tMaterialInfo& mat, uint8_t* field, size_t width);
    void keyframeRules(Chunk& parent);
    void meshNode(Chunk& parent);
    void timeline(Chunk& c, tKeyTimeLine& t);
    void threeAxisTrack(Chunk& c, tVec3Timelines& t, bool keepTags);
    void singleTrack(Chunk& c, tKeyTimeLine& t);
    std::string nodeHeaderName(Chunk& c);

    const uint8_t* d;
    size_t n;
    t3DModel* m;
    std::string err;
    int depth = 0;
    std::string remembered;  // the last camera, light or material node's name
};

bool Parser::run() {
    Chunk file{0, 0, n, 0};
    Chunk root;
    if (n < 6) return fail("the file is too short for a scene");
    if (!child(file, root)) return false;
    if (root.id != 0x4D4D) return fail("the file does not start with a scene chunk");
    mainRules(root, false);
    if (ok() && file.pos != file.end) {
        // Bytes after the main chunk are ignored, as any unknown chunk would be.
    }
    return ok();
}

void Parser::mainRules(Chunk& parent, bool firstChildWhole) {
    Depth guard(*this);
    if (!guard.okDepth) return;
    Chunk c;
    bool first = firstChildWhole;
    while (child(parent, c)) {
        if (first) {
            first = false;  // the version chunk in practice: consumed whole
            continue;
        }
        switch (c.id) {
            case 0x0005: m->chunk0005 = u32(c); break;
            case 0x3D3D: mainRules(c, true); break;
            case 0x4000: {
                std::string name = str(c, kLongName);
                if (ok()) objectRules(c, name);
                break;
            }
            case 0xAFFF: {
                tMaterialInfo mat;
                materialRules(c, mat);
                m->pMaterials.push_back(std::move(mat));
                ++m->numOfMaterials;
                break;
            }
            case 0xB000: keyframeRules(c); break;
            default: break;
        }
    }
}

void Parser::objectRules(Chunk& parent, const std::string& name) {
    Depth guard(*this);
    if (!guard.okDepth) return;
    Chunk c;
    while (child(parent, c)) {
        switch (c.id) {
            case 0x4100: {
                m->pObject.emplace_back();
                ++m->numOfObjects;
                m->pObject.back().strName = name;
                meshRules(c, m->pObject.back());
                break;
            }
            case 0x4600: {
                tLight light;
                light.strName = name.substr(0, kShortName);
                light.position = vec(c);
                lightRules(c, light);
                m->pLights.push_back(std::move(light));
                ++m->numOfLights;
                break;
            }
            case 0x4700: {
                tCamera cam;
                cam.strName = name.substr(0, kShortName);
                cam.position = vec(c);
                cam.lookAt = vec(c);
                cam.payloadVector = vec(c);
                cam.fov = f32(c);
                cameraRules(c, cam);
                m->pCameras.push_back(std::move(cam));
                ++m->numOfCameras;
                break;
            }
            case 0x4800: {
                tBendDeformer bd;
                bd.strName = name.substr(0, kShortName);
                for (float& p : bd.params) p = f32(c);
                bd.extra = f32(c);
                m->bendDeformers.push_back(std::move(bd));
                break;
            }
            case 0x4900: {
                tPointDeformer pd;
                pd.strName = name.substr(0, kShortName);
                pd.pointCount = u32(c);
                m->pointDeformers.push_back(std::move(pd));
                break;
            }
            case 0x4A00: {
                tMotionPath mp;
                mp.strName = name.substr(0, kShortName);
                mp.value16 = u16(c);
                mp.value32 = u32(c);
                m->motionPaths.push_back(std::move(mp));
                break;
            }
            default: break;
        }
    }
}

void Parser::meshRules(Chunk& parent, t3DObject& mesh) {
    Depth guard(*this);
    if (!guard.okDepth) return;
    Chunk c;
    while (child(parent, c)) {
        switch (c.id) {
            case 0x4110: {
                uint16_t count = u16(c);
                if (!need(c, size_t(count) * 12)) break;
                mesh.pVerts.resize(count);
                for (auto& v : mesh.pVerts) v = vec(c);
                mesh.numOfVerts = count;
                break;
            }
            case 0x4120: {
                uint16_t count = u16(c);
                if (!need(c, size_t(count) * 8)) break;
                mesh.pFaces.resize(size_t(count) * 3);
                for (uint16_t i = 0; i < count; ++i) {
                    for (int k = 0; k < 3; ++k) mesh.pFaces[size_t(i) * 3 + k] = u16(c);
                    u16(c);  // face flags are not used
                }
                mesh.numOfFaces = count;
                // The material groups that follow inside this chunk belong to the mesh.
                meshRules(c, mesh);
                break;
            }
            case 0x4130: mesh.strMaterialName = str(c, kLongName); break;
            case 0x4140: {
                uint16_t count = u16(c);
                if (!need(c, size_t(count) * 8)) break;
                mesh.pTexVerts.resize(size_t(count) * 2);
                for (float& f : mesh.pTexVerts) f = f32(c);
                mesh.numTexVertex = count;
                mesh.bHasTexture = true;
                break;
            }
            default: break;
        }
    }
}

void Parser::lightRules(Chunk& parent, tLight& light) {
    Depth guard(*this);
    if (!guard.okDepth) return;
    Chunk c;
    while (child(parent, c)) {
        switch (c.id) {
            case 0x0010: light.color = vec(c); break;
            case 0x4610:
                light.spotTarget = vec(c);
                light.hotspot = f32(c);
                light.falloff = f32(c);
                light.spot = 1;
                lightRules(c, light);  // what follows inside is read as the light's own children
                break;
            case 0x4620: light.off = 1; break;
            case 0x4659: light.value4659 = f32(c); break;
            case 0x465A: light.value465A = f32(c); break;
            case 0x465B: light.value465B = f32(c); break;
            case 0x4680: light.type = u32(c); break;
            case 0x4681: light.vec4681 = vec(c); break;
            case 0x4682: light.vec4682 = vec(c); break;
            case 0x4684: light.vec4684 = vec(c); break;
            case 0x4685: light.vec4685 = vec(c); break;
            default: break;
        }
    }
}

void Parser::cameraRules(Chunk& parent, tCamera& cam) {
    Chunk c;
    while (child(parent, c)) {
        switch (c.id) {
            case 0x4710: cam.aspect = f32(c); break;
            case 0x4720:
                cam.nearPlane = f32(c);
                cam.farPlane = f32(c);
                break;
            case 0x4730: cam.up = vec(c); break;
            default: break;
        }
    }
}

void Parser::colourOrPercent(Chunk& c, tMaterialInfo& mat, uint8_t* field, size_t width) {
    Chunk sub;
    if (!child(c, sub)) return;
    size_t bytes = sub.remaining() < width ? sub.remaining() : width;
    std::memcpy(field, d + sub.pos, bytes);
    // Further sub-chunks are met as children of the material.
    materialRules(c, mat);
}

void Parser::materialRules(Chunk& parent, tMaterialInfo& mat) {
    Depth guard(*this);
    if (!guard.okDepth) return;
    Chunk c;
    while (child(parent, c)) {
        switch (c.id) {
            case 0xA000: mat.strName = str(c, kMaterialName); break;
            case 0xA010: colourOrPercent(c, mat, &mat.ambient.r, 3); break;
            case 0xA020: colourOrPercent(c, mat, &mat.diffuse.r, 3); break;
            case 0xA030: colourOrPercent(c, mat, &mat.specular.r, 3); break;
            case 0xA501: colourOrPercent(c, mat, &mat.colorA501.r, 3); break;
            case 0xA021: colourOrPercent(c, mat, &mat.colorA021.r, 3); break;
            case 0xA040:
            case 0xA050: {
                uint8_t raw[2] = {0, 0};
                int16_t& target = c.id == 0xA040 ? mat.shininess : mat.transparency;
                std::memcpy(raw, &target, 2);
                colourOrPercent(c, mat, raw, 2);
                target = int16_t(uint16_t(raw[0] | (raw[1] << 8)));
                break;
            }
            case 0xA200: materialRules(c, mat); break;
            case 0xA300: mat.strFile = str(c, kLongName); break;
            case 0xA301: mat.strMapFile = str(c, kLongName); break;
            default: break;
        }
    }
}

void Parser::timeline(Chunk& c, tKeyTimeLine& t) {
    uint32_t count = u32(c);
    // Every key takes at least 10 bytes: refuse counts the chunk cannot hold before reserving.
    if (!need(c, size_t(count) * 10)) return;
    t.keys.clear();
    t.keys.reserve(count);
    for (uint32_t i = 0; i < count && ok(); ++i) {
        tTimeLineValue k;
        k.frame = f32(c);
        k.flags = u16(c);
        for (int b = 0; b < 2; ++b) {
            if (!(k.flags & (b == 0 ? 0x20 : 0x40))) continue;
            k.extraTag[b] = u16(c);
            if (need(c, 8)) {
                std::memcpy(k.extra[b], d + c.pos, 8);
                c.pos += 8;
            }
        }
        k.value = f32(c);
        if (ok()) t.keys.push_back(k);
    }
}

void Parser::threeAxisTrack(Chunk& c, tVec3Timelines& t, bool keepTags) {
    uint16_t axes = u16(c);
    uint16_t tags[4];
    for (uint16_t& tag : tags) tag = u16(c);
    tKeyTimeLine* lines[3] = {&t.x, &t.y, &t.z};
    for (int i = 0; i < 3 && ok(); ++i) {
        if (!(axes & (1 << i))) continue;
        lines[i]->tag = uint16_t(1 << i);
        lines[i]->headerTag = keepTags ? tags[i + 1] : 0;
        timeline(c, *lines[i]);
    }
}

void Parser::singleTrack(Chunk& c, tKeyTimeLine& t) {
    t.tag = u16(c);
    skip(c, 8);
    timeline(c, t);
}

std::string Parser::nodeHeaderName(Chunk& c) {
    std::string name = str(c, kShortName);
    u16(c);
    u16(c);
    u16(c);
    return name;
}

void Parser::meshNode(Chunk& parent) {
    m->nodeStore.push_back(std::make_unique<tKeyMeshNode>());
    tKeyMeshNode* node = m->nodeStore.back().get();
    Chunk c;
    while (child(parent, c)) {
        switch (c.id) {
            case 0xB010: {
                node->strNodeName = str(c, kShortName);
                uint16_t f1 = u16(c), f2 = u16(c);
                node->flags = uint16_t(f1 | f2);
                node->parentId = u16(c);
                break;
            }
            case 0xB011: node->strInstanceName = str(c, kShortName); break;
            case 0xB012: {
                uint16_t count = u16(c);
                for (uint16_t i = 0; i < count && ok(); ++i) {
                    std::string s = str(c, kShortName);
                    if (!s.empty()) node->strings.push_back(std::move(s));
                }
                break;
            }
            case 0xB013: {
                auto t = std::make_unique<tLocalTransform>();
                t->scalePivot = vec(c);
                t->scale = vec(c);
                t->shear = vec(c);
                t->scalePivotTranslate = vec(c);
                t->rotatePivot = vec(c);
                t->rotateOrientation.x = f32(c);
                t->rotateOrientation.y = f32(c);
                t->rotateOrientation.z = f32(c);
                t->rotateOrientation.w = f32(c);
                t->rotate = vec(c);
                t->rotatePivotTranslate = vec(c);
                t->translate = vec(c);
                if (ok()) node->localTransform = std::move(t);
                break;
            }
            case 0xB015: node->visible = int32_t(u32(c)); break;
            case 0xB020: threeAxisTrack(c, node->translateKeys, true); break;
            case 0xB021: threeAxisTrack(c, node->rotateKeys, true); break;
            case 0xB022: threeAxisTrack(c, node->scaleKeys, true); break;
            case 0xB029: singleTrack(c, node->hideKeys); break;
            case 0xB030: node->nodeId = u16(c); break;
            default: break;
        }
    }
    if (!ok()) return;
    if (node->parentId == 0xFFFF) {
        m->keyRootNodes.push_back(node);
        return;
    }
    tKeyMeshNode* parentNode = FindNodeIndex(m->keyRootNodes, node->parentId);
    if (!parentNode) {
        m->nodeStore.pop_back();  // an orphan is dropped with its timelines
        return;
    }
    node->parent = parentNode;
    parentNode->children.push_back(node);
}

void Parser::keyframeRules(Chunk& parent) {
    Depth guard(*this);
    if (!guard.okDepth) return;
    Chunk c;
    while (child(parent, c)) {
        Chunk sub;
        switch (c.id) {
            case 0xB002: meshNode(c); break;
            case 0xB003: {
                tCamera* cam = nullptr;
                while (child(c, sub)) {
                    if (sub.id == 0xB010) {
                        remembered = nodeHeaderName(sub);
                        cam = FindCamera(m, remembered.c_str());
                    } else if (cam && sub.id == 0xB020) {
                        threeAxisTrack(sub, cam->translateKeys, false);
                    } else if (cam && sub.id == 0xB023) {
                        singleTrack(sub, cam->fovKeys);
                    } else if (cam && sub.id == 0xB024) {
                        threeAxisTrack(sub, cam->rotateKeys, false);
                    }
                }
                break;
            }
            case 0xB005:
            case 0xB007: {
                tLight* light = nullptr;
                while (child(c, sub)) {
                    if (sub.id == 0xB010) {
                        std::string name = nodeHeaderName(sub);
                        if (c.id == 0xB007) remembered = name;
                        light = FindLight(m, name.c_str());
                    } else if (light && sub.id == 0xB020) {
                        threeAxisTrack(sub, light->positionKeys, false);
                    }
                }
                break;
            }
            case 0xB006: {
                tLight* light = FindLight(m, remembered.c_str());
                while (child(c, sub))
                    if (light && sub.id == 0xB020) threeAxisTrack(sub, light->targetKeys, false);
                break;
            }
            case 0xB008:
                m->startFrame = int64_t(int32_t(u32(c)));
                m->endFrame = int64_t(int32_t(u32(c)));
                break;
            case 0xB009: m->curFrame = int64_t(int32_t(u32(c))) / 160; break;
            case 0xB00A: break;  // revision, name and length: read by nobody
            case 0xB00D: {
                tBendDeformer* bd = nullptr;
                while (child(c, sub)) {
                    if (sub.id == 0xB010) {
                        bd = FindBendDeformer(m, nodeHeaderName(sub).c_str());
                    } else if (bd && sub.id >= 0xB050 && sub.id <= 0xB053) {
                        singleTrack(sub, bd->keys[sub.id - 0xB050]);
                    }
                }
                break;
            }
            case 0xB00E: {
                tPointDeformer* pd = nullptr;
                while (child(c, sub)) {
                    if (sub.id == 0xB010) {
                        pd = FindPointDeformer(m, nodeHeaderName(sub).c_str());
                    } else if (pd && sub.id == 0xB060 && pd->pointCount != 0) {
                        for (uint32_t i = 0; i < pd->pointCount && ok(); ++i) {
                            uint16_t axes = u16(sub);
                            uint32_t count = u32(sub);
                            if (!need(sub, size_t(count) * 4)) break;
                            std::vector<uint32_t> indices(count);
                            for (uint32_t& idx : indices) idx = u32(sub);
                            std::vector<tKeyTimeLine> lines;
                            for (int a = 0; a < 3 && ok(); ++a) {
                                if (!(axes & (1 << a))) continue;
                                lines.emplace_back();
                                lines.back().tag = uint16_t(1 << a);
                                timeline(sub, lines.back());
                            }
                            if (ok()) pd->points.emplace(std::move(indices), std::move(lines));
                        }
                    }
                }
                break;
            }
            case 0xB00F: {
                tMotionPath* mp = nullptr;
                while (child(c, sub)) {
                    if (sub.id == 0xB010) {
                        mp = FindMotionPath(m, nodeHeaderName(sub).c_str());
                    } else if (mp && sub.id == 0xB020) {
                        threeAxisTrack(sub, mp->first, false);
                    } else if (mp && sub.id == 0xB024) {
                        threeAxisTrack(sub, mp->second, false);
                    }
                }
                break;
            }
            case 0xB501: {
                tMaterialInfo* mat = nullptr;
                while (child(c, sub)) {
                    if (sub.id == 0xB010) {
                        remembered = nodeHeaderName(sub);
                        mat = FindMaterial(m, remembered.c_str());
                    } else if (mat && sub.id == 0xB502) {
                        singleTrack(sub, mat->transparencyKeys);
                    } else if (mat && sub.id == 0xB503) {
                        singleTrack(sub, mat->secondKeys);
                    }
                }
                break;
            }
            default: break;
        }
    }
}

// Every face must name vertices the mesh has.
bool validate(t3DModel& model, std::string& err) {
    for (const t3DObject& mesh : model.pObject) {
        for (uint32_t idx : mesh.pFaces)
            if (idx >= uint32_t(mesh.numOfVerts)) {
                err = "a face of mesh \"" + mesh.strName + "\" names a vertex it does not have";
                return false;
            }
    }
    return true;
}

void computeNormals(t3DObject& mesh) {
    mesh.pNormals.assign(mesh.pVerts.size(), Vector3::ZERO);
    for (size_t f = 0; f + 2 < mesh.pFaces.size(); f += 3) {
        const uint32_t a = mesh.pFaces[f], b = mesh.pFaces[f + 1], c = mesh.pFaces[f + 2];
        const Vector3 &p0 = mesh.pVerts[a], &p1 = mesh.pVerts[b], &p2 = mesh.pVerts[c];
        Vector3 A = p1 - p0, B = p2 - p0, C = p2 - p1;
        vec3::normalize(A);
        vec3::normalize(B);
        vec3::normalize(C);
        Vector3 N = A.crossProduct(B);
        // Rounding can put a dot product of unit vectors just past 1; the clamped arc cosine
        // keeps the weights finite.
        float angle0 = Math::ACos(A.dotProduct(B));
        float angle1 = Math::ACos(-A.dotProduct(C));
        float angle2 = float(3.141592653589793 - double(angle0) - double(angle1));
        mesh.pNormals[a] += N * angle0;
        mesh.pNormals[b] += N * angle1;
        mesh.pNormals[c] += N * angle2;
    }
    for (Vector3& nrm : mesh.pNormals) vec3::normalize(nrm);
}

}  // namespace

float vec3::normalize(Vector3& v) {
    float len = std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z);
    if (!(len >= 0.000001f)) return 0.0f;
    v = v * (1.0f / len);
    return len;
}

bool CZepLoad3DS::Import3DSFromMemory(t3DModel* model, const uint8_t* data, size_t size) {
    mError.clear();
    if (mUsed) {
        mError = "the reader has already been used";
        return false;
    }
    mUsed = true;
    if (!model || (!data && size)) {
        mError = "nothing to read";
        return false;
    }
    Parser p(data, size, model);
    if (!p.run() || !validate(*model, mError)) {
        if (mError.empty()) mError = p.error();
        model->clear();
        return false;
    }
    for (t3DObject& mesh : model->pObject) computeNormals(mesh);
    return true;
}

bool CZepLoad3DS::Import3DS(t3DModel* model, const char* path) {
    mError.clear();
    if (!path || !model) {
        mError = "no file named";
        return false;
    }
    // Opened without waiting, so that a pipe or a device standing at the path is refused unread
    // instead of blocking the reader for good; a regular file reads as ever.
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        mError = fd < 0 ? "the scene file cannot be opened" : "the scene file is not a regular file";
        if (fd >= 0) ::close(fd);
        mUsed = true;
        return false;
    }
    std::unique_ptr<FILE, int (*)(FILE*)> f(::fdopen(fd, "rb"), &std::fclose);
    if (!f) {
        ::close(fd);
        mError = "the scene file cannot be opened";
        mUsed = true;
        return false;
    }
    std::vector<uint8_t> bytes;
    uint8_t buf[65536];
    size_t got;
    while ((got = std::fread(buf, 1, sizeof buf, f.get())) > 0) {
        if (bytes.size() + got > kMaxFileSize) {
            mError = "the scene file is too large";
            mUsed = true;
            return false;
        }
        bytes.insert(bytes.end(), buf, buf + got);
    }
    if (std::ferror(f.get())) {
        mError = "the scene file cannot be read";
        mUsed = true;
        return false;
    }
    f.reset();
    return Import3DSFromMemory(model, bytes.data(), bytes.size());
}

template <typename T>
static T* findByName(std::vector<T>& list, const char* name) {
    if (!name) return nullptr;
    for (T& item : list)
        if (item.strName == name) return &item;
    return nullptr;
}

tCamera* FindCamera(t3DModel* model, const char* name) { return model ? findByName(model->pCameras, name) : nullptr; }
tLight* FindLight(t3DModel* model, const char* name) { return model ? findByName(model->pLights, name) : nullptr; }
tBendDeformer* FindBendDeformer(t3DModel* model, const char* name) {
    return model ? findByName(model->bendDeformers, name) : nullptr;
}
tPointDeformer* FindPointDeformer(t3DModel* model, const char* name) {
    return model ? findByName(model->pointDeformers, name) : nullptr;
}
tMotionPath* FindMotionPath(t3DModel* model, const char* name) {
    return model ? findByName(model->motionPaths, name) : nullptr;
}
tMaterialInfo* FindMaterial(t3DModel* model, const char* name) {
    return model ? findByName(model->pMaterials, name) : nullptr;
}

tKeyMeshNode* FindNodeIndex(const std::vector<tKeyMeshNode*>& nodes, uint16_t id) {
    // An explicit stack keeps deep hierarchies off the call stack.
    std::vector<tKeyMeshNode*> stack(nodes.rbegin(), nodes.rend());
    while (!stack.empty()) {
        tKeyMeshNode* node = stack.back();
        stack.pop_back();
        if (node->nodeId == id) return node;
        stack.insert(stack.end(), node->children.rbegin(), node->children.rend());
    }
    return nullptr;
}

}  // namespace Dove
