/* Polyphase scaler coefficients: Kaiser-windowed sinc, four phases of signed taps summing to 64. */
#include <cmath>

#include "mc/mc_pipeline.h"

double QOR_ModifiedBessel(double x, QOR_BOOL xIsImaginary) {
    const double h = x / 2.0;
    const double h2 = h * h;
    double term = 1.0; // (x/2)^(2m) / (m!)^2
    double sum = 1.0;
    for (int m = 1; m < 10; m++) {
        term *= h2 / (static_cast<double>(m) * static_cast<double>(m));
        sum += (xIsImaginary && (m % 2 == 1)) ? -term : term;
    }
    return sum;
}

namespace {

double roundHalfAway(double v) { return v < 0.0 ? -std::floor(-v + 0.5) : std::floor(v + 0.5); }

} // namespace

void QOR_CalculateScalerCoefficients(double pitch, QOR_INT8 *coefficientMatrix,
                                     QOR_BOOL8 enable_cutoff_frequency_adjustment, QOR_UINT8 numTaps) {
    const int N = numTaps;
    if (N < 2 || N > 16 || coefficientMatrix == nullptr) {
        return;
    }
    const double beta = pitch < 1.6 ? 3.0 : 2.0;
    const double adjust = enable_cutoff_frequency_adjustment ? std::pow(1.0 / std::sqrt(pitch), 16.0 / N) : 1.0;
    const double wc = M_PI / pitch * adjust;
    const double i0beta = QOR_ModifiedBessel(beta, QOR_FALSE);
    const double half = (N - 1) / 2.0;

    double e = 0.0; // rounding error carried through every tap of every phase
    double h[16];
    for (int p = 0; p < 4; p++) {
        const double phi = p / 8.0 + (pitch != 1.0 ? 1.0 / 16.0 : 0.0);
        const double c = phi - 0.5;
        double sum = 0.0;
        for (int k = 0; k < N; k++) {
            const double d = (k - half) - c;
            const double x = 2.0 * (d + half) / N - 1.0;
            const double arg = beta * std::sqrt(1.0 - x * x);
            const double w = (arg == 0.0 ? 1.0 : QOR_ModifiedBessel(arg, QOR_FALSE)) / i0beta;
            const double s = (d == 0.0) ? wc / M_PI : std::sin(wc * d) / (M_PI * d);
            h[k] = w * s;
            sum += h[k];
        }
        for (int k = 0; k < N; k++) {
            h[k] /= sum;
        }
        QOR_INT8 *row = coefficientMatrix + p * N;
        int total = 0;
        for (int n = 0; n < N / 2; n++) {
            const double a = 64.0 * h[n];
            const double q = roundHalfAway(a - e);
            row[n] = static_cast<QOR_INT8>(static_cast<int>(q));
            e = q - a + e;
            const double b = 64.0 * h[N - 1 - n];
            const double r = roundHalfAway(b - e);
            row[N - 1 - n] = static_cast<QOR_INT8>(static_cast<int>(r));
            e = r - b + e;
            total += row[n] + row[N - 1 - n];
        }
        if (total != 64) {
            row[N / 2] = static_cast<QOR_INT8>(row[N / 2] + (64 - total));
        }
    }
}
