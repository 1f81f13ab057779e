#ifndef NORVA_SIM_CAPTURE_H
#define NORVA_SIM_CAPTURE_H

/*
 * The capture engine of the simulated ISP: shot pools (CI_CONFIG_ADDPOOL / DELPOOL), output buffers
 * (CI_CREATE_BUFF / CI_DEREGISTER_BUFF of the output kinds, allocated or imported by descriptor), start and
 * stop, triggers, acquire and release, and the queries (commands 20 to 28).
 *
 * Frames are produced on demand: when a blocking acquire finds nothing finished but a pending trigger, the
 * engine takes one frame from the frame source of the pipeline's imager and delivers it to every started
 * pipeline on that imager that has a pending trigger. Blocking waits end with a frame, with -ECANCELED when the
 * capture stops, or with -ETIME after the capture timeout (1 s by default).
 *
 * Frame sources plug in per gasket (SetFrameSource). Without one, a gasket that a started data generator drives
 * takes the frames the generator queued (sim_frame_source.h): a capture waits for the next insertion, and the
 * frame is marked processed once delivered. Otherwise the gasket streams on demand.
 *
 * A source that delivers Bayer samples (SimFrameSource::bayer, as the data-generator frames do) has them
 * processed by the image model of each pipeline (sim_isp_model.h, one model per pipeline, kept across frames):
 * the register image the shot's load area holds (snapshotted at the trigger, decoded by the device), the
 * pipeline information, the device's gamma curve and the pipeline's active lens-shading matrix give every
 * configured output at the strides and offsets the frame reports, and the statistics of the save structure. A
 * frame the model refuses (or whose input does not cover the imager window) has status bit 0 set. Other sources
 * write the outputs themselves (render); the test pattern writes a known pattern (TestPatternByte).
 *
 * Functions that do not say otherwise take the platform lock themselves.
 *
 * Conventions of the engine (where a driver's behaviour is left open):
 * - CI_CONFIG_ADDPOOL: a 6108-byte statistics area, a DPF area of config.ui32DPFWriteMapSize bytes when that is
 *   not 0, an ENS area (with CI_SAVE_ENS) of 8 bytes per group of 2^(ui8Log2NCouples + 3) encoder lines, and a
 *   1268-byte load area; at most 64 shots per pipeline (-ENOMEM). CI_CONFIG_DELPOOL: -EBUSY while started.
 * - CI_CREATE_BUFF of an output kind: -EINVAL for size 0, a kind whose output is not configured, tiling without
 *   bSupportTiling, or an imported descriptor smaller than the size. CI_DEREGISTER_BUFF: -EBUSY unless free.
 * - CI_CAPTURE_START: needs a line-store part of the context at least the imager's width (-EINVAL) and no other
 *   started pipeline on the context (-EBUSY); marks the context active in the line-store status.
 * - CI_CAPTURE_TRIGGER: -ECANCELED when not started; -EINVAL for an unknown or busy buffer, a buffer of another
 *   kind, an output that is not configured, or a layout that does not fit its buffer (64-bit sizes). It needs a
 *   free shot and room in the context's pending queue (context_aPendingQueue): -EBUSY when non-blocking, else a
 *   bounded wait. At the trigger the frame's configuration is fixed: the applied register image is copied into
 *   the shot's load area (with the encoder-statistics words 1124 and 1128 that the driver programs from the
 *   registration record) and the private value is stamped; so bUpdateASAP changes nothing already queued.
 * - Layout when a trigger gives no strides: CI_ALLOC_YUVSizeInfo / RGBSizeInfo / Raw2DSizeInfo at the written
 *   width (tiled when the buffer is); rows are the heights they give; chroma follows the luma rows. Written size:
 *   encoder and display, the scaler's output (the imager's when bypassed) limited to the maximum output size;
 *   Bayer display, HDR extraction and raw 2D, the imager's. Tiled buffers: tiles of uiTiledScheme bytes by
 *   4096 / uiTiledScheme rows, left to right across the stride.
 * - CI_CAPTURE_ACQUIRE: the oldest finished frame; nothing finished: -EALREADY (non-blocking), otherwise the
 *   engine produces frames for pending triggers and waits (bounded, -ETIME); -ECANCELED when the capture is or
 *   gets stopped. The statistics area is zeroed per frame, then filled by the source or a queued record; the
 *   status word is always written; without a queued record the five frame timestamps are hardware ticks.
 * - Clocks: system times CLOCK_MONOTONIC ns, time of day CLOCK_REALTIME ns, hardware ticks at ui32RefClockMhz.
 * - An HDR insertion buffer is free again in the device once its frame is complete.
 * - CI_CAPTURE_RELEASE: -EINVAL for a shot that is unknown or not acquired. CI_CAPTURE_HASAVAILABLE counts free
 *   shots and the free buffers of the configured kinds.
 */

