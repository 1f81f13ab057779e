// The reference setup of the Bayer-domain and statistics modules (data/bayer_stats_reference.txt, every tag of
// EXS, ENS, DPF, LCA, CCM, WBS, AWS and HIS) through the modules, the block conversions and the load-structure
// writer: the MC blocks, the registers that travel beside the load structure and the load-structure words must
// equal data/bayer_stats_golden.txt. data/audit_bayer_stats_golden.py checks the golden words against the MC values
// with the conversion formulas, independently of this code. NORVA_UPDATE_GOLDEN=1 rewrites the golden file.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "ci/ci_load_hw2.h"
#include "ispc/ModuleAWS.h"
#include "ispc/ModuleCCM.h"
#include "ispc/ModuleDPF.h"
#include "ispc/ModuleENS.h"
#include "ispc/ModuleEXS.h"
#include "ispc/ModuleHIS.h"
#include "ispc/ModuleLCA.h"
#include "ispc/ModuleWBS.h"
#include "mc/mc_pipeline.h"
#include "module_test_util.h"

using namespace ISPC;
using norva_test::registered;
using norva_test::TestRig;

namespace {

std::string dataPath(const char *name) { return std::string(NORVA_MODULES_TEST_DIR) + "/data/" + name; }

std::string readFile(const std::string &path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

/** Lines "name value value ..." of the dump. */
class Dump {
public:
    template <typename T> void values(const std::string &name, const T *v, size_t n) {
        m_out << name;
        for (size_t i = 0; i < n; i++) {
            m_out << ' ' << text(v[i]);
        }
        m_out << '\n';
    }
    template <typename T> void value(const std::string &name, T v) { values(name, &v, 1); }
    void comment(const std::string &text) { m_out << "# " << text << '\n'; }
    void word(unsigned offset, QOR_UINT32 v) {
        char line[40];
        std::snprintf(line, sizeof(line), "word %u 0x%08x\n", offset, v);
        m_out << line;
    }
    std::string str() const { return m_out.str(); }

private:
    static std::string text(double v) {
        char b[40];
        std::snprintf(b, sizeof(b), "%.17g", v);
        return b;
    }
    template <typename T> static std::string text(T v) { return std::to_string(static_cast<long long>(v)); }
    std::ostringstream m_out;
};

/** The load-structure words of the blocks, by offset. */
const unsigned kWords[] = {0,   4,   8,   156, 160, 164, 168, 172, 176, 180, 184, 292, 296, 304, 308,
                           312, 316, 320, 324, 328, 332, 336, 340, 352, 356, 360, 364, 368, 372, 376,
                           380, 460, 464, 468, 472, 476, 480, 484, 488, 492, 520, 524, 528};

std::string dumpOf(const MC_PIPELINE &mc, const CI_PIPELINE &ci, const std::vector<char> &ls) {
    Dump d;
    d.comment("MC blocks");
    d.value("sEXS.bGlobalEnable", mc.sEXS.bGlobalEnable);
    d.value("sEXS.bRegionEnable", mc.sEXS.bRegionEnable);
    d.value("sEXS.ui16Left", mc.sEXS.ui16Left);
    d.value("sEXS.ui16Top", mc.sEXS.ui16Top);
    d.value("sEXS.ui16Width", mc.sEXS.ui16Width);
    d.value("sEXS.ui16Height", mc.sEXS.ui16Height);
    d.value("sEXS.fPixelMax", mc.sEXS.fPixelMax);
    d.value("sENS.bEnable", mc.sENS.bEnable);
    d.value("sENS.ui32NLines", mc.sENS.ui32NLines);
    d.value("sENS.ui32KernelSubsampling", mc.sENS.ui32KernelSubsampling);
    d.value("sIIF.ui16ImagerSize", mc.sIIF.ui16ImagerSize[1]);
    d.value("sDPF.eDPFEnable", mc.sDPF.eDPFEnable);
    d.value("sDPF.ui32NDefect", mc.sDPF.ui32NDefect);
    d.values("sDPF.apDefectInput", mc.sDPF.apDefectInput, 2 * size_t(mc.sDPF.ui32NDefect));
    d.value("sDPF.ui16NbLines", mc.sDPF.ui16NbLines);
    d.value("sDPF.ui8Threshold", mc.sDPF.ui8Threshold);
    d.value("sDPF.fWeight", mc.sDPF.fWeight);
    for (int k = 0; k < 3; k++) {
        d.values("sLCA.aCoeffRed[" + std::to_string(k) + "]", mc.sLCA.aCoeffRed[k], 2);
        d.values("sLCA.aCoeffBlue[" + std::to_string(k) + "]", mc.sLCA.aCoeffBlue[k], 2);
    }
    d.values("sLCA.aOffsetRed", mc.sLCA.aOffsetRed, 2);
    d.values("sLCA.aOffsetBlue", mc.sLCA.aOffsetBlue, 2);
    d.values("sLCA.aShift", mc.sLCA.aShift, 2);
    d.values("sLCA.aDec", mc.sLCA.aDec, 2);
    for (int r = 0; r < 3; r++) {
        d.values("sCCM.aCoeff[" + std::to_string(r) + "]", mc.sCCM.aCoeff[r], 4);
    }
    d.values("sCCM.aOffset", mc.sCCM.aOffset, 3);
    const MC_WBS &w = mc.sWBS;
    d.value("sWBS.ui8ActiveROI", w.ui8ActiveROI);
    d.value("sWBS.fRGBOffset", w.fRGBOffset);
    d.value("sWBS.fYOffset", w.fYOffset);
    d.values("sWBS.aRoiLeft", w.aRoiLeft, 2);
    d.values("sWBS.aRoiTop", w.aRoiTop, 2);
    d.values("sWBS.aRoiWidth", w.aRoiWidth, 2);
    d.values("sWBS.aRoiHeight", w.aRoiHeight, 2);
    d.values("sWBS.aRMax", w.aRMax, 2);
    d.values("sWBS.aGMax", w.aGMax, 2);
    d.values("sWBS.aBMax", w.aBMax, 2);
    d.values("sWBS.aYMax", w.aYMax, 2);
    const MC_AWS &a = mc.sAWS;
    d.value("sAWS.bEnable", a.bEnable);
    d.value("sAWS.bDebugBitmap", a.bDebugBitmap);
    d.value("sAWS.fLog2_R_Qeff", a.fLog2_R_Qeff);
    d.value("sAWS.fLog2_B_Qeff", a.fLog2_B_Qeff);
    d.value("sAWS.fRedDarkThresh", a.fRedDarkThresh);
    d.value("sAWS.fBlueDarkThresh", a.fBlueDarkThresh);
    d.value("sAWS.fGreenDarkThresh", a.fGreenDarkThresh);
    d.value("sAWS.fRedClipThresh", a.fRedClipThresh);
    d.value("sAWS.fBlueClipThresh", a.fBlueClipThresh);
    d.value("sAWS.fGreenClipThresh", a.fGreenClipThresh);
    d.value("sAWS.fBbDist", a.fBbDist);
    d.value("sAWS.ui16GridStartRow", a.ui16GridStartRow);
    d.value("sAWS.ui16GridStartColumn", a.ui16GridStartColumn);
    d.value("sAWS.ui16GridTileWidth", a.ui16GridTileWidth);
    d.value("sAWS.ui16GridTileHeight", a.ui16GridTileHeight);
    d.values("sAWS.aCurveCoeffX", a.aCurveCoeffX, 5);
    d.values("sAWS.aCurveCoeffY", a.aCurveCoeffY, 5);
    d.values("sAWS.aCurveOffset", a.aCurveOffset, 5);
    d.values("sAWS.aCurveBoundary", a.aCurveBoundary, 5);
    const MC_HIS &h = mc.sHIS;
    d.value("sHIS.bGlobalEnable", h.bGlobalEnable);
    d.value("sHIS.bRegionEnable", h.bRegionEnable);
    d.value("sHIS.fInputOffset", h.fInputOffset);
    d.value("sHIS.fInputScale", h.fInputScale);
    d.value("sHIS.ui16Left", h.ui16Left);
    d.value("sHIS.ui16Top", h.ui16Top);
    d.value("sHIS.ui16Width", h.ui16Width);
    d.value("sHIS.ui16Height", h.ui16Height);

    d.comment("registers beside the load structure");
    d.value("sEncStats.ui8Log2NCouples", ci.stats.sEncStats.ui8Log2NCouples);
    d.value("sEncStats.ui8SubExp", ci.stats.sEncStats.ui8SubExp);
    const CI_AWS_CURVE_COEFFS &cc = ci.stats.sAutoWhiteBalanceStats.sCurveCoeffs;
    d.values("sCurveCoeffs.aCurveCoeffX", cc.aCurveCoeffX, 5);
    d.values("sCurveCoeffs.aCurveCoeffY", cc.aCurveCoeffY, 5);
    d.values("sCurveCoeffs.aCurveOffset", cc.aCurveOffset, 5);
    d.values("sCurveCoeffs.aCurveBoundary", cc.aCurveBoundary, 5);
    d.value("sDefectivePixels.eDPFEnable", ci.sDefectivePixels.eDPFEnable);
    d.value("sDefectivePixels.sInput.ui32NDefect", ci.sDefectivePixels.sInput.ui32NDefect);
    d.value("sDefectivePixels.sInput.ui16InternalBufSize", ci.sDefectivePixels.sInput.ui16InternalBufSize);

    d.comment("load-structure words: offset, value");
    for (const unsigned o : kWords) {
        QOR_UINT32 v;
        std::memcpy(&v, &ls[o], sizeof(v));
        d.word(o, v);
    }
    return d.str();
}

TEST(BayerStatsGolden, ReferenceSetupGivesTheGoldenBlocksAndWords) {
    const ParameterList parameters = norva_test::listOf(readFile(dataPath("bayer_stats_reference.txt")));
    // the defect map the file names, in the working directory: (5, 3), (1000, 700), (1919, 1079)
    const char *mapName = "bayer_stats_reference.dpf";
    {
        const QOR_UINT32 records[3] = {0x00030005u, 0x02BC03E8u, 0x0437077Fu};
        FILE *f = std::fopen(mapName, "wb");
        ASSERT_NE(f, nullptr);
        ASSERT_EQ(std::fwrite(records, sizeof(records), 1, f), 1u);
        std::fclose(f);
    }
    TestRig rig;
    std::vector<SetupModule *> modules = {
        registered<ModuleEXS>(rig), registered<ModuleENS>(rig), registered<ModuleDPF>(rig), registered<ModuleLCA>(rig),
        registered<ModuleCCM>(rig), registered<ModuleWBS>(rig), registered<ModuleAWS>(rig), registered<ModuleHIS>(rig)};
    for (SetupModule *m : modules) {
        ASSERT_EQ(m->load(parameters), QOR_RES_OK);
        ASSERT_EQ(m->setup(), QOR_RES_OK);
        // the file uses every tag of the module
        ParameterList saved;
        m->save(saved, ModuleBase::SAVE_VAL);
        for (auto g = saved.groupsBegin(); g != saved.groupsEnd(); ++g) {
            for (const std::string &tag : g->second.parameters) {
                EXPECT_TRUE(parameters.exists(tag)) << tag << " is not in the reference file";
            }
        }
    }
    std::remove(mapName);

    MC_PIPELINE &mc = rig.mc();
    CI_PIPELINE ci;
    std::memset(&ci, 0, sizeof(ci));
    // the conversions of these blocks, in the pipeline's order, then the writer (statistics and groups 1 and 2)
    int mask = 0;
    CI_PIPELINE_STATS &st = ci.stats;
    ASSERT_EQ(MC_DPFConvert(&mc.sDPF, &mc.sIIF, &ci.sDefectivePixels, &mask), QOR_RES_OK);
    struct FreeMap {
        void operator()(QOR_UINT16 *p) const { free(p); }
    };
    const std::unique_ptr<QOR_UINT16, FreeMap> mapCopy(ci.sDefectivePixels.sInput.apDefectInput);
    ASSERT_EQ(MC_LCAConvert(&mc.sLCA, &ci.sChromaAberration, &mask), QOR_RES_OK);
    ASSERT_EQ(MC_CCMConvert(&mc.sCCM, &ci.sColourCorrection, &mask), QOR_RES_OK);
    ASSERT_EQ(MC_EXSConvert(&mc.sEXS, &st.sExposureStats, &mask), QOR_RES_OK);
    ASSERT_EQ(MC_WBSConvert(&mc.sWBS, &st.sWhiteBalanceStats, &mask), QOR_RES_OK);
    ASSERT_EQ(MC_AWSConvert(&mc.sAWS, &st.sAutoWhiteBalanceStats, &mask), QOR_RES_OK);
    ASSERT_EQ(MC_HISConvert(&mc.sHIS, &st.sHistStats, &mask), QOR_RES_OK);
    ASSERT_EQ(MC_ENSConvert(&mc.sENS, &st.sEncStats), QOR_RES_OK);
    std::vector<char> ls(CI_LOAD_STRUCT_SIZE, 0);
    rig.hw().uiSizeOfLoadStruct = CI_LOAD_STRUCT_SIZE;
    ASSERT_EQ(HW_CI_LoadPipeline(&rig.hw(), &ci, ls.data(), mask), QOR_RES_OK);
    const std::string dump = dumpOf(mc, ci, ls);

    const std::string golden = dataPath("bayer_stats_golden.txt");
    const char *update = std::getenv("NORVA_UPDATE_GOLDEN");
    if (update != nullptr && std::strcmp(update, "1") == 0) {
        std::ofstream(golden) << dump;
    }
    EXPECT_EQ(dump, readFile(golden));
}

} // namespace
