// The register words of the enhancer, vibrancy and sharpening blocks and the HDR record for the
// reference setup file, on a Cr-first and a Cb-first encoder, against the golden file beside this test.
// The golden file was audited against an independent computation (enhancer_words_audit.py, which the
// last test runs when Python is available).
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <sys/wait.h>

#include "ci/ci_load_hw2.h"
#include "ispc/ModuleHDR.h"
#include "ispc/ModuleMIE.h"
#include "ispc/ModuleOUT.h"
#include "ispc/ModuleSHA.h"
#include "ispc/ModuleVIB.h"
#include "ispc/ParameterFileParser.h"
#include "mc/mc_pipeline.h"
#include "module_test_util.h"
#include "platform/sim_isp.h"

using namespace ISPC;
using namespace norva_test;

namespace {

const std::string kModulesDir = std::string(NORVA_TEST_SUPPORT_DIR) + "/../modules";
const std::string kReferenceSetup = std::string(NORVA_TEST_SUPPORT_DIR) + "/../../data/setup/reference.txt";
const std::string kGolden = kModulesDir + "/golden/enhancer_words.txt";

/** The words and record fields of one encoder format, one "<name> <offset or field> <value>" per line. */
std::string wordsFor(ePxlFormat encoder, const char *name) {
    TestRig rig; // 1920x1080, 10 bits, well depth 5000, gain 1
    registered<ModuleOUT>(rig)->encoderType = encoder;
    ModuleMIE *mie = registered<ModuleMIE>(rig);
    ModuleVIB *vib = registered<ModuleVIB>(rig);
    ModuleSHA *sha = registered<ModuleSHA>(rig);
    ModuleHDR *hdr = registered<ModuleHDR>(rig);
    const ParameterList list = ParameterFileParser::parseFile(kReferenceSetup);
    for (SetupModule *m : std::vector<SetupModule *>{mie, vib, sha, hdr}) {
        EXPECT_EQ(m->load(list), QOR_RES_OK);
        EXPECT_EQ(m->setup(), QOR_RES_OK);
    }
    CI_PIPELINE reg{};
    MC_WBC wbc{};
    for (double &g : wbc.aGain)
        g = 1.0;
    int mask = 0;
    EXPECT_EQ(MC_MIEConvert(&rig.mc().sMIE, &reg.sImageEnhancer, nullptr, &mask), QOR_RES_OK);
    EXPECT_EQ(MC_SHAConvert(&rig.mc().sSHA, &reg.sSharpening, nullptr, &mask), QOR_RES_OK);
    EXPECT_EQ(MC_HDRConvert(&rig.mc().sHDR, &wbc, &reg.sHDR, &mask), QOR_RES_OK);
    const CI_HWINFO hw = norva_sim::DefaultDescription().sHWInfo;
    std::vector<char> ls(CI_LOAD_STRUCT_SIZE, 0);
    EXPECT_EQ(HW_CI_LoadPipeline(&hw, &reg, ls.data(), CI_UPD_GRP_3 | CI_UPD_GRP_4), QOR_RES_OK);

    std::ostringstream os;
    char line[64];
    auto word = [&](unsigned offset) {
        QOR_UINT32 v;
        std::memcpy(&v, &ls[offset], sizeof(v));
        std::snprintf(line, sizeof(line), "%s %u 0x%08x\n", name, offset, v);
        os << line;
    };
    for (unsigned o = 532; o <= 728; o += 4)
        word(o);
    for (unsigned o = 924; o <= 948; o += 4)
        word(o);
    const CI_MODULE_HDR &h = reg.sHDR;
    os << name << " HDR_RATIO " << h.ui16ExposureRatio << "\n" << name << " HDR_GAIN " << h.ui16Gain << "\n";
    for (int k = 0; k < 3; k++)
        os << name << " HDR_LUM_" << k << " " << h.aLumCoeffs[k] << "\n";
    for (int i : {0, 1, 2048, 3072, 4032, 4095})
        os << name << " HDR_WEIGHT_" << i << " " << h.aWeightCurve[i] << "\n";
    for (int i : {0, 1, 256, 2048, 3327})
        os << name << " HDR_TNM_" << i << " " << h.aTNMCurve[i] << "\n";
    return os.str();
}

std::string produced() { return wordsFor(YVU_420_PL12_8, "NV21") + wordsFor(YUV_420_PL12_8, "NV12"); }

std::string fileText(const std::string &path) {
    std::ifstream in(path);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

} // namespace

TEST(EnhancerGolden, ReferenceSetupWordsMatchTheGoldenFile) {
    const std::string golden = fileText(kGolden);
    ASSERT_FALSE(golden.empty()) << kGolden;
    const std::string now = produced();
    EXPECT_EQ(now, golden) << "produced:\n" << now;
}

// The memory colour of the reference file is on, its second set is not; the chroma settings of the two
// encoder orders are mirrored in the words.
TEST(EnhancerGolden, ReferenceSetupUsesEveryTag) {
    const ParameterList list = ParameterFileParser::parseFile(kReferenceSetup);
    std::vector<std::string> tags;
    for (const ParameterGroup &g :
         {ModuleMIE::GetGroup(), ModuleVIB::getGroup(), ModuleSHA::getGroup(), ModuleHDR::getGroup()}) {
        for (const std::string &t : g.parameters) {
            if (t.size() < 2 || t[t.size() - 2] != '_' || t.back() < '2' || t.back() > '8')
                tags.push_back(t); // sets 2 to 8 are the same tags as set 1
        }
    }
    for (const char *t : {"SHA_DENOISE_BYPASS", "SHA_DN_TAU_MULTIPLIER", "SHA_DN_SIGMA_MULTIPLIER"})
        tags.push_back(t);
    for (const std::string &t : tags)
        EXPECT_TRUE(list.exists(t)) << t;
}

TEST(EnhancerGolden, IndependentAuditAgrees) {
    if (std::system("/usr/bin/python3 -c 'import numpy' > /dev/null 2>&1") != 0)
        GTEST_SKIP() << "/usr/bin/python3 with numpy is not available";
    const std::string cmd = "/usr/bin/python3 '" + kModulesDir + "/enhancer_words_audit.py' '" + kReferenceSetup +
                            "' '" + kGolden + "' 2>&1";
    FILE *p = popen(cmd.c_str(), "r");
    ASSERT_NE(p, nullptr);
    std::string out;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof(buf), p)) > 0)
        out.append(buf, n);
    const int status = pclose(p);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << out;
    EXPECT_NE(out.find("agree"), std::string::npos) << out;
}
