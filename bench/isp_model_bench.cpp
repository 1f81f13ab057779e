// Time per frame of the simulated ISP model with every block on: raw curve (cubic), lens shading, white-balance
// gains, colour matrix, gamma, the tone mapper with its ranges and local correction, both scalers (the encoder at
// full size, the display resampled to two thirds), NV12 encoder output, 32-bit RGB display output and every
// statistic; at 640x480, 1920x1080 and 3840x2160, on 1 and on 4 threads of a worker pool.
//
// "As shipped": the same blocks plus those the shipped setup files switch on beyond them, the memory colour,
// vibrancy and sharpening, with the registers the setup modules write from data/setup/ov4689.txt and from
// data/setup/reference.txt (through the load structure, as the device reads them); at 1920x1080 and 2688x1520,
// the main job's sensor size. The other blocks keep this program's values: their cost does not depend on them.
//
// For comparison the same program runs GStreamer's `bayer2rgb ! videoconvert` to NV12 on the same chart (its top
// 8 bits: bayer2rgb takes 8-bit Bayer only), frames pushed one at a time through appsrc and pulled from appsink,
// all processing in one streaming thread. The machine may be shared: the GStreamer pair and the model on 1 and 4
// threads are timed in turns (rounds of about a quarter of a second each, 5 rounds), and each figure is the
// median over the rounds. The ratios are the model's over the GStreamer pair's: for one thread in CPU time of
// the process (steadier than wall time on a shared machine), for four threads in frames per second (wall time).
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
#include <memory>
#include <string>
#include <time.h>
#include <vector>

#include "ci/ci_load_hw2.h"
#include "ispc/ModuleMIE.h"
#include "ispc/ModuleOUT.h"
#include "ispc/ModuleSHA.h"
#include "ispc/ModuleVIB.h"
#include "ispc/ParameterFileParser.h"
#include "mc/mc_pipeline.h"
#include "platform/sim_isp.h"
#include "platform/sim_isp_model.h"
#include "platform/sim_lsdecoder.h"
#include "platform/sim_worker_pool.h"
#include "support/bayer_scene.h"
#include "support/test_sensor.h"

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

/**
 * The memory-colour, vibrancy and sharpening registers of a setup file as the device reads them: the file through
 * the setup modules of a pipeline of the frame's size, converted, written into a load structure and decoded.
 * False when the file cannot be read.
 */
