#include "Themes.h"

#include <cmath>
#include <tuple>

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
// material of the same name would take precedence: materials are named apart.) The player widens
// the view of a window narrower than the theme's frame (4:3, square, upright) and of one much
// wider, so the backdrop is edged far out on every side with its own top and bottom colours and,
// left and right, with its gradient: without them the scene's black showed beyond it. The edges
// lie a little behind the backdrop and under its border, so that no gap opens between them.
void addBackdrop(Scene& s, const std::string& folder) {
    constexpr float kHalfWidth = 48, kHalfHeight = 30, kReach = 300, kUnder = 0.5f;
    s.materials.push_back({"BackdropAboveMaterial", folder + "-background-above.png"});
    s.materials.push_back({"BackdropBelowMaterial", folder + "-background-below.png"});
    s.materials.push_back({"BackdropSideMaterial", folder + "-background-side.png"});
    s.meshes.push_back({"BackdropAbove", "BackdropAboveMaterial", -kReach, kHalfHeight - kUnder, 2 * kReach,
                        kReach - kHalfHeight + kUnder});
    s.meshes.push_back({"BackdropBelow", "BackdropBelowMaterial", -kReach, -kReach, 2 * kReach,
                        kReach - kHalfHeight + kUnder});
    s.meshes.push_back({"BackdropLeft", "BackdropSideMaterial", -kReach, -kHalfHeight, kReach - kHalfWidth + kUnder,
                        2 * kHalfHeight});
    s.meshes.push_back({"BackdropRight", "BackdropSideMaterial", kHalfWidth - kUnder, -kHalfHeight,
                        kReach - kHalfWidth + kUnder, 2 * kHalfHeight});
    for (const char* edge : {"BackdropAbove", "BackdropBelow", "BackdropLeft", "BackdropRight"}) {
        Node n = node(edge, edge);
        n.translate = {0, 0, -30.2f};
        s.add(n);
    }
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

// Keys that hold `rest` and, from each frame of `visits`, go to `close` over `in` frames, stay
// `stay` frames and come back over `in` frames.
Keys visitKeys(float rest, float close, const std::vector<float>& visits, float in, float stay) {
    Keys k{{0, rest}};
    for (float at : visits) {
        k.push_back({at, rest});
        k.push_back({at + in, close});
        k.push_back({at + in + stay, close});
        k.push_back({at + 2 * in + stay, rest});
    }
    return k;
}

// Three blocks of four pinned photos on a long wall that slides past, one block at a time; while
// a block rests, each of its photos in turn comes off the wall to the viewer and goes back.
Theme photoWall() {
    Theme t{11, "wall", "Photo Wall", Layout::Wall, true, {0xb88b5a, 0x6b4a2b, 0xe8d3b0, 0xfbf8f0}, {}, {}, {}};
    t.tune = {104, {7, 9, 12, 9, 7, 4, 2, 4, 7, 12, 14, 12, 9, 7, 9, 4}, {-12, -10, -8, -5}};
    Scene& s = t.scene;
    constexpr float block = 168, rest = 148;  // a block's time, and its rest before the wall slides
    s.endFrame = int(2 * block + rest);
    addBackdrop(s, t.folder);
    addPhotoMaterials(s, t.folder);
    Node wall = node("Wall", "Wall");
    // The first block is on the wall from the first frame, and the last one stays to the end:
    // the loop goes from a full wall to a full wall.
    wall.move.x = {{0, 0}, {rest, 0}, {block, -16}, {block + rest, -16}, {2 * block, -32}, {2 * block + rest, -32}};
    const int wallIndex = s.add(wall);
    const float tilt[4] = {0.03f, -0.02f, -0.025f, 0.02f};
    for (int b = 0; b < 3; ++b) {
        Group group{b * block, {}};
        for (int i = 0; i < 4; ++i) {
            const int k = b * 4 + i + 1;
            addPhotoAndCard(s, k, 5.4f, 3.6f, 0.18f);
            const Vec at{16.0f * float(b) + (i % 2 ? 3.0f : -3.0f), i < 2 ? 2.05f : -2.05f, 0};
            const std::vector<float> visit{b * block + 4 + 36.0f * float(i)};
            Node pin = node(n("Pin", k), n("Pin", k), wallIndex);
            pin.translate = at;
            pin.rotate = {0, 0, tilt[i]};
            pin.move.x = visitKeys(at.x, 16.0f * float(b), visit, 10, 16);
            pin.move.y = visitKeys(at.y, 0, visit, 10, 16);
            pin.move.z = visitKeys(0, 3.2f, visit, 10, 16);
            pin.grow.x = pin.grow.y = pin.grow.z = visitKeys(1, 1.25f, visit, 10, 16);
            const int pinIndex = s.add(pin);
            Node card = node(n("CardNode", k), n("Card", k), pinIndex);
            card.translate = {0, 0, -0.04f};
            s.add(card);
            s.add(node(n("PhotoNode", k), n("Photo", k), pinIndex));
            group.meshes.push_back(n("Photo", k));
        }
        t.groups.push_back(group);
    }
    return t;
}

// Six photos on a ring that turns once, round and round; the photo in front fills most of the
// screen's height.
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
    // High enough that the photo in front is seen whole below the camera's eye.
    ring.translate = {0, 0.5f, -2};
    // A moving group takes its whole place from its key frames.
    ring.move.x = {{0, 0}};
    ring.move.y = {{0, 0.5f}};
    ring.move.z = {{0, -2}};
    // One whole turn: the last frame looks as the first, so the loop does not show.
    ring.turn.y = {{0, 0}, {312, -2 * kPi}};
    const int ringIndex = s.add(ring);
    constexpr float radius = 5.6f;
    for (int i = 0; i < 6; ++i) {
        const int k = i + 1;
        addPhotoAndCard(s, k, 5.4f, 3.6f, 0.14f);
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
    // Photos 1 to 3 face the viewer in the first half turn; by frame 182 all three have turned
    // their backs, and photos 4 to 6 take over.
    t.groups = {{0, {"Photo1", "Photo2", "Photo3"}}, {182, {"Photo4", "Photo5", "Photo6"}}};
    return t;
}

// An open book of four pages and a last one. Each page turns over its spine and lies open on the
// left, its back showing a photo too; between turns the view goes close to the newest photos.
Theme pageTurn() {
    Theme t{13, "pages", "Page Turn", Layout::Pages, true, {0x5b3a29, 0x24140c, 0xc9a66b, 0xfdfaf2}, {}, {}, {}};
    t.tune = {76, {12, 11, 9, 7, 9, 7, 5, 4, 5, 7, 9, 12, 11, 7, 4, 2}, {-12, -8, -7, -5}};
    Scene& s = t.scene;
    // After the last turn: close on its back, then on the last page, until the loop.
    s.endFrame = 372;
    s.camera.position = {0, 0.8f, 10.5f};
    s.camera.lookAt = {0, 0, 0};
    addBackdrop(s, t.folder);
    addPhotoMaterials(s, t.folder);
    s.materials.push_back({"CoverMaterial", t.folder + "-cover.png"});
    constexpr float pageW = 7.0f, pageH = 5.0f, photoW = 6.5f, photoH = 4.6f;
    constexpr float nearZ = 3.3f, side = pageW / 2;
    auto turnAt = [](int i) { return 60.0f + 72.0f * float(i); };
    Node book = node("Book", "Book");
    book.rotate = {-0.22f, 0, 0};
    // Close on the right page; back for the whole spread while a page turns; close on its back,
    // lying open on the left; close on the page it uncovered; and so on.
    book.move.x = {{0, -side}};
    book.move.z = {{0, nearZ}};
    for (int i = 0; i < 4; ++i) {
        const float f = turnAt(i);
        for (auto [at, x, z] : {std::tuple{f - 6, -side, nearZ}, {f + 6, 0.0f, 0.3f}, {f + 18, 0.0f, 0.3f},
                                {f + 30, side, nearZ}, {f + 42, side, nearZ}, {f + 54, -side, nearZ}}) {
            book.move.x.push_back({at, x});
            book.move.z.push_back({at, z});
        }
    }
    book.turn.x = {{0, -0.22f}};
    const int bookIndex = s.add(book);
    s.meshes.push_back({"Cover", "CoverMaterial", -pageW - 0.2f, -pageH / 2 - 0.2f, 2 * pageW + 0.4f, pageH + 0.4f});
    Node cover = node("CoverNode", "Cover", bookIndex);
    cover.translate = {0, 0, -0.36f};
    s.add(cover);
    const float photoX = (pageW - photoW) / 2, photoY = -photoH / 2;
    for (int i = 0; i < 5; ++i) {
        const int k = i + 1;
        s.meshes.push_back({n("Photo", k), "PhotoMask", photoX, photoY, photoW, photoH});
        s.meshes.push_back({n("Card", k), "CardMaterial", 0, -pageH / 2, pageW, pageH});
        Node page = node(n("Page", k), n("Page", k), bookIndex);
        page.translate = {0, 0, -0.06f * float(i)};
        // A moving group takes its whole place from its key frames.
        page.move.x = {{0, 0}};
        if (i < 4) {
            // Turned, it lies on the left, on top of the pages turned before it.
            const float f = turnAt(i);
            page.move.z = {{0, -0.06f * float(i)}, {f, -0.06f * float(i)}, {f + 24, 0.06f * float(i) + 0.03f}};
            page.turn.y = {{f, 0}, {f + 24, -kPi}};
        } else {
            page.move.z = {{0, -0.06f * float(i)}};
        }
        const int pageIndex = s.add(page);
        s.add(node(n("CardNode", k), n("Card", k), pageIndex));
        Node photo = node(n("PhotoNode", k), n("Photo", k), pageIndex);
        photo.translate = {0, 0, 0.015f};
        s.add(photo);
        if (i < 4) {
            // The page's back, facing the other way: seen once the page lies open on the left.
            s.meshes.push_back({n("Back", k), "PhotoMask", photoX, photoY, photoW, photoH});
            Node back = node(n("BackNode", k), n("Back", k), pageIndex);
            back.translate = {pageW, 0, -0.015f};
            back.rotate = {0, kPi, 0};
            s.add(back);
        }
    }
    // Photos leave the groups when covered or turned face down: page 2's turn has covered the
    // first three by frame 156, page 4's the next four by frame 300.
    t.groups = {{0, {"Photo1", "Back1", "Photo2"}}, {160, {"Back2", "Photo3", "Back3", "Photo4"}}, {300, {"Back4", "Photo5"}}};
    return t;
}

// Eight cards fly in one after another from the far left, each rests close to the viewer while
// the next one comes, and flies past to the right: two or three cards are in the air at once.
Theme flyingCards() {
    Theme t{14, "cards", "Flying Cards", Layout::Cards, true, {0x2a6f6f, 0x0b2027, 0xf6ae2d, 0xffffff}, {}, {}, {}};
    t.tune = {116, {0, 7, 4, 7, 12, 7, 4, 7, 2, 9, 5, 9, 14, 9, 5, 9}, {-12, -7, -10, -5}};
    Scene& s = t.scene;
    constexpr int cards = 8;
    constexpr float spacing = 36;
    // The last card is still resting when the first one, resting, starts the next pass.
    s.endFrame = int(spacing * (cards - 1) + spacing);
    addBackdrop(s, t.folder);
    addPhotoMaterials(s, t.folder);
    for (int i = 0; i < cards; ++i) {
        const int k = i + 1;
        const float a = spacing * float(i);  // arrives and rests
        addPhotoAndCard(s, k, 6.3f, 4.2f, 0.2f);
        Node card = node(n("Flight", k), n("Flight", k));
        const float side = i % 2 ? 1.0f : -1.0f;  // from above left, then from below left
        const Keys x = {{a - 24, -14}, {a, 0}, {a + spacing, 0}, {a + spacing + 24, 16}};
        const Keys y = {{a - 24, 6 * side}, {a, 0}, {a + spacing, 0}, {a + spacing + 24, -5 * side}};
        // A resting card lifts towards the viewer before the next one lands where it rests, so the
        // two never share a plane: the one leaving passes in front of the one arriving.
        const Keys z = {{a - 24, -25}, {a, 3}, {a + spacing - 8, 3}, {a + spacing, 3.6f}, {a + spacing + 24, 5}};
        // The first card starts resting (its flight in would be before the first frame).
        auto from = [](const Keys& keys) {
            Keys out;
            for (const Key& key : keys)
                if (key.frame >= 0)
                    out.push_back(key);
            return out;
        };
        card.translate = {-14, 6 * side, -25};
        card.move.x = from(x);
        card.move.y = from(y);
        card.move.z = from(z);
        card.turn.x = from({{a - 24, 0.4f * side}, {a, 0}, {a + spacing, 0}, {a + spacing + 24, -0.2f}});
        card.turn.y = from({{a - 24, -0.9f}, {a, 0}, {a + spacing, 0}, {a + spacing + 24, 0.8f}});
        card.turn.z = from({{a - 24, 0.5f * side}, {a, 0}, {a + spacing, 0}, {a + spacing + 24, -0.6f}});
        const int flight = s.add(card);
        const Keys hide = i == 0 ? Keys{{0, 0}, {a + spacing + 24, 1}} : Keys{{0, 1}, {a - 24, 0}, {a + spacing + 24, 1}};
        Node frame = node(n("CardNode", k), n("Card", k), flight);
        frame.hide = hide;
        s.add(frame);
        Node photo = node(n("PhotoNode", k), n("Photo", k), flight);
        photo.translate = {0, 0, 0.03f};
        photo.hide = hide;
        s.add(photo);
    }
    // Two cards a group; a group takes new photos when the next group's second card has gone.
    t.groups = {{0, {"Photo1", "Photo2"}}, {96, {"Photo3", "Photo4"}}, {168, {"Photo5", "Photo6"}}, {240, {"Photo7", "Photo8"}}};
    return t;
}

}  // namespace

std::vector<Theme> shippedThemes() { return {crossFade(), photoWall(), carousel(), pageTurn(), flyingCards()}; }

}  // namespace themes
