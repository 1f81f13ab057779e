/*
 * Software model of the ISP blocks: imager window, black level, raw look-up table, lens shading, white-balance
 * gains and clips, demosaic, colour correction, gamut mapping, gamma, RGB to YUV, tone mapping, scalers, YUV to
 * RGB, display gamut mapping and output packing, with the statistics tapped where the hardware taps them.
 * Conventions: platform/isp-model.md.
 */
#include "platform/sim_isp_model.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "norvacommon/ci_alloc_info.h"
#include "norvacommon/userlog.h"
#include "sim_isp_pack.h"

namespace norva_sim {

namespace {

constexpr const char *kTag = "SIM_ISP";
constexpr int kGrid = 7;
enum Colour { kRed = 0, kGreen = 1, kBlue = 2 };

/** Colour of each position of the 2×2 cell, [row][column], for a Bayer order. */
void cellColours(MOSAICType mosaic, int colour[2][2]) {
    switch (mosaic) {
    case MOSAIC_GRBG:
        colour[0][0] = kGreen, colour[0][1] = kRed, colour[1][0] = kBlue, colour[1][1] = kGreen;
        break;
    case MOSAIC_GBRG:
        colour[0][0] = kGreen, colour[0][1] = kBlue, colour[1][0] = kRed, colour[1][1] = kGreen;
        break;
    case MOSAIC_BGGR:
        colour[0][0] = kBlue, colour[0][1] = kGreen, colour[1][0] = kGreen, colour[1][1] = kRed;
        break;
    default: // RGGB
        colour[0][0] = kRed, colour[0][1] = kGreen, colour[1][0] = kGreen, colour[1][1] = kBlue;
        break;
    }
}

/** Offset of the centred demosaic outputs. */
constexpr int32_t kCentre = 32768;

inline int32_t clampi(int32_t v, int32_t lo, int32_t hi) { return v < lo ? lo : (v > hi ? hi : v); }

/** std::min(std::max(v, lo), hi) on values, which the compiler can vectorize. */
inline float clampf(float v, float lo, float hi) {
    const float m = v < lo ? lo : v;
    return hi < m ? hi : m;
}

inline void put32(uint8_t *base, size_t offset, uint64_t value) {
    const uint32_t v = value > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<uint32_t>(value);
    base[offset] = static_cast<uint8_t>(v);
    base[offset + 1] = static_cast<uint8_t>(v >> 8);
    base[offset + 2] = static_cast<uint8_t>(v >> 16);
    base[offset + 3] = static_cast<uint8_t>(v >> 24);
}

inline void put16(uint8_t *base, size_t offset, uint32_t value) {
    const uint32_t v = value > 0xFFFFu ? 0xFFFFu : value;
    base[offset] = static_cast<uint8_t>(v);
    base[offset + 1] = static_cast<uint8_t>(v >> 8);
}

/**
 * Piecewise curve through (0, 0) and the knots, evaluated at x in [0, 1]: linear, or a monotone cubic
 * (Fritsch-Carlson tangents) through the same knots. Past the last knot the last segment is extended.
 */
class Curve {
public:
    void set(const double *kx, const double *ky, int n, bool cubic) {
        m_n = n + 1;
        m_x[0] = 0.0;
        m_y[0] = 0.0;
        for (int i = 0; i < n; i++) {
            m_x[i + 1] = kx[i];
            m_y[i + 1] = ky[i];
        }
        m_cubic = cubic;
        if (!cubic) {
            return;
        }
        double d[kMax];
        for (int i = 0; i + 1 < m_n; i++) {
            d[i] = (m_y[i + 1] - m_y[i]) / (m_x[i + 1] - m_x[i]);
        }
        m_m[0] = d[0];
        m_m[m_n - 1] = d[m_n - 2];
        for (int i = 1; i + 1 < m_n; i++) {
            m_m[i] = (d[i - 1] * d[i] <= 0.0) ? 0.0 : (d[i - 1] + d[i]) / 2.0;
        }
        for (int i = 0; i + 1 < m_n; i++) {
            if (d[i] == 0.0) {
                m_m[i] = m_m[i + 1] = 0.0;
                continue;
            }
            const double a = m_m[i] / d[i];
            const double b = m_m[i + 1] / d[i];
            const double s = a * a + b * b;
            if (s > 9.0) {
                const double t = 3.0 / std::sqrt(s);
                m_m[i] = t * a * d[i];
                m_m[i + 1] = t * b * d[i];
            }
        }
    }

    double at(double x) const {
        int i = 0;
        while (i + 2 < m_n && x > m_x[i + 1]) {
            i++;
        }
        const double h = m_x[i + 1] - m_x[i];
        const double t = (x - m_x[i]) / h;
        if (!m_cubic || t > 1.0) {
            return m_y[i] + t * (m_y[i + 1] - m_y[i]);
        }
        const double t2 = t * t, t3 = t2 * t;
        return (2 * t3 - 3 * t2 + 1) * m_y[i] + (t3 - 2 * t2 + t) * h * m_m[i] + (-2 * t3 + 3 * t2) * m_y[i + 1] +
               (t3 - t2) * h * m_m[i + 1];
    }

private:
    static constexpr int kMax = 65;
    double m_x[kMax] = {}, m_y[kMax] = {}, m_m[kMax] = {};
    int m_n = 0;
    bool m_cubic = false;
};

/** Tile index of each coordinate along one axis of a 7-tile grid (-1 outside). */
void gridIndex(std::vector<int8_t> *index, uint32_t n, uint32_t start, uint32_t tile) {
    index->assign(n, -1);
    if (tile == 0) {
        return;
    }
    for (uint32_t i = start; i < n; i++) {
        const uint32_t t = (i - start) / tile;
        if (t >= uint32_t(kGrid)) {
            break;
        }
        (*index)[i] = static_cast<int8_t>(t);
    }
}

/** Columns [first, end) of each tile of a 7-tile grid that start inside n columns; returns their number. */
int gridRanges(uint32_t range[kGrid][2], uint32_t n, uint32_t start, uint32_t tile) {
    int count = 0;
    for (uint32_t t = 0; tile != 0 && t < uint32_t(kGrid) && start + uint64_t(t) * tile < n; t++, count++) {
        range[t][0] = start + t * tile;
        range[t][1] = uint32_t(std::min<uint64_t>(n, start + uint64_t(t + 1) * tile));
    }
    return count;
}

struct Scaler {
    bool identity = true;
    uint32_t outW = 0, outH = 0;
    uint32_t pitchX = 32768, pitchY = 32768;
    uint32_t offX = 0, offY = 0;
};

Scaler scalerOf(const CI_MODULE_SCALER &s, uint32_t inW, uint32_t inH) {
    Scaler sc;
    if (s.bBypassScaler) {
        sc.outW = inW;
        sc.outH = inH;
        return sc;
    }
    sc.outW = (uint32_t(s.aOutputSize[0]) + 1u) * 2u;
    sc.outH = uint32_t(s.aOutputSize[1]) + 1u;
    sc.pitchX = s.aPitch[0] == 0 ? 32768u : s.aPitch[0];
    sc.pitchY = s.aPitch[1] == 0 ? 32768u : s.aPitch[1];
    sc.offX = s.aOffset[0];
    sc.offY = s.aOffset[1];
    sc.identity = sc.pitchX == 32768u && sc.pitchY == 32768u && sc.offX == 0 && sc.offY == 0 && sc.outW <= inW;
    return sc;
}

} // namespace

IspImageSizes IspOutputSizes(const CI_PIPELINE &registers, const CI_PIPE_INFO &info) {
    IspImageSizes s;
    s.windowWidth = (uint32_t(info.iifConfig.ui16ImagerSize[0]) + 1u) * 2u;
    s.windowHeight = (uint32_t(info.iifConfig.ui16ImagerSize[1]) + 1u) * 2u;
    const Scaler enc = scalerOf(registers.sEncoderScaler, s.windowWidth, s.windowHeight);
    const Scaler disp = scalerOf(registers.sDisplayScaler, s.windowWidth, s.windowHeight);
    s.encoderWidth = enc.outW;
    s.encoderHeight = enc.outH;
    s.displayWidth = disp.outW;
    s.displayHeight = disp.outH;
    return s;
}

void IspNeutralSettings(uint32_t width, uint32_t height, CI_PIPELINE *r, CI_PIPE_INFO *info) {
    std::memset(r, 0, sizeof(*r));
    std::memset(info, 0, sizeof(*info));
    const uint16_t cw = static_cast<uint16_t>(width / 2), ch = static_cast<uint16_t>(height / 2);
    CI_MODULE_IIF &iif = info->iifConfig;
    iif.eBayerFormat = MOSAIC_RGGB;
    iif.ui16ImagerSize[0] = static_cast<uint16_t>(cw - 1);
    iif.ui16ImagerSize[1] = static_cast<uint16_t>(ch - 1);
    info->config.eDataExtraction = CI_INOUT_NONE;
    info->config.eOutputConfig = CI_SAVE_EXS_GLOBAL | CI_SAVE_EXS_REGION | CI_SAVE_FOS_ROI | CI_SAVE_FOS_GRID |
                                 CI_SAVE_WHITEBALANCE | CI_SAVE_WHITEBALANCE_EXT | CI_SAVE_HIST_GLOBAL |
                                 CI_SAVE_HIST_REGION | CI_SAVE_FLICKER | CI_SAVE_TIMESTAMP;
    r->config = info->config;
    r->sImagerInterface = iif;

    for (int c = 0; c < 4; c++) {
        r->sWhiteBalance.aGain[c] = 1024;
        r->sWhiteBalance.aClip[c] = 8191;
    }
    r->sWhiteBalance.eRGBThresholdMode = WBC_THRESHOLD;
    for (int k = 0; k < 3; k++) {
        r->sWhiteBalance.aRGBGain[k] = 16;
        r->sWhiteBalance.aRGBThreshold[k] = 510;
        r->sColourCorrection.aCoeff[k][k] = 512;
    }
    for (CI_MODULE_GAMUTMAPPER *gm : {&r->sMainGamutMapper, &r->sDisplayGamutMapper}) {
        gm->i16ClipMin = -512;
        gm->ui16ClipMax = 1536;
        gm->ui16SrcNorm = 1024;
        gm->aSlope[0] = gm->aSlope[1] = 1024;
    }
    // BT.709, limited range, hardware chroma order (Cr, Y, Cb)
    static const double r2y[3][3] = {{0.439, -0.399, -0.040}, {0.183, 0.614, 0.062}, {-0.101, -0.338, 0.439}};
    static const double y2r[3][3] = {{1.5748 * 255.0 / 224.0, 255.0 / 219.0, 0.0},
                                     {-0.4681 * 255.0 / 224.0, 255.0 / 219.0, -0.1873 * 255.0 / 224.0},
                                     {0.0, 255.0 / 219.0, 1.8556 * 255.0 / 224.0}};
    for (int i = 0; i < 3; i++) {
        for (int j = 0; j < 3; j++) {
            r->sRGBToYCC.aCoeff[i][j] = static_cast<QOR_INT16>(std::lround(r2y[i][j] * 1024.0));
            r->sYCCToRGB.aCoeff[i][j] = static_cast<QOR_INT16>(std::lround(y2r[i][j] * 512.0));
        }
    }
    r->sYCCToRGB.aOffset[0] = -128 * 4;
    r->sYCCToRGB.aOffset[1] = -16 * 4;
    r->sYCCToRGB.aOffset[2] = -128 * 4;
    for (int i = 0; i < 63; i++) {
        r->sToneMapping.aCurve[i] = static_cast<QOR_UINT16>((i + 1) * 32);
    }
    r->sEncoderScaler.bBypassScaler = 1;
    r->sDisplayScaler.bBypassScaler = 1;
    r->sDisplayScaler.bIsDisplay = 1;

    CI_PIPELINE_STATS &st = r->stats;
    st.sExposureStats.ui16Width = static_cast<QOR_UINT16>(width / kGrid);
    st.sExposureStats.ui16Height = static_cast<QOR_UINT16>(height / kGrid);
    st.sExposureStats.ui16PixelMax = 4095;
    st.sFocusStats.ui16Width = static_cast<QOR_UINT16>(width / kGrid);
    st.sFocusStats.ui16Height = static_cast<QOR_UINT16>(height / kGrid);
    st.sFocusStats.ui16ROIRight = static_cast<QOR_UINT16>(width - 1);
    st.sFocusStats.ui16ROIBottom = static_cast<QOR_UINT16>(height - 1);
    st.sWhiteBalanceStats.aRoiRight[0] = static_cast<QOR_UINT16>(width - 1);
    st.sWhiteBalanceStats.aRoiBottom[0] = static_cast<QOR_UINT16>(height - 1);
    st.sWhiteBalanceStats.aRMax[0] = st.sWhiteBalanceStats.aGMax[0] = st.sWhiteBalanceStats.aBMax[0] = 1843;
    st.sWhiteBalanceStats.aYMax[0] = 1843;
    CI_MODULE_AWS &aws = st.sAutoWhiteBalanceStats;
    aws.bEnable = 1;
    aws.ui16RedClipThresh = aws.ui16GreenClipThresh = aws.ui16BlueClipThresh = 255 * 256;
    aws.ui16GridTileWidth = static_cast<QOR_UINT16>(cw / kGrid - 1);
    aws.ui16GridTileHeight = static_cast<QOR_UINT16>(ch / kGrid - 1);
    st.sHistStats.ui16InputOffset = 256;
    st.sHistStats.ui16InputScale = 32767;
    st.sHistStats.ui16Width = static_cast<QOR_UINT16>(width / kGrid);
    st.sHistStats.ui16Height = static_cast<QOR_UINT16>(height / kGrid);
}

/* ---------------------------------------------------------------------------------------------------------- */

namespace {

/** Horizontal positions of a scaler: source columns and 8-bit fraction of each output column. */
struct ScaleTable {
    std::vector<uint32_t> index, index1;
    std::vector<uint16_t> frac;
};

} // namespace

struct IspModel::Impl {
    // look-up tables and the registers they were built from
    bool frontValid = false;
    unsigned frontDepth = 0;
    CI_MODULE_BLC frontBlc{};
    CI_MODULE_RLT frontRlt{};
    std::vector<uint16_t> frontLut[4]; /* raw sample → black level and raw curve, 16-bit scale */

