/*
 * norvasrc's caps negotiation: the formats the capture context offers (the outputs it has, then those it could
 * have up to the sensor's size), fixation to the sensor's aspect ratio inside downstream's limits, and the output
 * configured for the fixed caps with capture started on it.
 */
#include <list>

#include <fcntl.h>

#include "gstnorvaproxysrc.h"
#include "gstnorvasrc.h"
#include "norvacommon/dmabuf.h"
#include "norvacommon/userlog.h"
#include "sys/sys_seam.h"
#include "testcontext.h"
#include "testparam.h"

#define GST_CAT_DEFAULT gst_norvasrc_debug

namespace {

/** Whether a format may be offered: a known format, and the interleaved 4:4:4 one only without dmabuf. */
bool offerable(GstNorvaVideoFormat format, gboolean use_dmabuf) {
    return format >= GST_NORVA_VIDEO_FORMAT_RGB && format <= GST_NORVA_VIDEO_FORMAT_LAST &&
           !(format == GST_NORVA_VIDEO_FORMAT_v308 && use_dmabuf);
}

GstNorvaVideoFormat formatOf(const BufferFormat &f) {
    return gst_norva_video_format_apply_mosaic(gst_norva_video_format_from_pixel_format(f.format), f.mosaic);
}

void setStringList(GstStructure *s, const char *field, const char *a, const char *b) {
    GValue list = G_VALUE_INIT, item = G_VALUE_INIT;
    g_value_init(&list, GST_TYPE_LIST);
    g_value_init(&item, G_TYPE_STRING);
    g_value_set_string(&item, a);
    gst_value_list_append_value(&list, &item);
    g_value_set_string(&item, b);
    gst_value_list_append_value(&list, &item);
    gst_structure_take_value(s, field, &list);
    g_value_unset(&item);
}

/** The caps structure of one format, current (fixed size) or potential (sizes up to the format's). */
GstStructure *formatStructure(const BufferFormat &f, GstNorvaVideoFormat format, gint fps, bool potential) {
    const CI_BUFFTYPE type = BufferTypeFromPixelFormat(f.format);
    const bool bayer = type == CI_TYPE_DATAEXT;
    GstStructure *s =
        gst_structure_new(bayer ? "video/x-bayer" : "video/x-raw", "format", G_TYPE_STRING,
                          gst_norva_video_format_to_string(format), "framerate", GST_TYPE_FRACTION, fps, 1, nullptr);
    const gint w = static_cast<gint>(f.width), h = static_cast<gint>(f.height);
    if (!potential || bayer) {
        gst_structure_set(s, "width", G_TYPE_INT, w, "height", G_TYPE_INT, h, nullptr);
    } else {
        GValue range = G_VALUE_INIT;
        g_value_init(&range, GST_TYPE_INT_RANGE);
        gst_value_set_int_range_step(&range, 2, w, 2);
        gst_structure_take_value(s, "width", &range);
        g_value_init(&range, GST_TYPE_INT_RANGE);
        if (type == CI_TYPE_ENCODER)
            gst_value_set_int_range_step(&range, 2, h, 2);
        else
            gst_value_set_int_range_step(&range, 1, h, 1);
        gst_structure_take_value(s, "height", &range);
    }
    if (bayer)
        return s;
    if (potential && type == CI_TYPE_ENCODER) {
        setStringList(s, "colorimetry", "bt601", "bt709");
        setStringList(s, "chroma-site", "jpeg", "mpeg2");
    } else {
        gst_structure_set(s, "colorimetry", G_TYPE_STRING, f.bBT601 ? "bt601" : "bt709", nullptr);
        if (type == CI_TYPE_ENCODER)
            gst_structure_set(s, "chroma-site", G_TYPE_STRING, f.bChromaInterstitial ? "jpeg" : "mpeg2", nullptr);
    }
    return s;
}

/** The caps a context offers now: its current output formats first, then its potential ones. */
GstCaps *contextCaps(const TestContext &context, gboolean use_dmabuf) {
    GST_DEBUG("get_caps");
    GstCaps *caps = gst_caps_new_empty();
    const double rate = context.getSensor() != nullptr ? context.getSensor()->flFrameRate : 0.0;
    const gint fps = static_cast<gint>(rate + 0.5);
    std::list<BufferFormat> formats;
    for (const bool potential : {false, true}) {
        formats.clear();
        if (!(potential ? context.getPotentialOutputFormats(formats) : context.getOutputFormats(formats)))
            continue;
        for (const BufferFormat &f : formats) {
            const GstNorvaVideoFormat format = formatOf(f);
            if (offerable(format, use_dmabuf))
                gst_caps_append_structure(caps, formatStructure(f, format, fps, potential));
        }
    }
    return caps;
}

gint scale(gint a, gint b, gint c) {
    return static_cast<gint>(gst_util_uint64_scale_int_round(static_cast<guint64>(a), b, c));
}

} // namespace

