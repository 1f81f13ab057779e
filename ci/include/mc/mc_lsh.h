#ifndef MC_LSH_H
#define MC_LSH_H

/*
 * Packing of a lens-shading grid into the hardware's matrix: per grid row and Bayer channel one line holding
 * the row's first vertex (U3.10, 16 bits) and the differences between neighbouring vertices as b-bit two's
 * complement values, least significant bit first. Lines are padded to 16 bytes, strides to 64; the buffer holds
 * H x stride x 4 bytes. Log tag "MC_CONVERT".
 */

#include "ci/ci_api_structs.h"
#include "ci/ci_pipeline.h"
#include "norvacommon/lshgrid.h"
#include "qor_errors.h"
#include "qor_types.h"

/** Bits per difference the hardware supports. */
#define MC_LSH_MIN_BITS 4
#define MC_LSH_MAX_BITS 10

#ifdef __cplusplus
extern "C" {
#endif

/**
 * The matrix buffer size H x S x 4 for b bits per difference; writes the line size and the stride through the
 * pointers that are not null. 0 for a null grid or a size that does not fit 32 bits.
 */
QOR_UINT32 MC_LSHGetSizes(const LSH_GRID *pLSH, QOR_UINT8 ui8BitsPerDiff, QOR_UINT32 *pLineSize, QOR_UINT32 *pStride);

/**
 * Whether the matrix of the grid at b bits fits the device's lens-shading memory (ui32LSHRamSizeBits):
 * 0 when it does, QOR_RES_TOO_BIG when not, QOR_RES_INVALID_PARAM for null arguments.
 */
QOR_RESULT MC_LSHCheckRamSize(const LSH_GRID *pLSH, QOR_UINT8 ui8BitsPerDiff, const CI_HWINFO *pHWInfo);

/** The smallest bits per difference the grid needs (at least 4); 0 on error. Largest magnitude via pMaxDiff. */
QOR_UINT8 MC_LSHComputeMinBitdiff(const LSH_GRID *pLSH, int *pMaxDiff);

/** Fills the matrix buffer and, when every difference fits, its register configuration. */
QOR_RESULT MC_LSHConvertGrid(const LSH_GRID *pLSH, QOR_UINT8 ui8BitsPerDiff, CI_LSHMAT *pMatrix);

/** Repairs a grid in place so that it can be packed: negative values become 0, steps beyond -512..255 shrink. */
QOR_RESULT MC_LSHPreCheckTest(LSH_GRID *pLSH, QOR_UINT8 ui8BitsPerDiff);

#ifdef __cplusplus
}
#endif

#endif /* MC_LSH_H */
