// The test chart through the data-generator camera with the colour modules (gamut mappers, gamma, RGB-to-YUV, tone
// mapper, scalers, YUV-to-RGB) and the project's reference setup file: ffmpeg decodes the encoder output, as a
// player assumes it (limited range, the matrix of the setup), to the colours of the display output; greys keep
// their chroma at the mid level; the display is full range with the reference file and limited without it.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "ispc/DGCamera.h"
#include "ispc/ModuleBLC.h"
#include "ispc/ModuleDGM.h"
#include "ispc/ModuleDSC.h"
#include "ispc/ModuleESC.h"
#include "ispc/ModuleGMA.h"
#include "ispc/ModuleIIF.h"
#include "ispc/ModuleMGM.h"
#include "ispc/ModuleOUT.h"
#include "ispc/ModuleR2Y.h"
#include "ispc/ModuleRLT.h"
#include "ispc/ModuleTNM.h"
#include "ispc/ModuleY2R.h"
#include "ispc/ParameterFileParser.h"
#include "scenes/scene_nrv.h"
#include "sensors/iifdatagen.h"
#include "sim_platform_fixture.h"

using namespace ISPC;
using norva_test::Rect;
using norva_test::stderrOf;

namespace {

constexpr uint32_t kWidth = 640; /* 16 tone-mapper columns of 40 pixels */
constexpr uint32_t kHeight = 480;

const std::string kReferenceSetup = std::string(NORVA_TEST_SUPPORT_DIR) + "/../../data/setup/reference.txt";

struct ChartCase {
    const char *name;
    const char *encoder; /* the setup's name, also ffmpeg's pixel format in lower case */
    const char *matrix;  /* "BT709" or "BT601" */
    bool reference;      /* load the reference setup file */
};

void PrintTo(const ChartCase &c, std::ostream *os) { *os << c.name; }

/** Mean of byte `c` of `channels`-byte pixels over the centre half of a rectangle. */
double centreMean(const uint8_t *first, size_t stride, unsigned channels, unsigned c, const Rect &r) {
    double sum = 0;
    unsigned n = 0;
    for (uint32_t y = r.y + r.h / 4; y < r.y + 3 * r.h / 4; y++) {
        for (uint32_t x = r.x + r.w / 4; x < r.x + 3 * r.w / 4; x++, n++) {
            sum += first[y * stride + size_t(x) * channels + c];
        }
    }
    return sum / n;
}

class ColourChart : public norva_test::IspcSimTest, public testing::WithParamInterface<ChartCase> {
protected:
    void SetUp() override {
        IspcSimTest::SetUp();
        char pattern[] = "/tmp/norva-colour-chart-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
        ASSERT_EQ(norva_scenes::WriteSceneNrv(dir + "/scene.nrv", kWidth, kHeight, 10, MOSAIC_RGGB, 1), QOR_RES_OK);
    }
    void TearDown() override {
        if (camera && camera->state == Camera::CAM_CAPTURING) {
            stderrOf([&] { camera->stopCapture(); });
        }
        stderrOf([&] { camera.reset(); });
        std::system(("rm -rf '" + dir + "'").c_str());
        IspcSimTest::TearDown();
    }

