// The S5K3P9 driver: seven 4-lane modes from 16-bit register lists (0xFFFF delays, 0xFFFE end), its own power-up
// on the board's power-down and reset lines, an initialisation list at every enable with a standby check, the
// orientation byte, and the focus actuator at 0x0C on the same bus.
#include "sensors/s5k3p9.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>

#include "norvacommon/userlog.h"
#include "sensorapi/board_config.h"
#include "sensorapi/sensor_phy.h"
#include "sys/sys_seam.h"

#include "../board_power.h"

namespace {

constexpr const char *kTag = S5K3P9_LOG_TAG;
constexpr unsigned long kI2cSlave = 0x0703ul;
constexpr QOR_UINT8 kAddress = 0x2D;
constexpr QOR_UINT8 kFocusAddress = 0x0C;
constexpr QOR_UINT16 kChipIdRegister = 0x0000;
constexpr QOR_UINT16 kChipId = 0x3109;
constexpr QOR_UINT16 kListDelay = 0xFFFF;
constexpr QOR_UINT16 kListEnd = 0xFFFE;
constexpr double kSclk = 560.0; /* MHz */
constexpr QOR_UINT32 kSupportedClock = 24000000;
constexpr QOR_UINT32 kPowerUpDelayUs = 100000;
constexpr QOR_UINT32 kOrientationDelayUs = 33000;
constexpr QOR_UINT32 kStandbyPollUs = 50000;
constexpr int kStandbyPolls = 5;
constexpr QOR_UINT16 kFocusMin = 80;
constexpr QOR_UINT16 kFocusMax = 600;
constexpr QOR_UINT16 kFocusAfterSetMode = 600;
constexpr QOR_UINT32 kInitPairs = 1528;
constexpr QOR_UINT32 kModePairs = 73;

/** A mode list: lane mode, frame and line length, output size, orientation, settings up to 73 pairs, stream on. */
template <bool kPause> struct ModeList {
    QOR_UINT16 pairs[2 * (kModePairs + (kPause ? 2 : 0) + 1)];
    constexpr ModeList(QOR_UINT16 width, QOR_UINT16 height, QOR_UINT16 lineLength, QOR_UINT16 frameLength) : pairs() {
        unsigned n = 0;
        const QOR_UINT16 head[] = {0x0114, 0x0300, 0x0340, frameLength, 0x0342, lineLength, 0x0344, 0x0000,
                                   0x0346, 0x0000, 0x034C, width,       0x034E, height,     0x0101, 0x0000};
        for (QOR_UINT16 v : head)
            pairs[n++] = v;
        // Analogue and readout settings (0x3000 on) to fill the list.
        const unsigned fixed = sizeof head / sizeof head[0] / 2 + 1;
        for (unsigned i = 0; i < kModePairs - fixed; i++) {
            pairs[n++] = static_cast<QOR_UINT16>(0x3000 + 2 * i);
            pairs[n++] = static_cast<QOR_UINT16>(0x0000);
        }
        if (kPause) {
            pairs[n++] = kListDelay;
            pairs[n++] = 0x0021;
            pairs[n++] = 0x0B00;
            pairs[n++] = 0x0001;
        }
        pairs[n++] = 0x0100;
        pairs[n++] = 0x0100;
        pairs[n++] = kListEnd;
        pairs[n++] = 0x0000;
    }
};

constexpr ModeList<false> mode_4640x3488_30fps_sx(4640, 3488, 5088, 3668);
constexpr ModeList<false> mode_4096x3488_30fps_sx(4096, 3488, 5088, 3668);
constexpr ModeList<false> mode_3840x2160_30fps_sx(3840, 2160, 5088, 3668);
constexpr ModeList<true> mode_2320x1744_30fps_sx(2320, 1744, 8496, 2196);
constexpr ModeList<false> mode_1920x1080_60fps_sx(1920, 1080, 5088, 1833);
constexpr ModeList<true> mode_720x1600_60fps_sx(720, 1600, 5088, 1833);
constexpr ModeList<false> mode_1280x720_120fps_sx(1280, 720, 5088, 917);

/** sensor_init: reset and a 3 ms pause, the sensor's settings (0x6F12 bursts), stream off. */
struct InitList {
    QOR_UINT16 pairs[2 * (kInitPairs + 1)];
    constexpr InitList() : pairs() {
        unsigned n = 0;
        const QOR_UINT16 head[] = {0x6028, 0x4000, 0x6010, 0x0001, kListDelay, 0x0003, 0x6214, 0x7971, 0x6218, 0x7150};
        for (QOR_UINT16 v : head)
            pairs[n++] = v;
        const unsigned fixed = sizeof head / sizeof head[0] / 2 + 1;
        for (unsigned i = 0; i < kInitPairs - fixed; i++) {
            pairs[n++] = (i % 64) == 0 ? 0x602A : 0x6F12;
            pairs[n++] = (i % 64) == 0 ? static_cast<QOR_UINT16>(0x2000 + i) : static_cast<QOR_UINT16>(i & 0xFFFF);
        }
        pairs[n++] = 0x0100;
        pairs[n++] = 0x0000;
        pairs[n++] = kListEnd;
        pairs[n++] = 0x0000;
    }
};
constexpr InitList sensor_init;

struct s5k3p9_mode {
    QOR_UINT8 ui8Flipping;
    const QOR_UINT16 *modeRegisters;
    QOR_UINT32 nRegisters; /* counted on first use up to the end pair */
    QOR_UINT32 supportedFrequency;
    QOR_UINT8 hsFreqRange;
};

s5k3p9_mode s5k3p9_modes[] = {
    {SENSOR_FLIP_BOTH, mode_4640x3488_30fps_sx.pairs, 0, kSupportedClock, 12},
    {SENSOR_FLIP_BOTH, mode_4096x3488_30fps_sx.pairs, 0, kSupportedClock, 12},
    {SENSOR_FLIP_BOTH, mode_3840x2160_30fps_sx.pairs, 0, kSupportedClock, 12},
    {SENSOR_FLIP_BOTH, mode_2320x1744_30fps_sx.pairs, 0, kSupportedClock, 44},
    {SENSOR_FLIP_BOTH, mode_1920x1080_60fps_sx.pairs, 0, kSupportedClock, 12},
    {SENSOR_FLIP_BOTH, mode_720x1600_60fps_sx.pairs, 0, kSupportedClock, 12},
    {SENSOR_FLIP_BOTH, mode_1280x720_120fps_sx.pairs, 0, kSupportedClock, 26},
};
constexpr QOR_UINT16 kModeCount = sizeof s5k3p9_modes / sizeof s5k3p9_modes[0];
const QOR_UINT8 s5k3p9_config_num_modes[] = {kModeCount};

const QOR_UINT8 s5k3p9_focus_setting[][2] = {{0x02, 0x02}, {0x06, 0x61}, {0x07, 0x39}};
const QOR_UINT16 s5k3p9_focus_dac_dist[] = {50, 70, 100, 300, 1500};
const QOR_UINT16 s5k3p9_focus_dac_val[] = {1023, 800, 600, 384, 288};

struct S5K3P9CAM_STRUCT {
    SENSOR_FUNCS sFuncs; /* first: the record's address is the handle */
    QOR_UINT32 refClock; /* Hz */
    QOR_UINT16 ui16CurrentMode;
    QOR_UINT8 ui8CurrentFlipping;
    QOR_BOOL bEnabled;
    QOR_UINT8 imager;
    QOR_UINT8 sensorRstNeed;
    gpio_config gpio;
    SEAM_GPIO_CHIP *pwdn_gpio_chip;
    SEAM_GPIO_CHIP *rst_gpio_chip;
    SEAM_GPIO_LINE *pwdn_line;
    SEAM_GPIO_LINE *rst_line;
    QOR_UINT8 pwdn_active_level;
    SENSOR_MODE currMode;
    const QOR_UINT16 *currModeReg;
    QOR_UINT32 nRegisters;
    double sclk; /* MHz */
    QOR_UINT32 ui32Exposure;
    double flGain;
    QOR_UINT16 ui16CurrentFocus;
    int i2c;
    QOR_UINT8 i2cWriteAddr;
    QOR_UINT8 i2cReadAddr;
    SENSOR_PHY *psSensorPhy;
};

S5K3P9CAM_STRUCT *camOf(SENSOR_HANDLE h) { return reinterpret_cast<S5K3P9CAM_STRUCT *>(h); }

bool notInitialised(const S5K3P9CAM_STRUCT *psCam) {
    if (psCam->psSensorPhy != nullptr)
        return false;
    QOR_LOG_ERROR(kTag, "sensor not initialised\n");
    return true;
}

QOR_RESULT slave(int fd, QOR_UINT8 address) {
    return SEAM_Ioctl(fd, kI2cSlave, reinterpret_cast<void *>(static_cast<uintptr_t>(address))) < 0 ? QOR_RES_IO_FAILED
                                                                                                    : QOR_RES_OK;
}

/** One register write (16-bit value in 4 bytes, 8-bit in 3). A write the sensor does not take is 24. */
QOR_RESULT writeRegister(S5K3P9CAM_STRUCT *psCam, QOR_UINT16 reg, QOR_UINT16 value, bool eightBit = false) {
    if (slave(psCam->i2c, psCam->i2cWriteAddr) != QOR_RES_OK) {
        QOR_LOG_ERROR(kTag, "Failed to write I2C slave write address!\n");
        return QOR_RES_IO_FAILED;
    }
    const QOR_UINT8 bytes[4] = {static_cast<QOR_UINT8>(reg >> 8), static_cast<QOR_UINT8>(reg & 0xFF),
                                static_cast<QOR_UINT8>(eightBit ? value & 0xFF : value >> 8),
                                static_cast<QOR_UINT8>(value & 0xFF)};
    const size_t n = eightBit ? 3 : 4;
    const ssize_t written = SEAM_Write(psCam->i2c, bytes, n);
    if (written != static_cast<ssize_t>(n)) {
        QOR_LOG_ERROR(kTag, "Failed to write I2C data! write_len = %d, register = 0x%x\n", static_cast<int>(written),
                      reg);
        return QOR_RES_IO_FAILED;
    }
    return QOR_RES_OK;
}

QOR_RESULT readRegister(S5K3P9CAM_STRUCT *psCam, QOR_UINT16 reg, QOR_UINT16 *value) {
    if (slave(psCam->i2c, psCam->i2cReadAddr) != QOR_RES_OK) {
        QOR_LOG_ERROR(kTag, "Failed to write I2C slave read address!\n");
        return QOR_RES_IO_FAILED;
    }
    const QOR_UINT8 address[2] = {static_cast<QOR_UINT8>(reg >> 8), static_cast<QOR_UINT8>(reg & 0xFF)};
    const ssize_t written = SEAM_Write(psCam->i2c, address, 2);
    if (written != 2)
        QOR_LOG_WARNING(kTag, "Wrote %dB instead of %luB before reading\n", static_cast<int>(written), 2ul);
    QOR_UINT8 bytes[2] = {0, 0};
    if (SEAM_Read(psCam->i2c, bytes, 2) != 2) {
        QOR_LOG_ERROR(kTag, "Failed to read I2C at 0x%x\n", reg);
        return QOR_RES_FAILED;
    }
    *value = static_cast<QOR_UINT16>((bytes[0] << 8) | bytes[1]);
    return QOR_RES_OK;
}

/** Writes a list pair by pair (delays honoured); stops at the first failed write. */
QOR_RESULT writeList(S5K3P9CAM_STRUCT *psCam, const QOR_UINT16 *list, QOR_UINT32 pairs) {
    for (QOR_UINT32 i = 0; i < pairs; i++) {
        const QOR_UINT16 reg = list[2 * i], value = list[2 * i + 1];
        if (reg == kListDelay) {
            SEAM_Usleep(static_cast<uint64_t>(value) * 1000u);
            continue;
        }
        const QOR_RESULT ret = writeRegister(psCam, reg, value);
        if (ret != QOR_RES_OK)
            return ret;
    }
    return QOR_RES_OK;
}

QOR_UINT32 pairsOf(const QOR_UINT16 *list) {
    QOR_UINT32 n = 0;
    while (list[2 * n] != kListEnd)
        n++;
    return n;
}

/** Waits for the sensor's standby (0x0005 reads 0xFF): 0, 22 on a failed read, 17 after five misses. */
QOR_RESULT checkStreamOff(S5K3P9CAM_STRUCT *psCam) {
    static const char *const kFunc = "s5k3p9_check_stream_off";
    for (int i = 0; i < kStandbyPolls; i++) {
        QOR_UINT16 value = 0;
        if (readRegister(psCam, 0x0005, &value) != QOR_RES_OK) {
            LOG_Error(kFunc, __LINE__, kTag, "Failed to read 0x0005 register\n");
            return QOR_RES_NOT_SUPPORTED;
        }
        if ((value >> 8) == 0xFF)
            return QOR_RES_OK;
        SEAM_Usleep(kStandbyPollUs);
    }
    LOG_Error(kFunc, __LINE__, kTag, "stream off error\n");
    return QOR_RES_NOT_INITIALISED;
}

QOR_RESULT writeFocus(S5K3P9CAM_STRUCT *psCam, const QOR_UINT8 (*writes)[2], unsigned count) {
    if (slave(psCam->i2c, kFocusAddress) != QOR_RES_OK) {
        QOR_LOG_ERROR(kTag, "Failed to write I2C slave address!\n");
        return QOR_RES_IO_FAILED;
    }
    for (unsigned i = 0; i < count; i++) {
        if (SEAM_Write(psCam->i2c, writes[i], 2) != 2) {
            QOR_LOG_ERROR(kTag, "Failed to write I2C data!\n");
            return QOR_RES_IO_FAILED;
        }
    }
    return QOR_RES_OK;
}

void powerDown(S5K3P9CAM_STRUCT *psCam) {
    if (psCam->pwdn_line != nullptr)
        SEAM_GpioLineSetValue(psCam->pwdn_line, psCam->pwdn_active_level ? 0 : 1);
    if (psCam->rst_line != nullptr)
        SEAM_GpioLineSetValue(psCam->rst_line, 0);
    psCam->pwdn_line = nullptr;
    psCam->rst_line = nullptr;
}

/** Closes both GPIO chips; the lines are released with the chips, at the levels they have. */
void closeChips(S5K3P9CAM_STRUCT *psCam) {
    psCam->pwdn_line = nullptr;
    psCam->rst_line = nullptr;
    if (psCam->rst_gpio_chip != nullptr)
        SEAM_GpioChipClose(psCam->rst_gpio_chip);
    if (psCam->pwdn_gpio_chip != nullptr)
        SEAM_GpioChipClose(psCam->pwdn_gpio_chip);
    psCam->rst_gpio_chip = nullptr;
    psCam->pwdn_gpio_chip = nullptr;
}

} // namespace

