#ifndef ISPC_CONTROL_H
#define ISPC_CONTROL_H

#include <map>
#include <ostream>

#include "ispc/ControlModule.h"
#include "ispc/ModuleBase.h"
#include "qor_errors.h"

namespace ISPC {

class Pipeline;
struct Metadata;

/**
 * Registry and runner of a camera's control modules: owns them, keys them by ControlID and runs
 * them, in ControlID order, on the statistics of each shot. A failing control never stops the
 * others. Log tag "ISPC_CTRL".
 */
class Control {
public:
    Control() {}
    virtual ~Control();
    Control(const Control &) = delete;
    Control &operator=(const Control &) = delete;

    /** Takes ownership; replaces (and deletes) a module registered under the same id. */
    QOR_RESULT registerControlModule(ControlModule *module, Pipeline *pipeline);
    /** The module under id, or null; the runner keeps it. */
    ControlModule *getControlModule(ControlID id);

    /** Updates the module under id, enabled or not. */
    QOR_RESULT runControlModule(ControlID id, const Metadata &metadata);
    /** Updates every enabled module. */
    QOR_RESULT runControlModules(const Metadata &metadata);
    /** Updates every enabled module of the given update mode. */
    QOR_RESULT runControlModules(CtrlUpdateMode updateMode, const Metadata &metadata);

    QOR_RESULT loadAll(const ParameterList &parameters);
    QOR_RESULT loadControlModule(ControlID id, const ParameterList &parameters);
    QOR_RESULT saveAll(ParameterList &parameters, ModuleBase::SaveType t) const;
    QOR_RESULT saveControlModule(ControlID id, ParameterList &parameters, ModuleBase::SaveType t) const;
    /** Lets every module set up the statistics it reads. */
    QOR_RESULT configureStatistics();

    QOR_RESULT addPipelineToAll(Pipeline *pipeline);
    QOR_RESULT setPipelineOwnerToAll(Pipeline *pipeline);

    /** Deletes every module. */
    QOR_RESULT clearModules();

    std::ostream &printAllState(std::ostream &os) const;

protected:
    std::map<ControlID, ControlModule *> controlRegistry; /**< owned */
};

} // namespace ISPC

#endif /* ISPC_CONTROL_H */
