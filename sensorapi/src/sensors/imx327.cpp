// The IMX327 driver: four 1920 x 1080 modes at 37.125 MHz on 2 or 4 lanes with high or low conversion gain, the
// frame rate from FRSEL, an 8-bit gain code, an 18-bit frame length and the shutter SHS1. Everything else is the
// standby-group body shared with IMX415, IMX335 and IMX662.
#include "sensors/imx327.h"

#include <cmath>

#include "sensors/sensor_drivers.h"
#include "sony_common.h"

using namespace norva_drivers;

namespace {

constexpr const char *kTag = IMX327_LOG_TAG;
constexpr QOR_UINT32 k37MHz = 37125000;
constexpr unsigned kMinShutter = 1;

// Mode tables: window mode and orientation, AD width, frame rate and conversion gain, frame and line length,
// lanes, the shutter, gain 0.
#define IMX327_MODE(HMAX, LANES, FRSEL, HCG)                                                                           \
    SONY_R(0x3005, 0x01), SONY_R(0x3007, 0x00), SONY_R(0x3009, (FRSEL) | ((HCG) ? 0x10 : 0x00)), SONY_R(0x3014, 0x00), \
        SONY_LE24(0x3018, 1125), SONY_LE16(0x301C, HMAX), SONY_LE24(0x3020, kMinShutter), SONY_R(0x3046, 0x01),        \
        SONY_R(0x3443, (LANES) == 4 ? 3 : 1), SONY_END

const QOR_UINT8 mode_1920x1080_2lanes_30fps_hcg[] = {IMX327_MODE(4400, 2, 0x02, true)};
const QOR_UINT8 mode_1920x1080_4lanes_60fps_hcg[] = {IMX327_MODE(2200, 4, 0x01, true)};
const QOR_UINT8 mode_1920x1080_2lanes_30fps_lcg[] = {IMX327_MODE(4400, 2, 0x02, false)};
const QOR_UINT8 mode_1920x1080_4lanes_60fps_lcg[] = {IMX327_MODE(2200, 4, 0x01, false)};

// Leave standby, 20 ms, start.
const QOR_UINT8 common_regs[] = {SONY_R(0x300A, 0xF0), SONY_R(0x3011, 0x0A), SONY_R(0x309E, 0x4A), SONY_R(0x309F, 0x4A),
                                 SONY_R(0x3000, 0x00), SONY_DELAY(20),       SONY_R(0x3002, 0x00), SONY_END};

const QOR_UINT8 config_4lanes[] = {SONY_END};

sensor_mode imx327_configs[] = {{3, config_4lanes, 0, 3, 0, 0, 0}};
sensor_mode imx327_modes[] = {
    {3, mode_1920x1080_2lanes_30fps_hcg, 0, 3, k37MHz, 0x16, 0},
    {3, mode_1920x1080_4lanes_60fps_hcg, 0, 3, k37MHz, 0x16, 0},
    {3, mode_1920x1080_2lanes_30fps_lcg, 0, 3, k37MHz, 0x16, 0},
    {3, mode_1920x1080_4lanes_60fps_lcg, 0, 3, k37MHz, 0x16, 0},
};
const QOR_UINT8 imx327_config_num_modes[] = {4};

unsigned minShutter(const SENSOR_MODE & /*mode*/) { return kMinShutter; }
double unitFactor(const SENSOR_MODE & /*mode*/) { return 1.0; }

const SonyStandby kImx327 = {kTag,   0x3014,  0x00,       0,          0x3018,
                             0x3020, 0x3FFFF, 18,         1,          SonyFrameRule::Imx327,
                             false,  false,   minShutter, unitFactor, nullptr};

void orient(QOR_UINT8 *e, QOR_UINT8 flip) {
    if (entryRegister(e, 2) == 0x3007)
        e[2] = SonyOrientation(e[2], flip, 0x01, 0x02);
}

} // namespace

