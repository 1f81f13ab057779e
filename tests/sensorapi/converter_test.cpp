// The data-generator frame converter: packing vectors of every writer, CSI-2 packets, frame sizes, and a round
// trip of every format and depth through the simulation's own receiver of the line formats.

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "ci/ci_converter.h"
#include "norvacommon/userlog.h"
#include "platform/sim_line_format.h"
#include "support/scripted_sensor.h"
#include "sim_image.h"

using namespace norva_test;

namespace {

using Bytes = std::vector<uint8_t>;

LogLine ConverterError(const std::string &function, const std::string &message) {
    return LogLine{"ERROR", "CI_CONVERTER", function, message};
}

/** A configured converter that clears itself. */
struct Converter {
    CI_CONVERTER c{};
    QOR_RESULT configured;
    Converter(CI_CONV_FMT f, unsigned depth)
        : configured(CI_ConverterConfigure(&c, f, static_cast<QOR_UINT8>(depth))) {}
    ~Converter() { CI_ConverterClear(&c); }
    Converter(const Converter &) = delete;
    Converter &operator=(const Converter &) = delete;

    /** One line written by the installed line writer; its size must agree with the size query. */
    Bytes line(const std::vector<uint16_t> &samples) {
        const QOR_UINT32 pairs = static_cast<QOR_UINT32>(samples.size() / 2);
        const QOR_SIZE n = c.pfnLineConverter(c.privateData, nullptr, 2, pairs, nullptr);
        Bytes out(n + 16, 0xEE);
        EXPECT_EQ(c.pfnLineConverter(c.privateData, samples.data(), 2, pairs, out.data()), n);
        for (size_t i = n; i < out.size(); ++i)
            EXPECT_EQ(out[i], 0xEE) << "written past the size reported, at " << i;
        out.resize(n);
        return out;
    }
};

/** An image input over caller-held Bayer samples, as the reader presents a loaded frame. */
sSimImageIn imageOver(std::vector<uint16_t> &samples, uint32_t width, uint32_t height, unsigned depth,
                      sSimImageColourModel model = SimImage_RGGB) {
    sSimImageIn in{};
    in.info.ui8BitDepth = static_cast<QOR_UINT8>(depth);
    in.info.ui32Width = width;
    in.info.ui32Height = height;
    in.info.stride = static_cast<QOR_SIZE>(width) * 2;
    in.info.eColourModel = model;
    in.nFrames = 1;
    in.pBuffer = samples.data();
    return in;
}

TEST(Converter, PayloadPackersMatchTheirVectors) {
    struct Row {
        const char *name;
        CI_CONV_MIPI_WRITE_FN write;
        std::vector<uint16_t> samples;
        Bytes expected;
    } rows[] = {
        {"RAW10", MIPI_Write_10, {0x3FF, 0x000, 0x155, 0x2AA}, {0xFF, 0x00, 0x55, 0xAA, 0x93}},
        {"RAW10 odd last pair", MIPI_Write_10, {0x3FF, 0x001}, {0xFF, 0x00, 0x00, 0x00, 0x07}},
        {"RAW12", MIPI_Write_12, {0xABC, 0x123}, {0xAB, 0x12, 0x3C}},
        {"RAW14", MIPI_Write_14, {0x3FFF, 0x0001, 0x2AAA, 0x1555}, {0xFF, 0x00, 0xAA, 0x55, 0x7F, 0xA0, 0x56}},
        {"RAW14 odd last pair", MIPI_Write_14, {0x3FFF, 0x0001}, {0xFF, 0x00, 0x00, 0x00, 0x7F, 0x00, 0x00}},
        {"RAW10 no pairs", MIPI_Write_10, {}, {}},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.name);
        const QOR_UINT32 pairs = static_cast<QOR_UINT32>(r.samples.size() / 2);
        Bytes out(r.expected.size() + 4, 0xEE);
        EXPECT_EQ(r.write(r.samples.data(), 2, pairs, nullptr), r.expected.size());
        EXPECT_EQ(r.write(r.samples.data(), 2, pairs, out.data()), r.expected.size());
        EXPECT_EQ(Bytes(out.begin(), out.begin() + static_cast<long>(r.expected.size())), r.expected);
        EXPECT_EQ(Bytes(out.end() - 4, out.end()), Bytes(4, 0xEE));
    }
}

