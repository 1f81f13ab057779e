#include "ispc/ModuleBLC.h"

#include "ispc/Pipeline.h"

namespace ISPC {

namespace {
const int BLC_SENSOR_BLACK_DEF[4] = {127, 127, 127, 127};
} // namespace

const ParamDefArray<int> ModuleBLC::BLC_SENSOR_BLACK("BLC_SENSOR_BLACK", -128, 127, BLC_SENSOR_BLACK_DEF, 4);
const ParamDef<int> ModuleBLC::BLC_SYS_BLACK("BLC_SYS_BLACK", 0, 32767, 64);

const char *const ModuleBLC::GROUP_NAME = "ModuleBLC";
const char *const ModuleBLC::GROUP_HEADER = "// Black Level Correction parameters";

const std::vector<ModuleBLC::Binding> &ModuleBLC::bindings() {
    static const std::vector<Binding> table = {
        bind(BLC_SENSOR_BLACK, &ModuleBLC::aSensorBlack),
        bind(BLC_SYS_BLACK, &ModuleBLC::ui32SystemBlack),
    };
    return table;
}

ModuleBLC::ModuleBLC()
    : SetupModuleImpl<ModuleBLC, STP_BLC>("ISPC_MOD_BLC"), aSensorBlack{127, 127, 127, 127}, ui32SystemBlack(64) {
    loadDefaults();
}

QOR_RESULT ModuleBLC::setup() { return timedSetup(getPipeline()); }

QOR_RESULT ModuleBLC::writeSetup(MC_PIPELINE &mc) {
    MC_BLC &blc = mc.sBLC;
    blc.bBlackFrame = QOR_FALSE;
    blc.bRowAverage = QOR_FALSE;
    for (int i = 0; i < 4; i++) {
        // The block subtracts the sensor's black level. Its signed 8-bit offset cannot hold 128, the
        // negation of the lowest level -128; the offset stops at 127 instead of wrapping to -128.
        const QOR_INT32 offset = -aSensorBlack[i];
        blc.aFixedOffset[i] = static_cast<QOR_INT8>(offset > 127 ? 127 : (offset < -128 ? -128 : offset));
    }
    blc.ui16PixelMax = 64.0;
    markUpdated(blc);
    mc.ui16SystemBlackLevel = static_cast<QOR_UINT16>(ui32SystemBlack);
    return QOR_RES_OK;
}

} // namespace ISPC
