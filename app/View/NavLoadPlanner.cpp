#include "View/NavLoadPlanner.h"

#include <algorithm>
#include <cmath>

namespace NavLoadPlanner {

namespace {

Window splitAround(qsizetype others)
{
    others = std::max<qsizetype>(others, 0);
    Window w;
    w.preceding = others / 2;
    w.following = others - w.preceding;
    return w;
}

qsizetype wrapIndex(qsizetype index, qsizetype count)
{
    index %= count;
    return index < 0 ? index + count : index;
}

} // namespace

Window infoWindow(qsizetype count, qsizetype photoBinMaxVisible)
{
    if (count <= 0)
        return {};
    return splitAround(std::min(std::max<qsizetype>(photoBinMaxVisible, 1), count) - 1);
}

Window imageWindow(qsizetype count)
{
    if (count <= 0)
        return {};
    return splitAround(count < 8 ? count - 1 : 6);
}

std::vector<qsizetype> interleavedNeighbours(qsizetype current, qsizetype count, const Window &window)
{
    std::vector<qsizetype> out;
    if (count <= 0)
        return out;
    for (qsizetype i = 1; i <= window.following; ++i) {
        out.push_back(wrapIndex(current + i, count));
        if (i <= window.preceding)
            out.push_back(wrapIndex(current - i, count));
    }
    // A window with more files before than after (never made by infoWindow or imageWindow) still
    // lists every one of them.
    for (qsizetype i = window.following + 1; i <= window.preceding; ++i)
        out.push_back(wrapIndex(current - i, count));
    return out;
}

bool thumbnailsWanted(qsizetype index, qsizetype current, qsizetype count, qsizetype photoBinCells,
                      bool photoBinShown, const Window &image, qsizetype beyond)
{
    if (isInWindow(index, current, count, image))
        return true;
    // The bin centres the current file's cell; the others it shows whole lie half on each side
    // (of an even count, the last one is cut by the strip's end).
    const qsizetype reach = (std::max<qsizetype>(photoBinCells, 1) - 1) / 2 + std::max<qsizetype>(beyond, 0);
    return photoBinShown && index >= 0 && index < count && std::abs(index - current) <= reach;
}

bool isInWindow(qsizetype index, qsizetype current, qsizetype count, const Window &window)
{
    if (count <= 0 || index < 0 || index >= count)
        return false;
    if (index == current)
        return true;
    const qsizetype after = wrapIndex(index - current, count);
    const qsizetype before = wrapIndex(current - index, count);
    return after <= window.following || before <= window.preceding;
}

std::vector<Request> requestsForPass(qsizetype current, qsizetype count, int fitinType, bool forward, bool quick,
                                     const Window &info, const Window &image)
{
    std::vector<Request> out;
    if (count <= 0 || current < 0 || current >= count)
        return out;
    const bool waits = !quick;
    out.push_back({current, kSmallThumbType, true});
    if (!quick)
        out.push_back({current, fitinType, true, true});
    out.push_back({current, 0, false}); // the folder search starts here when one is pending
    out.push_back({current, kLargeThumbType, true, false, waits});
    if (quick)
        return out;
    const bool hasNext = count >= 2;
    if (hasNext)
        out.push_back({forward ? (current + 1) % count : (current + count - 1) % count, fitinType, false, false, waits, true});
    const auto infoList = interleavedNeighbours(current, count, info);
    for (qsizetype i : infoList)
        out.push_back({i, kSmallThumbType, false, false, waits, false, hasNext});
    for (qsizetype i : infoList)
        out.push_back({i, kLargeThumbType, false, false, waits, false, hasNext});
    for (qsizetype i : interleavedNeighbours(current, count, image))
        out.push_back({i, fitinType, false, false, waits, false, hasNext});
    return out;
}

int64_t servedTypesMask(int type, int loadedEquivalentType, const LMImagePtr &image, bool isGif,
                        const PreferredSizeFn &preferred)
{
    int64_t mask = 0;
    if (!image || !preferred || (type != 8 && type != 9 && type != 10))
        return 0;
    for (int u = type + 1; u <= kLargeFitinType; ++u) {
        // A GIF's small thumbnail is a still picture: it may stand for the large thumbnail, never
        // for the animated fit-in images; its large thumbnail stands for nothing else.
        if (isGif && ((type == 8 && u != 9) || type == 9))
            continue;
        int equivalent = 0;
        const QSizeF size = preferred(u, &equivalent);
        const bool served = (equivalent != 0 && equivalent == loadedEquivalentType)
            || (size.width() == double(image->width()) && size.height() == double(image->height()));
        if (served)
            mask |= int64_t(1) << (u - 1);
    }
    return mask;
}

double autoNavInterval(double elapsed)
{
    const double f = (elapsed + 1.7) / 5.0;
    return (1.0 / (f * f) + 1.0) * 0.02;
}

} // namespace NavLoadPlanner
