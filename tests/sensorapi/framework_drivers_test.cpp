// The drivers built on the framework beside the OV4689 (OmniVision, Sony and GalaxyCore), each against its register
// model on the simulated board: creation by registry name on its slot and PHY, the mode tables, the exposure and gain bytes
// decoded back by the model, streaming, and bad input.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ci/ci_api.h"
#include "platform/sim_board.h"
#include "platform/sim_sensor_models.h"
#include "sensorapi/sensorapi.h"
#include "sensors/imx327.h"
#include "sensors/imx335.h"
#include "sensors/imx415.h"
#include "sensors/imx662.h"
#include "support/board_fixture.h"

namespace {

using norva_test::contains;
using norva_test::HexOf;
using norva_test::logOf;

/** The register writes on the bus since the log was cleared, one "AA AA VV" per entry. */
std::vector<std::string> writes() {
    std::vector<std::string> out;
    for (const norva_sim::I2cTransaction &t : norva_sim::I2cLog()) {
        if (t.kind == 'w' && t.bytes.size() >= 2 && t.bytes.size() <= 3)
            out.push_back(HexOf(t.bytes));
    }
    return out;
}

/** Index of the first of `seq` found in order (contiguous) in `all`, or -1. */
long findRun(const std::vector<std::string> &all, const std::vector<std::string> &seq) {
    for (size_t i = 0; i + seq.size() <= all.size(); i++) {
        if (std::equal(seq.begin(), seq.end(), all.begin() + static_cast<long>(i)))
            return static_cast<long>(i);
    }
    return -1;
}

using Attach = std::shared_ptr<norva_sim::RegisterSensorModel> (*)(norva_sim::SensorWiring);

/** Which board clocks a driver's modes accept. */
enum class ClockRule {
    TableClock, /* exactly the clock of the mode's table */
    Up27MHz,    /* 20 to 27 MHz */
    Up30MHz,    /* 20 to 30 MHz */
};

/** A registry name and where its sensor sits. */
struct Entry {
    const char *name;
    unsigned slot; /* board slot (and bus, lines) */
    unsigned phy;  /* PHY device and imager port */
    Attach attach;
    uint8_t address;
    uint16_t idRegister;
    const char *clockMHz; /* the clock of its tables */
    MOSAICType bayer;     /* reported unflipped */
    unsigned addressWidth = 2;
    ClockRule clocks = ClockRule::TableClock;
};

const std::vector<Entry> &entries() {
    static const std::vector<Entry> e = {
        {"OV5647_0", 0, 0, norva_sim::AttachOv5647, 0x36, 0x300A, "24.0", MOSAIC_BGGR},
        {"OV5647_1", 1, 1, norva_sim::AttachOv5647, 0x36, 0x300A, "24.0", MOSAIC_BGGR},
        {"OV10823_0", 0, 0, norva_sim::AttachOv10823, 0x10, 0x300A, "27.0", MOSAIC_BGGR, 2, ClockRule::Up27MHz},
        {"OV10823_1", 1, 1, norva_sim::AttachOv10823, 0x10, 0x300A, "27.0", MOSAIC_BGGR, 2, ClockRule::Up27MHz},
        {"OV5695_0", 0, 0, norva_sim::AttachOv5695, 0x36, 0x300B, "24.0", MOSAIC_BGGR},
        {"OV5695_1", 1, 1, norva_sim::AttachOv5695, 0x36, 0x300B, "24.0", MOSAIC_BGGR},
        {"OV5695_2", 2, 1, norva_sim::AttachOv5695, 0x36, 0x300B, "24.0", MOSAIC_BGGR},
        {"IMX219_0", 0, 0, norva_sim::AttachImx219, 0x10, 0x0000, "24.0", MOSAIC_RGGB},
        {"IMX219_1", 1, 1, norva_sim::AttachImx219, 0x10, 0x0000, "24.0", MOSAIC_RGGB},
        {"IMX477_0", 0, 0, norva_sim::AttachImx477, 0x1A, 0x0016, "24.0", MOSAIC_RGGB},
        {"IMX477_1", 1, 1, norva_sim::AttachImx477, 0x1A, 0x0016, "24.0", MOSAIC_RGGB},
        {"GC5035", 0, 0, norva_sim::AttachGc5035, 0x37, 0x00F0, "24.0", MOSAIC_RGGB, 1},
        {"OV2718_0", 0, 0, norva_sim::AttachOv2718, 0x36, 0x300A, "24.0", MOSAIC_BGGR, 2, ClockRule::Up30MHz},
        {"OV2718_1", 1, 1, norva_sim::AttachOv2718, 0x36, 0x300A, "24.0", MOSAIC_BGGR, 2, ClockRule::Up30MHz},
        {"IMX415", 0, 0, norva_sim::AttachImx415, 0x1A, 0x3064, "27.0", MOSAIC_GBRG},
        {"IMX335", 0, 0, norva_sim::AttachImx335, 0x1A, 0x306C, "27.0", MOSAIC_RGGB},
        {"IMX327", 0, 0, norva_sim::AttachImx327, 0x1A, 0x301E, "37.125", MOSAIC_RGGB},
        {"IMX662", 0, 0, norva_sim::AttachImx662, 0x1A, 0x3060, "24.0", MOSAIC_RGGB},
        {"GC8034", 1, 1, norva_sim::AttachGc8034, 0x37, 0x00F0, "24.0", MOSAIC_RGGB, 1},
    };

    return e;
}

const Entry &entry(const std::string &name) {
    for (const Entry &e : entries())
        if (name == e.name)
            return e;
    throw std::runtime_error("no entry " + name);
}

QOR_UINT16 idOf(const char *name) {
    const char **names = Sensor_ListAll();
    for (QOR_UINT16 i = 0; names[i] != nullptr; i++)
        if (std::strcmp(names[i], name) == 0)
            return i;
    ADD_FAILURE() << "not in the registry: " << name;
    return 0;
}

class FrameworkDrivers : public norva_test::BoardTest {
public:
    void TearDown() override {
        release();
        BoardTest::TearDown();
    }
    void release() {
        if (handle_ != nullptr) {
            EXPECT_EQ(Sensor_Destroy(handle_), QOR_RES_OK);
        }
        handle_ = nullptr;
        if (conn_ != nullptr) {
            EXPECT_EQ(CI_DriverFinalise(conn_), QOR_RES_OK);
        }
        conn_ = nullptr;
        EXPECT_EQ(norva_sim::GpioOpenChips(), 0);
        EXPECT_EQ(norva_sim::I2cOpenDescriptors(), 0);
        EXPECT_EQ(norva_sim::PhyOpenDescriptors(), 0);
        model_.reset();
    }
    /** A fresh board with the board file at the clock given and the sensor of the entry on its slot. */
    void Wire(const Entry &e, const std::string &clockMHz = "") {
        release();
        norva_sim::ResetBoard();
        UseBoardIspDescription();
        norva_sim::SetVirtualClock(true);
        board_ = norva_test::BoardWiring{};
        board_.slots.push_back(norva_test::SlotWiring{3, 0, 14, 0, 15}); // the third slot shares port and PHY 1
        board_.clockMHz = clockMHz.empty() ? e.clockMHz : clockMHz;
        WriteBoard(board_);
        const norva_test::SlotWiring &s = board_.slots[e.slot];
        norva_sim::SensorWiring w;
        w.bus = s.bus;
        w.pwdnChip = s.pwdnChip;
        w.pwdnLine = s.pwdnLine;
        w.pwdnActive = static_cast<int>(board_.pwdnValue);
        w.resetChip = s.resetChip;
        w.resetLine = s.resetLine;
        w.clockMHz = std::stod(board_.clockMHz);
        w.port = e.phy;
        model_ = e.attach(w);
    }
    void Create(const Entry &e) {
        ASSERT_EQ(Sensor_Initialise(idOf(e.name), &handle_), QOR_RES_OK);
        ASSERT_EQ(CI_DriverInit(&conn_), QOR_RES_OK);
        ASSERT_EQ(Sensor_SetPhyConnection(handle_, conn_), QOR_RES_OK);
    }
    void Start(const Entry &e, QOR_UINT16 mode, QOR_UINT8 flip = SENSOR_FLIP_NONE) {
        Wire(e);
        Create(e);
        ASSERT_EQ(Sensor_SetMode(handle_, mode, flip), QOR_RES_OK);
        ASSERT_EQ(Sensor_Enable(handle_), QOR_RES_OK);
    }

