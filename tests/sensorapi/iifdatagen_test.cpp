// The "DOR Idazida" pseudo-sensor on the simulated platform: NRV files written with the image library are played
// through the internal data generator and decoded by the device, as a capture engine consumes them.

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <mutex>
#include <string>
#include <unistd.h>
#include <vector>

#include "support/sim_fixture.h"
#include "ci/ci_api.h"
#include "support/dg_nrv.h"
#include "norvacommon/userlog.h"
#include "platform/sim_frame_source.h"
#include "platform/sim_isp.h"
#include "support/scripted_sensor.h"
#include "sensorapi/sensorapi.h"
#include "sensors/iifdatagen.h"

using namespace norva_test;

namespace {

using Log = std::vector<LogLine>;

LogLine DgError(const std::string &function, const std::string &message) {
    return LogLine{"ERROR", "IntDG_SENSOR", function, message};
}
LogLine DgWarning(const std::string &function, const std::string &message) {
    return LogLine{"WARNING", "IntDG_SENSOR", function, message};
}

bool has(const Log &log, const LogLine &line) {
    for (const LogLine &l : log) {
        if (l == line)
            return true;
    }
    return false;
}

std::string tempDir() {
    std::string dir = testing::TempDir() + "norva_iifdg_XXXXXX";
    return mkdtemp(&dir[0]) ? dir : std::string();
}

int sensorNumber(const char *name) {
    const char **names = Sensor_ListAll();
    for (unsigned i = 0; i < Sensor_NumberSensors() && names[i]; ++i) {
        if (std::string(names[i]) == name)
            return static_cast<int>(i);
    }
    return -1;
}

constexpr uint32_t kWidth = 64, kHeight = 48;

class DgSensor : public SimTest {
protected:
    void SetUp() override {
        SimTest::SetUp();
        LOG_SetLevel(LOG_LEVEL_INFO);
        dir = tempDir();
        ASSERT_FALSE(dir.empty());
        ASSERT_EQ(CI_DriverInit(&conn), QOR_RES_OK);
        const int number = sensorNumber(IIFDG_SENSOR_NAME);
        ASSERT_EQ(number, 0);
        ASSERT_EQ(Sensor_Initialise(static_cast<QOR_UINT16>(number), &h), QOR_RES_OK);
        ASSERT_NE(h, nullptr);
    }
    void TearDown() override {
        if (h) {
            EXPECT_EQ(Sensor_Destroy(h), QOR_RES_OK);
        }
        if (conn) {
            EXPECT_EQ(CI_DriverFinalise(conn), QOR_RES_OK);
        }
        std::system(("rm -rf '" + dir + "'").c_str());
        SimTest::TearDown();
    }

    std::string file(const std::string &name, unsigned depth, unsigned frames, uint32_t w = kWidth,
                     uint32_t hgt = kHeight, sSimImageColourModel model = SimImage_RGGB) {
        const std::string path = dir + "/" + name;
        EXPECT_TRUE(dg_nrv::write(path, w, hgt, depth, frames, model));
        return path;
    }

    /** Connection, file, blanking and buffers as the capture context sets them. */
    void configure(const std::string &path, bool video, unsigned buffers = 2) {
        ASSERT_EQ(IIFDG_ExtendedSetConnection(h, conn), QOR_RES_OK);
        ASSERT_EQ(IIFDG_ExtendedSetSourceFile(h, path.c_str()), QOR_RES_OK);
        ASSERT_EQ(IIFDG_ExtendedSetIsVideo(h, video ? QOR_TRUE : QOR_FALSE), QOR_RES_OK);
        ASSERT_EQ(IIFDG_ExtendedSetNbBuffers(h, buffers), QOR_RES_OK);
        ASSERT_EQ(IIFDG_ExtendedSetBlanking(h, 100, 14), QOR_RES_OK);
    }

