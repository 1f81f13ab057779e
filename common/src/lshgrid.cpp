#include "norvacommon/lshgrid.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "norvacommon/regular_file.h"
#include "norvacommon/userlog.h"

namespace {

const char *const kTag = "LSH_OUT";
const QOR_UINT32 kVersion = 1;
const size_t kHeaderSize = 20;

bool IsPowerOfTwo(QOR_UINT32 v) { return v != 0 && (v & (v - 1)) == 0; }

void FreePlanes(LSH_FLOAT *planes[4]) {
    for (int c = 0; c < 4; c++) {
        std::free(planes[c]);
        planes[c] = nullptr;
    }
}

/** Closes a file, reporting a failure to flush what was written. */
QOR_RESULT CloseWritten(FILE *f, const char *filename, bool writeOk) {
    const bool closeOk = std::fclose(f) == 0;
    if (!writeOk || !closeOk) {
        QOR_LOG_ERROR(kTag, "Failed to write %s\n", filename);
        return QOR_RES_FAILED;
    }
    return QOR_RES_OK;
}

void PutU32(unsigned char *p, QOR_UINT32 v) {
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
    p[2] = static_cast<unsigned char>(v >> 16);
    p[3] = static_cast<unsigned char>(v >> 24);
}

QOR_UINT32 GetU32(const unsigned char *p) {
    return QOR_UINT32(p[0]) | QOR_UINT32(p[1]) << 8 | QOR_UINT32(p[2]) << 16 | QOR_UINT32(p[3]) << 24;
}

/** Bilinear weight fx, fy of vertex (x, y); a single vertex sits at 0. */
double Frac(unsigned i, unsigned n) { return n > 1 ? double(i) / double(n - 1) : 0.0; }

/** Checks what both fills need: an existing plane c and a grid at least 2 x 2. */
QOR_RESULT CheckFill(const LSH_GRID *pLSH, int c) {
    if (!pLSH || c < 0 || c > 3 || !pLSH->apMatrix[c]) {
        QOR_LOG_ERROR(kTag, "LSH plane %d is not allocated\n", c);
        return QOR_RES_FAILED;
    }
    if (pLSH->ui16Width < 2 || pLSH->ui16Height < 2) {
        QOR_LOG_ERROR(kTag, "LSH grid %ux%u is too small to fill\n", pLSH->ui16Width, pLSH->ui16Height);
        return QOR_RES_FAILED;
    }
    return QOR_RES_OK;
}

/** The grey level 0..255 of a value between lo and hi; NaN and -infinity print 0, +infinity 255. */
int GreyLevel(double v, double lo, double hi) {
    if (std::isnan(v) || std::isinf(v)) {
        return v > 0.0 ? 255 : 0;
    }
    const double g = (v - lo) / (hi - lo) * 255.0;
    return g >= 255.0 ? 255 : (g > 0.0 ? int(g) : 0);
}

} // namespace

QOR_RESULT LSH_AllocateMatrix(LSH_GRID *pLSH, QOR_UINT16 ui16Width, QOR_UINT16 ui16Height, QOR_UINT16 ui16TileSize) {
    if (!pLSH) {
        QOR_LOG_ERROR(kTag, "pLSH is NULL\n");
        return QOR_RES_INVALID_PARAM;
    }
    if (pLSH->apMatrix[0]) {
        return QOR_RES_ALREADY;
    }
    if (!IsPowerOfTwo(ui16TileSize)) {
        QOR_LOG_ERROR(kTag, "LSH matrix tile size has to be a power of 2 (%u given)\n", ui16TileSize);
        return QOR_RES_NOT_SUPPORTED;
    }
    pLSH->ui16Width = ui16Width;
    pLSH->ui16Height = ui16Height;
    pLSH->ui16TileSize = ui16TileSize;
    const size_t n = size_t(ui16Width) * ui16Height;
    for (int c = 0; c < 4; c++) {
        pLSH->apMatrix[c] = static_cast<LSH_FLOAT *>(std::calloc(n ? n : 1, sizeof(LSH_FLOAT)));
        if (!pLSH->apMatrix[c]) {
            FreePlanes(pLSH->apMatrix);
            QOR_LOG_ERROR(kTag, "failed to allocate matrix\n");
            return QOR_RES_NO_MEMORY;
        }
    }
    return QOR_RES_OK;
}

