/*
 * norvasrc's action signals and upstream events: the pending image-save request and the save of the next shot,
 * the focus window, the exposure-time and gain ranges of auto exposure, and the iris status that a downstream
 * element reports with the upstream event "fnum-status".
 */
#include <chrono>
#include <cmath>
#include <string>

#include "gstnorvasrc.h"
#include "ispc/ControlAE.h"
#include "testcontext.h"

#define GST_CAT_DEFAULT gst_norvasrc_debug

namespace {

/** Stores a value through the property table, as set_property does, but without change mark or notification. */
template <typename T> void storeDirect(GstNorvasrc *src, guint id, GType type, T v, void (*set)(GValue *, T)) {
    GValue value = G_VALUE_INIT;
    g_value_init(&value, type);
    set(&value, v);
    norvasrc_property_store(src->state->props, *norvasrc_property_def(id), &value, GST_CAT_DEFAULT, G_OBJECT(src));
    g_value_unset(&value);
}

/** An F-number the exposure control can divide by: finite and above zero. */
bool validFNumber(double f) { return std::isfinite(f) && f > 0.0; }

/** The iris status of an "fnum-status" structure; absent fields, or fields of another type, keep the default. */
ISPC::FNumberStatus fnumberStatusOf(const GstStructure *s) {
    ISPC::FNumberStatus status;
    gboolean flag = FALSE;
    if (gst_structure_get_boolean(s, "is-auto", &flag))
        status.isAuto = flag != FALSE;
    flag = FALSE;
    if (gst_structure_get_boolean(s, "is-moving", &flag))
        status.isMoving = flag != FALSE;
    guint64 ns = 0;
    if (gst_structure_get_uint64(s, "timestamp", &ns))
        status.timestamp = std::chrono::steady_clock::time_point(std::chrono::nanoseconds(ns));
    const struct {
        const char *field;
        double *value;
    } numbers[] = {{"position", &status.current}, {"minimum", &status.minimum},  {"auto-min", &status.autoMin},
                   {"auto-max", &status.autoMax}, {"next-min", &status.nextMin}, {"next-max", &status.nextMax}};
    for (const auto &n : numbers)
        (void)gst_structure_get_double(s, n.field, n.value);
    return status;
}

} // namespace

void gst_norvasrc_take_nrv_image(GstNorvasrc *src, gchar *file_name, gchar *save_type, guint context) {
    GST_DEBUG_OBJECT(src, "take_nrv_image");
    // The save runs later on a streaming thread, which could not report a missing name back to the caller.
    g_return_if_fail(file_name != nullptr);
    g_return_if_fail(save_type != nullptr);
    NorvasrcState *state = src->state;
    GST_OBJECT_LOCK(src);
    g_free(state->save_file);
    g_free(state->save_type);
    state->save_file = g_strdup(file_name);
    state->save_type = g_strdup(save_type);
    state->save_context = context;
    state->save_pending = TRUE;
    GST_OBJECT_UNLOCK(src);
}

gboolean gst_norvasrc_set_fvalue_window(GstNorvasrc *src, gfloat left, gfloat top, gfloat right, gfloat bottom) {
    GST_DEBUG_OBJECT(src, "set_fvalue_window");
    // The negated comparisons refuse NaN as well.
    for (const gfloat v : {left, top, right, bottom}) {
        if (!(std::fabs(v) <= 1.0f))
            return FALSE;
    }
    if (!(top > bottom) || !(right > left))
        return FALSE;
    GST_OBJECT_LOCK(src);
    gfloat *window = src->state->props.focus_window;
    window[0] = bottom;
    window[1] = left;
    window[2] = right;
    window[3] = top;
    GST_OBJECT_UNLOCK(src);
    return TRUE;
}

void gst_norvasrc_set_ae_time_range(GstNorvasrc *src, guint a, guint b) {
    GST_DEBUG_OBJECT(src, "set_ae_time_range");
    GST_OBJECT_LOCK(src);
    storeDirect(src, PROP_EXPOSURE_AUTO_MIN_TIME, G_TYPE_UINT, MIN(a, b), g_value_set_uint);
    storeDirect(src, PROP_EXPOSURE_AUTO_MAX_TIME, G_TYPE_UINT, MAX(a, b), g_value_set_uint);
    GST_OBJECT_UNLOCK(src);
}

