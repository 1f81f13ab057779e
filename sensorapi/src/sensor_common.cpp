// The sensor driver framework: I2C register layer, table lookup, board bring-up and the generic operations.
#include "sensorapi/sensor_common.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>

#include "ci/ci_gasket.h"
#include "norvacommon/userlog.h"

#include "board_power.h"

namespace {

constexpr const char *kTag = SENSOR_I2C_LOG_TAG;
constexpr unsigned long kI2cSlave = 0x0703ul;
constexpr QOR_UINT32 kPowerUpDelayUs = 100000;
constexpr QOR_UINT32 kInitialExposureFactor = 302;

CAM_STRUCT *camOf(SENSOR_HANDLE h) { return reinterpret_cast<CAM_STRUCT *>(h); }

/** Closes the GPIO chips, which releases their lines: the sensor stays powered as the lines were left. */
void releaseGpio(CAM_STRUCT *psCam) {
    psCam->pwdn_line = nullptr;
    psCam->rst_line = nullptr;
    if (psCam->csimx_chip != nullptr) {
        SEAM_GpioChipClose(psCam->csimx_chip);
        psCam->csimx_chip = nullptr;
    }
    if (psCam->rst_gpio_chip != nullptr) {
        SEAM_GpioChipClose(psCam->rst_gpio_chip);
        psCam->rst_gpio_chip = nullptr;
    }
    if (psCam->pwdn_gpio_chip != nullptr) {
        SEAM_GpioChipClose(psCam->pwdn_gpio_chip);
        psCam->pwdn_gpio_chip = nullptr;
    }
}

void closeI2c(CAM_STRUCT *psCam) {
    if (psCam->i2c_dev.fd >= 0) {
        SEAM_Close(psCam->i2c_dev.fd);
        psCam->i2c_dev.fd = -1;
    }
}

/** Undoes a bring-up that failed from the GPIO step on. */
QOR_RESULT failBringUp(CAM_STRUCT *psCam) {
    closeI2c(psCam);
    releaseGpio(psCam);
    SensorPhyDeinit(psCam->psSensorPhy);
    psCam->psSensorPhy = nullptr;
    return QOR_RES_DEVICE_FAILED;
}

/** The multiplexer of the camera interface on "gpiochip6": SEL selects the slot, nOE (active low) enables. */
bool setMultiplexer(CAM_STRUCT *psCam) {
    static const char *const kFunc = "PellorinMxGpioSet";
    psCam->csimx_chip = SEAM_GpioChipOpenByName("gpiochip6");
    if (psCam->csimx_chip == nullptr) {
        LOG_Error(kFunc, __LINE__, kTag, "GPIO controller for csi multiplexer not found!\n");
        return false;
    }
    SEAM_GPIO_LINE *sel = SEAM_GpioChipGetLine(psCam->csimx_chip, 2);
    if (sel == nullptr) {
        LOG_Error(kFunc, __LINE__, kTag, "Failed get csi multiplexer SEL GPIO\n");
        return false;
    }
    SEAM_GPIO_LINE *noe = SEAM_GpioChipGetLine(psCam->csimx_chip, 3);
    if (noe == nullptr) {
        LOG_Error(kFunc, __LINE__, kTag, "Failed get csi multiplexer nOE GPIO\n");
        return false;
    }
    if (SEAM_GpioLineRequestOutput(sel, "Sensor", 1) != 0) {
        LOG_Error(kFunc, __LINE__, kTag, "Failed to request csi multiplexer SEL GPIO\n");
        return false;
    }
    const int select = static_cast<int>(psCam->sensorNumOnBoard) - 1;
    LOG_Info(kFunc, __LINE__, kTag, "Set csi multiplexer SEL to %d\n", select);
    if (SEAM_GpioLineSetValue(sel, select) != 0) {
        LOG_Error(kFunc, __LINE__, kTag, "Failed to set csi multiplexer SEL\n");
        return false;
    }
    if (SEAM_GpioLineRequestOutput(noe, "Sensor", 1) != 0) {
        LOG_Error(kFunc, __LINE__, kTag, "Failed to request csi multiplexer nOE GPIO\n");
        return false;
    }
    LOG_Info(kFunc, __LINE__, kTag, "Set csi multiplexer nOE to 0");
    if (SEAM_GpioLineSetValue(noe, 0) != 0) {
        LOG_Error(kFunc, __LINE__, kTag, "Failed to set csi multiplexer nOE\n");
        return false;
    }
    return true;
}

/** The power-down and reset sequence, then the sensor's start-up delay; false after logging the step that failed. */
bool powerUp(CAM_STRUCT *psCam, const board_params &board) {
    if (!norva_board::powerUp(psCam, board, kTag))
        return false;
    SEAM_Usleep(kPowerUpDelayUs);
    return true;
}

} // namespace

