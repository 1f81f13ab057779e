// The IMX415 driver: fifteen modes at 27, 37.125 or 74.25 MHz on 2 or 4 lanes, the size from the window mode and
// binning, the row time from HMAX (and the board's clock divider), the orientation in 0x3030. Everything else is
// the standby-group body shared with IMX335, IMX327 and IMX662.
#include "sensors/imx415.h"

#include <cmath>

#include "sensors/sensor_drivers.h"
#include "sony_common.h"

using namespace norva_drivers;

namespace {

constexpr const char *kTag = IMX415_LOG_TAG;
constexpr QOR_UINT32 k27MHz = 27000000;
constexpr QOR_UINT32 k37MHz = 37125000;
constexpr QOR_UINT32 k74MHz = 74250000;
constexpr unsigned kMinShutter = 8;

// Mode tables: clock-dependent settings, window mode and binning, frame and line length, orientation, AD
// conversion width, the shortest shutter, gain 0, lanes.
#define IMX415_MODE(INCK, HMAX, LANES, BITS, WINMODE, BINNING)                                                         \
    SONY_R(0x3008, INCK), SONY_R(0x300A, 0x5B), SONY_R(0x301C, WINMODE), SONY_R(0x3022, BINNING),                      \
        SONY_LE24(0x3024, 2250), SONY_LE16(0x3028, HMAX), SONY_R(0x3030, 0x00), SONY_R(0x3031, (BITS) == 12 ? 1 : 0),  \
        SONY_R(0x3032, (BITS) == 12 ? 1 : 0), SONY_LE24(0x3050, kMinShutter), SONY_R(0x3090, 0x00),                    \
        SONY_R(0x3091, 0x00), SONY_R(0x4001, (LANES) == 4 ? 3 : 1), SONY_END

const QOR_UINT8 mode_12bit_4K_30fps_891Mbps_27MHz[] = {IMX415_MODE(0x5D, 1100, 4, 12, 0, 0)};
const QOR_UINT8 mode_12bit_4K_50fps_1782Mbps_27MHz[] = {IMX415_MODE(0x5D, 650, 4, 12, 0, 0)};
const QOR_UINT8 mode_12bit_4K_60fps_1782Mbps_27MHz[] = {IMX415_MODE(0x5D, 550, 4, 12, 0, 0)};
const QOR_UINT8 mode_10bit_4K_90fps_2376Mbps_27MHz[] = {IMX415_MODE(0x5D, 366, 4, 10, 0, 0)};
const QOR_UINT8 mode_12bit_4K_30fps_891Mbps_37MHz[] = {IMX415_MODE(0x7F, 1100, 4, 12, 0, 0)};
const QOR_UINT8 mode_12bit_4K_60fps_1782Mbps_37MHz[] = {IMX415_MODE(0x7F, 550, 4, 12, 0, 0)};
const QOR_UINT8 mode_12bit_4K_15fps_891Mbps_37MHz_2lanes[] = {IMX415_MODE(0x7F, 2200, 2, 12, 0, 0)};
const QOR_UINT8 mode_12bit_4K_48fps_1782Mbps_37MHz[] = {IMX415_MODE(0x7F, 688, 4, 12, 0, 0)};
const QOR_UINT8 mode_12bit_crop_60fps_1782Mbps_37MHz[] = {IMX415_MODE(0x7F, 550, 4, 12, 4, 0)};
const QOR_UINT8 mode_12bit_crop_30fps_891Mbps_37MHz[] = {IMX415_MODE(0x7F, 1100, 4, 12, 4, 0)};
const QOR_UINT8 mode_12bit_4K_20fps_594Mbps_37MHz[] = {IMX415_MODE(0x7F, 1650, 4, 12, 0, 0)};
const QOR_UINT8 mode_binning_30fps_891Mbps_37MHz[] = {IMX415_MODE(0x7F, 1100, 4, 12, 0, 1)};
const QOR_UINT8 mode_12bit_4K_60fps_1782Mbps_74MHz[] = {IMX415_MODE(0xFF, 550, 4, 12, 0, 0)};
const QOR_UINT8 mode_12bit_4K_30fps_1782Mbps_37MHz_2lanes[] = {IMX415_MODE(0x7F, 1100, 2, 12, 0, 0)};
const QOR_UINT8 mode_12bit_4K_30fps_1782Mbps_37MHz[] = {IMX415_MODE(0x7F, 1100, 4, 12, 0, 0)};

// Analogue and timing settings of the vendor, then leave standby, 25 ms, start.
const QOR_UINT8 common_regs[] = {SONY_R(0x3116, 0x28), SONY_R(0x311E, 0x28),
                                 SONY_R(0x32D4, 0x21), SONY_R(0x32EC, 0xA1),
                                 SONY_R(0x3452, 0x7F), SONY_R(0x3453, 0x03),
                                 SONY_R(0x358A, 0x04), SONY_R(0x35A1, 0x02),
                                 SONY_R(0x36BC, 0x0C), SONY_R(0x36CC, 0x53),
                                 SONY_R(0x3000, 0x00), SONY_DELAY(25),
                                 SONY_R(0x3002, 0x00), SONY_END};

const QOR_UINT8 config_4lanes[] = {SONY_END};

sensor_mode imx415_configs[] = {{3, config_4lanes, 0, 3, 0, 0, 0}};
sensor_mode imx415_modes[] = {
    {3, mode_12bit_4K_30fps_891Mbps_27MHz, 0, 3, k27MHz, 0x29, 438},
    {3, mode_12bit_4K_50fps_1782Mbps_27MHz, 0, 3, k27MHz, 0x3E, 306},
    {3, mode_12bit_4K_60fps_1782Mbps_27MHz, 0, 3, k27MHz, 0x3E, 306},
    {3, mode_10bit_4K_90fps_2376Mbps_27MHz, 0, 3, k27MHz, 0x47, 420},
    {3, mode_12bit_4K_30fps_891Mbps_37MHz, 0, 3, k37MHz, 0x29, 438},
    {3, mode_12bit_4K_60fps_1782Mbps_37MHz, 0, 3, k37MHz, 0x3E, 306},
    {3, mode_12bit_4K_15fps_891Mbps_37MHz_2lanes, 0, 3, k37MHz, 0x29, 438},
    {3, mode_12bit_4K_48fps_1782Mbps_37MHz, 0, 3, k37MHz, 0x3E, 306},
    {3, mode_12bit_crop_60fps_1782Mbps_37MHz, 0, 3, k37MHz, 0x3E, 306},
    {3, mode_12bit_crop_30fps_891Mbps_37MHz, 0, 3, k37MHz, 0x29, 438},
    {3, mode_12bit_4K_20fps_594Mbps_37MHz, 0, 3, k37MHz, 0x07, 438},
    {3, mode_binning_30fps_891Mbps_37MHz, 0, 3, k37MHz, 0x29, 438},
    {3, mode_12bit_4K_60fps_1782Mbps_74MHz, 0, 3, k74MHz, 0x3E, 306},
    {3, mode_12bit_4K_30fps_1782Mbps_37MHz_2lanes, 0, 3, k37MHz, 0x3E, 306},
    {3, mode_12bit_4K_30fps_1782Mbps_37MHz, 0, 3, k37MHz, 0x3E, 306},
};
const QOR_UINT8 imx415_config_num_modes[] = {15};

unsigned minShutter(const SENSOR_MODE & /*mode*/) { return kMinShutter; }
double unitFactor(const SENSOR_MODE & /*mode*/) { return 1.0; }

const SonyStandby kImx415 = {kTag,   0x3090,  0x01,       0x1FF,      0x3024,
                             0x3050, 0xFFFFF, 20,         1,          SonyFrameRule::Imx415,
                             false,  true,    minShutter, unitFactor, nullptr};

void orient(QOR_UINT8 *e, QOR_UINT8 flip) {
    if (entryRegister(e, 2) == 0x3030)
        e[2] = SonyOrientation(e[2], flip, 0x02, 0x01);
}

} // namespace