QOR_RESULT LSH_CreateMatrix(LSH_GRID *pLSH, QOR_UINT32 ui32Width, QOR_UINT32 ui32Height, QOR_UINT16 ui16TileSize) {
    if (!pLSH) {
        QOR_LOG_ERROR(kTag, "pLSH is NULL\n");
        return QOR_RES_INVALID_PARAM;
    }
    if (pLSH->apMatrix[0]) {
        return QOR_RES_ALREADY;
    }
    // the tile is checked before it divides anything
    if (!IsPowerOfTwo(ui16TileSize)) {
        QOR_LOG_ERROR(kTag, "LSH matrix tile size has to be a power of 2 (%u given)\n", ui16TileSize);
        return QOR_RES_NOT_SUPPORTED;
    }
    const uint64_t w = (uint64_t(ui32Width) + ui16TileSize - 1) / ui16TileSize + 1;
    const uint64_t h = (uint64_t(ui32Height) + ui16TileSize - 1) / ui16TileSize + 1;
    if (w > LSH_MAX_GRID_SIZE || h > LSH_MAX_GRID_SIZE) {
        QOR_LOG_ERROR(kTag, "lsh grid size is too big (w=%u h=%u)!\n", unsigned(w), unsigned(h));
        return QOR_RES_NOT_SUPPORTED;
    }
    return LSH_AllocateMatrix(pLSH, QOR_UINT16(w), QOR_UINT16(h), ui16TileSize);
}

QOR_RESULT LSH_FillLinear(LSH_GRID *pLSH, int c, const LSH_FLOAT aCorners[4]) {
    if (!aCorners) {
        QOR_LOG_ERROR(kTag, "aCorners is NULL\n");
        return QOR_RES_INVALID_PARAM;
    }
    if (QOR_RESULT r = CheckFill(pLSH, c)) {
        return r;
    }
    const unsigned W = pLSH->ui16Width, H = pLSH->ui16Height;
    QOR_LOG_INFO(kTag, "generate linear LSH %ux%u grid (tile size is %u CFA) - corners %f %f %f %f\n", W, H,
                 pLSH->ui16TileSize, aCorners[0], aCorners[1], aCorners[2], aCorners[3]);
    LSH_FLOAT *plane = pLSH->apMatrix[c];
    for (unsigned y = 0; y < H; y++) {
        const double fy = Frac(y, H);
        for (unsigned x = 0; x < W; x++) {
            const double fx = Frac(x, W);
            plane[size_t(y) * W + x] = LSH_FLOAT((1 - fy) * (1 - fx) * aCorners[0] + (1 - fy) * fx * aCorners[1] +
                                                 fy * (1 - fx) * aCorners[2] + fy * fx * aCorners[3]);
        }
    }
    return QOR_RES_OK;
}