    norva_test::BoardWiring board_;
    std::shared_ptr<norva_sim::RegisterSensorModel> model_;
    SENSOR_HANDLE handle_ = nullptr;
    CI_CONNECTION *conn_ = nullptr;
};

TEST_F(FrameworkDrivers, CreatedByEveryRegistryNameOnItsSlotAndPhy) {
    for (const Entry &e : entries()) {
        SCOPED_TRACE(e.name);
        Wire(e);
        norva_sim::ClearBoardEvents();
        Create(e);
        const std::vector<std::string> events = norva_sim::BoardEvents();
        ASSERT_FALSE(events.empty());
        EXPECT_EQ(events.front(), "open /dev/sensor_phy" + std::to_string(e.phy));
        EXPECT_NE(std::find(events.begin(), events.end(), "open /dev/i2c-" + std::to_string(board_.slots[e.slot].bus)),
                  events.end());
        char slave[16];
        std::snprintf(slave, sizeof slave, "I2C_SLAVE 0x%x", e.address);
        EXPECT_NE(std::find(events.begin(), events.end(), slave), events.end());
        EXPECT_TRUE(model_->state().powered);
        SENSOR_INFO info;
        ASSERT_EQ(Sensor_GetInfo(handle_, &info), QOR_RES_OK);
        EXPECT_STREQ(info.pszSensorName, e.name);
        EXPECT_EQ(info.ui8Imager, e.phy);
        EXPECT_EQ(info.eBayerOriginal, e.bayer);
        char version[16];
        std::snprintf(version, sizeof version, "0x%x",
                      (model_->peek(e.idRegister) << 8) | model_->peek(static_cast<uint16_t>(e.idRegister + 1)));
        EXPECT_STREQ(info.pszSensorVersion, version);
    }
}

TEST_F(FrameworkDrivers, WrongChipOrNoBoardFileLeavesNothingOpen) {
    for (const Entry &e : entries()) {
        for (const bool noBoardFile : {false, true}) {
            SCOPED_TRACE(std::string(e.name) + (noBoardFile ? " without a board file" : " wrong identifier"));
            Wire(e);
            if (noBoardFile) {
                WriteHomeBoard("# empty\n");
            } else {
                auto other = std::make_shared<norva_sim::I2cRegisterDevice>(e.addressWidth);
                other->writeRegister(e.idRegister, 0x12);
                norva_sim::AttachI2cDevice(board_.slots[e.slot].bus, e.address, other);
            }
            SENSOR_HANDLE h = nullptr;
            logOf([&] { EXPECT_EQ(Sensor_Initialise(idOf(e.name), &h), QOR_RES_DEVICE_FAILED); });
            EXPECT_EQ(h, nullptr);
            EXPECT_EQ(norva_sim::GpioOpenChips(), 0);
            EXPECT_EQ(norva_sim::I2cOpenDescriptors(), 0);
            EXPECT_EQ(norva_sim::PhyOpenDescriptors(), 0);
            // The chips are closed without driving the lines: a sensor that was powered up stays so.
            EXPECT_EQ(model_->state().powered, !noBoardFile);
        }
    }
}

/** One row of a driver's mode table as the sensor's documentation gives it. */
struct ModeRow {
    const char *name;
    QOR_UINT16 mode;
    unsigned width, height, hts, vts;
    double trow, fps;
    QOR_UINT32 expMin, expMax;
    unsigned lanes, bits;
    QOR_UINT8 phyCode;
    double pixelRate;
    const char *clockMHz = nullptr; /* the clock of the mode's table; null: the driver's */
    HDR_MODES hdr = HDR_NONE;
    CG_MODES cg = CG_NONE;
};

bool ValidAt(const Entry &e, const ModeRow &r, const std::string &clock) {
    const double mhz = std::stod(clock);
    switch (e.clocks) {
    case ClockRule::Up27MHz:
        return mhz >= 20.0 && mhz <= 27.0;
    case ClockRule::Up30MHz:
        return mhz >= 20.0 && mhz <= 30.0;
    default:
        return clock == (r.clockMHz != nullptr ? r.clockMHz : e.clockMHz);
    }
}

TEST_F(FrameworkDrivers, ModesMatchTheirTablesAndClocks) {
    const std::vector<ModeRow> rows = {
        {"OV5647_0", 0x00, 1920, 1080, 2416, 1104, 30.816, 29.39, 31, 31 * 1968, 2, 10, 0x16, 156.8},
        {"OV5647_0", 0x01, 2592, 1944, 2844, 1968, 36.276, 14.01, 37, 37 * 1968, 2, 10, 0x16, 156.8},
        {"OV10823_0", 0x00, 4336, 2440, 5504, 2528, 13.237, 29.88, 27, 28311525, 4, 10, 0x19, 415.80},
        {"OV10823_0", 0x01, 3840, 2160, 5504, 2528, 13.237, 29.88, 27, 28311525, 4, 10, 0x19, 415.80},
        {"OV10823_0", 0x02, 2168, 1220, 5504, 1264, 13.237, 59.77, 27, 28311525, 4, 10, 0x19, 415.80},
        {"OV10823_0", 0x03, 1920, 1080, 5504, 1264, 13.237, 59.77, 27, 28311525, 4, 10, 0x19, 415.80},
        {"OV5695_0", 0x00, 2592, 1944, 740, 2024, 16.444, 30.04, 66, 32320, 2, 10, 0x19, 84.0},
        {"OV5695_0", 0x01, 1920, 1080, 672, 2232, 14.933, 30.00, 60, 31192, 2, 10, 0x19, 84.0},
        {"OV5695_0", 0x02, 720, 1600, 740, 2024, 16.444, 30.04, 66, 32320, 2, 10, 0x19, 84.0},
        {"OV5695_0", 0x03, 1296, 972, 672, 2232, 14.933, 30.00, 60, 31192, 2, 10, 0x19, 84.0},
        {"IMX219_0", 0x00, 3280, 2464, 3448, 2500, 18.904, 21.16, 19, 47183, 2, 10, 0x28, 182.4e6},
        {"IMX219_0", 0x01, 3280, 2464, 3448, 2544, 12.982, 30.28, 13, 32974, 4, 10, 0x1A, 265.6e6},
        {"IMX219_0", 0x02, 1920, 1080, 3448, 1766, 18.904, 29.95, 19, 33307, 2, 10, 0x28, 182.4e6},
        {"IMX219_0", 0x03, 1920, 1080, 3448, 1263, 13.140, 60.26, 14, 16543, 2, 10, 0x28, 262.4e6},
        {"IMX219_0", 0x04, 1920, 1080, 3448, 1766, 18.904, 29.95, 19, 33307, 2, 10, 0x28, 182.4e6},
        {"IMX219_0", 0x05, 1920, 1080, 3448, 1263, 13.140, 60.26, 14, 16543, 2, 10, 0x28, 262.4e6},
        {"IMX219_0", 0x06, 3280, 2464, 3448, 2500, 18.904, 21.16, 19, 47183, 2, 10, 0x28, 182.4e6},
        {"IMX477_0", 0x00, 3840, 2160, 5832, 4800, 6.943, 30.01, 28, 33172, 4, 10, 0x1C, 840.0},
        {"IMX477_0", 0x01, 1920, 1080, 3076, 4550, 3.662, 60.02, 15, 16581, 4, 10, 0x1C, 840.0},
        {"IMX477_0", 0x02, 4056, 3040, 24000, 3500, 28.571, 10.00, 115, 99371, 2, 12, 0x29, 840.0},
        {"IMX477_0", 0x03, 3840, 2160, 11200, 2500, 13.333, 30.00, 54, 33040, 2, 10, 0x1C, 840.0},
        {"IMX477_0", 0x04, 1920, 1080, 7000, 2000, 8.333, 60.00, 34, 16483, 2, 10, 0x1C, 840.0},
        {"IMX477_0", 0x05, 1920, 1080, 12740, 2198, 15.167, 30.00, 61, 33002, 4, 12, 0x29, 840.0},
        {"IMX477_0", 0x06, 1920, 1080, 12740, 2198, 15.167, 30.00, 61, 33002, 2, 12, 0x29, 840.0},
        {"IMX477_0", 0x07, 1920, 1080, 6370, 2198, 7.583, 59.99, 31, 16501, 4, 12, 0x29, 840.0},
        {"IMX477_0", 0x08, 3840, 2160, 10000, 3500, 11.905, 24.00, 48, 41404, 4, 10, 0x29, 840.0},
        {"IMX477_0", 0x09, 1920, 1080, 12740, 2198, 15.167, 30.00, 61, 33002, 2, 12, 0x29, 840.0},
        {"IMX477_0", 0x0A, 4056, 3040, 24000, 3500, 28.571, 10.00, 115, 99371, 2, 12, 0x29, 840.0},
        {"IMX477_0", 0x0B, 1920, 1080, 6370, 2198, 7.583, 59.99, 31, 16501, 4, 12, 0x29, 840.0},
        {"IMX477_0", 0x0C, 3840, 2160, 10000, 3500, 11.905, 24.00, 48, 41404, 4, 10, 0x29, 840.0},
        {"GC5035", 0x00, 2592, 1944, 2920, 2000, 8.333, 30.00, 34, 16633, 2, 10, 0x19, 175.2},
        {"OV2718_0", 0x00, 1920, 1080, 2200, 1125, 29.333, 30.30, 30, 32941, 4, 12, 0x0A, 75e6},
        {"OV2718_0", 0x01, 1280, 720, 2200, 1125, 29.333, 30.30, 30, 32941, 4, 12, 0x0A, 75e6},
        {"OV2718_0", 0x02, 1936, 1096, 2200, 1125, 29.333, 30.30, 30, 32941, 4, 12, 0x0A, 75e6},
        {"OV2718_0", 0x03, 1936, 1096, 2200, 1125, 29.333, 30.30, 30, 32941, 4, 12, 0x0A, 75e6},
        {"OV2718_0", 0x10, 1920, 1080, 3550, 1126, 47.333, 18.763, 48, 53202, 4, 12, 0x0A, 75e6, nullptr,
         HDR_STAGGERED},
        {"OV2718_0", 0x11, 1280, 720, 3550, 1126, 47.333, 18.763, 48, 53202, 4, 12, 0x0A, 75e6, nullptr, HDR_STAGGERED},
        {"IMX415", 0x00, 3864, 2192, 1100, 2250, 14.815, 30.00, 60, 1000000, 4, 12, 0x29, 74.25},
        {"IMX415", 0x01, 3864, 2192, 650, 2250, 8.754, 50.77, 36, 1000000, 4, 12, 0x3E, 74.25},
        {"IMX415", 0x02, 3864, 2192, 550, 2250, 7.407, 60.00, 30, 1000000, 4, 12, 0x3E, 74.25},
        {"IMX415", 0x03, 3864, 2192, 366, 2250, 4.929, 90.16, 20, 1000000, 4, 10, 0x47, 74.25},
        {"IMX415", 0x04, 3864, 2192, 1100, 2250, 14.815, 30.00, 60, 1000000, 4, 12, 0x29, 74.25, "37.125"},
        {"IMX415", 0x05, 3864, 2192, 550, 2250, 7.407, 60.00, 30, 1000000, 4, 12, 0x3E, 74.25, "37.125"},
        {"IMX415", 0x06, 3864, 2192, 2200, 2250, 29.630, 15.00, 119, 1000000, 2, 12, 0x29, 74.25, "37.125"},
        {"IMX415", 0x07, 3864, 2192, 688, 2250, 9.266, 47.97, 38, 1000000, 4, 12, 0x3E, 74.25, "37.125"},
        {"IMX415", 0x08, 3072, 2192, 550, 2250, 7.407, 60.00, 30, 1000000, 4, 12, 0x3E, 74.25, "37.125"},
        {"IMX415", 0x09, 3072, 2192, 1100, 2250, 14.815, 30.00, 60, 1000000, 4, 12, 0x29, 74.25, "37.125"},
        {"IMX415", 0x0A, 3864, 2192, 1650, 2250, 22.222, 20.00, 89, 1000000, 4, 12, 0x07, 74.25, "37.125"},
        {"IMX415", 0x0B, 1932, 1096, 1100, 2250, 14.815, 30.00, 60, 1000000, 4, 12, 0x29, 74.25, "37.125"},
        {"IMX415", 0x0C, 3864, 2192, 550, 2250, 7.407, 60.00, 30, 1000000, 4, 12, 0x3E, 74.25, "74.25"},
        {"IMX415", 0x0D, 3864, 2192, 1100, 2250, 14.815, 30.00, 60, 1000000, 2, 12, 0x3E, 74.25, "37.125"},
        {"IMX415", 0x0E, 3864, 2192, 1100, 2250, 14.815, 30.00, 60, 1000000, 4, 12, 0x3E, 74.25, "37.125"},
        {"IMX335", 0x00, 2592, 1944, 275, 4500, 7.407, 60.00, 8, 1000000, 4, 10, 0x3B, 37.125},
        {"IMX335", 0x01, 2592, 1944, 550, 4500, 14.815, 30.00, 15, 1000000, 4, 12, 0x19, 37.125},
        {"IMX335", 0x02, 2592, 1940, 550, 4500, 14.815, 30.00, 15, 1000000, 4, 12, 0x07, 37.125},
        {"IMX335", 0x03, 2592, 1944, 275, 4500, 7.407, 60.00, 8, 1000000, 4, 10, 0x3B, 37.125, "37.125"},
        {"IMX335", 0x04, 2592, 1944, 550, 4500, 14.815, 30.00, 15, 1000000, 2, 10, 0x3B, 37.125, "37.125"},
        {"IMX335", 0x05, 2592, 1944, 550, 4500, 14.815, 30.00, 15, 1000000, 2, 10, 0x3B, 37.125, "24.0"},
        {"IMX335", 0x06, 2592, 1944, 275, 4500, 7.407, 60.00, 8, 1000000, 4, 10, 0x3B, 37.125, "24.0"},
        {"IMX335", 0x07, 2592, 1944, 550, 4500, 14.815, 30.00, 15, 1000000, 4, 12, 0x19, 37.125, "24.0"},
        {"IMX335", 0x08, 2592, 1944, 412, 4500, 11.098, 40.05, 12, 1000000, 4, 10, 0x3B, 37.125, "24.0"},
        {"IMX335", 0x09, 2592, 1944, 3300, 4500, 88.889, 5.00, 89, 1000000, 4, 10, 0x3B, 37.125, "37.125"},
        {"IMX335", 0x0A, 2592, 1944, 550, 4500, 14.815, 30.00, 15, 1000000, 4, 12, 0x19, 37.125, "37.125"},
        {"IMX327", 0x00, 1920, 1080, 4400, 1125, 29.630, 30.00, 30, 1000000, 2, 12, 0x16, 74.25, nullptr, HDR_NONE,
         CG_HIGH},
        {"IMX327", 0x01, 1920, 1080, 2200, 1125, 14.815, 60.00, 15, 1000000, 4, 12, 0x16, 74.25, nullptr, HDR_NONE,
         CG_HIGH},
        {"IMX327", 0x02, 1920, 1080, 4400, 1125, 29.630, 30.00, 30, 1000000, 2, 12, 0x16, 74.25, nullptr, HDR_NONE,
         CG_LOW},
        {"IMX327", 0x03, 1920, 1080, 2200, 1125, 14.815, 60.00, 15, 1000000, 4, 12, 0x16, 74.25, nullptr, HDR_NONE,
         CG_LOW},
        {"IMX662", 0x00, 1936, 1100, 1980, 1250, 26.667, 30.00, 27, 1000000, 4, 12, 0x07, 74.25, nullptr, HDR_NONE,
         CG_LOW},
        {"IMX662", 0x01, 1936, 1100, 990, 1250, 13.333, 60.00, 14, 1000000, 4, 12, 0x07, 74.25, nullptr, HDR_NONE,
         CG_LOW},
        {"IMX662", 0x02, 1936, 1100, 660, 1250, 8.889, 90.00, 9, 1000000, 4, 10, 0x39, 74.25, nullptr, HDR_NONE,
         CG_LOW},
        {"IMX662", 0x03, 1936, 1100, 990, 2500, 13.333, 30.00, 14, 1000000, 4, 12, 0x07, 74.25, nullptr, HDR_STAGGERED,
         CG_LOW},
        {"IMX662", 0x04, 1936, 1100, 990, 1250, 13.333, 60.00, 14, 1000000, 4, 12, 0x07, 74.25, "37.125", HDR_NONE,
         CG_LOW},
        {"IMX662", 0x05, 1936, 1100, 990, 2500, 13.333, 30.00, 14, 1000000, 4, 12, 0x07, 74.25, "37.125", HDR_STAGGERED,
         CG_LOW},
        {"IMX662", 0x06, 1936, 1100, 990, 1250, 13.333, 60.00, 14, 1000000, 4, 12, 0x07, 74.25, "37.125", HDR_NONE,
         CG_HIGH},
        {"GC8034", 0x00, 3264, 2448, 4272, 2516, 13.35, 29.77, 54, 33535, 4, 10, 0x18, 80.0},
        {"GC8034", 0x10, 1632, 1224, 4272, 2516, 13.35, 14.89, 54, 33535, 2, 10, 0x18, 80.0},
    };
    for (const char *clock : {"24.0", "27.0", "28.0", "37.125", "74.25"}) {
        std::string wired;
        for (const ModeRow &r : rows) {
            SCOPED_TRACE(std::string(r.name) + " mode " + std::to_string(r.mode) + " at " + clock);
            const Entry &e = entry(r.name);
            if (wired != r.name) {
                Wire(e, clock);
                Create(e);
                wired = r.name;
            }
            SENSOR_MODE m{};
            ASSERT_EQ(Sensor_GetMode(handle_, r.mode, &m), QOR_RES_OK);
            EXPECT_EQ(m.bValidFrequency, ValidAt(e, r, clock));
            if (std::string(clock) != (r.clockMHz != nullptr ? r.clockMHz : e.clockMHz))
                continue;
            EXPECT_EQ(m.ui16Width, r.width);
            EXPECT_EQ(m.ui16Height, r.height);
            EXPECT_EQ(m.ui16HorizontalTotal, r.hts);
            EXPECT_EQ(m.ui16VerticalTotal, r.vts);
            EXPECT_NEAR(m.flTrow, r.trow, 0.001);
            EXPECT_NEAR(m.flFrameRate, r.fps, 0.005);
            EXPECT_EQ(m.ui32ExposureMin, r.expMin);
            EXPECT_EQ(m.ui32ExposureMax, r.expMax);
            EXPECT_EQ(m.ui8MipiLanes, r.lanes);
            EXPECT_EQ(m.ui8BitDepth, r.bits);
            EXPECT_EQ(m.ui8MipiHsFreqRange, r.phyCode);
            EXPECT_NEAR(m.flPixelRate, r.pixelRate, r.pixelRate * 1e-6);
            EXPECT_EQ(m.eHDRMode, r.hdr);
            EXPECT_EQ(m.bLongExpFirst, r.hdr == HDR_STAGGERED);
            EXPECT_EQ(m.eConvGainMode, r.cg);
        }
    }
}

/** Exposure and gain: the bytes on the bus and what the sensor makes of them. */
struct ExposureRow {
    const char *name;
    QOR_UINT16 mode;
    QOR_UINT32 exposure;
    double gain;
    std::vector<std::string> bytes; /* the run of writes expected */
    uint32_t lines;                 /* decoded by the model */
    double modelGain;
    double reportedGain;
};

/** Gains of 20 and 30 steps of 0.3 dB. */
const double kDb20 = std::pow(10.0, 20 * 0.3 / 20);
const double kDb30 = std::pow(10.0, 30 * 0.3 / 20);

TEST_F(FrameworkDrivers, ExposureAndGainBytesDecodeBack) {
    const std::vector<ExposureRow> rows = {
        {"OV5647_0",
         0x00,
         10000,
         3.0,
         {"35 03 03", "35 0A 00", "35 0B 30", "35 00 00", "35 01 14", "35 02 50"},
         325,
         3.0,
         3.0},
        {"OV10823_0",
         0x00,
         10000,
         2.5,
         {"32 08 01", "35 0A 00", "35 0B 28", "32 08 11", "32 0B 00", "32 08 E1", "32 08 02", "35 00 00", "35 01 2F",
          "35 02 30", "38 0E 09", "38 0F E0", "32 08 12", "32 0B 00", "32 08 E2"},
         755,
         2.5,
         2.5},
        // Longer than the frame: the frame grows to the exposure and four lines.
        {"OV10823_0",
         0x00,
         40000,
         1.0,
         {"32 08 01", "35 0A 00", "35 0B 10", "32 08 11", "32 0B 00", "32 08 E1", "32 08 02", "35 00 00", "35 01 BC",
          "35 02 E0", "38 0E 0B", "38 0F D2", "32 08 12", "32 0B 00", "32 08 E2"},
         3022,
         1.0,
         1.0},
        {"OV5695_0", 0x00, 10000, 2.0, {"35 08 00", "35 09 20", "35 00 00", "35 01 26", "35 02 00"}, 608, 2.0, 2.0},
        {"IMX477_0", 0x01, 10000, 2.0, {"02 04 02", "02 05 00", "02 02 0A", "02 03 AB"}, 2731, 2.0, 2.0},
        {"IMX477_0", 0x01, 2, 2.0, {"02 04 02", "02 05 00", "02 02 00", "02 03 04"}, 4, 2.0, 2.0},
        {"GC5035", 0x00, 10000, 1.0, {"FE 00", "B6 00", "B1 04", "B2 00", "FE 00", "03 04", "04 B0"}, 1200, 1.0, 1.0},
        {"GC5035",
         0x00,
         10000,
         2.0,
         {"FE 00", "B6 08", "B1 04", "B2 10", "FE 00", "03 04", "04 B0"},
         1200,
         126.0 / 64 * 0x410 / 1024,
         2.0},
        {"GC5035",
         0x00,
         10000,
         16.0,
         {"FE 00", "B6 14", "B1 04", "B2 18", "FE 00", "03 04", "04 B0"},
         1200,
         998.0 / 64 * 0x418 / 1024,
         16.0},
        // An odd line count: the digital gain makes up for the row the sensor drops (256 x 5 / 4 = 320).
        {"GC5035", 0x00, 42, 1.0, {"FE 00", "B6 00", "B1 05", "B2 00", "FE 00", "03 00", "04 05"}, 5, 1.25, 1.0},
        {"IMX219_0", 0x00, 10000, 4.0, {"01 57 C0", "01 58 01", "01 59 00", "01 5A 02", "01 5B 11"}, 529, 4.0, 4.0},
        {"IMX219_0",
         0x00,
         10000,
         16.0,
         {"01 57 E8", "01 58 01", "01 59 80", "01 5A 02", "01 5B 11"},
         529,
         256.0 / 24.0 * 1.5,
         16.0},
        {"OV2718_0",
         0x00,
         10000,
         1.5,
         {"31 5A 01", "31 5B 80", "31 5C 01", "31 5D 80", "30 B6 01", "30 B7 55"},
         341,
         1.5,
         1.5},
        {"OV2718_0",
         0x00,
         10000,
         0.5,
         {"31 5A 00", "31 5B 80", "31 5C 00", "31 5D 80", "30 B6 01", "30 B7 55"},
         341,
         0.5,
         0.5},
        // The Sony standby group: the shutter moves in two bytes from what Enable sent, so the update is held.
        {"IMX415",
         0x00,
         10000,
         2.0,
         {"30 01 01", "30 90 14", "30 91 00", "30 24 CA", "30 25 08", "30 26 00", "30 50 27", "30 51 06", "30 52 00",
          "30 01 00"},
         675,
         kDb20,
         kDb20},
        // Half rows: 10 000 us of 14.81 us rows are 1350 half rows.
        {"IMX335",
         0x01,
         10000,
         1.0,
         {"30 01 01", "30 E8 00", "30 E9 00", "30 30 94", "30 31 11", "30 32 00", "30 58 4E", "30 59 0C", "30 5A 00",
          "30 01 00"},
         1350,
         1.0,
         1.0},
        // An 8-bit gain never needs the hold; the shutter changes in one byte only.
        {"IMX327",
         0x00,
         9000,
         2.0,
         {"30 01 00", "30 14 14", "30 18 65", "30 19 04", "30 1A 00", "30 20 34", "30 21 03", "30 22 00", "30 01 00"},
         304,
         kDb20,
         kDb20},
        // High conversion gain: 2.0 is programmed as 2.82 (30 steps) and reported back as the request.
        {"IMX662",
         0x06,
         10000,
         2.0,
         {"30 01 01", "30 70 1E", "30 71 00", "30 28 E2", "30 29 04", "30 2A 00", "30 50 F4", "30 51 01", "30 52 00",
          "30 01 00"},
         750,
         kDb30 / 1.41,
         kDb30 / 1.41},
        {"GC8034",
         0x00,
         10000,
         1.0,
         {"FE 00", "B6 00", "B1 01", "B2 00", "FE 00", "20 55", "33 83", "FE 01", "DF 06", "E7 18",
          "E8 20", "E9 16", "EA 17", "EB 50", "EC 6C", "ED 9B", "EE D8", "FE 00", "03 02", "04 ED"},
         749,
         1.0,
         1.0},
        {"GC8034",
         0x00,
         10000,
         2.0,
         {"FE 00", "B6 02", "B1 01", "B2 06", "FE 00", "20 4E", "33 84", "FE 01", "DF 0C", "E7 2E",
          "E8 2D", "E9 15", "EA 19", "EB 47", "EC 70", "ED 9F", "EE D8", "FE 00", "03 02", "04 ED"},
         749,
         125.0 / 64 * 0x106 / 256,
         2.0},
        {"GC8034",
         0x00,
         10000,
         16.0,
         {"FE 00", "B6 07", "B1 01", "B2 7F", "FE 00", "20 52", "33 80", "FE 01", "DF 0C", "E7 35",
          "E8 3A", "E9 2B", "EA 2D", "EB 4C", "EC 67", "ED 8D", "EE C0", "FE 00", "03 02", "04 ED"},
         749,
         684.0 / 64 * 0x17F / 256,
         16.0},
        // Five lines: the digital gain makes up for the odd line (256 x 5 / 4 = 320).
        {"GC8034",
         0x00,
         67,
         1.0,
         {"FE 00", "B6 00", "B1 01", "B2 40", "FE 00", "20 55", "33 83", "FE 01", "DF 06", "E7 18",
          "E8 20", "E9 16", "EA 17", "EB 50", "EC 6C", "ED 9B", "EE D8", "FE 00", "03 00", "04 05"},
         5,
         1.25,
         1.0},
    };
    for (const ExposureRow &r : rows) {
        SCOPED_TRACE(std::string(r.name) + " " + std::to_string(r.exposure) + " us x " + std::to_string(r.gain));
        Start(entry(r.name), r.mode);
        norva_sim::ClearI2cLog();
        ASSERT_EQ(Sensor_SetExposureGain(handle_, r.exposure, r.gain, 0), QOR_RES_OK);
        EXPECT_EQ(writes(), r.bytes);
        const norva_sim::SimSensorState s = model_->state();
        EXPECT_EQ(s.lines, r.lines);
        EXPECT_NEAR(s.gain, r.modelGain, 1e-9);
        double reported = 0;
        ASSERT_EQ(Sensor_GetCurrentGain(handle_, &reported, 0), QOR_RES_OK);
        EXPECT_NEAR(reported, r.reportedGain, 1e-12);
        // The sensor exposes what the driver reports (the request within the range), to within half a line.
        QOR_UINT32 exposure = 0;
        ASSERT_EQ(Sensor_GetExposure(handle_, &exposure, 0), QOR_RES_OK);
        EXPECT_NEAR(s.exposureUs, exposure, s.rowTimeUs / 2 + 1e-6);
    }
}

TEST_F(FrameworkDrivers, StreamOnAndOff) {
    struct Case {
        const char *name;
        QOR_UINT16 mode;
        std::vector<std::string> enableTail;    /* the end of the tables */
        std::vector<std::string> disableWrites; /* the stop table */
        const char *startDelay = nullptr;       /* the wait between leaving standby and the start */
    };
    const std::vector<Case> cases = {
        {"OV5647_0", 0x00, {"38 15 11", "01 00 01"}, {"01 00 00"}},
        {"OV5695_2", 0x00, {"38 21 00", "01 00 01"}, {"01 00 00"}},
        {"OV10823_1", 0x03, {"38 20 00", "01 00 01"}, {"01 00 00"}},
        {"IMX219_0", 0x02, {"06 01 00", "01 00 01"}, {"01 00 00"}},
        {"IMX477_1", 0x01, {"06 01 00", "01 00 01"}, {"01 00 00"}},
        {"GC5035", 0x00, {"FE 00", "3E 91"}, {"FE 00", "3F 01"}},
        {"OV2718_1", 0x00, {"32 52 00", "30 12 01"}, {"30 12 00"}},
        {"GC8034", 0x10, {"FE 00", "3F 91"}, {"FE 00", "3F 00"}},
        {"IMX415", 0x00, {"30 00 00", "30 02 00"}, {"30 00 01"}, "sleep 25000"},
        {"IMX335", 0x01, {"30 00 00", "30 02 00"}, {"30 00 01"}, "sleep 20000"},
        {"IMX327", 0x00, {"30 00 00", "30 02 00"}, {"30 00 01"}, "sleep 20000"},
        {"IMX662", 0x00, {"30 00 00", "30 02 00"}, {"30 00 01"}, "sleep 25000"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Wire(entry(c.name));
        Create(entry(c.name));
        ASSERT_EQ(Sensor_SetMode(handle_, c.mode, SENSOR_FLIP_NONE), QOR_RES_OK);
        norva_sim::ClearI2cLog();
        norva_sim::ClearBoardEvents();
        ASSERT_EQ(Sensor_Enable(handle_), QOR_RES_OK);
        EXPECT_GE(findRun(writes(), c.enableTail), 0);
        if (c.startDelay != nullptr) {
            std::vector<std::string> events;
            for (const std::string &ev : norva_sim::BoardEvents())
                if (ev.compare(0, 6, "write ") == 0 || ev.compare(0, 6, "sleep ") == 0)
                    events.push_back(ev);
            EXPECT_GE(findRun(events, {"write 30 00 00", c.startDelay, "write 30 02 00"}), 0);
        }
        EXPECT_TRUE(model_->state().streaming);
        EXPECT_TRUE(norva_sim::GetPhyState(entry(c.name).phy).enabled);
        norva_sim::ClearI2cLog();
        ASSERT_EQ(Sensor_Disable(handle_), QOR_RES_OK);
        EXPECT_EQ(writes(), c.disableWrites);
        EXPECT_FALSE(model_->state().streaming);
        EXPECT_FALSE(norva_sim::GetPhyState(entry(c.name).phy).enabled);
    }
}

TEST_F(FrameworkDrivers, Ov10823PatchesItsPllForTheBoardClockAndRefuses28MHz) {
    const Entry &e = entry("OV10823_0");
    Start(e, 0x00);
    // At 27 MHz the multipliers for the board clock replace those of the table.
    EXPECT_NEAR(model_->state().pixelClock, 103.95e6, 1.0);
    ASSERT_EQ(Sensor_Disable(handle_), QOR_RES_OK);
    norva_sim::ClearI2cLog();
    ASSERT_EQ(Sensor_Enable(handle_), QOR_RES_OK);
    const std::vector<std::string> w = writes();
    EXPECT_NE(std::find(w.begin(), w.end(), "30 82 60"), w.end()); // 96
    EXPECT_NE(std::find(w.begin(), w.end(), "30 8D 9A"), w.end()); // 154
    release();
    Wire(e, "28.0");
    Create(e);
    ASSERT_EQ(Sensor_SetMode(handle_, 0x00, 0), QOR_RES_OK);
    norva_sim::ClearI2cLog();
    const std::string log = logOf([&] { Sensor_Enable(handle_); });
    EXPECT_TRUE(contains(log, "Reference clock frequency 28.000000 MHz not supported!\n")) << log;
    const std::vector<std::string> refused = writes();
    EXPECT_EQ(std::find(refused.begin(), refused.end(), "30 82 60"), refused.end());
}

TEST_F(FrameworkDrivers, Ov5695FlipsRewriteOnlyTheirBits) {
    struct Case {
        QOR_UINT16 mode;
        QOR_UINT8 flip;
        const char *write;
    };
    // Mode 0x03's table holds 0x8B: without flips bits 3 to 5 are cleared.
    const std::vector<Case> cases = {{0x03, SENSOR_FLIP_NONE, "38 20 83"},
                                     {0x03, SENSOR_FLIP_BOTH, "38 20 9B"},
                                     {0x00, SENSOR_FLIP_VERTICAL, "38 20 90"},
                                     {0x00, SENSOR_FLIP_HORIZONTAL, "38 20 88"}};
    const Entry &e = entry("OV5695_0");
    Wire(e);
    Create(e);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.write);
        ASSERT_EQ(Sensor_SetMode(handle_, c.mode, c.flip), QOR_RES_OK);
        norva_sim::ClearI2cLog();
        ASSERT_EQ(Sensor_Enable(handle_), QOR_RES_OK);
        const std::vector<std::string> w = writes();
        EXPECT_NE(std::find(w.begin(), w.end(), c.write), w.end());
        EXPECT_EQ(model_->state().vflip, (c.flip & SENSOR_FLIP_VERTICAL) != 0);
        EXPECT_EQ(model_->state().hflip, (c.flip & SENSOR_FLIP_HORIZONTAL) != 0);
        ASSERT_EQ(Sensor_Disable(handle_), QOR_RES_OK);
    }
}

