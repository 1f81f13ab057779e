#ifndef NORVA_TEST_ISP_FRAME_H
#define NORVA_TEST_ISP_FRAME_H

/*
 * The plumbing of one frame through the device model: the input of a test chart, the settings from a register
 * image, and a semi-planar YUV output in a caller's buffer. What they point to must outlive the frame.
 */

#include <cstdint>
#include <vector>

#include "platform/sim_isp_model.h"
#include "support/bayer_scene.h"

namespace norva_test {

/** The chart's samples, size and bit depth as the model's input. */
inline norva_sim::IspInputFrame IspInputOf(const BayerScene &scene) {
    norva_sim::IspInputFrame in;
    in.samples = scene.samples.data();
    in.width = scene.options.width;
    in.height = scene.options.height;
    in.bitDepth = scene.options.bitDepth;
    return in;
}

inline norva_sim::IspFrameSettings IspSettingsOf(const CI_PIPELINE &registers, const CI_PIPE_INFO &info,
                                                 const CI_MODULE_GMA_LUT &gamma) {
    norva_sim::IspFrameSettings s;
    s.registers = &registers;
    s.info = &info;
    s.gamma = &gamma;
    return s;
}

/** The whole buffer as semi-planar YUV: luma rows of stride bytes, then the chroma rows (same stride). */
inline norva_sim::IspOutputBuffer SemiPlanarOutput(std::vector<uint8_t> &buffer, uint32_t stride, uint32_t height) {
    norva_sim::IspOutputBuffer b;
    b.data = buffer.data();
    b.size = buffer.size();
    b.stride = b.chromaStride = stride;
    b.chromaOffset = stride * height;
    return b;
}

} // namespace norva_test

#endif
