#ifndef GST_NORVA_META_H
#define GST_NORVA_META_H

/*
 * Per-frame metadata that the norva source attaches to its output buffers: the brightness auto exposure metered,
 * the brightness histogram (on request), the focus value auto focus measured and the iris correction auto
 * exposure asks for. The records are shared with separately built programs, so their layouts are fixed.
 *
 * A reader finds a record with gst_buffer_get_meta (buffer, <api type>) and casts it to the record.
 */

#include <gst/gst.h>

G_BEGIN_DECLS

/* Luminance histograms of one frame in the layout of the ISP's histogram statistics (MC_STATS_HIS). */
typedef struct GstNorvaHistogram {
    guint32 globalHistogram[64];        /* 64 bins over the whole measured area */
    guint32 regionHistograms[7][7][16]; /* 16 bins per region of the 7 x 7 grid: [row][column][bin] */
} GstNorvaHistogram;

/* The ISP's histogram statistics record; same layout as GstNorvaHistogram. */
struct MC_STATS_HIS;

typedef struct GstNorvaCurrentBrightnessMeta {
    GstMeta meta;
    gfloat brightness; /* metered brightness, -1 (dark) to 1 (bright) */
} GstNorvaCurrentBrightnessMeta;

typedef struct GstNorvaBrightnessHistMeta {
    GstMeta meta;
    GstNorvaHistogram hist;
} GstNorvaBrightnessHistMeta;

typedef struct GstFocusValueMeta {
    GstMeta meta;
    gfloat value; /* normalised focus sharpness */
} GstFocusValueMeta;

typedef struct GstIrisCorrectionMeta {
    GstMeta meta;
    gdouble correction; /* iris correction in dB, 0 when the aperture is to stay */
} GstIrisCorrectionMeta;

#if GLIB_SIZEOF_VOID_P == 8
/* The fixed layouts of the 64-bit target. */
G_STATIC_ASSERT(sizeof(GstMeta) == 16);
G_STATIC_ASSERT(sizeof(GstNorvaCurrentBrightnessMeta) == 24);
G_STATIC_ASSERT(G_STRUCT_OFFSET(GstNorvaCurrentBrightnessMeta, brightness) == 16);
G_STATIC_ASSERT(sizeof(GstNorvaBrightnessHistMeta) == 3408);
G_STATIC_ASSERT(G_STRUCT_OFFSET(GstNorvaBrightnessHistMeta, hist) == 16);
G_STATIC_ASSERT(G_STRUCT_OFFSET(GstNorvaBrightnessHistMeta, hist.regionHistograms) == 16 + 256);
G_STATIC_ASSERT(sizeof(GstFocusValueMeta) == 24);
G_STATIC_ASSERT(G_STRUCT_OFFSET(GstFocusValueMeta, value) == 16);
G_STATIC_ASSERT(sizeof(GstIrisCorrectionMeta) == 24);
G_STATIC_ASSERT(G_STRUCT_OFFSET(GstIrisCorrectionMeta, correction) == 16);
#endif

GType gst_norva_current_brightness_meta_api_get_type(void);
const GstMetaInfo *gst_norva_current_brightness_meta_get_info(void);
GstNorvaCurrentBrightnessMeta *gst_buffer_add_current_brightness_meta(GstBuffer *buffer, gfloat brightness);

GType gst_norva_brightness_hist_meta_api_get_type(void);
const GstMetaInfo *gst_norva_brightness_hist_meta_get_info(void);
/* Copies the 3392 bytes that hist points to. */
GstNorvaBrightnessHistMeta *gst_buffer_add_brightness_hist_meta(GstBuffer *buffer, const struct MC_STATS_HIS *hist);

GType gst_focus_value_meta_api_get_type(void);
const GstMetaInfo *gst_focus_value_meta_get_info(void);
GstFocusValueMeta *gst_buffer_add_focus_value_meta(GstBuffer *buffer, gfloat value);

GType gst_iris_correction_meta_api_get_type(void);
const GstMetaInfo *gst_iris_correction_meta_get_info(void);
GstIrisCorrectionMeta *gst_buffer_add_iris_correction_meta(GstBuffer *buffer, gdouble correction);

G_END_DECLS

#endif /* GST_NORVA_META_H */
