// The OV2718 driver: two silicon revisions (chosen by the sub-identifier 0x300D), a linear and a staggered-HDR
// configuration that carry the timing, mode tables that set size, offsets and orientation, and six gain and
// exposure registers written without a group hold.
#include "sensors/ov2718.h"

#include <cmath>

#include "driver_common.h"
#include "sensors/sensor_drivers.h"

using namespace norva_drivers;

namespace {

constexpr const char *kTag = OV2718_LOG_TAG;
constexpr QOR_UINT32 kTableClock = 24000000;
constexpr double kMinClockMHz = 20.0, kMaxClockMHz = 30.0;
constexpr double kFallbackSclk = 120000000.0;
constexpr QOR_UINT8 kPhyCode2A = 0x0A, kPhyCode1B = 0x07;
constexpr QOR_UINT8 kSubIdRev1B = 0xF0, kSubIdRev2A = 0xE1;

#define OV_R(a, v) static_cast<QOR_UINT8>((a) >> 8), static_cast<QOR_UINT8>((a)&0xFF), static_cast<QOR_UINT8>(v)
#define OV_B16(a, v) OV_R(a, ((v) >> 8) & 0xFF), OV_R((a) + 1, (v)&0xFF)
#define OV_END 0xFF, 0xFF, 0xFF

const double pll_prediv_val[8] = {1.0, 1.5, 2.0, 2.5, 3.0, 4.0, 6.0, 8.0};

// Configurations: lanes, output mode (linear or HDR, 12 bits), PLL (pre-divider 4.0, multiplier patched for the
// board clock, post-divider 8), line and frame totals, the default gain (0x315A as a whole number) and exposure.
#define OV2718_CONFIG(MODEBITS, HTS, VTS, GAIN)                                                                        \
    OV_R(0x3013, 0x01), OV_R(0x31FE, 0x0F), OV_R(0x3190, MODEBITS), OV_R(0x3000, 0x05), OV_R(0x3001, 0x64),            \
        OV_R(0x3002, 0x07), OV_R(0x3005, 0x49), OV_B16(0x30B0, HTS), OV_B16(0x30B2, VTS), OV_R(0x315A, GAIN),          \
        OV_R(0x315B, 0x00), OV_R(0x315C, GAIN), OV_R(0x315D, 0x00), OV_B16(0x30B6, 0x0200)

const QOR_UINT8 config_rev2a[] = {OV2718_CONFIG(0x08, 2200, 1125, 0x02), OV_END};
const QOR_UINT8 config_rev2a_HDR[] = {OV2718_CONFIG(0x01, 3550, 1126, 0x01), OV_END};
// Revision 1B has no stream-on in its mode tables: its configurations end with it.
const QOR_UINT8 config_rev1b[] = {OV2718_CONFIG(0x08, 2200, 1125, 0x02), OV_R(0x3012, 0x01), OV_END};
const QOR_UINT8 config_rev1b_HDR[] = {OV2718_CONFIG(0x01, 2200, 1136, 0x01), OV_R(0x3012, 0x01), OV_END};

// Modes: offsets (0x30A9 bit 0 the OTP offset of the unmirrored image), output size, orientation (0x30C0 bit 2:
// not mirrored, bit 3: flipped), the ISP setting 0x3252, a test pattern where there is one, then (revision 2A)
// stream on.
#define OV2718_MODE(W, H, EXTRA)                                                                                       \
    OV_B16(0x30A8, (1936 - (W)) / 2 + 1), OV_R(0x30AA, 0x00), OV_R(0x30AB, ((1096 - (H)) / 2) & 0xFF),                 \
        OV_B16(0x30AC, W), OV_B16(0x30AE, H), OV_R(0x30C0, 0x04), OV_R(0x3252, 0x00), EXTRA
#define OV_STREAM OV_R(0x3012, 0x01)
#define OV_DIG OV_R(0x3253, 0x80)
#define OV_ANA OV_R(0x303A, 0x20)

const QOR_UINT8 mode1080p_rev2a[] = {OV2718_MODE(1920, 1080, OV_STREAM), OV_END};
const QOR_UINT8 mode720p_rev2a[] = {OV2718_MODE(1280, 720, OV_STREAM), OV_END};
const QOR_UINT8 modeTestDig_rev2a[] = {OV2718_MODE(1936, 1096, OV_DIG), OV_STREAM, OV_END};
const QOR_UINT8 modeTestAna_rev2a[] = {OV2718_MODE(1936, 1096, OV_ANA), OV_STREAM, OV_END};
const QOR_UINT8 mode1080p_rev1b[] = {OV2718_MODE(1920, 1080, OV_R(0x3253, 0x00)), OV_END};
const QOR_UINT8 mode720p_rev1b[] = {OV2718_MODE(1280, 720, OV_R(0x3253, 0x00)), OV_END};
const QOR_UINT8 modeTestDig_rev1b[] = {OV2718_MODE(1936, 1096, OV_DIG), OV_END};
const QOR_UINT8 modeTestAna_rev1b[] = {OV2718_MODE(1936, 1096, OV_ANA), OV_END};

const QOR_UINT8 disableRegs[] = {OV_R(0x3012, 0x00), 0xFE, 200, 0x00};

sensor_mode ov2718_configs_rev2a[] = {{3, config_rev2a, 0, 3, kTableClock, 0, 0},
                                      {3, config_rev2a_HDR, 0, 3, kTableClock, 0, 0}};
sensor_mode ov2718_configs_rev1b[] = {{3, config_rev1b, 0, 3, kTableClock, 0, 0},
                                      {3, config_rev1b_HDR, 0, 3, kTableClock, 0, 0}};
// Index = mode + 4 x configuration; the HDR modes of both revisions use the revision-2A tables.
sensor_mode ov2718_modes_rev2a[] = {
    {3, mode1080p_rev2a, 0, 3, kTableClock, kPhyCode2A, 0},   {3, mode720p_rev2a, 0, 3, kTableClock, kPhyCode2A, 0},
    {0, modeTestDig_rev2a, 0, 3, kTableClock, kPhyCode2A, 0}, {0, modeTestAna_rev2a, 0, 3, kTableClock, kPhyCode2A, 0},
    {3, mode1080p_rev2a, 0, 3, kTableClock, kPhyCode2A, 0},   {3, mode720p_rev2a, 0, 3, kTableClock, kPhyCode2A, 0},
};
sensor_mode ov2718_modes_rev1b[] = {
    {3, mode1080p_rev1b, 0, 3, kTableClock, kPhyCode1B, 0},   {3, mode720p_rev1b, 0, 3, kTableClock, kPhyCode1B, 0},
    {0, modeTestDig_rev1b, 0, 3, kTableClock, kPhyCode1B, 0}, {0, modeTestAna_rev1b, 0, 3, kTableClock, kPhyCode1B, 0},
    {3, mode1080p_rev2a, 0, 3, kTableClock, kPhyCode1B, 0},   {3, mode720p_rev2a, 0, 3, kTableClock, kPhyCode1B, 0},
};
const QOR_UINT8 ov2718_config_num_modes[] = {4, 2};

bool clockSupported(QOR_UINT32 refClock) {
    const double mhz = refClock / 1000000.0;
    return mhz >= kMinClockMHz && mhz <= kMaxClockMHz;
}

} // namespace

