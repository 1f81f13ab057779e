#include "ispc/ControlAF.h"

#include <algorithm>
#include <cstdint>

#include "ispc/ModuleFOS.h"
#include "ispc/Pipeline.h"
#include "ispc/Sensor.h"
#include "ispc/Shot.h"
#include "norvacommon/userlog.h"

namespace ISPC {

const ParamDef<double> ControlAF::AF_CENTER_WEIGTH("AF_CENTER_WEIGTH", 0.0, 1.0, 1.0);

// Narrow centre weighting; rows 4 to 6 repeat rows 2 to 0.
const double ControlAF::WEIGHT_7X7_CENTRAL[7][7] = {{0, 0, 0, 0.0001, 0, 0, 0},
                                                    {0, 0.0003, 0.0036, 0.0086, 0.0036, 0.0003, 0},
                                                    {0, 0.0036, 0.0487, 0.1160, 0.0487, 0.0036, 0},
                                                    {0.0001, 0.0086, 0.1160, 0.2763, 0.1160, 0.0086, 0.0001},
                                                    {0, 0.0036, 0.0487, 0.1160, 0.0487, 0.0036, 0},
                                                    {0, 0.0003, 0.0036, 0.0086, 0.0036, 0.0003, 0},
                                                    {0, 0, 0, 0.0001, 0, 0, 0}};

// Broad weighting; rows 4 to 6 repeat rows 2 to 0.
const double ControlAF::WEIGHT_7X7_SPREAD[7][7] = {
    {0.0129, 0.0161, 0.0183, 0.0191, 0.0183, 0.0161, 0.0129}, {0.0161, 0.0200, 0.0227, 0.0237, 0.0227, 0.0200, 0.0161},
    {0.0183, 0.0227, 0.0259, 0.0271, 0.0259, 0.0227, 0.0183}, {0.0191, 0.0237, 0.0271, 0.0283, 0.0271, 0.0237, 0.0191},
    {0.0183, 0.0227, 0.0259, 0.0271, 0.0259, 0.0227, 0.0183}, {0.0161, 0.0200, 0.0227, 0.0237, 0.0227, 0.0200, 0.0161},
    {0.0129, 0.0161, 0.0183, 0.0191, 0.0183, 0.0161, 0.0129}};

ControlAF::ControlAF(const std::string &logName)
    : ControlModuleBase<CTRL_AF>(logName), flagInitialized(false), bestSharpness(0), bestFocusDistance(0),
      minFocusDistance(0), maxFocusDistance(0), targetFocusDistance(0), lastSharpness(0), currentState(AF_IDLE),
      nextState(AF_IDLE), scanState(AF_SCAN_STOP), lastCommand(AF_NONE), scanInit(0), scanEnd(0), normalizeFactor(1.0),
      centerWeigth(AF_CENTER_WEIGTH.def) {}

const char *ControlAF::StateName(State state) {
    switch (state) {
    case AF_IDLE:
        return "AF_IDLE";
    case AF_SCANNING:
        return "AF_SCANNING";
    case AF_FOCUSED:
        return "AF_FOCUSED";
    case AF_OUT:
        return "AF_OUT";
    }
    return "unknown";
}

const char *ControlAF::ScanStateName(ScanState state) {
    switch (state) {
    case AF_SCAN_STOP:
        return "AF_SCAN_STOP";
    case AF_SCAN_INIT:
        return "AF_SCAN_INIT";
    case AF_SCAN_ROUGH:
        return "AF_SCAN_ROUGH";
    case AF_SCAN_FINE:
        return "AF_SCAN_FINE";
    case AF_SCAN_REFINE:
        return "AF_SCAN_REFINE";
    case AF_SCAN_POSITIONING:
        return "AF_SCAN_POSITIONING";
    case AF_SCAN_FINISHED:
        return "AF_SCAN_FINISHED";
    }
    return "unknown";
}

const char *ControlAF::CommandName(Command command) {
    switch (command) {
    case AF_TRIGGER:
        return "AF_TRIGGER";
    case AF_STOP:
        return "AF_STOP";
    case AF_FOCUS_CLOSER:
        return "AF_FOCUS_CLOSER";
    case AF_FOCUS_FURTHER:
        return "AF_FOCUS_FURTHER";
    case AF_NONE:
        return "AF_NONE";
    }
    return "unknown";
}

ParameterGroup ControlAF::getGroup() {
    static const ParameterGroup group = [] {
        ParameterGroup g;
        g.header = "// Auto Focus parameters";
        g.parameters = {AF_CENTER_WEIGTH.name};
        return g;
    }();
    return group;
}

QOR_RESULT ControlAF::load(const ParameterList &parameters) {
    centerWeigth = parameters.getParameter(AF_CENTER_WEIGTH);
    return QOR_RES_OK;
}

QOR_RESULT ControlAF::save(ParameterList &parameters, SaveType t) const {
    parameters.addGroup("ControlAF", getGroup());
    saveParameter(parameters, t, AF_CENTER_WEIGTH, centerWeigth);
    return QOR_RES_OK;
}

std::ostream &ControlAF::printState(std::ostream &os) const {
    const char *six = "      ";
    os << "  " << getLoggingName() << ":\n";
    os << "    config:\n";
    os << "    enabled = " << (enabled ? 1 : 0) << "\n";
    os << six << "targetFocusDistance = " << targetFocusDistance << "\n";
    os << six << "centerWeigth = " << centerWeigth << "\n";
    os << "    state:\n";
    os << six << "hasConverged = " << hasConverged() << "\n";
    os << six << "bestSharpness = " << bestSharpness << "\n";
    os << six << "bestFocusDistance = " << bestFocusDistance << "\n";
    os << six << "currentState = " << StateName(currentState) << "\n";
    os << six << "nextState = " << StateName(nextState) << "\n";
    os << six << "scanState = " << ScanStateName(scanState) << "\n";
    os << six << "lastCommand = " << CommandName(lastCommand) << "\n";
    os << six << "scanInit = " << scanInit << "\n";
    os << six << "scanEnd = " << scanEnd << "\n";
    return os;
}

QOR_RESULT ControlAF::programCorrection() { return QOR_RES_NOT_SUPPORTED; }

QOR_RESULT ControlAF::configureStatistics() {
    Pipeline *pipeline = getPipelineOwner();
    if (pipeline == nullptr) {
        QOR_LOG_ERROR(getLoggingName(), "ControlAF has no pipeline owner! Cannot configure statistics.\n");
        return QOR_RES_NOT_INITIALISED;
    }
    auto *fos = dynamic_cast<ModuleFOS *>(pipeline->getModule(STP_FOS));
    if (fos == nullptr) {
        return QOR_RES_UNAVAILABLE;
    }
    const Sensor *sensor = getSensor();
    if (sensor == nullptr) {
        QOR_LOG_ERROR(getLoggingName(), "ControlAF has no sensor!\n");
        return QOR_RES_NOT_INITIALISED;
    }
    const QOR_UINT32 W = sensor->uiWidth, H = sensor->uiHeight;
    fos->bEnableROI = true;
    fos->aRoiStartCoord[0] = W / 3;
    fos->aRoiStartCoord[1] = H / 3;
    fos->aRoiEndCoord[0] = 2 * W / 3;
    fos->aRoiEndCoord[1] = 2 * H / 3;
    fos->bEnableGrid = true;
    const QOR_UINT32 w = static_cast<QOR_UINT32>(W / 7.0), h = static_cast<QOR_UINT32>(H / 7.0);
    fos->aGridTileSize[0] = w;
    fos->aGridTileSize[1] = h;
    fos->aGridStartCoord[0] = static_cast<QOR_UINT32>((static_cast<int64_t>(W) - 7 * int64_t(w)) / 2);
    fos->aGridStartCoord[1] = static_cast<QOR_UINT32>((static_cast<int64_t>(H) - 7 * int64_t(h)) / 2);
    // A sensor under 7 pixels has empty tiles: nothing is measured, and the sharpness stays 0 rather than
    // becoming 0 x infinity.
    const uint64_t area = uint64_t(w) * h * 255u;
    normalizeFactor = area != 0 ? 1.0 / static_cast<double>(area) : 0.0;
    fos->requestUpdate();
    return QOR_RES_OK;
}

double ControlAF::sharpnessGridMetering(const Metadata &shotMetadata, double centreWeight) {
    double sum = 0;
    for (int r = 0; r < 7; r++) {
        for (int c = 0; c < 7; c++) {
            sum += (centreWeight * WEIGHT_7X7_CENTRAL[r][c] + (1 - centreWeight) * WEIGHT_7X7_SPREAD[r][c]) *
                   static_cast<double>(shotMetadata.focusStats.gridSharpness[r][c]);
        }
    }
    return sum;
}

QOR_RESULT ControlAF::update(const Metadata &metadata) {
    const Sensor *sensor = getSensor();
    if (sensor == nullptr) {
        QOR_LOG_ERROR(getLoggingName(), "ControlAF has no sensor!\n");
        return QOR_RES_NOT_INITIALISED;
    }
    if (!flagInitialized) {
        QOR_LOG_WARNING(getLoggingName(), "ControlAF is not initialised. Initialising it now\n");
        (void)configureStatistics();
        bestSharpness = 0;
        bestFocusDistance = 0;
        minFocusDistance = sensor->getMinFocus();
        maxFocusDistance = sensor->getMaxFocus();
        lastSharpness = 0;
        targetFocusDistance = minFocusDistance;
        currentState = nextState = AF_IDLE;
        scanState = AF_SCAN_STOP;
        lastCommand = AF_NONE;
        scanInit = scanEnd = 0;
        flagInitialized = true;
        return QOR_RES_OK;
    }
    // A focus window narrower than the picture is measured on its own, per pixel as the grid's tiles are: the
    // centre-weighted grid alone, which the control was first described with, leaves the window that the
    // application sets ("set-fvalue-window") without effect on the value it reads.
    const MC_FOS &window = metadata.focusConfig;
    const uint64_t windowArea = uint64_t(window.ui16ROIWidth) * window.ui16ROIHeight;
    if (window.bRegionEnable && windowArea != 0 && windowArea < uint64_t(sensor->uiWidth) * sensor->uiHeight) {
        lastSharpness =
            static_cast<double>(metadata.focusStats.ROISharpness) / (static_cast<double>(windowArea) * 255.0);
    } else {
        lastSharpness = normalizeFactor * sharpnessGridMetering(metadata, centerWeigth);
    }
    runAF(sensor->getFocusDistance(), lastSharpness, lastCommand);
    lastCommand = AF_NONE;
    return QOR_RES_OK;
}

void ControlAF::runAF(unsigned int lastFocusDistance, double sharpness, Command command) {
    const unsigned lo = std::min(minFocusDistance, maxFocusDistance);
    const unsigned hi = std::max(minFocusDistance, maxFocusDistance);
    unsigned t = targetFocusDistance;
    auto clamp = [](uint64_t v, unsigned a, unsigned b) {
        return unsigned(std::min<uint64_t>(std::max<uint64_t>(v, a), b));
    };
    auto noteBest = [&] {
        if (sharpness > bestSharpness) {
            bestSharpness = sharpness;
            bestFocusDistance = lastFocusDistance;
        }
    };
    const unsigned windowLo = std::min(scanInit, scanEnd), windowHi = std::max(scanInit, scanEnd);
    const unsigned stepSize = (windowHi - windowLo) / 10;
    const unsigned stepped = clamp(uint64_t(lastFocusDistance) + stepSize, windowLo, windowHi);
    // A phase ends when the lens reports its end, or beyond it, or when its window is too narrow to step: a lens
    // that quantises its position, or a window under 10 units, would otherwise keep the search going for ever.
    const bool phaseDone = lastFocusDistance >= scanEnd || stepSize == 0;

    currentState = nextState;
    switch (currentState) {
    case AF_IDLE:
        if (command == AF_TRIGGER) {
            nextState = AF_SCANNING;
            scanState = AF_SCAN_STOP;
        } else if (command == AF_FOCUS_CLOSER) {
            t = static_cast<unsigned>(t / 1.1);
        } else if (command == AF_FOCUS_FURTHER) {
            t = static_cast<unsigned>(std::min(t * 1.1, 4294967295.0));
        }
        break;
    case AF_FOCUSED:
        nextState = AF_IDLE;
        break;
    case AF_SCANNING:
        switch (scanState) {
        case AF_SCAN_STOP:
            bestSharpness = 0;
            scanInit = lo;
            scanEnd = hi;
            bestFocusDistance = lo;
            t = lo;
            scanState = AF_SCAN_INIT;
            break;
        case AF_SCAN_INIT:
            scanState = AF_SCAN_ROUGH;
            break;
        case AF_SCAN_ROUGH:
            noteBest();
            if (phaseDone) {
                unsigned r = (scanEnd - scanInit) / 5;
                if (bestFocusDistance < r) {
                    r = bestFocusDistance / 2;
                }
                scanInit = clamp(bestFocusDistance - r, lo, hi);
                scanEnd = clamp(uint64_t(bestFocusDistance) + r, lo, hi);
                bestFocusDistance = scanInit;
                bestSharpness = 0;
                scanState = AF_SCAN_FINE;
                t = scanInit;
            } else {
                t = stepped;
            }
            break;
        case AF_SCAN_FINE:
            noteBest();
            if (phaseDone) {
                t = bestFocusDistance;
                scanState = AF_SCAN_POSITIONING;
            } else {
                t = stepped;
            }
            break;
        case AF_SCAN_POSITIONING:
            nextState = AF_FOCUSED;
            scanState = AF_SCAN_STOP;
            break;
        case AF_SCAN_REFINE:
        case AF_SCAN_FINISHED:
        default:
            scanState = AF_SCAN_STOP;
            break;
        }
        break;
    case AF_OUT:
    default:
        break;
    }
    targetFocusDistance = clamp(t, lo, hi);

    Sensor *sensor = getSensor();
    if (sensor == nullptr) {
        QOR_LOG_ERROR(getLoggingName(), "ControlAF has no sensor! Did not update focus distance\n");
        return;
    }
    if (targetFocusDistance != sensor->getFocusDistance()) {
        sensor->setFocusDistance(targetFocusDistance);
    }
}

} // namespace ISPC
