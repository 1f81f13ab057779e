/* Lens-shading grid to hardware matrix: sizes, the bits a grid needs, packing and in-place repair. */
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "mc/mc_lsh.h"
#include "norvacommon/userlog.h"

#define LOG_TAG "MC_CONVERT"

namespace {

/** A gain as U3.10: value x 1024, rounded half up, clipped to 0..8191 (+infinity 8191, NaN 0). */
inline int32_t ToVertex(float value) {
    const double v = std::floor(double(value) * 1024.0 + 0.5);
    return v > 8191.0 ? 8191 : (v > 0.0 ? int32_t(v) : 0);
}

/** The two's-complement magnitude: -8 counts as 7. */
inline uint32_t Magnitude(int32_t d) { return d >= 0 ? uint32_t(d) : uint32_t(-(d + 1)); }

bool IsPowerOfTwo(uint32_t v) { return v != 0 && (v & (v - 1)) == 0; }

bool HasPlanes(const LSH_GRID *pLSH) {
    return pLSH->apMatrix[0] && pLSH->apMatrix[1] && pLSH->apMatrix[2] && pLSH->apMatrix[3];
}

unsigned Log2(uint32_t v) {
    unsigned n = 0;
    while (v > 1) {
        v >>= 1;
        n++;
    }
    return n;
}

/** Line size, stride and buffer size in 64 bits; 0 for an empty grid. */
uint64_t Sizes(const LSH_GRID *pLSH, unsigned bits, uint64_t *pLine, uint64_t *pStride) {
    if (pLSH->ui16Width == 0 || pLSH->ui16Height == 0) {
        *pLine = *pStride = 0;
        return 0;
    }
    const uint64_t packed = (uint64_t(bits) * (pLSH->ui16Width - 1u) + 7u) / 8u;
    const uint64_t line = (packed + 17u) / 16u * 16u;
    const uint64_t stride = (line + 63u) / 64u * 64u;
    *pLine = line;
    *pStride = stride;
    return uint64_t(pLSH->ui16Height) * stride * 4u;
}

/** Checks common to conversion and repair. */
QOR_RESULT CheckGrid(const LSH_GRID *pLSH, unsigned bits) {
    if (!HasPlanes(pLSH)) {
        QOR_LOG_ERROR(LOG_TAG, "The given LSH grid is NULL\n");
        return QOR_RES_INVALID_PARAM;
    }
    if (bits < MC_LSH_MIN_BITS || bits > MC_LSH_MAX_BITS) {
        QOR_LOG_ERROR(LOG_TAG, "grid needs %d bits while HW can support %d to %d\n", int(bits), MC_LSH_MIN_BITS,
                      MC_LSH_MAX_BITS);
        return QOR_RES_NOT_SUPPORTED;
    }
    if (!IsPowerOfTwo(pLSH->ui16TileSize)) {
        QOR_LOG_ERROR(LOG_TAG, "LSH matrix tile size has to be a power of 2 (%u given)\n", pLSH->ui16TileSize);
        return QOR_RES_NOT_SUPPORTED;
    }
    return QOR_RES_OK;
}

} // namespace

QOR_UINT32 MC_LSHGetSizes(const LSH_GRID *pLSH, QOR_UINT8 ui8BitsPerDiff, QOR_UINT32 *pLineSize, QOR_UINT32 *pStride) {
    if (!pLSH) {
        QOR_LOG_ERROR(LOG_TAG, "pLSH is NULL\n");
        return 0;
    }
    uint64_t line, stride;
    const uint64_t size = Sizes(pLSH, ui8BitsPerDiff, &line, &stride);
    if (size > UINT32_MAX) {
        return 0;
    }
    if (pLineSize) {
        *pLineSize = QOR_UINT32(line);
    }
    if (pStride) {
        *pStride = QOR_UINT32(stride);
    }
    return QOR_UINT32(size);
}

