#pragma once

// The stored settings of batch resize and batch convert: their defaults, reading them back (a
// stored dictionary wins key by key over the defaults, so a dictionary written by an older run
// that lacks a key still reads that key's default) and storing them.

#include <QVariantMap>

class MainConfig;

class BatchToolSettings {
public:
    static QVariantMap defaultResizeConfigInfo();
    static QVariantMap defaultConvertConfigInfo();
    // The stored dictionary over the defaults; the defaults alone without a settings object.
    static QVariantMap loadResizeConfigInfo(MainConfig *config);
    static QVariantMap loadConvertConfigInfo(MainConfig *config);
    static void saveResizeConfigInfo(MainConfig *config, const QVariantMap &info);
    static void saveConvertConfigInfo(MainConfig *config, const QVariantMap &info);
};
