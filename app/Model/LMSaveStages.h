#pragma once

// The steps a save of a picture goes through on its worker, reported so that a test can act at
// each one (press Esc, check the disk) while the worker waits for it. Without an observer,
// reaching a step costs a check of one pointer.

#include <QString>

#include <functional>

class LMSaveStages {
public:
    enum Stage {
        Preparing, // the save has started; nothing is decoded or written yet
        Writing,   // the new file is complete beside the target and about to replace it
        Replaced,  // the new file stands at the target; the caller has not been told yet
    };
    // Called on the worker's thread with the stage and the target path.
    using Observer = std::function<void(Stage stage, const QString &path)>;

    static void setObserverForTesting(Observer observer);
    static void reach(Stage stage, const QString &path);
};
