/*
 * norvamultisrc: a bin around one internal norvasrc that offers request pads "src_%u". The first pad is served
 * by the internal norvasrc, every further one by a norvaproxysrc that takes its frames from it, so that every
 * frame of the one capture reaches every branch. The capture properties and action signals of the bin are those
 * of the internal norvasrc; the bin's children under GstChildProxy are its pads, so that a pad's properties can
 * be set through the bin ("src_1::context").
 */
#include "gstnorvamultisrc.h"

#include "gstnorvamultisrcpad.h"
#include "gstnorvaproxysrc.h"
#include "gstnorvasrcprops.h"
#include "testparam.h"

GST_DEBUG_CATEGORY(gst_norvamultisrc_debug);
#define GST_CAT_DEFAULT gst_norvamultisrc_debug

namespace {

enum MultiPropId : guint {
    MULTI_PROP_0,
    MULTI_PROP_BUF_MODE = 1,
    MULTI_PROP_DMABUF_FD_LIST = 2,
    MULTI_PROP_DMABUF_SIZE = 3,
    MULTI_PROP_BOUNDS_X = 6,
    MULTI_PROP_BOUNDS_Y = 7,
    MULTI_PROP_BOUNDS_WIDTH = 8,
    MULTI_PROP_BOUNDS_HEIGHT = 9,
    MULTI_PROP_FORWARDED = 10, /**< the element properties of norvasrc, one id each from here */
};

enum MultiSignal { MULTI_SIGNAL_IMAGE_READY = 0, MULTI_SIGNAL_SENSOR_ROW_TIME = 1, MULTI_SIGNAL_LAST };

guint g_signals[MULTI_SIGNAL_LAST] = {0};

/** Names of the forwarded properties by id - MULTI_PROP_FORWARDED; set once by class_init. */
const gchar *g_forwarded[PROP_LAST] = {nullptr};
guint g_forwardedCount = 0;

GstStaticPadTemplate g_srcTemplate =
    GST_STATIC_PAD_TEMPLATE("src_%u", GST_PAD_SRC, GST_PAD_REQUEST, GST_STATIC_CAPS_ANY);

void imageReady(GstElement *, gboolean saved, gpointer multisrc) {
    g_signal_emit(multisrc, g_signals[MULTI_SIGNAL_IMAGE_READY], 0, saved);
}

void sensorRowTime(GstElement *, guint64 rowTime, gpointer multisrc) {
    g_signal_emit(multisrc, g_signals[MULTI_SIGNAL_SENSOR_ROW_TIME], 0, rowTime);
}

/** A pad requested while the bin streams: its element joins the bin's state once the pad is linked, not before. */
void startWhenLinked(GstPad *pad, GstPad *, gpointer element) {
    g_signal_handlers_disconnect_by_func(pad, reinterpret_cast<gpointer>(startWhenLinked), element);
    if (!gst_element_sync_state_with_parent(GST_ELEMENT(element)))
        GST_ERROR_OBJECT(pad, "Failed to start %s", GST_OBJECT_NAME(element));
}

/** Brings a child to NULL whatever the bin's state, and takes it out of the bin. */
void stopAndRemove(GstBin *bin, GstElement *child) {
    gst_element_set_locked_state(child, TRUE);
    gst_element_set_state(child, GST_STATE_NULL);
    if (GST_OBJECT_PARENT(child) == GST_OBJECT_CAST(bin))
        gst_bin_remove(bin, child);
    gst_element_set_locked_state(child, FALSE);
}

} // namespace

static void gst_norvamultisrc_child_proxy_init(gpointer g_iface, gpointer);

G_DEFINE_TYPE_WITH_CODE(GstNorvaMultiSrc, gst_norvamultisrc, GST_TYPE_BIN,
                        GST_DEBUG_CATEGORY_INIT(gst_norvamultisrc_debug, "norvamultisrc", 0,
                                                "debug category for norvamultisrc element");
                        G_IMPLEMENT_INTERFACE(GST_TYPE_NORVASRC_PROPS, gst_norvasrc_props_init);
                        G_IMPLEMENT_INTERFACE(GST_TYPE_NORVASRC_PAD_PROPS, gst_norvasrc_pad_props_init);
                        G_IMPLEMENT_INTERFACE(GST_TYPE_CHILD_PROXY, gst_norvamultisrc_child_proxy_init))

