// The white-balance correction modules and the lens-shading module's parameters: gains scaled by the current
// shading grid, clips, the 2.6 stage and its mode word.
#include <gtest/gtest.h>

#include "ispc/ModuleLSH.h"
#include "ispc/ModuleWBC.h"
#include "module_test_util.h"

using namespace ISPC;
using norva_test::listOf;
using norva_test::registered;
using norva_test::stderrOf;
using norva_test::TestRig;
using norva_test::valuesOf;

namespace {

/** A lens-shading module with a current matrix of a given white-balance scale, without a driver. */
class ScaledLSH : public ModuleLSH {
public:
    void makeCurrent(double scale) {
        lsh_mat *m = new lsh_mat();
        m->matrixId = 7;
        m->wbScale = scale;
        list_grid.push_back(m);
        currentMatId = 7;
    }
    /** The made-up matrix never reached a driver: it is dropped before the module would free its buffer. */
    ~ScaledLSH() override {
        for (lsh_mat *m : list_grid)
            delete m;
        list_grid.clear();
        currentMatId = 0;
    }
};

} // namespace

TEST(WhiteBalanceCorrection, GainsTakeTheCurrentGridsScale) {
    struct Case {
        const char *name;
        bool withLSH;
        double scale; // 0: module without a current matrix
        double expected[4];
        bool warned;
    } cases[] = {
        {"scale 1.25", true, 1.25, {2.5, 1.25, 1.25, 1.875}, false},
        {"no current matrix", true, 0, {2, 1, 1, 1.5}, false},
        {"no lens-shading module", false, 0, {2, 1, 1, 1.5}, true},
    };
    for (const Case &c : cases) {
        TestRig rig;
        ModuleWBC *wbc = registered<ModuleWBC>(rig);
        if (c.withLSH) {
            ScaledLSH *lsh = registered<ScaledLSH>(rig);
            if (c.scale != 0)
                lsh->makeCurrent(c.scale);
        }
        wbc->load(listOf("LSH_WBGAIN 2 1 1 1.5\nLSH_WBCLIP 1 2 1 0.5\n"));
        const std::string log = stderrOf([&] { EXPECT_EQ(wbc->setup(), QOR_RES_OK); });
        for (int k = 0; k < 4; k++)
            EXPECT_DOUBLE_EQ(rig.mc().sWBC.aGain[k], c.expected[k]) << c.name << " " << k;
        EXPECT_EQ(rig.mc().sWBC.aClip[1], 512.0) << c.name;
        EXPECT_EQ(rig.mc().sWBC.aClip[3], 128.0) << c.name;
        EXPECT_EQ(log.find("pipeline does not have an LSH module to get scaleWB from\n") != std::string::npos, c.warned)
            << c.name;
    }
}

TEST(WhiteBalanceCorrection, LoadClampsAndFillsDefaults) {
    ModuleWBC wbc;
    wbc.load(listOf("LSH_WBGAIN 10 0.1 1 1\n"));
    EXPECT_EQ(wbc.aWBGain[0], 8);
    EXPECT_EQ(wbc.aWBGain[1], 0.5);
    wbc.load(listOf("LSH_WBGAIN 2\n"));
    EXPECT_EQ(wbc.aWBGain[0], 2);
    EXPECT_EQ(wbc.aWBGain[3], 1);
}

