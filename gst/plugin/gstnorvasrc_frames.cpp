/*
 * norvasrc's frame loop for its own pad: waits until a capture buffer may be enqueued, triggers and acquires one
 * shot, and hands downstream the capture buffer itself, wrapped without a copy. The shot goes back to the camera
 * when the last reference to that memory is dropped. Shot records come from a pool sized at start, so the loop
 * allocates nothing of its own per frame.
 */
#include <ctime>

#include <gst/allocators/gstdmabuf.h>

#include "gstnorvabuf.h"
#include "gstnorvasrc.h"
#include "testcontext.h"

#define GST_CAT_DEFAULT gst_norvasrc_debug

/** One shot held by an output memory downstream. */
struct NorvasrcHeldShot {
    GstNorvasrc *src = nullptr; /**< a reference while the shot is held */
    ISPC::Shot shot;
    bool inUse = false;
};

namespace {

constexpr gint64 kWaitUs = 5 * G_TIME_SPAN_SECOND;

guint64 monotonicNs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<guint64>(ts.tv_sec) * 1000000000ull + static_cast<guint64>(ts.tv_nsec);
}

/** Returns a held shot to its camera; runs when the output memory that showed it is freed, on any thread. */
void releaseHeldShot(gpointer data, GstMiniObject *) {
    NorvasrcHeldShot *held = static_cast<NorvasrcHeldShot *>(data);
    GstNorvasrc *src = held->src;
    NorvasrcState *state = src->state;
    GST_DEBUG_OBJECT(src, "Freeing shot %p", static_cast<void *>(held));
    GST_OBJECT_LOCK(src);
    if (state->main_context != nullptr && state->main_context->pCamera->releaseShot(held->shot) != QOR_RES_OK)
        GST_ERROR_OBJECT(src, "Failed to release shot of main context");
    GST_OBJECT_UNLOCK(src);
    g_mutex_lock(&state->mutex);
    held->inUse = false;
    held->src = nullptr;
    --state->held_shots;
    if (state->held_shots == 0 && state->release_pending)
        gst_norvasrc_destroy_contexts_unlocked(src);
    g_cond_broadcast(&state->shot_released);
    g_mutex_unlock(&state->mutex);
    gst_object_unref(src);
}

/** The output of the shot that carries the pad's format. */
const ISPC::Buffer &outputOf(const ISPC::Shot &shot, GstNorvaVideoFormat format) {
    switch (BufferTypeFromPixelFormat(gst_norva_video_format_get_pixel_format(format))) {
    case CI_TYPE_ENCODER:
        return shot.YUV;
    case CI_TYPE_DATAEXT:
        return shot.BAYER;
    default:
        return shot.DISPLAY;
    }
}

} // namespace

void gst_norvasrc_shot_pool_reset(GstNorvasrc *src, guint size) {
    NorvasrcState *state = src->state;
    delete[] state->shot_pool;
    state->shot_pool = size > 0 ? new NorvasrcHeldShot[size] : nullptr;
    state->shot_pool_size = size;
    state->held_shots = 0;
}

void gst_norvasrc_shot_pool_free(GstNorvasrc *src) {
    delete[] src->state->shot_pool;
    src->state->shot_pool = nullptr;
    src->state->shot_pool_size = 0;
}

gboolean gst_norvasrc_fetch_free_buffer(guint64 preenq, guint64 held, guint64 alloc) {
    return preenq < alloc && held < alloc - preenq; // preenq + held < alloc, without overflow
}

/** Waits, with the mutex held, until a capture buffer may be enqueued: GST_FLOW_OK, FLUSHING or ERROR. */
static GstFlowReturn waitForFreeBuffer(GstNorvasrc *src) {
    NorvasrcState *state = src->state;
    const gint64 deadline = g_get_monotonic_time() + kWaitUs;
    bool warned = false;
    while (
        !gst_norvasrc_fetch_free_buffer(state->props.preenq_buffers, state->held_shots, state->props.alloc_buffers)) {
        if (g_atomic_int_get(&state->flushing))
            return GST_FLOW_FLUSHING;
        if (!warned) {
            GST_WARNING_OBJECT(src, "Waiting for shot to be released");
            warned = true;
        }
        if (!g_cond_wait_until(&state->shot_released, &state->mutex, deadline) &&
            !gst_norvasrc_fetch_free_buffer(state->props.preenq_buffers, state->held_shots,
                                            state->props.alloc_buffers)) {
            if (g_atomic_int_get(&state->flushing))
                return GST_FLOW_FLUSHING;
            GST_ERROR_OBJECT(src, "Timeout waiting for shot release");
            GST_ELEMENT_ERROR(src, RESOURCE, BUSY, ("Timeout waiting for shot release"),
                              ("every capture buffer is held downstream"));
            return GST_FLOW_ERROR;
        }
    }
    return g_atomic_int_get(&state->flushing) ? GST_FLOW_FLUSHING : GST_FLOW_OK;
}

