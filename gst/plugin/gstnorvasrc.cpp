#include "gstnorvasrc.h"

#include <gst/allocators/gstdmabuf.h>

#include "gstnorvabuf.h"
#include "testcontext.h"
#include "testparam.h"

GST_DEBUG_CATEGORY(gst_norvasrc_debug);
#define GST_CAT_DEFAULT gst_norvasrc_debug

static GstStaticPadTemplate gst_norvasrc_src_template =
    GST_STATIC_PAD_TEMPLATE("src", GST_PAD_SRC, GST_PAD_ALWAYS,
                            GST_STATIC_CAPS("video/x-raw, format=(string){BGRx,RGBx,BGR,RGB,v308,NV12,NV21,NV16,NV61,"
                                            "NV12_10LE32}; "
                                            "video/x-bayer, format=(string){rggb,grbg,gbrg,bggr,rggb10nrv,grbg10nrv,"
                                            "gbrg10nrv,bggr10nrv,rggb12nrv,grbg12nrv,gbrg12nrv,bggr12nrv}"));

static guint signals[SIGNAL_LAST] = {0};

/* The class closures of the action signals and the event method (gstnorvasrc_signals.cpp). */
void gst_norvasrc_take_nrv_image(GstNorvasrc *src, gchar *file_name, gchar *save_type, guint context);
gboolean gst_norvasrc_set_fvalue_window(GstNorvasrc *src, gfloat left, gfloat top, gfloat right, gfloat bottom);
void gst_norvasrc_set_ae_time_range(GstNorvasrc *src, guint a, guint b);
void gst_norvasrc_set_ae_gain_range(GstNorvasrc *src, gfloat a, gfloat b);
gboolean gst_norvasrc_event(GstBaseSrc *base, GstEvent *event);

G_DEFINE_TYPE_WITH_CODE(GstNorvasrc, gst_norvasrc, GST_TYPE_BASE_SRC,
                        GST_DEBUG_CATEGORY_INIT(gst_norvasrc_debug, "norvasrc", 0,
                                                "debug category for norvasrc element");
                        G_IMPLEMENT_INTERFACE(GST_TYPE_NORVASRC_PROPS, gst_norvasrc_props_init);
                        G_IMPLEMENT_INTERFACE(GST_TYPE_NORVASRC_PAD_PROPS, gst_norvasrc_pad_props_init))

GstPadTemplate *gst_norvasrc_pad_template(void) { return gst_static_pad_template_get(&gst_norvasrc_src_template); }

static void gst_norvasrc_set_property(GObject *object, guint id, const GValue *value, GParamSpec *pspec) {
    GstNorvasrc *src = GST_NORVASRC(object);
    GST_DEBUG_OBJECT(src, "set_property");

    const PropertyDef *def = norvasrc_property_def(id);
    if (!def || !def->writable) {
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
        return;
    }
    GstState state = GST_STATE(src);
    if (!norvasrc_property_mutable_in(pspec, state)) {
        GST_WARNING_OBJECT(src, "Changing property '%s' when the element is in %s state", pspec->name,
                           gst_element_state_get_name(state));
        return;
    }
    GST_OBJECT_LOCK(src);
    norvasrc_property_store(src->state->props, *def, value, GST_CAT_DEFAULT, object);
    src->state->props.changed[id] = 1;
    GST_OBJECT_UNLOCK(src);
}

static void gst_norvasrc_get_property(GObject *object, guint id, GValue *value, GParamSpec *pspec) {
    GstNorvasrc *src = GST_NORVASRC(object);
    GST_DEBUG_OBJECT(src, "get_property");

    const PropertyDef *def = norvasrc_property_def(id);
    if (!def) {
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
        return;
    }
    GST_OBJECT_LOCK(src);
    norvasrc_property_load(src->state->props, *def, value);
    GST_OBJECT_UNLOCK(src);
}

