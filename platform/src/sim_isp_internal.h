#ifndef NORVA_SIM_ISP_INTERNAL_H
#define NORVA_SIM_ISP_INTERNAL_H

/*
 * Shared parts of the ISP image model, one file per stage:
 *   sim_isp_rows.cpp   look-up tables and the per-row image functions (raw curve, shading, white balance,
 *                      demosaic, colour matrix, gamma, tone, colour conversion);
 *   sim_isp_tone.cpp   the tone mapper (its tables and the per-row mapping of luma and chroma);
 *   sim_isp_stats.cpp  statistics (exposure, histograms, focus, white balance, auto white balance, flicker);
 *   sim_isp_scale.cpp  scalers and the encoder and display outputs (packing in sim_isp_pack.cpp);
 *   sim_isp_model.cpp  the per-frame driver: settings, row bands on the worker pool, the save structure;
 *   sim_isp_lca.cpp, sim_isp_aws.cpp, sim_isp_ens.cpp  lateral chromatic aberration, the black-body filter of the
 *                      auto-white-balance statistics, the encoder statistics.
 *
 * A frame is cut into bands of window rows. Each band has its own ring of Bayer rows, scratch rows, 4:4:4 plane
 * rows, statistics accumulators and tiled-output scratch, so bands run on different threads without sharing
 * anything they write; the demosaic reads one row across each band edge and the scalers the rows their outputs
 * sample (the halo), which the band computes again without counting them. The statistics of the bands are summed
 * in band order at the end.
 *
 * Vector kernels come in two builds on x86-64, the baseline one and one for AVX2, chosen once per model from the
 * processor (NORVA_SIM_BASELINE=1 forces the baseline); other machines have the baseline only.
 */

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/sim_isp_model.h"
#include "sim_isp_enhance.h"
#include "sim_isp_pack.h"

#if defined(__x86_64__) && defined(__GNUC__)
#define NORVA_ISP_AVX2 1
#define ISP_TARGET_AVX2 __attribute__((target("avx2")))
#endif

#if NORVA_ISP_AVX2
#include <immintrin.h>
#endif

/** The body of a kernel, inlined into each of its builds. */
#define ISP_INLINE inline __attribute__((always_inline))

#if NORVA_ISP_AVX2
/** Defines name##Base and name##Avx2 calling the inline body name##Body with the same arguments. */
#define ISP_KERNEL(name, params, args)                                                                                 \
    void name##Base params { name##Body args; }                                                                        \
    ISP_TARGET_AVX2 void name##Avx2 params { name##Body args; }
/** The same for a kernel that returns a value of type `type`. */
#define ISP_KERNEL_R(type, name, params, args)                                                                         \
    type name##Base params { return name##Body args; }                                                                 \
    ISP_TARGET_AVX2 type name##Avx2 params { return name##Body args; }
#define ISP_PICK(name, avx2) ((avx2) ? name##Avx2 : name##Base)
#else
#define ISP_KERNEL(name, params, args)                                                                                 \
    void name##Base params { name##Body args; }
#define ISP_KERNEL_R(type, name, params, args)                                                                         \
    type name##Base params { return name##Body args; }
#define ISP_PICK(name, avx2) name##Base
#endif

