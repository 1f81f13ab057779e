// The PID and Planckian white balances: controller steps, frame delay, the tile estimate, the flash filter
// and temporal weights, and their closed loops on synthetic statistics.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <sstream>

#include "ispc/ControlAWB_PID.h"
#include "ispc/ControlAWB_Planckian.h"
#include "wb_test_util.h"

using namespace ISPC;
using norva_test::stderrOf;
using norva_test::wbListOf;

namespace {

Metadata frameOf(norva_test::WbRig &rig, const norva_test::WbScene &scene) {
    Metadata md;
    std::memset(&md, 0, sizeof(md));
    norva_test::fillWBS(rig.mc(), scene, 640, 480, md);
    norva_test::fillAWS(scene, 4000, md);
    return md;
}

template <class C> void runFrames(norva_test::WbRig &rig, C &control, const norva_test::WbScene &scene, int frames) {
    for (int i = 0; i < frames; i++) {
        rig.setup();
        const Metadata md = frameOf(rig, scene);
        stderrOf([&] { control.update(md); });
    }
}

/** Planckian control whose frame rate and history a test sets. */
class TestPlanckian : public ControlAWB_Planckian {
public:
    double fps = 30.0;
    double getFps() override { return fps; }
};

void expectNeutral(norva_test::WbRig &rig, const norva_test::WbScene &scene, const char *what) {
    rig.setup();
    for (const auto &code : norva_test::greyPatchCodes(rig.mc(), scene)) {
        EXPECT_NEAR(code[0], code[1], 3.0) << what;
        EXPECT_NEAR(code[2], code[1], 3.0) << what;
    }
}

} // namespace

/* ---- PID ---- */

TEST(AwbPid, ControllerStartsAtTheMinimumAndFreezesInTheBand) {
    ControlAWB_PID pid;
    // two points with equal gains: a 6500 K reference of red gain 2 and no locus (refused as degenerate)
    stderrOf([&] {
        pid.load(wbListOf("WB_CORRECTIONS 2\nWB_TEMPERATURE_0 6500\nWB_GAINS_0 2 1 1 1.5\n"
                          "WB_TEMPERATURE_1 3000\nWB_GAINS_1 2 1 1 1.5\n"));
    });
    EXPECT_FALSE(pid.getTemperatureCorrections().hasCalibrationPoints());
    const ControlAWB_PID::State &r = pid.getRedState();
    EXPECT_DOUBLE_EQ(r.flMinGain, 0.25);
    EXPECT_DOUBLE_EQ(r.flMaxGain, 4.0);
    ControlAWB_PID::State s = r;
    // ratio 1: error 0, converged, the output is the integral term alone, 0.5 / IQE
    EXPECT_DOUBLE_EQ(ControlAWB_PID::PIDGain(&s, 1.0), 0.25);
    EXPECT_TRUE(s.bConverged);
    const double integral = s.flIntegral;
    EXPECT_NEAR(ControlAWB_PID::PIDGain(&s, 0.9901), 0.25 + 0.1 * 0.0099 + 0.01 * 0.0099, 1e-12);
    EXPECT_EQ(s.flIntegral, integral); // inside the band the integral holds
    for (int i = 0; i < 1000; i++)
        ControlAWB_PID::PIDGain(&s, 0.1); // a persistent error
    EXPECT_LE(s.flIntegral, s.flMaxGain / s.Ki);
    EXPECT_DOUBLE_EQ(ControlAWB_PID::PIDGain(&s, 0.1), 4.0);
    EXPECT_TRUE(s.bClipped);
}

TEST(AwbPid, CalibratedGainsNarrowTheLimits) {
    ControlAWB_PID pid;
    stderrOf([&] { pid.load(wbListOf(norva_test::twoPointCalibration())); });
    EXPECT_DOUBLE_EQ(pid.getRedState().flMinGain, 1.2 / 1.9);
    EXPECT_DOUBLE_EQ(pid.getBlueState().flMaxGain, 2.8 / 1.6);
    pid.setTargetTemperature(3000);
    EXPECT_EQ(pid.getTargetTemperature(), 6500);
}

