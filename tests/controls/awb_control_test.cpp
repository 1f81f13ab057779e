// The gain-based white balance: accumulation of strips, the adaptive thresholds, the averages, the smoothing
// into the process-wide temperature with its guards, and the closed loop on synthetic statistics.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "ispc/ControlAWB.h"
#include "wb_test_util.h"

using namespace ISPC;
using norva_test::stderrOf;
using norva_test::wbListOf;

namespace {

/** Exposes the protected state the tests check. */
class TestAWB : public ControlAWB {
public:
    using ControlAWB::accumulatedStats;
    using ControlAWB::ControlAWB;
    using ControlAWB::expectedCurrentFrame;
};

MC_WBS countersOf(QOR_UINT32 current, QOR_UINT32 count) {
    MC_WBS w;
    std::memset(&w, 0, sizeof(w));
    w.counters.currentFrame[0] = w.counters.currentFrame[1] = current;
    w.counters.frameCount[0] = w.counters.frameCount[1] = count;
    return w;
}

MC_STATS_WBS oneOfEach() {
    MC_STATS_WBS s;
    std::memset(&s, 0, sizeof(s));
    s.averageColor[0].channelAccumulated[0] = 1;
    s.whitePatch[0].channelCount[1] = 1;
    s.highLuminance[1].lumaCount = 1;
    return s;
}

class SharedTemperatureTest : public ::testing::Test {
protected:
    void SetUp() override { ControlAWB::resetSharedTemperature(); }
    void TearDown() override { ControlAWB::resetSharedTemperature(); }
};

} // namespace

TEST(AwbAccumulation, StripsCompleteAMeasurementInOrder) {
    struct Step {
        QOR_UINT32 current, count;
        bool ready;
        bool warned;
    };
    struct Case {
        const char *name;
        std::vector<Step> steps;
        QOR_UINT64 accumulated; // red average sum after the last step
    } cases[] = {
        {"one strip", {{0, 1, true, false}, {0, 1, true, false}}, 2},
        {"three strips", {{0, 3, false, false}, {1, 3, false, false}, {2, 3, true, false}}, 3},
        {"strip skipped", {{0, 3, false, false}, {2, 3, false, true}, {0, 3, false, false}}, 1},
        {"starting mid-set", {{1, 3, false, true}}, 0},
        {"no strips", {{0, 0, false, false}, {0, 0, false, true}}, 0},
    };
    for (const Case &c : cases) {
        TestAWB awb;
        for (const Step &s : c.steps) {
            bool ready = false;
            const std::string log =
                stderrOf([&] { ready = awb.accumulateStats(oneOfEach(), countersOf(s.current, s.count)); });
            EXPECT_EQ(ready, s.ready) << c.name << " strip " << s.current;
            EXPECT_EQ(log.find("The frame order is broken\n") != std::string::npos, s.warned) << c.name << log;
        }
        EXPECT_EQ(awb.accumulatedStats.averageColor[0].channelAccumulated[0], c.accumulated) << c.name;
    }
}

TEST(AwbAccumulation, DisagreeingRoiCountersAreNotReady) {
    TestAWB awb;
    MC_WBS w = countersOf(0, 1);
    w.counters.currentFrame[0] = 1;
    bool ready = true;
    std::string log = stderrOf([&] { ready = awb.accumulateStats(oneOfEach(), w); });
    EXPECT_FALSE(ready);
    EXPECT_NE(log.find("Current frames for ROIs are different\n"), std::string::npos);
    w = countersOf(0, 1);
    w.counters.frameCount[1] = 2;
    TestAWB other;
    log = stderrOf([&] { ready = other.accumulateStats(oneOfEach(), w); });
    EXPECT_FALSE(ready);
    EXPECT_NE(log.find("Frame counts for ROIs are different\n"), std::string::npos);
}