TEST(Converter, ParallelLinesMatchTheirVectors) {
    struct Row {
        const char *name;
        unsigned depth;
        std::vector<uint16_t> samples;
        Bytes expected;
    } rows[] = {
        {"10-bit, 2 pairs", 10, {1, 2, 3, 4}, {0x01, 0x08, 0x30, 0x00, 0x04, 0x00, 0x00, 0x00}},
        {"10-bit, 1 pair", 10, {1, 2}, {0x01, 0x08, 0x00, 0x00}},
        {"10-bit, 3 pairs", 10, {1, 2, 3, 4, 5, 6}, {0x01, 0x08, 0x30, 0x00, 0x04, 0x14, 0x60, 0x00}},
        {"10-bit masks each sample", 10, {0xFFFF, 0, 0, 0}, {0xFF, 0x03, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}},
        {"12-bit", 12, {0xABC, 0x123}, {0xBC, 0x3A, 0x12}},
        {"12-bit, a sample above 12 bits stays out of its neighbour", 12, {0xFABC, 0x123}, {0xBC, 0x3A, 0x12}},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.name);
        Converter conv(CI_DGFMT_PARALLEL, r.depth);
        ASSERT_EQ(conv.configured, QOR_RES_OK);
        EXPECT_EQ(conv.c.pfnHeaderWriter, nullptr);
        EXPECT_EQ(conv.c.pfnFooterWriter, nullptr);
        EXPECT_EQ(conv.c.privateData, nullptr);
        EXPECT_EQ(conv.line(r.samples), r.expected);
    }
}

TEST(Converter, FramePacketsCarryFrameNumberOneAndTheirEcc) {
    Converter conv(CI_DGFMT_MIPI, 10);
    ASSERT_EQ(conv.configured, QOR_RES_OK);
    Bytes fs(4), fe(4);
    EXPECT_EQ(conv.c.pfnHeaderWriter(conv.c.privateData, fs.data()), 4u);
    EXPECT_EQ(conv.c.pfnFooterWriter(conv.c.privateData, fe.data()), 4u);
    EXPECT_EQ(fs, (Bytes{0x00, 0x01, 0x00, 0x1A}));
    EXPECT_EQ(fe, (Bytes{0x01, 0x01, 0x00, 0x1D}));
}

TEST(Converter, EccAndChecksumAgreeWithTheReceiver) {
    EXPECT_EQ(CI_Convert_MIPI_CRC(nullptr, 0), 0xFFFF);
    const Bytes example = {0xFF, 0x00, 0x00, 0x02, 0xB9, 0xDC, 0xF3, 0x72, 0xBB, 0xD4, 0xB8, 0x5A,
                           0xC8, 0x75, 0xC2, 0x7C, 0x81, 0xF8, 0x05, 0xDF, 0xFF, 0x00, 0x00, 0x01};
    EXPECT_EQ(CI_Convert_MIPI_CRC(example.data(), example.size()), 0x00F0);
    std::mt19937 rng(7);
    for (int i = 0; i < 2000; ++i) {
        const uint8_t h[3] = {static_cast<uint8_t>(rng()), static_cast<uint8_t>(rng()), static_cast<uint8_t>(rng())};
        ASSERT_EQ(CI_Convert_MIPI_ECC(h), norva_sim::Csi2Ecc(h)) << i;
        ASSERT_EQ(CI_Convert_MIPI_CRC(h, 3), norva_sim::Csi2Crc16(h, 3)) << i;
    }
}

