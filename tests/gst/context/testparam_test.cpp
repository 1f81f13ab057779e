// The capture parameter set: parameter files with their results, fields and checks; the usage text and the summary
// against goldens; files the registry cannot take; a failed load followed by a good one.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <regex>
#include <sstream>
#include <string>

#include "norvacommon/userlog.h"
#include "support/output_capture.h"
#include "testparam.h"

using norva_test::contains;

namespace {

std::string readFile(const std::string &path) {
    std::ifstream f(path);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

/** A parameter file in a temporary folder, loaded the way the element loads it. */
class ParamFile : public testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/norva-testparam-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
    }
    void TearDown() override { std::system(("rm -rf '" + dir + "'").c_str()); }

    /** Writes the text as the parameter file and loads it; the result, and what went to stdout and stderr. */
    int load(TEST_PARAM &param, const std::string &text) {
        const std::string path = dir + "/params.txt";
        std::ofstream(path) << text;
        std::string file = path;
        char empty[] = "", source[] = "-source";
        char *argv[] = {empty, source, &file[0]};
        int ret = -1;
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        ret = param.load_parameters(3, argv);
        fflush(stdout);
        fflush(stderr);
        out = testing::internal::GetCapturedStdout();
        err = testing::internal::GetCapturedStderr();
        return ret;
    }

    std::string dir;
    std::string out;
    std::string err;
};

struct FileCase {
    const char *name;
    const char *text;
    int result;
    const char *message;                            /**< expected on stderr; empty: none checked */
    std::function<void(const TEST_PARAM &)> fields; /**< null: not checked */
};

void PrintTo(const FileCase &c, std::ostream *os) { *os << c.name; }

class ParameterFiles : public ParamFile, public testing::WithParamInterface<FileCase> {};

TEST_P(ParameterFiles, LoadAsTheFileSays) {
    const FileCase &c = GetParam();
    TEST_PARAM param;
    EXPECT_EQ(load(param, c.text), c.result) << err;
    if (c.message[0] != '\0') {
        EXPECT_TRUE(contains(err, c.message)) << err;
    }
    if (c.result != 0) {
        EXPECT_TRUE(contains(out, "usage()")) << "the usage is printed on failure";
    }
    if (c.fields)
        c.fields(param);
}

