// Calibrates a sensor of the simulated board the way a tuning engineer does on a bench: it films a dark frame, flat
// fields and the colour chart under lights of several colour temperatures through the norvasrc element (its Bayer
// data-extraction output, after the black level and before the lens shading and the white balance), measures them,
// and writes a setup file with the sensor's black level, white-balance corrections and lens-shading grids.
//
//   norva_calibrate [options] OUTPUT_FOLDER     (see usage() below)
//
// Writes OUTPUT_FOLDER/NAME.txt and the grid files OUTPUT_FOLDER/NAME/lsh_<kelvin>K.lsh; the setup file names the
// grids by the path given on the command line, so the stack finds them from the folder the tool ran in. Prints what
// it measured. Exit status: 0 done, 1 a measurement or a file failed, 2 wrong command line.
#include <gst/gst.h>
#include <gst/video/video.h>

#include <unistd.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "calibration.h"
#include "mc/mc_lsh.h"
#include "norvacommon/lshgrid.h"
#include "norvacommon/regular_file.h"
#include "norvacommon/userlog.h"
#include "platform/sim_chart.h"
#include "platform/sim_world.h"

extern "C" void gst_plugin_norvasrc_register(void);

using namespace norva_calibration;

namespace {

/** The project's reference setup file (the source tree's data/setup/reference.txt). */
const char *const kReferenceSetup = NORVA_REFERENCE_SETUP;
/** Frames a capture may take before two in a row agree. */
constexpr unsigned kMaxFrames = 12;
/** Pixels left out along the sides of a patch, so that its measure keeps clear of its border. */
constexpr unsigned kPatchInset = 8;

struct Options {
    std::string sensor = "OV4689_0";
    unsigned mode = 0;
    std::vector<double> temperatures = {2800, 3000, 4000, 5000, 6500, 7500};
    std::vector<double> shadingTemperatures = {3000, 6500};
    unsigned tile = 0;
    std::string name;
    std::string base = kReferenceSetup;
    std::string out;
};

void usage(FILE *to) {
    std::fprintf(
        to,
        "Usage: norva_calibrate [options] OUTPUT_FOLDER\n"
        "Films a sensor of the simulated board through the norvasrc element (a dark frame, then a flat field and the\n"
        "colour chart under each light) and writes OUTPUT_FOLDER/NAME.txt, a setup file with the measured black\n"
        "level, white-balance corrections (WB_CORRECTIONS) and lens-shading grids (LSH_CTRL_CORRECTIONS), and the\n"
        "grid files OUTPUT_FOLDER/NAME/lsh_<kelvin>K.lsh, which the setup file names by that path: run the stack from\n"
        "the folder the tool ran in.\n"
        "  --sensor NAME          registry name of the sensor (default OV4689_0)\n"
        "  --mode N               sensor mode (default 0); the grids fit that mode's frame\n"
        "  --temperatures LIST    colour temperatures in kelvin, comma-separated, at least two\n"
        "                         (default 2800,3000,4000,5000,6500,7500)\n"
        "  --shading LIST         the temperatures whose flat fields become lens-shading grids, among the above\n"
        "                         (default 3000,6500)\n"
        "  --tile N               grid tile in colour-filter cells, a power of two (default: 20 to 40 tiles across)\n"
        "  --name NAME            file names (default: the sensor's name in lower case without its slot)\n"
        "  --base FILE            the setup file the calibrated one is based on (default the reference setup)\n"
        "The simulated board carries the sensor (NORVA_SIM_SENSORS); the tool sets the light and the scene itself.\n");
}

bool parseList(const std::string &text, std::vector<double> *out) {
    out->clear();
    std::stringstream in(text);
    std::string item;
    while (std::getline(in, item, ',')) {
        char *end = nullptr;
        const double v = std::strtod(item.c_str(), &end);
        if (item.empty() || *end != '\0' || !std::isfinite(v))
            return false;
        out->push_back(v);
    }
    std::sort(out->begin(), out->end());
    return !out->empty() && std::adjacent_find(out->begin(), out->end()) == out->end();
}

bool parseUnsigned(const char *text, unsigned *out) {
    char *end = nullptr;
    errno = 0;
    const unsigned long v = std::strtoul(text, &end, 10);
    if (*text == '\0' || *text == '-' || *end != '\0' || errno != 0 || v > 65535)
        return false;
    *out = static_cast<unsigned>(v);
    return true;
}

/** 0 parsed, 1 help printed, 2 wrong command line (said why). */
int parseOptions(int argc, char **argv, Options *o) {
    for (int i = 1; i < argc; i++) {
        const std::string a = argv[i];
        const bool hasValue = i + 1 < argc;
        const auto bad = [&](const char *why) {
            std::fprintf(stderr, "norva_calibrate: %s: %s\n", a.c_str(), why);
            return 2;
        };
        if (a == "--help" || a == "-h") {
            usage(stdout);
            return 1;
        } else if (a == "--sensor" && hasValue) {
            o->sensor = argv[++i];
        } else if (a == "--mode" && hasValue) {
            if (!parseUnsigned(argv[++i], &o->mode))
                return bad("not a mode number");
        } else if (a == "--temperatures" && hasValue) {
            if (!parseList(argv[++i], &o->temperatures) || o->temperatures.size() < 2 || o->temperatures.size() > 20)
                return bad("not a list of 2 to 20 different temperatures");
        } else if (a == "--shading" && hasValue) {
            if (!parseList(argv[++i], &o->shadingTemperatures))
                return bad("not a list of different temperatures");
        } else if (a == "--tile" && hasValue) {
            if (!parseUnsigned(argv[++i], &o->tile) || o->tile < 16 || (o->tile & (o->tile - 1)) != 0)
                return bad("not a power of two from 16 on");
        } else if (a == "--name" && hasValue) {
            o->name = argv[++i];
            if (o->name.empty() || o->name.find_first_of("/ \t") != std::string::npos)
                return bad("a name without blanks or slashes");
        } else if (a == "--base" && hasValue) {
            o->base = argv[++i];
        } else if (!a.empty() && a[0] == '-') {
            return bad("unknown option, or its value is missing (--help lists them)");
        } else if (o->out.empty()) {
            o->out = a;
        } else {
            return bad("one output folder only");
        }
    }
    if (o->out.empty()) {
        usage(stderr);
        return 2;
    }
    // The setup file holds the grids' paths as single words.
    if (o->out.find_first_of(" \t") != std::string::npos) {
        std::fprintf(stderr, "norva_calibrate: %s: the output folder's path must not hold blanks\n", o->out.c_str());
        return 2;
    }
    for (double t : o->temperatures)
        if (t < norva_sim::kMinIlluminant || t > norva_sim::kMaxIlluminant) {
            std::fprintf(stderr, "norva_calibrate: %g K: the simulated light spans %g to %g K\n", t,
                         norva_sim::kMinIlluminant, norva_sim::kMaxIlluminant);
            return 2;
        }
    for (double t : o->shadingTemperatures)
        if (std::find(o->temperatures.begin(), o->temperatures.end(), t) == o->temperatures.end()) {
            std::fprintf(stderr, "norva_calibrate: --shading %g: not among the measured temperatures\n", t);
            return 2;
        }
    if (o->name.empty()) {
        std::string n = o->sensor.substr(0, o->sensor.rfind('_'));
        for (char &c : n)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        o->name = n;
        if (n.empty() || n.find_first_of("/ \t") != std::string::npos) {
            std::fprintf(stderr, "norva_calibrate: give the files a name with --name\n");
            return 2;
        }
    }
    return 0;
}

/** Runs the element on the sensor and hands out the first frame that the next one repeats. */
class Bench {
public:
    explicit Bench(const Options &o) : options_(o) {}

