#ifndef NORVA_SENSORAPI_SENSOR_COMMON_H
#define NORVA_SENSORAPI_SENSOR_COMMON_H

/*
 * The shared body of the I2C image-sensor drivers: the common driver record, the I2C register layer, the
 * bring-up of the board around one sensor (board parameters, sensor PHY, power-down and reset lines,
 * multiplexer, I2C bus, chip identifier) and the generic operations. Log tag "SENSOR_I2C".
 *
 * Register arrays: entries of the register address (1 or 2 bytes, big-endian) and one value byte. 0xFF in the
 * first byte ends a table; on 2-byte-address buses an entry starting with 0xFE sleeps (second byte) ms.
 */

#include "sensorapi/board_config.h"
#include "sensorapi/sensor_phy.h"
#include "sensorapi/sensorapi.h"
#include "sys/sys_seam.h"

#ifdef __cplusplus
extern "C" {
#endif

#define SENSOR_I2C_LOG_TAG "SENSOR_I2C"
/** Exposure contexts a driver keeps. */
#define SENSOR_MAX_CONTEXTS 5
#define SENSOR_TABLE_END 0xFF
#define SENSOR_TABLE_DELAY 0xFE

typedef struct _sensor_i2c_dev_ {
    int fd;
    QOR_UINT8 writeAddr;
    QOR_UINT8 readAddr;
    QOR_UINT8 addrSize; /**< register address width in bytes, 1 or 2 */
} sensor_i2c_dev;

/** Descriptor of one configuration or mode register table. */
typedef struct _sensor_mode_ {
    QOR_UINT8 ui8Flipping;
    const QOR_UINT8 *modeRegisters;
    QOR_UINT32 nRegisters; /**< counted on first use and cached here */
    QOR_UINT8 sizeRegisters;
    QOR_UINT32 supportedFrequency;
    QOR_UINT8 hsFreqRange;
    QOR_UINT16 oscFreq;
} sensor_mode;

typedef struct _cam_struct CAM_STRUCT;

struct _cam_struct {
    SENSOR_FUNCS sFuncs; /**< first: the instance address is the SENSOR_HANDLE */
    QOR_UINT32 refClock; /**< Hz */
    QOR_UINT8 freqDivider;
    QOR_UINT16 ui16CurrentMode;
    QOR_UINT8 ui8CurrentFlipping;
    QOR_BOOL8 bEnabled;
    unsigned int currConfig;
    SENSOR_MODE currMode;
    const QOR_UINT8 *currModeReg;
    const QOR_UINT8 *currConfReg;
    QOR_UINT32 nConfRegisters;
    QOR_UINT32 nModeRegisters;
    sensor_mode *pConfigs;
    sensor_mode *pModes;
    const QOR_UINT8 *pNumModes;
    QOR_UINT8 uiConfigsSize;  /**< number of configuration descriptors */
    QOR_UINT16 uiModesSize;   /**< number of mode descriptors */
    QOR_UINT8 uiNumModesSize; /**< number of entries of pNumModes */
    double sclk;              /**< Hz */
    unsigned int num_lanes;
    QOR_UINT32 ui32Exposure[SENSOR_MAX_CONTEXTS];
    QOR_UINT8 hdrFrameNum;
    QOR_UINT32 ui32Vmax;
    QOR_UINT32 ui32Shutter;
    QOR_UINT16 ui16LongGainVal;
    QOR_BOOL reghold;
    double aec_min_gain;
    double aec_max_gain;
    double flGain[SENSOR_MAX_CONTEXTS];
    unsigned int focus_dac_min;
    QOR_UINT16 ui16CurrentFocus;
    sensor_num nSensor;
    char sensorName[64];
    QOR_UINT8 imager;
    QOR_UINT16 sensorChipIdOffset;
    QOR_UINT16 sensorChipId;
    QOR_UINT8 sensorNumOnBoard;
    SEAM_GPIO_CHIP *rst_gpio_chip;
    SEAM_GPIO_CHIP *pwdn_gpio_chip;
    SEAM_GPIO_CHIP *csimx_chip;
    sensor_i2c_dev i2c_dev;
    SENSOR_PHY *psSensorPhy;
    QOR_UINT8 extra[16];
    void (*ApplyConfig)(CAM_STRUCT *psCam);
    void (*ApplyMode)(CAM_STRUCT *psCam);
    QOR_RESULT (*GetConfInfo)(CAM_STRUCT *psCam, QOR_UINT16 nMode, SENSOR_MODE *info);
    QOR_RESULT (*GetModeInfo)(CAM_STRUCT *psCam, QOR_UINT16 nMode, SENSOR_MODE *info);
    void (*ComputeExposureGain)(CAM_STRUCT *psCam, QOR_UINT8 ui8Context, double flGain, QOR_UINT8 *regs);
    double (*GetActualGain)(const QOR_UINT8 *regs, const SENSOR_MODE *mode);
    /* The power lines requested by the bring-up (the power-down pulse drives the first again). */
    SEAM_GPIO_LINE *pwdn_line;
    SEAM_GPIO_LINE *rst_line;
    QOR_UINT8 pwdn_active_level; /**< the power-down line's level while the sensor is active */
    QOR_BOOL8 bIoFailed;         /**< a register write of the current operation failed */
};

QOR_RESULT sensor_i2c_write8(sensor_i2c_dev i2c, const QOR_UINT8 *data, unsigned int len);
QOR_RESULT sensor_i2c_read8(sensor_i2c_dev i2c, QOR_UINT16 offset, QOR_UINT8 *data);
QOR_RESULT sensor_i2c_read16(sensor_i2c_dev i2c, QOR_UINT16 offset, QOR_UINT16 *data);

const QOR_UINT8 *SensorModeGetRegisters(sensor_mode *currReg, const int currSize, unsigned int uiNum,
                                        unsigned int *nRegisters);
QOR_RESULT CamCheckMode(CAM_STRUCT *psCam, QOR_UINT16 nMode);
QOR_RESULT CamSetConfig(CAM_STRUCT *psCam, QOR_UINT16 nConfig);
QOR_RESULT CamInitialize(CAM_STRUCT *psCam);

/** Writes a register array through the instance's bus and remembers a failure for the running operation. */
QOR_RESULT CamWrite(CAM_STRUCT *psCam, const QOR_UINT8 *data, unsigned int len);

QOR_RESULT SensorFuncGetMode(SENSOR_HANDLE hHandle, QOR_UINT16 nMode, SENSOR_MODE *psModes);
QOR_RESULT SensorFuncGetState(SENSOR_HANDLE hHandle, SENSOR_STATUS *psStatus);
QOR_RESULT SensorFuncSetMode(SENSOR_HANDLE hHandle, QOR_UINT16 nMode, QOR_UINT8 ui8Flipping);
QOR_RESULT SensorFuncEnable(SENSOR_HANDLE hHandle);
QOR_RESULT SensorFuncDestroy(SENSOR_HANDLE hHandle);
QOR_RESULT SensorFuncGetGainRange(SENSOR_HANDLE hHandle, double *pflMin, double *pflMax, QOR_UINT8 *puiContexts);
QOR_RESULT SensorFuncGetGain(SENSOR_HANDLE hHandle, double *pflCurrent, QOR_UINT8 ui8Context);
QOR_RESULT SensorFuncGetExposureRange(SENSOR_HANDLE hHandle, QOR_UINT32 *pui32Min, QOR_UINT32 *pui32Max,
                                      QOR_UINT8 *pui8Contexts);
QOR_RESULT SensorFuncGetExposure(SENSOR_HANDLE hHandle, QOR_UINT32 *pui32Exposure, QOR_UINT8 ui8Context);
QOR_RESULT SensorFuncSetConnection(SENSOR_HANDLE hHandle, CI_CONNECTION *pConn);
QOR_RESULT SensorFuncSetExposureGain(SENSOR_HANDLE hHandle, QOR_UINT32 ui32Exposure, double flGain,
                                     QOR_UINT8 ui8Context, QOR_UINT8 *expGainRegs, const QOR_UINT16 length,
                                     const QOR_UINT8 firstExpGainReg);
QOR_RESULT SensorFuncDisable(SENSOR_HANDLE hHandle, const QOR_UINT8 *disableRegs, const QOR_UINT16 length);
/** The requested exposure of context 0 for a mode: 302 shortest exposures, at most the longest (the shortest when
 * the product overflows 32 bits). */
QOR_UINT32 CamInitialExposure(const SENSOR_MODE *mode);
QOR_UINT8 DiffBytesCount(QOR_UINT32 w1, QOR_UINT32 w2, QOR_UINT32 mask);

#ifdef __cplusplus
}
#endif

#endif /* NORVA_SENSORAPI_SENSOR_COMMON_H */