TEST(Converter, MipiLinesAreOneLongPacketFramedByLinePacketsInTheLongFormat) {
    const std::vector<uint16_t> six = {0x123, 0x456, 0x789, 0xABC, 0xDEF, 0x321};
    for (CI_CONV_FMT f : {CI_DGFMT_MIPI, CI_DGFMT_MIPI_LF}) {
        const bool lf = f == CI_DGFMT_MIPI_LF;
        SCOPED_TRACE(lf ? "long format" : "short format");
        Converter conv(f, 12);
        ASSERT_EQ(conv.configured, QOR_RES_OK);
        auto *priv = static_cast<CI_CONV_MIPI_PRIV *>(conv.c.privateData);
        EXPECT_EQ(priv->ui8DataId, 0x2C);
        EXPECT_EQ(priv->ui16FrameNumber, 1);
        EXPECT_EQ(priv->bLongFormat, lf ? 1 : 0);
        priv->i32LineNumber = 0x10005; // only the low 16 bits travel
        const Bytes line = conv.line(six);
        ASSERT_EQ(line.size(), lf ? 23u : 15u);
        const uint8_t *p = line.data();
        if (lf) {
            const uint8_t ls[3] = {0x02, 0x05, 0x00};
            EXPECT_EQ(Bytes(p, p + 4), (Bytes{0x02, 0x05, 0x00, norva_sim::Csi2Ecc(ls)}));
            p += 4;
        }
        const uint8_t ph[3] = {0x2C, 9, 0};
        EXPECT_EQ(Bytes(p, p + 4), (Bytes{0x2C, 9, 0, norva_sim::Csi2Ecc(ph)})) << "word count 9";
        const uint16_t crc = norva_sim::Csi2Crc16(p + 4, 9);
        EXPECT_EQ(p[13], crc & 0xFF);
        EXPECT_EQ(p[14], crc >> 8);
        if (lf) {
            const uint8_t le[3] = {0x03, 0x05, 0x00};
            EXPECT_EQ(Bytes(p + 15, p + 19), (Bytes{0x03, 0x05, 0x00, norva_sim::Csi2Ecc(le)}));
        }
    }
    Converter conv(CI_DGFMT_MIPI, 10);
    EXPECT_EQ(conv.line({}),
              (Bytes{0x2B, 0, 0, norva_sim::Csi2Ecc(std::array<uint8_t, 3>{0x2B, 0, 0}.data()), 0xFF, 0xFF}))
        << "an empty payload carries the checksum FF FF";
}

TEST(Converter, FrameSizesOfA1920SampleLine) {
    struct Row {
        CI_CONV_FMT format;
        unsigned depth;
        uint32_t stride;
    } rows[] = {
        {CI_DGFMT_PARALLEL, 10, 2560},                             // 640 words of three samples
        {CI_DGFMT_PARALLEL, 12, 2880},  {CI_DGFMT_MIPI, 10, 2432}, // 2400 + 6, and 4 for the frame packets
        {CI_DGFMT_MIPI_LF, 10, 2432},                              // 2400 + 14 + 4
        {CI_DGFMT_MIPI, 12, 2880 + 64}, {CI_DGFMT_MIPI, 14, 3392}, // 3360 + 6 + 4
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(std::to_string(r.format) + "/" + std::to_string(r.depth));
        Converter conv(r.format, r.depth);
        ASSERT_EQ(conv.configured, QOR_RES_OK);
        EXPECT_EQ(CI_ConverterFrameSize(&conv.c, 1920, 1), r.stride);
        EXPECT_EQ(CI_ConverterFrameSize(&conv.c, 1920, 1080), r.stride * 1080);
        EXPECT_EQ(CI_ConverterFrameSize(&conv.c, 1921, 2), r.stride * 2) << "an odd width counts its pairs";
    }
    Converter big(CI_DGFMT_PARALLEL, 12);
    EXPECT_EQ(CI_ConverterFrameSize(&big.c, 65536, 65536), 0u) << "a size past 32 bits is refused, not wrapped";
}