    /**
     * One capture of Bayer data with the exposure and gain given (auto exposure and white balance off) and the setup
     * file given: frames until two in a row agree, the last of them in *frame.
     */
    bool capture(const std::string &setup, double exposureUs, double gain, BayerFrame *frame, std::string *error) {
        Grab grab;
        if (!run(setup, exposureUs, gain, "video/x-bayer,format=(string){bggr12nrv,rggb12nrv,grbg12nrv,gbrg12nrv}",
                 &grab, error))
            return false;
        *frame = std::move(grab.bayer);
        return true;
    }
    /** The same for the display output, BGRx at the sensor's size. */
    bool capture(const std::string &setup, double exposureUs, double gain, unsigned width, unsigned height,
                 RgbImage *image, std::string *error) {
        Grab grab;
        const std::string caps =
            "video/x-raw,format=BGRx,width=" + std::to_string(width) + ",height=" + std::to_string(height);
        if (!run(setup, exposureUs, gain, caps, &grab, error))
            return false;
        *image = std::move(grab.rgb);
        return true;
    }

private:
    /** What the streaming thread hands over. */
    struct Grab {
        std::mutex mutex;
        GstElement *sink = nullptr;
        unsigned frames = 0;
        bool settled = false;
        double previous[4] = {};
        BayerFrame bayer;
        RgbImage rgb;
        std::string error;
    };

