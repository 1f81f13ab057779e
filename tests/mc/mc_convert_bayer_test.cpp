#include <gtest/gtest.h>

#include <cstdlib>

#include "mc_test_support.h"

namespace {

template <typename T> T flagged(T block) {
    block.updateNeeded = 1;
    return block;
}

} // namespace

TEST(McBlcConvert, PixelMaxAndRowReciprocal) {
    struct Case {
        QOR_BOOL8 rowAverage;
        double rowCount;
        double pixelMax;
        QOR_UINT16 reciprocal;
        QOR_UINT16 ciPixelMax;
        QOR_INT8 offset0;
    };
    const Case cases[] = {
        {1, 3.0, 10.0, 171, 40, 0},
        {1, 0.0, 1023.0, 0, 255, 0},
        {0, 3.0, 255.75, 0, 255, -7},
        {0, 0.0, 63.75, 0, 255, -7},
    };
    for (const Case &c : cases) {
        MC_BLC blc{};
        blc.updateNeeded = 1;
        blc.bRowAverage = c.rowAverage;
        blc.fRowAverage = c.rowCount;
        blc.ui16PixelMax = c.pixelMax;
        blc.aFixedOffset[0] = -7;
        CI_MODULE_BLC ci{};
        int mask = 0;
        ASSERT_EQ(MC_BLCConvert(&blc, &ci, &mask), QOR_RES_OK);
        EXPECT_EQ(mask, CI_UPD_GRP_0);
        EXPECT_EQ(ci.ui16RowReciprocal, c.reciprocal);
        EXPECT_EQ(ci.ui16PixelMax, c.ciPixelMax);
        EXPECT_EQ(ci.i8FixedOffset[0], c.offset0);
        EXPECT_EQ(blc.updateNeeded, 0);
    }
}

TEST(McConvert, UnflaggedBlockIsSkipped) {
    MC_WBC wbc{};
    wbc.aGain[0] = 2.0;
    CI_MODULE_WBC ci{};
    ci.aGain[0] = 7;
    int mask = 0;
    EXPECT_EQ(MC_WBCConvert(&wbc, &ci, &mask), QOR_RES_OK);
    EXPECT_EQ(mask, 0);
    EXPECT_EQ(ci.aGain[0], 7);
}

TEST(McWbcConvert, GainsClipsThresholdsAndRgbGains) {
    MC_WBC wbc{};
    wbc.updateNeeded = 1;
    const double gains[4] = {1.0, 1.1, 1.2, 1.3};
    const QOR_UINT16 gainCodes[4] = {1024, 1126, 1229, 1331};
    const QOR_UINT16 clipCodes[4] = {8000, 8016, 8032, 8048};
    for (int c = 0; c < 4; c++) {
        wbc.aGain[c] = gains[c];
        wbc.aClip[c] = 500.0 + c;
    }
    const double thresholds[3] = {0.5, 0.6, 0.7};
    const QOR_UINT16 thresholdCodes[3] = {254, 305, 356};
    const double rgbGains[3] = {1.5, 1.75, 2.0};
    const QOR_UINT8 rgbGainCodes[3] = {24, 28, 32};
    for (int k = 0; k < 3; k++) {
        wbc.afRGBThreshold[k] = thresholds[k];
        wbc.afRGBGain[k] = rgbGains[k];
    }
    wbc.eRGBThresholdMode = WBC_THRESHOLD;
    CI_MODULE_WBC ci{};
    int mask = 0;
    ASSERT_EQ(MC_WBCConvert(&wbc, &ci, &mask), QOR_RES_OK);
    EXPECT_EQ(mask, CI_UPD_GRP_0 | CI_UPD_GRP_2);
    for (int c = 0; c < 4; c++) {
        EXPECT_EQ(ci.aGain[c], gainCodes[c]) << c;
        EXPECT_EQ(ci.aClip[c], clipCodes[c]) << c;
    }
    for (int k = 0; k < 3; k++) {
        EXPECT_EQ(ci.aRGBThreshold[k], thresholdCodes[k]) << k;
        EXPECT_EQ(ci.aRGBGain[k], rgbGainCodes[k]) << k;
    }
}

TEST(McLshConvert, GradientIsElevenBitSignedInASixteenBitField) {
    MC_LSH lsh{};
    lsh.updateNeeded = 1;
    lsh.aGradients[0][0] = -0.01;
    lsh.aGradients[1][1] = 0.5; // beyond the format: clipped to 0.25 - 2^-12
    CI_MODULE_LSH ci{};
    int mask = 0;
    ASSERT_EQ(MC_LSHConvert(&lsh, &ci, &mask), QOR_RES_OK);
    EXPECT_EQ(mask, CI_UPD_GRP_0 | CI_UPD_LSH_REG);
    EXPECT_EQ(ci.aGradientsX[0], 65495);
    EXPECT_EQ(ci.aGradientsY[1], 1023);
}

