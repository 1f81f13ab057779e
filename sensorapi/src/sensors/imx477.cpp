// The IMX477 driver: a common configuration and thirteen modes at 24 MHz on a fixed 840 MHz pixel clock, timing
// from the frame and line length registers of the mode tables, an analogue gain code and a coarse integration
// time, flips through 0x0101.
#include "sensors/imx477.h"

#include <cmath>

#include "sensors/sensor_drivers.h"
#include "sony_common.h"

using namespace norva_drivers;

namespace {

constexpr const char *kTag = IMX477_LOG_TAG;
constexpr QOR_UINT32 kTableClock = 24000000;
constexpr double kPixelClockMHz = 840.0;

// External clock, PLL, the vendor's analogue and black-level settings.
const QOR_UINT8 config_common[] = {SONY_R(0x0136, 0x18),
                                   SONY_R(0x0137, 0x00),
                                   SONY_R(0x0808, 0x02),
                                   SONY_R(0xE07A, 0x01),
                                   SONY_R(0xE000, 0x00),
                                   SONY_R(0x4AE9, 0x18),
                                   SONY_R(0x4AEA, 0x08),
                                   SONY_R(0xF61C, 0x04),
                                   SONY_R(0xF61E, 0x04),
                                   SONY_R(0x4AE9, 0x21),
                                   SONY_R(0x4AEA, 0x80),
                                   SONY_R(0x38A8, 0x1F),
                                   SONY_R(0x38A9, 0xFF),
                                   SONY_R(0x38AA, 0x1F),
                                   SONY_R(0x38AB, 0xFF),
                                   SONY_R(0x0301, 0x05),
                                   SONY_R(0x0303, 0x02),
                                   SONY_R(0x0305, 0x04),
                                   SONY_R(0x0306, 0x01),
                                   SONY_R(0x0307, 0x5E),
                                   SONY_R(0x0309, 0x0C),
                                   SONY_R(0x030B, 0x02),
                                   SONY_R(0x030D, 0x02),
                                   SONY_R(0x030E, 0x00),
                                   SONY_R(0x030F, 0x96),
                                   SONY_R(0x0310, 0x01),
                                   SONY_R(0x0820, 0x07),
                                   SONY_R(0x0821, 0x08),
                                   SONY_R(0x3E20, 0x01),
                                   SONY_R(0x3E37, 0x00),
                                   SONY_END};

// Mode tables: lanes, data format, frame and line length, output size, flips, test pattern, 20 ms, stream on.
#define IMX477_MODE(LANES, BITS, HTS, VTS, W, H, PATTERN)                                                              \
    SONY_R(0x0114, (LANES) == 4 ? 0x03 : 0x01), SONY_R(0x0112, BITS), SONY_R(0x0113, BITS), SONY_B16(0x0340, VTS),     \
        SONY_B16(0x0342, HTS), SONY_B16(0x0344, (4056 - (W)) / 2), SONY_B16(0x0346, (3040 - (H)) / 2),                 \
        SONY_B16(0x0348, 4056 - (4056 - (W)) / 2 - 1), SONY_B16(0x034A, 3040 - (3040 - (H)) / 2 - 1),                  \
        SONY_B16(0x034C, W), SONY_B16(0x034E, H), SONY_R(0x0101, 0x00), SONY_R(0x0600, 0x00), SONY_R(0x0601, PATTERN), \
        0xFE, 20, 0x00, SONY_R(0x0100, 0x01), SONY_END

const QOR_UINT8 mode_3840x2160_4lanes_30fps[] = {IMX477_MODE(4, 10, 5832, 4800, 3840, 2160, 0)};
const QOR_UINT8 mode_1920x1080_4lanes_60fps[] = {IMX477_MODE(4, 10, 3076, 4550, 1920, 1080, 0)};
const QOR_UINT8 mode_4056x3040_2lanes_10fps[] = {IMX477_MODE(2, 12, 24000, 3500, 4056, 3040, 0)};
const QOR_UINT8 mode_3840x2160_2lanes_30fps[] = {IMX477_MODE(2, 10, 11200, 2500, 3840, 2160, 0)};
const QOR_UINT8 mode_1920x1080_2lanes_60fps[] = {IMX477_MODE(2, 10, 7000, 2000, 1920, 1080, 0)};
const QOR_UINT8 mode_1920x1080_4lanes_30fps_900Mbps[] = {IMX477_MODE(4, 12, 12740, 2198, 1920, 1080, 0)};
const QOR_UINT8 mode_1920x1080_2lanes_30fps_900Mbps[] = {IMX477_MODE(2, 12, 12740, 2198, 1920, 1080, 0)};
const QOR_UINT8 mode_1920x1080_4lanes_60fps_900Mbps[] = {IMX477_MODE(4, 12, 6370, 2198, 1920, 1080, 0)};
const QOR_UINT8 mode_3840x2160_4lanes_24fps_900Mbps[] = {IMX477_MODE(4, 10, 10000, 3500, 3840, 2160, 0)};
const QOR_UINT8 mode_1920x1080_test_pattern_2lanes[] = {IMX477_MODE(2, 12, 12740, 2198, 1920, 1080, 2)};
const QOR_UINT8 mode_4056x3040_test_pattern_2lanes[] = {IMX477_MODE(2, 12, 24000, 3500, 4056, 3040, 2)};
const QOR_UINT8 mode_1920x1080_test_pattern_4lanes[] = {IMX477_MODE(4, 12, 6370, 2198, 1920, 1080, 2)};
const QOR_UINT8 mode_3840x2160_test_pattern_4lanes[] = {IMX477_MODE(4, 10, 10000, 3500, 3840, 2160, 2)};

const QOR_UINT8 disableRegs[] = {SONY_R(0x0100, 0x00)};

sensor_mode imx477_configs[] = {{3, config_common, 0, 3, 0, 0, 0}};
sensor_mode imx477_modes[] = {
    {3, mode_3840x2160_4lanes_30fps, 0, 3, kTableClock, 0x1C, 0},
    {3, mode_1920x1080_4lanes_60fps, 0, 3, kTableClock, 0x1C, 0},
    {3, mode_4056x3040_2lanes_10fps, 0, 3, kTableClock, 0x29, 0},
    {3, mode_3840x2160_2lanes_30fps, 0, 3, kTableClock, 0x1C, 0},
    {3, mode_1920x1080_2lanes_60fps, 0, 3, kTableClock, 0x1C, 0},
    {3, mode_1920x1080_4lanes_30fps_900Mbps, 0, 3, kTableClock, 0x29, 0},
    {3, mode_1920x1080_2lanes_30fps_900Mbps, 0, 3, kTableClock, 0x29, 0},
    {3, mode_1920x1080_4lanes_60fps_900Mbps, 0, 3, kTableClock, 0x29, 0},
    {3, mode_3840x2160_4lanes_24fps_900Mbps, 0, 3, kTableClock, 0x29, 0},
    {3, mode_1920x1080_test_pattern_2lanes, 0, 3, kTableClock, 0x29, 0},
    {3, mode_4056x3040_test_pattern_2lanes, 0, 3, kTableClock, 0x29, 0},
    {3, mode_1920x1080_test_pattern_4lanes, 0, 3, kTableClock, 0x29, 0},
    {3, mode_3840x2160_test_pattern_4lanes, 0, 3, kTableClock, 0x29, 0},
};
const QOR_UINT8 imx477_config_num_modes[] = {13};

} // namespace

