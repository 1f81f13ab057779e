// The focus control: the search on an ideal lens over synthesised focus statistics (the 27-shot sequence), the
// closer/further steps, the scan windows that cannot step, the statistics it configures, and its text.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "control_rig.h"
#include "ispc/ControlAF.h"
#include "ispc/ModuleFOS.h"
#include "ispc/ParameterFileParser.h"
#include "support/output_capture.h"
#include "support/stats_synth.h"

using ISPC::ControlAF;
using norva_test::StatsSynth;
using norva_test::SynthScene;
using norva_test::SynthState;

namespace {

class AfProbe : public ControlAF {
public:
    using ControlAF::ControlAF;
    using ControlAF::flagInitialized;
    using ControlAF::maxFocusDistance;
    using ControlAF::minFocusDistance;
    using ControlAF::programCorrection;
    using ControlAF::targetFocusDistance;

    /** Initialised on a focus range without a sensor, as the first update would leave it. */
    void range(unsigned lo, unsigned hi, unsigned target) {
        minFocusDistance = lo, maxFocusDistance = hi, targetFocusDistance = target;
        flagInitialized = true;
    }
};

/** A lens that reports the position it was asked for, or what `report` makes of it. */
struct SearchRun {
    AfProbe af;
    SynthScene scene = SynthScene::Flat(140, 70, 0.001);
    SynthState state;
    StatsSynth synth;
    std::function<unsigned(unsigned)> report = [](unsigned p) { return p; };
    std::vector<unsigned> targets;
    std::vector<bool> converged;

    SearchRun(unsigned lo, unsigned hi, double peak) {
        scene.inFocus = peak;
        scene.focusWidth = 200;
        state.fosTileW = 20, state.fosTileH = 10;
        af.range(lo, hi, lo);
    }
    /** Shots until the search is back in AF_IDLE (at most limit). */
    void trigger(int limit = 200) {
        af.setCommand(ControlAF::AF_TRIGGER);
        ControlAF::Command command = ControlAF::AF_TRIGGER;
        for (int shot = 0; shot < limit; shot++) {
            state.focus = report(af.getTargetFocusDistance());
            ISPC::Metadata md{};
            synth.frame(scene, state, md);
            const double sharpness = ControlAF::sharpnessGridMetering(md, af.getCenterWeight());
            norva_test::stderrOf([&] { af.runAF(state.focus, sharpness, command); }); // no sensor: only the target
            command = ControlAF::AF_NONE;
            targets.push_back(af.getTargetFocusDistance());
            converged.push_back(af.hasConverged());
            if (af.getState() == ControlAF::AF_IDLE && shot > 0) {
                return;
            }
        }
    }
};

TEST(ControlAFSearch, TwentySevenShotsParkOnTheSharpestFinePosition) {
    SearchRun run(0, 1000, 430);
    run.trigger();
    std::vector<unsigned> expected = {0, 0, 0}; // trigger, start, the lens travels to the start
    for (unsigned p = 100; p <= 1000; p += 100) {
        expected.push_back(p); // rough, from the reported 0 .. 900
    }
    for (unsigned p = 200; p <= 600; p += 40) {
        expected.push_back(p); // at the reported 1000 the fine window around 400, then 240 .. 600
    }
    // at the reported 600 the sharpest fine position, then positioning, focused, and idle
    expected.insert(expected.end(), {440, 440, 440, 440});
    ASSERT_EQ(run.targets, expected);
    ASSERT_EQ(run.targets.size(), 28u); // 27 shots from the trigger, the 28th back in AF_IDLE
    EXPECT_EQ(run.af.getBestFocusDistance(), 440u);
    for (size_t i = 0; i < run.converged.size(); i++) {
        // scanning from the second shot (the state follows one shot late) to positioning
        EXPECT_EQ(run.converged[i], i == 0 || i >= 26) << "shot " << i;
    }
}

TEST(ControlAFSearch, WindowsThatCannotStepEndTheirPhase) {
    const struct {
        const char *name;
        unsigned lo, hi;
        double peak;
        std::function<unsigned(unsigned)> report;
        unsigned parked;
    } rows[] = {
        {"one position", 300, 300, 300, nullptr, 300},
        {"range under 10 units", 100, 105, 103, nullptr, 100},
        {"fine window under 10 units", 0, 50, 5, nullptr, 3}, // the window 3..7 ends at its first position
        {"sharpest at the low end", 0, 1000, 0, nullptr, 0},
        {"lens overshooting to multiples of 30", 0, 1000, 430, [](unsigned p) { return (p + 29) / 30 * 30; }, 420},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.name);
        SearchRun run(r.lo, r.hi, r.peak);
        if (r.report) {
            run.report = r.report;
        }
        run.trigger(100);
        EXPECT_EQ(run.af.getState(), ControlAF::AF_IDLE);
        EXPECT_TRUE(run.af.hasConverged());
        EXPECT_LT(run.targets.size(), 40u);
        EXPECT_EQ(run.report(run.targets.back()), r.parked);
    }
}

