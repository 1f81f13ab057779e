#ifndef GST_NORVAMULTISRC_H
#define GST_NORVAMULTISRC_H

/*
 * The element norvamultisrc: one capture of a norvasrc fed to several branches. A bin with request pads
 * "src_%u": the first pad is served by the internal norvasrc, every further one by a norvaproxysrc taking its
 * frames from that norvasrc. Capture properties and action signals of the bin go to the internal norvasrc.
 */

#include <gst/gst.h>

#include "gstnorvasrc.h"

G_BEGIN_DECLS

#define GST_TYPE_NORVAMULTISRC (gst_norvamultisrc_get_type())
#define GST_NORVAMULTISRC(obj) (G_TYPE_CHECK_INSTANCE_CAST((obj), GST_TYPE_NORVAMULTISRC, GstNorvaMultiSrc))
#define GST_IS_NORVAMULTISRC(obj) (G_TYPE_CHECK_INSTANCE_TYPE((obj), GST_TYPE_NORVAMULTISRC))

typedef struct _GstNorvaMultiSrc {
    GstBin parent;
    GstNorvasrc *source; /**< the internal norvasrc (owned reference); in the bin while any pad exists */
    guint pads_in_use;   /**< request pads that exist now; guarded by the object lock */
    guint pad_counter;   /**< number of the next request pad and its element; never decreases */
    gint buf_mode;       /**< GstNorvasrcBufferMode given to the element of every new pad */
} GstNorvaMultiSrc;

typedef struct _GstNorvaMultiSrcClass {
    GstBinClass parent_class;
    /* Class closures of the action signals: each emits the same signal on the internal norvasrc. */
    void (*set_ae_gain_range)(GstNorvaMultiSrc *multisrc, gfloat a, gfloat b);
    void (*set_ae_time_range)(GstNorvaMultiSrc *multisrc, guint a, guint b);
    void (*take_nrv_image)(GstNorvaMultiSrc *multisrc, gchar *file, gchar *save_type, guint context);
    gboolean (*set_fvalue_window)(GstNorvaMultiSrc *multisrc, gfloat left, gfloat top, gfloat right, gfloat bottom);
} GstNorvaMultiSrcClass;

GType gst_norvamultisrc_get_type(void);

G_END_DECLS

#endif /* GST_NORVAMULTISRC_H */
