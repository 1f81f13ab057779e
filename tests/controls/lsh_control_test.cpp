// The lens-shading module and control on a camera of the simulated platform: calibrated grids become
// driver matrices in temperature order, the current one follows the measured temperature, and the white-
// balance correction picks up each grid's scale.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "ci/ci_ioctrl.h"
#include "ispc/Camera.h"
#include "ispc/ControlAWB.h"
#include "ispc/ControlLSH.h"
#include "ispc/ModuleBLC.h"
#include "ispc/ModuleCCM.h"
#include "ispc/ModuleIIF.h"
#include "ispc/ModuleLSH.h"
#include "ispc/ModuleOUT.h"
#include "ispc/ModuleWBC.h"
#include "ispc/ModuleWBS.h"
#include "platform/sim_capture.h"
#include "platform/sim_platform.h"
#include "sensors/iifdatagen.h"
#include "support/dg_nrv.h"
#include "support/sim_fixture.h"
#include "wb_test_util.h"

using namespace ISPC;
using norva_test::SimTest;
using norva_test::stderrOf;

namespace {

/** A white balance whose measured temperature the test sets. */
class SetAWB : public ControlAWB {
public:
    void setMeasured(double t) { measuredTemperature = t; }
};

struct Calibrated {
    unsigned temperature;
    double scale;
    float centre; // bowl depth of the grid
};
const Calibrated kGrids[] = {{6500, 1.0, 1.2f}, {3000, 1.25, 1.6f}, {4000, 1.1, 1.4f}};

class LensShadingOnCamera : public SimTest {
protected:
    void SetUp() override {
        SimTest::SetUp();
        char pattern[] = "/tmp/norva-lsh-ctrl-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
        ASSERT_TRUE(dg_nrv::write(dir + "/frames.nrv", 640, 480, 12, 1));
        std::string text = "LSH_CTRL_CORRECTIONS 3\n";
        for (unsigned i = 0; i < 3; i++) {
            const std::string file = dir + "/grid" + std::to_string(i) + ".lsh";
            LSH_GRID g;
            std::memset(&g, 0, sizeof(g));
            ASSERT_EQ(LSH_CreateMatrix(&g, 320, 240, 32), QOR_RES_OK);
            const LSH_FLOAT bowl[5] = {kGrids[i].centre, kGrids[i].centre, kGrids[i].centre, kGrids[i].centre, 1.0f};
            for (int c = 0; c < 4; c++)
                ASSERT_EQ(LSH_FillBowl(&g, c, bowl), QOR_RES_OK);
            ASSERT_EQ(LSH_Save_bin(&g, file.c_str()), QOR_RES_OK);
            LSH_Free(&g);
            text += "LSH_CTRL_TEMPERATURE_" + std::to_string(i) + " " + std::to_string(kGrids[i].temperature) + "\n";
            text += "LSH_CTRL_FILE_" + std::to_string(i) + " " + file + "\n";
            text += "LSH_CTRL_SCALE_WB_" + std::to_string(i) + " " + std::to_string(kGrids[i].scale) + "\n";
        }
        setup = norva_test::wbListOf(text + "OUT_ENC NV12\nOUT_DISP RGB888_24\nLSH_WBGAIN 2 1 1 1.5\n");

        const int id = Sensor::GetSensorId(IIFDG_SENSOR_NAME);
        ASSERT_GE(id, 0);
        camera.reset(new Camera(0, id, -1, 0));
        Camera &c = *camera;
        SENSOR_HANDLE h = c.getSensor()->getHandle();
        ASSERT_EQ(IIFDG_ExtendedSetConnection(h, c.getConnection()), QOR_RES_OK);
        ASSERT_EQ(IIFDG_ExtendedSetSourceFile(h, (dir + "/frames.nrv").c_str()), QOR_RES_OK);
        c.init(0, 0);
        lsh = new ModuleLSH();
        wbc = new ModuleWBC();
        for (SetupModule *m : std::initializer_list<SetupModule *>{new ModuleOUT(), new ModuleIIF(), new ModuleBLC(),
                                                                   lsh, wbc, new ModuleCCM(), new ModuleWBS()}) {
            ASSERT_EQ(c.getPipeline()->registerModule(m), QOR_RES_OK);
        }
        c.state = Camera::CAM_REGISTERED;
        stderrOf([&] {
            ASSERT_EQ(c.loadParameters(setup), QOR_RES_OK);
            ASSERT_EQ(c.program(), QOR_RES_OK);
        });
        ASSERT_EQ(control.addPipeline(c.getPipeline()), QOR_RES_OK);
        ASSERT_EQ(control.setPipelineOwner(c.getPipeline()), QOR_RES_OK);
    }
    void TearDown() override {
        stderrOf([&] { camera.reset(); });
        std::system(("rm -rf '" + dir + "'").c_str());
        SimTest::TearDown();
    }

