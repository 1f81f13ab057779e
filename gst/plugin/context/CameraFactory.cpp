#include "CameraFactory.h"

#include "control_makers.h"
#include "ispc/ModuleAWS.h"
#include "ispc/ModuleBLC.h"
#include "ispc/ModuleCCM.h"
#include "ispc/ModuleDGM.h"
#include "ispc/ModuleDNS.h"
#include "ispc/ModuleDPF.h"
#include "ispc/ModuleDSC.h"
#include "ispc/ModuleENS.h"
#include "ispc/ModuleESC.h"
#include "ispc/ModuleEXS.h"
#include "ispc/ModuleFLD.h"
#include "ispc/ModuleFOS.h"
#include "ispc/ModuleGMA.h"
#include "ispc/ModuleHDR.h"
#include "ispc/ModuleHIS.h"
#include "ispc/ModuleIIF.h"
#include "ispc/ModuleLCA.h"
#include "ispc/ModuleLSH.h"
#include "ispc/ModuleMIE.h"
#include "ispc/ModuleMGM.h"
#include "ispc/ModuleOUT.h"
#include "ispc/ModuleR2Y.h"
#include "ispc/ModuleRLT.h"
#include "ispc/ModuleSHA.h"
#include "ispc/ModuleTNM.h"
#include "ispc/ModuleVIB.h"
#include "ispc/ModuleWBC.h"
#include "ispc/ModuleWBS.h"
#include "ispc/ModuleY2R.h"
#include "norvacommon/userlog.h"

