#include "testparam.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "norvacommon/dyncmd.h"
#include "norvacommon/userlog.h"
#include "testcontext.h"

namespace {

constexpr const char *kTag = "norvalib";

/** Sensor entries the set holds; a parameter file that counts more is refused. */
constexpr unsigned kMaxSensors = kTestParamContexts;

/** Counts the errors of one load and logs each with the option's name. */
class Loader {
public:
    unsigned errors = 0;

    /** The common result rule: a value that is there but unreadable, or incomplete, is one error. */
    DYNCMDLINE_RETURN_CODE checked(DYNCMDLINE_RETURN_CODE ret, const char *flag) {
        if (ret > RET_NOT_FOUND) {
            QOR_LOG_ERROR(kTag, "Error while parsing parameter %s\n", flag);
            errors++;
        }
        return ret;
    }

    DYNCMDLINE_RETURN_CODE uintOption(const char *flag, const char *usage, QOR_UINT32 &dest) {
        return checked(DYNCMD_RegisterParameter(flag, DYNCMDTYPE_UINT, usage, &dest), flag);
    }

    DYNCMDLINE_RETURN_CODE floatOption(const char *flag, const char *usage, float &dest) {
        return checked(DYNCMD_RegisterParameter(flag, DYNCMDTYPE_FLOAT, usage, &dest), flag);
    }

    DYNCMDLINE_RETURN_CODE boolOption(const char *flag, const char *usage, bool &dest) {
        QOR_BOOL8 value = dest ? 1 : 0;
        const DYNCMDLINE_RETURN_CODE ret = DYNCMD_RegisterParameter(flag, DYNCMDTYPE_BOOL8, usage, &value);
        if (ret == RET_FOUND)
            dest = value != 0;
        return checked(ret, flag);
    }

    /** The registry hands out a new copy; it replaces the owned string only when the option was read. */
    DYNCMDLINE_RETURN_CODE stringOption(const char *flag, const char *usage, char *&dest) {
        char *value = nullptr;
        const DYNCMDLINE_RETURN_CODE ret = DYNCMD_RegisterParameter(flag, DYNCMDTYPE_STRING, usage, &value);
        if (ret == RET_FOUND && value != nullptr) {
            std::free(dest);
            dest = value;
        } else {
            std::free(value);
        }
        return checked(ret, flag);
    }

    /** A flag without value: set when present; any other result leaves it and counts nothing. */
    static bool command(const char *flag, const char *usage, bool &dest) {
        const bool present = DYNCMD_RegisterParameter(flag, DYNCMDTYPE_COMMAND, usage, nullptr) == RET_FOUND;
        if (present)
            dest = true;
        return present;
    }
};

/** The option name for index n. */
struct Flag {
    char text[64];
    Flag(const char *format, unsigned n) { std::snprintf(text, sizeof(text), format, n); }
    operator const char *() const { return text; }
};

} // namespace

TEST_PARAM::TEST_PARAM() {
    bWait = bParallel = bNoWrite = bDumpConfigFiles = false;
    bUseDmabuf = bMapDmabuf = bSensorExposureSync = false;
    nSensors = 0;
    for (unsigned s = 0; s < kTestParamContexts; s++) {
        sensorName[s] = nullptr;
        sensorMode[s] = 0;
        sensorFlip[s] = 0;
    }
    for (unsigned g = 0; g < kTestParamGaskets; g++) {
        dgInputFile[g] = nullptr;
        dgInputFrames[g] = 1;
        dgBlanking[g][0] = 100;
        dgBlanking[g][1] = 14;
        gasketUsesIntDG[g] = false;
        gasketIntDG[g] = g;
    }
    for (unsigned c = 0; c < kTestParamContexts; c++) {
        setupFiles[c] = nullptr;
        imager[c] = c;
        nBuffers[c] = 1;
        nPreenqBuffers[c] = 0;
        nFrames[c] = 1;
        lshGridFile[c] = nullptr;
        bSaveStats[c] = bReuse[c] = bSaveRaw[c] = false;
        sensorExposure[c] = 0;
        sensorGain[c] = 1.0f;
        bControlAE[c] = bControlTNM[c] = bControlTNMLocal[c] = bControlTNMAdaptive[c] = bControlLBC[c] = false;
        wbcAlgorithm[c] = 0;
        wbcCorrectionType[c] = 0;
    }
}

