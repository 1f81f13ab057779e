// The IMX219 driver: seven modes on 2 or 4 lanes at 24 MHz, timing decoded from the PLL and frame registers of the
// mode tables, gain split into an analogue code and a digital multiplier, flips through 0x0172.
#include "sensors/imx219.h"

#include <cmath>

#include "sensors/sensor_drivers.h"
#include "sony_common.h"

using namespace norva_drivers;

namespace {

constexpr const char *kTag = IMX219_LOG_TAG;
constexpr QOR_UINT32 kTableClock = 24000000;
constexpr QOR_UINT8 kMaxAnalogueCode = 232; /* x10.67 */

// Mode tables: access sequence, lanes, frame and line length, crop, output size, binning, bit depth, PLL, flips,
// optional test pattern, then 20 ms and stream on.
#define IMX219_MODE(LANES, VTS, W, H, BIN, MULT, PATTERN)                                                              \
    SONY_R(0x30EB, 0x05), SONY_R(0x30EB, 0x0C), SONY_R(0x300A, 0xFF), SONY_R(0x300B, 0xFF), SONY_R(0x30EB, 0x05),      \
        SONY_R(0x30EB, 0x09), SONY_R(0x0114, LANES), SONY_R(0x0128, 0x00), SONY_R(0x012A, 0x18), SONY_R(0x012B, 0x00), \
        SONY_B16(0x0160, VTS), SONY_B16(0x0162, 3448), SONY_B16(0x0164, (3280 - (W) * (BIN)) / 2),                     \
        SONY_B16(0x0166, 3280 - (3280 - (W) * (BIN)) / 2 - 1), SONY_B16(0x0168, (2464 - (H) * (BIN)) / 2),             \
        SONY_B16(0x016A, 2464 - (2464 - (H) * (BIN)) / 2 - 1), SONY_B16(0x016C, W), SONY_B16(0x016E, H),               \
        SONY_R(0x0170, 0x01), SONY_R(0x0171, 0x01), SONY_R(0x0172, 0x00), SONY_R(0x0174, (BIN) == 2 ? 0x01 : 0x00),    \
        SONY_R(0x0175, (BIN) == 2 ? 0x01 : 0x00), SONY_R(0x018C, 0x0A), SONY_R(0x018D, 0x0A), SONY_R(0x0301, 0x05),    \
        SONY_R(0x0303, 0x01), SONY_R(0x0304, 0x03), SONY_R(0x0305, 0x03), SONY_B16(0x0306, MULT),                      \
        SONY_R(0x0309, 0x0A), SONY_R(0x030B, 0x01), SONY_B16(0x030C, 0x72), SONY_R(0x0600, 0x00),                      \
        SONY_R(0x0601, PATTERN), 0xFE, 20, 0x00, SONY_R(0x0100, 0x01), SONY_END

const QOR_UINT8 config_imx219[] = {SONY_END};
const QOR_UINT8 mode_3280x2464_21fps_2lanes[] = {IMX219_MODE(0x01, 2500, 3280, 2464, 1, 57, 0x00)};
const QOR_UINT8 mode_3280x2464_30fps_4lanes[] = {IMX219_MODE(0x03, 2544, 3280, 2464, 1, 83, 0x00)};
const QOR_UINT8 mode_1920x1080_30fps_2lanes[] = {IMX219_MODE(0x01, 1766, 1920, 1080, 1, 57, 0x00)};
const QOR_UINT8 mode_1920x1080_60fps_2lanes[] = {IMX219_MODE(0x01, 1263, 1920, 1080, 1, 82, 0x00)};
const QOR_UINT8 mode_1920x1080_test_pattern_30fps_2lanes[] = {IMX219_MODE(0x01, 1766, 1920, 1080, 1, 57, 0x02)};
const QOR_UINT8 mode_1920x1080_test_pattern_60fps_2lanes[] = {IMX219_MODE(0x01, 1263, 1920, 1080, 1, 82, 0x02)};
const QOR_UINT8 mode_3280x2464_test_pattern_2lanes[] = {IMX219_MODE(0x01, 2500, 3280, 2464, 1, 57, 0x02)};

const QOR_UINT8 disableRegs[] = {SONY_R(0x0100, 0x00)};

sensor_mode imx219_configs[] = {{3, config_imx219, 0, 3, 0, 0, 0}};
sensor_mode imx219_modes[] = {
    {3, mode_3280x2464_21fps_2lanes, 0, 3, kTableClock, 0x28, 0},
    {3, mode_3280x2464_30fps_4lanes, 0, 3, kTableClock, 0x1A, 0},
    {3, mode_1920x1080_30fps_2lanes, 0, 3, kTableClock, 0x28, 0},
    {3, mode_1920x1080_60fps_2lanes, 0, 3, kTableClock, 0x28, 0},
    {3, mode_1920x1080_test_pattern_30fps_2lanes, 0, 3, kTableClock, 0x28, 0},
    {3, mode_1920x1080_test_pattern_60fps_2lanes, 0, 3, kTableClock, 0x28, 0},
    {3, mode_3280x2464_test_pattern_2lanes, 0, 3, kTableClock, 0x28, 0},
};
const QOR_UINT8 imx219_config_num_modes[] = {7};

} // namespace