namespace norva_sim {
namespace isp {

#if NORVA_ISP_AVX2
/**
 * Three-term products of 16-bit lanes for the AVX2 kernels written by hand: the inputs (x, y) and (z, 1)
 * interleaved, each 32-bit lane the exact c0 · x + c1 · y + c2 · z + c3 (taken modulo 2^32). The interleaving
 * works within each 128-bit half, so that the low and high results of 16 pixels packed again with
 * _mm256_packs/packus_epi32 come back in pixel order.
 */
struct Interleaved3 {
    __m256i xyLo, xyHi, z1Lo, z1Hi;
};
ISP_TARGET_AVX2 inline Interleaved3 Interleave3(__m256i x, __m256i y, __m256i z) {
    const __m256i one = _mm256_set1_epi16(1);
    return {_mm256_unpacklo_epi16(x, y), _mm256_unpackhi_epi16(x, y), _mm256_unpacklo_epi16(z, one),
            _mm256_unpackhi_epi16(z, one)};
}
/** Coefficient pairs (c0, c1) and (c2, c3) of Interleave3's lanes. */
ISP_TARGET_AVX2 inline __m256i Pair16(int16_t a, int16_t b) {
    return _mm256_set1_epi32(int32_t(uint32_t(uint16_t(a)) | uint32_t(uint16_t(b)) << 16));
}
ISP_TARGET_AVX2 inline __m256i Sum3Lo(const Interleaved3 &v, __m256i c01, __m256i c23) {
    return _mm256_add_epi32(_mm256_madd_epi16(v.xyLo, c01), _mm256_madd_epi16(v.z1Lo, c23));
}
ISP_TARGET_AVX2 inline __m256i Sum3Hi(const Interleaved3 &v, __m256i c01, __m256i c23) {
    return _mm256_add_epi32(_mm256_madd_epi16(v.xyHi, c01), _mm256_madd_epi16(v.z1Hi, c23));
}
#endif

constexpr const char *kTag = "SIM_ISP";
constexpr int kGrid = 7;
enum Colour { kRed = 0, kGreen = 1, kBlue = 2 };
/** Offset of the centred demosaic outputs. */
constexpr int32_t kCentre = 32768;

inline int32_t clampi(int32_t v, int32_t lo, int32_t hi) { return v < lo ? lo : (v > hi ? hi : v); }

/** std::min(std::max(v, lo), hi) on values, which the compiler can vectorize. */
inline float clampf(float v, float lo, float hi) {
    const float m = v < lo ? lo : v;
    return hi < m ? hi : m;
}

/** Colour of each position of the 2×2 cell, [row][column], for a Bayer order. */
void CellColours(MOSAICType mosaic, int colour[2][2]);
// The white-balance gains and clips are written red first (R, G of the red row, G of the blue row, B), as the
// white-balance controls lay out their gains; the channel of that order which a cell position takes.
int ColourOrderChannel(MOSAICType mosaic, int position);

struct Scaler {
    bool identity = true;
    uint32_t outW = 0, outH = 0;
    uint32_t pitchX = 32768, pitchY = 32768;
    uint32_t offX = 0, offY = 0;
};

Scaler ScalerOf(const CI_MODULE_SCALER &s, uint32_t inW, uint32_t inH);

/** Horizontal positions of a scaler: source columns and 8-bit fraction of each output column. */
struct ScaleTable {
    std::vector<uint32_t> index, index1;
    std::vector<uint16_t> frac;
    // for the vector kernel, per block of 8 output columns: the first source column, and each column's two
    // sources relative to it; `windowed` when every block's sources lie within 16 columns of its first
    std::vector<uint32_t> blockBase, rel, rel1;
    bool windowed = false;
};

/** Vector kernels of one code path (baseline or AVX2). */
struct Kernels {
    void (*applyShading)(float *gain, uint32_t W, uint16_t *v);
    void (*shadeRun)(float aE, float dE, float aO, float dO, const float *w, uint32_t cells, uint16_t *v);
    void (*whiteBalanceGains)(const uint16_t *in, size_t cells, uint32_t gE, uint32_t gO, uint32_t kE, uint32_t kO,
                              uint16_t *out);
    void (*demosaicRow)(const uint16_t *up, const uint16_t *cur, const uint16_t *dn, uint32_t W, const int colourRow[2],
                        int16_t *R, int16_t *G, int16_t *B);
    void (*colourMatrix)(const int16_t *coeff, const int32_t *offset, int32_t lo, int32_t hi, uint32_t W,
                         const int16_t *r16, const int16_t *g16, const int16_t *b16, int32_t *R, int32_t *G,
                         int32_t *B);
    void (*colourIndex)(const int16_t *coeff, const int32_t *offset, int32_t lo, int32_t hi, uint32_t W,
                        const int16_t *r16, const int16_t *g16, const int16_t *b16, int16_t *R, int16_t *G, int16_t *B);
    void (*gammaIndex)(const int32_t *v, uint32_t W, int16_t *out);
    void (*rgbToYuv)(const int16_t *coeff, const int32_t *offset, const int16_t *r12, const int16_t *g12,
                     const int16_t *b12, uint32_t W, uint16_t *luma, uint16_t *C0p, uint16_t *Yp, uint16_t *C2p);
    void (*countAbove)(const uint16_t *v, uint32_t x0, uint32_t x1, uint32_t thr, uint32_t count[2]);
    void (*focusSharpness)(const uint16_t *cur, const uint16_t *dn, uint32_t n, uint16_t *sharp);
    void (*whiteBalanceSums)(const int16_t *r12, const int16_t *g12, const int16_t *b12, uint32_t x0, uint32_t x1,
                             int32_t rgbOff, const int32_t *thresholds, uint32_t *sums);
    void (*scaleRow)(const uint16_t *const a[3], const uint16_t *const b[3], uint32_t fy, uint32_t W,
                     const ScaleTable &table, uint32_t n, uint32_t *scratch, uint16_t *o0, uint16_t *o1, uint16_t *o2);
    void (*yuvToRgb)(const int16_t *coeff, const int32_t *k, int32_t lo, int32_t hi, const uint16_t *c0,
                     const uint16_t *y, const uint16_t *c2, uint32_t n, uint16_t *o0, uint16_t *o1, uint16_t *o2);
    void (*packTriplets)(pxlFormat format, const uint16_t *o0, const uint16_t *o1, const uint16_t *o2, uint32_t n,
                         uint8_t *out);
    void (*encoderChroma)(const uint16_t *c0, const uint16_t *c0Below, const uint16_t *c2, const uint16_t *c2Below,
                          uint32_t pairs, unsigned depth, uint16_t *s0, uint16_t *s2, uint8_t *out);
    void (*packLuma)(const uint16_t *y10, uint32_t n, unsigned depth, uint8_t *out);
    void (*clampRow)(const uint16_t *in, uint32_t n, uint16_t maxv, uint16_t *out);
    uint32_t (*awsIndices)(const uint16_t *pr, const uint16_t *pg1, const uint16_t *pg2, const uint16_t *pb, uint32_t n,
                           const uint16_t *dark, const uint16_t *clip, uint16_t *iR, uint16_t *iG, uint16_t *iB);
    void (*histogramBins)(const uint16_t *luma, uint32_t n, uint32_t *bins);
    void (*toneChroma)(const uint64_t *entry, uint32_t W, uint16_t *C0, uint16_t *C2);
    uint32_t (*toneChromaSum)(const uint64_t *entry, uint32_t n, uint16_t *C0, uint16_t *C2);
    void (*toneBlend)(const uint64_t *entry, const uint16_t *local, uint32_t n, uint32_t w, uint16_t *Y);
    void (*toneGlobal)(const uint64_t *entry, uint32_t n, uint16_t *Y);
    void (*enhanceRow)(const EnhancerTables &t, uint16_t *Y, uint16_t *C0, uint16_t *C2, uint32_t W, float *scratch);
    void (*sharpenRow)(const EnhancerTables &t, uint16_t *Y, uint32_t W, uint16_t *scratch);
};

/** Fills the kernels of each stage for a code path. */
void RowKernels(Kernels *k, bool avx2);
void StatsKernels(Kernels *k, bool avx2);
void ScaleKernels(Kernels *k, bool avx2);
void ToneKernels(Kernels *k, bool avx2);
/** The kernels of the code path of this machine, or the baseline when NORVA_SIM_BASELINE is set. */
Kernels SelectKernels();

/** Statistics accumulators of a band (or of the frame, once the bands are summed). */
struct Accumulators {
    uint64_t exsGlobal[4];
    uint32_t exsRegion[kGrid][kGrid][4];
    uint64_t fosRoi;
    uint64_t fosGrid[kGrid][kGrid];
    uint64_t wbsWhiteSum[2][3], wbsWhiteCount[2][3], wbsAvg[2][3], wbsHighSum[2][3], wbsHighCount[2];
    uint32_t hisGlobal[64];
    uint32_t hisRegion[kGrid][kGrid][16];
    uint64_t awsSum[kGrid][kGrid][3];
    uint32_t awsCount[kGrid][kGrid];

