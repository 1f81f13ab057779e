// Per-frame cost of the white-balance controls and the lens-shading control, and the start-up cost of loading
// 200 calibrated grids. Each white-balance variant completes a measurement on every frame (one strip per
// frame); "allocs_per_frame" counts the heap allocations of one frame in steady state (builds without
// AddressSanitizer) and must stay 0.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <sstream>
#include <string>

#include "alloc_counter.h"

#include "ispc/Camera.h"
#include "ispc/ControlAWB.h"
#include "ispc/ControlAWB_PID.h"
#include "ispc/ControlAWB_Planckian.h"
#include "ispc/ControlLSH.h"
#include "ispc/ModuleAWS.h"
#include "ispc/ModuleBLC.h"
#include "ispc/ModuleCCM.h"
#include "ispc/ModuleIIF.h"
#include "ispc/ModuleLSH.h"
#include "ispc/ModuleOUT.h"
#include "ispc/ModuleWBC.h"
#include "ispc/ModuleWBS.h"
#include "ispc/ParameterFileParser.h"
#include "platform/sim_platform.h"
#include "sensors/iifdatagen.h"
#include "support/dg_nrv.h"
#include "support/test_sensor.h"
#include "support/wb_synth.h"
#include "sys/sys_seam.h"

using namespace ISPC;