TEST(AwbThreshold, StateMachineSteps) {
    ControlAWB::Threshold t;
    EXPECT_EQ(ControlAWB::estimateThreshold(t, 0.9, 0.1), 0.5);
    EXPECT_EQ(t.currentState, ControlAWB::TS_SCANNING);
    EXPECT_DOUBLE_EQ(ControlAWB::estimateThreshold(t, 0.2, 0.1), 0.50275);
    EXPECT_EQ(t.currentState, ControlAWB::TS_SCANNING);

    // without a match the margin stays for 50 scanning steps and widens by 10 % from the 51st on
    ControlAWB::Threshold s;
    ControlAWB::estimateThreshold(s, 0, 0.5);
    for (int step = 1; step <= 50; step++) {
        ControlAWB::estimateThreshold(s, 0.0, 0.5);
        ASSERT_DOUBLE_EQ(s.errorMargin, 0.005) << step;
    }
    ControlAWB::estimateThreshold(s, 0.0, 0.5);
    EXPECT_DOUBLE_EQ(s.errorMargin, 0.0055);
    EXPECT_EQ(s.currentState, ControlAWB::TS_SCANNING); // a metered 0 never matches

    // a match enters FOUND; a ratio below 0.0001 drops back
    ControlAWB::Threshold f;
    ControlAWB::estimateThreshold(f, 0, 0);
    ControlAWB::estimateThreshold(f, 0.3, 0.301);
    EXPECT_EQ(f.currentState, ControlAWB::TS_FOUND);
    ControlAWB::estimateThreshold(f, 0.00001, 0.301);
    EXPECT_EQ(f.currentState, ControlAWB::TS_SCANNING);
    // targets are clamped and the threshold never leaves [0, 1]
    ControlAWB::Threshold c;
    ControlAWB::estimateThreshold(c, 0, 0);
    for (int i = 0; i < 1000; i++)
        ControlAWB::estimateThreshold(c, 1.0, -3.0);
    EXPECT_EQ(c.nextThreshold, 1.0);
}

TEST(AwbAverages, FallBackToTheAverageColour) {
    MC_STATS_WBS s;
    std::memset(&s, 0, sizeof(s));
    for (int c = 0; c < 3; c++) {
        s.averageColor[0].channelAccumulated[c] = 1000 * (c + 1);
        s.whitePatch[0].channelAccumulated[c] = 900;
        s.whitePatch[0].channelCount[c] = 3;
        s.whitePatch[1].channelAccumulated[c] = 300;
        s.whitePatch[1].channelCount[c] = 1;
        s.highLuminance[0].channelAccumulated[c] = 800;
        s.highLuminance[1].channelAccumulated[c] = 200;
    }
    s.highLuminance[0].lumaCount = 4;
    s.highLuminance[1].lumaCount = 1;
    double r, g, b;
    ControlAWB::getWPAverages(s, 10, r, g, b);
    EXPECT_EQ(r, 300);
    ControlAWB::getHLWAverages(s, 10, r, g, b);
    EXPECT_EQ(r, 200);
    // equal counts in one channel: that channel's difference is 0 and the average colour is used
    s.whitePatch[1].channelCount[2] = 3;
    ControlAWB::getWPAverages(s, 10, r, g, b);
    EXPECT_EQ(r, 100);
    EXPECT_EQ(b, 300);
    s.highLuminance[1].lumaCount = 4;
    ControlAWB::getHLWAverages(s, 10, r, g, b);
    EXPECT_EQ(g, 200);
}

TEST(AwbTemperature, CorrectTemperature) {
    EXPECT_DOUBLE_EQ(ControlAWB::correctTemperature(5000, -200, 1.1), 5280);
    EXPECT_EQ(ControlAWB::correctTemperature(100, -200, 1), 0);
    EXPECT_DOUBLE_EQ(ControlAWB::correctTemperature2(5000, -200, 1.1), 5300);
}

namespace {

/** Drives a control on the rig with the synthetic scene for a number of frames. */
template <class C> void runFrames(norva_test::WbRig &rig, C &control, const norva_test::WbScene &scene, int frames) {
    for (int i = 0; i < frames; i++) {
        rig.setup();
        Metadata md;
        std::memset(&md, 0, sizeof(md));
        norva_test::fillWBS(rig.mc(), scene, 640, 480, md);
        norva_test::fillAWS(scene, 4000, md);
        stderrOf([&] { control.update(md); });
    }
}

/** A WBS measurement whose average colour, once undone, reads as the given raw-scaled triple. */
Metadata averageColourOf(double r, double g, double b, unsigned pixels) {
    Metadata md;
    std::memset(&md, 0, sizeof(md));
    const double v[3] = {r, g, b};
    for (int c = 0; c < 3; c++) {
        // the statistics are gamma encoded at full scale 512
        md.whiteBalanceStats.averageColor[0].channelAccumulated[c] =
            static_cast<QOR_UINT64>(std::llround(std::pow(v[c] / 512.0, 1 / 2.2) * 512.0 * pixels));
    }
    md.whiteBalanceConfig.counters.frameCount[0] = md.whiteBalanceConfig.counters.frameCount[1] = 1;
    return md;
}

} // namespace

