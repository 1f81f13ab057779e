// Saving captures of the data-generator camera on the simulated platform: what is written reads back as the
// frame that was played or captured, plain files are what public tools expect, and failures are reported.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iomanip>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "ispc/Camera.h"
#include "ispc/ModuleBLC.h"
#include "ispc/ModuleIIF.h"
#include "ispc/ModuleOUT.h"
#include "ispc/ParameterFileParser.h"
#include "ispc/Save.h"
#include "mc/mc_lsh.h"
#include "platform/sim_capture.h"
#include "sensors/iifdatagen.h"
#include "sim_image.h"
#include "support/dg_nrv.h"
#include "support/output_capture.h"
#include "support/sim_fixture.h"

using namespace ISPC;
using norva_test::SimTest;
using norva_test::stderrOf;

namespace {

std::string ReadFile(const std::string &name) {
    std::ifstream in(name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string Output(const std::string &cmd) {
    std::string out;
    if (FILE *p = popen(cmd.c_str(), "r")) {
        char buf[256];
        while (fgets(buf, sizeof buf, p)) {
            out += buf;
        }
        pclose(p);
    }
    return out;
}

bool HaveTool(const char *tool) {
    return std::system((std::string("command -v ") + tool + " >/dev/null").c_str()) == 0;
}

/** A 12-bit NRV file of 640x480 played by the data-generator camera, one shot captured per call. */
class SaveOnDataGenerator : public SimTest {
protected:
    void SetUp() override {
        SimTest::SetUp();
        char pattern[] = "/tmp/norva-save-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
        input = dir + "/frames.nrv";
        ASSERT_TRUE(dg_nrv::write(input, kW, kH, 12, 2));
    }
    void TearDown() override {
        if (camera && held) {
            stderrOf([&] { camera->releaseShot(shot); });
        }
        stderrOf([&] { camera.reset(); });
        std::system(("rm -rf '" + dir + "'").c_str());
        SimTest::TearDown();
    }

    /** A programmed camera with the given output lines (and zero black level), buffers tiled or not. */
    Camera &programmed(const std::string &outputs, bool tiled = false) {
        const int id = Sensor::GetSensorId(IIFDG_SENSOR_NAME);
        camera.reset(new Camera(0, id, -1, 0));
        Camera &c = *camera;
        SENSOR_HANDLE h = c.getSensor()->getHandle();
        EXPECT_EQ(IIFDG_ExtendedSetConnection(h, c.getConnection()), QOR_RES_OK);
        EXPECT_EQ(IIFDG_ExtendedSetSourceFile(h, input.c_str()), QOR_RES_OK);
        EXPECT_EQ(IIFDG_ExtendedSetIsVideo(h, QOR_TRUE), QOR_RES_OK);
        EXPECT_EQ(IIFDG_ExtendedSetBlanking(h, 100, 14), QOR_RES_OK);
        c.init(0, 0);
        for (SetupModule *m : std::initializer_list<SetupModule *>{new ModuleOUT(), new ModuleIIF(), new ModuleBLC()}) {
            EXPECT_EQ(c.getPipeline()->registerModule(m), QOR_RES_OK);
        }
        c.state = Camera::CAM_REGISTERED;
        std::istringstream text(outputs + "\nBLC_SENSOR_BLACK 0 0 0 0\n");
        ParameterList setup;
        EXPECT_EQ(ParameterFileParser::parse(text, setup), QOR_RES_OK);
        EXPECT_EQ(c.loadParameters(setup), QOR_RES_OK);
        c.getPipeline()->setTilingEnabled(tiled);
        EXPECT_EQ(c.program(), QOR_RES_OK);
        if (!tiled) {
            EXPECT_EQ(c.allocateBufferPool(1), QOR_RES_OK);
            return c;
        }
        // one shot with a tiled buffer for each output in use
        const ModuleOUT &out = *static_cast<const ModuleOUT *>(c.getPipeline()->getModule(STP_OUT));
        EXPECT_EQ(c.addShots(1), QOR_RES_OK);
        QOR_UINT32 bufferId = 0;
        if (out.encoderType != PXL_NONE) {
            EXPECT_EQ(c.allocateBuffer(CI_TYPE_ENCODER, true, &bufferId), QOR_RES_OK);
        }
        if (out.displayType != PXL_NONE) {
            EXPECT_EQ(c.allocateBuffer(CI_TYPE_DISPLAY, true, &bufferId), QOR_RES_OK);
        }
        return c;
    }

    /** Captures one frame into `shot` (released at the end of the test). */
    void capture() {
        Camera &c = *camera;
        ASSERT_EQ(c.startCapture(), QOR_RES_OK);
        ASSERT_EQ(c.enqueueShot(), QOR_RES_OK);
        ASSERT_EQ(c.getSensor()->insert(), QOR_RES_OK);
        ASSERT_EQ(c.acquireShot(shot), QOR_RES_OK);
        held = true;
        ASSERT_EQ(c.getSensor()->waitProcessed(), QOR_RES_OK);
    }

    std::string file(const char *name) const { return dir + "/" + name; }

    static constexpr uint32_t kW = 640, kH = 480;
    std::string dir, input;
    std::unique_ptr<Camera> camera;
    Shot shot;
    bool held = false;
};

/** Frame k of an NRV Bayer file as row-major samples. */
std::vector<uint16_t> ReadBayer(const std::string &path, unsigned k, SimImageInfo *info) {
    sSimImageIn in;
    SimImageIn_init(&in);
    std::vector<uint16_t> out;
    if (SimImageIn_loadNRV(&in, path.c_str()) == QOR_RES_OK && SimImageIn_convertFrame(&in, int(k)) == QOR_RES_OK) {
        *info = in.info;
        out.assign(in.pBuffer, in.pBuffer + size_t(in.info.ui32Width) * in.info.ui32Height);
    }
    SimImageIn_close(&in);
    return out;
}

TEST_F(SaveOnDataGenerator, BayerFilesReplayTheFramePlayed) {
    struct Case {
        const char *outputs;
        Save::SaveType type;
        unsigned depth;
    } cases[] = {
        {"OUT_DE BAYER8\nOUT_DE_POINT 1", Save::Bayer, 8},
        {"OUT_DE BAYER10\nOUT_DE_POINT 1", Save::Bayer, 10},
        {"OUT_DE BAYER12\nOUT_DE_POINT 1", Save::Bayer, 12},
        {"OUT_ENC NV12\nOUT_DE_RAW2D TIFF10", Save::Bayer_TIFF, 10},
        {"OUT_ENC NV12\nOUT_DE_RAW2D TIFF12", Save::Bayer_TIFF, 12},
    };
    const std::vector<uint16_t> played = dg_nrv::mosaic(kW, kH, 0, 12);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.outputs);
        if (camera && held) {
            camera->releaseShot(shot);
            held = false;
        }
        programmed(c.outputs);
        capture();
        const std::string out = file("bayer.nrv");
        ASSERT_EQ(Save::Single(*camera->getPipeline(), shot, c.type, out), QOR_RES_OK);
        SimImageInfo info{};
        const std::vector<uint16_t> back = ReadBayer(out, 0, &info);
        ASSERT_EQ(back.size(), played.size());
        EXPECT_EQ(info.ui8BitDepth, c.depth);
        EXPECT_EQ(info.eColourModel, SimImage_RGGB);
        size_t differ = 0;
        for (size_t i = 0; i < played.size(); i++) {
            differ += back[i] != (played[i] >> (12 - c.depth)) ? 1 : 0;
        }
        EXPECT_EQ(differ, 0u);
        stderrOf([&] { EXPECT_EQ(camera->stopCapture(), QOR_RES_OK); });
    }
}

TEST_F(SaveOnDataGenerator, YuvFilesDecodeWithFfmpeg) {
    struct Case {
        const char *fmt, *ffmpeg, *size, *planar;
        unsigned chromaRows;
    } cases[] = {{"NV12", "nv12", "640x480", "yuv420p", kH / 2}, {"NV16", "gray", "640x960", "gray", kH}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.fmt);
        if (camera && held) {
            camera->releaseShot(shot);
            held = false;
        }
        programmed(std::string("OUT_ENC ") + c.fmt);
        capture();
        const std::string name = Save::getEncoderFilename(*camera->getPipeline());
        EXPECT_EQ(name, std::string("encoder0_640x480_") + c.fmt + "_align1.yuv");
        const std::string out = file("enc.yuv");
        Save s;
        ASSERT_EQ(s.open(Save::YUV, *camera->getPipeline(), out), QOR_RES_OK);
        ASSERT_EQ(s.save(shot), QOR_RES_OK);
        ASSERT_EQ(s.save(shot), QOR_RES_OK);
        ASSERT_EQ(s.close(), QOR_RES_OK);
        const size_t frame = size_t(kW) * kH + size_t(kW) * c.chromaRows;
        const std::string bytes = ReadFile(out);
        ASSERT_EQ(bytes.size(), 2 * frame);
        for (uint32_t y = 0; y < kH; y += 97) {
            EXPECT_EQ(bytes.compare(size_t(y) * kW, kW,
                                    reinterpret_cast<const char *>(shot.YUV.firstData() + size_t(y) * shot.YUV.stride),
                                    kW),
                      0)
                << y;
        }
        if (!HaveTool("ffmpeg")) {
            continue;
        }
        // this ffmpeg reads nv12 but not nv16: a 4:2:2 frame is then read as one grey picture of twice the height
        const std::string decoded = file("decoded.raw");
        const std::string cmd = std::string("ffmpeg -v error -y -f rawvideo -pix_fmt ") + c.ffmpeg + " -video_size " +
                                c.size + " -i " + out + " -f rawvideo -pix_fmt " + c.planar + " " + decoded;
        ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
        // the planar form holds the same frame size, and the luma planes are the bytes saved
        const std::string planar = ReadFile(decoded);
        ASSERT_EQ(planar.size(), 2 * frame);
        EXPECT_TRUE(planar.compare(frame, size_t(kW) * kH, bytes, frame, size_t(kW) * kH) == 0);
    }
}

