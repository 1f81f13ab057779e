#ifndef NORVA_SENSORAPI_SIM_IMAGE_MOSAIC_H
#define NORVA_SENSORAPI_SIM_IMAGE_MOSAIC_H

#include "norvacommon/pixel_transform.h"
#include "sim_image.h"

/** The Bayer order of a data-generator image's colour model; MOSAIC_NONE for a model that is not Bayer. */
inline MOSAICType SimImageMosaicOf(sSimImageColourModel model) {
    switch (model) {
    case SimImage_RGGB:
        return MOSAIC_RGGB;
    case SimImage_GRBG:
        return MOSAIC_GRBG;
    case SimImage_GBRG:
        return MOSAIC_GBRG;
    case SimImage_BGGR:
        return MOSAIC_BGGR;
    default:
        return MOSAIC_NONE;
    }
}

#endif
