// What every setup module built on the module template must show. A module joins by adding one row
// to kModules: its name, how to make it, its group name and the tags whose current value differs
// from the default right after construction (with the reason).
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "ispc/ModuleAWS.h"
#include "ispc/ModuleBLC.h"
#include "ispc/ModuleCCM.h"
#include "ispc/ModuleDGM.h"
#include "ispc/ModuleDNS.h"
#include "ispc/ModuleDPF.h"
#include "ispc/ModuleDSC.h"
#include "ispc/ModuleENS.h"
#include "ispc/ModuleESC.h"
#include "ispc/ModuleEXS.h"
#include "ispc/ModuleFLD.h"
#include "ispc/ModuleFOS.h"
#include "ispc/ModuleGMA.h"
#include "ispc/ModuleHDR.h"
#include "ispc/ModuleHIS.h"
#include "ispc/ModuleIIF.h"
#include "ispc/ModuleLCA.h"
#include "ispc/ModuleMIE.h"
#include "ispc/ModuleLSH.h"
#include "ispc/ModuleMGM.h"
#include "ispc/ModuleOUT.h"
#include "ispc/ModuleR2Y.h"
#include "ispc/ModuleRLT.h"
#include "ispc/ModuleSHA.h"
#include "ispc/ModuleTNM.h"
#include "ispc/ModuleVIB.h"
#include "ispc/ModuleWBC.h"
#include "ispc/ModuleWBS.h"
#include "ispc/ModuleY2R.h"
#include "ispc/SetupModule.h"
#include "test_modules.h"
#include "support/test_sensor.h"

using namespace ISPC;

