/* Frame writer: Bayer layout conversions, plain and NRV files, several threads through one record, and
 * the failure paths (a frame that cannot be added, a file closed without frames). */
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "image_nrv.h"
#include "norvacommon/userlog.h"
#include "nrv_test_helpers.h"
#include "savefile.h"

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

namespace {

/* ------------------------------------------------------------------ packers of the capture layouts */

using Line = std::vector<QOR_UINT16>;
using Packer = std::vector<QOR_UINT8> (*)(const Line &);

std::vector<QOR_UINT8> Pack8(const Line &s) { return std::vector<QOR_UINT8>(s.begin(), s.end()); }

std::vector<QOR_UINT8> Pack10(const Line &s) {
    std::vector<QOR_UINT8> out;
    for (size_t i = 0; i < s.size(); i += 3) {
        QOR_UINT32 w = 0;
        for (size_t k = 0; k < 3 && i + k < s.size(); ++k)
            w |= QOR_UINT32(s[i + k]) << (10 * k);
        for (int b = 0; b < 4; ++b)
            out.push_back(QOR_UINT8(w >> (8 * b)));
    }
    return out;
}

std::vector<QOR_UINT8> Pack12(const Line &s) {
    std::vector<QOR_UINT8> out((s.size() * 12 + 31) / 32 * 4, 0);
    for (size_t i = 0; i < s.size(); ++i)
        for (int b = 0; b < 12; ++b)
            if (s[i] >> b & 1)
                out[(12 * i + b) / 8] |= QOR_UINT8(1 << ((12 * i + b) % 8));
    return out;
}

std::vector<QOR_UINT8> PackTiff10(const Line &s) { /* most significant bits first */
    std::vector<QOR_UINT8> out((s.size() * 10 + 7) / 8, 0);
    for (size_t i = 0; i < s.size(); ++i)
        for (int b = 0; b < 10; ++b)
            if (s[i] >> (9 - b) & 1)
                out[(10 * i + b) / 8] |= QOR_UINT8(0x80 >> ((10 * i + b) % 8));
    return out;
}

std::vector<QOR_UINT8> PackTiff12(const Line &s) {
    std::vector<QOR_UINT8> out((s.size() * 12 + 7) / 8, 0);
    for (size_t i = 0; i < s.size(); ++i)
        for (int b = 0; b < 12; ++b)
            if (s[i] >> (11 - b) & 1)
                out[(12 * i + b) / 8] |= QOR_UINT8(0x80 >> ((12 * i + b) % 8));
    return out;
}

struct LayoutRow {
    const char *name;
    Packer pack;
    QOR_UINT8 depth;
    bool tiff;
};
const LayoutRow kLayouts[] = {
    {"capture 8", Pack8, 8, false},    {"capture 10", Pack10, 10, false}, {"capture 12", Pack12, 12, false},
    {"TIFF 10", PackTiff10, 10, true}, {"TIFF 12", PackTiff12, 12, true},
};

/* Packs the rows with a stride rounded up to 4 bytes plus `extra`. */
std::vector<QOR_UINT8> PackImage(const LayoutRow &lay, const std::vector<Line> &rows, size_t *stride,
                                 size_t extra = 0) {
    const size_t bytes = lay.pack(rows[0]).size();
    *stride = (bytes + 3) / 4 * 4 + extra;
    std::vector<QOR_UINT8> img(*stride * rows.size(), 0xEE);
    for (size_t r = 0; r < rows.size(); ++r) {
        const auto line = lay.pack(rows[r]);
        std::memcpy(img.data() + r * *stride, line.data(), line.size());
    }
    return img;
}

QOR_RESULT Convert(const LayoutRow &lay, QOR_UINT16 w, QOR_UINT16 h, const void *in, size_t stride, void **out,
                   QOR_SIZE *size, QOR_UINT8 depth = 0) {
    QOR_UINT16 dims[2] = {w, h};
    const QOR_UINT8 d = depth ? depth : lay.depth;
    return lay.tiff ? convertToPlanarBayerTiff(dims, in, stride, d, out, size)
                    : convertToPlanarBayer(dims, in, stride, d, out, size);
}

std::vector<QOR_UINT16> Samples(const LayoutRow &lay, void *out, size_t size) {
    std::vector<QOR_UINT16> v;
    if (lay.depth == 8)
        for (size_t i = 0; i < size; ++i)
            v.push_back(static_cast<QOR_UINT8 *>(out)[i]);
    else
        v.assign(static_cast<QOR_UINT16 *>(out), static_cast<QOR_UINT16 *>(out) + size / 2);
    return v;
}

TEST(SaveFileConversion, FourByTwoCaptureComesOutCellByCell) {
    for (const auto &lay : kLayouts) {
        SCOPED_TRACE(lay.name);
        size_t stride = 0;
        const auto img = PackImage(lay, {{1, 2, 3, 4}, {5, 6, 7, 8}}, &stride);
        void *out = nullptr;
        QOR_SIZE size = 0;
        ASSERT_EQ(Convert(lay, 4, 2, img.data(), stride, &out, &size), 0);
        EXPECT_EQ(size, 8u * (lay.depth == 8 ? 1 : 2));
        EXPECT_EQ(Samples(lay, out, size), (std::vector<QOR_UINT16>{1, 2, 5, 6, 3, 4, 7, 8}));
        std::free(out);
    }
}

TEST(SaveFileConversion, WideRandomCapturesMatchTheirSourceMosaic) {
    std::mt19937 rng(3);
    for (const auto &lay : kLayouts)
        for (QOR_UINT16 w : {6, 1000, 1920}) {
            SCOPED_TRACE(std::string(lay.name) + " width " + std::to_string(w));
            std::vector<Line> rows(4, Line(w));
            for (auto &r : rows)
                for (auto &s : r)
                    s = QOR_UINT16(rng() & ((1u << lay.depth) - 1));
            size_t stride = 0;
            const auto img = PackImage(lay, rows, &stride, 8);
            void *out = nullptr;
            QOR_SIZE size = 0;
            ASSERT_EQ(Convert(lay, w, 4, img.data(), stride, &out, &size), 0);
            const auto got = Samples(lay, out, size);
            std::free(out);
            for (size_t r = 0; r < 2; ++r)
                for (size_t k = 0; k < w / 2u; ++k) {
                    const size_t o = r * 2 * w + 4 * k;
                    ASSERT_EQ(got[o], rows[2 * r][2 * k]);
                    ASSERT_EQ(got[o + 1], rows[2 * r][2 * k + 1]);
                    ASSERT_EQ(got[o + 2], rows[2 * r + 1][2 * k]);
                    ASSERT_EQ(got[o + 3], rows[2 * r + 1][2 * k + 1]);
                }
        }
}

TEST(SaveFileConversion, Refusals) {
    const std::vector<QOR_UINT8> in(4096, 0);
    void *out = nullptr;
    QOR_SIZE size = 0;
    for (const auto &lay : kLayouts) {
        SCOPED_TRACE(lay.name);
        EXPECT_EQ(Convert(lay, 4, 3, in.data(), 16, &out, &size), 22) << "odd height";
        EXPECT_EQ(Convert(lay, 3, 2, in.data(), 16, &out, &size), 22) << "odd width";
        EXPECT_EQ(Convert(lay, 4, 2, in.data(), 6, &out, &size), lay.tiff ? 0 : 22) << "stride of 6 bytes";
        if (out)
            std::free(out);
        out = nullptr;
        EXPECT_EQ(Convert(lay, 64, 2, in.data(), 8, &out, &size), 22) << "stride shorter than a line";
        EXPECT_EQ(Convert(lay, 4, 2, in.data(), 16, &out, &size, 14), 22) << "depth 14";
        ASSERT_EQ(Convert(lay, 4, 0, in.data(), 16, &out, &size), 0) << "no rows";
        EXPECT_EQ(size, 0u);
        std::free(out);
        out = nullptr;
    }
    QOR_UINT16 dims[2] = {4, 2};
    EXPECT_EQ(convertToPlanarBayerTiff(dims, in.data(), 16, 8, &out, &size), 22);
}

/* ------------------------------------------------------------------ SaveFile records */

class SaveFileTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(SaveFile_init(&file_), 0);
        dir_ = nrvtest::TempDir(testing::UnitTest::GetInstance()->current_test_info()->name());
    }
    void TearDown() override { SaveFile_destroy(&file_); }
    SaveFile file_;
    std::string dir_;
};

