#include "Model/LMExifInfoFormat.h"

#include "foundation/Bundle.h"
#include "imageio/ImageProperties.h"

#include <QLocale>
#include <QTimeZone>

#include <cmath>

using namespace kpv;

namespace {

// A property read as a single-precision number; false when it is missing or not a number.
bool readFloat(const QVariant &v, float *out)
{
    if (!v.isValid())
        return false;
    bool ok = false;
    const float f = v.toFloat(&ok);
    if (!ok || !std::isfinite(f))
        return false;
    *out = f;
    return true;
}

bool readInteger(const QVariant &v, qint64 *out)
{
    if (!v.isValid())
        return false;
    bool ok = false;
    qint64 n = v.toLongLong(&ok);
    if (!ok) {
        // Rationals arrive as doubles: take the whole part, as an integer reading of the text would.
        const double d = v.toDouble(&ok);
        if (!ok || !std::isfinite(d) || std::fabs(d) > 9.0e18)
            return false;
        n = qint64(d);
    }
    *out = n;
    return true;
}

bool isWhole(float x) { return std::floor(x) == x; }

// The value to hundredths, rounded down, with as few decimals as it needs (none, one or two). A
// float lies a little below many two-decimal values (4.2 is 4.1999998): a thousandth of a
// hundredth more keeps F/4.2 from showing as F/4.19.
double hundredthsDown(float v, int *decimals)
{
    const double hundredths = std::floor(double(v) * 100.0 + 1e-3);
    *decimals = std::fmod(hundredths, 100.0) == 0 ? 0 : std::fmod(hundredths, 10.0) == 0 ? 1 : 2;
    return hundredths / 100.0;
}

// A number with the user's decimal separator and no grouping, so that every number of a row
// reads alike: F/2,8 beside 0,5s and -0,3 EV for a German user, never a point among commas.
QString localizedFixed(double x, int decimals)
{
    QLocale locale;
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    return locale.toString(x == 0 ? 0.0 : x, 'f', decimals);
}

bool isTrimmed(QChar c) { return c == u'\t' || c.category() == QChar::Separator_Space; }

QString trimSpaces(const QString &s)
{
    qsizetype begin = 0, end = s.size();
    while (begin < end && isTrimmed(s[begin]))
        ++begin;
    while (end > begin && isTrimmed(s[end - 1]))
        --end;
    return s.mid(begin, end - begin);
}

} // namespace

LMExifInfoFormat::LMExifInfoFormat(const QVariantMap &imageProperties, const kpv::Bundle *bundle)
    : m_imageProperties(imageProperties), m_exif(imageProperties.value(kCGImagePropertyExifDictionary).toMap()),
      m_auxExif(imageProperties.value(kCGImagePropertyExifAuxDictionary).toMap()),
      m_tiff(imageProperties.value(kCGImagePropertyTIFFDictionary).toMap()), m_bundle(bundle ? *bundle : Bundle::mainBundle())
{
}

QString LMExifInfoFormat::word(const kpv::Bundle &bundle, const char *key) { return bundle.localizedString(QString::fromLatin1(key)); }

QString LMExifInfoFormat::word(const char *key) const { return word(m_bundle, key); }

QVariant LMExifInfoFormat::exif(const char *key) const { return m_exif.value(QString::fromLatin1(key)); }

bool LMExifInfoFormat::takenClock(QDate *day, QTime *time) const
{
    // The clock of the camera as it was written, with no time zone to convert from: read into a
    // zone, a moment that the user's zone skips (the hour its clocks spring forward) would not
    // exist, and the photo would lose its date.
    const QString text = exif(kCGImagePropertyExifDateTimeOriginal).toString().trimmed();
    if (text.size() < 19 || text.at(10) != u' ')
        return false;
    *day = QDate::fromString(text.left(10), QStringLiteral("yyyy:MM:dd"));
    *time = QTime::fromString(text.mid(11, 8), QStringLiteral("HH:mm:ss"));
    return day->isValid() && time->isValid();
}

QString LMExifInfoFormat::stringFromTakenTime() const
{
    QDate day;
    QTime time;
    return takenClock(&day, &time) ? mediumDate(day) : QString();
}

