#ifndef CI_INTERIM_DEPS_H
#define CI_INTERIM_DEPS_H
/*
 * Stand-ins for the pixel-format vocabulary and the driver's hardware description until the
 * connection layer and the pixel-format headers are available on this branch. Same names and
 * layouts as those records; removed once the real headers are included.
 */
#include "qor_types.h"

typedef enum pxlFormat {
    PXL_NONE = 0, YVU_420_PL12_8, YUV_420_PL12_8, YVU_422_PL12_8, YUV_422_PL12_8,
    YVU_420_PL12_10, YUV_420_PL12_10, YVU_422_PL12_10, YUV_422_PL12_10,
    RGB_888_24, RGB_888_32, RGB_101010_32, BGR_888_24, BGR_888_32, BGR_101010_32, BGR_161616_64,
    BAYER_RGGB_8, BAYER_RGGB_10, BAYER_RGGB_12, BAYER_TIFF_10, BAYER_TIFF_12,
    PXL_ISP_444IL3YCrCb8, PXL_ISP_444IL3YCbCr8, PXL_ISP_444IL3YCrCb10, PXL_ISP_444IL3YCbCr10,
    PXL_N, PXL_INVALID
} pxlFormat;

typedef enum MOSAICType { MOSAIC_NONE = 0, MOSAIC_RGGB, MOSAIC_GRBG, MOSAIC_GBRG, MOSAIC_BGGR } MOSAICType;
typedef enum HDR_MODES { HDR_NONE = 0, HDR_STAGGERED, HDR_ALTERNATE_ROW, HDR_PIXEL_BASED } HDR_MODES;
typedef enum FORMAT_TYPES { TYPE_NONE = 0, TYPE_RGB, TYPE_YUV, TYPE_BAYER } FORMAT_TYPES;
typedef enum PACKEDSTART { PACKED_LSB = 0, PACKED_MSB = 1 } PACKEDSTART;

typedef struct PIXELTYPE {
    pxlFormat eFmt;
    FORMAT_TYPES eBuffer;
    MOSAICType eMosaic;
    QOR_UINT8 ui8HSubsampling;
    QOR_UINT8 ui8VSubsampling;
    QOR_UINT8 ui8BitDepth;
    QOR_UINT8 ui8PackedElements;
    QOR_UINT8 ui8PackedStride;
    PACKEDSTART ePackedStart;
} PIXELTYPE;

typedef struct CI_LINESTORE {
    QOR_INT32 aStart[2];
    QOR_UINT32 aSize[2];
    QOR_BOOL8 aActive[2];
} CI_LINESTORE;

enum CI_INFO_eSUPPORTED {
    CI_INFO_SUPPORTED_NONE = 0,
    CI_INFO_SUPPORTED_TILING = 1,
    CI_INFO_SUPPORTED_HDR_EXT = 2,
    CI_INFO_SUPPORTED_HDR_INS = 4,
    CI_INFO_SUPPORTED_RAW2D_EXT = 8,
    CI_INFO_SUPPORTED_IIF_DATAGEN = 16,
    CI_INFO_SUPPORTED_IIF_PARTERNGEN = 32,
};

typedef struct CI_HWINFO {
    QOR_UINT8 ui8GroupId;
    QOR_UINT8 ui8AllocationId;
    QOR_UINT16 ui16ConfigId;
    QOR_UINT8 rev_ui8Designer;
    QOR_UINT8 rev_ui8Major;
    QOR_UINT8 rev_ui8Minor;
    QOR_UINT8 rev_ui8Maint;
    QOR_UINT32 rev_uid;
    QOR_UINT8 config_ui8PixPerClock;
    QOR_UINT8 config_ui8Parallelism;
    QOR_UINT8 config_ui8BitDepth;
    QOR_UINT8 config_ui8NContexts;
    QOR_UINT8 config_ui8NImagers;
    QOR_UINT8 config_ui8NIIFDataGenerator;
    QOR_UINT16 config_ui16MemLatency;
    QOR_UINT32 config_ui32DPFInternalSize;
    QOR_UINT8 config_ui8NRTMRegisters;
    QOR_UINT8 scaler_ui8EncHLumaTaps;
    QOR_UINT8 scaler_ui8EncVLumaTaps;
    QOR_UINT8 scaler_ui8EncVChromaTaps;
    QOR_UINT8 scaler_ui8DispHLumaTaps;
    QOR_UINT8 scaler_ui8DispVLumaTaps;
    QOR_UINT8 gasket_aImagerPortWidth[4];
    QOR_UINT8 gasket_aType[4];
    QOR_UINT16 gasket_aMaxWidth[4];
    QOR_UINT8 gasket_aBitDepth[4];
    QOR_UINT16 context_aMaxWidthMult[2];
    QOR_UINT16 context_aMaxHeight[2];
    QOR_UINT16 context_aMaxWidthSingle[2];
    QOR_UINT8 context_aBitDepth[2];
    QOR_UINT8 context_aPendingQueue[2];
    QOR_UINT32 ui32MaxLineStore;
    QOR_UINT32 ui32LSHRamSizeBits;
    QOR_UINT32 eFunctionalities;
    QOR_UINT32 uiSizeOfPipeline;
    QOR_UINT32 uiSizeOfLoadStruct;
    QOR_UINT32 uiChangelist;
    QOR_UINT32 uiTiledScheme;
    QOR_UINT8 mmu_ui8Enabled;
    QOR_UINT8 mmu_ui8RevMajor;
    QOR_UINT8 mmu_ui8RevMinor;
    QOR_UINT8 mmu_ui8RevMaint;
    QOR_UINT32 mmu_ui32PageSize;
    QOR_UINT32 ui32RefClockMhz;
} CI_HWINFO;

QOR_INT32 PixelTransformYUV(PIXELTYPE *pType, pxlFormat yuv);
QOR_INT32 PixelTransformRGB(PIXELTYPE *pType, pxlFormat rgb);
QOR_INT32 PixelTransformBayer(PIXELTYPE *pType, pxlFormat bayer, MOSAICType mosaic);
QOR_INT32 PixelTransformDisplay(PIXELTYPE *pType, pxlFormat format);

static_assert(sizeof(PIXELTYPE) == 24, "PIXELTYPE layout");
static_assert(sizeof(CI_HWINFO) == 108, "CI_HWINFO layout");

#endif /* CI_INTERIM_DEPS_H */
