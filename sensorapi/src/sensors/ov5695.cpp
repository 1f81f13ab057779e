// The OV5695 driver: one 2-lane configuration on a fixed 45 MHz system clock, four modes whose window and totals
// come from 0x3808-0x380F, flips in 0x3820, exposure in sixteenths of a line and a gain in sixteenths.
#include "sensors/ov5695.h"

#include <cmath>

#include "driver_common.h"
#include "sensors/sensor_drivers.h"

using namespace norva_drivers;

namespace {

constexpr const char *kTag = OV5695_LOG_TAG;
constexpr QOR_UINT32 kTableClock = 24000000;
constexpr double kSclk = 45000000.0;
/** The exposure registers carry 16 bits of whole lines (in sixteenths of a line). */
constexpr QOR_UINT32 kRegisterLinesMax = 0xFFFF;

#define OV_R(a, v) static_cast<QOR_UINT8>((a) >> 8), static_cast<QOR_UINT8>((a)&0xFF), static_cast<QOR_UINT8>(v)
#define OV_B16(a, v) OV_R(a, ((v) >> 8) & 0xFF), OV_R((a) + 1, (v)&0xFF)
#define OV_END 0xFF, 0xFF, 0xFF

// Software reset, PLL, MIPI (2 lanes, 10 bits), analogue settings, black level.
const QOR_UINT8 config_2lanes[] = {OV_R(0x0103, 0x01),
                                   0xFE,
                                   0x05,
                                   0x00,
                                   OV_R(0x0100, 0x00),
                                   OV_R(0x0300, 0x04),
                                   OV_R(0x0301, 0x00),
                                   OV_R(0x0302, 0x69),
                                   OV_R(0x0303, 0x00),
                                   OV_R(0x0304, 0x00),
                                   OV_R(0x0305, 0x01),
                                   OV_R(0x0307, 0x00),
                                   OV_R(0x030B, 0x00),
                                   OV_R(0x030C, 0x00),
                                   OV_R(0x030D, 0x1E),
                                   OV_R(0x030E, 0x04),
                                   OV_R(0x030F, 0x03),
                                   OV_R(0x0312, 0x01),
                                   OV_R(0x3000, 0x00),
                                   OV_R(0x3002, 0xA1),
                                   OV_R(0x3008, 0x00),
                                   OV_R(0x3010, 0x00),
                                   OV_R(0x3018, 0x32),
                                   OV_R(0x3031, 0x0A),
                                   OV_R(0x3503, 0x04),
                                   OV_R(0x3508, 0x00),
                                   OV_R(0x3509, 0x10),
                                   OV_R(0x4003, 0x40),
                                   OV_R(0x4008, 0x04),
                                   OV_R(0x4009, 0x13),
                                   OV_R(0x4800, 0x14),
                                   OV_R(0x5000, 0x00),
                                   OV_END};

// Mode tables: default exposure, crop, output size, totals, subsampling, flips, stream on.
#define OV5695_MODE(W, H, HTS, VTS, SUB, FLIP)                                                                         \
    OV_R(0x3500, 0x00), OV_R(0x3501, 0x7C), OV_R(0x3502, 0x00), OV_B16(0x3800, (2624 - (W) * (SUB)) / 2),              \
        OV_B16(0x3802, (1956 - (H) * (SUB)) / 2), OV_B16(0x3804, 2624 - (2624 - (W) * (SUB)) / 2 - 1),                 \
        OV_B16(0x3806, 1956 - (1956 - (H) * (SUB)) / 2 - 1), OV_B16(0x3808, W), OV_B16(0x380A, H),                     \
        OV_B16(0x380C, HTS), OV_B16(0x380E, VTS), OV_R(0x3814, (SUB) == 2 ? 0x03 : 0x01),                              \
        OV_R(0x3815, (SUB) == 2 ? 0x03 : 0x01), OV_R(0x3820, FLIP), OV_R(0x3821, 0x00), OV_R(0x0100, 0x01), OV_END

const QOR_UINT8 mode_2592x1944_regs[] = {OV5695_MODE(2592, 1944, 740, 2024, 1, 0x80)};
const QOR_UINT8 mode_1920x1080_regs[] = {OV5695_MODE(1920, 1080, 672, 2232, 1, 0x80)};
const QOR_UINT8 mode_720x1600_regs[] = {OV5695_MODE(720, 1600, 740, 2024, 1, 0x80)};
const QOR_UINT8 mode_1296x972_regs[] = {OV5695_MODE(1296, 972, 672, 2232, 2, 0x8B)};

const QOR_UINT8 disableRegs[] = {OV_R(0x0100, 0x00), 0xFE, 200, 0x00};

sensor_mode ov5695_configs[] = {{3, config_2lanes, 0, 3, 0, 0, 0}};
sensor_mode ov5695_modes[] = {
    {3, mode_2592x1944_regs, 0, 3, kTableClock, 0x19, 0},
    {3, mode_1920x1080_regs, 0, 3, kTableClock, 0x19, 0},
    {3, mode_720x1600_regs, 0, 3, kTableClock, 0x19, 0},
    {3, mode_1296x972_regs, 0, 3, kTableClock, 0x19, 0},
};
const QOR_UINT8 ov5695_config_num_modes[] = {4};

QOR_UINT32 tableLines(const QOR_UINT8 *regs, unsigned n) {
    QOR_UINT8 a = 0, b = 0, c = 0;
    FindRegister(regs, n, 0x3500, &a);
    FindRegister(regs, n, 0x3501, &b);
    FindRegister(regs, n, 0x3502, &c);
    return static_cast<QOR_UINT32>(a) * 4096u + static_cast<QOR_UINT32>(b) * 16u + (c >> 4);
}

} // namespace

