// The camera factory: the blocks of each hardware revision, the modules it creates for them, and a camera
// populated from the revision the driver reports.
#include <gtest/gtest.h>

#include <algorithm>
#include <list>
#include <memory>
#include <vector>

#include "CameraFactory.h"
#include "context_fixture.h"
#include "ispc/DGCamera.h"
#include "ispc/ControlAWB_PID.h"
#include "ispc/ControlAWB_Planckian.h"
#include "ispc/ModuleIIF.h"
#include "ispc/ModuleWBC.h"
#include "platform/sim_isp.h"

using namespace ISPC;
using norva_test::contains;

namespace {

struct RevisionCase {
    unsigned major;
    unsigned minor;
    size_t blocks;
    bool rawLut;
    bool awbStatistics;
};

void PrintTo(const RevisionCase &c, std::ostream *os) { *os << c.major << "." << c.minor; }

class FactoryRevisions : public testing::TestWithParam<RevisionCase> {};

TEST_P(FactoryRevisions, BlocksOfTheRevision) {
    const RevisionCase &c = GetParam();
    const std::list<SetupID> ids = CameraFactory::setupModuleIDsFromHWVersion(c.major, c.minor);
    ASSERT_EQ(ids.size(), c.blocks);
    EXPECT_EQ(ids.front(), STP_OUT);
    EXPECT_EQ(*std::next(ids.begin()), STP_IIF);
    EXPECT_EQ(std::count(ids.begin(), ids.end(), STP_WBC), 1) << "one white-balance correction module";
    EXPECT_EQ(std::count(ids.begin(), ids.end(), STP_RLT), c.rawLut ? 1 : 0);
    EXPECT_EQ(std::count(ids.begin(), ids.end(), STP_AWS), c.awbStatistics ? 1 : 0);
    std::vector<SetupID> sorted(ids.begin(), ids.end());
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(std::unique(sorted.begin(), sorted.end()), sorted.end()) << "no block twice";

    // The modules created follow the same order, each under its block's identifier.
    const std::list<SetupModule *> modules = CameraFactory::setupModulesFromHWVersion(c.major, c.minor);
    EXPECT_EQ(modules.size(), c.blocks);
    auto id = ids.begin();
    for (SetupModule *m : modules) {
        if (m->getModuleID() == STP_WBC) {
            // the per-channel RGB stage comes with the white-balance statistics, from 2.6
            EXPECT_EQ(dynamic_cast<ModuleWBC2_6 *>(m) != nullptr, c.awbStatistics);
        }
        id = std::find(id, ids.end(), m->getModuleID());
        EXPECT_NE(id, ids.end()) << "module " << m->getModuleID() << " out of order or not of the revision";
        EXPECT_EQ(m->getPipeline(), nullptr);
        delete m;
    }
}

INSTANTIATE_TEST_SUITE_P(CameraFactory, FactoryRevisions,
                         testing::Values(RevisionCase{1, 0, 27, false, false}, RevisionCase{1, 9, 27, false, false},
                                         RevisionCase{2, 0, 28, true, false}, RevisionCase{2, 5, 28, true, false},
                                         RevisionCase{2, 6, 29, true, true}, RevisionCase{2, 7, 29, true, true},
                                         RevisionCase{3, 0, 29, true, true}),
                         [](const testing::TestParamInfo<RevisionCase> &i) {
                             return "Rev" + std::to_string(i.param.major) + "_" + std::to_string(i.param.minor);
                         });

// Every revision gets the same six controls, then the white balance whose variant compares major and minor apart.
TEST(CameraFactory, ControlsOfTheRevision) {
    struct Case {
        unsigned major, minor;
        bool pid;
    };
    for (const Case &c :
         {Case{2, 5, true}, Case{1, 5, true}, Case{2, 6, false}, Case{3, 0, false}, Case{1, 6, false}}) {
        SCOPED_TRACE(testing::Message() << c.major << "." << c.minor);
        const std::list<ControlModule *> controls = CameraFactory::controlModulesFromHWVersion(c.major, c.minor);
        std::vector<ControlID> ids;
        for (ControlModule *m : controls)
            ids.push_back(m->getModuleID());
        EXPECT_EQ(ids, (std::vector<ControlID>{CTRL_AE, CTRL_AF, CTRL_DNS, CTRL_LBC, CTRL_TNM, CTRL_LSH, CTRL_AWB}));
        if (!controls.empty()) {
            EXPECT_EQ(dynamic_cast<ControlAWB_PID *>(controls.back()) != nullptr, c.pid);
            EXPECT_EQ(dynamic_cast<ControlAWB_Planckian *>(controls.back()) != nullptr, !c.pid);
            EXPECT_STREQ(controls.back()->getLoggingName(), c.pid ? "ISPC_CTRL_AWB-PID" : "ISPC_CTRL_AWB");
        }
        for (ControlModule *m : controls)
            delete m;
    }
}

TEST(CameraFactory, MajorRevisionZeroGivesNothing) {
    const std::string e = norva_test::stderrOf([] {
        EXPECT_TRUE(CameraFactory::setupModuleIDsFromHWVersion(0, 7).empty());
        EXPECT_TRUE(CameraFactory::setupModulesFromHWVersion(0, 7).empty());
        EXPECT_TRUE(CameraFactory::controlModulesFromHWVersion(0, 7).empty());
    });
    EXPECT_TRUE(contains(e, "ERROR [ISPC_CAM_FACTORY]")) << e;
    EXPECT_TRUE(contains(e, "major version has to be >0\n")) << e;
}

class FactoryPopulate : public norva_test::ContextTest {
protected:
    /** A data-generator camera on a 320 × 240 scene, on a device that reports the revision. */
    std::unique_ptr<DGCamera> cameraOnRevision(unsigned major, unsigned minor) {
        const std::string scene = useScene(320, 240);
        norva_sim::IspDevice().description.sHWInfo.rev_ui8Major = static_cast<QOR_UINT8>(major);
        norva_sim::IspDevice().description.sHWInfo.rev_ui8Minor = static_cast<QOR_UINT8>(minor);
        std::unique_ptr<DGCamera> camera(new DGCamera(0, scene, 0, true));
        EXPECT_EQ(camera->state, Camera::CAM_CONNECTED);
        return camera;
    }
};

TEST_F(FactoryPopulate, RegistersSetsUpAndFitsTheImagerWindow) {
    for (unsigned minor : {5u, 7u}) {
        std::unique_ptr<DGCamera> camera = cameraOnRevision(2, minor);
        ASSERT_EQ(CameraFactory::populateCameraFromHWVersion(*camera, camera->getSensor(), 0), QOR_RES_OK);
        EXPECT_EQ(camera->state, Camera::CAM_REGISTERED);
        const Pipeline &p = *camera->getPipeline();
        size_t registered = 0;
        for (auto it = p.getModulesStart(); it != p.getModulesEnd(); ++it, ++registered) {
            EXPECT_TRUE(it->second->isSetup()) << "module " << it->first << " set up once with its defaults";
            EXPECT_EQ(it->second->getPipeline(), camera->getPipeline());
        }
        const std::list<SetupModule *> expected = CameraFactory::setupModulesFromHWVersion(2, minor);
        EXPECT_EQ(registered, expected.size());
        for (SetupModule *m : expected) {
            EXPECT_NE(p.getModule(m->getModuleID()), nullptr);
            delete m;
        }
        EXPECT_EQ(p.getModule(STP_AWS) != nullptr, minor >= 6);
        const ModuleIIF *iif = static_cast<const ModuleIIF *>(p.getModule(STP_IIF));
        ASSERT_NE(iif, nullptr);
        EXPECT_EQ(iif->aCropBR[0], 319u);
        EXPECT_EQ(iif->aCropBR[1], 239u);
        norva_test::stderrOf([&] { camera.reset(); });
    }
}

TEST_F(FactoryPopulate, WithoutSensorTheWindowIsLeft) {
    std::unique_ptr<DGCamera> camera = cameraOnRevision(1, 9);
    ASSERT_EQ(CameraFactory::populateCameraFromHWVersion(*camera, nullptr, 2), QOR_RES_OK);
    EXPECT_EQ(camera->state, Camera::CAM_REGISTERED);
    EXPECT_EQ(camera->getPipeline()->getModule(STP_RLT), nullptr) << "1.x has no raw look-up table";
    norva_test::stderrOf([&] { camera.reset(); });
}

TEST_F(FactoryPopulate, MajorRevisionZeroIsRefusedBeforeAnyModule) {
    std::unique_ptr<DGCamera> camera = cameraOnRevision(0, 3);
    QOR_RESULT ret = QOR_RES_OK;
    const std::string e = norva_test::stderrOf(
        [&] { ret = CameraFactory::populateCameraFromHWVersion(*camera, camera->getSensor(), 0); });
    EXPECT_EQ(ret, QOR_RES_FAILED);
    EXPECT_TRUE(contains(e, "Invalid major version in Camera HW info, the connection to the driver seems broken\n"))
        << e;
    EXPECT_EQ(camera->state, Camera::CAM_CONNECTED);
    EXPECT_EQ(camera->getPipeline()->getModulesStart(), camera->getPipeline()->getModulesEnd());
    norva_test::stderrOf([&] { camera.reset(); });
}

} // namespace
