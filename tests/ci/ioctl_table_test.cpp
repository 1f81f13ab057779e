#include <gtest/gtest.h>

#include <linux/ioctl.h>

#include "ci/ci_ioctrl.h"

namespace {

// The driver's direction bits are reversed: a command that reads from the driver carries _IOC_WRITE, one that
// writes to it _IOC_READ, one that does both carries both.
enum Kind { Get, Set, InOut };
enum Arg { Ptr, Int };

struct Row {
    unsigned nr;
    Kind kind;
    Arg arg;
    unsigned long value; // as the protocol lists it
};

const Row kRows[] = {
    {CI_INFO_GET, Get, Ptr, 0x40082100},
    {CI_LINESTORE_GET, Get, Ptr, 0x40082101},
    {CI_LINESTORE_SET, Set, Ptr, 0x80082102},
    {CI_GMALUT_GET, Get, Ptr, 0x40082103},
    {CI_GMALUT_SET, Set, Ptr, 0x80082104},
    {CI_TIMEST_GET, Get, Ptr, 0x40082105},
    {CI_SYSTIME_GET, Get, Ptr, 0x40082106},
    {CI_DPFINT_GET, Get, Ptr, 0x40082107},
    {CI_RTM_GET, Get, Ptr, 0x40082108},
    {CI_RESET, Set, Int, 0x80042109},
    {CI_PIPELINE_REGISTER, Set, Ptr, 0x8008210a},
    {CI_PIPELINE_DEREGISTER, Set, Int, 0x8004210b},
    {CI_CONFIG_ADDPOOL, InOut, Ptr, 0xc008210c},
    {CI_CONFIG_DELPOOL, Set, Int, 0x8004210d},
    {CI_CONFIG_UPDATE, Set, Ptr, 0x8008210e},
    {CI_CREATE_BUFF, InOut, Ptr, 0xc008210f},
    {CI_DEREGISTER_BUFF, Set, Ptr, 0x80082110},
    {CI_PIPELINE_GET_LSH, Set, Ptr, 0x80082111},
    {CI_PIPELINE_SET_LSH, Set, Ptr, 0x80082112},
    {CI_PIPELINE_CHANGE_LSH, Set, Ptr, 0x80082113},
    {CI_CAPTURE_START, Set, Int, 0x80042114},
    {CI_CAPTURE_STOP, Set, Int, 0x80042115},
    {CI_CAPTURE_TRIGGER, Set, Ptr, 0x80082116},
    {CI_CAPTURE_ACQUIRE, InOut, Ptr, 0xc0082117},
    {CI_CAPTURE_RELEASE, Set, Ptr, 0x80082118},
    {CI_CAPTURE_ISSTARTED, Set, Int, 0x80042119},
    {CI_CAPTURE_HASWAITING, Set, Int, 0x8004211a},
    {CI_CAPTURE_HASAVAILABLE, InOut, Ptr, 0xc008211b},
    {CI_CAPTURE_HASPENDING, Set, Int, 0x8004211c},
    {CI_GASKET_ACQUIRE, Set, Ptr, 0x8008211d},
    {CI_GASKET_RELEASE, Set, Int, 0x8004211e},
    {CI_GASKET_GETINFO, InOut, Ptr, 0xc008211f},
    {CI_IIFDG_REGISTER, Set, Int, 0x80042120},
    {CI_IIFDG_START, Set, Ptr, 0x80082121},
    {CI_IIFDG_ISSTARTED, Set, Int, 0x80042122},
    {CI_IIFDG_STOP, Set, Int, 0x80042123},
    {CI_IIFDG_ALLOCATE, InOut, Ptr, 0xc0082124},
    {CI_IIFDG_ACQUIRE, InOut, Ptr, 0xc0082125},
    {CI_IIFDG_RELEASE, Set, Ptr, 0x80082126},
    {CI_IIFDG_WAITPROCESSED, Set, Ptr, 0x80082127},
    {CI_IIFDG_FREE, Set, Ptr, 0x80082128},
    {CI_DEBUG_REG, InOut, Ptr, 0xc0082129},
};

TEST(IoctlTable, EveryValueFollowsTheEncodingRule) {
    ASSERT_EQ(sizeof(kRows) / sizeof(kRows[0]), static_cast<size_t>(CI_IOCTL_N));
    EXPECT_EQ(CI_IOCTL_N, 42);
    for (unsigned i = 0; i < CI_IOCTL_N; ++i) {
        const Row &r = kRows[i];
        SCOPED_TRACE(r.nr);
        ASSERT_EQ(r.nr, i);
        const unsigned dir = r.kind == Get ? _IOC_WRITE : r.kind == Set ? _IOC_READ : (_IOC_READ | _IOC_WRITE);
        const unsigned size = r.arg == Ptr ? sizeof(void *) : sizeof(int);
        const unsigned long encoded = _IOC(dir, CI_IOCTL_TYPE, r.nr, size);
        EXPECT_EQ(encoded, r.value);
        EXPECT_EQ(static_cast<unsigned long>(CI_IOCTL_REQUEST[i]), encoded);
        EXPECT_EQ(CI_IOCTL_CMD(i), encoded);
        EXPECT_EQ(_IOC_NR(CI_IOCTL_REQUEST[i]), i);
        EXPECT_EQ(_IOC_TYPE(CI_IOCTL_REQUEST[i]), static_cast<unsigned>('!'));
    }
}

} // namespace
