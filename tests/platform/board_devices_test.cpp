#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "platform/sim_board.h"
#include "support/sim_fixture.h"

namespace {

using norva_sim::I2cFault;

void *slave(uintptr_t address) { return reinterpret_cast<void *>(address); }

class BoardDevices : public norva_test::SimTest {
protected:
    void SetUp() override {
        SimTest::SetUp();
        norva_sim::SetVirtualClock(true);
    }
    void TearDown() override {
        EXPECT_EQ(norva_sim::GpioOpenChips(), 0);
        EXPECT_EQ(norva_sim::I2cOpenDescriptors(), 0);
        EXPECT_EQ(norva_sim::PhyOpenDescriptors(), 0);
        SimTest::TearDown();
    }
};

TEST_F(BoardDevices, GpioLinesAndEventLog) {
    SEAM_GPIO_CHIP *chip = SEAM_GpioChipOpenByName("gpiochip0");
    ASSERT_NE(chip, nullptr);
    SEAM_GPIO_LINE *line = SEAM_GpioChipGetLine(chip, 11);
    ASSERT_NE(line, nullptr);
    EXPECT_EQ(norva_sim::GpioLevel(0, 11), -1);
    EXPECT_EQ(SEAM_GpioLineSetValue(line, 1), -1) << "a line must be requested before it is driven";
    EXPECT_EQ(SEAM_GpioLineRequestOutput(line, "Sensor", 0), 0);
    EXPECT_EQ(SEAM_GpioLineRequestOutput(line, "Sensor", 0), -1) << "requested twice";
    SEAM_Usleep(1000);
    EXPECT_EQ(SEAM_GpioLineSetValue(line, 5), 0);
    EXPECT_EQ(norva_sim::GpioLevel(0, 11), 1) << "non-zero drives high";
    EXPECT_EQ(SEAM_GpioChipOpenByName("gpiochip8"), nullptr);
    norva_sim::SetGpioChipAbsent(3, true);
    EXPECT_EQ(SEAM_GpioChipOpenByName("gpiochip3"), nullptr);
    norva_sim::InjectGpioFault(0, 12, norva_sim::GpioFault::GetLine);
    EXPECT_EQ(SEAM_GpioChipGetLine(chip, 12), nullptr);
    SEAM_GpioChipClose(chip);
    EXPECT_EQ(norva_sim::GpioLevel(0, 11), 1) << "a released line keeps its level";
    const std::vector<std::string> expected = {
        "open gpiochip0", "set 11=1 failed", "request 11 out \"Sensor\" =0", "request 11 out \"Sensor\" =0 failed",
        "sleep 1000",     "set 11=1",        "open gpiochip8 failed",        "open gpiochip3 failed",
        "line 12 failed", "close gpiochip0"};
    EXPECT_EQ(norva_sim::BoardEvents(), expected);
}

// Without a kernel GPIO device the hardware table cannot open a chip; it must say so, not crash.
TEST_F(BoardDevices, HardwareGpioFailsCleanlyWithoutDevice) {
    EXPECT_EQ(SEAM_HardwareOps()->gpio_chip_open_by_name("gpiochip0"), nullptr);
    SEAM_HardwareOps()->gpio_chip_close(nullptr);
}

TEST_F(BoardDevices, I2cRegistersAutoIncrementAndFaults) {
    auto device = std::make_shared<norva_sim::I2cRegisterDevice>(2);
    norva_sim::AttachI2cDevice(1, 0x36, device);
    const int fd = SEAM_Open("/dev/i2c-1", O_RDWR, 0);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(SEAM_Ioctl(fd, 0x703, slave(0x36)), 0);
    const uint8_t w1[] = {0x30, 0x0A, 0x46}, w2[] = {0x30, 0x0B, 0x88}, addr[] = {0x30, 0x0A};
    EXPECT_EQ(SEAM_Write(fd, w1, 3), 3);
    EXPECT_EQ(SEAM_Write(fd, w2, 3), 3);
    EXPECT_EQ(SEAM_Write(fd, addr, 2), 2);
    uint8_t id[2] = {};
    EXPECT_EQ(SEAM_Read(fd, id, 2), 2);
    EXPECT_EQ((id[0] << 8) | id[1], 0x4688);
    const uint8_t burst[] = {0x01, 0x00, 0xAA, 0xBB};
    EXPECT_EQ(SEAM_Write(fd, burst, 4), 4);
    EXPECT_EQ(device->readRegister(0x0101), 0xBB) << "a longer write goes on at the next register";

    struct FaultCase {
        const char *name;
        I2cFault fault;
        long expected; /* of the faulty operation */
    };
    const FaultCase faults[] = {{"ioctl", I2cFault::FailIoctl, -EIO},
                                {"short write", I2cFault::ShortWrite, 2},
                                {"short read", I2cFault::ShortRead, 1}};
    for (const FaultCase &c : faults) {
        SCOPED_TRACE(c.name);
        norva_sim::InjectI2cFault(1, c.fault);
        long got = 0;
        if (c.fault == I2cFault::FailIoctl)
            got = SEAM_Ioctl(fd, 0x703, slave(0x36));
        else if (c.fault == I2cFault::ShortWrite)
            got = SEAM_Write(fd, w1, 3);
        else
            got = SEAM_Read(fd, id, 2);
        EXPECT_EQ(got, c.expected);
        // Once only.
        EXPECT_EQ(SEAM_Ioctl(fd, 0x703, slave(0x36)), 0);
        EXPECT_EQ(SEAM_Write(fd, w1, 3), 3);
    }
    EXPECT_EQ(SEAM_Ioctl(fd, 0x703, slave(0x10)), 0) << "any address is accepted";
    errno = 0;
    EXPECT_EQ(SEAM_Write(fd, addr, 2), -1) << "nobody answers at 0x10";
    EXPECT_EQ(errno, ENXIO);
    EXPECT_EQ(SEAM_Read(fd, id, 2), -1);

    // A write longer than a register write is logged in full, as an event and as a transaction.
    std::vector<uint8_t> table(100);
    for (size_t i = 0; i < table.size(); i++)
        table[i] = static_cast<uint8_t>(i);
    EXPECT_EQ(SEAM_Ioctl(fd, 0x703, slave(0x36)), 0);
    norva_sim::ClearBoardEvents();
    EXPECT_EQ(SEAM_Write(fd, table.data(), table.size()), static_cast<ssize_t>(table.size()));
    const std::vector<std::string> events = norva_sim::BoardEvents();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].size(), 5u + 3u * table.size());
    EXPECT_EQ(events[0].substr(0, 15), "write 00 01 02 ");
    EXPECT_EQ(events[0].substr(events[0].size() - 6), " 62 63");
    EXPECT_EQ(norva_sim::I2cLog().back().bytes, table);
    EXPECT_EQ(SEAM_Ioctl(fd, 0x703, slave(0x10)), 0);

    const std::vector<norva_sim::I2cTransaction> log = norva_sim::I2cLog();
    ASSERT_GE(log.size(), 4u);
    EXPECT_EQ(log[0].kind, 'a');
    EXPECT_EQ(log[1].kind, 'w');
    EXPECT_EQ(log[1].bytes, (std::vector<uint8_t>{0x30, 0x0A, 0x46}));
    EXPECT_EQ(log[4].kind, 'r');
    EXPECT_EQ(log[4].bytes, (std::vector<uint8_t>{0x46, 0x88}));
    EXPECT_EQ(SEAM_Close(fd), 0);

    norva_sim::SetI2cBusAbsent(2, true);
    EXPECT_EQ(SEAM_Open("/dev/i2c-2", O_RDWR, 0), -1);
}

