// The main job for now: connects to the ISP driver through the system-call seam, prints the hardware
// description and closes the connection.
#include <cstdio>

#include "ci/ci_api.h"

namespace {

void printHardware(const CI_HWINFO &hw) {
    static const struct {
        unsigned bit;
        const char *name;
    } kFeatures[] = {{CI_INFO_SUPPORTED_TILING, "TILING"},         {CI_INFO_SUPPORTED_HDR_EXT, "HDR_EXT"},
                     {CI_INFO_SUPPORTED_HDR_INS, "HDR_INS"},       {CI_INFO_SUPPORTED_RAW2D_EXT, "RAW2D_EXT"},
                     {CI_INFO_SUPPORTED_IIF_DATAGEN, "IIF_DG"},    {CI_INFO_SUPPORTED_IIF_PARTERNGEN, "IIF_DG_PATTERN"}};

    std::printf("HW Information:\n");
    std::printf("  version = %u.%u.%u\n", hw.rev_ui8Major, hw.rev_ui8Minor, hw.rev_ui8Maint);
    std::printf("  config = %03u\n", hw.ui16ConfigId);
    std::printf("  uid = %08u\n", hw.rev_uid);
    std::printf("  parallelism = %u\n", hw.config_ui8Parallelism);
    std::printf("  pixels per clock = %u\n", hw.config_ui8PixPerClock);
    std::printf("  bit depth = %u\n", hw.config_ui8BitDepth);
    std::printf("  contexts = %u\n", hw.config_ui8NContexts);
    std::printf("  gaskets = %u\n", hw.config_ui8NImagers);
    std::printf("  dor idazida = %u\n", hw.config_ui8NIIFDataGenerator);
    std::printf("  max linestore = %u\n", hw.ui32MaxLineStore);
    std::printf("  DPF internal = %u\n", hw.config_ui32DPFInternalSize);
    std::printf("  LSH RAM size = %u bits\n", hw.ui32LSHRamSizeBits);
    std::printf("  features =");
    bool any = false;
    for (const auto &f : kFeatures) {
        if (hw.eFunctionalities & f.bit) {
            std::printf(" %s", f.name);
            any = true;
        }
    }
    std::printf("%s\n", any ? "" : " none");
    std::printf("  ref clock = %u Mhz\n", hw.ui32RefClockMhz);
    for (unsigned c = 0; c < hw.config_ui8NContexts && c < CI_N_CONTEXT; ++c) {
        std::printf("\n  Context %u:\n", c);
        std::printf("    bit depth = %u\n", hw.context_aBitDepth[c]);
        std::printf("    max size (single) = %ux%u\n", hw.context_aMaxWidthSingle[c], hw.context_aMaxHeight[c]);
        std::printf("    max size (multi) = %ux%u\n", hw.context_aMaxWidthMult[c], hw.context_aMaxHeight[c]);
    }
    for (unsigned g = 0; g < hw.config_ui8NImagers && g < CI_N_IMAGERS; ++g) {
        std::printf("\n  Gasket %u:\n", g);
        std::printf("    bit depth = %u\n", hw.gasket_aBitDepth[g]);
        std::printf("    format =%s%s%s\n", hw.gasket_aType[g] == 0 ? " none" : "",
                    (hw.gasket_aType[g] & 1) ? " MIPI" : "", (hw.gasket_aType[g] & 2) ? " PARALLEL" : "");
        if (hw.gasket_aType[g] & 1) std::printf("    MIPI lanes = %u\n", hw.gasket_aImagerPortWidth[g]);
    }
    std::printf("\nMMU version %u.%u.%u\n", hw.mmu_ui8RevMajor, hw.mmu_ui8RevMinor, hw.mmu_ui8RevMaint);
    std::printf("\nSW Information:\n");
    std::printf("  changelist = %u\n", hw.uiChangelist);
    std::printf("  mmucontrol = %u\n", hw.mmu_ui8Enabled);
    std::printf("  tiling scheme = %ux%u\n", hw.uiTiledScheme, hw.uiTiledScheme != 0 ? 4096 / hw.uiTiledScheme : 0);
    std::printf("  mmu page size = %u\n", hw.mmu_ui32PageSize);
    std::printf("\n");
}

} // namespace

int main() {
    CI_CONNECTION *connection = nullptr;
    QOR_RESULT ret = CI_DriverInit(&connection);
    if (ret != QOR_RES_OK) {
        std::fprintf(stderr, "norva_run: cannot connect to the ISP driver (result %d)\n", ret);
        return 1;
    }
    printHardware(connection->sHWInfo);
    ret = CI_DriverFinalise(connection);
    if (ret != QOR_RES_OK) {
        std::fprintf(stderr, "norva_run: closing the connection failed (result %d)\n", ret);
        return 1;
    }
    return 0;
}
