#ifndef NORVA_SIM_BOARD_H
#define NORVA_SIM_BOARD_H

/*
 * The simulated board around the ISP: GPIO chips behind the GPIO seam calls, I2C buses "/dev/i2c-N" with
 * register devices by address, sensor PHY devices "/dev/sensor_phyN", platform files under a platform root, and
 * one event log in which GPIO, I2C, PHY and (virtual) sleeps appear in the order they happened.
 */

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace norva_sim {

/* ---- Event log ---- */

/** The board's events in order, e.g. "open gpiochip0", "sleep 1000", "I2C_SLAVE 0x36", "write 30 0a". */
std::vector<std::string> BoardEvents();
void ClearBoardEvents();
/** Appends an event (bounded: beyond 65536 events the oldest are no longer kept). */
void AddBoardEvent(const std::string &event);

/* ---- Platform files ---- */

/**
 * Platform files ("/etc/..." and "/proc/...") are looked up under this directory while it is set ("" = the
 * real paths). Other paths (a user's HOME, temporary files) are used as they are.
 */
void SetPlatformRoot(const std::string &root);
std::string PlatformRoot();
/** The path a platform file is read from. */
std::string PlatformPath(const char *path);

/* ---- GPIO ---- */

/** Chips "gpiochip0" to "gpiochip<n-1>" exist (default 8), each with 64 lines. */
void SetGpioChipCount(unsigned count);
/** Opening the chip fails while set. */
void SetGpioChipAbsent(unsigned chip, bool absent);
enum class GpioFault { GetLine, Request, Set };
/** The operation on that line fails while set. */
void InjectGpioFault(unsigned chip, unsigned line, GpioFault fault);
/** The line's level: 0 or 1, -1 when never driven. A released line keeps its last level. */
int GpioLevel(unsigned chip, unsigned line);
/** Chip handles open now. */
int GpioOpenChips();

/* ---- I2C ---- */

/** A device on a bus: a register model with 1- or 2-byte register addresses. */
class I2cDevice {
public:
    virtual ~I2cDevice() = default;
    /** Register address width in bytes (1 or 2). */
    virtual unsigned addressWidth() const = 0;
    /** False: the device does not acknowledge (unpowered). */
    virtual bool answers() { return true; }
    virtual uint8_t readRegister(uint16_t reg) = 0;
    virtual void writeRegister(uint16_t reg, uint8_t value) = 0;
};

/** A plain register file: every register 0 until written. */
class I2cRegisterDevice : public I2cDevice {
public:
    explicit I2cRegisterDevice(unsigned width) : width_(width), regs_(width == 1 ? 256 : 65536, 0) {}
    unsigned addressWidth() const override { return width_; }
    uint8_t readRegister(uint16_t reg) override { return regs_[reg % regs_.size()]; }
    void writeRegister(uint16_t reg, uint8_t value) override { regs_[reg % regs_.size()] = value; }

private:
    unsigned width_;
    std::vector<uint8_t> regs_;
};

/** Puts a device on bus N at a 7-bit address (replacing one there); null removes it. */
void AttachI2cDevice(unsigned bus, uint8_t address, std::shared_ptr<I2cDevice> device);
void DetachI2cDevices();
/** Buses "/dev/i2c-0" to "/dev/i2c-7" exist; opening a bus fails while set. */
void SetI2cBusAbsent(unsigned bus, bool absent);

enum class I2cFault {
    FailIoctl, /* the slave-address ioctl fails */
    ShortWrite,
    ShortRead
};
/** The next such operation on the bus (after skip others) fails once. */
void InjectI2cFault(unsigned bus, I2cFault fault, unsigned skip = 0);

struct I2cTransaction {
    unsigned bus;
    uint8_t address;
    char kind; /* 'a' slave address, 'w' write, 'r' read */
    std::vector<uint8_t> bytes;
    bool ok;
};
std::vector<I2cTransaction> I2cLog();
void ClearI2cLog();
/** Bus descriptors open now. */
int I2cOpenDescriptors();

/* ---- Sensor PHY ---- */

constexpr unsigned long kPhyConfigure = 0x8020F000ul;
constexpr unsigned long kPhyReset = 0x8020F003ul;
constexpr unsigned long kPhyMux = 0x8020F004ul;
constexpr unsigned kPhyCount = 4;

struct PhyRecord {
    unsigned phy;
    unsigned long request;
    uint8_t record[32];
};
std::vector<PhyRecord> PhyLog();
void ClearPhyLog();

/** The PHY as last configured: it feeds imager port N with the lanes it was switched on with. */
struct PhyState {
    bool enabled = false;
    uint8_t lanes = 0;
    uint8_t hsFreqRange = 0;
    uint16_t oscFreq = 0;
    uint32_t frameWidth = 0, frameHeight = 0; /* the frame size the record announces */
};
PhyState GetPhyState(unsigned phy);
/** Opening the PHY fails while set. */
void SetPhyAbsent(unsigned phy, bool absent);
/** The next ioctl on the PHY fails with -1 (EIO). */
void FailNextPhyIoctl(unsigned phy);
int PhyOpenDescriptors();

/** Restores the board defaults (no devices, no faults, logs cleared, no platform root). */
void ResetBoard();

} // namespace norva_sim

#endif /* NORVA_SIM_BOARD_H */
