#include "gstnorvavideoinfo.h"

#include <cstring>

#include "bufferformat.h"

namespace {

struct FormatRow {
    const char *name; // null for the GStreamer raw formats, which GStreamer names
    GstVideoFormat video_format;
    pxlFormat pixel_format;
    MOSAICType mosaic;
};

// Indexed by GstNorvaVideoFormat. The ISP names RGB formats by their order in a 32-bit word, GStreamer by their
// byte order in memory, so the RGB family maps crosswise.
const FormatRow kFormats[] = {
    {"UNKNOWN", GST_VIDEO_FORMAT_UNKNOWN, PXL_NONE, MOSAIC_NONE},
    {nullptr, GST_VIDEO_FORMAT_RGB, BGR_888_24, MOSAIC_NONE},
    {nullptr, GST_VIDEO_FORMAT_BGR, RGB_888_24, MOSAIC_NONE},
    {nullptr, GST_VIDEO_FORMAT_RGBx, BGR_888_32, MOSAIC_NONE},
    {nullptr, GST_VIDEO_FORMAT_BGRx, RGB_888_32, MOSAIC_NONE},
    {nullptr, GST_VIDEO_FORMAT_v308, PXL_ISP_444IL3YCrCb8, MOSAIC_NONE},
    {nullptr, GST_VIDEO_FORMAT_NV12, YUV_420_PL12_8, MOSAIC_NONE},
    {nullptr, GST_VIDEO_FORMAT_NV21, YVU_420_PL12_8, MOSAIC_NONE},
    {nullptr, GST_VIDEO_FORMAT_NV16, YUV_422_PL12_8, MOSAIC_NONE},
    {nullptr, GST_VIDEO_FORMAT_NV61, YVU_422_PL12_8, MOSAIC_NONE},
    {nullptr, GST_VIDEO_FORMAT_NV12_10LE32, YUV_420_PL12_10, MOSAIC_NONE},
    {"rggb", GST_VIDEO_FORMAT_UNKNOWN, BAYER_RGGB_8, MOSAIC_RGGB},
    {"grbg", GST_VIDEO_FORMAT_UNKNOWN, BAYER_RGGB_8, MOSAIC_GRBG},
    {"gbrg", GST_VIDEO_FORMAT_UNKNOWN, BAYER_RGGB_8, MOSAIC_GBRG},
    {"bggr", GST_VIDEO_FORMAT_UNKNOWN, BAYER_RGGB_8, MOSAIC_BGGR},
    {"rggb10nrv", GST_VIDEO_FORMAT_UNKNOWN, BAYER_RGGB_10, MOSAIC_RGGB},
    {"grbg10nrv", GST_VIDEO_FORMAT_UNKNOWN, BAYER_RGGB_10, MOSAIC_GRBG},
    {"gbrg10nrv", GST_VIDEO_FORMAT_UNKNOWN, BAYER_RGGB_10, MOSAIC_GBRG},
    {"bggr10nrv", GST_VIDEO_FORMAT_UNKNOWN, BAYER_RGGB_10, MOSAIC_BGGR},
    {"rggb12nrv", GST_VIDEO_FORMAT_UNKNOWN, BAYER_RGGB_12, MOSAIC_RGGB},
    {"grbg12nrv", GST_VIDEO_FORMAT_UNKNOWN, BAYER_RGGB_12, MOSAIC_GRBG},
    {"gbrg12nrv", GST_VIDEO_FORMAT_UNKNOWN, BAYER_RGGB_12, MOSAIC_GBRG},
    {"bggr12nrv", GST_VIDEO_FORMAT_UNKNOWN, BAYER_RGGB_12, MOSAIC_BGGR},
};
static_assert(sizeof(kFormats) / sizeof(kFormats[0]) == GST_NORVA_VIDEO_FORMAT_LAST + 1, "one row per format");

bool is_bayer(GstNorvaVideoFormat format) {
    return format >= GST_NORVA_VIDEO_FORMAT_RGGB && format <= GST_NORVA_VIDEO_FORMAT_BGGR12;
}

void clear_colorimetry(GstVideoInfo *info) {
    info->chroma_site = GST_VIDEO_CHROMA_SITE_UNKNOWN;
    gst_video_colorimetry_from_string(&info->colorimetry, nullptr);
}

} // namespace

