/*
 * What norvasrc applies to its capture contexts before each frame (white balance, image settings, flicker,
 * statistics windows, exposure), what it reads back from the control loops after each frame, and the shared
 * record "norvasrc_sensor_params" through which instances in one or several processes share exposure and gain.
 */
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <tuple>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "gstnorvasrc.h"
#include "norvacommon/userlog.h"
#include "testcontext.h"
#include "testparam.h"

#define GST_CAT_DEFAULT gst_norvasrc_debug

namespace {

constexpr const char *kSensorParamsName = "/norvasrc_sensor_params";

/** 20 · log10(gain), within the gain properties' range 0..100 dB. */
gfloat gainToDb(double gain) {
    if (!(gain > 1.0))
        return 0.0f;
    const double db = 20.0 * std::log10(gain);
    return static_cast<gfloat>(db > 100.0 ? 100.0 : db);
}

/** A statistics window in pixels from normalised edges (-1 left or bottom, +1 right or top). */
struct Window {
    unsigned x, y, width, height;
};

Window pixelWindow(float left, float right, float top, float bottom, float W, float H) {
    const auto clamp = [](float v) { return v > 0.0f ? v : 0.0f; };
    const unsigned x0 = static_cast<unsigned>(clamp(left + 1.0f) * W * 0.5f);
    const unsigned x1 = static_cast<unsigned>(clamp(right + 1.0f) * W * 0.5f);
    const unsigned y0 = static_cast<unsigned>(clamp(1.0f - top) * H * 0.5f);
    const unsigned y1 = static_cast<unsigned>(clamp(1.0f - bottom) * H * 0.5f);
    return Window{x0, y0, x0 < x1 ? x1 - x0 : 0, y0 < y1 ? y1 - y0 : 0};
}

/** Whether the application set the property (its change mark). */
bool marked(const NorvasrcProperties &p, guint id) { return p.changed[id] != 0; }

/** The focus and histogram windows of the main context, from the properties; both locks held. */
void applyWindows(const NorvasrcProperties &p, TestContext *main) {
    const float W = static_cast<float>(main->getMaxImageWidth()), H = static_cast<float>(main->getMaxImageHeight());
    const gfloat *fw = p.focus_window; // bottom, left, right, top
    const Window focus = pixelWindow(fw[1], fw[2], fw[3], fw[0], W, H);
    main->setFosROI(focus.x, focus.y, focus.width, focus.height);
    const Window hist = pixelWindow(p.exposure_auto_window_left, p.exposure_auto_window_right,
                                    p.exposure_auto_window_top, p.exposure_auto_window_bottom, W, H);
    main->setHistStatROI(hist.x, hist.y, hist.width, hist.height);
}

/** One of the image settings that each context has (brightness, contrast, saturation, sharpness, denoiser). */
void applyImageSetting(TestContext *context, guint id, gfloat value) {
    switch (id) {
    case PROP_BRIGHTNESS:
        context->setBrightness(value);
        break;
    case PROP_CONTRAST:
        context->setContrast(value);
        break;
    case PROP_SATURATION:
        context->setSaturation(value);
        break;
    case PROP_SHARPNESS:
        context->setSharpness(value);
        break;
    case PROP_DENOISER_LEVEL:
        context->setDenoiserLevel(value);
        break;
    default:
        break;
    }
}

/** What the runtime settings are made of now; main context present, both locks held. */
RuntimeInputs runtimeInputs(const NorvasrcState *state) {
    const NorvasrcProperties &p = state->props;
    RuntimeInputs in;
    in.serial = p.serial;
    in.main = state->main_context;
    in.slave = state->slave_context;
    const ISPC::Sensor *sensor = state->main_context->getSensor();
    in.sensor_state = sensor != nullptr ? static_cast<int>(sensor->getState()) : -1;
    // The values read back after every frame reach the settings only with manual exposure.
    if (!p.exposure_auto) {
        in.exposure_time = p.exposure_time;
        in.exposure_gain = p.exposure_gain_linear;
    }
    std::copy(p.focus_window, p.focus_window + 4, in.focus_window.begin());
    return in;
}

} // namespace

void gst_norvasrc_refresh_context_runtime_unlocked(GstNorvasrc *src) {
    NorvasrcState *state = src->state;
    const NorvasrcProperties &p = state->props;
    if (state->main_context == nullptr)
        return;
    // Applied again with every frame: the slave's tone-mapping weight follows the main context's, and image
    // settings the application set hold against the light-based control's.
    const bool every = state->slave_context != nullptr || marked(p, PROP_BRIGHTNESS) || marked(p, PROP_CONTRAST) ||
                       marked(p, PROP_SATURATION) || marked(p, PROP_SHARPNESS) || marked(p, PROP_DENOISER_LEVEL) ||
                       marked(p, PROP_WDR_LEVEL);
    if (every || !state->runtime_valid || !(runtimeInputs(state) == state->runtime_applied)) {
        gst_norvasrc_configure_context_runtime_unlocked(src);
        return;
    }
    // Nothing changed: the controls keep their settings (each one set again would count as new to them, and the
    // exposure control would then correct every frame instead of holding when settled). The windows are set
    // again, since the focus control moves the focus window when it starts.
    applyWindows(p, state->main_context);
}