#include <cstddef>
#include <cstdint>

#include "ci/ci_capture.h"
#include "platform/sim_isp_model.h"

namespace norva_sim {

/** Bytes of the statistics area (save structure) of every shot. */
constexpr uint32_t kSaveStructureSize = 6108;
/** Bytes of the load area of every shot: the load structure applied to its frame. */
constexpr uint32_t kLoadAreaSize = 1268;
/** Byte offsets in the save structure: focus ROI sum, focus grid (7 rows of 64 bytes, 7 words used), global
 * histogram (64 words), regional histograms (7 x 7 x 16 words). */
constexpr size_t kSaveFocusRoi = 512;
constexpr size_t kSaveFocusGrid = 576;
constexpr size_t kSaveHistogramGlobal = 1152;
constexpr size_t kSaveHistogramRegions = 1408;

/** Outputs of a frame, in the order of the CI_SHOT fields. */
enum SimOutput { SIM_OUT_ENC = 0, SIM_OUT_DISP = 1, SIM_OUT_HDREXT = 2, SIM_OUT_RAW2D = 3, SIM_OUT_N = 4 };

/** One output of a frame as laid out in its buffer. */
struct SimOutputTarget {
    bool present = false;
    PIXELTYPE format{};
    uint32_t width = 0;        /* pixels written */
    uint32_t height = 0;       /* rows written */
    uint8_t *memory = nullptr; /* the device's view of the buffer */
    uint64_t size = 0;
    uint32_t stride[2] = {0, 0}; /* plane 0 (luma or single plane), plane 1 (chroma of semi-planar YUV) */
    uint32_t rows[2] = {0, 0};
    uint32_t offset[2] = {0, 0};
    uint32_t planes = 0;
    bool tiled = false;
    uint32_t tileWidth = 0;  /* bytes */
    uint32_t tileHeight = 0; /* rows */
};

/** Bytes written per row, and rows, of one plane of an output (what a frame source fills). */
void SimPlaneExtent(const SimOutputTarget &target, unsigned plane, uint32_t *rowBytes, uint32_t *rows);
/** Address of byte column x of row y of a plane, through the tiling when the buffer is tiled. */
uint8_t *SimOutputByte(const SimOutputTarget &target, unsigned plane, uint32_t x, uint32_t y);
/** Byte offset of (x, y) of a plane in its buffer (same rule as SimOutputByte). */
uint64_t SimOutputByteOffset(const SimOutputTarget &target, unsigned plane, uint32_t x, uint32_t y);

/** What a frame source receives for one pipeline and one frame. */
struct SimFrameContext {
    int pipelineId = 0;
    unsigned gasket = 0;
    uint64_t frameNumber = 0; /* frames taken from this gasket so far, this one included */
    const CI_PIPE_INFO *info = nullptr;
    const CI_PIPELINE *decoded = nullptr; /* the applied register image, decoded by the device */
    SimOutputTarget outputs[SIM_OUT_N];
    /** The save structure of the frame: zeroed before render; status word and timestamps are written after. */
    uint8_t *statistics = nullptr;
    uint32_t statisticsSize = 0;
};

/** Frames of one gasket. Every call is made with the platform lock held. */
class SimFrameSource {
public:
    virtual ~SimFrameSource() = default;
    /** A frame can be taken from the gasket now (an on-demand source always can). */
    virtual bool ready(unsigned gasket) = 0;
    /** Takes the next frame of the gasket; false when none. */
    virtual bool begin(unsigned gasket) = 0;
    /** Writes the current frame into the outputs of one pipeline (may also fill statistics). */
    virtual void render(const SimFrameContext &ctx) = 0;
    /**
     * The Bayer samples of the current frame of the gasket, when the source delivers samples: the engine then
     * processes them with the image model instead of calling render. The samples stay valid until end().
     */
    virtual bool bayer(unsigned gasket, IspInputFrame *frame) {
        (void)gasket;
        (void)frame;
        return false;
    }
    /** The frame reached every pipeline that waited for it. */
    virtual void end(unsigned gasket) = 0;
};

/** Plugs a source into a gasket (null: the default described above); the caller keeps ownership. */
void SetFrameSource(unsigned gasket, SimFrameSource *source);
/** The test pattern source (on demand, every output written with TestPatternByte). */
SimFrameSource &TestPatternSource();
/** The byte the test pattern writes at (x, y) of a plane of an output of frame `frame` of its gasket. */
uint8_t TestPatternByte(uint64_t frame, unsigned output, unsigned plane, uint32_t x, uint32_t y);
/**
 * Data-generator frames are written as the test pattern instead of being processed by the image model (they
 * are still taken, delivered and marked processed as usual). Off by default; ResetPlatform turns it off.
 */
void RenderDatagenAsTestPattern(bool on);

/** Statistics a test chooses for a frame, in the units of the save structure's words. */
struct SimSaveStats {
    uint32_t exsGlobal[4];
    uint16_t exsRegion[7][7][4];
    uint32_t fosRoi;
    uint32_t fosGrid[7][7];
    struct {
        uint32_t whitePatchSum[3];
        uint32_t whitePatchCount[3];
        uint32_t averageSum[3];
        uint32_t highLumaSum[3];
        uint32_t highLumaCount;
    } wbs[2];
    uint32_t hisGlobal[64];
    uint32_t hisRegion[7][7][16];
    struct {
        uint32_t red, blue, green; /* U27.5 sums */
        uint32_t count;            /* bits 21:0 used */
    } aws[7][7];
    uint32_t dpfFixed;
    uint32_t dpfModifications;
    uint32_t dpfDropped;
    uint8_t flicker;        /* the byte at 5456; the hardware's verdict is bits 2:0 */
    uint32_t timestamps[5]; /* start in, end in, start out, end encoder out, end display out */
};

/** Writes the statistics into a save structure of `size` bytes (at least kSaveStructureSize); no lock needed. */
void WriteSaveStructure(const SimSaveStats &stats, uint8_t *area, size_t size);
/** The next frames of the pipeline carry these statistics (one queued record per frame, then zeros). */
void QueueStatistics(int pipelineId, const SimSaveStats &stats);

/* ---- fault injection ---- */

/** The next frame completed for the pipeline is erroneous: status bit 0, or the driver's flag in the shot. */
void InjectFrameError(int pipelineId, bool inStatusWord);
/**
 * The next frame completed for any pipeline is erroneous (for tests that do not know the pipeline's id). For
 * programs that cannot call in (the GStreamer tools), NORVA_SIM_ERROR_EVERY=n in the environment makes every n-th
 * frame completed in the process erroneous in its status word; ResetPlatform restarts that count.
 */
void InjectNextFrameError(bool inStatusWord);
/** The next frame completed for the pipeline reports `n` more missed frames. */
void InjectMissedFrames(int pipelineId, int n);
/** The flicker verdict (IspFlickerVerdict) the image model of the pipeline reports from now on. */
void InjectFlickerVerdict(int pipelineId, uint8_t verdict);
/** The next `n` frames of the gasket are lost: every started pipeline on it counts them as missed. */
void DropFrames(unsigned gasket, unsigned n);
/** The next acquire of the pipeline names an encoder buffer the stack never created. */
void AnswerUnknownBuffer(int pipelineId);
/**
 * The next acquire of the pipeline reports an encoder luma stride of 2^28 bytes: with its rows that is a
 * multiple of 2^32 bytes, nothing in 32-bit arithmetic, far beyond any buffer.
 */
void AnswerWrappingLayout(int pipelineId);

/* ---- settings ---- */

/** Bound of every blocking wait of the engine (default 1000 ms; ResetPlatform restores it). */
void SetCaptureTimeoutMs(unsigned milliseconds);
/** Non-blocking acquires and queries also produce frames for pending triggers (off by default). */
void SetProduceOnPoll(bool on);
/**
 * Paced mode, for live runs: each gasket delivers at most `fps` frames per second, on a grid of the frame period
 * (a consumer more than a period late restarts the grid rather than getting a burst); a blocking acquire waits
 * for the next frame time. 0 turns it off (frames on demand, the default). The environment variable
 * NORVA_SIM_PACED_FPS sets it at start, and ResetPlatform restores what the variable says.
 */
void SetPacedFrameRate(double fps);
double PacedFrameRate();
/**
 * Planes of the outputs of triggers that give no layout start `bytes` into their buffer (chroma right after
 * the luma rows) when the buffer has room for that; otherwise at 0. 0 by default; ResetPlatform restores it.
 */
void SetPlaneOffset(uint32_t bytes);

/* ---- observations ---- */

struct SimCaptureView {
    bool started = false;
    unsigned shots = 0, shotsFree = 0, shotsPending = 0, shotsFinished = 0, shotsAcquired = 0;
    unsigned buffers = 0, buffersFree = 0, buffersPending = 0, buffersAcquired = 0;
    uint64_t framesCompleted = 0;
    int missedFrames = 0; /* not yet reported */
};
/** The engine's state of pipeline `id`; false when it holds nothing for it. */
bool GetSimCapture(int pipelineId, SimCaptureView *view);
/** Frames taken from the gasket so far. */
uint64_t GasketFrameCount(unsigned gasket);

/** What the device wrote for one completed frame of one pipeline. */
struct SimFrameRecord {
    uint64_t interruptSysTime = 0; /* the shot's ui64InterruptSysTime */
    int pipelineId = 0;
    uint64_t frame = 0;              /* frames completed for the pipeline, this one included */
    uint64_t histogramGlobalSum = 0; /* sum of the 64 global histogram bins written */
    uint64_t histogramRegionSum = 0; /* sum of the 7 x 7 x 16 regional bins */
    uint32_t focusRoi = 0;           /* the focus ROI sum written */
    uint64_t focusGridSum = 0;       /* sum of the 7 x 7 focus grid words */
    bool error = false;              /* status bit 0 or the driver's flag */
};
/** The record of the frame interrupted at `interruptSysTime`, among the newest 256 frames; false when none. */
bool FindFrameRecord(uint64_t interruptSysTime, SimFrameRecord *record);

/** Shots acquired and released since the process started (every pipeline). */
struct SimCaptureCounters {
    uint64_t acquires = 0;
    uint64_t releases = 0;
};
SimCaptureCounters GetCaptureCounters();

/* ---- used by the pipeline commands (platform lock held) ---- */

struct CommandContext;
struct IspFile;
/** CI_CREATE_BUFF / CI_DEREGISTER_BUFF of an output kind. */
long CaptureCreateBuffer(CommandContext &ctx);
long CaptureDeregisterBuffer(CommandContext &ctx);
/** Drops everything the engine holds for a pipeline that is deregistered. */
void CaptureForgetPipeline(IspFile &file, int pipelineId);

} // namespace norva_sim

#endif /* NORVA_SIM_CAPTURE_H */