QOR_RESULT MC_LSHCheckRamSize(const LSH_GRID *pLSH, QOR_UINT8 ui8BitsPerDiff, const CI_HWINFO *pHWInfo) {
    if (!pLSH || !pHWInfo) {
        QOR_LOG_ERROR(LOG_TAG, "pLSH or pHWInfo is NULL\n");
        return QOR_RES_INVALID_PARAM;
    }
    uint64_t line, stride;
    const uint64_t size = Sizes(pLSH, ui8BitsPerDiff, &line, &stride);
    if (size * 8u > pHWInfo->ui32LSHRamSizeBits) {
        QOR_LOG_ERROR(LOG_TAG, "LSH matrix of %ux%u needs %llu Bytes but the HW memory only has %u\n", pLSH->ui16Width,
                      pLSH->ui16Height, static_cast<unsigned long long>(size), pHWInfo->ui32LSHRamSizeBits / 8u);
        return QOR_RES_TOO_BIG;
    }
    return QOR_RES_OK;
}

QOR_UINT8 MC_LSHComputeMinBitdiff(const LSH_GRID *pLSH, int *pMaxDiff) {
    if (!pLSH) {
        QOR_LOG_ERROR(LOG_TAG, "pLSH is NULL\n");
        return 0;
    }
    if (!HasPlanes(pLSH)) {
        QOR_LOG_ERROR(LOG_TAG, "The given LSH grid is NULL\n");
        return 0;
    }
    const unsigned W = pLSH->ui16Width, H = pLSH->ui16Height;
    uint32_t m = 0;
    for (int c = 0; c < 4; c++) {
        for (unsigned y = 0; y < H && W > 0; y++) {
            const LSH_FLOAT *row = pLSH->apMatrix[c] + size_t(y) * W;
            for (unsigned x = 0; x < W; x++) {
                if (row[x] < 0.0f) {
                    QOR_LOG_ERROR(LOG_TAG, "The given LSH matrix has negative values!\n");
                    return 0;
                }
                if (x > 0) {
                    const uint32_t mag = Magnitude(ToVertex(row[x]) - ToVertex(row[x - 1]));
                    m = mag > m ? mag : m;
                }
            }
        }
    }
    unsigned bitlength = 0;
    for (uint32_t v = m; v; v >>= 1) {
        bitlength++;
    }
    if (pMaxDiff) {
        *pMaxDiff = int(m);
    }
    return QOR_UINT8(bitlength + 1 > 4 ? bitlength + 1 : 4);
}

QOR_RESULT MC_LSHConvertGrid(const LSH_GRID *pLSH, QOR_UINT8 ui8BitsPerDiff, CI_LSHMAT *pMatrix) {
    if (!pLSH || !pMatrix) {
        QOR_LOG_ERROR(LOG_TAG, "pLSH or pMatrix is NULL\n");
        return QOR_RES_INVALID_PARAM;
    }
    const unsigned b = ui8BitsPerDiff;
    if (QOR_RESULT r = CheckGrid(pLSH, b)) {
        return r;
    }
    uint64_t line, stride;
    const uint64_t size = Sizes(pLSH, b, &line, &stride);
    if (size == 0 || size > UINT32_MAX) {
        QOR_LOG_ERROR(LOG_TAG, "failed to compute matrix size\n");
        return QOR_RES_FAILED;
    }
    if (!pMatrix->data || pMatrix->ui32Size < size) {
        QOR_LOG_ERROR(LOG_TAG, "given LSH matrix needs %u Bytes but given buffer only has %u\n", unsigned(size),
                      pMatrix->data ? pMatrix->ui32Size : 0u);
        return QOR_RES_NOT_SUPPORTED;
    }
    if (line % 16 != 0) {
        QOR_LOG_ERROR(LOG_TAG, "line size should be a multiple of 16, computed %u\n", unsigned(line));
        return QOR_RES_NOT_SUPPORTED;
    }
    uint8_t *const out = static_cast<uint8_t *>(pMatrix->data);
    std::memset(out, 0, pMatrix->ui32Size);

    const unsigned W = pLSH->ui16Width, H = pLSH->ui16Height;
    const uint32_t mask = (1u << b) - 1u;
    uint32_t m = 0;
    for (unsigned c = 0; c < 4; c++) {
        for (unsigned y = 0; y < H; y++) {
            const LSH_FLOAT *row = pLSH->apMatrix[c] + size_t(y) * W;
            uint8_t *dst = out + (size_t(4) * y + c) * stride;
            if (row[0] < 0.0f) {
                QOR_LOG_ERROR(LOG_TAG, "The given LSH matrix has negative values!\n");
                return QOR_RES_NOT_SUPPORTED;
            }
            int32_t prev = ToVertex(row[0]);
            dst[0] = uint8_t(prev & 0xFF);
            dst[1] = uint8_t(prev >> 8);
            uint8_t *p = dst + 2;
            uint32_t acc = 0;
            unsigned nacc = 0;
            for (unsigned x = 1; x < W; x++) {
                if (row[x] < 0.0f) {
                    QOR_LOG_ERROR(LOG_TAG, "The given LSH matrix has negative values!\n");
                    return QOR_RES_NOT_SUPPORTED;
                }
                const int32_t v = ToVertex(row[x]);
                const int32_t d = v - prev;
                prev = v;
                const uint32_t mag = Magnitude(d);
                m = mag > m ? mag : m;
                acc |= (uint32_t(d) & mask) << nacc;
                nacc += b;
                while (nacc >= 8) {
                    *p++ = uint8_t(acc & 0xFF);
                    acc >>= 8;
                    nacc -= 8;
                }
            }
            if (nacc > 0) {
                *p = uint8_t(acc & 0xFF);
            }
        }
    }
    // a b-bit two's-complement field holds magnitudes up to 2^(b-1) - 1: a step of +2^(b-1) would read back
    // as -2^(b-1), so it is refused like any larger one
    if (m >= (1u << (b - 1))) {
        QOR_LOG_ERROR(LOG_TAG, "given bits per diff %u isn't enough to store the maximum difference found of %u\n", b,
                      m);
        return QOR_RES_FAILED;
    }
    CI_MODULE_LSH_MAT &cfg = pMatrix->config;
    cfg.ui8TileSizeLog2 = QOR_UINT8(Log2(pLSH->ui16TileSize));
    cfg.ui8BitsPerDiff = QOR_UINT8(b);
    cfg.ui16Width = QOR_UINT16(W);
    cfg.ui16Height = QOR_UINT16(H);
    cfg.ui16LineSize = QOR_UINT16(line / 16 - 1);
    cfg.ui32Stride = QOR_UINT32(stride);
    return QOR_RES_OK;
}

