// Module framework: identifier names, the base interfaces, flags, and the pipeline list of controls.
#include <gtest/gtest.h>

#include <sstream>

#include "ispc/ControlModule.h"
#include "ispc/SetupModule.h"

using namespace ISPC;

namespace {

// Pipelines are only ever handled through pointers here; any distinct addresses stand for them.
struct OpaquePipelines {
    char storage[4] = {};
    Pipeline *operator[](int i) { return reinterpret_cast<Pipeline *>(&storage[i]); }
};

class ProbeSetup : public SetupModuleBase<STP_HIS> {
public:
    ProbeSetup() : SetupModuleBase<STP_HIS>("ISPC_MOD_PROBE") {}
    QOR_RESULT load(const ParameterList &) override { return QOR_RES_OK; }
    QOR_RESULT save(ParameterList &, SaveType) const override { return QOR_RES_OK; }
    using ModuleBase::save;
    QOR_RESULT setup() override {
        setupFlag = true;
        return QOR_RES_OK;
    }
};

class ProbeControl : public ControlModuleBase<CTRL_AE> {
public:
    ProbeControl() : ControlModuleBase<CTRL_AE>("ISPC_CTRL_AE") {}
    QOR_RESULT load(const ParameterList &) override { return QOR_RES_OK; }
    QOR_RESULT save(ParameterList &, SaveType) const override { return QOR_RES_OK; }
    using ModuleBase::save;
    QOR_RESULT update(const Metadata &) override { return QOR_RES_OK; }
    QOR_RESULT configureStatistics() override { return QOR_RES_OK; }
    bool hasConverged() const override { return true; }

protected:
    QOR_RESULT programCorrection() override { return QOR_RES_OK; }
};

} // namespace

TEST(ModuleNames, EveryIdentifierAndTheUnknownOnes) {
    const char *const setupNames[] = {
        "STP_IIF", "STP_EXS", "STP_BLC", "STP_RLT", "STP_LSH", "STP_WBC", "STP_FOS", "STP_DNS", "STP_DPF", "STP_ENS",
        "STP_LCA", "STP_CCM", "STP_MGM", "STP_GMA", "STP_WBS", "STP_AWS", "STP_HIS", "STP_R2Y", "STP_MIE", "STP_VIB",
        "STP_TNM", "STP_FLD", "STP_SHA", "STP_ESC", "STP_DSC", "STP_Y2R", "STP_DGM", "STP_HDR", "STP_OUT"};
    for (int i = 0; i <= STP_OUT; i++) {
        EXPECT_STREQ(ModuleBase::setupIDName(static_cast<SetupID>(i)), setupNames[i]);
    }
    EXPECT_EQ(STP_OUT, 28);
    EXPECT_STREQ(ModuleBase::setupIDName(static_cast<SetupID>(29)), "unkown-setupID");
    EXPECT_STREQ(ModuleBase::setupIDName(static_cast<SetupID>(-1)), "unkown-setupID");

    const char *const controlNames[] = {"CTRL_AWB", "CTRL_AE",  "CTRL_AF",   "CTRL_TNM", "CTRL_DNS",
                                        "CTRL_LBC", "CTRL_LSH", "CTRL_AUX1", "CTRL_AUX2"};
    for (int i = 0; i <= CTRL_AUX2; i++) {
        EXPECT_STREQ(ModuleBase::controlIDName(static_cast<ControlID>(i)), controlNames[i]);
    }
    EXPECT_STREQ(ModuleBase::controlIDName(static_cast<ControlID>(9)), "unkown-controlID");
}

TEST(SetupModuleBase, IdentifierDefaultsAndFlags) {
    ProbeSetup m;
    EXPECT_EQ(m.getModuleID(), STP_HIS);
    EXPECT_EQ(m.getPipeline(), nullptr);
    EXPECT_EQ(m.getPriority(), NORMAL);
    EXPECT_EQ(m.getUpdateBasis(), REQUEST);
    EXPECT_FALSE(m.isSetup());
    EXPECT_FALSE(m.isUpdateRequested());
    EXPECT_STREQ(m.getLoggingName(), "ISPC_MOD_PROBE");

    m.setup();
    m.requestUpdate();
    EXPECT_TRUE(m.isSetup());
    EXPECT_TRUE(m.isUpdateRequested());
    m.clearFlags();
    EXPECT_FALSE(m.isSetup());
    EXPECT_FALSE(m.isUpdateRequested());

    m.setPriority(HIGH);
    EXPECT_EQ(m.getPriority(), HIGH);

    std::ostringstream os;
    os << m;
    EXPECT_EQ(os.str(), "  ISPC_MOD_PROBE:\n");
}

