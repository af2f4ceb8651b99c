// The preferences: type groups, round trips of the edited values through the settings, and
// which associations OK changes.
#include "Shell/Dialogs/OptionWindowModel.h"

#include "Model/MainConfig.h"
#include "Shell/Desktop/FileTypeAssociator.h"
#include "desktop/FakeDesktopServices.h"
#include "foundation/NotificationCenter.h"
#include "foundation/UserDefaults.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

const QString kOurs = QStringLiteral("org.kestrane.viewer.desktop");

struct OptionWindowTest : ::testing::Test {
    QTemporaryDir dir;
    QString settingsPath = dir.filePath("settings.json");
    std::unique_ptr<kpv::UserDefaults> defaults{new kpv::UserDefaults(settingsPath)};
    std::unique_ptr<MainConfig> config{new MainConfig(*defaults)};
    kpv::FakeDesktopServices desktop;
    kpv::NotificationCenter center;
    QStringList supported{"public.jpeg", "public.png", "com.compuserve.gif", "org.webmproject.webp", "public.jpeg-2000"};
    FileTypeAssociator associator{desktop, *config, kOurs, supported};
    int changes = 0;

    void SetUp() override
    {
        center.addObserver(this, "didChangeOptionSetting", nullptr, [this](const kpv::Notification&) { ++changes; });
    }
};

TEST_F(OptionWindowTest, GroupsListOnlyTypesThatExist)
{
    OptionWindowModel model(*config, associator, center);
    model.initAssociateFileTypes();
    const auto& groups = model.arrayFileTypes();
    ASSERT_EQ(groups.size(), 4); // JPEG, PNG, GIF, others; no TIFF, BMP, PSD, raw
    EXPECT_EQ(groups[0].infoType(), 0);
    EXPECT_EQ(groups[2].infoType(), 3);
    EXPECT_TRUE(groups[3].isOthersType());
    EXPECT_EQ(groups[3].arraySubFileTypes(), QStringList({"org.webmproject.webp", "public.jpeg-2000"}));
    EXPECT_TRUE(OptionFileAssociateItemInfo::fileUtiTypeByInfoType(7).isEmpty());
    EXPECT_TRUE(OptionFileAssociateItemInfo(9).dispName().isEmpty());
}

TEST_F(OptionWindowTest, HalfOwnedGroupLoadsUntickedWithItsOwnedMember)
{
    associator.makeFileAssoicateForFileTypes({"org.webmproject.webp"});
    OptionWindowModel model(*config, associator, center);
    model.showWithTabType(0, false, false);
    const auto& others = model.arrayFileTypes()[3];
    EXPECT_FALSE(others.associated());
    EXPECT_EQ(others.arrayPrevAssociatedSubFileTypes(), QStringList({"org.webmproject.webp"}));
    // OK without edits keeps what was ours and posts nothing.
    desktop.setDefaultCalls.clear();
    model.saveSettings();
    EXPECT_TRUE(desktop.setDefaultCalls.isEmpty());
    EXPECT_EQ(changes, 0);
}

TEST_F(OptionWindowTest, OpeningFromTheTipTicksAllAndOkTakesEveryType)
{
    OptionWindowModel model(*config, associator, center);
    model.showWithTabType(3, true, false);
    EXPECT_EQ(model.curOptionTabType(), 3);
    EXPECT_TRUE(model.applyEnabled());
    for (const auto& g : model.arrayFileTypes())
        EXPECT_TRUE(g.associated());
    model.saveSettings();
    for (const QString& t : supported)
        EXPECT_EQ(desktop.defaults.value(kpv::DesktopServices::mimeTypeForContentType(t)), kOurs) << t.toStdString();
    EXPECT_EQ(changes, 1);
    EXPECT_FALSE(model.dirty());
}

