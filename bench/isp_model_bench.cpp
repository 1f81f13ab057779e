// Frames per second of the simulated ISP model on one core, with every block on: raw curve (cubic), lens
// shading, white-balance gains, colour matrix, gamma, tone curve, both scalers (the encoder at full size, the
// display resampled to two thirds), NV12 encoder output, 32-bit RGB display output and every statistic.
// "allocs_per_frame" counts the heap allocations of a frame after the first (builds without AddressSanitizer).
//
// For comparison, GStreamerBayer2RgbVideoconvert times `bayer2rgb ! videoconvert` to NV12 on the same chart
// (its top 8 bits: bayer2rgb takes 8-bit Bayer only), run by gst-launch-1.0 on one core: the time of N frames
// minus the time of one frame, per frame. It is skipped when gst-launch-1.0 or bayer2rgb is missing.
#include <benchmark/benchmark.h>

#include "alloc_counter.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <unistd.h>

#include "platform/sim_isp.h"
#include "platform/sim_isp_model.h"
#include "support/bayer_scene.h"

namespace {

norva_test::BayerScene chart(uint32_t w, uint32_t h) {
    norva_test::SceneOptions o;
    o.width = w;
    o.height = h;
    o.bitDepth = 12;
    o.mosaic = MOSAIC_RGGB;
    o.blackLevel = 256;
    return norva_test::MakeTestChart(o);
}

struct Setup {
    CI_PIPELINE reg{};
    CI_PIPE_INFO info{};
    CI_MODULE_GMA_LUT gamma{};
    std::vector<uint8_t> lsh, enc, disp, stats;
    norva_sim::IspFrameSettings settings;
    norva_sim::IspFrameOutputs outputs;

