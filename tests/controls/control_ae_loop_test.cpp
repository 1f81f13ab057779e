// The exposure loop closed through the statistics synthesiser on the streaming S5K3P9: the settle wait, the
// approach to the target against a model of the update rule, and the flicker periods.
#include <gtest/gtest.h>

#include <cctype>
#include <cmath>
#include <ostream>
#include <string>
#include <vector>

#include "ae_probe.h"
#include "control_rig.h"

using norva_test::AeProbe;
using norva_test::StatsSynth;
using norva_test::SynthScene;
using norva_test::SynthState;

namespace {

class AeLoop : public norva_test::ControlRig {
protected:
    AeProbe &attach(int mode, bool fld = true) {
        make(mode, fld);
        EXPECT_EQ(sensor().enable(), QOR_RES_OK);
        EXPECT_EQ(ae.addPipeline(&pipeline()), QOR_RES_OK);
        EXPECT_EQ(ae.setPipelineOwner(&pipeline()), QOR_RES_OK);
        EXPECT_EQ(ae.configureStatistics(), QOR_RES_OK);
        return ae;
    }

    /** One frame: synthesised from the state in force, then metered (or not) by the control. */
    bool frame(const SynthScene &scene) {
        ISPC::Metadata md{};
        synthesise(scene, md);
        return ae.meteredUpdate(md);
    }

    /** Total exposure read back from the sensor. */
    double total() { return double(sensor().getExposure()) * sensor().getGain(); }

