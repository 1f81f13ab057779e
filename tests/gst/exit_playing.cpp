// Runs a norvasrc on a sensor of the simulated board into a sink pad that drops every buffer, and calls exit()
// once frames flow, with the element still PLAYING: what a program does that ends without stopping its pipeline.
//   norva_gst_exit_playing SENSOR SETUP_FILE STATUS
#include <cstdlib>

#include <gst/gst.h>

extern "C" void gst_plugin_norvasrc_register(void);

namespace {

gint g_buffers = 0;

GstFlowReturn drop(GstPad *, GstObject *, GstBuffer *buffer) {
    gst_buffer_unref(buffer);
    g_atomic_int_inc(&g_buffers);
    return GST_FLOW_OK;
}

} // namespace

int main(int argc, char **argv) {
    if (argc != 4)
        return 2;
    gst_init(&argc, &argv);
    gst_plugin_norvasrc_register();
    GstElement *src = gst_element_factory_make("norvasrc", nullptr);
    if (src == nullptr)
        return 3;
    g_object_set(src, "sensor", argv[1], "setup-file", argv[2], nullptr);
    GstPad *sink = gst_pad_new("sink", GST_PAD_SINK);
    gst_pad_set_chain_function(sink, drop);
    gst_pad_set_active(sink, TRUE);
    GstPad *pad = gst_element_get_static_pad(src, "src");
    if (gst_pad_link(pad, sink) != GST_PAD_LINK_OK)
        return 4;
    if (gst_element_set_state(src, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE)
        return 5;
    for (int i = 0; i < 3000 && g_atomic_int_get(&g_buffers) < 3; ++i)
        g_usleep(10000);
    if (g_atomic_int_get(&g_buffers) < 3)
        return 6;
    std::exit(std::atoi(argv[3]));
}