TEST_F(SaveOnDataGenerator, DisplayFileReadsBackAsRgbThatNetpbmAccepts) {
    programmed("OUT_DISP RGB888_24");
    capture();
    EXPECT_EQ(Save::getDisplayFilename(*camera->getPipeline()), "display0.nrv");
    const std::string out = file("display.nrv");
    ASSERT_EQ(Save::Single(*camera->getPipeline(), shot, Save::Display, out), QOR_RES_OK);
    sSimImageIn in;
    SimImageIn_init(&in);
    ASSERT_EQ(SimImageIn_loadNRV(&in, out.c_str()), QOR_RES_OK);
    ASSERT_EQ(SimImageIn_convertFrame(&in, 0), QOR_RES_OK);
    ASSERT_EQ(in.info.ui32Width, kW);
    ASSERT_EQ(in.info.ui32Height, kH);
    // blue first in the file: the memory bytes of RGB888_24 are blue, green, red
    size_t differ = 0;
    std::string ppm = "P6\n640 480\n255\n";
    for (uint32_t y = 0; y < kH; y++) {
        for (uint32_t x = 0; x < kW; x++) {
            const uint16_t *px = in.pBuffer + 4 * (size_t(y) * kW + x);
            const uint8_t *mem = shot.DISPLAY.firstData() + size_t(y) * shot.DISPLAY.stride + 3 * x;
            if ((px[0] != mem[0] || px[1] != mem[1] || px[2] != mem[2]) && differ++ == 0) {
                ADD_FAILURE() << "first difference at " << x << "," << y << ": file " << px[0] << " " << px[1] << " "
                              << px[2] << ", memory " << int(mem[0]) << " " << int(mem[1]) << " " << int(mem[2]);
            }
            ppm += char(px[2]);
            ppm += char(px[1]);
            ppm += char(px[0]);
        }
    }
    SimImageIn_close(&in);
    EXPECT_EQ(differ, 0u);
    const std::string pnm = file("display.ppm");
    std::ofstream(pnm, std::ios::binary) << ppm;
    if (HaveTool("pamfile")) {
        EXPECT_TRUE(norva_test::contains(Output("pamfile " + pnm), "640 by 480  maxval 255"))
            << Output("pamfile " + pnm);
    }
}

