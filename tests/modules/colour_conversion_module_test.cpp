// The two colour-space converters: their matrices and offsets for each output format, the register
// codes against an independent derivation, and their parameter handling.
#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <vector>

#include "ispc/ModuleOUT.h"
#include "ispc/ParameterFileParser.h"
#include "ispc/ModuleR2Y.h"
#include "ispc/ModuleY2R.h"
#include "mc/mc_pipeline.h"
#include "module_test_util.h"

using namespace ISPC;
using namespace norva_test;

namespace {

typedef double Rows[3][3];

/** A rig with an output module of the given formats and both converters loaded from text. */
struct ConverterRig {
    explicit ConverterRig(ePxlFormat enc, ePxlFormat disp = RGB_888_32, const std::string &text = "") {
        out = registered<ModuleOUT>(rig);
        out->encoderType = enc;
        out->displayType = disp;
        r2y = registered<ModuleR2Y>(rig);
        y2r = registered<ModuleY2R>(rig);
        const ParameterList l = listOf(text);
        EXPECT_EQ(r2y->load(l), QOR_RES_OK);
        EXPECT_EQ(y2r->load(l), QOR_RES_OK);
    }
    TestRig rig;
    ModuleOUT *out;
    ModuleR2Y *r2y;
    ModuleY2R *y2r;
};

void expectRows(const MC_PLANECONV &p, const Rows &coeff, const double (&offset)[3], double tol,
                const std::string &what) {
    for (int i = 0; i < 3; i++) {
        for (int j = 0; j < 3; j++)
            EXPECT_NEAR(p.aCoeff[i][j], coeff[i][j], tol) << what << " coefficient " << i << "," << j;
        EXPECT_NEAR(p.aOffset[i], offset[i], 1e-12) << what << " offset " << i;
    }
}

std::string runScript() {
    const std::string cmd = std::string("python3 '") + NORVA_TEST_SUPPORT_DIR + "/colour_codes.py'";
    FILE *p = popen(cmd.c_str(), "r");
    std::string text;
    if (p == nullptr)
        return text;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof(buf), p)) > 0)
        text.append(buf, n);
    const int status = pclose(p);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    return text;
}

const std::string kReferenceSetup = std::string(NORVA_TEST_SUPPORT_DIR) + "/../../data/setup/reference.txt";

} // namespace

// Every register image of both converters equals the codes derived from Kr and Kb alone.
TEST(ColourConversion, RegisterCodesMatchTheIndependentDerivation) {
    std::istringstream lines(runScript());
    std::string block, standard, variant;
    int checked = 0;
    while (lines >> block >> standard >> variant) {
        int want[12];
        for (int &w : want)
            lines >> w;
        const bool cbFirst = variant == "cbfirst";
        ConverterRig r(cbFirst ? YUV_420_PL12_8 : YVU_420_PL12_8, RGB_888_32);
        // The limited-to-full range of the display converter comes from the reference setup file.
        ParameterList list = block == "Y2R_tv" ? ParameterFileParser::parseFile(kReferenceSetup) : ParameterList();
        list.addParameter(Parameter(block == "R2Y" ? "R2Y_MATRIX" : "Y2R_MATRIX", standard), true);
        ASSERT_EQ(r.r2y->load(list), QOR_RES_OK);
        ASSERT_EQ(r.y2r->load(list), QOR_RES_OK);
        CI_MODULE_PLANECONV reg{};
        int mask = 0;
        if (block == "R2Y") {
            ASSERT_EQ(r.r2y->setup(), QOR_RES_OK);
            ASSERT_EQ(MC_R2YConvert(&r.rig.mc().sR2Y, &reg, &mask), QOR_RES_OK);
        } else {
            ASSERT_EQ(r.y2r->setup(), QOR_RES_OK);
            ASSERT_EQ(MC_Y2RConvert(&r.rig.mc().sY2R, &reg, &mask), QOR_RES_OK);
        }
        const std::string what = block + " " + standard + " " + variant;
        for (int i = 0; i < 9; i++)
            EXPECT_EQ(reg.aCoeff[i / 3][i % 3], want[i]) << what << " coefficient " << i;
        for (int i = 0; i < 3; i++)
            EXPECT_EQ(reg.aOffset[i], want[9 + i]) << what << " offset " << i;
        checked++;
    }
    EXPECT_EQ(checked, 12);
}

