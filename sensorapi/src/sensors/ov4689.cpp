// The OV4689 driver: three configurations (2, 4 and 1 MIPI lanes), geometry and clocks read from its own
// register tables, PLL multipliers for the board clock, flipping patched into the mode tables, exposure and
// gain written in two register groups.
#include "sensors/ov4689.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "driver_common.h"
#include "norvacommon/userlog.h"
#include "sensors/sensor_drivers.h"

using namespace norva_drivers;

namespace {

constexpr const char *kTag = OV4689_LOG_TAG;
constexpr QOR_UINT8 kAddress = 0x36;
constexpr QOR_UINT16 kChipIdRegister = 0x300A;
constexpr QOR_UINT16 kChipId = 0x4688;
constexpr QOR_UINT32 kMinClock = 20000000;
constexpr QOR_UINT32 kMaxClock = 30000000;
constexpr QOR_UINT32 kTableClock = 27000000;
constexpr QOR_UINT32 kInitialExposure = 26878;
constexpr QOR_UINT32 kExposureLinesMax = 1048575;
/** The exposure registers carry 16 bits of whole lines (in sixteenths of a line). */
constexpr QOR_UINT32 kRegisterLinesMax = 0xFFFF;
constexpr QOR_UINT32 kApplyModeDelayUs = 100000;
constexpr QOR_UINT16 kFocusMin = 50;
constexpr QOR_UINT16 kFocusMax = 600;

#define OV_R(a, v) static_cast<QOR_UINT8>((a) >> 8), static_cast<QOR_UINT8>((a)&0xFF), static_cast<QOR_UINT8>(v)
#define OV_END 0xFF, 0xFF, 0xFF

// Configuration tables: software reset, PLLs, MIPI control and bit width, default exposure and gain, window and
// timing, black level and format, then the stream start and a group-0 bracket.
#define OV_CONFIG(MIPI_CTRL, BITS, PLL2_S)                                                                             \
    OV_R(0x0103, 0x01), OV_R(0x0300, 0x00), OV_R(0x0302, 0x2A), OV_R(0x0303, 0x00), OV_R(0x0304, 0x03),                \
        OV_R(0x030B, 0x00), OV_R(0x030D, 0x1E), OV_R(0x030E, 0x04), OV_R(0x030F, PLL2_S), OV_R(0x0311, 0x00),          \
        OV_R(0x0312, 0x01), OV_R(0x031E, 0x00), OV_R(0x3000, 0x20), OV_R(0x3002, 0x00), OV_R(0x3018, MIPI_CTRL),       \
        OV_R(0x3019, 0x0C), OV_R(0x3020, 0x93), OV_R(0x3021, 0x03), OV_R(0x3022, 0x01), OV_R(0x3031, BITS),            \
        OV_R(0x303F, 0x0C), OV_R(0x3305, 0xF1), OV_R(0x3307, 0x04), OV_R(0x3309, 0x29), OV_R(0x3500, 0x00),            \
        OV_R(0x3501, 0x60), OV_R(0x3502, 0x00), OV_R(0x3503, 0x04), OV_R(0x3507, 0x00), OV_R(0x3508, 0x00),            \
        OV_R(0x3509, 0x80), OV_R(0x350A, 0x00), OV_R(0x350B, 0x00), OV_R(0x350C, 0x00), OV_R(0x350D, 0x00),            \
        OV_R(0x350E, 0x00), OV_R(0x350F, 0x80), OV_R(0x3800, 0x00), OV_R(0x3801, 0x08), OV_R(0x3802, 0x00),            \
        OV_R(0x3803, 0x04), OV_R(0x3804, 0x0A), OV_R(0x3805, 0x97), OV_R(0x3806, 0x05), OV_R(0x3807, 0xFB),            \
        OV_R(0x3808, 0x0A), OV_R(0x3809, 0x80), OV_R(0x380A, 0x05), OV_R(0x380B, 0xF0), OV_R(0x380C, 0x0A),            \
        OV_R(0x380D, 0x10), OV_R(0x380E, 0x06), OV_R(0x380F, 0x12), OV_R(0x3810, 0x00), OV_R(0x3811, 0x08),            \
        OV_R(0x3812, 0x00), OV_R(0x3813, 0x04), OV_R(0x3814, 0x01), OV_R(0x3815, 0x01), OV_R(0x3819, 0x01),            \
        OV_R(0x3820, 0x00), OV_R(0x3821, 0x06), OV_R(0x3829, 0x00), OV_R(0x382A, 0x01), OV_R(0x3847, 0x00),            \
        OV_R(0x4000, 0xF0), OV_R(0x4001, 0x40), OV_R(0x4003, 0x14), OV_R(0x4300, 0xF8), OV_R(0x4503, 0x00),            \
        OV_R(0x4800, 0x04), OV_R(0x4837, 0x10), OV_R(0x5000, 0x89), OV_R(0x0100, 0x01), 0xFE, 0x02, 0x00,              \
        OV_R(0x3105, 0x11), OV_R(0x301A, 0xF1), OV_R(0x4805, 0x00), OV_R(0x301A, 0xF0), OV_R(0x3208, 0x00),            \
        OV_R(0x302A, 0x00), OV_R(0x3601, 0x00), OV_R(0x3638, 0x00), OV_R(0x3208, 0x10), OV_R(0x3208, 0xA0), OV_END

const QOR_UINT8 config2lanes[] = {OV_CONFIG(0x32, 0x0A, 0x01)};
const QOR_UINT8 config4lanes[] = {OV_CONFIG(0x72, 0x0A, 0x01)};
const QOR_UINT8 config1lanes[] = {OV_CONFIG(0x12, 0x08, 0x02)};

// Mode tables: default exposure, analogue settings, crop window, output size, line and frame totals,
// subsampling, flipping (not in the 1-lane modes), black-level windows, FIFO.
#define OV_B16(a, v) OV_R(a, ((v) >> 8) & 0xFF), OV_R((a) + 1, (v)&0xFF)
#define OV_MODE_HEAD(W, H, HTS, VTS, SUB)                                                                              \
    OV_R(0x3501, 0x40), OV_R(0x3632, 0x00), OV_R(0x376B, 0x20), OV_B16(0x3800, (2704 - (W)) / 2),                      \
        OV_B16(0x3802, (1536 - (H)) / 2), OV_B16(0x3804, 2704 - (2704 - (W)) / 2 - 1),                                 \
        OV_B16(0x3806, 1536 - (1536 - (H)) / 2 - 1), OV_B16(0x3808, W), OV_B16(0x380A, H), OV_B16(0x380C, HTS),        \
        OV_B16(0x380E, VTS), OV_B16(0x3810, 8), OV_B16(0x3812, 4), OV_R(0x3814, SUB), OV_R(0x382A, SUB),               \
        OV_R(0x3830, 0x04), OV_R(0x3836, 0x01)
#define OV_MODE_FLIP OV_R(0x3820, 0x00), OV_R(0x3821, 0x06)
#define OV_MODE_TAIL                                                                                                   \
    OV_R(0x4001, 0x40), OV_R(0x4020, 0x00), OV_R(0x4021, 0x10), OV_R(0x4022, 0x07), OV_R(0x4023, 0xCF),                \
        OV_R(0x4024, 0x09), OV_R(0x4025, 0x60), OV_R(0x4026, 0x09), OV_R(0x4027, 0x6F), OV_R(0x4502, 0x40),            \
        OV_R(0x4600, 0x00), OV_R(0x4601, 0x04), OV_END

const QOR_UINT8 modeFull_2[] = {OV_MODE_HEAD(2688, 1520, 2576, 1554, 0x11), OV_MODE_FLIP, OV_MODE_TAIL};
const QOR_UINT8 mode2016x1520_2[] = {OV_MODE_HEAD(2016, 1520, 2576, 1554, 0x11), OV_MODE_FLIP, OV_MODE_TAIL};
const QOR_UINT8 mode1080p_2[] = {OV_MODE_HEAD(1920, 1080, 2608, 1116, 0x11), OV_MODE_FLIP, OV_MODE_TAIL};
const QOR_UINT8 mode720p_2[] = {OV_MODE_HEAD(1344, 760, 2632, 797, 0x31), OV_MODE_FLIP, OV_MODE_TAIL};
const QOR_UINT8 modeFull_4[] = {OV_MODE_HEAD(2688, 1520, 1116, 1605, 0x11), OV_MODE_FLIP, OV_MODE_TAIL};
const QOR_UINT8 mode2016x1520_4Test[] = {OV_MODE_HEAD(2016, 1520, 860, 1554, 0x11), OV_MODE_FLIP, OV_R(0x5040, 0x80),
                                         OV_MODE_TAIL};
const QOR_UINT8 mode1080p_4[] = {OV_MODE_HEAD(1920, 1080, 816, 1116, 0x11), OV_MODE_FLIP, OV_MODE_TAIL};
const QOR_UINT8 mode720p_4[] = {OV_MODE_HEAD(1344, 760, 840, 797, 0x31), OV_MODE_FLIP, OV_MODE_TAIL};
const QOR_UINT8 mode1080p_1[] = {OV_MODE_HEAD(1920, 1080, 4300, 1116, 0x11), OV_MODE_TAIL};
const QOR_UINT8 mode720p_1[] = {OV_MODE_HEAD(1280, 720, 5312, 756, 0x31), OV_MODE_TAIL};

const QOR_UINT8 disableRegs[] = {OV_R(0x0100, 0x00), 0xFE, 200, 0x00, OV_R(0x301A, 0xF9), OV_R(0x4805, 0x03)};

sensor_mode ov4689_configs[] = {
    {3, config2lanes, 0, 3, 0, 0, 0},
    {3, config4lanes, 0, 3, 0, 0, 0},
    {3, config1lanes, 0, 3, 0, 0, 0},
};

sensor_mode ov4689_modes[] = {
    {3, modeFull_2, 0, 3, kTableClock, 0x02, 0},
    {3, mode2016x1520_2, 0, 3, kTableClock, 0x02, 0},
    {3, mode1080p_2, 0, 3, kTableClock, 0x02, 0},
    {3, mode720p_2, 0, 3, kTableClock, 0x02, 0},
    {3, modeFull_4, 0, 3, kTableClock, 0x0A, 0},
    {3, mode2016x1520_4Test, 0, 3, kTableClock, 0x0A, 0},
    {3, mode1080p_4, 0, 3, kTableClock, 0x0A, 0},
    {3, mode720p_4, 0, 3, kTableClock, 0x0A, 0},
    {3, mode1080p_1, 0, 3, kTableClock, 0x02, 0},
    {3, mode720p_1, 0, 3, kTableClock, 0x02, 0},
    {0, nullptr, 0, 3, 0, 0, 0},
    {0, nullptr, 0, 3, 0, 0, 0},
};

const QOR_UINT8 ov4689_config_num_modes[] = {4, 4, 2};
const QOR_UINT16 ov4689_config_pll2_vco_freq[] = {730, 730, 1120};
const QOR_UINT16 ov4689_config_pll1_vco_freq[] = {660, 960, 960};
const double pll_ctrl_b_val[] = {1.0, 1.5, 2.0, 2.5, 3.0, 4.0, 6.0, 8.0};
const double pll_ctrl_c_val[] = {1.0, 1.5, 2.0, 2.5, 3.0, 3.5, 4.0, 5.0};

/** Exposure registers (0x35xx low bytes, three per context) and gain registers (control, high, low). */
const QOR_UINT8 exposure_addr[SENSOR_MAX_CONTEXTS] = {0x00, 0x0A, 0x10, 0x16, 0x1C};
const QOR_UINT8 gain_addr[SENSOR_MAX_CONTEXTS] = {0x07, 0x0D, 0x13, 0x19, 0x1F};

/** aec_long_gain_val: the code of gain 1 + i/16, in four octaves of 16, 32, 64 and 128 entries. */
struct GainTable {
    QOR_UINT16 codes[240];
    constexpr GainTable() : codes() {
        for (int i = 0; i < 240; i++) {
            if (i < 16)
                codes[i] = static_cast<QOR_UINT16>(0x0080 + 8 * i);
            else if (i < 48)
                codes[i] = static_cast<QOR_UINT16>(0x0178 + 4 * (i - 16));
            else if (i < 112)
                codes[i] = static_cast<QOR_UINT16>(0x0374 + 2 * (i - 48));
            else
                codes[i] = static_cast<QOR_UINT16>(0x0778 + (i - 112));
        }
    }
};
constexpr GainTable aec_long_gain_val;

} // namespace

