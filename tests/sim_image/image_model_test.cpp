/* Image model, metadata items and bit stream: the worked examples as tables. */
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "bitstream_rw.h"
#include "image_base.h"
#include "image_metadata.h"

namespace {

/* ------------------------------------------------------------------ sampling and planes */

struct SamplingRow {
    SUBS_xxx mode;
    int channel, xs, ys;
};
const SamplingRow kSampling[] = {
    {SUBS_422, 0, 1, 1},  {SUBS_422, 1, 2, 1},  {SUBS_420, 0, 1, 1}, {SUBS_420, 1, 2, 2},   {SUBS_420, 2, 2, 2},
    {SUBS_RGGB, 0, 2, 2}, {SUBS_BGGR, 3, 2, 2}, {SUBS_444, 2, 1, 1}, {SUBS_UNDEF, 1, 1, 1},
};

TEST(ImageModel, SamplingFactorsFollowTheModeTable) {
    for (const auto &r : kSampling) {
        CImageBase im;
        im.subsMode = r.mode;
        EXPECT_EQ(im.GetXSampling(r.channel), r.xs) << r.mode << "/" << r.channel;
        EXPECT_EQ(im.GetYSampling(r.channel), r.ys) << r.mode << "/" << r.channel;
    }
}

struct PlaneRow {
    int w, h;
    CM_xxx model;
    SUBS_xxx subs;
    int planes;
    int pw[4], ph[4];
};
const PlaneRow kPlanes[] = {
    {5, 3, CM_RGGB, SUBS_RGGB, 4, {3, 3, 3, 3}, {2, 2, 2, 2}},
    {5, 3, CM_YUV, SUBS_420, 3, {5, 3, 3}, {3, 2, 2}},
    {5, 3, CM_YUV, SUBS_422, 3, {5, 3, 3}, {3, 3, 3}},
    {5, 3, CM_RGB, SUBS_UNDEF, 3, {5, 5, 5}, {3, 3, 3}},
    {1, 1, CM_GRAY, SUBS_UNDEF, 1, {1}, {1}},
};

TEST(ImageModel, CreateNewImageSizesEveryPlane) {
    for (const auto &r : kPlanes) {
        CImageBase im;
        const QOR_INT8 depths[4] = {-12, 12, 12, 12};
        const PIXEL fill[4] = {7, 8, 9, 10};
        ASSERT_TRUE(im.CreateNewImage(r.w, r.h, r.model, r.subs, depths, fill));
        EXPECT_TRUE(im.IsHeaderLoaded());
        EXPECT_TRUE(im.IsDataLoaded());
        ASSERT_EQ(im.GetNColChannels(), r.planes);
        for (int c = 0; c < r.planes; ++c) {
            EXPECT_EQ(im.chnl[c].chnlWidth, r.pw[c]);
            EXPECT_EQ(im.chnl[c].chnlHeight, r.ph[c]);
            EXPECT_EQ(im.chnl[c].bitDepth, 12);
            EXPECT_EQ(im.chnl[c].isSigned, c == 0) << "-12 is a signed 12-bit channel";
            EXPECT_EQ(im.chnl[c].data[r.pw[c] * r.ph[c] - 1], fill[c]);
        }
    }
    CImageBase bad;
    EXPECT_FALSE(bad.CreateNewImage(4, 4, CM_UNDEF, SUBS_UNDEF, nullptr, nullptr));
    EXPECT_FALSE(bad.CreateNewImage(4, 4, static_cast<CM_xxx>(8), SUBS_UNDEF, nullptr, nullptr));
}

TEST(ImageModel, BaseLoadAndSaveStepsReportInternalError) {
    CImageBase im;
    void *sc = nullptr;
    EXPECT_STREQ(im.LoadFileHeader("x", nullptr), "Internal error");
    EXPECT_STREQ(im.LoadFileData(0), "Internal error");
    EXPECT_STREQ(im.SaveFileStart("x", nullptr, &sc), "Internal error");
    EXPECT_STREQ(im.SaveSingleFrameImage("x", nullptr), "Internal error");
    EXPECT_EQ(im.GetNFrames(), 1);
    EXPECT_EQ(CImageBase::GetColorModelInfo(0), nullptr);
    EXPECT_EQ(CImageBase::GetColorModelInfo(4)->Nchannels, 4);
    EXPECT_STREQ(CImageBase::GetColorModelInfo(4)->channelNames[2], "G2");
}

struct FlipRow {
    SUBS_xxx src, dst;
    int flip;
};
const FlipRow kFlips[] = {
    {SUBS_RGGB, SUBS_RGGB, 0}, {SUBS_RGGB, SUBS_GRBG, 1}, {SUBS_RGGB, SUBS_GBRG, 2},
    {SUBS_RGGB, SUBS_BGGR, 3}, {SUBS_GRBG, SUBS_BGGR, 2}, {SUBS_444, SUBS_GRBG, 1},
};

TEST(ImageModel, BayerFlipsAreTheExclusiveOrOfBothOrders) {
    for (const auto &r : kFlips)
        EXPECT_EQ(CImageBase::GetBayerFlip(r.src, r.dst), r.flip) << r.src << "->" << r.dst;
}

struct DepthRow {
    QOR_INT32 in;
    QOR_INT8 from, to;
    QOR_INT32 out;
};
const DepthRow kDepths[] = {
    {5, 10, 12, 20},     /* unsigned 10 to 12: x4 */
    {5, -10, 12, 40},    /* signed 10 (9 magnitude bits) to unsigned 12: shift 3 */
    {5, 10, -12, 10},    /* unsigned 10 to signed 12 (11 magnitude bits): shift 1 */
    {-8, -10, -12, -32}, /* a negative sample scales too */
    {-8, -12, -10, -2},  /* arithmetic shift right */
    {1023, 10, 8, 255},  {77, 9, 9, 77},
};

TEST(ImageModel, BitDepthChangeShiftsByTheMagnitudeBits) {
    for (const auto &r : kDepths)
        EXPECT_EQ(CImageBase::ChBitDepth(r.in, r.from, r.to), r.out) << r.in << " " << int(r.from) << "->" << int(r.to);
}

TEST(ImageModel, ChangeChannelBitDepthConvertsOnlyWhatDiffers) {
    CImageBase im;
    const QOR_INT8 depths[4] = {8, 10, 10, 10};
    const PIXEL fill[4] = {3, 3, 3, 3};
    ASSERT_TRUE(im.CreateNewImage(2, 2, CM_RGBA, SUBS_UNDEF, depths, fill));
    im.ChangeChannelBitDepth(1, 10); /* already unsigned 10: nothing changes anywhere */
    for (int c = 0; c < 4; ++c)
        EXPECT_EQ(im.chnl[c].data[0], 3);
    im.ChangeChannelBitDepth(-1, -11);
    EXPECT_EQ(im.chnl[0].data[0], 12); /* 8 -> 10 magnitude bits */
    EXPECT_EQ(im.chnl[1].data[0], 3);
    EXPECT_TRUE(im.chnl[1].isSigned);
    EXPECT_EQ(im.chnl[1].bitDepth, 11);
    im.ChangeChannelBitDepth(0, 0);  /* no format: ignored */
    im.ChangeChannelBitDepth(0, 40); /* out of range: ignored */
    im.ChangeChannelBitDepth(4, 12); /* beyond the model: ignored */
    EXPECT_EQ(im.chnl[0].bitDepth, 11);
}

TEST(ImageModel, ClippingUsesEachChannelsOwnRangeOrTheGivenOne) {
    CImageBase im;
    const QOR_INT8 depths[3] = {10, 8, -8};
    const PIXEL fill[3] = {2000, 300, -300};
    ASSERT_TRUE(im.CreateNewImage(2, 1, CM_RGB, SUBS_UNDEF, depths, fill));
    im.chnl[0].data[1] = 5;
    EXPECT_EQ(im.ClipChannelValues(0, 0, 100, true), 1u);
    EXPECT_EQ(im.chnl[0].data[0], 2000) << "count only";
    EXPECT_EQ(im.ClipChannelValues(-1, 0, 0, false), 5u);
    EXPECT_EQ(im.chnl[0].data[0], 1023);
    EXPECT_EQ(im.chnl[1].data[0], 255);
    EXPECT_EQ(im.chnl[2].data[0], -128);
    EXPECT_EQ(im.ClipChannelValuesToBD(-1, true), 0u);
    EXPECT_EQ(im.ClipChannelValues(3, 0, 0, false), 0u);
    im.OffsetChannelValues(1, -255);
    EXPECT_EQ(im.chnl[1].data[1], 0);
}

TEST(ImageModel, GreyMosaicToBayerPlacesEachSampleByOrder) {
    struct Row {
        SUBS_xxx order;
        std::vector<PIXEL> planes[4];
    } rows[] = {
        {SUBS_RGGB, {{0, 2}, {1, 3}, {4, 6}, {5, 7}}},
        {SUBS_GRBG, {{1, 3}, {0, 2}, {5, 7}, {4, 6}}},
        {SUBS_GBRG, {{4, 6}, {5, 7}, {0, 2}, {1, 3}}},
        {SUBS_BGGR, {{5, 7}, {4, 6}, {1, 3}, {0, 2}}},
    };
    CImageBase grey;
    const QOR_INT8 d[1] = {10};
    ASSERT_TRUE(grey.CreateNewImage(4, 2, CM_GRAY, SUBS_UNDEF, d, nullptr));
    for (int i = 0; i < 8; ++i)
        grey.chnl[0].data[i] = i;
    for (const auto &r : rows) {
        CImageBase bayer;
        ASSERT_EQ(bayer.ConvertFrom(&grey, CM_RGGB, r.order, false), 0);
        for (int c = 0; c < 4; ++c) {
            EXPECT_EQ(std::vector<PIXEL>(bayer.chnl[c].data, bayer.chnl[c].data + 2), r.planes[c]) << r.order << c;
            EXPECT_EQ(bayer.chnl[c].bitDepth, 10);
        }
    }
    CImageBase out;
    EXPECT_EQ(out.ConvertFrom(&grey, CM_RGGB, SUBS_444, true), 0) << "a check only ignores the order";
    EXPECT_EQ(out.ConvertFrom(&grey, CM_RGGB, SUBS_444, false), 1);
    EXPECT_EQ(out.ConvertFrom(&grey, CM_RGB, SUBS_RGGB, true), 1);
    CImageBase odd;
    ASSERT_TRUE(odd.CreateNewImage(3, 3, CM_GRAY, SUBS_UNDEF, d, nullptr));
    EXPECT_EQ(out.ConvertFrom(&odd, CM_RGGB, SUBS_RGGB, false), 0) << "odd sizes stay inside the planes";
}

TEST(ImageModel, SwapKeepsEachImagesExposure) {
    CImageBase a, b;
    ASSERT_TRUE(a.CreateNewImage(2, 2, CM_GRAY, SUBS_UNDEF, nullptr, nullptr));
    a.exposureInfo = {10, 1.5};
    b.exposureInfo = {20, 2.5};
    a.SwapWith(&b);
    EXPECT_FALSE(a.IsHeaderLoaded());
    EXPECT_TRUE(b.IsDataLoaded());
    EXPECT_EQ(a.exposureInfo.time, 10u);
    EXPECT_EQ(b.exposureInfo.time, 20u);
}

/* ------------------------------------------------------------------ metadata items */

TEST(Metadata, PoliciesForAnExistingName) {
    CMetaData md;
    EXPECT_TRUE(md.UpdateStr("Values", "1 2", IFEX_IGNORE));
    EXPECT_FALSE(md.UpdateStr("VALUES", "9", IFEX_FAIL));
    EXPECT_STREQ(md.GetMetaStr("values", nullptr), "1 2");
    EXPECT_TRUE(md.UpdateStr("values", "3", IFEX_APPEND));
    EXPECT_STREQ(md.GetMetaStr("Values", nullptr), "1 2 3");
    EXPECT_TRUE(md.UpdateStr("VALUES", "4", IFEX_REPLACE));
    EXPECT_STREQ(md.GetMetaStr("Values", nullptr), "4");
    EXPECT_STREQ(md.list->name, "Values") << "the name keeps its first spelling";
    EXPECT_TRUE(md.UpdateStr("values", "5", IFEX_IGNORE));
    EXPECT_EQ(md.GetNItems(), 2);
}

TEST(Metadata, AddFromStringLoopsOverLinesAndSplitsAtTheLastEquals) {
    CMetaData md;
    const char *text = "A=1\nX=Y=Z";
    const char *p = md.AddFromString(text, IFEX_IGNORE, nullptr);
    EXPECT_EQ(p, text + 4);
    const char *q = md.AddFromString(p, IFEX_IGNORE, nullptr);
    EXPECT_EQ(q, text + std::strlen(text));
    EXPECT_EQ(md.AddFromString(q, IFEX_IGNORE, nullptr), nullptr);
    EXPECT_EQ(md.AddFromString("no equals sign", IFEX_IGNORE, nullptr), nullptr);
    EXPECT_STREQ(md.GetMetaStr("X=Y", nullptr), "Z");
    EXPECT_STREQ(md.GetMetaName(1), "X=Y");
}

TEST(Metadata, RepeatedNamesAndCopy) {
    CMetaData md, copy;
    md.AddFromString("N=first", IFEX_IGNORE, nullptr);
    md.AddFromString("N=second", IFEX_IGNORE, nullptr);
    EXPECT_EQ(md.GetNItems(), 2);
    EXPECT_STREQ(md.GetMetaStr("n", nullptr), "first");
    ASSERT_TRUE(copy.CopyFrom(&md));
    EXPECT_EQ(copy.GetNItems(), 1);
    EXPECT_STREQ(copy.GetMetaStr("N", nullptr), "second");
    CMetaData merged;
    merged.UpdateStr("N", "old", IFEX_REPLACE);
    merged.UpdateStr("K", "keep", IFEX_REPLACE);
    EXPECT_TRUE(merged.MergeFrom(&md, IFEX_REPLACE));
    EXPECT_EQ(merged.GetNItems(), 3);
    EXPECT_STREQ(merged.GetMetaName(0), "K");
}

struct SubItemStep {
    int index;
    int value;
    const char *expected;
};
const SubItemStep kSubItems[] = {
    {0, 10, "10"},        {1, 10, "10 10"},        {3, 12, "10 10 12 12"},
    {1, 8, "10 8 12 12"}, {2, 100, "10 8 100 12"}, {0, 1, "1 8 100 12"},
};

TEST(Metadata, UpdateSubIntSequence) {
    CMetaData md;
    for (const auto &s : kSubItems) {
        ASSERT_TRUE(md.UpdateSubInt("BITDEPTH", s.index, s.value, ' '));
        EXPECT_STREQ(md.GetMetaStr("BITDEPTH", nullptr), s.expected) << s.index;
    }
    md.UpdateSubStr("LIST", 0, "a", ',');
    md.UpdateSubStr("LIST", 2, "c", ',');
    EXPECT_STREQ(md.GetMetaStr("LIST", nullptr), "a,c,c");
}

struct DoubleRow {
    double v;
    const char *text;
};
const DoubleRow kDoubles[] = {{-0.5, "-0.5"}, {2.5, "2.5"}, {3.0, "3"},
                              {0.0, "0"},     {1e-12, "0"}, {1234.125, "1234.125"}};

TEST(Metadata, UpdateDoubleStripsTrailingZeros) {
    for (const auto &r : kDoubles) {
        CMetaData md;
        md.UpdateDouble("G", r.v, IFEX_REPLACE);
        EXPECT_STREQ(md.GetMetaStr("G", nullptr), r.text) << r.v;
    }
}

TEST(Metadata, ReadersByIndex) {
    CMetaData md;
    md.UpdateStr("BITDEPTH", "10 12", IFEX_REPLACE);
    md.UpdateStr("SPACED", "  3   4  ", IFEX_REPLACE);
    md.UpdateStr("TEXT", "12abc x", IFEX_REPLACE);
    md.UpdateStr("LONG", "99999999999999999999", IFEX_REPLACE);
    md.UpdateStr("FMT", "rgb", IFEX_REPLACE);
    EXPECT_EQ(md.GetMetaInt("BITDEPTH", 8, 3, true), 12);
    EXPECT_EQ(md.GetMetaInt("BITDEPTH", 8, 3, false), 8);
    EXPECT_EQ(md.GetMetaValCount("SPACED"), 2);
    EXPECT_EQ(md.GetMetaValCount("MISSING"), 0);
    EXPECT_EQ(md.GetMetaInt("TEXT", 0, 0, false), 12);
    EXPECT_EQ(md.GetMetaInt("TEXT", 5, 1, false), 5);
    EXPECT_EQ(md.GetMetaInt("LONG"), 2147483647) << "long digit runs saturate";
    EXPECT_DOUBLE_EQ(md.GetMetaDouble("SPACED", 0, 1, false), 4.0);
    EXPECT_EQ(md.GetMetaEnum("FMT", -1, "Grayscale\0RGB\0"), 1);
    EXPECT_EQ(md.GetMetaEnum("FMT", -1, "YUV\0"), -1);
    QOR_INT32 len = -1;
    const char *v = md.GetMetaSubStr("SPACED", nullptr, 1, &len, ' ');
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(std::string(v, static_cast<size_t>(len)), "4");
    EXPECT_EQ(md.GetMetaSubStr("SPACED", nullptr, 2, &len, ' '), nullptr);
    EXPECT_STREQ(md.GetMetaSubStr("MISSING", "def", 0, &len, ' '), "def");
    EXPECT_EQ(len, 3);
}

TEST(Metadata, RenameAndDelete) {
    CMetaData md;
    md.UpdateStr("NOMINAL_RANGE", "0 1", IFEX_REPLACE);
    md.UpdateStr("LAST", "x", IFEX_REPLACE);
    EXPECT_TRUE(md.Rename("NOMINAL_RANGE", "CHANNEL_NOMINAL_RANGE"));
    EXPECT_EQ(md.Find("NOMINAL_RANGE"), nullptr);
    EXPECT_NE(md.Find("channel_nominal_range"), nullptr);
    md.Del(md.Find("LAST"));
    md.UpdateStr("AFTER", "y", IFEX_REPLACE); /* appending after deleting the last item keeps the order */
    EXPECT_STREQ(md.GetMetaName(1), "AFTER");
    EXPECT_EQ(md.GetNItems(), 2);
}

/* ------------------------------------------------------------------ bit stream */

TEST(BitStream, ReferenceByteVectors) {
    QOR_UINT8 buf[8];
    std::memset(buf, 0xAA, sizeof(buf));
    CBitStreamRW bs;
    bs.SetPos(buf);
    bs.AdvanceToByteBoundary();
    EXPECT_EQ(bs.pStream, buf) << "a fresh stream is already on a boundary";
    bs.WriteBitsUns(0x5, 3);
    bs.WriteBitsUns(0x7F, 7);
    EXPECT_EQ(buf[0], 0xFD);
    EXPECT_EQ(buf[1], 0x03);

    std::memset(buf, 0xAA, sizeof(buf));
    bs.SetPos(buf);
    for (QOR_UINT32 v : {1u, 2u, 3u})
        bs.WriteBitsUns(v, 10);
    bs.AdvanceToByteBoundary();
    const QOR_UINT8 expected[4] = {0x01, 0x08, 0x30, 0x00};
    EXPECT_EQ(std::memcmp(buf, expected, 4), 0);
    EXPECT_EQ(bs.pStream, buf + 4);
    EXPECT_EQ(buf[4], 0xAA) << "a write never touches bytes after the current one";

    bs.SetPos(buf);
    bs.WriteBitsSig(-1, 10);
    bs.SetPos(buf);
    EXPECT_EQ(bs.ReadBitsSig(10), -1);
    bs.SetPos(buf);
    EXPECT_EQ(bs.ReadBitsUns(10), 1023u);
}

TEST(BitStream, RandomValuesOfOneTo31BitsRoundTrip) {
    std::mt19937 rng(5);
    std::vector<QOR_UINT8> buf(10000 * 4 + 8);
    std::vector<std::pair<int, QOR_INT32>> written;
    CBitStreamRW bs;
    bs.SetPos(buf.data());
    for (int i = 0; i < 10000; ++i) {
        const int n = 1 + static_cast<int>(rng() % 31);
        const QOR_INT32 v = static_cast<QOR_INT32>(rng() & ((1u << n) - 1u)) - (i % 2 ? (1 << (n - 1)) : 0);
        written.emplace_back(n, v);
        bs.WriteBitsSig(v, static_cast<QOR_INT8>(n));
        if (i % 97 == 0)
            bs.AdvanceToByteBoundary();
    }
    bs.SetPos(buf.data());
    for (size_t i = 0; i < written.size(); ++i) {
        const int n = written[i].first;
        if (i % 2) {
            ASSERT_EQ(bs.ReadBitsSig(static_cast<QOR_INT8>(n)), written[i].second) << i;
        } else {
            ASSERT_EQ(bs.ReadBitsUns(static_cast<QOR_INT8>(n)), static_cast<QOR_UINT32>(written[i].second)) << i;
        }
        if (i % 97 == 0)
            bs.AdvanceToByteBoundary();
    }
}

} // namespace