QOR_RESULT MC_LSHPreCheckTest(LSH_GRID *pLSH, QOR_UINT8 ui8BitsPerDiff) {
    if (!pLSH) {
        QOR_LOG_ERROR(LOG_TAG, "pLSH or pMatrix is NULL\n");
        return QOR_RES_INVALID_PARAM;
    }
    if (QOR_RESULT r = CheckGrid(pLSH, ui8BitsPerDiff)) {
        return r;
    }
    const unsigned W = pLSH->ui16Width, H = pLSH->ui16Height;
    for (int c = 0; c < 4; c++) {
        for (unsigned y = 0; y < H && W > 0; y++) {
            LSH_FLOAT *row = pLSH->apMatrix[c] + size_t(y) * W;
            if (row[0] < 0.0f) {
                std::fprintf(stderr, "WARNING: fixing lsh negative value!\n");
                row[0] = 0.0f;
            }
            int32_t prev = ToVertex(row[0]);
            for (unsigned x = 1; x < W;) {
                if (row[x] < 0.0f) {
                    std::fprintf(stderr, "WARNING: fixing lsh negative value!\n");
                    row[x] = 0.0f;
                }
                const int32_t d = ToVertex(row[x]) - prev;
                if (d >= -512 && d <= 255) {
                    prev = ToVertex(row[x]);
                    x++;
                    continue;
                }
                const LSH_FLOAT old = row[x];
                LSH_FLOAT fixed = d < 0 ? row[x - 1] - 0.5f : row[x - 1] + 0.2490234375f;
                // float rounding must not leave a step just outside the window and loop: land on its edge
                const int32_t fd = ToVertex(fixed) - prev;
                if (fixed >= 0.0f && (fd < -512 || fd > 255)) {
                    fixed = LSH_FLOAT((prev + (d < 0 ? -512 : 255)) / 1024.0);
                }
                std::fprintf(stderr, "WARNING: fixing lsh diff c=%d x=%d,y=%d %f => %f (prev=%f)\n", c, int(x), int(y),
                             double(old), double(fixed), double(row[x - 1]));
                row[x] = fixed;
            }
        }
    }
    return QOR_RES_OK;
}
