#ifndef GST_NORVAPROXYSRC_H
#define GST_NORVAPROXYSRC_H

/*
 * The proxy source: one more source pad of a norvasrc inside norvamultisrc. It captures nothing itself; its
 * streaming thread, negotiation and stop call into its source norvasrc with the proxy as the owner, and the
 * norvasrc reads this pad's stream identity, buffer mode, descriptor list and bounds from the record below.
 */

#include <gst/base/gstbasesrc.h>
#include <gst/gst.h>

#include "gstnorvasrc.h"
#include "gstnorvasrcprops.h"
#include "gstnorvavideoinfo.h"

G_BEGIN_DECLS

#define GST_TYPE_NORVAPROXYSRC (gst_norvaproxysrc_get_type())
#define GST_NORVAPROXYSRC(obj) (G_TYPE_CHECK_INSTANCE_CAST((obj), GST_TYPE_NORVAPROXYSRC, GstNorvaProxySrc))
#define GST_IS_NORVAPROXYSRC(obj) (G_TYPE_CHECK_INSTANCE_TYPE((obj), GST_TYPE_NORVAPROXYSRC))

typedef struct _GstNorvaProxySrc {
    GstBaseSrc parent;
    GstNorvasrc *source;      /**< owned reference; guarded by the proxy's object lock */
    GstNorvaVideoId video_id; /**< this pad's negotiated stream and serving context */
    gint buf_mode;            /**< GstNorvasrcBufferMode of this pad */
    GValue dmabuf_fd_list;    /**< GstValueArray of gint: this pad's dmabuf capture buffers */
    guint dmabuf_size;        /**< bytes of each of those buffers */
    BufferFrameBounds bounds; /**< crop bounds in effect on this pad */
    gint flushing;            /**< this pad is being unlocked (release store, acquire load) */
} GstNorvaProxySrc;

typedef struct _GstNorvaProxySrcClass {
    GstBaseSrcClass parent_class;
} GstNorvaProxySrcClass;

GType gst_norvaproxysrc_get_type(void);

/** Gives the proxy its source (a new reference; null drops the current one). */
void gst_norvaproxysrc_set_source(GstNorvaProxySrc *proxy, GstNorvasrc *source);

G_END_DECLS

#endif /* GST_NORVAPROXYSRC_H */
