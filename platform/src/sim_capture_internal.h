#ifndef NORVA_SIM_CAPTURE_INTERNAL_H
#define NORVA_SIM_CAPTURE_INTERNAL_H

/* Parts of the capture engine (isp_capture.cpp) kept in their own files: frame sources and output geometry. */

#include <cstdint>

#include "platform/sim_capture.h"
#include "platform/sim_pipeline.h"

namespace norva_sim {

enum class BufferState { Free, Pending, Acquired };

struct SimBuffer {
    uint32_t id = 0;
    int kind = 0;
    uint32_t size = 0;
    bool tiled = false;
    BufferState state = BufferState::Free;
    uint8_t *host = nullptr;
};

/** Where one output of a triggered frame goes. */
struct OutputPlan {
    uint32_t bufferId = 0;
    uint32_t stride[2] = {0, 0};
    uint32_t rows[2] = {0, 0};
    uint32_t offset[2] = {0, 0};
};

/* ---- frame sources (sim_capture_sources.cpp) ---- */

/** The frames a started data generator queued on its gasket. */
SimFrameSource &DatagenFrameSource();
/** The source plugged into the gasket (SetFrameSource), or null. */
SimFrameSource *PluggedFrameSource(unsigned gasket);
/** Whether data-generator frames are written as the test pattern instead of being processed (isp_capture.cpp). */
bool DatagenPatternWanted();

/* ---- output geometry (sim_capture_geometry.cpp) ---- */

/** The allocation kind (CI_ALLOC_*) of the buffers of output `output` (SIM_OUT_*). */
int outputAllocKind(unsigned output);
/** The format of the pipeline that output `output` (SIM_OUT_*) writes. */
const PIXELTYPE &formatOf(const CI_PIPELINE_CONFIG &cfg, unsigned output);
bool semiPlanar(const PIXELTYPE &f);
/** Width and height the output is written at: the scaler's output (or the imager when bypassed). */
void outputSize(const SimPipelineView &v, unsigned output, uint32_t *width, uint32_t *height);
/** Default layout of an output in a buffer: the layout the capture context allocates. */
bool defaultLayout(const PIXELTYPE &f, unsigned output, uint32_t width, uint32_t height, bool tiled, OutputPlan *plan);
/** Bytes the driver gives a buffer created without a size (0 when the layout cannot be computed). */
uint32_t defaultBufferSize(const SimPipelineView &v, int allocKind, bool tiled);
uint32_t rowBytesOf(const PIXELTYPE &f, unsigned plane, uint32_t width);
/** Plans output `o` of a trigger into buffer `b`; false when the layout does not fit the buffer. */
bool planOutput(const SimPipelineView &v, unsigned o, const SimBuffer &b, uint32_t strideY, uint32_t strideC,
                uint32_t offsetY, uint32_t offsetC, OutputPlan *plan);

} // namespace norva_sim

#endif /* NORVA_SIM_CAPTURE_INTERNAL_H */
