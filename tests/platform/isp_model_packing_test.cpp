// Output packing of the ISP model: every output format at given strides, offsets and tilings, read back from the
// caller's memory. A flat reddish scene makes every pixel equal, so each format's bytes can be checked against
// the 10-bit reference of its path and the channel order can be seen.
#include <gtest/gtest.h>

#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "platform/sim_isp.h"
#include "platform/sim_isp_model.h"
#include "support/bayer_scene.h"

namespace {

constexpr uint32_t kW = 64, kH = 16;
constexpr unsigned kDepth = 10;
constexpr uint8_t kSentinel = 0xAB;
/* raw code of each Bayer colour in the flat scene: red, green, blue */
constexpr uint16_t kRaw[3] = {700, 300, 120};

enum Slot { kEncoder, kDisplay, kHdr, kRaw2D, kExtractBlack, kExtractLineStore };

struct Layout {
    uint32_t offset = 0, stride = 0, chromaOffset = 0, chromaStride = 0, tile = 0, tileHeight = 0;
};

/** Byte address of (row, byte column) of a plane, linear or tiled. */
size_t address(const Layout &l, size_t planeOffset, uint32_t stride, uint32_t y, size_t x) {
    if (l.tile == 0) {
        return planeOffset + size_t(y) * stride + x;
    }
    return planeOffset + size_t(y / l.tileHeight) * stride * l.tileHeight + (x / l.tile) * l.tile * l.tileHeight +
           size_t(y % l.tileHeight) * l.tile + x % l.tile;
}

uint32_t word(const std::vector<uint8_t> &b, size_t a) {
    return b[a] | (b[a + 1] << 8) | (b[a + 2] << 16) | (uint32_t(b[a + 3]) << 24);
}

/** Sample i of a row packed three per 32-bit word. */
uint32_t tenOfWord(const std::vector<uint8_t> &b, const Layout &l, size_t plane, uint32_t stride, uint32_t y,
                   uint32_t i) {
    uint32_t w = 0;
    for (int k = 0; k < 4; k++) {
        w |= uint32_t(b[address(l, plane, stride, y, 4 * (i / 3) + k)]) << (8 * k);
    }
    return (w >> (10 * (i % 3))) & 0x3FFu;
}

struct Frame {
    CI_PIPELINE reg{};
    CI_PIPE_INFO info{};
    CI_MODULE_GMA_LUT gamma{};
    std::vector<uint16_t> raw;
    std::vector<uint8_t> buffer;

    Frame() {
        norva_sim::IspNeutralSettings(kW, kH, &reg, &info);
        gamma = norva_sim::DefaultDescription().sGammaLUT;
        raw.resize(size_t(kW) * kH);
        for (uint32_t y = 0; y < kH; y++) {
            for (uint32_t x = 0; x < kW; x++) {
                raw[size_t(y) * kW + x] = kRaw[norva_test::BayerColourAt(MOSAIC_RGGB, x, y)];
            }
        }
    }