    void clear();
    /** Adds another band's sums. */
    void add(const Accumulators &o);
};

/** Everything one band writes: scratch rows, ring, plane rows, output writers and statistics. */
struct Band {
    // window rows [y0, y1) are the band's own; rows [y1, yEnd) are computed for the scalers only
    uint32_t y0 = 0, y1 = 0, yEnd = 0;
    // output rows (encoder: first row of each group) [encNext, encEnd), [dispNext, dispEnd)
    uint32_t encNext = 0, encEnd = 0, dispNext = 0, dispEnd = 0;
    bool error = false;

    std::vector<uint16_t> raw, pre, awsTop; /* awsTop: the even row of a cell row */
    std::vector<float> rowGain, lshRow[4];
    std::vector<uint16_t> ring[3];   /* Bayer after white balance, padded by 2 on each side */
    std::vector<int16_t> dR, dG, dB; /* a row after the demosaic, centred */
    std::vector<int32_t> R, G, B;
    std::vector<int16_t> r12, g12, b12; /* a row after gamma */
    std::vector<uint16_t> o0, o1, o2, hisLuma;
    std::vector<uint16_t> Y, C0, C2;             /* planeRows rows of the 4:4:4 planes, 10-bit */
    std::vector<uint16_t> sY[2], sC0[2], sC2[2]; /* scaled rows */
    std::vector<uint16_t> subC0, subC2;
    std::vector<uint32_t> scaleRow; /* two source rows blended vertically, for each of the three planes */
    std::vector<uint16_t> fosSharp; /* focus sharpness of the green samples of a row */
    std::vector<uint16_t> awsIndex; /* auto-white-balance cells of a row: log-table index of R, G, B */
    std::vector<uint8_t> tileScratch;
    PlaneWriter deWriter, rawWriter, hdrWriter, encY, encC, disp;

