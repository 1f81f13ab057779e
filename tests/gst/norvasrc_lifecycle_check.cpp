// norvasrc between NULL and READY on the simulated platform: the capture context built from the parameter file
// and the properties, released again in NULL, and the errors a user can cause, each naming its culprit.
// Every test runs in its own process (libcheck forks), since the parameter file's name is read once per process.
#include "norvasrc_workspace.h"

#include "gstnorvasrc.h"

extern "C" void gst_plugin_norvasrc_register(void);

using namespace norvasrc_test;

namespace {
void onRowTime(GstElement *, guint64 rowTime, gpointer data) { *static_cast<guint64 *>(data) = rowTime; }
} // namespace

GST_START_TEST(test_ready_builds_context_from_file_and_properties) {
    Workspace ws;
    GstBus *bus = nullptr;
    GstElement *src = makeSource(&bus);
    guint64 rowTime = G_MAXUINT64; // the data generator has no row time: the signal carries 0
    g_signal_connect(src, "sensor-row-time", G_CALLBACK(onRowTime), &rowTime);

    fail_unless_equals_int(gst_element_set_state(src, GST_STATE_READY), GST_STATE_CHANGE_SUCCESS);
    fail_unless(rowTime == 0, "sensor row time %" G_GUINT64_FORMAT " signalled", rowTime);

    // Properties the application left alone take the file's values; the sensor's limits are published.
    guint allocBuffers = 0, preenqBuffers = 0, maxTime = 0;
    gchar *setupCtx0 = nullptr;
    gfloat minGain = -1.0f, maxGain = -1.0f;
    g_object_get(src, "alloc-buffers", &allocBuffers, "preenq-buffers", &preenqBuffers, "setup-file-ctx0", &setupCtx0,
                 "exposure-max-time", &maxTime, "exposure-min-gain", &minGain, "exposure-max-gain", &maxGain, nullptr);
    fail_unless_equals_int(allocBuffers, 3);
    fail_unless_equals_int(preenqBuffers, 1);
    fail_unless_equals_string(setupCtx0, ws.setup.c_str());
    fail_unless(maxTime > 0);
    // The data generator's gain is fixed at unity: 0 dB both ways.
    fail_unless(minGain == 0.0f && maxGain == 0.0f);
    g_free(setupCtx0);
    fail_unless(errorText(bus).empty());
    dropSource(src, bus);
}
GST_END_TEST;

// In NULL the element holds nothing: a second element takes the same context, and one element cycles.
GST_START_TEST(test_null_releases_the_context) {
    Workspace ws;
    GstBus *busA = nullptr, *busB = nullptr;
    GstElement *a = makeSource(&busA);
    GstElement *b = makeSource(&busB);
    for (int cycle = 0; cycle < 3; ++cycle) {
        fail_unless_equals_int(gst_element_set_state(a, GST_STATE_READY), GST_STATE_CHANGE_SUCCESS);
        fail_unless_equals_int(gst_element_set_state(a, GST_STATE_NULL), GST_STATE_CHANGE_SUCCESS);
        fail_unless_equals_int(gst_element_set_state(b, GST_STATE_READY), GST_STATE_CHANGE_SUCCESS);
        fail_unless_equals_int(gst_element_set_state(b, GST_STATE_NULL), GST_STATE_CHANGE_SUCCESS);
    }
    fail_unless(errorText(busA).empty() && errorText(busB).empty());
    dropSource(a, busA);
    dropSource(b, busB);
}
GST_END_TEST;

namespace {

struct BadInput {
    const char *name;
    const char *sensor;     // the "sensor" property
    const char *setupFile;  // the "setup-file" property, or null
    const char *paramExtra; // appended to the parameter file
    const char *named;      // the name the error message must contain (null: the parameter file's path)
};

const BadInput kBadInputs[] = {
    {"unknown sensor", "no-such-sensor", nullptr, "", "no-such-sensor"},
    {"missing setup file", kDataGenerator, "/nonexistent/norva-setup.txt", "", "/nonexistent/norva-setup.txt"},
    {"help in parameter file", kDataGenerator, nullptr, "-h", nullptr},
    {"bad number in parameter file", kDataGenerator, nullptr, "-CT0_nBuffers many", nullptr},
};

} // namespace

GST_START_TEST(test_user_errors_name_their_culprit) {
    const BadInput &row = kBadInputs[__i__];
    Workspace ws;
    ws.writeParams(row.paramExtra);
    GstBus *bus = nullptr;
    GstElement *src = makeSource(&bus);
    g_object_set(src, "sensor", row.sensor, nullptr);
    if (row.setupFile != nullptr)
        g_object_set(src, "setup-file", row.setupFile, nullptr);

    fail_unless_equals_int(gst_element_set_state(src, GST_STATE_READY), GST_STATE_CHANGE_FAILURE);
    const std::string text = errorText(bus);
    const std::string named = row.named != nullptr ? row.named : ws.params;
    fail_unless(text.find(named) != std::string::npos, "%s: error \"%s\" does not name %s", row.name, text.c_str(),
                named.c_str());
    fail_unless_equals_int(GST_STATE(src), GST_STATE_NULL);

    // Put right, the same element reaches READY: the failure kept nothing behind.
    ws.writeParams("");
    g_object_set(src, "sensor", kDataGenerator, "setup-file", nullptr, nullptr);
    fail_unless(gst_element_set_state(src, GST_STATE_READY) == GST_STATE_CHANGE_SUCCESS, "%s: not READY after the fix",
                row.name);
    dropSource(src, bus);
}
GST_END_TEST;

static Suite *norvasrc_lifecycle_suite(void) {
    Suite *s = suite_create("norvasrc_lifecycle");
    TCase *tc = tcase_create("lifecycle");
    tcase_set_timeout(tc, 60);
    suite_add_tcase(s, tc);
    tcase_add_test(tc, test_ready_builds_context_from_file_and_properties);
    tcase_add_test(tc, test_null_releases_the_context);
    tcase_add_loop_test(tc, test_user_errors_name_their_culprit, 0, G_N_ELEMENTS(kBadInputs));
    return s;
}

int main(int argc, char **argv) {
    gst_check_init(&argc, &argv);
    gst_plugin_norvasrc_register();
    Suite *s = norvasrc_lifecycle_suite();
    return gst_check_run_suite(s, "norvasrc_lifecycle", __FILE__);
}