gint gst_structure_get_int_max(GstStructure *s, const char *field) {
    const GValue *v = gst_structure_get_value(s, field);
    if (v == nullptr)
        return G_MAXINT;
    if (G_VALUE_HOLDS_INT(v))
        return g_value_get_int(v);
    if (GST_VALUE_HOLDS_INT_RANGE(v))
        return gst_value_get_int_range_max(v);
    if (GST_VALUE_HOLDS_LIST(v)) {
        bool found = false;
        gint best = 0;
        for (guint i = 0; i < gst_value_list_get_size(v); ++i) {
            const GValue *item = gst_value_list_get_value(v, i);
            if (G_VALUE_HOLDS_INT(item) && (!found || g_value_get_int(item) > best)) {
                best = g_value_get_int(item);
                found = true;
            }
        }
        return found ? best : G_MAXINT;
    }
    return G_MAXINT;
}

void gst_norvasrc_fit_size(gint W, gint H, gint mw, gint mh, gint *width, gint *height) {
    gint w = W, h = H;
    if (W < mw && H >= mh) {
        h = mh;
        w = scale(mh, W, H);
    } else if (W >= mw && H < mh) {
        const gint t = scale(mw, H, W);
        if (t < H) {
            h = t;
            w = scale(t, W, H);
        } else {
            w = mw;
        }
    } else if (W >= mw && H >= mh) {
        const gint t = scale(mw, H, W);
        if (mh < t) {
            h = mh;
            w = scale(mh, W, H);
        } else if (t < H) {
            h = t;
            w = scale(t, W, H);
        } else {
            w = mw;
            h = t;
        }
    }
    // Scaling back from a rounded height can round past the limit it came from: the limits hold.
    *width = w < mw ? w : mw;
    *height = h < mh ? h : mh;
}

/** Fixates the first structure of `caps` (made writable) to the sensor's largest image inside its limits. */
static GstCaps *fixateCaps(GstCaps *caps, const TestContext &context) {
    GST_DEBUG("fixate_caps");
    caps = gst_caps_truncate(gst_caps_make_writable(caps));
    GstStructure *s = gst_caps_get_structure(caps, 0);
    if (gst_structure_has_field(s, "pixel-aspect-ratio"))
        gst_structure_fixate_field_nearest_fraction(s, "pixel-aspect-ratio", 1, 1);
    else
        gst_structure_set(s, "pixel-aspect-ratio", GST_TYPE_FRACTION, 1, 1, nullptr);
    gint n = 1, d = 1;
    gst_structure_get_fraction(s, "pixel-aspect-ratio", &n, &d);

    gint W = static_cast<gint>(context.getMaxImageWidth()), H = static_cast<gint>(context.getMaxImageHeight());
    if (n > d)
        W = scale(W, d, n);
    else
        H = scale(H, n, d);
    gint w = W, h = H;
    gst_norvasrc_fit_size(W, H, gst_structure_get_int_max(s, "width"), gst_structure_get_int_max(s, "height"), &w, &h);
    if (gst_structure_has_field(s, "width"))
        gst_structure_fixate_field_nearest_int(s, "width", w);
    else
        gst_structure_set(s, "width", G_TYPE_INT, w, nullptr);
    if (gst_structure_has_field(s, "height"))
        gst_structure_fixate_field_nearest_int(s, "height", h);
    else
        gst_structure_set(s, "height", G_TYPE_INT, h, nullptr);
    if (gst_structure_has_field(s, "chroma-site"))
        gst_structure_fixate_field_string(s, "chroma-site", "mpeg2");
    if (gst_structure_has_field(s, "colorimetry"))
        gst_structure_fixate_field_string(s, "colorimetry", "bt709");
    return gst_caps_fixate(caps);
}

