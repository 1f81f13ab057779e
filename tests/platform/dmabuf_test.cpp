#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

#include "norvacommon/dmabuf.h"
#include "platform/sim_dmabuf.h"
#include "platform/sim_platform.h"
#include "sys/sys_seam.h"
#include "support/output_capture.h"

using norva_test::contains;
using norva_test::stderrOf;

using norva_sim::DmabufFault;

namespace {

class Dmabuf : public testing::Test {
protected:
    void SetUp() override {
        SEAM_Override(norva_sim::SimulationOps());
        norva_sim::ResetPlatform();
    }
    void TearDown() override {
        EXPECT_EQ(norva_sim::GetDmabufCounters().openDevices, 0);
        EXPECT_EQ(norva_sim::GetCounters().openDescriptors, 0);
        norva_sim::ResetPlatform();
        SEAM_Override(nullptr);
    }
};

/** Three buffers exported: every mapping of an exported descriptor, and the ISP's import of it, see one memory. */
TEST_F(Dmabuf, ExportedBuffersShareTheirBytes) {
    const size_t sizes[3] = {4096, 3 * 4096 + 100, 65536};
    QOR_HANDLE handles[3] = {nullptr, nullptr, nullptr};
    int fds[3];
    const int isp = SEAM_Open("/dev/qornorva0", O_RDWR, 0);
    ASSERT_GE(isp, 0);
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        ASSERT_EQ(DMABUF_Alloc(&handles[i], sizes[i]), QOR_RES_OK);
        ASSERT_EQ(DMABUF_GetBufferFd(handles[i], &fds[i]), QOR_RES_OK);
        int again = -1;
        ASSERT_EQ(DMABUF_GetBufferFd(handles[i], &again), QOR_RES_OK);
        EXPECT_EQ(again, fds[i]);

        uint8_t *writer =
            static_cast<uint8_t *>(SEAM_Mmap(nullptr, sizes[i], PROT_READ | PROT_WRITE, MAP_SHARED, fds[i], 0));
        ASSERT_NE(writer, MAP_FAILED);
        for (size_t b = 0; b < sizes[i]; ++b)
            writer[b] = static_cast<uint8_t>(b * 7 + i);
        const uint8_t *reader =
            static_cast<const uint8_t *>(SEAM_Mmap(nullptr, sizes[i], PROT_READ, MAP_SHARED, fds[i], 0));
        ASSERT_NE(reader, MAP_FAILED);
        EXPECT_EQ(std::memcmp(reader, writer, sizes[i]), 0);

        // The device imports the descriptor: its own view is the same memory.
        {
            std::lock_guard<std::mutex> guard(norva_sim::PlatformMutex());
            norva_sim::IspFile *file = norva_sim::FindOpenFile(isp);
            ASSERT_NE(file, nullptr);
            int error = 0;
            norva_sim::DeviceMemory *mem = norva_sim::ImportDeviceMemory(*file, fds[i], sizes[i], &error);
            ASSERT_NE(mem, nullptr) << error;
            const uint8_t *device = static_cast<const uint8_t *>(norva_sim::DeviceMemoryHost(*mem));
            ASSERT_NE(device, nullptr);
            EXPECT_EQ(std::memcmp(device, writer, sizes[i]), 0);
        }
        // Freeing the handle closes its descriptors; the mapping keeps the memory.
        ASSERT_EQ(DMABUF_Free(handles[i]), QOR_RES_OK);
        EXPECT_EQ(fcntl(fds[i], F_GETFD), -1);
        EXPECT_EQ(reader[sizes[i] - 1], static_cast<uint8_t>((sizes[i] - 1) * 7 + i));
        SEAM_Munmap(writer, sizes[i]);
        SEAM_Munmap(const_cast<uint8_t *>(reader), sizes[i]);
    }
    const norva_sim::DmabufCounters c = norva_sim::GetDmabufCounters();
    EXPECT_EQ(c.allocations, 3);
    EXPECT_EQ(c.exports, 3); // one export per buffer, whatever the number of calls
    EXPECT_EQ(SEAM_Close(isp), 0);
}

