// The exposure control's worked values: metering of the sixteen single-bin histograms, the update factors, the
// reachable targets, the exposure limits on the sensor's step, every plan example with flicker and the steerable
// iris, the aperture-status queue, the statistics it configures, and its printed and saved state.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <functional>
#include <limits>
#include <sstream>
#include <string>

#include "ae_probe.h"
#include "control_rig.h"
#include "ispc/ControlAE.h"
#include "ispc/Parameter.h"
#include "ispc/ParameterFileParser.h"
#include "support/output_capture.h"

using ISPC::ControlAE;
using ISPC::FNumberStatus;
using norva_test::AeProbe;

namespace {

MC_STATS_HIS singleBin(int bin) {
    MC_STATS_HIS h{};
    for (auto &row : h.regionHistograms) {
        for (auto &region : row) {
            region[bin] = 1;
        }
    }
    return h;
}

TEST(ControlAEMetering, SixteenSingleBinLevelsAtBacklightLevelsZeroAndOne) {
    const double level0[8] = {0.99992, 0.691319, 0.468682, 0.310443, 0.199204, 0.120981, 0.064445, 0.020162};
    const double level1[8] = {0.99998, 0.668601, 0.434981, 0.274171, 0.166177, 0.09506, 0.048031, 0.014555};
    for (int blc = 0; blc <= 1; blc++) {
        AeProbe ae;
        ae.setBlcLevel(blc);
        const double *expected = blc == 0 ? level0 : level1;
        for (int bin = 0; bin < 16; bin++) {
            const double m = ae.getBrightnessMetering(singleBin(bin), MC_STATS_EXS{});
            const double want = bin < 8 ? -expected[bin] : expected[15 - bin];
            EXPECT_NEAR(m, want, 6e-6) << "BLC " << blc << " bin " << bin;
        }
    }
}

TEST(ControlAEMetering, WeightTablesAndEmptyHistograms) {
    double a = 0, b = 0, backlight = 0;
    for (int r = 0; r < 7; r++) {
        for (int c = 0; c < 7; c++) {
            a += ControlAE::WEIGHT_7X7_A[r][c], b += ControlAE::WEIGHT_7X7_B[r][c];
            backlight += ControlAE::BACKLIGHT_7X7[r][c];
        }
    }
    EXPECT_NEAR(a, 0.9999, 1e-12);
    EXPECT_NEAR(b, 0.9999, 1e-12);
    EXPECT_DOUBLE_EQ(backlight, 20);
    AeProbe ae;
    EXPECT_EQ(ae.getBrightnessMetering(MC_STATS_HIS{}, MC_STATS_EXS{}), 0.0);
    double avg, under, over;
    ControlAE::getHistogramStats(nullptr, 0, avg, under, over);
    EXPECT_EQ(avg, -0.5);
}

TEST(ControlAEMetering, UpdateFactorsAtFullSpeed) {
    const struct {
        double d, factor;
    } rows[] = {{1, 4.4817}, {0.5, 1.6995}, {0.1, 1.0486}, {-0.1, 0.9537}, {-1, 0.2231}, {3, 4.4817}};
    AeProbe ae;
    for (const auto &r : rows) {
        EXPECT_NEAR(ae.autoExposureCtrl(0.0, r.d, 1.0), r.factor, 5e-5) << r.d;
    }
    EXPECT_EQ(ae.autoExposureCtrl(0.2, 0.2, 1234.5), 1234.5);
    ae.setUpdateSpeed(0.5);
    EXPECT_NEAR(ae.autoExposureCtrl(0.0, 1.0, 1.0), std::exp(0.75), 1e-12);
    const std::string log = norva_test::stderrOf([&] { ae.setUpdateSpeed(1.5); });
    EXPECT_NE(log.find("Update speed must be between 0.0 and 1.0 (received: 1.500000)"), std::string::npos) << log;
    EXPECT_EQ(ae.getUpdateSpeed(), 0.5);
}

TEST(ControlAEMetering, ReachableTargets) {
    const struct {
        double target;
        bool blcAuto;
        double actual;
    } rows[] = {{0, false, 0},
                {0.9, false, 0.99992 - 0.0495},
                {-1, false, -1},
                {0.5, false, 0.5},
                {0.6, false, 0.691319 - 0.0495}};
    for (const auto &r : rows) {
        AeProbe ae;
        ae.setTargetBrightness(r.target);
        ae.enableBlcAuto(r.blcAuto);
        EXPECT_NEAR(ae.getTargetBrightnessActual(), r.actual, 6e-6) << r.target;
    }
    AeProbe exact;
    exact.setTargetBrightness(-1);
    EXPECT_EQ(exact.getTargetBrightnessActual(), -1.0);
    // backlight compensation on: the nearer of the searches at levels 0 and 1
    AeProbe blc;
    blc.setTargetBrightness(0.3);
    blc.enableBlcAuto(true);
    EXPECT_NEAR(blc.getTargetBrightnessActual(), 0.3, 1e-12); // 0.310443 at level 0 lies inside the bracket
    blc.setTargetBrightness(0.55);
    EXPECT_NEAR(blc.getTargetBrightnessActual(), 0.468682 + 0.0495, 6e-6);
}

TEST(ControlAESettings, BacklightLevelClampsAndFlickerSettings) {
    AeProbe ae;
    ae.setBlcLevel(2);
    EXPECT_EQ(ae.getBlcLevel(), 1.0);
    ae.setBlcLevel(-1);
    EXPECT_EQ(ae.getBlcLevel(), 0.0);
    ae.settingsUpdated = false;
    ae.enableFlickerRejection(true, 60);
    EXPECT_TRUE(ae.settingsUpdated);
    EXPECT_FALSE(ae.getAutoFlickerRejection());
    EXPECT_EQ(ae.getFlickerRejectionFrequency(), 60.0);
    ae.settingsUpdated = false;
    ae.enableFlickerRejection(true, 60);
    EXPECT_FALSE(ae.settingsUpdated);
    ae.enableFlickerRejection(true, 0);
    EXPECT_TRUE(ae.settingsUpdated);
    EXPECT_TRUE(ae.getAutoFlickerRejection());
    EXPECT_EQ(ae.getFlickerFreqConfig(), 60.0);
    // Automatic detection asks for a new plan when it is switched, not when it is set again as it is.
    ae.settingsUpdated = false;
    ae.enableAutoFlickerRejection(true);
    EXPECT_FALSE(ae.settingsUpdated);
    ae.enableAutoFlickerRejection(false);
    EXPECT_TRUE(ae.settingsUpdated);
    EXPECT_FALSE(ae.getAutoFlickerRejection());
}

TEST(ControlAESettings, OnlyAChangedLimitAsksForANewPlan) {
    // The element sets every limit again before every frame: the same value must leave a converged loop at rest.
    const struct {
        const char *name;
        std::function<void(AeProbe &, double)> set;
    } setters[] = {
        {"target gain", [](AeProbe &ae, double v) { ae.setTargetAeGain(v); }},
        {"lowest gain", [](AeProbe &ae, double v) { ae.setMinAeGain(v); }},
        {"highest gain", [](AeProbe &ae, double v) { ae.setMaxAeGain(v); }},
        {"shortest exposure", [](AeProbe &ae, double v) { ae.setMinAeExposure(ControlAE::microseconds_t(v)); }},
        {"longest exposure", [](AeProbe &ae, double v) { ae.setMaxAeExposure(ControlAE::microseconds_t(v)); }},
        {"target time", [](AeProbe &ae, double v) { ae.setTargetExposureTime(ControlAE::microseconds_t(v)); }},
    };
    for (const auto &s : setters) {
        SCOPED_TRACE(s.name);
        AeProbe ae;
        s.set(ae, 8);
        ae.settingsUpdated = false;
        s.set(ae, 8);
        EXPECT_FALSE(ae.settingsUpdated);
        s.set(ae, 9);
        EXPECT_TRUE(ae.settingsUpdated);
    }
}

/* ---- the plan ---- */

/** The examples' common settings: step 30, limits 30 to 33333 us and 1 to 16, target gain 4, 30 fps, pixel 2 um. */
struct PlanSetup {
    AeProbe ae;
    PlanSetup(double fnumber = 2.0) {
        ae.setTargetAeGain(4);
        FNumberStatus s;
        s.current = s.minimum = s.autoMin = s.autoMax = s.nextMin = s.nextMax = fnumber;
        ae.updateFNumber(s);
    }
    void steerable(double current) {
        FNumberStatus s;
        s.isAuto = true;
        s.current = current;
        s.minimum = 1.4;
        s.autoMin = s.nextMin = 1.4;
        s.autoMax = s.nextMax = 8;
        ae.fNumStatuses.clear();
        ae.updateFNumber(s);
    }
    void plan(double T) { ae.getAutoExposure(2.0, T, 30, 30, 33333, 1, 16, gain, exposure, aperture); }
    double gain = 0, aperture = 1.0;
    ControlAE::microseconds_t exposure = 0;
};

TEST(ControlAEPlan, WorkedExamples) {
    const struct {
        double T, flicker;
        ControlAE::microseconds_t exposure;
        double gain;
        bool over, under;
    } rows[] = {
        {5, 0, 30, 1, true, false},
        {20, 0, 60, 80.0 / 60, false, false},
        {5000, 0, 19980, 20000.0 / 19980, false, false},
        {20000, 0, 33330, 2.40024, false, false},
        {40000, 0, 33330, 4.80048, false, false},
        {200000, 0, 33330, 16, false, true},
        {20000, 100, 30000, 2.666667, false, false},
        {5000, 100, 19980, 20000.0 / 19980, false, false},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(testing::Message() << "T " << r.T << " flicker " << r.flicker);
        PlanSetup p;
        p.ae.enableFlickerRejection(r.flicker > 0, 50);
        p.ae.flickerFreq = r.flicker;
        p.plan(r.T);
        EXPECT_EQ(p.exposure, r.exposure);
        EXPECT_NEAR(p.gain, r.gain, 5e-6);
        EXPECT_EQ(p.ae.isOverexposed(), r.over);
        EXPECT_EQ(p.ae.isUnderexposed(), r.under);
        EXPECT_EQ(p.aperture, 1.0); // a fixed iris: the factor is not written
        EXPECT_TRUE(p.ae.isFNumberConverged());
    }
}

TEST(ControlAEPlan, FlickerBeyondTheTargetTime) {
    // Past the target time (30000 us: 30 fps on whole 10000 us periods) the exposure stays on whole periods: rounded
    // up when the gain can come down to make up for it, otherwise rounded down with more gain. Step 30, limits 30 to
    // 100000 us and 1 to 16, F-number 1.
    const struct {
        double targetGain, T;
        ControlAE::microseconds_t exposure;
        double gain;
    } rows[] = {
        {1, 45000, 39990, 45000.0 / 39990}, // the target at the lowest gain: down to 4 periods (on the step)
        {1, 95000, 90000, 95000.0 / 90000}, // 10 periods would need a gain under 1
        {1, 60000, 60000, 1},               // a whole number of periods already
        {2, 90000, 49980, 90000.0 / 49980}, // up to 5 periods at a gain under the target of 2
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(testing::Message() << "T " << r.T << " target gain " << r.targetGain);
        PlanSetup p(1.0);
        p.ae.setTargetAeGain(r.targetGain);
        p.ae.enableFlickerRejection(true, 100);
        p.ae.flickerFreq = 100;
        p.ae.getAutoExposure(2.0, r.T, 30, 30, 100000, 1, 16, p.gain, p.exposure, p.aperture);
        EXPECT_EQ(p.exposure, r.exposure);
        EXPECT_NEAR(p.gain, r.gain, 5e-6);
    }
}

TEST(ControlAEPlan, SteerableIris) {
    const double Fd = 2.0 / (1.22 * 0.55);
    const struct {
        double T, fnumber, current;
        bool converged;
    } rows[] = {
        {0.2, 8, 2, false},                               // row 1: closed fully, on the bound
        {0.2, 8, 8, true},                                // ... where the iris already stands
        {1, std::sqrt(30.0), 2, true},                    // row 2: from the closed end toward Fd
        {8000, Fd, 2, true},                              // row 4: at the diffraction limit
        {20000, std::sqrt(33333 * 4 / 20000.0), 2, true}, // row 5: opening beyond it at the target gain
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.T);
        PlanSetup p;
        p.steerable(r.current);
        p.plan(r.T);
        EXPECT_NEAR(p.aperture, 1.4 * 1.4 / (r.fnumber * r.fnumber), 1e-6);
        EXPECT_EQ(p.ae.isFNumberConverged(), r.converged);
    }
    PlanSetup p;
    p.steerable(2);
    p.plan(20000);
    EXPECT_NEAR(p.aperture, 0.294003, 5e-7);
    EXPECT_NEAR(p.gain, 4.0 * 33333 / 33330, 1e-9); // gain 4 before the step takes 3 us off
    // a moving iris leaves the factor and lowers the convergence
    FNumberStatus moving;
    moving.isAuto = moving.isMoving = true;
    moving.current = 2;
    p.ae.fNumStatuses.clear();
    p.ae.updateFNumber(moving);
    p.aperture = 0.5;
    p.plan(20000);
    EXPECT_EQ(p.aperture, 0.5);
    EXPECT_FALSE(p.ae.isFNumberConverged());
}

