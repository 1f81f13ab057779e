#include "ispc/Shot.h"

#include <cstring>

#include "ispc/ModuleOUT.h"
#include "ispc/Pipeline.h"
#include "norvacommon/userlog.h"

namespace ISPC {

namespace {

constexpr const char *kTag = "ISPC_SHOT";
/** Bytes of the save structure a shot reports (and a saved statistics record holds). */
constexpr QOR_UINT32 kStatsSize = 6108;
/** Bytes of one defective-pixel output record. */
constexpr QOR_UINT64 kDPFRecord = 8;

/** One output; sizes and strides are held in 16 bits (truncated). */
void fillBuffer(Buffer &b, QOR_UINT32 width, QOR_UINT32 height, const QOR_UINT32 size[2], ePxlFormat format,
                const void *data, QOR_UINT32 id, bool tiled) {
    b.width = static_cast<QOR_UINT16>(width);
    b.height = static_cast<QOR_UINT16>(height);
    b.stride = static_cast<QOR_UINT16>(size[0]);
    b.vstride = static_cast<QOR_UINT16>(size[1]);
    b.pxlFormat = format;
    b.data = static_cast<const QOR_UINT8 *>(data);
    b.id = id;
    b.isTiled = tiled;
}

} // namespace

const QOR_UINT8 *Buffer::firstDataCbCr() const {
    PIXELTYPE type;
    if (data == nullptr || PixelTransformYUV(&type, pxlFormat) != QOR_RES_OK) {
        return nullptr;
    }
    return data + offsetCbCr;
}

Shot::Shot() {
    clear();
    bFrameError = false;
    iMissedFrames = 0;
    memset(&stats, 0, sizeof(stats));
}

void Shot::clear() {
    memset(&DISPLAY, 0, sizeof(DISPLAY));
    memset(&YUV, 0, sizeof(YUV));
    memset(&BAYER, 0, sizeof(BAYER));
    memset(&HDREXT, 0, sizeof(HDREXT));
    memset(&RAW2DEXT, 0, sizeof(RAW2DEXT));
    memset(&metadata, 0, sizeof(metadata));
    memset(&DPF, 0, sizeof(DPF));
    memset(&ENS, 0, sizeof(ENS));
    pCIBuffer = nullptr;
}

void Shot::configure(CI_SHOT *ci, const ModuleOUT &out, const Global_Setup &g) {
    pCIBuffer = ci;
    if (ci == nullptr) {
        return;
    }

    // Display and data extraction share the hardware's display output.
    PIXELTYPE type;
    if (PixelTransformDisplay(&type, out.displayType) == QOR_RES_OK) {
        fillBuffer(DISPLAY, g.ui32DispWidth, g.ui32DispHeight, ci->aDispSize, out.displayType, ci->pDisplayOutput,
                   ci->dispId, ci->bDispTiled == 1);
    } else if (PixelTransformBayer(&type, out.dataExtractionType, MOSAIC_RGGB) == QOR_RES_OK) {
        fillBuffer(BAYER, g.ui32ImageWidth, g.ui32ImageHeight, ci->aDispSize, out.dataExtractionType,
                   ci->pDisplayOutput, ci->dispId, ci->bDispTiled == 1);
    }
    if (out.encoderType != PXL_NONE) {
        fillBuffer(YUV, g.ui32EncWidth, g.ui32EncHeight, ci->aEncYSize, out.encoderType, ci->pEncoderOutput, ci->encId,
                   ci->bEncTiled == 1);
        YUV.strideCbCr = static_cast<QOR_UINT16>(ci->aEncCbCrSize[0]);
        YUV.vstrideCbCr = static_cast<QOR_UINT16>(ci->aEncCbCrSize[1]);
        YUV.offset = ci->aEncOffset[0];
        YUV.offsetCbCr = ci->aEncOffset[1];
    }
    if (out.hdrExtractionType != PXL_NONE) {
        fillBuffer(HDREXT, g.ui32ImageWidth, g.ui32ImageHeight, ci->aHDRExtSize, out.hdrExtractionType,
                   ci->pHDRExtOutput, ci->HDRExtId, ci->bHDRExtTiled == 1);
    }
    if (out.raw2DExtractionType != PXL_NONE) {
        fillBuffer(RAW2DEXT, g.ui32ImageWidth, g.ui32ImageHeight, ci->aRaw2DSize, out.raw2DExtractionType,
                   ci->pRaw2DExtOutput, ci->raw2DExtId, false);
    }

    iMissedFrames = ci->i32MissedFrames;
    bFrameError = ci->bFrameError == 1;

    // The statistics configuration of this frame, from the register image applied to it.
    CI_PIPELINE_STATS config;
    memset(&config, 0, sizeof(config));
    CI_PipelineExtractConfig(ci, &config);

    const void *save = ci->pStatistics;
    // A save structure smaller than what extraction reads would be read past its end: its statistics stay 0.
    const bool readable = save != nullptr && ci->statsSize >= MC_SAVE_STRUCT_READ_SIZE;
    if (!readable) {
        QOR_LOG_WARNING(kTag, "statistics area of %u Bytes not decoded\n", ci->statsSize);
    }
    const QOR_UINT32 eConfig = ci->eOutputConfig;
    Metadata &md = metadata;
    if (readable)
        MC_HISExtract(save, &md.histogramStats);
    MC_HISRevert(&config.sHistStats, eConfig, &md.histogramConfig);
    if (readable)
        MC_EXSExtract(save, &md.clippingStats);
    MC_EXSRevert(&config.sExposureStats, eConfig, &md.clippingConfig);
    if (readable)
        MC_FOSExtract(save, &md.focusStats);
    MC_FOSRevert(&config.sFocusStats, eConfig, &md.focusConfig);
    if (readable)
        MC_WBSExtract(save, &md.whiteBalanceStats);
    MC_WBSRevert(&config.sWhiteBalanceStats, eConfig, &md.whiteBalanceConfig);
    if (readable)
        MC_AWSExtract(save, &md.autoWhiteBalanceStats);
    MC_AWSRevert(&config.sAutoWhiteBalanceStats, eConfig, &md.autoWhiteBalanceConfig);
    if (readable)
        MC_FLDExtract(save, &md.flickerStats);
    MC_FLDRevert(&config.sFlickerStats, eConfig, &md.flickerConfig);

    if (readable)
        MC_TimestampExtract(save, &md.timestamps);
    md.timestamps.ui32LinkedListUpdated = ci->ui32LinkedListTS;
    md.timestamps.ui32InterruptServiced = ci->ui32InterruptTS;
    md.timestamps.ui64LinkedListSysTime = ci->ui64LinkedListSysTime;
    md.timestamps.ui64InterruptSysTime = ci->ui64InterruptSysTime;
    md.timestamps.ui64InterruptTimeOfDay = ci->ui64InterruptTimeOfDay;

    if (readable)
        MC_DPFExtract(save, &md.defectiveStats);

    // Never more than the area the driver mapped.
    stats.data = static_cast<const QOR_UINT8 *>(save);
    stats.stride = ci->statsSize;
    stats.size = save != nullptr ? (ci->statsSize < kStatsSize ? ci->statsSize : kStatsSize) : 0;
    stats.elementSize = 4;

    if (ci->uiDPFSize != 0) {
        // 64-bit: a huge correction count must not wrap into a size that fits.
        const QOR_UINT64 needed = static_cast<QOR_UINT64>(md.defectiveStats.ui32NOutCorrection) * kDPFRecord;
        if (ci->uiDPFSize < needed || ci->pDPFMap == nullptr) {
            QOR_LOG_WARNING(kTag, "nb of correct pixels given by HW does not fit in buffer! DPF buffer not loaded\n");
        } else {
            DPF.data = static_cast<const QOR_UINT8 *>(ci->pDPFMap);
            DPF.stride = ci->uiDPFSize;
            DPF.size = static_cast<QOR_UINT32>(needed);
            DPF.elementSize = static_cast<QOR_UINT32>(kDPFRecord);
        }
    }
    if (ci->uiENSSize != 0 && ci->pENSOutput != nullptr) {
        ENS.data = static_cast<const QOR_UINT8 *>(ci->pENSOutput);
        ENS.stride = ci->uiENSSize;
        ENS.size = ci->uiENSSize;
        ENS.elementSize = 8;
    }
}

} // namespace ISPC
