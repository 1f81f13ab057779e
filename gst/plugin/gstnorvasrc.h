#ifndef GST_NORVASRC_H
#define GST_NORVASRC_H

/*
 * The element norvasrc: a live source that reads processed frames from one ISP context. Its C++ state lives in
 * one record owned by the instance (created in instance init, deleted in finalize).
 */

#include <gst/base/gstbasesrc.h>
#include <gst/gst.h>

#include "gstnorvasrcprops.h"
#include "gstnorvavideoinfo.h"

class TestContext;
struct TEST_PARAM;

G_BEGIN_DECLS

#define GST_TYPE_NORVASRC (gst_norvasrc_get_type())
#define GST_NORVASRC(obj) (G_TYPE_CHECK_INSTANCE_CAST((obj), GST_TYPE_NORVASRC, GstNorvasrc))
#define GST_IS_NORVASRC(obj) (G_TYPE_CHECK_INSTANCE_TYPE((obj), GST_TYPE_NORVASRC))

struct NorvasrcState;

typedef struct _GstNorvasrc {
    GstBaseSrc parent;
    NorvasrcState *state;
} GstNorvasrc;

typedef struct _GstNorvasrcClass {
    GstBaseSrcClass parent_class;
    /* Class closures of the action signals. */
    void (*set_ae_gain_range)(GstNorvasrc *src, gfloat a, gfloat b);
    void (*set_ae_time_range)(GstNorvasrc *src, guint a, guint b);
    void (*take_nrv_image)(GstNorvasrc *src, gchar *file, gchar *save_type, guint context);
    gboolean (*set_fvalue_window)(GstNorvasrc *src, gfloat left, gfloat top, gfloat right, gfloat bottom);
} GstNorvasrcClass;

GType gst_norvasrc_get_type(void);

/** A new pad template "src" with the element's output caps. */
GstPadTemplate *gst_norvasrc_pad_template(void);

/** Stores a copy of the sensor name (null allowed). The caller holds the object lock or runs unshared. */
void gst_norvasrc_set_sensor(GstNorvasrc *src, const gchar *name);
/** Stores a copy of the extra setup files of context 0 or 1 (null allowed), as gst_norvasrc_set_sensor. */
void gst_norvasrc_set_setup_file_ctx(GstNorvasrc *src, const gchar *path, guint context);

GST_DEBUG_CATEGORY_EXTERN(gst_norvasrc_debug);

G_END_DECLS

/**
 * NULL to READY: assembles the capture parameters from the parameter file and the properties and builds the main
 * capture context. FALSE after posting an error message that names the sensor or file at fault.
 */
gboolean gst_norvasrc_create_context(GstNorvasrc *src);
/**
 * Destroys the slave context, then the main context: every device, buffer and sensor they held is released.
 * Unless forced, while output memories downstream still hold shots, the last of them to be freed does it.
 */
void gst_norvasrc_release_contexts(GstNorvasrc *src, gboolean force);
/** The same at once; takes the context lock and the object lock. */
void gst_norvasrc_destroy_contexts_unlocked(GstNorvasrc *src);
/** The GstBaseSrc negotiation of the element's own pad. */
gboolean gst_norvasrc_negotiate(GstBaseSrc *base);
/** Take and give back the context lock and the object lock, in that order. */
void gst_norvasrc_lock_contexts(GstNorvasrc *src);
void gst_norvasrc_unlock_contexts(GstNorvasrc *src);
/** Stops, then starts capture of the contexts; both locks are held. FALSE after logging the failure. */
gboolean gst_norvasrc_stop_capture_unlocked(GstNorvasrc *src);
gboolean gst_norvasrc_start_capture_unlocked(GstNorvasrc *src);
/** The largest int of a caps field (a value, a range or a list); G_MAXINT when there is none. */
gint gst_structure_get_int_max(GstStructure *s, const char *field);
/** The largest size of aspect ratio W:H that fits below (mw, mh), as fixation picks it. */
void gst_norvasrc_fit_size(gint W, gint H, gint mw, gint mh, gint *width, gint *height);
/** The GstBaseSrc create operation of the element's own pad: the next frame, wrapped without a copy. */
GstFlowReturn gst_norvasrc_create(GstBaseSrc *base, guint64 offset, guint size, GstBuffer **buf);

/*
 * The interface a norvaproxysrc (another source pad of the same capture) uses. `owner` is the proxy, or null for
 * the element's own pad; the element reads the owner's flushing flag, stream, buffer mode, descriptor list and
 * bounds from its GstNorvaProxySrc record.
 */
/**
 * The owner's next frame: GST_FLOW_OK with a new buffer in *buf, GST_FLOW_FLUSHING while the owner is unlocked,
 * or GST_FLOW_ERROR after posting an error message. Every frame captured while the owner streams reaches it once,
 * unless it falls so far behind that no capture buffer is free (then its oldest untaken frame is dropped).
 */
