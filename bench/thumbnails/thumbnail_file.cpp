// The thumbnail of one file as the grid makes it (Thumbnailer::uprightThumbnail, no cache), with
// its time and the process's peak memory, so that a large or odd file can be measured.
//
//   thumbnail_file FILE [PIXELS] [OUT.png]
#include "imageio/ImageSource.h"
#include "imageio/Thumbnailer.h"

#include <QDir>
#include <QGuiApplication>
#include <QTemporaryDir>

#include <chrono>
#include <cstdio>
#include <cstdlib>

#include <sys/resource.h>

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FILE [PIXELS] [OUT.png]\n", argv[0]);
        return 2;
    }
    QGuiApplication app(argc, argv);
    // An empty cache of our own: the decode is what is measured.
    QTemporaryDir cache;
    kpv::Thumbnailer::setCacheDirectoryForTesting(cache.path());
    const int pixels = argc > 2 ? std::atoi(argv[2]) : 256;
    const auto t0 = std::chrono::steady_clock::now();
    const QImage image = kpv::Thumbnailer::uprightThumbnail(QString::fromLocal8Bit(argv[1]), pixels);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("thumbnail %d x %d in %.3f s, peak memory %.1f MB\n", image.width(), image.height(), seconds,
                double(usage.ru_maxrss) / 1024.0);
    if (image.isNull()) {
        // Why, as the reader says it.
        QString error;
        const auto source = kpv::ImageSource::createWithFile(QString::fromLocal8Bit(argv[1]), &error);
        if (source)
            source->createThumbnailAtIndex(0, pixels, true, &error);
        std::printf("no thumbnail: %s\n", qPrintable(error));
        return 1;
    }
    if (argc > 3)
        image.save(QString::fromLocal8Bit(argv[3]));
    return 0;
}
