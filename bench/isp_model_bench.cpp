// Time per frame of the simulated ISP model with every block on: raw curve (cubic), lens shading, white-balance
// gains, colour matrix, gamma, the tone mapper with its ranges and local correction, both scalers (the encoder at
// full size, the display resampled to two thirds), NV12 encoder output, 32-bit RGB display output and every statistic; at 640x480, 1920x1080 and
// 3840x2160, on 1 and on 4 threads of a worker pool.
//
// For comparison the same program runs GStreamer's `bayer2rgb ! videoconvert` to NV12 on the same chart (its top
// 8 bits: bayer2rgb takes 8-bit Bayer only), frames pushed one at a time through appsrc and pulled from appsink,
// all processing in one streaming thread; the ratios printed are the model's time over the GStreamer pair's, in
// wall time and, for one thread, in CPU time of the process (steadier than wall time on a shared machine).
//
// Also printed: heap allocations of a frame after the first (0 expected; builds without AddressSanitizer), and
// the model's own heap memory at 1920x1080 beside the output buffers.
//
// A second table adds the Bayer-domain blocks: defective-pixel detection with its write map and a read map of
// 1000 pixels, lateral chromatic aberration with a magnification of red and blue, and the encoder statistics.
#include "alloc_counter.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <malloc.h>
#include <string>
#include <time.h>
#include <vector>

#include "platform/sim_isp.h"
#include "platform/sim_isp_model.h"
#include "platform/sim_worker_pool.h"
#include "support/bayer_scene.h"

#if NORVA_BENCH_GSTREAMER
#include <gst/app/gstappsink.h>
#include <gst/app/gstappsrc.h>
#include <gst/gst.h>
#endif

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
    std::vector<uint8_t> lsh, enc, disp, stats, dpfMap, ens;
    std::vector<uint16_t> readMap;
    norva_sim::IspFrameSettings settings;
    norva_sim::IspFrameOutputs outputs;

    Setup(uint32_t w, uint32_t h, bool bayerBlocks = false) {
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
        // the full tone mapper: the module's default ranges (full-range luma in, limited range out), chroma scales
        // and the local correction on 16 columns at half weight
        CI_MODULE_TNM &tnm = reg.sToneMapping;
        tnm.inputLumaScale = 8128;  /* 256 / 129 */
        tnm.outputLumaOffset = 256; /* 16 */
        tnm.outputLumaScale = 3520; /* 220 / 256 */
        tnm.chromaIOScale = 27942;  /* 220 / 129 */
        tnm.localColumns = 15;
        tnm.localColWidth[0] = static_cast<QOR_UINT16>((w + 15) / 16);
        tnm.localWeights = 512;
        reg.sRGBToYCC.aOffset[1] = 0;
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
        if (bayerBlocks) {
            addBayerBlocks(w, h);
        }
    }

    void addBayerBlocks(uint32_t w, uint32_t h) {
        CI_MODULE_DPF &d = reg.sDefectivePixels;
        d.eDPFEnable = CI_DPF_DETECT_ENABLED;
        d.ui8Threshold = 24;
        d.ui8Weight = 16;
        info.dpfConfig.eDPFEnable = CI_DPF_DETECT_ENABLED | CI_DPF_WRITE_MAP_ENABLED | CI_DPF_READ_MAP_ENABLED;
        for (uint32_t i = 0; i < 1000; i++) {
            readMap.push_back(static_cast<uint16_t>((i * 7919u) % w));
            readMap.push_back(static_cast<uint16_t>((i * 104729u) % h));
        }
        settings.defectMap = readMap.data();
        settings.defectCount = static_cast<uint32_t>(readMap.size() / 2);
        dpfMap.assign(8 * 4096, 0);
        outputs.defectOutput = dpfMap.data();
        outputs.defectOutputSize = dpfMap.size();
        // red magnified by 0.5 %, blue reduced by 0.5 % about the centre, in both directions
        CI_MODULE_LCA &l = reg.sChromaAberration;
        for (int axis = 0; axis < 2; axis++) {
            l.aCoeffRed[1][axis] = 655;
            l.aCoeffBlue[1][axis] = -655;
            l.aShift[axis] = w > 2048 ? 1 : 0;
        }
        l.aOffsetRed[0] = l.aOffsetBlue[0] = static_cast<QOR_UINT16>(w / 2);
        l.aOffsetRed[1] = l.aOffsetBlue[1] = static_cast<QOR_UINT16>(h / 2);
        info.config.eOutputConfig |= CI_SAVE_ENS;
        reg.stats.sEncStats.ui8Log2NCouples = 2;
        ens.assign(8 * (h / 32 + 1), 0);
        outputs.ensOutput = ens.data();
        outputs.ensOutputSize = ens.size();
    }
};

