/*
 * The proxy source: a further source pad of a norvasrc inside norvamultisrc. It captures nothing itself: its
 * streaming thread, negotiation, stop and upstream events call into its source with the proxy as the owner of
 * a frame queue of its own, so that every captured frame reaches this pad too. Only norvamultisrc creates
 * proxies; the type is not an element factory.
 *
 * Lock order: the proxy's object lock is never held while a lock of the source is taken, nor the other way round.
 */
#include "gstnorvaproxysrc.h"

GST_DEBUG_CATEGORY_STATIC(gst_norvaproxysrc_debug);
#define GST_CAT_DEFAULT gst_norvaproxysrc_debug

namespace {

enum ProxyPropId : guint {
    PROXY_PROP_0,
    PROXY_PROP_BUF_MODE,
    PROXY_PROP_DMABUF_FD_LIST,
    PROXY_PROP_DMABUF_SIZE,
    PROXY_PROP_BOUNDS_X,
    PROXY_PROP_BOUNDS_Y,
    PROXY_PROP_BOUNDS_WIDTH,
    PROXY_PROP_BOUNDS_HEIGHT,
};

/** A new reference on the proxy's source, taken under the object lock; null without a source. */
GstNorvasrc *sourceOf(GstNorvaProxySrc *proxy) {
    GST_OBJECT_LOCK(proxy);
    GstNorvasrc *source = proxy->source != nullptr ? GST_NORVASRC(gst_object_ref(proxy->source)) : nullptr;
    GST_OBJECT_UNLOCK(proxy);
    if (source == nullptr)
        GST_ERROR_OBJECT(proxy, "norvasrc is NULL");
    return source;
}

} // namespace

G_DEFINE_TYPE_WITH_CODE(GstNorvaProxySrc, gst_norvaproxysrc, GST_TYPE_BASE_SRC,
                        GST_DEBUG_CATEGORY_INIT(gst_norvaproxysrc_debug, "norvaproxysrc", 0,
                                                "debug category for norvaproxysrc element");
                        G_IMPLEMENT_INTERFACE(GST_TYPE_NORVASRC_PAD_PROPS, gst_norvasrc_pad_props_init))

void gst_norvaproxysrc_set_source(GstNorvaProxySrc *proxy, GstNorvasrc *source) {
    GST_DEBUG_OBJECT(proxy, "norvasrc = %p", static_cast<void *>(source));
    if (source != nullptr)
        gst_object_ref(source);
    GST_OBJECT_LOCK(proxy);
    GstNorvasrc *previous = proxy->source;
    proxy->source = source;
    GST_OBJECT_UNLOCK(proxy);
    if (previous != nullptr)
        gst_object_unref(previous);
}

static GstFlowReturn gst_norvaproxysrc_create(GstBaseSrc *base, guint64, guint, GstBuffer **buf) {
    GstNorvaProxySrc *proxy = GST_NORVAPROXYSRC(base);
    GstNorvasrc *source = sourceOf(proxy);
    if (source == nullptr)
        return GST_FLOW_ERROR;
    const GstFlowReturn ret = gst_norvasrc_get_buffer(source, proxy, buf);
    if (ret == GST_FLOW_ERROR)
        GST_ERROR_OBJECT(proxy, "Failed to get buffer from norvasrc");
    gst_object_unref(source);
    return ret;
}

static gboolean gst_norvaproxysrc_negotiate(GstBaseSrc *base) {
    GstNorvaProxySrc *proxy = GST_NORVAPROXYSRC(base);
    GST_DEBUG_OBJECT(proxy, "negotiate");
    // The object lock is not held across the call into the source: the source posts its errors from there, which
    // takes the bin's lock, and a bin holding its lock while it takes the proxy's (adding a child) would deadlock.
    GstNorvasrc *source = sourceOf(proxy);
    if (source == nullptr)
        return FALSE;
    GST_OBJECT_LOCK(proxy);
    GstNorvaVideoId id = proxy->video_id;
    GST_OBJECT_UNLOCK(proxy);
    GstEvent *event = nullptr;
    GstCaps *caps = gst_norvasrc_negotiate_caps(source, GST_BASE_SRC_PAD(base), &id, &event);
    GST_OBJECT_LOCK(proxy);
    proxy->video_id = id;
    GST_OBJECT_UNLOCK(proxy);
    gst_norvasrc_negotiated(source, proxy);
    gst_object_unref(source);
    if (caps == nullptr) {
        GST_ERROR_OBJECT(proxy, "Failed to negotiate caps");
        if (event != nullptr)
            gst_event_unref(event);
        return FALSE;
    }
    const gboolean result = gst_base_src_set_caps(base, caps);
    if (!result)
        GST_ERROR_OBJECT(proxy, "Failed to set caps");
    gst_caps_unref(caps);
    if (event != nullptr)
        gst_pad_push_event(GST_BASE_SRC_PAD(base), event);
    return result;
}