TEST_F(OptionWindowTest, NeverAssociatedShowsUntickedAndOkWithoutClicksKeepsOurs)
{
    desktop.defaults.insert("image/png", kOurs);
    desktop.viewers.insert("image/png", {kOurs, "other.desktop"});
    OptionWindowModel model(*config, associator, center);
    model.showWithTabType(0, false, false);
    for (const auto& g : model.arrayFileTypes())
        EXPECT_FALSE(g.associated());
    desktop.setDefaultCalls.clear();
    model.saveSettings();
    EXPECT_EQ(desktop.defaults.value("image/png"), kOurs);
    EXPECT_TRUE(desktop.setDefaultCalls.isEmpty());
    EXPECT_EQ(changes, 0);
}

TEST_F(OptionWindowTest, OnlyTheClickedGroupsChangeTheirAssociation)
{
    desktop.defaults.insert("image/png", kOurs);
    desktop.defaults.insert("image/gif", kOurs);
    desktop.viewers.insert("image/png", {kOurs, "other.desktop"});
    desktop.viewers.insert("image/gif", {kOurs, "other.desktop"});
    OptionWindowModel model(*config, associator, center);
    model.showWithTabType(0, false, false);
    // The PNG row (1) is clicked twice (tick, then untick again), JPEG (0) once; GIF is left alone.
    model.optionFileAssociateItemClicked(1);
    model.optionFileAssociateItemClicked(1);
    model.optionFileAssociateItemClicked(0);
    EXPECT_TRUE(model.groupClicked(1));
    EXPECT_FALSE(model.groupClicked(2));
    model.saveSettings();
    EXPECT_EQ(desktop.defaults.value("image/jpeg"), kOurs);
    EXPECT_EQ(desktop.defaults.value("image/png"), "other.desktop");
    EXPECT_EQ(desktop.defaults.value("image/gif"), kOurs);
    EXPECT_EQ(changes, 1);
    // A second OK without clicks changes nothing more.
    desktop.setDefaultCalls.clear();
    model.saveSettings();
    EXPECT_TRUE(desktop.setDefaultCalls.isEmpty());
}

TEST_F(OptionWindowTest, EditsRoundTripThroughTheSettingsOnlyOnSave)
{
    {
        OptionWindowModel model(*config, associator, center);
        model.showWithTabType(0, false, false);
        EXPECT_TRUE(model.mouseWheelEnabled());
        EXPECT_EQ(model.filePropertyMask(), 14);
        model.setMouseWheelEnabled(false);
        EXPECT_FALSE(model.wheelRadioButtonsEnabled());
        EXPECT_TRUE(model.zoomWhileMouseWheel()); // selection kept
        model.setZoomWhileMouseWheel(false);
        model.setAnimationZoom(false);
        model.setKeepZoomRatio(true);
        model.setViewPhotosInSubfolder(true);
        model.fileInfoCheckButtonClicked(0);
        model.fileInfoCheckButtonClicked(3);
        model.optionTabButtonClicked(1);
        model.saveSettings();
        EXPECT_EQ(changes, 1);
    }
    config.reset();
    defaults.reset();
    defaults.reset(new kpv::UserDefaults(settingsPath));
    config.reset(new MainConfig(*defaults));
    EXPECT_FALSE(config->mouseWheelEnabled());
    EXPECT_FALSE(config->zoomWhileMouseWheel());
    EXPECT_FALSE(config->animationZoom());
    EXPECT_TRUE(config->keepPrevScaleWhenNavFile());
    EXPECT_TRUE(config->viewPhotosInSubfolder());
    EXPECT_EQ(config->filePropertyMask(), (14 | 1) & ~8);
    EXPECT_EQ(config->curOptionTabType(), 1);
}

TEST_F(OptionWindowTest, ClosingDropsEditsAndUnchangedRadioIsNoEdit)
{
    OptionWindowModel model(*config, associator, center);
    model.showWithTabType(0, false, false);
    model.setZoomWhileMouseWheel(true);
    EXPECT_FALSE(model.dirty());
    model.setAnimationZoom(false);
    model.closeWindow();
    model.showWithTabType(0, false, false);
    EXPECT_TRUE(model.animationZoom());
    EXPECT_FALSE(model.applyEnabled());
    model.optionTabButtonClicked(7); // no such tab
    EXPECT_EQ(model.curOptionTabType(), 2);
}

}  // namespace
