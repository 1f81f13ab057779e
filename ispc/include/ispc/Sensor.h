#ifndef ISPC_SENSOR_H
#define ISPC_SENSOR_H

#include <list>
#include <map>
#include <string>
#include <utility>

#include "ispc/Connection.h"
#include "ispc/ModuleBase.h"
#include "ispc/Parameter.h"
#include "ispc/ParameterDef.h"
#include "norvacommon/pixel_transform.h"
#include "qor_errors.h"
#include "qor_types.h"
#include "sensorapi/sensorapi.h"

namespace ISPC {

/**
 * The object wrapper of one sensor driver: creates it by its registry index, binds it to the driver
 * connection, sets a mode and copies that mode's facts, and controls exposure, gain, focus and the
 * driver's extra parameters with read-back of what the driver programmed. Log tag "ISPC_SENSOR".
 *
 * Exposure is kept in microseconds; the saved parameter "SENSOR_EXPOSURE_MS" is in milliseconds.
 */
class Sensor {
public:
    /** ENABLED (streaming) is numerically below CONFIGURED: never compare states by order. */
    enum State {
        SENSOR_ERROR = 0,
        SENSOR_INITIALIZED = 1, /**< driver created and bound */
        SENSOR_ENABLED = 2,     /**< streaming */
        SENSOR_CONFIGURED = 3,  /**< mode set, facts read */
    };

    static const ParamDef<double> SENSOR_EXPOSURE;
    static const ParamDef<double> SENSOR_GAIN;
    static const ParamDef<unsigned> SENSOR_BITDEPTH;
    static const ParamDef<unsigned> SENSOR_WELLDEPTH;
    static const ParamDef<double> SENSOR_READNOISE;
    static const ParamDef<double> SENSOR_FRAMERATE;
    static const ParamDefArray<unsigned> SENSOR_SIZE;
    static const ParamDef<unsigned> SENSOR_VTOT;

    /** Creates and binds driver sensorId of the registry. */
    explicit Sensor(int sensorId);
    /** No driver yet (derived sensors call init themselves); state SENSOR_ERROR. */
    Sensor();
    /** Disables an enabled driver, destroys it, then gives the connection reference back. */
    virtual ~Sensor();
    Sensor(const Sensor &) = delete;
    Sensor &operator=(const Sensor &) = delete;

    /** Creates driver sensorId of the registry and binds it: SENSOR_INITIALIZED, or SENSOR_ERROR. */
    void init(int sensorId);

    /** Sets the mode and flipping and reads the mode's facts, ranges and initial values. */
    QOR_RESULT configure(int sensorMode, int flipping);
    QOR_RESULT enable();
    QOR_RESULT disable();

    /** The driver's description of any mode, without changing the sensor. */
    QOR_RESULT getMode(int mode, SENSOR_MODE &sMode) const;

    QOR_RESULT setExposure(unsigned long uSeconds);
    QOR_RESULT setGain(double gain);
    QOR_RESULT setExposureGain(unsigned long uSeconds, double gain);
    unsigned long getExposure() const { return programmedExposure; }
    double getGain() const { return programmedGain; }
    unsigned long getMinExposure() const { return minExposure; }
    unsigned long getMaxExposure() const { return maxExposure; }
    double getMinGain() const { return minGain; }
    double getMaxGain() const { return maxGain; }

    /** The exposure granularity; 0 stores 1. */
    QOR_RESULT setExposureTimeStep(unsigned long uSeconds);
    /** The larger of the granularity and the row time rounded up. */
    unsigned long getExposureTimeStep() const;

    QOR_RESULT setFocusDistance(unsigned focusDistance);
    unsigned getFocusDistance() const { return programmedFocus; }
    unsigned getMinFocus() const { return minFocus; }
    unsigned getMaxFocus() const { return maxFocus; }
    bool getFocusSupported() const { return focusSupported; }

    QOR_RESULT setExtraParameter(const std::string &name, QOR_UINT8 val);
    const std::map<std::string, QOR_UINT8> &getExtraParameters() const { return programmedExtraParams; }

    SENSOR_HANDLE getHandle() { return hSensorHandle; }
    State getState() const { return state; }

    /** Pushes one frame (data-generator sensors). */
    virtual QOR_RESULT insert();
    /** Waits until the pushed frame was processed (data-generator sensors). */
    virtual QOR_RESULT waitProcessed();
    /** Reads nothing: sensor facts come from the driver. */
    virtual QOR_RESULT load(const ParameterList &parameters);
    /** Adds the group "Sensor" and the eight sensor parameters of kind t. */
    virtual QOR_RESULT save(ParameterList &parameters, ModuleBase::SaveType t) const;

    /** Appends (name, index) of every registry driver; the list is not emptied first. */
    static void GetSensorNames(std::list<std::pair<std::string, int>> &names);
    /** The index of the driver called exactly name, or -1. */
    static int GetSensorId(const std::string &name);
    static ParameterGroup GetGroup();
    static const char *StateName(State s);

protected:
    /** Takes ownership of a created driver and binds it to the connection (the second half of init). */
    void attachDriver(SENSOR_HANDLE handle, int sensorId);

    SENSOR_HANDLE hSensorHandle;
    QOR_UINT32 programmedExposure; /**< microseconds, as read back */
    double programmedGain;
    QOR_UINT16 programmedFocus;
    std::map<std::string, QOR_UINT8> programmedExtraParams;
    QOR_UINT32 minExposure;
    QOR_UINT32 maxExposure;
    QOR_UINT32 exposureStep; /**< never 0 */
    QOR_UINT16 minFocus;
    QOR_UINT16 maxFocus;
    double minGain;
    double maxGain;
    State state;
    bool focusSupported;
    CI_Connection ciConnection;

public:
    /* Facts of the configured mode. */
    unsigned uiWidth;
    unsigned uiHeight;
    unsigned uiImager;
    unsigned nVTot;
    double flTrow;
    MOSAICType eBayerFormat;
    /** The context value the driver reports with its ranges, passed back with each exposure and gain call. */
    unsigned char ui8SensorContexts;
    unsigned uiBitDepth;
    double flFrameRate;
    unsigned uiWellDepth;
    double flReadNoise;
    double flAperture;
    double flPixelSize;
    unsigned uiFocalLength;
    HDR_MODES eHDRMode;
    bool bLongExpFirst;
    unsigned ui32LineGap;

private:
    /** Disables an enabled driver and destroys it. */
    void releaseDriver();
    /** True in the expected state; otherwise logs the refusal for the caller. */
    bool inState(State expected, const char *function, unsigned line) const;
};

} // namespace ISPC

#endif /* ISPC_SENSOR_H */
