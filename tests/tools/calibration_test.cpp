// The calibration tool's arithmetic on frames made here: Bayer unpacking, shading grids fitted to flat fields (inner
// and outer vertices), the grid's bilinear gain, white-balance gains, the colour-matrix fit, and the setup file it
// writes, read back by the control core's own reader.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "calibration.h"
#include "ispc/ParameterFileParser.h"
#include "ispc/Parameter.h"
#include "ispc/TemperatureCorrection.h"

using namespace norva_calibration;

namespace {

/** Packs samples(x, y) as 12-bit Bayer rows (two samples per three bytes) at offset + y x stride. */
std::vector<uint8_t> pack12(unsigned w, unsigned h, size_t offset, size_t stride,
                            const std::function<unsigned(unsigned, unsigned)> &sample) {
    std::vector<uint8_t> out(offset + stride * h, 0xEE);
    for (unsigned y = 0; y < h; y++)
        for (unsigned x = 0; x < w; x += 2) {
            const uint32_t v = sample(x, y) | sample(x + 1, y) << 12;
            uint8_t *p = &out[offset + y * stride + x / 2 * 3];
            p[0] = uint8_t(v), p[1] = uint8_t(v >> 8), p[2] = uint8_t(v >> 16);
        }
    return out;
}

TEST(CalibrationFrames, Bayer12RowsBecomeOnePlanePerCellPosition) {
    const unsigned w = 8, h = 4;
    const auto sample = [](unsigned x, unsigned y) { return 100 * y + x + ((x + y) % 3 == 0 ? 3000 : 0); };
    const std::vector<uint8_t> data = pack12(w, h, 16, 20, sample);
    BayerFrame f;
    ASSERT_TRUE(UnpackBayer12(data.data(), data.size(), 16, 20, w, h, "bggr", &f));
    EXPECT_EQ(f.cellsX(), 4u);
    EXPECT_EQ(f.cellsY(), 2u);
    for (unsigned y = 0; y < h; y++)
        for (unsigned x = 0; x < w; x++)
            EXPECT_EQ(f.at((y & 1) * 2 + (x & 1), x / 2, y / 2), float(sample(x, y))) << x << "," << y;
    // BGGR: blue top-left, red bottom-right.
    EXPECT_EQ(f.colour(0), 2u);
    EXPECT_EQ(f.colour(1), 1u);
    EXPECT_EQ(f.colour(3), 0u);
}

TEST(CalibrationFrames, BuffersTooSmallForTheirFrameAreRefused) {
    const std::vector<uint8_t> data = pack12(8, 4, 0, 12, [](unsigned, unsigned) { return 1u; });
    struct Case {
        size_t size, offset, stride;
        unsigned w, h;
    };
    const Case cases[] = {
        {data.size() - 1, 0, 12, 8, 4}, // the last row cut short
        {data.size(), 0, 11, 8, 4},     // a stride shorter than a row
        {data.size(), 4, 12, 8, 4},     // the offset pushes the last row out
        {data.size(), 0, 12, 7, 4},     // odd width
        {data.size(), 0, 12, 8, 0},     // no rows
    };
    for (const Case &c : cases) {
        BayerFrame f;
        EXPECT_FALSE(UnpackBayer12(data.data(), c.size, c.offset, c.stride, c.w, c.h, "rggb", &f))
            << c.size << " " << c.offset << " " << c.stride << " " << c.w << "x" << c.h;
    }
    BayerFrame f;
    EXPECT_TRUE(UnpackBayer12(data.data(), data.size(), 0, 12, 8, 4, "rggb", &f));
}

/**
 * A flat field through a lens that is neither round nor centred and darkens each plane its own way, with a texture
 * that alternates from cell to cell: what the grid must even out.
 */
BayerFrame flatField(unsigned w, unsigned h) {
    BayerFrame f;
    f.width = w;
    f.height = h;
    f.mosaic = "grbg";
    const double fall[4] = {0.45, 0.30, 0.32, 0.38};
    for (unsigned p = 0; p < 4; p++) {
        f.planes[p].resize(size_t(w / 2) * (h / 2));
        for (unsigned cy = 0; cy < h / 2; cy++)
            for (unsigned cx = 0; cx < w / 2; cx++) {
                const double u = (cx - 0.55 * w / 2) / (w / 2), v = (cy - 0.45 * h / 2) / (h / 2);
                const double r2 = 1.2 * u * u + 0.8 * v * v;
                const double texture = (cx + cy) % 2 ? 1.1 : 0.9;
                f.planes[p][size_t(cy) * (w / 2) + cx] = float(2000.0 * texture / (1.0 + fall[p] * r2 + 0.1 * u));
            }
    }
    return f;
}

struct GridCase {
    unsigned width, height, tile;
};
const GridCase kGrids[] = {
    {640, 480, 16},  // vertices on both far edges (320 x 240 cells)
    {1344, 760, 32}, // the last row of vertices past the bottom edge
    {1000, 600, 64}, // fewer, wider tiles; vertices past both far edges
};

TEST(CalibrationShading, GridEvensOutTheFlatFieldItWasFittedTo) {
    for (const GridCase &c : kGrids) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height) + " tile " + std::to_string(c.tile));
        const BayerFrame flat = flatField(c.width, c.height);
        LSH_GRID grid{};
        ASSERT_TRUE(ShadingGrid(flat, c.tile, &grid));
        EXPECT_EQ(grid.ui16TileSize, c.tile);
        EXPECT_EQ(grid.ui16Width, (c.width / 2 + c.tile - 1) / c.tile + 1);
        EXPECT_EQ(grid.ui16Height, (c.height / 2 + c.tile - 1) / c.tile + 1);
        EXPECT_GT(CornerError(flat, nullptr), 0.2);
        EXPECT_LT(CornerError(flat, &grid), 0.004);
        // Everywhere, not only in the corners: blocks of 4 x 4 cells (the texture averages out) against the middle.
        for (unsigned p = 0; p < 4; p++) {
            const auto block = [&](unsigned x0, unsigned y0) {
                double sum = 0;
                for (unsigned cy = y0; cy < y0 + 4; cy++)
                    for (unsigned cx = x0; cx < x0 + 4; cx++)
                        sum += flat.at(p, cx, cy) * GridGain(grid, p, cx, cy);
                return sum / 16;
            };
            const double centre = block(flat.cellsX() / 2 - 2, flat.cellsY() / 2 - 2);
            double worst = 0;
            for (unsigned y0 = 0; y0 + 4 <= flat.cellsY(); y0 += 4)
                for (unsigned x0 = 0; x0 + 4 <= flat.cellsX(); x0 += 4)
                    worst = std::max(worst, std::fabs(block(x0, y0) / centre - 1));
            EXPECT_LT(worst, 0.005) << "plane " << p;
        }
        LSH_Free(&grid);
    }
}