GstNorvaVideoFormat gst_norva_video_format_from_pixel_format(pxlFormat format) {
    if (format < YVU_420_PL12_8 || format > PXL_ISP_444IL3YCrCb8)
        return GST_NORVA_VIDEO_FORMAT_UNKNOWN;
    for (int i = 1; i <= GST_NORVA_VIDEO_FORMAT_LAST; ++i)
        if (kFormats[i].pixel_format == format)
            return static_cast<GstNorvaVideoFormat>(i);
    return GST_NORVA_VIDEO_FORMAT_UNKNOWN;
}

GstNorvaVideoFormat gst_norva_video_format_apply_mosaic(GstNorvaVideoFormat format, MOSAICType mosaic) {
    if (!is_bayer(format) || mosaic < MOSAIC_RGGB || mosaic > MOSAIC_BGGR)
        return format;
    // Four orders per depth, starting at the RGGB value of the depth.
    int depth_base = GST_NORVA_VIDEO_FORMAT_RGGB + ((format - GST_NORVA_VIDEO_FORMAT_RGGB) / 4) * 4;
    return static_cast<GstNorvaVideoFormat>(depth_base + (mosaic - MOSAIC_RGGB));
}

pxlFormat gst_norva_video_format_get_pixel_format(GstNorvaVideoFormat format) {
    GstNorvaVideoFormat rggb = gst_norva_video_format_apply_mosaic(format, MOSAIC_RGGB);
    for (int p = PXL_NONE; p <= PXL_ISP_444IL3YCbCr10; ++p)
        if (gst_norva_video_format_from_pixel_format(static_cast<pxlFormat>(p)) == rggb)
            return static_cast<pxlFormat>(p);
    return PXL_INVALID;
}

MOSAICType gst_norva_video_format_get_mosaic(GstNorvaVideoFormat format) {
    return is_bayer(format) ? kFormats[format].mosaic : MOSAIC_NONE;
}

GstVideoFormat gst_norva_video_format_get_video_format(GstNorvaVideoFormat format) {
    if (format < GST_NORVA_VIDEO_FORMAT_RGB || format > GST_NORVA_VIDEO_FORMAT_NV12_10LE32)
        return GST_VIDEO_FORMAT_UNKNOWN;
    return kFormats[format].video_format;
}

const gchar *gst_norva_video_format_to_string(GstNorvaVideoFormat format) {
    if (format == GST_NORVA_VIDEO_FORMAT_UNKNOWN || is_bayer(format))
        return kFormats[format].name;
    // GStreamer refuses to name its unknown format, so values past the table are named here.
    GstVideoFormat video_format = gst_norva_video_format_get_video_format(format);
    if (video_format == GST_VIDEO_FORMAT_UNKNOWN)
        return kFormats[GST_NORVA_VIDEO_FORMAT_UNKNOWN].name;
    return gst_video_format_to_string(video_format);
}

GstNorvaVideoFormat gst_norva_video_format_from_string(const gchar *format) {
    g_return_val_if_fail(format != NULL, GST_NORVA_VIDEO_FORMAT_UNKNOWN);
    for (int i = 0; i <= GST_NORVA_VIDEO_FORMAT_LAST; ++i) {
        const gchar *name = gst_norva_video_format_to_string(static_cast<GstNorvaVideoFormat>(i));
        if (name && std::strcmp(name, format) == 0)
            return static_cast<GstNorvaVideoFormat>(i);
    }
    return GST_NORVA_VIDEO_FORMAT_UNKNOWN;
}

void gst_norva_video_info_init(GstNorvaVideoInfo *info) {
    g_return_if_fail(info != NULL);
    info->format = GST_NORVA_VIDEO_FORMAT_UNKNOWN;
    gst_video_info_init(&info->info);
}