TEST_PARAM::~TEST_PARAM() {
    for (unsigned c = 0; c < kTestParamContexts; c++) {
        std::free(sensorName[c]);
        std::free(setupFiles[c]);
        std::free(lshGridFile[c]);
    }
    for (unsigned g = 0; g < kTestParamGaskets; g++)
        std::free(dgInputFile[g]);
}

void TEST_PARAM::setString(char *&field, const char *value) {
    char *copy = value != nullptr ? strdup(value) : nullptr;
    std::free(field);
    field = copy;
}

int TEST_PARAM::load_parameters(int argc, char **argv) {
    // The registry is process-wide: the whole load holds it, and it is released on every path.
    DYNCMD_Lock();
    if (DYNCMD_AddCommandLine(argc, argv, "-source") != QOR_RES_OK) {
        QOR_LOG_ERROR(kTag, "unable to parse command line\n");
        DYNCMD_ReleaseParameters();
        DYNCMD_Unlock();
        return 1;
    }
    Loader l;

    l.uintOption("-sensorNumber", "Number of sensors to use", nSensors);
    if (nSensors > kMaxSensors) {
        // Sensor options past the set's entries would have nowhere to go.
        QOR_LOG_ERROR(kTag, "given %u sensors but at most %u are supported\n", nSensors, kMaxSensors);
        l.errors++;
    } else {
        for (unsigned s = 0; s < nSensors; s++) {
            if (l.stringOption(Flag("-CT%u_sensor", s), "Sensor model", sensorName[s]) == RET_NOT_FOUND) {
                QOR_LOG_ERROR(kTag, "no sensor provided\n");
                l.errors++;
            }
            if (l.uintOption(Flag("-CT%u_sensorMode", s), "Sensor mode", sensorMode[s]) == RET_NOT_FOUND) {
                QOR_LOG_ERROR(kTag, "no sensor mode provided\n");
                l.errors++;
            }
            l.uintOption(Flag("-CT%u_sensorFlip", s), "Sensor flip (0=None, 1=Horizontal, 2=Vertical, 3=Both)",
                         sensorFlip[s]);
        }
    }

    // The one internal data generator: its options start from gasket 0's values and replace no gasket unless the
    // gasket option names one.
    {
        char *file = nullptr;
        setString(file, dgInputFile[0]);
        QOR_UINT32 frames = dgInputFrames[0];
        QOR_UINT32 blanking[2] = {dgBlanking[0][0], dgBlanking[0][1]};
        QOR_UINT32 gasket = kTestParamGaskets;
        l.stringOption("-IntDG0_inputNRV", "NRV input file to use for Data Generator", file);
        l.uintOption("-IntDG0_inputFrames", "Number of frames to load from the NRV input file", frames);
        const char *blankingFlag = "-IntDG0_blanking";
        const DYNCMDLINE_RETURN_CODE ret = DYNCMD_RegisterArray(
            blankingFlag, DYNCMDTYPE_UINT, "Horizontal and vertical blanking in pixels", blanking, 2);
        if (ret == RET_INCOMPLETE)
            QOR_LOG_WARNING(kTag, "%s incomplete, second value for blanking is assumed to be %u\n", blankingFlag,
                            blanking[1]);
        else
            l.checked(ret, blankingFlag);
        l.uintOption("-IntDG0_gasket", "Gasket to replace data from", gasket);
        if (gasket < kTestParamGaskets) {
            gasketUsesIntDG[gasket] = true;
            setString(dgInputFile[gasket], file);
            dgInputFrames[gasket] = frames;
            dgBlanking[gasket][0] = blanking[0];
            dgBlanking[gasket][1] = blanking[1];
            gasketIntDG[gasket] = 0;
        }
        std::free(file);
    }

    for (unsigned c = 0; c < kTestParamContexts; c++) {
        l.stringOption(Flag("-CT%u_setupFile", c), "Norva setup file(s) to use to configure the Pipeline",
                       setupFiles[c]);
        l.uintOption(Flag("-CT%u_imager", c), "Imager to use as input for that context", imager[c]);
        l.uintOption(Flag("-CT%u_nBuffers", c),
                     "Number of pending buffers for that context (submitted at once - maxed to the size of the "
                     "pending list in HW)",
                     nBuffers[c]);
        l.uintOption(Flag("-CT%u_nPreenqBuffers", c),
                     "Number of buffers to preenqueue for that context (must be less than number of pending buffers)",
                     nPreenqBuffers[c]);
        if (l.uintOption(Flag("-CT%u_nFrames", c), "Number of frames to run for that context", nFrames[c]) ==
                RET_FOUND &&
            nFrames[c] == 0)
            nFrames[c] = 1;
        l.stringOption(Flag("-CT%u_LSHGrid", c), "LSH grid file to load", lshGridFile[c]);
        l.boolOption(Flag("-CT%u_saveStats", c),
                     "Enable saving of the raw statistics from the HW (contains CRCs, timestamps etc) - disabled if "
                     "-no_write is specified",
                     bSaveStats[c]);
        l.boolOption(Flag("-CT%u_saveRaw", c),
                     "Enable saving of the raw image data for images output (except YUV which is always RAW image "
                     "from HW). Stride is removed.",
                     bSaveRaw[c]);
        l.uintOption(Flag("-CT%u_sensorExposure", c), "Initial sensor exposure (us)", sensorExposure[c]);
        l.floatOption(Flag("-CT%u_sensorGain", c), "Initial sensor gain", sensorGain[c]);
        l.boolOption(Flag("-CT%u_AE", c), "Enable usage Auto Exposure control algorithm", bControlAE[c]);
        l.boolOption(Flag("-CT%u_TNM", c), "Enable usage Global Tone Mapper control algorithm", bControlTNM[c]);
        l.boolOption(Flag("-CT%u_TNM-local", c), "Enable usage Local Tone Mapper control algorithm",
                     bControlTNMLocal[c]);
        l.boolOption(Flag("-CT%u_TNM-adapt", c), "Enable usage Adaptive Tone Mapper control algorithm",
                     bControlTNMAdaptive[c]);
        l.boolOption(Flag("-CT%u_LBC", c),
                     "Enable usage Light Based Controls algorithm (and loading of the LBC parameters)", bControlLBC[c]);
        l.uintOption(Flag("-CT%u_WBC", c),
                     "Enable usage of White Balance Control algorithm and loading of the multi-ccm parameters - 0 is "
                     "disabled, 1 is normal algorithm, 2 is PID, 3 is Planckian",
                     wbcAlgorithm[c]);
        l.uintOption(Flag("-CT%u_WBCCT", c), "Use correction type (0=None, 1=AC, 2=WP, 3=HLW, 4=COMBINED)",
                     wbcCorrectionType[c]);
    }
    l.boolOption(Flag("-CT%u_re-use", 1),
                 "Enable the re-use of the previously used Camera object when running in serial mode (the "
                 "previously used context needs to be configured to use the same DG as the new one!)",
                 bReuse[1]);

    {
        QOR_BOOL8 value = bParallel ? 1 : 0;
        const DYNCMDLINE_RETURN_CODE ret = DYNCMD_RegisterParameter(
            "-parallel", DYNCMDTYPE_BOOL8, "run multi-context all at once (1) or in serial (0)", &value);
        if (ret == RET_FOUND) {
            bParallel = value != 0;
        } else if (ret > RET_NOT_FOUND) {
            QOR_LOG_ERROR(kTag, "-parallel expects a bool but none was found\n");
            l.errors++;
        }
    }
    Loader::command("-no_write", "Do not write output to file (including statistics)", bNoWrite);
    Loader::command("-wait", "Wait at the end to allow reading of the console output on windows when starting as batch",
                    bWait);
    Loader::command("-DumpConfigFiles",
                    "Output configuration files for default, minimum and maximum values for all parameters",
                    bDumpConfigFiles);
    Loader::command("-use_dmabuf", "Allocate and import external buffers", bUseDmabuf);
    Loader::command("-sensorExposureSync", "Synchronize sensors exposure & gain", bSensorExposureSync);
    bool help = false;
    Loader::command("-h", "Usage information", help);

    int result = 0;
    if (l.errors == 0 && !help) {
        QOR_UINT32 unknown = 0;
        DYNCMD_HasUnregisteredElements(&unknown); // reports each unknown token itself
        printTestParameters();
    } else {
        DYNCMD_PrintUsage();
        result = 1;
    }
    DYNCMD_ReleaseParameters();
    DYNCMD_Unlock();
    return result;
}