    /** One frame of the chart: the encoder output as a plain semi-planar file, the display output as R, G, B. */
    void capture(const ChartCase &c) {
        camera.reset(new DGCamera(0, dir + "/scene.nrv", 0, true));
        ASSERT_EQ(camera->state, Camera::CAM_CONNECTED);
        ASSERT_EQ(IIFDG_ExtendedSetBlanking(camera->getSensor()->getHandle(), 100, 14), QOR_RES_OK);
        for (SetupModule *m :
             std::initializer_list<SetupModule *>{new ModuleOUT(), new ModuleIIF(), new ModuleBLC(), new ModuleRLT(),
                                                  new ModuleMGM(), new ModuleGMA(), new ModuleR2Y(), new ModuleTNM(),
                                                  new ModuleESC(), new ModuleDSC(), new ModuleY2R(), new ModuleDGM()}) {
            ASSERT_EQ(camera->getPipeline()->registerModule(m), QOR_RES_OK);
        }
        camera->state = Camera::CAM_REGISTERED;
        ParameterList setup = c.reference ? ParameterFileParser::parseFile(kReferenceSetup) : ParameterList();
        if (c.reference) {
            ASSERT_TRUE(setup.exists("Y2R_RANGE_MUL")) << kReferenceSetup;
        }
        std::istringstream text(std::string("OUT_ENC ") + c.encoder +
                                "\nOUT_DISP RGB888_24\nBLC_SENSOR_BLACK 0 0 0 0\n" + "R2Y_MATRIX " + c.matrix +
                                "\nY2R_MATRIX " + c.matrix + "\n");
        ASSERT_EQ(ParameterFileParser::parse(text, setup), QOR_RES_OK);
        ASSERT_EQ(camera->loadParameters(setup), QOR_RES_OK);
        ASSERT_EQ(camera->programExposure(), QOR_RES_OK);
        ASSERT_EQ(camera->program(), QOR_RES_OK);
        ASSERT_EQ(camera->allocateBufferPool(1), QOR_RES_OK);
        ASSERT_EQ(camera->startCapture(), QOR_RES_OK);
        ASSERT_EQ(camera->enqueueShot(), QOR_RES_OK);
        Shot shot;
        ASSERT_EQ(camera->acquireShot(shot, true), QOR_RES_OK);
        ASSERT_FALSE(shot.bFrameError);
        ASSERT_EQ(shot.YUV.width, kWidth);
        ASSERT_EQ(shot.YUV.height, kHeight);
        std::ofstream out(dir + "/frame.yuv", std::ios::binary);
        for (uint32_t y = 0; y < kHeight; y++) {
            out.write(reinterpret_cast<const char *>(shot.YUV.firstData() + size_t(y) * shot.YUV.stride), kWidth);
        }
        for (uint32_t y = 0; y < kHeight / 2; y++) {
            out.write(reinterpret_cast<const char *>(shot.YUV.firstDataCbCr() + size_t(y) * shot.YUV.strideCbCr),
                      kWidth);
        }
        out.close();
        luma.resize(size_t(kWidth) * kHeight);
        chroma.resize(size_t(kWidth) * kHeight / 2);
        display.resize(size_t(kWidth) * kHeight * 3);
        for (uint32_t y = 0; y < kHeight; y++) {
            std::copy_n(shot.YUV.firstData() + size_t(y) * shot.YUV.stride, kWidth, &luma[size_t(y) * kWidth]);
            if (y < kHeight / 2) {
                std::copy_n(shot.YUV.firstDataCbCr() + size_t(y) * shot.YUV.strideCbCr, kWidth,
                            &chroma[size_t(y) * kWidth]);
            }
            const uint8_t *row = shot.DISPLAY.firstData() + size_t(y) * shot.DISPLAY.stride;
            for (uint32_t x = 0; x < kWidth; x++) { /* RGB_888_24 holds B, G, R */
                for (int k = 0; k < 3; k++) {
                    display[(size_t(y) * kWidth + x) * 3 + k] = row[3 * x + 2 - k];
                }
            }
        }
        ASSERT_EQ(camera->releaseShot(shot), QOR_RES_OK);
    }

    /** The encoder file decoded by ffmpeg as a player decodes it (limited range, the setup's matrix) into R, G, B. */
    std::vector<uint8_t> decode(const ChartCase &c, const std::string &extra = "") {
        const std::string format = c.encoder == std::string("NV12") ? "nv12" : "nv21";
        const std::string matrix = c.matrix == std::string("BT709") ? "bt709" : "bt601";
        const std::string command = "ffmpeg -loglevel error -y -f rawvideo -pix_fmt " + format + " -s " +
                                    std::to_string(kWidth) + "x" + std::to_string(kHeight) + " -i '" + dir +
                                    "/frame.yuv' -vf scale=in_color_matrix=" + matrix +
                                    ":in_range=tv:out_range=pc:flags=accurate_rnd+full_chroma_int -f rawvideo " +
                                    "-pix_fmt rgb24 '" + dir + "/decoded.rgb'" + extra;
        EXPECT_EQ(std::system(command.c_str()), 0) << command;
        std::ifstream in(dir + "/decoded.rgb", std::ios::binary);
        return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    }

