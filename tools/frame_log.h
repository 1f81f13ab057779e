/**
 * @file frame_log.h
 * @brief What norva_frames records of each frame (the sensor's exposure and gain, the brightness, the measured colour
 * temperature, the focus value and the mean colour of one neutral patch of the test chart), its CSV form, where the
 * patch lies in the output and when the control loops settled.
 */
#ifndef NORVA_TOOLS_FRAME_LOG_H
#define NORVA_TOOLS_FRAME_LOG_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace norva_tools {

/** One frame as the element delivered it. */
struct FrameRecord {
    long frame = 0;            /**< 0 for the first buffer */
    double exposureUs = 0.0;   /**< "exposure-time" after the frame, microseconds */
    double gain = 1.0;         /**< "exposure-gain" after the frame, linear */
    double brightness = 0.0;   /**< brightness meta, -1 to 1 */
    double temperature = 0.0;  /**< "awb-measured-temperature", kelvin */
    double focus = 0.0;        /**< focus-value meta */
    double rgb[3] = {0, 0, 0}; /**< mean red, green, blue codes of the neutral patch */
};

/** The first line of the CSV file. */
const char *CsvHeader();
/** One CSV line of a record (no line end). */
std::string CsvLine(const FrameRecord &r);

/** A rectangle of output pixels: [x, x + w) x [y, y + h). */
struct PixelRect {
    uint32_t x = 0, y = 0, w = 0, h = 0;
};

/**
 * The pixels of neutral patch `patch` (0 darkest to 5 brightest) of the test chart that a sensor saw at
 * chartWidth x chartHeight, in an output of outWidth x outHeight that shows the whole sensor frame: the middle half of
 * the patch in each direction, away from its edges (blurred by the lens, the demosaic and the scaler). Empty when the
 * chart is too small to hold the patch or the patch index is outside 0 to 5.
 */
PixelRect NeutralPatchWindow(uint32_t chartWidth, uint32_t chartHeight, uint32_t outWidth, uint32_t outHeight,
                             int patch);

/** A packed 8-bit RGB image in memory: one plane, `pixelStride` bytes per pixel, `offsets` of red, green, blue. */
struct PackedRgb {
    const uint8_t *data = nullptr;
    uint32_t width = 0, height = 0;
    size_t rowStride = 0;
    unsigned pixelStride = 3;
    unsigned offsets[3] = {0, 1, 2};
};

/** Mean red, green and blue codes over `window` (clipped to the image); false when nothing of it is inside. */
bool MeanRgb(const PackedRgb &image, const PixelRect &window, double rgb[3]);

/** How close to the last frame a frame must be for the loops to count as settled there. */
struct SettleBands {
    double exposureProduct = 0.05; /**< relative, of exposure time x gain */
    double brightness = 0.03;      /**< absolute */
    double temperature = 0.02;     /**< relative */
    double temperatureFloor = 20;  /**< kelvin, the least band */
    double patch = 0.02;           /**< relative, per channel */
    double patchFloor = 2.0;       /**< codes, the least band */
    long minFrames = 10;           /**< frames that must stay in the bands, the last one included */
};

/**
 * Follows a stream frame by frame and tells, whenever asked, what SettledFrom() and SettledLine() tell of all the
 * frames it was given, with memory taken once: for each measure (exposure time x gain, brightness, colour
 * temperature, the patch's red, green, blue) it keeps only the frames that lie above, and those that lie below,
 * every later frame (the only ones that can be the last frame out of the bands, whatever the last frame is), each
 * with the record of the frame after it. A settling series keeps few of them (its approach, then as many as the
 * noise sets new records, a handful); a long drift without noise can fill a list: its two neighbours closest in
 * value are then taken as one, the farther value at the later frame, so that the answer can come a little later
 * than the exact one, never earlier.
 */
class SettleTracker {
public:
    explicit SettleTracker(const SettleBands &bands = SettleBands(), size_t capacity = kCapacity);
    /** Takes the next frame; allocates nothing. */
    void add(const FrameRecord &r);
    /** Frames given so far. */
    long frames() const { return count_; }
    /** As SettledFrom() of the frames given. */
    long settledFrom() const;
    /** As SettledLine() of the frames given. */
    std::string line() const;

    /** Frames each list keeps by default. */
    static constexpr size_t kCapacity = 1024;

private:
    struct Entry {
        double value;
        long index; /**< position in the stream, 0 for the first frame */
        FrameRecord next;
        bool hasNext;
    };
    struct Extremes {
        std::vector<Entry> entries; // oldest first; capacity taken at construction
        bool above = true;          // true: each lies above every later frame, false: below
    };
    static constexpr int kMeasures = 6;
    static double measure(const FrameRecord &f, int m);
    bool outside(double value, const FrameRecord &last, int m) const;
    void push(Extremes &x, double value);
    /** The stream position of the last frame out of the bands of the last frame; -1 when none is. */
    long lastOutsideBands() const;
    /** The record at a stream position that is the first frame or follows a kept frame. */
    const FrameRecord *recordAfter(long index) const;

    SettleBands bands_;
    size_t capacity_;
    long count_ = 0;
    FrameRecord first_{};
    FrameRecord last_{};
    Extremes extremes_[kMeasures][2];
};

/**
 * The first frame from which every later frame stays within `bands` of the last frame in exposure time x gain,
 * brightness, colour temperature and patch colour, when that holds for at least bands.minFrames frames; -1
 * otherwise (the loops still moving, or too few frames to tell).
 */
long SettledFrom(const std::vector<FrameRecord> &frames, const SettleBands &bands = SettleBands());

/**
 * The one line that says how the loops settled, for example
 *   "Settled at frame 42: exposure 16.6 ms, gain 1.0, 3010 K, grey patch 118/119/118"
 * or, when they did not,
 *   "Not settled in 90 frames; frame 89: exposure 16.6 ms, gain 1.0, 3010 K, grey patch 118/119/118"
 * and "No frames" for an empty log.
 */
std::string SettledLine(const std::vector<FrameRecord> &frames, const SettleBands &bands = SettleBands());

} // namespace norva_tools

#endif