    QOR_RESULT run(Slot slot, pxlFormat fmt, const Layout &l, size_t size) {
        buffer.assign(size, kSentinel);
        norva_sim::IspOutputBuffer b;
        b.data = buffer.data();
        b.size = buffer.size();
        b.offset = l.offset;
        b.stride = l.stride;
        b.chromaOffset = l.chromaOffset;
        b.chromaStride = l.chromaStride;
        b.tileStride = l.tile;
        b.tileHeight = l.tileHeight;
        norva_sim::IspFrameOutputs out;
        switch (slot) {
        case kEncoder:
            info.config.eEncType.eFmt = fmt;
            out.encoder = b;
            break;
        case kDisplay:
            info.config.eDispType.eFmt = fmt;
            out.display = b;
            break;
        case kHdr:
            info.config.eHDRExtType.eFmt = fmt;
            out.hdrExtraction = b;
            break;
        case kRaw2D:
            info.config.eRaw2DExtraction.eFmt = fmt;
            out.raw2D = b;
            break;
        case kExtractBlack:
        case kExtractLineStore:
            info.config.eDispType.eFmt = fmt;
            info.config.eDataExtraction = slot == kExtractBlack ? CI_INOUT_BLACK_LEVEL : CI_INOUT_FILTER_LINESTORE;
            out.display = b;
            break;
        }
        norva_sim::IspInputFrame in;
        in.samples = raw.data();
        in.width = kW;
        in.height = kH;
        in.bitDepth = kDepth;
        norva_sim::IspFrameSettings s;
        s.registers = &reg;
        s.info = &info;
        s.gamma = &gamma;
        norva_sim::IspModel model;
        return model.process(in, s, out);
    }
};

/** The 10-bit components of the flat scene on the encoder path (Y, first chroma, second chroma). */
void encoderReference(uint32_t c[3]) {
    Frame f;
    Layout l;
    l.stride = l.chromaStride = 128;
    l.chromaOffset = 128 * kH;
    ASSERT_EQ(f.run(kEncoder, YUV_420_PL12_10, l, 128 * kH * 2), QOR_RES_OK);
    c[0] = tenOfWord(f.buffer, l, 0, 128, 0, 0);
    c[1] = tenOfWord(f.buffer, l, l.chromaOffset, 128, 0, 0);
    c[2] = tenOfWord(f.buffer, l, l.chromaOffset, 128, 0, 1);
}

/** The 10-bit converter outputs of the flat scene on the display path (o0, o1, o2). */
void displayReference(uint32_t c[3]) {
    Frame f;
    Layout l;
    l.stride = 4 * kW;
    ASSERT_EQ(f.run(kDisplay, BGR_101010_32, l, 4 * kW * kH), QOR_RES_OK);
    const uint32_t w = word(f.buffer, 0);
    c[0] = (w >> 20) & 0x3FF, c[1] = (w >> 10) & 0x3FF, c[2] = w & 0x3FF;
}

uint32_t to8(uint32_t v10) { return std::min(255u, (v10 + 2) >> 2); }

TEST(IspPacking, ReferencesShowTheHardwareChannelOrder) {
    uint32_t e[3], d[3];
    encoderReference(e);
    displayReference(d);
    // reddish grey: Cr (first chroma with the default matrix) above the mid level, Cb below; red output above blue
    EXPECT_GT(e[1], 512u);
    EXPECT_LT(e[2], 512u);
    EXPECT_GT(d[0], d[2] + 50);
}

struct PackCase {
    const char *name;
    Slot slot;
    pxlFormat fmt;
    Layout layout;
    size_t size;
};

void PrintTo(const PackCase &c, std::ostream *os) { *os << c.name; }

class Packing : public testing::TestWithParam<PackCase> {};

TEST_P(Packing, EveryPixelAtItsPlace) {
    const PackCase &c = GetParam();
    Frame f;
    ASSERT_EQ(f.run(c.slot, c.fmt, c.layout, c.size), QOR_RES_OK);
    const Layout &l = c.layout;
    const std::vector<uint8_t> &b = f.buffer;
    if (l.offset > 0) {
        EXPECT_EQ(b[l.offset - 1], kSentinel) << "written before the offset";
    }
    PIXELTYPE t{};
    uint32_t ref[3] = {0, 0, 0};
    if (c.slot == kEncoder) {
        encoderReference(ref);
        ASSERT_EQ(PixelTransformYUV(&t, c.fmt), QOR_RES_OK);
        const bool ten = t.ui8BitDepth == 10;
        const uint32_t cstride = l.chromaStride != 0 ? l.chromaStride : l.stride;
        for (uint32_t y = 0; y < kH; y++) {
            for (uint32_t x = 0; x < kW; x++) {
                const uint32_t Y =
                    ten ? tenOfWord(b, l, l.offset, l.stride, y, x) : b[address(l, l.offset, l.stride, y, x)];
                ASSERT_EQ(Y, ten ? ref[0] : to8(ref[0])) << x << "," << y;
            }
            if (y % t.ui8VSubsampling != 0) {
                continue;
            }
            const uint32_t cy = y / t.ui8VSubsampling;
            for (uint32_t i = 0; i < kW; i++) {
                const uint32_t v = ten ? tenOfWord(b, l, l.chromaOffset, cstride, cy, i)
                                       : b[address(l, l.chromaOffset, cstride, cy, i)];
                const uint32_t want = ref[1 + (i & 1u)];
                ASSERT_EQ(v, ten ? want : to8(want)) << "chroma " << i << "," << cy;
            }
        }
        const uint32_t rowBytes = ten ? (kW + 2) / 3 * 4 : kW;
        if (l.tile == 0 && l.stride > rowBytes) {
            EXPECT_EQ(b[l.offset + rowBytes], kSentinel) << "row padding written";
        }
        return;
    }
    if (c.slot == kDisplay || c.slot == kHdr) {
        if (c.slot == kDisplay) {
            displayReference(ref);
        }
        ASSERT_EQ(PixelTransformDisplay(&t, c.fmt), QOR_RES_OK);
        const uint32_t bytes = t.ui8PackedStride;
        for (uint32_t y = 0; y < kH; y++) {
            for (uint32_t x = 0; x < kW; x++) {
                uint8_t px[8];
                for (uint32_t k = 0; k < bytes; k++) {
                    px[k] = b[address(l, l.offset, l.stride, y, size_t(x) * bytes + k)];
                }
                uint32_t o[3];
                if (bytes == 8) {
                    for (int k = 0; k < 3; k++) {
                        o[2 - k] = (px[2 * k] | (px[2 * k + 1] << 8)) >> 6;
                    }
                    ASSERT_EQ(px[6] | px[7], 0);
                } else if (t.ui8BitDepth == 10) {
                    const uint32_t w = px[0] | (px[1] << 8) | (px[2] << 16) | (uint32_t(px[3]) << 24);
                    o[0] = (w >> 20) & 0x3FF, o[1] = (w >> 10) & 0x3FF, o[2] = w & 0x3FF;
                } else {
                    o[0] = px[2] << 2, o[1] = px[1] << 2, o[2] = px[0] << 2;
                    if (bytes == 4) {
                        ASSERT_EQ(px[3], 0);
                    }
                }
                if (c.slot == kHdr) {
                    // linear RGB: the red channel of the reddish scene leads
                    ASSERT_GT(o[0], o[2]) << x << "," << y;
                    continue;
                }
                for (int k = 0; k < 3; k++) {
                    const uint32_t want = (t.ui8BitDepth == 8) ? to8(ref[k]) << 2 : ref[k];
                    ASSERT_EQ(o[k], want) << "component " << k << " at " << x << "," << y;
                }
            }
        }
        if (l.tile == 0 && l.stride > kW * bytes) {
            EXPECT_EQ(b[l.offset + kW * bytes], kSentinel) << "row padding written";
        }
        return;
    }
    // Bayer: 16-bit scale of each colour's code, then the format's bits
    ASSERT_EQ(PixelTransformBayer(&t, c.fmt, MOSAIC_RGGB), QOR_RES_OK);
    const unsigned bits = t.ui8BitDepth;
    const bool tiff = t.ePackedStart == PACKED_MSB;
    for (uint32_t y = 0; y < kH; y++) {
        for (uint32_t x = 0; x < kW; x++) {
            const uint32_t code = kRaw[norva_test::BayerColourAt(MOSAIC_RGGB, x, y)];
            const uint32_t v16 = c.slot == kRaw2D ? code << (16 - kDepth) : (code * 65535u + 511u) / 1023u;
            const uint32_t want = v16 >> (16 - bits);
            uint32_t got = 0;
            if (bits == 8) {
                got = b[address(l, l.offset, l.stride, y, x)];
            } else if (tiff) {
                const size_t bit = size_t(x) * bits;
                for (unsigned k = 0; k < bits; k++) {
                    const size_t p = bit + k;
                    got = (got << 1) | ((b[address(l, l.offset, l.stride, y, p / 8)] >> (7 - p % 8)) & 1u);
                }
            } else if (bits == 10) {
                got = tenOfWord(b, l, l.offset, l.stride, y, x);
            } else {
                const size_t a = address(l, l.offset, l.stride, y, (x / 2) * 3);
                const uint32_t w = b[a] | (b[a + 1] << 8) | (b[a + 2] << 16);
                got = (x & 1u) ? (w >> 12) : (w & 0xFFF);
            }
            ASSERT_EQ(got, want) << x << "," << y;
        }
    }
}

Layout linear(uint32_t offset, uint32_t stride, uint32_t chromaOffset = 0, uint32_t chromaStride = 0) {
    Layout l;
    l.offset = offset, l.stride = stride, l.chromaOffset = chromaOffset, l.chromaStride = chromaStride;
    return l;
}

Layout tiled(uint32_t stride, uint32_t chromaOffset = 0) {
    Layout l;
    l.stride = stride, l.chromaStride = chromaOffset != 0 ? stride : 0, l.chromaOffset = chromaOffset;
    l.tile = 256, l.tileHeight = 16;
    return l;
}

INSTANTIATE_TEST_SUITE_P(
    Formats, Packing,
    testing::Values(PackCase{"NV12", kEncoder, YUV_420_PL12_8, linear(32, 96, 32 + 96 * kH, 80), 8192},
                    PackCase{"NV21", kEncoder, YVU_420_PL12_8, linear(0, 64, 64 * kH, 64), 64 * kH * 2},
                    PackCase{"NV16", kEncoder, YUV_422_PL12_8, linear(64, 128, 64 + 128 * kH, 128), 8192},
                    PackCase{"NV12_10", kEncoder, YUV_420_PL12_10, linear(8, 96, 8 + 96 * kH, 96), 8192},
                    PackCase{"NV61_10", kEncoder, YVU_422_PL12_10, linear(0, 128, 128 * kH, 128), 8192},
                    PackCase{"NV12Tiled", kEncoder, YUV_420_PL12_8, tiled(512, 512 * 16), 512 * 16 * 2},
                    PackCase{"RGB24", kDisplay, RGB_888_24, linear(16, 256), 16 + 256 * kH},
                    PackCase{"BGR24", kDisplay, BGR_888_24, linear(0, 3 * kW), 3 * kW *kH},
                    PackCase{"RGB32", kDisplay, RGB_888_32, linear(4, 320), 4 + 320 * kH},
                    PackCase{"BGR32Tiled", kDisplay, BGR_888_32, tiled(256), 256 * 16},
                    PackCase{"RGB10", kDisplay, RGB_101010_32, linear(0, 256), 256 * kH},
                    PackCase{"BGR64", kDisplay, BGR_161616_64, linear(0, 512), 512 * kH},
                    PackCase{"YCrCb444_8", kDisplay, PXL_ISP_444IL3YCrCb8, linear(0, 192), 192 * kH},
                    PackCase{"YCbCr444_10", kDisplay, PXL_ISP_444IL3YCbCr10, linear(0, 256), 256 * kH},
                    PackCase{"HdrExtraction", kHdr, BGR_101010_32, linear(12, 256), 12 + 256 * kH},
                    PackCase{"Raw2DTiff10", kRaw2D, BAYER_TIFF_10, linear(0, 80), 80 * kH},
                    PackCase{"Raw2DTiff12", kRaw2D, BAYER_TIFF_12, linear(4, 96), 4 + 96 * kH},
                    PackCase{"ExtractRggb8", kExtractBlack, BAYER_RGGB_8, linear(0, 64), 64 * kH},
                    PackCase{"ExtractRggb10", kExtractLineStore, BAYER_RGGB_10, linear(0, 128), 128 * kH},
                    PackCase{"ExtractRggb12", kExtractBlack, BAYER_RGGB_12, linear(20, 96), 20 + 96 * kH}),
    [](const testing::TestParamInfo<PackCase> &i) { return std::string(i.param.name); });

TEST(IspPacking, FormatsAnOutputCannotCarryAreRefused) {
    struct Case {
        Slot slot;
        pxlFormat fmt;
    } cases[] = {
        {kEncoder, RGB_888_24}, /* encoder takes semi-planar YUV only */
        {kEncoder, PXL_ISP_444IL3YCrCb8},
        {kDisplay, BAYER_RGGB_10}, /* Bayer on the display needs data extraction (set to none below) */
        {kRaw2D, RGB_888_32},
    };
    for (const Case &c : cases) {
        Frame f;
        f.info.config.eDataExtraction = CI_INOUT_NONE;
        EXPECT_EQ(f.run(c.slot, c.fmt, linear(0, 512), 512 * kH * 2), QOR_RES_INVALID_PARAM) << int(c.fmt);
        EXPECT_EQ(f.buffer[0], kSentinel);
    }
    // a tiling that does not divide the stride
    Frame f;
    Layout l = tiled(384);
    EXPECT_EQ(f.run(kDisplay, RGB_888_32, l, 384 * 16), QOR_RES_INVALID_PARAM);
}

} // namespace

namespace {

TEST(IspPacking, OddEncoderHeightKeepsItsLastChromaRowInsideTheBuffer) {
    // 4:2:0 with 15 output rows: 8 chroma rows; a buffer one chroma row short is refused
    Frame f;
    f.reg.sEncoderScaler.bBypassScaler = 0;
    f.reg.sEncoderScaler.aOutputSize[0] = kW / 2 - 1;
    f.reg.sEncoderScaler.aOutputSize[1] = 14;
    f.reg.sEncoderScaler.aPitch[0] = f.reg.sEncoderScaler.aPitch[1] = 32768;
    const Layout l = linear(0, 64, 64 * 15, 64);
    EXPECT_EQ(f.run(kEncoder, YUV_420_PL12_8, l, 64 * 15 + 64 * 7), QOR_RES_INVALID_PARAM);
    ASSERT_EQ(f.run(kEncoder, YUV_420_PL12_8, l, 64 * 15 + 64 * 8), QOR_RES_OK);
    EXPECT_NE(f.buffer[64 * 15 + 64 * 7], kSentinel);
}

} // namespace
