/*
 * norvasrc's frame loop. One capture serves every source pad of the element (its own pad and the pads of the
 * norvaproxysrc elements that call in with themselves as the owner): one streaming thread at a time becomes the
 * fetcher, applies the runtime settings, waits for a free capture buffer, triggers and acquires one frame on every
 * capturing context and appends it to the queue of every owner. Each owner then wraps its next frame, without a
 * copy, into a buffer; the frame goes back to the cameras when no queue and no output memory refers to it.
 *
 * Locks: the mutex (queues, memory index, fetcher flag), then the context lock (every call into a context), then the
 * object lock (properties). The fetcher never holds the mutex while it holds either of the others, and waits for
 * the device with the context lock alone. Every wait is bounded and is woken by unlock.
 */
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include <gst/allocators/gstdmabuf.h>
#include <gst/video/video.h>

#include "ci/ci_api.h"
#include "gstnorvabuf.h"
#include "gstnorvameta.h"
#include "gstnorvaproxysrc.h"
#include "gstnorvasrc.h"
#include "ispc/DGCamera.h"
#include "testcontext.h"

#define GST_CAT_DEFAULT gst_norvasrc_debug

namespace {

constexpr gint64 kWaitUs = 5 * G_TIME_SPAN_SECOND;

/*
 * Process exit with elements streaming. exit() destroys static state (the sensor and setup registries, the
 * simulated platform) while streaming threads may still be inside a capture. The exit handler, installed once the
 * first frame came (after the static state the capture uses was made, so that it runs before that state goes),
 * raises g_exiting, wakes every element, and waits, within a bound, until no thread is counted inside a capture
 * call. These variables are trivially destructible, and the element list is never freed: both stay readable
 * while exit runs.
 */
std::atomic<int> g_exiting{0};
std::atomic<int> g_captureCalls{0};
thread_local int t_captureCalls = 0;
constexpr gint64 kExitWaitUs = 10 * G_TIME_SPAN_SECOND;

std::mutex &liveLock() {
    static std::mutex *lock = new std::mutex(); // never destroyed: the exit handler takes it
    return *lock;
}

std::vector<GstNorvasrc *> &liveElements() {
    static std::vector<GstNorvasrc *> *elements = new std::vector<GstNorvasrc *>(); // never destroyed, as above
    return *elements;
}

void quiesceAtExit() {
    g_exiting.store(1);
    {
        std::lock_guard<std::mutex> guard(liveLock());
        for (GstNorvasrc *src : liveElements())
            gst_norvasrc_wake_waiters(src);
    }
    // A thread that calls exit() from inside a capture call does not wait for itself.
    const gint64 deadline = g_get_monotonic_time() + kExitWaitUs;
    while (g_captureCalls.load() > t_captureCalls && g_get_monotonic_time() < deadline)
        g_usleep(1000);
}

void installExitHandler() {
    static std::once_flag once;
    std::call_once(once, [] { std::atexit(quiesceAtExit); });
}

guint64 monotonicNs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<guint64>(ts.tv_sec) * 1000000000ull + static_cast<guint64>(ts.tv_nsec);
}

void lockMutex(GstNorvasrc *src) {
    GST_TRACE_OBJECT(src, "Locking the mutex.");
    g_mutex_lock(&src->state->mutex);
    GST_TRACE_OBJECT(src, "The mutex is locked.");
}

void unlockMutex(GstNorvasrc *src) {
    g_mutex_unlock(&src->state->mutex);
    GST_TRACE_OBJECT(src, "The mutex is unlocked.");
}

/** Waits on `cond` with the mutex, counted in `waiters`; TRUE when woken before the deadline. */
gboolean waitCounted(GCond *cond, GMutex *mutex, gint &waiters, gint64 deadline) {
    ++waiters;
    const gboolean woken = g_cond_wait_until(cond, mutex, deadline);
    --waiters;
    return woken;
}

void lockContext(GstNorvasrc *src) { g_mutex_lock(&src->state->context_lock); }

void unlockContext(GstNorvasrc *src) { g_mutex_unlock(&src->state->context_lock); }

/** What the loop reads of the owner of a pad: the element itself (owner null) or a norvaproxysrc. */
struct Owner {
    guintptr key;
    gint *flushing;
    GstNorvaVideoId *id;
    GstObject *object;
    bool proxy;

    Owner(GstNorvasrc *src, gpointer owner) {
        if (owner != nullptr) {
            GstNorvaProxySrc *p = static_cast<GstNorvaProxySrc *>(owner);
            key = reinterpret_cast<guintptr>(owner);
            flushing = &p->flushing;
            id = &p->video_id;
            object = GST_OBJECT_CAST(p);
            proxy = true;
        } else {
            key = reinterpret_cast<guintptr>(src);
            flushing = &src->state->flushing;
            id = &src->state->video_id;
            object = GST_OBJECT_CAST(src);
            proxy = false;
        }
    }
    bool isFlushing() const { return g_atomic_int_get(flushing) != 0 || g_exiting.load() != 0; }
    gint bufMode(GstNorvasrc *src) const {
        if (proxy)
            return g_atomic_int_get(&reinterpret_cast<GstNorvaProxySrc *>(key)->buf_mode);
        return g_atomic_int_get(&src->state->props.buf_mode);
    }
};

/** A record for a new frame: reused from the pool, counted as live until it is freed. */
CombinedShot *takeRecord(GstNorvasrc *src) {
    ShotPool &pool = src->state->pool;
    std::lock_guard<std::mutex> guard(pool.lock);
    CombinedShot *shot = nullptr;
    if (!pool.free.empty()) {
        shot = pool.free.back();
        pool.free.pop_back();
    } else {
        shot = new CombinedShot();
    }
    ++pool.live;
    shot->main.clear();
    shot->slave.clear();
    shot->hasSlave = false;
    shot->id = 0;
    for (guint i = 0; i < SHOT_OUT_N; ++i)
        shot->mainOut[i] = shot->slaveOut[i] = ShotOutput();
    shot->iris = 0.0;
    shot->focus = shot->brightness = 0.0f;
    shot->refs.store(0, std::memory_order_relaxed);
    shot->src = src;
    shot->generation = pool.generation;
    return shot;
}

/** Gives a record back to the pool; the last live one destroys contexts whose release waited for it. */
void returnRecord(GstNorvasrc *src, CombinedShot *shot) {
    ShotPool &pool = src->state->pool;
    bool destroy = false;
    {
        std::lock_guard<std::mutex> guard(pool.lock);
        pool.free.push_back(shot);
        --pool.live;
        if (shot->hasSlave)
            --pool.liveSlave;
        if (pool.live == 0 && pool.release_pending) {
            pool.release_pending = false;
            destroy = true;
        }
    }
    if (destroy)
        gst_norvasrc_destroy_contexts_unlocked(src);
}

/** The output of a shot by buffer type, with its snapshot slot; null for types without an output. */
const ISPC::Buffer *outputOf(const ISPC::Shot &shot, CI_BUFFTYPE type, guint *index) {
    switch (type) {
    case CI_TYPE_ENCODER:
        *index = SHOT_OUT_YUV;
        return &shot.YUV;
    case CI_TYPE_DISPLAY:
        *index = SHOT_OUT_DISPLAY;
        return &shot.DISPLAY;
    case CI_TYPE_DATAEXT:
        *index = SHOT_OUT_BAYER;
        return &shot.BAYER;
    default:
        return nullptr;
    }
}

