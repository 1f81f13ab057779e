// Output formats and their mappings, the pad video description, and the wrapping allocator.
#include <gst/allocators/gstdmabuf.h>
#include <gst/check/gstcheck.h>

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <type_traits>
#include <vector>

#include "gstnorvabuf.h"
#include "gstnorvavideoinfo.h"
#include "bufferformat.h"

// Crop bounds relative to another rectangle may start left of or above it.
static_assert(std::is_signed<decltype(BufferFrameBounds::x)>::value &&
                  std::is_signed<decltype(BufferFrameBounds::y)>::value,
              "signed origin");
static_assert(std::is_unsigned<decltype(BufferFrameBounds::width)>::value, "unsigned size");

namespace {

struct FormatCase {
    int value;
    const char *name;
    GstVideoFormat video_format;
    pxlFormat pixel_format;
    MOSAICType mosaic;
};

// Every format: caps name, GStreamer format, ISP pixel format and Bayer order. The RGB family is crosswise.
const FormatCase kFormats[] = {
    {0, "UNKNOWN", GST_VIDEO_FORMAT_UNKNOWN, PXL_NONE, MOSAIC_NONE},
    {1, "RGB", GST_VIDEO_FORMAT_RGB, BGR_888_24, MOSAIC_NONE},
    {2, "BGR", GST_VIDEO_FORMAT_BGR, RGB_888_24, MOSAIC_NONE},
    {3, "RGBx", GST_VIDEO_FORMAT_RGBx, BGR_888_32, MOSAIC_NONE},
    {4, "BGRx", GST_VIDEO_FORMAT_BGRx, RGB_888_32, MOSAIC_NONE},
    {5, "v308", GST_VIDEO_FORMAT_v308, PXL_ISP_444IL3YCrCb8, MOSAIC_NONE},
    {6, "NV12", GST_VIDEO_FORMAT_NV12, YUV_420_PL12_8, MOSAIC_NONE},
    {7, "NV21", GST_VIDEO_FORMAT_NV21, YVU_420_PL12_8, MOSAIC_NONE},
    {8, "NV16", GST_VIDEO_FORMAT_NV16, YUV_422_PL12_8, MOSAIC_NONE},
    {9, "NV61", GST_VIDEO_FORMAT_NV61, YVU_422_PL12_8, MOSAIC_NONE},
    {10, "NV12_10LE32", GST_VIDEO_FORMAT_NV12_10LE32, YUV_420_PL12_10, MOSAIC_NONE},
    {11, "rggb", GST_VIDEO_FORMAT_UNKNOWN, BAYER_RGGB_8, MOSAIC_RGGB},
    {12, "grbg", GST_VIDEO_FORMAT_UNKNOWN, BAYER_RGGB_8, MOSAIC_GRBG},
    {13, "gbrg", GST_VIDEO_FORMAT_UNKNOWN, BAYER_RGGB_8, MOSAIC_GBRG},
    {14, "bggr", GST_VIDEO_FORMAT_UNKNOWN, BAYER_RGGB_8, MOSAIC_BGGR},
    {15, "rggb10nrv", GST_VIDEO_FORMAT_UNKNOWN, BAYER_RGGB_10, MOSAIC_RGGB},
    {16, "grbg10nrv", GST_VIDEO_FORMAT_UNKNOWN, BAYER_RGGB_10, MOSAIC_GRBG},
    {17, "gbrg10nrv", GST_VIDEO_FORMAT_UNKNOWN, BAYER_RGGB_10, MOSAIC_GBRG},
    {18, "bggr10nrv", GST_VIDEO_FORMAT_UNKNOWN, BAYER_RGGB_10, MOSAIC_BGGR},
    {19, "rggb12nrv", GST_VIDEO_FORMAT_UNKNOWN, BAYER_RGGB_12, MOSAIC_RGGB},
    {20, "grbg12nrv", GST_VIDEO_FORMAT_UNKNOWN, BAYER_RGGB_12, MOSAIC_GRBG},
    {21, "gbrg12nrv", GST_VIDEO_FORMAT_UNKNOWN, BAYER_RGGB_12, MOSAIC_GBRG},
    {22, "bggr12nrv", GST_VIDEO_FORMAT_UNKNOWN, BAYER_RGGB_12, MOSAIC_BGGR},
};

GstNorvaVideoFormat F(int v) { return static_cast<GstNorvaVideoFormat>(v); }

GstCaps *caps(const char *text) {
    GstCaps *c = gst_caps_from_string(text);
    fail_unless(c != nullptr, "caps %s", text);
    return c;
}

BufferFormat buffer_format(pxlFormat format, MOSAICType mosaic, guint width, guint height, double par = 1.0,
                           bool interstitial = false, bool bt601 = false) {
    BufferFormat f;
    f.format = format;
    f.mosaic = mosaic;
    f.width = width;
    f.height = height;
    f.pixelAspectRatio = par;
    f.bChromaInterstitial = interstitial;
    f.bBT601 = bt601;
    return f;
}

} // namespace