void gst_norvasrc_configure_context_runtime_unlocked(GstNorvasrc *src) {
    NorvasrcState *state = src->state;
    const NorvasrcProperties &p = state->props;
    TestContext *main = state->main_context;
    TestContext *slave = state->slave_context;
    if (main == nullptr)
        return;

    // White balance: the slave's is the main context's control; it gets only the manual gains.
    if (p.night_mode) {
        main->setWhiteBalanceCorrectionType(0);
    } else if (p.awb_enable) {
        main->setWhiteBalanceCorrectionType(static_cast<unsigned>(p.awb_mode));
    } else {
        main->setWhiteBalanceCorrectionType(5);
        main->setRedBalance(p.red_balance);
        main->setBlueBalance(p.blue_balance);
        if (slave != nullptr) {
            slave->setRedBalance(p.red_balance);
            slave->setBlueBalance(p.blue_balance);
        }
    }

    // Image settings: every one, its default included, when the contexts are new (so that what the properties read
    // is what the frames get from the first one), then each when its value changes. One the application set is
    // applied with every call (every frame), so that it holds against the light-based control; one it never set
    // is left to that control between changes. (Every value on every call would undo the light-based control.)
    const bool fresh =
        !state->runtime_valid || state->runtime_applied.main != main || state->runtime_applied.slave != slave;
    struct ImageSetting {
        guint id;
        gfloat value;
    };
    const ImageSetting image[] = {
        {PROP_BRIGHTNESS, p.brightness},         {PROP_CONTRAST, p.contrast},
        {PROP_SATURATION, p.saturation},         {PROP_SHARPNESS, p.sharpness},
        {PROP_DENOISER_LEVEL, p.denoiser_level},
    };
    static_assert(G_N_ELEMENTS(image) + 1 == std::tuple_size<decltype(state->image_applied)>::value,
                  "one applied value per image setting and the tone-mapping level");
    const auto due = [&](size_t i, guint id, gfloat value) {
        return fresh || marked(p, id) || !(state->image_applied[i] == value);
    };
    TestContext *const contexts[] = {main, slave};
    for (size_t i = 0; i < G_N_ELEMENTS(image); ++i) {
        if (!due(i, image[i].id, image[i].value))
            continue;
        for (TestContext *context : contexts)
            if (context != nullptr)
                applyImageSetting(context, image[i].id, image[i].value);
        state->image_applied[i] = image[i].value;
    }
    for (TestContext *context : contexts)
        if (context != nullptr)
            context->enableBlackWhiteMode(p.night_mode != FALSE);
    main->enableWDRAuto(p.wdr_auto != FALSE);
    const size_t wdr = G_N_ELEMENTS(image);
    if (due(wdr, PROP_WDR_LEVEL, p.wdr_level) || p.wdr_auto) {
        main->setWDRLevel(p.wdr_level);
        if (slave != nullptr)
            slave->setWDRLevel(main->getWDRLevel());
        state->image_applied[wdr] = p.wdr_level;
    }

    switch (p.ff_mode) {
    case GST_NORVASRC_FF_OFF:
        main->enableFlickerRejection(false, 0.0);
        break;
    case GST_NORVASRC_FF_FREE50:
        main->enableFlickerRejection(true, 100.0);
        main->enableAutoFlickerRejection(false);
        break;
    case GST_NORVASRC_FF_FREE60:
        main->enableFlickerRejection(true, 120.0);
        main->enableAutoFlickerRejection(false);
        break;
    case GST_NORVASRC_FF_AUTO:
        main->enableFlickerRejection(true, 0.0);
        main->enableAutoFlickerRejection(true);
        break;
    default:
        break;
    }

    applyWindows(p, main);

    ISPC::Sensor *sensor = main->getSensor();
    if (sensor != nullptr)
        sensor->setExposureTimeStep(p.exposure_time_step);
    main->enableAutoExposure(p.exposure_auto != FALSE);
    if (p.exposure_auto) {
        main->setAeTargetBrightness(p.exposure_auto_level);
        main->setMinAeGain(p.exposure_auto_min_gain_linear);
        main->setMaxAeGain(p.exposure_auto_max_gain_linear);
        if (sensor != nullptr && p.exposure_auto_priority == GST_NORVASRC_AE_PRIORITY_LOW_NOISE)
            main->setTargetAeGain(sensor->getMinGain());
        else if (sensor != nullptr && p.exposure_auto_priority == GST_NORVASRC_AE_PRIORITY_FRAME_RATE)
            main->setTargetAeGain(sensor->getMaxGain());
        else if (p.exposure_auto_priority == GST_NORVASRC_AE_PRIORITY_TARGET_GAIN)
            main->setTargetAeGain(p.exposure_auto_target_gain_linear);
        main->setMinAeExposure(p.exposure_auto_min_time);
        main->setMaxAeExposure(p.exposure_auto_max_time);
        main->setTargetExposureTime(p.exposure_auto_target_time);
        main->enableBlcAuto(p.blc_auto != FALSE);
        main->setBlcLevel(p.blc_level);
        main->setWavelength(p.wavelength);
    } else if (sensor != nullptr && sensor->getState() == ISPC::Sensor::SENSOR_ENABLED) {
        // The manual exposure is brought within the sensor's limits here, as the sensor would do itself: the
        // sensor logs each value it has to correct, and this runs on every frame (exposure-time 0, the
        // default, is below every sensor's minimum).
        const unsigned long exposure = std::min(std::max<unsigned long>(p.exposure_time, sensor->getMinExposure()),
                                                std::max(sensor->getMinExposure(), sensor->getMaxExposure()));
        if (sensor->setExposureGain(exposure, p.exposure_gain_linear) != QOR_RES_OK)
            GST_WARNING_OBJECT(src, "Failed to set sensor exposure and gain");
    }
    state->runtime_applied = runtimeInputs(state);
    state->runtime_valid = true;
}