TEST(Converter, ConfigurationRefusalsLeaveNoWriter) {
    struct Row {
        int format;
        unsigned depth;
        QOR_RESULT result;
        const char *message;
    } rows[] = {
        {CI_DGFMT_MIPI, 8, QOR_RES_NOT_SUPPORTED, "Unsupported bitpdeth 8 for MIPI format"},
        {CI_DGFMT_MIPI_LF, 16, QOR_RES_NOT_SUPPORTED, "Unsupported bitpdeth 16 for MIPI format"},
        {CI_DGFMT_PARALLEL, 14, QOR_RES_NOT_SUPPORTED, "Unsupported bitpdeth 14 for parallel format"},
        {CI_DGFMT_N, 10, QOR_RES_NOT_SUPPORTED, "Unsupported format 3"},
    };
    std::vector<uint16_t> samples(8, 1);
    for (const Row &r : rows) {
        SCOPED_TRACE(r.message);
        CI_CONVERTER c{};
        ASSERT_EQ(CI_ConverterConfigure(&c, CI_DGFMT_MIPI, 12), QOR_RES_OK) << "a working converter first";
        QOR_RESULT ret = -1;
        EXPECT_EQ(CaptureLog([&] {
                      ret = CI_ConverterConfigure(&c, static_cast<CI_CONV_FMT>(r.format),
                                                  static_cast<QOR_UINT8>(r.depth));
                  }),
                  std::vector<LogLine>{ConverterError("CI_ConverterConfigure", r.message)});
        EXPECT_EQ(ret, r.result);
        EXPECT_EQ(c.pfnLineConverter, nullptr);
        EXPECT_EQ(c.privateData, nullptr);
        EXPECT_EQ(CI_ConverterFrameSize(&c, 4, 2), 0u);
        sSimImageIn in = imageOver(samples, 4, 2, 10);
        std::vector<uint8_t> buf(256);
        CI_DG_FRAME frame{};
        frame.data = buf.data();
        frame.ui32AllocSize = 256;
        EXPECT_EQ(
            CaptureLog([&] { ret = CI_ConverterConvertFrame(&c, &in, &frame); }),
            std::vector<LogLine>{ConverterError(
                "CI_ConverterConvertFrame", "pConverted was not configured properly or pFrame has not attached data")});
        EXPECT_EQ(ret, QOR_RES_NOT_INITIALISED);
        EXPECT_EQ(CI_ConverterClear(&c), QOR_RES_OK) << "nothing left to free twice";
    }
    QOR_RESULT ret = -1;
    EXPECT_EQ(CaptureLog([&] { ret = CI_ConverterConfigure(nullptr, CI_DGFMT_MIPI, 10); }),
              std::vector<LogLine>{ConverterError("CI_ConverterConfigure", "pConverter is NULL")});
    EXPECT_EQ(ret, QOR_RES_INVALID_PARAM);
    EXPECT_EQ(CaptureLog([&] { ret = CI_ConverterClear(nullptr); }),
              std::vector<LogLine>{ConverterError("CI_ConverterClear", "pConverter is NULL")});
    EXPECT_EQ(ret, QOR_RES_INVALID_PARAM);
    EXPECT_EQ(CaptureLog([&] { EXPECT_EQ(CI_ConverterFrameSize(nullptr, 4, 2), 0u); }),
              std::vector<LogLine>{ConverterError("CI_ConverterFrameSize", "pConverter is NULL")});
    CI_CONVERTER unconfigured{};
    EXPECT_EQ(CaptureLog([&] { EXPECT_EQ(CI_ConverterFrameSize(&unconfigured, 4, 2), 0u); }),
              std::vector<LogLine>{ConverterError(
                  "CI_ConverterFrameSize", "pConverted was not configured properly or pFrame has no attached data")});
}

