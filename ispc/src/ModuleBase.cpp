#include "ispc/ModuleBase.h"

namespace ISPC {

namespace {

const char *const kSetupIDNames[] = {
    "STP_IIF", "STP_EXS", "STP_BLC", "STP_RLT", "STP_LSH", "STP_WBC", "STP_FOS", "STP_DNS", "STP_DPF", "STP_ENS",
    "STP_LCA", "STP_CCM", "STP_MGM", "STP_GMA", "STP_WBS", "STP_AWS", "STP_HIS", "STP_R2Y", "STP_MIE", "STP_VIB",
    "STP_TNM", "STP_FLD", "STP_SHA", "STP_ESC", "STP_DSC", "STP_Y2R", "STP_DGM", "STP_HDR", "STP_OUT",
};
static_assert(sizeof(kSetupIDNames) / sizeof(kSetupIDNames[0]) == STP_OUT + 1, "one name per SetupID");

const char *const kControlIDNames[] = {
    "CTRL_AWB", "CTRL_AE", "CTRL_AF", "CTRL_TNM", "CTRL_DNS", "CTRL_LBC", "CTRL_LSH", "CTRL_AUX1", "CTRL_AUX2",
};
static_assert(sizeof(kControlIDNames) / sizeof(kControlIDNames[0]) == CTRL_AUX2 + 1, "one name per ControlID");

template <size_t N> const char *nameOf(const char *const (&table)[N], long value, const char *unknown) {
    return value >= 0 && static_cast<size_t>(value) < N ? table[value] : unknown;
}

} // namespace

std::ostream &ModuleBase::printState(std::ostream &os) const {
    os << "  " << logName << ":" << std::endl;
    return os;
}

const char *ModuleBase::setupIDName(SetupID id) {
    return nameOf(kSetupIDNames, static_cast<long>(id), "unkown-setupID");
}

const char *ModuleBase::controlIDName(ControlID id) {
    return nameOf(kControlIDNames, static_cast<long>(id), "unkown-controlID");
}

std::ostream &operator<<(std::ostream &os, const ModuleBase &b) { return b.printState(os); }

} // namespace ISPC