/** Reads what buffer building needs of the shot's capture buffers from its context; context lock held. */
void snapshotOutputs(const TestContext &context, const ISPC::Shot &shot, ShotOutput *outputs) {
    const ISPC::Buffer *buffers[SHOT_OUT_N] = {&shot.YUV, &shot.DISPLAY, &shot.BAYER};
    for (guint i = 0; i < SHOT_OUT_N; ++i) {
        BufferInfo info;
        if (buffers[i]->data == nullptr || !context.getBufferInfo(static_cast<int>(buffers[i]->id), info))
            continue;
        outputs[i].valid = true;
        outputs[i].fd = info.fd;
        outputs[i].size = info.size;
        outputs[i].mapped = info.pMapped;
        outputs[i].type = info.eType;
    }
}

/**
 * The index key of an output memory: its address, unique while it lives. A descriptor would not do: two pads on
 * one output show the same descriptor, and a number closed with an old buffer may come back with a new one.
 */
gint64 memoryKey(GstMemory *memory) { return static_cast<gint64>(reinterpret_cast<guintptr>(memory)); }

/** What the log names a memory by: the dmabuf descriptor of fd memory, else its address. */
gint64 memoryName(GstMemory *memory) {
    if (gst_is_fd_memory(memory))
        return gst_fd_memory_get_fd(memory);
    return memoryKey(memory);
}

/** The last reference to an output memory went: its frame is given back (the release function of every memory). */
void memoryFreed(GstMemory *memory, gpointer data) {
    const NorvasrcCaptureCall call;
    if (call.exiting())
        return; // the process ends: the frame, and the element it holds, stay as they are
    GstNorvasrc *src = static_cast<GstNorvasrc *>(data);
    NorvasrcState *state = src->state;
    const gint64 key = memoryKey(memory);
    lockMutex(src);
    auto it = std::find_if(state->memory_shots.begin(), state->memory_shots.end(),
                           [key](const MemoryShot &m) { return m.key == key; });
    const bool found = it != state->memory_shots.end();
    if (found) {
        // The shot goes back to the camera before anyone learns that a buffer is free.
        ShotHandle shot = std::move(it->shot);
        state->memory_shots.erase(it);
        shot.reset();
    }
    const bool waited = state->release_waiters > 0;
    unlockMutex(src);
    if (waited)
        g_cond_broadcast(&state->shot_released);
    if (found)
        GST_DEBUG_OBJECT(src, "File descriptor %" G_GINT64_FORMAT " released", memoryName(memory));
    else
        GST_ERROR_OBJECT(src, "File descriptor %" G_GINT64_FORMAT " is absent in the map", memoryName(memory));
    gst_object_unref(src);
}

/** Output memories alive downstream that still hold their frame; mutex held. */
size_t heldMemories(const NorvasrcState *state) {
    return static_cast<size_t>(std::count_if(state->memory_shots.begin(), state->memory_shots.end(),
                                             [](const MemoryShot &m) { return static_cast<bool>(m.shot); }));
}

/**
 * An owner stopped while others stream: the buffers it delivered may live on downstream for as long as its
 * branch likes (a sink keeps its last one), but must not hold capture buffers the other pads need. A memory that
 * wraps mapped data is redirected to a copy of its frame; a dmabuf memory cannot be (its descriptor is the
 * capture buffer), so it is mapped once, which keeps its pages readable whatever becomes of the descriptor, and
 * shows later frames as the capture reuses the buffer. Either way its frame goes back to the cameras. Mutex held.
 */
void detachOwnerMemories(GstNorvasrc *src, guintptr owner) {
    for (MemoryShot &m : src->state->memory_shots) {
        if (m.owner != owner || !m.shot)
            continue;
        // The entry exists until the memory's release function removes it under the mutex: the memory is valid.
        GstMemory *memory = reinterpret_cast<GstMemory *>(static_cast<guintptr>(m.key));
        if (!gst_norvabuf_memory_detach(memory)) {
            GstMapInfo map;
            if (gst_memory_map(memory, &map, GST_MAP_READ))
                gst_memory_unmap(memory, &map);
        }
        m.shot.reset();
    }
}

/** Drops the owner from the pads that capture waits for; mutex held. */
void forgetUnnegotiated(NorvasrcState *state, guintptr key) {
    auto &owners = state->unnegotiated;
    owners.erase(std::remove(owners.begin(), owners.end(), key), owners.end());
}

/** What buffer building reads of the properties, taken once per buffer under the object lock. */
struct BuildSettings {
    guint context;
    gboolean useDmabuf;
    gboolean useMappedDmabuf;
    gboolean addHistogram;
    gboolean doTimestamp;
};

/** The memory over a whole capture buffer, by memory kind; null when it cannot be shown. */
GstMemory *wrapOutput(GstNorvasrc *src, const BuildSettings &settings, const ISPC::Buffer &buffer,
                      const ShotOutput &out, gsize size) {
    GstAllocator *allocator = src->state->allocator;
    if (allocator == nullptr || size == 0)
        return nullptr;
    if (settings.useDmabuf && !settings.useMappedDmabuf) {
        if (out.fd < 0)
            return nullptr;
        GST_DEBUG_OBJECT(src, "Acquired DMA buffer with info: fd %d, size %" G_GSIZE_FORMAT, out.fd, size);
        GstMemory *memory =
            gst_dmabuf_allocator_alloc_with_flags(allocator, out.fd, size, GST_FD_MEMORY_FLAG_DONT_CLOSE);
        // Every pad of the capture may show this buffer: a writer on one branch works on a copy.
        if (memory != nullptr)
            GST_MINI_OBJECT_FLAG_SET(memory, GST_MEMORY_FLAG_READONLY);
        return memory;
    }
    if (settings.useDmabuf) {
        // A dmabuf that could not be mapped has nothing to show: never a wrap of a null address.
        if (out.mapped == nullptr)
            return nullptr;
        GST_DEBUG_OBJECT(src, "Acquired buffer %p, size %" G_GSIZE_FORMAT, out.mapped, size);
        return gst_norvabuf_allocator_wrap(allocator, static_cast<GstMemoryFlags>(0), out.mapped, size);
    }
    if (buffer.data == nullptr)
        return nullptr;
    // The capture buffer from its start: the planes' offsets from there go into the video meta.
    GST_DEBUG_OBJECT(src, "Acquired buffer %p, size %" G_GSIZE_FORMAT, static_cast<const void *>(buffer.data), size);
    return gst_norvabuf_allocator_wrap(allocator, GST_MEMORY_FLAG_READONLY, const_cast<QOR_UINT8 *>(buffer.data), size);
}

/** Presentation time of a frame on the owner's channel; the channel's history is updated. */
GstClockTime frameTimestamp(GstNorvasrc *src, const Owner &owner, const BuildSettings &settings,
                            const ISPC::Shot &shot) {
    NorvasrcState *state = src->state;
    GST_TRACE_OBJECT(src, "gst_norvasrc_update_buffer_time_info");
    const guint64 sys = shot.metadata.timestamps.ui64InterruptSysTime;
    const guint64 utc = shot.metadata.timestamps.ui64InterruptTimeOfDay;
    ChannelTime &previous = state->time_info[owner.key];
    GstClockTime ts = GST_CLOCK_TIME_NONE;
    if (!settings.doTimestamp) {
        const GstClockTime run = gst_element_get_current_running_time(GST_ELEMENT_CAST(src));
        if (GST_CLOCK_TIME_IS_VALID(run)) {
            const guint64 now = monotonicNs();
            const guint64 age = now > sys ? now - sys : 0;
            ts = run >= age ? run - age : 0;
            // A channel's timestamps never go back while the running time grows.
            if (previous.ts > ts)
                ts = run;
        }
    }
    if (GST_CLOCK_TIME_IS_VALID(ts)) {
        const gint64 tsDiff = static_cast<gint64>(ts - previous.ts);
        const gint64 utcDiff = static_cast<gint64>(utc - previous.utc);
        if (tsDiff < 0 || utcDiff < 0)
            GST_WARNING_OBJECT(
                src,
                "Current timestamp for channel '%s' is less than the previous one, ts_diff = %" G_GINT64_FORMAT
                ", utc_diff = %" G_GINT64_FORMAT,
                GST_OBJECT_NAME(owner.object), tsDiff, utcDiff);
        previous.ts = ts;
    }
    previous.utc = utc;
    return ts;
}