QString LMExifInfoFormat::stringFromTakenDateAndTime() const
{
    QDate day;
    QTime time;
    if (!takenClock(&day, &time))
        return {};
    const QLocale locale;
    QString format = locale.timeFormat(QLocale::ShortFormat);
    const qsizetype minutes = format.indexOf(QLatin1String("mm"));
    if (!format.contains(QLatin1String("ss")) && minutes >= 0) {
        // The seconds follow the minutes with the locale's own separator ("10.11.12" in Finnish,
        // not "10.11:12").
        const QChar before = minutes > 0 ? format.at(minutes - 1) : QChar(u':');
        const QChar separator = before.isLetterOrNumber() || before.isSpace() ? QChar(u':') : before;
        format.insert(minutes + 2, separator + QLatin1String("ss"));
    }
    return mediumDate(day) + u' ' + locale.toString(time, format);
}

QString LMExifInfoFormat::stringFromGPSPosition() const
{
    const QVariantMap gps = m_imageProperties.value(kCGImagePropertyGPSDictionary).toMap();
    bool latOk = false, lonOk = false;
    const double lat = gps.value(kCGImagePropertyGPSLatitude).toDouble(&latOk);
    const double lon = gps.value(kCGImagePropertyGPSLongitude).toDouble(&lonOk);
    if (!latOk || !lonOk || !std::isfinite(lat) || !std::isfinite(lon) || lat < 0 || lat > 90 || lon < 0 || lon > 180)
        return {};
    // Degrees, minutes and seconds to a tenth of a second (about 3 m), with the hemisphere the
    // file names. A file that names none (or something else) gets no letter: guessed north and
    // east, a photo from Los Angeles would be placed in China.
    const QString point = QLocale().decimalPoint();
    auto dms = [&point](double degrees, const QString &hemisphere) {
        const qint64 tenths = qRound64(degrees * 36000.0);
        QString text = QStringLiteral("%1\u00B0%2\u2032%3%4%5\u2033")
                           .arg(tenths / 36000)
                           .arg((tenths / 600) % 60)
                           .arg((tenths / 10) % 60)
                           .arg(point)
                           .arg(tenths % 10);
        return hemisphere.isEmpty() ? text : text + u' ' + hemisphere;
    };
    auto hemisphere = [&gps](const char *key, char16_t positive, char16_t negative) {
        const QString ref = gps.value(QString::fromLatin1(key)).toString().trimmed().toUpper();
        return ref.startsWith(QChar(positive)) || ref.startsWith(QChar(negative)) ? ref.left(1) : QString();
    };
    return dms(lat, hemisphere(kCGImagePropertyGPSLatitudeRef, u'N', u'S')) + QStringLiteral(", ") +
           dms(lon, hemisphere(kCGImagePropertyGPSLongitudeRef, u'E', u'W'));
}

namespace {

// A name as it can stand in one line: a tab or line break becomes a blank, and any other control
// character (a terminal's escape, a stray byte of a damaged file) is left out, so that a row
// neither breaks in two nor shows boxes.
QString printable(const QString &text)
{
    QString line;
    line.reserve(text.size());
    for (const QChar c : text) {
        if (c == u'\t' || c == u'\n' || c == u'\r')
            line += u' ';
        else if (c.category() != QChar::Other_Control)
            line += c;
    }
    return line;
}

// Cameras fill a name they do not know with blanks or zero bytes: that is no name.
QString nameOrNothing(const QString &text)
{
    const QString line = printable(text);
    return trimSpaces(line).isEmpty() ? QString() : line;
}

} // namespace

QString LMExifInfoFormat::maker() const { return trimSpaces(nameOrNothing(m_tiff.value(kCGImagePropertyTIFFMake).toString())); }

QString LMExifInfoFormat::model() const { return trimSpaces(nameOrNothing(m_tiff.value(kCGImagePropertyTIFFModel).toString())); }

QString LMExifInfoFormat::lensModel() const { return nameOrNothing(m_auxExif.value(kCGImagePropertyExifAuxLensModel).toString()); }

QString LMExifInfoFormat::stringFromFNumber() const
{
    float v;
    // A lens that tells the camera nothing (a manual or adapted one) leaves an aperture of 0: not
    // known, not F/0.
    if (!readFloat(exif(kCGImagePropertyExifFNumber), &v) || !(v > 0.0f))
        return {};
    int decimals = 0;
    const double x = hundredthsDown(v, &decimals);
    // Nor is an aperture below a hundredth, which only a damaged file holds: it would read F/0.
    if (x <= 0)
        return {};
    return QStringLiteral("F/") + localizedFixed(x, decimals);
}

