#ifndef ISPC_CONTROLAF_H
#define ISPC_CONTROLAF_H

#include <ostream>
#include <string>

#include "ispc/ControlModule.h"
#include "ispc/Parameter.h"
#include "ispc/ParameterDef.h"

namespace ISPC {

struct Metadata;

/**
 * Auto focus: configures the focus statistics (a centre ROI and a 7x7 grid), measures a centre-weighted,
 * normalised sharpness on every shot, and on command runs a contrast search through the owner sensor's focus
 * distance: a rough scan of the whole range in tenths, a fine scan around the sharpest rough position, then
 * positioning on the sharpest fine position. It can also step the focus closer or further by 1.1.
 */
class ControlAF : public ControlModuleBase<CTRL_AF> {
public:
    enum State { AF_IDLE = 0, AF_SCANNING = 1, AF_FOCUSED = 2, AF_OUT = 3 };
    enum ScanState {
        AF_SCAN_STOP = 0,
        AF_SCAN_INIT = 1,
        AF_SCAN_ROUGH = 2,
        AF_SCAN_FINE = 3,
        AF_SCAN_REFINE = 4,
        AF_SCAN_POSITIONING = 5,
        AF_SCAN_FINISHED = 6,
    };
    enum Command { AF_TRIGGER = 0, AF_STOP = 1, AF_FOCUS_CLOSER = 2, AF_FOCUS_FURTHER = 3, AF_NONE = 4 };

    static const ParamDef<double> AF_CENTER_WEIGTH;
    static const double WEIGHT_7X7_CENTRAL[7][7];
    static const double WEIGHT_7X7_SPREAD[7][7];

    explicit ControlAF(const std::string &logName = "ISPC_CTRL_AF");
    ~ControlAF() override = default;

    static const char *StateName(State state);
    static const char *ScanStateName(ScanState state);
    static const char *CommandName(Command command);

    QOR_RESULT load(const ParameterList &parameters) override;
    QOR_RESULT save(ParameterList &parameters, SaveType t) const override;
    using ModuleBase::save;
    std::ostream &printState(std::ostream &os) const override;
    QOR_RESULT update(const Metadata &metadata) override;
    QOR_RESULT configureStatistics() override;
    bool hasConverged() const override { return getState() != AF_SCANNING; }
    static ParameterGroup getGroup();

    /** One step of the search from the distance the lens reports and the sharpness measured there. */
    virtual void runAF(unsigned int lastFocusDistance, double lastSharpness, Command command);

    /** Executed by the next update. */
    void setCommand(Command command) { lastCommand = command; }
    State getState() const { return currentState; }
    ScanState getScanState() const { return scanState; }
    unsigned getBestFocusDistance() const { return bestFocusDistance; }
    unsigned getTargetFocusDistance() const { return targetFocusDistance; }
    double getCenterWeight() const { return centerWeigth; }
    double getSharpness() const { return lastSharpness; }
    double getNormalizeFactor() const { return normalizeFactor; }

    /** Centre-weighted sum of the shot's focus grid. */
    static double sharpnessGridMetering(const Metadata &shotMetadata, double centreWeight);

protected:
    /** Returns 22: the focus is programmed by runAF. */
    QOR_RESULT programCorrection() override;

    bool flagInitialized;
    double bestSharpness;
    unsigned bestFocusDistance;
    unsigned minFocusDistance, maxFocusDistance;
    unsigned targetFocusDistance;
    double lastSharpness;
    State currentState, nextState;
    ScanState scanState;
    Command lastCommand;
    unsigned scanInit, scanEnd;
    double normalizeFactor;
    double centerWeigth;
};

} // namespace ISPC

#endif /* ISPC_CONTROLAF_H */
