#include "ispc/ControlModule.h"

namespace ISPC {

std::ostream &ControlModule::printState(std::ostream &os) const {
    os << "  " << logName << ":" << std::endl;
    os << "    config:" << std::endl;
    os << "      enabled = " << (enabled ? 1 : 0) << std::endl;
    return os;
}

QOR_RESULT ControlModule::setPipelineOwner(Pipeline *pipe) {
    if (pipe == nullptr) {
        pipelineOwner = pipelineList.end();
        return QOR_RES_OK;
    }
    auto it = findPipeline(pipe);
    if (it == pipelineList.end()) {
        return QOR_RES_INVALID_PARAM;
    }
    pipelineOwner = it;
    return QOR_RES_OK;
}

Pipeline *ControlModule::getPipelineOwner() const {
    return pipelineOwner == pipelineList.end() ? nullptr : *pipelineOwner;
}

QOR_RESULT ControlModule::addPipeline(Pipeline *pipe) {
    if (pipe == nullptr) {
        return QOR_RES_INVALID_PARAM;
    }
    if (findPipeline(pipe) != pipelineList.end()) {
        return QOR_RES_ALREADY;
    }
    pipelineList.push_back(pipe);
    return QOR_RES_OK;
}

QOR_RESULT ControlModule::removePipeline(Pipeline *pipe) {
    auto it = findPipeline(pipe);
    if (it == pipelineList.end()) {
        return QOR_RES_NOT_INITIALISED;
    }
    if (it == pipelineOwner) {
        return QOR_RES_NOT_SUPPORTED;
    }
    pipelineList.erase(it);
    return QOR_RES_OK;
}

void ControlModule::clearPipelines() {
    pipelineList.clear();
    pipelineOwner = pipelineList.end();
}

bool ControlModule::hasPipeline(const Pipeline *pipe) const { return findPipeline(pipe) != pipelineList.end(); }

std::list<Pipeline *>::iterator ControlModule::findPipeline(const Pipeline *pipe) {
    for (auto it = pipelineList.begin(); it != pipelineList.end(); ++it) {
        if (*it == pipe) {
            return it;
        }
    }
    return pipelineList.end();
}

std::list<Pipeline *>::const_iterator ControlModule::findPipeline(const Pipeline *pipe) const {
    for (auto it = pipelineList.begin(); it != pipelineList.end(); ++it) {
        if (*it == pipe) {
            return it;
        }
    }
    return pipelineList.end();
}

} // namespace ISPC
