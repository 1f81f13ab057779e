// Sensors of the simulated board through the elements, two at a time: norvamultisrc with a branch on each ISP
// context (the slave's white balance is the main's, a blocked branch stalls nothing), two norvasrc processes on two
// sensors that share exposure and gain through "-sensorExposureSync", and "restart-on-error" on a sensor streaming
// with automatic exposure. Figures come from the decoded output, the buffers' metas, the elements' properties and
// what each board's sensor registers say.
#include <signal.h>
#include <sys/wait.h>

#include "norvasrc_board.h"

#include <cstring>
#include <atomic>
#include <sstream>

#include "gstnorvameta.h"
#include "platform/sim_board.h"
#include "platform/sim_capture.h"
#include "platform/sim_world.h"

extern "C" void gst_plugin_norvasrc_register(void);

using namespace norvasrc_test;

namespace {

/** The OV4689's 2-lane 1344x760 mode: its smallest, with the colour response its setup was calibrated on. */
constexpr guint kMode = 0x03;

/** A temporary folder, removed with what the test wrote into it. */
struct TempDir {
    std::string path;
    TempDir() {
        gchar *made = g_dir_make_tmp("norvasrc-two-XXXXXX", nullptr);
        fail_unless(made != nullptr);
        path = made;
        g_free(made);
    }
    ~TempDir() {
        GDir *dir = g_dir_open(path.c_str(), 0, nullptr);
        if (dir != nullptr) {
            while (const gchar *name = g_dir_read_name(dir))
                g_remove((path + "/" + name).c_str());
            g_dir_close(dir);
        }
        g_rmdir(path.c_str());
    }
};

/**
 * The calibrated OV4689 setup with its lens-shading grids named by absolute paths (the committed file names them
 * relative to the repository's root), written into `dir`.
 */
std::string calibratedSetup(const TempDir &dir) {
    std::ifstream in(NORVA_CALIBRATED_SETUP);
    fail_unless(in.good(), "cannot read %s", NORVA_CALIBRATED_SETUP);
    std::ostringstream out;
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("LSH_CTRL_FILE_", 0) == 0) {
            const size_t space = line.find(' ');
            fail_unless(space != std::string::npos, "%s", line.c_str());
            line = line.substr(0, space + 1) + NORVA_SOURCE_DIR + "/" + line.substr(space + 1);
        }
        out << line << '\n';
    }
    const std::string path = dir.path + "/ov4689.txt";
    std::ofstream(path) << out.str();
    return path;
}

/** The next buffer of `h` within 20 s, or null. */
GstBuffer *pullWithin(GstHarness *h) {
    for (int i = 0; i < 2000; ++i) {
        GstBuffer *buffer = gst_harness_try_pull(h);
        if (buffer != nullptr)
            return buffer;
        g_usleep(10000);
    }
    return nullptr;
}

/** Red and blue of a neutral patch against its green. */
struct Balance {
    double red = 0, blue = 0;
};

Balance balanceOf(const Image &image) {
    norva_sim::SceneRect r = norva_sim::SceneGreyPatch(image.width, image.height);
    const guint inset = (r.x1 - r.x0) / 5;
    const double g = image.mean(r.x0 + inset, r.y0 + inset, r.x1 - inset, r.y1 - inset, 1);
    fail_unless(g > 10.0, "the grey patch is dark (%.1f)", g);
    return {image.mean(r.x0 + inset, r.y0 + inset, r.x1 - inset, r.y1 - inset, 2) / g,
            image.mean(r.x0 + inset, r.y0 + inset, r.x1 - inset, r.y1 - inset, 0) / g};
}

/** The BGR image of a buffer at the negotiated caps of the harness's sink. */
Image imageFrom(GstHarness *h, GstBuffer *buffer) {
    GstCaps *caps = gst_pad_get_current_caps(h->sinkpad);
    fail_unless(caps != nullptr);
    gint width = 0, height = 0;
    const GstStructure *st = gst_caps_get_structure(caps, 0);
    fail_unless(gst_structure_get_int(st, "width", &width) && gst_structure_get_int(st, "height", &height));
    gst_caps_unref(caps);
    return imageOf(buffer, static_cast<guint>(width), static_cast<guint>(height));
}

