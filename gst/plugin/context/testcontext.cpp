// The capture context's configuration: camera creation (sensor or data generator, own or borrowed input), the data
// generator's extras, setup files, modules by hardware revision, programming, shots and buffers, and the controls
// (main context) or the main context's shared controls (slave context).
#include "testcontext.h"

#include <cstring>
#include <string>

#include "CameraFactory.h"
#include "ispc/DGCamera.h"
#include "ispc/ModuleOUT.h"
#include "ispc/ParameterFileParser.h"
#include "norvacommon/userlog.h"
#include "sensors/iifdatagen.h"

namespace {

constexpr const char *kTag = "norvalib";

/** The data generator answers to its full name and to any leading part of it, the empty name included. */
constexpr const char *kDataGeneratorName = "DOR Idazida";

/** A missing name is the empty name, which names the data generator. */
bool namesDataGenerator(const char *name) {
    const char *n = name != nullptr ? name : "";
    const size_t length = std::strlen(n);
    return length <= std::strlen(kDataGeneratorName) && std::strncmp(n, kDataGeneratorName, length) == 0;
}

const std::set<CI_BUFFTYPE> kAllOutputs = {CI_TYPE_ENCODER, CI_TYPE_DISPLAY, CI_TYPE_DATAEXT, CI_TYPE_HDREXT,
                                           CI_TYPE_RAW2D};

/** The controls a slave context's pipeline joins, in joining order. */
const ISPC::ControlID kSharedControls[] = {ISPC::CTRL_AWB, ISPC::CTRL_TNM, ISPC::CTRL_DNS, ISPC::CTRL_LBC,
                                           ISPC::CTRL_LSH};

} // namespace

/** Switches the encoder, display and data-extraction outputs off in a parameter list. */
void disableOutputs(ISPC::ParameterList &list) {
    const std::string none = ISPC::ModuleOUT::getPixelFormatString(PXL_NONE);
    list.addParameter(ISPC::Parameter(ISPC::ModuleOUT::ENCODER_TYPE.name, none), true);
    list.addParameter(ISPC::Parameter(ISPC::ModuleOUT::DISPLAY_TYPE.name, none), true);
    list.addParameter(ISPC::Parameter(ISPC::ModuleOUT::DATAEXTRA_TYPE.name, none), true);
    // The extraction point goes with its format ("3", none): a point without a format is a contradiction the output
    // module warns about. The setup files' point comes back when a pad negotiates raw output.
    list.addParameter(ISPC::Parameter(ISPC::ModuleOUT::DATAEXTRA_POINT.name, "3"), true);
}

TestContext::TestContext()
    : pParam(nullptr), iContext(-1), pCamera(nullptr), pDisplaySave(nullptr), pEncoderSave(nullptr),
      pHDRExtSave(nullptr), pRaw2DSave(nullptr), pStatsSave(nullptr) {}

TestContext::~TestContext() {
    stopCapture();
    freeBuffers(kAllOutputs);
    if (pCamera != nullptr) {
        for (ISPC::ControlModule *c : sharedControls)
            c->removePipeline(pCamera->getPipeline());
    }
    sharedControls.clear();
    delete pCamera;
    pCamera = nullptr;
    close();
    buffers.clear();
}

unsigned TestContext::gasket() const { return pParam->imager[iContext]; }

bool TestContext::preconfigure(const TEST_PARAM &param, unsigned context) {
    ISPC::ParameterList extra;
    disableOutputs(extra);
    return configure(param, context, &extra, nullptr);
}

bool TestContext::preconfigureSlave(const TestContext &main) {
    ISPC::ParameterList extra;
    disableOutputs(extra);
    return configureSlave(main, &extra);
}

bool TestContext::configureSlave(const TestContext &main, const ISPC::ParameterList *extra) {
    if (main.pParam == nullptr) {
        QOR_LOG_ERROR(kTag, "camera not configured for main context %d\n", main.iContext);
        return false;
    }
    const unsigned context = main.iContext != 1 ? 1u : 0u;
    return configure(*main.pParam, context, extra, &main);
}

