// The light in front of the simulated sensors (a black body of a chosen colour temperature at a chosen level), the
// colour filters that turn it into channel gains, the lens shading, and the renderer of the chart as a sensor sees
// it. The model is written down in platform/README.md.
#include "platform/sim_world.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "platform/sim_isp.h"

namespace norva_sim {
namespace {

/** One colour filter: a Gaussian sensitivity of the wavelength (nm). */
struct Filter {
    double peak;
    double width; /* standard deviation */
};
/** Red, green, blue. */
constexpr Filter kFilters[3] = {{600.0, 35.0}, {535.0, 40.0}, {460.0, 30.0}};
/** Second radiation constant hc/k, nm x K. */
constexpr double kC2 = 1.4388e7;

/** Response of each filter to a black body at kelvin (any common scale): sums over 380 to 780 nm in 1 nm steps. */
void filterResponses(double kelvin, double out[3]) {
    out[0] = out[1] = out[2] = 0.0;
    for (int nm = 380; nm <= 780; nm++) {
        const double l = nm;
        const double planck = 1.0 / (l * l * l * l * l * std::expm1(kC2 / (l * kelvin)));
        for (int c = 0; c < 3; c++) {
            const double d = (l - kFilters[c].peak) / kFilters[c].width;
            out[c] += planck * std::exp(-0.5 * d * d);
        }
    }
}

/** The light now: its temperature, level and the channel gains of the temperature. */
struct Light {
    double kelvin = kDefaultIlluminant;
    double level = kDefaultLightLevel;
    double gains[3] = {1.0, 1.0, 1.0};
};

std::mutex &lightMutex() {
    static auto *m = new std::mutex();
    return *m;
}
Light g_light;

bool inRange(double v, double lo, double hi) { return std::isfinite(v) && v >= lo && v <= hi; }

/** The number a whole variable holds; false when it holds something else. */
bool numberOf(const char *text, double *value) {
    char *end = nullptr;
    const double v = std::strtod(text, &end);
    if (end == text || *end != '\0' || !std::isfinite(v))
        return false;
    *value = v;
    return true;
}

/** The value of a variable if it is set, valid and in range; `fallback` otherwise. */
double fromEnvironment(const char *name, double lo, double hi, double fallback) {
    const char *text = std::getenv(name);
    double v = 0;
    return text != nullptr && numberOf(text, &v) && inRange(v, lo, hi) ? v : fallback;
}

void setLight(double kelvin, double level) {
    double gains[3];
    IlluminantChannelGains(kelvin, gains);
    std::lock_guard<std::mutex> lock(lightMutex());
    g_light.kelvin = kelvin;
    g_light.level = level;
    for (int c = 0; c < 3; c++)
        g_light.gains[c] = gains[c];
}

Light currentLight() {
    std::lock_guard<std::mutex> lock(lightMutex());
    return g_light;
}

/** At start and after ResetPlatform: what the variables say, the defaults where they are unset or refused. */
void lightFromEnvironment() {
    setLight(fromEnvironment("NORVA_SIM_ILLUMINANT", kMinIlluminant, kMaxIlluminant, kDefaultIlluminant),
             fromEnvironment("NORVA_SIM_LIGHT", kMinLightLevel, kMaxLightLevel, kDefaultLightLevel));
}
const bool g_lightSet = (lightFromEnvironment(), RegisterResetHook(lightFromEnvironment));

/** The value of one variable for WorldFromEnvironment: true with *set false when unset or empty. */
bool readVariable(const char *name, double lo, double hi, const char *what, double *value, bool *set,
                  std::string *error) {
    const char *text = std::getenv(name);
    *set = text != nullptr && *text != '\0';
    if (!*set)
        return true;
    if (numberOf(text, value) && inRange(*value, lo, hi))
        return true;
    if (error != nullptr) {
        char range[64];
        std::snprintf(range, sizeof range, "%g to %g", lo, hi);
        *error = std::string(name) + "=\"" + text + "\" is not " + what + " from " + range;
    }
    return false;
}

/** BGGR: (even, even) blue, (odd, odd) red, the others green. */
unsigned mosaicChannel(unsigned x, unsigned y) {
    return (y & 1u) == 0 ? ((x & 1u) == 0 ? 2u : 1u) : ((x & 1u) == 0 ? 1u : 0u);
}

} // namespace

const double kLensCornerShading[3] = {0.72, 0.80, 0.76};

bool WorldFromEnvironment(std::string *error) {
    double kelvin = 0, level = 0;
    bool kelvinSet = false, levelSet = false;
    if (!readVariable("NORVA_SIM_ILLUMINANT", kMinIlluminant, kMaxIlluminant, "a colour temperature in kelvin", &kelvin,
                      &kelvinSet, error) ||
        !readVariable("NORVA_SIM_LIGHT", kMinLightLevel, kMaxLightLevel, "a light level", &level, &levelSet, error))
        return false;
    const Light now = currentLight();
    setLight(kelvinSet ? kelvin : now.kelvin, levelSet ? level : now.level);
    return true;
}

bool SetIlluminant(double kelvin) {
    if (!inRange(kelvin, kMinIlluminant, kMaxIlluminant))
        return false;
    double gains[3];
    IlluminantChannelGains(kelvin, gains);
    std::lock_guard<std::mutex> lock(lightMutex());
    g_light.kelvin = kelvin;
    for (int c = 0; c < 3; c++)
        g_light.gains[c] = gains[c];
    return true;
}

bool SetLightLevel(double factor) {
    if (!inRange(factor, kMinLightLevel, kMaxLightLevel))
        return false;
    std::lock_guard<std::mutex> lock(lightMutex());
    g_light.level = factor;
    return true;
}

double Illuminant() { return currentLight().kelvin; }
double LightLevel() { return currentLight().level; }

void IlluminantChannelGains(double kelvin, double rgb[3]) {
    const double t = std::isfinite(kelvin) ? std::fmin(std::fmax(kelvin, kMinIlluminant), kMaxIlluminant) : 6500.0;
    double at[3], ref[3];
    filterResponses(t, at);
    filterResponses(6500.0, ref);
    for (int c = 0; c < 3; c++)
        rgb[c] = (at[c] / at[1]) / (ref[c] / ref[1]);
}

double LensShading(unsigned channel, double x, double y, unsigned width, unsigned height) {
    if (channel > 2 || width == 0 || height == 0)
        return 1.0;
    const double hx = width / 2.0, hy = height / 2.0;
    const double dx = x + 0.5 - hx, dy = y + 0.5 - hy;
    const double r2 = (dx * dx + dy * dy) / (hx * hx + hy * hy);
    // cos^4 of the angle off the axis, tan^2 of the angle growing with r^2 to its value at the corners
    const double tan2Corner = 1.0 / std::sqrt(kLensCornerShading[channel]) - 1.0;
    const double q = 1.0 + tan2Corner * r2;
    return 1.0 / (q * q);
}

void SensorChartRenderer::build() {
    builds_++;
    const size_t n = static_cast<size_t>(width_) * height_;
    radiance_.assign(n, 0.0f);
    frame_.assign(n, 0);
    // A cell flip moves whole cells: the position inside the 2x2 cell (the colour) stays. A pixel flip mirrors single
    // pixels, so the colour at a position changes with it.
    const auto sourceX = [this](unsigned x) {
        return !hflip_ ? x : pixelFlip_ ? width_ - 1 - x : (width_ - 2 - (x & ~1u)) + (x & 1u);
    };
    const auto sourceY = [this](unsigned y) {
        return !vflip_ ? y : pixelFlip_ ? height_ - 1 - y : (height_ - 2 - (y & ~1u)) + (y & 1u);
    };
    for (unsigned py = 0; py < 2; py++)
        for (unsigned px = 0; px < 2; px++)
            channel_[py][px] = mosaicChannel(sourceX(px) ^ phaseX_, sourceY(py) ^ phaseY_);
    const ChartLayout layout = ChartLayoutOf(width_, height_);
    const double scale = kWhiteRadiance * std::ldexp(1.0, static_cast<int>(depth_) - 10);
    std::vector<double> row(static_cast<size_t>(width_) * 3);
    // Output pixel (x, y) is the sensor's pixel (sx, sy): it sees the chart there (at the sensor's Bayer phase), lit
    // through the lens as that pixel is, so a flipped frame is the straight one read backwards.
    for (unsigned y = 0; y < height_; y++) {
        const unsigned sy = sourceY(y);
        ChartRow(layout, width_, sy ^ phaseY_, row.data());
        float *out = &radiance_[static_cast<size_t>(y) * width_];
        for (unsigned x = 0; x < width_; x++) {
            const unsigned sx = sourceX(x);
            const unsigned c = channel_[y & 1u][x & 1u];
            const double level = row[3 * static_cast<size_t>(sx ^ phaseX_) + c];
            out[x] = static_cast<float>(level * scale * LensShading(c, sx, sy, width_, height_));
        }
    }
}

std::vector<uint16_t> &SensorChartRenderer::render(const SensorOutput &s) {
    const unsigned depth = s.bitDepth >= 8 && s.bitDepth <= 16 ? s.bitDepth : 10;
    const unsigned w = s.width & ~1u, h = s.height & ~1u;
    if (w != width_ || h != height_ || s.hflip != hflip_ || s.vflip != vflip_ || depth != depth_ ||
        s.pixelFlip != pixelFlip_ || (s.phaseX & 1u) != phaseX_ || (s.phaseY & 1u) != phaseY_ || builds_ == 0) {
        width_ = w;
        height_ = h;
        hflip_ = s.hflip;
        vflip_ = s.vflip;
        pixelFlip_ = s.pixelFlip;
        phaseX_ = s.phaseX & 1u;
        phaseY_ = s.phaseY & 1u;
        depth_ = depth;
        build();
    }
    const Light light = currentLight();
    const double k = s.exposureUs * s.gain * light.level;
    float scale[2][2];
    for (unsigned py = 0; py < 2; py++)
        for (unsigned px = 0; px < 2; px++)
            scale[py][px] = static_cast<float>(k * light.gains[channel_[py][px]]);
    const float pedestal = static_cast<float>(SensorPedestal(depth_)) + 0.5f;
    const float top = static_cast<float>((1u << depth_) - 1);
    for (unsigned y = 0; y < height_; y++) {
        const float *rad = &radiance_[static_cast<size_t>(y) * width_];
        uint16_t *out = &frame_[static_cast<size_t>(y) * width_];
        const float s0 = scale[y & 1u][0], s1 = scale[y & 1u][1];
        for (unsigned x = 0; x < width_; x += 2) {
            const float v0 = pedestal + rad[x] * s0;
            const float v1 = pedestal + rad[x + 1] * s1;
            out[x] = static_cast<uint16_t>(v0 < top ? v0 : top);
            out[x + 1] = static_cast<uint16_t>(v1 < top ? v1 : top);
        }
    }
    return frame_;
}

} // namespace norva_sim
