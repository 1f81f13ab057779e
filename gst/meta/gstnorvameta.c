/*
 * The four per-frame metadata types of the norva source. Each type is registered once per process on first
 * use (API type, then implementation); the records own nothing, so none has a free function. Only the focus
 * value and the iris correction follow a buffer through copies and other transforms.
 */
#include "gstnorvameta.h"

#include <string.h>

G_STATIC_ASSERT(sizeof(GstNorvaHistogram) == 3392);

/* The add functions refuse what GStreamer does not allow to carry a new record, with GLib's precondition
 * warning under the caller's name. */
static gboolean buffer_accepts_meta(GstBuffer *buffer, const gchar *function) {
    if (!GST_IS_BUFFER(buffer)) {
        g_return_if_fail_warning(G_LOG_DOMAIN, function, "GST_IS_BUFFER (buffer)");
        return FALSE;
    }
    if (!gst_buffer_is_writable(buffer)) {
        g_return_if_fail_warning(G_LOG_DOMAIN, function, "gst_buffer_is_writable (buffer)");
        return FALSE;
    }
    return TRUE;
}

static GType register_api(const gchar *name) {
    static const gchar *no_tags[] = {NULL};
    return gst_meta_api_type_register(name, no_tags);
}

/* Current brightness. */

GType gst_norva_current_brightness_meta_api_get_type(void) {
    static gsize type = 0;
    if (g_once_init_enter(&type)) {
        GType t = register_api("GstNorvaCurrentBrightnessMetaAPI");
        g_once_init_leave(&type, t);
    }
    return (GType)type;
}

static gboolean gst_norva_current_brightness_meta_init(GstMeta *meta, gpointer params, GstBuffer *buffer) {
    (void)params;
    (void)buffer;
    ((GstNorvaCurrentBrightnessMeta *)meta)->brightness = 0.0f;
    return TRUE;
}

const GstMetaInfo *gst_norva_current_brightness_meta_get_info(void) {
    static const GstMetaInfo *info = NULL;
    if (g_once_init_enter(&info)) {
        const GstMetaInfo *i = gst_meta_register(gst_norva_current_brightness_meta_api_get_type(),
                                                 "GstNorvaCurrentBrightnessMeta", sizeof(GstNorvaCurrentBrightnessMeta),
                                                 gst_norva_current_brightness_meta_init, NULL, NULL);
        g_once_init_leave(&info, i);
    }
    return info;
}

GstNorvaCurrentBrightnessMeta *gst_buffer_add_current_brightness_meta(GstBuffer *buffer, gfloat brightness) {
    if (!buffer_accepts_meta(buffer, G_STRFUNC))
        return NULL;
    GstNorvaCurrentBrightnessMeta *meta = (GstNorvaCurrentBrightnessMeta *)gst_buffer_add_meta(
        buffer, gst_norva_current_brightness_meta_get_info(), NULL);
    if (meta)
        meta->brightness = brightness;
    return meta;
}

/* Brightness histogram. */

GType gst_norva_brightness_hist_meta_api_get_type(void) {
    static gsize type = 0;
    if (g_once_init_enter(&type)) {
        GType t = register_api("GstNorvaBrightnessHistMetaAPI");
        g_once_init_leave(&type, t);
    }
    return (GType)type;
}

static gboolean gst_norva_brightness_hist_meta_init(GstMeta *meta, gpointer params, GstBuffer *buffer) {
    (void)params;
    (void)buffer;
    memset(&((GstNorvaBrightnessHistMeta *)meta)->hist, 0, sizeof(GstNorvaHistogram));
    return TRUE;
}

const GstMetaInfo *gst_norva_brightness_hist_meta_get_info(void) {
    static const GstMetaInfo *info = NULL;
    if (g_once_init_enter(&info)) {
        const GstMetaInfo *i =
            gst_meta_register(gst_norva_brightness_hist_meta_api_get_type(), "GstNorvaBrightnessHistMeta",
                              sizeof(GstNorvaBrightnessHistMeta), gst_norva_brightness_hist_meta_init, NULL, NULL);
        g_once_init_leave(&info, i);
    }
    return info;
}

