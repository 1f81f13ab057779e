#ifndef NORVA_SIM_SENSOR_H
#define NORVA_SIM_SENSOR_H

/*
 * Simulated image sensors on the board's I2C buses. The OV4689 model is written from the sensor's register
 * descriptions: it answers only while powered (power-down line at its active level, reset high), identifies
 * itself, resets on 0x0103, holds register groups (0x3208), streams on 0x0100, and decodes lanes, size, totals,
 * PLL (at its own clock), exposure, gain and flips from its registers.
 */

#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "platform/sim_board.h"
#include "platform/sim_chart.h"

namespace norva_sim {

/** Where a simulated sensor sits on the board. */
struct SensorWiring {
    unsigned bus = 1;
    uint8_t address = 0x36;
    unsigned pwdnChip = 0;
    int pwdnLine = 11;  /* negative: not wired (always active) */
    int pwdnActive = 1; /* level of the power-down line while the sensor runs */
    unsigned resetChip = 0;
    int resetLine = 10; /* negative: not wired */
    double clockMHz = 27.0;
    unsigned port = 0; /* the imager port its PHY feeds */
};

/** What the registers say, decoded as the sensor would. */
struct Ov4689State {
    bool powered = false;
    bool streaming = false;
    unsigned lanes = 0;
    unsigned bitDepth = 0;
    unsigned width = 0, height = 0;
    unsigned hts = 0, vts = 0;
    double sclk = 0;      /* Hz */
    double rowTimeUs = 0; /* hts / sclk */
    double frameRate = 0;
    unsigned pll1Multiplier = 0, pll2Multiplier = 0;
    uint32_t lines = 0; /* exposure of context 0, whole lines */
    double exposureUs = 0;
    uint16_t gainCode = 0;
    double gain = 0;
    bool hflip = false, vflip = false;
    bool testPattern = false;
    unsigned groupLaunches = 0; /* register groups launched so far */
};

/** What a streaming sensor sends down its lanes, as the frame source of its imager port reads it. */
struct SensorOutput {
    bool streaming = false;
    unsigned lanes = 0;
    unsigned bitDepth = 0;
    unsigned width = 0, height = 0;
    double exposureUs = 0;
    double gain = 0;
    bool hflip = false, vflip = false;
    /** Flips mirror single pixels, so the Bayer phase moves with them; otherwise whole 2x2 cells move. */
    bool pixelFlip = false;
    /** The sensor's own mosaic against the scene's BGGR one: the scene is read shifted by (phaseX, phaseY). */
    unsigned phaseX = 0, phaseY = 0;
};

/** What a sensor whose mosaic and flips follow the scene's (BGGR, flips by 2x2 cells) sends, from its registers. */
SensorOutput CellFlippingOutput(const Ov4689State &s);

/** A simulated sensor whose frames feed an imager port. */
class FrameSensor {
public:
    virtual ~FrameSensor() = default;
    virtual SensorOutput output() const = 0;
};

class Ov4689Model : public I2cDevice, public FrameSensor {
public:
    explicit Ov4689Model(const SensorWiring &wiring);
    unsigned addressWidth() const override { return 2; }
    bool answers() override;
    uint8_t readRegister(uint16_t reg) override;
    void writeRegister(uint16_t reg, uint8_t value) override;

    /** A register as it stands (no bus traffic). */
    uint8_t peek(uint16_t reg) const { return regs_[reg]; }
    Ov4689State state() const;
    SensorOutput output() const override;
    const SensorWiring &wiring() const { return wiring_; }
    /** Called on every change of a GPIO line: a sensor that loses power forgets its registers. */
    void gpioChanged();

private:
    void reset();
    void apply(uint16_t reg, uint8_t value);
    bool poweredNow() const;

    SensorWiring wiring_;
    uint8_t regs_[65536];
    int recording_ = -1; /* register group being recorded */
    std::vector<std::pair<uint16_t, uint8_t>> groups_[4];
    unsigned launches_ = 0;
    bool wasPowered_ = false;
};

/**
 * Puts an OV4689 on the board as wired. Its frames feed imager port `wiring.port` while it streams, its PHY is on
 * with the lanes the sensor uses and the port is claimed (see platform/README.md, "Sensor frames").
 */
std::shared_ptr<Ov4689Model> AttachOv4689(const SensorWiring &wiring);

/* ---- The scene the simulated sensors see: the test chart (platform/sim_chart.h, platform/sim_world.h) ---- */

/** A rectangle of the scene in pixels, on whole 2x2 cells. */
struct SceneRect {
    unsigned x0, y0, x1, y1; /* [x0, x1) x [y0, y1) */
};
SceneRect SceneRectOf(const ChartRect &r);
/** Which of the chart's neutral patches SceneGreyPatch is (level 0.35). */
constexpr int kSceneGreyPatch = 3;
/** The grey patch (a neutral patch: the same reflectance on every channel) and the patch bright enough to clip. */
SceneRect SceneGreyPatch(unsigned width, unsigned height);
SceneRect SceneClippedPatch(unsigned width, unsigned height);
/** The grey ramp (darkest at the left), neutral patch i (0 to 5, darkest first), colour patch i, the fine edges. */
SceneRect SceneRamp(unsigned width, unsigned height);
SceneRect SceneNeutralPatch(int i, unsigned width, unsigned height);
SceneRect SceneColourPatch(int i, unsigned width, unsigned height);
SceneRect SceneEdges(unsigned width, unsigned height);
/**
 * Radiance at a pixel of a BGGR mosaic of the scene under the light now, through the lens: digital numbers per
 * microsecond at gain 1, 10 bits.
 */
float SceneRadiance(unsigned x, unsigned y, unsigned width, unsigned height);
/** The black level the sensor adds at a bit depth (64 at 10 bits). */
unsigned SensorPedestal(unsigned bitDepth);

/** Frames of the sensor on a port. */
struct SensorFrameCounters {
    uint64_t frames = 0;
    uint64_t laneMismatches = 0; /* frames requested while the PHY and the sensor disagreed on the lanes */
};
SensorFrameCounters GetSensorFrameCounters(unsigned port);

/**
 * Renders the sensor's current frame as the port would receive it (what the frame source does per frame);
 * false when the sensor does not stream. The samples stay valid until the next render.
 */
bool RenderSensorFrame(unsigned port, const uint16_t **samples, unsigned *width, unsigned *height, unsigned *bitDepth);

} // namespace norva_sim

#endif /* NORVA_SIM_SENSOR_H */
