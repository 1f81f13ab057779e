// The arithmetic of the calibration tool: planes of Bayer frames, shading grids fitted to flat fields, white-balance
// gains, colour matrices, and the setup file that carries them.
#include "calibration.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <sstream>

namespace norva_calibration {
namespace {

/** Solves the n x n system a x = b in place (Gaussian elimination with partial pivoting); false when singular. */
bool solve(std::vector<double> &a, std::vector<double> &b, int n) {
    for (int c = 0; c < n; c++) {
        int pivot = c;
        for (int r = c + 1; r < n; r++)
            if (std::fabs(a[r * n + c]) > std::fabs(a[pivot * n + c]))
                pivot = r;
        if (std::fabs(a[pivot * n + c]) < 1e-12)
            return false;
        if (pivot != c) {
            for (int k = 0; k < n; k++)
                std::swap(a[c * n + k], a[pivot * n + k]);
            std::swap(b[c], b[pivot]);
        }
        for (int r = c + 1; r < n; r++) {
            const double f = a[r * n + c] / a[c * n + c];
            for (int k = c; k < n; k++)
                a[r * n + k] -= f * a[c * n + k];
            b[r] -= f * b[c];
        }
    }
    for (int c = n - 1; c >= 0; c--) {
        double s = b[c];
        for (int k = c + 1; k < n; k++)
            s -= a[c * n + k] * b[k];
        b[c] = s / a[c * n + c];
    }
    return true;
}

/** Means of one plane over blocks of `size` x `size` cells, with the centre of each block in cells. */
struct Blocks {
    std::vector<double> x, y, mean;
};
Blocks blocksOf(const BayerFrame &f, unsigned p, unsigned size) {
    Blocks b;
    for (unsigned y0 = 0; y0 < f.cellsY(); y0 += size)
        for (unsigned x0 = 0; x0 < f.cellsX(); x0 += size) {
            const unsigned x1 = std::min(x0 + size, f.cellsX()), y1 = std::min(y0 + size, f.cellsY());
            double sum = 0;
            for (unsigned cy = y0; cy < y1; cy++)
                for (unsigned cx = x0; cx < x1; cx++)
                    sum += f.at(p, cx, cy);
            b.x.push_back((x0 + x1 - 1) / 2.0);
            b.y.push_back((y0 + y1 - 1) / 2.0);
            b.mean.push_back(sum / (double(x1 - x0) * (y1 - y0)));
        }
    return b;
}

/**
 * The value at (u, v) of the quadratic surface fitted to the blocks around it, each weighted by a Gaussian of its
 * distance (standard deviation `reach` cells, blocks up to twice that far); NaN when too few blocks reach it.
 */
double fitAt(const Blocks &b, double u, double v, double reach) {
    std::vector<double> a(36, 0.0), rhs(6, 0.0);
    unsigned used = 0;
    for (size_t i = 0; i < b.mean.size(); i++) {
        const double s = (b.x[i] - u) / reach, t = (b.y[i] - v) / reach;
        const double d2 = s * s + t * t;
        if (d2 > 4.0)
            continue;
        const double w = std::exp(-0.5 * d2);
        const double basis[6] = {1.0, s, t, s * s, s * t, t * t};
        for (int r = 0; r < 6; r++) {
            rhs[r] += w * basis[r] * b.mean[i];
            for (int c = 0; c < 6; c++)
                a[r * 6 + c] += w * basis[r] * basis[c];
        }
        used++;
    }
    if (used < 12 || !solve(a, rhs, 6))
        return std::nan("");
    return rhs[0];
}

bool isComment(const std::string &line) {
    const size_t at = line.find_first_not_of(" \t");
    return at != std::string::npos && (line.compare(at, 2, "//") == 0 || line[at] == '#');
}

std::string tagOf(const std::string &line) {
    std::istringstream in(line);
    std::string tag;
    in >> tag;
    return tag;
}

/** Tags the calibration writes: a base file's own are dropped. */
bool isCalibrationTag(const std::string &tag) {
    return tag == "WB_CORRECTIONS" || tag.rfind("WB_TEMPERATURE_", 0) == 0 || tag.rfind("WB_CCM_", 0) == 0 ||
           tag.rfind("WB_OFFSETS_", 0) == 0 || tag.rfind("WB_GAINS_", 0) == 0 || tag.rfind("LSH_CTRL_", 0) == 0;
}

/** A number with at most `decimals` decimals, without trailing zeros ("1", "0.5716", "-0.002"). */
std::string number(double v, int decimals) {
    const double scale = std::pow(10.0, decimals);
    double r = std::round(v * scale) / scale;
    if (r == 0.0)
        r = 0.0; // no "-0"
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, r);
    std::string s = text;
    if (s.find('.') != std::string::npos) {
        s.erase(s.find_last_not_of('0') + 1);
        if (s.back() == '.')
            s.pop_back();
    }
    return s;
}

std::string line(const std::string &tag, const double *v, int n, int decimals) {
    std::string s = tag;
    for (int i = 0; i < n; i++)
        s += " " + number(v[i], decimals);
    return s + "\n";
}

} // namespace