TEST(AwbPid, FrameDelayProcessesOneSetInNPlusOne) {
    norva_test::WbRig rig;
    ControlAWB_PID pid;
    rig.attach(pid);
    std::string log = stderrOf([&] { pid.load(wbListOf(norva_test::twoPointCalibration() + "WB_FRAME_DELAY 2\n")); });
    EXPECT_NE(log.find("number of frames to skipped is not expected to change from default!\n"), std::string::npos);
    const norva_test::WbScene scene = norva_test::WbScene::underCalibration(1.2, 2.8);
    int processed = 0;
    for (int i = 0; i < 9; i++) {
        rig.setup();
        const Metadata md = frameOf(rig, scene);
        log = stderrOf([&] { pid.update(md); });
        // a processed set restarts the count of skipped ones
        processed += pid.getNumberOfSkipped() == 0 ? 1 : 0;
    }
    EXPECT_EQ(processed, 3);
    ParameterList saved;
    pid.save(saved, ModuleBase::SAVE_VAL);
    EXPECT_EQ(saved.getParameter("WB_FRAME_DELAY")->getValues(), std::vector<std::string>{"2"});
}

TEST(AwbPid, ClosedLoopBalancesTheGreyChart) {
    norva_test::WbRig rig;
    ControlAWB_PID pid;
    rig.attach(pid);
    stderrOf([&] {
        pid.load(wbListOf(norva_test::twoPointCalibration()));
        pid.configureStatistics();
    });
    const norva_test::WbScene scene = norva_test::WbScene::underCalibration(1.2, 2.8);
    runFrames(rig, pid, scene, 400);
    EXPECT_TRUE(pid.hasConverged());
    // The controller stops at the edge of its band (encoded ratios within 0.01 of 1, about 2.2 % in linear
    // gain), so the temperature from its gains is the light's to within what that band spans on the locus.
    EXPECT_NEAR(pid.getMeasuredTemperature(), 3000, 3000 * 0.035);
    EXPECT_EQ(pid.getCorrectionTemperature(), pid.getMeasuredTemperature());
    expectNeutral(rig, scene, "PID");
}

TEST(AwbPid, BlackFrameHoldsTheGains) {
    norva_test::WbRig rig;
    ControlAWB_PID pid;
    rig.attach(pid);
    stderrOf([&] { pid.load(wbListOf(norva_test::twoPointCalibration())); });
    norva_test::WbScene black;
    black.exposure = 0;
    runFrames(rig, pid, black, 5);
    for (int k = 0; k < 4; k++)
        EXPECT_TRUE(std::isfinite(rig.wbc->aWBGain[k]));
    EXPECT_TRUE(std::isfinite(pid.getMeasuredTemperature()));
}

/* ---- Planckian ---- */

TEST(AwbPlanckian, NeutralSceneIsExactInOneFrame) {
    for (const auto &light : {std::array<double, 3>{3000, 1.2, 2.8}, std::array<double, 3>{6500, 1.9, 1.6}}) {
        norva_test::WbRig rig;
        TestPlanckian awb;
        rig.attach(awb);
        stderrOf([&] {
            awb.load(wbListOf(norva_test::twoPointCalibration()));
            ASSERT_EQ(awb.configureStatistics(), QOR_RES_OK);
        });
        const norva_test::WbScene scene = norva_test::WbScene::underCalibration(light[1], light[2]);
        runFrames(rig, awb, scene, 1);
        EXPECT_NEAR(awb.getMeasuredTemperature(), light[0], light[0] * 1e-6);
        EXPECT_NEAR(rig.wbc->aWBGain[0], light[1], 1e-6);
        EXPECT_NEAR(rig.wbc->aWBGain[3], light[2], 1e-6);
        expectNeutral(rig, scene, "Planckian");
    }
}

