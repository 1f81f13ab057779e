#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/mman.h>

#include "ci/ci_ioctrl.h"
#include "ci/sys_userio.h"
#include "support/sim_fixture.h"

using norva_test::SimTest;
using norva_test::stderrOf;

namespace {

class SysUserIo : public SimTest {};

TEST_F(SysUserIo, OpenFailureIsLoggedAndReturnsNull) {
    norva_sim::SetDeviceAbsent(true);
    SYS_FILE *f = reinterpret_cast<SYS_FILE *>(1);
    const std::string err = stderrOf([&] { f = SYS_IO_Open("/dev/qornorva0", O_RDWR, 0); });
    EXPECT_EQ(f, nullptr);
    EXPECT_NE(err.find("ERROR [SYS_USERIO]: SYS_IO_Open():"), std::string::npos) << err;
    EXPECT_NE(err.find("Failed to open '/dev/qornorva0'!\n"), std::string::npos) << err;
}

TEST_F(SysUserIo, ControlReturnsTheAnswerOrMinusErrno) {
    SYS_FILE *f = SYS_IO_Open("/dev/qornorva0", O_RDWR, 0);
    ASSERT_NE(f, nullptr);
    norva_sim::InjectCommandAnswer(CI_CAPTURE_ISSTARTED, 1);
    EXPECT_EQ(SYS_IO_Control(f, CI_IOCTL_CMD(CI_CAPTURE_ISSTARTED), 7), 1);
    EXPECT_EQ(norva_sim::Trace().back().value, 7); // an int passed by value
    norva_sim::InjectCommandFault(CI_CAPTURE_ISSTARTED, -EINVAL);
    EXPECT_EQ(SYS_IO_Control(f, CI_IOCTL_CMD(CI_CAPTURE_ISSTARTED), 7), -EINVAL);
    EXPECT_EQ(SYS_IO_Close(f), 0);
}

TEST_F(SysUserIo, MapsAtIdentifierTimesPageSizeAndReportsFailureAsNull) {
    SYS_FILE *f = SYS_IO_Open("/dev/qornorva0", O_RDWR, 0);
    ASSERT_NE(f, nullptr);
    uint32_t id;
    {
        std::lock_guard<std::mutex> lock(norva_sim::PlatformMutex());
        int error = 0;
        norva_sim::DeviceMemory *m = norva_sim::AllocateDeviceMemory(*norva_sim::FindOpenFile(f->file), 64, &error);
        ASSERT_NE(m, nullptr);
        id = m->id;
        static_cast<char *>(norva_sim::DeviceMemoryHost(*m))[3] = 'k';
    }
    char *p = static_cast<char *>(SYS_IO_MemMap2(f, 64, PROT_READ, MAP_SHARED, id));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p[3], 'k');
    EXPECT_EQ(SYS_IO_MemUnmap(f, p, 64), 0);

    norva_sim::FailNthMapping(1, ENOMEM);
    EXPECT_EQ(SYS_IO_MemMap2(f, 64, PROT_READ, MAP_SHARED, id), nullptr);
    EXPECT_EQ(SYS_IO_MemMap2(f, 64, PROT_READ, MAP_SHARED, id + 100), nullptr);
    EXPECT_EQ(SYS_IO_Close(f), 0);
}

TEST_F(SysUserIo, FailedCloseKeepsTheRecord) {
    SYS_FILE *f = SYS_IO_Open("/dev/qornorva0", O_RDWR, 0);
    ASSERT_NE(f, nullptr);
    norva_sim::FailNextClose(EIO);
    EXPECT_EQ(SYS_IO_Close(f), -1);
    std::free(f); // still ours after a failed close
}

} // namespace