TEST(ControlAEPlan, FixedModesAndQuantisation) {
    PlanSetup p;
    p.ae.setFixedAeExposure(1000);
    p.ae.enableFixedAeExposure(true);
    p.ae.setFixedAeGain(3);
    p.ae.enableFixedAeGain(true);
    p.plan(5000);
    EXPECT_EQ(p.exposure, 990u);
    EXPECT_EQ(p.gain, 3.0);
    p.ae.enableFixedAeExposure(false);
    p.plan(6000); // exposure = 4 x 6000 / 3
    EXPECT_EQ(p.exposure, 7980u);
    EXPECT_EQ(p.gain, 3.0);
    EXPECT_EQ(p.ae.getExposureFixedGain(6000, 3), 8000u);
    EXPECT_EQ(p.ae.getGainFixedExposure(6000, 8000), 3.0);

    ControlAE::microseconds_t e = 0;
    double g = 0;
    ControlAE::adjustExposureStep(30, 30, 33333, 80, 1.0, e, g);
    EXPECT_EQ(e, 60u);
    EXPECT_NEAR(g, 80.0 / 60, 1e-12);
    ControlAE::adjustExposureStep(30, 100, 50, 10, 2.0, e, g); // unordered limits, below one step
    EXPECT_EQ(e, 50u);
    EXPECT_NEAR(g, 2.0 * 10 / 50, 1e-12);
}

