// norvasrc's images against the capture context's own capture on the same simulated platform: with the controls
// fixed (no automatic exposure or white balance, fixed gains), the luma plane of an NV12 buffer read through its
// video meta is, byte for byte, the luma the capture context captures itself of the same scene frame, with and
// without scaling, at a width whose stride is padded (720 wide, 768-byte rows).
// The capture context first: the check library defines a macro named fail.
#include "testcontext.h"
#include "testparam.h"

#include "norvasrc_workspace.h"

#include <cstring>
#include <string>
#include <vector>

#include <gst/check/gstharness.h>
#include <gst/video/video.h>

extern "C" void gst_plugin_norvasrc_register(void);

using namespace norvasrc_test;

namespace {

struct ImageCase {
    const char *sceneWidth, *sceneHeight;
    unsigned width, height; // the NV12 output
};

const ImageCase kImageCases[] = {
    {"640", "480", 640, 480}, // the sensor's size: no scaling
    {"960", "720", 720, 540}, // scaled, rows padded to 768 bytes
};

/** Frames captured before the compared one, in both captures: the same history of the device. */
constexpr int kFrame = 4;

/** The fixed white balance and exposure both captures use. */
constexpr unsigned kExposureUs = 15000;

/** Luma rows of one frame, without their padding. */
using Luma = std::vector<guint8>;

/** The luma of frame kFrame as the capture context captures it itself, with the parameter file of `ws`. */
Luma contextLuma(const Workspace &ws, unsigned width, unsigned height) {
    TEST_PARAM param;
    std::string program, option = "-source", name = ws.params;
    char *argv[] = {&program[0], &option[0], &name[0], nullptr};
    fail_unless_equals_int(param.load_parameters(3, argv), 0);
    TestContext context;
    fail_unless(context.preconfigure(param, 0), "the capture context cannot be set up");
    BufferFormat format;
    format.format = YUV_420_PL12_8;
    format.width = width;
    format.height = height;
    BufferFrameBounds bounds{0, 0, 0, 0};
    fail_unless(context.configureOutput(format, &bounds), "no NV12 output of %ux%u", width, height);
    // What the element programs with the properties its test sets (below).
    context.enableGMA(true);
    context.setWhiteBalanceCorrectionType(5);
    context.setRedBalance(1.0);
    context.setBlueBalance(1.0);
    context.enableBlackWhiteMode(false);
    context.enableWDRAuto(false);
    // The image settings at the properties' defaults, which the element applies at start.
    context.setBrightness(0.0);
    context.setContrast(1.0);
    context.setSaturation(1.0);
    context.setSharpness(0.5);
    context.setDenoiserLevel(0.5);
    context.setWDRLevel(0.0);
    context.enableFlickerRejection(false, 0.0);
    context.enableAutoExposure(false);
    ISPC::Camera &camera = *context.pCamera;
    fail_unless_equals_int(camera.startCapture(), QOR_RES_OK);
    fail_unless_equals_int(context.getSensor()->setExposureGain(kExposureUs, 1.0), QOR_RES_OK);
    Luma luma;
    for (int i = 0; i <= kFrame; ++i) {
        fail_unless_equals_int(camera.enqueueShot(), QOR_RES_OK);
        ISPC::Shot shot;
        fail_unless_equals_int(camera.acquireShot(shot, true, true), QOR_RES_OK);
        if (i == kFrame) {
            fail_unless(shot.YUV.data != nullptr && shot.YUV.width == width && shot.YUV.height == height);
            for (unsigned row = 0; row < height; ++row) {
                const guint8 *line = shot.YUV.data + shot.YUV.offset + static_cast<size_t>(row) * shot.YUV.stride;
                luma.insert(luma.end(), line, line + width);
            }
        }
        fail_unless_equals_int(camera.releaseShot(shot), QOR_RES_OK);
    }
    fail_unless(context.stopCapture());
    return luma;
}

/** The luma of frame kFrame of norvasrc's NV12 output, read through the buffer's video meta. */
Luma elementLuma(unsigned width, unsigned height, gint *stride) {
    GstBus *bus = nullptr;
    GstElement *src = makeSource(&bus);
    g_object_set(src, "use-dmabuf", FALSE, "exposure-auto", FALSE, "exposure-time", kExposureUs, "exposure-gain", 0.0f,
                 "awb-enable", FALSE, "red-balance", 1.0f, "blue-balance", 1.0f, "night-mode", FALSE, "wdr-auto", FALSE,
                 "gma-enable", TRUE, "alloc-buffers", 3, "preenq-buffers", 0, nullptr);
    gst_util_set_object_arg(G_OBJECT(src), "ff-mode", "OFF");
    GstHarness *h = gst_harness_new_with_element(src, nullptr, "src");
    // A peer that reads the video meta gets the device's rows as they are, padding and all.
    gst_harness_add_propose_allocation_meta(h, GST_VIDEO_META_API_TYPE, nullptr);
    gchar *caps = g_strdup_printf("video/x-raw, format=NV12, width=%u, height=%u", width, height);
    gst_harness_set_sink_caps_str(h, caps);
    g_free(caps);
    gst_harness_use_systemclock(h);
    gst_harness_play(h);
    Luma luma;
    for (int i = 0; i <= kFrame; ++i) {
        GstBuffer *buffer = gst_harness_pull(h);
        fail_unless(buffer != nullptr, "no buffer: %s", errorText(bus).c_str());
        if (i == kFrame) {
            GstVideoMeta *meta = gst_buffer_get_video_meta(buffer);
            fail_unless(meta != nullptr && meta->width == width && meta->height == height);
            *stride = meta->stride[0];
            GstMapInfo map;
            fail_unless(gst_buffer_map(buffer, &map, GST_MAP_READ));
            fail_unless(meta->offset[0] + static_cast<gsize>(meta->stride[0]) * (height - 1) + width <= map.size);
            for (unsigned row = 0; row < height; ++row) {
                const guint8 *line = map.data + meta->offset[0] + static_cast<gsize>(row) * meta->stride[0];
                luma.insert(luma.end(), line, line + width);
            }
            gst_buffer_unmap(buffer, &map);
        }
        gst_buffer_unref(buffer);
    }
    fail_unless(errorText(bus).empty());
    gst_harness_teardown(h);
    dropSource(src, bus);
    return luma;
}

} // namespace

