// The AR330 driver: fifteen fixed modes and a special mode from a file, lists of 16-bit address/value pairs ended
// by address 0xFFFF, registers written at SetMode, the parallel gasket, exposure in rows and gain as an analogue
// step times a global gain.
#include "sensors/ar330.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>

#include "norvacommon/regular_file.h"
#include "norvacommon/userlog.h"
#include "sensorapi/sensor_phy.h"
#include "sys/sys_seam.h"

namespace {

constexpr const char *kTag = AR330_LOG_TAG;
constexpr unsigned long kI2cSlave = 0x0703ul;
constexpr QOR_UINT8 kAddress = 0x10;
constexpr QOR_UINT16 kListEnd = 0xFFFF;
constexpr QOR_UINT16 kReadMode = 0x3040;
constexpr QOR_UINT32 kSetModeDelayUs = 1000;
constexpr QOR_UINT32 kExposureRowsMax = 65535;
constexpr QOR_UINT32 kModePairs = 36;

/** A mode list: mode 0's layout with its own window, timing and PLL (pre-divider 8, system 1, pixel 10). */
template <unsigned kExtra> struct ModeList {
    QOR_UINT16 pairs[2 * (kModePairs + kExtra + 1)];
    constexpr ModeList(QOR_UINT16 width, QOR_UINT16 height, QOR_UINT16 lineLength, QOR_UINT16 frameLength,
                       QOR_UINT16 multiplier)
        : pairs() {
        const QOR_UINT16 x0 = static_cast<QOR_UINT16>(0x0006 + (2304 - width) / 2);
        const QOR_UINT16 y0 = static_cast<QOR_UINT16>(0x0078 + (1296 - (height > 1296 ? 1296 : height)) / 2);
        const QOR_UINT16 list[] = {0x301A, 0x0058,
                                   0x3064, 0x1802,
                                   0x31AE, 0x0201,
                                   0x31AC, 0x0A0A,
                                   0x31B0, 0x0028,
                                   0x31B2, 0x000E,
                                   0x31B4, 0x2743,
                                   0x31B6, 0x114E,
                                   0x31B8, 0x2049,
                                   0x31BA, 0x0186,
                                   0x31BC, 0x8005,
                                   0x31BE, 0x2003,
                                   0x302A, 0x000A,
                                   0x302C, 0x0001,
                                   0x302E, 0x0008,
                                   0x3030, multiplier,
                                   0x3036, 0x000A,
                                   0x3038, 0x0001,
                                   0x31AC, 0x0A0A,
                                   0x3004, x0,
                                   0x3008, static_cast<QOR_UINT16>(x0 + width - 1),
                                   0x3002, y0,
                                   0x3006, static_cast<QOR_UINT16>(y0 + height - 1),
                                   0x30A2, 0x0001,
                                   0x30A6, 0x0001,
                                   0x3040, 0x0000,
                                   0x3040, 0x0000,
                                   0x3040, 0x0000,
                                   0x300C, lineLength,
                                   0x300A, frameLength,
                                   0x3014, 0x0000,
                                   0x3012, frameLength,
                                   0x3042, 0x0000,
                                   0x30BA, 0x002C,
                                   0x3088, 0x80BA,
                                   0x3086, 0x0253};
        unsigned n = 0;
        for (QOR_UINT16 v : list)
            pairs[n++] = v;
        for (unsigned i = 0; i < kExtra; i++) { // sequencer settings
            pairs[n++] = 0x3086;
            pairs[n++] = static_cast<QOR_UINT16>(0x2000 + i);
        }
        pairs[n++] = kListEnd;
        pairs[n++] = 0x0000;
    }
};

// Mode 0 as the sensor's reference settings give it (PLL 4 / 42 / 4 / 5: 12.6 MHz).
const QOR_UINT16 ui16ModeRegs_0[] = {
    0x301A, 0x0058, 0x3064, 0x1802, 0x31AE, 0x0201, 0x31AC, 0x0A0A,   0x31B0, 0x0028, 0x31B2, 0x000E, 0x31B4,
    0x2743, 0x31B6, 0x114E, 0x31B8, 0x2049, 0x31BA, 0x0186, 0x31BC,   0x8005, 0x31BE, 0x2003, 0x302A, 0x0005,
    0x302C, 0x0004, 0x302E, 0x0004, 0x3030, 0x002A, 0x3036, 0x000A,   0x3038, 0x0001, 0x31AC, 0x0A0A, 0x3004,
    0x0200, 0x3008, 0x06FF, 0x3002, 0x019C, 0x3006, 0x046B, 0x30A2,   0x0001, 0x30A6, 0x0001, 0x3040, 0x0000,
    0x3040, 0x0000, 0x3040, 0x0000, 0x300C, 0x03C4, 0x300A, 0x02DA,   0x3014, 0x0000, 0x3012, 0x02DA, 0x3042,
    0x0000, 0x30BA, 0x002C, 0x3088, 0x80BA, 0x3086, 0x0253, kListEnd, 0x0000};
static_assert(sizeof ui16ModeRegs_0 == 4 * (kModePairs + 1), "36 pairs");

// Multipliers at 3 MHz after the pre-divider and 10 after: pixel clock = 0.3 x multiplier.
constexpr ModeList<0> ui16ModeRegs_1(1280, 720, 1014, 864, 48);
constexpr ModeList<0> ui16ModeRegs_2(1280, 720, 1014, 864, 86);
constexpr ModeList<0> ui16ModeRegs_3(1920, 1080, 1104, 1248, 96);
constexpr ModeList<0> ui16ModeRegs_4(2304, 1296, 1248, 1308, 148);
constexpr ModeList<0> ui16ModeRegs_5(2304, 1296, 1248, 1308, 96);
constexpr ModeList<0> ui16ModeRegs_6(2304, 1296, 1248, 1308, 136);
constexpr ModeList<0> ui16ModeRegs_7(2304, 1296, 1248, 1308, 108);
constexpr ModeList<0> ui16ModeRegs_t1(1280, 720, 1014, 864, 43);
constexpr ModeList<0> ui16ModeRegs_t2(1280, 720, 1014, 864, 48);
constexpr ModeList<0> ui16ModeRegs_t3(1280, 720, 1014, 864, 50);
constexpr ModeList<0> ui16ModeRegs_t4(1280, 720, 1014, 864, 44);
constexpr ModeList<4> ui16ModeRegs_t5(1920, 1088, 2112, 1212, 48);
constexpr ModeList<0> ui16ModeRegs_hispi_0(1280, 720, 964, 864, 144);
constexpr ModeList<0> ui16ModeRegs_hispi_1(1280, 720, 964, 730, 42);

struct ar330_mode {
    QOR_UINT8 ui8Flipping;
    const QOR_UINT16 *modeRegisters;
    QOR_UINT32 nRegisters; /* pairs, counted on first use */
};

ar330_mode ar330_modes[] = {
    {3, ui16ModeRegs_0, 0},        {3, ui16ModeRegs_1.pairs, 0},       {3, ui16ModeRegs_2.pairs, 0},
    {3, ui16ModeRegs_3.pairs, 0},  {3, ui16ModeRegs_4.pairs, 0},       {3, ui16ModeRegs_5.pairs, 0},
    {3, ui16ModeRegs_6.pairs, 0},  {3, ui16ModeRegs_7.pairs, 0},       {3, ui16ModeRegs_t1.pairs, 0},
    {3, ui16ModeRegs_t2.pairs, 0}, {3, ui16ModeRegs_t3.pairs, 0},      {3, ui16ModeRegs_t4.pairs, 0},
    {3, ui16ModeRegs_t5.pairs, 0}, {3, ui16ModeRegs_hispi_0.pairs, 0}, {3, ui16ModeRegs_hispi_1.pairs, 0},
};
constexpr QOR_UINT16 kModeCount = sizeof ar330_modes / sizeof ar330_modes[0];

struct ARGAINTABLE {
    double flGain;
    QOR_UINT8 ui8GainRegVal;
};
const ARGAINTABLE asARGainValues[] = {
    {1.00, 0x00}, {1.03, 0x01}, {1.07, 0x02}, {1.10, 0x03}, {1.14, 0x04}, {1.19, 0x05}, {1.23, 0x06}, {1.28, 0x07},
    {1.33, 0x08}, {1.39, 0x09}, {1.45, 0x0A}, {1.52, 0x0B}, {1.60, 0x0C}, {1.68, 0x0D}, {1.78, 0x0E}, {1.88, 0x0F},
    {2.00, 0x10}, {2.13, 0x12}, {2.29, 0x14}, {2.46, 0x16}, {2.67, 0x18}, {2.91, 0x1A}, {3.20, 0x1C}, {3.56, 0x1E},
    {4.00, 0x20}, {4.57, 0x24}, {5.33, 0x28}, {6.40, 0x2C}, {8.00, 0x30}};

struct AR330CAM_STRUCT {
    SENSOR_FUNCS sFuncs; /* first: the record's address is the handle */
    double refClock;     /* MHz */
    QOR_UINT16 ui16CurrentMode;
    QOR_UINT8 ui8CurrentFlipping;
    QOR_BOOL bEnabled;
    QOR_UINT8 imager;
    SENSOR_MODE currMode;
    QOR_UINT32 ui32Exposure;
    double flGain;
    int i2c;
    SENSOR_PHY *psSensorPhy;
    QOR_UINT32 nSpecialRegisters;
    QOR_UINT16 *specialRegisters; /* pairs, ended by address 0xFFFF */
};

AR330CAM_STRUCT *camOf(SENSOR_HANDLE h) { return reinterpret_cast<AR330CAM_STRUCT *>(h); }

bool notInitialised(const AR330CAM_STRUCT *psCam) {
    if (psCam->psSensorPhy != nullptr)
        return false;
    QOR_LOG_ERROR(kTag, "sensor not initialised\n");
    return true;
}

QOR_RESULT writeRegister(AR330CAM_STRUCT *psCam, QOR_UINT16 reg, QOR_UINT16 value) {
    if (SEAM_Ioctl(psCam->i2c, kI2cSlave, reinterpret_cast<void *>(static_cast<uintptr_t>(kAddress))) < 0) {
        QOR_LOG_ERROR(kTag, "Failed to write I2C slave write address!\n");
        return QOR_RES_IO_FAILED;
    }
    const QOR_UINT8 bytes[4] = {static_cast<QOR_UINT8>(reg >> 8), static_cast<QOR_UINT8>(reg & 0xFF),
                                static_cast<QOR_UINT8>(value >> 8), static_cast<QOR_UINT8>(value & 0xFF)};
    const ssize_t written = SEAM_Write(psCam->i2c, bytes, 4);
    if (written != 4) {
        QOR_LOG_ERROR(kTag, "Failed to write I2C data! write_len = %d, register = 0x%x\n", static_cast<int>(written),
                      reg);
        return QOR_RES_FAILED;
    }
    return QOR_RES_OK;
}

/** Reads a register: its address and two zero bytes are written, then four bytes read, the value first. */
QOR_RESULT readRegister(AR330CAM_STRUCT *psCam, QOR_UINT16 reg, QOR_UINT16 *value) {
    if (SEAM_Ioctl(psCam->i2c, kI2cSlave, reinterpret_cast<void *>(static_cast<uintptr_t>(kAddress))) < 0) {
        QOR_LOG_ERROR(kTag, "Failed to write I2C slave read address!\n");
        return QOR_RES_IO_FAILED;
    }
    const QOR_UINT8 request[4] = {static_cast<QOR_UINT8>(reg >> 8), static_cast<QOR_UINT8>(reg & 0xFF), 0, 0};
    const ssize_t written = SEAM_Write(psCam->i2c, request, sizeof request);
    if (written != static_cast<ssize_t>(sizeof request))
        QOR_LOG_WARNING(kTag, "Wrote %dB instead of %luB before reading\n", static_cast<int>(written),
                        static_cast<unsigned long>(sizeof request));
    QOR_UINT8 bytes[4] = {0, 0, 0, 0};
    if (SEAM_Read(psCam->i2c, bytes, sizeof bytes) != static_cast<ssize_t>(sizeof bytes)) {
        QOR_LOG_ERROR(kTag, "Failed to read I2C at 0x%x\n", reg);
        return QOR_RES_FAILED;
    }
    *value = static_cast<QOR_UINT16>((bytes[0] << 8) | bytes[1]);
    return QOR_RES_OK;
}

/** The mode information of a list, with the default exposure; 11 when the list describes no mode. */
QOR_RESULT modeInfoOf(const AR330CAM_STRUCT *psCam, const QOR_UINT16 *regs, QOR_UINT32 pairs, QOR_UINT8 flipping,
                      SENSOR_MODE *info, QOR_UINT32 *defaultExposure) {
    if (regs == nullptr || pairs == 0)
        return QOR_RES_INVALID_PARAM;
    unsigned y0 = 0, x0 = 0, y1 = 0, x1 = 0, frame = 0, line = 0, coarse = 0, pix = 0, sys = 0, pre = 0, mult = 0,
             format = 0;
    for (QOR_UINT32 i = 0; i < pairs; i++) {
        const unsigned v = regs[2 * i + 1];
        switch (regs[2 * i]) {
        case 0x3002:
            y0 = v;
            break;
        case 0x3004:
            x0 = v;
            break;
        case 0x3006:
            y1 = v;
            break;
        case 0x3008:
            x1 = v;
            break;
        case 0x300A:
            frame = v;
            break;
        case 0x300C:
            line = v;
            break;
        case 0x3012:
            coarse = v;
            break;
        case 0x302A:
            pix = v;
            break;
        case 0x302C:
            sys = v;
            break;
        case 0x302E:
            pre = v;
            break;
        case 0x3030:
            mult = v;
            break;
        case 0x31AC:
            format = v;
            break;
        default:
            break;
        }
    }
    // A list without a usable clock or window describes no mode (nothing to divide by).
    if (pix == 0 || sys == 0 || pre == 0 || mult == 0 || line == 0 || x1 < x0 || y1 < y0)
        return QOR_RES_INVALID_PARAM;
    const double rate = psCam->refClock / pre * mult / sys / pix;
    const double t = line / rate;
    const QOR_UINT32 rowUs = static_cast<QOR_UINT32>(std::floor(t));
    std::memset(info, 0, sizeof *info);
    info->ui16Width = static_cast<QOR_UINT16>(x1 + 1 - x0);
    info->ui16Height = static_cast<QOR_UINT16>(y1 + 1 - y0);
    info->ui16HorizontalTotal = static_cast<QOR_UINT16>(2 * line);
    info->ui16VerticalTotal = static_cast<QOR_UINT16>(frame);
    info->flPixelRate = rate;
    // The row time is reported as well: exposure controls step by rows.
    info->flTrow = t;
    info->ui32ExposureMin = rowUs;
    info->ui32ExposureMax = rowUs * kExposureRowsMax;
    const double frameUs = std::floor(t * frame);
    info->flFrameRate = frameUs > 0 ? 1000000.0 / frameUs : 0.0;
    info->ui8SupportFlipping = flipping;
    info->ui8MipiLanes = 0;
    info->ui8BitDepth = static_cast<QOR_UINT8>(format >> 8);
    *defaultExposure = coarse * rowUs;
    return QOR_RES_OK;
}

/** The list of a mode (and its pair count), or null. */
const QOR_UINT16 *listOf(const AR330CAM_STRUCT *psCam, QOR_UINT16 mode, QOR_UINT32 *pairs, QOR_UINT8 *flipping) {
    if (mode == AR330_SPECIAL_MODE) {
        *pairs = psCam->nSpecialRegisters;
        *flipping = 0;
        return psCam->specialRegisters;
    }
    if (mode >= kModeCount)
        return nullptr;
    ar330_mode &row = ar330_modes[mode];
    if (row.nRegisters == 0) {
        while (row.modeRegisters[2 * row.nRegisters] != kListEnd)
            row.nRegisters++;
    }
    *pairs = row.nRegisters;
    *flipping = row.ui8Flipping;
    return row.modeRegisters;
}

QOR_RESULT getModeInfo(const AR330CAM_STRUCT *psCam, QOR_UINT16 mode, SENSOR_MODE *info, QOR_UINT32 *exposure) {
    QOR_UINT32 pairs = 0;
    QOR_UINT8 flipping = 0;
    const QOR_UINT16 *regs = listOf(psCam, mode, &pairs, &flipping);
    if (regs == nullptr)
        return QOR_RES_INVALID_PARAM;
    return modeInfoOf(psCam, regs, pairs, flipping, info, exposure);
}

} // namespace

