#pragma once
// The picture the photo bin shows for one file: the image (null for a file whose small thumbnail
// failed), its rotation, and whether it was made from a larger decoded image.

#include <QImage>
#include <cstdint>
#include <memory>

class PhotoBinItemData {
public:
    PhotoBinItemData(const QImage& image, std::int64_t imageAngle, bool formalImage = false)
        : m_image(image), m_imageAngle(imageAngle), m_formalImage(formalImage)
    {
    }
    const QImage& image() const { return m_image; }
    std::int64_t imageAngle() const { return m_imageAngle; }
    bool formalImage() const { return m_formalImage; }

private:
    QImage m_image;
    std::int64_t m_imageAngle;
    bool m_formalImage;
};

using PhotoBinItemDataPtr = std::shared_ptr<const PhotoBinItemData>;