    Accumulators acc;
    // defective pixels: the row above and below (same colour), the uncorrected row, the corrections counted in
    // the band's own rows and the write-map entries they produced (grown to the largest frame seen)
    std::vector<uint16_t> dpfUp, dpfDn, dpfCur;
    std::vector<uint8_t> dpfMark; /* pixels of the row already corrected */
    uint32_t dpfFixed = 0;
    std::vector<uint64_t> dpfEntries;
    // encoder statistics: couples and entropy per region of encoder lines (grown to the largest frame seen)
    std::vector<uint32_t> ensCount, ensEntropy;
    std::vector<uint16_t> shaRow;   /* sharpening: the luma row padded by 2 on each side */
    std::vector<float> enhRows;     /* image enhancer and vibrancy: 8 rows of floats */
    std::vector<uint64_t> tnmEntry; /* tone mapper: the entries of the pixels of a piece of the row (Impl::tnmEntry) */
    std::vector<uint16_t> tnmLocal; /* tone mapper: the local curve's result of each pixel of a column */
};

/** Where the lateral chromatic aberration block samples one colour: per cell column and per cell row. */
struct LcaTable {
    std::vector<uint32_t> col0, col1, row0, row1; /* source cells */
    std::vector<uint16_t> colFrac, rowFrac;       /* weight of the second cell, 1/256 */
};

struct FrameContext;

} // namespace isp

struct IspModel::Impl {
    isp::Kernels k;

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
    std::vector<uint16_t> tnmLut;         /* 10-bit luma → 10-bit luma */
    bool tnmIdentity = false;             /* the block keeps every value */
    std::vector<uint16_t> tnmIn, tnmOut;  /* 10-bit luma → curve input index; index → 10-bit luma */
    std::vector<int32_t> tnmChroma;       /* curve input index → chroma gain (4096 = 1) */
    std::vector<int32_t> tnmChromaOfLuma; /* 10-bit luma → chroma gain */
    std::vector<uint64_t> tnmEntry;       /* 10-bit luma → chroma gain | curve input index << 32 | tnmLut << 48 */
    std::vector<uint16_t> tnmOutPadded;   /* tnmOut with kLevels / 2 copies of its end values on each side */
    uint32_t tnmLocalWeight = 0, tnmColumns = 1, tnmColumnWidth = 0; /* local correction (weight 1024 = 1) */

    std::vector<uint16_t> awsLog; /* 16-bit >> 4 → log2 of the 8-bit scale value in U.5, clamped at 0; then 0 */
    isp::EnhancerTables enh;      /* image enhancer, vibrancy and sharpening */

