// The tone-mapping control: the curve it writes for histograms and settings whose result is known by hand,
// the folded smoothing kernel, the setters' bounds, statistics configuration, several pipelines, the saved
// and printed forms, and degenerate inputs.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "ispc/ControlTNM.h"
#include "ispc/ModuleHIS.h"
#include "ispc/ModuleTNM.h"
#include "support/output_capture.h"
#include "support/sim_fixture.h"
#include "tone_rig.h"

using namespace ISPC;
using norva_test::contains;
using norva_test::metadataWith;
using norva_test::ModuleRig;
using norva_test::stderrOf;

namespace {

using Bins = std::array<unsigned, 64>;

Bins zeroBins() { return Bins{}; }
Bins uniformBins() {
    Bins b;
    b.fill(500);
    return b;
}
/** Equal counts in bins 10 and 20 only: equalised with tempering 0 and no clipping, the curve steps 0, 0.5, 1. */
Bins twoBins() {
    Bins b{};
    b[10] = 100;
    b[20] = 100;
    return b;
}
/** A spread, uneven histogram. */
Bins rampBins() {
    Bins b;
    for (unsigned i = 0; i < 64; i++)
        b[i] = 1 + (i * 37) % 101 + (i > 40 ? 900 : 0);
    return b;
}

double identity(unsigned i) { return (i + 1) / 64.0; }
double reference65(unsigned i) { return (i + 1) / 65.0; }
/** The written point i of the equalised two-bin histogram: A[i + 1]. */
double twoBinStep(unsigned i) { return i < 10 ? 0.0 : (i < 20 ? 0.5 : 1.0); }

struct CurveCase {
    const char *name;
    std::function<Bins()> warmup; /**< a frame before the one checked, or null */
    std::function<Bins()> bins;
    double histMin, histMax, smoothing, tempering, updateSpeed;
    bool adaptive, local;
    double localStrength;
    double gain, maxGain;
    std::function<double(unsigned)> expected;
    double expectedWeight;
};

void PrintTo(const CurveCase &c, std::ostream *os) { *os << c.name; }

const CurveCase kCurveCases[] = {
    // An all-zero histogram resets the kept curve at once, whatever the speed.
    {"AllZeroResetsAtOnce", twoBins, zeroBins, 0, 1, 0, 0, 0.3, false, false, 0, 1, 16, identity, 0},
    {"UniformIsIdentity", nullptr, uniformBins, 0.035, 0.25, 0.4, 0.2, 1, false, false, 0, 1, 16, identity, 0},
    {"UniformIsIdentityUnclipped", nullptr, uniformBins, 0, 1, 1, 0, 1, false, false, 0, 1, 16, identity, 0},
    // The capture context's settings, and equal clip levels alone.
    {"CaptureContextSettings", nullptr, rampBins, 1, 1, 0, 1, 1, false, false, 0, 1, 16, identity, 0},
    {"EqualClipLevelsGiveIdentity", nullptr, rampBins, 0.5, 0.5, 0.4, 0, 1, false, false, 0, 1, 16, identity, 0},
    {"MinAboveMaxGivesIdentity", nullptr, rampBins, 0.6, 0.3, 0.4, 0, 1, false, false, 0, 1, 16, identity, 0},
    {"TemperingZeroEqualises", nullptr, twoBins, 0, 1, 0, 0, 1, false, false, 0, 1, 16, twoBinStep, 0},
    // A peaky histogram at the default tempering gets the exponent 0.
    {"PeakyAtDefaultTempering", nullptr, twoBins, 0, 1, 0, 0.2, 1, false, false, 0, 1, 16, identity, 0},
    {"TemperingAbove064", nullptr, rampBins, 0, 1, 0.4, 0.65, 1, false, false, 0, 1, 16, identity, 0},
    {"SpeedZeroKeepsIdentity", nullptr, twoBins, 0, 1, 0, 0, 0, false, false, 0, 1, 16, identity, 0},
    {"SpeedHalfBlends", nullptr, twoBins, 0, 1, 0, 0, 0.5, false, false, 0, 1, 16,
     [](unsigned i) { return 0.5 * identity(i) + 0.5 * twoBinStep(i); }, 0},
    {"SpeedOneReplaces", rampBins, twoBins, 0, 1, 0, 0, 1, false, false, 0, 1, 16, twoBinStep, 0},
    {"AdaptiveAtUnityGain", nullptr, twoBins, 0, 1, 0, 0, 1, true, true, 0.7, 1, 16, twoBinStep, 0},
    {"AdaptiveBelowUnityGain", nullptr, twoBins, 0, 1, 0, 0, 1, true, true, 0.7, 0.5, 16, twoBinStep, 0},
    {"AdaptiveAtMaximumGain", nullptr, twoBins, 0, 1, 0, 0, 1, true, true, 0.7, 16, 16, reference65, 0.7},
    {"AdaptiveHalfway", nullptr, twoBins, 0, 1, 0, 0, 1, true, true, 0.7, 8.5, 16,
     [](unsigned i) { return reference65(i) + 0.5 * (twoBinStep(i) - reference65(i)); }, 0.35},
    // Without a gain range the strength stays 1; only the reference line's divisor shows.
    {"MaximumGainOne", nullptr, twoBins, 0, 1, 0, 0, 1, true, true, 0.7, 4, 1, twoBinStep, 0},
    {"AdaptiveOffLocalOn", nullptr, twoBins, 0, 1, 0, 0, 1, false, true, 0.7, 16, 16, twoBinStep, 0},
    {"AdaptiveLocalOff", nullptr, twoBins, 0, 1, 0, 0, 1, true, false, 0.7, 16, 16, reference65, 0},
};

class TnmCurve : public norva_test::SimTest, public testing::WithParamInterface<CurveCase> {};

TEST_P(TnmCurve, WrittenCurveAndLocalWeight) {
    const CurveCase &c = GetParam();
    ModuleRig rig{new ModuleTNM(), new ModuleHIS()};
    rig.sensor.setGainRange(1.0, c.maxGain);
    rig.sensor.setExposureGainState(10000, c.gain);
    ControlTNM tnm;
    ASSERT_EQ(tnm.addPipeline(rig.pipeline.get()), QOR_RES_OK);
    ASSERT_EQ(tnm.setPipelineOwner(rig.pipeline.get()), QOR_RES_OK);
    ASSERT_EQ(tnm.setHistMin(c.histMin), QOR_RES_OK);
    ASSERT_EQ(tnm.setHistMax(c.histMax), QOR_RES_OK);
    ASSERT_EQ(tnm.setSmoothing(c.smoothing), QOR_RES_OK);
    ASSERT_EQ(tnm.setTempering(c.tempering), QOR_RES_OK);
    ASSERT_EQ(tnm.setLocalStrength(c.localStrength), QOR_RES_OK);
    tnm.enableAdaptiveTNM(c.adaptive);
    tnm.enableLocalTNM(c.local);

    ModuleTNM &module = rig.module<ModuleTNM>();
    std::string log;
    if (c.warmup) {
        ASSERT_EQ(tnm.setUpdateSpeed(1.0), QOR_RES_OK);
        const Bins w = c.warmup();
        ASSERT_EQ(tnm.update(*metadataWith(w.data())), QOR_RES_OK);
    }
    ASSERT_EQ(tnm.setUpdateSpeed(c.updateSpeed), QOR_RES_OK);
    module.clearFlags();
    const Bins b = c.bins();
    QOR_RESULT ret = QOR_RES_FAILED;
    log = stderrOf([&] { ret = tnm.update(*metadataWith(b.data())); });
    EXPECT_EQ(ret, QOR_RES_OK);
    EXPECT_TRUE(module.isUpdateRequested());
    for (unsigned i = 0; i < ModuleTNM::N_CURVE; i++) {
        EXPECT_NEAR(module.aCurve[i], c.expected(i), 1e-12) << "point " << i;
    }
    EXPECT_NEAR(module.fWeightLocal, c.expectedWeight, 1e-12);
    EXPECT_EQ(contains(log, "The global histograms are 0, the curve cannot be computed it is forced to identity!"),
              b == zeroBins());
}

INSTANTIATE_TEST_SUITE_P(Cases, TnmCurve, testing::ValuesIn(kCurveCases),
                         [](const testing::TestParamInfo<CurveCase> &info) { return info.param.name; });

TEST(TnmStatics, CumulativeCurveEndsAtExactlyOne) {
    // Ten bins of 0.1 add up to slightly less or more than 1 in binary; the last point is forced.
    Matrix hist(1, 64);
    hist.zeros();
    for (int i = 0; i < 10; i++)
        hist[0][i * 6] = 0.1;
    const Matrix a = ControlTNM::accumulateHistogram(hist);
    ASSERT_EQ(a.numCols(), 65);
    EXPECT_EQ(a[0][0], 0.0);
    EXPECT_EQ(a[0][64], 1.0);
    EXPECT_NEAR(a[0][55], 1.0, 1e-15);
    EXPECT_DOUBLE_EQ(a[0][7], 0.2);
}

TEST(TnmStatics, SmoothingKernelFoldsItsEndTaps) {
    // Column j of the kernel is the smoothing of a unit impulse in bin j.
    double w[64][64];
    for (int j = 0; j < 64; j++) {
        Matrix h(1, 64);
        h.zeros();
        h[0][j] = 1.0;
        ASSERT_EQ(ControlTNM::smoothHistogram(h), QOR_RES_OK);
        for (int i = 0; i < 64; i++)
            w[i][j] = h[0][i];
    }
    struct Row {
        int bin;
        std::vector<std::pair<int, double>> weights;
    };
    const Row rows[] = {
        {0, {{0, 0.65}, {1, 0.2}, {2, 0.1}, {3, 0.05}}},
        {1, {{0, 0.35}, {1, 0.3}, {2, 0.2}, {3, 0.1}, {4, 0.05}}},
        {2, {{0, 0.15}, {1, 0.2}, {2, 0.3}, {3, 0.2}, {4, 0.1}, {5, 0.05}}},
        {30, {{27, 0.05}, {28, 0.1}, {29, 0.2}, {30, 0.3}, {31, 0.2}, {32, 0.1}, {33, 0.05}}},
        {61, {{58, 0.05}, {59, 0.1}, {60, 0.2}, {61, 0.3}, {62, 0.2}, {63, 0.15}}},
        {62, {{59, 0.05}, {60, 0.1}, {61, 0.2}, {62, 0.3}, {63, 0.35}}},
        {63, {{60, 0.05}, {61, 0.1}, {62, 0.2}, {63, 0.65}}},
    };
    for (const Row &r : rows) {
        double want[64] = {};
        for (const auto &p : r.weights)
            want[p.first] = p.second;
        double rowSum = 0.0;
        for (int j = 0; j < 64; j++) {
            EXPECT_NEAR(w[r.bin][j], want[j], 1e-15) << "bin " << r.bin << " tap " << j;
            rowSum += w[r.bin][j];
        }
        EXPECT_NEAR(rowSum, 1.0, 1e-15) << "bin " << r.bin;
    }
    // The partial smoothing mixes by the amount; an amount outside [0, 1] is taken as 0.
    Matrix h(1, 64);
    h.zeros();
    h[0][0] = 1.0;
    ASSERT_EQ(ControlTNM::smoothHistogram(h, 0.5), QOR_RES_OK);
    EXPECT_NEAR(h[0][0], 0.5 + 0.5 * 0.65, 1e-15);
    EXPECT_NEAR(h[0][1], 0.5 * 0.35, 1e-15);
    QOR_RESULT ret = QOR_RES_FAILED;
    const std::string log = stderrOf([&] { ret = ControlTNM::smoothHistogram(h, 1.5); });
    EXPECT_EQ(ret, QOR_RES_OK);
    EXPECT_TRUE(contains(log, "Smoothing amount must be between 0.0 and 1.0. Setting to 0.0."));
    EXPECT_NEAR(h[0][0], 0.5 + 0.5 * 0.65, 1e-15);
}

TEST(TnmStatics, WrongSizesAreRefused) {
    Matrix wrong(1, 63);
    wrong.zeros();
    std::string log = stderrOf([&] {
        EXPECT_EQ(ControlTNM::resetHistogram(wrong), QOR_RES_INVALID_PARAM);
        EXPECT_EQ(ControlTNM::smoothHistogram(wrong), QOR_RES_INVALID_PARAM);
        EXPECT_EQ(ControlTNM::smoothHistogram(wrong, 0.5), QOR_RES_INVALID_PARAM);
    });
    EXPECT_TRUE(contains(log, "ISPC_CTRL_TNM"));
    EXPECT_TRUE(contains(log, "Expecting matrix with 1x64 elements"));
    EXPECT_EQ(wrong[0][0], 0.0);
    log = stderrOf([&] { EXPECT_EQ(ControlTNM::resetCurve(wrong), QOR_RES_INVALID_PARAM); });
    EXPECT_TRUE(contains(log, "Expecting matrix with 1x65 elements"));
    Matrix a(1, 1);
    stderrOf([&] { a = ControlTNM::accumulateHistogram(wrong); });
    ASSERT_EQ(a.numCols(), 65);
    EXPECT_EQ(a.max(), 0.0);
    EXPECT_EQ(a.min(), 0.0);
}

class TnmControl : public norva_test::SimTest {};

TEST_F(TnmControl, ConstructionDefaults) {
    ControlTNM tnm;
    EXPECT_STREQ(tnm.getLoggingName(), "ISPC_CTRL_TNM");
    EXPECT_EQ(tnm.getModuleID(), CTRL_TNM);
    EXPECT_TRUE(tnm.isEnabled());
    EXPECT_EQ(tnm.getUpdateType(), UPDATE_SHOT);
    EXPECT_TRUE(tnm.hasConverged());
    // The float definitions reach the doubles in single precision.
    EXPECT_EQ(tnm.getTempering(), static_cast<double>(0.2f));
    EXPECT_EQ(tnm.getHistMin(), static_cast<double>(0.035f));
    EXPECT_EQ(tnm.getHistMax(), static_cast<double>(0.25f));
    EXPECT_EQ(tnm.getSmoothing(), static_cast<double>(0.4f));
    EXPECT_EQ(tnm.getUpdateSpeed(), 0.5);
    EXPECT_EQ(tnm.getLocalStrength(), 0.0);
    EXPECT_FALSE(tnm.getLocalTNM());
    EXPECT_FALSE(tnm.getAdaptiveTNM());
    EXPECT_FALSE(tnm.getAllowHISConfig());
    EXPECT_EQ(tnm.getAdaptiveStrength(), 1.0);
    for (int k = 0; k < 65; k++)
        EXPECT_EQ(tnm.getMappingCurve()[0][k], k / 64.0);
    for (int i = 0; i < 64; i++)
        EXPECT_EQ(tnm.getHistogram()[0][i], 1.0 / 64);
}

TEST_F(TnmControl, SettersAcceptTheirBoundsAndRefuseBeyond) {
    typedef QOR_RESULT (ControlTNM::*Setter)(double);
    typedef double (ControlTNM::*Getter)() const;
    const struct {
        const char *name;
        Setter set;
        Getter get;
    } setters[] = {
        {"histMin", &ControlTNM::setHistMin, &ControlTNM::getHistMin},
        {"histMax", &ControlTNM::setHistMax, &ControlTNM::getHistMax},
        {"tempering", &ControlTNM::setTempering, &ControlTNM::getTempering},
        {"smoothing", &ControlTNM::setSmoothing, &ControlTNM::getSmoothing},
        {"updateSpeed", &ControlTNM::setUpdateSpeed, &ControlTNM::getUpdateSpeed},
        {"localStrength", &ControlTNM::setLocalStrength, &ControlTNM::getLocalStrength},
    };
    for (const auto &s : setters) {
        ControlTNM tnm("TNM_UNDER_TEST");
        EXPECT_EQ((tnm.*s.set)(0.0), QOR_RES_OK) << s.name;
        EXPECT_EQ((tnm.*s.get)(), 0.0) << s.name;
        EXPECT_EQ((tnm.*s.set)(1.0), QOR_RES_OK) << s.name;
        EXPECT_EQ((tnm.*s.get)(), 1.0) << s.name;
        for (double bad : {1.0000001, -1e-9, std::nan("")}) {
            QOR_RESULT ret = QOR_RES_OK;
            const std::string log = stderrOf([&] { ret = (tnm.*s.set)(bad); });
            EXPECT_EQ(ret, QOR_RES_INVALID_PARAM) << s.name << " " << bad;
            EXPECT_EQ((tnm.*s.get)(), 1.0) << s.name << " " << bad;
            EXPECT_TRUE(contains(log, "TNM_UNDER_TEST")) << log;
            EXPECT_TRUE(contains(log, "must be between 0.000000 and 1.000000")) << log;
        }
    }
    ControlTNM tnm;
    const std::string log = stderrOf([&] { tnm.setTempering(1.0000001); });
    EXPECT_TRUE(contains(log, "Programmed value (1.000000) must be between 0.000000 and 1.000000")) << log;
}

TEST_F(TnmControl, StatisticsConfiguration) {
    {
        ControlTNM tnm;
        QOR_RESULT ret = QOR_RES_OK;
        const std::string log = stderrOf([&] { ret = tnm.configureStatistics(); });
        EXPECT_EQ(ret, QOR_RES_NOT_INITIALISED);
        EXPECT_TRUE(contains(log, "ControlTNM has no pipeline owner! Cannot configure statistics."));
    }
    {
        ModuleRig rig{new ModuleTNM()};
        ControlTNM tnm;
        tnm.addPipeline(rig.pipeline.get());
        tnm.setPipelineOwner(rig.pipeline.get());
        QOR_RESULT ret = QOR_RES_OK;
        const std::string log = stderrOf([&] { ret = tnm.configureStatistics(); });
        EXPECT_EQ(ret, QOR_RES_UNAVAILABLE);
        EXPECT_TRUE(contains(log, "ControlTNM cannot find HIS"));
    }
    // Not allowed: a warning and nothing changed; allowed: the global histogram with the default input mapping.
    ModuleRig rig{new ModuleTNM(), new ModuleHIS()};
    ModuleRig other{new ModuleTNM(), new ModuleHIS()};
    ModuleHIS &his = rig.module<ModuleHIS>();
    his.ui32InputOffset = 7;
    his.ui32InputScale = 9;
    ControlTNM tnm;
    tnm.addPipeline(rig.pipeline.get());
    tnm.addPipeline(other.pipeline.get());
    tnm.setPipelineOwner(rig.pipeline.get());
    QOR_RESULT ret = QOR_RES_FAILED;
    std::string log = stderrOf([&] { ret = tnm.configureStatistics(); });
    EXPECT_EQ(ret, QOR_RES_OK);
    EXPECT_TRUE(contains(log, "Global Histograms in HIS are not enabled! The computed TNM curve will be flat."));
    EXPECT_FALSE(his.bEnableGlobal);
    EXPECT_FALSE(his.isUpdateRequested());
    tnm.setAllowHISConfig(true);
    log = stderrOf([&] { ret = tnm.configureStatistics(); });
    EXPECT_EQ(ret, QOR_RES_OK);
    EXPECT_EQ(log, "");
    EXPECT_TRUE(his.bEnableGlobal);
    EXPECT_EQ(his.ui32InputOffset, 256u);
    EXPECT_EQ(his.ui32InputScale, 32767u);
    EXPECT_TRUE(his.isUpdateRequested());
    EXPECT_FALSE(other.module<ModuleHIS>().bEnableGlobal);
    // Already on: nothing changes.
    his.clearFlags();
    his.ui32InputOffset = 7;
    EXPECT_EQ(tnm.configureStatistics(), QOR_RES_OK);
    EXPECT_EQ(his.ui32InputOffset, 7u);
    EXPECT_FALSE(his.isUpdateRequested());
}

TEST_F(TnmControl, EveryPipelineGetsTheSameCurveAndOneWithoutToneMapperIsSkipped) {
    ModuleRig main{new ModuleTNM(), new ModuleHIS()};
    ModuleRig bare{new ModuleHIS()};
    ModuleRig second{new ModuleTNM()};
    ControlTNM tnm;
    for (ModuleRig *r : {&main, &bare, &second})
        tnm.addPipeline(r->pipeline.get());
    tnm.setPipelineOwner(main.pipeline.get());
    tnm.setTempering(0.0);
    tnm.setUpdateSpeed(0.7);
    const Bins b = rampBins();
    ASSERT_EQ(tnm.update(*metadataWith(b.data())), QOR_RES_OK);
    ModuleTNM &m1 = main.module<ModuleTNM>();
    ModuleTNM &m2 = second.module<ModuleTNM>();
    EXPECT_TRUE(m2.isUpdateRequested());
    for (unsigned i = 0; i < ModuleTNM::N_CURVE; i++) {
        EXPECT_EQ(m1.aCurve[i], m2.aCurve[i]);
        EXPECT_EQ(m1.aCurve[i], tnm.getMappingCurve()[0][i + 1]);
    }
    EXPECT_GT(std::fabs(m1.aCurve[31] - identity(31)), 1e-3);
}

TEST_F(TnmControl, AdaptiveModeWithoutSensorSkipsTheFrame) {
    ModuleRig rig{new ModuleTNM()};
    ControlTNM tnm;
    tnm.addPipeline(rig.pipeline.get());
    tnm.setPipelineOwner(rig.pipeline.get());
    tnm.enableAdaptiveTNM(true);
    tnm.enableLocalTNM(true);
    tnm.setLocalStrength(1.0);
    rig.sensor.setExposureGainState(10000, 16.0);
    rig.pipeline->setSensor(nullptr);
    rig.module<ModuleTNM>().clearFlags();
    QOR_RESULT ret = QOR_RES_OK;
    const Bins b = twoBins();
    const std::string log = stderrOf([&] { ret = tnm.update(*metadataWith(b.data())); });
    EXPECT_EQ(ret, QOR_RES_NOT_INITIALISED);
    EXPECT_TRUE(contains(log, "ControlTNM has no sensor!"));
    EXPECT_EQ(tnm.getAdaptiveStrength(), 1.0);
    EXPECT_FALSE(rig.module<ModuleTNM>().isUpdateRequested());
    for (int k = 0; k < 65; k++)
        EXPECT_EQ(tnm.getMappingCurve()[0][k], k / 64.0);
    // Without adaptive mode no sensor is needed.
    tnm.enableAdaptiveTNM(false);
    EXPECT_EQ(tnm.update(*metadataWith(b.data())), QOR_RES_OK);
}

TEST_F(TnmControl, LoadClampsAndDefaultsAndLeavesTheCurve) {
    ControlTNM tnm;
    tnm.setUpdateSpeed(1.0);
    tnm.setTempering(0.0);
    tnm.setHistMin(0.0);
    tnm.setHistMax(1.0);
    tnm.setSmoothing(0.0);
    const Bins b = twoBins();
    tnm.update(*metadataWith(b.data()));
    ParameterList list;
    list.addParameter(Parameter("TNMC_TEMPERING", "3"));
    list.addParameter(Parameter("TNMC_HIST_CLIP_MIN", "-1"));
    list.addParameter(Parameter("TNMC_HIST_CLIP_MAX", "half"));
    list.addParameter(Parameter("TNMC_SMOOTHING", "0.125"));
    list.addParameter(Parameter("TNMC_LOCAL", "1"));
    list.addParameter(Parameter("TNMC_LOCALSTRENGTH", "0.75"));
    list.addParameter(Parameter("TNMC_ADAPTIVE", "yes"));
    EXPECT_EQ(tnm.load(list), QOR_RES_OK);
    EXPECT_EQ(tnm.getTempering(), 1.0);
    EXPECT_EQ(tnm.getHistMin(), 0.0);
    EXPECT_EQ(tnm.getHistMax(), static_cast<double>(0.25f));
    EXPECT_EQ(tnm.getSmoothing(), 0.125);
    EXPECT_EQ(tnm.getUpdateSpeed(), 0.5);
    EXPECT_TRUE(tnm.getLocalTNM());
    EXPECT_EQ(tnm.getLocalStrength(), 0.75);
    EXPECT_FALSE(tnm.getAdaptiveTNM()); // not an integer: the default
    for (unsigned i = 0; i < 63; i++)
        EXPECT_EQ(tnm.getMappingCurve()[0][i + 1], twoBinStep(i));
}

TEST_F(TnmControl, GoldenSaveAndPrintState) {
    ControlTNM tnm;
    tnm.setTempering(0.3);
    tnm.enableLocalTNM(true);
    const struct {
        ModuleBase::SaveType type;
        const char *text;
    } saves[] = {
        {ModuleBase::SAVE_VAL, "TNMC_ADAPTIVE 0\nTNMC_HIST_CLIP_MAX 0.25\nTNMC_HIST_CLIP_MIN 0.035\nTNMC_LOCAL 1\n"
                               "TNMC_LOCALSTRENGTH 0\nTNMC_SMOOTHING 0.4\nTNMC_TEMPERING 0.3\nTNMC_UPDATE_SPEED 0.5\n"},
        {ModuleBase::SAVE_MIN, "TNMC_ADAPTIVE 0\nTNMC_HIST_CLIP_MAX 0\nTNMC_HIST_CLIP_MIN 0\nTNMC_LOCAL 0\n"
                               "TNMC_LOCALSTRENGTH 0\nTNMC_SMOOTHING 0\nTNMC_TEMPERING 0\nTNMC_UPDATE_SPEED 0\n"},
        {ModuleBase::SAVE_MAX, "TNMC_ADAPTIVE 1\nTNMC_HIST_CLIP_MAX 1\nTNMC_HIST_CLIP_MIN 1\nTNMC_LOCAL 1\n"
                               "TNMC_LOCALSTRENGTH 1\nTNMC_SMOOTHING 1\nTNMC_TEMPERING 1\nTNMC_UPDATE_SPEED 1\n"},
        {ModuleBase::SAVE_DEF, "TNMC_ADAPTIVE 0 // bool {0,1}\nTNMC_HIST_CLIP_MAX 0.25 // float range=[0,1]\n"
                               "TNMC_HIST_CLIP_MIN 0.035 // float range=[0,1]\nTNMC_LOCAL 0 // bool {0,1}\n"
                               "TNMC_LOCALSTRENGTH 0 // float range=[0,1]\nTNMC_SMOOTHING 0.4 // float range=[0,1]\n"
                               "TNMC_TEMPERING 0.2 // float range=[0,1]\nTNMC_UPDATE_SPEED 0.5 // float range=[0,1]\n"},
    };
    for (const auto &s : saves) {
        ParameterList list;
        list.addParameter(Parameter("TNMC_TEMPERING", "0.9")); // overwritten
        EXPECT_EQ(tnm.save(list, s.type), QOR_RES_OK);
        std::ostringstream os;
        for (const auto &p : list) {
            os << p.second.getTag();
            for (const std::string &v : p.second.getValues())
                os << " " << v;
            if (!p.second.getInfo().empty())
                os << " // " << p.second.getInfo();
            os << "\n";
        }
        EXPECT_EQ(os.str(), s.text) << s.type;
        ASSERT_TRUE(list.hasGroup("ControlTNM"));
        const ParameterGroup g = list.getGroup("ControlTNM");
        EXPECT_EQ(g.header, "// Tone Mapper Control parameters");
        EXPECT_EQ(g.parameters.size(), 8u);
    }
    std::ostringstream os;
    tnm.printState(os);
    EXPECT_EQ(os.str(), "  ISPC_CTRL_TNM:\n    config:\n      enabled = 1\n      adaptiveStrength = 1\n"
                        "      histMin = 0.035\n      histMax = 0.25\n      smoothing = 0.4\n      tempering = 0.3\n"
                        "      updateSpeed = 0.5\n      localTNM = 1\n      adaptiveTNM = 0\n"
                        "      localStrength = 0\n");
}

TEST_F(TnmControl, DegenerateInputsGiveFiniteCurves) {
    const struct {
        const char *name;
        Bins bins;
        double histMin, histMax, gain;
    } cases[] = {
        {"single bin",
         [] {
             Bins b{};
             b[63] = 4000000000u;
             return b;
         }(),
         0.035, 0.25, 1},
        {"single dark bin",
         [] {
             Bins b{};
             b[0] = 1;
             return b;
         }(),
         0, 1, 1},
        {"saturated counts",
         [] {
             Bins b;
             b.fill(0xFFFFFFFFu);
             return b;
         }(),
         0.035, 0.25, 1},
        {"both clip levels 0", rampBins(), 0, 0, 1},
        {"zero gain", rampBins(), 0.035, 0.25, 0},
        {"huge gain", rampBins(), 0.035, 0.25, 1e300},
    };
    for (const auto &c : cases) {
        ModuleRig rig{new ModuleTNM()};
        rig.sensor.setExposureGainState(10000, c.gain);
        ControlTNM tnm;
        tnm.addPipeline(rig.pipeline.get());
        tnm.setPipelineOwner(rig.pipeline.get());
        tnm.enableAdaptiveTNM(true);
        tnm.enableLocalTNM(true);
        tnm.setLocalStrength(1.0);
        tnm.setHistMin(c.histMin);
        tnm.setHistMax(c.histMax);
        for (double tempering : {0.0, 0.2, 1.0}) {
            tnm.setTempering(tempering);
            ASSERT_EQ(tnm.update(*metadataWith(c.bins.data())), QOR_RES_OK) << c.name;
            for (int k = 0; k < 65; k++)
                ASSERT_TRUE(std::isfinite(tnm.getMappingCurve()[0][k])) << c.name << " point " << k;
            for (unsigned i = 0; i < ModuleTNM::N_CURVE; i++)
                ASSERT_TRUE(std::isfinite(rig.module<ModuleTNM>().aCurve[i])) << c.name << " point " << i;
            ASSERT_TRUE(std::isfinite(rig.module<ModuleTNM>().fWeightLocal)) << c.name;
            EXPECT_EQ(tnm.getMappingCurve()[0][64], 1.0) << c.name;
        }
    }
    // Both clip levels 0 leave every bin equal (0): the equalised curve is the identity, as for any equal bins.
    ControlTNM tnm;
    tnm.setHistMin(0.0);
    tnm.setHistMax(0.0);
    tnm.setUpdateSpeed(1.0);
    const Bins b = rampBins();
    tnm.update(*metadataWith(b.data()));
    for (int k = 0; k < 65; k++)
        EXPECT_NEAR(tnm.getMappingCurve()[0][k], k / 64.0, 1e-12);
}

} // namespace