using Clock = std::chrono::steady_clock;

/** CPU time of the whole process: on a loaded machine a fairer measure of single-threaded work than wall time. */
double cpuSeconds() {
    struct timespec ts;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

/** Frames to time: about a second of work, at least 8. */
int framesFor(double secondsPerFrame) { return std::max(8, int(1.0 / std::max(secondsPerFrame, 1e-4))); }

struct ModelFigures {
    double seconds = -1; /* per frame */
    double cpu = -1;     /* CPU seconds per frame */
    long allocations = -1;
    size_t memory = 0;
};

size_t heapInUse() {
    const struct mallinfo2 mi = mallinfo2();
    return mi.uordblks + mi.hblkhd;
}

ModelFigures timeModel(const norva_test::BayerScene &scene, uint32_t w, uint32_t h, unsigned threads,
                       bool bayerBlocks = false) {
    ModelFigures out;
    Setup s(w, h, bayerBlocks);
    norva_sim::IspInputFrame in;
    in.samples = scene.samples.data();
    in.width = w;
    in.height = h;
    in.bitDepth = 12;
    norva_sim::SimWorkerPool pool(threads);
    const size_t before = heapInUse();
    norva_sim::IspModel model;
    model.setWorkers(&pool);
    const auto t0 = Clock::now();
    if (model.process(in, s.settings, s.outputs) != QOR_RES_OK) {
        return out;
    }
    out.memory = heapInUse() - before;
    const long allocs = norva_bench::Allocations();
    model.process(in, s.settings, s.outputs);
    out.allocations = norva_bench::Allocations() - allocs;
    const int frames = framesFor(std::chrono::duration<double>(Clock::now() - t0).count());
    const auto t1 = Clock::now();
    const double c1 = cpuSeconds();
    for (int i = 0; i < frames; i++) {
        model.process(in, s.settings, s.outputs);
    }
    out.cpu = (cpuSeconds() - c1) / frames;
    out.seconds = std::chrono::duration<double>(Clock::now() - t1).count() / frames;
    return out;
}

#if NORVA_BENCH_GSTREAMER
/**
 * Seconds per frame of `bayer2rgb ! videoconvert` to NV12 on the chart's top 8 bits (and CPU seconds in *cpu);
 * -1 when it cannot run.
 */
double timeGStreamer(const norva_test::BayerScene &scene, uint32_t w, uint32_t h, double *cpu) {
    if (!gst_init_check(nullptr, nullptr, nullptr)) {
        return -1;
    }
    GstElement *factory = gst_parse_launch("appsrc name=src format=time ! bayer2rgb ! videoconvert ! "
                                           "video/x-raw,format=NV12 ! appsink name=sink sync=false",
                                           nullptr);
    if (factory == nullptr) {
        return -1;
    }
    GstElement *src = gst_bin_get_by_name(GST_BIN(factory), "src");
    GstElement *sink = gst_bin_get_by_name(GST_BIN(factory), "sink");
    GstCaps *caps = gst_caps_new_simple("video/x-bayer", "format", G_TYPE_STRING, "rggb", "width", G_TYPE_INT, int(w),
                                        "height", G_TYPE_INT, int(h), "framerate", GST_TYPE_FRACTION, 30, 1, nullptr);
    gst_app_src_set_caps(GST_APP_SRC(src), caps);
    gst_caps_unref(caps);
    std::vector<uint8_t> bytes(scene.samples.size());
    for (size_t i = 0; i < bytes.size(); i++) {
        bytes[i] = static_cast<uint8_t>(scene.samples[i] >> 4);
    }
    double result = -1;
    if (gst_element_set_state(factory, GST_STATE_PLAYING) != GST_STATE_CHANGE_FAILURE) {
        uint64_t pts = 0;
        auto frame = [&]() {
            GstBuffer *buffer = gst_buffer_new_allocate(nullptr, bytes.size(), nullptr);
            gst_buffer_fill(buffer, 0, bytes.data(), bytes.size());
            GST_BUFFER_PTS(buffer) = pts;
            GST_BUFFER_DURATION(buffer) = GST_SECOND / 30;
            pts += GST_SECOND / 30;
            if (gst_app_src_push_buffer(GST_APP_SRC(src), buffer) != GST_FLOW_OK) {
                return false;
            }
            GstSample *sample = gst_app_sink_try_pull_sample(GST_APP_SINK(sink), 10 * GST_SECOND);
            if (sample == nullptr) {
                return false;
            }
            gst_sample_unref(sample);
            return true;
        };
        const auto t0 = Clock::now();
        bool ok = frame() && frame();
        const int frames = framesFor(std::chrono::duration<double>(Clock::now() - t0).count() / 2);
        const auto t1 = Clock::now();
        const double c1 = cpuSeconds();
        for (int i = 0; ok && i < frames; i++) {
            ok = frame();
        }
        if (ok) {
            *cpu = (cpuSeconds() - c1) / frames;
            result = std::chrono::duration<double>(Clock::now() - t1).count() / frames;
        }
    }
    gst_element_set_state(factory, GST_STATE_NULL);
    gst_object_unref(src);
    gst_object_unref(sink);
    gst_object_unref(factory);
    return result;
}
#else
double timeGStreamer(const norva_test::BayerScene &, uint32_t, uint32_t, double *) { return -1; }
#endif

} // namespace

