#include "bufferformat.h"

CI_BUFFTYPE BufferTypeFromPixelFormat(pxlFormat format) {
    // The display path takes RGB and the packed 4:4:4 formats; it is tested first, as the packed 4:4:4 formats
    // are YUV too.
    if ((format >= RGB_888_24 && format <= BGR_161616_64) ||
        (format >= PXL_ISP_444IL3YCrCb8 && format <= PXL_ISP_444IL3YCbCr10))
        return CI_TYPE_DISPLAY;
    if (format >= YVU_420_PL12_8 && format <= YUV_422_PL12_10)
        return CI_TYPE_ENCODER;
    if (format >= BAYER_RGGB_8 && format <= BAYER_RGGB_12)
        return CI_TYPE_DATAEXT;
    if (format == BAYER_TIFF_10 || format == BAYER_TIFF_12)
        return CI_TYPE_RAW2D;
    return CI_TYPE_NONE;
}

const char *BufferTypeString(CI_BUFFTYPE type) {
    switch (type) {
    case CI_TYPE_ENCODER:
        return "encoder";
    case CI_TYPE_DISPLAY:
        return "display";
    case CI_TYPE_DATAEXT:
        return "dataext";
    case CI_TYPE_HDREXT:
        return "hdrext";
    case CI_TYPE_HDRINS:
        return "hdrins";
    case CI_TYPE_RAW2D:
        return "raw2d";
    default:
        return nullptr;
    }
}