void gst_norvasrc_read_back_unlocked(GstNorvasrc *src) {
    NorvasrcState *state = src->state;
    NorvasrcProperties &p = state->props;
    TestContext *main = state->main_context;
    if (main == nullptr)
        return;
    // Written directly, without notification: the values change every frame.
    if (p.awb_enable) {
        p.red_balance = static_cast<gfloat>(main->getRedBalance());
        p.blue_balance = static_cast<gfloat>(main->getBlueBalance());
        p.awb_measured_temperature = static_cast<gfloat>(main->getMeasuredTemperature());
    }
    const ISPC::Sensor *sensor = main->getSensor();
    if (p.exposure_auto && sensor != nullptr) {
        const unsigned long exposure = sensor->getExposure();
        p.exposure_time = exposure > G_MAXUINT ? G_MAXUINT : static_cast<guint>(exposure);
        // Within the property's range: a gain below unity reads as 0 dB.
        const double gain = sensor->getGain();
        p.exposure_gain = gainToDb(gain);
        p.exposure_gain_linear = static_cast<gfloat>(gain);
        if (p.blc_auto)
            p.blc_level = static_cast<gfloat>(main->getBlcLevel());
        if (p.wdr_auto)
            p.wdr_level = static_cast<gfloat>(main->getWDRLevel());
    }
    p.measured_fvalue = static_cast<gfloat>(main->getAfSharpness());
}

/* ---- the shared exposure record ---- */

bool SensorParamsShm::read(SensorParams &out) const {
    if (data == nullptr) {
        QOR_LOG_ERROR("norvalib", "Shared memory object not initialized\n");
        return false;
    }
    out = *data;
    return true;
}

bool SensorParamsShm::write(const SensorParams &in) {
    if (data == nullptr) {
        QOR_LOG_ERROR("norvalib", "Shared memory object not initialized\n");
        return false;
    }
    *data = in;
    return true;
}

void SensorParamsShm::finalize() {
    if (data != nullptr) {
        munmap(data, sizeof(SensorParams));
        data = nullptr;
    }
    if (fd >= 0) {
        close(fd);
        fd = -1;
    }
    if (created) {
        if (shm_unlink(kSensorParamsName) != 0)
            perror("Failed to unlink shared memory object");
        created = false;
    }
}

