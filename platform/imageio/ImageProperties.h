#pragma once
// Key names of an image's property dictionary (a QVariantMap), as ImageSource produces it and as
// the application reads it. The top level holds the pixel size, orientation and resolution, and
// one sub-dictionary (a nested QVariantMap) per metadata block: EXIF, EXIF auxiliary, TIFF, GPS
// and GIF. Inside the sub-dictionaries the keys are the tag names of the EXIF and TIFF standards.
//
// Value types: sizes, codes and counts are integers; rational tags (F-number, exposure time,
// focal length, resolutions, GPS coordinates) are doubles; texts are QStrings; multi-valued tags
// (ISO speed ratings) are QVariantLists. Every key is defined once, here.

namespace kpv {

// Top level.
inline constexpr char kCGImagePropertyPixelWidth[] = "PixelWidth";
inline constexpr char kCGImagePropertyPixelHeight[] = "PixelHeight";
// EXIF orientation 1..8 (TIFF 6.0 tag 274 semantics).
inline constexpr char kCGImagePropertyOrientation[] = "Orientation";
inline constexpr char kCGImagePropertyDPIWidth[] = "DPIWidth";
inline constexpr char kCGImagePropertyDPIHeight[] = "DPIHeight";
inline constexpr char kCGImagePropertyDepth[] = "Depth";
inline constexpr char kCGImagePropertyHasAlpha[] = "HasAlpha";
// How the file stores its colours: "Gray", "RGB" or "CMYK" (a string), and whether as indices
// into a palette (bool). A writer keeps a grey photo grey, and an alpha channel the file had.
inline constexpr char kCGImagePropertyColorModel[] = "ColorModel";
inline constexpr char kCGImagePropertyColorModelGray[] = "Gray";
inline constexpr char kCGImagePropertyColorModelRGB[] = "RGB";
inline constexpr char kCGImagePropertyColorModelCMYK[] = "CMYK";
inline constexpr char kCGImagePropertyIsIndexed[] = "IsIndexed";

// Sub-dictionaries.
inline constexpr char kCGImagePropertyExifDictionary[] = "Exif";
inline constexpr char kCGImagePropertyExifAuxDictionary[] = "ExifAux";
inline constexpr char kCGImagePropertyTIFFDictionary[] = "TIFF";
inline constexpr char kCGImagePropertyGPSDictionary[] = "GPS";
inline constexpr char kCGImagePropertyGIFDictionary[] = "GIF";
inline constexpr char kCGImagePropertyJFIFDictionary[] = "JFIF";
// JPEG sub-dictionary: whether the file is coded in several scans (bool).
inline constexpr char kCGImagePropertyJFIFIsProgressive[] = "IsProgressive";
// The quality (0 to 1) that the file's luminance quantisation table was most likely made with,
// and how many luma samples stand for one of each chroma sample across and down (a list of two
// integers: 1 1 is no subsampling, 2 2 the usual quarter). A JPEG written again keeps both.
inline constexpr char kCGImagePropertyJFIFEstimatedQuality[] = "EstimatedQuality";
inline constexpr char kCGImagePropertyJFIFChromaSubsampling[] = "ChromaSubsampling";
// PNG sub-dictionary: whether the rows are stored interlaced (Adam7) (bool).
inline constexpr char kCGImagePropertyPNGDictionary[] = "PNG";
inline constexpr char kCGImagePropertyPNGIsInterlaced[] = "IsInterlaced";

// EXIF sub-dictionary (EXIF 2.3 tag names).
inline constexpr char kCGImagePropertyExifDateTimeOriginal[] = "DateTimeOriginal";   // "yyyy:MM:dd HH:mm:ss"
inline constexpr char kCGImagePropertyExifDateTimeDigitized[] = "DateTimeDigitized";
inline constexpr char kCGImagePropertyExifFNumber[] = "FNumber";
inline constexpr char kCGImagePropertyExifExposureTime[] = "ExposureTime";           // seconds
inline constexpr char kCGImagePropertyExifISOSpeedRatings[] = "ISOSpeedRatings";     // list of integers
// Sensitivities above 65535, which the rating above cannot hold (it then reads 65535): which of
// the three the camera wrote says the type (1 SOS, 2 REI, 3 ISO speed; 4 to 7 combinations).
inline constexpr char kCGImagePropertyExifSensitivityType[] = "SensitivityType";
inline constexpr char kCGImagePropertyExifStandardOutputSensitivity[] = "StandardOutputSensitivity";
inline constexpr char kCGImagePropertyExifRecommendedExposureIndex[] = "RecommendedExposureIndex";
inline constexpr char kCGImagePropertyExifISOSpeed[] = "ISOSpeed";
inline constexpr char kCGImagePropertyExifExposureBiasValue[] = "ExposureBiasValue"; // EV
inline constexpr char kCGImagePropertyExifFocalLength[] = "FocalLength";             // millimetres
inline constexpr char kCGImagePropertyExifFlash[] = "Flash";
inline constexpr char kCGImagePropertyExifMeteringMode[] = "MeteringMode";
inline constexpr char kCGImagePropertyExifExposureProgram[] = "ExposureProgram";
inline constexpr char kCGImagePropertyExifWhiteBalance[] = "WhiteBalance";
inline constexpr char kCGImagePropertyExifBrightnessValue[] = "BrightnessValue";
inline constexpr char kCGImagePropertyExifContrast[] = "Contrast";
inline constexpr char kCGImagePropertyExifSaturation[] = "Saturation";
inline constexpr char kCGImagePropertyExifPixelXDimension[] = "PixelXDimension";
inline constexpr char kCGImagePropertyExifPixelYDimension[] = "PixelYDimension";

// EXIF auxiliary sub-dictionary.
inline constexpr char kCGImagePropertyExifAuxLensModel[] = "LensModel";

// TIFF sub-dictionary (TIFF 6.0 tag names).
inline constexpr char kCGImagePropertyTIFFMake[] = "Make";
inline constexpr char kCGImagePropertyTIFFModel[] = "Model";
inline constexpr char kCGImagePropertyTIFFOrientation[] = "Orientation";
inline constexpr char kCGImagePropertyTIFFXResolution[] = "XResolution";
inline constexpr char kCGImagePropertyTIFFYResolution[] = "YResolution";
inline constexpr char kCGImagePropertyTIFFResolutionUnit[] = "ResolutionUnit";
inline constexpr char kCGImagePropertyTIFFSoftware[] = "Software";
inline constexpr char kCGImagePropertyTIFFDateTime[] = "DateTime";

// GPS sub-dictionary (EXIF 2.3 GPS tag names; coordinates as unsigned degrees plus a reference letter).
inline constexpr char kCGImagePropertyGPSLatitude[] = "Latitude";
inline constexpr char kCGImagePropertyGPSLatitudeRef[] = "LatitudeRef";
inline constexpr char kCGImagePropertyGPSLongitude[] = "Longitude";
inline constexpr char kCGImagePropertyGPSLongitudeRef[] = "LongitudeRef";
inline constexpr char kCGImagePropertyGPSAltitude[] = "Altitude";
inline constexpr char kCGImagePropertyGPSAltitudeRef[] = "AltitudeRef";
inline constexpr char kCGImagePropertyGPSTimeStamp[] = "TimeStamp";
inline constexpr char kCGImagePropertyGPSDateStamp[] = "DateStamp";

// GIF sub-dictionary (GIF89a graphic control and application extensions).
inline constexpr char kCGImagePropertyGIFDelayTime[] = "DelayTime";                   // seconds
inline constexpr char kCGImagePropertyGIFUnclampedDelayTime[] = "UnclampedDelayTime"; // seconds, as stored
inline constexpr char kCGImagePropertyGIFLoopCount[] = "LoopCount";                   // 0 = forever
inline constexpr char kCGImagePropertyGIFHasGlobalColorMap[] = "HasGlobalColorMap";

} // namespace kpv

// Keys a writer reads besides the ones above.
namespace kpv {
inline constexpr char kCGImagePropertyTIFFCompression[] = "Compression";  // 1 none, 5 LZW, 32773 PackBits
inline constexpr char kCGImagePropertyIPTCDictionary[] = "IPTC";
inline constexpr char kCGImagePropertyIPTCImageOrientation[] = "ImageOrientation";
inline constexpr char kCGImageDestinationLossyCompressionQuality[] = "kCGImageDestinationLossyCompressionQuality";  // 0 to 1
} // namespace kpv