bool TEST_PARAM::validate(int context) const {
    if (context < 0 || context >= static_cast<int>(kTestParamContexts)) {
        QOR_LOG_ERROR(kTag, "skip context %d: no setup found\n", context);
        return false;
    }
    const unsigned c = static_cast<unsigned>(context);
    if (setupFiles[c] == nullptr) {
        QOR_LOG_ERROR(kTag, "skip context %d: no setup found\n", context);
        return false;
    }
    const unsigned g = imager[c];
    if (g >= kTestParamGaskets) {
        QOR_LOG_ERROR(kTag, "given gasket %d for context %d is not supported by driver!\n", static_cast<int>(g),
                      context);
        return false;
    }
    if (gasketUsesIntDG[g] && gasketIntDG[g] != 0) {
        QOR_LOG_ERROR(kTag, "given internal data-generator %u for gasket %d is not supported by driver\n",
                      gasketIntDG[g], static_cast<int>(g));
        return false;
    }
    if (dgInputFile[g] == nullptr) {
        if (nSensors == 0) {
            QOR_LOG_ERROR(kTag, "skip context %d because its attached gasket %d has no input file\n", context,
                          static_cast<int>(g));
            return false;
        }
        if (sensorName[c] == nullptr) {
            QOR_LOG_ERROR(kTag, "skip context %d because name of the sensor is not set\n", context);
            return false;
        }
    } else if (sensorName[c] == nullptr && nSensors != 0) {
        QOR_LOG_ERROR(kTag, "skip context %d because name of the sensor is not set\n", context);
        return false;
    }
    if (bReuse[c]) {
        QOR_LOG_ERROR(kTag, "reuse is not supported\n");
        return false;
    }
    if (nPreenqBuffers[c] >= nBuffers[c]) {
        QOR_LOG_ERROR(kTag, "number of buffers to preenqueue %u must be less than total number of buffers %u\n",
                      nPreenqBuffers[c], nBuffers[c]);
        return false;
    }
    if (nBuffers[c] > kTestParamMaxBuffers) {
        QOR_LOG_ERROR(kTag, "number of buffers %u for context %d is above the supported %u\n", nBuffers[c], context,
                      kTestParamMaxBuffers);
        return false;
    }
    return true;
}

