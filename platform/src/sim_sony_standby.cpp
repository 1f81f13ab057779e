// The simulated standby-controlled Sony sensors (IMX415, IMX335, IMX327, IMX662). They share the control
// registers: standby 0x3000 and master stop 0x3002 (both 1 at power-on; the sensor streams once both are 0), and
// REGHOLD 0x3001, which holds every other write while it is 1 and applies the held writes, in order, when it goes
// back to 0. Each decodes its own window, lanes, AD width, frame length (VMAX) and line length (HMAX), shutter,
// gain code (0.3 dB steps) and orientation; 16- and 24-bit values are stored low byte first. Flips move whole 2x2
// cells, so the Bayer order stays as the sensor's own (IMX415 GBRG, the others RGGB).
#include <cmath>
#include <memory>
#include <utility>
#include <vector>

#include "platform/sim_sensor_models.h"

namespace norva_sim {
namespace {

constexpr uint16_t kStandby = 0x3000;
constexpr uint16_t kRegHold = 0x3001;
constexpr uint16_t kMasterStop = 0x3002;

unsigned le(const std::vector<uint8_t> &r, uint16_t reg, unsigned bytes) {
    unsigned v = 0;
    for (unsigned i = 0; i < bytes; i++)
        v |= static_cast<unsigned>(r[reg + i]) << (8 * i);
    return v;
}

double dbGain(unsigned code) { return std::pow(10.0, code * 0.3 / 20.0); }

class SonyStandbyModel : public RegisterSensorModel {
public:
    /** (phaseX, phaseY): where the sensor's mosaic starts in the scene's BGGR one (GBRG 1, 0; RGGB 1, 1). */
    SonyStandbyModel(const SensorWiring &w, uint16_t idRegister, uint8_t id0, uint8_t id1, unsigned phaseX,
                     unsigned phaseY)
        : RegisterSensorModel(w, 2) {
        phaseX_ = phaseX;
        phaseY_ = phaseY;
        setFixed(idRegister, id0);
        setFixed(static_cast<uint16_t>(idRegister + 1), id1);
        setFixed(kStandby, 0x01);
        setFixed(kMasterStop, 0x01);
    }

protected:
    void reset() override {
        RegisterSensorModel::reset();
        held_.clear();
    }
    bool streamOn() const override { return (regs_[kStandby] & 1) == 0 && (regs_[kMasterStop] & 1) == 0; }
    void store(uint16_t reg, uint8_t value) override {
        if (reg == kRegHold) {
            regs_[reg] = value;
            if ((value & 1) == 0) {
                for (const auto &w : held_)
                    regs_[w.first] = w.second;
                held_.clear();
            }
            return;
        }
        if ((regs_[kRegHold] & 1) != 0) {
            held_.emplace_back(reg, value);
            return;
        }
        regs_[reg] = value;
    }

private:
    std::vector<std::pair<uint16_t, uint8_t>> held_;
};

class Imx415Model : public SonyStandbyModel {
public:
    explicit Imx415Model(const SensorWiring &w) : SonyStandbyModel(w, 0x3064, 0x4A, 0x00, 1, 0) {}

protected:
    void decode(SimSensorState *s) const override {
        const std::vector<uint8_t> &r = regs_;
        if (r[0x301C] == 4) {
            s->width = 3072;
            s->height = 2192;
        } else if (r[0x3022] == 1) {
            s->width = 1932;
            s->height = 1096;
        } else {
            s->width = 3864;
            s->height = 2192;
        }
        s->lanes = r[0x4001] == 3 ? 4 : 2;
        s->bitDepth = r[0x3032] != 0 ? 12 : 10;
        s->vts = le(r, 0x3024, 3) & 0xFFFFF;
        s->hts = le(r, 0x3028, 2);
        s->pixelClock = 74.25e6;
        s->rowTimeUs = s->hts / 74.25;
        s->frameRate = s->rowTimeUs > 0 && s->vts ? 1e6 / (s->rowTimeUs * s->vts) : 0;
        const unsigned shr = le(r, 0x3050, 3) & 0xFFFFF;
        s->lines = s->vts > shr ? s->vts - shr : 0;
        s->analogueGain = dbGain(r[0x3090] | ((r[0x3091] & 1u) << 8));
        s->digitalGain = 1.0;
        s->vflip = (r[0x3030] & 2) != 0;
        s->hflip = (r[0x3030] & 1) != 0;
    }
};

class Imx335Model : public SonyStandbyModel {
public:
    explicit Imx335Model(const SensorWiring &w) : SonyStandbyModel(w, 0x306C, 0x88, 0x06, 1, 1) {}

protected:
    void decode(SimSensorState *s) const override {
        const std::vector<uint8_t> &r = regs_;
        switch (r[0x3018]) {
        case 1:
            s->width = 1296;
            s->height = 972;
            break;
        case 4:
            s->width = (r[0x302F] & 0x0F) * 256u + r[0x302E];
            s->height = ((r[0x3077] & 0x1Fu) << 7) + (r[0x3076] >> 1);
            break;
        default:
            s->width = 2592;
            s->height = 1944;
            break;
        }
        s->lanes = r[0x3A01] == 3 ? 4 : 2;
        s->bitDepth = r[0x319D] != 0 ? 12 : 10;
        s->vts = le(r, 0x3030, 3) & 0xFFFFF; // half lines
        s->hts = le(r, 0x3034, 2);
        s->pixelClock = 37.125e6;
        const double row = s->hts / 37.125;
        s->frameRate = row > 0 && s->vts >= 2 ? 1e6 / (row * (s->vts / 2)) : 0;
        // The shutter counts half rows: `lines` and `rowTimeUs` are in half rows.
        s->rowTimeUs = row / 2;
        const unsigned shr = le(r, 0x3058, 3) & 0xFFFFF;
        s->lines = s->vts > shr ? s->vts - shr : 0;
        s->analogueGain = dbGain(r[0x30E8] | ((r[0x30E9] & 7u) << 8));
        s->digitalGain = 1.0;
        s->vflip = r[0x304F] != 0;
        s->hflip = r[0x304E] != 0;
    }
};

class Imx327Model : public SonyStandbyModel {
public:
    explicit Imx327Model(const SensorWiring &w) : SonyStandbyModel(w, 0x301E, 0xB2, 0x01, 1, 1) {}

protected:
    void decode(SimSensorState *s) const override {
        const std::vector<uint8_t> &r = regs_;
        if (((r[0x3007] >> 4) & 7) == 1) {
            s->width = 1280;
            s->height = 720;
        } else {
            s->width = 1920;
            s->height = 1080;
        }
        s->lanes = r[0x3443] == 3 ? 4 : 2;
        s->bitDepth = r[0x3005] != 0 ? 12 : 10;
        s->vts = le(r, 0x3018, 3) & 0x3FFFF;
        s->hts = le(r, 0x301C, 2);
        s->pixelClock = 148.5e6;
        s->rowTimeUs = s->hts / 148.5;
        s->frameRate = s->rowTimeUs > 0 && s->vts ? 1e6 / (s->rowTimeUs * s->vts) : 0;
        const unsigned shs = le(r, 0x3020, 3) & 0x3FFFF;
        s->lines = s->vts > shs + 1 ? s->vts - shs - 1 : 0;
        s->analogueGain = dbGain(r[0x3014]);
        s->digitalGain = 1.0;
        s->vflip = (r[0x3007] & 1) != 0;
        s->hflip = (r[0x3007] & 2) != 0;
    }
};

class Imx662Model : public SonyStandbyModel {
public:
    explicit Imx662Model(const SensorWiring &w) : SonyStandbyModel(w, 0x3060, 0x95, 0x00, 1, 1) {
        setFixed(0x3081, 0x02); // the extra exposure gain setting at power-on
    }

protected:
    void decode(SimSensorState *s) const override {
        const std::vector<uint8_t> &r = regs_;
        s->width = 1936;
        s->height = 1100;
        s->lanes = r[0x3040] == 3 ? 4 : 2;
        s->bitDepth = r[0x3022] != 0 ? 12 : 10;
        s->vts = le(r, 0x3028, 3) & 0xFFFFF;
        s->hts = le(r, 0x302C, 2);
        s->pixelClock = 74.25e6;
        s->rowTimeUs = s->hts / 74.25;
        s->frameRate = s->rowTimeUs > 0 && s->vts ? 1e6 / (s->rowTimeUs * s->vts) : 0;
        const unsigned shr = le(r, 0x3050, 3) & 0xFFFFF;
        s->lines = s->vts > shr ? s->vts - shr : 0;
        // With high conversion gain in linear mode the code's gain includes the conversion step (x1.41).
        const bool highGain = r[0x3030] != 0 && r[0x301A] == 0;
        s->analogueGain = dbGain(r[0x3070] | ((r[0x3071] & 7u) << 8)) / (highGain ? 1.41 : 1.0);
        s->digitalGain = 1.0;
        s->vflip = r[0x3021] != 0;
        s->hflip = r[0x3020] != 0;
    }
};

template <typename Model> std::shared_ptr<RegisterSensorModel> attach(SensorWiring wiring) {
    wiring.address = 0x1A;
    auto model = std::make_shared<Model>(wiring);
    AttachSensorModel(model);
    return model;
}

} // namespace

std::shared_ptr<RegisterSensorModel> AttachImx415(SensorWiring wiring) { return attach<Imx415Model>(wiring); }
std::shared_ptr<RegisterSensorModel> AttachImx335(SensorWiring wiring) { return attach<Imx335Model>(wiring); }
std::shared_ptr<RegisterSensorModel> AttachImx327(SensorWiring wiring) { return attach<Imx327Model>(wiring); }
std::shared_ptr<RegisterSensorModel> AttachImx662(SensorWiring wiring) { return attach<Imx662Model>(wiring); }

} // namespace norva_sim
