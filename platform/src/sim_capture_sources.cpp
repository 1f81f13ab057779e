// Frame sources of the capture engine: the test pattern written into every output, and the frames a started data
// generator queued on its gasket (processed by the image model).
#include "platform/sim_capture.h"
#include "platform/sim_frame_source.h"
#include "platform/sim_isp.h"
#include "sim_capture_internal.h"
#include "sim_gasket_internal.h"

namespace norva_sim {
namespace {

/* ---- the test pattern ---- */

class TestPattern : public SimFrameSource {
public:
    bool ready(unsigned) override { return true; }
    bool begin(unsigned) override { return true; }
    void render(const SimFrameContext &ctx) override {
        for (unsigned o = 0; o < SIM_OUT_N; o++) {
            const SimOutputTarget &t = ctx.outputs[o];
            if (!t.present)
                continue;
            for (unsigned p = 0; p < t.planes; p++) {
                uint32_t rowBytes = 0, rows = 0;
                SimPlaneExtent(t, p, &rowBytes, &rows);
                for (uint32_t y = 0; y < rows; y++) {
                    if (!t.tiled) {
                        uint8_t *row = SimOutputByte(t, p, 0, y);
                        for (uint32_t x = 0; x < rowBytes; x++)
                            row[x] = TestPatternByte(ctx.frameNumber, o, p, x, y);
                    } else {
                        for (uint32_t x = 0; x < rowBytes; x++) {
                            *SimOutputByte(t, p, x, y) = TestPatternByte(ctx.frameNumber, o, p, x, y);
                        }
                    }
                }
            }
        }
    }
    void end(unsigned) override {}
};

/**
 * Frames a started data generator queued on its gasket: taken when a capture needs one, delivered, then marked
 * processed (the generator's buffer is free again and its wait ends). The samples go through the image model of
 * each pipeline (or, when a test asks for it, every output gets the test pattern of the frame).
 */
class DatagenFrames : public SimFrameSource {
public:
    bool ready(unsigned gasket) override { return QueuedSourceFrames(gasket) > 0; }
    bool begin(unsigned gasket) override {
        taken[gasket] = TakeSourceFrame(gasket, &current[gasket]);
        return taken[gasket];
    }
    void render(const SimFrameContext &ctx) override { TestPatternSource().render(ctx); }
    bool bayer(unsigned gasket, IspInputFrame *frame) override {
        if (DatagenPatternWanted() || gasket >= CI_N_IMAGERS || !taken[gasket])
            return false;
        const SourceFrame &f = current[gasket];
        frame->samples = f.samples;
        frame->width = f.width;
        frame->height = f.height;
        frame->rowStride = f.width;
        frame->bitDepth = f.bitDepth;
        return true;
    }
    void end(unsigned gasket) override {
        if (taken[gasket])
            MarkSourceFrameProcessed(current[gasket]);
        taken[gasket] = false;
    }

private:
    SourceFrame current[CI_N_IMAGERS];
    bool taken[CI_N_IMAGERS] = {false, false, false, false};
};

} // namespace

SimFrameSource &TestPatternSource() {
    static TestPattern p;
    return p;
}

SimFrameSource &DatagenFrameSource() {
    static DatagenFrames d;
    return d;
}

} // namespace norva_sim