QOR_RESULT LSH_FillBowl(LSH_GRID *pLSH, int c, const LSH_FLOAT aCorners[5]) {
    if (!aCorners) {
        QOR_LOG_ERROR(kTag, "aCorners is NULL\n");
        return QOR_RES_INVALID_PARAM;
    }
    if (QOR_RESULT r = CheckFill(pLSH, c)) {
        return r;
    }
    const unsigned W = pLSH->ui16Width, H = pLSH->ui16Height;
    QOR_LOG_INFO(kTag, "generate bowl LSH %ux%u grid (tile size is %u CFA) - corners %f %f %f %f center %f\n", W, H,
                 pLSH->ui16TileSize, aCorners[0], aCorners[1], aCorners[2], aCorners[3], aCorners[4]);
    const double e = aCorners[4];
    const double a0 = aCorners[0] - e, a1 = aCorners[1] - e, a2 = aCorners[2] - e, a3 = aCorners[3] - e;
    LSH_FLOAT *plane = pLSH->apMatrix[c];
    for (unsigned y = 0; y < H; y++) {
        const double fy = Frac(y, H);
        for (unsigned x = 0; x < W; x++) {
            const double fx = Frac(x, W);
            const double b = (1 - fy) * (1 - fx) * a0 + (1 - fy) * fx * a1 + fy * (1 - fx) * a2 + fy * fx * a3;
            const double w = ((1 - std::cos((fx - 0.5) * M_PI)) + (1 - std::cos((fy - 0.5) * M_PI))) / 2;
            plane[size_t(y) * W + x] = LSH_FLOAT(e + b * w);
        }
    }
    return QOR_RES_OK;
}

void LSH_Free(LSH_GRID *pLSH) {
    if (pLSH) {
        FreePlanes(pLSH->apMatrix);
    }
}

QOR_RESULT LSH_Save_bin(const LSH_GRID *pLSH, const char *filename) {
    if (!pLSH || !filename) {
        QOR_LOG_ERROR(kTag, "pLSH or filename is NULL\n");
        return QOR_RES_INVALID_PARAM;
    }
    for (int c = 0; c < 4; c++) {
        if (!pLSH->apMatrix[c]) {
            QOR_LOG_ERROR(kTag, "LSH plane %d is not allocated\n", c);
            return QOR_RES_INVALID_PARAM;
        }
    }
    FILE *f = QOR_CreateFile(filename, "wb");
    if (!f) {
        QOR_LOG_ERROR(kTag, "Failed to open %s\n", filename);
        return QOR_RES_INVALID_PARAM;
    }
    unsigned char header[kHeaderSize] = {'L', 'S', 'H', 0};
    PutU32(header + 4, kVersion);
    PutU32(header + 8, pLSH->ui16Width);
    PutU32(header + 12, pLSH->ui16Height);
    PutU32(header + 16, pLSH->ui16TileSize);
    bool ok = std::fwrite(header, 1, kHeaderSize, f) == kHeaderSize;
    const size_t n = size_t(pLSH->ui16Width) * pLSH->ui16Height;
    unsigned char word[4];
    for (int c = 0; c < 4 && ok; c++) {
        for (size_t i = 0; i < n && ok; i++) {
            QOR_UINT32 bits;
            std::memcpy(&bits, &pLSH->apMatrix[c][i], sizeof bits);
            PutU32(word, bits);
            ok = std::fwrite(word, 1, 4, f) == 4;
        }
    }
    return CloseWritten(f, filename, ok);
}