GST_START_TEST(test_luma_equals_the_context_capture) {
    const ImageCase &c = kImageCases[__i__];
    Workspace ws(c.sceneWidth, c.sceneHeight);
    ws.writeParams("-CT0_AE 0 -CT0_WBC 0");
    const Luma expected = contextLuma(ws, c.width, c.height);
    gint stride = 0;
    const Luma got = elementLuma(c.width, c.height, &stride);
    fail_unless_equals_int(stride, (c.width + 63) / 64 * 64);
    fail_unless_equals_int(got.size(), expected.size());
    size_t first = got.size();
    for (size_t i = 0; i < got.size() && first == got.size(); ++i)
        first = got[i] != expected[i] ? i : first;
    fail_unless(first == got.size(), "%ux%u: luma differs first at row %zu, column %zu: %u, the context's %u", c.width,
                c.height, first / c.width, first % c.width, got[first], expected[first]);
    // Not a flat image: the scene's patches and ramp are there.
    guint8 low = 255, high = 0;
    for (guint8 v : got) {
        low = v < low ? v : low;
        high = v > high ? v : high;
    }
    fail_unless(high - low > 100, "luma from %u to %u only", low, high);
}
GST_END_TEST;

static Suite *norvasrc_image_suite(void) {
    Suite *s = suite_create("norvasrc_image");
    TCase *tc = tcase_create("image");
    tcase_set_timeout(tc, 60);
    suite_add_tcase(s, tc);
    tcase_add_loop_test(tc, test_luma_equals_the_context_capture, 0, G_N_ELEMENTS(kImageCases));
    return s;
}

int main(int argc, char **argv) {
    gst_check_init(&argc, &argv);
    gst_plugin_norvasrc_register();
    Suite *s = norvasrc_image_suite();
    return gst_check_run_suite(s, "norvasrc_image", __FILE__);
}