GST_START_TEST(every_format_maps_both_ways) {
    for (const FormatCase &c : kFormats) {
        GstNorvaVideoFormat f = F(c.value);
        fail_unless_equals_string(gst_norva_video_format_to_string(f), c.name);
        fail_unless_equals_int(gst_norva_video_format_from_string(c.name), c.value);
        fail_unless_equals_int(gst_norva_video_format_get_video_format(f), c.video_format);
        fail_unless_equals_int(gst_norva_video_format_get_pixel_format(f), c.pixel_format);
        fail_unless_equals_int(gst_norva_video_format_get_mosaic(f), c.mosaic);
        // From the ISP side: the pixel format names the RGGB member of a Bayer depth, the mosaic the order.
        fail_unless_equals_int(
            gst_norva_video_format_apply_mosaic(gst_norva_video_format_from_pixel_format(c.pixel_format), c.mosaic),
            c.value);
    }
    // Out of range values name nothing.
    fail_unless_equals_string(gst_norva_video_format_to_string(F(23)), "UNKNOWN");
    fail_unless_equals_int(gst_norva_video_format_get_pixel_format(F(23)), PXL_INVALID);
    fail_unless_equals_int(gst_norva_video_format_get_mosaic(F(23)), MOSAIC_NONE);
    fail_unless_equals_int(gst_norva_video_format_get_video_format(F(23)), GST_VIDEO_FORMAT_UNKNOWN);
}
GST_END_TEST;

GST_START_TEST(strings_match_exactly) {
    const struct {
        const char *text;
        int value;
    } cases[] = {
        {"bggr12nrv", 22}, {"NV12", 6}, {"nv12", 0}, {"RGGB", 0}, {"I420", 0}, {"", 0}, {"UNKNOWN", 0}, {"v308", 5},
    };
    for (const auto &c : cases)
        fail_unless_equals_int(gst_norva_video_format_from_string(c.text), c.value);

    GstNorvaVideoFormat result = GST_NORVA_VIDEO_FORMAT_NV12;
    ASSERT_CRITICAL(result = gst_norva_video_format_from_string(nullptr));
    fail_unless_equals_int(result, 0);
}
GST_END_TEST;

GST_START_TEST(mosaic_changes_only_bayer_orders) {
    const struct {
        int format;
        int mosaic;
        int expected;
    } cases[] = {
        {11, 4, 14}, {17, 1, 15}, {6, 3, 6}, {11, 0, 11}, {11, 5, 11}, {22, 1, 19}, {15, 4, 18}, {0, 2, 0}, {19, 2, 20},
    };
    for (const auto &c : cases)
        fail_unless_equals_int(gst_norva_video_format_apply_mosaic(F(c.format), static_cast<MOSAICType>(c.mosaic)),
                               c.expected);
}
GST_END_TEST;

