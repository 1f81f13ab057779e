// The control-module runner: registration, run order by ControlID, enabled flags and update
// modes, and that a failing control never stops the others.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "ispc/Control.h"
#include "ispc/ControlModule.h"
#include "ispc/Pipeline.h"
#include "support/test_sensor.h"
#include "support/output_capture.h"

using norva_test::contains;
using norva_test::stderrOf;

using namespace ISPC;
using norva_test::TestRig;

namespace {

/* The statistics of one shot as the test controls see them: the runner only passes them on. */
struct FakeShot {
    int frame;
};
const Metadata &asMetadata(const FakeShot &shot) { return reinterpret_cast<const Metadata &>(shot); }
const FakeShot &asShot(const Metadata &md) { return reinterpret_cast<const FakeShot &>(md); }

/** "AWB" for CTRL_AWB and so on. */
std::string shortName(ControlID id) { return std::string(ModuleBase::controlIDName(id)).substr(5); }

/** What the test controls did: "update AE 7", "init AWB", "delete AF"... */
std::vector<std::string> gCalls;

/** A control of any identifier that records its calls; it fails its update on every `failEvery`-th frame. */
class TestControl : public ControlModule {
public:
    explicit TestControl(ControlID id, int failEvery = 0) : ControlModule("TEST_CTRL"), id(id), failEvery(failEvery) {}
    ~TestControl() override { note("delete"); }

    ControlID getModuleID() const override { return id; }
    void init() override { note("init"); }
    QOR_RESULT update(const Metadata &md) override {
        const int frame = asShot(md).frame;
        gCalls.push_back(std::string("update ") + shortName(id) + " " + std::to_string(frame));
        return (failEvery > 0 && frame % failEvery == 0) ? QOR_RES_FAILED : QOR_RES_OK;
    }
    QOR_RESULT configureStatistics() override {
        note("statistics");
        return result;
    }
    QOR_RESULT load(const ParameterList &) override {
        note("load");
        return result;
    }
    QOR_RESULT save(ParameterList &, SaveType) const override {
        const_cast<TestControl *>(this)->note("save");
        return result;
    }
    bool hasConverged() const override { return true; }
    std::ostream &printState(std::ostream &os) const override { return os << "state of " << shortName(id); }

    ControlID id;
    int failEvery;
    QOR_RESULT result = QOR_RES_OK;

protected:
    QOR_RESULT programCorrection() override { return QOR_RES_OK; }

private:
    void note(const char *what) { gCalls.push_back(std::string(what) + " " + shortName(id)); }
};

class Runner : public testing::Test {
protected:
    void SetUp() override { gCalls.clear(); }
    TestControl *add(ControlID id, int failEvery = 0) {
        TestControl *c = new TestControl(id, failEvery);
        EXPECT_EQ(control.registerControlModule(c, rig.pipeline.get()), QOR_RES_OK);
        return c;
    }
    std::vector<std::string> updatesOf(std::initializer_list<ControlID> ids, int frame) {
        std::vector<std::string> v;
        for (ControlID id : ids) {
            v.push_back(std::string("update ") + shortName(id) + " " + std::to_string(frame));
        }
        return v;
    }

    TestRig rig;
    Control control;
};

} // namespace

TEST_F(Runner, RunsInIdentifierOrderAndPastAFailingControl) {
    // Registered out of order; the auto exposure fails every tenth frame.
    add(CTRL_AF);
    add(CTRL_AE, 10);
    add(CTRL_AWB);
    gCalls.clear();
    for (int frame = 1; frame <= 100; frame++) {
        const FakeShot shot{frame};
        QOR_RESULT ret = QOR_RES_OK;
        const std::string log = stderrOf([&] { ret = control.runControlModules(UPDATE_SHOT, asMetadata(shot)); });
        ASSERT_EQ(ret, frame % 10 == 0 ? QOR_RES_FAILED : QOR_RES_OK) << frame;
        ASSERT_EQ(gCalls, updatesOf({CTRL_AWB, CTRL_AE, CTRL_AF}, frame)) << frame;
        ASSERT_EQ(contains(log, "Failed to update module with id 1\n"), frame % 10 == 0) << log;
        gCalls.clear();
    }
    const FakeShot empty{0};
    Control none;
    EXPECT_EQ(none.runControlModules(UPDATE_SHOT, asMetadata(empty)), QOR_RES_OK);
}

