/*
 * norvasrc's life between NULL and READY: the capture parameters assembled from the parameter file and the
 * properties, the main capture context built from them, and its teardown when the element goes back to NULL.
 */
#include <cmath>
#include <cstring>
#include <mutex>
#include <string>

#include <glib/gstdio.h>
#include <unistd.h>

#include "gstnorvasrc.h"
#include "ispc/Sensor.h"
#include "norvacommon/userlog.h"
#include "testcontext.h"
#include "testparam.h"

#define GST_CAT_DEFAULT gst_norvasrc_debug

namespace {

/** The name every prefix of which (the empty name included) selects the data-generator camera. */
constexpr const char *kDataGeneratorName = "DOR Idazida";

bool namesDataGenerator(const char *name) {
    const char *n = name != nullptr ? name : "";
    const size_t length = std::strlen(n);
    return length <= std::strlen(kDataGeneratorName) && std::strncmp(n, kDataGeneratorName, length) == 0;
}

/** The parameter file named by GST_NORVASRC_PARAMS_FILE, read once per process; empty when unset. */
const std::string &paramsFileName() {
    static std::once_flag once;
    static std::string name;
    std::call_once(once, [] {
        const char *value = g_getenv("GST_NORVASRC_PARAMS_FILE");
        if (value != nullptr)
            name = value;
    });
    return name;
}

/** a joined with ":" to b; either may be null or empty. */
std::string joinFiles(const gchar *a, const gchar *b) {
    std::string joined = a != nullptr ? a : "";
    if (b != nullptr && *b != '\0') {
        if (!joined.empty())
            joined += ":";
        joined += b;
    }
    return joined;
}

/** 20 · log10(gain), clamped to the gain properties' range 0..100 dB. */
gfloat gainToDb(double gain) {
    if (!(gain > 1.0))
        return 0.0f;
    const double db = 20.0 * std::log10(gain);
    return static_cast<gfloat>(db > 100.0 ? 100.0 : db);
}

bool isSensorFlip(QOR_UINT32 v) { return v <= GST_NORVASRC_FLIP_BOTH; }
bool isAwbAlgorithm(QOR_UINT32 v) {
    return v >= GST_NORVASRC_AWB_ALGORITHM_NORMAL && v <= GST_NORVASRC_AWB_ALGORITHM_PLANCKIAN;
}
constexpr QOR_UINT32 kAwbModeOff = 5;
bool isAwbMode(QOR_UINT32 v) { return v >= GST_NORVASRC_AWB_MODE_AVERAGE && v <= GST_NORVASRC_AWB_MODE_COMBINED; }

/**
 * Merges properties and capture parameters: a property the application set wins; otherwise, with a parameter
 * file, the file's value goes into the property; without one, the property's value goes into the parameter.
 * Called with the object lock held.
 */
void mergeParameters(GstNorvasrc *src, TEST_PARAM &param, bool file) {
    NorvasrcProperties &p = src->state->props;
    const auto set = [&](guint id) { return p.changed[id] != 0; };
    const auto wins = [&](guint id) { return set(id) || !file; };
    const guint c = p.context;

    if (wins(PROP_SENSOR) && p.sensor != nullptr) {
        TEST_PARAM::setString(param.sensorName[c], p.sensor);
        if (param.nSensors == 0)
            param.nSensors = 1;
    } else if (param.sensorName[c] != nullptr) {
        gst_norvasrc_set_sensor(src, param.sensorName[c]);
    }

    if (wins(PROP_SENSOR_MODE))
        param.sensorMode[c] = p.sensor_mode;
    else
        p.sensor_mode = param.sensorMode[c];

    if (!isSensorFlip(param.sensorFlip[c]))
        param.sensorFlip[c] = 0;
    if (wins(PROP_SENSOR_FLIP))
        param.sensorFlip[c] = static_cast<QOR_UINT32>(p.sensor_flip);
    else
        p.sensor_flip = static_cast<gint>(param.sensorFlip[c]);

    for (guint n = 0; n < kTestParamContexts; ++n) {
        const guint perContext = n == 0 ? PROP_SETUP_FILE_CTX0 : PROP_SETUP_FILE_CTX1;
        const gchar *extra = p.setup_file_ctx[n];
        if (wins(PROP_SETUP_FILE) && p.setup_file != nullptr) {
            TEST_PARAM::setString(param.setupFiles[n], joinFiles(p.setup_file, extra).c_str());
        } else if (wins(perContext) && extra != nullptr) {
            TEST_PARAM::setString(param.setupFiles[n], joinFiles(p.setup_file, extra).c_str());
        } else if (param.setupFiles[n] != nullptr) {
            gst_norvasrc_set_setup_file_ctx(src, param.setupFiles[n], n);
        }
    }

    if (wins(PROP_ALLOC_BUFFERS))
        param.nBuffers[0] = param.nBuffers[1] = p.alloc_buffers;
    else
        p.alloc_buffers = param.nBuffers[c];
    if (wins(PROP_PREENQ_BUFFERS))
        param.nPreenqBuffers[0] = param.nPreenqBuffers[1] = p.preenq_buffers;
    else
        p.preenq_buffers = param.nPreenqBuffers[c];

    if (wins(PROP_USE_DMABUF))
        param.bUseDmabuf = p.use_dmabuf != FALSE;
    else
        p.use_dmabuf = param.bUseDmabuf ? TRUE : FALSE;
    param.bMapDmabuf = p.use_mapped_dmabuf != FALSE;

    if (wins(PROP_EXPOSURE_AUTO))
        param.bControlAE[c] = p.exposure_auto != FALSE;
    else
        p.exposure_auto = param.bControlAE[c] ? TRUE : FALSE;
    if (wins(PROP_EXPOSURE_GAIN)) {
        param.sensorGain[c] = p.exposure_gain_linear;
    } else {
        p.exposure_gain_linear = param.sensorGain[c];
        p.exposure_gain = gainToDb(param.sensorGain[c]);
    }
    if (wins(PROP_EXPOSURE_TIME))
        param.sensorExposure[c] = p.exposure_time;
    else
        p.exposure_time = param.sensorExposure[c];

    QOR_UINT32 &algorithm = param.wbcAlgorithm[c];
    QOR_UINT32 &mode = param.wbcCorrectionType[c];
    if (!isAwbAlgorithm(algorithm))
        algorithm = GST_NORVASRC_AWB_ALGORITHM_NORMAL;
    if (!isAwbMode(mode) && mode != kAwbModeOff)
        mode = kAwbModeOff;
    if (set(PROP_AWB_ENABLE) || !file) {
        if (mode == kAwbModeOff)
            mode = GST_NORVASRC_AWB_MODE_AVERAGE;
    } else {
        p.awb_enable = mode != kAwbModeOff ? TRUE : FALSE;
    }
    if (wins(PROP_AWB_ALGORITHM))
        algorithm = static_cast<QOR_UINT32>(p.awb_algorithm);
    else
        p.awb_algorithm = static_cast<gint>(algorithm);
    if (wins(PROP_AWB_MODE))
        mode = p.awb_enable ? static_cast<QOR_UINT32>(p.awb_mode) : kAwbModeOff;
    else if (mode != kAwbModeOff)
        p.awb_mode = static_cast<gint>(mode);

    const guint other = c == 0 ? 1 : 0;
    param.imager[other] = param.imager[c];
    param.bNoWrite = true;
}

/** The first setup file of the ":"-separated list that cannot be read, or empty when all can. */
std::string missingSetupFile(const char *files) {
    if (files == nullptr)
        return std::string();
    gchar **names = g_strsplit(files, ":", -1);
    std::string missing;
    for (gchar **n = names; *n != nullptr && missing.empty(); ++n) {
        if (**n != '\0' && (!g_file_test(*n, G_FILE_TEST_IS_REGULAR) || g_access(*n, R_OK) != 0))
            missing = *n;
    }
    g_strfreev(names);
    return missing;
}

/**
 * Why context c could not be configured, in the words a user acts on: the capture context logs only its own
 * steps. The causes are tried in the order the context meets them: the camera of the sensor, then the setup files.
 */
gchar *configureFailureDetail(const TEST_PARAM &param, guint c, bool *userError) {
    const char *sensor = param.sensorName[c] != nullptr ? param.sensorName[c] : "";
    *userError = true;
    if (!namesDataGenerator(sensor) && ISPC::Sensor::GetSensorId(sensor) < 0)
        return g_strdup_printf("Unknown sensor \"%s\".", sensor);
    const std::string missing = missingSetupFile(param.setupFiles[c]);
    if (!missing.empty())
        return g_strdup_printf("Setup file \"%s\" cannot be read.", missing.c_str());
    *userError = false;
    return g_strdup_printf("Cannot set up context %u with sensor \"%s\".", c, sensor);
}

} // namespace