/**
 * Builds the owner's buffer of a frame: one memory over the capture buffer of the owner's stream, with video meta,
 * times, reference timestamps and the metadata records. Mutex held. Null after logging why.
 */
GstBuffer *createBuffer(GstNorvasrc *src, const ShotHandle &handle, const Owner &owner, const BuildSettings &settings,
                        const OwnerLayout *&relayout) {
    relayout = nullptr;
    NorvasrcState *state = src->state;
    const CombinedShot &frame = *handle.get();
    const GstNorvaVideoId &id = *owner.id;
    const bool mainSide = id.context == settings.context;
    if (!mainSide && !frame.hasSlave) {
        GST_ERROR_OBJECT(src, "Failed to identify video stream");
        return nullptr;
    }
    const ISPC::Shot &shot = mainSide ? frame.main : frame.slave;
    const pxlFormat pixelFormat = gst_norva_video_format_get_pixel_format(id.vinfo.format);
    const CI_BUFFTYPE type = BufferTypeFromPixelFormat(pixelFormat);
    guint index = 0;
    const ISPC::Buffer *buffer = outputOf(shot, type, &index);
    if (buffer == nullptr) {
        GST_ERROR_OBJECT(src, "Unsupported pixel format");
        return nullptr;
    }
    const GstVideoInfo &info = id.vinfo.info;
    if (buffer->pxlFormat != pixelFormat || buffer->width != static_cast<guint>(info.width) ||
        buffer->height != static_cast<guint>(info.height)) {
        GST_ERROR_OBJECT(src, "Buffer data has unexpected format");
        return nullptr;
    }
    const ShotOutput &out = (mainSide ? frame.mainOut : frame.slaveOut)[index];
    if (!out.valid) {
        GST_ERROR_OBJECT(src, "Failed to get buffer info");
        GST_ERROR_OBJECT(src, "Failed to get GStreamer's buffer");
        return nullptr;
    }
    // Planes as the device laid them out in the capture buffer.
    gsize offsets[GST_VIDEO_MAX_PLANES] = {buffer->offset, 0, 0, 0};
    gint strides[GST_VIDEO_MAX_PLANES] = {buffer->stride, 0, 0, 0};
    guint planes = 1;
    if (type == CI_TYPE_ENCODER) {
        offsets[1] = buffer->offsetCbCr;
        strides[1] = buffer->strideCbCr;
        planes = 2;
    }
    const GstVideoFormat videoFormat = gst_norva_video_format_get_video_format(id.vinfo.format);
    if (videoFormat == GST_VIDEO_FORMAT_UNKNOWN)
        planes = 1;

    // A peer that does not read the video meta gets the format's default layout: the capture buffer itself, cut
    // to one frame, when the device laid the frame out so; else a copy (made by the caller).
    gsize size = static_cast<gsize>(out.size);
    auto layout = state->layouts.find(owner.key);
    if (layout != state->layouts.end() && !layout->second.meta) {
        const OwnerLayout &l = layout->second;
        bool same = l.planes == planes && l.size <= size;
        for (guint p = 0; same && p < planes; ++p)
            same = l.offsets[p] == offsets[p] && l.strides[p] == strides[p];
        if (same)
            size = l.size;
        else
            relayout = &l;
    }

    GST_TRACE_OBJECT(src, "gst_norvasrc_wrap_buffer");
    GstMemory *memory = wrapOutput(src, settings, *buffer, out, size);
    if (memory == nullptr) {
        GST_ERROR_OBJECT(src, "Failed to create memory to wrap buffer");
        GST_ERROR_OBJECT(src, "Failed to get GStreamer's buffer");
        return nullptr;
    }
    GstBuffer *result = gst_buffer_new();
    gst_buffer_append_memory(result, memory);
    // A dispose function rather than a weak reference: it allocates nothing per buffer.
    gst_norvabuf_memory_set_release(memory, memoryFreed, gst_object_ref(src));

    if (shot.bFrameError)
        GST_BUFFER_FLAG_SET(result, GST_BUFFER_FLAG_CORRUPTED);

    const GstClockTime ts = frameTimestamp(src, owner, settings, shot);
    gst_buffer_add_reference_timestamp_meta(result, state->utc_caps, shot.metadata.timestamps.ui64InterruptTimeOfDay,
                                            state->frame_duration);
    gst_buffer_add_reference_timestamp_meta(result, state->stream_caps, shot.metadata.timestamps.ui64InterruptSysTime,
                                            state->frame_duration);
    GST_BUFFER_PTS(result) = ts;
    GST_BUFFER_DTS(result) = ts;
    GST_BUFFER_DURATION(result) = state->frame_duration;
    GST_BUFFER_OFFSET(result) = frame.id;
    GST_BUFFER_OFFSET_END(result) = frame.id + 1;

    gst_buffer_add_video_meta_full(result, GST_VIDEO_FRAME_FLAG_NONE, videoFormat, buffer->width, buffer->height,
                                   planes, offsets, strides);

    // Control results of the main context for this very frame, whichever context serves the pad.
    gst_buffer_add_iris_correction_meta(result, frame.iris);
    gst_buffer_add_focus_value_meta(result, frame.focus);
    gst_buffer_add_current_brightness_meta(result, frame.brightness);
    if (settings.addHistogram)
        gst_buffer_add_brightness_hist_meta(result, &shot.metadata.histogramStats);
    GST_TRACE_OBJECT(src, "fvalue=%f", static_cast<double>(frame.focus));
    return result;
}

/**
 * Gives `copy` the times, flags and metadata records of `buffer`, with a video meta of the given planes (the
 * records of brightness do not follow copies into other memory by themselves).
 */
void copyRecords(GstBuffer *copy, GstBuffer *buffer, const GstVideoMeta &video, const gsize *offsets,
                 const gint *strides, const CombinedShot &frame, const ISPC::Shot &shot, gboolean histogram) {
    const GstVideoFrameFlags flags = video.flags;
    const GstVideoFormat format = video.format;
    const guint width = video.width, height = video.height, planes = video.n_planes;
    gsize planeOffsets[GST_VIDEO_MAX_PLANES] = {0, 0, 0, 0};
    gint planeStrides[GST_VIDEO_MAX_PLANES] = {0, 0, 0, 0};
    for (guint p = 0; p < planes && p < GST_VIDEO_MAX_PLANES; ++p) {
        planeOffsets[p] = offsets[p];
        planeStrides[p] = strides[p];
    }
    gst_buffer_copy_into(
        copy, buffer,
        static_cast<GstBufferCopyFlags>(GST_BUFFER_COPY_FLAGS | GST_BUFFER_COPY_TIMESTAMPS | GST_BUFFER_COPY_META), 0,
        static_cast<gsize>(-1));
    GstVideoMeta *copied = gst_buffer_get_video_meta(copy);
    if (copied != nullptr)
        gst_buffer_remove_meta(copy, &copied->meta);
    gst_buffer_add_video_meta_full(copy, flags, format, width, height, planes, planeOffsets, planeStrides);
    if (gst_buffer_get_meta(copy, gst_norva_current_brightness_meta_api_get_type()) == nullptr)
        gst_buffer_add_current_brightness_meta(copy, frame.brightness);
    if (histogram && gst_buffer_get_meta(copy, gst_norva_brightness_hist_meta_api_get_type()) == nullptr)
        gst_buffer_add_brightness_hist_meta(copy, &shot.metadata.histogramStats);
}

