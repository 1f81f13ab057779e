// Plays a gst-launch-1.0 pipeline description that holds a norvasrc element and writes one CSV line per frame it
// delivers: the exposure time and gain the sensor reports (the element's "exposure-time" and "exposure-gain", read
// back after every frame while auto exposure is on), the brightness meta, the measured colour temperature
// ("awb-measured-temperature"), the focus-value meta and the mean red, green, blue of one neutral patch of the test
// chart in the decoded output (packed 8-bit RGB such as BGR). At the end it prints how the loops settled.
//   norva_frames --csv FILE [--patch N] [--chart WIDTHxHEIGHT] [--] PIPELINE-DESCRIPTION...
// The description is what gst-launch-1.0 takes. Exit status: 0 the stream ended (EOS), 1 the pipeline failed,
// 2 wrong command line.
#include <gst/gst.h>
#include <gst/video/video.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "frame_log.h"
#include "gstnorvameta.h"
#include "norvacommon/regular_file.h"

namespace {

using norva_tools::FrameRecord;

struct Options {
    std::string csv;
    int patch = 2;                            // level 0.2, near the 18 % of a photographer's grey card
    uint32_t chartWidth = 0, chartHeight = 0; // 0: the output's size
    std::vector<char *> description;
};

int usage(const char *why) {
    if (why != nullptr)
        std::fprintf(stderr, "norva_frames: %s\n", why);
    std::fprintf(stderr, "Usage: norva_frames --csv FILE [--patch N] [--chart WIDTHxHEIGHT] [--] PIPELINE...\n"
                         "  --csv FILE     one line per frame of the pipeline's norvasrc element\n"
                         "  --patch N      the neutral patch measured, 0 (darkest) to 5 (brightest), default 2\n"
                         "  --chart WxH    the size at which the sensor sees the test chart (default: the output's)\n");
    return 2;
}

bool parseSize(const char *text, uint32_t *w, uint32_t *h) {
    unsigned long a = 0, b = 0;
    char x = 0, end = 0;
    if (std::sscanf(text, "%lu%c%lu%c", &a, &x, &b, &end) != 3 || x != 'x' || a == 0 || b == 0 || a > 65536 ||
        b > 65536)
        return false;
    *w = static_cast<uint32_t>(a);
    *h = static_cast<uint32_t>(b);
    return true;
}

/** What the probe on norvasrc's source pad shares with the main thread. */
struct Probe {
    GstElement *pipeline = nullptr;
    GstElement *source = nullptr;
    const Options *options = nullptr;
    FILE *csv = nullptr;
    std::mutex mutex; // settle, video info
    /** How the loops settle, followed frame by frame in memory taken once (the CSV file has every frame). */
    norva_tools::SettleTracker settle;
    GstVideoInfo info;
    bool infoValid = false;
    bool formatRefused = false;
    norva_tools::PixelRect window;
};

void refuse(Probe *p, const std::string &why) {
    GError *error = g_error_new_literal(GST_STREAM_ERROR, GST_STREAM_ERROR_FORMAT, why.c_str());
    gst_element_post_message(p->pipeline, gst_message_new_error(GST_OBJECT(p->source), error, nullptr));
    g_error_free(error);
}

/** Takes the negotiated caps; false (and an error on the bus) for an output the patch cannot be read from. */
bool takeCaps(Probe *p, GstCaps *caps) {
    GstVideoInfo info;
    if (!gst_video_info_from_caps(&info, caps)) {
        refuse(p, "norva_frames: the output of norvasrc is not raw video");
        return false;
    }
    const GstVideoFormatInfo *f = info.finfo;
    if (!GST_VIDEO_FORMAT_INFO_IS_RGB(f) || GST_VIDEO_FORMAT_INFO_N_PLANES(f) != 1 ||
        GST_VIDEO_FORMAT_INFO_DEPTH(f, 0) != 8 || GST_VIDEO_FORMAT_INFO_DEPTH(f, 1) != 8 ||
        GST_VIDEO_FORMAT_INFO_DEPTH(f, 2) != 8) {
        refuse(p, std::string("norva_frames: the output of norvasrc is ") + GST_VIDEO_FORMAT_INFO_NAME(f) +
                      "; the patch is measured on packed 8-bit RGB (for example BGR)");
        return false;
    }
    const uint32_t w = GST_VIDEO_INFO_WIDTH(&info), h = GST_VIDEO_INFO_HEIGHT(&info);
    const uint32_t cw = p->options->chartWidth != 0 ? p->options->chartWidth : w;
    const uint32_t ch = p->options->chartHeight != 0 ? p->options->chartHeight : h;
    const norva_tools::PixelRect window = norva_tools::NeutralPatchWindow(cw, ch, w, h, p->options->patch);
    if (window.w == 0 || window.h == 0) {
        refuse(p, "norva_frames: no neutral patch " + std::to_string(p->options->patch) + " in a chart of " +
                      std::to_string(cw) + "x" + std::to_string(ch));
        return false;
    }
    std::lock_guard<std::mutex> lock(p->mutex);
    p->info = info;
    p->infoValid = true;
    p->window = window;
    return true;
}

template <typename Meta> const Meta *metaOf(GstBuffer *buffer, GType api) {
    return reinterpret_cast<const Meta *>(gst_buffer_get_meta(buffer, api));
}

void record(Probe *p, GstBuffer *buffer) {
    FrameRecord r;
    guint exposure = 0;
    gfloat gainDb = 0.0f, temperature = 0.0f;
    g_object_get(p->source, "exposure-time", &exposure, "exposure-gain", &gainDb, "awb-measured-temperature",
                 &temperature, nullptr);
    r.exposureUs = exposure;
    r.gain = std::pow(10.0, double(gainDb) / 20.0);
    r.temperature = temperature;
    if (const auto *m = metaOf<GstNorvaCurrentBrightnessMeta>(buffer, gst_norva_current_brightness_meta_api_get_type()))
        r.brightness = m->brightness;
    if (const auto *m = metaOf<GstFocusValueMeta>(buffer, gst_focus_value_meta_api_get_type()))
        r.focus = m->value;
    std::lock_guard<std::mutex> lock(p->mutex);
    if (!p->infoValid)
        return;
    GstVideoFrame frame;
    if (gst_video_frame_map(&frame, &p->info, buffer, GST_MAP_READ)) {
        norva_tools::PackedRgb image;
        image.data = static_cast<const uint8_t *>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 0));
        image.width = GST_VIDEO_FRAME_WIDTH(&frame);
        image.height = GST_VIDEO_FRAME_HEIGHT(&frame);
        image.rowStride = static_cast<size_t>(GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 0));
        image.pixelStride = static_cast<unsigned>(GST_VIDEO_FRAME_COMP_PSTRIDE(&frame, 0));
        for (int c = 0; c < 3; c++)
            image.offsets[c] = GST_VIDEO_FORMAT_INFO_POFFSET(p->info.finfo, c);
        norva_tools::MeanRgb(image, p->window, r.rgb);
        gst_video_frame_unmap(&frame);
    }
    r.frame = p->settle.frames();
    p->settle.add(r);
    std::fprintf(p->csv, "%s\n", norva_tools::CsvLine(r).c_str());
}

