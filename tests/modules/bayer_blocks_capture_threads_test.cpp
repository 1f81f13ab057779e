// Closed loops of the lateral chromatic aberration, encoder statistics and auto-white-balance statistics modules:
// the module's setup-file text, its setup into the MC block, the conversion and registration, the simulated
// device processing a data-generator frame with its image model, and the pixels or statistics read back from the
// acquired shot.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "ci/ci_datagen.h"
#include "ispc/ModuleAWS.h"
#include "ispc/ModuleENS.h"
#include "ispc/ModuleLCA.h"
#include "module_test_util.h"
#include "platform/sim_capture.h"
#include "platform/sim_isp_model.h"
#include "support/capture_fixture.h"
#include "support/dg_packer.h"

using namespace ISPC;

namespace {

uint32_t word(const void *area, size_t offset) {
    const uint8_t *p = static_cast<const uint8_t *>(area) + offset;
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

/**
 * A capture of 64 × 48 data-generator frames whose MC blocks come from setup modules loaded with `text()` on a
 * sensor of the same size.
 */
class BayerBlocksCapture : public norva_test::CaptureTest {
protected:
    virtual std::string text() const = 0;
    virtual void setUpModules(norva_test::TestRig &rig) = 0;
    virtual void copyBlocks(const MC_PIPELINE &from, MC_PIPELINE &to) = 0;

    void arrange(MC_PIPELINE &mc) override {
        norva_test::TestRig rig(kWidth, kHeight);
        setUpModules(rig);
        copyBlocks(rig.mc(), mc);
    }
    void SetUp() override {
        CaptureTest::SetUp();
        ASSERT_EQ(CI_DatagenCreate(&dg, conn), QOR_RES_OK);
        dg->ui8IIFDGIndex = 0;
        dg->eFormat = CI_DGFMT_MIPI;
        dg->ui8FormatBitdepth = 10;
        dg->ui8Gasket = 0;
        dg->eBayerMosaic = MOSAIC_RGGB;
        stride = dg_packer::stride(CI_DGFMT_MIPI, 10, kWidth);
        ASSERT_EQ(CI_DatagenAllocateFrame(dg, stride * kHeight, nullptr), QOR_RES_OK);
        ASSERT_EQ(CI_DatagenStart(dg), QOR_RES_OK);
        norva_sim::SetCaptureTimeoutMs(500);
        startWith(1, 1, 1);
    }
    void TearDown() override {
        if (shot != nullptr) {
            EXPECT_EQ(CI_PipelineReleaseShot(pipe, shot), QOR_RES_OK);
        }
        if (dg != nullptr) {
            EXPECT_EQ(CI_DatagenDestroy(dg), QOR_RES_OK);
        }
        CaptureTest::TearDown();
    }

    /** Captures one frame of 10-bit RGGB samples into `shot`. */
    void capture(const std::vector<uint16_t> &samples) {
        ASSERT_EQ(CI_PipelineTriggerShoot(pipe), QOR_RES_OK);
        CI_DG_FRAME *frame = CI_DatagenGetAvailableFrame(dg);
        ASSERT_NE(frame, nullptr);
        dg_packer::fill(frame, dg->eFormat, 10, MOSAIC_RGGB, samples.data(), kWidth, kHeight, stride);
        ASSERT_EQ(CI_DatagenInsertFrame(frame), QOR_RES_OK);
        ASSERT_EQ(CI_PipelineAcquireShot(pipe, &shot), QOR_RES_OK);
        EXPECT_EQ(CI_DatagenWaitProcessedFrame(dg, QOR_FALSE), QOR_RES_OK);
    }

    template <class M> M *module(norva_test::TestRig &rig) {
        M *m = norva_test::registered<M>(rig);
        EXPECT_EQ(m->load(norva_test::listOf(text())), QOR_RES_OK);
        EXPECT_EQ(m->setup(), QOR_RES_OK);
        return m;
    }

    CI_DATAGEN *dg = nullptr;
    CI_SHOT *shot = nullptr;
    uint32_t stride = 0;
};

// ---- lateral chromatic aberration: red shifted 2 pixels right, blue 2 pixels left

/** A bright bar with ramps of 6 pixels at x = 20 and 44, red and blue displaced by `shift` pixels. */
std::vector<uint16_t> shiftedBar(double shift) {
    std::vector<uint16_t> s(size_t(64) * 48);
    auto bar = [](double x) {
        return 100.0 + 800.0 * std::min(std::max(std::min(x - 20.0, 44.0 - x) / 6.0 + 0.5, 0.0), 1.0);
    };
    for (uint32_t y = 0; y < 48; y++) {
        for (uint32_t x = 0; x < 64; x++) {
            const double d = (x % 2 == 0 && y % 2 == 0) ? shift : ((x % 2 == 1 && y % 2 == 1) ? -shift : 0.0);
            s[y * 64 + x] = static_cast<uint16_t>(std::lround(bar(x - d)));
        }
    }
    return s;
}

class AberrationLoop : public BayerBlocksCapture {
protected:
    void setUpModules(norva_test::TestRig &rig) override { module<ModuleLCA>(rig); }
    void copyBlocks(const MC_PIPELINE &from, MC_PIPELINE &to) override { to.sLCA = from.sLCA; }

    /** Rising and falling edge of a channel (0 R, 1 G, 2 B) in row 24 of the RGB_888_24 display output. */
    std::pair<double, double> edges(int c) const {
        const uint8_t *row =
            static_cast<const uint8_t *>(shot->pDisplayOutput) + shot->ui32DispOffset + size_t(24) * shot->aDispSize[0];
        std::vector<double> v(kWidth);
        for (uint32_t x = 0; x < kWidth; x++) {
            v[x] = row[3 * x + 2 - c]; /* B, G, R in memory */
        }
        const double mid = (*std::min_element(v.begin(), v.end()) + *std::max_element(v.begin(), v.end())) / 2;
        double rise = -1, fall = -1;
        for (uint32_t x = 0; x + 1 < kWidth; x++) {
            if (rise < 0 && v[x] < mid && v[x + 1] >= mid) {
                rise = x + (mid - v[x]) / (v[x + 1] - v[x]);
            }
            if (v[x] >= mid && v[x + 1] < mid) {
                fall = x + (v[x] - mid) / (v[x] - v[x + 1]);
            }
        }
        return {rise, fall};
    }
    /** Largest distance of a red or blue edge from the green one. */
    double worstOffset() const {
        const auto g = edges(1);
        double worst = 0;
        for (int c : {0, 2}) {
            const auto e = edges(c);
            worst = std::max({worst, std::fabs(e.first - g.first), std::fabs(e.second - g.second)});
        }
        return worst;
    }
};

class AberrationUncorrected : public AberrationLoop {
    std::string text() const override { return ""; }
};

class AberrationCorrected : public AberrationLoop {
    std::string text() const override { return "LCA_REDPOLY_X 2 0 0\nLCA_BLUEPOLY_X -2 0 0\nLCA_RED_CENTER 32 24\n"; }
};

TEST_F(AberrationUncorrected, RedAndBlueEdgesStandOffGreen) {
    capture(shiftedBar(2.0));
    EXPECT_GT(worstOffset(), 1.5);
}

TEST_F(AberrationCorrected, MatchingPolynomialsCutTheOffsetBelowHalfAPixel) {
    capture(shiftedBar(2.0));
    EXPECT_LT(worstOffset(), 0.5);
}

// ---- encoder statistics

class EncoderStatsLoop : public BayerBlocksCapture {
protected:
    std::string text() const override { return "ENS_ENABLE 1\nENS_REGION_NUMLINES 12\nENS_SUBS_FACTOR 2\n"; }
    void setUpModules(norva_test::TestRig &rig) override { module<ModuleENS>(rig); }
    void copyBlocks(const MC_PIPELINE &from, MC_PIPELINE &to) override { to.sENS = from.sENS; }
};

TEST_F(EncoderStatsLoop, RegionsOfTheRoundedLineCountCountCouplesOfTheEncoderOutput) {
    // the module rounds 12 lines up to 16: three regions of the 48 encoder lines; one couple in two measured
    std::vector<uint16_t> samples(size_t(kWidth) * kHeight);
    for (size_t i = 0; i < samples.size(); i++) {
        samples[i] = static_cast<uint16_t>((i * 97) % 1024);
    }
    capture(samples);
    ASSERT_NE(shot->pENSOutput, nullptr);
    ASSERT_EQ(shot->uiENSSize, 3u * 8u);
    const uint8_t *y = static_cast<const uint8_t *>(shot->pEncoderOutput) + shot->aEncOffset[0];
    for (uint32_t r = 0; r < 3; r++) {
        uint32_t bits = 0;
        for (uint32_t row = 16 * r; row < 16 * r + 16; row++) {
            for (uint32_t x = 0; x < kWidth; x += 4) {
                const int d = std::abs(int(y[row * shot->aEncYSize[0] + x]) - int(y[row * shot->aEncYSize[0] + x + 1]));
                bits += d == 0 ? 0u : unsigned(std::floor(std::log2(d))) + 1u;
            }
        }
        EXPECT_EQ(word(shot->pENSOutput, 8 * r), 16u * kWidth / 4) << "region " << r;
        EXPECT_EQ(word(shot->pENSOutput, 8 * r + 4), bits) << "region " << r;
    }
}

// ---- auto-white-balance statistics: quantum-efficiency offsets and the black-body distance

/** Left half grey, right half with red 2^0.5 times green; one tile of 16 × 8 cells over each half. */
std::vector<uint16_t> twoPatches() {
    std::vector<uint16_t> s(size_t(64) * 48, 400);
    for (uint32_t y = 0; y < 48; y += 2) {
        for (uint32_t x = 32; x < 64; x += 2) {
            s[y * 64 + x] = 566;
        }
    }
    return s;
}

class AwsLoop : public BayerBlocksCapture {
protected:
    void setUpModules(norva_test::TestRig &rig) override { module<ModuleAWS>(rig); }
    void copyBlocks(const MC_PIPELINE &from, MC_PIPELINE &to) override {
        to.sAWS = from.sAWS;
        std::memset(to.sBLC.aFixedOffset, 0, sizeof(to.sBLC.aFixedOffset)); /* the ratios of the raw codes */
    }
    uint32_t count(int tx) const { return word(shot->pStatistics, norva_sim::stats_layout::kAwsGrid + 16 * tx + 12); }
    /** One curve line, log2(R/G) = 0.5, the grid over the two halves, dark and clip thresholds open. */
    static std::string common() {
        return "AWS_ENABLED 1\nAWS_TILE_SIZE 32 16\nAWS_R_DARK_THRESH 0\nAWS_G_DARK_THRESH 0\nAWS_B_DARK_THRESH 0\n"
               "AWS_R_CLIP_THRESH 255\nAWS_G_CLIP_THRESH 255\nAWS_B_CLIP_THRESH 255\nAWS_BB_DIST 0.25\n"
               "AWS_CURVES_NUM 1\nAWS_CURVE_X_COEFFS 1\nAWS_CURVE_Y_COEFFS 0\nAWS_CURVE_OFFSETS -0.5\n"
               "AWS_CURVE_BOUNDARIES -16\nAWS_LOG2_B_QEFF 0\n";
    }
};

class AwsWithoutQe : public AwsLoop {
    std::string text() const override { return common() + "AWS_LOG2_R_QEFF 0\n"; }
};

class AwsWithQe : public AwsLoop {
    std::string text() const override { return common() + "AWS_LOG2_R_QEFF 0.5\n"; }
};

class AwsWideDistance : public AwsLoop {
    std::string text() const override { return common() + "AWS_LOG2_R_QEFF 0\nAWS_BB_DIST 4\n"; }
};

TEST_F(AwsWithoutQe, OnlyThePatchOnTheCurveCounts) {
    capture(twoPatches());
    EXPECT_EQ(count(0), 0u);
    EXPECT_EQ(count(1), 16u * 8u);
}

TEST_F(AwsWithQe, TheRedOffsetMovesTheGreyPatchOntoTheCurve) {
    capture(twoPatches());
    EXPECT_EQ(count(0), 16u * 8u);
    EXPECT_EQ(count(1), 0u);
}

TEST_F(AwsWideDistance, BothPatchesCountWithinAWideDistance) {
    capture(twoPatches());
    EXPECT_EQ(count(0), 16u * 8u);
    EXPECT_EQ(count(1), 16u * 8u);
}

} // namespace
