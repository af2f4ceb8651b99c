#include "Edit/BatchToolSettings.h"

#include "Edit/BatchConvertWorker.h"
#include "Edit/BatchResizeWorker.h"
#include "Edit/EditFileTools.h"
#include "Model/MainConfig.h"

#include "imageio/ContentTypes.h"

namespace {
QVariantMap overDefaults(const QVariantMap &stored, QVariantMap defaults)
{
    for (auto it = stored.cbegin(); it != stored.cend(); ++it)
        defaults.insert(it.key(), it.value());
    return defaults;
}
} // namespace

QVariantMap BatchToolSettings::defaultResizeConfigInfo()
{
    using namespace BatchResizeKeys;
    return {{kClassicSizeType, true},     {kClassicSizeWidth, 1024},  {kClassicSizeHeight, 768},
            {kCustomSizeUnitType, 0},     {kCustomSizeWidth, 1024},   {kCustomSizeHeight, 768},
            {kCustomSizePercent, 100},    {kDpi, QString()},          {kNotEnlarge, true},
            {kKeepAlpha, true},           {kNewNameBase, QString()},
            {kDestFolderPath, EditFileTools::defaultDestFolderPath()}};
}

QVariantMap BatchToolSettings::defaultConvertConfigInfo()
{
    using namespace BatchConvertKeys;
    return {{kFileTypeUTI, kpv::ContentTypes::kJpeg},
            {kCompressionQuality, QVariant::fromValue(0.9f)},
            {kTIFFCompression, 1},
            {kDestFolderPath, EditFileTools::defaultDestFolderPath()}};
}

QVariantMap BatchToolSettings::loadResizeConfigInfo(MainConfig *config)
{
    return overDefaults(config ? config->batchResizeConfigInfo() : QVariantMap(), defaultResizeConfigInfo());
}

QVariantMap BatchToolSettings::loadConvertConfigInfo(MainConfig *config)
{
    return overDefaults(config ? config->batchConvertConfigInfo() : QVariantMap(), defaultConvertConfigInfo());
}

void BatchToolSettings::saveResizeConfigInfo(MainConfig *config, const QVariantMap &info)
{
    if (config)
        config->setBatchResizeConfigInfo(info);
}

void BatchToolSettings::saveConvertConfigInfo(MainConfig *config, const QVariantMap &info)
{
    if (config)
        config->setBatchConvertConfigInfo(info);
}
