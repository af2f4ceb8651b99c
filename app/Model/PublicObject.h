#pragma once

// The application-wide object that every part of the application reaches for the supported
// document types (their type identifiers, extensions and codec image types), the one shared photo
// loader, and a codec component manager for the calling thread. It is the photo loader's
// information provider.
//
// The codec library takes no locks, so every thread gets its own component manager: made on the
// thread's first request and destroyed when the thread exits (a worker thread's when it ends, the
// main thread's at process exit). No handle is ever shared between threads.

#include "Model/LMImageSourceFactory.h"
#include "Model/LMPathString.h"
#include "Model/LMPhotoLoader.h"
#include "Model/LMPhotoLoaderInfoProvider.h"

#include "AMCM.h"

#include <QHash>
#include <QSizeF>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>

namespace kpv {
class Bundle;
}

class PublicObject : public LMPhotoLoaderInfoProvider {
public:
    // The singleton over the main bundle, made on the first call (at start-up, on the main thread,
    // before any worker runs) and kept for the life of the process.
    static PublicObject *getPublicObject();
    // The main screen's frame size that the singleton's photo loader uses for its large fit-in
    // type; the start-up sets it before the first getPublicObject().
    static void setMainScreenFrameSize(const QSizeF &size);

    // An object over a given bundle's document-type list (the singleton uses the main bundle).
    // `mainScreenSize` is the large fit-in box of the loader; without `sources` the loader reads
    // files through the platform's image reader.
    PublicObject(const kpv::Bundle &bundle, const QSizeF &mainScreenSize,
                 std::shared_ptr<const LMImageSourceFactory> sources = nullptr);
    ~PublicObject() override;
    PublicObject(const PublicObject &) = delete;
    PublicObject &operator=(const PublicObject &) = delete;

    // The codec image type of an "AMImageType" name ("AM_JPEG", any case); 0 for an unknown name.
    static uint64_t stringToAMCMImageType(const QString &name);

    // Type identifiers of every supported document type, in the order of the bundle's list.
    QStringList allowedFileTypes() const { return m_allowedFileTypes; }
    // Lower-case extensions of those types (duplicates kept).
    QStringList allowedFileExtensions() const { return m_allowedFileExtensions; }

    uint64_t imageTypeToAMCMType(const QString &uti) const override;
    // The type identifier for the lower-cased extension of the path; empty when not supported.
    QString fileUTIByPath(const LMPathString &path) const override;
    AMCMHandle currentTheadAMCMHandle() override;

    // Destroys the calling thread's component manager, if it has one. Runs by itself when a thread
    // that made one exits.
    static void threadWillExitNotification();
    // Component managers of threads that are alive now (for diagnostics and tests).
    static int liveThreadHandleCount();

    LMPhotoLoader *photoLoader() const { return m_photoLoader.get(); }

private:
    void initAllowedFileTypes(const kpv::Bundle &bundle);

    bool m_typesBuilt = false;
    QStringList m_allowedFileTypes;
    QStringList m_allowedFileExtensions;
    QHash<QString, uint64_t> m_allowedFileTypeAndAMCMImageTypeDict;
    QHash<QString, QString> m_allowedFileExtensionsAndUTIDict;
    std::unique_ptr<LMPhotoLoader> m_photoLoader;
};