GstFlowReturn gst_norvasrc_get_buffer(GstNorvasrc *src, gpointer owner, GstBuffer **buf);
/**
 * Starts the owner's frame queue before capture runs: every frame captured from then on reaches the owner, also
 * those captured while its streaming thread still negotiates or waits for PLAYING (a sink of its branch may need
 * that frame to preroll before the pipeline can play at all). Once capture runs, the queue starts with the owner's
 * first request.
 */
void gst_norvasrc_open_queue(GstNorvasrc *src, gpointer owner);
/** The owner's pad finished negotiating (or failed to): frames need no longer wait for it. */
void gst_norvasrc_negotiated(GstNorvasrc *src, gpointer owner);
/** Stops streaming for the owner; capture stops when no other owner streams. FALSE when capture failed to stop. */
gboolean gst_norvasrc_stop_common(GstNorvasrc *src, gpointer owner);
/**
 * Marks the element's own pad as released by norvamultisrc while proxies still take frames from it (or as in use
 * again): a released pad neither negotiates nor fetches; its streaming thread idles until it is unlocked, so
 * that the element keeps capturing for the proxies and its unlinked pad ends nothing.
 */
void gst_norvasrc_set_own_pad_released(GstNorvasrc *src, gboolean released);
/** Whether the element's own pad is released (see gst_norvasrc_set_own_pad_released). */
gboolean gst_norvasrc_own_pad_released(GstNorvasrc *src);
/**
 * Negotiates a pad's caps with its peer, configures the serving context's output for them and starts capture on
 * it: the fixed caps (owned by the caller), or null after posting an error naming requested and offered caps.
 * With dmabuf output in event mode, a "dmabuf_event" to push after setting the caps may be stored in *event.
 */
GstCaps *gst_norvasrc_negotiate_caps(GstNorvasrc *src, GstPad *pad, GstNorvaVideoId *id, GstEvent **event);
/**
 * The owner's allocation query, answered by its peer after negotiation: whether the peer reads GstVideoMeta, and
 * without it, the default layout of the negotiated format and a pool of buffers in that layout for the frames whose
 * layout differs. FALSE when that pool cannot be made.
 */
gboolean gst_norvasrc_decide_layout(GstNorvasrc *src, gpointer owner, GstQuery *query);
/** An upstream event for the element's capture; TRUE when it was consumed. */
gboolean gst_norvasrc_handle_event(GstNorvasrc *src, GstEvent *event);
/**
 * A thread that calls into the capture (a streaming thread fetching or negotiating, a thread freeing the last
 * buffer of a frame), counted while it does. Once the process exits, the exit handler makes every element's pads
 * flush and waits for the counted threads to leave before static state goes: exiting() then tells the thread to
 * leave without touching the capture.
 */
class NorvasrcCaptureCall {
public:
    NorvasrcCaptureCall();
    ~NorvasrcCaptureCall();
    NorvasrcCaptureCall(const NorvasrcCaptureCall &) = delete;
    NorvasrcCaptureCall &operator=(const NorvasrcCaptureCall &) = delete;
    bool exiting() const;
};
/** Adds an element to (or removes it from) those the exit handler wakes; instance init and finalize. */
void gst_norvasrc_track(GstNorvasrc *src, gboolean live);
/** Wakes every streaming thread that waits for a frame, a free capture buffer or buffer allocation. */
void gst_norvasrc_wake_waiters(GstNorvasrc *src);

struct CombinedShot;
/**
 * Called by the frame loop once per new frame, before any pad receives it, on the fetching thread without any
 * lock held: serves a pending image-save request.
 */
void gst_norvasrc_offer_shot_for_save(GstNorvasrc *src, const CombinedShot &shot);

/** Emits "sensor-row-time" with the row time in ns. */
void gst_norvasrc_emit_sensor_row_time(GstNorvasrc *src, guint64 row_time);
/** Applies every runtime property to the contexts; both locks are held. */
void gst_norvasrc_configure_context_runtime_unlocked(GstNorvasrc *src);
/**
 * The runtime settings before a frame: the statistics windows always (controls may move them), the rest only when
 * something they are made of changed since they were last applied; both locks are held.
 */
void gst_norvasrc_refresh_context_runtime_unlocked(GstNorvasrc *src);
/** Writes what the control loops decided for the last frame back into the properties; both locks are held. */
void gst_norvasrc_read_back_unlocked(GstNorvasrc *src);
/** Whether a capture buffer may be enqueued now, dropping one frame no pad took when none is; mutex held. */
gboolean gst_norvasrc_fetch_free_buffer(GstNorvasrc *src);
/** Exposure sharing: a reader copies the shared record into its exposure properties, a writer publishes them. */
void gst_norvasrc_read_sensor_parameters(GstNorvasrc *src);
void gst_norvasrc_write_sensor_parameters(GstNorvasrc *src);
/** Opens (or creates) the shared exposure record when the capture parameters ask for it. */
void gst_norvasrc_open_sensor_params(GstNorvasrc *src);
/** Closes the shared exposure record; its creator removes its name. */
void gst_norvasrc_close_sensor_params(GstNorvasrc *src);
/** Prepares the frame loop's caches (instance init). */
void gst_norvasrc_frames_init(GstNorvasrc *src);
/** Drops every queued and indexed shot and the frame loop's caches (finalize). */
void gst_norvasrc_frames_clear(GstNorvasrc *src);