static GstPad *gst_norvamultisrc_request_new_pad(GstElement *element, GstPadTemplate *templ, const gchar *,
                                                 const GstCaps *) {
    GstNorvaMultiSrc *self = GST_NORVAMULTISRC(element);
    GST_DEBUG_OBJECT(self, "requesting pad");
    GST_OBJECT_LOCK(self);
    const bool internal = self->pads_in_use == 0;
    const guint number = self->pad_counter++;
    ++self->pads_in_use;
    const gint mode = self->buf_mode;
    GST_OBJECT_UNLOCK(self);

    GstElement *child = nullptr;
    gchar *childName = nullptr;
    if (internal) {
        child = GST_ELEMENT(gst_object_ref(self->source));
        gst_norvasrc_set_own_pad_released(self->source, FALSE);
        childName = g_strdup_printf("norvasrc_%u", number);
    } else {
        child = GST_ELEMENT(gst_object_ref_sink(g_object_new(GST_TYPE_NORVAPROXYSRC, nullptr)));
        gst_norvaproxysrc_set_source(GST_NORVAPROXYSRC(child), self->source);
        childName = g_strdup_printf("norvaproxysrc_%u", number);
    }
    gst_object_set_name(GST_OBJECT(child), childName);
    g_free(childName);
    g_object_set(child, "buf-mode", mode, nullptr);
    if (!gst_bin_add(GST_BIN(self), child)) {
        GST_ELEMENT_ERROR(self, CORE, PAD, ("Cannot add %s", GST_OBJECT_NAME(child)), (nullptr));
        gst_object_unref(child);
        GST_OBJECT_LOCK(self);
        --self->pads_in_use;
        GST_OBJECT_UNLOCK(self);
        return nullptr;
    }

    gchar *padName = g_strdup_printf("src_%u", number);
    GstPad *target = gst_element_get_static_pad(child, "src");
    GstPad *pad = gst_ghost_pad_new_from_template(padName, target, templ);
    gst_object_unref(target);
    g_free(padName);
    GST_DEBUG_OBJECT(self, "element %s linked to pad %s", GST_OBJECT_NAME(child), GST_OBJECT_NAME(pad));

    // A pad requested while the bin is above NULL follows the bin too: at once in READY, and once linked when
    // streaming, so that its first buffer has somewhere to go.
    GstState state = GST_STATE_NULL, pending = GST_STATE_VOID_PENDING;
    GST_OBJECT_LOCK(self);
    state = GST_STATE(self);
    pending = GST_STATE_PENDING(self);
    GST_OBJECT_UNLOCK(self);
    const GstState wanted = pending != GST_STATE_VOID_PENDING ? pending : state;
    if (wanted > GST_STATE_READY || state > GST_STATE_READY) {
        gst_pad_set_active(pad, TRUE);
        g_signal_connect_object(pad, "linked", G_CALLBACK(startWhenLinked), child, static_cast<GConnectFlags>(0));
    } else if (wanted == GST_STATE_READY) {
        gst_element_sync_state_with_parent(child);
    }
    gst_element_add_pad(element, pad);
    gst_child_proxy_child_added(GST_CHILD_PROXY(self), G_OBJECT(pad), GST_OBJECT_NAME(pad));
    gst_object_unref(child);
    return pad;
}

static void gst_norvamultisrc_release_pad(GstElement *element, GstPad *pad) {
    GstNorvaMultiSrc *self = GST_NORVAMULTISRC(element);
    GstPad *target = gst_ghost_pad_get_target(GST_GHOST_PAD(pad));
    GST_DEBUG_OBJECT(self, "releasing pad %s", GST_OBJECT_NAME(pad));
    gst_child_proxy_child_removed(GST_CHILD_PROXY(self), G_OBJECT(pad), GST_OBJECT_NAME(pad));
    GstElement *child = target != nullptr ? gst_pad_get_parent_element(target) : nullptr;

    GST_OBJECT_LOCK(self);
    const bool last = self->pads_in_use <= 1;
    GST_OBJECT_UNLOCK(self);
    if (child != nullptr && child != GST_ELEMENT(self->source)) {
        stopAndRemove(GST_BIN(self), child);
    } else if (child != nullptr && !last) {
        // The proxies still take their frames from the internal source: it stays in the bin and keeps capturing;
        // only its own pad stops, and stays idle when a later state change activates it again.
        gst_norvasrc_set_own_pad_released(self->source, TRUE);
        gst_pad_set_active(target, FALSE);
    }
    if (last)
        stopAndRemove(GST_BIN(self), GST_ELEMENT(self->source));
    if (child != nullptr)
        gst_object_unref(child);
    if (target != nullptr)
        gst_object_unref(target);

    gst_element_remove_pad(element, pad);
    GST_OBJECT_LOCK(self);
    if (self->pads_in_use > 0)
        --self->pads_in_use;
    GST_OBJECT_UNLOCK(self);
}