extern "C" {

QOR_RESULT sensor_i2c_write8(sensor_i2c_dev i2c, const QOR_UINT8 *data, unsigned int len) {
    const unsigned entry = i2c.addrSize + 1u;
    if (data == nullptr || len % entry != 0) {
        QOR_LOG_ERROR(kTag, "Wrong len of data array, len = %d\n", len);
        return QOR_RES_INVALID_PARAM;
    }
    if (SEAM_Ioctl(i2c.fd, kI2cSlave, reinterpret_cast<void *>(static_cast<uintptr_t>(i2c.writeAddr))) < 0) {
        QOR_LOG_ERROR(kTag, "Failed to write I2C slave address!\n");
        return QOR_RES_IO_FAILED;
    }
    for (unsigned i = 0; i < len; i += entry) {
        if (i2c.addrSize == 2 && data[i] == SENSOR_TABLE_DELAY) {
            SEAM_Usleep(static_cast<uint64_t>(data[i + 1]) * 1000u);
            continue;
        }
        const ssize_t written = SEAM_Write(i2c.fd, data + i, entry);
        if (written != static_cast<ssize_t>(entry)) {
            QOR_LOG_ERROR(kTag, "Failed to write I2C data! write_len = %d, index = %d\n", static_cast<int>(written),
                          static_cast<int>(i));
            return QOR_RES_IO_FAILED;
        }
    }
    return QOR_RES_OK;
}

static QOR_RESULT readRegisters(sensor_i2c_dev i2c, QOR_UINT16 offset, QOR_UINT8 *out, unsigned count) {
    if (SEAM_Ioctl(i2c.fd, kI2cSlave, reinterpret_cast<void *>(static_cast<uintptr_t>(i2c.readAddr))) < 0) {
        QOR_LOG_ERROR(kTag, "Failed to write I2C read address!\n");
        return QOR_RES_IO_FAILED;
    }
    QOR_UINT8 address[2];
    size_t n = 0;
    if (i2c.addrSize == 2)
        address[n++] = static_cast<QOR_UINT8>(offset >> 8);
    address[n++] = static_cast<QOR_UINT8>(offset & 0xFF);
    const ssize_t written = SEAM_Write(i2c.fd, address, n);
    if (written != static_cast<ssize_t>(n))
        QOR_LOG_WARNING(kTag, "Wrote %dB instead of %luB before reading\n", static_cast<int>(written),
                        static_cast<unsigned long>(n));
    if (SEAM_Read(i2c.fd, out, count) != static_cast<ssize_t>(count)) {
        QOR_LOG_ERROR(kTag, "Failed to read I2C at 0x%x\n", offset);
        return QOR_RES_FAILED;
    }
    return QOR_RES_OK;
}

QOR_RESULT sensor_i2c_read8(sensor_i2c_dev i2c, QOR_UINT16 offset, QOR_UINT8 *data) {
    if (data == nullptr)
        return QOR_RES_INVALID_PARAM;
    return readRegisters(i2c, offset, data, 1);
}

QOR_RESULT sensor_i2c_read16(sensor_i2c_dev i2c, QOR_UINT16 offset, QOR_UINT16 *data) {
    if (data == nullptr)
        return QOR_RES_INVALID_PARAM;
    QOR_UINT8 bytes[2] = {0, 0};
    const QOR_RESULT ret = readRegisters(i2c, offset, bytes, 2);
    if (ret == QOR_RES_OK)
        *data = static_cast<QOR_UINT16>((bytes[0] << 8) | bytes[1]);
    return ret;
}

const QOR_UINT8 *SensorModeGetRegisters(sensor_mode *currReg, const int currSize, unsigned int uiNum,
                                        unsigned int *nRegisters) {
    if (currReg == nullptr || currSize <= 0 || uiNum >= static_cast<unsigned>(currSize))
        return nullptr;
    sensor_mode &d = currReg[uiNum];
    if (d.modeRegisters == nullptr)
        return nullptr;
    if (d.nRegisters == 0) {
        const unsigned step = currReg[0].sizeRegisters != 0 ? currReg[0].sizeRegisters : 3;
        QOR_UINT32 n = 0;
        while (d.modeRegisters[n * step] != SENSOR_TABLE_END)
            n++;
        d.nRegisters = n;
    }
    if (nRegisters != nullptr)
        *nRegisters = d.nRegisters;
    return d.modeRegisters;
}

QOR_RESULT CamCheckMode(CAM_STRUCT *psCam, QOR_UINT16 nMode) {
    const unsigned c = SENSOR_MODE_CONFIG(nMode);
    const unsigned m = SENSOR_MODE_INDEX(nMode);
    if (c < psCam->uiConfigsSize && c < psCam->uiNumModesSize && psCam->pNumModes != nullptr && m < psCam->pNumModes[c])
        return QOR_RES_OK;
    QOR_LOG_ERROR(kTag, "Mode %d not supported\n", nMode);
    return QOR_RES_NOT_SUPPORTED;
}

QOR_RESULT CamSetConfig(CAM_STRUCT *psCam, QOR_UINT16 nConfig) {
    const unsigned c = SENSOR_MODE_CONFIG(nConfig);
    unsigned n = 0;
    const QOR_UINT8 *regs = SensorModeGetRegisters(psCam->pConfigs, psCam->uiConfigsSize, c, &n);
    if (regs == nullptr)
        return QOR_RES_INVALID_PARAM;
    psCam->currConfig = c;
    psCam->currConfReg = regs;
    psCam->nConfRegisters = n;
    return QOR_RES_OK;
}

QOR_RESULT CamWrite(CAM_STRUCT *psCam, const QOR_UINT8 *data, unsigned int len) {
    const QOR_RESULT ret = sensor_i2c_write8(psCam->i2c_dev, data, len);
    if (ret != QOR_RES_OK)
        psCam->bIoFailed = QOR_TRUE;
    return ret;
}

QOR_RESULT CamInitialize(CAM_STRUCT *psCam) {
    psCam->i2c_dev.fd = -1;
    board_params board;
    std::memset(&board, 0, sizeof board);
    if (GetBoardParameters(psCam->sensorNumOnBoard, &board) != QOR_RES_OK)
        return QOR_RES_DEVICE_FAILED;
    psCam->freqDivider = board.freq_divider;
    psCam->refClock = static_cast<QOR_UINT32>(board.clk_freq * 1000000.0f);

    psCam->psSensorPhy = SensorPhyInit(psCam->nSensor);
    if (psCam->psSensorPhy == nullptr) {
        QOR_LOG_ERROR(kTag, "Failed to create sensor phy!\n");
        return QOR_RES_DEVICE_FAILED;
    }
    psCam->psSensorPhy->psConfig = SensorPhyConfigPtr(psCam->nSensor);

    if (!powerUp(psCam, board))
        return failBringUp(psCam);
    if (board.mux_need && !setMultiplexer(psCam))
        return failBringUp(psCam);

    const int fd = SEAM_Open(board.i2c_dev_path, O_RDWR, 0);
    if (fd < 0) {
        QOR_LOG_ERROR(kTag, "Failed to open I2C device: \"%s\", err = %d\n", board.i2c_dev_path, fd);
        return failBringUp(psCam);
    }
    psCam->i2c_dev.fd = fd;
    QOR_UINT16 chip = 0;
    const QOR_RESULT ret = sensor_i2c_read16(psCam->i2c_dev, psCam->sensorChipIdOffset, &chip);
    if (ret != QOR_RES_OK) {
        QOR_LOG_ERROR(kTag, "Failed to read the I2C device, ret=%d \n", ret);
        return failBringUp(psCam);
    }
    if (chip != psCam->sensorChipId) {
        QOR_LOG_ERROR(kTag,
                      "Failed to ensure that the I2C device has a compatible sensor! chip_version=0x%x (expect chip "
                      "0x%x)\n",
                      chip, psCam->sensorChipId);
        return failBringUp(psCam);
    }
    return QOR_RES_OK;
}

QOR_RESULT SensorFuncGetMode(SENSOR_HANDLE hHandle, QOR_UINT16 nMode, SENSOR_MODE *psModes) {
    CAM_STRUCT *psCam = camOf(hHandle);
    QOR_RESULT ret = CamCheckMode(psCam, nMode);
    if (ret != QOR_RES_OK)
        return ret;
    ret = psCam->GetConfInfo(psCam, nMode, psModes);
    if (ret != QOR_RES_OK)
        return ret;
    return psCam->GetModeInfo(psCam, nMode, psModes);
}

QOR_RESULT SensorFuncGetState(SENSOR_HANDLE hHandle, SENSOR_STATUS *psStatus) {
    CAM_STRUCT *psCam = camOf(hHandle);
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

QOR_RESULT SensorFuncSetMode(SENSOR_HANDLE hHandle, QOR_UINT16 nMode, QOR_UINT8 ui8Flipping) {
    CAM_STRUCT *psCam = camOf(hHandle);
    if (psCam->psSensorPhy == nullptr) {
        QOR_LOG_ERROR(kTag, "sensor not initialised\n");
        return QOR_RES_NOT_INITIALISED;
    }
    QOR_RESULT ret = CamCheckMode(psCam, nMode);
    if (ret != QOR_RES_OK)
        return ret;
    // Everything is checked before anything changes, so a refused request leaves the instance as it was.
    const unsigned c = SENSOR_MODE_CONFIG(nMode);
    const unsigned index = SENSOR_MODE_INDEX(nMode) + 4u * c;
    unsigned nMode_ = 0;
    const QOR_UINT8 *modeRegs = SensorModeGetRegisters(psCam->pModes, psCam->uiModesSize, index, &nMode_);
    if (modeRegs == nullptr || SensorModeGetRegisters(psCam->pConfigs, psCam->uiConfigsSize, c, nullptr) == nullptr)
        return QOR_RES_INVALID_PARAM;
    const QOR_UINT8 supported = psCam->pModes[index].ui8Flipping;
    if ((ui8Flipping & ~supported) != 0) {
        QOR_LOG_ERROR(kTag, "sensor mode does not support selected flipping 0x%x (supports 0x%x)\n", ui8Flipping,
                      supported);
        return QOR_RES_NOT_SUPPORTED;
    }
    const double sclk = psCam->sclk;
    const unsigned lanes = psCam->num_lanes;
    SENSOR_MODE mode;
    std::memset(&mode, 0, sizeof mode);
    ret = psCam->GetConfInfo(psCam, nMode, &mode);
    if (ret == QOR_RES_OK) {
        ret = psCam->GetModeInfo(psCam, nMode, &mode);
        if (ret != QOR_RES_OK) {
            QOR_LOG_ERROR(kTag, "failed to get mode %d initial information!\n", nMode);
            ret = QOR_RES_FAILED;
        }
    }
    if (ret != QOR_RES_OK) {
        psCam->sclk = sclk;
        psCam->num_lanes = lanes;
        return ret;
    }
    CamSetConfig(psCam, nMode);
    psCam->currMode = mode;
    psCam->currModeReg = modeRegs;
    psCam->nModeRegisters = nMode_;
    psCam->ui8CurrentFlipping = ui8Flipping;
    psCam->ui16CurrentMode = nMode;
    psCam->ui16CurrentFocus = static_cast<QOR_UINT16>(psCam->focus_dac_min);
    psCam->ui32Exposure[0] = CamInitialExposure(&mode);
    return QOR_RES_OK;
}

QOR_RESULT SensorFuncEnable(SENSOR_HANDLE hHandle) {
    CAM_STRUCT *psCam = camOf(hHandle);
    if (psCam->psSensorPhy == nullptr) {
        QOR_LOG_ERROR(kTag, "sensor not initialised\n");
        return QOR_RES_NOT_INITIALISED;
    }
    QOR_LOG_INFO(kTag, "Enabling %s Camera!\n", psCam->sensorName);
    SENSOR_PHY *phy = psCam->psSensorPhy;
    phy->psGasket->bParallel = QOR_FALSE;
    phy->psGasket->uiGasket = psCam->imager;
    phy->psConfig = SensorPhyConfigPtr(psCam->nSensor);
    if (phy->psConfig != nullptr)
        phy->psConfig->params.mipi_osc_freq = psCam->currMode.ui8MipiOscFreq;
    QOR_RESULT ret = SensorPhyCtrl(phy, QOR_TRUE, psCam->currMode.ui8MipiLanes, psCam->currMode.ui8MipiHsFreqRange,
                                   static_cast<QOR_UINT8>(psCam->nSensor));
    // The Part leaves the PHY's result unchecked; an unclaimed port or a refused PHY sends no frames, so say so.
    if (ret != QOR_RES_OK) {
        if (ret == SENSOR_PHY_REFUSED) {
            SensorPhyCtrl(phy, QOR_FALSE, 0, 0, static_cast<QOR_UINT8>(psCam->nSensor)); // the port was claimed
            ret = QOR_RES_IO_FAILED;
        }
        QOR_LOG_ERROR(kTag, "failed to switch the sensor PHY on for %s\n", psCam->sensorName);
        return ret;
    }
    psCam->bEnabled = QOR_TRUE;
    psCam->bIoFailed = QOR_FALSE;
    psCam->ApplyConfig(psCam);
    psCam->ApplyMode(psCam);
    // The Part sends only the tables, so the sensor ran with their exposure while the driver reported another;
    // the exposure and gain in force go out after them.
    if (!psCam->bIoFailed && psCam->currModeReg != nullptr && psCam->sFuncs.SetExposureGain != nullptr) {
        QOR_UINT32 exposure = psCam->ui32Exposure[0];
        if (exposure < psCam->currMode.ui32ExposureMin)
            exposure = psCam->currMode.ui32ExposureMin;
        if (exposure > psCam->currMode.ui32ExposureMax)
            exposure = psCam->currMode.ui32ExposureMax;
        double gain = psCam->flGain[0];
        if (gain < psCam->aec_min_gain)
            gain = psCam->aec_min_gain;
        if (gain > psCam->aec_max_gain)
            gain = psCam->aec_max_gain;
        psCam->sFuncs.SetExposureGain(hHandle, exposure, gain, 0);
    }
    // The Part returns 0 after a failed table write; a sensor left half set up does not stream, so say so.
    if (psCam->bIoFailed) {
        QOR_LOG_ERROR(kTag, "failed to program %s: streaming not started\n", psCam->sensorName);
        psCam->bEnabled = QOR_FALSE;
        SensorPhyCtrl(phy, QOR_FALSE, 0, 0, static_cast<QOR_UINT8>(psCam->nSensor));
        return QOR_RES_IO_FAILED;
    }
    return QOR_RES_OK;
}

QOR_RESULT SensorFuncDisable(SENSOR_HANDLE hHandle, const QOR_UINT8 *disableRegs, const QOR_UINT16 length) {
    CAM_STRUCT *psCam = camOf(hHandle);
    if (!psCam->bEnabled)
        return QOR_RES_OK;
    QOR_LOG_INFO(kTag, "Disabling %s camera\n", psCam->sensorName);
    psCam->bEnabled = QOR_FALSE;
    psCam->bIoFailed = QOR_FALSE;
    CamWrite(psCam, disableRegs, length);
    SENSOR_PHY *phy = psCam->psSensorPhy;
    CI_GASKET_INFO info;
    std::memset(&info, 0, sizeof info);
    if (CI_GasketGetInfo(&info, psCam->imager, phy->psConnection) != QOR_RES_OK) {
        QOR_LOG_ERROR(kTag, "failed to get information about gasket %u\n", psCam->imager);
    } else {
        QOR_LOG_INFO(kTag, "%s (MIPI) - frame count %u\n", (info.eType & CI_GASKET_MIPI) ? "enabled" : "disabled",
                     info.ui32FrameCount);
        QOR_LOG_INFO(kTag, "Gasket MIPI FIFO %u - Enabled lanes %u\n", info.ui8MipiFifoFull, info.ui8MipiEnabledLanes);
        QOR_LOG_INFO(kTag,
                     "Gasket CRC Error 0x%x\n       HDR Error 0x%x\n       ECC Error 0x%x\n       ECC Corrected "
                     "0x%x\n       SOT Error Count 0x%x\n",
                     info.ui8MipiCrcError, info.ui8MipiHdrError, info.ui8MipiEccError, info.ui8MipiEccCorrected,
                     info.ui16MipiSotErrorCnt);
    }
    // Without a mode there is no frame rate: nothing to wait for.
    if (psCam->currMode.flFrameRate > 0.0)
        SEAM_Usleep(static_cast<uint64_t>(1.0 / psCam->currMode.flFrameRate * 1000.0 * 1000.0));
    phy->psConfig = SensorPhyConfigPtr(psCam->nSensor);
    const QOR_RESULT off = SensorPhyCtrl(phy, QOR_FALSE, 0, 0, static_cast<QOR_UINT8>(psCam->nSensor));
    // The Part returns 0 here; a failed stop table or a port or PHY that would not switch off is reported.
    if (psCam->bIoFailed || off == SENSOR_PHY_REFUSED)
        return QOR_RES_IO_FAILED;
    return off;
}

QOR_RESULT SensorFuncDestroy(SENSOR_HANDLE hHandle) {
    CAM_STRUCT *psCam = camOf(hHandle);
    if (psCam->psSensorPhy == nullptr) {
        QOR_LOG_ERROR(kTag, "sensor not initialised\n");
        return QOR_RES_NOT_INITIALISED;
    }
    if (psCam->bEnabled && psCam->sFuncs.Disable != nullptr)
        psCam->sFuncs.Disable(hHandle);
    releaseGpio(psCam);
    SensorPhyDeinit(psCam->psSensorPhy);
    psCam->psSensorPhy = nullptr;
    psCam->currModeReg = nullptr;
    psCam->currConfReg = nullptr;
    closeI2c(psCam);
    std::free(psCam);
    return QOR_RES_OK;
}

QOR_RESULT SensorFuncGetGainRange(SENSOR_HANDLE hHandle, double *pflMin, double *pflMax, QOR_UINT8 *puiContexts) {
    CAM_STRUCT *psCam = camOf(hHandle);
    *pflMin = psCam->aec_min_gain;
    *pflMax = psCam->aec_max_gain;
    *puiContexts = 0;
    return QOR_RES_OK;
}

QOR_RESULT SensorFuncGetGain(SENSOR_HANDLE hHandle, double *pflCurrent, QOR_UINT8 ui8Context) {
    CAM_STRUCT *psCam = camOf(hHandle);
    if (psCam->psSensorPhy == nullptr) {
        QOR_LOG_ERROR(kTag, "sensor not initialised\n");
        return QOR_RES_NOT_INITIALISED;
    }
    if (ui8Context >= SENSOR_MAX_CONTEXTS)
        return QOR_RES_NOT_SUPPORTED;
    *pflCurrent = psCam->flGain[ui8Context];
    return QOR_RES_OK;
}

QOR_RESULT SensorFuncGetExposureRange(SENSOR_HANDLE hHandle, QOR_UINT32 *pui32Min, QOR_UINT32 *pui32Max,
                                      QOR_UINT8 *pui8Contexts) {
    CAM_STRUCT *psCam = camOf(hHandle);
    if (psCam->psSensorPhy == nullptr) {
        QOR_LOG_ERROR(kTag, "sensor not initialised\n");
        return QOR_RES_NOT_INITIALISED;
    }
    *pui32Min = psCam->currMode.ui32ExposureMin;
    *pui32Max = psCam->currMode.ui32ExposureMax;
    *pui8Contexts = 0;
    return QOR_RES_OK;
}

QOR_RESULT SensorFuncGetExposure(SENSOR_HANDLE hHandle, QOR_UINT32 *pui32Exposure, QOR_UINT8 ui8Context) {
    CAM_STRUCT *psCam = camOf(hHandle);
    if (psCam->psSensorPhy == nullptr) {
        QOR_LOG_ERROR(kTag, "sensor not initialised\n");
        return QOR_RES_NOT_INITIALISED;
    }
    if (ui8Context >= SENSOR_MAX_CONTEXTS)
        return QOR_RES_NOT_SUPPORTED;
    *pui32Exposure = psCam->ui32Exposure[ui8Context];
    return QOR_RES_OK;
}

QOR_RESULT SensorFuncSetConnection(SENSOR_HANDLE hHandle, CI_CONNECTION *pConn) {
    CAM_STRUCT *psCam = camOf(hHandle);
    if (psCam->psSensorPhy == nullptr)
        return QOR_RES_DEVICE_FAILED;
    SensorPhySetConnection(psCam->psSensorPhy, pConn);
    return QOR_RES_OK;
}

QOR_RESULT SensorFuncSetExposureGain(SENSOR_HANDLE hHandle, QOR_UINT32 ui32Exposure, double flGain,
                                     QOR_UINT8 ui8Context, QOR_UINT8 *expGainRegs, const QOR_UINT16 length,
                                     const QOR_UINT8 firstExpGainReg) {
    CAM_STRUCT *psCam = camOf(hHandle);
    if (psCam->psSensorPhy == nullptr) {
        QOR_LOG_ERROR(kTag, "sensor is not initialised\n");
        return QOR_RES_NOT_INITIALISED;
    }
    if (ui8Context >= SENSOR_MAX_CONTEXTS)
        return QOR_RES_NOT_SUPPORTED;
    psCam->ui32Exposure[ui8Context] = ui32Exposure;
    psCam->ComputeExposureGain(psCam, ui8Context, flGain, expGainRegs + firstExpGainReg);
    psCam->flGain[ui8Context] =
        psCam->GetActualGain != nullptr ? psCam->GetActualGain(expGainRegs, &psCam->currMode) : flGain;
    if (CamWrite(psCam, expGainRegs, length) != QOR_RES_OK)
        return QOR_RES_IO_FAILED;
    return QOR_RES_OK;
}

QOR_UINT32 CamInitialExposure(const SENSOR_MODE *mode) {
    const unsigned long long product = static_cast<unsigned long long>(mode->ui32ExposureMin) * kInitialExposureFactor;
    if (product > UINT32_MAX)
        return mode->ui32ExposureMin;
    return product > mode->ui32ExposureMax ? mode->ui32ExposureMax : static_cast<QOR_UINT32>(product);
}

QOR_UINT8 DiffBytesCount(QOR_UINT32 w1, QOR_UINT32 w2, QOR_UINT32 mask) {
    const QOR_UINT32 d = (w1 ^ w2) & mask;
    QOR_UINT8 n = 0;
    for (int shift = 0; shift < 32; shift += 8) {
        if (((d >> shift) & 0xFFu) != 0)
            n++;
    }
    return n;
}

} // extern "C"