extern "C" {

QOR_RESULT IMX415_GetModeInfo(CAM_STRUCT *psCam, QOR_UINT16 nMode, SENSOR_MODE *info) {
    unsigned n = 0;
    const QOR_UINT8 *regs = SensorModeGetRegisters(psCam->pModes, psCam->uiModesSize, SENSOR_MODE_INDEX(nMode), &n);
    if (regs == nullptr)
        return QOR_RES_NOT_SUPPORTED;
    QOR_UINT8 winmode = 0, binning = 0, lanes = 0, adbit = 0;
    FindRegister(regs, n, 0x301C, &winmode);
    FindRegister(regs, n, 0x3022, &binning);
    FindRegister(regs, n, 0x4001, &lanes);
    FindRegister(regs, n, 0x3032, &adbit);
    if (winmode == 4) {
        info->ui16Width = 3072;
        info->ui16Height = 2192;
    } else if (binning == 1) {
        info->ui16Width = 1932;
        info->ui16Height = 1096;
    } else {
        info->ui16Width = 3864;
        info->ui16Height = 2192;
    }
    const unsigned hmax = FindRegisterLE(regs, n, 0x3028, 2);
    const unsigned vmax = FindRegisterLE(regs, n, 0x3024, 3) & 0xFFFFF;
    info->ui8MipiLanes = lanes == 3 ? 4 : 2;
    info->ui8BitDepth = adbit != 0 ? 12 : 10;
    const unsigned divider = psCam->freqDivider != 0 ? psCam->freqDivider : 1;
    info->flTrow = divider * hmax / 74.25;
    info->flFrameRate = info->flTrow > 0 && vmax != 0 ? 1000000.0 / (info->flTrow * vmax) : 0.0;
    info->ui32ExposureMin = static_cast<QOR_UINT32>(std::ceil(4.0 * info->flTrow));
    info->ui32ExposureMax = 1000000;
    info->flPixelRate = 74.25;
    SonyDescribe(kImx415, psCam, nMode, info, hmax, vmax);
    psCam->num_lanes = info->ui8MipiLanes;
    return QOR_RES_OK;
}

void IMX415_ApplyMode(CAM_STRUCT *psCam) { SonyApplyMode(kImx415, psCam, orient, common_regs); }

QOR_RESULT IMX415_GetInfo(SENSOR_HANDLE hHandle, SENSOR_INFO *psInfo) {
    static const InfoFacts kInfo = {
        {nullptr, "IMX415"},
        false,
        {0x3064, "Reading device ID (GetInfo) \n", true},
        {1.2, 1.45, true, 0, 10000, 5.0},
        false,
        1,
        imx415_config_num_modes,
    };
    const QOR_RESULT ret = FillInfo(__func__, __LINE__, kTag, kInfo, hHandle, psInfo);
    if (ret == QOR_RES_OK)
        psInfo->eBayerOriginal = psInfo->eBayerEnabled = MOSAIC_GBRG;
    return ret;
}

SONY_STANDBY_DRIVER(IMX415, kImx415)

QOR_RESULT IMX415_Create(SENSOR_HANDLE *phHandle) {
    const DriverSetup d = {"IMX415",
                           0x1A,
                           2,
                           0x3064,
                           0x4A00,
                           imx415_configs,
                           1,
                           imx415_modes,
                           static_cast<QOR_UINT16>(sizeof imx415_modes / sizeof imx415_modes[0]),
                           imx415_config_num_modes,
                           1,
                           1.0,
                           3981.0,
                           1.0};
    CAM_STRUCT *psCam = NewCam(d, SENSOR_MIRAVO_IMX415, 0);
    if (psCam == nullptr)
        return QOR_RES_NO_MEMORY;
    IMX415_FillSlots(psCam);
    return FinishCreate(psCam, phHandle);
}

} // extern "C"
