#include "gstnorvasrcprops.h"

#include <cmath>
#include <cstring>

namespace {

#define FIELD(member) offsetof(NorvasrcProperties, member)

// The 61 properties by id: name, nick, blurb, kind, enumeration, minimum, maximum, default, writable,
// mutability, value, linear companion, setter and its debug message, interface, context.
const PropertyDef kProperties[] = {
    {1, "context", "Context", "Context number", PropertyKind::UInt, nullptr, 0, 1, 0, true, Mutability::Null,
     FIELD(context), kNoField, "gst_norvasrc_set_context_number", "Context number is %u", MessageKind::UInt, false, -1},
    {2, "dmabuf-fd-list", "List of DMA buffer descriptors", "List of YUV DMA buffer file descriptors",
     PropertyKind::FdList, nullptr, 0, G_MAXINT, 0, false, Mutability::None, FIELD(dmabuf_fd_list), kNoField, nullptr,
     nullptr, MessageKind::None, true, -1},
    {3, "dmabuf-size", "DMA buffer size", "Size of each DMA buffer in bytes", PropertyKind::UInt, nullptr, 0, G_MAXUINT,
     0, false, Mutability::None, FIELD(dmabuf_size), kNoField, nullptr, nullptr, MessageKind::None, true, -1},
    {4, "awb-enable", "Enable AWB", "Enable automatic white balance", PropertyKind::Boolean, nullptr, 0, 0, 0, true,
     Mutability::Playing, FIELD(awb_enable), kNoField, "gst_norvasrc_awb_enable", "Auto white balance is %s",
     MessageKind::EnabledDisabled, false, -1},
    {5, "denoiser-level", "Denoiser level", "Denoiser level", PropertyKind::Float, nullptr, 0.0, 1.0, 0.5, true,
     Mutability::Playing, FIELD(denoiser_level), kNoField, "gst_norvasrc_set_denoiser_level", "Denoiser level is %g",
     MessageKind::Float, false, -1},
    {6, "red-balance", "Red balance", "Red balance", PropertyKind::Float, nullptr, 0.1, 10.0, 1.0, true,
     Mutability::Playing, FIELD(red_balance), kNoField, "gst_norvasrc_set_red_balance", "Red balance is %g",
     MessageKind::Float, false, -1},
    {7, "blue-balance", "Blue balance", "Blue balance", PropertyKind::Float, nullptr, 0.1, 10.0, 1.0, true,
     Mutability::Playing, FIELD(blue_balance), kNoField, "gst_norvasrc_set_blue_balance", "Blue balance is %g",
     MessageKind::Float, false, -1},
    {8, "brightness", "Brightness", "Brightness", PropertyKind::Float, nullptr, -1.0, 1.0, 0.0, true,
     Mutability::Playing, FIELD(brightness), kNoField, "gst_norvasrc_set_brightness", "Brightness is %g",
     MessageKind::Float, false, -1},
    {9, "contrast", "Contrast", "Contrast", PropertyKind::Float, nullptr, 0.0, 16.0, 1.0, true, Mutability::Playing,
     FIELD(contrast), kNoField, "gst_norvasrc_set_contrast", "Contrast is %g", MessageKind::Float, false, -1},
    {10, "saturation", "Saturation", "Colour saturation", PropertyKind::Float, nullptr, 0.0, 16.0, 1.0, true,
     Mutability::Playing, FIELD(saturation), kNoField, "gst_norvasrc_set_saturation", "Colour saturation is %g",
     MessageKind::Float, false, -1},
    {11, "sharpness", "Sharpness", "Sharpness", PropertyKind::Float, nullptr, 0.0, 1.0, 0.5, true, Mutability::Playing,
     FIELD(sharpness), kNoField, "gst_norvasrc_set_sharpness", "Sharpness is %g", MessageKind::Float, false, -1},
    {12, "ff-mode", "Flicker free mode", "Flicker free mode", PropertyKind::Enum,
     gst_norvasrc_flicker_free_mode_get_type, 0, 0, 0, true, Mutability::Playing, FIELD(ff_mode), kNoField,
     "gst_norvasrc_set_ff_mode", "Flicker free mode is '%s'", MessageKind::EnumNick, false, -1},
    {13, "night-mode", "Night mode", "Enable night mode", PropertyKind::Boolean, nullptr, 0, 0, 0, true,
     Mutability::Playing, FIELD(night_mode), kNoField, "gst_norvasrc_enable_night_mode", "Night mode is %s",
     MessageKind::EnabledDisabled, false, -1},
    {14, "wavelength", "Light wavelength",
     "Light wavelength in micrometers which is used by auto exposure to control iris", PropertyKind::Float, nullptr,
     0.2, 1.0, 0.55, true, Mutability::Playing, FIELD(wavelength), kNoField, "gst_norvasrc_set_wavelength",
     "Wavelength is %f", MessageKind::Float, false, -1},
    {15, "buf-mode", "Buffer mode", "Buffer mode", PropertyKind::Enum, gst_norvasrc_buffer_mode_get_type, 0, 0, 0, true,
     Mutability::Paused, FIELD(buf_mode), kNoField, "gst_norvasrc_set_buf_mode", "Buffer mode is '%s'",
     MessageKind::EnumNick, true, -1},
    {16, "alloc-buffers", "Number of buffers to allocate", "Number of buffers to allocate", PropertyKind::UInt, nullptr,
     1, G_MAXUINT, 3, true, Mutability::Null, FIELD(alloc_buffers), kNoField, "gst_norvasrc_set_alloc_buffers",
     "Number of buffers to allocate is %u", MessageKind::UInt, false, -1},
    {17, "awb-algorithm", "AWB algorithm", "White balance control algorithm", PropertyKind::Enum,
     gst_norvasrc_awb_algorithm_get_type, 0, 0, 1, true, Mutability::Null, FIELD(awb_algorithm), kNoField,
     "gst_norvasrc_set_awb_algorithm", "AWB algorithm is '%s'", MessageKind::EnumNick, false, -1},
    {18, "awb-mode", "AWB mode", "White balance correction mode", PropertyKind::Enum, gst_norvasrc_awb_mode_get_type, 0,
     0, 1, true, Mutability::Playing, FIELD(awb_mode), kNoField, "gst_norvasrc_set_awb_mode", "AWB mode is '%s'",
     MessageKind::EnumNick, false, -1},
    {19, "awb-measured-temperature", "Measured temperature",
     "Temperature which is measured by auto-white balance module", PropertyKind::Float, nullptr, 0.0, 100000.0, 0.0,
     false, Mutability::Playing, FIELD(awb_measured_temperature), kNoField, nullptr, nullptr, MessageKind::None, false,
     -1},
    {20, "exposure-auto", "Enable AE", "Enable automatic exposure", PropertyKind::Boolean, nullptr, 0, 0, 1, true,
     Mutability::Playing, FIELD(exposure_auto), kNoField, "gst_norvasrc_set_exposure_auto", "Auto exposure is %s",
     MessageKind::EnabledDisabled, false, -1},
    {21, "exposure-gain", "Sensor gain (dB)", "Sensor gain (dB)", PropertyKind::Gain, nullptr, 0.0, 100.0, 0.0, true,
     Mutability::Playing, FIELD(exposure_gain), FIELD(exposure_gain_linear), "gst_norvasrc_set_exposure_gain",
     "Exposure gain is %g (%g dB)", MessageKind::Gain, false, -1},
    {22, "exposure-time", "Exposure time (us)", "Exposure time (us)", PropertyKind::UInt, nullptr, 0, G_MAXUINT, 0,
     true, Mutability::Playing, FIELD(exposure_time), kNoField, "gst_norvasrc_set_exposure_time",
     "Exposure time is %u us", MessageKind::UInt, false, -1},
    {23, "exposure-time-step", "Exposure time step (us)", "Exposure time step (us)", PropertyKind::UInt, nullptr, 0,
     G_MAXUINT, 1, true, Mutability::Playing, FIELD(exposure_time_step), kNoField,
     "gst_norvasrc_set_exposure_time_step", "Exposure time step is %u us", MessageKind::UInt, false, -1},
    {24, "preenq-buffers", "Number of buffers to pre-enqueue", "Number of buffers to enqueue preliminarily",
     PropertyKind::UInt, nullptr, 0, G_MAXUINT, 1, true, Mutability::Null, FIELD(preenq_buffers), kNoField,
     "gst_norvasrc_set_preenq_buffers", "Number of buffers to pre-enqueue is %u", MessageKind::UInt, false, -1},
    {25, "sensor", "Sensor name", "Sensor name", PropertyKind::String, nullptr, 0, 0, 0, true, Mutability::Null,
     FIELD(sensor), kNoField, "gst_norvasrc_set_sensor", "Sensor name is %s", MessageKind::String, false, -1},
    {26, "sensor-flip", "Sensor flip", "Sensor flip", PropertyKind::Enum, gst_norvasrc_sensor_flip_get_type, 0, 0, 0,
     true, Mutability::Null, FIELD(sensor_flip), kNoField, "gst_norvasrc_set_sensor_flip", "Sensor flip is '%s'",
     MessageKind::EnumNick, false, -1},
    {27, "sensor-mode", "Sensor mode", "Sensor mode", PropertyKind::UInt, nullptr, 0, G_MAXUINT, 0, true,
     Mutability::Null, FIELD(sensor_mode), kNoField, "gst_norvasrc_set_sensor_mode", "Sensor mode is %u",
     MessageKind::UInt, false, -1},
    {28, "setup-file", "Setup file(s)", "Setup file (or files delimited by colon) with ISP Norva settings",
     PropertyKind::String, nullptr, 0, 0, 0, true, Mutability::Null, FIELD(setup_file), kNoField,
     "gst_norvasrc_set_setup_file", "Setup file is %s", MessageKind::String, false, -1},
    {29, "setup-file-ctx%d", "Context %d extra setup file(s)", "Additional setup file(s) for context %d",
     PropertyKind::String, nullptr, 0, 0, 0, true, Mutability::Null, FIELD(setup_file_ctx[0]), kNoField,
     "gst_norvasrc_set_setup_file_ctx", "Context %u extra setup file is %s", MessageKind::ContextString, false, 0},
    {30, "setup-file-ctx%d", "Context %d extra setup file(s)", "Additional setup file(s) for context %d",
     PropertyKind::String, nullptr, 0, 0, 0, true, Mutability::Null, FIELD(setup_file_ctx[1]), kNoField,
     "gst_norvasrc_set_setup_file_ctx", "Context %u extra setup file is %s", MessageKind::ContextString, false, 1},
    {31, "use-dmabuf", "Use DMA buffers", "Use DMA buffers", PropertyKind::Boolean, nullptr, 0, 0, 1, true,
     Mutability::Null, FIELD(use_dmabuf), kNoField, "gst_norvasrc_use_dmabuf", "Using of DMA buffers is %s",
     MessageKind::EnabledDisabled, false, -1},
    {32, "use-mapped-dmabuf", "Use mmaped DMA buffers", "DMA buffers will be mmaped and will look like ordinal buffers",
     PropertyKind::Boolean, nullptr, 0, 0, 0, true, Mutability::Null, FIELD(use_mapped_dmabuf), kNoField,
     "gst_norvasrc_use_mmaped_dmabuf", "Using of mmaped DMA buffers is %s", MessageKind::EnabledDisabled, false, -1},
    {33, "exposure-min-gain", "Minimum sensor gain (dB)", "Minimum sensor gain (dB)", PropertyKind::Float, nullptr, 0.0,
     100.0, 0.0, false, Mutability::None, FIELD(exposure_min_gain), kNoField, nullptr, nullptr, MessageKind::None,
     false, -1},
    {34, "exposure-max-gain", "Maximum sensor gain (dB)", "Maximum sensor gain (dB)", PropertyKind::Float, nullptr, 0.0,
     100.0, 0.0, false, Mutability::None, FIELD(exposure_max_gain), kNoField, nullptr, nullptr, MessageKind::None,
     false, -1},
    {35, "exposure-min-time", "Minimum exposure time (us)", "Minimum exposure time (us)", PropertyKind::UInt, nullptr,
     0, G_MAXUINT, 0, false, Mutability::None, FIELD(exposure_min_time), kNoField, nullptr, nullptr, MessageKind::None,
     false, -1},
    {36, "exposure-max-time", "Maximum exposure time (us)", "Maximum exposure time (us)", PropertyKind::UInt, nullptr,
     0, G_MAXUINT, 0, false, Mutability::None, FIELD(exposure_max_time), kNoField, nullptr, nullptr, MessageKind::None,
     false, -1},
    {37, "exposure-auto-level", "AE target brightness", "Target brightness in auto exposure mode", PropertyKind::Float,
     nullptr, -1.0, 1.0, 0.0, true, Mutability::Playing, FIELD(exposure_auto_level), kNoField,
     "gst_norvasrc_set_ae_level", "AE level (target brightness) is %g", MessageKind::Float, false, -1},
    {38, "exposure-auto-min-gain", "AE minimum sensor gain (dB)", "Minimum sensor gain in auto exposure mode (dB)",
     PropertyKind::Gain, nullptr, 0.0, 100.0, 0.0, true, Mutability::Playing, FIELD(exposure_auto_min_gain),
     FIELD(exposure_auto_min_gain_linear), "gst_norvasrc_set_ae_min_gain", "AE minimum sensor gain is %g (%g dB)",
     MessageKind::Gain, false, -1},
    {39, "exposure-auto-max-gain", "AE maximum sensor gain (dB)", "Maximum sensor gain in auto exposure mode (dB)",
     PropertyKind::Gain, nullptr, 0.0, 100.0, 100.0, true, Mutability::Playing, FIELD(exposure_auto_max_gain),
     FIELD(exposure_auto_max_gain_linear), "gst_norvasrc_set_ae_max_gain", "AE maximum sensor gain is %g (%g dB)",
     MessageKind::Gain, false, -1},
    {40, "exposure-auto-min-time", "AE minimum exposure time (us)", "Minimum exposure time in auto exposure mode (us)",
     PropertyKind::UInt, nullptr, 0, G_MAXUINT, 0, true, Mutability::Playing, FIELD(exposure_auto_min_time), kNoField,
     "gst_norvasrc_set_ae_min_time", "AE minimum exposure time is %u", MessageKind::UInt, false, -1},
    {41, "exposure-auto-max-time", "AE maximum exposure time (us)", "Maximum exposure time in auto exposure mode (us)",
     PropertyKind::UInt, nullptr, 0, G_MAXUINT, G_MAXUINT, true, Mutability::Playing, FIELD(exposure_auto_max_time),
     kNoField, "gst_norvasrc_set_ae_max_time", "AE maximum exposure time is %u", MessageKind::UInt, false, -1},
    {42, "exposure-auto-target-time", "AE target time (us)",
     "Exposure target time in auto exposure mode (us). 0 means 1/FPS of the sensor", PropertyKind::UInt, nullptr, 0,
     G_MAXUINT, 0, true, Mutability::Playing, FIELD(exposure_auto_target_time), kNoField,
     "gst_norvasrc_set_ae_target_time", "AE target exposure time is %u", MessageKind::UInt, false, -1},
    {43, "exposure-auto-priority", "Autoexposure priority", "Autoexposure priority", PropertyKind::Enum,
     gst_norvasrc_ae_priority_get_type, 0, 0, 0, true, Mutability::Playing, FIELD(exposure_auto_priority), kNoField,
     "gst_norvasrc_set_ae_priority", "Autoexposure priority is '%s'", MessageKind::EnumNick, false, -1},
    {44, "exposure-auto-window-bottom", "AE window bottom", "Bottom y-coordinate of rectangular exposure window",
     PropertyKind::Float, nullptr, -1.0, 1.0, -1.0, true, Mutability::Playing, FIELD(exposure_auto_window_bottom),
     kNoField, "gst_norvasrc_set_ae_window_bottom", "AE window bottom is %g", MessageKind::Float, false, -1},
    {45, "exposure-auto-window-left", "AE window left", "Left x-coordinate of rectangular exposure window",
     PropertyKind::Float, nullptr, -1.0, 1.0, -1.0, true, Mutability::Playing, FIELD(exposure_auto_window_left),
     kNoField, "gst_norvasrc_set_ae_window_left", "AE window left is %g", MessageKind::Float, false, -1},
    {46, "exposure-auto-window-right", "AE window right", "Right x-coordinate of rectangular exposure window",
     PropertyKind::Float, nullptr, -1.0, 1.0, 1.0, true, Mutability::Playing, FIELD(exposure_auto_window_right),
     kNoField, "gst_norvasrc_set_ae_window_right", "AE window right is %g", MessageKind::Float, false, -1},
    {47, "exposure-auto-window-top", "AE window top", "Top y-coordinate of rectangular exposure window",
     PropertyKind::Float, nullptr, -1.0, 1.0, 1.0, true, Mutability::Playing, FIELD(exposure_auto_window_top), kNoField,
     "gst_norvasrc_set_ae_window_top", "AE window top is %g", MessageKind::Float, false, -1},
    {48, "bounds-x", "x-coordinate of frame left bound", "x-coordinate of frame left bound in px", PropertyKind::Int,
     nullptr, G_MININT, G_MAXINT, 0, false, Mutability::None, FIELD(bounds.x), kNoField, nullptr, nullptr,
     MessageKind::None, true, -1},
    {49, "bounds-y", "y-coordinate of frame bottom bound", "y-coordinate of frame bottom bound in px",
     PropertyKind::Int, nullptr, G_MININT, G_MAXINT, 0, false, Mutability::None, FIELD(bounds.y), kNoField, nullptr,
     nullptr, MessageKind::None, true, -1},
    {50, "bounds-width", "Width of frame", "Width of frame in px", PropertyKind::UInt, nullptr, 0, G_MAXUINT, G_MAXUINT,
     false, Mutability::None, FIELD(bounds.width), kNoField, nullptr, nullptr, MessageKind::None, true, -1},
    {51, "bounds-height", "Height of frame", "Height of frame in px", PropertyKind::UInt, nullptr, 0, G_MAXUINT,
     G_MAXUINT, false, Mutability::None, FIELD(bounds.height), kNoField, nullptr, nullptr, MessageKind::None, true, -1},
    {52, "blc-auto", "BLC auto", "Enable automatic backlight compensation", PropertyKind::Boolean, nullptr, 0, 0, 0,
     true, Mutability::Playing, FIELD(blc_auto), kNoField, "gst_norvasrc_set_blc_auto", "BLC auto is %s",
     MessageKind::EnabledDisabled, false, -1},
    {53, "blc-level", "BLC level", "Backlight compensation level", PropertyKind::Float, nullptr, 0.0, 1.0, 0.0, true,
     Mutability::Playing, FIELD(blc_level), kNoField, "gst_norvasrc_set_blc_level", "BLC level is %g",
     MessageKind::Float, false, -1},
    {54, "restart-on-error", "Restart on error", "Restart capture when erroneous shot is acquired",
     PropertyKind::Boolean, nullptr, 0, 0, 0, true, Mutability::Playing, FIELD(restart_on_error), kNoField,
     "gst_norvasrc_set_restart_on_error", "Restart on error is %s", MessageKind::EnabledDisabled, false, -1},
    {55, "measured-fvalue", "Measured focus value", "Measured focus value", PropertyKind::Float, nullptr, 0.0,
     G_MAXFLOAT, 0.0, false, Mutability::Playing, FIELD(measured_fvalue), kNoField, nullptr, nullptr, MessageKind::None,
     false, -1},
    {56, "add-histogram-meta", "Add histogram to metadata", "Add brightness histogram to metadata",
     PropertyKind::Boolean, nullptr, 0, 0, 0, true, Mutability::Playing, FIELD(add_histogram_meta), kNoField,
     "gst_norvasrc_set_add_histogram_meta", "Add histogram to metadata: %s", MessageKind::YesNo, false, -1},
    {57, "exposure-auto-target-gain", "AE target sensor gain (dB)", "Target gain in auto exposure mode (dB)",
     PropertyKind::Gain, nullptr, 0.0, 100.0, 0.0, true, Mutability::Playing, FIELD(exposure_auto_target_gain),
     FIELD(exposure_auto_target_gain_linear), "gst_norvasrc_set_ae_target_gain", "AE target sensor gain is %g (%g dB)",
     MessageKind::Gain, false, -1},
    {58, "wait-release", "Wait buffers to release", "Wait buffers to release during stop", PropertyKind::Boolean,
     nullptr, 0, 0, 0, true, Mutability::Null, FIELD(wait_release), kNoField, "gst_norvasrc_set_wait_release",
     "Wait on release is %s", MessageKind::EnabledDisabled, false, -1},
    {59, "gma-enable", "Enable gma", "Enable gma correction", PropertyKind::Boolean, nullptr, 0, 0, 1, true,
     Mutability::Null, FIELD(gma_enable), kNoField, "gst_norvasrc_set_gma_enable", "GMA is %s",
     MessageKind::EnabledDisabled, false, -1},
    {60, "wdr-auto", "WDR auto", "Enable automatic local tone mapping", PropertyKind::Boolean, nullptr, 0, 0, 0, true,
     Mutability::Playing, FIELD(wdr_auto), kNoField, "gst_norvasrc_set_wdr_auto", "WDR auto is %s",
     MessageKind::EnabledDisabled, false, -1},
    {61, "wdr-level", "WDR level", "Local tone mapping strength", PropertyKind::Float, nullptr, 0.0, 1.0, 0.0, true,
     Mutability::Playing, FIELD(wdr_level), kNoField, "gst_norvasrc_set_wdr_level", "WDR level is %g",
     MessageKind::Float, false, -1},
};

#undef FIELD

static_assert(sizeof(kProperties) / sizeof(kProperties[0]) == PROP_LAST, "one row per property id");

// Installation order of the two interfaces.
const guint kPropsOrder[] = {
    PROP_CONTEXT,
    PROP_AWB_ENABLE,
    PROP_RED_BALANCE,
    PROP_BLUE_BALANCE,
    PROP_BRIGHTNESS,
    PROP_CONTRAST,
    PROP_SATURATION,
    PROP_SHARPNESS,
    PROP_FF_MODE,
    PROP_EXPOSURE_AUTO_PRIORITY,
    PROP_NIGHT_MODE,
    PROP_WAVELENGTH,
    PROP_ALLOC_BUFFERS,
    PROP_AWB_ALGORITHM,
    PROP_AWB_MODE,
    PROP_AWB_MEASURED_TEMPERATURE,
    PROP_DENOISER_LEVEL,
    PROP_EXPOSURE_AUTO,
    PROP_EXPOSURE_GAIN,
    PROP_EXPOSURE_TIME,
    PROP_EXPOSURE_TIME_STEP,
    PROP_PREENQ_BUFFERS,
    PROP_SENSOR,
    PROP_SENSOR_FLIP,
    PROP_SENSOR_MODE,
    PROP_SETUP_FILE,
    PROP_SETUP_FILE_CTX0,
    PROP_SETUP_FILE_CTX1,
    PROP_USE_DMABUF,
    PROP_USE_MAPPED_DMABUF,
    PROP_EXPOSURE_MIN_GAIN,
    PROP_EXPOSURE_MAX_GAIN,
    PROP_EXPOSURE_MIN_TIME,
    PROP_EXPOSURE_MAX_TIME,
    PROP_EXPOSURE_AUTO_LEVEL,
    PROP_EXPOSURE_AUTO_MIN_GAIN,
    PROP_EXPOSURE_AUTO_MAX_GAIN,
    PROP_EXPOSURE_AUTO_MIN_TIME,
    PROP_EXPOSURE_AUTO_MAX_TIME,
    PROP_EXPOSURE_AUTO_TARGET_TIME,
    PROP_EXPOSURE_AUTO_WINDOW_BOTTOM,
    PROP_EXPOSURE_AUTO_WINDOW_LEFT,
    PROP_EXPOSURE_AUTO_WINDOW_RIGHT,
    PROP_EXPOSURE_AUTO_WINDOW_TOP,
    PROP_BLC_AUTO,
    PROP_BLC_LEVEL,
    PROP_RESTART_ON_ERROR,
    PROP_MEASURED_FVALUE,
    PROP_ADD_HISTOGRAM_META,
    PROP_EXPOSURE_AUTO_TARGET_GAIN,
    PROP_WAIT_RELEASE,
    PROP_GMA_ENABLE,
    PROP_WDR_AUTO,
    PROP_WDR_LEVEL,
};
const guint kPadPropsOrder[] = {
    PROP_BUF_MODE, PROP_DMABUF_FD_LIST, PROP_DMABUF_SIZE,   PROP_BOUNDS_X,
    PROP_BOUNDS_Y, PROP_BOUNDS_WIDTH,   PROP_BOUNDS_HEIGHT,
};
static_assert(sizeof(kPropsOrder) / sizeof(kPropsOrder[0]) + sizeof(kPadPropsOrder) / sizeof(kPadPropsOrder[0]) ==
                  PROP_LAST,
              "every property in one interface");

template <typename T> T &at(NorvasrcProperties &store, size_t offset) {
    return *reinterpret_cast<T *>(reinterpret_cast<char *>(&store) + offset);
}
template <typename T> const T &at(const NorvasrcProperties &store, size_t offset) {
    return *reinterpret_cast<const T *>(reinterpret_cast<const char *>(&store) + offset);
}

GParamFlags param_flags(const PropertyDef &def, bool static_strings) {
    guint flags = def.writable ? G_PARAM_READWRITE : G_PARAM_READABLE;
    if (static_strings)
        flags |= G_PARAM_STATIC_STRINGS;
    switch (def.mutability) {
    case Mutability::Playing:
        flags |= GST_PARAM_MUTABLE_PLAYING | GST_PARAM_CONTROLLABLE;
        break;
    case Mutability::Paused:
        flags |= GST_PARAM_MUTABLE_PAUSED;
        break;
    case Mutability::Null:
    case Mutability::None:
        break;
    }
    return static_cast<GParamFlags>(flags);
}

GParamSpec *make_param_spec(const PropertyDef &def, const char *name, const char *nick, const char *blurb,
                            bool static_strings) {
    GParamFlags flags = param_flags(def, static_strings);
    switch (def.kind) {
    case PropertyKind::Boolean:
        return g_param_spec_boolean(name, nick, blurb, def.default_value != 0.0, flags);
    case PropertyKind::UInt:
        return g_param_spec_uint(name, nick, blurb, static_cast<guint>(def.minimum), static_cast<guint>(def.maximum),
                                 static_cast<guint>(def.default_value), flags);
    case PropertyKind::Int:
        return g_param_spec_int(name, nick, blurb, static_cast<gint>(def.minimum), static_cast<gint>(def.maximum),
                                static_cast<gint>(def.default_value), flags);
    case PropertyKind::Float:
    case PropertyKind::Gain:
        return g_param_spec_float(name, nick, blurb, static_cast<gfloat>(def.minimum), static_cast<gfloat>(def.maximum),
                                  static_cast<gfloat>(def.default_value), flags);
    case PropertyKind::Enum:
        return g_param_spec_enum(name, nick, blurb, def.enum_type(), static_cast<gint>(def.default_value), flags);
    case PropertyKind::String:
        return g_param_spec_string(name, nick, blurb, nullptr, flags);
    case PropertyKind::FdList:
        return gst_param_spec_array(
            name, nick, blurb,
            g_param_spec_int("fd", "File descriptor", "DMA buffer file descriptor", 0, G_MAXINT, 0,
                             static_cast<GParamFlags>(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS)),
            flags);
    }
    return nullptr;
}

void install_properties(gpointer iface, const guint *ids, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        const PropertyDef &def = kProperties[ids[i] - 1];
        if (def.context < 0) {
            g_object_interface_install_property(iface, make_param_spec(def, def.name, def.nick, def.blurb, true));
            continue;
        }
        // The per-context properties are named at run time; their GParamSpecs copy the strings.
        gchar *name = g_strdup_printf(def.name, def.context);
        gchar *nick = g_strdup_printf(def.nick, def.context);
        gchar *blurb = g_strdup_printf(def.blurb, def.context);
        g_object_interface_install_property(iface, make_param_spec(def, name, nick, blurb, false));
        g_free(name);
        g_free(nick);
        g_free(blurb);
    }
}

