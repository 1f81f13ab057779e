// The norvasrc element class and its properties: every GParamSpec against the published table,
// the enumerations, what a set stores and reads back, change marks, and the state rules.
#include <gst/check/gstcheck.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "gstnorvasrc.h"

extern "C" void gst_plugin_norvasrc_register(void);

namespace {

enum Mut { M_NONE, M_NULL, M_PAUSED, M_PLAYING };

struct SpecRow {
    const char *name;
    const char *type;
    double minimum;
    double maximum;
    const char *default_value; // text: a number, "true"/"false", an enumeration nick; null for strings and arrays
    bool writable;
    Mut mutability;
    const char *nick;
    const char *blurb;
};

// The published property table, transcribed.
const SpecRow kSpec[] = {
    {"context", "guint", 0, 1, "0", true, M_NULL, "Context", "Context number"},
    {"dmabuf-fd-list", "GstValueArray", 0, G_MAXINT, nullptr, false, M_NONE, "List of DMA buffer descriptors",
     "List of YUV DMA buffer file descriptors"},
    {"dmabuf-size", "guint", 0, G_MAXUINT, "0", false, M_NONE, "DMA buffer size", "Size of each DMA buffer in bytes"},
    {"awb-enable", "gboolean", 0, 0, "false", true, M_PLAYING, "Enable AWB", "Enable automatic white balance"},
    {"denoiser-level", "gfloat", 0.0, 1.0, "0.5", true, M_PLAYING, "Denoiser level", "Denoiser level"},
    {"red-balance", "gfloat", 0.1, 10.0, "1.0", true, M_PLAYING, "Red balance", "Red balance"},
    {"blue-balance", "gfloat", 0.1, 10.0, "1.0", true, M_PLAYING, "Blue balance", "Blue balance"},
    {"brightness", "gfloat", -1.0, 1.0, "0.0", true, M_PLAYING, "Brightness", "Brightness"},
    {"contrast", "gfloat", 0.0, 16.0, "1.0", true, M_PLAYING, "Contrast", "Contrast"},
    {"saturation", "gfloat", 0.0, 16.0, "1.0", true, M_PLAYING, "Saturation", "Colour saturation"},
    {"sharpness", "gfloat", 0.0, 1.0, "0.5", true, M_PLAYING, "Sharpness", "Sharpness"},
    {"ff-mode", "GstNorvasrcFlickerFreeMode", 0, 0, "OFF", true, M_PLAYING, "Flicker free mode", "Flicker free mode"},
    {"night-mode", "gboolean", 0, 0, "false", true, M_PLAYING, "Night mode", "Enable night mode"},
    {"wavelength", "gfloat", 0.2, 1.0, "0.55", true, M_PLAYING, "Light wavelength",
     "Light wavelength in micrometers which is used by auto exposure to control iris"},
    {"buf-mode", "GstNorvasrcBufferMode", 0, 0, "pass", true, M_PAUSED, "Buffer mode", "Buffer mode"},
    {"alloc-buffers", "guint", 1, G_MAXUINT, "3", true, M_NULL, "Number of buffers to allocate",
     "Number of buffers to allocate"},
    {"awb-algorithm", "GstNorvasrcAwbAlgorithm", 0, 0, "normal", true, M_NULL, "AWB algorithm",
     "White balance control algorithm"},
    {"awb-mode", "GstNorvasrcAwbMode", 0, 0, "average", true, M_PLAYING, "AWB mode", "White balance correction mode"},
    {"awb-measured-temperature", "gfloat", 0.0, 100000.0, "0.0", false, M_PLAYING, "Measured temperature",
     "Temperature which is measured by auto-white balance module"},
    {"exposure-auto", "gboolean", 0, 0, "true", true, M_PLAYING, "Enable AE", "Enable automatic exposure"},
    {"exposure-gain", "gfloat", 0.0, 100.0, "0.0", true, M_PLAYING, "Sensor gain (dB)", "Sensor gain (dB)"},
    {"exposure-time", "guint", 0, G_MAXUINT, "0", true, M_PLAYING, "Exposure time (us)", "Exposure time (us)"},
    {"exposure-time-step", "guint", 0, G_MAXUINT, "1", true, M_PLAYING, "Exposure time step (us)",
     "Exposure time step (us)"},
    {"preenq-buffers", "guint", 0, G_MAXUINT, "1", true, M_NULL, "Number of buffers to pre-enqueue",
     "Number of buffers to enqueue preliminarily"},
    {"sensor", "gchararray", 0, 0, nullptr, true, M_NULL, "Sensor name", "Sensor name"},
    {"sensor-flip", "GstNorvasrcSensorFlip", 0, 0, "none", true, M_NULL, "Sensor flip", "Sensor flip"},
    {"sensor-mode", "guint", 0, G_MAXUINT, "0", true, M_NULL, "Sensor mode", "Sensor mode"},
    {"setup-file", "gchararray", 0, 0, nullptr, true, M_NULL, "Setup file(s)",
     "Setup file (or files delimited by colon) with ISP Norva settings"},
    {"setup-file-ctx0", "gchararray", 0, 0, nullptr, true, M_NULL, "Context 0 extra setup file(s)",
     "Additional setup file(s) for context 0"},
    {"setup-file-ctx1", "gchararray", 0, 0, nullptr, true, M_NULL, "Context 1 extra setup file(s)",
     "Additional setup file(s) for context 1"},
    {"use-dmabuf", "gboolean", 0, 0, "true", true, M_NULL, "Use DMA buffers", "Use DMA buffers"},
    {"use-mapped-dmabuf", "gboolean", 0, 0, "false", true, M_NULL, "Use mmaped DMA buffers",
     "DMA buffers will be mmaped and will look like ordinal buffers"},
    {"exposure-min-gain", "gfloat", 0.0, 100.0, "0.0", false, M_NONE, "Minimum sensor gain (dB)",
     "Minimum sensor gain (dB)"},
    {"exposure-max-gain", "gfloat", 0.0, 100.0, "0.0", false, M_NONE, "Maximum sensor gain (dB)",
     "Maximum sensor gain (dB)"},
    {"exposure-min-time", "guint", 0, G_MAXUINT, "0", false, M_NONE, "Minimum exposure time (us)",
     "Minimum exposure time (us)"},
    {"exposure-max-time", "guint", 0, G_MAXUINT, "0", false, M_NONE, "Maximum exposure time (us)",
     "Maximum exposure time (us)"},
    {"exposure-auto-level", "gfloat", -1.0, 1.0, "0.0", true, M_PLAYING, "AE target brightness",
     "Target brightness in auto exposure mode"},
    {"exposure-auto-min-gain", "gfloat", 0.0, 100.0, "0.0", true, M_PLAYING, "AE minimum sensor gain (dB)",
     "Minimum sensor gain in auto exposure mode (dB)"},
    {"exposure-auto-max-gain", "gfloat", 0.0, 100.0, "100.0", true, M_PLAYING, "AE maximum sensor gain (dB)",
     "Maximum sensor gain in auto exposure mode (dB)"},
    {"exposure-auto-min-time", "guint", 0, G_MAXUINT, "0", true, M_PLAYING, "AE minimum exposure time (us)",
     "Minimum exposure time in auto exposure mode (us)"},
    {"exposure-auto-max-time", "guint", 0, G_MAXUINT, "G_MAXUINT", true, M_PLAYING, "AE maximum exposure time (us)",
     "Maximum exposure time in auto exposure mode (us)"},
    {"exposure-auto-target-time", "guint", 0, G_MAXUINT, "0", true, M_PLAYING, "AE target time (us)",
     "Exposure target time in auto exposure mode (us). 0 means 1/FPS of the sensor"},
    {"exposure-auto-priority", "GstNorvasrcAePriorityMode", 0, 0, "low-noise", true, M_PLAYING, "Autoexposure priority",
     "Autoexposure priority"},
    {"exposure-auto-window-bottom", "gfloat", -1.0, 1.0, "-1.0", true, M_PLAYING, "AE window bottom",
     "Bottom y-coordinate of rectangular exposure window"},
    {"exposure-auto-window-left", "gfloat", -1.0, 1.0, "-1.0", true, M_PLAYING, "AE window left",
     "Left x-coordinate of rectangular exposure window"},
    {"exposure-auto-window-right", "gfloat", -1.0, 1.0, "1.0", true, M_PLAYING, "AE window right",
     "Right x-coordinate of rectangular exposure window"},
    {"exposure-auto-window-top", "gfloat", -1.0, 1.0, "1.0", true, M_PLAYING, "AE window top",
     "Top y-coordinate of rectangular exposure window"},
    {"bounds-x", "gint", G_MININT, G_MAXINT, "0", false, M_NONE, "x-coordinate of frame left bound",
     "x-coordinate of frame left bound in px"},
    {"bounds-y", "gint", G_MININT, G_MAXINT, "0", false, M_NONE, "y-coordinate of frame bottom bound",
     "y-coordinate of frame bottom bound in px"},
    {"bounds-width", "guint", 0, G_MAXUINT, "G_MAXUINT", false, M_NONE, "Width of frame", "Width of frame in px"},
    {"bounds-height", "guint", 0, G_MAXUINT, "G_MAXUINT", false, M_NONE, "Height of frame", "Height of frame in px"},
    {"blc-auto", "gboolean", 0, 0, "false", true, M_PLAYING, "BLC auto", "Enable automatic backlight compensation"},
    {"blc-level", "gfloat", 0.0, 1.0, "0.0", true, M_PLAYING, "BLC level", "Backlight compensation level"},
    {"restart-on-error", "gboolean", 0, 0, "false", true, M_PLAYING, "Restart on error",
     "Restart capture when erroneous shot is acquired"},
    {"measured-fvalue", "gfloat", 0.0, G_MAXFLOAT, "0.0", false, M_PLAYING, "Measured focus value",
     "Measured focus value"},
    {"add-histogram-meta", "gboolean", 0, 0, "false", true, M_PLAYING, "Add histogram to metadata",
     "Add brightness histogram to metadata"},
    {"exposure-auto-target-gain", "gfloat", 0.0, 100.0, "0.0", true, M_PLAYING, "AE target sensor gain (dB)",
     "Target gain in auto exposure mode (dB)"},
    {"wait-release", "gboolean", 0, 0, "false", true, M_NULL, "Wait buffers to release",
     "Wait buffers to release during stop"},
    {"gma-enable", "gboolean", 0, 0, "true", true, M_NULL, "Enable gma", "Enable gma correction"},
    {"wdr-auto", "gboolean", 0, 0, "false", true, M_PLAYING, "WDR auto", "Enable automatic local tone mapping"},
    {"wdr-level", "gfloat", 0.0, 1.0, "0.0", true, M_PLAYING, "WDR level", "Local tone mapping strength"},
};

const char *const kPadProperties[] = {"buf-mode", "dmabuf-fd-list", "dmabuf-size",  "bounds-x",
                                      "bounds-y", "bounds-width",   "bounds-height"};
const char *const kBaseSrcProperties[] = {"name", "parent", "blocksize", "num-buffers", "typefind", "do-timestamp"};

double number(const char *text) {
    if (!std::strcmp(text, "G_MAXUINT"))
        return G_MAXUINT;
    if (!std::strcmp(text, "G_MAXINT"))
        return G_MAXINT;
    if (!std::strcmp(text, "G_MININT"))
        return G_MININT;
    return std::strtod(text, nullptr);
}

GstElement *new_src() {
    GstElement *src = gst_element_factory_make("norvasrc", nullptr);
    fail_unless(src != nullptr);
    return src;
}

NorvasrcProperties &store_of(GstElement *src) { return GST_NORVASRC(src)->state->props; }

guint id_of(const char *name) {
    for (guint id = 1; id <= PROP_LAST; ++id) {
        const SpecRow &row = kSpec[id - 1];
        if (!std::strcmp(row.name, name))
            return id;
    }
    fail("no property %s", name);
    return 0;
}

// GStreamer debug messages of the norvasrc category.
struct LogLine {
    GstDebugLevel level;
    std::string function;
    std::string text;
};
std::vector<LogLine> g_log;

void capture_log(GstDebugCategory *category, GstDebugLevel level, const gchar *, const gchar *function, gint, GObject *,
                 GstDebugMessage *message, gpointer) {
    if (std::strcmp(gst_debug_category_get_name(category), "norvasrc") != 0)
        return;
    g_log.push_back({level, function, gst_debug_message_get(message)});
}

bool logged(GstDebugLevel level, const std::string &text, const char *function = nullptr) {
    for (const LogLine &l : g_log)
        if (l.level == level && l.text == text && (!function || l.function == function))
            return true;
    return false;
}

void start_capture_log() {
    g_log.clear();
    gst_debug_set_active(TRUE);
    gst_debug_set_threshold_for_name("norvasrc", GST_LEVEL_DEBUG);
    gst_debug_add_log_function(capture_log, nullptr, nullptr);
}

void stop_capture_log() {
    gst_debug_remove_log_function(capture_log);
    gst_debug_set_threshold_for_name("norvasrc", GST_LEVEL_NONE);
}

} // namespace

