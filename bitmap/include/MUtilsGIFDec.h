/* Display GIF decoder: plays an animated GIF into a 24- or 16-bit bitmap the caller shows, one
 * frame a call, with its own nearest-neighbour reduction, honouring frame positions,
 * transparency, disposal methods, delays and the loop count. It drives the GIF decoder component
 * directly, so that component must be registered on the component manager.
 *
 * Choices of this decoder:
 *  - The caller's bitmap as it is at the first MUtilsGIFDec_GetFrameData is the background: a
 *    frame disposed of to the background gets that background back in its area.
 *  - A frame that no display pixel samples (possible when reducing) is shown as drawing nothing,
 *    so the animation never stalls on it. */
#ifndef KPV_BITMAP_MUTILSGIFDEC_H
#define KPV_BITMAP_MUTILSGIFDEC_H

#include "AMCM.h"
#include "MStream.h"
#include "MTypes.h"
#include "MdBitmap.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct GIFDecRecord* GIFDecHandle;

MResult MUtilsGIFDec_Create(AMCMHandle hAMCM, MSTREAM stream, GIFDecHandle* phDec);
/* Back to the first frame with a fresh GIF component; the display set-up stays. */
MResult MUtilsGIFDec_ReSet(GIFDecHandle hDec);
/* Screen size (two values), loop count (-1 for ever, 0 once, n: n + 1 times), frame count. */
MResult MUtilsGIFDec_GetGlobalInfo(GIFDecHandle hDec, MInt64* pScreenSize, MInt64* plLoop, MInt64* plFrameCount);
/* Renders the next frame into the bitmap (one plane: 0x16001777, 0x16000777, 0x15000454 or
 * 0x15001454). 0 a frame was rendered; 1 none (the end, or the call that starts a loop over);
 * 2 null argument or a bitmap of another size than at the first call; 3 unsupported format,
 * palette or size; 4 no memory. */
MResult MUtilsGIFDec_GetFrameData(GIFDecHandle hDec, MBITMAP* pBitmap);
/* Delay of the last frame rendered, in milliseconds. */
MResult MUtilsGIFDec_GetDelayTime(GIFDecHandle hDec, MInt64* plMilliseconds);
MResult MUtilsGIFDec_Destroy(GIFDecHandle hDec);
/* Fits width x height into the box keeping the aspect ratio, never enlarging; scale in 1/1024
 * steps, given back as a factor when pScale is not null. */
MVoid MUtilsCalcGIFFitinSize(MInt64 lBoxWidth, MInt64 lBoxHeight, MInt64* plWidth, MInt64* plHeight, double* pScale);

#ifdef __cplusplus
}
#endif

#endif
