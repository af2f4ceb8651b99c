#pragma once
// One command of the main window: a row of the window controller's command table. The menu bar,
// the image view's context menu, the feedback pop-up and the key equivalents are all built from
// the table, so a new command is one new row.
//
// A command is either routed (no `enabled` and no `perform`): the viewer's controller answers for
// it in `navModes`, the controller of the current mode in `otherModes`; or it carries its own
// validation and action. `decorate` updates the item's title and tick before validation.

#include <cstdint>

class MainWndController;
namespace kpv {
class MenuItem;
}

// Where a row appears besides its menu of the menu bar.
enum MainCommandPlace : unsigned {
    MainCommandInFeedbackMenu = 1, // the feedback pop-up of the title bar
};

enum class MainCommandKind : int {
    Command,   // an item that runs something
    Separator, // a line in its menu
    Submenu,   // an item that opens the menu named by its title key
};

struct MainCommand {
    MainCommandKind kind = MainCommandKind::Command;
    // The action id (1 to 49) the modes answer to, or one of the shell's own tags (100 and above).
    long tag = 0;
    // Localised title; for a submenu also the name of the menu it opens.
    const char* titleKey = nullptr;
    // The menu of the menu bar (or submenu) holding it; nullptr keeps it out of the menu bar.
    const char* menuKey = nullptr;
    // Key equivalent with the command modifier plus `keyModifiers` ("" for none).
    const char* keyEquivalent = "";
    std::uint64_t keyModifiers = 0;
    unsigned places = 0;
    // Position in the image view's context menu (0: not there); a new ten starts a group after a
    // separator.
    int contextSlot = 0;
    unsigned navModes = 0;
    unsigned otherModes = 0;
    // Whether the item is made at all (nullptr: always).
    bool (*shown)() = nullptr;
    // Title and tick for the current state (nullptr: the title key as it is).
    void (*decorate)(MainWndController&, kpv::MenuItem&) = nullptr;
    // Whether it may run now (nullptr: routed by mode).
    bool (*enabled)(MainWndController&) = nullptr;
    // Runs it after validation (nullptr: routed by mode).
    void (*perform)(MainWndController&) = nullptr;
};