bool shippedEnhancer(const std::string &path, uint32_t w, uint32_t h, CI_PIPELINE *out) {
    norva_test::TestRig rig(w, h);
    ISPC::ModuleOUT *output = new ISPC::ModuleOUT(); /* the memory colours follow the encoder's chroma order */
    output->encoderType = YUV_420_PL12_8;
    bool ok = rig.pipeline->registerModule(output) == QOR_RES_OK;
    ISPC::SetupModule *modules[3] = {new ISPC::ModuleMIE(), new ISPC::ModuleVIB(), new ISPC::ModuleSHA()};
    for (ISPC::SetupModule *m : modules) {
        ok = rig.pipeline->registerModule(m) == QOR_RES_OK && ok;
    }
    const ISPC::ParameterList list = ISPC::ParameterFileParser::parseFile(path);
    for (ISPC::SetupModule *m : modules) {
        ok = ok && m->load(list) == QOR_RES_OK && m->setup() == QOR_RES_OK;
    }
    CI_PIPELINE reg{};
    int mask = 0;
    ok = ok && MC_MIEConvert(&rig.mc().sMIE, &reg.sImageEnhancer, nullptr, &mask) == QOR_RES_OK &&
         MC_SHAConvert(&rig.mc().sSHA, &reg.sSharpening, nullptr, &mask) == QOR_RES_OK;
    std::vector<char> ls(CI_LOAD_STRUCT_SIZE, 0);
    const CI_HWINFO hw = norva_sim::DefaultDescription().sHWInfo;
    CI_PIPELINE decoded{};
    ok = ok && HW_CI_LoadPipeline(&hw, &reg, ls.data(), CI_UPD_GRP_3 | CI_UPD_GRP_4) == QOR_RES_OK &&
         SimLS_Decode(reinterpret_cast<const QOR_UINT8 *>(ls.data()), ls.size(), &decoded) == QOR_RES_OK;
    if (ok) {
        out->sImageEnhancer = decoded.sImageEnhancer;
        out->sSharpening = decoded.sSharpening;
    }
    return ok;
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

size_t heapInUse() {
    const struct mallinfo2 mi = mallinfo2();
    return mi.uordblks + mi.hblkhd;
}

/** Something that makes frames: a model of given settings and threads, or the GStreamer pair. */
class Runner {
public:
    virtual ~Runner() = default;
    /** One frame; false when it failed. */
    virtual bool frame() = 0;
    bool ok = false;
    int batch = 0;                 /* frames per round: about a quarter of a second */
    std::vector<double> wall, cpu; /* per frame, one entry per round */

    /** Two frames to warm up and size the rounds. */
    void prepare() {
        const auto t0 = Clock::now();
        ok = ok && frame() && frame();
        const double perFrame = std::chrono::duration<double>(Clock::now() - t0).count() / 2;
        batch = std::max(2, int(0.25 / std::max(perFrame, 1e-4)));
    }
    void round() {
        if (!ok) {
            return;
        }
        const auto t0 = Clock::now();
        const double c0 = cpuSeconds();
        for (int i = 0; ok && i < batch; i++) {
            ok = frame();
        }
        cpu.push_back((cpuSeconds() - c0) / batch);
        wall.push_back(std::chrono::duration<double>(Clock::now() - t0).count() / batch);
    }
    static double median(std::vector<double> v) {
        if (v.empty()) {
            return std::nan("");
        }
        std::sort(v.begin(), v.end());
        return v.size() % 2 != 0 ? v[v.size() / 2] : 0.5 * (v[v.size() / 2 - 1] + v[v.size() / 2]);
    }
    double wallMedian() const { return ok ? median(wall) : std::nan(""); }
    double cpuMedian() const { return ok ? median(cpu) : std::nan(""); }
};

class ModelRunner : public Runner {
public:
    ModelRunner(const norva_test::BayerScene &scene, uint32_t w, uint32_t h, unsigned threads, bool bayerBlocks,
                const std::string &setupFile)
        : s(w, h, bayerBlocks), pool(threads) {
        in.samples = scene.samples.data();
        in.width = w;
        in.height = h;
        in.bitDepth = 12;
        ok = setupFile.empty() || shippedEnhancer(setupFile, w, h, &s.reg);
        const size_t before = heapInUse();
        model.reset(new norva_sim::IspModel());
        model->setWorkers(&pool);
        ok = ok && frame();
        memory = heapInUse() - before;
        const long allocs = norva_bench::Allocations();
        ok = ok && frame();
        allocations = norva_bench::Allocations() - allocs;
        prepare();
    }
    bool frame() override { return model->process(in, s.settings, s.outputs) == QOR_RES_OK; }
    Setup s;
    norva_sim::SimWorkerPool pool;
    std::unique_ptr<norva_sim::IspModel> model;
    norva_sim::IspInputFrame in;
    long allocations = -1;
    size_t memory = 0;
};

#if NORVA_BENCH_GSTREAMER
/** `bayer2rgb ! videoconvert` to NV12 on the chart's top 8 bits, a frame pushed and pulled at a time. */
class GstRunner : public Runner {
public:
    GstRunner(const norva_test::BayerScene &scene, uint32_t w, uint32_t h) {
        if (!gst_init_check(nullptr, nullptr, nullptr)) {
            return;
        }
        pipeline = gst_parse_launch("appsrc name=src format=time ! bayer2rgb ! videoconvert ! "
                                    "video/x-raw,format=NV12 ! appsink name=sink sync=false",
                                    nullptr);
        if (pipeline == nullptr) {
            return;
        }
        src = gst_bin_get_by_name(GST_BIN(pipeline), "src");
        sink = gst_bin_get_by_name(GST_BIN(pipeline), "sink");
        GstCaps *caps =
            gst_caps_new_simple("video/x-bayer", "format", G_TYPE_STRING, "rggb", "width", G_TYPE_INT, int(w), "height",
                                G_TYPE_INT, int(h), "framerate", GST_TYPE_FRACTION, 30, 1, nullptr);
        gst_app_src_set_caps(GST_APP_SRC(src), caps);
        gst_caps_unref(caps);
        bytes.resize(scene.samples.size());
        for (size_t i = 0; i < bytes.size(); i++) {
            bytes[i] = static_cast<uint8_t>(scene.samples[i] >> 4);
        }
        ok = gst_element_set_state(pipeline, GST_STATE_PLAYING) != GST_STATE_CHANGE_FAILURE;
        prepare();
    }
    ~GstRunner() override {
        if (pipeline != nullptr) {
            gst_element_set_state(pipeline, GST_STATE_NULL);
            gst_object_unref(src);
            gst_object_unref(sink);
            gst_object_unref(pipeline);
        }
    }
    bool frame() override {
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
    }

private:
    GstElement *pipeline = nullptr, *src = nullptr, *sink = nullptr;
    std::vector<uint8_t> bytes;
    uint64_t pts = 0;
};
#else
class GstRunner : public Runner {
public:
    GstRunner(const norva_test::BayerScene &, uint32_t, uint32_t) {}
    bool frame() override { return false; }
};
#endif

constexpr int kRounds = 5;

/** Rounds of each runner in turn. */
void interleave(const std::vector<Runner *> &runners) {
    for (int r = 0; r < kRounds; r++) {
        for (Runner *x : runners) {
            x->round();
        }
    }
}

std::string sizeName(uint32_t w, uint32_t h) { return std::to_string(w) + "x" + std::to_string(h); }

struct Size {
    uint32_t w, h;
};

const char *const kColumns = "%-22s %9s %9s %9s %9s %9s | %9s %9s %9s %7s\n";

void header() {
    std::printf(kColumns, "size, settings", "gst", "model 1t", "model 4t", "4t fps", "4t/gst fps", "gst cpu", "1t cpu",
                "cpu ratio", "allocs");
}

/** The model on 1 and 4 threads beside the GStreamer pair; returns the model's memory on 1 and 4 threads. */
std::pair<size_t, size_t> compare(const Size &z, const char *label, const std::string &setupFile) {
    const norva_test::BayerScene scene = chart(z.w, z.h);
    GstRunner gst(scene, z.w, z.h);
    ModelRunner one(scene, z.w, z.h, 1, false, setupFile);
    ModelRunner four(scene, z.w, z.h, 4, false, setupFile);
    interleave({&gst, &one, &four});
    const double g = gst.wallMedian(), gc = gst.cpuMedian(), m1 = one.wallMedian(), m1c = one.cpuMedian(),
                 m4 = four.wallMedian();
    std::printf("%-22s %9.2f %9.2f %9.2f %9.1f %9.2f | %9.2f %9.2f %9.2f %7ld\n",
                (sizeName(z.w, z.h) + " " + label).c_str(), g * 1e3, m1 * 1e3, m4 * 1e3, 1.0 / m4, g / m4, gc * 1e3,
                m1c * 1e3, m1c / gc, std::max(one.allocations, four.allocations));
    return {one.memory, four.memory};
}

} // namespace

