// The pipeline's module registry: ownership, and the orders in which it loads and sets up its
// modules; the geometry summary it gives the modules.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ispc/ModuleBLC.h"
#include "ispc/ModuleOUT.h"
#include "ispc/Pipeline.h"
#include "support/test_sensor.h"
#include "support/output_capture.h"

using norva_test::contains;
using norva_test::stderrOf;

using namespace ISPC;
using norva_test::TestRig;

namespace {

/** What the recording modules did, in order: "setup 28", "load 0", "delete 6"... */
std::vector<std::string> gCalls;

/** A setup module of any identifier that records its calls and fails when told to. */
class Recorder : public SetupModule {
public:
    Recorder(SetupID id, modulePriority prio = NORMAL) : SetupModule("TEST_REC", prio), id(id) {}
    ~Recorder() override { gCalls.push_back("delete " + std::to_string(id)); }
    SetupID getModuleID() const override { return id; }
    QOR_RESULT load(const ParameterList &) override { return record("load", loadResult); }
    QOR_RESULT save(ParameterList &, SaveType) const override {
        return const_cast<Recorder *>(this)->record("save", saveResult);
    }
    QOR_RESULT setup() override {
        const QOR_RESULT ret = record("setup", setupResult);
        if (ret == QOR_RES_OK)
            setupFlag = true;
        return ret;
    }
    QOR_RESULT record(const char *what, QOR_RESULT ret) {
        gCalls.push_back(std::string(what) + " " + std::to_string(id));
        return ret;
    }

    SetupID id;
    QOR_RESULT loadResult = QOR_RES_OK;
    QOR_RESULT saveResult = QOR_RES_OK;
    QOR_RESULT setupResult = QOR_RES_OK;
};

std::vector<std::string> calls(const char *what, std::initializer_list<int> ids) {
    std::vector<std::string> v;
    for (int id : ids)
        v.push_back(std::string(what) + " " + std::to_string(id));
    return v;
}

/** A pipeline holding recorders of the given identifiers, registered in that order. */
class Registry : public testing::Test {
protected:
    void SetUp() override { gCalls.clear(); }
    void add(std::initializer_list<SetupID> ids) {
        for (SetupID id : ids) {
            Recorder *r = new Recorder(id);
            ASSERT_EQ(rig.pipeline->registerModule(r), QOR_RES_OK);
            EXPECT_EQ(r->getPipeline(), rig.pipeline.get());
        }
        gCalls.clear();
    }
    Recorder *rec(SetupID id) { return static_cast<Recorder *>(rig.pipeline->getModule(id)); }

    TestRig rig;
};

} // namespace

TEST_F(Registry, LoadsAndSetsUpInTheirOrders) {
    add({STP_DNS, STP_OUT, STP_FOS, STP_IIF, STP_BLC});
    Pipeline &p = *rig.pipeline;
    const ParameterList l;
    const struct {
        const char *name;
        QOR_RESULT (*run)(Pipeline &, const ParameterList &);
        std::vector<std::string> expected;
    } cases[] = {
        {"reloadAll", [](Pipeline &q, const ParameterList &x) { return q.reloadAll(x); },
         calls("load", {0, 2, 6, 7, 28})},
        {"reloadAllGlobals", [](Pipeline &q, const ParameterList &x) { return q.reloadAllGlobals(x); },
         calls("load", {28, 0})},
        {"reloadAllModules", [](Pipeline &q, const ParameterList &x) { return q.reloadAllModules(x); },
         calls("load", {2, 6, 7})},
        {"setupAll", [](Pipeline &q, const ParameterList &) { return q.setupAll(); }, calls("setup", {28, 0, 2, 6, 7})},
        {"setupAllGlobals", [](Pipeline &q, const ParameterList &) { return q.setupAllGlobals(); },
         calls("setup", {28, 0})},
        {"setupByPriority(LOW)", [](Pipeline &q, const ParameterList &) { return q.setupByPriority(LOW); },
         calls("setup", {0, 2, 6, 7, 28})},
        {"saveAll",
         [](Pipeline &q, const ParameterList &) {
             ParameterList out;
             return q.saveAll(out, ModuleBase::SAVE_VAL);
         },
         calls("save", {0, 2, 6, 7, 28})},
    };
    for (const auto &c : cases) {
        gCalls.clear();
        EXPECT_EQ(c.run(p, l), QOR_RES_OK) << c.name;
        EXPECT_EQ(gCalls, c.expected) << c.name;
    }
}