    /** The matrix commands traced since the last clear, as their command numbers. */
    static std::vector<int> matrixCommands() {
        std::vector<int> out;
        for (const norva_sim::TraceEntry &e : norva_sim::Trace()) {
            if (e.nr == CI_CREATE_BUFF || e.nr == CI_PIPELINE_GET_LSH || e.nr == CI_PIPELINE_SET_LSH ||
                e.nr == CI_PIPELINE_CHANGE_LSH || e.nr == CI_DEREGISTER_BUFF)
                out.push_back(e.nr);
        }
        return out;
    }
    static QOR_UINT32 changedTo(const norva_sim::TraceEntry &e) {
        CI_LSH_CHANGE_PARAM p;
        std::memcpy(&p, e.argIn.data(), sizeof(p));
        return p.matrixId;
    }

    void loadAndLink() {
        stderrOf([&] { ASSERT_EQ(control.load(setup), QOR_RES_OK); });
        control.registerCtrlAWB(&awb);
        ASSERT_GT(control.configureDefaultMatrix(), 0);
    }
    /** One frame: the temperature measured, the control's update, the requested module set-ups. */
    void frameAt(double temperature) {
        awb.setMeasured(temperature);
        stderrOf([&] { control.update(Metadata()); });
        stderrOf([&] { camera->getPipeline()->setupRequested(); });
    }

    std::string dir;
    ParameterList setup;
    std::unique_ptr<Camera> camera;
    ModuleLSH *lsh = nullptr;
    ModuleWBC *wbc = nullptr;
    ControlLSH control;
    SetAWB awb;
};

} // namespace

TEST_F(LensShadingOnCamera, GridsLoadInTemperatureOrderAndTheWarmestIsTheDefault) {
    norva_sim::ClearTrace();
    loadAndLink();
    EXPECT_EQ(control.getLoadedGrids(), 3u);
    ASSERT_EQ(lsh->countGrid(), 3u);
    EXPECT_EQ(lsh->getMatrixId(0), control.getMatrixId(3000));
    EXPECT_EQ(lsh->getMatrixId(1), control.getMatrixId(4000));
    EXPECT_EQ(lsh->getMatrixId(2), control.getMatrixId(6500));
    const std::vector<int> commands = matrixCommands();
    int creates = 0, gets = 0, sets = 0;
    for (int nr : commands) {
        creates += nr == CI_CREATE_BUFF;
        gets += nr == CI_PIPELINE_GET_LSH;
        sets += nr == CI_PIPELINE_SET_LSH;
    }
    EXPECT_EQ(creates, 3);
    EXPECT_EQ(gets, 3);
    EXPECT_EQ(sets, 3);
    ASSERT_FALSE(commands.empty());
    EXPECT_EQ(commands.back(), CI_PIPELINE_CHANGE_LSH);
    EXPECT_EQ(std::count(commands.begin(), commands.end(), CI_PIPELINE_CHANGE_LSH), 1);
    const std::vector<norva_sim::TraceEntry> trace = norva_sim::Trace();
    for (auto it = trace.rbegin(); it != trace.rend(); ++it) {
        if (it->nr == CI_PIPELINE_CHANGE_LSH) {
            EXPECT_EQ(changedTo(*it), control.getMatrixId(3000));
            break;
        }
    }
    EXPECT_EQ(lsh->getCurrentMatrixId(), control.getMatrixId(3000));
    EXPECT_EQ(lsh->getCurrentScaleWB(), 1.25);

    // the table saved and loaded again is the same
    ParameterList saved;
    control.save(saved, ModuleBase::SAVE_VAL);
    ControlLSH::GridTable table;
    QOR_UINT8 bits = 0;
    ASSERT_EQ(ControlLSH::loadMatrices(saved, table, bits), QOR_RES_OK);
    ASSERT_EQ(table.size(), 3u);
    EXPECT_EQ(table.begin()->first, 3000u);
    EXPECT_NEAR(table.begin()->second.scaledWB, 1.25, 1e-6);
}

