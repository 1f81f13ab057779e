#ifndef ISPC_CONTROLMODULE_H
#define ISPC_CONTROLMODULE_H

#include <list>

#include "ispc/ModuleBase.h"

namespace ISPC {

/**
 * A module that runs an automatic control loop over the statistics of each shot and programs its
 * correction into setup modules of one or more pipelines.
 */
class ControlModule : public ModuleBase {
public:
    explicit ControlModule(const std::string &loggingName)
        : ModuleBase(loggingName), pipelineOwner(pipelineList.end()), enabled(true), updateMode(UPDATE_SHOT) {}
    /* The owner is an iterator into this object's own list, so a copy would point into another list. */
    ControlModule(const ControlModule &) = delete;
    ControlModule &operator=(const ControlModule &) = delete;

    std::ostream &printState(std::ostream &os) const override;

protected:
    /** Programs the current correction into the setup modules of the pipelines. */
    virtual QOR_RESULT programCorrection() = 0;

public:
    /** Null clears the owner; 11 when pipe is not in the list; otherwise makes it the owner. */
    virtual QOR_RESULT setPipelineOwner(Pipeline *pipe);
    virtual Pipeline *getPipelineOwner() const;
    virtual void enableControl(bool enable) { enabled = enable; }
    virtual bool isEnabled() const { return enabled; }
    /** Runs one step of the loop on the statistics of one shot. */
    virtual QOR_RESULT update(const Metadata &metadata) = 0;
    /** Sets up the statistics blocks the control reads. */
    virtual QOR_RESULT configureStatistics() = 0;
    virtual QOR_RESULT setUpdateType(CtrlUpdateMode mode) {
        updateMode = mode;
        return QOR_RES_OK;
    }
    virtual CtrlUpdateMode getUpdateType() const { return updateMode; }
    virtual bool hasConverged() const = 0;
    /** Called by the runner when it registers the control; does nothing here. */
    virtual void init() {}
    virtual ControlID getModuleID() const = 0;

    const std::list<Pipeline *> &getPipelines() const { return pipelineList; }
    /** 11 for null, 18 when already in the list, else appends it. */
    QOR_RESULT addPipeline(Pipeline *pipe);
    /** 17 when not in the list, 22 when it is the owner, else removes it. */
    QOR_RESULT removePipeline(Pipeline *pipe);
    void clearPipelines();
    bool hasPipeline(const Pipeline *pipe) const;

    /**
     * The sensor of the owner pipeline, or null without owner. Defined with ISPC::Pipeline (the one
     * call this class makes into it), so it links once the pipeline is part of the library.
     */
    Sensor *getSensor() const;

protected:
    std::list<Pipeline *>::iterator findPipeline(const Pipeline *pipe);
    std::list<Pipeline *>::const_iterator findPipeline(const Pipeline *pipe) const;

    std::list<Pipeline *> pipelineList;            /**< not owning */
    std::list<Pipeline *>::iterator pipelineOwner; /**< pipelineList.end() when there is none */
    bool enabled;
    CtrlUpdateMode updateMode;
};

/** Attaches a ControlID to a concrete control module. */
template <ControlID ID> class ControlModuleBase : public ControlModule {
public:
    static const ControlID id = ID;

    explicit ControlModuleBase(const std::string &loggingName) : ControlModule(loggingName) {}

    ControlID getModuleID() const override { return ID; }
};

} // namespace ISPC

#endif /* ISPC_CONTROLMODULE_H */
