// 200 cycles (40 in the sanitizer builds, NORVA_QUICK_TESTS) NULL -> PLAYING (first buffer) -> NULL of a norvasrc
// on the default board's OV4689 leave the board at rest after every cycle: no GPIO chip, I2C bus or PHY left open, the PHY off, the sensor not streaming. Every
// cycle drives the board alike (its GPIO, PHY and descriptor events in the board's event log are those of the
// first cycle, the sensor's power lines included), and the process's descriptors and the platform's counters are
// where they were after the first cycles. The drivers' waits pass on the platform's virtual clock.
#include "norvasrc_board.h"
#include "buffer_arrivals.h"

#include <dirent.h>

#include "platform/sim_board.h"
#include "platform/sim_platform.h"

extern "C" void gst_plugin_norvasrc_register(void);

using namespace norvasrc_test;

namespace {

constexpr int kCycles = NORVA_QUICK_TESTS ? 40 : 200;
constexpr int kWarmUp = 5;
constexpr const char *kSensor = "OV4689_0";

int countDescriptors() {
    DIR *dir = opendir("/proc/self/fd");
    fail_unless(dir != nullptr);
    int n = 0;
    while (readdir(dir) != nullptr)
        n++;
    closedir(dir);
    return n;
}

/** The events of the board that power, open or close something: GPIO, PHY and the opening of devices. */
std::vector<std::string> powerEvents(const std::vector<std::string> &events) {
    std::vector<std::string> kept;
    for (const std::string &e : events) {
        const bool bus = e.rfind("write ", 0) == 0 || e.rfind("read ", 0) == 0 || e.rfind("I2C_SLAVE", 0) == 0 ||
                         e.rfind("sleep ", 0) == 0;
        if (!bus)
            kept.push_back(e);
    }
    return kept;
}

std::string joined(const std::vector<std::string> &lines) {
    std::string s;
    for (const std::string &l : lines)
        s += l + "\n";
    return s;
}

} // namespace

GST_START_TEST(test_board_at_rest_after_every_cycle) {
    fail_unless(plugSensors(kSensor));
    norva_sim::SetVirtualClock(true);
    GstElement *pipeline = gst_pipeline_new(nullptr);
    GstElement *src = gst_element_factory_make("norvasrc", nullptr);
    GstElement *sink = gst_element_factory_make("fakesink", nullptr);
    fail_unless(pipeline != nullptr && src != nullptr && sink != nullptr);
    g_object_set(src, "sensor", kSensor, "sensor-mode", 0x21u, "setup-file", NORVA_REFERENCE_SETUP, nullptr);
    g_object_set(sink, "sync", FALSE, nullptr);
    gst_bin_add_many(GST_BIN(pipeline), src, sink, nullptr);
    fail_unless(gst_element_link(src, sink));
    BufferArrivals arrivals;
    arrivals.watch(sink);
    GstBus *bus = gst_element_get_bus(pipeline);

    std::vector<std::string> firstCycle;
    int descriptors = 0;
    norva_sim::PlatformCounters counters{};
    for (int cycle = 0; cycle < kCycles; cycle++) {
        norva_sim::ClearBoardEvents();
        const guint64 seen = arrivals.buffers();
        fail_if(gst_element_set_state(pipeline, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE, "cycle %d", cycle);
        fail_unless(arrivals.waitBeyond(seen, 30), "cycle %d: no buffer: %s", cycle, errorText(bus).c_str());
        fail_unless_equals_int(gst_element_set_state(pipeline, GST_STATE_NULL), GST_STATE_CHANGE_SUCCESS);

        // At rest: nothing of the board open, the PHY off, the sensor quiet.
        fail_unless_equals_int(norva_sim::GpioOpenChips(), 0);
        fail_unless_equals_int(norva_sim::I2cOpenDescriptors(), 0);
        fail_unless_equals_int(norva_sim::PhyOpenDescriptors(), 0);
        fail_if(norva_sim::GetPhyState(0).enabled, "cycle %d: PHY left on", cycle);
        norva_sim::BoardSensorView view;
        fail_unless(norva_sim::DefaultBoardSensor(kSensor, &view));
        fail_if(view.streaming, "cycle %d: the sensor streams on", cycle);

        const std::vector<std::string> events = powerEvents(norva_sim::BoardEvents());
        if (cycle == 0) {
            firstCycle = events;
            fail_unless(std::find(events.begin(), events.end(), "phy0 configure enable=0 lanes=0 hs=0x00") !=
                            events.end(),
                        "no PHY switched off:\n%s", joined(events).c_str());
        } else {
            fail_unless(events == firstCycle, "cycle %d drove the board otherwise:\n%s\nthe first:\n%s", cycle,
                        joined(events).c_str(), joined(firstCycle).c_str());
        }
        if (cycle + 1 == kWarmUp) {
            descriptors = countDescriptors();
            counters = norva_sim::GetCounters();
        }
    }
    fail_unless_equals_int(countDescriptors(), descriptors);
    const norva_sim::PlatformCounters now = norva_sim::GetCounters();
    fail_unless_equals_int(now.openDescriptors, counters.openDescriptors);
    fail_unless_equals_int(now.liveMappings, counters.liveMappings);
    fail_unless_equals_int(now.driverObjects, counters.driverObjects);
    fail_unless_equals_int(now.deviceMemoryAreas, counters.deviceMemoryAreas);
    fail_unless(errorText(bus).empty());

    gst_object_unref(bus);
    gst_object_unref(pipeline);
}
GST_END_TEST;

static Suite *norvasrc_board_soak_suite(void) {
    Suite *s = suite_create("norvasrc_board_soak");
    TCase *tc = tcase_create("cycles");
    tcase_set_timeout(tc, 1500);
    suite_add_tcase(s, tc);
    tcase_add_test(tc, test_board_at_rest_after_every_cycle);
    return s;
}

int main(int argc, char **argv) {
    gst_check_init(&argc, &argv);
    gst_plugin_norvasrc_register();
    Suite *s = norvasrc_board_soak_suite();
    return gst_check_run_suite(s, "norvasrc_board_soak", __FILE__);
}