TEST(ModuleR2Y, MatrixFollowsStandardParametersAndChromaOrder) {
    const struct {
        ePxlFormat enc;
        const char *text;
        Rows coeff;
        double offset[3];
        double tol;
    } cases[] = {
        {YVU_420_PL12_8,
         "",
         {{0.5, -0.4542, -0.0458}, {0.2126, 0.7152, 0.0722}, {-0.1146, -0.3854, 0.5}},
         {0, 0, 0},
         1e-15},
        {YUV_420_PL12_8,
         "",
         {{-0.1146, -0.3854, 0.5}, {0.2126, 0.7152, 0.0722}, {0.5, -0.4542, -0.0458}},
         {0, 0, 0},
         1e-15},
        {YUV_422_PL12_8,
         "",
         {{-0.1146, -0.3854, 0.5}, {0.2126, 0.7152, 0.0722}, {0.5, -0.4542, -0.0458}},
         {0, 0, 0},
         1e-15},
        {YUV_420_PL12_10,
         "",
         {{-0.1146, -0.3854, 0.5}, {0.2126, 0.7152, 0.0722}, {0.5, -0.4542, -0.0458}},
         {0, 0, 0},
         1e-15},
        {YUV_422_PL12_10,
         "",
         {{-0.1146, -0.3854, 0.5}, {0.2126, 0.7152, 0.0722}, {0.5, -0.4542, -0.0458}},
         {0, 0, 0},
         1e-15},
        {YVU_422_PL12_10,
         "",
         {{0.5, -0.4542, -0.0458}, {0.2126, 0.7152, 0.0722}, {-0.1146, -0.3854, 0.5}},
         {0, 0, 0},
         1e-15},
        {YVU_420_PL12_8,
         "R2Y_MATRIX BT601\nR2Y_HUE 30\n",
         {{0.51736270189, -0.19695483657, -0.32040786533},
          {0.299, 0.587, 0.114},
          {0.10390151438, -0.49626421627, 0.39236270189}},
         {0, 0, 0},
         5e-12},
        {YVU_420_PL12_8,
         "R2Y_MATRIX BT601\nR2Y_CONTRAST 2\nR2Y_SATURATION 0.5\nR2Y_BRIGHTNESS 0.25\nR2Y_OFFSETU 0.1\nR2Y_OFFSETV "
         "-0.2\n",
         {{0.5, -0.4187, -0.0813}, {0.598, 1.174, 0.228}, {-0.1687, -0.3313, 0.5}},
         {25.6, 64, -51.2},
         1e-15},
        // Each offset stays with its chroma row when the rows are exchanged.
        {YUV_420_PL12_8,
         "R2Y_MATRIX BT601\nR2Y_CONTRAST 2\nR2Y_SATURATION 0.5\nR2Y_BRIGHTNESS 0.25\nR2Y_OFFSETU 0.1\nR2Y_OFFSETV "
         "-0.2\n",
         {{-0.1687, -0.3313, 0.5}, {0.598, 1.174, 0.228}, {0.5, -0.4187, -0.0813}},
         {-51.2, 64, 25.6},
         1e-15},
    };
    for (const auto &c : cases) {
        ConverterRig r(c.enc, RGB_888_32, c.text);
        const std::string what = std::string(c.text) + " encoder " + std::to_string(c.enc);
        ASSERT_EQ(r.r2y->setup(), QOR_RES_OK) << what;
        const MC_R2Y &p = r.rig.mc().sR2Y;
        EXPECT_EQ(p.eType, RGB_TO_YCC);
        EXPECT_TRUE(p.updateNeeded);
        EXPECT_TRUE(r.r2y->isSetup());
        expectRows(p, c.coeff, c.offset, c.tol, what);
    }
}

