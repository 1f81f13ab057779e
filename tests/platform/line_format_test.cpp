#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <vector>

#include "support/dg_packer.h"
#include "platform/sim_line_format.h"

using norva_sim::LineErrors;
using norva_sim::PackedFrameLayout;

namespace {

TEST(LineFormat, ChecksumAndHeaderEccReferenceValues) {
    const char *digits = "123456789";
    EXPECT_EQ(norva_sim::Csi2Crc16(reinterpret_cast<const uint8_t *>(digits), 9), 0x6F91);
    const uint8_t payload[] = {0xFF, 0x00, 0x00, 0x02, 0xB9, 0xDC, 0xF3, 0x72, 0xBB, 0xD4, 0xB8, 0x5A,
                               0xC8, 0x75, 0xC2, 0x7C, 0x81, 0xF8, 0x05, 0xDF, 0xFF, 0x00, 0x00, 0x01};
    EXPECT_EQ(norva_sim::Csi2Crc16(payload, sizeof(payload)), 0x00F0);
    EXPECT_EQ(norva_sim::Csi2Crc16(nullptr, 0), 0xFFFF);

    const uint8_t frameStart[3] = {0x00, 0x01, 0x00}, frameEnd[3] = {0x01, 0x01, 0x00};
    EXPECT_EQ(norva_sim::Csi2Ecc(frameStart), 0x1A);
    EXPECT_EQ(norva_sim::Csi2Ecc(frameEnd), 0x1D);
    // Single-bit repair needs every data bit to give its own syndrome, distinct from a parity-bit error.
    std::set<uint8_t> syndromes;
    for (int bit = 0; bit < 24; ++bit) {
        const uint8_t h[3] = {static_cast<uint8_t>(bit < 8 ? 1u << bit : 0),
                              static_cast<uint8_t>(bit >= 8 && bit < 16 ? 1u << (bit - 8) : 0),
                              static_cast<uint8_t>(bit >= 16 ? 1u << (bit - 16) : 0)};
        const uint8_t s = norva_sim::Csi2Ecc(h);
        EXPECT_NE(s & (s - 1), 0) << "bit " << bit;
        EXPECT_EQ(dg_packer::ecc(h), s) << "bit " << bit;
        syndromes.insert(s);
    }
    EXPECT_EQ(syndromes.size(), 24u);
}

/** Known byte sequences of the packing rules, read back by the receiver. */
TEST(LineFormat, KnownLinesUnpack) {
    struct Case {
        CI_CONV_FMT format;
        unsigned depth;
        std::vector<uint8_t> payload;
        std::vector<uint16_t> samples;
    };
    const Case cases[] = {
        {CI_DGFMT_PARALLEL, 10, {0x01, 0x08, 0x30, 0x00, 0x04, 0x00, 0x00, 0x00}, {1, 2, 3, 4}},
        {CI_DGFMT_PARALLEL, 12, {0xBC, 0x3A, 0x12}, {0xABC, 0x123}},
        {CI_DGFMT_MIPI, 10, {0xFF, 0x00, 0x55, 0xAA, 0x93}, {0x3FF, 0x000, 0x155, 0x2AA}},
        {CI_DGFMT_MIPI_LF, 12, {0xAB, 0x12, 0x3C}, {0xABC, 0x123}},
        {CI_DGFMT_MIPI, 14, {0x48, 0xAA, 0x00, 0x00, 0x34, 0x0F, 0x00}, {0x1234, 0x2ABC}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "format " << c.format << " depth " << c.depth);
        const uint32_t width = static_cast<uint32_t>(c.samples.size());
        EXPECT_EQ(dg_packer::payload(c.format, c.depth, c.samples.data(), width), c.payload);
        const uint32_t stride = dg_packer::stride(c.format, c.depth, width);
        std::vector<uint16_t> twoLines = c.samples;
        twoLines.insert(twoLines.end(), c.samples.begin(), c.samples.end());
        std::vector<uint8_t> bytes = dg_packer::frame(c.format, c.depth, twoLines.data(), width, 2, stride);
        std::vector<uint16_t> out(2 * width, 0xFFFF);
        LineErrors errors;
        ASSERT_TRUE(norva_sim::UnpackFrame(
            bytes.data(), bytes.size(), PackedFrameLayout{c.format, c.depth, stride, width, 2}, out.data(), &errors));
        EXPECT_FALSE(errors.any());
        EXPECT_EQ(std::vector<uint16_t>(out.begin(), out.begin() + width), c.samples);
        EXPECT_EQ(std::vector<uint16_t>(out.begin() + width, out.end()), c.samples);
    }
}

/** Every format and depth, odd widths and remainders of every group size. */
TEST(LineFormat, EveryFormatRoundTrips) {
    for (CI_CONV_FMT format : {CI_DGFMT_PARALLEL, CI_DGFMT_MIPI, CI_DGFMT_MIPI_LF}) {
        for (unsigned depth : {10u, 12u, 14u}) {
            if (!norva_sim::LineFormatSupported(format, depth))
                continue;
            for (uint32_t width : {2u, 4u, 6u, 7u, 10u, 13u}) {
                SCOPED_TRACE(testing::Message() << format << "/" << depth << "/" << width);
                const uint32_t height = 3;
                std::vector<uint16_t> in(width * height);
                for (size_t i = 0; i < in.size(); ++i) {
                    in[i] = static_cast<uint16_t>(((i * 2654435761u) >> 7) & ((1u << depth) - 1));
                }
                const uint32_t stride = dg_packer::stride(format, depth, width);
                std::vector<uint8_t> bytes = dg_packer::frame(format, depth, in.data(), width, height, stride);
                std::vector<uint16_t> out(in.size());
                LineErrors errors;
                ASSERT_TRUE(norva_sim::UnpackFrame(bytes.data(), bytes.size(),
                                                   PackedFrameLayout{format, depth, stride, width, height}, out.data(),
                                                   &errors));
                EXPECT_FALSE(errors.any());
                EXPECT_EQ(errors.eccCorrected, 0u);
                for (uint32_t y = 0; y < height; ++y) {
                    for (uint32_t x = 0; x < width; ++x) {
                        // An odd last sample is not sent and reads 0.
                        const uint16_t expected = x < width / 2 * 2 ? in[y * width + x] : 0;
                        ASSERT_EQ(out[y * width + x], expected) << "x " << x << " y " << y;
                    }
                }
            }
        }
    }
}

/** A MIPI RAW12 frame of 8 x 3 in the long format, damaged in one place per case. */
TEST(LineFormat, DamageIsCountedAndRepaired) {
    const uint32_t width = 8, height = 3;
    std::vector<uint16_t> in(width * height);
    for (size_t i = 0; i < in.size(); ++i)
        in[i] = static_cast<uint16_t>(100 + 37 * i);
    const uint32_t stride = dg_packer::stride(CI_DGFMT_MIPI_LF, 12, width);
    const std::vector<uint8_t> good = dg_packer::frame(CI_DGFMT_MIPI_LF, 12, in.data(), width, height, stride);
    // Line 1 starts at stride: line start (4), long header (4), payload (12), checksum (2), line end (4).
    const size_t ls = stride, header = stride + 4, body = stride + 8, lineEnd = stride + 22;
    struct Case {
        const char *what;
        size_t offset;
        uint8_t flip;
        LineErrors expected;
        bool line1Lost;
        bool line1Intact;
    };
    auto errs = [](uint32_t crc, uint32_t hdr, uint32_t ecc, uint32_t corrected) {
        LineErrors e;
        e.crc = crc;
        e.header = hdr;
        e.ecc = ecc;
        e.eccCorrected = corrected;
        return e;
    };
    const Case cases[] = {
        {"payload bit", body + 3, 0x10, errs(1, 0, 0, 0), false, false},
        {"checksum byte", body + 12, 0xFF, errs(1, 0, 0, 0), false, true},
        {"one header bit (word count)", header + 1, 0x04, errs(0, 0, 0, 1), false, true},
        {"the ECC byte itself", header + 3, 0x01, errs(0, 0, 0, 1), false, true},
        {"two header bits", header + 1, 0x03, errs(0, 0, 1, 0), true, false},
        {"line start packet bit", ls + 2, 0x80, errs(0, 0, 0, 1), false, true},
        {"line end packet, two bits", lineEnd + 1, 0x11, errs(0, 0, 1, 0), false, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<uint8_t> bytes = good;
        bytes[c.offset] ^= c.flip;
        std::vector<uint16_t> out(in.size());
        LineErrors e;
        ASSERT_TRUE(norva_sim::UnpackFrame(bytes.data(), bytes.size(),
                                           PackedFrameLayout{CI_DGFMT_MIPI_LF, 12, stride, width, height}, out.data(),
                                           &e));
        EXPECT_EQ(e.crc, c.expected.crc);
        EXPECT_EQ(e.header, c.expected.header);
        EXPECT_EQ(e.ecc, c.expected.ecc);
        EXPECT_EQ(e.eccCorrected, c.expected.eccCorrected);
        const bool intact = std::equal(in.begin() + width, in.begin() + 2 * width, out.begin() + width);
        if (c.line1Intact) {
            EXPECT_TRUE(intact);
        }
        if (c.line1Lost) {
            EXPECT_EQ(std::vector<uint16_t>(out.begin() + width, out.begin() + 2 * width),
                      std::vector<uint16_t>(width, 0));
        }
        EXPECT_TRUE(std::equal(in.begin(), in.begin() + width, out.begin())); // the other lines arrive
    }
}

/** Packets whose header is well formed but says the wrong thing. */
TEST(LineFormat, WrongPacketContentsAreHeaderErrors) {
    const uint32_t width = 4, height = 2;
    const uint16_t in[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    const uint32_t stride = dg_packer::stride(CI_DGFMT_MIPI_LF, 10, width);
    const std::vector<uint8_t> good = dg_packer::frame(CI_DGFMT_MIPI_LF, 10, in, width, height, stride);
    /** Rewrites the 3 header bytes at `offset` with a valid ECC. */
    auto rewrite = [](std::vector<uint8_t> &b, size_t offset, uint8_t b0, uint16_t value) {
        b[offset] = b0;
        b[offset + 1] = static_cast<uint8_t>(value & 0xFF);
        b[offset + 2] = static_cast<uint8_t>(value >> 8);
        b[offset + 3] = dg_packer::ecc(&b[offset]);
    };
    struct Case {
        const char *what;
        size_t offset;
        uint8_t b0;
        uint16_t value;
    };
    const Case cases[] = {
        {"frame start of another type", 0, 0x01, 1},
        {"line start with line number 7", stride, 0x02, 7},
        {"RAW12 data type on a RAW10 line", stride + 4, 0x2C, 5},
        {"word count 6", stride + 4, 0x2B, 6},
        {"line end on another virtual channel", stride + 4 + 4 + 5 + 2, 0x43, 2},
        {"frame end with frame number 2", stride + 4 + 4 + 5 + 2 + 4, 0x01, 2},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<uint8_t> bytes = good;
        rewrite(bytes, c.offset, c.b0, c.value);
        std::vector<uint16_t> out(8);
        LineErrors e;
        ASSERT_TRUE(norva_sim::UnpackFrame(bytes.data(), bytes.size(),
                                           PackedFrameLayout{CI_DGFMT_MIPI_LF, 10, stride, width, height}, out.data(),
                                           &e));
        EXPECT_EQ(e.header, 1u);
        EXPECT_EQ(e.crc + e.ecc + e.eccCorrected, 0u);
    }
}

TEST(LineFormat, LayoutsThatDoNotFitAreRefused) {
    std::vector<uint8_t> bytes(4096, 0);
    std::vector<uint16_t> out(64 * 4);
    LineErrors e;
    struct Case {
        const char *what;
        PackedFrameLayout layout;
        size_t size;
    };
    const Case cases[] = {
        {"8-bit parallel", {CI_DGFMT_PARALLEL, 8, 64, 8, 2}, 4096},
        {"10-bit format N", {CI_DGFMT_N, 10, 64, 8, 2}, 4096},
        {"line longer than the stride", {CI_DGFMT_PARALLEL, 10, 64, 64, 2}, 4096},
        {"MIPI line and frame start longer than the stride", {CI_DGFMT_MIPI, 10, 64, 44, 2}, 4096},
        {"frame beyond the buffer", {CI_DGFMT_PARALLEL, 12, 64, 8, 4}, 64 * 3 + 11},
        {"no lines", {CI_DGFMT_PARALLEL, 12, 64, 8, 0}, 4096},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_FALSE(norva_sim::UnpackFrame(bytes.data(), c.size, c.layout, out.data(), &e));
    }
    // Exactly fitting: 12-bit parallel lines of 8 samples are 12 bytes; the last line ends the buffer.
    EXPECT_TRUE(norva_sim::UnpackFrame(bytes.data(), 64 * 3 + 12, PackedFrameLayout{CI_DGFMT_PARALLEL, 12, 64, 8, 4},
                                       out.data(), &e));
}

} // namespace
