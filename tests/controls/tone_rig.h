#ifndef NORVA_TESTS_CONTROLS_TONE_RIG_H
#define NORVA_TESTS_CONTROLS_TONE_RIG_H

// Pipelines without a driver for the tone and light controls: a sensor whose programmed exposure, gain and
// gain range a test sets, and the setup modules the controls read and write.

#include <cstring>
#include <initializer_list>
#include <memory>

#include "ci/ci_connection_internal.h"
#include "ispc/Pipeline.h"
#include "ispc/SetupModule.h"
#include "ispc/Shot.h"
#include "support/test_sensor.h"

namespace norva_test {

/** A test sensor whose last programmed exposure and gain, and whose gain range, the test chooses. */
class ExposedSensor : public TestSensor {
public:
    void setExposureGainState(unsigned long microseconds, double gain) {
        programmedExposure = static_cast<QOR_UINT32>(microseconds);
        programmedGain = gain;
    }
    void setGainRange(double lo, double hi) {
        minGain = lo;
        maxGain = hi;
    }
};

/** A pipeline of context 0 on an unopened connection record, with the given setup modules registered. */
struct ModuleRig {
    explicit ModuleRig(std::initializer_list<ISPC::SetupModule *> modules) {
        memset(&connection, 0, sizeof(connection));
        List_init(&connection.sList_pipelines);
        List_init(&connection.sList_datagen);
        describeHardware(connection.publicConnection.sHWInfo);
        sensor.setGainRange(1.0, 16.0);
        sensor.setExposureGainState(10000, 1.0);
        pipeline.reset(new ISPC::Pipeline(&connection.publicConnection, 0, &sensor));
        for (ISPC::SetupModule *m : modules) {
            pipeline->registerModule(m);
        }
    }
    ~ModuleRig() { pipeline.reset(); }
    ModuleRig(const ModuleRig &) = delete;
    ModuleRig &operator=(const ModuleRig &) = delete;

    template <class M> M &module() { return *static_cast<M *>(pipeline->getModule(M::id)); }
    bool has(ISPC::SetupID id) { return pipeline->getModule(id) != nullptr; }

    INT_CONNECTION connection;
    ExposedSensor sensor;
    std::unique_ptr<ISPC::Pipeline> pipeline;
};

/** Statistics of one frame with the given 64-bin global histogram and nothing else. */
inline std::unique_ptr<ISPC::Metadata> metadataWith(const unsigned *bins) {
    std::unique_ptr<ISPC::Metadata> md(new ISPC::Metadata());
    memset(md.get(), 0, sizeof(ISPC::Metadata));
    for (int i = 0; i < 64; i++) {
        md->histogramStats.globalHistogram[i] = bins[i];
    }
    return md;
}

} // namespace norva_test

#endif
