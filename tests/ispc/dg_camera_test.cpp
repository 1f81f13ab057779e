// The data-generator camera on generated NRV scenes: frames through the simulated ISP as NV12 and RGB images
// that ffmpeg decodes, neutral greys, white-balance gains and raw curves that move the output, statistics that
// agree with the scene, and the simulated exposure written into the raw look-up table.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "ci/ci_api.h"
#include "ci/ci_ioctrl.h"
#include "ispc/DGCamera.h"
#include "ispc/DGSensor.h"
#include "ispc/ModuleBLC.h"
#include "ispc/ModuleFOS.h"
#include "ispc/ModuleIIF.h"
#include "ispc/ModuleOUT.h"
#include "ispc/ModuleRLT.h"
#include "ispc/ParameterFileParser.h"
#include "scenes/scene_nrv.h"
#include "sensors/iifdatagen.h"
#include "platform/sim_isp.h"
#include "sim_image.h"
#include "sim_platform_fixture.h"
#include "support/bayer_scene.h"
#include "support/dg_nrv.h"

using namespace ISPC;
using norva_test::stderrOf;

namespace {

constexpr uint32_t kWidth = 320;
constexpr uint32_t kHeight = 240;

/** Writes a chart (any options of the chart generator) as a one-frame Bayer NRV file. */
bool writeChartNrv(const std::string &path, const norva_test::BayerScene &scene) {
    const norva_test::SceneOptions &o = scene.options;
    std::vector<uint16_t> cells;
    cells.reserve(scene.samples.size());
    for (uint32_t cy = 0; cy < o.height / 2; cy++) {
        for (uint32_t cx = 0; cx < o.width / 2; cx++) {
            const size_t top = size_t(2 * cy) * o.width + 2 * cx, bottom = top + o.width;
            for (size_t at : {top, top + 1, bottom, bottom + 1})
                cells.push_back(scene.samples[at]);
        }
    }
    return dg_nrv::writeCells(path, o.width, o.height, o.bitDepth, cells);
}

/**
 * Programs the colour conversions for a Cb-first encoder output (NV12), as the colour-space module does: the
 * chroma rows of the RGB-to-YUV matrix exchanged, and the chroma inputs of the display's YUV-to-RGB matrix with
 * them, so the display is unchanged. (The defaults give the hardware's Cr-first order.)
 */
void chromaCbFirst(MC_PIPELINE &mc) {
    for (int j = 0; j < 3; j++)
        std::swap(mc.sR2Y.aCoeff[0][j], mc.sR2Y.aCoeff[2][j]);
    std::swap(mc.sR2Y.aOffset[0], mc.sR2Y.aOffset[2]);
    for (int r = 0; r < 3; r++)
        std::swap(mc.sY2R.aCoeff[r][0], mc.sY2R.aCoeff[r][2]);
    std::swap(mc.sY2R.aOffset[0], mc.sY2R.aOffset[2]);
    mc.sR2Y.updateNeeded = 1;
    mc.sY2R.updateNeeded = 1;
}

/** Mean of channel c (0..channels-1) of a packed image over a rectangle shrunk by `margin` on every side. */
double meanOver(const uint8_t *first, unsigned stride, unsigned channels, unsigned c, const norva_test::Rect &r,
                unsigned margin = 3) {
    double sum = 0;
    unsigned n = 0;
    for (uint32_t y = r.y + margin; y + margin < r.y + r.h; y++) {
        for (uint32_t x = r.x + margin; x + margin < r.x + r.w; x++) {
            sum += first[size_t(y) * stride + size_t(x) * channels + c];
            n++;
        }
    }
    return n != 0 ? sum / n : 0;
}

/** Mean red, green and blue of the display output (RGB_888_24 holds B, G, R in memory) over a rectangle. */
void displayRgb(const Shot &shot, const norva_test::Rect &r, double rgb[3]) {
    for (int c = 0; c < 3; c++)
        rgb[c] = meanOver(shot.DISPLAY.firstData(), shot.DISPLAY.stride, 3, 2 - c, r);
}

/** Mean luma of the encoder output over a rectangle. */
double luma(const Shot &shot, const norva_test::Rect &r) {
    return meanOver(shot.YUV.firstData(), shot.YUV.stride, 1, 0, r);
}

class DGCameraTest : public norva_test::IspcSimTest {
protected:
    void SetUp() override {
        IspcSimTest::SetUp();
        char pattern[] = "/tmp/norva-dgcamera-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
        scene = dir + "/scene.nrv";
        ASSERT_EQ(norva_scenes::WriteSceneNrv(scene, kWidth, kHeight, 10, MOSAIC_RGGB, 2), QOR_RES_OK);
        layout = norva_scenes::SceneLayoutOf(kWidth, kHeight);
    }
    void TearDown() override {
        if (camera && camera->state == Camera::CAM_CAPTURING) {
            stderrOf([&] { camera->stopCapture(); });
        }
        stderrOf([&] { camera.reset(); });
        std::system(("rm -rf '" + dir + "'").c_str());
        IspcSimTest::TearDown();
    }

