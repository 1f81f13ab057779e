#include "control_makers.h"

#include "ispc/ControlAE.h"
#include "ispc/ControlAF.h"
#include "ispc/ControlDNS.h"
#include "ispc/ControlLBC.h"
#include "ispc/ControlTNM.h"

const char *ControlLogName(ControlKind kind) {
    switch (kind) {
    case ControlKind::AE:
        return "ISPC_CTRL_AE";
    case ControlKind::AF:
        return "ISPC_CTRL_AF";
    case ControlKind::DNS:
        return "ISPC_CTRL_DNS";
    case ControlKind::LBC:
        return "ISPC_CTRL_LBC";
    case ControlKind::TNM:
        return "ISPC_CTRL_TNM";
    case ControlKind::LSH:
        return "ISPC_CTRL_LSH";
    case ControlKind::AWB:
    case ControlKind::AWB_Planckian:
        return "ISPC_CTRL_AWB";
    case ControlKind::AWB_PID:
        return "ISPC_CTRL_AWB-PID";
    }
    return "";
}

ISPC::ControlModule *CreateControl(ControlKind kind) {
    // A kind whose control class is not part of the control library yet answers null, and the callers register
    // nothing for it.
    switch (kind) {
    case ControlKind::AE:
        return new ISPC::ControlAE(ControlLogName(kind));
    case ControlKind::AF:
        return new ISPC::ControlAF(ControlLogName(kind));
    case ControlKind::DNS:
        return new ISPC::ControlDNS(1.0, ControlLogName(kind));
    case ControlKind::LBC:
        return new ISPC::ControlLBC(ControlLogName(kind));
    case ControlKind::TNM:
        return new ISPC::ControlTNM(ControlLogName(kind));
    case ControlKind::LSH:
    case ControlKind::AWB:
    case ControlKind::AWB_PID:
    case ControlKind::AWB_Planckian:
        break;
    }
    return nullptr;
}
