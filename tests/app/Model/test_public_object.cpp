// The application singleton: document-type tables from the bundle, file types by extension, and
// one component manager per thread that goes away with its thread.

#include "Model/PublicObject.h"
#include "imageio/ContentTypes.h"

#include "foundation/Bundle.h"
#include "foundation/OperationQueue.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <mutex>
#include <set>
#include <thread>

namespace {

class PublicObjectTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }

    std::unique_ptr<PublicObject> objectWithInfo(const QByteArray &json)
    {
        const QString folder = dir.path() + QStringLiteral("/b%1").arg(++bundles);
        QDir().mkpath(folder);
        QFile f(folder + QStringLiteral("/Info.json"));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(json);
        f.close();
        bundle = std::make_unique<kpv::Bundle>(QStringList{folder});
        return std::make_unique<PublicObject>(*bundle, QSizeF(1680, 1050));
    }

    QTemporaryDir dir;
    int bundles = 0;
    std::unique_ptr<kpv::Bundle> bundle;
};

} // namespace

TEST(PublicObjectNames, ImageTypeNamesIgnoreCase)
{
    EXPECT_EQ(PublicObject::stringToAMCMImageType(QStringLiteral("AM_JPEG")), 2u);
    EXPECT_EQ(PublicObject::stringToAMCMImageType(QStringLiteral("am_jpeg")), 2u);
    EXPECT_EQ(PublicObject::stringToAMCMImageType(QStringLiteral("Am_Gif")), 4u);
    EXPECT_EQ(PublicObject::stringToAMCMImageType(QStringLiteral("AM_MBITMAP")), 4096u);
    EXPECT_EQ(PublicObject::stringToAMCMImageType(QStringLiteral("AM_TIF")), 1024u);
    EXPECT_EQ(PublicObject::stringToAMCMImageType(QStringLiteral("AM_UNKNOWN")), 0u);
    EXPECT_EQ(PublicObject::stringToAMCMImageType(QString()), 0u);
}

TEST_F(PublicObjectTest, TablesFollowTheBundlesDocumentTypes)
{
    auto object = objectWithInfo(R"({"CFBundleDocumentTypes": [
        {"LSItemContentTypes": ["public.jpeg"], "AMImageType": "am_jpeg"},
        {"LSItemContentTypes": ["com.compuserve.gif", "public.png"], "AMImageType": "AM_GIF"},
        {"LSItemContentTypes": ["public.png"], "AMImageType": "AM_PNG"},
        {"LSItemContentTypes": ["org.example.sketch"], "CFBundleTypeExtensions": ["SKT", "sketch"]},
        {"LSItemContentTypes": ["public.tiff"], "AMImageType": "AM_NOTHING"},
        "not a dictionary",
        {"LSItemContentTypes": "public.jpeg-2000", "AMImageType": 7}]})");

    EXPECT_EQ(object->allowedFileTypes(),
              (QStringList{"public.jpeg", "com.compuserve.gif", "public.png", "public.png", "org.example.sketch",
                           "public.tiff", "public.jpeg-2000"}));
    EXPECT_EQ(object->imageTypeToAMCMType(QStringLiteral("public.jpeg")), 2u);
    EXPECT_EQ(object->imageTypeToAMCMType(QStringLiteral("com.compuserve.gif")), 4u);
    // Listed twice: the last entry wins.
    EXPECT_EQ(object->imageTypeToAMCMType(QStringLiteral("public.png")), 8u);
    EXPECT_EQ(object->imageTypeToAMCMType(QStringLiteral("public.tiff")), 0u);
    EXPECT_EQ(object->imageTypeToAMCMType(QStringLiteral("org.example.sketch")), 0u);
    EXPECT_EQ(object->imageTypeToAMCMType(QStringLiteral("public.heic")), 0u);

    const QStringList extensions = object->allowedFileExtensions();
    for (const char *e : {"jpg", "jpeg", "gif", "png", "skt", "sketch", "tif", "tiff", "jp2"})
        EXPECT_TRUE(extensions.contains(QLatin1String(e))) << e;
    for (const QString &e : extensions)
        EXPECT_EQ(e, e.toLower());
    EXPECT_EQ(extensions.count(QStringLiteral("png")), 2);  // duplicates are kept

    auto uti = [&](const char *path) { return object->fileUTIByPath(LMPathString(QLatin1String(path), false)); };
    EXPECT_EQ(uti("/photos/IMG_1.JPG"), QStringLiteral("public.jpeg"));
    EXPECT_EQ(uti("/photos/a.Sketch"), QStringLiteral("org.example.sketch"));
    EXPECT_EQ(uti("/photos/a.tar.png"), QStringLiteral("public.png"));
    EXPECT_TRUE(uti("/photos/notes.txt").isEmpty());
    EXPECT_TRUE(uti("/photos/README").isEmpty());
    EXPECT_TRUE(uti("").isEmpty());
}

