// The focus search on the simulated board: the S5K3P9's actuator moves the lens in front of the streaming sensor,
// the simulated ISP measures the blurred texture, and a trigger parks the lens where the scene is sharp.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <initializer_list>
#include <sstream>
#include <string>

#include "control_rig.h"
#include "ispc/ControlAF.h"
#include "ispc/ModuleIIF.h"
#include "ispc/ModuleOUT.h"
#include "ispc/ParameterFileParser.h"
#include "platform/sim_lens.h"

using ISPC::ControlAF;

namespace {

class AfOnTheBoard : public norva_test::ControlRig {
protected:
    /** The camera with the lens and the focus control, capturing; the lens sharp at focus distance `sharpAt`. */
    ControlAF &capturing(unsigned sharpAt) {
        norva_sim::LensScene lens;
        ISPC::Camera &c = make(norva_test::kS5k3p9Mode720, false, &lens);
        for (ISPC::SetupModule *m :
             std::initializer_list<ISPC::SetupModule *>{new ISPC::ModuleOUT(), new ISPC::ModuleIIF()}) {
            EXPECT_EQ(c.getPipeline()->registerModule(m), QOR_RES_OK);
        }
        c.state = ISPC::Camera::CAM_REGISTERED;
        std::istringstream text("OUT_ENC NV12\n");
        ISPC::ParameterList setup;
        EXPECT_EQ(ISPC::ParameterFileParser::parse(text, setup), QOR_RES_OK);
        EXPECT_EQ(c.loadParameters(setup), QOR_RES_OK);
        auto *af = new ControlAF();
        EXPECT_EQ(c.registerControlModule(af), QOR_RES_OK);
        EXPECT_EQ(c.program(), QOR_RES_OK);
        EXPECT_EQ(c.allocateBufferPool(2), QOR_RES_OK);
        EXPECT_EQ(c.startCapture(), QOR_RES_OK);
        EXPECT_EQ(sensor().setExposureGain(8000, 1.0), QOR_RES_OK);
        // where the lens stands at that focus distance is where the scene is sharp
        EXPECT_EQ(sensor().setFocusDistance(sharpAt), QOR_RES_OK);
        lens.inFocus = lensActuator->position();
        norva_sim::SetLensScene(0, lens);
        EXPECT_EQ(norva_sim::LensBlurRadius(0), 0.0);
        return *af;
    }

    void shot() {
        ISPC::Shot s;
        ASSERT_EQ(camera->acquireShot(s, true), QOR_RES_OK);
        ASSERT_EQ(camera->releaseShot(s), QOR_RES_OK);
    }
};

TEST_F(AfOnTheBoard, ActuatorReadsBackAndMovesTheLens) {
    capturing(300);
    EXPECT_TRUE(lensActuator->started());
    const unsigned sharp = lensActuator->position();
    ASSERT_EQ(sensor().setFocusDistance(100), QOR_RES_OK);
    EXPECT_EQ(lensActuator->code(), 600u); // the register pair reads back what the driver wrote
    EXPECT_EQ(lensActuator->position(), 600u);
    EXPECT_NEAR(norva_sim::LensBlurRadius(0), (600.0 - sharp) * 0.02, 1e-9);
    ASSERT_EQ(camera->stopCapture(), QOR_RES_OK);
}

TEST_F(AfOnTheBoard, SharpnessPeaksWhereTheSceneIsSharp) {
    ControlAF &af = capturing(160);
    double best = 0;
    unsigned bestAt = 0;
    for (unsigned d = 80; d <= 600; d += 40) {
        ASSERT_EQ(sensor().setFocusDistance(d), QOR_RES_OK);
        ASSERT_EQ(camera->enqueueShot(), QOR_RES_OK);
        shot();
        if (af.getSharpness() > best) {
            best = af.getSharpness(), bestAt = d;
        }
    }
    EXPECT_EQ(bestAt, 160u);
    ASSERT_EQ(camera->stopCapture(), QOR_RES_OK);
}

TEST_F(AfOnTheBoard, TriggerParksTheLensWhereTheSceneIsSharp) {
    const unsigned sharpAt = 160;
    ControlAF &af = capturing(sharpAt);
    const double tolerance = (sensor().getMaxFocus() - sensor().getMinFocus()) / 50.0;
    // one shot in flight: each frame is taken where the control put the lens after the frame before
    for (int i = 0; i < 2; i++) {
        ASSERT_EQ(camera->enqueueShot(), QOR_RES_OK);
        shot(); // initialises, then moves the lens to the minimum
    }
    EXPECT_EQ(sensor().getFocusDistance(), sensor().getMinFocus());
    af.setCommand(ControlAF::AF_TRIGGER);
    bool focused = false, scanned = false;
    unsigned parked = 0;
    for (int i = 0; i < 80 && !(focused && af.getState() == ControlAF::AF_IDLE); i++) {
        ASSERT_EQ(camera->enqueueShot(), QOR_RES_OK);
        shot();
        EXPECT_EQ(af.hasConverged(), af.getState() != ControlAF::AF_SCANNING);
        scanned = scanned || !af.hasConverged();
        if (af.getState() == ControlAF::AF_FOCUSED) {
            focused = true;
            parked = sensor().getFocusDistance();
        }
    }
    EXPECT_TRUE(scanned);
    ASSERT_TRUE(focused);
    EXPECT_LE(std::abs(int(parked) - int(sharpAt)), tolerance) << parked;
    EXPECT_EQ(af.getState(), ControlAF::AF_IDLE);
    ASSERT_EQ(camera->stopCapture(), QOR_RES_OK);
}

TEST_F(AfOnTheBoard, DeeperQueueOnlyOffsetsTheResult) {
    // Two shots in flight: each frame shows the lens one step behind the one the control measures it for; the
    // search still ends, and where it parks is recorded, not judged.
    const unsigned sharpAt = 160;
    ControlAF &af = capturing(sharpAt);
    for (int i = 0; i < 2; i++) {
        ASSERT_EQ(camera->enqueueShot(), QOR_RES_OK);
    }
    for (int i = 0; i < 2; i++) {
        shot();
        ASSERT_EQ(camera->enqueueShot(), QOR_RES_OK);
    }
    af.setCommand(ControlAF::AF_TRIGGER);
    bool focused = false;
    unsigned parked = 0;
    for (int i = 0; i < 80 && !(focused && af.getState() == ControlAF::AF_IDLE); i++) {
        shot();
        ASSERT_EQ(camera->enqueueShot(), QOR_RES_OK);
        if (af.getState() == ControlAF::AF_FOCUSED) {
            focused = true;
            parked = sensor().getFocusDistance();
        }
    }
    EXPECT_TRUE(focused);
    RecordProperty("parked_offset", int(parked) - int(sharpAt));
    shot();
    ASSERT_EQ(camera->stopCapture(), QOR_RES_OK);
}

} // namespace