GstNorvaBrightnessHistMeta *gst_buffer_add_brightness_hist_meta(GstBuffer *buffer, const struct MC_STATS_HIS *hist) {
    if (!buffer_accepts_meta(buffer, G_STRFUNC))
        return NULL;
    GstNorvaBrightnessHistMeta *meta =
        (GstNorvaBrightnessHistMeta *)gst_buffer_add_meta(buffer, gst_norva_brightness_hist_meta_get_info(), NULL);
    /* A missing histogram leaves the zeroed record rather than reading through a null pointer. */
    if (meta && hist)
        memcpy(&meta->hist, hist, sizeof(GstNorvaHistogram));
    return meta;
}

/* Focus value. */

GType gst_focus_value_meta_api_get_type(void) {
    static gsize type = 0;
    if (g_once_init_enter(&type)) {
        GType t = register_api("GstFocusValueMetaAPI");
        g_once_init_leave(&type, t);
    }
    return (GType)type;
}

static gboolean gst_focus_value_meta_init(GstMeta *meta, gpointer params, GstBuffer *buffer) {
    (void)params;
    (void)buffer;
    ((GstFocusValueMeta *)meta)->value = 0.0f;
    return TRUE;
}

static gboolean gst_focus_value_meta_transform(GstBuffer *dest, GstMeta *meta, GstBuffer *buffer, GQuark type,
                                               gpointer data) {
    (void)buffer;
    (void)type;
    (void)data;
    gst_buffer_add_focus_value_meta(dest, ((GstFocusValueMeta *)meta)->value);
    return TRUE;
}

const GstMetaInfo *gst_focus_value_meta_get_info(void) {
    static const GstMetaInfo *info = NULL;
    if (g_once_init_enter(&info)) {
        const GstMetaInfo *i =
            gst_meta_register(gst_focus_value_meta_api_get_type(), "GstFocusValueMeta", sizeof(GstFocusValueMeta),
                              gst_focus_value_meta_init, NULL, gst_focus_value_meta_transform);
        g_once_init_leave(&info, i);
    }
    return info;
}

GstFocusValueMeta *gst_buffer_add_focus_value_meta(GstBuffer *buffer, gfloat value) {
    if (!buffer_accepts_meta(buffer, G_STRFUNC))
        return NULL;
    GstFocusValueMeta *meta = (GstFocusValueMeta *)gst_buffer_add_meta(buffer, gst_focus_value_meta_get_info(), NULL);
    if (meta)
        meta->value = value;
    return meta;
}

/* Iris correction. */

GType gst_iris_correction_meta_api_get_type(void) {
    static gsize type = 0;
    if (g_once_init_enter(&type)) {
        GType t = register_api("GstIrisCorrectionMetaAPI");
        g_once_init_leave(&type, t);
    }
    return (GType)type;
}

static gboolean gst_iris_correction_meta_init(GstMeta *meta, gpointer params, GstBuffer *buffer) {
    (void)params;
    (void)buffer;
    ((GstIrisCorrectionMeta *)meta)->correction = 0.0;
    return TRUE;
}

static gboolean gst_iris_correction_meta_transform(GstBuffer *dest, GstMeta *meta, GstBuffer *buffer, GQuark type,
                                                   gpointer data) {
    (void)buffer;
    (void)type;
    (void)data;
    gst_buffer_add_iris_correction_meta(dest, ((GstIrisCorrectionMeta *)meta)->correction);
    return TRUE;
}

const GstMetaInfo *gst_iris_correction_meta_get_info(void) {
    static const GstMetaInfo *info = NULL;
    if (g_once_init_enter(&info)) {
        const GstMetaInfo *i = gst_meta_register(gst_iris_correction_meta_api_get_type(), "GstIrisCorrectionMeta",
                                                 sizeof(GstIrisCorrectionMeta), gst_iris_correction_meta_init, NULL,
                                                 gst_iris_correction_meta_transform);
        g_once_init_leave(&info, i);
    }
    return info;
}

GstIrisCorrectionMeta *gst_buffer_add_iris_correction_meta(GstBuffer *buffer, gdouble correction) {
    if (!buffer_accepts_meta(buffer, G_STRFUNC))
        return NULL;
    GstIrisCorrectionMeta *meta =
        (GstIrisCorrectionMeta *)gst_buffer_add_meta(buffer, gst_iris_correction_meta_get_info(), NULL);
    if (meta)
        meta->correction = correction;
    return meta;
}
