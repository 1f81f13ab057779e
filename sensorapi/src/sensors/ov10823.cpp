// The OV10823 driver: one 4-lane configuration whose PLL registers give the system clock (multipliers patched for
// the board clock), four modes whose window and totals come from 0x3808-0x380F, exposure and gain written in two
// register groups, the frame length extended for exposures longer than the frame.
#include "sensors/ov10823.h"

#include <cmath>

#include "driver_common.h"
#include "sensors/sensor_drivers.h"

using namespace norva_drivers;

namespace {

constexpr const char *kTag = OV10823_LOG_TAG;
constexpr QOR_UINT32 kTableClock = 27000000;
constexpr QOR_UINT32 kMinClock = 20000000;
constexpr QOR_UINT32 kMaxClock = 27000000;
constexpr double kFallbackSclk = 120000000.0;
constexpr QOR_UINT32 kExposureLinesMax = 1048575;
/** The frame length (exposure lines + 4) must fit the 16-bit frame-length registers. */
constexpr QOR_UINT32 kRegisterLinesMax = 0xFFFF - 4;

#define OV_R(a, v) static_cast<QOR_UINT8>((a) >> 8), static_cast<QOR_UINT8>((a)&0xFF), static_cast<QOR_UINT8>(v)
#define OV_B16(a, v) OV_R(a, ((v) >> 8) & 0xFF), OV_R((a) + 1, (v)&0xFF)
#define OV_END 0xFF, 0xFF, 0xFF

// Software reset, PLL (27 MHz -> 103.95 MHz system clock), MIPI (4 lanes, 10 bits), mirror off, black level.
const QOR_UINT8 config_4lanes[] = {OV_R(0x0103, 0x01),
                                   0xFE,
                                   0x05,
                                   0x00,
                                   OV_R(0x0100, 0x00),
                                   OV_R(0x300F, 0x01),
                                   OV_R(0x3012, 0x41),
                                   OV_R(0x3080, 0x02),
                                   OV_R(0x3081, 0x01),
                                   OV_R(0x3082, 0x60),
                                   OV_R(0x3083, 0x00),
                                   OV_R(0x3084, 0x02),
                                   OV_R(0x308B, 0x02),
                                   OV_R(0x308C, 0x00),
                                   OV_R(0x308D, 0x9A),
                                   OV_R(0x308E, 0x07),
                                   OV_R(0x308F, 0x03),
                                   OV_R(0x3503, 0x03),
                                   OV_R(0x350A, 0x00),
                                   OV_R(0x350B, 0x10),
                                   OV_R(0x3821, 0x00),
                                   OV_R(0x4000, 0x89),
                                   OV_R(0x4800, 0x04),
                                   OV_R(0x4837, 0x0A),
                                   OV_END};

// Mode tables: default exposure, crop, output size, totals, subsampling, vertical flip, stream on.
#define OV10823_MODE(W, H, VTS, SUB)                                                                                   \
    OV_R(0x3500, 0x00), OV_R(0x3501, 0x9D), OV_R(0x3502, 0x00), OV_B16(0x3800, (4352 - (W) * (SUB)) / 2),              \
        OV_B16(0x3802, (2448 - (H) * (SUB)) / 2), OV_B16(0x3804, 4352 - (4352 - (W) * (SUB)) / 2 - 1),                 \
        OV_B16(0x3806, 2448 - (2448 - (H) * (SUB)) / 2 - 1), OV_B16(0x3808, W), OV_B16(0x380A, H),                     \
        OV_B16(0x380C, 5504), OV_B16(0x380E, VTS), OV_R(0x3814, (SUB) == 2 ? 0x31 : 0x11),                             \
        OV_R(0x3815, (SUB) == 2 ? 0x31 : 0x11), OV_R(0x3820, 0x00), OV_R(0x0100, 0x01), OV_END

const QOR_UINT8 mode_4336x2440_30fps[] = {OV10823_MODE(4336, 2440, 2528, 1)};
const QOR_UINT8 mode_3840x2160_30fps[] = {OV10823_MODE(3840, 2160, 2528, 1)};
const QOR_UINT8 mode_2168x1220_30fps[] = {OV10823_MODE(2168, 1220, 1264, 2)};
const QOR_UINT8 mode_1920x1080_30fps[] = {OV10823_MODE(1920, 1080, 1264, 2)};

const QOR_UINT8 disableRegs[] = {OV_R(0x0100, 0x00), 0xFE, 200, 0x00};

sensor_mode ov10823_configs[] = {{3, config_4lanes, 0, 3, 0, 0, 0}};
sensor_mode ov10823_modes[] = {
    {3, mode_4336x2440_30fps, 0, 3, kTableClock, 0x19, 0},
    {3, mode_3840x2160_30fps, 0, 3, kTableClock, 0x19, 0},
    {3, mode_2168x1220_30fps, 0, 3, kTableClock, 0x19, 0},
    {3, mode_1920x1080_30fps, 0, 3, kTableClock, 0x19, 0},
};
const QOR_UINT8 ov10823_config_num_modes[] = {4};

const double pll_ctrl_b_val[] = {1.0, 1.5, 2.0, 2.5, 3.0, 4.0, 6.0, 8.0};
const double pll_ctrl_c_val[] = {1.0, 1.5, 2.0, 2.5, 3.0, 3.5, 4.0, 5.0};

QOR_UINT32 tableLines(const QOR_UINT8 *regs, unsigned n) {
    QOR_UINT8 a = 0, b = 0, c = 0;
    FindRegister(regs, n, 0x3500, &a);
    FindRegister(regs, n, 0x3501, &b);
    FindRegister(regs, n, 0x3502, &c);
    return static_cast<QOR_UINT32>(a) * 4096u + static_cast<QOR_UINT32>(b) * 16u + (c >> 4);
}

/** Value bytes of the exposure/gain buffer. */
enum { kGainHi = 1 * 3 + 2, kGainLo = 2 * 3 + 2, kExp0 = 7 * 3 + 2, kVtsHi = 10 * 3 + 2, kVtsLo = 11 * 3 + 2 };

} // namespace

