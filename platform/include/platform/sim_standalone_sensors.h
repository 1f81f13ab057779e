#ifndef NORVA_SIM_STANDALONE_SENSORS_H
#define NORVA_SIM_STANDALONE_SENSORS_H

/*
 * Simulated sensors of the stand-alone drivers, written from the sensors' register descriptions. Each decodes its
 * size, clock, exposure, gain and flips into an Ov4689State (the frame source's view of a sensor) and streams the
 * scene into its imager port while it streams and its PHY is on with its lanes.
 */

#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "platform/sim_board.h"
#include "platform/sim_sensor.h"

namespace norva_sim {

/** OV4688 at 0x36 on bus 0 (id 0x4688), 24 MHz, no power lines; group hold on 0x3208; frames into port 1. */
class Ov4688Model : public I2cDevice, public FrameSensor {
public:
    Ov4688Model();
    unsigned addressWidth() const override { return 2; }
    uint8_t readRegister(uint16_t reg) override;
    void writeRegister(uint16_t reg, uint8_t value) override;

    uint8_t peek(uint16_t reg) const { return regs_[reg]; }
    /** Another chip identifier (a different part at the address). */
    void setChipId(uint16_t id);
    Ov4689State state() const;
    SensorOutput output() const override { return CellFlippingOutput(state()); }

private:
    void reset();
    void apply(uint16_t reg, uint8_t value);

    uint8_t regs_[65536];
    uint16_t chipId_ = 0x4688;
    int recording_ = -1;
    std::vector<std::pair<uint16_t, uint8_t>> groups_[4];
    unsigned launches_ = 0;
};

std::shared_ptr<Ov4688Model> AttachOv4688();

/**
 * S5K3P9 at 0x2D (id 0x3109) on the wired bus, 16-bit registers stored high byte first; answers only while powered
 * (power-down line at its active level, reset high), resets on 0x6010 bit 0; 0x0005 reads 0xFF in standby; 4 lanes
 * at 560 MHz (row time = line length / 560 us); frames into the wired port, GRBG.
 */
class S5k3p9Model : public I2cDevice, public FrameSensor {
public:
    explicit S5k3p9Model(const SensorWiring &wiring);
    unsigned addressWidth() const override { return 2; }
    bool answers() override;
    uint8_t readRegister(uint16_t reg) override;
    void writeRegister(uint16_t reg, uint8_t value) override;

    uint8_t peek(uint16_t reg) const { return regs_[reg]; }
    /** A sensor that never reports standby (0x0005 never reads 0xFF). */
    void setNeverStandby(bool never) { neverStandby_ = never; }
    void setChipId(uint16_t id);
    Ov4689State state() const;
    /** GRBG unflipped; its flips mirror single pixels, so the order moves with them. */
    SensorOutput output() const override;
    void gpioChanged();

private:
    void reset();
    bool poweredNow() const;

    SensorWiring wiring_;
    uint8_t regs_[65536];
    uint16_t chipId_ = 0x3109;
    bool neverStandby_ = false;
    bool wasPowered_ = false;
};

/** The focus actuator at 0x0C (8-bit registers): start-up registers 0x02, 0x06, 0x07 and the code in 0x03/0x04. */
class S5k3p9Actuator : public I2cRegisterDevice {
public:
    S5k3p9Actuator() : I2cRegisterDevice(1) {}
    bool started() { return readRegister(0x02) == 0x02 && readRegister(0x06) == 0x61 && readRegister(0x07) == 0x39; }
    unsigned code() { return (readRegister(0x03) << 8) | readRegister(0x04); }
};

std::shared_ptr<S5k3p9Model> AttachS5k3p9(const SensorWiring &wiring);
std::shared_ptr<S5k3p9Actuator> AttachS5k3p9Actuator(unsigned bus);

/**
 * AR330 at 0x10 on bus 0, 16-bit registers (stored high byte first at the even address): a 4-byte write is a register
 * write, and a read starts at the register the last write addressed (so a read is set up with a write to the
 * register; the chip version 0x3000 and revision 0x30F0 ignore writes). Streams while 0x301A bit 2 is set, 10-bit
 * parallel (no PHY lanes) into port 2, GRBG.
 */
class Ar330Model : public I2cDevice, public FrameSensor {
public:
    Ar330Model();
    unsigned addressWidth() const override { return 2; }
    uint8_t readRegister(uint16_t reg) override;
    void writeRegister(uint16_t reg, uint8_t value) override;

    uint16_t value(uint16_t reg) const;
    /** Sets a register as the sensor would hold it (no bus traffic). */
    void poke(uint16_t reg, uint16_t value);
    Ov4689State state() const;
    /** GRBG, whole 2x2 cells flipping, so the order stays. */
    SensorOutput output() const override {
        SensorOutput o = CellFlippingOutput(state());
        o.phaseY = 1;
        return o;
    }

private:
    uint8_t regs_[65536];
    uint16_t lastWritten_ = 0;  /* the register the last write addressed */
    bool readRestarts_ = false; /* a write came since the last read */
    uint16_t cursor_ = 0;       /* the next byte a read returns */
};

std::shared_ptr<Ar330Model> AttachAr330();

/** The sample of the external generator board's pattern at (x, y): 8 bits. */
uint16_t ZynqPattern(unsigned x, unsigned y);

/** What the generator board does now. */
struct ZynqState {
    bool powered = false;   /* power-down and reset lines both high */
    bool streaming = false; /* powered, PHY on with 2 lanes, a supported size announced, port claimed */
    unsigned width = 0, height = 0;
    uint64_t frames = 0;
};

/**
 * Puts the external MIPI generator board on the connector of `wiring.port` (lines as wired): it streams
 * ZynqPattern at 64 x 64 or 640 x 480 (the size the PHY record announces), 8 bits, only while both lines are high and
 * the port's PHY is on with 2 lanes.
 */
void AttachZynqBoard(const SensorWiring &wiring);
ZynqState GetZynqState();

} // namespace norva_sim

#endif /* NORVA_SIM_STANDALONE_SENSORS_H */