TEST_F(Runner, EnabledFlagsAndUpdateModes) {
    TestControl *awb = add(CTRL_AWB);
    TestControl *ae = add(CTRL_AE);
    TestControl *tnm = add(CTRL_TNM);
    TestControl *lsh = add(CTRL_LSH, 1); // always fails
    ae->enableControl(false);
    tnm->setUpdateType(UPDATE_REQUEST);
    lsh->enableControl(false);
    const FakeShot shot{5};
    const struct {
        const char *name;
        QOR_RESULT (*run)(Control &, const Metadata &);
        QOR_RESULT result;
        std::vector<std::string> expected;
    } cases[] = {
        {"per shot",
         [](Control &c, const Metadata &md) { return c.runControlModules(UPDATE_SHOT, md); },
         QOR_RES_OK,
         {"update AWB 5"}},
        {"on request",
         [](Control &c, const Metadata &md) { return c.runControlModules(UPDATE_REQUEST, md); },
         QOR_RES_OK,
         {"update TNM 5"}},
        {"every enabled",
         [](Control &c, const Metadata &md) { return c.runControlModules(md); },
         QOR_RES_OK,
         {"update AWB 5", "update TNM 5"}},
        {"one disabled",
         [](Control &c, const Metadata &md) { return c.runControlModule(CTRL_AE, md); },
         QOR_RES_OK,
         {"update AE 5"}},
        {"one failing",
         [](Control &c, const Metadata &md) { return c.runControlModule(CTRL_LSH, md); },
         QOR_RES_FAILED,
         {"update LSH 5"}},
        {"one missing",
         [](Control &c, const Metadata &md) { return c.runControlModule(CTRL_AF, md); },
         QOR_RES_INVALID_PARAM,
         {}},
    };
    for (const auto &c : cases) {
        gCalls.clear();
        stderrOf([&] { EXPECT_EQ(c.run(control, asMetadata(shot)), c.result) << c.name; });
        EXPECT_EQ(gCalls, c.expected) << c.name;
    }
    (void)awb;
    lsh->enableControl(true);
    gCalls.clear();
    const std::string log = stderrOf([&] { EXPECT_EQ(control.runControlModules(asMetadata(shot)), QOR_RES_FAILED); });
    EXPECT_EQ(gCalls, (std::vector<std::string>{"update AWB 5", "update TNM 5", "update LSH 5"}));
    EXPECT_TRUE(contains(log, "Error while updating module with id 6\n")) << log;
}

TEST_F(Runner, RegistrationGivesThePipelineAndReplacesByIdentifier) {
    TestControl *first = add(CTRL_AE);
    EXPECT_EQ(gCalls, std::vector<std::string>{"init AE"});
    EXPECT_EQ(first->getPipelineOwner(), rig.pipeline.get());
    EXPECT_EQ(first->getSensor(), &rig.sensor);

    TestControl *second = new TestControl(CTRL_AE);
    ASSERT_EQ(second->addPipeline(rig.pipeline.get()), QOR_RES_OK); // already has it: kept once
    gCalls.clear();
    const std::string log =
        stderrOf([&] { EXPECT_EQ(control.registerControlModule(second, rig.pipeline.get()), QOR_RES_OK); });
    EXPECT_TRUE(contains(log, "Module with id = 1 was previously registered\n")) << log;
    EXPECT_EQ(gCalls, (std::vector<std::string>{"delete AE", "init AE"}));
    EXPECT_EQ(control.getControlModule(CTRL_AE), second);
    EXPECT_EQ(second->getPipelines().size(), 1u);
    EXPECT_EQ(second->getPipelineOwner(), rig.pipeline.get());
    // Registering the registered object again keeps it.
    gCalls.clear();
    EXPECT_EQ(control.registerControlModule(second, rig.pipeline.get()), QOR_RES_OK);
    EXPECT_TRUE(gCalls.empty());
    EXPECT_EQ(control.getControlModule(CTRL_AE), second);

    const std::string nullLog =
        stderrOf([&] { EXPECT_EQ(control.registerControlModule(nullptr, rig.pipeline.get()), QOR_RES_FAILED); });
    EXPECT_TRUE(contains(nullLog, "NULL module provided")) << nullLog;
    EXPECT_EQ(control.getControlModule(CTRL_AF), nullptr);

    TestControl alone(CTRL_AUX1);
    EXPECT_EQ(alone.getSensor(), nullptr);
}

