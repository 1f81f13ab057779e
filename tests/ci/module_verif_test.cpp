#include <gtest/gtest.h>

#include <cstring>

#include "ci/ci_modules_verif.h"
#include "support/sim_fixture.h"

using norva_test::stderrOf;

namespace {

CI_HWINFO hardware(QOR_UINT32 lineStore = 4096) {
    CI_HWINFO hw;
    memset(&hw, 0, sizeof(hw));
    hw.context_aMaxWidthSingle[0] = 2048;
    hw.ui32MaxLineStore = lineStore;
    hw.config_ui32DPFInternalSize = 100;
    return hw;
}

struct LshCase {
    const char *what;
    QOR_UINT8 bits;
    QOR_UINT8 tileLog2;
    QOR_UINT16 skip;
    QOR_UINT16 gridW, gridH;
    QOR_UINT16 imagerW, imagerH; /* register values (cells - 1) */
    QOR_UINT32 lineStore;
    QOR_RESULT result;
};

TEST(LshVerif, BitsTilesSkipsAndCoverage) {
    const LshCase cases[] = {
        {"4 bits", 4, 6, 0, 9, 7, 575, 447, 4096, QOR_RES_OK},
        {"10 bits", 10, 6, 0, 9, 7, 575, 447, 4096, QOR_RES_OK},
        {"3 bits", 3, 6, 0, 9, 7, 575, 447, 4096, QOR_RES_NOT_SUPPORTED},
        {"11 bits", 11, 6, 0, 9, 7, 575, 447, 4096, QOR_RES_NOT_SUPPORTED},
        {"grid does not cover 576x448 cells", 8, 6, 0, 9, 7, 576, 448, 4096, QOR_RES_NOT_SUPPORTED},
        {"grid short in height only", 8, 6, 0, 9, 7, 575, 448, 4096, QOR_RES_NOT_SUPPORTED},
        {"tile 8 with line store 2000", 8, 3, 0, 80, 60, 575, 447, 2000, QOR_RES_OK},
        {"tile 8 with line store 1999", 8, 3, 0, 80, 60, 575, 447, 1999, QOR_RES_NOT_SUPPORTED},
        {"skip below the tile", 8, 6, 63, 9, 7, 575, 447, 4096, QOR_RES_OK},
        {"skip of a whole tile", 8, 6, 64, 9, 7, 575, 447, 4096, QOR_RES_NOT_SUPPORTED},
    };
    for (const LshCase &c : cases) {
        CI_MODULE_LSH_MAT m;
        memset(&m, 0, sizeof(m));
        m.ui8BitsPerDiff = c.bits;
        m.ui8TileSizeLog2 = c.tileLog2;
        m.ui16SkipX = c.skip;
        m.ui16Width = c.gridW;
        m.ui16Height = c.gridH;
        CI_MODULE_IIF iif;
        memset(&iif, 0, sizeof(iif));
        iif.ui16ImagerSize[0] = c.imagerW;
        iif.ui16ImagerSize[1] = c.imagerH;
        const CI_HWINFO hw = hardware(c.lineStore);
        EXPECT_EQ(CI_ModuleLSH_verif(&m, &iif, &hw), c.result) << c.what;
    }
    EXPECT_EQ(CI_ModuleLSH_verif(nullptr, nullptr, nullptr), QOR_RES_INVALID_PARAM);
}

struct TapCase {
    const char *what;
    int taps;
    int position; /* index of the tap in phase 0 */
    int value;
    QOR_BOOL expected;
};

TEST(ScalerVerifTaps, WidthPerPosition) {
    const TapCase cases[] = {
        {"outer 16", 16, 0, 16, 1},
        {"outer 17", 16, 0, 17, 0},
        {"outer -16", 16, 0, -16, 1},
        {"outer -17", 16, 0, -17, 0},
        {"centre 127", 16, 7, 127, 1},
        {"centre -128", 16, 7, -128, 1},
        {"6-bit 64", 16, 6, 64, 1},
        {"6-bit 65", 16, 6, 65, 0},
        {"6-bit -64", 16, 9, -64, 1},
        {"8 taps start at 4", 8, 0, 32, 1},
        {"8 taps start at 4: 33", 8, 0, 33, 0},
        {"2 taps start at 6", 2, 0, 64, 1},
        {"2 taps start at 6: 65", 2, 0, 65, 0},
        {"2 taps second is 7 bits", 2, 1, 127, 1},
    };
    for (const TapCase &c : cases) {
        QOR_INT8 m[64] = {};
        m[c.position] = static_cast<QOR_INT8>(c.value);
        EXPECT_EQ(scalerVerifTaps(m, c.taps), c.expected) << c.what;
    }
}

TEST(ScalerVerif, RowsRuleAndTaps) {
    CI_MODULE_SCALER sc;
    memset(&sc, 0, sizeof(sc));
    sc.aOutputSize[1] = 720; // 721 rows
    EXPECT_EQ(CI_ModuleScaler_verif(&sc), QOR_RES_NOT_SUPPORTED);
    const std::string err = stderrOf([&] { CI_ModuleScaler_verif(&sc); });
    EXPECT_NE(err.find("output height must be even\n"), std::string::npos) << err;
    sc.bOutput422 = 1;
    EXPECT_EQ(CI_ModuleScaler_verif(&sc), QOR_RES_OK);
    sc.bOutput422 = 0;
    sc.bIsDisplay = 1; // the display scaler takes any row count
    EXPECT_EQ(CI_ModuleScaler_verif(&sc), QOR_RES_OK);
    sc.HLuma[0] = 33; // 8 display taps start at a 5-bit position
    EXPECT_EQ(CI_ModuleScaler_verif(&sc), QOR_RES_FAILED);
    sc.bBypassScaler = 1;
    EXPECT_EQ(CI_ModuleScaler_verif(&sc), QOR_RES_OK);
}

TEST(StatsVerif, FlickerPeriods) {
    struct Case {
        QOR_UINT8 minPN, pn;
        QOR_RESULT result;
    };
    for (const Case c : {Case{8, 4, QOR_RES_FAILED}, Case{4, 8, QOR_RES_OK}, Case{6, 8, QOR_RES_FAILED},
                         Case{4, 6, QOR_RES_FAILED}, Case{4, 4, QOR_RES_OK}}) {
        CI_MODULE_FLD fld;
        memset(&fld, 0, sizeof(fld));
        fld.ui8MinPN = c.minPN;
        fld.ui8PN = c.pn;
        EXPECT_EQ(CI_StatsFLD_verif(&fld), c.result) << int(c.minPN) << "/" << int(c.pn);
    }
}

TEST(BlockVerif, LimitsOfTheOtherChecks) {
    const CI_HWINFO hw = hardware();
    CI_MODULE_IIF iif;
    memset(&iif, 0, sizeof(iif));
    iif.ui16BuffThreshold = 2047;
    EXPECT_EQ(CI_ModuleIIF_verif(&iif, 0, &hw), QOR_RES_OK);
    iif.ui16BuffThreshold = 2048;
    EXPECT_EQ(CI_ModuleIIF_verif(&iif, 0, &hw), QOR_RES_FAILED);

    CI_MODULE_TNM tnm;
    memset(&tnm, 0, sizeof(tnm));
    tnm.localColWidth[0] = 40;
    tnm.localColumns = 31; // 32 columns: the most the 5-bit register holds
    EXPECT_EQ(CI_ModuleTNM_verif(&tnm), QOR_RES_OK);
    tnm.localColumns = 32;
    const std::string err = stderrOf([&] { EXPECT_EQ(CI_ModuleTNM_verif(&tnm), QOR_RES_FAILED); });
    EXPECT_NE(err.find("TNM configured to use 33 columns but has only 32\n"), std::string::npos) << err;
    tnm.localColumns = 0;
    tnm.localColWidth[0] = 16384;
    EXPECT_EQ(CI_ModuleTNM_verif(&tnm), QOR_RES_FAILED);
    tnm.bBypassTNM = 1;
    EXPECT_EQ(CI_ModuleTNM_verif(&tnm), QOR_RES_OK);

    CI_MODULE_DPF dpf;
    memset(&dpf, 0, sizeof(dpf));
    dpf.eDPFEnable = CI_DPF_DETECT_ENABLED | CI_DPF_WRITE_MAP_ENABLED;
    EXPECT_EQ(CI_ModuleDPF_verif(&dpf, &hw), QOR_RES_OK);
    dpf.sInput.ui32NDefect = 1;
    EXPECT_EQ(CI_ModuleDPF_verif(&dpf, &hw), QOR_RES_INVALID_PARAM);
    QOR_UINT16 defects[2] = {1, 1};
    dpf.sInput.apDefectInput = defects;
    dpf.sInput.ui16InternalBufSize = 101;
    EXPECT_EQ(CI_ModuleDPF_verif(&dpf, &hw), QOR_RES_NOT_SUPPORTED);

    CI_MODULE_EXS exs;
    memset(&exs, 0, sizeof(exs));
    exs.ui16Width = 7;
    exs.ui16Height = 7;
    EXPECT_EQ(CI_StatsEXS_verif(&exs), QOR_RES_OK);
    exs.ui16Height = 6;
    EXPECT_EQ(CI_StatsEXS_verif(&exs), QOR_RES_FAILED);

    CI_MODULE_HIS his;
    memset(&his, 0, sizeof(his));
    his.ui16Width = 10;
    his.ui16Height = 8;
    EXPECT_EQ(CI_StatsHIS_verif(&his), QOR_RES_OK);
    his.ui16Height = 7;
    EXPECT_EQ(CI_StatsHIS_verif(&his), QOR_RES_FAILED);

    CI_MODULE_AWS aws;
    memset(&aws, 0, sizeof(aws));
    aws.bEnable = 1;
    aws.ui16GridTileWidth = 7; // 16 px
    aws.ui16GridTileHeight = 7;
    iif.ui16ImagerSize[0] = 99; // 200 px
    iif.ui16ImagerSize[1] = 99;
    aws.ui16GridStartColumn = 100; // 200 px: at the edge
    EXPECT_EQ(CI_StatsAWS_verif(&aws, &iif), QOR_RES_OK);
    aws.ui16GridStartColumn = 101;
    EXPECT_EQ(CI_StatsAWS_verif(&aws, &iif), QOR_RES_FAILED);
    aws.ui16GridStartColumn = 0;
    aws.ui16GridTileHeight = 6; // 14 px
    EXPECT_EQ(CI_StatsAWS_verif(&aws, &iif), QOR_RES_FAILED);
    aws.bEnable = 0;
    EXPECT_EQ(CI_StatsAWS_verif(&aws, &iif), QOR_RES_OK);

    CI_MODULE_WBC wbc;
    memset(&wbc, 0, sizeof(wbc));
    wbc.eRGBThresholdMode = WBC_THRESHOLD;
    EXPECT_EQ(CI_ModuleWBC_verif(&wbc), QOR_RES_OK);
    CI_MODULE_WBS wbs;
    memset(&wbs, 0, sizeof(wbs));
    wbs.ui8ActiveROI = 1;
    EXPECT_EQ(CI_StatsWBS_verif(&wbs), QOR_RES_OK);
    wbs.ui8ActiveROI = 2;
    EXPECT_EQ(CI_StatsWBS_verif(&wbs), QOR_RES_FAILED);
}

} // namespace