extern "C" {

const char *OV5695_SENSOR_INFO_NAME(sensor_num num) {
    if (num == SENSOR_MIRAVO_OV5695_0)
        return "OV5695_0";
    if (num == SENSOR_MIRAVO_OV5695_1)
        return "OV5695_1";
    if (num == SENSOR_MIRAVO_OV5695_2)
        return "OV5695_2";
    return nullptr;
}

QOR_RESULT OV5695_GetConfInfo(CAM_STRUCT *psCam, QOR_UINT16 /*nMode*/, SENSOR_MODE *info) {
    psCam->sclk = kSclk;
    psCam->num_lanes = 2;
    info->ui8MipiLanes = 2;
    info->flPixelRate = 84.0;
    info->ui8BitDepth = 10;
    return QOR_RES_OK;
}

QOR_RESULT OV5695_GetModeInfo(CAM_STRUCT *psCam, QOR_UINT16 nMode, SENSOR_MODE *info) {
    const unsigned index = SENSOR_MODE_INDEX(nMode) + 4u * SENSOR_MODE_CONFIG(nMode);
    unsigned n = 0;
    const QOR_UINT8 *regs = SensorModeGetRegisters(psCam->pModes, psCam->uiModesSize, index, &n);
    if (regs == nullptr)
        return QOR_RES_NOT_SUPPORTED;
    const unsigned hts = FindRegister16(regs, n, 0x380C);
    const unsigned vts = FindRegister16(regs, n, 0x380E);
    info->ui16Width = static_cast<QOR_UINT16>(FindRegister16(regs, n, 0x3808));
    info->ui16Height = static_cast<QOR_UINT16>(FindRegister16(regs, n, 0x380A));
    info->ui16HorizontalTotal = static_cast<QOR_UINT16>(hts);
    info->ui16VerticalTotal = static_cast<QOR_UINT16>(vts);
    info->ui8SupportFlipping = 0;
    const double sclk = psCam->sclk;
    info->flTrow = sclk > 0 ? hts / sclk * 1000000.0 : 0.0;
    info->flFrameRate = hts * vts != 0 ? sclk / (static_cast<double>(hts) * vts) : 0.0;
    // The shortest exposure is four rows: the ceiling of the product, not four ceilings.
    info->ui32ExposureMin = static_cast<QOR_UINT32>(std::ceil(4.0 * info->flTrow));
    info->ui32ExposureMax = vts > 4 ? (vts - 4) * static_cast<QOR_UINT32>(std::floor(info->flTrow)) : 0;
    info->ui8MipiHsFreqRange = psCam->pModes[index].hsFreqRange;
    info->bValidFrequency = psCam->refClock == psCam->pModes[index].supportedFrequency ? QOR_TRUE : QOR_FALSE;
    psCam->ui32Exposure[0] = static_cast<QOR_UINT32>(info->flTrow * tableLines(regs, n));
    return QOR_RES_OK;
}

void OV5695_ApplyConfig(CAM_STRUCT *psCam) {
    if (psCam->currConfReg == nullptr) {
        QOR_LOG_ERROR(kTag, "current register config not available!\n");
        return;
    }
    WriteTable(psCam, psCam->currConfReg, psCam->nConfRegisters, [](QOR_UINT8 *) {});
}

void OV5695_ApplyMode(CAM_STRUCT *psCam) {
    if (psCam->currModeReg == nullptr) {
        QOR_LOG_ERROR(kTag, "current register modes not available!\n");
        return;
    }
    const QOR_UINT8 flip = psCam->ui8CurrentFlipping;
    WriteTable(psCam, psCam->currModeReg, psCam->nModeRegisters, [flip](QOR_UINT8 *e) {
        if (entryRegister(e, 2) != 0x3820)
            return;
        QOR_UINT8 v = e[2];
        if (flip & SENSOR_FLIP_VERTICAL)
            v = static_cast<QOR_UINT8>(v | 0x10);
        else
            v = static_cast<QOR_UINT8>(v & ~0x30);
        if (flip & SENSOR_FLIP_HORIZONTAL)
            v = static_cast<QOR_UINT8>(v | 0x08);
        else
            v = static_cast<QOR_UINT8>(v & ~0x08);
        e[2] = v;
    });
}

void OV5695_ComputeExposureGain(CAM_STRUCT *psCam, QOR_UINT8 ui8Context, double flGain, QOR_UINT8 *regs) {
    const long g = std::lround(flGain * 16.0);
    regs[2] = static_cast<QOR_UINT8>((g >> 8) & 0x0F);
    regs[3 + 2] = static_cast<QOR_UINT8>(g & 0xFF);
    const QOR_UINT32 l = SaturatedLines(psCam, ui8Context, kRegisterLinesMax);
    regs[6 + 2] = static_cast<QOR_UINT8>((l >> 12) & 0x0F);
    regs[9 + 2] = static_cast<QOR_UINT8>((l >> 4) & 0xFF);
    regs[12 + 2] = static_cast<QOR_UINT8>((l & 0x0F) << 4);
}

QOR_RESULT OV5695_SetExposureGain(SENSOR_HANDLE hHandle, QOR_UINT32 ui32Exposure, double flGain, QOR_UINT8 ui8Context) {
    QOR_UINT8 regs[] = {OV_R(0x3508, 0), OV_R(0x3509, 0), OV_R(0x3500, 0), OV_R(0x3501, 0), OV_R(0x3502, 0)};
    static_assert(sizeof(regs) == 15, "five entries");
    return SensorFuncSetExposureGain(hHandle, ui32Exposure, flGain, ui8Context, regs, sizeof regs, 0);
}

QOR_RESULT OV5695_Disable(SENSOR_HANDLE hHandle) { return SensorFuncDisable(hHandle, disableRegs, sizeof disableRegs); }

QOR_RESULT OV5695_GetInfo(SENSOR_HANDLE hHandle, SENSOR_INFO *psInfo) {
    static const InfoFacts kInfo = {
        {OV5695_SENSOR_INFO_NAME, nullptr},
        false,
        {0x300B, "Reading device ID (GetInfo)\n", true},
        {1.2, 1.4, true, 30, 6040, 5.0},
        true,
        1,
        ov5695_config_num_modes,
    };
    return FillInfo(__func__, __LINE__, kTag, kInfo, hHandle, psInfo);
}

QOR_RESULT OV5695_Create(SENSOR_HANDLE *phHandle, sensor_num nSensor) {
    const DriverSetup d = {"OV5695",
                           0x36,
                           2,
                           0x300B,
                           0x5695,
                           ov5695_configs,
                           1,
                           ov5695_modes,
                           static_cast<QOR_UINT16>(sizeof ov5695_modes / sizeof ov5695_modes[0]),
                           ov5695_config_num_modes,
                           1,
                           1.0,
                           15.5,
                           1.0};
    // The third position shares the imager port and PHY of the second and is told apart by its board slot.
    const QOR_UINT8 slot = nSensor == SENSOR_MIRAVO_OV5695_0 ? 0 : nSensor == SENSOR_MIRAVO_OV5695_1 ? 1 : 2;
    CAM_STRUCT *psCam = NewCam(d, nSensor, slot);
    if (psCam == nullptr)
        return QOR_RES_NO_MEMORY;
    psCam->sFuncs.Disable = OV5695_Disable;
    psCam->sFuncs.GetInfo = OV5695_GetInfo;
    psCam->sFuncs.SetExposureGain = OV5695_SetExposureGain;
    psCam->ApplyConfig = OV5695_ApplyConfig;
    psCam->ApplyMode = OV5695_ApplyMode;
    psCam->GetConfInfo = OV5695_GetConfInfo;
    psCam->GetModeInfo = OV5695_GetModeInfo;
    psCam->ComputeExposureGain = OV5695_ComputeExposureGain;
    return FinishCreate(psCam, phHandle);
}

QOR_RESULT OV5695_Create_0(SENSOR_HANDLE *phHandle) { return OV5695_Create(phHandle, SENSOR_MIRAVO_OV5695_0); }
QOR_RESULT OV5695_Create_1(SENSOR_HANDLE *phHandle) { return OV5695_Create(phHandle, SENSOR_MIRAVO_OV5695_1); }
QOR_RESULT OV5695_Create_2(SENSOR_HANDLE *phHandle) { return OV5695_Create(phHandle, SENSOR_MIRAVO_OV5695_2); }

} // extern "C"