SimImageInfo BayerInfo(QOR_UINT32 w, QOR_UINT32 h) { return SimImageInfo{10, w, h, 0, SimImage_RGGB, 33, 2.0, 0}; }

TEST_F(SaveFileTest, PlainFileTakesRowsWithoutTheirPadding) {
    const std::string path = dir_ + "/plain.bin";
    ASSERT_EQ(SaveFile_open(&file_, path.c_str()), 0);
    EXPECT_EQ(SaveFile_open(&file_, path.c_str()), 30);
    std::vector<QOR_UINT8> rows(48);
    for (size_t i = 0; i < rows.size(); ++i)
        rows[i] = QOR_UINT8(i);
    EXPECT_EQ(SaveFile_writeFrame(&file_, rows.data(), 16, 12, 3), 0);
    EXPECT_EQ(SaveFile_writeFrame(&file_, rows.data(), 8, 12, 3), 22);
    EXPECT_EQ(SaveFile_write(&file_, rows.data(), 4), 0);
    EXPECT_EQ(SaveFile_write(&file_, rows.data(), 0), 11);
    EXPECT_EQ(file_.ui32TimeWritten, 2u);
    ASSERT_EQ(SaveFile_close(&file_), 0);
    EXPECT_EQ(SaveFile_close(&file_), 0) << "closing a closed record";
    const auto bytes = nrvtest::ReadBytes(path);
    ASSERT_EQ(bytes.size(), 40u);
    EXPECT_EQ(bytes[12], 16) << "the second row starts one stride later";
    EXPECT_EQ(SaveFile_write(&file_, rows.data(), 4), 17);
    EXPECT_EQ(SaveFile_writeFrame(&file_, rows.data(), 16, 12, 3), 17);
}