extern "C" {

QOR_RESULT AR330_GetMode(SENSOR_HANDLE hHandle, QOR_UINT16 nIndex, SENSOR_MODE *psModes) {
    AR330CAM_STRUCT *psCam = camOf(hHandle);
    if (notInitialised(psCam))
        return QOR_RES_NOT_INITIALISED;
    QOR_UINT32 exposure = 0;
    return getModeInfo(psCam, nIndex, psModes, &exposure) == QOR_RES_OK ? QOR_RES_OK : QOR_RES_NOT_SUPPORTED;
}

QOR_RESULT AR330_GetState(SENSOR_HANDLE hHandle, SENSOR_STATUS *psStatus) {
    AR330CAM_STRUCT *psCam = camOf(hHandle);
    if (psCam->psSensorPhy == nullptr) {
        QOR_LOG_WARNING(kTag, "sensor not initialised\n");
        psStatus->eState = SENSOR_STATE_UNINITIALISED;
        psStatus->ui16CurrentMode = 0;
        return QOR_RES_OK;
    }
    psStatus->eState = psCam->bEnabled ? SENSOR_STATE_RUNNING : SENSOR_STATE_IDLE;
    psStatus->ui16CurrentMode = psCam->ui16CurrentMode;
    psStatus->ui8Flipping = psCam->ui8CurrentFlipping;
    return QOR_RES_OK;
}

QOR_RESULT AR330_SetMode(SENSOR_HANDLE hHandle, QOR_UINT16 nMode, QOR_UINT8 ui8Flipping) {
    AR330CAM_STRUCT *psCam = camOf(hHandle);
    if (notInitialised(psCam))
        return QOR_RES_NOT_INITIALISED;
    QOR_UINT32 exposure = 0;
    if (getModeInfo(psCam, nMode, &psCam->currMode, &exposure) != QOR_RES_OK) {
        QOR_LOG_WARNING(kTag, "failed to get information about mode %u\n", nMode);
        return QOR_RES_INVALID_PARAM;
    }
    psCam->psSensorPhy->psConfig = SensorPhyConfigPtr(SENSOR_MIRAVO_AR0330);
    QOR_UINT32 pairs = 0;
    QOR_UINT8 supported = 0;
    const QOR_UINT16 *regs = listOf(psCam, nMode, &pairs, &supported);
    if ((ui8Flipping & ~supported) != 0) {
        QOR_LOG_ERROR(kTag, "sensor mode does not support selected flipping 0x%x (supports 0x%x)\n", ui8Flipping,
                      supported);
        return QOR_RES_NOT_SUPPORTED;
    }
    bool flipped = false;
    for (QOR_UINT32 i = 0; i < pairs; i++) {
        const QOR_UINT16 reg = regs[2 * i];
        QOR_UINT16 value = regs[2 * i + 1];
        if (reg == kReadMode) {
            value = static_cast<QOR_UINT16>((ui8Flipping << 14) | (value & 0x3FFF));
            flipped = true;
        }
        const QOR_RESULT ret = writeRegister(psCam, reg, value);
        if (ret != QOR_RES_OK) {
            LOG_Error("AR330_ApplyMode", __LINE__, kTag, "failed to setup register %d/%d\n", 2 * i, 2 * pairs);
            QOR_LOG_ERROR(kTag, "failed to configure mode %d\n", nMode);
            return ret;
        }
    }
    if (!flipped)
        QOR_LOG_WARNING(kTag, "Did not find register 0x%x in mode %d to apply flipping %d %d!\n", kReadMode, nMode,
                        ui8Flipping & 1, ui8Flipping & 2);
    SEAM_Usleep(kSetModeDelayUs);
    CI_GASKET *gasket = psCam->psSensorPhy->psGasket;
    gasket->bParallel = QOR_TRUE;
    gasket->uiWidth = psCam->currMode.ui16Width;
    gasket->uiHeight = static_cast<QOR_UINT16>(psCam->currMode.ui16Height - 1);
    gasket->bVSync = QOR_TRUE;
    gasket->bHSync = QOR_TRUE;
    gasket->ui8ParallelBitdepth = psCam->currMode.ui8BitDepth;
    gasket->uiGasket = psCam->imager;
    sensor_miravo_if_config *config = psCam->psSensorPhy->psConfig;
    if (config != nullptr) {
        config->params.pixel_res = psCam->currMode.ui8BitDepth;
        config->params.frame_width = psCam->currMode.ui16Width;
        config->params.frame_height = psCam->currMode.ui16Height;
    }
    psCam->ui32Exposure = exposure;
    psCam->flGain = 1.0;
    psCam->ui16CurrentMode = nMode;
    psCam->ui8CurrentFlipping = ui8Flipping;
    return QOR_RES_OK;
}

QOR_RESULT AR330_SetExposureGain(SENSOR_HANDLE hHandle, QOR_UINT32 ui32Exposure, double flGain,
                                 QOR_UINT8 /*ui8Context*/) {
    AR330CAM_STRUCT *psCam = camOf(hHandle);
    if (notInitialised(psCam))
        return QOR_RES_NOT_INITIALISED;
    psCam->ui32Exposure = ui32Exposure;
    const QOR_UINT32 rowUs = psCam->currMode.ui32ExposureMin;
    QOR_UINT32 rows = rowUs != 0 ? ui32Exposure / rowUs : 0;
    if (rows > 0xFFFF) { // the register holds 16 bits: saturate rather than wrap to a short exposure
        rows = 0xFFFF;
        psCam->ui32Exposure = rows * rowUs; // what the sensor runs with
    }
    QOR_RESULT ret = writeRegister(psCam, 0x3012, static_cast<QOR_UINT16>(rows));
    if (ret != QOR_RES_OK) {
        QOR_LOG_ERROR(kTag, "failed to set exposure\n");
        return ret;
    }
    psCam->flGain = flGain;
    unsigned step = 0;
    for (unsigned i = 0; i <= 27; i++)
        if (asARGainValues[i].flGain <= flGain)
            step = i;
    const double global = std::round(flGain / asARGainValues[step].flGain * 128.0);
    const QOR_UINT16 globalCode = static_cast<QOR_UINT16>(global > 0xFFFF ? 0xFFFF : (global < 0 ? 0 : global));
    ret = writeRegister(psCam, 0x305E, globalCode);
    if (ret != QOR_RES_OK) {
        QOR_LOG_ERROR(kTag, "failed to set global gain register\n");
        return ret;
    }
    ret = writeRegister(psCam, 0x3060, static_cast<QOR_UINT16>(asARGainValues[step].ui8GainRegVal * 257));
    if (ret != QOR_RES_OK) {
        QOR_LOG_ERROR(kTag, "failed to set analogue gain register\n");
        return ret;
    }
    return QOR_RES_OK;
}

QOR_RESULT AR330_Enable(SENSOR_HANDLE hHandle) {
    AR330CAM_STRUCT *psCam = camOf(hHandle);
    if (notInitialised(psCam))
        return QOR_RES_NOT_INITIALISED;
    QOR_LOG_INFO(kTag, "Enabling AR330 Camera!\n");
    SENSOR_PHY *phy = psCam->psSensorPhy;
    phy->psConfig = SensorPhyConfigPtr(SENSOR_MIRAVO_AR0330);
    QOR_RESULT ret = SensorPhyCtrl(phy, QOR_TRUE, psCam->currMode.ui8MipiLanes, 10, 0);
    if (ret != QOR_RES_OK) {
        if (ret == SENSOR_PHY_REFUSED)
            SensorPhyCtrl(phy, QOR_FALSE, 0, 0, 0); // the port was claimed
        return ret;
    }
    ret = writeRegister(psCam, 0x301A, 0x005C);
    if (ret != QOR_RES_OK)
        QOR_LOG_ERROR(kTag, "failed to enable sensor\n");
    QOR_UINT16 red = 0, testData = 0;
    if (ret == QOR_RES_OK)
        ret = readRegister(psCam, 0x30F0, &red);
    if (ret == QOR_RES_OK)
        ret = readRegister(psCam, 0x3072, &testData);
    if (ret != QOR_RES_OK) {
        // Not streaming: leave the sensor stopped and the port free.
        writeRegister(psCam, 0x301A, 0x0058);
        SensorPhyCtrl(phy, QOR_FALSE, 0, 0, 0);
        return ret;
    }
    QOR_LOG_INFO(kTag, "0x30F0 = 0x%04x - TEST_DATA_RED = 0x%04x\n", red, testData);
    psCam->bEnabled = QOR_TRUE;
    return QOR_RES_OK;
}

QOR_RESULT AR330_DisableSensor(SENSOR_HANDLE hHandle) {
    AR330CAM_STRUCT *psCam = camOf(hHandle);
    if (notInitialised(psCam))
        return QOR_RES_NOT_INITIALISED;
    QOR_LOG_INFO(kTag, "Disabling AR330 camera\n");
    psCam->bEnabled = QOR_FALSE;
    const QOR_RESULT ret = writeRegister(psCam, 0x301A, 0x0058);
    if (ret != QOR_RES_OK)
        QOR_LOG_ERROR(kTag, "failed to disable sensor!\n");
    if (psCam->currMode.flFrameRate > 0.0)
        SEAM_Usleep(static_cast<uint64_t>(std::floor(1000000.0 / psCam->currMode.flFrameRate)));
    psCam->psSensorPhy->psConfig = SensorPhyConfigPtr(SENSOR_MIRAVO_AR0330);
    SensorPhyCtrl(psCam->psSensorPhy, QOR_FALSE, 0, 0, 0);
    return ret;
}

QOR_RESULT AR330_DestroySensor(SENSOR_HANDLE hHandle) {
    AR330CAM_STRUCT *psCam = camOf(hHandle);
    if (notInitialised(psCam))
        return QOR_RES_NOT_INITIALISED;
    QOR_LOG_INFO(kTag, "Destroying AR330 camera\n");
    std::free(psCam->specialRegisters);
    psCam->specialRegisters = nullptr;
    psCam->nSpecialRegisters = 0;
    if (psCam->bEnabled)
        AR330_DisableSensor(hHandle);
    SensorPhyDeinit(psCam->psSensorPhy);
    if (psCam->i2c >= 0)
        SEAM_Close(psCam->i2c);
    std::free(psCam);
    return QOR_RES_OK;
}

QOR_RESULT AR330_GetInfo(SENSOR_HANDLE hHandle, SENSOR_INFO *psInfo) {
    AR330CAM_STRUCT *psCam = camOf(hHandle);
    if (notInitialised(psCam))
        return QOR_RES_NOT_INITIALISED;
    psInfo->eBayerOriginal = MOSAIC_GRBG;
    psInfo->eBayerEnabled = MOSAIC_GRBG;
    std::snprintf(psInfo->pszSensorName, sizeof psInfo->pszSensorName, "AR330");
    QOR_LOG_WARNING(kTag, "failed to read revision from AR330 sensor\n");
    std::snprintf(psInfo->pszSensorVersion, sizeof psInfo->pszSensorVersion, "not-verified");
    // The Part reports imager 0; the sensor's frames arrive on its parallel port, which the pipeline must read.
    psInfo->ui8Imager = psCam->imager;
    psInfo->fNumber = 1.2;
    psInfo->ui16FocalLength = 30;
    psInfo->ui32WellDepth = 7500;
    psInfo->flReadNoise = 5.0;
    psInfo->bBackFacing = QOR_TRUE;
    return QOR_RES_OK;
}

QOR_RESULT AR330_GetGainRange(SENSOR_HANDLE /*hHandle*/, double *pflMin, double *pflMax, QOR_UINT8 *puiContexts) {
    *pflMin = 1.0;
    *pflMax = 16.0;
    *puiContexts = 1;
    return QOR_RES_OK;
}

QOR_RESULT AR330_GetGain(SENSOR_HANDLE hHandle, double *pflCurrent, QOR_UINT8 /*ui8Context*/) {
    AR330CAM_STRUCT *psCam = camOf(hHandle);
    if (notInitialised(psCam))
        return QOR_RES_NOT_INITIALISED;
    *pflCurrent = psCam->flGain;
    return QOR_RES_OK;
}

QOR_RESULT AR330_GetExposureRange(SENSOR_HANDLE hHandle, QOR_UINT32 *pui32Min, QOR_UINT32 *pui32Max,
                                  QOR_UINT8 *pui8Contexts) {
    AR330CAM_STRUCT *psCam = camOf(hHandle);
    if (notInitialised(psCam))
        return QOR_RES_NOT_INITIALISED;
    *pui32Min = psCam->currMode.ui32ExposureMin;
    *pui32Max = psCam->currMode.ui32ExposureMax;
    *pui8Contexts = 1;
    return QOR_RES_OK;
}

QOR_RESULT AR330_GetExposure(SENSOR_HANDLE hHandle, QOR_UINT32 *pui32Exposure, QOR_UINT8 /*ui8Context*/) {
    AR330CAM_STRUCT *psCam = camOf(hHandle);
    if (notInitialised(psCam))
        return QOR_RES_NOT_INITIALISED;
    *pui32Exposure = psCam->ui32Exposure;
    return QOR_RES_OK;
}

QOR_RESULT AR330_SetConnection(SENSOR_HANDLE hHandle, CI_CONNECTION *pConn) {
    AR330CAM_STRUCT *psCam = camOf(hHandle);
    if (psCam->psSensorPhy == nullptr)
        return QOR_RES_DEVICE_FAILED;
    SensorPhySetConnection(psCam->psSensorPhy, pConn);
    return QOR_RES_OK;
}

QOR_RESULT AR330_LoadSpecialModeRegisters(SENSOR_HANDLE hHandle, const char *filename) {
    AR330CAM_STRUCT *psCam = camOf(hHandle);
    if (notInitialised(psCam))
        return QOR_RES_NOT_INITIALISED;
    FILE *f = filename != nullptr ? QOR_OpenRegularFile(filename, "r") : nullptr;
    if (f == nullptr) {
        QOR_LOG_ERROR(kTag, "Failed to open '%s'\n", filename != nullptr ? filename : "(null)");
        return QOR_RES_INVALID_PARAM;
    }
    // The file is untrusted: the array is bounded, and a refused file leaves the loaded registers as they were.
    QOR_UINT32 capacity = 80 / 2, pairs = 0;
    QOR_UINT16 *regs = static_cast<QOR_UINT16 *>(std::malloc(sizeof(QOR_UINT16) * 2 * (capacity + 1)));
    QOR_RESULT ret = regs != nullptr ? QOR_RES_OK : QOR_RES_NO_MEMORY;
    unsigned address = 0, value = 0;
    while (ret == QOR_RES_OK && std::fscanf(f, "%x %x", &address, &value) == 2) {
        if (address >= kListEnd || value > 0xFFFF) {
            QOR_LOG_ERROR(kTag, "register 0x%x = 0x%x in '%s' is out of range\n", address, value, filename);
            ret = QOR_RES_INVALID_PARAM;
            break;
        }
        if (pairs == AR330_MAX_SPECIAL_REGISTERS) {
            QOR_LOG_ERROR(kTag, "'%s' holds more than %d registers\n", filename, AR330_MAX_SPECIAL_REGISTERS);
            ret = QOR_RES_FAILED;
            break;
        }
        if (pairs == capacity) {
            capacity *= 2;
            QOR_UINT16 *grown = static_cast<QOR_UINT16 *>(std::realloc(regs, sizeof(QOR_UINT16) * 2 * (capacity + 1)));
            if (grown == nullptr) {
                ret = QOR_RES_NO_MEMORY;
                break;
            }
            regs = grown;
        }
        regs[2 * pairs] = static_cast<QOR_UINT16>(address);
        regs[2 * pairs + 1] = static_cast<QOR_UINT16>(value);
        pairs++;
    }
    std::fclose(f);
    if (ret == QOR_RES_OK) {
        QOR_LOG_INFO(kTag, "%d registers were loaded from '%s'\n", pairs, filename);
        if (pairs < 2) {
            QOR_LOG_ERROR(kTag, "Did not read enough information!\n");
            ret = QOR_RES_FAILED;
        }
    }
    if (ret == QOR_RES_OK) {
        regs[2 * pairs] = kListEnd;
        regs[2 * pairs + 1] = 0;
        SENSOR_MODE mode;
        QOR_UINT32 exposure = 0;
        const QOR_RESULT info = modeInfoOf(psCam, regs, pairs, 0, &mode, &exposure);
        if (info != QOR_RES_OK) {
            QOR_LOG_ERROR(kTag, "Loaded registers from '%s' make AR330_GetModeInfo() return error %d\n", filename,
                          info);
            ret = QOR_RES_NOT_SUPPORTED;
        }
    }
    if (ret != QOR_RES_OK) {
        std::free(regs);
        return ret;
    }
    std::free(psCam->specialRegisters);
    psCam->specialRegisters = regs;
    psCam->nSpecialRegisters = pairs;
    return QOR_RES_OK;
}

QOR_RESULT AR330_Create(SENSOR_HANDLE *phHandle) {
    AR330CAM_STRUCT *psCam = static_cast<AR330CAM_STRUCT *>(std::calloc(1, sizeof(AR330CAM_STRUCT)));
    if (psCam == nullptr)
        return QOR_RES_NO_MEMORY;
    *phHandle = &psCam->sFuncs;
    SENSOR_FUNCS &f = psCam->sFuncs;
    f.GetMode = AR330_GetMode;
    f.GetState = AR330_GetState;
    f.SetMode = AR330_SetMode;
    f.Enable = AR330_Enable;
    f.Disable = AR330_DisableSensor;
    f.Destroy = AR330_DestroySensor;
    f.GetInfo = AR330_GetInfo;
    f.GetGainRange = AR330_GetGainRange;
    f.GetCurrentGain = AR330_GetGain;
    f.GetExposureRange = AR330_GetExposureRange;
    f.GetExposure = AR330_GetExposure;
    f.SetExposureGain = AR330_SetExposureGain;
    f.SetConnection = AR330_SetConnection;
    psCam->refClock = 24.0;
    psCam->imager = static_cast<QOR_UINT8>(GetImagerNum(SENSOR_MIRAVO_AR0330));
    psCam->i2c = -1;

    char path[64];
    QOR_RESULT ret = QOR_RES_DEVICE_FAILED;
    if (find_i2c_dev(path, sizeof path) != QOR_RES_OK) {
        QOR_LOG_ERROR(kTag, "Failed to find I2C device!\n");
        goto fail;
    }
    psCam->i2c = SEAM_Open(path, O_RDWR, 0);
    if (psCam->i2c < 0) {
        QOR_LOG_ERROR(kTag, "Failed to open I2C device: \"%s\", err = %d\n", path, psCam->i2c);
        goto fail;
    }
    if (getModeInfo(psCam, 0, &psCam->currMode, &psCam->ui32Exposure) != QOR_RES_OK) {
        QOR_LOG_ERROR(kTag, "Failed to get initial mode information!\n");
        ret = QOR_RES_FAILED;
        goto fail;
    }
    psCam->psSensorPhy = SensorPhyInit(SENSOR_MIRAVO_AR0330);
    if (psCam->psSensorPhy == nullptr) {
        QOR_LOG_ERROR(kTag, "Failed to create sensor phy!\n");
        goto fail;
    }
    psCam->flGain = 1.0;
    return QOR_RES_OK;

fail:
    if (psCam->i2c >= 0)
        SEAM_Close(psCam->i2c);
    std::free(psCam);
    *phHandle = nullptr;
    return ret;
}

} // extern "C"