QString LMExifInfoFormat::stringFromExposureTime() const
{
    float v;
    if (!readFloat(exif(kCGImagePropertyExifExposureTime), &v))
        return {};
    // A time of zero or less has no reciprocal worth showing ("1/inf").
    if (!(v > 0.0f))
        return {};
    const QString unit = word("s");
    if (v > 60.0f)
        return localizedFixed(double(v), 0) + unit;
    const double d = double(v);
    if (d >= 0.28) {
        // Tenths in single precision, so that 1.3 s stored as a float shows as 1.3, not 1.2.
        const float x = std::floor(v * 10.0f) / 10.0f;
        return localizedFixed(double(x), isWhole(x) ? 0 : 1) + unit;
    }
    return QStringLiteral("1/") + localizedFixed(1.0 / d, 0) + unit;
}

QString LMExifInfoFormat::stringFromISOWithISOPrefix(bool isoPrefix) const
{
    // Cameras write one rating, which is read as a single number; a list gives its first.
    const QVariant v = exif(kCGImagePropertyExifISOSpeedRatings);
    const QVariantList list = v.typeId() == QMetaType::QVariantList ? v.toList() : v.isValid() ? QVariantList{v} : QVariantList();
    qint64 iso = 0;
    const bool rated = !list.isEmpty();
    if (rated && !readInteger(list.first(), &iso))
        iso = 0;
    // The rating is a 16-bit number: a camera set above 65535 writes 65535 there and the real
    // sensitivity in one of the newer tags, the one its sensitivity type names.
    // A rating of 0 is one the camera did not know; a newer tag may still hold it.
    if (!rated || iso <= 0 || iso >= 65535) {
        qint64 type = 0;
        readInteger(exif(kCGImagePropertyExifSensitivityType), &type);
        const bool sos = type == 1 || type == 4 || type == 5 || type == 7;
        const bool rei = type == 2 || type == 4 || type == 6 || type == 7;
        const bool speed = type == 3 || type == 5 || type == 6 || type == 7;
        const char *named[] = {speed ? kCGImagePropertyExifISOSpeed : nullptr,
                               rei ? kCGImagePropertyExifRecommendedExposureIndex : nullptr,
                               sos ? kCGImagePropertyExifStandardOutputSensitivity : nullptr,
                               kCGImagePropertyExifISOSpeed, kCGImagePropertyExifRecommendedExposureIndex,
                               kCGImagePropertyExifStandardOutputSensitivity};
        for (const char *key : named) {
            qint64 value = 0;
            if (key && readInteger(exif(key), &value) && value > 0) {
                iso = value;
                break;
            }
        }
        if (iso <= 0)
            return {};
    }
    const QString number = QString::number(iso);
    return isoPrefix ? word("ISO") + number : number;
}

namespace {

// One decimal, rounded toward minus infinity in single precision; no decimal when whole.
QString tenthsDown(float v)
{
    const float x = std::floor(v * 10.0f) / 10.0f;
    return localizedFixed(double(x), isWhole(x) ? 0 : 1);
}

} // namespace

QString LMExifInfoFormat::stringFromExposureBias() const
{
    float v;
    if (!readFloat(exif(kCGImagePropertyExifExposureBiasValue), &v))
        return {};
    return tenthsDown(v) + word("EV");
}

QString LMExifInfoFormat::stringFromFocalLength() const
{
    float v;
    // As the aperture: 0 is a focal length the lens did not tell.
    // A length below a tenth of a millimetre, which only a damaged file holds, would read 0 mm.
    if (!readFloat(exif(kCGImagePropertyExifFocalLength), &v) || !(v >= 0.1f))
        return {};
    return tenthsDown(v) + word("IDS_PROPERTIES_MM");
}

QString LMExifInfoFormat::stringFromBrightness() const
{
    float v;
    if (!readFloat(exif(kCGImagePropertyExifBrightnessValue), &v))
        return {};
    int decimals = 0;
    const double x = hundredthsDown(v, &decimals);
    return localizedFixed(x, decimals);
}

QString LMExifInfoFormat::stringFromFlash() const
{
    qint64 v;
    if (!readInteger(exif(kCGImagePropertyExifFlash), &v))
        return {};
    return word((v & 1) ? "IDS_PROPERTIES_ON" : "IDS_PROPERTIES_OFF");
}