TEST(AwbPlanckian, WithoutAStatisticsModuleNothingIsProgrammedAndOneErrorLogged) {
    norva_test::TestRig rig(640, 480);
    ModuleWBC *wbc = new ModuleWBC();
    ModuleCCM *ccm = new ModuleCCM();
    ASSERT_EQ(rig.pipeline->registerModule(wbc), QOR_RES_OK);
    ASSERT_EQ(rig.pipeline->registerModule(ccm), QOR_RES_OK);
    TestPlanckian awb;
    ASSERT_EQ(awb.addPipeline(rig.pipeline.get()), QOR_RES_OK);
    stderrOf([&] { awb.setPipelineOwner(rig.pipeline.get()); });
    stderrOf([&] { awb.load(wbListOf(norva_test::twoPointCalibration())); });
    EXPECT_EQ(stderrOf([&] { EXPECT_EQ(awb.configureStatistics(), QOR_RES_UNAVAILABLE); }).empty(), false);
    Metadata md;
    std::memset(&md, 0, sizeof(md));
    norva_test::fillAWS(norva_test::WbScene::underCalibration(1.2, 2.8), 100, md);
    std::string first, later;
    first = stderrOf([&] { EXPECT_EQ(awb.update(md), QOR_RES_OK); });
    later = stderrOf([&] {
        for (int i = 0; i < 5; i++)
            awb.update(md);
    });
    EXPECT_NE(first.find("no AWS module"), std::string::npos);
    EXPECT_EQ(later.find("no AWS module"), std::string::npos);
    EXPECT_EQ(wbc->aWBGain[0], 1.0);
}

TEST(AwbPlanckian, EmptyFrameGivesUnitRatios) {
    norva_test::WbRig rig;
    TestPlanckian awb;
    rig.attach(awb);
    stderrOf([&] { awb.load(wbListOf(norva_test::twoPointCalibration())); });
    Metadata md;
    std::memset(&md, 0, sizeof(md));
    stderrOf([&] { awb.update(md); });
    EXPECT_EQ(awb.getRedBalance(), 1.0);
    EXPECT_EQ(awb.getBlueBalance(), 1.0);
}

TEST(AwbPlanckian, WeightsOfTheMovingAverage) {
    TestPlanckian awb;
    awb.generateWeights(3);
    ASSERT_EQ(awb.weights().size(), 3u);
    EXPECT_FLOAT_EQ(awb.weights()[0], 57.142857f);
    EXPECT_FLOAT_EQ(awb.weights()[1], 28.571428f);
    EXPECT_FLOAT_EQ(awb.weights()[2], 14.285714f);
    awb.generateWeights(1);
    EXPECT_FLOAT_EQ(awb.weights()[0], 100.0f);
    // a long window with the largest base stays finite and sums to 100
    awb.ts_setWeightBase(10.0f);
    awb.generateWeights(1275);
    double sum = 0;
    for (float w : awb.weights()) {
        ASSERT_TRUE(std::isfinite(w));
        sum += w;
    }
    EXPECT_NEAR(sum, 100.0, 1e-3);
    awb.ts_setWeightBase(1.0f);
    EXPECT_EQ(awb.weightSpread(5, 2), 1.0f);
}

TEST(AwbPlanckian, FlashIsHeldOneFrameThenReplacedOrReleased) {
    struct Case {
        const char *name;
        double after;                // the frame after the flash
        std::vector<double> history; // rg from the front after that frame
    } cases[] = {
        {"back inside the band", 1.0, {1.0, 1.0, 1.0, 1.0, 1.0, 1.0, 1.0, 1.0}},
        {"outside again", 1.5, {1.5, 2.0, 1.0, 1.0, 1.0, 1.0, 1.0, 1.0}},
    };
    for (const Case &c : cases) {
        TestPlanckian awb;
        awb.setFlashFiltering(true);
        double rg = 0, bg = 0;
        for (int i = 0; i < 6; i++) {
            awb.flashFiltering(1.0, 1.0);
        }
        awb.flashFiltering(2.0, 2.0); // the sixth accepted entry makes the seventh frame a candidate
        EXPECT_EQ(awb.history().size(), 6u) << c.name;
        EXPECT_EQ(awb.flashCache().size(), 1u) << c.name;
        awb.smoothingNone(rg, bg);
        EXPECT_EQ(rg, 1.0) << c.name; // the held flash never shows while held
        awb.flashFiltering(c.after, c.after);
        ASSERT_EQ(awb.history().size(), c.history.size()) << c.name;
        for (size_t k = 0; k < c.history.size(); k++)
            EXPECT_EQ(awb.history()[k].rg, c.history[k]) << c.name << " " << k;
        EXPECT_TRUE(awb.flashCache().empty());
    }
    // one ratio leaving the band is no flash; too short a history holds nothing
    TestPlanckian awb;
    for (int i = 0; i < 6; i++)
        awb.flashFiltering(1.0, 1.0);
    awb.flashFiltering(2.0, 1.0);
    EXPECT_TRUE(awb.flashCache().empty());
    TestPlanckian fresh;
    for (int i = 0; i < 5; i++)
        fresh.flashFiltering(1.0, 1.0);
    fresh.flashFiltering(2.0, 2.0);
    EXPECT_TRUE(fresh.flashCache().empty());
}

