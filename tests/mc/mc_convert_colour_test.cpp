#include <gtest/gtest.h>

#include <string>

#include "mc_test_support.h"

TEST(McGamutMapperConvert, ClipNormSlopesCoefficients) {
    MC_MGM mgm{};
    MC_MGMInit(&mgm);
    const double slopes[3] = {1.0, 1.25, 1.5};
    for (int k = 0; k < 3; k++) {
        mgm.aSlope[k] = slopes[k];
    }
    for (int k = 0; k < 6; k++) {
        mgm.aCoeff[k] = -0.5 + 0.3 * k;
    }
    for (int display = 0; display < 2; display++) {
        MC_GAMUTMAPPER block = mgm;
        CI_MODULE_GAMUTMAPPER ci{};
        int mask = 0;
        ASSERT_EQ(display ? MC_DGMConvert(&block, &ci, &mask) : MC_MGMConvert(&block, &ci, &mask), QOR_RES_OK);
        EXPECT_EQ(mask, display ? CI_UPD_GRP_6 : CI_UPD_GRP_2);
        EXPECT_EQ(ci.i16ClipMin, -512);
        EXPECT_EQ(ci.ui16ClipMax, 1536);
        EXPECT_EQ(ci.ui16SrcNorm, 1024);
        const QOR_UINT16 slopeCodes[3] = {1024, 1280, 1536};
        const QOR_INT16 coeffCodes[6] = {-32, -13, 6, 26, 45, 64};
        for (int k = 0; k < 3; k++) {
            EXPECT_EQ(ci.aSlope[k], slopeCodes[k]);
        }
        for (int k = 0; k < 6; k++) {
            EXPECT_EQ(ci.aCoeff[k], coeffCodes[k]) << k;
        }
    }
}

TEST(McPlaneConvert, DefaultsInTheirFormats) {
    MC_R2Y r2y{};
    MC_R2YInit(&r2y);
    MC_Y2R y2r{};
    MC_Y2RInit(&y2r);
    CI_MODULE_PLANECONV ciR{}, ciY{};
    int mask = 0;
    ASSERT_EQ(MC_R2YConvert(&r2y, &ciR, &mask), QOR_RES_OK);
    ASSERT_EQ(MC_Y2RConvert(&y2r, &ciY, &mask), QOR_RES_OK);
    EXPECT_EQ(mask, CI_UPD_GRP_2 | CI_UPD_GRP_6);
    EXPECT_EQ(ciR.aCoeff[1][1], 629); // S2.10 of 0.614
    EXPECT_EQ(ciR.aOffset[1], 2);     // S8.2 of 0.5
    EXPECT_EQ(ciY.aCoeff[0][0], 806); // S3.9 of 1.5748
    EXPECT_EQ(ciY.aOffset[1], -64);   // S9.2 of -16
}

TEST(McMieConvert, ReferenceCodes) {
    MC_MIE mie{};
    MC_MIEInit(&mie);
    mie.fBlackLevel = 16.3;
    mie.aVibrancySatMul[0] = 1.0;
    mie.aVibrancySatMul[1] = 1.484375;
    mie.aYOffset[0] = 0.1;
    mie.aCOffset[0] = 10.0;
    mie.aGaussMinY[0] = 0.05;
    mie.aGaussCB[0] = 0.3;  // -205: outside the 8-bit field, saturates
    mie.aGaussCR[0] = 0.55; // 50: fits
    mie.aGaussCB[1] = 0.9;  // 408: saturates high
    mie.aGaussScale[0] = 300.7;
    mie.aGaussGain[0] = 0.5;
    CI_MODULE_MIE ci{};
    int mask = 0;
    ASSERT_EQ(MC_MIEConvert(&mie, &ci, nullptr, &mask), QOR_RES_OK);
    EXPECT_EQ(mask, CI_UPD_GRP_3);
    EXPECT_EQ(ci.ui16BlackLevel, 65);
    EXPECT_EQ(ci.aVibrancySatMul[0], 256);
    EXPECT_EQ(ci.aVibrancySatMul[1], 380);
    EXPECT_EQ(ci.aYOffset[0], -6553);
    EXPECT_EQ(ci.aCOffset[0], 20);
    EXPECT_EQ(ci.aGaussMinY[0], 51);
    EXPECT_EQ(ci.aGaussCB[0], -128);
    EXPECT_EQ(ci.aGaussCR[0], 50);
    EXPECT_EQ(ci.aGaussCB[1], 127);
    EXPECT_EQ(ci.aGaussScale[0], 255);
    EXPECT_EQ(ci.aGaussGain[0], 128);
}