static gboolean gst_norvaproxysrc_decide_allocation(GstBaseSrc *base, GstQuery *query) {
    GstNorvaProxySrc *proxy = GST_NORVAPROXYSRC(base);
    GstNorvasrc *source = sourceOf(proxy);
    if (source == nullptr)
        return FALSE;
    const gboolean decided = gst_norvasrc_decide_layout(source, proxy, query);
    gst_object_unref(source);
    return decided && GST_BASE_SRC_CLASS(gst_norvaproxysrc_parent_class)->decide_allocation(base, query);
}

static gboolean gst_norvaproxysrc_start(GstBaseSrc *base) {
    GstNorvaProxySrc *proxy = GST_NORVAPROXYSRC(base);
    GST_DEBUG_OBJECT(proxy, "start");
    GstNorvasrc *source = sourceOf(proxy);
    if (source == nullptr)
        return FALSE;
    gst_norvasrc_open_queue(source, proxy);
    gst_object_unref(source);
    return TRUE;
}

static gboolean gst_norvaproxysrc_stop(GstBaseSrc *base) {
    GstNorvaProxySrc *proxy = GST_NORVAPROXYSRC(base);
    GST_DEBUG_OBJECT(proxy, "stop");
    GstNorvasrc *source = sourceOf(proxy);
    if (source == nullptr)
        return FALSE;
    const gboolean result = gst_norvasrc_stop_common(source, proxy);
    gst_object_unref(source);
    return result;
}

static gboolean gst_norvaproxysrc_unlock(GstBaseSrc *base) {
    GstNorvaProxySrc *proxy = GST_NORVAPROXYSRC(base);
    GST_DEBUG_OBJECT(proxy, "unlock");
    GstNorvasrc *source = sourceOf(proxy);
    if (source == nullptr)
        return FALSE;
    // Only this pad's flag: the other pads keep streaming. The wake reaches this pad's thread if it waits for
    // another pad's fetch.
    g_atomic_int_set(&proxy->flushing, 1);
    gst_norvasrc_wake_waiters(source);
    gst_object_unref(source);
    return TRUE;
}

static gboolean gst_norvaproxysrc_unlock_stop(GstBaseSrc *base) {
    GstNorvaProxySrc *proxy = GST_NORVAPROXYSRC(base);
    GST_DEBUG_OBJECT(proxy, "unlock_stop");
    g_atomic_int_set(&proxy->flushing, 0);
    return TRUE;
}

static gboolean gst_norvaproxysrc_event(GstBaseSrc *base, GstEvent *event) {
    GstNorvaProxySrc *proxy = GST_NORVAPROXYSRC(base);
    // Not held across the call into the source, which may post a warning (see negotiate).
    GST_OBJECT_LOCK(proxy);
    GstNorvasrc *source = proxy->source != nullptr ? GST_NORVASRC(gst_object_ref(proxy->source)) : nullptr;
    GST_OBJECT_UNLOCK(proxy);
    const gboolean consumed = source != nullptr && gst_norvasrc_handle_event(source, event);
    if (source != nullptr)
        gst_object_unref(source);
    if (consumed)
        return TRUE;
    return GST_BASE_SRC_CLASS(gst_norvaproxysrc_parent_class)->event(base, event);
}

static void gst_norvaproxysrc_set_property(GObject *object, guint id, const GValue *value, GParamSpec *pspec) {
    GstNorvaProxySrc *proxy = GST_NORVAPROXYSRC(object);
    GST_DEBUG_OBJECT(proxy, "set_property");
    if (id != PROXY_PROP_BUF_MODE) {
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
        return;
    }
    // A pad of its own: the buffer mode may change in any state and applies from the next buffer.
    const gint mode = g_value_get_enum(value);
    if (gst_debug_category_get_threshold(GST_CAT_DEFAULT) >= GST_LEVEL_DEBUG) {
        const gchar *nick = enum_value_nick(gst_norvasrc_buffer_mode_get_type(), mode);
        gst_debug_log(GST_CAT_DEFAULT, GST_LEVEL_DEBUG, __FILE__, "gst_norvaproxysrc_set_buf_mode", __LINE__, object,
                      "Buffer mode is '%s'", nick != nullptr ? nick : "(null)");
    }
    g_atomic_int_set(&proxy->buf_mode, mode);
}