namespace {

ParameterList listOf(const std::string &text) {
    std::istringstream is(text);
    ParameterList l;
    ParameterFileParser::parse(is, l);
    return l;
}

const char *kCalibration = "WB_CORRECTIONS 3\n"
                           "WB_TEMPERATURE_0 6500\nWB_CCM_0 1.3 -0.2 -0.1 -0.15 1.25 -0.1 0.05 -0.35 1.3\n"
                           "WB_GAINS_0 1.9 1 1 1.6\n"
                           "WB_TEMPERATURE_1 3000\nWB_CCM_1 1.5 -0.3 -0.2 -0.25 1.4 -0.15 0 -0.5 1.5\n"
                           "WB_GAINS_1 1.2 1 1 2.8\n"
                           "WB_TEMPERATURE_2 4500\nWB_GAINS_2 1.5 1 1 2.1\n";

/** The Planckian control at 30 frames per second without a sensor driver. */
class Planckian30 : public ControlAWB_Planckian {
public:
    double getFps() override { return 30.0; }
};

/** A 1920x1080 pipeline with the white-balance modules, and statistics of a grey chart under 3000 K. */
struct WbBench {
    WbBench() : rig(1920, 1080) {
        for (SetupModule *m : std::initializer_list<SetupModule *>{new ModuleWBC2_6(), new ModuleCCM(), new ModuleWBS(),
                                                                   new ModuleAWS()}) {
            rig.pipeline->registerModule(m);
        }
        std::memset(&md, 0, sizeof(md));
    }
    void attach(ControlAWB &c) {
        c.addPipeline(rig.pipeline.get());
        c.setPipelineOwner(rig.pipeline.get());
        c.load(listOf(kCalibration));
        c.configureStatistics();
        rig.pipeline->getModule(STP_WBS)->setup();
        const norva_test::WbScene scene = norva_test::WbScene::underCalibration(1.2, 2.8);
        norva_test::fillWBS(rig.mc(), scene, 1920, 1080, md);
        norva_test::fillAWS(scene, 10000, md);
    }
    norva_test::TestRig rig;
    Metadata md;
};

template <class C> void runControl(benchmark::State &state, C &control, const Metadata &md) {
    for (int i = 0; i < 200; i++) // warm-up: histories and scratch storage reach their steady size
        control.update(md);
    long frames = 0;
    const long before = norva_bench::Allocations();
    for (auto _ : state) {
        control.update(md);
        frames++;
    }
    if (norva_bench::CountsAllocations() && frames > 0) {
        state.counters["allocs_per_frame"] =
            static_cast<double>(norva_bench::Allocations() - before) / static_cast<double>(frames);
    }
}

void BaseAWB(benchmark::State &state) {
    WbBench b;
    ControlAWB awb;
    awb.setCorrectionMode(static_cast<ControlAWB::Correction_Types>(state.range(0)));
    b.attach(awb);
    runControl(state, awb, b.md);
}
BENCHMARK(BaseAWB)->Arg(ControlAWB::WB_AC)->Arg(ControlAWB::WB_COMBINED);

void PidAWB(benchmark::State &state) {
    WbBench b;
    ControlAWB_PID awb;
    b.attach(awb);
    runControl(state, awb, b.md);
}
BENCHMARK(PidAWB);

void PlanckianAWB(benchmark::State &state) {
    WbBench b;
    Planckian30 awb;
    b.attach(awb);
    awb.ts_setSmoothing(state.range(0) != 0);
    if (state.range(0) == 0) {
        // unweighted: the history holds stretch x fps = 9000 entries
        for (int i = 0; i < 9000; i++)
            awb.update(b.md);
    }
    runControl(state, awb, b.md);
    state.counters["history"] = static_cast<double>(awb.history().size());
}
BENCHMARK(PlanckianAWB)->Arg(0)->Arg(1);

/** The lens-shading control between switches: the temperature read and the nearest grid chosen. */
class TableLSH : public ModuleLSH {
public:
    void list(QOR_UINT32 id) {
        lsh_mat *m = new lsh_mat();
        m->matrixId = id;
        list_grid.push_back(m);
    }
    /** The grid the hardware would apply already (no driver here to switch it). */
    void makeCurrent(QOR_UINT32 id) { currentMatId = id; }
    ~TableLSH() override {
        currentMatId = 0;
        for (lsh_mat *m : list_grid)
            delete m;
        list_grid.clear();
    }
};

class SetAWB : public ControlAWB {
public:
    void setMeasured(double t) { measuredTemperature = t; }
};

void LensShadingControl(benchmark::State &state) {
    norva_test::TestRig rig(1920, 1080);
    TableLSH *lsh = new TableLSH();
    rig.pipeline->registerModule(lsh);
    ControlLSH control;
    control.addPipeline(rig.pipeline.get());
    control.setPipelineOwner(rig.pipeline.get());
    for (QOR_UINT32 k = 0; k < 20; k++) {
        lsh->list(k + 1);
        ControlLSH::GridInfo info(std::string("grid"), 1.0);
        info.matrixId = k + 1;
        control.addMatrixInfo(2000 + 300 * k, info);
    }
    lsh->makeCurrent(8); // 4100 K, the grid nearest to the temperatures below
    SetAWB awb;
    control.registerCtrlAWB(&awb);
    awb.setMeasured(4000);
    const Metadata md{};
    control.update(md);
    long frames = 0;
    const long before = norva_bench::Allocations();
    double t = 4000;
    for (auto _ : state) {
        t = t > 4100 ? 4000 : t + 1; // inside one grid's range: no switch
        awb.setMeasured(t);
        control.update(md);
        frames++;
    }
    if (norva_bench::CountsAllocations() && frames > 0) {
        state.counters["allocs_per_frame"] =
            static_cast<double>(norva_bench::Allocations() - before) / static_cast<double>(frames);
    }
}
BENCHMARK(LensShadingControl);

/** Start-up: 200 grids of 64 x 48 vertices read, packed and handed to the simulated driver. */
void LoadGrids(benchmark::State &state) {
    SEAM_Override(norva_sim::SimulationOps());
    norva_sim::ResetPlatform();
    char pattern[] = "/tmp/norva-bench-lsh-XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
        state.SkipWithError("no temporary folder");
        return;
    }
    const std::string dir = pattern;
    dg_nrv::write(dir + "/frames.nrv", 640, 480, 12, 1);
    std::string text = "LSH_CTRL_CORRECTIONS 200\nLSH_CTRL_BITS_DIFF 8\nOUT_ENC NV12\nOUT_DISP RGB888_24\n";
    for (int i = 0; i < 200; i++) {
        LSH_GRID g;
        std::memset(&g, 0, sizeof(g));
        LSH_AllocateMatrix(&g, 64, 48, 8);
        const LSH_FLOAT bowl[5] = {1.5f + i * 0.001f, 1.5f, 1.5f, 1.5f, 1.0f};
        for (int c = 0; c < 4; c++)
            LSH_FillBowl(&g, c, bowl);
        const std::string file = dir + "/g" + std::to_string(i) + ".lsh";
        LSH_Save_bin(&g, file.c_str());
        LSH_Free(&g);
        text += "LSH_CTRL_TEMPERATURE_" + std::to_string(i) + " " + std::to_string(2000 + 25 * i) + "\n";
        text += "LSH_CTRL_FILE_" + std::to_string(i) + " " + file + "\n";
    }
    const ParameterList setup = listOf(text);
    {
        std::unique_ptr<Camera> camera(new Camera(0, Sensor::GetSensorId(IIFDG_SENSOR_NAME), -1, 0));
        SENSOR_HANDLE h = camera->getSensor()->getHandle();
        IIFDG_ExtendedSetConnection(h, camera->getConnection());
        IIFDG_ExtendedSetSourceFile(h, (dir + "/frames.nrv").c_str());
        camera->init(0, 0);
        ModuleLSH *lsh = new ModuleLSH();
        for (SetupModule *m :
             std::initializer_list<SetupModule *>{new ModuleOUT(), new ModuleIIF(), new ModuleBLC(), lsh}) {
            camera->getPipeline()->registerModule(m);
        }
        camera->state = Camera::CAM_REGISTERED;
        camera->loadParameters(setup);
        if (camera->program() != QOR_RES_OK) {
            state.SkipWithError("camera not programmed");
        } else {
            for (auto _ : state) {
                ControlLSH control;
                control.addPipeline(camera->getPipeline());
                control.setPipelineOwner(camera->getPipeline());
                if (control.load(setup) != QOR_RES_OK || control.getLoadedGrids() != 200) {
                    state.SkipWithError("grids not loaded");
                    break;
                }
                state.PauseTiming();
                std::vector<unsigned> ids;
                control.getMatrixIds(ids);
                for (unsigned id : ids)
                    lsh->removeMatrix(id);
                state.ResumeTiming();
            }
        }
    }
    std::system(("rm -rf '" + dir + "'").c_str());
    norva_sim::ResetPlatform();
}
BENCHMARK(LoadGrids)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
