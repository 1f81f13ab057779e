// The OV4688 driver: one 1280 x 720 mode on one MIPI lane, its own register list (3-byte entries, 0xFF delays,
// 0xFE end), its own I2C access on the first bus, PHY and gasket through the PHY layer. Geometry and clock are read
// from the list; exposure and gain go in two register groups.
#include "sensors/ov4688.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>

#include "norvacommon/userlog.h"
#include "sensorapi/sensor_phy.h"
#include "sys/sys_seam.h"

namespace {

constexpr const char *kTag = OV4688_LOG_TAG;
constexpr unsigned long kI2cSlave = 0x0703ul;
constexpr QOR_UINT8 kAddress = 0x36;
constexpr QOR_UINT16 kChipIdRegister = 0x300A;
constexpr QOR_UINT16 kChipId = 0x4688;
constexpr QOR_UINT32 kInitialExposure = 26878;
constexpr QOR_UINT32 kInitialExposureFactor = 302;
constexpr QOR_UINT32 kExposureLinesMax = 0xFFFFF;
constexpr QOR_UINT32 kRegisterRowsMax = 0xFFFF;
constexpr QOR_UINT8 kListDelay = 0xFF;
constexpr QOR_UINT8 kListEnd = 0xFE;
constexpr QOR_UINT32 kModeEntries = 320;
constexpr QOR_UINT16 kFocusMin = 50;
constexpr QOR_UINT16 kFocusMax = 600;
constexpr double kDefaultClock = 120000000.0;

#define R4688(a, v) static_cast<QOR_UINT8>((a) >> 8), static_cast<QOR_UINT8>((a)&0xFF), static_cast<QOR_UINT8>(v)
#define R4688_16(a, v) R4688(a, ((v) >> 8) & 0xFF), R4688((a) + 1, (v)&0xFF)

// Full-size set-up (2688 x 1520, four lanes): software reset, PLLs, MIPI, format, window, timing, black level.
constexpr QOR_UINT8 kFullSetup[] = {
    R4688(0x0103, 0x01),    R4688(0x3638, 0x00),    R4688(0x0300, 0x00),    R4688(0x0302, 0x2A),
    R4688(0x0303, 0x00),    R4688(0x0304, 0x03),    R4688(0x030B, 0x00),    R4688(0x030C, 0x00),
    R4688(0x030D, 0x1E),    R4688(0x030E, 0x04),    R4688(0x030F, 0x01),    R4688(0x0312, 0x01),
    R4688(0x031E, 0x00),    R4688(0x3000, 0x20),    R4688(0x3002, 0x00),    R4688(0x3018, 0x72),
    R4688(0x3020, 0x93),    R4688(0x3021, 0x03),    R4688(0x3022, 0x01),    R4688(0x3031, 0x0A),
    R4688(0x303F, 0x0C),    R4688(0x3305, 0xF1),    R4688(0x3307, 0x04),    R4688(0x3309, 0x29),
    R4688(0x3500, 0x00),    R4688(0x3501, 0x60),    R4688(0x3502, 0x00),    R4688(0x3503, 0x04),
    R4688(0x3504, 0x00),    R4688(0x3505, 0x00),    R4688(0x3506, 0x00),    R4688(0x3507, 0x00),
    R4688(0x3508, 0x00),    R4688(0x3509, 0x80),    R4688(0x350A, 0x00),    R4688(0x350B, 0x00),
    R4688(0x350C, 0x00),    R4688(0x350D, 0x00),    R4688(0x350E, 0x00),    R4688(0x350F, 0x80),
    R4688_16(0x3800, 8),    R4688_16(0x3802, 4),    R4688_16(0x3804, 2711), R4688_16(0x3806, 1531),
    R4688_16(0x3808, 2688), R4688_16(0x380A, 1520), R4688_16(0x380C, 2576), R4688_16(0x380E, 1554),
    R4688_16(0x3810, 8),    R4688_16(0x3812, 4),    R4688(0x3814, 0x01),    R4688(0x3815, 0x01),
    R4688(0x3819, 0x01),    R4688(0x3820, 0x00),    R4688(0x3821, 0x00),    R4688(0x3829, 0x00),
    R4688(0x382A, 0x01),    R4688(0x382B, 0x01),    R4688(0x3830, 0x08),    R4688(0x3836, 0x02),
    R4688(0x3837, 0x18),    R4688(0x3841, 0xFF),    R4688(0x3846, 0x48),    R4688(0x3D85, 0x14),
    R4688(0x3F08, 0x08),    R4688(0x3F0A, 0x80),    R4688(0x4000, 0xF1),    R4688(0x4001, 0x40),
    R4688(0x4002, 0x00),    R4688(0x4003, 0x14),    R4688(0x400E, 0x00),    R4688(0x4011, 0x00),
    R4688(0x401A, 0x00),    R4688(0x401B, 0x00),    R4688(0x401C, 0x00),    R4688(0x401D, 0x00),
    R4688(0x401F, 0x00),    R4688(0x4020, 0x00),    R4688(0x4021, 0x10),    R4688(0x4022, 0x07),
    R4688(0x4023, 0xCF),    R4688(0x4024, 0x09),    R4688(0x4025, 0x60),    R4688(0x4026, 0x09),
    R4688(0x4027, 0x6F),    R4688(0x4028, 0x00),    R4688(0x4029, 0x02),    R4688(0x402A, 0x06),
    R4688(0x402B, 0x04),    R4688(0x402C, 0x02),    R4688(0x402D, 0x02),    R4688(0x402E, 0x0E),
    R4688(0x402F, 0x04),    R4688(0x4302, 0xFF),    R4688(0x4303, 0xFF),    R4688(0x4304, 0x00),
    R4688(0x4305, 0x00),    R4688(0x4306, 0x00),    R4688(0x4308, 0x02),    R4688(0x4500, 0x6C),
    R4688(0x4501, 0xC4),    R4688(0x4502, 0x40),    R4688(0x4503, 0x01),    R4688(0x4601, 0xA7),
    R4688(0x4800, 0x04),    R4688(0x4813, 0x08),    R4688(0x481F, 0x40),    R4688(0x4829, 0x78),
    R4688(0x4837, 0x10),    R4688(0x4B00, 0x2A),    R4688(0x4B0D, 0x00),    R4688(0x4D00, 0x04),
    R4688(0x4D01, 0x42),    R4688(0x4D02, 0xD1),    R4688(0x4D03, 0x93),    R4688(0x4D04, 0xF5),
    R4688(0x4D05, 0xC1),    R4688(0x5000, 0xF3),    R4688(0x5001, 0x11),    R4688(0x5004, 0x00),
    R4688(0x500A, 0x00),    R4688(0x500B, 0x00),    R4688(0x5032, 0x00),    R4688(0x5040, 0x00),
    R4688(0x5050, 0x0C),    R4688(0x5500, 0x00),    R4688(0x5501, 0x10),    R4688(0x5502, 0x01),
    R4688(0x5503, 0x0F),    R4688(0x8000, 0x00),    R4688(0x8001, 0x00),    R4688(0x8002, 0x00),
    R4688(0x8003, 0x00),    R4688(0x8004, 0x00),    R4688(0x8005, 0x00),    R4688(0x8006, 0x00),
    R4688(0x8007, 0x00),    R4688(0x8008, 0x00),    R4688(0x3638, 0x00)};

// The 1280 x 720 settings after the 15 ms pause: one lane, 10 bits, 24 MHz x 27 / 4 / 3 = 54 MHz, 5312 x 756 totals.
constexpr QOR_UINT8 kMode720[] = {
    R4688(0x030B, 0x00),   R4688(0x030C, 0x00),    R4688(0x030D, 0x1B),    R4688(0x030E, 0x04),
    R4688(0x030F, 0x03),   R4688(0x0311, 0x00),    R4688(0x3018, 0x12),    R4688(0x3019, 0x0E),
    R4688(0x3031, 0x0A),   R4688(0x3632, 0x05),    R4688(0x376B, 0x40),    R4688_16(0x3800, 64),
    R4688_16(0x3802, 40),  R4688_16(0x3804, 2623), R4688_16(0x3806, 1479), R4688_16(0x3808, 1280),
    R4688_16(0x380A, 720), R4688_16(0x380C, 5312), R4688_16(0x380E, 756),  R4688_16(0x3810, 8),
    R4688_16(0x3812, 4),   R4688(0x3814, 0x03),    R4688(0x3815, 0x01),    R4688(0x3820, 0x00),
    R4688(0x3821, 0x00),   R4688(0x382A, 0x03),    R4688(0x3830, 0x08),    R4688(0x3836, 0x02),
    R4688(0x4001, 0x50),   R4688(0x4022, 0x03),    R4688(0x4023, 0xE7),    R4688(0x4024, 0x05),
    R4688(0x4025, 0x14),   R4688(0x4026, 0x05),    R4688(0x4027, 0x23),    R4688(0x4502, 0x44),
    R4688(0x4601, 0x4F),   R4688(0x4837, 0x1C)};

// Stream on, the start exposure (274 rows) and gain 0x0374.
constexpr QOR_UINT8 kStreamOn[] = {R4688(0x0100, 0x01), R4688(0x3500, 0x00), R4688(0x3501, 0x11),
                                   R4688(0x3502, 0x20), R4688(0x3508, 0x03), R4688(0x3509, 0x74)};

constexpr QOR_UINT32 kFixedEntries = (sizeof kFullSetup + sizeof kMode720 + sizeof kStreamOn) / 3 + 1;
static_assert(kFixedEntries <= kModeEntries, "the 720p list holds 320 entries");

/** mode720p: the full set-up, analogue settings (0x3600 on) up to 320 entries, a 15 ms pause, 720p, stream on. */
struct ModeList {
    QOR_UINT8 bytes[3 * (kModeEntries + 1)];
    constexpr ModeList() : bytes() {
        unsigned n = 0;
        for (QOR_UINT8 b : kFullSetup)
            bytes[n++] = b;
        for (unsigned i = 0; i < kModeEntries - kFixedEntries; i++) {
            bytes[n++] = 0x36;
            bytes[n++] = static_cast<QOR_UINT8>(i);
            bytes[n++] = 0x00;
        }
        bytes[n++] = kListDelay;
        bytes[n++] = 15;
        bytes[n++] = 0x00;
        for (QOR_UINT8 b : kMode720)
            bytes[n++] = b;
        for (QOR_UINT8 b : kStreamOn)
            bytes[n++] = b;
        bytes[n++] = kListEnd;
        bytes[n++] = 0x00;
        bytes[n++] = 0x00;
    }
};
constexpr ModeList mode720p;

const QOR_UINT8 disableRegs[] = {R4688(0x0100, 0x00), kListDelay, 200, 0x00, R4688(0x301A, 0xF9), R4688(0x4805, 0x03)};
const QOR_UINT8 launchRegs[] = {R4688(0x320B, 0x00), R4688(0x3208, 0xE0)};

struct ov4688_mode {
    QOR_UINT8 ui8Flipping;
    const QOR_UINT8 *modeRegisters;
    QOR_UINT32 nRegisters; /* counted on first use up to the end entry */
};
ov4688_mode ov4688_modes[] = {{SENSOR_FLIP_BOTH, mode720p.bytes, 0}};

const double pll_ctrl_b_val[] = {1.0, 1.5, 2.0, 2.5, 3.0, 4.0, 6.0, 8.0};
const double pll_ctrl_c_val[] = {1.0, 1.5, 2.0, 2.5, 3.0, 3.5, 4.0, 5.0};

/** aec_long_gain_val: the code of gain 1 + k/16, in four octaves of 16, 32, 64 and 128 entries. */
struct GainTable {
    QOR_UINT16 codes[240];
    constexpr GainTable() : codes() {
        for (int k = 0; k < 240; k++) {
            if (k < 16)
                codes[k] = static_cast<QOR_UINT16>(128 + 8 * k);
            else if (k < 48)
                codes[k] = static_cast<QOR_UINT16>(376 + 4 * (k - 16));
            else if (k < 112)
                codes[k] = static_cast<QOR_UINT16>(884 + 2 * (k - 48));
            else
                codes[k] = static_cast<QOR_UINT16>(1912 + (k - 112));
        }
    }
};
constexpr GainTable aec_long_gain_val;

struct OV4688CAM_STRUCT {
    SENSOR_FUNCS sFuncs; /* first: the record's address is the handle */
    double refClock;     /* MHz */
    QOR_UINT16 ui16CurrentMode;
    QOR_UINT8 ui8CurrentFlipping;
    QOR_BOOL8 bEnabled;
    SENSOR_MODE currMode;
    const QOR_UINT8 *currModeReg;
    QOR_UINT32 nRegisters;
    QOR_UINT32 ui32Exposure;
    double flGain;
    QOR_UINT16 ui16CurrentFocus;
    QOR_UINT8 imager;
    int i2c;
    SENSOR_PHY *psSensorPhy;
};

OV4688CAM_STRUCT *camOf(SENSOR_HANDLE h) { return reinterpret_cast<OV4688CAM_STRUCT *>(h); }

bool notInitialised(const OV4688CAM_STRUCT *psCam) {
    if (psCam->psSensorPhy != nullptr)
        return false;
    QOR_LOG_ERROR(kTag, "sensor not initialised\n");
    return true;
}

QOR_RESULT setSlave(int fd) {
    if (SEAM_Ioctl(fd, kI2cSlave, reinterpret_cast<void *>(static_cast<uintptr_t>(kAddress))) < 0) {
        QOR_LOG_ERROR(kTag, "Failed to write I2C slave address!\n");
        return QOR_RES_IO_FAILED;
    }
    return QOR_RES_OK;
}

/** Sends a list (delays sleep); every entry is tried. 0, or 24 when any entry failed. */
QOR_RESULT writeList(int fd, const QOR_UINT8 *list, QOR_UINT32 entries, QOR_UINT8 flipping = 0,
                     bool patchFlip = false) {
    QOR_RESULT ret = setSlave(fd);
    for (QOR_UINT32 i = 0; i < entries; i++) {
        QOR_UINT8 e[3];
        std::memcpy(e, list + 3 * i, 3);
        if (e[0] == kListDelay) {
            SEAM_Usleep(static_cast<uint64_t>(e[1]) * 1000u);
            continue;
        }
        const QOR_UINT16 reg = static_cast<QOR_UINT16>((e[0] << 8) | e[1]);
        if (patchFlip && reg == 0x3820)
            e[2] = (flipping & SENSOR_FLIP_VERTICAL) ? 6 : 0;
        else if (patchFlip && reg == 0x3821)
            e[2] = (flipping & SENSOR_FLIP_HORIZONTAL) ? 6 : 0;
        const ssize_t written = SEAM_Write(fd, e, 3);
        if (written != 3) {
            QOR_LOG_ERROR(kTag, "Failed to write I2C data! write_len = %d, index = %d\n", static_cast<int>(written),
                          static_cast<int>(i));
            ret = QOR_RES_IO_FAILED;
        }
    }
    return ret;
}

QOR_RESULT readChipId(int fd, QOR_UINT16 *value) {
    if (SEAM_Ioctl(fd, kI2cSlave, reinterpret_cast<void *>(static_cast<uintptr_t>(kAddress))) < 0) {
        QOR_LOG_ERROR(kTag, "Failed to write I2C read address!\n");
        return QOR_RES_IO_FAILED;
    }
    const QOR_UINT8 address[2] = {kChipIdRegister >> 8, kChipIdRegister & 0xFF};
    const ssize_t written = SEAM_Write(fd, address, 2);
    if (written != 2)
        QOR_LOG_WARNING(kTag, "Wrote %dB instead of %luB before reading\n", static_cast<int>(written), 2ul);
    QOR_UINT8 bytes[2] = {0, 0};
    if (SEAM_Read(fd, bytes, 2) != 2) {
        QOR_LOG_ERROR(kTag, "Failed to read I2C at 0x%x\n", kChipIdRegister);
        return QOR_RES_FAILED;
    }
    *value = static_cast<QOR_UINT16>((bytes[0] << 8) | bytes[1]);
    return QOR_RES_OK;
}

/** The list's entry count up to its end entry, kept in the table. */
QOR_UINT32 entriesOf(ov4688_mode &row) {
    if (row.modeRegisters == nullptr)
        return 0;
    if (row.nRegisters == 0) {
        while (row.modeRegisters[3 * row.nRegisters] != kListEnd)
            row.nRegisters++;
    }
    return row.nRegisters;
}

QOR_UINT32 initialExposure(const SENSOR_MODE &mode) {
    const uint64_t e = static_cast<uint64_t>(kInitialExposureFactor) * mode.ui32ExposureMin;
    const QOR_UINT32 capped = e > UINT32_MAX ? mode.ui32ExposureMin : static_cast<QOR_UINT32>(e);
    return capped < mode.ui32ExposureMax ? capped : mode.ui32ExposureMax;
}

} // namespace

