#include "norvacommon/ci_alloc_info.h"

#include "norvacommon/userlog.h"

namespace {

constexpr const char *kTag = "DPF_OUT";
constexpr QOR_UINT32 kSysmemAlignment = 64;
constexpr QOR_UINT32 kMinTilingStride = 512;
constexpr QOR_UINT32 kMaxTilingStride = 16384;

/** Bytes of a row of `width` pixels: whole packed groups. 0 for a layout without groups (PXL_NONE). */
QOR_UINT64 rawRowSize(const PIXELTYPE &type, QOR_UINT64 width) {
    if (type.ui8PackedElements == 0)
        return 0;
    return (width + type.ui8PackedElements - 1) / type.ui8PackedElements * type.ui8PackedStride;
}

QOR_UINT64 roundUp(QOR_UINT64 value, QOR_UINT64 multiple) {
    if (multiple == 0)
        return value;
    return (value + multiple - 1) / multiple * multiple;
}

/** Smallest power of two not below the row size (1 for 0), raised to the tiling minimum. */
QOR_UINT64 tiledStride(QOR_UINT64 rowSize, const CI_TILINGINFO &tile) {
    QOR_UINT64 stride = 1;
    while (stride < rowSize)
        stride <<= 1;
    return stride < tile.ui32MinTileStride ? tile.ui32MinTileStride : stride;
}

bool isPacked444(const PIXELTYPE &type) {
    return type.ui8PackedStride > 2 && type.ui8HSubsampling == 1 && type.ui8VSubsampling == 1;
}

/** Starts a result: every field zeroed so that an early return leaves nothing undefined. */
void start(CI_SIZEINFO *pResult, const PIXELTYPE *pType, QOR_UINT64 rowSize, QOR_UINT32 height) {
    *pResult = CI_SIZEINFO{};
    pResult->eFmt = pType->eFmt;
    pResult->ui32Stride = static_cast<QOR_UINT32>(rowSize);
    pResult->ui32Height = height;
}

} // namespace