GST_START_TEST(pixel_formats_without_a_row_give_nothing) {
    const int none[] = {PXL_NONE,
                        YVU_420_PL12_10,
                        YVU_422_PL12_10,
                        YUV_422_PL12_10,
                        RGB_101010_32,
                        BGR_101010_32,
                        BGR_161616_64,
                        BAYER_TIFF_10,
                        BAYER_TIFF_12,
                        PXL_ISP_444IL3YCbCr8,
                        PXL_ISP_444IL3YCrCb10,
                        PXL_ISP_444IL3YCbCr10,
                        PXL_N,
                        PXL_INVALID,
                        -1,
                        1000};
    for (int p : none)
        fail_unless_equals_int(gst_norva_video_format_from_pixel_format(static_cast<pxlFormat>(p)), 0);
}
GST_END_TEST;

GST_START_TEST(buffer_types_by_pixel_format) {
    const struct {
        pxlFormat format;
        CI_BUFFTYPE type;
        const char *name;
    } cases[] = {
        {RGB_888_24, CI_TYPE_DISPLAY, "display"},
        {BGR_161616_64, CI_TYPE_DISPLAY, "display"},
        {PXL_ISP_444IL3YCrCb8, CI_TYPE_DISPLAY, "display"},
        {PXL_ISP_444IL3YCbCr10, CI_TYPE_DISPLAY, "display"},
        {YVU_420_PL12_8, CI_TYPE_ENCODER, "encoder"},
        {YUV_422_PL12_10, CI_TYPE_ENCODER, "encoder"},
        {BAYER_RGGB_8, CI_TYPE_DATAEXT, "dataext"},
        {BAYER_RGGB_12, CI_TYPE_DATAEXT, "dataext"},
        {BAYER_TIFF_10, CI_TYPE_RAW2D, "raw2d"},
        {BAYER_TIFF_12, CI_TYPE_RAW2D, "raw2d"},
        {PXL_NONE, CI_TYPE_NONE, nullptr},
        {PXL_INVALID, CI_TYPE_NONE, nullptr},
    };
    for (const auto &c : cases) {
        fail_unless_equals_int(BufferTypeFromPixelFormat(c.format), c.type);
        const char *name = BufferTypeString(c.type);
        fail_unless((name == nullptr) == (c.name == nullptr));
        if (name)
            fail_unless_equals_string(name, c.name);
    }
    fail_unless_equals_string(BufferTypeString(CI_TYPE_HDREXT), "hdrext");
    fail_unless_equals_string(BufferTypeString(CI_TYPE_HDRINS), "hdrins");
    fail_unless(BufferTypeString(static_cast<CI_BUFFTYPE>(7)) == nullptr);
}
GST_END_TEST;