TEST_F(FrameworkDrivers, FlipsReachTheOrientationRegister) {
    struct Case {
        const char *name;
        QOR_UINT16 mode;
        QOR_UINT8 flip;
        const char *write;
        MOSAICType bayer;
    };
    const std::vector<Case> cases = {
        {"IMX219_0", 0x02, SENSOR_FLIP_NONE, "01 72 00", MOSAIC_RGGB},
        {"IMX219_0", 0x02, SENSOR_FLIP_HORIZONTAL, "01 72 01", MOSAIC_GRBG},
        {"IMX219_0", 0x02, SENSOR_FLIP_VERTICAL, "01 72 02", MOSAIC_GBRG},
        {"IMX219_0", 0x02, SENSOR_FLIP_BOTH, "01 72 03", MOSAIC_BGGR},
        {"IMX477_0", 0x01, SENSOR_FLIP_HORIZONTAL, "01 01 01", MOSAIC_GRBG},
        {"IMX477_0", 0x01, SENSOR_FLIP_VERTICAL, "01 01 02", MOSAIC_GBRG},
        {"GC5035", 0x00, SENSOR_FLIP_NONE, "17 80", MOSAIC_RGGB},
        {"GC5035", 0x00, SENSOR_FLIP_BOTH, "17 83", MOSAIC_BGGR},
        {"GC8034", 0x00, SENSOR_FLIP_BOTH, "17 C3", MOSAIC_BGGR},
        {"GC8034", 0x00, SENSOR_FLIP_VERTICAL, "17 C2", MOSAIC_GBRG},
        // The flips are set and cleared again from the table's values.
        {"OV2718_0", 0x00, SENSOR_FLIP_BOTH, "30 C0 08", MOSAIC_BGGR},
        {"OV2718_0", 0x00, SENSOR_FLIP_NONE, "30 C0 04", MOSAIC_BGGR},
        {"OV2718_0", 0x00, SENSOR_FLIP_HORIZONTAL, "30 A9 08", MOSAIC_BGGR},
        {"OV2718_0", 0x00, SENSOR_FLIP_VERTICAL, "30 A9 09", MOSAIC_BGGR},
        {"IMX415", 0x00, SENSOR_FLIP_BOTH, "30 30 03", MOSAIC_GBRG},
        {"IMX415", 0x00, SENSOR_FLIP_VERTICAL, "30 30 02", MOSAIC_GBRG},
        {"IMX335", 0x01, SENSOR_FLIP_VERTICAL, "31 16 02", MOSAIC_RGGB},
        {"IMX335", 0x01, SENSOR_FLIP_HORIZONTAL, "30 4E 01", MOSAIC_RGGB},
        {"IMX327", 0x00, SENSOR_FLIP_HORIZONTAL, "30 07 02", MOSAIC_RGGB},
        {"IMX327", 0x00, SENSOR_FLIP_VERTICAL, "30 07 01", MOSAIC_RGGB},
        {"IMX662", 0x00, SENSOR_FLIP_BOTH, "30 21 01", MOSAIC_RGGB},
        {"IMX662", 0x00, SENSOR_FLIP_HORIZONTAL, "30 20 01", MOSAIC_RGGB},
    };
    std::string wired;
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.name) + " flip " + std::to_string(c.flip));
        if (wired != c.name) {
            Wire(entry(c.name));
            Create(entry(c.name));
            wired = c.name;
        }
        ASSERT_EQ(Sensor_SetMode(handle_, c.mode, c.flip), QOR_RES_OK);
        SENSOR_INFO info;
        ASSERT_EQ(Sensor_GetInfo(handle_, &info), QOR_RES_OK); // reported before the sensor has it
        EXPECT_EQ(info.eBayerOriginal, c.bayer);
        norva_sim::ClearI2cLog();
        ASSERT_EQ(Sensor_Enable(handle_), QOR_RES_OK);
        const std::vector<std::string> w = writes();
        EXPECT_NE(std::find(w.begin(), w.end(), c.write), w.end());
        EXPECT_EQ(model_->state().hflip, (c.flip & SENSOR_FLIP_HORIZONTAL) != 0);
        EXPECT_EQ(model_->state().vflip, (c.flip & SENSOR_FLIP_VERTICAL) != 0);
        ASSERT_EQ(Sensor_Disable(handle_), QOR_RES_OK);
    }
}

