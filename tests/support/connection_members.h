#ifndef NORVA_TEST_CONNECTION_MEMBERS_H
#define NORVA_TEST_CONNECTION_MEMBERS_H

// A connection record compared member by member (its hardware description has padding).

#include <string>

#include "ci/ci_api_structs.h"
#include "support/same_members.h"

namespace norva_test {

/** The members of a connection record that differ (hardware description, line store, gamma table). */
inline std::string DifferentMembers(const CI_CONNECTION &a, const CI_CONNECTION &b) {
    std::string different = DifferentMembers(a.sHWInfo, b.sHWInfo,
                                             {NORVA_MEMBER(CI_HWINFO, ui8GroupId),
                                              NORVA_MEMBER(CI_HWINFO, ui8AllocationId),
                                              NORVA_MEMBER(CI_HWINFO, ui16ConfigId),
                                              NORVA_MEMBER(CI_HWINFO, rev_ui8Designer),
                                              NORVA_MEMBER(CI_HWINFO, rev_ui8Major),
                                              NORVA_MEMBER(CI_HWINFO, rev_ui8Minor),
                                              NORVA_MEMBER(CI_HWINFO, rev_ui8Maint),
                                              NORVA_MEMBER(CI_HWINFO, rev_uid),
                                              NORVA_MEMBER(CI_HWINFO, config_ui8PixPerClock),
                                              NORVA_MEMBER(CI_HWINFO, config_ui8Parallelism),
                                              NORVA_MEMBER(CI_HWINFO, config_ui8BitDepth),
                                              NORVA_MEMBER(CI_HWINFO, config_ui8NContexts),
                                              NORVA_MEMBER(CI_HWINFO, config_ui8NImagers),
                                              NORVA_MEMBER(CI_HWINFO, config_ui8NIIFDataGenerator),
                                              NORVA_MEMBER(CI_HWINFO, config_ui16MemLatency),
                                              NORVA_MEMBER(CI_HWINFO, config_ui32DPFInternalSize),
                                              NORVA_MEMBER(CI_HWINFO, config_ui8NRTMRegisters),
                                              NORVA_MEMBER(CI_HWINFO, scaler_ui8EncHLumaTaps),
                                              NORVA_MEMBER(CI_HWINFO, scaler_ui8EncVLumaTaps),
                                              NORVA_MEMBER(CI_HWINFO, scaler_ui8EncVChromaTaps),
                                              NORVA_MEMBER(CI_HWINFO, scaler_ui8DispHLumaTaps),
                                              NORVA_MEMBER(CI_HWINFO, scaler_ui8DispVLumaTaps),
                                              NORVA_MEMBER(CI_HWINFO, gasket_aImagerPortWidth),
                                              NORVA_MEMBER(CI_HWINFO, gasket_aType),
                                              NORVA_MEMBER(CI_HWINFO, gasket_aMaxWidth),
                                              NORVA_MEMBER(CI_HWINFO, gasket_aBitDepth),
                                              NORVA_MEMBER(CI_HWINFO, context_aMaxWidthMult),
                                              NORVA_MEMBER(CI_HWINFO, context_aMaxHeight),
                                              NORVA_MEMBER(CI_HWINFO, context_aMaxWidthSingle),
                                              NORVA_MEMBER(CI_HWINFO, context_aBitDepth),
                                              NORVA_MEMBER(CI_HWINFO, context_aPendingQueue),
                                              NORVA_MEMBER(CI_HWINFO, ui32MaxLineStore),
                                              NORVA_MEMBER(CI_HWINFO, ui32LSHRamSizeBits),
                                              NORVA_MEMBER(CI_HWINFO, eFunctionalities),
                                              NORVA_MEMBER(CI_HWINFO, uiSizeOfPipeline),
                                              NORVA_MEMBER(CI_HWINFO, uiSizeOfLoadStruct),
                                              NORVA_MEMBER(CI_HWINFO, uiChangelist),
                                              NORVA_MEMBER(CI_HWINFO, uiTiledScheme),
                                              NORVA_MEMBER(CI_HWINFO, mmu_ui8Enabled),
                                              NORVA_MEMBER(CI_HWINFO, mmu_ui8RevMajor),
                                              NORVA_MEMBER(CI_HWINFO, mmu_ui8RevMinor),
                                              NORVA_MEMBER(CI_HWINFO, mmu_ui8RevMaint),
                                              NORVA_MEMBER(CI_HWINFO, mmu_ui32PageSize),
                                              NORVA_MEMBER(CI_HWINFO, ui32RefClockMhz)});
    const std::string linestore = DifferentMembers(
        a.sLinestoreStatus, b.sLinestoreStatus,
        {NORVA_MEMBER(CI_LINESTORE, aStart), NORVA_MEMBER(CI_LINESTORE, aSize), NORVA_MEMBER(CI_LINESTORE, aActive)});
    if (!linestore.empty())
        different += (different.empty() ? "" : " ") + linestore;
    if (std::memcmp(&a.sGammaLUT, &b.sGammaLUT, sizeof(a.sGammaLUT)) != 0)
        different += different.empty() ? "sGammaLUT" : " sGammaLUT";
    return different;
}

} // namespace norva_test
#endif