extern "C" {

const char *OV10823_SENSOR_INFO_NAME(sensor_num num) {
    if (num == SENSOR_MIRAVO_OV10823_0)
        return "OV10823_0";
    if (num == SENSOR_MIRAVO_OV10823_1)
        return "OV10823_1";
    return nullptr;
}

QOR_RESULT OV10823_GetConfInfo(CAM_STRUCT *psCam, QOR_UINT16 nMode, SENSOR_MODE *info) {
    unsigned n = 0;
    const QOR_UINT8 *regs =
        SensorModeGetRegisters(psCam->pConfigs, psCam->uiConfigsSize, SENSOR_MODE_CONFIG(nMode), &n);
    if (regs == nullptr)
        return QOR_RES_NOT_SUPPORTED;
    QOR_UINT8 bits = 0, lanes = 0, b = 0, c = 0, s = 0;
    FindRegister(regs, n, 0x300F, &bits);
    FindRegister(regs, n, 0x3012, &lanes);
    const bool haveB = FindRegister(regs, n, 0x308B, &b);
    const bool haveC = FindRegister(regs, n, 0x308E, &c);
    const bool haveS = FindRegister(regs, n, 0x308F, &s);
    const unsigned mhz = psCam->refClock / 1000000u;
    if (haveB && haveC && haveS && mhz != 0) {
        psCam->sclk = static_cast<double>(4176u / mhz) * psCam->refClock / pll_ctrl_b_val[b & 7] / (s + 1) /
                      pll_ctrl_c_val[c & 7];
    } else {
        psCam->sclk = kFallbackSclk;
        QOR_LOG_WARNING(kTag, "Did not find all PLL registers - assumes sclk of %ld MHz\n", 120L);
    }
    psCam->num_lanes = lanes >> 4;
    info->ui8MipiLanes = static_cast<QOR_UINT8>(lanes >> 4);
    info->ui8BitDepth = static_cast<QOR_UINT8>((bits & 3) * 2 + 8);
    info->flPixelRate = psCam->num_lanes * psCam->sclk / 1000000.0;
    return QOR_RES_OK;
}

QOR_RESULT OV10823_GetModeInfo(CAM_STRUCT *psCam, QOR_UINT16 nMode, SENSOR_MODE *info) {
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
    const unsigned h = psCam->num_lanes != 0 ? hts / psCam->num_lanes : hts;
    const double sclk = psCam->sclk;
    info->flTrow = sclk > 0 ? h / sclk * 1000000.0 : 0.0;
    info->flFrameRate = h * vts != 0 ? sclk / (static_cast<double>(h) * vts) : 0.0;
    // The shortest exposure is two rows: the ceiling of the product.
    info->ui32ExposureMin = static_cast<QOR_UINT32>(std::ceil(2.0 * info->flTrow));
    info->ui32ExposureMax = info->ui32ExposureMin * kExposureLinesMax;
    info->ui8MipiHsFreqRange = psCam->pModes[index].hsFreqRange;
    info->bValidFrequency = psCam->refClock >= kMinClock && psCam->refClock <= kMaxClock ? QOR_TRUE : QOR_FALSE;
    psCam->ui32Exposure[0] = static_cast<QOR_UINT32>(info->flTrow * tableLines(regs, n));
    return QOR_RES_OK;
}

void OV10823_ApplyConfig(CAM_STRUCT *psCam) {
    if (psCam->currConfReg == nullptr) {
        QOR_LOG_ERROR(kTag, "current register config not available!\n");
        return;
    }
    if (psCam->refClock < kMinClock || psCam->refClock > kMaxClock) {
        QOR_LOG_ERROR(kTag, "Reference clock frequency %f MHz not supported!\n", psCam->refClock / 1e6);
        return;
    }
    const unsigned mhz = psCam->refClock / 1000000u;
    WriteTable(psCam, psCam->currConfReg, psCam->nConfRegisters, [mhz](QOR_UINT8 *e) {
        const QOR_UINT16 reg = entryRegister(e, 2);
        if (reg == 0x3082)
            e[2] = static_cast<QOR_UINT8>(2592u / mhz);
        else if (reg == 0x308D)
            e[2] = static_cast<QOR_UINT8>(4176u / mhz);
    });
}

void OV10823_ApplyMode(CAM_STRUCT *psCam) {
    if (psCam->currModeReg == nullptr) {
        QOR_LOG_ERROR(kTag, "current register modes not available!\n");
        return;
    }
    const QOR_UINT8 flip = psCam->ui8CurrentFlipping;
    WriteTable(psCam, psCam->currModeReg, psCam->nModeRegisters, [flip](QOR_UINT8 *e) {
        const QOR_UINT16 reg = entryRegister(e, 2);
        if (reg == 0x3820)
            e[2] = (flip & SENSOR_FLIP_VERTICAL) ? 0x04 : 0x00;
        else if (reg == 0x3821)
            e[2] = (flip & SENSOR_FLIP_HORIZONTAL) ? 0x04 : 0x00;
    });
}

void OV10823_ComputeExposureGain(CAM_STRUCT *psCam, QOR_UINT8 ui8Context, double flGain, QOR_UINT8 *regs) {
    const long g = std::lround(flGain * 16.0);
    regs[kGainHi] = static_cast<QOR_UINT8>((g >> 8) & 0x07);
    regs[kGainLo] = static_cast<QOR_UINT8>(g & 0xFF);
    // The frame length (the lines and 4 more) has 16 bits as well.
    const QOR_UINT32 l = SaturatedLines(psCam, ui8Context, kRegisterLinesMax);
    regs[kExp0] = static_cast<QOR_UINT8>((l >> 12) & 0x0F);
    regs[kExp0 + 3] = static_cast<QOR_UINT8>((l >> 4) & 0xFF);
    regs[kExp0 + 6] = static_cast<QOR_UINT8>((l & 0x0F) << 4);
    const QOR_UINT32 vts = psCam->currMode.ui16VerticalTotal;
    const QOR_UINT32 frame = l > vts ? l + 4 : vts;
    regs[kVtsHi] = static_cast<QOR_UINT8>((frame >> 8) & 0xFF);
    regs[kVtsLo] = static_cast<QOR_UINT8>(frame & 0xFF);
}

QOR_RESULT OV10823_SetExposureGain(SENSOR_HANDLE hHandle, QOR_UINT32 ui32Exposure, double flGain,
                                   QOR_UINT8 ui8Context) {
    QOR_UINT8 regs[] = {OV_R(0x3208, 0x01), OV_R(0x350A, 0),    OV_R(0x350B, 0),    OV_R(0x3208, 0x11),
                        OV_R(0x320B, 0x00), OV_R(0x3208, 0xE1), OV_R(0x3208, 0x02), OV_R(0x3500, 0),
                        OV_R(0x3501, 0),    OV_R(0x3502, 0),    OV_R(0x380E, 0),    OV_R(0x380F, 0),
                        OV_R(0x3208, 0x12), OV_R(0x320B, 0x00), OV_R(0x3208, 0xE2)};
    static_assert(sizeof(regs) == 45, "fifteen entries");
    return SensorFuncSetExposureGain(hHandle, ui32Exposure, flGain, ui8Context, regs, sizeof regs, 0);
}

QOR_RESULT OV10823_Disable(SENSOR_HANDLE hHandle) {
    return SensorFuncDisable(hHandle, disableRegs, sizeof disableRegs);
}

QOR_RESULT OV10823_GetInfo(SENSOR_HANDLE hHandle, SENSOR_INFO *psInfo) {
    static const InfoFacts kInfo = {
        {OV10823_SENSOR_INFO_NAME, nullptr},
        false,
        {0x300A, "Reading device ID (GetInfo) \n", true},
        {1.2, 1.4, true, 30, 6040, 5.0},
        true,
        1,
        ov10823_config_num_modes,
    };
    return FillInfo(__func__, __LINE__, kTag, kInfo, hHandle, psInfo);
}

QOR_RESULT OV10823_Create(SENSOR_HANDLE *phHandle, sensor_num nSensor) {
    const DriverSetup d = {"OV10823",
                           0x10,
                           2,
                           0x300A,
                           0xA820,
                           ov10823_configs,
                           1,
                           ov10823_modes,
                           static_cast<QOR_UINT16>(sizeof ov10823_modes / sizeof ov10823_modes[0]),
                           ov10823_config_num_modes,
                           1,
                           1.0,
                           64.0,
                           1.0};
    CAM_STRUCT *psCam = NewCam(d, nSensor, static_cast<QOR_UINT8>(GetImagerNum(nSensor)));
    if (psCam == nullptr)
        return QOR_RES_NO_MEMORY;
    psCam->sFuncs.Disable = OV10823_Disable;
    psCam->sFuncs.GetInfo = OV10823_GetInfo;
    psCam->sFuncs.SetExposureGain = OV10823_SetExposureGain;
    psCam->ApplyConfig = OV10823_ApplyConfig;
    psCam->ApplyMode = OV10823_ApplyMode;
    psCam->GetConfInfo = OV10823_GetConfInfo;
    psCam->GetModeInfo = OV10823_GetModeInfo;
    psCam->ComputeExposureGain = OV10823_ComputeExposureGain;
    return FinishCreate(psCam, phHandle);
}

QOR_RESULT OV10823_Create_0(SENSOR_HANDLE *phHandle) { return OV10823_Create(phHandle, SENSOR_MIRAVO_OV10823_0); }
QOR_RESULT OV10823_Create_1(SENSOR_HANDLE *phHandle) { return OV10823_Create(phHandle, SENSOR_MIRAVO_OV10823_1); }

} // extern "C"