    bool run(const std::string &setup, double exposureUs, double gain, const std::string &capsText, Grab *grabbed,
             std::string *error) {
        GstElement *pipeline = gst_pipeline_new("calibration");
        GstElement *src = gst_element_factory_make("norvasrc", nullptr);
        GstElement *filter = gst_element_factory_make("capsfilter", nullptr);
        GstElement *sink = gst_element_factory_make("fakesink", nullptr);
        if (src == nullptr || filter == nullptr || sink == nullptr) {
            *error = "GStreamer lacks an element (norvasrc, capsfilter or fakesink)";
            for (GstElement *e : {src, filter, sink})
                if (e != nullptr)
                    gst_object_unref(e);
            gst_object_unref(pipeline);
            return false;
        }
        gst_bin_add_many(GST_BIN(pipeline), src, filter, sink, nullptr);
        gst_element_link_many(src, filter, sink, nullptr);
        char number[32];
        gst_util_set_object_arg(G_OBJECT(src), "sensor", options_.sensor.c_str());
        std::snprintf(number, sizeof number, "%u", options_.mode);
        gst_util_set_object_arg(G_OBJECT(src), "sensor-mode", number);
        gst_util_set_object_arg(G_OBJECT(src), "setup-file", setup.c_str());
        gst_util_set_object_arg(G_OBJECT(src), "exposure-auto", "false");
        gst_util_set_object_arg(G_OBJECT(src), "awb-enable", "false");
        std::snprintf(number, sizeof number, "%u", static_cast<unsigned>(std::lround(exposureUs)));
        gst_util_set_object_arg(G_OBJECT(src), "exposure-time", number);
        std::snprintf(number, sizeof number, "%.4f", 20.0 * std::log10(std::max(gain, 1.0)));
        gst_util_set_object_arg(G_OBJECT(src), "exposure-gain", number);
        std::snprintf(number, sizeof number, "%u", kMaxFrames);
        gst_util_set_object_arg(G_OBJECT(src), "num-buffers", number);
        GstCaps *caps = gst_caps_from_string(capsText.c_str());
        g_object_set(filter, "caps", caps, nullptr);
        gst_caps_unref(caps);
        g_object_set(sink, "signal-handoffs", TRUE, "sync", FALSE, nullptr);

        Grab &grab = *grabbed;
        grab.sink = sink;
        g_signal_connect(sink, "handoff", G_CALLBACK(onHandoff), &grab);
        bool ok = false;
        if (gst_element_set_state(pipeline, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
            *error = "the pipeline does not start";
        }
        GstBus *bus = gst_element_get_bus(pipeline);
        for (bool waiting = error->empty(); waiting;) {
            const auto types =
                static_cast<GstMessageType>(GST_MESSAGE_ERROR | GST_MESSAGE_EOS | GST_MESSAGE_APPLICATION);
            GstMessage *m = gst_bus_timed_pop_filtered(bus, 120 * GST_SECOND, types);
            waiting = false;
            if (m == nullptr) {
                *error = "no frame for 120 s";
            } else if (GST_MESSAGE_TYPE(m) == GST_MESSAGE_ERROR) {
                GError *e = nullptr;
                gchar *debug = nullptr;
                gst_message_parse_error(m, &e, &debug);
                *error =
                    std::string(e != nullptr ? e->message : "error") + (debug ? std::string(" (") + debug + ")" : "");
                g_clear_error(&e);
                g_free(debug);
            } else if (GST_MESSAGE_TYPE(m) == GST_MESSAGE_EOS) {
                std::lock_guard<std::mutex> lock(grab.mutex);
                *error = grab.error.empty() ? "the frames did not settle in " + std::to_string(kMaxFrames) + " frames"
                                            : grab.error;
            } else if (GST_MESSAGE_TYPE(m) == GST_MESSAGE_APPLICATION) {
                ok = true;
            } else {
                waiting = true;
            }
            if (m != nullptr)
                gst_message_unref(m);
        }
        gst_object_unref(bus);
        gst_element_set_state(pipeline, GST_STATE_NULL);
        gst_object_unref(pipeline);
        return ok;
    }

    static void onHandoff(GstElement * /*sink*/, GstBuffer *buffer, GstPad *pad, gpointer data) {
        Grab &g = *static_cast<Grab *>(data);
        std::lock_guard<std::mutex> lock(g.mutex);
        if (g.settled || !g.error.empty())
            return;
        if (GST_BUFFER_FLAG_IS_SET(buffer, GST_BUFFER_FLAG_CORRUPTED))
            return;
        GstCaps *caps = gst_pad_get_current_caps(pad);
        const GstStructure *s = caps != nullptr ? gst_caps_get_structure(caps, 0) : nullptr;
        const gchar *format = s != nullptr ? gst_structure_get_string(s, "format") : nullptr;
        gint width = 0, height = 0;
        if (s != nullptr) {
            gst_structure_get_int(s, "width", &width);
            gst_structure_get_int(s, "height", &height);
        }
        const bool bayer = s != nullptr && gst_structure_has_name(s, "video/x-bayer");
        const std::string name = format != nullptr ? format : "";
        if (caps != nullptr)
            gst_caps_unref(caps);
        const GstVideoMeta *meta = gst_buffer_get_video_meta(buffer);
        const size_t offset = meta != nullptr ? meta->offset[0] : 0;
        const size_t packed = bayer ? (size_t(width) + 1) / 2 * 3 : size_t(width) * 4;
        const size_t stride = meta != nullptr && meta->stride[0] > 0 ? size_t(meta->stride[0]) : packed;
        GstMapInfo map;
        if (!gst_buffer_map(buffer, &map, GST_MAP_READ)) {
            g.error = "a buffer cannot be read";
            return;
        }
        BayerFrame frame;
        RgbImage image;
        const bool unpacked =
            width > 0 && height > 0 &&
            (bayer ? UnpackBayer12(map.data, map.size, offset, stride, unsigned(width), unsigned(height),
                                   name.substr(0, 4), &frame)
                   : UnpackBgrx(map.data, map.size, offset, stride, unsigned(width), unsigned(height), &image));
        gst_buffer_unmap(buffer, &map);
        if (!unpacked) {
            g.error = "a " + std::to_string(width) + "x" + std::to_string(height) + " " + name +
                      " buffer does not hold its frame";
            return;
        }
        // Settled: the middle of this frame repeats the previous one's within 0.2 % on every plane or channel.
        double now[4] = {};
        if (bayer) {
            MeanPlanes(frame, frame.cellsX() / 4, frame.cellsY() / 4, frame.cellsX() * 3 / 4, frame.cellsY() * 3 / 4,
                       now);
        } else {
            const Rgb c =
                MeanRgb(image, Rect{image.width / 4, image.height / 4, image.width * 3 / 4, image.height * 3 / 4});
            now[0] = c.r, now[1] = c.g, now[2] = c.b;
        }
        bool same = ++g.frames >= 3;
        for (int p = 0; p < 4; p++)
            same = same && std::fabs(now[p] - g.previous[p]) <= 0.002 * std::max(g.previous[p], 8.0);
        std::copy(now, now + 4, g.previous);
        if (!same)
            return;
        g.settled = true;
        g.bayer = std::move(frame);
        g.rgb = std::move(image);
        gst_element_post_message(g.sink,
                                 gst_message_new_application(GST_OBJECT(g.sink), gst_structure_new_empty("settled")));
    }

    const Options &options_;
};

/** Exposure and gain of one capture; carried from one light to the next as the first guess. */
struct Exposure {
    double us = 10000;
    double gain = 1.0;
};

/**
 * Captures with the exposure that puts `brightest` (codes) between 35 and 85 % of full scale, aiming at 60 %.
 * When a longer exposure brings no more light the sensor is at its longest: the rest goes into gain.
 */
bool metered(Bench &bench, const std::string &setup, Exposure *e,
             const std::function<double(const BayerFrame &)> &brightest, BayerFrame *frame, const char *what,
             std::string *error) {
    double lastUs = 0, lastLevel = 0;
    for (int attempt = 0; attempt < 8; attempt++) {
        if (!bench.capture(setup, e->us, e->gain, frame, error)) {
            *error = std::string(what) + ": " + *error;
            return false;
        }
        const double level = brightest(*frame) / frame->fullScale();
        if (level >= 0.35 && level <= 0.85)
            return true;
        const double factor = level > 0.85 ? 0.3 : 0.6 / std::max(level, 1e-3);
        if (factor > 1 && attempt > 0 && e->us > 1.05 * lastUs && level < 1.02 * lastLevel) {
            // No more light from a longer exposure: back to the last one, the rest in gain.
            e->us = lastUs;
            e->gain = std::min(16.0, e->gain * factor);
        } else if (factor < 1 && e->gain > 1.0) {
            e->gain = std::max(1.0, e->gain * factor);
        } else {
            lastUs = e->us;
            e->us = std::max(10.0, e->us * factor);
        }
        lastLevel = level;
    }
    *error = std::string(what) + ": no exposure puts it between 35 and 85 % of full scale";
    return false;
}

/** Writes the whole text into a new file; false, and no file left, when it cannot all be written. */
bool writeFile(const std::string &path, const std::string &text) {
    std::FILE *f = QOR_CreateFile(path.c_str(), "wb");
    if (f == nullptr)
        return false;
    const bool written = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    return QOR_CloseCreatedFile(f, path.c_str(), !written) == 0;
}

/** Reads a regular file whole; false for anything else (a FIFO or a device is refused at once). */
bool readFile(const std::string &path, std::string *text) {
    std::FILE *f = QOR_OpenRegularFile(path.c_str(), "rb");
    if (f == nullptr)
        return false;
    text->clear();
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
        text->append(buf, n);
    const bool ok = std::ferror(f) == 0;
    std::fclose(f);
    return ok;
}

bool makeFolder(const std::string &path) { return ::mkdir(path.c_str(), 0755) == 0 || errno == EEXIST; }

std::string kelvinList(const std::vector<double> &t) {
    std::string s;
    for (size_t i = 0; i < t.size(); i++)
        s += (i == 0 ? "" : i + 1 == t.size() ? " and " : ", ") + std::to_string(static_cast<long>(std::lround(t[i])));
    return s;
}

/** The largest channel of the chart's neutral and colour patches (the light source excluded). */
double brightestPatch(const BayerFrame &f) {
    const norva_sim::ChartLayout l = norva_sim::ChartLayoutOf(f.width, f.height);
    double top = 0;
    for (int i = 0; i < norva_sim::ChartLayout::kPatches; i++)
        for (const norva_sim::ChartRect &r : {l.grey[i], l.colour[i]}) {
            const Rgb c = MeanRgb(f, Rect{r.x, r.y, r.x + r.w, r.y + r.h}, kPatchInset);
            top = std::max({top, c.r, c.g, c.b});
        }
    return top;
}

/** The largest plane of the middle of a flat field, its brightest part. */
double brightestMiddle(const BayerFrame &f) {
    double m[4];
    MeanPlanes(f, f.cellsX() * 3 / 8, f.cellsY() * 3 / 8, f.cellsX() * 5 / 8, f.cellsY() * 5 / 8, m);
    return *std::max_element(m, m + 4);
}

/** What was measured under one light. */
struct Measured {
    double kelvin = 0;
    Exposure flat; /* of the flat field */
    LSH_GRID grid{};
    WhiteBalancePoint wb;
};

/** The grids measured so far, freed with it. */
struct MeasuredSet {
    std::vector<Measured> lights;
    ~MeasuredSet() {
        for (Measured &m : lights)
            LSH_Free(&m.grid);
    }
};

/** A folder of the process's own for the setup files the element is given while measuring; removed with it. */
struct Scratch {
    std::string folder;
    std::vector<std::string> files;
    bool make() {
        const char *tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/norva_calibrate.XXXXXX";
        if (::mkdtemp(&pattern[0]) == nullptr)
            return false;
        folder = pattern;
        return true;
    }
    /** Writes a file into the folder; its path, or "" when it cannot be written. */
    std::string write(const std::string &name, const std::string &text) {
        const std::string path = folder + "/" + name;
        files.push_back(path);
        return writeFile(path, text) ? path : "";
    }
    ~Scratch() {
        for (const std::string &f : files)
            std::remove(f.c_str());
        if (!folder.empty())
            ::rmdir(folder.c_str());
    }
};

std::string blackLevelSetup(const int black[4]) {
    return "BLC_SENSOR_BLACK " + std::to_string(black[0]) + " " + std::to_string(black[1]) + " " +
           std::to_string(black[2]) + " " + std::to_string(black[3]) + "\n";
}

Rect rectOf(const norva_sim::ChartRect &r) { return Rect{r.x, r.y, r.x + r.w, r.y + r.h}; }

std::string kelvinText(double kelvin) { return std::to_string(std::lround(kelvin)) + " K"; }

/**
 * White balance under one light from the chart's frame and the light's shading grid: the gains from the neutral
 * patches that are lit well and do not come near the clip, the colour matrix fitted to the colour and those neutral
 * patches. Prints what it found.
 */
bool whiteBalance(const BayerFrame &chart, Measured *m, std::string *error) {
    const norva_sim::ChartLayout layout = norva_sim::ChartLayoutOf(chart.width, chart.height);
    std::vector<Rgb> neutrals;
    std::vector<double> levels;
    for (int i = 0; i < norva_sim::ChartLayout::kPatches; i++) {
        const Rgb raw = MeanRgb(chart, rectOf(layout.grey[i]), kPatchInset);
        if (std::max({raw.r, raw.g, raw.b}) > 0.9 * chart.fullScale() ||
            std::min({raw.r, raw.g, raw.b}) < 0.04 * chart.fullScale())
            continue;
        neutrals.push_back(MeanRgb(chart, rectOf(layout.grey[i]), kPatchInset, &m->grid));
        levels.push_back(norva_sim::kChartGreyLevels[i]);
    }
    if (neutrals.size() < 2) {
        *error = "fewer than two neutral patches are lit well enough without clipping";
        return false;
    }
    double rg = 0, bg = 0, spread = 0;
    for (const Rgb &n : neutrals) {
        rg += n.r / n.g / neutrals.size();
        bg += n.b / n.g / neutrals.size();
    }
    for (const Rgb &n : neutrals)
        spread = std::max({spread, std::fabs(n.r / n.g / rg - 1), std::fabs(n.b / n.g / bg - 1)});
    NeutralGains(Rgb{rg, 1.0, bg}, m->wb.gains);

    // The patches white-balanced and brought to the chart's levels by the neutral ones.
    double camera = 0, target = 0;
    for (size_t i = 0; i < neutrals.size(); i++) {
        camera += neutrals[i].g;
        target += levels[i];
    }
    const double scale = target / camera;
    const auto balanced = [&](const Rgb &v) {
        return Rgb{v.r * m->wb.gains[0] * scale, v.g * scale, v.b * m->wb.gains[3] * scale};
    };
    std::vector<Rgb> cam, want;
    for (int i = 0; i < norva_sim::ChartLayout::kPatches; i++) {
        cam.push_back(balanced(MeanRgb(chart, rectOf(layout.colour[i]), kPatchInset, &m->grid)));
        const double *t = norva_sim::kChartColourPatches[i];
        want.push_back(Rgb{t[0], t[1], t[2]});
    }
    for (size_t i = 0; i < neutrals.size(); i++) {
        cam.push_back(balanced(neutrals[i]));
        want.push_back(Rgb{levels[i], levels[i], levels[i]});
    }
    if (!FitColourMatrix(cam, want, m->wb.ccm)) {
        *error = "the colour patches do not determine a colour matrix";
        return false;
    }
    const double identity[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    double c[9]; // as printed: no "-0.000"
    for (int i = 0; i < 9; i++)
        c[i] = std::fabs(m->wb.ccm[i]) < 0.0005 ? 0.0 : m->wb.ccm[i];
    std::printf("        neutral R/G %.4f B/G %.4f (%zu patches, within %.2f %%): gains %.4f 1 1 %.4f\n"
                "        colour matrix %.3f %.3f %.3f / %.3f %.3f %.3f / %.3f %.3f %.3f: residual %.4f (identity "
                "%.4f)\n",
                rg, bg, neutrals.size(), 100 * spread, m->wb.gains[0], m->wb.gains[3], c[0], c[1], c[2], c[3], c[4],
                c[5], c[6], c[7], c[8], ColourResidual(cam, want, m->wb.ccm), ColourResidual(cam, want, identity));
    return true;
}

int run(const Options &o) {
    const auto fail = [](const std::string &why) {
        std::fprintf(stderr, "norva_calibrate: %s\n", why.c_str());
        return 1;
    };
    std::string baseText;
    if (!readFile(o.base, &baseText))
        return fail("cannot read the base setup file " + o.base);
    Scratch scratch;
    if (!scratch.make())
        return fail(std::string("no scratch folder: ") + std::strerror(errno));
    Bench bench(o);
    std::string error;

    // Black level: a dark frame with no black level taken off, then what is left with it taken off.
    norva_sim::SetScene(norva_sim::Scene::Chart);
    norva_sim::SetLightLevel(0.0);
    const int none[4] = {0, 0, 0, 0};
    std::string setup = scratch.write("dark.txt", blackLevelSetup(none));
    BayerFrame dark;
    if (setup.empty() || !bench.capture(setup, 10000, 1.0, &dark, &error))
        return fail("dark frame: " + error);
    double darkPlanes[4];
    MeanPlanes(dark, 0, 0, dark.cellsX(), dark.cellsY(), darkPlanes);
    Calibration c;
    for (int p = 0; p < 4; p++)
        c.sensorBlack[p] = static_cast<int>(std::lround(darkPlanes[p] / 16.0)); // 12-bit codes to 8-bit ones
    setup = scratch.write("measure.txt", blackLevelSetup(c.sensorBlack));
    if (setup.empty() || !bench.capture(setup, 10000, 1.0, &dark, &error))
        return fail("dark frame with the black level: " + error);
    const Rgb residue = MeanRgb(dark, Rect{0, 0, dark.width, dark.height}, 0);
    const unsigned tile = o.tile != 0 ? o.tile : DefaultTile(dark.cellsX());
    std::printf("%s, mode %u: %ux%u, %s; grid tile %u cells\n", o.sensor.c_str(), o.mode, dark.width, dark.height,
                dark.mosaic.c_str(), tile);
    std::printf("black level: a dark frame reads %.1f %.1f %.1f %.1f (12-bit codes): BLC_SENSOR_BLACK %d %d %d %d, "
                "after which it reads %.2f %.2f %.2f\n",
                darkPlanes[0], darkPlanes[1], darkPlanes[2], darkPlanes[3], c.sensorBlack[0], c.sensorBlack[1],
                c.sensorBlack[2], c.sensorBlack[3], residue.r, residue.g, residue.b);
    norva_sim::SetLightLevel(1.0);

    // Each light: a flat field for the shading, then the chart.
    MeasuredSet measured;
    Exposure flatExposure, chartExposure;
    for (double kelvin : o.temperatures) {
        norva_sim::SetIlluminant(kelvin);
        measured.lights.emplace_back();
        Measured &m = measured.lights.back();
        m.kelvin = m.wb.kelvin = kelvin;
        BayerFrame flat, chart;
        norva_sim::SetScene(norva_sim::Scene::Flat);
        if (!metered(bench, setup, &flatExposure, brightestMiddle, &flat, "flat field", &error))
            return fail(kelvinText(kelvin) + ": " + error);
        m.flat = flatExposure;
        if (!ShadingGrid(flat, tile, &m.grid))
            return fail("the flat field is too small for a grid of tile " + std::to_string(tile));
        std::printf("%s: flat field at %.0f us x %.2f: corners %.1f %% off the centre, %.2f %% with the grid\n",
                    kelvinText(kelvin).c_str(), flatExposure.us, flatExposure.gain, 100 * CornerError(flat, nullptr),
                    100 * CornerError(flat, &m.grid));
        norva_sim::SetScene(norva_sim::Scene::Chart);
        if (!metered(bench, setup, &chartExposure, brightestPatch, &chart, "chart", &error))
            return fail(kelvinText(kelvin) + ": " + error);
        std::printf("        chart at %.0f us x %.2f\n", chartExposure.us, chartExposure.gain);
        if (!whiteBalance(chart, &m, &error))
            return fail(kelvinText(kelvin) + ": " + error);
        for (int k = 0; k < 3; k++)
            m.wb.offsets[k] = -(k == 0 ? residue.r : k == 1 ? residue.g : residue.b);
        std::fflush(stdout);
    }

    // The files: the grids of the chosen temperatures, then the setup file.
    const std::string gridFolder = o.out + "/" + o.name;
    if (!makeFolder(o.out) || !makeFolder(gridFolder))
        return fail("cannot make the folder " + gridFolder + ": " + std::strerror(errno));
    for (const Measured &m : measured.lights) {
        c.whiteBalance.push_back(m.wb);
        if (std::find(o.shadingTemperatures.begin(), o.shadingTemperatures.end(), m.kelvin) ==
            o.shadingTemperatures.end())
            continue;
        ShadingPoint s;
        s.kelvin = m.kelvin;
        s.file = gridFolder + "/lsh_" + std::to_string(std::lround(m.kelvin)) + "K.lsh";
        int maxDiff = 0;
        c.bitsPerDiff = std::max<int>(c.bitsPerDiff, MC_LSHComputeMinBitdiff(&m.grid, &maxDiff));
        if (LSH_Save_bin(&m.grid, s.file.c_str()) != QOR_RES_OK)
            return fail("cannot write " + s.file);
        c.shading.push_back(s);
    }
    if (c.bitsPerDiff < 4 || c.bitsPerDiff > 10)
        return fail("the grids need " + std::to_string(c.bitsPerDiff) +
                    " bits per difference, 4 to 10 fit: try another --tile");

    c.header = CommentLines("Setup of the simulated " + o.sensor + " in sensor mode " + std::to_string(o.mode) + " (" +
                            std::to_string(dark.width) + "x" + std::to_string(dark.height) + ", " + dark.mosaic +
                            "), calibrated by tools/norva_calibrate (scripts/calibrate.sh runs it again; see the "
                            "README, \"Calibration\"): the black level from a dark frame, white balance from the "
                            "chart's neutral and colour patches under " +
                            kelvinList(o.temperatures) +
                            " K, lens shading from flat fields. The rest is the base setup it was made from. The grid "
                            "files are named relative to the folder the calibration ran in: run the stack from "
                            "there.") +
               "\n";
    c.blackComment = CommentLines("Black level of the sensor, measured on a dark frame (8-bit codes).");
    c.gamutClip = StatisticsGamutClip(dark.width, dark.height);
    c.gamutComment = CommentLines("Main gamut mapper: clipped at full scale, where the gamma curve clamps anyway, so "
                                  "that the white-balance statistics of the whole frame fit one measurement (not "
                                  "strips over several frames).");
    c.whiteBalanceComment = CommentLines(
        "White balance: per colour temperature, the gains that make the chart's neutral patches neutral (green 1; the "
        "lens shading taken out with the flat field's grid), the colour matrix fitted to the colour and neutral "
        "patches (rows summing to 1), and offsets taking off what the black level leaves of a dark frame.");
    c.shadingComment = CommentLines("Lens shading: one grid per colour temperature, the gains that bring each point of "
                                    "a flat field to the level of its centre (tile of " +
                                    std::to_string(tile) + " colour-filter cells).");
    const std::string setupPath = o.out + "/" + o.name + ".txt";
    const std::string text = SetupFileText(baseText, c);
    if (!writeFile(setupPath, text))
        return fail("cannot write " + setupPath);
    std::printf("wrote %s", setupPath.c_str());
    for (const ShadingPoint &sp : c.shading)
        std::printf(", %s", sp.file.c_str());
    std::printf(" (%d bits per difference)\n", c.bitsPerDiff);

    // The check through the whole stack: the flat field under the lowest grid's light, on the display output with
    // the new setup, is as bright in the corners as in the middle (with the base setup it is not).
    const Measured &first = *std::find_if(measured.lights.begin(), measured.lights.end(),
                                          [&](const Measured &m) { return m.kelvin == c.shading.front().kelvin; });
    norva_sim::SetIlluminant(first.kelvin);
    norva_sim::SetScene(norva_sim::Scene::Flat);
    double off[2] = {};
    const std::string setups[2] = {o.base, setupPath};
    for (int i = 0; i < 2; i++) {
        RgbImage shown;
        if (!bench.capture(setups[i], first.flat.us, first.flat.gain, dark.width, dark.height, &shown, &error))
            return fail("the check on the display output: " + error);
        off[i] = CornerError(shown);
    }
    std::printf("check: on the display output the flat field at %s has its corners within %.1f %% of its centre with "
                "the base setup, %.2f %% with the new one\n",
                kelvinText(c.shading.front().kelvin).c_str(), 100 * off[0], 100 * off[1]);
    if (off[1] > 0.02)
        return fail("the grids do not even the flat field out through the stack");
    return 0;
}

} // namespace

int main(int argc, char **argv) {
    Options o;
    const int parsed = parseOptions(argc, argv, &o);
    if (parsed != 0)
        return parsed == 1 ? 0 : 2;
    // While it measures, the setup lacks the calibration by design: the stack's warnings about it are not shown (a
    // level the user sets in NORVA_LOG_LEVEL wins).
    setenv("NORVA_LOG_LEVEL", "0", 0);
    LOG_SetLevel(LOG_LEVEL_ERROR);
    gst_init(nullptr, nullptr);
    gst_plugin_norvasrc_register();
    const int status = run(o);
    gst_deinit();
    return status;
}