GST_START_TEST(every_property_matches_the_table) {
    GstElement *src = new_src();
    GObjectClass *klass = G_OBJECT_GET_CLASS(src);

    guint n = 0;
    GParamSpec **all = g_object_class_list_properties(klass, &n);
    fail_unless_equals_int(n, 61 + 6);
    g_free(all);
    for (const char *name : kBaseSrcProperties)
        fail_unless(g_object_class_find_property(klass, name) != nullptr, "%s", name);

    int playing = 0, paused = 0, null_only = 0, read_only = 0;
    for (const SpecRow &row : kSpec) {
        GParamSpec *p = g_object_class_find_property(klass, row.name);
        fail_unless(p != nullptr, "%s missing", row.name);
        fail_unless_equals_string(g_type_name(G_PARAM_SPEC_VALUE_TYPE(p)), row.type);
        fail_unless_equals_string(g_param_spec_get_nick(p), row.nick);
        fail_unless_equals_string(g_param_spec_get_blurb(p), row.blurb);

        bool pad = false;
        for (const char *name : kPadProperties)
            pad = pad || !std::strcmp(name, row.name);
        fail_unless_equals_string(g_type_name(p->owner_type), pad ? "GstNorvasrcPadProps" : "GstNorvasrcProps");

        fail_unless(p->flags & G_PARAM_READABLE, "%s readable", row.name);
        fail_unless(((p->flags & G_PARAM_WRITABLE) != 0) == row.writable, "%s access", row.name);
        const guint mutability = p->flags & (GST_PARAM_CONTROLLABLE | GST_PARAM_MUTABLE_READY |
                                             GST_PARAM_MUTABLE_PAUSED | GST_PARAM_MUTABLE_PLAYING);
        switch (row.mutability) {
        case M_PLAYING:
            fail_unless(mutability == (GST_PARAM_CONTROLLABLE | GST_PARAM_MUTABLE_PLAYING), "%s flags", row.name);
            ++playing;
            break;
        case M_PAUSED:
            fail_unless(mutability == GST_PARAM_MUTABLE_PAUSED, "%s flags", row.name);
            ++paused;
            break;
        case M_NULL:
            fail_unless(mutability == 0 && row.writable, "%s flags", row.name);
            ++null_only;
            break;
        case M_NONE:
            fail_unless(mutability == 0 && !row.writable, "%s flags", row.name);
            ++read_only;
            break;
        }

        const GValue *def = g_param_spec_get_default_value(p);
        if (G_IS_PARAM_SPEC_UINT(p)) {
            GParamSpecUInt *u = G_PARAM_SPEC_UINT(p);
            fail_unless(u->minimum == row.minimum && u->maximum == row.maximum, "%s range", row.name);
            fail_unless(u->default_value == number(row.default_value), "%s default", row.name);
        } else if (G_IS_PARAM_SPEC_INT(p)) {
            GParamSpecInt *i = G_PARAM_SPEC_INT(p);
            fail_unless(i->minimum == row.minimum && i->maximum == row.maximum, "%s range", row.name);
            fail_unless(i->default_value == number(row.default_value), "%s default", row.name);
        } else if (G_IS_PARAM_SPEC_FLOAT(p)) {
            GParamSpecFloat *f = G_PARAM_SPEC_FLOAT(p);
            fail_unless(f->minimum == gfloat(row.minimum) && f->maximum == gfloat(row.maximum), "%s range", row.name);
            fail_unless(f->default_value == gfloat(number(row.default_value)), "%s default", row.name);
        } else if (G_IS_PARAM_SPEC_BOOLEAN(p)) {
            fail_unless_equals_string(g_value_get_boolean(def) ? "true" : "false", row.default_value);
        } else if (G_IS_PARAM_SPEC_ENUM(p)) {
            GEnumValue *v = g_enum_get_value(G_PARAM_SPEC_ENUM(p)->enum_class, g_value_get_enum(def));
            fail_unless(v != nullptr);
            fail_unless_equals_string(v->value_nick, row.default_value);
        } else if (G_IS_PARAM_SPEC_STRING(p)) {
            fail_unless(g_value_get_string(def) == nullptr && row.default_value == nullptr);
        } else if (GST_IS_PARAM_SPEC_ARRAY_LIST(p)) {
            GParamSpec *element = GST_PARAM_SPEC_ARRAY_LIST(p)->element_spec;
            fail_unless(G_IS_PARAM_SPEC_INT(element));
            fail_unless_equals_string(g_param_spec_get_name(element), "fd");
            fail_unless_equals_string(g_param_spec_get_nick(element), "File descriptor");
            fail_unless_equals_string(g_param_spec_get_blurb(element), "DMA buffer file descriptor");
            GParamSpecInt *i = G_PARAM_SPEC_INT(element);
            fail_unless(i->minimum == row.minimum && i->maximum == row.maximum && i->default_value == 0);
            fail_unless((element->flags & G_PARAM_READWRITE) == G_PARAM_READWRITE);
        } else {
            fail("%s has an unexpected GParamSpec", row.name);
        }
    }
    // Two read-only properties carry the playing flags too.
    fail_unless_equals_int(playing, 36);
    fail_unless_equals_int(paused, 1);
    fail_unless_equals_int(null_only, 14);
    fail_unless_equals_int(read_only, 10);
    gst_object_unref(src);
}
GST_END_TEST;

