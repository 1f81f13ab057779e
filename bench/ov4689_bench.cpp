// The OV4689 on the simulated board.
//
// SetExposureGain: one exposure and gain update through the sensor API (clamps, the driver's register buffer,
// fifteen register writes). Counter allocs_per_update: heap allocations the stack makes per update (counted in
// builds without AddressSanitizer); the simulated board's own bookkeeping (its logs) is counted apart.
//
// SensorRender: one frame of the streaming sensor as its imager port receives it (the chart under the simulated
// light at the mode's size, exposure and gain applied, clipped), on the calling thread: frames_per_s and
// allocs_per_frame at 2688 x 1520 (mode 0x00) and 1920 x 1080 (mode 0x02). SensorRenderChangingLight: the same at
// 2688 x 1520 with the light's colour temperature and level changed before every frame (no rebuild of the map).
#include <benchmark/benchmark.h>

#include "alloc_counter.h"

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <unistd.h>

#include "ci/ci_api.h"
#include "norvacommon/userlog.h"
#include "platform/sim_board.h"
#include "platform/sim_platform.h"
#include "platform/sim_sensor.h"
#include "platform/sim_world.h"
#include "sensorapi/sensorapi.h"
#include "sys/sys_seam.h"

namespace {

SEAM_OPS gBoard;

long boardIoctl(int fd, unsigned long request, void *arg) {
    norva_bench::SetInDevice(true);
    const long r = norva_sim::SimulationOps()->ioctl(fd, request, arg);
    norva_bench::SetInDevice(false);
    return r;
}
ssize_t boardWrite(int fd, const void *buf, size_t count) {
    norva_bench::SetInDevice(true);
    const ssize_t r = norva_sim::SimulationOps()->write(fd, buf, count);
    norva_bench::SetInDevice(false);
    return r;
}
void boardSleep(uint64_t us) {
    norva_bench::SetInDevice(true);
    norva_sim::SimulationOps()->usleep(us);
    norva_bench::SetInDevice(false);
}

/** A board with one OV4689 on port 0, streaming in the mode. */
struct Board {
    std::string home;
    std::shared_ptr<norva_sim::Ov4689Model> model;
    CI_CONNECTION *conn = nullptr;
    SENSOR_HANDLE sensor = nullptr;
    bool ok = false;

    explicit Board(QOR_UINT16 mode) {
        LOG_SetLevel(LOG_LEVEL_ERROR);
        gBoard = *norva_sim::SimulationOps();
        gBoard.ioctl = boardIoctl;
        gBoard.write = boardWrite;
        gBoard.usleep = boardSleep;
        SEAM_Override(&gBoard);
        norva_sim::ResetPlatform();
        norva_sim::SetVirtualClock(true);
        home = "/tmp/norva_ov4689_bench_" + std::to_string(getpid());
        std::filesystem::create_directories(home + "/.norva/boardcfg");
        std::ofstream(home + "/.norva/boardcfg/default.cfg")
            << "-Board_reset_need 1\n-Board_mux_need 0\n-Board_pwdn_value 1\n-Board_max_sensors 2\n"
               "-Board_clock_frequency 27.0\n-Sensor0_i2c 1\n-Sensor0_gpiochip_reset 0\n-Sensor0_gpio_reset 10\n"
               "-Sensor0_gpiochip_pwdn 0\n-Sensor0_gpio_pwdn 11\n";
        setenv("HOME", home.c_str(), 1);
        model = norva_sim::AttachOv4689(norva_sim::SensorWiring{});
        ok = CI_DriverInit(&conn) == QOR_RES_OK && Sensor_Initialise(3, &sensor) == QOR_RES_OK &&
             Sensor_SetPhyConnection(sensor, conn) == QOR_RES_OK && Sensor_SetMode(sensor, mode, 0) == QOR_RES_OK &&
             Sensor_Enable(sensor) == QOR_RES_OK;
    }
    ~Board() {
        if (sensor != nullptr)
            Sensor_Destroy(sensor);
        if (conn != nullptr)
            CI_DriverFinalise(conn);
        model.reset();
        norva_sim::ResetPlatform();
        SEAM_Override(nullptr);
        std::filesystem::remove_all(home);
    }
};

void SetExposureGain(benchmark::State &state) {
    Board board(0x02);
    if (!board.ok) {
        state.SkipWithError("could not bring the sensor up");
        return;
    }
    long allocations = 0;
    unsigned i = 0;
    for (auto _ : state) {
        const QOR_UINT32 exposure = 1000 + (i & 1023) * 10;
        const double gain = 1.0 + (i & 15) * 0.5;
        i++;
        const long before = norva_bench::Allocations();
        if (Sensor_SetExposureGain(board.sensor, exposure, gain, 0) != QOR_RES_OK) {
            state.SkipWithError("update failed");
            break;
        }
        allocations += norva_bench::Allocations() - before;
    }
    const double n = static_cast<double>(state.iterations());
#if !defined(__SANITIZE_ADDRESS__)
    state.counters["allocs_per_update"] = n > 0 ? static_cast<double>(allocations) / n : 0.0;
#else
    (void)allocations;
#endif
    state.counters["updates_per_s"] = benchmark::Counter(n, benchmark::Counter::kIsRate);
}

/** Renders frames of the sensor in a mode; `changeLight` alternates the light's colour temperature and level first. */
void renderFrames(benchmark::State &state, bool changeLight) {
    Board board(static_cast<QOR_UINT16>(state.range(0)));
    if (!board.ok) {
        state.SkipWithError("could not bring the sensor up");
        return;
    }
    const uint16_t *samples = nullptr;
    unsigned w = 0, h = 0, depth = 0;
    // The first frame builds the radiance map of the mode: not part of the steady state.
    if (!norva_sim::RenderSensorFrame(0, &samples, &w, &h, &depth)) {
        state.SkipWithError("the sensor does not stream");
        return;
    }
    long allocations = 0;
    unsigned i = 0;
    for (auto _ : state) {
        const long before = norva_bench::Allocations();
        if (changeLight) {
            norva_sim::SetIlluminant(i % 2 ? 3000.0 : 6500.0);
            norva_sim::SetLightLevel(i % 3 ? 1.0 : 0.1);
        }
        i++;
        norva_sim::RenderSensorFrame(0, &samples, &w, &h, &depth);
        allocations += norva_bench::Allocations() - before;
        benchmark::DoNotOptimize(samples[(w * h) / 2]);
    }
    norva_sim::SetIlluminant(norva_sim::kDefaultIlluminant);
    norva_sim::SetLightLevel(norva_sim::kDefaultLightLevel);
    const double n = static_cast<double>(state.iterations());
#if !defined(__SANITIZE_ADDRESS__)
    state.counters["allocs_per_frame"] = n > 0 ? static_cast<double>(allocations) / n : 0.0;
#else
    (void)allocations;
#endif
    state.counters["width"] = w;
    state.counters["height"] = h;
    state.counters["frames_per_s"] = benchmark::Counter(n, benchmark::Counter::kIsRate);
}

void SensorRender(benchmark::State &state) { renderFrames(state, false); }
void SensorRenderChangingLight(benchmark::State &state) { renderFrames(state, true); }

} // namespace

BENCHMARK(SetExposureGain);
// Modes 0x00 (2688 x 1520) and 0x02 (1920 x 1080).
BENCHMARK(SensorRender)->Arg(0x00)->Arg(0x02)->Unit(benchmark::kMillisecond);
BENCHMARK(SensorRenderChangingLight)->Arg(0x00)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