bool TestContext::configure(const TEST_PARAM &param, unsigned context, const ISPC::ParameterList *extra,
                            const TestContext *main) {
    if (context >= kTestParamContexts) {
        QOR_LOG_ERROR(kTag, "Illegal set of parameters for context %d\n", static_cast<int>(context));
        return false;
    }
    if (pCamera != nullptr) {
        // A context configures one camera in its life: a second one would leave the first behind.
        QOR_LOG_ERROR(kTag, "camera already configured for context %d\n", iContext);
        return false;
    }
    param.populate(*this, static_cast<int>(context));
    if (main != nullptr) {
        if (!main->isCameraConfigured()) {
            QOR_LOG_ERROR(kTag, "camera not configured for main context %d\n", main->iContext);
            return false;
        }
        if (iContext == main->iContext) {
            QOR_LOG_ERROR(kTag, "camera already configured for context %d\n", iContext);
            return false;
        }
    }
    if (!param.validate(iContext)) {
        QOR_LOG_ERROR(kTag, "Illegal set of parameters for context %d\n", iContext);
        return false;
    }
    if (!createCamera(param, main)) {
        QOR_LOG_ERROR(kTag, "failed to create camera for context %d\n", iContext);
        return false;
    }
    if (pCamera->ownsSensor() && !configureSensor(param)) {
        QOR_LOG_ERROR(kTag, "failed to configure sensor for context %d\n", iContext);
        return false;
    }

    ISPC::ParameterList list;
    const std::string files = param.setupFiles[iContext];
    size_t start = 0;
    while (start <= files.size()) {
        const size_t end = std::min(files.find(':', start), files.size());
        const std::string token = files.substr(start, end - start);
        start = end + 1;
        if (token.empty())
            continue;
        const ISPC::ParameterList read = ISPC::ParameterFileParser::parseFile(token);
        if (!read.isValid()) {
            QOR_LOG_ERROR(kTag, "failed to parse parameter file: %s\n", token.c_str());
            return false;
        }
        list += read;
    }
    setupExtractionPoint = list.getParameter(ISPC::ModuleOUT::DATAEXTRA_POINT);
    if (extra != nullptr)
        list += *extra;

    if (!configureCamera(param, list)) {
        QOR_LOG_ERROR(kTag, "failed to configure camera for context %d\n", iContext);
        return false;
    }
    if (!configureModules()) {
        QOR_LOG_ERROR(kTag, "failed to configure camera modules for context %d\n", iContext);
        return false;
    }
    if (pCamera->addShots(param.nBuffers[iContext]) != QOR_RES_OK) {
        QOR_LOG_ERROR(kTag, "failed to add shots for context %d\n", iContext);
        return false;
    }
    if (!allocateBuffers(kAllOutputs)) {
        QOR_LOG_ERROR(kTag, "failed to allocate buffers for context %d\n", iContext);
        return false;
    }
    if (main == nullptr) {
        configureAlgorithms(list);
    } else {
        ISPC::Camera *mainCamera = main->pCamera;
        for (ISPC::ControlID id : kSharedControls) {
            ISPC::ControlModule *c = mainCamera->getControlModule(id);
            if (c == nullptr)
                continue;
            (void)c->addPipeline(pCamera->getPipeline());
            sharedControls.insert(c);
        }
    }
    return true;
}

bool TestContext::createCamera(const TEST_PARAM &param, const TestContext *main) {
    const unsigned g = param.imager[iContext];
    const bool shared = main != nullptr && main->pCamera != nullptr && g == main->gasket();
    bool dataGenerator;
    if (shared) {
        dataGenerator = namesDataGenerator(main->pParam->sensorName[main->iContext]);
        ISPC::Sensor *sensor = main->getSensor();
        if (dataGenerator)
            pCamera = new ISPC::DGCamera(static_cast<unsigned>(iContext), sensor);
        else
            pCamera = new ISPC::Camera(static_cast<unsigned>(iContext), sensor);
    } else {
        const char *name = param.sensorName[iContext];
        dataGenerator = namesDataGenerator(name);
        if (dataGenerator) {
            const char *file = param.dgInputFile[g];
            pCamera = new ISPC::DGCamera(static_cast<unsigned>(iContext), file != nullptr ? file : "", g,
                                         param.gasketUsesIntDG[g]);
        } else {
            const int id = ISPC::Sensor::GetSensorId(name);
            pCamera =
                new ISPC::Camera(static_cast<unsigned>(iContext), id, static_cast<int>(param.sensorMode[iContext]),
                                 static_cast<int>(param.sensorFlip[iContext]));
        }
    }
    if (pCamera->state == ISPC::Camera::CAM_ERROR) {
        QOR_LOG_ERROR(kTag, "failed to create camera with %s%s for context %d\n", shared ? "shared " : "",
                      dataGenerator ? "data generator" : "sensor", iContext);
        return false;
    }
    return true;
}

bool TestContext::configureSensor(const TEST_PARAM &param) {
    const unsigned g = param.imager[iContext];
    if (!param.gasketUsesIntDG[g])
        return true;
    // The generator's extras exist only on a data-generator camera: a sensor driver's handle is another record.
    if (dynamic_cast<ISPC::DGCamera *>(pCamera) == nullptr) {
        QOR_LOG_WARNING(kTag, "gasket %d uses Int. Datagen but context %d drives a sensor: datagen not configured\n",
                        static_cast<int>(g), iContext);
        return true;
    }
    SENSOR_HANDLE h = pCamera->getSensor()->getHandle();
    if (IIFDG_ExtendedSetDatagen(h, static_cast<QOR_UINT8>(param.gasketIntDG[g])) != QOR_RES_OK) {
        QOR_LOG_ERROR(kTag, "failed to setup IIFDG datagen\n");
        return false;
    }
    if (IIFDG_ExtendedSetNbBuffers(h, param.nBuffers[iContext]) != QOR_RES_OK) {
        QOR_LOG_ERROR(kTag, "failed to setup IIFDG nBuffers\n");
        return false;
    }
    if (IIFDG_ExtendedSetBlanking(h, param.dgBlanking[g][0], param.dgBlanking[g][1]) != QOR_RES_OK) {
        QOR_LOG_ERROR(kTag, "failed to setup IIFDG blanking\n");
        return false;
    }
    QOR_UINT32 cap = param.dgInputFrames[g];
    if (cap == 0)
        return true;
    const QOR_UINT32 available = IIFDG_ExtendedGetFrameCount(h);
    if (available < cap) {
        cap = available;
        QOR_LOG_WARNING(kTag, "forcing IntDG%d maximum loaded frame to %d as source image does not have more\n",
                        static_cast<int>(param.gasketIntDG[g]), static_cast<int>(cap));
    }
    if (IIFDG_ExtendedSetFrameCap(h, cap) != QOR_RES_OK) {
        QOR_LOG_ERROR(kTag, "failed to set frame cap\n");
        return false;
    }
    return true;
}