TEST(ControlAFSearch, CloserAndFurtherStepByATenth) {
    const struct {
        ControlAF::Command command;
        unsigned from, lo, hi, to;
    } rows[] = {{ControlAF::AF_FOCUS_CLOSER, 100, 0, 1000, 90},  {ControlAF::AF_FOCUS_FURTHER, 100, 0, 1000, 110},
                {ControlAF::AF_FOCUS_CLOSER, 100, 95, 1000, 95}, {ControlAF::AF_FOCUS_FURTHER, 990, 0, 1000, 1000},
                {ControlAF::AF_STOP, 100, 0, 1000, 100},         {ControlAF::AF_NONE, 100, 0, 1000, 100}};
    for (const auto &r : rows) {
        AfProbe af;
        af.range(r.lo, r.hi, r.from);
        norva_test::stderrOf([&] { af.runAF(r.from, 0.0, r.command); });
        EXPECT_EQ(af.getTargetFocusDistance(), r.to) << ControlAF::CommandName(r.command);
        EXPECT_EQ(af.getState(), ControlAF::AF_IDLE);
    }
}

TEST(ControlAFSearch, NamesAndMetering) {
    EXPECT_STREQ(ControlAF::StateName(ControlAF::AF_OUT), "AF_OUT");
    EXPECT_STREQ(ControlAF::StateName(static_cast<ControlAF::State>(9)), "unknown");
    EXPECT_STREQ(ControlAF::ScanStateName(ControlAF::AF_SCAN_POSITIONING), "AF_SCAN_POSITIONING");
    EXPECT_STREQ(ControlAF::ScanStateName(static_cast<ControlAF::ScanState>(7)), "unknown");
    EXPECT_STREQ(ControlAF::CommandName(ControlAF::AF_FOCUS_FURTHER), "AF_FOCUS_FURTHER");
    EXPECT_STREQ(ControlAF::CommandName(static_cast<ControlAF::Command>(5)), "unknown");
    ISPC::Metadata md{};
    md.focusStats.gridSharpness[3][3] = 1000;
    md.focusStats.gridSharpness[0][0] = 1000;
    EXPECT_NEAR(ControlAF::sharpnessGridMetering(md, 1.0), 276.3, 1e-9);
    EXPECT_NEAR(ControlAF::sharpnessGridMetering(md, 0.0), 28.3 + 12.9, 1e-9);
}

/* ---- on the sensor ---- */

class ControlAFOnSensor : public norva_test::ControlRig {};

TEST_F(ControlAFOnSensor, ConfiguresTheCentreRoiAndGrid) {
    make(norva_test::kS5k3p9Mode1080);
    ControlAF af;
    af.addPipeline(&pipeline());
    af.setPipelineOwner(&pipeline());
    ASSERT_EQ(af.configureStatistics(), QOR_RES_OK);
    const auto &fos = *dynamic_cast<ISPC::ModuleFOS *>(pipeline().getModule(ISPC::STP_FOS));
    EXPECT_TRUE(fos.bEnableROI && fos.bEnableGrid);
    EXPECT_EQ(fos.aRoiStartCoord[0], 640u);
    EXPECT_EQ(fos.aRoiStartCoord[1], 360u);
    EXPECT_EQ(fos.aRoiEndCoord[0], 1280u);
    EXPECT_EQ(fos.aRoiEndCoord[1], 720u);
    EXPECT_EQ(fos.aGridTileSize[0], 274u);
    EXPECT_EQ(fos.aGridTileSize[1], 154u);
    EXPECT_EQ(fos.aGridStartCoord[0], 1u);
    EXPECT_EQ(fos.aGridStartCoord[1], 1u);
    EXPECT_EQ(af.getNormalizeFactor(), 1.0 / (274 * 154 * 255));
    EXPECT_TRUE(fos.isUpdateRequested());
    const std::string log = norva_test::stderrOf([&] {
        ControlAF lonely;
        EXPECT_EQ(lonely.configureStatistics(), QOR_RES_NOT_INITIALISED);
    });
    EXPECT_NE(log.find("ControlAF has no pipeline owner! Cannot configure statistics."), std::string::npos) << log;
}

// The frame's focus window decides what is measured: the centre-weighted grid over the whole picture, the window's
// own sharpness per pixel (on the grid's scale) when it is narrower.
TEST_F(ControlAFOnSensor, AWindowNarrowerThanThePictureIsMeasuredOnItsOwn) {
    make(norva_test::kS5k3p9Mode720);
    ASSERT_EQ(sensor().enable(), QOR_RES_OK);
    const unsigned W = sensor().uiWidth, H = sensor().uiHeight;
    const struct {
        const char *what;
        bool region;
        unsigned width, height;
        bool onItsOwn;
    } rows[] = {
        {"no window", false, 100, 50, false},
        {"the whole picture", true, W, H, false},
        {"a narrower window", true, 100, 50, true},
        {"an empty window", true, 0, 50, false},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.what);
        ControlAF af;
        af.addPipeline(&pipeline());
        af.setPipelineOwner(&pipeline());
        ISPC::Metadata md{};
        (void)norva_test::stderrOf([&] { af.update(md); }); // the first update initialises
        md.focusStats.gridSharpness[3][3] = 5000;
        md.focusStats.ROISharpness = 300000;
        md.focusConfig.bRegionEnable = r.region;
        md.focusConfig.ui16ROIWidth = static_cast<QOR_UINT16>(r.width);
        md.focusConfig.ui16ROIHeight = static_cast<QOR_UINT16>(r.height);
        ASSERT_EQ(af.update(md), QOR_RES_OK);
        const double grid = af.getNormalizeFactor() * ControlAF::sharpnessGridMetering(md, af.getCenterWeight());
        EXPECT_DOUBLE_EQ(af.getSharpness(), r.onItsOwn ? 300000.0 / (100.0 * 50.0 * 255.0) : grid);
    }
}

