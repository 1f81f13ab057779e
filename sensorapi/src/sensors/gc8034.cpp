// The GC8034 driver: 1-byte register addresses with the page register 0xFE tracked by every scan and rewrite, a
// 4-lane and a 2-lane configuration that carry the timing, exposure in lines with an odd line count compensated by
// the digital gain, nine analogue gain levels with their settings, and a lens actuator at I2C address 0x0C.
#include "sensors/gc8034.h"

#include <cmath>

#include "driver_common.h"
#include "sensors/sensor_drivers.h"

using namespace norva_drivers;

namespace {

constexpr const char *kTag = GC8034_LOG_TAG;
constexpr QOR_UINT32 kTableClock = 24000000;
constexpr QOR_UINT8 kPage = 0xFE;
constexpr QOR_UINT8 kPhyCode = 0x18;
constexpr double kPixelRate = 80.0;
constexpr QOR_UINT16 kFocusMin = 20, kFocusMax = 3000;
constexpr QOR_UINT8 kLensAddress = 0x0C;
constexpr unsigned long kI2cSlave = 0x0703ul;

#define GC_END 0xFF, 0xFF

// Configurations: clocks and PLL (0xF7 sets the lanes), frame timing on page 0 (line blanking 0x05/0x06, vertical
// blanking 0x07/0x08, window height 0x0D/0x0E and width 0x0F/0x10), orientation 0x17, gain at level 0, the MIPI
// set-up on page 3 (data type 0x2B: 10-bit raw), then streaming off.
#define GC8034_CONFIG(PLL, LANES)                                                                                      \
    0xF2, 0x00, 0xF4, 0x80, 0xF5, 0x19, 0xF6, 0x44, 0xF7, PLL, 0xF8, 0x63, 0xF9, 0x40, 0xFC, 0x8E, kPage, 0x00, 0x05,  \
        0x02, 0x06, 0x16, 0x07, 0x00, 0x08, 0x10, 0x09, 0x00, 0x0A, 0x00, 0x0B, 0x00, 0x0C, 0x00, 0x0D, 0x09, 0x0E,    \
        0xA0, 0x0F, 0x0C, 0x10, 0xD4, 0x17, 0xC0, 0x18, 0x02, 0x20, 0x55, 0x33, 0x83, 0xB6, 0x00, 0xB1, 0x01, 0xB2,    \
        0x00, kPage, 0x01, 0xDF, 0x06, 0xE7, 0x18, kPage, 0x03, 0x01, (LANES) == 4 ? 0x07 : 0x03, 0x02, 0x33, 0x03,    \
        0x13, 0x04, 0x80, 0x11, 0x2B, 0x12, 0xF8, 0x13, 0x07, 0x15, 0x00, 0x17, 0x08, kPage, 0x00, 0x3F, 0x00, GC_END

const QOR_UINT8 config_4lanes[] = {GC8034_CONFIG(0x9D, 4)};
const QOR_UINT8 config_2lanes[] = {GC8034_CONFIG(0x95, 2)};

// Modes: the clocks again (0xF7 as in the configuration of the same lanes), the output window on page 0 (height
// 0x95/0x96, width 0x97/0x98), MIPI timing on page 3, then streaming on (0x3F bit 6: 4 lanes).
#define GC8034_MODE(W, H, PLL, STREAM)                                                                                 \
    0xF7, PLL, 0xFC, 0x8E, kPage, 0x00, 0x90, 0x01, 0x91, 0x00, 0x92, 0x00, 0x93, 0x00, 0x94, 0x00, 0x95,              \
        ((H) >> 8) & 0x0F, 0x96, (H)&0xFF, 0x97, ((W) >> 8) & 0x0F, 0x98, (W)&0xFF, kPage, 0x03, 0x21, 0x08, 0x22,     \
        0x05, 0x23, 0x10, 0x29, 0x05, kPage, 0x00, 0x3F, STREAM, GC_END

const QOR_UINT8 mode_3264x2448[] = {GC8034_MODE(3264, 2448, 0x9D, 0xD0)};
const QOR_UINT8 mode_1632x1224[] = {GC8034_MODE(1632, 1224, 0x95, 0x91)};

const QOR_UINT8 disableRegs[] = {kPage, 0x00, 0x3F, 0x00};

sensor_mode gc8034_configs[] = {{3, config_4lanes, 0, 2, 0, 0, 0}, {3, config_2lanes, 0, 2, 0, 0, 0}};
// Index = mode + 4 x configuration.
sensor_mode gc8034_modes[] = {
    {3, mode_3264x2448, 0, 2, kTableClock, kPhyCode, 0},
    {3, nullptr, 0, 2, 0, 0, 0},
    {3, nullptr, 0, 2, 0, 0, 0},
    {3, nullptr, 0, 2, 0, 0, 0},
    {3, mode_1632x1224, 0, 2, kTableClock, kPhyCode, 0},
};
const QOR_UINT8 gc8034_config_num_modes[] = {1, 1};

/** Per analogue level: page 0, 0x20, 0x33, page 1, 0xDF, 0xE7-0xEE, page 0. */
const QOR_UINT8 agcRegs[9][14] = {
    {0x00, 0x55, 0x83, 0x01, 0x06, 0x18, 0x20, 0x16, 0x17, 0x50, 0x6C, 0x9B, 0xD8, 0x00},
    {0x00, 0x55, 0x83, 0x01, 0x06, 0x18, 0x20, 0x16, 0x17, 0x50, 0x6C, 0x9B, 0xD8, 0x00},
    {0x00, 0x4E, 0x84, 0x01, 0x0C, 0x2E, 0x2D, 0x15, 0x19, 0x47, 0x70, 0x9F, 0xD8, 0x00},
    {0x00, 0x51, 0x80, 0x01, 0x07, 0x28, 0x32, 0x22, 0x20, 0x49, 0x70, 0x91, 0xD9, 0x00},
    {0x00, 0x4D, 0x83, 0x01, 0x0F, 0x3B, 0x3B, 0x1C, 0x1F, 0x47, 0x6F, 0x9B, 0xD3, 0x00},
    {0x00, 0x50, 0x83, 0x01, 0x08, 0x35, 0x46, 0x1E, 0x22, 0x4C, 0x70, 0x9A, 0xD2, 0x00},
    {0x00, 0x52, 0x80, 0x01, 0x0C, 0x35, 0x3A, 0x2B, 0x2D, 0x4C, 0x67, 0x8D, 0xC0, 0x00},
    {0x00, 0x52, 0x80, 0x01, 0x0C, 0x35, 0x3A, 0x2B, 0x2D, 0x4C, 0x67, 0x8D, 0xC0, 0x00},
    {0x00, 0x52, 0x80, 0x01, 0x0C, 0x35, 0x3A, 0x2B, 0x2D, 0x4C, 0x67, 0x8D, 0xC0, 0x00},
};
/** Lower bound (gain x 64) of the levels in use (rows 0 to 7). */
const QOR_UINT16 kLevelBound[8] = {64, 88, 125, 173, 243, 345, 490, 684};

const QOR_UINT16 gc8034_focus_dac_dist[6] = {20, 30, 100, 250, 570, 3000};
const QOR_UINT16 gc8034_focus_dac_val[6] = {1020, 670, 320, 220, 70, 0};

/** Value bytes of the exposure/gain buffer (entries of 2 bytes). */
enum { kB6 = 1 * 2 + 1, kB1 = 2 * 2 + 1, kB2 = 3 * 2 + 1, kLevelRow = 4, kExpHi = 18 * 2 + 1, kExpLo = 19 * 2 + 1 };

/** The page-0 registers of a table, scanned with page tracking (last occurrence wins), and page 3's data type. */
struct PagedScan {
    QOR_UINT8 p0[256] = {};
    bool seen0[256] = {};
    QOR_UINT8 dataType = 0;
    bool haveDataType = false;
    PagedScan(const QOR_UINT8 *regs, unsigned n) {
        unsigned page = 0;
        for (unsigned i = 0; i < n; i++) {
            const QOR_UINT8 reg = regs[2 * i], value = regs[2 * i + 1];
            if (reg == kPage) {
                page = value;
            } else if (page == 0) {
                p0[reg] = value;
                seen0[reg] = true;
            } else if (page == 3 && reg == 0x11) {
                dataType = value;
                haveDataType = true;
            }
        }
    }
};

} // namespace

