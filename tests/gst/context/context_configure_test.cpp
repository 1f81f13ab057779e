// Configuring capture contexts: setup files joined and overridden, cameras by sensor name, the data generator's
// extras, refusals, and a slave context on the main context's input.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "context_fixture.h"
#include "ispc/DGCamera.h"
#include "ispc/ModuleBLC.h"
#include "ispc/ModuleOUT.h"
#include "platform/sim_sensor.h"
#include "sensors/iifdatagen.h"
#include "support/board_fixture.h"

using namespace ISPC;
using norva_test::contains;
using norva_test::logOf;

namespace {

using ContextConfigure = norva_test::ContextTest;

TEST_F(ContextConfigure, TwoSetupFilesLaterTagWinsAndOutputsEndOff) {
    useScene(320, 240);
    const std::string a =
        writeFile("a.txt", "BLC_SYS_BLACK 10\nOUT_ENC NV12\nOUT_DISP RGB888_24\nBLC_SENSOR_BLACK 4 4 4 4\n");
    const std::string b = writeFile("b.txt", "BLC_SYS_BLACK 20\nOUT_DE BAYER_RGGB_10\n");
    setupFiles(0, a + ":" + b);
    ASSERT_TRUE(preconfigureMain()) << log;
    EXPECT_EQ(main->iContext, 0);
    EXPECT_EQ(main->pParam, param.get());
    ASSERT_NE(dynamic_cast<DGCamera *>(main->pCamera), nullptr);
    EXPECT_EQ(main->pCamera->state, Camera::CAM_PROGRAMMED) << "shots added, but no buffer while every output is off";
    EXPECT_TRUE(main->isCameraConfigured());
    EXPECT_FALSE(main->isBuffersAllocated()) << "no output is on after preconfiguration";
    const Pipeline &p = *main->pCamera->getPipeline();
    const ModuleBLC *blc = static_cast<const ModuleBLC *>(p.getModule(STP_BLC));
    EXPECT_EQ(blc->ui32SystemBlack, 20u) << "the later file wins";
    EXPECT_EQ(blc->aSensorBlack[0], 4) << "the earlier file's other tags stay";
    const ModuleOUT *out = static_cast<const ModuleOUT *>(p.getModule(STP_OUT));
    EXPECT_EQ(out->encoderType, PXL_NONE);
    EXPECT_EQ(out->displayType, PXL_NONE);
    EXPECT_EQ(out->dataExtractionType, PXL_NONE);
    EXPECT_TRUE(contains(log, "gasket 0 uses Int. Datagen 0\n")) << log;
    std::list<BufferFormat> formats;
    EXPECT_TRUE(main->getOutputFormats(formats));
    EXPECT_TRUE(formats.empty());
    EXPECT_EQ(main->getMaxImageWidth(), 320u);
    EXPECT_EQ(main->getMaxImageHeight(), 240u);
    EXPECT_TRUE(main->stopCapture()) << "a camera that does not capture stops without complaint";
}

TEST_F(ContextConfigure, SecondConfigurationIsRefused) {
    defaultParams();
    ASSERT_TRUE(preconfigureMain()) << log;
    Camera *first = main->pCamera;
    const std::string e = logOf([&] { EXPECT_FALSE(main->preconfigure(*param, 1)); });
    EXPECT_TRUE(contains(e, "camera already configured for context 0\n")) << e;
    EXPECT_EQ(main->pCamera, first);
    EXPECT_EQ(main->iContext, 0);
}

TEST_F(ContextConfigure, EmptyTokensBetweenColonsAreSkipped) {
    useScene(320, 240);
    const std::string a = writeFile("a.txt", "BLC_SYS_BLACK 12\n");
    setupFiles(0, ":" + a + "::");
    ASSERT_TRUE(preconfigureMain()) << log;
    EXPECT_EQ(static_cast<const ModuleBLC *>(main->pCamera->getPipeline()->getModule(STP_BLC))->ui32SystemBlack, 12u);
}

TEST_F(ContextConfigure, MissingSecondFileFailsAndKeepsTheCamera) {
    useScene(320, 240);
    const std::string a = writeFile("a.txt", "BLC_SYS_BLACK 10\n");
    const std::string missing = dir + "/missing.txt";
    setupFiles(0, a + ":" + missing);
    EXPECT_FALSE(preconfigureMain());
    EXPECT_TRUE(contains(log, "failed to parse parameter file: " + missing + "\n")) << log;
    EXPECT_NE(main->pCamera, nullptr) << "the camera created before stays with the context";
    EXPECT_FALSE(main->isCameraConfigured());
}

struct NameCase {
    const char *name; /**< null: no name at all */
    bool dataGenerator;
};

void PrintTo(const NameCase &c, std::ostream *os) { *os << (c.name != nullptr ? c.name : "(null)"); }

class SensorNames : public norva_test::ContextTest, public testing::WithParamInterface<NameCase> {};

TEST_P(SensorNames, DataGeneratorByPrefix) {
    const NameCase &c = GetParam();
    defaultParams();
    TEST_PARAM::setString(param->sensorName[0], c.name);
    if (c.name != nullptr)
        param->nSensors = 1;
    const bool ok = preconfigureMain();
    EXPECT_EQ(ok, c.dataGenerator) << log;
    if (c.dataGenerator) {
        EXPECT_NE(dynamic_cast<DGCamera *>(main->pCamera), nullptr);
    } else {
        EXPECT_TRUE(contains(log, "failed to create camera with sensor for context 0\n")) << log;
        EXPECT_TRUE(contains(log, "failed to create camera for context 0\n")) << log;
    }
}

INSTANTIATE_TEST_SUITE_P(TestContext, SensorNames,
                         testing::Values(NameCase{nullptr, true}, NameCase{"", true}, NameCase{"DOR", true},
                                         NameCase{"DOR Idazida", true}, NameCase{"DOR Idazida1", false},
                                         NameCase{"DOR X", false}),
                         [](const testing::TestParamInfo<NameCase> &i) {
                             std::string n = i.param.name == nullptr ? "Null" : std::string("N_") + i.param.name;
                             for (char &ch : n)
                                 ch = isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
                             return n + std::to_string(i.index);
                         });

TEST_F(ContextConfigure, FrameCapHeldToTheFile) {
    useScene(320, 240, 5);
    setupFiles(0, writeFile("setup.txt", "\n"));
    param->dgInputFrames[0] = 10;
    param->nBuffers[0] = 2;
    param->dgBlanking[0][0] = 120;
    param->dgBlanking[0][1] = 20;
    ASSERT_TRUE(preconfigureMain()) << log;
    EXPECT_TRUE(contains(log, "forcing IntDG0 maximum loaded frame to 5 as source image does not have more\n")) << log;
    SENSOR_HANDLE h = main->getSensor()->getHandle();
    QOR_UINT32 cap = 0, nBuffers = 0, hb = 0, vb = 0;
    EXPECT_EQ(IIFDG_ExtendedGetFrameCap(h, &cap), QOR_RES_OK);
    EXPECT_EQ(cap, 5u);
    EXPECT_EQ(IIFDG_ExtendedGetNbBuffers(h, &nBuffers), QOR_RES_OK);
    EXPECT_EQ(nBuffers, 2u);
    EXPECT_EQ(IIFDG_ExtendedGetBlanking(h, &hb, &vb), QOR_RES_OK);
    EXPECT_EQ(hb, 120u);
    EXPECT_EQ(vb, 20u);

    // The generator plays the file's five frames, then starts again at the first.
    BufferFormat nv12;
    nv12.format = YUV_420_PL12_8;
    nv12.width = 320;
    nv12.height = 240;
    ASSERT_TRUE(main->configureOutput(nv12, nullptr));
    Camera &c = *main->pCamera;
    ASSERT_EQ(c.startCapture(), QOR_RES_OK);
    std::vector<QOR_UINT32> next;
    for (int i = 0; i < 7; i++) {
        ASSERT_EQ(c.enqueueShot(), QOR_RES_OK);
        Shot shot;
        ASSERT_EQ(c.acquireShot(shot, true), QOR_RES_OK);
        ASSERT_EQ(c.releaseShot(shot), QOR_RES_OK);
        next.push_back(IIFDG_ExtendedGetFrameNO(h));
    }
    EXPECT_EQ(next, (std::vector<QOR_UINT32>{1, 2, 3, 4, 0, 1, 2}));
    EXPECT_TRUE(main->stopCapture());
}

TEST_F(ContextConfigure, FrameCapZeroKeepsTheGeneratorsOwn) {
    useScene(320, 240, 5);
    setupFiles(0, writeFile("setup.txt", "\n"));
    std::unique_ptr<DGCamera> reference;
    QOR_UINT32 own = 0;
    norva_test::stderrOf([&] {
        reference.reset(new DGCamera(0, param->dgInputFile[0], 0, true));
        IIFDG_ExtendedGetFrameCap(reference->getSensor()->getHandle(), &own);
        reference.reset();
    });
    param->dgInputFrames[0] = 0;
    ASSERT_TRUE(preconfigureMain()) << log;
    EXPECT_FALSE(contains(log, "forcing IntDG")) << log;
    QOR_UINT32 cap = 99;
    EXPECT_EQ(IIFDG_ExtendedGetFrameCap(main->getSensor()->getHandle(), &cap), QOR_RES_OK);
    EXPECT_EQ(cap, own);
}

struct RefusalCase {
    const char *name;
    void (*setup)(TEST_PARAM &);
    const char *message;
};

void PrintTo(const RefusalCase &c, std::ostream *os) { *os << c.name; }

class Refusals : public norva_test::ContextTest, public testing::WithParamInterface<RefusalCase> {};

// Each refusal ends the configuration; the context's destruction then gives back everything (SimTest's counters).
TEST_P(Refusals, FailCleanly) {
    defaultParams();
    GetParam().setup(*param);
    EXPECT_FALSE(preconfigureMain());
    EXPECT_TRUE(contains(log, GetParam().message)) << log;
}

INSTANTIATE_TEST_SUITE_P(
    TestContext, Refusals,
    testing::Values(RefusalCase{"NoSetupFile", [](TEST_PARAM &p) { TEST_PARAM::setString(p.setupFiles[0], nullptr); },
                                "Illegal set of parameters for context 0\n"},
                    RefusalCase{"TooManyBuffers", [](TEST_PARAM &p) { p.nBuffers[0] = 100000; },
                                "number of buffers 100000 for context 0 is above the supported 32\n"},
                    RefusalCase{"MissingScene",
                                [](TEST_PARAM &p) { TEST_PARAM::setString(p.dgInputFile[0], "/nonexistent.nrv"); },
                                "failed to create camera with data generator for context 0\n"},
                    RefusalCase{"UnknownSensor",
                                [](TEST_PARAM &p) {
                                    p.nSensors = 1;
                                    TEST_PARAM::setString(p.sensorName[0], "NO_SUCH_SENSOR");
                                },
                                "failed to create camera for context 0\n"},
                    RefusalCase{"MissingSetupFile",
                                [](TEST_PARAM &p) { TEST_PARAM::setString(p.setupFiles[0], "/nonexistent-setup.txt"); },
                                "failed to parse parameter file: /nonexistent-setup.txt\n"}),
    [](const testing::TestParamInfo<RefusalCase> &i) { return std::string(i.param.name); });

TEST_F(ContextConfigure, HardwareWithoutHdrExtractionTurnsItOff) {
    useScene(320, 240);
    setupFiles(0, writeFile("setup.txt", "OUT_DE_HDF BGR101010_32\n"));
    norva_sim::IspDevice().description.sHWInfo.eFunctionalities &= ~static_cast<QOR_UINT32>(CI_INFO_SUPPORTED_HDR_EXT);
    ASSERT_TRUE(preconfigureMain()) << log;
    EXPECT_TRUE(contains(log, "current HW 2.7 does not support HDR extraction - output forced to NONE\n")) << log;
    EXPECT_EQ(static_cast<const ModuleOUT *>(main->pCamera->getPipeline()->getModule(STP_OUT))->hdrExtractionType,
              PXL_NONE);
}

TEST_F(ContextConfigure, SlaveBorrowsTheMainInput) {
    defaultParams();
    setupFiles(1, param->setupFiles[0]);
    param->imager[1] = 0;
    ASSERT_TRUE(preconfigureMain()) << log;
    slave.reset(new TestContext());
    bool ok = false;
    log = logOf([&] { ok = slave->preconfigureSlave(*main); });
    ASSERT_TRUE(ok) << log;
    EXPECT_EQ(slave->iContext, 1);
    ASSERT_NE(dynamic_cast<DGCamera *>(slave->pCamera), nullptr);
    EXPECT_FALSE(slave->pCamera->ownsSensor());
    EXPECT_EQ(slave->getSensor(), main->getSensor());
    EXPECT_TRUE(slave->isCameraConfigured());
    // The slave joins exactly the main context's white-balance, tone-mapping, denoise, light-based and lens-shading
    // controls; exposure and focus stay the main context's own.
    EXPECT_EQ(slave->sharedControls.size(), 5u);
    for (ControlID id : {CTRL_AWB, CTRL_AE, CTRL_AF, CTRL_TNM, CTRL_DNS, CTRL_LBC, CTRL_LSH}) {
        ControlModule *c = main->pCamera->getControlModule(id);
        ASSERT_NE(c, nullptr) << "control " << id;
        const bool shared = id != CTRL_AE && id != CTRL_AF;
        EXPECT_EQ(slave->sharedControls.count(c), shared ? 1u : 0u) << "control " << id;
        EXPECT_EQ(c->hasPipeline(slave->pCamera->getPipeline()), shared) << "control " << id;
    }
    // Destroying the slave first, then the main context, returns every platform counter to zero (TearDown).
}

TEST_F(ContextConfigure, SlaveOnMainContextOne) {
    defaultParams();
    setupFiles(1, param->setupFiles[0]);
    param->imager[1] = 0;
    ASSERT_TRUE(preconfigureMain(1)) << log;
    slave.reset(new TestContext());
    bool ok = false;
    log = logOf([&] { ok = slave->preconfigureSlave(*main); });
    ASSERT_TRUE(ok) << log;
    EXPECT_EQ(slave->iContext, 0);
}

TEST_F(ContextConfigure, SlaveRules) {
    defaultParams();
    slave.reset(new TestContext());
    TestContext unconfigured;
    std::string e = logOf([&] { EXPECT_FALSE(slave->configure(*param, 1, nullptr, &unconfigured)); });
    EXPECT_TRUE(contains(e, "camera not configured for main context -1\n")) << e;

    ASSERT_TRUE(preconfigureMain()) << log;
    slave.reset(new TestContext());
    e = logOf([&] { EXPECT_FALSE(slave->configure(*param, 0, nullptr, main.get())); });
    EXPECT_TRUE(contains(e, "camera already configured for context 0\n")) << e;
    EXPECT_EQ(slave->pCamera, nullptr);

    // A slave on another gasket has its own input, and needs one.
    slave.reset(new TestContext());
    setupFiles(1, param->setupFiles[0]);
    param->imager[1] = 1;
    e = logOf([&] { EXPECT_FALSE(slave->preconfigureSlave(*main)); });
    EXPECT_TRUE(contains(e, "skip context 1 because its attached gasket 1 has no input file\n")) << e;
}

TEST_F(ContextConfigure, ContextWithoutCameraDestroysQuietly) {
    TestContext c;
    EXPECT_EQ(c.getSensor(), nullptr);
    EXPECT_FALSE(c.isCameraConfigured());
    EXPECT_FALSE(c.isBuffersAllocated());
    EXPECT_TRUE(c.stopCapture());
    EXPECT_EQ(c.getMaxImageWidth(), 0u);
    std::list<BufferFormat> formats;
    EXPECT_FALSE(c.getOutputFormats(formats));
    EXPECT_FALSE(c.getSupportedOutputFormats(formats));
}

/** A capture context on the OV4689 of the simulated board, registered under its driver's name. */
class ContextOnSensor : public norva_test::BoardTest {
protected:
    void SetUp() override {
        BoardTest::SetUp();
        WriteBoard(norva_test::BoardWiring{});
        model = norva_sim::AttachOv4689(norva_sim::SensorWiring{});
        char pattern[] = "/tmp/norva-context-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
    }
    void TearDown() override {
        norva_test::stderrOf([&] { context.reset(); });
        model.reset();
        std::system(("rm -rf '" + dir + "'").c_str());
        BoardTest::TearDown();
    }
    std::string dir;
    std::shared_ptr<norva_sim::Ov4689Model> model;
    std::unique_ptr<TestContext> context;
};

TEST_F(ContextOnSensor, RegisteredNameGivesASensorCamera) {
    TEST_PARAM param;
    const std::string setup = dir + "/setup.txt";
    std::ofstream(setup) << "\n";
    TEST_PARAM::setString(param.setupFiles[0], setup.c_str());
    TEST_PARAM::setString(param.sensorName[0], "OV4689_0");
    param.nSensors = 1;
    param.sensorMode[0] = 3;
    param.bNoWrite = true;
    // The generator also claims gasket 0: its extras are not applied to a sensor driver's handle.
    param.gasketUsesIntDG[0] = true;
    param.gasketIntDG[0] = 0;
    context.reset(new TestContext());
    bool ok = false;
    const std::string log = logOf([&] { ok = context->preconfigure(param, 0); });
    ASSERT_TRUE(ok) << log;
    EXPECT_EQ(dynamic_cast<DGCamera *>(context->pCamera), nullptr);
    EXPECT_TRUE(context->pCamera->ownsSensor());
    EXPECT_EQ(context->getMaxImageWidth(), 1344u);
    EXPECT_EQ(context->getMaxImageHeight(), 760u);
    EXPECT_TRUE(contains(log, "gasket 0 uses Int. Datagen but context 0 drives a sensor")) << log;
}

} // namespace