GstPadProbeReturn holdBranch(GstPad *, GstPadProbeInfo *, gpointer) { return GST_PAD_PROBE_OK; }

} // namespace

// norvamultisrc on a board with two sensors, a branch on each context: the second context is a slave of the main
// one and takes its frames from the main context's sensor (the second sensor stays off). Both branches receive
// every frame; the gain-based white balance, measured on the main context under a 3000 K light, corrects both
// branches alike frame by frame and makes the grey patch neutral on both. A branch blocked downstream takes no
// frame while the other receives every frame; unblocked, it goes on with newer frames.
GST_START_TEST(test_multisrc_slave_follows_main) {
    fail_unless(plugSensors("OV4689_0,OV4689_1"));
    fail_unless(norva_sim::SetIlluminant(3000.0));
    TempDir dir;
    const std::string setup = calibratedSetup(dir);
    // The second context needs a sensor name of its own to be valid; its imager is still the main context's.
    const std::string params = dir.path + "/params.txt";
    std::ofstream(params) << "-sensorNumber 2 -CT0_sensor OV4689_0 -CT0_sensorMode " << kMode
                          << " -CT1_sensor OV4689_1 -CT1_sensorMode " << kMode << "\n";
    g_setenv("GST_NORVASRC_PARAMS_FILE", params.c_str(), TRUE);
    GstElement *multi = gst_element_factory_make("norvamultisrc", nullptr);
    GstBus *bus = gst_bus_new();
    gst_element_set_bus(multi, bus);
    g_object_set(multi, "sensor", "OV4689_0", "sensor-mode", kMode, "setup-file", setup.c_str(), "exposure-auto", TRUE,
                 "awb-enable", TRUE, "alloc-buffers", 4u, "preenq-buffers", 1u, nullptr);
    gst_util_set_object_arg(G_OBJECT(multi), "awb-algorithm", "normal");
    gst_util_set_object_arg(G_OBJECT(multi), "awb-mode", "average");
    GstHarness *h[2] = {gst_harness_new_with_element(multi, nullptr, "src_%u"),
                        gst_harness_new_with_element(multi, nullptr, "src_%u")};
    gst_harness_set_sink_caps_str(h[0], "video/x-raw, format=BGR, width=672, height=380");
    gst_harness_set_sink_caps_str(h[1], "video/x-raw, format=BGR, width=336, height=190");
    GstPad *slavePad = gst_element_get_static_pad(multi, "src_1");
    g_object_set(slavePad, "context", 1, nullptr);
    gst_harness_play(h[0]);
    gst_harness_play(h[1]);

    // The pads' first frames: the one that starts first drains to its newest until the other has one.
    guint64 offset[2] = {0, 0};
    GstBuffer *first[2] = {pullWithin(h[0]), pullWithin(h[1])};
    fail_unless(first[0] != nullptr && first[1] != nullptr, "%s", errorText(bus).c_str());
    for (int p = 0; p < 2; ++p) {
        offset[p] = GST_BUFFER_OFFSET(first[p]);
        gst_buffer_unref(first[p]);
    }
    while (offset[0] != offset[1]) {
        const int behind = offset[0] < offset[1] ? 0 : 1;
        GstBuffer *b = pullWithin(h[behind]);
        fail_unless(b != nullptr);
        offset[behind] = GST_BUFFER_OFFSET(b);
        gst_buffer_unref(b);
    }
    guint current = 0;
    g_object_get(slavePad, "current-context", &current, nullptr);
    fail_unless_equals_int(current, 1);

    constexpr int kFrames = 20;
    Balance start, end[2];
    for (int i = 1; i <= kFrames; ++i) {
        Balance b[2];
        for (int p = 0; p < 2; ++p) {
            GstBuffer *buffer = pullWithin(h[p]);
            fail_unless(buffer != nullptr, "pad %d: no frame %d", p, i);
            fail_unless_equals_uint64(GST_BUFFER_OFFSET(buffer), offset[0] + static_cast<guint64>(i));
            b[p] = balanceOf(imageFrom(h[p], buffer));
            gst_buffer_unref(buffer);
        }
        if (i == 1)
            start = b[0];
        end[0] = b[0];
        end[1] = b[1];
        // One frame through two pipelines with one white balance: the same colour on both, from the frames after
        // the pre-enqueued ones on (within 3 %: the slave's pipeline has no lens shading of its own).
        if (i >= 3)
            fail_unless(std::fabs(b[1].red - b[0].red) <= 0.03 * b[0].red &&
                            std::fabs(b[1].blue - b[0].blue) <= 0.03 * b[0].blue,
                        "frame %d: main R/G %.3f B/G %.3f, slave R/G %.3f B/G %.3f", i, b[0].red, b[0].blue, b[1].red,
                        b[1].blue);
    }
    // The loop did correct (the first frame was not yet neutral) and both branches end neutral.
    fail_unless(std::fabs(start.red - 1.0) > 0.05 || std::fabs(start.blue - 1.0) > 0.05,
                "the first frame was neutral already (R/G %.3f, B/G %.3f)", start.red, start.blue);
    for (int p = 0; p < 2; ++p)
        fail_unless(std::fabs(end[p].red - 1.0) <= 0.03 && std::fabs(end[p].blue - 1.0) <= 0.03,
                    "pad %d: grey patch R/G %.3f, B/G %.3f after %d frames", p, end[p].red, end[p].blue, kFrames);
    norva_sim::BoardSensorView second;
    fail_unless(norva_sim::DefaultBoardSensor("OV4689_1", &second));
    fail_if(second.streaming, "the second sensor streams");

    // The slave's branch blocked downstream: the main branch receives every frame meanwhile.
    const gulong probe = gst_pad_add_probe(slavePad, GST_PAD_PROBE_TYPE_BLOCK_DOWNSTREAM, holdBranch, nullptr, nullptr);
    guint64 last = offset[0] + kFrames;
    for (int i = 0; i < 20; ++i) {
        GstBuffer *buffer = pullWithin(h[0]);
        fail_unless(buffer != nullptr, "the main branch stalled behind the blocked one");
        fail_unless_equals_uint64(GST_BUFFER_OFFSET(buffer), last + 1);
        last = GST_BUFFER_OFFSET(buffer);
        gst_buffer_unref(buffer);
    }
    gst_pad_remove_probe(slavePad, probe);
    guint64 slaveLast = 0;
    for (int i = 0; i < 5; ++i) {
        GstBuffer *buffer = pullWithin(h[1]);
        fail_unless(buffer != nullptr, "the unblocked branch receives nothing");
        slaveLast = GST_BUFFER_OFFSET(buffer);
        gst_buffer_unref(buffer);
        while (GstBuffer *b = gst_harness_try_pull(h[0]))
            gst_buffer_unref(b);
    }
    fail_unless(slaveLast > last - 4,
                "the unblocked branch is at frame %" G_GUINT64_FORMAT ", the main at %" G_GUINT64_FORMAT, slaveLast,
                last);
    fail_unless(errorText(bus).empty());
    gst_object_unref(slavePad);
    gst_harness_teardown(h[1]);
    gst_harness_teardown(h[0]);
    gst_element_set_state(multi, GST_STATE_NULL);
    gst_element_set_bus(multi, nullptr);
    gst_object_unref(bus);
    gst_object_unref(multi);
}
GST_END_TEST;