/** A copy of a buffer in system memory, with its times, flags and every metadata record. */
GstBuffer *copyBuffer(GstBuffer *buffer, const CombinedShot &frame, const ISPC::Shot &shot, gboolean histogram) {
    GstMapInfo map;
    if (!gst_buffer_map(buffer, &map, GST_MAP_READ))
        return nullptr;
    GstBuffer *copy = gst_buffer_new_allocate(nullptr, map.size, nullptr);
    if (copy != nullptr) {
        gst_buffer_fill(copy, 0, map.data, map.size);
        GstVideoMeta *video = gst_buffer_get_video_meta(buffer);
        if (video != nullptr) {
            copyRecords(copy, buffer, *video, video->offset, video->stride, frame, shot, histogram);
        } else {
            gst_buffer_copy_into(copy, buffer,
                                 static_cast<GstBufferCopyFlags>(GST_BUFFER_COPY_FLAGS | GST_BUFFER_COPY_TIMESTAMPS |
                                                                 GST_BUFFER_COPY_META),
                                 0, static_cast<gsize>(-1));
        }
    }
    gst_buffer_unmap(buffer, &map);
    return copy;
}

/**
 * The frame of a buffer in the default layout of `layout`, in a buffer of its pool, with the times, flags and
 * records of the buffer and a video meta of that layout; null when it cannot be made.
 */
GstBuffer *copyToLayout(GstBuffer *buffer, const OwnerLayout &layout, const CombinedShot &frame, const ISPC::Shot &shot,
                        gboolean histogram) {
    GstVideoMeta *video = gst_buffer_get_video_meta(buffer);
    GstBuffer *copy = nullptr;
    if (video == nullptr || video->n_planes != layout.planes ||
        gst_buffer_pool_acquire_buffer(layout.pool, &copy, nullptr) != GST_FLOW_OK)
        return nullptr;
    GstMapInfo in, out;
    if (!gst_buffer_map(buffer, &in, GST_MAP_READ)) {
        gst_buffer_unref(copy);
        return nullptr;
    }
    if (!gst_buffer_map(copy, &out, GST_MAP_WRITE)) {
        gst_buffer_unmap(buffer, &in);
        gst_buffer_unref(copy);
        return nullptr;
    }
    bool fits = out.size >= layout.size;
    for (guint p = 0; fits && p < layout.planes; ++p) {
        const gsize row = static_cast<gsize>(MIN(layout.strides[p], video->stride[p]));
        fits = layout.rows[p] == 0 ||
               video->offset[p] + static_cast<gsize>(video->stride[p]) * (layout.rows[p] - 1) + row <= in.size;
        for (guint r = 0; fits && r < layout.rows[p]; ++r)
            std::memcpy(out.data + layout.offsets[p] + static_cast<gsize>(layout.strides[p]) * r,
                        in.data + video->offset[p] + static_cast<gsize>(video->stride[p]) * r, row);
    }
    gst_buffer_unmap(copy, &out);
    gst_buffer_unmap(buffer, &in);
    if (!fits) {
        gst_buffer_unref(copy);
        return nullptr;
    }
    gst_buffer_set_size(copy, static_cast<gssize>(layout.size));
    copyRecords(copy, buffer, *video, layout.offsets, layout.strides, frame, shot, histogram);
    return copy;
}

/** Drops the owner's layout and its pool; mutex held. */
void forgetLayout(NorvasrcState *state, guintptr owner) {
    auto it = state->layouts.find(owner);
    if (it == state->layouts.end())
        return;
    if (it->second.pool != nullptr) {
        gst_buffer_pool_set_active(it->second.pool, FALSE);
        gst_object_unref(it->second.pool);
    }
    state->layouts.erase(it);
}

/** The default layout of a negotiated format: planes, offsets, strides, rows and size. FALSE for none. */
bool defaultLayout(const GstNorvaVideoInfo &vinfo, OwnerLayout &layout) {
    const guint width = static_cast<guint>(vinfo.info.width), height = static_cast<guint>(vinfo.info.height);
    if (width == 0 || height == 0)
        return false;
    const GstVideoFormat format = gst_norva_video_format_get_video_format(vinfo.format);
    if (format != GST_VIDEO_FORMAT_UNKNOWN) {
        GstVideoInfo info;
        if (!gst_video_info_set_format(&info, format, width, height))
            return false;
        layout.planes = GST_VIDEO_INFO_N_PLANES(&info);
        for (guint p = 0; p < layout.planes && p < 4; ++p) {
            layout.offsets[p] = GST_VIDEO_INFO_PLANE_OFFSET(&info, p);
            layout.strides[p] = GST_VIDEO_INFO_PLANE_STRIDE(&info, p);
            for (guint c = 0; c < GST_VIDEO_INFO_N_COMPONENTS(&info); ++c) {
                if (GST_VIDEO_INFO_COMP_PLANE(&info, c) == p)
                    layout.rows[p] = static_cast<guint>(GST_VIDEO_INFO_COMP_HEIGHT(&info, c));
            }
        }
        layout.size = GST_VIDEO_INFO_SIZE(&info);
        return true;
    }
    // Bayer: packed rows (the depth's pixel groups), each rounded up to four bytes as GStreamer's Bayer elements
    // read them.
    PIXELTYPE type = {};
    const pxlFormat pixelFormat = gst_norva_video_format_get_pixel_format(vinfo.format);
    if (PixelTransformBayer(&type, pixelFormat, gst_norva_video_format_get_mosaic(vinfo.format)) != QOR_RES_OK ||
        type.ui8PackedElements == 0)
        return false;
    const guint row = (width + type.ui8PackedElements - 1u) / type.ui8PackedElements * type.ui8PackedStride;
    layout.planes = 1;
    layout.offsets[0] = 0;
    layout.strides[0] = static_cast<gint>(GST_ROUND_UP_4(row));
    layout.rows[0] = height;
    layout.size = static_cast<gsize>(layout.strides[0]) * height;
    return true;
}

/** Whether every context that has capture buffers to wait for has them. Context lock held. */
bool buffersAllocated(const NorvasrcState *state) {
    return state->main_context != nullptr && state->main_context->isBuffersAllocated() &&
           (state->slave_context == nullptr || state->slave_context->isBuffersAllocated());
}

bool canEnqueue(const TestContext *context) {
    return context != nullptr && context->pCamera != nullptr &&
           context->pCamera->state == ISPC::Camera::CAM_CAPTURING && context->isBuffersAllocated();
}

/** Gives the shots of a record back to their cameras; context lock held. */
void releaseToCameras(GstNorvasrc *src, CombinedShot *shot) {
    NorvasrcState *state = src->state;
    // Shots of contexts destroyed meanwhile went with their cameras.
    if (shot->generation != state->pool.generation)
        return;
    TestContext *main = state->main_context;
    TestContext *slave = state->slave_context;
    if (main != nullptr && main->pCamera != nullptr && main->pCamera->releaseShot(shot->main) != QOR_RES_OK)
        GST_ERROR_OBJECT(src, "Failed to release shot of main context");
    if (shot->hasSlave && slave != nullptr && slave->pCamera != nullptr &&
        slave->pCamera->releaseShot(shot->slave) != QOR_RES_OK)
        GST_ERROR_OBJECT(src, "Failed to release shot of slave context");
}

