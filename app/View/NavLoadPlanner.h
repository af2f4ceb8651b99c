#pragma once

// The decisions of the view-mode controller's load scheduling, as plain functions: which files
// around the current one keep records and fit-in images, which loads a scheduling pass asks for
// and in which order, which larger scale types one decoded image also serves, and how fast
// auto-navigation steps. NavigateController applies them; tests call them directly.

#include "Model/LMImage.h"

#include <QSizeF>

#include <cstdint>
#include <functional>
#include <vector>

namespace NavLoadPlanner {

// Queue priorities of the load operations.
inline constexpr int kHighPriority = 0;
inline constexpr int kLowPriority = -4;

// Image scale types the scheduling names.
inline constexpr int kOriginalType = 1;
inline constexpr int kSmallThumbType = 8;
inline constexpr int kLargeThumbType = 9;
inline constexpr int kSmallFitinType = 10;
inline constexpr int kLargeFitinType = 11;

// Mask that marks a file failed at every scale type when its small thumbnail cannot be made.
inline constexpr int64_t kAllTypesFailedMask = 0xFFFF7F;

// Files kept around the current one: `following` after it and `preceding` before it, wrapping.
struct Window {
    qsizetype following = 0;
    qsizetype preceding = 0;
};

// The window of files that keep records: the files the photo bin can show (`photoBinMaxVisible`).
Window infoWindow(qsizetype count, qsizetype photoBinMaxVisible);
// The window of files that keep their fit-in images: three on each side, fewer in short lists.
Window imageWindow(qsizetype count);

// Whether a pass asks for the thumbnails of `index`: the current file's; those of the files in the
// image window (made from their fit-in images, which the pass decodes anyway); and, while the
// photo bin shows, those of the cells it shows around the current file (it does not wrap) and
// `beyond` more on each side, ready before a step slides them in. `photoBinCells` is the number
// of cells across the bin as it is now.
bool thumbnailsWanted(qsizetype index, qsizetype current, qsizetype count, qsizetype photoBinCells,
                      bool photoBinShown, const Window &image, qsizetype beyond);
// Indices in the window, in interleaved order: c + 1, c - 1, c + 2, c - 2, ... (wrapping).
std::vector<qsizetype> interleavedNeighbours(qsizetype current, qsizetype count, const Window &window);
// Whether `index` lies in the window around `current` (the current index included).
bool isInWindow(qsizetype index, qsizetype current, qsizetype count, const Window &window);

// One load request of a scheduling pass. A request with type 0 is not a load: it marks the place
// where the folder search is started when one is pending.
struct Request {
    qsizetype index = 0;
    int type = 0;
    bool high = false;
    // The current file's fit-in image: what the user waits for. Requests marked `waits` start only
    // once it is on screen, so that nothing competes with the first sharp picture for the
    // processors; the small thumbnail never waits, being the quick first picture (when the file
    // stores one).
    bool firstPicture = false;
    bool waits = false;
    // The next file's fit-in in the travel direction: the picture the user most likely waits for
    // next. Held like the others until the first picture is on screen, it then goes first; the
    // neighbours' loads after it start once it is decoded, so that it is not one of many decodes
    // sharing the processors.
    bool nextPicture = false;
    bool afterNextPicture = false;
    bool isSearchMarker() const { return type == 0; }
};

// The requests of one pass, in order (see NavigateController::submitCacheOperation). The full-size
// image is not among them: the view asks for it, or for the reduction it needs, when it is zoomed
// past what the fit-in image serves, so a photo shown fitted is never decoded whole.
std::vector<Request> requestsForPass(qsizetype current, qsizetype count, int fitinType, bool forward, bool quick,
                                     const Window &info, const Window &image);

// The fit-in type for a view of that size, given the loader's answer for it.
inline int fitinTypeFor(bool isSmallFitin) { return isSmallFitin ? kSmallFitinType : kLargeFitinType; }

// The larger scale types that a successfully decoded image of type `type` (8, 9 or 10) also
// serves, as a mask with bit (type - 1). `preferred` answers the loader's preferred size and
// equivalent type of a scale type; `loadedEquivalentType` is the type the loader said it produced.
using PreferredSizeFn = std::function<QSizeF(int type, int *equivalentType)>;
int64_t servedTypesMask(int type, int loadedEquivalentType, const LMImagePtr &image, bool isGif,
                        const PreferredSizeFn &preferred);

// Interval to the next auto-navigation step after `elapsed` seconds of stepping: about 0.19 s at
// first, falling towards 0.02 s the longer a key is held.
double autoNavInterval(double elapsed);

} // namespace NavLoadPlanner
