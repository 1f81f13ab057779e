#include "scenes/scene_nrv.h"

#include <cmath>
#include <cstring>

#include "norvacommon/userlog.h"
#include "sim_image.h"

namespace norva_scenes {

namespace {

constexpr const char *kTag = "TEST_SCENE";
constexpr uint32_t kMinWidth = 64;
constexpr uint32_t kMinHeight = 48;
constexpr uint32_t kMaxSide = 32768;

uint32_t even(uint32_t v) { return v & ~1u; }

/** A row of n patches across a band, each inside its cell with a margin of an eighth of the cell. */
void patchRow(Rect *out, int n, uint32_t y0, uint32_t bandH, uint32_t width) {
    const uint32_t cell = width / uint32_t(n);
    for (int i = 0; i < n; i++) {
        const uint32_t m = even(cell / 8 + 2);
        out[i].x = even(uint32_t(i) * cell + m);
        out[i].w = even(cell - 2 * m);
        out[i].y = even(y0 + bandH / 8 + 2);
        out[i].h = even(bandH - 2 * (out[i].y - y0));
    }
}

sSimImageColourModel colourModelOf(MOSAICType mosaic) {
    switch (mosaic) {
    case MOSAIC_GRBG: return SimImage_GRBG;
    case MOSAIC_GBRG: return SimImage_GBRG;
    case MOSAIC_BGGR: return SimImage_BGGR;
    default: return SimImage_RGGB;
    }
}

} // namespace

const double kGreyLevels[SceneLayout::kPatches] = {0.05, 0.1, 0.2, 0.35, 0.5, 0.7};
const double kColourPatches[SceneLayout::kPatches][3] = {
    {0.50, 0.08, 0.08}, {0.08, 0.45, 0.08}, {0.08, 0.08, 0.50},
    {0.08, 0.40, 0.45}, {0.45, 0.08, 0.40}, {0.50, 0.45, 0.08},
};
const double kBackground = 0.18;
const double kRampTop = 0.95;
const double kEdgeHigh = 0.8;
const double kEdgeLow = 0.02;

QOR_RESULT CheckSceneParams(const SceneParams &s) {
    if (s.width < kMinWidth || s.height < kMinHeight || s.width > kMaxSide || s.height > kMaxSide ||
        (s.width & 1u) != 0 || (s.height & 1u) != 0) {
        LOG_Error(__func__, __LINE__, kTag, "scene size %ux%u: both sides must be even, from %ux%u to %ux%u\n",
                  s.width, s.height, kMinWidth, kMinHeight, kMaxSide, kMaxSide);
        return QOR_RES_INVALID_PARAM;
    }
    if (s.bitDepth < 8 || s.bitDepth > 16) {
        LOG_Error(__func__, __LINE__, kTag, "scene bit depth %u: must be 8 to 16\n", s.bitDepth);
        return QOR_RES_INVALID_PARAM;
    }
    if (s.mosaic < MOSAIC_RGGB || s.mosaic > MOSAIC_BGGR) {
        LOG_Error(__func__, __LINE__, kTag, "scene Bayer order %d is not one of the four\n", static_cast<int>(s.mosaic));
        return QOR_RES_INVALID_PARAM;
    }
    if (s.frames == 0) {
        LOG_Error(__func__, __LINE__, kTag, "a scene file holds at least one frame\n");
        return QOR_RES_INVALID_PARAM;
    }
    return QOR_RES_OK;
}

SceneLayout SceneLayoutOf(uint32_t width, uint32_t height) {
    SceneLayout l;
    const uint32_t band = even(height / 4);
    l.ramp = Rect{0, 0, width, band};
    patchRow(l.grey, SceneLayout::kPatches, band, band, width);
    patchRow(l.colour, SceneLayout::kPatches, 2 * band, band, width);
    const uint32_t y3 = 3 * band, h3 = height - y3;
    l.edges = Rect{even(width / 16), even(y3 + h3 / 8 + 2), even(width / 2), 0};
    l.edges.h = even(height - l.edges.y - h3 / 8 - 2);
    l.clipped = Rect{even(width * 11 / 16), l.edges.y, even(width / 6), l.edges.h};
    return l;
}

void SceneRgbAt(const SceneLayout &l, uint32_t width, uint32_t x, uint32_t y, double rgb[3]) {
    double v[3] = {kBackground, kBackground, kBackground};
    if (l.ramp.contains(x, y)) {
        v[0] = v[1] = v[2] = kRampTop * double(x) / double(width - 1);
    }
    for (int i = 0; i < SceneLayout::kPatches; i++) {
        if (l.grey[i].contains(x, y)) {
            v[0] = v[1] = v[2] = kGreyLevels[i];
        }
        if (l.colour[i].contains(x, y)) {
            v[0] = kColourPatches[i][0];
            v[1] = kColourPatches[i][1];
            v[2] = kColourPatches[i][2];
        }
    }
    if (l.edges.contains(x, y)) {
        // Left to right, a quarter each: bars of 2, 4 and 8 pixels, then checks of 4 pixels.
        const uint32_t u = x - l.edges.x, q = l.edges.w / 4;
        bool on;
        if (u < q) {
            on = (u / 2) & 1u;
        } else if (u < 2 * q) {
            on = (u / 4) & 1u;
        } else if (u < 3 * q) {
            on = (u / 8) & 1u;
        } else {
            on = ((u / 4) ^ ((y - l.edges.y) / 4)) & 1u;
        }
        v[0] = v[1] = v[2] = on ? kEdgeHigh : kEdgeLow;
    }
    if (l.clipped.contains(x, y)) {
        v[0] = v[1] = v[2] = 4.0;
    }
    rgb[0] = v[0];
    rgb[1] = v[1];
    rgb[2] = v[2];
}

uint16_t SceneMaxCode(unsigned bitDepth) { return static_cast<uint16_t>((1u << bitDepth) - 1u); }

uint16_t SceneCode(double level, unsigned bitDepth) {
    const double top = SceneMaxCode(bitDepth);
    const double code = std::lround(level * top);
    return static_cast<uint16_t>(code < 0 ? 0 : (code > top ? top : code));
}

int SceneColourAt(MOSAICType mosaic, uint32_t x, uint32_t y) {
    static const int kCells[4][2][2] = {
        {{0, 1}, {1, 2}}, /* RGGB */
        {{1, 0}, {2, 1}}, /* GRBG */
        {{1, 2}, {0, 1}}, /* GBRG */
        {{2, 1}, {1, 0}}, /* BGGR */
    };
    const int m = (mosaic >= MOSAIC_RGGB && mosaic <= MOSAIC_BGGR) ? int(mosaic) - 1 : 0;
    return kCells[m][y & 1u][x & 1u];
}

std::vector<uint16_t> SceneMosaic(const SceneParams &params) {
    if (CheckSceneParams(params) != QOR_RES_OK) {
        return {};
    }
    const SceneLayout l = SceneLayoutOf(params.width, params.height);
    std::vector<uint16_t> m(size_t(params.width) * params.height);
    for (uint32_t y = 0; y < params.height; y++) {
        for (uint32_t x = 0; x < params.width; x++) {
            double rgb[3];
            SceneRgbAt(l, params.width, x, y, rgb);
            m[size_t(y) * params.width + x] = SceneCode(rgb[SceneColourAt(params.mosaic, x, y)], params.bitDepth);
        }
    }
    return m;
}

QOR_RESULT WriteSceneNrv(const std::string &path, const SceneParams &params) {
    QOR_RESULT ret = CheckSceneParams(params);
    if (ret != QOR_RES_OK) {
        return ret;
    }
    const std::vector<uint16_t> mosaic = SceneMosaic(params);
    // The writer takes each 2x2 cell as top-left, top-right, bottom-left, bottom-right samples; the
    // colour model names the Bayer order of those four positions.
    const size_t bytesPerSample = params.bitDepth <= 8 ? 1 : 2;
    std::vector<uint8_t> cells(mosaic.size() * bytesPerSample);
    size_t i = 0;
    for (uint32_t cy = 0; cy < params.height / 2; cy++) {
        for (uint32_t cx = 0; cx < params.width / 2; cx++) {
            const size_t top = size_t(2 * cy) * params.width + 2 * cx, bottom = top + params.width;
            for (uint16_t s : {mosaic[top], mosaic[top + 1], mosaic[bottom], mosaic[bottom + 1]}) {
                if (bytesPerSample == 1) {
                    cells[i++] = static_cast<uint8_t>(s);
                } else {
                    std::memcpy(&cells[i], &s, 2);
                    i += 2;
                }
            }
        }
    }

    sSimImageOut out;
    SimImageOut_init(&out);
    out.info.ui8BitDepth = static_cast<QOR_UINT8>(params.bitDepth);
    out.info.ui32Width = params.width;
    out.info.ui32Height = params.height;
    out.info.eColourModel = colourModelOf(params.mosaic);
    out.info.fGain = 1.0;
    ret = SimImageOut_create(&out);
    if (ret == QOR_RES_OK) {
        ret = SimImageOut_open(&out, path.c_str());
    }
    const bool opened = ret == QOR_RES_OK;
    for (unsigned k = 0; ret == QOR_RES_OK && k < params.frames; k++) {
        ret = SimImageOut_addFrame(&out, cells.data(), cells.size());
        if (ret == QOR_RES_OK) {
            ret = SimImageOut_write(&out);
        }
    }
    if (opened) {
        const QOR_RESULT closed = SimImageOut_close(&out);
        if (ret == QOR_RES_OK) {
            ret = closed;
        }
    }
    SimImageOut_clean(&out);
    if (ret != QOR_RES_OK) {
        LOG_Error(__func__, __LINE__, kTag, "could not write the scene to '%s' (%d)\n", path.c_str(), ret);
    }
    return ret;
}

QOR_RESULT WriteSceneNrv(const std::string &path, uint32_t width, uint32_t height, unsigned bitDepth,
                         MOSAICType mosaic, unsigned frames) {
    SceneParams params;
    params.width = width;
    params.height = height;
    params.bitDepth = bitDepth;
    params.mosaic = mosaic;
    params.frames = frames;
    return WriteSceneNrv(path, params);
}

} // namespace norva_scenes