extern "C" {

static QOR_RESULT OV4688_GetModeInfo(OV4688CAM_STRUCT *psCam, QOR_UINT16 nMode, SENSOR_MODE *info) {
    if (nMode != 0 || ov4688_modes[0].modeRegisters == nullptr)
        return QOR_RES_NOT_SUPPORTED;
    const QOR_UINT32 n = entriesOf(ov4688_modes[0]);
    const QOR_UINT8 *regs = ov4688_modes[0].modeRegisters;
    unsigned bits = 0, lanes = 1, width = 0, height = 0, hts = 0, vts = 0, mult = 0;
    double prediv = 0, sysdiv = 0, div = 0, p = 0;
    QOR_UINT8 r[0x10] = {};
    for (QOR_UINT32 i = 0; i < n; i++) {
        const QOR_UINT8 *e = regs + 3 * i;
        if (e[0] == kListDelay)
            continue;
        const QOR_UINT8 v = e[2];
        switch ((e[0] << 8) | e[1]) {
        case 0x3031:
            bits = v & 0x1F;
            break;
        case 0x3018:
            lanes = ((v >> 5) & 3) + 1;
            break;
        case 0x030B:
            prediv = pll_ctrl_b_val[v & 7];
            break;
        case 0x030C:
            mult = (mult & 0xFF) | (v << 8);
            break;
        case 0x030D:
            mult = (mult & 0xFF00) | v;
            break;
        case 0x030E:
            sysdiv = pll_ctrl_c_val[v & 7];
            break;
        case 0x030F:
            div = v + 1;
            break;
        case 0x0311:
            p = v + 1;
            break;
        default:
            if (e[0] == 0x38 && e[1] >= 0x08 && e[1] <= 0x0F)
                r[e[1]] = v;
            break;
        }
    }
    width = (r[0x08] << 8) | r[0x09];
    height = (r[0x0A] << 8) | r[0x0B];
    hts = (r[0x0C] << 8) | r[0x0D];
    vts = (r[0x0E] << 8) | r[0x0F];
    double clock = 0;
    if (p == 0 || prediv == 0 || div == 0 || sysdiv == 0 || mult == 0) {
        clock = kDefaultClock;
        QOR_LOG_WARNING(kTag, "Did not find all PLL registers - assumes sclk of %ld MHz\n",
                        static_cast<long>(clock / 1000000.0));
    } else {
        clock = psCam->refClock * 1000000.0 / p / prediv * mult / div / sysdiv;
    }
    std::memset(info, 0, sizeof *info);
    info->ui16Width = static_cast<QOR_UINT16>(width);
    info->ui16Height = static_cast<QOR_UINT16>(height);
    info->ui16HorizontalTotal = static_cast<QOR_UINT16>(hts);
    info->ui16VerticalTotal = static_cast<QOR_UINT16>(vts);
    info->flPixelRate = clock;
    info->flFrameRate = hts * vts != 0 ? clock / (static_cast<double>(hts) * vts) : 0.0;
    // The shortest exposure is one row; the row time itself is not part of the description.
    info->ui32ExposureMin = static_cast<QOR_UINT32>(std::floor(hts / clock * 1000000.0));
    info->ui32ExposureMax = info->ui32ExposureMin * kExposureLinesMax;
    info->ui8MipiLanes = static_cast<QOR_UINT8>(lanes);
    info->ui8MipiHsFreqRange = 2;
    info->ui8SupportFlipping = SENSOR_FLIP_BOTH;
    info->ui8BitDepth = static_cast<QOR_UINT8>(bits);
    return QOR_RES_OK;
}

void OV4688_ComputeExposureGain(QOR_UINT32 ui32Exposure, double flGain, QOR_UINT32 ui32ExposureMin,
                                QOR_UINT8 *expGainRegs) {
    QOR_UINT16 code = 0x0080;
    if (flGain > 1.0) {
        long k = std::lround((flGain - 1.0) * 16.0);
        if (k > 239)
            k = 239;
        code = aec_long_gain_val.codes[k];
    }
    QOR_UINT32 lines = ui32ExposureMin != 0 ? ui32Exposure / ui32ExposureMin : 0;
    // The registers carry 16 bits of rows here: a longer exposure saturates instead of wrapping to a short one.
    if (lines > kRegisterRowsMax)
        lines = kRegisterRowsMax;
    expGainRegs[3 * 1 + 2] = 0x00;
    expGainRegs[3 * 2 + 2] = static_cast<QOR_UINT8>(code >> 8);
    expGainRegs[3 * 3 + 2] = static_cast<QOR_UINT8>(code & 0xFF);
    expGainRegs[3 * 8 + 2] = static_cast<QOR_UINT8>(lines >> 12);
    expGainRegs[3 * 9 + 2] = static_cast<QOR_UINT8>((lines >> 4) & 0xFF);
    expGainRegs[3 * 10 + 2] = static_cast<QOR_UINT8>((lines & 0xF) << 4);
}

QOR_RESULT OV4688_GetMode(SENSOR_HANDLE hHandle, QOR_UINT16 nIndex, SENSOR_MODE *psModes) {
    return OV4688_GetModeInfo(camOf(hHandle), nIndex, psModes);
}

QOR_RESULT OV4688_GetState(SENSOR_HANDLE hHandle, SENSOR_STATUS *psStatus) {
    OV4688CAM_STRUCT *psCam = camOf(hHandle);
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

QOR_RESULT OV4688_SetMode(SENSOR_HANDLE hHandle, QOR_UINT16 nMode, QOR_UINT8 ui8Flipping) {
    OV4688CAM_STRUCT *psCam = camOf(hHandle);
    if (notInitialised(psCam))
        return QOR_RES_NOT_INITIALISED;
    if (nMode != 0)
        return QOR_RES_INVALID_PARAM;
    ov4688_mode &row = ov4688_modes[0];
    if ((ui8Flipping & ~row.ui8Flipping) != 0) {
        QOR_LOG_ERROR(kTag, "sensor mode does not support selected flipping 0x%x (supports 0x%x)\n", ui8Flipping,
                      row.ui8Flipping);
        return QOR_RES_NOT_SUPPORTED;
    }
    SENSOR_MODE mode;
    if (OV4688_GetModeInfo(psCam, nMode, &mode) != QOR_RES_OK) {
        QOR_LOG_ERROR(kTag, "failed to get mode %d initial information!\n", nMode);
        return QOR_RES_FAILED;
    }
    psCam->currModeReg = row.modeRegisters;
    psCam->nRegisters = entriesOf(row);
    psCam->currMode = mode;
    psCam->ui16CurrentMode = 0;
    psCam->ui8CurrentFlipping = ui8Flipping;
    psCam->ui16CurrentFocus = kFocusMin;
    psCam->ui32Exposure = initialExposure(mode);
    return QOR_RES_OK;
}

QOR_RESULT OV4688_SetExposureGain(SENSOR_HANDLE hHandle, QOR_UINT32 ui32Exposure, double flGain,
                                  QOR_UINT8 /*ui8Context*/) {
    OV4688CAM_STRUCT *psCam = camOf(hHandle);
    if (notInitialised(psCam))
        return QOR_RES_NOT_INITIALISED;
    QOR_UINT8 regs[] = {R4688(0x3208, 0x01), R4688(0x3507, 0x00), R4688(0x3508, 0x00), R4688(0x3509, 0x00),
                        R4688(0x3208, 0x11), R4688(0x320B, 0x00), R4688(0x3208, 0xE1), R4688(0x3208, 0x02),
                        R4688(0x3500, 0x00), R4688(0x3501, 0x00), R4688(0x3502, 0x00), R4688(0x3208, 0x12),
                        R4688(0x320B, 0x00), R4688(0x3208, 0xE2)};
    static_assert(sizeof regs == 42, "fourteen entries");
    psCam->flGain = flGain;
    psCam->ui32Exposure = ui32Exposure;
    // Rows beyond the registers saturate: the exposure kept is then the one the sensor runs with.
    const QOR_UINT32 rowUs = psCam->currMode.ui32ExposureMin;
    if (rowUs != 0 && ui32Exposure / rowUs > kRegisterRowsMax)
        psCam->ui32Exposure = kRegisterRowsMax * rowUs;
    OV4688_ComputeExposureGain(ui32Exposure, flGain, rowUs, regs);
    return writeList(psCam->i2c, regs, sizeof regs / 3);
}

QOR_RESULT OV4688_Enable(SENSOR_HANDLE hHandle) {
    OV4688CAM_STRUCT *psCam = camOf(hHandle);
    if (notInitialised(psCam))
        return QOR_RES_NOT_INITIALISED;
    QOR_LOG_INFO(kTag, "Enabling OV4688 Camera!\n");
    SENSOR_PHY *phy = psCam->psSensorPhy;
    phy->psGasket->bParallel = QOR_FALSE;
    phy->psGasket->uiGasket = psCam->imager;
    phy->psConfig = SensorPhyConfigPtr(SENSOR_MIRAVO_OV4688);
    // A port that cannot be claimed or a PHY that refuses means no frames: say so rather than report streaming.
    QOR_RESULT ret = SensorPhyCtrl(phy, QOR_TRUE, psCam->currMode.ui8MipiLanes, 2, 1);
    if (ret != QOR_RES_OK) {
        if (ret == SENSOR_PHY_REFUSED)
            SensorPhyCtrl(phy, QOR_FALSE, 0, 0, 1); // the port was claimed
        QOR_LOG_ERROR(kTag, "failed to switch the sensor PHY on\n");
        return ret;
    }
    if (psCam->currModeReg == nullptr) {
        LOG_Error("OV4688_ApplyMode", __LINE__, kTag, "current register modes not available!\n");
        SensorPhyCtrl(phy, QOR_FALSE, 0, 0, 1);
        return QOR_RES_NOT_INITIALISED;
    }
    bool flip0 = false, flip1 = false, gain = false, exposure = false;
    for (QOR_UINT32 i = 0; i < psCam->nRegisters; i++) {
        const QOR_UINT8 *e = psCam->currModeReg + 3 * i;
        const unsigned reg = (e[0] << 8) | e[1];
        flip0 |= reg == 0x3820;
        flip1 |= reg == 0x3821;
        gain |= reg == 0x3507;
        exposure |= reg == 0x3500;
    }
    ret = writeList(psCam->i2c, psCam->currModeReg, psCam->nRegisters, psCam->ui8CurrentFlipping, true);
    psCam->ui32Exposure = initialExposure(psCam->currMode);
    if (!flip0)
        QOR_LOG_WARNING(kTag, "Did not find flipIndex0 in registers for mode %d\n", psCam->ui16CurrentMode);
    if (!flip1)
        QOR_LOG_WARNING(kTag, "Did not find flipIndex1 in registers for mode %d\n", psCam->ui16CurrentMode);
    if (!gain)
        QOR_LOG_WARNING(kTag, "Did not find gainIndex in registers for mode %d\n", psCam->ui16CurrentMode);
    if (!exposure)
        QOR_LOG_WARNING(kTag, "Did not find exposureIndex in registers for mode %d\n", psCam->ui16CurrentMode);
    if (ret == QOR_RES_OK)
        ret = writeList(psCam->i2c, launchRegs, sizeof launchRegs / 3);
    if (ret != QOR_RES_OK) {
        // A sensor that did not take its list does not stream: leave the port and the PHY as they were.
        QOR_LOG_ERROR(kTag, "failed to program the sensor: streaming not started\n");
        writeList(psCam->i2c, disableRegs, 1);
        SensorPhyCtrl(phy, QOR_FALSE, 0, 0, 1);
        return ret;
    }
    psCam->bEnabled = QOR_TRUE;
    return QOR_RES_OK;
}

QOR_RESULT OV4688_Disable(SENSOR_HANDLE hHandle) {
    OV4688CAM_STRUCT *psCam = camOf(hHandle);
    if (notInitialised(psCam))
        return QOR_RES_NOT_INITIALISED;
    if (!psCam->bEnabled)
        return QOR_RES_OK;
    QOR_LOG_INFO(kTag, "Disabling OV4688 camera\n");
    psCam->bEnabled = QOR_FALSE;
    const QOR_RESULT written = writeList(psCam->i2c, disableRegs, sizeof disableRegs / 3);
    if (psCam->currMode.flFrameRate > 0.0)
        SEAM_Usleep(static_cast<uint64_t>(std::floor(1000000.0 / psCam->currMode.flFrameRate)));
    psCam->psSensorPhy->psConfig = SensorPhyConfigPtr(SENSOR_MIRAVO_OV4688);
    const QOR_RESULT off = SensorPhyCtrl(psCam->psSensorPhy, QOR_FALSE, 0, 0, 1);
    return written != QOR_RES_OK ? written : off;
}

QOR_RESULT OV4688_Destroy(SENSOR_HANDLE hHandle) {
    OV4688CAM_STRUCT *psCam = camOf(hHandle);
    if (notInitialised(psCam))
        return QOR_RES_NOT_INITIALISED;
    if (psCam->bEnabled)
        OV4688_Disable(hHandle);
    SensorPhyDeinit(psCam->psSensorPhy);
    psCam->psSensorPhy = nullptr;
    psCam->currModeReg = nullptr;
    if (psCam->i2c >= 0)
        SEAM_Close(psCam->i2c);
    std::free(psCam);
    return QOR_RES_OK;
}

QOR_RESULT OV4688_GetInfo(SENSOR_HANDLE hHandle, SENSOR_INFO *psInfo) {
    OV4688CAM_STRUCT *psCam = camOf(hHandle);
    if (notInitialised(psCam))
        return QOR_RES_NOT_INITIALISED;
    psInfo->eBayerOriginal = MOSAIC_BGGR;
    psInfo->eBayerEnabled = MOSAIC_BGGR;
    std::snprintf(psInfo->pszSensorName, sizeof psInfo->pszSensorName, "OV4688");
    QOR_LOG_WARNING(kTag, "Reading device ID (GetInfo) \n");
    QOR_UINT16 id = 0;
    if (readChipId(psCam->i2c, &id) == QOR_RES_OK) {
        std::snprintf(psInfo->pszSensorVersion, sizeof psInfo->pszSensorVersion, "0x%x", id);
        QOR_LOG_WARNING(kTag, "Read device ID %s\n", psInfo->pszSensorVersion);
    } else {
        std::snprintf(psInfo->pszSensorVersion, sizeof psInfo->pszSensorVersion, "not-verified");
        QOR_LOG_WARNING(kTag, "Did not read device ID\n");
    }
    psInfo->ui16FocalLength = 30;
    psInfo->ui32WellDepth = 6040;
    psInfo->ui8Imager = 1;
    psInfo->bBackFacing = QOR_TRUE;
    psInfo->fNumber = 1.2;
    psInfo->fPixelSize = 2.0;
    psInfo->flReadNoise = 5.0;
    return QOR_RES_OK;
}

QOR_RESULT OV4688_GetGainRange(SENSOR_HANDLE /*hHandle*/, double *pflMin, double *pflMax, QOR_UINT8 *puiContexts) {
    *pflMin = 1.0;
    *pflMax = 16.0;
    *puiContexts = 1;
    return QOR_RES_OK;
}

QOR_RESULT OV4688_GetGain(SENSOR_HANDLE hHandle, double *pflCurrent, QOR_UINT8 /*ui8Context*/) {
    OV4688CAM_STRUCT *psCam = camOf(hHandle);
    if (notInitialised(psCam))
        return QOR_RES_NOT_INITIALISED;
    *pflCurrent = psCam->flGain;
    return QOR_RES_OK;
}

QOR_RESULT OV4688_GetExposureRange(SENSOR_HANDLE hHandle, QOR_UINT32 *pui32Min, QOR_UINT32 *pui32Max,
                                   QOR_UINT8 *pui8Contexts) {
    OV4688CAM_STRUCT *psCam = camOf(hHandle);
    if (notInitialised(psCam))
        return QOR_RES_NOT_INITIALISED;
    *pui32Min = psCam->currMode.ui32ExposureMin;
    *pui32Max = psCam->currMode.ui32ExposureMax;
    *pui8Contexts = 1;
    return QOR_RES_OK;
}

QOR_RESULT OV4688_GetExposure(SENSOR_HANDLE hHandle, QOR_UINT32 *pui32Exposure, QOR_UINT8 /*ui8Context*/) {
    OV4688CAM_STRUCT *psCam = camOf(hHandle);
    if (notInitialised(psCam))
        return QOR_RES_NOT_INITIALISED;
    *pui32Exposure = psCam->ui32Exposure;
    return QOR_RES_OK;
}

QOR_RESULT OV4688_GetFocusRange(SENSOR_HANDLE /*hHandle*/, QOR_UINT16 *pui16Min, QOR_UINT16 *pui16Max) {
    *pui16Min = kFocusMin;
    *pui16Max = kFocusMax;
    return QOR_RES_OK;
}

QOR_RESULT OV4688_GetCurrentFocus(SENSOR_HANDLE hHandle, QOR_UINT16 *pui16Current) {
    OV4688CAM_STRUCT *psCam = camOf(hHandle);
    if (notInitialised(psCam))
        return QOR_RES_NOT_INITIALISED;
    *pui16Current = psCam->ui16CurrentFocus;
    return QOR_RES_OK;
}

QOR_RESULT OV4688_SetFocus(SENSOR_HANDLE /*hHandle*/, QOR_UINT16 /*ui16Focus*/) { return QOR_RES_OK; }

QOR_RESULT OV4688_SetConnection(SENSOR_HANDLE hHandle, CI_CONNECTION *pConn) {
    OV4688CAM_STRUCT *psCam = camOf(hHandle);
    if (psCam->psSensorPhy == nullptr)
        return QOR_RES_DEVICE_FAILED;
    SensorPhySetConnection(psCam->psSensorPhy, pConn);
    return QOR_RES_OK;
}

QOR_RESULT OV4688_Create(SENSOR_HANDLE *phHandle) {
    OV4688CAM_STRUCT *psCam = static_cast<OV4688CAM_STRUCT *>(std::calloc(1, sizeof(OV4688CAM_STRUCT)));
    if (psCam == nullptr)
        return QOR_RES_NO_MEMORY;
    *phHandle = &psCam->sFuncs;
    SENSOR_FUNCS &f = psCam->sFuncs;
    f.GetMode = OV4688_GetMode;
    f.GetState = OV4688_GetState;
    f.SetMode = OV4688_SetMode;
    f.Enable = OV4688_Enable;
    f.Disable = OV4688_Disable;
    f.Destroy = OV4688_Destroy;
    f.GetInfo = OV4688_GetInfo;
    f.GetGainRange = OV4688_GetGainRange;
    f.GetCurrentGain = OV4688_GetGain;
    f.GetExposureRange = OV4688_GetExposureRange;
    f.GetExposure = OV4688_GetExposure;
    f.SetExposureGain = OV4688_SetExposureGain;
    f.GetFocusRange = OV4688_GetFocusRange;
    f.GetCurrentFocus = OV4688_GetCurrentFocus;
    f.SetFocus = OV4688_SetFocus;
    f.SetConnection = OV4688_SetConnection;
    psCam->refClock = 24.0;
    psCam->ui32Exposure = kInitialExposure;
    psCam->flGain = 1.0;
    psCam->imager = static_cast<QOR_UINT8>(GetImagerNum(SENSOR_MIRAVO_OV4688));
    psCam->i2c = -1;

    char path[64];
    QOR_UINT16 id = 0;
    QOR_RESULT ret = QOR_RES_OK;
    if (find_i2c_dev(path, sizeof path) != QOR_RES_OK) {
        QOR_LOG_ERROR(kTag, "Failed to find I2C device!\n");
        goto fail;
    }
    psCam->i2c = SEAM_Open(path, O_RDWR, 0);
    if (psCam->i2c < 0) {
        QOR_LOG_ERROR(kTag, "Failed to open I2C device: \"%s\", err = %d\n", path, psCam->i2c);
        goto fail;
    }
    QOR_LOG_WARNING(kTag, "Reading device ID (OV4688_Create)\n");
    ret = readChipId(psCam->i2c, &id);
    if (ret != QOR_RES_OK || id != kChipId) {
        QOR_LOG_ERROR(kTag,
                      "Failed to ensure that the i2c device has a compatible OV4688 sensor! ret=%d chip_version=0x%x "
                      "(expect chip 0x%x)\n",
                      ret, id, kChipId);
        goto fail;
    }
    QOR_LOG_WARNING(kTag, "Found OV4688 sensor! chip_version=0x%x\n", id);
    psCam->psSensorPhy = SensorPhyInit(SENSOR_MIRAVO_OV4688);
    if (psCam->psSensorPhy == nullptr) {
        QOR_LOG_ERROR(kTag, "Failed to create sensor phy!\n");
        goto fail;
    }
    OV4688_GetModeInfo(psCam, 0, &psCam->currMode);
    return QOR_RES_OK;

fail:
    if (psCam->i2c >= 0)
        SEAM_Close(psCam->i2c);
    std::free(psCam);
    *phHandle = nullptr;
    return QOR_RES_DEVICE_FAILED;
}

} // extern "C"