void gst_norvasrc_set_ae_gain_range(GstNorvasrc *src, gfloat a, gfloat b) {
    GST_DEBUG_OBJECT(src, "set_ae_gain_range");
    // The signal stores without the properties' range check: a gain that is not a number never reaches the exposure
    // control, and the others are held to the properties' range.
    if (std::isnan(a) || std::isnan(b)) {
        GST_WARNING_OBJECT(src, "set-exposure-auto-gain-range: %g, %g is not a gain range; the range is unchanged", a,
                           b);
        return;
    }
    const GParamSpecFloat *limits = G_PARAM_SPEC_FLOAT(g_object_class_find_property(
        G_OBJECT_GET_CLASS(src), norvasrc_property_def(PROP_EXPOSURE_AUTO_MIN_GAIN)->name));
    a = CLAMP(a, limits->minimum, limits->maximum);
    b = CLAMP(b, limits->minimum, limits->maximum);
    GST_OBJECT_LOCK(src);
    storeDirect(src, PROP_EXPOSURE_AUTO_MIN_GAIN, G_TYPE_FLOAT, MIN(a, b), g_value_set_float);
    storeDirect(src, PROP_EXPOSURE_AUTO_MAX_GAIN, G_TYPE_FLOAT, MAX(a, b), g_value_set_float);
    GST_OBJECT_UNLOCK(src);
}

void gst_norvasrc_offer_shot_for_save(GstNorvasrc *src, const CombinedShot &combined) {
    NorvasrcState *state = src->state;
    gst_norvasrc_lock_contexts(src);
    if (!state->save_pending) {
        gst_norvasrc_unlock_contexts(src);
        return;
    }
    // The first shot after the request consumes it, whatever the outcome.
    state->save_pending = FALSE;
    gchar *file_name = state->save_file;
    gchar *save_type = state->save_type;
    state->save_file = nullptr;
    state->save_type = nullptr;
    const guint context = state->save_context;

    // The context is read and written under the context lock, like every call into a capture context: another
    // pad may be renegotiating. Property values do not wait for the file. The streaming thread that fetched the
    // shot writes the file before any pad delivers the frame.
    const bool main = context == state->props.context;
    GST_OBJECT_UNLOCK(src);
    TestContext *capture = main ? state->main_context : state->slave_context;
    const ISPC::Shot *shot = main ? &combined.main : combined.hasSlave ? &combined.slave : nullptr;
    gboolean saved = FALSE;
    ISPC::Save::SaveType type = ISPC::Save::Bayer;
    if (capture == nullptr || shot == nullptr) {
        GST_ERROR_OBJECT(src, "Failed to get camera object from %d context", context);
    } else if (!SaveTypeFromString(save_type, type)) {
        GST_ERROR_OBJECT(src, "Failed to find type %s\n", save_type);
    } else {
        saved = capture->saveImage(*shot, file_name, type) ? TRUE : FALSE;
    }
    g_mutex_unlock(&state->context_lock);
    g_free(file_name);
    g_free(save_type);
    g_signal_emit_by_name(src, "image-ready", saved);
}

gboolean gst_norvasrc_handle_event(GstNorvasrc *src, GstEvent *event) {
    GST_DEBUG_OBJECT(src, "event");
    NorvasrcState *state = src->state;
    gst_norvasrc_lock_contexts(src);
    const GstStructure *s = gst_event_get_structure(event);
    if (state->main_context == nullptr || GST_EVENT_TYPE(event) != GST_EVENT_CUSTOM_UPSTREAM || s == nullptr ||
        !gst_structure_has_name(s, "fnum-status")) {
        gst_norvasrc_unlock_contexts(src);
        return FALSE;
    }
    const ISPC::FNumberStatus status = fnumberStatusOf(s);
    // The exposure control divides by these F-numbers: a status with one that is not positive is not used.
    for (const double f :
         {status.current, status.minimum, status.autoMin, status.autoMax, status.nextMin, status.nextMax}) {
        if (!validFNumber(f)) {
            gst_norvasrc_unlock_contexts(src);
            GST_ELEMENT_WARNING(src, STREAM, FAILED, ("Iris status refused: F-number %g", f),
                                ("every F-number of \"fnum-status\" must be positive"));
            return FALSE;
        }
    }
    state->main_context->updateFNumber(status);
    gst_norvasrc_unlock_contexts(src);
    return TRUE;
}

gboolean gst_norvasrc_event(GstBaseSrc *base, GstEvent *event) {
    if (gst_norvasrc_handle_event(GST_NORVASRC(base), event))
        return TRUE;
    return GST_BASE_SRC_CLASS(g_type_class_peek(GST_TYPE_BASE_SRC))->event(base, event);
}