const FileCase kFiles[] = {
    {"OnlySetupFile", "-CT0_setupFile a.txt\n", 0, "",
     [](const TEST_PARAM &p) {
         EXPECT_STREQ(p.setupFiles[0], "a.txt");
         EXPECT_EQ(p.setupFiles[1], nullptr);
         for (unsigned c = 0; c < 2; c++) {
             EXPECT_EQ(p.nBuffers[c], 1u);
             EXPECT_EQ(p.nPreenqBuffers[c], 0u);
             EXPECT_EQ(p.nFrames[c], 1u);
             EXPECT_EQ(p.imager[c], c);
             EXPECT_FLOAT_EQ(p.sensorGain[c], 1.0f);
         }
         for (unsigned g = 0; g < 4; g++) {
             EXPECT_EQ(p.gasketIntDG[g], g);
             EXPECT_EQ(p.dgBlanking[g][0], 100u);
             EXPECT_EQ(p.dgBlanking[g][1], 14u);
             EXPECT_FALSE(p.gasketUsesIntDG[g]);
         }
         EXPECT_EQ(p.nSensors, 0u);
         EXPECT_FALSE(p.bNoWrite);
     }},
    {"HelpAnywhere", "-CT0_setupFile a.txt -h -CT0_nBuffers 2\n", 1, "", nullptr},
    {"SensorWithoutMode", "-sensorNumber 1 -CT0_sensor DOR\n", 1, "no sensor mode provided\n", nullptr},
    {"SensorWithoutName", "-sensorNumber 1 -CT0_sensorMode 0\n", 1, "no sensor provided\n", nullptr},
    {"ThreeSensorsRefused",
     "-sensorNumber 3 -CT0_sensor a -CT0_sensorMode 0 -CT1_sensor b -CT1_sensorMode 0 "
     "-CT2_sensor c -CT2_sensorMode 0\n",
     1, "", [](const TEST_PARAM &p) { EXPECT_EQ(p.sensorName[0], nullptr) << "no sensor option was read"; }},
    {"TwoSensors",
     "-sensorNumber 2 -CT0_sensor OV4689_0 -CT0_sensorMode 3 -CT1_sensor DOR -CT1_sensorMode 1 "
     "-CT1_sensorFlip 3\n",
     0, "",
     [](const TEST_PARAM &p) {
         EXPECT_STREQ(p.sensorName[0], "OV4689_0");
         EXPECT_STREQ(p.sensorName[1], "DOR");
         EXPECT_EQ(p.sensorMode[0], 3u);
         EXPECT_EQ(p.sensorMode[1], 1u);
         EXPECT_EQ(p.sensorFlip[1], 3u);
     }},
    {"BlankingWithOneValue", "-IntDG0_inputNRV s.nrv -IntDG0_blanking 50 -IntDG0_gasket 2 -IntDG0_inputFrames 7\n", 0,
     "-IntDG0_blanking incomplete, second value for blanking is assumed to be 14\n",
     [](const TEST_PARAM &p) {
         EXPECT_TRUE(p.gasketUsesIntDG[2]);
         EXPECT_STREQ(p.dgInputFile[2], "s.nrv");
         EXPECT_EQ(p.dgInputFrames[2], 7u);
         EXPECT_EQ(p.dgBlanking[2][0], 50u);
         EXPECT_EQ(p.dgBlanking[2][1], 14u);
         EXPECT_EQ(p.gasketIntDG[2], 0u);
         EXPECT_EQ(p.dgInputFile[0], nullptr);
     }},
    {"GeneratorWithoutGasket", "-IntDG0_inputNRV s.nrv -IntDG0_blanking 50 60\n", 0, "",
     [](const TEST_PARAM &p) {
         for (unsigned g = 0; g < 4; g++) {
             EXPECT_FALSE(p.gasketUsesIntDG[g]);
             EXPECT_EQ(p.dgInputFile[g], nullptr);
             EXPECT_EQ(p.dgBlanking[g][0], 100u);
         }
     }},
    {"GeneratorOnGasketFourIgnored", "-IntDG0_inputNRV s.nrv -IntDG0_gasket 4\n", 0, "",
     [](const TEST_PARAM &p) {
         for (unsigned g = 0; g < 4; g++)
             EXPECT_FALSE(p.gasketUsesIntDG[g]);
     }},
    {"FrameCountZeroIsOne", "-CT1_nFrames 0\n", 0, "", [](const TEST_PARAM &p) { EXPECT_EQ(p.nFrames[1], 1u); }},
    {"UnknownTokenReported", "-CT0_setupFile a.txt -bogus 3\n", 0, "'-bogus' unknown parameter", nullptr},
    {"LightBasedControlOnly", "-CT0_LBC 1\n", 0, "",
     [](const TEST_PARAM &p) {
         EXPECT_TRUE(p.bControlLBC[0]);
         EXPECT_FALSE(p.bControlTNM[0]);
         EXPECT_FALSE(p.bControlTNMLocal[0]);
         EXPECT_FALSE(p.bControlTNMAdaptive[0]);
         EXPECT_FALSE(p.bControlLBC[1]);
     }},
    {"PerContextValues",
     "-CT1_setupFile x:y -CT1_imager 1 -CT1_nBuffers 4 -CT1_nPreenqBuffers 2 -CT1_LSHGrid g.lsh -CT1_saveStats 1 "
     "-CT1_saveRaw 1 -CT1_sensorExposure 3300 -CT1_sensorGain 2.5 -CT1_AE 1 -CT1_TNM 1 -CT1_TNM-local 1 "
     "-CT1_TNM-adapt 1 -CT1_WBC 3 -CT1_WBCCT 4 -CT1_re-use 1\n",
     0, "",
     [](const TEST_PARAM &p) {
         EXPECT_STREQ(p.setupFiles[1], "x:y");
         EXPECT_EQ(p.nBuffers[1], 4u);
         EXPECT_EQ(p.nPreenqBuffers[1], 2u);
         EXPECT_STREQ(p.lshGridFile[1], "g.lsh");
         EXPECT_TRUE(p.bSaveStats[1] && p.bSaveRaw[1] && p.bControlAE[1] && p.bControlTNM[1]);
         EXPECT_TRUE(p.bControlTNMLocal[1] && p.bControlTNMAdaptive[1] && p.bReuse[1]);
         EXPECT_EQ(p.sensorExposure[1], 3300u);
         EXPECT_FLOAT_EQ(p.sensorGain[1], 2.5f);
         EXPECT_EQ(p.wbcAlgorithm[1], 3u);
         EXPECT_EQ(p.wbcCorrectionType[1], 4u);
         EXPECT_EQ(p.nBuffers[0], 1u);
     }},
    {"GlobalFlags", "-parallel 1 -no_write -wait -DumpConfigFiles -use_dmabuf -sensorExposureSync\n", 0, "",
     [](const TEST_PARAM &p) {
         EXPECT_TRUE(p.bParallel && p.bNoWrite && p.bWait && p.bDumpConfigFiles && p.bUseDmabuf);
         EXPECT_TRUE(p.bSensorExposureSync);
         EXPECT_FALSE(p.bMapDmabuf);
     }},
    {"ParallelWithoutBool", "-parallel\n", 1, "-parallel expects a bool but none was found\n", nullptr},
    {"MalformedNumber", "-CT0_nBuffers 3x\n", 1, "Error while parsing parameter -CT0_nBuffers\n", nullptr},
    {"NegativeNumber", "-CT1_imager -1\n", 1, "Error while parsing parameter -CT1_imager\n", nullptr},
    {"MissingValueAtEnd", "-CT0_setupFile a.txt -CT0_sensorGain\n", 1,
     "Error while parsing parameter -CT0_sensorGain\n", nullptr},
    {"MissingStringValue", "-CT0_setupFile\n", 1, "Error while parsing parameter -CT0_setupFile\n", nullptr},
};

