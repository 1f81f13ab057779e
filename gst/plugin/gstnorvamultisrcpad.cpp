/*
 * The request pad type of norvamultisrc. "context" is kept in the pad and read by the serving element's caps
 * negotiation; every other property belongs to the element behind the pad and is passed to it by name.
 */
#include "gstnorvamultisrcpad.h"

#include "gstnorvaproxysrc.h"
#include "gstnorvasrc.h"
#include "gstnorvasrcprops.h"

GST_DEBUG_CATEGORY_EXTERN(gst_norvamultisrc_debug);
#define GST_CAT_DEFAULT gst_norvamultisrc_debug

namespace {

enum PadPropId : guint {
    PAD_PROP_0,
    PAD_PROP_BUF_MODE,
    PAD_PROP_DMABUF_FD_LIST,
    PAD_PROP_DMABUF_SIZE,
    PAD_PROP_CONTEXT,
    PAD_PROP_CURRENT_CONTEXT,
    PAD_PROP_BOUNDS_X,
    PAD_PROP_BOUNDS_Y,
    PAD_PROP_BOUNDS_WIDTH,
    PAD_PROP_BOUNDS_HEIGHT,
};

/** The element serving the pad (the parent of its target), a new reference; null without a target. */
GstElement *elementOf(GstNorvaMultiSrcPad *pad) {
    GstPad *target = gst_ghost_pad_get_target(GST_GHOST_PAD(pad));
    if (target == nullptr)
        return nullptr;
    GstElement *element = gst_pad_get_parent_element(target);
    gst_object_unref(target);
    return element;
}

/** The context serving the element's stream, as its last negotiation chose it. */
guint currentContext(GstElement *element) {
    guint context = 0;
    GST_OBJECT_LOCK(element);
    if (GST_IS_NORVAPROXYSRC(element))
        context = GST_NORVAPROXYSRC(element)->video_id.context;
    else if (GST_IS_NORVASRC(element))
        context = GST_NORVASRC(element)->state->video_id.context;
    GST_OBJECT_UNLOCK(element);
    return context;
}

} // namespace

G_DEFINE_TYPE_WITH_CODE(GstNorvaMultiSrcPad, gst_norvamultisrc_pad, GST_TYPE_GHOST_PAD,
                        G_IMPLEMENT_INTERFACE(GST_TYPE_NORVASRC_PAD_PROPS, gst_norvasrc_pad_props_init))

gint gst_norvamultisrc_pad_get_context(GstNorvaMultiSrcPad *pad) {
    GST_OBJECT_LOCK(pad);
    const gint context = pad->context;
    GST_OBJECT_UNLOCK(pad);
    return context;
}

static void gst_norvamultisrc_pad_set_property(GObject *object, guint id, const GValue *value, GParamSpec *pspec) {
    GstNorvaMultiSrcPad *pad = GST_NORVAMULTISRC_PAD(object);
    if (id == PAD_PROP_CONTEXT) {
        // Taken at the pad's next negotiation, whatever the state.
        GST_OBJECT_LOCK(pad);
        pad->context = g_value_get_int(value);
        GST_OBJECT_UNLOCK(pad);
        return;
    }
    if (id != PAD_PROP_BUF_MODE) {
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
        return;
    }
    GstElement *element = elementOf(pad);
    if (element == nullptr) {
        GST_WARNING_OBJECT(pad, "No element behind the pad");
        return;
    }
    g_object_set_property(G_OBJECT(element), pspec->name, value);
    gst_object_unref(element);
}

static void gst_norvamultisrc_pad_get_property(GObject *object, guint id, GValue *value, GParamSpec *pspec) {
    GstNorvaMultiSrcPad *pad = GST_NORVAMULTISRC_PAD(object);
    if (id == PAD_PROP_CONTEXT) {
        g_value_set_int(value, gst_norvamultisrc_pad_get_context(pad));
        return;
    }
    if (id == PAD_PROP_0 || id > PAD_PROP_BOUNDS_HEIGHT) {
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
        return;
    }
    GstElement *element = elementOf(pad);
    if (element == nullptr) {
        // Without an element the pad shows the defaults.
        g_param_value_set_default(pspec, value);
        return;
    }
    if (id == PAD_PROP_CURRENT_CONTEXT)
        g_value_set_uint(value, currentContext(element));
    else
        g_object_get_property(G_OBJECT(element), pspec->name, value);
    gst_object_unref(element);
}

static void gst_norvamultisrc_pad_class_init(GstNorvaMultiSrcPadClass *klass) {
    GObjectClass *gobject_class = G_OBJECT_CLASS(klass);
    gobject_class->set_property = gst_norvamultisrc_pad_set_property;
    gobject_class->get_property = gst_norvamultisrc_pad_get_property;

    g_object_class_override_property(gobject_class, PAD_PROP_BUF_MODE, "buf-mode");
    g_object_class_override_property(gobject_class, PAD_PROP_DMABUF_FD_LIST, "dmabuf-fd-list");
    g_object_class_override_property(gobject_class, PAD_PROP_DMABUF_SIZE, "dmabuf-size");
    g_object_class_install_property(
        gobject_class, PAD_PROP_CONTEXT,
        g_param_spec_int("context", "Context", "Use specified context (-1: select automatically)", -1, 1, -1,
                         static_cast<GParamFlags>(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS)));
    g_object_class_install_property(
        gobject_class, PAD_PROP_CURRENT_CONTEXT,
        g_param_spec_uint("current-context", "Current context", "Current context number", 0, 1, 0,
                          static_cast<GParamFlags>(G_PARAM_READABLE | G_PARAM_STATIC_STRINGS)));
    g_object_class_override_property(gobject_class, PAD_PROP_BOUNDS_X, "bounds-x");
    g_object_class_override_property(gobject_class, PAD_PROP_BOUNDS_Y, "bounds-y");
    g_object_class_override_property(gobject_class, PAD_PROP_BOUNDS_WIDTH, "bounds-width");
    g_object_class_override_property(gobject_class, PAD_PROP_BOUNDS_HEIGHT, "bounds-height");
}

static void gst_norvamultisrc_pad_init(GstNorvaMultiSrcPad *pad) { pad->context = -1; }