/** Marks the start of the fetcher's wait for the device; context lock held. */
void beginAcquire(NorvasrcState *state) {
    std::lock_guard<std::mutex> guard(state->pool.lock);
    state->pool.acquiring = true;
}

/**
 * Ends the wait for the device and gives back the records freed meanwhile; context lock held, and a record of the
 * fetcher's own still live, so that no record returned here is the last one of contexts waiting to go.
 */
void endAcquire(GstNorvasrc *src) {
    ShotPool &pool = src->state->pool;
    {
        std::lock_guard<std::mutex> guard(pool.lock);
        pool.acquiring = false;
        pool.draining.swap(pool.pending);
    }
    if (pool.draining.empty())
        return;
    for (CombinedShot *shot : pool.draining) {
        releaseToCameras(src, shot);
        returnRecord(src, shot);
    }
    pool.draining.clear();
    g_cond_broadcast(&src->state->shot_released);
}

/** Posts the error of a failed frame unless the owner was unlocked meanwhile (then it is flushing). */
GstFlowReturn failFrame(GstNorvasrc *src, const Owner &owner, const char *what) {
    if (owner.isFlushing())
        return GST_FLOW_FLUSHING;
    GST_ELEMENT_ERROR(src, RESOURCE, READ, ("Cannot capture a frame."), ("%s", what));
    return GST_FLOW_ERROR;
}

/** Enqueues one shot on each capturing context, main first. Context lock held. FALSE after logging. */
bool enqueueShots(GstNorvasrc *src, const char **failure) {
    NorvasrcState *state = src->state;
    GST_TRACE_OBJECT(src, "gst_norvasrc_enqueue_shot_unlocked");
    if (canEnqueue(state->main_context) && state->main_context->pCamera->enqueueShot() != QOR_RES_OK) {
        *failure = "Failed to enqueue shot for main context";
    } else if (canEnqueue(state->slave_context) && state->slave_context->pCamera->enqueueShot() != QOR_RES_OK) {
        *failure = "Failed to enqueue shot for slave context";
    } else {
        return true;
    }
    GST_ERROR_OBJECT(src, "%s", *failure);
    GST_ERROR_OBJECT(src, "Enqueuing shot %" G_GUINT64_FORMAT " failed", state->shot_counter);
    return false;
}

/** Acquires the frame on the main and the slave context. Context lock held. FALSE after logging. */
bool acquireShots(GstNorvasrc *src, CombinedShot *frame, const char **failure) {
    NorvasrcState *state = src->state;
    GST_TRACE_OBJECT(src, "gst_norvasrc_acquire_shot_unlocked");
    ISPC::Camera *main = state->main_context->pCamera;
    // Only a context that captures has a frame coming: the driver would wait in vain for any other.
    if (!canEnqueue(state->main_context)) {
        *failure = "Failed to acquire shot from main context";
    } else if (main->acquireShot(frame->main, true, true) != QOR_RES_OK) {
        // A driver shot handed out with a failure is still given back.
        if (frame->main.pCIBuffer != nullptr)
            main->releaseShot(frame->main);
        *failure = "Failed to acquire shot from main context";
    } else if (canEnqueue(state->slave_context)) {
        ISPC::Camera *slave = state->slave_context->pCamera;
        if (slave->acquireShot(frame->slave, true, true) != QOR_RES_OK) {
            if (frame->slave.pCIBuffer != nullptr)
                slave->releaseShot(frame->slave);
            main->releaseShot(frame->main);
            *failure = "Failed to acquire shot from slave context";
        } else {
            // A data-generator camera on the main context's sensor imitates the exposure in its own look-up table
            // only when asked: without it the slave's table stays linear while the main's bends the same frames
            // (about half the brightness at a short fixed exposure).
            ISPC::DGCamera *dg = dynamic_cast<ISPC::DGCamera *>(slave);
            if (dg != nullptr && !dg->ownsSensor() && dg->getPipeline()->getModule(ISPC::STP_RLT) != nullptr)
                (void)dg->programExposure();
            std::lock_guard<std::mutex> guard(state->pool.lock);
            frame->hasSlave = true;
            ++state->pool.liveSlave;
        }
    }
    if (*failure == nullptr)
        return true;
    GST_ERROR_OBJECT(src, "%s", *failure);
    GST_ERROR_OBJECT(src, "Acquiring shot %" G_GUINT64_FORMAT " failed", state->shot_counter);
    return false;
}

/** Stops capture, resets the driver and starts again with the exposure as it is. Both locks held. */
bool restartCapture(GstNorvasrc *src) {
    NorvasrcState *state = src->state;
    if (!gst_norvasrc_stop_capture_unlocked(src))
        return false;
    CI_DriverReset(state->main_context->pCamera->getConnection());
    // The exposure control stays off for the restart: the runtime settings program the last exposure.
    const gboolean autoExposure = state->props.exposure_auto;
    state->props.exposure_auto = FALSE;
    const bool started = gst_norvasrc_start_capture_unlocked(src);
    state->props.exposure_auto = autoExposure;
    return started;
}

/**
 * The fetcher: runtime settings, a free capture buffer, one frame of every capturing context, exposure sharing,
 * the save request, the restart after an erroneous frame and the read-back of control results. No lock held.
 */
