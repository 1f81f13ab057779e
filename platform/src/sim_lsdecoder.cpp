/* Decoder of the version-2 load structure: 317 little-endian words, fields hi:lo. */
#include "platform/sim_lsdecoder.h"

#include <cstring>

namespace {

class Words {
public:
    explicit Words(const QOR_UINT8 *p) : m_p(p) {}

    QOR_UINT32 word(unsigned offset) const {
        const QOR_UINT8 *b = m_p + offset;
        return QOR_UINT32(b[0]) | (QOR_UINT32(b[1]) << 8) | (QOR_UINT32(b[2]) << 16) | (QOR_UINT32(b[3]) << 24);
    }
    /** Unsigned field hi:lo of the word at offset. */
    QOR_UINT32 u(unsigned offset, unsigned hi, unsigned lo) const {
        const unsigned w = hi - lo + 1;
        const QOR_UINT32 v = word(offset) >> lo;
        return w >= 32 ? v : (v & ((1u << w) - 1u));
    }
    /** Two's complement field hi:lo, sign-extended. */
    QOR_INT32 s(unsigned offset, unsigned hi, unsigned lo) const {
        const unsigned w = hi - lo + 1;
        const QOR_UINT32 v = u(offset, hi, lo);
        const QOR_UINT32 sign = 1u << (w - 1);
        return static_cast<QOR_INT32>((v ^ sign)) - static_cast<QOR_INT32>(sign);
    }

private:
    const QOR_UINT8 *m_p;
};

template <typename T> T U(const Words &w, unsigned o, unsigned hi, unsigned lo) {
    return static_cast<T>(w.u(o, hi, lo));
}
template <typename T> T S(const Words &w, unsigned o, unsigned hi, unsigned lo) {
    return static_cast<T>(w.s(o, hi, lo));
}

void decodeBlackLevelAndRawLut(const Words &w, CI_PIPELINE *p) {
    CI_MODULE_BLC &blc = p->sBlackCorrection;
    blc.bRowAverage = U<QOR_UINT8>(w, 12, 0, 0);
    blc.bBlackFrame = U<QOR_UINT8>(w, 12, 8, 8);
    blc.ui16PixelMax = U<QOR_UINT16>(w, 16, 7, 0);
    blc.ui16RowReciprocal = U<QOR_UINT16>(w, 16, 25, 16);
    for (unsigned c = 0; c < 4; c++) {
        blc.i8FixedOffset[c] = S<QOR_INT8>(w, 20, 8 * c + 7, 8 * c);
    }
    const QOR_UINT32 code = w.u(24, 1, 0);
    p->sRawLUT.eMode = code == 3 ? CI_RLT_CUBIC : (code == 0 ? CI_RLT_DISABLED : CI_RLT_LINEAR);
    for (unsigned c = 0; c < 4; c++) {
        for (unsigned k = 0; k < 8; k++) {
            const unsigned o = 28 + 32 * c + 4 * k;
            p->sRawLUT.aPoints[c][2 * k] = U<QOR_UINT16>(w, o, 15, 0);
            p->sRawLUT.aPoints[c][2 * k + 1] = U<QOR_UINT16>(w, o, 31, 16);
        }
    }
    CI_MODULE_WBC &wbc = p->sWhiteBalance;
    wbc.aGain[0] = U<QOR_UINT16>(w, 196, 15, 0);
    wbc.aGain[1] = U<QOR_UINT16>(w, 196, 31, 16);
    wbc.aGain[2] = U<QOR_UINT16>(w, 200, 15, 0);
    wbc.aGain[3] = U<QOR_UINT16>(w, 200, 31, 16);
    wbc.aClip[0] = U<QOR_UINT16>(w, 204, 12, 0);
    wbc.aClip[1] = U<QOR_UINT16>(w, 204, 28, 16);
    wbc.aClip[2] = U<QOR_UINT16>(w, 208, 12, 0);
    wbc.aClip[3] = U<QOR_UINT16>(w, 208, 28, 16);
}

void decodeDenoiseDefectsAberration(const Words &w, CI_PIPELINE *p) {
    CI_MODULE_DNS &dns = p->sDenoiser;
    // 21 points in pairs: 244..256 (points 0-7), 260..268 (8-13), 272..280 (14-19), 284 (20)
    for (unsigned i = 0; i < 20; i += 2) {
        const unsigned o = 244 + 2 * i;
        dns.aPixThresLUT[i] = U<QOR_UINT16>(w, o, 12, 0);
        dns.aPixThresLUT[i + 1] = U<QOR_UINT16>(w, o, 28, 16);
    }
    dns.aPixThresLUT[20] = U<QOR_UINT16>(w, 284, 12, 0);
    dns.bCombineChannels = U<QOR_UINT8>(w, 288, 0, 0);
    dns.i8Log2PixThresh = S<QOR_INT8>(w, 288, 6, 1);

    CI_MODULE_DPF &dpf = p->sDefectivePixels;
    dpf.eDPFEnable = w.u(292, 0, 0) ? CI_DPF_DETECT_ENABLED : 0;
    dpf.ui8Threshold = U<QOR_UINT8>(w, 296, 7, 0);
    dpf.ui8Weight = U<QOR_UINT8>(w, 296, 21, 16);
    dpf.ui8PositiveThreshold = U<QOR_UINT8>(w, 304, 7, 0);
    dpf.ui8NegativeThreshold = U<QOR_UINT8>(w, 304, 23, 16);

    CI_MODULE_LCA &lca = p->sChromaAberration;
    for (unsigned k = 0; k < 3; k++) {
        lca.aCoeffRed[k][0] = S<QOR_INT16>(w, 308 + 8 * k, 11, 0);
        lca.aCoeffRed[k][1] = S<QOR_INT16>(w, 308 + 8 * k, 27, 16);
        lca.aCoeffBlue[k][0] = S<QOR_INT16>(w, 312 + 8 * k, 11, 0);
        lca.aCoeffBlue[k][1] = S<QOR_INT16>(w, 312 + 8 * k, 27, 16);
    }
    lca.aOffsetRed[0] = U<QOR_UINT16>(w, 332, 13, 0);
    lca.aOffsetRed[1] = U<QOR_UINT16>(w, 332, 29, 16);
    lca.aOffsetBlue[0] = U<QOR_UINT16>(w, 336, 13, 0);
    lca.aOffsetBlue[1] = U<QOR_UINT16>(w, 336, 29, 16);
    lca.aDec[0] = U<QOR_UINT8>(w, 340, 3, 0);
    lca.aShift[0] = U<QOR_UINT8>(w, 340, 9, 8);
    lca.aDec[1] = U<QOR_UINT8>(w, 340, 19, 16);
    lca.aShift[1] = U<QOR_UINT8>(w, 340, 25, 24);
}

void decodeGamutMapper(const Words &w, unsigned base, CI_MODULE_GAMUTMAPPER *gm) {
    gm->i16ClipMin = S<QOR_INT16>(w, base, 11, 0);
    gm->ui16ClipMax = U<QOR_UINT16>(w, base, 27, 16);
    gm->ui16SrcNorm = U<QOR_UINT16>(w, base + 4, 11, 0);
    gm->aSlope[0] = U<QOR_UINT16>(w, base + 8, 11, 0);
    gm->aSlope[1] = U<QOR_UINT16>(w, base + 8, 27, 16);
    gm->aSlope[2] = U<QOR_UINT16>(w, base + 12, 11, 0);
    for (unsigned k = 0; k < 4; k++) {
        gm->aCoeff[k] = S<QOR_INT16>(w, base + 16, 8 * k + 7, 8 * k);
    }
    gm->aCoeff[4] = S<QOR_INT16>(w, base + 20, 7, 0);
    gm->aCoeff[5] = S<QOR_INT16>(w, base + 20, 15, 8);
}

void decodePlaneConverter(const Words &w, unsigned base, unsigned offsetHi, CI_MODULE_PLANECONV *pc) {
    for (unsigned r = 0; r < 3; r++) {
        pc->aCoeff[r][0] = S<QOR_INT16>(w, base + 8 * r, 11, 0);
        pc->aCoeff[r][1] = S<QOR_INT16>(w, base + 8 * r, 27, 16);
        pc->aCoeff[r][2] = S<QOR_INT16>(w, base + 8 * r + 4, 11, 0);
        pc->aOffset[r] = S<QOR_INT16>(w, base + 8 * r + 4, offsetHi, 16);
    }
}

void decodeColour(const Words &w, CI_PIPELINE *p) {
    CI_MODULE_WBC &wbc = p->sWhiteBalance;
    for (unsigned k = 0; k < 3; k++) {
        wbc.aRGBGain[k] = U<QOR_UINT8>(w, 344, 8 * k + 7, 8 * k);
        wbc.aRGBThreshold[k] = U<QOR_UINT16>(w, 348, 10 * k + 8, 10 * k);
    }
    wbc.eRGBThresholdMode = w.u(348, 30, 30) ? WBC_THRESHOLD : WBC_SATURATION;

    CI_MODULE_CCM &ccm = p->sColourCorrection;
    for (unsigned r = 0; r < 3; r++) {
        ccm.aCoeff[r][0] = S<QOR_INT16>(w, 352 + 8 * r, 11, 0);
        ccm.aCoeff[r][1] = S<QOR_INT16>(w, 352 + 8 * r, 27, 16);
        ccm.aCoeff[r][2] = S<QOR_INT16>(w, 356 + 8 * r, 11, 0);
        ccm.aCoeff[r][3] = S<QOR_INT16>(w, 356 + 8 * r, 27, 16);
    }
    ccm.aOffset[0] = S<QOR_INT16>(w, 376, 11, 0);
    ccm.aOffset[1] = S<QOR_INT16>(w, 376, 27, 16);
    ccm.aOffset[2] = S<QOR_INT16>(w, 380, 11, 0);

    decodeGamutMapper(w, 384, &p->sMainGamutMapper);
    p->sGammaCorrection.bBypass = U<QOR_UINT8>(w, 456, 0, 0);
    decodePlaneConverter(w, 496, 25, &p->sRGBToYCC);
}

void decodeEnhancerAndToneMapper(const Words &w, CI_PIPELINE *p) {
    CI_MODULE_MIE &mie = p->sImageEnhancer;
    mie.bMemoryColour = U<QOR_UINT8>(w, 532, 0, 0);
    mie.bVibrancy = U<QOR_UINT8>(w, 532, 1, 1);
    mie.ui16BlackLevel = U<QOR_UINT16>(w, 532, 11, 2);
    for (unsigned k = 0; k < 16; k++) {
        mie.aVibrancySatMul[2 * k] = U<QOR_UINT16>(w, 536 + 4 * k, 11, 0);
        mie.aVibrancySatMul[2 * k + 1] = U<QOR_UINT16>(w, 536 + 4 * k, 27, 16);
    }
    for (unsigned k = 0; k < 3; k++) {
        mie.aYOffset[k] = S<QOR_INT16>(w, 600 + 4 * k, 13, 0);
        mie.aYScale[k] = U<QOR_UINT8>(w, 600 + 4 * k, 19, 14);
        mie.aCOffset[k] = S<QOR_INT16>(w, 612 + 4 * k, 9, 0);
        mie.aCScale[k] = U<QOR_UINT8>(w, 612 + 4 * k, 17, 10);
        mie.aRot[2 * k] = S<QOR_INT8>(w, 624 + 4 * k, 7, 0);
        mie.aRot[2 * k + 1] = S<QOR_INT8>(w, 624 + 4 * k, 15, 8);
        mie.aGaussMinY[k] = U<QOR_UINT16>(w, 636 + 4 * k, 9, 0);
        mie.aGaussScaleY[k] = U<QOR_UINT8>(w, 636 + 4 * k, 23, 16);
        mie.aGaussCB[k] = S<QOR_INT8>(w, 648 + 4 * k, 9, 0);
        mie.aGaussCR[k] = S<QOR_INT8>(w, 648 + 4 * k, 25, 16);
        mie.aGaussRot[2 * k] = S<QOR_INT8>(w, 660 + 4 * k, 7, 0);
        mie.aGaussRot[2 * k + 1] = S<QOR_INT8>(w, 660 + 4 * k, 15, 8);
        mie.aGaussKB[k] = U<QOR_UINT8>(w, 672 + 4 * k, 7, 0);
        mie.aGaussKR[k] = U<QOR_UINT8>(w, 672 + 4 * k, 15, 8);
    }
    for (unsigned j = 0; j < 6; j++) {
        mie.aGaussScale[2 * j] = U<QOR_UINT8>(w, 684 + 4 * j, 7, 0);
        mie.aGaussScale[2 * j + 1] = U<QOR_UINT8>(w, 684 + 4 * j, 15, 8);
        mie.aGaussGain[2 * j] = U<QOR_UINT8>(w, 708 + 4 * j, 7, 0);
        mie.aGaussGain[2 * j + 1] = U<QOR_UINT8>(w, 708 + 4 * j, 23, 16);
    }

    CI_MODULE_TNM &tnm = p->sToneMapping;
    for (unsigned k = 0; k < 31; k++) {
        tnm.aCurve[2 * k] = U<QOR_UINT16>(w, 732 + 4 * k, 11, 0);
        tnm.aCurve[2 * k + 1] = U<QOR_UINT16>(w, 732 + 4 * k, 27, 16);
    }
    tnm.aCurve[62] = U<QOR_UINT16>(w, 856, 11, 0);
    tnm.bBypassTNM = U<QOR_UINT8>(w, 860, 0, 0);
    tnm.histFlattenMin = U<QOR_UINT16>(w, 864, 10, 0);
    tnm.histFlattenThreshold[0] = U<QOR_UINT16>(w, 864, 26, 16);
    tnm.histFlattenThreshold[1] = U<QOR_UINT16>(w, 868, 15, 0);
    tnm.histNormLastFactor = U<QOR_UINT16>(w, 872, 15, 0);
    tnm.histNormFactor = U<QOR_UINT16>(w, 872, 31, 16);
    tnm.chromaSaturationScale = U<QOR_UINT16>(w, 876, 11, 0);
    tnm.chromaConfigurationScale = U<QOR_UINT16>(w, 876, 31, 16);
    tnm.chromaIOScale = U<QOR_UINT16>(w, 880, 15, 0);
    tnm.localColWidth[0] = U<QOR_UINT16>(w, 884, 13, 0);
    tnm.localColWidth[1] = U<QOR_UINT16>(w, 884, 31, 16);
    tnm.columnsIdx = U<QOR_UINT16>(w, 888, 6, 0);
    tnm.localColumns = U<QOR_UINT16>(w, 888, 20, 16);
    tnm.localWeights = U<QOR_UINT16>(w, 892, 9, 0);
    tnm.updateWeights = U<QOR_UINT16>(w, 892, 31, 16);
    tnm.inputLumaOffset = U<QOR_UINT16>(w, 896, 11, 0);
    tnm.inputLumaScale = U<QOR_UINT16>(w, 896, 31, 16);
    tnm.outputLumaOffset = U<QOR_UINT16>(w, 900, 11, 0);
    tnm.outputLumaScale = U<QOR_UINT16>(w, 900, 31, 16);
}

void decodeSharpening(const Words &w, CI_PIPELINE *p) {
    CI_MODULE_SHA &sha = p->sSharpening;
    sha.ui8Threshold = U<QOR_UINT8>(w, 924, 7, 0);
    sha.ui8Strength = U<QOR_UINT8>(w, 924, 15, 8);
    sha.ui8Detail = U<QOR_UINT8>(w, 924, 21, 16);
    sha.bDenoiseBypass = U<QOR_UINT8>(w, 924, 22, 22);
    sha.aGainWeight[0] = U<QOR_UINT8>(w, 928, 5, 0);
    sha.aGainWeight[1] = U<QOR_UINT8>(w, 928, 11, 6);
    sha.aGainWeight[2] = U<QOR_UINT8>(w, 928, 17, 12);
    sha.ui8ELWScale = U<QOR_UINT8>(w, 932, 7, 0);
    sha.i8ELWOffset = S<QOR_INT8>(w, 932, 14, 8);
    for (unsigned k = 0; k < 7; k++) {
        const unsigned o = k < 4 ? 0 : 4;
        const unsigned b = 8 * (k % 4);
        sha.aDNSimil[k] = U<QOR_UINT8>(w, 936 + o, b + 7, b);
        sha.aDNAvoid[k] = U<QOR_UINT8>(w, 944 + o, b + 7, b);
    }
}

/* Tap words: fields given as (hi, lo) from bit 0 upwards; all taps are two's complement. */
struct TapField {
    unsigned hi, lo;
};

void decodeTaps(const Words &w, unsigned offset, const TapField *fields, unsigned n, QOR_INT8 *out) {
    for (unsigned i = 0; i < n; i++) {
        out[i] = S<QOR_INT8>(w, offset, fields[i].hi, fields[i].lo);
    }
}

const TapField k3Then7[4] = {{4, 0}, {12, 8}, {21, 16}, {30, 24}};  // 5, 5, 6, 7 bits
const TapField k7Then3[4] = {{6, 0}, {13, 8}, {20, 16}, {28, 24}};  // 7, 6, 5, 5 bits
const TapField kAll4[4] = {{3, 0}, {11, 8}, {19, 16}, {27, 24}};    // 4 bits each
const TapField kChroma4[4] = {{5, 0}, {14, 8}, {22, 16}, {29, 24}}; // 6, 7, 7, 6 bits
const TapField kChroma2[2] = {{6, 0}, {14, 8}};                     // 7, 7 bits

void decodeEncoderScaler(const Words &w, CI_MODULE_SCALER *sc) {
    sc->bIsDisplay = 0;
    sc->aPitch[1] = w.word(952);
    sc->aOutputSize[1] = U<QOR_UINT16>(w, 956, 14, 0);
    sc->aOffset[1] = U<QOR_UINT16>(w, 956, 30, 16);
    sc->bOutput422 = U<QOR_UINT8>(w, 956, 31, 31);
    for (unsigned ph = 0; ph < 4; ph++) {
        decodeTaps(w, 968 + 8 * ph, k3Then7, 4, &sc->VLuma[8 * ph]);
        decodeTaps(w, 972 + 8 * ph, k7Then3, 4, &sc->VLuma[8 * ph + 4]);
        decodeTaps(w, 1000 + 4 * ph, kChroma4, 4, &sc->VChroma[4 * ph]);
        decodeTaps(w, 1016 + 16 * ph, kAll4, 4, &sc->HLuma[16 * ph]);
        decodeTaps(w, 1020 + 16 * ph, k3Then7, 4, &sc->HLuma[16 * ph + 4]);
        decodeTaps(w, 1024 + 16 * ph, k7Then3, 4, &sc->HLuma[16 * ph + 8]);
        decodeTaps(w, 1028 + 16 * ph, kAll4, 4, &sc->HLuma[16 * ph + 12]);
        decodeTaps(w, 1080 + 8 * ph, k3Then7, 4, &sc->HChroma[8 * ph]);
        decodeTaps(w, 1084 + 8 * ph, k7Then3, 4, &sc->HChroma[8 * ph + 4]);
    }
    sc->aPitch[0] = w.word(1112);
    sc->aOutputSize[0] = U<QOR_UINT16>(w, 1116, 13, 1);
    sc->aOffset[0] = U<QOR_UINT16>(w, 1116, 29, 16);
    sc->bChromaInter = U<QOR_UINT8>(w, 1116, 30, 30);
    sc->bBypassScaler = U<QOR_UINT8>(w, 1116, 31, 31);
}

void decodeDisplayScaler(const Words &w, CI_MODULE_SCALER *sc) {
    sc->bIsDisplay = 1;
    sc->aPitch[1] = w.word(960);
    sc->aOutputSize[1] = U<QOR_UINT16>(w, 964, 14, 0);
    sc->aOffset[1] = U<QOR_UINT16>(w, 964, 30, 16);
    for (unsigned ph = 0; ph < 4; ph++) {
        decodeTaps(w, 1132 + 4 * ph, kChroma4, 4, &sc->VLuma[4 * ph]);
        decodeTaps(w, 1148 + 4 * ph, kChroma2, 2, &sc->VChroma[2 * ph]);
        decodeTaps(w, 1164 + 8 * ph, k3Then7, 4, &sc->HLuma[8 * ph]);
        decodeTaps(w, 1168 + 8 * ph, k7Then3, 4, &sc->HLuma[8 * ph + 4]);
        decodeTaps(w, 1196 + 4 * ph, kChroma4, 4, &sc->HChroma[4 * ph]);
    }
    sc->aPitch[0] = w.word(1212);
    sc->aOutputSize[0] = U<QOR_UINT16>(w, 1216, 13, 1);
    sc->aOffset[0] = U<QOR_UINT16>(w, 1216, 29, 16);
    sc->bBypassScaler = U<QOR_UINT8>(w, 1216, 31, 31);
}

void decodeStatistics(const Words &w, CI_PIPELINE_STATS *st) {
    CI_MODULE_EXS &exs = st->sExposureStats;
    exs.ui16Left = U<QOR_UINT16>(w, 0, 15, 0);
    exs.ui16Top = U<QOR_UINT16>(w, 0, 31, 16);
    exs.ui16Width = U<QOR_UINT16>(w, 4, 13, 0);
    exs.ui16Height = U<QOR_UINT16>(w, 4, 29, 16);
    exs.ui16PixelMax = U<QOR_UINT16>(w, 8, 11, 0);

    CI_MODULE_AWS &aws = st->sAutoWhiteBalanceStats;
    aws.ui16GridStartColumn = U<QOR_UINT16>(w, 156, 15, 0);
    aws.ui16GridStartRow = U<QOR_UINT16>(w, 156, 31, 16);
    aws.ui16GridTileWidth = U<QOR_UINT16>(w, 160, 11, 0);
    aws.ui16GridTileHeight = U<QOR_UINT16>(w, 160, 27, 16);
    // log2 quantum efficiencies are S8.5: sign-extended into the 16-bit fields
    aws.ui16Log2_R_Qeff = static_cast<QOR_UINT16>(S<QOR_INT16>(w, 164, 12, 0));
    aws.ui16Log2_B_Qeff = static_cast<QOR_UINT16>(S<QOR_INT16>(w, 164, 28, 16));
    aws.ui16RedDarkThresh = U<QOR_UINT16>(w, 168, 15, 0);
    aws.ui16GreenDarkThresh = U<QOR_UINT16>(w, 168, 31, 16);
    aws.ui16BlueDarkThresh = U<QOR_UINT16>(w, 172, 15, 0);
    aws.ui16RedClipThresh = U<QOR_UINT16>(w, 172, 31, 16);
    aws.ui16GreenClipThresh = U<QOR_UINT16>(w, 176, 15, 0);
    aws.ui16BlueClipThresh = U<QOR_UINT16>(w, 176, 31, 16);
    aws.ui16BbDist = U<QOR_UINT16>(w, 180, 11, 0);
    aws.bDebugBitmap = U<QOR_UINT8>(w, 184, 0, 0);

    CI_MODULE_FOS &fos = st->sFocusStats;
    fos.ui16Left = U<QOR_UINT16>(w, 228, 15, 0);
    fos.ui16Top = U<QOR_UINT16>(w, 228, 31, 16);
    fos.ui16Width = U<QOR_UINT16>(w, 232, 13, 0);
    fos.ui16Height = U<QOR_UINT16>(w, 232, 29, 16);
    fos.ui16ROILeft = U<QOR_UINT16>(w, 236, 15, 1);
    fos.ui16ROITop = U<QOR_UINT16>(w, 236, 30, 16);
    fos.ui16ROIRight = U<QOR_UINT16>(w, 240, 14, 0);
    fos.ui16ROIBottom = U<QOR_UINT16>(w, 240, 30, 16);

    CI_MODULE_WBS &wbs = st->sWhiteBalanceStats;
    for (unsigned k = 0; k < 2; k++) {
        wbs.aRoiLeft[k] = U<QOR_UINT16>(w, 460 + 4 * k, 14, 0);
        wbs.aRoiTop[k] = U<QOR_UINT16>(w, 460 + 4 * k, 30, 16);
        wbs.aRoiRight[k] = U<QOR_UINT16>(w, 468 + 4 * k, 14, 0);
        wbs.aRoiBottom[k] = U<QOR_UINT16>(w, 468 + 4 * k, 30, 16);
        wbs.aRMax[k] = U<QOR_UINT16>(w, 480 + 4 * k, 11, 0);
        wbs.aGMax[k] = U<QOR_UINT16>(w, 480 + 4 * k, 23, 12);
        wbs.aBMax[k] = U<QOR_UINT16>(w, 488 + 4 * k, 11, 0);
        wbs.aYMax[k] = U<QOR_UINT16>(w, 488 + 4 * k, 23, 12);
    }
    wbs.ui8ActiveROI = U<QOR_UINT8>(w, 476, 0, 0);
    wbs.ui16RGBOffset = S<QOR_INT16>(w, 476, 16, 4);
    wbs.ui16YOffset = S<QOR_INT16>(w, 476, 30, 18);

    CI_MODULE_HIS &his = st->sHistStats;
    his.ui16InputOffset = U<QOR_UINT16>(w, 520, 9, 0);
    his.ui16InputScale = U<QOR_UINT16>(w, 520, 31, 16);
    his.ui16Left = U<QOR_UINT16>(w, 524, 13, 0);
    his.ui16Top = U<QOR_UINT16>(w, 524, 29, 16);
    his.ui16Width = U<QOR_UINT16>(w, 528, 13, 0);
    his.ui16Height = U<QOR_UINT16>(w, 528, 29, 16);

    CI_MODULE_FLD &fld = st->sFlickerStats;
    fld.ui16FracStep50 = U<QOR_UINT16>(w, 904, 14, 0);
    fld.ui16FracStep60 = U<QOR_UINT16>(w, 904, 30, 16);
    fld.ui16CoefDiff = U<QOR_UINT16>(w, 908, 14, 0);
    fld.ui16NFThreshold = U<QOR_UINT16>(w, 908, 30, 16);
    fld.ui32SceneChange = w.u(912, 19, 0);
    fld.ui8RShift = U<QOR_UINT8>(w, 916, 5, 0);
    fld.ui8MinPN = U<QOR_UINT8>(w, 916, 11, 6);
    fld.ui8PN = U<QOR_UINT8>(w, 916, 17, 12);
    fld.bReset = U<QOR_UINT8>(w, 920, 0, 0);

    st->sEncStats.ui8Log2NCouples = U<QOR_UINT8>(w, 1124, 2, 0);
    st->sEncStats.ui8SubExp = U<QOR_UINT8>(w, 1128, 2, 0);
}

} // namespace

QOR_RESULT SimLS_Decode(const QOR_UINT8 *pLoadStructure, size_t size, CI_PIPELINE *pOut) {
    if (pLoadStructure == nullptr || pOut == nullptr || size < 1268) {
        return QOR_RES_INVALID_PARAM;
    }
    const Words w(pLoadStructure);
    decodeBlackLevelAndRawLut(w, pOut);
    decodeDenoiseDefectsAberration(w, pOut);
    decodeColour(w, pOut);
    decodeEnhancerAndToneMapper(w, pOut);
    decodeSharpening(w, pOut);
    decodeEncoderScaler(w, &pOut->sEncoderScaler);
    decodeDisplayScaler(w, &pOut->sDisplayScaler);
    decodePlaneConverter(w, 1220, 26, &pOut->sYCCToRGB);
    decodeGamutMapper(w, 1244, &pOut->sDisplayGamutMapper);
    decodeStatistics(w, &pOut->stats);
    return QOR_RES_OK;
}
