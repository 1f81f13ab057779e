#ifndef NORVA_SIM_ISP_ENHANCE_H
#define NORVA_SIM_ISP_ENHANCE_H

/*
 * Image enhancer (memory colours), vibrancy and sharpening of the ISP image model, decoded from their
 * registers once per change (sim_isp_enhance.cpp). The conventions are those of platform/isp-model.md.
 */

#include <cstdint>

#include "ci/ci_pipeline.h"

namespace norva_sim {
namespace isp {

/** One memory-colour slot in the model's units: luma on 0..1 of the limited range, chroma in codes / 1024. */
struct MemoryColour {
    float minY, windowScale;  /* slice position t = (0.5 y + 0.25 - minY) * windowScale, 0 <= t < 1 */
    float gain[4];            /* per luma slice, 0 to 255/256 */
    float kb, kr;             /* multipliers of the inverse spreads along the block's Cb and Cr axes */
    float slice2[4];          /* per slice: (slice value / 255) squared */
    float centreCb, centreCr; /* block axes: Cb is the second chroma plane, Cr the first */
    float gaussCos, gaussSin; /* rotation of the ellipse */
    float yScale, yOffset;    /* target luma: (y - 0.5) yScale + 0.5 + yOffset / 2 */
    float cScale, hueCos, hueSin;
};

struct EnhancerTables {
    bool valid = false;
    CI_MODULE_MIE mieKey{};
    CI_MODULE_SHA shaKey{};

    int slots = 0; /* memory colours in use (bMemoryColour set and some gain non-zero) */
    MemoryColour mc[3];
    /* per slot: the luma slice of each 10-bit luma code (-1 outside the window), and the weight in 1/256 of
       each slice at q = i / kWeightSteps, with a last entry 0 for q >= 32 */
    static constexpr int kWeightSteps = 128;
    static constexpr int kWeightEntries = 32 * kWeightSteps;
    int8_t slice[3][1024];
    uint8_t weight[3][4][kWeightEntries + 1];
    uint8_t weightPad[3]; /* the vector kernel reads the weights 4 bytes at a time */
    /* per slot: `slice` as steps of the luma code (it does not decrease inside the window): the codes from
       sliceStep[0] + 1 to sliceStep[4] are inside, and a code inside lies in slice k when it is above
       sliceStep[k] for k = 1, 2, 3 (the steps minus 1, for the vector kernel's compares) */
    int32_t sliceStep[3][5];
    /* per slot and slice: the first weight index from which every weight is 0 (the table does not increase) */
    int32_t zeroFrom[3][4];
    bool vibrancy = false;
    bool vibIdentity = false; /* every multiplier 1: vibrancy leaves every sample as it is */
    float vibMul[33];         /* multipliers at saturation i/31, the last repeated */
    float vibStep[32];        /* vibMul[i + 1] - vibMul[i] */

    bool sharpen = false;
    float w0, w1, w2; /* gain weights */
    float threshold;  /* coring, 8-bit codes */
    float strength;   /* strength / 64 */
    float limit;      /* largest change, 10-bit codes */
    /* denoise gate by ceil(high-pass in 8-bit codes) - 1, clamped to 0..256; all 1 when bypassed */
    float gate[257];
};

/** Rebuilds the tables when the registers changed; returns whether it did. */
bool BuildEnhancer(EnhancerTables &t, const CI_MODULE_MIE &mie, const CI_MODULE_SHA &sha);
/**
 * Memory colours and vibrancy of one row of the 4:4:4 planes (10-bit codes), in place; `scratch` holds 8 W. The
 * baseline code; EnhanceRowAvx2 (x86-64) gives the same bytes.
 */
void EnhanceRow(const EnhancerTables &t, uint16_t *Y, uint16_t *C0, uint16_t *C2, uint32_t W, float *scratch);
/** Sharpening of one luma row in place; `scratch` holds W + 4 samples. SharpenRowAvx2 gives the same bytes. */
void SharpenRow(const EnhancerTables &t, uint16_t *Y, uint32_t W, uint16_t *scratch);
#if defined(__x86_64__) && defined(__GNUC__)
void EnhanceRowAvx2(const EnhancerTables &t, uint16_t *Y, uint16_t *C0, uint16_t *C2, uint32_t W, float *scratch);
void SharpenRowAvx2(const EnhancerTables &t, uint16_t *Y, uint32_t W, uint16_t *scratch);
#endif

} // namespace isp
} // namespace norva_sim

#endif /* NORVA_SIM_ISP_ENHANCE_H */
