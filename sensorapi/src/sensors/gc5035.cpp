// The GC5035 driver: 1-byte register addresses with the page register 0xFE tracked by every scan and rewrite, one
// mode at 24 MHz with fixed timing, exposure in lines with an odd line count compensated by the digital gain, and
// the gain split into an analogue level (0xB6) and a digital gain (0xB1/0xB2).
#include "sensors/gc5035.h"

#include <cmath>

#include "driver_common.h"
#include "sensors/sensor_drivers.h"

using namespace norva_drivers;

namespace {

constexpr const char *kTag = GC5035_LOG_TAG;
constexpr QOR_UINT32 kTableClock = 24000000;
constexpr unsigned kHts = 2920;
constexpr unsigned kVts = 2000;
constexpr double kTrow = 8.333333333333334;
constexpr QOR_UINT8 kPage = 0xFE;

#define GC_END 0xFF, 0xFF

const QOR_UINT8 config_2lanes[] = {GC_END};

// The whole set-up: clocks, analogue settings, flips (page 0), the default exposure, gain levels, the output
// window (page 1), the MIPI set-up (page 3), then streaming on.
const QOR_UINT8 mode_2592x1944[] = {
    0xFC, 0x01, 0xF4,  0x40, 0xF5, 0xE9, 0xF6,  0x14, 0xF8,  0x49, 0xF9,  0x82, 0xFA,  0x00, 0xFC, 0x81, kPage, 0x00,
    0x36, 0x01, 0xD3,  0x87, 0x36, 0x00, 0x33,  0x00, kPage, 0x03, 0x01,  0xE7, 0xF7,  0x01, 0xFC, 0x8F, 0xFC,  0x8F,
    0xFC, 0x8E, kPage, 0x00, 0xEE, 0x30, 0x87,  0x18, kPage, 0x01, 0x8C,  0x90, kPage, 0x00, 0x05, 0x02, 0x06,  0xDA,
    0x9D, 0x0C, 0x09,  0x00, 0x0A, 0x04, 0x0B,  0x00, 0x0C,  0x03, 0x0D,  0x07, 0x0E,  0xA8, 0x0F, 0x0A, 0x10,  0x30,
    0x11, 0x02, 0x17,  0x80, 0x19, 0x05, 0xFE,  0x02, 0x30,  0x03, 0x31,  0x03, kPage, 0x00, 0x03, 0x07, 0x04,  0x80,
    0xB6, 0x00, 0xB1,  0x01, 0xB2, 0x00, kPage, 0x01, 0x90,  0x00, 0x91,  0x08, 0x92,  0x00, 0x93, 0x04, 0x94,  0x00,
    0x95, 0x07, 0x96,  0x98, 0x97, 0x0A, 0x98,  0x20, 0x99,  0x00, kPage, 0x03, 0x02,  0x57, 0x03, 0xB7, 0x15,  0x14,
    0x18, 0x0F, 0x21,  0x22, 0x22, 0x06, 0x23,  0x48, 0x24,  0x12, 0x25,  0x28, 0x26,  0x08, 0x29, 0x06, 0x2A,  0x58,
    0x2B, 0x08, kPage, 0x01, 0x8C, 0x10, kPage, 0x00, 0x3E,  0x91, GC_END};

const QOR_UINT8 disableRegs[] = {kPage, 0x00, 0x3F, 0x01};

sensor_mode gc5035_configs[] = {{3, config_2lanes, 0, 2, 0, 0, 0}};
sensor_mode gc5035_modes[] = {{3, mode_2592x1944, 0, 2, kTableClock, 0x19, 0}};
const QOR_UINT8 gc5035_config_num_modes[] = {1};

/** gainLevel: lower bound (gain x 64) and the 0xB6 code of each analogue level. */
const QOR_UINT16 gainLevel[17][2] = {{64, 0},   {76, 1},   {90, 2},   {106, 3},  {126, 8},  {150, 9},
                                     {179, 10}, {211, 11}, {250, 12}, {301, 13}, {358, 14}, {427, 15},
                                     {499, 16}, {589, 17}, {704, 18}, {830, 19}, {998, 20}};

/** Value bytes of the exposure/gain buffer (entries of 2 bytes). */
enum { kB6 = 1 * 2 + 1, kB1 = 2 * 2 + 1, kB2 = 3 * 2 + 1, kExpHi = 5 * 2 + 1, kExpLo = 6 * 2 + 1 };

} // namespace