INSTANTIATE_TEST_SUITE_P(TestParam, ParameterFiles, testing::ValuesIn(kFiles),
                         [](const testing::TestParamInfo<FileCase> &i) { return std::string(i.param.name); });

using TestParamLoad = ParamFile;

// The registry holds 254 tokens: one more fails cleanly before any option is read.
TEST_F(TestParamLoad, TooManyTokensFailCleanly) {
    std::string text;
    for (int i = 0; i < 127; i++)
        text += "-CT0_nBuffers 2\n";
    TEST_PARAM fits;
    EXPECT_EQ(load(fits, text), 0) << err;
    TEST_PARAM over;
    EXPECT_EQ(load(over, text + "-wait\n"), 1);
    EXPECT_TRUE(contains(err, "unable to parse command line\n")) << err;
    EXPECT_EQ(over.nBuffers[0], 1u);
}

TEST_F(TestParamLoad, UnreadableFileFails) {
    TEST_PARAM param;
    std::string file = dir + "/absent.txt";
    char empty[] = "", source[] = "-source";
    char *argv[] = {empty, source, &file[0]};
    const std::string e = norva_test::stderrOf([&] { EXPECT_EQ(param.load_parameters(3, argv), 1); });
    EXPECT_TRUE(contains(e, "unable to parse command line\n")) << e;
}

// A failed load releases the process-wide registry: the next load in the process starts clean.
TEST_F(TestParamLoad, HelpThenCorrectedFileLoads) {
    TEST_PARAM first;
    EXPECT_EQ(load(first, "-CT0_setupFile a.txt -h\n"), 1);
    TEST_PARAM second;
    EXPECT_EQ(load(second, "-CT0_setupFile b.txt\n"), 0) << err;
    EXPECT_STREQ(second.setupFiles[0], "b.txt");
    EXPECT_FALSE(contains(err, "already registered")) << err;
}