TEST_F(Dmabuf, Refusals) {
    QOR_HANDLE set = reinterpret_cast<QOR_HANDLE>(0x1);
    QOR_HANDLE h = nullptr;
    int fd = -1;
    struct Case {
        const char *what;
        DmabufFault fault;
        int error;
        QOR_RESULT (*act)(QOR_HANDLE *h, QOR_HANDLE *set, int *fd);
        QOR_RESULT result;
        const char *message;
    };
    const Case cases[] = {
        {"null handle pointer", DmabufFault::Open, 0,
         [](QOR_HANDLE *, QOR_HANDLE *, int *) { return DMABUF_Alloc(nullptr, 64); }, 11, ""},
        {"handle already set", DmabufFault::Open, 0,
         [](QOR_HANDLE *, QOR_HANDLE *set, int *) { return DMABUF_Alloc(set, 64); }, 11, ""},
        {"zero bytes", DmabufFault::Open, 0, [](QOR_HANDLE *h, QOR_HANDLE *, int *) { return DMABUF_Alloc(h, 0); }, 11,
         ""},
        {"device missing", DmabufFault::Open, ENOENT,
         [](QOR_HANDLE *h, QOR_HANDLE *, int *) { return DMABUF_Alloc(h, 64); }, 3, "Could not open DMABUF Device\n"},
        {"allocation refused", DmabufFault::Allocate, ENOMEM,
         [](QOR_HANDLE *h, QOR_HANDLE *, int *) { return DMABUF_Alloc(h, 64); }, 3, "Could not create a DMABUF\n"},
        {"export refused", DmabufFault::Export, EIO,
         [](QOR_HANDLE *h, QOR_HANDLE *, int *fd) {
             EXPECT_EQ(DMABUF_Alloc(h, 64), QOR_RES_OK);
             return DMABUF_GetBufferFd(*h, fd);
         },
         3, "Could not export a DMABUF\n"},
        {"export: null descriptor pointer", DmabufFault::Export, 0,
         [](QOR_HANDLE *h, QOR_HANDLE *, int *) {
             EXPECT_EQ(DMABUF_Alloc(h, 64), QOR_RES_OK);
             return DMABUF_GetBufferFd(*h, nullptr);
         },
         11, ""},
        {"export: null handle", DmabufFault::Export, 0,
         [](QOR_HANDLE *, QOR_HANDLE *, int *fd) { return DMABUF_GetBufferFd(nullptr, fd); }, 11, ""},
        {"free: null handle", DmabufFault::Export, 0,
         [](QOR_HANDLE *, QOR_HANDLE *, int *) { return DMABUF_Free(nullptr); }, 11, ""},
        {"free: device never opened", DmabufFault::Export, 0,
         [](QOR_HANDLE *, QOR_HANDLE *, int *) {
             S_DMABUFHandle broken{-1, -1};
             return DMABUF_Free(&broken);
         },
         17, ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        h = nullptr;
        norva_sim::FailNextDmabuf(c.fault, c.error);
        QOR_RESULT result = -1;
        const std::string err = stderrOf([&] { result = c.act(&h, &set, &fd); });
        EXPECT_EQ(result, c.result);
        EXPECT_TRUE(contains(err, c.message)) << err;
        if (std::string(c.what) == "allocation refused") {
            EXPECT_EQ(h, nullptr); // nothing is handed to a caller that only logs the failure
        }
        if (h != nullptr) {
            EXPECT_EQ(DMABUF_Free(h), QOR_RES_OK);
        }
        // A failed allocation leaves nothing open and no handle to free.
        EXPECT_EQ(norva_sim::GetDmabufCounters().openDevices, 0);
        norva_sim::FailNextDmabuf(c.fault, 0);
    }
}

} // namespace

// With the device absent every open fails with ENOENT until it is present again or the platform is reset.
TEST_F(Dmabuf, AbsentDeviceCannotBeOpened) {
    norva_sim::SetDmabufAbsent(true);
    QOR_HANDLE h = nullptr;
    for (int i = 0; i < 2; i++) {
        const std::string e = norva_test::stderrOf([&] { EXPECT_EQ(DMABUF_Alloc(&h, 64), QOR_RES_FAILED); });
        EXPECT_NE(e.find("Could not open DMABUF Device\n"), std::string::npos) << e;
        EXPECT_EQ(h, nullptr);
    }
    EXPECT_EQ(norva_sim::GetDmabufCounters().openDevices, 0);
    norva_sim::SetDmabufAbsent(false);
    ASSERT_EQ(DMABUF_Alloc(&h, 64), QOR_RES_OK);
    EXPECT_EQ(DMABUF_Free(h), QOR_RES_OK);
    norva_sim::SetDmabufAbsent(true);
    norva_sim::ResetPlatform();
    h = nullptr;
    ASSERT_EQ(DMABUF_Alloc(&h, 64), QOR_RES_OK) << "a reset makes the device present again";
    EXPECT_EQ(DMABUF_Free(h), QOR_RES_OK);
}
