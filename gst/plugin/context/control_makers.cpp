#include "control_makers.h"

#include "ispc/ControlAE.h"
#include "ispc/ControlAF.h"
#include "ispc/ControlAWB.h"
#include "ispc/ControlAWB_PID.h"
#include "ispc/ControlAWB_Planckian.h"
#include "ispc/ControlDNS.h"
#include "ispc/ControlLBC.h"
#include "ispc/ControlLSH.h"
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
        return new ISPC::ControlLSH(ControlLogName(kind));
    case ControlKind::AWB:
        return new ISPC::ControlAWB(ControlLogName(kind));
    case ControlKind::AWB_PID:
        return new ISPC::ControlAWB_PID(ControlLogName(kind));
    case ControlKind::AWB_Planckian:
        return new ISPC::ControlAWB_Planckian(ControlLogName(kind));
    }
    return nullptr;
}