TEST(ModuleY2R, MatrixFollowsEncoderOrderAndDisplayFormat) {
    const struct {
        ePxlFormat enc, disp;
        const char *text;
        ePlaneConvType type;
        Rows coeff;
        double offset[3];
    } cases[] = {
        {YVU_420_PL12_8,
         RGB_888_32,
         "",
         YCC_TO_RGB,
         {{1.5748, 1, 0}, {-0.4681242606, 1, -0.18732430448}, {0, 1, 1.8556}},
         {-128, -16, -128}},
        {YVU_420_PL12_8,
         RGB_888_32,
         "Y2R_MATRIX BT601\n",
         YCC_TO_RGB,
         {{1.402, 1, 0}, {-0.7141363194, 1, -0.3441362216}, {0, 1, 1.772}},
         {-128, -16, -128}},
        // Cb-first encoder: the chroma inputs are exchanged back.
        {YUV_420_PL12_8,
         RGB_888_32,
         "",
         YCC_TO_RGB,
         {{0, 1, 1.5748}, {-0.18732430448, 1, -0.4681242606}, {1.8556, 1, 0}},
         {-128, -16, -128}},
        // Red and blue outputs exchanged: the offsets are exchanged with the rows.
        {YVU_420_PL12_8,
         BGR_888_32,
         "Y2R_OFFSETU -0.25\n",
         YCC_TO_RGB,
         {{0, 1, 1.8556}, {-0.4681242606, 1, -0.18732430448}, {1.5748, 1, 0}},
         {-128, -16, -64}},
        // Cb first: the columns are exchanged, the offsets stay.
        {YUV_420_PL12_8,
         RGB_888_32,
         "Y2R_OFFSETU -0.25\n",
         YCC_TO_RGB,
         {{0, 1, 1.5748}, {-0.18732430448, 1, -0.4681242606}, {1.8556, 1, 0}},
         {-64, -16, -128}},
        // Both: columns, then rows and offsets exchanged.
        {YUV_420_PL12_8,
         BGR_888_32,
         "Y2R_OFFSETU -0.25\n",
         YCC_TO_RGB,
         {{1.8556, 1, 0}, {-0.18732430448, 1, -0.4681242606}, {0, 1, 1.5748}},
         {-128, -16, -64}},
        // The 16-bit extraction format keeps the hardware's RGB order.
        {YVU_420_PL12_8,
         BGR_161616_64,
         "",
         YCC_TO_RGB,
         {{1.5748, 1, 0}, {-0.4681242606, 1, -0.18732430448}, {0, 1, 1.8556}},
         {-128, -16, -128}},
        {YVU_420_PL12_8,
         RGB_888_32,
         "Y2R_BRIGHTNESS 0.25\nY2R_CONTRAST 2\n",
         YCC_TO_RGB,
         {{3.1496, 2, 0}, {-0.9362485212, 2, -0.37464860896}, {0, 2, 3.7112}},
         {-128, 16, -128}},
        {YVU_420_PL12_8, PXL_ISP_444IL3YCbCr8, "", YCC_TO_YCC, {{0, 0, 1}, {1, 0, 0}, {0, 1, 0}}, {0, 0, 0}},
        {YUV_420_PL12_8, PXL_ISP_444IL3YCbCr8, "", YCC_TO_YCC, {{1, 0, 0}, {0, 0, 1}, {0, 1, 0}}, {0, 0, 0}},
        {YVU_420_PL12_8, PXL_ISP_444IL3YCrCb8, "", YCC_TO_YCC, {{1, 0, 0}, {0, 0, 1}, {0, 1, 0}}, {0, 0, 0}},
        {YUV_420_PL12_8, PXL_ISP_444IL3YCrCb8, "", YCC_TO_YCC, {{0, 0, 1}, {1, 0, 0}, {0, 1, 0}}, {0, 0, 0}},
        {YVU_420_PL12_8,
         PXL_ISP_444IL3YCbCr10,
         "Y2R_BRIGHTNESS 0.25\nY2R_CONTRAST 2\n",
         YCC_TO_YCC,
         {{0, 0, 1}, {1, 0, 0}, {0, 1, 0}},
         {0, 32, 0}},
    };
    for (const auto &c : cases) {
        ConverterRig r(c.enc, c.disp, c.text);
        const std::string what =
            std::string(c.text) + " encoder " + std::to_string(c.enc) + " display " + std::to_string(c.disp);
        ASSERT_EQ(r.y2r->setup(), QOR_RES_OK) << what;
        const MC_Y2R &p = r.rig.mc().sY2R;
        EXPECT_EQ(p.eType, c.type) << what;
        EXPECT_TRUE(p.updateNeeded);
        expectRows(p, c.coeff, c.offset, 1e-12, what);
    }
}