    AeProbe ae;
};

/** A chart whose middle patches reach mid-grey at a total exposure of about tStar. */
SynthScene chartFor(unsigned w, unsigned h, double tStar) {
    const double mid = std::pow(0.5, 2.2) / tStar;
    return SynthScene::Chart(w, h, mid / 4, mid * 4);
}

/**
 * The frames the update rule predicts: the scene metered at each total exposure the rule reaches (gain 1, the
 * brightness the synthesiser gives), one metered frame and then three frames per plan, until the metering is
 * inside the bracket.
 */
int predictedFrames(const SynthScene &scene, const SynthState &grid, double t0, double target, double bracket) {
    AeProbe meter;
    StatsSynth synth;
    double T = t0;
    for (int plans = 0; plans < 200; plans++) {
        SynthState st = grid;
        st.exposureUs = T;
        st.gain = 1;
        ISPC::Metadata md{};
        synth.frame(scene, st, md);
        const double b = meter.getBrightnessMetering(md.histogramStats, md.clippingStats);
        if (std::fabs(target - b) < bracket) {
            return 1 + 3 * plans;
        }
        T = meter.autoExposureCtrl(b, target, T);
    }
    return -1;
}

TEST_F(AeLoop, TenTimesUnderExposedChartConvergesAsTheRulePredicts) {
    attach(norva_test::kS5k3p9Mode720);
    const unsigned W = sensor().uiWidth, H = sensor().uiHeight;
    const SynthScene scene = chartFor(W, H, 12000);
    ASSERT_EQ(sensor().setExposureGain(1200, 1.0), QOR_RES_OK);
    const double t0 = total();
    const int predicted = predictedFrames(scene, norva_test::SynthStateOf(pipeline()), t0, 0.0, 0.05);
    ASSERT_GT(predicted, 6);

    const unsigned long step = sensor().getExposureTimeStep();
    std::vector<double> metered;
    int frames = 0;
    while (frames < 300 && !(metered.size() > 0 && ae.hasConverged())) {
        const double before = total();
        const ISPC::ControlAE::microseconds_t planned = ae.getNewExposure();
        if (frame(scene)) {
            metered.push_back(ae.getCurrentBrightness());
        }
        frames++;
        if (total() != before || ae.getNewExposure() != planned) {
            EXPECT_EQ(ae.getNewExposure() % step, 0u) << ae.getNewExposure();
        }
    }
    ASSERT_TRUE(ae.hasConverged());
    EXPECT_EQ(frames, predicted);
    for (size_t i = 1; i < metered.size(); i++) {
        EXPECT_GE(metered[i], metered[i - 1]) << "metering " << i;
        EXPECT_LT(metered[i], 0.05) << "overshoot at metering " << i;
    }
    EXPECT_NEAR(total(), 12000, 12000 * 0.5);

    // converged: nothing is programmed any more
    const auto programmed = ae.lastProgramTime;
    const unsigned long e = sensor().getExposure();
    const double g = sensor().getGain();
    for (int i = 0; i < 6; i++) {
        EXPECT_TRUE(frame(scene));
    }
    EXPECT_EQ(ae.lastProgramTime, programmed);
    EXPECT_EQ(sensor().getExposure(), e);
    EXPECT_EQ(sensor().getGain(), g);
}

TEST_F(AeLoop, TwoUnmeteredFramesAfterEveryChangeTheSensorReadsBack) {
    attach(norva_test::kS5k3p9Mode720);
    const SynthScene scene = chartFor(sensor().uiWidth, sensor().uiHeight, 4000);
    ASSERT_EQ(sensor().setExposureGain(400, 1.0), QOR_RES_OK);
    int sinceChange = -1, changes = 0;
    for (int f = 0; f < 100; f++) {
        const double before = total();
        const bool metered = frame(scene);
        if (sinceChange >= 0 && sinceChange < 2) {
            EXPECT_FALSE(metered) << "frame " << f << ", " << sinceChange << " after a change";
        } else {
            EXPECT_TRUE(metered) << "frame " << f;
        }
        sinceChange = sinceChange >= 0 ? sinceChange + 1 : sinceChange;
        if (total() != before) {
            sinceChange = 0;
            changes++;
        } else if (sinceChange > 2) {
            sinceChange = -1;
        }
    }
    EXPECT_GE(changes, 3);
    EXPECT_TRUE(ae.hasConverged());

    // at the sensor's limits a plan every frame changes nothing: no wait at all
    const SynthScene black = SynthScene::Flat(sensor().uiWidth, sensor().uiHeight, 0.0);
    for (int f = 0; f < 60; f++) {
        frame(black);
    }
    EXPECT_TRUE(ae.isUnderexposed());
    for (int f = 0; f < 5; f++) {
        EXPECT_TRUE(frame(black)) << f;
        EXPECT_EQ(ae.lastProgramTime, ISPC::ControlAE::time_point());
    }
}

// What the plan depends on besides the control's own settings asks for a new plan when it changes: a new exposure
// step of the sensor, set while the loop rests, is taken up within a few frames (the exposure moves onto the step).
TEST_F(AeLoop, ANewExposureStepWhileSettledAsksForANewPlan) {
    attach(norva_test::kS5k3p9Mode720);
    const SynthScene scene = chartFor(sensor().uiWidth, sensor().uiHeight, 4000);
    ASSERT_EQ(sensor().setExposureGain(400, 1.0), QOR_RES_OK);
    int rested = 0; // metered frames in a row that changed nothing
    for (int f = 0; f < 300 && rested < 4; f++) {
        const unsigned long e = sensor().getExposure();
        const double g = sensor().getGain();
        const bool metered = frame(scene);
        rested =
            metered && ae.hasConverged() && sensor().getExposure() == e && sensor().getGain() == g ? rested + 1 : 0;
    }
    ASSERT_EQ(rested, 4);
    const unsigned long settled = sensor().getExposure();
    constexpr unsigned long kStep = 3000;
    ASSERT_NE(settled % kStep, 0u) << settled;

    ASSERT_EQ(sensor().setExposureTimeStep(kStep), QOR_RES_OK);
    int frames = 0;
    while (frames < 12 && sensor().getExposure() % kStep != 0) {
        frame(scene);
        frames++;
    }
    EXPECT_EQ(sensor().getExposure() % kStep, 0u)
        << sensor().getExposure() << " us " << frames << " frames after the step changed, " << settled << " us before";
    EXPECT_EQ(ae.getNewExposure() % kStep, 0u) << ae.getNewExposure();
}

struct FlickerCase {
    const char *name;
    QOR_UINT32 verdict;
    bool autodetect;
    double frequency; // in force once the verdict is read
};

void PrintTo(const FlickerCase &c, std::ostream *os) { *os << c.name; }

class AeFlicker : public AeLoop, public testing::WithParamInterface<FlickerCase> {};

TEST_P(AeFlicker, VerdictsHoldExposuresAtWholePeriods) {
    const FlickerCase &c = GetParam();
    attach(norva_test::kS5k3p9Mode1080);
    ae.enableFlickerRejection(true, c.autodetect ? 0.0 : 50.0);
    SynthScene scene = chartFor(sensor().uiWidth, sensor().uiHeight, 30000);
    scene.flickerStatus = c.verdict;
    ASSERT_EQ(sensor().setExposureGain(3000, 1.0), QOR_RES_OK);
    const unsigned long step = sensor().getExposureTimeStep();
    const double period = c.frequency > 0 ? 1e6 / c.frequency : 0;
    bool longExposure = false;
    for (int f = 0; f < 24; f++) {
        frame(scene);
        const ISPC::ControlAE::microseconds_t e = ae.getNewExposure();
        if (period > 0 && e >= static_cast<unsigned long>(period) / step * step) { // a period, rounded down to the step
            longExposure = true;
            const unsigned long k = static_cast<unsigned long>(e / period + 0.5);
            EXPECT_EQ(e, static_cast<unsigned long>(k * period) / step * step) << "frame " << f;
        }
    }
    EXPECT_EQ(ae.getFlickerRejectionFrequency(), c.frequency);
    EXPECT_EQ(longExposure, c.frequency == 100 || c.frequency == 120);
    if (c.frequency == 0) {
        EXPECT_NE(ae.getNewExposure() % 10000, 0u); // the longest exposure is the frame's, not a period's
    }
    if (c.verdict == FLD_50HZ) {
        // a verdict outside the detector's values changes nothing
        scene.flickerStatus = 7;
        frame(scene);
        EXPECT_EQ(ae.getFlickerRejectionFrequency(), 100.0);
    }
}

INSTANTIATE_TEST_SUITE_P(Verdicts, AeFlicker,
                         testing::Values(FlickerCase{"50 Hz", FLD_50HZ, true, 100},
                                         FlickerCase{"60 Hz", FLD_60HZ, true, 120},
                                         FlickerCase{"no flicker", FLD_NO_FLICKER, true, 0},
                                         FlickerCase{"undetermined", FLD_UNDETERMINED, true, 0},
                                         FlickerCase{"manual 50", FLD_60HZ, false, 50}),
                         [](const testing::TestParamInfo<FlickerCase> &i) {
                             std::string n = i.param.name;
                             for (char &ch : n) {
                                 ch = std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
                             }
                             return n;
                         });

} // namespace
