#include "imageio/ToolkitReadLimit.h"

#include "imageio/ImageLimits.h"

#include <QImageReader>

#include <shared_mutex>

namespace kpv {
namespace {

std::shared_mutex& turns()
{
    static std::shared_mutex mutex;
    return mutex;
}

// The cap in force whenever no read of a smaller one runs, set before the first read.
void setWholeFrameLimit()
{
    QImageReader::setAllocationLimit(ToolkitReadLimit::wholeFrameMegabytes());
}

}  // namespace

int ToolkitReadLimit::wholeFrameMegabytes()
{
    // No decode may hold more than this, whatever the frame's size.
    return int(ImageLimits::kMaxDecodedBytes >> 20);
}

ToolkitReadLimit::ToolkitReadLimit(int megabytes)
{
    static const bool set = (setWholeFrameLimit(), true);
    (void)set;
    // Zero would mean no cap at all.
    megabytes = megabytes < 1 ? 1 : megabytes;
    m_alone = megabytes != wholeFrameMegabytes();
    if (m_alone) {
        turns().lock();
        QImageReader::setAllocationLimit(megabytes);
    } else {
        turns().lock_shared();
    }
}

ToolkitReadLimit::~ToolkitReadLimit()
{
    if (m_alone) {
        setWholeFrameLimit();
        turns().unlock();
    } else {
        turns().unlock_shared();
    }
}

}  // namespace kpv
