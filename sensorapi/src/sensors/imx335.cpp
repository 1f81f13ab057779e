// The IMX335 driver: eleven modes at 24, 27 or 37.125 MHz, the size from the window mode (full, binned or a crop
// read from its window registers), exposure counted in half rows, vertical flipping with its companion settings.
// Everything else is the standby-group body shared with IMX415, IMX327 and IMX662.
#include "sensors/imx335.h"

#include <cmath>

#include "sensors/sensor_drivers.h"
#include "sony_common.h"

using namespace norva_drivers;

namespace {

constexpr const char *kTag = IMX335_LOG_TAG;
constexpr QOR_UINT32 k24MHz = 24000000;
constexpr QOR_UINT32 k27MHz = 27000000;
constexpr QOR_UINT32 k37MHz = 37125000;
constexpr unsigned kMinShutter = 9;
constexpr QOR_UINT16 kOscillator = 438;

// Mode tables: clock settings, window mode and crop window, frame and line length, horizontal then vertical
// orientation with the settings a vertical flip needs just before it, lanes, AD width, the shortest shutter.
#define IMX335_MODE(INCK, HMAX, LANES, BITS, WINMODE)                                                                  \
    SONY_R(0x300C, INCK), SONY_R(0x3018, WINMODE), SONY_R(0x302E, 0x20), SONY_R(0x302F, 0x0A),                         \
        SONY_R(0x3076, (WINMODE) == 4 ? 0x28 : 0x30), SONY_R(0x3077, 0x0F), SONY_LE24(0x3030, 4500),                   \
        SONY_LE16(0x3034, HMAX), SONY_R(0x304E, 0x00), SONY_R(0x3081, 0x02), SONY_R(0x3083, 0x02),                     \
        SONY_R(0x30B6, 0x00), SONY_R(0x30B7, 0x00), SONY_R(0x3116, 0x08), SONY_R(0x304F, 0x00),                        \
        SONY_R(0x3A01, (LANES) == 4 ? 3 : 1), SONY_R(0x319D, (BITS) == 12 ? 1 : 0), SONY_LE24(0x3058, kMinShutter),    \
        SONY_R(0x30E8, 0x00), SONY_R(0x30E9, 0x00), SONY_END

const QOR_UINT8 mode_2592x1944_60fps[] = {IMX335_MODE(0x5B, 275, 4, 10, 0)};
const QOR_UINT8 mode_2592x1944_30fps[] = {IMX335_MODE(0x5B, 550, 4, 12, 0)};
const QOR_UINT8 mode_2592x1940_crop_30fps[] = {IMX335_MODE(0x5B, 550, 4, 12, 4)};
const QOR_UINT8 mode_2592x1944_60fps_37MHz[] = {IMX335_MODE(0x7F, 275, 4, 10, 0)};
const QOR_UINT8 mode_2592x1944_2lanes_30fps_37MHz[] = {IMX335_MODE(0x7F, 550, 2, 10, 0)};
const QOR_UINT8 mode_2592x1944_2lanes_30fps_24MHz[] = {IMX335_MODE(0x4B, 550, 2, 10, 0)};
const QOR_UINT8 mode_2592x1944_60fps_24MHz[] = {IMX335_MODE(0x4B, 275, 4, 10, 0)};
const QOR_UINT8 mode_2592x1944_30fps_24MHz[] = {IMX335_MODE(0x4B, 550, 4, 12, 0)};
const QOR_UINT8 mode_2592x1944_40fps_24MHz[] = {IMX335_MODE(0x4B, 412, 4, 10, 0)};
const QOR_UINT8 mode_2592x1944_5fps_37MHz[] = {IMX335_MODE(0x7F, 3300, 4, 10, 0)};
const QOR_UINT8 mode_2592x1944_30fps_37MHz[] = {IMX335_MODE(0x7F, 550, 4, 12, 0)};

// Vendor settings, then leave standby, 20 ms, start.
const QOR_UINT8 common_regs[] = {SONY_R(0x302C, 0x30), SONY_R(0x302D, 0x00),
                                 SONY_R(0x314C, 0xC0), SONY_R(0x315A, 0x02),
                                 SONY_R(0x3168, 0xA0), SONY_R(0x316A, 0x7E),
                                 SONY_R(0x3288, 0x21), SONY_R(0x328A, 0x02),
                                 SONY_R(0x3414, 0x05), SONY_R(0x3416, 0x18),
                                 SONY_R(0x3000, 0x00), SONY_DELAY(20),
                                 SONY_R(0x3002, 0x00), SONY_END};

const QOR_UINT8 config_4lanes[] = {SONY_END};

/** The settings a vertical flip needs, written just before 0x304F, for flip off and on. */
const struct {
    QOR_UINT16 reg;
    QOR_UINT8 off, on;
} kVerticalBlock[] = {
    {0x3081, 0x02, 0xFE}, {0x3083, 0x02, 0xFE}, {0x30B6, 0x00, 0xFA}, {0x30B7, 0x00, 0x01}, {0x3116, 0x08, 0x02}};

sensor_mode imx335_configs[] = {{3, config_4lanes, 0, 3, 0, 0, 0}};
sensor_mode imx335_modes[] = {
    {3, mode_2592x1944_60fps, 0, 3, k27MHz, 0x3B, kOscillator},
    {3, mode_2592x1944_30fps, 0, 3, k27MHz, 0x19, kOscillator},
    {0, mode_2592x1940_crop_30fps, 0, 3, k27MHz, 0x07, kOscillator},
    {3, mode_2592x1944_60fps_37MHz, 0, 3, k37MHz, 0x3B, kOscillator},
    {3, mode_2592x1944_2lanes_30fps_37MHz, 0, 3, k37MHz, 0x3B, kOscillator},
    {3, mode_2592x1944_2lanes_30fps_24MHz, 0, 3, k24MHz, 0x3B, kOscillator},
    {3, mode_2592x1944_60fps_24MHz, 0, 3, k24MHz, 0x3B, kOscillator},
    {3, mode_2592x1944_30fps_24MHz, 0, 3, k24MHz, 0x19, kOscillator},
    {3, mode_2592x1944_40fps_24MHz, 0, 3, k24MHz, 0x3B, kOscillator},
    {3, mode_2592x1944_5fps_37MHz, 0, 3, k37MHz, 0x3B, kOscillator},
    {3, mode_2592x1944_30fps_37MHz, 0, 3, k37MHz, 0x19, kOscillator},
};
const QOR_UINT8 imx335_config_num_modes[] = {11};

unsigned minShutter(const SENSOR_MODE & /*mode*/) { return kMinShutter; }
double unitFactor(const SENSOR_MODE & /*mode*/) { return 1.0; }

const SonyStandby kImx335 = {kTag,   0x30E8,  0x07,       0x7FF,      0x3030,
                             0x3058, 0xFFFFF, 20,         2,          SonyFrameRule::Imx335,
                             false,  true,    minShutter, unitFactor, nullptr};

void orient(QOR_UINT8 *e, QOR_UINT8 flip) {
    const QOR_UINT16 reg = entryRegister(e, 2);
    const bool vertical = (flip & SENSOR_FLIP_VERTICAL) != 0;
    if (reg == 0x304E)
        e[2] = (flip & SENSOR_FLIP_HORIZONTAL) ? 1 : 0;
    else if (reg == 0x304F)
        e[2] = vertical ? 1 : 0;
    for (const auto &b : kVerticalBlock)
        if (reg == b.reg)
            e[2] = vertical ? b.on : b.off;
}

} // namespace

