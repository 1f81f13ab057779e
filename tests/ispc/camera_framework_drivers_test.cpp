// A camera on each framework driver of the simulated board beside the OV4689: frames at an exposure E and 2E show
// the grey patch doubling, and the Bayer order the driver reports is the order of the frame it sends, for every
// flip.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "ispc/Camera.h"
#include "ispc/ModuleBLC.h"
#include "ispc/ModuleIIF.h"
#include "ispc/ModuleOUT.h"
#include "ispc/ParameterFileParser.h"
#include "platform/sim_capture.h"
#include "platform/sim_sensor_models.h"
#include "support/board_fixture.h"
#include "support/raw_patch.h"

using namespace ISPC;
using norva_test::meanOf;
using norva_test::rawOf;

namespace {

/** The position (dx, dy) of red in a 2x2 cell of a mosaic. */
void redOf(MOSAICType m, unsigned *dx, unsigned *dy) {
    switch (m) {
    case MOSAIC_RGGB:
        *dx = 0, *dy = 0;
        break;
    case MOSAIC_GRBG:
        *dx = 1, *dy = 0;
        break;
    case MOSAIC_GBRG:
        *dx = 0, *dy = 1;
        break;
    default:
        *dx = 1, *dy = 1;
        break;
    }
}

struct Driver {
    const char *name;
    int mode;
    unsigned width, height;
    norva_sim::SensorWiring wiring;
    std::shared_ptr<norva_sim::RegisterSensorModel> (*attach)(norva_sim::SensorWiring);
    unsigned outWidth; /* what the imager interface passes on: a mode wider than a context is cropped */
};

/** The first slot of the board with the given sensor clock. */
norva_sim::SensorWiring clockedAt(double clockMHz) {
    norva_sim::SensorWiring w;
    w.clockMHz = clockMHz;
    return w;
}

norva_sim::SensorWiring at24() { return clockedAt(24.0); }
norva_sim::SensorWiring at27() { return clockedAt(27.0); }
norva_sim::SensorWiring at37() { return clockedAt(37.125); }

/** The second slot of the board: bus 2, its own power lines, port and PHY 1. */
norva_sim::SensorWiring at24Slot1() {
    norva_sim::SensorWiring w = at24();
    w.bus = 2;
    w.pwdnLine = 13;
    w.resetLine = 12;
    w.port = 1;
    return w;
}

const std::vector<Driver> &drivers() {
    static const std::vector<Driver> d = {
        {"OV5647_0", 0x00, 1920, 1080, at24(), norva_sim::AttachOv5647, 1920},
        {"OV5695_0", 0x01, 1920, 1080, at24(), norva_sim::AttachOv5695, 1920},
        {"OV10823_0", 0x03, 1920, 1080, at27(), norva_sim::AttachOv10823, 1920},
        {"IMX219_0", 0x02, 1920, 1080, at24(), norva_sim::AttachImx219, 1920},
        {"IMX477_0", 0x01, 1920, 1080, at24(), norva_sim::AttachImx477, 1920},
        {"GC5035", 0x00, 2592, 1944, at24(), norva_sim::AttachGc5035, 1920},
        {"OV2718_0", 0x00, 1920, 1080, at24(), norva_sim::AttachOv2718, 1920},
        {"IMX415", 0x0B, 1932, 1096, at37(), norva_sim::AttachImx415, 1932},
        {"IMX335", 0x00, 2592, 1944, at27(), norva_sim::AttachImx335, 1920},
        {"IMX327", 0x01, 1920, 1080, at37(), norva_sim::AttachImx327, 1920},
        {"IMX662", 0x02, 1936, 1100, at24(), norva_sim::AttachImx662, 1936},
        {"GC8034", 0x10, 1632, 1224, at24Slot1(), norva_sim::AttachGc8034, 1632},
    };
    return d;
}

/** The case as printed in CTest: the registry name. */
void PrintTo(const Driver &d, std::ostream *os) { *os << d.name << " mode " << d.mode; }

/** The case's name in CTest: the registry name. */
std::string DriverName(const testing::TestParamInfo<Driver> &info) { return info.param.name; }

class CameraOnFrameworkDrivers : public norva_test::BoardTest, public testing::WithParamInterface<Driver> {
protected:
    void TearDown() override {
        norva_test::stderrOf([&] { camera.reset(); });
        model.reset();
        BoardTest::TearDown();
    }

    void wire(const Driver &d) {
        norva_test::stderrOf([&] { camera.reset(); });
        model.reset();
        norva_sim::ResetBoard();
        UseBoardIspDescription();
        norva_sim::SetVirtualClock(true);
        norva_test::BoardWiring board;
        board.clockMHz = std::to_string(d.wiring.clockMHz);
        WriteBoard(board);
        model = d.attach(d.wiring);
    }