void gst_norvasrc_set_sensor(GstNorvasrc *src, const gchar *name) {
    GST_DEBUG_OBJECT(src, "Sensor name is %s", name ? name : "(null)");
    g_free(src->state->props.sensor);
    src->state->props.sensor = g_strdup(name);
}

void gst_norvasrc_set_setup_file_ctx(GstNorvasrc *src, const gchar *path, guint context) {
    g_return_if_fail(context < G_N_ELEMENTS(src->state->props.setup_file_ctx));
    GST_DEBUG_OBJECT(src, "Context %u extra setup file is %s", context, path ? path : "(null)");
    g_free(src->state->props.setup_file_ctx[context]);
    src->state->props.setup_file_ctx[context] = g_strdup(path);
}

void gst_norvasrc_emit_sensor_row_time(GstNorvasrc *src, guint64 row_time) {
    g_signal_emit(src, signals[SIGNAL_SENSOR_ROW_TIME], 0, row_time);
}

static GstStateChangeReturn gst_norvasrc_change_state(GstElement *element, GstStateChange transition) {
    GstNorvasrc *src = GST_NORVASRC(element);
    GST_DEBUG_OBJECT(src, "changing state: %s => %s",
                     gst_element_state_get_name(GST_STATE_TRANSITION_CURRENT(transition)),
                     gst_element_state_get_name(GST_STATE_TRANSITION_NEXT(transition)));
    if (transition == GST_STATE_CHANGE_NULL_TO_READY && !gst_norvasrc_create_context(src))
        return GST_STATE_CHANGE_FAILURE;

    const GstStateChangeReturn result = GST_ELEMENT_CLASS(gst_norvasrc_parent_class)->change_state(element, transition);

    // Back in NULL the element holds no device, buffer or sensor: another element may take the context.
    if (transition == GST_STATE_CHANGE_READY_TO_NULL)
        gst_norvasrc_release_contexts(src, FALSE);
    return result;
}

static gboolean gst_norvasrc_start(GstBaseSrc *base) {
    GstNorvasrc *src = GST_NORVASRC(base);
    NorvasrcState *state = src->state;
    g_atomic_int_set(&state->flushing, 0);
    GST_DEBUG_OBJECT(src, "start");
    if (state->main_context == nullptr) {
        GST_ERROR_OBJECT(src, "Context is not initialized");
        return FALSE;
    }
    if (state->allocator != nullptr) {
        GST_ERROR_OBJECT(src, "Allocator is initialized already");
        return FALSE;
    }
    GST_OBJECT_LOCK(src);
    const bool dmabuf = state->props.use_dmabuf && !state->props.use_mapped_dmabuf;
    GST_OBJECT_UNLOCK(src);
    state->allocator = dmabuf ? gst_dmabuf_allocator_new() : gst_norvabuf_allocator_new();
    if (state->allocator == nullptr) {
        GST_ERROR_OBJECT(src, "Failed to create allocator");
        return FALSE;
    }
    gst_norvasrc_open_sensor_params(src);
    GST_OBJECT_LOCK(src);
    state->shot_counter = 0;
    GST_OBJECT_UNLOCK(src);
    g_mutex_lock(&state->mutex);
    state->fetching = 0;
    g_mutex_unlock(&state->mutex);
    if (!gst_norvasrc_own_pad_released(src))
        gst_norvasrc_open_queue(src, nullptr);
    return TRUE;
}

static gboolean gst_norvasrc_stop(GstBaseSrc *base) { return gst_norvasrc_stop_common(GST_NORVASRC(base), nullptr); }

static gboolean gst_norvasrc_decide_allocation(GstBaseSrc *base, GstQuery *query) {
    if (!gst_norvasrc_decide_layout(GST_NORVASRC(base), nullptr, query))
        return FALSE;
    return GST_BASE_SRC_CLASS(gst_norvasrc_parent_class)->decide_allocation(base, query);
}