    /** Mean of the first (0) or second (1) chroma sample in memory over the centre of a rectangle. */
    double chromaMean(const Rect &r, unsigned which) const {
        double sum = 0;
        unsigned n = 0;
        for (uint32_t y = r.y + r.h / 4; y < r.y + 3 * r.h / 4; y += 2) {
            for (uint32_t x = r.x + r.w / 4; x < r.x + 3 * r.w / 4; x += 2, n++) {
                sum += chroma[size_t(y / 2) * kWidth + (x & ~1u) + which];
            }
        }
        return sum / n;
    }

    std::string dir;
    std::unique_ptr<DGCamera> camera;
    std::vector<uint8_t> luma, chroma, display;
};

bool haveFfmpeg() { return std::system("ffmpeg -version >/dev/null 2>&1") == 0; }

TEST_P(ColourChart, PlayersDecodeTheDisplayColours) {
    if (!haveFfmpeg()) {
        GTEST_SKIP() << "ffmpeg is not installed (scripts/deps.sh installs it)";
    }
    const ChartCase &c = GetParam();
    capture(c);
    if (HasFatalFailure()) {
        return;
    }
    const norva_test::ChartLayout layout = norva_scenes::SceneLayoutOf(kWidth, kHeight);
    const Rect white = layout.clipped, black{layout.ramp.x, layout.ramp.y, 2, layout.ramp.h};
    const double top = c.reference ? 255.0 : 219.0;
    for (int k = 0; k < 3; k++) {
        EXPECT_NEAR(centreMean(display.data(), 3 * kWidth, 3, k, white), top, 1.0) << "white, channel " << k;
    }
    // the ramp's first column is black, but the demosaic lends it a trace of its neighbours, which the blue and red
    // gains of the chroma turn into a few codes; green, mostly luma, shows the black level itself
    EXPECT_NEAR(centreMean(display.data(), 3 * kWidth, 3, 1, black), 0.0, 1.0) << "black";
    EXPECT_LE(centreMean(display.data(), 3 * kWidth, 3, 0, black), 4.0) << "black, red";
    EXPECT_LE(centreMean(display.data(), 3 * kWidth, 3, 2, black), 4.0) << "black, blue";
    // greys: chroma at the mid level, luma on the limited scale of the display value
    for (const Rect &g : layout.grey) {
        const double v = centreMean(display.data(), 3 * kWidth, 3, 1, g) / top;
        EXPECT_NEAR(centreMean(luma.data(), kWidth, 1, 0, g), 16.0 + 219.0 * v, 2.0);
        EXPECT_NEAR(chromaMean(g, 0), 128.0, 2.0);
        EXPECT_NEAR(chromaMean(g, 1), 128.0, 2.0);
    }
    if (!c.reference) {
        return; /* a player stretches the limited range; the display without the reference file does not */
    }
    const std::vector<uint8_t> decoded =
        decode(c, " && ffmpeg -loglevel error -y -f rawvideo -pix_fmt rgb24 -s " + std::to_string(kWidth) + "x" +
                      std::to_string(kHeight) + " -i '" + dir + "/decoded.rgb' '" + dir + "/decoded.png'");
    ASSERT_EQ(decoded.size(), display.size());
    std::vector<Rect> patches(std::begin(layout.grey), std::end(layout.grey));
    patches.insert(patches.end(), std::begin(layout.colour), std::end(layout.colour));
    patches.push_back(white);
    for (const Rect &p : patches) {
        for (int k = 0; k < 3; k++) {
            EXPECT_NEAR(centreMean(decoded.data(), 3 * kWidth, 3, k, p),
                        centreMean(display.data(), 3 * kWidth, 3, k, p), 4.0)
                << "patch at " << p.x << "," << p.y << " channel " << k;
        }
    }
    std::ifstream png(dir + "/decoded.png", std::ios::binary);
    EXPECT_TRUE(png.good()) << "ffmpeg wrote no image for a person to view";
}

INSTANTIATE_TEST_SUITE_P(Chart, ColourChart,
                         testing::Values(ChartCase{"NV12_BT709", "NV12", "BT709", true},
                                         ChartCase{"NV21_BT709", "NV21", "BT709", true},
                                         ChartCase{"NV12_BT601", "NV12", "BT601", true},
                                         ChartCase{"NV21_BT601", "NV21", "BT601", true},
                                         ChartCase{"NV12_PartDefaults", "NV12", "BT709", false}),
                         [](const testing::TestParamInfo<ChartCase> &i) { return std::string(i.param.name); });

} // namespace