namespace {

struct ModuleRow {
    const char *name;
    std::function<std::unique_ptr<SetupModule>()> make;
    const char *group;
    std::set<std::string> exceptions;
};

void PrintTo(const ModuleRow &row, std::ostream *os) { *os << row.name; }

template <class M> std::function<std::unique_ptr<SetupModule>()> maker() {
    return [] { return std::unique_ptr<SetupModule>(new M()); };
}

/*
 * The imager-interface module loads and saves only with a sensor: this one is attached, for the
 * length of each load and save, to a pipeline whose sensor is large enough for every bound of the
 * window to be a reachable corner (8193 pixels: the top-left maximum 8192 lies within it, the
 * bottom-right maximum 8192 is its last pixel).
 */
class ModuleIIFOnSensor : public ModuleIIF {
public:
    QOR_RESULT load(const ParameterList &parameters) override {
        setPipeline(rig().pipeline.get());
        const QOR_RESULT ret = ModuleIIF::load(parameters);
        setPipeline(nullptr);
        return ret;
    }
    using ModuleIIF::save;
    QOR_RESULT save(ParameterList &parameters, SaveType t) const override {
        ModuleIIFOnSensor &self = const_cast<ModuleIIFOnSensor &>(*this);
        self.setPipeline(rig().pipeline.get());
        const QOR_RESULT ret = ModuleIIF::save(parameters, t);
        self.setPipeline(nullptr);
        return ret;
    }

private:
    static norva_test::TestRig &rig() {
        static norva_test::TestRig r(8193, 8193);
        return r;
    }
};

/*
 * The denoise module also saves four comment entries naming the old noise-model tags ("// DNS_ISO_GAIN"
 * and so on); they are no parameters of the module (no range, no group member), so this view of the
 * module leaves them out. The denoise tests check them.
 */
class ModuleDNSParameters : public ModuleDNS {
public:
    using ModuleDNS::save;
    QOR_RESULT save(ParameterList &parameters, SaveType t) const override {
        const QOR_RESULT ret = ModuleDNS::save(parameters, t);
        std::vector<std::string> comments;
        for (const auto &p : parameters) {
            if (p.first.compare(0, 3, "// ") == 0)
                comments.push_back(p.first);
        }
        for (const std::string &tag : comments)
            parameters.removeParameter(tag);
        return ret;
    }
};

/*
 * The sharpening module saves its three denoise tags with the others, but they belong to the denoise
 * module's group of a grouped setup file; this view leaves them out (the sharpening tests check them).
 */
class ModuleSHASharpening : public ModuleSHA {
public:
    using ModuleSHA::save;
    QOR_RESULT save(ParameterList &parameters, SaveType t) const override {
        const QOR_RESULT ret = ModuleSHA::save(parameters, t);
        for (const auto *def : {&SHADN_TAU, &SHADN_SIGMA})
            parameters.removeParameter(def->name);
        parameters.removeParameter(SHA_DENOISE_BYPASS.name);
        return ret;
    }
};

std::set<std::string> mieSlotTags() {
    std::set<std::string> tags = {"MIE_MEMORY_COLOURS"};
    for (int j = 0; j < 3; j++) {
        for (const char *t :
             {"MIE_ENABLED", "MIE_YMIN", "MIE_YMAX", "MIE_CCENTER", "MIE_YGAINS", "MIE_CEXTENT", "MIE_CASPECT",
              "MIE_CROTATION", "MIE_OUT_BRIGHTNESS", "MIE_OUT_CONTRAST", "MIE_OUT_SATURATION", "MIE_OUT_HUE"})
            tags.insert(std::string(t) + "_" + std::to_string(j));
    }
    return tags;
}

const ModuleRow kModules[] = {
    {"ModuleTST", maker<norva_test::ModuleTST>(), "ModuleTST", {}},
    // A ratio below 1 is held as 1, so the value saved differs from the default 0.
    {"ModuleHKS", maker<norva_test::ModuleHKS>(), "ModuleHKS", {"HKS_RATIO"}},
    // No data extraction is held as point "none" (3), whatever point the list named.
    {"ModuleOUT", maker<ModuleOUT>(), "ModuleOUT", {"OUT_DE_POINT"}},
    {"ModuleFOS", maker<ModuleFOS>(), "ModuleFOS", {}},
    {"ModuleBLC", maker<ModuleBLC>(), "ModuleBLC", {}},
    {"ModuleIIF", maker<ModuleIIFOnSensor>(), "ModuleIIF", {}},
    // A point's declared maximum 65536 is held as the 16-bit full scale 65535.
    {"ModuleRLT", maker<ModuleRLT>(), "ModuleRLT", {"RLT_POINTS_0", "RLT_POINTS_1", "RLT_POINTS_2", "RLT_POINTS_3"}},
    {"ModuleDNS", maker<ModuleDNSParameters>(), "ModuleDNS", {}},
    {"ModuleFLD", maker<ModuleFLD>(), "ModuleFLD", {}},
    {"ModuleHIS", maker<ModuleHIS>(), "ModuleHIS", {}},
    {"ModuleEXS", maker<ModuleEXS>(), "ModuleEXS", {}},
    {"ModuleWBS", maker<ModuleWBS>(), "ModuleWBS", {}},
    // No lines are held after construction; the curve defaults are the lines a count reads.
    {"ModuleAWS",
     maker<ModuleAWS>(),
     "ModuleAWS",
     {"AWS_CURVE_X_COEFFS", "AWS_CURVE_Y_COEFFS", "AWS_CURVE_OFFSETS", "AWS_CURVE_BOUNDARIES"}},
    {"ModuleCCM", maker<ModuleCCM>(), "ModuleCCM", {}},
    {"ModuleENS", maker<ModuleENS>(), "ModuleENS", {}},
    // The file name is a placeholder in the defaults and bounds, and empty (no value) as held.
    {"ModuleDPF", maker<ModuleDPF>(), "ModuleDPF", {"DPF_READ_MAP_FILE"}},
    // The centres' declared minimum -4095 reads as 0: the block's centres are unsigned.
    {"ModuleLCA", maker<ModuleLCA>(), "ModuleLCA", {"LCA_RED_CENTER", "LCA_BLUE_CENTER"}},
    {"ModuleR2Y", maker<ModuleR2Y>(), "ModuleR2Y", {}},
    {"ModuleY2R", maker<ModuleY2R>(), "ModuleY2R", {}},
    {"ModuleESC", maker<ModuleESC>(), "ModuleESC", {}},
    {"ModuleGMA", maker<ModuleGMA>(), "ModuleGMA", {}},
    {"ModuleTNM", maker<ModuleTNM>(), "ModuleTNM", {}},
    {"ModuleMGM", maker<ModuleMGM>(), "ModuleMGM", {}},
    {"ModuleDGM", maker<ModuleDGM>(), "ModuleDGM", {}},
    {"ModuleDSC", maker<ModuleDSC>(), "ModuleDSC", {}},
    {"ModuleSHA", maker<ModuleSHASharpening>(), "ModuleSHA", {}},
    {"ModuleVIB", maker<ModuleVIB>(), "ModuleVIB", {}},
    // The bounds never name a merge mode, which the values always do.
    {"ModuleHDR", maker<ModuleHDR>(), "ModuleHDR", {"HDR_MERGE_MODE"}},
    // The values always name three sets, the bounds 0 or 9; a minimum count of 0 reads no set, so the
    // slots keep their defaults (the enhancer tests reload the maxima into the slots).
    {"ModuleMIE", maker<ModuleMIE>(), "ModuleMIE", mieSlotTags()},
    {"ModuleWBC", maker<ModuleWBC>(), "ModuleWBC", {}},
    {"ModuleLSH", maker<ModuleLSH>(), "ModuleLSH", {}},
};

ParameterList saved(const SetupModule &m, ModuleBase::SaveType t) {
    ParameterList l;
    EXPECT_EQ(m.save(l, t), QOR_RES_OK);
    return l;
}

ParameterList without(ParameterList l, const std::set<std::string> &tags) {
    for (const std::string &t : tags)
        l.removeParameter(t);
    return l;
}

class Conformance : public testing::TestWithParam<ModuleRow> {};

} // namespace

