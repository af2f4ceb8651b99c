// The slideshow themes the program ships, described in code. A 3D theme has a scene, groups of
// photo meshes with the frame each group comes on screen, and pictures (mask, background, card,
// thumbnail) drawn by ThemeArt; every theme has its music.
#ifndef KPV_TOOLS_THEMES_THEMES_H
#define KPV_TOOLS_THEMES_THEMES_H

#include <string>
#include <vector>

#include "SceneDescription.h"

namespace themes {

constexpr float kFrameRate = 24.0f;

struct Group {
    float start;
    std::vector<std::string> meshes;
};

// Colours of a theme's pictures, 0xRRGGBB.
struct Palette {
    unsigned top, bottom, accent, card;
};

// Notes of the theme's music: semitones above A3, one per beat; -100 is a rest.
struct Tune {
    float beatsPerMinute;
    std::vector<int> melody;
    std::vector<int> bass;  // one per bar of four beats
};

enum class Layout { CrossFade, Wall, Carousel, Pages, Cards };

struct Theme {
    int id;
    std::string folder;  // also the prefix of its picture files
    std::string name;
    Layout layout;
    bool threeD;
    Palette palette;
    Tune tune;
    Scene scene;  // 3D only
    std::vector<Group> groups;
};

std::vector<Theme> shippedThemes();

}  // namespace themes

#endif
