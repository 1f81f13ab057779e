#ifndef ISPC_MODULELSH_H
#define ISPC_MODULELSH_H

#include <list>
#include <string>
#include <vector>

#include "ispc/ParameterDef.h"
#include "ispc/SetupModule.h"
#include "norvacommon/lshgrid.h"
#include "qor_types.h"

namespace ISPC {

/**
 * Lens shading: four gradients per direction written at every set-up, and the shading matrices of the
 * pipeline (grids packed into driver buffers), of which at most one is current. Switching the current
 * matrix asks the white-balance correction module to rescale its gains. Log tag "ISPC_MOD_LSH".
 */
class ModuleLSH : public SetupModuleBase<STP_LSH> {
public:
    /** One loaded matrix; owns the grid's planes. */
    struct lsh_mat {
        lsh_mat();
        ~lsh_mat();
        lsh_mat(const lsh_mat &) = delete;
        lsh_mat &operator=(const lsh_mat &) = delete;

        LSH_GRID sGrid;
        std::string filename;
        QOR_UINT32 matrixId;
        double wbScale;
    };
    typedef std::list<lsh_mat *> MatrixList;

    static const ParamDefArray<double> LSH_GRADIENT_X; /**< "LSH_GRADIENTX", 4 values -4 to 4 */
    static const ParamDefArray<double> LSH_GRADIENT_Y; /**< "LSH_GRADIENTY", 4 values -4 to 4 */
    static const ParamDefSingle<bool> LSH_MATRIX;      /**< "LSH_MATRIX_ENABLE" */

    ModuleLSH();
    /** Drops every listed matrix buffer. */
    ~ModuleLSH() override;
    ModuleLSH(const ModuleLSH &) = delete;
    ModuleLSH &operator=(const ModuleLSH &) = delete;

    QOR_RESULT load(const ParameterList &parameters) override;
    using ModuleBase::save;
    QOR_RESULT save(ParameterList &parameters, SaveType t) const override;
    QOR_RESULT setup() override;
    static ParameterGroup getGroup();

    QOR_RESULT addMatrix(const std::string &filename, QOR_UINT32 &out_matId, double wbScale, QOR_UINT8 ui8BitsPerDiff);
    /** On success the grid's planes belong to the module; on failure they stay the caller's. */
    QOR_RESULT addMatrix(const LSH_GRID &sGrid, QOR_UINT32 &out_matId, double wbScale, QOR_UINT8 ui8BitsPerDiff);
    QOR_RESULT loadMatrix(const LSH_GRID &sGrid, QOR_UINT32 &out_matId, const std::string &filename, double wbScale,
                          QOR_UINT8 bitsPerDif);
    QOR_RESULT updateCIMatrix(const LSH_GRID *pGrid, QOR_UINT8 ui8BitsPerDiff, QOR_UINT32 matId);
    /** Every calibrated grid of the lens-shading control's parameters, in ascending temperature. */
    QOR_RESULT loadMatrices(const ParameterList &parameters, std::vector<unsigned> &matrixIdList);
    /** The current matrix is first switched off in the hardware (the driver refuses to drop one in use). */
    QOR_RESULT removeMatrix(QOR_UINT32 matrixId);
    /** Makes matrixId (0: none) current and requests the white-balance correction's update. */
    QOR_RESULT configureMatrix(QOR_UINT32 matrixId);
    QOR_RESULT updateGrid(QOR_UINT32 matrixId, QOR_UINT8 ui8BitsPerDiff);
    QOR_RESULT saveMatrix(QOR_UINT32 matrixId, const std::string &filename) const;

    LSH_GRID *getGrid(QOR_UINT32 matrixId);
    std::string getFilename(QOR_UINT32 matrixId) const;
    QOR_UINT32 getMatrixId(unsigned m) const;
    QOR_UINT32 countGrid() const { return static_cast<QOR_UINT32>(list_grid.size()); }
    bool hasGrid() const { return currentMatId != 0; }
    QOR_UINT32 getCurrentMatrixId() const { return currentMatId; }
    /** wbScale of the current matrix; 1.0 when none is current. */
    double getCurrentScaleWB() const;
    MatrixList::iterator findMatrix(QOR_UINT32 matrixId);
    MatrixList::const_iterator findMatrix(QOR_UINT32 matrixId) const;

    bool bEnableMatrix;
    double aGradientX[4];
    double aGradientY[4];

protected:
    QOR_UINT32 currentMatId;
    MatrixList list_grid;
};

} // namespace ISPC

#endif /* ISPC_MODULELSH_H */