TEST(ControlModuleBase, DefaultsAndState) {
    ProbeControl c;
    EXPECT_EQ(c.getModuleID(), CTRL_AE);
    EXPECT_TRUE(c.isEnabled());
    EXPECT_EQ(c.getUpdateType(), UPDATE_SHOT);
    EXPECT_EQ(c.getPipelineOwner(), nullptr);
    EXPECT_TRUE(c.getPipelines().empty());
    EXPECT_EQ(c.setUpdateType(UPDATE_REQUEST), QOR_RES_OK);
    EXPECT_EQ(c.getUpdateType(), UPDATE_REQUEST);

    c.enableControl(false);
    std::ostringstream os;
    os << c;
    EXPECT_EQ(os.str(), "  ISPC_CTRL_AE:\n    config:\n      enabled = 0\n");
}

TEST(ControlModuleBase, PipelineListOperations) {
    OpaquePipelines p;
    ProbeControl c;
    enum Op { ADD, REMOVE, OWNER };
    const struct {
        Op op;
        int pipe; // -1: null
        QOR_RESULT expected;
        int ownerAfter; // -1: none
        size_t sizeAfter;
    } steps[] = {
        {ADD, -1, QOR_RES_INVALID_PARAM, -1, 0},
        {ADD, 0, QOR_RES_OK, -1, 1},
        {ADD, 0, QOR_RES_ALREADY, -1, 1},
        {ADD, 1, QOR_RES_OK, -1, 2},
        {OWNER, 2, QOR_RES_INVALID_PARAM, -1, 2},
        {OWNER, 1, QOR_RES_OK, 1, 2},
        {OWNER, 2, QOR_RES_INVALID_PARAM, 1, 2},
        {REMOVE, 1, QOR_RES_NOT_SUPPORTED, 1, 2},
        {REMOVE, 2, QOR_RES_NOT_INITIALISED, 1, 2},
        {ADD, 2, QOR_RES_OK, 1, 3},
        {REMOVE, 0, QOR_RES_OK, 1, 2},
        {REMOVE, 0, QOR_RES_NOT_INITIALISED, 1, 2},
        {OWNER, -1, QOR_RES_OK, -1, 2},
        {REMOVE, 1, QOR_RES_OK, -1, 1},
        {OWNER, 2, QOR_RES_OK, 2, 1},
    };
    for (size_t i = 0; i < sizeof(steps) / sizeof(steps[0]); i++) {
        Pipeline *pipe = steps[i].pipe < 0 ? nullptr : p[steps[i].pipe];
        QOR_RESULT r = QOR_RES_FAILED;
        switch (steps[i].op) {
        case ADD:
            r = c.addPipeline(pipe);
            break;
        case REMOVE:
            r = c.removePipeline(pipe);
            break;
        case OWNER:
            r = c.setPipelineOwner(pipe);
            break;
        }
        EXPECT_EQ(r, steps[i].expected) << "step " << i;
        EXPECT_EQ(c.getPipelineOwner(), steps[i].ownerAfter < 0 ? nullptr : p[steps[i].ownerAfter]) << "step " << i;
        EXPECT_EQ(c.getPipelines().size(), steps[i].sizeAfter) << "step " << i;
    }
    EXPECT_TRUE(c.hasPipeline(p[2]));
    EXPECT_FALSE(c.hasPipeline(p[0]));

    c.clearPipelines();
    EXPECT_TRUE(c.getPipelines().empty());
    EXPECT_EQ(c.getPipelineOwner(), nullptr);
    EXPECT_EQ(c.addPipeline(p[0]), QOR_RES_OK);
}

TEST(ControlModuleBase, ListKeepsTheOrderOfAdding) {
    OpaquePipelines p;
    ProbeControl c;
    c.addPipeline(p[2]);
    c.addPipeline(p[0]);
    c.addPipeline(p[1]);
    EXPECT_EQ(c.getPipelines(), (std::list<Pipeline *>{p[2], p[0], p[1]}));
    EXPECT_EQ(c.getPipelineOwner(), nullptr);
}