TEST_F(SaveOnDataGenerator, TiledOutputsUntileToTheUntiledCapture) {
    struct Case {
        const char *outputs;
        Save::SaveType type;
    } cases[] = {{"OUT_DISP RGB888_32", Save::Display}, {"OUT_ENC NV12", Save::YUV}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.outputs);
        std::string saved[2];
        for (int tiled = 0; tiled < 2; tiled++) {
            if (camera && held) {
                camera->releaseShot(shot);
                held = false;
            }
            programmed(c.outputs, tiled == 1);
            capture();
            const Buffer &b = c.type == Save::YUV ? shot.YUV : shot.DISPLAY;
            EXPECT_EQ(b.isTiled, tiled == 1);
            const std::string out = file(tiled ? "tiled.out" : "linear.out");
            stderrOf([&] { ASSERT_EQ(Save::Single(*camera->getPipeline(), shot, c.type, out), QOR_RES_OK); });
            saved[tiled] = ReadFile(out);
            stderrOf([&] { camera->stopCapture(); });
        }
        ASSERT_FALSE(saved[0].empty());
        ASSERT_EQ(saved[0].size(), saved[1].size());
        size_t first = 0;
        while (first < saved[0].size() && saved[0][first] == saved[1][first]) {
            first++;
        }
        EXPECT_EQ(first, saved[0].size()) << "first difference";
    }
}