TEST_F(FrameworkDrivers, BadInput) {
    for (const char *name : {"OV5647_0", "OV10823_0", "OV5695_0", "IMX219_0", "IMX477_0", "GC5035", "OV2718_0",
                             "IMX415", "IMX335", "IMX327", "IMX662", "GC8034"}) {
        SCOPED_TRACE(name);
        const Entry &e = entry(name);
        Start(e, 0x00);
        // Unknown modes.
        SENSOR_MODE m{};
        EXPECT_EQ(Sensor_GetMode(handle_, 0x0F, &m), QOR_RES_NOT_SUPPORTED);
        logOf([&] { EXPECT_EQ(Sensor_SetMode(handle_, 0x1F, 0), QOR_RES_NOT_SUPPORTED); });
        // Exposure and gain beyond the ranges are clamped to them.
        QOR_UINT32 minExp = 0, maxExp = 0;
        QOR_UINT8 ctx = 0;
        ASSERT_EQ(Sensor_GetExposureRange(handle_, &minExp, &maxExp, &ctx), QOR_RES_OK);
        double minGain = 0, maxGain = 0;
        ASSERT_EQ(Sensor_GetGainRange(handle_, &minGain, &maxGain, &ctx), QOR_RES_OK);
        logOf([&] { EXPECT_EQ(Sensor_SetExposureGain(handle_, maxExp * 10u, maxGain * 4, 0), QOR_RES_OK); });
        QOR_UINT32 exposure = 0;
        double gain = 0;
        ASSERT_EQ(Sensor_GetExposure(handle_, &exposure, 0), QOR_RES_OK);
        ASSERT_EQ(Sensor_GetCurrentGain(handle_, &gain, 0), QOR_RES_OK);
        // The longest exposure, or less where the line count saturates in the registers: what the sensor runs with.
        EXPECT_LE(exposure, maxExp);
        EXPECT_NEAR(model_->state().exposureUs, exposure, model_->state().rowTimeUs / 2 + 1e-6);
        // Drivers that read the gain back report the code's (within a 0.3 dB step).
        EXPECT_NEAR(gain, maxGain, maxGain * 0.002);
        EXPECT_NEAR(model_->state().gain, maxGain, maxGain * 0.01);
        logOf([&] { EXPECT_EQ(Sensor_SetExposureGain(handle_, 0, 0.0, 0), QOR_RES_OK); });
        ASSERT_EQ(Sensor_GetExposure(handle_, &exposure, 0), QOR_RES_OK);
        EXPECT_EQ(exposure, minExp);
        EXPECT_GE(model_->state().lines, 1u);
        ASSERT_EQ(Sensor_Disable(handle_), QOR_RES_OK);
        // A short write while the tables go out: the error is reported and the PHY is off again.
        norva_sim::InjectI2cFault(board_.slots[e.slot].bus, norva_sim::I2cFault::ShortWrite, 3);
        const std::string log = logOf([&] { EXPECT_EQ(Sensor_Enable(handle_), QOR_RES_IO_FAILED); });
        EXPECT_TRUE(contains(log, "Failed to write I2C data!")) << log;
        EXPECT_FALSE(norva_sim::GetPhyState(e.phy).enabled);
        EXPECT_FALSE(model_->state().streaming);
    }
}