TEST(CalibrationShading, FrameSmallerThanTwoTilesHasNoGrid) {
    LSH_GRID grid{};
    EXPECT_FALSE(ShadingGrid(flatField(120, 200), 32, &grid)); // 60 cells across
    EXPECT_EQ(grid.apMatrix[0], nullptr);
}

TEST(CalibrationShading, GridGainIsBilinearAndHeldPastTheLastVertex) {
    LSH_GRID grid{};
    ASSERT_EQ(LSH_AllocateMatrix(&grid, 3, 2, 16), QOR_RES_OK);
    const float plane[6] = {1, 2, 4, 3, 4, 6}; // rows (1 2 4) and (3 4 6)
    std::copy(plane, plane + 6, grid.apMatrix[1]);
    struct Case {
        double cx, cy, gain;
    };
    const Case cases[] = {
        {0, 0, 1},   {16, 0, 2},  {8, 0, 1.5}, {24, 0, 3},  {0, 8, 2},
        {8, 8, 2.5}, {32, 16, 6}, {40, 16, 6}, {48, 30, 6}, {24, 4, 3.5},
    };
    for (const Case &c : cases)
        EXPECT_NEAR(GridGain(grid, 1, c.cx, c.cy), c.gain, 1e-9) << c.cx << "," << c.cy;
    EXPECT_EQ(GridGain(grid, 0, 8, 8), 0.0) << "plane 0 holds zeros";
    LSH_Free(&grid);
}