TEST_F(SaveOnDataGenerator, RawBlocksAndStatisticsRecords) {
    programmed("OUT_ENC NV12\nOUT_DISP RGB888_24");
    capture();
    const Pipeline &p = *camera->getPipeline();
    const std::string out = file("stats.bin");
    Save s;
    ASSERT_EQ(s.open(Save::Bytes, p, out), QOR_RES_OK);
    ASSERT_EQ(s.saveStats(shot), QOR_RES_OK);
    ASSERT_EQ(s.saveStats(shot), QOR_RES_OK);
    EXPECT_EQ(s.save(shot), QOR_RES_NOT_SUPPORTED);
    ASSERT_EQ(s.close(), QOR_RES_OK);
    EXPECT_EQ(s.close(), QOR_RES_NOT_SUPPORTED);
    EXPECT_EQ(ReadFile(out).size(), 2u * 6133);
    const std::string split = "python3 -c \"import re,sys; d=open(sys.argv[1],'rb').read(); "
                              "r=re.findall(rb'#stats-(\\d+)B#(.*?)#stats-done#', d, re.S); "
                              "print(len(r), [int(n)==len(b) for n,b in r])\" " +
                              out;
    EXPECT_EQ(Output(split), "2 [True, True]\n");

    // a shot whose defect map is empty gives an empty file
    ASSERT_EQ(Save::SingleDPF(p, shot, file("dpf.bin")), QOR_RES_OK);
    EXPECT_EQ(ReadFile(file("dpf.bin")).size(), 0u);

    // statistics on a YUV file are refused; a second open keeps the first file
    ASSERT_EQ(s.open(Save::YUV, p, file("a.yuv")), QOR_RES_OK);
    EXPECT_EQ(s.saveStats(shot), QOR_RES_NOT_SUPPORTED);
    EXPECT_EQ(s.saveTxtStats(shot), QOR_RES_NOT_SUPPORTED);
    stderrOf([&] { EXPECT_EQ(s.open(Save::YUV, p, file("b.yuv")), QOR_RES_ALREADY); });
    EXPECT_EQ(s.getFilename(), file("a.yuv"));
    EXPECT_EQ(s.close(), QOR_RES_OK);
    EXPECT_EQ(s.format(), Save::YUV);
}

TEST_F(SaveOnDataGenerator, FailuresAreReportedNotSwallowed) {
    programmed("OUT_ENC NV12\nOUT_DISP RGB888_24");
    capture();
    const Pipeline &p = *camera->getPipeline();
    stderrOf([&] {
        // a full disk
        EXPECT_NE(Save::SingleStats(p, shot, "/dev/full"), QOR_RES_OK);
        EXPECT_NE(Save::Single(p, shot, Save::YUV, "/dev/full"), QOR_RES_OK);
        EXPECT_NE(Save::SingleTxtStats(*camera, shot, "/dev/full"), QOR_RES_OK);
        Save s;
        ASSERT_EQ(s.open(Save::Bytes, p, "/dev/full"), QOR_RES_OK);
        EXPECT_NE(s.saveStats(shot), QOR_RES_OK);
        EXPECT_NE(s.close(), QOR_RES_OK);
        EXPECT_FALSE(s.isOpened());
    });

    // a fresh object is closed, whatever is asked of it
    Save fresh;
    EXPECT_FALSE(fresh.isOpened());
    EXPECT_EQ(fresh.format(), Save::None);
    stderrOf([&] {
        EXPECT_EQ(fresh.save(shot), QOR_RES_NOT_INITIALISED);
        EXPECT_EQ(fresh.saveStats(shot), QOR_RES_NOT_INITIALISED);
        EXPECT_EQ(fresh.saveTxtStats(shot), QOR_RES_NOT_INITIALISED);
        EXPECT_EQ(fresh.saveDPF(shot), QOR_RES_NOT_INITIALISED);
        EXPECT_EQ(fresh.saveENS(shot), QOR_RES_NOT_INITIALISED);
        EXPECT_EQ(fresh.saveCameraState(*camera), QOR_RES_NOT_INITIALISED);
    });
    EXPECT_EQ(fresh.close(), QOR_RES_NOT_SUPPORTED);

    // a tiling scheme of 0 cannot untile anything
    struct Probe : Save {
        QOR_RESULT untileWith(unsigned scheme, const Shot &s, Buffer &out) {
            tileScheme = scheme;
            type = YUV;
            return untile(s, out);
        }
    } probe;
    Buffer out{};
    stderrOf([&] { EXPECT_EQ(probe.untileWith(0, shot, out), QOR_RES_NOT_SUPPORTED); });

    // formats the file cannot take
    stderrOf([&] {
        EXPECT_EQ(Save::Single(p, shot, Save::Bayer, file("x.nrv")), QOR_RES_NOT_SUPPORTED);
        EXPECT_EQ(Save::Single(p, shot, Save::Bytes, file("x.bin")), QOR_RES_NOT_SUPPORTED);
        EXPECT_EQ(Save::Single(p, shot, Save::RGB_EXT, file("x.nrv")), QOR_RES_NOT_SUPPORTED);
    });
}

TEST_F(SaveOnDataGenerator, OpenNeedsAnOutputModuleAndASensor) {
    programmed("OUT_ENC NV12");
    Pipeline bare(camera->getConnection(), 1, camera->getSensor());
    Pipeline noSensor(camera->getConnection(), 1, nullptr);
    ASSERT_EQ(noSensor.registerModule(new ModuleOUT()), QOR_RES_OK);
    Save s;
    stderrOf([&] {
        EXPECT_EQ(s.open(Save::Bytes, bare, file("a.bin")), QOR_RES_UNAVAILABLE);
        EXPECT_FALSE(s.isOpened());
        EXPECT_EQ(s.open(Save::Bytes, noSensor, file("a.bin")), QOR_RES_FAILED);
        EXPECT_FALSE(s.isOpened());
        EXPECT_EQ(s.open(Save::Bytes, *camera->getPipeline(), file("a.bin")), QOR_RES_OK);
    });
    EXPECT_TRUE(s.isOpened());
}

} // namespace