GST_START_TEST(enumerations_match_the_table) {
    struct Value {
        gint value;
        const char *nick;
        const char *name;
    };
    struct EnumRow {
        const char *type;
        std::vector<Value> values;
    };
    const EnumRow enums[] = {
        {"GstNorvasrcFlickerFreeMode",
         {{0, "OFF", "Flicker free is off"},
          {1, "FREE50", "50 Hz flicker free"},
          {2, "FREE60", "60 Hz flicker free"},
          {3, "AUTO", "Auto flicker free"}}},
        {"GstNorvasrcAePriorityMode",
         {{0, "low-noise", "Low-noise priority for autoexposure"},
          {1, "frame-rate", "Framerate priority for autoexposure"},
          {2, "target-gain", "Use autoexposure target gain"}}},
        {"GstNorvasrcBufferMode",
         {{0, "pass", "Send buffers as is"},
          {1, "query", "Send dmabuf query before sending buffers"},
          {2, "copy", "Copy buffers"},
          {3, "event", "Send pool information through custom event dmabuf_event"}}},
        {"GstNorvasrcAwbAlgorithm",
         {{1, "normal", "Normal algorithm"},
          {2, "pid", "PID control algorithm"},
          {3, "planckian", "Planckian locus algorithm"}}},
        {"GstNorvasrcAwbMode",
         {{1, "average", "Average colour"},
          {2, "white", "White patch"},
          {3, "high-lum", "High luminance white"},
          {4, "combined", "Combined"}}},
        {"GstNorvasrcSensorFlip",
         {{0, "none", "No flipping"},
          {1, "horizontal", "Horizontal flip"},
          {2, "vertical", "Vertical flip"},
          {3, "both", "Horizontal and vertical flip"}}},
    };
    GstElement *src = new_src(); // registers the types
    for (const EnumRow &e : enums) {
        GType type = g_type_from_name(e.type);
        fail_unless(type != 0 && G_TYPE_IS_ENUM(type), "%s", e.type);
        GEnumClass *klass = static_cast<GEnumClass *>(g_type_class_ref(type));
        fail_unless_equals_int(klass->n_values, e.values.size());
        for (const Value &v : e.values) {
            GEnumValue *found = g_enum_get_value(klass, v.value);
            fail_unless(found != nullptr, "%s %d", e.type, v.value);
            fail_unless_equals_string(found->value_nick, v.nick);
            fail_unless_equals_string(found->value_name, v.name);
            fail_unless_equals_string(enum_value_nick(type, v.value), v.nick);
        }
        fail_unless(enum_value_nick(type, 99) == nullptr);
        g_type_class_unref(klass);
    }
    gst_object_unref(src);
}
GST_END_TEST;