TEST_F(LensShadingOnCamera, ChoosesTheNearestCalibratedTemperature) {
    loadAndLink();
    const struct {
        unsigned t, chosen;
    } cases[] = {{3500, 3000}, {3501, 4000}, {5250, 4000}, {5251, 6500}, {0, 3000}, {10000, 6500}};
    for (const auto &c : cases) {
        EXPECT_EQ(static_cast<QOR_UINT32>(control.chooseMatrix(c.t, ControlLSH::LINEAR)), control.getMatrixId(c.chosen))
            << c.t;
    }
    stderrOf([&] { EXPECT_EQ(control.chooseMatrix(4000, ControlLSH::EXPONENTIAL), -11); });
}

TEST_F(LensShadingOnCamera, AnIlluminantStepSwitchesOncePerMidpointOnThatFramesUpdate) {
    loadAndLink();
    stderrOf([&] { camera->getPipeline()->setupRequested(); });
    norva_sim::ClearTrace();
    int frame = 0;
    std::vector<std::pair<int, QOR_UINT32>> switches;
    for (double t : {3000.0, 3300.0, 3499.9, 3700.0, 3700.0, 4500.0, 5300.0, 5300.0, 6500.0, 7000.0}) {
        const size_t before = norva_sim::Trace().size();
        frameAt(t);
        const std::vector<norva_sim::TraceEntry> trace = norva_sim::Trace();
        for (size_t k = before; k < trace.size(); k++) {
            if (trace[k].nr == CI_PIPELINE_CHANGE_LSH)
                switches.push_back({frame, changedTo(trace[k])});
        }
        if (t == 3700.0) {
            // the white-balance block of the next frame carries the 4000 K grid's scale
            EXPECT_NEAR(camera->getPipeline()->getMCPipeline()->sWBC.aGain[0], 2.0 * 1.1, 1e-9);
            EXPECT_NEAR(camera->getPipeline()->getMCPipeline()->sWBC.aGain[3], 1.5 * 1.1, 1e-9);
        }
        frame++;
    }
    ASSERT_EQ(switches.size(), 2u);
    EXPECT_EQ(switches[0], std::make_pair(3, control.getMatrixId(4000)));
    EXPECT_EQ(switches[1], std::make_pair(6, control.getMatrixId(6500)));
    EXPECT_NEAR(camera->getPipeline()->getMCPipeline()->sWBC.aGain[0], 2.0, 1e-9);
    EXPECT_EQ(control.getChosenTemperature(), 6500u);
}

// A grid that fails to load leaves the later corrections without a matrix; choosing one of them warns once per
// run of such frames, not on every frame of a long stream.
TEST_F(LensShadingOnCamera, AFailedGridWarnsOncePerRunOfFailedChoices) {
    std::remove((dir + "/grid2.lsh").c_str()); /* the 4000 K grid */
    std::string log = stderrOf([&] { EXPECT_EQ(control.load(setup), QOR_RES_FAILED); });
    EXPECT_NE(log.find("Failed to load matrix for T=4000"), std::string::npos) << log;
    control.registerCtrlAWB(&awb);
    ASSERT_GT(control.configureDefaultMatrix(), 0);
    size_t warnings = 0;
    for (double t : {4000.0, 4000.0, 6500.0, 3000.0, 4000.0, 4000.0}) {
        awb.setMeasured(t);
        log = stderrOf([&] { EXPECT_EQ(control.update(Metadata()), QOR_RES_OK); });
        for (size_t at = log.find("failed to choose matrix!"); at != std::string::npos;
             at = log.find("failed to choose matrix!", at + 1))
            warnings++;
    }
    EXPECT_EQ(warnings, 2u);
    EXPECT_EQ(control.getChosenMatrixId(), control.getMatrixId(3000));
}

TEST_F(LensShadingOnCamera, ARefusedSwitchIsTriedAgain) {
    loadAndLink();
    norva_sim::InjectCommandFault(CI_PIPELINE_CHANGE_LSH, -EIO);
    frameAt(6000);
    EXPECT_EQ(lsh->getCurrentMatrixId(), control.getMatrixId(3000));
    frameAt(6000);
    EXPECT_EQ(lsh->getCurrentMatrixId(), control.getMatrixId(6500));
}