TEST_F(Registry, FirstFailureStopsTheOrder) {
    add({STP_OUT, STP_IIF, STP_BLC, STP_FOS, STP_DNS});
    Pipeline &p = *rig.pipeline;
    rec(STP_FOS)->setupResult = QOR_RES_NOT_SUPPORTED;
    rec(STP_BLC)->loadResult = QOR_RES_INVALID_PARAM;
    std::string log = stderrOf([&] { EXPECT_EQ(p.setupAll(), QOR_RES_NOT_SUPPORTED); });
    EXPECT_EQ(gCalls, calls("setup", {28, 0, 2, 6}));
    EXPECT_TRUE(contains(log, "Error configuring module: 6=")) << log;
    EXPECT_TRUE(contains(log, "Failed to setup modules\n")) << log;

    gCalls.clear();
    log = stderrOf([&] { EXPECT_EQ(p.reloadAll(ParameterList()), QOR_RES_INVALID_PARAM); });
    EXPECT_EQ(gCalls, calls("load", {0, 2}));
    EXPECT_TRUE(contains(log, "Failed to load module: 2\n")) << log;

    rec(STP_OUT)->saveResult = QOR_RES_FAILED;
    ParameterList out;
    log = stderrOf([&] { EXPECT_EQ(p.saveAll(out, ModuleBase::SAVE_VAL), QOR_RES_FAILED); });
    EXPECT_TRUE(contains(log, "Failed to save module: 28=")) << log;
}

TEST_F(Registry, SetupAllWithoutTheImagerInterfaceStopsAfterTheOutput) {
    add({STP_OUT, STP_BLC});
    const std::string log = stderrOf([&] { EXPECT_EQ(rig.pipeline->setupAll(), QOR_RES_INVALID_PARAM); });
    EXPECT_EQ(gCalls, calls("setup", {28}));
    EXPECT_TRUE(contains(log, "Module not found: id=0\n")) << log;
    EXPECT_TRUE(contains(log, "Failed to setup global module 1=module0\n")) << log;
    EXPECT_TRUE(contains(log, "Failed to setup global modules\n")) << log;
}

TEST_F(Registry, UnknownIdentifiers) {
    add({STP_OUT});
    Pipeline &p = *rig.pipeline;
    ParameterList l;
    const std::string log = stderrOf([&] {
        EXPECT_EQ(p.reloadModule(STP_CCM, l), QOR_RES_INVALID_PARAM);
        EXPECT_EQ(p.setupModule(STP_CCM), QOR_RES_INVALID_PARAM);
        EXPECT_EQ(p.saveModule(STP_CCM, l, ModuleBase::SAVE_VAL), QOR_RES_INVALID_PARAM);
        EXPECT_EQ(p.registerModule(nullptr), QOR_RES_INVALID_PARAM);
    });
    EXPECT_TRUE(contains(log, "Module not found: id=11\n")) << log;
    EXPECT_TRUE(contains(log, "Given module is NULL\n")) << log;
    EXPECT_EQ(p.getModule(STP_CCM), nullptr);
    EXPECT_TRUE(gCalls.empty());
}

TEST_F(Registry, SecondModuleOfAnIdentifierReplacesTheFirst) {
    add({STP_AWS});
    Recorder *second = new Recorder(STP_AWS);
    const std::string log = stderrOf([&] { EXPECT_EQ(rig.pipeline->registerModule(second), QOR_RES_OK); });
    EXPECT_TRUE(contains(log, "Module with id = 15 was previously registered\n")) << log;
    EXPECT_EQ(gCalls, std::vector<std::string>{"delete 15"});
    EXPECT_EQ(rig.pipeline->getModule(STP_AWS), second);
    EXPECT_EQ(std::distance(rig.pipeline->getModulesStart(), rig.pipeline->getModulesEnd()), 1);
    // Registering the registered object again keeps it.
    gCalls.clear();
    EXPECT_EQ(rig.pipeline->registerModule(second), QOR_RES_OK);
    EXPECT_TRUE(gCalls.empty());
    EXPECT_EQ(rig.pipeline->getModule(STP_AWS), second);
    rig.pipeline->clearModules();
    EXPECT_EQ(gCalls, std::vector<std::string>{"delete 15"});
    EXPECT_EQ(rig.pipeline->getModulesStart(), rig.pipeline->getModulesEnd());
}

TEST_F(Registry, PriorityPendingAndRequestedSetUps) {
    Pipeline &p = *rig.pipeline;
    ASSERT_EQ(p.registerModule(new Recorder(STP_MIE, LOW)), QOR_RES_OK);
    ASSERT_EQ(p.registerModule(new Recorder(STP_BLC, HIGH)), QOR_RES_OK);
    ASSERT_EQ(p.registerModule(new Recorder(STP_TNM, NORMAL)), QOR_RES_OK);
    gCalls.clear();
    EXPECT_EQ(p.setupByPriority(HIGH), QOR_RES_OK);
    EXPECT_EQ(gCalls, calls("setup", {2}));
    gCalls.clear();
    EXPECT_EQ(p.setupPending(), QOR_RES_OK);
    EXPECT_EQ(gCalls, calls("setup", {18, 20}));

    gCalls.clear();
    EXPECT_EQ(p.setupRequested(), QOR_RES_OK);
    EXPECT_TRUE(gCalls.empty());
    rec(STP_TNM)->requestUpdate();
    rec(STP_BLC)->requestUpdate();
    EXPECT_EQ(p.setupRequested(), QOR_RES_OK);
    EXPECT_EQ(gCalls, calls("setup", {2, 20}));
    EXPECT_FALSE(rec(STP_TNM)->isUpdateRequested());
    EXPECT_FALSE(rec(STP_TNM)->isSetup()); // clearFlags clears both
    EXPECT_TRUE(rec(STP_MIE)->isSetup());

    // A failing requested set-up stops there and keeps its request.
    rec(STP_BLC)->setupResult = QOR_RES_FAILED;
    rec(STP_BLC)->requestUpdate();
    rec(STP_TNM)->requestUpdate();
    gCalls.clear();
    const std::string log = stderrOf([&] { EXPECT_EQ(p.setupRequested(), QOR_RES_FAILED); });
    EXPECT_EQ(gCalls, calls("setup", {2}));
    EXPECT_TRUE(rec(STP_BLC)->isUpdateRequested());
    EXPECT_TRUE(contains(log, "Failed to configure module: 2\n")) << log;
}

