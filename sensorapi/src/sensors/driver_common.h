#ifndef NORVA_SENSORS_DRIVER_COMMON_H
#define NORVA_SENSORS_DRIVER_COMMON_H

// Pieces the framework drivers share: the instance set-up of a create function, table scanning and the
// entry-by-entry writing of a table with a per-entry rewrite.

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "norvacommon/userlog.h"
#include "sensorapi/sensor_common.h"

namespace norva_drivers {

inline CAM_STRUCT *camOf(SENSOR_HANDLE h) { return reinterpret_cast<CAM_STRUCT *>(h); }

/** The register address of a table entry (1 or 2 bytes, big-endian). */
inline QOR_UINT16 entryRegister(const QOR_UINT8 *e, unsigned addrSize) {
    return addrSize == 2 ? static_cast<QOR_UINT16>((e[0] << 8) | e[1]) : e[0];
}

/** What distinguishes one driver's instance at creation. */
struct DriverSetup {
    const char *sensorName;
    QOR_UINT8 address;
    QOR_UINT8 addrSize;
    QOR_UINT16 chipIdRegister;
    QOR_UINT16 chipId;
    sensor_mode *configs;
    QOR_UINT8 nConfigs;
    sensor_mode *modes;
    QOR_UINT16 nModes;
    const QOR_UINT8 *numModes;
    QOR_UINT8 nNumModes;
    double minGain, maxGain, initialGain;
};

/** A fresh instance with the generic slots filled; the driver fills its own slots and hooks afterwards. */
inline CAM_STRUCT *NewCam(const DriverSetup &d, sensor_num nSensor, QOR_UINT8 slot) {
    CAM_STRUCT *psCam = static_cast<CAM_STRUCT *>(std::calloc(1, sizeof(CAM_STRUCT)));
    if (psCam == nullptr)
        return nullptr;
    SENSOR_FUNCS &f = psCam->sFuncs;
    f.GetMode = SensorFuncGetMode;
    f.GetState = SensorFuncGetState;
    f.SetMode = SensorFuncSetMode;
    f.Enable = SensorFuncEnable;
    f.Destroy = SensorFuncDestroy;
    f.GetGainRange = SensorFuncGetGainRange;
    f.GetCurrentGain = SensorFuncGetGain;
    f.GetExposureRange = SensorFuncGetExposureRange;
    f.GetExposure = SensorFuncGetExposure;
    f.SetConnection = SensorFuncSetConnection;
    psCam->pConfigs = d.configs;
    psCam->uiConfigsSize = d.nConfigs;
    psCam->pModes = d.modes;
    psCam->uiModesSize = d.nModes;
    psCam->pNumModes = d.numModes;
    psCam->uiNumModesSize = d.nNumModes;
    psCam->i2c_dev.fd = -1;
    psCam->i2c_dev.writeAddr = d.address;
    psCam->i2c_dev.readAddr = d.address;
    psCam->i2c_dev.addrSize = d.addrSize;
    psCam->sensorChipIdOffset = d.chipIdRegister;
    psCam->sensorChipId = d.chipId;
    std::snprintf(psCam->sensorName, sizeof psCam->sensorName, "%s", d.sensorName);
    psCam->nSensor = nSensor;
    psCam->imager = static_cast<QOR_UINT8>(GetImagerNum(nSensor));
    psCam->sensorNumOnBoard = slot;
    psCam->aec_min_gain = d.minGain;
    psCam->aec_max_gain = d.maxGain;
    psCam->flGain[0] = d.initialGain;
    return psCam;
}

/** Brings the board up around the instance; on failure frees it and gives 5 with a NULL handle. */
inline QOR_RESULT FinishCreate(CAM_STRUCT *psCam, SENSOR_HANDLE *phHandle) {
    *phHandle = &psCam->sFuncs;
    if (CamInitialize(psCam) != QOR_RES_OK) {
        std::free(psCam);
        *phHandle = nullptr;
        return QOR_RES_DEVICE_FAILED;
    }
    return QOR_RES_OK;
}

/** Last value of a register in a table of n entries (2-byte addresses, 3-byte entries); false when absent. */
inline bool FindRegister(const QOR_UINT8 *regs, unsigned n, QOR_UINT16 reg, QOR_UINT8 *value) {
    bool found = false;
    for (unsigned i = 0; regs != nullptr && i < n; i++) {
        const QOR_UINT8 *e = regs + 3 * i;
        if (entryRegister(e, 2) == reg) {
            *value = e[2];
            found = true;
        }
    }
    return found;
}

/** A 16-bit big-endian value of two registers (0 for a missing byte). */
inline unsigned FindRegister16(const QOR_UINT8 *regs, unsigned n, QOR_UINT16 reg) {
    QOR_UINT8 hi = 0, lo = 0;
    FindRegister(regs, n, reg, &hi);
    FindRegister(regs, n, static_cast<QOR_UINT16>(reg + 1), &lo);
    return (static_cast<unsigned>(hi) << 8) | lo;
}

/**
 * Writes a table entry by entry, each entry as its own array; `rewrite` may change an entry's value first.
 * Stops at the first failed write, and writes nothing once a write of the running operation has failed (the
 * framework reports it): a later table would otherwise start a sensor whose set-up is incomplete.
 */
template <typename Rewrite> void WriteTable(CAM_STRUCT *psCam, const QOR_UINT8 *regs, unsigned n, Rewrite rewrite) {
    if (psCam->bIoFailed)
        return;
    const unsigned size = psCam->i2c_dev.addrSize + 1u;
    for (unsigned i = 0; i < n; i++) {
        QOR_UINT8 entry[3];
        std::memcpy(entry, regs + size * i, size);
        rewrite(entry);
        if (CamWrite(psCam, entry, size) != QOR_RES_OK)
            return;
    }
}

/**
 * Writes a table of a sensor with 1-byte addresses and a page register, setting the two flip bits of the
 * orientation register of page 0 (bit 1 vertical, bit 0 horizontal) from the current flipping on the way.
 */
inline void WritePagedTableFlipped(CAM_STRUCT *psCam, const QOR_UINT8 *regs, unsigned n, QOR_UINT8 pageRegister,
                                   QOR_UINT8 orientationRegister) {
    const QOR_UINT8 flip = psCam->ui8CurrentFlipping;
    unsigned page = 0;
    WriteTable(psCam, regs, n, [flip, &page, pageRegister, orientationRegister](QOR_UINT8 *e) {
        if (e[0] == pageRegister) {
            page = e[1];
        } else if (e[0] == orientationRegister && page == 0) {
            e[1] = static_cast<QOR_UINT8>(e[1] & ~3u);
            if (flip & SENSOR_FLIP_VERTICAL)
                e[1] |= 0x02;
            if (flip & SENSOR_FLIP_HORIZONTAL)
                e[1] |= 0x01;
        }
    });
}

/**
 * The exposure of a context in lines of the current mode, rounded to the nearest. More lines than the registers
 * hold (`maxLines`) saturate rather than wrap to a short exposure, and the context then keeps the exposure of the
 * saturated lines: GetExposure reports what the sensor runs with.
 */
inline QOR_UINT32 SaturatedLines(CAM_STRUCT *psCam, QOR_UINT8 ui8Context, QOR_UINT32 maxLines) {
    const double trow = psCam->currMode.flTrow;
    const double lines = trow > 0 ? std::round(psCam->ui32Exposure[ui8Context] / trow) : 0.0;
    if (lines <= maxLines)
        return static_cast<QOR_UINT32>(lines);
    psCam->ui32Exposure[ui8Context] = static_cast<QOR_UINT32>(std::lround(maxLines * trow));
    return maxLines;
}

/**
 * The exposure of a context in lines of the current mode, held between 4 and the frame's lines less 4, for a
 * sensor that exposes an even number of lines: *oddCompensation gets the digital gain (256 = x1) that makes up
 * for the line an odd count loses.
 */
inline long EvenLineExposure(const CAM_STRUCT *psCam, QOR_UINT8 ui8Context, unsigned *oddCompensation) {
    const double trow = psCam->currMode.flTrow;
    const unsigned vts = psCam->currMode.ui16VerticalTotal;
    long lines = trow > 0 ? std::lround(psCam->ui32Exposure[ui8Context] / trow) : 0;
    *oddCompensation = 256;
    if (lines < 4) {
        lines = 4;
    } else {
        if (vts > 4 && lines > static_cast<long>(vts - 4))
            lines = vts - 4;
        *oddCompensation = static_cast<unsigned>(256 * lines / (lines & ~1L));
    }
    return lines;
}

/** The sensor version text of GetInfo: "0x%x" of the 16-bit version register, or "not-verified". */
inline bool ReadVersion(CAM_STRUCT *psCam, QOR_UINT16 reg, SENSOR_INFO *psInfo) {
    QOR_UINT16 version = 0;
    if (sensor_i2c_read16(psCam->i2c_dev, reg, &version) == QOR_RES_OK) {
        std::snprintf(psInfo->pszSensorVersion, sizeof psInfo->pszSensorVersion, "0x%x", version);
        return true;
    }
    std::snprintf(psInfo->pszSensorVersion, sizeof psInfo->pszSensorVersion, "not-verified");
    return false;
}

/** Bayer order of a sensor whose flips mirror single pixels, RGGB unflipped. */
inline MOSAICType PixelFlipMosaic(QOR_UINT8 flipping) {
    switch (flipping & SENSOR_FLIP_BOTH) {
    case SENSOR_FLIP_HORIZONTAL:
        return MOSAIC_GRBG;
    case SENSOR_FLIP_VERTICAL:
        return MOSAIC_GBRG;
    case SENSOR_FLIP_BOTH:
        return MOSAIC_BGGR;
    default:
        return MOSAIC_RGGB;
    }
}

/** What GetInfo reports of one sensor; the steps are the same for every framework driver. */
struct InfoFacts {
    struct {
        const char *(*ofPosition)(sensor_num); /**< name of a position; nullptr: `fixed` for all */
        const char *fixed;
    } name;
    bool bayerFollowsFlips; /**< Bayer order from the flips (PixelFlipMosaic), else BGGR */
    struct {
        QOR_UINT16 reg;
        const char *readingText; /**< warning before the version is read, then one with it; nullptr: neither */
        bool warnUnread;         /**< a warning when the version could not be read */
    } version;
    struct {
        double fNumber, pixelSize;
        bool hasFocalAndWell; /**< false leaves focal length and well depth as the caller set them */
        QOR_UINT16 focalLength;
        QOR_UINT32 wellDepth;
        double readNoise;
    } optics;
    bool imagerFromPosition; /**< imager number of the position, else 0 */
    QOR_UINT8 numConfig;
    const QOR_UINT8 *numModes;
};

/**
 * The body of a driver's GetInfo. Its messages carry the driver function's name and line (`function`, `line`)
 * as if the driver had logged them itself.
 */
inline QOR_RESULT FillInfo(const char *function, unsigned line, const char *tag, const InfoFacts &f,
                           SENSOR_HANDLE hHandle, SENSOR_INFO *psInfo) {
    CAM_STRUCT *psCam = camOf(hHandle);
    if (psCam->psSensorPhy == nullptr) {
        LOG_Error(function, line, tag, "sensor not initialised\n");
        return QOR_RES_NOT_INITIALISED;
    }
    psInfo->eBayerOriginal = f.bayerFollowsFlips ? PixelFlipMosaic(psCam->ui8CurrentFlipping) : MOSAIC_BGGR;
    psInfo->eBayerEnabled = psInfo->eBayerOriginal;
    const char *name = f.name.ofPosition != nullptr ? f.name.ofPosition(psCam->nSensor) : f.name.fixed;
    std::snprintf(psInfo->pszSensorName, sizeof psInfo->pszSensorName, "%s", name != nullptr ? name : "");
    if (f.version.readingText != nullptr)
        LOG_Warning(function, line, tag, "%s", f.version.readingText);
    if (ReadVersion(psCam, f.version.reg, psInfo)) {
        if (f.version.readingText != nullptr)
            LOG_Warning(function, line, tag, "Read device ID %s\n", psInfo->pszSensorVersion);
    } else if (f.version.warnUnread) {
        LOG_Warning(function, line, tag, "Did not read device ID\n");
    }
    psInfo->fNumber = f.optics.fNumber;
    psInfo->fPixelSize = f.optics.pixelSize;
    if (f.optics.hasFocalAndWell) {
        psInfo->ui16FocalLength = f.optics.focalLength;
        psInfo->ui32WellDepth = f.optics.wellDepth;
    }
    psInfo->flReadNoise = f.optics.readNoise;
    psInfo->bBackFacing = 1;
    psInfo->ui8Imager = f.imagerFromPosition ? static_cast<QOR_UINT8>(GetImagerNum(psCam->nSensor)) : 0;
    psInfo->ui8NumConfig = f.numConfig;
    psInfo->pNumModes = f.numModes;
    return QOR_RES_OK;
}

} // namespace norva_drivers

#endif
