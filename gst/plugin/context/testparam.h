#ifndef NORVA_GST_TESTPARAM_H
#define NORVA_GST_TESTPARAM_H

/*
 * The capture parameter set of one source element: which input feeds which ISP context, the setup files of each
 * context, buffer and shot counts and the control algorithms to run. Read from a command-line-style parameter file
 * through the process-wide parameter registry; the option names and usage texts are the file's format.
 */

#include "qor_types.h"

class TestContext;

/** Imager input ports (gaskets) and ISP contexts the set describes. */
constexpr unsigned kTestParamGaskets = 4;
constexpr unsigned kTestParamContexts = 2;
/**
 * Most frame buffers (and shots) a context may ask for: every buffer is a full frame allocated while the context is
 * configured, so a larger count is refused before anything is allocated.
 */
constexpr unsigned kTestParamMaxBuffers = 32;

struct TEST_PARAM {
    bool bWait;
    bool bParallel;
    bool bNoWrite;
    bool bDumpConfigFiles;
    bool bUseDmabuf;
    bool bMapDmabuf;
    bool bSensorExposureSync;

    char *sensorName[kTestParamContexts]; /**< owned; null when not given */
    QOR_UINT32 sensorMode[kTestParamContexts];
    QOR_UINT32 sensorFlip[kTestParamContexts];
    QOR_UINT32 nSensors;

    char *dgInputFile[kTestParamGaskets]; /**< owned; null when not given */
    QOR_UINT32 dgInputFrames[kTestParamGaskets];
    QOR_UINT32 dgBlanking[kTestParamGaskets][2]; /**< horizontal, vertical */
    bool gasketUsesIntDG[kTestParamGaskets];
    QOR_UINT32 gasketIntDG[kTestParamGaskets];

    char *setupFiles[kTestParamContexts]; /**< owned; ":"-separated file names; null when not given */
    QOR_UINT32 imager[kTestParamContexts];
    QOR_UINT32 nBuffers[kTestParamContexts];
    QOR_UINT32 nPreenqBuffers[kTestParamContexts];
    QOR_UINT32 nFrames[kTestParamContexts];
    char *lshGridFile[kTestParamContexts]; /**< owned */
    bool bSaveStats[kTestParamContexts];
    bool bReuse[kTestParamContexts];
    bool bSaveRaw[kTestParamContexts];
    QOR_UINT32 sensorExposure[kTestParamContexts];
    float sensorGain[kTestParamContexts];
    bool bControlAE[kTestParamContexts];
    bool bControlTNM[kTestParamContexts];
    bool bControlTNMLocal[kTestParamContexts];
    bool bControlTNMAdaptive[kTestParamContexts];
    bool bControlLBC[kTestParamContexts];
    QOR_UINT32 wbcAlgorithm[kTestParamContexts];
    QOR_UINT32 wbcCorrectionType[kTestParamContexts];

    /** The defaults of every field. */
    TEST_PARAM();
    /** Frees the strings. */
    ~TEST_PARAM();
    TEST_PARAM(const TEST_PARAM &) = delete;
    TEST_PARAM &operator=(const TEST_PARAM &) = delete;

    /** Reads the options from argv (and a file named after "-source"): 0 on success, 1 on failure or "-h". */
    int load_parameters(int argc, char **argv);
    /** Whether the set can drive that context; the first failing rule is logged. */
    bool validate(int context) const;
    /** Stores this set and the context number in the capture context. */
    void populate(TestContext &ctx, int context) const;
    /** A summary of the contexts and gaskets at debug level. */
    void printTestParameters() const;

    /** Replaces an owned string with a copy of value (null clears it). */
    static void setString(char *&field, const char *value);
};

#endif /* NORVA_GST_TESTPARAM_H */
