// The OV5647 driver: one 2-lane configuration at 24 MHz whose PLL registers give the system clock, two modes whose
// window and totals come from 0x3808-0x380F, exposure in sixteenths of a line and a 10-bit gain.
#include "sensors/ov5647.h"

#include <cmath>

#include "driver_common.h"
#include "sensors/sensor_drivers.h"

using namespace norva_drivers;

namespace {

constexpr const char *kTag = OV5647_LOG_TAG;
constexpr QOR_UINT32 kTableClock = 24000000;
constexpr double kFallbackSclk = 84000000.0;
/** The exposure registers carry 16 bits of whole lines (in sixteenths of a line). */
constexpr QOR_UINT32 kRegisterLinesMax = 0xFFFF;

#define OV_R(a, v) static_cast<QOR_UINT8>((a) >> 8), static_cast<QOR_UINT8>((a)&0xFF), static_cast<QOR_UINT8>(v)
#define OV_B16(a, v) OV_R(a, ((v) >> 8) & 0xFF), OV_R((a) + 1, (v)&0xFF)
#define OV_END 0xFF, 0xFF, 0xFF

// Software reset, MIPI lanes, PLL (24 MHz -> 78.4 MHz system clock, 10 bits), SRB, manual exposure and gain,
// flips, black level.
const QOR_UINT8 config_2lanes[] = {OV_R(0x0103, 0x01),
                                   0xFE,
                                   0x05,
                                   0x00,
                                   OV_R(0x0100, 0x00),
                                   OV_R(0x3018, 0x44),
                                   OV_R(0x3034, 0x1A),
                                   OV_R(0x3035, 0x21),
                                   OV_R(0x3036, 0x62),
                                   OV_R(0x3037, 0x03),
                                   OV_R(0x3106, 0xF5),
                                   OV_R(0x303C, 0x11),
                                   OV_R(0x3503, 0x03),
                                   OV_R(0x350A, 0x00),
                                   OV_R(0x350B, 0x10),
                                   OV_R(0x3820, 0x00),
                                   OV_R(0x3821, 0x00),
                                   OV_R(0x4000, 0x09),
                                   OV_R(0x4001, 0x02),
                                   OV_R(0x4800, 0x04),
                                   OV_R(0x4837, 0x19),
                                   OV_R(0x5000, 0x06),
                                   OV_END};

// Mode tables: default exposure, crop, output size and totals, subsampling, stream on.
#define OV5647_MODE(W, H, HTS, VTS, EXP)                                                                               \
    OV_R(0x3500, ((EXP) >> 12) & 0x0F), OV_R(0x3501, ((EXP) >> 4) & 0xFF), OV_R(0x3502, ((EXP)&0x0F) << 4),            \
        OV_B16(0x3800, (2624 - (W)) / 2), OV_B16(0x3802, (1956 - (H)) / 2),                                            \
        OV_B16(0x3804, 2624 - (2624 - (W)) / 2 - 1), OV_B16(0x3806, 1956 - (1956 - (H)) / 2 - 1), OV_B16(0x3808, W),   \
        OV_B16(0x380A, H), OV_B16(0x380C, HTS), OV_B16(0x380E, VTS), OV_R(0x3814, 0x11), OV_R(0x3815, 0x11),           \
        OV_R(0x0100, 0x01), OV_END

const QOR_UINT8 mode_1920x1080[] = {OV5647_MODE(1920, 1080, 2416, 1104, 1100)};
const QOR_UINT8 mode_2592x1944[] = {OV5647_MODE(2592, 1944, 2844, 1968, 1960)};

const QOR_UINT8 disableRegs[] = {OV_R(0x0100, 0x00), 0xFE, 200, 0x00};

sensor_mode ov5647_configs[] = {{3, config_2lanes, 0, 3, 0, 0, 0}};
sensor_mode ov5647_modes[] = {
    {3, mode_1920x1080, 0, 3, kTableClock, 0x16, 0},
    {3, mode_2592x1944, 0, 3, kTableClock, 0x16, 0},
};
const QOR_UINT8 ov5647_config_num_modes[] = {2};

const unsigned kP[16] = {2, 2, 4, 6, 8, 3, 12, 5, 16, 2, 2, 2, 2, 2, 2, 2};
const unsigned kS[16] = {16, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
const unsigned kR[2] = {1, 2};
const unsigned kB[16] = {2, 2, 2, 2, 2, 2, 2, 2, 4, 2, 5, 2, 2, 2, 2, 2};
const unsigned kD[4] = {1, 2, 4, 1};

/** Lines of an exposure register triple (sixteenths of a line). */
QOR_UINT32 tableLines(const QOR_UINT8 *regs, unsigned n) {
    QOR_UINT8 a = 0, b = 0, c = 0;
    FindRegister(regs, n, 0x3500, &a);
    FindRegister(regs, n, 0x3501, &b);
    FindRegister(regs, n, 0x3502, &c);
    return static_cast<QOR_UINT32>(a) * 4096u + static_cast<QOR_UINT32>(b) * 16u + (c >> 4);
}

} // namespace

extern "C" {

const char *OV5647_SENSOR_INFO_NAME(sensor_num num) {
    if (num == SENSOR_MIRAVO_OV5647_0)
        return "OV5647_0";
    if (num == SENSOR_MIRAVO_OV5647_1)
        return "OV5647_1";
    return nullptr;
}

QOR_RESULT OV5647_GetConfInfo(CAM_STRUCT *psCam, QOR_UINT16 nMode, SENSOR_MODE *info) {
    unsigned n = 0;
    const QOR_UINT8 *regs =
        SensorModeGetRegisters(psCam->pConfigs, psCam->uiConfigsSize, SENSOR_MODE_CONFIG(nMode), &n);
    if (regs == nullptr)
        return QOR_RES_NOT_SUPPORTED;
    QOR_UINT8 lanes = 0, ctrl0 = 0, ctrl1 = 0, mult = 0, ctrl3 = 0, srb = 0;
    FindRegister(regs, n, 0x3018, &lanes);
    FindRegister(regs, n, 0x3034, &ctrl0);
    FindRegister(regs, n, 0x3035, &ctrl1);
    FindRegister(regs, n, 0x3036, &mult);
    FindRegister(regs, n, 0x3037, &ctrl3);
    FindRegister(regs, n, 0x3106, &srb);
    if (ctrl0 != 0 && ctrl1 != 0 && mult != 0 && ctrl3 != 0 && srb != 0) {
        psCam->sclk = psCam->refClock * 2.0 / kP[ctrl3 & 0x0F] * mult * 2.0 / kS[ctrl1 >> 4] / kR[(ctrl3 >> 4) & 1] /
                      kB[ctrl0 & 0x0F] / kD[(srb >> 2) & 3];
    } else {
        psCam->sclk = kFallbackSclk;
        QOR_LOG_WARNING(kTag, "Did not find all PLL registers - assumes sclk of %ld MHz\n", 84L);
    }
    psCam->num_lanes = lanes >> 5;
    info->ui8MipiLanes = static_cast<QOR_UINT8>(lanes >> 5);
    info->ui8BitDepth = static_cast<QOR_UINT8>(ctrl0 & 0x0F);
    info->flPixelRate = psCam->num_lanes * psCam->sclk / 1000000.0;
    return QOR_RES_OK;
}

QOR_RESULT OV5647_GetModeInfo(CAM_STRUCT *psCam, QOR_UINT16 nMode, SENSOR_MODE *info) {
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
    info->ui8SupportFlipping = SENSOR_FLIP_BOTH;
    const double sclk = psCam->sclk;
    info->flTrow = sclk > 0 ? hts / sclk * 1000000.0 : 0.0;
    info->flFrameRate = hts * vts != 0 ? sclk / (static_cast<double>(hts) * vts) : 0.0;
    info->ui32ExposureMin = static_cast<QOR_UINT32>(std::ceil(info->flTrow));
    info->ui32ExposureMax = info->ui32ExposureMin * 1968u;
    info->ui8MipiHsFreqRange = psCam->pModes[index].hsFreqRange;
    info->bValidFrequency = psCam->refClock == psCam->pModes[index].supportedFrequency ? QOR_TRUE : QOR_FALSE;
    psCam->ui32Exposure[0] = static_cast<QOR_UINT32>(info->flTrow * tableLines(regs, n));
    return QOR_RES_OK;
}

void OV5647_ApplyConfig(CAM_STRUCT *psCam) {
    if (psCam->currConfReg == nullptr) {
        QOR_LOG_ERROR(kTag, "current register config not available!\n");
        return;
    }
    WriteTable(psCam, psCam->currConfReg, psCam->nConfRegisters, [](QOR_UINT8 *) {});
}

void OV5647_ApplyMode(CAM_STRUCT *psCam) {
    if (psCam->currModeReg == nullptr) {
        QOR_LOG_ERROR(kTag, "current register modes not available!\n");
        return;
    }
    const QOR_UINT8 flip = psCam->ui8CurrentFlipping;
    WriteTable(psCam, psCam->currModeReg, psCam->nModeRegisters, [flip](QOR_UINT8 *e) {
        const QOR_UINT16 reg = entryRegister(e, 2);
        if (reg == 0x3820)
            e[2] = (flip & SENSOR_FLIP_VERTICAL) ? 0x06 : 0x00;
        else if (reg == 0x3821)
            e[2] = (flip & SENSOR_FLIP_HORIZONTAL) ? 0x06 : 0x00;
    });
}

void OV5647_ComputeExposureGain(CAM_STRUCT *psCam, QOR_UINT8 ui8Context, double flGain, QOR_UINT8 *regs) {
    const long g = std::lround(flGain * 16.0);
    regs[3 + 2] = static_cast<QOR_UINT8>((g >> 8) & 0x03);
    regs[6 + 2] = static_cast<QOR_UINT8>(g & 0xFF);
    const QOR_UINT32 l = SaturatedLines(psCam, ui8Context, kRegisterLinesMax);
    regs[9 + 2] = static_cast<QOR_UINT8>((l >> 12) & 0x0F);
    regs[12 + 2] = static_cast<QOR_UINT8>((l >> 4) & 0xFF);
    regs[15 + 2] = static_cast<QOR_UINT8>((l & 0x0F) << 4);
}

QOR_RESULT OV5647_SetExposureGain(SENSOR_HANDLE hHandle, QOR_UINT32 ui32Exposure, double flGain, QOR_UINT8 ui8Context) {
    QOR_UINT8 regs[] = {OV_R(0x3503, 0x03), OV_R(0x350A, 0), OV_R(0x350B, 0),
                        OV_R(0x3500, 0),    OV_R(0x3501, 0), OV_R(0x3502, 0)};
    static_assert(sizeof(regs) == 18, "six entries");
    return SensorFuncSetExposureGain(hHandle, ui32Exposure, flGain, ui8Context, regs, sizeof regs, 0);
}

QOR_RESULT OV5647_Disable(SENSOR_HANDLE hHandle) { return SensorFuncDisable(hHandle, disableRegs, sizeof disableRegs); }

QOR_RESULT OV5647_GetInfo(SENSOR_HANDLE hHandle, SENSOR_INFO *psInfo) {
    static const InfoFacts kInfo = {
        {OV5647_SENSOR_INFO_NAME, nullptr},
        false,
        {0x300A, "Reading device ID (GetInfo)\n", true},
        {1.2, 1.4, true, 30, 6040, 5.0},
        true,
        1,
        ov5647_config_num_modes,
    };
    return FillInfo(__func__, __LINE__, kTag, kInfo, hHandle, psInfo);
}

QOR_RESULT OV5647_Create(SENSOR_HANDLE *phHandle, sensor_num nSensor) {
    const DriverSetup d = {"OV5647",
                           0x36,
                           2,
                           0x300A,
                           0x5647,
                           ov5647_configs,
                           1,
                           ov5647_modes,
                           static_cast<QOR_UINT16>(sizeof ov5647_modes / sizeof ov5647_modes[0]),
                           ov5647_config_num_modes,
                           1,
                           1.0,
                           32.0,
                           1.0};
    CAM_STRUCT *psCam = NewCam(d, nSensor, static_cast<QOR_UINT8>(GetImagerNum(nSensor)));
    if (psCam == nullptr)
        return QOR_RES_NO_MEMORY;
    psCam->sFuncs.Disable = OV5647_Disable;
    psCam->sFuncs.GetInfo = OV5647_GetInfo;
    psCam->sFuncs.SetExposureGain = OV5647_SetExposureGain;
    psCam->ApplyConfig = OV5647_ApplyConfig;
    psCam->ApplyMode = OV5647_ApplyMode;
    psCam->GetConfInfo = OV5647_GetConfInfo;
    psCam->GetModeInfo = OV5647_GetModeInfo;
    psCam->ComputeExposureGain = OV5647_ComputeExposureGain;
    return FinishCreate(psCam, phHandle);
}

QOR_RESULT OV5647_Create_0(SENSOR_HANDLE *phHandle) { return OV5647_Create(phHandle, SENSOR_MIRAVO_OV5647_0); }
QOR_RESULT OV5647_Create_1(SENSOR_HANDLE *phHandle) { return OV5647_Create(phHandle, SENSOR_MIRAVO_OV5647_1); }

} // extern "C"
