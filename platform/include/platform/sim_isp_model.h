#ifndef NORVA_SIM_ISP_MODEL_H
#define NORVA_SIM_ISP_MODEL_H

/*
 * Software model of the ISP blocks of one context: one Bayer frame in, the configured output images and the
 * frame's statistics out, driven only by register values (a CI_PIPELINE decoded from the load structure with
 * SimLS_Decode, plus the pipeline information, the gamma curve and the lens-shading matrix the device holds).
 *
 * The model keeps its look-up tables (rebuilt only when their registers change) and its scratch rows and planes
 * (grown only when a larger frame arrives), so processing a frame of a size already seen allocates nothing.
 * The arithmetic conventions are written down in platform/isp-model.md.
 *
 * Not thread-safe: one model per context, used by one thread at a time. Given a worker pool (setWorkers), a frame
 * is cut into bands of rows processed on the pool's threads; the results are the same bytes for any number of
 * threads.
 */

#include <cstddef>
#include <cstdint>

#include "ci/ci_api_structs.h"
#include "ci/ci_pipeline.h"

namespace norva_sim {

class SimWorkerPool;

/** Size of the statistics save structure the model writes. */
constexpr size_t kIspStatsSize = 6108;

/** Offsets of the save structure (bytes). */
namespace stats_layout {
constexpr size_t kExsGlobal = 0;      /* u32 × 4 Bayer channels */
constexpr size_t kExsRegion = 64;     /* + 64 r + 8 c + 2 ch, u16 */
constexpr size_t kFosRoi = 512;       /* u32 */
constexpr size_t kFosGrid = 576;      /* + 64 r + 4 c, u32 */
constexpr size_t kWbsRoi = 1024;      /* + 64 k: white patch (sum, count) × 3 at +8 ch, average sums at +24, */
                                      /* high-luminance sums at +36, high-luminance count at +48 */
constexpr size_t kHisGlobal = 1152;   /* + 4 b, 64 bins */
constexpr size_t kHisRegion = 1408;   /* + 64 (7 r + c) + 4 b, 16 bins */
constexpr size_t kAwsGrid = 4544;     /* + 128 r + 16 c: red, blue, green log sums, count */
constexpr size_t kStatus = 5440;      /* bit 0 frame error, bits 16-23 private value */
constexpr size_t kDpfCounters = 5444; /* fixed, map modifications, dropped: u32 × 3 */
constexpr size_t kFlicker = 5456;     /* u8 verdict */
constexpr size_t kTimestamps = 5476;  /* u32 × 5, left to the caller */
} // namespace stats_layout

/** Flicker verdicts of the save structure. */
enum IspFlickerVerdict : uint8_t {
    kFlickerNone = 0,
    kFlicker50Hz = 1,
    kFlicker60Hz = 2,
    kFlickerUndetermined = 3,
    kFlickerWaiting = 4,
};

/** One input Bayer frame: samples of `bitDepth` bits (1 to 16), row-major. */
struct IspInputFrame {
    const uint16_t *samples = nullptr;
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t rowStride = 0; /* samples per row; 0 means width */
    unsigned bitDepth = 10;
};

/** Everything the device holds for a frame beside the input: its register image and tables. */
struct IspFrameSettings {
    const CI_PIPELINE *registers = nullptr; /* decoded load structure (SimLS_Decode) */
    const CI_PIPE_INFO *info = nullptr;     /* output formats, IIF, LSH gradients */
    const CI_MODULE_GMA_LUT *gamma = nullptr;
    /** Active lens-shading matrix, or null for none. */
    const uint8_t *lshMatrix = nullptr;
    size_t lshMatrixSize = 0;
    CI_MODULE_LSH_MAT lshConfig{};
    /** Stamped in the status word. */
    uint8_t privateValue = 0;
    /**
     * Defect read map of the defective-pixel block: `defectCount` pairs {x, y} of window pixels, corrected when
     * the read-map bit of info->dpfConfig.eDPFEnable is set. Pairs outside the window are ignored.
     */
    const uint16_t *defectMap = nullptr;
    uint32_t defectCount = 0;
};

/**
 * Caller-provided memory of one output image. Strides are bytes per row; `offset` is where the first plane
 * starts in `data`, `chromaOffset` where the chroma plane of a semi-planar format starts. A stride of 0 takes
 * the untiled layout of the format (CI_ALLOC_*SizeInfo); chromaOffset 0 places the chroma plane right after the
 * luma rows. `tileStride` > 0 writes the tiled layout: tiles of tileStride bytes × tileHeight rows, stored one
 * after the other along each band of tileHeight rows (the stride must be a multiple of tileStride).
 */
struct IspOutputBuffer {
    uint8_t *data = nullptr;
    size_t size = 0;
    uint32_t offset = 0;
    uint32_t stride = 0;
    uint32_t chromaOffset = 0;
    uint32_t chromaStride = 0;
    uint32_t tileStride = 0;
    uint32_t tileHeight = 0;
};

/** Buffers of one frame; a null `data` skips that output. */
struct IspFrameOutputs {
    IspOutputBuffer encoder;       /* config.eEncType (YUV) */
    IspOutputBuffer display;       /* config.eDispType (RGB, packed 4:4:4, or Bayer data extraction) */
    IspOutputBuffer hdrExtraction; /* config.eHDRExtType (BGR_101010_32) */
    IspOutputBuffer raw2D;         /* config.eRaw2DExtraction (TIFF Bayer) */
    uint8_t *statistics = nullptr; /* kIspStatsSize bytes */
    /** Defect write map: 8-byte entries of the detected pixels, as many as fit (the rest is zeroed). */
    uint8_t *defectOutput = nullptr;
    size_t defectOutputSize = 0;
    /** Encoder statistics (with CI_SAVE_ENS): 8-byte (counter, entropy) entries, one per region of lines. */
    uint8_t *ensOutput = nullptr;
    size_t ensOutputSize = 0;
};

/** Sizes in pixels of the images a frame produces. */
struct IspImageSizes {
    uint32_t windowWidth = 0, windowHeight = 0;   /* after the imager interface */
    uint32_t encoderWidth = 0, encoderHeight = 0; /* after the encoder scaler */
    uint32_t displayWidth = 0, displayHeight = 0; /* after the display scaler */
};

/** What processing a frame reports. */
struct IspFrameResult {
    IspImageSizes sizes;
    /** The input did not cover the imager window (the missing part reads 0); also bit 0 of the status word. */
    bool frameError = false;
};

/** The sizes the registers give, without processing anything. */
IspImageSizes IspOutputSizes(const CI_PIPELINE &registers, const CI_PIPE_INFO &info);

/**
 * Neutral register values for a window of width × height pixels (even) of a `bitDepth` sensor: unit gains,
 * identity colour matrix, gamma on, BT.709 limited-range conversion and back, scalers bypassed, identity tone
 * curve, every statistic enabled over the whole window. Output formats are left to the caller (PXL_NONE).
 */
void IspNeutralSettings(uint32_t width, uint32_t height, CI_PIPELINE *registers, CI_PIPE_INFO *info);

class IspModel {
public:
    IspModel();
    ~IspModel();
    IspModel(const IspModel &) = delete;
    IspModel &operator=(const IspModel &) = delete;

    /**
     * Processes one frame. QOR_RES_INVALID_PARAM for a null register image, info or input, a bit depth outside
     * 1..16, an output whose memory cannot hold its image at the given layout or whose format the output cannot
     * carry; nothing is written then.
     */
    QOR_RESULT process(const IspInputFrame &input, const IspFrameSettings &settings, const IspFrameOutputs &outputs,
                       IspFrameResult *result = nullptr);

    /**
     * The threads that process the rows of a frame: one band of rows per thread of the pool. Null (the default)
     * processes the frame in the calling thread. The pool must outlive its use by the model.
     */
    void setWorkers(SimWorkerPool *workers);

    /** The flicker verdict written in the following frames' statistics (default kFlickerNone). */
    void setFlickerVerdict(uint8_t verdict) { m_flicker = verdict; }

    /** Number of times a look-up table was rebuilt (tests check that unchanged registers reuse them). */
    unsigned tableBuilds() const { return m_tableBuilds; }

    struct Impl;

private:
    Impl *m_impl;
    uint8_t m_flicker = kFlickerNone;
    unsigned m_tableBuilds = 0;
};

} // namespace norva_sim

#endif /* NORVA_SIM_ISP_MODEL_H */
