// The IMX662 driver: seven 1936 x 1100 modes at 24 or 37.125 MHz, linear with low or high conversion gain or
// staggered HDR, an extra parameter "expGain" (register 0x3081, written only when set), and a gain range that the
// descriptions of high-gain and HDR modes narrow.
// Everything else is the standby-group body shared with IMX415, IMX335 and IMX327.
#include "sensors/imx662.h"

#include <cmath>

#include "sensors/sensor_drivers.h"
#include "sony_common.h"

using namespace norva_drivers;

namespace {

constexpr const char *kTag = IMX662_LOG_TAG;
constexpr QOR_UINT32 k24MHz = 24000000;
constexpr QOR_UINT32 k37MHz = 37125000;
constexpr double kHighGainFactor = 1.41;
constexpr double kMaxGain = 3981.0;
constexpr double kMaxHighGain = 2823.404255319149;
constexpr double kMaxHdrGain = 15.85;
constexpr QOR_UINT8 kExpGainInitial = 2;
constexpr QOR_UINT8 kExpGainMax = 5;
constexpr QOR_UINT16 kExpGainRegister = 0x3081;

// Mode tables: clock, orientation, AD width, HDR mode, frame and line length, conversion gain, lanes, the
// shortest shutter of the mode, gain 0.
#define IMX662_MODE(INCK, HMAX, VMAX, BITS, WDMODE, FDG)                                                               \
    SONY_R(0x3014, INCK), SONY_R(0x3020, 0x00), SONY_R(0x3021, 0x00), SONY_R(0x3022, (BITS) == 12 ? 1 : 0),            \
        SONY_R(0x301A, WDMODE), SONY_LE24(0x3028, VMAX), SONY_LE16(0x302C, HMAX), SONY_R(0x3030, FDG),                 \
        SONY_R(0x3040, 0x03), SONY_LE24(0x3050, (WDMODE) == 8 ? 8 : 4), SONY_R(0x3070, 0x00), SONY_R(0x3071, 0x00),    \
        SONY_END

const QOR_UINT8 mode_12bit_1920x1080_30fps_LCG_594Mbps[] = {IMX662_MODE(0x04, 1980, 1250, 12, 0, 0)};
const QOR_UINT8 mode_12bit_1920x1080_60fps_LCG_594Mbps[] = {IMX662_MODE(0x04, 990, 1250, 12, 0, 0)};
const QOR_UINT8 mode_10bit_1920x1080_90fps_LCG_720Mbps[] = {IMX662_MODE(0x04, 660, 1250, 10, 0, 0)};
const QOR_UINT8 mode_12bit_1920x1080_30fps_HDR_594Mbps[] = {IMX662_MODE(0x04, 990, 2500, 12, 8, 0)};
const QOR_UINT8 mode_12bit_1920x1080_60fps_LCG_594Mbps_37MHz[] = {IMX662_MODE(0x01, 990, 1250, 12, 0, 0)};
const QOR_UINT8 mode_12bit_1920x1080_30fps_HDR_594Mbps_37MHz[] = {IMX662_MODE(0x01, 990, 2500, 12, 8, 0)};
const QOR_UINT8 mode_12bit_1920x1080_60fps_HCG_594Mbps_37MHz[] = {IMX662_MODE(0x01, 990, 1250, 12, 0, 1)};

// Vendor settings, then leave standby, 25 ms, start.
const QOR_UINT8 common_regs[] = {SONY_R(0x3069, 0x00), SONY_R(0x3074, 0x64),
                                 SONY_R(0x30D5, 0x04), SONY_R(0x3930, 0x0C),
                                 SONY_R(0x3931, 0x01), SONY_R(0x3A4C, 0x39),
                                 SONY_R(0x3A4D, 0x01), SONY_R(0x3A50, 0x48),
                                 SONY_R(0x3A51, 0x01), SONY_R(0x3E10, 0x10),
                                 SONY_R(0x3000, 0x00), SONY_DELAY(25),
                                 SONY_R(0x3002, 0x00), SONY_END};

const QOR_UINT8 config_4lanes[] = {SONY_END};

sensor_mode imx662_configs[] = {{3, config_4lanes, 0, 3, 0, 0, 0}};
sensor_mode imx662_modes[] = {
    {3, mode_12bit_1920x1080_30fps_LCG_594Mbps, 0, 3, k24MHz, 0x07, 0},
    {3, mode_12bit_1920x1080_60fps_LCG_594Mbps, 0, 3, k24MHz, 0x07, 0},
    {3, mode_10bit_1920x1080_90fps_LCG_720Mbps, 0, 3, k24MHz, 0x39, 0},
    {3, mode_12bit_1920x1080_30fps_HDR_594Mbps, 0, 3, k24MHz, 0x07, 0},
    {3, mode_12bit_1920x1080_60fps_LCG_594Mbps_37MHz, 0, 3, k37MHz, 0x07, 0},
    {3, mode_12bit_1920x1080_30fps_HDR_594Mbps_37MHz, 0, 3, k37MHz, 0x07, 0},
    {3, mode_12bit_1920x1080_60fps_HCG_594Mbps_37MHz, 0, 3, k37MHz, 0x07, 0},
};
const QOR_UINT8 imx662_config_num_modes[] = {7};

const char *IMX662_ExtraParams[] = {"expGain", nullptr};

bool highGainLinear(const SENSOR_MODE &mode) { return mode.eConvGainMode == CG_HIGH && mode.eHDRMode == HDR_NONE; }
unsigned minShutter(const SENSOR_MODE &mode) { return mode.eHDRMode == HDR_STAGGERED ? 8 : 4; }
double gainFactor(const SENSOR_MODE &mode) { return highGainLinear(mode) ? kHighGainFactor : 1.0; }

/** Describing a high-gain mode narrows the gain range, an HDR mode more; a low-gain mode leaves it as it is. */
void modeDescribed(CAM_STRUCT *psCam, const SENSOR_MODE &mode) {
    if (mode.eHDRMode == HDR_STAGGERED)
        psCam->aec_max_gain = kMaxHdrGain;
    else if (mode.eConvGainMode == CG_HIGH)
        psCam->aec_max_gain = kMaxHighGain;
}

const SonyStandby kImx662 = {kTag,   0x3070,  0x07,       0x7FF,      0x3028,
                             0x3050, 0xFFFFF, 20,         1,          SonyFrameRule::Imx662,
                             true,   true,    minShutter, gainFactor, modeDescribed};

void orient(QOR_UINT8 *e, QOR_UINT8 flip) {
    const QOR_UINT16 reg = entryRegister(e, 2);
    if (reg == 0x3021)
        e[2] = (flip & SENSOR_FLIP_VERTICAL) ? 1 : 0;
    else if (reg == 0x3020)
        e[2] = (flip & SENSOR_FLIP_HORIZONTAL) ? 1 : 0;
}

QOR_RESULT IMX662_SetExpGain(CAM_STRUCT *psCam, QOR_UINT8 value) {
    QOR_LOG_INFO(kTag, "Set expGain value = %d\n", value);
    if (value > kExpGainMax) {
        QOR_LOG_ERROR(kTag, "Invalid ExpGain value: %u\n", value);
        return QOR_RES_INVALID_PARAM;
    }
    const QOR_UINT8 entry[] = {SONY_R(kExpGainRegister, value)};
    CamWrite(psCam, entry, sizeof entry);
    return QOR_RES_OK;
}

QOR_RESULT (*const SetExtraParamRegs[])(CAM_STRUCT *, QOR_UINT8) = {IMX662_SetExpGain};

} // namespace

