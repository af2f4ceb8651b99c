#include "Model/LMAppServices.h"

#include <gtest/gtest.h>

namespace {

class FakeServices : public LMAppServices {
public:
    MainConfig *mainConfig() override { return nullptr; }
    QStringList allowedFileExtensions() const override { return {"jpg", "png"}; }
    QStringList allowedFileTypes() const override { return {"public.jpeg"}; }
};

TEST(AppServices, ExtensionCheckIsLowerCasedAndExact)
{
    const QStringList exts{"jpg", "png", "tar.gz"};
    EXPECT_TRUE(LMAppServices::checkSupportForFilePathUrl(QUrl::fromLocalFile("/p/a.jpg"), exts));
    EXPECT_TRUE(LMAppServices::checkSupportForFilePathUrl(QUrl::fromLocalFile("/p/A.JPG"), exts));
    EXPECT_TRUE(LMAppServices::checkSupportForFilePathUrl(QUrl::fromLocalFile("/p/x.y/a b.PNG"), exts));
    EXPECT_FALSE(LMAppServices::checkSupportForFilePathUrl(QUrl::fromLocalFile("/p/a.jpeg"), exts));
    EXPECT_FALSE(LMAppServices::checkSupportForFilePathUrl(QUrl::fromLocalFile("/p/jpg"), exts));
    EXPECT_FALSE(LMAppServices::checkSupportForFilePathUrl(QUrl::fromLocalFile("/p/.jpg"), exts)); // hidden, no extension
    EXPECT_FALSE(LMAppServices::checkSupportForFilePathUrl(QUrl::fromLocalFile("/p.jpg/readme"), exts));
    EXPECT_FALSE(LMAppServices::checkSupportForFilePathUrl(QUrl::fromLocalFile("/p/a."), exts));
    EXPECT_FALSE(LMAppServices::checkSupportForFilePathUrl(QUrl::fromLocalFile("/p/a.JPG"), {"JPG"})); // list must be lower case
    EXPECT_FALSE(LMAppServices::checkSupportForFilePathUrl(QUrl(), exts));
}

TEST(AppServices, InstallAndRemove)
{
    EXPECT_EQ(LMAppServices::shared(), nullptr);
    FakeServices fake;
    LMAppServices::setShared(&fake);
    ASSERT_EQ(LMAppServices::shared(), &fake);
    EXPECT_EQ(LMAppServices::shared()->allowedFileExtensions(), (QStringList{"jpg", "png"}));
    LMAppServices::setShared(nullptr);
    EXPECT_EQ(LMAppServices::shared(), nullptr);
}

} // namespace
