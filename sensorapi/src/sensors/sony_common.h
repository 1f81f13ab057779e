#ifndef NORVA_SENSORS_SONY_COMMON_H
#define NORVA_SENSORS_SONY_COMMON_H

// What the Sony drivers share: the table entry macros, the orientation rewrite, and the body of the
// standby-controlled group (IMX415, IMX335, IMX327, IMX662). Those four differ only in data: register addresses,
// the width of the gain code and of the frame length, the rule that places frame length and shutter, the
// shortest shutter, and the steps taken when a mode is described. Their hooks are thin wrappers over the functions
// here, each passing its sensor's `SonyStandby` record.

#include "driver_common.h"

/* A table entry of a 2-byte register address and a value; 16- and 24-bit values low byte first (the standby
 * group), 16-bit values high byte first (the streaming group). */
#define SONY_R(a, v) static_cast<QOR_UINT8>((a) >> 8), static_cast<QOR_UINT8>((a)&0xFF), static_cast<QOR_UINT8>(v)
#define SONY_LE16(a, v) SONY_R(a, (v)&0xFF), SONY_R((a) + 1, ((v) >> 8) & 0xFF)
#define SONY_LE24(a, v) SONY_LE16(a, v), SONY_R((a) + 2, ((v) >> 16) & 0xFF)
#define SONY_B16(a, v) SONY_R(a, ((v) >> 8) & 0xFF), SONY_R((a) + 1, (v)&0xFF)
#define SONY_DELAY(ms) 0xFE, static_cast<QOR_UINT8>(ms), 0x00
#define SONY_END 0xFF, 0xFF, 0xFF

namespace norva_drivers {

/** Sets or clears the vertical and horizontal bits of an orientation register value from a flip mask. */
inline QOR_UINT8 SonyOrientation(QOR_UINT8 value, QOR_UINT8 flip, QOR_UINT8 verticalBit, QOR_UINT8 horizontalBit) {
    value = static_cast<QOR_UINT8>(value & ~(verticalBit | horizontalBit));
    if (flip & SENSOR_FLIP_VERTICAL)
        value |= verticalBit;
    if (flip & SENSOR_FLIP_HORIZONTAL)
        value |= horizontalBit;
    return value;
}

/** A value of 2 or 3 registers of a table read low byte first (0 for a missing byte). */
inline unsigned FindRegisterLE(const QOR_UINT8 *regs, unsigned n, QOR_UINT16 reg, unsigned bytes) {
    unsigned v = 0;
    for (unsigned i = 0; i < bytes; i++) {
        QOR_UINT8 b = 0;
        FindRegister(regs, n, static_cast<QOR_UINT16>(reg + i), &b);
        v |= static_cast<unsigned>(b) << (8 * i);
    }
    return v;
}

/** Entries of a register table before its end marker (3-byte entries). */
inline unsigned CountEntries(const QOR_UINT8 *regs) {
    unsigned n = 0;
    while (regs[3 * n] != SENSOR_TABLE_END)
        n++;
    return n;
}

/** How a standby-group sensor places frame length (VMAX) and shutter for an exposure of L lines. */
enum class SonyFrameRule {
    Imx415, /**< L > 3 and L > V - 8: V' = L + 8, shutter 8; else V and V - L (V - 4 for L <= 3) */
    Imx335, /**< L = 0: V, V - 1; L > V - 9: L + 9, shutter 9; else V, V - L (half rows) */
    Imx327, /**< L = 0: V, V - 2; L > V - 2: L + 2, shutter 1; else V, V - L - 1 */
    Imx662, /**< L = 0: V, V - 1; L > V - m: (L + m + 1) even, V' - L; else V, V - L */
};

/** The data that tells one standby-group sensor from the others. */
struct SonyStandby {
    const char *tag;
    QOR_UINT16 gainRegister;    /**< the code's low byte */
    QOR_UINT8 gainHighMask;     /**< bits of the code's high byte, in the next register; 0: an 8-bit code */
    QOR_UINT32 gainHoldMask;    /**< code bits whose change in more than one byte needs the hold; 0: never */
    QOR_UINT16 lengthRegister;  /**< VMAX, three registers, low byte first */
    QOR_UINT16 shutterRegister; /**< SHR0 or SHS1, three registers, low byte first */
    QOR_UINT32 lengthLimit;     /**< the widest frame length the register takes */
    unsigned lengthBits;        /**< its width, for the overflow message */
    unsigned linesPerRow;       /**< 2 where exposure is counted in half rows */
    SonyFrameRule rule;
    bool shutterHoldNearMinimum; /**< shutter bytes count for the hold only above the minimum + 1 */
    bool gainCodeResetOnMode;    /**< describing a mode forgets the previous gain code */
    unsigned (*minShutter)(const SENSOR_MODE &mode);
    /** The factor between the requested gain and the code's gain (conversion gain), 1 for most. */
    double (*gainFactor)(const SENSOR_MODE &mode);
    /** Steps of the sensor when a mode has been described (gain range); may be null. */
    void (*modeDescribed)(CAM_STRUCT *psCam, const SENSOR_MODE &mode);
};

/**
 * Fills what every standby-group description shares (totals, PHY code and oscillator, clock validity) and, as
 * every description does, makes the mode's values the hold reference values of the instance: its frame length,
 * the shortest shutter and gain code 0 (which is what its table writes).
 */
void SonyDescribe(const SonyStandby &s, CAM_STRUCT *psCam, QOR_UINT16 nMode, SENSOR_MODE *info, unsigned hmax,
                  unsigned vmax);

/** Writes the mode table with the orientation rewrite, then the common registers that leave standby and start. */
void SonyApplyMode(const SonyStandby &s, CAM_STRUCT *psCam, void (*orient)(QOR_UINT8 *entry, QOR_UINT8 flip),
                   const QOR_UINT8 *common);

/** Gain code, frame length and shutter into the buffer of SonySetExposureGain, with the hold decision. */
void SonyComputeExposureGain(const SonyStandby &s, CAM_STRUCT *psCam, QOR_UINT8 ui8Context, double flGain,
                             QOR_UINT8 *regs);

/** The gain the sensor runs with, read back from the code in the buffer. */
double SonyActualGain(const SonyStandby &s, const QOR_UINT8 *regs, const SENSOR_MODE *mode);

/** Builds the buffer (REGHOLD, gain, frame length, shutter, REGHOLD) and hands it to the framework. */
QOR_RESULT SonySetExposureGain(const SonyStandby &s, SENSOR_HANDLE hHandle, QOR_UINT32 ui32Exposure, double flGain,
                               QOR_UINT8 ui8Context);

/** The stop table of the group: standby (0x3000 = 0x01). */
QOR_RESULT SonyDisable(SENSOR_HANDLE hHandle);

} // namespace norva_drivers

