#pragma once
// Content type identifiers of the image formats this program reads and writes, and the
// conformance test the loader uses for camera-raw files.

#include <QString>
#include <QStringList>

namespace kpv::ContentTypes {

inline const QString kJpeg = QStringLiteral("public.jpeg");
inline const QString kPng = QStringLiteral("public.png");
inline const QString kGif = QStringLiteral("com.compuserve.gif");
inline const QString kBmp = QStringLiteral("com.microsoft.bmp");
inline const QString kIco = QStringLiteral("com.microsoft.ico");
inline const QString kTiff = QStringLiteral("public.tiff");
inline const QString kWebp = QStringLiteral("org.webmproject.webp");
inline const QString kJpeg2000 = QStringLiteral("public.jpeg-2000");
inline const QString kCameraRaw = QStringLiteral("public.camera-raw-image");
// Every further format the toolkit's installed image readers know (PNM, XPM, XBM, TGA, ...).
inline const QString kToolkitImage = QStringLiteral("org.kestrane.toolkit-image");
inline const QString kImage = QStringLiteral("public.image");

// The toolkit's reader format of a file of kToolkitImage by its extension ("ppm", "tga", ...);
// empty for the formats read by our own readers and for unknown ones.
QByteArray toolkitFormatForExtension(const QString& extension);
// The type of a file name by its extension (case-insensitive); empty when unknown.
QString typeForExtension(const QString& extension);
// The extensions (lower case, no dot) that name files of a type.
QStringList extensionsForType(const QString& type);
// True when `type` is `parent`, or is one of its kinds (every camera-raw type conforms to
// kCameraRaw, every image type to kImage).
bool conformsTo(const QString& type, const QString& parent);

}  // namespace kpv::ContentTypes
