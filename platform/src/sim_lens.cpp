// The focus lens of the simulated board: the actuator's code moves the lens, the texture and the defocus blur it
// renders with. Conventions: platform/isp-model.md, "Focus lens".
#include "platform/sim_lens.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <vector>

#include "platform/sim_isp.h"
#include "platform/sim_capture.h"

namespace norva_sim {
namespace {

/** The lens of one port. Scene and scratch are used under the platform lock; the code is written by the bus. */
struct Lens {
    std::atomic<bool> present{false};
    std::atomic<unsigned> code{0};
    LensScene scene;
    std::vector<float> a, b, tmp, line; // a colour plane at two radii, the transposed pass, one line
};

Lens g_lenses[CI_N_IMAGERS];

void resetLenses() {
    std::lock_guard<std::mutex> lock(PlatformMutex());
    for (unsigned p = 0; p < CI_N_IMAGERS; p++) {
        g_lenses[p].present = false;
        g_lenses[p].code = 0;
        g_lenses[p].scene = LensScene{};
    }
}
const bool g_resetRegistered = RegisterResetHook(resetLenses);

double radiusOf(const Lens &l) {
    const double r = std::fabs(double(l.code.load()) - l.scene.inFocus) * l.scene.blurPerCode;
    return std::isfinite(r) ? std::clamp(r, 0.0, std::max(0.0, l.scene.maxRadius)) : 0.0;
}

/** Box mean of radius r over n values at stride 1 (edges average what exists), into out. */
void boxLine(const float *in, size_t n, unsigned r, float *out) {
    double sum = 0;
    size_t lo = 0, hi = 0; // window [lo, hi)
    for (size_t i = 0; i < n; i++) {
        const size_t wantHi = std::min(n, i + r + 1), wantLo = i > r ? i - r : 0;
        while (hi < wantHi) {
            sum += in[hi++];
        }
        while (lo < wantLo) {
            sum -= in[lo++];
        }
        out[i] = static_cast<float>(sum / double(hi - lo));
    }
}

/** The separable box of radius r over a w x h plane, in place (tmp holds the transposed pass, line one line). */
void boxPlane(float *plane, float *tmp, float *line, unsigned w, unsigned h, unsigned r) {
    for (unsigned y = 0; y < h; y++) {
        boxLine(plane + size_t(y) * w, w, r, line);
        for (unsigned x = 0; x < w; x++) {
            tmp[size_t(x) * h + y] = line[x];
        }
    }
    for (unsigned x = 0; x < w; x++) {
        boxLine(tmp + size_t(x) * h, h, r, line);
        for (unsigned y = 0; y < h; y++) {
            plane[size_t(y) * w + x] = line[y];
        }
    }
}

/** A lens in front of the port, at code 0 until its actuator moves it. */
void placeLens(unsigned port, const LensScene &scene) {
    if (port < CI_N_IMAGERS) {
        std::lock_guard<std::mutex> lock(PlatformMutex());
        g_lenses[port].scene = scene;
        g_lenses[port].code = 0;
        g_lenses[port].present = true;
    }
}

} // namespace

void LensActuator::writeRegister(uint16_t reg, uint8_t value) {
    S5k3p9Actuator::writeRegister(reg, value);
    if (reg != 0x03 && reg != 0x04) {
        return;
    }
    MoveLens(port_, position());
}

void MoveLens(unsigned port, unsigned code) {
    if (port < CI_N_IMAGERS) {
        g_lenses[port].code = code;
    }
}

std::shared_ptr<LensActuator> AttachFocusLens(unsigned bus, unsigned port, const LensScene &scene) {
    auto actuator = std::make_shared<LensActuator>(port);
    placeLens(port, scene);
    AttachI2cDevice(bus, 0x0C, actuator);
    return actuator;
}

std::shared_ptr<Gc8034Lens> AttachGc8034FocusLens(unsigned bus, unsigned port, const LensScene &scene) {
    auto actuator = std::make_shared<Gc8034Lens>(port < CI_N_IMAGERS ? static_cast<int>(port) : -1);
    placeLens(port, scene);
    AttachI2cDevice(bus, 0x0C, actuator);
    return actuator;
}

void RemoveLens(unsigned port) {
    if (port < CI_N_IMAGERS) {
        std::lock_guard<std::mutex> lock(PlatformMutex());
        g_lenses[port].present = false;
        g_lenses[port].code = 0;
        g_lenses[port].scene = LensScene{};
    }
}

void SetLensScene(unsigned port, const LensScene &scene) {
    if (port < CI_N_IMAGERS) {
        std::lock_guard<std::mutex> lock(PlatformMutex());
        g_lenses[port].scene = scene;
    }
}

double LensBlurRadius(unsigned port) {
    if (port >= CI_N_IMAGERS) {
        return 0;
    }
    std::lock_guard<std::mutex> lock(PlatformMutex());
    return g_lenses[port].present ? radiusOf(g_lenses[port]) : 0.0;
}

void RenderThroughLens(unsigned port, uint16_t *frame, unsigned width, unsigned height, float pedestal, float top) {
    if (port >= CI_N_IMAGERS || !g_lenses[port].present || width < 2 || height < 2) {
        return;
    }
    Lens &l = g_lenses[port];
    const double radius = radiusOf(l);
    const unsigned r0 = static_cast<unsigned>(radius);
    const float frac = static_cast<float>(radius - r0);
    const float t = static_cast<float>(std::clamp(l.scene.texture, 0.0, 1.0));
    const unsigned w = width / 2, h = height / 2;
    const size_t cells = size_t(w) * h;
    if (l.a.size() < cells) {
        l.a.resize(cells);
        l.b.resize(cells);
        l.tmp.resize(cells);
    }
    if (l.line.size() < std::max(w, h)) {
        l.line.resize(std::max(w, h));
    }
    float *a = l.a.data(), *b = l.b.data();
    for (unsigned phase = 0; phase < 4; phase++) {
        const unsigned dx = phase & 1u, dy = phase >> 1;
        for (unsigned cy = 0; cy < h; cy++) {
            const uint16_t *row = frame + size_t(2 * cy + dy) * width + dx;
            for (unsigned cx = 0; cx < w; cx++) {
                a[size_t(cy) * w + cx] =
                    (float(row[2 * cx]) - pedestal) * (((cx + cy) & 1u) == 0 ? 1.0f + t : 1.0f - t);
            }
        }
        if (radius > 0) {
            // a fractional radius blends the boxes of the two whole radii around it
            std::copy(a, a + cells, b);
            if (r0 > 0) {
                boxPlane(a, l.tmp.data(), l.line.data(), w, h, r0);
            }
            boxPlane(b, l.tmp.data(), l.line.data(), w, h, r0 + 1);
            for (size_t i = 0; i < cells; i++) {
                a[i] += frac * (b[i] - a[i]);
            }
        }
        for (unsigned cy = 0; cy < h; cy++) {
            uint16_t *row = frame + size_t(2 * cy + dy) * width + dx;
            for (unsigned cx = 0; cx < w; cx++) {
                const float v = pedestal + a[size_t(cy) * w + cx] + 0.5f;
                row[2 * cx] = static_cast<uint16_t>(v < 0.0f ? 0.0f : v < top ? v : top);
            }
        }
    }
}

} // namespace norva_sim