GType register_enum(const gchar *name, const GEnumValue *values) { return g_enum_register_static(name, values); }

} // namespace

G_DEFINE_INTERFACE(GstNorvasrcProps, gst_norvasrc_props, G_TYPE_INVALID)
G_DEFINE_INTERFACE(GstNorvasrcPadProps, gst_norvasrc_pad_props, G_TYPE_INVALID)

static void gst_norvasrc_props_default_init(GstNorvasrcPropsInterface *iface) {
    install_properties(iface, kPropsOrder, G_N_ELEMENTS(kPropsOrder));
}

static void gst_norvasrc_pad_props_default_init(GstNorvasrcPadPropsInterface *iface) {
    install_properties(iface, kPadPropsOrder, G_N_ELEMENTS(kPadPropsOrder));
}

void gst_norvasrc_props_init(GstNorvasrcPropsInterface *) {}

void gst_norvasrc_pad_props_init(GstNorvasrcPadPropsInterface *) {}

#define NORVASRC_ENUM_TYPE(function, type_name, ...)                                                                   \
    GType function(void) {                                                                                             \
        static gsize type = 0;                                                                                         \
        if (g_once_init_enter(&type)) {                                                                                \
            static const GEnumValue values[] = {__VA_ARGS__, {0, nullptr, nullptr}};                                   \
            g_once_init_leave(&type, register_enum(type_name, values));                                                \
        }                                                                                                              \
        return static_cast<GType>(type);                                                                               \
    }

