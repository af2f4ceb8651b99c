#pragma once

// Copies a photo, byte for byte, to a new file: the source is opened without blocking and must be
// a regular file (a pipe or device named like a photo would otherwise hang the copy for good), and
// the copy never replaces anything standing at the target, also when it appears while the bytes
// are written. A failed copy leaves no partial file, and says why.

#include <QString>

class LMFileCopy {
public:
    // Larger sources are refused: the copy is made in memory before it is written.
    static constexpr qint64 kMaxBytes = qint64(1) << 31;

    // True when the copy is complete at `target`. Otherwise *error (when given) says why, and
    // *nameTaken (when given) tells whether `target` was taken, so the caller may try another name.
    static bool copyToNewFile(const QString &source, const QString &target, QString *error = nullptr,
                              bool *nameTaken = nullptr);
};