enum NorvasrcSignal { SIGNAL_IMAGE_READY = 0, SIGNAL_SENSOR_ROW_TIME = 1, SIGNAL_LAST };

#include "gstnorvasrc_shots.h"

/**
 * What the runtime settings were last made of, besides the property values that the store's serial counts: the
 * contexts they went to, the sensor's state, and the values that reach the store without it.
 */
struct RuntimeInputs {
    guint64 serial = 0;
    const TestContext *main = nullptr;
    const TestContext *slave = nullptr;
    int sensor_state = -1;
    guint exposure_time = 0;     /**< with manual exposure: the shared exposure record writes it */
    gfloat exposure_gain = 0.0f; /**< the same */
    std::array<gfloat, 4> focus_window{};

    bool operator==(const RuntimeInputs &o) const {
        return serial == o.serial && main == o.main && slave == o.slave && sensor_state == o.sensor_state &&
               exposure_time == o.exposure_time && exposure_gain == o.exposure_gain && focus_window == o.focus_window;
    }
};

/** The C++ state of one element. */
struct NorvasrcState {
    GstNorvaVideoId video_id; /**< the element's own pad */
    guint64 shot_counter = 0; /**< number of the next frame; written under both locks (at start, before any
                                   fetch, under the object lock), read under either */
    guint64 fresh_from = 0;   /**< first frame of the current output configuration; guarded by the object lock */
    GstAllocator *allocator = nullptr;
    guint event_seqnum = 0;
    gint fetching = 0; /**< a streaming thread is fetching a frame; guarded by the mutex */
    /* Threads waiting for a queue to fill and for a shot to be released; guarded by the mutex. The wake-ups of
       every frame are skipped when no thread waits: each costs a system call. */
    gint queue_waiters = 0;
    gint release_waiters = 0;
    gint flushing = 0; /**< the element's own pad is unlocked (atomic) */
    gint released = 0; /**< norvamultisrc released the element's own pad; proxies still stream (atomic) */

    /* Pending image-save request. */
    gboolean save_pending = FALSE;
    guint save_context = 0;
    gchar *save_file = nullptr;
    gchar *save_type = nullptr;

    NorvasrcProperties props;
    RuntimeInputs runtime_applied; /**< guarded by the object lock */
    bool runtime_valid = false;    /**< runtime_applied describes the contexts' settings; object lock */
    /** The image settings last applied (brightness, contrast, saturation, sharpness, denoiser and tone-mapping
        levels); meaningful while runtime_valid; object lock */
    std::array<gfloat, 6> image_applied{};

    /* Built at NULL to READY, destroyed at READY to NULL: in NULL the element holds no hardware. */
    TEST_PARAM *capture_params = nullptr; /**< the parameter set of the last NULL to READY */
    TestContext *main_context = nullptr;
    TestContext *slave_context = nullptr;
    GstClockTime frame_duration = 0; /**< sensor frame period, ns */

    /* Frames in flight; guarded by the mutex. */
    std::map<guintptr, ShotQueue> shot_queues; /**< per owner (its address), oldest first */
    std::vector<MemoryShot> memory_shots;      /**< one entry per output memory alive downstream */
    std::map<guintptr, ChannelTime> time_info; /**< per owner: the previous frame's times */
    std::map<guintptr, OwnerLayout> layouts;   /**< per owner that negotiated: what its peer reads */
    FreeBufferScratch scratch;                 /**< work space of the free-buffer rule */
    std::vector<guintptr> unnegotiated;        /**< owners whose queue opened before capture ran, not negotiated yet */
    ShotPool pool;                             /**< frame records and their count (own lock) */

    SensorParamsShm *sensor_params = nullptr; /**< the shared exposure record, when synchronised */
    GstCaps *utc_caps = nullptr;              /**< "timestamp/x-unix-utc" */
    GstCaps *stream_caps = nullptr;           /**< "timestamp/x-norva-stream" */

    /* The element mutex and its conditions: a shot was released, a queue was filled, buffers were allocated
       (the last one is waited on with the context lock). */
    GMutex mutex;
    GCond shot_released;
    GCond queue_filled;
    GCond buffers_allocated;
    /* The context lock: guards the context pointers and every call into a context and its camera. Lock order:
       mutex, context lock, object lock. Calls into a context hold it and the object lock (property values), except
       the fetcher's wait for the device, which holds it alone: property values, signals and the buffers the other
       pads build do not wait for a frame to complete. */
    GMutex context_lock;
};

#endif /* GST_NORVASRC_H */