TEST_F(BoardDevices, PhyRecordsAndState) {
    const int fd = SEAM_Open("/dev/sensor_phy1", O_RDWR, 0);
    ASSERT_GE(fd, 0);
    uint8_t record[32] = {};
    record[0] = 8; // MIPI
    record[4] = 1; // enable
    record[7] = 2; // lanes
    record[8] = 0x0A;
    record[10] = 0x34;
    record[11] = 0x12;
    EXPECT_EQ(SEAM_Ioctl(fd, norva_sim::kPhyConfigure, record), 0);
    const norva_sim::PhyState s = norva_sim::GetPhyState(1);
    EXPECT_TRUE(s.enabled);
    EXPECT_EQ(s.lanes, 2);
    EXPECT_EQ(s.hsFreqRange, 0x0A);
    EXPECT_EQ(s.oscFreq, 0x1234);
    EXPECT_EQ(SEAM_Ioctl(fd, 0x8020F001ul, record), -ENOTTY);
    norva_sim::FailNextPhyIoctl(1);
    EXPECT_EQ(SEAM_Ioctl(fd, norva_sim::kPhyReset, record), -EIO);
    const std::vector<norva_sim::PhyRecord> log = norva_sim::PhyLog();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].request, norva_sim::kPhyConfigure);
    EXPECT_EQ(0, std::memcmp(log[0].record, record, 32));
    EXPECT_EQ(SEAM_Close(fd), 0);
    norva_sim::SetPhyAbsent(0, true);
    EXPECT_EQ(SEAM_Open("/dev/sensor_phy0", O_RDWR, 0), -1);
    EXPECT_EQ(SEAM_Open("/dev/sensor_phy4", O_RDWR, 0), -1);
}

TEST_F(BoardDevices, PlatformFilesUnderTheRoot) {
    const std::string root = testing::TempDir() + "board_root";
    ::mkdir(root.c_str(), 0755);
    ::mkdir((root + "/proc").c_str(), 0755);
    ::mkdir((root + "/proc/device-tree").c_str(), 0755);
    std::ofstream(root + "/proc/device-tree/model", std::ios::binary).write("simboard\0", 9);
    norva_sim::SetPlatformRoot(root);
    FILE *f = SEAM_Fopen("/proc/device-tree/model", "r");
    ASSERT_NE(f, nullptr);
    char text[16] = {};
    ASSERT_NE(std::fgets(text, sizeof text, f), nullptr);
    std::fclose(f);
    EXPECT_STREQ(text, "simboard");
    const std::string other = testing::TempDir() + "board_other.txt";
    std::ofstream(other) << "x";
    f = SEAM_Fopen(other.c_str(), "r");
    ASSERT_NE(f, nullptr) << "paths outside the platform are used as they are";
    std::fclose(f);
}

} // namespace