unsigned BayerFrame::colour(unsigned p) const {
    const char c = p < mosaic.size() ? mosaic[p] : 'g';
    return c == 'r' ? 0u : c == 'b' ? 2u : 1u;
}

bool UnpackBayer12(const uint8_t *data, size_t size, size_t offset, size_t stride, unsigned width, unsigned height,
                   const std::string &mosaic, BayerFrame *frame) {
    const size_t rowBytes = (size_t(width) + 1) / 2 * 3;
    if (width < 2 || height < 2 || (width | height) & 1u || stride < rowBytes || offset > size ||
        (size - offset) / stride < height - 1 || size - offset - (height - 1) * stride < rowBytes)
        return false;
    frame->width = width;
    frame->height = height;
    frame->bits = 12;
    frame->mosaic = mosaic;
    const size_t cells = size_t(width / 2) * (height / 2);
    for (auto &plane : frame->planes)
        plane.assign(cells, 0.0f);
    for (unsigned y = 0; y < height; y++) {
        const uint8_t *row = data + offset + y * stride;
        for (unsigned x = 0; x < width; x += 2, row += 3) {
            const uint32_t w = row[0] | uint32_t(row[1]) << 8 | uint32_t(row[2]) << 16;
            const size_t cell = size_t(y / 2) * (width / 2) + x / 2;
            frame->planes[(y & 1u) * 2][cell] = float(w & 0xFFFu);
            frame->planes[(y & 1u) * 2 + 1][cell] = float(w >> 12);
        }
    }
    return true;
}

bool UnpackBgrx(const uint8_t *data, size_t size, size_t offset, size_t stride, unsigned width, unsigned height,
                RgbImage *image) {
    const size_t rowBytes = size_t(width) * 4;
    if (width == 0 || height == 0 || stride < rowBytes || offset > size || (size - offset) / stride < height - 1 ||
        size - offset - (height - 1) * stride < rowBytes)
        return false;
    image->width = width;
    image->height = height;
    for (auto &c : image->channels)
        c.assign(size_t(width) * height, 0.0f);
    for (unsigned y = 0; y < height; y++) {
        const uint8_t *row = data + offset + y * stride;
        for (unsigned x = 0; x < width; x++) {
            const size_t at = size_t(y) * width + x;
            image->channels[2][at] = row[4 * x];
            image->channels[1][at] = row[4 * x + 1];
            image->channels[0][at] = row[4 * x + 2];
        }
    }
    return true;
}

Rgb MeanRgb(const RgbImage &image, const Rect &r) {
    double sum[3] = {};
    double n = 0;
    for (unsigned y = r.y0; y < r.y1 && y < image.height; y++)
        for (unsigned x = r.x0; x < r.x1 && x < image.width; x++) {
            for (int c = 0; c < 3; c++)
                sum[c] += image.channels[c][size_t(y) * image.width + x];
            n += 1;
        }
    return n ? Rgb{sum[0] / n, sum[1] / n, sum[2] / n} : Rgb{};
}