    /**
     * A data-generator camera on `file` with NV12 encoder and RGB display outputs, neutral settings, clip
     * counts, histograms and focus sharpness over the whole frame; programmed, buffers allocated, capturing.
     */
    DGCamera &capturing(const std::string &file, bool withRawLut = true) {
        camera.reset(new DGCamera(0, file, 0, true));
        EXPECT_EQ(camera->state, Camera::CAM_CONNECTED);
        EXPECT_EQ(IIFDG_ExtendedSetBlanking(camera->getSensor()->getHandle(), 100, 14), QOR_RES_OK);
        start(*camera, withRawLut);
        return *camera;
    }

    /** Registers the modules, loads the setup, programs the camera, allocates its buffers and starts it. */
    static void start(DGCamera &c, bool withRawLut = true) {
        for (SetupModule *m :
             std::initializer_list<SetupModule *>{new ModuleOUT(), new ModuleIIF(), new ModuleBLC(), new ModuleFOS()}) {
            EXPECT_EQ(c.getPipeline()->registerModule(m), QOR_RES_OK);
        }
        if (withRawLut) {
            EXPECT_EQ(c.getPipeline()->registerModule(new ModuleRLT()), QOR_RES_OK);
        }
        c.state = Camera::CAM_REGISTERED;
        std::ostringstream setup;
        setup << "OUT_ENC NV12\nOUT_DISP RGB888_24\nBLC_SENSOR_BLACK 0 0 0 0\n"
              << "FOS_ROI_ENABLE 1\nFOS_ROI_START_COORDS 0 0\nFOS_ROI_END_COORDS " << kWidth - 1 << " " << kHeight - 1
              << "\n";
        std::istringstream text(setup.str());
        ParameterList parameters;
        EXPECT_EQ(ParameterFileParser::parse(text, parameters), QOR_RES_OK);
        EXPECT_EQ(c.loadParameters(parameters), QOR_RES_OK);
        MC_PIPELINE &mc = *c.getPipeline()->getMCPipeline();
        mc.sEXS.bGlobalEnable = 1;
        mc.sEXS.fPixelMax = 4095.0; // only the top code counts as clipped
        mc.sEXS.updateNeeded = 1;
        mc.sHIS.bGlobalEnable = 1;
        mc.sHIS.updateNeeded = 1;
        // The tone mapper needs 40 pixels per local column: a frame this small bypasses it.
        mc.sTNM.bBypassTNM = 1;
        mc.sTNM.updateNeeded = 1;
        chromaCbFirst(mc);
        // With the tone mapper bypassed nothing lifts luma to the limited-range foot: the RGB-to-YUV luma offset
        // carries it (16 codes on top of the module's default).
        mc.sR2Y.aOffset[1] += 16.0;
        if (withRawLut && c.ownsSensor()) {
            EXPECT_EQ(c.programExposure(), QOR_RES_OK);
        }
        EXPECT_EQ(c.program(), QOR_RES_OK);
        EXPECT_EQ(c.allocateBufferPool(2), QOR_RES_OK);
        EXPECT_EQ(c.state, Camera::CAM_READY);
        EXPECT_EQ(c.startCapture(), QOR_RES_OK);
    }

    /** Enqueues and acquires one frame. */
    void oneFrame(Shot &shot) {
        ASSERT_EQ(camera->enqueueShot(), QOR_RES_OK);
        ASSERT_EQ(camera->acquireShot(shot, true), QOR_RES_OK);
        ASSERT_FALSE(shot.bFrameError);
    }

