#include "LshGridFile.h"
#include "ispc/ModuleLSH.h"

#include <cstring>
#include <map>

#include "ci/ci_pipeline.h"
#include "ispc/ControlLSH.h"
#include "ispc/Pipeline.h"
#include "mc/mc_lsh.h"
#include "norvacommon/userlog.h"

namespace ISPC {

namespace {
const double kGradientDef[4] = {0, 0, 0, 0};

void saveGradient(ParameterList &list, ModuleBase::SaveType t, const ParamDefArray<double> &def, const double *v) {
    std::vector<std::string> values;
    if (t == ModuleBase::SAVE_VAL) {
        for (int i = 0; i < 4; i++)
            values.push_back(toString(v[i]));
    }
    saveParameter(list, t, def, values);
}
} // namespace

const ParamDefArray<double> ModuleLSH::LSH_GRADIENT_X("LSH_GRADIENTX", -4.0, 4.0, kGradientDef, 4);
const ParamDefArray<double> ModuleLSH::LSH_GRADIENT_Y("LSH_GRADIENTY", -4.0, 4.0, kGradientDef, 4);
const ParamDefSingle<bool> ModuleLSH::LSH_MATRIX("LSH_MATRIX_ENABLE", false);

ModuleLSH::lsh_mat::lsh_mat() : filename(), matrixId(0), wbScale(1.0) { std::memset(&sGrid, 0, sizeof(sGrid)); }

ModuleLSH::lsh_mat::~lsh_mat() { LSH_Free(&sGrid); }

ModuleLSH::ModuleLSH()
    : SetupModuleBase<STP_LSH>("ISPC_MOD_LSH"), bEnableMatrix(false), aGradientX{0, 0, 0, 0}, aGradientY{0, 0, 0, 0},
      currentMatId(0) {
    ModuleLSH::load(ParameterList());
}

ModuleLSH::~ModuleLSH() {
    CI_PIPELINE *ci = pipeline != nullptr ? pipeline->getCIPipeline() : nullptr;
    for (lsh_mat *m : list_grid) {
        if (ci != nullptr) {
            // the matrix in use is switched off first: the driver keeps a matrix it applies
            if (m->matrixId == currentMatId && CI_PipelineUpdateLSHMatrix(ci, 0) == QOR_RES_OK) {
                currentMatId = 0;
            }
            if (CI_PipelineDeregisterLSHMatrix(ci, m->matrixId) != QOR_RES_OK) {
                QOR_LOG_WARNING(getLoggingName(), "failed to free matrixId %d\n", m->matrixId);
            }
        }
        delete m;
    }
    list_grid.clear();
}

QOR_RESULT ModuleLSH::load(const ParameterList &parameters) {
    bEnableMatrix = parameters.getParameter(LSH_MATRIX);
    for (unsigned i = 0; i < 4; i++) {
        aGradientX[i] = parameters.getParameter(LSH_GRADIENT_X, i);
        aGradientY[i] = parameters.getParameter(LSH_GRADIENT_Y, i);
    }
    if (parameters.exists("LSH_MATRIX_FILE")) {
        QOR_LOG_WARNING(getLoggingName(), "Deprecated %s parameter found - use %s_X\n", "LSH_MATRIX_FILE",
                        "LSH_CTRL_FILE");
    }
    return QOR_RES_OK;
}

QOR_RESULT ModuleLSH::save(ParameterList &parameters, SaveType t) const {
    static const ParameterGroup group = ModuleLSH::getGroup();
    parameters.addGroup("ModuleLSH", group);
    saveParameter(parameters, t, LSH_MATRIX, bEnableMatrix);
    saveGradient(parameters, t, LSH_GRADIENT_X, aGradientX);
    saveGradient(parameters, t, LSH_GRADIENT_Y, aGradientY);
    if (t == SAVE_VAL && currentMatId != 0) {
        MatrixList::const_iterator it = findMatrix(currentMatId);
        if (it != list_grid.end() && !(*it)->filename.empty()) {
            parameters.addParameter(Parameter("LSH_CTRL_FILE", (*it)->filename), true);
        }
    }
    return QOR_RES_OK;
}

ParameterGroup ModuleLSH::getGroup() {
    ParameterGroup g;
    g.header = "// Lens Shading parameters";
    g.parameters.insert(LSH_GRADIENT_X.name);
    g.parameters.insert(LSH_GRADIENT_Y.name);
    g.parameters.insert(LSH_MATRIX.name);
    return g;
}

QOR_RESULT ModuleLSH::setup() {
    LOG_Perf_In(getLoggingName(), __FILE__, __func__, __LINE__);
    if (pipeline == nullptr) {
        QOR_LOG_ERROR(getLoggingName(), "pipeline not set!\n");
        return QOR_RES_UNAVAILABLE;
    }
    MC_PIPELINE *mc = pipeline->getMCPipeline();
    if (mc == nullptr) {
        QOR_LOG_ERROR(getLoggingName(), "pMCPipeline not set!\n");
        return QOR_RES_UNAVAILABLE;
    }
    for (int c = 0; c < 4; c++) {
        mc->sLSH.aGradients[c][0] = aGradientX[c];
        mc->sLSH.aGradients[c][1] = aGradientY[c];
    }
    mc->sLSH.updateNeeded = true;
    setupFlag = true;
    LOG_Perf_Out(getLoggingName(), __FILE__, __func__, __LINE__);
    return QOR_RES_OK;
}

QOR_RESULT ModuleLSH::addMatrix(const std::string &filename, QOR_UINT32 &out_matId, double wbScale,
                                QOR_UINT8 ui8BitsPerDiff) {
    LSH_GRID grid;
    if (loadGridFile(grid, filename, getLoggingName(), __func__) != QOR_RES_OK) {
        return QOR_RES_FAILED;
    }
    const QOR_RESULT r = loadMatrix(grid, out_matId, filename, wbScale, ui8BitsPerDiff);
    if (r != QOR_RES_OK) {
        LSH_Free(&grid);
    }
    return r;
}

QOR_RESULT ModuleLSH::addMatrix(const LSH_GRID &sGrid, QOR_UINT32 &out_matId, double wbScale,
                                QOR_UINT8 ui8BitsPerDiff) {
    return loadMatrix(sGrid, out_matId, std::string(), wbScale, ui8BitsPerDiff);
}

QOR_RESULT ModuleLSH::loadMatrix(const LSH_GRID &sGrid, QOR_UINT32 &out_matId, const std::string &filename,
                                 double wbScale, QOR_UINT8 bitsPerDif) {
    CI_PIPELINE *ci = pipeline != nullptr ? pipeline->getCIPipeline() : nullptr;
    if (ci == nullptr) {
        QOR_LOG_ERROR(getLoggingName(), "Pipeline pointer is NULL\n");
        return QOR_RES_UNAVAILABLE;
    }
    if (bitsPerDif == 0) {
        bitsPerDif = MC_LSHComputeMinBitdiff(&sGrid, nullptr);
    }
    QOR_UINT32 id = 0;
    const QOR_UINT32 size = MC_LSHGetSizes(&sGrid, bitsPerDif, nullptr, nullptr);
    if (size == 0 || CI_PipelineAllocateLSHMatrix(ci, size, &id) != QOR_RES_OK) {
        QOR_LOG_ERROR(getLoggingName(), "Failed to allocate LSH matrix buffer\n");
        return QOR_RES_FAILED;
    }
    const QOR_RESULT r = updateCIMatrix(&sGrid, bitsPerDif, id);
    if (r != QOR_RES_OK) {
        QOR_LOG_ERROR(getLoggingName(), "Failed to update CI LSH matrix\n");
        CI_PipelineDeregisterLSHMatrix(ci, id);
        return r;
    }
    lsh_mat *m = new lsh_mat();
    m->sGrid = sGrid;
    m->filename = filename;
    m->matrixId = id;
    m->wbScale = wbScale;
    list_grid.push_back(m);
    out_matId = id;
    return QOR_RES_OK;
}

QOR_RESULT ModuleLSH::updateCIMatrix(const LSH_GRID *pGrid, QOR_UINT8 ui8BitsPerDiff, QOR_UINT32 matId) {
    CI_PIPELINE *ci = pipeline->getCIPipeline();
    const MC_PIPELINE *mc = pipeline->getMCPipeline();
    CI_LSHMAT mat;
    std::memset(&mat, 0, sizeof(mat));
    if (CI_PipelineAcquireLSHMatrix(ci, matId, &mat) != QOR_RES_OK) {
        QOR_LOG_ERROR(getLoggingName(), "Failed to acquire the LSH matrix %d\n", matId);
        return QOR_RES_FAILED;
    }
    if (MC_LSHConvertGrid(pGrid, ui8BitsPerDiff, &mat) != QOR_RES_OK) {
        QOR_LOG_ERROR(getLoggingName(), "Failed to convert the LSH matrix %d\n", matId);
        return QOR_RES_FAILED;
    }
    if (mc != nullptr) {
        mat.config.ui16SkipX = mc->sIIF.ui16ImagerDecimation[0];
        mat.config.ui16SkipY = mc->sIIF.ui16ImagerDecimation[1];
        // The imager offset is kept in Bayer cells, the unit of the matrix position: no further division.
        mat.config.ui16OffsetX = mc->sIIF.ui16ImagerOffset[0];
        mat.config.ui16OffsetY = mc->sIIF.ui16ImagerOffset[1];
    }
    if (CI_PipelineReleaseLSHMatrix(ci, &mat) != QOR_RES_OK) {
        QOR_LOG_ERROR(getLoggingName(), "Failed to release the LSH matrix %d\n", matId);
        return QOR_RES_FAILED;
    }
    return QOR_RES_OK;
}

QOR_RESULT ModuleLSH::loadMatrices(const ParameterList &parameters, std::vector<unsigned> &matrixIdList) {
    ControlLSH::GridTable grids;
    QOR_UINT8 bits = 0;
    const QOR_RESULT r = ControlLSH::loadMatrices(parameters, grids, bits);
    if (grids.empty()) {
        return QOR_RES_NOT_DEFINED;
    }
    if (r != QOR_RES_OK) {
        QOR_LOG_ERROR(getLoggingName(), "failed to load matrices\n");
        return QOR_RES_FAILED;
    }
    if (bits < MC_LSH_MIN_BITS) {
        bits = ControlLSH::findBiggestBitsPerDiff(grids);
        QOR_LOG_WARNING(getLoggingName(), "Calculated %s %d. Consider to use this value in configuration file.\n",
                        ControlLSH::LSH_CTRL_BITS_DIFF.name.c_str(), bits);
    }
    if (bits < MC_LSH_MIN_BITS || bits > MC_LSH_MAX_BITS) {
        QOR_LOG_ERROR(getLoggingName(), "invalid bits per diff %d selected (min %d, max %d)\n", bits, MC_LSH_MIN_BITS,
                      MC_LSH_MAX_BITS);
        return QOR_RES_NOT_SUPPORTED;
    }
    int position = 0;
    for (const auto &g : grids) {
        QOR_UINT32 id = 0;
        if (addMatrix(g.second.filename, id, g.second.scaledWB, bits) != QOR_RES_OK) {
            QOR_LOG_WARNING(getLoggingName(), "failed to load matrix %d from file %s\n", position,
                            g.second.filename.c_str());
            return QOR_RES_FAILED;
        }
        matrixIdList.push_back(id);
        position++;
    }
    return QOR_RES_OK;
}

QOR_RESULT ModuleLSH::removeMatrix(QOR_UINT32 matrixId) {
    MatrixList::iterator it = findMatrix(matrixId);
    if (it == list_grid.end()) {
        return QOR_RES_INVALID_PARAM;
    }
    CI_PIPELINE *ci = pipeline != nullptr ? pipeline->getCIPipeline() : nullptr;
    if (ci != nullptr) {
        // The hardware stops using the matrix before its buffer goes: the driver refuses to drop a matrix in use.
        if (matrixId == currentMatId && configureMatrix(0) != QOR_RES_OK) {
            QOR_LOG_ERROR(getLoggingName(), "Failed to deregister CI LSH matrix %d\n", matrixId);
            return QOR_RES_FAILED;
        }
        if (CI_PipelineDeregisterLSHMatrix(ci, matrixId) != QOR_RES_OK) {
            QOR_LOG_ERROR(getLoggingName(), "Failed to deregister CI LSH matrix %d\n", matrixId);
            return QOR_RES_FAILED;
        }
    }
    if (matrixId == currentMatId) {
        currentMatId = 0;
    }
    delete *it;
    list_grid.erase(it);
    if (ci == nullptr) {
        QOR_LOG_ERROR(getLoggingName(), "Pipeline pointer is NULL\n");
        return QOR_RES_UNAVAILABLE;
    }
    return QOR_RES_OK;
}

QOR_RESULT ModuleLSH::configureMatrix(QOR_UINT32 matrixId) {
    if (matrixId != 0 && findMatrix(matrixId) == list_grid.end()) {
        QOR_LOG_ERROR(getLoggingName(), "matrix %d not found\n", matrixId);
        return QOR_RES_INVALID_PARAM;
    }
    CI_PIPELINE *ci = pipeline != nullptr ? pipeline->getCIPipeline() : nullptr;
    if (ci == nullptr) {
        QOR_LOG_ERROR(getLoggingName(), "Pipeline pointer is NULL\n");
        return QOR_RES_UNAVAILABLE;
    }
    SetupModule *wbc = pipeline->getModule(STP_WBC);
    if (CI_PipelineUpdateLSHMatrix(ci, matrixId) != QOR_RES_OK) {
        QOR_LOG_ERROR(getLoggingName(), "Failed to change config to use LSH matrix %d\n", matrixId);
        return QOR_RES_FAILED;
    }
    if (wbc != nullptr) {
        wbc->requestUpdate();
    }
    currentMatId = matrixId;
    return QOR_RES_OK;
}

QOR_RESULT ModuleLSH::updateGrid(QOR_UINT32 matrixId, QOR_UINT8 ui8BitsPerDiff) {
    MatrixList::iterator it = findMatrix(matrixId);
    if (it == list_grid.end()) {
        return QOR_RES_INVALID_PARAM;
    }
    if (pipeline == nullptr || pipeline->getCIPipeline() == nullptr) {
        QOR_LOG_ERROR(getLoggingName(), "Pipeline pointer is NULL\n");
        return QOR_RES_UNAVAILABLE;
    }
    const QOR_RESULT r = updateCIMatrix(&(*it)->sGrid, ui8BitsPerDiff, matrixId);
    if (r != QOR_RES_OK) {
        QOR_LOG_ERROR(getLoggingName(), "Failed to update CI LSH matrix\n");
        return r;
    }
    return QOR_RES_OK;
}

QOR_RESULT ModuleLSH::saveMatrix(QOR_UINT32 matrixId, const std::string &filename) const {
    MatrixList::const_iterator it = findMatrix(matrixId);
    if (it == list_grid.end()) {
        return QOR_RES_INVALID_PARAM;
    }
    LOG_Perf_In(getLoggingName(), __FILE__, __func__, __LINE__);
    const QOR_RESULT r = LSH_Save_bin(&(*it)->sGrid, filename.c_str());
    LOG_Perf_Out(getLoggingName(), __FILE__, __func__, __LINE__);
    return r;
}

LSH_GRID *ModuleLSH::getGrid(QOR_UINT32 matrixId) {
    MatrixList::iterator it = findMatrix(matrixId);
    return it != list_grid.end() ? &(*it)->sGrid : nullptr;
}

std::string ModuleLSH::getFilename(QOR_UINT32 matrixId) const {
    MatrixList::const_iterator it = findMatrix(matrixId);
    return it != list_grid.end() ? (*it)->filename : std::string();
}

QOR_UINT32 ModuleLSH::getMatrixId(unsigned m) const {
    if (m >= list_grid.size()) {
        return 0;
    }
    MatrixList::const_iterator it = list_grid.begin();
    std::advance(it, m);
    return (*it)->matrixId;
}

double ModuleLSH::getCurrentScaleWB() const {
    if (currentMatId == 0) {
        return 1.0;
    }
    MatrixList::const_iterator it = findMatrix(currentMatId);
    return it != list_grid.end() ? (*it)->wbScale : 1.0;
}

ModuleLSH::MatrixList::iterator ModuleLSH::findMatrix(QOR_UINT32 matrixId) {
    for (MatrixList::iterator it = list_grid.begin(); it != list_grid.end(); ++it) {
        if ((*it)->matrixId == matrixId)
            return it;
    }
    return list_grid.end();
}

ModuleLSH::MatrixList::const_iterator ModuleLSH::findMatrix(QOR_UINT32 matrixId) const {
    for (MatrixList::const_iterator it = list_grid.begin(); it != list_grid.end(); ++it) {
        if ((*it)->matrixId == matrixId)
            return it;
    }
    return list_grid.end();
}

} // namespace ISPC
