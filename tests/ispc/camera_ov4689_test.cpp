// A camera on the OV4689 of the simulated board: the sensor streams into its imager port, the frames go through
// the image model, and exposure and gain change the image as they should.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "ispc/Camera.h"
#include "ispc/ModuleBLC.h"
#include "ispc/ModuleIIF.h"
#include "ispc/ModuleOUT.h"
#include "ispc/ParameterFileParser.h"
#include "ov4689_camera_fixture.h"
#include "platform/sim_capture.h"
#include "support/raw_patch.h"

using namespace ISPC;
using norva_test::meanOf;
using norva_test::rawOf;

namespace {

constexpr unsigned kWidth = norva_test::kOv4689Width, kHeight = norva_test::kOv4689Height;

double lumaMean(const Buffer &yuv) {
    double sum = 0;
    for (unsigned y = 0; y < yuv.height; y++)
        for (unsigned x = 0; x < yuv.width; x++)
            sum += yuv.firstData()[static_cast<size_t>(y) * yuv.stride + x];
    return sum / (static_cast<double>(yuv.width) * yuv.height);
}

/** The encoder output as packed NV12 (luma rows, then interleaved chroma rows). */
std::vector<uint8_t> nv12Of(const Buffer &yuv) {
    std::vector<uint8_t> out;
    for (unsigned y = 0; y < yuv.height; y++)
        out.insert(out.end(), yuv.firstData() + static_cast<size_t>(y) * yuv.stride,
                   yuv.firstData() + static_cast<size_t>(y) * yuv.stride + yuv.width);
    for (unsigned y = 0; y < yuv.height / 2u; y++)
        out.insert(out.end(), yuv.firstDataCbCr() + static_cast<size_t>(y) * yuv.strideCbCr,
                   yuv.firstDataCbCr() + static_cast<size_t>(y) * yuv.strideCbCr + yuv.width);
    return out;
}

/** With NORVA_OV4689_PNG_DIR set, writes the frame there as a PNG for a person to look at. */
void savePng(const std::vector<uint8_t> &nv12, const std::string &name) {
    norva_test::saveOv4689Png(std::string(nv12.begin(), nv12.end()), "nv12", name);
}

class CameraOnOv4689 : public norva_test::Ov4689CameraTest {
protected:
    Camera &programmed(int flipping) {
        const int id = Sensor::GetSensorId("OV4689_0");
        EXPECT_EQ(id, 3);
        camera.reset(new Camera(0, id, norva_test::kOv4689Mode, flipping));
        Camera &c = *camera;
        EXPECT_EQ(c.state, Camera::CAM_CONNECTED);
        EXPECT_EQ(c.getSensor()->uiWidth, kWidth);
        for (SetupModule *m : std::initializer_list<SetupModule *>{new ModuleOUT(), new ModuleIIF(), new ModuleBLC()})
            EXPECT_EQ(c.getPipeline()->registerModule(m), QOR_RES_OK);
        c.state = Camera::CAM_REGISTERED;
        std::istringstream text("OUT_ENC NV12\nOUT_DE_RAW2D TIFF10\nBLC_SENSOR_BLACK 16 16 16 16\nBLC_SYS_BLACK 64\n");
        ParameterList setup;
        EXPECT_EQ(ParameterFileParser::parse(text, setup), QOR_RES_OK);
        EXPECT_EQ(c.loadParameters(setup), QOR_RES_OK);
        EXPECT_EQ(c.program(), QOR_RES_OK);
        EXPECT_EQ(c.allocateBufferPool(2), QOR_RES_OK);
        EXPECT_EQ(c.state, Camera::CAM_READY);
        return c;
    }

