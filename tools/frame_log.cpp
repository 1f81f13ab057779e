#include "frame_log.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "scenes/scene_nrv.h"

namespace norva_tools {

namespace {

/** v lies within max(relative x |reference|, floor) of reference. */
bool near(double v, double reference, double relative, double floor) {
    return std::fabs(v - reference) <= std::max(relative * std::fabs(reference), floor);
}

bool inBands(const FrameRecord &f, const FrameRecord &last, const SettleBands &b) {
    // A data generator reports no exposure (0): a product of 0 then matches only 0.
    if (!near(f.exposureUs * f.gain, last.exposureUs * last.gain, b.exposureProduct, 0.0))
        return false;
    if (std::fabs(f.brightness - last.brightness) > b.brightness)
        return false;
    if (!near(f.temperature, last.temperature, b.temperature, b.temperatureFloor))
        return false;
    for (int c = 0; c < 3; c++) {
        if (!near(f.rgb[c], last.rgb[c], b.patch, b.patchFloor))
            return false;
    }
    return true;
}

std::string values(const FrameRecord &f) {
    char line[160];
    std::snprintf(line, sizeof line, "exposure %.1f ms, gain %.1f, %.0f K, grey patch %.0f/%.0f/%.0f",
                  f.exposureUs / 1000.0, f.gain, f.temperature, f.rgb[0], f.rgb[1], f.rgb[2]);
    return line;
}

} // namespace

const char *CsvHeader() { return "frame,exposure_us,gain,brightness,temperature_k,focus,patch_r,patch_g,patch_b"; }

std::string CsvLine(const FrameRecord &r) {
    char line[256];
    std::snprintf(line, sizeof line, "%ld,%.0f,%.3f,%.4f,%.0f,%.4f,%.1f,%.1f,%.1f", r.frame, r.exposureUs, r.gain,
                  r.brightness, r.temperature, r.focus, r.rgb[0], r.rgb[1], r.rgb[2]);
    return line;
}

PixelRect NeutralPatchWindow(uint32_t chartWidth, uint32_t chartHeight, uint32_t outWidth, uint32_t outHeight,
                             int patch) {
    if (patch < 0 || patch >= norva_scenes::SceneLayout::kPatches || chartWidth == 0 || chartHeight == 0)
        return {};
    const norva_scenes::Rect r = norva_scenes::SceneLayoutOf(chartWidth, chartHeight).grey[patch];
    // The middle half of the patch, from chart pixels to output pixels.
    const auto scale = [](uint64_t v, uint32_t to, uint32_t from) { return static_cast<uint32_t>(v * to / from); };
    const uint64_t x0 = uint64_t(r.x) + r.w / 4, x1 = uint64_t(r.x) + r.w - r.w / 4;
    const uint64_t y0 = uint64_t(r.y) + r.h / 4, y1 = uint64_t(r.y) + r.h - r.h / 4;
    PixelRect out;
    out.x = scale(x0, outWidth, chartWidth);
    out.y = scale(y0, outHeight, chartHeight);
    const uint32_t xEnd = scale(x1, outWidth, chartWidth), yEnd = scale(y1, outHeight, chartHeight);
    if (xEnd <= out.x || yEnd <= out.y)
        return {};
    out.w = xEnd - out.x;
    out.h = yEnd - out.y;
    return out;
}

bool MeanRgb(const PackedRgb &image, const PixelRect &window, double rgb[3]) {
    const uint32_t x0 = std::min(window.x, image.width), y0 = std::min(window.y, image.height);
    const uint32_t x1 = static_cast<uint32_t>(std::min<uint64_t>(uint64_t(window.x) + window.w, image.width));
    const uint32_t y1 = static_cast<uint32_t>(std::min<uint64_t>(uint64_t(window.y) + window.h, image.height));
    if (image.data == nullptr || x1 <= x0 || y1 <= y0)
        return false;
    uint64_t sum[3] = {0, 0, 0};
    for (uint32_t y = y0; y < y1; y++) {
        const uint8_t *row = image.data + size_t(y) * image.rowStride;
        for (uint32_t x = x0; x < x1; x++) {
            const uint8_t *pixel = row + size_t(x) * image.pixelStride;
            for (int c = 0; c < 3; c++)
                sum[c] += pixel[image.offsets[c]];
        }
    }
    const double n = double(x1 - x0) * double(y1 - y0);
    for (int c = 0; c < 3; c++)
        rgb[c] = double(sum[c]) / n;
    return true;
}

long SettledFrom(const std::vector<FrameRecord> &frames, const SettleBands &bands) {
    if (frames.empty())
        return -1;
    const FrameRecord &last = frames.back();
    size_t first = frames.size() - 1;
    while (first > 0 && inBands(frames[first - 1], last, bands))
        first--;
    if (long(frames.size() - first) < bands.minFrames)
        return -1;
    return frames[first].frame;
}

std::string SettledLine(const std::vector<FrameRecord> &frames, const SettleBands &bands) {
    if (frames.empty())
        return "No frames";
    const long settled = SettledFrom(frames, bands);
    if (settled < 0) {
        return "Not settled in " + std::to_string(frames.size()) + " frames; frame " +
               std::to_string(frames.back().frame) + ": " + values(frames.back());
    }
    const auto at =
        std::find_if(frames.begin(), frames.end(), [&](const FrameRecord &f) { return f.frame == settled; });
    return "Settled at frame " + std::to_string(settled) + ": " + values(*at);
}

} // namespace norva_tools
