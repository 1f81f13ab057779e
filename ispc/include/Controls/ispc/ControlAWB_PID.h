#ifndef ISPC_CONTROLAWB_PID_H
#define ISPC_CONTROLAWB_PID_H

#include <string>

#include "ispc/ControlAWB.h"

namespace ISPC {

/**
 * Closed-loop white balance: one PID controller per red and blue gain drives the measured R/G and B/G of the
 * white-balance statistics to 1; the temperature follows from the resulting gains.
 */
class ControlAWB_PID : public ControlAWB {
public:
    /** One PID controller; its output is the gain itself. */
    struct State {
        double flMinGain = 0.0;
        double flMaxGain = 0.0;
        double flTargetRatio = 1.0;
        double flIntegral = 0.0;
        double flLastError = 0.0;
        double Kp = 0.0;
        double Kd = 0.0;
        double Ki = 0.0;
        bool bClipped = false;
        bool bConverged = false;

        static double HWMinGain() { return 0.5; }
        static double HWMaxGain() { return 8.0; }
        void update(double Kp, double Kd, double Ki, double flIQE);
        void updateMinMax(double min, double max, double flIQE);
        void reset();
    };

    static const ParamDef<unsigned> AWB_FRAME_DELAY; /**< "WB_FRAME_DELAY", 0 to 200, 0 */

    explicit ControlAWB_PID(const std::string &logname = "ISPC_CTRL_AWB-PID");
    ~ControlAWB_PID() override = default;

    QOR_RESULT load(const ParameterList &parameters) override;
    using ModuleBase::save;
    QOR_RESULT save(ParameterList &parameters, SaveType t) const override;
    QOR_RESULT update(const Metadata &metadata) override;
    void enableControl(bool enable) override;
    bool hasConverged() const override { return sRGain.bConverged && sBGain.bConverged; }
    void setTargetTemperature(double) override {}
    double getCorrectionTemperature() const override { return measuredTemperature; }
    virtual void setWBTSFeatures(unsigned) {}
    static ParameterGroup getGroup();

    void initialiseAWBPID(double Kp, double Kd, double Ki, double flRIQE, double flBIQE);
    static double PIDGain(State *sState, double flCurrentRatio);

    const State &getRedState() const { return sRGain; }
    const State &getBlueState() const { return sBGain; }
    unsigned getNumberToSkip() const { return uiFramesToSkip; }
    unsigned getNumberOfSkipped() const { return uiFramesSkipped; }
    void resetNumberOfSkipped() { uiFramesSkipped = uiFramesToSkip; }
    bool getResetStates() const { return bResetStates; }
    void setResetStates(bool b) { bResetStates = b; }

protected:
    State sRGain;
    State sBGain;
    unsigned uiFramesToSkip;
    unsigned uiFramesSkipped;
    bool bResetStates;
};

} // namespace ISPC

#endif /* ISPC_CONTROLAWB_PID_H */