TEST(ColourConversion, LoadRefusesAnyOtherMatrixNameAndKeepsEveryMember) {
    for (const char *name : {"bt709", "JFIF", "BT 709", "\"\""}) {
        ModuleR2Y r2y;
        ModuleY2R y2r;
        r2y.fBrightness = 0.125;
        y2r.fContrast = 3;
        QOR_RESULT a = QOR_RES_OK, b = QOR_RES_OK;
        const std::string log = stderrOf([&] {
            a = r2y.load(listOf(std::string("R2Y_MATRIX ") + name + "\nR2Y_BRIGHTNESS 0.3\n"));
            b = y2r.load(listOf(std::string("Y2R_MATRIX ") + name + "\nY2R_CONTRAST 4\n"));
        });
        EXPECT_EQ(a, QOR_RES_FAILED) << name;
        EXPECT_EQ(b, QOR_RES_FAILED) << name;
        EXPECT_NE(log.find("Invalid matrix conversion format: '"), std::string::npos) << log;
        EXPECT_EQ(r2y.fBrightness, 0.125);
        EXPECT_EQ(y2r.fContrast, 3);
        EXPECT_EQ(r2y.eMatrix, ModuleR2YBase::BT709);
    }
    ModuleR2Y r2y;
    ASSERT_EQ(r2y.load(listOf("R2Y_MATRIX BT601\n")), QOR_RES_OK);
    ASSERT_EQ(r2y.load(listOf("R2Y_CONTRAST 3\n")), QOR_RES_OK);
    EXPECT_EQ(r2y.eMatrix, ModuleR2YBase::BT709);
    EXPECT_EQ(r2y.fContrast, 2.0);
}

// The matrix tag of a save: every standard by its name, the three offered; SAVE_MIN and SAVE_MAX give the default.
TEST(ColourConversion, SavedMatrixNames) {
    const struct {
        ModuleR2YBase::StdMatrix value;
        std::vector<std::string> saved; // empty: the tag is not written
    } cases[] = {
        {ModuleR2YBase::BT601, {"BT601"}},
        {ModuleR2YBase::BT709, {"BT709"}},
        {ModuleR2YBase::JFIF, {"JFIF"}},
        {static_cast<ModuleR2YBase::StdMatrix>(3), {}},
        {static_cast<ModuleR2YBase::StdMatrix>(-1), {}},
    };
    for (const auto &c : cases) {
        ModuleR2Y r2y;
        ModuleY2R y2r;
        r2y.eMatrix = y2r.eMatrix = c.value;
        ParameterList val;
        r2y.save(val, ModuleBase::SAVE_VAL);
        y2r.save(val, ModuleBase::SAVE_VAL);
        EXPECT_EQ(val.exists("R2Y_MATRIX"), !c.saved.empty()) << c.value;
        EXPECT_EQ(val.exists("Y2R_MATRIX"), !c.saved.empty()) << c.value;
        EXPECT_EQ(valuesOf(val, "R2Y_MATRIX"), c.saved) << c.value;
        EXPECT_EQ(valuesOf(val, "Y2R_MATRIX"), c.saved) << c.value;
    }
    ModuleR2Y r2y;
    ModuleY2R y2r;
    ParameterList def, max;
    r2y.save(def, ModuleBase::SAVE_DEF);
    y2r.save(def, ModuleBase::SAVE_DEF);
    EXPECT_EQ(valuesOf(def, "R2Y_MATRIX"), std::vector<std::string>{"BT709"});
    EXPECT_EQ(infoOf(def, "R2Y_MATRIX"), "{BT601, BT709, JFIF}");
    EXPECT_EQ(infoOf(def, "Y2R_MATRIX"), "{BT601, BT709, JFIF}");
    r2y.save(max, ModuleBase::SAVE_MAX);
    EXPECT_EQ(valuesOf(max, "R2Y_MATRIX"), std::vector<std::string>{"BT709"});
    EXPECT_EQ(valuesOf(max, "R2Y_CONTRAST"), std::vector<std::string>{"2"});
    EXPECT_EQ(valuesOf(max, "R2Y_RANGE_MUL"), (std::vector<std::string>{"2", "2", "2"}));
}

