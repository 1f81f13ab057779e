#include "../Modules/LshGridFile.h"
#include "ispc/ControlLSH.h"

#include <cstring>

#include "ispc/ControlAWB.h"
#include "ispc/ModuleLSH.h"
#include "ispc/Pipeline.h"
#include "mc/mc_lsh.h"
#include "norvacommon/userlog.h"

namespace ISPC {

namespace {
constexpr const char *kReaderTag = "ISPC_CONTROL_LSH";
constexpr const char *kNoOwner = "ControlLSH has no pipeline owner! Cannot load deshading matrices.\n";
constexpr const char *kMatrixFile = "<matrix file>";
} // namespace

const ParamDef<int> ControlLSH::LSH_CORRECTIONS("LSH_CTRL_CORRECTIONS", 0, MAX_CORRECTIONS, 0);
const ParamDef<unsigned> ControlLSH::LSH_CTRL_TEMPERATURE_S("LSH_CTRL_TEMPERATURE", 0u, 100000u, 0u);
const ParamDefSingle<std::string> ControlLSH::LSH_FILE_S("LSH_CTRL_FILE", "");
const ParamDef<double> ControlLSH::LSH_CTRL_SCALE_WB_S("LSH_CTRL_SCALE_WB", 0.0, 100.0, 1.0);
const ParamDef<int> ControlLSH::LSH_CTRL_BITS_DIFF("LSH_CTRL_BITS_DIFF", 0, MC_LSH_MAX_BITS, 0);

ControlLSH::GridInfo::GridInfo(const ParameterList &parameters, unsigned i)
    : matrixId(0), filename(parameters.getParameter(LSH_FILE_S.indexed(i))),
      scaledWB(parameters.getParameter(LSH_CTRL_SCALE_WB_S.indexed(i))) {}

ControlLSH::ControlLSH(const std::string &logtag)
    : ControlModuleBase<CTRL_LSH>(logtag), illuminantTemperature(6500), algorithm(LINEAR), chosenMatrixId(0),
      pCtrlAWB(nullptr), maxBitsPerDiff(0), switchPending(false), choiceFailed(false) {}

QOR_RESULT ControlLSH::loadMatrices(const ParameterList &parameters, GridTable &grids, QOR_UINT8 &maxBitsPerDiff) {
    if (!parameters.exists(LSH_CORRECTIONS.name)) {
        LOG_Warning(__func__, __LINE__, kReaderTag,
                    "Unable to load LSH corrections from parameters. '%s' not defined\n", LSH_CORRECTIONS.name.c_str());
        return QOR_RES_NOT_DEFINED;
    }
    maxBitsPerDiff = static_cast<QOR_UINT8>(parameters.getParameter(LSH_CTRL_BITS_DIFF));
    const int n = parameters.getParameter(LSH_CORRECTIONS);
    for (int i = 0; i < n; i++) {
        const unsigned idx = static_cast<unsigned>(i);
        const std::string file = parameters.getParameter(LSH_FILE_S.indexed(idx));
        if (file.empty()) {
            LOG_Warning(__func__, __LINE__, kReaderTag, "Correction %d does not have a matrix file - ignored\n", i);
            continue;
        }
        const GridInfo info(file, parameters.getParameter(LSH_CTRL_SCALE_WB_S.indexed(idx)));
        const QOR_TEMPERATURE_TYPE temp = parameters.getParameter(LSH_CTRL_TEMPERATURE_S.indexed(idx));
        if (temp == 0) {
            LOG_Warning(__func__, __LINE__, kReaderTag, "Correction %d doesn't have a matching temperature - ignored\n",
                        i);
            continue;
        }
        grids[temp] = info;
    }
    return QOR_RES_OK;
}

QOR_UINT8 ControlLSH::findBiggestBitsPerDiff(const GridTable &grids) {
    QOR_UINT8 biggest = 0;
    for (const auto &g : grids) {
        LSH_GRID grid;
        std::memset(&grid, 0, sizeof(grid));
        if (LSH_Load_bin(&grid, g.second.filename.c_str()) == QOR_RES_OK) {
            const QOR_UINT8 b = MC_LSHComputeMinBitdiff(&grid, nullptr);
            biggest = b > biggest ? b : biggest;
        }
        LSH_Free(&grid);
    }
    return biggest;
}

ModuleLSH *ControlLSH::ownerModule() const {
    Pipeline *owner = getPipelineOwner();
    return owner != nullptr ? static_cast<ModuleLSH *>(owner->getModule(STP_LSH)) : nullptr;
}

QOR_RESULT ControlLSH::load(const ParameterList &parameters) {
    grids.clear();
    const QOR_RESULT r = loadMatrices(parameters, grids, maxBitsPerDiff);
    if (grids.empty()) {
        return QOR_RES_OK;
    }
    if (r != QOR_RES_OK) {
        return r;
    }
    if (maxBitsPerDiff < MC_LSH_MIN_BITS) {
        maxBitsPerDiff = findBiggestBitsPerDiff(grids);
        QOR_LOG_WARNING(getLoggingName(), "Calculated %s %d. Consider to use this value in configuration file.\n",
                        LSH_CTRL_BITS_DIFF.name.c_str(), maxBitsPerDiff);
    }
    if (maxBitsPerDiff < MC_LSH_MIN_BITS || maxBitsPerDiff > MC_LSH_MAX_BITS) {
        QOR_LOG_ERROR(getLoggingName(), "invalid bits per diff %d selected (min %d, max %d)\n", maxBitsPerDiff,
                      MC_LSH_MIN_BITS, MC_LSH_MAX_BITS);
        return QOR_RES_NOT_SUPPORTED;
    }
    if (getPipelineOwner() == nullptr) {
        QOR_LOG_ERROR(getLoggingName(), "%s", kNoOwner);
        return QOR_RES_NOT_INITIALISED;
    }
    ModuleLSH *lsh = ownerModule();
    if (lsh == nullptr) {
        QOR_LOG_ERROR(getLoggingName(), "ControlLSH can't find ModuleLSH!\n");
        return QOR_RES_NOT_INITIALISED;
    }
    for (auto &g : grids) {
        QOR_UINT32 id = 0;
        if (lsh->addMatrix(g.second.filename, id, g.second.scaledWB, maxBitsPerDiff) != QOR_RES_OK) {
            QOR_LOG_ERROR(getLoggingName(), "Failed to load matrix for T=%d\n", g.first);
            return QOR_RES_FAILED;
        }
        g.second.matrixId = id;
    }
    return QOR_RES_OK;
}

QOR_RESULT ControlLSH::save(ParameterList &parameters, SaveType t) const {
    static const ParameterGroup group = ControlLSH::getGroup();
    parameters.addGroup("ControlLSH", group);
    switch (t) {
    case SAVE_VAL: {
        unsigned i = 0;
        for (const auto &g : grids) {
            parameters.addParameter(LSH_CTRL_TEMPERATURE_S.indexed(i), g.first, true);
            parameters.addParameter(LSH_FILE_S.indexed(i), g.second.filename, true);
            parameters.addParameter(LSH_CTRL_SCALE_WB_S.indexed(i), g.second.scaledWB, true);
            i++;
        }
        parameters.addParameter(LSH_CORRECTIONS, static_cast<int>(grids.size()), true);
        parameters.addParameter(LSH_CTRL_BITS_DIFF, static_cast<int>(maxBitsPerDiff), true);
        break;
    }
    case SAVE_MIN:
    case SAVE_MAX:
    case SAVE_DEF: {
        saveParameter(parameters, t, LSH_CTRL_TEMPERATURE_S.indexed(0), 0u);
        Parameter file(LSH_FILE_S.indexed(0).name, kMatrixFile);
        if (t == SAVE_DEF) {
            file.setInfo("string");
        }
        parameters.addParameter(file, true);
        saveParameter(parameters, t, LSH_CTRL_SCALE_WB_S.indexed(0), 0.0);
        saveParameter(parameters, t, LSH_CORRECTIONS, 0);
        saveParameter(parameters, t, LSH_CTRL_BITS_DIFF, 0);
        break;
    }
    default:
        break;
    }
    return QOR_RES_OK;
}

ParameterGroup ControlLSH::getGroup() {
    ParameterGroup g;
    g.header = "// Lens shading correction parameters";
    g.parameters.insert(LSH_CTRL_BITS_DIFF.name);
    g.parameters.insert(LSH_CORRECTIONS.name);
    for (unsigned i = 0; i < static_cast<unsigned>(MAX_CORRECTIONS); i++) {
        g.parameters.insert(LSH_CTRL_TEMPERATURE_S.indexed(i).name);
        g.parameters.insert(LSH_FILE_S.indexed(i).name);
        g.parameters.insert(LSH_CTRL_SCALE_WB_S.indexed(i).name);
    }
    return g;
}

void ControlLSH::readTemperatureFromAWB() {
    if (pCtrlAWB == nullptr) {
        return;
    }
    const double t = pCtrlAWB->getMeasuredTemperature();
    // truncation toward zero; negative (and not-a-number) readings give 0
    illuminantTemperature = t > 0.0 ? (t < 4294967295.0 ? static_cast<QOR_TEMPERATURE_TYPE>(t) : 4294967295u) : 0u;
}

QOR_INT32 ControlLSH::chooseMatrix(QOR_TEMPERATURE_TYPE temp, InterpolationAlgorithm algo) const {
    if (grids.empty()) {
        QOR_LOG_ERROR(getLoggingName(), "Cannot choose matrix: no grids were loaded\n");
        return -QOR_RES_IN_PROGRESS;
    }
    if (grids.size() == 1) {
        return static_cast<QOR_INT32>(grids.begin()->second.matrixId);
    }
    if (algo == EXPONENTIAL) {
        QOR_LOG_ERROR(getLoggingName(), "Exponential not implemented\n");
        return -QOR_RES_INVALID_PARAM;
    }
    if (algo != LINEAR) {
        QOR_LOG_ERROR(getLoggingName(), "Invalid algorithm\n");
        return -QOR_RES_INVALID_PARAM;
    }
    GridTable::const_iterator choice = grids.begin();
    for (GridTable::const_iterator lo = grids.begin(), hi = std::next(lo); hi != grids.end(); ++lo, ++hi) {
        const QOR_TEMPERATURE_TYPE m = lo->first + (hi->first - lo->first) / 2;
        if (temp > m) {
            choice = hi;
        } else {
            break;
        }
    }
    return static_cast<QOR_INT32>(choice->second.matrixId);
}

QOR_RESULT ControlLSH::update(const Metadata &) {
    if (isEnabled()) {
        readTemperatureFromAWB();
        const QOR_INT32 c = chooseMatrix(illuminantTemperature, algorithm);
        if (c < 1) {
            // Warned once per run of failed choices, not on every frame: a grid that failed to load would otherwise
            // add a log line per frame for as long as the stream runs.
            if (!choiceFailed) {
                QOR_LOG_WARNING(getLoggingName(), "failed to choose matrix!\n");
            }
            choiceFailed = true;
            return QOR_RES_OK;
        }
        choiceFailed = false;
        if (static_cast<QOR_UINT32>(c) != chosenMatrixId || switchPending) {
            // a switch the module refused is tried again on the next frame
            chosenMatrixId = static_cast<QOR_UINT32>(c);
            programCorrection();
        }
    } else if (chosenMatrixId != 0) {
        chosenMatrixId = 0;
        programCorrection();
    }
    return QOR_RES_OK;
}

QOR_RESULT ControlLSH::programCorrection() {
    ModuleLSH *lsh = ownerModule();
    if (lsh == nullptr) {
        QOR_LOG_ERROR(getLoggingName(), "Could not find LSH module in pipeline\n");
        return QOR_RES_NOT_SUPPORTED;
    }
    switchPending = false;
    if (lsh->getCurrentMatrixId() == chosenMatrixId) {
        return QOR_RES_OK;
    }
    if (lsh->configureMatrix(chosenMatrixId) != QOR_RES_OK) {
        QOR_LOG_WARNING(getLoggingName(), "Cannot use LSH matrix %d\n", chosenMatrixId);
        switchPending = true;
    }
    return QOR_RES_OK;
}

QOR_INT32 ControlLSH::configureDefaultMatrix() {
    ModuleLSH *lsh = ownerModule();
    if (lsh == nullptr) {
        QOR_LOG_ERROR(getLoggingName(), "Could not find LSH module in pipeline\n");
        return -1;
    }
    if (lsh->hasGrid()) {
        return 0;
    }
    if (grids.empty()) {
        QOR_LOG_ERROR(getLoggingName(), "cannot set default matrix without loading matrices first\n");
        return -1;
    }
    const QOR_UINT32 id = grids.begin()->second.matrixId;
    if (lsh->configureMatrix(id) != QOR_RES_OK) {
        QOR_LOG_ERROR(getLoggingName(), "failed to set default matrix to %d", id);
        return -1;
    }
    chosenMatrixId = id;
    return static_cast<QOR_INT32>(id);
}

QOR_RESULT ControlLSH::addMatrix(QOR_TEMPERATURE_TYPE temp, const LSH_GRID &sGrid, QOR_UINT32 &matrixId, double wbScale,
                                 QOR_UINT8 ui8BitsPerDiff) {
    GridInfo info(std::string(), wbScale);
    if (getPipelineOwner() == nullptr) {
        QOR_LOG_ERROR(getLoggingName(), "%s", kNoOwner);
        return QOR_RES_NOT_INITIALISED;
    }
    if (grids.count(temp) != 0) {
        QOR_LOG_ERROR(getLoggingName(), "Temperature %d is already registered\n", temp);
        return QOR_RES_NOT_SUPPORTED;
    }
    ModuleLSH *lsh = ownerModule();
    if (lsh == nullptr) {
        QOR_LOG_ERROR(getLoggingName(), "Could not find LSH module in pipeline\n");
        return QOR_RES_NOT_INITIALISED;
    }
    QOR_UINT32 id = 0;
    if (lsh->addMatrix(sGrid, id, wbScale, ui8BitsPerDiff) != QOR_RES_OK) {
        QOR_LOG_ERROR(getLoggingName(), "failed to add matrix to Module LSH\n");
        return QOR_RES_FAILED;
    }
    info.matrixId = id;
    if (addMatrixInfo(temp, info) != QOR_RES_OK) {
        QOR_LOG_ERROR(getLoggingName(), "failed to add matrix information to Control LSH\n");
        if (lsh->removeMatrix(id) != QOR_RES_OK) {
            QOR_LOG_ERROR(getLoggingName(), "failed to remove matrix %d previously added\n", id);
        }
        matrixId = 0;
        return QOR_RES_NOT_DEFINED;
    }
    matrixId = id;
    return QOR_RES_OK;
}

QOR_RESULT ControlLSH::addMatrix(QOR_TEMPERATURE_TYPE temp, const std::string &filename, QOR_UINT32 &matrixId,
                                 double wbScale, QOR_UINT8 ui8BitsPerDiff) {
    LSH_GRID grid;
    if (loadGridFile(grid, filename, getLoggingName(), __func__) != QOR_RES_OK) {
        return QOR_RES_FAILED;
    }
    const QOR_RESULT r = addMatrix(temp, grid, matrixId, wbScale, ui8BitsPerDiff);
    if (r != QOR_RES_OK && r != QOR_RES_NOT_DEFINED) {
        LSH_Free(&grid);
    }
    return r;
}

QOR_RESULT ControlLSH::addMatrixInfo(QOR_TEMPERATURE_TYPE temp, const GridInfo &info) {
    if (grids.count(temp) != 0) {
        QOR_LOG_ERROR(getLoggingName(), "temperature %d already present\n", temp);
        return QOR_RES_ALREADY;
    }
    if (getPipelineOwner() == nullptr) {
        QOR_LOG_ERROR(getLoggingName(), "%s", kNoOwner);
        return QOR_RES_NOT_INITIALISED;
    }
    ModuleLSH *lsh = ownerModule();
    if (lsh == nullptr || lsh->getGrid(info.matrixId) == nullptr) {
        QOR_LOG_ERROR(getLoggingName(), "cannot find matrix %d in LSH module\n", info.matrixId);
        return QOR_RES_INVALID_PARAM;
    }
    grids[temp] = info;
    return QOR_RES_OK;
}

ControlLSH::GridTable::iterator ControlLSH::findMatrix(QOR_UINT32 matrixId) {
    for (GridTable::iterator it = grids.begin(); it != grids.end(); ++it) {
        if (it->second.matrixId == matrixId)
            return it;
    }
    return grids.end();
}

QOR_RESULT ControlLSH::removeMatrix(QOR_UINT32 matrixId) {
    if (getPipelineOwner() == nullptr) {
        QOR_LOG_ERROR(getLoggingName(), "%s", kNoOwner);
        return QOR_RES_NOT_INITIALISED;
    }
    ModuleLSH *lsh = ownerModule();
    if (lsh == nullptr || lsh->getGrid(matrixId) == nullptr) {
        QOR_LOG_ERROR(getLoggingName(), "cannot find matrix %d in LSH module\n", matrixId);
        return QOR_RES_INVALID_PARAM;
    }
    GridTable::iterator it = findMatrix(matrixId);
    if (it == grids.end()) {
        QOR_LOG_ERROR(getLoggingName(), "cannot find matrix %d in LSH control\n", matrixId);
        return QOR_RES_INVALID_PARAM;
    }
    const QOR_RESULT r = lsh->removeMatrix(matrixId);
    if (r != QOR_RES_OK) {
        QOR_LOG_ERROR(getLoggingName(), "failed to remove matrix %d from Module LSH\n", matrixId);
        return r;
    }
    grids.erase(it);
    if (chosenMatrixId == matrixId) {
        chosenMatrixId = 0;
    }
    return QOR_RES_OK;
}

QOR_TEMPERATURE_TYPE ControlLSH::getTemperature(QOR_UINT32 id) const {
    for (const auto &g : grids) {
        if (g.second.matrixId == id)
            return g.first;
    }
    QOR_LOG_ERROR(getLoggingName(), "Don't have corresponding temperature for matrix %d\n", id);
    return 0;
}

QOR_TEMPERATURE_TYPE ControlLSH::getChosenTemperature() const {
    return chosenMatrixId != 0 ? getTemperature(chosenMatrixId) : 0;
}

QOR_UINT32 ControlLSH::getMatrixId(QOR_TEMPERATURE_TYPE temp) const {
    GridTable::const_iterator it = grids.find(temp);
    return it != grids.end() ? it->second.matrixId : 0;
}

double ControlLSH::getScaleWB(QOR_TEMPERATURE_TYPE temp) const {
    GridTable::const_iterator it = grids.find(temp);
    return it != grids.end() ? it->second.scaledWB : 0.0;
}

void ControlLSH::getMatrixIds(std::vector<unsigned> &ids) const {
    ids.clear();
    for (const auto &g : grids) {
        ids.push_back(g.second.matrixId);
    }
}

std::ostream &ControlLSH::printState(std::ostream &os) const {
    os << "  " << getLoggingName() << ":" << std::endl;
    os << "    config:" << std::endl;
    os << "      enabled = " << (enabled ? 1 : 0) << std::endl;
    if (pCtrlAWB != nullptr) {
        os << "      pCtrlAWB = " << pCtrlAWB->getLoggingName() << std::endl;
    } else {
        os << "      pCtrlAWB = null" << std::endl;
    }
    os << "    state:" << std::endl;
    os << "      illuminantTemperature = " << illuminantTemperature << std::endl;
    os << "      chosenMatrixId = " << chosenMatrixId << std::endl;
    os << "      getTemperature = " << getTemperature(chosenMatrixId) << std::endl;
    return os;
}

} // namespace ISPC
