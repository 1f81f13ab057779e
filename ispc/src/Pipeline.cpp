#include "ispc/Pipeline.h"

#include <cstdlib>

#include "ispc/ControlModule.h"
#include "ispc/ModuleBLC.h"
#include "ispc/ModuleOUT.h"
#include "ispc/SensorFacts.h"
#include "norvacommon/userlog.h"
#include "PipelineInternal.h"

namespace ISPC {

namespace {

using pipeline_internal::kErrorState;
using pipeline_internal::kTag;
constexpr const char *kNotFound = "Module not found: id=%d\n";

// Loads, in registry order, the modules `wanted` picks; stops at the first failure, which is logged under the
// caller's name.
template <class Wanted>
QOR_RESULT loadEach(std::map<SetupID, SetupModule *> &registry, const char *function, const ParameterList &parameters,
                    Wanted wanted) {
    for (auto &entry : registry) {
        if (!wanted(entry.first)) {
            continue;
        }
        const QOR_RESULT ret = entry.second->load(parameters);
        if (ret != QOR_RES_OK) {
            LOG_Error(function, __LINE__, kTag, "Failed to load module: %d\n", static_cast<int>(entry.first));
            return ret;
        }
    }
    return QOR_RES_OK;
}

// Sets up, in registry order, the modules `wanted` picks, calling `after` on each one set up; stops at the
// first failure, which is logged under the caller's name.
template <class Wanted, class After>
QOR_RESULT setupEach(std::map<SetupID, SetupModule *> &registry, const char *function, Wanted wanted, After after) {
    for (auto &entry : registry) {
        if (!wanted(*entry.second)) {
            continue;
        }
        const QOR_RESULT ret = entry.second->setup();
        if (ret != QOR_RES_OK) {
            LOG_Error(function, __LINE__, kTag, "Failed to configure module: %d\n", static_cast<int>(entry.first));
            return ret;
        }
        after(*entry.second);
    }
    return QOR_RES_OK;
}

} // namespace

const SetupID Pipeline::globalModulesID[2] = {STP_OUT, STP_IIF};

/* Performance-trace hooks: nothing is traced in this build. */
bool LOG_Perf_Available() { return false; }
void LOG_Perf_Register(const char *, bool) {}
void LOG_Perf_Register(const ModuleBase *, bool) {}
void LOG_Perf_In(const char *, const char *, const char *, unsigned) {}
void LOG_Perf_Out(const char *, const char *, const char *, unsigned) {}
void LOG_Perf_Summary() {}

Sensor *ControlModule::getSensor() const {
    Pipeline *owner = getPipelineOwner();
    return owner != nullptr ? owner->getSensor() : nullptr;
}

const Sensor *SetupModule::getSensor() const {
    const Pipeline *p = getPipeline();
    return p != nullptr ? p->getSensor() : nullptr;
}

Pipeline::Pipeline(CI_CONNECTION *pConnection, unsigned ctxNumber, Sensor *pSensor)
    : sensor(nullptr), pCIConnection(pConnection), pCIPipeline(nullptr), pMCPipeline(nullptr), ui32MaxDisplayWidth(0),
      ui32MaxDisplayHeight(0), ui32MaxEncoderWidth(0), ui32MaxEncoderHeight(0), bEnableTiling(false),
      ui8ContextNumber(static_cast<QOR_INT8>(ctxNumber)), ctxStatus(ISPC_Ctx_ERROR) {
    if (pConnection == nullptr) {
        QOR_LOG_ERROR(kTag, "Invalid CI_CONNETION parameter.\n");
        return;
    }
    if (pSensor == nullptr) {
        QOR_LOG_ERROR(kTag, "Invalid sensor parameter.\n");
        return;
    }
    sensor = pSensor;
    // Zeroed, so no field is read before it is written, whatever the initialisers leave alone.
    pMCPipeline = static_cast<MC_PIPELINE *>(calloc(1, sizeof(MC_PIPELINE)));
    if (pMCPipeline == nullptr) {
        QOR_LOG_ERROR(kTag, "allocating MC pipeline failed.\n");
        return;
    }
    if (CI_PipelineCreate(&pCIPipeline, pConnection) != QOR_RES_OK) {
        pCIPipeline = nullptr;
        QOR_LOG_ERROR(kTag, "allocating CI Pipeline.\n");
        return;
    }
    const SensorFacts facts = readSensorFacts(*sensor);
    pCIPipeline->config.ui8Context = static_cast<QOR_UINT8>(ctxNumber);
    pCIPipeline->sImagerInterface.ui8Imager = static_cast<QOR_UINT8>(facts.uiImager);

    // The block initialisers need the imager size (in 2x2 cells) first.
    MC_IIFInit(&pMCPipeline->sIIF);
    pMCPipeline->sIIF.ui16ImagerSize[0] = static_cast<QOR_UINT16>(facts.uiWidth / 2);
    pMCPipeline->sIIF.ui16ImagerSize[1] = static_cast<QOR_UINT16>(facts.uiHeight / 2);
    ui32MaxDisplayWidth = ui32MaxEncoderWidth = facts.uiWidth;
    ui32MaxDisplayHeight = ui32MaxEncoderHeight = facts.uiHeight;
    MC_PipelineInit(pMCPipeline, &pConnection->sHWInfo);

    if (ctxNumber < pConnection->sHWInfo.config_ui8NContexts) {
        bEnableTiling = false;
        ctxStatus = ISPC_Ctx_INIT;
    } else {
        QOR_LOG_ERROR(kTag, "Invalid context number - max supported is %d\n",
                      static_cast<int>(pConnection->sHWInfo.config_ui8NContexts) - 1);
    }
}

Pipeline::~Pipeline() {
    // The modules go first: they may still point into the configurations.
    clearModules();
    if (pCIPipeline != nullptr) {
        CI_PipelineDestroy(pCIPipeline);
    }
    free(pMCPipeline);
}

QOR_RESULT Pipeline::setDisplayDimensions(unsigned width, unsigned height) {
    ui32MaxDisplayWidth = width;
    ui32MaxDisplayHeight = height;
    return QOR_RES_OK;
}

QOR_RESULT Pipeline::setEncoderDimensions(unsigned width, unsigned height) {
    ui32MaxEncoderWidth = width;
    ui32MaxEncoderHeight = height;
    return QOR_RES_OK;
}

/* Modules */

QOR_RESULT Pipeline::registerModule(SetupModule *module) {
    if (module == nullptr) {
        QOR_LOG_ERROR(kTag, "Given module is NULL\n");
        return QOR_RES_INVALID_PARAM;
    }
    const SetupID id = module->getModuleID();
    auto it = moduleRegistry.find(id);
    if (it != moduleRegistry.end() && it->second == module) {
        // Already registered: replacing it would delete the module and keep a dangling pointer.
        return QOR_RES_OK;
    }
    if (it != moduleRegistry.end()) {
        QOR_LOG_WARNING(kTag, "Module with id = %d was previously registered\n", static_cast<int>(id));
        delete it->second;
        moduleRegistry.erase(it);
    }
    module->setPipeline(this);
    moduleRegistry[id] = module;
    return QOR_RES_OK;
}

SetupModule *Pipeline::getModule(SetupID id) {
    auto it = moduleRegistry.find(id);
    return it != moduleRegistry.end() ? it->second : nullptr;
}

const SetupModule *Pipeline::getModule(SetupID id) const {
    auto it = moduleRegistry.find(id);
    return it != moduleRegistry.end() ? it->second : nullptr;
}

void Pipeline::clearModules() {
    for (auto &entry : moduleRegistry) {
        delete entry.second;
    }
    moduleRegistry.clear();
}

/* Loading */

QOR_RESULT Pipeline::reloadAll(const ParameterList &parameters) {
    PIPELINE_REFUSE_IN_ERROR();
    return loadEach(moduleRegistry, __func__, parameters, [](SetupID) { return true; });
}

QOR_RESULT Pipeline::reloadAllGlobals(const ParameterList &parameters) {
    PIPELINE_REFUSE_IN_ERROR();
    for (int i = 0; i < 2; i++) {
        const QOR_RESULT ret = reloadModule(globalModulesID[i], parameters);
        if (ret != QOR_RES_OK) {
            QOR_LOG_ERROR(kTag, "Failed to reload global module %d=module%d\n", i,
                          static_cast<int>(globalModulesID[i]));
            return ret;
        }
    }
    return QOR_RES_OK;
}

static bool isGlobal(SetupID id) { return id == Pipeline::globalModulesID[0] || id == Pipeline::globalModulesID[1]; }

QOR_RESULT Pipeline::reloadAllModules(const ParameterList &parameters) {
    PIPELINE_REFUSE_IN_ERROR();
    return loadEach(moduleRegistry, __func__, parameters, [](SetupID id) { return !isGlobal(id); });
}

QOR_RESULT Pipeline::reloadModule(SetupID id, const ParameterList &parameters) {
    PIPELINE_REFUSE_IN_ERROR();
    SetupModule *module = getModule(id);
    if (module == nullptr) {
        QOR_LOG_ERROR(kTag, kNotFound, static_cast<int>(id));
        return QOR_RES_INVALID_PARAM;
    }
    const QOR_RESULT ret = module->load(parameters);
    if (ret != QOR_RES_OK) {
        QOR_LOG_ERROR(kTag, "Failed to load module id=%d\n", static_cast<int>(id));
    }
    return ret;
}

/* Saving */

QOR_RESULT Pipeline::saveAll(ParameterList &parameters, ModuleBase::SaveType t) const {
    for (const auto &entry : moduleRegistry) {
        const QOR_RESULT ret = entry.second->save(parameters, t);
        if (ret != QOR_RES_OK) {
            QOR_LOG_ERROR(kTag, "Failed to save module: %d=%s\n", static_cast<int>(entry.first),
                          ModuleBase::setupIDName(entry.first));
            return ret;
        }
    }
    return QOR_RES_OK;
}

QOR_RESULT Pipeline::saveModule(SetupID id, ParameterList &parameters, ModuleBase::SaveType t) const {
    const SetupModule *module = getModule(id);
    if (module == nullptr) {
        QOR_LOG_ERROR(kTag, kNotFound, static_cast<int>(id));
        return QOR_RES_INVALID_PARAM;
    }
    const QOR_RESULT ret = module->save(parameters, t);
    if (ret != QOR_RES_OK) {
        QOR_LOG_ERROR(kTag, "Failed to save module: %d\n", static_cast<int>(id));
    }
    return ret;
}

/* Setting up */

QOR_RESULT Pipeline::setupAll() {
    PIPELINE_REFUSE_IN_ERROR();
    QOR_RESULT ret = setupAllGlobals();
    if (ret != QOR_RES_OK) {
        QOR_LOG_ERROR(kTag, "Failed to setup global modules\n");
        return ret;
    }
    ret = setupAllModules();
    if (ret != QOR_RES_OK) {
        QOR_LOG_ERROR(kTag, "Failed to setup modules\n");
    }
    return ret;
}

QOR_RESULT Pipeline::setupAllGlobals() {
    PIPELINE_REFUSE_IN_ERROR();
    for (int i = 0; i < 2; i++) {
        const QOR_RESULT ret = setupModule(globalModulesID[i]);
        if (ret != QOR_RES_OK) {
            QOR_LOG_ERROR(kTag, "Failed to setup global module %d=module%d\n", i, static_cast<int>(globalModulesID[i]));
            return ret;
        }
    }
    return QOR_RES_OK;
}

QOR_RESULT Pipeline::setupAllModules() {
    PIPELINE_REFUSE_IN_ERROR();
    for (auto &entry : moduleRegistry) {
        if (isGlobal(entry.first)) {
            continue;
        }
        const QOR_RESULT ret = entry.second->setup();
        if (ret != QOR_RES_OK) {
            QOR_LOG_ERROR(kTag, "Error configuring module: %d=%s\n", static_cast<int>(entry.first),
                          ModuleBase::setupIDName(entry.first));
            return ret;
        }
    }
    return QOR_RES_OK;
}

QOR_RESULT Pipeline::setupModule(SetupID id) {
    PIPELINE_REFUSE_IN_ERROR();
    SetupModule *module = getModule(id);
    if (module == nullptr) {
        QOR_LOG_ERROR(kTag, kNotFound, static_cast<int>(id));
        return QOR_RES_INVALID_PARAM;
    }
    const QOR_RESULT ret = module->setup();
    if (ret != QOR_RES_OK) {
        QOR_LOG_ERROR(kTag, "Error configuring module: %d\n", static_cast<int>(id));
    }
    return ret;
}

QOR_RESULT Pipeline::setupByPriority(modulePriority priority) {
    PIPELINE_REFUSE_IN_ERROR();
    return setupEach(
        moduleRegistry, __func__, [priority](const SetupModule &m) { return m.getPriority() <= priority; },
        [](SetupModule &) {});
}

QOR_RESULT Pipeline::setupPending() {
    PIPELINE_REFUSE_IN_ERROR();
    return setupEach(
        moduleRegistry, __func__, [](const SetupModule &m) { return !m.isSetup(); }, [](SetupModule &) {});
}

QOR_RESULT Pipeline::setupRequested() {
    PIPELINE_REFUSE_IN_ERROR();
    return setupEach(
        moduleRegistry, __func__, [](const SetupModule &m) { return m.isUpdateRequested(); },
        [](SetupModule &m) { m.clearFlags(); });
}

/* Driver configuration */

QOR_RESULT Pipeline::verifyConfiguration() const {
    if (pCIConnection == nullptr) {
        // Only a pipeline built without a connection (in its error state) has none to verify against.
        QOR_LOG_ERROR(kTag, kErrorState);
        return QOR_RES_UNAVAILABLE;
    }
    const CI_HWINFO &hw = pCIConnection->sHWInfo;
    const ModuleOUT *out = static_cast<const ModuleOUT *>(getModule(STP_OUT));
    const ePxlFormat hdrExtraction = out != nullptr ? out->hdrExtractionType : PXL_NONE;
    const ePxlFormat raw2DExtraction = out != nullptr ? out->raw2DExtractionType : PXL_NONE;

    struct Check {
        bool refused;
        const char *message;
    };
    const Check checks[] = {
        {bEnableTiling && !(hw.eFunctionalities & CI_INFO_SUPPORTED_TILING),
         "The HW %d.%d does not support tiled output\n"},
        {hdrExtraction != PXL_NONE && !(hw.eFunctionalities & CI_INFO_SUPPORTED_HDR_EXT),
         "The HW %d.%d does not support HDR Extraction point\n"},
        {raw2DExtraction != PXL_NONE && !(hw.eFunctionalities & CI_INFO_SUPPORTED_RAW2D_EXT),
         "The HW %d.%d does not support RAW2D Extraction point\n"},
    };
    for (const Check &c : checks) {
        if (c.refused) {
            QOR_LOG_ERROR(kTag, c.message, hw.rev_ui8Major, hw.rev_ui8Minor);
            return QOR_RES_NOT_SUPPORTED;
        }
    }
    return QOR_RES_OK;
}

bool Pipeline::captureStarted() const {
    // Only a registered configuration has a capture the driver can report on.
    if (pCIPipeline == nullptr || ctxStatus == ISPC_Ctx_INIT || ctxStatus == ISPC_Ctx_UNINIT) {
        return false;
    }
    return CI_PipelineIsStarted(pCIPipeline) != QOR_FALSE;
}

QOR_RESULT Pipeline::programPipeline(bool bUpdateASAP) {
    PIPELINE_REFUSE_IN_ERROR();
    if (ctxStatus == ISPC_Ctx_UNINIT) {
        QOR_LOG_ERROR(kTag, "Pipeline not initialized\n");
        return QOR_RES_UNAVAILABLE;
    }
    QOR_RESULT ret = verifyConfiguration();
    if (ret != QOR_RES_OK) {
        QOR_LOG_ERROR(kTag, "Configuration not supported\n");
        return ret;
    }
    int updateMask = 0;
    ret = MC_PipelineConvert(pMCPipeline, pCIPipeline, &updateMask);
    if (ret != QOR_RES_OK) {
        QOR_LOG_ERROR(kTag, "failed to convert the pipeline (returned %d)\n", ret);
        return QOR_RES_FAILED;
    }

    // The pipeline's maximum output sizes replace what the conversion chose; the record holds 16 bits.
    CI_PIPELINE_CONFIG &config = pCIPipeline->config;
    config.ui16MaxEncOutWidth = static_cast<QOR_UINT16>(ui32MaxEncoderWidth);
    config.ui16MaxEncOutHeight = static_cast<QOR_UINT16>(ui32MaxEncoderHeight);
    config.ui16MaxDispOutWidth = static_cast<QOR_UINT16>(ui32MaxDisplayWidth);
    config.ui16MaxDispOutHeight = static_cast<QOR_UINT16>(ui32MaxDisplayHeight);
    config.bSupportTiling =
        (bEnableTiling && (pCIConnection->sHWInfo.eFunctionalities & CI_INFO_SUPPORTED_TILING)) ? QOR_TRUE : QOR_FALSE;

    if (ctxStatus == ISPC_Ctx_SETUP || ctxStatus == ISPC_Ctx_READY) {
        if (captureStarted()) {
            // A running capture takes no new lens-shading, defect-map input or AWS curve registers.
            updateMask &= ~(CI_UPD_LSH_REG | CI_UPD_DPF_INPUT | CI_UPD_AWS_REG);
        }
        int failure = 0;
        ret = bUpdateASAP ? CI_PipelineUpdateASAP(pCIPipeline, updateMask, &failure)
                          : CI_PipelineUpdate(pCIPipeline, updateMask, &failure);
        if (ret != QOR_RES_OK) {
            QOR_LOG_ERROR(kTag, "Failed to update the pipeline configuration for module %d (returned %d)\n", failure,
                          ret);
            return QOR_RES_FAILED;
        }
        return QOR_RES_OK;
    }

    ret = CI_PipelineRegister(pCIPipeline);
    if (ret != QOR_RES_OK) {
        QOR_LOG_ERROR(kTag, "Failed to register the pipeline configuration (returned %d)\n", ret);
        return QOR_RES_FAILED;
    }
    ctxStatus = ISPC_Ctx_SETUP;
    return QOR_RES_OK;
}

Global_Setup Pipeline::getGlobalSetup(QOR_RESULT *ret) const {
    Global_Setup g = Global_Setup();
    g.CFA_WIDTH = 2;
    g.CFA_HEIGHT = 2;
    g.ui32FrameBoundX = 0;
    g.ui32FrameBoundY = 0;
    if (sensor == nullptr) {
        QOR_LOG_ERROR(kTag, "Pipeline does not have a sensor!\n");
        if (ret != nullptr) {
            *ret = QOR_RES_UNAVAILABLE;
        }
        return g;
    }

    const SensorFacts s = readSensorFacts(*sensor);
    g.ui32Sensor_width = s.uiWidth;
    g.ui32Sensor_height = s.uiHeight;
    g.ui32Sensor_bitdepth = s.uiBitDepth;
    g.ui32Sensor_imager = s.uiImager;
    g.fSensor_gain = s.flGain;
    g.ui32Sensor_well_depth = s.uiWellDepth;
    g.eSensor_bayer_format = s.eBayerFormat;
    g.fSensor_read_noise = s.flReadNoise;
    g.eSensorHDRMode = s.eHDRMode;
    g.bSensorLongExpFirst = s.bLongExpFirst ? QOR_TRUE : QOR_FALSE;
    g.ui32SensorLineGap = s.ui32LineGap;
    g.ui32SystemBlack = 64;
    g.ui32ImageWidth = s.uiWidth;
    g.ui32ImageHeight = s.uiHeight;
    g.ui32BlackBorder = 0;
    g.ui32EncWidth = g.ui32EncHeight = 0xFFFFFFFFu;
    g.ui32DispWidth = g.ui32DispHeight = 0xFFFFFFFFu;

    if (ctxStatus == ISPC_Ctx_ERROR || pMCPipeline == nullptr) {
        QOR_LOG_ERROR(kTag, kErrorState);
        if (ret != nullptr) {
            *ret = QOR_RES_UNAVAILABLE;
        }
        return g;
    }

    // The imager window counts 2x2 cells; frame bounds are reported in pixels.
    const MC_IIF &iif = pMCPipeline->sIIF;
    g.ui32ImageWidth = 2u * iif.ui16ImagerSize[0];
    g.ui32ImageHeight = 2u * iif.ui16ImagerSize[1];
    g.ui32FrameBoundWidth = 2u * iif.ui16ImagerSize[0] * (iif.ui16ImagerDecimation[0] + 1u);
    g.ui32FrameBoundHeight = 2u * iif.ui16ImagerSize[1] * (iif.ui16ImagerDecimation[1] + 1u);
    g.ui32FrameBoundX = 2u * iif.ui16ImagerOffset[0];
    g.ui32FrameBoundY = 2u * iif.ui16ImagerOffset[1];
    g.ui32EncWidth = pMCPipeline->sESC.aOutputSize[0];
    g.ui32EncHeight = pMCPipeline->sESC.aOutputSize[1];

    const ModuleOUT *out = static_cast<const ModuleOUT *>(getModule(STP_OUT));
    if (out == nullptr) {
        QOR_LOG_ERROR(kTag, "Pipeline has no registered ModuleOUT!\n");
        if (ret != nullptr) {
            *ret = QOR_RES_UNAVAILABLE;
        }
        return g;
    }
    if (out->dataExtractionPoint == CI_INOUT_NONE || out->dataExtractionType == PXL_NONE) {
        g.ui32DispWidth = pMCPipeline->sDSC.aOutputSize[0];
        g.ui32DispHeight = pMCPipeline->sDSC.aOutputSize[1];
    } else {
        // The display output then carries extracted Bayer data of the whole image.
        g.ui32DispWidth = g.ui32ImageWidth;
        g.ui32DispHeight = g.ui32ImageHeight;
    }

    const ModuleBLC *blc = static_cast<const ModuleBLC *>(getModule(STP_BLC));
    if (blc != nullptr) {
        g.ui32SystemBlack = blc->ui32SystemBlack;
    } else {
        QOR_LOG_WARNING(kTag, "Pipeline has no registered ModuleBLC\n");
    }
    if (ret != nullptr) {
        *ret = QOR_RES_OK;
    }
    return g;
}

} // namespace ISPC