extern "C" {

QOR_RESULT IMX327_GetModeInfo(CAM_STRUCT *psCam, QOR_UINT16 nMode, SENSOR_MODE *info) {
    unsigned n = 0;
    const QOR_UINT8 *regs = SensorModeGetRegisters(psCam->pModes, psCam->uiModesSize, SENSOR_MODE_INDEX(nMode), &n);
    if (regs == nullptr)
        return QOR_RES_NOT_SUPPORTED;
    QOR_UINT8 winreg = 0, frsel = 0, lanes = 0, adbit = 0;
    FindRegister(regs, n, 0x3007, &winreg);
    FindRegister(regs, n, 0x3009, &frsel);
    FindRegister(regs, n, 0x3443, &lanes);
    FindRegister(regs, n, 0x3005, &adbit);
    switch ((winreg >> 4) & 7) {
    case 0:
        info->ui16Width = 1920;
        info->ui16Height = 1080;
        break;
    case 1:
        info->ui16Width = 1280;
        info->ui16Height = 720;
        break;
    default:
        QOR_LOG_ERROR(kTag, "Unknown window mode %u in mode %d\n", (winreg >> 4) & 7u, nMode);
        return QOR_RES_NOT_SUPPORTED;
    }
    const unsigned hmax = FindRegisterLE(regs, n, 0x301C, 2);
    const unsigned vmax = FindRegisterLE(regs, n, 0x3018, 3) & 0x3FFFF;
    if (vmax > 0xFFFF) {
        QOR_LOG_ERROR(kTag, "VMAX exceeds 16-bit limit: %u\n", vmax);
        return QOR_RES_NOT_SUPPORTED;
    }
    info->ui8MipiLanes = lanes == 3 ? 4 : 2;
    info->ui8BitDepth = adbit != 0 ? 12 : 10;
    info->flFrameRate = (frsel & 3) == 2 ? 30.0 : 60.0;
    info->flTrow = vmax != 0 ? 1000000.0 / (info->flFrameRate * vmax) : 0.0;
    info->ui32ExposureMin = static_cast<QOR_UINT32>(std::ceil(info->flTrow));
    info->ui32ExposureMax = 1000000;
    info->flPixelRate = 74.25;
    info->eConvGainMode = (frsel & 0x10) != 0 ? CG_HIGH : CG_LOW;
    SonyDescribe(kImx327, psCam, nMode, info, hmax, vmax);
    psCam->num_lanes = info->ui8MipiLanes;
    return QOR_RES_OK;
}

void IMX327_ApplyMode(CAM_STRUCT *psCam) { SonyApplyMode(kImx327, psCam, orient, common_regs); }

QOR_RESULT IMX327_GetInfo(SENSOR_HANDLE hHandle, SENSOR_INFO *psInfo) {
    static const InfoFacts kInfo = {
        {nullptr, "IMX327"},
        false,
        {0x301E, "Reading device ID (GetInfo)\n", true},
        {1.2, 2.9, true, 0, 10000, 5.0},
        false,
        1,
        imx327_config_num_modes,
    };
    const QOR_RESULT ret = FillInfo(__func__, __LINE__, kTag, kInfo, hHandle, psInfo);
    if (ret == QOR_RES_OK)
        psInfo->eBayerOriginal = psInfo->eBayerEnabled = MOSAIC_RGGB;
    return ret;
}

SONY_STANDBY_DRIVER(IMX327, kImx327)

QOR_RESULT IMX327_Create(SENSOR_HANDLE *phHandle) {
    const DriverSetup d = {"IMX327",
                           0x1A,
                           2,
                           0x301E,
                           0xB201,
                           imx327_configs,
                           1,
                           imx327_modes,
                           static_cast<QOR_UINT16>(sizeof imx327_modes / sizeof imx327_modes[0]),
                           imx327_config_num_modes,
                           1,
                           1.0,
                           2818.0,
                           1.0};
    CAM_STRUCT *psCam = NewCam(d, SENSOR_MIRAVO_IMX327, 0);
    if (psCam == nullptr)
        return QOR_RES_NO_MEMORY;
    IMX327_FillSlots(psCam);
    return FinishCreate(psCam, phHandle);
}

} // extern "C"