static void gst_norvaproxysrc_get_property(GObject *object, guint id, GValue *value, GParamSpec *pspec) {
    GstNorvaProxySrc *proxy = GST_NORVAPROXYSRC(object);
    GST_DEBUG_OBJECT(proxy, "get_property");
    switch (id) {
    case PROXY_PROP_BUF_MODE:
        g_value_set_enum(value, g_atomic_int_get(&proxy->buf_mode));
        break;
    case PROXY_PROP_DMABUF_FD_LIST:
    case PROXY_PROP_DMABUF_SIZE:
    case PROXY_PROP_BOUNDS_X:
    case PROXY_PROP_BOUNDS_Y:
    case PROXY_PROP_BOUNDS_WIDTH:
    case PROXY_PROP_BOUNDS_HEIGHT:
        // Written by this pad's negotiation, which holds the object lock.
        GST_OBJECT_LOCK(proxy);
        if (id == PROXY_PROP_DMABUF_FD_LIST)
            g_value_copy(&proxy->dmabuf_fd_list, value);
        else if (id == PROXY_PROP_DMABUF_SIZE)
            g_value_set_uint(value, proxy->dmabuf_size);
        else if (id == PROXY_PROP_BOUNDS_X)
            g_value_set_int(value, proxy->bounds.x);
        else if (id == PROXY_PROP_BOUNDS_Y)
            g_value_set_int(value, proxy->bounds.y);
        else if (id == PROXY_PROP_BOUNDS_WIDTH)
            g_value_set_uint(value, proxy->bounds.width);
        else
            g_value_set_uint(value, proxy->bounds.height);
        GST_OBJECT_UNLOCK(proxy);
        break;
    default:
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
        break;
    }
}

static void gst_norvaproxysrc_dispose(GObject *object) {
    GST_DEBUG_OBJECT(object, "dispose");
    G_OBJECT_CLASS(gst_norvaproxysrc_parent_class)->dispose(object);
}

static void gst_norvaproxysrc_finalize(GObject *object) {
    GstNorvaProxySrc *proxy = GST_NORVAPROXYSRC(object);
    GST_DEBUG_OBJECT(proxy, "finalize");
    gst_norvaproxysrc_set_source(proxy, nullptr);
    g_value_unset(&proxy->dmabuf_fd_list);
    G_OBJECT_CLASS(gst_norvaproxysrc_parent_class)->finalize(object);
}

static void gst_norvaproxysrc_class_init(GstNorvaProxySrcClass *klass) {
    GObjectClass *gobject_class = G_OBJECT_CLASS(klass);
    GstElementClass *element_class = GST_ELEMENT_CLASS(klass);
    GstBaseSrcClass *base_class = GST_BASE_SRC_CLASS(klass);

    gst_element_class_add_pad_template(element_class, gst_norvasrc_pad_template());

    gobject_class->set_property = gst_norvaproxysrc_set_property;
    gobject_class->get_property = gst_norvaproxysrc_get_property;
    gobject_class->dispose = gst_norvaproxysrc_dispose;
    gobject_class->finalize = gst_norvaproxysrc_finalize;
    g_object_class_override_property(gobject_class, PROXY_PROP_BUF_MODE, "buf-mode");
    g_object_class_override_property(gobject_class, PROXY_PROP_DMABUF_FD_LIST, "dmabuf-fd-list");
    g_object_class_override_property(gobject_class, PROXY_PROP_DMABUF_SIZE, "dmabuf-size");
    g_object_class_override_property(gobject_class, PROXY_PROP_BOUNDS_X, "bounds-x");
    g_object_class_override_property(gobject_class, PROXY_PROP_BOUNDS_Y, "bounds-y");
    g_object_class_override_property(gobject_class, PROXY_PROP_BOUNDS_WIDTH, "bounds-width");
    g_object_class_override_property(gobject_class, PROXY_PROP_BOUNDS_HEIGHT, "bounds-height");

    base_class->create = GST_DEBUG_FUNCPTR(gst_norvaproxysrc_create);
    base_class->negotiate = GST_DEBUG_FUNCPTR(gst_norvaproxysrc_negotiate);
    base_class->decide_allocation = GST_DEBUG_FUNCPTR(gst_norvaproxysrc_decide_allocation);
    base_class->event = GST_DEBUG_FUNCPTR(gst_norvaproxysrc_event);
    base_class->unlock = GST_DEBUG_FUNCPTR(gst_norvaproxysrc_unlock);
    base_class->unlock_stop = GST_DEBUG_FUNCPTR(gst_norvaproxysrc_unlock_stop);
    base_class->start = GST_DEBUG_FUNCPTR(gst_norvaproxysrc_start);
    base_class->stop = GST_DEBUG_FUNCPTR(gst_norvaproxysrc_stop);
}

static void gst_norvaproxysrc_init(GstNorvaProxySrc *proxy) {
    GST_DEBUG_OBJECT(proxy, "gst_norvaproxysrc_init");
    gst_base_src_set_format(GST_BASE_SRC(proxy), GST_FORMAT_TIME);
    gst_base_src_set_live(GST_BASE_SRC(proxy), TRUE);
    proxy->source = nullptr;
    gst_norva_video_info_init(&proxy->video_id.vinfo);
    proxy->video_id.context = 0;
    proxy->buf_mode = GST_NORVASRC_BUFFER_MODE_PASS;
    g_value_init(&proxy->dmabuf_fd_list, GST_TYPE_ARRAY);
    proxy->dmabuf_size = 0;
    gst_norva_bounds_init(&proxy->bounds);
    proxy->flushing = 0;
}
