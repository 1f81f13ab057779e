// The per-frame path of a camera (enqueue, acquire with controls, release) allocates nothing: every C++
// allocation of the process is counted while the frames run, except those the simulated device makes
// inside its system calls (its command trace, its frames).
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "counting_allocator.h"
#include "ispc/Camera.h"
#include "ispc/ControlModule.h"
#include "ispc/ModuleBLC.h"
#include "ispc/ModuleFOS.h"
#include "ispc/ModuleIIF.h"
#include "ispc/ModuleOUT.h"
#include "ispc/ParameterFileParser.h"
#include "platform/sim_node.h"
#include "support/sim_fixture.h"
#include "sys/sys_seam.h"
#include "support/test_sensor.h"

using counting_allocator::gAllocations;
using counting_allocator::gCounting;
using counting_allocator::tInDevice;

namespace {

/** The simulation's system calls, each marked as the device's own work. */
struct DeviceCalls {
    const SEAM_OPS *sim;
    SEAM_OPS marked;
    struct Mark {
        Mark() { ++tInDevice; }
        ~Mark() { --tInDevice; }
    };
    DeviceCalls() : sim(norva_sim::SimulationOps()), marked(*sim) {
        marked.open = [](const char *path, int flags, mode_t mode) {
            Mark m;
            return self().sim->open(path, flags, mode);
        };
        marked.close = [](int fd) {
            Mark m;
            return self().sim->close(fd);
        };
        marked.ioctl = [](int fd, unsigned long request, void *arg) {
            Mark m;
            return self().sim->ioctl(fd, request, arg);
        };
        marked.mmap = [](void *addr, size_t length, int prot, int flags, int fd, off_t offset) {
            Mark m;
            return self().sim->mmap(addr, length, prot, flags, fd, offset);
        };
        marked.munmap = [](void *addr, size_t length) {
            Mark m;
            return self().sim->munmap(addr, length);
        };
    }
    static DeviceCalls &self() {
        static DeviceCalls calls;
        return calls;
    }
};
} // namespace

using namespace ISPC;

namespace {

/** A control that reads the statistics and asks nothing of anyone. */
class QuietControl : public ControlModule {
public:
    explicit QuietControl(ControlID id) : ControlModule("TEST_CTRL"), id(id) {}
    ControlID getModuleID() const override { return id; }
    QOR_RESULT update(const Metadata &md) override {
        seen += md.focusStats.ROISharpness;
        return QOR_RES_OK;
    }
    QOR_RESULT configureStatistics() override { return QOR_RES_OK; }
    QOR_RESULT load(const ParameterList &) override { return QOR_RES_OK; }
    QOR_RESULT save(ParameterList &, SaveType) const override { return QOR_RES_OK; }
    bool hasConverged() const override { return true; }
    ControlID id;
    unsigned long seen = 0;

protected:
    QOR_RESULT programCorrection() override { return QOR_RES_OK; }
};

class FrameAllocations : public norva_test::SimTest {};

} // namespace

TEST_F(FrameAllocations, HundredFramesAllocateNothing) {
    norva_test::TestSensor sensor(640, 480);
    std::unique_ptr<Camera> camera(new Camera(0, &sensor));
    Camera &c = *camera;
    for (SetupModule *m :
         std::initializer_list<SetupModule *>{new ModuleOUT(), new ModuleIIF(), new ModuleBLC(), new ModuleFOS()}) {
        ASSERT_EQ(c.getPipeline()->registerModule(m), QOR_RES_OK);
    }
    c.state = Camera::CAM_REGISTERED;
    for (ControlID id : {CTRL_AWB, CTRL_AE, CTRL_AF}) {
        ASSERT_EQ(c.registerControlModule(new QuietControl(id)), QOR_RES_OK);
    }
    const ParameterList setup = ParameterFileParser::parseFile(NORVA_ISPC_TEST_DIR "/data/camera_setup.txt");
    ASSERT_EQ(c.loadParameters(setup), QOR_RES_OK);
    ASSERT_EQ(c.program(), QOR_RES_OK);
    ASSERT_EQ(c.allocateBufferPool(2), QOR_RES_OK);
    ASSERT_EQ(c.startCapture(), QOR_RES_OK);

    Shot shot;
    int failures = 0;
    // The count sees an allocation of the stack.
    gAllocations = 0;
    gCounting = true;
    std::unique_ptr<int> probe(new int(1));
    gCounting = false;
    ASSERT_EQ(gAllocations.load(), 1);

    SEAM_Override(&DeviceCalls::self().marked);
    gAllocations = 0;
    gCounting = true;
    for (int frame = 0; frame < 100; frame++) {
        failures += c.enqueueShot() != QOR_RES_OK;
        failures += c.acquireShot(shot) != QOR_RES_OK;
        failures += c.releaseShot(shot) != QOR_RES_OK;
    }
    gCounting = false;
    SEAM_Override(norva_sim::SimulationOps());
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(gAllocations.load(), 0);
    ASSERT_EQ(c.stopCapture(), QOR_RES_OK);
}