TEST(ControlAEPlan, DegenerateInputsGiveFiniteResults) {
    const struct {
        const char *name;
        double pixel, wavelength, T, fixedGain;
        bool useFixedGain;
    } rows[] = {
        {"wavelength 0", 2, 0, 5000, 0, false},          {"pixel size 0", 0, 0.55, 5000, 0, false},
        {"total exposure 0", 2, 0.55, 0, 0, false},      {"fixed gain 0", 2, 0.55, 5000, 0, true},
        {"fixed gain 0, T 0", 2, 0.55, 0, 0, true},      {"huge exposure", 2, 0.55, 1e300, 0, false},
        {"fixed gain, huge T", 2, 0.55, 1e300, 1, true},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.name);
        PlanSetup p;
        p.steerable(2);
        p.ae.setWavelength(r.wavelength);
        p.ae.setFixedAeGain(r.fixedGain);
        p.ae.enableFixedAeGain(r.useFixedGain);
        p.ae.getAutoExposure(r.pixel, r.T, 30, 30, 33333, 1, 16, p.gain, p.exposure, p.aperture);
        EXPECT_TRUE(std::isfinite(p.gain));
        EXPECT_TRUE(std::isfinite(p.aperture));
        EXPECT_GE(p.exposure, 30u);
        EXPECT_LE(p.exposure, 33333u);
    }
    // the histograms of a black and of a saturated frame meter to the two ends
    AeProbe ae;
    EXPECT_NEAR(ae.getBrightnessMetering(singleBin(0), MC_STATS_EXS{}), -0.99992, 1e-5);
    MC_STATS_HIS saturated = singleBin(15);
    for (auto &row : saturated.regionHistograms) {
        for (auto &region : row) {
            region[15] = 0xFFFFFFFFu;
        }
    }
    EXPECT_NEAR(ae.getBrightnessMetering(saturated, MC_STATS_EXS{}), 0.99992, 1e-5);
}

