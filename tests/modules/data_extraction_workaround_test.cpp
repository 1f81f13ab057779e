// Raw data extracted after the line store as the only output needs a statistics block running: the
// output module's setup switches the focus statistics region on over the image when none runs.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "ispc/ModuleDPF.h"
#include "ispc/ModuleFLD.h"
#include "ispc/ModuleFOS.h"
#include "ispc/ModuleHIS.h"
#include "ispc/ModuleOUT.h"
#include "ispc/ModuleWBS.h"
#include "module_test_util.h"

using namespace ISPC;
using namespace norva_test;

namespace {
const char kWarning[] = "BRN58117: enabling FOS because only DE point 2 enabled.\n";
} // namespace

TEST(DataExtractionWorkaround, FocusRegionOnlyWhenNoStatisticsRun) {
    struct Rig {
        TestRig rig;
        ModuleOUT *out = registered<ModuleOUT>(rig);
        ModuleFOS *fos = registered<ModuleFOS>(rig);
        ModuleHIS *his = registered<ModuleHIS>(rig);
        ModuleWBS *wbs = registered<ModuleWBS>(rig);
        ModuleFLD *fld = registered<ModuleFLD>(rig);
        ModuleDPF *dpf = registered<ModuleDPF>(rig);
    };
    const struct {
        const char *name;
        const char *out;
        std::function<void(Rig &)> tweak;
        bool applies;
    } cases[] = {
        {"only raw at the line store", "OUT_DE BAYER12\nOUT_DE_POINT 2\n", {}, true},
        {"focus grid on", "OUT_DE BAYER12\nOUT_DE_POINT 2\n", [](Rig &r) { r.fos->bEnableGrid = true; }, false},
        {"histogram on", "OUT_DE BAYER12\nOUT_DE_POINT 2\n", [](Rig &r) { r.his->bEnableGlobal = true; }, false},
        {"white balance on", "OUT_DE BAYER12\nOUT_DE_POINT 2\n", [](Rig &r) { r.wbs->ui32NROIEnabled = 1; }, false},
        {"flicker on", "OUT_DE BAYER12\nOUT_DE_POINT 2\n", [](Rig &r) { r.fld->bEnable = true; }, false},
        {"defect map written", "OUT_DE BAYER12\nOUT_DE_POINT 2\n", [](Rig &r) { r.dpf->bWrite = true; }, false},
        {"encoder as well", "OUT_ENC NV12\nOUT_DE BAYER12\nOUT_DE_POINT 2\n", {}, false},
        {"black-level point", "OUT_DE BAYER12\nOUT_DE_POINT 1\n", {}, false},
    };
    for (const auto &c : cases) {
        Rig r;
        stderrOf([&] { ASSERT_EQ(r.out->load(listOf(c.out)), QOR_RES_OK); });
        if (c.tweak)
            c.tweak(r);
        const std::string log = stderrOf([&] { EXPECT_EQ(r.out->setup(), QOR_RES_OK); });
        EXPECT_EQ(contains(log, kWarning), c.applies) << c.name << log;
        EXPECT_EQ(r.fos->bEnableROI, c.applies) << c.name;
        EXPECT_EQ(r.fos->isUpdateRequested(), c.applies) << c.name;
        if (!c.applies)
            continue;
        // The pipeline's size before the imager interface is set up: half the 1920 x 1080 sensor in
        // cells, so the region ends on the image's last pixel.
        EXPECT_EQ(r.fos->aRoiStartCoord[0], 0u);
        EXPECT_EQ(r.fos->aRoiStartCoord[1], 0u);
        EXPECT_EQ(r.fos->aRoiEndCoord[0], 2u * r.rig.mc().sIIF.ui16ImagerSize[0] - 1) << c.name;
        EXPECT_EQ(r.fos->aRoiEndCoord[1], 2u * r.rig.mc().sIIF.ui16ImagerSize[1] - 1) << c.name;
        ASSERT_EQ(r.rig.pipeline->setupRequested(), QOR_RES_OK);
        EXPECT_EQ(r.rig.mc().sFOS.ui16ROIWidth, 2 * r.rig.mc().sIIF.ui16ImagerSize[0]);
        EXPECT_EQ(r.rig.mc().sFOS.ui16ROIHeight, 2 * r.rig.mc().sIIF.ui16ImagerSize[1]);
    }
}