/**
 * Both contexts share the frame loop's limit on frames in flight: a parameter set that configures the second
 * context with another buffer count than the main one would make the slave run out of buffers at its trigger.
 * FALSE after posting an error naming both counts.
 */
static gboolean checkBufferCounts(GstNorvaMultiSrc *self) {
    GstNorvasrc *source = self->source;
    GST_OBJECT_LOCK(source);
    const TEST_PARAM *param = source->state->capture_params;
    const guint main = source->state->props.context;
    bool same = true;
    guint counts[2] = {0, 0};
    if (param != nullptr && main < 2 && param->setupFiles[0] != nullptr && param->setupFiles[1] != nullptr) {
        counts[0] = param->nBuffers[main];
        counts[1] = param->nBuffers[1 - main];
        same = counts[0] == counts[1];
    }
    GST_OBJECT_UNLOCK(source);
    if (!same) {
        GST_ELEMENT_ERROR(self, RESOURCE, SETTINGS,
                          ("The main context has %u capture buffers and the second context %u: give both the same "
                           "number",
                           counts[0], counts[1]),
                          ("both contexts are configured by the capture parameters"));
    }
    return same;
}

static GstStateChangeReturn gst_norvamultisrc_change_state(GstElement *element, GstStateChange transition) {
    GstNorvaMultiSrc *self = GST_NORVAMULTISRC(element);
    const GstStateChangeReturn result =
        GST_ELEMENT_CLASS(gst_norvamultisrc_parent_class)->change_state(element, transition);
    if (transition == GST_STATE_CHANGE_NULL_TO_READY && result != GST_STATE_CHANGE_FAILURE &&
        GST_OBJECT_PARENT(self->source) == GST_OBJECT_CAST(self) && !checkBufferCounts(self))
        return GST_STATE_CHANGE_FAILURE;
    return result;
}

static void gst_norvamultisrc_set_property(GObject *object, guint id, const GValue *value, GParamSpec *pspec) {
    GstNorvaMultiSrc *self = GST_NORVAMULTISRC(object);
    GST_DEBUG_OBJECT(self, "set_property");
    if (id == MULTI_PROP_BUF_MODE) {
        GST_OBJECT_LOCK(self);
        self->buf_mode = g_value_get_enum(value);
        GST_OBJECT_UNLOCK(self);
    } else if (id >= MULTI_PROP_FORWARDED && id < MULTI_PROP_FORWARDED + g_forwardedCount) {
        g_object_set_property(G_OBJECT(self->source), g_forwarded[id - MULTI_PROP_FORWARDED], value);
    } else {
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
    }
}

static void gst_norvamultisrc_get_property(GObject *object, guint id, GValue *value, GParamSpec *pspec) {
    GstNorvaMultiSrc *self = GST_NORVAMULTISRC(object);
    GST_DEBUG_OBJECT(self, "get_property");
    switch (id) {
    case MULTI_PROP_BUF_MODE:
        GST_OBJECT_LOCK(self);
        g_value_set_enum(value, self->buf_mode);
        GST_OBJECT_UNLOCK(self);
        break;
    case MULTI_PROP_DMABUF_FD_LIST:
    case MULTI_PROP_DMABUF_SIZE:
    case MULTI_PROP_BOUNDS_X:
    case MULTI_PROP_BOUNDS_Y:
    case MULTI_PROP_BOUNDS_WIDTH:
    case MULTI_PROP_BOUNDS_HEIGHT:
        g_object_get_property(G_OBJECT(self->source), pspec->name, value);
        break;
    default:
        if (id >= MULTI_PROP_FORWARDED && id < MULTI_PROP_FORWARDED + g_forwardedCount)
            g_object_get_property(G_OBJECT(self->source), g_forwarded[id - MULTI_PROP_FORWARDED], value);
        else
            G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
        break;
    }
}

static void gst_norvamultisrc_set_ae_gain_range(GstNorvaMultiSrc *self, gfloat a, gfloat b) {
    GST_DEBUG_OBJECT(self, "set_ae_gain_range");
    g_signal_emit_by_name(self->source, "set-exposure-auto-gain-range", a, b);
}

