// The flicker detection module: its thresholds, the frame timing it takes from the sensor when there
// is one, and the block its set-up writes.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "ispc/ModuleFLD.h"
#include "module_test_util.h"

using namespace ISPC;
using namespace norva_test;

namespace {

struct FldValues {
    bool enable;
    double frameRate;
    QOR_INT32 vTotal, sceneChange, minPN, pn, nf, coefDiff, rShift;
    bool reset;
};

const FldValues kDefaults = {false, 30.0, 525, 300000, 4, 16, 15000, 50, 10, false};

void expectValues(const ModuleFLD &m, const FldValues &v, const std::string &what) {
    EXPECT_EQ(m.bEnable, v.enable) << what;
    EXPECT_EQ(m.fFrameRate, v.frameRate) << what;
    EXPECT_EQ(m.iVTotal, v.vTotal) << what;
    EXPECT_EQ(m.iScheneChangeTH, v.sceneChange) << what;
    EXPECT_EQ(m.iMinPN, v.minPN) << what;
    EXPECT_EQ(m.iPN, v.pn) << what;
    EXPECT_EQ(m.iNF_TH, v.nf) << what;
    EXPECT_EQ(m.iCoeffDiffTH, v.coefDiff) << what;
    EXPECT_EQ(m.iRShift, v.rShift) << what;
    EXPECT_EQ(m.bReset, v.reset) << what;
}

/** A sensor mode of the given frame rate and lines per frame. */
std::function<void(TestSensor &)> timing(double frameRate, unsigned vTotal) {
    return [=](TestSensor &s) {
        s.flFrameRate = frameRate;
        s.nVTot = vTotal;
    };
}

} // namespace

TEST(ModuleFLD, LoadWithoutSensorReadsEveryTagWithinItsRange) {
    const struct {
        const char *text;
        FldValues expected;
    } cases[] = {
        {"", kDefaults},
        {"FLD_FRAME_RATE 60\nFLD_VTOT 1125\nFLD_ENABLE 1\n", {true, 60.0, 1125, 300000, 4, 16, 15000, 50, 10, false}},
        {"FLD_FRAME_RATE 0.5\nFLD_PN 100\nFLD_SCENE_CHANGE_TH 2000000\n",
         {false, 1.0, 525, 1048575, 4, 63, 15000, 50, 10, false}},
        {"FLD_FRAME_RATE 300\nFLD_VTOT 20000\nFLD_MIN_PN -3\nFLD_NF_TH 40000\nFLD_COEF_DIFF_TH 32767\n"
         "FLD_RSHIFT 64\nFLD_RESET 1\n",
         {false, 255.0, 16383, 300000, 0, 16, 32767, 32767, 63, true}},
        // Values that do not parse read the default.
        {"FLD_FRAME_RATE fast\nFLD_VTOT 0x20\nFLD_ENABLE yes\nFLD_PN 8.5\n", kDefaults},
    };
    for (const auto &c : cases) {
        ModuleFLD fld;
        EXPECT_EQ(fld.load(listOf(c.text)), QOR_RES_OK);
        expectValues(fld, c.expected, c.text);
        EXPECT_FALSE(fld.isUpdateRequested());
    }
}

TEST(ModuleFLD, TimingComesFromTheSensorAsItIs) {
    const struct {
        double sensorRate;
        unsigned sensorVTotal;
        QOR_UINT16 blockVTotal;
    } cases[] = {
        {25.0, 1125, 1125},
        // Beyond the tags' ranges: taken unclamped, and the 16-bit field saturates.
        {0.25, 70000, 65535},
        {400.0, 16384, 16384},
    };
    for (const auto &c : cases) {
        TestRig rig(1920, 1080, MOSAIC_RGGB, 0x1F, timing(c.sensorRate, c.sensorVTotal));
        ModuleFLD *fld = registered<ModuleFLD>(rig);
        ASSERT_EQ(fld->load(listOf("FLD_FRAME_RATE 60\nFLD_VTOT 700\nFLD_PN 12\n")), QOR_RES_OK);
        EXPECT_EQ(fld->fFrameRate, c.sensorRate);
        EXPECT_EQ(fld->iVTotal, static_cast<QOR_INT32>(c.sensorVTotal));
        EXPECT_EQ(fld->iPN, 12);
        ASSERT_EQ(fld->setup(), QOR_RES_OK);
        EXPECT_EQ(rig.mc().sFLD.fFrameRate, c.sensorRate);
        EXPECT_EQ(rig.mc().sFLD.ui16VTot, c.blockVTotal);

        // Saved as held, sensor timing included.
        ParameterList l;
        fld->save(l, ModuleBase::SAVE_VAL);
        EXPECT_EQ(valuesOf(l, "FLD_FRAME_RATE"), std::vector<std::string>{toString(c.sensorRate)});
        EXPECT_EQ(valuesOf(l, "FLD_VTOT"), std::vector<std::string>{toString(c.sensorVTotal)});
    }
}