bool TestContext::configureCamera(const TEST_PARAM &param, ISPC::ParameterList &list) {
    if (ISPC::CameraFactory::populateCameraFromHWVersion(*pCamera, pCamera->getSensor(), 0) != QOR_RES_OK) {
        QOR_LOG_ERROR(kTag, "failed to setup modules from HW version!\n");
        return false;
    }
    if (pCamera->loadParameters(list) != QOR_RES_OK) {
        QOR_LOG_ERROR(kTag, "loading pipeline setup parameters from file(s): %s\n", param.setupFiles[iContext]);
        return false;
    }
    if (configureSaves() != 0) {
        QOR_LOG_ERROR(kTag, "failed to configure Save fields\n");
        return false;
    }
    const unsigned g = param.imager[iContext];
    if (param.gasketUsesIntDG[g])
        QOR_LOG_INFO(kTag, "gasket %d uses Int. Datagen %u\n", static_cast<int>(g), param.gasketIntDG[g]);
    return true;
}

bool TestContext::configureModules() {
    ISPC::Pipeline *pipeline = pCamera != nullptr ? pCamera->getPipeline() : nullptr;
    ISPC::ModuleOUT *out = module<ISPC::ModuleOUT>();
    if (pipeline == nullptr || out == nullptr) {
        QOR_LOG_ERROR(kTag, "programming pipeline.\n");
        return false;
    }
    const ISPC::Global_Setup g = pipeline->getGlobalSetup();
    if (out->dataExtractionType != PXL_NONE)
        (void)pCamera->setDisplayDimensions(g.ui32ImageWidth, g.ui32ImageHeight);
    if (out->displayType != PXL_NONE)
        (void)pCamera->setDisplayDimensions(g.ui32DispWidth, g.ui32DispHeight);
    if (out->encoderType != PXL_NONE)
        (void)pCamera->setEncoderDimensions(g.ui32EncWidth, g.ui32EncHeight);
    const CI_HWINFO &hw = pCamera->hwInfo;
    if (out->hdrExtractionType != PXL_NONE && (hw.eFunctionalities & CI_INFO_SUPPORTED_HDR_EXT) == 0) {
        out->hdrExtractionType = PXL_NONE;
        out->requestUpdate();
        QOR_LOG_WARNING(kTag, "current HW %d.%d does not support HDR extraction - output forced to NONE\n",
                        static_cast<int>(hw.rev_ui8Major), static_cast<int>(hw.rev_ui8Minor));
    }
    if (out->raw2DExtractionType != PXL_NONE && (hw.eFunctionalities & CI_INFO_SUPPORTED_RAW2D_EXT) == 0) {
        out->raw2DExtractionType = PXL_NONE;
        out->requestUpdate();
        QOR_LOG_WARNING(kTag, "current HW %d.%d does not support Raw2D extraction - output forced to NONE\n",
                        static_cast<int>(hw.rev_ui8Major), static_cast<int>(hw.rev_ui8Minor));
    }
    if (pCamera->program() != QOR_RES_OK) {
        QOR_LOG_ERROR(kTag, "programming pipeline.\n");
        return false;
    }
    return true;
}

bool TestContext::stopCapture() {
    if (pCamera == nullptr || pCamera->state != ISPC::Camera::CAM_CAPTURING)
        return true;
    if (pCamera->stopCapture() != QOR_RES_OK) {
        QOR_LOG_ERROR(kTag, "Failed to stop camera.\n");
        return false;
    }
    return true;
}

void TestContext::close() {
    for (ISPC::Save **w : {&pDisplaySave, &pEncoderSave, &pHDRExtSave, &pRaw2DSave, &pStatsSave}) {
        if (*w != nullptr) {
            if ((*w)->isOpened())
                (*w)->close();
            delete *w;
            *w = nullptr;
        }
    }
}

ISPC::Sensor *TestContext::getSensor() const { return pCamera != nullptr ? pCamera->getSensor() : nullptr; }

bool TestContext::isCameraConfigured() const {
    if (pCamera == nullptr)
        return false;
    const ISPC::Camera::State s = pCamera->state;
    return s == ISPC::Camera::CAM_SET_UP || s == ISPC::Camera::CAM_PROGRAMMED || s == ISPC::Camera::CAM_READY ||
           s == ISPC::Camera::CAM_CAPTURING;
}

bool TestContext::isBuffersAllocated() const { return !buffers.empty(); }
