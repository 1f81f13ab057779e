// The light-based control behind auto exposure in a data-generator camera playing a chart and then the same
// chart ten times darker: the light level is the exponential average of the metered levels at every frame, it
// settles about ten times higher once exposure has restored the brightness, and the registers the next frame
// was processed with (decoded from its load area) carry the interpolated configuration. Also: each value the
// control writes reaches the frame's registers and changes the output.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "chart_segments.h"
#include "ci/ci_api.h"
#include "ispc/ControlAE.h"
#include "ispc/ControlLBC.h"
#include "ispc/DGCamera.h"
#include "ispc/ModuleBLC.h"
#include "ispc/ModuleHIS.h"
#include "ispc/ModuleIIF.h"
#include "ispc/ModuleOUT.h"
#include "ispc/ModuleR2Y.h"
#include "ispc/ModuleRLT.h"
#include "ispc/ModuleSHA.h"
#include "ispc/ParameterFileParser.h"
#include "mc/mc_pipeline.h"
#include "platform/sim_lsdecoder.h"
#include "sensors/iifdatagen.h"
#include "support/output_capture.h"
#include "support/sim_fixture.h"

using namespace ISPC;
using norva_test::stderrOf;

namespace {

constexpr uint32_t kWidth = 320;
constexpr uint32_t kHeight = 240;
constexpr unsigned kBrightFrames = 70;
constexpr unsigned kDarkFrames = 130;

/** Configurations at light levels spread over both segments' range. */
const char *const kConfigurations = "LBC_CONFIGURATIONS 3\n"
                                    "LBC_LIGHT_LEVEL_0 0.002\nLBC_SHARPNESS_0 0.8\nLBC_SATURATION_0 1.4\n"
                                    "LBC_BRIGHTNESS_0 -0.05\nLBC_CONTRAST_0 1.2\n"
                                    "LBC_LIGHT_LEVEL_1 0.02\nLBC_SHARPNESS_1 0.4\nLBC_SATURATION_1 1\n"
                                    "LBC_BRIGHTNESS_1 0\nLBC_CONTRAST_1 1\n"
                                    "LBC_LIGHT_LEVEL_2 0.2\nLBC_SHARPNESS_2 0.1\nLBC_SATURATION_2 0.6\n"
                                    "LBC_BRIGHTNESS_2 0.1\nLBC_CONTRAST_2 0.8\n";

/** Mean bin index over 63 of the frame's global histogram, computed here from the counts. */
double meanBrightness(const Metadata &md) {
    double n = 0, s = 0;
    for (int i = 0; i < 64; i++) {
        n += md.histogramStats.globalHistogram[i];
        s += i * double(md.histogramStats.globalHistogram[i]);
    }
    return n > 0 ? s / n / 63 : 0;
}

/** Piecewise-linear interpolation of the loaded table, ends held. */
LightCorrection interpolate(const ControlLBC &lbc, double level) {
    const int n = lbc.getConfigurationsNumber();
    if (level <= lbc.getCorrection(0).lightLevel)
        return lbc.getCorrection(0);
    for (int i = 1; i < n; i++) {
        const LightCorrection lo = lbc.getCorrection(i - 1), hi = lbc.getCorrection(i);
        if (level <= hi.lightLevel) {
            const double t = (level - lo.lightLevel) / (hi.lightLevel - lo.lightLevel);
            LightCorrection c;
            c.sharpness = lo.sharpness + t * (hi.sharpness - lo.sharpness);
            c.saturation = lo.saturation + t * (hi.saturation - lo.saturation);
            c.brightness = lo.brightness + t * (hi.brightness - lo.brightness);
            c.contrast = lo.contrast + t * (hi.contrast - lo.contrast);
            c.lightLevel = level;
            return c;
        }
    }
    return lbc.getCorrection(n - 1);
}

class LightLoop : public norva_test::SimTest {
protected:
    void SetUp() override {
        SimTest::SetUp();
        char pattern[] = "/tmp/norva-light-loop-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
    }
    void TearDown() override {
        if (camera && camera->state == Camera::CAM_CAPTURING)
            stderrOf([&] { camera->stopCapture(); });
        stderrOf([&] { camera.reset(); });
        std::system(("rm -rf '" + dir + "'").c_str());
        SimTest::TearDown();
    }

