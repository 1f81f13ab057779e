#ifndef NORVA_TEST_CONTROL_RIG_H
#define NORVA_TEST_CONTROL_RIG_H
// A camera on the S5K3P9 of the simulated board (its focus actuator at 0x0C), with the statistics modules the
// controls configure; the sensor streams, so exposure, gain and focus can be programmed. Statistics come from the
// synthesiser (fast, deterministic) or from captured shots.
#include <gtest/gtest.h>

#include <memory>

#include "ispc/Camera.h"
#include "ispc/ModuleDNS.h"
#include "ispc/ModuleFLD.h"
#include "ispc/ModuleFOS.h"
#include "ispc/ModuleHIS.h"
#include "ispc/Sensor.h"
#include "platform/sim_standalone_sensors.h"
#include "support/board_fixture.h"
#include "support/output_capture.h"
#include "support/stats_synth.h"

namespace norva_test {

/** S5K3P9 modes: 4 is 1920 x 1080 at 60 fps, 6 is 1280 x 720 at 120 fps. */
constexpr int kS5k3p9Mode1080 = 4;
constexpr int kS5k3p9Mode720 = 6;

class ControlRig : public BoardTest {
protected:
    void TearDown() override {
        stderrOf([&] { camera.reset(); });
        BoardTest::TearDown();
    }

    /** The camera with HIS, FLD, FOS and DNS (fld false leaves the flicker module out); the sensor enabled. */
    ISPC::Camera &make(int mode = kS5k3p9Mode1080, bool fld = true) {
        BoardWiring board;
        board.clockMHz = "24.0";
        WriteBoard(board);
        norva_sim::SensorWiring w;
        w.address = 0x2D;
        model = norva_sim::AttachS5k3p9(w);
        actuator = norva_sim::AttachS5k3p9Actuator(w.bus);
        const int id = ISPC::Sensor::GetSensorId("S5K3P9");
        EXPECT_GE(id, 0);
        camera.reset(new ISPC::Camera(0, id, mode, 0));
        ISPC::Pipeline &p = *camera->getPipeline();
        EXPECT_EQ(p.registerModule(new ISPC::ModuleHIS()), QOR_RES_OK);
        EXPECT_EQ(p.registerModule(new ISPC::ModuleFOS()), QOR_RES_OK);
        EXPECT_EQ(p.registerModule(new ISPC::ModuleDNS()), QOR_RES_OK);
        if (fld) {
            EXPECT_EQ(p.registerModule(new ISPC::ModuleFLD()), QOR_RES_OK);
        }
        return *camera;
    }

    ISPC::Sensor &sensor() { return *camera->getSensor(); }
    ISPC::Pipeline &pipeline() { return *camera->getPipeline(); }

    /** Synthesises the next frame from the pipeline's state as it stands. */
    void synthesise(const SynthScene &scene, ISPC::Metadata &md) { synth.frame(scene, SynthStateOf(pipeline()), md); }

    std::unique_ptr<ISPC::Camera> camera;
    std::shared_ptr<norva_sim::S5k3p9Model> model;
    std::shared_ptr<norva_sim::S5k3p9Actuator> actuator;
    StatsSynth synth;
};

} // namespace norva_test

#endif
