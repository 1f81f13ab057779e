// The tone-mapping control in a data-generator camera: on a constant low-contrast chart the kept curve
// approaches the equalised curve of the reported histograms geometrically, the tone-mapped luma (read back from
// NV12 with numpy) spreads wider than the bypassed luma, and the capture context's settings leave luma as the
// block's own straight curve does.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "chart_segments.h"
#include "ispc/ControlTNM.h"
#include "ispc/DGCamera.h"
#include "ispc/ModuleBLC.h"
#include "ispc/ModuleHIS.h"
#include "ispc/ModuleIIF.h"
#include "ispc/ModuleOUT.h"
#include "ispc/ModuleR2Y.h"
#include "ispc/ModuleRLT.h"
#include "ispc/ModuleTNM.h"
#include "ispc/ParameterFileParser.h"
#include "sensors/iifdatagen.h"
#include "support/output_capture.h"
#include "support/sim_fixture.h"

using namespace ISPC;
using norva_test::stderrOf;

namespace {

constexpr uint32_t kWidth = 640;
constexpr uint32_t kHeight = 480;
const char *const kPython = "/usr/bin/python3";

class ToneLoop : public norva_test::SimTest {
protected:
    void SetUp() override {
        SimTest::SetUp();
        char pattern[] = "/tmp/norva-tone-loop-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
        // A low-contrast chart: every level squeezed into 0.2 to 0.45.
        file = dir + "/flat.nrv";
        ASSERT_TRUE(norva_test::writeChartSegments(file, kWidth, kHeight, {{0.25, 0.2, 2}}));
    }
    void TearDown() override {
        stderrOf([&] { camera.reset(); });
        std::system(("rm -rf '" + dir + "'").c_str());
        SimTest::TearDown();
    }

    /** A capturing camera with NV12 output, the global histogram and the tone-mapping control set by `setup`. */
    ControlTNM &start(const std::string &setup) {
        camera.reset(new DGCamera(0, file, 0, true));
        EXPECT_EQ(IIFDG_ExtendedSetBlanking(camera->getSensor()->getHandle(), 100, 14), QOR_RES_OK);
        for (SetupModule *m : {static_cast<SetupModule *>(new ModuleOUT()), static_cast<SetupModule *>(new ModuleIIF()),
                               static_cast<SetupModule *>(new ModuleBLC()), static_cast<SetupModule *>(new ModuleHIS()),
                               static_cast<SetupModule *>(new ModuleR2Y()), static_cast<SetupModule *>(new ModuleRLT()),
                               static_cast<SetupModule *>(new ModuleTNM())}) {
            EXPECT_EQ(camera->getPipeline()->registerModule(m), QOR_RES_OK);
        }
        camera->state = Camera::CAM_REGISTERED;
        ControlTNM *tnm = new ControlTNM();
        EXPECT_EQ(camera->registerControlModule(tnm), QOR_RES_OK);
        std::istringstream text("OUT_ENC NV12\nBLC_SENSOR_BLACK 0 0 0 0\nHIS_GLOBAL_ENABLE 1\n" + setup);
        ParameterList parameters;
        EXPECT_EQ(ParameterFileParser::parse(text, parameters), QOR_RES_OK);
        EXPECT_EQ(camera->loadParameters(parameters), QOR_RES_OK);
        EXPECT_EQ(camera->programExposure(), QOR_RES_OK);
        EXPECT_EQ(camera->program(), QOR_RES_OK);
        EXPECT_EQ(camera->allocateBufferPool(2), QOR_RES_OK);
        EXPECT_EQ(camera->startCapture(), QOR_RES_OK);
        return *tnm;
    }

    /** One frame through the camera (the controls run on it); its luma plane is kept in `luma`. */
    void frame(Metadata *metadata = nullptr) {
        ASSERT_EQ(camera->enqueueShot(), QOR_RES_OK);
        Shot shot;
        ASSERT_EQ(camera->acquireShot(shot, true), QOR_RES_OK);
        ASSERT_FALSE(shot.bFrameError);
        luma.resize(size_t(kWidth) * kHeight);
        for (uint32_t y = 0; y < kHeight; y++) {
            const uint8_t *row = shot.YUV.firstData() + size_t(y) * shot.YUV.stride;
            std::copy(row, row + kWidth, luma.begin() + size_t(y) * kWidth);
        }
        if (metadata != nullptr)
            *metadata = shot.metadata;
        ASSERT_EQ(camera->releaseShot(shot), QOR_RES_OK);
    }

    /** Writes the luma plane to a file for numpy. */
    std::string saveLuma(const std::string &name) {
        const std::string path = dir + "/" + name + ".y";
        std::FILE *f = std::fopen(path.c_str(), "wb");
        EXPECT_NE(f, nullptr);
        if (f != nullptr) {
            EXPECT_EQ(std::fwrite(luma.data(), 1, luma.size(), f), luma.size());
            std::fclose(f);
        }
        return path;
    }

    std::string dir;
    std::string file;
    std::unique_ptr<DGCamera> camera;
    std::vector<uint8_t> luma;
};

bool numpyAvailable() {
    return access(kPython, X_OK) == 0 &&
           std::system((std::string(kPython) + " -c 'import numpy' 2>/dev/null").c_str()) == 0;
}

/** numpy's answer to a short program that reads the luma files given as arguments. */
std::string numpy(const std::string &program, const std::vector<std::string> &files) {
    std::string cmd = std::string(kPython) + " -c '" + program + "'";
    for (const std::string &f : files)
        cmd += " '" + f + "'";
    FILE *p = popen(cmd.c_str(), "r");
    std::string text;
    if (p == nullptr)
        return text;
    char buf[1024];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof(buf), p)) > 0)
        text.append(buf, n);
    EXPECT_EQ(pclose(p), 0);
    return text;
}