TEST(CalibrationWhiteBalance, GainsMakeTheNeutralNeutralWithGreenAtOne) {
    struct Case {
        Rgb neutral;
        double red, blue;
    };
    const Case cases[] = {{{2.0, 1.0, 0.5}, 0.5, 2.0}, {{100, 100, 100}, 1, 1}, {{0.8, 1.0, 1.25}, 1.25, 0.8}};
    for (const Case &c : cases) {
        double g[4];
        NeutralGains(c.neutral, g);
        EXPECT_DOUBLE_EQ(g[0], c.red);
        EXPECT_DOUBLE_EQ(g[1], 1.0);
        EXPECT_DOUBLE_EQ(g[2], 1.0);
        EXPECT_DOUBLE_EQ(g[3], c.blue);
    }
}

std::vector<Rgb> apply(const double m[9], const std::vector<Rgb> &in) {
    std::vector<Rgb> out;
    for (const Rgb &c : in)
        out.push_back(Rgb{m[0] * c.r + m[1] * c.g + m[2] * c.b, m[3] * c.r + m[4] * c.g + m[5] * c.b,
                          m[6] * c.r + m[7] * c.g + m[8] * c.b});
    return out;
}

TEST(CalibrationColour, FitFindsTheMatrixThatMadeTheTargets) {
    const std::vector<Rgb> camera = {{0.5, 0.1, 0.1},  {0.1, 0.45, 0.1}, {0.1, 0.1, 0.5}, {0.1, 0.4, 0.45},
                                     {0.45, 0.1, 0.4}, {0.5, 0.45, 0.1}, {0.2, 0.2, 0.2}, {0.5, 0.5, 0.5}};
    const double matrices[][9] = {
        {1, 0, 0, 0, 1, 0, 0, 0, 1},
        {1.6, -0.4, -0.2, -0.3, 1.5, -0.2, 0.05, -0.55, 1.5}, // rows summing to 1, as a camera's matrix does
    };
    for (const auto &made : matrices) {
        double fitted[9];
        ASSERT_TRUE(FitColourMatrix(camera, apply(made, camera), fitted));
        for (int i = 0; i < 9; i++)
            EXPECT_NEAR(fitted[i], made[i], 1e-9) << "element " << i;
        EXPECT_NEAR(ColourResidual(camera, apply(made, camera), fitted), 0.0, 1e-12);
    }
    // Targets out of reach of a matrix whose rows sum to 1 (all 20 % darker): the rows still sum to 1.
    std::vector<Rgb> darker = camera;
    for (Rgb &c : darker)
        c = Rgb{0.8 * c.r, 0.8 * c.g, 0.8 * c.b};
    double fitted[9];
    ASSERT_TRUE(FitColourMatrix(camera, darker, fitted));
    for (int k = 0; k < 3; k++)
        EXPECT_NEAR(fitted[3 * k] + fitted[3 * k + 1] + fitted[3 * k + 2], 1.0, 1e-12);
    EXPECT_GT(ColourResidual(camera, darker, fitted), 0.01);
}

TEST(CalibrationColour, ColoursThatDoNotDetermineAMatrixAreRefused) {
    double m[9];
    const std::vector<Rgb> twoColours = {{0.5, 0.1, 0.1}, {0.1, 0.5, 0.1}};
    EXPECT_FALSE(FitColourMatrix(twoColours, twoColours, m));
    const std::vector<Rgb> greys = {{0.1, 0.1, 0.1}, {0.3, 0.3, 0.3}, {0.6, 0.6, 0.6}};
    EXPECT_FALSE(FitColourMatrix(greys, greys, m));
    const std::vector<Rgb> three = {{0.5, 0.1, 0.1}, {0.1, 0.5, 0.1}, {0.1, 0.1, 0.5}};
    EXPECT_FALSE(FitColourMatrix(three, twoColours, m)) << "targets and colours of different counts";
}

