/* libFuzzer harness over the lens-shading grid reader: the input is served as a grid file. A grid that loads has
 * the sizes it announced within the reader's limits and all four planes; written back and read again it gives the
 * same sizes and the same bits, and its text dump can be written. */
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "fuzz_file.h"
#include "norvacommon/lshgrid.h"

namespace {

void check(bool condition) {
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::string &path = fuzzfile::InputPath("lshgrid_fuzz_input");
    if (!fuzzfile::Serve(path, data, size))
        return 0;
    LSH_GRID grid = {};
    const QOR_RESULT ret = LSH_Load_bin(&grid, path.c_str());
    if (ret != QOR_RES_OK) {
        check(grid.apMatrix[0] == nullptr && grid.apMatrix[3] == nullptr);
        return 0;
    }
    const size_t n = size_t(grid.ui16Width) * grid.ui16Height;
    check(grid.ui16Width >= 1 && grid.ui16Width <= LSH_MAX_GRID_SIZE);
    check(grid.ui16Height >= 1 && grid.ui16Height <= LSH_MAX_GRID_SIZE);
    check(grid.ui16TileSize != 0 && (grid.ui16TileSize & (grid.ui16TileSize - 1)) == 0);
    check(size >= 20 + 4 * n * sizeof(LSH_FLOAT));
    for (int c = 0; c < 4; c++)
        check(grid.apMatrix[c] != nullptr);

    const std::string &out = fuzzfile::OutputPath();
    check(LSH_Save_bin(&grid, out.c_str()) == QOR_RES_OK);
    LSH_GRID back = {};
    check(LSH_Load_bin(&back, out.c_str()) == QOR_RES_OK);
    check(back.ui16Width == grid.ui16Width && back.ui16Height == grid.ui16Height &&
          back.ui16TileSize == grid.ui16TileSize);
    for (int c = 0; c < 4; c++)
        check(std::memcmp(back.apMatrix[c], grid.apMatrix[c], n * sizeof(LSH_FLOAT)) == 0);
    check(LSH_Save_txt(&grid, out.c_str()) == QOR_RES_OK);
    LSH_Free(&back);
    LSH_Free(&grid);
    return 0;
}
