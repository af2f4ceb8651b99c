// Taking and giving back the default-viewer role, against an in-memory desktop.
#include "Shell/FileTypeAssociator.h"

#include "Model/MainConfig.h"
#include "desktop/FakeDesktopServices.h"
#include "foundation/UserDefaults.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

const QString kOurs = QStringLiteral("org.kestrane.viewer.desktop");
const QString kJpeg = QStringLiteral("public.jpeg");
const QString kPng = QStringLiteral("public.png");
const QString kGif = QStringLiteral("com.compuserve.gif");

struct AssociatorTest : ::testing::Test {
    QTemporaryDir dir;
    std::unique_ptr<kpv::UserDefaults> defaults{new kpv::UserDefaults(dir.filePath("settings.json"))};
    MainConfig config{*defaults};
    kpv::FakeDesktopServices desktop;
    FileTypeAssociator associator{desktop, config, kOurs, {kJpeg, kPng, kGif}};

    static QString mime(const QString& type) { return kpv::DesktopServices::mimeTypeForContentType(type); }
};

TEST_F(AssociatorTest, ContentTypesMapToDesktopMimeTypes)
{
    EXPECT_EQ(mime(kJpeg), "image/jpeg");
    EXPECT_EQ(mime(kPng), "image/png");
    EXPECT_EQ(mime(kGif), "image/gif");
    EXPECT_TRUE(mime(QStringLiteral("no.such.type")).isEmpty());
}

TEST_F(AssociatorTest, AssociatedComparesIdsWithoutCaseAndReportsHandler)
{
    desktop.defaults.insert("image/jpeg", "ORG.Kestrane.Viewer.desktop");
    QString handler;
    EXPECT_TRUE(associator.fileTypeAssociated(kJpeg, QString(), &handler));
    EXPECT_EQ(handler, "ORG.Kestrane.Viewer.desktop");
    EXPECT_FALSE(associator.fileTypeAssociated(kPng, QString(), &handler));
    EXPECT_TRUE(handler.isEmpty());
}

TEST_F(AssociatorTest, TakingTypesRemembersOnlyForeignHandlers)
{
    desktop.defaults.insert("image/jpeg", "viewer-a.desktop");
    desktop.defaults.insert("image/png", kOurs);
    associator.makeFileAssoicateForFileTypes({kJpeg, kPng});
    EXPECT_EQ(desktop.defaults.value("image/jpeg"), kOurs);
    EXPECT_EQ(desktop.defaults.value("image/png"), kOurs);
    EXPECT_FALSE(desktop.defaults.contains("image/gif"));
    const QVariantMap prev = config.prevAssociatedApps();
    EXPECT_EQ(prev.size(), 1);
    EXPECT_EQ(prev.value(kJpeg).toString(), "viewer-a.desktop");
    // With no stored table yet, a type already ours is set again.
    EXPECT_EQ(desktop.setDefaultCalls.size(), 2);
}

TEST_F(AssociatorTest, TableExistsAfterEveryRunEvenEmpty)
{
    EXPECT_FALSE(associator.hasPrevAssociatedApps());
    associator.makeFileAssoicateForFileTypes({});
    EXPECT_TRUE(associator.hasPrevAssociatedApps());
    EXPECT_TRUE(config.prevAssociatedApps().isEmpty());
}

TEST_F(AssociatorTest, SecondRunLeavesOwnedWantedTypesAlone)
{
    associator.makeFileAssoicateForFileTypes({kJpeg});
    desktop.setDefaultCalls.clear();
    associator.makeFileAssoicateForFileTypes({kJpeg});
    EXPECT_TRUE(desktop.setDefaultCalls.isEmpty());
}

TEST_F(AssociatorTest, ReleasingGivesTypeBackInPreferenceOrder)
{
    desktop.defaults.insert("image/jpeg", "viewer-a.desktop");
    associator.makeFileAssoicateForFileTypes({kJpeg});
    ASSERT_EQ(desktop.defaults.value("image/jpeg"), kOurs);

    // The previous handler, still installed, gets it back.
    desktop.allHandlers.insert("image/jpeg", {kOurs, "Viewer-A.desktop", "editor-b.desktop"});
    desktop.viewers.insert("image/jpeg", {kOurs, "editor-b.desktop"});
    associator.makeFileAssoicateForFileTypes({});
    EXPECT_EQ(desktop.defaults.value("image/jpeg"), "viewer-a.desktop");
    // Entries of released types are kept.
    EXPECT_EQ(config.prevAssociatedApps().value(kJpeg).toString(), "viewer-a.desktop");

    // Previous handler gone: the first other viewer.
    desktop.defaults.insert("image/jpeg", kOurs);
    desktop.allHandlers.insert("image/jpeg", {kOurs, "editor-b.desktop", "zzz.desktop"});
    associator.makeFileAssoicateForFileTypes({});
    EXPECT_EQ(desktop.defaults.value("image/jpeg"), "editor-b.desktop");

    // No viewer but us: the first remaining candidate by lower-cased id.
    desktop.defaults.insert("image/jpeg", kOurs);
    desktop.viewers.insert("image/jpeg", {kOurs});
    desktop.allHandlers.insert("image/jpeg", {kOurs, "Zed.desktop", "Alpha.desktop"});
    associator.makeFileAssoicateForFileTypes({});
    EXPECT_EQ(desktop.defaults.value("image/jpeg"), "alpha.desktop");
}

TEST_F(AssociatorTest, TypeWithoutOtherHandlerStaysOurs)
{
    desktop.defaults.insert("image/png", kOurs);
    desktop.allHandlers.insert("image/png", {kOurs});
    EXPECT_TRUE(associator.preferredOtherAppBundleIDForType(kPng, {}, kOurs).isEmpty());
    associator.makeFileAssoicateForFileTypes({});
    EXPECT_EQ(desktop.defaults.value("image/png"), kOurs);
    EXPECT_TRUE(associator.preferredOtherAppBundleIDForType(QString(), {}, kOurs).isEmpty());
}

}  // namespace