GstFlowReturn fetchShot(GstNorvasrc *src, const Owner &owner, ShotHandle &result) {
    NorvasrcState *state = src->state;
    GST_TRACE_OBJECT(src, "gst_norvasrc_get_shot");
    // The first frames wait until every pad that started with the capture has agreed its output: a pad that
    // negotiated later would reconfigure under frames already on their way, which the other branches may hold
    // until every branch has prerolled, and would then find no capture buffer for a frame of its own.
    lockMutex(src);
    forgetUnnegotiated(state, owner.key); // the fetcher itself is past its negotiation
    const gint64 negotiated = g_get_monotonic_time() + kWaitUs;
    while (!state->unnegotiated.empty() && !owner.isFlushing()) {
        if (!waitCounted(&state->queue_filled, &state->mutex, state->queue_waiters, negotiated)) {
            GST_WARNING_OBJECT(src, "%u pads did not negotiate: capturing without them",
                               static_cast<guint>(state->unnegotiated.size()));
            state->unnegotiated.clear();
        }
    }
    unlockMutex(src);
    if (owner.isFlushing())
        return GST_FLOW_FLUSHING;
    gst_norvasrc_read_sensor_parameters(src);

    gst_norvasrc_lock_contexts(src);
    gst_norvasrc_refresh_context_runtime_unlocked(src);
    gst_norvasrc_unlock_contexts(src);

    // A free capture buffer: downstream gives one back, or a frame no pad took yet is dropped.
    lockMutex(src);
    GST_TRACE_OBJECT(src, "Enqueuing shot");
    gint64 deadline = g_get_monotonic_time() + kWaitUs;
    bool warned = false;
    while (!gst_norvasrc_fetch_free_buffer(src)) {
        if (owner.isFlushing()) {
            unlockMutex(src);
            return GST_FLOW_FLUSHING;
        }
        if (!warned) {
            GST_WARNING_OBJECT(src, "Waiting for shot to be released");
            warned = true;
        }
        if (!waitCounted(&state->shot_released, &state->mutex, state->release_waiters, deadline) &&
            !gst_norvasrc_fetch_free_buffer(src)) {
            unlockMutex(src);
            if (owner.isFlushing())
                return GST_FLOW_FLUSHING;
            GST_ERROR_OBJECT(src, "Timeout waiting for shot release");
            GST_ELEMENT_ERROR(src, RESOURCE, BUSY, ("Timeout waiting for shot release"),
                              ("every capture buffer is held downstream"));
            return GST_FLOW_ERROR;
        }
    }
    unlockMutex(src);

    // From here to the frame the fetcher holds the context lock; the object lock only once the frame is there.
    lockContext(src);
    deadline = g_get_monotonic_time() + kWaitUs;
    while (!buffersAllocated(state)) {
        if (owner.isFlushing()) {
            unlockContext(src);
            return GST_FLOW_FLUSHING;
        }
        if (!g_cond_wait_until(&state->buffers_allocated, &state->context_lock, deadline) && !buffersAllocated(state)) {
            unlockContext(src);
            GST_ERROR_OBJECT(src, "Failed to wait buffer allocations");
            return failFrame(src, owner, "Failed to wait buffer allocations");
        }
    }
    const char *failure = nullptr;
    if (!enqueueShots(src, &failure)) {
        unlockContext(src);
        return failFrame(src, owner, failure);
    }
    GST_TRACE_OBJECT(src, "Shot is enqueued. Acquiring shot");
    CombinedShot *frame = takeRecord(src);
    GST_TRACE_OBJECT(src, "Shot is created: %p", static_cast<void *>(frame));
    beginAcquire(state);
    const bool acquired = acquireShots(src, frame, &failure);
    endAcquire(src);
    if (!acquired) {
        unlockContext(src);
        returnRecord(src, frame);
        return failFrame(src, owner, failure);
    }
    GST_OBJECT_LOCK(src);
    frame->id = state->shot_counter++;
    snapshotOutputs(*state->main_context, frame->main, frame->mainOut);
    if (frame->hasSlave)
        snapshotOutputs(*state->slave_context, frame->slave, frame->slaveOut);
    const double aperture = state->main_context->getAeApertureFactor();
    frame->iris = aperture > 0.0 && std::isfinite(aperture) ? -20.0 * std::log10(aperture) : 0.0;
    frame->focus = static_cast<gfloat>(state->main_context->getAfSharpness());
    frame->brightness = static_cast<gfloat>(state->main_context->getAeCurrentBrightness());
    const gboolean restart = state->props.restart_on_error;
    gst_norvasrc_unlock_contexts(src);
    ShotHandle shot(frame);
    GST_TRACE_OBJECT(src, "Shot is acquired");
    installExitHandler();

    gst_norvasrc_write_sensor_parameters(src);
    gst_norvasrc_offer_shot_for_save(src, *frame);

    if (frame->main.bFrameError || (frame->hasSlave && frame->slave.bFrameError)) {
        GST_WARNING_OBJECT(src, "Got erroneous shot %" G_GUINT64_FORMAT, frame->id);
        if (restart) {
            GST_WARNING_OBJECT(src, "Restarting capture");
            gst_norvasrc_lock_contexts(src);
            const bool restarted = restartCapture(src);
            gst_norvasrc_unlock_contexts(src);
            if (!restarted) {
                GST_ERROR_OBJECT(src, "Failed to restart capture");
                return failFrame(src, owner, "Failed to restart capture");
            }
        }
    }

    gst_norvasrc_lock_contexts(src);
    gst_norvasrc_read_back_unlocked(src);
    gst_norvasrc_unlock_contexts(src);
    result = std::move(shot);
    return GST_FLOW_OK;
}

} // namespace

void gst_norvasrc_lock_contexts(GstNorvasrc *src) {
    lockContext(src);
    GST_OBJECT_LOCK(src);
}

void gst_norvasrc_unlock_contexts(GstNorvasrc *src) {
    GST_OBJECT_UNLOCK(src);
    unlockContext(src);
}

void norvasrc_shot_free(CombinedShot *shot) {
    const NorvasrcCaptureCall call;
    if (call.exiting())
        return; // the process ends: the cameras keep the frame
    GstNorvasrc *src = shot->src;
    NorvasrcState *state = src->state;
    GST_DEBUG_OBJECT(src, "Freeing shot %p", static_cast<void *>(shot));
    if (!g_mutex_trylock(&state->context_lock)) {
        {
            // The fetcher may hold the lock through a wait of up to a frame period for the device: a branch
            // thread that frees a buffer does not wait with it but leaves the record to the fetcher.
            std::lock_guard<std::mutex> guard(state->pool.lock);
            if (state->pool.acquiring) {
                state->pool.pending.push_back(shot);
                return;
            }
        }
        lockContext(src);
    }
    releaseToCameras(src, shot);
    unlockContext(src);
    returnRecord(src, shot);
}

gboolean norvasrc_free_buffer_rule(guint64 preenq, guint64 alloc, const std::vector<guintptr> &held,
                                   const std::vector<std::vector<guintptr>> &queues, std::vector<guintptr> &distinct,
                                   guintptr *victim) {
    *victim = 0;
    distinct.assign(held.begin(), held.end());
    for (const auto &queue : queues)
        distinct.insert(distinct.end(), queue.begin(), queue.end());
    std::sort(distinct.begin(), distinct.end());
    const guint64 outstanding = static_cast<guint64>(std::unique(distinct.begin(), distinct.end()) - distinct.begin());
    if (preenq < alloc && outstanding < alloc - preenq) // preenq + outstanding < alloc, without overflow
        return TRUE;
    for (const auto &queue : queues) {
        for (guintptr shot : queue) {
            if (std::find(held.begin(), held.end(), shot) == held.end()) {
                *victim = shot;
                return TRUE;
            }
        }
    }
    return FALSE;
}

gboolean gst_norvasrc_fetch_free_buffer(GstNorvasrc *src) {
    NorvasrcState *state = src->state;
    FreeBufferScratch &scratch = state->scratch;
    scratch.held.clear();
    for (const MemoryShot &m : state->memory_shots) {
        if (m.shot)
            scratch.held.push_back(reinterpret_cast<guintptr>(m.shot.get()));
    }
    {
        // A record freed while the fetcher waited for the device keeps its buffer until given back.
        std::lock_guard<std::mutex> guard(state->pool.lock);
        for (CombinedShot *shot : state->pool.pending)
            scratch.held.push_back(reinterpret_cast<guintptr>(shot));
    }
    if (scratch.queues.size() < state->shot_queues.size())
        scratch.queues.resize(state->shot_queues.size());
    size_t n = 0;
    for (const auto &entry : state->shot_queues) {
        std::vector<guintptr> &ids = scratch.queues[n++];
        ids.clear();
        for (const ShotHandle &shot : entry.second)
            ids.push_back(reinterpret_cast<guintptr>(shot.get()));
    }
    for (size_t i = n; i < scratch.queues.size(); ++i)
        scratch.queues[i].clear();
    GST_OBJECT_LOCK(src);
    const guint64 preenq = state->props.preenq_buffers, alloc = state->props.alloc_buffers;
    GST_OBJECT_UNLOCK(src);
    guintptr victim = 0;
    const gboolean free =
        norvasrc_free_buffer_rule(preenq, alloc, scratch.held, scratch.queues, scratch.distinct, &victim);
    if (victim != 0) {
        // The pads that did not take it lose this frame; dropping the handles gives its buffer back.
        for (auto &entry : state->shot_queues) {
            ShotQueue &queue = entry.second;
            auto it = std::find_if(queue.begin(), queue.end(), [victim](const ShotHandle &shot) {
                return reinterpret_cast<guintptr>(shot.get()) == victim;
            });
            if (it != queue.end())
                queue.erase(it);
        }
    }
    return free;
}

