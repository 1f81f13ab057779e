// The output-formats module: format names, loading, saving and what its setup writes.
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "ispc/ModuleOUT.h"
#include "ispc/ParameterFileParser.h"
#include "support/test_sensor.h"
#include "support/output_capture.h"
#include "module_test_util.h"

using norva_test::listOf;

using norva_test::contains;
using norva_test::stderrOf;

using namespace ISPC;

namespace {} // namespace

TEST(ModuleOUT, FormatNameOfEveryFormat) {
    const char *const expected[] = {
        "NONE",         "NV21",         "NV12",          "NV61",          "NV16",         "NV21-10bit", "NV12-10bit",
        "NV61-10bit",   "NV16-10bit",   "RGB888_24",     "RGB888_32",     "RGB101010_32", "BGR888_24",  "BGR888_32",
        "BGR101010_32", "BGR161616_64", "BAYER8",        "BAYER10",       "BAYER12",      "TIFF10",     "TIFF12",
        "444IL3YCrCb8", "444IL3YCbCr8", "444IL3YCrCb10", "444IL3YCbCr10", "?fmt?",        "?fmt?",
    };
    static_assert(sizeof(expected) / sizeof(expected[0]) == PXL_INVALID + 1, "one name per format");
    for (int f = PXL_NONE; f <= PXL_INVALID; f++) {
        const ePxlFormat fmt = static_cast<ePxlFormat>(f);
        const std::string name = ModuleOUT::getPixelFormatString(fmt);
        EXPECT_EQ(name, expected[f]) << "format " << f;
        // Every name it gives for a real format reads back as that format.
        if (f < PXL_N) {
            EXPECT_EQ(ModuleOUT::getPixelFormat(name), fmt) << name;
        }
    }
    // The format-name constants hold the common names of their formats.
    const struct {
        const char *constant;
        pxlFormat fmt;
    } constants[] = {
        {NV21_8, YVU_420_PL12_8},
        {NV12_8, YUV_420_PL12_8},
        {NV61_8, YVU_422_PL12_8},
        {NV16_8, YUV_422_PL12_8},
        {NV21_10, YVU_420_PL12_10},
        {NV12_10, YUV_420_PL12_10},
        {NV61_10, YVU_422_PL12_10},
        {NV16_10, YUV_422_PL12_10},
        {FMT_444IL3YCrCb8_STR, PXL_ISP_444IL3YCrCb8},
        {FMT_444IL3YCbCr8_STR, PXL_ISP_444IL3YCbCr8},
        {FMT_444IL3YCrCb10_STR, PXL_ISP_444IL3YCrCb10},
        {FMT_444IL3YCbCr10_STR, PXL_ISP_444IL3YCbCr10},
    };
    for (const auto &c : constants) {
        EXPECT_STREQ(c.constant, FormatString(c.fmt));
    }
}

TEST(ModuleOUT, NamesOfEachKindOfOutput) {
    const struct {
        const char *text;
        ePxlFormat encoder, display, bayer, any;
    } cases[] = {
        {"NV12", YUV_420_PL12_8, PXL_INVALID, PXL_INVALID, YUV_420_PL12_8},
        {"RGB888_32", PXL_INVALID, RGB_888_32, PXL_INVALID, RGB_888_32},
        {"BGR161616_64", PXL_INVALID, BGR_161616_64, PXL_INVALID, BGR_161616_64},
        {"TIFF12", PXL_INVALID, PXL_INVALID, BAYER_TIFF_12, BAYER_TIFF_12},
        {"NONE", PXL_NONE, PXL_NONE, PXL_NONE, PXL_NONE},
        // Common names that are not parameter values, lower case, and the empty text.
        {"RGGB8", PXL_INVALID, PXL_INVALID, PXL_INVALID, PXL_NONE},
        {"BI_RGB24", PXL_INVALID, PXL_INVALID, PXL_INVALID, PXL_NONE},
        {"nv12", PXL_INVALID, PXL_INVALID, PXL_INVALID, PXL_NONE},
        {"", PXL_INVALID, PXL_INVALID, PXL_INVALID, PXL_NONE},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(ModuleOUT::getPixelFormatEncoder(c.text, true), c.encoder) << c.text;
        EXPECT_EQ(ModuleOUT::getPixelFormatDisplay(c.text, true), c.display) << c.text;
        EXPECT_EQ(ModuleOUT::getPixelFormatBayer(c.text, true), c.bayer) << c.text;
        EXPECT_EQ(ModuleOUT::getPixelFormatEncoder(c.text, false), c.encoder == PXL_INVALID ? PXL_NONE : c.encoder);
        EXPECT_EQ(ModuleOUT::getPixelFormat(c.text), c.any) << c.text;
    }
}