namespace {

/** A frame of the norvasrc of this process: when it passed its pad, and what element and sensor said. */
struct SyncRecord {
    guint64 offset = 0;
    gint64 timeUs = 0;       /* CLOCK_MONOTONIC, the same in every process */
    guint propertyUs = 0;    /* "exposure-time" */
    double propertyGain = 0; /* "exposure-gain", linear */
    double sensorUs = 0;     /* the sensor's registers */
    double sensorGain = 0;
    double rowUs = 0;
};

/** What a process of the exposure-sharing test runs (environment variables set by the test). */
struct Role {
    bool leader = false;
    std::string sensor;
    std::string setup;
    std::string csv;
    std::string go;   /* the leader: a file whose appearance starts the changes of its exposure */
    guint frames = 0; /* the follower: frames to run; the leader: frames to run after the changes began */
};

/** The leader's changes, counted in its frames from the one that saw the go file. */
constexpr guint kClampAt = 0; /* exposure held at 3000 us: the gain rises beside it */
constexpr guint kDimAt = 6;   /* light down to a tenth: the gain climbs further */

struct ProbeState {
    Role role;
    GstElement *src = nullptr;
    FILE *csv = nullptr;
    std::atomic<guint> seen{0};
    std::atomic<guint> goAt{G_MAXUINT}; /* the frame that saw the go file */
};

/** A property as a double, in a process without the check library's messaging (no fail_unless there). */
double propertyOf(GstElement *element, const char *name) {
    GParamSpec *pspec = g_object_class_find_property(G_OBJECT_GET_CLASS(element), name);
    if (pspec == nullptr)
        return NAN;
    GValue value = G_VALUE_INIT, asDouble = G_VALUE_INIT;
    g_value_init(&value, G_PARAM_SPEC_VALUE_TYPE(pspec));
    g_object_get_property(G_OBJECT(element), name, &value);
    g_value_init(&asDouble, G_TYPE_DOUBLE);
    const double d = g_value_transform(&value, &asDouble) ? g_value_get_double(&asDouble) : NAN;
    g_value_unset(&value);
    g_value_unset(&asDouble);
    return d;
}

GstPadProbeReturn recordFrame(GstPad *, GstPadProbeInfo *info, gpointer data) {
    ProbeState *s = static_cast<ProbeState *>(data);
    GstBuffer *buffer = GST_PAD_PROBE_INFO_BUFFER(info);
    SyncRecord r;
    r.offset = GST_BUFFER_OFFSET(buffer);
    r.timeUs = g_get_monotonic_time();
    g_object_get(s->src, "exposure-time", &r.propertyUs, nullptr);
    r.propertyGain = std::pow(10.0, propertyOf(s->src, "exposure-gain") / 20.0);
    norva_sim::BoardSensorView view;
    if (norva_sim::DefaultBoardSensor(s->role.sensor, &view)) {
        r.sensorUs = view.exposureUs;
        r.sensorGain = view.gain;
        r.rowUs = view.rowTimeUs;
    }
    std::fprintf(s->csv, "%" G_GUINT64_FORMAT ",%" G_GINT64_FORMAT ",%u,%.6f,%.3f,%.6f,%.4f\n", r.offset, r.timeUs,
                 r.propertyUs, r.propertyGain, r.sensorUs, r.sensorGain, r.rowUs);
    std::fflush(s->csv);
    const guint seen = s->seen++;
    if (s->role.leader) {
        if (s->goAt == G_MAXUINT && g_file_test(s->role.go.c_str(), G_FILE_TEST_EXISTS))
            s->goAt = seen;
        const guint go = s->goAt;
        if (go != G_MAXUINT && seen == go + kClampAt)
            g_signal_emit_by_name(s->src, "set-exposure-auto-time-range", 100u, 3000u);
        if (go != G_MAXUINT && seen == go + kDimAt)
            norva_sim::SetLightLevel(0.1);
    }
    return GST_PAD_PROBE_OK;
}

/** Runs one process of the exposure-sharing test: a norvasrc on this process's board until its frames are done. */
int runRole(const Role &role) {
    gst_init(nullptr, nullptr);
    gst_plugin_norvasrc_register();
    if (!norva_sim::DefaultBoardActive() && !norva_sim::UseDefaultBoard())
        return 3;
    GstElement *src = gst_element_factory_make("norvasrc", nullptr);
    if (src == nullptr)
        return 4;
    GstBus *bus = gst_bus_new();
    gst_element_set_bus(src, bus);
    // The parameter file gives "-sensorExposureSync": every property this process relies on is set.
    g_object_set(src, "sensor", role.sensor.c_str(), "sensor-mode", kMode, "setup-file", role.setup.c_str(),
                 "exposure-auto", role.leader ? TRUE : FALSE, "exposure-time", 10000u, "alloc-buffers", 4u,
                 "preenq-buffers", 1u, "awb-enable", FALSE, nullptr);
    ProbeState state;
    state.role = role;
    state.src = src;
    state.csv = std::fopen(role.csv.c_str(), "w");
    if (state.csv == nullptr)
        return 5;
    GstPad *pad = gst_element_get_static_pad(src, "src");
    gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_BUFFER, recordFrame, &state, nullptr);
    gst_object_unref(pad);
    GstHarness *h = gst_harness_new_with_element(src, nullptr, "src");
    gst_harness_set_sink_caps_str(h, "video/x-raw, format=NV12, width=336, height=190");
    int status = 0;
    if (gst_element_set_state(h->element, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE)
        status = 6;
    // The leader runs until its frames after the go file are done (at most a few minutes of frames before it).
    auto done = [&](guint pulled) {
        if (!role.leader)
            return pulled >= role.frames;
        const guint go = state.goAt;
        return pulled >= 3000 || (go != G_MAXUINT && pulled >= go + role.frames);
    };
    for (guint pulled = 0; status == 0 && !done(pulled); ++pulled) {
        GstBuffer *buffer = pullOrError(h, bus);
        if (buffer == nullptr)
            status = 7;
        else
            gst_buffer_unref(buffer);
    }
    const std::string error = errorText(bus);
    if (!error.empty())
        std::fprintf(stderr, "%s: %s\n", role.sensor.c_str(), error.c_str());
    gst_harness_teardown(h);
    gst_element_set_bus(src, nullptr);
    gst_object_unref(bus);
    gst_object_unref(src);
    std::fclose(state.csv);
    return status;
}

std::vector<SyncRecord> readRecords(const std::string &path) {
    std::vector<SyncRecord> records;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        SyncRecord r;
        if (std::sscanf(line.c_str(), "%" G_GUINT64_FORMAT ",%" G_GINT64_FORMAT ",%u,%lf,%lf,%lf,%lf", &r.offset,
                        &r.timeUs, &r.propertyUs, &r.propertyGain, &r.sensorUs, &r.sensorGain, &r.rowUs) == 7)
            records.push_back(r);
    }
    return records;
}

