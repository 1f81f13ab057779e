// The encoder and display scalers set up from setup files, rendered by the simulated ISP: a 1920x1080 grid through
// the data-generator camera gives NV12 and RGB buffers of the size the scaler modules compute, with the grid lines
// where the rectangle's offset and the pitch put them; an odd row count for a 4:2:0 encoder is refused.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <functional>
#include <memory>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "ispc/DGCamera.h"
#include "ispc/ModuleBLC.h"
#include "ispc/ModuleDSC.h"
#include "ispc/ModuleESC.h"
#include "ispc/ModuleIIF.h"
#include "ispc/ModuleOUT.h"
#include "ispc/ModuleRLT.h"
#include "ispc/ParameterFileParser.h"
#include "sensors/iifdatagen.h"
#include "sim_image.h"
#include "sim_platform_fixture.h"
#include "support/dg_nrv.h"

using namespace ISPC;
using norva_test::stderrOf;

namespace {

constexpr uint32_t kWidth = 1920;
constexpr uint32_t kHeight = 1080;
constexpr uint32_t kGrid = 96; /* grid period; lines 6 pixels wide at multiples of it */

/** A one-frame RGGB NRV file of bright grid lines on a dark ground, 10 bits. */
bool writeGridNrv(const std::string &path) {
    const auto level = [](uint32_t x, uint32_t y) -> uint16_t { return x % kGrid < 6 || y % kGrid < 6 ? 820 : 100; };
    std::vector<uint16_t> cells;
    cells.reserve(size_t(kWidth) * kHeight);
    for (uint32_t cy = 0; cy < kHeight / 2; cy++) {
        for (uint32_t cx = 0; cx < kWidth / 2; cx++) {
            for (uint32_t dy = 0; dy < 2; dy++) {
                for (uint32_t dx = 0; dx < 2; dx++) {
                    cells.push_back(level(2 * cx + dx, 2 * cy + dy));
                }
            }
        }
    }
    return dg_nrv::writeCells(path, kWidth, kHeight, 10, cells);
}

struct ScalerCase {
    const char *name;
    const char *setup; /* the lines of both scalers, "S" standing for ESC or DSC */
    uint32_t width, height;
    double offX, offY, pitchX, pitchY;
};

void PrintTo(const ScalerCase &c, std::ostream *os) { *os << c.name; }

/** The setup lines for both scalers. */
std::string bothScalers(const std::string &lines) {
    std::string out;
    for (const char *prefix : {"ESC", "DSC"}) {
        std::string copy = lines;
        for (size_t at = copy.find("S_"); at != std::string::npos; at = copy.find("S_", at + 4)) {
            copy.replace(at, 1, prefix);
        }
        out += copy;
    }
    return out;
}

class ScalerRender : public norva_test::IspcSimTest, public testing::WithParamInterface<ScalerCase> {
protected:
    static void SetUpTestSuite() {
        char pattern[] = "/tmp/norva-scaler-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
        ASSERT_TRUE(writeGridNrv(dir + "/grid.nrv"));
    }
    static void TearDownTestSuite() { std::system(("rm -rf '" + dir + "'").c_str()); }
    void TearDown() override {
        if (camera && camera->state == Camera::CAM_CAPTURING) {
            stderrOf([&] { camera->stopCapture(); });
        }
        stderrOf([&] { camera.reset(); });
        IspcSimTest::TearDown();
    }

    /** The camera on the grid with NV12 and RGB outputs and the scaler lines, set up (not programmed). */
    void setUpCamera(const std::string &scalers) {
        camera.reset(new DGCamera(0, dir + "/grid.nrv", 0, true));
        ASSERT_EQ(camera->state, Camera::CAM_CONNECTED);
        ASSERT_EQ(IIFDG_ExtendedSetBlanking(camera->getSensor()->getHandle(), 100, 14), QOR_RES_OK);
        for (SetupModule *m : std::initializer_list<SetupModule *>{new ModuleOUT(), new ModuleIIF(), new ModuleBLC(),
                                                                   new ModuleRLT(), new ModuleESC(), new ModuleDSC()}) {
            ASSERT_EQ(camera->getPipeline()->registerModule(m), QOR_RES_OK);
        }
        camera->state = Camera::CAM_REGISTERED;
        std::istringstream text("OUT_ENC NV12\nOUT_DISP RGB888_24\nBLC_SENSOR_BLACK 0 0 0 0\n" + scalers);
        ParameterList setup;
        ASSERT_EQ(ParameterFileParser::parse(text, setup), QOR_RES_OK);
        ASSERT_EQ(camera->loadParameters(setup), QOR_RES_OK);
        ASSERT_EQ(camera->programExposure(), QOR_RES_OK);
    }