extern "C" {

const char *IMX219_SENSOR_INFO_NAME(sensor_num num) {
    if (num == SENSOR_MIRAVO_IMX219_0)
        return "IMX219_0";
    if (num == SENSOR_MIRAVO_IMX219_1)
        return "IMX219_1";
    return nullptr;
}

QOR_RESULT IMX219_GetConfInfo(CAM_STRUCT * /*psCam*/, QOR_UINT16 /*nMode*/, SENSOR_MODE * /*info*/) {
    return QOR_RES_OK;
}

QOR_RESULT IMX219_GetModeInfo(CAM_STRUCT *psCam, QOR_UINT16 nMode, SENSOR_MODE *info) {
    unsigned n = 0;
    const QOR_UINT8 *regs = SensorModeGetRegisters(psCam->pModes, psCam->uiModesSize, nMode, &n);
    if (regs == nullptr)
        return QOR_RES_NOT_SUPPORTED;
    QOR_UINT8 lanes = 0, depth = 0, div = 0, prediv = 0;
    FindRegister(regs, n, 0x0114, &lanes);
    FindRegister(regs, n, 0x018D, &depth);
    FindRegister(regs, n, 0x0301, &div);
    FindRegister(regs, n, 0x0304, &prediv);
    const unsigned vts = FindRegister16(regs, n, 0x0160);
    const unsigned hts = FindRegister16(regs, n, 0x0162);
    const unsigned mult = FindRegister16(regs, n, 0x0306) & 0x7FF;
    div &= 0x1F;
    // Pixel clock: the reference divided by the pre-PLL divider, multiplied, divided by the pixel divider. Every
    // table carries these registers; a table without them gives no clock rather than a division by zero.
    const double x =
        prediv != 0 && div != 0 ? static_cast<double>(mult) * (psCam->refClock / prediv) / static_cast<double>(div) : 0;
    info->ui16Width = static_cast<QOR_UINT16>(FindRegister16(regs, n, 0x016C) & 0xFFF);
    info->ui16Height = static_cast<QOR_UINT16>(FindRegister16(regs, n, 0x016E) & 0xFFF);
    info->ui16HorizontalTotal = static_cast<QOR_UINT16>(hts);
    info->ui16VerticalTotal = static_cast<QOR_UINT16>(vts);
    info->ui8MipiLanes = (lanes & 3) == 3 ? 4 : 2;
    info->ui8BitDepth = static_cast<QOR_UINT8>(depth & 0x0F);
    info->flPixelRate = 2.0 * x;
    info->flTrow = x > 0 ? hts / (2.0 * x) * 1000000.0 : 0.0;
    info->ui32ExposureMin = static_cast<QOR_UINT32>(std::ceil(info->flTrow));
    info->ui32ExposureMax = vts > 4 ? static_cast<QOR_UINT32>(std::floor((vts - 4) * info->flTrow)) : 0;
    info->flFrameRate = vts != 0 && info->flTrow > 0 ? 1000000.0 / (vts * info->flTrow) : 0.0;
    info->ui8MipiHsFreqRange = psCam->pModes[nMode].hsFreqRange;
    info->bValidFrequency = psCam->refClock == psCam->pModes[nMode].supportedFrequency ? QOR_TRUE : QOR_FALSE;
    psCam->num_lanes = info->ui8MipiLanes;
    return QOR_RES_OK;
}

void IMX219_ApplyConfig(CAM_STRUCT * /*psCam*/) {}

void IMX219_ApplyMode(CAM_STRUCT *psCam) {
    if (psCam->currModeReg == nullptr) {
        QOR_LOG_ERROR(kTag, "current register modes not available!\n");
        return;
    }
    const QOR_UINT8 flip = psCam->ui8CurrentFlipping;
    WriteTable(psCam, psCam->currModeReg, psCam->nModeRegisters, [flip](QOR_UINT8 *e) {
        if (entryRegister(e, 2) == 0x0172)
            e[2] = SonyOrientation(e[2], flip, 0x02, 0x01);
    });
}

void IMX219_ComputeExposureGain(CAM_STRUCT *psCam, QOR_UINT8 ui8Context, double flGain, QOR_UINT8 *regs) {
    const long d = std::lround(flGain * 24.0);
    if (d < 256) {
        regs[2] = static_cast<QOR_UINT8>(std::lround(256.0 - 256.0 / flGain));
        regs[3 + 2] = 0x01;
        regs[6 + 2] = 0x00;
    } else {
        regs[2] = kMaxAnalogueCode;
        regs[3 + 2] = static_cast<QOR_UINT8>((d >> 8) & 0xFF);
        regs[6 + 2] = static_cast<QOR_UINT8>(d & 0xFF);
    }
    const unsigned l = SaturatedLines(psCam, ui8Context, 0xFFFF); // 16 bits of coarse integration
    regs[9 + 2] = static_cast<QOR_UINT8>(l >> 8);
    regs[12 + 2] = static_cast<QOR_UINT8>(l & 0xFF);
}

QOR_RESULT IMX219_SetExposureGain(SENSOR_HANDLE hHandle, QOR_UINT32 ui32Exposure, double flGain, QOR_UINT8 ui8Context) {
    QOR_UINT8 regs[] = {SONY_R(0x0157, 0), SONY_R(0x0158, 1), SONY_R(0x0159, 0), SONY_R(0x015A, 0), SONY_R(0x015B, 0)};
    static_assert(sizeof(regs) == 15, "five entries");
    return SensorFuncSetExposureGain(hHandle, ui32Exposure, flGain, ui8Context, regs, sizeof regs, 0);
}

QOR_RESULT IMX219_Disable(SENSOR_HANDLE hHandle) { return SensorFuncDisable(hHandle, disableRegs, sizeof disableRegs); }

QOR_RESULT IMX219_GetInfo(SENSOR_HANDLE hHandle, SENSOR_INFO *psInfo) {
    static const InfoFacts kInfo = {
        {IMX219_SENSOR_INFO_NAME, nullptr},
        true,
        {0x0000, "Reading device ID (GetInfo) \n", true},
        {1.2, 1.12, true, 0, 4300, 5.0},
        true,
        1,
        imx219_config_num_modes,
    };
    return FillInfo(__func__, __LINE__, kTag, kInfo, hHandle, psInfo);
}

QOR_RESULT IMX219_Create(SENSOR_HANDLE *phHandle, sensor_num nSensor) {
    const DriverSetup d = {"IMX219",
                           0x10,
                           2,
                           0x0000,
                           0x0219,
                           imx219_configs,
                           1,
                           imx219_modes,
                           static_cast<QOR_UINT16>(sizeof imx219_modes / sizeof imx219_modes[0]),
                           imx219_config_num_modes,
                           1,
                           1.0,
                           170.0,
                           1.0};
    CAM_STRUCT *psCam = NewCam(d, nSensor, static_cast<QOR_UINT8>(GetImagerNum(nSensor)));
    if (psCam == nullptr)
        return QOR_RES_NO_MEMORY;
    psCam->sFuncs.Disable = IMX219_Disable;
    psCam->sFuncs.GetInfo = IMX219_GetInfo;
    psCam->sFuncs.SetExposureGain = IMX219_SetExposureGain;
    psCam->ApplyConfig = IMX219_ApplyConfig;
    psCam->ApplyMode = IMX219_ApplyMode;
    psCam->GetConfInfo = IMX219_GetConfInfo;
    psCam->GetModeInfo = IMX219_GetModeInfo;
    psCam->ComputeExposureGain = IMX219_ComputeExposureGain;
    return FinishCreate(psCam, phHandle);
}

QOR_RESULT IMX219_Create_0(SENSOR_HANDLE *phHandle) { return IMX219_Create(phHandle, SENSOR_MIRAVO_IMX219_0); }
QOR_RESULT IMX219_Create_1(SENSOR_HANDLE *phHandle) { return IMX219_Create(phHandle, SENSOR_MIRAVO_IMX219_1); }

} // extern "C"