QOR_RESULT LSH_Load_bin(LSH_GRID *pLSH, const char *filename) {
    if (!pLSH || !filename) {
        QOR_LOG_ERROR(kTag, "pLSH or filename is NULL\n");
        return QOR_RES_INVALID_PARAM;
    }
    FILE *f = QOR_OpenRegularFile(filename, "rb");
    if (!f) {
        QOR_LOG_ERROR(kTag, "Failed to open file %s\n", filename);
        return QOR_RES_INVALID_PARAM;
    }
    struct Closer {
        FILE *f;
        ~Closer() { std::fclose(f); }
    } closer{f};

    unsigned char header[kHeaderSize];
    const size_t got = std::fread(header, 1, kHeaderSize, f);
    if (got < 4) {
        return QOR_RES_FAILED;
    }
    if (std::memcmp(header, "LSH", 3) != 0) {
        QOR_LOG_ERROR(kTag, "Wrong LSH file format - %s couldn't be read\n", "LSH");
        return QOR_RES_NOT_SUPPORTED;
    }
    if (got < 8) {
        QOR_LOG_ERROR(kTag, "Failed to read LSH file format\n");
        return QOR_RES_FAILED;
    }
    const QOR_UINT32 version = GetU32(header + 4);
    if (version != kVersion) {
        QOR_LOG_ERROR(kTag, "wrong LSH file format - version %d found, version %d supported\n", int(version),
                      int(kVersion));
        return QOR_RES_NOT_SUPPORTED;
    }
    if (got < kHeaderSize) {
        QOR_LOG_ERROR(kTag, "failed to read %d int at the beginning of the file\n", 3);
        return QOR_RES_FAILED;
    }
    const QOR_UINT32 width = GetU32(header + 8) & 0xFFFFu;
    const QOR_UINT32 height = GetU32(header + 12) & 0xFFFFu;
    const QOR_UINT32 tile = GetU32(header + 16) & 0xFFFFu;
    if (width == 0 || height == 0) {
        QOR_LOG_ERROR(kTag, "lsh grid size is 0 (w=%d h=%d)!\n", int(width), int(height));
        return QOR_RES_FAILED;
    }
    if (width > LSH_MAX_GRID_SIZE || height > LSH_MAX_GRID_SIZE) {
        QOR_LOG_ERROR(kTag, "lsh grid size is too big (w=%d h=%d)!\n", int(width), int(height));
        return QOR_RES_NOT_SUPPORTED;
    }
    if (!IsPowerOfTwo(tile)) {
        QOR_LOG_ERROR(kTag, "LSH matrix tile size has to be a power of 2 (%u given)\n", tile);
        return QOR_RES_NOT_SUPPORTED;
    }
    // the file must hold the four planes the header announces before any of them is allocated
    const uint64_t planeBytes = uint64_t(width) * height * sizeof(LSH_FLOAT);
    if (std::fseek(f, 0, SEEK_END) != 0) {
        QOR_LOG_ERROR(kTag, "Failed to read LSH file format\n");
        return QOR_RES_FAILED;
    }
    const long fileSize = std::ftell(f);
    if (fileSize < 0 || std::fseek(f, long(kHeaderSize), SEEK_SET) != 0) {
        QOR_LOG_ERROR(kTag, "Failed to read LSH file format\n");
        return QOR_RES_FAILED;
    }
    const uint64_t available = uint64_t(fileSize) - kHeaderSize;
    if (available < 4 * planeBytes) {
        const uint64_t plane = available / planeBytes;
        QOR_LOG_ERROR(kTag, "Failed to read channel %d - read %d/%lu Bytes\n", int(plane),
                      int(available - plane * planeBytes), static_cast<unsigned long>(planeBytes));
        return QOR_RES_FAILED;
    }

    LSH_FLOAT *planes[4] = {nullptr, nullptr, nullptr, nullptr};
    const size_t n = size_t(width) * height;
    for (int c = 0; c < 4; c++) {
        planes[c] = static_cast<LSH_FLOAT *>(std::calloc(n, sizeof(LSH_FLOAT)));
        if (!planes[c]) {
            QOR_LOG_ERROR(kTag, "Failed to allocate matrix for channel %d (%ld Bytes)\n", c, long(planeBytes));
            FreePlanes(planes);
            return QOR_RES_NO_MEMORY;
        }
    }
    for (int c = 0; c < 4; c++) {
        const size_t r = std::fread(planes[c], 1, size_t(planeBytes), f);
        if (r != planeBytes) {
            QOR_LOG_ERROR(kTag, "Failed to read channel %d - read %d/%lu Bytes\n", c, int(r),
                          static_cast<unsigned long>(planeBytes));
            FreePlanes(planes);
            return QOR_RES_FAILED;
        }
        for (size_t i = 0; i < n; i++) {
            unsigned char *p = reinterpret_cast<unsigned char *>(&planes[c][i]);
            const QOR_UINT32 bits = GetU32(p);
            std::memcpy(&planes[c][i], &bits, sizeof bits);
        }
    }
    // a gain that is NaN or infinite cannot be corrected with nor packed for the hardware
    for (int c = 0; c < 4; c++) {
        for (size_t i = 0; i < n; i++) {
            if (!std::isfinite(planes[c][i])) {
                QOR_LOG_ERROR(kTag, "LSH grid channel %d holds a non-finite value at %u,%u\n", c, unsigned(i % width),
                              unsigned(i / width));
                FreePlanes(planes);
                return QOR_RES_NOT_SUPPORTED;
            }
        }
    }
    FreePlanes(pLSH->apMatrix);
    for (int c = 0; c < 4; c++) {
        pLSH->apMatrix[c] = planes[c];
    }
    pLSH->ui16Width = QOR_UINT16(width);
    pLSH->ui16Height = QOR_UINT16(height);
    pLSH->ui16TileSize = QOR_UINT16(tile);
    return QOR_RES_OK;
}