    static std::string dir;
    std::unique_ptr<DGCamera> camera;
};

std::string ScalerRender::dir;

/**
 * Checks one plane of `w` x `h` samples against the grid: along an output row whose source row lies between
 * horizontal lines, samples whose source column is on a line are bright and those far from one are dark; likewise
 * down an output column. Returns the number of samples checked.
 */
unsigned checkGrid(const ScalerCase &c, uint32_t w, uint32_t h, const std::function<int(uint32_t, uint32_t)> &at) {
    const auto onLine = [](double v) {
        const double m = v - kGrid * std::floor(v / kGrid);
        return m >= 1.5 && m <= 4.5;
    };
    const auto farFromLine = [](double v) {
        const double m = v - kGrid * std::floor(v / kGrid);
        return m >= 24 && m <= 72;
    };
    unsigned checked = 0;
    uint32_t row = h, column = w;
    for (uint32_t oy = 0; oy < h && row == h; oy++) {
        row = farFromLine(c.offY + oy * c.pitchY) ? oy : h;
    }
    for (uint32_t ox = 0; ox < w && column == w; ox++) {
        column = farFromLine(c.offX + ox * c.pitchX) ? ox : w;
    }
    EXPECT_LT(row, h);
    EXPECT_LT(column, w);
    for (uint32_t ox = 0; ox < w && row < h; ox++) {
        const double x = c.offX + ox * c.pitchX;
        if (onLine(x) || farFromLine(x)) {
            EXPECT_EQ(at(ox, row) > 128, onLine(x)) << "output column " << ox << " source " << x;
            checked++;
        }
    }
    for (uint32_t oy = 0; oy < h && column < w; oy++) {
        const double y = c.offY + oy * c.pitchY;
        if (onLine(y) || farFromLine(y)) {
            EXPECT_EQ(at(column, oy) > 128, onLine(y)) << "output row " << oy << " source " << y;
            checked++;
        }
    }
    return checked;
}

TEST_P(ScalerRender, BuffersOfTheComputedSizeShowTheGridWhereOffsetAndPitchSay) {
    const ScalerCase &c = GetParam();
    setUpCamera(bothScalers(c.setup));
    if (HasFatalFailure()) {
        return;
    }
    ASSERT_EQ(camera->program(), QOR_RES_OK);
    ASSERT_EQ(camera->allocateBufferPool(1), QOR_RES_OK);
    ASSERT_EQ(camera->startCapture(), QOR_RES_OK);
    ASSERT_EQ(camera->enqueueShot(), QOR_RES_OK);
    Shot shot;
    ASSERT_EQ(camera->acquireShot(shot, true), QOR_RES_OK);
    EXPECT_FALSE(shot.bFrameError);
    EXPECT_EQ(shot.YUV.width, c.width);
    EXPECT_EQ(shot.YUV.height, c.height);
    EXPECT_EQ(shot.DISPLAY.width, c.width);
    EXPECT_EQ(shot.DISPLAY.height, c.height);
    if (shot.YUV.width == c.width && shot.YUV.height == c.height) {
        const uint8_t *y = shot.YUV.firstData();
        const size_t stride = shot.YUV.stride;
        EXPECT_GT(checkGrid(c, c.width, c.height, [&](uint32_t x, uint32_t r) { return y[r * stride + x]; }), 20u);
    }
    if (shot.DISPLAY.width == c.width && shot.DISPLAY.height == c.height) {
        const uint8_t *rgb = shot.DISPLAY.firstData();
        const size_t stride = shot.DISPLAY.stride;
        EXPECT_GT(checkGrid(c, c.width, c.height, [&](uint32_t x, uint32_t r) { return rgb[r * stride + 3 * x + 1]; }),
                  20u);
    }
    EXPECT_EQ(camera->releaseShot(shot), QOR_RES_OK);
}

INSTANTIATE_TEST_SUITE_P(
    Scalers, ScalerRender,
    testing::Values(ScalerCase{"ClipAtPitch2", "S_RECT_TYPE cliprect\nS_RECT 100 50 1380 770\nS_PITCH 2 2\n", 640, 360,
                               100, 50, 2, 2},
                    ScalerCase{"CropMarginsAtPitch1_5", "S_RECT_TYPE croprect\nS_RECT 10 10 10 10\nS_PITCH 1.5 1.5\n",
                               1266, 706, 10, 10, 1.5, 1.5},
                    ScalerCase{"AutomaticPitch3", "S_RECT_TYPE croprect\nS_RECT 0 0 640 360\nS_PITCH 0 0\n", 640, 360,
                               0, 0, 3, 3},
                    ScalerCase{"AutomaticPitchCappedAt16", "S_RECT_TYPE outsize\nS_RECT 0 0 100 1080\nS_PITCH 0 1\n",
                               100, 1080, 0, 0, 16, 1}),
    [](const testing::TestParamInfo<ScalerCase> &i) { return std::string(i.param.name); });

// The encoder module keeps a 4:2:0 output even; a block written with an odd row count is refused when the pipeline
// is programmed, by the driver's check of the scaler.
TEST_F(ScalerRender, OddRowCountFor420IsRefused) {
    setUpCamera(bothScalers("S_RECT_TYPE outsize\nS_RECT 0 0 640 360\nS_PITCH 3 3\n"));
    if (HasFatalFailure()) {
        return;
    }
    MC_PIPELINE &mc = *camera->getPipeline()->getMCPipeline();
    mc.sESC.aOutputSize[1] = 359;
    mc.sESC.updateNeeded = 1;
    QOR_RESULT ret = QOR_RES_OK;
    const std::string err = stderrOf([&] { ret = camera->program(); });
    EXPECT_NE(ret, QOR_RES_OK);
    EXPECT_NE(err.find("output height must be even"), std::string::npos) << err;
}

} // namespace