NORVASRC_ENUM_TYPE(gst_norvasrc_flicker_free_mode_get_type, "GstNorvasrcFlickerFreeMode",
                   {GST_NORVASRC_FF_OFF, "Flicker free is off", "OFF"},
                   {GST_NORVASRC_FF_FREE50, "50 Hz flicker free", "FREE50"},
                   {GST_NORVASRC_FF_FREE60, "60 Hz flicker free", "FREE60"},
                   {GST_NORVASRC_FF_AUTO, "Auto flicker free", "AUTO"})

NORVASRC_ENUM_TYPE(gst_norvasrc_ae_priority_get_type, "GstNorvasrcAePriorityMode",
                   {GST_NORVASRC_AE_PRIORITY_LOW_NOISE, "Low-noise priority for autoexposure", "low-noise"},
                   {GST_NORVASRC_AE_PRIORITY_FRAME_RATE, "Framerate priority for autoexposure", "frame-rate"},
                   {GST_NORVASRC_AE_PRIORITY_TARGET_GAIN, "Use autoexposure target gain", "target-gain"})

NORVASRC_ENUM_TYPE(gst_norvasrc_buffer_mode_get_type, "GstNorvasrcBufferMode",
                   {GST_NORVASRC_BUFFER_MODE_PASS, "Send buffers as is", "pass"},
                   {GST_NORVASRC_BUFFER_MODE_QUERY, "Send dmabuf query before sending buffers", "query"},
                   {GST_NORVASRC_BUFFER_MODE_COPY, "Copy buffers", "copy"},
                   {GST_NORVASRC_BUFFER_MODE_EVENT, "Send pool information through custom event dmabuf_event", "event"})

