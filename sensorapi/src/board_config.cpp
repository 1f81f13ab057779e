// The board configuration file: where it is found and how one sensor slot's wiring is read from it.
#include "sensorapi/board_config.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "norvacommon/dyncmd.h"
#include "norvacommon/userlog.h"
#include "sys/sys_seam.h"

namespace {

constexpr const char *kTag = BOARD_LOG_TAG;
constexpr size_t kFlagSize = 100;
/** Room for any path: a user's HOME may be long, and a cut path would name another file. */
constexpr size_t kPathSize = 4096;
constexpr size_t kModelSize = 100;

/** Formats a candidate path into the caller's buffer: false (and a warning) when it does not fit. */
bool formatPath(char *buffer, QOR_UINT size, const char *format, const char *part) {
    const int n = std::snprintf(buffer, size, format, part);
    if (n < 0 || static_cast<unsigned>(n) >= size) {
        QOR_LOG_WARNING(kTag, "board file path longer than %u characters skipped\n", size - 1);
        return false;
    }
    return true;
}

/** Loads a candidate file; a file that opened but could not be read whole leaves no tokens behind. */
bool loadCandidate(const char *path) {
    const QOR_RESULT ret = DYNCMD_AddFile(path, "#");
    if (ret == QOR_RES_OK)
        return true;
    if (ret != QOR_RES_IN_PROGRESS)
        DYNCMD_ReleaseParameters();
    return false;
}

/** Holds the parameter registry for one whole board read, so that no other user interleaves with it. */
struct RegistryHold {
    RegistryHold() { DYNCMD_Lock(); }
    ~RegistryHold() { DYNCMD_Unlock(); }
    RegistryHold(const RegistryHold &) = delete;
    RegistryHold &operator=(const RegistryHold &) = delete;
};

bool readUint(const char *flag, const char *desc, unsigned *value) {
    return DYNCMD_RegisterParameter(flag, DYNCMDTYPE_UINT, desc, value) == RET_FOUND;
}

/**
 * A GPIO line number: negative means no line; lines are stored in 8 signed bits, so a line above 127 would
 * silently become "no line" and is refused instead.
 */
bool readLine(const char *flag, const char *desc, const char *missing, QOR_UINT8 slot, const char *what,
              QOR_INT8 *stored) {
    int value = 0;
    if (DYNCMD_RegisterParameter(flag, DYNCMDTYPE_INT, desc, &value) != RET_FOUND) {
        QOR_LOG_ERROR(kTag, "%s", missing);
        return false;
    }
    if (value > 127 || value < -128) {
        QOR_LOG_ERROR(kTag, "Sensor %d %s gpio %d out of range (0 to 127, negative for none)\n", slot, what, value);
        return false;
    }
    *stored = static_cast<QOR_INT8>(value);
    QOR_LOG_INFO(kTag, "Sensor %d %s gpio: %d\n", slot, what, value);
    return true;
}

QOR_RESULT readSlot(QOR_UINT8 slot, board_params *params) {
    unsigned u = 0;
    if (!readUint("-Board_reset_need", "Reset need", &u)) {
        QOR_LOG_ERROR(kTag, "Board_reset_need parameter not defined!\n");
        return QOR_RES_INVALID_PARAM;
    }
    params->rst_need = static_cast<QOR_UINT8>(u);
    QOR_LOG_INFO(kTag, "Reset need: %d\n", params->rst_need);

    u = 1000;
    if (!readUint("-Board_reset_min_delay", "Reset min delay", &u))
        u = 1000;
    params->rst_min_delay = static_cast<QOR_UINT16>(u);
    QOR_LOG_INFO(kTag, "Board reset pulse minimum delay: %d us\n", params->rst_min_delay);

    if (!readUint("-Board_mux_need", "CSI multiplexer need", &u)) {
        QOR_LOG_ERROR(kTag, "Board_mux_need parameter not defined!\n");
        return QOR_RES_INVALID_PARAM;
    }
    params->mux_need = static_cast<QOR_UINT8>(u);
    QOR_LOG_INFO(kTag, "CSI multiplexer need: %d\n", params->mux_need);

    if (!readUint("-Board_pwdn_value", "Board pwdn value", &u)) {
        QOR_LOG_ERROR(kTag, "Board_pwdn_value parameter not defined!\n");
        return QOR_RES_INVALID_PARAM;
    }
    params->pwdn_value = static_cast<QOR_UINT8>(u);
    QOR_LOG_INFO(kTag, "Board pwdn nonactive value: %d\n", params->pwdn_value);

    if (!readUint("-Board_pwdn_pulse_need", "Pwdn pulse need", &u))
        u = 0;
    params->pwdn_pulse_need = static_cast<QOR_UINT8>(u);
    QOR_LOG_INFO(kTag, "Pwdn pulse need: %d\n", params->pwdn_pulse_need);

    if (!readUint("-Board_pwdn_min_delay", "Pwdn min delay", &u))
        u = 1000;
    params->pwdn_min_delay = static_cast<QOR_UINT16>(u);
    QOR_LOG_INFO(kTag, "Board pwdn pulse minimum delay: %d us\n", params->pwdn_min_delay);

    unsigned maxSensors = 0;
    if (!readUint("-Board_max_sensors", "max sensors", &maxSensors)) {
        QOR_LOG_ERROR(kTag, "Board_max_sensors parameter not defined!\n");
        return QOR_RES_INVALID_PARAM;
    }
    QOR_LOG_INFO(kTag, "Max sensors number: %d\n", maxSensors);

    float clock = 0.0f;
    if (DYNCMD_RegisterParameter("-Board_clock_frequency", DYNCMDTYPE_FLOAT, "Board clock frequency", &clock) !=
        RET_FOUND) {
        QOR_LOG_ERROR(kTag, "Clock frequency not defined!\n");
        return QOR_RES_INVALID_PARAM;
    }
    if (clock <= 0.0f) {
        QOR_LOG_ERROR(kTag, "Incorrect clock frequency %f, must be positive\n", static_cast<double>(clock));
        return QOR_RES_INVALID_PARAM;
    }
    params->clk_freq = clock;
    QOR_LOG_INFO(kTag, "Clock frequency: %f\n", static_cast<double>(clock));

    if (!readUint("-Board_clock_frequency_divider", "Clock frequency divider", &u))
        u = 1;
    params->freq_divider = static_cast<QOR_UINT8>(u) != 0 ? static_cast<QOR_UINT8>(u) : 1;
    QOR_LOG_INFO(kTag, "Frequency divider on board is %d\n", params->freq_divider);

    if (slot >= static_cast<QOR_UINT8>(maxSensors)) {
        QOR_LOG_ERROR(kTag, "Imager number %u not supported for this board!\n", static_cast<unsigned>(slot));
        return QOR_RES_INVALID_PARAM;
    }

    char flag[kFlagSize];
    std::snprintf(flag, sizeof flag, "-Sensor%d_i2c", slot);
    if (!readUint(flag, "Sensor i2c port number", &u)) {
        QOR_LOG_ERROR(kTag, "I2C port not defined!\n");
        return QOR_RES_INVALID_PARAM;
    }
    std::snprintf(params->i2c_dev_path, sizeof params->i2c_dev_path, "/dev/i2c-%u", u);
    QOR_LOG_INFO(kTag, "Sensor %d i2c dev: %s\n", slot, params->i2c_dev_path);

    std::snprintf(flag, sizeof flag, "-Sensor%d_gpiochip_reset", slot);
    if (!readUint(flag, "Sensor reset gpiochip number", &u)) {
        QOR_LOG_ERROR(kTag, "Reset gpiochip number not defined!\n");
        return QOR_RES_INVALID_PARAM;
    }
    params->gpio.rst_chip_num = static_cast<QOR_UINT8>(u);
    QOR_LOG_INFO(kTag, "Sensor %d reset gpiochip: %d\n", slot, params->gpio.rst_chip_num);

    std::snprintf(flag, sizeof flag, "-Sensor%d_gpio_reset", slot);
    if (!readLine(flag, "Sensor reset gpio number", "Reset gpio number not defined!\n", slot, "reset",
                  &params->gpio.reset_num))
        return QOR_RES_INVALID_PARAM;

    std::snprintf(flag, sizeof flag, "-Sensor%d_gpiochip_pwdn", slot);
    if (!readUint(flag, "Sensor powerdown gpiochip number", &u)) {
        QOR_LOG_ERROR(kTag, "Powerdown gpiochip number not defined!\n");
        return QOR_RES_INVALID_PARAM;
    }
    params->gpio.pwdn_chip_num = static_cast<QOR_UINT8>(u);
    QOR_LOG_INFO(kTag, "Sensor %d powerdown gpiochip: %d\n", slot, params->gpio.pwdn_chip_num);

    std::snprintf(flag, sizeof flag, "-Sensor%d_gpio_pwdn", slot);
    if (!readLine(flag, "Sensor powerdown gpio number", "Powerdown gpio number not defined!\n", slot, "powerdown",
                  &params->gpio.pwdn_num))
        return QOR_RES_INVALID_PARAM;
    return QOR_RES_OK;
}

} // namespace