TEST_F(FrameworkDrivers, Ov2718RevisionFromItsSubIdentifier) {
    struct Case {
        int subId; /* -1: the read fails */
        QOR_RESULT created;
        QOR_UINT8 phyCode; /* revision 2A 0x0A, 1B 0x07 */
        bool warns;
    };
    const std::vector<Case> cases = {
        {0xE1, QOR_RES_OK, 0x0A, false},
        {0xF0, QOR_RES_OK, 0x07, false},
        {0x55, QOR_RES_OK, 0x0A, true},
        {-1, QOR_RES_DEVICE_FAILED, 0, false},
    };
    const Entry &e = entry("OV2718_0");
    for (const Case &c : cases) {
        SCOPED_TRACE(c.subId);
        Wire(e);
        if (c.subId >= 0)
            model_->setFixed(0x300D, static_cast<uint8_t>(c.subId));
        else
            norva_sim::InjectI2cFault(board_.slots[e.slot].bus, norva_sim::I2cFault::ShortRead, 1); // after the id
        QOR_RESULT r = -1;
        const std::string log = logOf([&] { r = Sensor_Initialise(idOf(e.name), &handle_); });
        ASSERT_EQ(r, c.created);
        EXPECT_EQ(contains(log, "Unknown sensor revision (subID: 0x55), assuming revision 2A"), c.warns) << log;
        if (r != QOR_RES_OK) {
            EXPECT_EQ(handle_, nullptr);
            EXPECT_TRUE(contains(log, "Failed to read sensor subversion id")) << log;
            EXPECT_EQ(norva_sim::GpioOpenChips(), 0);
            EXPECT_EQ(norva_sim::I2cOpenDescriptors(), 0);
            EXPECT_EQ(norva_sim::PhyOpenDescriptors(), 0);
            EXPECT_TRUE(model_->state().powered) << "the lines are released where the bring-up left them";
            continue;
        }
        SENSOR_MODE m{};
        ASSERT_EQ(Sensor_GetMode(handle_, 0x00, &m), QOR_RES_OK);
        EXPECT_EQ(m.ui8MipiHsFreqRange, c.phyCode);
        ASSERT_EQ(CI_DriverInit(&conn_), QOR_RES_OK);
        ASSERT_EQ(Sensor_SetPhyConnection(handle_, conn_), QOR_RES_OK);
        ASSERT_EQ(Sensor_SetMode(handle_, 0x00, SENSOR_FLIP_NONE), QOR_RES_OK);
        ASSERT_EQ(Sensor_Enable(handle_), QOR_RES_OK);
        EXPECT_TRUE(model_->state().streaming); // revision 1B streams from its configuration
        release();
    }
}