void TEST_PARAM::populate(TestContext &ctx, int context) const {
    ctx.pParam = this;
    ctx.iContext = context;
}

void TEST_PARAM::printTestParameters() const {
    QOR_LOG_DEBUG(kTag, "===\n\n");
    for (unsigned c = 0; c < kTestParamContexts; c++) {
        QOR_LOG_DEBUG(kTag, "Context %d:\n", static_cast<int>(c));
        const unsigned g = imager[c];
        if (g < kTestParamGaskets && dgInputFile[g] != nullptr && setupFiles[c] != nullptr) {
            QOR_LOG_DEBUG(kTag, "  Using imager %d\n", static_cast<int>(g));
            QOR_LOG_DEBUG(kTag, "  Setup file(s): %s\n", setupFiles[c]);
            QOR_LOG_DEBUG(kTag, "  Number of buffers: %u\n", nBuffers[c]);
            QOR_LOG_DEBUG(kTag, "  Number of frames: %u\n", nFrames[c]);
        } else {
            QOR_LOG_DEBUG(kTag, "  (disabled)\n");
        }
    }
    QOR_LOG_DEBUG(kTag, "===\n\n");
    for (unsigned g = 0; g < kTestParamGaskets; g++) {
        if (dgInputFile[g] != nullptr && gasketUsesIntDG[g]) {
            QOR_LOG_DEBUG(kTag, "Gasket %d:\n", static_cast<int>(g));
            QOR_LOG_DEBUG(kTag, "  Int. Datagen %d\n", static_cast<int>(gasketIntDG[g]));
            QOR_LOG_DEBUG(kTag, "  Input file: %d frames from %s\n", static_cast<int>(dgInputFrames[g]),
                          dgInputFile[g]);
            QOR_LOG_DEBUG(kTag, "  Blanking: H=%d V=%d\n", static_cast<int>(dgBlanking[g][0]),
                          static_cast<int>(dgBlanking[g][1]));
        } else {
            QOR_LOG_DEBUG(kTag, "Gasket %d disabled\n", static_cast<int>(g));
        }
    }
    QOR_LOG_DEBUG(kTag, "===\n\n");
}