extern "C" {

const char *OV4689_SENSOR_INFO_NAME(sensor_num num) {
    if (num == SENSOR_MIRAVO_OV4689_0)
        return "OV4689_0";
    if (num == SENSOR_MIRAVO_OV4689_1)
        return "OV4689_1";
    return nullptr;
}

QOR_UINT16 OV4689_GainCode(double flGain) {
    if (!(flGain > 1.0))
        return 0x0080;
    long index = std::lround((flGain - 1.0) * 16.0);
    if (index > 239)
        index = 239;
    return aec_long_gain_val.codes[index];
}

QOR_RESULT OV4689_GetConfInfo(CAM_STRUCT *psCam, QOR_UINT16 nMode, SENSOR_MODE *info) {
    const unsigned c = SENSOR_MODE_CONFIG(nMode);
    unsigned n = 0;
    const QOR_UINT8 *regs = SensorModeGetRegisters(psCam->pConfigs, psCam->uiConfigsSize, c, &n);
    if (regs == nullptr)
        return QOR_RES_NOT_SUPPORTED;
    unsigned bitDepth = 0, lanes = 1;
    double p = 0, d = 0, s = 0, t = 0;
    for (unsigned i = 0; i < n; i++) {
        const QOR_UINT8 *e = regs + 3 * i;
        const QOR_UINT8 v = e[2];
        switch (entryRegister(e, 2)) {
        case 0x3031:
            bitDepth = v & 0x1F;
            break;
        case 0x3018:
            lanes = ((v >> 5) & 3) + 1;
            break;
        case 0x0311:
            p = v + 1;
            break;
        case 0x030B:
            d = pll_ctrl_b_val[v & 7];
            break;
        case 0x030F:
            s = v + 1;
            break;
        case 0x030E:
            t = pll_ctrl_c_val[v & 7];
            break;
        default:
            break;
        }
    }
    const unsigned m = psCam->refClock / 1000000u;
    const unsigned vco = ov4689_config_pll2_vco_freq[c];
    if (p != 0 && d != 0 && s != 0 && t != 0 && m != 0 && vco >= m) {
        psCam->sclk = psCam->refClock / p / d * static_cast<double>(vco / m) / s / t;
    } else {
        psCam->sclk = 120000000.0;
        QOR_LOG_WARNING(kTag, "Did not find all PLL registers - assumes sclk of %.2lf MHz\n", psCam->sclk / 1e6);
    }
    info->ui8MipiLanes = static_cast<QOR_UINT8>(lanes);
    info->flPixelRate = lanes * psCam->sclk / 1000000.0;
    info->ui8BitDepth = static_cast<QOR_UINT8>(bitDepth);
    psCam->num_lanes = lanes;
    return QOR_RES_OK;
}

QOR_RESULT OV4689_GetModeInfo(CAM_STRUCT *psCam, QOR_UINT16 nMode, SENSOR_MODE *info) {
    const unsigned index = SENSOR_MODE_INDEX(nMode) + 4u * SENSOR_MODE_CONFIG(nMode);
    unsigned n = 0;
    const QOR_UINT8 *regs = SensorModeGetRegisters(psCam->pModes, psCam->uiModesSize, index, &n);
    if (regs == nullptr)
        return QOR_RES_NOT_SUPPORTED;
    QOR_UINT8 r[16] = {}; // 0x3800 to 0x380F
    for (unsigned i = 0; i < n; i++) {
        const QOR_UINT8 *e = regs + 3 * i;
        if (e[0] == 0x38 && e[1] >= 0x08 && e[1] <= 0x0F)
            r[e[1]] = e[2];
    }
    const unsigned width = (r[0x08] << 8) | r[0x09];
    const unsigned height = (r[0x0A] << 8) | r[0x0B];
    const unsigned hts = (r[0x0C] << 8) | r[0x0D];
    const unsigned vts = (r[0x0E] << 8) | r[0x0F];
    info->ui16Width = static_cast<QOR_UINT16>(width);
    info->ui16Height = static_cast<QOR_UINT16>(height);
    info->ui16HorizontalTotal = static_cast<QOR_UINT16>(hts);
    info->ui16VerticalTotal = static_cast<QOR_UINT16>(vts);
    info->ui8SupportFlipping = SENSOR_FLIP_BOTH;
    const double sclk = psCam->sclk;
    info->flTrow = sclk > 0 ? hts / sclk * 1000.0 * 1000.0 : 0.0;
    const QOR_UINT32 pixels = static_cast<QOR_UINT32>(hts * vts);
    info->flFrameRate = pixels != 0 ? sclk / pixels : 0.0;
    info->ui32ExposureMin = static_cast<QOR_UINT32>(std::ceil(info->flTrow));
    info->ui32ExposureMax = info->ui32ExposureMin * kExposureLinesMax;
    info->ui8MipiHsFreqRange = psCam->pModes[index].hsFreqRange;
    if (psCam->refClock >= kMinClock && psCam->refClock <= kMaxClock)
        info->bValidFrequency = QOR_TRUE;
    return QOR_RES_OK;
}

void OV4689_ApplyConfig(CAM_STRUCT *psCam) {
    if (psCam->currConfReg == nullptr) {
        QOR_LOG_ERROR(kTag, "current register config not available!\n");
        return;
    }
    if (psCam->refClock < kMinClock || psCam->refClock > kMaxClock) {
        QOR_LOG_ERROR(kTag, "Reference clock frequency %f MHz not supported!\n", psCam->refClock / 1e6);
        return;
    }
    const unsigned m = psCam->refClock / 1000000u;
    const unsigned c = psCam->currConfig;
    bool gainSeen = false, exposureSeen = false;
    for (QOR_UINT32 i = 0; i < psCam->nConfRegisters; i++) {
        QOR_UINT8 entry[3];
        std::memcpy(entry, psCam->currConfReg + 3 * i, 3);
        const QOR_UINT16 reg = entryRegister(entry, 2);
        if (reg == 0x0302)
            entry[2] = static_cast<QOR_UINT8>(ov4689_config_pll1_vco_freq[c] / m);
        else if (reg == 0x030D)
            entry[2] = static_cast<QOR_UINT8>(ov4689_config_pll2_vco_freq[c] / m);
        gainSeen |= reg == 0x3507;
        exposureSeen |= reg == 0x3500;
        if (CamWrite(psCam, entry, 3) != QOR_RES_OK)
            return; // the sensor did not take its configuration: the rest would be written to nothing
    }
    if (!gainSeen)
        QOR_LOG_WARNING(kTag, "Did not find gainIndex in registers for mode %d\n", psCam->ui16CurrentMode);
    if (!exposureSeen)
        QOR_LOG_WARNING(kTag, "Did not find exposureIndex in registers for mode %d\n", psCam->ui16CurrentMode);
}

void OV4689_ApplyMode(CAM_STRUCT *psCam) {
    if (psCam->currModeReg == nullptr) {
        QOR_LOG_ERROR(kTag, "current register modes not available!\n");
        return;
    }
    bool flip0 = false, flip1 = false;
    for (QOR_UINT32 i = 0; i < psCam->nModeRegisters; i++) {
        QOR_UINT8 entry[3];
        std::memcpy(entry, psCam->currModeReg + 3 * i, 3);
        const QOR_UINT16 reg = entryRegister(entry, 2);
        if (reg == 0x3820) {
            entry[2] = (psCam->ui8CurrentFlipping & SENSOR_FLIP_VERTICAL) ? 0x06 : 0x00;
            flip0 = true;
        } else if (reg == 0x3821) {
            entry[2] = (psCam->ui8CurrentFlipping & SENSOR_FLIP_HORIZONTAL) ? 0x00 : 0x06;
            flip1 = true;
        }
        if (CamWrite(psCam, entry, 3) != QOR_RES_OK)
            return;
    }
    psCam->ui32Exposure[0] = CamInitialExposure(&psCam->currMode);
    if (!flip0)
        QOR_LOG_WARNING(kTag, "Did not find flipIndex0 in registers for mode %d\n", psCam->ui16CurrentMode);
    if (!flip1)
        QOR_LOG_WARNING(kTag, "Did not find flipIndex1 in registers for mode %d\n", psCam->ui16CurrentMode);
    SEAM_Usleep(kApplyModeDelayUs);
}

void OV4689_ComputeExposureGain(CAM_STRUCT *psCam, QOR_UINT8 ui8Context, double flGain, QOR_UINT8 *regs) {
    const QOR_UINT32 l = SaturatedLines(psCam, ui8Context, kRegisterLinesMax);
    const QOR_UINT16 code = OV4689_GainCode(flGain);
    // Layout of the buffer from the hook's part on: see OV4689_SetExposureGain.
    regs[3 * 1 + 2] = 0x00;
    regs[3 * 2 + 2] = static_cast<QOR_UINT8>(code >> 8);
    regs[3 * 3 + 2] = static_cast<QOR_UINT8>(code & 0xFF);
    regs[3 * 8 + 2] = static_cast<QOR_UINT8>((l >> 12) & 0x0F);
    regs[3 * 9 + 2] = static_cast<QOR_UINT8>((l >> 4) & 0xFF);
    regs[3 * 10 + 2] = static_cast<QOR_UINT8>((l & 0x0F) << 4);
}

QOR_RESULT OV4689_SetExposureGain(SENSOR_HANDLE hHandle, QOR_UINT32 ui32Exposure, double flGain, QOR_UINT8 ui8Context) {
    CAM_STRUCT *psCam = camOf(hHandle);
    if (ui8Context >= SENSOR_MAX_CONTEXTS)
        return QOR_RES_NOT_SUPPORTED;
    if (ui8Context > psCam->hdrFrameNum)
        psCam->hdrFrameNum = ui8Context;
    const QOR_UINT16 e = static_cast<QOR_UINT16>(0x3500 | exposure_addr[ui8Context]);
    const QOR_UINT16 g = static_cast<QOR_UINT16>(0x3500 | gain_addr[ui8Context]);
    const QOR_UINT8 hdr = psCam->hdrFrameNum != 0 ? static_cast<QOR_UINT8>(0x08 | (psCam->hdrFrameNum & 7)) : 0x08;
    QOR_UINT8 regs[] = {OV_R(0x3208, 0x01), OV_R(g, 0),         OV_R(g + 1, 0),     OV_R(g + 2, 0),
                        OV_R(0x3208, 0x11), OV_R(0x320B, 0x00), OV_R(0x3208, 0xE1), OV_R(0x3208, 0x02),
                        OV_R(e, 0),         OV_R(e + 1, 0),     OV_R(e + 2, 0),     OV_R(0x3846, hdr),
                        OV_R(0x3208, 0x12), OV_R(0x320B, 0x00), OV_R(0x3208, 0xE2)};
    static_assert(sizeof(regs) == 45, "fifteen entries");
    return SensorFuncSetExposureGain(hHandle, ui32Exposure, flGain, ui8Context, regs, sizeof regs, 0);
}

QOR_RESULT OV4689_Disable(SENSOR_HANDLE hHandle) { return SensorFuncDisable(hHandle, disableRegs, sizeof disableRegs); }

QOR_RESULT OV4689_GetInfo(SENSOR_HANDLE hHandle, SENSOR_INFO *psInfo) {
    static const InfoFacts kInfo = {
        {OV4689_SENSOR_INFO_NAME, nullptr},
        false,
        {kChipIdRegister, nullptr, false},
        {1.2, 2.0, true, 30, 6040, 5.0},
        true,
        3,
        ov4689_config_num_modes,
    };
    return FillInfo(__func__, __LINE__, kTag, kInfo, hHandle, psInfo);
}

QOR_RESULT OV4689_GetFocusRange(SENSOR_HANDLE /*hHandle*/, QOR_UINT16 *pui16Min, QOR_UINT16 *pui16Max) {
    *pui16Min = kFocusMin;
    *pui16Max = kFocusMax;
    return QOR_RES_OK;
}

QOR_RESULT OV4689_GetCurrentFocus(SENSOR_HANDLE hHandle, QOR_UINT16 *pui16Current) {
    CAM_STRUCT *psCam = camOf(hHandle);
    if (psCam->psSensorPhy == nullptr) {
        QOR_LOG_ERROR(kTag, "sensor not initialised\n");
        return QOR_RES_NOT_INITIALISED;
    }
    *pui16Current = psCam->ui16CurrentFocus;
    return QOR_RES_OK;
}

QOR_RESULT OV4689_SetFocus(SENSOR_HANDLE /*hHandle*/, QOR_UINT16 /*ui16Focus*/) { return QOR_RES_OK; }

QOR_RESULT OV4689_Create(SENSOR_HANDLE *phHandle, sensor_num nSensor) {
    const DriverSetup d = {"OV4689",
                           kAddress,
                           2,
                           kChipIdRegister,
                           kChipId,
                           ov4689_configs,
                           static_cast<QOR_UINT8>(sizeof ov4689_configs / sizeof ov4689_configs[0]),
                           ov4689_modes,
                           static_cast<QOR_UINT16>(sizeof ov4689_modes / sizeof ov4689_modes[0]),
                           ov4689_config_num_modes,
                           static_cast<QOR_UINT8>(sizeof ov4689_config_num_modes),
                           1.0,
                           16.0,
                           1.0};
    CAM_STRUCT *psCam = NewCam(d, nSensor, static_cast<QOR_UINT8>(GetImagerNum(nSensor)));
    if (psCam == nullptr)
        return QOR_RES_NO_MEMORY;
    SENSOR_FUNCS &f = psCam->sFuncs;
    f.Disable = OV4689_Disable;
    f.GetInfo = OV4689_GetInfo;
    f.SetExposureGain = OV4689_SetExposureGain;
    f.GetFocusRange = OV4689_GetFocusRange;
    f.GetCurrentFocus = OV4689_GetCurrentFocus;
    f.SetFocus = OV4689_SetFocus;
    psCam->ApplyConfig = OV4689_ApplyConfig;
    psCam->ApplyMode = OV4689_ApplyMode;
    psCam->GetConfInfo = OV4689_GetConfInfo;
    psCam->GetModeInfo = OV4689_GetModeInfo;
    psCam->ComputeExposureGain = OV4689_ComputeExposureGain;
    for (int c = 0; c < SENSOR_MAX_CONTEXTS; c++) {
        psCam->ui32Exposure[c] = kInitialExposure;
        psCam->flGain[c] = 1.0;
    }
    psCam->focus_dac_min = kFocusMin;
    return FinishCreate(psCam, phHandle);
}

QOR_RESULT OV4689_Create_0(SENSOR_HANDLE *phHandle) { return OV4689_Create(phHandle, SENSOR_MIRAVO_OV4689_0); }
QOR_RESULT OV4689_Create_1(SENSOR_HANDLE *phHandle) { return OV4689_Create(phHandle, SENSOR_MIRAVO_OV4689_1); }

} // extern "C"
