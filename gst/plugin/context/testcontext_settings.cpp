// The main capture context's control loops and the runtime settings the element applies before each frame: field
// changes on setup modules, each taking effect at the next enqueued shot.
#include <algorithm>

#include "control_makers.h"
#include "ispc/ControlAE.h"
#include "ispc/ControlAWB.h"
#include "ispc/ControlLBC.h"
#include "ispc/ControlLSH.h"
#include "ispc/ControlTNM.h"
#include "ispc/ModuleDNS.h"
#include "ispc/ModuleFOS.h"
#include "ispc/ModuleGMA.h"
#include "ispc/ModuleHIS.h"
#include "ispc/ModuleSHA.h"
#include "ispc/ModuleTNM.h"
#include "norvacommon/userlog.h"
#include "testcontext.h"

namespace {

constexpr const char *kTag = "norvalib";

/** Smallest histogram window: 7 × 7 tiles of at least 10 × 8 pixels. */
constexpr unsigned kHistMinWidth = 70;
constexpr unsigned kHistMinHeight = 56;

/** The unchanged rule: a field that already holds the value requests no update. */
template <class M, class T> bool setField(M *m, T M::*field, T value) {
    if (m == nullptr)
        return false;
    if (m->*field == value)
        return true;
    m->*field = value;
    m->requestUpdate();
    return true;
}

/** Moves a window of `size` starting at `start` left (or up) until it ends inside an image of `limit` pixels. */
unsigned keepInside(unsigned start, unsigned size, unsigned limit) {
    if (limit == 0 || size >= limit)
        return 0;
    return std::min(start, limit - size);
}

} // namespace

void TestContext::configureWhiteBalanceControlAlgorithm(const ISPC::ParameterList &list) {
    ControlKind kind = ControlKind::AWB;
    switch (pParam->wbcAlgorithm[iContext]) {
    case 1:
        QOR_LOG_DEBUG(kTag, "INFO: use normal WBC algorithm\n");
        break;
    case 2:
        QOR_LOG_DEBUG(kTag, "INFO: use PID WBC algorithm\n");
        kind = ControlKind::AWB_PID;
        break;
    case 3:
        QOR_LOG_DEBUG(kTag, "INFO: use Planckian WBC algorithm\n");
        kind = ControlKind::AWB_Planckian;
        break;
    default:
        QOR_LOG_WARNING(kTag, "given WBC algorithm %d does not exists - force default\n",
                        static_cast<int>(pParam->wbcAlgorithm[iContext]));
        break;
    }
    ISPC::ControlAWB::Correction_Types mode = ISPC::ControlAWB::WB_NONE;
    const QOR_UINT32 type = pParam->wbcCorrectionType[iContext];
    switch (type) {
    case ISPC::ControlAWB::WB_NONE:
        QOR_LOG_DEBUG(kTag, "INFO: skip colour correction\n");
        break;
    case ISPC::ControlAWB::WB_AC:
        QOR_LOG_DEBUG(kTag, "INFO: use WB Average Colour\n");
        break;
    case ISPC::ControlAWB::WB_WP:
        QOR_LOG_DEBUG(kTag, "INFO: use WB White Patch\n");
        break;
    case ISPC::ControlAWB::WB_HLW:
        QOR_LOG_DEBUG(kTag, "INFO: use WB High Luminance White\n");
        break;
    case ISPC::ControlAWB::WB_COMBINED:
        QOR_LOG_DEBUG(kTag, "INFO: use WB Combined\n");
        break;
    case ISPC::ControlAWB::WB_MANUAL:
        QOR_LOG_DEBUG(kTag, "INFO: manual colour correction\n");
        break;
    default:
        QOR_LOG_WARNING(kTag, "given WBC correction type %d does not exists - force none\n", static_cast<int>(type));
        break;
    }
    if (type <= ISPC::ControlAWB::WB_MANUAL)
        mode = static_cast<ISPC::ControlAWB::Correction_Types>(type);

    ISPC::ControlModule *created = CreateControl(kind);
    pCamera->registerControlModule(created);
    created->load(list);
    if (ISPC::ControlAWB *awb = control<ISPC::ControlAWB>())
        awb->setCorrectionMode(mode);
}