TEST(Converter, ReconfiguringAMipiConverterReplacesItsPrivateData) {
    // Run under AddressSanitizer: a record left behind by the first configuration shows as a leak.
    CI_CONVERTER c{};
    ASSERT_EQ(CI_ConverterConfigure(&c, CI_DGFMT_MIPI, 10), QOR_RES_OK);
    ASSERT_EQ(CI_ConverterConfigure(&c, CI_DGFMT_MIPI_LF, 14), QOR_RES_OK);
    EXPECT_EQ(static_cast<CI_CONV_MIPI_PRIV *>(c.privateData)->ui8DataId, 0x2D);
    ASSERT_EQ(CI_ConverterConfigure(&c, CI_DGFMT_PARALLEL, 10), QOR_RES_OK);
    EXPECT_EQ(c.privateData, nullptr);
    EXPECT_EQ(CI_ConverterClear(&c), QOR_RES_OK);
}

TEST(Converter, AnOddWidthDropsTheLastColumnWithOneWarning) {
    // Rows of 7 samples send 3 pairs: the same bytes as the 6 first samples of each row.
    const uint32_t width = 7, height = 3;
    std::vector<uint16_t> odd(width * height), even((width - 1) * height);
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x) {
            odd[y * width + x] = static_cast<uint16_t>(0x100 * y + 0x11 * x);
            if (x + 1 < width)
                even[y * (width - 1) + x] = odd[y * width + x];
        }
    }
    for (CI_CONV_FMT format : {CI_DGFMT_PARALLEL, CI_DGFMT_MIPI}) {
        SCOPED_TRACE(format == CI_DGFMT_PARALLEL ? "parallel" : "MIPI");
        Converter conv(format, 12);
        const uint32_t size = CI_ConverterFrameSize(&conv.c, width, height);
        ASSERT_EQ(size, CI_ConverterFrameSize(&conv.c, width - 1, height));
        std::vector<uint8_t> got(size), want(size);
        sSimImageIn in = imageOver(odd, width, height, 12), ref = imageOver(even, width - 1, height, 12);
        CI_DG_FRAME frame{}, refFrame{};
        frame.data = got.data();
        frame.ui32AllocSize = size;
        refFrame.data = want.data();
        refFrame.ui32AllocSize = size;
        const std::vector<LogLine> warning{LogLine{"WARNING", "CI_CONVERTER", "CI_ConverterConvertFrame",
                                                   "image width 7 is odd: the last column is not sent (a line is "
                                                   "sent as pairs of samples)"}};
        for (int pass = 0; pass < 2; ++pass) {
            QOR_RESULT ret = -1;
            EXPECT_EQ(CaptureLog([&] { ret = CI_ConverterConvertFrame(&conv.c, &in, &frame); }),
                      pass == 0 ? warning : std::vector<LogLine>{})
                << "pass " << pass;
            ASSERT_EQ(ret, QOR_RES_OK);
        }
        ASSERT_EQ(CI_ConverterConvertFrame(&conv.c, &ref, &refFrame), QOR_RES_OK);
        EXPECT_EQ(got, want);
        EXPECT_EQ(frame.ui32Width, width);
        // A new configuration (a new stream) warns again.
        ASSERT_EQ(CI_ConverterConfigure(&conv.c, format, 12), QOR_RES_OK);
        EXPECT_EQ(CaptureLog([&] { CI_ConverterConvertFrame(&conv.c, &in, &frame); }), warning);
    }
}

