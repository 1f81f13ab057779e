// The external MIPI generator board: two fixed modes, no I2C; the board is powered through its power-down and reset
// lines and the PHY and gasket are opened at Enable. The frame size goes to the PHY so the board generates it.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "norvacommon/userlog.h"
#include "sensorapi/board_config.h"
#include "sensorapi/sensor_phy.h"
#include "sensors/sensor_drivers.h"
#include "sys/sys_seam.h"

namespace {

constexpr const char *kTag = "ZYNQ_SENSOR";

SENSOR_MODE makeMode(QOR_UINT16 width, QOR_UINT16 height) {
    SENSOR_MODE m;
    std::memset(&m, 0, sizeof m);
    m.ui8BitDepth = 8;
    m.ui16Width = width;
    m.ui16Height = height;
    m.flTrow = 78.0;
    m.flFrameRate = 30.0;
    m.flPixelRate = 200.0;
    m.ui16HorizontalTotal = width;
    m.ui16VerticalTotal = height;
    m.ui32ExposureMin = 1;
    m.ui32ExposureMax = 1;
    m.ui8MipiLanes = 2;
    m.ui8MipiHsFreqRange = 9;
    return m;
}

const SENSOR_MODE ZYNQ_modes[] = {makeMode(64, 64), makeMode(640, 480)};
constexpr QOR_UINT16 kModeCount = sizeof ZYNQ_modes / sizeof ZYNQ_modes[0];
const QOR_UINT8 zynq_num_modes[] = {kModeCount};

struct ZYNQ_STRUCT {
    SENSOR_FUNCS sFuncs; /* first: the record's address is the handle */
    QOR_UINT16 ui16CurrentMode;
    QOR_UINT8 ui8CurrentFlipping;
    QOR_BOOL bEnabled;
    SENSOR_MODE currMode;
    QOR_UINT32 ui32Exposure;
    double flGain;
    QOR_UINT8 imager;
    QOR_UINT8 sensorNumOnBoard;
    SEAM_GPIO_CHIP *rst_gpio_chip;
    SEAM_GPIO_CHIP *pwdn_gpio_chip;
    SEAM_GPIO_LINE *pwdn_line;
    SEAM_GPIO_LINE *reset_line;
    SENSOR_PHY *psSensorPhy;
};

ZYNQ_STRUCT *camOf(SENSOR_HANDLE h) { return reinterpret_cast<ZYNQ_STRUCT *>(h); }

bool notInitialised(const ZYNQ_STRUCT *psCam) {
    if (psCam->psSensorPhy != nullptr)
        return false;
    QOR_LOG_ERROR(kTag, "sensor not initialised\n");
    return true;
}

/** Drives both lines (power-down first); false at the first line that does not follow. */
bool setLines(ZYNQ_STRUCT *psCam, int level) {
    if (SEAM_GpioLineSetValue(psCam->pwdn_line, level) != 0) {
        QOR_LOG_ERROR(kTag, level ? "Failed to set PWDN GPIO to HIGH\n" : "Failed to set PWDN GPIO to LOW\n");
        return false;
    }
    if (SEAM_GpioLineSetValue(psCam->reset_line, level) != 0) {
        QOR_LOG_ERROR(kTag, level ? "Failed to set RESET GPIO to HIGH\n" : "Failed to set RESET GPIO to LOW\n");
        return false;
    }
    return true;
}

/** Takes a line and requests it as a low output. */
SEAM_GPIO_LINE *lowLine(SEAM_GPIO_CHIP *chip, int number, const char *name) {
    if (number < 0) {
        QOR_LOG_ERROR(kTag, "%s GPIO is not defined\n", name);
        return nullptr;
    }
    QOR_LOG_INFO(kTag, "Get GPIO %s %d:\n", name, number);
    SEAM_GPIO_LINE *line = SEAM_GpioChipGetLine(chip, static_cast<unsigned>(number));
    if (line == nullptr) {
        QOR_LOG_ERROR(kTag, "Failed to get %s GPIO\n", name);
        return nullptr;
    }
    if (SEAM_GpioLineRequestOutput(line, "Sensor", 0) != 0) {
        QOR_LOG_ERROR(kTag, "Failed to request %s GPIO\n", name);
        return nullptr;
    }
    if (SEAM_GpioLineSetValue(line, 0) != 0) {
        QOR_LOG_ERROR(kTag, "Failed to set %s GPIO to LOW\n", name);
        return nullptr;
    }
    return line;
}

void closeChips(ZYNQ_STRUCT *psCam) {
    if (psCam->pwdn_gpio_chip != nullptr)
        SEAM_GpioChipClose(psCam->pwdn_gpio_chip);
    if (psCam->rst_gpio_chip != nullptr)
        SEAM_GpioChipClose(psCam->rst_gpio_chip);
    psCam->pwdn_gpio_chip = nullptr;
    psCam->rst_gpio_chip = nullptr;
    psCam->pwdn_line = nullptr;
    psCam->reset_line = nullptr;
}

} // namespace