TEST_F(FrameworkDrivers, Ov2718PatchesItsPllForTheBoardClock) {
    const Entry &e = entry("OV2718_0");
    Wire(e);
    Create(e);
    ASSERT_EQ(Sensor_SetMode(handle_, 0x00, SENSOR_FLIP_NONE), QOR_RES_OK);
    norva_sim::ClearI2cLog();
    ASSERT_EQ(Sensor_Enable(handle_), QOR_RES_OK);
    const std::vector<std::string> w = writes();
    EXPECT_NE(std::find(w.begin(), w.end(), "30 01 64"), w.end()); // 100
    EXPECT_NE(std::find(w.begin(), w.end(), "30 05 49"), w.end()); // 73
    const norva_sim::SimSensorState s = model_->state();
    EXPECT_NEAR(s.pixelClock, 75e6, 1.0);
    EXPECT_NEAR(s.frameRate, 30.30, 0.005);
    EXPECT_EQ(s.bitDepth, 12u);
    EXPECT_EQ(s.lanes, 4u);
}

/** One step of a sequence of exposure and gain updates on a Sony sensor. */
struct SonyStep {
    enum Kind { Update, Describe } kind;
    QOR_UINT16 mode;
    QOR_UINT32 exposure;
    std::vector<std::string> bytes; /* the writes expected; empty: none */
    QOR_UINT32 reported;            /* GetExposure afterwards */
};