GstPadProbeReturn onData(GstPad *, GstPadProbeInfo *info, gpointer data) {
    Probe *p = static_cast<Probe *>(data);
    if ((info->type & GST_PAD_PROBE_TYPE_BUFFER) != 0) {
        record(p, GST_PAD_PROBE_INFO_BUFFER(info));
    } else if ((info->type & GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM) != 0) {
        GstEvent *event = GST_PAD_PROBE_INFO_EVENT(info);
        if (GST_EVENT_TYPE(event) == GST_EVENT_CAPS) {
            GstCaps *caps = nullptr;
            gst_event_parse_caps(event, &caps);
            if (!takeCaps(p, caps))
                return GST_PAD_PROBE_DROP;
        }
    }
    return GST_PAD_PROBE_OK;
}

/** The first norvasrc of the pipeline (a new reference), or null. */
GstElement *findSource(GstElement *pipeline) {
    if (!GST_IS_BIN(pipeline)) {
        GstElementFactory *f = gst_element_get_factory(pipeline);
        return f != nullptr && g_strcmp0(GST_OBJECT_NAME(f), "norvasrc") == 0 ? GST_ELEMENT(gst_object_ref(pipeline))
                                                                              : nullptr;
    }
    GstElement *found = nullptr;
    GstIterator *it = gst_bin_iterate_recurse(GST_BIN(pipeline));
    GValue item = G_VALUE_INIT;
    while (found == nullptr && gst_iterator_next(it, &item) == GST_ITERATOR_OK) {
        GstElement *e = GST_ELEMENT(g_value_get_object(&item));
        GstElementFactory *f = gst_element_get_factory(e);
        if (f != nullptr && g_strcmp0(GST_OBJECT_NAME(f), "norvasrc") == 0)
            found = GST_ELEMENT(gst_object_ref(e));
        g_value_reset(&item);
    }
    g_value_unset(&item);
    gst_iterator_free(it);
    return found;
}

