/* The codec runtime in one include: types and result codes, memory, streams, the component
 * manager, the string and small utilities, and the virtual memory manager. */
#ifndef KPV_CODEC_MRUNTIME_H
#define KPV_CODEC_MRUNTIME_H

#include "ADK.h"
#include "AMCM.h"
#include "MMemory.h"
#include "MStream.h"
#include "MTypes.h"
#include "MVmm.h"

#endif