    SENSOR_STATE state() {
        SENSOR_STATUS s{};
        EXPECT_EQ(Sensor_GetState(h, &s), QOR_RES_OK);
        return s.eState;
    }

    /** Takes the next frame of the gasket as the capture engine does and marks it processed. */
    bool consume(unsigned gasket, std::vector<uint16_t> *samples, norva_sim::SourceFrame *seen = nullptr) {
        std::lock_guard<std::mutex> guard(norva_sim::PlatformMutex());
        norva_sim::SourceFrame frame;
        if (!norva_sim::TakeSourceFrame(gasket, &frame))
            return false;
        samples->assign(frame.samples, frame.samples + static_cast<size_t>(frame.width) * frame.height);
        if (seen)
            *seen = frame;
        return norva_sim::MarkSourceFrameProcessed(frame);
    }

    size_t queued(unsigned gasket) {
        std::lock_guard<std::mutex> guard(norva_sim::PlatformMutex());
        return norva_sim::QueuedSourceFrames(gasket);
    }

    std::string dir;
    CI_CONNECTION *conn = nullptr;
    SENSOR_HANDLE h = nullptr;
};

TEST_F(DgSensor, BeforeAnyFileItIsUninitialisedAndCannotDescribeOrEnableItself) {
    EXPECT_EQ(state(), SENSOR_STATE_UNINITIALISED);
    SENSOR_MODE mode{};
    QOR_RESULT r = -1;
    EXPECT_EQ(CaptureLog([&] { r = IIFDG_GetMode(h, 0, &mode); }),
              Log{DgError("IIFDG_GetMode", "must specify the source NRV file before getMode")});
    EXPECT_EQ(r, QOR_RES_UNAVAILABLE);
    EXPECT_EQ(IIFDG_GetMode(h, 1, &mode), QOR_RES_INVALID_MODE);
    EXPECT_EQ(
        CaptureLog([&] { r = Sensor_Enable(h); }),
        Log{DgError("IIFDG_Enable", "selecting a connection and an input file is needed before enabling the sensor!")});
    EXPECT_EQ(r, QOR_RES_NOT_INITIALISED);
    EXPECT_EQ(Sensor_Insert(h), QOR_RES_NOT_INITIALISED);
    EXPECT_EQ(Sensor_WaitProcessed(h), QOR_RES_NOT_INITIALISED);
    EXPECT_EQ(Sensor_Disable(h), QOR_RES_NOT_INITIALISED);
    EXPECT_EQ(IIFDG_SetMode(h, 0, 0), QOR_RES_OK);
    EXPECT_EQ(IIFDG_SetMode(h, 1, 0), QOR_RES_INVALID_MODE);
    EXPECT_EQ(IIFDG_SetMode(h, 0, SENSOR_FLIP_HORIZONTAL), QOR_RES_NOT_SUPPORTED);

    SENSOR_INFO info{};
    Log log = CaptureLog([&] { r = IIFDG_GetInfo(h, &info); });
    EXPECT_EQ(r, QOR_RES_OK);
    EXPECT_TRUE(has(log, DgWarning("IIFDG_GetInfo", "need the connection to have been set to get version")));
    EXPECT_STREQ(info.pszSensorName, "DOR Idazida");
    EXPECT_STREQ(info.pszSensorVersion, "not-verified");
    EXPECT_EQ(info.eBayerOriginal, MOSAIC_RGGB);
}

TEST_F(DgSensor, ModeAndExposureOfAFullHdTwelveBitFile) {
    configure(file("hd.nrv", 12, 1, 1920, 1080), false);
    ASSERT_EQ(IIFDG_ExtendedSetBlanking(h, 100, 14), QOR_RES_OK);
    SENSOR_MODE mode{};
    ASSERT_EQ(Sensor_GetMode(h, 0, &mode), QOR_RES_OK);
    EXPECT_EQ(mode.ui8BitDepth, 12);
    EXPECT_EQ(mode.ui16Width, 1920);
    EXPECT_EQ(mode.ui16Height, 1080);
    EXPECT_EQ(mode.ui16HorizontalTotal, 2020);
    EXPECT_EQ(mode.ui16VerticalTotal, 1094);
    EXPECT_EQ(mode.flFrameRate, 11.0);
    EXPECT_EQ(mode.flPixelRate, 24308680.0);
    EXPECT_EQ(mode.ui8SupportFlipping, 0);

    QOR_UINT32 lo = 0, hi = 0, exposure = 0;
    QOR_UINT8 contexts = 9;
    ASSERT_EQ(Sensor_GetExposureRange(h, &lo, &hi, &contexts), QOR_RES_OK);
    EXPECT_EQ(lo, 90u);
    EXPECT_EQ(hi, 90909u);
    EXPECT_EQ(contexts, 0);
    ASSERT_EQ(IIFDG_GetExposure(h, &exposure, 0), QOR_RES_OK);
    EXPECT_EQ(exposure, 2860u) << "the geometric middle of the range";
    EXPECT_EQ(IIFDG_GetExposure(h, &exposure, 1), QOR_RES_NOT_SUPPORTED);

    double gmin = 0, gmax = 0, gain = 0;
    ASSERT_EQ(IIFDG_GetGainRange(h, &gmin, &gmax, &contexts), QOR_RES_OK);
    EXPECT_EQ(gmin, 1.0);
    EXPECT_EQ(gmax, 1.0);
    ASSERT_EQ(IIFDG_GetCurrentGain(h, &gain, 3), QOR_RES_OK);
    EXPECT_EQ(gain, 1.0);

    struct Row {
        QOR_UINT32 exposure;
        double gain;
        QOR_RESULT result;
        QOR_UINT32 after;
    } rows[] = {
        {90909, 1.0, QOR_RES_OK, 90909},         {90910, 1.0, QOR_RES_INVALID_PARAM, 90909},
        {89, 1.0, QOR_RES_INVALID_PARAM, 90909}, {90, 1.0, QOR_RES_OK, 90},
        {1000, 1.5, QOR_RES_NOT_SUPPORTED, 90},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.exposure);
        EXPECT_EQ(IIFDG_SetExposureGain(h, r.exposure, r.gain, 0), r.result);
        ASSERT_EQ(IIFDG_GetExposure(h, &exposure, 0), QOR_RES_OK);
        EXPECT_EQ(exposure, r.after);
    }
    QOR_RESULT res = -1;
    EXPECT_EQ(CaptureLog([&] { res = IIFDG_SetExposureGain(h, 90910, 1.0, 0); }),
              Log{DgError("IIFDG_SetExposureGain", "given exposure 90910 is illegal (mode=0 min=90 max=90909)")});
    EXPECT_EQ(CaptureLog([&] { res = IIFDG_SetExposureGain(h, 100, 2.0, 0); }),
              Log{DgError("IIFDG_SetExposureGain", "cannot change gain")});

