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

sSimImageColourModel colourModelOf(MOSAICType mosaic) {
    switch (mosaic) {
    case MOSAIC_GRBG:
        return SimImage_GRBG;
    case MOSAIC_GBRG:
        return SimImage_GBRG;
    case MOSAIC_BGGR:
        return SimImage_BGGR;
    default:
        return SimImage_RGGB;
    }
}

} // namespace

QOR_RESULT CheckSceneParams(const SceneParams &s) {
    if (s.width < kMinWidth || s.height < kMinHeight || s.width > kMaxSide || s.height > kMaxSide ||
        (s.width & 1u) != 0 || (s.height & 1u) != 0) {
        QOR_LOG_ERROR(kTag, "scene size %ux%u: both sides must be even, from %ux%u to %ux%u\n", s.width, s.height,
                      kMinWidth, kMinHeight, kMaxSide, kMaxSide);
        return QOR_RES_INVALID_PARAM;
    }
    if (s.bitDepth < 8 || s.bitDepth > 16) {
        QOR_LOG_ERROR(kTag, "scene bit depth %u: must be 8 to 16\n", s.bitDepth);
        return QOR_RES_INVALID_PARAM;
    }
    if (s.mosaic < MOSAIC_RGGB || s.mosaic > MOSAIC_BGGR) {
        QOR_LOG_ERROR(kTag, "scene Bayer order %d is not one of the four\n", static_cast<int>(s.mosaic));
        return QOR_RES_INVALID_PARAM;
    }
    if (s.frames == 0) {
        QOR_LOG_ERROR(kTag, "a scene file holds at least one frame\n");
        return QOR_RES_INVALID_PARAM;
    }
    return QOR_RES_OK;
}

SceneLayout SceneLayoutOf(uint32_t width, uint32_t height) {
    const norva_sim::ChartLayout chart = norva_sim::ChartLayoutOf(width, height);
    const auto rect = [](const norva_sim::ChartRect &r) { return Rect{r.x, r.y, r.w, r.h}; };
    SceneLayout l;
    l.ramp = rect(chart.ramp);
    for (int i = 0; i < SceneLayout::kPatches; i++) {
        l.grey[i] = rect(chart.grey[i]);
        l.colour[i] = rect(chart.colour[i]);
    }
    l.edges = rect(chart.edges);
    l.clipped = rect(chart.clipped);
    return l;
}

uint16_t SceneMaxCode(unsigned bitDepth) { return static_cast<uint16_t>((1u << bitDepth) - 1u); }

uint16_t SceneCode(double level, unsigned bitDepth) {
    const double top = SceneMaxCode(bitDepth);
    const double code = std::lround(level * top);
    return static_cast<uint16_t>(code < 0 ? 0 : (code > top ? top : code));
}

std::vector<uint16_t> SceneMosaic(const SceneParams &params) {
    if (CheckSceneParams(params) != QOR_RES_OK) {
        return {};
    }
    // Each sample is the code of its colour's level; levels beyond full scale (the clipped patch) at the top code.
    const norva_sim::ChartLayout layout = norva_sim::ChartLayoutOf(params.width, params.height);
    std::vector<double> row(size_t(params.width) * 3);
    std::vector<uint16_t> samples(size_t(params.width) * params.height);
    for (uint32_t y = 0; y < params.height; y++) {
        norva_sim::ChartRow(layout, params.width, y, row.data());
        for (uint32_t x = 0; x < params.width; x++) {
            const int c = norva_test::BayerColourAt(params.mosaic, x, y);
            samples[size_t(y) * params.width + x] = SceneCode(row[size_t(x) * 3 + c], params.bitDepth);
        }
    }
    return samples;
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
        QOR_LOG_ERROR(kTag, "could not write the scene to '%s' (%d)\n", path.c_str(), ret);
    }
    return ret;
}

QOR_RESULT WriteSceneNrv(const std::string &path, uint32_t width, uint32_t height, unsigned bitDepth, MOSAICType mosaic,
                         unsigned frames) {
    SceneParams params;
    params.width = width;
    params.height = height;
    params.bitDepth = bitDepth;
    params.mosaic = mosaic;
    params.frames = frames;
    return WriteSceneNrv(path, params);
}

} // namespace norva_scenes