GST_START_TEST(video_info_from_caps) {
    const struct {
        const char *caps;
        gboolean ok;
        int format;
        int width, height;
        GstVideoChromaSite chroma;
    } cases[] = {
        {"video/x-raw,format=NV12,width=640,height=480,framerate=30/1,chroma-site=jpeg", TRUE, 6, 640, 480,
         GST_VIDEO_CHROMA_SITE_JPEG},
        {"video/x-raw,format=NV61,width=64,height=48,chroma-site=mpeg2,colorimetry=bt709", TRUE, 9, 64, 48,
         GST_VIDEO_CHROMA_SITE_MPEG2},
        // Only the semi-planar YUV outputs keep a chroma site.
        {"video/x-raw,format=BGRx,width=320,height=240,chroma-site=jpeg", TRUE, 4, 320, 240,
         GST_VIDEO_CHROMA_SITE_UNKNOWN},
        {"video/x-raw,format=v308,width=320,height=240,chroma-site=jpeg", TRUE, 5, 320, 240,
         GST_VIDEO_CHROMA_SITE_UNKNOWN},
        {"video/x-bayer,format=grbg10nrv,width=100,height=50,framerate=15/1,pixel-aspect-ratio=2/1", TRUE, 16, 100, 50,
         GST_VIDEO_CHROMA_SITE_UNKNOWN},
        {"video/x-bayer,format=rggb,height=50", FALSE, 0, 0, 0, GST_VIDEO_CHROMA_SITE_UNKNOWN},
        {"video/x-bayer,format=rggb,width=50", FALSE, 0, 0, 0, GST_VIDEO_CHROMA_SITE_UNKNOWN},
        {"video/x-raw,format=NV12,height=48", FALSE, 0, 0, 0, GST_VIDEO_CHROMA_SITE_UNKNOWN},
        {"video/x-raw,format=I420,width=64,height=48", FALSE, 0, 0, 0, GST_VIDEO_CHROMA_SITE_UNKNOWN},
        {"video/x-raw,width=64,height=48", FALSE, 0, 0, 0, GST_VIDEO_CHROMA_SITE_UNKNOWN},
        {"image/jpeg,format=NV12,width=64,height=48", FALSE, 0, 0, 0, GST_VIDEO_CHROMA_SITE_UNKNOWN},
    };
    for (const auto &c : cases) {
        GstNorvaVideoInfo info;
        gst_norva_video_info_init(&info);
        GstCaps *k = caps(c.caps);
        fail_unless_equals_int(gst_norva_video_info_from_caps(&info, k), c.ok);
        if (c.ok) {
            fail_unless_equals_int(info.format, c.format);
            fail_unless_equals_int(GST_VIDEO_INFO_WIDTH(&info.info), c.width);
            fail_unless_equals_int(GST_VIDEO_INFO_HEIGHT(&info.info), c.height);
            fail_unless_equals_int(info.info.chroma_site, c.chroma);
        }
        gst_caps_unref(k);
    }

    // Bayer caps: no GStreamer format, frame rate and aspect ratio read, colorimetry unset.
    GstNorvaVideoInfo info;
    gst_norva_video_info_init(&info);
    GstCaps *k = caps("video/x-bayer,format=bggr12nrv,width=8,height=4,framerate=15/1,pixel-aspect-ratio=2/1");
    fail_unless(gst_norva_video_info_from_caps(&info, k));
    fail_unless_equals_int(GST_VIDEO_INFO_FORMAT(&info.info), GST_VIDEO_FORMAT_UNKNOWN);
    fail_unless(info.info.fps_n == 15 && info.info.fps_d == 1 && info.info.par_n == 2 && info.info.par_d == 1);
    fail_unless(info.info.colorimetry.range == GST_VIDEO_COLOR_RANGE_UNKNOWN &&
                info.info.colorimetry.matrix == GST_VIDEO_COLOR_MATRIX_UNKNOWN);
    gst_caps_unref(k);
}
GST_END_TEST;

GST_START_TEST(video_info_refusals) {
    GstNorvaVideoInfo info;
    gboolean result = TRUE;
    GstCaps *fixed = caps("video/x-raw,format=NV12,width=64,height=48");
    GstCaps *unfixed = caps("video/x-raw,format=NV12,width=[1,64],height=48");
    ASSERT_CRITICAL(gst_norva_video_info_init(nullptr));
    ASSERT_CRITICAL(result = gst_norva_video_info_from_caps(nullptr, fixed));
    fail_if(result);
    result = TRUE;
    ASSERT_CRITICAL(result = gst_norva_video_info_from_caps(&info, nullptr));
    fail_if(result);
    result = TRUE;
    ASSERT_CRITICAL(result = gst_norva_video_info_from_caps(&info, unfixed));
    fail_if(result);
    result = TRUE;
    ASSERT_CRITICAL(
        result = gst_norva_video_info_from_buffer_format(nullptr, buffer_format(YUV_420_PL12_8, MOSAIC_NONE, 64, 48)));
    fail_if(result);
    gst_caps_unref(fixed);
    gst_caps_unref(unfixed);
}
GST_END_TEST;