constexpr const char *kRoleVariable = "NORVA_TWOSENSORS_ROLE";

/** Starts this program as one process of the exposure-sharing test; its process id. */
GPid startRole(const char *role, const char *sensors, const std::string &csv, const std::string &go, guint frames,
               const std::string &params) {
    gchar **env = g_get_environ();
    env = g_environ_setenv(env, kRoleVariable, role, TRUE);
    env = g_environ_setenv(env, "NORVA_TWOSENSORS_SETUP", NORVA_REFERENCE_SETUP, TRUE);
    env = g_environ_setenv(env, "NORVA_TWOSENSORS_CSV", csv.c_str(), TRUE);
    env = g_environ_setenv(env, "NORVA_TWOSENSORS_GO", go.c_str(), TRUE);
    env = g_environ_setenv(env, "NORVA_TWOSENSORS_FRAMES", std::to_string(frames).c_str(), TRUE);
    env = g_environ_setenv(env, norva_sim::kSensorsVariable, sensors, TRUE);
    env = g_environ_setenv(env, "GST_NORVASRC_PARAMS_FILE", params.c_str(), TRUE);
    // Both at the sensors' pace, so that neither process races ahead of the other.
    env = g_environ_setenv(env, "NORVA_SIM_PACED_FPS", "15", TRUE);
    gchar *self = g_file_read_link("/proc/self/exe", nullptr);
    fail_unless(self != nullptr);
    gchar *argv[] = {self, nullptr};
    GPid pid = 0;
    GError *error = nullptr;
    const gboolean started =
        g_spawn_async(nullptr, argv, env, G_SPAWN_DO_NOT_REAP_CHILD, nullptr, nullptr, &pid, &error);
    fail_unless(started, "cannot start %s: %s", self, error != nullptr ? error->message : "");
    g_free(self);
    g_strfreev(env);
    return pid;
}