GstFlowReturn gst_norvasrc_get_buffer(GstNorvasrc *src, gpointer ownerObject, GstBuffer **buf) {
    NorvasrcState *state = src->state;
    *buf = nullptr;
    const NorvasrcCaptureCall call;
    const Owner owner(src, ownerObject);
    if (owner.isFlushing())
        return GST_FLOW_FLUSHING;

    lockMutex(src);
    GstBuffer *buffer = nullptr;
    ShotHandle shot;
    BuildSettings settings;
    const OwnerLayout *relayout = nullptr;
    // After a fetch, the pads waiting for the frame are woken once this pad's buffer is built and the mutex given
    // back: woken at once, they would only wait for the mutex.
    bool wakeOthers = false;
    const auto wakePending = [&]() {
        if (wakeOthers)
            g_cond_broadcast(&state->queue_filled);
        wakeOthers = false;
    };
    while (buffer == nullptr) {
        gint64 deadline = 0;
        while (state->shot_queues[owner.key].empty()) {
            if (owner.isFlushing()) {
                wakePending();
                unlockMutex(src);
                return GST_FLOW_FLUSHING;
            }
            wakePending();
            if (!state->fetching) {
                // This thread fetches the next frame for every pad.
                state->fetching = 1;
                unlockMutex(src);
                ShotHandle fresh;
                const GstFlowReturn ret = fetchShot(src, owner, fresh);
                lockMutex(src);
                state->fetching = 0;
                if (ret == GST_FLOW_OK) {
                    for (auto &entry : state->shot_queues)
                        entry.second.push_back(fresh);
                    fresh.reset();
                }
                // Waiting pads take the frame, or one of them fetches after a failure.
                wakeOthers = state->queue_waiters > 0;
                if (ret != GST_FLOW_OK) {
                    wakePending();
                    unlockMutex(src);
                    if (ret == GST_FLOW_ERROR)
                        GST_ERROR_OBJECT(src, "Failed to get shot");
                    return ret;
                }
                if (owner.isFlushing()) {
                    wakePending();
                    unlockMutex(src); // the frame stays queued for the other pads
                    return GST_FLOW_FLUSHING;
                }
                continue;
            }
            if (deadline == 0)
                deadline = g_get_monotonic_time() + kWaitUs;
            if (!waitCounted(&state->queue_filled, &state->mutex, state->queue_waiters, deadline) &&
                state->shot_queues[owner.key].empty() && state->fetching && !owner.isFlushing()) {
                unlockMutex(src);
                GST_ERROR_OBJECT(src, "Timeout while waiting for buffer");
                GST_ELEMENT_ERROR(src, RESOURCE, READ, ("Cannot capture a frame."),
                                  ("Timeout while waiting for buffer"));
                return GST_FLOW_ERROR;
            }
        }

        ShotQueue &queue = state->shot_queues[owner.key];
        shot = std::move(queue.front());
        queue.erase(queue.begin());
        GST_OBJECT_LOCK(src);
        settings.context = state->props.context;
        settings.useDmabuf = state->props.use_dmabuf;
        settings.useMappedDmabuf = state->props.use_mapped_dmabuf;
        settings.addHistogram = state->props.add_histogram_meta;
        const guint64 freshFrom = state->fresh_from;
        GST_OBJECT_UNLOCK(src);
        settings.doTimestamp = gst_base_src_get_do_timestamp(GST_BASE_SRC_CAST(src));
        buffer = createBuffer(src, shot, owner, settings, relayout);
        if (buffer != nullptr)
            break;
        const guint64 frameId = shot->id;
        shot.reset();
        if (frameId < freshFrom)
            continue; // taken before its output was reconfigured: the pad waits for the next frame
        wakePending();
        unlockMutex(src);
        GST_ERROR_OBJECT(src, "Failed to create buffer");
        GST_ELEMENT_ERROR(src, STREAM, FAILED,
                          ("Cannot show frame %" G_GUINT64_FORMAT " in the format negotiated by %s.", frameId,
                           GST_OBJECT_NAME(owner.object)),
                          ("Failed to create buffer"));
        return GST_FLOW_ERROR;
    }
    const bool mainSide = owner.id->context == settings.context;
    // Only the memory keeps the frame now: when it goes, so does the shot, under the mutex, so that no fetch
    // counts its capture buffer as free before the camera has it back (a copy below reads it through the memory).
    CombinedShot *frame = shot.get();
    state->memory_shots.push_back(MemoryShot{memoryKey(gst_buffer_peek_memory(buffer, 0)), owner.key, std::move(shot)});
    const bool copy = owner.bufMode(src) == GST_NORVASRC_BUFFER_MODE_COPY;
    const bool wake = wakeOthers;
    unlockMutex(src);
    if (wake)
        g_cond_broadcast(&state->queue_filled);

    if (relayout != nullptr) {
        // The layout is the owner's until its next negotiation or its stop, both after this thread's frame.
        GstBuffer *copied =
            copyToLayout(buffer, *relayout, *frame, mainSide ? frame->main : frame->slave, settings.addHistogram);
        gst_buffer_unref(buffer);
        if (copied == nullptr) {
            GST_ERROR_OBJECT(src, "Failed to copy buffer");
            GST_ELEMENT_ERROR(src, RESOURCE, NO_SPACE_LEFT, ("Cannot copy a frame."), ("Failed to copy buffer"));
            return GST_FLOW_ERROR;
        }
        *buf = copied;
        return GST_FLOW_OK;
    }
    if (copy) {
        GstBuffer *copied = copyBuffer(buffer, *frame, mainSide ? frame->main : frame->slave, settings.addHistogram);
        gst_buffer_unref(buffer);
        if (copied == nullptr) {
            GST_ERROR_OBJECT(src, "Failed to copy buffer");
            GST_ELEMENT_ERROR(src, RESOURCE, NO_SPACE_LEFT, ("Cannot copy a frame."), ("Failed to copy buffer"));
            return GST_FLOW_ERROR;
        }
        buffer = copied;
    }
    *buf = buffer;
    return GST_FLOW_OK;
}

GstFlowReturn gst_norvasrc_create(GstBaseSrc *base, guint64, guint, GstBuffer **buf) {
    GstNorvasrc *src = GST_NORVASRC(base);
    NorvasrcState *state = src->state;
    if (!gst_norvasrc_own_pad_released(src))
        return gst_norvasrc_get_buffer(src, nullptr, buf);
    // The pad of a released branch: nothing to push and nothing to fail; the thread idles until unlocked.
    *buf = nullptr;
    lockMutex(src);
    while (!g_atomic_int_get(&state->flushing) && gst_norvasrc_own_pad_released(src))
        waitCounted(&state->queue_filled, &state->mutex, state->queue_waiters, g_get_monotonic_time() + kWaitUs);
    unlockMutex(src);
    return GST_FLOW_FLUSHING;
}

void gst_norvasrc_set_own_pad_released(GstNorvasrc *src, gboolean released) {
    g_atomic_int_set(&src->state->released, released ? 1 : 0);
    gst_norvasrc_wake_waiters(src);
}

gboolean gst_norvasrc_own_pad_released(GstNorvasrc *src) { return g_atomic_int_get(&src->state->released) != 0; }

void gst_norvasrc_open_queue(GstNorvasrc *src, gpointer ownerObject) {
    const Owner owner(src, ownerObject);
    GST_OBJECT_LOCK(src);
    const bool running = src->state->shot_counter > 0;
    GST_OBJECT_UNLOCK(src);
    // A pad added to a running capture takes frames from its first request on: a backlog gathered while it comes
    // up would only cost the other pads capture buffers.
    if (running)
        return;
    NorvasrcState *state = src->state;
    lockMutex(src);
    state->shot_queues[owner.key]; // an empty queue, or the one the owner has
    if (std::find(state->unnegotiated.begin(), state->unnegotiated.end(), owner.key) == state->unnegotiated.end())
        state->unnegotiated.push_back(owner.key);
    unlockMutex(src);
}

