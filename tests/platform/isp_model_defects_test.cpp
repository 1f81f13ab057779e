#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <ostream>
#include <set>
#include <utility>
#include <vector>

#include "platform/sim_isp.h"
#include "platform/sim_isp_model.h"

namespace L = norva_sim::stats_layout;

namespace {

uint32_t rd32(const uint8_t *p, size_t o) {
    return p[o] | (p[o + 1] << 8) | (p[o + 2] << 16) | (uint32_t(p[o + 3]) << 24);
}

constexpr uint32_t kW = 64, kH = 48;
constexpr uint16_t kFlat = 400, kHot = 1000, kCold = 20; /* 10-bit codes */

/** 20 defects, hot and cold in turn, far enough apart that no defect is another's same-colour neighbour. */
std::vector<std::pair<uint32_t, uint32_t>> plantedDefects() {
    std::vector<std::pair<uint32_t, uint32_t>> d;
    for (uint32_t i = 0; i < 20; i++) {
        d.emplace_back(3 + (i % 5) * 13 + (i / 5) % 2, 2 + (i / 5) * 11); /* raster order */
    }
    return d;
}

/** A flat 10-bit field with the planted defects, Bayer data extraction after the filters as 8-bit samples. */
struct DefectRig {
    CI_PIPELINE reg{};
    CI_PIPE_INFO info{};
    CI_MODULE_GMA_LUT gamma{};
    norva_sim::IspModel model;
    std::vector<uint16_t> samples;
    std::vector<uint8_t> bayer, stats, map;
    std::vector<uint16_t> readMap;

    DefectRig() : samples(size_t(kW) * kH, kFlat) {
        norva_sim::IspNeutralSettings(kW, kH, &reg, &info);
        gamma = norva_sim::DefaultDescription().sGammaLUT;
        info.config.eDispType.eFmt = BAYER_RGGB_8;
        info.config.eDataExtraction = CI_INOUT_FILTER_LINESTORE;
        reg.config = info.config;
        const auto d = plantedDefects();
        for (size_t i = 0; i < d.size(); i++) {
            samples[d[i].second * kW + d[i].first] = i % 2 == 0 ? kHot : kCold;
        }
        reg.sDefectivePixels.ui8Threshold = 16; /* 64 codes at 10 bits */
    }

    QOR_RESULT run(size_t mapEntries) {
        bayer.assign(size_t(kW) * kH, 0);
        stats.assign(norva_sim::kIspStatsSize, 0xEE);
        map.assign(mapEntries * 8 + 4, 0xCC);
        norva_sim::IspInputFrame in;
        in.samples = samples.data();
        in.width = kW;
        in.height = kH;
        in.bitDepth = 10;
        norva_sim::IspFrameSettings s;
        s.registers = &reg;
        s.info = &info;
        s.gamma = &gamma;
        s.defectMap = readMap.empty() ? nullptr : readMap.data();
        s.defectCount = static_cast<uint32_t>(readMap.size() / 2);
        norva_sim::IspFrameOutputs out;
        out.display.data = bayer.data();
        out.display.size = bayer.size();
        out.display.stride = kW;
        out.statistics = stats.data();
        out.defectOutput = map.data();
        out.defectOutputSize = map.size();
        return model.process(in, s, out);
    }