gboolean gst_norva_video_info_from_caps(GstNorvaVideoInfo *info, const GstCaps *caps) {
    g_return_val_if_fail(info != NULL, FALSE);
    g_return_val_if_fail(caps != NULL, FALSE);
    g_return_val_if_fail(gst_caps_is_fixed(caps), FALSE);

    const GstStructure *s = gst_caps_get_structure(caps, 0);
    const gchar *text = gst_structure_get_string(s, "format");
    if (!text)
        return FALSE;
    GstNorvaVideoFormat format = gst_norva_video_format_from_string(text);
    if (format == GST_NORVA_VIDEO_FORMAT_UNKNOWN)
        return FALSE;

    if (gst_structure_has_name(s, "video/x-raw")) {
        if (!gst_video_info_from_caps(&info->info, caps))
            return FALSE;
        info->format = format;
        if (BufferTypeFromPixelFormat(gst_norva_video_format_get_pixel_format(format)) != CI_TYPE_ENCODER)
            info->info.chroma_site = GST_VIDEO_CHROMA_SITE_UNKNOWN;
        return TRUE;
    }
    if (gst_structure_has_name(s, "video/x-bayer")) {
        gint width = 0, height = 0;
        if (!gst_structure_get_int(s, "width", &width) || !gst_structure_get_int(s, "height", &height))
            return FALSE;
        gst_video_info_init(&info->info);
        info->format = format;
        info->info.width = width;
        info->info.height = height;
        gint n = 0, d = 1;
        if (gst_structure_get_fraction(s, "framerate", &n, &d)) {
            info->info.fps_n = n;
            info->info.fps_d = d;
        }
        if (gst_structure_get_fraction(s, "pixel-aspect-ratio", &n, &d)) {
            info->info.par_n = n;
            info->info.par_d = d;
        }
        clear_colorimetry(&info->info);
        return TRUE;
    }
    return FALSE;
}

gboolean gst_norva_video_info_from_buffer_format(GstNorvaVideoInfo *info, const BufferFormat &buffer_format) {
    g_return_val_if_fail(info != NULL, FALSE);

    GstNorvaVideoFormat format = gst_norva_video_format_apply_mosaic(
        gst_norva_video_format_from_pixel_format(buffer_format.format), buffer_format.mosaic);
    if (format == GST_NORVA_VIDEO_FORMAT_UNKNOWN)
        return FALSE;

    GstVideoFormat video_format = gst_norva_video_format_get_video_format(format);
    if (video_format != GST_VIDEO_FORMAT_UNKNOWN) {
        if (!gst_video_info_set_format(&info->info, video_format, buffer_format.width, buffer_format.height))
            return FALSE;
        gint n = 1, d = 1;
        gst_util_double_to_fraction(buffer_format.pixelAspectRatio, &n, &d);
        info->info.par_n = n;
        info->info.par_d = d;
        if (BufferTypeFromPixelFormat(buffer_format.format) == CI_TYPE_ENCODER)
            info->info.chroma_site =
                buffer_format.bChromaInterstitial ? GST_VIDEO_CHROMA_SITE_JPEG : GST_VIDEO_CHROMA_SITE_MPEG2;
        else
            info->info.chroma_site = GST_VIDEO_CHROMA_SITE_UNKNOWN;
        gst_video_colorimetry_from_string(&info->info.colorimetry, buffer_format.bBT601 ? "bt601" : "bt709");
        if (GST_VIDEO_FORMAT_INFO_IS_RGB(gst_video_format_get_info(video_format)))
            info->info.colorimetry.matrix = GST_VIDEO_COLOR_MATRIX_RGB;
    } else {
        gst_video_info_init(&info->info);
        info->info.width = static_cast<gint>(buffer_format.width);
        info->info.height = static_cast<gint>(buffer_format.height);
        clear_colorimetry(&info->info);
    }
    info->format = format;
    return TRUE;
}

gboolean gst_norva_video_info_match_buffer_format(const GstNorvaVideoInfo *info, const BufferFormat &buffer_format) {
    g_return_val_if_fail(info != NULL, FALSE);
    GstNorvaVideoInfo other;
    gst_norva_video_info_init(&other);
    if (!gst_norva_video_info_from_buffer_format(&other, buffer_format))
        return FALSE;
    const GstVideoInfo &a = info->info;
    const GstVideoInfo &b = other.info;
    return info->format == other.format && a.chroma_site == b.chroma_site && a.width == b.width &&
           a.height == b.height && a.par_n == b.par_n && a.par_d == b.par_d &&
           gst_video_colorimetry_is_equal(&a.colorimetry, &b.colorimetry);
}