extern "C" {

QOR_UINT16 GC8034_CalculateFocus(const QOR_UINT16 *pui16DACDist, const QOR_UINT16 *pui16DACValues, QOR_UINT8 ui8Entries,
                                 QOR_UINT16 ui16Requested) {
    if (ui8Entries == 0)
        return 0;
    if (pui16DACDist[0] >= ui16Requested)
        return pui16DACValues[0];
    if (ui16Requested >= pui16DACDist[ui8Entries - 1])
        return pui16DACValues[ui8Entries - 1];
    unsigned i = 0;
    while (i + 1 < ui8Entries - 1u && pui16DACDist[i + 1] <= ui16Requested)
        i++;
    const double a = pui16DACDist[i], b = pui16DACDist[i + 1];
    const double p = pui16DACValues[i], q = pui16DACValues[i + 1];
    const double code = (q - p) * b * (ui16Requested - a) / ui16Requested / (b - a) + p;
    return static_cast<QOR_UINT16>(static_cast<long>(code) & 0xFFFF);
}

QOR_RESULT GC8034_GetConfInfo(CAM_STRUCT *psCam, QOR_UINT16 nMode, SENSOR_MODE *info) {
    unsigned n = 0;
    const QOR_UINT8 *regs =
        SensorModeGetRegisters(psCam->pConfigs, psCam->uiConfigsSize, SENSOR_MODE_CONFIG(nMode), &n);
    if (regs == nullptr)
        return QOR_RES_NOT_SUPPORTED;
    const PagedScan s(regs, n);
    const unsigned blank = (s.p0[0x05] & 0x0Fu) * 256 + s.p0[0x06];
    const unsigned width = (s.p0[0x0F] & 0x0Fu) * 256 + (s.p0[0x10] & 0xF7u);
    const unsigned vblank = (s.p0[0x07] & 0x1Fu) * 256 + s.p0[0x08];
    const unsigned height = (s.p0[0x0D] & 0x0Fu) * 256 + s.p0[0x0E];
    const unsigned hts = blank + width + 454;
    const unsigned vts = vblank + height + 36;
    const double trow = hts / 320.0;
    QOR_LOG_INFO(kTag, "hts=%u vts=%u\n", hts, vts);
    QOR_LOG_INFO(kTag, "trow=%lf\n", trow);
    info->ui8BitDepth = s.haveDataType && s.dataType == 0x2B ? 10 : 8;
    info->ui16HorizontalTotal = static_cast<QOR_UINT16>(hts);
    info->ui16VerticalTotal = static_cast<QOR_UINT16>(vts);
    info->ui32ExposureMin = static_cast<QOR_UINT32>(std::ceil(4.0 * trow));
    info->ui32ExposureMax = static_cast<QOR_UINT32>(std::floor((vts - 4) * trow));
    info->flTrow = trow;
    info->flPixelRate = kPixelRate;
    return QOR_RES_OK;
}

QOR_RESULT GC8034_GetModeInfo(CAM_STRUCT *psCam, QOR_UINT16 nMode, SENSOR_MODE *info) {
    const unsigned index = SENSOR_MODE_INDEX(nMode) + 4u * SENSOR_MODE_CONFIG(nMode);
    unsigned n = 0;
    const QOR_UINT8 *regs = SensorModeGetRegisters(psCam->pModes, psCam->uiModesSize, index, &n);
    if (regs == nullptr)
        return QOR_RES_NOT_SUPPORTED;
    const PagedScan s(regs, n);
    info->ui16Height = static_cast<QOR_UINT16>(((s.p0[0x95] & 0x0F) << 8) | s.p0[0x96]);
    info->ui16Width = static_cast<QOR_UINT16>(((s.p0[0x97] & 0x0F) << 8) | s.p0[0x98]);
    const unsigned lanes = (s.p0[0x3F] & 0x40) != 0 ? 4 : 2;
    psCam->num_lanes = lanes;
    info->ui8MipiLanes = static_cast<QOR_UINT8>(lanes);
    const double frame = static_cast<double>(info->ui16HorizontalTotal) * info->ui16VerticalTotal;
    info->flFrameRate = frame > 0 ? lanes * info->flPixelRate * 1000000.0 / frame : 0.0;
    info->bValidFrequency = psCam->refClock == psCam->pModes[index].supportedFrequency ? QOR_TRUE : QOR_FALSE;
    info->ui8MipiHsFreqRange = psCam->pModes[index].hsFreqRange;
    return QOR_RES_OK;
}

void GC8034_ApplyConfig(CAM_STRUCT *psCam) {
    if (psCam->currConfReg == nullptr) {
        QOR_LOG_ERROR(kTag, "current register config not available!\n");
        return;
    }
    WritePagedTableFlipped(psCam, psCam->currConfReg, psCam->nConfRegisters, kPage, 0x17);
}

void GC8034_ApplyMode(CAM_STRUCT *psCam) {
    if (psCam->currModeReg == nullptr) {
        QOR_LOG_ERROR(kTag, "current register modes not available!\n");
        return;
    }
    WriteTable(psCam, psCam->currModeReg, psCam->nModeRegisters, [](QOR_UINT8 *) {});
}

void GC8034_ComputeExposureGain(CAM_STRUCT *psCam, QOR_UINT8 ui8Context, double flGain, QOR_UINT8 *regs) {
    unsigned e = 256; // the odd-line compensation, 256 = x1
    const long lines = EvenLineExposure(psCam, ui8Context, &e);
    regs[kExpHi] = static_cast<QOR_UINT8>((lines >> 8) & 0x7F);
    regs[kExpLo] = static_cast<QOR_UINT8>(lines & 0xFF);
    long g = std::lround(flGain * 64.0);
    if (g < kLevelBound[0]) // the API keeps the gain at 1.0 or more; a direct call is held there too
        g = kLevelBound[0];
    if (g > 0xFFFF)
        g = 0xFFFF;
    unsigned level = 0;
    for (unsigned i = 0; i < 8; i++)
        if (kLevelBound[i] <= g)
            level = i;
    regs[kB6] = static_cast<QOR_UINT8>(level);
    for (unsigned i = 0; i < 14; i++)
        regs[2 * (kLevelRow + i) + 1] = agcRegs[level][i];
    const unsigned long d = static_cast<unsigned long>(g) * 256u / kLevelBound[level] * e;
    regs[kB1] = static_cast<QOR_UINT8>((d >> 16) & 0xFF);
    regs[kB2] = static_cast<QOR_UINT8>((d >> 8) & 0xFF);
}

QOR_RESULT GC8034_SetExposureGain(SENSOR_HANDLE hHandle, QOR_UINT32 ui32Exposure, double flGain, QOR_UINT8 ui8Context) {
    QOR_UINT8 regs[] = {kPage, 0x00, 0xB6, 0x00, 0xB1, 0x00, 0xB2,  0x00, kPage, 0x00, 0x20, 0x55, 0x33, 0x83,
                        kPage, 0x01, 0xDF, 0x06, 0xE7, 0x18, 0xE8,  0x20, 0xE9,  0x16, 0xEA, 0x17, 0xEB, 0x50,
                        0xEC,  0x6C, 0xED, 0x9B, 0xEE, 0xD8, kPage, 0x00, 0x03,  0x08, 0x04, 0xC6};
    static_assert(sizeof(regs) == 40, "twenty entries");
    return SensorFuncSetExposureGain(hHandle, ui32Exposure, flGain, ui8Context, regs, sizeof regs, 0);
}

QOR_RESULT GC8034_Disable(SENSOR_HANDLE hHandle) { return SensorFuncDisable(hHandle, disableRegs, sizeof disableRegs); }

QOR_RESULT GC8034_GetInfo(SENSOR_HANDLE hHandle, SENSOR_INFO *psInfo) {
    static const InfoFacts kInfo = {
        {nullptr, "GC8034"},           true, {0xF0, "Reading device ID (GetInfo) \n", true},
        {1.2, 1.12, false, 0, 0, 5.0}, true, 2,
        gc8034_config_num_modes,
    };
    return FillInfo(__func__, __LINE__, kTag, kInfo, hHandle, psInfo);
}

QOR_RESULT GC8034_GetFocusRange(SENSOR_HANDLE /*hHandle*/, QOR_UINT16 *pui16Min, QOR_UINT16 *pui16Max) {
    *pui16Min = kFocusMin;
    *pui16Max = kFocusMax;
    return QOR_RES_OK;
}

QOR_RESULT GC8034_GetCurrentFocus(SENSOR_HANDLE hHandle, QOR_UINT16 *pui16Current) {
    CAM_STRUCT *psCam = camOf(hHandle);
    if (psCam->psSensorPhy == nullptr) {
        QOR_LOG_ERROR(kTag, "sensor not initialised\n");
        return QOR_RES_NOT_INITIALISED;
    }
    *pui16Current = psCam->ui16CurrentFocus;
    return QOR_RES_OK;
}

QOR_RESULT GC8034_SetFocus(SENSOR_HANDLE hHandle, QOR_UINT16 ui16Focus) {
    CAM_STRUCT *psCam = camOf(hHandle);
    if (psCam->psSensorPhy == nullptr) {
        QOR_LOG_ERROR(kTag, "sensor not initialised\n");
        return QOR_RES_NOT_INITIALISED;
    }
    psCam->ui16CurrentFocus = ui16Focus;
    const QOR_UINT16 code = GC8034_CalculateFocus(gc8034_focus_dac_dist, gc8034_focus_dac_val, 6, ui16Focus);
    // The 10-bit code in bits 4 to 13 of a big-endian word.
    const QOR_UINT8 bytes[2] = {static_cast<QOR_UINT8>((code >> 4) & 0x3F), static_cast<QOR_UINT8>((code & 0x0F) << 4)};
    QOR_LOG_INFO(kTag, "SetFocus: new focus = %d, value = %d\n", ui16Focus, code);
    if (SEAM_Ioctl(psCam->i2c_dev.fd, kI2cSlave, reinterpret_cast<void *>(static_cast<uintptr_t>(kLensAddress))) < 0) {
        QOR_LOG_ERROR(kTag, "Failed to write I2C slave address!\n");
        return QOR_RES_IO_FAILED;
    }
    if (SEAM_Write(psCam->i2c_dev.fd, bytes, sizeof bytes) != static_cast<ssize_t>(sizeof bytes)) {
        QOR_LOG_ERROR(kTag, "Failed to write I2C data!\n");
        return QOR_RES_IO_FAILED;
    }
    return QOR_RES_OK;
}

QOR_RESULT GC8034_Create(SENSOR_HANDLE *phHandle) {
    const DriverSetup d = {"GC8034",
                           0x37,
                           1,
                           0xF0,
                           0x8044,
                           gc8034_configs,
                           2,
                           gc8034_modes,
                           static_cast<QOR_UINT16>(sizeof gc8034_modes / sizeof gc8034_modes[0]),
                           gc8034_config_num_modes,
                           2,
                           1.0,
                           16.0,
                           1.0};
    CAM_STRUCT *psCam = NewCam(d, SENSOR_MIRAVO_GC8034, 1);
    if (psCam == nullptr)
        return QOR_RES_NO_MEMORY;
    psCam->sFuncs.Disable = GC8034_Disable;
    psCam->sFuncs.GetInfo = GC8034_GetInfo;
    psCam->sFuncs.SetExposureGain = GC8034_SetExposureGain;
    psCam->sFuncs.GetFocusRange = GC8034_GetFocusRange;
    psCam->sFuncs.GetCurrentFocus = GC8034_GetCurrentFocus;
    psCam->sFuncs.SetFocus = GC8034_SetFocus;
    psCam->ApplyConfig = GC8034_ApplyConfig;
    psCam->ApplyMode = GC8034_ApplyMode;
    psCam->GetConfInfo = GC8034_GetConfInfo;
    psCam->GetModeInfo = GC8034_GetModeInfo;
    psCam->ComputeExposureGain = GC8034_ComputeExposureGain;
    psCam->ui16CurrentFocus = kFocusMax;
    psCam->focus_dac_min = 0;
    return FinishCreate(psCam, phHandle);
}

} // extern "C"