/** Runs the pipeline until EOS or an error; true at EOS. Errors are printed as gst-launch-1.0 prints them. */
bool play(GstElement *pipeline) {
    if (gst_element_set_state(pipeline, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
        // The reason, if any, is on the bus.
        std::fprintf(stderr, "ERROR: pipeline doesn't want to play.\n");
    }
    GstBus *bus = gst_element_get_bus(pipeline);
    bool eos = false, done = false;
    while (!done) {
        GstMessage *m = gst_bus_timed_pop_filtered(bus, GST_CLOCK_TIME_NONE,
                                                   static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
        if (m == nullptr)
            break;
        if (GST_MESSAGE_TYPE(m) == GST_MESSAGE_EOS) {
            eos = done = true;
        } else {
            GError *error = nullptr;
            gchar *debug = nullptr;
            gst_message_parse_error(m, &error, &debug);
            std::fprintf(stderr, "ERROR: from element %s: %s\n", GST_OBJECT_NAME(GST_MESSAGE_SRC(m)), error->message);
            if (debug != nullptr)
                std::fprintf(stderr, "Additional debug info:\n%s\n", debug);
            g_clear_error(&error);
            g_free(debug);
            done = true;
        }
        gst_message_unref(m);
    }
    gst_object_unref(bus);
    gst_element_set_state(pipeline, GST_STATE_NULL);
    return eos;
}

} // namespace

int main(int argc, char **argv) {
    gst_init(&argc, &argv);
    Options options;
    bool endOfOptions = false;
    for (int i = 1; i < argc; i++) {
        const char *a = argv[i];
        if (!endOfOptions && std::strcmp(a, "--") == 0) {
            endOfOptions = true;
        } else if (!endOfOptions && (std::strcmp(a, "-h") == 0 || std::strcmp(a, "--help") == 0)) {
            usage(nullptr);
            return 0;
        } else if (!endOfOptions && std::strcmp(a, "--csv") == 0 && i + 1 < argc) {
            options.csv = argv[++i];
        } else if (!endOfOptions && std::strcmp(a, "--patch") == 0 && i + 1 < argc) {
            const char *v = argv[++i];
            if (std::strlen(v) != 1 || v[0] < '0' || v[0] > '5')
                return usage("--patch takes 0 to 5");
            options.patch = v[0] - '0';
        } else if (!endOfOptions && std::strcmp(a, "--chart") == 0 && i + 1 < argc) {
            if (!parseSize(argv[++i], &options.chartWidth, &options.chartHeight))
                return usage("--chart takes WIDTHxHEIGHT");
        } else if (!endOfOptions && a[0] == '-' && a[1] == '-') {
            return usage((std::string("unknown option or missing value: ") + a).c_str());
        } else {
            options.description.push_back(argv[i]);
        }
    }
    if (options.csv.empty())
        return usage("give the CSV file with --csv");
    if (options.description.empty())
        return usage("give a pipeline");
    options.description.push_back(nullptr);

    GError *error = nullptr;
    GstElement *pipeline = gst_parse_launchv(const_cast<const gchar **>(options.description.data()), &error);
    if (pipeline == nullptr || error != nullptr) {
        std::fprintf(stderr, "ERROR: pipeline could not be constructed: %s.\n",
                     error != nullptr ? error->message : "no pipeline");
        g_clear_error(&error);
        if (pipeline != nullptr)
            gst_object_unref(pipeline);
        return 1;
    }
    Probe probe;
    probe.pipeline = pipeline;
    probe.options = &options;
    probe.source = findSource(pipeline);
    if (probe.source == nullptr) {
        std::fprintf(stderr, "ERROR: the pipeline has no norvasrc element.\n");
        gst_object_unref(pipeline);
        return 1;
    }
    probe.csv = QOR_CreateFile(options.csv.c_str(), "w");
    if (probe.csv == nullptr) {
        std::fprintf(stderr, "ERROR: cannot write %s: %s.\n", options.csv.c_str(), std::strerror(errno));
        gst_object_unref(probe.source);
        gst_object_unref(pipeline);
        return 1;
    }
    std::fprintf(probe.csv, "%s\n", norva_tools::CsvHeader());
    GstPad *pad = gst_element_get_static_pad(probe.source, "src");
    gst_pad_add_probe(pad,
                      static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM),
                      onData, &probe, nullptr);
    gst_object_unref(pad);

    const bool eos = play(pipeline);
    gst_object_unref(probe.source);
    gst_object_unref(pipeline);
    const bool written = QOR_CloseCreatedFile(probe.csv, options.csv.c_str(), 0) == 0;
    if (!written)
        std::fprintf(stderr, "ERROR: cannot write %s.\n", options.csv.c_str());
    if (eos && written)
        std::printf("%s\n", probe.settle.line().c_str());
    gst_deinit();
    return eos && written ? 0 : 1;
}