    SENSOR_INFO info{};
    ASSERT_EQ(Sensor_GetInfo(h, &info), QOR_RES_OK);
    EXPECT_EQ(info.sStatus.eState, SENSOR_STATE_UNINITIALISED) << "a file alone does not make it idle";
    EXPECT_EQ(info.sMode.ui16VerticalTotal, 1094);
    EXPECT_EQ(info.ui8Imager, 0);
    EXPECT_EQ(info.eBayerOriginal, MOSAIC_RGGB);
    EXPECT_EQ(info.eBayerEnabled, MOSAIC_RGGB);
    const CI_HWINFO &hw = conn->sHWInfo;
    EXPECT_EQ(std::string(info.pszSensorVersion), std::to_string(hw.rev_ui8Major) + "." +
                                                      std::to_string(hw.rev_ui8Minor) + "." +
                                                      std::to_string(hw.rev_ui8Maint));
    EXPECT_EQ(info.bBackFacing, QOR_TRUE);
    EXPECT_EQ(info.fPixelSize, 1.0);
}

TEST_F(DgSensor, PlaysEveryFrameOfTheFileInTurnAndTheDeviceDecodesThemSampleForSample) {
    struct Row {
        unsigned fileDepth;
        unsigned sentDepth;
        sSimImageColourModel model;
        MOSAICType mosaic;
        unsigned gasket;
    } rows[] = {
        {12, 12, SimImage_RGGB, MOSAIC_RGGB, 0},
        {10, 10, SimImage_GRBG, MOSAIC_GRBG, 1},
        {8, 10, SimImage_BGGR, MOSAIC_BGGR, 1}, // sent in the 10-bit format, values unchanged
        {11, 12, SimImage_GBRG, MOSAIC_GBRG, 0},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(testing::Message() << r.fileDepth << "-bit file");
        const std::string path =
            file("three_" + std::to_string(r.fileDepth) + ".nrv", r.fileDepth, 3, kWidth, kHeight, r.model);
        if (!h) {
            ASSERT_EQ(Sensor_Initialise(0, &h), QOR_RES_OK);
        }
        configure(path, true);
        ASSERT_EQ(IIFDG_ExtendedSetGasket(h, static_cast<QOR_UINT8>(r.gasket)), QOR_RES_OK);
        EXPECT_EQ(IIFDG_ExtendedGetFrameCount(h), 3u);
        ASSERT_EQ(Sensor_Enable(h), QOR_RES_OK);
        EXPECT_EQ(state(), SENSOR_STATE_RUNNING);

        const unsigned expected[] = {0, 1, 2, 0, 1};
        for (unsigned i = 0; i < 5; ++i) {
            SCOPED_TRACE(testing::Message() << "insertion " << i);
            EXPECT_EQ(IIFDG_ExtendedGetFrameNO(h), expected[i]);
            ASSERT_EQ(Sensor_Insert(h), QOR_RES_OK);
            std::vector<uint16_t> received;
            norva_sim::SourceFrame seen;
            ASSERT_TRUE(consume(r.gasket, &received, &seen));
            EXPECT_EQ(received, dg_nrv::mosaic(kWidth, kHeight, expected[i], r.fileDepth));
            EXPECT_EQ(seen.format, CI_DGFMT_PARALLEL);
            EXPECT_EQ(seen.bitDepth, r.sentDepth);
            EXPECT_EQ(seen.mosaic, r.mosaic);
            EXPECT_EQ(seen.width, kWidth);
            EXPECT_EQ(seen.height, kHeight);
            EXPECT_EQ(seen.hBlanking, 100u);
            EXPECT_EQ(seen.vBlanking, 14u);
            EXPECT_FALSE(seen.errors.any());
            EXPECT_EQ(Sensor_WaitProcessed(h), QOR_RES_OK);
        }
        ASSERT_EQ(Sensor_Disable(h), QOR_RES_OK);
        EXPECT_EQ(state(), SENSOR_STATE_UNINITIALISED);
        EXPECT_EQ(Sensor_Destroy(h), QOR_RES_OK);
        h = nullptr;
        EXPECT_EQ(norva_sim::GetCounters().driverObjects, 0) << "generator and buffers gone";
    }
}