namespace {

/** A control that does nothing, registered on the main camera under its identifier. */
template <ISPC::ControlID ID> class IdleControl : public ISPC::ControlModuleBase<ID> {
public:
    IdleControl() : ISPC::ControlModuleBase<ID>("IDLE") {}
    QOR_RESULT load(const ISPC::ParameterList &) override { return QOR_RES_OK; }
    QOR_RESULT save(ISPC::ParameterList &, ISPC::ModuleBase::SaveType) const override { return QOR_RES_OK; }
    QOR_RESULT update(const ISPC::Metadata &) override { return QOR_RES_OK; }
    QOR_RESULT configureStatistics() override { return QOR_RES_OK; }
    bool hasConverged() const override { return true; }

protected:
    QOR_RESULT programCorrection() override { return QOR_RES_OK; }
};

// A slave joins exactly the white-balance, tone-mapping, denoise, light-based and lens-shading controls of the
// main context, and leaves them when it is destroyed.
TEST_F(ContextConfigure, SlaveJoinsTheSharedControlsAndLeavesThem) {
    defaultParams();
    setupFiles(1, param->setupFiles[0]);
    param->imager[1] = 0;
    ASSERT_TRUE(preconfigureMain()) << log;
    Camera &mainCamera = *main->pCamera;
    ControlModule *controls[] = {new IdleControl<CTRL_AWB>(), new IdleControl<CTRL_AE>(),  new IdleControl<CTRL_AF>(),
                                 new IdleControl<CTRL_TNM>(), new IdleControl<CTRL_DNS>(), new IdleControl<CTRL_LBC>(),
                                 new IdleControl<CTRL_LSH>()};
    for (ControlModule *c : controls)
        ASSERT_EQ(mainCamera.registerControlModule(c), QOR_RES_OK);
    slave.reset(new TestContext());
    bool ok = false;
    log = logOf([&] { ok = slave->preconfigureSlave(*main); });
    ASSERT_TRUE(ok) << log;
    const Pipeline *slavePipeline = slave->pCamera->getPipeline();
    EXPECT_EQ(slave->sharedControls.size(), 5u);
    for (ControlModule *c : controls) {
        const bool shared = c->getModuleID() != CTRL_AE && c->getModuleID() != CTRL_AF;
        EXPECT_EQ(c->hasPipeline(slavePipeline), shared) << "control " << c->getModuleID();
        EXPECT_EQ(slave->sharedControls.count(c), shared ? 1u : 0u);
        EXPECT_TRUE(c->hasPipeline(mainCamera.getPipeline()));
    }
    norva_test::stderrOf([&] { slave.reset(); });
    for (ControlModule *c : controls) {
        EXPECT_EQ(c->getPipelines().size(), 1u) << "control " << c->getModuleID();
        EXPECT_TRUE(c->hasPipeline(mainCamera.getPipeline()));
    }
}

} // namespace
