#ifndef ISPC_SHOT_H
#define ISPC_SHOT_H

#include "ci/ci_capture.h"
#include "mc/mc_pipeline.h"
#include "mc/mc_stats.h"
#include "norvacommon/pixel_transform.h"
#include "qor_types.h"

namespace ISPC {

class ModuleOUT;
struct Global_Setup;

/** One output image of a shot; points into memory the driver interface mapped for the driver shot. */
struct Buffer {
    QOR_UINT16 width;
    QOR_UINT16 height;
    QOR_UINT16 stride;      /**< bytes per line of the first (or only) plane */
    QOR_UINT16 vstride;     /**< lines allocated for the first plane */
    QOR_UINT16 strideCbCr;  /**< bytes per line of the chroma plane (semi-planar YUV only) */
    QOR_UINT16 vstrideCbCr; /**< lines allocated for the chroma plane */
    QOR_UINT32 offset;      /**< byte offset of the first plane from data */
    QOR_UINT32 offsetCbCr;  /**< byte offset of the chroma plane from data */
    ePxlFormat pxlFormat;   /**< PXL_NONE when the output is not used */
    const QOR_UINT8 *data;  /**< null when the output is not used */
    QOR_UINT32 id;          /**< the driver's identifier of the buffer */
    bool isTiled;

    /** The first byte of the first (or only) plane. */
    const QOR_UINT8 *firstData() const { return data + offset; }
    /** The first byte of the chroma plane of a YUV format, otherwise null. */
    const QOR_UINT8 *firstDataCbCr() const;
};

/** A raw area written by the hardware. */
struct Statistics {
    const QOR_UINT8 *data;
    QOR_UINT32 stride;      /**< the area's size as allocated by the driver */
    QOR_UINT32 size;        /**< meaningful bytes */
    QOR_UINT32 elementSize; /**< bytes per element */
};

/** Decoded statistics of a frame with the statistics configuration they were taken with. */
struct Metadata {
    MC_STATS_EXS clippingStats;
    MC_EXS clippingConfig;
    MC_STATS_HIS histogramStats;
    MC_HIS histogramConfig;
    MC_STATS_FOS focusStats;
    MC_FOS focusConfig;
    MC_STATS_WBS whiteBalanceStats;
    MC_WBS whiteBalanceConfig;
    MC_STATS_AWS autoWhiteBalanceStats;
    MC_AWS autoWhiteBalanceConfig;
    MC_STATS_FLD flickerStats;
    MC_FLD flickerConfig;
    MC_STATS_TIMESTAMP timestamps;
    MC_STATS_DPF defectiveStats;
    MC_DPF defectiveConfig;   /**< not filled per frame (stays zero) */
    MC_ENS encodeStatsConfig; /**< not filled per frame (stays zero) */
};

/**
 * One acquired frame of a context: its outputs, decoded statistics, raw statistics areas and the driver
 * shot it came from (needed to release it). Filled in place; no image or statistics data is copied.
 * Constructed zeroed, so a shot that was never acquired holds no driver shot.
 */
struct Shot {
    Buffer DISPLAY; /**< display (RGB) output */
    Buffer YUV;     /**< encoder (YUV) output */
    Buffer BAYER;   /**< data extraction; shares the display output, so a shot has DISPLAY or BAYER */
    Buffer HDREXT;
    Buffer RAW2DEXT;
    bool bFrameError;
    int iMissedFrames;
    Metadata metadata;
    Statistics DPF;
    Statistics ENS;
    Statistics stats;
    CI_SHOT *pCIBuffer;

    Shot();

    /** Zeroes the buffers, metadata, DPF, ENS and the driver shot. */
    void clear();
    /** Fills the shot from a driver shot, the context's output module and its global setup. */
    void configure(CI_SHOT *pCI_Buffer, const ModuleOUT &globalConfig, const Global_Setup &globalSetup);
};

} // namespace ISPC

#endif /* ISPC_SHOT_H */