TEST_F(DgSensor, OutsideVideoModeTheSameFrameIsSentWithoutReadingTheFileAgain) {
    const std::string path = file("still.nrv", 12, 3);
    configure(path, false);
    ASSERT_EQ(Sensor_Enable(h), QOR_RES_OK);
    const std::vector<uint16_t> first = dg_nrv::mosaic(kWidth, kHeight, 0, 12);
    for (unsigned i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        ASSERT_EQ(Sensor_Insert(h), QOR_RES_OK);
        std::vector<uint16_t> received;
        ASSERT_TRUE(consume(0, &received));
        EXPECT_EQ(received, first);
        EXPECT_EQ(Sensor_WaitProcessed(h), QOR_RES_OK);
        EXPECT_EQ(IIFDG_ExtendedGetFrameNO(h), 0u);
        // The frame is held: with the file gone the same frame still plays.
        if (i == 0) {
            ASSERT_EQ(truncate(path.c_str(), 0), 0);
        }
    }
    // Video mode needs the next frame from the file, which is now empty.
    ASSERT_EQ(IIFDG_ExtendedSetIsVideo(h, QOR_TRUE), QOR_RES_OK);
    ASSERT_EQ(Sensor_Insert(h), QOR_RES_OK) << "frame 0 is still held";
    std::vector<uint16_t> received;
    ASSERT_TRUE(consume(0, &received));
    ASSERT_EQ(Sensor_WaitProcessed(h), QOR_RES_OK);
    QOR_RESULT r = -1;
    const Log log = CaptureLog([&] { r = Sensor_Insert(h); });
    EXPECT_NE(r, QOR_RES_OK);
    EXPECT_TRUE(has(log, DgError("IIFDG_Insert", "failed to load frame 1 from '" + path + "'"))) << log.size();
    EXPECT_EQ(queued(0), 0u);
    EXPECT_EQ(IIFDG_ExtendedGetFrameNO(h), 1u) << "a frame not sent is not skipped";
}