namespace {

/** Whether the context has a camera that captures: a context that failed to configure may have none. */
bool capturing(const TestContext *context) {
    return context != nullptr && context->pCamera != nullptr && context->pCamera->state == ISPC::Camera::CAM_CAPTURING;
}

} // namespace

gboolean gst_norvasrc_stop_capture_unlocked(GstNorvasrc *src) {
    NorvasrcState *state = src->state;
    if (capturing(state->slave_context) && state->slave_context->pCamera->stopCapture() != QOR_RES_OK) {
        GST_ERROR_OBJECT(src, "Failed to stop capture for slave context %d", state->slave_context->iContext);
        return FALSE;
    }
    TestContext *main = state->main_context;
    if (capturing(main) && main->pCamera->stopCapture() != QOR_RES_OK) {
        GST_ERROR_OBJECT(src, "Failed to stop capture for main context %d", main->iContext);
        return FALSE;
    }
    return TRUE;
}

gboolean gst_norvasrc_start_capture_unlocked(GstNorvasrc *src) {
    NorvasrcState *state = src->state;
    TestContext *main = state->main_context;
    TestContext *slave = state->slave_context;
    const bool mainReady = main->pCamera->state == ISPC::Camera::CAM_READY;
    // The slave first: it starts only together with its main context.
    if (slave != nullptr && slave->pCamera != nullptr) {
        slave->enableGMA(state->props.gma_enable != FALSE);
        if (slave->pCamera->state == ISPC::Camera::CAM_READY && mainReady &&
            slave->pCamera->startCapture() != QOR_RES_OK) {
            GST_ERROR_OBJECT(src, "Failed to start capture for slave context %d", slave->iContext);
            return FALSE;
        }
    }
    if (mainReady) {
        main->enableGMA(state->props.gma_enable != FALSE);
        if (main->pCamera->startCapture() != QOR_RES_OK) {
            GST_ERROR_OBJECT(src, "Failed to start capture for main context %d", main->iContext);
            if (capturing(slave))
                slave->pCamera->stopCapture();
            return FALSE;
        }
    }
    gst_norvasrc_configure_context_runtime_unlocked(src);
    // Frames still shown downstream hold capture buffers: pre-enqueue only into free ones, leaving one for the
    // next fetch.
    guint live = 0;
    {
        std::lock_guard<std::mutex> guard(state->pool.lock);
        live = state->pool.live;
    }
    const guint64 alloc = state->props.alloc_buffers;
    const guint64 room = alloc > static_cast<guint64>(live) + 1 ? alloc - live - 1 : 0;
    const guint64 preenq = state->props.preenq_buffers < room ? state->props.preenq_buffers : room;
    for (guint i = 0; i < preenq; ++i) {
        GST_DEBUG_OBJECT(src, "Preenqueuing shot %u", i);
        for (TestContext *context : {main, slave}) {
            if (capturing(context) && context->isBuffersAllocated() && context->pCamera->enqueueShot() != QOR_RES_OK) {
                GST_ERROR_OBJECT(src, "Failed to enqueue shot for %s context", context == main ? "main" : "slave");
                GST_ERROR_OBJECT(src, "Failed to enqueue shot");
                return FALSE;
            }
        }
        GST_DEBUG_OBJECT(src, "Shot is enqueued");
    }
    return TRUE;
}

namespace {

enum class Configured { Kept, Reconfigured, Busy, Failed };

/** Whether the dmabuf allocator device opens: after a failed configuration, to name a missing device. */
bool dmabufAllocatorOpens() {
    const int fd = SEAM_Open(DMABUF_DEVICE_PATH, O_RDWR, 0);
    if (fd < 0)
        return false;
    SEAM_Close(fd);
    return true;
}

/** Whether frames in flight still hold capture buffers of the main or of the slave context. */
bool framesHeldOn(NorvasrcState *state, bool main) {
    std::lock_guard<std::mutex> guard(state->pool.lock);
    return (main ? state->pool.live : state->pool.liveSlave) > 0;
}

/** The norvaproxysrc a pad belongs to, or null for the element's own pad (the only other caller). */
GstNorvaProxySrc *proxyOf(GstNorvasrc *src, GstPad *pad) {
    GstObject *parent = GST_OBJECT_PARENT(pad);
    if (parent == nullptr || parent == GST_OBJECT_CAST(src))
        return nullptr;
    return reinterpret_cast<GstNorvaProxySrc *>(parent);
}

/** The context the downstream request pad asks for: its "context" property (-1 for any), or -2 when none. */
gint requestedContext(GstPad *pad) {
    gint value = -2;
    GstPad *peer = gst_pad_get_peer(pad);
    if (peer == nullptr)
        return value;
    if (GST_IS_PROXY_PAD(peer)) {
        GstObject *parent = gst_object_get_parent(GST_OBJECT_CAST(peer));
        if (parent != nullptr) {
            GParamSpec *property = g_object_class_find_property(G_OBJECT_GET_CLASS(parent), "context");
            if (property != nullptr && property->value_type == G_TYPE_INT)
                g_object_get(parent, "context", &value, nullptr);
            gst_object_unref(parent);
        }
    }
    gst_object_unref(peer);
    return value;
}

/**
 * What a negotiation shows in the properties of the pad's owner (the element or a norvaproxysrc): stored under the
 * owner's object lock once the element's own locks are released, so that no lock is taken while another is held.
 */
struct PadOutputs {
    bool bounds = false;
    BufferFrameBounds frameBounds{};
    bool dmabufs = false;
    GValue fdList = G_VALUE_INIT;
    guint fdSize = 0;