/** IMX415 mode 0x00 (VMAX 2250, rows of 14.81 us) at gain 2.0 (code 20): frame length 2250, the shutter given. */
std::vector<std::string> Imx415Update(const char *hold, const char *shrLow, const char *shrHigh) {
    return {std::string("30 01 ") + hold,
            "30 90 14",
            "30 91 00",
            "30 24 CA",
            "30 25 08",
            "30 26 00",
            std::string("30 50 ") + shrLow,
            std::string("30 51 ") + shrHigh,
            "30 52 00",
            "30 01 00"};
}

TEST_F(FrameworkDrivers, SonyRegisterHoldAndTheUpdatesAfterIt) {
    const std::vector<SonyStep> steps = {
        // From the shutter Enable sent (1027: 302 shortest exposures) to 1575 (0x627): two bytes, under the hold.
        {SonyStep::Update, 0, 10000, Imx415Update("01", "27", "06"), 10000},
        // From 1575 to 2000 (0x7D0): two bytes again. An update right after a held one is written, not skipped.
        {SonyStep::Update, 0, 3704, Imx415Update("01", "D0", "07"), 3704},
        // 2000 to 2000 needs no hold.
        {SonyStep::Update, 0, 3704, Imx415Update("00", "D0", "07"), 3704},
        // Describing a mode makes its values the reference again: its shortest shutter (8), gain code 0.
        {SonyStep::Describe, 0x03, 0, {}, 3704},
        {SonyStep::Update, 0, 3704, Imx415Update("01", "D0", "07"), 3704},
        // 2000 to 1575 is two bytes, 1575 to 1568 (0x620) one.
        {SonyStep::Update, 0, 10000, Imx415Update("01", "27", "06"), 10000},
        {SonyStep::Update, 0, 10100, Imx415Update("00", "20", "06"), 10100},
        // Longer than the frame: the frame grows to the exposure and 8 lines, the shutter is 8.
        {SonyStep::Update,
         0,
         40000,
         {"30 01 01", "30 90 14", "30 91 00", "30 24 94", "30 25 0A", "30 26 00", "30 50 08", "30 51 00", "30 52 00",
          "30 01 00"},
         40000},
    };
    const Entry &e = entry("IMX415");
    Start(e, 0x00);
    for (size_t i = 0; i < steps.size(); i++) {
        const SonyStep &st = steps[i];
        SCOPED_TRACE("step " + std::to_string(i));
        norva_sim::ClearI2cLog();
        if (st.kind == SonyStep::Describe) {
            SENSOR_MODE m{};
            ASSERT_EQ(Sensor_GetMode(handle_, st.mode, &m), QOR_RES_OK);
        } else {
            ASSERT_EQ(Sensor_SetExposureGain(handle_, st.exposure, 2.0, 0), QOR_RES_OK);
            double reported = 0;
            ASSERT_EQ(Sensor_GetCurrentGain(handle_, &reported, 0), QOR_RES_OK);
            EXPECT_NEAR(reported, 1.995, 0.0005);
        }
        EXPECT_EQ(writes(), st.bytes);
        QOR_UINT32 exposure = 0;
        ASSERT_EQ(Sensor_GetExposure(handle_, &exposure, 0), QOR_RES_OK);
        EXPECT_EQ(exposure, st.reported);
        const norva_sim::SimSensorState s = model_->state();
        EXPECT_NEAR(s.exposureUs, st.reported, s.rowTimeUs / 2) << "the sensor runs with what is reported";
    }
}

TEST_F(FrameworkDrivers, Imx662GainRangeFollowsTheModeDescriptions) {
    const Entry &e = entry("IMX662");
    Wire(e);
    Create(e);
    struct Case {
        bool select; /* SetMode, else GetMode only */
        QOR_UINT16 mode;
        double maxGain;
    };
    const std::vector<Case> cases = {
        {false, 0x00, 3981.0},            // a low-gain mode leaves the range as created
        {false, 0x03, 15.85},             // describing an HDR mode
        {false, 0x00, 15.85},             // a low-gain description does not widen it again
        {false, 0x06, 2823.404255319149}, // describing a high-gain mode
        {true, 0x00, 2823.404255319149},  // selecting a low-gain mode neither
        {true, 0x05, 15.85},              // selecting describes: HDR
    };
    double maxGain = 0, minGain = 0;
    QOR_UINT8 contexts = 0;
    ASSERT_EQ(Sensor_GetGainRange(handle_, &minGain, &maxGain, &contexts), QOR_RES_OK);
    EXPECT_DOUBLE_EQ(maxGain, 3981.0);
    for (const Case &c : cases) {
        SCOPED_TRACE(std::to_string(c.select) + " mode " + std::to_string(c.mode));
        SENSOR_MODE m{};
        if (c.select)
            ASSERT_EQ(Sensor_SetMode(handle_, c.mode, SENSOR_FLIP_NONE), QOR_RES_OK);
        else
            ASSERT_EQ(Sensor_GetMode(handle_, c.mode, &m), QOR_RES_OK);
        ASSERT_EQ(Sensor_GetGainRange(handle_, &minGain, &maxGain, &contexts), QOR_RES_OK);
        EXPECT_DOUBLE_EQ(minGain, 1.0);
        EXPECT_DOUBLE_EQ(maxGain, c.maxGain);
    }
}

TEST_F(FrameworkDrivers, Imx662ExpGainIsWrittenOnlyWhenSet) {
    const Entry &e = entry("IMX662");
    Wire(e);
    norva_sim::ClearI2cLog();
    Create(e);
    ASSERT_EQ(Sensor_SetMode(handle_, 0x00, SENSOR_FLIP_NONE), QOR_RES_OK);
    ASSERT_EQ(Sensor_Enable(handle_), QOR_RES_OK);
    auto expGainWrites = [] {
        unsigned n = 0;
        for (const std::string &w : writes())
            n += w.compare(0, 5, "30 81") == 0;
        return n;
    };
    EXPECT_EQ(expGainWrites(), 0u) << "neither creation nor Enable writes it";
    QOR_UINT8 value = 0;
    ASSERT_EQ(Sensor_GetExtraParam(handle_, "expGain", &value), QOR_RES_OK);
    EXPECT_EQ(value, 2);
    EXPECT_EQ(model_->peek(0x3081), 2) << "the sensor's own value at power-on";
    norva_sim::ClearI2cLog();
    ASSERT_EQ(Sensor_SetExtraParam(handle_, "expGain", 3), QOR_RES_OK);
    EXPECT_EQ(writes(), std::vector<std::string>{"30 81 03"});
    EXPECT_EQ(model_->peek(0x3081), 3);
    norva_sim::ClearI2cLog();
    const std::string log =
        logOf([&] { EXPECT_EQ(Sensor_SetExtraParam(handle_, "expGain", 6), QOR_RES_INVALID_PARAM); });
    EXPECT_TRUE(contains(log, "Invalid ExpGain value: 6")) << log;
    EXPECT_TRUE(writes().empty());
    ASSERT_EQ(Sensor_GetExtraParam(handle_, "expGain", &value), QOR_RES_OK);
    EXPECT_EQ(value, 3);
    // Standby keeps the registers: a new start leaves the value where it was set.
    ASSERT_EQ(Sensor_Disable(handle_), QOR_RES_OK);
    norva_sim::ClearI2cLog();
    ASSERT_EQ(Sensor_Enable(handle_), QOR_RES_OK);
    EXPECT_EQ(expGainWrites(), 0u);
    EXPECT_EQ(model_->peek(0x3081), 3);
}

