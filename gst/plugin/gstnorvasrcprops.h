#ifndef GST_NORVASRC_PROPS_H
#define GST_NORVASRC_PROPS_H

/*
 * The property surface shared by the norva elements: two property interfaces (the element properties and the
 * per-pad ones), the six enumerations they use, the one table of the 61 properties, and the property store
 * with its change marks. The interfaces declare no methods: they only hold the property definitions, which
 * each element overrides under the ids of the table.
 */

#include <gst/gst.h>

#include <array>
#include <cstddef>

#include "bufferformat.h"

G_BEGIN_DECLS

#define GST_TYPE_NORVASRC_PROPS (gst_norvasrc_props_get_type())
#define GST_TYPE_NORVASRC_PAD_PROPS (gst_norvasrc_pad_props_get_type())

typedef struct _GstNorvasrcProps GstNorvasrcProps;
typedef struct _GstNorvasrcPadProps GstNorvasrcPadProps;

typedef struct _GstNorvasrcPropsInterface {
    GTypeInterface parent;
} GstNorvasrcPropsInterface;

typedef struct _GstNorvasrcPadPropsInterface {
    GTypeInterface parent;
} GstNorvasrcPadPropsInterface;

GType gst_norvasrc_props_get_type(void);
GType gst_norvasrc_pad_props_get_type(void);

/* Interface initialisation of an implementing type: nothing to do, the properties come with the interface. */
void gst_norvasrc_props_init(GstNorvasrcPropsInterface *iface);
void gst_norvasrc_pad_props_init(GstNorvasrcPadPropsInterface *iface);

typedef enum {
    GST_NORVASRC_FF_OFF = 0,
    GST_NORVASRC_FF_FREE50 = 1,
    GST_NORVASRC_FF_FREE60 = 2,
    GST_NORVASRC_FF_AUTO = 3,
} GstNorvasrcFlickerFreeMode;

typedef enum {
    GST_NORVASRC_AE_PRIORITY_LOW_NOISE = 0,
    GST_NORVASRC_AE_PRIORITY_FRAME_RATE = 1,
    GST_NORVASRC_AE_PRIORITY_TARGET_GAIN = 2,
} GstNorvasrcAePriorityMode;

typedef enum {
    GST_NORVASRC_BUFFER_MODE_PASS = 0,
    GST_NORVASRC_BUFFER_MODE_QUERY = 1,
    GST_NORVASRC_BUFFER_MODE_COPY = 2,
    GST_NORVASRC_BUFFER_MODE_EVENT = 3,
} GstNorvasrcBufferMode;

/* The white-balance algorithm numbers of the capture parameters; 0 (no white-balance control) is not offered. */
typedef enum {
    GST_NORVASRC_AWB_ALGORITHM_NORMAL = 1,
    GST_NORVASRC_AWB_ALGORITHM_PID = 2,
    GST_NORVASRC_AWB_ALGORITHM_PLANCKIAN = 3,
} GstNorvasrcAwbAlgorithm;

/* The automatic correction types of the white-balance control, by the same numbers. */
typedef enum {
    GST_NORVASRC_AWB_MODE_AVERAGE = 1,
    GST_NORVASRC_AWB_MODE_WHITE = 2,
    GST_NORVASRC_AWB_MODE_HIGH_LUM = 3,
    GST_NORVASRC_AWB_MODE_COMBINED = 4,
} GstNorvasrcAwbMode;

typedef enum {
    GST_NORVASRC_FLIP_NONE = 0,
    GST_NORVASRC_FLIP_HORIZONTAL = 1,
    GST_NORVASRC_FLIP_VERTICAL = 2,
    GST_NORVASRC_FLIP_BOTH = 3,
} GstNorvasrcSensorFlip;

GType gst_norvasrc_flicker_free_mode_get_type(void);
GType gst_norvasrc_ae_priority_get_type(void);
GType gst_norvasrc_buffer_mode_get_type(void);
GType gst_norvasrc_awb_algorithm_get_type(void);
GType gst_norvasrc_awb_mode_get_type(void);
GType gst_norvasrc_sensor_flip_get_type(void);

/* A crop-bounds record for the whole frame: x 0, y 0, width and height G_MAXUINT. */
void gst_norva_bounds_init(BufferFrameBounds *bounds);

G_END_DECLS