extern "C" {

const char *OV2718_SENSOR_INFO_NAME(sensor_num num) {
    if (num == SENSOR_MIRAVO_OV2718_0)
        return "OV2718_0";
    if (num == SENSOR_MIRAVO_OV2718_1)
        return "OV2718_1";
    return nullptr;
}

QOR_RESULT OV2718_GetConfInfo(CAM_STRUCT *psCam, QOR_UINT16 nMode, SENSOR_MODE *info) {
    unsigned n = 0;
    const QOR_UINT8 *regs =
        SensorModeGetRegisters(psCam->pConfigs, psCam->uiConfigsSize, SENSOR_MODE_CONFIG(nMode), &n);
    if (regs == nullptr)
        return QOR_RES_NOT_SUPPORTED;
    QOR_UINT8 lanesMask = 0, modeBits = 0, prediv = 0, postdiv = 0;
    FindRegister(regs, n, 0x31FE, &lanesMask);
    FindRegister(regs, n, 0x3190, &modeBits);
    const bool havePre = FindRegister(regs, n, 0x3000, &prediv);
    const bool havePost = FindRegister(regs, n, 0x3002, &postdiv);
    const unsigned hts = FindRegister16(regs, n, 0x30B0);
    const unsigned vts = FindRegister16(regs, n, 0x30B2);
    double sclk = kFallbackSclk;
    if (havePre && havePost && psCam->refClock <= 2399999999u && psCam->refClock >= 1000000u) {
        const double multiplier = std::floor(2400.0 / (psCam->refClock / 1000000.0));
        sclk = multiplier * psCam->refClock / pll_prediv_val[prediv & 7] / (postdiv + 1.0);
    } else {
        QOR_LOG_WARNING(kTag, "Did not find all PLL registers - assumes sclk of %ld MHz\n", 120L);
    }
    unsigned lanes = 0;
    for (unsigned b = 0; b < 4; b++)
        lanes += (lanesMask >> b) & 1u;
    if ((modeBits & 0x08) != 0) {
        info->eHDRMode = HDR_NONE;
    } else if ((modeBits & 0x03) == 1) {
        info->eHDRMode = HDR_STAGGERED;
        info->bLongExpFirst = QOR_TRUE;
    } else {
        QOR_LOG_ERROR(kTag, "HDR mode %u not supported\n", modeBits & 0x03u);
        return QOR_RES_NOT_SUPPORTED;
    }
    psCam->sclk = sclk;
    psCam->num_lanes = lanes;
    info->ui8SupportFlipping = SENSOR_FLIP_BOTH;
    info->ui16HorizontalTotal = static_cast<QOR_UINT16>(hts);
    info->ui16VerticalTotal = static_cast<QOR_UINT16>(vts);
    info->flTrow = hts / sclk * 1000000.0;
    info->ui32ExposureMin = static_cast<QOR_UINT32>(std::ceil(info->flTrow));
    info->ui32ExposureMax = vts > 2 ? static_cast<QOR_UINT32>(std::floor((vts - 2) * info->flTrow)) : 0;
    info->flFrameRate = hts != 0 && vts != 0 ? sclk / (static_cast<double>(hts) * vts) : 0.0;
    info->ui8BitDepth = (modeBits & 0x20) != 0 ? 10 : 12;
    info->ui8MipiLanes = static_cast<QOR_UINT8>(lanes);
    info->flPixelRate = sclk;
    return QOR_RES_OK;
}

QOR_RESULT OV2718_GetModeInfo(CAM_STRUCT *psCam, QOR_UINT16 nMode, SENSOR_MODE *info) {
    const unsigned index = SENSOR_MODE_INDEX(nMode) + 4u * SENSOR_MODE_CONFIG(nMode);
    unsigned n = 0;
    const QOR_UINT8 *regs = SensorModeGetRegisters(psCam->pModes, psCam->uiModesSize, index, &n);
    if (regs == nullptr)
        return QOR_RES_NOT_SUPPORTED;
    info->ui16Width = static_cast<QOR_UINT16>(FindRegister16(regs, n, 0x30AC));
    info->ui16Height = static_cast<QOR_UINT16>(FindRegister16(regs, n, 0x30AE));
    info->ui8MipiHsFreqRange = psCam->pModes[index].hsFreqRange;
    info->bValidFrequency = clockSupported(psCam->refClock) ? QOR_TRUE : QOR_FALSE;
    return QOR_RES_OK;
}

void OV2718_ApplyConfig(CAM_STRUCT *psCam) {
    if (psCam->currConfReg == nullptr) {
        QOR_LOG_ERROR(kTag, "current register config not available!\n");
        return;
    }
    if (!clockSupported(psCam->refClock)) {
        QOR_LOG_ERROR(kTag, "Reference clock frequency %f MHz not supported!\n", psCam->refClock / 1000000.0);
        return;
    }
    const double mhz = psCam->refClock / 1000000.0;
    const QOR_UINT8 multiplier = static_cast<QOR_UINT8>(std::floor(2400.0 / mhz));
    const QOR_UINT8 divider = static_cast<QOR_UINT8>(std::floor(1800.0 / mhz) - 2);
    WriteTable(psCam, psCam->currConfReg, psCam->nConfRegisters, [multiplier, divider](QOR_UINT8 *e) {
        const QOR_UINT16 reg = entryRegister(e, 2);
        if (reg == 0x3001)
            e[2] = multiplier;
        else if (reg == 0x3005)
            e[2] = divider;
    });
    // The configuration's own exposure and gain are what the sensor starts with.
    const QOR_UINT8 *regs = psCam->currConfReg;
    const unsigned n = psCam->nConfRegisters;
    QOR_UINT8 gain = 0, lines = 0;
    if (FindRegister(regs, n, 0x315A, &gain))
        psCam->flGain[0] = gain;
    else
        QOR_LOG_WARNING(kTag, "Did not find gainIndex in registers for mode %d\n", psCam->ui16CurrentMode);
    if (FindRegister(regs, n, 0x30B6, &lines))
        psCam->ui32Exposure[0] = psCam->currMode.ui32ExposureMin * FindRegister16(regs, n, 0x30B6);
    else
        QOR_LOG_WARNING(kTag, "Did not find exposureIndex in registers for mode %d\n", psCam->ui16CurrentMode);
}

void OV2718_ApplyMode(CAM_STRUCT *psCam) {
    if (psCam->currModeReg == nullptr) {
        QOR_LOG_ERROR(kTag, "current register modes not available!\n");
        return;
    }
    const unsigned n = psCam->nModeRegisters;
    QOR_UINT8 v = 0;
    if (!FindRegister(psCam->currModeReg, n, 0x30C0, &v))
        QOR_LOG_WARNING(kTag, "Did not find flipIndex0 in registers for mode %d\n", psCam->ui16CurrentMode);
    if (!FindRegister(psCam->currModeReg, n, 0x30A9, &v))
        QOR_LOG_WARNING(kTag, "Did not find otp hoffset index in registers for mode %d\n", psCam->ui16CurrentMode);
    if (!FindRegister(psCam->currModeReg, n, 0x3252, &v))
        QOR_LOG_WARNING(kTag, "Did not find isp setting index in registers for mode %d\n", psCam->ui16CurrentMode);
    // Each flip is set and unset from the table's value: a mode selected without a flip after one with it gets
    // the unflipped orientation back.
    const bool vertical = (psCam->ui8CurrentFlipping & SENSOR_FLIP_VERTICAL) != 0;
    const bool horizontal = (psCam->ui8CurrentFlipping & SENSOR_FLIP_HORIZONTAL) != 0;
    WriteTable(psCam, psCam->currModeReg, n, [vertical, horizontal](QOR_UINT8 *e) {
        const QOR_UINT16 reg = entryRegister(e, 2);
        if (reg == 0x30C0) {
            e[2] = static_cast<QOR_UINT8>(vertical ? e[2] | 0x08 : e[2] & ~0x08);
            e[2] = static_cast<QOR_UINT8>(horizontal ? e[2] & ~0x04 : e[2] | 0x04);
        } else if (reg == 0x30A9 && horizontal) {
            e[2] = static_cast<QOR_UINT8>(e[2] & ~0x01);
        } else if (reg == 0x3252 && horizontal) {
            e[2] = static_cast<QOR_UINT8>(e[2] | 0xFE);
        }
    });
}

void OV2718_ComputeExposureGain(CAM_STRUCT *psCam, QOR_UINT8 ui8Context, double flGain, QOR_UINT8 *regs) {
    long g = std::lround(flGain * 256.0);
    if (g < 0)
        g = 0;
    if (g > 0xFFFF)
        g = 0xFFFF;
    const unsigned l = SaturatedLines(psCam, ui8Context, 0xFFFF); // 16 bits of exposure lines
    regs[2] = static_cast<QOR_UINT8>(g >> 8);
    regs[3 + 2] = static_cast<QOR_UINT8>(g & 0xFF);
    regs[6 + 2] = static_cast<QOR_UINT8>(g >> 8);
    regs[9 + 2] = static_cast<QOR_UINT8>(g & 0xFF);
    regs[12 + 2] = static_cast<QOR_UINT8>(l >> 8);
    regs[15 + 2] = static_cast<QOR_UINT8>(l & 0xFF);
}

QOR_RESULT OV2718_SetExposureGain(SENSOR_HANDLE hHandle, QOR_UINT32 ui32Exposure, double flGain, QOR_UINT8 ui8Context) {
    QOR_UINT8 regs[] = {OV_R(0x315A, 0), OV_R(0x315B, 0), OV_R(0x315C, 0),
                        OV_R(0x315D, 0), OV_R(0x30B6, 0), OV_R(0x30B7, 0)};
    static_assert(sizeof(regs) == 18, "six entries");
    return SensorFuncSetExposureGain(hHandle, ui32Exposure, flGain, ui8Context, regs, sizeof regs, 0);
}

QOR_RESULT OV2718_Disable(SENSOR_HANDLE hHandle) { return SensorFuncDisable(hHandle, disableRegs, sizeof disableRegs); }

QOR_RESULT OV2718_GetInfo(SENSOR_HANDLE hHandle, SENSOR_INFO *psInfo) {
    static const InfoFacts kInfo = {
        {OV2718_SENSOR_INFO_NAME, nullptr},
        false,
        {0x300A, nullptr, false},
        {1.2, 2.8, true, 30, 6040, 5.0},
        true,
        2,
        ov2718_config_num_modes,
    };
    return FillInfo(__func__, __LINE__, kTag, kInfo, hHandle, psInfo);
}

QOR_RESULT OV2718_Create(SENSOR_HANDLE *phHandle, sensor_num nSensor) {
    const DriverSetup d = {"OV2718",
                           0x36,
                           2,
                           0x300A,
                           0x2770,
                           ov2718_configs_rev2a,
                           2,
                           ov2718_modes_rev2a,
                           static_cast<QOR_UINT16>(sizeof ov2718_modes_rev2a / sizeof ov2718_modes_rev2a[0]),
                           ov2718_config_num_modes,
                           2,
                           0.5,
                           16.0,
                           0.5};
    CAM_STRUCT *psCam = NewCam(d, nSensor, static_cast<QOR_UINT8>(GetImagerNum(nSensor)));
    if (psCam == nullptr)
        return QOR_RES_NO_MEMORY;
    psCam->sFuncs.Disable = OV2718_Disable;
    psCam->sFuncs.GetInfo = OV2718_GetInfo;
    psCam->sFuncs.SetExposureGain = OV2718_SetExposureGain;
    psCam->ApplyConfig = OV2718_ApplyConfig;
    psCam->ApplyMode = OV2718_ApplyMode;
    psCam->GetConfInfo = OV2718_GetConfInfo;
    psCam->GetModeInfo = OV2718_GetModeInfo;
    psCam->ComputeExposureGain = OV2718_ComputeExposureGain;
    const QOR_RESULT ret = FinishCreate(psCam, phHandle);
    if (ret != QOR_RES_OK)
        return ret;
    QOR_UINT8 subId = 0;
    if (sensor_i2c_read8(psCam->i2c_dev, 0x300D, &subId) != QOR_RES_OK) {
        QOR_LOG_ERROR(kTag, "Failed to read sensor subversion id\n");
        SensorFuncDestroy(*phHandle);
        *phHandle = nullptr;
        return QOR_RES_DEVICE_FAILED;
    }
    if (subId == kSubIdRev1B) {
        psCam->pConfigs = ov2718_configs_rev1b;
        psCam->pModes = ov2718_modes_rev1b;
    } else if (subId != kSubIdRev2A) {
        QOR_LOG_WARNING(kTag, "Unknown sensor revision (subID: 0x%x), assuming revision 2A\n", subId);
    }
    OV2718_GetModeInfo(psCam, 0, &psCam->currMode);
    return QOR_RES_OK;
}

QOR_RESULT OV2718_Create_0(SENSOR_HANDLE *phHandle) { return OV2718_Create(phHandle, SENSOR_MIRAVO_OV2718_0); }
QOR_RESULT OV2718_Create_1(SENSOR_HANDLE *phHandle) { return OV2718_Create(phHandle, SENSOR_MIRAVO_OV2718_1); }

} // extern "C"
