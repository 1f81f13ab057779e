// Runtime settings of a capture context on its setup modules, checked on the modules and, after a shot, in what the
// device received for the context's pipeline.
#include <gtest/gtest.h>

#include <functional>

#include "context_fixture.h"
#include "ispc/ModuleDNS.h"
#include "ispc/ModuleFOS.h"
#include "ispc/ModuleGMA.h"
#include "ispc/ModuleHIS.h"
#include "ispc/ModuleTNM.h"
#include "platform/sim_pipeline.h"

using namespace ISPC;
using norva_test::contains;

namespace {

BufferFormat nv12(unsigned w, unsigned h) {
    BufferFormat f;
    f.format = YUV_420_PL12_8;
    f.width = w;
    f.height = h;
    return f;
}

class ContextSettings : public norva_test::ContextTest {
protected:
    void SetUp() override {
        ContextTest::SetUp();
        defaultParams(640, 480);
        ASSERT_TRUE(preconfigureMain()) << log;
    }

    template <class M> M *module() { return static_cast<M *>(main->pCamera->getPipeline()->getModule(M::id)); }

    /** The device's pipeline of the context (looked up by context number). */
    int pipelineId() const {
        for (int id = 1; id < 64; id++) {
            norva_sim::SimPipelineView v;
            if (norva_sim::GetSimPipeline(id, &v) && v.info.config.ui8Context == main->iContext)
                return id;
        }
        return -1;
    }

    /** One shot through an NV12 output: the requested module updates reach the device. */
    void oneShot() {
        if (!main->isBuffersAllocated()) {
            ASSERT_TRUE(main->configureOutput(nv12(320, 240), nullptr));
        }
        Camera &c = *main->pCamera;
        if (c.state != Camera::CAM_CAPTURING) {
            ASSERT_EQ(c.startCapture(), QOR_RES_OK);
        }
        ASSERT_EQ(c.enqueueShot(), QOR_RES_OK);
        Shot shot;
        ASSERT_EQ(c.acquireShot(shot, true), QOR_RES_OK);
        ASSERT_EQ(c.releaseShot(shot), QOR_RES_OK);
    }
};

TEST_F(ContextSettings, HistogramWindowGrowsInsideTheImage) {
    struct Case {
        unsigned x, y, w, h;
        unsigned startX, startY, tileW, tileH;
    };
    const Case cases[] = {
        {10, 10, 35, 28, 0, 0, 10, 8},         // growth of 17 and 14 held at the left and top edges
        {100, 100, 35, 28, 83, 86, 10, 8},     // grown about the centre
        {200, 100, 140, 70, 200, 100, 20, 10}, // large enough: unchanged
        {620, 470, 10, 5, 570, 424, 10, 8},    // held at the right and bottom edges as well
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.x << "," << c.y << " " << c.w << "x" << c.h);
        ModuleHIS *his = module<ModuleHIS>();
        his->clearFlags();
        ASSERT_TRUE(main->setHistStatROI(c.x, c.y, c.w, c.h));
        EXPECT_EQ(his->aGridStartCoord[0], c.startX);
        EXPECT_EQ(his->aGridStartCoord[1], c.startY);
        EXPECT_EQ(his->aGridTileSize[0], c.tileW);
        EXPECT_EQ(his->aGridTileSize[1], c.tileH);
        EXPECT_TRUE(his->bEnableGlobal && his->bEnableROI);
        EXPECT_TRUE(his->isUpdateRequested());
        EXPECT_LE(his->aGridStartCoord[0] + 7 * his->aGridTileSize[0], 640u);
        EXPECT_LE(his->aGridStartCoord[1] + 7 * his->aGridTileSize[1], 480u);
    }
}

TEST_F(ContextSettings, FocusWindowInclusiveAndNeverWraps) {
    struct Case {
        unsigned x, y, w, h;
        unsigned x0, y0, x1, y1;
    };
    const Case cases[] = {
        {100, 50, 200, 100, 100, 50, 299, 149},
        {0, 0, 0, 0, 0, 0, 0, 0},                 // an empty window is one pixel, not 4294967295 wide
        {600, 400, 200, 200, 600, 400, 639, 479}, // ends inside the image
        {900, 900, 10, 10, 639, 479, 639, 479},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.x << "," << c.y << " " << c.w << "x" << c.h);
        ModuleFOS *fos = module<ModuleFOS>();
        ASSERT_TRUE(main->setFosROI(c.x, c.y, c.w, c.h));
        EXPECT_TRUE(fos->bEnableROI);
        EXPECT_EQ(fos->aRoiStartCoord[0], c.x0);
        EXPECT_EQ(fos->aRoiStartCoord[1], c.y0);
        EXPECT_EQ(fos->aRoiEndCoord[0], c.x1);
        EXPECT_EQ(fos->aRoiEndCoord[1], c.y1);
    }
}