extern "C" {

QOR_RESULT GetBoardConfig(char *bparams, QOR_UINT size) {
    if (bparams == nullptr || size == 0)
        return QOR_RES_INVALID_PARAM;
    RegistryHold hold;
    // A user's own board file first; without HOME there is no such file to look for.
    const char *home = std::getenv("HOME");
    if (home != nullptr) {
        if (formatPath(bparams, size, "%s/.norva/boardcfg/default.cfg", home) && loadCandidate(bparams)) {
            QOR_LOG_INFO(kTag, "Board file found: %s\n", bparams);
            return QOR_RES_OK;
        }
    }
    if (formatPath(bparams, size, "%s/norva/boardcfg/default.cfg", "/etc") && loadCandidate(bparams)) {
        QOR_LOG_INFO(kTag, "Board file found: %s\n", bparams);
        return QOR_RES_OK;
    }
    FILE *f = SEAM_Fopen("/proc/device-tree/model", "r");
    if (f == nullptr) {
        QOR_LOG_ERROR(kTag, "Failed to read device tree!\n");
        return QOR_RES_DEVICE_FAILED;
    }
    char model[kModelSize] = {};
    const bool read = std::fgets(model, sizeof model, f) != nullptr;
    std::fclose(f);
    if (!read) {
        QOR_LOG_ERROR(kTag, "Failed to read board model!\n");
        return QOR_RES_DEVICE_FAILED;
    }
    QOR_LOG_INFO(kTag, "The board is %s\n", model);
    if (formatPath(bparams, size, "/etc/norva/boardcfg/%s.cfg", model) && loadCandidate(bparams)) {
        QOR_LOG_INFO(kTag, "Board file found: %s\n", bparams);
        return QOR_RES_OK;
    }
    QOR_LOG_ERROR(kTag, "Failed to open board params file!\n");
    QOR_LOG_ERROR(kTag, "Board '%s' not supported!\n", model);
    return QOR_RES_INVALID_PARAM;
}

QOR_RESULT GetBoardParameters(QOR_UINT8 slot, board_params *params) {
    if (params == nullptr)
        return QOR_RES_INVALID_PARAM;
    RegistryHold hold;
    char path[kPathSize];
    if (GetBoardConfig(path, sizeof path) != QOR_RES_OK)
        return QOR_RES_INVALID_PARAM;
    const QOR_RESULT ret = readSlot(slot, params);
    DYNCMD_ReleaseParameters();
    return ret;
}

} // extern "C"