TEST(Converter, ConversionChecksItsInputBeforeWritingAnything) {
    Converter conv(CI_DGFMT_PARALLEL, 12);
    const uint32_t stride = CI_ConverterFrameSize(&conv.c, 8, 1);
    ASSERT_EQ(stride, 64u);
    std::vector<uint16_t> samples(8 * 3, 0x5A5);
    std::vector<uint8_t> buf(stride * 3 + 8, 0xEE);
    struct Row {
        const char *name;
        uint32_t width;
        sSimImageColourModel model;
        uint32_t alloc;
        QOR_RESULT result;
        std::string message;
    } rows[] = {
        {"one byte short", 8, SimImage_RGGB, stride * 3 - 1, QOR_RES_NOT_SUPPORTED,
         "given pFrame is too small (191 Bytes) to store converted data (64x3 = 192 Bytes)"},
        {"an RGB image", 8, SimImage_RGB64, stride * 3, QOR_RES_FAILED, "input image needs to be BAYER!"},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.name);
        sSimImageIn in = imageOver(samples, r.width, 3, 12, r.model);
        CI_DG_FRAME frame{};
        frame.data = buf.data();
        frame.ui32AllocSize = r.alloc;
        QOR_RESULT ret = -1;
        EXPECT_EQ(CaptureLog([&] { ret = CI_ConverterConvertFrame(&conv.c, &in, &frame); }),
                  std::vector<LogLine>{ConverterError("CI_ConverterConvertFrame", r.message)});
        EXPECT_EQ(ret, r.result);
        EXPECT_EQ(buf, std::vector<uint8_t>(buf.size(), 0xEE)) << "nothing written";
    }
    sSimImageIn in = imageOver(samples, 8, 3, 12);
    CI_DG_FRAME frame{};
    frame.data = buf.data();
    QOR_RESULT ret = -1;
    EXPECT_EQ(
        CaptureLog([&] { ret = CI_ConverterConvertFrame(nullptr, &in, &frame); }),
        std::vector<LogLine>{ConverterError("CI_ConverterConvertFrame", "pConverter or pImage or pFrame is NULL")});
    EXPECT_EQ(ret, QOR_RES_INVALID_PARAM);
    EXPECT_EQ(CI_ConverterConvertFrame(&conv.c, nullptr, &frame), QOR_RES_INVALID_PARAM);
    EXPECT_EQ(CI_ConverterConvertFrame(&conv.c, &in, nullptr), QOR_RES_INVALID_PARAM);
    frame.ui32AllocSize = stride * 3;
    frame.data = nullptr;
    EXPECT_EQ(CI_ConverterConvertFrame(&conv.c, &in, &frame), QOR_RES_NOT_INITIALISED);

    frame.data = buf.data();
    ASSERT_EQ(CI_ConverterConvertFrame(&conv.c, &in, &frame), QOR_RES_OK) << "exactly stride x height";
    EXPECT_EQ(buf[stride * 3], 0xEE) << "nothing past the allocation";
    EXPECT_EQ(buf[12], 0) << "the rest of each stride is zero";
    EXPECT_EQ(frame.eFormat, CI_DGFMT_PARALLEL);
    EXPECT_EQ(frame.ui8FormatBitdepth, 12);
    EXPECT_EQ(frame.eBayerMosaic, MOSAIC_RGGB);
    EXPECT_EQ(frame.ui32Stride, stride);
    EXPECT_EQ(frame.ui32Width, 8u);
    EXPECT_EQ(frame.ui32Height, 3u);
}

/** Converts and unpacks with the simulation's receiver; returns the samples it delivers. */
std::vector<uint16_t> roundTrip(Converter &conv, std::vector<uint16_t> &samples, uint32_t width, uint32_t height,
                                unsigned depth, norva_sim::LineErrors *errors, Bytes *packed, CI_DG_FRAME *described) {
    const uint32_t size = CI_ConverterFrameSize(&conv.c, width, height);
    EXPECT_GT(size, 0u);
    packed->assign(size, 0xEE);
    sSimImageIn in = imageOver(samples, width, height, depth);
    CI_DG_FRAME frame{};
    frame.data = packed->data();
    frame.ui32AllocSize = size;
    EXPECT_EQ(CI_ConverterConvertFrame(&conv.c, &in, &frame), QOR_RES_OK);
    *described = frame;
    const norva_sim::PackedFrameLayout layout{conv.c.eFormat, depth, frame.ui32Stride, width, height};
    EXPECT_LE(norva_sim::PackedFrameBytes(layout), size) << "the receiver finds the whole frame in the allocation";
    std::vector<uint16_t> out(static_cast<size_t>(width) * height, 0xFFFF);
    EXPECT_TRUE(norva_sim::UnpackFrame(packed->data(), packed->size(), layout, out.data(), errors));
    return out;
}