NORVASRC_ENUM_TYPE(gst_norvasrc_awb_algorithm_get_type, "GstNorvasrcAwbAlgorithm",
                   {GST_NORVASRC_AWB_ALGORITHM_NORMAL, "Normal algorithm", "normal"},
                   {GST_NORVASRC_AWB_ALGORITHM_PID, "PID control algorithm", "pid"},
                   {GST_NORVASRC_AWB_ALGORITHM_PLANCKIAN, "Planckian locus algorithm", "planckian"})

NORVASRC_ENUM_TYPE(gst_norvasrc_awb_mode_get_type, "GstNorvasrcAwbMode",
                   {GST_NORVASRC_AWB_MODE_AVERAGE, "Average colour", "average"},
                   {GST_NORVASRC_AWB_MODE_WHITE, "White patch", "white"},
                   {GST_NORVASRC_AWB_MODE_HIGH_LUM, "High luminance white", "high-lum"},
                   {GST_NORVASRC_AWB_MODE_COMBINED, "Combined", "combined"})

NORVASRC_ENUM_TYPE(gst_norvasrc_sensor_flip_get_type, "GstNorvasrcSensorFlip",
                   {GST_NORVASRC_FLIP_NONE, "No flipping", "none"},
                   {GST_NORVASRC_FLIP_HORIZONTAL, "Horizontal flip", "horizontal"},
                   {GST_NORVASRC_FLIP_VERTICAL, "Vertical flip", "vertical"},
                   {GST_NORVASRC_FLIP_BOTH, "Horizontal and vertical flip", "both"})