GST_START_TEST(video_info_from_buffer_format) {
    const struct {
        BufferFormat format;
        gboolean ok;
        int expected;
        GstVideoChromaSite chroma;
        const char *colorimetry; // null: unset
        bool rgb_matrix;
        int par_n, par_d;
    } cases[] = {
        {buffer_format(RGB_888_32, MOSAIC_NONE, 640, 480), TRUE, 4, GST_VIDEO_CHROMA_SITE_UNKNOWN, "bt709", true, 1, 1},
        {buffer_format(BGR_888_24, MOSAIC_NONE, 640, 480), TRUE, 1, GST_VIDEO_CHROMA_SITE_UNKNOWN, "bt709", true, 1, 1},
        {buffer_format(YUV_420_PL12_8, MOSAIC_NONE, 1280, 720, 2.0, true), TRUE, 6, GST_VIDEO_CHROMA_SITE_JPEG, "bt709",
         false, 2, 1},
        {buffer_format(YVU_422_PL12_8, MOSAIC_NONE, 64, 48, 0.5, false, true), TRUE, 9, GST_VIDEO_CHROMA_SITE_MPEG2,
         "bt601", false, 1, 2},
        {buffer_format(PXL_ISP_444IL3YCrCb8, MOSAIC_NONE, 64, 48), TRUE, 5, GST_VIDEO_CHROMA_SITE_UNKNOWN, "bt709",
         false, 1, 1},
        {buffer_format(BAYER_RGGB_10, MOSAIC_GBRG, 320, 240), TRUE, 17, GST_VIDEO_CHROMA_SITE_UNKNOWN, nullptr, false,
         1, 1},
        {buffer_format(BGR_161616_64, MOSAIC_NONE, 64, 48), FALSE, 0, GST_VIDEO_CHROMA_SITE_UNKNOWN, nullptr, false, 1,
         1},
        {buffer_format(PXL_NONE, MOSAIC_NONE, 64, 48), FALSE, 0, GST_VIDEO_CHROMA_SITE_UNKNOWN, nullptr, false, 1, 1},
    };
    for (const auto &c : cases) {
        GstNorvaVideoInfo info;
        gst_norva_video_info_init(&info);
        fail_unless_equals_int(gst_norva_video_info_from_buffer_format(&info, c.format), c.ok);
        if (!c.ok)
            continue;
        fail_unless_equals_int(info.format, c.expected);
        fail_unless_equals_int(info.info.width, c.format.width);
        fail_unless_equals_int(info.info.height, c.format.height);
        fail_unless_equals_int(info.info.chroma_site, c.chroma);
        if (c.colorimetry) {
            GstVideoColorimetry expected;
            fail_unless(gst_video_colorimetry_from_string(&expected, c.colorimetry));
            if (c.rgb_matrix)
                expected.matrix = GST_VIDEO_COLOR_MATRIX_RGB;
            fail_unless(gst_video_colorimetry_is_equal(&info.info.colorimetry, &expected), "colorimetry of %d",
                        c.expected);
            fail_unless(info.info.par_n == c.par_n && info.info.par_d == c.par_d);
        } else {
            fail_unless_equals_int(GST_VIDEO_INFO_FORMAT(&info.info), GST_VIDEO_FORMAT_UNKNOWN);
            fail_unless(info.info.colorimetry.matrix == GST_VIDEO_COLOR_MATRIX_UNKNOWN);
        }
    }
}
GST_END_TEST;

