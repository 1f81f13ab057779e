#ifndef ISPC_MODULES_LSH_GRID_FILE_H
#define ISPC_MODULES_LSH_GRID_FILE_H

/* Reading a lens-shading grid file, shared by the lens-shading module and control. Not public. */

#include <cstring>
#include <string>

#include "norvacommon/lshgrid.h"
#include "norvacommon/userlog.h"

namespace ISPC {

/**
 * Reads the binary grid file into grid. On failure warns under tag as the caller's function (called with
 * __func__), frees what was read and returns QOR_RES_FAILED; the grid is then empty.
 */
inline QOR_RESULT loadGridFile(LSH_GRID &grid, const std::string &filename, const char *tag, const char *function) {
    std::memset(&grid, 0, sizeof(grid));
    if (LSH_Load_bin(&grid, filename.c_str()) == QOR_RES_OK) {
        return QOR_RES_OK;
    }
    LOG_Warning(function, __LINE__, tag, "Failed to load the LSH matrix %s - no matrix will be loaded\n",
                filename.c_str());
    LSH_Free(&grid);
    return QOR_RES_FAILED;
}

} // namespace ISPC

#endif
