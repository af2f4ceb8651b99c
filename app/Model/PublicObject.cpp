#include "Model/PublicObject.h"

#include "foundation/Bundle.h"
#include "foundation/Thread.h"
#include "imageio/ContentTypes.h"

#include "MdComponent.h"

#include <QFileInfo>
#include <QVariantList>
#include <QVariantMap>

#include <atomic>
#include <mutex>

namespace {

// The calling thread's component manager. A plain pointer, so that it is still readable while the
// thread's exit handlers run.
thread_local AMCMHandle t_AMCMHandle = nullptr;
std::atomic<int> g_liveThreadHandles{0};

std::mutex g_singletonMutex;
QSizeF g_mainScreenFrameSize(0, 0);

struct AMCMImageTypeName {
    const char *name;
    uint64_t value;
};

constexpr AMCMImageTypeName kAMCMImageTypeNames[] = {
    {"AM_BMP", 1},    {"AM_JPEG", 2},  {"AM_GIF", 4},  {"AM_PNG", 8},  {"AM_WBMP", 32},    {"AM_SWF", 128},
    {"AM_SVG", 256},  {"AM_TTF", 512}, {"AM_TIF", 1024}, {"AM_ICO", 2048}, {"AM_MBITMAP", 4096},
};

QStringList stringsOf(const QVariant &value)
{
    QStringList out;
    if (value.typeId() == QMetaType::QString) {
        out.append(value.toString());
    } else if (value.typeId() == QMetaType::QVariantList || value.typeId() == QMetaType::QStringList) {
        for (const QVariant &item : value.toList())
            if (item.typeId() == QMetaType::QString)
                out.append(item.toString());
    }
    return out;
}

} // namespace

PublicObject *PublicObject::getPublicObject()
{
    std::lock_guard lock(g_singletonMutex);
    static PublicObject *object = new PublicObject(kpv::Bundle::mainBundle(), g_mainScreenFrameSize);
    return object;
}

void PublicObject::setMainScreenFrameSize(const QSizeF &size)
{
    std::lock_guard lock(g_singletonMutex);
    g_mainScreenFrameSize = size;
}

PublicObject::PublicObject(const kpv::Bundle &bundle, const QSizeF &mainScreenSize,
                           std::shared_ptr<const LMImageSourceFactory> sources)
    : m_photoLoader(std::make_unique<LMPhotoLoader>(mainScreenSize, std::move(sources)))
{
    initAllowedFileTypes(bundle);
    m_photoLoader->setInfoProvider(this);
}

PublicObject::~PublicObject() = default;

uint64_t PublicObject::stringToAMCMImageType(const QString &name)
{
    for (const AMCMImageTypeName &entry : kAMCMImageTypeNames)
        if (name.compare(QLatin1String(entry.name), Qt::CaseInsensitive) == 0)
            return entry.value;
    return 0;
}

void PublicObject::initAllowedFileTypes(const kpv::Bundle &bundle)
{
    if (m_typesBuilt)
        return;
    m_typesBuilt = true;

    // The bundle's own declaration of a type's extensions, for types the platform does not know.
    QHash<QString, QStringList> declaredExtensions;
    const QVariantList documentTypes = bundle.objectForInfoDictionaryKey(QStringLiteral("CFBundleDocumentTypes")).toList();
    for (const QVariant &entryValue : documentTypes) {
        if (entryValue.typeId() != QMetaType::QVariantMap)
            continue;
        const QVariantMap entry = entryValue.toMap();
        const QStringList types = stringsOf(entry.value(QStringLiteral("LSItemContentTypes")));
        const QVariant nameValue = entry.value(QStringLiteral("AMImageType"));
        const uint64_t codecType =
            nameValue.typeId() == QMetaType::QString ? stringToAMCMImageType(nameValue.toString()) : 0;
        const QStringList extensions = stringsOf(entry.value(QStringLiteral("CFBundleTypeExtensions")));
        for (const QString &type : types) {
            m_allowedFileTypes.append(type);
            m_allowedFileTypeAndAMCMImageTypeDict.insert(type, codecType);
            declaredExtensions[type].append(extensions);
        }
    }

    for (const QString &type : std::as_const(m_allowedFileTypes)) {
        QStringList extensions = kpv::ContentTypes::extensionsForType(type);
        if (extensions.isEmpty())
            extensions = declaredExtensions.value(type);
        for (const QString &extension : std::as_const(extensions)) {
            const QString lower = extension.toLower();
            m_allowedFileExtensions.append(lower);
            m_allowedFileExtensionsAndUTIDict.insert(lower, type);
        }
    }
}

uint64_t PublicObject::imageTypeToAMCMType(const QString &uti) const
{
    return m_allowedFileTypeAndAMCMImageTypeDict.value(uti, 0);
}

QString PublicObject::fileUTIByPath(const LMPathString &path) const
{
    const QString extension = QFileInfo(path.path()).suffix().toLower();
    if (extension.isEmpty())
        return {};
    return m_allowedFileExtensionsAndUTIDict.value(extension);
}

AMCMHandle PublicObject::currentTheadAMCMHandle()
{
    if (t_AMCMHandle)
        return t_AMCMHandle;
    AMCMHandle handle = nullptr;
    if (AMCM_Create(nullptr, &handle) != 0 || !handle)
        return nullptr;  // nothing kept: the next request tries again
    // The thread's decoders: BMP, JPEG, PNG and GIF, in that order.
    MdRegisterDecoderComponents(handle);
    t_AMCMHandle = handle;
    g_liveThreadHandles.fetch_add(1);
    kpv::onThreadExit(&PublicObject::threadWillExitNotification);
    return handle;
}

void PublicObject::threadWillExitNotification()
{
    if (!t_AMCMHandle)
        return;
    AMCMHandle handle = t_AMCMHandle;
    t_AMCMHandle = nullptr;
    AMCM_Destroy(handle);  // also frees the thread's pooled post-processing handles
    g_liveThreadHandles.fetch_sub(1);
}

int PublicObject::liveThreadHandleCount()
{
    return g_liveThreadHandles.load();
}