/* ---- aperture statuses ---- */

TEST(ControlAEApertureQueue, StatusesTakeForceWhenDue) {
    using std::chrono::milliseconds;
    const ControlAE::time_point t0 = ControlAE::time_point(std::chrono::seconds(100));
    AeProbe ae;
    FNumberStatus first;
    first.current = 2;
    first.timestamp = t0 + milliseconds(500); // ahead of every frame, but the queue is empty: in force at once
    ae.updateFNumber(first);
    EXPECT_EQ(ae.getFNumberStatus().current, 2.0);
    ae.settingsUpdated = false;

    FNumberStatus later = first, latest = first;
    later.current = 2.8;
    later.isMoving = true;
    later.timestamp = t0 + milliseconds(600);
    latest.current = 4;
    latest.timestamp = t0 + milliseconds(700);
    ae.updateFNumber(later);
    ae.updateFNumber(latest);
    ae.startPrevFrameTime = t0 + milliseconds(650); // not yet due: the status in force stays
    ae.updateFNumDeque();
    EXPECT_EQ(ae.getFNumberStatus().current, 2.8);
    EXPECT_FALSE(ae.isFNumberConverged());
    EXPECT_TRUE(ae.settingsUpdated);
    EXPECT_EQ(ae.fNumStatuses.size(), 2u);

    // two due at once: both compared, the older dropped, the newer in force
    AeProbe two;
    two.updateFNumber(first);
    two.updateFNumber(later);
    two.updateFNumber(latest);
    two.startPrevFrameTime = t0 + milliseconds(800);
    two.settingsUpdated = false;
    two.updateFNumDeque();
    EXPECT_EQ(two.getFNumberStatus().current, 4.0);
    EXPECT_EQ(two.fNumStatuses.size(), 1u);
    EXPECT_FALSE(two.isFNumberConverged()); // the moving one was walked
    EXPECT_TRUE(two.settingsUpdated);
}

