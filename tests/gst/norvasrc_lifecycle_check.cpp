// norvasrc between NULL and READY on the simulated platform: the capture context built from the parameter file
// and the properties, released again in NULL, and the errors a user can cause, each naming its culprit.
// Every test runs in its own process (libcheck forks), since the parameter file's name is read once per process.
#include "norvasrc_workspace.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

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

// What the element logged under its GStreamer debug category at error level, and what the capture context logged
// on standard error, while a state change ran.
std::vector<std::string> g_errors;

void collectErrors(GstDebugCategory *category, GstDebugLevel level, const gchar *, const gchar *, gint, GObject *,
                   GstDebugMessage *message, gpointer) {
    if (level == GST_LEVEL_ERROR && std::strcmp(gst_debug_category_get_name(category), "norvasrc") == 0)
        g_errors.push_back(gst_debug_message_get(message));
}

struct Logs {
    std::vector<std::string> element; // the element's error lines
    std::string stderrText;           // the capture context's logger
};

template <typename F> Logs logsOf(F &&f) {
    Logs logs;
    g_errors.clear();
    gst_debug_set_active(TRUE);
    gst_debug_set_threshold_for_name("norvasrc", GST_LEVEL_ERROR);
    gst_debug_add_log_function(collectErrors, nullptr, nullptr);
    gchar *path = nullptr;
    const int file = g_file_open_tmp("norvasrc-stderr-XXXXXX", &path, nullptr);
    fail_unless(file >= 0);
    fflush(stderr);
    const int saved = dup(STDERR_FILENO);
    dup2(file, STDERR_FILENO);
    f();
    fflush(stderr);
    dup2(saved, STDERR_FILENO);
    close(saved);
    close(file);
    gchar *text = nullptr;
    fail_unless(g_file_get_contents(path, &text, nullptr, nullptr));
    logs.stderrText = text;
    g_free(text);
    g_remove(path);
    g_free(path);
    gst_debug_remove_log_function(collectErrors);
    gst_debug_set_threshold_for_name("norvasrc", GST_LEVEL_NONE);
    logs.element = g_errors;
    return logs;
}

constexpr const char *kParamsFile = "%params"; // stands for the parameter file's path

struct BadInput {
    const char *name;
    const char *sensor;     // the "sensor" property
    const char *setupFile;  // the "setup-file" property, or null
    const char *paramExtra; // appended to the parameter file
    const char *message;    // the error's text
    const char *detail;     // what its debug detail says (kParamsFile: names the parameter file)
    const char *logged[2];  // the capture context's lines on standard error, in this order
    const char *elementLog; // the element's error lines (each once, in this order), "|"-separated
};

const BadInput kBadInputs[] = {
    {"unknown sensor",
     "no-such-sensor",
     nullptr,
     "",
     "Failed to configure context 0",
     "Unknown sensor \"no-such-sensor\".",
     {"failed to create camera with sensor for context 0\n", "failed to create camera for context 0\n"},
     "Failed to configure context 0"},
    {"missing setup file",
     kDataGenerator,
     "/nonexistent/norva-setup.txt",
     "",
     "Failed to configure context 0",
     "Setup file \"/nonexistent/norva-setup.txt\" cannot be read.",
     {"failed to parse parameter file: /nonexistent/norva-setup.txt\n", nullptr},
     "Failed to configure context 0"},
    {"help in parameter file",
     kDataGenerator,
     nullptr,
     "-h",
     "Error has occurred while loading parameters",
     kParamsFile,
     {nullptr, nullptr},
     "Error has occurred while loading parameters\n|Error has occurred while loading parameters"},
    {"bad number in parameter file",
     kDataGenerator,
     nullptr,
     "-CT0_nBuffers many",
     "Error has occurred while loading parameters",
     kParamsFile,
     {nullptr, nullptr},
     "Error has occurred while loading parameters\n|Error has occurred while loading parameters"},
};

} // namespace

// A user's mistake fails NULL to READY with the element's error text; its debug detail names the culprit, and the
// capture context and the element log their own lines on the way.
GST_START_TEST(test_user_errors_name_their_culprit) {
    const BadInput &row = kBadInputs[__i__];
    Workspace ws;
    ws.writeParams(row.paramExtra);
    GstBus *bus = nullptr;
    GstElement *src = makeSource(&bus);
    g_object_set(src, "sensor", row.sensor, nullptr);
    if (row.setupFile != nullptr)
        g_object_set(src, "setup-file", row.setupFile, nullptr);

    const Logs logs =
        logsOf([&] { fail_unless_equals_int(gst_element_set_state(src, GST_STATE_READY), GST_STATE_CHANGE_FAILURE); });
    GstMessage *msg = gst_bus_pop_filtered(bus, GST_MESSAGE_ERROR);
    fail_unless(msg != nullptr, "%s: no error on the bus", row.name);
    GError *error = nullptr;
    gchar *debug = nullptr;
    gst_message_parse_error(msg, &error, &debug);
    fail_unless_equals_string(error->message, row.message);
    const std::string detail = debug != nullptr ? debug : "";
    const std::string named = std::strcmp(row.detail, kParamsFile) == 0 ? ws.params : row.detail;
    fail_unless(detail.find(named) != std::string::npos, "%s: debug detail \"%s\" does not say %s", row.name,
                detail.c_str(), named.c_str());
    g_error_free(error);
    g_free(debug);
    gst_message_unref(msg);
    fail_unless_equals_int(GST_STATE(src), GST_STATE_NULL);

    size_t at = 0;
    for (const char *line : row.logged) {
        if (line == nullptr)
            continue;
        const size_t found = logs.stderrText.find(line, at);
        fail_unless(found != std::string::npos, "%s: \"%s\" not logged in order:\n%s", row.name, line,
                    logs.stderrText.c_str());
        at = found + std::strlen(line);
    }
    gchar **lines = g_strsplit(row.elementLog, "|", -1);
    fail_unless_equals_int(logs.element.size(), g_strv_length(lines));
    for (guint i = 0; lines[i] != nullptr; ++i)
        fail_unless_equals_string(logs.element[i].c_str(), lines[i]);
    g_strfreev(lines);

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