#undef NORVASRC_ENUM_TYPE

void gst_norva_bounds_init(BufferFrameBounds *bounds) {
    bounds->x = 0;
    bounds->y = 0;
    bounds->width = G_MAXUINT;
    bounds->height = G_MAXUINT;
}

const gchar *enum_value_nick(GType type, gint value) {
    GEnumClass *klass = static_cast<GEnumClass *>(g_type_class_ref(type));
    GEnumValue *v = g_enum_get_value(klass, value);
    const gchar *nick = v ? v->value_nick : nullptr;
    g_type_class_unref(klass);
    return nick;
}

const PropertyDef *norvasrc_property_def(guint id) {
    if (id < 1 || id > PROP_LAST)
        return nullptr;
    return &kProperties[id - 1];
}

void norvasrc_properties_override(GObjectClass *klass) {
    for (const PropertyDef &def : kProperties) {
        if (def.context < 0) {
            g_object_class_override_property(klass, def.id, def.name);
            continue;
        }
        gchar *name = g_strdup_printf(def.name, def.context);
        g_object_class_override_property(klass, def.id, name);
        g_free(name);
    }
}

static gfloat linear_gain(gfloat db) { return static_cast<gfloat>(std::pow(10.0, static_cast<double>(db / 20.0f))); }

void norvasrc_properties_init(NorvasrcProperties &store) {
    std::memset(static_cast<void *>(&store), 0, sizeof store);
    for (const PropertyDef &def : kProperties) {
        switch (def.kind) {
        case PropertyKind::Boolean:
            at<gboolean>(store, def.field) = def.default_value != 0.0;
            break;
        case PropertyKind::UInt:
            at<guint>(store, def.field) = static_cast<guint>(def.default_value);
            break;
        case PropertyKind::Int:
        case PropertyKind::Enum:
            at<gint>(store, def.field) = static_cast<gint>(def.default_value);
            break;
        case PropertyKind::Gain:
            at<gfloat>(store, def.linear) = linear_gain(static_cast<gfloat>(def.default_value));
            at<gfloat>(store, def.field) = static_cast<gfloat>(def.default_value);
            break;
        case PropertyKind::Float:
            at<gfloat>(store, def.field) = static_cast<gfloat>(def.default_value);
            break;
        case PropertyKind::String:
            at<gchar *>(store, def.field) = nullptr;
            break;
        case PropertyKind::FdList:
            g_value_init(&at<GValue>(store, def.field), GST_TYPE_ARRAY);
            break;
        }
    }
    // Focus window: bottom, left, right, top.
    store.focus_window[0] = -1.0f;
    store.focus_window[1] = -1.0f;
    store.focus_window[2] = 1.0f;
    store.focus_window[3] = 1.0f;
    store.changed.fill(0);
    store.serial = 0;
}