GST_START_TEST(set_values_read_back) {
    struct Case {
        const char *name;
        const char *set;  // as a textual pipeline gives it
        const char *read; // what reading gives, as text
    };
    const Case cases[] = {
        {"exposure-gain", "6", "6"},
        {"exposure-auto-min-gain", "0", "0"},
        {"exposure-auto-max-gain", "100", "100"},
        {"exposure-auto-target-gain", "24", "24"},
        {"exposure-time-step", "0", "1"},
        {"exposure-time-step", "7", "7"},
        {"awb-mode", "white", "white"},
        {"awb-mode", "3", "high-lum"},
        {"ff-mode", "FREE50", "FREE50"},
        {"exposure-auto-priority", "target-gain", "target-gain"},
        {"sensor-flip", "both", "both"},
        {"awb-algorithm", "pid", "pid"},
        {"buf-mode", "event", "event"},
        {"sensor", "DOR Idazida", "DOR Idazida"},
        {"setup-file", "a.txt:b.txt", "a.txt:b.txt"},
        {"setup-file-ctx1", "c.txt", "c.txt"},
        {"red-balance", "2.5", "2.5"},
        {"exposure-auto-window-left", "-0.25", "-0.25"},
        {"alloc-buffers", "4294967295", "4294967295"},
        {"context", "1", "1"},
        {"add-histogram-meta", "true", "TRUE"},
        {"exposure-auto", "false", "FALSE"},
    };
    for (const Case &c : cases) {
        GstElement *src = new_src();
        gst_util_set_object_arg(G_OBJECT(src), c.name, c.set);
        GValue v = G_VALUE_INIT;
        GParamSpec *p = g_object_class_find_property(G_OBJECT_GET_CLASS(src), c.name);
        g_value_init(&v, G_PARAM_SPEC_VALUE_TYPE(p));
        g_object_get_property(G_OBJECT(src), c.name, &v);
        std::string read;
        if (G_VALUE_HOLDS_ENUM(&v))
            read = enum_value_nick(G_VALUE_TYPE(&v), g_value_get_enum(&v));
        else if (G_VALUE_HOLDS_FLOAT(&v)) {
            fail_unless(g_value_get_float(&v) == gfloat(std::strtod(c.read, nullptr)), "%s reads %g", c.name,
                        g_value_get_float(&v));
            read = c.read;
        } else {
            gchar *text = g_strdup_value_contents(&v);
            read = text;
            g_free(text);
            if (G_VALUE_HOLDS_STRING(&v))
                read = g_value_get_string(&v);
        }
        fail_unless(read == c.read, "%s set to %s reads %s", c.name, c.set, read.c_str());
        fail_unless_equals_int(store_of(src).changed[id_of(c.name)], 1);
        g_value_unset(&v);
        gst_object_unref(src);
    }
}
GST_END_TEST;

