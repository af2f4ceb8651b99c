#pragma once
// A viewer for the shell's tests: every operation of the view-mode interface, recording the
// commands it is asked to run. Tests derive from it and change what they look at.

#include "Shell/MainWindow/ViewModeController.h"

#include <utility>
#include <vector>

class ViewModeStub : public ViewModeController {
public:
    bool canSwitchToViewMode() const override { return true; }
    LMPathString curFilePath() const override { return LMPathString(); }
    bool canDoAction(long) override { return true; }
    bool curLoveIntroTipsShowStatus() const override { return false; }
    void hideLoveIntroTips(bool) override {}
    bool gestureScrollSessionRunning() const override { return false; }
    bool curPropertiesWindowShowStatus() const override { return false; }
    void openFilePaths(const QList<LMPathString>&, const QStringList&, bool) override {}
    void abortScrollSession() override {}
    void savePopWindowsPostionInfo() override {}
    void toggleFullScreen() override {}
    void goToFile(const LMPathString&) override {}
    void checkUnsavedTurnBeforeLeaving(std::function<void(bool)> done) override { done(true); }
    void checkUnsavedTurnBeforeHandOver(std::function<void(const LMPathString&, bool)> done) override
    {
        done(curFilePath(), false);
    }
    void doAction(long tag, long argument) override { actions.emplace_back(tag, argument); }

    // (tag, argument) of every command run, in order.
    std::vector<std::pair<long, long>> actions;
};
