#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "norvacommon/pixel_transform.h"
#include "support/output_capture.h"

namespace {

struct Freer {
    void operator()(QOR_UINT8 *p) const { std::free(p); }
};
using Owned = std::unique_ptr<QOR_UINT8, Freer>;

/** A tiled buffer built tile by tile: byte = tile index * 16 + row within the tile, in every column. */
std::vector<uint8_t> Tiles(unsigned tileW, unsigned tileH, unsigned nTiles) {
    std::vector<uint8_t> v(size_t(tileW) * tileH * nTiles);
    for (unsigned t = 0; t < nTiles; t++) {
        for (unsigned r = 0; r < tileH; r++) {
            for (unsigned x = 0; x < tileW; x++) {
                v[(size_t(t) * tileH + r) * tileW + x] = uint8_t(t * 16 + r);
            }
        }
    }
    return v;
}

TEST(BufferDeTile, RowsAreAssembledFromTheTilesAbove) {
    // 512-byte tiles of 8 rows, 2048-byte rows: 4 tiles per tile row
    const std::vector<uint8_t> in = Tiles(512, 8, 8);
    std::vector<uint8_t> out(2048 * 16, 0xEE);
    ASSERT_EQ(BufferDeTile(512, 8, 2048, in.data(), out.data(), 2048, 16), QOR_RES_OK);
    for (unsigned y = 0; y < 16; y++) {
        for (unsigned t = 0; t < 4; t++) {
            const unsigned tile = (y / 8) * 4 + t;
            EXPECT_EQ(out[size_t(y) * 2048 + t * 512], tile * 16 + y % 8) << y << " " << t;
            EXPECT_EQ(out[size_t(y) * 2048 + t * 512 + 511], tile * 16 + y % 8) << y << " " << t;
        }
    }
}

TEST(BufferDeTile, APartialTileRowStillConsumesWholeTiles) {
    // 12 rows of 8-row tiles: the second tile row is copied for 4 rows, and each of its tiles starts at a whole
    // tile of the input
    const std::vector<uint8_t> in = Tiles(512, 8, 8);
    std::vector<uint8_t> out(2048 * 12, 0xEE);
    ASSERT_EQ(BufferDeTile(512, 8, 2048, in.data(), out.data(), 2048, 12), QOR_RES_OK);
    for (unsigned t = 0; t < 4; t++) {
        EXPECT_EQ(out[size_t(7) * 2048 + t * 512], t * 16 + 7);
        EXPECT_EQ(out[size_t(8) * 2048 + t * 512], (4 + t) * 16) << t;
        EXPECT_EQ(out[size_t(11) * 2048 + t * 512], (4 + t) * 16 + 3) << t;
    }
}

TEST(BufferDeTile, BadGeometryIsRefused) {
    std::vector<uint8_t> in(4096), out(4096);
    struct Case {
        const char *what;
        uint32_t tw, th, ts, hs, vs;
        bool nullIn;
        QOR_RESULT expected;
        const char *message;
    } cases[] = {
        {"null input", 256, 16, 256, 256, 16, true, QOR_RES_INVALID_PARAM, "pInput or pOutput is NULL"},
        {"zero height", 256, 0, 256, 256, 16, false, QOR_RES_INVALID_PARAM, "one of the size is 0"},
        {"stride below tile stride", 256, 16, 512, 256, 16, false, QOR_RES_INVALID_PARAM, "ui32TileStride is bigger"},
        {"tile wider than its row", 512, 8, 256, 512, 8, false, QOR_RES_INVALID_PARAM, "ui32TileStride is bigger"},
        {"stride not a tile multiple", 256, 16, 256, 300, 13, false, QOR_RES_NOT_SUPPORTED, "not divisible"},
        {"tile stride not a tile multiple", 256, 16, 384, 768, 5, false, QOR_RES_NOT_SUPPORTED,
         "ui32TileStride%ui32TileWidth=128, ui32OutputHStride%ui32TileStride=0"},
    };
    for (const Case &c : cases) {
        const std::string err = norva_test::stderrOf([&] {
            EXPECT_EQ(BufferDeTile(c.tw, c.th, c.ts, c.nullIn ? nullptr : in.data(), out.data(), c.hs, c.vs),
                      c.expected)
                << c.what;
        });
        EXPECT_TRUE(norva_test::contains(err, c.message)) << c.what << ": " << err;
    }
}

TEST(BufferTransform, SemiPlanarExpandsToFullChromaPlanes) {
    // NV21 4x2: luma 0..7, chroma pairs (V, U) = (100, 200), (101, 201)
    const uint8_t nv21[12] = {0, 1, 2, 3, 4, 5, 6, 7, 100, 200, 101, 201};
    Owned out(BufferTransformYUVTo444(nv21, QOR_FALSE, YVU_420_PL12_8, 4, 2, 4, 2));
    ASSERT_TRUE(out);
    const uint8_t *p = out.get();
    for (int i = 0; i < 8; i++) {
        EXPECT_EQ(p[i], i);
    }
    const uint8_t u[8] = {200, 200, 201, 201, 200, 200, 201, 201};
    const uint8_t v[8] = {100, 100, 101, 101, 100, 100, 101, 101};
    for (int i = 0; i < 8; i++) {
        EXPECT_EQ(p[8 + i], u[i]) << i;
        EXPECT_EQ(p[16 + i], v[i]) << i;
    }
    // NV12 (bUV) keeps the pair's order; a smaller output crops
    Owned crop(BufferTransformYUVTo444(nv21, QOR_TRUE, YUV_420_PL12_8, 4, 2, 2, 2));
    ASSERT_TRUE(crop);
    EXPECT_EQ(crop.get()[2], 4);
    EXPECT_EQ(crop.get()[4], 100);
    EXPECT_EQ(crop.get()[8], 200);
}

TEST(BufferTransform, OddSizesFillTheLastColumnAndRow) {
    // NV16 of 5x3 (4:2:2): chroma rows of 5 bytes hold two whole pairs; the fifth column repeats the fourth
    std::vector<uint8_t> nv16(5 * 3 * 2, 0);
    for (int r = 0; r < 3; r++) {
        nv16[15 + 5 * r + 0] = uint8_t(10 + r), nv16[15 + 5 * r + 1] = uint8_t(20 + r);
        nv16[15 + 5 * r + 2] = uint8_t(30 + r), nv16[15 + 5 * r + 3] = uint8_t(40 + r);
        nv16[15 + 5 * r + 4] = 0xFF;
    }
    Owned out(BufferTransformYUVTo444(nv16.data(), QOR_TRUE, YUV_422_PL12_8, 5, 3, 5, 3));
    ASSERT_TRUE(out);
    const uint8_t *u = out.get() + 15;
    const uint8_t *v = out.get() + 30;
    for (int r = 0; r < 3; r++) {
        EXPECT_EQ(u[5 * r + 4], 30 + r) << r;
        EXPECT_EQ(v[5 * r + 4], 40 + r) << r;
    }
    // NV12 of 3x3: the last row repeats the one above
    std::vector<uint8_t> nv12(3 * 3 + 3 * 2, 0);
    nv12[9] = 50, nv12[10] = 60;
    Owned odd(BufferTransformYUVTo444(nv12.data(), QOR_TRUE, YUV_420_PL12_8, 3, 3, 3, 3));
    ASSERT_TRUE(odd);
    for (int i = 0; i < 9; i++) {
        EXPECT_EQ(odd.get()[9 + i], 50) << i;
        EXPECT_EQ(odd.get()[18 + i], 60) << i;
    }
}

TEST(BufferTransform, RefusedInputsGiveNull) {
    const uint8_t buf[64] = {};
    struct Case {
        const char *what;
        pxlFormat fmt;
        uint32_t iw, ih, ow, oh;
    } cases[] = {
        {"10-bit", YUV_420_PL12_10, 4, 2, 4, 2},
        {"packed 4:4:4", PXL_ISP_444IL3YCbCr8, 4, 2, 4, 2},
        {"RGB", RGB_888_24, 4, 2, 4, 2},
        {"empty", YUV_420_PL12_8, 0, 2, 0, 2},
        {"output wider", YUV_420_PL12_8, 4, 2, 6, 2},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(BufferTransformYUVTo444(buf, QOR_TRUE, c.fmt, c.iw, c.ih, c.ow, c.oh), nullptr) << c.what;
    }
    const double id[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1}, off[3] = {0, 0, 0};
    for (pxlFormat f : {RGB_101010_32, BGR_101010_32, BGR_161616_64, YUV_420_PL12_8}) {
        EXPECT_EQ(BufferTransformYUV444ToRGB(buf, QOR_TRUE, f, QOR_FALSE, 2, 2, id, off), nullptr) << f;
    }
}

TEST(BufferTransform, IdentityMatrixCopiesAndClips) {
    // planes Y, U, V of 2x1
    const uint8_t yuv[6] = {10, 250, 20, 30, 40, 50};
    const double id[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1}, zero[3] = {0, 0, 0};
    Owned rgb(BufferTransformYUV444ToRGB(yuv, QOR_TRUE, RGB_888_32, QOR_FALSE, 2, 1, id, zero));
    ASSERT_TRUE(rgb);
    const uint8_t want[8] = {10, 20, 40, 0, 250, 30, 50, 0};
    EXPECT_EQ(std::vector<uint8_t>(rgb.get(), rgb.get() + 8), std::vector<uint8_t>(want, want + 8));
    Owned bgr(BufferTransformYUV444ToRGB(yuv, QOR_TRUE, RGB_888_24, QOR_TRUE, 2, 1, id, zero));
    ASSERT_TRUE(bgr);
    EXPECT_EQ(bgr.get()[0], 40);
    EXPECT_EQ(bgr.get()[2], 10);
    const double shift[3] = {-20, 0, 300};
    Owned clipped(BufferTransformYUV444ToRGB(yuv, QOR_TRUE, RGB_888_24, QOR_FALSE, 2, 1, id, shift));
    ASSERT_TRUE(clipped);
    EXPECT_EQ(clipped.get()[0], 0);
    EXPECT_EQ(clipped.get()[2], 255);
    EXPECT_EQ(clip(254.99), 254);
    EXPECT_EQ(clip(-0.5), 0);
    EXPECT_EQ(clip(1e9), 255);
}

TEST(BufferTransform, Nv12ToRgbAgreesWithFfmpeg) {
    if (std::system("command -v ffmpeg >/dev/null") != 0) {
        GTEST_SKIP() << "ffmpeg missing";
    }
    // chroma constant over 8x8 blocks so that the upsampling filter does not matter away from block edges
    const unsigned W = 64, H = 32;
    std::vector<uint8_t> nv12(W * H * 3 / 2);
    for (unsigned y = 0; y < H; y++) {
        for (unsigned x = 0; x < W; x++) {
            nv12[y * W + x] = uint8_t(16 + (x * 7 + y * 5) % 220);
        }
    }
    for (unsigned y = 0; y < H / 2; y++) {
        for (unsigned x = 0; x < W / 2; x++) {
            const unsigned b = (x / 4) + 8 * (y / 4);
            nv12[W * H + y * W + 2 * x] = uint8_t(40 + (b * 37) % 180);
            nv12[W * H + y * W + 2 * x + 1] = uint8_t(30 + (b * 53) % 200);
        }
    }
    const std::string in = "pixbuf_nv12.yuv", out = "pixbuf_rgb24.raw";
    std::ofstream(in, std::ios::binary).write(reinterpret_cast<const char *>(nv12.data()), nv12.size());
    const std::string cmd = "ffmpeg -v error -y -f rawvideo -pix_fmt nv12 -s 64x32 -i " + in +
                            " -vf scale=in_range=full:out_range=full:in_color_matrix=bt601:flags=neighbor+accurate_rnd"
                            "+full_chroma_int -f rawvideo -pix_fmt rgb24 " +
                            out;
    ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
    std::ifstream f(out, std::ios::binary);
    std::vector<uint8_t> ref((std::istreambuf_iterator<char>(f)), {});
    ASSERT_EQ(ref.size(), size_t(W * H * 3));

    Owned planes(BufferTransformYUVTo444(nv12.data(), QOR_TRUE, YUV_420_PL12_8, W, H, W, H));
    ASSERT_TRUE(planes);
    const double bt601[9] = {1, 0, 1.402, 1, -0.344136, -0.714136, 1, 1.772, 0};
    const double offsets[3] = {0, -128, -128};
    Owned rgb(BufferTransformYUV444ToRGB(planes.get(), QOR_TRUE, RGB_888_24, QOR_FALSE, W, H, bt601, offsets));
    ASSERT_TRUE(rgb);
    int worst = 0;
    for (unsigned y = 0; y < H; y++) {
        for (unsigned x = 0; x < W; x++) {
            if (x % 8 == 0 || x % 8 == 7 || y % 8 == 0 || y % 8 == 7) {
                continue; // next to a chroma block edge
            }
            for (int c = 0; c < 3; c++) {
                const size_t i = (size_t(y) * W + x) * 3 + c;
                worst = std::max(worst, std::abs(int(rgb.get()[i]) - int(ref[i])));
            }
        }
    }
    EXPECT_LE(worst, 1);
    std::remove(in.c_str());
    std::remove(out.c_str());
}

} // namespace
