#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <thread>
#include <unistd.h>

#include "ci/ci_datagen.h"
#include "ci/ci_gasket.h"
#include "ci/ci_ioctrl.h"
#include "platform/sim_frame_source.h"
#include "platform/sim_platform.h"
#include "sys/sys_seam.h"

namespace {

/** The data-generator commands of the device, spoken directly (the device checks whatever the stack did). */
class DatagenDevice : public testing::Test {
protected:
    void SetUp() override {
        SEAM_Override(norva_sim::SimulationOps());
        norva_sim::ResetPlatform();
        fd = SEAM_Open("/dev/qornorva0", O_RDWR, 0);
        ASSERT_GE(fd, 0);
    }
    void TearDown() override {
        if (fd >= 0) {
            EXPECT_EQ(SEAM_Close(fd), 0);
        }
        const norva_sim::PlatformCounters c = norva_sim::GetCounters();
        EXPECT_EQ(c.openDescriptors, 0);
        EXPECT_EQ(c.driverObjects, 0);
        EXPECT_EQ(c.deviceMemoryAreas, 0);
        norva_sim::ResetPlatform();
        SEAM_Override(nullptr);
    }
    long command(int on, unsigned nr, void *arg) { return SEAM_Ioctl(on, CI_IOCTL_REQUEST[nr], arg); }
    long command(unsigned nr, void *arg) { return command(fd, nr, arg); }
    long commandValue(unsigned nr, long v) { return command(nr, reinterpret_cast<void *>(static_cast<intptr_t>(v))); }

    int registerGenerator() { return static_cast<int>(commandValue(CI_IIFDG_REGISTER, -1)); }
    long start(int id, CI_CONV_FMT fmt = CI_DGFMT_PARALLEL, unsigned depth = 10, unsigned gasket = 1,
               unsigned index = 0, MOSAICType mosaic = MOSAIC_RGGB) {
        CI_DG_PARAM p{};
        p.datagenId = id;
        p.sDG.ui8IIFDGIndex = static_cast<QOR_UINT8>(index);
        p.sDG.eFormat = fmt;
        p.sDG.ui8FormatBitdepth = static_cast<QOR_UINT8>(depth);
        p.sDG.ui8Gasket = static_cast<QOR_UINT8>(gasket);
        p.sDG.eBayerMosaic = mosaic;
        return command(CI_IIFDG_START, &p);
    }
    uint32_t allocate(int id, unsigned size) {
        CI_DG_FRAMEINFO info{};
        info.datagenId = id;
        info.uiSize = size;
        EXPECT_EQ(command(CI_IIFDG_ALLOCATE, &info), 0);
        return info.mmapId;
    }
    long acquire(int id, uint32_t frame) {
        CI_DG_FRAMEINFO info{};
        info.datagenId = id;
        info.uiFrameId = frame;
        const long r = command(CI_IIFDG_ACQUIRE, &info);
        return r < 0 ? r : info.uiFrameId;
    }
    long release(int id, uint32_t frame, bool trigger, uint32_t stride = 128, uint16_t width = 64,
                 uint16_t height = 4) {
        CI_DG_FRAMETRIG t{};
        t.datagenId = id;
        t.uiFrameId = frame;
        t.uiStride = stride;
        t.uiWidth = width;
        t.uiHeight = height;
        t.uiHorizontalBlanking = 100;
        t.uiVerticalBlanking = 14;
        t.bTrigger = trigger ? 1 : 0;
        return command(CI_IIFDG_RELEASE, &t);
    }
    long wait(int id, bool blocking) {
        CI_DG_FRAMEWAIT w{};
        w.datagenId = id;
        w.bBlocking = blocking ? 1 : 0;
        return command(CI_IIFDG_WAITPROCESSED, &w);
    }