    Camera &programmed(const Driver &d, int flipping) {
        const int id = Sensor::GetSensorId(d.name);
        camera.reset(new Camera(0, id, d.mode, flipping));
        Camera &c = *camera;
        EXPECT_EQ(c.state, Camera::CAM_CONNECTED);
        EXPECT_EQ(c.getSensor()->uiWidth, d.width);
        for (SetupModule *m : std::initializer_list<SetupModule *>{new ModuleOUT(), new ModuleIIF(), new ModuleBLC()})
            EXPECT_EQ(c.getPipeline()->registerModule(m), QOR_RES_OK);
        c.state = Camera::CAM_REGISTERED;
        std::string setupText = "OUT_ENC NV12\nOUT_DE_RAW2D TIFF10\nBLC_SENSOR_BLACK 16 16 16 16\nBLC_SYS_BLACK 64\n";
        if (d.outWidth < d.width)
            setupText +=
                "IIF_CAP_RECT_BR " + std::to_string(d.outWidth - 1) + " " + std::to_string(d.height - 1) + "\n";
        std::istringstream text(setupText);
        ParameterList setup;
        EXPECT_EQ(ParameterFileParser::parse(text, setup), QOR_RES_OK);
        EXPECT_EQ(c.loadParameters(setup), QOR_RES_OK);
        EXPECT_EQ(c.program(), QOR_RES_OK);
        EXPECT_EQ(c.allocateBufferPool(2), QOR_RES_OK);
        EXPECT_EQ(c.state, Camera::CAM_READY);
        return c;
    }

    std::vector<uint16_t> capture(Camera &c, const Driver &d, unsigned long exposure) {
        std::vector<uint16_t> raw;
        EXPECT_EQ(c.getSensor()->setExposureGain(exposure, 1.0), QOR_RES_OK);
        EXPECT_EQ(c.enqueueShot(), QOR_RES_OK);
        Shot shot;
        EXPECT_EQ(c.acquireShot(shot, false), QOR_RES_OK);
        if (shot.RAW2DEXT.data != nullptr)
            raw = rawOf(shot.RAW2DEXT, d.outWidth, d.height);
        EXPECT_EQ(c.releaseShot(shot), QOR_RES_OK);
        return raw;
    }

    std::shared_ptr<norva_sim::RegisterSensorModel> model;
    std::unique_ptr<Camera> camera;
};

TEST_P(CameraOnFrameworkDrivers, GreyPatchDoublesWithTheExposure) {
    const Driver &d = GetParam();
    wire(d);
    Camera &c = programmed(d, 0);
    ASSERT_EQ(c.startCapture(), QOR_RES_OK);
    const unsigned long e = 8000;
    const std::vector<uint16_t> base = capture(c, d, e);
    const std::vector<uint16_t> twice = capture(c, d, 2 * e);
    ASSERT_EQ(base.size(), static_cast<size_t>(d.outWidth) * d.height);
    ASSERT_EQ(twice.size(), base.size());
    const norva_sim::SceneRect grey = norva_sim::SceneGreyPatch(d.width, d.height);
    const double pedestal = norva_sim::SensorPedestal(10);
    for (unsigned pos = 0; pos < 4; pos++) {
        SCOPED_TRACE(pos);
        const double b = meanOf(base, d.outWidth, grey, pos & 1, pos >> 1) - pedestal;
        const double t = meanOf(twice, d.outWidth, grey, pos & 1, pos >> 1) - pedestal;
        EXPECT_GT(b, 50.0);
        // Whole rows on both sides: the ratio is two within the rounding of each exposure to a row.
        EXPECT_NEAR(t / b, 2.0, 0.02);
    }
    ASSERT_EQ(c.stopCapture(), QOR_RES_OK);
    EXPECT_FALSE(model->state().streaming);
}

TEST_P(CameraOnFrameworkDrivers, ReportedBayerOrderIsTheFramesForEveryFlip) {
    const Driver &d = GetParam();
    for (int flip = 0; flip < 4; flip++) {
        SCOPED_TRACE(std::string(d.name) + " flip " + std::to_string(flip));
        wire(d);
        Camera &c = programmed(d, flip);
        SENSOR_INFO info{};
        ASSERT_EQ(Sensor_GetInfo(c.getSensor()->getHandle(), &info), QOR_RES_OK);
        ASSERT_EQ(c.startCapture(), QOR_RES_OK);
        const std::vector<uint16_t> raw = capture(c, d, 8000);
        const bool hflipped = model->state().hflip, vflipped = model->state().vflip;
        ASSERT_EQ(c.stopCapture(), QOR_RES_OK);
        ASSERT_FALSE(raw.empty());
        // The chart's cyan patch, near the middle of the frame (also of a mode cropped on the right): little red,
        // so red is its darkest position.
        const norva_sim::SceneRect cyan = norva_sim::SceneColourPatch(3, d.width, d.height);
        // The flips move the patch where the sensor flips (the OV5647 keeps the orientation of its configuration
        // whatever is asked).
        const norva_sim::SceneRect patch = {
            hflipped ? d.width - cyan.x1 : cyan.x0, vflipped ? d.height - cyan.y1 : cyan.y0,
            hflipped ? d.width - cyan.x0 : cyan.x1, vflipped ? d.height - cyan.y0 : cyan.y1};
        ASSERT_LE(patch.x1, d.outWidth);
        unsigned rx = 0, ry = 0;
        redOf(info.eBayerOriginal, &rx, &ry);
        const double red = meanOf(raw, d.outWidth, patch, rx, ry);
        for (unsigned pos = 0; pos < 4; pos++) {
            if ((pos & 1) == rx && (pos >> 1) == ry)
                continue;
            EXPECT_LT(red + 50.0, meanOf(raw, d.outWidth, patch, pos & 1, pos >> 1)) << "position " << pos;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Drivers, CameraOnFrameworkDrivers, testing::ValuesIn(drivers()), DriverName);

} // namespace