TEST(CalibrationSetupFile, BaseFileKeptBlackLevelReplacedCalibrationAppended) {
    const std::string base = "// Reference setup\n"
                             "\n"
                             "// Black level: none for the generated scenes\n"
                             "// (a second line of that comment)\n"
                             "BLC_SENSOR_BLACK 0 0 0 0\n"
                             "\n"
                             "// YUV to RGB\n"
                             "Y2R_MATRIX BT709\n"
                             "WB_CORRECTIONS 1\n"
                             "LSH_CTRL_CORRECTIONS 5\n"
                             "SHA_RADIUS 2.5 // sharpening\n";
    Calibration c;
    c.header = "// Calibrated\n\n";
    c.blackComment = "// Measured black level\n";
    for (int i = 0; i < 4; i++)
        c.sensorBlack[i] = 16 + i;
    for (double kelvin : {2800.0, 6500.0}) {
        WhiteBalancePoint p;
        p.kelvin = kelvin;
        p.gains[0] = kelvin == 2800 ? 0.5716 : 1.0;
        p.gains[3] = kelvin == 2800 ? 2.3524 : 1.0;
        if (kelvin == 2800) { // rows summing to 1 whose elements round away from it
            const double ccm[9] = {1.0009, -0.0004, -0.0005, 0.1234, 0.9, -0.0234, 0, -0.2506, 1.2506};
            std::copy(ccm, ccm + 9, p.ccm);
        }
        c.whiteBalance.push_back(p);
    }
    c.shading = {{2800, "out/s/lsh_2800K.lsh", 1.0}, {6500, "out/s/lsh_6500K.lsh", 1.0}};
    c.bitsPerDiff = 7;
    const std::string text = SetupFileText(base, c);

    EXPECT_EQ(
        text.rfind("// Calibrated\n\n// Reference setup\n\n// Measured black level\nBLC_SENSOR_BLACK 16 17 18 19\n"
                   "\n// YUV to RGB\nY2R_MATRIX BT709\nSHA_RADIUS 2.5 // sharpening\n",
                   0),
        0u)
        << text;
    EXPECT_EQ(text.find("Black level: none"), std::string::npos) << "the replaced line's comment went with it";
    EXPECT_EQ(text.find("WB_CORRECTIONS 1\n"), std::string::npos);
    EXPECT_EQ(text.find("LSH_CTRL_CORRECTIONS 5"), std::string::npos);
    EXPECT_NE(text.find("WB_GAINS_0 0.5716 1 1 2.3524\n"), std::string::npos) << text;
    EXPECT_NE(text.find("WB_CCM_0 1.001 0 -0.001 0.123 0.9 -0.023 0 -0.251 1.251\n"), std::string::npos) << text;
    EXPECT_NE(text.find("WB_CCM_1 1 0 0 0 1 0 0 0 1\n"), std::string::npos) << text;
    EXPECT_NE(text.find("LSH_CTRL_FILE_1 out/s/lsh_6500K.lsh\n"), std::string::npos) << text;

    // The control core reads it: both corrections, in order, and the lens-shading table.
    std::istringstream in(text);
    ISPC::ParameterList list;
    ASSERT_EQ(ISPC::ParameterFileParser::parse(in, list), QOR_RES_OK);
    ISPC::TemperatureCorrection wb;
    ASSERT_EQ(wb.loadParameters(list), QOR_RES_OK);
    ASSERT_EQ(wb.size(), 2);
    EXPECT_TRUE(wb.hasCalibrationPoints());
    EXPECT_EQ(wb.getCorrection(0).temperature, 2800.0);
    EXPECT_NEAR(wb.getCorrection(0).gains[0][3], 2.3524, 1e-9);
    EXPECT_EQ(list.getParameter<int>("LSH_CTRL_CORRECTIONS", 0, 0, 200, -1), 2);
    EXPECT_EQ(list.getParameter<int>("LSH_CTRL_BITS_DIFF", 0, 0, 10, -1), 7);
    EXPECT_EQ(list.getParameter<int>("LSH_CTRL_TEMPERATURE_1", 0, 0, 100000, -1), 6500);
    EXPECT_EQ(list.getParameterString("LSH_CTRL_FILE_0", 0, ""), "out/s/lsh_2800K.lsh");
    EXPECT_EQ(list.getParameter<int>("BLC_SENSOR_BLACK", 3, -128, 127, -1), 19);
}