TEST(Converter, EveryFormatAndDepthSurvivesTheReceiverSampleForSample) {
    struct Format {
        CI_CONV_FMT format;
        unsigned depth;
    } formats[] = {
        {CI_DGFMT_PARALLEL, 10}, {CI_DGFMT_PARALLEL, 12}, {CI_DGFMT_MIPI, 10},    {CI_DGFMT_MIPI, 12},
        {CI_DGFMT_MIPI, 14},     {CI_DGFMT_MIPI_LF, 10},  {CI_DGFMT_MIPI_LF, 12}, {CI_DGFMT_MIPI_LF, 14},
    };
    // Widths with 1, 2, 3 and 5 pairs (every remainder of the groups), a long line, odd widths (their last
    // column is not sent: the receiver reads it as 0); heights including one line.
    const uint32_t widths[] = {2, 4, 6, 10, 30, 34, 36, 1922, 7, 1921};
    const uint32_t heights[] = {1, 2, 5};
    std::mt19937 rng(11);
    for (const Format &f : formats) {
        Converter conv(f.format, f.depth);
        ASSERT_EQ(conv.configured, QOR_RES_OK);
        for (uint32_t w : widths) {
            for (uint32_t h : heights) {
                SCOPED_TRACE(std::to_string(f.format) + "/" + std::to_string(f.depth) + " " + std::to_string(w) + "x" +
                             std::to_string(h));
                std::vector<uint16_t> samples(static_cast<size_t>(w) * h);
                for (auto &s : samples)
                    s = static_cast<uint16_t>(rng() & ((1u << f.depth) - 1));
                norva_sim::LineErrors errors;
                Bytes packed;
                CI_DG_FRAME frame{};
                const std::vector<uint16_t> out = roundTrip(conv, samples, w, h, f.depth, &errors, &packed, &frame);
                std::vector<uint16_t> expected = samples;
                for (uint32_t y = 0; y < h && w % 2 != 0; ++y)
                    expected[static_cast<size_t>(y) * w + w - 1] = 0;
                EXPECT_EQ(out, expected);
                EXPECT_FALSE(errors.any()) << errors.crc << " " << errors.header << " " << errors.ecc;
                EXPECT_EQ(errors.eccCorrected, 0u);
                if (f.format != CI_DGFMT_PARALLEL) {
                    EXPECT_EQ(frame.ui32PacketWidth, norva_sim::PackedLineBytes(CI_DGFMT_MIPI, f.depth, w));
                }
            }
        }
    }
}

TEST(Converter, ASingleMipiLineKeepsItsLastBytesAndEndsWithTheFrameEnd) {
    // 36 samples of RAW12: a 60-byte line, so the stride is 64 and the line with both frame packets (68 bytes)
    // needs more than one stride.
    Converter conv(CI_DGFMT_MIPI, 12);
    std::vector<uint16_t> samples(36);
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<uint16_t>(0x800 + 37 * i);
    EXPECT_EQ(CI_ConverterFrameSize(&conv.c, 36, 2), 128u);
    EXPECT_EQ(CI_ConverterFrameSize(&conv.c, 36, 1), 128u) << "room for the frame start, the line and the frame end";
    norva_sim::LineErrors errors;
    Bytes packed;
    CI_DG_FRAME frame{};
    EXPECT_EQ(roundTrip(conv, samples, 36, 1, 12, &errors, &packed, &frame), samples);
    EXPECT_FALSE(errors.any());
    EXPECT_EQ(frame.ui32Stride, 64u);
    const uint16_t crc = norva_sim::Csi2Crc16(packed.data() + 8, 54);
    EXPECT_EQ(packed[4 + 58], crc & 0xFF) << "the checksum is intact";
    EXPECT_EQ(packed[4 + 59], crc >> 8);
    EXPECT_EQ(Bytes(packed.begin() + 64, packed.begin() + 68), (Bytes{0x01, 0x01, 0x00, 0x1D}));
    EXPECT_EQ(Bytes(packed.begin() + 68, packed.end()), Bytes(60, 0)) << "the rest is zero";
}

} // namespace