/*
 * The hooks and slots that a standby-group driver takes unchanged from the shared body, defined under the driver's
 * own names (inside its extern "C" block), and `NAME_FillSlots` which puts them into a new instance together with
 * the driver's own GetInfo, ApplyMode and GetModeInfo.
 */
#define SONY_STANDBY_DRIVER(NAME, RECORD)                                                                              \
    QOR_RESULT NAME##_Disable(SENSOR_HANDLE hHandle) { return norva_drivers::SonyDisable(hHandle); }                   \
    QOR_RESULT NAME##_SetExposureGain(SENSOR_HANDLE hHandle, QOR_UINT32 ui32Exposure, double flGain,                   \
                                      QOR_UINT8 ui8Context) {                                                          \
        return norva_drivers::SonySetExposureGain(RECORD, hHandle, ui32Exposure, flGain, ui8Context);                  \
    }                                                                                                                  \
    void NAME##_ApplyConfig(CAM_STRUCT * /*psCam*/) {}                                                                 \
    QOR_RESULT NAME##_GetConfInfo(CAM_STRUCT * /*psCam*/, QOR_UINT16 /*nMode*/, SENSOR_MODE * /*info*/) {              \
        return QOR_RES_OK;                                                                                             \
    }                                                                                                                  \
    void NAME##_ComputeExposureGain(CAM_STRUCT *psCam, QOR_UINT8 ui8Context, double flGain, QOR_UINT8 *regs) {         \
        norva_drivers::SonyComputeExposureGain(RECORD, psCam, ui8Context, flGain, regs);                               \
    }                                                                                                                  \
    double NAME##_GetActualGain(const QOR_UINT8 *regs, const SENSOR_MODE *mode) {                                      \
        return norva_drivers::SonyActualGain(RECORD, regs, mode);                                                      \
    }                                                                                                                  \
    static void NAME##_FillSlots(CAM_STRUCT *psCam) {                                                                  \
        psCam->sFuncs.Disable = NAME##_Disable;                                                                        \
        psCam->sFuncs.GetInfo = NAME##_GetInfo;                                                                        \
        psCam->sFuncs.SetExposureGain = NAME##_SetExposureGain;                                                        \
        psCam->ApplyConfig = NAME##_ApplyConfig;                                                                       \
        psCam->ApplyMode = NAME##_ApplyMode;                                                                           \
        psCam->GetConfInfo = NAME##_GetConfInfo;                                                                       \
        psCam->GetModeInfo = NAME##_GetModeInfo;                                                                       \
        psCam->ComputeExposureGain = NAME##_ComputeExposureGain;                                                       \
        psCam->GetActualGain = NAME##_GetActualGain;                                                                   \
    }

#endif
