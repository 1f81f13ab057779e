/* The NRV container against an independent Python reader and writer: files written by one side are read by
 * the other, over random images that cover every packing, plane layout, line alignment, odd sizes, bit depths
 * 1 to 31, signedness and two-segment files. */
#include <gtest/gtest.h>

#include <random>
#include <set>
#include <sstream>

#include "image_nrv.h"
#include "nrv_test_helpers.h"

namespace {

const int kFiles = 62;

struct SegmentPlan {
    CM_xxx model;
    SUBS_xxx subs;
    int width, height;
    QOR_INT8 depths[4];
    NRVSAVEFORMAT fmt;
    int frames;
};

SegmentPlan PlanSegment(std::mt19937 &rng, int seed, bool later) {
    auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    static const CM_xxx kFirst[] = {CM_GRAY, CM_RGB, CM_RGBA, CM_RGGB, CM_RGGB, CM_RGBW, CM_YUV, CM_YUV, CM_YUVA};
    static const CM_xxx kLater[] = {CM_GRAY, CM_RGB, CM_RGBA, CM_RGGB, CM_YUV, CM_YUVA};
    SegmentPlan p{};
    p.model = later ? kLater[pick(6)] : kFirst[pick(9)];
    p.subs = SUBS_UNDEF;
    if (p.model == CM_RGGB)
        p.subs = static_cast<SUBS_xxx>(SUBS_RGGB + pick(4));
    if (p.model == CM_YUV)
        p.subs = static_cast<SUBS_xxx>(SUBS_444 + pick(3));
    if (p.model == CM_YUVA)
        p.subs = SUBS_444;
    p.width = 1 + pick(9);
    p.height = 1 + pick(7);
    const int n = CImageBase::GetColorModelInfo(p.model)->Nchannels;
    for (int c = 0; c < n; ++c) {
        const int d = (seed * 7 + 5 * c) % 31 + 1;
        p.depths[c] = static_cast<QOR_INT8>(pick(2) ? -d : d);
    }
    CImageNrv::GetSaveFormat(&p.fmt, static_cast<CImageBase *>(nullptr));
    static const PACKM_xxx kPack[] = {PACKM_UNPACKEDR, PACKM_UNPACKEDL, PACKM_GROUPPACK};
    p.fmt.pixelFormat = kPack[seed % 3];
    /* Consecutive channels of equal sampling may share a plane (YUV 4:2:x keeps Y alone). */
    int c = 0, plane = 0;
    while (c < n) {
        int k = 1;
        const bool lumaAlone = p.model == CM_YUV && (p.subs == SUBS_422 || p.subs == SUBS_420) && c == 0;
        while (!lumaAlone && c + k < n && pick(2))
            ++k;
        p.fmt.planeFormat[plane] = static_cast<QOR_INT8>(k);
        p.fmt.pixelFormatParam[plane] = 1 + pick(99);
        ++plane;
        c += k;
    }
    for (; plane < 4; ++plane)
        p.fmt.planeFormat[plane] = 0;
    static const int kAlign[] = {0, 1, 2, 3, 4, 8, 16};
    p.fmt.lineAlign = kAlign[pick(7)];
    p.frames = 1 + pick(3);
    return p;
}

void FillRandom(CImageBase &im, std::mt19937 &rng) {
    for (int c = 0; c < im.GetNColChannels(); ++c) {
        QOR_INT64 lo, hi;
        CImageBase::GetChannelRange(im.chnl[c], &lo, &hi);
        std::uniform_int_distribution<QOR_INT64> any(lo, hi);
        for (long i = 0; i < long(im.chnl[c].chnlWidth) * im.chnl[c].chnlHeight; ++i) {
            const int kind = static_cast<int>(rng() % 4);
            im.chnl[c].data[i] = static_cast<PIXEL>(kind == 0 ? lo : (kind == 1 ? hi : any(rng)));
        }
    }
}

/* Writes one random file with the C++ writer and returns the dump of what it wrote. */
std::string WriteRandomFile(const std::string &path, int seed) {
    std::mt19937 rng(static_cast<unsigned>(seed) * 7919u + 1u);
    const int nSegments = seed % 3 == 0 ? 2 : 1;
    CImageNrv saver;
    CImageBase image;
    SegmentPlan plan = PlanSegment(rng, seed, false);
    EXPECT_TRUE(image.CreateNewImage(plan.width, plan.height, plan.model, plan.subs, plan.depths, nullptr));
    NRVSAVEFORMAT fmt = plan.fmt;
    fmt.pImData = &image;
    void *sc = nullptr;
    const char *msg = saver.SaveFileStart(path.c_str(), &fmt, &sc);
    EXPECT_EQ(msg, nullptr) << msg;
    std::string expected;
    int index = 0;
    for (int s = 0; s < nSegments && sc; ++s) {
        if (s > 0) {
            plan = PlanSegment(rng, seed + 11, true);
            EXPECT_TRUE(image.CreateNewImage(plan.width, plan.height, plan.model, plan.subs, plan.depths, nullptr));
            fmt = plan.fmt;
            fmt.pImData = &image;
        }
        EXPECT_EQ(saver.StartSegment(sc), nullptr);
        EXPECT_EQ(saver.SaveFileHeader(sc), nullptr);
        for (int f = 0; f < plan.frames; ++f) {
            FillRandom(image, rng);
            expected += nrvtest::DumpImage(image, index++);
            msg = saver.SaveFileData(sc);
            EXPECT_EQ(msg, nullptr) << msg;
        }
    }
    msg = sc ? saver.SaveFileEnd(sc) : "no context";
    EXPECT_EQ(msg, nullptr) << msg;
    return expected;
}

/* Splits the oracle's "make" output into the expected dump of each file. */
std::vector<std::string> SplitByFile(const std::string &text) {
    std::vector<std::string> parts;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("file ", 0) == 0) {
            parts.emplace_back();
            continue;
        }
        if (!parts.empty())
            parts.back() += line + "\n";
    }
    return parts;
}