extern "C" {

QOR_UINT16 S5K3P9_CalculateFocus(const QOR_UINT16 *pui16DACDist, const QOR_UINT16 *pui16DACValues, QOR_UINT8 ui8Entries,
                                 QOR_UINT16 ui16Requested) {
    if (ui8Entries == 0)
        return 0;
    if (ui16Requested <= pui16DACDist[0])
        return pui16DACValues[0];
    if (ui16Requested >= pui16DACDist[ui8Entries - 1])
        return pui16DACValues[ui8Entries - 1];
    unsigned i = 0;
    while (i + 1 < ui8Entries && pui16DACDist[i + 1] <= ui16Requested)
        i++;
    const double d = ui16Requested, d0 = pui16DACDist[i], d1 = pui16DACDist[i + 1];
    const double v0 = pui16DACValues[i], v1 = pui16DACValues[i + 1];
    return static_cast<QOR_UINT16>(v0 + (v1 - v0) * d1 * (d - d0) / d / (d1 - d0));
}

static QOR_RESULT S5K3P9_GetModeInfo(S5K3P9CAM_STRUCT *psCam, QOR_UINT16 nMode, SENSOR_MODE *info) {
    psCam->sclk = kSclk;
    if (nMode >= kModeCount)
        return QOR_RES_NOT_SUPPORTED;
    s5k3p9_mode &row = s5k3p9_modes[nMode];
    if (row.nRegisters == 0)
        row.nRegisters = pairsOf(row.modeRegisters);
    unsigned frameLength = 0, lineLength = 0, width = 0, height = 0, lanes = 1;
    for (QOR_UINT32 i = 0; i < row.nRegisters; i++) {
        const QOR_UINT16 v = row.modeRegisters[2 * i + 1];
        switch (row.modeRegisters[2 * i]) {
        case 0x0340:
            frameLength = v;
            break;
        case 0x0342:
            lineLength = v;
            break;
        case 0x034C:
            width = v;
            break;
        case 0x034E:
            height = v;
            break;
        case 0x0114:
            lanes = (v >> 8) + 1;
            break;
        default:
            break;
        }
    }
    const double t = lineLength / kSclk;
    info->ui16Width = static_cast<QOR_UINT16>(width);
    info->ui16Height = static_cast<QOR_UINT16>(height);
    info->flTrow = t;
    info->ui32ExposureMin = static_cast<QOR_UINT32>(std::ceil(7 * t));
    info->ui32ExposureMax = frameLength > 8 ? static_cast<QOR_UINT32>(std::floor((frameLength - 8) * t)) : 0;
    info->flFrameRate = frameLength != 0 && t > 0 ? 1000000.0 / (frameLength * t) : 0.0;
    info->flPixelRate = kSclk;
    info->ui16HorizontalTotal = static_cast<QOR_UINT16>(lineLength);
    info->ui16VerticalTotal = static_cast<QOR_UINT16>(frameLength);
    info->ui8SupportFlipping = row.ui8Flipping;
    info->ui8MipiHsFreqRange = row.hsFreqRange;
    info->ui8MipiLanes = static_cast<QOR_UINT8>(lanes);
    info->ui8BitDepth = 10;
    if (psCam->refClock == row.supportedFrequency)
        info->bValidFrequency = QOR_TRUE;
    return QOR_RES_OK;
}

QOR_RESULT S5K3P9_GetMode(SENSOR_HANDLE hHandle, QOR_UINT16 nIndex, SENSOR_MODE *psModes) {
    S5K3P9CAM_STRUCT *psCam = camOf(hHandle);
    if (notInitialised(psCam))
        return QOR_RES_NOT_INITIALISED;
    return S5K3P9_GetModeInfo(psCam, nIndex, psModes);
}

QOR_RESULT S5K3P9_GetState(SENSOR_HANDLE hHandle, SENSOR_STATUS *psStatus) {
    S5K3P9CAM_STRUCT *psCam = camOf(hHandle);
    if (psCam->psSensorPhy == nullptr) {
        QOR_LOG_WARNING(kTag, "sensor not initialised\n");
        psStatus->eState = SENSOR_STATE_UNINITIALISED;
        psStatus->ui16CurrentMode = 0;
        return QOR_RES_OK;
    }
    psStatus->eState = psCam->bEnabled ? SENSOR_STATE_RUNNING : SENSOR_STATE_IDLE;
    psStatus->ui16CurrentMode = psCam->ui16CurrentMode;
    psStatus->ui8Flipping = psCam->ui8CurrentFlipping;
    return QOR_RES_OK;
}

QOR_RESULT S5K3P9_SetMode(SENSOR_HANDLE hHandle, QOR_UINT16 nMode, QOR_UINT8 ui8Flipping) {
    S5K3P9CAM_STRUCT *psCam = camOf(hHandle);
    if (notInitialised(psCam))
        return QOR_RES_NOT_INITIALISED;
    if (nMode >= kModeCount)
        return QOR_RES_INVALID_PARAM;
    const s5k3p9_mode &row = s5k3p9_modes[nMode];
    if ((ui8Flipping & ~row.ui8Flipping) != 0) {
        QOR_LOG_ERROR(kTag, "sensor mode does not support selected flipping 0x%x (supports 0x%x)\n", ui8Flipping,
                      row.ui8Flipping);
        return QOR_RES_NOT_SUPPORTED;
    }
    SENSOR_MODE mode;
    std::memset(&mode, 0, sizeof mode);
    if (S5K3P9_GetModeInfo(psCam, nMode, &mode) != QOR_RES_OK) {
        QOR_LOG_ERROR(kTag, "failed to get mode %d initial information!\n", nMode);
        return QOR_RES_FAILED;
    }
    psCam->currModeReg = row.modeRegisters;
    psCam->nRegisters = row.nRegisters;
    psCam->currMode = mode;
    psCam->ui8CurrentFlipping = ui8Flipping;
    psCam->ui16CurrentMode = nMode;
    psCam->ui16CurrentFocus = kFocusAfterSetMode;
    return QOR_RES_OK;
}

QOR_RESULT S5K3P9_SetFocus(SENSOR_HANDLE hHandle, QOR_UINT16 ui16Focus) {
    S5K3P9CAM_STRUCT *psCam = camOf(hHandle);
    if (notInitialised(psCam))
        return QOR_RES_NOT_INITIALISED;
    psCam->ui16CurrentFocus = ui16Focus;
    const QOR_UINT16 code = S5K3P9_CalculateFocus(s5k3p9_focus_dac_dist, s5k3p9_focus_dac_val, 5, ui16Focus);
    QOR_LOG_DEBUG(kTag, "SetFocus: new focus = %d, value = %d\n", ui16Focus, code);
    const QOR_UINT8 writes[2][2] = {{0x03, static_cast<QOR_UINT8>(code >> 8)},
                                    {0x04, static_cast<QOR_UINT8>(code & 0xFF)}};
    return writeFocus(psCam, writes, 2);
}

QOR_RESULT S5K3P9_SetExposureGain(SENSOR_HANDLE hHandle, QOR_UINT32 ui32Exposure, double flGain,
                                  QOR_UINT8 /*ui8Context*/) {
    S5K3P9CAM_STRUCT *psCam = camOf(hHandle);
    if (notInitialised(psCam))
        return QOR_RES_NOT_INITIALISED;
    // Both registers hold 16 bits: values beyond saturate instead of wrapping.
    const double t = psCam->currMode.flTrow;
    const double rows = t > 0 ? std::round(ui32Exposure / t) : 0.0;
    const QOR_UINT16 coarse = static_cast<QOR_UINT16>(rows > 0xFFFF ? 0xFFFF : rows);
    const double g = std::round(flGain * 32.0);
    const QOR_UINT16 gain = static_cast<QOR_UINT16>(g > 0xFFFF ? 0xFFFF : (g < 0 ? 0 : g));
    QOR_LOG_DEBUG(kTag, "Exposure = %d, exposureCoarse = %d\n", ui32Exposure, coarse);
    // Saturated rows: the exposure kept is the one the sensor runs with.
    psCam->ui32Exposure = rows > 0xFFFF ? static_cast<QOR_UINT32>(std::lround(0xFFFF * t)) : ui32Exposure;
    psCam->flGain = flGain;
    const QOR_RESULT first = writeRegister(psCam, 0x0202, coarse);
    const QOR_RESULT second = writeRegister(psCam, 0x0204, gain);
    return first != QOR_RES_OK ? first : second;
}

QOR_RESULT S5K3P9_Enable(SENSOR_HANDLE hHandle) {
    S5K3P9CAM_STRUCT *psCam = camOf(hHandle);
    if (notInitialised(psCam))
        return QOR_RES_NOT_INITIALISED;
    QOR_LOG_INFO(kTag, "Enabling S5K3P9 Camera!\n");
    SENSOR_PHY *phy = psCam->psSensorPhy;
    phy->psGasket->bParallel = QOR_FALSE;
    phy->psGasket->uiGasket = psCam->imager;
    phy->psConfig = SensorPhyConfigPtr(SENSOR_MIRAVO_S5K3P9);
    if (phy->psConfig != nullptr)
        phy->psConfig->params.mipi_osc_freq = psCam->currMode.ui8MipiOscFreq;
    // A port that cannot be claimed or a PHY that refuses means no frames: say so rather than report streaming.
    QOR_RESULT ret = SensorPhyCtrl(phy, QOR_TRUE, psCam->currMode.ui8MipiLanes, psCam->currMode.ui8MipiHsFreqRange, 0);
    if (ret != QOR_RES_OK) {
        if (ret == SENSOR_PHY_REFUSED)
            SensorPhyCtrl(phy, QOR_FALSE, 0, 0, 0); // the port was claimed
        QOR_LOG_ERROR(kTag, "failed to switch the sensor PHY on\n");
        return ret;
    }
    QOR_UINT16 id = 0;
    readRegister(psCam, kChipIdRegister, &id);
    ret = writeList(psCam, sensor_init.pairs, kInitPairs);
    if (ret == QOR_RES_OK)
        ret = checkStreamOff(psCam);
    if (ret == QOR_RES_OK && psCam->currModeReg == nullptr) {
        LOG_Error("S5K3P9_ApplyMode", __LINE__, kTag, "current register modes not available!\n");
        ret = QOR_RES_NOT_INITIALISED;
    }
    if (ret == QOR_RES_OK) {
        bool found = false;
        QOR_UINT16 orientation = 0;
        for (QOR_UINT32 i = 0; i < psCam->nRegisters; i++) {
            if (psCam->currModeReg[2 * i] != 0x0101)
                continue;
            found = true;
            orientation = psCam->currModeReg[2 * i + 1];
            orientation =
                (psCam->ui8CurrentFlipping & SENSOR_FLIP_VERTICAL) ? (orientation | 0x0200) : (orientation & ~0x0200);
            orientation =
                (psCam->ui8CurrentFlipping & SENSOR_FLIP_HORIZONTAL) ? (orientation | 0x0100) : (orientation & ~0x0100);
        }
        ret = writeList(psCam, psCam->currModeReg, psCam->nRegisters);
        if (!found)
            QOR_LOG_WARNING(kTag, "Did not find flipIndex in registers for mode %d\n", psCam->ui16CurrentMode);
        if (ret == QOR_RES_OK) {
            SEAM_Usleep(kOrientationDelayUs);
            ret = writeRegister(psCam, 0x0101, static_cast<QOR_UINT16>(orientation >> 8), true);
        }
    }
    if (ret == QOR_RES_OK)
        ret = writeFocus(psCam, s5k3p9_focus_setting, 3);
    if (ret == QOR_RES_OK)
        ret = S5K3P9_SetFocus(hHandle, psCam->ui16CurrentFocus);
    if (ret != QOR_RES_OK) {
        // The sensor does not stream: stop what was started and release the port.
        QOR_LOG_ERROR(kTag, "failed to start the sensor: streaming not started\n");
        writeRegister(psCam, 0x0100, 0x0000);
        SensorPhyCtrl(phy, QOR_FALSE, 0, 0, 0);
        return ret;
    }
    psCam->bEnabled = QOR_TRUE;
    return QOR_RES_OK;
}

QOR_RESULT S5K3P9_Disable(SENSOR_HANDLE hHandle) {
    S5K3P9CAM_STRUCT *psCam = camOf(hHandle);
    if (notInitialised(psCam))
        return QOR_RES_NOT_INITIALISED;
    if (!psCam->bEnabled)
        return QOR_RES_OK;
    QOR_LOG_INFO(kTag, "Disabling S5K3P9 camera\n");
    psCam->bEnabled = QOR_FALSE;
    writeRegister(psCam, 0x0100, 0x0000);
    if (psCam->currMode.flFrameRate > 0.0)
        SEAM_Usleep(static_cast<uint64_t>(std::floor(1000000.0 / psCam->currMode.flFrameRate)));
    if (checkStreamOff(psCam) != QOR_RES_OK)
        QOR_LOG_INFO(kTag, "Stream not stopped\n");
    psCam->psSensorPhy->psConfig = SensorPhyConfigPtr(SENSOR_MIRAVO_S5K3P9);
    SensorPhyCtrl(psCam->psSensorPhy, QOR_FALSE, 0, 0, 0);
    return QOR_RES_OK;
}

QOR_RESULT S5K3P9_Destroy(SENSOR_HANDLE hHandle) {
    S5K3P9CAM_STRUCT *psCam = camOf(hHandle);
    if (psCam->psSensorPhy == nullptr) {
        QOR_LOG_ERROR(kTag, "Sensor not initialised\n");
        return QOR_RES_NOT_INITIALISED;
    }
    if (psCam->bEnabled)
        S5K3P9_Disable(hHandle);
    QOR_RESULT ret = QOR_RES_OK;
    if (psCam->rst_gpio_chip == nullptr) {
        QOR_LOG_ERROR(kTag, "Reset GPIO controller not initialised\n");
        ret = QOR_RES_NOT_INITIALISED;
    }
    if (psCam->pwdn_gpio_chip == nullptr) {
        QOR_LOG_ERROR(kTag, "PWDN GPIO controller not initialised\n");
        ret = QOR_RES_NOT_INITIALISED;
    }
    // Everything the record holds is released whatever is missing. The chips close without the lines being
    // driven: the sensor stays as far powered as it was.
    closeChips(psCam);
    SensorPhyDeinit(psCam->psSensorPhy);
    psCam->psSensorPhy = nullptr;
    psCam->currModeReg = nullptr;
    if (psCam->i2c >= 0)
        SEAM_Close(psCam->i2c);
    std::free(psCam);
    return ret;
}

QOR_RESULT S5K3P9_GetInfo(SENSOR_HANDLE hHandle, SENSOR_INFO *psInfo) {
    S5K3P9CAM_STRUCT *psCam = camOf(hHandle);
    if (notInitialised(psCam))
        return QOR_RES_NOT_INITIALISED;
    static const MOSAICType kBayer[4] = {MOSAIC_GRBG, MOSAIC_RGGB, MOSAIC_BGGR, MOSAIC_GBRG};
    psInfo->eBayerOriginal = kBayer[psCam->ui8CurrentFlipping & 3];
    psInfo->eBayerEnabled = psInfo->eBayerOriginal;
    std::snprintf(psInfo->pszSensorName, sizeof psInfo->pszSensorName, "S5K3P9");
    QOR_LOG_WARNING(kTag, "Reading device ID (GetInfo) \n");
    QOR_UINT16 id = 0;
    if (readRegister(psCam, kChipIdRegister, &id) == QOR_RES_OK) {
        std::snprintf(psInfo->pszSensorVersion, sizeof psInfo->pszSensorVersion, "0x%x", id);
        QOR_LOG_WARNING(kTag, "Read device ID %s\n", psInfo->pszSensorVersion);
    } else {
        std::snprintf(psInfo->pszSensorVersion, sizeof psInfo->pszSensorVersion, "not-verified");
        QOR_LOG_WARNING(kTag, "Did not read device ID\n");
    }
    psInfo->ui8Imager = 0;
    psInfo->ui8NumConfig = 1;
    psInfo->pNumModes = s5k3p9_config_num_modes;
    psInfo->bBackFacing = QOR_TRUE;
    psInfo->fNumber = 1.2;
    psInfo->fPixelSize = 1.0;
    psInfo->flReadNoise = 5.0;
    return QOR_RES_OK;
}

QOR_RESULT S5K3P9_GetGainRange(SENSOR_HANDLE /*hHandle*/, double *pflMin, double *pflMax, QOR_UINT8 *puiContexts) {
    *pflMin = 1.0;
    *pflMax = 16.0;
    *puiContexts = 1;
    return QOR_RES_OK;
}

QOR_RESULT S5K3P9_GetGain(SENSOR_HANDLE hHandle, double *pflCurrent, QOR_UINT8 /*ui8Context*/) {
    S5K3P9CAM_STRUCT *psCam = camOf(hHandle);
    if (notInitialised(psCam))
        return QOR_RES_NOT_INITIALISED;
    *pflCurrent = psCam->flGain;
    return QOR_RES_OK;
}

QOR_RESULT S5K3P9_GetExposureRange(SENSOR_HANDLE hHandle, QOR_UINT32 *pui32Min, QOR_UINT32 *pui32Max,
                                   QOR_UINT8 *pui8Contexts) {
    S5K3P9CAM_STRUCT *psCam = camOf(hHandle);
    if (notInitialised(psCam))
        return QOR_RES_NOT_INITIALISED;
    *pui32Min = psCam->currMode.ui32ExposureMin;
    *pui32Max = psCam->currMode.ui32ExposureMax;
    *pui8Contexts = 1;
    return QOR_RES_OK;
}

QOR_RESULT S5K3P9_GetExposure(SENSOR_HANDLE hHandle, QOR_UINT32 *pui32Exposure, QOR_UINT8 /*ui8Context*/) {
    S5K3P9CAM_STRUCT *psCam = camOf(hHandle);
    if (notInitialised(psCam))
        return QOR_RES_NOT_INITIALISED;
    *pui32Exposure = psCam->ui32Exposure;
    return QOR_RES_OK;
}

QOR_RESULT S5K3P9_GetFocusRange(SENSOR_HANDLE /*hHandle*/, QOR_UINT16 *pui16Min, QOR_UINT16 *pui16Max) {
    *pui16Min = kFocusMin;
    *pui16Max = kFocusMax;
    return QOR_RES_OK;
}

QOR_RESULT S5K3P9_GetCurrentFocus(SENSOR_HANDLE hHandle, QOR_UINT16 *pui16Current) {
    S5K3P9CAM_STRUCT *psCam = camOf(hHandle);
    if (notInitialised(psCam))
        return QOR_RES_NOT_INITIALISED;
    *pui16Current = psCam->ui16CurrentFocus;
    return QOR_RES_OK;
}

QOR_RESULT S5K3P9_SetConnection(SENSOR_HANDLE hHandle, CI_CONNECTION *pConn) {
    S5K3P9CAM_STRUCT *psCam = camOf(hHandle);
    if (psCam->psSensorPhy == nullptr)
        return QOR_RES_DEVICE_FAILED;
    SensorPhySetConnection(psCam->psSensorPhy, pConn);
    return QOR_RES_OK;
}

QOR_RESULT S5K3P9_Create(SENSOR_HANDLE *phHandle) {
    S5K3P9CAM_STRUCT *psCam = static_cast<S5K3P9CAM_STRUCT *>(std::calloc(1, sizeof(S5K3P9CAM_STRUCT)));
    if (psCam == nullptr)
        return QOR_RES_NO_MEMORY;
    *phHandle = &psCam->sFuncs;
    SENSOR_FUNCS &f = psCam->sFuncs;
    f.GetMode = S5K3P9_GetMode;
    f.GetState = S5K3P9_GetState;
    f.SetMode = S5K3P9_SetMode;
    f.Enable = S5K3P9_Enable;
    f.Disable = S5K3P9_Disable;
    f.Destroy = S5K3P9_Destroy;
    f.GetInfo = S5K3P9_GetInfo;
    f.GetGainRange = S5K3P9_GetGainRange;
    f.GetCurrentGain = S5K3P9_GetGain;
    f.GetExposureRange = S5K3P9_GetExposureRange;
    f.GetExposure = S5K3P9_GetExposure;
    f.SetExposureGain = S5K3P9_SetExposureGain;
    f.GetFocusRange = S5K3P9_GetFocusRange;
    f.GetCurrentFocus = S5K3P9_GetCurrentFocus;
    f.SetFocus = S5K3P9_SetFocus;
    f.SetConnection = S5K3P9_SetConnection;
    psCam->imager = static_cast<QOR_UINT8>(GetImagerNum(SENSOR_MIRAVO_S5K3P9));
    psCam->i2c = -1;
    psCam->i2cWriteAddr = kAddress;
    psCam->i2cReadAddr = kAddress;
    psCam->flGain = 1.0;

    board_params board;
    std::memset(&board, 0, sizeof board);
    QOR_UINT16 id = 0;
    QOR_RESULT ret = QOR_RES_OK;
    psCam->psSensorPhy = SensorPhyInit(SENSOR_MIRAVO_S5K3P9);
    if (psCam->psSensorPhy == nullptr) {
        QOR_LOG_ERROR(kTag, "Failed to create sensor phy!\n");
        goto fail;
    }
    psCam->psSensorPhy->psConfig = SensorPhyConfigPtr(SENSOR_MIRAVO_S5K3P9);
    if (GetBoardParameters(0, &board) != QOR_RES_OK)
        goto fail;
    psCam->sensorRstNeed = board.rst_need;
    psCam->gpio = board.gpio;
    psCam->refClock = static_cast<QOR_UINT32>(static_cast<unsigned>(board.clk_freq) * 1000000u);
    if (!norva_board::powerUp(psCam, board, kTag))
        goto fail;
    SEAM_Usleep(kPowerUpDelayUs);
    psCam->i2c = SEAM_Open(board.i2c_dev_path, O_RDWR, 0);
    if (psCam->i2c < 0) {
        QOR_LOG_ERROR(kTag, "Failed to open I2C device: \"%s\", err = %d\n", board.i2c_dev_path, psCam->i2c);
        goto fail;
    }
    QOR_LOG_WARNING(kTag, "Reading device ID (S5K3P9_Create)\n");
    ret = readRegister(psCam, kChipIdRegister, &id);
    if (ret != QOR_RES_OK) {
        QOR_LOG_ERROR(kTag, "Failed to read the i2c device, ret=%d \n", ret);
        goto fail;
    }
    if (id != kChipId) {
        QOR_LOG_ERROR(kTag,
                      "Failed to ensure that the i2c device has a compatible S5K3P9 sensor! ret=%d chip_version=0x%x "
                      "(expect chip 0x%x)\n",
                      ret, id, kChipId);
        goto fail;
    }
    QOR_LOG_INFO(kTag, "Found S5K3P9 sensor! chip_version=0x%x\n", id);
    S5K3P9_GetModeInfo(psCam, 0, &psCam->currMode);
    return QOR_RES_OK;

fail:
    // Everything acquired so far is released, the PHY included, and the sensor is left powered down.
    if (psCam->i2c >= 0)
        SEAM_Close(psCam->i2c);
    powerDown(psCam);
    closeChips(psCam);
    SensorPhyDeinit(psCam->psSensorPhy);
    std::free(psCam);
    *phHandle = nullptr;
    return QOR_RES_DEVICE_FAILED;
}

} // extern "C"