/** The exit status of a process of the test, waiting at most `seconds`; it is killed after that. */
int waitRole(GPid pid, int seconds) {
    for (int i = 0; i < seconds * 20; ++i) {
        int status = 0;
        const pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid)
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
        g_usleep(50000);
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    return -1;
}

/** Waits until the file has `lines` records (at most two minutes); false when it has fewer then. */
bool waitRecords(const std::string &csv, size_t lines) {
    for (int i = 0; i < 2400; ++i) {
        if (readRecords(csv).size() >= lines)
            return true;
        g_usleep(50000);
    }
    return false;
}

/** One step of the gain of an OV4689 at gain g: 1/128 of the octave g is in. */
double gainStep(double g) { return std::exp2(std::floor(std::log2(std::max(g, 1.0)))) / 128.0; }

} // namespace

// Two processes, each with its board and a norvasrc on its own sensor, with "-sensorExposureSync": the leader runs
// automatic exposure, the follower does not. Once both stream, the leader's exposure is held short (its gain jumps)
// and then its light is dimmed (its gain climbs). Frame by frame the follower's sensor holds an exposure and gain
// that the leader's sensor had while the follower fetched that frame (told by the times at which both processes
// delivered their frames), within one row and one gain step, never going back to an older one; it follows the
// leader through the change of exposure and the rise of gain.
GST_START_TEST(test_exposure_shared_between_processes) {
    privateSharedMemory();
    TempDir dir;
    const std::string params = dir.path + "/params.txt";
    std::ofstream(params) << "-sensorExposureSync\n";
    const std::string leaderCsv = dir.path + "/leader.csv", followerCsv = dir.path + "/follower.csv";
    const std::string go = dir.path + "/go";
    constexpr guint kLeaderFrames = 30, kFollowerFrames = 36;
    // The leader creates the record and writes its exposure before the follower starts reading it.
    const GPid leader = startRole("leader", "OV4689_0", leaderCsv, go, kLeaderFrames, params);
    fail_unless(waitRecords(leaderCsv, 2), "the leader delivers no frame");
    const gint64 followerStart = g_get_monotonic_time();
    const GPid follower = startRole("follower", "OV4689_1", followerCsv, go, kFollowerFrames, params);
    const bool following = waitRecords(followerCsv, 2);
    std::ofstream(go) << "go\n";
    const int followerStatus = waitRole(follower, 240);
    const int leaderStatus = waitRole(leader, 240);
    fail_unless(following, "the follower delivers no frame");
    fail_unless_equals_int(followerStatus, 0);
    fail_unless_equals_int(leaderStatus, 0);

    const std::vector<SyncRecord> lead = readRecords(leaderCsv), follow = readRecords(followerCsv);
    fail_unless(lead.size() >= 2, "the leader recorded %zu frames", lead.size());
    // Each process fetches a frame, then pushes it (its probe records it), then fetches the next one, all on one
    // thread. The leader's fetch of its frame k+1 writes the record after its frame k was recorded and before its
    // frame k+1 was, with what its sensor held when frame k was recorded; the follower's fetch of a frame reads the
    // record after its previous frame was recorded and before this one was, and its sensor holds that until the
    // next fetch. So a follower frame recorded at T, after the previous one at T0, holds what the leader's sensor
    // had at its frame k for some k recorded before T whose frame k+2 was recorded after T0 (or never). The times
    // are those of the frames actually delivered, however slow either process was.
    size_t at = 0; // the oldest of the leader's frames that the follower may still be at
    gint64 previous = followerStart;
    double minUs = 1e12, maxUs = 0, minGain = 1e12, maxGain = 0;
    guint compared = 0;
    for (const SyncRecord &f : follow) {
        size_t newest = 0;
        while (newest + 1 < lead.size() && lead[newest + 1].timeUs < f.timeUs)
            newest++;
        size_t recorded = 0; // the leader's first frame recorded after the follower's previous one
        while (recorded < lead.size() && lead[recorded].timeUs <= previous)
            recorded++;
        const size_t oldest = std::min(newest, std::max(at, recorded >= 2 ? recorded - 2 : 0));
        previous = f.timeUs;
        bool found = false;
        for (size_t j = oldest; j <= newest && !found; ++j) {
            const SyncRecord &l = lead[j];
            found = std::fabs(f.sensorUs - l.sensorUs) <= f.rowUs * 1.01 &&
                    std::fabs(f.sensorGain - l.sensorGain) <= gainStep(l.sensorGain) * 1.01;
            if (found)
                at = j;
        }
        fail_unless(found,
                    "follower frame %" G_GUINT64_FORMAT " at %" G_GINT64_FORMAT
                    " us: %.1f us, gain %.4f; the leader's frames %zu (at %" G_GINT64_FORMAT
                    " us) to %zu (at %" G_GINT64_FORMAT " us): %.1f us, gain %.4f to %.1f us, gain %.4f",
                    f.offset, f.timeUs, f.sensorUs, f.sensorGain, oldest, lead[oldest].timeUs, newest,
                    lead[newest].timeUs, lead[oldest].sensorUs, lead[oldest].sensorGain, lead[newest].sensorUs,
                    lead[newest].sensorGain);
        minUs = std::min(minUs, f.sensorUs);
        maxUs = std::max(maxUs, f.sensorUs);
        minGain = std::min(minGain, f.sensorGain);
        maxGain = std::max(maxGain, f.sensorGain);
        compared++;
    }
    fail_unless(compared >= kFollowerFrames, "the follower recorded %u frames", compared);
    fail_unless(maxUs >= 1.5 * minUs, "the follower's exposure stayed within %.1f to %.1f us", minUs, maxUs);
    fail_unless(maxGain >= 1.5 * minGain, "the follower's gain stayed within %.3f to %.3f", minGain, maxGain);
}
GST_END_TEST;