void TestContext::configureAlgorithms(const ISPC::ParameterList &list) {
    // Created first, registered after the white-balance control, in this order.
    const ControlKind kinds[] = {ControlKind::LBC, ControlKind::AE,  ControlKind::AF,
                                 ControlKind::TNM, ControlKind::DNS, ControlKind::LSH};
    ISPC::ControlModule *created[sizeof(kinds) / sizeof(kinds[0])];
    for (size_t i = 0; i < sizeof(kinds) / sizeof(kinds[0]); i++)
        created[i] = CreateControl(kinds[i]);
    configureWhiteBalanceControlAlgorithm(list);
    for (ISPC::ControlModule *c : created)
        pCamera->registerControlModule(c);
    pCamera->loadControlParameters(list);

    // The exposure control always runs and measures (its brightness feeds the frame's metadata) but drives the
    // sensor only on request.
    if (ISPC::ControlAE *ae = control<ISPC::ControlAE>()) {
        ae->enableControl(true);
        ae->enableCorrection(pParam->bControlAE[iContext]);
    }
    // Tone mapping waits for "wdr-auto" to enable it, with these settings.
    ISPC::ControlTNM *tnm = control<ISPC::ControlTNM>();
    if (tnm != nullptr) {
        tnm->enableControl(false);
        tnm->enableLocalTNM(true);
        tnm->enableAdaptiveTNM(true);
        tnm->setAllowHISConfig(true);
        (void)tnm->setHistMax(1.0);
        (void)tnm->setHistMin(1.0);
        (void)tnm->setSmoothing(0.0);
        (void)tnm->setTempering(1.0);
    }
    if (ISPC::ControlLBC *lbc = control<ISPC::ControlLBC>()) {
        lbc->enableControl(pParam->bControlLBC[iContext]);
        // The histogram statistics are the light-based control's to configure while tone mapping is off.
        if (tnm == nullptr || !tnm->isEnabled())
            lbc->setAllowHISConfig(true);
    }
    // Lens shading runs only with grids: linked to the white balance, from its lowest-temperature grid. Without
    // grids it stays unlinked, which keeps it from running.
    ISPC::ControlLSH *lsh = control<ISPC::ControlLSH>();
    if (lsh != nullptr && lsh->getLoadedGrids() != 0) {
        lsh->enableControl(true);
        lsh->registerCtrlAWB(control<ISPC::ControlAWB>());
        (void)lsh->configureDefaultMatrix();
    }
    // White balance, focus and denoise keep the enabled state they were created with.
}

bool TestContext::setBrightness(double value) {
    return setField(module<ISPC::ModuleTNM>(), &ISPC::ModuleTNM::fBrightness, value);
}

double TestContext::getBrightness() const {
    const ISPC::ModuleTNM *m = module<ISPC::ModuleTNM>();
    return m != nullptr ? m->fBrightness : 0.0;
}

bool TestContext::setContrast(double value) {
    return setField(module<ISPC::ModuleTNM>(), &ISPC::ModuleTNM::fContrast, value);
}

double TestContext::getContrast() const {
    const ISPC::ModuleTNM *m = module<ISPC::ModuleTNM>();
    return m != nullptr ? m->fContrast : 1.0;
}

bool TestContext::setSaturation(double value) {
    return setField(module<ISPC::ModuleTNM>(), &ISPC::ModuleTNM::fColourSaturation, value);
}

double TestContext::getSaturation() const {
    const ISPC::ModuleTNM *m = module<ISPC::ModuleTNM>();
    return m != nullptr ? m->fColourSaturation : 1.0;
}

bool TestContext::enableBlackWhiteMode(bool enable) {
    return setField(module<ISPC::ModuleTNM>(), &ISPC::ModuleTNM::bBlackWhiteMode, enable);
}

bool TestContext::setSharpness(double value) {
    return setField(module<ISPC::ModuleSHA>(), &ISPC::ModuleSHA::fStrength, value);
}

double TestContext::getSharpness() const {
    const ISPC::ModuleSHA *m = module<ISPC::ModuleSHA>();
    return m != nullptr ? m->fStrength : 0.0;
}

bool TestContext::enableWDRAuto(bool enable) {
    ISPC::ControlTNM *tnm = control<ISPC::ControlTNM>();
    if (tnm == nullptr)
        return false;
    tnm->enableControl(enable);
    return true;
}

bool TestContext::setWDRLevel(double level) {
    // While the tone-mapping control runs it owns the local weight and gets full local strength; otherwise the
    // level is the tone mapper's local weight.
    ISPC::ControlTNM *tnm = control<ISPC::ControlTNM>();
    if (tnm != nullptr && tnm->isEnabled()) {
        (void)tnm->setLocalStrength(1.0);
        return true;
    }
    ISPC::ModuleTNM *m = module<ISPC::ModuleTNM>();
    if (m == nullptr)
        return false;
    m->fWeightLocal = level;
    m->requestUpdate();
    return true;
}

double TestContext::getWDRLevel() const {
    const ISPC::ModuleTNM *m = module<ISPC::ModuleTNM>();
    return m != nullptr ? m->fWeightLocal : 0.0;
}