TEST(NrvOracle, FilesWrittenByTheOracleReadBackIdentically) {
    const std::string dir = nrvtest::TempDir("oracle_py_to_cpp");
    std::string out;
    ASSERT_EQ(nrvtest::RunOracle("make 0 " + std::to_string(kFiles) + " " + dir, &out), 0) << out;
    const std::vector<std::string> expected = SplitByFile(out);
    ASSERT_EQ(expected.size(), size_t(kFiles));
    std::set<std::string> packings;
    for (int s = 0; s < kFiles; ++s) {
        const std::string path = dir + "/py_" + std::to_string(s) + ".nrv";
        EXPECT_EQ(nrvtest::DumpFile(path), expected[s]) << path;
        CImageNrv im;
        ASSERT_EQ(im.LoadFileHeader(path.c_str(), nullptr), nullptr);
        packings.insert(std::to_string(im.pixelFormat));
    }
    EXPECT_EQ(packings.size(), 3u) << "every packing mode is covered";
}

TEST(NrvOracle, FilesWrittenByTheLibraryReadBackIdenticallyInTheOracle) {
    const std::string dir = nrvtest::TempDir("oracle_cpp_to_py");
    std::string expected, dumpArgs, rewriteArgs;
    for (int s = 0; s < kFiles; ++s) {
        const std::string path = dir + "/cpp_" + std::to_string(s) + ".nrv";
        expected += "file " + path + "\n" + WriteRandomFile(path, s);
        dumpArgs += " " + path;
        rewriteArgs += " " + path + " " + path + ".py";
    }
    std::string out;
    EXPECT_EQ(nrvtest::RunOracle("dump" + dumpArgs, &out), 0);
    EXPECT_EQ(out, expected);

    /* The oracle writes the same items and frames again: the bytes must agree, padding included. */
    ASSERT_EQ(nrvtest::RunOracle("rewrite" + rewriteArgs, &out), 0) << out;
    for (int s = 0; s < kFiles; ++s) {
        const std::string path = dir + "/cpp_" + std::to_string(s) + ".nrv";
        EXPECT_EQ(nrvtest::ReadBytes(path), nrvtest::ReadBytes(path + ".py")) << path;
    }
}

/* The bit depths and signedness of every channel of every segment of a file, as the reader finds them. */
std::set<std::pair<int, bool>> ChannelKinds(const std::string &path) {
    std::set<std::pair<int, bool>> kinds;
    CImageNrv im;
    EXPECT_EQ(im.LoadFileHeader(path.c_str(), nullptr), nullptr) << path;
    for (QOR_INT32 s = 0; s < im.GetNSegments(); ++s) {
        QOR_INT32 first = 0;
        if (im.GetNFrames(s, &first) == 0 || im.ApplyMetaForFrame(first, false) != nullptr)
            continue;
        for (int c = 0; c < im.GetNColChannels(); ++c)
            kinds.insert({im.chnl[c].bitDepth, im.chnl[c].isSigned});
    }
    return kinds;
}

TEST(NrvOracle, RandomFilesCoverEveryBitDepthAndSignedness) {
    /* Guards the generators above: in the files both sides write, depths 1 to 31 occur, each signed and unsigned. */
    const std::string dir = nrvtest::TempDir("oracle_coverage");
    std::string out;
    ASSERT_EQ(nrvtest::RunOracle("make 0 " + std::to_string(kFiles) + " " + dir, &out), 0) << out;
    std::set<std::pair<int, bool>> library, oracle;
    for (int s = 0; s < kFiles; ++s) {
        const std::string path = dir + "/cpp_" + std::to_string(s) + ".nrv";
        WriteRandomFile(path, s);
        for (const auto &k : ChannelKinds(path))
            library.insert(k);
        for (const auto &k : ChannelKinds(dir + "/py_" + std::to_string(s) + ".nrv"))
            oracle.insert(k);
    }
    for (int d = 1; d <= 31; ++d) {
        for (bool sign : {false, true}) {
            EXPECT_EQ(library.count({d, sign}), 1u) << "library files: depth " << d << (sign ? " signed" : " unsigned");
            EXPECT_EQ(oracle.count({d, sign}), 1u) << "oracle files: depth " << d << (sign ? " signed" : " unsigned");
        }
    }
}

} // namespace
