// Output geometry of the capture engine: the size each output is written at, the default layouts the capture
// context allocates, and the plan of an output of a trigger in its buffer.
#include <algorithm>
#include <cstddef>

#include "norvacommon/ci_alloc_info.h"
#include "platform/sim_capture.h"
#include "platform/sim_isp.h"
#include "platform/sim_pipeline.h"
#include "sim_capture_internal.h"

namespace norva_sim {
namespace {

/** The output kinds, with the format of the pipeline that each writes. */
struct OutputKind {
    int allocKind;
    size_t formatOffset; /* PIXELTYPE in CI_PIPELINE_CONFIG */
};
const OutputKind kOutputKinds[SIM_OUT_N] = {
    {CI_ALLOC_ENC, offsetof(CI_PIPELINE_CONFIG, eEncType)},
    {CI_ALLOC_DISP, offsetof(CI_PIPELINE_CONFIG, eDispType)},
    {CI_ALLOC_HDREXT, offsetof(CI_PIPELINE_CONFIG, eHDRExtType)},
    {CI_ALLOC_RAW2D, offsetof(CI_PIPELINE_CONFIG, eRaw2DExtraction)},
};

} // namespace

int outputAllocKind(unsigned output) { return kOutputKinds[output].allocKind; }

const PIXELTYPE &formatOf(const CI_PIPELINE_CONFIG &cfg, unsigned output) {
    return *reinterpret_cast<const PIXELTYPE *>(reinterpret_cast<const char *>(&cfg) +
                                                kOutputKinds[output].formatOffset);
}

bool semiPlanar(const PIXELTYPE &f) { return f.eBuffer == TYPE_YUV && f.ui8HSubsampling > 1; }

/** Width and height the output is written at: the scaler's output (or the imager when bypassed). */
void outputSize(const SimPipelineView &v, unsigned output, uint32_t *width, uint32_t *height) {
    const CI_MODULE_IIF &iif = v.info.iifConfig;
    uint32_t w = (iif.ui16ImagerSize[0] + 1u) * 2u;
    uint32_t h = (iif.ui16ImagerSize[1] + 1u) * 2u;
    const CI_PIPELINE_CONFIG &cfg = v.info.config;
    const bool bayerDisplay = output == SIM_OUT_DISP && cfg.eDispType.eBuffer == TYPE_BAYER;
    if ((output == SIM_OUT_ENC || output == SIM_OUT_DISP) && !bayerDisplay) {
        const CI_MODULE_SCALER &sc = output == SIM_OUT_ENC ? v.decoded.sEncoderScaler : v.decoded.sDisplayScaler;
        if (!sc.bBypassScaler) {
            w = (sc.aOutputSize[0] + 1u) * 2u;
            h = sc.aOutputSize[1] + 1u;
        }
        const uint32_t maxW = output == SIM_OUT_ENC ? cfg.ui16MaxEncOutWidth : cfg.ui16MaxDispOutWidth;
        const uint32_t maxH = output == SIM_OUT_ENC ? cfg.ui16MaxEncOutHeight : cfg.ui16MaxDispOutHeight;
        if (maxW != 0)
            w = std::min(w, maxW);
        if (maxH != 0)
            h = std::min(h, maxH);
    }
    *width = w;
    *height = h;
}

/** Default layout of an output in a buffer: the layout the capture context allocates. */
bool defaultLayout(const PIXELTYPE &f, unsigned output, uint32_t width, uint32_t height, bool tiled, OutputPlan *plan) {
    CI_TILINGINFO tile;
    const CI_TILINGINFO *pTile = nullptr;
    if (tiled) {
        if (CI_ALLOC_GetTileInfo(IspDevice().description.sHWInfo.uiTiledScheme, &tile) != QOR_RES_OK)
            return false;
        pTile = &tile;
    }
    CI_SIZEINFO size;
    QOR_RESULT r;
    if (output == SIM_OUT_RAW2D) {
        r = CI_ALLOC_Raw2DSizeInfo(&f, width, height, pTile, &size);
    } else if (f.eBuffer == TYPE_YUV) {
        r = CI_ALLOC_YUVSizeInfo(&f, width, height, pTile, &size);
    } else {
        r = CI_ALLOC_RGBSizeInfo(&f, width, height, pTile, &size);
    }
    if (r != QOR_RES_OK)
        return false;
    plan->stride[0] = size.ui32Stride;
    plan->rows[0] = size.ui32Height;
    if (semiPlanar(f)) {
        plan->stride[1] = size.ui32CStride;
        plan->rows[1] = size.ui32CHeight;
    }
    return true;
}

/**
 * Bytes the driver gives a buffer created without a size: the output's default layout at its largest frame
 * (encoder and display: the maximum output size, else the imager window), so any frame of the configuration
 * fits. 0 when the layout cannot be computed.
 */
uint32_t defaultBufferSize(const SimPipelineView &v, int allocKind, bool tiled) {
    const CI_PIPELINE_CONFIG &cfg = v.info.config;
    const uint32_t imagerW = (v.info.iifConfig.ui16ImagerSize[0] + 1u) * 2u;
    const uint32_t imagerH = (v.info.iifConfig.ui16ImagerSize[1] + 1u) * 2u;
    const PIXELTYPE *f = allocKind == CI_ALLOC_HDRINS ? &cfg.eHDRInsType : nullptr;
    unsigned output = SIM_OUT_N;
    for (unsigned o = 0; o < SIM_OUT_N && f == nullptr; o++) {
        if (kOutputKinds[o].allocKind == allocKind) {
            output = o;
            f = &formatOf(cfg, o);
        }
    }
    if (f == nullptr)
        return 0;
    uint32_t w = imagerW, h = imagerH;
    const bool scaled = (output == SIM_OUT_ENC || output == SIM_OUT_DISP) && f->eBuffer != TYPE_BAYER;
    if (scaled) {
        const uint32_t maxW = output == SIM_OUT_ENC ? cfg.ui16MaxEncOutWidth : cfg.ui16MaxDispOutWidth;
        const uint32_t maxH = output == SIM_OUT_ENC ? cfg.ui16MaxEncOutHeight : cfg.ui16MaxDispOutHeight;
        if (maxW != 0)
            w = maxW;
        if (maxH != 0)
            h = maxH;
    }
    OutputPlan plan;
    if (!defaultLayout(*f, output, w, h, tiled, &plan))
        return 0;
    const uint64_t bytes =
        static_cast<uint64_t>(plan.stride[0]) * plan.rows[0] + static_cast<uint64_t>(plan.stride[1]) * plan.rows[1];
    return bytes > 0xFFFFFFFFull ? 0 : static_cast<uint32_t>(bytes);
}

uint32_t rowBytesOf(const PIXELTYPE &f, unsigned plane, uint32_t width) {
    if (f.ui8PackedElements == 0)
        return 0;
    uint64_t samples = width;
    if (plane == 1)
        samples = static_cast<uint64_t>(width) * 2 / std::max<unsigned>(f.ui8HSubsampling, 1);
    return static_cast<uint32_t>((samples + f.ui8PackedElements - 1) / f.ui8PackedElements * f.ui8PackedStride);
}

/**
 * Plans output `o` of a trigger into buffer `b`: the trigger's strides and offsets, or the default layout for a
 * stride of 0. False (the trigger is refused) when the layout does not fit the buffer; sizes in 64 bits.
 */
bool planOutput(const SimPipelineView &v, unsigned o, const SimBuffer &b, uint32_t strideY, uint32_t strideC,
                uint32_t offsetY, uint32_t offsetC, OutputPlan *plan) {
    const PIXELTYPE &f = formatOf(v.info.config, o);
    uint32_t width = 0, height = 0;
    outputSize(v, o, &width, &height);
    OutputPlan def;
    if (!defaultLayout(f, o, width, height, b.tiled, &def))
        return false;
    plan->bufferId = b.id;
    plan->stride[0] = strideY != 0 ? strideY : def.stride[0];
    plan->rows[0] = def.rows[0];
    plan->offset[0] = offsetY;
    if (semiPlanar(f)) {
        plan->stride[1] = strideC != 0 ? strideC : def.stride[1];
        plan->rows[1] = def.rows[1];
        plan->offset[1] = (strideY == 0 && offsetC == 0)
                              ? static_cast<uint32_t>(offsetY + static_cast<uint64_t>(plan->stride[0]) * plan->rows[0])
                              : offsetC;
    }
    const unsigned planes = semiPlanar(f) ? 2 : 1;
    for (unsigned p = 0; p < planes; p++) {
        if (plan->stride[p] < rowBytesOf(f, p, width))
            return false;
        const uint64_t end =
            static_cast<uint64_t>(plan->offset[p]) + static_cast<uint64_t>(plan->stride[p]) * plan->rows[p];
        if (end > b.size)
            return false;
    }
    return true;
}

} // namespace norva_sim
