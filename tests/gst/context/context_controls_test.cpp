// The main capture context's control loops: which controls it registers and runs after configuration, the runtime
// settings that reach them, and the exposure loop closed on the data-generator camera.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "context_fixture.h"
#include "platform/sim_pipeline.h"
#include "scenes/scene_nrv.h"
#include "support/sim_pipeline_of.h"
#include "ispc/ControlAE.h"
#include "ispc/ControlAF.h"
#include "ispc/ControlAWB.h"
#include "ispc/ControlAWB_PID.h"
#include "ispc/ControlAWB_Planckian.h"
#include "ispc/ControlDNS.h"
#include "ispc/ControlLBC.h"
#include "ispc/ControlLSH.h"
#include "ispc/ControlTNM.h"
#include "ispc/ModuleSHA.h"
#include "ispc/ModuleTNM.h"

using namespace ISPC;
using norva_test::contains;

namespace {

BufferFormat nv12(unsigned w, unsigned h) {
    BufferFormat f;
    f.format = YUV_420_PL12_8;
    f.width = w;
    f.height = h;
    return f;
}

class ContextControls : public norva_test::ContextTest {
protected:
    template <class C> C *control() { return dynamic_cast<C *>(main->pCamera->getControlModule(C::id)); }
};

// After configuration the exposure control runs and measures always, but drives the sensor only with "-CT0_AE"; the
// light-based control runs only with "-CT0_LBC"; tone mapping waits, configured, for "wdr-auto"; focus and denoise
// run as created.
TEST_F(ContextControls, RegisteredControlsAndTheirStates) {
    struct Case {
        bool autoExposure, lightBased;
    };
    for (const Case &f : {Case{false, false}, Case{true, false}, Case{false, true}, Case{true, true}}) {
        SCOPED_TRACE(testing::Message() << "AE " << f.autoExposure << " LBC " << f.lightBased);
        defaultParams();
        param->bControlAE[0] = f.autoExposure;
        param->bControlLBC[0] = f.lightBased;
        ASSERT_TRUE(preconfigureMain()) << log;
        ControlAE *ae = control<ControlAE>();
        ControlAF *af = control<ControlAF>();
        ControlDNS *dns = control<ControlDNS>();
        ControlTNM *tnm = control<ControlTNM>();
        ControlLBC *lbc = control<ControlLBC>();
        ASSERT_TRUE(ae && af && dns && tnm && lbc);
        const struct {
            ControlModule *control;
            const char *name;
            bool enabled;
        } expected[] = {{ae, "ISPC_CTRL_AE", true},
                        {af, "ISPC_CTRL_AF", true},
                        {dns, "ISPC_CTRL_DNS", true},
                        {tnm, "ISPC_CTRL_TNM", false},
                        {lbc, "ISPC_CTRL_LBC", f.lightBased}};
        for (const auto &e : expected) {
            EXPECT_STREQ(e.control->getLoggingName(), e.name);
            EXPECT_EQ(e.control->isEnabled(), e.enabled) << e.name;
            EXPECT_TRUE(e.control->hasPipeline(main->pCamera->getPipeline())) << e.name;
        }
        EXPECT_EQ(ae->isCorrectionEnabled(), f.autoExposure);
        EXPECT_TRUE(tnm->getLocalTNM());
        EXPECT_TRUE(tnm->getAdaptiveTNM());
        EXPECT_TRUE(tnm->getAllowHISConfig());
        EXPECT_EQ(tnm->getHistMax(), 1.0);
        EXPECT_EQ(tnm->getHistMin(), 1.0);
        EXPECT_EQ(tnm->getSmoothing(), 0.0);
        EXPECT_EQ(tnm->getTempering(), 1.0);

        ASSERT_TRUE(main->enableAutoExposure(!f.autoExposure));
        EXPECT_TRUE(ae->isEnabled());
        EXPECT_EQ(ae->isCorrectionEnabled(), !f.autoExposure);
        ASSERT_TRUE(main->enableWDRAuto(true));
        EXPECT_TRUE(tnm->isEnabled());
        ASSERT_TRUE(main->enableWDRAuto(false));
        EXPECT_FALSE(tnm->isEnabled());
        norva_test::stderrOf([&] { main.reset(); });
    }
}

// The white-balance variant and correction mode come from the capture parameters; an unknown variant is the normal
// one and an unknown mode at configuration is no correction, both with a warning. Without lens-shading grids the
// lens-shading control stays unlinked and never runs.
TEST_F(ContextControls, WhiteBalanceVariantAndModeFromTheParameters) {
    struct Case {
        unsigned algorithm, correction;
        const char *logName;
        bool pid, planckian;
        unsigned mode;
        const char *warning;
    };
    const Case cases[] = {
        {1, 1, "ISPC_CTRL_AWB", false, false, ControlAWB::WB_AC, nullptr},
        {2, 5, "ISPC_CTRL_AWB-PID", true, false, ControlAWB::WB_MANUAL, nullptr},
        {3, 4, "ISPC_CTRL_AWB", false, true, ControlAWB::WB_COMBINED, nullptr},
        {0, 2, "ISPC_CTRL_AWB", false, false, ControlAWB::WB_WP,
         "given WBC algorithm 0 does not exists - force default\n"},
        {1, 7, "ISPC_CTRL_AWB", false, false, ControlAWB::WB_NONE,
         "given WBC correction type 7 does not exists - force none\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "algorithm " << c.algorithm << " correction " << c.correction);
        defaultParams();
        param->wbcAlgorithm[0] = c.algorithm;
        param->wbcCorrectionType[0] = c.correction;
        ASSERT_TRUE(preconfigureMain()) << log;
        ControlAWB *awb = control<ControlAWB>();
        ASSERT_NE(awb, nullptr);
        EXPECT_STREQ(awb->getLoggingName(), c.logName);
        EXPECT_EQ(dynamic_cast<ControlAWB_PID *>(awb) != nullptr, c.pid);
        EXPECT_EQ(dynamic_cast<ControlAWB_Planckian *>(awb) != nullptr, c.planckian);
        EXPECT_TRUE(awb->isEnabled());
        EXPECT_EQ(main->getWhiteBalanceCorrectionType(), c.mode);
        if (c.warning != nullptr) {
            EXPECT_TRUE(contains(log, c.warning)) << log;
        }
        ControlLSH *lsh = control<ControlLSH>();
        ASSERT_NE(lsh, nullptr);
        EXPECT_EQ(lsh->getLoadedGrids(), 0u);
        EXPECT_FALSE(lsh->isEnabled()) << "no grids: unlinked";
        norva_test::stderrOf([&] { main.reset(); });
    }
}

// At run time an unknown correction mode is the average-colour correction; the manual gains reach the control.
TEST_F(ContextControls, WhiteBalanceSettings) {
    defaultParams();
    ASSERT_TRUE(preconfigureMain()) << log;
    for (unsigned mode : {0u, 3u, 5u}) {
        ASSERT_TRUE(main->setWhiteBalanceCorrectionType(mode));
        EXPECT_EQ(main->getWhiteBalanceCorrectionType(), mode);
    }
    ASSERT_TRUE(main->setWhiteBalanceCorrectionType(7));
    EXPECT_EQ(main->getWhiteBalanceCorrectionType(), static_cast<unsigned>(ControlAWB::WB_AC));
    ASSERT_TRUE(main->setRedBalance(1.5));
    ASSERT_TRUE(main->setBlueBalance(0.75));
    EXPECT_DOUBLE_EQ(main->getRedBalance(), 1.5);
    EXPECT_DOUBLE_EQ(main->getBlueBalance(), 0.75);
    EXPECT_DOUBLE_EQ(main->getMeasuredTemperature(), control<ControlAWB>()->getMeasuredTemperature());
}

// The level is the tone mapper's local weight while the tone-mapping control is off; while it runs, the control gets
// full local strength and the module is left alone.
TEST_F(ContextControls, WideDynamicRangeLevel) {
    defaultParams();
    ASSERT_TRUE(preconfigureMain()) << log;
    ModuleTNM &m = *static_cast<ModuleTNM *>(main->pCamera->getPipeline()->getModule(STP_TNM));
    ControlTNM &tnm = *control<ControlTNM>();
    ASSERT_TRUE(tnm.setLocalStrength(0.2) == QOR_RES_OK);
    m.clearFlags();
    ASSERT_TRUE(main->setWDRLevel(0.3));
    EXPECT_DOUBLE_EQ(m.fWeightLocal, 0.3);
    EXPECT_DOUBLE_EQ(main->getWDRLevel(), 0.3);
    EXPECT_TRUE(m.isUpdateRequested());
    EXPECT_DOUBLE_EQ(tnm.getLocalStrength(), 0.2);
    m.clearFlags();
    ASSERT_TRUE(main->setWDRLevel(0.3));
    EXPECT_TRUE(m.isUpdateRequested()) << "always requested";

    ASSERT_TRUE(main->enableWDRAuto(true));
    m.clearFlags();
    ASSERT_TRUE(main->setWDRLevel(0.7));
    EXPECT_DOUBLE_EQ(tnm.getLocalStrength(), 1.0);
    EXPECT_DOUBLE_EQ(m.fWeightLocal, 0.3);
    EXPECT_FALSE(m.isUpdateRequested());
}

TEST_F(ContextControls, SharpnessFollowsTheUnchangedRule) {
    defaultParams();
    ASSERT_TRUE(preconfigureMain()) << log;
    ModuleSHA &sha = *static_cast<ModuleSHA *>(main->pCamera->getPipeline()->getModule(STP_SHA));
    const double current = main->getSharpness();
    sha.clearFlags();
    ASSERT_TRUE(main->setSharpness(current));
    EXPECT_FALSE(sha.isUpdateRequested());
    ASSERT_TRUE(main->setSharpness(current + 0.25));
    EXPECT_TRUE(sha.isUpdateRequested());
    EXPECT_DOUBLE_EQ(sha.fStrength, current + 0.25);
    EXPECT_DOUBLE_EQ(main->getSharpness(), current + 0.25);
}

// The setup file's exposure parameters reach the control when it loads.
TEST_F(ContextControls, ExposureControlLoadsTheSetupFiles) {
    useScene(320, 240);
    setupFiles(0, writeFile("setup.txt", "AE_TARGET_BRIGHTNESS 0.25\nAE_FLICKER_FREQ 60\n"));
    ASSERT_TRUE(preconfigureMain()) << log;
    EXPECT_DOUBLE_EQ(main->getAeTargetBrightness(), 0.25);
    EXPECT_DOUBLE_EQ(control<ControlAE>()->getFlickerFreqConfig(), 60.0);
}

// A new target is compared with the current target, not with the brightness the last frame measured: a target that
// equals the measured brightness is a target all the same.
TEST_F(ContextControls, TargetBrightnessComparedWithTheTarget) {
    defaultParams();
    ASSERT_TRUE(preconfigureMain()) << log;
    ASSERT_TRUE(main->setAeTargetBrightness(0.4));
    EXPECT_DOUBLE_EQ(main->getAeTargetBrightness(), 0.4);
    const double measured = main->getAeCurrentBrightness();
    ASSERT_NE(measured, 0.4);
    ASSERT_TRUE(main->setAeTargetBrightness(measured));
    EXPECT_DOUBLE_EQ(main->getAeTargetBrightness(), measured);
    ASSERT_TRUE(main->setAeTargetBrightness(measured));
    EXPECT_DOUBLE_EQ(main->getAeTargetBrightness(), measured);
}

// Each exposure setting reaches the exposure control (values inside the data generator's ranges).
TEST_F(ContextControls, ExposureSettingsReachTheControl) {
    defaultParams();
    ASSERT_TRUE(preconfigureMain()) << log;
    ControlAE &ae = *control<ControlAE>();
    const Sensor &s = *main->getSensor();
    const unsigned minExposure = static_cast<unsigned>(s.getMinExposure());
    const unsigned maxExposure = static_cast<unsigned>(s.getMaxExposure());
    const unsigned step = static_cast<unsigned>(std::max<unsigned long>(s.getExposureTimeStep(), 1));
    const unsigned lo = (minExposure + 10 * step) / step * step, hi = (maxExposure / 2) / step * step;
    ASSERT_LT(lo, hi);
    const double gainLo = std::max(s.getMinGain(), 1.0), gainHi = std::min(s.getMaxGain(), 4.0);

    EXPECT_TRUE(main->setMinAeExposure(lo));
    EXPECT_TRUE(main->setMaxAeExposure(hi));
    EXPECT_TRUE(main->setTargetExposureTime(hi / 2));
    EXPECT_EQ(ae.getMinAeExposure(), lo);
    EXPECT_EQ(ae.getMaxAeExposure(), hi);
    EXPECT_EQ(ae.getTargetExposureTime(), hi / 2);

    EXPECT_TRUE(main->setMinAeGain(gainLo));
    EXPECT_TRUE(main->setMaxAeGain(gainHi));
    EXPECT_TRUE(main->setTargetAeGain(gainHi));
    EXPECT_DOUBLE_EQ(ae.getMinAeGain(), gainLo);
    EXPECT_DOUBLE_EQ(ae.getMaxAeGain(), gainHi);
    EXPECT_DOUBLE_EQ(ae.getTargetAeGain(), gainHi);

    EXPECT_TRUE(main->enableFlickerRejection(true, 60.0));
    EXPECT_TRUE(ae.getFlickerRejection());
    EXPECT_DOUBLE_EQ(main->getFlickerRejectionFrequency(), 60.0);
    EXPECT_TRUE(main->enableAutoFlickerRejection(true));
    EXPECT_TRUE(ae.getAutoFlickerRejection());
    EXPECT_TRUE(main->enableAutoFlickerRejection(false));

    EXPECT_TRUE(main->enableBlcAuto(false));
    EXPECT_TRUE(main->setBlcLevel(0.6));
    EXPECT_FALSE(ae.getBlcAuto());
    EXPECT_DOUBLE_EQ(main->getBlcLevel(), 0.6);
    EXPECT_TRUE(main->enableBlcAuto(true));
    EXPECT_TRUE(ae.getBlcAuto());

    FNumberStatus f;
    f.current = f.minimum = f.autoMin = f.autoMax = f.nextMin = f.nextMax = 2.0;
    main->updateFNumber(f);
    main->setWavelength(0.6);
    EXPECT_DOUBLE_EQ(main->getAeApertureFactor(), ae.getApertureFactor());
    EXPECT_EQ(main->getAfSharpness(), control<ControlAF>()->getSharpness());
}

// Without a camera, or with a context that has none of the controls, every setter refuses and every getter gives
// its default.
TEST(ContextWithoutControls, SettersRefuseGettersDefault) {
    TestContext c;
    EXPECT_FALSE(c.enableAutoExposure(true));
    EXPECT_FALSE(c.setAeTargetBrightness(0.2));
    EXPECT_FALSE(c.setMinAeGain(1.0));
    EXPECT_FALSE(c.setMaxAeGain(2.0));
    EXPECT_FALSE(c.setTargetAeGain(2.0));
    EXPECT_FALSE(c.setMinAeExposure(100));
    EXPECT_FALSE(c.setMaxAeExposure(1000));
    EXPECT_FALSE(c.setTargetExposureTime(500));
    EXPECT_FALSE(c.enableFlickerRejection(true, 50.0));
    EXPECT_FALSE(c.enableAutoFlickerRejection(true));
    EXPECT_FALSE(c.enableBlcAuto(true));
    EXPECT_FALSE(c.setBlcLevel(0.5));
    EXPECT_FALSE(c.enableWDRAuto(true));
    EXPECT_FALSE(c.setWDRLevel(0.5));
    EXPECT_FALSE(c.setSharpness(0.5));
    EXPECT_FALSE(c.setWhiteBalanceCorrectionType(1));
    EXPECT_FALSE(c.setRedBalance(2.0));
    EXPECT_FALSE(c.setBlueBalance(2.0));
    c.updateFNumber(FNumberStatus());
    c.setWavelength(0.5);
    EXPECT_EQ(c.getAeTargetBrightness(), 0.0);
    EXPECT_EQ(c.getAeCurrentBrightness(), 0.0);
    EXPECT_EQ(c.getFlickerRejectionFrequency(), 0.0);
    EXPECT_EQ(c.getBlcLevel(), 0.0);
    EXPECT_EQ(c.getAeApertureFactor(), 0.0);
    EXPECT_EQ(c.getAfSharpness(), 0.0);
    EXPECT_EQ(c.getWDRLevel(), 0.0);
    EXPECT_EQ(c.getSharpness(), 0.0);
    EXPECT_EQ(c.getWhiteBalanceCorrectionType(), 0u);
    EXPECT_EQ(c.getRedBalance(), 1.0);
    EXPECT_EQ(c.getBlueBalance(), 1.0);
    EXPECT_EQ(c.getMeasuredTemperature(), 0.0);
}

/* ---- the exposure loop closed through the context ---- */

class ContextExposureLoop : public ContextControls {
protected:
    /** Mean of the encoder's luma plane once the exposure control settled on the target. */
    double steadyLuma(double target) {
        // The chart's black is 0: with the sensor's default black level subtracted its darker patches clip and the
        // longest exposure could not reach the brighter targets.
        useScene(640, 480);
        setupFiles(0, writeFile("setup.txt", "BLC_SENSOR_BLACK 0 0 0 0\n"));
        param->bControlAE[0] = true;
        EXPECT_TRUE(preconfigureMain()) << log;
        EXPECT_TRUE(main->configureOutput(nv12(320, 240), nullptr));
        EXPECT_TRUE(main->setAeTargetBrightness(target));
        Camera &c = *main->pCamera;
        EXPECT_EQ(c.startCapture(), QOR_RES_OK);
        const ControlAE &ae = *control<ControlAE>();
        const Sensor &sensor = *main->getSensor();
        // Steady: converged for 3 frames, or the exposure held for 8 (a target beyond what the chart reaches at the
        // longest exposure, one frame time on the data generator, keeps the exposure there).
        double luma = std::nan("");
        int converged = 0, held = 0;
        unsigned long exposure = sensor.getExposure();
        double gain = sensor.getGain();
        for (int frame = 0; frame < kMaxFrames && converged < 3 && held < 8; frame++) {
            EXPECT_EQ(c.enqueueShot(), QOR_RES_OK);
            Shot shot;
            EXPECT_EQ(c.acquireShot(shot, true), QOR_RES_OK);
            converged = ae.hasConverged() ? converged + 1 : 0;
            held = sensor.getExposure() == exposure && sensor.getGain() == gain ? held + 1 : 0;
            exposure = sensor.getExposure();
            gain = sensor.getGain();
            luma = meanLuma(shot);
            EXPECT_EQ(c.releaseShot(shot), QOR_RES_OK);
        }
        EXPECT_TRUE(converged == 3 || held == 8) << "target " << target << " not steady in " << kMaxFrames << " frames";
        EXPECT_TRUE(main->stopCapture());
        norva_test::stderrOf([&] { main.reset(); });
        return luma;
    }

    static double meanLuma(const Shot &shot) {
        const unsigned char *y = shot.YUV.firstData();
        double sum = 0;
        for (unsigned row = 0; row < 240; row++)
            for (unsigned col = 0; col < 320; col++)
                sum += y[size_t(row) * shot.YUV.stride + col];
        return sum / (320.0 * 240.0);
    }

    static constexpr int kMaxFrames = 60;
};

TEST_F(ContextExposureLoop, BrighterTargetsGiveBrighterFrames) {
    std::vector<double> luma;
    for (double target : {-0.5, 0.0, 0.5})
        luma.push_back(steadyLuma(target));
    RecordProperty("luma", testing::PrintToString(luma));
    EXPECT_LT(luma[0] + 5.0, luma[1]);
    EXPECT_LT(luma[1] + 5.0, luma[2]);
}

/* ---- the manual white balance through the context ---- */

// The manual red balance scales red against green on a neutral patch of the chart, in the order of the gains.
TEST_F(ContextControls, ManualRedBalanceOrdersRedOverGreenOnGrey) {
    const unsigned W = 640, H = 480;
    const norva_scenes::SceneLayout layout = norva_scenes::SceneLayoutOf(W, H);
    const norva_scenes::Rect patch = layout.grey[3];
    std::vector<double> ratios;
    for (double red : {0.5, 1.0, 2.0}) {
        SCOPED_TRACE(testing::Message() << "red balance " << red);
        useScene(W, H);
        setupFiles(0, writeFile("setup.txt", "BLC_SENSOR_BLACK 0 0 0 0\n"));
        param->wbcCorrectionType[0] = ControlAWB::WB_MANUAL;
        ASSERT_TRUE(preconfigureMain()) << log;
        BufferFormat rgb;
        rgb.format = BGR_888_24; // R, G, B in memory
        rgb.width = W;
        rgb.height = H;
        ASSERT_TRUE(main->configureOutput(rgb, nullptr));
        ASSERT_TRUE(main->setRedBalance(red));
        ASSERT_TRUE(main->setBlueBalance(1.0));
        Camera &c = *main->pCamera;
        ASSERT_EQ(c.startCapture(), QOR_RES_OK);
        double r = 0, g = 0;
        for (int frame = 0; frame < 4; frame++) {
            ASSERT_EQ(c.enqueueShot(), QOR_RES_OK);
            Shot shot;
            ASSERT_EQ(c.acquireShot(shot, true), QOR_RES_OK);
            r = g = 0;
            // the patch's inner half, clear of its edges
            for (unsigned y = patch.y + patch.h / 4; y < patch.y + 3 * patch.h / 4; y++) {
                const unsigned char *row = shot.DISPLAY.firstData() + size_t(y) * shot.DISPLAY.stride;
                for (unsigned x = patch.x + patch.w / 4; x < patch.x + 3 * patch.w / 4; x++) {
                    r += row[3 * x];
                    g += row[3 * x + 1];
                }
            }
            ASSERT_EQ(c.releaseShot(shot), QOR_RES_OK);
        }
        ASSERT_GT(g, 0.0);
        ratios.push_back(r / g);
        EXPECT_TRUE(main->stopCapture());
        norva_test::stderrOf([&] { main.reset(); });
    }
    RecordProperty("r_over_g", testing::PrintToString(ratios));
    EXPECT_LT(ratios[0] * 1.2, ratios[1]) << testing::PrintToString(ratios);
    EXPECT_LT(ratios[1] * 1.2, ratios[2]) << testing::PrintToString(ratios);
}

/* ---- the reference setup file on the data-generator chart ---- */

// The main job's configuration (the reference setup file, the exposure control driving the sensor) gives a
// full-range display of the chart, on the first frame and once the exposure moved: the ramp from black to near
// white, the neutral patches one above the other (none crushed to black, none clipped with the next), the clipped
// patch white.
TEST_F(ContextControls, ReferenceSetupGivesAFullRangeDisplayOfTheChart) {
    const unsigned W = 640, H = 480;
    const norva_scenes::SceneLayout l = norva_scenes::SceneLayoutOf(W, H);
    useScene(W, H);
    setupFiles(0, std::string(NORVA_TEST_SUPPORT_DIR) + "/../../data/setup/reference.txt");
    param->bControlAE[0] = true;
    ASSERT_TRUE(preconfigureMain()) << log;
    BufferFormat rgb;
    rgb.format = BGR_888_24;
    rgb.width = W;
    rgb.height = H;
    ASSERT_TRUE(main->configureOutput(rgb, nullptr));
    Camera &c = *main->pCamera;
    ASSERT_EQ(c.startCapture(), QOR_RES_OK);
    for (int frame = 0; frame < 12; frame++) {
        ASSERT_EQ(c.enqueueShot(), QOR_RES_OK);
        Shot shot;
        ASSERT_EQ(c.acquireShot(shot, true), QOR_RES_OK);
        // mean green (a neutral area is grey) over the inner half of a rectangle, or over a band of its columns
        const auto green = [&shot](unsigned x0, unsigned x1, const norva_scenes::Rect &r) {
            double sum = 0;
            unsigned n = 0;
            for (unsigned y = r.y + r.h / 4; y < r.y + 3 * r.h / 4; y++)
                for (unsigned x = x0; x < x1; x++, n++)
                    sum += shot.DISPLAY.firstData()[size_t(y) * shot.DISPLAY.stride + 3 * x + 1];
            return sum / n;
        };
        const auto inner = [&green](const norva_scenes::Rect &r) { return green(r.x + r.w / 4, r.x + 3 * r.w / 4, r); };
        if (frame == 0 || frame == 11) {
            SCOPED_TRACE(testing::Message() << "frame " << frame);
            EXPECT_LT(green(0, 8, l.ramp), 12.0);
            EXPECT_GT(green(W - 8, W, l.ramp), 230.0);
            EXPECT_GT(inner(l.clipped), 250.0);
            double below = inner(l.grey[0]);
            EXPECT_GT(below, 20.0);
            for (int i = 1; i < norva_scenes::SceneLayout::kPatches; i++) {
                const double level = inner(l.grey[i]);
                EXPECT_GT(level, below + 15.0) << "grey patch " << i;
                below = level;
            }
        }
        ASSERT_EQ(c.releaseShot(shot), QOR_RES_OK);
    }
    EXPECT_TRUE(main->stopCapture());
}

// The slave's pipeline is one of the shared white balance's pipelines: the gains the main context's control sets
// reach the device for both contexts.
TEST_F(ContextControls, SlaveReceivesTheMainWhiteBalanceGains) {
    defaultParams(640, 480);
    setupFiles(1, param->setupFiles[0]);
    param->imager[1] = 0;
    param->wbcCorrectionType[0] = ControlAWB::WB_MANUAL;
    ASSERT_TRUE(preconfigureMain()) << log;
    slave.reset(new TestContext());
    bool ok = false;
    log = norva_test::logOf([&] { ok = slave->preconfigureSlave(*main); });
    ASSERT_TRUE(ok) << log;
    ASSERT_TRUE(main->configureOutput(nv12(320, 240), nullptr));
    ASSERT_TRUE(slave->configureOutput(nv12(320, 240), nullptr));
    ASSERT_TRUE(main->setRedBalance(2.0));
    ASSERT_TRUE(main->setBlueBalance(0.5));
    Camera &m = *main->pCamera, &s = *slave->pCamera;
    ASSERT_EQ(m.startCapture(), QOR_RES_OK);
    ASSERT_EQ(s.startCapture(), QOR_RES_OK);
    for (int frame = 0; frame < 4; frame++) {
        ASSERT_EQ(m.enqueueShot(), QOR_RES_OK);
        ASSERT_EQ(s.enqueueShot(), QOR_RES_OK);
        Shot a, b;
        ASSERT_EQ(m.acquireShot(a, true), QOR_RES_OK);
        ASSERT_EQ(s.acquireShot(b, true), QOR_RES_OK);
        ASSERT_EQ(m.releaseShot(a), QOR_RES_OK);
        ASSERT_EQ(s.releaseShot(b), QOR_RES_OK);
    }
    const int mainId = norva_test::DevicePipelineOfContext(main->iContext),
              slaveId = norva_test::DevicePipelineOfContext(slave->iContext);
    ASSERT_GT(mainId, 0);
    ASSERT_GT(slaveId, 0);
    const std::vector<norva_sim::SimConfigRecord> mainTrace = norva_sim::SimPipelineConfigTrace(mainId);
    const std::vector<norva_sim::SimConfigRecord> slaveTrace = norva_sim::SimPipelineConfigTrace(slaveId);
    ASSERT_FALSE(mainTrace.empty());
    ASSERT_FALSE(slaveTrace.empty());
    const CI_MODULE_WBC &mw = mainTrace.back().decoded.sWhiteBalance;
    const CI_MODULE_WBC &sw = slaveTrace.back().decoded.sWhiteBalance;
    // Bayer order R, Gr, Gb, B: red twice green, blue half of it.
    EXPECT_GT(mw.aGain[0], mw.aGain[1]);
    EXPECT_LT(mw.aGain[3], mw.aGain[1]);
    for (int i = 0; i < 4; i++)
        EXPECT_EQ(sw.aGain[i], mw.aGain[i]) << "gain " << i;
    EXPECT_TRUE(slave->stopCapture());
    EXPECT_TRUE(main->stopCapture());
}

} // namespace
