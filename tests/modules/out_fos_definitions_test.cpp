// The setup-file parameters of the output-formats and focus-statistics modules.
#include <gtest/gtest.h>

#include <sstream>

#include "ispc/ModuleFOSDefinitions.h"
#include "ispc/ModuleOUTDefinitions.h"
#include "ispc/ParameterFileParser.h"
#include "module_test_util.h"

using norva_test::listOf;

using namespace ISPC;

namespace {

typedef ModuleOUTDefinitions OUT;
typedef ModuleFOSDefinitions FOS;

} // namespace

TEST(OutputDefinitions, EmptyListGivesTheDefaults) {
    const ParameterList empty;
    for (const ParamDefSingle<std::string> *d : {&OUT::ENCODER_TYPE, &OUT::DISPLAY_TYPE, &OUT::DATAEXTRA_TYPE,
                                                 &OUT::HDREXTRA_TYPE, &OUT::HDRINS_TYPE, &OUT::RAW2DEXTRA_TYPE}) {
        EXPECT_EQ(empty.getParameter(*d), "NONE") << d->name;
    }
    EXPECT_EQ(empty.getParameter(OUT::DATAEXTRA_POINT), 1);
}

TEST(OutputDefinitions, ReadsTable) {
    const struct {
        const char *text;
        int point;
        const char *encoder;
    } cases[] = {
        {"OUT_DE_POINT 7\nOUT_ENC NV12\n", 3, "NV12"},
        {"OUT_DE_POINT 0\n", 1, "NONE"},
        {"OUT_DE_POINT 2\nOUT_ENC NV21-10bit\n", 2, "NV21-10bit"},
        {"OUT_DE_POINT two\n", 1, "NONE"},
    };
    for (const auto &c : cases) {
        const ParameterList l = listOf(c.text);
        EXPECT_EQ(l.getParameter(OUT::DATAEXTRA_POINT), c.point) << c.text;
        EXPECT_EQ(l.getParameter(OUT::ENCODER_TYPE), c.encoder) << c.text;
    }
    ParameterList inMemory;
    inMemory.addParameter(Parameter("OUT_DISP", std::vector<std::string>{"RGB 888"}));
    EXPECT_EQ(inMemory.getParameter(OUT::DISPLAY_TYPE), "NONE");
}

TEST(FocusDefinitions, ReadsTable) {
    const ParameterList empty;
    EXPECT_FALSE(empty.getParameter(FOS::FOS_ROI));
    EXPECT_FALSE(empty.getParameter(FOS::FOS_GRID));
    for (const ParamDefArray<int> *d :
         {&FOS::FOS_ROISTART, &FOS::FOS_ROIEND, &FOS::FOS_GRIDSTART, &FOS::FOS_GRIDSIZE}) {
        ASSERT_EQ(d->n, 2u) << d->name;
        EXPECT_EQ(empty.getParameter(*d, 0), 0) << d->name;
        EXPECT_EQ(empty.getParameter(*d, 1), 0) << d->name;
    }
    const ParameterList l = listOf("FOS_ROI_START_COORDS 12\nFOS_GRID_TILE_SIZE 40000 -3\nFOS_ROI_ENABLE 2\n"
                                   "FOS_GRID_ENABLE true\n");
    EXPECT_EQ(l.getParameter(FOS::FOS_ROISTART, 0), 12);
    EXPECT_EQ(l.getParameter(FOS::FOS_ROISTART, 1), 0);
    EXPECT_EQ(l.getParameter(FOS::FOS_GRIDSIZE, 0), 32767);
    EXPECT_EQ(l.getParameter(FOS::FOS_GRIDSIZE, 1), 0);
    EXPECT_TRUE(l.getParameter(FOS::FOS_ROI));
    EXPECT_FALSE(l.getParameter(FOS::FOS_GRID)); // not an integer: the default
}

TEST(OutputAndFocusDefinitions, DefaultsFileComments) {
    ParameterList l;
    l.addParameterDef(OUT::ENCODER_TYPE);
    l.addParameterDef(OUT::DATAEXTRA_POINT);
    l.addParameterDef(FOS::FOS_ROI);
    l.addParameterDef(FOS::FOS_ROISTART);
    std::ostringstream os;
    ParameterFileParser::save(l, os);
    EXPECT_EQ(os.str(), "FOS_ROI_ENABLE 0 // bool {0,1}\n"
                        "FOS_ROI_START_COORDS 0 0 // int[2] range=[0,32767]\n"
                        "OUT_DE_POINT 1 // int range=[1,3]\n"
                        "OUT_ENC NONE // string\n");
}