void gst_norvasrc_destroy_contexts_unlocked(GstNorvasrc *src) {
    NorvasrcState *state = src->state;
    // A slave context detaches its pipeline from the main context's controls: it goes first.
    gst_norvasrc_lock_contexts(src);
    delete state->slave_context;
    state->slave_context = nullptr;
    delete state->main_context;
    state->main_context = nullptr;
    ++state->pool.generation;     // shots still held went with their cameras
    state->runtime_valid = false; // new contexts get every setting
    gst_norvasrc_unlock_contexts(src);
}

void gst_norvasrc_release_contexts(GstNorvasrc *src, gboolean force) {
    NorvasrcState *state = src->state;
    bool destroy = true;
    {
        std::lock_guard<std::mutex> guard(state->pool.lock);
        if (state->pool.live > 0 && !force) {
            // Memories downstream still show capture buffers: the last one returned destroys the contexts.
            GST_DEBUG_OBJECT(src, "%u shots held downstream: contexts released with the last", state->pool.live);
            state->pool.release_pending = true;
            destroy = false;
        } else {
            state->pool.release_pending = false;
        }
    }
    if (destroy)
        gst_norvasrc_destroy_contexts_unlocked(src);
}

gboolean gst_norvasrc_create_context(GstNorvasrc *src) {
    NorvasrcState *state = src->state;
    GST_DEBUG_OBJECT(src, "create_context");
    GST_DEBUG_OBJECT(src, "gst_norva_load_parameters");

    gst_norvasrc_release_contexts(src, TRUE);
    delete state->capture_params;
    state->capture_params = new TEST_PARAM();
    TEST_PARAM &param = *state->capture_params;

    const std::string &file = paramsFileName();
    if (!file.empty()) {
        std::string program, option = "-source", name = file;
        char *argv[] = {&program[0], &option[0], &name[0], nullptr};
        if (param.load_parameters(3, argv) > 0) {
            GST_ERROR_OBJECT(src, "Error has occurred while loading parameters\n");
            GST_ERROR_OBJECT(src, "Error has occurred while loading parameters");
            GST_ELEMENT_ERROR(src, RESOURCE, SETTINGS, ("Error has occurred while loading parameters"),
                              ("Cannot load the parameter file \"%s\".", file.c_str()));
            delete state->capture_params;
            state->capture_params = nullptr;
            return FALSE;
        }
    }

    GST_OBJECT_LOCK(src);
    mergeParameters(src, param, !file.empty());
    const guint c = state->props.context;
    GST_OBJECT_UNLOCK(src);

    const char *sensor = param.sensorName[c];
    TestContext *context = new TestContext();
    LOG_SetLevel(1);
    state->main_context = context;
    if (!context->preconfigure(param, c)) {
        GST_ERROR_OBJECT(src, "Failed to configure context %u", c);
        bool userError = false;
        gchar *detail = configureFailureDetail(param, c, &userError);
        if (userError)
            GST_ELEMENT_ERROR(src, RESOURCE, NOT_FOUND, ("Failed to configure context %u", c), ("%s", detail));
        else
            GST_ELEMENT_ERROR(src, RESOURCE, SETTINGS, ("Failed to configure context %u", c), ("%s", detail));
        g_free(detail);
        gst_norvasrc_release_contexts(src, TRUE);
        return FALSE;
    }

    const ISPC::Sensor *s = context->getSensor();
    if (s == nullptr || !(s->flFrameRate > 0.0) || !std::isfinite(s->flFrameRate)) {
        const double rate = s != nullptr ? s->flFrameRate : 0.0;
        GST_ELEMENT_ERROR(src, RESOURCE, SETTINGS,
                          ("Sensor \"%s\" reports frame rate %g.", sensor != nullptr ? sensor : "", rate),
                          ("Sensor frame rate must be positive"));
        gst_norvasrc_release_contexts(src, TRUE);
        return FALSE;
    }
    state->frame_duration = static_cast<GstClockTime>(1.0 / s->flFrameRate * 1e9);
    GST_INFO_OBJECT(src, "Frame duration: %" G_GUINT64_FORMAT, state->frame_duration);

    GST_OBJECT_LOCK(src);
    NorvasrcProperties &p = state->props;
    p.exposure_min_gain = gainToDb(s->getMinGain());
    p.exposure_max_gain = gainToDb(s->getMaxGain());
    p.exposure_min_time = static_cast<guint>(s->getMinExposure());
    p.exposure_max_time = static_cast<guint>(s->getMaxExposure());
    GST_INFO_OBJECT(src, "Exposure gain/time limits: [%g, %g] dB, [%u, %u] us", p.exposure_min_gain,
                    p.exposure_max_gain, p.exposure_min_time, p.exposure_max_time);
    GST_OBJECT_UNLOCK(src);

    const guint64 rowTime = static_cast<guint64>(s->flTrow * 1000.0);
    GST_INFO_OBJECT(src, "Sensor row time: %" G_GUINT64_FORMAT " ns", rowTime);
    gst_norvasrc_emit_sensor_row_time(src, rowTime);
    return TRUE;
}