extern "C" {

QOR_UINT32 CI_ALLOC_GetSysmemAlignment(void) { return kSysmemAlignment; }
QOR_UINT32 CI_ALLOC_GetMinTilingStride(void) { return kMinTilingStride; }
QOR_UINT32 CI_ALLOC_GetMaxTilingStride(void) { return kMaxTilingStride; }

QOR_RESULT CI_ALLOC_GetTileInfo(QOR_UINT32 ui32TiledScheme, CI_TILINGINFO *pResult) {
    if (pResult == nullptr)
        return QOR_RES_INVALID_PARAM;
    pResult->ui32TilingStride = ui32TiledScheme;
    pResult->ui32MinTileStride = kMinTilingStride;
    pResult->ui32MaxTileStride = kMaxTilingStride;
    switch (ui32TiledScheme) {
    case 256:
        pResult->ui32TilingHeight = 16;
        return QOR_RES_OK;
    case 512:
        pResult->ui32TilingHeight = 8;
        pResult->ui32MinTileStride = 1024;
        pResult->ui32MaxTileStride = 32768;
        return QOR_RES_OK;
    default:
        return QOR_RES_NOT_SUPPORTED;
    }
}

QOR_RESULT CI_ALLOC_YUVSizeInfo(const PIXELTYPE *pType, QOR_UINT32 ui32Width, QOR_UINT32 ui32Height,
                                const CI_TILINGINFO *pTileInfo, CI_SIZEINFO *pResult) {
    if (pType == nullptr || pResult == nullptr)
        return QOR_RES_INVALID_PARAM;
    const QOR_UINT64 raw = rawRowSize(*pType, ui32Width);
    start(pResult, pType, raw, ui32Height);
    if (raw == 0)
        return QOR_RES_OK;

    pResult->ui32Stride = static_cast<QOR_UINT32>(roundUp(raw, kSysmemAlignment));
    const bool packed = isPacked444(*pType);
    if (!packed && pType->ui8HSubsampling != 0 && pType->ui8VSubsampling != 0) {
        // The chroma row holds the two interleaved components of width / H samples each.
        const QOR_UINT64 chromaSamples = static_cast<QOR_UINT64>(ui32Width) * 2 / pType->ui8HSubsampling;
        pResult->ui32CStride = static_cast<QOR_UINT32>(roundUp(rawRowSize(*pType, chromaSamples), kSysmemAlignment));
        pResult->ui32CHeight = ui32Height / pType->ui8VSubsampling;
    }
    if (pTileInfo == nullptr)
        return QOR_RES_OK;

    const QOR_UINT64 larger = pResult->ui32Stride > pResult->ui32CStride ? pResult->ui32Stride : pResult->ui32CStride;
    const QOR_UINT64 tiled = tiledStride(larger, *pTileInfo);
    if (tiled > pTileInfo->ui32MaxTileStride) {
        QOR_LOG_ERROR(kTag, "Trying to use tiling stride of %d (encoder) - maximum supported %d\n",
                      static_cast<int>(tiled), static_cast<int>(pTileInfo->ui32MaxTileStride));
        return QOR_RES_NOT_SUPPORTED;
    }
    pResult->ui32Stride = static_cast<QOR_UINT32>(tiled);
    pResult->ui32Height = static_cast<QOR_UINT32>(roundUp(pResult->ui32Height, pTileInfo->ui32TilingHeight));
    pResult->ui32TilingStride = pTileInfo->ui32TilingStride;
    if (!packed) {
        pResult->ui32CHeight = static_cast<QOR_UINT32>(roundUp(pResult->ui32CHeight, pTileInfo->ui32TilingHeight));
        pResult->ui32CStride = static_cast<QOR_UINT32>(tiled);
    }
    return QOR_RES_OK;
}

QOR_RESULT CI_ALLOC_RGBSizeInfo(const PIXELTYPE *pType, QOR_UINT32 ui32Width, QOR_UINT32 ui32Height,
                                const CI_TILINGINFO *pTileInfo, CI_SIZEINFO *pResult) {
    if (pType == nullptr || pResult == nullptr)
        return QOR_RES_INVALID_PARAM;
    if (pTileInfo != nullptr && pType->eFmt == BGR_161616_64) {
        QOR_LOG_ERROR(kTag, "Cannot insert tiled HDF buffer!\n");
        return QOR_RES_NOT_SUPPORTED;
    }
    const QOR_UINT64 raw = rawRowSize(*pType, ui32Width);
    start(pResult, pType, raw, ui32Height);
    if (raw == 0)
        return QOR_RES_OK;

    pResult->ui32Stride = static_cast<QOR_UINT32>(roundUp(raw, kSysmemAlignment));
    if (pTileInfo == nullptr)
        return QOR_RES_OK;

    const QOR_UINT64 tiled = tiledStride(pResult->ui32Stride, *pTileInfo);
    if (tiled > pTileInfo->ui32MaxTileStride) {
        QOR_LOG_ERROR(kTag, "Trying to use tiling stride of %d (display) - maximum supported %d\n",
                      static_cast<int>(tiled), static_cast<int>(pTileInfo->ui32MaxTileStride));
        return QOR_RES_NOT_SUPPORTED;
    }
    pResult->ui32Stride = static_cast<QOR_UINT32>(tiled);
    pResult->ui32Height = static_cast<QOR_UINT32>(roundUp(pResult->ui32Height, pTileInfo->ui32TilingHeight));
    pResult->ui32TilingStride = pTileInfo->ui32TilingStride;
    return QOR_RES_OK;
}

QOR_RESULT CI_ALLOC_Raw2DSizeInfo(const PIXELTYPE *pType, QOR_UINT32 ui32Width, QOR_UINT32 ui32Height,
                                  const CI_TILINGINFO *pTileInfo, CI_SIZEINFO *pResult) {
    if (pType == nullptr || pResult == nullptr)
        return QOR_RES_INVALID_PARAM;
    if (pTileInfo != nullptr) {
        QOR_LOG_ERROR(kTag, "Cannot configure tiled RAW2D format in current HW\n");
        return QOR_RES_NOT_SUPPORTED;
    }
    start(pResult, pType, rawRowSize(*pType, ui32Width), ui32Height);
    return QOR_RES_OK;
}

} // extern "C"
