// The board table and the sensor PHY layer.
#include "sensorapi/sensor_phy.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>

#include "norvacommon/userlog.h"
#include "sys/sys_seam.h"

static_assert(sizeof(sensor_phy_params) == 32, "sensor_phy_params is the PHY driver's 32-byte record");
static_assert(offsetof(sensor_phy_params, mipi_osc_freq) == 10 && offsetof(sensor_phy_params, frame_width) == 16 &&
                  offsetof(sensor_phy_params, reset_gpio) == 28 && offsetof(sensor_phy_params, enable_mux) == 29,
              "sensor_phy_params layout");

namespace {

constexpr const char *kTag = SENSOR_PHY_LOG_TAG;

constexpr sensor_miravo_if_config row(sensor_num sensor, QOR_UINT8 dev, imager_num imager, sensor_if_type type,
                                      QOR_UINT8 lanes, QOR_UINT8 numPhys) {
    return sensor_miravo_if_config{
        sensor, dev, imager,
        sensor_phy_params{static_cast<QOR_UINT32>(type), 0, 0, 0, lanes, 0, 0, 0, numPhys, 0, 0, 0, 0, 0, 0, 0, 0, 0}};
}

} // namespace

extern "C" {

sensor_miravo_if_config miravo_sensor_configs[SENSOR_MIRAVO_TOTAL_NUM] = {
    row(SENSOR_MIRAVO_AR0330, 0, IMAGER_MIRAVO_PARA0, SENSOR_IF_HISPI, 0, 1),
    row(SENSOR_MIRAVO_OV4688, 1, IMAGER_MIRAVO_MIPI1, SENSOR_IF_MIPI, 4, 0),
    row(SENSOR_MIRAVO_OV4689_0, 0, IMAGER_MIRAVO_MIPI0, SENSOR_IF_MIPI, 4, 0),
    row(SENSOR_MIRAVO_OV4689_1, 1, IMAGER_MIRAVO_MIPI1, SENSOR_IF_MIPI, 4, 0),
    row(SENSOR_MIRAVO_OV2718_0, 0, IMAGER_MIRAVO_MIPI0, SENSOR_IF_MIPI, 4, 0),
    row(SENSOR_MIRAVO_OV2718_1, 1, IMAGER_MIRAVO_MIPI1, SENSOR_IF_MIPI, 4, 0),
    row(SENSOR_MIRAVO_OV10823_0, 0, IMAGER_MIRAVO_MIPI0, SENSOR_IF_MIPI, 4, 0),
    row(SENSOR_MIRAVO_OV10823_1, 1, IMAGER_MIRAVO_MIPI1, SENSOR_IF_MIPI, 4, 0),
    row(SENSOR_MIRAVO_OV5647_0, 0, IMAGER_MIRAVO_MIPI0, SENSOR_IF_MIPI, 2, 0),
    row(SENSOR_MIRAVO_OV5647_1, 1, IMAGER_MIRAVO_MIPI1, SENSOR_IF_MIPI, 2, 0),
    row(SENSOR_MIRAVO_IMX415, 0, IMAGER_MIRAVO_MIPI0, SENSOR_IF_MIPI, 4, 0),
    row(SENSOR_MIRAVO_OV5695_0, 0, IMAGER_MIRAVO_MIPI0, SENSOR_IF_MIPI, 2, 0),
    row(SENSOR_MIRAVO_OV5695_1, 1, IMAGER_MIRAVO_MIPI1, SENSOR_IF_MIPI, 2, 0),
    row(SENSOR_MIRAVO_OV5695_2, 1, IMAGER_MIRAVO_MIPI1, SENSOR_IF_MIPI, 2, 0),
    row(SENSOR_MIRAVO_S5K3P9, 0, IMAGER_MIRAVO_MIPI0, SENSOR_IF_MIPI, 4, 0),
    row(SENSOR_MIRAVO_IMX219_0, 0, IMAGER_MIRAVO_MIPI0, SENSOR_IF_MIPI, 4, 0),
    row(SENSOR_MIRAVO_IMX219_1, 1, IMAGER_MIRAVO_MIPI1, SENSOR_IF_MIPI, 4, 0),
    row(SENSOR_MIRAVO_IMX335, 0, IMAGER_MIRAVO_MIPI0, SENSOR_IF_MIPI, 4, 0),
    row(SENSOR_MIRAVO_IMX327, 0, IMAGER_MIRAVO_MIPI0, SENSOR_IF_MIPI, 4, 0),
    row(SENSOR_MIRAVO_ZYNQ, 0, IMAGER_MIRAVO_MIPI0, SENSOR_IF_MIPI, 2, 0),
    row(SENSOR_MIRAVO_GC8034, 1, IMAGER_MIRAVO_MIPI1, SENSOR_IF_MIPI, 4, 0),
    row(SENSOR_MIRAVO_GC5035, 0, IMAGER_MIRAVO_MIPI0, SENSOR_IF_MIPI, 2, 0),
    row(SENSOR_MIRAVO_IMX662, 0, IMAGER_MIRAVO_MIPI0, SENSOR_IF_MIPI, 4, 0),
    row(SENSOR_MIRAVO_IMX477_0, 0, IMAGER_MIRAVO_MIPI0, SENSOR_IF_MIPI, 4, 0),
    row(SENSOR_MIRAVO_IMX477_1, 1, IMAGER_MIRAVO_MIPI1, SENSOR_IF_MIPI, 4, 0),
};

sensor_miravo_if_config *SensorPhyConfigPtr(sensor_num num) {
    for (sensor_miravo_if_config &r : miravo_sensor_configs) {
        if (r.sensor == num)
            return &r;
    }
    return nullptr;
}

imager_num GetImagerNum(sensor_num num) {
    const sensor_miravo_if_config *r = SensorPhyConfigPtr(num);
    return r != nullptr ? r->imager : IMAGER_MIRAVO_TOTAL_NUM;
}

QOR_UINT8 GetDevNum(sensor_num num) {
    const sensor_miravo_if_config *r = SensorPhyConfigPtr(num);
    return r != nullptr ? r->sensor_dev : 255;
}

SENSOR_PHY *SensorPhyInit(sensor_num num) {
    SENSOR_PHY *phy = static_cast<SENSOR_PHY *>(std::calloc(1, sizeof(SENSOR_PHY)));
    if (phy == nullptr) {
        QOR_LOG_ERROR(kTag, "Failed to allocate internal structure\n");
        return nullptr;
    }
    phy->psGasket = static_cast<CI_GASKET *>(std::calloc(1, sizeof(CI_GASKET)));
    if (phy->psGasket == nullptr) {
        QOR_LOG_ERROR(kTag, "Failed to allocate gasket struct\n");
        std::free(phy);
        return nullptr;
    }
    CI_GasketInit(phy->psGasket);
    const QOR_UINT8 dev = GetDevNum(num);
    char name[32];
    std::snprintf(name, sizeof name, "/dev/%s%d", "sensor_phy", dev);
    QOR_LOG_INFO(kTag, "Device: %s\n", name);
    phy->iFileDescriptor = SEAM_Open(name, O_RDWR, 0);
    if (phy->iFileDescriptor < 0) {
        QOR_LOG_ERROR(kTag, "Failed to open connection to sensor dev %d\n", dev);
        std::free(phy->psGasket);
        std::free(phy);
        return nullptr;
    }
    phy->psGasket->bParallel = QOR_FALSE;
    return phy;
}

QOR_RESULT SensorPhyCtrl(SENSOR_PHY *psSensorPhy, QOR_BOOL bEnable, QOR_UINT8 uiMipiLanes, QOR_UINT8 ui8MipiHsFreqRange,
                         QOR_UINT8 /*ui8SensorNum*/) {
    if (psSensorPhy == nullptr || psSensorPhy->psGasket == nullptr || psSensorPhy->psConfig == nullptr)
        return QOR_RES_INVALID_PARAM;
    const QOR_RESULT ret = bEnable ? CI_GasketAcquire(psSensorPhy->psGasket, psSensorPhy->psConnection)
                                   : CI_GasketRelease(psSensorPhy->psGasket, psSensorPhy->psConnection);
    if (ret != QOR_RES_OK) {
        QOR_LOG_ERROR(kTag, "failed to %s the gasket %d!\n", bEnable ? "acquire" : "release",
                      psSensorPhy->psGasket->uiGasket);
        return ret;
    }
    QOR_LOG_INFO(kTag, "%s gasket %d, %s PHY ...\n", bEnable ? "Acquired" : "Released", psSensorPhy->psGasket->uiGasket,
                 bEnable ? "enabling" : "disabling");
    sensor_phy_params &p = psSensorPhy->psConfig->params;
    p.enable = bEnable ? 1 : 0;
    p.mipi_lanes = uiMipiLanes;
    p.mipi_hsfreqrange = ui8MipiHsFreqRange;
    QOR_LOG_INFO(kTag, "Mipi Lanes: %d, MipiHsFreqRange: %x\n", uiMipiLanes, ui8MipiHsFreqRange);
    if (SEAM_Ioctl(psSensorPhy->iFileDescriptor, SENSOR_PHY_IOCTL_CONFIG, &p) < 0)
        return SENSOR_PHY_REFUSED;
    return QOR_RES_OK;
}

void SensorPhySetConnection(SENSOR_PHY *psSensorPhy, CI_CONNECTION *pConn) {
    if (psSensorPhy != nullptr && psSensorPhy->psConnection == nullptr)
        psSensorPhy->psConnection = pConn;
}

void SensorPhyDeinit(SENSOR_PHY *psSensorPhy) {
    if (psSensorPhy == nullptr)
        return;
    std::free(psSensorPhy->psGasket);
    if (psSensorPhy->iFileDescriptor >= 0)
        SEAM_Close(psSensorPhy->iFileDescriptor);
    std::free(psSensorPhy);
}

static QOR_RESULT phyLineIoctl(SENSOR_PHY *psSensorPhy, unsigned long request, QOR_BOOL bEnable) {
    if (psSensorPhy == nullptr || psSensorPhy->psConfig == nullptr)
        return QOR_RES_INVALID_PARAM;
    sensor_phy_params &p = psSensorPhy->psConfig->params;
    if (request == SENSOR_PHY_IOCTL_RESET)
        p.reset_gpio = bEnable ? 1 : 0;
    else
        p.enable_mux = bEnable ? 1 : 0;
    if (SEAM_Ioctl(psSensorPhy->iFileDescriptor, request, &p) < 0)
        return SENSOR_PHY_REFUSED;
    return QOR_RES_OK;
}

QOR_RESULT SensorPhySetGpioReset(SENSOR_PHY *psSensorPhy, QOR_BOOL bEnable) {
    return phyLineIoctl(psSensorPhy, SENSOR_PHY_IOCTL_RESET, bEnable);
}

QOR_RESULT SensorPhySetMux(SENSOR_PHY *psSensorPhy, QOR_BOOL bEnable) {
    return phyLineIoctl(psSensorPhy, SENSOR_PHY_IOCTL_MUX, bEnable);
}

QOR_RESULT find_i2c_dev(char *i2c_dev_path, unsigned int len) {
    static const char kPath[] = "/dev/i2c-0";
    if (i2c_dev_path == nullptr || len < sizeof kPath)
        return QOR_RES_INVALID_PARAM;
    std::memcpy(i2c_dev_path, kPath, sizeof kPath);
    return QOR_RES_OK;
}

QOR_RESULT find_spi_dev(char *spi_dev_path, unsigned int len) {
    static const char kPath[] = "/dev/spidev1.3";
    if (spi_dev_path == nullptr || len < sizeof kPath)
        return QOR_RES_INVALID_PARAM;
    std::memcpy(spi_dev_path, kPath, sizeof kPath);
    return QOR_RES_OK;
}

} // extern "C"