static void gst_norvamultisrc_set_ae_time_range(GstNorvaMultiSrc *self, guint a, guint b) {
    GST_DEBUG_OBJECT(self, "set_ae_time_range");
    g_signal_emit_by_name(self->source, "set-exposure-auto-time-range", a, b);
}

static void gst_norvamultisrc_take_nrv_image(GstNorvaMultiSrc *self, gchar *file, gchar *save_type, guint context) {
    GST_DEBUG_OBJECT(self, "take_nrv_image");
    g_signal_emit_by_name(self->source, "take-nrv-image", file, save_type, context);
}

static gboolean gst_norvamultisrc_set_fvalue_window(GstNorvaMultiSrc *self, gfloat left, gfloat top, gfloat right,
                                                    gfloat bottom) {
    GST_DEBUG_OBJECT(self, "set_fvalue_window");
    gboolean accepted = FALSE;
    g_signal_emit_by_name(self->source, "set-fvalue-window", left, top, right, bottom, &accepted);
    return accepted;
}

static guint gst_norvamultisrc_child_proxy_get_children_count(GstChildProxy *proxy) {
    GST_OBJECT_LOCK(proxy);
    const guint count = GST_ELEMENT(proxy)->numpads;
    GST_OBJECT_UNLOCK(proxy);
    return count;
}

static GObject *gst_norvamultisrc_child_proxy_get_child_by_index(GstChildProxy *proxy, guint index) {
    GST_OBJECT_LOCK(proxy);
    gpointer pad = g_list_nth_data(GST_ELEMENT(proxy)->pads, index);
    if (pad != nullptr)
        gst_object_ref(pad);
    GST_OBJECT_UNLOCK(proxy);
    return G_OBJECT(pad);
}

static GObject *gst_norvamultisrc_child_proxy_get_child_by_name(GstChildProxy *proxy, const gchar *name) {
    return G_OBJECT(gst_element_get_static_pad(GST_ELEMENT(proxy), name));
}

static void gst_norvamultisrc_child_proxy_init(gpointer g_iface, gpointer) {
    GstChildProxyInterface *iface = static_cast<GstChildProxyInterface *>(g_iface);
    iface->get_children_count = gst_norvamultisrc_child_proxy_get_children_count;
    iface->get_child_by_index = gst_norvamultisrc_child_proxy_get_child_by_index;
    iface->get_child_by_name = gst_norvamultisrc_child_proxy_get_child_by_name;
}

static void gst_norvamultisrc_dispose(GObject *object) {
    GST_DEBUG_OBJECT(object, "dispose");
    G_OBJECT_CLASS(gst_norvamultisrc_parent_class)->dispose(object);
}

static void gst_norvamultisrc_finalize(GObject *object) {
    GstNorvaMultiSrc *self = GST_NORVAMULTISRC(object);
    GST_DEBUG_OBJECT(self, "finalize");
    g_signal_handlers_disconnect_by_data(self->source, self);
    gst_element_set_state(GST_ELEMENT(self->source), GST_STATE_NULL);
    gst_object_unref(self->source);
    self->source = nullptr;
    G_OBJECT_CLASS(gst_norvamultisrc_parent_class)->finalize(object);
}