TEST_F(SharedTemperatureTest, FirstMeasurementsSmoothFromTheTarget) {
    // A neutral whose linear colour (times the 6500 K gains) lies on the locus at 4000 K: 1000 / 3500 of the
    // way from the 3000 K vertex to the 6500 K one (the origin), in log2 ratios.
    const TemperatureCorrection tc = [] {
        TemperatureCorrection t;
        stderrOf([&] { t.loadParameters(wbListOf(norva_test::twoPointCalibration())); });
        return t;
    }();
    const double f = 1.0 - 1000.0 / 3500.0;
    const double g = 200.0;
    const double r = g * std::pow(1.9 / 1.2, f) / 1.9, b = g * std::pow(1.6 / 2.8, f) / 1.6;
    struct Case {
        double target, measured, correction;
    } cases[] = {{6500, 5250, 5250}, {5500, 4750, 5750}};
    for (const Case &c : cases) {
        ControlAWB::resetSharedTemperature();
        norva_test::WbRig rig;
        ControlAWB awb;
        rig.attach(awb);
        stderrOf([&] {
            awb.load(wbListOf(norva_test::twoPointCalibration() + "WB_TARGET_TEMPERATURE " + std::to_string(c.target)));
            awb.update(averageColourOf(r, g, b, 640 * 480));
        });
        EXPECT_NEAR(awb.getMeasuredTemperature(), c.measured, 1.0) << c.target;
        EXPECT_NEAR(awb.getCorrectionTemperature(), c.correction, 1.0) << c.target;
        const ColorCorrection programmed = tc.getColorCorrection(c.correction);
        EXPECT_NEAR(rig.wbc->aWBGain[0], programmed.gains[0][0], 1e-3);
        EXPECT_NEAR(rig.ccm->aMatrix[1], programmed.coefficients[0][1], 1e-3);
        EXPECT_NEAR(awb.getRedBalance(), tc.getColorCorrection(c.measured).gains[0][0] / 1.9, 1e-3);
    }
}

TEST_F(SharedTemperatureTest, SecondControlStartsFromTheFirstsValue) {
    const double r = 200.0 / 1.2, g = 200.0, b = 200.0 / 2.8; // neutral at 3000 K
    norva_test::WbRig rigA, rigB;
    ControlAWB a, b2;
    rigA.attach(a);
    rigB.attach(b2);
    stderrOf([&] {
        a.load(wbListOf(norva_test::twoPointCalibration()));
        b2.load(wbListOf(norva_test::twoPointCalibration() + "WB_TARGET_TEMPERATURE 4000\n"));
        a.update(averageColourOf(r, g, b, 640 * 480));
    });
    const double afterFirst = a.getMeasuredTemperature();
    EXPECT_LT(afterFirst, 6500);
    stderrOf([&] { b2.update(averageColourOf(r, g, b, 640 * 480)); });
    EXPECT_LT(b2.getMeasuredTemperature(), afterFirst); // smoothed from the shared value, not from 4000
    EXPECT_DOUBLE_EQ(ControlAWB::getSharedTemperature(), b2.getMeasuredTemperature());
}

TEST_F(SharedTemperatureTest, DegenerateMeasurementsKeepTheSharedValueFinite) {
    struct Case {
        const char *name;
        std::string calibration;
        ControlAWB::Correction_Types mode;
        double red, blue;
    } cases[] = {
        {"black frame", norva_test::twoPointCalibration(), ControlAWB::WB_AC, 1, 1},
        {"manual balance 0", norva_test::twoPointCalibration(), ControlAWB::WB_MANUAL, 0, 0},
        {"equal gains", "WB_CORRECTIONS 2\nWB_TEMPERATURE_0 3000\nWB_TEMPERATURE_1 6500\n", ControlAWB::WB_AC, 1, 1},
    };
    for (const Case &c : cases) {
        ControlAWB::resetSharedTemperature();
        norva_test::WbRig rig;
        ControlAWB awb;
        rig.attach(awb);
        awb.setCorrectionMode(c.mode);
        awb.setRedBalance(c.red);
        awb.setBlueBalance(c.blue);
        stderrOf([&] {
            awb.load(wbListOf(c.calibration));
            for (int i = 0; i < 3; i++)
                awb.update(averageColourOf(0, 0, 0, 640 * 480));
        });
        EXPECT_TRUE(std::isfinite(ControlAWB::getSharedTemperature())) << c.name;
        EXPECT_TRUE(std::isfinite(awb.getMeasuredTemperature())) << c.name;
        for (int k = 0; k < 4; k++)
            EXPECT_TRUE(std::isfinite(rig.wbc->aWBGain[k])) << c.name;
    }
}