TEST_F(Runner, LoadSaveAndStatisticsVisitEveryControl) {
    add(CTRL_AWB)->result = QOR_RES_INVALID_PARAM;
    add(CTRL_AE);
    add(CTRL_AF)->enableControl(false);
    const struct {
        const char *name;
        QOR_RESULT (*run)(Control &);
        const char *what;
        const char *message;
    } cases[] = {
        {"load", [](Control &c) { return c.loadAll(ParameterList()); }, "load", "Failed to load module with id 0\n"},
        {"save",
         [](Control &c) {
             ParameterList l;
             return c.saveAll(l, ModuleBase::SAVE_VAL);
         },
         "save", "Failed to save module with id 0\n"},
        {"statistics", [](Control &c) { return c.configureStatistics(); }, "statistics",
         "Failed to configure the statistics for module withid 0\n"},
    };
    for (const auto &c : cases) {
        gCalls.clear();
        QOR_RESULT ret = QOR_RES_OK;
        const std::string log = stderrOf([&] { ret = c.run(control); });
        EXPECT_EQ(ret, QOR_RES_FAILED) << c.name;
        const std::string w = c.what;
        EXPECT_EQ(gCalls, (std::vector<std::string>{w + " AWB", w + " AE", w + " AF"})) << c.name;
        EXPECT_TRUE(contains(log, c.message)) << c.name << log;
    }
    ParameterList l;
    stderrOf([&] {
        EXPECT_EQ(control.loadControlModule(CTRL_AE, l), QOR_RES_OK);
        EXPECT_EQ(control.loadControlModule(CTRL_AWB, l), QOR_RES_INVALID_PARAM);
        EXPECT_EQ(control.loadControlModule(CTRL_DNS, l), QOR_RES_INVALID_PARAM);
        EXPECT_EQ(control.saveControlModule(CTRL_DNS, l, ModuleBase::SAVE_VAL), QOR_RES_FAILED);
        EXPECT_EQ(control.saveControlModule(CTRL_AE, l, ModuleBase::SAVE_VAL), QOR_RES_OK);
    });
}

TEST_F(Runner, PipelinesForEveryControl) {
    for (ControlID id : {CTRL_AWB, CTRL_AE, CTRL_AF, CTRL_TNM, CTRL_DNS})
        add(id);
    TestRig second;
    control.getControlModule(CTRL_AE)->addPipeline(second.pipeline.get());
    control.getControlModule(CTRL_DNS)->addPipeline(second.pipeline.get());
    std::string log = stderrOf([&] { EXPECT_EQ(control.addPipelineToAll(second.pipeline.get()), QOR_RES_FAILED); });
    EXPECT_TRUE(contains(log, "Failed to add pipeline to 2 modules\n")) << log;
    for (ControlID id : {CTRL_AWB, CTRL_AE, CTRL_AF, CTRL_TNM, CTRL_DNS}) {
        EXPECT_TRUE(control.getControlModule(id)->hasPipeline(second.pipeline.get()));
        EXPECT_EQ(control.getControlModule(id)->getPipelines().size(), 2u);
    }
    EXPECT_EQ(control.setPipelineOwnerToAll(second.pipeline.get()), QOR_RES_OK);
    EXPECT_EQ(control.getControlModule(CTRL_AF)->getSensor(), &second.sensor);

    TestRig third;
    log = stderrOf([&] { EXPECT_EQ(control.setPipelineOwnerToAll(third.pipeline.get()), QOR_RES_FAILED); });
    EXPECT_TRUE(contains(log, "Failed to set pipeline owner to 5 modules\n")) << log;
    EXPECT_EQ(control.addPipelineToAll(third.pipeline.get()), QOR_RES_OK);
    // The controls must not keep pipelines that go before them.
    control.clearModules();
}

TEST_F(Runner, StateDumpAndDestruction) {
    add(CTRL_LSH);
    add(CTRL_AWB);
    std::ostringstream os;
    control.printAllState(os);
    EXPECT_EQ(os.str(), "Controls:\nstate of AWB\nstate of LSH\n");
    gCalls.clear();
    {
        Control scoped;
        scoped.registerControlModule(new TestControl(CTRL_AUX2), rig.pipeline.get());
        gCalls.clear();
    }
    EXPECT_EQ(gCalls, std::vector<std::string>{"delete AUX2"});
    EXPECT_EQ(control.clearModules(), QOR_RES_OK);
    EXPECT_EQ(gCalls, (std::vector<std::string>{"delete AUX2", "delete AWB", "delete LSH"}));
    EXPECT_EQ(control.getControlModule(CTRL_AWB), nullptr);
}