static gboolean gst_norvasrc_unlock(GstBaseSrc *base) {
    GstNorvasrc *src = GST_NORVASRC(base);
    GST_DEBUG_OBJECT(src, "unlock");
    g_atomic_int_set(&src->state->flushing, 1);
    gst_norvasrc_wake_waiters(src);
    return TRUE;
}

static gboolean gst_norvasrc_unlock_stop(GstBaseSrc *base) {
    GstNorvasrc *src = GST_NORVASRC(base);
    GST_DEBUG_OBJECT(src, "unlock_stop");
    g_atomic_int_set(&src->state->flushing, 0);
    return TRUE;
}

/** A released own pad has no branch to agree caps with: it keeps its caps and leaves the outputs to the proxies. */
static gboolean gst_norvasrc_negotiate_own_pad(GstBaseSrc *base) {
    GstNorvasrc *src = GST_NORVASRC(base);
    if (gst_norvasrc_own_pad_released(src))
        return TRUE;
    const gboolean result = gst_norvasrc_negotiate(base);
    gst_norvasrc_negotiated(src, nullptr);
    return result;
}

static gboolean gst_norvasrc_query(GstBaseSrc *base, GstQuery *query) {
    GstNorvasrc *src = GST_NORVASRC(base);
    if (GST_QUERY_TYPE(query) == GST_QUERY_LATENCY && src->state->frame_duration != 0) {
        // A frame is timestamped when its capture completed: it reaches downstream at least one period later.
        gst_query_set_latency(query, TRUE, src->state->frame_duration, GST_CLOCK_TIME_NONE);
        return TRUE;
    }
    return GST_BASE_SRC_CLASS(gst_norvasrc_parent_class)->query(base, query);
}

static void gst_norvasrc_finalize(GObject *object) {
    GstNorvasrc *src = GST_NORVASRC(object);
    NorvasrcState *state = src->state;
    GST_DEBUG_OBJECT(src, "finalize");
    gst_norvasrc_track(src, FALSE);
    // Queued frames still find their contexts; then the contexts go, then the shared exposure record.
    gst_norvasrc_frames_clear(src);
    gst_norvasrc_release_contexts(src, TRUE);
    delete state->capture_params;
    state->capture_params = nullptr;
    gst_norvasrc_close_sensor_params(src);
    norvasrc_properties_clear(state->props);
    g_free(state->save_file);
    g_free(state->save_type);
    if (state->allocator)
        gst_object_unref(state->allocator);
    g_mutex_clear(&state->mutex);
    g_mutex_clear(&state->context_lock);
    g_cond_clear(&state->shot_released);
    g_cond_clear(&state->queue_filled);
    g_cond_clear(&state->buffers_allocated);
    delete state;
    src->state = nullptr;
    G_OBJECT_CLASS(gst_norvasrc_parent_class)->finalize(object);
}

