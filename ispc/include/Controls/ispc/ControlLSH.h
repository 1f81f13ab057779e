#ifndef ISPC_CONTROLLSH_H
#define ISPC_CONTROLLSH_H

#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "ispc/ControlModule.h"
#include "ispc/ParameterDef.h"
#include "norvacommon/lshgrid.h"
#include "qor_types.h"

namespace ISPC {

class ControlAWB;
class ModuleLSH;

typedef QOR_UINT32 QOR_TEMPERATURE_TYPE;

/**
 * Follows the measured colour temperature with the lens-shading matrix: loads the calibrated grids into the
 * owner pipeline's lens-shading module and makes the grid of the nearest calibrated temperature current.
 * Log tag given by the creator ("ISPC_CTRL_LSH").
 */
class ControlLSH : public ControlModuleBase<CTRL_LSH> {
public:
    enum InterpolationAlgorithm { LINEAR = 0, EXPONENTIAL = 1 };

    /** One calibrated correction. */
    struct GridInfo {
        GridInfo() : matrixId(0), scaledWB(1.0) {}
        GridInfo(const std::string &file, double scale) : matrixId(0), filename(file), scaledWB(scale) {}
        /** Correction i of the parameter list (file and scale; identifier 0). */
        GridInfo(const ParameterList &parameters, unsigned i);

        QOR_UINT32 matrixId;
        std::string filename;
        double scaledWB;
    };
    typedef std::map<QOR_TEMPERATURE_TYPE, GridInfo> GridTable;

    static const ParamDef<int> LSH_CORRECTIONS;             /**< "LSH_CTRL_CORRECTIONS", 0 to 200 */
    static const ParamDef<unsigned> LSH_CTRL_TEMPERATURE_S; /**< "LSH_CTRL_TEMPERATURE" + _i */
    static const ParamDefSingle<std::string> LSH_FILE_S;    /**< "LSH_CTRL_FILE" + _i */
    static const ParamDef<double> LSH_CTRL_SCALE_WB_S;      /**< "LSH_CTRL_SCALE_WB" + _i */
    static const ParamDef<int> LSH_CTRL_BITS_DIFF;          /**< "LSH_CTRL_BITS_DIFF", 0 to 10 */
    static const int MAX_CORRECTIONS = 200;

    explicit ControlLSH(const std::string &logtag = "ISPC_CTRL_LSH");
    ~ControlLSH() override = default;

    QOR_RESULT load(const ParameterList &parameters) override;
    using ModuleBase::save;
    QOR_RESULT save(ParameterList &parameters, SaveType t) const override;
    std::ostream &printState(std::ostream &os) const override;
    QOR_RESULT update(const Metadata &metadata) override;
    QOR_RESULT configureStatistics() override { return QOR_RES_OK; }
    bool hasConverged() const override { return false; }
    bool isEnabled() const override { return enabled && pCtrlAWB != nullptr; }
    static ParameterGroup getGroup();

    void registerCtrlAWB(ControlAWB *pAWB) { pCtrlAWB = pAWB; }
    void readTemperatureFromAWB();
    /** The identifier of the nearest calibrated temperature (the lower one at a midpoint), or a negative code. */
    QOR_INT32 chooseMatrix(QOR_TEMPERATURE_TYPE temp, InterpolationAlgorithm algo) const;
    QOR_INT32 configureDefaultMatrix();
    QOR_RESULT addMatrix(QOR_TEMPERATURE_TYPE temp, const LSH_GRID &sGrid, QOR_UINT32 &matrixId, double wbScale,
                         QOR_UINT8 ui8BitsPerDiff);
    QOR_RESULT addMatrix(QOR_TEMPERATURE_TYPE temp, const std::string &filename, QOR_UINT32 &matrixId, double wbScale,
                         QOR_UINT8 ui8BitsPerDiff);
    QOR_RESULT addMatrixInfo(QOR_TEMPERATURE_TYPE temp, const GridInfo &info);
    QOR_RESULT removeMatrix(QOR_UINT32 matrixId);
    GridTable::iterator findMatrix(QOR_UINT32 matrixId);
    QOR_TEMPERATURE_TYPE getTemperature(QOR_UINT32 id) const;
    QOR_TEMPERATURE_TYPE getChosenTemperature() const;
    QOR_UINT32 getMatrixId(QOR_TEMPERATURE_TYPE temp) const;
    double getScaleWB(QOR_TEMPERATURE_TYPE temp) const;
    void getMatrixIds(std::vector<unsigned> &ids) const;
    QOR_UINT32 getLoadedGrids() const { return static_cast<QOR_UINT32>(grids.size()); }
    QOR_UINT32 getChosenMatrixId() const { return chosenMatrixId; }
    InterpolationAlgorithm getAlgorithm() const { return algorithm; }
    QOR_TEMPERATURE_TYPE getIlluminantTemperature() const { return illuminantTemperature; }

    /** Reads the calibration table (shared with the lens-shading module); 20 when the count is not given. */
    static QOR_RESULT loadMatrices(const ParameterList &parameters, GridTable &grids, QOR_UINT8 &maxBitsPerDiff);
    /** The widest difference any readable grid of the table needs; 0 when none loads. */
    static QOR_UINT8 findBiggestBitsPerDiff(const GridTable &grids);

protected:
    QOR_RESULT programCorrection() override;
    /** The owner pipeline's lens-shading module, or null. */
    ModuleLSH *ownerModule() const;

    QOR_TEMPERATURE_TYPE illuminantTemperature;
    GridTable grids;
    InterpolationAlgorithm algorithm;
    QOR_UINT32 chosenMatrixId;
    ControlAWB *pCtrlAWB;
    QOR_UINT8 maxBitsPerDiff;
    /** The choice that the module refused last: tried again on the next update. */
    bool switchPending;
    /** The last update found no valid matrix: warned once, not again until a choice succeeds. */
    bool choiceFailed;
};

} // namespace ISPC

#endif /* ISPC_CONTROLLSH_H */
