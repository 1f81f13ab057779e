#ifndef ISPC_SETUPMODULE_H
#define ISPC_SETUPMODULE_H

#include "ispc/ModuleBase.h"

namespace ISPC {

/** A module that owns the settings of one hardware block and writes them into the pipeline. */
class SetupModule : public ModuleBase {
public:
    SetupModule(const std::string &loggingName, modulePriority prio = NORMAL, moduleUpdate update = REQUEST)
        : ModuleBase(loggingName), pipeline(nullptr), priority(prio), updateBasis(update), setupFlag(false),
          updateRequested(false) {}

    virtual SetupID getModuleID() const = 0;
    /** Clears setupFlag and updateRequested. */
    virtual void clearFlags() {
        setupFlag = false;
        updateRequested = false;
    }
    /** Writes the module's settings into its block of the pipeline's MC_PIPELINE. */
    virtual QOR_RESULT setup() = 0;
    /** Told by the pipeline that a capture has started; nothing by default. */
    virtual void captureStarted() {}
    /** Told by the pipeline that a shot was triggered with the blocks as they are set up; nothing by default. */
    virtual void shotProgrammed() {}

    void setPipeline(Pipeline *newPipeline) { pipeline = newPipeline; }
    Pipeline *getPipeline() { return pipeline; }
    const Pipeline *getPipeline() const { return pipeline; }
    /**
     * The sensor of the module's pipeline, or null without pipeline or sensor. Defined with ISPC::Pipeline,
     * like ControlModule::getSensor.
     */
    const Sensor *getSensor() const;

    modulePriority getPriority() const { return priority; }
    void setPriority(modulePriority newPriority) { priority = newPriority; }
    moduleUpdate getUpdateBasis() const { return updateBasis; }

    bool isSetup() const { return setupFlag; }
    bool isUpdateRequested() const { return updateRequested; }
    /** Asks the pipeline to set the module up again before the next capture. */
    void requestUpdate() { updateRequested = true; }

protected:
    Pipeline *pipeline; /**< not owning; null until registered */
    modulePriority priority;
    moduleUpdate updateBasis;
    bool setupFlag;
    bool updateRequested;
};

/** Attaches a SetupID to a concrete setup module. */
template <SetupID ID> class SetupModuleBase : public SetupModule {
public:
    static const SetupID id = ID;

    explicit SetupModuleBase(const std::string &loggingName, modulePriority prio = NORMAL,
                             moduleUpdate update = REQUEST)
        : SetupModule(loggingName, prio, update) {}

    SetupID getModuleID() const override { return ID; }
};

} // namespace ISPC

#endif /* ISPC_SETUPMODULE_H */