    Setup(uint32_t w, uint32_t h) {
        norva_sim::IspNeutralSettings(w, h, &reg, &info);
        gamma = norva_sim::DefaultDescription().sGammaLUT;
        info.config.eEncType.eFmt = YUV_420_PL12_8;
        info.config.eDispType.eFmt = RGB_888_32;
        for (int c = 0; c < 4; c++) {
            reg.sBlackCorrection.i8FixedOffset[c] = -16;
            reg.sWhiteBalance.aGain[c] = static_cast<QOR_UINT16>(c == 0 ? 1600 : (c == 3 ? 1400 : 1024));
            reg.sWhiteBalance.aClip[c] = 8000;
        }
        reg.sRawLUT.eMode = CI_RLT_CUBIC;
        for (int c = 0; c < 4; c++) {
            for (int i = 0; i < 16; i++) {
                reg.sRawLUT.aPoints[c][i] = static_cast<QOR_UINT16>(std::min(65535, (i + 1) * 4096 * 9 / 10));
            }
        }
        static const QOR_INT16 ccm[3][3] = {{700, -120, -68}, {-90, 650, -48}, {-20, -160, 692}};
        for (int i = 0; i < 3; i++) {
            for (int j = 0; j < 3; j++) {
                reg.sColourCorrection.aCoeff[i][j] = ccm[i][j];
            }
        }
        for (int i = 0; i < 63; i++) {
            reg.sToneMapping.aCurve[i] = static_cast<QOR_UINT16>(2048.0 * std::pow((i + 1) / 64.0, 0.9));
        }
        // the encoder at full size (pitch 1.0), the display resampled to two thirds (pitch 1.5)
        reg.sEncoderScaler.bBypassScaler = 0;
        reg.sEncoderScaler.aOutputSize[0] = static_cast<QOR_UINT16>(w / 2 - 1);
        reg.sEncoderScaler.aOutputSize[1] = static_cast<QOR_UINT16>(h - 1);
        reg.sEncoderScaler.aPitch[0] = reg.sEncoderScaler.aPitch[1] = 32768;
        reg.sDisplayScaler.bBypassScaler = 0;
        reg.sDisplayScaler.aOutputSize[0] = static_cast<QOR_UINT16>(w / 3 - 1);
        reg.sDisplayScaler.aOutputSize[1] = static_cast<QOR_UINT16>(2 * h / 3 - 1);
        reg.sDisplayScaler.aPitch[0] = reg.sDisplayScaler.aPitch[1] = 49152;
        reg.stats.sWhiteBalanceStats.ui8ActiveROI = 1;
        reg.stats.sWhiteBalanceStats.aRoiLeft[1] = static_cast<QOR_UINT16>(w / 4);
        reg.stats.sWhiteBalanceStats.aRoiTop[1] = static_cast<QOR_UINT16>(h / 4);
        reg.stats.sWhiteBalanceStats.aRoiRight[1] = static_cast<QOR_UINT16>(3 * w / 4);
        reg.stats.sWhiteBalanceStats.aRoiBottom[1] = static_cast<QOR_UINT16>(3 * h / 4);

        // a flat matrix of gain 1.2, tiles of 32 cells, 4-bit differences
        CI_MODULE_LSH_MAT &m = settings.lshConfig;
        m.ui8TileSizeLog2 = 5;
        m.ui8BitsPerDiff = 4;
        m.ui16Width = static_cast<QOR_UINT16>(w / 2 / 32 + 2);
        m.ui16Height = static_cast<QOR_UINT16>(h / 2 / 32 + 2);
        m.ui32Stride = 64 * ((2 + (m.ui16Width * 4 + 7) / 8 + 63) / 64);
        lsh.assign(size_t(m.ui32Stride) * m.ui16Height * 4, 0);
        for (size_t line = 0; line < size_t(m.ui16Height) * 4; line++) {
            lsh[line * m.ui32Stride] = 1229 & 0xFF;
            lsh[line * m.ui32Stride + 1] = 1229 >> 8;
        }
        settings.lshMatrix = lsh.data();
        settings.lshMatrixSize = lsh.size();
        settings.registers = &reg;
        settings.info = &info;
        settings.gamma = &gamma;

        enc.assign(size_t(w) * h * 2, 0);
        disp.assign(size_t(w) * h * 4, 0);
        stats.assign(norva_sim::kIspStatsSize, 0);
        outputs.encoder.data = enc.data();
        outputs.encoder.size = enc.size();
        outputs.display.data = disp.data();
        outputs.display.size = disp.size();
        outputs.statistics = stats.data();
    }
};

void IspModelAllBlocks(benchmark::State &state) {
    const uint32_t w = static_cast<uint32_t>(state.range(0)), h = static_cast<uint32_t>(state.range(1));
    const norva_test::BayerScene scene = chart(w, h);
    Setup s(w, h);
    norva_sim::IspInputFrame in;
    in.samples = scene.samples.data();
    in.width = w;
    in.height = h;
    in.bitDepth = 12;
    norva_sim::IspModel model;
    if (model.process(in, s.settings, s.outputs) != QOR_RES_OK) {
        state.SkipWithError("the model refused the frame");
        return;
    }
    // allocations of one frame after the first (the benchmark's own loop allocates now and then)
    const long before = norva_bench::Allocations();
    model.process(in, s.settings, s.outputs);
    const long perFrame = norva_bench::Allocations() - before;
    for (auto _ : state) {
        model.process(in, s.settings, s.outputs);
        benchmark::DoNotOptimize(s.enc.data());
        benchmark::ClobberMemory();
    }
    state.counters["fps"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["allocs_per_frame"] = double(perFrame);
}
BENCHMARK(IspModelAllBlocks)->Args({640, 480})->Args({1920, 1080})->Unit(benchmark::kMillisecond);

double runSeconds(const std::string &cmd) {
    const auto t0 = std::chrono::steady_clock::now();
    const int rc = std::system(cmd.c_str());
    const auto t1 = std::chrono::steady_clock::now();
    return rc == 0 ? std::chrono::duration<double>(t1 - t0).count() : -1.0;
}

void GStreamerBayer2RgbVideoconvert(benchmark::State &state) {
    const uint32_t w = static_cast<uint32_t>(state.range(0)), h = static_cast<uint32_t>(state.range(1));
    if (std::system("gst-inspect-1.0 bayer2rgb >/dev/null 2>&1") != 0) {
        state.SkipWithError("gst-launch-1.0 or bayer2rgb (gstreamer1.0-plugins-bad) missing");
        return;
    }
    const norva_test::BayerScene scene = chart(w, h);
    char path[] = "/tmp/norva_bayer8_XXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0) {
        state.SkipWithError("cannot write the frame");
        return;
    }
    std::vector<uint8_t> bytes(scene.samples.size());
    for (size_t i = 0; i < bytes.size(); i++) {
        bytes[i] = static_cast<uint8_t>(scene.samples[i] >> 4);
    }
    const bool written = write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    close(fd);
    const int frames = w >= 1920 ? 60 : 240;
    auto command = [&](int n) {
        return "taskset -c 0 gst-launch-1.0 -q multifilesrc location=" + std::string(path) +
               " loop=true num-buffers=" + std::to_string(n) +
               " caps=\"video/x-bayer,format=rggb,width=" + std::to_string(w) + ",height=" + std::to_string(h) +
               ",framerate=30/1\" ! bayer2rgb ! videoconvert ! " +
               "video/x-raw,format=NV12 ! fakesink sync=false >/dev/null 2>&1";
    };
    for (auto _ : state) {
        const double one = written ? runSeconds(command(1)) : -1.0;
        const double many = written ? runSeconds(command(frames + 1)) : -1.0;
        if (one < 0 || many < 0) {
            state.SkipWithError("gst-launch-1.0 failed");
            break;
        }
        state.SetIterationTime((many - one) / frames);
    }
    unlink(path);
    state.counters["fps"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(GStreamerBayer2RgbVideoconvert)
    ->Args({640, 480})
    ->Args({1920, 1080})
    ->UseManualTime()
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