TEST_F(ControlAFOnSensor, FirstUpdateInitialisesThenTheLensGoesToTheMinimum) {
    make(norva_test::kS5k3p9Mode720);
    ASSERT_EQ(sensor().enable(), QOR_RES_OK);
    AfProbe af;
    af.addPipeline(&pipeline());
    af.setPipelineOwner(&pipeline());
    ISPC::Metadata md{};
    md.focusStats.gridSharpness[3][3] = 5000;
    const std::string log = norva_test::stderrOf([&] { EXPECT_EQ(af.update(md), QOR_RES_OK); });
    EXPECT_NE(log.find("ControlAF is not initialised. Initialising it now"), std::string::npos) << log;
    EXPECT_EQ(af.getSharpness(), 0.0);
    EXPECT_EQ(af.getTargetFocusDistance(), sensor().getMinFocus());
    EXPECT_EQ(af.update(md), QOR_RES_OK);
    EXPECT_GT(af.getSharpness(), 0.0);
    EXPECT_EQ(sensor().getFocusDistance(), sensor().getMinFocus());
    EXPECT_EQ(af.programCorrection(), QOR_RES_NOT_SUPPORTED);
}

TEST_F(ControlAFOnSensor, DegenerateSensorsGiveFiniteSharpness) {
    const struct { unsigned width, height; } rows[] = {{5, 5}, {6, 1080}, {1920, 3}, {0, 0}, {7, 7}};
    make(norva_test::kS5k3p9Mode720);
    for (const auto &r : rows) {
        SCOPED_TRACE(testing::Message() << r.width << "x" << r.height);
        sensor().uiWidth = r.width;
        sensor().uiHeight = r.height;
        ControlAF af;
        af.addPipeline(&pipeline());
        af.setPipelineOwner(&pipeline());
        ASSERT_EQ(af.configureStatistics(), QOR_RES_OK);
        EXPECT_TRUE(std::isfinite(af.getNormalizeFactor()));
        ISPC::Metadata md{};
        md.focusStats.gridSharpness[3][3] = 0xFFFFFFFFu;
        norva_test::stderrOf([&] {
            af.update(md);
            af.update(md);
        });
        EXPECT_TRUE(std::isfinite(af.getSharpness()));
    }
}

TEST(ControlAFText, PrintStateAndSave) {
    AfProbe af("AF_UNDER_TEST");
    af.range(80, 600, 80);
    std::ostringstream os;
    af.printState(os);
    EXPECT_EQ(os.str(), "  AF_UNDER_TEST:\n"
                        "    config:\n"
                        "    enabled = 1\n"
                        "      targetFocusDistance = 80\n"
                        "      centerWeigth = 1\n"
                        "    state:\n"
                        "      hasConverged = 1\n"
                        "      bestSharpness = 0\n"
                        "      bestFocusDistance = 0\n"
                        "      currentState = AF_IDLE\n"
                        "      nextState = AF_IDLE\n"
                        "      scanState = AF_SCAN_STOP\n"
                        "      lastCommand = AF_NONE\n"
                        "      scanInit = 0\n"
                        "      scanEnd = 0\n");
    std::istringstream text("AF_CENTER_WEIGTH 0.25\n");
    ISPC::ParameterList setup;
    ASSERT_EQ(ISPC::ParameterFileParser::parse(text, setup), QOR_RES_OK);
    ASSERT_EQ(af.load(setup), QOR_RES_OK);
    EXPECT_EQ(af.getCenterWeight(), 0.25);
    const struct {
        ISPC::ModuleBase::SaveType t;
        const char *value, *info;
    } rows[] = {{ISPC::ModuleBase::SAVE_VAL, "0.25", ""},
                {ISPC::ModuleBase::SAVE_MIN, "0", ""},
                {ISPC::ModuleBase::SAVE_MAX, "1", ""},
                {ISPC::ModuleBase::SAVE_DEF, "1", "double range=[0,1]"}};
    for (const auto &r : rows) {
        ISPC::ParameterList list;
        ASSERT_EQ(af.save(list, r.t), QOR_RES_OK);
        const ISPC::Parameter *p = list.getParameter("AF_CENTER_WEIGTH");
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(p->getString(0), r.value);
        EXPECT_EQ(p->getInfo(), r.info);
    }
    EXPECT_EQ(ControlAF::getGroup().header, "// Auto Focus parameters");
}

} // namespace
