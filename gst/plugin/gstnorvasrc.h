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
struct NorvasrcHeldShot;

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
/** The same at once, with the mutex held. */
void gst_norvasrc_destroy_contexts_unlocked(GstNorvasrc *src);
/** The GstBaseSrc negotiation of the element's own pad. */
gboolean gst_norvasrc_negotiate(GstBaseSrc *base);
/**
 * Negotiates a pad's caps with its peer, configures the serving context's output for them and starts capture on
 * it: the fixed caps (owned by the caller), or null after posting an error naming requested and offered caps.
 */
GstCaps *gst_norvasrc_negotiate_caps(GstNorvasrc *src, GstPad *pad, GstNorvaVideoId *id);
/** Stops, then starts capture of the contexts; the object lock is held. FALSE after logging the failure. */
gboolean gst_norvasrc_stop_capture_unlocked(GstNorvasrc *src);
gboolean gst_norvasrc_start_capture_unlocked(GstNorvasrc *src);
/** The largest int of a caps field (a value, a range or a list); G_MAXINT when there is none. */
gint gst_structure_get_int_max(GstStructure *s, const char *field);
/** The largest size of aspect ratio W:H that fits below (mw, mh), as fixation picks it. */
void gst_norvasrc_fit_size(gint W, gint H, gint mw, gint mh, gint *width, gint *height);
/** The GstBaseSrc create operation of the element's own pad: the next frame, wrapped without a copy. */
GstFlowReturn gst_norvasrc_create(GstBaseSrc *base, guint64 offset, guint size, GstBuffer **buf);
/** Whether a capture buffer may be enqueued with `held` shots held downstream. */
gboolean gst_norvasrc_fetch_free_buffer(guint64 preenq, guint64 held, guint64 alloc);
/** Gives the element `size` free shot records; none may be held. */
void gst_norvasrc_shot_pool_reset(GstNorvasrc *src, guint size);
void gst_norvasrc_shot_pool_free(GstNorvasrc *src);
/** Emits "sensor-row-time" with the row time in ns. */
void gst_norvasrc_emit_sensor_row_time(GstNorvasrc *src, guint64 row_time);

enum NorvasrcSignal { SIGNAL_IMAGE_READY = 0, SIGNAL_SENSOR_ROW_TIME = 1, SIGNAL_LAST };

/** The C++ state of one element. */
struct NorvasrcState {
    GstNorvaVideoId video_id; /**< the element's own pad */
    guint64 shot_counter = 0;
    GVariantDict *time_info = nullptr; /**< buffer time information */
    GstAllocator *allocator = nullptr;
    guint event_seqnum = 0;
    gint fetching = 0;
    gint flushing = 0;

    /* Pending image-save request. */
    gboolean save_pending = FALSE;
    guint save_context = 0;
    gchar *save_file = nullptr;
    gchar *save_type = nullptr;

    NorvasrcProperties props;

    /* Built at NULL to READY, destroyed at READY to NULL: in NULL the element holds no hardware. */
    TEST_PARAM *capture_params = nullptr; /**< the parameter set of the last NULL to READY */
    TestContext *main_context = nullptr;
    TestContext *slave_context = nullptr;
    GstClockTime frame_duration = 0; /**< sensor frame period, ns */

    /* Records of the shots held by output memories downstream; guarded by the mutex. */
    NorvasrcHeldShot *shot_pool = nullptr;
    guint shot_pool_size = 0;
    guint held_shots = 0;
    bool release_pending = false; /**< the contexts go when the last held shot returns */

    /* The element mutex and its conditions: a shot was released, a queue was filled, buffers were allocated. */
    GMutex mutex;
    GCond shot_released;
    GCond queue_filled;
    GCond buffers_allocated;
};

#endif /* GST_NORVASRC_H */