    /** Window pixels whose extracted value differs from the flat field's. */
    std::set<std::pair<uint32_t, uint32_t>> survivors() const {
        std::set<std::pair<uint32_t, uint32_t>> out;
        const uint8_t flat = bayer[kW / 2 + (kH / 2) * kW];
        for (uint32_t y = 0; y < kH; y++) {
            for (uint32_t x = 0; x < kW; x++) {
                if (bayer[y * kW + x] != flat) {
                    out.emplace(x, y);
                }
            }
        }
        return out;
    }
};

struct DefectCase {
    const char *name;
    uint8_t enable;     /* bits of the detect, write-map and read-map enables */
    size_t readDefects; /* the first planted defects listed in the read map */
    size_t mapEntries;  /* entries the write area holds */
    uint32_t fixed, modifications, dropped;
    size_t survivors;
};

std::ostream &operator<<(std::ostream &os, const DefectCase &c) { return os << c.name; }

class Defects : public ::testing::TestWithParam<DefectCase> {};

TEST_P(Defects, CorrectionMapAndCounters) {
    const DefectCase &c = GetParam();
    DefectRig rig;
    rig.reg.sDefectivePixels.eDPFEnable = c.enable & CI_DPF_DETECT_ENABLED;
    rig.info.dpfConfig.eDPFEnable = c.enable;
    const auto planted = plantedDefects();
    for (size_t i = 0; i < c.readDefects; i++) {
        rig.readMap.push_back(static_cast<uint16_t>(planted[i].first));
        rig.readMap.push_back(static_cast<uint16_t>(planted[i].second));
    }
    ASSERT_EQ(QOR_RES_OK, rig.run(c.mapEntries));

    EXPECT_EQ(c.survivors, rig.survivors().size());
    EXPECT_EQ(c.fixed, rd32(rig.stats.data(), L::kDpfCounters));
    EXPECT_EQ(c.modifications, rd32(rig.stats.data(), L::kDpfCounters + 4));
    EXPECT_EQ(c.dropped, rd32(rig.stats.data(), L::kDpfCounters + 8));

    // the written entries are the first detected pixels in raster order, with their sample and polarity; the
    // rest of the area is zeroed
    const size_t written = c.modifications - c.dropped;
    for (size_t i = 0; i < written; i++) {
        const uint32_t w0 = rd32(rig.map.data(), 8 * i), w1 = rd32(rig.map.data(), 8 * i + 4);
        EXPECT_EQ(planted[i].first, w0 & 0x1FFFu) << i;
        EXPECT_EQ(planted[i].second, (w0 >> 16) & 0x1FFFu) << i;
        const bool hot = i % 2 == 0;
        EXPECT_EQ(hot ? kHot : kCold, w1 & 0xFFFFu) << i;
        EXPECT_EQ(hot, (w1 >> 31) != 0) << i;
        EXPECT_GT((w1 >> 16) & 0xFFu, 0u) << i;
    }
    for (size_t o = 8 * written; o < rig.map.size(); o++) {
        ASSERT_EQ(0, rig.map[o]) << o;
    }
}

constexpr uint8_t kDetect = CI_DPF_DETECT_ENABLED, kWrite = CI_DPF_WRITE_MAP_ENABLED, kRead = CI_DPF_READ_MAP_ENABLED;

INSTANTIATE_TEST_SUITE_P(IspModel, Defects,
                         ::testing::Values(DefectCase{"Off", 0, 0, 32, 0, 0, 0, 20},
                                           DefectCase{"DetectAndWrite", kDetect | kWrite, 0, 32, 20, 20, 0, 0},
                                           DefectCase{"DetectWithoutWrite", kDetect, 0, 32, 20, 0, 0, 0},
                                           DefectCase{"ReadMapOnly", kRead, 5, 32, 5, 0, 0, 15},
                                           DefectCase{"ReadMapAndDetectCountOnce", kDetect | kWrite | kRead, 5, 32, 20,
                                                      20, 0, 0},
                                           DefectCase{"AreaOverflowDropped", kDetect | kWrite, 0, 8, 20, 20, 12, 0},
                                           DefectCase{"NoArea", kDetect | kWrite, 0, 0, 20, 20, 20, 0}),
                         [](const ::testing::TestParamInfo<DefectCase> &i) { return std::string(i.param.name); });

TEST(IspModelDefects, FlatFieldWithoutDefectsDetectsNothing) {
    DefectRig rig;
    std::fill(rig.samples.begin(), rig.samples.end(), kFlat);
    rig.reg.sDefectivePixels.eDPFEnable = CI_DPF_DETECT_ENABLED;
    rig.reg.sDefectivePixels.ui8Threshold = 0;
    rig.info.dpfConfig.eDPFEnable = CI_DPF_DETECT_ENABLED | CI_DPF_WRITE_MAP_ENABLED;
    ASSERT_EQ(QOR_RES_OK, rig.run(4));
    EXPECT_EQ(0u, rd32(rig.stats.data(), L::kDpfCounters));
    EXPECT_EQ(0u, rd32(rig.stats.data(), L::kDpfCounters + 4));
}

} // namespace
