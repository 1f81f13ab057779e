#ifndef GST_NORVAMULTISRCPAD_H
#define GST_NORVAMULTISRCPAD_H

/*
 * The request pads of norvamultisrc: ghost pads on the source pad of the element that serves them (the internal
 * norvasrc or a norvaproxysrc). A pad keeps the context it asks for; its other properties are those of the
 * element behind it.
 */

#include <gst/gst.h>

G_BEGIN_DECLS

#define GST_TYPE_NORVAMULTISRC_PAD (gst_norvamultisrc_pad_get_type())
#define GST_NORVAMULTISRC_PAD(obj) (G_TYPE_CHECK_INSTANCE_CAST((obj), GST_TYPE_NORVAMULTISRC_PAD, GstNorvaMultiSrcPad))
#define GST_IS_NORVAMULTISRC_PAD(obj) (G_TYPE_CHECK_INSTANCE_TYPE((obj), GST_TYPE_NORVAMULTISRC_PAD))

typedef struct _GstNorvaMultiSrcPad {
    GstGhostPad parent;
    gint context; /**< the context asked for, -1 to let negotiation choose; guarded by the object lock */
} GstNorvaMultiSrcPad;

typedef struct _GstNorvaMultiSrcPadClass {
    GstGhostPadClass parent_class;
} GstNorvaMultiSrcPadClass;

GType gst_norvamultisrc_pad_get_type(void);

/** The context the pad asks for: 0 or 1, or -1 to let negotiation choose. */
gint gst_norvamultisrc_pad_get_context(GstNorvaMultiSrcPad *pad);

G_END_DECLS

#endif /* GST_NORVAMULTISRCPAD_H */
