// The denoise control: the sensor's read-back gain reaches the denoise module of every pipeline in its list on
// every shot; with the exposure control raising the gain on a dark scene, the next frame's denoise thresholds in
// its load area follow the noise model of the gain.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <sstream>
#include <string>

#include "control_rig.h"
#include "ispc/ControlAE.h"
#include "ispc/ControlDNS.h"
#include "ispc/ModuleDNS.h"
#include "ispc/ModuleIIF.h"
#include "ispc/ModuleOUT.h"
#include "ispc/ParameterFileParser.h"
#include "platform/sim_lsdecoder.h"

using ISPC::ControlDNS;
using ISPC::ModuleDNS;

namespace {

class DenoiseControl : public norva_test::ControlRig {
protected:
    ModuleDNS &dnsOf(ISPC::Pipeline &p) { return *dynamic_cast<ModuleDNS *>(p.getModule(ISPC::STP_DNS)); }
};

TEST_F(DenoiseControl, EveryPipelineGetsTheReadBackGainOnEveryShot) {
    make(norva_test::kS5k3p9Mode720);
    ASSERT_EQ(sensor().enable(), QOR_RES_OK);
    // a second pipeline on the same sensor with its own denoiser, and a third without one
    ISPC::Pipeline second(camera->getConnection(), 1, &sensor());
    ASSERT_EQ(second.registerModule(new ModuleDNS()), QOR_RES_OK);
    ISPC::Pipeline bare(camera->getConnection(), 1, &sensor());

    ControlDNS dns(3.0);
    EXPECT_EQ(dns.getModuleID(), ISPC::CTRL_DNS);
    EXPECT_TRUE(dns.hasConverged());
    ISPC::ParameterList saved;
    EXPECT_EQ(dns.save(saved, ISPC::ModuleBase::SAVE_DEF), QOR_RES_OK);
    EXPECT_EQ(saved.begin(), saved.end());
    EXPECT_TRUE(ControlDNS::getGroup().parameters.empty());

    ISPC::Metadata md{};
    const std::string log = norva_test::stderrOf([&] { EXPECT_EQ(dns.update(md), QOR_RES_NOT_INITIALISED); });
    EXPECT_NE(log.find("ControlDNS has no sensor!"), std::string::npos) << log;

    for (ISPC::Pipeline *p : {&pipeline(), &second, &bare}) {
        ASSERT_EQ(dns.addPipeline(p), QOR_RES_OK);
    }
    ASSERT_EQ(dns.setPipelineOwner(&pipeline()), QOR_RES_OK);
    const double before = dnsOf(second).fSensorGain;
    EXPECT_NE(before, 3.0); // the default gain is written only by an update
    for (double gain : {2.0, 2.0, 5.5}) {
        ASSERT_EQ(sensor().setExposureGain(1000, gain), QOR_RES_OK);
        for (ISPC::Pipeline *p : {&pipeline(), &second}) {
            EXPECT_EQ(p->setupRequested(), QOR_RES_OK);
            EXPECT_FALSE(dnsOf(*p).isUpdateRequested());
        }
        ASSERT_EQ(dns.update(md), QOR_RES_OK);
        EXPECT_EQ(dns.getSensorGain(), sensor().getGain());
        for (ISPC::Pipeline *p : {&pipeline(), &second}) {
            EXPECT_EQ(dnsOf(*p).fSensorGain, sensor().getGain());
            EXPECT_TRUE(dnsOf(*p).isUpdateRequested()); // also when the gain did not change
        }
    }
}

TEST_F(DenoiseControl, ThresholdsOfTheNextFrameFollowTheGainTheExposureControlRaises) {
    ISPC::Camera &c = make(norva_test::kS5k3p9Mode720);
    for (ISPC::SetupModule *m :
         std::initializer_list<ISPC::SetupModule *>{new ISPC::ModuleOUT(), new ISPC::ModuleIIF()})
        ASSERT_EQ(c.getPipeline()->registerModule(m), QOR_RES_OK);
    c.state = ISPC::Camera::CAM_REGISTERED;
    sensor().uiWellDepth = 5000; // the driver reports no noise model: one for the test
    sensor().flReadNoise = 3.0;
    std::istringstream text("OUT_ENC NV12\nDNS_STRENGTH 2.0\n");
    ISPC::ParameterList setup;
    ASSERT_EQ(ISPC::ParameterFileParser::parse(text, setup), QOR_RES_OK);
    ASSERT_EQ(c.loadParameters(setup), QOR_RES_OK);
    auto *ae = new ISPC::ControlAE();
    ae->setTargetBrightness(0.5);
    ASSERT_EQ(c.registerControlModule(ae), QOR_RES_OK);
    ASSERT_EQ(c.registerControlModule(new ControlDNS()), QOR_RES_OK);
    ASSERT_EQ(c.program(), QOR_RES_OK);
    ASSERT_EQ(c.allocateBufferPool(1), QOR_RES_OK);
    ASSERT_EQ(c.startCapture(), QOR_RES_OK);
    ASSERT_EQ(sensor().setExposureGain(64, 1.0), QOR_RES_OK); // the shortest exposure: dark

    const ModuleDNS &module = dnsOf(pipeline());
    double gainBefore = 0, firstGain = sensor().getGain(), lastGain = 0;
    for (int f = 0; f < 24; f++) {
        ASSERT_EQ(c.enqueueShot(), QOR_RES_OK);
        ISPC::Shot shot;
        ASSERT_EQ(c.acquireShot(shot, true), QOR_RES_OK);
        // the frame was processed with the thresholds of the gain read back after the shot before it
        CI_PIPELINE applied{};
        ASSERT_EQ(SimLS_Decode(static_cast<const QOR_UINT8 *>(shot.pCIBuffer->pLoadStruct), shot.pCIBuffer->loadSize,
                               &applied),
                  QOR_RES_OK);
        if (f > 0) {
            const double W = module.ui32SensorWellDepth, rn = module.fSensorReadNoise, g = 256.0 * gainBefore;
            for (unsigned i = 0; i < ModuleDNS::N_THRESHOLDS; i++) {
                const double t = 2.0 * std::sqrt(g / W * ModuleDNS::THRESHOLD_INTENSITY[i] + std::pow(g * rn / W, 2));
                EXPECT_NEAR(applied.sDenoiser.aPixThresLUT[i], std::min(std::round(t * 32), 8191.0), 1.0)
                    << "frame " << f << " threshold " << i;
            }
        }
        EXPECT_EQ(module.fSensorGain, sensor().getGain()) << "frame " << f;
        gainBefore = sensor().getGain();
        lastGain = gainBefore;
        ASSERT_EQ(c.releaseShot(shot), QOR_RES_OK);
    }
    EXPECT_GT(lastGain, firstGain);
    ASSERT_EQ(c.stopCapture(), QOR_RES_OK);
}

} // namespace