extern "C" {

QOR_RESULT IMX335_GetModeInfo(CAM_STRUCT *psCam, QOR_UINT16 nMode, SENSOR_MODE *info) {
    unsigned n = 0;
    const unsigned index = SENSOR_MODE_INDEX(nMode);
    const QOR_UINT8 *regs = SensorModeGetRegisters(psCam->pModes, psCam->uiModesSize, index, &n);
    if (regs == nullptr)
        return QOR_RES_NOT_SUPPORTED;
    QOR_UINT8 winmode = 0, lanes = 0, adbit = 0;
    FindRegister(regs, n, 0x3018, &winmode);
    FindRegister(regs, n, 0x3A01, &lanes);
    FindRegister(regs, n, 0x319D, &adbit);
    switch (winmode) {
    case 0:
        info->ui16Width = 2592;
        info->ui16Height = 1944;
        break;
    case 1:
        info->ui16Width = 1296;
        info->ui16Height = 972;
        break;
    case 4: {
        // The crop window, low byte first: width in 0x302E/0x302F, height in half lines in 0x3076/0x3077.
        QOR_UINT8 w0 = 0, w1 = 0, h0 = 0, h1 = 0;
        FindRegister(regs, n, 0x302E, &w0);
        FindRegister(regs, n, 0x302F, &w1);
        FindRegister(regs, n, 0x3076, &h0);
        FindRegister(regs, n, 0x3077, &h1);
        info->ui16Width = static_cast<QOR_UINT16>((w1 & 0x0F) * 256 + w0);
        info->ui16Height = static_cast<QOR_UINT16>(((h1 & 0x1F) << 7) + (h0 >> 1));
        break;
    }
    default:
        QOR_LOG_ERROR(kTag, "Unknown window mode %u in mode %d\n", winmode, nMode);
        return QOR_RES_NOT_SUPPORTED;
    }
    const unsigned hmax = FindRegisterLE(regs, n, 0x3034, 2);
    const unsigned vmax = FindRegisterLE(regs, n, 0x3030, 3) & 0xFFFFF;
    if (vmax > 0xFFFF) {
        QOR_LOG_ERROR(kTag, "VMAX exceeds 16-bit limit: %u\n", vmax);
        return QOR_RES_NOT_SUPPORTED;
    }
    info->ui8MipiLanes = lanes == 3 ? 4 : 2;
    info->ui8BitDepth = adbit != 0 ? 12 : 10;
    info->ui8SupportFlipping = psCam->pModes[index].ui8Flipping;
    // VMAX counts half lines: a frame has VMAX / 2 rows.
    info->flTrow = hmax / 37.125;
    info->flFrameRate = info->flTrow > 0 && vmax >= 2 ? 1000000.0 / ((vmax >> 1) * info->flTrow) : 0.0;
    info->ui32ExposureMin = static_cast<QOR_UINT32>(std::ceil(info->flTrow));
    info->ui32ExposureMax = 1000000;
    info->flPixelRate = 37.125;
    SonyDescribe(kImx335, psCam, nMode, info, hmax, vmax);
    psCam->num_lanes = info->ui8MipiLanes;
    return QOR_RES_OK;
}

void IMX335_ApplyMode(CAM_STRUCT *psCam) { SonyApplyMode(kImx335, psCam, orient, common_regs); }

QOR_RESULT IMX335_GetInfo(SENSOR_HANDLE hHandle, SENSOR_INFO *psInfo) {
    static const InfoFacts kInfo = {
        {nullptr, "IMX335"},
        false,
        {0x306C, "Reading device ID (GetInfo)\n", true},
        {1.2, 2.0, true, 0, 10000, 5.0},
        false,
        1,
        imx335_config_num_modes,
    };
    const QOR_RESULT ret = FillInfo(__func__, __LINE__, kTag, kInfo, hHandle, psInfo);
    if (ret == QOR_RES_OK)
        psInfo->eBayerOriginal = psInfo->eBayerEnabled = MOSAIC_RGGB;
    return ret;
}

SONY_STANDBY_DRIVER(IMX335, kImx335)

QOR_RESULT IMX335_Create(SENSOR_HANDLE *phHandle) {
    const DriverSetup d = {"IMX335",
                           0x1A,
                           2,
                           0x306C,
                           0x8806,
                           imx335_configs,
                           1,
                           imx335_modes,
                           static_cast<QOR_UINT16>(sizeof imx335_modes / sizeof imx335_modes[0]),
                           imx335_config_num_modes,
                           1,
                           1.0,
                           3981.0,
                           1.0};
    CAM_STRUCT *psCam = NewCam(d, SENSOR_MIRAVO_IMX335, 0);
    if (psCam == nullptr)
        return QOR_RES_NO_MEMORY;
    IMX335_FillSlots(psCam);
    return FinishCreate(psCam, phHandle);
}

} // extern "C"