/** The equalised curve of a frame's histogram: one update at full speed from any curve. */
Matrix equalisedCurve(const Metadata &md, double histMin, double histMax, double smoothing, double tempering) {
    Matrix hist(1, 64), curve(1, 65);
    ControlTNM::loadHistogram(md, hist);
    ControlTNM::resetCurve(curve);
    ControlTNM::generateMappingCurve(hist, histMin, histMax, smoothing, tempering, 1.0, curve);
    return curve;
}

double maxDifference(const Matrix &a, const Matrix &b) {
    double d = 0;
    for (int k = 0; k < 65; k++)
        d = std::max(d, std::fabs(a[0][k] - b[0][k]));
    return d;
}

} // namespace

TEST_F(ToneLoop, CurveConvergesGeometricallyAndSpreadsTheLuma) {
    ControlTNM &tnm = start("TNMC_TEMPERING 0\nTNMC_UPDATE_SPEED 0.5\n");
    ASSERT_EQ(camera->getPipeline()->getModule(STP_HIS) != nullptr, true);
    Metadata md;
    double previous = -1;
    double first = 0;
    for (int n = 1; n <= 12; n++) {
        frame(&md);
        // The statistics are taken before the tone mapper: every frame reports the same histogram.
        const Matrix target = equalisedCurve(md, tnm.getHistMin(), tnm.getHistMax(), tnm.getSmoothing(), 0.0);
        const double error = maxDifference(tnm.getMappingCurve(), target);
        if (n == 1) {
            first = error;
            EXPECT_GT(error, 0.02) << "the chart's curve should differ from the identity";
        } else {
            EXPECT_NEAR(error, previous * 0.5, 1e-12) << "frame " << n;
        }
        if (n == 10) {
            EXPECT_LT(error, 1e-3);
        }
        previous = error;
        // What the module holds is the kept curve, points 1 to 63.
        const ModuleTNM &module = *static_cast<const ModuleTNM *>(camera->getPipeline()->getModule(STP_TNM));
        for (unsigned i = 0; i < ModuleTNM::N_CURVE; i++)
            ASSERT_EQ(module.aCurve[i], tnm.getMappingCurve()[0][i + 1]);
    }
    EXPECT_LT(previous, first * std::pow(0.5, 11) + 1e-15);
    const std::string mapped = saveLuma("mapped");
    ASSERT_EQ(camera->stopCapture(), QOR_RES_OK);

    // The same chart with the tone mapper bypassed.
    start("TNMC_TEMPERING 0\nTNM_BYPASS 1\n");
    frame();
    frame();
    const std::string bypassed = saveLuma("bypassed");
    ASSERT_EQ(camera->stopCapture(), QOR_RES_OK);
    if (!numpyAvailable())
        GTEST_SKIP() << kPython << " with numpy is not available";
    std::istringstream spread(numpy("import numpy as np, sys\n"
                                    "for f in sys.argv[1:]:\n"
                                    "    y = np.fromfile(f, dtype=np.uint8).astype(float)\n"
                                    "    print(y.std(), np.percentile(y, 95) - np.percentile(y, 5))\n",
                                    {mapped, bypassed}));
    double stdMapped = 0, rangeMapped = 0, stdBypassed = 0, rangeBypassed = 0;
    ASSERT_TRUE(static_cast<bool>(spread >> stdMapped >> rangeMapped >> stdBypassed >> rangeBypassed));
    EXPECT_GT(stdMapped, 1.3 * stdBypassed) << stdMapped << " " << stdBypassed;
    EXPECT_GT(rangeMapped, rangeBypassed);
}

TEST_F(ToneLoop, CaptureContextSettingsKeepTheLuma) {
    // Equal clip levels at 1, no smoothing, full tempering: the equalised curve is the identity.
    ControlTNM &tnm = start(
        "TNMC_HIST_CLIP_MIN 1\nTNMC_HIST_CLIP_MAX 1\nTNMC_SMOOTHING 0\nTNMC_TEMPERING 1\nTNMC_UPDATE_SPEED 0.5\n");
    for (int n = 0; n < 4; n++)
        frame();
    for (int k = 0; k < 65; k++)
        EXPECT_NEAR(tnm.getMappingCurve()[0][k], k / 64.0, 1e-12);
    std::vector<uint8_t> mapped = luma;
    ASSERT_EQ(camera->stopCapture(), QOR_RES_OK);
    // The reference is the tone mapper left with its own straight curve: the control switched off. (The block's
    // bypass is no reference: it also skips the block's input and output luma ranges.)
    start("").enableControl(false);
    frame();
    frame();
    const std::string straightPath = saveLuma("straight");
    luma.swap(mapped);
    const std::string mappedPath = saveLuma("identity");
    ASSERT_EQ(camera->stopCapture(), QOR_RES_OK);
    if (!numpyAvailable())
        GTEST_SKIP() << kPython << " with numpy is not available";
    const std::string diff = numpy("import numpy as np, sys\n"
                                   "a, b = (np.fromfile(f, dtype=np.uint8).astype(int) for f in sys.argv[1:])\n"
                                   "print(np.abs(a - b).max())\n",
                                   {mappedPath, straightPath});
    EXPECT_LE(std::stoi(diff), 1) << diff;
}