QString LMExifInfoFormat::stringFromMeteringMode() const
{
    qint64 v;
    if (!readInteger(exif(kCGImagePropertyExifMeteringMode), &v))
        return {};
    switch (v) {
    case 1: return word("IDS_PROPERTIES_AVERAGE");
    case 2: return word("IDS_PROPERTIES_CENTER");
    case 3: return word("IDS_PROPERTIES_SPOT");
    case 4: return word("IDS_PROPERTIES_MULTISPOT");
    case 5: return word("IDS_PROPERTIES_PATTERN");
    case 6: return word("IDS_PROPERTIES_PARTIAL");
    default: return word("IDS_PROPERTIES_OTHER");
    }
}

QString LMExifInfoFormat::stringFromExposureProgram() const
{
    qint64 v;
    if (!readInteger(exif(kCGImagePropertyExifExposureProgram), &v))
        return {};
    switch (v) {
    case 1: return word("IDS_PROPERTIES_MANUAL");
    case 3: return word("IDS_PROPERTIES_APERTUARE");
    case 4: return word("IDS_PROPERTIES_SHUTTER");
    case 5: return word("IDS_PROPERTIES_MINI");
    case 6: return word("IDS_PROPERTIES_ACTION");
    case 7: return word("IDS_PROPERTIES_PORTRAIT");
    case 8: return word("IDS_PROPERTIES_LANDSCAPE");
    default: return word("IDS_PROPERTIES_NORMAL");
    }
}

QString LMExifInfoFormat::stringFromWhiteBalance() const
{
    qint64 v;
    if (!readInteger(exif(kCGImagePropertyExifWhiteBalance), &v))
        return {};
    return word(v == 0 ? "IDS_PROPERTIES_AUTO" : "IDS_PROPERTIES_MANUAL");
}

QString LMExifInfoFormat::stringFromContrast() const
{
    qint64 v;
    if (!readInteger(exif(kCGImagePropertyExifContrast), &v))
        return {};
    return word(v == 1 ? "IDS_PROPERTIES_SOFT" : v == 2 ? "IDS_PROPERTIES_HARD" : "IDS_PROPERTIES_NORMAL");
}

QString LMExifInfoFormat::stringFromSaturation() const
{
    qint64 v;
    if (!readInteger(exif(kCGImagePropertyExifSaturation), &v))
        return {};
    return word(v == 1 ? "IDS_PROPERTIES_LOWSATURATION" : v == 2 ? "IDS_PROPERTIES_HIGHSTATURATION" : "IDS_PROPERTIES_NORMAL");
}

QString LMExifInfoFormat::stringFromFileSize(uint64_t bytes, const kpv::Bundle *bundle)
{
    const Bundle &b = bundle ? *bundle : Bundle::mainBundle();
    const QString sep = QStringLiteral(" ");
    if (bytes < 1000)
        return QString::number(bytes) + sep + word(b, "IDS_UNIT_B");
    const double k = double(bytes) / 1000.0;
    if (k < 1000)
        return localizedFixed(std::round(k), 0) + sep + word(b, "IDS_UNIT_KB");
    const double m = k / 1000.0;
    if (m < 1000) {
        const double tenths = std::round(m * 10.0);
        const bool hasTenth = std::fmod(tenths, 10.0) != 0;
        return localizedFixed(tenths / 10.0, hasTenth ? 1 : 0) + sep + word(b, "IDS_UNIT_MB");
    }
    // No larger unit: terabytes show as thousands of gigabytes.
    const double hundredths = std::round(m / 1000.0 * 100.0);
    const int decimals = std::fmod(hundredths, 10.0) != 0 ? 2 : (std::fmod(hundredths, 100.0) != 0 ? 1 : 0);
    return localizedFixed(hundredths / 100.0, decimals) + sep + word(b, "IDS_UNIT_GB");
}

QString LMExifInfoFormat::stringFromDate(const QDateTime &date, bool localDateFlag)
{
    if (!date.isValid())
        return {};
    return mediumDate(localDateFlag ? date.toLocalTime().date() : date.toUTC().date());
}

QString LMExifInfoFormat::mediumDate(const QDate &day)
{
    // Medium style: the locale's short date with the full year.
    const QLocale locale;
    QString format = locale.dateFormat(QLocale::ShortFormat);
    if (!format.contains(QLatin1String("yyyy")))
        format.replace(QLatin1String("yy"), QLatin1String("yyyy"));
    return locale.toString(day, format);
}