TEST_F(DgSensor, FrameCapWrapsTheSequenceAndCannotExceedTheFile) {
    configure(file("three.nrv", 10, 3), true);
    QOR_RESULT r = -1;
    EXPECT_EQ(CaptureLog([&] { r = IIFDG_ExtendedSetFrameCap(h, 5); }),
              Log{DgError("IIFDG_ExtendedSetFrameCap",
                          "currently loaded image is 3 frames - proposed cap of 5 is not possible")});
    EXPECT_EQ(r, QOR_RES_NOT_SUPPORTED);
    QOR_UINT32 cap = 0;
    ASSERT_EQ(IIFDG_ExtendedGetFrameCap(h, &cap), QOR_RES_OK);
    EXPECT_EQ(cap, 3u) << "the file's frame count, kept";
    ASSERT_EQ(IIFDG_ExtendedSetFrameCap(h, 2), QOR_RES_OK);
    ASSERT_EQ(Sensor_Enable(h), QOR_RES_OK);
    for (unsigned expected : {0u, 1u, 0u, 1u}) {
        ASSERT_EQ(Sensor_Insert(h), QOR_RES_OK);
        std::vector<uint16_t> received;
        ASSERT_TRUE(consume(0, &received));
        EXPECT_EQ(received, dg_nrv::mosaic(kWidth, kHeight, expected, 10)) << expected;
        ASSERT_EQ(Sensor_WaitProcessed(h), QOR_RES_OK);
    }
}

