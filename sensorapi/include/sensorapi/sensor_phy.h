#ifndef NORVA_SENSORAPI_SENSOR_PHY_H
#define NORVA_SENSORAPI_SENSOR_PHY_H

/*
 * The board table (which PHY device and imager port every board sensor uses, and how its PHY is set up) and
 * the sensor PHY layer: open "/dev/sensor_phy%d", claim or release the imager port through the ISP driver,
 * configure the PHY. Log tag "SensorPHY".
 */

#include <stddef.h>

#include "ci/ci_api_structs.h"
#include "ci/ci_gasket.h"
#include "qor_errors.h"
#include "qor_types.h"

#ifdef __cplusplus
extern "C" {
#endif

#define SENSOR_PHY_LOG_TAG "SensorPHY"

/** Board sensor numbers: the registry index - 1 (the data generator has none). */
typedef enum _sensor_num_ {
    SENSOR_MIRAVO_AR0330 = 0,
    SENSOR_MIRAVO_OV4688,
    SENSOR_MIRAVO_OV4689_0,
    SENSOR_MIRAVO_OV4689_1,
    SENSOR_MIRAVO_OV2718_0,
    SENSOR_MIRAVO_OV2718_1,
    SENSOR_MIRAVO_OV10823_0,
    SENSOR_MIRAVO_OV10823_1,
    SENSOR_MIRAVO_OV5647_0,
    SENSOR_MIRAVO_OV5647_1,
    SENSOR_MIRAVO_IMX415,
    SENSOR_MIRAVO_OV5695_0,
    SENSOR_MIRAVO_OV5695_1,
    SENSOR_MIRAVO_OV5695_2,
    SENSOR_MIRAVO_S5K3P9,
    SENSOR_MIRAVO_IMX219_0,
    SENSOR_MIRAVO_IMX219_1,
    SENSOR_MIRAVO_IMX335,
    SENSOR_MIRAVO_IMX327,
    SENSOR_MIRAVO_ZYNQ,
    SENSOR_MIRAVO_GC8034,
    SENSOR_MIRAVO_GC5035,
    SENSOR_MIRAVO_IMX662,
    SENSOR_MIRAVO_IMX477_0,
    SENSOR_MIRAVO_IMX477_1,
    SENSOR_MIRAVO_TOTAL_NUM
} sensor_num;

typedef enum _imager_num_ {
    IMAGER_MIRAVO_MIPI0 = 0,
    IMAGER_MIRAVO_MIPI1 = 1,
    IMAGER_MIRAVO_PARA0 = 2,
    IMAGER_MIRAVO_PARA1 = 3,
    IMAGER_MIRAVO_TOTAL_NUM = 4
} imager_num;

typedef enum _sensor_if_type_ {
    SENSOR_IF_HISPI = 1,
    SENSOR_IF_LVDS = 2,
    SENSOR_IF_GPIO = 4,
    SENSOR_IF_MIPI = 8,
} sensor_if_type;

/** The PHY driver's record, 32 bytes little-endian, passed to every PHY ioctl. */
typedef struct _sensor_phy_params_ {
    QOR_UINT32 type;
    QOR_UINT8 enable;
    QOR_UINT8 clk_en;
    QOR_UINT8 pixel_res;
    QOR_UINT8 mipi_lanes;
    QOR_UINT8 mipi_hsfreqrange;
    QOR_UINT8 pad0;
    QOR_UINT16 mipi_osc_freq;
    QOR_UINT8 num_phys;
    QOR_UINT8 alt_mode;
    QOR_UINT8 filler_en;
    QOR_UINT8 lsb_first;
    QOR_UINT32 frame_width;
    QOR_UINT32 frame_height;
    QOR_UINT32 clk_freq;
    QOR_UINT8 reset_gpio;
    QOR_UINT8 enable_mux;
    QOR_UINT16 pad1;
} sensor_phy_params;

/** PHY ioctls (the request values as the PHY driver defines them). */
#define SENSOR_PHY_IOCTL_CONFIG 0x8020F000ul
#define SENSOR_PHY_IOCTL_RESET 0x8020F003ul
#define SENSOR_PHY_IOCTL_MUX 0x8020F004ul
/** What SensorPhyCtrl, SensorPhySetGpioReset and SensorPhySetMux give when the PHY driver refused the request. */
#define SENSOR_PHY_REFUSED (-1)

/** One row of the board table. */
typedef struct _sensor_miravo_if_config_ {
    sensor_num sensor;
    QOR_UINT8 sensor_dev; /**< PHY device number */
    imager_num imager;    /**< ISP imager port */
    sensor_phy_params params;
} sensor_miravo_if_config;

/** The board table, one row per board sensor number, written in place by the PHY operations. */
extern sensor_miravo_if_config miravo_sensor_configs[SENSOR_MIRAVO_TOTAL_NUM];

typedef struct _sensor_phy_ {
    sensor_miravo_if_config *psConfig; /**< the row in use; set by the driver after creation */
    QOR_INT iFileDescriptor;
    CI_CONNECTION *psConnection; /**< borrowed; NULL until handed over */
    CI_GASKET *psGasket;         /**< owned: the imager port record */
} SENSOR_PHY;

sensor_miravo_if_config *SensorPhyConfigPtr(sensor_num num);
imager_num GetImagerNum(sensor_num num);
QOR_UINT8 GetDevNum(sensor_num num);
SENSOR_PHY *SensorPhyInit(sensor_num num);
/**
 * Claims (on) or releases (off) the imager port, then configures the PHY: 0; the port's own result when the port
 * cannot be claimed or released (the PHY is then left alone); SENSOR_PHY_REFUSED when the PHY driver refused.
 */
QOR_RESULT SensorPhyCtrl(SENSOR_PHY *psSensorPhy, QOR_BOOL bEnable, QOR_UINT8 uiMipiLanes, QOR_UINT8 ui8MipiHsFreqRange,
                         QOR_UINT8 ui8SensorNum);
void SensorPhySetConnection(SENSOR_PHY *psSensorPhy, CI_CONNECTION *pConn);
void SensorPhyDeinit(SENSOR_PHY *psSensorPhy);
QOR_RESULT SensorPhySetGpioReset(SENSOR_PHY *psSensorPhy, QOR_BOOL bEnable);
QOR_RESULT SensorPhySetMux(SENSOR_PHY *psSensorPhy, QOR_BOOL bEnable);
/** Writes "/dev/i2c-0" into the buffer when it holds len >= 11 bytes: 0, else 11 and nothing written. */
QOR_RESULT find_i2c_dev(char *i2c_dev_path, unsigned int len);
/** Writes "/dev/spidev1.3" into the buffer when it holds len >= 15 bytes: 0, else 11 and nothing written. */
QOR_RESULT find_spi_dev(char *spi_dev_path, unsigned int len);

#ifdef __cplusplus
}
#endif

#endif /* NORVA_SENSORAPI_SENSOR_PHY_H */
