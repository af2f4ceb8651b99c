#pragma once
// What the tests that assemble the whole program give it: settings and folders in a scratch
// folder, the favourite button's first-visit tip already seen (it holds every command until it is
// closed), PNG files (and JPEG files when asked), two workers.

#include "Model/MainConfig.h"
#include "Shell/AppDelegate.h"
#include "foundation/UserDefaults.h"

#include <QTemporaryDir>
#include <memory>

inline AppDelegate::Setup programTestSetup(kpv::UserDefaults& defaults, const QTemporaryDir& scratch,
                                           bool withJpeg = false)
{
    AppDelegate::Setup setup;
    setup.mainConfig = std::make_unique<MainConfig>(defaults);
    setup.mainConfig->setLoveTipsAlreadyShowed(true);
    setup.temporaryParent = scratch.filePath(QStringLiteral("tmp"));
    setup.cacheDirectory = scratch.filePath(QStringLiteral("cache"));
    setup.allowedFileExtensions = {QStringLiteral("png")};
    setup.allowedFileTypes = {QStringLiteral("public.png")};
    if (withJpeg) {
        setup.allowedFileExtensions << QStringLiteral("jpg");
        setup.allowedFileTypes << QStringLiteral("public.jpeg");
    }
    setup.processorCount = 2;
    return setup;
}