TEST_F(SharedTemperatureTest, NoneProgramsTheReferenceEveryShot) {
    norva_test::WbRig rig;
    ControlAWB awb;
    rig.attach(awb);
    awb.setCorrectionMode(ControlAWB::WB_NONE);
    stderrOf([&] {
        awb.load(wbListOf(norva_test::twoPointCalibration()));
        awb.update(Metadata());
    });
    EXPECT_EQ(awb.getMeasuredTemperature(), 0);
    EXPECT_EQ(rig.wbc->aWBGain[0], 1.9);
    EXPECT_EQ(rig.wbc->aWBGain[3], 1.6);
    EXPECT_EQ(ControlAWB::getSharedTemperature(), 0); // untouched
}

TEST_F(SharedTemperatureTest, CombinedWeightsAboveOneAreReplaced) {
    ControlAWB awb;
    const std::string log = stderrOf([&] {
        awb.load(wbListOf("WB_COMBINED_AC_WEIGHT 0.5\nWB_COMBINED_HLW_WEIGHT 0.5\nWB_COMBINED_WP_WEIGHT 0.5\n"));
    });
    EXPECT_NE(log.find("A sum of combined mode weights can't be greater than 1."), std::string::npos);
    ParameterList saved;
    awb.save(saved, ModuleBase::SAVE_VAL);
    EXPECT_EQ(saved.getParameter("WB_COMBINED_AC_WEIGHT")->getValues(), std::vector<std::string>{"0.25"});
    EXPECT_EQ(saved.getParameter("WB_COMBINED_HLW_WEIGHT")->getValues(), std::vector<std::string>{"0.35"});
}

TEST_F(SharedTemperatureTest, ConfigureStatisticsWritesTheRegionsOnce) {
    norva_test::WbRig rig;
    ControlAWB awb;
    rig.attach(awb);
    ASSERT_EQ(awb.configureStatistics(), QOR_RES_OK);
    EXPECT_EQ(rig.wbs->aROIEndCoord[1][0], 639u);
    EXPECT_EQ(rig.wbs->ui32NROIEnabled, 2u);
    EXPECT_DOUBLE_EQ(rig.wbs->aRedMaxTH[1], static_cast<double>(0.45f));
    rig.wbs->aROIEndCoord[1][0] = 100;
    ASSERT_EQ(awb.configureStatistics(), QOR_RES_OK);
    EXPECT_EQ(rig.wbs->aROIEndCoord[1][0], 100u);
}

// Closed loop: a grey chart under the 3000 K light. Every mode of the base control settles on 3000 K and
// leaves the grey patches neutral.
TEST_F(SharedTemperatureTest, ClosedLoopFindsTheCalibratedLight) {
    const norva_test::WbScene scene = norva_test::WbScene::underCalibration(1.2, 2.8);
    for (ControlAWB::Correction_Types mode :
         {ControlAWB::WB_AC, ControlAWB::WB_WP, ControlAWB::WB_HLW, ControlAWB::WB_COMBINED}) {
        ControlAWB::resetSharedTemperature();
        norva_test::WbRig rig;
        ControlAWB awb;
        rig.attach(awb);
        awb.setCorrectionMode(mode);
        stderrOf([&] {
            awb.load(wbListOf(norva_test::twoPointCalibration()));
            awb.configureStatistics();
        });
        runFrames(rig, awb, scene, 40);
        EXPECT_NEAR(awb.getMeasuredTemperature(), 3000, 30) << ControlAWB::CorrectionName(mode);
        rig.setup();
        for (const auto &code : norva_test::greyPatchCodes(rig.mc(), scene)) {
            EXPECT_NEAR(code[0], code[1], 3.0) << ControlAWB::CorrectionName(mode);
            EXPECT_NEAR(code[2], code[1], 3.0) << ControlAWB::CorrectionName(mode);
        }
    }
}
