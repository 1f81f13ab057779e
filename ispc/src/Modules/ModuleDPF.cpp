#include "ispc/ModuleDPF.h"

#include <cstdlib>

#include "ispc/Pipeline.h"
#include "norvacommon/dpf_map.h"

namespace ISPC {

namespace {
const char *const kFileBound = "<HW DPF read file>";
} // namespace

const ParamDefSingle<bool> ModuleDPF::DPF_DETECT_ENABLE("DPF_DETECT_ENABLE", false);
const ParamDefSingle<bool> ModuleDPF::DPF_READ_ENABLE("DPF_READ_MAP_ENABLE", false);
const ParamDefSingle<bool> ModuleDPF::DPF_WRITE_ENABLE("DPF_WRITE_MAP_ENABLE", false);
const ParamDef<int> ModuleDPF::DPF_THRESHOLD("DPF_THRESHOLD", 0, 63, 0);
const ParamDef<double> ModuleDPF::DPF_WEIGHT("DPF_WEIGHT", 0.0, 255.0, 16.0);
const ParamDefSingle<std::string> ModuleDPF::DPF_READ_MAP_FILE("DPF_READ_MAP_FILE", "");

const char *const ModuleDPF::GROUP_NAME = "ModuleDPF";
const char *const ModuleDPF::GROUP_HEADER = "// Defective Pixels parameters";

const std::vector<ModuleDPF::Binding> &ModuleDPF::bindings() {
    static const std::vector<Binding> table = {
        bind(DPF_DETECT_ENABLE, &ModuleDPF::bDetect),
        bind(DPF_READ_ENABLE, &ModuleDPF::bRead),
        bind(DPF_WRITE_ENABLE, &ModuleDPF::bWrite),
        bind(DPF_THRESHOLD, &ModuleDPF::ui32Threshold),
        bind(DPF_WEIGHT, &ModuleDPF::fWeight),
        // The file is read in afterLoad; the bounds and the default name a placeholder.
        custom(
            DPF_READ_MAP_FILE.name, [](ModuleDPF &, const ParameterList &) {},
            [](const ModuleDPF &m, ParameterList &list, ModuleBase::SaveType t) {
                switch (t) {
                case ModuleBase::SAVE_VAL:
                    if (m.readMapFilename.empty()) {
                        list.addParameter(Parameter(DPF_READ_MAP_FILE.name, std::vector<std::string>()), true);
                    } else {
                        list.addParameter(Parameter(DPF_READ_MAP_FILE.name, m.readMapFilename), true);
                    }
                    break;
                case ModuleBase::SAVE_MIN:
                case ModuleBase::SAVE_MAX:
                    list.addParameter(Parameter(DPF_READ_MAP_FILE.name, kFileBound), true);
                    break;
                case ModuleBase::SAVE_DEF: {
                    Parameter p(DPF_READ_MAP_FILE.name, kFileBound);
                    p.setInfo(getParameterInfo(DPF_READ_MAP_FILE));
                    list.addParameter(p, true);
                    break;
                }
                default:
                    break;
                }
            }),
    };
    return table;
}

ModuleDPF::ModuleDPF()
    : SetupModuleImpl<ModuleDPF, STP_DPF>("ISPC_MOD_DPF"), bDetect(false), bRead(false), bWrite(false),
      ui32Threshold(0), fWeight(16.0), pDefectMap(nullptr), ui32NbDefects(0) {
    loadDefaults();
}

ModuleDPF::~ModuleDPF() {
    if (pDefectMap == nullptr) {
        return;
    }
    // The block only borrows the map: it must not keep a pointer to freed memory.
    Pipeline *pipe = getPipeline();
    if (pipe != nullptr && pipe->getMCPipeline() != nullptr &&
        pipe->getMCPipeline()->sDPF.apDefectInput == pDefectMap) {
        pipe->getMCPipeline()->sDPF.apDefectInput = nullptr;
        pipe->getMCPipeline()->sDPF.ui32NDefect = 0;
    }
    free(pDefectMap);
    pDefectMap = nullptr;
}

bool ModuleDPF::hasInputMap() const { return pDefectMap != nullptr && ui32NbDefects != 0; }

QOR_RESULT ModuleDPF::afterLoad(const ParameterList &parameters) {
    if (!parameters.exists(DPF_READ_MAP_FILE.name) || hasInputMap()) {
        return QOR_RES_OK; // a map, once held, stays
    }
    readMapFilename = parameters.getParameter(DPF_READ_MAP_FILE);
    ui32NbDefects = 0;
    if (DPF_Load_bin(&pDefectMap, &ui32NbDefects, readMapFilename.c_str()) != QOR_RES_OK) {
        LOG_Warning("load", __LINE__, getLoggingName(), "failed to load the DPF read map - no map will be loaded\n");
        ui32NbDefects = 0;
    }
    return QOR_RES_OK;
}

QOR_RESULT ModuleDPF::setup() { return timedSetup(getPipeline()); }

QOR_RESULT ModuleDPF::writeSetup(MC_PIPELINE &mc) {
    const MC_IIF &iif = mc.sIIF;
    // Map coordinates are those of the image the pipeline receives; a defect outside it cannot be
    // corrected and the block would refuse the whole map.
    if (pDefectMap != nullptr) {
        const QOR_UINT32 width = 2u * iif.ui16ImagerSize[0], height = 2u * iif.ui16ImagerSize[1];
        for (QOR_UINT32 i = 0; i < ui32NbDefects; i++) {
            const QOR_UINT32 x = pDefectMap[2 * i], y = pDefectMap[2 * i + 1];
            if (x >= width || y >= height) {
                QOR_LOG_ERROR(getLoggingName(), "defect %u at (%u, %u) lies outside the %ux%u image\n", i, x, y, width,
                              height);
                return QOR_RES_NOT_SUPPORTED;
            }
        }
    }
    MC_DPF &dpf = mc.sDPF;
    QOR_UINT8 enable = bDetect ? CI_DPF_DETECT_ENABLED : 0;
    if (bWrite) {
        enable = CI_DPF_DETECT_ENABLED | CI_DPF_WRITE_MAP_ENABLED; // writing needs detection
    }
    if (bRead) {
        enable |= CI_DPF_READ_MAP_ENABLED;
    }
    dpf.eDPFEnable = enable;
    for (int i = 0; i < 2; i++) {
        dpf.aSkip[i] = static_cast<QOR_UINT8>(iif.ui16ImagerDecimation[i]);
        dpf.aOffset[i] = iif.ui16ImagerOffset[i];
    }
    dpf.ui8Threshold = static_cast<QOR_UINT8>(ui32Threshold);
    dpf.fWeight = fWeight;
    if (fWeight > MAX_PROGRAMMED_WEIGHT) {
        QOR_LOG_WARNING(getLoggingName(), "weight %g above the hardware maximum, programming %g\n", fWeight,
                        MAX_PROGRAMMED_WEIGHT);
        dpf.fWeight = MAX_PROGRAMMED_WEIGHT;
    }
    dpf.apDefectInput = pDefectMap;
    dpf.ui32NDefect = pDefectMap != nullptr ? ui32NbDefects : 0;
    markUpdated(dpf);
    return QOR_RES_OK;
}

} // namespace ISPC