TEST_F(FrameworkDrivers, SonyFrameLengthBeyondTheRegisterIsClampedWithAnError) {
    struct Case {
        const char *name;
        QOR_UINT16 mode;
        QOR_RESULT (*setExposureGain)(SENSOR_HANDLE, QOR_UINT32, double, QOR_UINT8);
        const char *message;
        std::vector<std::string> lengthAndShutter;
    };
    const std::vector<Case> cases = {
        {"IMX415",
         0x00,
         IMX415_SetExposureGain,
         "VMAX exceeds 20-bit limit: 1048575",
         {"30 24 FF", "30 25 FF", "30 26 0F", "30 50 08", "30 51 00", "30 52 00"}},
        {"IMX335",
         0x01,
         IMX335_SetExposureGain,
         "VMAX exceeds 20-bit limit: 1048575",
         {"30 30 FF", "30 31 FF", "30 32 0F", "30 58 09", "30 59 00", "30 5A 00"}},
        {"IMX327",
         0x00,
         IMX327_SetExposureGain,
         "VMAX exceeds 18-bit limit: 262143",
         {"30 18 FF", "30 19 FF", "30 1A 03", "30 20 01", "30 21 00", "30 22 00"}},
        {"IMX662",
         0x00,
         IMX662_SetExposureGain,
         "VMAX exceeds 20-bit limit: 1048574",
         {"30 28 FE", "30 29 FF", "30 2A 0F", "30 50 04", "30 51 00", "30 52 00"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Start(entry(c.name), c.mode);
        norva_sim::ClearI2cLog();
        // Past the API's range (which ends at one second) straight into the driver.
        const std::string log = logOf([&] { EXPECT_EQ(c.setExposureGain(handle_, 30000000, 1.0, 0), QOR_RES_OK); });
        EXPECT_TRUE(contains(log, c.message)) << log;
        EXPECT_GE(findRun(writes(), c.lengthAndShutter), 0);
        const norva_sim::SimSensorState s = model_->state();
        EXPECT_GT(s.lines, 200000u);
        // What is reported is the exposure the clamped registers give.
        QOR_UINT32 exposure = 0;
        ASSERT_EQ(Sensor_GetExposure(handle_, &exposure, 0), QOR_RES_OK);
        EXPECT_NEAR(s.exposureUs, exposure, s.rowTimeUs / 2 + 1);
    }
}

TEST_F(FrameworkDrivers, SonyDescriptionsRefuseUnknownWindowModes) {
    struct Case {
        const char *what;
        QOR_RESULT (*getModeInfo)(CAM_STRUCT *, QOR_UINT16, SENSOR_MODE *);
        std::vector<QOR_UINT8> table;
        const char *message;
    };
    const std::vector<Case> cases = {
        {"IMX335 window mode 2", IMX335_GetModeInfo, {0x30, 0x18, 0x02, 0xFF, 0xFF, 0xFF}, "Unknown window mode 2"},
        {"IMX335 VMAX of 17 bits",
         IMX335_GetModeInfo,
         {0x30, 0x30, 0x70, 0x30, 0x31, 0x11, 0x30, 0x32, 0x01, 0xFF, 0xFF, 0xFF},
         "VMAX exceeds 16-bit limit: 70000"},
        {"IMX327 window mode 2", IMX327_GetModeInfo, {0x30, 0x07, 0x20, 0xFF, 0xFF, 0xFF}, "Unknown window mode 2"},
        {"IMX662 HDR mode 4", IMX662_GetModeInfo, {0x30, 0x1A, 0x04, 0xFF, 0xFF, 0xFF}, "Unknown HDR mode 4"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        sensor_mode descriptor[] = {{3, c.table.data(), 0, 3, 27000000, 0x29, 0}};
        CAM_STRUCT cam{};
        cam.pModes = descriptor;
        cam.uiModesSize = 1;
        SENSOR_MODE m{};
        QOR_RESULT r = -1;
        const std::string log = logOf([&] { r = c.getModeInfo(&cam, 0x00, &m); });
        EXPECT_EQ(r, QOR_RES_NOT_SUPPORTED);
        EXPECT_TRUE(contains(log, c.message)) << log;
    }
}

// The PLL setting 0xF7 follows the lane count in the configuration and again in the mode table that comes after it.
TEST_F(FrameworkDrivers, Gc8034PllFollowsTheLanesOfBothConfigurations) {
    struct Case {
        QOR_UINT16 mode;
        const char *pll;
        unsigned lanes;
    };
    const Case cases[] = {{0x00, "F7 9D", 4}, {0x10, "F7 95", 2}};
    const Entry &e = entry("GC8034");
    for (const Case &c : cases) {
        SCOPED_TRACE(c.mode);
        Wire(e);
        Create(e);
        ASSERT_EQ(Sensor_SetMode(handle_, c.mode, SENSOR_FLIP_NONE), QOR_RES_OK);
        norva_sim::ClearI2cLog();
        ASSERT_EQ(Sensor_Enable(handle_), QOR_RES_OK);
        std::vector<std::string> pll;
        for (const std::string &w : writes())
            if (w.compare(0, 2, "F7") == 0)
                pll.push_back(w);
        EXPECT_EQ(pll, (std::vector<std::string>{c.pll, c.pll})) << "configuration, then mode";
        const norva_sim::SimSensorState s = model_->state();
        EXPECT_TRUE(s.streaming);
        EXPECT_EQ(s.lanes, c.lanes);
    }
}

TEST_F(FrameworkDrivers, Gc8034FocusMovesItsLens) {
    const Entry &e = entry("GC8034");
    Wire(e);
    auto lens = norva_sim::AttachGc8034Lens(board_.slots[e.slot].bus);
    Create(e);
    QOR_UINT16 focus = 0, lo = 0, hi = 0;
    ASSERT_EQ(Sensor_GetFocusRange(handle_, &lo, &hi), QOR_RES_OK);
    EXPECT_EQ(lo, 20);
    EXPECT_EQ(hi, 3000);
    ASSERT_EQ(Sensor_GetCurrentFocus(handle_, &focus), QOR_RES_OK);
    EXPECT_EQ(focus, 3000);
    struct Case {
        QOR_UINT16 focus;
        std::string bytes;
        uint16_t code;
    };
    const std::vector<Case> cases = {
        {20, "3F C0", 1020}, {50, "1D 60", 470}, {100, "14 00", 320},
        {200, "0E C0", 236}, {3000, "00 00", 0}, {10, "3F C0", 1020}, // below the range: clamped to 20
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.focus);
        norva_sim::ClearI2cLog();
        ASSERT_EQ(Sensor_SetFocus(handle_, c.focus), QOR_RES_OK);
        std::vector<std::string> toLens;
        for (const norva_sim::I2cTransaction &t : norva_sim::I2cLog())
            if (t.kind == 'w' && t.address == 0x0C)
                toLens.push_back(HexOf(t.bytes));
        EXPECT_EQ(toLens, std::vector<std::string>{c.bytes});
        EXPECT_EQ(lens->code(), c.code);
        ASSERT_EQ(Sensor_GetCurrentFocus(handle_, &focus), QOR_RES_OK);
        EXPECT_EQ(focus, c.focus < 20 ? 20 : c.focus);
    }
    // Selecting a mode reports focus 0 (the driver's lowest actuator position) and leaves the lens alone.
    norva_sim::ClearI2cLog();
    ASSERT_EQ(Sensor_SetMode(handle_, 0x00, SENSOR_FLIP_NONE), QOR_RES_OK);
    ASSERT_EQ(Sensor_GetCurrentFocus(handle_, &focus), QOR_RES_OK);
    EXPECT_EQ(focus, 0);
    EXPECT_TRUE(norva_sim::I2cLog().empty());
    EXPECT_EQ(lens->code(), 1020u);
    // The sensor's own registers are reached at its address again afterwards.
    ASSERT_EQ(Sensor_Enable(handle_), QOR_RES_OK);
    EXPECT_TRUE(model_->state().streaming);
    // Without the actuator on the bus the move fails.
    norva_sim::AttachI2cDevice(board_.slots[e.slot].bus, 0x0C, nullptr);
    logOf([&] { EXPECT_EQ(Sensor_SetFocus(handle_, 100), QOR_RES_IO_FAILED); });
}

} // namespace
