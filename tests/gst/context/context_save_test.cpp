// Saving what a capture context captured: one frame on request in each file kind, refusals, raw buffers without
// their padding, and the per-shot writers that "-no_write" keeps closed.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <vector>

#include "context_fixture.h"
#include "ispc/ModuleOUT.h"
#include "sim_image.h"

using namespace ISPC;
using norva_test::contains;
using norva_test::logOf;

namespace {

std::string readBytes(const std::string &path) {
    std::ifstream f(path, std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

bool exists(const std::string &path) { return access(path.c_str(), F_OK) == 0; }

bool haveFfmpeg() { return std::system("ffmpeg -version >/dev/null 2>&1") == 0; }

/** Runs the test inside the temporary folder (the per-shot writers use bare file names). */
class ScopedChdir {
public:
    explicit ScopedChdir(const std::string &dir) {
        char buf[4096];
        old = getcwd(buf, sizeof(buf)) != nullptr ? buf : ".";
        EXPECT_EQ(chdir(dir.c_str()), 0);
    }
    ~ScopedChdir() { EXPECT_EQ(chdir(old.c_str()), 0); }

private:
    std::string old;
};

BufferFormat format(pxlFormat f, unsigned w, unsigned h) {
    BufferFormat b;
    b.format = f;
    b.width = w;
    b.height = h;
    return b;
}

class ContextSave : public norva_test::ContextTest {
protected:
    void configured(pxlFormat f, unsigned w, unsigned h) {
        defaultParams(320, 240);
        ASSERT_TRUE(preconfigureMain()) << log;
        ASSERT_TRUE(main->configureOutput(format(f, w, h), nullptr));
        ASSERT_EQ(main->pCamera->startCapture(), QOR_RES_OK);
        ASSERT_EQ(main->pCamera->enqueueShot(), QOR_RES_OK);
        ASSERT_EQ(main->pCamera->acquireShot(shot, true), QOR_RES_OK);
    }
    void TearDown() override {
        if (main && main->pCamera != nullptr && shot.pCIBuffer != nullptr)
            main->pCamera->releaseShot(shot);
        ContextTest::TearDown();
    }
    Shot shot;
};

TEST(SaveTypes, NamesBothWays) {
    const char *names[] = {"Bayer", "Bayer_TIFF", "Display", "RGB_EXT", "RGB_INS", "YUV", "Bytes"};
    for (int i = 0; i < 7; i++) {
        Save::SaveType t = Save::None;
        EXPECT_TRUE(SaveTypeFromString(names[i], t)) << names[i];
        EXPECT_EQ(t, static_cast<Save::SaveType>(i));
        EXPECT_STREQ(SaveTypeString(t), names[i]);
    }
    for (const char *wrong : {"bayer", "yuv", "", "YUV ", "Display2"}) {
        Save::SaveType t = Save::Bytes;
        EXPECT_FALSE(SaveTypeFromString(wrong, t)) << wrong;
        EXPECT_EQ(t, Save::Bytes) << "left unchanged";
    }
    EXPECT_EQ(SaveTypeString(Save::None), nullptr);
    EXPECT_EQ(SaveTypeString(static_cast<Save::SaveType>(-1)), nullptr);
}

// The "YUV" file is the encoder's planes without their stride, and ffmpeg reads it as NV12.
TEST_F(ContextSave, YuvIsThePlanesWithoutStride) {
    configured(YUV_420_PL12_8, 320, 240);
    const std::string file = dir + "/frame.yuv";
    bool ok = false;
    const std::string e = logOf([&] { ok = main->saveImage(shot, file, Save::YUV); });
    ASSERT_TRUE(ok) << e;
    EXPECT_TRUE(contains(e, "Save type is YUV\n")) << e;
    std::string planes;
    for (unsigned y = 0; y < 240; y++)
        planes.append(reinterpret_cast<const char *>(shot.YUV.firstData()) + size_t(y) * shot.YUV.stride, 320);
    for (unsigned y = 0; y < 120; y++)
        planes.append(reinterpret_cast<const char *>(shot.YUV.firstDataCbCr()) + size_t(y) * shot.YUV.strideCbCr, 320);
    const std::string written = readBytes(file);
    ASSERT_EQ(written.size(), planes.size());
    EXPECT_TRUE(written == planes);
    if (!haveFfmpeg())
        GTEST_SKIP() << "ffmpeg is not installed";
    const std::string decoded = dir + "/decoded.yuv";
    const std::string cmd = "ffmpeg -loglevel error -y -f rawvideo -pix_fmt nv12 -s 320x240 -i '" + file +
                            "' -f rawvideo -pix_fmt nv12 '" + decoded + "'";
    ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
    EXPECT_TRUE(readBytes(decoded) == planes);
}

TEST_F(ContextSave, DisplayIsAnNrvAtTheOutputSize) {
    configured(RGB_888_24, 200, 150);
    const std::string file = dir + "/frame.nrv";
    bool ok = false;
    const std::string e = logOf([&] { ok = main->saveImage(shot, file, Save::Display); });
    ASSERT_TRUE(ok) << e;
    EXPECT_TRUE(contains(e, "Image was saved into '" + file + "'\n")) << e;
    sSimImageIn in;
    SimImageIn_init(&in);
    ASSERT_EQ(SimImageIn_loadNRV(&in, file.c_str()), QOR_RES_OK);
    EXPECT_EQ(in.info.ui32Width, 200u);
    EXPECT_EQ(in.info.ui32Height, 150u);
    SimImageIn_close(&in);
}

TEST_F(ContextSave, EmptyBufferWritesNothing) {
    configured(RGB_888_24, 320, 240);
    const std::string file = dir + "/frame.yuv";
    bool ok = true;
    const std::string e = logOf([&] { ok = main->saveImage(shot, file, Save::YUV); });
    EXPECT_FALSE(ok);
    EXPECT_TRUE(contains(e, "Buffer for YUV is empty\n")) << e;
    EXPECT_FALSE(exists(file));
    const std::string e2 = logOf([&] { ok = main->saveImage(shot, file, Save::Bayer); });
    EXPECT_FALSE(ok);
    EXPECT_TRUE(contains(e2, "Buffer for Bayer is empty\n")) << e2;
}

TEST_F(ContextSave, UnwritablePathFails) {
    configured(YUV_420_PL12_8, 320, 240);
    const std::string file = dir + "/no/such/folder/frame.yuv";
    bool ok = true;
    const std::string e = logOf([&] { ok = main->saveImage(shot, file, Save::YUV); });
    EXPECT_FALSE(ok);
    EXPECT_TRUE(contains(e, "Failed to save image to '" + file + "'\n")) << e;
}

// A 100-pixel-wide 10-bit Bayer line packs 3 samples in 4 bytes: 136 bytes are written per line, named "_str136".
TEST_F(ContextSave, RawBayerLinesLoseTheirPadding) {
    defaultParams(320, 240);
    ASSERT_TRUE(preconfigureMain()) << log;
    param->bSaveRaw[0] = true;
    std::vector<uint8_t> data(256 * 4);
    for (size_t i = 0; i < data.size(); i++)
        data[i] = static_cast<uint8_t>(i);
    Shot raw;
    raw.BAYER.width = 100;
    raw.BAYER.height = 4;
    raw.BAYER.stride = 256;
    raw.BAYER.pxlFormat = BAYER_RGGB_10;
    raw.BAYER.data = data.data();
    ScopedChdir inside(dir);
    const std::string e = logOf([&] { main->saveRaw(raw); });
    std::string found;
    for (const char *name :
         {"dataExtraction0_0_100x4_str136_", "dataExtraction0_1_100x4_str136_", "dataExtraction0_2_100x4_str136_"}) {
        const std::string cmd = "ls " + std::string(name) + "* 2>/dev/null";
        FILE *p = popen(cmd.c_str(), "r");
        char buf[256] = {};
        if (p != nullptr && std::fgets(buf, sizeof(buf), p) != nullptr)
            found = buf;
        if (p != nullptr)
            pclose(p);
        if (!found.empty())
            break;
    }
    ASSERT_FALSE(found.empty()) << e;
    found.erase(found.find_last_not_of("\n") + 1);
    EXPECT_EQ(found.substr(found.size() - 5), ".rggb");
    const std::string bytes = readBytes(found);
    ASSERT_EQ(bytes.size(), 4u * 136u);
    for (unsigned line = 0; line < 4; line++)
        EXPECT_EQ(bytes.substr(line * 136, 136),
                  std::string(reinterpret_cast<const char *>(data.data()) + line * 256, 136));
}

TEST(SaveRawBuffer, LineBytesMustFitTheStride) {
    std::vector<uint8_t> data(64 * 2, 7);
    Buffer b = {};
    b.width = 10;
    b.height = 2;
    b.stride = 64;
    b.data = data.data();
    for (unsigned lineBytes : {0u, 65u}) {
        const std::string e = norva_test::stderrOf([&] { EXPECT_EQ(saveRawBuffer(b, lineBytes, "/tmp/unused"), 1); });
        EXPECT_TRUE(contains(e, "is bigger than the buffer's stride (64) or is 0\n")) << e;
    }
    EXPECT_EQ(saveRawBuffer(b, 64, "/nonexistent-dir/file"), 1);
}

// With "-no_write" no per-shot writer is opened; without it the encoder's writer exists from configuration on.
TEST_F(ContextSave, PerShotWritersOnlyWithoutNoWrite) {
    useScene(320, 240);
    setupFiles(0, writeFile("setup.txt", "OUT_ENC NV12\n"));
    ScopedChdir inside(dir);
    main.reset(new TestContext());
    bool ok = false;
    log = logOf([&] { ok = main->configure(*param, 0, nullptr, nullptr); });
    ASSERT_TRUE(ok) << log;
    EXPECT_EQ(main->pEncoderSave, nullptr);
    EXPECT_EQ(main->pDisplaySave, nullptr);
    EXPECT_EQ(main->pStatsSave, nullptr);

    main.reset();
    param->bNoWrite = false;
    param->bSaveStats[0] = true;
    main.reset(new TestContext());
    log = logOf([&] { ok = main->configure(*param, 0, nullptr, nullptr); });
    ASSERT_TRUE(ok) << log;
    ASSERT_NE(main->pEncoderSave, nullptr);
    EXPECT_TRUE(main->pEncoderSave->isOpened());
    ASSERT_NE(main->pStatsSave, nullptr);
    EXPECT_TRUE(exists(dir + "/ctx_0_stats.dat"));
    Camera &c = *main->pCamera;
    ASSERT_EQ(c.startCapture(), QOR_RES_OK);
    ASSERT_EQ(c.enqueueShot(), QOR_RES_OK);
    Shot s;
    ASSERT_EQ(c.acquireShot(s, true), QOR_RES_OK);
    log = logOf([&] { main->handleShot(s, c); });
    EXPECT_FALSE(contains(log, "failed to save")) << log;
    EXPECT_EQ(c.releaseShot(s), QOR_RES_OK);
    const std::string encoderFile = dir + "/" + main->pEncoderSave->getFilename();
    main.reset(); // closes the writers
    EXPECT_EQ(readBytes(encoderFile).size(), 320u * 240u * 3u / 2u);
}

} // namespace
