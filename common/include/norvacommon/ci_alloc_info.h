#ifndef NORVA_CI_ALLOC_INFO_H
#define NORVA_CI_ALLOC_INFO_H

/* Buffer strides and heights of the pixel formats, with and without tiling. Log tag "DPF_OUT". */

#include "norvacommon/pixel_transform.h"

typedef struct CI_TILINGINFO {
    QOR_UINT32 ui32TilingStride; /* bytes per tile row */
    QOR_UINT32 ui32TilingHeight; /* rows per tile */
    QOR_UINT32 ui32MinTileStride;
    QOR_UINT32 ui32MaxTileStride;
} CI_TILINGINFO;

typedef struct CI_SIZEINFO {
    pxlFormat eFmt;
    QOR_UINT32 ui32Stride;       /* bytes per luma or single-plane row */
    QOR_UINT32 ui32Height;       /* rows */
    QOR_UINT32 ui32TilingStride; /* 0 when not tiled */
    QOR_UINT32 ui32CStride;      /* chroma plane of semi-planar YUV, else 0 */
    QOR_UINT32 ui32CHeight;
} CI_SIZEINFO;

#ifdef __cplusplus
static_assert(sizeof(CI_TILINGINFO) == 16, "CI_TILINGINFO is four 32-bit words");
static_assert(sizeof(CI_SIZEINFO) == 24, "CI_SIZEINFO is six 32-bit words");
#endif

#ifdef __cplusplus
extern "C" {
#endif

QOR_UINT32 CI_ALLOC_GetSysmemAlignment(void);
QOR_UINT32 CI_ALLOC_GetMinTilingStride(void);
QOR_UINT32 CI_ALLOC_GetMaxTilingStride(void);
QOR_RESULT CI_ALLOC_GetTileInfo(QOR_UINT32 ui32TiledScheme, CI_TILINGINFO *pResult);

QOR_RESULT CI_ALLOC_YUVSizeInfo(const PIXELTYPE *pType, QOR_UINT32 ui32Width, QOR_UINT32 ui32Height,
                                const CI_TILINGINFO *pTileInfo, CI_SIZEINFO *pResult);
QOR_RESULT CI_ALLOC_RGBSizeInfo(const PIXELTYPE *pType, QOR_UINT32 ui32Width, QOR_UINT32 ui32Height,
                                const CI_TILINGINFO *pTileInfo, CI_SIZEINFO *pResult);
QOR_RESULT CI_ALLOC_Raw2DSizeInfo(const PIXELTYPE *pType, QOR_UINT32 ui32Width, QOR_UINT32 ui32Height,
                                  const CI_TILINGINFO *pTileInfo, CI_SIZEINFO *pResult);

#ifdef __cplusplus
}
#endif

#endif /* NORVA_CI_ALLOC_INFO_H */
