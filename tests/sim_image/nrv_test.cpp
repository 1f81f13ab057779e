/* NRV container: the worked examples (header, metadata order, line and frame sizes, frame counting,
 * subsampling codes) and the reader/writer paths that the oracle round trips do not reach. */
#include <gtest/gtest.h>

#include <dirent.h>

#include <cstdio>
#include <string>

#include "image_nrv.h"
#include "nrv_test_helpers.h"
#include "sim_image.h"

namespace {

std::string Str(const char *s) { return s ? s : "(success)"; }

/* One segment made by hand: a 64-byte header, the metadata text and `pixels` zero bytes. */
std::string Segment(const std::string &meta, size_t pixels) {
    char hdr[65];
    std::snprintf(hdr, sizeof(hdr), "NRV1\n04 %013d %013zu %013zu %013zu\n", 64, meta.size(), 64 + meta.size(), pixels);
    return std::string(hdr, 64) + meta + std::string(pixels, '\0');
}

void WriteText(const std::string &path, const std::string &bytes) {
    nrvtest::WriteBytes(path, std::vector<unsigned char>(bytes.begin(), bytes.end()));
}

TEST(Nrv, CaptureWriterFileOfA4x2RggbImageIsExactly345Bytes) {
    const std::string dir = nrvtest::TempDir("nrv_345");
    const std::string path = dir + "/rggb.nrv";
    sSimImageOut out;
    ASSERT_EQ(SimImageOut_init(&out), 0);
    out.info.ui8BitDepth = 10;
    out.info.ui32Width = 4;
    out.info.ui32Height = 2;
    out.info.eColourModel = SimImage_RGGB;
    ASSERT_EQ(SimImageOut_create(&out), 0);
    ASSERT_EQ(SimImageOut_open(&out, path.c_str()), 0);
    const QOR_UINT16 cells[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    ASSERT_EQ(SimImageOut_addFrame(&out, cells, sizeof(cells)), 0);
    ASSERT_EQ(SimImageOut_write(&out), 0);
    ASSERT_EQ(SimImageOut_close(&out), 0);
    ASSERT_EQ(SimImageOut_clean(&out), 0);

    const std::vector<unsigned char> bytes = nrvtest::ReadBytes(path);
    ASSERT_EQ(bytes.size(), 345u);
    const std::string text(bytes.begin(), bytes.begin() + 329);
    EXPECT_EQ(text,
              "NRV1\n04 0000000000064 0000000000265 0000000000329 0000000000016\n"
              "WIDTH=4\nHEIGHT=2\nCOLOUR_FORMAT=RGGB\nSUBSAMPLING_HOR=2 2 2 2\nSUBSAMPLING_VER=2 2 2 2\n"
              "PHASE_OFFSET_HOR=0 1 0 1\nPHASE_OFFSET_VER=0 0 1 1\nBITDEPTH=10 10 10 10\nSIGNED=0 0 0 0\n"
              "PLANE_FORMAT=1 1 1 1\nPIXEL_FORMAT=unpackedR\nSENSOR_EXPOSURE_TIME=0\nSENSOR_GAIN=0\nFRAME_SIZE=16\n");
    /* Planes R, G1, G2, B of two cells each, 16-bit little-endian. */
    const unsigned char pixels[16] = {1, 0, 5, 0, 2, 0, 6, 0, 3, 0, 7, 0, 4, 0, 8, 0};
    EXPECT_EQ(std::vector<unsigned char>(bytes.begin() + 329, bytes.end()),
              std::vector<unsigned char>(pixels, pixels + 16));
}

struct LineRow {
    const char *what;
    int width;
    CM_xxx model;
    SUBS_xxx subs;
    QOR_INT8 depth;
    PACKM_xxx packing;
    int group;
    QOR_INT8 planes[4];
    int align;
    long long line0;
    long long frame;
};
const LineRow kLines[] = {
    {"10-bit group 3, 1920", 1920, CM_GRAY, SUBS_UNDEF, 10, PACKM_GROUPPACK, 3, {1}, 0, 2560, 2560 * 2},
    {"10-bit group 3, 1921", 1921, CM_GRAY, SUBS_UNDEF, 10, PACKM_GROUPPACK, 3, {1}, 0, 2564, 2564 * 2},
    {"1080p RGGB 10-bit", 1920, CM_RGGB, SUBS_RGGB, 10, PACKM_UNPACKEDR, 0, {1, 1, 1, 1}, 0, 1920, 4LL * 540 * 1920},
    {"8-bit aligned to 16", 10, CM_GRAY, SUBS_UNDEF, 8, PACKM_UNPACKEDL, 0, {1}, 16, 16, 32},
    {"24-bit in 4 bytes", 3, CM_GRAY, SUBS_UNDEF, 24, PACKM_UNPACKEDR, 0, {1}, 0, 12, 24},
    {"RGB interleaved 12-bit", 5, CM_RGB, SUBS_UNDEF, 12, PACKM_UNPACKEDR, 0, {3}, 0, 30, 60},
    {"RGB group 2 over 3 channels", 3, CM_RGB, SUBS_UNDEF, 5, PACKM_GROUPPACK, 2, {3}, 0, 10, 20},
    {"YUV 4:2:0 semi-planar", 6, CM_YUV, SUBS_420, 8, PACKM_UNPACKEDR, 0, {1, 2}, 0, 6, 6 * 2 + 6 * 1},
};

TEST(Nrv, LineAndFrameSizes) {
    for (const auto &r : kLines) {
        SCOPED_TRACE(r.what);
        CImageBase im;
        const QOR_INT8 d[4] = {r.depth, r.depth, r.depth, r.depth};
        ASSERT_TRUE(im.CreateNewImage(r.width, r.model == CM_RGGB ? 1080 : 2, r.model, r.subs, d, nullptr));
        NRVSAVEFORMAT fmt;
        CImageNrv::GetSaveFormat(&fmt, &im);
        fmt.pixelFormat = r.packing;
        for (int p = 0; p < 4; ++p) {
            fmt.pixelFormatParam[p] = r.group;
            fmt.planeFormat[p] = r.planes[p];
        }
        fmt.lineAlign = r.align;
        CImageNrv nrv;
        EXPECT_EQ(nrv.GetLineSize(0, &fmt), r.line0);
        EXPECT_EQ(nrv.GetFrameSize(&fmt), r.frame);
        EXPECT_TRUE(nrv.CheckValidMetaPlaneFormat(&fmt));
    }
}

struct FrameCountRow {
    const char *frameSize; /* null: no "FRAME_SIZE" item */
    size_t pixels;
    int frames;
};
const FrameCountRow kFrameCounts[] = {
    {"1000", 3500, 3},
    {"1000", 999, -1},    /* the listed frame does not fit the pixel section: refused */
    {"100 200", 700, 4},  /* two listed, then frames of the last listed size */
    {nullptr, 3000, 375}, /* 8 bytes per computed frame (4x2 grey 8-bit) */
};

TEST(Nrv, FramesAreCountedFromFrameSizeWithinThePixelSection) {
    const std::string dir = nrvtest::TempDir("nrv_frames");
    for (const auto &r : kFrameCounts) {
        SCOPED_TRACE(r.frameSize ? r.frameSize : "none");
        std::string meta = "WIDTH=4\nHEIGHT=2\nCOLOUR_FORMAT=Grayscale\n";
        if (r.frameSize)
            meta += std::string("FRAME_SIZE=") + r.frameSize + "\n";
        const std::string path = dir + "/f.nrv";
        WriteText(path, Segment(meta, r.pixels));
        CImageNrv im;
        const char *msg = im.LoadFileHeader(path.c_str(), nullptr);
        if (r.frames < 0) {
            EXPECT_EQ(Str(msg), "Invalid image data offset and/or size");
            continue;
        }
        ASSERT_EQ(msg, nullptr) << msg;
        EXPECT_EQ(im.GetNFrames(), r.frames);
        QOR_INT64 size = 0;
        EXPECT_GT(im.GetFrameFilePos(r.frames - 1, &size), 0);
        EXPECT_EQ(im.GetFrameFilePos(r.frames, &size), -1);
        EXPECT_EQ(im.LoadFileData(r.frames - 1), nullptr);
    }
}

struct SubsRow {
    const char *model, *hor, *ver, *phaseHor, *phaseVer, *old;
    SUBS_xxx expected;
};
const SubsRow kSubs[] = {
    {"YUV", "1 2 2", "1 2 2", nullptr, "0 0.5 0.5", nullptr, SUBS_420},
    {"YUV", "1 2 2", "1 2 2", "0 0.75 0.75", "0 0.5 0.5", nullptr, SUBS_UNDEF},
    {"YUV", "1 2 2", "1 2 2", "0 0.25 0.25", "0 0.5 0.5", nullptr, SUBS_420},
    {"YUV", "1 2 2", "1 2 2", "0 0.5 0.5", nullptr, nullptr, SUBS_UNDEF},
    {"YUV", "1 2 2", "1 1 1", "0 0.5 0.5", nullptr, nullptr, SUBS_422},
    {"YUV", "1", "1", nullptr, nullptr, nullptr, SUBS_444},
    {"YUVA", "1 2 2 1", "1 2 2 1", nullptr, nullptr, nullptr, SUBS_UNDEF},
    {"RGGB", "2", "2", "1 0 1 0", "1 1 0 0", nullptr, SUBS_BGGR},
    {"RGGB", "2", "2", "0 1 0 1", "1 1 0 0", nullptr, SUBS_GBRG},
    {"RGGB", "2 2 2 1", "2", "0 1 0 1", "0 0 1 1", nullptr, SUBS_UNDEF},
    {"RGGB", nullptr, nullptr, nullptr, nullptr, "GRBG", SUBS_GRBG},
    {"RGGB", nullptr, nullptr, nullptr, nullptr, "grbg", SUBS_UNDEF},
    {"YUV", nullptr, nullptr, nullptr, nullptr, "422", SUBS_422},
};

TEST(Nrv, SubsamplingDetectionCodes) {
    for (const auto &r : kSubs) {
        CImageBase im;
        im.colorModel = std::string(r.model) == "YUV" ? CM_YUV : (std::string(r.model) == "YUVA" ? CM_YUVA : CM_RGGB);
        CMetaData md;
        if (r.hor)
            md.UpdateStr("SUBSAMPLING_HOR", r.hor, IFEX_REPLACE);
        if (r.ver)
            md.UpdateStr("SUBSAMPLING_VER", r.ver, IFEX_REPLACE);
        if (r.phaseHor)
            md.UpdateStr("PHASE_OFFSET_HOR", r.phaseHor, IFEX_REPLACE);
        if (r.phaseVer)
            md.UpdateStr("PHASE_OFFSET_VER", r.phaseVer, IFEX_REPLACE);
        if (r.old)
            md.UpdateStr("SUBSAMPLING", r.old, IFEX_REPLACE);
        EXPECT_EQ(CImageNrv::DetectNrvSubsampling(&im, &md), r.expected)
            << r.model << " " << (r.hor ? r.hor : "") << " / " << (r.phaseHor ? r.phaseHor : "")
            << (r.phaseVer ? r.phaseVer : "") << (r.old ? r.old : "");
    }
    EXPECT_EQ(CImageNrv::DetectNrvSubsampling(nullptr, nullptr), SUBS_UNDEF);
}

/* Saves `im` with the format given and loads it back into `back`. */
void SaveAndLoad(CImageBase &im, NRVSAVEFORMAT *fmt, const std::string &path, CImageNrv &back) {
    CImageNrv saver;
    NRVSAVEFORMAT own;
    if (!fmt) {
        CImageNrv::GetSaveFormat(&own, &im);
        fmt = &own;
    }
    fmt->pImData = &im;
    ASSERT_EQ(Str(saver.SaveSingleFrameImage(path.c_str(), fmt)), "(success)");
    ASSERT_EQ(Str(back.LoadFileHeader(path.c_str(), nullptr)), "(success)");
    ASSERT_EQ(Str(back.LoadFileData(0)), "(success)");
}

TEST(Nrv, BayerOrderSurvivesSaveAndLoad) {
    const std::string dir = nrvtest::TempDir("nrv_gbrg");
    CImageBase im;
    const QOR_INT8 d[4] = {12, 12, 12, 12};
    ASSERT_TRUE(im.CreateNewImage(6, 4, CM_RGGB, SUBS_GBRG, d, nullptr));
    CImageNrv back;
    SaveAndLoad(im, nullptr, dir + "/gbrg.nrv", back);
    EXPECT_EQ(back.subsMode, SUBS_GBRG);
    EXPECT_STREQ(back.pCurrSeg->meta.GetMetaStr("PHASE_OFFSET_HOR", nullptr), "0 1 0 1");
    EXPECT_STREQ(back.pCurrSeg->meta.GetMetaStr("PHASE_OFFSET_VER", nullptr), "1 1 0 0");
    EXPECT_EQ(back.chnl[3].chnlWidth, 3);
}

TEST(Nrv, UnsignedTopBitSurvivesUnpackedL) {
    const std::string dir = nrvtest::TempDir("nrv_24bit");
    CImageBase im;
    const QOR_INT8 d[1] = {24};
    const PIXEL v[1] = {16777215};
    ASSERT_TRUE(im.CreateNewImage(3, 1, CM_GRAY, SUBS_UNDEF, d, v));
    NRVSAVEFORMAT fmt;
    CImageNrv::GetSaveFormat(&fmt, &im);
    fmt.pixelFormat = PACKM_UNPACKEDL;
    CImageNrv back;
    SaveAndLoad(im, &fmt, dir + "/l24.nrv", back);
    EXPECT_EQ(back.chnl[0].data[2], 16777215);
    EXPECT_FALSE(back.chnl[0].isSigned);
}

TEST(Nrv, SingleValuesExtendToEveryChannelOrPlane) {
    const std::string dir = nrvtest::TempDir("nrv_extend");
    const std::string path = dir + "/e.nrv";
    WriteText(path, Segment("WIDTH=2\nHEIGHT=2\nCOLOUR_FORMAT=RGGB\nBITDEPTH=10\nFRAME_SIZE=8\n", 8));
    CImageNrv im;
    ASSERT_EQ(im.LoadFileHeader(path.c_str(), nullptr), nullptr);
    for (int c = 0; c < 4; ++c)
        EXPECT_EQ(im.chnl[c].bitDepth, 10);
    EXPECT_EQ(im.subsMode, SUBS_RGGB) << "an RGGB file without subsampling items is RGGB";

    WriteText(path, Segment("WIDTH=2\nHEIGHT=1\nCOLOUR_FORMAT=rgb\nPLANE_FORMAT=3\n", 6));
    ASSERT_EQ(im.LoadFileHeader(path.c_str(), nullptr), nullptr);
    EXPECT_EQ(im.GetNFilePlanes(nullptr), 1u);
    EXPECT_EQ(im.GetLineSize(0, nullptr), 6);
    EXPECT_EQ(im.GetNFrames(), 1);
}

TEST(Nrv, TwoSegmentsCountFramesOnAndApplyTheirOwnDescription) {
    const std::string dir = nrvtest::TempDir("nrv_two");
    const std::string path = dir + "/two.nrv";
    /* A Bayer segment then an RGB one: the RGB planes are full size whatever the first segment's order. */
    const std::string bayerMeta = "WIDTH=4\nHEIGHT=2\nCOLOUR_FORMAT=RGGB\nSUBSAMPLING_HOR=2\nSUBSAMPLING_VER=2\n"
                                  "PHASE_OFFSET_HOR=1 0 1 0\nPHASE_OFFSET_VER=1 1 0 0\nFRAME_SIZE=8\n";
    const std::string rgbMeta = "WIDTH=3\nHEIGHT=1\nCOLOUR_FORMAT=RGB\nFRAME_SIZE=9\n";
    WriteText(path, Segment(bayerMeta, 8) + Segment(rgbMeta, 18));
    CImageNrv im;
    ASSERT_EQ(im.LoadFileHeader(path.c_str(), nullptr), nullptr);
    EXPECT_EQ(im.GetNSegments(), 2);
    EXPECT_EQ(im.GetNFrames(), 3);
    EXPECT_EQ(im.GetProperty(PROPERTY_IS_VIDEO), 1);
    EXPECT_EQ(im.GetProperty(PROPERTY_SUPPORT_VIDEO), 1);
    QOR_INT32 first = -1;
    EXPECT_EQ(im.GetNFrames(1, &first), 2);
    EXPECT_EQ(first, 1);
    EXPECT_EQ(im.GetNFrames(2, &first), 0);
    QOR_INT32 within = -1;
    EXPECT_EQ(im.GetSegmentIndex(2, &within, nullptr), 1);
    EXPECT_EQ(within, 1);
    EXPECT_EQ(im.subsMode, SUBS_BGGR);
    ASSERT_EQ(im.LoadFileData(2), nullptr);
    EXPECT_EQ(im.colorModel, CM_RGB);
    EXPECT_EQ(im.subsMode, SUBS_UNDEF);
    EXPECT_EQ(im.chnl[0].chnlWidth, 3);
    EXPECT_EQ(im.GetMetaForFrame(3), nullptr);
    EXPECT_EQ(im.GetFrameFilePos(2, nullptr), QOR_INT64(64 + bayerMeta.size() + 8 + 64 + rgbMeta.size() + 9));
    ASSERT_EQ(im.LoadFileData(0), nullptr);
    EXPECT_EQ(im.colorModel, CM_RGGB);
}

TEST(Nrv, AFileOfManySegmentsLoadsEverySegment) {
    const std::string dir = nrvtest::TempDir("nrv_many_segments");
    const std::string path = dir + "/many.nrv";
    const std::string one = Segment("WIDTH=1\nHEIGHT=1\nCOLOUR_FORMAT=RGB\n", 3);
    std::string bytes;
    const int count = 40000;
    bytes.reserve(one.size() * count);
    for (int i = 0; i < count; ++i)
        bytes += one;
    WriteText(path, bytes);
    CImageNrv im;
    ASSERT_EQ(im.LoadFileHeader(path.c_str(), nullptr), nullptr);
    EXPECT_EQ(im.GetNFrames(), count);
    unsigned segments = 0, frames = 0;
    EXPECT_EQ(SimImageIn_checkMultiSegment(path.c_str(), &segments, &frames), 0);
    EXPECT_EQ(segments, unsigned(count));
}

TEST(Nrv, ARefusedSegmentLeavesTheImageConsistent) {
    /* A second segment with a 40-bit depth: reading its frame fails, and keeps failing cleanly. */
    const std::string dir = nrvtest::TempDir("nrv_refused_segment");
    const std::string path = dir + "/r.nrv";
    WriteText(path, Segment("WIDTH=2\nHEIGHT=1\nCOLOUR_FORMAT=Grayscale\nFRAME_SIZE=2\n", 2) +
                        Segment("WIDTH=2\nHEIGHT=1\nCOLOUR_FORMAT=YUVA\nBITDEPTH=40\nFRAME_SIZE=8\n", 8));
    CImageNrv im;
    ASSERT_EQ(im.LoadFileHeader(path.c_str(), nullptr), nullptr);
    for (int attempt = 0; attempt < 2; ++attempt)
        EXPECT_EQ(Str(im.LoadFileData(1)), "Invalid pixel format");
    EXPECT_EQ(Str(im.LoadFileData(0)), "(success)");
    EXPECT_EQ(im.colorModel, CM_GRAY);
}

TEST(Nrv, FuzzerFindingsLoadWithoutFault) {
    const std::string dir = std::string(NORVA_SIM_IMAGE_TEST_DIR) + "/fuzz_regressions";
    DIR *d = opendir(dir.c_str());
    ASSERT_NE(d, nullptr);
    int files = 0;
    while (dirent *e = readdir(d)) {
        if (e->d_name[0] == '.')
            continue;
        const std::string path = dir + "/" + e->d_name;
        ++files;
        CImageNrv im;
        if (im.LoadFileHeader(path.c_str(), nullptr))
            continue;
        for (int f = 0; f <= im.GetNFrames() && f < 5; ++f)
            im.LoadFileData(f);
        for (int f = 0; f <= im.GetNFrames() && f < 5; ++f)
            im.LoadFileData(f);
    }
    closedir(d);
    EXPECT_GT(files, 0);
}

TEST(Nrv, SavingWithoutAFormatKeepsLinesAndMetadataInAgreement) {
    const std::string dir = nrvtest::TempDir("nrv_noformat");
    const std::string src = dir + "/src.nrv", copy = dir + "/copy.nrv";
    WriteText(src, Segment("WIDTH=3\nHEIGHT=2\nCOLOUR_FORMAT=Grayscale\nLINE_ALIGN=8\nPIXEL_FORMAT=unpackedL\n"
                           "CUSTOM=kept\nISO_GAIN=2\n",
                           16));
    CImageNrv im;
    ASSERT_EQ(im.LoadFileHeader(src.c_str(), nullptr), nullptr);
    ASSERT_EQ(im.LoadFileData(0), nullptr);
    im.chnl[0].data[4] = 200;
    /* The plain save path: no StartSegment, no format. */
    ASSERT_EQ(Str(im.SaveSingleFrameImage(copy.c_str(), nullptr)), "(success)");
    CImageNrv back;
    ASSERT_EQ(back.LoadFileHeader(copy.c_str(), nullptr), nullptr);
    ASSERT_EQ(back.LoadFileData(0), nullptr);
    EXPECT_EQ(back.chnl[0].data[4], 200);
    EXPECT_EQ(back.GetNSegments(), 1);
    EXPECT_EQ(back.pixelFormat, PACKM_UNPACKEDL);
    EXPECT_STREQ(back.pCurrSeg->meta.GetMetaStr("LINE_ALIGN", nullptr), "8");
    EXPECT_STREQ(back.pCurrSeg->meta.GetMetaStr("CUSTOM", nullptr), "kept");
    EXPECT_EQ(back.pCurrSeg->meta.Find("ISO_GAIN"), nullptr) << "dropped on writing";
    EXPECT_EQ(back.GetLineSize(0, nullptr), 8);
}

TEST(Nrv, WriterRefusals) {
    const std::string dir = nrvtest::TempDir("nrv_writer");
    CImageNrv nrv;
    void *sc = nullptr;
    EXPECT_EQ(Str(nrv.SaveFileStart((dir + "/a.nrv").c_str(), nullptr, &sc)), "No image data to save");
    EXPECT_EQ(sc, nullptr);

    CImageBase im;
    ASSERT_TRUE(im.CreateNewImage(4, 2, CM_GRAY, SUBS_UNDEF, nullptr, nullptr));
    NRVSAVEFORMAT fmt;
    CImageNrv::GetSaveFormat(&fmt, &im);
    EXPECT_EQ(Str(nrv.SaveFileStart((dir + "/no/such/dir.nrv").c_str(), &fmt, &sc)), "Error creating file");
    fmt.pixelFormat = PACKM_GROUPPACK;
    fmt.pixelFormatParam[0] = 100; /* stored modulo 100 it would read back as 0 */
    EXPECT_EQ(Str(nrv.SaveFileStart((dir + "/g.nrv").c_str(), &fmt, &sc)), "Invalid group packing value");
    fmt.pixelFormatParam[0] = 99;

    const int fds = nrvtest::OpenDescriptors();
    ASSERT_EQ(nrv.SaveFileStart((dir + "/empty.nrv").c_str(), &fmt, &sc), nullptr);
    EXPECT_EQ(Str(nrv.SaveFileEnd(sc)), "Meta data not saved");
    ASSERT_EQ(nrv.SaveFileHeader(sc), nullptr);
    EXPECT_EQ(Str(nrv.SaveFileEnd(sc)), "Pixel data not saved");
    nrv.SaveFileAbort(sc);
    EXPECT_EQ(nrvtest::OpenDescriptors(), fds);

    /* A group size of 0 packs as 1 and is written as 1, so the file reads back. */
    fmt.pixelFormatParam[0] = 0;
    im.chnl[0].data[3] = 77;
    ASSERT_EQ(Str(nrv.SaveSingleFrameImage((dir + "/g0.nrv").c_str(), &fmt)), "(success)");
    CImageNrv back;
    ASSERT_EQ(Str(back.LoadFileHeader((dir + "/g0.nrv").c_str(), nullptr)), "(success)");
    ASSERT_EQ(Str(back.LoadFileData(0)), "(success)");
    EXPECT_EQ(back.pixelFormatParam[0], 1);
    EXPECT_EQ(back.chnl[0].data[3], 77);

    fmt.pixelFormat = PACKM_UNDEF;
    ASSERT_EQ(nrv.SaveFileStart((dir + "/undef.nrv").c_str(), &fmt, &sc), nullptr);
    EXPECT_EQ(Str(nrv.SaveFileData(sc)), "Invalid packing mode");
    nrv.SaveFileAbort(sc);
}

TEST(Nrv, UpgradeOfOlderMetadata) {
    CImageNrv im;
    const QOR_INT8 d[4] = {10, 10, 10, 10};
    ASSERT_TRUE(im.CreateNewImage(2, 2, CM_RGGB, SUBS_RGGB, d, nullptr));
    CMetaData md;
    md.UpdateStr("ISO_GAIN", "2", IFEX_REPLACE);
    md.UpdateStr("GAMMA_WHITE_POINT", "1023", IFEX_REPLACE);
    md.UpdateStr("HOR_PHASE_OFFSET", "0 1 0 1", IFEX_REPLACE);
    md.UpdateStr("NOMINAL_RANGE", "0 0.5", IFEX_REPLACE);
    im.UpgradeMetaData(&md);
    EXPECT_STREQ(md.GetMetaStr("SENSOR_BASE_ISO", nullptr), "100");
    EXPECT_STREQ(md.GetMetaStr("CAPTURE_ISO", nullptr), "200");
    EXPECT_STREQ(md.GetMetaStr("CHANNEL_DISPLAY_MIN", nullptr), "0 0 0 0");
    EXPECT_STREQ(md.GetMetaStr("CHANNEL_DISPLAY_MAX", nullptr), "1023 1023 1023 1023");
    EXPECT_STREQ(md.GetMetaStr("PHASE_OFFSET_HOR", nullptr), "0 1 0 1");
    EXPECT_STREQ(md.GetMetaStr("CHANNEL_FULL_MIN", nullptr), "0");
    EXPECT_STREQ(md.GetMetaStr("CHANNEL_FULL_MAX", nullptr), "512");
    EXPECT_EQ(md.Find("CHANNEL_NOMINAL_RANGE"), nullptr);
}

TEST(Nrv, ConvertFromGreyKeepsThePackingAndRebuildsTheDescription) {
    const std::string dir = nrvtest::TempDir("nrv_convert");
    const std::string path = dir + "/grey.nrv";
    WriteText(path, Segment("WIDTH=4\nHEIGHT=2\nCOLOUR_FORMAT=Grayscale\nBITDEPTH=10\nPIXEL_FORMAT=grouppacked 3\n"
                            "OWNER=x\n",
                            16));
    CImageNrv grey, bayer;
    ASSERT_EQ(grey.LoadFileHeader(path.c_str(), nullptr), nullptr);
    ASSERT_EQ(grey.LoadFileData(0), nullptr);
    ASSERT_EQ(bayer.ConvertFrom(&grey, CM_RGGB, SUBS_GRBG, false), 0);
    EXPECT_EQ(bayer.pixelFormat, PACKM_GROUPPACK);
    EXPECT_STREQ(bayer.pCurrSeg->meta.GetMetaStr("COLOUR_FORMAT", nullptr), "RGGB");
    EXPECT_STREQ(bayer.pCurrSeg->meta.GetMetaStr("PHASE_OFFSET_HOR", nullptr), "1 0 1 0");
    EXPECT_STREQ(bayer.pCurrSeg->meta.GetMetaStr("OWNER", nullptr), "x");
    CImageNrv other;
    other.SwapWith(&bayer);
    EXPECT_EQ(other.pixelFormat, PACKM_GROUPPACK);
    EXPECT_EQ(bayer.pSegInfo, nullptr);
}

} // namespace

TEST(Nrv, FramesAreReadThroughOneOpenStreamUntilTheHeaderIsUnloaded) {
    const std::string dir = nrvtest::TempDir("nrv_stream");
    const std::string path = dir + "/three.nrv";
    // Three 4x2 grey 8-bit frames whose samples are the frame number.
    std::string file = Segment("WIDTH=4\nHEIGHT=2\nCOLOUR_FORMAT=Grayscale\n", 24);
    for (size_t i = 0; i < 24; i++)
        file[file.size() - 24 + i] = static_cast<char>(i / 8);
    WriteText(path, file);

    const int before = nrvtest::OpenDescriptors();
    {
        CImageNrv im;
        ASSERT_EQ(im.LoadFileHeader(path.c_str(), nullptr), nullptr);
        ASSERT_EQ(im.LoadFileData(0), nullptr);
        EXPECT_EQ(nrvtest::OpenDescriptors(), before + 1);
        // The stream stays open, so playback goes on without reopening the file, even once it is gone.
        ASSERT_EQ(std::remove(path.c_str()), 0);
        for (int f : {1, 2, 0}) {
            ASSERT_EQ(im.LoadFileData(f), nullptr) << f;
            EXPECT_EQ(im.chnl[0].data[0], f);
        }
        EXPECT_EQ(nrvtest::OpenDescriptors(), before + 1);
        im.Unload();
        EXPECT_EQ(nrvtest::OpenDescriptors(), before);
        EXPECT_NE(im.LoadFileData(0), nullptr); // no header: nothing to read from
    }
    EXPECT_EQ(nrvtest::OpenDescriptors(), before);
}
