#ifndef NORVA_SENSORAPI_BOARD_POWER_H
#define NORVA_SENSORAPI_BOARD_POWER_H

/*
 * The board's power-up sequence of a sensor, shared by the driver framework and the stand-alone drivers: the
 * power-down line to its initial level, the reset pulse, the power-down line released. Each driver logs under its
 * own tag; Cam is any camera record with the two GPIO chips, the two lines and the active level.
 */

#include <cstdio>

#include "norvacommon/userlog.h"
#include "sensorapi/board_config.h"
#include "sys/sys_seam.h"

namespace norva_board {

/** The power-down and reset sequence; false after logging (under tag) the step that failed. */
template <class Cam> bool powerUp(Cam *psCam, const board_params &board, const char *tag) {
    char name[32];
    std::snprintf(name, sizeof name, "gpiochip%d", board.gpio.pwdn_chip_num);
    psCam->pwdn_gpio_chip = SEAM_GpioChipOpenByName(name);
    if (psCam->pwdn_gpio_chip == nullptr) {
        QOR_LOG_ERROR(tag, "PWDN GPIO controller not found!\n");
        return false;
    }
    QOR_LOG_INFO(tag, "PWDN GPIO controller %s found!\n", name);
    std::snprintf(name, sizeof name, "gpiochip%d", board.gpio.rst_chip_num);
    psCam->rst_gpio_chip = SEAM_GpioChipOpenByName(name);
    if (psCam->rst_gpio_chip == nullptr) {
        QOR_LOG_ERROR(tag, "Reset GPIO controller not found!\n");
        return false;
    }
    QOR_LOG_INFO(tag, "Reset GPIO controller %s found!\n", name);

    psCam->pwdn_active_level = board.pwdn_value ? 1 : 0;
    if (board.gpio.pwdn_num >= 0) {
        QOR_LOG_INFO(tag, "Get GPIO PWDN %d:\n", board.gpio.pwdn_num);
        SEAM_GPIO_LINE *line = SEAM_GpioChipGetLine(psCam->pwdn_gpio_chip, static_cast<unsigned>(board.gpio.pwdn_num));
        if (line == nullptr) {
            QOR_LOG_ERROR(tag, "Failed to get PWDN GPIO\n");
            return false;
        }
        // The initial level is the power-down (active) level when a pulse is wanted: the logical inverse of the
        // non-active level, so that any non-zero board value gives 0.
        const int level = board.pwdn_pulse_need ? !board.pwdn_value : (board.pwdn_value ? 1 : 0);
        QOR_LOG_INFO(tag, "Set PWDN GPIO to init level %d\n", level);
        if (SEAM_GpioLineRequestOutput(line, "Sensor", level) != 0) {
            QOR_LOG_ERROR(tag, "Failed to request PWDN GPIO\n");
            return false;
        }
        psCam->pwdn_line = line;
        SEAM_Usleep(board.pwdn_min_delay);
    }
    if (board.gpio.reset_num >= 0) {
        QOR_LOG_INFO(tag, "Get GPIO RST %d:\n", board.gpio.reset_num);
        SEAM_GPIO_LINE *line = SEAM_GpioChipGetLine(psCam->rst_gpio_chip, static_cast<unsigned>(board.gpio.reset_num));
        if (line == nullptr) {
            QOR_LOG_ERROR(tag, "Failed get Reset GPIO\n");
            return false;
        }
        if (SEAM_GpioLineRequestOutput(line, "Sensor", 1) != 0) {
            QOR_LOG_ERROR(tag, "Failed to request Reset GPIO\n");
            return false;
        }
        psCam->rst_line = line;
        if (board.rst_need) {
            QOR_LOG_INFO(tag, "Set reset GPIO to LOW\n");
            if (SEAM_GpioLineSetValue(line, 0) != 0) {
                QOR_LOG_ERROR(tag, "Failed to set Reset GPIO to LOW\n");
                return false;
            }
            SEAM_Usleep(board.rst_min_delay);
        }
        if (psCam->pwdn_line != nullptr && board.pwdn_pulse_need) {
            QOR_LOG_INFO(tag, "Set PWDN GPIO to non-active level\n");
            if (SEAM_GpioLineSetValue(psCam->pwdn_line, board.pwdn_value ? 1 : 0) != 0) {
                QOR_LOG_ERROR(tag, "Failed to set PWDN GPIO to non-active level\n");
                return false;
            }
        }
        QOR_LOG_INFO(tag, "Set reset GPIO to HIGH\n");
        if (SEAM_GpioLineSetValue(line, 1) != 0) {
            QOR_LOG_ERROR(tag, "Failed to set Reset GPIO to HIGH\n");
            return false;
        }
    }
    return true;
}

} // namespace norva_board

#endif