static void gst_norvamultisrc_class_init(GstNorvaMultiSrcClass *klass) {
    GObjectClass *gobject_class = G_OBJECT_CLASS(klass);
    GstElementClass *element_class = GST_ELEMENT_CLASS(klass);

    gobject_class->set_property = gst_norvamultisrc_set_property;
    gobject_class->get_property = gst_norvamultisrc_get_property;
    gobject_class->dispose = gst_norvamultisrc_dispose;
    gobject_class->finalize = gst_norvamultisrc_finalize;

    g_object_class_override_property(gobject_class, MULTI_PROP_BUF_MODE, "buf-mode");
    g_object_class_override_property(gobject_class, MULTI_PROP_DMABUF_FD_LIST, "dmabuf-fd-list");
    g_object_class_override_property(gobject_class, MULTI_PROP_DMABUF_SIZE, "dmabuf-size");
    g_object_class_override_property(gobject_class, MULTI_PROP_BOUNDS_X, "bounds-x");
    g_object_class_override_property(gobject_class, MULTI_PROP_BOUNDS_Y, "bounds-y");
    g_object_class_override_property(gobject_class, MULTI_PROP_BOUNDS_WIDTH, "bounds-width");
    g_object_class_override_property(gobject_class, MULTI_PROP_BOUNDS_HEIGHT, "bounds-height");
    // Every element property of norvasrc, by name; the per-context names are made once for the process.
    for (guint id = 1; id <= PROP_LAST; ++id) {
        const PropertyDef *def = norvasrc_property_def(id);
        if (def->pad_property)
            continue;
        const gchar *name = def->name;
        if (def->context >= 0) {
            gchar *numbered = g_strdup_printf(def->name, def->context);
            name = g_intern_string(numbered);
            g_free(numbered);
        }
        g_forwarded[g_forwardedCount] = name;
        g_object_class_override_property(gobject_class, MULTI_PROP_FORWARDED + g_forwardedCount, name);
        ++g_forwardedCount;
    }

    gst_element_class_add_static_pad_template_with_gtype(element_class, &g_srcTemplate, GST_TYPE_NORVAMULTISRC_PAD);
    gst_element_class_set_static_metadata(element_class, "Norva video multisource", "Source/Video",
                                          "Reads frames from ISP with support of multiple sources",
                                          "The norva developers");
    element_class->request_new_pad = GST_DEBUG_FUNCPTR(gst_norvamultisrc_request_new_pad);
    element_class->release_pad = GST_DEBUG_FUNCPTR(gst_norvamultisrc_release_pad);
    element_class->change_state = GST_DEBUG_FUNCPTR(gst_norvamultisrc_change_state);

    klass->set_ae_gain_range = gst_norvamultisrc_set_ae_gain_range;
    klass->set_ae_time_range = gst_norvamultisrc_set_ae_time_range;
    klass->take_nrv_image = gst_norvamultisrc_take_nrv_image;
    klass->set_fvalue_window = gst_norvamultisrc_set_fvalue_window;
    const GType type = G_TYPE_FROM_CLASS(klass);
    const GSignalFlags action = static_cast<GSignalFlags>(G_SIGNAL_RUN_LAST | G_SIGNAL_ACTION);
    g_signal_new("set-exposure-auto-gain-range", type, action,
                 G_STRUCT_OFFSET(GstNorvaMultiSrcClass, set_ae_gain_range), nullptr, nullptr, nullptr, G_TYPE_NONE, 2,
                 G_TYPE_FLOAT, G_TYPE_FLOAT);
    g_signal_new("set-exposure-auto-time-range", type, action,
                 G_STRUCT_OFFSET(GstNorvaMultiSrcClass, set_ae_time_range), nullptr, nullptr, nullptr, G_TYPE_NONE, 2,
                 G_TYPE_UINT, G_TYPE_UINT);
    g_signal_new("take-nrv-image", type, action, G_STRUCT_OFFSET(GstNorvaMultiSrcClass, take_nrv_image), nullptr,
                 nullptr, nullptr, G_TYPE_NONE, 3, G_TYPE_STRING, G_TYPE_STRING, G_TYPE_UINT);
    g_signal_new("set-fvalue-window", type, action, G_STRUCT_OFFSET(GstNorvaMultiSrcClass, set_fvalue_window), nullptr,
                 nullptr, nullptr, G_TYPE_BOOLEAN, 4, G_TYPE_FLOAT, G_TYPE_FLOAT, G_TYPE_FLOAT, G_TYPE_FLOAT);
    g_signals[MULTI_SIGNAL_IMAGE_READY] = g_signal_new("image-ready", type, G_SIGNAL_RUN_LAST, 0, nullptr, nullptr,
                                                       nullptr, G_TYPE_NONE, 1, G_TYPE_BOOLEAN);
    g_signals[MULTI_SIGNAL_SENSOR_ROW_TIME] = g_signal_new("sensor-row-time", type, G_SIGNAL_RUN_LAST, 0, nullptr,
                                                           nullptr, nullptr, G_TYPE_NONE, 1, G_TYPE_UINT64);
}

static void gst_norvamultisrc_init(GstNorvaMultiSrc *self) {
    GST_DEBUG_OBJECT(self, "gst_norvamultisrc_init");
    self->source = GST_NORVASRC(gst_object_ref_sink(g_object_new(GST_TYPE_NORVASRC, nullptr)));
    self->pads_in_use = 0;
    self->pad_counter = 0;
    self->buf_mode = GST_NORVASRC_BUFFER_MODE_PASS;
    g_signal_connect(self->source, "image-ready", G_CALLBACK(imageReady), self);
    g_signal_connect(self->source, "sensor-row-time", G_CALLBACK(sensorRowTime), self);
}