TEST(ModuleOUT, LoadTable) {
    const struct {
        const char *text;
        QOR_RESULT result;
        ePxlFormat encoder, dataExtraction, hdrExtraction;
        CI_INOUT_POINTS point;
        const char *log; // expected in the log, or "" for a silent load
        const char *savedPoint;
    } cases[] = {
        {"", QOR_RES_OK, PXL_NONE, PXL_NONE, PXL_NONE, CI_INOUT_NONE, "", "3"}, // the defaults agree: silent
        {"OUT_DE_POINT 2\n", QOR_RES_OK, PXL_NONE, PXL_NONE, PXL_NONE, CI_INOUT_NONE,
         "DE point 1 forced to NONE and DE format NONE forced to NONE because one of them is NONE\n", "3"},
        {"OUT_ENC nv12\n", QOR_RES_INVALID_PARAM, PXL_INVALID, PXL_NONE, PXL_NONE, CI_INOUT_NONE,
         "INVALID PIXEL FORMAT \n", "3"},
        {"OUT_DISP RGB888\n", QOR_RES_INVALID_PARAM, PXL_NONE, PXL_NONE, PXL_NONE, CI_INOUT_NONE,
         "INVALID PIXEL FORMAT \n", "3"},
        {"OUT_ENC 420PL12YUV8\nOUT_DE_POINT 3\n", QOR_RES_OK, YVU_420_PL12_8, PXL_NONE, PXL_NONE, CI_INOUT_NONE,
         "deprecated 420PL12YUV8 format used - use NV21 instead\n", "3"},
        {"OUT_DE BAYER10\nOUT_DE_POINT 2\n", QOR_RES_OK, PXL_NONE, BAYER_RGGB_10, PXL_NONE, CI_INOUT_FILTER_LINESTORE,
         "", "2"},
        {"OUT_DE BAYER10\nOUT_DE_POINT 9\n", QOR_RES_OK, PXL_NONE, PXL_NONE, PXL_NONE, CI_INOUT_NONE,
         "DE point 2 forced to NONE and DE format RGGB10 forced to NONE because one of them is NONE\n", "3"},
        {"OUT_DE RGGB8\nOUT_DE_POINT 1\n", QOR_RES_OK, PXL_NONE, PXL_NONE, PXL_NONE, CI_INOUT_NONE,
         "DE point 0 forced to NONE", "3"},
        {"OUT_DE NV21\nOUT_DE_POINT 1\nOUT_DE_HDF RGB888_24\n", QOR_RES_OK, PXL_NONE, YVU_420_PL12_8, RGB_888_24,
         CI_INOUT_BLACK_LEVEL, "", "1"},
    };
    for (const auto &c : cases) {
        ModuleOUT out;
        const ParameterList list = listOf(c.text);
        QOR_RESULT ret = QOR_RES_FAILED;
        const std::string log = stderrOf([&] { ret = out.load(list); });
        EXPECT_EQ(ret, c.result) << c.text;
        EXPECT_EQ(out.encoderType, c.encoder) << c.text;
        EXPECT_EQ(out.dataExtractionType, c.dataExtraction) << c.text;
        EXPECT_EQ(out.dataExtractionPoint, c.point) << c.text;
        EXPECT_EQ(out.hdrExtractionType, c.hdrExtraction) << c.text;
        if (*c.log == '\0') {
            EXPECT_EQ(log, "") << c.text;
        } else {
            EXPECT_TRUE(contains(log, c.log)) << c.text << log;
        }
        EXPECT_FALSE(out.isUpdateRequested());
        ParameterList saved;
        out.save(saved, ModuleBase::SAVE_VAL);
        EXPECT_EQ(saved.getParameter("OUT_DE_POINT")->getString(0), c.savedPoint) << c.text;
        if (c.encoder == YVU_420_PL12_8) {
            EXPECT_EQ(saved.getParameter("OUT_ENC")->getString(0), "NV21"); // never the deprecated name
        }
    }
}

TEST(ModuleOUT, DefaultsFileOffersTheNamesOfEachOutput) {
    ModuleOUT out;
    ParameterList l;
    out.save(l, ModuleBase::SAVE_DEF);
    const struct {
        const char *tag;
        const char *info;
    } cases[] = {
        {"OUT_ENC", "{NONE, NV21, NV12, NV61, NV16, NV21-10bit, NV12-10bit, NV61-10bit, NV16-10bit}"},
        {"OUT_DISP", "{NONE, RGB888_24, RGB888_32, RGB101010_32, BGR888_24, BGR888_32, BGR101010_32, "
                     "444IL3YCrCb8, 444IL3YCbCr8, 444IL3YCrCb10, 444IL3YCbCr10}"},
        {"OUT_DE", "{NONE, BAYER8, BAYER10, BAYER12}"},
        {"OUT_DE_POINT", "int range=[1,3]"},
        {"OUT_DE_HDF", "{NONE, BGR101010_32}"},
        {"OUT_DI_HDF", "{NONE, BGR161616_64}"},
        {"OUT_DE_RAW2D", "{NONE, TIFF10, TIFF12}"},
    };
    for (const auto &c : cases) {
        const Parameter *p = l.getParameter(c.tag);
        ASSERT_NE(p, nullptr) << c.tag;
        EXPECT_EQ(p->getInfo(), c.info) << c.tag;
        EXPECT_EQ(p->getString(0), std::string(c.tag) == "OUT_DE_POINT" ? "1" : "NONE");
    }
    ParameterList bounds;
    out.save(bounds, ModuleBase::SAVE_MAX);
    EXPECT_EQ(bounds.getParameter("OUT_ENC")->getInfo(), "string");
    EXPECT_EQ(bounds.getParameter("OUT_DE_POINT")->getString(0), "3");
    EXPECT_EQ(bounds.getParameter("OUT_DE_POINT")->getInfo(), "");
}