TEST_F(LensShadingOnCamera, MatrixInUseCannotBeChosenTwiceAndIsSwitchedOffBeforeRemoval) {
    loadAndLink();
    const QOR_UINT32 current = lsh->getCurrentMatrixId();
    QOR_RESULT r = QOR_RES_OK;
    stderrOf([&] { r = lsh->configureMatrix(current); });
    EXPECT_EQ(r, QOR_RES_FAILED);
    EXPECT_EQ(lsh->getCurrentMatrixId(), current);
    stderrOf([&] { EXPECT_EQ(lsh->configureMatrix(12345), QOR_RES_INVALID_PARAM); });

    // the device refuses to drop a matrix it applies: the module switches to none first
    norva_sim::ClearTrace();
    ASSERT_EQ(control.removeMatrix(current), QOR_RES_OK);
    const std::vector<int> commands = matrixCommands();
    ASSERT_EQ(commands.size(), 2u);
    EXPECT_EQ(commands[0], CI_PIPELINE_CHANGE_LSH);
    for (const norva_sim::TraceEntry &e : norva_sim::Trace()) {
        if (e.nr == CI_PIPELINE_CHANGE_LSH) {
            EXPECT_EQ(changedTo(e), 0u);
        }
    }
    EXPECT_EQ(commands[1], CI_DEREGISTER_BUFF);
    EXPECT_EQ(lsh->getCurrentMatrixId(), 0u);
    EXPECT_EQ(lsh->getCurrentScaleWB(), 1.0);
    EXPECT_EQ(lsh->countGrid(), 2u);
    EXPECT_EQ(control.getLoadedGrids(), 2u);
}

TEST_F(LensShadingOnCamera, WithoutALinkedWhiteBalanceTheControlIsIdle) {
    stderrOf([&] { ASSERT_EQ(control.load(setup), QOR_RES_OK); });
    EXPECT_FALSE(control.isEnabled());
    std::ostringstream os;
    stderrOf([&] { control.printState(os); });
    EXPECT_NE(os.str().find("pCtrlAWB = null\n"), std::string::npos);
    EXPECT_NE(os.str().find("illuminantTemperature = 6500\n"), std::string::npos);
    EXPECT_NE(os.str().find("chosenMatrixId = 0\n"), std::string::npos);
}

// The gain-based white balance drives the grid: a light stepping from 3000 K to 6500 K switches the grid once
// at each midpoint the smoothed temperature crosses, and never back (a grid's scale multiplies all four gains
// alike, so it does not move the measured colour).
TEST_F(LensShadingOnCamera, GainBasedWhiteBalanceSwitchesOncePerMidpoint) {
    ControlAWB::resetSharedTemperature();
    ControlAWB realAWB;
    ASSERT_EQ(realAWB.addPipeline(camera->getPipeline()), QOR_RES_OK);
    stderrOf([&] {
        ASSERT_EQ(realAWB.setPipelineOwner(camera->getPipeline()), QOR_RES_OK);
        realAWB.load(norva_test::wbListOf(norva_test::twoPointCalibration()));
        realAWB.configureStatistics();
        ASSERT_EQ(control.load(setup), QOR_RES_OK);
    });
    control.registerCtrlAWB(&realAWB);
    ASSERT_GT(control.configureDefaultMatrix(), 0);
    Pipeline &pipe = *camera->getPipeline();
    auto runLight = [&](const norva_test::WbScene &scene, int frames) {
        for (int i = 0; i < frames; i++) {
            stderrOf([&] { pipe.setupRequested(); });
            Metadata md;
            std::memset(&md, 0, sizeof(md));
            norva_test::fillWBS(*pipe.getMCPipeline(), scene, 640, 480, md);
            stderrOf([&] {
                realAWB.update(md);
                control.update(md);
            });
        }
    };
    runLight(norva_test::WbScene::underCalibration(1.2, 2.8), 20);
    EXPECT_EQ(lsh->getCurrentMatrixId(), control.getMatrixId(3000));
    norva_sim::ClearTrace();
    runLight(norva_test::WbScene::underCalibration(1.9, 1.6), 30);
    std::vector<QOR_UINT32> switches;
    for (const norva_sim::TraceEntry &e : norva_sim::Trace()) {
        if (e.nr == CI_PIPELINE_CHANGE_LSH)
            switches.push_back(changedTo(e));
    }
    EXPECT_EQ(switches, (std::vector<QOR_UINT32>{control.getMatrixId(4000), control.getMatrixId(6500)}));
    EXPECT_NEAR(realAWB.getMeasuredTemperature(), 6500, 65);
    ControlAWB::resetSharedTemperature();
}