    /** The device's gamma curve made linear: output levels proportional to the light. */
    void linearGamma() {
        CI_MODULE_GMA_LUT lut;
        for (int i = 0; i < GMA_N_POINTS; i++) {
            const QOR_UINT16 v = static_cast<QOR_UINT16>(std::lround(4095.0 * i / (GMA_N_POINTS - 1)));
            lut.aRedPoints[i] = lut.aGreenPoints[i] = lut.aBluePoints[i] = v;
        }
        ASSERT_EQ(CI_DriverSetGammaLUT(camera->getConnection(), &lut), QOR_RES_OK);
    }

    std::string dir;
    std::string scene;
    norva_scenes::SceneLayout layout;
    std::unique_ptr<DGCamera> camera;
};

bool haveFfmpeg() { return std::system("ffmpeg -version >/dev/null 2>&1") == 0; }

// Sixty frames written with plain file writes decode with ffmpeg; the decoded greys are grey.
TEST_F(DGCameraTest, SixtyFramesDecodeWithFfmpeg) {
    DGCamera &c = capturing(scene);
    const std::string yuvPath = dir + "/frames.nv12";
    const std::string rgbPath = dir + "/frames.bgr";
    std::FILE *yuv = std::fopen(yuvPath.c_str(), "wb");
    std::FILE *rgb = std::fopen(rgbPath.c_str(), "wb");
    ASSERT_NE(yuv, nullptr);
    ASSERT_NE(rgb, nullptr);
    constexpr unsigned kFrames = 60;
    for (unsigned i = 0; i < kFrames; i++) {
        Shot shot;
        oneFrame(shot);
        ASSERT_EQ(shot.YUV.width, kWidth);
        ASSERT_EQ(shot.YUV.height, kHeight);
        ASSERT_EQ(shot.DISPLAY.width, kWidth);
        for (uint32_t y = 0; y < kHeight; y++) {
            ASSERT_EQ(std::fwrite(shot.YUV.firstData() + size_t(y) * shot.YUV.stride, 1, kWidth, yuv), kWidth);
        }
        for (uint32_t y = 0; y < kHeight / 2; y++) {
            ASSERT_EQ(std::fwrite(shot.YUV.firstDataCbCr() + size_t(y) * shot.YUV.strideCbCr, 1, kWidth, yuv), kWidth);
        }
        for (uint32_t y = 0; y < kHeight; y++) {
            ASSERT_EQ(std::fwrite(shot.DISPLAY.firstData() + size_t(y) * shot.DISPLAY.stride, 1, kWidth * 3, rgb),
                      kWidth * 3);
        }
        ASSERT_EQ(c.releaseShot(shot), QOR_RES_OK);
    }
    ASSERT_EQ(std::fclose(yuv), 0);
    ASSERT_EQ(std::fclose(rgb), 0);
    ASSERT_EQ(c.stopCapture(), QOR_RES_OK);

    if (!haveFfmpeg()) {
        GTEST_SKIP() << "ffmpeg is not installed (scripts/deps.sh installs it)";
    }
    // Every frame of the stream decodes; one is also written as a PNG image.
    const std::string size = std::to_string(kWidth) + "x" + std::to_string(kHeight);
    const std::string decoded = dir + "/decoded.rgb";
    ASSERT_EQ(std::system(("ffmpeg -loglevel error -y -f rawvideo -pix_fmt nv12 -s " + size + " -i '" + yuvPath +
                           "' -f rawvideo -pix_fmt rgb24 '" + decoded + "'")
                              .c_str()),
              0);
    ASSERT_EQ(std::system(("ffmpeg -loglevel error -y -f rawvideo -pix_fmt nv12 -s " + size + " -i '" + yuvPath +
                           "' -frames:v 1 '" + dir + "/frame.png'")
                              .c_str()),
              0);
    ASSERT_EQ(std::system(("ffmpeg -loglevel error -y -f rawvideo -pix_fmt bgr24 -s " + size + " -i '" + rgbPath +
                           "' -frames:v 1 '" + dir + "/display.png'")
                              .c_str()),
              0);
    std::ifstream in(decoded, std::ios::binary);
    const std::vector<uint8_t> frames((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_EQ(frames.size(), size_t(kFrames) * kWidth * kHeight * 3);
    const uint8_t *last = frames.data() + size_t(kFrames - 1) * kWidth * kHeight * 3;
    double previous = 0;
    for (const norva_test::Rect &patch : layout.grey) {
        double v[3];
        for (int ch = 0; ch < 3; ch++)
            v[ch] = meanOver(last, kWidth * 3, 3, ch, patch);
        EXPECT_NEAR(v[0], v[1], 4.0);
        EXPECT_NEAR(v[2], v[1], 4.0);
        EXPECT_GT(v[1], previous); // the patches get lighter left to right
        previous = v[1];
    }
    // The red patch decodes red, the blue one blue: the chroma planes are in NV12 order.
    double red[3], blue[3];
    for (int ch = 0; ch < 3; ch++) {
        red[ch] = meanOver(last, kWidth * 3, 3, ch, layout.colour[0]);
        blue[ch] = meanOver(last, kWidth * 3, 3, ch, layout.colour[2]);
    }
    EXPECT_GT(red[0], red[1] + 40);
    EXPECT_GT(red[0], red[2] + 40);
    EXPECT_GT(blue[2], blue[0] + 40);
    EXPECT_GT(blue[2], blue[1] + 40);
}

// With neutral settings every grey patch comes out grey in the display output and without chroma in the
// encoder output.
TEST_F(DGCameraTest, NeutralSettingsKeepGreysGrey) {
    DGCamera &c = capturing(scene);
    Shot shot;
    oneFrame(shot);
    for (const norva_test::Rect &patch : layout.grey) {
        double rgb[3];
        displayRgb(shot, patch, rgb);
        EXPECT_NEAR(rgb[0], rgb[1], 3.0) << patch.x;
        EXPECT_NEAR(rgb[2], rgb[1], 3.0) << patch.x;
        const norva_test::Rect chroma{patch.x / 2, patch.y / 2, patch.w / 2, patch.h / 2};
        EXPECT_NEAR(meanOver(shot.YUV.firstDataCbCr(), shot.YUV.strideCbCr, 2, 0, chroma, 2), 128.0, 3.0);
        EXPECT_NEAR(meanOver(shot.YUV.firstDataCbCr(), shot.YUV.strideCbCr, 2, 1, chroma, 2), 128.0, 3.0);
    }
    // NV12: Cb first. The red patch has Cr above and Cb below the middle, the blue one the opposite.
    for (int patch : {0, 2}) {
        const norva_test::Rect &r = layout.colour[patch];
        const norva_test::Rect chroma{r.x / 2, r.y / 2, r.w / 2, r.h / 2};
        const double cb = meanOver(shot.YUV.firstDataCbCr(), shot.YUV.strideCbCr, 2, 0, chroma, 2);
        const double cr = meanOver(shot.YUV.firstDataCbCr(), shot.YUV.strideCbCr, 2, 1, chroma, 2);
        EXPECT_EQ(cr > 140.0, patch == 0) << patch;
        EXPECT_EQ(cb > 140.0, patch == 2) << patch;
    }
    double red[3];
    displayRgb(shot, layout.colour[0], red);
    EXPECT_GT(red[0], red[1] + 40);
    EXPECT_GT(red[0], red[2] + 40);
    EXPECT_EQ(c.releaseShot(shot), QOR_RES_OK);
}

struct OutputChange {
    const char *name;
    void (*change)(DGCamera &camera);
    int channel; /* display channel that moves most (0 red, 1 green, 2 blue) */
    bool brighter;
};

// One frame with neutral settings, then one frame after a change: the output moves the expected way.
TEST_F(DGCameraTest, WhiteBalanceGainsAndRawCurveMoveTheOutput) {
    const OutputChange cases[] = {
        {"red gain doubled",
         [](DGCamera &c) {
             MC_WBC &wbc = c.getPipeline()->getMCPipeline()->sWBC;
             wbc.aGain[0] *= 2.0;
             wbc.updateNeeded = 1;
         },
         0, true},
        {"blue gain halved",
         [](DGCamera &c) {
             MC_WBC &wbc = c.getPipeline()->getMCPipeline()->sWBC;
             wbc.aGain[3] *= 0.5;
             wbc.updateNeeded = 1;
         },
         2, false},
        {"raw curve lifted",
         [](DGCamera &c) {
             ModuleRLT &rlt = *static_cast<ModuleRLT *>(c.getPipeline()->getModule(STP_RLT));
             for (unsigned ch = 0; ch < ModuleRLT::N_CHANNELS; ch++) {
                 for (unsigned i = 0; i < ModuleRLT::N_POINTS; i++) {
                     rlt.aLUTPoints[ch][i] = static_cast<QOR_UINT16>(std::sqrt((i + 1) / 16.0) * 65535.0);
                 }
             }
             rlt.eMode = ModuleRLT::RLT_LINEAR;
             rlt.requestUpdate();
         },
         1, true},
    };
    for (const OutputChange &k : cases) {
        SCOPED_TRACE(k.name);
        DGCamera &c = capturing(scene);
        const norva_test::Rect &patch = layout.grey[2];
        Shot neutral;
        oneFrame(neutral);
        double before[3];
        displayRgb(neutral, patch, before);
        ASSERT_EQ(c.releaseShot(neutral), QOR_RES_OK);
        k.change(c);
        Shot changed;
        oneFrame(changed);
        double after[3];
        displayRgb(changed, patch, after);
        ASSERT_EQ(c.releaseShot(changed), QOR_RES_OK);
        if (k.brighter) {
            EXPECT_GT(after[k.channel], before[k.channel] + 15.0);
        } else {
            EXPECT_LT(after[k.channel], before[k.channel] - 15.0);
        }
        ASSERT_EQ(c.stopCapture(), QOR_RES_OK);
    }
}

// Statistics agree with the scene: every pixel counts once in the histogram, the clip counts are the clipped
// patch, and the sharp chart has more focus sharpness than a blurred copy of it.
TEST_F(DGCameraTest, StatisticsAgreeWithTheScene) {
    uint32_t sharpness[2] = {0, 0};
    for (int blurred = 0; blurred < 2; blurred++) {
        SCOPED_TRACE(blurred ? "blurred" : "sharp");
        std::string file = scene;
        if (blurred) {
            norva_test::SceneOptions o;
            o.width = kWidth;
            o.height = kHeight;
            o.bitDepth = 10;
            o.blurRadius = 3;
            file = dir + "/blurred.nrv";
            ASSERT_TRUE(writeChartNrv(file, norva_test::MakeTestChart(o)));
        }
        DGCamera &c = capturing(file);
        Shot shot;
        oneFrame(shot);
        uint64_t total = 0;
        for (QOR_UINT32 bin : shot.metadata.histogramStats.globalHistogram)
            total += bin;
        EXPECT_EQ(total, uint64_t(kWidth) * kHeight);
        uint64_t clipped = 0;
        for (QOR_UINT32 n : shot.metadata.clippingStats.globalClipped)
            clipped += n;
        if (!blurred) {
            EXPECT_EQ(clipped, layout.clipped.area());
        } else {
            EXPECT_GE(clipped, layout.clipped.area() / 2); // blurred beyond full scale, still clipped
        }
        sharpness[blurred] = shot.metadata.focusStats.ROISharpness;
        ASSERT_EQ(c.releaseShot(shot), QOR_RES_OK);
        ASSERT_EQ(c.stopCapture(), QOR_RES_OK);
    }
    EXPECT_GT(sharpness[0], sharpness[1] + sharpness[1] / 4);
}

// Doubling the exposure roughly doubles the output below clipping (seen through a linear gamma curve).
TEST_F(DGCameraTest, DoublingTheExposureDoublesTheOutput) {
    DGCamera &c = capturing(scene);
    linearGamma();
    Sensor &sensor = *c.getSensor();
    double level[2];
    unsigned long exposure[2];
    const unsigned long asked[2] = {1500, 3000};
    for (int i = 0; i < 2; i++) {
        ASSERT_EQ(sensor.setExposure(asked[i]), QOR_RES_OK);
        exposure[i] = sensor.getExposure();
        ASSERT_EQ(c.programExposure(), QOR_RES_OK);
        Shot shot;
        oneFrame(shot);
        level[i] = luma(shot, layout.grey[1]) - 16.0; // limited-range foot
        ASSERT_EQ(c.releaseShot(shot), QOR_RES_OK);
    }
    ASSERT_GT(level[0], 2.0);
    const double ratio = level[1] / level[0];
    const double expected = double(exposure[1]) / double(exposure[0]);
    EXPECT_NEAR(ratio, expected, 0.15 * expected);
}

/** A sensor whose exposure range and exposure are chosen by the test. */
class RangeSensor : public Sensor {
public:
    RangeSensor(QOR_UINT32 minimum, QOR_UINT32 maximum, QOR_UINT32 exposure) {
        minExposure = minimum;
        maxExposure = maximum;
        programmedExposure = exposure;
    }
};

struct ExposureCase {
    const char *name;
    QOR_UINT32 minimum, maximum, exposure;
    QOR_UINT16 points[15];
};

// The look-up table imitating the exposure: the identity at the geometric mean of the range, lifted above it,
// held at 65535 where the curve reaches the full scale (never wrapped to 0).
TEST_F(DGCameraTest, ProgramExposureWritesTheCurve) {
    const ExposureCase cases[] = {
        {"geometric mean",
         100,
         10000,
         1000,
         {4096, 8192, 12288, 16384, 20480, 24576, 28672, 32768, 36864, 40960, 45056, 49152, 53248, 57344, 61440}},
        {"data-generator maximum",
         90,
         90909,
         90909,
         {57109, 64595, 65446, 65528, 65535, 65535, 65535, 65535, 65535, 65535, 65535, 65535, 65535, 65535, 65535}},
        {"empty range",
         0,
         0,
         1000,
         {65535, 65535, 65535, 65535, 65535, 65535, 65535, 65535, 65535, 65535, 65535, 65535, 65535, 65535, 65535}},
    };
    for (const ExposureCase &k : cases) {
        SCOPED_TRACE(k.name);
        RangeSensor sensor(k.minimum, k.maximum, k.exposure);
        DGCamera c(0, &sensor);
        EXPECT_EQ(c.programExposure(), QOR_RES_FAILED); // no look-up-table module yet
        ModuleRLT *rlt = new ModuleRLT();
        ASSERT_EQ(c.getPipeline()->registerModule(rlt), QOR_RES_OK);
        ASSERT_EQ(c.programExposure(), QOR_RES_OK);
        EXPECT_EQ(rlt->eMode, ModuleRLT::RLT_CUBIC);
        for (unsigned ch = 0; ch < ModuleRLT::N_CHANNELS; ch++) {
            for (unsigned i = 0; i < 15; i++)
                EXPECT_EQ(rlt->aLUTPoints[ch][i], k.points[i]) << ch << " " << i;
            EXPECT_EQ(rlt->aLUTPoints[ch][15], 65535);
        }
    }
}

/** Commands of a kind in the device's trace. */
unsigned commands(int nr) {
    unsigned n = 0;
    for (const norva_sim::TraceEntry &e : norva_sim::Trace())
        n += e.nr == nr ? 1u : 0u;
    return n;
}

struct FactsCase {
    const char *name;
    const char *setup;
    double gain;
    unsigned wellDepth;
    double readNoise;
    double frameRate;
    const char *warning; /* null: none */
};

// The sensor's facts from a setup: the deprecated module tags win, with a warning, over the sensor's own.
TEST_F(DGCameraTest, SensorFactsFromTheSetup) {
    const FactsCase cases[] = {
        {"nothing", "", 1.0, 5000, 0.0, 30.0, nullptr},
        {"deprecated frame rate", "FLD_FRAME_RATE 25\n", 1.0, 5000, 0.0, 25.0,
         "FLD_FRAME_RATE is deprecated use SENSOR_FRAME_RATE instead!"},
        {"sensor frame rate", "SENSOR_FRAME_RATE 20\n", 1.0, 5000, 0.0, 20.0, nullptr},
        {"both well depths", "DNS_WELL_DEPTH 7000\nSENSOR_WELL_DEPTH 9000\n", 1.0, 7000, 0.0, 30.0,
         "DNS_WELL_DEPTH is deprecated use SENSOR_WELL_DEPTH instead!"},
        {"deprecated gain clamped", "DNS_ISO_GAIN 300\nSENSOR_READ_NOISE 2.5\n", 128.0, 5000, 2.5, 30.0,
         "DNS_ISO_GAIN is deprecated use SENSOR_GAIN instead!"},
        {"deprecated read noise", "DNS_READ_NOISE 4\nSENSOR_READ_NOISE 2.5\n", 1.0, 5000, 4.0, 30.0,
         "DNS_READ_NOISE is deprecated use SENSOR_READ_NOISE instead!"},
    };
    for (const FactsCase &k : cases) {
        SCOPED_TRACE(k.name);
        DGSensor sensor(scene, 0, true);
        ASSERT_EQ(sensor.getState(), Sensor::SENSOR_INITIALIZED);
        std::istringstream text(k.setup);
        ParameterList parameters;
        ASSERT_EQ(ParameterFileParser::parse(text, parameters), QOR_RES_OK);
        QOR_RESULT ret = QOR_RES_FAILED;
        const std::string log = stderrOf([&] { ret = sensor.load(parameters); });
        EXPECT_EQ(ret, QOR_RES_OK);
        EXPECT_DOUBLE_EQ(sensor.getGain(), k.gain);
        EXPECT_EQ(sensor.uiWellDepth, k.wellDepth);
        EXPECT_DOUBLE_EQ(sensor.flReadNoise, k.readNoise);
        EXPECT_DOUBLE_EQ(sensor.flFrameRate, k.frameRate);
        if (k.warning != nullptr) {
            EXPECT_NE(log.find(k.warning), std::string::npos) << log;
        } else {
            EXPECT_EQ(log.find("deprecated"), std::string::npos) << log;
        }
    }
}

// A sensor that cannot be made leaves the camera in its error state; well depth and read noise follow the
// camera's sensor information (defaults for an empty list).
TEST_F(DGCameraTest, ConstructionAndSensorInformation) {
    struct Failure {
        const char *name;
        std::string file;
        bool internal;
        const char *message;
    } failures[] = {
        {"external generator", scene, false, "external DG not supported!"},
        {"missing file", dir + "/missing.nrv", true, "Failed to setup IIFDG source file"},
    };
    for (const Failure &k : failures) {
        SCOPED_TRACE(k.name);
        std::unique_ptr<DGCamera> broken;
        const std::string log = stderrOf([&] { broken.reset(new DGCamera(0, k.file, 0, k.internal)); });
        EXPECT_EQ(broken->state, Camera::CAM_ERROR);
        EXPECT_EQ(broken->getSensor()->getState(), Sensor::SENSOR_ERROR);
        EXPECT_NE(log.find(k.message), std::string::npos) << log;
        EXPECT_NE(log.find("Cannot init DG sensor!"), std::string::npos) << log;
    }

    {
        DGCamera c(0, scene, 0, true);
        EXPECT_EQ(c.state, Camera::CAM_CONNECTED);
        EXPECT_EQ(c.getSensor()->getState(), Sensor::SENSOR_CONFIGURED);
        EXPECT_EQ(c.getSensor()->uiWidth, kWidth);
        std::istringstream text("DNS_WELL_DEPTH 6000\nDNS_READ_NOISE 2.5\n");
        ParameterList parameters;
        ASSERT_EQ(ParameterFileParser::parse(text, parameters), QOR_RES_OK);
        ASSERT_EQ(c.updateSensorInfo(parameters), QOR_RES_OK);
        EXPECT_EQ(c.getSensor()->uiWellDepth, 6000u);
        EXPECT_DOUBLE_EQ(c.getSensor()->flReadNoise, 2.5);
        ASSERT_EQ(c.updateSensorInfo(ParameterList()), QOR_RES_OK);
        EXPECT_EQ(c.getSensor()->uiWellDepth, 5000u);
        EXPECT_DOUBLE_EQ(c.getSensor()->flReadNoise, 0.0);
    }

    // The hardware description is read when the driver connection opens: ask with none open.
    EXPECT_TRUE(DGCamera::supportIntDG());
    EXPECT_FALSE(DGCamera::supportExtDG());
    norva_sim::IspDevice().description.sHWInfo.eFunctionalities &=
        ~static_cast<QOR_UINT32>(CI_INFO_SUPPORTED_IIF_DATAGEN);
    EXPECT_FALSE(DGCamera::supportIntDG());
    norva_sim::SetDeviceAbsent(true);
    bool supported = true;
    const std::string log = stderrOf([&] { supported = DGCamera::supportIntDG(); });
    EXPECT_FALSE(supported);
    EXPECT_NE(log.find("failed to connect to driver to enquire about internal data generator"), std::string::npos);
    norva_sim::SetDeviceAbsent(false);
}

// A second context borrowing the sensor takes the same frames but inserts none, waits for none and leaves its
// look-up table alone; the owner inserts one frame per shot and waits for it.
TEST_F(DGCameraTest, BorrowedSensorInsertsAndWaitsForNothing) {
    DGCamera &owner = capturing(scene);
    DGCamera second(1, owner.getSensor());
    EXPECT_FALSE(second.ownsSensor());
    start(second);
    const ModuleRLT &lut = *static_cast<const ModuleRLT *>(second.getPipeline()->getModule(STP_RLT));
    for (int frame = 0; frame < 3; frame++) {
        norva_sim::ClearTrace();
        ASSERT_EQ(second.enqueueShot(), QOR_RES_OK);
        EXPECT_EQ(commands(CI_IIFDG_RELEASE), 0u);
        ASSERT_EQ(owner.enqueueShot(), QOR_RES_OK);
        EXPECT_EQ(commands(CI_IIFDG_RELEASE), 1u);
        Shot mine, borrowed;
        ASSERT_EQ(owner.acquireShot(mine, true), QOR_RES_OK);
        EXPECT_EQ(commands(CI_IIFDG_WAITPROCESSED), 1u);
        ASSERT_EQ(second.acquireShot(borrowed, true), QOR_RES_OK);
        EXPECT_EQ(commands(CI_IIFDG_WAITPROCESSED), 1u);
        // The same frame, processed by both contexts alike.
        EXPECT_EQ(luma(mine, layout.grey[3]), luma(borrowed, layout.grey[3]));
        EXPECT_EQ(lut.eMode, ModuleRLT::RLT_DISABLED);
        ASSERT_EQ(owner.releaseShot(mine), QOR_RES_OK);
        ASSERT_EQ(second.releaseShot(borrowed), QOR_RES_OK);
    }
    ASSERT_EQ(second.stopCapture(), QOR_RES_OK);
    ASSERT_EQ(owner.stopCapture(), QOR_RES_OK);
}

// A shot of named buffers also inserts its frame, through the camera's interface too; without the look-up-table
// module the acquire reports it after the shot was acquired, and the shot is still released.
TEST_F(DGCameraTest, NamedBuffersAndMissingLookUpTable) {
    DGCamera &c = capturing(scene, false);
    Camera &base = c;
    CI_BUFFID ids{};
    ASSERT_EQ(c.getPipeline()->getFirstAvailableBuffers(ids), QOR_RES_OK);
    norva_sim::ClearTrace();
    ASSERT_EQ(base.enqueueSpecifiedShot(static_cast<const CI_BUFFID &>(ids)), QOR_RES_OK);
    EXPECT_EQ(commands(CI_IIFDG_RELEASE), 1u);
    Shot shot;
    QOR_RESULT ret = QOR_RES_OK;
    const std::string log = stderrOf([&] { ret = c.acquireShot(shot, true); });
    EXPECT_EQ(ret, QOR_RES_FAILED);
    EXPECT_NE(log.find("RLT module not found"), std::string::npos) << log;
    ASSERT_NE(shot.pCIBuffer, nullptr);
    EXPECT_EQ(c.releaseShot(shot), QOR_RES_OK);

    ASSERT_EQ(c.getPipeline()->getFirstAvailableBuffers(ids), QOR_RES_OK);
    ASSERT_EQ(c.enqueueSpecifiedShot(ids), QOR_RES_OK);
    EXPECT_EQ(commands(CI_IIFDG_RELEASE), 2u);
    stderrOf([&] { ret = c.acquireShot(shot, true); });
    EXPECT_EQ(ret, QOR_RES_FAILED);
    EXPECT_EQ(c.releaseShot(shot), QOR_RES_OK);
}

} // namespace
