#ifndef GST_NORVA_VIDEO_INFO_H
#define GST_NORVA_VIDEO_INFO_H

/*
 * The output formats the norva elements negotiate: GStreamer's raw formats that the ISP outputs produce and the
 * Bayer formats in three depths and four orders, their mapping to the ISP's pixel formats, and the per-pad video
 * description compared against a capture context's output formats.
 */

#include <gst/gst.h>
#include <gst/video/video.h>

#include "norvacommon/pixel_transform.h"

struct BufferFormat;

typedef enum {
    GST_NORVA_VIDEO_FORMAT_UNKNOWN = 0,
    GST_NORVA_VIDEO_FORMAT_RGB = 1,
    GST_NORVA_VIDEO_FORMAT_BGR = 2,
    GST_NORVA_VIDEO_FORMAT_RGBx = 3,
    GST_NORVA_VIDEO_FORMAT_BGRx = 4,
    GST_NORVA_VIDEO_FORMAT_v308 = 5,
    GST_NORVA_VIDEO_FORMAT_NV12 = 6,
    GST_NORVA_VIDEO_FORMAT_NV21 = 7,
    GST_NORVA_VIDEO_FORMAT_NV16 = 8,
    GST_NORVA_VIDEO_FORMAT_NV61 = 9,
    GST_NORVA_VIDEO_FORMAT_NV12_10LE32 = 10,
    GST_NORVA_VIDEO_FORMAT_RGGB = 11,
    GST_NORVA_VIDEO_FORMAT_GRBG = 12,
    GST_NORVA_VIDEO_FORMAT_GBRG = 13,
    GST_NORVA_VIDEO_FORMAT_BGGR = 14,
    GST_NORVA_VIDEO_FORMAT_RGGB10 = 15,
    GST_NORVA_VIDEO_FORMAT_GRBG10 = 16,
    GST_NORVA_VIDEO_FORMAT_GBRG10 = 17,
    GST_NORVA_VIDEO_FORMAT_BGGR10 = 18,
    GST_NORVA_VIDEO_FORMAT_RGGB12 = 19,
    GST_NORVA_VIDEO_FORMAT_GRBG12 = 20,
    GST_NORVA_VIDEO_FORMAT_GBRG12 = 21,
    GST_NORVA_VIDEO_FORMAT_BGGR12 = 22,
} GstNorvaVideoFormat;

#define GST_NORVA_VIDEO_FORMAT_LAST GST_NORVA_VIDEO_FORMAT_BGGR12

/** A pad's video description. For Bayer formats info carries no GStreamer format: only width, height, frame
 * rate and pixel aspect ratio are meaningful. */
typedef struct {
    GstNorvaVideoFormat format;
    GstVideoInfo info;
} GstNorvaVideoInfo;

/** A pad's video description and the capture context that serves it. */
typedef struct {
    GstNorvaVideoInfo vinfo;
    guint context;
} GstNorvaVideoId;

G_BEGIN_DECLS

GstNorvaVideoFormat gst_norva_video_format_from_pixel_format(pxlFormat format);
GstNorvaVideoFormat gst_norva_video_format_apply_mosaic(GstNorvaVideoFormat format, MOSAICType mosaic);
pxlFormat gst_norva_video_format_get_pixel_format(GstNorvaVideoFormat format);
MOSAICType gst_norva_video_format_get_mosaic(GstNorvaVideoFormat format);
GstVideoFormat gst_norva_video_format_get_video_format(GstNorvaVideoFormat format);
const gchar *gst_norva_video_format_to_string(GstNorvaVideoFormat format);
GstNorvaVideoFormat gst_norva_video_format_from_string(const gchar *format);

void gst_norva_video_info_init(GstNorvaVideoInfo *info);
gboolean gst_norva_video_info_from_caps(GstNorvaVideoInfo *info, const GstCaps *caps);

G_END_DECLS

gboolean gst_norva_video_info_from_buffer_format(GstNorvaVideoInfo *info, const BufferFormat &format);
gboolean gst_norva_video_info_match_buffer_format(const GstNorvaVideoInfo *info, const BufferFormat &format);

#endif /* GST_NORVA_VIDEO_INFO_H */