TEST(ControlAEApertureQueue, DueAtTheSecondFrameAtOrAfterItsTimestamp) {
    // Frames at 10, 20, 30, 40 ms; a status at 15 ms is behind the one in force and becomes due at the update of
    // the frame at 30 ms, whose previous frame (20 ms) is the first at or after the status.
    AeProbe ae;
    FNumberStatus first, next;
    first.current = 2;
    next.current = 4;
    next.timestamp = ControlAE::time_point(std::chrono::milliseconds(15));
    ae.updateFNumber(first);
    ae.updateFNumber(next);
    const double seen[] = {2, 2, 4, 4};
    for (int f = 0; f < 4; f++) {
        ISPC::Metadata md{};
        md.timestamps.ui64InterruptSysTime = QOR_UINT64(10 + 10 * f) * 1000000ull;
        norva_test::stderrOf([&] { ae.update(md); }); // no sensor: metered, then refused
        EXPECT_EQ(ae.getFNumberStatus().current, seen[f]) << "frame " << f;
    }
}

/* ---- on a sensor ---- */

class ControlAEOnSensor : public norva_test::ControlRig {};

TEST_F(ControlAEOnSensor, ExposureLimitsOnTheSensorsStep) {
    make();
    AeProbe ae;
    ASSERT_EQ(ae.addPipeline(&pipeline()), QOR_RES_OK);
    ASSERT_EQ(ae.setPipelineOwner(&pipeline()), QOR_RES_OK);
    sensor().setExposureTimeStep(30);
    ASSERT_EQ(sensor().getExposureTimeStep(), 30u);
    ae.uiMinSensorExposure = 10, ae.uiMaxSensorExposure = 1000;
    const struct {
        bool minimum;
        ControlAE::microseconds_t value, expected;
    } rows[] = {{true, 100, 120}, {false, 995, 990}, {false, 4294967295u, 990}, {true, 5, 30}, {true, 999, 990}};
    for (const auto &r : rows) {
        (r.minimum ? ae.uiMinAeExposure : ae.uiMaxAeExposure) = r.value;
        EXPECT_EQ(r.minimum ? ae.getMinAeExposure() : ae.getMaxAeExposure(), r.expected) << r.value;
    }
}