TEST(ModuleOUT, SetupTable) {
    const struct {
        const char *text;
        QOR_UINT32 functionalities;
        pxlFormat enc, disp, hdrExt, hdrIns, raw2D;
        CI_INOUT_POINTS point;
        const char *log;
    } cases[] = {
        // A valid display format wins over the data extraction sharing its output.
        {"OUT_ENC NV12\nOUT_DISP RGB888_32\nOUT_DE BAYER8\nOUT_DE_POINT 1\n", 0x1F, YUV_420_PL12_8, RGB_888_32,
         PXL_NONE, PXL_NONE, PXL_NONE, CI_INOUT_NONE, ""},
        {"OUT_DE BAYER12\nOUT_DE_POINT 2\n", 0x1F, PXL_NONE, BAYER_RGGB_12, PXL_NONE, PXL_NONE, PXL_NONE,
         CI_INOUT_FILTER_LINESTORE, ""},
        {"OUT_DISP 444IL3YCbCr10\n", 0x1F, PXL_NONE, PXL_ISP_444IL3YCbCr10, PXL_NONE, PXL_NONE, PXL_NONE, CI_INOUT_NONE,
         ""},
        {"OUT_DE_HDF BGR101010_32\nOUT_DI_HDF BGR161616_64\nOUT_DE_RAW2D TIFF10\n", 0x1F, PXL_NONE, PXL_NONE,
         BGR_101010_32, BGR_161616_64, BAYER_TIFF_10, CI_INOUT_NONE, ""},
        {"OUT_DE_HDF BGR101010_32\n", 0, PXL_NONE, PXL_NONE, PXL_NONE, PXL_NONE, PXL_NONE, CI_INOUT_NONE,
         "HDR Extraction format ignored because HW 2.7 does not support it\n"},
        {"OUT_DI_HDF BGR161616_64\n", CI_INFO_SUPPORTED_HDR_EXT, PXL_NONE, PXL_NONE, PXL_NONE, PXL_NONE, PXL_NONE,
         CI_INOUT_NONE, "HDR Insertion format ignored because HW 2.7 does not support it\n"},
        {"OUT_DE_RAW2D TIFF12\n", CI_INFO_SUPPORTED_HDR_INS, PXL_NONE, PXL_NONE, PXL_NONE, PXL_NONE, PXL_NONE,
         CI_INOUT_NONE, "RAW2D Extraction format ignored because HW 2.7 does not support it\n"},
    };
    for (const auto &c : cases) {
        norva_test::TestRig rig(1920, 1080, MOSAIC_RGGB, c.functionalities);
        ModuleOUT *out = new ModuleOUT();
        ASSERT_EQ(rig.pipeline->registerModule(out), QOR_RES_OK);
        const ParameterList list = listOf(c.text);
        stderrOf([&] { ASSERT_EQ(out->load(list), QOR_RES_OK); });
        const ModuleOUT before = *out;
        QOR_RESULT ret = QOR_RES_FAILED;
        const std::string log = stderrOf([&] { ret = out->setup(); });
        EXPECT_EQ(ret, QOR_RES_OK) << c.text;
        EXPECT_TRUE(out->isSetup());
        const MC_PIPELINE &mc = rig.mc();
        EXPECT_EQ(mc.eEncOutput, c.enc) << c.text;
        EXPECT_EQ(mc.eDispOutput, c.disp) << c.text;
        EXPECT_EQ(mc.eDEPoint, c.point) << c.text;
        EXPECT_EQ(mc.eHDRExtOutput, c.hdrExt) << c.text;
        EXPECT_EQ(mc.eHDRInsertion, c.hdrIns) << c.text;
        EXPECT_EQ(mc.eRaw2DExtOutput, c.raw2D) << c.text;
        if (*c.log == '\0') {
            EXPECT_EQ(log, "") << c.text;
        } else {
            EXPECT_TRUE(contains(log, c.log)) << c.text << log;
        }
        // What the hardware lacks is dropped from the configuration only.
        EXPECT_EQ(out->hdrExtractionType, before.hdrExtractionType);
        EXPECT_EQ(out->hdrInsertionType, before.hdrInsertionType);
        EXPECT_EQ(out->raw2DExtractionType, before.raw2DExtractionType);
    }
}