void norvasrc_properties_clear(NorvasrcProperties &store) {
    for (const PropertyDef &def : kProperties) {
        if (def.kind == PropertyKind::String) {
            g_free(at<gchar *>(store, def.field));
            at<gchar *>(store, def.field) = nullptr;
        } else if (def.kind == PropertyKind::FdList && G_IS_VALUE(&at<GValue>(store, def.field))) {
            g_value_unset(&at<GValue>(store, def.field));
        }
    }
}

bool norvasrc_property_mutable_in(const GParamSpec *pspec, GstState state) {
    const guint flags = pspec->flags;
    switch (state) {
    case GST_STATE_VOID_PENDING:
    case GST_STATE_NULL:
        return true;
    case GST_STATE_READY:
        return (flags & (GST_PARAM_MUTABLE_READY | GST_PARAM_MUTABLE_PAUSED | GST_PARAM_MUTABLE_PLAYING)) != 0;
    case GST_STATE_PAUSED:
        return (flags & (GST_PARAM_MUTABLE_PAUSED | GST_PARAM_MUTABLE_PLAYING)) != 0;
    case GST_STATE_PLAYING:
        return (flags & GST_PARAM_MUTABLE_PLAYING) != 0;
    }
    return false;
}

static void log_setter(const NorvasrcProperties &store, const PropertyDef &def, GstDebugCategory *category,
                       GObject *object) {
    if (def.message_kind == MessageKind::None || gst_debug_category_get_threshold(category) < GST_LEVEL_DEBUG)
        return;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    auto log = [&](auto... args) {
        gst_debug_log(category, GST_LEVEL_DEBUG, __FILE__, def.setter, __LINE__, object, def.message, args...);
    };
    switch (def.message_kind) {
    case MessageKind::None:
        break;
    case MessageKind::Float:
        log(static_cast<double>(at<gfloat>(store, def.field)));
        break;
    case MessageKind::UInt:
        log(at<guint>(store, def.field));
        break;
    case MessageKind::EnabledDisabled:
        log(at<gboolean>(store, def.field) ? "enabled" : "disabled");
        break;
    case MessageKind::YesNo:
        log(at<gboolean>(store, def.field) ? "yes" : "no");
        break;
    case MessageKind::EnumNick: {
        const gchar *nick = enum_value_nick(def.enum_type(), at<gint>(store, def.field));
        log(nick ? nick : "(null)");
        break;
    }
    case MessageKind::String: {
        const gchar *text = at<gchar *>(store, def.field);
        log(text ? text : "(null)");
        break;
    }
    case MessageKind::ContextString: {
        const gchar *text = at<gchar *>(store, def.field);
        log(static_cast<guint>(def.context), text ? text : "(null)");
        break;
    }
    case MessageKind::Gain:
        log(static_cast<double>(at<gfloat>(store, def.linear)), static_cast<double>(at<gfloat>(store, def.field)));
        break;
    }
#pragma GCC diagnostic pop
}