GST_START_TEST(caps_match_buffer_formats) {
    const struct {
        const char *caps;
        BufferFormat format;
        gboolean match;
    } cases[] = {
        // GStreamer reads bt709 for an RGB format with the RGB matrix, as the buffer-format path builds it.
        {"video/x-raw,format=BGRx,width=640,height=480,colorimetry=bt709,framerate=30/1",
         buffer_format(RGB_888_32, MOSAIC_NONE, 640, 480), TRUE},
        // Without colorimetry an RGB format reads as sRGB: another stream.
        {"video/x-raw,format=BGRx,width=640,height=480", buffer_format(RGB_888_32, MOSAIC_NONE, 640, 480), FALSE},
        {"video/x-raw,format=BGRx,width=640,height=480,colorimetry=sRGB",
         buffer_format(RGB_888_32, MOSAIC_NONE, 640, 480), FALSE},
        {"video/x-raw,format=RGBx,width=640,height=480,colorimetry=bt709",
         buffer_format(RGB_888_32, MOSAIC_NONE, 640, 480), FALSE},
        {"video/x-raw,format=BGRx,width=640,height=480,colorimetry=bt709",
         buffer_format(RGB_888_32, MOSAIC_NONE, 640, 360), FALSE},
        {"video/x-raw,format=BGRx,width=640,height=480,colorimetry=bt709,pixel-aspect-ratio=2/1",
         buffer_format(RGB_888_32, MOSAIC_NONE, 640, 480), FALSE},
        {"video/x-raw,format=NV12,width=64,height=48,chroma-site=mpeg2,colorimetry=bt709,framerate=5/1",
         buffer_format(YUV_420_PL12_8, MOSAIC_NONE, 64, 48), TRUE},
        {"video/x-raw,format=NV12,width=64,height=48,chroma-site=jpeg,colorimetry=bt709",
         buffer_format(YUV_420_PL12_8, MOSAIC_NONE, 64, 48), FALSE},
        {"video/x-raw,format=NV12,width=64,height=48,chroma-site=jpeg,colorimetry=bt709",
         buffer_format(YUV_420_PL12_8, MOSAIC_NONE, 64, 48, 1.0, true), TRUE},
        {"video/x-raw,format=NV12,width=64,height=48,chroma-site=mpeg2,colorimetry=bt601",
         buffer_format(YUV_420_PL12_8, MOSAIC_NONE, 64, 48, 1.0, false, true), TRUE},
        {"video/x-bayer,format=gbrg,width=64,height=48,framerate=30/1",
         buffer_format(BAYER_RGGB_8, MOSAIC_GBRG, 64, 48), TRUE},
        {"video/x-bayer,format=gbrg,width=64,height=48", buffer_format(BAYER_RGGB_8, MOSAIC_BGGR, 64, 48), FALSE},
        {"video/x-bayer,format=gbrg,width=64,height=48", buffer_format(BGR_161616_64, MOSAIC_NONE, 64, 48), FALSE},
    };
    for (const auto &c : cases) {
        GstNorvaVideoInfo info;
        gst_norva_video_info_init(&info);
        GstCaps *k = caps(c.caps);
        fail_unless(gst_norva_video_info_from_caps(&info, k), "%s", c.caps);
        fail_unless_equals_int(gst_norva_video_info_match_buffer_format(&info, c.format), c.match);
        gst_caps_unref(k);
    }
}
GST_END_TEST;

