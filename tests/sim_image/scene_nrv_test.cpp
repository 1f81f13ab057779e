// The test scene writer's NRV files, read back with the data generator's image input: size, depth,
// Bayer order and frame count as asked, and each part of the scene where its layout puts it.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "nrv_test_helpers.h"
#include "scenes/scene_nrv.h"
#include "sim_image.h"

using namespace norva_scenes;

namespace {

/* The four orders as the colour of each position of a 2x2 cell, written out independently of the writer. */
const struct {
    MOSAICType mosaic;
    sSimImageColourModel model;
    const char *cell; // top-left, top-right, bottom-left, bottom-right
} kOrders[] = {
    {MOSAIC_RGGB, SimImage_RGGB, "RGGB"},
    {MOSAIC_GRBG, SimImage_GRBG, "GRBG"},
    {MOSAIC_GBRG, SimImage_GBRG, "GBRG"},
    {MOSAIC_BGGR, SimImage_BGGR, "BGGR"},
};

int channelOf(const char *cell, uint32_t x, uint32_t y) {
    const char c = cell[(y & 1u) * 2 + (x & 1u)];
    return c == 'R' ? 0 : (c == 'G' ? 1 : 2);
}

/** A frame read back: row-major raw codes. */
struct Frame {
    uint32_t width = 0, height = 0;
    std::vector<uint16_t> s;
    uint16_t at(uint32_t x, uint32_t y) const { return s[size_t(y) * width + x]; }
};

/** Every sample of a rectangle, by the colour the order gives it, equals the code of that colour's level. */
void expectPatch(const Frame &f, const Rect &r, const char *cell, const double rgb[3], unsigned depth,
                 const std::string &what) {
    ASSERT_GT(r.area(), 0u) << what;
    const uint16_t code[3] = {SceneCode(rgb[0], depth), SceneCode(rgb[1], depth), SceneCode(rgb[2], depth)};
    unsigned wrong = 0;
    for (uint32_t y = r.y; y < r.y + r.h; y++) {
        for (uint32_t x = r.x; x < r.x + r.w; x++) {
            if (f.at(x, y) != code[channelOf(cell, x, y)] && wrong++ == 0) {
                ADD_FAILURE() << what << " at (" << x << "," << y << "): " << f.at(x, y) << " instead of "
                              << code[channelOf(cell, x, y)];
            }
        }
    }
    EXPECT_EQ(wrong, 0u) << what;
}

} // namespace

TEST(SceneNrv, ReadsBackWithEveryPartInPlace) {
    const std::string dir = nrvtest::TempDir("scenes");
    const uint32_t width = 192, height = 128;
    const unsigned frames = 3;
    for (unsigned depth : {10u, 12u, 8u, 16u}) {
        for (const auto &order : kOrders) {
            const std::string what = std::string(order.cell) + " " + std::to_string(depth) + " bits";
            const std::string path = dir + "/scene_" + order.cell + "_" + std::to_string(depth) + ".nrv";
            ASSERT_EQ(WriteSceneNrv(path, width, height, depth, order.mosaic, frames), QOR_RES_OK) << what;

            sSimImageIn in;
            SimImageIn_init(&in);
            ASSERT_EQ(SimImageIn_loadNRV(&in, path.c_str()), QOR_RES_OK) << what;
            EXPECT_EQ(in.info.ui32Width, width) << what;
            EXPECT_EQ(in.info.ui32Height, height) << what;
            EXPECT_EQ(in.info.ui8BitDepth, depth) << what;
            EXPECT_EQ(in.info.eColourModel, order.model) << what;
            ASSERT_EQ(in.nFrames, frames) << what;

            std::vector<Frame> read(frames);
            for (unsigned k = 0; k < frames; k++) {
                ASSERT_EQ(SimImageIn_convertFrame(&in, static_cast<QOR_INT32>(k)), QOR_RES_OK) << what;
                read[k].width = width;
                read[k].height = height;
                read[k].s.assign(in.pBuffer, in.pBuffer + size_t(width) * height);
            }
            SimImageIn_close(&in);
            for (unsigned k = 1; k < frames; k++)
                EXPECT_EQ(read[k].s, read[0].s) << what << " frame " << k;
            const Frame &f = read[0];
            const SceneLayout l = SceneLayoutOf(width, height);
            const uint16_t top = SceneMaxCode(depth);

            for (int i = 0; i < SceneLayout::kPatches; i++) {
                const double grey[3] = {kGreyLevels[i], kGreyLevels[i], kGreyLevels[i]};
                expectPatch(f, l.grey[i], order.cell, grey, depth, what + " grey patch " + std::to_string(i));
                expectPatch(f, l.colour[i], order.cell, kColourPatches[i], depth,
                            what + " colour patch " + std::to_string(i));
            }
            const double clipped[3] = {1.0, 1.0, 1.0};
            expectPatch(f, l.clipped, order.cell, clipped, depth, what + " clipped patch");

            // Only the clipped patch reaches the top code.
            uint64_t atTop = 0;
            for (uint16_t s : f.s)
                atTop += s == top;
            EXPECT_EQ(atTop, l.clipped.area()) << what;

            // The ramp rises from black at the left edge to its top at the right, never falling.
            for (uint32_t y = l.ramp.y; y < l.ramp.y + l.ramp.h; y += 7) {
                EXPECT_EQ(f.at(0, y), 0) << what;
                EXPECT_EQ(f.at(width - 1, y), SceneCode(kRampTop, depth)) << what;
                for (uint32_t x = 1; x < width; x++)
                    ASSERT_LE(f.at(x - 1, y), f.at(x, y)) << what << " row " << y;
            }

            // The finest bars: the level changes every 2 pixels across the first quarter of the edge zone.
            const uint32_t y = l.edges.y + l.edges.h / 2;
            const uint16_t high = SceneCode(kEdgeHigh, depth), low = SceneCode(kEdgeLow, depth);
            for (uint32_t u = 0; u < l.edges.w / 4; u++) {
                EXPECT_EQ(f.at(l.edges.x + u, y), (u / 2) % 2 ? high : low) << what << " bar pixel " << u;
            }
            // Outside every part, the background.
            EXPECT_EQ(f.at(0, height - 1), SceneCode(kBackground, depth)) << what;
        }
    }
}

