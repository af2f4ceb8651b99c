#pragma once

// The view mode's file-information line, without widgets: the current file's name and the file
// properties the user chose in the options, joined by " | ", with the frames of the two text fields
// that show them centred between two margins. The window's widgets copy `txtFileName()` and
// `txtExifInfo()` into their text fields after every change.
//
// Frames use the window's coordinates; only x and width are laid out here, y and height stay as the
// caller set them. Text widths come from the caller (the fields' font), so the layout is testable.

#include "Model/LMFileImgBaseInfo.h"

#include <QDateTime>
#include <QRectF>
#include <QString>

#include <cstdint>
#include <functional>

namespace kpv {
class Bundle;
}

// The file-property mask (settings "filePropertyMaskNumber"). The items appear as the line reads:
// name, dimensions, date, size, maker, model, lens, then the exposure values in bit order; the lens
// bit came last, so bit order is not display order.
namespace NavFileProperty {
inline constexpr uint64_t kFileName = 0x1;
inline constexpr uint64_t kDimensions = 0x2;
inline constexpr uint64_t kDate = 0x4;
inline constexpr uint64_t kFileSize = 0x8;
inline constexpr uint64_t kMaker = 0x10;
inline constexpr uint64_t kModel = 0x20;
inline constexpr uint64_t kFNumber = 0x40;
inline constexpr uint64_t kExposureTime = 0x80;
inline constexpr uint64_t kISO = 0x100;
inline constexpr uint64_t kExposureBias = 0x200;
inline constexpr uint64_t kFocalLength = 0x400;
inline constexpr uint64_t kFlash = 0x800;
inline constexpr uint64_t kMeteringMode = 0x1000;
inline constexpr uint64_t kExposureProgram = 0x2000;
inline constexpr uint64_t kWhiteBalance = 0x4000;
inline constexpr uint64_t kBrightness = 0x8000;
inline constexpr uint64_t kContrast = 0x10000;
inline constexpr uint64_t kSaturation = 0x20000;
inline constexpr uint64_t kLens = 0x40000;
} // namespace NavFileProperty

class NavFileInfoView {
public:
    struct TextField {
        QString stringValue;
        QRectF frame;
    };

    // Width in points of a text in the fields' font.
    using TextWidth = std::function<double(const QString &)>;

    static constexpr double kMinNameWidth = 100;
    // Room added to each measured text so that it is not cut by the field's own insets.
    static constexpr double kTextPadding = 5;

    // `bundle` supplies the localised words (the main bundle when null) and must outlive this object.
    explicit NavFileInfoView(TextWidth textWidth, const kpv::Bundle *bundle = nullptr);

    QRectF bounds() const { return m_bounds; }
    // A new size of the line (the window was resized): lays the fields out again.
    void setBounds(const QRectF &bounds);

    double marginLeft() const { return m_marginLeft; }
    double marginRight() const { return m_marginRight; }
    void setMarginLeft(double marginLeft, double marginRight);

    // Shows the file's name (when the mask has kFileName) and its chosen properties; nullptr or a
    // mask of 0 clears the line.
    void setFileImgBaseInfo(const LMFileImgBaseInfoPtr &info, uint64_t mask);

    // The chosen properties of the file joined by " | "; empty for nullptr or a mask of 0. Items
    // without a value are left out.
    QString formatExifString(const LMFileImgBaseInfoPtr &info, uint64_t options) const;

    // Splits the width between the two fields and centres them: the name keeps at least 100 points
    // and the properties give way first.
    void updateFrame();

    const TextField &txtFileName() const { return m_txtFileName; }
    const TextField &txtExifInfo() const { return m_txtExifInfo; }
    // The fields' y and height are the window's business; x and width are replaced by updateFrame.
    void setFieldFrames(const QRectF &nameFrame, const QRectF &exifFrame);

    // The date item's fallback when the photo has no date taken: when the file was created. Tests
    // replace it; the default asks the file system (an invalid date when it does not know).
    using CreationDate = std::function<QDateTime(const LMPathString &)>;
    void setCreationDateSource(CreationDate source) { m_creationDate = std::move(source); }

    // The smallest rectangle with whole coordinates that contains `rect`. An empty width or height
    // stays empty at the floored origin.
    static QRectF integralRect(const QRectF &rect);

private:
    QString itemText(const LMFileImgBaseInfo &info, uint64_t bit) const;

    TextWidth m_textWidth;
    const kpv::Bundle &m_bundle;
    CreationDate m_creationDate;
    QRectF m_bounds;
    double m_marginLeft = 0;
    double m_marginRight = 0;
    TextField m_txtFileName;
    TextField m_txtExifInfo;
};