TEST(McTnmConvert, ColumnsAndFlattening) {
    struct Case {
        QOR_UINT16 widthCells;
        QOR_UINT16 columns;
        double threshold;
        QOR_UINT16 colWidth, colRecip, norm, lastNorm, thresh0, thresh1, ciColumns;
    };
    const Case cases[] = {
        {960, 16, 0.25, 120, 546, 273, 273, 512, 5461, 15},
        {960, 16, 0.0, 120, 546, 273, 273, 0, 4096, 15},
        // no column: taken as one instead of dividing by zero
        {960, 0, 0.0, 1920, 34, 17, 17, 0, 4096, 0},
        // too many columns for the 5-bit register: limited to 32
        {960, 40, 0.0, 60, 1092, 546, 546, 0, 4096, 31},
        // 8 columns of ceil(10/8) = 2 pixels leave nothing for the last one: no norm
        {5, 8, 0.0, 2, 32768, 16384, 0, 0, 4096, 7},
    };
    for (const Case &c : cases) {
        MC_IIF iif{};
        MC_IIFInit(&iif);
        iif.ui16ImagerSize[0] = c.widthCells;
        MC_TNM tnm{};
        MC_TNMInit(&tnm, &iif, nullptr);
        tnm.ui16LocalColumns = c.columns;
        tnm.histFlattenThreshold = c.threshold;
        CI_MODULE_TNM ci{};
        int mask = 0;
        ASSERT_EQ(MC_TNMConvert(&tnm, &iif, 2, &ci, &mask), QOR_RES_OK);
        EXPECT_EQ(mask, CI_UPD_GRP_3);
        EXPECT_EQ(ci.localColWidth[0], c.colWidth) << c.columns;
        EXPECT_EQ(ci.localColWidth[1], c.colRecip) << c.columns;
        EXPECT_EQ(ci.histNormFactor, c.norm) << c.columns;
        EXPECT_EQ(ci.histNormLastFactor, c.lastNorm) << c.columns;
        EXPECT_EQ(ci.histFlattenThreshold[0], c.thresh0);
        EXPECT_EQ(ci.histFlattenThreshold[1], c.thresh1);
        EXPECT_EQ(ci.localColumns, c.ciColumns);
        EXPECT_EQ(ci.aCurve[62], 2016); // U1.11 of 63/64
        EXPECT_EQ(ci.inputLumaScale, 4112);
        EXPECT_EQ(ci.outputLumaOffset, 256);
        EXPECT_EQ(ci.outputLumaScale, 3520);
    }
}

TEST(McShaConvert, TruncatedIntegersAndDenoiseBypass) {
    MC_SHA sha{};
    MC_SHAInit(&sha);
    sha.fStrength = 5.7;
    sha.aGainWeigth[0] = 0.3;
    sha.aGainWeigth[1] = 1.4;
    sha.aGainWeigth[2] = 2.5;
    sha.bDenoise = 1;
    sha.i16ELWOffset = 300;
    CI_MODULE_SHA ci{};
    int mask = 0;
    ASSERT_EQ(MC_SHAConvert(&sha, &ci, nullptr, &mask), QOR_RES_OK);
    EXPECT_EQ(mask, CI_UPD_GRP_4);
    EXPECT_EQ(ci.ui8Strength, 5);
    EXPECT_EQ(ci.aGainWeight[0], 0);
    EXPECT_EQ(ci.aGainWeight[1], 1);
    EXPECT_EQ(ci.aGainWeight[2], 2);
    EXPECT_EQ(ci.bDenoiseBypass, 0);
    EXPECT_EQ(ci.ui8Detail, 63); // U0.6 of 1.0 saturates
    EXPECT_EQ(ci.ui8ELWScale, 4);
    EXPECT_EQ(ci.i8ELWOffset, 63); // the 7-bit field's maximum, not the low bits of 300
}

// The edge offset field holds 7 signed bits and the strength, edge scale and weights 8 unsigned bits:
// values beyond them saturate (the offset with a message) instead of wrapping to another value.
TEST(McShaConvert, OutOfRangeValuesSaturate) {
    const struct {
        QOR_INT16 offset;
        double strength;
        QOR_INT8 ciOffset;
        QOR_UINT8 ciStrength;
        bool message;
    } cases[] = {
        {63, 255.9, 63, 255, false}, {-64, 0.0, -64, 0, false}, {64, 256.0, 63, 255, true},
        {100, 1e9, 63, 255, true},   {-65, -3.0, -64, 0, true},
    };
    for (const auto &c : cases) {
        MC_SHA sha{};
        MC_SHAInit(&sha);
        sha.i16ELWOffset = c.offset;
        sha.fStrength = c.strength;
        CI_MODULE_SHA ci{};
        int mask = 0;
        testing::internal::CaptureStderr();
        ASSERT_EQ(MC_SHAConvert(&sha, &ci, nullptr, &mask), QOR_RES_OK);
        const std::string log = testing::internal::GetCapturedStderr();
        EXPECT_EQ(ci.i8ELWOffset, c.ciOffset) << c.offset;
        EXPECT_EQ(ci.ui8Strength, c.ciStrength) << c.strength;
        EXPECT_EQ(log.find("does not fit the register") != std::string::npos, c.message) << c.offset << ": " << log;
    }
}