    int fd = -1;
};

TEST_F(DatagenDevice, StartChecksTheSettings) {
    const int a = registerGenerator(), b = registerGenerator();
    EXPECT_EQ(a, 0);
    EXPECT_EQ(b, 1);
    struct Case {
        const char *what;
        CI_CONV_FMT fmt;
        unsigned depth, gasket, index;
        MOSAICType mosaic;
        long result;
    };
    const Case cases[] = {
        {"generator index past the hardware's", CI_DGFMT_PARALLEL, 10, 1, 1, MOSAIC_RGGB, -EINVAL},
        {"gasket past the imagers", CI_DGFMT_PARALLEL, 10, 2, 0, MOSAIC_RGGB, -EINVAL},
        {"unknown format", CI_DGFMT_N, 10, 1, 0, MOSAIC_RGGB, -EINVAL},
        {"14-bit parallel", CI_DGFMT_PARALLEL, 14, 1, 0, MOSAIC_RGGB, -EINVAL},
        {"8-bit MIPI", CI_DGFMT_MIPI, 8, 0, 0, MOSAIC_RGGB, -EINVAL},
        {"no Bayer order", CI_DGFMT_MIPI_LF, 14, 0, 0, MOSAIC_NONE, -EINVAL},
        {"valid MIPI long format, 14 bits", CI_DGFMT_MIPI_LF, 14, 0, 0, MOSAIC_BGGR, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(start(a, c.fmt, c.depth, c.gasket, c.index, c.mosaic), c.result);
    }
    EXPECT_EQ(commandValue(CI_IIFDG_ISSTARTED, a), 1);
    EXPECT_EQ(start(a), -EBUSY);                           // already started
    EXPECT_EQ(start(b, CI_DGFMT_PARALLEL, 10, 1), -EBUSY); // the one hardware generator is in use
    EXPECT_EQ(commandValue(CI_IIFDG_STOP, a), 0);
    EXPECT_EQ(start(b), 0);
    // Another file cannot touch them.
    const int other = SEAM_Open("/dev/qornorva0", O_RDWR, 0);
    ASSERT_GE(other, 0);
    EXPECT_EQ(command(other, CI_IIFDG_STOP, reinterpret_cast<void *>(static_cast<intptr_t>(b))), -EINVAL);
    EXPECT_EQ(SEAM_Close(other), 0);
    EXPECT_EQ(commandValue(CI_IIFDG_REGISTER, a), 0);
    EXPECT_EQ(commandValue(CI_IIFDG_REGISTER, a), -EINVAL); // gone
    EXPECT_EQ(commandValue(CI_IIFDG_REGISTER, -2), -EINVAL);
}

TEST_F(DatagenDevice, BuffersFollowTheirStates) {
    const int id = registerGenerator();
    const uint32_t f1 = allocate(id, 128 * 4), f2 = allocate(id, 128 * 4);
    EXPECT_GT(f1, 0u);
    EXPECT_NE(f1, f2);
    CI_DG_FRAMEINFO zero{};
    zero.datagenId = id;
    EXPECT_EQ(command(CI_IIFDG_ALLOCATE, &zero), -EINVAL); // 0 bytes
    ASSERT_EQ(start(id), 0);
    CI_DG_FRAMEINFO late{};
    late.datagenId = id;
    late.uiSize = 64;
    EXPECT_EQ(command(CI_IIFDG_ALLOCATE, &late), -EBUSY); // buffers come before start

    EXPECT_EQ(acquire(id, 0), f1);
    EXPECT_EQ(acquire(id, f1), -EALREADY);      // held
    EXPECT_EQ(acquire(id, 999), -EINVAL);       // unknown
    EXPECT_EQ(release(id, f2, false), -EINVAL); // not acquired
    // The device checks the frame again: a line that does not fit the stride, a frame beyond the buffer.
    EXPECT_EQ(release(id, f1, true, 64, 64), -EINVAL); // 88 bytes of line in a 64-byte stride
    EXPECT_EQ(release(id, f1, true, 128, 64, 5), -EINVAL);
    EXPECT_EQ(release(id, f1, true, 96), -EINVAL);
    EXPECT_EQ(release(id, f1, true), 0);
    {
        std::lock_guard<std::mutex> guard(norva_sim::PlatformMutex());
        EXPECT_EQ(norva_sim::QueuedSourceFrames(1), 1u);
    }
    CI_DG_FRAMEINFO busy{};
    busy.datagenId = id;
    busy.uiFrameId = f1;
    EXPECT_EQ(command(CI_IIFDG_FREE, &busy), -EBUSY); // still the device's
    EXPECT_EQ(wait(id, false), -EALREADY);
    EXPECT_EQ(acquire(id, 0), f2);
    EXPECT_EQ(acquire(id, 0), -EALREADY); // none left

    // Stop: the queued frame comes back, the queue empties, waits are cancelled and sending is refused.
    EXPECT_EQ(commandValue(CI_IIFDG_STOP, id), 0);
    {
        std::lock_guard<std::mutex> guard(norva_sim::PlatformMutex());
        EXPECT_EQ(norva_sim::QueuedSourceFrames(1), 0u);
    }
    EXPECT_EQ(wait(id, true), -ECANCELED);
    EXPECT_EQ(release(id, f2, true), -ECANCELED);
    EXPECT_EQ(acquire(id, 0), f1);
    EXPECT_EQ(command(CI_IIFDG_FREE, &busy), 0);
    // Closing the file releases the generator and the buffer left (checked by the fixture).
}

TEST_F(DatagenDevice, ClosingDuringAWaitEndsItAndReleasesEverything) {
    const int id = registerGenerator();
    const uint32_t f = allocate(id, 128 * 4);
    ASSERT_EQ(start(id), 0);
    ASSERT_EQ(acquire(id, 0), f);
    ASSERT_EQ(release(id, f, true), 0);
    // The wait's own bound far beyond the test's: a wait the close did not end would last a minute.
    {
        std::lock_guard<std::mutex> guard(norva_sim::PlatformMutex());
        norva_sim::SetDatagenWaitTimeoutMs(60000);
    }
    std::thread closer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        EXPECT_EQ(SEAM_Close(fd), 0);
    });
    const auto begin = std::chrono::steady_clock::now();
    EXPECT_EQ(wait(id, true), -ECANCELED);
    closer.join();
    fd = -1;
    EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(30));
    std::lock_guard<std::mutex> guard(norva_sim::PlatformMutex());
    EXPECT_EQ(norva_sim::QueuedSourceFrames(1), 0u);
}

} // namespace
