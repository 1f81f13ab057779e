#ifndef NORVA_TEST_AE_PROBE_H
#define NORVA_TEST_AE_PROBE_H
// The exposure control with its inner state open to the tests, and a record of which updates metered.
#include <cmath>
#include <limits>

#include "ispc/ControlAE.h"
#include "ispc/Shot.h"

namespace norva_test {

class AeProbe : public ISPC::ControlAE {
public:
    using ISPC::ControlAE::autoFlickerDetectionSupported;
    using ISPC::ControlAE::configured;
    using ISPC::ControlAE::ControlAE;
    using ISPC::ControlAE::currentBrightness;
    using ISPC::ControlAE::flickerFreq;
    using ISPC::ControlAE::fNumStatuses;
    using ISPC::ControlAE::fSensorFrameDuration;
    using ISPC::ControlAE::lastProgramTime;
    using ISPC::ControlAE::settingsUpdated;
    using ISPC::ControlAE::startPrevFrameTime;
    using ISPC::ControlAE::uiMaxAeExposure;
    using ISPC::ControlAE::uiMaxSensorExposure;
    using ISPC::ControlAE::uiMinAeExposure;
    using ISPC::ControlAE::uiMinSensorExposure;

    /** Runs update and tells whether the frame was metered (a skipped frame keeps the brightness it had). */
    bool meteredUpdate(const ISPC::Metadata &md, QOR_RESULT *result = nullptr) {
        const double before = currentBrightness;
        currentBrightness = std::numeric_limits<double>::quiet_NaN();
        const QOR_RESULT r = update(md);
        if (result != nullptr) {
            *result = r;
        }
        if (std::isnan(currentBrightness)) {
            currentBrightness = before;
            return false;
        }
        return true;
    }
};

} // namespace norva_test

#endif
