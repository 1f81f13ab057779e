// The body of the standby-controlled Sony drivers (IMX415, IMX335, IMX327, IMX662): the description tail, mode
// selection with the register-hold reference values, the mode and common tables, and the exposure and gain update
// in 0.3 dB steps with the frame length (VMAX) and the shutter counted from the end of the frame.
#include <cmath>

#include "sony_common.h"

namespace norva_drivers {
namespace {

constexpr QOR_UINT16 kRegHold = 0x3001;
const QOR_UINT8 kStandby[] = {SONY_R(0x3000, 0x01)};

unsigned gainEntries(const SonyStandby &s) { return s.gainHighMask != 0 ? 2u : 1u; }

unsigned maxGainCode(const SonyStandby &s) { return (static_cast<unsigned>(s.gainHighMask) << 8) | 0xFFu; }

void putLE24(QOR_UINT8 *regs, unsigned firstEntry, QOR_UINT32 v) {
    for (unsigned i = 0; i < 3; i++)
        regs[3 * (firstEntry + i) + 2] = static_cast<QOR_UINT8>((v >> (8 * i)) & 0xFF);
}

/** A frame length beyond the register: the error, then the widest one the rule allows (*clamped set). */
long clampLength(const SonyStandby &s, long length, long widest, bool *clamped) {
    if (length <= static_cast<long>(s.lengthLimit))
        return length;
    QOR_LOG_ERROR(s.tag, "VMAX exceeds %u-bit limit: %u\n", s.lengthBits, static_cast<unsigned>(widest));
    *clamped = true;
    return widest;
}

} // namespace

void SonyDescribe(const SonyStandby &s, CAM_STRUCT *psCam, QOR_UINT16 nMode, SENSOR_MODE *info, unsigned hmax,
                  unsigned vmax) {
    const sensor_mode &d = psCam->pModes[SENSOR_MODE_INDEX(nMode)];
    info->ui16HorizontalTotal = static_cast<QOR_UINT16>(hmax);
    info->ui16VerticalTotal = static_cast<QOR_UINT16>(vmax & 0xFFFF);
    info->ui8MipiHsFreqRange = d.hsFreqRange;
    info->ui8MipiOscFreq = d.oscFreq;
    info->bValidFrequency = psCam->refClock == d.supportedFrequency ? QOR_TRUE : QOR_FALSE;
    psCam->ui32Vmax = vmax;
    psCam->ui32Shutter = s.minShutter(*info);
    if (s.gainCodeResetOnMode)
        psCam->ui16LongGainVal = 0;
    if (s.modeDescribed != nullptr)
        s.modeDescribed(psCam, *info);
}

void SonyApplyMode(const SonyStandby &s, CAM_STRUCT *psCam, void (*orient)(QOR_UINT8 *entry, QOR_UINT8 flip),
                   const QOR_UINT8 *common) {
    if (psCam->currModeReg == nullptr) {
        QOR_LOG_ERROR(s.tag, "current register modes not available!\n");
        return;
    }
    const QOR_UINT8 flip = psCam->ui8CurrentFlipping;
    WriteTable(psCam, psCam->currModeReg, psCam->nModeRegisters, [orient, flip](QOR_UINT8 *e) { orient(e, flip); });
    WriteTable(psCam, common, CountEntries(common), [](QOR_UINT8 *) {});
}

void SonyComputeExposureGain(const SonyStandby &s, CAM_STRUCT *psCam, QOR_UINT8 ui8Context, double flGain,
                             QOR_UINT8 *regs) {
    const SENSOR_MODE &mode = psCam->currMode;
    bool hold = false;

    // Gain in steps of 0.3 dB, saturated to the code's width.
    const double g = flGain * s.gainFactor(mode);
    long code = g > 0 ? std::lround(std::log10(g) * 20.0 / 0.3) : 0;
    if (code < 0)
        code = 0;
    if (code > static_cast<long>(maxGainCode(s)))
        code = static_cast<long>(maxGainCode(s));
    if (s.gainHoldMask != 0 &&
        DiffBytesCount(static_cast<QOR_UINT32>(code), psCam->ui16LongGainVal, s.gainHoldMask) > 1)
        hold = true;
    psCam->ui16LongGainVal = static_cast<QOR_UINT16>(code);
    regs[3 * 1 + 2] = static_cast<QOR_UINT8>(code & 0xFF);
    if (s.gainHighMask != 0)
        regs[3 * 2 + 2] = static_cast<QOR_UINT8>((code >> 8) & s.gainHighMask);

    // Lines of exposure (half rows where the sensor counts them), saturated to the frame-length register.
    const double trow = mode.flTrow;
    double lines =
        trow > 0 ? std::round(psCam->ui32Exposure[ui8Context] * static_cast<double>(s.linesPerRow) / trow) : 0.0;
    bool saturated = lines > static_cast<double>(s.lengthLimit);
    if (saturated)
        lines = static_cast<double>(s.lengthLimit);
    const long L = static_cast<long>(lines);
    const long V = mode.ui16VerticalTotal;
    const long m = static_cast<long>(s.minShutter(mode));
    long length = V, shutter = 0;
    switch (s.rule) {
    case SonyFrameRule::Imx415:
        if (L > 3 && L > V - 8) {
            length = clampLength(s, L + 8, s.lengthLimit, &saturated);
            shutter = 8;
        } else {
            shutter = L > 3 ? V - L : V - 4;
        }
        break;
    case SonyFrameRule::Imx335:
        if (L == 0) {
            shutter = V - 1;
        } else if (L > V - 9) {
            length = clampLength(s, L + 9, s.lengthLimit, &saturated);
            shutter = 9;
        } else {
            shutter = V - L;
        }
        break;
    case SonyFrameRule::Imx327:
        if (L == 0) {
            shutter = V - 2;
        } else if (L > V - 2) {
            length = clampLength(s, L + 2, s.lengthLimit, &saturated);
            shutter = 1;
        } else {
            shutter = V - L - 1;
        }
        break;
    case SonyFrameRule::Imx662:
        if (L == 0) {
            shutter = V - 1;
        } else if (L > V - m) {
            length = (L + m + 1) & ~1L;
            if (length > static_cast<long>(s.lengthLimit)) {
                // The frame length must stay even: the widest is one below the register's limit.
                length = clampLength(s, length, s.lengthLimit & ~1u, &saturated);
                shutter = m;
            } else {
                shutter = length - L;
            }
        } else {
            shutter = V - L;
        }
        break;
    }
    if (shutter < 0)
        shutter = 0;
    // Saturated: the context keeps the exposure the registers give, so that GetExposure reports what the sensor runs
    // with (the shutter counts from the end of the frame; SHS1 one line further).
    if (saturated && trow > 0) {
        const long held = length - shutter - (s.rule == SonyFrameRule::Imx327 ? 1 : 0);
        psCam->ui32Exposure[ui8Context] =
            static_cast<QOR_UINT32>(std::lround(held * trow / static_cast<double>(s.linesPerRow)));
    }

    // The hold is needed when the change spans more than one register byte.
    unsigned diff = DiffBytesCount(static_cast<QOR_UINT32>(length), psCam->ui32Vmax, s.lengthLimit);
    const bool countShutter =
        !s.shutterHoldNearMinimum || static_cast<long>(psCam->ui32Shutter) > m + 1 || shutter > m + 1;
    if (countShutter)
        diff += DiffBytesCount(static_cast<QOR_UINT32>(shutter), psCam->ui32Shutter, s.lengthLimit);
    if (diff > 1)
        hold = true;
    psCam->ui32Vmax = static_cast<QOR_UINT32>(length);
    psCam->ui32Shutter = static_cast<QOR_UINT32>(shutter);

    regs[2] = hold ? 1 : 0;
    psCam->reghold = hold ? QOR_TRUE : QOR_FALSE;
    const unsigned first = 1 + gainEntries(s);
    putLE24(regs, first, static_cast<QOR_UINT32>(length));
    putLE24(regs, first + 3, static_cast<QOR_UINT32>(shutter));
}

double SonyActualGain(const SonyStandby &s, const QOR_UINT8 *regs, const SENSOR_MODE *mode) {
    unsigned code = regs[3 * 1 + 2];
    if (s.gainHighMask != 0)
        code |= static_cast<unsigned>(regs[3 * 2 + 2] & s.gainHighMask) << 8;
    return std::pow(10.0, code * 0.3 / 20.0) / s.gainFactor(*mode);
}

QOR_RESULT SonySetExposureGain(const SonyStandby &s, SENSOR_HANDLE hHandle, QOR_UINT32 ui32Exposure, double flGain,
                               QOR_UINT8 ui8Context) {
    // The Part skips the update after a held one, returning 0: a request dropped as if done (a manual exposure set
    // once is lost). The hold is released by the time it is written, so it is written like any other.
    QOR_UINT8 regs[3 * 10]; // REGHOLD, the gain, three of frame length, three of shutter, REGHOLD
    unsigned n = 0;
    const auto put = [&regs, &n](unsigned reg) {
        regs[3 * n] = static_cast<QOR_UINT8>(reg >> 8);
        regs[3 * n + 1] = static_cast<QOR_UINT8>(reg & 0xFF);
        regs[3 * n + 2] = 0;
        n++;
    };
    put(kRegHold);
    put(s.gainRegister);
    if (s.gainHighMask != 0)
        put(s.gainRegister + 1u);
    for (unsigned i = 0; i < 3; i++)
        put(s.lengthRegister + i);
    for (unsigned i = 0; i < 3; i++)
        put(s.shutterRegister + i);
    put(kRegHold);
    return SensorFuncSetExposureGain(hHandle, ui32Exposure, flGain, ui8Context, regs, static_cast<QOR_UINT16>(3 * n),
                                     0);
}

QOR_RESULT SonyDisable(SENSOR_HANDLE hHandle) { return SensorFuncDisable(hHandle, kStandby, sizeof kStandby); }

} // namespace norva_drivers
