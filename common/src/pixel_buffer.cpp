/* Whole-buffer conversions: de-tiling, semi-planar YUV to planar 4:4:4, planar 4:4:4 to packed RGB. */
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "norvacommon/pixel_transform.h"
#include "norvacommon/userlog.h"

namespace {
const char *const kTag = "PIXEL_TRANSFORM";
}

QOR_RESULT BufferDeTile(QOR_UINT32 ui32TileWidth, QOR_UINT32 ui32TileHeight, QOR_UINT32 ui32TileStride,
                        const QOR_UINT8 *pInput, QOR_UINT8 *pOutput, QOR_UINT32 ui32OutputHStride,
                        QOR_UINT32 ui32OutputVStride) {
    if (!pInput || !pOutput) {
        QOR_LOG_ERROR(kTag, "pInput or pOutput is NULL\n");
        return QOR_RES_INVALID_PARAM;
    }
    if (ui32TileWidth == 0 || ui32TileHeight == 0 || ui32TileStride == 0 || ui32OutputHStride == 0 ||
        ui32OutputVStride == 0) {
        QOR_LOG_ERROR(kTag,
                      "one of the size is 0 (ui32TileWidth=%d, ui32TileHeight=%d, ui32TileStride=%d, "
                      "ui32OutputHStride=%d, ui32OutputVStride=%d)\n",
                      int(ui32TileWidth), int(ui32TileHeight), int(ui32TileStride), int(ui32OutputHStride),
                      int(ui32OutputVStride));
        return QOR_RES_INVALID_PARAM;
    }
    if (ui32OutputHStride < ui32TileStride || ui32TileStride < ui32TileWidth) {
        QOR_LOG_ERROR(kTag,
                      "ui32TileStride is bigger than ui32OutputHStride (%d>%d) or tile width than tile stride "
                      "(width %d)\n",
                      int(ui32TileStride), int(ui32OutputHStride), int(ui32TileWidth));
        return QOR_RES_INVALID_PARAM;
    }
    if (ui32OutputHStride % ui32TileWidth != 0) {
        QOR_LOG_ERROR(kTag, "strides are not divisible by the tile sizes\n");
        return QOR_RES_NOT_SUPPORTED;
    }
    if (ui32TileStride % ui32TileWidth != 0 || ui32OutputHStride % ui32TileStride != 0) {
        QOR_LOG_ERROR(kTag,
                      "tile stride is not compatible with the output size or the tile width "
                      "(ui32TileStride%cui32TileWidth=%d, ui32OutputHStride%cui32TileStride=%d)\n",
                      '%', int(ui32TileStride % ui32TileWidth), '%', int(ui32OutputHStride % ui32TileStride));
        return QOR_RES_NOT_SUPPORTED;
    }
    uint64_t rowStride = ui32OutputHStride;
    uint64_t rows = ui32OutputVStride;
    if (ui32TileStride < ui32OutputHStride) {
        rows = rows * ui32OutputHStride / ui32TileStride;
        rowStride = ui32TileStride;
    }
    const uint64_t tilesPerRow = ui32TileStride / ui32TileWidth;
    const uint64_t tileBytes = uint64_t(ui32TileWidth) * ui32TileHeight;
    const uint64_t tileRows = (rows + ui32TileHeight - 1) / ui32TileHeight;
    const QOR_UINT8 *in = pInput;
    for (uint64_t tr = 0; tr < tileRows; tr++) {
        const uint64_t first = tr * ui32TileHeight;
        const uint64_t n = rows - first < ui32TileHeight ? rows - first : ui32TileHeight;
        for (uint64_t t = 0; t < tilesPerRow; t++, in += tileBytes) {
            QOR_UINT8 *out = pOutput + first * rowStride + t * ui32TileWidth;
            for (uint64_t r = 0; r < n; r++) {
                std::memcpy(out + r * rowStride, in + r * ui32TileWidth, ui32TileWidth);
            }
        }
    }
    return QOR_RES_OK;
}

QOR_UINT8 clip(double v) {
    if (v > 255.0) {
        return 255;
    }
    if (v < 0.0) {
        return 0;
    }
    return QOR_UINT8(v);
}