TEST_F(ControlAEOnSensor, ConfiguresTheHistogramGridAndFlickerTiming) {
    make(norva_test::kS5k3p9Mode1080);
    AeProbe ae;
    ae.addPipeline(&pipeline());
    ae.setPipelineOwner(&pipeline());
    ASSERT_EQ(ae.configureStatistics(), QOR_RES_OK);
    const auto &his = *dynamic_cast<ISPC::ModuleHIS *>(pipeline().getModule(ISPC::STP_HIS));
    EXPECT_EQ(his.aGridTileSize[0], 274u);
    EXPECT_EQ(his.aGridTileSize[1], 154u);
    EXPECT_EQ(his.aGridStartCoord[0], 1u);
    EXPECT_EQ(his.aGridStartCoord[1], 1u);
    EXPECT_TRUE(his.bEnableGlobal && his.bEnableROI);
    const auto &fld = *dynamic_cast<ISPC::ModuleFLD *>(pipeline().getModule(ISPC::STP_FLD));
    EXPECT_TRUE(fld.bEnable);
    EXPECT_EQ(fld.iVTotal, 1833);
    EXPECT_NEAR(fld.fFrameRate, 60.045, 0.0005);
    EXPECT_TRUE(ae.autoFlickerDetectionSupported);
    EXPECT_NEAR(ae.fSensorFrameDuration, 1e6 / sensor().flFrameRate, 1e-9);
    EXPECT_TRUE(ae.configured);
}

TEST_F(ControlAEOnSensor, ConfigurationFailures) {
    make(norva_test::kS5k3p9Mode720, false);
    AeProbe ae;
    std::string log = norva_test::stderrOf([&] { EXPECT_EQ(ae.configureStatistics(), QOR_RES_NOT_INITIALISED); });
    EXPECT_NE(log.find("ControlAE has no pipeline owner! Cannot configure statistics."), std::string::npos) << log;
    ae.addPipeline(&pipeline());
    ae.setPipelineOwner(&pipeline());
    log = norva_test::stdoutOf([&] { EXPECT_EQ(ae.configureStatistics(), QOR_RES_OK); });
    EXPECT_FALSE(ae.autoFlickerDetectionSupported);
    EXPECT_NE(log.find("ISPC_CTRL_AE"), std::string::npos) << log;
    EXPECT_NE(log.find("FLD module not configured. Flicker detection not supported!"), std::string::npos) << log;
}

/* ---- printed and saved state ---- */

TEST(ControlAEText, PrintState) {
    AeProbe ae("AE_UNDER_TEST");
    std::ostringstream os;
    ae.printState(os);
    EXPECT_EQ(os.str(), "  AE_UNDER_TEST:\n"
                        "    config:\n"
                        "    enabled = 1\n"
                        "      flickerRejection = 0\n"
                        "      autoFlickerRejection = 1\n"
                        "      flickerFreqConfig = 50\n"
                        "      blcAuto = 0\n"
                        "      blcLevelConfig = 0\n"
                        "      targetBrightness = 0\n"
                        "      updateSpeed = 1\n"
                        "      targetBracket = 0.05\n"
                        "      fTargetAeGain = 256\n"
                        "      fMinAeGain = 1\n"
                        "      fMaxAeGain = 256\n"
                        "      uiMinAeExposure = 1\n"
                        "      uiMaxAeExposure = 4294967295\n"
                        "      uiMaxSensorExposure = 4294967295\n"
                        "      fSensorFrameDuration = 33333.3\n"
                        "      useFixedAeGain = 0\n"
                        "      fFixedAeGain = 0\n"
                        "      useFixedAeExposure = 0\n"
                        "      uiFixedAeExposure = 0\n"
                        "    state:\n"
                        "      hasConverged = 1\n"
                        "      currentBrightness = 0\n"
                        "      fNewGain = 1\n"
                        "      uiNewExposure = 0\n");
}

std::string saved(const ControlAE &ae, ISPC::ModuleBase::SaveType t) {
    ISPC::ParameterList list;
    EXPECT_EQ(ae.save(list, t), QOR_RES_OK);
    std::ostringstream os;
    for (auto it = list.begin(); it != list.end(); ++it) {
        os << it->first << " " << it->second.getString(0);
        if (!it->second.getInfo().empty()) {
            os << " // " << it->second.getInfo();
        }
        os << "\n";
    }
    const ISPC::ParameterGroup &g = ISPC::ControlAE::getGroup();
    EXPECT_EQ(g.header, "// Auto Exposure parameters");
    EXPECT_EQ(g.parameters.size(), 13u);
    return os.str();
}

