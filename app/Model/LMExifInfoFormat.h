#pragma once

// Short display texts from an image's property dictionary (the EXIF, EXIF auxiliary and TIFF
// sub-dictionaries): when the photo was taken, camera, lens, aperture, exposure, ISO, bias, focal
// length, flash, metering, program, white balance, brightness, contrast and saturation; plus file
// sizes and dates. Each getter answers a null QString when its property (or its sub-dictionary) is
// absent or unusable. Words come from the bundle's string table; numbers take the decimal
// separator of the user's locale.
//
// Numbers are read in single precision, as cameras store them: an aperture of 2.8 stored as a float
// must show as F/2.8, not F/2.79.

#include <QDateTime>
#include <QString>
#include <QVariantMap>

#include <cstdint>

namespace kpv {
class Bundle;
}

class LMExifInfoFormat {
public:
    // `bundle` supplies the localised words; the main bundle when null. It must outlive this object.
    explicit LMExifInfoFormat(const QVariantMap &imageProperties, const kpv::Bundle *bundle = nullptr);

    // Day the photo was taken (EXIF "yyyy:MM:dd HH:mm:ss", the camera's clock), as a medium-style date.
    QString stringFromTakenTime() const;
    // The same with the time of day, to the second, as the camera's clock gave it.
    QString stringFromTakenDateAndTime() const;
    // Where the photo was taken: "48°51′29.5″ N, 2°17′40.2″ E"; no letter for a hemisphere the
    // file does not name.
    QString stringFromGPSPosition() const;
    // Nothing for a name of blanks alone.
    QString maker() const;
    QString model() const;
    QString lensModel() const;
    // "F/2.8", "F/4", "F/0.95"; the decimal separator of the user's locale. Nothing for an
    // aperture, focal length or ISO rating of 0 or less, which a lens or camera writes when it
    // does not know it.
    QString stringFromFNumber() const;
    // "61s", "2s", "0.5s", "1/250s" (unit localised); nothing for times of zero or less.
    QString stringFromExposureTime() const;
    QString stringFromISOWithISOPrefix(bool isoPrefix) const;
    // One decimal, rounded down: -0.33 gives "-0.4EV".
    QString stringFromExposureBias() const;
    QString stringFromFocalLength() const;
    QString stringFromFlash() const;
    QString stringFromMeteringMode() const;
    QString stringFromExposureProgram() const;
    QString stringFromWhiteBalance() const;
    QString stringFromBrightness() const;
    QString stringFromContrast() const;
    QString stringFromSaturation() const;

    // "999 B", "1 KB", "1.5 MB", "1.25 GB" (decimal multiples, units localised).
    static QString stringFromFileSize(uint64_t bytes, const kpv::Bundle *bundle = nullptr);
    // A medium-style date without the time of day, in the local time zone or in UTC.
    static QString stringFromDate(const QDateTime &date, bool localDateFlag);

    const QVariantMap &imageProperties() const { return m_imageProperties; }

private:
    static QString mediumDate(const QDate &day);
    // The date and time taken as the camera's clock gave them; false when absent or unreadable.
    bool takenClock(QDate *day, QTime *time) const;
    QString word(const char *key) const;
    static QString word(const kpv::Bundle &bundle, const char *key);
    QVariant exif(const char *key) const;

    QVariantMap m_imageProperties;
    QVariantMap m_exif, m_auxExif, m_tiff;
    const kpv::Bundle &m_bundle;
};
