#ifndef ISPC_CONTROLDNS_H
#define ISPC_CONTROLDNS_H

#include <string>

#include "ispc/ControlModule.h"
#include "ispc/Parameter.h"

namespace ISPC {

struct Metadata;

/**
 * Denoise control: copies the owner sensor's gain, as read back, into the denoise module of every pipeline in its
 * list on every shot and asks each to set itself up again, so that the noise thresholds follow the gain the
 * exposure control programs. No parameters, no statistics; always converged.
 */
class ControlDNS : public ControlModuleBase<CTRL_DNS> {
public:
    explicit ControlDNS(double defaultGain = 1.0, const std::string &logname = "ISPC_CTRL_DNS");
    ~ControlDNS() override = default;

    QOR_RESULT load(const ParameterList &parameters) override;
    QOR_RESULT save(ParameterList &parameters, SaveType t) const override;
    using ModuleBase::save;
    QOR_RESULT update(const Metadata &metadata) override;
    QOR_RESULT configureStatistics() override;
    bool hasConverged() const override { return true; }
    /** An empty group: no header, no tags. */
    static ParameterGroup getGroup();

    double getSensorGain() const { return fSensorGain; }

protected:
    QOR_RESULT programCorrection() override;

    double fSensorGain; /**< linear gain last taken from the owner's sensor */
};

} // namespace ISPC

#endif /* ISPC_CONTROLDNS_H */
