#include "ispc/ModuleCCM.h"

#include "ispc/Pipeline.h"

namespace ISPC {

const double CCM_MATRIX_DEF[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
const double CCM_OFFSETS_DEF[3] = {0, 0, 0};

const ParamDefArray<double> ModuleCCM::CCM_MATRIX("CCM_MATRIX", -4.0, 3.998046875, CCM_MATRIX_DEF, 9);
const ParamDefArray<double> ModuleCCM::CCM_OFFSETS("CCM_OFFSETS", -256.0, 255.875, CCM_OFFSETS_DEF, 3);

const char *const ModuleCCM::GROUP_NAME = "ModuleCCM";
const char *const ModuleCCM::GROUP_HEADER = "// Colour Correction Matrix parameters";

const std::vector<ModuleCCM::Binding> &ModuleCCM::bindings() {
    static const std::vector<Binding> table = {
        bind(CCM_MATRIX, &ModuleCCM::aMatrix),
        bind(CCM_OFFSETS, &ModuleCCM::aOffset),
    };
    return table;
}

ModuleCCM::ModuleCCM()
    : SetupModuleImpl<ModuleCCM, STP_CCM>("ISPC_MOD_CCM"), aMatrix{1, 0, 0, 0, 1, 0, 0, 0, 1}, aOffset{0, 0, 0} {
    loadDefaults();
}

ModuleCCM &ModuleCCM::operator=(const ModuleCCM &other) {
    if (this != &other) {
        for (unsigned i = 0; i < CCM_MATRIX.n; i++)
            aMatrix[i] = other.aMatrix[i];
        for (unsigned i = 0; i < CCM_OFFSETS.n; i++)
            aOffset[i] = other.aOffset[i];
    }
    return *this;
}

QOR_RESULT ModuleCCM::setup() { return timedSetup(getPipeline()); }

QOR_RESULT ModuleCCM::writeSetup(MC_PIPELINE &mc) {
    // Values the white-balance loops write are passed on as they are: the register conversion
    // saturates the coefficients and the offsets to their fields.
    MC_CCM &ccm = mc.sCCM;
    for (int i = 0; i < 3; i++) {
        for (int j = 0; j < 3; j++) {
            ccm.aCoeff[i][j] = aMatrix[3 * i + j];
        }
        ccm.aCoeff[i][3] = 0.0;
        ccm.aOffset[i] = aOffset[i];
    }
    markUpdated(ccm);
    return QOR_RES_OK;
}

} // namespace ISPC
