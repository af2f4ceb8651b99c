#pragma once

// The hand-off of pictures to a photo-library application. The desktop has no such application
// to hand them to, so its location is empty: every check for it answers no, and the share type
// of the photo library stays disabled. Callers test existence of this path, so a platform that
// gains the hand-off needs to change only this place.

#include <QString>

namespace LMPhotoLibrary {
inline QString applicationPath() { return QString(); }
}  // namespace LMPhotoLibrary