GST_START_TEST(allocator_wraps_without_owning) {
    GstAllocator *allocator = gst_norvabuf_allocator_new();
    fail_if(g_object_is_floating(allocator));
    fail_unless_equals_int(GST_OBJECT_REFCOUNT_VALUE(allocator), 1);
    fail_unless(GST_OBJECT_FLAG_IS_SET(allocator, GST_ALLOCATOR_FLAG_CUSTOM_ALLOC));

    std::vector<guint8> data(64);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<guint8>(i);

    GstMemory *mem = gst_norvabuf_allocator_wrap(allocator, GST_MEMORY_FLAG_NO_SHARE, data.data(), data.size());
    fail_unless(gst_memory_is_type(mem, "norvabuf"));
    fail_unless(mem->allocator == allocator && mem->parent == nullptr);
    fail_unless(mem->size == 64 && mem->maxsize == 64 && mem->offset == 0 && mem->align == 0);
    fail_unless(GST_MEMORY_FLAG_IS_SET(mem, GST_MEMORY_FLAG_NO_SHARE));
    GstMapInfo map;
    fail_unless(gst_memory_map(mem, &map, GST_MAP_READ));
    fail_unless(map.data == data.data() && map.size == 64);
    gst_memory_unmap(mem, &map);
    gst_memory_unref(mem);

    // Share: read-only, parent set, offsets add up, same data.
    mem = gst_norvabuf_allocator_wrap(allocator, GstMemoryFlags(0), data.data(), data.size());
    GstMemory *tail = gst_memory_share(mem, 4, -1);
    fail_unless(tail->parent == mem && tail->offset == 4 && tail->size == 60 && tail->maxsize == 64);
    fail_unless(GST_MEMORY_IS_READONLY(tail));
    fail_unless(gst_memory_is_type(tail, "norvabuf"));
    GstMemory *inner = gst_memory_share(tail, 2, 8);
    fail_unless(inner->parent == mem && inner->offset == 6 && inner->size == 8);
    fail_unless(gst_memory_map(inner, &map, GST_MAP_READ));
    fail_unless(map.data == data.data() + 6 && map.size == 8);
    gst_memory_unmap(inner, &map);
    fail_if(gst_memory_map(inner, &map, GST_MAP_WRITE));

    // Spans: adjacent shares of one parent.
    GstMemory *first = gst_memory_share(mem, 0, 16);
    GstMemory *second = gst_memory_share(mem, 16, 16);
    GstMemory *third = gst_memory_share(mem, 40, 8);
    gsize offset = 99;
    fail_unless(gst_memory_is_span(first, second, &offset));
    fail_unless_equals_int(offset, 0);
    fail_if(gst_memory_is_span(second, third, &offset));
    fail_unless_equals_int(offset, 16);

    // Copy: system memory with the bytes; a copy from the end or past it is empty.
    GstMemory *copy = gst_memory_copy(tail, 2, 5);
    fail_if(gst_memory_is_type(copy, "norvabuf"));
    fail_unless(gst_memory_map(copy, &map, GST_MAP_READ));
    fail_unless(map.size == 5 && std::memcmp(map.data, data.data() + 6, 5) == 0);
    gst_memory_unmap(copy, &map);
    gst_memory_unref(copy);
    const gssize empty_offsets[] = {60, 64, 200};
    for (gssize off : empty_offsets) {
        copy = gst_memory_copy(tail, off, -1);
        fail_unless(copy != nullptr);
        fail_unless_equals_int(gst_memory_get_sizes(copy, nullptr, nullptr), 0);
        gst_memory_unref(copy);
    }
    copy = gst_memory_copy(mem, 0, -1);
    fail_unless(gst_memory_map(copy, &map, GST_MAP_READ));
    fail_unless(map.size == 64 && std::memcmp(map.data, data.data(), 64) == 0);
    gst_memory_unmap(copy, &map);
    gst_memory_unref(copy);

    // Freeing every memory leaves the data as it was.
    for (GstMemory *m : {first, second, third, inner, tail, mem})
        gst_memory_unref(m);
    for (size_t i = 0; i < data.size(); ++i)
        fail_unless_equals_int(data[i], i);
    gst_object_unref(allocator);
}
GST_END_TEST;

namespace {
struct Released {
    int calls = 0;
    GstMemory *last = nullptr;
    gsize lastSize = 0;
};
void countRelease(GstMemory *memory, gpointer data) {
    Released *r = static_cast<Released *>(data);
    ++r->calls;
    r->last = memory;
    r->lastSize = memory->size;
}
} // namespace

