#pragma once
// The check of a JPEG 2000 code-stream before the library sees it. The library is run strict, so
// a file cut short or damaged would be refused whole; JPEG 2000 is made to be read when cut short,
// so the check walks the marker segments and tile-parts itself (every length against the bytes
// present) and, where the data stops early, makes a mended copy the strict library accepts: the
// tile-parts that are whole, the cut one ended at its last whole packet, and an end marker.

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <vector>

namespace kpv::imageio_detail {

// One stream to hand to the library, and which tiles it holds data of.
struct Jpeg2000Candidate {
    QByteArray data;
    std::vector<bool> tilePresent;  // by tile index; a missing tile is left as an empty one decodes
    // Where the library does not take the packets kept of a cut tile-part, the stream without that
    // tile-part stands in; it is made only then (a cut file is not held twice more). -1: none.
    qsizetype cutPartAt = -1;
    unsigned cutPartTile = 0;
    bool cutPartAlone = false;  // the cut tile-part is all its tile has
    size_t boxStart = 0, boxHeader = 0;  // the code-stream's box, whose length follows the stream's
};

struct Jpeg2000StreamCheck {
    // Whole: nothing of the picture is missing (candidates[0] is the file, or a copy given the end
    // marker it lacks). Mended: the file's data stops early, is damaged or lacks tiles; the
    // candidates, in the order to try, show what it holds. Refused: nothing of the picture is
    // there, or the file declares far more than its bytes can hold; `error` says why. Unknown:
    // the header is not one the check reads; the library judges the file alone.
    enum class State { Whole, Mended, Refused, Unknown };
    State state = State::Unknown;
    QString error;
    std::vector<Jpeg2000Candidate> candidates;
    // The tile grid on the reference grid, for laying out the missing tiles.
    uint64_t tileX0 = 0, tileY0 = 0, tileWidth = 0, tileHeight = 0, tilesAcross = 0, tilesDown = 0;
};

// The stream that stands in for `candidate` without its cut tile-part.
Jpeg2000Candidate jpeg2000WithoutCutPart(const Jpeg2000Candidate& candidate);

// Checks a JP2 file or a bare code-stream. Costs a walk over the markers, plus a read of the
// packet headers of a tile whose data is cut.
Jpeg2000StreamCheck checkJpeg2000Stream(const QByteArray& file);

}  // namespace kpv::imageio_detail