extern "C" {

QOR_RESULT IMX662_GetModeInfo(CAM_STRUCT *psCam, QOR_UINT16 nMode, SENSOR_MODE *info) {
    unsigned n = 0;
    const QOR_UINT8 *regs = SensorModeGetRegisters(psCam->pModes, psCam->uiModesSize, SENSOR_MODE_INDEX(nMode), &n);
    if (regs == nullptr)
        return QOR_RES_NOT_SUPPORTED;
    QOR_UINT8 wdmode = 0, fdg = 0, lanes = 0, adbit = 0;
    FindRegister(regs, n, 0x301A, &wdmode);
    FindRegister(regs, n, 0x3030, &fdg);
    FindRegister(regs, n, 0x3040, &lanes);
    FindRegister(regs, n, 0x3022, &adbit);
    if (wdmode == 0) {
        info->eHDRMode = HDR_NONE;
    } else if (wdmode == 8) {
        info->eHDRMode = HDR_STAGGERED;
        info->bLongExpFirst = QOR_TRUE;
        info->ui32LineGap = 1;
    } else {
        QOR_LOG_ERROR(kTag, "Unknown HDR mode %u in mode %d\n", wdmode, nMode);
        return QOR_RES_NOT_SUPPORTED;
    }
    info->eConvGainMode = fdg != 0 ? CG_HIGH : CG_LOW;
    info->ui16Width = 1936;
    info->ui16Height = 1100;
    const unsigned hmax = FindRegisterLE(regs, n, 0x302C, 2);
    const unsigned vmax = FindRegisterLE(regs, n, 0x3028, 3) & 0xFFFFF;
    info->ui8MipiLanes = lanes == 3 ? 4 : 2;
    info->ui8BitDepth = adbit != 0 ? 12 : 10;
    info->flTrow = hmax / 74.25;
    info->flFrameRate = info->flTrow > 0 && vmax != 0 ? 1000000.0 / (vmax * info->flTrow) : 0.0;
    info->ui32ExposureMin = static_cast<QOR_UINT32>(std::ceil(info->flTrow));
    info->ui32ExposureMax = 1000000;
    info->flPixelRate = 74.25;
    SonyDescribe(kImx662, psCam, nMode, info, hmax, vmax);
    psCam->num_lanes = info->ui8MipiLanes;
    return QOR_RES_OK;
}

void IMX662_ApplyMode(CAM_STRUCT *psCam) { SonyApplyMode(kImx662, psCam, orient, common_regs); }

QOR_RESULT IMX662_GetInfo(SENSOR_HANDLE hHandle, SENSOR_INFO *psInfo) {
    static const InfoFacts kInfo = {
        {nullptr, "IMX662"},
        false,
        {0x3060, "Reading device ID (GetInfo)\n", true},
        {1.2, 2.9, true, 0, 23000, 5.0},
        false,
        1,
        imx662_config_num_modes,
    };
    const QOR_RESULT ret = FillInfo(__func__, __LINE__, kTag, kInfo, hHandle, psInfo);
    if (ret == QOR_RES_OK) {
        psInfo->eBayerOriginal = psInfo->eBayerEnabled = MOSAIC_RGGB;
        if (highGainLinear(camOf(hHandle)->currMode))
            psInfo->ui32WellDepth = 4200;
    }
    return ret;
}

const char **IMX662_GetSupportedExtraParams(SENSOR_HANDLE /*hHandle*/) { return IMX662_ExtraParams; }

QOR_RESULT IMX662_SetExtraParam(SENSOR_HANDLE hHandle, QOR_UINT8 ui8Index, QOR_UINT8 ui8Value) {
    CAM_STRUCT *psCam = camOf(hHandle);
    if (ui8Index >= sizeof SetExtraParamRegs / sizeof SetExtraParamRegs[0] ||
        SetExtraParamRegs[ui8Index](psCam, ui8Value) != QOR_RES_OK)
        return QOR_RES_INVALID_PARAM;
    psCam->extra[ui8Index] = ui8Value;
    return QOR_RES_OK;
}

QOR_RESULT IMX662_GetExtraParam(SENSOR_HANDLE hHandle, QOR_UINT8 ui8Index, QOR_UINT8 *pui8Value) {
    if (ui8Index >= sizeof SetExtraParamRegs / sizeof SetExtraParamRegs[0])
        return QOR_RES_INVALID_PARAM;
    *pui8Value = camOf(hHandle)->extra[ui8Index];
    return QOR_RES_OK;
}

SONY_STANDBY_DRIVER(IMX662, kImx662)

QOR_RESULT IMX662_SetMode(SENSOR_HANDLE hHandle, QOR_UINT16 nMode, QOR_UINT8 ui8Flipping) {
    return SensorFuncSetMode(hHandle, nMode, ui8Flipping);
}

QOR_RESULT IMX662_Create(SENSOR_HANDLE *phHandle) {
    const DriverSetup d = {"IMX662",
                           0x1A,
                           2,
                           0x3060,
                           0x9500,
                           imx662_configs,
                           1,
                           imx662_modes,
                           static_cast<QOR_UINT16>(sizeof imx662_modes / sizeof imx662_modes[0]),
                           imx662_config_num_modes,
                           1,
                           1.0,
                           kMaxGain,
                           1.0};
    CAM_STRUCT *psCam = NewCam(d, SENSOR_MIRAVO_IMX662, 0);
    if (psCam == nullptr)
        return QOR_RES_NO_MEMORY;
    IMX662_FillSlots(psCam);
    psCam->sFuncs.SetMode = IMX662_SetMode;
    psCam->sFuncs.GetSupportedExtraParams = IMX662_GetSupportedExtraParams;
    psCam->sFuncs.SetExtraParam = IMX662_SetExtraParam;
    psCam->sFuncs.GetExtraParam = IMX662_GetExtraParam;
    psCam->extra[0] = kExpGainInitial;
    return FinishCreate(psCam, phHandle);
}

} // extern "C"
