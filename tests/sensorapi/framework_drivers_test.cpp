// The drivers built on the framework beside the OV4689 (OV5647, OV10823, OV5695, IMX219, IMX477, GC5035), each against its register model on the
// simulated board: creation by registry name on its slot and PHY, the mode tables, the exposure and gain bytes
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
};

const std::vector<Entry> &entries() {
    static const std::vector<Entry> e = {
        {"OV5647_0", 0, 0, norva_sim::AttachOv5647, 0x36, 0x300A, "24.0", MOSAIC_BGGR},
        {"OV5647_1", 1, 1, norva_sim::AttachOv5647, 0x36, 0x300A, "24.0", MOSAIC_BGGR},
        {"OV10823_0", 0, 0, norva_sim::AttachOv10823, 0x10, 0x300A, "27.0", MOSAIC_BGGR},
        {"OV10823_1", 1, 1, norva_sim::AttachOv10823, 0x10, 0x300A, "27.0", MOSAIC_BGGR},
        {"OV5695_0", 0, 0, norva_sim::AttachOv5695, 0x36, 0x300B, "24.0", MOSAIC_BGGR},
        {"OV5695_1", 1, 1, norva_sim::AttachOv5695, 0x36, 0x300B, "24.0", MOSAIC_BGGR},
        {"OV5695_2", 2, 1, norva_sim::AttachOv5695, 0x36, 0x300B, "24.0", MOSAIC_BGGR},
        {"IMX219_0", 0, 0, norva_sim::AttachImx219, 0x10, 0x0000, "24.0", MOSAIC_RGGB},
        {"IMX219_1", 1, 1, norva_sim::AttachImx219, 0x10, 0x0000, "24.0", MOSAIC_RGGB},
        {"IMX477_0", 0, 0, norva_sim::AttachImx477, 0x1A, 0x0016, "24.0", MOSAIC_RGGB},
        {"IMX477_1", 1, 1, norva_sim::AttachImx477, 0x1A, 0x0016, "24.0", MOSAIC_RGGB},
        {"GC5035", 0, 0, norva_sim::AttachGc5035, 0x37, 0x00F0, "24.0", MOSAIC_RGGB, 1},
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
            EXPECT_FALSE(model_->state().powered);
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
};

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
    };
    for (const char *clock : {"24.0", "27.0", "28.0"}) {
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
            // The OV10823 takes 20 to 27 MHz, the others only the 24 MHz of their tables.
            const bool ov10823 = std::string(r.name).compare(0, 7, "OV10823") == 0;
            EXPECT_EQ(m.bValidFrequency, ov10823 ? std::string(clock) != "28.0" : std::string(clock) == "24.0");
            if (std::string(clock) != entry(r.name).clockMHz)
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
            EXPECT_EQ(m.eHDRMode, HDR_NONE);
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
        EXPECT_DOUBLE_EQ(reported, r.reportedGain);
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
    };
    const std::vector<Case> cases = {
        {"OV5647_0", 0x00, {"38 15 11", "01 00 01"}, {"01 00 00"}},
        {"OV5695_2", 0x00, {"38 21 00", "01 00 01"}, {"01 00 00"}},
        {"OV10823_1", 0x03, {"38 20 00", "01 00 01"}, {"01 00 00"}},
        {"IMX219_0", 0x02, {"06 01 00", "01 00 01"}, {"01 00 00"}},
        {"IMX477_1", 0x01, {"06 01 00", "01 00 01"}, {"01 00 00"}},
        {"GC5035", 0x00, {"FE 00", "3E 91"}, {"FE 00", "3F 01"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Wire(entry(c.name));
        Create(entry(c.name));
        ASSERT_EQ(Sensor_SetMode(handle_, c.mode, SENSOR_FLIP_NONE), QOR_RES_OK);
        norva_sim::ClearI2cLog();
        ASSERT_EQ(Sensor_Enable(handle_), QOR_RES_OK);
        EXPECT_GE(findRun(writes(), c.enableTail), 0);
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
    for (const char *name : {"OV5647_0", "OV10823_0", "OV5695_0", "IMX219_0", "IMX477_0", "GC5035"}) {
        SCOPED_TRACE(name);
        const Entry &e = entry(name);
        Start(e, 0x00);
        // Unknown modes.
        SENSOR_MODE m{};
        EXPECT_EQ(Sensor_GetMode(handle_, 0x0F, &m), QOR_RES_NOT_SUPPORTED);
        logOf([&] { EXPECT_EQ(Sensor_SetMode(handle_, 0x10, 0), QOR_RES_NOT_SUPPORTED); });
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
        EXPECT_EQ(exposure, maxExp);
        EXPECT_DOUBLE_EQ(gain, maxGain);
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

} // namespace