extern "C" {

const char *IMX477_SENSOR_INFO_NAME(sensor_num num) {
    if (num == SENSOR_MIRAVO_IMX477_0)
        return "IMX477_0";
    if (num == SENSOR_MIRAVO_IMX477_1)
        return "IMX477_1";
    return nullptr;
}

QOR_RESULT IMX477_GetConfInfo(CAM_STRUCT * /*psCam*/, QOR_UINT16 /*nMode*/, SENSOR_MODE * /*info*/) {
    return QOR_RES_OK;
}

QOR_RESULT IMX477_GetModeInfo(CAM_STRUCT *psCam, QOR_UINT16 nMode, SENSOR_MODE *info) {
    unsigned n = 0;
    const QOR_UINT8 *regs = SensorModeGetRegisters(psCam->pModes, psCam->uiModesSize, nMode, &n);
    if (regs == nullptr)
        return QOR_RES_NOT_SUPPORTED;
    QOR_UINT8 lanes = 0, depth = 0;
    FindRegister(regs, n, 0x0114, &lanes);
    FindRegister(regs, n, 0x0113, &depth);
    const unsigned vts = FindRegister16(regs, n, 0x0340);
    const unsigned hts = FindRegister16(regs, n, 0x0342);
    info->ui16Width = static_cast<QOR_UINT16>(FindRegister16(regs, n, 0x034C));
    info->ui16Height = static_cast<QOR_UINT16>(FindRegister16(regs, n, 0x034E));
    info->ui16HorizontalTotal = static_cast<QOR_UINT16>(hts);
    info->ui16VerticalTotal = static_cast<QOR_UINT16>(vts);
    info->ui8MipiLanes = (lanes & 3) == 3 ? 4 : 2;
    info->ui8BitDepth = static_cast<QOR_UINT8>(depth & 0x0F);
    info->flPixelRate = kPixelClockMHz;
    info->flTrow = hts / kPixelClockMHz;
    // The shortest exposure is four rows: the ceiling of the product.
    info->ui32ExposureMin = static_cast<QOR_UINT32>(std::ceil(4.0 * info->flTrow));
    info->ui32ExposureMax = vts > 22 ? static_cast<QOR_UINT32>((vts - 22) * info->flTrow) : 0;
    info->flFrameRate = vts != 0 && info->flTrow > 0 ? 1000000.0 / (vts * info->flTrow) : 0.0;
    info->ui8MipiHsFreqRange = psCam->pModes[nMode].hsFreqRange;
    info->bValidFrequency = psCam->refClock == psCam->pModes[nMode].supportedFrequency ? QOR_TRUE : QOR_FALSE;
    psCam->num_lanes = info->ui8MipiLanes;
    return QOR_RES_OK;
}

void IMX477_ApplyConfig(CAM_STRUCT *psCam) {
    if (psCam->currConfReg == nullptr) {
        QOR_LOG_ERROR(kTag, "current register config not available!\n");
        return;
    }
    WriteTable(psCam, psCam->currConfReg, psCam->nConfRegisters, [](QOR_UINT8 *) {});
}

void IMX477_ApplyMode(CAM_STRUCT *psCam) {
    if (psCam->currModeReg == nullptr) {
        QOR_LOG_ERROR(kTag, "current register modes not available!\n");
        return;
    }
    const QOR_UINT8 flip = psCam->ui8CurrentFlipping;
    WriteTable(psCam, psCam->currModeReg, psCam->nModeRegisters, [flip](QOR_UINT8 *e) {
        if (entryRegister(e, 2) == 0x0101)
            e[2] = SonyOrientation(e[2], flip, 0x02, 0x01);
    });
}

void IMX477_ComputeExposureGain(CAM_STRUCT *psCam, QOR_UINT8 ui8Context, double flGain, QOR_UINT8 *regs) {
    const long a = std::lround(1024.0 - 1024.0 / flGain);
    regs[2] = static_cast<QOR_UINT8>((a >> 8) & 7);
    regs[3 + 2] = static_cast<QOR_UINT8>(a & 0xFF);
    const double trow = psCam->currMode.flTrow;
    const unsigned vts = psCam->currMode.ui16VerticalTotal;
    double lines = trow > 0 ? std::round(psCam->ui32Exposure[ui8Context] / trow) : 0.0;
    if (lines < 4)
        lines = 4;
    else if (vts > 22 && lines > vts - 22)
        lines = vts - 22;
    const unsigned l = static_cast<unsigned>(lines);
    regs[6 + 2] = static_cast<QOR_UINT8>((l >> 8) & 0xFF);
    regs[9 + 2] = static_cast<QOR_UINT8>(l & 0xFF);
}

QOR_RESULT IMX477_SetExposureGain(SENSOR_HANDLE hHandle, QOR_UINT32 ui32Exposure, double flGain, QOR_UINT8 ui8Context) {
    QOR_UINT8 regs[] = {SONY_R(0x0204, 0), SONY_R(0x0205, 0), SONY_R(0x0202, 0), SONY_R(0x0203, 0)};
    static_assert(sizeof(regs) == 12, "four entries");
    return SensorFuncSetExposureGain(hHandle, ui32Exposure, flGain, ui8Context, regs, sizeof regs, 0);
}

QOR_RESULT IMX477_Disable(SENSOR_HANDLE hHandle) { return SensorFuncDisable(hHandle, disableRegs, sizeof disableRegs); }

QOR_RESULT IMX477_GetInfo(SENSOR_HANDLE hHandle, SENSOR_INFO *psInfo) {
    static const InfoFacts kInfo = {
        {IMX477_SENSOR_INFO_NAME, nullptr},
        true,
        {0x0016, nullptr, true},
        {1.2, 1.55, true, 0, 10000, 5.0},
        true,
        1,
        imx477_config_num_modes,
    };
    return FillInfo(__func__, __LINE__, kTag, kInfo, hHandle, psInfo);
}

QOR_RESULT IMX477_Create(SENSOR_HANDLE *phHandle, sensor_num nSensor) {
    const DriverSetup d = {"IMX477",
                           0x1A,
                           2,
                           0x0016,
                           0x0477,
                           imx477_configs,
                           1,
                           imx477_modes,
                           static_cast<QOR_UINT16>(sizeof imx477_modes / sizeof imx477_modes[0]),
                           imx477_config_num_modes,
                           1,
                           1.0,
                           22.26,
                           1.0};
    CAM_STRUCT *psCam = NewCam(d, nSensor, static_cast<QOR_UINT8>(GetImagerNum(nSensor)));
    if (psCam == nullptr)
        return QOR_RES_NO_MEMORY;
    psCam->sFuncs.Disable = IMX477_Disable;
    psCam->sFuncs.GetInfo = IMX477_GetInfo;
    psCam->sFuncs.SetExposureGain = IMX477_SetExposureGain;
    psCam->ApplyConfig = IMX477_ApplyConfig;
    psCam->ApplyMode = IMX477_ApplyMode;
    psCam->GetConfInfo = IMX477_GetConfInfo;
    psCam->GetModeInfo = IMX477_GetModeInfo;
    psCam->ComputeExposureGain = IMX477_ComputeExposureGain;
    return FinishCreate(psCam, phHandle);
}

QOR_RESULT IMX477_Create_0(SENSOR_HANDLE *phHandle) { return IMX477_Create(phHandle, SENSOR_MIRAVO_IMX477_0); }
QOR_RESULT IMX477_Create_1(SENSOR_HANDLE *phHandle) { return IMX477_Create(phHandle, SENSOR_MIRAVO_IMX477_1); }

} // extern "C"
