// Adaptive tone mapping behind auto exposure on the streaming S5K3P9, statistics from the synthesiser: on a dark
// scene exposure runs out and the gain climbs, and at every frame the local weight written into the tone mapper
// is (g - 1) / (G - 1) x localStrength for the gain g auto exposure left and the sensor's maximum gain G, while the
// global curve leans toward the reference line by the same share.
#include <gtest/gtest.h>

#include <cmath>

#include "control_rig.h"
#include "ispc/Control.h"
#include "ispc/ControlAE.h"
#include "ispc/ControlTNM.h"
#include "ispc/ModuleTNM.h"

using namespace ISPC;
using norva_test::SynthScene;

namespace {

class ToneGainLoop : public norva_test::ControlRig {};

TEST_F(ToneGainLoop, LocalWeightTracksTheGainAutoExposureSets) {
    make(norva_test::kS5k3p9Mode720);
    ASSERT_EQ(pipeline().registerModule(new ModuleTNM()), QOR_RES_OK);
    ASSERT_EQ(sensor().enable(), QOR_RES_OK);
    ASSERT_EQ(sensor().setExposureGain(2000, 1.0), QOR_RES_OK);
    const double maxGain = sensor().getMaxGain();
    ASSERT_GT(maxGain, 2.0);

    // The runner updates exposure before tone mapping, as the camera does after each shot.
    Control control;
    ControlAE *ae = new ControlAE();
    ControlTNM *tnm = new ControlTNM();
    ASSERT_EQ(control.registerControlModule(ae, &pipeline()), QOR_RES_OK);
    ASSERT_EQ(control.registerControlModule(tnm, &pipeline()), QOR_RES_OK);
    tnm->enableAdaptiveTNM(true);
    tnm->enableLocalTNM(true);
    ASSERT_EQ(tnm->setLocalStrength(0.8), QOR_RES_OK);
    tnm->setAllowHISConfig(true);
    ASSERT_EQ(control.configureStatistics(), QOR_RES_OK);

    // Mid-grey would need a total exposure of about 40 times the longest frame exposure.
    const double tStar = 40.0 * 8000;
    const double mid = std::pow(0.5, 2.2) / tStar;
    const SynthScene scene = SynthScene::Chart(sensor().uiWidth, sensor().uiHeight, mid / 4, mid * 4);
    const ModuleTNM &module = *static_cast<const ModuleTNM *>(pipeline().getModule(STP_TNM));
    double previousGain = sensor().getGain();
    bool rose = false;
    for (int f = 0; f < 150; f++) {
        Metadata md{};
        synthesise(scene, md);
        control.runControlModules(UPDATE_SHOT, md);
        const double g = sensor().getGain();
        const double share = g >= 1.0 ? (g - 1.0) / (maxGain - 1.0) : 0.0;
        ASSERT_NEAR(module.fWeightLocal, share * 0.8, 1e-12) << "frame " << f << " gain " << g;
        ASSERT_NEAR(tnm->getAdaptiveStrength(), 1.0 - share, 1e-12) << "frame " << f;
        for (unsigned i = 0; i < ModuleTNM::N_CURVE; i += 31) {
            const double r = (i + 1) / 65.0;
            ASSERT_NEAR(module.aCurve[i], r + (1.0 - share) * (tnm->getMappingCurve()[0][i + 1] - r), 1e-12);
        }
        rose = rose || g > previousGain;
        EXPECT_GE(g, previousGain - 1e-9) << "frame " << f; // a darker scene never lowers the gain
        previousGain = g;
    }
    EXPECT_TRUE(rose);
    EXPECT_GT(sensor().getGain(), 4.0);
    EXPECT_GT(module.fWeightLocal, 0.8 * 3.0 / (maxGain - 1.0));
}

} // namespace
