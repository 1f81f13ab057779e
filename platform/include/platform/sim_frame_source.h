#ifndef NORVA_SIM_FRAME_SOURCE_H
#define NORVA_SIM_FRAME_SOURCE_H

/*
 * Frames arriving on a gasket, as a capture engine consumes them. A data-generator frame sent with
 * CI_IIFDG_RELEASE (trigger 1) is queued on the generator's gasket; it is not consumed at that moment, so that
 * every pipeline triggered on that imager (also after the insertion) can still receive it. The engine takes the
 * oldest queued frame when it needs one, delivers it to every pipeline waiting on that imager, then marks it
 * processed: the generator's buffer becomes available again and CI_IIFDG_WAITPROCESSED wakes.
 *
 * Every function here expects the platform lock (PlatformMutex()) held by the caller.
 */

#include <cstddef>
#include <cstdint>

#include "ci/ci_datagen.h"
#include "platform/sim_line_format.h"

namespace norva_sim {

/** One frame taken from a gasket: its description and its unpacked samples. */
struct SourceFrame {
    unsigned gasket = 0;
    int generatorId = -1;
    uint32_t frameId = 0; /* the generator's buffer */
    CI_CONV_FMT format = CI_DGFMT_PARALLEL;
    unsigned bitDepth = 0;
    MOSAICType mosaic = MOSAIC_NONE;
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t stride = 0;
    uint32_t hBlanking = 0;
    uint32_t vBlanking = 0;
    /** width × height samples, row-major; valid while the lock is held and until the frame is marked processed. */
    const uint16_t *samples = nullptr;
    /** Line-format errors found while unpacking (also counted in the gasket's counters). */
    LineErrors errors;
};

/** Frames queued on the gasket and not yet taken. */
size_t QueuedSourceFrames(unsigned gasket);

/**
 * Takes the oldest frame queued on the gasket and unpacks it; false when none is queued. The gasket counts the
 * frame as received (and its MIPI errors). The frame stays the driver's until MarkSourceFrameProcessed.
 */
bool TakeSourceFrame(unsigned gasket, SourceFrame *frame);

/**
 * Ends the processing of a taken frame: its buffer is available again and one wait of its generator is
 * satisfied. False when the frame is no longer being processed (its generator was stopped or removed since).
 */
bool MarkSourceFrameProcessed(const SourceFrame &frame);

/** Bound of a blocking CI_IIFDG_WAITPROCESSED (default 2000 ms; ResetPlatform restores it). */
void SetDatagenWaitTimeoutMs(unsigned milliseconds);

} // namespace norva_sim

#endif /* NORVA_SIM_FRAME_SOURCE_H */