TEST_F(DgSensor, SettingsOfTheGeneratorAreRefusedWhileRunning) {
    configure(file("run.nrv", 12, 3), true);
    ASSERT_EQ(IIFDG_ExtendedSetPreload(h, QOR_FALSE), QOR_RES_OK);
    ASSERT_EQ(Sensor_Enable(h), QOR_RES_OK);
    ASSERT_EQ(state(), SENSOR_STATE_RUNNING);
    const std::string other = file("other.nrv", 10, 1);
    struct Row {
        const char *function;
        std::function<QOR_RESULT()> set;
        std::function<bool()> unchanged;
        const char *message;
    } rows[] = {
        {"IIFDG_ExtendedSetSourceFile", [&] { return IIFDG_ExtendedSetSourceFile(h, other.c_str()); },
         [&] {
             const char *name = nullptr;
             IIFDG_ExtendedGetSourceFile(h, &name);
             return name && std::string(name).find("run.nrv") != std::string::npos;
         },
         "sensor is in wrong state 2 to change parameter source file"},
        {"IIFDG_ExtendedSetGasket", [&] { return IIFDG_ExtendedSetGasket(h, 1); },
         [&] {
             QOR_UINT8 g = 9;
             IIFDG_ExtendedGetGasket(h, &g);
             return g == 0;
         },
         "sensor is in wrong state 2 to change gasket"},
        {"IIFDG_ExtendedSetDatagen", [&] { return IIFDG_ExtendedSetDatagen(h, 1); },
         [&] {
             QOR_UINT8 d = 9;
             IIFDG_ExtendedGetDatagen(h, &d);
             return d == 0;
         },
         "sensor is in wrong state 2 to change Datagen context"},
        {"IIFDG_ExtendedSetNbBuffers", [&] { return IIFDG_ExtendedSetNbBuffers(h, 5); },
         [&] {
             QOR_UINT32 n = 0;
             IIFDG_ExtendedGetNbBuffers(h, &n);
             return n == 2;
         },
         "sensor is in wrong state 2 to change number of buffers"},
        {"IIFDG_ExtendedSetPreload", [&] { return IIFDG_ExtendedSetPreload(h, QOR_TRUE); },
         [&] {
             QOR_BOOL8 p = 9;
             IIFDG_ExtendedGetPreload(h, &p);
             return p == QOR_FALSE;
         },
         "sensor is in wrong state 2 to change the preload option"},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.function);
        QOR_RESULT res = -1;
        EXPECT_EQ(CaptureLog([&] { res = r.set(); }), Log{DgError(r.function, r.message)});
        EXPECT_EQ(res, QOR_RES_WRONG_STATE);
        EXPECT_TRUE(r.unchanged());
    }
    // Blanking, video mode, cap and connection can change at any time; blanking applies to the next frame.
    ASSERT_EQ(IIFDG_ExtendedSetBlanking(h, 300, 20), QOR_RES_OK);
    ASSERT_EQ(IIFDG_ExtendedSetIsVideo(h, QOR_FALSE), QOR_RES_OK);
    ASSERT_EQ(IIFDG_ExtendedSetFrameCap(h, 1), QOR_RES_OK);
    EXPECT_EQ(IIFDG_ExtendedSetConnection(h, conn), QOR_RES_ALREADY) << "one connection, kept";
    ASSERT_EQ(Sensor_Insert(h), QOR_RES_OK);
    std::vector<uint16_t> received;
    norva_sim::SourceFrame seen;
    ASSERT_TRUE(consume(0, &received, &seen));
    EXPECT_EQ(seen.hBlanking, 300u);
    EXPECT_EQ(seen.vBlanking, 20u);
    ASSERT_EQ(Sensor_WaitProcessed(h), QOR_RES_OK);
}

TEST_F(DgSensor, WithoutBlankingEveryInsertionIsRefusedAndTheBufferGivenBack) {
    configure(file("noblank.nrv", 12, 3), true, 2);
    ASSERT_EQ(IIFDG_ExtendedSetBlanking(h, 0, 0), QOR_RES_OK);
    ASSERT_EQ(Sensor_Enable(h), QOR_RES_OK) << "enable does not look at the blanking";
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        QOR_RESULT r = -1;
        const Log log = CaptureLog([&] { r = Sensor_Insert(h); });
        EXPECT_EQ(r, QOR_RES_NOT_SUPPORTED) << "the generator's refusal";
        EXPECT_TRUE(has(log, DgError("IIFDG_Insert", "failed to trigger frame!")));
        EXPECT_EQ(queued(0), 0u);
        EXPECT_EQ(IIFDG_ExtendedGetFrameNO(h), 0u);
    }
    // Both buffers are still in circulation: two frames go out back to back once the blanking is right.
    ASSERT_EQ(IIFDG_ExtendedSetBlanking(h, 100, 14), QOR_RES_OK);
    ASSERT_EQ(Sensor_Insert(h), QOR_RES_OK);
    ASSERT_EQ(Sensor_Insert(h), QOR_RES_OK);
    EXPECT_EQ(queued(0), 2u);
    for (unsigned k : {0u, 1u}) {
        std::vector<uint16_t> received;
        ASSERT_TRUE(consume(0, &received));
        EXPECT_EQ(received, dg_nrv::mosaic(kWidth, kHeight, k, 12)) << k;
    }
}

