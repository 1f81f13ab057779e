#ifndef NORVA_SIM_SENSOR_MODELS_H
#define NORVA_SIM_SENSOR_MODELS_H

/*
 * Register models of more simulated sensors, each written from the sensor's register descriptions: a register
 * file that answers only while powered (power-down line at its active level, reset high) and forgets everything
 * when power goes, the chip identifier, the stream control, and the decoding of size, timing, exposure, gain and
 * flips. Each streams the scene into its imager port in its own Bayer order and bit depth.
 */

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/sim_sensor.h"

namespace norva_sim {

/** What the registers of a sensor say, decoded as the sensor would. */
struct SimSensorState {
    bool powered = false;
    bool streaming = false;
    unsigned lanes = 0;
    unsigned bitDepth = 0;
    unsigned width = 0, height = 0;
    unsigned hts = 0, vts = 0;
    double pixelClock = 0; /* Hz */
    double rowTimeUs = 0;
    double frameRate = 0;
    uint32_t lines = 0; /* exposure in whole lines */
    double exposureUs = 0;
    double analogueGain = 0, digitalGain = 0;
    double gain = 0; /* analogue x digital */
    bool hflip = false, vflip = false;
};

/** The common body of the models: power, register file, the frame output from the decoded state. */
class RegisterSensorModel : public I2cDevice, public FrameSensor {
public:
    RegisterSensorModel(const SensorWiring &wiring, unsigned addressWidth);
    unsigned addressWidth() const override { return addressWidth_; }
    bool answers() override;
    uint8_t readRegister(uint16_t reg) override;
    void writeRegister(uint16_t reg, uint8_t value) override;
    SensorOutput output() const override;

    /** A register as it stands (no bus traffic). */
    uint8_t peek(uint16_t reg) const { return regs_[reg]; }
    /** Sets a register as the silicon holds it (for example a revision register), kept across power cycles. */
    void setFixed(uint16_t reg, uint8_t value);
    SimSensorState state() const;
    const SensorWiring &wiring() const { return wiring_; }
    void gpioChanged();

protected:
    /** The decoding of the registers, without the power and stream bits. */
    virtual void decode(SimSensorState *s) const = 0;
    virtual bool streamOn() const = 0;
    /** Stores a register write (a model may intercept it: reset, holds, pages). */
    virtual void store(uint16_t reg, uint8_t value) { regs_[reg] = value; }
    /** A register as a read on the bus sees it. */
    virtual uint8_t load(uint16_t reg) const { return regs_[reg % regs_.size()]; }
    /** Power-on state: every register 0 but the fixed ones. */
    virtual void reset();
    /** How the sensor flips and its mosaic against the scene's BGGR. */
    bool pixelFlip_ = false;
    unsigned phaseX_ = 0, phaseY_ = 0;
    std::vector<uint8_t> regs_;

private:
    bool poweredNow() const;
    SensorWiring wiring_;
    unsigned addressWidth_;
    std::vector<std::pair<uint16_t, uint8_t>> fixed_;
    bool wasPowered_ = false;
};

/** Puts a model on the board as wired: on its bus and address, its frames feeding `wiring.port`. */
void AttachSensorModel(const std::shared_ptr<RegisterSensorModel> &model);

/** IMX219 (0x10): flips by pixel, RGGB unflipped. */
std::shared_ptr<RegisterSensorModel> AttachImx219(SensorWiring wiring);
/** IMX477 (0x1A): flips by pixel, RGGB unflipped. */
std::shared_ptr<RegisterSensorModel> AttachImx477(SensorWiring wiring);
/** OV5647 (0x36): flips by 2x2 cells, BGGR. */
std::shared_ptr<RegisterSensorModel> AttachOv5647(SensorWiring wiring);
/** OV5695 (0x36): flips by 2x2 cells, BGGR. */
std::shared_ptr<RegisterSensorModel> AttachOv5695(SensorWiring wiring);
/** OV10823 (0x10): register groups, flips by 2x2 cells, BGGR. */
std::shared_ptr<RegisterSensorModel> AttachOv10823(SensorWiring wiring);
/** OV2718 (0x36): revision register 0x300D (0xE1; `setFixed` changes it), flips by 2x2 cells, BGGR. */
std::shared_ptr<RegisterSensorModel> AttachOv2718(SensorWiring wiring);
/** IMX415 (0x1A): standby 0x3000/0x3002, REGHOLD 0x3001, flips by 2x2 cells, GBRG. */
std::shared_ptr<RegisterSensorModel> AttachImx415(SensorWiring wiring);
/** IMX335 (0x1A): as the IMX415, RGGB; exposure lines and row time in half rows. */
std::shared_ptr<RegisterSensorModel> AttachImx335(SensorWiring wiring);
/** IMX327 (0x1A): as the IMX415, RGGB, 18-bit frame length, shutter SHS1. */
std::shared_ptr<RegisterSensorModel> AttachImx327(SensorWiring wiring);
/** IMX662 (0x1A): as the IMX415, RGGB, conversion gain and HDR mode. */
std::shared_ptr<RegisterSensorModel> AttachImx662(SensorWiring wiring);
/** GC8034 (0x37, 1-byte addresses, page register 0xFE): flips by pixel, RGGB unflipped. */
std::shared_ptr<RegisterSensorModel> AttachGc8034(SensorWiring wiring);
/** The GC8034's lens actuator at 0x0C: one 2-byte write carries a 10-bit code (0 at power-on). */
class Gc8034Lens : public I2cDevice {
public:
    /** With a port, the code moves the lens in front of that port's sensor (platform/sim_lens.h). */
    explicit Gc8034Lens(int port = -1) : port_(port) {}
    unsigned addressWidth() const override { return 1; }
    uint8_t readRegister(uint16_t /*reg*/) override { return 0; }
    void writeRegister(uint16_t reg, uint8_t value) override;
    uint16_t code() const;
    unsigned writes() const;

private:
    int port_;
    uint16_t code_ = 0;
    unsigned writes_ = 0;
};
std::shared_ptr<Gc8034Lens> AttachGc8034Lens(unsigned bus);
/** GC5035 (0x37, 1-byte addresses, page register 0xFE): flips by pixel, RGGB unflipped. */
std::shared_ptr<RegisterSensorModel> AttachGc5035(SensorWiring wiring);

} // namespace norva_sim

#endif /* NORVA_SIM_SENSOR_MODELS_H */
