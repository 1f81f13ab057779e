#ifndef NORVA_TEST_GST_CONTEXT_FIXTURE_H
#define NORVA_TEST_GST_CONTEXT_FIXTURE_H

// A capture context on the simulated platform: a temporary folder with a data-generator scene and setup files, and
// a parameter set driving context 0 from the data generator on gasket 0. The platform's counters are back at zero
// when the test ends (SimTest), so every context a test made must have released everything.

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>

#include "platform/sim_platform.h"
#include "scenes/scene_nrv.h"
#include "support/output_capture.h"
#include "support/sim_fixture.h"
#include "testcontext.h"
#include "testparam.h"

namespace norva_test {

class ContextTest : public SimTest {
protected:
    void SetUp() override {
        SimTest::SetUp();
        char pattern[] = "/tmp/norva-context-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
        param.reset(new TEST_PARAM());
    }
    void TearDown() override {
        stderrOf([&] {
            slave.reset();
            main.reset();
        });
        param.reset();
        std::system(("rm -rf '" + dir + "'").c_str());
        SimTest::TearDown();
    }

    /** Writes a file of the temporary folder and returns its path. */
    std::string writeFile(const std::string &name, const std::string &text) {
        const std::string path = dir + "/" + name;
        std::ofstream(path) << text;
        return path;
    }

    /** A scene of that size and frame count as the data generator's input on gasket 0. */
    std::string useScene(unsigned width, unsigned height, unsigned frames = 1) {
        const std::string path = dir + "/scene.nrv";
        EXPECT_EQ(norva_scenes::WriteSceneNrv(path, width, height, 10, MOSAIC_RGGB, frames), QOR_RES_OK);
        TEST_PARAM::setString(param->dgInputFile[0], path.c_str());
        param->gasketUsesIntDG[0] = true;
        param->gasketIntDG[0] = 0;
        param->dgInputFrames[0] = 0;
        param->bNoWrite = true;
        return path;
    }

    /** Sets the setup files of a context (":"-separated). */
    void setupFiles(unsigned context, const std::string &files) {
        TEST_PARAM::setString(param->setupFiles[context], files.c_str());
    }

    /** Context 0 on a width × height scene with an empty setup file. */
    void defaultParams(unsigned width = 320, unsigned height = 240) {
        useScene(width, height);
        setupFiles(0, writeFile("setup.txt", "// no settings\n"));
    }

    /** Preconfigures the main context; what it logged goes to `log`. */
    bool preconfigureMain(unsigned context = 0) {
        main.reset(new TestContext());
        bool ok = false;
        log = logOf([&] { ok = main->preconfigure(*param, context); });
        return ok;
    }

    std::string dir;
    std::unique_ptr<TEST_PARAM> param;
    std::unique_ptr<TestContext> main;
    std::unique_ptr<TestContext> slave;
    std::string log;
};

} // namespace norva_test

#endif