    /** A capturing camera on the file with NV12 output, the light-based control and, when asked, exposure. */
    void start(const std::string &file, bool withAe, const std::string &setup) {
        camera.reset(new DGCamera(0, file, 0, true));
        EXPECT_EQ(IIFDG_ExtendedSetBlanking(camera->getSensor()->getHandle(), 100, 14), QOR_RES_OK);
        for (SetupModule *m : {static_cast<SetupModule *>(new ModuleOUT()), static_cast<SetupModule *>(new ModuleIIF()),
                               static_cast<SetupModule *>(new ModuleBLC()), static_cast<SetupModule *>(new ModuleRLT()),
                               static_cast<SetupModule *>(new ModuleHIS()), static_cast<SetupModule *>(new ModuleR2Y()),
                               static_cast<SetupModule *>(new ModuleSHA())}) {
            EXPECT_EQ(camera->getPipeline()->registerModule(m), QOR_RES_OK);
        }
        camera->state = Camera::CAM_REGISTERED;
        if (withAe) {
            ae = new ControlAE();
            EXPECT_EQ(camera->registerControlModule(ae), QOR_RES_OK);
        }
        lbc = new ControlLBC();
        EXPECT_EQ(camera->registerControlModule(lbc), QOR_RES_OK);
        std::istringstream text("OUT_ENC NV12\nBLC_SENSOR_BLACK 0 0 0 0\nHIS_GLOBAL_ENABLE 1\n" + setup);
        ParameterList parameters;
        EXPECT_EQ(ParameterFileParser::parse(text, parameters), QOR_RES_OK);
        EXPECT_EQ(camera->loadParameters(parameters), QOR_RES_OK);
        if (ae != nullptr)
            ae->enableCorrection(true);
        // The tone mapper needs 40 pixels per local column: a frame this small bypasses it.
        MC_PIPELINE &mc = *camera->getPipeline()->getMCPipeline();
        mc.sTNM.bBypassTNM = 1;
        mc.sTNM.updateNeeded = 1;
        EXPECT_EQ(camera->programExposure(), QOR_RES_OK);
        EXPECT_EQ(camera->program(), QOR_RES_OK);
        EXPECT_EQ(camera->allocateBufferPool(2), QOR_RES_OK);
        EXPECT_EQ(camera->startCapture(), QOR_RES_OK);
    }

    /**
     * One frame (the controls run unless told not to); keeps its statistics, its registers decoded from its load
     * area and its luma and chroma planes.
     */
    void frame(bool runControls = true) {
        ASSERT_EQ(camera->enqueueShot(), QOR_RES_OK);
        Shot shot;
        ASSERT_EQ(camera->acquireShot(shot, true, runControls), QOR_RES_OK);
        ASSERT_FALSE(shot.bFrameError);
        metadata = shot.metadata;
        ASSERT_NE(shot.pCIBuffer, nullptr);
        ASSERT_EQ(SimLS_Decode(static_cast<const QOR_UINT8 *>(shot.pCIBuffer->pLoadStruct), shot.pCIBuffer->loadSize,
                               &registers),
                  QOR_RES_OK);
        luma.resize(size_t(kWidth) * kHeight);
        for (uint32_t y = 0; y < kHeight; y++) {
            const uint8_t *row = shot.YUV.firstData() + size_t(y) * shot.YUV.stride;
            std::copy(row, row + kWidth, luma.begin() + size_t(y) * kWidth);
        }
        chroma.resize(size_t(kWidth) * kHeight / 2);
        for (uint32_t y = 0; y < kHeight / 2; y++) {
            const uint8_t *row = shot.YUV.firstDataCbCr() + size_t(y) * shot.YUV.strideCbCr;
            std::copy(row, row + kWidth, chroma.begin() + size_t(y) * kWidth);
        }
        ASSERT_EQ(camera->releaseShot(shot), QOR_RES_OK);
    }

    /** The registers the camera's current module configuration converts into. */
    void convertedRegisters(CI_MODULE_R2Y &r2y, CI_MODULE_SHA &sha) {
        MC_PIPELINE &mc = *camera->getPipeline()->getMCPipeline();
        MC_R2Y mcR2y = mc.sR2Y;
        MC_SHA mcSha = mc.sSHA;
        mcR2y.updateNeeded = 1; // converted whether or not the pipeline still has it to send
        mcSha.updateNeeded = 1;
        int mask = 0;
        memset(&r2y, 0, sizeof(r2y));
        memset(&sha, 0, sizeof(sha));
        EXPECT_EQ(MC_R2YConvert(&mcR2y, &r2y, &mask), QOR_RES_OK);
        EXPECT_EQ(MC_SHAConvert(&mcSha, &sha, &camera->hwInfo, &mask), QOR_RES_OK);
    }