TEST(ModuleFLD, SetupWritesEveryField) {
    TestRig rig(1920, 1080, MOSAIC_RGGB, 0x1F, timing(29.97, 16383));
    ModuleFLD *fld = registered<ModuleFLD>(rig);
    ASSERT_EQ(fld->load(listOf("FLD_ENABLE 1\nFLD_SCENE_CHANGE_TH 1048575\n"
                               "FLD_MIN_PN 8\nFLD_PN 63\nFLD_NF_TH 32767\nFLD_COEF_DIFF_TH 123\nFLD_RSHIFT 63\n"
                               "FLD_RESET 1\n")),
              QOR_RES_OK);
    rig.mc().sFLD.updateNeeded = QOR_FALSE;
    ASSERT_EQ(fld->setup(), QOR_RES_OK);
    const MC_FLD &b = rig.mc().sFLD;
    EXPECT_TRUE(b.bEnable);
    EXPECT_EQ(b.fFrameRate, 29.97);
    EXPECT_EQ(b.ui16VTot, 16383);
    EXPECT_EQ(b.ui32SceneChange, 1048575u);
    EXPECT_EQ(b.ui8MinPN, 8);
    EXPECT_EQ(b.ui8PN, 63);
    EXPECT_EQ(b.ui16NFThreshold, 32767);
    EXPECT_EQ(b.ui16CoefDiff, 123);
    EXPECT_EQ(b.ui8RShift, 63);
    EXPECT_TRUE(b.bReset);
    EXPECT_TRUE(b.updateNeeded);
    EXPECT_TRUE(fld->isSetup());
}

TEST(ModuleFLD, RunTimeValuesBeyondTheFieldsSaturate) {
    TestRig rig;
    ModuleFLD *fld = registered<ModuleFLD>(rig);
    fld->iVTotal = -5;
    fld->iMinPN = 300;
    fld->iPN = -1;
    fld->iNF_TH = 65536;
    fld->iCoeffDiffTH = 70000;
    fld->iRShift = 256;
    fld->iScheneChangeTH = -1;
    ASSERT_EQ(fld->setup(), QOR_RES_OK);
    const MC_FLD &b = rig.mc().sFLD;
    EXPECT_EQ(b.ui16VTot, 0);
    EXPECT_EQ(b.ui8MinPN, 255);
    EXPECT_EQ(b.ui8PN, 0);
    EXPECT_EQ(b.ui16NFThreshold, 65535);
    EXPECT_EQ(b.ui16CoefDiff, 65535);
    EXPECT_EQ(b.ui8RShift, 255);
    EXPECT_EQ(b.ui32SceneChange, 0u);
}

TEST(ModuleFLD, ExposureControlEnablesItAndSetsItUpAtOnce) {
    TestRig rig;
    registered<ModuleFLD>(rig);
    // What the auto-exposure control does when it configures its statistics.
    ModuleFLD *fld = static_cast<ModuleFLD *>(rig.pipeline->getModule(STP_FLD));
    ASSERT_NE(fld, nullptr);
    fld->bEnable = true;
    fld->iVTotal = 1250;
    fld->fFrameRate = 50.0;
    ASSERT_EQ(fld->setup(), QOR_RES_OK);
    fld->requestUpdate();
    EXPECT_TRUE(rig.mc().sFLD.bEnable);
    EXPECT_EQ(rig.mc().sFLD.ui16VTot, 1250);
    EXPECT_EQ(rig.mc().sFLD.fFrameRate, 50.0);
    ASSERT_EQ(rig.pipeline->setupRequested(), QOR_RES_OK);
    EXPECT_FALSE(fld->isUpdateRequested());
    EXPECT_TRUE(rig.mc().sFLD.bEnable);
}

TEST(ModuleFLD, SavedDefaultsAndGroup) {
    ModuleFLD fld;
    expectValues(fld, kDefaults, "after construction");
    ParameterList l;
    ASSERT_EQ(fld.save(l, ModuleBase::SAVE_DEF), QOR_RES_OK);
    EXPECT_EQ(l.size(), 10u);
    EXPECT_EQ(valuesOf(l, "FLD_FRAME_RATE"), std::vector<std::string>{"30"});
    EXPECT_EQ(infoOf(l, "FLD_FRAME_RATE"), "double range=[1,255]");
    EXPECT_EQ(infoOf(l, "FLD_SCENE_CHANGE_TH"), "int range=[0,1048575]");
    EXPECT_EQ(infoOf(l, "FLD_RESET"), "bool {0,1}");
    EXPECT_EQ(ModuleFLD::FLD_FRAMERATE.name, "FLD_FRAME_RATE");
    const ParameterGroup g = ModuleFLD::GetGroup();
    EXPECT_EQ(g.header, "// Flicker Detection parameters");
    EXPECT_EQ(g.parameters,
              (std::set<std::string>{"FLD_ENABLE", "FLD_FRAME_RATE", "FLD_VTOT", "FLD_SCENE_CHANGE_TH", "FLD_MIN_PN",
                                     "FLD_PN", "FLD_NF_TH", "FLD_COEF_DIFF_TH", "FLD_RSHIFT", "FLD_RESET"}));
}