TEST_P(Conformance, ConstructsWithItsDefaults) {
    const ModuleRow &row = GetParam();
    std::unique_ptr<SetupModule> m = row.make();
    ASSERT_NE(m, nullptr);
    EXPECT_FALSE(m->isSetup());
    EXPECT_FALSE(m->isUpdateRequested());
    EXPECT_EQ(m->getPipeline(), nullptr);
    const ParameterList val = saved(*m, ModuleBase::SAVE_VAL);
    const ParameterList def = saved(*m, ModuleBase::SAVE_DEF);
    for (const std::string &t : row.exceptions) {
        EXPECT_TRUE(def.exists(t)) << "stale exception " << t;
    }
    EXPECT_EQ(without(val, row.exceptions), without(def, row.exceptions));
    for (const auto &p : def) {
        EXPECT_FALSE(p.second.getInfo().empty()) << p.first << " has no range comment";
    }
}

TEST_P(Conformance, BoundsReloadToThemselves) {
    const ModuleRow &row = GetParam();
    for (ModuleBase::SaveType bound : {ModuleBase::SAVE_MIN, ModuleBase::SAVE_MAX}) {
        const ParameterList limits = saved(*row.make(), bound);
        std::unique_ptr<SetupModule> m = row.make();
        ASSERT_EQ(m->load(limits), QOR_RES_OK);
        EXPECT_EQ(without(saved(*m, ModuleBase::SAVE_VAL), row.exceptions), without(limits, row.exceptions))
            << (bound == ModuleBase::SAVE_MIN ? "minimum" : "maximum");
    }
}

TEST_P(Conformance, SaveLoadSaveIsAFixedPoint) {
    const ModuleRow &row = GetParam();
    for (ModuleBase::SaveType start : {ModuleBase::SAVE_DEF, ModuleBase::SAVE_MIN, ModuleBase::SAVE_MAX}) {
        std::unique_ptr<SetupModule> first = row.make();
        first->load(saved(*row.make(), start));
        const ParameterList once = saved(*first, ModuleBase::SAVE_VAL);
        std::unique_ptr<SetupModule> second = row.make();
        ASSERT_EQ(second->load(once), QOR_RES_OK);
        EXPECT_EQ(saved(*second, ModuleBase::SAVE_VAL), once) << "from save kind " << start;
    }
}

TEST_P(Conformance, GroupIsAddedOnceAndListsEverySavedTag) {
    const ModuleRow &row = GetParam();
    std::unique_ptr<SetupModule> m = row.make();
    ParameterList l;
    m->save(l, ModuleBase::SAVE_DEF);
    m->save(l, ModuleBase::SAVE_VAL);
    EXPECT_EQ(std::distance(l.groupsBegin(), l.groupsEnd()), 1);
    ASSERT_TRUE(l.hasGroup(row.group));
    const ParameterGroup g = l.getGroup(row.group);
    EXPECT_FALSE(g.header.empty());
    for (const auto &p : l) {
        EXPECT_EQ(g.parameters.count(p.first), 1u) << p.first << " missing from the group";
        EXPECT_TRUE(p.second.getInfo().empty()) << p.first << ": the second save replaces the first";
    }
}

TEST_P(Conformance, UnknownSaveKindAddsOnlyTheGroup) {
    const ModuleRow &row = GetParam();
    ParameterList l;
    EXPECT_EQ(row.make()->save(l, static_cast<ModuleBase::SaveType>(7)), QOR_RES_OK);
    EXPECT_EQ(l.size(), 0u);
    EXPECT_TRUE(l.hasGroup(row.group));
}

TEST_P(Conformance, SetupWithoutPipelineFails) {
    const ModuleRow &row = GetParam();
    std::unique_ptr<SetupModule> m = row.make();
    testing::internal::CaptureStderr();
    EXPECT_EQ(m->setup(), QOR_RES_UNAVAILABLE);
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_NE(log.find(std::string("[") + m->getLoggingName() + "]"), std::string::npos) << log;
    EXPECT_NE(log.find("pipeline not set!\n"), std::string::npos) << log;
    EXPECT_FALSE(m->isSetup());
}

INSTANTIATE_TEST_SUITE_P(SetupModules, Conformance, testing::ValuesIn(kModules),
                         [](const testing::TestParamInfo<ModuleRow> &info) { return std::string(info.param.name); });