// A second load into the same set replaces its strings (the first copies are freed, not leaked).
TEST_F(TestParamLoad, ReloadReplacesStrings) {
    TEST_PARAM p;
    EXPECT_EQ(load(p, "-CT0_setupFile a.txt -IntDG0_inputNRV s.nrv -IntDG0_gasket 0\n"), 0);
    EXPECT_EQ(load(p, "-CT0_setupFile b.txt -IntDG0_inputNRV t.nrv -IntDG0_gasket 0\n"), 0);
    EXPECT_STREQ(p.setupFiles[0], "b.txt");
    EXPECT_STREQ(p.dgInputFile[0], "t.nrv");
}

TEST_F(TestParamLoad, UsageMatchesGolden) {
    TEST_PARAM p;
    EXPECT_EQ(load(p, "-h\n"), 1);
    // From the usage line on: the process may announce its platform once before.
    const size_t usage = out.find("usage()\n");
    ASSERT_NE(usage, std::string::npos) << out;
    EXPECT_EQ(out.substr(usage), readFile(std::string(NORVA_GST_CONTEXT_TEST_DIR) + "/testparam_usage.golden"));
}

TEST_F(TestParamLoad, UsageWithSensorsListsTheirOptions) {
    TEST_PARAM p;
    EXPECT_EQ(load(p, "-sensorNumber 2 -h\n"), 1);
    EXPECT_TRUE(contains(out, "-sensorNumber <uint>\t: Number of sensors to use\n"
                              "-CT0_sensor <string>\t: Sensor model\n"
                              "-CT0_sensorMode <uint>\t: Sensor mode\n"
                              "-CT0_sensorFlip <uint>\t: Sensor flip (0=None, 1=Horizontal, 2=Vertical, 3=Both)\n"
                              "-CT1_sensor <string>\t: Sensor model\n"))
        << out;
}

TEST_F(TestParamLoad, SummaryMatchesGolden) {
    TEST_PARAM p;
    const int level = LOG_GetLevel();
    LOG_SetLevel(LOG_LEVEL_DEBUG);
    const int ret = load(p, "-CT0_setupFile a.txt:b.txt -CT0_nBuffers 3 -CT0_nFrames 9 -IntDG0_inputNRV s.nrv "
                            "-IntDG0_gasket 0 -IntDG0_inputFrames 5 -IntDG0_blanking 40 20\n");
    LOG_SetLevel(level);
    EXPECT_EQ(ret, 0);
    // The summary's lines without the logger's prefix (tag, function, line number).
    std::string summary;
    std::istringstream lines(err);
    std::string line;
    const std::regex prefix("^DEBUG \\[norvalib\\]: printTestParameters\\(\\):[0-9]+ (.*)$");
    std::smatch m;
    while (std::getline(lines, line)) {
        if (std::regex_match(line, m, prefix))
            summary += m[1].str() + "\n";
        else if (line.empty() && !summary.empty())
            summary += "\n";
    }
    EXPECT_EQ(summary, readFile(std::string(NORVA_GST_CONTEXT_TEST_DIR) + "/testparam_summary.golden"));
}

struct ValidateCase {
    const char *name;
    std::function<void(TEST_PARAM &)> setup;
    int context;
    bool valid;
    const char *message;
};

void PrintTo(const ValidateCase &c, std::ostream *os) { *os << c.name; }

class Validate : public testing::TestWithParam<ValidateCase> {};

/** Context 0 on the data generator of gasket 0, with a setup file. */
void dataGenerator(TEST_PARAM &p) {
    TEST_PARAM::setString(p.setupFiles[0], "setup.txt");
    TEST_PARAM::setString(p.dgInputFile[0], "scene.nrv");
    p.gasketUsesIntDG[0] = true;
    p.gasketIntDG[0] = 0;
}

TEST_P(Validate, FirstFailingRuleDecides) {
    const ValidateCase &c = GetParam();
    TEST_PARAM p;
    c.setup(p);
    bool valid = !c.valid;
    const std::string e = norva_test::stderrOf([&] { valid = p.validate(c.context); });
    EXPECT_EQ(valid, c.valid) << e;
    if (c.message[0] != '\0') {
        EXPECT_TRUE(contains(e, c.message)) << e;
    }
}

