/* Palette quantisers: build a palette of at most 256 colours for a 24-bit image and remap the
 * image to 8-bit palette indexes.
 *
 * Two palette builders: a median cut over a 15-bit colour histogram (AMQUANT_MEDIANCUT) and a
 * self-organising neural network of 256 neurons (AMQUANT_NEURAL). Both finish the same way: the
 * palette is sorted by the sum of its three bytes and a 64 KB quick table maps every 16-bit
 * colour key (5-6-5 bits of bytes 0, 1, 2) to its nearest palette entry. AMQuant_Remapfloyd then
 * maps pixels through that table with error diffusion.
 *
 * Pixels are three bytes each (any byte order; palettes come back in the same order). Rows are
 * padded to a multiple of 4 bytes unless a pitch says otherwise: a pitch of 0 or below means
 * ((3 * width + 3) / 4) * 4 bytes per source row and ((width + 3) / 4) * 4 bytes per index row.
 * A palette entry is 4 bytes; bytes 0-2 hold the colour, byte 3 is never written. */
#ifndef KPV_POSTPROCESS_AMQUANT_H
#define KPV_POSTPROCESS_AMQUANT_H

#include "MTypes.h"

#ifdef __cplusplus
extern "C" {
#endif

#define AMQUANT_MEDIANCUT 0
#define AMQUANT_NEURAL 1

#define AMQUANT_MAX_COLORS 256
#define AMQUANT_QKTAB_SIZE 65536   /* entries of the 16-bit quick table */
#define AMQUANT_TAB15_SIZE 32768   /* entries of a 15-bit table (RemapSimple, mediacut_RemapFloyd) */

typedef struct AMQuantRecord* AMQuantHandle;

/* A handle of the given type with a cleared quick table; null when memory runs out. A type
 * other than the two above gives a handle whose AMQuant_GetPalette does nothing. */
AMQuantHandle AMQuant_CreatePalette(MInt64 lType);
/* 0; 2 for a null handle. */
MResult AMQuant_DestroyPalette(AMQuantHandle hQuant);

/* Builds the palette into pPalette and the handle's quick table.
 * The median cut makes at most lColors entries (16..256; asked for fewer than 16 it makes none)
 * and sorts lColors entries: entries its boxes did not fill keep what the buffer held and take
 * part in the sort and the table. The network always makes 256 entries, whatever lColors says,
 * so its buffer must hold 256 entries.
 * 0 (also when memory for the work ran out: the palette is then left partly built);
 * 2 for a null handle, pixels or palette, a width or height below 1, a pitch below 3 * width,
 * more than 256 colours, or an image whose size overflows. */
MResult AMQuant_GetPalette(AMQuantHandle hQuant, const MByte* pPixels, MInt64 lSrcPitch,
                           MInt64 lWidth, MInt64 lHeight, MInt64 lColors, MByte* pPalette);

/* Maps every pixel to a palette index through the handle's quick table, with error diffusion.
 * The source pixels are changed: the diffused error is written into them. pPalette is the
 * palette AMQuant_GetPalette produced with this handle.
 * 0; 2 for a null handle, palette, pixels or index buffer, a width or height below 1, a source
 * pitch below 3 * width, an index pitch below the width, or a size that overflows. */
MResult AMQuant_Remapfloyd(AMQuantHandle hQuant, MByte* pPixels, MInt64 lSrcPitch, MByte* pIndex,
                           MInt64 lIndexPitch, MInt64 lWidth, MInt64 lHeight, const MByte* pPalette);

/* Remappers through a caller-built 15-bit table (AMQUANT_TAB15_SIZE entries; key bits 14-10 =
 * byte 0 >> 3, bits 9-5 = byte 1 >> 3, bits 4-0 = byte 2 >> 3; entry = palette index).
 * RemapSimple writes indexes without dithering. mediacut_RemapFloyd diffuses the error like
 * AMQuant_Remapfloyd (changing the source) and writes the chosen palette colours as 24-bit
 * pixels into pOutput. Pitches as above (0 or below: padded to 4 bytes). Same results. */
MResult RemapSimple(const MByte* pTable, const MByte* pPixels, MInt64 lSrcPitch, MByte* pIndex,
                    MInt64 lIndexPitch, MInt64 lWidth, MInt64 lHeight);
MResult mediacut_RemapFloyd(const MByte* pTable, MByte* pPixels, MInt64 lSrcPitch, MByte* pOutput,
                            MInt64 lOutPitch, MInt64 lWidth, MInt64 lHeight, const MByte* pPalette);

/* A trained network ready for IndexSearch: neurons sorted by their byte 1 value, each
 * {byte 0, byte 1, byte 2, palette index}, and for every byte 1 value v the first neuron to look
 * at (netindex[v]). */
typedef struct AMQuantNetwork {
    MInt32 neuron[256][4];
    MInt32 netindex[256];
} AMQuantNetwork;

/* The palette index of the neuron nearest to the colour (sum of absolute differences, searched
 * outwards from netindex[byte 1]); -1 when the network is null or no neuron lies closer than
 * 1000. */
MInt32 IndexSearch(const AMQuantNetwork* pNetwork, MInt32 b0, MInt32 b1, MInt32 b2);

#ifdef __cplusplus
}
#endif

#endif