extern "C" {

QOR_RESULT ZYNQ_GetMode(SENSOR_HANDLE /*hHandle*/, QOR_UINT16 nIndex, SENSOR_MODE *psModes) {
    if (nIndex >= kModeCount)
        return QOR_RES_NOT_SUPPORTED;
    *psModes = ZYNQ_modes[nIndex];
    return QOR_RES_OK;
}

QOR_RESULT ZYNQ_SetMode(SENSOR_HANDLE hHandle, QOR_UINT16 nMode, QOR_UINT8 ui8Flipping) {
    ZYNQ_STRUCT *psCam = camOf(hHandle);
    if (notInitialised(psCam))
        return QOR_RES_NOT_INITIALISED;
    if (ui8Flipping != 0) {
        QOR_LOG_ERROR(kTag, "sensor does not support flipping\n");
        return QOR_RES_NOT_SUPPORTED;
    }
    if (nMode >= kModeCount) {
        QOR_LOG_ERROR(kTag, "invalid mode %d\n", nMode);
        return QOR_RES_INVALID_PARAM;
    }
    psCam->currMode = ZYNQ_modes[nMode];
    psCam->ui16CurrentMode = nMode;
    return QOR_RES_OK;
}

QOR_RESULT ZYNQ_GetState(SENSOR_HANDLE hHandle, SENSOR_STATUS *psStatus) {
    ZYNQ_STRUCT *psCam = camOf(hHandle);
    if (psCam->psSensorPhy != nullptr && psCam->psSensorPhy->psConnection != nullptr) {
        psStatus->ui16CurrentMode = psCam->ui16CurrentMode;
        psStatus->eState = psCam->bEnabled ? SENSOR_STATE_RUNNING : SENSOR_STATE_IDLE;
    } else {
        psStatus->ui16CurrentMode = 0;
        psStatus->eState = SENSOR_STATE_UNINITIALISED;
    }
    psStatus->ui8Flipping = 0;
    return QOR_RES_OK;
}

QOR_RESULT ZYNQ_GetInfo(SENSOR_HANDLE hHandle, SENSOR_INFO *psInfo) {
    ZYNQ_STRUCT *psCam = camOf(hHandle);
    if (notInitialised(psCam))
        return QOR_RES_NOT_INITIALISED;
    std::snprintf(psInfo->pszSensorName, sizeof psInfo->pszSensorName, "ZYNQ");
    std::snprintf(psInfo->pszSensorVersion, sizeof psInfo->pszSensorVersion, "not-verified");
    psInfo->eBayerOriginal = MOSAIC_RGGB;
    psInfo->eBayerEnabled = MOSAIC_RGGB;
    psInfo->fNumber = 0.0;
    psInfo->fPixelSize = 1.0;
    psInfo->flReadNoise = 0.0;
    psInfo->ui16FocalLength = 0;
    psInfo->ui32WellDepth = 0;
    psInfo->ui8Imager = psCam->imager;
    psInfo->bBackFacing = QOR_TRUE;
    psInfo->ui8NumConfig = 1;
    psInfo->pNumModes = zynq_num_modes;
    return QOR_RES_OK;
}

QOR_RESULT ZYNQ_GetCurrentGainRange(SENSOR_HANDLE /*hHandle*/, double *pflMin, double *pflMax, QOR_UINT8 *puiContexts) {
    *pflMin = 1.0;
    *pflMax = 1.0;
    *puiContexts = 1;
    return QOR_RES_OK;
}

QOR_RESULT ZYNQ_GetCurrentGain(SENSOR_HANDLE hHandle, double *pflCurrent, QOR_UINT8 /*ui8Context*/) {
    ZYNQ_STRUCT *psCam = camOf(hHandle);
    if (notInitialised(psCam))
        return QOR_RES_NOT_INITIALISED;
    *pflCurrent = psCam->flGain;
    return QOR_RES_OK;
}

QOR_RESULT ZYNQ_GetExposureRange(SENSOR_HANDLE hHandle, QOR_UINT32 *pui32Min, QOR_UINT32 *pui32Max,
                                 QOR_UINT8 *pui8Contexts) {
    ZYNQ_STRUCT *psCam = camOf(hHandle);
    if (notInitialised(psCam))
        return QOR_RES_NOT_INITIALISED;
    *pui32Min = psCam->currMode.ui32ExposureMin;
    *pui32Max = psCam->currMode.ui32ExposureMax;
    *pui8Contexts = 1;
    return QOR_RES_OK;
}

QOR_RESULT ZYNQ_GetExposure(SENSOR_HANDLE hHandle, QOR_UINT32 *pui32Exposure, QOR_UINT8 /*ui8Context*/) {
    ZYNQ_STRUCT *psCam = camOf(hHandle);
    if (notInitialised(psCam))
        return QOR_RES_NOT_INITIALISED;
    *pui32Exposure = psCam->ui32Exposure;
    return QOR_RES_OK;
}

QOR_RESULT ZYNQ_SetExposureGain(SENSOR_HANDLE /*hHandle*/, QOR_UINT32 /*ui32Exposure*/, double /*flGain*/,
                                QOR_UINT8 /*ui8Context*/) {
    return QOR_RES_OK;
}

QOR_RESULT ZYNQ_SetConnection(SENSOR_HANDLE hHandle, CI_CONNECTION *pConn) {
    ZYNQ_STRUCT *psCam = camOf(hHandle);
    if (psCam->psSensorPhy == nullptr)
        return QOR_RES_DEVICE_FAILED;
    SensorPhySetConnection(psCam->psSensorPhy, pConn);
    return QOR_RES_OK;
}

QOR_RESULT ZYNQ_Enable(SENSOR_HANDLE hHandle) {
    ZYNQ_STRUCT *psCam = camOf(hHandle);
    if (notInitialised(psCam))
        return QOR_RES_NOT_INITIALISED;
    QOR_LOG_INFO(kTag, "Enabling zynq data generator!\n");
    SENSOR_PHY *phy = psCam->psSensorPhy;
    phy->psGasket->bParallel = QOR_FALSE;
    phy->psGasket->uiGasket = psCam->imager;
    phy->psConfig = SensorPhyConfigPtr(SENSOR_MIRAVO_ZYNQ);
    if (phy->psConfig != nullptr) {
        phy->psConfig->params.mipi_osc_freq = psCam->currMode.ui8MipiOscFreq;
        phy->psConfig->params.frame_width = psCam->currMode.ui16Width;
        phy->psConfig->params.frame_height = psCam->currMode.ui16Height;
    }
    QOR_LOG_INFO(kTag, "MipiOscFreq = %d\n", psCam->currMode.ui8MipiOscFreq);
    QOR_RESULT ret = SensorPhyCtrl(phy, QOR_TRUE, psCam->currMode.ui8MipiLanes, psCam->currMode.ui8MipiHsFreqRange, 0);
    if (ret != QOR_RES_OK) {
        if (ret == SENSOR_PHY_REFUSED)
            SensorPhyCtrl(phy, QOR_FALSE, 0, 0, 0); // the port was claimed
        QOR_LOG_ERROR(kTag, "failed to switch the PHY on\n");
        return ret;
    }
    if (!setLines(psCam, 1)) {
        // The board stays powered down and the port free: nothing changed.
        setLines(psCam, 0);
        SensorPhyCtrl(phy, QOR_FALSE, 0, 0, 0);
        return QOR_RES_DEVICE_FAILED;
    }
    QOR_LOG_INFO(kTag, "Set PWDN GPIO to 1\n");
    QOR_LOG_INFO(kTag, "Set RESET GPIO to 1\n");
    psCam->bEnabled = QOR_TRUE;
    return QOR_RES_OK;
}

QOR_RESULT ZYNQ_Disable(SENSOR_HANDLE hHandle) {
    ZYNQ_STRUCT *psCam = camOf(hHandle);
    if (notInitialised(psCam))
        return QOR_RES_NOT_INITIALISED;
    QOR_LOG_INFO(kTag, "Disabling zynq data generator\n");
    // The board is stopped first: a line that does not follow leaves the driver enabled, as the board is.
    if (!setLines(psCam, 0))
        return QOR_RES_DEVICE_FAILED;
    psCam->bEnabled = QOR_FALSE;
    psCam->psSensorPhy->psConfig = SensorPhyConfigPtr(SENSOR_MIRAVO_ZYNQ);
    SensorPhyCtrl(psCam->psSensorPhy, QOR_FALSE, 0, 0, 0);
    return QOR_RES_OK;
}

QOR_RESULT ZYNQ_Destroy(SENSOR_HANDLE hHandle) {
    ZYNQ_STRUCT *psCam = camOf(hHandle);
    if (notInitialised(psCam))
        return QOR_RES_NOT_INITIALISED;
    if (psCam->bEnabled) {
        psCam->psSensorPhy->psConfig = SensorPhyConfigPtr(SENSOR_MIRAVO_ZYNQ);
        SensorPhyCtrl(psCam->psSensorPhy, QOR_FALSE, 0, 0, 0);
    }
    if (SEAM_GpioLineSetValue(psCam->pwdn_line, 0) != 0)
        QOR_LOG_ERROR(kTag, "Failed to set PWDN GPIO to LOW\n");
    else
        QOR_LOG_INFO(kTag, "PWDN GPIO set to 0\n");
    if (SEAM_GpioLineSetValue(psCam->reset_line, 0) != 0)
        QOR_LOG_ERROR(kTag, "Failed to set RESET GPIO to LOW\n");
    else
        QOR_LOG_INFO(kTag, "RESET GPIO set to 0\n");
    closeChips(psCam);
    QOR_LOG_INFO(kTag, "Destroying zynq data generator\n");
    SensorPhyDeinit(psCam->psSensorPhy);
    std::free(psCam);
    return QOR_RES_OK;
}

QOR_RESULT ZYNQ_Create(SENSOR_HANDLE *phHandle) {
    ZYNQ_STRUCT *psCam = static_cast<ZYNQ_STRUCT *>(std::calloc(1, sizeof(ZYNQ_STRUCT)));
    if (psCam == nullptr)
        return QOR_RES_NO_MEMORY;
    *phHandle = &psCam->sFuncs;
    SENSOR_FUNCS &f = psCam->sFuncs;
    f.GetMode = ZYNQ_GetMode;
    f.GetState = ZYNQ_GetState;
    f.SetMode = ZYNQ_SetMode;
    f.Enable = ZYNQ_Enable;
    f.Disable = ZYNQ_Disable;
    f.Destroy = ZYNQ_Destroy;
    f.GetInfo = ZYNQ_GetInfo;
    f.GetGainRange = ZYNQ_GetCurrentGainRange;
    f.GetCurrentGain = ZYNQ_GetCurrentGain;
    f.GetExposureRange = ZYNQ_GetExposureRange;
    f.GetExposure = ZYNQ_GetExposure;
    f.SetExposureGain = ZYNQ_SetExposureGain;
    f.SetConnection = ZYNQ_SetConnection;
    psCam->ui32Exposure = 1;
    psCam->flGain = 1.0;
    psCam->currMode = ZYNQ_modes[0];
    psCam->imager = static_cast<QOR_UINT8>(GetImagerNum(SENSOR_MIRAVO_ZYNQ));
    QOR_LOG_INFO(kTag, "Gasket %d init\n", psCam->imager);

    board_params board;
    std::memset(&board, 0, sizeof board);
    char name[32];
    psCam->psSensorPhy = SensorPhyInit(SENSOR_MIRAVO_ZYNQ);
    if (psCam->psSensorPhy == nullptr) {
        QOR_LOG_ERROR(kTag, "Failed to create sensor phy!\n");
        goto fail;
    }
    if (GetBoardParameters(psCam->sensorNumOnBoard, &board) != QOR_RES_OK)
        goto fail;
    std::snprintf(name, sizeof name, "gpiochip%d", board.gpio.pwdn_chip_num);
    psCam->pwdn_gpio_chip = SEAM_GpioChipOpenByName(name);
    if (psCam->pwdn_gpio_chip == nullptr) {
        QOR_LOG_ERROR(kTag, "PWDN GPIO controller not found!\n");
        goto fail;
    }
    QOR_LOG_INFO(kTag, "PWDN GPIO controller %s found!\n", name);
    std::snprintf(name, sizeof name, "gpiochip%d", board.gpio.rst_chip_num);
    psCam->rst_gpio_chip = SEAM_GpioChipOpenByName(name);
    if (psCam->rst_gpio_chip == nullptr) {
        QOR_LOG_ERROR(kTag, "Reset GPIO controller not found!\n");
        goto fail;
    }
    QOR_LOG_INFO(kTag, "Reset GPIO controller %s found!\n", name);
    psCam->pwdn_line = lowLine(psCam->pwdn_gpio_chip, board.gpio.pwdn_num, "PWDN");
    if (psCam->pwdn_line == nullptr)
        goto fail;
    psCam->reset_line = lowLine(psCam->rst_gpio_chip, board.gpio.reset_num, "RESET");
    if (psCam->reset_line == nullptr)
        goto fail;
    return QOR_RES_OK;

fail:
    closeChips(psCam);
    SensorPhyDeinit(psCam->psSensorPhy);
    std::free(psCam);
    *phHandle = nullptr;
    return QOR_RES_DEVICE_FAILED;
}

} // extern "C"
