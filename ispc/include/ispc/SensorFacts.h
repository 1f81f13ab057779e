#ifndef ISPC_SENSORFACTS_H
#define ISPC_SENSORFACTS_H

#include "norvacommon/pixel_transform.h"

namespace ISPC {

class Sensor;

/**
 * What the pipeline and the setup modules read of the sensor of a context: the facts of its
 * configured mode and the gain last programmed. They reach a sensor only through readSensorFacts,
 * so this code needs no more of ISPC::Sensor than its name.
 */
struct SensorFacts {
    unsigned uiWidth = 0;  /**< active width in pixels */
    unsigned uiHeight = 0; /**< active height in pixels */
    unsigned uiImager = 0; /**< imager port the sensor feeds */
    unsigned uiBitDepth = 0;
    unsigned uiWellDepth = 0;
    MOSAICType eBayerFormat = MOSAIC_NONE;
    double flReadNoise = 0.0;
    HDR_MODES eHDRMode = HDR_NONE;
    bool bLongExpFirst = false;
    unsigned ui32LineGap = 0;
    double flGain = 1.0; /**< getGain(): the linear gain last programmed */
};

/** The facts of a sensor; defined with the sensor wrapper (ISPC::Sensor). */
SensorFacts readSensorFacts(const Sensor &sensor);

} // namespace ISPC

#endif /* ISPC_SENSORFACTS_H */