TEST_F(DgSensor, EnableRefusesFilesTheParallelFormatCannotCarry) {
    const int objectsBefore = norva_sim::GetCounters().driverObjects;
    configure(file("deep.nrv", 14, 1), false);
    QOR_RESULT r = -1;
    EXPECT_EQ(CaptureLog([&] { r = Sensor_Enable(h); }),
              Log{DgError("IIFDG_Enable", "input bit depth 14 isn't supported (PARALLEL max is 12b)")});
    EXPECT_EQ(r, QOR_RES_NOT_SUPPORTED);
    EXPECT_EQ(state(), SENSOR_STATE_IDLE) << "the generator stays, stopped";
    EXPECT_EQ(Sensor_Enable(h), QOR_RES_NOT_SUPPORTED) << "the next enable replaces it";
    EXPECT_EQ(norva_sim::GetCounters().driverObjects, objectsBefore + 1) << "one generator";
    // Destroying the sensor takes the stopped generator with it, before the connection goes.
    EXPECT_EQ(Sensor_Destroy(h), QOR_RES_OK);
    h = nullptr;
    EXPECT_EQ(norva_sim::GetCounters().driverObjects, objectsBefore);
}

TEST_F(DgSensor, DestroyingARunningSensorStopsItFirst) {
    configure(file("running.nrv", 12, 2), true, 3);
    ASSERT_EQ(Sensor_Enable(h), QOR_RES_OK);
    ASSERT_EQ(Sensor_Insert(h), QOR_RES_OK); // still queued when the sensor goes
    EXPECT_GT(norva_sim::GetCounters().driverObjects, 0);
    QOR_RESULT r = -1;
    const Log log = CaptureLog([&] { r = Sensor_Destroy(h); });
    h = nullptr;
    EXPECT_EQ(r, QOR_RES_OK);
    EXPECT_TRUE(has(log, DgWarning("IIFDG_Destroy", "destroying a running sensor! forces to stop")));
    EXPECT_EQ(queued(0), 0u);
}

TEST_F(DgSensor, SourceFileFailuresLeaveNoFileLoaded) {
    ASSERT_EQ(IIFDG_ExtendedSetConnection(h, conn), QOR_RES_OK);
    ASSERT_EQ(IIFDG_ExtendedSetSourceFile(h, file("good.nrv", 10, 3).c_str()), QOR_RES_OK);
    const char *stored = nullptr;
    ASSERT_EQ(IIFDG_ExtendedGetSourceFile(h, &stored), QOR_RES_OK);
    ASSERT_EQ(IIFDG_ExtendedSetSourceFile(h, stored), QOR_RES_OK) << "reloading by the stored name";
    ASSERT_EQ(IIFDG_ExtendedGetSourceFile(h, &stored), QOR_RES_OK);
    EXPECT_EQ(std::string(stored), dir + "/good.nrv");
    EXPECT_EQ(IIFDG_ExtendedGetFrameCount(h), 3u);
    const std::string missing = dir + "/missing.nrv";
    QOR_RESULT r = -1;
    Log log;
    const std::string info =
        stdoutOf([&] { log = CaptureLog([&] { r = IIFDG_ExtendedSetSourceFile(h, missing.c_str()); }); });
    EXPECT_EQ(r, QOR_RES_INVALID_PARAM);
    EXPECT_TRUE(has(log, DgError("IIFDG_ExtendedSetSourceFile", "failed to load '" + missing + "'")));
    EXPECT_EQ(ParseLog(info), (Log{LogLine{"INFO", "IntDG_SENSOR", "IIFDG_ExtendedSetSourceFile",
                                           "change input file to '" + missing + "' containing 0 frames"}}))
        << info;
    const char *name = "x";
    ASSERT_EQ(IIFDG_ExtendedGetSourceFile(h, &name), QOR_RES_OK);
    EXPECT_EQ(name, nullptr);
    EXPECT_EQ(IIFDG_ExtendedGetFrameCount(h), 0u);
    QOR_UINT32 cap = 9;
    ASSERT_EQ(IIFDG_ExtendedGetFrameCap(h, &cap), QOR_RES_OK);
    EXPECT_EQ(cap, 0u);
    EXPECT_EQ(Sensor_Enable(h), QOR_RES_NOT_INITIALISED);
}