    PadOutputs() = default;
    PadOutputs(const PadOutputs &) = delete;
    PadOutputs &operator=(const PadOutputs &) = delete;
    ~PadOutputs() {
        if (G_IS_VALUE(&fdList))
            g_value_unset(&fdList);
    }
};

void publishOutputs(GstNorvasrc *src, GstPad *pad, PadOutputs &outputs) {
    if (!outputs.bounds && !outputs.dmabufs)
        return;
    NorvasrcProperties &props = src->state->props;
    GstNorvaProxySrc *proxy = proxyOf(src, pad);
    GstObject *owner = proxy != nullptr ? GST_OBJECT_CAST(proxy) : GST_OBJECT_CAST(src);
    GST_OBJECT_LOCK(owner);
    if (outputs.bounds)
        (proxy != nullptr ? proxy->bounds : props.bounds) = outputs.frameBounds;
    if (outputs.dmabufs) {
        GValue &list = proxy != nullptr ? proxy->dmabuf_fd_list : props.dmabuf_fd_list;
        if (G_IS_VALUE(&list))
            g_value_unset(&list);
        g_value_init(&list, GST_TYPE_ARRAY);
        g_value_copy(&outputs.fdList, &list);
        (proxy != nullptr ? proxy->dmabuf_size : props.dmabuf_size) = outputs.fdSize;
    }
    GST_OBJECT_UNLOCK(owner);
}

/** The pad's capture buffers for its properties (stored by publishOutputs), and by buffer mode a query or an event. */
GstQuery *exchangeDmabufs(GstNorvasrc *src, GstPad *pad, const TestContext &context, pxlFormat pixelFormat,
                          GstCaps *caps, bool reconfigured, GstEvent **event, PadOutputs &outputs) {
    NorvasrcState *state = src->state;
    GstNorvaProxySrc *proxy = proxyOf(src, pad);
    const gint mode = proxy != nullptr ? g_atomic_int_get(&proxy->buf_mode) : state->props.buf_mode;
    GValue *fdList = &outputs.fdList;
    guint *fdSize = &outputs.fdSize;
    outputs.dmabufs = true;
    g_value_init(fdList, GST_TYPE_ARRAY);
    *fdSize = 0;
    GValue eventList = G_VALUE_INIT, item = G_VALUE_INIT;
    g_value_init(&eventList, GST_TYPE_ARRAY);
    const CI_BUFFTYPE type = BufferTypeFromPixelFormat(pixelFormat);
    for (const auto &entry : context.buffers) { // ascending buffer identifier
        const BufferInfo &info = entry.second;
        if (info.eType != type)
            continue;
        g_value_init(&item, G_TYPE_INT);
        g_value_set_int(&item, info.fd);
        gst_value_array_append_and_take_value(fdList, &item);
        *fdSize = static_cast<guint>(info.size);
        if (mode == GST_NORVASRC_BUFFER_MODE_EVENT) {
            g_value_init(&item, G_TYPE_INT64);
            g_value_set_int64(&item, info.fd);
            gst_value_array_append_and_take_value(&eventList, &item);
            g_value_init(&item, G_TYPE_INT64);
            g_value_set_int64(&item, static_cast<gint64>(reinterpret_cast<guintptr>(info.pMapped)));
            gst_value_array_append_and_take_value(&eventList, &item);
        }
    }
    GstQuery *query = nullptr;
    // Downstream learns of every new set of capture buffers, whatever the state: a live source negotiates, and
    // renegotiates, while PLAYING.
    if (mode == GST_NORVASRC_BUFFER_MODE_QUERY && gst_value_array_get_size(fdList) > 0 && reconfigured) {
        GstStructure *s = gst_structure_new("dmabuf_query", "buffer_size", G_TYPE_UINT, *fdSize, nullptr);
        gst_structure_set_value(s, "fd_list", fdList);
        query = gst_query_new_custom(GST_QUERY_CUSTOM, s);
    }
    if (mode == GST_NORVASRC_BUFFER_MODE_EVENT && event != nullptr && reconfigured &&
        gst_value_array_get_size(&eventList) > 0) {
        GstStructure *s = gst_structure_new("dmabuf_event", "buffer_size", G_TYPE_UINT, *fdSize, nullptr);
        gst_structure_take_value(s, "fd_list", &eventList);
        gst_structure_set(s, "caps_structure", GST_TYPE_STRUCTURE, gst_caps_get_structure(caps, 0), "seq-num",
                          G_TYPE_UINT, state->event_seqnum, nullptr);
        ++state->event_seqnum;
        *event = gst_event_new_custom(GST_EVENT_CUSTOM_DOWNSTREAM_STICKY, s);
    }
    if (G_IS_VALUE(&eventList))
        g_value_unset(&eventList);
    return query;
}

/** The configured output's rectangle in the frame, for the pad's bounds properties. */
void storeBounds(GstNorvasrc *src, const BufferFrameBounds &bounds, PadOutputs &outputs) {
    NorvasrcState *state = src->state;
    const BufferFrameBounds frame = state->main_context->getBounds();
    const gint64 xRel = static_cast<gint64>(bounds.x) - frame.x;
    const gint64 yRel = static_cast<gint64>(bounds.y) - frame.y;
    if (xRel < 0 || yRel < 0 || xRel + bounds.width > frame.width || yRel + bounds.height > frame.height)
        GST_WARNING_OBJECT(src, "Context bounds go out of frame bounds");
    outputs.bounds = true;
    BufferFrameBounds &out = outputs.frameBounds;
    out.x = static_cast<QOR_INT32>(xRel);
    out.y = static_cast<QOR_INT32>(static_cast<gint64>(frame.height) - bounds.height - yRel);
    out.width = bounds.width;
    out.height = bounds.height;
}

/**
 * Configures the pad's context output for its video description; both locks held. Busy: the output must change
 * while frames of the element are in flight; the caller drops the queued ones and asks again.
 */
Configured configureOutput(GstNorvasrc *src, TestContext *context, GstNorvaVideoId *id, bool allowBusy,
                           PadOutputs &outputs) {
    GST_DEBUG_OBJECT(src, "configure_output");
    NorvasrcState *state = src->state;
    const GstNorvaVideoFormat format = id->vinfo.format;
    if (!offerable(format, state->props.use_dmabuf)) {
        GST_ERROR_OBJECT(src, "Unsupported format: %s", gst_norva_video_format_to_string(format));
        return Configured::Failed;
    }
    std::list<BufferFormat> current;
    if (context->getOutputFormats(current)) {
        for (const BufferFormat &f : current) {
            if (!gst_norva_video_info_match_buffer_format(&id->vinfo, f))
                continue;
            // The same buffers serve on; capture stopped by an earlier stop starts again on them.
            if (context->pCamera->state != ISPC::Camera::CAM_CAPTURING && !gst_norvasrc_start_capture_unlocked(src))
                return Configured::Failed;
            return Configured::Kept;
        }
    }
    if (allowBusy && framesHeldOn(state, context == state->main_context))
        return Configured::Busy;
    const GstVideoInfo &info = id->vinfo.info;
    BufferFormat wanted;
    wanted.format = gst_norva_video_format_get_pixel_format(format);
    wanted.mosaic = gst_norva_video_format_get_mosaic(format);
    wanted.width = static_cast<QOR_UINT32>(info.width);
    wanted.height = static_cast<QOR_UINT32>(info.height);
    wanted.pixelAspectRatio = info.par_d != 0 ? static_cast<double>(info.par_n) / info.par_d : 1.0;
    wanted.bChromaInterstitial = info.chroma_site == GST_VIDEO_CHROMA_SITE_JPEG;
    wanted.bBT601 = gst_video_colorimetry_matches(&info.colorimetry, GST_VIDEO_COLORIMETRY_BT601) != FALSE;
    BufferFrameBounds bounds{0, 0, static_cast<QOR_UINT32>(-1), static_cast<QOR_UINT32>(-1)};

    if (!gst_norvasrc_stop_capture_unlocked(src))
        return Configured::Failed;
    if (!context->configureOutput(wanted, &bounds)) {
        GST_ERROR_OBJECT(src, "Failed to configure context %u output", id->context);
        return Configured::Failed;
    }
    if (!gst_norvasrc_start_capture_unlocked(src))
        return Configured::Failed;
    g_cond_broadcast(&state->buffers_allocated);
    state->fresh_from = state->shot_counter; // frames before this one are of the previous configuration
    storeBounds(src, bounds, outputs);
    return Configured::Reconfigured;
}

/** Gives back every frame no pad took yet: they are of the format that is about to change. */
void dropQueuedFrames(GstNorvasrc *src) {
    NorvasrcState *state = src->state;
    std::map<guintptr, ShotQueue> dropped;
    g_mutex_lock(&state->mutex);
    for (auto &entry : state->shot_queues)
        dropped[entry.first].swap(entry.second);
    dropped.clear();
    g_mutex_unlock(&state->mutex);
}

} // namespace

