#include "ispc/ModuleFLD.h"

#include "ispc/Pipeline.h"
#include "ispc/Sensor.h"

namespace ISPC {

namespace {

constexpr const char *kTag = "ISPC_MOD_FLD";

/** A timing value: the sensor's as it is when there is a sensor, else the tag by the ordinary rule. */
template <typename T, typename V, typename FromSensor>
ModuleFLD::Binding timing(const ParamDef<T> &def, V ModuleFLD::*member, FromSensor fromSensor) {
    ModuleFLD::Binding b = ModuleFLD::Binding{def.name, nullptr, nullptr};
    b.load = [&def, member, fromSensor](ModuleFLD &m, const ParameterList &list) {
        const Sensor *sensor = m.getSensor();
        m.*member = sensor != nullptr ? static_cast<V>(fromSensor(*sensor)) : static_cast<V>(list.getParameter(def));
    };
    b.save = [&def, member](const ModuleFLD &m, ParameterList &list, ModuleBase::SaveType t) {
        saveParameter(list, t, def, static_cast<T>(m.*member));
    };
    return b;
}

/** A value in an unsigned field of type F: saturated rather than wrapped (only run-time writes exceed them). */
template <typename F> F saturated(QOR_INT32 v) {
    const long long top = static_cast<long long>(static_cast<F>(~F(0)));
    return static_cast<F>(v < 0 ? 0 : (static_cast<long long>(v) > top ? top : v));
}

} // namespace

const ParamDefSingle<bool> ModuleFLD::FLD_ENABLE("FLD_ENABLE", false);
const ParamDef<double> ModuleFLD::FLD_FRAMERATE("FLD_FRAME_RATE", 1.0, 255.0, 30.0);
const ParamDef<int> ModuleFLD::FLD_VTOT("FLD_VTOT", 0, 16383, 525);
const ParamDef<int> ModuleFLD::FLD_SCENECHANGE("FLD_SCENE_CHANGE_TH", 0, 1048575, 300000);
const ParamDef<int> ModuleFLD::FLD_MINPN("FLD_MIN_PN", 0, 63, 4);
const ParamDef<int> ModuleFLD::FLD_PN("FLD_PN", 0, 63, 16);
const ParamDef<int> ModuleFLD::FLD_NFTH("FLD_NF_TH", 0, 32767, 15000);
const ParamDef<int> ModuleFLD::FLD_COEFDIFF("FLD_COEF_DIFF_TH", 0, 32767, 50);
const ParamDef<int> ModuleFLD::FLD_RSHIFT("FLD_RSHIFT", 0, 63, 10);
const ParamDefSingle<bool> ModuleFLD::FLD_RESET("FLD_RESET", false);

const char *const ModuleFLD::GROUP_NAME = "ModuleFLD";
const char *const ModuleFLD::GROUP_HEADER = "// Flicker Detection parameters";

const std::vector<ModuleFLD::Binding> &ModuleFLD::bindings() {
    static const std::vector<Binding> table = {
        bind(FLD_ENABLE, &ModuleFLD::bEnable),
        timing(FLD_FRAMERATE, &ModuleFLD::fFrameRate, [](const Sensor &s) { return s.flFrameRate; }),
        timing(FLD_VTOT, &ModuleFLD::iVTotal, [](const Sensor &s) { return s.nVTot; }),
        bind(FLD_SCENECHANGE, &ModuleFLD::iScheneChangeTH),
        bind(FLD_MINPN, &ModuleFLD::iMinPN),
        bind(FLD_PN, &ModuleFLD::iPN),
        bind(FLD_NFTH, &ModuleFLD::iNF_TH),
        bind(FLD_COEFDIFF, &ModuleFLD::iCoeffDiffTH),
        bind(FLD_RSHIFT, &ModuleFLD::iRShift),
        bind(FLD_RESET, &ModuleFLD::bReset),
    };
    return table;
}

ModuleFLD::ModuleFLD()
    : SetupModuleImpl<ModuleFLD, STP_FLD>(kTag), bEnable(false), fFrameRate(30.0), iVTotal(525),
      iScheneChangeTH(300000), iMinPN(4), iPN(16), iNF_TH(15000), iCoeffDiffTH(50), iRShift(10), bReset(false) {
    loadDefaults();
}

QOR_RESULT ModuleFLD::setup() { return timedSetup(getPipeline()); }

QOR_RESULT ModuleFLD::writeSetup(MC_PIPELINE &mc) {
    // The loaded ranges fit every field; values written at run time (a sensor's timing) saturate.
    MC_FLD &fld = mc.sFLD;
    fld.bEnable = bEnable ? QOR_TRUE : QOR_FALSE;
    fld.fFrameRate = fFrameRate;
    fld.ui16VTot = saturated<QOR_UINT16>(iVTotal);
    fld.ui32SceneChange = saturated<QOR_UINT32>(iScheneChangeTH);
    fld.ui8MinPN = saturated<QOR_UINT8>(iMinPN);
    fld.ui8PN = saturated<QOR_UINT8>(iPN);
    fld.ui16CoefDiff = saturated<QOR_UINT16>(iCoeffDiffTH);
    fld.ui16NFThreshold = saturated<QOR_UINT16>(iNF_TH);
    fld.ui8RShift = saturated<QOR_UINT8>(iRShift);
    fld.bReset = bReset ? QOR_TRUE : QOR_FALSE;
    markUpdated(fld);
    return QOR_RES_OK;
}

} // namespace ISPC