TEST_F(SaveFileTest, UninitialisedRecordIsRefusedBeforeAnythingElse) {
    SaveFile zero;
    std::memset(&zero, 0, sizeof(zero));
    zero.saveTo = reinterpret_cast<FILE *>(0x1); /* whatever an uninitialised record holds is not looked at */
    const SimImageInfo info = BayerInfo(4, 2);
    EXPECT_EQ(SaveFile_open(&zero, "x"), 3);
    EXPECT_EQ(SaveFile_openNRV(&zero, "x", &info), 3);
    EXPECT_EQ(SaveFile_write(&zero, &info, 1), 3);
    EXPECT_EQ(SaveFile_close(&zero), 3);
    EXPECT_EQ(SaveFile_init(nullptr), 11);
    EXPECT_EQ(SaveFile_open(nullptr, "x"), 11);
    EXPECT_EQ(SaveFile_destroy(nullptr), 11);
    EXPECT_TRUE(SaveFile_useSaveLocks());
}

TEST_F(SaveFileTest, FailedNrvOpenLeavesTheRecordClosed) {
    SimImageInfo bad = BayerInfo(4, 2);
    bad.eColourModel = static_cast<sSimImageColourModel>(9);
    EXPECT_EQ(SaveFile_openNRV(&file_, (dir_ + "/bad.nrv").c_str(), &bad), 22);
    EXPECT_EQ(file_.pSimImage, nullptr);
    const SimImageInfo info = BayerInfo(4, 2);
    EXPECT_EQ(SaveFile_openNRV(&file_, (dir_ + "/no/dir.nrv").c_str(), &info), 3);
    EXPECT_EQ(SaveFile_open(&file_, (dir_ + "/then.bin").c_str()), 0);
}

TEST_F(SaveFileTest, EightThreadsOfFiftyFramesGiveOneValidFileOf400Frames) {
    const std::string path = dir_ + "/threads.nrv";
    const QOR_UINT32 w = 8, h = 4;
    const SimImageInfo info = BayerInfo(w, h);
    ASSERT_EQ(SaveFile_openNRV(&file_, path.c_str(), &info), 0);
    std::vector<std::thread> threads;
    std::vector<int> failures(8, 0);
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([&, t] {
            /* Converted rows of 2 x w samples; the rows given to writeFrame carry 4 samples of padding. */
            const size_t row = 2 * w, padded = row + 4;
            std::vector<QOR_UINT16> frame(padded * h / 2);
            for (int n = 0; n < 50; ++n) {
                for (auto &s : frame)
                    s = QOR_UINT16(t * 64 + n); /* every sample names its frame */
                /* Whole frames, padded rows and unpadded rows, from different threads. */
                const QOR_RESULT r = t % 2   ? SaveFile_write(&file_, frame.data(), row * h)
                                     : t % 4 ? SaveFile_writeFrame(&file_, frame.data(), row * 2, row * 2, h / 2)
                                             : SaveFile_writeFrame(&file_, frame.data(), padded * 2, row * 2, h / 2);
                if (r != 0)
                    ++failures[t];
            }
        });
    for (auto &th : threads)
        th.join();
    for (int t = 0; t < 8; ++t)
        EXPECT_EQ(failures[t], 0);
    EXPECT_EQ(file_.ui32TimeWritten, 400u);
    ASSERT_EQ(SaveFile_close(&file_), 0);

    CImageNrv nrv;
    ASSERT_EQ(nrv.LoadFileHeader(path.c_str(), nullptr), nullptr);
    ASSERT_EQ(nrv.GetNFrames(), 400);
    EXPECT_STREQ(nrv.pCurrSeg->meta.GetMetaStr("SENSOR_EXPOSURE_TIME", nullptr), "33");
    std::set<int> seen;
    for (int f = 0; f < 400; ++f) {
        ASSERT_EQ(nrv.LoadFileData(f), nullptr);
        const int v = nrv.chnl[0].data[0];
        for (int c = 0; c < 4; ++c)
            for (int i = 0; i < 8; ++i)
                ASSERT_EQ(nrv.chnl[c].data[i], v) << "frame " << f << " landed whole";
        seen.insert(v);
    }
    EXPECT_EQ(seen.size(), 400u) << "every frame once";
}