GST_START_TEST(gains_keep_a_linear_companion) {
    struct Case {
        const char *name;
        gfloat db;
        gfloat NorvasrcProperties::*linear;
        double expected;
    };
    const Case cases[] = {
        {"exposure-gain", 6.0f, &NorvasrcProperties::exposure_gain_linear, 1.99526},
        {"exposure-gain", 0.0f, &NorvasrcProperties::exposure_gain_linear, 1.0},
        {"exposure-auto-min-gain", 24.0f, &NorvasrcProperties::exposure_auto_min_gain_linear, 15.8489},
        {"exposure-auto-max-gain", 100.0f, &NorvasrcProperties::exposure_auto_max_gain_linear, 100000.0},
        {"exposure-auto-target-gain", 20.0f, &NorvasrcProperties::exposure_auto_target_gain_linear, 10.0},
    };
    for (const Case &c : cases) {
        GstElement *src = new_src();
        g_object_set(src, c.name, c.db, nullptr);
        const double linear = store_of(src).*c.linear;
        fail_unless(std::fabs(linear - c.expected) < 1e-4 * c.expected, "%s %g dB is %g", c.name, c.db, linear);
        gfloat read = -1.0f;
        g_object_get(src, c.name, &read, nullptr);
        fail_unless(read == c.db);
        gst_object_unref(src);
    }
    // Defaults: 0 dB is 1.0, the automatic maximum 100 dB is 100000.
    GstElement *src = new_src();
    fail_unless(store_of(src).exposure_gain_linear == 1.0f);
    fail_unless(store_of(src).exposure_auto_min_gain_linear == 1.0f);
    fail_unless(store_of(src).exposure_auto_max_gain_linear == 100000.0f);
    fail_unless(store_of(src).exposure_auto_target_gain_linear == 1.0f);
    gst_object_unref(src);
}
GST_END_TEST;