extern "C" {

QOR_RESULT GC5035_GetConfInfo(CAM_STRUCT * /*psCam*/, QOR_UINT16 /*nMode*/, SENSOR_MODE * /*info*/) {
    return QOR_RES_OK;
}

QOR_RESULT GC5035_GetModeInfo(CAM_STRUCT *psCam, QOR_UINT16 nMode, SENSOR_MODE *info) {
    QOR_LOG_INFO(kTag, "Begin %d\n", nMode);
    unsigned n = 0;
    const QOR_UINT8 *regs = SensorModeGetRegisters(psCam->pModes, psCam->uiModesSize, nMode, &n);
    QOR_LOG_INFO(kTag, "Mode read\n");
    if (regs == nullptr)
        return QOR_RES_NOT_SUPPORTED;
    unsigned page = 0;
    QOR_UINT8 p1[256] = {};
    for (unsigned i = 0; i < n; i++) {
        const QOR_UINT8 reg = regs[2 * i], value = regs[2 * i + 1];
        if (reg == kPage)
            page = value;
        else if (page == 1)
            p1[reg] = value;
    }
    info->ui16Height = static_cast<QOR_UINT16>(((p1[0x95] & 0x0F) << 8) | p1[0x96]);
    info->ui16Width = static_cast<QOR_UINT16>(((p1[0x97] & 0x0F) << 8) | p1[0x98]);
    psCam->num_lanes = 2;
    info->ui8MipiLanes = 2;
    info->ui8BitDepth = 10;
    info->ui16HorizontalTotal = kHts;
    info->ui16VerticalTotal = kVts;
    info->flTrow = kTrow;
    info->flFrameRate = 30.0;
    info->flPixelRate = 175.2;
    info->ui32ExposureMin = 34;
    info->ui32ExposureMax = static_cast<QOR_UINT32>(std::floor((kVts - 4) * kTrow));
    info->ui8MipiHsFreqRange = psCam->pModes[nMode].hsFreqRange;
    info->bValidFrequency = psCam->refClock == psCam->pModes[nMode].supportedFrequency ? QOR_TRUE : QOR_FALSE;
    QOR_LOG_INFO(kTag, "hts=%u vts=%u\n", kHts, kVts);
    QOR_LOG_INFO(kTag, "trow=%lf frame_t=%u\n", kTrow, kHts * kVts);
    return QOR_RES_OK;
}

void GC5035_ApplyConfig(CAM_STRUCT * /*psCam*/) {}

void GC5035_ApplyMode(CAM_STRUCT *psCam) {
    if (psCam->currModeReg == nullptr) {
        QOR_LOG_ERROR(kTag, "current register modes not available!\n");
        return;
    }
    WritePagedTableFlipped(psCam, psCam->currModeReg, psCam->nModeRegisters, kPage, 0x17);
}

void GC5035_ComputeExposureGain(CAM_STRUCT *psCam, QOR_UINT8 ui8Context, double flGain, QOR_UINT8 *regs) {
    unsigned e = 256; // the odd-line compensation, 256 = x1
    const long lines = EvenLineExposure(psCam, ui8Context, &e);
    regs[kExpHi] = static_cast<QOR_UINT8>((lines >> 8) & 0x3F);
    regs[kExpLo] = static_cast<QOR_UINT8>(lines & 0xFF);
    const long g = std::lround(flGain * 64.0);
    const long k = g < 64 ? 64 : g > 1024 ? 1024 : g;
    unsigned level = 0;
    for (unsigned i = 0; i < 17; i++)
        if (gainLevel[i][0] <= g)
            level = i;
    regs[kB6] = static_cast<QOR_UINT8>(gainLevel[level][1]);
    const unsigned long d = static_cast<unsigned long>(k) * e / gainLevel[level][0];
    regs[kB1] = static_cast<QOR_UINT8>((d >> 6) & 0xFF);
    regs[kB2] = static_cast<QOR_UINT8>(((d & 0x3F) << 2) & 0xFF);
}

QOR_RESULT GC5035_SetExposureGain(SENSOR_HANDLE hHandle, QOR_UINT32 ui32Exposure, double flGain, QOR_UINT8 ui8Context) {
    QOR_UINT8 regs[] = {kPage, 0x00, 0xB6, 0x00, 0xB1, 0x00, 0xB2, 0x00, kPage, 0x00, 0x03, 0x07, 0x04, 0xC0};
    static_assert(sizeof(regs) == 14, "seven entries");
    return SensorFuncSetExposureGain(hHandle, ui32Exposure, flGain, ui8Context, regs, sizeof regs, 0);
}

QOR_RESULT GC5035_Disable(SENSOR_HANDLE hHandle) { return SensorFuncDisable(hHandle, disableRegs, sizeof disableRegs); }

QOR_RESULT GC5035_GetInfo(SENSOR_HANDLE hHandle, SENSOR_INFO *psInfo) {
    static const InfoFacts kInfo = {
        {nullptr, "GC5035"},           true,  {0xF0, "Reading device ID (GetInfo) \n", true},
        {1.2, 1.12, false, 0, 0, 5.0}, false, 1,
        gc5035_config_num_modes,
    };
    return FillInfo(__func__, __LINE__, kTag, kInfo, hHandle, psInfo);
}

QOR_RESULT GC5035_Create(SENSOR_HANDLE *phHandle) {
    const DriverSetup d = {
        "GC5035", 0x37, 1,    0xF0, 0x5035, gc5035_configs, 1, gc5035_modes, 1, gc5035_config_num_modes,
        1,        1.0,  16.0, 1.0};
    CAM_STRUCT *psCam = NewCam(d, SENSOR_MIRAVO_GC5035, static_cast<QOR_UINT8>(GetImagerNum(SENSOR_MIRAVO_GC5035)));
    if (psCam == nullptr)
        return QOR_RES_NO_MEMORY;
    psCam->sFuncs.Disable = GC5035_Disable;
    psCam->sFuncs.GetInfo = GC5035_GetInfo;
    psCam->sFuncs.SetExposureGain = GC5035_SetExposureGain;
    psCam->ApplyConfig = GC5035_ApplyConfig;
    psCam->ApplyMode = GC5035_ApplyMode;
    psCam->GetConfInfo = GC5035_GetConfInfo;
    psCam->GetModeInfo = GC5035_GetModeInfo;
    psCam->ComputeExposureGain = GC5035_ComputeExposureGain;
    return FinishCreate(psCam, phHandle);
}

} // extern "C"