void gst_norvasrc_negotiated(GstNorvasrc *src, gpointer ownerObject) {
    const Owner owner(src, ownerObject);
    lockMutex(src);
    forgetUnnegotiated(src->state, owner.key);
    g_cond_broadcast(&src->state->queue_filled);
    unlockMutex(src);
}

NorvasrcCaptureCall::NorvasrcCaptureCall() {
    g_captureCalls.fetch_add(1);
    ++t_captureCalls;
}

NorvasrcCaptureCall::~NorvasrcCaptureCall() {
    --t_captureCalls;
    g_captureCalls.fetch_sub(1);
}

bool NorvasrcCaptureCall::exiting() const { return g_exiting.load() != 0; }

void gst_norvasrc_track(GstNorvasrc *src, gboolean live) {
    std::lock_guard<std::mutex> guard(liveLock());
    std::vector<GstNorvasrc *> &elements = liveElements();
    if (live)
        elements.push_back(src);
    else
        elements.erase(std::remove(elements.begin(), elements.end(), src), elements.end());
}

void gst_norvasrc_wake_waiters(GstNorvasrc *src) {
    NorvasrcState *state = src->state;
    // Under their locks, so that a thread between its check of a flag and its wait cannot miss the wake-up.
    lockMutex(src);
    g_cond_broadcast(&state->queue_filled);
    g_cond_broadcast(&state->shot_released);
    unlockMutex(src);
    lockContext(src);
    g_cond_broadcast(&state->buffers_allocated);
    unlockContext(src);
}

gboolean gst_norvasrc_decide_layout(GstNorvasrc *src, gpointer ownerObject, GstQuery *query) {
    const Owner owner(src, ownerObject);
    GstCaps *caps = nullptr;
    gst_query_parse_allocation(query, &caps, nullptr);
    OwnerLayout layout;
    layout.meta = gst_query_find_allocation_meta(query, GST_VIDEO_META_API_TYPE, nullptr) != FALSE;
    if (!layout.meta && caps != nullptr) {
        GstObject *object = owner.object;
        GST_OBJECT_LOCK(object);
        const GstNorvaVideoInfo vinfo = owner.id->vinfo;
        GST_OBJECT_UNLOCK(object);
        if (!defaultLayout(vinfo, layout)) {
            layout.meta = true; // nothing to lay out otherwise: the frames go as the device made them
        } else {
            // Buffers for the frames in flight on this pad, made now: the copies allocate nothing per frame.
            GST_OBJECT_LOCK(src);
            const guint buffers = MAX(src->state->props.alloc_buffers, 2u);
            GST_OBJECT_UNLOCK(src);
            layout.pool = gst_buffer_pool_new();
            GstStructure *config = gst_buffer_pool_get_config(layout.pool);
            gst_buffer_pool_config_set_params(config, caps, static_cast<guint>(layout.size), buffers, 0);
            if (!gst_buffer_pool_set_config(layout.pool, config) || !gst_buffer_pool_set_active(layout.pool, TRUE)) {
                gst_object_unref(layout.pool);
                GST_ERROR_OBJECT(src, "Cannot make %u buffers of %" G_GSIZE_FORMAT " bytes for %s", buffers,
                                 layout.size, GST_OBJECT_NAME(owner.object));
                return FALSE;
            }
        }
    }
    GST_DEBUG_OBJECT(src, "%s reads %s", GST_OBJECT_NAME(owner.object),
                     layout.meta ? "the video meta" : "the default layout");
    lockMutex(src);
    forgetLayout(src->state, owner.key);
    src->state->layouts[owner.key] = layout;
    unlockMutex(src);
    return TRUE;
}

gboolean gst_norvasrc_stop_common(GstNorvasrc *src, gpointer ownerObject) {
    NorvasrcState *state = src->state;
    const Owner owner(src, ownerObject);
    GST_DEBUG_OBJECT(src, "stop");
    lockMutex(src);
    forgetUnnegotiated(state, owner.key);
    forgetLayout(state, owner.key);
    auto it = state->shot_queues.find(owner.key);
    if (it != state->shot_queues.end()) {
        ShotQueue dropped;
        dropped.swap(it->second);
        state->shot_queues.erase(it);
        dropped.clear(); // frames no one else holds go back to the cameras now
    }
    const bool others = !state->shot_queues.empty();
    if (others)
        detachOwnerMemories(src, owner.key);
    unlockMutex(src);
    g_cond_broadcast(&state->shot_released);
    if (others)
        return TRUE; // capture goes on for the other pads

    GST_OBJECT_LOCK(src);
    const gboolean waitRelease = state->props.wait_release;
    GST_OBJECT_UNLOCK(src);
    if (waitRelease) {
        // Downstream gives every buffer back first, within the same bound as every other wait.
        lockMutex(src);
        const gint64 deadline = g_get_monotonic_time() + kWaitUs;
        while (heldMemories(state) > 0) {
            if (!waitCounted(&state->shot_released, &state->mutex, state->release_waiters, deadline) &&
                heldMemories(state) > 0) {
                GST_WARNING_OBJECT(src, "%u buffers still held downstream at stop",
                                   static_cast<guint>(heldMemories(state)));
                break;
            }
        }
        unlockMutex(src);
    }

    GST_DEBUG_OBJECT(src, "gst_norvasrc_stop_capture");
    bool held = false;
    {
        std::lock_guard<std::mutex> guard(state->pool.lock);
        held = state->pool.live > 0;
    }
    gst_norvasrc_lock_contexts(src);
    gboolean result = gst_norvasrc_stop_capture_unlocked(src);
    // Capture buffers that memories downstream still show stay allocated, so that those stay readable (the driver
    // cannot free an acquired buffer anyway): they go with their context at NULL, or serve the next start.
    if (result && !held && state->slave_context != nullptr) {
        if (state->slave_context->freeOutputBuffers()) {
            delete state->slave_context;
            state->slave_context = nullptr;
        } else {
            GST_ERROR_OBJECT(src, "Failed to stop capture for slave context %d", state->slave_context->iContext);
            result = FALSE;
        }
    }
    if (result && !held && state->main_context != nullptr && !state->main_context->freeOutputBuffers()) {
        GST_ERROR_OBJECT(src, "Failed to stop capture for main context %d", state->main_context->iContext);
        result = FALSE;
    }
    state->shot_counter = 0;
    gst_norvasrc_unlock_contexts(src);
    if (!result)
        GST_ERROR_OBJECT(src, "Failed to stop capture");
    if (state->allocator != nullptr) {
        gst_object_unref(state->allocator);
        state->allocator = nullptr;
    }
    return result;
}

void gst_norvasrc_frames_init(GstNorvasrc *src) {
    NorvasrcState *state = src->state;
    state->utc_caps = gst_caps_new_empty_simple("timestamp/x-unix-utc");
    state->stream_caps = gst_caps_new_empty_simple("timestamp/x-norva-stream");
}

void gst_norvasrc_frames_clear(GstNorvasrc *src) {
    NorvasrcState *state = src->state;
    std::map<guintptr, ShotQueue> queues;
    std::vector<MemoryShot> memories;
    lockMutex(src);
    queues.swap(state->shot_queues);
    memories.swap(state->memory_shots);
    state->unnegotiated.clear();
    while (!state->layouts.empty())
        forgetLayout(state, state->layouts.begin()->first);
    unlockMutex(src);
    queues.clear();
    memories.clear();
    gst_caps_replace(&state->utc_caps, nullptr);
    gst_caps_replace(&state->stream_caps, nullptr);
}
