#ifndef NORVA_SIM_DEFAULT_BOARD_H
#define NORVA_SIM_DEFAULT_BOARD_H

/*
 * The board every process on the simulated platform finds: the sensor slots of its board file, the device-tree
 * model that names that file, the ISP's four imager ports, and the register models of the sensors named by
 * NORVA_SIM_SENSORS (default "OV4689_0") plugged into their positions. Its platform files are served from memory,
 * so nothing is written anywhere; a user's board file under HOME is read first, as on any board.
 *
 * It is built at the process's first use of the platform. A test fixture that resets the platform or sets a
 * platform root of its own takes the board over: the default board is taken down and stays down until
 * UseDefaultBoard() asks for it again.
 */

#include <string>
#include <vector>

namespace norva_sim {

/** The device-tree model of the default board; its board file is "/etc/norva/boardcfg/<model>.cfg". */
constexpr const char *kDefaultBoardModel = "norva-simboard";
/** The environment variable naming the sensors plugged into the default board. */
constexpr const char *kSensorsVariable = "NORVA_SIM_SENSORS";

/** Where a sensor sits on the default board. */
struct BoardPosition {
    const char *name; /* the registry name */
    int slot;         /* the "-Sensor<slot>_" keys of the board file; -1: the sensor reads no board file */
    unsigned bus;     /* its I2C bus */
    unsigned port;    /* the imager port its PHY feeds */
    unsigned phy;     /* its sensor PHY, "/dev/sensor_phy<phy>" */
};
/** The positions of the default board, one per registry name but the ISP's internal data generator. */
const std::vector<BoardPosition> &DefaultBoardPositions();

/**
 * Reads NORVA_SIM_SENSORS: the registry names in order, each at its position. False, with a message that names the
 * variable, for an unknown name or two sensors at one slot (one imager port); unset gives "OV4689_0".
 */
bool SensorsFromEnvironment(std::vector<std::string> *names, std::string *error);

/**
 * Clears the platform root, takes down the default board if it is up and builds it again from the environment now.
 * False when the environment is wrong (see BoardEnvironmentError()). Devices a fixture attached stay: reset the
 * platform first for a board of the default board's alone.
 */
bool UseDefaultBoard();
/** Whether the default board is up now. */
bool DefaultBoardActive();
/** The sensors plugged into the default board, in the order named. */
std::vector<std::string> DefaultBoardSensors();
/** What a plugged sensor's registers say now, decoded by its model. */
struct BoardSensorView {
    bool registers = false; /* false for the generator board, which has no registers (size and streaming only) */
    bool powered = false;
    bool streaming = false;
    unsigned width = 0, height = 0;
    double rowTimeUs = 0;
    double exposureUs = 0;
    double gain = 0;
    bool hflip = false, vflip = false;
};
/** The view of the sensor plugged as `name`; false when no such sensor is plugged. */
bool DefaultBoardSensor(const std::string &name, BoardSensorView *view);

/**
 * What was wrong with the platform's environment when the default board was last built ("" when nothing). The
 * message was logged once; while it stands, the board's sensor devices refuse to open, so every sensor fails at
 * its first step and nothing waits for frames that cannot come.
 */
std::string BoardEnvironmentError();

} // namespace norva_sim

#endif /* NORVA_SIM_DEFAULT_BOARD_H */
