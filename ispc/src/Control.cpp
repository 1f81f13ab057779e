#include "ispc/Control.h"

#include "norvacommon/userlog.h"

namespace ISPC {

namespace {
constexpr const char *kTag = "ISPC_CTRL";
} // namespace

Control::~Control() { clearModules(); }

QOR_RESULT Control::registerControlModule(ControlModule *module, Pipeline *pipeline) {
    if (module == nullptr) {
        QOR_LOG_ERROR(kTag, "NULL module provided");
        return QOR_RES_FAILED;
    }
    const ControlID id = module->getModuleID();
    auto it = controlRegistry.find(id);
    if (it != controlRegistry.end() && it->second == module) {
        // Already registered: replacing it would delete the module and keep a dangling pointer.
        return QOR_RES_OK;
    }
    if (it != controlRegistry.end()) {
        QOR_LOG_WARNING(kTag, "Module with id = %d was previously registered\n", static_cast<int>(id));
        delete it->second;
        controlRegistry.erase(it);
    }
    // A module that already has the pipeline keeps one entry of it.
    module->addPipeline(pipeline);
    module->setPipelineOwner(pipeline);
    module->init();
    controlRegistry[id] = module;
    return QOR_RES_OK;
}

ControlModule *Control::getControlModule(ControlID id) {
    auto it = controlRegistry.find(id);
    return it != controlRegistry.end() ? it->second : nullptr;
}

QOR_RESULT Control::runControlModule(ControlID id, const Metadata &metadata) {
    ControlModule *module = getControlModule(id);
    if (module == nullptr) {
        QOR_LOG_ERROR(kTag, "Module with id %d not found.\n", static_cast<int>(id));
        return QOR_RES_INVALID_PARAM;
    }
    return module->update(metadata);
}

QOR_RESULT Control::runControlModules(const Metadata &metadata) {
    bool failed = false;
    for (auto &entry : controlRegistry) {
        if (!entry.second->isEnabled()) {
            continue;
        }
        if (entry.second->update(metadata) != QOR_RES_OK) {
            QOR_LOG_ERROR(kTag, "Error while updating module with id %d\n", static_cast<int>(entry.first));
            failed = true;
        }
    }
    return failed ? QOR_RES_FAILED : QOR_RES_OK;
}

QOR_RESULT Control::runControlModules(CtrlUpdateMode updateMode, const Metadata &metadata) {
    bool failed = false;
    for (auto &entry : controlRegistry) {
        if (!entry.second->isEnabled() || entry.second->getUpdateType() != updateMode) {
            continue;
        }
        if (entry.second->update(metadata) != QOR_RES_OK) {
            QOR_LOG_ERROR(kTag, "Failed to update module with id %d\n", static_cast<int>(entry.first));
            failed = true;
        }
    }
    return failed ? QOR_RES_FAILED : QOR_RES_OK;
}

QOR_RESULT Control::loadAll(const ParameterList &parameters) {
    bool failed = false;
    for (auto &entry : controlRegistry) {
        if (entry.second->load(parameters) != QOR_RES_OK) {
            QOR_LOG_ERROR(kTag, "Failed to load module with id %d\n", static_cast<int>(entry.first));
            failed = true;
        }
    }
    return failed ? QOR_RES_FAILED : QOR_RES_OK;
}

QOR_RESULT Control::loadControlModule(ControlID id, const ParameterList &parameters) {
    ControlModule *module = getControlModule(id);
    if (module == nullptr) {
        QOR_LOG_ERROR(kTag, "Module with id %d not found.\n", static_cast<int>(id));
        return QOR_RES_INVALID_PARAM;
    }
    return module->load(parameters);
}

QOR_RESULT Control::saveAll(ParameterList &parameters, ModuleBase::SaveType t) const {
    bool failed = false;
    for (const auto &entry : controlRegistry) {
        if (entry.second->save(parameters, t) != QOR_RES_OK) {
            QOR_LOG_ERROR(kTag, "Failed to save module with id %d\n", static_cast<int>(entry.first));
            failed = true;
        }
    }
    return failed ? QOR_RES_FAILED : QOR_RES_OK;
}

QOR_RESULT Control::saveControlModule(ControlID id, ParameterList &parameters, ModuleBase::SaveType t) const {
    auto it = controlRegistry.find(id);
    if (it == controlRegistry.end()) {
        QOR_LOG_ERROR(kTag, "Module with id %d not found.\n", static_cast<int>(id));
        return QOR_RES_FAILED;
    }
    return it->second->save(parameters, t);
}

QOR_RESULT Control::configureStatistics() {
    bool failed = false;
    for (auto &entry : controlRegistry) {
        if (entry.second->configureStatistics() != QOR_RES_OK) {
            QOR_LOG_ERROR(kTag, "Failed to configure the statistics for module withid %d\n",
                          static_cast<int>(entry.first));
            failed = true;
        }
    }
    return failed ? QOR_RES_FAILED : QOR_RES_OK;
}

QOR_RESULT Control::addPipelineToAll(Pipeline *pipeline) {
    int refused = 0;
    for (auto &entry : controlRegistry) {
        if (entry.second->addPipeline(pipeline) != QOR_RES_OK) {
            refused++;
        }
    }
    if (refused > 0) {
        QOR_LOG_ERROR(kTag, "Failed to add pipeline to %d modules\n", refused);
        return QOR_RES_FAILED;
    }
    return QOR_RES_OK;
}

QOR_RESULT Control::setPipelineOwnerToAll(Pipeline *pipeline) {
    int refused = 0;
    for (auto &entry : controlRegistry) {
        if (entry.second->setPipelineOwner(pipeline) != QOR_RES_OK) {
            refused++;
        }
    }
    if (refused > 0) {
        QOR_LOG_ERROR(kTag, "Failed to set pipeline owner to %d modules\n", refused);
        return QOR_RES_FAILED;
    }
    return QOR_RES_OK;
}

QOR_RESULT Control::clearModules() {
    for (auto &entry : controlRegistry) {
        delete entry.second;
    }
    controlRegistry.clear();
    return QOR_RES_OK;
}

std::ostream &Control::printAllState(std::ostream &os) const {
    os << "Controls:" << std::endl;
    for (const auto &entry : controlRegistry) {
        os << *entry.second << std::endl;
    }
    return os;
}

} // namespace ISPC