GST_START_TEST(setters_log_their_message) {
    GstElement *src = new_src();
    start_capture_log();
    g_object_set(src, "exposure-gain", 6.0f, "awb-enable", TRUE, "add-histogram-meta", TRUE, "ff-mode", 3,
                 "setup-file-ctx1", "x.txt", "exposure-time", 500u, nullptr);
    stop_capture_log();
    fail_unless(logged(GST_LEVEL_DEBUG, "Exposure gain is 1.99526 (6 dB)", "gst_norvasrc_set_exposure_gain"));
    fail_unless(logged(GST_LEVEL_DEBUG, "Auto white balance is enabled", "gst_norvasrc_awb_enable"));
    fail_unless(logged(GST_LEVEL_DEBUG, "Add histogram to metadata: yes", "gst_norvasrc_set_add_histogram_meta"));
    fail_unless(logged(GST_LEVEL_DEBUG, "Flicker free mode is 'AUTO'", "gst_norvasrc_set_ff_mode"));
    fail_unless(logged(GST_LEVEL_DEBUG, "Context 1 extra setup file is x.txt", "gst_norvasrc_set_setup_file_ctx"));
    fail_unless(logged(GST_LEVEL_DEBUG, "Exposure time is 500 us", "gst_norvasrc_set_exposure_time"));
    gst_object_unref(src);
}
GST_END_TEST;

GST_START_TEST(values_outside_the_specification_are_refused) {
    struct Case {
        const char *name;
        gint value;
    };
    const Case enums[] = {{"awb-mode", 0}, {"awb-mode", 5}, {"awb-algorithm", 0}, {"ff-mode", 4}};
    for (const Case &c : enums) {
        GstElement *src = new_src();
        gint before = -1, after = -1;
        g_object_get(src, c.name, &before, nullptr);
        ASSERT_WARNING(g_object_set(src, c.name, c.value, nullptr));
        g_object_get(src, c.name, &after, nullptr);
        fail_unless_equals_int(after, before);
        fail_unless_equals_int(store_of(src).changed[id_of(c.name)], 0);
        gst_object_unref(src);
    }
    GstElement *src = new_src();
    ASSERT_WARNING(g_object_set(src, "red-balance", 20.0f, nullptr));
    ASSERT_WARNING(g_object_set(src, "alloc-buffers", 0u, nullptr));
    fail_unless(store_of(src).red_balance == 1.0f && store_of(src).alloc_buffers == 3);
    // Read-only properties never reach the element.
    ASSERT_WARNING(g_object_set(src, "bounds-x", 5, nullptr));
    fail_unless_equals_int(store_of(src).bounds.x, 0);
    gst_object_unref(src);
}
GST_END_TEST;

// A NaN lies outside every range, though every comparison with it is false: each writable float or double property
// of the elements, found through their classes (so that a new one is covered), refuses it with a warning and keeps
// its value and, on norvasrc, its change mark; norvamultisrc's are those of the norvasrc inside it.
GST_START_TEST(nan_is_refused_by_every_float_property) {
    const struct {
        const char *factory;
        guint floats; // writable float and double properties, as published
    } elements[] = {{"norvasrc", 19}, {"norvamultisrc", 19}};
    for (const auto &e : elements) {
        GstElement *element = gst_element_factory_make(e.factory, nullptr);
        fail_unless(element != nullptr, "no %s", e.factory);
        gst_object_ref_sink(element);
        guint n = 0, covered = 0;
        GParamSpec **pspecs = g_object_class_list_properties(G_OBJECT_GET_CLASS(element), &n);
        for (guint i = 0; i < n; ++i) {
            GParamSpec *pspec = pspecs[i];
            const GType type = G_PARAM_SPEC_VALUE_TYPE(pspec);
            if ((type != G_TYPE_FLOAT && type != G_TYPE_DOUBLE) || !(pspec->flags & G_PARAM_WRITABLE))
                continue;
            covered++;
            GValue before = G_VALUE_INIT, after = G_VALUE_INIT, nan = G_VALUE_INIT;
            g_value_init(&before, type);
            g_value_init(&after, type);
            g_value_init(&nan, type);
            g_object_get_property(G_OBJECT(element), pspec->name, &before);
            if (type == G_TYPE_FLOAT)
                g_value_set_float(&nan, std::nanf(""));
            else
                g_value_set_double(&nan, std::nan(""));
            ASSERT_WARNING(g_object_set_property(G_OBJECT(element), pspec->name, &nan));
            g_object_get_property(G_OBJECT(element), pspec->name, &after);
            const double was = type == G_TYPE_FLOAT ? g_value_get_float(&before) : g_value_get_double(&before);
            const double is = type == G_TYPE_FLOAT ? g_value_get_float(&after) : g_value_get_double(&after);
            fail_unless(is == was, "%s \"%s\": %g after NaN, %g before", e.factory, pspec->name, is, was);
            if (GST_IS_NORVASRC(element))
                fail_unless_equals_int(store_of(element).changed[id_of(pspec->name)], 0);
            g_value_unset(&before);
            g_value_unset(&after);
            g_value_unset(&nan);
        }
        g_free(pspecs);
        fail_unless_equals_int(covered, e.floats);
        gst_object_unref(element);
    }
}
GST_END_TEST;