namespace {

void PutWord(std::vector<uint8_t> &v, uint32_t w) {
    for (int i = 0; i < 4; i++) {
        v.push_back(uint8_t(w >> (8 * i)));
    }
}

/** A shot whose statistics and configuration are all known: every field a small function of its place. */
struct SyntheticShot {
    Shot shot;
    std::vector<uint8_t> dpf, ens;
    QOR_UINT16 defects[4] = {12, 34, 560, 78};

    SyntheticShot() {
        Metadata &m = shot.metadata;
        m.clippingConfig = MC_EXS{0, 1, 0, 2, 4, 90, 60, 0.95};
        for (int c = 0; c < 4; c++) {
            m.clippingStats.globalClipped[c] = uint32_t(100 + c);
        }
        for (int v = 0; v < 7; v++) {
            for (int h = 0; h < 7; h++) {
                for (int c = 0; c < 4; c++) {
                    m.clippingStats.regionClipped[v][h][c] = uint32_t(v * 100 + h * 10 + c);
                }
                for (int b = 0; b < 16; b++) {
                    m.histogramStats.regionHistograms[v][h][b] = uint32_t(v + h + b);
                }
                m.focusStats.gridSharpness[v][h] = uint32_t(1000 * v + h);
                MC_TILE_STATS_AWS &t = m.autoWhiteBalanceStats.tileStats[v][h];
                t = MC_TILE_STATS_AWS{v + 0.5, h + 0.25, v * h + 0.125, uint32_t(v * 7 + h)};
            }
        }
        for (int b = 0; b < 64; b++) {
            m.histogramStats.globalHistogram[b] = uint32_t(b * b);
        }
        m.histogramConfig = MC_HIS{0, 1, 1, 0.25, 1.5, 8, 16, 32, 64};
        m.focusStats.ROISharpness = 4242;
        m.focusConfig = MC_FOS{0, 1, 0, 1, 2, 3, 4, 10, 20, 30, 40};
        MC_WBS &w = m.whiteBalanceConfig;
        w.ui8ActiveROI = 1;
        w.fRGBOffset = -0.5;
        w.fYOffset = 2;
        for (int r = 0; r < 2; r++) {
            w.aRoiLeft[r] = QOR_UINT16(10 + r), w.aRoiTop[r] = QOR_UINT16(20 + r);
            w.aRoiWidth[r] = QOR_UINT16(30 + r), w.aRoiHeight[r] = QOR_UINT16(40 + r);
            w.aRMax[r] = QOR_UINT16(50 + r), w.aGMax[r] = QOR_UINT16(60 + r);
            w.aBMax[r] = QOR_UINT16(70 + r), w.aYMax[r] = QOR_UINT16(80 + r);
            MC_STATS_WBS &s = m.whiteBalanceStats;
            for (int c = 0; c < 3; c++) {
                s.whitePatch[r].channelAccumulated[c] = 5000000000ull + uint64_t(10 * r + c);
                s.whitePatch[r].channelCount[c] = uint32_t(20 * r + c);
                s.averageColor[r].channelAccumulated[c] = uint64_t(30 * r + c);
                s.highLuminance[r].channelAccumulated[c] = uint64_t(40 * r + c);
            }
            s.highLuminance[r].lumaCount = uint32_t(99 + r);
        }
        MC_AWS &a = m.autoWhiteBalanceConfig;
        a.bEnable = 1;
        a.fLog2_R_Qeff = 0.125;
        a.fBbDist = 0.0625;
        a.ui16GridTileWidth = 64;
        a.ui16GridTileHeight = 48;
        for (int i = 0; i < 5; i++) {
            a.aCurveCoeffX[i] = i * 0.5;
            a.aCurveBoundary[i] = -i;
        }
        m.flickerConfig = MC_FLD{0, 1, 1125, 29.97, 3, 4, 5, 6, 7, 8, 0};
        m.flickerStats.flickerStatus = FLD_60HZ;
        m.timestamps.ui32LinkedListUpdated = 1;
        m.timestamps.ui32InterruptServiced = 7;
        MC_DPF &d = m.defectiveConfig;
        d.eDPFEnable = 5;
        d.ui32NDefect = 2;
        d.apDefectInput = defects;
        d.ui16NbLines = 16;
        d.aSkip[1] = 1;
        d.aOffset[0] = 2;
        d.ui8Threshold = 9;
        d.fWeight = 0.75;
        m.defectiveStats = MC_STATS_DPF{3, 5, 1, 2};
        // two corrections: (x 8191, y 4096, data 0xABCD, confidence 0x7F, status 1) and (1, 2, 3, 4, 0); the
        // bits outside the fields are set to show they are masked
        PutWord(dpf, 0x1FFFu | 0x1000u << 16 | 0xE000E000u);
        PutWord(dpf, 0xABCDu | 0x7Fu << 16 | 1u << 31 | 0x7F000000u);
        PutWord(dpf, 1u | 2u << 16);
        PutWord(dpf, 3u | 4u << 16);
        shot.DPF = Statistics{dpf.data(), uint32_t(dpf.size()), uint32_t(dpf.size()), 8};
        m.encodeStatsConfig = MC_ENS{0, 1, 8, 2};
        for (uint32_t i = 0; i < 3; i++) {
            PutWord(ens, 100 + i);
            PutWord(ens, 200 + i);
        }
        shot.ENS = Statistics{ens.data(), uint32_t(ens.size()), uint32_t(ens.size()), 8};
    }
};

std::string GoldenPath() { return std::string(NORVA_ISPC_TEST_DIR) + "/data/txtstats_golden.txt"; }

TEST_F(SaveOnDataGenerator, TextStatisticsMatchTheGolden) {
    programmed("OUT_ENC NV12");
    SyntheticShot s;
    const std::string out = file("stats.txt");
    Save save;
    ASSERT_EQ(save.open(Save::Bytes, *camera->getPipeline(), out), QOR_RES_OK);
    ASSERT_EQ(save.saveTxtStats(s.shot), QOR_RES_OK);
    // an empty encoder-statistics block
    s.shot.ENS = Statistics{};
    ASSERT_EQ(save.saveTxtStats(s.shot), QOR_RES_OK);
    ASSERT_EQ(save.close(), QOR_RES_OK);
    const std::string text = ReadFile(out);
    if (std::getenv("NORVA_UPDATE_GOLDEN")) {
        std::ofstream(GoldenPath(), std::ios::binary) << text;
    }
    EXPECT_TRUE(text == ReadFile(GoldenPath())) << "differs from " << GoldenPath() << "; written to " << out;
    // the lines the layout is easiest to get wrong
    for (const char *line :
         {"      apDefectInput = (12 34) (560 78)\n      ui16NbLines = 16\n",
          "      apDefectOutput = (8191 4096 43981 127 1) (1 2 3 4 0)\n",
          "      ui32NOutElements = 3\n      # pair of (counter, entropy)\n      apStatsOutput = (100 200) (101 201) "
          "(102 202)\n",
          "      ui32NOutElements = 0\n      # pair of (counter, entropy)\n      ui32NOutElements = 0\n      "
          "apStatsOutput = null\n",
          "      # status: 4=WAITING, 1=50Hz, 2=60Hz, 0=NO_FLICKER, 3=UNDERTERMINED\n      flickerStatus = 2\n",
          "      whitePatch[1].channelAccumulated = (5000000010 5000000011 5000000012)\n"}) {
        EXPECT_TRUE(norva_test::contains(text, line)) << line;
    }
}

TEST_F(SaveOnDataGenerator, TextStatisticsStayBoundedOnInconsistentBlocks) {
    programmed("OUT_ENC NV12");
    struct Case {
        const char *what;
        uint32_t nOut;
        bool dpfAttached;
        uint32_t ensSize, ensElement;
        const char *expected;
    } cases[] = {
        {"dropped above modifications", 0xFFFFFFFCu, true, 24, 8, "apDefectOutput = (8191 4096"},
        {"map not attached", 2, false, 24, 8, "apDefectOutput = null"},
        {"ENS size not a multiple of 8", 2, true, 20, 8, "apStatsOutput = (100 200) (101 201)\n"},
        {"ENS element size 0", 2, true, 24, 0, "      ui32NOutElements = 0\n"},
        {"ENS element smaller than a pair", 2, true, 24, 4, "apStatsOutput = null"},
    };
    for (const Case &c : cases) {
        SyntheticShot s;
        s.shot.metadata.defectiveStats.ui32NOutCorrection = c.nOut;
        if (!c.dpfAttached) {
            s.shot.DPF = Statistics{};
        }
        s.shot.ENS.size = c.ensSize;
        s.shot.ENS.elementSize = c.ensElement;
        const std::string out = file("abuse.txt");
        Save save;
        ASSERT_EQ(save.open(Save::Bytes, *camera->getPipeline(), out), QOR_RES_OK);
        EXPECT_EQ(save.saveTxtStats(s.shot), QOR_RES_OK) << c.what;
        ASSERT_EQ(save.close(), QOR_RES_OK);
        const std::string text = ReadFile(out);
        EXPECT_LT(text.size(), 40000u) << c.what;
        EXPECT_TRUE(norva_test::contains(text, c.expected)) << c.what;
        EXPECT_FALSE(norva_test::contains(text, "(1 2 3 4 0) (")) << c.what;
    }
}

TEST(HardwareInformationText, TwoProfiles) {
    CI_HWINFO a{};
    a.rev_ui8Major = 2;
    a.rev_ui8Minor = 7;
    a.rev_ui8Maint = 1;
    a.ui16ConfigId = 7;
    a.rev_uid = 1234;
    a.config_ui8Parallelism = 2;
    a.config_ui8PixPerClock = 1;
    a.config_ui8BitDepth = 10;
    a.config_ui8NContexts = 1;
    a.config_ui8NImagers = 1;
    a.config_ui8NIIFDataGenerator = 1;
    a.ui32MaxLineStore = 4096;
    a.config_ui32DPFInternalSize = 8192;
    a.ui32LSHRamSizeBits = 2097152;
    a.ui32RefClockMhz = 40;
    a.context_aBitDepth[0] = 10;
    a.context_aMaxWidthSingle[0] = 4096;
    a.context_aMaxWidthMult[0] = 2048;
    a.context_aMaxHeight[0] = 3072;
    a.gasket_aBitDepth[0] = 12;
    a.gasket_aType[0] = 1;
    a.gasket_aImagerPortWidth[0] = 4;
    a.mmu_ui8RevMajor = 3;
    a.uiChangelist = 99;
    a.mmu_ui32PageSize = 4096;
    std::ostringstream first;
    first << a;
    EXPECT_EQ(first.str(), "HW Information:\n"
                           "  version = 2.7.1\n"
                           "  config = 007\n"
                           "  uid = 00001234\n"
                           "  parallelism = 2\n"
                           "  pixels per clock = 1\n"
                           "  bit depth = 10\n"
                           "  contexts = 1\n"
                           "  gaskets = 1\n"
                           "  dor idazida = 1\n"
                           "  max linestore = 4096\n"
                           "  DPF internal = 8192\n"
                           "  LSH RAM size = 2097152 bits\n"
                           "  features = none\n"
                           "  ref clock = 40 Mhz\n"
                           "\n"
                           "  Context 0:\n"
                           "    bit depth = 10\n"
                           "    max size (single) = 4096x3072\n"
                           "    max size (multi) = 2048x3072\n"
                           "\n"
                           "  Gasket 0:\n"
                           "    bit depth = 12\n"
                           "    format = MIPI\n"
                           "    MIPI lanes = 4\n"
                           "\n"
                           "MMU version 3.0.0\n"
                           "\n"
                           "SW Information:\n"
                           "  changelist = 99\n"
                           "  mmucontrol = 0\n"
                           "  tiling scheme = 0x0\n"
                           "  mmu page size = 4096\n"
                           "\n");
    // the stream's fill character is left as it was
    first << std::setw(3) << 5;
    EXPECT_TRUE(norva_test::contains(first.str(), "\n  5"));

    CI_HWINFO b = a;
    b.eFunctionalities = 0x3F;
    b.uiTiledScheme = 256;
    b.config_ui8NContexts = 2;
    b.config_ui8NImagers = 2;
    b.gasket_aType[1] = 2;
    b.gasket_aBitDepth[1] = 10;
    std::ostringstream second;
    second << b;
    const std::string t = second.str();
    EXPECT_TRUE(norva_test::contains(t, "  features = TILING HDR_EXT HDR_INS RAW2D_EXT IIF_DG IIF_DG_PATTERN\n"));
    EXPECT_TRUE(norva_test::contains(t, "  tiling scheme = 256x16\n"));
    EXPECT_TRUE(norva_test::contains(t, "\n  Context 1:\n    bit depth = 0\n"));
    EXPECT_TRUE(norva_test::contains(t, "\n  Gasket 1:\n    bit depth = 10\n    format = PARALLEL\n\nMMU version"));
}

} // namespace