GstCaps *gst_norvasrc_negotiate_caps(GstNorvasrc *src, GstPad *pad, GstNorvaVideoId *id, GstEvent **event) {
    NorvasrcState *state = src->state;
    if (event != nullptr)
        *event = nullptr;
    const NorvasrcCaptureCall call;
    if (call.exiting())
        return nullptr; // the process ends: nothing is configured any more
    GST_OBJECT_LOCK(src);
    const guint own = state->props.context;
    GST_OBJECT_UNLOCK(src);
    id->context = own;
    const gint requested = requestedContext(pad);
    const bool automatic = requested == -1;
    if (requested >= 0)
        id->context = static_cast<guint>(requested);

    GstCaps *peer = gst_pad_peer_query_caps(pad, nullptr);
    gst_norvasrc_lock_contexts(src);
    if (state->main_context == nullptr) {
        gst_norvasrc_unlock_contexts(src);
        gst_caps_unref(peer);
        GST_ERROR_OBJECT(src, "Context is not initialized");
        GST_ELEMENT_ERROR(src, CORE, NEGOTIATION, ("No capture context to negotiate with."),
                          ("Context is not initialized"));
        return nullptr;
    }
    TestContext *context = nullptr;
    GstCaps *common = nullptr;
    GstCaps *offered = nullptr;
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (id->context == own) {
            context = state->main_context;
        } else {
            if (state->slave_context == nullptr) {
                LOG_SetLevel(1);
                state->slave_context = new TestContext();
                if (!state->slave_context->preconfigureSlave(*state->main_context)) {
                    // Half configured, it has no camera to stop or capture with: it goes at once.
                    delete state->slave_context;
                    state->slave_context = nullptr;
                    gst_norvasrc_unlock_contexts(src);
                    gst_caps_unref(peer);
                    GST_ERROR_OBJECT(src, "Failed to configure slave context %u", id->context);
                    GST_ELEMENT_ERROR(src, RESOURCE, SETTINGS, ("Cannot set up context %u.", id->context),
                                      ("Failed to configure slave context %u", id->context));
                    return nullptr;
                }
            }
            context = state->slave_context;
        }
        if (offered != nullptr)
            gst_caps_unref(offered);
        if (common != nullptr)
            gst_caps_unref(common);
        offered = contextCaps(*context, state->props.use_dmabuf);
        GST_INFO_OBJECT(src, "Context %u supported caps: %" GST_PTR_FORMAT, id->context, offered);
        common = gst_caps_intersect(offered, peer);
        if (!gst_caps_is_empty(common) || !automatic || id->context != own)
            break;
        id->context = own != 1 ? 1 : 0; // any context will do: the other one
    }
    if (gst_caps_is_empty(common)) {
        gst_norvasrc_unlock_contexts(src);
        GST_ERROR_OBJECT(src, "Failed to find common caps");
        gchar *requestedCaps = gst_caps_to_string(peer), *available = gst_caps_to_string(offered);
        GST_ELEMENT_ERROR(src, STREAM, FORMAT, ("Requested caps %s are not offered.", requestedCaps),
                          ("Failed to find common caps; offered caps: %s", available));
        g_free(requestedCaps);
        g_free(available);
        gst_caps_unref(common);
        gst_caps_unref(offered);
        gst_caps_unref(peer);
        return nullptr;
    }
    gst_caps_unref(offered);
    gst_caps_unref(peer);

    GstCaps *fixed = fixateCaps(common, *context);
    PadOutputs outputs;
    const char *failure = nullptr;
    Configured configured = Configured::Failed;
    bool noAllocator = false;
    GstQuery *query = nullptr;
    if (fixed == nullptr || !gst_caps_is_fixed(fixed)) {
        failure = "Failed to fixate caps";
    } else if (!gst_norva_video_info_from_caps(&id->vinfo, fixed)) {
        failure = "Failed to get video info from caps";
    } else {
        configured = configureOutput(src, context, id, true, outputs);
        if (configured == Configured::Busy) {
            // Frames of the old format are in flight: those no pad took go back now. Capture buffers that
            // downstream still holds stay readable; their context frees them when they come back.
            gst_norvasrc_unlock_contexts(src);
            dropQueuedFrames(src);
            gst_norvasrc_lock_contexts(src);
            configured = configureOutput(src, context, id, false, outputs);
        }
        if (configured == Configured::Failed) {
            failure = "Failed to configure output";
            // Capture buffers from the dmabuf allocator cannot be made without it: the user is told which device
            // is missing.
            noAllocator = state->props.use_dmabuf && !dmabufAllocatorOpens();
        } else if (state->props.use_dmabuf) {
            query = exchangeDmabufs(src, pad, *context, gst_norva_video_format_get_pixel_format(id->vinfo.format),
                                    fixed, configured == Configured::Reconfigured, event, outputs);
        }
    }
    gst_norvasrc_unlock_contexts(src);
    publishOutputs(src, pad, outputs);
    if (noAllocator) {
        GST_ERROR_OBJECT(src, "%s: no dmabuf allocator", failure);
        GST_ELEMENT_ERROR(src, RESOURCE, NOT_FOUND, ("Cannot open the dmabuf allocator \"%s\".", DMABUF_DEVICE_PATH),
                          ("%s", failure));
        if (fixed != nullptr)
            gst_caps_unref(fixed);
        return nullptr;
    }
    if (failure != nullptr) {
        GST_ERROR_OBJECT(src, "%s", failure);
        gchar *text = fixed != nullptr ? gst_caps_to_string(fixed) : nullptr;
        GST_ELEMENT_ERROR(src, STREAM, FORMAT, ("Cannot produce caps %s.", text != nullptr ? text : "(none)"),
                          ("%s; Failed to configure output", failure));
        g_free(text);
        if (fixed != nullptr)
            gst_caps_unref(fixed);
        return nullptr;
    }
    if (query != nullptr) {
        if (gst_pad_peer_query(pad, query))
            GST_INFO_OBJECT(src, "Dmabuf query succeeded");
        else
            GST_INFO_OBJECT(src, "Dmabuf query failed. No supported downstream element?");
        gst_query_unref(query);
    }
    GST_INFO_OBJECT(
        src, "Context %u %s caps: %" GST_PTR_FORMAT, id->context,
        BufferTypeString(BufferTypeFromPixelFormat(gst_norva_video_format_get_pixel_format(id->vinfo.format))), fixed);
    return fixed;
}

gboolean gst_norvasrc_negotiate(GstBaseSrc *base) {
    GstNorvasrc *src = GST_NORVASRC(base);
    GST_DEBUG_OBJECT(src, "negotiate");
    GstEvent *event = nullptr;
    GstCaps *caps = gst_norvasrc_negotiate_caps(src, GST_BASE_SRC_PAD(base), &src->state->video_id, &event);
    if (caps == nullptr) {
        GST_ERROR_OBJECT(src, "Failed to negotiate caps");
        return FALSE;
    }
    const gboolean result = gst_base_src_set_caps(base, caps);
    if (!result)
        GST_ERROR_OBJECT(src, "Failed to set caps");
    gst_caps_unref(caps);
    if (event != nullptr)
        gst_pad_push_event(GST_BASE_SRC_PAD(base), event);
    return result;
}