TEST(McDnsConvert, GreyscaleThresholdIsLog2InS33) {
    MC_DNS dns{};
    MC_DNSInit(&dns);
    dns.aPixThresLUT[0] = 1.5;
    CI_MODULE_DNS ci{};
    int mask = 0;
    ASSERT_EQ(MC_DNSConvert(&dns, &ci, &mask), QOR_RES_OK);
    EXPECT_EQ(ci.i8Log2PixThresh, -16);
    EXPECT_EQ(ci.aPixThresLUT[0], 48);
    EXPECT_EQ(mask, CI_UPD_GRP_1);
}

TEST(McDpfConvert, DefectMapCopyWindowsAndReplacement) {
    MC_IIF iif{};
    MC_IIFInit(&iif);
    iif.ui16ImagerSize[0] = 64;
    iif.ui16ImagerSize[1] = 50;
    QOR_UINT16 defects[] = {1, 0, 2, 5, 3, 20};
    MC_DPF dpf{};
    dpf.updateNeeded = 1;
    dpf.apDefectInput = defects;
    dpf.ui32NDefect = 3;
    dpf.ui16NbLines = 10;
    dpf.fWeight = 16.4;
    CI_MODULE_DPF ci{};
    int mask = 0;
    ASSERT_EQ(MC_DPFConvert(&dpf, &iif, &ci, &mask), QOR_RES_OK);
    EXPECT_EQ(mask, CI_UPD_GRP_1);
    EXPECT_EQ(ci.sInput.ui16InternalBufSize, 12);
    EXPECT_EQ(ci.sInput.ui32NDefect, 3u);
    ASSERT_NE(ci.sInput.apDefectInput, defects);
    EXPECT_EQ(ci.sInput.apDefectInput[5], 20);
    EXPECT_EQ(ci.ui8Weight, 16);

    dpf.updateNeeded = 1;
    mask = 0;
    ASSERT_EQ(MC_DPFConvert(&dpf, &iif, &ci, &mask), QOR_RES_OK);
    EXPECT_EQ(mask, 258);

    defects[5] = 200; // below the 100-row frame
    dpf.updateNeeded = 1;
    EXPECT_EQ(MC_DPFConvert(&dpf, &iif, &ci, &mask), QOR_RES_NOT_SUPPORTED);
    free(ci.sInput.apDefectInput);
    ci.sInput.apDefectInput = nullptr;

    dpf.updateNeeded = 1;
    dpf.ui32NDefect = 0;
    EXPECT_EQ(MC_DPFConvert(&dpf, &iif, &ci, &mask), QOR_RES_INVALID_PARAM);
    EXPECT_EQ(ci.sInput.apDefectInput, nullptr);
}

TEST(McCcmConvert, CoefficientsAndOffsets) {
    struct Case {
        double offset;
        QOR_INT16 code;
    };
    // -10.7, -0.7 and 9.3 truncate; beyond the 12-bit register the offset saturates instead of
    // changing sign in the register.
    const Case cases[] = {{-10.7, -10}, {-0.7, 0}, {9.3, 9}, {3000.0, 2047}, {-5000.0, -2048}, {2047.9, 2047}};
    for (const Case &c : cases) {
        MC_CCM ccm{};
        MC_CCMInit(&ccm);
        ccm.aOffset[0] = c.offset;
        ccm.aCoeff[1][3] = -5.0;
        CI_MODULE_CCM ci{};
        int mask = 0;
        ASSERT_EQ(MC_CCMConvert(&ccm, &ci, &mask), QOR_RES_OK);
        EXPECT_EQ(mask, CI_UPD_GRP_2);
        EXPECT_EQ(ci.aOffset[0], c.code) << c.offset;
        EXPECT_EQ(ci.aCoeff[0][0], 512);
        EXPECT_EQ(ci.aCoeff[1][3], -2048);
    }
}

TEST(McLcaConvert, CoefficientsAreS57) {
    MC_LCA lca{};
    lca.updateNeeded = 1;
    lca.aCoeffRed[2][1] = -1.5;
    lca.aCoeffBlue[0][0] = 100.0;
    lca.aShift[0] = 3;
    CI_MODULE_LCA ci{};
    int mask = 0;
    ASSERT_EQ(MC_LCAConvert(&lca, &ci, &mask), QOR_RES_OK);
    EXPECT_EQ(ci.aCoeffRed[2][1], -192);
    EXPECT_EQ(ci.aCoeffBlue[0][0], 2047);
    EXPECT_EQ(ci.aShift[0], 3);
}

// The block's shift is signed (small imagers give negative shifts); the 2-bit register field takes 0..3.
TEST(McLcaConvert, ShiftIsClippedToItsField) {
    const struct {
        int shift;
        QOR_UINT8 code;
    } cases[] = {{-1, 0}, {-3, 0}, {0, 0}, {2, 2}, {3, 3}, {5, 3}};
    for (const auto &c : cases) {
        MC_LCA lca{};
        lca.updateNeeded = 1;
        lca.aShift[0] = static_cast<QOR_UINT8>(c.shift);
        lca.aShift[1] = static_cast<QOR_UINT8>(c.shift);
        CI_MODULE_LCA ci{};
        int mask = 0;
        ASSERT_EQ(MC_LCAConvert(&lca, &ci, &mask), QOR_RES_OK);
        EXPECT_EQ(ci.aShift[0], c.code) << c.shift;
        EXPECT_EQ(ci.aShift[1], c.code) << c.shift;
    }
}