double CornerError(const RgbImage &image) {
    const unsigned w = image.width / 16, h = image.height / 16, W = image.width, H = image.height;
    const Rgb centre = MeanRgb(image, Rect{W / 2 - w / 2, H / 2 - h / 2, W / 2 + w / 2, H / 2 + h / 2});
    double worst = 0;
    for (const Rect &r : {Rect{0, 0, w, h}, Rect{W - w, 0, W, h}, Rect{0, H - h, w, H}, Rect{W - w, H - h, W, H}}) {
        const Rgb c = MeanRgb(image, r);
        const double at[3] = {c.r, c.g, c.b}, mid[3] = {centre.r, centre.g, centre.b};
        for (int k = 0; k < 3; k++)
            worst = std::max(worst, mid[k] > 0 ? std::fabs(at[k] / mid[k] - 1.0) : 1.0);
    }
    return worst;
}

Rgb MeanRgb(const BayerFrame &f, const Rect &r, unsigned inset, const LSH_GRID *shading) {
    double sum[3] = {}, n[3] = {};
    for (unsigned y = r.y0 + inset; y + inset < r.y1 && y < f.height; y++)
        for (unsigned x = r.x0 + inset; x + inset < r.x1 && x < f.width; x++) {
            const unsigned p = (y & 1u) * 2 + (x & 1u), c = f.colour(p);
            double v = f.at(p, x / 2, y / 2);
            if (shading != nullptr)
                v *= GridGain(*shading, p, x / 2, y / 2);
            sum[c] += v;
            n[c] += 1;
        }
    return Rgb{n[0] ? sum[0] / n[0] : 0, n[1] ? sum[1] / n[1] : 0, n[2] ? sum[2] / n[2] : 0};
}

void MeanPlanes(const BayerFrame &f, unsigned cx0, unsigned cy0, unsigned cx1, unsigned cy1, double out[4]) {
    for (unsigned p = 0; p < 4; p++) {
        double sum = 0, n = 0;
        for (unsigned cy = cy0; cy < cy1 && cy < f.cellsY(); cy++)
            for (unsigned cx = cx0; cx < cx1 && cx < f.cellsX(); cx++) {
                sum += f.at(p, cx, cy);
                n += 1;
            }
        out[p] = n ? sum / n : 0.0;
    }
}

unsigned DefaultTile(unsigned cellsX) {
    unsigned tile = 16;
    while (cellsX / (2 * tile) >= 20 && tile < 256)
        tile *= 2;
    return tile;
}

bool ShadingGrid(const BayerFrame &flat, unsigned tile, LSH_GRID *grid) {
    if (tile < 4 || flat.cellsX() < 2 * tile || flat.cellsY() < 2 * tile)
        return false;
    *grid = LSH_GRID{};
    if (LSH_CreateMatrix(grid, flat.cellsX(), flat.cellsY(), static_cast<QOR_UINT16>(tile)) != QOR_RES_OK)
        return false;
    // Blocks of an even number of cells, so that a texture alternating from cell to cell averages out.
    const unsigned size = std::max(2u, tile / 4);
    const double reach = tile;
    const double centreX = (flat.cellsX() - 1) / 2.0, centreY = (flat.cellsY() - 1) / 2.0;
    for (unsigned p = 0; p < 4; p++) {
        const Blocks b = blocksOf(flat, p, size);
        const double centre = fitAt(b, centreX, centreY, reach);
        for (unsigned j = 0; j < grid->ui16Height; j++)
            for (unsigned i = 0; i < grid->ui16Width; i++) {
                const double v = fitAt(b, double(i) * tile, double(j) * tile, reach);
                if (!(v > 0.0) || !(centre > 0.0)) {
                    LSH_Free(grid);
                    return false;
                }
                grid->apMatrix[p][j * grid->ui16Width + i] = static_cast<LSH_FLOAT>(centre / v);
            }
    }
    return true;
}

