// A long run of a data-generator camera on the simulated platform: 20,000 small frames (2,000 in the sanitizer
// builds, NORVA_QUICK_TESTS, which overrun the trace's bound many times over all the same) captured, acquired and
// released, with the device's command trace held to its bound all along. The resident memory after the first
// 100 frames and at the end is printed (it is meaningful in a build without AddressSanitizer, whose quarantine
// holds freed memory).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>
#include <unistd.h>

#include "ci/ci_ioctrl.h"
#include "ispc/DGCamera.h"
#include "ispc/ModuleBLC.h"
#include "ispc/ModuleIIF.h"
#include "ispc/ModuleOUT.h"
#include "ispc/ModuleRLT.h"
#include "ispc/ParameterFileParser.h"
#include "norvacommon/userlog.h"
#include "scenes/scene_nrv.h"
#include "sensors/iifdatagen.h"
#include "sim_platform_fixture.h"

using namespace ISPC;
using norva_test::stderrOf;

namespace {

/** Resident memory of the process in kB, from /proc/self/statm. */
long residentKb() {
    long pages = 0, resident = 0;
    std::FILE *f = std::fopen("/proc/self/statm", "r");
    if (f == nullptr)
        return -1;
    const int n = std::fscanf(f, "%ld %ld", &pages, &resident);
    std::fclose(f);
    return n == 2 ? resident * (sysconf(_SC_PAGESIZE) / 1024) : -1;
}

class DGCameraLongRun : public norva_test::IspcSimTest {
protected:
    void SetUp() override {
        IspcSimTest::SetUp();
        char pattern[] = "/tmp/norva-dglongrun-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
    }
    void TearDown() override {
        stderrOf([&] { camera.reset(); });
        std::system(("rm -rf '" + dir + "'").c_str());
        IspcSimTest::TearDown();
    }
    std::string dir;
    std::unique_ptr<DGCamera> camera;
};

TEST_F(DGCameraLongRun, ThousandsOfFramesKeepTheTraceBounded) {
    constexpr unsigned kFrames = NORVA_QUICK_TESTS ? 2000 : 20000;
    constexpr size_t kTraceBound = 64;
    const std::string scene = dir + "/scene.nrv";
    ASSERT_EQ(norva_scenes::WriteSceneNrv(scene, 64, 48, 10, MOSAIC_RGGB, 2), QOR_RES_OK);
    norva_sim::SetTraceCapacity(kTraceBound);

    camera.reset(new DGCamera(0, scene, 0, true));
    ASSERT_EQ(camera->state, Camera::CAM_CONNECTED);
    ASSERT_EQ(IIFDG_ExtendedSetBlanking(camera->getSensor()->getHandle(), 100, 14), QOR_RES_OK);
    DGCamera &c = *camera;
    for (SetupModule *m :
         std::initializer_list<SetupModule *>{new ModuleOUT(), new ModuleIIF(), new ModuleBLC(), new ModuleRLT()}) {
        ASSERT_EQ(c.getPipeline()->registerModule(m), QOR_RES_OK);
    }
    c.state = Camera::CAM_REGISTERED;
    std::istringstream text("OUT_ENC NV12\nOUT_DISP RGB888_24\n");
    ParameterList parameters;
    ASSERT_EQ(ParameterFileParser::parse(text, parameters), QOR_RES_OK);
    ASSERT_EQ(c.loadParameters(parameters), QOR_RES_OK);
    MC_PIPELINE &mc = *c.getPipeline()->getMCPipeline();
    mc.sTNM.bBypassTNM = 1; // the tone mapper needs wider frames
    mc.sTNM.updateNeeded = 1;
    ASSERT_EQ(c.programExposure(), QOR_RES_OK);
    ASSERT_EQ(c.program(), QOR_RES_OK);
    ASSERT_EQ(c.allocateBufferPool(2), QOR_RES_OK);
    ASSERT_EQ(c.startCapture(), QOR_RES_OK);

    long afterWarmUp = 0;
    const int level = LOG_GetLevel();
    LOG_SetLevel(LOG_LEVEL_WARNING); // the camera logs each enqueue and acquire
    for (unsigned i = 0; i < kFrames; i++) {
        Shot shot;
        ASSERT_EQ(c.enqueueShot(), QOR_RES_OK) << i;
        ASSERT_EQ(c.acquireShot(shot, true), QOR_RES_OK) << i;
        ASSERT_FALSE(shot.bFrameError) << i;
        ASSERT_EQ(c.releaseShot(shot), QOR_RES_OK) << i;
        if (i + 1 == 100)
            afterWarmUp = residentKb();
        if (i % 1000 == 999) {
            ASSERT_EQ(norva_sim::Trace().size(), kTraceBound) << i;
        }
    }
    LOG_SetLevel(level);
    ASSERT_EQ(c.stopCapture(), QOR_RES_OK);
    std::printf("resident memory: %ld kB after 100 frames, %ld kB after %u\n", afterWarmUp, residentKb(), kFrames);

    // The trace holds the newest commands: the stop is among them.
    const std::vector<norva_sim::TraceEntry> trace = norva_sim::Trace();
    ASSERT_EQ(trace.size(), kTraceBound);
    EXPECT_TRUE(std::any_of(trace.begin(), trace.end(),
                            [](const norva_sim::TraceEntry &e) { return e.nr == CI_CAPTURE_STOP; }));
}

} // namespace