/** Wraps the output of a held shot into a new buffer; null when the output cannot be shown. */
static GstBuffer *wrapShot(GstNorvasrc *src, NorvasrcHeldShot *held, const BufferInfo &info) {
    NorvasrcState *state = src->state;
    const GstNorvaVideoInfo &vinfo = state->video_id.vinfo;
    const ISPC::Buffer &out = outputOf(held->shot, vinfo.format);
    if (out.data == nullptr || info.size == 0)
        return nullptr;
    GstMemory *memory = nullptr;
    if (state->props.use_dmabuf && !state->props.use_mapped_dmabuf) {
        if (info.fd < 0)
            return nullptr;
        memory =
            gst_dmabuf_allocator_alloc_with_flags(state->allocator, info.fd, info.size, GST_FD_MEMORY_FLAG_DONT_CLOSE);
    } else {
        // The capture buffer from its start: the planes' offsets go into the video meta.
        memory = gst_norvabuf_allocator_wrap(state->allocator, GST_MEMORY_FLAG_READONLY,
                                             const_cast<QOR_UINT8 *>(out.data), info.size);
    }
    if (memory == nullptr)
        return nullptr;
    gst_mini_object_weak_ref(GST_MINI_OBJECT_CAST(memory), releaseHeldShot, held);
    GstBuffer *buffer = gst_buffer_new();
    gst_buffer_append_memory(buffer, memory);

    const GstVideoFormat format = gst_norva_video_format_get_video_format(vinfo.format);
    if (format != GST_VIDEO_FORMAT_UNKNOWN) {
        const bool semiPlanar = out.offsetCbCr != 0 || out.strideCbCr != 0;
        gsize offsets[GST_VIDEO_MAX_PLANES] = {out.offset, out.offsetCbCr};
        gint strides[GST_VIDEO_MAX_PLANES] = {out.stride, out.strideCbCr};
        gst_buffer_add_video_meta_full(buffer, GST_VIDEO_FRAME_FLAG_NONE, format, out.width, out.height,
                                       semiPlanar ? 2 : 1, offsets, strides);
    }
    return buffer;
}

GstFlowReturn gst_norvasrc_create(GstBaseSrc *base, guint64, guint, GstBuffer **buf) {
    GstNorvasrc *src = GST_NORVASRC(base);
    NorvasrcState *state = src->state;
    *buf = nullptr;
    if (g_atomic_int_get(&state->flushing))
        return GST_FLOW_FLUSHING;

    // A free record and a free capture buffer.
    g_mutex_lock(&state->mutex);
    GstFlowReturn ret = waitForFreeBuffer(src);
    NorvasrcHeldShot *held = nullptr;
    for (guint i = 0; ret == GST_FLOW_OK && i < state->shot_pool_size && held == nullptr; ++i) {
        if (!state->shot_pool[i].inUse)
            held = &state->shot_pool[i];
    }
    if (ret == GST_FLOW_OK && held == nullptr) {
        GST_ERROR_OBJECT(src, "No free shot record");
        ret = GST_FLOW_ERROR;
    }
    if (ret == GST_FLOW_OK) {
        held->inUse = true;
        ++state->held_shots;
    }
    g_mutex_unlock(&state->mutex);
    if (ret != GST_FLOW_OK)
        return ret;

    GST_OBJECT_LOCK(src);
    TestContext *context = state->main_context;
    const char *failure = nullptr;
    if (context == nullptr || !context->isBuffersAllocated()) {
        failure = "Failed to wait buffer allocations";
    } else if (context->pCamera->state == ISPC::Camera::CAM_CAPTURING &&
               context->pCamera->enqueueShot() != QOR_RES_OK) {
        failure = "Failed to enqueue shot for main context";
    } else if (context->pCamera->acquireShot(held->shot, true, true) != QOR_RES_OK) {
        failure = "Failed to acquire shot from main context";
    }
    BufferInfo info;
    guint64 id = 0;
    if (failure == nullptr) {
        id = state->shot_counter++;
        const ISPC::Buffer &out = outputOf(held->shot, state->video_id.vinfo.format);
        if (!context->getBufferInfo(static_cast<int>(out.id), info))
            info.size = 0;
    }
    GST_OBJECT_UNLOCK(src);
    if (failure != nullptr) {
        GST_ERROR_OBJECT(src, "%s", failure);
        GST_ERROR_OBJECT(src, "Failed to get shot");
        g_mutex_lock(&state->mutex);
        held->inUse = false;
        --state->held_shots;
        g_mutex_unlock(&state->mutex);
        if (g_atomic_int_get(&state->flushing))
            return GST_FLOW_FLUSHING;
        GST_ELEMENT_ERROR(src, RESOURCE, READ, ("Cannot capture a frame."), ("%s", failure));
        return GST_FLOW_ERROR;
    }
    const bool erroneous = held->shot.bFrameError;
    if (erroneous)
        GST_WARNING_OBJECT(src, "Got erroneous shot %" G_GUINT64_FORMAT, id);

    held->src = GST_NORVASRC(gst_object_ref(src));
    GstBuffer *buffer = wrapShot(src, held, info);
    if (buffer == nullptr) {
        GST_ERROR_OBJECT(src, "Failed to create buffer");
        releaseHeldShot(held, nullptr);
        return GST_FLOW_ERROR;
    }

    // Timestamps: the running time at which the frame was complete, from its age on the monotonic clock.
    GST_BUFFER_PTS(buffer) = GST_CLOCK_TIME_NONE;
    GstClock *clock = gst_element_get_clock(GST_ELEMENT_CAST(src));
    if (clock != nullptr) {
        const GstClockTime now = gst_clock_get_time(clock);
        const GstClockTime baseTime = gst_element_get_base_time(GST_ELEMENT_CAST(src));
        const GstClockTime run = now > baseTime ? now - baseTime : 0;
        const guint64 interrupt = held->shot.metadata.timestamps.ui64InterruptSysTime;
        const guint64 mono = monotonicNs();
        const guint64 age = interrupt != 0 && mono > interrupt ? mono - interrupt : 0;
        GST_BUFFER_PTS(buffer) = age > run ? 0 : run - age;
        gst_object_unref(clock);
    }
    GST_BUFFER_DURATION(buffer) = state->frame_duration;
    GST_BUFFER_OFFSET(buffer) = id;
    GST_BUFFER_OFFSET_END(buffer) = id + 1;
    if (erroneous)
        GST_BUFFER_FLAG_SET(buffer, GST_BUFFER_FLAG_CORRUPTED);
    *buf = buffer;
    return GST_FLOW_OK;
}