double GridGain(const LSH_GRID &grid, unsigned p, double cx, double cy) {
    const unsigned w = grid.ui16Width, h = grid.ui16Height;
    if (w == 0 || h == 0 || p > 3 || grid.apMatrix[p] == nullptr)
        return 1.0;
    const auto axis = [](double c, unsigned tile, unsigned n, unsigned *i0, double *f) {
        const double pos = c / tile;
        *i0 = pos <= 0 ? 0u : static_cast<unsigned>(pos);
        *f = pos - *i0;
        if (n < 2) {
            *i0 = 0;
            *f = 0;
        } else if (*i0 >= n - 1) {
            *i0 = n - 2;
            *f = 1.0;
        }
    };
    unsigned i = 0, j = 0;
    double fx = 0, fy = 0;
    axis(cx, grid.ui16TileSize, w, &i, &fx);
    axis(cy, grid.ui16TileSize, h, &j, &fy);
    const unsigned i1 = w > 1 ? i + 1 : i, j1 = h > 1 ? j + 1 : j;
    const LSH_FLOAT *m = grid.apMatrix[p];
    const double top = m[j * w + i] + fx * (m[j * w + i1] - m[j * w + i]);
    const double bottom = m[j1 * w + i] + fx * (m[j1 * w + i1] - m[j1 * w + i]);
    return top + fy * (bottom - top);
}

double CornerError(const BayerFrame &flat, const LSH_GRID *grid) {
    const unsigned size = 8;
    double worst = 0;
    for (unsigned p = 0; p < 4; p++) {
        const auto corrected = [&](unsigned x0, unsigned y0) {
            double sum = 0, n = 0;
            for (unsigned cy = y0; cy < y0 + size && cy < flat.cellsY(); cy++)
                for (unsigned cx = x0; cx < x0 + size && cx < flat.cellsX(); cx++) {
                    sum += flat.at(p, cx, cy) * (grid != nullptr ? GridGain(*grid, p, cx, cy) : 1.0);
                    n += 1;
                }
            return n ? sum / n : 0.0;
        };
        const unsigned right = flat.cellsX() - size, bottom = flat.cellsY() - size;
        const double centre = corrected(flat.cellsX() / 2 - size / 2, flat.cellsY() / 2 - size / 2);
        if (!(centre > 0))
            return 1.0;
        for (const auto &at : {std::make_pair(0u, 0u), std::make_pair(right, 0u), std::make_pair(0u, bottom),
                               std::make_pair(right, bottom)})
            worst = std::max(worst, std::fabs(corrected(at.first, at.second) / centre - 1.0));
    }
    return worst;
}

void NeutralGains(const Rgb &neutral, double gains[4]) {
    gains[0] = neutral.r > 0 ? neutral.g / neutral.r : 1.0;
    gains[1] = gains[2] = 1.0;
    gains[3] = neutral.b > 0 ? neutral.g / neutral.b : 1.0;
}

bool FitColourMatrix(const std::vector<Rgb> &camera, const std::vector<Rgb> &target, double m[9]) {
    if (camera.size() != target.size() || camera.size() < 3)
        return false;
    // Row k is (a, b, 1 - a - b): M x c = a (c.r - c.b) + b (c.g - c.b) + c.b, a linear fit in a and b.
    for (int k = 0; k < 3; k++) {
        std::vector<double> a(4, 0.0), rhs(2, 0.0);
        for (size_t i = 0; i < camera.size(); i++) {
            const Rgb &c = camera[i];
            const double t = k == 0 ? target[i].r : k == 1 ? target[i].g : target[i].b;
            const double d0 = c.r - c.b, d1 = c.g - c.b, y = t - c.b;
            a[0] += d0 * d0;
            a[1] += d0 * d1;
            a[3] += d1 * d1;
            rhs[0] += d0 * y;
            rhs[1] += d1 * y;
        }
        a[2] = a[1];
        const double scale = a[0] + a[3];
        if (!(scale > 0) || std::fabs(a[0] * a[3] - a[1] * a[2]) < 1e-9 * scale * scale || !solve(a, rhs, 2))
            return false;
        m[3 * k] = rhs[0];
        m[3 * k + 1] = rhs[1];
        m[3 * k + 2] = 1.0 - rhs[0] - rhs[1];
    }
    return true;
}

double ColourResidual(const std::vector<Rgb> &camera, const std::vector<Rgb> &target, const double m[9]) {
    double sum = 0;
    size_t n = 0;
    for (size_t i = 0; i < camera.size() && i < target.size(); i++) {
        const Rgb &c = camera[i];
        const double t[3] = {target[i].r, target[i].g, target[i].b};
        for (int k = 0; k < 3; k++) {
            const double d = m[3 * k] * c.r + m[3 * k + 1] * c.g + m[3 * k + 2] * c.b - t[k];
            sum += d * d;
            n++;
        }
    }
    return n ? std::sqrt(sum / n) : 0.0;
}