    // lens shading: decoded vertex gains [c][row][column], per-column interpolation
    std::vector<float> lshGains;
    std::vector<int32_t> lshCol;   /* per cell: left vertex */
    std::vector<float> lshColW;    /* per cell: weight of the right vertex */
    std::vector<uint32_t> lshRuns; /* first cell of each run of cells between the same vertices, then the end */
    std::vector<float> lshCx;      /* per column: -1 at the left edge to +1 at the right edge (gradients) */
    // horizontal positions of the scaler in use
    isp::ScaleTable encTable, dispTable;

    uint16_t hisMap[1024];            /* 10-bit luma → histogram input after offset and scale */
    bool hisIdentity;                 /* hisMap keeps every value */
    uint32_t fosRange[isp::kGrid][2]; /* columns [first, end) of each focus grid tile */
    int fosTiles;
    uint32_t exsRange[isp::kGrid][2]; /* columns [first, end) of each exposure grid tile */
    int exsTiles;
    uint32_t hisRange[isp::kGrid][2]; /* columns [first, end) of each histogram grid tile */
    int hisTiles;

    // lateral chromatic aberration: the white-balanced Bayer frame (grown only) and the red and blue positions
    std::vector<uint16_t> lcaFrame;
    isp::LcaTable lcaRed, lcaBlue;