TEST(McScalerConvert, EncoderAndDisplayCases) {
    struct Case {
        bool display;
        QOR_UINT16 width, height;
        double hPitch, vPitch;
        QOR_BOOL8 bypass, output422;
        QOR_RESULT result;
        QOR_UINT16 ciWidth, ciHeight;
        QOR_UINT32 ciHPitch, ciVPitch;
    };
    const Case cases[] = {
        {false, 1280, 720, 1.5, 1.5, 0, 0, QOR_RES_OK, 639, 719, 49152, 49152},
        {false, 1280, 720, 1.5, 0.9, 0, 0, QOR_RES_NOT_SUPPORTED, 639, 719, 0, 0},
        {false, 1280, 721, 1.5, 1.5, 0, 0, QOR_RES_FAILED, 639, 720, 49152, 49152},
        {false, 1280, 721, 1.5, 1.5, 0, 1, QOR_RES_OK, 639, 720, 49152, 49152},
        {true, 1280, 721, 2.0, 1.0, 0, 0, QOR_RES_OK, 639, 720, 65536, 32768},
        {true, 1, 0, 2.0, 1.0, 1, 0, QOR_RES_OK, 0, 0, 65536, 32768},
    };
    for (const Case &c : cases) {
        CI_MODULE_SCALER ci{};
        ci.bIsDisplay = c.display;
        ci.HLuma[0] = 99; // untouched when bypassed
        int mask = 0;
        QOR_RESULT ret;
        if (c.display) {
            MC_DSC dsc{};
            dsc.updateNeeded = 1;
            dsc.bAdjustCutoff = 1;
            dsc.bBypassDSC = c.bypass;
            dsc.aOutputSize[0] = c.width;
            dsc.aOutputSize[1] = c.height;
            dsc.aPitch[0] = c.hPitch;
            dsc.aPitch[1] = c.vPitch;
            ret = MC_DSCConvert(&dsc, &ci, &mask);
            EXPECT_EQ(mask, CI_UPD_GRP_6);
        } else {
            MC_ESC esc{};
            esc.updateNeeded = 1;
            esc.bAdjustCutoff = 1;
            esc.bBypassESC = c.bypass;
            esc.aOutputSize[0] = c.width;
            esc.aOutputSize[1] = c.height;
            esc.aPitch[0] = c.hPitch;
            esc.aPitch[1] = c.vPitch;
            ret = MC_ESCConvert(&esc, &ci, c.output422, &mask);
            EXPECT_EQ(mask, CI_UPD_GRP_5);
        }
        EXPECT_EQ(ret, c.result) << c.width << "x" << c.height;
        EXPECT_EQ(ci.aOutputSize[0], c.ciWidth);
        EXPECT_EQ(ci.aOutputSize[1], c.ciHeight);
        EXPECT_EQ(ci.aPitch[0], c.ciHPitch);
        EXPECT_EQ(ci.aPitch[1], c.ciVPitch);
        if (c.bypass) {
            EXPECT_EQ(ci.HLuma[0], 99);
        }
    }
}

TEST(McHdrConvert, ComparesBeforeItStores) {
    std::unique_ptr<MC_HDR> hdr(new MC_HDR());
    MC_HDRInit(hdr.get());
    hdr->aWeightCurve[100] = 1.5;
    hdr->aTNMCurve[3000] = 0.5;
    hdr->fExposureRatio = 16.0;
    MC_WBC wbc{};
    MC_WBCInit(&wbc);
    std::unique_ptr<CI_MODULE_HDR> ci(new CI_MODULE_HDR());
    int mask = 0;
    ASSERT_EQ(MC_HDRConvert(hdr.get(), &wbc, ci.get(), &mask), QOR_RES_OK);
    EXPECT_EQ(mask, CI_UPD_HDR);
    EXPECT_EQ(ci->bUpdateWeight, 1);
    EXPECT_EQ(ci->bUpdateTNM, 1);
    EXPECT_EQ(ci->aWeightCurve[100], 384);
    EXPECT_EQ(ci->aTNMCurve[3000], 2048);
    EXPECT_EQ(ci->ui16ExposureRatio, 4096);
    EXPECT_EQ(ci->aWBCGains[0], 1024);
    hdr->updateNeeded = 1;
    ASSERT_EQ(MC_HDRConvert(hdr.get(), &wbc, ci.get(), &mask), QOR_RES_OK);
    EXPECT_EQ(ci->bUpdateWeight, 0);
    EXPECT_EQ(ci->bUpdateTNM, 0);
}