std::string CommentLines(const std::string &text, size_t width) {
    std::istringstream words(text);
    std::string out, line, word;
    while (words >> word) {
        if (!line.empty() && line.size() + 1 + word.size() > width) {
            out += line + "\n";
            line.clear();
        }
        line += (line.empty() ? "// " : " ") + word;
    }
    return line.empty() ? out : out + line + "\n";
}

double StatisticsGamutClip(unsigned width, unsigned height) {
    // The white-balance statistics split a region into strips, one per frame, when its largest channel sum (pixels
    // x clip x 1024) does not fit 32 bits.
    const double largestSum = static_cast<double>(width) * height * 1024.0;
    return largestSum <= 4294967295.0 ? 1.0 : 0.0;
}

std::string SetupFileText(const std::string &baseText, const Calibration &c) {
    std::string out = c.header;
    std::string pending; // comment lines waiting for the line they describe
    bool blackWritten = false;
    const std::string black = c.blackComment + "BLC_SENSOR_BLACK " + std::to_string(c.sensorBlack[0]) + " " +
                              std::to_string(c.sensorBlack[1]) + " " + std::to_string(c.sensorBlack[2]) + " " +
                              std::to_string(c.sensorBlack[3]) + "\n";
    std::istringstream in(baseText);
    std::string text;
    while (std::getline(in, text)) {
        if (isComment(text)) {
            pending += text + "\n";
            continue;
        }
        const std::string tag = tagOf(text);
        if (tag.empty()) {
            out += pending + text + "\n";
        } else if (tag == "BLC_SENSOR_BLACK") {
            out += black;
            blackWritten = true;
        } else if (tag == "MGM_CLIP_MAX" && c.gamutClip > 0) {
            // replaced, with its comment, by the calibration's
        } else if (!isCalibrationTag(tag)) {
            out += pending + text + "\n";
        }
        pending.clear();
    }
    out += pending;
    if (!blackWritten)
        out += "\n" + black;
    if (c.gamutClip > 0)
        out += "\n" + c.gamutComment + line("MGM_CLIP_MAX", &c.gamutClip, 1, 4);

    out += "\n" + c.whiteBalanceComment;
    out += "WB_CORRECTIONS " + std::to_string(c.whiteBalance.size()) + "\n";
    for (size_t i = 0; i < c.whiteBalance.size(); i++) {
        const WhiteBalancePoint &p = c.whiteBalance[i];
        const std::string n = std::to_string(i);
        out += line("WB_TEMPERATURE_" + n, &p.kelvin, 1, 0);
        // Three decimals, each row's diagonal taking what its other two leave of the row's sum, so that rounding
        // does not tint a neutral.
        double ccm[9];
        for (int k = 0; k < 3; k++) {
            double others = 0, sum = 0;
            for (int j = 0; j < 3; j++) {
                sum += p.ccm[3 * k + j];
                ccm[3 * k + j] = std::round(p.ccm[3 * k + j] * 1000) / 1000;
                others += j != k ? ccm[3 * k + j] : 0.0;
            }
            ccm[4 * k] = std::round((sum - others) * 1000) / 1000;
        }
        out += line("WB_CCM_" + n, ccm, 9, 3);
        out += line("WB_OFFSETS_" + n, p.offsets, 3, 3);
        out += line("WB_GAINS_" + n, p.gains, 4, 4);
    }
    out += "\n" + c.shadingComment;
    out += "LSH_CTRL_BITS_DIFF " + std::to_string(c.bitsPerDiff) + "\n";
    out += "LSH_CTRL_CORRECTIONS " + std::to_string(c.shading.size()) + "\n";
    for (size_t i = 0; i < c.shading.size(); i++) {
        const ShadingPoint &p = c.shading[i];
        const std::string n = std::to_string(i);
        out += line("LSH_CTRL_TEMPERATURE_" + n, &p.kelvin, 1, 0);
        out += "LSH_CTRL_FILE_" + n + " " + p.file + "\n";
        out += line("LSH_CTRL_SCALE_WB_" + n, &p.scaleWb, 1, 4);
    }
    return out;
}

} // namespace norva_calibration