TEST_F(ContextSettings, ToneMapperValuesFollowTheUnchangedRule) {
    struct Setter {
        const char *name;
        std::function<bool(TestContext &, double)> set;
        std::function<double(const TestContext &)> get;
    };
    const Setter setters[] = {
        {"brightness", [](TestContext &c, double v) { return c.setBrightness(v); },
         [](const TestContext &c) { return c.getBrightness(); }},
        {"contrast", [](TestContext &c, double v) { return c.setContrast(v); },
         [](const TestContext &c) { return c.getContrast(); }},
        {"saturation", [](TestContext &c, double v) { return c.setSaturation(v); },
         [](const TestContext &c) { return c.getSaturation(); }},
    };
    ModuleTNM *tnm = module<ModuleTNM>();
    for (const Setter &s : setters) {
        SCOPED_TRACE(s.name);
        const double current = s.get(*main);
        tnm->clearFlags();
        EXPECT_TRUE(s.set(*main, current));
        EXPECT_FALSE(tnm->isUpdateRequested()) << "the same value requests no update";
        EXPECT_TRUE(s.set(*main, current + 0.25));
        EXPECT_TRUE(tnm->isUpdateRequested());
        EXPECT_DOUBLE_EQ(s.get(*main), current + 0.25);
    }
    tnm->clearFlags();
    EXPECT_TRUE(main->enableBlackWhiteMode(tnm->bBlackWhiteMode));
    EXPECT_FALSE(tnm->isUpdateRequested());
    EXPECT_TRUE(main->enableBlackWhiteMode(!tnm->bBlackWhiteMode));
    EXPECT_TRUE(tnm->isUpdateRequested());
}

TEST_F(ContextSettings, DenoiserLevelScalesAndAlwaysUpdates) {
    ModuleDNS *dns = module<ModuleDNS>();
    for (double level : {0.5, 0.5, 0.0, 1.0}) {
        dns->clearFlags();
        ASSERT_TRUE(main->setDenoiserLevel(level));
        EXPECT_DOUBLE_EQ(dns->fStrength, level * 6.0);
        EXPECT_TRUE(dns->isUpdateRequested()) << "even when the strength was already " << level * 6.0;
        EXPECT_DOUBLE_EQ(main->getDenoiserLevel(), level);
    }
    ASSERT_TRUE(main->setDenoiserLevel(7.0));
    EXPECT_DOUBLE_EQ(dns->fStrength, 6.0) << "held at the top of the strength's range";
    ASSERT_TRUE(main->setDenoiserLevel(-1.0));
    EXPECT_DOUBLE_EQ(dns->fStrength, 0.0);
}

TEST_F(ContextSettings, GammaSwitch) {
    ModuleGMA *gma = module<ModuleGMA>();
    ASSERT_TRUE(main->enableGMA(false));
    EXPECT_TRUE(gma->bBypass);
    gma->clearFlags();
    ASSERT_TRUE(main->enableGMA(true));
    EXPECT_FALSE(gma->bBypass);
    EXPECT_TRUE(gma->isUpdateRequested());
}

// The windows reach the device with the next shot: the configuration it applied to this context's pipeline shows
// them.
TEST_F(ContextSettings, DeviceReceivesTheWindows) {
    oneShot();
    const int id = pipelineId();
    ASSERT_GT(id, 0);
    const size_t before = norva_sim::SimPipelineConfigTrace(id).size();
    ASSERT_TRUE(main->setHistStatROI(100, 100, 35, 28));
    ASSERT_TRUE(main->setFosROI(100, 50, 200, 100));
    oneShot();
    const std::vector<norva_sim::SimConfigRecord> trace = norva_sim::SimPipelineConfigTrace(id);
    ASSERT_FALSE(trace.empty());
    EXPECT_GE(trace.size(), std::min(before + 1, norva_sim::kConfigTraceDepth));
    const CI_PIPELINE &applied = trace.back().decoded;
    EXPECT_EQ(applied.stats.sHistStats.ui16Left, 83);
    EXPECT_EQ(applied.stats.sHistStats.ui16Top, 86);
    EXPECT_EQ(applied.stats.sFocusStats.ui16ROILeft, 100);
    EXPECT_EQ(applied.stats.sFocusStats.ui16ROITop, 50);
    EXPECT_EQ(applied.stats.sFocusStats.ui16ROIRight, 299);
    EXPECT_EQ(applied.stats.sFocusStats.ui16ROIBottom, 149);
    EXPECT_TRUE(main->stopCapture());
}

TEST_F(ContextSettings, SystemTimeFromTheDriver) {
    const QOR_UINT64 t = main->getSystemTime();
    EXPECT_NE(t, ~static_cast<QOR_UINT64>(0));
}

// Without a camera every setter refuses and every getter gives its default.
TEST(ContextWithoutCamera, SettersRefuseGettersDefault) {
    TestContext c;
    EXPECT_FALSE(c.setBrightness(0.1));
    EXPECT_FALSE(c.setContrast(2.0));
    EXPECT_FALSE(c.setSaturation(2.0));
    EXPECT_FALSE(c.enableBlackWhiteMode(true));
    EXPECT_FALSE(c.setDenoiserLevel(0.5));
    EXPECT_FALSE(c.enableGMA(true));
    EXPECT_FALSE(c.setHistStatROI(0, 0, 10, 10));
    EXPECT_FALSE(c.setFosROI(0, 0, 10, 10));
    EXPECT_EQ(c.getBrightness(), 0.0);
    EXPECT_EQ(c.getContrast(), 1.0);
    EXPECT_EQ(c.getSaturation(), 1.0);
    EXPECT_EQ(c.getDenoiserLevel(), 0.0);
    QOR_UINT64 t = 0;
    const std::string e = norva_test::stderrOf([&] { t = c.getSystemTime(); });
    EXPECT_EQ(t, ~static_cast<QOR_UINT64>(0));
    EXPECT_TRUE(contains(e, "getSystemTime() failed due to pCamera is NULL\n")) << e;
}

} // namespace