TEST(SceneNrv, LayoutKeepsWholeBayerCellsApart) {
    for (const auto &size : {std::pair<uint32_t, uint32_t>{64, 48}, {640, 480}, {1920, 1080}, {1282, 722}}) {
        const SceneLayout l = SceneLayoutOf(size.first, size.second);
        std::vector<Rect> parts = {l.edges, l.clipped};
        for (int i = 0; i < SceneLayout::kPatches; i++) {
            parts.push_back(l.grey[i]);
            parts.push_back(l.colour[i]);
        }
        for (size_t i = 0; i < parts.size(); i++) {
            const Rect &a = parts[i];
            EXPECT_GT(a.area(), 0u) << size.first << "x" << size.second << " part " << i;
            EXPECT_EQ((a.x | a.y | a.w | a.h) & 1u, 0u) << "part " << i;
            EXPECT_LE(a.x + a.w, size.first);
            EXPECT_LE(a.y + a.h, size.second);
            for (size_t j = i + 1; j < parts.size(); j++) {
                const Rect &b = parts[j];
                const bool apart = a.x + a.w <= b.x || b.x + b.w <= a.x || a.y + a.h <= b.y || b.y + b.h <= a.y;
                EXPECT_TRUE(apart) << size.first << "x" << size.second << " parts " << i << " and " << j;
            }
        }
    }
}

TEST(SceneNrv, RefusesWhatItCannotWrite) {
    const std::string dir = nrvtest::TempDir("scenes_refused");
    const struct {
        uint32_t width, height;
        unsigned depth;
        MOSAICType mosaic;
        unsigned frames;
        const char *why;
    } cases[] = {
        {641, 480, 10, MOSAIC_RGGB, 1, "odd width"},  {640, 479, 10, MOSAIC_RGGB, 1, "odd height"},
        {62, 480, 10, MOSAIC_RGGB, 1, "too narrow"},  {640, 46, 10, MOSAIC_RGGB, 1, "too low"},
        {32770, 480, 10, MOSAIC_RGGB, 1, "too wide"}, {640, 480, 7, MOSAIC_RGGB, 1, "depth 7"},
        {640, 480, 17, MOSAIC_RGGB, 1, "depth 17"},   {640, 480, 10, MOSAIC_NONE, 1, "no Bayer order"},
        {640, 480, 10, MOSAIC_RGGB, 0, "no frame"},
    };
    for (const auto &c : cases) {
        const std::string path = dir + "/refused.nrv";
        QOR_RESULT ret = QOR_RES_OK;
        testing::internal::CaptureStderr();
        ret = WriteSceneNrv(path, c.width, c.height, c.depth, c.mosaic, c.frames);
        const std::string log = testing::internal::GetCapturedStderr();
        EXPECT_EQ(ret, QOR_RES_INVALID_PARAM) << c.why;
        EXPECT_NE(log.find("[TEST_SCENE]"), std::string::npos) << c.why << ": " << log;
        EXPECT_EQ(std::fopen(path.c_str(), "rb"), nullptr) << c.why << ": no file is written";
    }
    testing::internal::CaptureStderr();
    EXPECT_NE(WriteSceneNrv(dir + "/no/such/folder/scene.nrv", 640, 480, 10, MOSAIC_RGGB, 1), QOR_RES_OK);
    testing::internal::GetCapturedStderr();
}
