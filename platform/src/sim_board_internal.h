#ifndef NORVA_SIM_BOARD_INTERNAL_H
#define NORVA_SIM_BOARD_INTERNAL_H

/* What the seam table of the simulation asks of the simulated board. */

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>

#include "sys/sys_seam.h"

namespace norva_sim {

/** The board's lock (recursive: device models may query GPIO levels while a bus operation runs). */
std::recursive_mutex &BoardMutex();

/** Adds an event to the board's log from text that need not end with a nul; allocates nothing. */
void AddBoardEventText(const char *text, size_t length);

SEAM_GPIO_CHIP *SimGpioChipOpenByName(const char *name);
SEAM_GPIO_LINE *SimGpioChipGetLine(SEAM_GPIO_CHIP *chip, unsigned int offset);
int SimGpioLineRequestOutput(SEAM_GPIO_LINE *line, const char *consumer, int value);
int SimGpioLineSetValue(SEAM_GPIO_LINE *line, int value);
void SimGpioChipClose(SEAM_GPIO_CHIP *chip);

/** Called after a line changed level (device models follow their power and reset lines). */
using GpioListener = void (*)(unsigned chip, unsigned line, int level);
void AddGpioListener(GpioListener listener);

struct SensorWiring;
/**
 * Whether a sensor's lines let it run: the power-down line at its active level and reset released (high). A line
 * that is not wired does not hold the sensor off.
 */
bool WiringPowered(const SensorWiring &wiring);

class FrameSensor;
/** Makes the sensor the frame source of the imager port. */
void PlugSensorFrames(const std::shared_ptr<FrameSensor> &model, unsigned port);

/* ---- The default board (sim_default_board.cpp) ---- */

/** Builds the default board at the process's first use of the platform (nothing once a fixture took over). */
void EnsureDefaultBoard();
/** A fixture takes the board over: the default board goes down (its devices too when asked) until asked again. */
void DefaultBoardOff(bool takeDownDevices);
/** True while the environment the default board was built from is wrong: its sensor devices refuse to open. */
bool DefaultBoardRefusesDevices();
/** Nobody answered at the address: on the default board, the first time, says which sensors it carries. */
void DefaultBoardNoAnswer(unsigned bus, uint8_t address);
/** A PHY was switched on: on the default board, when no sensor sits behind it, says so the first time. */
void DefaultBoardPhyEnabled(unsigned phy);
/**
 * The default board's platform files ("/proc/device-tree/model", "/etc/norva/..."), from memory: true when the path
 * is the board's (then *file is the stream, or null with errno set), false for any other path.
 */
bool ServeDefaultBoardFile(const char *path, const char *mode, FILE **file);

/* Parts of ResetBoard. */
void ResetBoardGpio();
void ResetBoardI2c();
void ResetBoardPhy();

} // namespace norva_sim

#endif /* NORVA_SIM_BOARD_INTERNAL_H */