    bool gammaValid = false;
    CI_MODULE_GMA_LUT gammaKey{};
    bool gammaBypassKey = false;
    std::vector<uint16_t> gammaLut[3]; /* 16-bit linear >> 4 → 12-bit */

    bool tnmValid = false;
    CI_MODULE_TNM tnmKey{};
    std::vector<uint16_t> tnmLut; /* 10-bit luma → 10-bit luma */
    bool tnmIdentity = false;     /* the table keeps every value */

    std::vector<uint16_t> awsLog; /* 16-bit >> 4 → log2 of the 8-bit scale value in U.5, clamped at 0 */

    // lens shading: decoded vertex gains [c][row][column], per-column interpolation and the gains of one row
    std::vector<float> lshGains;
    std::vector<int32_t> lshCol;   /* per cell: left vertex */
    std::vector<float> lshColW;    /* per cell: weight of the right vertex */
    std::vector<uint32_t> lshRuns; /* first cell of each run of cells between the same vertices, then the end */
    std::vector<float> lshCx;      /* per column: -1 at the left edge to +1 at the right edge (gradients) */
    std::vector<float> lshRow[4];
    // horizontal positions of the scaler in use
    ScaleTable encTable, dispTable;
    std::vector<uint32_t> scaleRow; /* two source rows blended vertically, for each of the three planes */

    // scratch
    std::vector<uint16_t> raw, pre, awsTop; /* awsTop: the even row of a cell row */
    std::vector<float> rowGain;
    std::vector<uint16_t> ring[3];   /* Bayer after white balance, padded by 2 on each side */
    std::vector<int16_t> dR, dG, dB; /* a row after the demosaic, centred */
    std::vector<int32_t> R, G, B;
    std::vector<int16_t> r12, g12, b12; /* a row after gamma */
    std::vector<uint16_t> o0, o1, o2, hisLuma;
    std::vector<uint16_t> Y, C0, C2;             /* 4:4:4 YCbCr planes of the window, 10-bit */
    std::vector<uint16_t> sY[2], sC0[2], sC2[2]; /* scaled rows */
    std::vector<uint16_t> subC0, subC2;
    std::vector<uint8_t> tileScratch;
    std::vector<int8_t> hisCol;
    std::vector<uint16_t> fosSharp; /* focus sharpness of the green samples of a row */
    uint32_t fosRange[kGrid][2];    /* columns [first, end) of each focus grid tile */
    int fosTiles;
    uint32_t exsRange[kGrid][2]; /* columns [first, end) of each exposure grid tile */
    int exsTiles;

