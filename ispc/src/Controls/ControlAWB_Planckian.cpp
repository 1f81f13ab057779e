#include "ispc/ControlAWB_Planckian.h"

#include <cmath>
#include <cstring>

#include "ispc/ModuleAWS.h"
#include "ispc/ModuleCCM.h"
#include "ispc/ModuleWBC.h"
#include "ispc/Pipeline.h"
#include "ispc/Sensor.h"
#include "ispc/Shot.h"
#include "norvacommon/userlog.h"
#include "sensorapi/sensorapi.h"

namespace ISPC {

namespace {
constexpr const char *kTag = "ISPC_CTRL_AWB";
const double kFlashLow = 0.95f;
const double kFlashHigh = 1.05f;

double log2Of(double x) { return std::log10(x) / std::log10(2.0); }
} // namespace

const ParamDefSingle<bool> ControlAWB_Planckian::AWB_USE_AWS_CONFIG("AWB_USE_AWS_CONFIG", false);
const ParamDef<double> ControlAWB_Planckian::AWB_MAX_RATIO_DISTANCE("AWB_MAX_RATIO_DISTANCE", 0.0, 1.0, 0.2);
const ParamDefSingle<bool> ControlAWB_Planckian::WBT_USE_FLASH_FILTERING("WBT_USE_FLASH_FILTERING", false);
const ParamDefSingle<bool> ControlAWB_Planckian::WBT_USE_SMOOTHING("WBT_USE_SMOOTHING", false);
const ParamDef<int> ControlAWB_Planckian::WBTS_TEMPORAL_STRETCH("WBT_TEMPORAL_STRETCH", TEMPORAL_STRETCH_MIN,
                                                                TEMPORAL_STRETCH_MAX, DEFAULT_TEMPORAL_STRETCH);
const ParamDef<float> ControlAWB_Planckian::WBTS_WEIGHT_BASE("WBT_WEIGHT_BASE", 1.001f, 10.0f, 2.0f);

/* ---- tiles ---- */

ControlAWB_Planckian::AwbTile::AwbTile()
    : MC_TILE_STATS_AWS{0.0, 0.0, 0.0, 0}, ratioR(RATIO_DEF), ratioB(RATIO_DEF), ratioRValid(false), ratioBValid(false),
      log2_QEr(1.0), log2_QEb(1.0) {}

double ControlAWB_Planckian::AwbTile::log2RatioR() const {
    return numCFAs == 0 ? 0.0 : (numCFAs * log2_QEr + fCollectedRed - fCollectedGreen) / numCFAs;
}

double ControlAWB_Planckian::AwbTile::log2RatioB() const {
    return numCFAs == 0 ? 0.0 : (numCFAs * log2_QEb + fCollectedBlue - fCollectedGreen) / numCFAs;
}

void ControlAWB_Planckian::AwbTile::computeRatios() {
    if (!ratioRValid) {
        ratioR = std::pow(2.0, log2RatioR());
        ratioRValid = true;
    }
    if (!ratioBValid) {
        ratioB = std::pow(2.0, log2RatioB());
        ratioBValid = true;
    }
}

bool ControlAWB_Planckian::AwbTile::applyBounds(double lowLog2RatioR, double lowLog2RatioB) {
    if (lowLog2RatioR < log2RatioR() && lowLog2RatioB > log2RatioB()) {
        numCFAs = 0;
        return false;
    }
    return true;
}

/* ---- control ---- */

ControlAWB_Planckian::ControlAWB_Planckian(const std::string &logName)
    : ControlAWB(logName), fRatioR(1.0), fRatioB(1.0), fLog2_R_Qeff(0.0), fLog2_B_Qeff(0.0), f_R_Qeff(1.0),
      f_B_Qeff(1.0), fLog2LowTempRatioR(1.0), fLog2LowTempRatioB(1.0), fMaxRatioDistance(AWB_MAX_RATIO_DISTANCE.def),
      fMaxRatioDistancePow2(AWB_MAX_RATIO_DISTANCE.def * AWB_MAX_RATIO_DISTANCE.def),
      useCustomAwsConfig(AWB_USE_AWS_CONFIG.def), mFlashFilteringEnabled(true), mUseTemporalSmoothing(false),
      mTemporalStretch(DEFAULT_TEMPORAL_STRETCH), mWeightsBase(2.0f), awsMissingLogged(false) {}

QOR_RESULT ControlAWB_Planckian::configureStatistics() {
    Pipeline *owner = getPipelineOwner();
    if (owner == nullptr) {
        QOR_LOG_ERROR(getLoggingName(), "ControlAWB_Planckian has no pipeline owner! Cannot configure statistics.\n");
        return QOR_RES_NOT_INITIALISED;
    }
    ModuleAWS *aws = static_cast<ModuleAWS *>(owner->getModule(STP_AWS));
    configured = false;
    if (aws == nullptr) {
        QOR_LOG_ERROR(getLoggingName(), "ControlAWB_Planckian cannot find AWS module.\n");
        return QOR_RES_UNAVAILABLE;
    }
    if (!statisticsRegionProgrammed) {
        const Sensor *sensor = getSensor();
        if (sensor == nullptr) {
            QOR_LOG_ERROR(getLoggingName(), "ControlAWB_Planckian has no sensor! Cannot configure statistics.\n");
            return QOR_RES_NOT_INITIALISED;
        }
        if (useCustomAwsConfig) {
            fLog2_R_Qeff = aws->fLog2_R_Qeff;
            fLog2_B_Qeff = aws->fLog2_B_Qeff;
            f_R_Qeff = std::pow(2.0, fLog2_R_Qeff);
            f_B_Qeff = std::pow(2.0, fLog2_B_Qeff);
        } else {
            if (Uncorrected.initialized) {
                f_R_Qeff = Uncorrected.gains[0][0];
                f_B_Qeff = Uncorrected.gains[0][3];
            }
            fLog2_B_Qeff = log2Of(f_B_Qeff);
            fLog2_R_Qeff = log2Of(f_R_Qeff);
            aws->fLog2_R_Qeff = fLog2_R_Qeff;
            aws->fLog2_B_Qeff = fLog2_B_Qeff;
            aws->ui16GridStartRow = 0;
            aws->ui16GridStartColumn = 0;
            aws->ui16TileWidth = static_cast<QOR_UINT16>(sensor->uiWidth / 7);
            aws->ui16TileHeight = static_cast<QOR_UINT16>(sensor->uiHeight / 7);
        }
        const int n = colorTempCorrection.size();
        if (n < 1) {
            QOR_LOG_INFO(getLoggingName(), "No temperature calibration points defined\n");
        } else {
            ColorCorrection lowest = colorTempCorrection.getCorrection(0);
            for (int i = 1; i < n; i++) {
                ColorCorrection c = colorTempCorrection.getCorrection(static_cast<unsigned>(i));
                if (c.temperature < lowest.temperature)
                    lowest = c;
            }
            fLog2LowTempRatioR = fLog2_R_Qeff - log2Of(lowest.gains[0][0]) + aws->fBbDist;
            fLog2LowTempRatioB = fLog2_B_Qeff - log2Of(lowest.gains[0][3]) - aws->fBbDist;
        }
        aws->enabled = true;
    }
    aws->requestUpdate();
    configured = true;
    return QOR_RES_OK;
}

void ControlAWB_Planckian::processStatistics(const MC_STATS_AWS &awsStats) {
    double sumR = 0.0, sumB = 0.0, count = 0.0;
    for (int r = 0; r < 7; r++) {
        for (int c = 0; c < 7; c++) {
            AwbTile &t = awbTiles[r][c];
            const MC_TILE_STATS_AWS &s = awsStats.tileStats[r][c];
            t.fCollectedRed = s.fCollectedRed;
            t.fCollectedBlue = s.fCollectedBlue;
            t.fCollectedGreen = s.fCollectedGreen;
            t.numCFAs = s.numCFAs;
            t.ratioRValid = false;
            t.ratioBValid = false;
            t.log2_QEr = fLog2_R_Qeff;
            t.log2_QEb = fLog2_B_Qeff;
            if (t.numCFAs != 0 && t.applyBounds(fLog2LowTempRatioR, fLog2LowTempRatioB)) {
                t.computeRatios();
                sumR += t.numCFAs * t.ratioR;
                sumB += t.numCFAs * t.ratioB;
                count += t.numCFAs;
            }
        }
    }
    double cR = 1.0, cB = 1.0;
    if (count != 0.0) {
        cR = sumR / count;
        cB = sumB / count;
    }
    postprocessCentroid(cR, cB);
    double N = 0.0, SR = 0.0, SG = 0.0, SB = 0.0;
    for (int r = 0; r < 7; r++) {
        for (int c = 0; c < 7; c++) {
            const AwbTile &t = awbTiles[r][c];
            if (t.numCFAs != 0 &&
                (t.ratioR - cR) * (t.ratioR - cR) + (t.ratioB - cB) * (t.ratioB - cB) < fMaxRatioDistancePow2) {
                N += t.numCFAs;
                SR += t.fCollectedRed;
                SG += t.fCollectedGreen;
                SB += t.fCollectedBlue;
            }
        }
    }
    if (N != 0.0) {
        fRatioR = std::pow(2.0, (fLog2_R_Qeff * N + SR - SG) / N);
        fRatioB = std::pow(2.0, (fLog2_B_Qeff * N + SB - SG) / N);
    } else {
        fRatioR = cR;
        fRatioB = cB;
    }
}

bool ControlAWB_Planckian::postprocessCentroid(double &cR, double &cB) {
    const LineSegments &lines = colorTempCorrection.getLines();
    if (lines.empty()) {
        QOR_LOG_ERROR(getLoggingName(), "No Planckian locus approximation loaded, please provide at least two "
                                        "different calibration points\n");
        return false;
    }
    double pcR = 0.0, pcB = 0.0;
    lines.getRbProj(cR, cB, pcR, pcB);
    struct Group {
        double sumR = 0.0, sumB = 0.0, weight = 0.0;
        QOR_UINT64 count = 0;
    } above, below;
    for (int r = 0; r < 7; r++) {
        for (int c = 0; c < 7; c++) {
            AwbTile &t = awbTiles[r][c];
            if (t.numCFAs == 0) {
                continue;
            }
            t.computeRatios();
            double pR = 0.0, pB = 0.0;
            lines.getRbProj(t.ratioR, t.ratioB, pR, pB);
            Group &g = pB < pcB ? below : above;
            g.sumR += t.numCFAs * t.ratioR;
            g.sumB += t.numCFAs * t.ratioB;
            g.count += t.numCFAs;
            g.weight += t.numCFAs;
        }
    }
    for (Group *g : {&above, &below}) {
        if (g->count > 0) {
            g->sumR /= static_cast<double>(g->count);
            g->sumB /= static_cast<double>(g->count);
        }
    }
    const double threshold = fMaxRatioDistancePow2 * 2.25;
    const bool aboveNear = threshold > LineSegment::getLengthPow2(cR, cB, above.sumR, above.sumB);
    const bool belowNear = threshold > LineSegment::getLengthPow2(cR, cB, below.sumR, below.sumB);
    const Group *chosen = &below;
    if (aboveNear && !belowNear) {
        chosen = &above;
    } else if (belowNear && !aboveNear) {
        chosen = &below;
    } else if (above.weight * 0.7 > below.weight) {
        chosen = &above;
    } else if (below.weight * 0.7 > above.weight) {
        chosen = &below;
    } else {
        LineSegments::const_iterator closest = lines.getClosestLine(cR, cB);
        if (closest != lines.end() &&
            closest->getDistancePow2(above.sumR, above.sumB) < closest->getDistancePow2(below.sumR, below.sumB)) {
            chosen = &above;
        }
    }
    cR = chosen->sumR;
    cB = chosen->sumB;
    return true;
}

QOR_RESULT ControlAWB_Planckian::update(const Metadata &metadata) {
    if (correctionMode == WB_NONE) {
        return updateWBNone();
    }
    LOG_Perf_In(getLoggingName(), __FILE__, __func__, __LINE__);
    processStatistics(metadata.autoWhiteBalanceStats);
    if (fRatioR == 0.0)
        fRatioR = 1.0;
    if (fRatioB == 0.0)
        fRatioB = 1.0;
    double rg = 0.0, bg = 0.0;
    if (correctionMode == WB_MANUAL) {
        rg = 1.0 / redBalance;
        bg = 1.0 / blueBalance;
    } else {
        rg = fRatioR;
        bg = fRatioB;
        flashFiltering(rg, bg);
        temporalAWBsmoothing(rg, bg);
        const double limit = getTemporalStretch() * getFps();
        while (static_cast<double>(rbNodes.size()) > limit && !rbNodes.empty()) {
            rbNodes.pop_back();
        }
    }
    measuredTemperature = colorTempCorrection.getCorrelatedTemperature(rg, 1.0, bg);
    correctionTemperature = 6500.0 - (targetTemperature - measuredTemperature);
    if (doAwb) {
        Pipeline *owner = getPipelineOwner();
        const ModuleAWS *aws = owner != nullptr ? static_cast<const ModuleAWS *>(owner->getModule(STP_AWS)) : nullptr;
        if (aws == nullptr) {
            // Without the statistics block (hardware before 2.6) there is nothing to balance from: nothing is
            // programmed, and the reason is reported once rather than on every frame.
            if (!awsMissingLogged) {
                QOR_LOG_ERROR(getLoggingName(), "no AWS module in the pipeline - white balance not programmed\n");
                awsMissingLogged = true;
            }
        } else if (!aws->debugMode) {
            colorTempCorrection.getColorCorrection(correctionTemperature, currentCCM);
            currentCCM.gains[0][0] = f_R_Qeff / rg;
            currentCCM.gains[0][1] = 1.0;
            currentCCM.gains[0][2] = 1.0;
            currentCCM.gains[0][3] = f_B_Qeff / bg;
            if (correctionMode != WB_MANUAL) {
                redBalance = 1.0 / rg;
                blueBalance = 1.0 / bg;
            }
            programCorrection();
        }
    }
    LOG_Perf_Out(getLoggingName(), __FILE__, __func__, __LINE__);
    return QOR_RES_OK;
}

QOR_RESULT ControlAWB_Planckian::programCorrection() { return ControlAWB::programCorrection(); }

/* ---- temporal filter ---- */

double ControlAWB_Planckian::getFps() {
    Sensor *sensor = getSensor();
    if (sensor == nullptr || sensor->getHandle() == nullptr) {
        return 0.0;
    }
    SENSOR_INFO info;
    std::memset(&info, 0, sizeof(info));
    Sensor_GetInfo(sensor->getHandle(), &info);
    return info.sMode.flFrameRate;
}

bool ControlAWB_Planckian::potentialFlash(rbNode_t n) {
    const rbNode_t &F = rbNodes.front();
    const bool r = n.rg < F.rg * kFlashLow || n.rg > F.rg * kFlashHigh;
    const bool b = n.bg < F.bg * kFlashLow || n.bg > F.bg * kFlashHigh;
    return r && b;
}

void ControlAWB_Planckian::flashFiltering(double in_RG, double in_BG) {
    const rbNode_t in = {in_RG, in_BG};
    if (flashFilteringDisabled()) {
        rbNodes.push_front(in);
        return;
    }
    if (rbNodes.size() > FLASH_FILTERING_START_DELAY && potentialFlash(in)) {
        if (rbNodesCache.empty()) {
            rbNodesCache.push_front(in);
            return;
        }
        for (size_t i = rbNodesCache.size(); i-- > 0;) {
            rbNodes.push_front(rbNodesCache[i]);
        }
        rbNodes.push_front(in);
        rbNodesCache.clear();
        return;
    }
    // A held entry is replaced by a repeat of the newest accepted one; with no accepted entry left (the
    // history was emptied meanwhile) there is nothing to repeat and the held entry is dropped.
    while (!rbNodesCache.empty()) {
        if (!rbNodes.empty()) {
            const rbNode_t repeat = rbNodes.front();
            rbNodes.push_front(repeat);
        }
        rbNodesCache.pop_front();
    }
    rbNodes.push_front(in);
}

void ControlAWB_Planckian::temporalAWBsmoothing(double &out_RG, double &out_BG) {
    if (mUseTemporalSmoothing) {
        movingAverageWeighted(out_RG, out_BG);
    } else {
        smoothingNone(out_RG, out_BG);
    }
}

void ControlAWB_Planckian::smoothingNone(double &out_RG, double &out_BG) {
    if (!rbNodes.empty()) {
        out_RG = rbNodes.front().rg;
        out_BG = rbNodes.front().bg;
    }
    const long long limit =
        static_cast<long long>(getTemporalStretch()) * static_cast<int32_t>(static_cast<int32_t>(getFps() + 0.5));
    while (static_cast<long long>(rbNodes.size()) > limit && !rbNodes.empty()) {
        rbNodes.pop_back();
    }
}

void ControlAWB_Planckian::movingAverageWeighted(double &out_RG, double &out_BG) {
    int limit =
        static_cast<int>(static_cast<long long>(getTemporalStretch()) * static_cast<int32_t>(getFps() + 0.5) / 1000);
    // Below about 3 frames per second the window computes to no frame at all: the newest estimate is kept
    // instead, so the output stays a ratio and never becomes zero.
    if (limit < 1) {
        limit = 1;
    }
    while (static_cast<int>(rbNodes.size()) > limit) {
        rbNodes.pop_back();
    }
    if (rbWeights.size() != rbNodes.size()) {
        generateWeights(static_cast<int>(rbNodes.size()));
    }
    out_RG = 0.0;
    out_BG = 0.0;
    for (size_t k = 0; k < rbNodes.size(); k++) {
        const double w = static_cast<double>(rbWeights[k] / 100.0f);
        out_RG += w * rbNodes[k].rg;
        out_BG += w * rbNodes[k].bg;
    }
}

void ControlAWB_Planckian::generateWeights(int size) {
    rbWeights.clear();
    for (int k = 0; k < size; k++) {
        rbWeights.push_back(weightSpread(size, size - 1 - k));
    }
}

float ControlAWB_Planckian::weightSpread(int n, int i) const {
    const float b = getWeightParam();
    if (b <= 1.0f) {
        return 1.0f;
    }
    // 100 b^i / sum of b^k for k < n, with numerator and sum divided by b^(n-1): every power is at most 1,
    // so long windows with a large base neither overflow nor lose their weights.
    const double bd = static_cast<double>(b);
    const double num = std::pow(bd, static_cast<double>(i - (n - 1)));
    const double inv = 1.0 / bd;
    const double sum = (1.0 - std::pow(inv, static_cast<double>(n))) / (1.0 - inv);
    return static_cast<float>(100.0 * num / sum);
}

void ControlAWB_Planckian::setWBTSAlgorithm(bool smoothingEnabled, float base, int temporalStretch) {
    rbNodes.clear();
    mUseTemporalSmoothing = smoothingEnabled;
    mTemporalStretch = temporalStretch;
    if (base <= 1.0f) {
        base = 1.0001f;
    } else if (base > 10.0f) {
        base = 10.0f;
    }
    mWeightsBase = base;
    QOR_LOG_INFO(getLoggingName(), "mUseTemporalSmoothing = %d mWeightsBase = %f mTemporalStretch = %d[ms] \n",
                 mUseTemporalSmoothing ? 1 : 0, static_cast<double>(mWeightsBase), mTemporalStretch);
}

void ControlAWB_Planckian::getWBTSAlgorithm(bool &smoothingEnabled, float &base, int &temporalStretch) {
    rbNodes.clear();
    smoothingEnabled = mUseTemporalSmoothing;
    base = mWeightsBase;
    temporalStretch = mTemporalStretch;
    QOR_LOG_INFO(getLoggingName(), "mUseTemporalSmoothing = %d mWeightsBase = %f mTemporalStretch = %d[ms] \n",
                 mUseTemporalSmoothing ? 1 : 0, static_cast<double>(mWeightsBase), mTemporalStretch);
}

void ControlAWB_Planckian::setWeightParam(float base) {
    if (base < getMinWeightBase()) {
        mWeightsBase = getMinWeightBase();
        QOR_LOG_WARNING(kTag, "WBTS: Weight generation parameter clipped to min");
    } else if (base > getMaxWeightBase()) {
        mWeightsBase = getMaxWeightBase();
        QOR_LOG_WARNING(kTag, "WBTS: Weight generation parameter clipped to max");
    } else {
        mWeightsBase = base;
    }
}

/* ---- parameters ---- */

QOR_RESULT ControlAWB_Planckian::load(const ParameterList &parameters) {
    colorTempCorrection.loadParameters(parameters);
    if (colorTempCorrection.getCorrectionIndex(6500.0) < 0) {
        QOR_LOG_WARNING(kTag, "loaded temperature correction does not have 6500K entry!\n");
    }
    colorTempCorrection.getColorCorrection(6500.0, Uncorrected);
    targetTemperature = parameters.getParameter(AWB_TARGET_TEMPERATURE);
    useCustomAwsConfig = parameters.getParameter(AWB_USE_AWS_CONFIG);
    fMaxRatioDistance = parameters.getParameter(AWB_MAX_RATIO_DISTANCE);
    fMaxRatioDistancePow2 = fMaxRatioDistance * fMaxRatioDistance;
    mFlashFilteringEnabled = parameters.getParameter(WBT_USE_FLASH_FILTERING);
    mUseTemporalSmoothing = parameters.getParameter(WBT_USE_SMOOTHING);
    mTemporalStretch = parameters.getParameter(WBTS_TEMPORAL_STRETCH);
    mWeightsBase = parameters.getParameter(WBTS_WEIGHT_BASE);
    return QOR_RES_OK;
}

QOR_RESULT ControlAWB_Planckian::save(ParameterList &parameters, SaveType t) const {
    static const ParameterGroup group = ControlAWB_Planckian::getGroup();
    parameters.addGroup("ControlAWB_Planckian", group);
    saveParameter(parameters, t, AWB_TARGET_TEMPERATURE, targetTemperature);
    saveParameter(parameters, t, AWB_USE_AWS_CONFIG, useCustomAwsConfig);
    saveParameter(parameters, t, AWB_MAX_RATIO_DISTANCE, fMaxRatioDistance);
    saveParameter(parameters, t, WBT_USE_FLASH_FILTERING, mFlashFilteringEnabled);
    saveParameter(parameters, t, WBT_USE_SMOOTHING, mUseTemporalSmoothing);
    saveParameter(parameters, t, WBTS_TEMPORAL_STRETCH, mTemporalStretch);
    saveParameter(parameters, t, WBTS_WEIGHT_BASE, mWeightsBase);
    return colorTempCorrection.saveParameters(parameters, t);
}

ParameterGroup ControlAWB_Planckian::getGroup() {
    ParameterGroup g;
    g.header = "// Auto White Balance parameters (Planckian)";
    for (const std::string &n :
         {AWB_TARGET_TEMPERATURE.name, AWB_MAX_RATIO_DISTANCE.name, AWB_USE_AWS_CONFIG.name,
          WBT_USE_FLASH_FILTERING.name, WBT_USE_SMOOTHING.name, WBTS_TEMPORAL_STRETCH.name, WBTS_WEIGHT_BASE.name}) {
        g.parameters.insert(n);
    }
    return g;
}

std::ostream &ControlAWB_Planckian::printState(std::ostream &os) const {
    os << "  " << getLoggingName() << ":" << std::endl;
    os << "    Config:" << std::endl;
    os << "      enabled = " << (enabled ? 1 : 0) << std::endl;
    os << "      Qer = " << fLog2_R_Qeff << std::endl;
    os << "      Qeb = " << fLog2_B_Qeff << std::endl;
    os << "      log2(LowTempRatioR) = " << fLog2LowTempRatioR << std::endl;
    os << "      log2(LowTempRatioB) = " << fLog2LowTempRatioB << std::endl;
    os << "      MaxDistance = " << fMaxRatioDistance << std::endl;
    os << "      useCustomAwsConfig = " << (useCustomAwsConfig ? 1 : 0) << std::endl;
    os << "    Temporal proc config:" << std::endl;
    os << "      weights base = " << static_cast<double>(mWeightsBase) << std::endl;
    os << "      flash filter = " << (mFlashFilteringEnabled ? 1 : 0) << std::endl;
    os << "      mode = " << static_cast<int>(mUseTemporalSmoothing) << std::endl;
    os << "      stretch [ms] = " << mTemporalStretch << std::endl;
    os << "    Capture state:" << std::endl;
    os << "      ratioR = " << fRatioR << std::endl;
    os << "      ratioB = " << fRatioB << std::endl;
    os << "      estimated temperature = " << colorTempCorrection.getCorrelatedTemperature(fRatioR, 1.0, fRatioB)
       << std::endl;
    os << "    Final valid tiles:" << std::endl;
    for (int r = 0; r < 7; r++) {
        for (int c = 0; c < 7; c++) {
            const AwbTile &t = awbTiles[r][c];
            if (t.numCFAs != 0) {
                os << "      tile[" << r << "," << c << "] R=" << t.ratioR << " B=" << t.ratioB << std::endl;
            }
        }
    }
    return os;
}

} // namespace ISPC