namespace {

/**
 * Opens, creating it when there is none, the object at the record's name into `shm` and maps the record; an empty
 * string when it holds the record, else why not (the holder is finalized then). An object that is there already is
 * another process's, or a user's: it is mapped only when it is a shared-memory object (a regular file) holding at
 * least the record, since touching the record beyond the object's end ends the process with SIGBUS.
 */
std::string mapSensorParams(SensorParamsShm &shm, const SensorParams &initial) {
    const auto failed = [&shm](const char *what) {
        const std::string why = std::string(what) + ": " + std::strerror(errno);
        shm.finalize();
        return why;
    };
    shm.fd = shm_open(kSensorParamsName, O_RDWR | O_CREAT | O_EXCL, 0600);
    if (shm.fd >= 0) {
        shm.created = true;
        if (ftruncate(shm.fd, sizeof(SensorParams)) != 0)
            return failed("Failed to allocate shared memory object");
    } else if (errno == EEXIST) {
        shm.fd = shm_open(kSensorParamsName, O_RDWR, 0600);
        if (shm.fd < 0)
            return failed("Failed to open shared memory object");
    } else {
        return failed("Failed to create shared memory object");
    }
    struct stat st {};
    if (fstat(shm.fd, &st) != 0)
        return failed("Failed to open shared memory object");
    if (!S_ISREG(st.st_mode) || st.st_size < static_cast<off_t>(sizeof(SensorParams))) {
        char why[160];
        std::snprintf(why, sizeof why, "Shared memory object is not a record of %zu bytes (%s of %lld bytes)",
                      sizeof(SensorParams), S_ISREG(st.st_mode) ? "an object" : "not a regular file",
                      static_cast<long long>(st.st_size));
        shm.finalize();
        return why;
    }
    void *map = mmap(nullptr, sizeof(SensorParams), PROT_READ | PROT_WRITE, MAP_SHARED, shm.fd, 0);
    if (map == MAP_FAILED)
        return failed("Failed to map shared memory object");
    shm.data = static_cast<SensorParams *>(map);
    if (shm.created)
        shm.write(initial);
    return std::string();
}

} // namespace

void gst_norvasrc_open_sensor_params(GstNorvasrc *src) {
    NorvasrcState *state = src->state;
    if (state->capture_params == nullptr || !state->capture_params->bSensorExposureSync)
        return;
    // A start after a stop keeps the record it has: a second holder would leak the first and its name.
    if (state->sensor_params != nullptr)
        return;
    SensorParams initial{0, 1.0};
    gst_norvasrc_lock_contexts(src);
    const ISPC::Sensor *sensor = state->main_context != nullptr ? state->main_context->getSensor() : nullptr;
    if (sensor != nullptr)
        initial = SensorParams{static_cast<guint64>(sensor->getExposure()), sensor->getGain()};
    gst_norvasrc_unlock_contexts(src);

    SensorParamsShm *shm = new SensorParamsShm();
    const std::string why = mapSensorParams(*shm, initial);
    if (!why.empty()) {
        // An unmapped holder would be kept, and each frame would report it (twice); one warning says it all, and
        // the element streams on without sharing exposure.
        GST_ELEMENT_WARNING(src, RESOURCE, OPEN_READ_WRITE,
                            ("Exposure is not shared: cannot use the shared memory object \"%s\"", kSensorParamsName),
                            ("%s", why.c_str()));
        delete shm;
        return;
    }
    state->sensor_params = shm;
}

void gst_norvasrc_close_sensor_params(GstNorvasrc *src) {
    NorvasrcState *state = src->state;
    if (state->sensor_params != nullptr) {
        state->sensor_params->finalize();
        delete state->sensor_params;
        state->sensor_params = nullptr;
    }
}

void gst_norvasrc_read_sensor_parameters(GstNorvasrc *src) {
    NorvasrcState *state = src->state;
    if (state->sensor_params == nullptr)
        return;
    GST_OBJECT_LOCK(src);
    const bool reader = !state->props.exposure_auto;
    GST_OBJECT_UNLOCK(src);
    if (!reader)
        return;
    GST_TRACE_OBJECT(src, "Synchronizing sensor exposure & gain");
    SensorParams params{};
    if (!state->sensor_params->read(params)) {
        GST_WARNING_OBJECT(src, "Failed to read sensor parameters from shared memory");
        return;
    }
    // The record comes from another process: a gain that is not a finite positive factor is not programmed.
    if (!(params.gain > 0.0) || !std::isfinite(params.gain))
        return;
    GST_OBJECT_LOCK(src);
    state->props.exposure_time = static_cast<guint>(params.exposure);
    state->props.exposure_gain_linear = static_cast<gfloat>(params.gain);
    state->props.exposure_gain = gainToDb(params.gain);
    GST_OBJECT_UNLOCK(src);
}

void gst_norvasrc_write_sensor_parameters(GstNorvasrc *src) {
    NorvasrcState *state = src->state;
    if (state->sensor_params == nullptr)
        return;
    GST_OBJECT_LOCK(src);
    const bool writer = state->props.exposure_auto;
    const SensorParams params{state->props.exposure_time, state->props.exposure_gain_linear};
    GST_OBJECT_UNLOCK(src);
    if (!writer)
        return;
    GST_TRACE_OBJECT(src, "Writing sensor exposure & gain to shared memory");
    if (!state->sensor_params->write(params))
        GST_WARNING_OBJECT(src, "Failed to write sensor parameters to shared memory");
}