static void gst_norvasrc_class_init(GstNorvasrcClass *klass) {
    GObjectClass *gobject_class = G_OBJECT_CLASS(klass);
    GstElementClass *element_class = GST_ELEMENT_CLASS(klass);

    gst_element_class_add_pad_template(element_class, gst_norvasrc_pad_template());
    gst_element_class_set_static_metadata(element_class, "Norva video source", "Source/Video", "Reads frames from ISP",
                                          "The norva developers");

    gobject_class->set_property = gst_norvasrc_set_property;
    gobject_class->get_property = gst_norvasrc_get_property;
    norvasrc_properties_override(gobject_class);

    klass->set_ae_gain_range = gst_norvasrc_set_ae_gain_range;
    klass->set_ae_time_range = gst_norvasrc_set_ae_time_range;
    klass->take_nrv_image = gst_norvasrc_take_nrv_image;
    klass->set_fvalue_window = gst_norvasrc_set_fvalue_window;
    const GType type = G_TYPE_FROM_CLASS(klass);
    const GSignalFlags action = static_cast<GSignalFlags>(G_SIGNAL_RUN_LAST | G_SIGNAL_ACTION);
    g_signal_new("set-exposure-auto-gain-range", type, action, G_STRUCT_OFFSET(GstNorvasrcClass, set_ae_gain_range),
                 nullptr, nullptr, nullptr, G_TYPE_NONE, 2, G_TYPE_FLOAT, G_TYPE_FLOAT);
    g_signal_new("set-exposure-auto-time-range", type, action, G_STRUCT_OFFSET(GstNorvasrcClass, set_ae_time_range),
                 nullptr, nullptr, nullptr, G_TYPE_NONE, 2, G_TYPE_UINT, G_TYPE_UINT);
    g_signal_new("take-nrv-image", type, action, G_STRUCT_OFFSET(GstNorvasrcClass, take_nrv_image), nullptr, nullptr,
                 nullptr, G_TYPE_NONE, 3, G_TYPE_STRING, G_TYPE_STRING, G_TYPE_UINT);
    g_signal_new("set-fvalue-window", type, action, G_STRUCT_OFFSET(GstNorvasrcClass, set_fvalue_window), nullptr,
                 nullptr, nullptr, G_TYPE_BOOLEAN, 4, G_TYPE_FLOAT, G_TYPE_FLOAT, G_TYPE_FLOAT, G_TYPE_FLOAT);
    signals[SIGNAL_IMAGE_READY] = g_signal_new("image-ready", type, G_SIGNAL_RUN_LAST, 0, nullptr, nullptr, nullptr,
                                               G_TYPE_NONE, 1, G_TYPE_BOOLEAN);
    signals[SIGNAL_SENSOR_ROW_TIME] = g_signal_new("sensor-row-time", type, G_SIGNAL_RUN_LAST, 0, nullptr, nullptr,
                                                   nullptr, G_TYPE_NONE, 1, G_TYPE_UINT64);

    gobject_class->finalize = gst_norvasrc_finalize;
    element_class->change_state = GST_DEBUG_FUNCPTR(gst_norvasrc_change_state);

    GstBaseSrcClass *base_class = GST_BASE_SRC_CLASS(klass);
    base_class->start = GST_DEBUG_FUNCPTR(gst_norvasrc_start);
    base_class->stop = GST_DEBUG_FUNCPTR(gst_norvasrc_stop);
    base_class->unlock = GST_DEBUG_FUNCPTR(gst_norvasrc_unlock);
    base_class->unlock_stop = GST_DEBUG_FUNCPTR(gst_norvasrc_unlock_stop);
    base_class->negotiate = GST_DEBUG_FUNCPTR(gst_norvasrc_negotiate_own_pad);
    base_class->create = GST_DEBUG_FUNCPTR(gst_norvasrc_create);
    base_class->decide_allocation = GST_DEBUG_FUNCPTR(gst_norvasrc_decide_allocation);
    base_class->query = GST_DEBUG_FUNCPTR(gst_norvasrc_query);
    base_class->event = GST_DEBUG_FUNCPTR(gst_norvasrc_event);
}

static void gst_norvasrc_init(GstNorvasrc *src) {
    GST_DEBUG_OBJECT(src, "gst_norva_src_init");
    gst_base_src_set_format(GST_BASE_SRC(src), GST_FORMAT_TIME);
    gst_base_src_set_live(GST_BASE_SRC(src), TRUE);

    NorvasrcState *state = new NorvasrcState();
    src->state = state;
    gst_norva_video_info_init(&state->video_id.vinfo);
    state->video_id.context = 0;
    gst_norvasrc_frames_init(src);

    norvasrc_properties_init(state->props);

    g_mutex_init(&state->mutex);
    g_mutex_init(&state->context_lock);
    g_cond_init(&state->shot_released);
    g_cond_init(&state->queue_filled);
    g_cond_init(&state->buffers_allocated);

    gst_norva_bounds_init(&state->props.bounds);
    gst_norvasrc_track(src, TRUE);
}