TEST(AwbPlanckian, HeldEntryWithAnEmptiedHistoryIsDropped) {
    TestPlanckian awb;
    for (int i = 0; i < 6; i++)
        awb.flashFiltering(1.0, 1.0);
    awb.flashFiltering(2.0, 2.0);
    bool s;
    float b;
    int st;
    stderrOf([&] { awb.getWBTSAlgorithm(s, b, st); }); // empties the history, keeps the cache
    awb.flashFiltering(1.0, 1.0);
    ASSERT_EQ(awb.history().size(), 1u);
    EXPECT_EQ(awb.history().front().rg, 1.0);
}

TEST(AwbPlanckian, WindowOfNoFrameKeepsTheNewestEstimate) {
    TestPlanckian awb;
    awb.fps = 3.0; // 300 ms x 3 fps is less than one frame
    awb.ts_setSmoothing(true);
    awb.flashFiltering(1.25, 0.8);
    double rg = 0, bg = 0;
    awb.temporalAWBsmoothing(rg, bg);
    EXPECT_EQ(rg, 1.25);
    EXPECT_EQ(bg, 0.8);
    // a step reaches 1 - 2^-j of its size after j frames with base 2 and a long window
    TestPlanckian step;
    step.fps = 100.0;
    step.ts_setSmoothing(true);
    step.flashFiltering(1.0, 1.0);
    step.temporalAWBsmoothing(rg, bg);
    step.flashFiltering(2.0, 2.0);
    step.temporalAWBsmoothing(rg, bg);
    EXPECT_NEAR(rg, 1.0 + 2.0 / 3.0, 1e-6);
}

TEST(AwbPlanckian, SaveGoldenAndPrintState) {
    TestPlanckian awb;
    stderrOf([&] { awb.load(wbListOf("WBT_WEIGHT_BASE 3\nAWB_MAX_RATIO_DISTANCE 0.1\n")); });
    ParameterList saved;
    awb.save(saved, ModuleBase::SAVE_VAL);
    const char *expected[][2] = {{"WB_TARGET_TEMPERATURE", "6500"}, {"AWB_USE_AWS_CONFIG", "0"},
                                 {"AWB_MAX_RATIO_DISTANCE", "0.1"}, {"WBT_USE_FLASH_FILTERING", "0"},
                                 {"WBT_USE_SMOOTHING", "0"},        {"WBT_TEMPORAL_STRETCH", "300"},
                                 {"WBT_WEIGHT_BASE", "3"},          {"WB_CORRECTIONS", "0"}};
    for (const auto &e : expected) {
        ASSERT_NE(saved.getParameter(e[0]), nullptr) << e[0];
        EXPECT_EQ(saved.getParameter(e[0])->getValues(), std::vector<std::string>{e[1]}) << e[0];
    }
    EXPECT_TRUE(saved.hasGroup("ControlAWB_Planckian"));
    std::ostringstream os;
    stderrOf([&] { awb.printState(os); });
    EXPECT_EQ(os.str(), "  ISPC_CTRL_AWB:\n"
                        "    Config:\n"
                        "      enabled = 1\n"
                        "      Qer = 0\n"
                        "      Qeb = 0\n"
                        "      log2(LowTempRatioR) = 1\n"
                        "      log2(LowTempRatioB) = 1\n"
                        "      MaxDistance = 0.1\n"
                        "      useCustomAwsConfig = 0\n"
                        "    Temporal proc config:\n"
                        "      weights base = 3\n"
                        "      flash filter = 0\n"
                        "      mode = 0\n"
                        "      stretch [ms] = 300\n"
                        "    Capture state:\n"
                        "      ratioR = 1\n"
                        "      ratioB = 1\n"
                        "      estimated temperature = 6503.83\n"
                        "    Final valid tiles:\n");
}
