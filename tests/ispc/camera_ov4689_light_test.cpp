// The OV4689 of the simulated board under the simulated light, through the capture stack with white balance held at
// unit gains: the neutral patches come out neutral under the 6500 K light and tinted under warm light, as the input
// that white balance has to correct; the light changes between frames of one capture.
#include <gtest/gtest.h>

#include <fstream>
#include <initializer_list>
#include <sstream>
#include <string>

#include "ispc/Camera.h"
#include "ispc/ModuleBLC.h"
#include "ispc/ModuleDGM.h"
#include "ispc/ModuleDSC.h"
#include "ispc/ModuleESC.h"
#include "ispc/ModuleFOS.h"
#include "ispc/ModuleGMA.h"
#include "ispc/ModuleIIF.h"
#include "ispc/ModuleMGM.h"
#include "ispc/ModuleOUT.h"
#include "ispc/ModuleR2Y.h"
#include "ispc/ModuleRLT.h"
#include "ispc/ModuleTNM.h"
#include "ispc/ModuleWBC.h"
#include "ispc/ModuleY2R.h"
#include "ispc/ParameterFileParser.h"
#include "ov4689_camera_fixture.h"
#include "platform/sim_world.h"

using namespace ISPC;

namespace {

using norva_test::kOv4689Height;
using norva_test::kOv4689Width;

/**
 * With NORVA_OV4689_PNG_DIR set, writes the display output there as a PNG for a person to look at: the chart as the
 * sensor sees it (the README's picture).
 */
void savePng(const Buffer &display, const std::string &name) {
    if (std::getenv("NORVA_OV4689_PNG_DIR") == nullptr)
        return;
    std::string bgr;
    for (unsigned y = 0; y < kOv4689Height; y++)
        bgr.append(reinterpret_cast<const char *>(display.firstData()) + static_cast<size_t>(y) * display.stride,
                   3 * kOv4689Width);
    norva_test::saveOv4689Png(bgr, "bgr24", name);
}

/** Mean red, green and blue (8 bits) of the display output (B, G, R in memory) over a patch, 6 pixels in. */
struct Rgb {
    double r = 0, g = 0, b = 0;
};
Rgb displayRgb(const Buffer &display, const norva_sim::SceneRect &p) {
    double sum[3] = {};
    unsigned n = 0;
    for (unsigned y = p.y0 + 6; y + 6 < p.y1; y++)
        for (unsigned x = p.x0 + 6; x + 6 < p.x1; x++) {
            const uint8_t *px = display.firstData() + static_cast<size_t>(y) * display.stride + 3 * x;
            for (int c = 0; c < 3; c++)
                sum[c] += px[c];
            n++;
        }
    return n ? Rgb{sum[2] / n, sum[1] / n, sum[0] / n} : Rgb{};
}

class CameraOnOv4689Light : public norva_test::Ov4689CameraTest {
protected:
    /**
     * The camera with the modules and the reference setup of the main job, a display output, the sensor's black
     * level (64 at 10 bits) removed and white balance at unit gains.
     */
    Camera &capturing() {
        camera.reset(new Camera(0, Sensor::GetSensorId("OV4689_0"), norva_test::kOv4689Mode, 0));
        Camera &c = *camera;
        EXPECT_EQ(c.state, Camera::CAM_CONNECTED);
        for (SetupModule *m : std::initializer_list<SetupModule *>{
                 new ModuleOUT(), new ModuleIIF(), new ModuleBLC(), new ModuleRLT(), new ModuleFOS(), new ModuleMGM(),
                 new ModuleGMA(), new ModuleR2Y(), new ModuleTNM(), new ModuleESC(), new ModuleDSC(), new ModuleY2R(),
                 new ModuleDGM(), new ModuleWBC()})
            EXPECT_EQ(c.getPipeline()->registerModule(m), QOR_RES_OK);
        c.state = Camera::CAM_REGISTERED;
        std::ifstream reference(std::string(NORVA_ISPC_TEST_DIR) + "/../../data/setup/reference.txt");
        std::istringstream text("OUT_DISP RGB888_24\nBLC_SENSOR_BLACK 16 16 16 16\nLSH_WBGAIN 1 1 1 1\n");
        ParameterList setup;
        EXPECT_EQ(ParameterFileParser::parse(reference, setup), QOR_RES_OK);
        EXPECT_EQ(ParameterFileParser::parse(text, setup), QOR_RES_OK);
        EXPECT_EQ(c.loadParameters(setup), QOR_RES_OK);
        EXPECT_EQ(c.program(), QOR_RES_OK);
        EXPECT_EQ(c.allocateBufferPool(2), QOR_RES_OK);
        EXPECT_EQ(c.startCapture(), QOR_RES_OK);
        EXPECT_EQ(c.getSensor()->setExposureGain(12000, 1.0), QOR_RES_OK);
        return c;
    }

    /** The neutral patches of one frame (saved as `name` for a person to look at). */
    void neutralPatches(Rgb out[norva_sim::ChartLayout::kPatches], const std::string &name) {
        ASSERT_EQ(camera->enqueueShot(), QOR_RES_OK);
        Shot shot;
        ASSERT_EQ(camera->acquireShot(shot, false), QOR_RES_OK);
        ASSERT_NE(shot.DISPLAY.data, nullptr);
        for (int i = 0; i < norva_sim::ChartLayout::kPatches; i++)
            out[i] = displayRgb(shot.DISPLAY, norva_sim::SceneNeutralPatch(i, kOv4689Width, kOv4689Height));
        savePng(shot.DISPLAY, name);
        ASSERT_EQ(camera->releaseShot(shot), QOR_RES_OK);
    }
};

TEST_F(CameraOnOv4689Light, NeutralPatchesAreTintedUnderWarmLight) {
    capturing();
    Rgb patches[norva_sim::ChartLayout::kPatches];
    for (double kelvin : {6500.0, 3000.0, 2800.0, 6500.0}) {
        SCOPED_TRACE(kelvin);
        ASSERT_TRUE(norva_sim::SetIlluminant(kelvin));
        neutralPatches(patches, "ov4689_chart_" + std::to_string(static_cast<int>(kelvin)) + "K");
        if (kelvin == 6500.0) {
            // The sensor's white point: the patches near the centre come out grey (the lens shades the channels a
            // little differently towards the sides).
            for (int i : {2, 3}) {
                EXPECT_NEAR(patches[i].r, patches[i].g, 0.03 * patches[i].g + 1.0) << "patch " << i;
                EXPECT_NEAR(patches[i].b, patches[i].g, 0.03 * patches[i].g + 1.0) << "patch " << i;
            }
        } else {
            // Warm light, no white balance: every neutral patch red above green above blue.
            for (int i = 0; i < norva_sim::ChartLayout::kPatches; i++) {
                EXPECT_GT(patches[i].r, 1.1 * patches[i].g) << "patch " << i;
                EXPECT_LT(patches[i].b, 0.9 * patches[i].g) << "patch " << i;
            }
        }
        // The patches still step up from dark to light on green.
        for (int i = 1; i < norva_sim::ChartLayout::kPatches; i++)
            EXPECT_GT(patches[i].g, patches[i - 1].g + 5.0) << "patch " << i;
    }
    ASSERT_EQ(camera->stopCapture(), QOR_RES_OK);
}

} // namespace