    std::vector<isp::Band> bands;
    isp::Accumulators total;
    SimWorkerPool *workers = nullptr;
};

namespace isp {

struct FrameContext {
    const IspInputFrame *in;
    const CI_PIPELINE *reg;
    const CI_PIPE_INFO *info;
    const IspFrameSettings *settings;
    uint32_t W, H;
    uint32_t inStride;
    uint32_t offX, offY, decX, decY; /* pixels */
    int colour[2][2];
    unsigned depth;
    uint32_t eOutput;
    // exposure
    bool exs;
    uint32_t exsThreshold;
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
    PIXELTYPE encType, hdrType;
    // rows of the 4:4:4 planes in use: window row y is plane row y % planeRows
    uint32_t planeRows;
    Scaler encSc, dispSc;
    // defective pixels: detection (threshold on the depth's scale, weight in 16ths), read map, write map
    bool dpfDetect, dpfRead, dpfWrite;
    int32_t dpfThreshold, dpfWeight;
    // encoder statistics: regions of 2^ensLog2Lines encoder lines, one couple in 2^ensSubExp measured
    bool ens;
    uint32_t ensLog2Lines, ensSubExp, ensRegions;
    // lateral chromatic aberration: on when a coefficient is not 0; the white-balanced Bayer frame it resamples
    bool lca;
    uint16_t *lcaFrame;
    // auto-white-balance cells near the black-body curve: quantum-efficiency offsets (1/32 of log2), the curve's
    // slots (S5.10) and the distance allowed (U7.5)
    int32_t awsQe[2];
    int32_t awsCurveX[5], awsCurveY[5], awsCurveOffset[5], awsCurveBoundary[5];
    int32_t awsBbDist;
    bool awsAdmitAll; /* no slot can refuse a cell */
};

/* Look-up tables (sim_isp_rows.cpp); each returns whether it was rebuilt. */
bool BuildFrontLut(IspModel::Impl &m, const CI_PIPELINE &reg, unsigned depth);
bool BuildGammaLut(IspModel::Impl &m, const CI_MODULE_GMA_LUT &lut, bool bypass);
bool BuildToneLut(IspModel::Impl &m, const CI_MODULE_TNM &tnm);
void BuildAwsLog(IspModel::Impl &m);
/** Decodes the lens-shading matrix into vertex gains; false when its lines do not fit the memory given. */
bool DecodeShading(IspModel::Impl &m, const IspFrameSettings &s, uint32_t W);

/* Rows (sim_isp_rows.cpp). `own`: the row is the band's, so its statistics and taps count. */
void BayerRow(const IspModel::Impl &m, const FrameContext &f, Band &b, uint32_t y, bool own, uint16_t *dst);
void DemosaicRow(const IspModel::Impl &m, const FrameContext &f, Band &b, uint32_t y, const uint16_t *up,
                 const uint16_t *cur, const uint16_t *dn);
void ColourRow(const IspModel::Impl &m, const FrameContext &f, Band &b);
/** HDR extraction (own rows), gamma, RGB to YUV and tone mapping of row y into the band's plane rows. */
void ToneRow(const IspModel::Impl &m, const FrameContext &f, Band &b, uint32_t y, bool own);
/** Tone mapper (sim_isp_tone.cpp): luma curve, chroma scales and local correction of a row of the planes. */
void ToneMapRow(const IspModel::Impl &m, Band &b, uint32_t W, uint16_t *Y, uint16_t *C0, uint16_t *C2);

/* Statistics (sim_isp_stats.cpp). */
/** Defective pixels of window row y (raw codes, in place): detection and the read map; own rows count. */
void DefectRow(const IspModel::Impl &m, const FrameContext &f, Band &b, uint32_t y, bool own, uint16_t *raw);
void ExposureRow(const IspModel::Impl &m, const FrameContext &f, Band &b, uint32_t y, const uint16_t *raw);
void AwsCells(const IspModel::Impl &m, const FrameContext &f, Band &b, uint32_t cy, const uint16_t *top,
              const uint16_t *bottom);
void FocusRow(const IspModel::Impl &m, const FrameContext &f, Band &b, uint32_t y, const uint16_t *cur,
              const uint16_t *dn);
void WhiteBalanceRow(const IspModel::Impl &m, const FrameContext &f, Band &b, uint32_t y);
void HistogramRow(const IspModel::Impl &m, const FrameContext &f, Band &b, uint32_t y);
void WriteStatistics(const Accumulators &a, const FrameContext &f, bool error, uint8_t privateValue, uint8_t flicker,
                     uint8_t *out);

/* Encoder statistics (sim_isp_ens.cpp). */
/** Settings of the frame and the bands' regions, cleared (the bands `n` in use). */
void PrepareEncoderStats(FrameContext &f, const IspFrameOutputs &outputs, bool encoder, Band *bands, unsigned n);
/** Couples and entropy of encoder luma row `oy` (10-bit samples, `n` of them), into the band's region. */
void EncoderStatsRow(const FrameContext &f, Band &b, uint32_t oy, const uint16_t *luma, uint32_t n);
/** The regions of the bands summed in band order into the ENS area; regions past its end are dropped. */
void WriteEncoderStats(const FrameContext &f, const Band *bands, unsigned n, const IspFrameOutputs &outputs);

/* Lateral chromatic aberration (sim_isp_lca.cpp). */
/** Whether the block is on for the frame; when it is, the sampling tables and the frame memory are ready. */
bool PrepareLca(IspModel::Impl &m, FrameContext &f);
/** The band's own rows up to the white balance, into the frame the block resamples (the taps count them). */
void LcaBayerRows(const IspModel::Impl &m, const FrameContext &f, Band &b);
/** Row y after the block: green as it was, red and blue resampled; padded and mirrored like BayerRow's rows. */
void LcaRow(const IspModel::Impl &m, const FrameContext &f, uint32_t y, uint16_t *dst);

/* Auto-white-balance black-body filter (sim_isp_aws.cpp). */
void PrepareAwsFilter(FrameContext &f, const CI_PIPELINE &reg, const CI_PIPE_INFO &info);
/** Whether a cell of these log2 values (U.5, 8-bit scale) lies within the distance of its curve line. */
bool AwsNearCurve(const FrameContext &f, int32_t logR, int32_t logG, int32_t logB);

/* Scalers and outputs (sim_isp_scale.cpp). */
uint32_t FirstSourceRow(const Scaler &sc, uint32_t oy, uint32_t H);
uint32_t LastSourceRow(const Scaler &sc, uint32_t oy, uint32_t H);
void PrepareTable(ScaleTable &table, const Scaler &sc, uint32_t W);
uint32_t PlaneRowsNeeded(const FrameContext &f, bool enc, bool disp);
/** Writes the encoder and display rows of the band whose window rows, up to row `ready`, are in its planes. */
void EncoderRows(const IspModel::Impl &m, const FrameContext &f, Band &b, uint32_t ready);
void DisplayRows(const IspModel::Impl &m, const FrameContext &f, Band &b, uint32_t ready);

} // namespace isp
} // namespace norva_sim

#endif /* NORVA_SIM_ISP_INTERNAL_H */