    // statistics accumulators
    uint64_t exsGlobal[4];
    uint32_t exsRegion[kGrid][kGrid][4];
    uint64_t fosRoi;
    uint64_t fosGrid[kGrid][kGrid];
    uint64_t wbsWhiteSum[2][3], wbsWhiteCount[2][3], wbsAvg[2][3], wbsHighSum[2][3], wbsHighCount[2];
    uint32_t hisGlobal[64];
    uint16_t hisMap[1024]; /* 10-bit luma → histogram input after offset and scale */
    bool hisIdentity;      /* hisMap keeps every value */
    uint32_t hisRegion[kGrid][kGrid][16];
    uint64_t awsSum[kGrid][kGrid][3];
    uint32_t awsCount[kGrid][kGrid];
};

IspModel::IspModel() : m_impl(new Impl) {}
IspModel::~IspModel() { delete m_impl; }

namespace {

struct FrameContext {
    const IspInputFrame *in;
    const CI_PIPELINE *reg;
    const CI_PIPE_INFO *info;
    uint32_t W, H;
    uint32_t inStride;
    uint32_t offX, offY, decX, decY; /* pixels */
    int colour[2][2];
    bool error = false;
    unsigned depth;
    uint32_t eOutput;
    // exposure
    bool exs;
    uint32_t exsThreshold;
    int exsRowTile;
    // white balance
    int32_t wbGain[4], wbClip[4];
    bool wbIdentity;
    // lens shading
    bool lsh;
    // awb statistics
    bool aws;
    uint32_t awsStartX, awsStartY, awsTileW, awsTileH;
    uint16_t awsDark[3], awsClipT[3];
    // data extraction into the display buffer
    bool deDisplay;
    int dePoint;
    PIXELTYPE dispType;
    PIXELTYPE rawType;
    isp::PlaneWriter deWriter, rawWriter, hdrWriter, encY, encC, disp;
    PIXELTYPE encType, hdrType;
    // rows of the 4:4:4 planes in use: window row y is plane row y % planeRows
    uint32_t planeRows;
    // scalers and the next output row of each
    Scaler encSc, dispSc;
    uint32_t encNext, dispNext;
};

} // namespace

namespace {

/** Builds the per-channel table of black level and raw curve when its registers or the bit depth changed. */
bool buildFrontLut(IspModel::Impl &m, const CI_PIPELINE &reg, unsigned depth) {
    if (m.frontValid && m.frontDepth == depth &&
        std::memcmp(&m.frontBlc, &reg.sBlackCorrection, sizeof(CI_MODULE_BLC)) == 0 &&
        std::memcmp(&m.frontRlt, &reg.sRawLUT, sizeof(CI_MODULE_RLT)) == 0) {
        return false;
    }
    m.frontValid = true;
    m.frontDepth = depth;
    std::memcpy(&m.frontBlc, &reg.sBlackCorrection, sizeof(CI_MODULE_BLC));
    std::memcpy(&m.frontRlt, &reg.sRawLUT, sizeof(CI_MODULE_RLT));
    const uint32_t n = 1u << depth;
    const double maxv = double(n - 1);
    const bool rlt = reg.sRawLUT.eMode != CI_RLT_DISABLED;
    for (int c = 0; c < 4; c++) {
        Curve curve;
        if (rlt) {
            double kx[16], ky[16];
            for (int i = 0; i < 16; i++) {
                kx[i] = (i + 1) / 16.0;
                ky[i] = reg.sRawLUT.aPoints[c][i] / 65536.0;
            }
            curve.set(kx, ky, 16, reg.sRawLUT.eMode == CI_RLT_CUBIC);
        }
        const double offset = reg.sBlackCorrection.i8FixedOffset[c] * std::ldexp(1.0, int(depth) - 8);
        m.frontLut[c].resize(n);
        for (uint32_t v = 0; v < n; v++) {
            double t = std::min(std::max(v + offset, 0.0), maxv) / maxv;
            if (rlt) {
                t = curve.at(t);
            }
            m.frontLut[c][v] = static_cast<uint16_t>(std::lround(std::min(std::max(t, 0.0), 1.0) * 65535.0));
        }
    }
    return true;
}

bool buildGammaLut(IspModel::Impl &m, const CI_MODULE_GMA_LUT &lut, bool bypass) {
    if (m.gammaValid && m.gammaBypassKey == bypass && std::memcmp(&m.gammaKey, &lut, sizeof(lut)) == 0) {
        return false;
    }
    m.gammaValid = true;
    m.gammaBypassKey = bypass;
    m.gammaKey = lut;
    const QOR_UINT16 *points[3] = {lut.aRedPoints, lut.aGreenPoints, lut.aBluePoints};
    for (int c = 0; c < 3; c++) {
        m.gammaLut[c].resize(4096);
        for (int i = 0; i < 4096; i++) {
            if (bypass) {
                m.gammaLut[c][i] = static_cast<uint16_t>(i);
                continue;
            }
            // knots at k / 62 of full scale, points in 12-bit codes
            const double x = i / 4095.0 * (GMA_N_POINTS - 1);
            const int k = std::min(static_cast<int>(x), GMA_N_POINTS - 2);
            const double f = x - k;
            const double y = points[c][k] + f * (double(points[c][k + 1]) - points[c][k]);
            m.gammaLut[c][i] = static_cast<uint16_t>(clampi(static_cast<int32_t>(std::lround(y)), 0, 4095));
        }
    }
    return true;
}

bool buildToneLut(IspModel::Impl &m, const CI_MODULE_TNM &tnm) {
    if (m.tnmValid && m.tnmKey.bBypassTNM == tnm.bBypassTNM &&
        std::memcmp(m.tnmKey.aCurve, tnm.aCurve, sizeof(tnm.aCurve)) == 0) {
        return false;
    }
    m.tnmValid = true;
    m.tnmKey = tnm;
    m.tnmLut.resize(1024);
    Curve curve;
    double kx[63], ky[63];
    for (int i = 0; i < 63; i++) {
        kx[i] = (i + 1) / 64.0;
        ky[i] = tnm.aCurve[i] / 2048.0;
    }
    curve.set(kx, ky, 63, false);
    for (int v = 0; v < 1024; v++) {
        if (tnm.bBypassTNM) {
            m.tnmLut[v] = static_cast<uint16_t>(v);
            continue;
        }
        const double x = std::min(std::max((v - 64) / 876.0, 0.0), 1.0);
        const double y = std::min(std::max(curve.at(x), 0.0), 1.0);
        m.tnmLut[v] = static_cast<uint16_t>(64 + std::lround(876.0 * y));
    }
    m.tnmIdentity = true;
    for (int v = 0; v < 1024; v++) {
        m.tnmIdentity = m.tnmIdentity && m.tnmLut[v] == v;
    }
    return true;
}

/** Decodes the lens-shading matrix into vertex gains; false when its lines do not fit the memory given. */
bool decodeShading(IspModel::Impl &m, const IspFrameSettings &s, const FrameContext &f) {
    const CI_MODULE_LSH_MAT &cfg = s.lshConfig;
    const uint32_t vw = cfg.ui16Width, vh = cfg.ui16Height, bits = cfg.ui8BitsPerDiff;
    if (vw == 0 || vh == 0 || bits == 0 || bits > 16 || cfg.ui8TileSizeLog2 > 15) {
        return false;
    }
    const uint64_t lineBits = 16 + uint64_t(vw - 1) * bits;
    const uint64_t lineBytes = (lineBits + 7) / 8;
    if (cfg.ui32Stride < lineBytes || uint64_t(4 * vh - 1) * cfg.ui32Stride + lineBytes > s.lshMatrixSize) {
        return false;
    }
    m.lshGains.resize(size_t(4) * vw * vh);
    for (uint32_t y = 0; y < vh; y++) {
        for (uint32_t c = 0; c < 4; c++) {
            const uint8_t *line = s.lshMatrix + size_t(4 * y + c) * cfg.ui32Stride;
            int32_t v = line[0] | (line[1] << 8);
            float *out = &m.lshGains[(size_t(c) * vh + y) * vw];
            out[0] = v / 1024.0f;
            uint64_t pos = 16;
            for (uint32_t x = 1; x < vw; x++, pos += bits) {
                uint32_t d = 0;
                for (uint32_t b = 0; b < bits; b++) {
                    const uint64_t p = pos + b;
                    d |= uint32_t((line[p >> 3] >> (p & 7)) & 1u) << b;
                }
                const int32_t sd = (d & (1u << (bits - 1))) ? int32_t(d) - int32_t(1u << bits) : int32_t(d);
                v += sd;
                out[x] = v / 1024.0f;
            }
        }
    }
    // column positions: pixel x is in cell x / 2 (+ the matrix offset), tiles of 2^log2 cells; the cells between
    // the same two vertices form a run
    const float tile = float(1u << cfg.ui8TileSizeLog2);
    const uint32_t cells = f.W / 2;
    m.lshCol.resize(cells);
    m.lshColW.resize(cells);
    m.lshRuns.clear();
    for (uint32_t cx = 0; cx < cells; cx++) {
        const float pos = (cx + cfg.ui16OffsetX) / tile;
        int32_t i = static_cast<int32_t>(pos);
        float w = pos - i;
        if (i >= int32_t(vw) - 1) {
            i = int32_t(vw) - 2;
            w = 1.0f;
        }
        if (vw == 1) {
            i = 0;
            w = 0.0f;
        }
        m.lshCol[cx] = i;
        m.lshColW[cx] = w;
        if (cx == 0 || m.lshCol[cx - 1] != i) {
            m.lshRuns.push_back(cx);
        }
    }
    m.lshRuns.push_back(cells);
    for (int c = 0; c < 4; c++) {
        m.lshRow[c].resize(vw);
    }
    return true;
}

/** Gains of one window row, interpolated between vertex rows, for the two channels of that row. */
void shadingRow(IspModel::Impl &m, const IspFrameSettings &s, uint32_t y) {
    const CI_MODULE_LSH_MAT &cfg = s.lshConfig;
    const uint32_t vw = cfg.ui16Width, vh = cfg.ui16Height;
    const float pos = (y / 2 + cfg.ui16OffsetY) / float(1u << cfg.ui8TileSizeLog2);
    int32_t i = static_cast<int32_t>(pos);
    float w = pos - i;
    if (i >= int32_t(vh) - 1) {
        i = vh > 1 ? int32_t(vh) - 2 : 0;
        w = vh > 1 ? 1.0f : 0.0f;
    }
    const uint32_t i1 = vh > 1 ? uint32_t(i) + 1 : uint32_t(i);
    for (uint32_t c = (y & 1u) * 2; c < (y & 1u) * 2 + 2; c++) {
        const float *a = &m.lshGains[(size_t(c) * vh + uint32_t(i)) * vw];
        const float *b = &m.lshGains[(size_t(c) * vh + i1) * vw];
        for (uint32_t x = 0; x < vw; x++) {
            m.lshRow[c][x] = a[x] + w * (b[x] - a[x]);
        }
    }
}

} // namespace

/* ---------------------------------------------------------------------------------------------------------- */

namespace {

/** Reads window row y of the input (0 outside the input, which marks the frame as erroneous). */
void gatherRaw(FrameContext &f, uint32_t y, uint16_t *out) {
    const uint32_t py = f.offY + (y / 2) * f.decY + (y & 1u);
    const uint32_t maxv = (1u << f.depth) - 1u;
    if (py >= f.in->height) {
        std::fill(out, out + f.W, 0);
        f.error = true;
        return;
    }
    const uint16_t *src = f.in->samples + size_t(py) * f.inStride;
    if (f.decX == 2 && f.offX + f.W <= f.in->width) {
        const uint16_t *s = src + f.offX;
        for (uint32_t x = 0; x < f.W; x++) {
            out[x] = s[x] > maxv ? uint16_t(maxv) : s[x];
        }
        return;
    }
    for (uint32_t x = 0; x < f.W; x++) {
        const uint32_t px = f.offX + (x / 2) * f.decX + (x & 1u);
        if (px >= f.in->width) {
            out[x] = 0;
            f.error = true;
        } else {
            out[x] = src[px] > maxv ? uint16_t(maxv) : src[px];
        }
    }
}

} // namespace

namespace {

/** Gains of a run of cells between the same two vertices, for the even and the odd column of each cell. */
void shadingRun(float aE, float dE, float aO, float dO, const float *__restrict w, uint32_t cells,
                float *__restrict gain) {
    for (size_t k = 0; k < cells; k++) {
        gain[2 * k] = aE + w[k] * dE;
        gain[2 * k + 1] = aO + w[k] * dO;
    }
}

/** v × gain (gain clamped to 0..15, rounded to U4.12), rounded, clipped at full scale; gain is overwritten. */
void applyShading(float *__restrict gain, uint32_t W, uint16_t *__restrict v) {
    // two loops, so that each vectorizes: the clamp, then the gain in U4.12 (at most 61440.5, so the signed
    // conversion is exact) and the product
    for (uint32_t x = 0; x < W; x++) {
        gain[x] = clampf(gain[x], 0.0f, 15.0f);
    }
    for (uint32_t x = 0; x < W; x++) {
        const uint32_t g = uint32_t(static_cast<int32_t>(gain[x] * 4096.0f + 0.5f));
        const uint32_t p = (uint32_t(v[x]) * g + 2048u) >> 12;
        v[x] = static_cast<uint16_t>(p > 65535u ? 65535u : p);
    }
}

/** Samples of v[x0, x1) at or above thr, added to count[] by the parity of x. */
void countAbove(const uint16_t *__restrict v, uint32_t x0, uint32_t x1, uint32_t thr, uint32_t count[2]) {
    if (x0 >= x1) {
        return;
    }
    uint32_t even = 0, odd = 0;
    if (x0 & 1u) {
        odd += v[x0] >= thr;
        x0++;
    }
    uint32_t x = x0;
    for (; x + 1 < x1; x += 2) {
        even += v[x] >= thr;
        odd += v[x + 1] >= thr;
    }
    if (x < x1) {
        even += v[x] >= thr;
    }
    count[0] += even;
    count[1] += odd;
}

/** Auto-white-balance statistics of the cell row cy (its two window rows), tile by tile. */
void awsCells(IspModel::Impl &m, const FrameContext &f, uint32_t cy, const uint16_t *top, const uint16_t *bottom) {
    if (cy < f.awsStartY || (cy - f.awsStartY) / f.awsTileH >= uint32_t(kGrid)) {
        return;
    }
    const uint32_t ty = (cy - f.awsStartY) / f.awsTileH;
    // the sample of each colour in a cell (the two greens averaged)
    const uint16_t *rows[2] = {top, bottom};
    const uint16_t *at[4] = {};
    int greens = 0;
    for (int r = 0; r < 2; r++) {
        for (int q = 0; q < 2; q++) {
            const int c = f.colour[r][q];
            at[c == kGreen ? 1 + greens++ : (c == kRed ? 0 : 3)] = rows[r] + q;
        }
    }
    const uint16_t *pr = at[0], *pg1 = at[1], *pg2 = at[2], *pb = at[3];
    const uint16_t *log2 = m.awsLog.data();
    const uint32_t cells = f.W / 2;
    for (uint32_t tx = 0; tx < uint32_t(kGrid); tx++) {
        const uint64_t first = uint64_t(f.awsStartX) + uint64_t(tx) * f.awsTileW;
        if (first >= cells) {
            break;
        }
        const uint32_t end = uint32_t(std::min<uint64_t>(cells, first + f.awsTileW));
        uint32_t sr = 0, sg = 0, sb = 0, count = 0;
        for (uint32_t cx = uint32_t(first); cx < end; cx++) {
            const uint32_t vr = pr[2 * cx], vb = pb[2 * cx], vg = (uint32_t(pg1[2 * cx]) + pg2[2 * cx]) / 2;
            const uint32_t in = vr >= f.awsDark[kRed] && vr < f.awsClipT[kRed] && vg >= f.awsDark[kGreen] &&
                                vg < f.awsClipT[kGreen] && vb >= f.awsDark[kBlue] && vb < f.awsClipT[kBlue];
            sr += in * log2[vr >> 4];
            sg += in * log2[vg >> 4];
            sb += in * log2[vb >> 4];
            count += in;
        }
        m.awsSum[ty][tx][kRed] += sr;
        m.awsSum[ty][tx][kGreen] += sg;
        m.awsSum[ty][tx][kBlue] += sb;
        m.awsCount[ty][tx] += count;
    }
}

/** White-balance gains (U6.10) and clips of `cells` pairs of samples: the even ones, then the odd ones. */
void whiteBalanceGains(const uint16_t *__restrict in, size_t cells, uint32_t gE, uint32_t gO, uint32_t kE, uint32_t kO,
                       uint16_t *__restrict out) {
    for (size_t k = 0; k < cells; k++) {
        const uint32_t a = (in[2 * k] * gE + 512u) >> 10;
        const uint32_t b = (in[2 * k + 1] * gO + 512u) >> 10;
        out[2 * k] = static_cast<uint16_t>(a < kE ? a : kE);
        out[2 * k + 1] = static_cast<uint16_t>(b < kO ? b : kO);
    }
}

/** One window row through black level, raw curve, lens shading and white balance into dst (padded by 2). */
void bayerRow(IspModel::Impl &m, FrameContext &f, const IspFrameSettings &s, uint32_t y, uint16_t *dst) {
    uint16_t *raw = m.raw.data();
    gatherRaw(f, y, raw);
    const uint32_t W = f.W;
    const unsigned c0 = (y & 1u) * 2u; /* channel of the even columns; odd columns are c0 + 1 */
    const CI_PIPELINE_STATS &st = f.reg->stats;

    if (f.exs) {
        const CI_MODULE_EXS &e = st.sExposureStats;
        int ty = -1;
        if (e.ui16Height != 0 && y >= e.ui16Top && (y - e.ui16Top) / e.ui16Height < uint32_t(kGrid)) {
            ty = int((y - e.ui16Top) / e.ui16Height);
        }
        uint32_t count[2] = {0, 0};
        countAbove(raw, 0, W, f.exsThreshold, count);
        m.exsGlobal[c0] += count[0];
        m.exsGlobal[c0 + 1] += count[1];
        if (ty >= 0) {
            for (int t = 0; t < m.exsTiles; t++) {
                uint32_t tile[2] = {0, 0};
                countAbove(raw, m.exsRange[t][0], m.exsRange[t][1], f.exsThreshold, tile);
                m.exsRegion[ty][t][c0] += tile[0];
                m.exsRegion[ty][t][c0 + 1] += tile[1];
            }
        }
    }
    uint16_t *pre = m.pre.data();
    if (f.rawWriter.active()) {
        for (uint32_t x = 0; x < W; x++) {
            pre[x] = static_cast<uint16_t>(raw[x] << (16 - f.depth));
        }
        isp::PackBayer(f.rawType.eFmt, pre, W, f.rawWriter.row(y));
        f.rawWriter.commit(y);
    }
    if (f.deDisplay && f.dePoint == CI_INOUT_BLACK_LEVEL) {
        const int32_t maxv = int32_t((1u << f.depth) - 1u);
        for (uint32_t x = 0; x < W; x++) {
            const int32_t off = f.reg->sBlackCorrection.i8FixedOffset[c0 + (x & 1u)];
            const int32_t v =
                clampi(int32_t(raw[x]) + (f.depth >= 8 ? off * (1 << (f.depth - 8)) : off >> (8 - f.depth)), 0, maxv);
            pre[x] = static_cast<uint16_t>((int64_t(v) * 65535 + maxv / 2) / maxv);
        }
        isp::PackBayer(f.dispType.eFmt, pre, W, f.deWriter.row(y));
        f.deWriter.commit(y);
    }

    // black level and raw look-up table
    const uint16_t *lutE = m.frontLut[c0].data(), *lutO = m.frontLut[c0 + 1].data();
    for (uint32_t x = 0; x < W; x += 2) {
        pre[x] = lutE[raw[x]];
        pre[x + 1] = lutO[raw[x + 1]];
    }

    // lens shading: matrix gains between vertices plus the linear gradients
    const CI_MODULE_LSH &grad = f.info->lshConfig;
    const bool gradients =
        (grad.aGradientsX[c0] | grad.aGradientsX[c0 + 1] | grad.aGradientsY[c0] | grad.aGradientsY[c0 + 1]) != 0;
    if (f.lsh || gradients) {
        // gain of each column of this row: matrix between vertices plus the linear gradients
        float *gain = m.rowGain.data();
        if (f.lsh) {
            shadingRow(m, s, y);
            const float *rowE = m.lshRow[c0].data(), *rowO = m.lshRow[c0 + 1].data();
            const uint32_t step = s.lshConfig.ui16Width > 1 ? 1u : 0u;
            const uint32_t *runs = m.lshRuns.data();
            for (size_t r = 0; r + 1 < m.lshRuns.size(); r++) {
                const uint32_t i = uint32_t(m.lshCol[runs[r]]);
                shadingRun(rowE[i], rowE[i + step] - rowE[i], rowO[i], rowO[i + step] - rowO[i],
                           m.lshColW.data() + runs[r], runs[r + 1] - runs[r], gain + 2 * runs[r]);
            }
        } else {
            std::fill(gain, gain + W, 1.0f);
        }
        if (gradients) {
            const float cy = (float(y) - float(f.H) / 2.0f) / (float(f.H) / 2.0f);
            const float kxE = int16_t(grad.aGradientsX[c0]) / 4096.0f,
                        kxO = int16_t(grad.aGradientsX[c0 + 1]) / 4096.0f;
            const float tyE = int16_t(grad.aGradientsY[c0]) / 4096.0f * cy;
            const float tyO = int16_t(grad.aGradientsY[c0 + 1]) / 4096.0f * cy;
            const float *cx = m.lshCx.data();
            for (uint32_t x = 0; x < W; x += 2) {
                gain[x] += kxE * cx[x] + tyE;
                gain[x + 1] += kxO * cx[x + 1] + tyO;
            }
        }
        applyShading(gain, W, pre);
    }

    // auto-white-balance statistics take the cells before the white-balance gains
    if (f.aws) {
        if ((y & 1u) == 0) {
            std::memcpy(m.awsTop.data(), pre, W * sizeof(uint16_t));
        } else {
            awsCells(m, f, y / 2, m.awsTop.data(), pre);
        }
    }

    // white-balance gains and clips
    uint16_t *out = dst + 2;
    if (f.wbIdentity) {
        std::memcpy(out, pre, W * sizeof(uint16_t));
    } else {
        whiteBalanceGains(pre, W / 2, uint32_t(f.wbGain[c0]), uint32_t(f.wbGain[c0 + 1]), uint32_t(f.wbClip[c0]),
                          uint32_t(f.wbClip[c0 + 1]), out);
    }
    // mirror two samples at each end, keeping the colour of each position
    out[-1] = out[1];
    out[-2] = out[2];
    out[W] = out[W - 2];
    out[W + 1] = W >= 3 ? out[W - 3] : out[W - 1];

    if (f.deDisplay && f.dePoint == CI_INOUT_FILTER_LINESTORE) {
        isp::PackBayer(f.dispType.eFmt, out, W, f.deWriter.row(y));
        f.deWriter.commit(y);
    }
}

/**
 * Bilinear demosaic of row y from the rows above and below (all padded by 2). The outputs are centred (value −
 * kCentre, so 16 bits hold them), which lets the colour matrix multiply on 16-bit lanes.
 */
/** Demosaic at the green sites k, k + 2, ...: neighbours left and right give h, above and below give v. */
void demosaicGreenSites(const uint16_t *__restrict up, const uint16_t *__restrict cur, const uint16_t *__restrict dn,
                        int32_t k, int32_t n, int16_t *__restrict g, int16_t *__restrict h, int16_t *__restrict v) {
    for (int32_t x = k; x < n; x += 2) {
        g[x] = static_cast<int16_t>(cur[x] - kCentre);
        h[x] = static_cast<int16_t>(((cur[x - 1] + cur[x + 1] + 1) >> 1) - kCentre);
        v[x] = static_cast<int16_t>(((up[x] + dn[x] + 1) >> 1) - kCentre);
    }
}

/** Demosaic at the red or blue sites k, k + 2, ...: c is the site's colour, o the other one. */
void demosaicColourSites(const uint16_t *__restrict up, const uint16_t *__restrict cur, const uint16_t *__restrict dn,
                         int32_t k, int32_t n, int16_t *__restrict c, int16_t *__restrict g, int16_t *__restrict o) {
    for (int32_t x = k; x < n; x += 2) {
        c[x] = static_cast<int16_t>(cur[x] - kCentre);
        g[x] = static_cast<int16_t>(((cur[x - 1] + cur[x + 1] + up[x] + dn[x] + 2) >> 2) - kCentre);
        o[x] = static_cast<int16_t>(((up[x - 1] + up[x + 1] + dn[x - 1] + dn[x + 1] + 2) >> 2) - kCentre);
    }
}

void demosaicRow(const uint16_t *up, const uint16_t *cur, const uint16_t *dn, uint32_t W, const int colourRow[2],
                 int16_t *R, int16_t *G, int16_t *B) {
    int16_t *out[3] = {R, G, B};
    const int32_t n = int32_t(W);
    for (int32_t k = 0; k < 2; k++) {
        const int col = colourRow[k];
        if (col == kGreen) {
            const int h = colourRow[1 - k];
            const int v = h == kRed ? kBlue : kRed;
            demosaicGreenSites(up, cur, dn, k, n, G, out[h], out[v]);
        } else {
            const int other = col == kRed ? kBlue : kRed;
            demosaicColourSites(up, cur, dn, k, n, out[col], G, out[other]);
        }
    }
}

/** Focus sharpness of n green samples (every other sample of cur from its start), 8-bit scale. */
void focusSharpness(const uint16_t *__restrict cur, const uint16_t *__restrict dn, uint32_t n,
                    uint16_t *__restrict sharp) {
    for (size_t k = 0; k < n; k++) {
        const int32_t g = cur[2 * k];
        const int32_t dh = std::abs(g - int32_t(cur[2 * k + 2]));
        const int32_t dd = std::abs(g - int32_t(dn[2 * k + 1]));
        sharp[k] = static_cast<uint16_t>(uint32_t(dh + dd) >> 8);
    }
}

/** Sum of v[k0, k1) (values below 512, so 32 bits hold a row). */
uint32_t sumRange(const uint16_t *v, uint32_t k0, uint32_t k1) {
    uint32_t sum = 0;
    for (uint32_t k = k0; k < k1; k++) {
        sum += v[k];
    }
    return sum;
}

/** Focus statistics of row y: green differences to the right and down-right, 8-bit scale. */
void focusRow(IspModel::Impl &m, const FrameContext &f, uint32_t y, const uint16_t *cur, const uint16_t *dn) {
    const CI_MODULE_FOS &fo = f.reg->stats.sFocusStats;
    const bool roi = (f.eOutput & CI_SAVE_FOS_ROI) != 0 && y >= fo.ui16ROITop && y <= fo.ui16ROIBottom;
    int ty = -1;
    if ((f.eOutput & CI_SAVE_FOS_GRID) != 0 && fo.ui16Height != 0 && y >= fo.ui16Top &&
        (y - fo.ui16Top) / fo.ui16Height < uint32_t(kGrid)) {
        ty = int((y - fo.ui16Top) / fo.ui16Height);
    }
    if (!roi && ty < 0) {
        return;
    }
    // sharpness of each green sample of the row: sample k sits in column gp + 2k
    const uint32_t gp = f.colour[y & 1u][0] == kGreen ? 0u : 1u;
    const uint32_t n = (f.W - gp + 1) / 2;
    uint16_t *sharp = m.fosSharp.data();
    focusSharpness(cur + gp, dn + gp, n, sharp);
    auto first = [gp, n](uint64_t x) { return uint32_t(std::min<uint64_t>(n, x <= gp ? 0 : (x - gp + 1) / 2)); };
    if (roi) {
        m.fosRoi += sumRange(sharp, first(fo.ui16ROILeft), first(uint64_t(fo.ui16ROIRight) + 1));
    }
    if (ty >= 0) {
        for (int t = 0; t < m.fosTiles; t++) {
            m.fosGrid[ty][t] += sumRange(sharp, first(m.fosRange[t][0]), first(m.fosRange[t][1]));
        }
    }
}

/**
 * RGB of one row through RGB gains, colour matrix and main gamut mapper, from the centred demosaic outputs (which
 * the gains update in place) into R, G, B (16-bit scale, signed).
 */
void colourRow(const FrameContext &f, uint32_t W, int16_t *__restrict r16, int16_t *__restrict g16,
               int16_t *__restrict b16, int32_t *__restrict R, int32_t *__restrict G, int32_t *__restrict B) {
    const CI_MODULE_WBC &wb = f.reg->sWhiteBalance;
    const CI_MODULE_CCM &cc = f.reg->sColourCorrection;
    const CI_MODULE_GAMUTMAPPER &gm = f.reg->sMainGamutMapper;
    int32_t gain[3], thr[3];
    bool unit = true;
    for (int k = 0; k < 3; k++) {
        gain[k] = wb.aRGBGain[k];
        thr[k] = std::min<int32_t>(65535, int32_t((uint32_t(wb.aRGBThreshold[k]) + 1u) * 65536u / 511u));
        unit = unit && gain[k] == 16 && thr[k] >= 65535;
    }
    if (!unit) {
        // gains of at most 255 / 16 limited to a threshold of at most full scale: the values stay in 0..65535
        const int32_t g0 = gain[0], g1 = gain[1], g2 = gain[2], t0 = thr[0], t1 = thr[1], t2 = thr[2];
        for (uint32_t x = 0; x < W; x++) {
            r16[x] = static_cast<int16_t>(std::min(((r16[x] + kCentre) * g0) >> 4, t0) - kCentre);
            g16[x] = static_cast<int16_t>(std::min(((g16[x] + kCentre) * g1) >> 4, t1) - kCentre);
            b16[x] = static_cast<int16_t>(std::min(((b16[x] + kCentre) * g2) >> 4, t2) - kCentre);
        }
    }
    // Σ c · v = Σ c · (v − kCentre) + kCentre · Σ c: 16-bit products, sums taken modulo 2^32 (the exact sum fits
    // 32 bits, the partial ones need not)
    const int16_t c00 = cc.aCoeff[0][0], c01 = cc.aCoeff[0][1], c02 = cc.aCoeff[0][2];
    const int16_t c10 = cc.aCoeff[1][0], c11 = cc.aCoeff[1][1], c12 = cc.aCoeff[1][2];
    const int16_t c20 = cc.aCoeff[2][0], c21 = cc.aCoeff[2][1], c22 = cc.aCoeff[2][2];
    const uint32_t k0 = uint32_t(kCentre) * uint32_t(c00 + c01 + c02) + 256u;
    const uint32_t k1 = uint32_t(kCentre) * uint32_t(c10 + c11 + c12) + 256u;
    const uint32_t k2 = uint32_t(kCentre) * uint32_t(c20 + c21 + c22) + 256u;
    const int32_t off0 = int32_t(cc.aOffset[0]) * 16, off1 = int32_t(cc.aOffset[1]) * 16,
                  off2 = int32_t(cc.aOffset[2]) * 16; /* 12-bit codes */
    const int32_t lo = int32_t(gm.i16ClipMin) * 64, hi = int32_t(gm.ui16ClipMax) * 64;
    for (uint32_t x = 0; x < W; x++) {
        const int16_t r = r16[x], g = g16[x], b = b16[x];
        const uint32_t sr = uint32_t(c00 * r) + uint32_t(c01 * g) + uint32_t(c02 * b) + k0;
        const uint32_t sg = uint32_t(c10 * r) + uint32_t(c11 * g) + uint32_t(c12 * b) + k1;
        const uint32_t sb = uint32_t(c20 * r) + uint32_t(c21 * g) + uint32_t(c22 * b) + k2;
        R[x] = clampi((static_cast<int32_t>(sr) >> 9) + off0, lo, hi);
        G[x] = clampi((static_cast<int32_t>(sg) >> 9) + off1, lo, hi);
        B[x] = clampi((static_cast<int32_t>(sb) >> 9) + off2, lo, hi);
    }
}

/** White-balance statistics of row y on linear RGB (1.0 = 1024). */
void whiteBalanceRow(IspModel::Impl &m, const FrameContext &f, uint32_t y, const int32_t *R, const int32_t *G,
                     const int32_t *B) {
    const CI_MODULE_WBS &w = f.reg->stats.sWhiteBalanceStats;
    const int rois = std::min(w.ui8ActiveROI + 1, 2);
    const int32_t rgbOff = w.ui16RGBOffset / 16, yOff = w.ui16YOffset / 16;
    for (int k = 0; k < rois; k++) {
        if (y < w.aRoiTop[k] || y > w.aRoiBottom[k] || w.aRoiLeft[k] >= f.W) {
            continue;
        }
        const uint32_t right = std::min<uint32_t>(w.aRoiRight[k], f.W - 1);
        const int32_t tr = w.aRMax[k] / 2, tg = w.aGMax[k] / 2, tb = w.aBMax[k] / 2, tyl = w.aYMax[k] / 2 - yOff;
        // values stay below 2^17, so blocks of 4096 pixels are summed in 32 bits, then added to the totals
        constexpr uint32_t kBlock = 4096;
        for (uint32_t x0 = w.aRoiLeft[k]; x0 <= right; x0 += kBlock) {
            const uint32_t x1 = std::min(right + 1u, x0 + kBlock);
            uint32_t ws0 = 0, ws1 = 0, ws2 = 0, wc0 = 0, wc1 = 0, wc2 = 0, av0 = 0, av1 = 0, av2 = 0;
            uint32_t hs0 = 0, hs1 = 0, hs2 = 0, hc = 0;
            for (uint32_t x = x0; x < x1; x++) {
                const int32_t r = std::max(0, (R[x] >> 6) + rgbOff);
                const int32_t g = std::max(0, (G[x] >> 6) + rgbOff);
                const int32_t b = std::max(0, (B[x] >> 6) + rgbOff);
                av0 += uint32_t(r), av1 += uint32_t(g), av2 += uint32_t(b);
                const uint32_t wr = r > tr, wg = g > tg, wb = b > tb;
                ws0 += wr * uint32_t(r), wc0 += wr;
                ws1 += wg * uint32_t(g), wc1 += wg;
                ws2 += wb * uint32_t(b), wc2 += wb;
                const uint32_t high = ((218 * r + 732 * g + 74 * b) >> 10) > tyl;
                hs0 += high * uint32_t(r), hs1 += high * uint32_t(g), hs2 += high * uint32_t(b);
                hc += high;
            }
            m.wbsWhiteSum[k][0] += ws0, m.wbsWhiteSum[k][1] += ws1, m.wbsWhiteSum[k][2] += ws2;
            m.wbsWhiteCount[k][0] += wc0, m.wbsWhiteCount[k][1] += wc1, m.wbsWhiteCount[k][2] += wc2;
            m.wbsAvg[k][0] += av0, m.wbsAvg[k][1] += av1, m.wbsAvg[k][2] += av2;
            m.wbsHighSum[k][0] += hs0, m.wbsHighSum[k][1] += hs1, m.wbsHighSum[k][2] += hs2;
            m.wbsHighCount[k] += hc;
        }
    }
}

/**
 * RGB to YUV of one row of 12-bit codes into 10-bit planes (first chroma, luma, second chroma) and the luma of the
 * histograms. Products of 12-bit codes and 16-bit coefficients fit in 32 bits.
 */
void rgbToYuvRow(const CI_MODULE_PLANECONV &pc, const int16_t *__restrict r12, const int16_t *__restrict g12,
                 const int16_t *__restrict b12, uint32_t W, uint16_t *__restrict luma, uint16_t *__restrict C0p,
                 uint16_t *__restrict Yp, uint16_t *__restrict C2p) {
    const int16_t a00 = pc.aCoeff[0][0], a01 = pc.aCoeff[0][1], a02 = pc.aCoeff[0][2];
    const int16_t a10 = pc.aCoeff[1][0], a11 = pc.aCoeff[1][1], a12 = pc.aCoeff[1][2];
    const int16_t a20 = pc.aCoeff[2][0], a21 = pc.aCoeff[2][1], a22 = pc.aCoeff[2][2];
    // offsets are 8-bit codes with 2 fraction bits, that is 10-bit codes; the model adds the mid-level and foot
    const int32_t off0 = pc.aOffset[0] + 512, off1 = pc.aOffset[1] + 64, off2 = pc.aOffset[2] + 512;
    for (uint32_t x = 0; x < W; x++) {
        const int32_t r = r12[x], g = g12[x], b = b12[x];
        luma[x] = static_cast<uint16_t>((218 * r + 732 * g + 74 * b) >> 12);
        C0p[x] = static_cast<uint16_t>(clampi(((a00 * r + a01 * g + a02 * b + 2048) >> 12) + off0, 0, 1023));
        Yp[x] = static_cast<uint16_t>(clampi(((a10 * r + a11 * g + a12 * b + 2048) >> 12) + off1, 0, 1023));
        C2p[x] = static_cast<uint16_t>(clampi(((a20 * r + a21 * g + a22 * b + 2048) >> 12) + off2, 0, 1023));
    }
}

/** Gamma of one channel of a row: the table index (16-bit scale clamped, >> 4), then the look-up. */
void gammaRow(const uint16_t *__restrict lut, const int32_t *__restrict v, uint32_t W, int16_t *__restrict out) {
    // two loops: the first vectorizes, the second is only loads
    for (uint32_t x = 0; x < W; x++) {
        out[x] = static_cast<int16_t>(clampi(v[x], 0, 65535) >> 4);
    }
    for (uint32_t x = 0; x < W; x++) {
        out[x] = static_cast<int16_t>(lut[out[x]]);
    }
}

/** Gamma, histogram, RGB to YUV and tone mapping of row y into the 4:4:4 planes; HDR extraction of row y. */
void toneRow(IspModel::Impl &m, FrameContext &f, uint32_t y, const int32_t *R, const int32_t *G, const int32_t *B) {
    const uint32_t W = f.W;
    uint16_t *__restrict o0 = m.o0.data(), *__restrict o1 = m.o1.data(), *__restrict o2 = m.o2.data();
    if (f.hdrWriter.active()) {
        for (uint32_t x = 0; x < W; x++) {
            o0[x] = static_cast<uint16_t>(clampi(R[x], 0, 65535) >> 6);
            o1[x] = static_cast<uint16_t>(clampi(G[x], 0, 65535) >> 6);
            o2[x] = static_cast<uint16_t>(clampi(B[x], 0, 65535) >> 6);
        }
        isp::PackTriplets(f.hdrType.eFmt, o0, o1, o2, W, f.hdrWriter.row(y));
        f.hdrWriter.commit(y);
    }
    // gamma into 12-bit codes (table look-ups), then the conversion
    int16_t *r12 = m.r12.data(), *g12 = m.g12.data(), *b12 = m.b12.data();
    gammaRow(m.gammaLut[0].data(), R, W, r12);
    gammaRow(m.gammaLut[1].data(), G, W, g12);
    gammaRow(m.gammaLut[2].data(), B, W, b12);
    const size_t o = size_t(y % f.planeRows) * W;
    uint16_t *Yp = m.Y.data() + o, *C0p = m.C0.data() + o, *C2p = m.C2.data() + o;
    rgbToYuvRow(f.reg->sRGBToYCC, r12, g12, b12, W, m.hisLuma.data(), C0p, Yp, C2p);
    if (!m.tnmIdentity) {
        const uint16_t *tnm = m.tnmLut.data();
        for (uint32_t x = 0; x < W; x++) {
            Yp[x] = tnm[Yp[x]];
        }
    }
    if ((f.eOutput & (CI_SAVE_HIST_GLOBAL | CI_SAVE_HIST_REGION)) == 0) {
        return;
    }
    const CI_MODULE_HIS &h = f.reg->stats.sHistStats;
    int ty = -1;
    if (h.ui16Height != 0 && y >= h.ui16Top && (y - h.ui16Top) / h.ui16Height < uint32_t(kGrid)) {
        ty = int((y - h.ui16Top) / h.ui16Height);
    }
    const int8_t *col = m.hisCol.data();
    const uint16_t *map = m.hisMap, *luma = m.hisLuma.data();
    // counts of the row in two interleaved sets, so that runs of one value do not wait on each other's counts
    uint32_t global[2][64] = {};
    uint32_t region[2][kGrid + 1][16] = {}; /* row kGrid collects the pixels outside the grid */
    auto count = [&](auto input) {
        for (uint32_t x = 0; x < W; x += 2) {
            const uint32_t v0 = input(luma[x]), v1 = input(luma[x + 1]);
            global[0][v0 >> 4]++;
            global[1][v1 >> 4]++;
            region[0][col[x] < 0 ? kGrid : col[x]][v0 >> 6]++;
            region[1][col[x + 1] < 0 ? kGrid : col[x + 1]][v1 >> 6]++;
        }
    };
    // the default offset and scale keep the luma: one look-up less per pixel
    if (m.hisIdentity) {
        count([](uint16_t v) { return uint32_t(v); });
    } else {
        count([map](uint16_t v) { return uint32_t(map[v]); });
    }
    for (int b = 0; b < 64; b++) {
        m.hisGlobal[b] += global[0][b] + global[1][b];
    }
    if (ty >= 0) {
        for (int c = 0; c < kGrid; c++) {
            for (int b = 0; b < 16; b++) {
                m.hisRegion[ty][c][b] += region[0][c][b] + region[1][c][b];
            }
        }
    }
}

/** Vertical step of the bilinear scaler: a × (256 − f) + b × f for each column. */
void blendRows(const uint16_t *__restrict a, const uint16_t *__restrict b, uint32_t f, uint32_t W,
               uint32_t *__restrict out) {
    const uint16_t wa = static_cast<uint16_t>(256u - f), wb = static_cast<uint16_t>(f);
    for (uint32_t x = 0; x < W; x++) {
        out[x] = uint32_t(a[x]) * wa + uint32_t(b[x]) * wb;
    }
}

/** Horizontal step of the bilinear scaler on the blended rows of the three planes, rounded back to 10 bits. */
void blendColumns(const uint32_t *const v[3], const ScaleTable &table, uint32_t n, uint16_t *__restrict o0,
                  uint16_t *__restrict o1, uint16_t *__restrict o2) {
    const uint32_t *__restrict v0 = v[0], *__restrict v1 = v[1], *__restrict v2 = v[2];
    const uint32_t *__restrict index = table.index.data(), *__restrict index1 = table.index1.data();
    const uint16_t *__restrict frac = table.frac.data();
    for (uint32_t x = 0; x < n; x++) {
        const uint32_t i = index[x], j = index1[x], fx = frac[x], gx = 256u - fx;
        o0[x] = static_cast<uint16_t>((v0[i] * gx + v0[j] * fx + 32768u) >> 16);
        o1[x] = static_cast<uint16_t>((v1[i] * gx + v1[j] * fx + 32768u) >> 16);
        o2[x] = static_cast<uint16_t>((v2[i] * gx + v2[j] * fx + 32768u) >> 16);
    }
}

/** Output row oy of a scaler from the 4:4:4 planes: pointers to its Y, first and second chroma samples. */
void scaledRow(IspModel::Impl &m, const FrameContext &f, const Scaler &sc, const ScaleTable &table, uint32_t oy,
               int slot, const uint16_t **y, const uint16_t **c0, const uint16_t **c2) {
    const uint32_t W = f.W, H = f.H;
    if (sc.identity) {
        const size_t o = size_t(std::min(oy, H - 1) % f.planeRows) * W;
        *y = m.Y.data() + o;
        *c0 = m.C0.data() + o;
        *c2 = m.C2.data() + o;
        return;
    }
    const uint64_t pos = (uint64_t(sc.offY) << 16) + uint64_t(oy) * sc.pitchY * 2u;
    const uint32_t i0 = std::min<uint32_t>(uint32_t(pos >> 16), H - 1), i1 = std::min(i0 + 1u, H - 1);
    const uint32_t fy = uint32_t(pos >> 8) & 255u;
    const uint16_t *planes[3] = {m.Y.data(), m.C0.data(), m.C2.data()};
    uint16_t *outs[3] = {m.sY[slot].data(), m.sC0[slot].data(), m.sC2[slot].data()};
    // bilinear: the vertical blend of the two source rows first (exact in integers, so the order of the two
    // passes does not change the result), then the horizontal blend of each output column
    const uint32_t *blended[3];
    for (int p = 0; p < 3; p++) {
        uint32_t *v = m.scaleRow.data() + size_t(p) * W;
        blendRows(planes[p] + size_t(i0 % f.planeRows) * W, planes[p] + size_t(i1 % f.planeRows) * W, fy, W, v);
        blended[p] = v;
    }
    blendColumns(blended, table, sc.outW, outs[0], outs[1], outs[2]);
    *y = outs[0];
    *c0 = outs[1];
    *c2 = outs[2];
}

/** The first window row that output row oy of a scaler samples. */
uint32_t firstSourceRow(const Scaler &sc, uint32_t oy, uint32_t H) {
    if (sc.identity) {
        return std::min(oy, H - 1);
    }
    const uint64_t pos = (uint64_t(sc.offY) << 16) + uint64_t(oy) * sc.pitchY * 2u;
    return std::min<uint32_t>(uint32_t(pos >> 16), H - 1);
}

/** The last window row that output row oy of a scaler samples. */
uint32_t lastSourceRow(const Scaler &sc, uint32_t oy, uint32_t H) {
    if (sc.identity) {
        return std::min(oy, H - 1);
    }
    const uint64_t pos = (uint64_t(sc.offY) << 16) + uint64_t(oy) * sc.pitchY * 2u;
    return std::min(std::min<uint32_t>(uint32_t(pos >> 16), H - 1) + 1u, H - 1);
}

/** Source column and 8-bit fraction of each output column of a scaler. */
void prepareTable(IspModel::Impl &m, ScaleTable &table, const Scaler &sc, uint32_t W) {
    if (sc.identity) {
        return;
    }
    if (table.index.size() < sc.outW) {
        table.index.resize(sc.outW);
        table.index1.resize(sc.outW);
        table.frac.resize(sc.outW);
    }
    if (m.scaleRow.size() < size_t(3) * W) {
        m.scaleRow.resize(size_t(3) * W);
    }
    for (uint32_t x = 0; x < sc.outW; x++) {
        const uint64_t pos = (uint64_t(sc.offX) << 16) + uint64_t(x) * sc.pitchX * 2u;
        table.index[x] = std::min<uint32_t>(uint32_t(pos >> 16), W - 1);
        table.index1[x] = std::min(table.index[x] + 1u, W - 1);
        table.frac[x] = static_cast<uint16_t>((pos >> 8) & 255u);
    }
}

/** Chroma averaged over 2 × 1 samples (below null) or 2 × 2 samples, rounded. */
void subsampleChroma(const uint16_t *__restrict c, const uint16_t *__restrict below, size_t pairs,
                     uint16_t *__restrict out) {
    if (below == nullptr) {
        for (size_t i = 0; i < pairs; i++) {
            out[i] = static_cast<uint16_t>((uint32_t(c[2 * i]) + c[2 * i + 1] + 1u) >> 1);
        }
        return;
    }
    for (size_t i = 0; i < pairs; i++) {
        out[i] = static_cast<uint16_t>((uint32_t(c[2 * i]) + c[2 * i + 1] + below[2 * i] + below[2 * i + 1] + 2u) >> 2);
    }
}

/** Writes the encoder rows (groups of vsub rows) whose window rows, up to row `ready`, are in the planes. */
void encoderRows(IspModel::Impl &m, FrameContext &f, uint32_t ready) {
    if (!f.encY.active()) {
        return;
    }
    const Scaler &sc = f.encSc;
    const uint32_t vsub = f.encType.ui8VSubsampling == 2 ? 2u : 1u;
    const unsigned depth = f.encType.ui8BitDepth;
    const uint32_t pairs = sc.outW / 2;
    for (; f.encNext < sc.outH; f.encNext += vsub) {
        const uint32_t oy = f.encNext;
        if (lastSourceRow(sc, std::min(oy + vsub - 1, sc.outH - 1), f.H) > ready) {
            return;
        }
        const uint16_t *y[2], *c0[2], *c2[2];
        for (uint32_t k = 0; k < vsub; k++) {
            const uint32_t row = std::min(oy + k, sc.outH - 1);
            scaledRow(m, f, sc, m.encTable, row, int(k), &y[k], &c0[k], &c2[k]);
            if (oy + k < sc.outH) {
                isp::PackLuma(y[k], sc.outW, depth, f.encY.row(oy + k));
                f.encY.commit(oy + k);
            }
        }
        uint16_t *s0 = m.subC0.data(), *s2 = m.subC2.data();
        subsampleChroma(c0[0], vsub == 2 ? c0[1] : nullptr, pairs, s0);
        subsampleChroma(c2[0], vsub == 2 ? c2[1] : nullptr, pairs, s2);
        isp::PackChroma(s0, s2, pairs, depth, f.encC.row(oy / vsub));
        f.encC.commit(oy / vsub);
    }
}

/** YUV to RGB of one row (inputs in the hardware order) with the display gamut mapper's clip, 10-bit. */
void yuvToRgbRow(const CI_MODULE_PLANECONV &pc, int32_t lo, int32_t hi, const uint16_t *__restrict c0,
                 const uint16_t *__restrict y, const uint16_t *__restrict c2, uint32_t n, uint16_t *__restrict o0,
                 uint16_t *__restrict o1, uint16_t *__restrict o2) {
    // Σ a · (in + offset) = Σ a · in + Σ a · offset: products of 16-bit coefficients and 10-bit codes on 16-bit
    // lanes, sums taken modulo 2^32 (the exact sum fits 32 bits, the partial ones need not)
    const int16_t a00 = pc.aCoeff[0][0], a01 = pc.aCoeff[0][1], a02 = pc.aCoeff[0][2];
    const int16_t a10 = pc.aCoeff[1][0], a11 = pc.aCoeff[1][1], a12 = pc.aCoeff[1][2];
    const int16_t a20 = pc.aCoeff[2][0], a21 = pc.aCoeff[2][1], a22 = pc.aCoeff[2][2];
    const uint32_t off0 = pc.aOffset[0], off1 = pc.aOffset[1], off2 = pc.aOffset[2];
    const uint32_t k0 = uint32_t(a00) * off0 + uint32_t(a01) * off1 + uint32_t(a02) * off2 + 256u;
    const uint32_t k1 = uint32_t(a10) * off0 + uint32_t(a11) * off1 + uint32_t(a12) * off2 + 256u;
    const uint32_t k2 = uint32_t(a20) * off0 + uint32_t(a21) * off1 + uint32_t(a22) * off2 + 256u;
    for (uint32_t x = 0; x < n; x++) {
        const int16_t i0 = static_cast<int16_t>(c0[x]), i1 = static_cast<int16_t>(y[x]),
                      i2 = static_cast<int16_t>(c2[x]);
        const uint32_t s0 = uint32_t(a00 * i0) + uint32_t(a01 * i1) + uint32_t(a02 * i2) + k0;
        const uint32_t s1 = uint32_t(a10 * i0) + uint32_t(a11 * i1) + uint32_t(a12 * i2) + k1;
        const uint32_t s2 = uint32_t(a20 * i0) + uint32_t(a21 * i1) + uint32_t(a22 * i2) + k2;
        o0[x] = static_cast<uint16_t>(clampi(static_cast<int32_t>(s0) >> 9, lo, hi));
        o1[x] = static_cast<uint16_t>(clampi(static_cast<int32_t>(s1) >> 9, lo, hi));
        o2[x] = static_cast<uint16_t>(clampi(static_cast<int32_t>(s2) >> 9, lo, hi));
    }
}

/** Writes the display rows whose window rows, up to row `ready`, are in the planes. */
void displayRows(IspModel::Impl &m, FrameContext &f, uint32_t ready) {
    if (!f.disp.active()) {
        return;
    }
    const Scaler &sc = f.dispSc;
    const CI_MODULE_GAMUTMAPPER &gm = f.reg->sDisplayGamutMapper;
    const int32_t lo = std::max(0, int32_t(gm.i16ClipMin) * 1023 / 1024);
    const int32_t hi = std::min(1023, int32_t(gm.ui16ClipMax) * 1023 / 1024);
    uint16_t *o0 = m.o0.data(), *o1 = m.o1.data(), *o2 = m.o2.data();
    for (; f.dispNext < sc.outH && lastSourceRow(sc, f.dispNext, f.H) <= ready; f.dispNext++) {
        const uint32_t oy = f.dispNext;
        const uint16_t *y, *c0, *c2;
        scaledRow(m, f, sc, m.dispTable, oy, 0, &y, &c0, &c2);
        yuvToRgbRow(f.reg->sYCCToRGB, lo, hi, c0, y, c2, sc.outW, o0, o1, o2);
        isp::PackTriplets(f.dispType.eFmt, o0, o1, o2, sc.outW, f.disp.row(oy));
        f.disp.commit(oy);
    }
}

/**
 * Rows the 4:4:4 planes must keep: output rows are written as soon as their last window row is ready, so the
 * planes hold the rows from the first one a group of output rows samples to its last. Fewer rows stay in the cache.
 */
uint32_t planeRowsNeeded(const FrameContext &f) {
    uint32_t rows = 1;
    if (f.encY.active()) {
        const uint32_t vsub = f.encType.ui8VSubsampling == 2 ? 2u : 1u;
        for (uint32_t oy = 0; oy < f.encSc.outH; oy += vsub) {
            const uint32_t last = lastSourceRow(f.encSc, std::min(oy + vsub - 1, f.encSc.outH - 1), f.H);
            rows = std::max(rows, last - firstSourceRow(f.encSc, oy, f.H) + 1);
        }
    }
    if (f.disp.active()) {
        for (uint32_t oy = 0; oy < f.dispSc.outH; oy++) {
            rows = std::max(rows, lastSourceRow(f.dispSc, oy, f.H) - firstSourceRow(f.dispSc, oy, f.H) + 1);
        }
    }
    return std::min(rows, f.H);
}

/** Everything up to the 4:4:4 planes, row by row, with the statistics and the Bayer and HDR taps. */
void processFront(IspModel::Impl &m, FrameContext &f, const IspFrameSettings &s) {
    const uint32_t W = f.W, H = f.H;
    const bool wbs = (f.eOutput & CI_SAVE_WHITEBALANCE) != 0;
    const bool fos = (f.eOutput & (CI_SAVE_FOS_ROI | CI_SAVE_FOS_GRID)) != 0;
    // rows y-1, y, y+1 of the white-balanced Bayer image live in the ring; the rows outside mirror row 1 and H-2
    bayerRow(m, f, s, 0, m.ring[0].data());
    if (H > 1) {
        bayerRow(m, f, s, 1, m.ring[1].data());
    }
    for (uint32_t y = 0; y < H; y++) {
        const uint16_t *cur = m.ring[y % 3].data() + 2;
        const uint16_t *up = (y == 0 ? m.ring[H > 1 ? 1 : 0].data() : m.ring[(y - 1) % 3].data()) + 2;
        const uint16_t *dn = up;
        if (y + 1 < H) {
            dn = m.ring[(y + 1) % 3].data() + 2;
        } else if (y >= 1) {
            dn = m.ring[(y - 1) % 3].data() + 2;
        }
        if (y == 0 && H > 1) {
            up = dn;
        }
        int32_t *R = m.R.data(), *G = m.G.data(), *B = m.B.data();
        int16_t *dR = m.dR.data(), *dG = m.dG.data(), *dB = m.dB.data();
        demosaicRow(up, cur, dn, W, f.colour[y & 1u], dR, dG, dB);
        if (fos) {
            focusRow(m, f, y, cur, dn);
        }
        colourRow(f, W, dR, dG, dB, R, G, B);
        if (wbs) {
            whiteBalanceRow(m, f, y, R, G, B);
        }
        toneRow(m, f, y, R, G, B);
        // the scalers take their rows while the window rows they sample are still in the cache
        encoderRows(m, f, y);
        displayRows(m, f, y);
        if (y + 2 < H) {
            bayerRow(m, f, s, y + 2, m.ring[(y + 2) % 3].data());
        }
    }
}

void writeStatistics(const IspModel::Impl &m, const FrameContext &f, const IspFrameSettings &s, uint8_t flicker,
                     uint8_t *out) {
    namespace L = stats_layout;
    std::memset(out, 0, kIspStatsSize);
    const uint32_t e = f.eOutput;
    if (e & CI_SAVE_EXS_GLOBAL) {
        for (int ch = 0; ch < 4; ch++) {
            put32(out, L::kExsGlobal + 4 * ch, m.exsGlobal[ch]);
        }
    }
    if (e & CI_SAVE_EXS_REGION) {
        for (int r = 0; r < kGrid; r++) {
            for (int c = 0; c < kGrid; c++) {
                for (int ch = 0; ch < 4; ch++) {
                    put16(out, L::kExsRegion + 64 * r + 8 * c + 2 * ch, m.exsRegion[r][c][ch]);
                }
            }
        }
    }
    if (e & CI_SAVE_FOS_ROI) {
        put32(out, L::kFosRoi, m.fosRoi);
    }
    if (e & CI_SAVE_FOS_GRID) {
        for (int r = 0; r < kGrid; r++) {
            for (int c = 0; c < kGrid; c++) {
                put32(out, L::kFosGrid + 64 * r + 4 * c, m.fosGrid[r][c]);
            }
        }
    }
    if (e & CI_SAVE_WHITEBALANCE) {
        for (int k = 0; k < 2; k++) {
            const size_t b = L::kWbsRoi + 64 * k;
            for (int ch = 0; ch < 3; ch++) {
                put32(out, b + 8 * ch, m.wbsWhiteSum[k][ch]);
                put32(out, b + 4 + 8 * ch, m.wbsWhiteCount[k][ch]);
                put32(out, b + 24 + 4 * ch, m.wbsAvg[k][ch]);
                put32(out, b + 36 + 4 * ch, m.wbsHighSum[k][ch]);
            }
            put32(out, b + 48, m.wbsHighCount[k]);
        }
    }
    if (e & CI_SAVE_HIST_GLOBAL) {
        for (int b = 0; b < 64; b++) {
            put32(out, L::kHisGlobal + 4 * b, m.hisGlobal[b]);
        }
    }
    if (e & CI_SAVE_HIST_REGION) {
        for (int r = 0; r < kGrid; r++) {
            for (int c = 0; c < kGrid; c++) {
                for (int b = 0; b < 16; b++) {
                    put32(out, L::kHisRegion + 64 * (kGrid * r + c) + 4 * b, m.hisRegion[r][c][b]);
                }
            }
        }
    }
    if (e & CI_SAVE_WHITEBALANCE_EXT) {
        for (int r = 0; r < kGrid; r++) {
            for (int c = 0; c < kGrid; c++) {
                const size_t b = L::kAwsGrid + 128 * r + 16 * c;
                put32(out, b, m.awsSum[r][c][kRed]);
                put32(out, b + 4, m.awsSum[r][c][kBlue]);
                put32(out, b + 8, m.awsSum[r][c][kGreen]);
                put32(out, b + 12, m.awsCount[r][c] & 0x3FFFFFu);
            }
        }
    }
    put32(out, L::kStatus, (f.error ? 1u : 0u) | (uint32_t(s.privateValue) << 16));
    if (e & CI_SAVE_FLICKER) {
        out[L::kFlicker] = flicker;
    }
}

} // namespace

QOR_RESULT IspModel::process(const IspInputFrame &input, const IspFrameSettings &settings,
                             const IspFrameOutputs &outputs, IspFrameResult *result) {
    Impl &m = *m_impl;
    if (settings.registers == nullptr || settings.info == nullptr || input.samples == nullptr || input.bitDepth < 1 ||
        input.bitDepth > 16 || settings.gamma == nullptr) {
        LOG_Error(__func__, __LINE__, kTag, "missing register image, gamma curve or input frame\n");
        return QOR_RES_INVALID_PARAM;
    }
    const CI_PIPELINE &reg = *settings.registers;
    const CI_PIPE_INFO &info = *settings.info;
    FrameContext f{};
    f.in = &input;
    f.reg = &reg;
    f.info = &info;
    f.depth = input.bitDepth;
    f.inStride = input.rowStride != 0 ? input.rowStride : input.width;
    const IspImageSizes sizes = IspOutputSizes(reg, info);
    f.W = sizes.windowWidth;
    f.H = sizes.windowHeight;
    if (f.W < 4 || f.H < 2 || sizes.encoderWidth < 2 || sizes.displayWidth < 2) {
        LOG_Error(__func__, __LINE__, kTag, "imager window %ux%u too small\n", f.W, f.H);
        return QOR_RES_INVALID_PARAM;
    }
    // imager window in cells of 2×2 pixels, decimation keeps one cell in (value + 1)
    f.offX = 2u * info.iifConfig.ui16ImagerOffset[0];
    f.offY = 2u * info.iifConfig.ui16ImagerOffset[1];
    f.decX = 2u * (uint32_t(info.iifConfig.ui16ImagerDecimation[0]) + 1u);
    f.decY = 2u * (uint32_t(info.iifConfig.ui16ImagerDecimation[1]) + 1u);
    cellColours(info.iifConfig.eBayerFormat, f.colour);
    f.eOutput = info.config.eOutputConfig;

    // ---- outputs: check every layout before anything is written
    const CI_PIPELINE_CONFIG &cfg = info.config;
    if (outputs.encoder.data != nullptr && cfg.eEncType.eFmt != PXL_NONE) {
        if (PixelTransformYUV(&f.encType, cfg.eEncType.eFmt) != QOR_RES_OK ||
            PixelFormatIsPackedYcc(cfg.eEncType.eFmt)) {
            LOG_Error(__func__, __LINE__, kTag, "encoder format %d is not semi-planar YUV\n", int(cfg.eEncType.eFmt));
            return QOR_RES_INVALID_PARAM;
        }
        const IspOutputBuffer &b = outputs.encoder;
        uint32_t stride = b.stride, cstride = b.chromaStride, rowsAlloc = sizes.encoderHeight;
        if (stride == 0 || cstride == 0) {
            CI_TILINGINFO ti{};
            const bool tiled = b.tileStride != 0 && CI_ALLOC_GetTileInfo(b.tileStride, &ti) == QOR_RES_OK;
            CI_SIZEINFO si{};
            if (CI_ALLOC_YUVSizeInfo(&f.encType, sizes.encoderWidth, sizes.encoderHeight, tiled ? &ti : nullptr, &si) !=
                QOR_RES_OK) {
                return QOR_RES_INVALID_PARAM;
            }
            stride = stride != 0 ? stride : si.ui32Stride;
            cstride = cstride != 0 ? cstride : si.ui32CStride;
            rowsAlloc = si.ui32Height;
        }
        // an odd 4:2:0 height still gets a chroma row for its last luma row
        const uint32_t vsub = f.encType.ui8VSubsampling == 2 ? 2u : 1u;
        const uint32_t cRows = (sizes.encoderHeight + vsub - 1) / vsub;
        const size_t coff = b.chromaOffset != 0 ? b.chromaOffset : size_t(b.offset) + size_t(stride) * rowsAlloc;
        if (!f.encY.setup(b, b.offset, stride, sizes.encoderHeight, isp::PackedRowBytes(f.encType, sizes.encoderWidth),
                          &m.tileScratch) ||
            !f.encC.setup(b, coff, cstride, cRows, isp::PackedRowBytes(f.encType, sizes.encoderWidth),
                          &m.tileScratch)) {
            LOG_Error(__func__, __LINE__, kTag, "encoder buffer too small for %ux%u\n", sizes.encoderWidth,
                      sizes.encoderHeight);
            return QOR_RES_INVALID_PARAM;
        }
    }
    f.deDisplay = false;
    if (outputs.display.data != nullptr && cfg.eDispType.eFmt != PXL_NONE) {
        const IspOutputBuffer &b = outputs.display;
        const bool bayer = cfg.eDispType.eFmt >= BAYER_RGGB_8 && cfg.eDispType.eFmt <= BAYER_TIFF_12;
        QOR_RESULT ok = bayer ? PixelTransformBayer(&f.dispType, cfg.eDispType.eFmt, info.iifConfig.eBayerFormat)
                              : PixelTransformDisplay(&f.dispType, cfg.eDispType.eFmt);
        const bool point =
            cfg.eDataExtraction == CI_INOUT_BLACK_LEVEL || cfg.eDataExtraction == CI_INOUT_FILTER_LINESTORE;
        if (ok != QOR_RES_OK || (bayer && !point)) {
            LOG_Error(__func__, __LINE__, kTag, "display format %d cannot be written\n", int(cfg.eDispType.eFmt));
            return QOR_RES_INVALID_PARAM;
        }
        const uint32_t w = bayer ? f.W : sizes.displayWidth, h = bayer ? f.H : sizes.displayHeight;
        uint32_t stride = b.stride;
        if (stride == 0) {
            CI_TILINGINFO ti{};
            const bool tiled = b.tileStride != 0 && CI_ALLOC_GetTileInfo(b.tileStride, &ti) == QOR_RES_OK;
            CI_SIZEINFO si{};
            const QOR_RESULT r = bayer ? CI_ALLOC_Raw2DSizeInfo(&f.dispType, w, h, nullptr, &si)
                                       : (PixelFormatIsPackedYcc(cfg.eDispType.eFmt)
                                              ? CI_ALLOC_YUVSizeInfo(&f.dispType, w, h, tiled ? &ti : nullptr, &si)
                                              : CI_ALLOC_RGBSizeInfo(&f.dispType, w, h, tiled ? &ti : nullptr, &si));
            if (r != QOR_RES_OK) {
                return QOR_RES_INVALID_PARAM;
            }
            stride = si.ui32Stride;
        }
        isp::PlaneWriter &wr = bayer ? f.deWriter : f.disp;
        if (!wr.setup(b, b.offset, stride, h, isp::PackedRowBytes(f.dispType, w), &m.tileScratch)) {
            LOG_Error(__func__, __LINE__, kTag, "display buffer too small for %ux%u\n", w, h);
            return QOR_RES_INVALID_PARAM;
        }
        f.deDisplay = bayer;
        f.dePoint = cfg.eDataExtraction;
    }
    if (outputs.hdrExtraction.data != nullptr && cfg.eHDRExtType.eFmt != PXL_NONE) {
        const IspOutputBuffer &b = outputs.hdrExtraction;
        if (PixelTransformRGB(&f.hdrType, cfg.eHDRExtType.eFmt) != QOR_RES_OK) {
            return QOR_RES_INVALID_PARAM;
        }
        const size_t rowBytes = isp::PackedRowBytes(f.hdrType, f.W);
        const uint32_t stride = b.stride != 0 ? b.stride : static_cast<uint32_t>((rowBytes + 63) / 64 * 64);
        if (!f.hdrWriter.setup(b, b.offset, stride, f.H, rowBytes, &m.tileScratch)) {
            return QOR_RES_INVALID_PARAM;
        }
    }
    if (outputs.raw2D.data != nullptr && cfg.eRaw2DExtraction.eFmt != PXL_NONE) {
        const IspOutputBuffer &b = outputs.raw2D;
        if (PixelTransformBayer(&f.rawType, cfg.eRaw2DExtraction.eFmt, info.iifConfig.eBayerFormat) != QOR_RES_OK ||
            b.tileStride != 0) {
            return QOR_RES_INVALID_PARAM;
        }
        const size_t rowBytes = isp::PackedRowBytes(f.rawType, f.W);
        const uint32_t stride = b.stride != 0 ? b.stride : static_cast<uint32_t>(rowBytes);
        if (!f.rawWriter.setup(b, b.offset, stride, f.H, rowBytes, &m.tileScratch)) {
            return QOR_RES_INVALID_PARAM;
        }
    }

    // ---- tables
    if (buildFrontLut(m, reg, f.depth)) {
        m_tableBuilds++;
    }
    if (buildGammaLut(m, *settings.gamma, reg.sGammaCorrection.bBypass != 0)) {
        m_tableBuilds++;
    }
    if (buildToneLut(m, reg.sToneMapping)) {
        m_tableBuilds++;
    }
    if (m.awsLog.empty()) {
        m.awsLog.resize(4096);
        for (int i = 0; i < 4096; i++) {
            const double v8 = (i * 16 + 8) / 256.0;
            m.awsLog[i] = static_cast<uint16_t>(std::lround(std::max(0.0, std::log2(v8)) * 32.0));
        }
    }
    if (m.lshCx.size() != f.W) {
        m.lshCx.resize(f.W);
        for (uint32_t x = 0; x < f.W; x++) {
            m.lshCx[x] = (float(x) - float(f.W) / 2.0f) / (float(f.W) / 2.0f);
        }
    }
    f.lsh = settings.lshMatrix != nullptr;
    if (f.lsh && !decodeShading(m, settings, f)) {
        LOG_Error(__func__, __LINE__, kTag, "lens-shading matrix does not fit its configuration\n");
        return QOR_RES_INVALID_PARAM;
    }

    // ---- block settings
    f.wbIdentity = true;
    for (int c = 0; c < 4; c++) {
        f.wbGain[c] = reg.sWhiteBalance.aGain[c];
        const uint32_t clip = reg.sWhiteBalance.aClip[c];
        f.wbClip[c] = clip >= 8191u ? 65535 : int32_t(clip * 8u);
        f.wbIdentity = f.wbIdentity && f.wbGain[c] == 1024 && f.wbClip[c] == 65535;
    }
    const CI_PIPELINE_STATS &st = reg.stats;
    f.exs = (f.eOutput & (CI_SAVE_EXS_GLOBAL | CI_SAVE_EXS_REGION)) != 0;
    {
        // a sample is clipped when it reaches the pixel maximum on the 12-bit scale: deeper samples keep their top
        // 12 bits, shallower ones are stretched to full scale (v × 4095 / max, rounded)
        const uint32_t pm = st.sExposureStats.ui16PixelMax;
        if (f.depth >= 12) {
            f.exsThreshold = pm << (f.depth - 12);
        } else {
            const uint32_t maxv = (1u << f.depth) - 1u;
            uint32_t t = uint32_t(uint64_t(pm) * maxv / 4095u);
            t = t > 0 ? t - 1 : 0;
            while (t <= maxv && (t * 4095u + maxv / 2) / maxv < pm) {
                t++;
            }
            f.exsThreshold = t;
        }
    }
    f.aws = (f.eOutput & CI_SAVE_WHITEBALANCE_EXT) != 0;
    {
        const CI_MODULE_AWS &a = st.sAutoWhiteBalanceStats;
        f.awsStartX = a.ui16GridStartColumn;
        f.awsStartY = a.ui16GridStartRow;
        f.awsTileW = uint32_t(a.ui16GridTileWidth) + 1u;
        f.awsTileH = uint32_t(a.ui16GridTileHeight) + 1u;
        f.awsDark[kRed] = a.ui16RedDarkThresh, f.awsDark[kGreen] = a.ui16GreenDarkThresh,
        f.awsDark[kBlue] = a.ui16BlueDarkThresh;
        f.awsClipT[kRed] = a.ui16RedClipThresh, f.awsClipT[kGreen] = a.ui16GreenClipThresh,
        f.awsClipT[kBlue] = a.ui16BlueClipThresh;
    }

    // ---- scratch (grows only)
    const size_t W = f.W, H = f.H;
    const uint32_t maxOut = std::max({f.W, sizes.encoderWidth, sizes.displayWidth});
    for (auto *v : {&m.raw, &m.pre, &m.awsTop, &m.hisLuma, &m.fosSharp}) {
        if (v->size() < W) {
            v->resize(W);
        }
    }
    for (auto *v : {&m.o0, &m.o1, &m.o2}) {
        if (v->size() < maxOut) {
            v->resize(maxOut);
        }
    }
    if (m.rowGain.size() < W) {
        m.rowGain.resize(W);
    }
    for (auto &r : m.ring) {
        if (r.size() < W + 4) {
            r.resize(W + 4);
        }
    }
    for (auto *v : {&m.R, &m.G, &m.B}) {
        if (v->size() < W) {
            v->resize(W);
        }
    }
    for (auto *v : {&m.r12, &m.g12, &m.b12, &m.dR, &m.dG, &m.dB}) {
        if (v->size() < W) {
            v->resize(W);
        }
    }
    for (auto *v : {&m.Y, &m.C0, &m.C2}) {
        if (v->size() < W * H) {
            v->resize(W * H);
        }
    }
    for (int k = 0; k < 2; k++) {
        for (auto *v : {&m.sY[k], &m.sC0[k], &m.sC2[k]}) {
            if (v->size() < maxOut) {
                v->resize(maxOut);
            }
        }
    }
    for (auto *v : {&m.subC0, &m.subC2}) {
        if (v->size() < maxOut) {
            v->resize(maxOut);
        }
    }
    {
        const int32_t hoff = int32_t(st.sHistStats.ui16InputOffset) - 256, hscale = st.sHistStats.ui16InputScale;
        m.hisIdentity = true;
        for (int32_t v = 0; v < 1024; v++) {
            m.hisMap[v] = static_cast<uint16_t>(clampi(int32_t((int64_t(v + hoff) * hscale + 16384) >> 15), 0, 1023));
            m.hisIdentity = m.hisIdentity && m.hisMap[v] == v;
        }
    }
    m.exsTiles = gridRanges(m.exsRange, f.W, st.sExposureStats.ui16Left, st.sExposureStats.ui16Width);
    gridIndex(&m.hisCol, f.W, st.sHistStats.ui16Left, st.sHistStats.ui16Width);
    m.fosTiles = gridRanges(m.fosRange, f.W, st.sFocusStats.ui16Left, st.sFocusStats.ui16Width);

    std::memset(m.exsGlobal, 0, sizeof(m.exsGlobal));
    std::memset(m.exsRegion, 0, sizeof(m.exsRegion));
    m.fosRoi = 0;
    std::memset(m.fosGrid, 0, sizeof(m.fosGrid));
    std::memset(m.wbsWhiteSum, 0, sizeof(m.wbsWhiteSum));
    std::memset(m.wbsWhiteCount, 0, sizeof(m.wbsWhiteCount));
    std::memset(m.wbsAvg, 0, sizeof(m.wbsAvg));
    std::memset(m.wbsHighSum, 0, sizeof(m.wbsHighSum));
    std::memset(m.wbsHighCount, 0, sizeof(m.wbsHighCount));
    std::memset(m.hisGlobal, 0, sizeof(m.hisGlobal));
    std::memset(m.hisRegion, 0, sizeof(m.hisRegion));
    std::memset(m.awsSum, 0, sizeof(m.awsSum));
    std::memset(m.awsCount, 0, sizeof(m.awsCount));

    f.encSc = scalerOf(reg.sEncoderScaler, f.W, f.H);
    f.dispSc = scalerOf(reg.sDisplayScaler, f.W, f.H);
    if (f.encY.active()) {
        prepareTable(m, m.encTable, f.encSc, f.W);
    }
    if (f.disp.active()) {
        prepareTable(m, m.dispTable, f.dispSc, f.W);
    }
    f.encNext = 0;
    f.dispNext = 0;
    f.planeRows = planeRowsNeeded(f);
    processFront(m, f, settings);
    if (outputs.statistics != nullptr) {
        writeStatistics(m, f, settings, m_flicker, outputs.statistics);
    }
    if (result != nullptr) {
        result->sizes = sizes;
        result->frameError = f.error;
    }
    return QOR_RES_OK;
}

} // namespace norva_sim