const ValidateCase kValidate[] = {
    {"DataGenerator", dataGenerator, 0, true, ""},
    {"NoSetup", [](TEST_PARAM &p) { dataGenerator(p); }, 1, false, "skip context 1: no setup found\n"},
    {"GasketFour",
     [](TEST_PARAM &p) {
         dataGenerator(p);
         p.imager[0] = 4;
     },
     0, false, "given gasket 4 for context 0 is not supported by driver!\n"},
    {"SecondGenerator",
     [](TEST_PARAM &p) {
         dataGenerator(p);
         p.gasketIntDG[0] = 1;
     },
     0, false, "given internal data-generator 1 for gasket 0 is not supported by driver\n"},
    {"NoInputFile", [](TEST_PARAM &p) { TEST_PARAM::setString(p.setupFiles[0], "s"); }, 0, false,
     "skip context 0 because its attached gasket 0 has no input file\n"},
    {"SensorWithoutName",
     [](TEST_PARAM &p) {
         TEST_PARAM::setString(p.setupFiles[0], "s");
         p.nSensors = 1;
     },
     0, false, "skip context 0 because name of the sensor is not set\n"},
    {"SensorNamed",
     [](TEST_PARAM &p) {
         TEST_PARAM::setString(p.setupFiles[0], "s");
         p.nSensors = 1;
         TEST_PARAM::setString(p.sensorName[0], "OV4689_0");
     },
     0, true, ""},
    {"GeneratorCountedWithoutName",
     [](TEST_PARAM &p) {
         dataGenerator(p);
         p.nSensors = 1;
     },
     0, false, "skip context 0 because name of the sensor is not set\n"},
    {"Reuse",
     [](TEST_PARAM &p) {
         dataGenerator(p);
         p.bReuse[0] = true;
     },
     0, false, "reuse is not supported\n"},
    {"PreenqueueEqualsBuffers",
     [](TEST_PARAM &p) {
         dataGenerator(p);
         p.nBuffers[0] = 2;
         p.nPreenqBuffers[0] = 2;
     },
     0, false, "number of buffers to preenqueue 2 must be less than total number of buffers 2\n"},
    {"PreenqueueBelowBuffers",
     [](TEST_PARAM &p) {
         dataGenerator(p);
         p.nBuffers[0] = 3;
         p.nPreenqBuffers[0] = 2;
     },
     0, true, ""},
    {"BuffersAtBound",
     [](TEST_PARAM &p) {
         dataGenerator(p);
         p.nBuffers[0] = kTestParamMaxBuffers;
     },
     0, true, ""},
    {"BuffersAboveBound",
     [](TEST_PARAM &p) {
         dataGenerator(p);
         p.nBuffers[0] = 4000000000u;
     },
     0, false, "number of buffers 4000000000 for context 0 is above the supported 32\n"},
    // Two contexts on gasket 0: the name of each context decides for it.
    {"OwnSensorNameDecides",
     [](TEST_PARAM &p) {
         dataGenerator(p);
         TEST_PARAM::setString(p.setupFiles[1], "setup.txt");
         p.imager[1] = 0;
         p.nSensors = 1;
         TEST_PARAM::setString(p.sensorName[0], "DOR");
     },
     1, false, "skip context 1 because name of the sensor is not set\n"},
    {"OwnSensorNameDecidesNamed",
     [](TEST_PARAM &p) {
         dataGenerator(p);
         TEST_PARAM::setString(p.setupFiles[1], "setup.txt");
         p.imager[1] = 0;
         p.nSensors = 1;
         TEST_PARAM::setString(p.sensorName[1], "DOR");
     },
     1, true, ""},
};

INSTANTIATE_TEST_SUITE_P(TestParam, Validate, testing::ValuesIn(kValidate),
                         [](const testing::TestParamInfo<ValidateCase> &i) { return std::string(i.param.name); });

} // namespace