TEST(ControlAEText, SaveOfTheFourKinds) {
    AeProbe ae;
    std::istringstream text("AE_TARGET_BRIGHTNESS 0.25\nAE_FLICKER_FREQ 500\nAE_UPDATE_SPEED x\nAE_MIN_GAIN 2\n");
    ISPC::ParameterList setup;
    ASSERT_EQ(ISPC::ParameterFileParser::parse(text, setup), QOR_RES_OK);
    ASSERT_EQ(ae.load(setup), QOR_RES_OK);
    EXPECT_EQ(saved(ae, ISPC::ModuleBase::SAVE_VAL), "AE_BLC_AUTO 0\n"
                                                     "AE_BLC_LEVEL 0\n"
                                                     "AE_BRACKET_SIZE 0.05\n"
                                                     "AE_FLICKER_AUTODETECT 1\n"
                                                     "AE_FLICKER_FREQ 200\n"
                                                     "AE_FLICKER_REJECTION 0\n"
                                                     "AE_MAX_EXPOSURE 4294967295\n"
                                                     "AE_MAX_GAIN 256\n"
                                                     "AE_MIN_EXPOSURE 1\n"
                                                     "AE_MIN_GAIN 2\n"
                                                     "AE_TARGET_BRIGHTNESS 0.25\n"
                                                     "AE_TARGET_GAIN 256\n"
                                                     "AE_UPDATE_SPEED 1\n");
    EXPECT_EQ(saved(ae, ISPC::ModuleBase::SAVE_MIN), "AE_BLC_AUTO 0\n"
                                                     "AE_BLC_LEVEL 0\n"
                                                     "AE_BRACKET_SIZE 0\n"
                                                     "AE_FLICKER_AUTODETECT 0\n"
                                                     "AE_FLICKER_FREQ 1\n"
                                                     "AE_FLICKER_REJECTION 0\n"
                                                     "AE_MAX_EXPOSURE 1\n"
                                                     "AE_MAX_GAIN 1\n"
                                                     "AE_MIN_EXPOSURE 1\n"
                                                     "AE_MIN_GAIN 1\n"
                                                     "AE_TARGET_BRIGHTNESS -1\n"
                                                     "AE_TARGET_GAIN 1\n"
                                                     "AE_UPDATE_SPEED 0\n");
    EXPECT_EQ(saved(ae, ISPC::ModuleBase::SAVE_MAX), "AE_BLC_AUTO 1\n"
                                                     "AE_BLC_LEVEL 1\n"
                                                     "AE_BRACKET_SIZE 1\n"
                                                     "AE_FLICKER_AUTODETECT 1\n"
                                                     "AE_FLICKER_FREQ 200\n"
                                                     "AE_FLICKER_REJECTION 1\n"
                                                     "AE_MAX_EXPOSURE 4294967295\n"
                                                     "AE_MAX_GAIN 1.79769e+308\n"
                                                     "AE_MIN_EXPOSURE 4294967295\n"
                                                     "AE_MIN_GAIN 1.79769e+308\n"
                                                     "AE_TARGET_BRIGHTNESS 1\n"
                                                     "AE_TARGET_GAIN 1.79769e+308\n"
                                                     "AE_UPDATE_SPEED 1\n");
    EXPECT_EQ(saved(ae, ISPC::ModuleBase::SAVE_DEF), "AE_BLC_AUTO 0 // bool {0,1}\n"
                                                     "AE_BLC_LEVEL 0 // double range=[0,1]\n"
                                                     "AE_BRACKET_SIZE 0.05 // double range=[0,1]\n"
                                                     "AE_FLICKER_AUTODETECT 1 // bool {0,1}\n"
                                                     "AE_FLICKER_FREQ 50 // double range=[1,200]\n"
                                                     "AE_FLICKER_REJECTION 0 // bool {0,1}\n"
                                                     "AE_MAX_EXPOSURE 4294967295 // unsigned range=[1,4294967295]\n"
                                                     "AE_MAX_GAIN 256 // double range=[1,1.79769e+308]\n"
                                                     "AE_MIN_EXPOSURE 1 // unsigned range=[1,4294967295]\n"
                                                     "AE_MIN_GAIN 1 // double range=[1,1.79769e+308]\n"
                                                     "AE_TARGET_BRIGHTNESS 0 // double range=[-1,1]\n"
                                                     "AE_TARGET_GAIN 256 // double range=[1,1.79769e+308]\n"
                                                     "AE_UPDATE_SPEED 1 // double range=[0,1]\n");
}

} // namespace