TEST(ColourConversion, StandardWithoutCoefficientsIsRefusedWhereItCounts) {
    const struct {
        bool r2y;
        ePxlFormat disp;
        QOR_RESULT want;
    } cases[] = {
        {true, RGB_888_32, QOR_RES_UNAVAILABLE},
        {false, RGB_888_32, QOR_RES_NOT_SUPPORTED},
        {false, PXL_ISP_444IL3YCbCr8, QOR_RES_OK},
    };
    for (const auto &c : cases) {
        ConverterRig r(YVU_420_PL12_8, c.disp);
        ModuleR2YBase &m = c.r2y ? static_cast<ModuleR2YBase &>(*r.r2y) : static_cast<ModuleR2YBase &>(*r.y2r);
        SetupModule &s = c.r2y ? static_cast<SetupModule &>(*r.r2y) : static_cast<SetupModule &>(*r.y2r);
        m.eMatrix = ModuleR2YBase::JFIF;
        MC_PLANECONV &block = c.r2y ? r.rig.mc().sR2Y : r.rig.mc().sY2R;
        block.updateNeeded = QOR_FALSE;
        QOR_RESULT ret = QOR_RES_OK;
        const std::string log = stderrOf([&] { ret = s.setup(); });
        EXPECT_EQ(ret, c.want);
        EXPECT_EQ(s.isSetup(), c.want == QOR_RES_OK);
        EXPECT_EQ(bool(block.updateNeeded), c.want == QOR_RES_OK);
        if (c.want != QOR_RES_OK) {
            EXPECT_NE(log.find("Invalid matrix conversion format: 2\n"), std::string::npos) << log;
        }
    }
    EXPECT_EQ(ModuleR2YBase::stdIndex("BT709"), ModuleR2YBase::BT709);
    EXPECT_EQ(ModuleR2YBase::stdIndex("JFIF"), ModuleR2YBase::BT601);
    EXPECT_STREQ(ModuleR2YBase::stdMatrixName(ModuleR2YBase::JFIF), "JFIF");
    EXPECT_STREQ(ModuleR2YBase::stdMatrixName(static_cast<ModuleR2YBase::StdMatrix>(3)), "UNKNOWN");
}

TEST(ColourConversion, PipelineWithoutOutputModuleIsRefused) {
    TestRig rig;
    ModuleR2Y *r2y = registered<ModuleR2Y>(rig);
    ModuleY2R *y2r = registered<ModuleY2R>(rig);
    QOR_RESULT a = QOR_RES_OK, b = QOR_RES_OK;
    stderrOf([&] {
        a = r2y->setup();
        b = y2r->setup();
    });
    EXPECT_EQ(a, QOR_RES_UNAVAILABLE);
    EXPECT_EQ(b, QOR_RES_UNAVAILABLE);
    EXPECT_FALSE(r2y->isSetup());
    EXPECT_FALSE(y2r->isSetup());
}

TEST(ColourConversion, UnknownPlaneKindAndInputSwapOfTheEncoderConverter) {
    ModuleR2Y r2y;
    MC_PLANECONV p{};
    p.eType = static_cast<ePlaneConvType>(7);
    p.aOffset[0] = 5;
    std::string log = stderrOf([&] { EXPECT_EQ(r2y.configure(p, false, false), QOR_RES_INVALID_PARAM); });
    EXPECT_NE(log.find("Invalid plane value\n"), std::string::npos);
    EXPECT_EQ(p.aOffset[0], 5);
    p.eType = RGB_TO_YCC;
    log = stderrOf([&] { EXPECT_EQ(r2y.configure(p, true, false), QOR_RES_OK); });
    EXPECT_NE(log.find("Swapping input to R2Y has no effects!\n"), std::string::npos);
    EXPECT_EQ(p.aCoeff[0][0], 0.5);
}

// Limited-range white and black of the encoder output on the display: with the converter's own defaults
// white lands at 219; the reference setup file stretches it to full range.
TEST(ModuleY2R, ReferenceSetupGivesFullRangeDisplay) {
    const struct {
        bool reference;
        double white;
    } cases[] = {{false, 219}, {true, 255}};
    for (const auto &c : cases) {
        ConverterRig r(YUV_420_PL12_8, RGB_888_32);
        if (c.reference) {
            ASSERT_EQ(r.y2r->load(ParameterFileParser::parseFile(kReferenceSetup)), QOR_RES_OK);
        }
        ASSERT_EQ(r.y2r->setup(), QOR_RES_OK);
        const MC_Y2R &p = r.rig.mc().sY2R;
        for (const double luma : {16.0, 235.0}) {
            const double ycc[3] = {128, luma, 128};
            for (int i = 0; i < 3; i++) {
                double v = 0;
                for (int j = 0; j < 3; j++)
                    v += p.aCoeff[i][j] * (ycc[j] + p.aOffset[j]);
                EXPECT_NEAR(v, luma == 16.0 ? 0.0 : c.white, 0.5) << "channel " << i << " luma " << luma;
            }
        }
    }
}