TEST_F(SaveFileTest, AFrameThatCannotBeAddedIsReportedNotReplacedByThePreviousOne) {
    const std::string path = dir_ + "/skip.nrv";
    const SimImageInfo info = BayerInfo(4, 2);
    ASSERT_EQ(SaveFile_openNRV(&file_, path.c_str(), &info), 0);
    std::vector<QOR_UINT16> frame(8, 5);
    ASSERT_EQ(SaveFile_write(&file_, frame.data(), 16), 0);
    CaptureStderr();
    EXPECT_EQ(SaveFile_write(&file_, frame.data(), 12), 22) << "not whole cells";
    EXPECT_EQ(SaveFile_write(&file_, frame.data(), 64), 3) << "more cells than the image";
    EXPECT_EQ(SaveFile_writeFrame(&file_, frame.data(), 6, 6, 2), 22);
    const std::string err = GetCapturedStderr();
    EXPECT_NE(err.find("failed to add a frame (returned 22)\n"), std::string::npos) << err;
    EXPECT_EQ(file_.ui32TimeWritten, 1u);
    ASSERT_EQ(SaveFile_close(&file_), 0);
    CImageNrv nrv;
    ASSERT_EQ(nrv.LoadFileHeader(path.c_str(), nullptr), nullptr);
    EXPECT_EQ(nrv.GetNFrames(), 1);
}

TEST_F(SaveFileTest, FramesThatCannotBeWrittenAreReportedAndTheFileIsStillReleased) {
    /* The full device takes the header and metadata into the stream buffer, then refuses the frames. */
    const int fds = nrvtest::OpenDescriptors();
    const SimImageInfo info = BayerInfo(64, 64);
    ASSERT_EQ(SaveFile_openNRV(&file_, "/dev/full", &info), 0);
    std::vector<QOR_UINT16> frame(64 * 64, 1);
    CaptureStderr();
    EXPECT_EQ(SaveFile_write(&file_, frame.data(), frame.size() * 2), 3);
    EXPECT_EQ(SaveFile_writeFrame(&file_, frame.data(), 256, 256, 32), 3);
    EXPECT_NE(file_.pSimImage, nullptr) << "a failed write leaves the file open";
    EXPECT_EQ(SaveFile_close(&file_), 3);
    const std::string err = GetCapturedStderr();
    EXPECT_NE(err.find("failed to write a frame (returned 3\n"), std::string::npos) << err;
    EXPECT_NE(err.find("CImageNrv::SaveFileData Error writing file\n"), std::string::npos) << err;
    EXPECT_EQ(file_.pSimImage, nullptr);
    EXPECT_EQ(nrvtest::OpenDescriptors(), fds);
}

TEST_F(SaveFileTest, ClosingWithoutFramesFailsAndLeavesNoOpenDescriptor) {
    const int fds = nrvtest::OpenDescriptors();
    const SimImageInfo info = BayerInfo(4, 2);
    ASSERT_EQ(SaveFile_openNRV(&file_, (dir_ + "/empty.nrv").c_str(), &info), 0);
    EXPECT_EQ(nrvtest::OpenDescriptors(), fds + 1);
    CaptureStderr();
    EXPECT_EQ(SaveFile_close(&file_), 3);
    GetCapturedStderr();
    EXPECT_EQ(file_.pSimImage, nullptr);
    EXPECT_EQ(nrvtest::OpenDescriptors(), fds);
    EXPECT_EQ(SaveFile_open(&file_, (dir_ + "/next.bin").c_str()), 0) << "the record is usable again";
}

} // namespace