QOR_UINT8 *BufferTransformYUVTo444(const QOR_UINT8 *bufferA, QOR_BOOL8 bUV, pxlFormat eTypeA, QOR_UINT32 inWidth,
                                   QOR_UINT32 inHeight, QOR_UINT32 outWidth, QOR_UINT32 outHeight) {
    PIXELTYPE type;
    std::memset(&type, 0, sizeof type);
    // only the 8-bit semi-planar formats: packed 4:4:4 would be read as if it were semi-planar
    if (!bufferA || uint64_t(inWidth) * inHeight == 0 || inWidth < outWidth || inHeight < outHeight ||
        PixelTransformYUV(&type, eTypeA) != QOR_RES_OK || type.ui8BitDepth > 8 || PixelFormatIsPackedYcc(eTypeA)) {
        return nullptr;
    }
    const size_t plane = size_t(outWidth) * outHeight;
    QOR_UINT8 *out = static_cast<QOR_UINT8 *>(std::malloc(plane ? plane * 3 : 1));
    if (!out) {
        return nullptr;
    }
    if (inWidth == outWidth && inHeight == outHeight) {
        std::memcpy(out, bufferA, plane);
    } else {
        for (QOR_UINT32 y = 0; y < outHeight; y++) {
            std::memcpy(out + size_t(y) * outWidth, bufferA + size_t(y) * inWidth, outWidth);
        }
    }
    // chroma that no whole input pair covers (an odd last column or row) stays neutral until copied below
    std::memset(out + plane, 128, 2 * plane);
    const unsigned H = type.ui8HSubsampling, V = type.ui8VSubsampling;
    const QOR_UINT8 *chroma = bufferA + size_t(inWidth) * inHeight;
    QOR_UINT8 *first = out + (bUV ? plane : 2 * plane);
    QOR_UINT8 *second = out + (bUV ? 2 * plane : plane);
    const QOR_UINT32 blocksX = outWidth / H, blocksY = outHeight / V;
    for (QOR_UINT32 r = 0; r < blocksY; r++) {
        const QOR_UINT8 *row = chroma + size_t(r) * inWidth;
        for (QOR_UINT32 j = 0; j < blocksX; j++) {
            for (unsigned dy = 0; dy < V; dy++) {
                const size_t o = size_t(r * V + dy) * outWidth + j * H;
                for (unsigned dx = 0; dx < H; dx++) {
                    first[o + dx] = row[2 * j];
                    second[o + dx] = row[2 * j + 1];
                }
            }
        }
    }
    // an odd width or height: the last column and row repeat their neighbours
    for (QOR_UINT8 *p : {first, second}) {
        if (blocksX > 0) {
            for (QOR_UINT32 y = 0; y < blocksY * V; y++) {
                for (QOR_UINT32 x = blocksX * H; x < outWidth; x++) {
                    p[size_t(y) * outWidth + x] = p[size_t(y) * outWidth + blocksX * H - 1];
                }
            }
        }
        if (blocksY > 0) {
            for (QOR_UINT32 y = blocksY * V; y < outHeight; y++) {
                std::memcpy(p + size_t(y) * outWidth, p + size_t(blocksY * V - 1) * outWidth, outWidth);
            }
        }
    }
    return out;
}

QOR_UINT8 *BufferTransformYUV444ToRGB(const QOR_UINT8 *bufferA, QOR_BOOL8 bUV, pxlFormat rgb, QOR_BOOL8 bBGR,
                                      QOR_UINT32 width, QOR_UINT32 height, const double convMatrix[9],
                                      const double convInputOff[3]) {
    PIXELTYPE type;
    std::memset(&type, 0, sizeof type);
    // the values are bytes: formats with wider channels would get them in the wrong bits
    if (!bufferA || !convMatrix || !convInputOff || PixelTransformRGB(&type, rgb) != QOR_RES_OK ||
        type.ui8BitDepth != 8 || type.ui8PackedElements == 0) {
        return nullptr;
    }
    const size_t rowBytes =
        (size_t(width) + type.ui8PackedElements - 1) / type.ui8PackedElements * type.ui8PackedStride;
    QOR_UINT8 *out = static_cast<QOR_UINT8 *>(std::calloc(rowBytes * height != 0 ? rowBytes * height : 1, 1));
    if (!out) {
        return nullptr;
    }
    const size_t plane = size_t(width) * height;
    const QOR_UINT8 *Y = bufferA;
    const QOR_UINT8 *U = bufferA + (bUV ? plane : 2 * plane);
    const QOR_UINT8 *Vp = bufferA + (bUV ? 2 * plane : plane);
    const unsigned bpp = type.ui8PackedStride / type.ui8PackedElements;
    for (QOR_UINT32 y = 0; y < height; y++) {
        for (QOR_UINT32 x = 0; x < width; x++) {
            const size_t i = size_t(y) * width + x;
            const double in[3] = {Y[i] + convInputOff[0], U[i] + convInputOff[1], Vp[i] + convInputOff[2]};
            QOR_UINT8 *px = out + size_t(y) * rowBytes + size_t(x) * bpp;
            for (int c = 0; c < 3; c++) {
                const double v =
                    in[0] * convMatrix[3 * c] + in[1] * convMatrix[3 * c + 1] + in[2] * convMatrix[3 * c + 2];
                px[bBGR ? 2 - c : c] = clip(v);
            }
        }
    }
    return out;
}
