// A 3D theme's scene described in code: materials, flat meshes, one camera and a hierarchy of
// nodes with key frames. writeScene() turns it into the bytes of a scene file.
#ifndef KPV_TOOLS_THEMES_SCENEDESCRIPTION_H
#define KPV_TOOLS_THEMES_SCENEDESCRIPTION_H

#include <cstdint>
#include <string>
#include <vector>

namespace themes {

struct Vec {
    float x = 0, y = 0, z = 0;
};

struct Key {
    float frame;
    float value;
};
using Keys = std::vector<Key>;

// One timeline per axis; an empty one leaves that axis as the node's transform has it.
struct AxisKeys {
    Keys x, y, z;
    bool empty() const { return x.empty() && y.empty() && z.empty(); }
};

struct Material {
    std::string name;
    std::string texture;  // file beside the scene file; empty: colour only
    uint8_t r = 255, g = 255, b = 255;
};

// A flat rectangle in the XY plane facing +z, from (x0, y0) to (x0 + width, y0 + height), its
// texture spread over it with (0, 0) at the bottom left.
struct Mesh {
    std::string name;
    std::string material;
    float x0 = 0, y0 = 0, width = 1, height = 1;
};

// A node places a mesh (instance = the mesh's name) or, when others name it as parent, a group
// that moves its children together. Rotations are in radians.
struct Node {
    std::string name;
    std::string instance;
    int parent = -1;  // index into the scene's nodes, -1 for the root
    Vec translate, rotate, scale{1, 1, 1};
    AxisKeys move, turn, grow;
    // Frames at which the node hides (value 1) or shows again (value 0); the first key holds
    // from frame 0.
    Keys hide;
};

struct Camera {
    Vec position{0, 0, 10}, lookAt;
    float fov = 0.8f;  // vertical, radians
    float aspect = 16.0f / 9.0f;
    float nearPlane = 0.5f, farPlane = 200.0f;
};

struct Scene {
    int endFrame = 0;
    Camera camera;
    std::vector<Material> materials;
    std::vector<Mesh> meshes;
    std::vector<Node> nodes;

    // Adds a node and answers its index.
    int add(Node node) {
        nodes.push_back(std::move(node));
        return int(nodes.size()) - 1;
    }
};

std::vector<uint8_t> writeScene(const Scene& scene);

}  // namespace themes

#endif
