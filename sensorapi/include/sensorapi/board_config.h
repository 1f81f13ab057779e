#ifndef NORVA_SENSORAPI_BOARD_CONFIG_H
#define NORVA_SENSORAPI_BOARD_CONFIG_H

/*
 * How the sensors are wired on the board (I2C bus, reset and power-down lines, multiplexer, sensor clock), read
 * from the board configuration file with the parameter registry. Log tag "BOARD".
 */

#include "qor_errors.h"
#include "qor_types.h"

#ifdef __cplusplus
extern "C" {
#endif

#define BOARD_LOG_TAG "BOARD"

typedef struct _gpio_config_ {
    QOR_UINT8 rst_chip_num; /**< chip of the reset line ("gpiochip%d") */
    QOR_INT8 reset_num;     /**< reset line; negative = none */
    QOR_UINT8 pwdn_chip_num;
    QOR_INT8 pwdn_num; /**< power-down line; negative = none */
} gpio_config;

typedef struct _board_params_ {
    float clk_freq; /**< sensor clock, MHz */
    QOR_UINT8 freq_divider;
    QOR_UINT8 rst_need;
    QOR_UINT16 rst_min_delay; /**< microseconds */
    char i2c_dev_path[255];
    gpio_config gpio;
    QOR_UINT8 mux_need;
    QOR_UINT8 pwdn_pulse_need;
    QOR_UINT8 pwdn_value;      /**< level of the power-down line while the sensor is active */
    QOR_UINT16 pwdn_min_delay; /**< microseconds */
} board_params;

/** Finds the board file and loads it into the parameter registry; its path goes into bparams. 0, 5 or 11. */
QOR_RESULT GetBoardConfig(char *bparams, QOR_UINT size);

/** Reads the board keys and those of sensor slot `slot` ("-Sensor<slot>_...") into *params. 0 or 11. */
QOR_RESULT GetBoardParameters(QOR_UINT8 slot, board_params *params);

#ifdef __cplusplus
}
#endif

#endif /* NORVA_SENSORAPI_BOARD_CONFIG_H */