TEST_F(Registry, DestructionDeletesEveryModule) {
    {
        TestRig other;
        ASSERT_EQ(other.pipeline->registerModule(new Recorder(STP_OUT)), QOR_RES_OK);
        ASSERT_EQ(other.pipeline->registerModule(new Recorder(STP_IIF)), QOR_RES_OK);
    }
    EXPECT_EQ(gCalls, (std::vector<std::string>{"delete 0", "delete 28"}));
}

/* Global setup */

TEST(GlobalSetup, SummaryTable) {
    const struct {
        const char *name;
        bool withOut, withBlc;
        ePxlFormat deType;
        CI_INOUT_POINTS dePoint;
        QOR_RESULT result;
        QOR_UINT32 dispWidth, systemBlack;
        const char *log;
    } cases[] = {
        {"display scaler output", true, true, PXL_NONE, CI_INOUT_NONE, QOR_RES_OK, 1280, 77, ""},
        {"extracted Bayer data", true, true, BAYER_RGGB_10, CI_INOUT_BLACK_LEVEL, QOR_RES_OK, 1920, 77, ""},
        {"no black-level module", true, false, PXL_NONE, CI_INOUT_NONE, QOR_RES_OK, 1280, 64,
         "Pipeline has no registered ModuleBLC\n"},
        {"no output module", false, true, PXL_NONE, CI_INOUT_NONE, QOR_RES_UNAVAILABLE, 0xFFFFFFFF, 64,
         "Pipeline has no registered ModuleOUT!\n"},
    };
    for (const auto &c : cases) {
        TestRig rig(1920, 1080, MOSAIC_GBRG, 0x1F, [](norva_test::TestSensor &s) {
            s.setProgrammedGain(2.5);
            s.uiWellDepth = 6000;
        });
        if (c.withOut) {
            ModuleOUT *out = new ModuleOUT();
            out->dataExtractionType = c.deType;
            out->dataExtractionPoint = c.dePoint;
            rig.pipeline->registerModule(out);
        }
        if (c.withBlc) {
            ModuleBLC *blc = new ModuleBLC();
            blc->ui32SystemBlack = 77;
            rig.pipeline->registerModule(blc);
        }
        rig.mc().sDSC.aOutputSize[0] = 1280;
        rig.mc().sDSC.aOutputSize[1] = 720;
        rig.mc().sESC.aOutputSize[0] = 640;
        QOR_RESULT ret = QOR_RES_FAILED;
        Global_Setup g;
        const std::string log = stderrOf([&] { g = rig.pipeline->getGlobalSetup(&ret); });
        EXPECT_EQ(ret, c.result) << c.name;
        EXPECT_EQ(g.ui32DispWidth, c.dispWidth) << c.name;
        EXPECT_EQ(g.ui32SystemBlack, c.systemBlack) << c.name;
        EXPECT_EQ(g.ui32EncWidth, 640u) << c.name;
        EXPECT_EQ(g.ui32ImageWidth, 1920u) << c.name;
        EXPECT_EQ(g.CFA_WIDTH, 2u);
        EXPECT_EQ(g.fSensor_gain, 2.5);
        EXPECT_EQ(g.eSensor_bayer_format, MOSAIC_GBRG);
        EXPECT_EQ(g.ui32Sensor_well_depth, 6000u);
        if (*c.log == '\0') {
            EXPECT_EQ(log, "") << c.name;
        } else {
            EXPECT_TRUE(contains(log, c.log)) << c.name << log;
        }
    }
}

TEST(GlobalSetup, WithoutSensor) {
    TestRig rig;
    rig.pipeline->setSensor(nullptr);
    QOR_RESULT ret = QOR_RES_OK;
    Global_Setup g;
    const std::string log = stderrOf([&] { g = rig.pipeline->getGlobalSetup(&ret); });
    EXPECT_EQ(ret, QOR_RES_UNAVAILABLE);
    EXPECT_TRUE(contains(log, "Pipeline does not have a sensor!\n")) << log;
    EXPECT_EQ(g.CFA_HEIGHT, 2u);
    EXPECT_EQ(g.ui32FrameBoundX, 0u);
    stderrOf([&] { rig.pipeline->getGlobalSetup(); }); // the result pointer is optional
}