    std::string dir;
    std::unique_ptr<DGCamera> camera;
    ControlAE *ae = nullptr; /**< owned by the camera */
    ControlLBC *lbc = nullptr;
    Metadata metadata;
    CI_PIPELINE registers;
    std::vector<uint8_t> luma, chroma;
};

void expectSameRegisters(const CI_MODULE_R2Y &a, const CI_MODULE_R2Y &b, const char *what) {
    for (int r = 0; r < 3; r++) {
        for (int c = 0; c < 3; c++)
            EXPECT_EQ(a.aCoeff[r][c], b.aCoeff[r][c]) << what << " coefficient " << r << "," << c;
        EXPECT_EQ(a.aOffset[r], b.aOffset[r]) << what << " offset " << r;
    }
}

TEST_F(LightLoop, LevelFollowsExposureAcrossADarkerSegment) {
    const std::string file = dir + "/step.nrv";
    ASSERT_TRUE(
        norva_test::writeChartSegments(file, kWidth, kHeight, {{0.6, 0.0, kBrightFrames}, {0.06, 0.0, kDarkFrames}}));
    start(file, true, kConfigurations);
    ASSERT_EQ(lbc->getConfigurationsNumber(), 3);
    const double speed = lbc->getUpdateSpeed();
    Sensor &sensor = *camera->getSensor();
    double level = 1.0;
    double brightLevel = 0, brightExposure = 0, brightBrightness = 0;
    double levelTenBefore = 0;
    // The level metered with the exposure auto exposure has just programmed, over the level of the exposure the
    // frame was taken with: above 1 on the frames where exposure moved.
    double largestTransient = 1.0;
    double frameExposure = sensor.getExposure();
    for (unsigned n = 0; n < kBrightFrames + kDarkFrames; n++) {
        frame();
        // Exposure and gain as auto exposure left them in this pass, brightness of this frame.
        const double b = meanBrightness(metadata);
        ASSERT_GT(b, 0.0) << "frame " << n;
        const double metered = sensor.getExposure() / 1e6 * sensor.getGain() / b;
        ASSERT_NEAR(lbc->getMeteredLightLevel(), metered, 1e-12 * metered) << "frame " << n;
        level = level * (1 - speed) + metered * speed;
        ASSERT_NEAR(lbc->getLightLevel(), level, 1e-12 * level) << "frame " << n;
        largestTransient = std::max(largestTransient, sensor.getExposure() / frameExposure);
        frameExposure = sensor.getExposure(); // the next frame is taken with it
        if (n == kBrightFrames - 1) {
            brightLevel = level;
            brightExposure = sensor.getExposure();
            brightBrightness = b;
            EXPECT_TRUE(ae->hasConverged()) << "exposure still moving on the bright segment";
        }
        if (n == kBrightFrames + kDarkFrames - 11)
            levelTenBefore = level;
    }
    EXPECT_TRUE(ae->hasConverged()) << "exposure still moving on the dark segment";
    // Exposure restored the brightness; the level settled about ten times higher.
    EXPECT_NEAR(meanBrightness(metadata), brightBrightness, 0.3 * brightBrightness);
    EXPECT_NEAR(level, levelTenBefore, 0.01 * level);
    const double ratio = level / brightLevel;
    EXPECT_GT(ratio, 8.0) << ratio;
    EXPECT_LT(ratio, 20.0) << ratio;
    EXPECT_GT(sensor.getExposure(), 8 * brightExposure);
    // The transient of combining a just-programmed exposure with the previous frame's brightness is there, and
    // bounded by the largest exposure step of auto exposure (exp(1.5)).
    EXPECT_GT(largestTransient, 1.05);
    EXPECT_LT(largestTransient, 4.49);
    RecordProperty("light_level_ratio", std::to_string(ratio));
    RecordProperty("brightness_bright_dark",
                   std::to_string(brightBrightness) + " " + std::to_string(meanBrightness(metadata)));
    RecordProperty("exposure_bright_dark", std::to_string(brightExposure) + " " + std::to_string(sensor.getExposure()));
    RecordProperty("largest_transient", std::to_string(largestTransient));

    // The frame after the last update is processed with the interpolated configuration.
    const LightCorrection want = interpolate(*lbc, level);
    const LightCorrection current = lbc->getCurrentCorrection();
    EXPECT_NEAR(current.sharpness, want.sharpness, 1e-12);
    EXPECT_NEAR(current.saturation, want.saturation, 1e-12);
    EXPECT_NEAR(current.brightness, want.brightness, 1e-12);
    EXPECT_NEAR(current.contrast, want.contrast, 1e-12);
    frame(false);
    const ModuleSHA &sha = *static_cast<const ModuleSHA *>(camera->getPipeline()->getModule(STP_SHA));
    const ModuleR2Y &r2y = *static_cast<const ModuleR2Y *>(camera->getPipeline()->getModule(STP_R2Y));
    EXPECT_EQ(sha.fStrength, current.sharpness);
    EXPECT_EQ(r2y.fSaturation, current.saturation);
    EXPECT_EQ(r2y.fBrightness, current.brightness);
    EXPECT_EQ(r2y.fContrast, current.contrast);
    CI_MODULE_R2Y wantR2y;
    CI_MODULE_SHA wantSha;
    convertedRegisters(wantR2y, wantSha);
    expectSameRegisters(registers.sRGBToYCC, wantR2y, "RGB to YUV");
    EXPECT_EQ(registers.sSharpening.ui8Strength, wantSha.ui8Strength);
}

TEST_F(LightLoop, EachWrittenValueReachesTheFrame) {
    // Without exposure control and with one configuration at a time, the next frame carries it.
    const std::string file = dir + "/chart.nrv";
    ASSERT_TRUE(norva_test::writeChartSegments(file, kWidth, kHeight, {{0.6, 0.0, 1}}));
    const struct {
        const char *name;
        const char *configuration;
    } cases[] = {
        {"neutral", "LBC_SHARPNESS_0 0.4\nLBC_SATURATION_0 1\nLBC_BRIGHTNESS_0 0\nLBC_CONTRAST_0 1\n"},
        {"sharpness", "LBC_SHARPNESS_0 0.9\nLBC_SATURATION_0 1\nLBC_BRIGHTNESS_0 0\nLBC_CONTRAST_0 1\n"},
        {"saturation", "LBC_SHARPNESS_0 0.4\nLBC_SATURATION_0 2\nLBC_BRIGHTNESS_0 0\nLBC_CONTRAST_0 1\n"},
        {"brightness", "LBC_SHARPNESS_0 0.4\nLBC_SATURATION_0 1\nLBC_BRIGHTNESS_0 0.2\nLBC_CONTRAST_0 1\n"},
        {"contrast", "LBC_SHARPNESS_0 0.4\nLBC_SATURATION_0 1\nLBC_BRIGHTNESS_0 0\nLBC_CONTRAST_0 1.5\n"},
    };
    CI_PIPELINE neutral;
    std::vector<uint8_t> neutralLuma, neutralChroma;
    for (const auto &c : cases) {
        start(file, false, std::string("LBC_CONFIGURATIONS 1\n") + c.configuration);
        frame();      // the control writes its configuration
        frame(false); // processed with it
        if (std::string(c.name) == "neutral") {
            neutral = registers;
            neutralLuma = luma;
            neutralChroma = chroma;
        } else {
            const bool r2yChanged = memcmp(&neutral.sRGBToYCC.aCoeff, &registers.sRGBToYCC.aCoeff,
                                           sizeof(registers.sRGBToYCC.aCoeff)) != 0 ||
                                    memcmp(&neutral.sRGBToYCC.aOffset, &registers.sRGBToYCC.aOffset,
                                           sizeof(registers.sRGBToYCC.aOffset)) != 0;
            const bool shaChanged = neutral.sSharpening.ui8Strength != registers.sSharpening.ui8Strength;
            EXPECT_EQ(shaChanged, std::string(c.name) == "sharpness") << c.name;
            EXPECT_EQ(r2yChanged, std::string(c.name) != "sharpness") << c.name;
            // Sharpening, brightness and contrast move luma; saturation only chroma.
            const bool lumaChanged = luma != neutralLuma;
            const bool chromaChanged = chroma != neutralChroma;
            EXPECT_EQ(lumaChanged, std::string(c.name) != "saturation") << c.name;
            EXPECT_TRUE(lumaChanged || chromaChanged) << c.name;
        }
        ASSERT_EQ(camera->stopCapture(), QOR_RES_OK);
    }
}

} // namespace
