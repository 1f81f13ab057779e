/*
 * ISP model, the black-body filter of the auto-white-balance statistics: a cell counts only when its
 * quantum-efficiency corrected log-ratios lie within the allowed distance of the curve line that applies to them.
 * Conventions: platform/isp-model.md.
 */
#include "sim_isp_internal.h"

namespace norva_sim {
namespace isp {

namespace {

/** A 13-bit two's complement field (the quantum-efficiency registers) as a signed value. */
int32_t signed13(uint32_t v) {
    v &= 0x1FFFu;
    return (v & 0x1000u) != 0 ? int32_t(v) - 0x2000 : int32_t(v);
}

} // namespace

void PrepareAwsFilter(FrameContext &f, const CI_PIPELINE &reg, const CI_PIPE_INFO &info) {
    const CI_MODULE_AWS &a = reg.stats.sAutoWhiteBalanceStats;
    f.awsQe[0] = signed13(a.ui16Log2_R_Qeff);
    f.awsQe[1] = signed13(a.ui16Log2_B_Qeff);
    const CI_AWS_CURVE_COEFFS &c = info.sAWSCurveCoeffs;
    for (int i = 0; i < 5; i++) {
        f.awsCurveX[i] = c.aCurveCoeffX[i];
        f.awsCurveY[i] = c.aCurveCoeffY[i];
        f.awsCurveOffset[i] = c.aCurveOffset[i];
        f.awsCurveBoundary[i] = c.aCurveBoundary[i];
    }
    f.awsBbDist = a.ui16BbDist & 0xFFFu;
    // with every slot's line 0 · lr + 0 · lb + 0 the distance is 0 for any cell: every cell is admitted
    f.awsAdmitAll = true;
    for (int i = 0; i < 5; i++) {
        f.awsAdmitAll = f.awsAdmitAll && f.awsCurveX[i] == 0 && f.awsCurveY[i] == 0 && f.awsCurveOffset[i] == 0;
    }
}

bool AwsNearCurve(const FrameContext &f, int32_t logR, int32_t logG, int32_t logB) {
    // log2(R / G) and log2(B / G) with the quantum-efficiency offsets, in 1/32
    const int32_t lr = logR - logG + f.awsQe[0];
    const int32_t lb = logB - logG + f.awsQe[1];
    // the first slot whose boundary (S5.10) the red log-ratio reaches; none: the curve says nothing
    for (int i = 0; i < 5; i++) {
        if (int64_t(lr) * 32 < int64_t(f.awsCurveBoundary[i])) {
            continue;
        }
        // X·lr + Y·lb + offset, in 1/32768 of log2 (coefficients S5.10, log-ratios U.5)
        int64_t d = int64_t(f.awsCurveX[i]) * lr + int64_t(f.awsCurveY[i]) * lb + int64_t(f.awsCurveOffset[i]) * 32;
        d = d < 0 ? -d : d;
        return d <= int64_t(f.awsBbDist) * 1024;
    }
    return true;
}

} // namespace isp
} // namespace norva_sim
