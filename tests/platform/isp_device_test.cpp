#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

#include "ci/ci_ioctrl.h"
#include "platform/sim_platform.h"
#include "sys/sys_seam.h"
#include "support/connection_members.h"

using norva_sim::FaultMode;

namespace {

class IspDevice : public testing::Test {
protected:
    void SetUp() override {
        SEAM_Override(norva_sim::SimulationOps());
        norva_sim::ResetPlatform();
    }
    void TearDown() override {
        if (fd >= 0) {
            EXPECT_EQ(SEAM_Close(fd), 0);
        }
        const norva_sim::PlatformCounters c = norva_sim::GetCounters();
        EXPECT_EQ(c.openDescriptors, 0);
        EXPECT_EQ(c.liveMappings, 0);
        EXPECT_EQ(c.driverObjects, 0);
        EXPECT_EQ(c.deviceMemoryAreas, 0);
        norva_sim::ResetPlatform();
        SEAM_Override(nullptr);
    }
    void open() {
        fd = SEAM_Open("/dev/qornorva0", O_RDWR, 0);
        ASSERT_GE(fd, 0);
    }
    long command(unsigned nr, void *arg) { return SEAM_Ioctl(fd, CI_IOCTL_REQUEST[nr], arg); }

    int fd = -1;
};

TEST_F(IspDevice, DescriptorsAreRealAndCounted) {
    open();
    EXPECT_GE(fcntl(fd, F_GETFD), 0);
    struct pollfd p = {fd, POLLIN, 0};
    EXPECT_EQ(poll(&p, 1, 0), 0); // pollable, nothing to read yet
    const int second = SEAM_Open("/dev/qornorva0", O_RDWR, 0);
    ASSERT_GE(second, 0);
    EXPECT_NE(second, fd);
    EXPECT_EQ(norva_sim::GetCounters().openDescriptors, 2);
    EXPECT_EQ(SEAM_Close(second), 0);
    EXPECT_EQ(fcntl(second, F_GETFD), -1); // the kernel descriptor is closed too
    EXPECT_EQ(norva_sim::GetCounters().openDescriptors, 1);
}

TEST_F(IspDevice, OpenRefusals) {
    errno = 0;
    EXPECT_EQ(SEAM_Open("/dev/qornorva0", O_RDONLY, 0), -1);
    EXPECT_EQ(errno, EACCES);
    norva_sim::SetDeviceAbsent(true);
    EXPECT_EQ(SEAM_Open("/dev/qornorva0", O_RDWR, 0), -1);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(norva_sim::GetCounters().openDescriptors, 0);
}

TEST_F(IspDevice, PathsAndDescriptorsItDoesNotOwnReachTheRealCalls) {
    char path[] = "/tmp/norva_seam_XXXXXX";
    const int tmp = mkstemp(path);
    ASSERT_GE(tmp, 0);
    ASSERT_EQ(write(tmp, "abcd", 4), 4);
    close(tmp);

    const int real = SEAM_Open(path, O_RDWR, 0);
    ASSERT_GE(real, 0);
    EXPECT_EQ(norva_sim::GetCounters().openDescriptors, 0);
    int pending = -1;
    EXPECT_EQ(SEAM_Ioctl(real, FIONREAD, &pending), 0);
    EXPECT_EQ(pending, 4);
    void *map = SEAM_Mmap(nullptr, 4, PROT_READ, MAP_SHARED, real, 0);
    ASSERT_NE(map, MAP_FAILED);
    EXPECT_EQ(std::memcmp(map, "abcd", 4), 0);
    EXPECT_EQ(norva_sim::GetCounters().liveMappings, 0);
    EXPECT_EQ(SEAM_Munmap(map, 4), 0);
    char buf[4];
    EXPECT_EQ(SEAM_Read(real, buf, 4), 4);
    EXPECT_EQ(SEAM_Close(real), 0);
    FILE *f = SEAM_Fopen(path, "r");
    ASSERT_NE(f, nullptr);
    fclose(f);
    unlink(path);
    EXPECT_EQ(SEAM_Open("/dev/norva-does-not-exist", O_RDWR, 0), -1);
}

TEST_F(IspDevice, DefaultHardwareDescription) {
    open();
    CI_CONNECTION c;
    std::memset(&c, 0xcc, sizeof(c));
    ASSERT_EQ(command(CI_INFO_GET, &c), 0);
    const CI_HWINFO &hw = c.sHWInfo;
    const struct {
        const char *field;
        unsigned long value, expected;
    } rows[] = {
        {"designer", hw.rev_ui8Designer, 1},
        {"major", hw.rev_ui8Major, 2},
        {"minor", hw.rev_ui8Minor, 7},
        {"uiSizeOfPipeline", hw.uiSizeOfPipeline, 16376},
        {"uiSizeOfLoadStruct", hw.uiSizeOfLoadStruct, 1268},
        {"bit depth", hw.config_ui8BitDepth, 10},
        {"contexts", hw.config_ui8NContexts, 2},
        {"imagers", hw.config_ui8NImagers, 2},
        {"data generators", hw.config_ui8NIIFDataGenerator, 1},
        {"gasket 0 type (MIPI)", hw.gasket_aType[0], 1},
        {"gasket 1 type (parallel)", hw.gasket_aType[1], 2},
        {"enc H luma taps", hw.scaler_ui8EncHLumaTaps, 16},
        {"enc V luma taps", hw.scaler_ui8EncVLumaTaps, 8},
        {"enc V chroma taps", hw.scaler_ui8EncVChromaTaps, 4},
        {"disp H luma taps", hw.scaler_ui8DispHLumaTaps, 8},
        {"disp V luma taps", hw.scaler_ui8DispVLumaTaps, 4},
        {"gasket max width", hw.gasket_aMaxWidth[0], 4096},
        {"gasket bit depth", hw.gasket_aBitDepth[1], 12},
        {"context max width single", hw.context_aMaxWidthSingle[1], 2048},
        {"context max width multi", hw.context_aMaxWidthMult[0], 2048},
        {"context max height", hw.context_aMaxHeight[0], 4096},
        {"pending queue", hw.context_aPendingQueue[1], 4},
        {"line store", hw.ui32MaxLineStore, 4096},
        {"functionalities", hw.eFunctionalities, 31},
        {"tiling scheme", hw.uiTiledScheme, 256},
        {"mmu enabled", hw.mmu_ui8Enabled, 1},
        {"mmu page size", hw.mmu_ui32PageSize, 4096},
        {"reference clock", hw.ui32RefClockMhz, 100},
    };
    for (const auto &r : rows)
        EXPECT_EQ(r.value, r.expected) << r.field;
    EXPECT_EQ(c.sLinestoreStatus.aStart[0], -1);
    EXPECT_EQ(c.sLinestoreStatus.aStart[1], -1);
    // A rising 12-bit curve from 0 to full scale.
    EXPECT_EQ(c.sGammaLUT.aRedPoints[0], 0);
    EXPECT_EQ(c.sGammaLUT.aGreenPoints[GMA_N_POINTS - 1], 4095);
    for (int i = 1; i < GMA_N_POINTS; ++i)
        EXPECT_GT(c.sGammaLUT.aBluePoints[i], c.sGammaLUT.aBluePoints[i - 1]);
}

TEST_F(IspDevice, EveryFieldCanBeOverriddenAndResetRestoresIt) {
    CI_CONNECTION custom;
    std::memset(&custom, 0, sizeof(custom));
    for (size_t i = 0; i < sizeof(custom); ++i)
        reinterpret_cast<uint8_t *>(&custom)[i] = static_cast<uint8_t>(i * 7);
    norva_sim::IspDevice().description = custom;
    open();
    CI_CONNECTION c;
    ASSERT_EQ(command(CI_INFO_GET, &c), 0);
    EXPECT_EQ(norva_test::DifferentMembers(c, custom), "");

    norva_sim::ResetPlatform();
    const CI_CONNECTION defaults = norva_sim::DefaultDescription();
    ASSERT_EQ(command(CI_INFO_GET, &c), 0);
    EXPECT_EQ(norva_test::DifferentMembers(c, defaults), "");
}

TEST_F(IspDevice, TraceKeepsCopiesOfTheArguments) {
    open();
    CI_MODULE_GMA_LUT lut;
    std::memset(&lut, 0x11, sizeof(lut));
    ASSERT_EQ(command(CI_GMALUT_SET, &lut), 0);
    std::memset(&lut, 0x22, sizeof(lut)); // changing the caller's record later does not change the trace
    CI_LINESTORE ls;
    std::memset(&ls, 0x33, sizeof(ls));
    ASSERT_EQ(command(CI_LINESTORE_GET, &ls), 0);
    ASSERT_EQ(SEAM_Ioctl(fd, CI_IOCTL_REQUEST[CI_RESET], reinterpret_cast<void *>(0)), 0);

    const auto trace = norva_sim::Trace();
    ASSERT_EQ(trace.size(), 3u);
    EXPECT_EQ(trace[0].request, 0x80082104ul);
    EXPECT_EQ(trace[0].nr, CI_GMALUT_SET);
    ASSERT_EQ(trace[0].argIn.size(), sizeof(CI_MODULE_GMA_LUT));
    EXPECT_EQ(trace[0].argIn[100], 0x11);
    EXPECT_EQ(trace[0].fd, fd);
    EXPECT_EQ(trace[1].argIn[0], 0x33);                                 // as it came in
    EXPECT_EQ(std::memcmp(trace[1].argOut.data(), &ls, sizeof(ls)), 0); // as the device left it
    EXPECT_EQ(trace[2].nr, CI_RESET);
    EXPECT_TRUE(trace[2].argIn.empty());
    EXPECT_EQ(trace[2].value, 0);
    norva_sim::ClearTrace();
    EXPECT_TRUE(norva_sim::Trace().empty());
}

// The trace keeps the newest commands up to its bound, so a long run does not grow it; a test can change the bound.
TEST_F(IspDevice, TraceIsABoundedRingOfTheNewestCommands) {
    open();
    EXPECT_EQ(norva_sim::TraceCapacity(), 256u);
    QOR_UINT32 v = 0;
    for (int i = 0; i < 1500; ++i) {
        ASSERT_EQ(command(CI_DPFINT_GET, &v), 0);
    }
    ASSERT_EQ(SEAM_Ioctl(fd, CI_IOCTL_REQUEST[CI_RESET], reinterpret_cast<void *>(0)), 0);
    std::vector<norva_sim::TraceEntry> trace = norva_sim::Trace();
    ASSERT_EQ(trace.size(), 256u);
    EXPECT_EQ(trace.back().nr, CI_RESET);
    EXPECT_EQ(trace.front().nr, CI_DPFINT_GET);

    // A smaller bound keeps the newest of what is there, oldest first.
    norva_sim::SetTraceCapacity(3);
    ASSERT_EQ(command(CI_TIMEST_GET, &v), 0);
    trace = norva_sim::Trace();
    ASSERT_EQ(trace.size(), 3u);
    EXPECT_EQ(trace[0].nr, CI_DPFINT_GET);
    EXPECT_EQ(trace[1].nr, CI_RESET);
    EXPECT_EQ(trace[2].nr, CI_TIMEST_GET);
    ASSERT_EQ(trace[2].argOut.size(), sizeof(v));
    EXPECT_EQ(std::memcmp(trace[2].argOut.data(), &v, sizeof(v)), 0);

    // A larger one keeps everything up to it; 0 traces nothing.
    norva_sim::SetTraceCapacity(5000);
    for (int i = 0; i < 2000; ++i) {
        ASSERT_EQ(command(CI_DPFINT_GET, &v), 0);
    }
    EXPECT_EQ(norva_sim::Trace().size(), 2003u);
    norva_sim::SetTraceCapacity(0);
    ASSERT_EQ(command(CI_DPFINT_GET, &v), 0);
    EXPECT_TRUE(norva_sim::Trace().empty());

    norva_sim::ResetPlatform();
    EXPECT_EQ(norva_sim::TraceCapacity(), 256u);
}

TEST_F(IspDevice, DispatchIsOnTheExactRequestValue) {
    open();
    CI_CONNECTION c;
    const unsigned long decoys[] = {
        0x80082100ul, // right number, wrong direction
        0x40042100ul, // right number, wrong size
        0x40082200ul, // wrong type
        static_cast<unsigned long>(CI_IOCTL_REQUEST[CI_INFO_GET]) | 0x100000000ul,
    };
    for (unsigned long request : decoys) {
        EXPECT_EQ(SEAM_Ioctl(fd, request, &c), -ENOTTY) << std::hex << request;
    }
    EXPECT_EQ(norva_sim::Trace().back().nr, -1);
    EXPECT_EQ(command(CI_INFO_GET, nullptr), -EFAULT);
    EXPECT_EQ(SEAM_Ioctl(fd, CI_IOCTL_REQUEST[CI_RESET], reinterpret_cast<void *>(1)), -EINVAL);
}

TEST_F(IspDevice, FaultInjection) {
    open();
    QOR_UINT32 v = 0;
    norva_sim::InjectCommandFault(CI_DPFINT_GET, -EIO); // once
    EXPECT_EQ(command(CI_DPFINT_GET, &v), -EIO);
    EXPECT_TRUE(norva_sim::Trace().back().injected);
    EXPECT_EQ(command(CI_DPFINT_GET, &v), 0);
    EXPECT_EQ(v, norva_sim::IspDevice().description.sHWInfo.config_ui32DPFInternalSize);

    norva_sim::InjectCommandFault(CI_DPFINT_GET, -EINTR, FaultMode::Always, 2); // after two good answers
    EXPECT_EQ(command(CI_DPFINT_GET, &v), 0);
    EXPECT_EQ(command(CI_DPFINT_GET, &v), 0);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(command(CI_DPFINT_GET, &v), -EINTR);
    norva_sim::ClearCommandFaults();
    EXPECT_EQ(command(CI_DPFINT_GET, &v), 0);

    // Any answer can be injected, a success value included.
    norva_sim::InjectCommandAnswer(CI_TIMEST_GET, 5);
    EXPECT_EQ(command(CI_TIMEST_GET, &v), 5);

    // A failed close still releases the descriptor.
    norva_sim::FailNextClose(EIO);
    errno = 0;
    EXPECT_EQ(SEAM_Close(fd), -1);
    EXPECT_EQ(errno, EIO);
    fd = -1;
}

TEST_F(IspDevice, ConnectionCommands) {
    open();
    CI_LINESTORE ls{};
    ls.aStart[0] = 0;
    ls.aSize[0] = 2048;
    ls.aStart[1] = 2048;
    ls.aSize[1] = 2048;
    EXPECT_EQ(command(CI_LINESTORE_SET, &ls), 0);
    norva_sim::IspDevice().description.sLinestoreStatus.aActive[1] = 1;
    CI_LINESTORE back{};
    EXPECT_EQ(command(CI_LINESTORE_GET, &back), 0);
    EXPECT_EQ(back.aStart[1], 2048);
    EXPECT_EQ(back.aActive[1], 1);

    const struct {
        const char *what;
        QOR_INT32 s0, s1;
        QOR_UINT32 z0, z1;
        long answer;
    } proposals[] = {
        {"past the end", 3000, 2048, 2000, 2048, -EINVAL},
        {"moves a running context", 0, 1024, 1024, 2048, -EBUSY},
        {"overlaps a running context", 1024, 2048, 2048, 2048, -EBUSY},
        {"disables the idle context", -1, 2048, 0, 2048, 0},
    };
    for (const auto &p : proposals) {
        CI_LINESTORE prop{};
        prop.aStart[0] = p.s0;
        prop.aStart[1] = p.s1;
        prop.aSize[0] = p.z0;
        prop.aSize[1] = p.z1;
        EXPECT_EQ(command(CI_LINESTORE_SET, &prop), p.answer) << p.what;
    }

    // Debug registers: banks 0 to 6 with the default description (core, 2 contexts, 2 gaskets, the data
    // generator, the MMU), 64 KiB of word offsets each.
    const struct {
        QOR_UINT8 bank;
        QOR_UINT32 offset;
        long answer;
    } registers[] = {
        {3, 0x10, 0},          {0, 0, 0},
        {6, 0xfffc, 0},        {3, 0x11, -EINVAL},
        {7, 0, -EINVAL},       {255, 0x10, -EINVAL},
        {0, 0x10000, -EINVAL}, {6, 0xfffffffc, -EINVAL},
    };
    for (const auto &r : registers) {
        CI_DEBUG_REG_PARAM rd{1, r.bank, r.offset, 7};
        EXPECT_EQ(command(CI_DEBUG_REG, &rd), r.answer) << int(r.bank) << " " << r.offset;
        if (r.answer == 0) {
            EXPECT_EQ(rd.ui32Value, 0u); // 0 until written
        }
        CI_DEBUG_REG_PARAM wr{0, r.bank, r.offset, 42u + r.bank};
        EXPECT_EQ(command(CI_DEBUG_REG, &wr), r.answer) << int(r.bank) << " " << r.offset;
        EXPECT_EQ(command(CI_DEBUG_REG, &rd), r.answer);
        if (r.answer == 0) {
            EXPECT_EQ(rd.ui32Value, 42u + r.bank);
        }
    }
    EXPECT_EQ(norva_sim::IspDevice().debugRegisters.size(), 3u); // nothing stored for the refused ones
    // The banks follow the description: without an MMU the last bank goes.
    norva_sim::IspDevice().description.sHWInfo.mmu_ui8Enabled = 0;
    CI_DEBUG_REG_PARAM mmu{1, 6, 0, 0};
    EXPECT_EQ(command(CI_DEBUG_REG, &mmu), -EINVAL);

    QOR_UINT64 t = 0;
    EXPECT_EQ(command(CI_SYSTIME_GET, &t), 0);
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    const QOR_UINT64 now = static_cast<QOR_UINT64>(ts.tv_sec) * 1000000000ull + ts.tv_nsec;
    EXPECT_LE(t, now);
    EXPECT_GT(t + 1000000000ull, now); // monotonic nanoseconds
}

struct Probe : norva_sim::FileExtension {
    static int alive;
    Probe() { alive++; }
    ~Probe() override { alive--; }
};
int Probe::alive = 0;

TEST_F(IspDevice, DeviceMemoryIsMappedAtIdentifierTimesPageSize) {
    open();
    const long page = sysconf(_SC_PAGESIZE);
    uint32_t id1, id2;
    {
        std::lock_guard<std::mutex> lock(norva_sim::PlatformMutex());
        norva_sim::IspFile *file = norva_sim::FindOpenFile(fd);
        ASSERT_NE(file, nullptr);
        int error = 0;
        norva_sim::DeviceMemory *a = norva_sim::AllocateDeviceMemory(*file, 6000, &error);
        norva_sim::DeviceMemory *b = norva_sim::AllocateDeviceMemory(*file, 100, &error);
        ASSERT_NE(a, nullptr);
        ASSERT_NE(b, nullptr);
        EXPECT_EQ(norva_sim::AllocateDeviceMemory(*file, 0, &error), nullptr);
        EXPECT_EQ(error, -EINVAL);
        id1 = a->id;
        id2 = b->id;
        EXPECT_GT(id1, 0u);
        EXPECT_NE(id1, id2);
        static_cast<char *>(norva_sim::DeviceMemoryHost(*a))[5999] = 'z';
        file->extension<Probe>();
        EXPECT_EQ(&file->extension<Probe>(), file->findExtension<Probe>());
    }
    EXPECT_EQ(Probe::alive, 1);
    EXPECT_EQ(norva_sim::GetCounters().deviceMemoryAreas, 2);

    char *view = static_cast<char *>(SEAM_Mmap(nullptr, 6000, PROT_READ, MAP_SHARED, fd, id1 * page));
    ASSERT_NE(view, MAP_FAILED);
    EXPECT_EQ(view[5999], 'z');
    EXPECT_EQ(norva_sim::GetCounters().liveMappings, 1);

    EXPECT_EQ(SEAM_Mmap(nullptr, 3 * page, PROT_READ, MAP_SHARED, fd, id1 * page), MAP_FAILED); // too long
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(SEAM_Mmap(nullptr, 100, PROT_READ, MAP_SHARED, fd, (id2 + 50) * page), MAP_FAILED); // unknown id
    EXPECT_EQ(SEAM_Mmap(nullptr, 100, PROT_READ, MAP_SHARED, fd, id2 * page + 1), MAP_FAILED);

    norva_sim::FailNthMapping(2, ENOMEM);
    void *first = SEAM_Mmap(nullptr, 100, PROT_READ | PROT_WRITE, MAP_SHARED, fd, id2 * page);
    EXPECT_NE(first, MAP_FAILED);
    EXPECT_EQ(SEAM_Mmap(nullptr, 100, PROT_READ, MAP_SHARED, fd, id2 * page), MAP_FAILED);
    EXPECT_EQ(errno, ENOMEM);
    EXPECT_EQ(norva_sim::GetCounters().liveMappings, 2);

    // Closing the descriptor releases the file's memory and objects; the stack's mappings stay valid.
    EXPECT_EQ(SEAM_Close(fd), 0);
    fd = -1;
    EXPECT_EQ(Probe::alive, 0);
    EXPECT_EQ(norva_sim::GetCounters().deviceMemoryAreas, 0);
    EXPECT_EQ(view[5999], 'z');
    EXPECT_EQ(SEAM_Munmap(view, 6000), 0);
    EXPECT_EQ(SEAM_Munmap(first, 100), 0);
}

TEST_F(IspDevice, ImportedMemoryAliasesTheDescriptor) {
    open();
    const int mem = memfd_create("dmabuf", MFD_CLOEXEC);
    ASSERT_GE(mem, 0);
    ASSERT_EQ(ftruncate(mem, 4096), 0);
    const long page = sysconf(_SC_PAGESIZE);
    uint32_t id;
    {
        std::lock_guard<std::mutex> lock(norva_sim::PlatformMutex());
        norva_sim::IspFile *file = norva_sim::FindOpenFile(fd);
        int error = 0;
        EXPECT_EQ(norva_sim::ImportDeviceMemory(*file, mem, 8192, &error), nullptr);
        EXPECT_EQ(error, -EINVAL);
        norva_sim::DeviceMemory *m = norva_sim::ImportDeviceMemory(*file, mem, 4096, &error);
        ASSERT_NE(m, nullptr);
        id = m->id;
        static_cast<char *>(norva_sim::DeviceMemoryHost(*m))[10] = 'q';
    }
    close(mem); // the device keeps its own reference
    char *view = static_cast<char *>(SEAM_Mmap(nullptr, 4096, PROT_READ, MAP_SHARED, fd, id * page));
    ASSERT_NE(view, MAP_FAILED);
    EXPECT_EQ(view[10], 'q');
    EXPECT_EQ(SEAM_Munmap(view, 4096), 0);
    {
        std::lock_guard<std::mutex> lock(norva_sim::PlatformMutex());
        EXPECT_TRUE(norva_sim::FreeDeviceMemory(*norva_sim::FindOpenFile(fd), id));
        EXPECT_FALSE(norva_sim::FreeDeviceMemory(*norva_sim::FindOpenFile(fd), id));
    }
}

TEST_F(IspDevice, CommandRegistrationRefusesTakenAndUnknownNumbers) {
    auto handler = [](norva_sim::CommandContext &) -> long { return 0; };
    EXPECT_FALSE(norva_sim::RegisterCommand(CI_INFO_GET, sizeof(CI_CONNECTION), handler));
    EXPECT_FALSE(norva_sim::RegisterCommand(CI_IOCTL_N, 0, handler));
}

TEST(PlatformSelection, TheSimulationRegistersItself) {
    const char *env = std::getenv("NORVA_PLATFORM");
    const bool hardware = (env != nullptr && std::string(env) == "hw") ||
                          ((env == nullptr || std::string(env) != "sim") && access("/dev/qornorva0", F_OK) == 0);
    if (hardware)
        GTEST_SKIP() << "running on the hardware";
    SEAM_Override(nullptr);
    EXPECT_EQ(SEAM_Current(), norva_sim::SimulationOps());
    EXPECT_TRUE(SEAM_IsSimulated());
}

TEST_F(IspDevice, VirtualClock) {
    norva_sim::SetVirtualClock(true);
    SEAM_Usleep(5000000); // returns at once
    SEAM_Usleep(250);
    EXPECT_EQ(norva_sim::VirtualTimeUs(), 5000250u);
    norva_sim::ResetPlatform();
    EXPECT_EQ(norva_sim::VirtualTimeUs(), 0u);
}

} // namespace