namespace {

/** Writes one 12-bit RGGB frame of row-major samples (cells taken top-left, top-right, bottom-left, bottom-right). */
bool WriteFrame(const std::string &path, const std::vector<uint16_t> &m, uint32_t width, uint32_t height) {
    std::vector<uint16_t> cells;
    for (uint32_t cy = 0; cy < height / 2; ++cy) {
        for (uint32_t cx = 0; cx < width / 2; ++cx) {
            for (uint32_t k = 0; k < 4; k++) {
                cells.push_back(m[size_t(2 * cy + k / 2) * width + 2 * cx + k % 2]);
            }
        }
    }
    return dg_nrv::writeCells(path, width, height, 12, cells);
}

/** A lens falloff: the gain that brings colour-filter cell (cx, cy) of a 320x240-cell window back up. */
double Bowl(int c, double cx, double cy) {
    static const double corners[4][5] = {
        {2.0, 2.2, 1.9, 2.4, 1.0}, {1.8, 1.7, 2.1, 2.0, 1.05}, {2.5, 2.3, 2.2, 2.0, 0.9}, {1.5, 1.6, 1.7, 1.8, 1.1}};
    const double *b = corners[c];
    const double fx = cx / 320.0, fy = cy / 240.0, e = b[4];
    const double ramp = (1 - fy) * (1 - fx) * (b[0] - e) + (1 - fy) * fx * (b[1] - e) + fy * (1 - fx) * (b[2] - e) +
                        fy * fx * (b[3] - e);
    return e + ramp * (2 - std::cos((fx - 0.5) * M_PI) - std::cos((fy - 0.5) * M_PI)) / 2;
}

TEST_F(SaveOnDataGenerator, LensShadingGridFlattensAShadedSceneEndToEnd) {
    // a flat scene darkened by a known falloff is played, the inverse grid is loaded into the device, and the
    // saved data extraction comes out flat
    const double level = 1024;
    std::vector<uint16_t> scene(size_t(kW) * kH);
    for (uint32_t y = 0; y < kH; y++) {
        for (uint32_t x = 0; x < kW; x++) {
            scene[size_t(y) * kW + x] = uint16_t(std::lround(level / Bowl(int((y & 1u) * 2 + (x & 1u)), x / 2, y / 2)));
        }
    }
    ASSERT_TRUE(WriteFrame(input, scene, kW, kH));
    // extraction after the lens shading and the white balance
    Camera &c = programmed("OUT_DE BAYER12\nOUT_DE_POINT 2");

    LSH_GRID grid{};
    ASSERT_EQ(LSH_CreateMatrix(&grid, kW / 2, kH / 2, 16), QOR_RES_OK);
    for (int ch = 0; ch < 4; ch++) {
        for (unsigned j = 0; j < grid.ui16Height; j++) {
            for (unsigned i = 0; i < grid.ui16Width; i++) {
                grid.apMatrix[ch][j * grid.ui16Width + i] = float(Bowl(ch, 16.0 * i, 16.0 * j));
            }
        }
    }
    const QOR_UINT8 bits = MC_LSHComputeMinBitdiff(&grid, nullptr);
    CI_PIPELINE *ci = c.getPipeline()->getCIPipeline();
    QOR_UINT32 id = 0;
    ASSERT_EQ(CI_PipelineAllocateLSHMatrix(ci, MC_LSHGetSizes(&grid, bits, nullptr, nullptr), &id), QOR_RES_OK);
    CI_LSHMAT matrix{};
    ASSERT_EQ(CI_PipelineAcquireLSHMatrix(ci, id, &matrix), QOR_RES_OK);
    EXPECT_EQ(MC_LSHConvertGrid(&grid, bits, &matrix), QOR_RES_OK);
    ASSERT_EQ(CI_PipelineReleaseLSHMatrix(ci, &matrix), QOR_RES_OK);
    ASSERT_EQ(CI_PipelineUpdateLSHMatrix(ci, id), QOR_RES_OK);
    LSH_Free(&grid);

    capture();
    const std::string out = file("flat.nrv");
    ASSERT_EQ(Save::Single(*c.getPipeline(), shot, Save::Bayer, out), QOR_RES_OK);
    SimImageInfo info{};
    const std::vector<uint16_t> back = ReadBayer(out, 0, &info);
    ASSERT_EQ(back.size(), scene.size());
    double lo = 1e9, hi = 0, rawLo = 1e9;
    for (size_t i = 0; i < back.size(); i++) {
        lo = std::min(lo, double(back[i]));
        hi = std::max(hi, double(back[i]));
        rawLo = std::min(rawLo, double(scene[i]));
    }
    EXPECT_LT(rawLo, 0.5 * level); // the scene played was far from flat
    EXPECT_LE(hi / level - 1, 0.02) << "brightest " << hi;
    EXPECT_LE(1 - lo / level, 0.02) << "darkest " << lo;
}

} // namespace

