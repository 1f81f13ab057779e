#ifndef NORVA_SIM_LENS_H
#define NORVA_SIM_LENS_H
/*
 * The focus lens in front of a streaming simulated sensor. Its voice-coil actuator sits at 0x0C on the sensor's
 * bus (8-bit registers that read back what was written; the 10-bit code in 0x03 bits 1:0 and 0x04; or the GC8034's
 * actuator, one 2-byte write per code), and the code is the lens position. The scene seen through the lens carries a fine texture (a checker of 2x2 Bayer cells whose
 * signal is scaled by 1 +/- texture) and is blurred by a box of radius |code - inFocus| x blurPerCode cells (a
 * fractional radius blends the two nearest boxes), each colour plane on its own, so the focus statistics peak where
 * the scene is sharp.
 */
#include <memory>

#include "platform/sim_sensor_models.h"
#include "platform/sim_standalone_sensors.h"

namespace norva_sim {

/** What the lens sees: where it is sharp, how fast it blurs away from there, how much detail there is. */
struct LensScene {
    double inFocus = 400;      /**< actuator code where the scene is sharp */
    double blurPerCode = 0.02; /**< blur radius in Bayer cells per code away from inFocus */
    double maxRadius = 32;     /**< radius of the blur at most, cells */
    double texture = 0.5;      /**< contrast of the checker, 0..1 */
};

/** The actuator of the lens: a register file at 0x0C whose code moves the lens. */
class LensActuator : public S5k3p9Actuator {
public:
    explicit LensActuator(unsigned port) : port_(port) {}
    void writeRegister(uint16_t reg, uint8_t value) override;
    /** The lens position: the actuator's 10-bit code. */
    unsigned position() { return ((readRegister(0x03) & 0x03u) << 8) | readRegister(0x04); }

private:
    unsigned port_;
};

/**
 * Puts a lens with its actuator (at 0x0C on `bus`, replacing a device there) in front of the sensor streaming into
 * imager port `port`.
 */
std::shared_ptr<LensActuator> AttachFocusLens(unsigned bus, unsigned port, const LensScene &scene);
/**
 * Puts a lens in front of the sensor streaming into imager port `port`, moved by a GC8034's actuator at 0x0C on `bus`
 * (replacing a device there): the 10-bit code of its writes is the lens position.
 */
std::shared_ptr<Gc8034Lens> AttachGc8034FocusLens(unsigned bus, unsigned port, const LensScene &scene);
/** Takes the lens away from a port: the port's frames pass as the sensor renders them (the board's take-down). */
void RemoveLens(unsigned port);
/** Moves the lens of a port to an actuator code (what an actuator does on each write of its code). */
void MoveLens(unsigned port, unsigned code);
/** Changes what the lens of a port sees. */
void SetLensScene(unsigned port, const LensScene &scene);
/** The blur radius (cells) the lens of a port renders with now; 0 without a lens. */
double LensBlurRadius(unsigned port);

/**
 * Called by a port's frame source on each rendered frame (width x height samples, 2x2 Bayer cells, black at
 * pedestal, full scale top): applies the texture and the blur of the port's lens, if it has one. Scratch grows
 * only.
 */
void RenderThroughLens(unsigned port, uint16_t *frame, unsigned width, unsigned height, float pedestal, float top);

} // namespace norva_sim

#endif /* NORVA_SIM_LENS_H */