void norvasrc_property_store(NorvasrcProperties &store, const PropertyDef &def, const GValue *value,
                             GstDebugCategory *category, GObject *object) {
    ++store.serial;
    switch (def.kind) {
    case PropertyKind::Boolean:
        at<gboolean>(store, def.field) = g_value_get_boolean(value);
        break;
    case PropertyKind::UInt: {
        guint v = g_value_get_uint(value);
        // A zero step would stall the sensor's exposure rounding; it means "any step".
        if (def.id == PROP_EXPOSURE_TIME_STEP && v == 0)
            v = 1;
        at<guint>(store, def.field) = v;
        break;
    }
    case PropertyKind::Int:
        at<gint>(store, def.field) = g_value_get_int(value);
        break;
    case PropertyKind::Enum:
        at<gint>(store, def.field) = g_value_get_enum(value);
        break;
    case PropertyKind::Float:
        at<gfloat>(store, def.field) = g_value_get_float(value);
        break;
    case PropertyKind::Gain: {
        gfloat db = g_value_get_float(value);
        at<gfloat>(store, def.field) = db;
        at<gfloat>(store, def.linear) = linear_gain(db);
        break;
    }
    case PropertyKind::String:
        g_free(at<gchar *>(store, def.field));
        at<gchar *>(store, def.field) = g_value_dup_string(value);
        break;
    case PropertyKind::FdList:
        // Read-only: the element writes the list itself.
        return;
    }
    log_setter(store, def, category, object);
}

void norvasrc_property_load(const NorvasrcProperties &store, const PropertyDef &def, GValue *value) {
    switch (def.kind) {
    case PropertyKind::Boolean:
        g_value_set_boolean(value, at<gboolean>(store, def.field));
        break;
    case PropertyKind::UInt:
        g_value_set_uint(value, at<guint>(store, def.field));
        break;
    case PropertyKind::Int:
        g_value_set_int(value, at<gint>(store, def.field));
        break;
    case PropertyKind::Enum:
        g_value_set_enum(value, at<gint>(store, def.field));
        break;
    case PropertyKind::Float:
    case PropertyKind::Gain:
        g_value_set_float(value, at<gfloat>(store, def.field));
        break;
    case PropertyKind::String:
        g_value_set_string(value, at<gchar *>(store, def.field));
        break;
    case PropertyKind::FdList:
        g_value_copy(&at<GValue>(store, def.field), value);
        break;
    }
}