namespace {

TEST_F(SaveOnDataGenerator, CapturedShotWithInconsistentCountersReportsCameraStateAndText) {
    Camera &c = programmed("OUT_ENC NV12");
    // the hardware claims more dropped corrections than map modifications: the count wraps to about 4e9
    norva_sim::SimSaveStats stats{};
    stats.dpfFixed = 7;
    stats.dpfModifications = 1;
    stats.dpfDropped = 3;
    norva_sim::QueueStatistics(reinterpret_cast<INT_PIPELINE *>(c.getPipeline()->getCIPipeline())->ui32Identifier,
                               stats);
    capture();
    const std::string out = file("state.txt");
    stderrOf([&] { ASSERT_EQ(Save::SingleTxtStats(c, shot, out), QOR_RES_OK); });
    const std::string text = ReadFile(out);
    std::ostringstream state;
    state << c << "\n";
    EXPECT_EQ(text.compare(0, state.str().size(), state.str()), 0);
    EXPECT_EQ(text.compare(state.str().size(), 7, "Frame:\n"), 0);
    EXPECT_TRUE(norva_test::contains(text, "      ui32NOutCorrection = 4294967294\n"));
    EXPECT_TRUE(norva_test::contains(text, "      apDefectOutput = null\n"));
    EXPECT_LT(text.size(), 60000u);
}

} // namespace
