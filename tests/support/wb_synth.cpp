#include "support/wb_synth.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace norva_test {

namespace {

double clamp01(double v) { return std::min(1.0, std::max(0.0, v)); }

/** Linear value (0 to 1) to the encoded WBS scale: pure 2.2 gamma, 1.0 = 1024. */
double encode(double v) { return 1024.0 * std::pow(clamp01(v), 1.0 / 2.2); }

std::array<double, 3> rawOf(const WbScene &s, double grey) {
    return {clamp01(s.exposure * grey * s.illuminant[0]), clamp01(s.exposure * grey * s.illuminant[1]),
            clamp01(s.exposure * grey * s.illuminant[2])};
}

/** The AWS value of a raw channel: 8-bit scale with 8 fraction bits, as the block measures it. */
double awsLog2(double v) { return std::log2(std::max(1.0, v * 255.0 * 256.0)); }

void fillTile(MC_TILE_STATS_AWS &t, const WbScene &s, unsigned cells) {
    t.fCollectedRed = t.fCollectedGreen = t.fCollectedBlue = 0.0;
    const size_t n = s.greys.size();
    unsigned used = 0;
    for (size_t p = 0; p < n; p++) {
        const unsigned c = p + 1 == n ? cells - used : cells / static_cast<unsigned>(n);
        used += c;
        const std::array<double, 3> raw = rawOf(s, s.greys[p]);
        t.fCollectedRed += c * awsLog2(raw[0]);
        t.fCollectedGreen += c * awsLog2(raw[1]);
        t.fCollectedBlue += c * awsLog2(raw[2]);
    }
    t.numCFAs = cells;
}

} // namespace

WbScene WbScene::underCalibration(double redGain, double blueGain) {
    WbScene s;
    s.illuminant[0] = 1.0 / redGain;
    s.illuminant[1] = 1.0;
    s.illuminant[2] = 1.0 / blueGain;
    // the brightest patch keeps every channel below full scale
    s.exposure = 0.9 / std::max(1.0, std::max(s.illuminant[0], s.illuminant[2]));
    return s;
}

std::array<double, 3> processRaw(const MC_PIPELINE &mc, const std::array<double, 3> &raw) {
    const MC_WBC &w = mc.sWBC;
    // Bayer gains: red is cell 0, the greens 1 and 2 (averaged by the demosaic), blue 3
    const double g[3] = {w.aGain[0], (w.aGain[1] + w.aGain[2]) / 2.0, w.aGain[3]};
    const double clip[3] = {w.aClip[0] / 256.0, (w.aClip[1] + w.aClip[2]) / 512.0, w.aClip[3] / 256.0};
    double lin[3];
    for (int c = 0; c < 3; c++) {
        lin[c] = std::min(raw[c] * g[c], clip[c]);
    }
    std::array<double, 3> out;
    for (int i = 0; i < 3; i++) {
        double v = mc.sCCM.aOffset[i] / 4096.0;
        for (int j = 0; j < 3; j++) {
            v += mc.sCCM.aCoeff[i][j] * lin[j];
        }
        out[i] = encode(v);
    }
    return out;
}

std::vector<std::array<double, 3>> greyPatchCodes(const MC_PIPELINE &mc, const WbScene &scene) {
    std::vector<std::array<double, 3>> codes;
    for (double grey : scene.greys) {
        std::array<double, 3> v = processRaw(mc, rawOf(scene, grey));
        for (double &c : v) {
            c = c / 1024.0 * 255.0;
        }
        codes.push_back(v);
    }
    return codes;
}

void fillWBS(const MC_PIPELINE &mc, const WbScene &scene, unsigned width, unsigned height, ISPC::Metadata &md) {
    std::memset(&md.whiteBalanceStats, 0, sizeof(md.whiteBalanceStats));
    md.whiteBalanceConfig = mc.sWBS;
    const MC_WBS &cfg = mc.sWBS;
    const size_t n = scene.greys.size();
    const int rois = std::min(2, cfg.ui8ActiveROI + 0);
    for (int k = 0; k < rois; k++) {
        const unsigned w = std::min<unsigned>(cfg.aRoiWidth[k], width);
        const unsigned h = std::min<unsigned>(cfg.aRoiHeight[k], height);
        const QOR_UINT64 pixels = static_cast<QOR_UINT64>(w) * h;
        const double th[3] = {cfg.aRMax[k] / 2.0, cfg.aGMax[k] / 2.0, cfg.aBMax[k] / 2.0};
        const double thY = cfg.aYMax[k] / 2.0 - cfg.fYOffset;
        QOR_UINT64 used = 0;
        for (size_t p = 0; p < n; p++) {
            const QOR_UINT64 count = p + 1 == n ? pixels - used : pixels / n;
            used += count;
            const std::array<double, 3> v = processRaw(mc, rawOf(scene, scene.greys[p]));
            QOR_UINT64 q[3];
            for (int c = 0; c < 3; c++) {
                q[c] = static_cast<QOR_UINT64>(std::lround(v[c]));
            }
            const double luma = (218.0 * q[0] + 732.0 * q[1] + 74.0 * q[2]) / 1024.0;
            for (int c = 0; c < 3; c++) {
                md.whiteBalanceStats.averageColor[k].channelAccumulated[c] += count * q[c];
                if (q[c] > th[c]) {
                    md.whiteBalanceStats.whitePatch[k].channelAccumulated[c] += count * q[c];
                    md.whiteBalanceStats.whitePatch[k].channelCount[c] += static_cast<QOR_UINT32>(count);
                }
                if (luma > thY) {
                    md.whiteBalanceStats.highLuminance[k].channelAccumulated[c] += count * q[c];
                }
            }
            if (luma > thY) {
                md.whiteBalanceStats.highLuminance[k].lumaCount += static_cast<QOR_UINT32>(count);
            }
        }
    }
}

void fillAWS(const WbScene &scene, unsigned cellsPerTile, ISPC::Metadata &md) {
    fillAWSMixed(scene, scene, 0, cellsPerTile, md);
}

void fillAWSMixed(const WbScene &left, const WbScene &right, unsigned splitColumn, unsigned cellsPerTile,
                  ISPC::Metadata &md) {
    for (unsigned r = 0; r < 7; r++) {
        for (unsigned c = 0; c < 7; c++) {
            fillTile(md.autoWhiteBalanceStats.tileStats[r][c], c < splitColumn ? left : right, cellsPerTile);
        }
    }
}

} // namespace norva_test