// Records of freed memories are reused (a steady stream makes none), shares are not kept, and a release function
// runs once when the last reference goes, never again for the record's next memory.
GST_START_TEST(allocator_reuses_records_and_releases) {
    GstAllocator *allocator = gst_norvabuf_allocator_new();
    std::vector<guint8> data(96);
    Released released;
    guint records = 99, free_records = 99;

    GstMemory *mems[3];
    for (int i = 0; i < 3; ++i) {
        mems[i] = gst_norvabuf_allocator_wrap(allocator, GST_MEMORY_FLAG_READONLY, data.data() + 32 * i, 32);
        gst_norvabuf_memory_set_release(mems[i], countRelease, &released);
    }
    gst_norvabuf_allocator_get_records(allocator, &records, &free_records);
    fail_unless_equals_int(records, 3);
    fail_unless_equals_int(free_records, 0);

    GstMemory *share = gst_memory_share(mems[0], 8, 8);
    gst_memory_unref(mems[0]);
    fail_unless_equals_int(released.calls, 0); // the share still holds its parent
    gst_memory_unref(share);
    fail_unless_equals_int(released.calls, 1);
    fail_unless(released.last == mems[0] && released.lastSize == 32);
    gst_memory_unref(mems[2]);
    gst_memory_unref(mems[1]);
    fail_unless_equals_int(released.calls, 3);
    gst_norvabuf_allocator_get_records(allocator, &records, &free_records);
    fail_unless_equals_int(records, 3);
    fail_unless_equals_int(free_records, 3);

    // The next wraps take the freed records, as new memories: fresh data, flags and no release function.
    for (int round = 0; round < 4; ++round) {
        GstMemory *m = gst_norvabuf_allocator_wrap(allocator, GstMemoryFlags(0), data.data() + 16, 48);
        GstMapInfo map;
        fail_unless(gst_memory_map(m, &map, GST_MAP_READ));
        fail_unless(map.data == data.data() + 16 && map.size == 48);
        gst_memory_unmap(m, &map);
        fail_if(GST_MEMORY_IS_READONLY(m));
        fail_unless_equals_int(GST_MINI_OBJECT_REFCOUNT_VALUE(m), 1);
        gst_memory_unref(m);
    }
    gst_norvabuf_allocator_get_records(allocator, &records, &free_records);
    fail_unless_equals_int(records, 3);
    fail_unless_equals_int(free_records, 3);
    fail_unless_equals_int(released.calls, 3);
    gst_object_unref(allocator);
}
GST_END_TEST;

// Memories of GStreamer's dmabuf allocator get their release function through the allocator: one record for all.
GST_START_TEST(release_of_dmabuf_memory) {
    const int fd = memfd_create("norvabuf-release", MFD_CLOEXEC);
    fail_unless(fd >= 0);
    fail_unless(ftruncate(fd, 4096) == 0);
    GstAllocator *allocator = gst_dmabuf_allocator_new();
    Released released;
    for (int i = 0; i < 3; ++i) {
        GstMemory *m = gst_dmabuf_allocator_alloc_with_flags(allocator, fd, 4096, GST_FD_MEMORY_FLAG_DONT_CLOSE);
        fail_unless(m != nullptr);
        gst_norvabuf_memory_set_release(m, countRelease, &released);
        gst_memory_unref(m);
        fail_unless_equals_int(released.calls, i + 1);
        fail_unless(released.last == m && released.lastSize == 4096);
    }
    // A memory without a release function of its own runs none.
    GstMemory *plain = gst_dmabuf_allocator_alloc_with_flags(allocator, fd, 4096, GST_FD_MEMORY_FLAG_DONT_CLOSE);
    gst_memory_unref(plain);
    fail_unless_equals_int(released.calls, 3);
    gst_object_unref(allocator);
    fail_unless(fcntl(fd, F_GETFD) != -1); // the descriptor stays the caller's
    close(fd);
}
GST_END_TEST;

static Suite *video_format_suite() {
    Suite *s = suite_create("norvavideoformat");
    TCase *formats = tcase_create("formats");
    suite_add_tcase(s, formats);
    tcase_add_test(formats, every_format_maps_both_ways);
    tcase_add_test(formats, strings_match_exactly);
    tcase_add_test(formats, mosaic_changes_only_bayer_orders);
    tcase_add_test(formats, pixel_formats_without_a_row_give_nothing);
    tcase_add_test(formats, buffer_types_by_pixel_format);
    TCase *infos = tcase_create("infos");
    suite_add_tcase(s, infos);
    tcase_add_test(infos, video_info_from_caps);
    tcase_add_test(infos, video_info_refusals);
    tcase_add_test(infos, video_info_from_buffer_format);
    tcase_add_test(infos, caps_match_buffer_formats);
    TCase *allocator = tcase_create("allocator");
    suite_add_tcase(s, allocator);
    tcase_add_test(allocator, allocator_wraps_without_owning);
    tcase_add_test(allocator, allocator_reuses_records_and_releases);
    tcase_add_test(allocator, release_of_dmabuf_memory);
    return s;
}

GST_CHECK_MAIN(video_format);
