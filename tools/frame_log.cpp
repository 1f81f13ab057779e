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

SettleTracker::SettleTracker(const SettleBands &bands, size_t capacity)
    : bands_(bands), capacity_(std::max<size_t>(capacity, 2)) {
    for (auto &measureExtremes : extremes_) {
        for (int side = 0; side < 2; side++) {
            measureExtremes[side].entries.reserve(capacity_);
            measureExtremes[side].above = side == 0;
        }
    }
}

double SettleTracker::measure(const FrameRecord &f, int m) {
    switch (m) {
    case 0:
        return f.exposureUs * f.gain;
    case 1:
        return f.brightness;
    case 2:
        return f.temperature;
    default:
        return f.rgb[m - 3];
    }
}

/** The value of measure m of a frame lies outside the bands of the last frame. */
bool SettleTracker::outside(double value, const FrameRecord &last, int m) const {
    const double reference = measure(last, m);
    switch (m) {
    case 0: // a data generator reports no exposure (0): a product of 0 then matches only 0

        return !near(value, reference, bands_.exposureProduct, 0.0);
    case 1:
        return std::fabs(value - reference) > bands_.brightness;
    case 2:
        return !near(value, reference, bands_.temperature, bands_.temperatureFloor);
    default:
        return !near(value, reference, bands_.patch, bands_.patchFloor);
    }
}

void SettleTracker::push(Extremes &x, double value) {
    std::vector<Entry> &e = x.entries;
    // A frame that a later one equals or passes can no longer be the last one out of the bands: the later one is.
    while (!e.empty() && (x.above ? e.back().value <= value : e.back().value >= value))
        e.pop_back();
    if (e.size() == capacity_) {
        // Full (a long drift without noise): the two neighbours closest in value taken as one, the farther value at
        // the later frame, so that the answer may come later than the exact one (by little), never earlier.
        size_t closest = 0;
        for (size_t i = 1; i + 1 < e.size(); i++) {
            if (std::fabs(e[i + 1].value - e[i].value) < std::fabs(e[closest + 1].value - e[closest].value))
                closest = i;
        }
        e[closest + 1].value = e[closest].value;
        e.erase(e.begin() + static_cast<std::ptrdiff_t>(closest));
    }
    e.push_back(Entry{value, count_, FrameRecord{}, false});
}

void SettleTracker::add(const FrameRecord &r) {
    if (count_ == 0)
        first_ = r;
    for (auto &measureExtremes : extremes_) {
        for (Extremes &x : measureExtremes) {
            if (!x.entries.empty() && !x.entries.back().hasNext) {
                x.entries.back().next = r;
                x.entries.back().hasNext = true;
            }
        }
    }
    for (int m = 0; m < kMeasures; m++) {
        for (Extremes &x : extremes_[m])
            push(x, measure(r, m));
    }
    last_ = r;
    count_++;
}

long SettleTracker::lastOutsideBands() const {
    // For some measure, the last frame out of the bands of the last frame is one of the kept frames: the latest of
    // those out of the bands (they come first in each list: the farther values are the older ones).
    long lastOutside = -1;
    for (int m = 0; m < kMeasures; m++) {
        for (const Extremes &x : extremes_[m]) {
            for (auto it = x.entries.rbegin(); it != x.entries.rend(); ++it) {
                if (outside(it->value, last_, m)) {
                    lastOutside = std::max(lastOutside, it->index);
                    break;
                }
            }
        }
    }
    return lastOutside;
}

const FrameRecord *SettleTracker::recordAfter(long index) const {
    if (index < 0)
        return &first_;
    for (const auto &measureExtremes : extremes_) {
        for (const Extremes &x : measureExtremes) {
            for (const Entry &e : x.entries) {
                if (e.index == index && e.hasNext)
                    return &e.next;
            }
        }
    }
    return nullptr;
}

long SettleTracker::settledFrom() const {
    if (count_ == 0)
        return -1;
    const long lastOutside = lastOutsideBands();
    if (count_ - (lastOutside + 1) < bands_.minFrames)
        return -1;
    const FrameRecord *from = recordAfter(lastOutside);
    return from != nullptr ? from->frame : -1;
}

std::string SettleTracker::line() const {
    if (count_ == 0)
        return "No frames";
    const long settled = settledFrom();
    if (settled < 0) {
        return "Not settled in " + std::to_string(count_) + " frames; frame " + std::to_string(last_.frame) + ": " +
               values(last_);
    }
    const long lastOutside = lastOutsideBands();
    return "Settled at frame " + std::to_string(settled) + ": " + values(*recordAfter(lastOutside));
}

long SettledFrom(const std::vector<FrameRecord> &frames, const SettleBands &bands) {
    SettleTracker tracker(bands);
    for (const FrameRecord &f : frames)
        tracker.add(f);
    return tracker.settledFrom();
}

std::string SettledLine(const std::vector<FrameRecord> &frames, const SettleBands &bands) {
    SettleTracker tracker(bands);
    for (const FrameRecord &f : frames)
        tracker.add(f);
    return tracker.line();
}

} // namespace norva_tools