namespace ISPC {

namespace {

constexpr const char *kTag = "ISPC_CAM_FACTORY";

/** Which revisions have a block. */
enum class Revisions {
    All,
    Below2_6, /* 1.x and 2.0 to 2.5 */
    From2_6,  /* 2.6 and later, any major above 2 */
    NotMajor1,
};

bool has(Revisions r, unsigned major, unsigned minor) {
    const bool from2_6 = (major == 2 && minor >= 6) || major >= 3;
    switch (r) {
    case Revisions::All:
        return true;
    case Revisions::Below2_6:
        return !from2_6;
    case Revisions::From2_6:
        return from2_6;
    case Revisions::NotMajor1:
        return major != 1;
    }
    return false;
}

template <class M> SetupModule *make() { return new M(); }

struct SetupEntry {
    SetupID id;
    Revisions revisions;
    /** Null while the system has no module class for the block. */
    SetupModule *(*create)();
};

/* Registration order. */
const SetupEntry kSetupModules[] = {
    {STP_OUT, Revisions::All, make<ModuleOUT>},        {STP_IIF, Revisions::All, make<ModuleIIF>},
    {STP_EXS, Revisions::All, make<ModuleEXS>},        {STP_BLC, Revisions::All, make<ModuleBLC>},
    {STP_LSH, Revisions::All, make<ModuleLSH>},        {STP_WBC, Revisions::Below2_6, make<ModuleWBC>},
    {STP_WBC, Revisions::From2_6, make<ModuleWBC2_6>}, {STP_FOS, Revisions::All, make<ModuleFOS>},
    {STP_DNS, Revisions::All, make<ModuleDNS>},        {STP_DPF, Revisions::All, make<ModuleDPF>},
    {STP_ENS, Revisions::All, make<ModuleENS>},        {STP_LCA, Revisions::All, make<ModuleLCA>},
    {STP_CCM, Revisions::All, make<ModuleCCM>},        {STP_MGM, Revisions::All, make<ModuleMGM>},
    {STP_GMA, Revisions::All, make<ModuleGMA>},        {STP_WBS, Revisions::All, make<ModuleWBS>},
    {STP_HIS, Revisions::All, make<ModuleHIS>},        {STP_R2Y, Revisions::All, make<ModuleR2Y>},
    {STP_MIE, Revisions::All, make<ModuleMIE>},        {STP_VIB, Revisions::All, make<ModuleVIB>},
    {STP_TNM, Revisions::All, make<ModuleTNM>},        {STP_FLD, Revisions::All, make<ModuleFLD>},
    {STP_SHA, Revisions::All, make<ModuleSHA>},        {STP_ESC, Revisions::All, make<ModuleESC>},
    {STP_DSC, Revisions::All, make<ModuleDSC>},        {STP_Y2R, Revisions::All, make<ModuleY2R>},
    {STP_DGM, Revisions::All, make<ModuleDGM>},        {STP_HDR, Revisions::All, make<ModuleHDR>},
    {STP_RLT, Revisions::NotMajor1, make<ModuleRLT>},  {STP_AWS, Revisions::From2_6, make<ModuleAWS>},
};

struct ControlEntry {
    ControlKind kind;
    /** Null: every revision. */
    bool (*present)(unsigned major, unsigned minor);
};

/* The white-balance variant compares major and minor separately: 1.6 gets the Planckian one. */
bool pidWhiteBalance(unsigned major, unsigned minor) { return major <= 2 && minor <= 5; }
bool planckianWhiteBalance(unsigned major, unsigned minor) { return !pidWhiteBalance(major, minor); }

const ControlEntry kControlModules[] = {
    {ControlKind::AE, nullptr},
    {ControlKind::AF, nullptr},
    {ControlKind::DNS, nullptr},
    {ControlKind::LBC, nullptr},
    {ControlKind::TNM, nullptr},
    {ControlKind::LSH, nullptr},
    {ControlKind::AWB_PID, pidWhiteBalance},
    {ControlKind::AWB_Planckian, planckianWhiteBalance},
};

} // namespace

std::list<SetupID> CameraFactory::setupModuleIDsFromHWVersion(unsigned major, unsigned minor) {
    std::list<SetupID> ids;
    if (major == 0) {
        QOR_LOG_ERROR(kTag, "major version has to be >0\n");
        return ids;
    }
    for (const SetupEntry &e : kSetupModules) {
        if (has(e.revisions, major, minor))
            ids.push_back(e.id);
    }
    return ids;
}

std::list<SetupModule *> CameraFactory::setupModulesFromHWVersion(unsigned major, unsigned minor) {
    std::list<SetupModule *> modules;
    if (major == 0) {
        QOR_LOG_ERROR(kTag, "major version has to be >0\n");
        return modules;
    }
    for (const SetupEntry &e : kSetupModules) {
        if (e.create != nullptr && has(e.revisions, major, minor))
            modules.push_back(e.create());
    }
    return modules;
}

std::list<ControlModule *> CameraFactory::controlModulesFromHWVersion(unsigned major, unsigned minor) {
    std::list<ControlModule *> controls;
    if (major == 0) {
        QOR_LOG_ERROR(kTag, "major version has to be >0\n");
        return controls;
    }
    for (const ControlEntry &e : kControlModules) {
        if (e.present != nullptr && !e.present(major, minor))
            continue;
        if (ControlModule *c = CreateControl(e.kind))
            controls.push_back(c);
    }
    return controls;
}

QOR_RESULT CameraFactory::populateCameraFromHWVersion(Camera &camera, Sensor *sensor, int perf) {
    Pipeline *pipeline = camera.getPipeline();
    const unsigned major = camera.hwInfo.rev_ui8Major;
    const unsigned minor = camera.hwInfo.rev_ui8Minor;
    if (pipeline == nullptr || major == 0) {
        QOR_LOG_ERROR(kTag, "Invalid major version in Camera HW info, the connection to the driver seems broken\n");
        return QOR_RES_FAILED;
    }
    std::list<SetupModule *> modules = setupModulesFromHWVersion(major, minor);
    if (modules.empty()) {
        QOR_LOG_ERROR(kTag, "Failed to get module list for HW version %d.%d\n", static_cast<int>(major),
                      static_cast<int>(minor));
        return QOR_RES_FAILED;
    }
    while (!modules.empty()) {
        SetupModule *m = modules.front();
        modules.pop_front();
        const QOR_RESULT ret = pipeline->registerModule(m);
        if (ret != QOR_RES_OK) {
            // The pipeline keeps what it registered; the failed module and the rest are the factory's.
            delete m;
            for (SetupModule *rest : modules)
                delete rest;
            return ret;
        }
        if (perf > 0)
            LOG_Perf_Register(m, perf > 1);
    }

    ModuleIIF *iif = static_cast<ModuleIIF *>(pipeline->getModule(STP_IIF));
    if (iif != nullptr && sensor != nullptr) {
        iif->aCropBR[0] = sensor->uiWidth - 1;
        iif->aCropBR[1] = sensor->uiHeight - 1;
        iif->requestUpdate();
        (void)pipeline->setupAll();
    }
    camera.state = Camera::CAM_REGISTERED;
    return QOR_RES_OK;
}

} // namespace ISPC