namespace {

double exposureProduct(GstElement *src) {
    guint us = 0;
    g_object_get(src, "exposure-time", &us, nullptr);
    return us * std::pow(10.0, doubleProperty(G_OBJECT(src), "exposure-gain") / 20.0);
}

} // namespace

// "restart-on-error" on a sensor with automatic exposure: each erroneous frame comes flagged corrupted, the sensor
// is switched off and on again (its streaming register on the board's bus), the next frames follow without a gap,
// and automatic exposure runs again afterwards: a light dimmed to a quarter is made up for by exposure and gain,
// and the brightness comes back to where it was.
GST_START_TEST(test_restart_on_error_with_a_sensor) {
    fail_unless(plugSensors("OV4689_0"));
    GstBus *bus = nullptr;
    GstElement *src = makeSource(&bus);
    g_object_set(src, "sensor", "OV4689_0", "sensor-mode", kMode, "setup-file", NORVA_REFERENCE_SETUP, "exposure-auto",
                 TRUE, "restart-on-error", TRUE, "alloc-buffers", 4u, nullptr);
    GstHarness *h = gst_harness_new_with_element(src, nullptr, "src");
    gst_harness_set_sink_caps_str(h, "video/x-raw, format=NV12, width=336, height=190");
    gst_harness_play(h);
    auto brightness = [](GstBuffer *b) {
        const GstNorvaCurrentBrightnessMeta *m = reinterpret_cast<GstNorvaCurrentBrightnessMeta *>(
            gst_buffer_get_meta(b, gst_norva_current_brightness_meta_api_get_type()));
        fail_unless(m != nullptr);
        return static_cast<double>(m->brightness);
    };
    guint64 offset = 0;
    for (int i = 0; i < 6; ++i) {
        GstBuffer *b = pullWithin(h);
        fail_unless(b != nullptr, "%s", errorText(bus).c_str());
        offset = GST_BUFFER_OFFSET(b);
        gst_buffer_unref(b);
    }

    for (int error = 0; error < 2; ++error) {
        norva_sim::ClearBoardEvents();
        norva_sim::InjectNextFrameError(true);
        bool corrupted = false;
        for (int i = 0; i < 8 && !corrupted; ++i) {
            GstBuffer *b = pullWithin(h);
            fail_unless(b != nullptr, "%s", errorText(bus).c_str());
            fail_unless_equals_uint64(GST_BUFFER_OFFSET(b), offset + 1);
            offset = GST_BUFFER_OFFSET(b);
            corrupted = GST_BUFFER_FLAG_IS_SET(b, GST_BUFFER_FLAG_CORRUPTED);
            gst_buffer_unref(b);
        }
        fail_unless(corrupted, "no frame came corrupted");
        GstBuffer *next = pullWithin(h);
        fail_unless(next != nullptr, "no frame after the restart: %s", errorText(bus).c_str());
        fail_unless_equals_uint64(GST_BUFFER_OFFSET(next), offset + 1);
        fail_if(GST_BUFFER_FLAG_IS_SET(next, GST_BUFFER_FLAG_CORRUPTED));
        offset = GST_BUFFER_OFFSET(next);
        gst_buffer_unref(next);
        const std::vector<std::string> events = norva_sim::BoardEvents();
        const auto off = std::find(events.begin(), events.end(), "write 01 00 00");
        fail_unless(off != events.end() && std::find(off, events.end(), "write 01 00 01") != events.end(),
                    "the sensor was not switched off and on again (%zu board events)", events.size());
    }
    gboolean autoExposure = FALSE;
    g_object_get(src, "exposure-auto", &autoExposure, nullptr);
    fail_unless(autoExposure);

    // The light down to a tenth after the restarts: the brightness drops, and the exposure control brings exposure
    // and gain up after it.
    const double before = exposureProduct(src);
    norva_sim::SetLightLevel(0.1);
    double lowest = 1.0, last = 0;
    for (int i = 0; i < 20; ++i) {
        GstBuffer *b = pullWithin(h);
        fail_unless(b != nullptr, "%s", errorText(bus).c_str());
        last = brightness(b);
        lowest = std::min(lowest, last);
        gst_buffer_unref(b);
    }
    const double after = exposureProduct(src);
    fail_unless(after >= 1.25 * before, "exposure x gain %.0f before the light went down, %.0f after", before, after);
    fail_unless(last > lowest, "brightness %.3f after the light went down, %.3f later", lowest, last);
    fail_unless(errorText(bus).empty());
    gst_harness_teardown(h);
    gst_element_set_bus(src, nullptr);
    gst_object_unref(bus);
    gst_object_unref(src);
}
GST_END_TEST;

static Suite *twosensors_suite(void) {
    Suite *s = suite_create("norvasrc_twosensors");
    TCase *tc = tcase_create("board");
    tcase_set_timeout(tc, 300);
    suite_add_tcase(s, tc);
    tcase_add_test(tc, test_multisrc_slave_follows_main);
    tcase_add_test(tc, test_exposure_shared_between_processes);
    tcase_add_test(tc, test_restart_on_error_with_a_sensor);
    return s;
}

int main(int argc, char **argv) {
    if (const char *role = g_getenv(kRoleVariable)) {
        Role r;
        r.leader = std::strcmp(role, "leader") == 0;
        r.sensor = g_getenv(norva_sim::kSensorsVariable);
        r.setup = g_getenv("NORVA_TWOSENSORS_SETUP");
        r.csv = g_getenv("NORVA_TWOSENSORS_CSV");
        r.go = g_getenv("NORVA_TWOSENSORS_GO");
        r.frames = static_cast<guint>(std::atoi(g_getenv("NORVA_TWOSENSORS_FRAMES")));
        return runRole(r);
    }
    gst_check_init(&argc, &argv);
    gst_plugin_norvasrc_register();
    return gst_check_run_suite(twosensors_suite(), "norvasrc_twosensors", __FILE__);
}
