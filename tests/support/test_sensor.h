#ifndef NORVA_TESTS_MODULES_TEST_SENSOR_H
#define NORVA_TESTS_MODULES_TEST_SENSOR_H

// A sensor of a context without a driver: the pipeline and the setup modules read a sensor only
// through ISPC::readSensorFacts, which reads the facts a test sets here. The wrapper still takes its
// connection reference, so tests that construct one run on the simulated platform.
// TestRig gives a pipeline on a connection record that is never opened (no driver command is
// issued by constructing, setting up or destroying a pipeline that was never programmed).

#include <cstring>
#include <functional>
#include <memory>

#include "ci/ci_connection_internal.h"
#include "ispc/Pipeline.h"
#include "ispc/Sensor.h"
#include "ispc/SensorFacts.h"

namespace norva_test {

/** A 1920x1080 10-bit RGGB sensor on imager port 0, unless told otherwise. */
class TestSensor : public ISPC::Sensor {
public:
    explicit TestSensor(unsigned width = 1920, unsigned height = 1080, MOSAICType bayer = MOSAIC_RGGB) {
        uiWidth = width;
        uiHeight = height;
        uiImager = 0;
        uiBitDepth = 10;
        uiWellDepth = 5000;
        eBayerFormat = bayer;
        flReadNoise = 0.0;
        programmedGain = 1.0;
    }
    /** The gain the pipeline reads as the one last programmed. */
    void setProgrammedGain(double gain) { programmedGain = gain; }
};

/** A hardware description of revision 2.7 with two contexts and every optional output. */
inline void describeHardware(CI_HWINFO &hw, QOR_UINT32 functionalities = 0x1F) {
    hw.rev_ui8Major = 2;
    hw.rev_ui8Minor = 7;
    hw.config_ui8NContexts = 2;
    hw.config_ui8NImagers = 2;
    hw.config_ui8BitDepth = 10;
    hw.config_ui8Parallelism = 2;
    hw.context_aBitDepth[0] = 10;
    hw.context_aBitDepth[1] = 10;
    hw.eFunctionalities = functionalities;
}

/** A sensor and a pipeline of context 0 on an unopened connection record. */
struct TestRig {
    explicit TestRig(unsigned width = 1920, unsigned height = 1080, MOSAICType bayer = MOSAIC_RGGB,
                     QOR_UINT32 functionalities = 0x1F, const std::function<void(TestSensor &)> &tweak = {})
        : sensor(width, height, bayer) {
        if (tweak)
            tweak(sensor);
        memset(&connection, 0, sizeof(connection));
        List_init(&connection.sList_pipelines);
        List_init(&connection.sList_datagen);
        describeHardware(connection.publicConnection.sHWInfo, functionalities);
        pipeline.reset(new ISPC::Pipeline(&connection.publicConnection, 0, &sensor));
    }
    ~TestRig() { pipeline.reset(); }
    TestRig(const TestRig &) = delete;
    TestRig &operator=(const TestRig &) = delete;

    CI_HWINFO &hw() { return connection.publicConnection.sHWInfo; }
    MC_PIPELINE &mc() { return *pipeline->getMCPipeline(); }

    INT_CONNECTION connection;
    TestSensor sensor;
    std::unique_ptr<ISPC::Pipeline> pipeline;
};

} // namespace norva_test

#endif
