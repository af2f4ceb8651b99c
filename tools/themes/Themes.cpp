#include "Themes.h"

#include <cmath>

namespace themes {

namespace {

constexpr float kPi = 3.14159265f;

std::string n(const char* prefix, int i) { return prefix + std::to_string(i); }

Node node(const std::string& name, const std::string& instance, int parent = -1) {
    Node out;
    out.name = name;
    out.instance = instance;
    out.parent = parent;
    return out;
}

// The far backdrop every 3D theme stands in front of. (A node finds its mesh by name, and a
// material of the same name would take precedence: materials are named apart.)
void addBackdrop(Scene& s, const std::string& folder) {
    s.materials.push_back({"BackdropMaterial", folder + "-background.png"});
    s.meshes.push_back({"Backdrop", "BackdropMaterial", -48, -30, 96, 60});
    Node backdrop = node("Backdrop", "Backdrop");
    backdrop.translate = {0, 0, -30};
    s.add(backdrop);
}

void addPhotoMaterials(Scene& s, const std::string& folder) {
    s.materials.push_back({"PhotoMask", folder + "-mask.png"});
    s.materials.push_back({"CardMaterial", folder + "-card.png"});
}

// A photo mesh and the card it sits on, both centred on the node's origin.
void addPhotoAndCard(Scene& s, int i, float w, float h, float border) {
    s.meshes.push_back({n("Photo", i), "PhotoMask", -w / 2, -h / 2, w, h});
    s.meshes.push_back({n("Card", i), "CardMaterial", -w / 2 - border, -h / 2 - border, w + 2 * border, h + 2 * border});
}

Theme crossFade() {
    Theme t{1, "crossfade", "Cross Fade", Layout::CrossFade, false, {0x101418, 0x000000, 0x8aa0b8, 0xffffff}, {}, {}, {}};
    t.tune = {84, {0, 4, 7, 12, 7, 4, 2, 5, 9, 12, 9, 5, 0, 4, 7, 11}, {-12, -7, -12, -5}};
    return t;
}

// Three blocks of four pinned photos on a long wall that slides past, one block at a time.
Theme photoWall() {
    Theme t{11, "wall", "Photo Wall", Layout::Wall, true, {0xb88b5a, 0x6b4a2b, 0xe8d3b0, 0xfbf8f0}, {}, {}, {}};
    t.tune = {104, {7, 9, 12, 9, 7, 4, 2, 4, 7, 12, 14, 12, 9, 7, 9, 4}, {-12, -10, -8, -5}};
    Scene& s = t.scene;
    s.endFrame = 312;
    addBackdrop(s, t.folder);
    addPhotoMaterials(s, t.folder);
    Node wall = node("Wall", "Wall");
    wall.translate = {16, 0, 0};
    wall.move.x = {{0, 16}, {24, 0}, {96, 0}, {120, -16}, {192, -16}, {216, -32}, {288, -32}, {312, -48}};
    const int wallIndex = s.add(wall);
    const float tilt[4] = {0.03f, -0.02f, -0.025f, 0.02f};
    for (int block = 0; block < 3; ++block) {
        Group group{block == 0 ? 0.0f : block == 1 ? 120.0f : 216.0f, {}};
        for (int i = 0; i < 4; ++i) {
            const int k = block * 4 + i + 1;
            addPhotoAndCard(s, k, 5.4f, 3.6f, 0.18f);
            const Vec at{16.0f * float(block) + (i % 2 ? 3.0f : -3.0f), i < 2 ? 2.05f : -2.05f, 0};
            Node card = node(n("CardNode", k), n("Card", k), wallIndex);
            card.translate = {at.x, at.y, -0.04f};
            card.rotate = {0, 0, tilt[i]};
            s.add(card);
            Node photo = node(n("PhotoNode", k), n("Photo", k), wallIndex);
            photo.translate = at;
            photo.rotate = {0, 0, tilt[i]};
            s.add(photo);
            group.meshes.push_back(n("Photo", k));
        }
        t.groups.push_back(group);
    }
    return t;
}

// Six photos on a turning ring that rises in, turns once and sinks away.
Theme carousel() {
    Theme t{12, "carousel", "Carousel", Layout::Carousel, true, {0x1d2b53, 0x070a18, 0xf2c14e, 0xf7f3e8}, {}, {}, {}};
    t.tune = {96, {0, 4, 7, 4, 9, 7, 4, 0, 2, 5, 9, 5, 7, 4, 2, -1}, {-12, -15, -10, -5}};
    Scene& s = t.scene;
    s.endFrame = 312;
    s.camera.position = {0, 2.6f, 9.5f};
    s.camera.lookAt = {0, -0.4f, -2};
    addBackdrop(s, t.folder);
    addPhotoMaterials(s, t.folder);
    Node ring = node("Ring", "Ring");
    ring.translate = {0, -0.3f, -2};
    ring.move.y = {{0, -5}, {24, -0.3f}, {288, -0.3f}, {312, -5}};
    ring.move.z = {{0, -2}};
    ring.turn.y = {{24, 0}, {288, -2 * kPi}};
    ring.grow.x = ring.grow.y = ring.grow.z = {{0, 0.05f}, {24, 1}, {288, 1}, {312, 0.05f}};
    const int ringIndex = s.add(ring);
    constexpr float radius = 5.2f;
    for (int i = 0; i < 6; ++i) {
        const int k = i + 1;
        addPhotoAndCard(s, k, 4.8f, 3.2f, 0.14f);
        const float a = float(i) * kPi / 3;
        Node card = node(n("CardNode", k), n("Card", k), ringIndex);
        card.translate = {(radius - 0.04f) * std::sin(a), 0, (radius - 0.04f) * std::cos(a)};
        card.rotate = {0, a, 0};
        s.add(card);
        Node photo = node(n("PhotoNode", k), n("Photo", k), ringIndex);
        photo.translate = {radius * std::sin(a), 0, radius * std::cos(a)};
        photo.rotate = {0, a, 0};
        s.add(photo);
    }
    // The first three face the viewer during the first half turn; by frame 178 all three have
    // turned their backs, and the second three take over.
    t.groups = {{0, {"Photo1", "Photo2", "Photo3"}}, {178, {"Photo4", "Photo5", "Photo6"}}};
    return t;
}

// A book of four pages, each turned over its spine in turn to show the photo below.
Theme pageTurn() {
    Theme t{13, "pages", "Page Turn", Layout::Pages, true, {0x5b3a29, 0x24140c, 0xc9a66b, 0xfdfaf2}, {}, {}, {}};
    t.tune = {76, {12, 11, 9, 7, 9, 7, 5, 4, 5, 7, 9, 12, 11, 7, 4, 2}, {-12, -8, -7, -5}};
    Scene& s = t.scene;
    s.endFrame = 312;
    s.camera.position = {0, 0.8f, 10.5f};
    s.camera.lookAt = {0, 0, 0};
    addBackdrop(s, t.folder);
    addPhotoMaterials(s, t.folder);
    s.materials.push_back({"CoverMaterial", t.folder + "-cover.png"});
    Node book = node("Book", "Book");
    book.rotate = {-0.22f, 0, 0};
    book.move.z = {{0, -10}, {20, 0}};
    book.turn.x = {{0, -0.22f}};
    const int bookIndex = s.add(book);
    s.meshes.push_back({"Cover", "CoverMaterial", -3.5f, -2.45f, 7.0f, 4.9f});
    Node cover = node("CoverNode", "Cover", bookIndex);
    cover.translate = {0, 0, -0.3f};
    s.add(cover);
    for (int i = 0; i < 4; ++i) {
        const int k = i + 1;
        const float turnStart = 60.0f + 72.0f * float(i);
        s.meshes.push_back({n("Photo", k), "PhotoMask", 0.25f, -2.0f, 5.9f, 4.0f});
        s.meshes.push_back({n("Card", k), "CardMaterial", 0, -2.25f, 6.4f, 4.5f});
        Node page = node(n("Page", k), n("Page", k), bookIndex);
        page.translate = {-3.2f, 0, -0.06f * float(i)};
        // A moving group takes its whole place from its key frames.
        page.move.x = {{0, -3.2f}};
        page.move.z = {{0, -0.06f * float(i)}};
        page.turn.y = {{turnStart, 0}, {turnStart + 24, -kPi}};
        const int pageIndex = s.add(page);
        const Keys hide = {{0, 0}, {turnStart + 24, 1}};
        Node paper = node(n("CardNode", k), n("Card", k), pageIndex);
        paper.hide = hide;
        s.add(paper);
        Node photo = node(n("PhotoNode", k), n("Photo", k), pageIndex);
        photo.translate = {0, 0, 0.015f};
        photo.hide = hide;
        s.add(photo);
    }
    // Pages 1 and 2 have been turned away by frame 156.
    t.groups = {{0, {"Photo1", "Photo2"}}, {156, {"Photo3", "Photo4"}}};
    return t;
}

// Cards fly in from the far left, rest in the middle and fly past the viewer to the right.
Theme flyingCards() {
    Theme t{14, "cards", "Flying Cards", Layout::Cards, true, {0x2a6f6f, 0x0b2027, 0xf6ae2d, 0xffffff}, {}, {}, {}};
    t.tune = {116, {0, 7, 4, 7, 12, 7, 4, 7, 2, 9, 5, 9, 14, 9, 5, 9}, {-12, -7, -10, -5}};
    Scene& s = t.scene;
    s.endFrame = 312;
    addBackdrop(s, t.folder);
    addPhotoMaterials(s, t.folder);
    for (int i = 0; i < 4; ++i) {
        const int k = i + 1;
        const float f = 72.0f * float(i);
        addPhotoAndCard(s, k, 5.8f, 3.9f, 0.2f);
        Node card = node(n("Flight", k), n("Flight", k));
        card.translate = {-14, 6, -25};
        card.move.x = {{f, -14}, {f + 24, 0}, {f + 72, 0}, {f + 96, 16}};
        card.move.y = {{f, 6}, {f + 24, 0}, {f + 72, 0}, {f + 96, -5}};
        card.move.z = {{f, -25}, {f + 24, 0}, {f + 72, 0}, {f + 96, 4}};
        card.turn.x = {{f, 0.4f}, {f + 24, 0}, {f + 72, 0}, {f + 96, -0.2f}};
        card.turn.y = {{f, -0.9f}, {f + 24, 0}, {f + 72, 0}, {f + 96, 0.8f}};
        card.turn.z = {{f, 0.5f}, {f + 24, 0}, {f + 72, 0}, {f + 96, -0.6f}};
        const int flight = s.add(card);
        const Keys hide = i == 0 ? Keys{{0, 0}, {f + 96, 1}} : Keys{{0, 1}, {f, 0}, {f + 96, 1}};
        Node frame = node(n("CardNode", k), n("Card", k), flight);
        frame.hide = hide;
        s.add(frame);
        Node photo = node(n("PhotoNode", k), n("Photo", k), flight);
        photo.translate = {0, 0, 0.03f};
        photo.hide = hide;
        s.add(photo);
    }
    // Card 2 has flown past the viewer by frame 168.
    t.groups = {{0, {"Photo1", "Photo2"}}, {168, {"Photo3", "Photo4"}}};
    return t;
}

}  // namespace

std::vector<Theme> shippedThemes() { return {crossFade(), photoWall(), carousel(), pageTurn(), flyingCards()}; }

}  // namespace themes
