/*
 * ISP model, the encoder statistics: per region of 2^(ui8Log2NCouples + 3) lines of the encoder output, the number
 * of luma couples measured and their entropy, written as (counter, entropy) pairs into the shot's ENS area.
 * Conventions: platform/isp-model.md.
 */
#include <algorithm>
#include <cstring>

#include "sim_isp_internal.h"

namespace norva_sim {
namespace isp {

namespace {

/** Bits needed for the difference of a couple: 0 for equal samples, else floor(log2 |d|) + 1. */
inline uint32_t residualBits(uint32_t d) { return d == 0 ? 0u : 32u - uint32_t(__builtin_clz(d)); }

void put32(uint8_t *p, uint32_t v) {
    for (int k = 0; k < 4; k++) {
        p[k] = static_cast<uint8_t>(v >> (8 * k));
    }
}

} // namespace

void PrepareEncoderStats(FrameContext &f, const IspFrameOutputs &outputs, bool encoder, Band *bands, unsigned n) {
    const CI_MODULE_ENS &e = f.reg->stats.sEncStats;
    f.ens = encoder && outputs.ensOutput != nullptr && (f.eOutput & CI_SAVE_ENS) != 0;
    f.ensLog2Lines = (e.ui8Log2NCouples & 7u) + 3u;
    f.ensSubExp = e.ui8SubExp & 7u;
    f.ensRegions = f.ens ? (f.encSc.outH + (1u << f.ensLog2Lines) - 1u) >> f.ensLog2Lines : 0u;
    for (unsigned i = 0; i < n && f.ens; i++) {
        Band &b = bands[i];
        if (b.ensCount.size() < f.ensRegions) {
            b.ensCount.resize(f.ensRegions);
            b.ensEntropy.resize(f.ensRegions);
        }
        std::fill(b.ensCount.begin(), b.ensCount.begin() + f.ensRegions, 0u);
        std::fill(b.ensEntropy.begin(), b.ensEntropy.begin() + f.ensRegions, 0u);
    }
}

void EncoderStatsRow(const FrameContext &f, Band &b, uint32_t oy, const uint16_t *luma, uint32_t n) {
    // couples of horizontally adjacent samples (2k, 2k + 1) on the 8-bit scale, one in 2^ensSubExp
    const uint32_t step = 2u << f.ensSubExp;
    uint32_t count = 0, bits = 0;
    for (uint32_t x = 0; x + 1 < n; x += step) {
        const int32_t a = std::min((int32_t(luma[x]) + 2) >> 2, 255);
        const int32_t c = std::min((int32_t(luma[x + 1]) + 2) >> 2, 255);
        bits += residualBits(uint32_t(a > c ? a - c : c - a));
        count++;
    }
    const uint32_t r = oy >> f.ensLog2Lines;
    b.ensCount[r] += count;
    b.ensEntropy[r] += bits;
}

void WriteEncoderStats(const FrameContext &f, const Band *bands, unsigned n, const IspFrameOutputs &outputs) {
    if (outputs.ensOutput == nullptr) {
        return;
    }
    const size_t capacity = outputs.ensOutputSize / 8;
    const size_t regions = std::min<size_t>(f.ensRegions, capacity);
    for (size_t r = 0; r < regions; r++) {
        uint64_t count = 0, bits = 0;
        for (unsigned i = 0; i < n; i++) {
            count += bands[i].ensCount[r];
            bits += bands[i].ensEntropy[r];
        }
        put32(outputs.ensOutput + 8 * r, uint32_t(std::min<uint64_t>(count, 0xFFFFFFFFu)));
        put32(outputs.ensOutput + 8 * r + 4, uint32_t(std::min<uint64_t>(bits, 0xFFFFFFFFu)));
    }
    std::memset(outputs.ensOutput + 8 * regions, 0, outputs.ensOutputSize - 8 * regions);
}

} // namespace isp
} // namespace norva_sim
