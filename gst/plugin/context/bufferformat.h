#ifndef NORVA_GST_BUFFERFORMAT_H
#define NORVA_GST_BUFFERFORMAT_H

/*
 * How a capture context describes its outputs and their buffers to the elements: the format of one output, the
 * rectangle of an output inside the sensor frame, and the output a pixel format belongs to.
 */

#include "ci/ci_capture.h"
#include "norvacommon/pixel_transform.h"
#include "qor_types.h"

/** One output format. */
struct BufferFormat {
    pxlFormat format = PXL_NONE;
    MOSAICType mosaic = MOSAIC_NONE; /**< Bayer order of data extraction formats, else MOSAIC_NONE */
    QOR_UINT32 width = 0;
    QOR_UINT32 height = 0;
    double pixelAspectRatio = 1.0;    /**< horizontal over vertical scaling factor */
    bool bChromaInterstitial = false; /**< chroma sits between luma samples (encoder output only) */
    bool bBT601 = false;              /**< BT.601 rather than BT.709 colour conversion (encoder output only) */
};

/**
 * Rectangle of an output inside the sensor frame, in sensor-frame pixels. The origin is signed: a crop computed
 * relative to another rectangle may start left of or above it.
 */
struct BufferFrameBounds {
    QOR_INT32 x;
    QOR_INT32 y;
    QOR_UINT32 width;
    QOR_UINT32 height;
};

/** The output that carries a pixel format: display (RGB, packed 4:4:4), encoder (semi-planar YUV), data
 * extraction (Bayer), raw 2D (TIFF Bayer), else CI_TYPE_NONE. */
CI_BUFFTYPE BufferTypeFromPixelFormat(pxlFormat format);

/** "encoder", "display", "dataext", "hdrext", "hdrins", "raw2d"; null for CI_TYPE_NONE and unknown values. */
const char *BufferTypeString(CI_BUFFTYPE type);

#endif /* NORVA_GST_BUFFERFORMAT_H */
