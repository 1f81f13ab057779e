// The chroma offsets of both colour-space converters on one simulated frame: the modules set up for each
// chroma order of the encoder and each channel order of the display, their blocks converted, packed into
// the load structure, decoded by the device and run through the image model on the test chart.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "ci/ci_load_hw2.h"
#include "ispc/ModuleOUT.h"
#include "ispc/ModuleR2Y.h"
#include "ispc/ModuleY2R.h"
#include "mc/mc_pipeline.h"
#include "module_test_util.h"
#include "platform/sim_isp.h"
#include "platform/sim_isp_model.h"
#include "platform/sim_lsdecoder.h"
#include "support/bayer_scene.h"
#include "support/isp_frame.h"

using namespace ISPC;
using namespace norva_test;

namespace {

constexpr uint32_t kW = 160, kH = 120;

/** Unequal offsets on both converters: any that lands on the other chroma channel shifts the colours. */
const char *const kOffsets = "R2Y_OFFSETU 0.0625\nR2Y_OFFSETV -0.03125\nY2R_OFFSETU -0.4375\nY2R_OFFSETV -0.5\n";

/** The display output (4 bytes a pixel) of one frame of the chart. */
std::vector<uint8_t> displayOf(ePxlFormat encoder, ePxlFormat display, const std::string &setup) {
    SceneOptions o;
    o.width = kW;
    o.height = kH;
    o.bitDepth = 12;
    const BayerScene scene = MakeTestChart(o);

    TestRig rig(kW, kH);
    ModuleOUT *out = registered<ModuleOUT>(rig);
    out->encoderType = encoder;
    out->displayType = display;
    ModuleR2Y *r2y = registered<ModuleR2Y>(rig);
    ModuleY2R *y2r = registered<ModuleY2R>(rig);
    const ParameterList list = listOf(setup);
    EXPECT_EQ(r2y->load(list), QOR_RES_OK);
    EXPECT_EQ(y2r->load(list), QOR_RES_OK);
    EXPECT_EQ(r2y->setup(), QOR_RES_OK);
    EXPECT_EQ(y2r->setup(), QOR_RES_OK);

    CI_PIPELINE reg{};
    CI_PIPE_INFO info{};
    norva_sim::IspNeutralSettings(kW, kH, &reg, &info);
    int mask = 0;
    EXPECT_EQ(MC_R2YConvert(&rig.mc().sR2Y, &reg.sRGBToYCC, &mask), QOR_RES_OK);
    EXPECT_EQ(MC_Y2RConvert(&rig.mc().sY2R, &reg.sYCCToRGB, &mask), QOR_RES_OK);
    const CI_HWINFO hw = norva_sim::DefaultDescription().sHWInfo;
    std::vector<char> ls(CI_LOAD_STRUCT_SIZE, 0);
    EXPECT_EQ(HW_CI_LoadPipeline(&hw, &reg, ls.data(), CI_UPD_ALL), QOR_RES_OK);
    CI_PIPELINE decoded{};
    EXPECT_EQ(SimLS_Decode(reinterpret_cast<const QOR_UINT8 *>(ls.data()), ls.size(), &decoded), QOR_RES_OK);
    info.config.eEncType.eFmt = encoder;
    info.config.eDispType.eFmt = display;

    std::vector<uint8_t> enc(size_t(kW) * kH * 2, 0), disp(size_t(kW) * kH * 4, 0);
    std::vector<uint8_t> stats(norva_sim::kIspStatsSize, 0);
    const CI_MODULE_GMA_LUT gamma = norva_sim::DefaultDescription().sGammaLUT;
    const norva_sim::IspInputFrame in = IspInputOf(scene);
    const norva_sim::IspFrameSettings s = IspSettingsOf(decoded, info, gamma);
    norva_sim::IspFrameOutputs outputs;
    outputs.encoder = SemiPlanarOutput(enc, kW, kH);
    outputs.display.data = disp.data();
    outputs.display.size = disp.size();
    outputs.display.stride = 4 * kW;
    outputs.statistics = stats.data();
    norva_sim::IspFrameResult result;
    norva_sim::IspModel model;
    EXPECT_EQ(model.process(in, s, outputs, &result), QOR_RES_OK);
    return disp;
}

/** Mean of byte c of the display's pixels. */
double channelMean(const std::vector<uint8_t> &disp, int c) {
    double sum = 0;
    for (size_t i = 0; i < disp.size(); i += 4)
        sum += disp[i + c];
    return sum / double(disp.size() / 4);
}

} // namespace

// Every chroma order of the encoder and channel order of the display shows the same colours, byte for byte
// (red and blue exchanged on the BGR display), with chroma offsets that differ between the channels.
TEST(ColourConversionFrame, ChromaOffsetsGiveTheSameColoursInEveryChannelOrder) {
    const std::vector<uint8_t> reference = displayOf(YVU_420_PL12_8, RGB_888_32, kOffsets);
    // The offsets are seen: the Y2R offset of the red difference alone moves red (and not blue) by about
    // 16 x 1.5748.
    const std::vector<uint8_t> plain = displayOf(YVU_420_PL12_8, RGB_888_32,
                                                 "R2Y_OFFSETU 0.0625\n"
                                                 "R2Y_OFFSETV -0.03125\n");
    const double shift[2] = {channelMean(reference, 0) - channelMean(plain, 0),
                             channelMean(reference, 2) - channelMean(plain, 2)};
    EXPECT_GT(std::max(shift[0], shift[1]), 15.0);
    EXPECT_LT(std::min(std::abs(shift[0]), std::abs(shift[1])), 1.0);

    const struct {
        ePxlFormat encoder, display;
        bool redBlueExchanged;
    } cases[] = {
        {YUV_420_PL12_8, RGB_888_32, false},
        {YVU_420_PL12_8, BGR_888_32, true},
        {YUV_420_PL12_8, BGR_888_32, true},
        {YUV_422_PL12_8, BGR_888_32, true},
    };
    for (const auto &c : cases) {
        const std::vector<uint8_t> disp = displayOf(c.encoder, c.display, kOffsets);
        ASSERT_EQ(disp.size(), reference.size());
        size_t differing = 0;
        for (size_t i = 0; i < disp.size(); i += 4) {
            const int first = c.redBlueExchanged ? 2 : 0;
            differing += disp[i + first] != reference[i] || disp[i + 1] != reference[i + 1] ||
                         disp[i + 2 - first] != reference[i + 2];
        }
        EXPECT_EQ(differing, 0u) << "encoder " << c.encoder << " display " << c.display;
    }
}