    struct Frame {
        std::vector<uint16_t> raw;
        std::vector<uint8_t> nv12; /* kept only when the frames are saved for a person to look at */
        double luma = 0;
        unsigned long exposure = 0;
    };
    /** One frame at the exposure and gain given (set before the frame is triggered). */
    Frame capture(Camera &c, unsigned long exposure, double gain) {
        Frame f;
        EXPECT_EQ(c.getSensor()->setExposureGain(exposure, gain), QOR_RES_OK);
        f.exposure = c.getSensor()->getExposure();
        EXPECT_EQ(c.enqueueShot(), QOR_RES_OK);
        Shot shot;
        EXPECT_EQ(c.acquireShot(shot, false), QOR_RES_OK);
        if (shot.RAW2DEXT.data != nullptr)
            f.raw = rawOf(shot.RAW2DEXT, kWidth, kHeight);
        if (shot.YUV.data != nullptr) {
            f.luma = lumaMean(shot.YUV);
            if (std::getenv("NORVA_OV4689_PNG_DIR") != nullptr)
                f.nv12 = nv12Of(shot.YUV);
        }
        EXPECT_EQ(c.releaseShot(shot), QOR_RES_OK);
        return f;
    }
};

TEST_F(CameraOnOv4689, ExposureAndGainChangeTheImage) {
    Camera &c = programmed(0);
    ASSERT_EQ(c.startCapture(), QOR_RES_OK);
    EXPECT_TRUE(model->state().streaming);

    const unsigned long e = 8000;
    const Frame base = capture(c, e, 1.0);
    ASSERT_EQ(base.raw.size(), kWidth * kHeight);
    const Frame twice = capture(c, 2 * e, 1.0);
    const Frame gained = capture(c, e, 2.0);
    ASSERT_EQ(twice.raw.size(), base.raw.size());
    ASSERT_EQ(gained.raw.size(), base.raw.size());

    const norva_sim::SceneRect grey = norva_sim::SceneGreyPatch(kWidth, kHeight);
    const norva_sim::SceneRect clipped = norva_sim::SceneClippedPatch(kWidth, kHeight);
    const double pedestal = norva_sim::SensorPedestal(10);
    for (unsigned pos = 0; pos < 4; pos++) {
        SCOPED_TRACE(pos);
        const double b = meanOf(base.raw, kWidth, grey, pos & 1, pos >> 1) - pedestal;
        const double t = meanOf(twice.raw, kWidth, grey, pos & 1, pos >> 1) - pedestal;
        const double g = meanOf(gained.raw, kWidth, grey, pos & 1, pos >> 1) - pedestal;
        EXPECT_GT(b, 50.0);
        // The exposure is a whole number of rows: doubling it doubles the signal within a row and a rounding.
        EXPECT_NEAR(t / b, 2.0, 0.02);
        EXPECT_NEAR(g / b, 2.0, 0.02);
        EXPECT_DOUBLE_EQ(meanOf(base.raw, kWidth, clipped, pos & 1, pos >> 1), 1023.0) << "full scale";
    }
    EXPECT_GT(twice.luma, base.luma + 5.0);
    EXPECT_GT(gained.luma, base.luma + 5.0);
    savePng(base.nv12, "ov4689_exposure_E");
    savePng(twice.nv12, "ov4689_exposure_2E");
    savePng(gained.nv12, "ov4689_exposure_E_gain_2");

    // The first frame carries the exposure the camera reports: the raw grey level is that exposure's.
    const norva_sim::Ov4689State s = model->state();
    EXPECT_NEAR(s.exposureUs, static_cast<double>(gained.exposure), s.rowTimeUs);
    ASSERT_EQ(c.stopCapture(), QOR_RES_OK);
    EXPECT_FALSE(model->state().streaming);
    EXPECT_GE(norva_sim::GetSensorFrameCounters(0).frames, 3u);
}

TEST_F(CameraOnOv4689, FirstFrameHasTheReportedExposure) {
    Camera &c = programmed(0);
    ASSERT_EQ(c.startCapture(), QOR_RES_OK);
    // Nothing set since the camera configured the sensor: the exposure of the configuration is in force.
    const unsigned long reported = c.getSensor()->getExposure();
    ASSERT_GT(reported, 1000u);
    ASSERT_EQ(c.enqueueShot(), QOR_RES_OK);
    Shot shot;
    ASSERT_EQ(c.acquireShot(shot, false), QOR_RES_OK);
    const std::vector<uint16_t> raw = rawOf(shot.RAW2DEXT, kWidth, kHeight);
    ASSERT_EQ(c.releaseShot(shot), QOR_RES_OK);
    const norva_sim::SceneRect grey = norva_sim::SceneGreyPatch(kWidth, kHeight);
    const double level = meanOf(raw, kWidth, grey, 0, 0) - norva_sim::SensorPedestal(10);
    // The scene's radiance over the same samples (the lens shades the patch a little towards the side).
    double radiance = 0;
    unsigned n = 0;
    for (unsigned y = grey.y0 + 4; y < grey.y1 - 4; y += 2)
        for (unsigned x = grey.x0 + 4; x < grey.x1 - 4; x += 2, n++)
            radiance += norva_sim::SceneRadiance(x, y, kWidth, kHeight);
    radiance /= n;
    ASSERT_GT(radiance, 0.01);
    const double trow = model->state().rowTimeUs;
    EXPECT_NEAR(level, radiance * reported, radiance * trow + 1.0);
}

TEST_F(CameraOnOv4689, HorizontalFlipMirrorsTheRawFrame) {
    std::vector<uint16_t> straight, mirrored;
    for (int flip : {0, 1}) {
        Camera &c = programmed(flip);
        ASSERT_EQ(c.startCapture(), QOR_RES_OK);
        const Frame f = capture(c, 8000, 1.0);
        ASSERT_EQ(c.stopCapture(), QOR_RES_OK);
        (flip ? mirrored : straight) = f.raw;
        norva_test::stderrOf([&] { camera.reset(); });
    }
    ASSERT_EQ(straight.size(), mirrored.size());
    ASSERT_FALSE(straight.empty());
    // Whole cells move: the sample at column x of a cell row comes from column (W - 2 - cell) + position.
    unsigned mismatches = 0;
    for (unsigned y = 0; y < kHeight; y += 7)
        for (unsigned x = 0; x < kWidth; x++) {
            const unsigned mx = (kWidth - 2 - (x & ~1u)) + (x & 1u);
            if (straight[y * kWidth + x] != mirrored[y * kWidth + mx])
                mismatches++;
        }
    EXPECT_EQ(mismatches, 0u);
    EXPECT_NE(straight, mirrored);
}

TEST_F(CameraOnOv4689, LaneMismatchGivesNoFrames) {
    Camera &c = programmed(0);
    norva_sim::SetCaptureTimeoutMs(50);
    ASSERT_EQ(c.startCapture(), QOR_RES_OK);
    // The PHY is told one lane while the sensor sends on two.
    uint8_t record[32] = {};
    record[0] = 8;
    record[4] = 1;
    record[7] = 1;
    const int fd = SEAM_Open("/dev/sensor_phy0", 2, 0);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(SEAM_Ioctl(fd, norva_sim::kPhyConfigure, record), 0);
    ASSERT_EQ(SEAM_Close(fd), 0);
    ASSERT_EQ(c.enqueueShot(), QOR_RES_OK);
    Shot shot;
    QOR_RESULT r = QOR_RES_OK;
    norva_test::stderrOf([&] { r = c.acquireShot(shot, false); });
    EXPECT_NE(r, QOR_RES_OK);
    EXPECT_GT(norva_sim::GetSensorFrameCounters(0).laneMismatches, 0u);
    EXPECT_EQ(norva_sim::GetSensorFrameCounters(0).frames, 0u);
}

} // namespace