TEST_F(PublicObjectTest, AMissingOrMalformedListSupportsNothing)
{
    for (const QByteArray &json : {QByteArray("{}"), QByteArray(R"({"CFBundleDocumentTypes": "jpeg"})"),
                                   QByteArray("not json")}) {
        auto object = objectWithInfo(json);
        EXPECT_TRUE(object->allowedFileTypes().isEmpty());
        EXPECT_TRUE(object->allowedFileExtensions().isEmpty());
        EXPECT_TRUE(object->fileUTIByPath(LMPathString(QStringLiteral("/a.jpg"), false)).isEmpty());
        ASSERT_TRUE(object->photoLoader());
        EXPECT_EQ(object->photoLoader()->infoProvider(), object.get());
    }
}

TEST_F(PublicObjectTest, TheApplicationsOwnBundleDeclaresTheUsualFormats)
{
    kpv::Bundle mainBundle(QStringList{QDir::cleanPath(QStringLiteral(KPV_TEST_DATA_DIR "/../../resources"))});
    PublicObject object(mainBundle, QSizeF(1680, 1050));
    for (const char *e : {"jpg", "png", "gif", "bmp", "tif", "webp", "jp2", "ico", "nef"})
        EXPECT_TRUE(object.allowedFileExtensions().contains(QLatin1String(e))) << e;
    // Every further format the installed toolkit readers know is listed too.
    for (const QString &e : kpv::ContentTypes::extensionsForType(kpv::ContentTypes::kToolkitImage))
        EXPECT_TRUE(object.allowedFileExtensions().contains(e)) << e.toStdString();
    EXPECT_EQ(object.imageTypeToAMCMType(QStringLiteral("com.compuserve.gif")), 4u);
    EXPECT_TRUE(object.photoLoader()->isRawFile(LMPathString(QStringLiteral("/a/b.NEF"), false)));
}

TEST_F(PublicObjectTest, EachThreadHasItsOwnComponentManagerUntilItEnds)
{
    auto object = objectWithInfo("{}");
    const int before = PublicObject::liveThreadHandleCount();
    {
        kpv::OperationQueue queue;
        queue.setMaxConcurrentOperationCount(3);
        std::mutex mutex;
        std::set<AMCMHandle> handles;
        std::atomic<bool> stable{true};
        std::atomic<int> running{0};
        for (int i = 0; i < 3; ++i) {
            queue.addOperationWithBlock([&] {
                AMCMHandle first = object->currentTheadAMCMHandle();
                if (!first || object->currentTheadAMCMHandle() != first)
                    stable = false;
                // Keep all three workers busy at once so that each runs on its own thread.
                ++running;
                while (running.load() < 3)
                    std::this_thread::yield();
                std::lock_guard lock(mutex);
                handles.insert(first);
            });
        }
        queue.waitUntilAllOperationsAreFinished();
        EXPECT_TRUE(stable);
        EXPECT_EQ(handles.size(), 3u);
        EXPECT_EQ(PublicObject::liveThreadHandleCount(), before + 3);
    }
    // The queue's workers have exited, and their managers went with them.
    EXPECT_EQ(PublicObject::liveThreadHandleCount(), before);

    // A plain thread, and a manager destroyed early is made anew on the next request.
    std::thread([&] {
        AMCMHandle first = object->currentTheadAMCMHandle();
        EXPECT_TRUE(first);
        PublicObject::threadWillExitNotification();
        EXPECT_EQ(PublicObject::liveThreadHandleCount(), before);
        EXPECT_TRUE(object->currentTheadAMCMHandle());
        EXPECT_EQ(PublicObject::liveThreadHandleCount(), before + 1);
    }).join();
    EXPECT_EQ(PublicObject::liveThreadHandleCount(), before);
}

TEST_F(PublicObjectTest, EachThreadsManagerHasTheFourDecodersInOrder)
{
    auto object = objectWithInfo("{}");
    std::thread([&] {
        AMCMHandle manager = object->currentTheadAMCMHandle();
        ASSERT_TRUE(manager);
        // Every one a decoder of the same priority, so a type's own decoder is the one chosen.
        const MDWord ids[] = {AMCM_CID_BMP_DECODER, AMCM_CID_JPEG_DECODER, AMCM_CID_PNG_DECODER,
                              AMCM_CID_GIF_DECODER};
        for (MDWord id : ids) {
            AMCM_COMPONENT_INFO info{};
            ASSERT_EQ(AMCM_GetComponentInfo(manager, id, &info), 0) << std::hex << id;
            EXPECT_EQ(info.dwTypeClass, AMCM_TYPECLASS_DECODER);
            EXPECT_EQ(info.dwPriority, 3u);
        }
        PublicObject::threadWillExitNotification();
    }).join();
}
