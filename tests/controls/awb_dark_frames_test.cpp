// What the white-balance controls measure at the edges: near-black frames between normal ones leave the estimate
// where it was (the gain-based control keeps it exactly; none leaves the calibrated range) and the controls come
// back to the light once normal frames return; a light beyond either calibrated end is read beyond it, along the
// open ends of the locus.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <memory>
#include <string>

#include "ispc/ControlAWB.h"
#include "ispc/ControlAWB_PID.h"
#include "ispc/ControlAWB_Planckian.h"
#include "wb_test_util.h"

using namespace ISPC;
using norva_test::stderrOf;
using norva_test::wbListOf;

namespace {

class FixedRatePlanckian : public ControlAWB_Planckian {
public:
    double getFps() override { return 30.0; }
};

/**
 * A frame of a few codes: every patch of the scene reads about the given encoded R, G, B (1024 = full scale)
 * before the programmed gains, so the quantised statistics carry a colour that is mostly rounding.
 */
norva_test::WbScene nearBlack(double r, double g, double b) {
    norva_test::WbScene s;
    s.greys = {1.0};
    s.exposure = 1.0;
    const double codes[3] = {r, g, b};
    for (int c = 0; c < 3; c++) {
        // the synthesiser encodes a linear v as 1024 v^(1 / 2.2)
        s.illuminant[c] = std::pow(codes[c] / 1024.0, 2.2);
    }
    return s;
}

struct Trace {
    double before = 0;     // measured at the end of the normal frames
    double lowest = 1e300; // over the dark frames and the normal frames after them
    double highest = -1e300;
    double after = 0;                                // measured at the end
    double darkLowest = 1e300, darkHighest = -1e300; // over the dark frames alone
};

Trace runDarkBetweenNormal(norva_test::WbRig &rig, ControlAWB &awb, const norva_test::WbScene &normal,
                           const norva_test::WbScene &dark, int settleFrames, int recoveryFrames) {
    Trace run;
    auto frame = [&](const norva_test::WbScene &scene) {
        rig.setup();
        Metadata md;
        std::memset(&md, 0, sizeof(md));
        norva_test::fillWBS(rig.mc(), scene, 640, 480, md);
        norva_test::fillAWS(scene, 4000, md);
        stderrOf([&] { awb.update(md); });
        return awb.getMeasuredTemperature();
    };
    for (int i = 0; i < settleFrames; i++) {
        run.before = frame(normal);
    }
    for (int i = 0; i < 3 + recoveryFrames; i++) {
        const double t = frame(i < 3 ? dark : normal);
        if (i < 3) {
            run.darkLowest = std::min(run.darkLowest, t);
            run.darkHighest = std::max(run.darkHighest, t);
        }
        run.lowest = std::min(run.lowest, t);
        run.highest = std::max(run.highest, t);
        run.after = t;
    }
    return run;
}

} // namespace

TEST(AwbDarkFrames, EstimatesStayInTheCalibratedRangeAndRecover) {
    // the two-point calibration spans 3000 K to 6500 K; the normal scene lies between them
    const norva_test::WbScene normal = norva_test::WbScene::underCalibration(1.55, 2.2);
    struct Dark {
        const char *name;
        norva_test::WbScene scene;
    } darks[] = {
        {"black", nearBlack(0, 0, 0)},   {"blue codes only", nearBlack(0, 0, 4)},
        {"no red", nearBlack(0, 2, 6)},  {"red codes only", nearBlack(4, 0, 0)},
        {"no blue", nearBlack(8, 8, 0)}, {"a few codes each", nearBlack(3, 4, 2)},
    };
    struct Control {
        const char *name;
        std::function<std::unique_ptr<ControlAWB>()> make;
        int settleFrames, recoveryFrames;
        double recoveredWithin; // kelvin from the temperature before the dark frames
    } controls[] = {
        {"gain-based", [] { return std::unique_ptr<ControlAWB>(new ControlAWB()); }, 30, 8, 25},
        // the PID controllers move the gains a little per frame, in both directions
        {"PID", [] { return std::unique_ptr<ControlAWB>(new ControlAWB_PID()); }, 120, 40, 200},
        {"Planckian", [] { return std::unique_ptr<ControlAWB>(new FixedRatePlanckian()); }, 30, 8, 25},
    };
    for (const Control &c : controls) {
        for (const Dark &d : darks) {
            const std::string what = std::string(c.name) + ", " + d.name;
            ControlAWB::resetSharedTemperature();
            norva_test::WbRig rig;
            std::unique_ptr<ControlAWB> awb = c.make();
            rig.attach(*awb);
            stderrOf([&] {
                awb->load(wbListOf(norva_test::twoPointCalibration()));
                awb->configureStatistics();
            });
            const Trace run = runDarkBetweenNormal(rig, *awb, normal, d.scene, c.settleFrames, c.recoveryFrames);
            EXPECT_GT(run.before, 3000) << what;
            EXPECT_LT(run.before, 6500) << what;
            EXPECT_GE(run.lowest, 3000) << what;
            EXPECT_LE(run.highest, 6500) << what;
            EXPECT_NEAR(run.after, run.before, c.recoveredWithin) << what;
            if (std::string(c.name) == "gain-based") {
                // too dark to measure: the estimate does not move
                EXPECT_EQ(run.darkLowest, run.before) << what;
                EXPECT_EQ(run.darkHighest, run.before) << what;
            }
        }
    }
    ControlAWB::resetSharedTemperature();
}

namespace {

/**
 * The light at temperature t on the locus of the two-point calibration, continued past its ends: the
 * logarithms of the red and blue gains move linearly in temperature, as between the two points.
 */
norva_test::WbScene lightAt(double t) {
    const double w = (t - 3000.0) / (6500.0 - 3000.0);
    const double redGain = std::exp2((1 - w) * std::log2(1.2) + w * std::log2(1.9));
    const double blueGain = std::exp2((1 - w) * std::log2(2.8) + w * std::log2(1.6));
    return norva_test::WbScene::underCalibration(redGain, blueGain);
}

} // namespace

TEST(AwbEstimates, LightsBeyondTheCalibratedEndsAreReadBeyondThem) {
    const double lights[] = {2200, 4500, 9500};
    for (double light : lights) {
        ControlAWB::resetSharedTemperature();
        norva_test::WbRig rig;
        ControlAWB awb;
        rig.attach(awb);
        stderrOf([&] {
            awb.load(wbListOf(norva_test::twoPointCalibration()));
            awb.configureStatistics();
        });
        const norva_test::WbScene scene = lightAt(light);
        for (int i = 0; i < 40; i++) {
            rig.setup();
            Metadata md;
            std::memset(&md, 0, sizeof(md));
            norva_test::fillWBS(rig.mc(), scene, 640, 480, md);
            stderrOf([&] { awb.update(md); });
        }
        // the programmed correction stops at the calibrated end, the estimate does not
        EXPECT_NEAR(awb.getMeasuredTemperature(), light, 0.02 * light) << light;
    }
    ControlAWB::resetSharedTemperature();
}