int main() {
    std::printf("per frame (ms, medians of %d interleaved rounds): the GStreamer pair, the model on 1 and 4 threads "
                "(wall time), CPU time of the process; ratios model / GStreamer\n",
                kRounds);
    header();
    const Size sizes[] = {{640, 480}, {1920, 1080}, {3840, 2160}};
    std::pair<size_t, size_t> memory1080{0, 0};
    for (const Size &z : sizes) {
        const std::pair<size_t, size_t> m = compare(z, "every block", "");
        if (z.w == 1920) {
            memory1080 = m;
        }
    }
    std::printf("model heap memory at 1920x1080 beside the outputs: %.2f MB on 1 thread, %.2f MB on 4\n",
                memory1080.first / 1048576.0, memory1080.second / 1048576.0);

    std::printf("\nas shipped: every block and the setup file's memory colour, vibrancy and sharpening\n");
    header();
    const std::string dir = std::string(NORVA_BENCH_SOURCE_DIR) + "/data/setup/";
    for (const Size &z : {Size{1920, 1080}, Size{2688, 1520}}) {
        compare(z, "ov4689.txt", dir + "ov4689.txt");
        compare(z, "reference.txt", dir + "reference.txt");
    }

    std::printf("\nwith defective pixels (detection, write map, read map), chromatic aberration and encoder "
                "statistics on\n");
    std::printf("%-10s %9s %9s %9s %9s %7s\n", "size", "model 1t", "1t fps", "model 4t", "4t fps", "allocs");
    for (const Size &z : sizes) {
        if (z.w > 1920) {
            continue;
        }
        const norva_test::BayerScene scene = chart(z.w, z.h);
        ModelRunner one(scene, z.w, z.h, 1, true, "");
        ModelRunner four(scene, z.w, z.h, 4, true, "");
        interleave({&one, &four});
        std::printf("%-10s %9.2f %9.1f %9.2f %9.1f %7ld\n", sizeName(z.w, z.h).c_str(), one.wallMedian() * 1e3,
                    1.0 / one.wallMedian(), four.wallMedian() * 1e3, 1.0 / four.wallMedian(),
                    std::max(one.allocations, four.allocations));
    }
    if (!norva_bench::CountsAllocations()) {
        std::printf("allocations are not counted in this build\n");
    }
    return 0;
}
