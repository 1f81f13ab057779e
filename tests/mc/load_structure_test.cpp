#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "ci/ci_load_hw2.h"
#include "mc_test_support.h"
#include "platform/sim_lsdecoder.h"

namespace {

using mctest::Pipelines;

QOR_UINT32 wordAt(const std::vector<char> &ls, unsigned offset) {
    QOR_UINT32 v;
    memcpy(&v, &ls[offset], sizeof(v));
    return v;
}

struct Loaded {
    std::vector<char> ls = std::vector<char>(CI_LOAD_STRUCT_SIZE, 0);
    std::string out;
    QOR_RESULT result = -1;
};

Loaded load(const CI_HWINFO &hw, const CI_PIPELINE &pipe, int mask, std::vector<char> start = {}) {
    Loaded l;
    if (!start.empty()) {
        l.ls = start;
    }
    testing::internal::CaptureStdout();
    l.result = HW_CI_LoadPipeline(&hw, &pipe, l.ls.data(), mask);
    fflush(stdout);
    l.out = testing::internal::GetCapturedStdout();
    return l;
}

TEST(LoadStructureMap, CoversEveryWordOnceWithoutOverlappingBits) {
    EXPECT_EQ(INT_CI_SizeLS_HW2(), 1268u);
    std::set<unsigned> neverWritten = {188, 192, 212, 216, 220, 224, 300, 1124, 1128};
    for (unsigned o = 408; o <= 452; o += 4) {
        neverWritten.insert(o);
    }
    std::vector<QOR_UINT64> bits(CI_LOAD_STRUCT_WORDS, 0);
    std::vector<int> group(CI_LOAD_STRUCT_WORDS, -1);
    for (QOR_UINT32 i = 0; i < HW_CI_LoadFieldCount(); i++) {
        const CI_LS_FIELD_INFO f = HW_CI_LoadField(i);
        ASSERT_EQ(f.ui16Word % 4, 0u);
        ASSERT_LT(f.ui16Word, 1268u);
        ASSERT_LE(f.ui8Lo, f.ui8Hi);
        ASSERT_LT(f.ui8Hi, 32u);
        EXPECT_EQ(neverWritten.count(f.ui16Word), 0u) << f.ui16Word;
        const unsigned w = f.ui16Word / 4;
        const QOR_UINT64 m = ((QOR_UINT64(1) << (f.ui8Hi - f.ui8Lo + 1)) - 1) << f.ui8Lo;
        EXPECT_EQ(bits[w] & m, 0u) << "overlap in word " << f.ui16Word;
        bits[w] |= m;
        if (group[w] >= 0) {
            EXPECT_EQ(group[w], f.ui8Group) << "word " << f.ui16Word << " in two groups";
        }
        group[w] = f.ui8Group;
    }
    for (unsigned w = 0; w < CI_LOAD_STRUCT_WORDS; w++) {
        EXPECT_NE(bits[w] != 0, neverWritten.count(w * 4) != 0) << "word " << w * 4;
    }
}

/** Random register values, each within its field and its source type. */
void randomise(std::mt19937 &rng, CI_PIPELINE *p) {
    memset(p, 0, sizeof(*p));
    QOR_UINT8 *base = reinterpret_cast<QOR_UINT8 *>(p);
    for (QOR_UINT32 i = 0; i < HW_CI_LoadFieldCount(); i++) {
        const CI_LS_FIELD_INFO f = HW_CI_LoadField(i);
        if (f.bCoded || f.ui8SourceBytes == 0) {
            continue;
        }
        const int w = f.ui8Hi - f.ui8Lo + 1;
        const int typeBits = 8 * f.ui8SourceBytes;
        QOR_INT64 lo, hi;
        if (f.bSourceSigned && typeBits < 32) {
            lo = -(QOR_INT64(1) << (std::min(w, typeBits) - 1));
            hi = (QOR_INT64(1) << (std::min(w, typeBits) - 1)) - 1;
        } else {
            lo = 0;
            hi = (QOR_INT64(1) << std::min(w, typeBits)) - 1;
        }
        const QOR_INT64 v = std::uniform_int_distribution<QOR_INT64>(lo, hi)(rng);
        memcpy(base + f.ui16Source, &v, f.ui8SourceBytes); // little-endian host
    }
    auto bit = [&rng]() { return static_cast<QOR_UINT8>(rng() & 1); };
    p->sRawLUT.eMode = static_cast<CI_RLT_MODES>(rng() % 3);
    p->sWhiteBalance.eRGBThresholdMode = static_cast<WBC_MODES>(bit());
    p->sDefectivePixels.eDPFEnable = bit();
    p->sEncoderScaler.bOutput422 = bit();
    p->stats.sAutoWhiteBalanceStats.bDebugBitmap = bit();
    // every conditional register written
    p->sImageEnhancer.bVibrancy = 1;
    p->sImageEnhancer.bMemoryColour = 1;
    p->sToneMapping.bBypassTNM = 0;
    p->sSharpening.bDenoiseBypass = 0;
    p->sEncoderScaler.bIsDisplay = 0;
    p->sEncoderScaler.bBypassScaler = 0;
    p->sDisplayScaler.bIsDisplay = 1;
    p->sDisplayScaler.bBypassScaler = 0;
}

TEST(LoadStructureRoundTrip, RandomInRangeValuesComeBackThroughTheSimulationDecoder) {
    const CI_HWINFO hw = mctest::defaultHWInfo();
    std::mt19937 rng(20261210);
    std::unique_ptr<CI_PIPELINE> in(new CI_PIPELINE());
    std::unique_ptr<CI_PIPELINE> out(new CI_PIPELINE());
    for (int iteration = 0; iteration < 200; iteration++) {
        randomise(rng, in.get());
        const Loaded l = load(hw, *in, CI_UPD_ALL);
        ASSERT_EQ(l.result, QOR_RES_OK);
        ASSERT_EQ(l.out, "") << "in-range values must not be reported";
        memset(out.get(), 0, sizeof(CI_PIPELINE));
        ASSERT_EQ(SimLS_Decode(reinterpret_cast<const QOR_UINT8 *>(l.ls.data()), l.ls.size(), out.get()), QOR_RES_OK);
        const QOR_UINT8 *a = reinterpret_cast<const QOR_UINT8 *>(in.get());
        const QOR_UINT8 *b = reinterpret_cast<const QOR_UINT8 *>(out.get());
        for (QOR_UINT32 i = 0; i < HW_CI_LoadFieldCount(); i++) {
            const CI_LS_FIELD_INFO f = HW_CI_LoadField(i);
            ASSERT_EQ(memcmp(a + f.ui16Source, b + f.ui16Source, f.ui8SourceBytes), 0)
                << "word " << f.ui16Word << " bits " << int(f.ui8Hi) << ":" << int(f.ui8Lo) << " "
                << (f.pszField ? f.pszField : "") << " iteration " << iteration;
        }
        // nothing else differs either: fields without registers stay 0 on both sides
        ASSERT_EQ(memcmp(a, b, sizeof(CI_PIPELINE)), 0) << "iteration " << iteration;
    }
}

TEST(LoadStructureRoundTrip, DecoderRefusesShortOrMissingInput) {
    std::vector<QOR_UINT8> ls(1267, 0);
    CI_PIPELINE out;
    EXPECT_EQ(SimLS_Decode(ls.data(), ls.size(), &out), QOR_RES_INVALID_PARAM);
    EXPECT_EQ(SimLS_Decode(nullptr, 1268, &out), QOR_RES_INVALID_PARAM);
}

struct EdgeCase {
    const char *name;
    void (*setup)(CI_PIPELINE *);
    int mask;
    unsigned word;
    QOR_UINT32 fieldMask;
    QOR_UINT32 expected;
    const char *stdoutText;
};

const EdgeCase kEdgeCases[] = {
    {"cubic RLT", [](CI_PIPELINE *p) { p->sRawLUT.eMode = CI_RLT_CUBIC; }, CI_UPD_GRP_0, 24, 0x3, 3, ""},
    {"unknown RLT 3", [](CI_PIPELINE *p) { p->sRawLUT.eMode = static_cast<CI_RLT_MODES>(3); }, CI_UPD_GRP_0, 24, 0x3, 1,
     ""},
    {"unknown RLT 7", [](CI_PIPELINE *p) { p->sRawLUT.eMode = static_cast<CI_RLT_MODES>(7); }, CI_UPD_GRP_0, 24, 0x3, 1,
     ""},
    {"H luma tap -16", [](CI_PIPELINE *p) { p->sEncoderScaler.HLuma[0] = -16; }, CI_UPD_GRP_5, 1016, 0xF, 0, ""},
    {"H luma tap 15", [](CI_PIPELINE *p) { p->sEncoderScaler.HLuma[0] = 15; }, CI_UPD_GRP_5, 1016, 0xF, 15, ""},
    {"H luma tap -17", [](CI_PIPELINE *p) { p->sEncoderScaler.HLuma[0] = -17; }, CI_UPD_GRP_5, 1016, 0xF, 15,
     "HW_CI_Load_ESC: -17 does not fit in NORVA_LOAD_STRUCTURE:ENC_SCAL_H_LUMA_TAPS_0_TO_3:ENC_SCAL_H_LUMA_TAP_0\n"},
    {"H luma tap 16", [](CI_PIPELINE *p) { p->sEncoderScaler.HLuma[0] = 16; }, CI_UPD_GRP_5, 1016, 0xF, 0,
     "HW_CI_Load_ESC: 16 does not fit in NORVA_LOAD_STRUCTURE:ENC_SCAL_H_LUMA_TAPS_0_TO_3:ENC_SCAL_H_LUMA_TAP_0\n"},
    {"CCM 4095", [](CI_PIPELINE *p) { p->sColourCorrection.aCoeff[0][0] = 4095; }, CI_UPD_GRP_2, 352, 0xFFF, 4095, ""},
    {"CCM -4096", [](CI_PIPELINE *p) { p->sColourCorrection.aCoeff[0][0] = -4096; }, CI_UPD_GRP_2, 352, 0xFFF, 0, ""},
    {"CCM 4096", [](CI_PIPELINE *p) { p->sColourCorrection.aCoeff[0][0] = 4096; }, CI_UPD_GRP_2, 352, 0xFFF, 0,
     "HW_CI_Load_CCM: 4096 does not fit in NORVA_LOAD_STRUCTURE:CC_COEFFS_A:CC_COEFF_0\n"},
    {"ROI left 1", [](CI_PIPELINE *p) { p->stats.sFocusStats.ui16ROILeft = 1; }, 0, 236, 0xFFFF, 2, ""},
    {"ROI left 32767", [](CI_PIPELINE *p) { p->stats.sFocusStats.ui16ROILeft = 32767; }, 0, 236, 0xFFFF, 65534, ""},
    {"ROI left 32768", [](CI_PIPELINE *p) { p->stats.sFocusStats.ui16ROILeft = 32768; }, 0, 236, 0xFFFF, 0,
     "HW_CI_Load_FOS: 32768 does not fit in NORVA_LOAD_STRUCTURE:FOS_ROI_COORDS_START:FOS_ROI_START_COL\n"},
    {"output columns 8191", [](CI_PIPELINE *p) { p->sEncoderScaler.aOutputSize[0] = 8191; }, CI_UPD_GRP_5, 1116, 0x3FFF,
     16382, ""},
    {"output columns 8192", [](CI_PIPELINE *p) { p->sEncoderScaler.aOutputSize[0] = 8192; }, CI_UPD_GRP_5, 1116, 0x3FFF,
     0, "HW_CI_Load_ESC: 8192 does not fit in NORVA_LOAD_STRUCTURE:ENC_SCAL_H_SETUP:ENC_SCAL_OUTPUT_COLUMNS\n"},
    {"Gauss CB -1",
     [](CI_PIPELINE *p) {
         p->sImageEnhancer.bMemoryColour = 1;
         p->sImageEnhancer.aGaussCB[0] = -1;
     },
     CI_UPD_GRP_3, 648, 0x3FF, 1023, ""},
    {"ELW offset -1", [](CI_PIPELINE *p) { p->sSharpening.i8ELWOffset = -1; }, CI_UPD_GRP_4, 932, 0x7F00, 127u << 8,
     ""},
    {"ELW offset -128", [](CI_PIPELINE *p) { p->sSharpening.i8ELWOffset = -128; }, CI_UPD_GRP_4, 932, 0x7F00, 0, ""},
    {"denoise bypass 2",
     [](CI_PIPELINE *p) {
         p->sSharpening.bDenoiseBypass = 2;
         p->sSharpening.aDNSimil[0] = 9;
     },
     CI_UPD_GRP_4, 924, 1u << 22, 0,
     "HW_CI_Load_SHA: 2 does not fit in NORVA_LOAD_STRUCTURE:SHA_PARAMS_0:SHA_DENOISE_BYPASS\n"},
    {"display record in group 32",
     [](CI_PIPELINE *p) {
         p->sEncoderScaler.bIsDisplay = 1;
         p->sEncoderScaler.aPitch[0] = 12345;
     },
     CI_UPD_GRP_5, 1212, 0xFFFFFFFF, 12345, ""},
    {"scene change 1048576", [](CI_PIPELINE *p) { p->stats.sFlickerStats.ui32SceneChange = 1048576; }, 0, 912, 0xFFFFF,
     0, "HW_CI_Load_FLD: 1048576 does not fit in NORVA_LOAD_STRUCTURE:FLD_SCENE_CHANGE_TH:FLD_SCENE_CHANGE_TH\n"},
    {"AWS log2 Qeff -48 (gain below 1)",
     [](CI_PIPELINE *p) { p->stats.sAutoWhiteBalanceStats.ui16Log2_R_Qeff = 65488; }, 0, 164, 0x1FFF, 8144, ""},
    {"AWS log2 Qeff 8191", [](CI_PIPELINE *p) { p->stats.sAutoWhiteBalanceStats.ui16Log2_B_Qeff = 8191; }, 0, 164,
     0x1FFF0000, 8191u << 16, ""},
    {"AWS log2 Qeff -8193",
     [](CI_PIPELINE *p) { p->stats.sAutoWhiteBalanceStats.ui16Log2_B_Qeff = static_cast<QOR_UINT16>(-8193); }, 0, 164,
     0x1FFF0000, 0x1FFFu << 16,
     "HW_CI_Load_AWS: -8193 does not fit in NORVA_LOAD_STRUCTURE:AWS_LOG2_QEFF:AWS_LOG2_B_QEFF\n"},
    {"scene change 4293918720", [](CI_PIPELINE *p) { p->stats.sFlickerStats.ui32SceneChange = 4293918720u; }, 0, 912,
     0xFFFFF, 0, ""},
};

class LoadStructureEdge : public ::testing::TestWithParam<EdgeCase> {};

TEST_P(LoadStructureEdge, FieldValueAndMessage) {
    const EdgeCase &c = GetParam();
    const CI_HWINFO hw = mctest::defaultHWInfo();
    std::unique_ptr<CI_PIPELINE> p(new CI_PIPELINE());
    c.setup(p.get());
    const Loaded l = load(hw, *p, c.mask, std::vector<char>(CI_LOAD_STRUCT_SIZE, 0));
    EXPECT_EQ(l.result, QOR_RES_OK);
    EXPECT_EQ(wordAt(l.ls, c.word) & c.fieldMask, c.expected) << c.name;
    EXPECT_EQ(l.out, c.stdoutText) << c.name;
}

void PrintTo(const EdgeCase &c, std::ostream *os) { *os << c.name; }

INSTANTIATE_TEST_SUITE_P(Cases, LoadStructureEdge, ::testing::ValuesIn(kEdgeCases));

TEST(LoadStructure, ZeroPipelineWithMaskZeroWritesOnlyStatistics) {
    const CI_HWINFO hw = mctest::defaultHWInfo();
    std::unique_ptr<CI_PIPELINE> p(new CI_PIPELINE());
    const Loaded l = load(hw, *p, 0, std::vector<char>(CI_LOAD_STRUCT_SIZE, '\xA5'));
    ASSERT_EQ(l.result, QOR_RES_OK);
    for (unsigned o : {0u, 8u, 156u, 184u, 228u, 240u, 460u, 476u, 520u, 904u, 920u}) {
        EXPECT_EQ(wordAt(l.ls, o), 0u) << o;
    }
    for (unsigned o : {12u, 24u, 196u, 288u, 352u, 532u, 924u, 952u, 960u, 1244u, 1124u}) {
        EXPECT_EQ(wordAt(l.ls, o), 0xA5A5A5A5u) << o;
    }
}

TEST(LoadStructure, SkippedRegistersKeepTheirEarlierValues) {
    const CI_HWINFO hw = mctest::defaultHWInfo();
    std::unique_ptr<CI_PIPELINE> p(new CI_PIPELINE());
    p->sToneMapping.aCurve[0] = 100;
    Loaded first = load(hw, *p, CI_UPD_GRP_3);
    EXPECT_EQ(wordAt(first.ls, 732) & 0xFFF, 100u);
    p->sToneMapping.bBypassTNM = 1;
    p->sToneMapping.aCurve[0] = 200;
    p->sToneMapping.inputLumaOffset = 16;
    Loaded second = load(hw, *p, CI_UPD_GRP_3, first.ls);
    EXPECT_EQ(wordAt(second.ls, 860), 1u);
    EXPECT_EQ(wordAt(second.ls, 732) & 0xFFF, 100u);
    EXPECT_EQ(wordAt(second.ls, 896) & 0xFFF, 16u);
}

TEST(LoadStructure, HardwareRevisionAndSize) {
    std::unique_ptr<CI_PIPELINE> p(new CI_PIPELINE());
    p->sGammaCorrection.bBypass = 1;
    CI_HWINFO hw = mctest::defaultHWInfo();
    const Loaded base = load(hw, *p, CI_UPD_ALL);
    hw.rev_ui8Minor = 4; // same words; the two extra errors go to the log
    const Loaded rev24 = load(hw, *p, CI_UPD_ALL);
    EXPECT_EQ(rev24.result, QOR_RES_OK);
    EXPECT_EQ(base.ls, rev24.ls);
    hw.rev_ui8Major = 3;
    const Loaded rev3 = load(hw, *p, CI_UPD_ALL, std::vector<char>(CI_LOAD_STRUCT_SIZE, 7));
    EXPECT_EQ(rev3.result, QOR_RES_NOT_SUPPORTED);
    EXPECT_EQ(rev3.ls, std::vector<char>(CI_LOAD_STRUCT_SIZE, 7));
    hw = mctest::defaultHWInfo();
    hw.uiSizeOfLoadStruct = 1272;
    EXPECT_EQ(load(hw, *p, CI_UPD_ALL).result, QOR_RES_NOT_SUPPORTED);
}

std::string hexDump(const std::vector<char> &ls) {
    std::ostringstream os;
    char line[128];
    for (size_t o = 0; o < ls.size(); o += 16) {
        int n = snprintf(line, sizeof(line), "%04zx:", o);
        for (size_t i = o; i < o + 16 && i < ls.size(); i += 4) {
            QOR_UINT32 v;
            memcpy(&v, &ls[i], sizeof(v));
            n += snprintf(line + n, sizeof(line) - n, " %08x", v);
        }
        os << line << "\n";
    }
    return os.str();
}

TEST(LoadStructure, DefaultConvertedPipelineMatchesTheGoldenDump) {
    Pipelines p;
    int mask = 0;
    ASSERT_EQ(MC_PipelineConvert(p.mc.get(), p.ci.get(), &mask), QOR_RES_OK);
    const Loaded l = load(p.hw, *p.ci, CI_UPD_ALL);
    ASSERT_EQ(l.result, QOR_RES_OK);
    EXPECT_EQ(l.out, "") << "no range message with the defaults";
    const std::string dump = hexDump(l.ls);
    const std::string path = std::string(NORVA_MC_TEST_DIR) + "/golden/default_loadstructure.hex";
    if (getenv("NORVA_UPDATE_GOLDEN") != nullptr) {
        std::ofstream(path) << dump;
    }
    std::ifstream in(path);
    ASSERT_TRUE(in.good()) << path;
    std::stringstream golden;
    golden << in.rdbuf();
    EXPECT_EQ(dump, golden.str());
}

} // namespace
