// Stored settings of the batch tools: defaults on first use, a stored dictionary read back over
// the defaults, and a round trip through the settings file.

#include "Edit/BatchConvertWorker.h"
#include "Edit/BatchResizeWorker.h"
#include "Edit/BatchToolSettings.h"
#include "Model/MainConfig.h"

#include "foundation/UserDefaults.h"
#include "imageio/ContentTypes.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

TEST(BatchSettings, DefaultsAndRoundTrip)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString file = dir.filePath("settings.conf");
    {
        kpv::UserDefaults defaults(file);
        MainConfig config(defaults);
        const QVariantMap resize = BatchToolSettings::loadResizeConfigInfo(&config);
        EXPECT_TRUE(resize.value(BatchResizeKeys::kClassicSizeType).toBool());
        EXPECT_EQ(resize.value(BatchResizeKeys::kClassicSizeWidth).toInt(), 1024);
        EXPECT_EQ(resize.value(BatchResizeKeys::kCustomSizePercent).toInt(), 100);
        EXPECT_TRUE(resize.value(BatchResizeKeys::kKeepAlpha).toBool());
        EXPECT_TRUE(resize.value(BatchResizeKeys::kDpi).toString().isEmpty());
        const QVariantMap convert = BatchToolSettings::loadConvertConfigInfo(&config);
        EXPECT_EQ(convert.value(BatchConvertKeys::kFileTypeUTI).toString(), kpv::ContentTypes::kJpeg);
        EXPECT_FLOAT_EQ(convert.value(BatchConvertKeys::kCompressionQuality).toFloat(), 0.9f);

        // A stored dictionary missing keys still reads their defaults.
        config.setBatchResizeConfigInfo({{BatchResizeKeys::kClassicSizeType, false},
                                         {BatchResizeKeys::kCustomSizePercent, 50}});
        QVariantMap convertChanged = convert;
        convertChanged[BatchConvertKeys::kFileTypeUTI] = kpv::ContentTypes::kTiff;
        convertChanged[BatchConvertKeys::kTIFFCompression] = 5;
        BatchToolSettings::saveConvertConfigInfo(&config, convertChanged);
        config.save(true);
    }
    kpv::UserDefaults defaults(file);
    MainConfig config(defaults);
    const QVariantMap resize = BatchToolSettings::loadResizeConfigInfo(&config);
    EXPECT_FALSE(resize.value(BatchResizeKeys::kClassicSizeType).toBool());
    EXPECT_EQ(resize.value(BatchResizeKeys::kCustomSizePercent).toInt(), 50);
    EXPECT_TRUE(resize.value(BatchResizeKeys::kNotEnlarge).toBool());
    const QVariantMap convert = BatchToolSettings::loadConvertConfigInfo(&config);
    EXPECT_EQ(convert.value(BatchConvertKeys::kFileTypeUTI).toString(), kpv::ContentTypes::kTiff);
    EXPECT_EQ(convert.value(BatchConvertKeys::kTIFFCompression).toInt(), 5);
    EXPECT_EQ(BatchToolSettings::loadResizeConfigInfo(nullptr).value(BatchResizeKeys::kClassicSizeHeight).toInt(), 768);
}

} // namespace