GST_START_TEST(setting_the_default_still_marks) {
    GstElement *src = new_src();
    fail_unless_equals_int(store_of(src).changed[PROP_EXPOSURE_AUTO], 0);
    g_object_set(src, "exposure-auto", TRUE, "alloc-buffers", 3u, nullptr);
    fail_unless_equals_int(store_of(src).changed[PROP_EXPOSURE_AUTO], 1);
    fail_unless_equals_int(store_of(src).changed[PROP_ALLOC_BUFFERS], 1);
    for (guint id = 0; id <= PROP_LAST; ++id)
        if (id != PROP_EXPOSURE_AUTO && id != PROP_ALLOC_BUFFERS)
            fail_unless_equals_int(store_of(src).changed[id], 0);
    gst_object_unref(src);
}
GST_END_TEST;

GST_START_TEST(pad_values_before_negotiation) {
    GstElement *src = new_src();
    GValue list = G_VALUE_INIT;
    g_value_init(&list, GST_TYPE_ARRAY);
    g_object_get_property(G_OBJECT(src), "dmabuf-fd-list", &list);
    fail_unless_equals_int(gst_value_array_get_size(&list), 0);
    g_value_unset(&list);

    guint width = 0, height = 0, size = 1;
    gint x = 1, y = 1;
    g_object_get(src, "bounds-x", &x, "bounds-y", &y, "bounds-width", &width, "bounds-height", &height, "dmabuf-size",
                 &size, nullptr);
    fail_unless(x == 0 && y == 0 && width == G_MAXUINT && height == G_MAXUINT && size == 0);
    gst_object_unref(src);
}
GST_END_TEST;

GST_START_TEST(invalid_property_ids_warn) {
    GstElement *src = new_src();
    GObjectClass *klass = G_OBJECT_GET_CLASS(src);
    GParamSpec *pspec = g_object_class_find_property(klass, "brightness");
    GValue v = G_VALUE_INIT;
    g_value_init(&v, G_TYPE_FLOAT);
    g_value_set_float(&v, 0.5f);
    const guint ids[] = {
        0, PROP_DMABUF_FD_LIST, PROP_AWB_MEASURED_TEMPERATURE, PROP_BOUNDS_X, PROP_MEASURED_FVALUE, PROP_LAST + 1, 999};
    for (guint id : ids) {
        ASSERT_WARNING(klass->set_property(G_OBJECT(src), id, &v, pspec));
        if (id <= PROP_LAST)
            fail_unless_equals_int(store_of(src).changed[id], 0);
    }
    fail_unless(store_of(src).brightness == 0.0f);
    ASSERT_WARNING(klass->get_property(G_OBJECT(src), 999, &v, pspec));
    g_value_unset(&v);
    gst_object_unref(src);
}
GST_END_TEST;

GST_START_TEST(changes_follow_the_state_rules) {
    struct Prop {
        const char *name;
        const char *value;
        Mut mutability;
    };
    const Prop props[] = {
        {"sensor", "IMX000", M_NULL},     {"alloc-buffers", "5", M_NULL},      {"buf-mode", "copy", M_PAUSED},
        {"brightness", "0.5", M_PLAYING}, {"awb-mode", "combined", M_PLAYING},
    };
    const GstState states[] = {GST_STATE_NULL, GST_STATE_READY, GST_STATE_PAUSED, GST_STATE_PLAYING};
    for (const Prop &p : props) {
        for (GstState state : states) {
            GstElement *src = new_src();
            GValue before = G_VALUE_INIT, after = G_VALUE_INIT;
            GParamSpec *pspec = g_object_class_find_property(G_OBJECT_GET_CLASS(src), p.name);
            g_value_init(&before, G_PARAM_SPEC_VALUE_TYPE(pspec));
            g_value_init(&after, G_PARAM_SPEC_VALUE_TYPE(pspec));
            g_object_get_property(G_OBJECT(src), p.name, &before);

            GST_STATE(src) = state; // the check reads the current state
            start_capture_log();
            gst_util_set_object_arg(G_OBJECT(src), p.name, p.value);
            stop_capture_log();
            GST_STATE(src) = GST_STATE_NULL;

            const bool accepted = state == GST_STATE_NULL || (state == GST_STATE_READY && p.mutability >= M_PAUSED) ||
                                  (state == GST_STATE_PAUSED && p.mutability >= M_PAUSED) ||
                                  (state == GST_STATE_PLAYING && p.mutability == M_PLAYING);
            g_object_get_property(G_OBJECT(src), p.name, &after);
            const bool changed = gst_value_compare(&before, &after) != GST_VALUE_EQUAL;
            fail_unless(changed == accepted, "%s in %s", p.name, gst_element_state_get_name(state));
            fail_unless_equals_int(store_of(src).changed[id_of(p.name)], accepted ? 1 : 0);
            const std::string warning = std::string("Changing property '") + p.name + "' when the element is in " +
                                        gst_element_state_get_name(state) + " state";
            fail_unless(logged(GST_LEVEL_WARNING, warning) == !accepted, "%s in %s: warning", p.name,
                        gst_element_state_get_name(state));
            g_value_unset(&before);
            g_value_unset(&after);
            gst_object_unref(src);
        }
    }
}
GST_END_TEST;