QOR_RESULT LSH_Save_txt(const LSH_GRID *pLSH, const char *filename) {
    if (!pLSH || !filename) {
        QOR_LOG_ERROR(kTag, "pLSH or filename is NULL\n");
        return QOR_RES_INVALID_PARAM;
    }
    FILE *f = QOR_CreateFile(filename, "w");
    if (!f) {
        QOR_LOG_ERROR(kTag, "Failed to open output file %s\n", filename);
        return QOR_RES_INVALID_PARAM;
    }
    const unsigned W = pLSH->ui16Width, H = pLSH->ui16Height;
    bool ok = std::fprintf(f, "LSH matrix %ux%u, tile size %u, 4 channels\n", W, H, pLSH->ui16TileSize) > 0;
    for (unsigned c = 0; c < 4 && ok; c++) {
        ok = std::fprintf(f, "channel %u\n", c) > 0;
        for (unsigned y = 0; y < H && ok && pLSH->apMatrix[c]; y++) {
            for (unsigned x = 0; x < W && ok; x++) {
                ok = std::fprintf(f, "%f ", double(pLSH->apMatrix[c][size_t(y) * W + x])) > 0;
            }
            ok = ok && std::fputc('\n', f) != EOF;
        }
    }
    return CloseWritten(f, filename, ok);
}

QOR_RESULT LSH_Save_pgm(const LSH_GRID *pLSH, const char *filename) {
    if (!pLSH || !filename) {
        QOR_LOG_ERROR(kTag, "pLSH or filename is NULL\n");
        return QOR_RES_INVALID_PARAM;
    }
    for (int c = 0; c < 4; c++) {
        if (!pLSH->apMatrix[c]) {
            QOR_LOG_ERROR(kTag, "LSH plane %d is not allocated\n", c);
            return QOR_RES_INVALID_PARAM;
        }
    }
    FILE *f = QOR_CreateFile(filename, "w");
    if (!f) {
        QOR_LOG_ERROR(kTag, "Failed to open %s\n", filename);
        return QOR_RES_INVALID_PARAM;
    }
    const unsigned W = pLSH->ui16Width, H = pLSH->ui16Height;
    const size_t n = size_t(W) * H;
    // The bounds are taken over the finite values only: one infinity would turn every other level into NaN.
    double lo = 3.0, hi = 0.0;
    for (int c = 0; c < 4; c++) {
        for (size_t i = 0; i < n; i++) {
            const double v = pLSH->apMatrix[c][i];
            if (std::isfinite(v)) {
                lo = v < lo ? v : lo;
                hi = v > hi ? v : hi;
            }
        }
    }
    if (hi == lo) {
        hi += 1.0;
    }
    bool ok = std::fprintf(f, "P2\n%u %u 255\n", W, 4 * H) > 0;
    for (int c = 0; c < 4 && ok; c++) {
        for (unsigned y = 0; y < H && ok; y++) {
            for (unsigned x = 0; x < W && ok; x++) {
                ok = std::fprintf(f, "%d ", GreyLevel(pLSH->apMatrix[c][size_t(y) * W + x], lo, hi)) > 0;
            }
            ok = ok && std::fputc('\n', f) != EOF;
        }
    }
    return CloseWritten(f, filename, ok);
}