bool TestContext::setDenoiserLevel(double level) {
    ISPC::ModuleDNS *m = module<ISPC::ModuleDNS>();
    if (m == nullptr)
        return false;
    // The level is a fraction of the strength's range; values outside it (or not a number) are held at its ends.
    if (!(level >= 0.0))
        level = 0.0;
    m->fStrength = std::min(level, 1.0) * ISPC::ModuleDNS::DNS_STRENGTH.max;
    m->requestUpdate();
    return true;
}

double TestContext::getDenoiserLevel() const {
    const ISPC::ModuleDNS *m = module<ISPC::ModuleDNS>();
    return m != nullptr ? m->fStrength / ISPC::ModuleDNS::DNS_STRENGTH.max : 0.0;
}

bool TestContext::enableGMA(bool enable) {
    ISPC::ModuleGMA *m = module<ISPC::ModuleGMA>();
    if (m == nullptr)
        return false;
    m->bBypass = !enable;
    m->requestUpdate();
    return true;
}

bool TestContext::setHistStatROI(unsigned x, unsigned y, unsigned width, unsigned height) {
    ISPC::ModuleHIS *m = module<ISPC::ModuleHIS>();
    if (m == nullptr)
        return false;
    const unsigned W = std::max(width, kHistMinWidth), H = std::max(height, kHistMinHeight);
    unsigned startX = x - std::min((W - width) / 2, x);
    unsigned startY = y - std::min((H - height) / 2, y);
    // The grown window stays inside the image on the right and at the bottom as well.
    const ISPC::Global_Setup g = pCamera->getPipeline()->getGlobalSetup();
    const unsigned tileW = (W + 3) / 7, tileH = (H + 3) / 7;
    startX = keepInside(startX, tileW * ISPC::ModuleHIS::GRID_TILES, g.ui32ImageWidth);
    startY = keepInside(startY, tileH * ISPC::ModuleHIS::GRID_TILES, g.ui32ImageHeight);
    // The element sets the window before every frame: the same window requests no new set-up.
    if (m->aGridStartCoord[0] == startX && m->aGridStartCoord[1] == startY && m->aGridTileSize[0] == tileW &&
        m->aGridTileSize[1] == tileH && m->bEnableGlobal && m->bEnableROI)
        return true;
    m->aGridStartCoord[0] = startX;
    m->aGridStartCoord[1] = startY;
    m->aGridTileSize[0] = tileW;
    m->aGridTileSize[1] = tileH;
    m->bEnableGlobal = true;
    m->bEnableROI = true;
    m->requestUpdate();
    return true;
}

bool TestContext::setFosROI(unsigned x, unsigned y, unsigned width, unsigned height) {
    ISPC::ModuleFOS *m = module<ISPC::ModuleFOS>();
    if (m == nullptr)
        return false;
    // An empty window is one pixel wide or high, and the window ends inside the image.
    const ISPC::Global_Setup g = pCamera->getPipeline()->getGlobalSetup();
    const unsigned lastX = g.ui32ImageWidth > 0 ? g.ui32ImageWidth - 1 : 0;
    const unsigned lastY = g.ui32ImageHeight > 0 ? g.ui32ImageHeight - 1 : 0;
    const unsigned startX = std::min(x, lastX), startY = std::min(y, lastY);
    const unsigned w = std::max(width, 1u), h = std::max(height, 1u);
    const unsigned endX = startX + std::min(w - 1, lastX - startX), endY = startY + std::min(h - 1, lastY - startY);
    // The element sets the window before every frame: the same window requests no new set-up.
    if (m->bEnableROI && m->aRoiStartCoord[0] == startX && m->aRoiStartCoord[1] == startY &&
        m->aRoiEndCoord[0] == endX && m->aRoiEndCoord[1] == endY)
        return true;
    m->bEnableROI = true;
    m->aRoiStartCoord[0] = startX;
    m->aRoiStartCoord[1] = startY;
    m->aRoiEndCoord[0] = endX;
    m->aRoiEndCoord[1] = endY;
    m->requestUpdate();
    return true;
}

QOR_UINT64 TestContext::getSystemTime() const {
    if (pCamera == nullptr) {
        QOR_LOG_ERROR(kTag, "getSystemTime() failed due to pCamera is NULL\n");
        return ~static_cast<QOR_UINT64>(0);
    }
    QOR_UINT64 t = 0;
    if (CI_DriverGetSystemTime(pCamera->getConnection(), &t) != QOR_RES_OK) {
        QOR_LOG_ERROR(kTag, "Failed to get system time\n");
        return ~static_cast<QOR_UINT64>(0);
    }
    return t;
}