TEST_F(DgSensor, ExtraSettingsCheckHandleAndPointers) {
    struct Row {
        const char *function;
        std::function<QOR_RESULT(SENSOR_HANDLE)> call;
        const char *message; // for a valid handle
    } rows[] = {
        {"IIFDG_ExtendedSetConnection", [](SENSOR_HANDLE x) { return IIFDG_ExtendedSetConnection(x, nullptr); },
         "NULL conn given"},
        {"IIFDG_ExtendedGetSourceFile", [](SENSOR_HANDLE x) { return IIFDG_ExtendedGetSourceFile(x, nullptr); },
         "NULL filename given"},
        {"IIFDG_ExtendedGetGasket", [](SENSOR_HANDLE x) { return IIFDG_ExtendedGetGasket(x, nullptr); },
         "NULL pGasket given"},
        {"IIFDG_ExtendedGetDatagen", [](SENSOR_HANDLE x) { return IIFDG_ExtendedGetDatagen(x, nullptr); },
         "NULL pContext given"},
        {"IIFDG_ExtendedGetFrameCap", [](SENSOR_HANDLE x) { return IIFDG_ExtendedGetFrameCap(x, nullptr); },
         "NULL pFrameCap given"},
        {"IIFDG_ExtendedGetIsVideo", [](SENSOR_HANDLE x) { return IIFDG_ExtendedGetIsVideo(x, nullptr); },
         "NULL pIsVideo given"},
        {"IIFDG_ExtendedGetNbBuffers", [](SENSOR_HANDLE x) { return IIFDG_ExtendedGetNbBuffers(x, nullptr); },
         "NULL pNBuffers given"},
        {"IIFDG_ExtendedGetBlanking",
         [](SENSOR_HANDLE x) {
             QOR_UINT32 v = 0;
             return IIFDG_ExtendedGetBlanking(x, &v, nullptr);
         },
         "NULL pHBlanking or pVBlanking given"},
        {"IIFDG_ExtendedGetPreload", [](SENSOR_HANDLE x) { return IIFDG_ExtendedGetPreload(x, nullptr); },
         "pbPreload is NULL"},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.function);
        QOR_RESULT res = -1;
        EXPECT_EQ(CaptureLog([&] { res = r.call(nullptr); }), Log{DgError(r.function, "NULL handle given")});
        EXPECT_EQ(res, QOR_RES_NOT_INITIALISED);
        EXPECT_EQ(CaptureLog([&] { res = r.call(h); }), Log{DgError(r.function, r.message)});
        EXPECT_EQ(res, QOR_RES_INVALID_PARAM);
    }
    EXPECT_EQ(IIFDG_ExtendedGetFrameNO(nullptr), static_cast<QOR_UINT32>(QOR_RES_NOT_INITIALISED));
    // Blanking keeps to its 16-bit fields by saturating, never by wrapping to a small value.
    ASSERT_EQ(IIFDG_ExtendedSetBlanking(h, 65636, 14), QOR_RES_OK);
    QOR_UINT32 hb = 0, vb = 0;
    ASSERT_EQ(IIFDG_ExtendedGetBlanking(h, &hb, &vb), QOR_RES_OK);
    EXPECT_EQ(hb, 65535u);
    EXPECT_EQ(vb, 14u);
}

} // namespace