TEST(CalibrationSetupFile, BlackLevelAddedWhenTheBaseHasNone) {
    Calibration c;
    c.sensorBlack[0] = c.sensorBlack[1] = c.sensorBlack[2] = c.sensorBlack[3] = 16;
    const std::string text = SetupFileText("Y2R_MATRIX BT709\n", c);
    EXPECT_EQ(text.rfind("Y2R_MATRIX BT709\n\nBLC_SENSOR_BLACK 16 16 16 16\n", 0), 0u) << text;
    EXPECT_NE(text.find("WB_CORRECTIONS 0\n"), std::string::npos);
    EXPECT_NE(text.find("LSH_CTRL_CORRECTIONS 0\n"), std::string::npos);
}

TEST(CalibrationSetupFile, GamutClipReplacesTheBasesWhenSet) {
    const std::string base = "// Gamut clip of the base\nMGM_CLIP_MAX 1.5\nY2R_MATRIX BT709\n";
    Calibration c;
    c.gamutComment = "// Clip at full scale\n";
    EXPECT_NE(SetupFileText(base, c).find("// Gamut clip of the base\nMGM_CLIP_MAX 1.5\n"), std::string::npos)
        << "no clip of the calibration: the base's stays";
    c.gamutClip = 1.0;
    const std::string text = SetupFileText(base, c);
    EXPECT_EQ(text.find("1.5"), std::string::npos) << text;
    EXPECT_EQ(text.find("Gamut clip of the base"), std::string::npos) << text;
    EXPECT_NE(text.find("// Clip at full scale\nMGM_CLIP_MAX 1\n"), std::string::npos) << text;
    std::istringstream in(text);
    ISPC::ParameterList list;
    ASSERT_EQ(ISPC::ParameterFileParser::parse(in, list), QOR_RES_OK);
    EXPECT_EQ(list.getParameter<double>("MGM_CLIP_MAX", 0, 0.0, 2.0, -1.0), 1.0);
}

TEST(CalibrationSetupFile, GamutClipOnlyWhereTheFrameFitsOneMeasurement) {
    // The largest channel sum of the white-balance statistics, pixels x 1024, against 32 bits.
    const struct {
        unsigned width, height;
        double clip;
    } cases[] = {{2688, 1520, 1.0}, {1920, 1080, 1.0}, {2048, 2047, 1.0}, {2048, 2048, 0.0}, {4096, 2160, 0.0}};
    for (const auto &k : cases)
        EXPECT_EQ(StatisticsGamutClip(k.width, k.height), k.clip) << k.width << "x" << k.height;
}

TEST(CalibrationSetupFile, CommentsAreBrokenBetweenWords) {
    EXPECT_EQ(CommentLines("one two three four", 12), "// one two\n// three\n// four\n");
    EXPECT_EQ(CommentLines("a-word-longer-than-the-width", 8), "// a-word-longer-than-the-width\n");
    EXPECT_EQ(CommentLines(""), "");
}

TEST(CalibrationShading, DefaultTileCutsTheFrameIntoTwentyToFortyTiles) {
    const unsigned cases[][2] = {{1344, 64}, {960, 32}, {672, 32}, {320, 16}, {2320, 64}, {4096, 128}};
    for (const auto &c : cases) {
        EXPECT_EQ(DefaultTile(c[0]), c[1]) << c[0] << " cells";
        EXPECT_GE(c[0] / DefaultTile(c[0]), 20u);
    }
}

} // namespace