/** The nick of `value` in the enumeration `type`, or null when the value is not part of it. */
const gchar *enum_value_nick(GType type, gint value);

/** Property ids: the index of the change marks and the id each element overrides the property under. */
enum NorvasrcPropId : guint {
    PROP_0 = 0,
    PROP_CONTEXT = 1,
    PROP_DMABUF_FD_LIST = 2,
    PROP_DMABUF_SIZE = 3,
    PROP_AWB_ENABLE = 4,
    PROP_DENOISER_LEVEL = 5,
    PROP_RED_BALANCE = 6,
    PROP_BLUE_BALANCE = 7,
    PROP_BRIGHTNESS = 8,
    PROP_CONTRAST = 9,
    PROP_SATURATION = 10,
    PROP_SHARPNESS = 11,
    PROP_FF_MODE = 12,
    PROP_NIGHT_MODE = 13,
    PROP_WAVELENGTH = 14,
    PROP_BUF_MODE = 15,
    PROP_ALLOC_BUFFERS = 16,
    PROP_AWB_ALGORITHM = 17,
    PROP_AWB_MODE = 18,
    PROP_AWB_MEASURED_TEMPERATURE = 19,
    PROP_EXPOSURE_AUTO = 20,
    PROP_EXPOSURE_GAIN = 21,
    PROP_EXPOSURE_TIME = 22,
    PROP_EXPOSURE_TIME_STEP = 23,
    PROP_PREENQ_BUFFERS = 24,
    PROP_SENSOR = 25,
    PROP_SENSOR_FLIP = 26,
    PROP_SENSOR_MODE = 27,
    PROP_SETUP_FILE = 28,
    PROP_SETUP_FILE_CTX0 = 29,
    PROP_SETUP_FILE_CTX1 = 30,
    PROP_USE_DMABUF = 31,
    PROP_USE_MAPPED_DMABUF = 32,
    PROP_EXPOSURE_MIN_GAIN = 33,
    PROP_EXPOSURE_MAX_GAIN = 34,
    PROP_EXPOSURE_MIN_TIME = 35,
    PROP_EXPOSURE_MAX_TIME = 36,
    PROP_EXPOSURE_AUTO_LEVEL = 37,
    PROP_EXPOSURE_AUTO_MIN_GAIN = 38,
    PROP_EXPOSURE_AUTO_MAX_GAIN = 39,
    PROP_EXPOSURE_AUTO_MIN_TIME = 40,
    PROP_EXPOSURE_AUTO_MAX_TIME = 41,
    PROP_EXPOSURE_AUTO_TARGET_TIME = 42,
    PROP_EXPOSURE_AUTO_PRIORITY = 43,
    PROP_EXPOSURE_AUTO_WINDOW_BOTTOM = 44,
    PROP_EXPOSURE_AUTO_WINDOW_LEFT = 45,
    PROP_EXPOSURE_AUTO_WINDOW_RIGHT = 46,
    PROP_EXPOSURE_AUTO_WINDOW_TOP = 47,
    PROP_BOUNDS_X = 48,
    PROP_BOUNDS_Y = 49,
    PROP_BOUNDS_WIDTH = 50,
    PROP_BOUNDS_HEIGHT = 51,
    PROP_BLC_AUTO = 52,
    PROP_BLC_LEVEL = 53,
    PROP_RESTART_ON_ERROR = 54,
    PROP_MEASURED_FVALUE = 55,
    PROP_ADD_HISTOGRAM_META = 56,
    PROP_EXPOSURE_AUTO_TARGET_GAIN = 57,
    PROP_WAIT_RELEASE = 58,
    PROP_GMA_ENABLE = 59,
    PROP_WDR_AUTO = 60,
    PROP_WDR_LEVEL = 61,
    PROP_LAST = PROP_WDR_LEVEL,
};

/**
 * The property store of one element. Every value is in its property's type; the four writable gains in dB are
 * kept with their linear companion 10^(dB/20), which is what the exposure control receives. Guarded by the
 * element's object lock.
 */