int main() {
    struct Size {
        uint32_t w, h;
    };
    const Size sizes[] = {{640, 480}, {1920, 1080}, {3840, 2160}};
    std::printf("wall time per frame (ms), the model on 1 and 4 threads; ratios to the GStreamer pair\n");
    std::printf("%-10s %9s %9s %9s %9s %9s %9s | %9s %9s %9s %7s\n", "size", "gst", "model 1t", "model 4t", "1t/gst",
                "4t/gst", "4t fps", "gst cpu", "1t cpu", "cpu ratio", "allocs");
    size_t memory1080[2] = {0, 0};
    for (const Size &z : sizes) {
        const norva_test::BayerScene scene = chart(z.w, z.h);
        double gstCpu = -1;
        const double gst = timeGStreamer(scene, z.w, z.h, &gstCpu);
        const ModelFigures one = timeModel(scene, z.w, z.h, 1);
        const ModelFigures four = timeModel(scene, z.w, z.h, 4);
        if (z.w == 1920) {
            memory1080[0] = one.memory;
            memory1080[1] = four.memory;
        }
        const double nan = std::nan("");
        std::printf("%-10s %9.2f %9.2f %9.2f %9.2f %9.2f %9.1f | %9.2f %9.2f %9.2f %7ld\n",
                    (std::to_string(z.w) + "x" + std::to_string(z.h)).c_str(), gst * 1e3, one.seconds * 1e3,
                    four.seconds * 1e3, gst > 0 ? one.seconds / gst : nan, gst > 0 ? four.seconds / gst : nan,
                    1.0 / four.seconds, gstCpu * 1e3, one.cpu * 1e3, gstCpu > 0 ? one.cpu / gstCpu : nan,
                    std::max(one.allocations, four.allocations));
    }
    std::printf("model heap memory at 1920x1080 beside the outputs: %.2f MB on 1 thread, %.2f MB on 4\n",
                memory1080[0] / 1048576.0, memory1080[1] / 1048576.0);

    std::printf("\nwith defective pixels (detection, write map, read map), chromatic aberration and encoder "
                "statistics on\n");
    std::printf("%-10s %9s %9s %9s %9s %7s\n", "size", "model 1t", "1t fps", "model 4t", "4t fps", "allocs");
    for (const Size &z : sizes) {
        if (z.w > 1920) {
            continue;
        }
        const norva_test::BayerScene scene = chart(z.w, z.h);
        const ModelFigures one = timeModel(scene, z.w, z.h, 1, true);
        const ModelFigures four = timeModel(scene, z.w, z.h, 4, true);
        std::printf("%-10s %9.2f %9.1f %9.2f %9.1f %7ld\n", (std::to_string(z.w) + "x" + std::to_string(z.h)).c_str(),
                    one.seconds * 1e3, 1.0 / one.seconds, four.seconds * 1e3, 1.0 / four.seconds,
                    std::max(one.allocations, four.allocations));
    }
    if (!norva_bench::CountsAllocations()) {
        std::printf("allocations are not counted in this build\n");
    }
    return 0;
}