TEST(WhiteBalanceCorrection, RgbModeWordsAndTheirFailures) {
    struct Case {
        const char *text;
        QOR_RESULT result;
        int mode;
    } cases[] = {{"", QOR_RES_OK, WBC_SATURATION},
                 {"WBC_RGB_MODE threshold\n", QOR_RES_OK, WBC_THRESHOLD},
                 {"WBC_RGB_MODE saturation\n", QOR_RES_OK, WBC_SATURATION},
                 {"WBC_RGB_MODE Threshold\n", QOR_RES_FAILED, -1}};
    for (const Case &c : cases) {
        ModuleWBC2_6 m;
        QOR_RESULT r = QOR_RES_OK;
        const std::string log = stderrOf([&] { r = m.load(listOf(std::string(c.text) + "WBC_RGB_GAIN 2 3 4\n")); });
        EXPECT_EQ(r, c.result) << c.text;
        EXPECT_EQ(static_cast<int>(m.eRGBThresholdMode), c.mode) << c.text;
        EXPECT_EQ(m.afRGBGain[1], 3) << c.text; // read before the mode word
        EXPECT_EQ(log.find("Invalid saturation mode value Threshold\n") != std::string::npos, c.result != QOR_RES_OK);
    }
    EXPECT_EQ(ModuleWBC2_6::getRGBModeString(static_cast<WBC_MODES>(5)), "unknown");
}

TEST(WhiteBalanceCorrection, The26StageIsWrittenUnscaled) {
    TestRig rig;
    ModuleWBC2_6 *wbc = registered<ModuleWBC2_6>(rig);
    registered<ScaledLSH>(rig)->makeCurrent(2.0);
    stderrOf([&] { wbc->load(listOf("WBC_RGB_GAIN 2 3 4\nWBC_RGB_THRESHOLD 0.5 0.6 0.7\nWBC_RGB_MODE threshold\n")); });
    ASSERT_EQ(wbc->setup(), QOR_RES_OK);
    EXPECT_EQ(rig.mc().sWBC.afRGBGain[2], 4);
    EXPECT_EQ(rig.mc().sWBC.afRGBThreshold[0], 0.5);
    EXPECT_EQ(rig.mc().sWBC.eRGBThresholdMode, WBC_THRESHOLD);
    EXPECT_EQ(rig.mc().sWBC.aGain[0], 2.0);

    ParameterList mins;
    wbc->save(mins, ModuleBase::SAVE_MIN);
    EXPECT_EQ(valuesOf(mins, "LSH_WBGAIN"), std::vector<std::string>(4, "0.5"));
    EXPECT_EQ(valuesOf(mins, "WBC_RGB_GAIN"), std::vector<std::string>(3, "0"));
    EXPECT_EQ(valuesOf(mins, "WBC_RGB_MODE"), std::vector<std::string>{"saturation"});
    EXPECT_TRUE(mins.hasGroup("ModuleWBC"));
    EXPECT_TRUE(mins.hasGroup("ModuleWBC2_6"));
}

TEST(LensShadingModule, GradientsAndTheDeprecatedFileTag) {
    TestRig rig;
    ModuleLSH *lsh = registered<ModuleLSH>(rig);
    const std::string log = stderrOf([&] {
        lsh->load(listOf("LSH_GRADIENTX 0.1 0.2 0.3 0.4\nLSH_GRADIENTY -0.1 -0.2 -0.3 -0.4\nLSH_MATRIX_FILE a.lsh\n"));
    });
    EXPECT_NE(log.find("Deprecated LSH_MATRIX_FILE parameter found - use LSH_CTRL_FILE_X\n"), std::string::npos);
    ASSERT_EQ(lsh->setup(), QOR_RES_OK);
    for (int c = 0; c < 4; c++) {
        EXPECT_DOUBLE_EQ(rig.mc().sLSH.aGradients[c][0], 0.1 * (c + 1));
        EXPECT_DOUBLE_EQ(rig.mc().sLSH.aGradients[c][1], -0.1 * (c + 1));
    }
    EXPECT_FALSE(lsh->hasGrid());
    EXPECT_EQ(lsh->getCurrentScaleWB(), 1.0);
    EXPECT_EQ(lsh->getMatrixId(0), 0u);
    QOR_UINT32 id = 0;
    stderrOf([&] { EXPECT_EQ(lsh->addMatrix(std::string("/nonexistent/grid.lsh"), id, 1.0, 0), QOR_RES_FAILED); });
    EXPECT_EQ(lsh->countGrid(), 0u);
    EXPECT_EQ(lsh->removeMatrix(3), QOR_RES_INVALID_PARAM);
}