struct NorvasrcProperties {
    guint context;
    gint buf_mode;
    gint awb_algorithm;
    guint alloc_buffers;
    guint preenq_buffers;
    gchar *sensor;
    gint sensor_flip;
    guint sensor_mode;
    gchar *setup_file;
    gchar *setup_file_ctx[2];
    gboolean use_dmabuf;
    gboolean use_mapped_dmabuf;
    BufferFrameBounds bounds;
    GValue dmabuf_fd_list;
    guint dmabuf_size;
    gfloat exposure_min_gain;
    gfloat exposure_max_gain;
    guint exposure_min_time;
    guint exposure_max_time;
    gboolean awb_enable;
    gfloat red_balance;
    gfloat blue_balance;
    gfloat brightness;
    gfloat contrast;
    gfloat saturation;
    gfloat sharpness;
    gint ff_mode;
    gboolean night_mode;
    gfloat wavelength;
    gint awb_mode;
    gfloat awb_measured_temperature;
    gboolean exposure_auto;
    gfloat exposure_gain_linear;
    gfloat exposure_gain;
    guint exposure_time;
    guint exposure_time_step;
    gfloat exposure_auto_level;
    gfloat exposure_auto_min_gain_linear;
    gfloat exposure_auto_min_gain;
    gfloat exposure_auto_max_gain_linear;
    gfloat exposure_auto_max_gain;
    gfloat exposure_auto_target_gain_linear;
    gfloat exposure_auto_target_gain;
    guint exposure_auto_min_time;
    guint exposure_auto_max_time;
    guint exposure_auto_target_time;
    gint exposure_auto_priority;
    gfloat exposure_auto_window_bottom;
    gfloat exposure_auto_window_left;
    gfloat exposure_auto_window_right;
    gfloat exposure_auto_window_top;
    gfloat focus_window[4]; /* bottom, left, right, top; set by an action signal, not a property */
    gboolean blc_auto;
    gfloat blc_level;
    gboolean restart_on_error;
    gfloat denoiser_level;
    gfloat measured_fvalue;
    gboolean add_histogram_meta;
    gboolean wait_release;
    gboolean gma_enable;
    gboolean wdr_auto;
    gfloat wdr_level;
    /** Set to 1 by every accepted change of the application, by property id; never cleared. */
    std::array<gint, PROP_LAST + 1> changed;
    /** Counts the values stored through the property table (setters, action signals, the capture parameters). */
    guint64 serial;
};

enum class PropertyKind { Boolean, UInt, Int, Float, Gain, Enum, String, FdList };
/** The highest element state in which a property may change: Null has no flag, None is read-only. */
enum class Mutability { None, Null, Paused, Playing };
enum class MessageKind { None, Float, UInt, EnabledDisabled, YesNo, EnumNick, String, ContextString, Gain };

/** One property: its definition, where its value lives and the debug message of its setter. */
struct PropertyDef {
    guint id;
    const char *name; /**< a format with the context number for the per-context setup files */
    const char *nick;
    const char *blurb;
    PropertyKind kind;
    GType (*enum_type)();
    double minimum;
    double maximum;
    double default_value;
    bool writable;
    Mutability mutability;
    size_t field;  /**< offset of the value in NorvasrcProperties */
    size_t linear; /**< offset of the linear companion of a gain, or kNoField */
    const char *setter;
    const char *message;
    MessageKind message_kind;
    bool pad_property; /**< belongs to GstNorvasrcPadProps */
    gint context;      /**< context number of a per-context setup file, else -1 */
};

constexpr size_t kNoField = static_cast<size_t>(-1);

/** The definition of a property id, or null for ids without a property. */
const PropertyDef *norvasrc_property_def(guint id);

/** Overrides the properties of both interfaces in an element class under their ids. */
void norvasrc_properties_override(GObjectClass *klass);

/** Sets every value to its default, clears the change marks and the focus window. */
void norvasrc_properties_init(NorvasrcProperties &store);
/** Frees the strings and the descriptor list. */
void norvasrc_properties_clear(NorvasrcProperties &store);

/** Whether a property with these flags may change while the element is in `state`. */
bool norvasrc_property_mutable_in(const GParamSpec *pspec, GstState state);

/**
 * Stores a new value, converting gains to their linear companion and a zero exposure-time step to 1, and logs
 * the setter's debug message in `category`. The caller holds the object lock and sets the change mark.
 */
void norvasrc_property_store(NorvasrcProperties &store, const PropertyDef &def, const GValue *value,
                             GstDebugCategory *category, GObject *object);
/** Copies the stored value of a property into `value`. */
void norvasrc_property_load(const NorvasrcProperties &store, const PropertyDef &def, GValue *value);

#endif /* GST_NORVASRC_PROPS_H */