GST_START_TEST(element_class_surface) {
    GstElementFactory *factory = gst_element_factory_find("norvasrc");
    fail_unless(factory != nullptr);
    fail_unless_equals_int(gst_plugin_feature_get_rank(GST_PLUGIN_FEATURE(factory)), GST_RANK_NONE);
    fail_unless(gst_element_factory_find("norvaproxysrc") == nullptr);
    gst_object_unref(factory);

    GstElement *src = new_src();
    fail_unless(gst_base_src_is_live(GST_BASE_SRC(src)));
    fail_unless(g_type_is_a(G_OBJECT_TYPE(src), gst_norvasrc_props_get_type()));
    fail_unless(g_type_is_a(G_OBJECT_TYPE(src), gst_norvasrc_pad_props_get_type()));
    fail_unless_equals_string(G_OBJECT_TYPE_NAME(src), "GstNorvasrc");

    // The source pad offers the template: the listed formats intersect, a three-plane format does not.
    GstPad *pad = gst_element_get_static_pad(src, "src");
    GstCaps *offered = gst_pad_query_caps(pad, nullptr);
    const char *accepted[] = {"video/x-raw,format=NV12", "video/x-raw,format=BGRx", "video/x-raw,format=v308",
                              "video/x-bayer,format=bggr12nrv"};
    for (const char *text : accepted) {
        GstCaps *c = gst_caps_from_string(text);
        fail_unless(gst_caps_can_intersect(offered, c), "%s", text);
        gst_caps_unref(c);
    }
    GstCaps *i420 = gst_caps_from_string("video/x-raw,format=I420");
    fail_if(gst_caps_can_intersect(offered, i420));
    gst_caps_unref(i420);
    gst_caps_unref(offered);
    gst_object_unref(pad);

    // Action signals: one returns a gboolean, the others nothing.
    gboolean result = TRUE;
    g_signal_emit_by_name(src, "set-fvalue-window", -0.5f, 0.5f, 0.5f, -0.5f, &result);
    guint id = g_signal_lookup("set-fvalue-window", G_OBJECT_TYPE(src));
    GSignalQuery query;
    g_signal_query(id, &query);
    fail_unless(query.return_type == G_TYPE_BOOLEAN && query.n_params == 4);
    fail_unless(query.signal_flags & G_SIGNAL_ACTION);
    id = g_signal_lookup("sensor-row-time", G_OBJECT_TYPE(src));
    g_signal_query(id, &query);
    fail_unless(query.return_type == G_TYPE_NONE && query.n_params == 1 && query.param_types[0] == G_TYPE_UINT64);
    fail_if(query.signal_flags & G_SIGNAL_ACTION);
    gst_object_unref(src);

    BufferFrameBounds bounds = {5, -3, 7, 9};
    gst_norva_bounds_init(&bounds);
    fail_unless(bounds.x == 0 && bounds.y == 0 && bounds.width == G_MAXUINT && bounds.height == G_MAXUINT);
}
GST_END_TEST;

static Suite *norvasrc_props_suite() {
    gst_plugin_norvasrc_register();
    Suite *s = suite_create("norvasrc-props");
    TCase *pspecs = tcase_create("paramspecs");
    suite_add_tcase(s, pspecs);
    tcase_add_test(pspecs, every_property_matches_the_table);
    tcase_add_test(pspecs, enumerations_match_the_table);
    tcase_add_test(pspecs, element_class_surface);
    TCase *behaviour = tcase_create("behaviour");
    suite_add_tcase(s, behaviour);
    tcase_add_test(behaviour, set_values_read_back);
    tcase_add_test(behaviour, gains_keep_a_linear_companion);
    tcase_add_test(behaviour, setters_log_their_message);
    tcase_add_test(behaviour, values_outside_the_specification_are_refused);
    tcase_add_test(behaviour, nan_is_refused_by_every_float_property);
    tcase_add_test(behaviour, setting_the_default_still_marks);
    tcase_add_test(behaviour, pad_values_before_negotiation);
    tcase_add_test(behaviour, invalid_property_ids_warn);
    tcase_add_test(behaviour, changes_follow_the_state_rules);
    return s;
}

GST_CHECK_MAIN(norvasrc_props);
