// norvamultisrc and the proxy source on the data generator of the simulated platform: the bin's surface against
// norvasrc's own (properties, pad properties, signals), request pads and the elements behind them, property and
// signal forwarding, then several branches of one capture: equal frames on every pad, one pad unlocked, stopped
// or released while the others stream, the slave context chosen through a pad, and shared memory kept read-only.
// The capture context comes before the check library, whose fail() macro would rename std::ios::fail.
#include "ispc/ControlAE.h"
#include "testcontext.h"

#include "norvasrc_workspace.h"

#include <dirent.h>

#include <cmath>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include <gst/allocators/gstdmabuf.h>
#include <gst/check/gstharness.h>

#include "gstnorvameta.h"
#include "gstnorvamultisrc.h"
#include "gstnorvamultisrcpad.h"
#include "gstnorvaproxysrc.h"
#include "gstnorvasrc.h"
#include "platform/sim_capture.h"
#include "platform/sim_pipeline.h"
#include "support/sim_pipeline_of.h"

extern "C" void gst_plugin_norvasrc_register(void);

using namespace norvasrc_test;

namespace {

/** The properties of a class that are not those of its GStreamer base (GstBaseSrc or GstBin). */
std::vector<GParamSpec *> ownProperties(GType type, GType base) {
    GObjectClass *klass = static_cast<GObjectClass *>(g_type_class_ref(type));
    GObjectClass *baseClass = static_cast<GObjectClass *>(g_type_class_ref(base));
    guint n = 0;
    GParamSpec **all = g_object_class_list_properties(klass, &n);
    std::vector<GParamSpec *> own;
    for (guint i = 0; i < n; ++i) {
        if (g_object_class_find_property(baseClass, all[i]->name) == nullptr)
            own.push_back(all[i]);
    }
    g_free(all);
    g_type_class_unref(baseClass);
    g_type_class_unref(klass);
    return own;
}

/** Fails unless two property definitions agree in type, flags, texts and default. */
void checkSameProperty(const GParamSpec *a, const GParamSpec *b) {
    fail_unless(G_PARAM_SPEC_TYPE(a) == G_PARAM_SPEC_TYPE(b), "%s: property type", a->name);
    fail_unless(a->value_type == b->value_type, "%s: value type", a->name);
    const guint flagMask = ~static_cast<guint>(G_PARAM_STATIC_STRINGS);
    fail_unless((a->flags & flagMask) == (b->flags & flagMask), "%s: flags %x and %x", a->name, a->flags, b->flags);
    fail_unless_equals_string(g_param_spec_get_nick(const_cast<GParamSpec *>(a)),
                              g_param_spec_get_nick(const_cast<GParamSpec *>(b)));
    fail_unless_equals_string(g_param_spec_get_blurb(const_cast<GParamSpec *>(a)),
                              g_param_spec_get_blurb(const_cast<GParamSpec *>(b)));
    fail_unless(g_param_values_cmp(const_cast<GParamSpec *>(a),
                                   g_param_spec_get_default_value(const_cast<GParamSpec *>(a)),
                                   g_param_spec_get_default_value(const_cast<GParamSpec *>(b))) == 0,
                "%s: default", a->name);
}

/** Name, flags, return and parameter types of every signal of a type, sorted by name. */
std::set<std::string> signalsOf(GType type) {
    guint n = 0;
    guint *ids = g_signal_list_ids(type, &n);
    std::set<std::string> out;
    for (guint i = 0; i < n; ++i) {
        GSignalQuery q;
        g_signal_query(ids[i], &q);
        std::string text =
            std::string(q.signal_name) + " " + std::to_string(q.signal_flags) + " " + g_type_name(q.return_type);
        for (guint p = 0; p < q.n_params; ++p)
            text += std::string(" ") + g_type_name(q.param_types[p]);
        out.insert(text);
    }
    g_free(ids);
    return out;
}

} // namespace

// The bin offers norvasrc's properties (the 54 element properties forwarded, the seven pad properties read from
// the internal source) with the same definitions, and the same six signals; its pads offer the pad properties,
// "context" and "current-context".
GST_START_TEST(test_surface) {
    const std::vector<GParamSpec *> source = ownProperties(GST_TYPE_NORVASRC, GST_TYPE_BASE_SRC);
    const std::vector<GParamSpec *> multi = ownProperties(GST_TYPE_NORVAMULTISRC, GST_TYPE_BIN);
    fail_unless_equals_int(source.size(), 61);
    fail_unless_equals_int(multi.size(), 61);
    GObjectClass *multiClass = static_cast<GObjectClass *>(g_type_class_ref(GST_TYPE_NORVAMULTISRC));
    GObjectClass *padClass = static_cast<GObjectClass *>(g_type_class_ref(GST_TYPE_NORVAMULTISRC_PAD));
    guint padProperties = 0;
    for (const GParamSpec *s : source) {
        const GParamSpec *m = g_object_class_find_property(multiClass, s->name);
        fail_unless(m != nullptr, "%s missing on the bin", s->name);
        checkSameProperty(m, s);
        const GParamSpec *p = g_object_class_find_property(padClass, s->name);
        const bool padProperty =
            s == g_object_interface_find_property(g_type_default_interface_peek(GST_TYPE_NORVASRC_PAD_PROPS), s->name);
        if (padProperty) {
            fail_unless(p != nullptr, "%s missing on the pads", s->name);
            checkSameProperty(p, s);
            ++padProperties;
        }
    }
    fail_unless_equals_int(padProperties, 7);
    const GParamSpec *context = g_object_class_find_property(padClass, "context");
    fail_unless(context != nullptr && context->value_type == G_TYPE_INT);
    fail_unless_equals_int(G_PARAM_SPEC_INT(context)->minimum, -1);
    fail_unless_equals_int(G_PARAM_SPEC_INT(context)->maximum, 1);
    fail_unless_equals_int(G_PARAM_SPEC_INT(context)->default_value, -1);
    fail_unless((context->flags & (GST_PARAM_MUTABLE_PLAYING | GST_PARAM_MUTABLE_PAUSED)) == 0);
    const GParamSpec *current = g_object_class_find_property(padClass, "current-context");
    fail_unless(current != nullptr && current->value_type == G_TYPE_UINT && !(current->flags & G_PARAM_WRITABLE));
    g_type_class_unref(padClass);
    g_type_class_unref(multiClass);

    fail_unless(signalsOf(GST_TYPE_NORVAMULTISRC) == signalsOf(GST_TYPE_NORVASRC));
    fail_unless_equals_int(signalsOf(GST_TYPE_NORVAMULTISRC).size(), 6);

    GstElementFactory *factory = gst_element_factory_find("norvamultisrc");
    fail_unless(factory != nullptr);
    fail_unless_equals_int(gst_plugin_feature_get_rank(GST_PLUGIN_FEATURE(factory)), GST_RANK_NONE);
    gst_object_unref(factory);
    fail_if(gst_element_factory_find("norvaproxysrc"));
}
GST_END_TEST;

namespace {

/** The name of the element behind a request pad. */
std::string elementBehind(GstPad *pad) {
    GstPad *target = gst_ghost_pad_get_target(GST_GHOST_PAD(pad));
    fail_unless(target != nullptr);
    GstElement *element = gst_pad_get_parent_element(target);
    std::string name = GST_OBJECT_NAME(element);
    gst_object_unref(element);
    gst_object_unref(target);
    return name;
}

gint intOf(GObject *object, const char *property) {
    gint v = 0;
    g_object_get(object, property, &v, nullptr);
    return v;
}

} // namespace

// Pads are numbered in request order whatever name is asked for; the first is served by the internal norvasrc,
// the others by proxies; the bin's children are its pads; the bin's buffer mode applies to pads requested later.
GST_START_TEST(test_request_pads) {
    GstElement *multi = gst_element_factory_make("norvamultisrc", "m");
    GstNorvasrc *internal = GST_NORVAMULTISRC(multi)->source;
    gst_util_set_object_arg(G_OBJECT(multi), "buf-mode", "copy");
    GstPad *pads[3] = {gst_element_request_pad_simple(multi, "src_%u"), gst_element_request_pad_simple(multi, "src_7"),
                       gst_element_request_pad_simple(multi, "src_%u")};
    const char *names[3][2] = {{"src_0", "norvasrc_0"}, {"src_1", "norvaproxysrc_1"}, {"src_2", "norvaproxysrc_2"}};
    for (int i = 0; i < 3; ++i) {
        fail_unless(pads[i] != nullptr && GST_IS_NORVAMULTISRC_PAD(pads[i]));
        fail_unless_equals_string(GST_OBJECT_NAME(pads[i]), names[i][0]);
        fail_unless(elementBehind(pads[i]) == names[i][1], "%s served by %s", names[i][0],
                    elementBehind(pads[i]).c_str());
        fail_unless_equals_int(intOf(G_OBJECT(pads[i]), "buf-mode"), GST_NORVASRC_BUFFER_MODE_COPY);
    }
    fail_unless(GST_OBJECT_PARENT(internal) == GST_OBJECT(multi));

    // Children: the pads, reachable by their names and paths.
    GstChildProxy *children = GST_CHILD_PROXY(multi);
    fail_unless_equals_int(gst_child_proxy_get_children_count(children), 3);
    GObject *second = gst_child_proxy_get_child_by_index(children, 1);
    fail_unless(second == G_OBJECT(pads[1]));
    g_object_unref(second);
    fail_unless(gst_child_proxy_get_child_by_name(children, "norvasrc_0") == nullptr);
    GValue one = G_VALUE_INIT;
    g_value_init(&one, G_TYPE_INT);
    g_value_set_int(&one, 1);
    gst_child_proxy_set_property(children, "src_1::context", &one);
    fail_unless_equals_int(intOf(G_OBJECT(pads[1]), "context"), 1);
    fail_unless_equals_int(intOf(G_OBJECT(pads[0]), "context"), -1);
    guint current = 7;
    g_object_get(pads[1], "current-context", &current, nullptr);
    fail_unless_equals_int(current, 0);

    // The bin's mode no longer reaches existing pads; a pad's mode reaches its element.
    gst_util_set_object_arg(G_OBJECT(multi), "buf-mode", "event");
    fail_unless_equals_int(intOf(G_OBJECT(pads[2]), "buf-mode"), GST_NORVASRC_BUFFER_MODE_COPY);
    gst_util_set_object_arg(G_OBJECT(pads[2]), "buf-mode", "query");
    GstElement *proxy = gst_bin_get_by_name(GST_BIN(multi), "norvaproxysrc_2");
    fail_unless_equals_int(intOf(G_OBJECT(proxy), "buf-mode"), GST_NORVASRC_BUFFER_MODE_QUERY);
    guint width = 0;
    g_object_get(pads[2], "bounds-width", &width, nullptr);
    fail_unless_equals_int(width, G_MAXUINT);
    gst_object_unref(proxy);

    // Released pads take their elements along; once every pad is gone the internal source serves the next one.
    for (GstPad *pad : pads) {
        gst_element_release_request_pad(multi, pad);
        gst_object_unref(pad);
    }
    fail_unless(GST_OBJECT_PARENT(internal) == nullptr);
    fail_unless_equals_int(GST_BIN(multi)->numchildren, 0);
    GstPad *again = gst_element_request_pad_simple(multi, "src_%u");
    fail_unless_equals_string(GST_OBJECT_NAME(again), "src_3");
    fail_unless(elementBehind(again) == "norvasrc_3");
    gst_element_release_request_pad(multi, again);
    gst_object_unref(again);
    gst_object_unref(multi);
}
GST_END_TEST;

namespace {

void countImageReady(GstElement *, gboolean saved, gpointer results) {
    static_cast<std::vector<gboolean> *>(results)->push_back(saved);
}

} // namespace

// Properties set on the bin are the internal source's, with its own state rules; signals emitted on the bin reach
// it, and its "image-ready" comes back on the bin.
GST_START_TEST(test_forwarding) {
    GstElement *multi = gst_element_factory_make("norvamultisrc", nullptr);
    GstElement *internal = GST_ELEMENT(GST_NORVAMULTISRC(multi)->source);
    g_object_set(multi, "sensor", "DOR Idazida", "alloc-buffers", 5u, "setup-file-ctx1", "b.txt", nullptr);
    gchar *sensor = nullptr, *setup = nullptr;
    guint buffers = 0;
    g_object_get(internal, "sensor", &sensor, "alloc-buffers", &buffers, "setup-file-ctx1", &setup, nullptr);
    fail_unless_equals_string(sensor, "DOR Idazida");
    fail_unless_equals_string(setup, "b.txt");
    fail_unless_equals_int(buffers, 5);
    g_free(sensor);
    g_free(setup);
    g_object_set(internal, "brightness", 0.25f, nullptr);
    gfloat brightness = 0;
    g_object_get(multi, "brightness", &brightness, nullptr);
    fail_unless(brightness == 0.25f);

    gboolean accepted = TRUE;
    g_signal_emit_by_name(multi, "set-fvalue-window", 0.5f, 0.5f, 0.5f, -0.5f, &accepted); // left equals right
    fail_if(accepted);
    g_signal_emit_by_name(multi, "set-fvalue-window", -0.5f, 0.75f, 0.25f, -0.125f, &accepted);
    fail_unless(accepted);
    const NorvasrcState *state = GST_NORVASRC(internal)->state;
    fail_unless(state->props.focus_window[0] == -0.125f && state->props.focus_window[3] == 0.75f);
    g_signal_emit_by_name(multi, "set-exposure-auto-time-range", 20000u, 100u);
    g_signal_emit_by_name(multi, "set-exposure-auto-gain-range", 24.0f, 6.0f);
    fail_unless(state->props.exposure_auto_min_time == 100 && state->props.exposure_auto_max_time == 20000);
    fail_unless(state->props.exposure_auto_min_gain == 6.0f && state->props.exposure_auto_max_gain == 24.0f);
    g_signal_emit_by_name(multi, "take-nrv-image", "f.yuv", "YUV", 1u);
    fail_unless(state->save_pending && state->save_context == 1);
    fail_unless_equals_string(state->save_file, "f.yuv");

    std::vector<gboolean> ready;
    g_signal_connect(multi, "image-ready", G_CALLBACK(countImageReady), &ready);
    g_signal_emit_by_name(internal, "image-ready", TRUE);
    fail_unless(ready.size() == 1 && ready[0] == TRUE);
    gst_object_unref(multi);
}
GST_END_TEST;

namespace {

/** A harness on a new request pad of `multi`, with sink caps; the element stays with the caller. */
GstHarness *branch(GstElement *multi, const char *caps) {
    GstHarness *h = gst_harness_new_with_element(multi, nullptr, "src_%u");
    gst_harness_set_sink_caps_str(h, caps);
    gst_harness_use_systemclock(h);
    return h;
}

/** Pulls from `h` until the buffer of frame `offset`; fails on a frame skipped. */
void pullUntil(GstHarness *h, guint64 offset) {
    for (;;) {
        GstBuffer *b = gst_harness_pull(h);
        fail_unless(b != nullptr);
        const guint64 got = GST_BUFFER_OFFSET(b);
        gst_buffer_unref(b);
        fail_unless(got <= offset, "frame %" G_GUINT64_FORMAT " skipped", offset);
        if (got == offset)
            return;
    }
}

/** Pulls one buffer from each harness and checks that both carry frame `offset`. */
void pullPair(GstHarness *a, GstHarness *b, guint64 offset) {
    for (GstHarness *h : {a, b}) {
        GstBuffer *buffer = gst_harness_pull(h);
        fail_unless(buffer != nullptr);
        fail_unless_equals_uint64(GST_BUFFER_OFFSET(buffer), offset);
        gst_buffer_unref(buffer);
    }
}

/**
 * The first frame both harnesses receive: a pad receives the frames captured while it streams. Until both have
 * a frame, the one that has is drained to its newest: a harness keeps every buffer it is given, and a branch that
 * held every capture buffer would leave none for the other pad's first frame.
 */
guint64 firstCommonFrame(GstHarness *a, GstHarness *b) {
    guint64 first[2] = {0, 0};
    bool got[2] = {false, false};
    GstHarness *hs[2] = {a, b};
    for (int wait = 0; wait < 3000 && !(got[0] && got[1]); ++wait) { // 30 s
        for (int i = 0; i < 2; ++i) {
            if (got[i] && got[1 - i])
                continue;
            GstBuffer *buffer = nullptr;
            while ((buffer = gst_harness_try_pull(hs[i])) != nullptr) {
                first[i] = GST_BUFFER_OFFSET(buffer);
                got[i] = true;
                gst_buffer_unref(buffer);
                if (!got[1 - i])
                    continue; // keep draining while the other waits
                break;
            }
        }
        if (!(got[0] && got[1]))
            g_usleep(10000);
    }
    fail_unless(got[0] && got[1], "no frame on %s", got[0] ? "the second pad" : "the first pad");
    const guint64 common = MAX(first[0], first[1]);
    if (first[0] != first[1])
        pullUntil(first[0] < common ? a : b, common);
    return common;
}

/** Parameters for a slave context (context 1) on the main context's data-generator sensor; `extra` adds more. */
void writeSlaveParams(Workspace &ws, const std::string &extra = "") {
    ws.writeParams("-CT1_setupFile " + ws.setup + " -CT1_imager 0 " + extra +
                   "-sensorNumber 2 -CT0_sensor DOR -CT0_sensorMode 0 -CT1_sensor DOR -CT1_sensorMode 0");
}

GstElement *makeMulti(GstBus **bus) {
    GstElement *multi = gst_element_factory_make("norvamultisrc", nullptr);
    *bus = gst_bus_new();
    gst_element_set_bus(multi, *bus);
    g_object_set(multi, "sensor", kDataGenerator, "use-dmabuf", FALSE, "alloc-buffers", 8u, nullptr);
    return multi;
}

void dropMulti(GstElement *multi, GstBus *bus) {
    gst_element_set_state(multi, GST_STATE_NULL);
    gst_element_set_bus(multi, nullptr);
    gst_object_unref(bus);
    gst_object_unref(multi);
}

NorvasrcState *internalState(GstElement *multi) { return GST_NORVAMULTISRC(multi)->source->state; }

/** The element behind a request pad (a new reference). */
GstElement *elementOfPad(GstElement *multi, const char *pad) {
    GstPad *p = gst_element_get_static_pad(multi, pad);
    GstPad *target = gst_ghost_pad_get_target(GST_GHOST_PAD(p));
    GstElement *element = gst_pad_get_parent_element(target);
    gst_object_unref(target);
    gst_object_unref(p);
    return element;
}

} // namespace

// A norvasrc and a proxy of it, each behind its own harness: both pads receive every frame, with the same
// offsets; "fnum-status" sent up the proxy's branch reaches the exposure control; the proxy's buffer mode
// changes while playing; unlocking the proxy flushes that pad only; stopping it leaves capture running.
GST_START_TEST(test_proxy_beside_source) {
    Workspace ws;
    GstBus *bus = nullptr;
    GstElement *src = makeSource(&bus);
    g_object_set(src, "use-dmabuf", FALSE, "alloc-buffers", 8u, nullptr);
    GstElement *proxy = GST_ELEMENT(g_object_new(GST_TYPE_NORVAPROXYSRC, nullptr));
    gst_norvaproxysrc_set_source(GST_NORVAPROXYSRC(proxy), GST_NORVASRC(src));
    GstHarness *h0 = gst_harness_new_with_element(src, nullptr, "src");
    GstHarness *h1 = gst_harness_new_with_element(proxy, nullptr, "src");
    for (GstHarness *h : {h0, h1}) {
        gst_harness_set_sink_caps_str(h, "video/x-raw, format=NV12, width=320, height=240");
        gst_harness_use_systemclock(h);
    }
    gst_harness_play(h0);
    gst_buffer_unref(gst_harness_pull(h0));
    gst_harness_play(h1);
    const guint64 first = firstCommonFrame(h0, h1);
    for (guint64 i = 1; i <= 5; ++i)
        pullPair(h0, h1, first + i);

    // The iris status reaches the source's exposure control through the proxy's branch too.
    fail_unless(gst_harness_push_upstream_event(
        h1, gst_event_new_custom(GST_EVENT_CUSTOM_UPSTREAM,
                                 gst_structure_new("fnum-status", "position", G_TYPE_DOUBLE, 4.0, nullptr))));
    // Read under the locks the streaming thread updates the exposure control under.
    gst_norvasrc_lock_contexts(GST_NORVASRC(src));
    const ISPC::ControlAE *ae = dynamic_cast<ISPC::ControlAE *>(
        GST_NORVASRC(src)->state->main_context->pCamera->getControlModule(ISPC::CTRL_AE));
    const double current = ae != nullptr ? ae->getFNumberStatus().current : 0.0;
    gst_norvasrc_unlock_contexts(GST_NORVASRC(src));
    fail_unless(ae != nullptr && current == 4.0);

    gst_util_set_object_arg(G_OBJECT(proxy), "buf-mode", "copy");
    fail_unless_equals_int(intOf(G_OBJECT(proxy), "buf-mode"), GST_NORVASRC_BUFFER_MODE_COPY);
    for (guint64 i = 6; i <= 8; ++i)
        pullPair(h0, h1, first + i);

    // The proxy's pad alone is flushing: its source keeps serving its own pad.
    fail_unless(GST_BASE_SRC_GET_CLASS(proxy)->unlock(GST_BASE_SRC(proxy)));
    GstBuffer *none = nullptr;
    fail_unless_equals_int(gst_norvasrc_get_buffer(GST_NORVASRC(src), proxy, &none), GST_FLOW_FLUSHING);
    fail_unless(none == nullptr);
    for (int i = 0; i < 3; ++i)
        gst_buffer_unref(gst_harness_pull(h0));
    fail_unless(GST_BASE_SRC_GET_CLASS(proxy)->unlock_stop(GST_BASE_SRC(proxy)));
    fail_unless(errorText(bus).empty());

    // Stopping the proxy leaves capture running for the source's pad.
    gst_harness_teardown(h1);
    for (int i = 0; i < 3; ++i)
        gst_buffer_unref(gst_harness_pull(h0));
    fail_unless(errorText(bus).empty());
    gst_harness_teardown(h0);
    gst_element_set_bus(src, nullptr);
    gst_object_unref(bus);
    gst_object_unref(src);
    gst_object_unref(proxy);
}
GST_END_TEST;

// Two branches of norvamultisrc, the second on context 1: both receive the same frames; the slave context exists
// and the pad reports it; stopping one branch keeps capture for the other; stopping the last stops both
// contexts and, with no capture buffer held downstream, destroys the slave.
GST_START_TEST(test_two_contexts) {
    Workspace ws;
    writeSlaveParams(ws);
    GstBus *bus = nullptr;
    GstElement *multi = makeMulti(&bus);
    // Copies downstream: no capture buffer is held there when the last pad stops.
    gst_util_set_object_arg(G_OBJECT(multi), "buf-mode", "copy");
    GstHarness *h0 = branch(multi, "video/x-raw, format=NV12, width=320, height=240");
    GstHarness *h1 = branch(multi, "video/x-raw, format=NV12, width=160, height=120");
    GstPad *pad1 = gst_element_get_static_pad(multi, "src_1");
    g_object_set(pad1, "context", 1, nullptr);
    gst_harness_play(h0);
    gst_harness_play(h1);
    const guint64 first = firstCommonFrame(h0, h1);
    for (guint64 i = 1; i <= 5; ++i)
        pullPair(h0, h1, first + i);
    guint current = 0;
    g_object_get(pad1, "current-context", &current, nullptr);
    fail_unless_equals_int(current, 1);
    NorvasrcState *state = internalState(multi);
    fail_unless(state->slave_context != nullptr);

    // A request on the bin for context 1 saves the slave context's frame; "image-ready" comes back on the bin.
    std::vector<gboolean> ready;
    g_signal_connect(multi, "image-ready", G_CALLBACK(countImageReady), &ready);
    const std::string path = ws.dir + "/slave.yuv";
    g_signal_emit_by_name(multi, "take-nrv-image", path.c_str(), "YUV", 1u);
    for (guint64 i = 6; i <= 9; ++i)
        pullPair(h0, h1, first + i);
    fail_unless(ready.size() == 1 && ready[0] == TRUE);
    GStatBuf st;
    fail_unless(g_stat(path.c_str(), &st) == 0);
    fail_unless_equals_int(st.st_size, 160 * 120 * 3 / 2);
    g_remove(path.c_str());

    GstElement *proxy = elementOfPad(multi, "src_1");
    GstPad *proxyPad = gst_element_get_static_pad(proxy, "src");
    fail_unless(gst_pad_set_active(proxyPad, FALSE));
    for (int i = 0; i < 3; ++i)
        gst_buffer_unref(gst_harness_pull(h0));
    GstPad *ownPad = gst_element_get_static_pad(GST_ELEMENT(GST_NORVAMULTISRC(multi)->source), "src");
    fail_unless(gst_pad_set_active(ownPad, FALSE));
    GST_OBJECT_LOCK(GST_NORVAMULTISRC(multi)->source);
    fail_unless(state->slave_context == nullptr, "the slave context outlived the last stop");
    fail_unless(state->main_context == nullptr || state->main_context->pCamera->state != ISPC::Camera::CAM_CAPTURING);
    GST_OBJECT_UNLOCK(GST_NORVAMULTISRC(multi)->source);
    fail_unless(errorText(bus).empty());
    gst_object_unref(ownPad);
    gst_object_unref(proxyPad);
    gst_object_unref(proxy);
    gst_object_unref(pad1);
    gst_harness_teardown(h1);
    gst_harness_teardown(h0);
    dropMulti(multi, bus);
}
GST_END_TEST;

/** Mean of the luma plane of an NV12 buffer of width × height, 0 to 255. */
double meanLuma(GstBuffer *buffer, unsigned width, unsigned height) {
    GstMapInfo map;
    fail_unless(gst_buffer_map(buffer, &map, GST_MAP_READ));
    fail_unless(map.size >= gsize(width) * height);
    guint64 sum = 0;
    for (gsize i = 0; i < gsize(width) * height; ++i)
        sum += map.data[i];
    gst_buffer_unmap(buffer, &map);
    return double(sum) / (double(width) * height);
}

/** The white-balance gains (R, Gr, Gb, B) the device last applied to the pipeline of a capture context. */
std::vector<int> lastWhiteBalanceGains(int context) {
    const int id = norva_test::DevicePipelineOfContext(context);
    fail_unless(id > 0, "no device pipeline for context %d", context);
    const std::vector<norva_sim::SimConfigRecord> trace = norva_sim::SimPipelineConfigTrace(id);
    fail_unless(!trace.empty());
    const CI_MODULE_WBC &wb = trace.back().decoded.sWhiteBalance;
    return {int(wb.aGain[0]), int(wb.aGain[1]), int(wb.aGain[2]), int(wb.aGain[3])};
}

// The slave context on the main context's sensor, at a fixed exposure and fixed white-balance gains set on the
// bin: the same still scene comes out equally bright on both branches once the slave's first shots are through,
// and the device applied the main context's gains to both pipelines.
GST_START_TEST(test_slave_brightness_follows_main) {
    Workspace ws;
    writeSlaveParams(ws, "-CT1_nBuffers 4 -CT1_nPreenqBuffers 1 ");
    GstBus *bus = nullptr;
    GstElement *multi = makeMulti(&bus);
    g_object_set(multi, "exposure-auto", FALSE, "exposure-time", 15000u, "awb-enable", FALSE, "red-balance", 1.5f,
                 "blue-balance", 0.75f, nullptr);
    GstHarness *h0 = branch(multi, "video/x-raw, format=NV12, width=320, height=240");
    GstHarness *h1 = branch(multi, "video/x-raw, format=NV12, width=320, height=240");
    GstPad *pad1 = gst_element_get_static_pad(multi, "src_1");
    g_object_set(pad1, "context", 1, nullptr);
    gst_harness_play(h0);
    gst_harness_play(h1);
    const guint64 start = firstCommonFrame(h0, h1);
    for (guint64 i = 1; i <= 9; ++i) {
        GstBuffer *a = gst_harness_pull(h0);
        GstBuffer *b = gst_harness_pull(h1);
        fail_unless(a != nullptr && b != nullptr);
        fail_unless_equals_uint64(GST_BUFFER_OFFSET(a), start + i);
        fail_unless_equals_uint64(GST_BUFFER_OFFSET(b), start + i);
        const double mainLuma = meanLuma(a, 320, 240), slaveLuma = meanLuma(b, 320, 240);
        fail_unless(mainLuma > 16.0, "frame %d: main branch dark (%.1f)", int(i), mainLuma);
        // The slave's table follows the sensor from its next enqueued shot: a slave that started late may show
        // the curve of the previous exposure on its first frames, never after the pre-enqueued ones.
        if (i >= 4)
            fail_unless(std::fabs(mainLuma - slaveLuma) <= 0.05 * mainLuma, "frame %d: main %.1f, slave %.1f", int(i),
                        mainLuma, slaveLuma);
        gst_buffer_unref(a);
        gst_buffer_unref(b);
    }
    // Bayer order R, Gr, Gb, B: red above green, blue below it, the same on the slave's pipeline.
    const std::vector<int> mainGains = lastWhiteBalanceGains(0), slaveGains = lastWhiteBalanceGains(1);
    fail_unless(mainGains[0] > mainGains[1] && mainGains[3] < mainGains[1], "main gains %d %d %d %d", mainGains[0],
                mainGains[1], mainGains[2], mainGains[3]);
    fail_unless(slaveGains == mainGains, "slave gains %d %d %d %d", slaveGains[0], slaveGains[1], slaveGains[2],
                slaveGains[3]);
    fail_unless(errorText(bus).empty());
    gst_object_unref(pad1);
    gst_harness_teardown(h1);
    gst_harness_teardown(h0);
    dropMulti(multi, bus);
}
GST_END_TEST;

// A pad asking for a context the parameter set does not set up: its negotiation fails with an error naming the
// context and leaves no half-built slave context behind; the first pad streams on and the bin stops cleanly.
GST_START_TEST(test_slave_context_fails) {
    Workspace ws; // context 0 only
    GstBus *bus = nullptr;
    GstElement *multi = makeMulti(&bus);
    gst_util_set_object_arg(G_OBJECT(multi), "buf-mode", "copy");
    GstHarness *h0 = branch(multi, "video/x-raw, format=NV12, width=320, height=240");
    GstHarness *h1 = branch(multi, "video/x-raw, format=NV12, width=160, height=120");
    GstPad *pad1 = gst_element_get_static_pad(multi, "src_1");
    g_object_set(pad1, "context", 1, nullptr);
    gst_harness_play(h0);
    gst_buffer_unref(gst_harness_pull(h0));
    gst_harness_play(h1);
    GstMessage *msg = gst_bus_timed_pop_filtered(bus, 10 * GST_SECOND, GST_MESSAGE_ERROR);
    fail_unless(msg != nullptr);
    GError *error = nullptr;
    gst_message_parse_error(msg, &error, nullptr);
    fail_unless(g_strrstr(error->message, "Cannot set up context 1.") != nullptr, "%s", error->message);
    g_error_free(error);
    gst_message_unref(msg);
    NorvasrcState *state = internalState(multi);
    GST_OBJECT_LOCK(GST_NORVAMULTISRC(multi)->source);
    fail_unless(state->slave_context == nullptr, "a slave context that failed to configure stayed");
    GST_OBJECT_UNLOCK(GST_NORVAMULTISRC(multi)->source);
    for (int i = 0; i < 3; ++i)
        gst_buffer_unref(gst_harness_pull(h0));
    gst_object_unref(pad1);
    gst_harness_teardown(h1);
    gst_harness_teardown(h0);
    dropMulti(multi, bus);
}
GST_END_TEST;

namespace {

/** Holds a pad's negotiation at its caps query until the test lets it go on. */
struct QueryGate {
    GMutex lock;
    GCond changed;
    GThread *test = g_thread_self();
    bool inside = false;
    bool open = false;

    QueryGate() {
        g_mutex_init(&lock);
        g_cond_init(&changed);
    }
    ~QueryGate() {
        g_cond_clear(&changed);
        g_mutex_clear(&lock);
    }
    QueryGate(const QueryGate &) = delete;
    QueryGate &operator=(const QueryGate &) = delete;
};

GstPadProbeReturn holdCapsQuery(GstPad *, GstPadProbeInfo *info, gpointer data) {
    QueryGate *gate = static_cast<QueryGate *>(data);
    if (GST_QUERY_TYPE(GST_PAD_PROBE_INFO_QUERY(info)) != GST_QUERY_CAPS || g_thread_self() == gate->test)
        return GST_PAD_PROBE_OK;
    g_mutex_lock(&gate->lock);
    gate->inside = true;
    g_cond_broadcast(&gate->changed);
    while (!gate->open)
        g_cond_wait(&gate->changed, &gate->lock);
    g_mutex_unlock(&gate->lock);
    return GST_PAD_PROBE_REMOVE;
}

} // namespace

// A proxy pad whose negotiation fails posts its error, which takes the bin's lock, while the application holds
// the bin's lock and takes the proxy's (as the bin does when it adds or finds a child): neither waits for the
// other, and the error arrives once the bin's lock is free.
GST_START_TEST(test_failing_negotiation_leaves_the_proxy_unlocked) {
    Workspace ws; // context 0 only
    GstBus *bus = nullptr;
    GstElement *multi = makeMulti(&bus);
    gst_util_set_object_arg(G_OBJECT(multi), "buf-mode", "copy");
    GstHarness *h0 = branch(multi, "video/x-raw, format=NV12, width=320, height=240");
    GstHarness *h1 = branch(multi, "video/x-raw, format=NV12, width=160, height=120");
    GstPad *pad1 = gst_element_get_static_pad(multi, "src_1");
    g_object_set(pad1, "context", 1, nullptr);
    GstElement *proxy = elementOfPad(multi, "src_1");
    fail_unless(GST_IS_NORVAPROXYSRC(proxy));
    QueryGate gate;
    gst_pad_add_probe(h1->sinkpad, GST_PAD_PROBE_TYPE_QUERY_DOWNSTREAM, holdCapsQuery, &gate, nullptr);
    gst_harness_play(h0); // the bin and both pads

    const gint64 deadline = g_get_monotonic_time() + 10 * G_TIME_SPAN_SECOND;
    g_mutex_lock(&gate.lock);
    while (!gate.inside && g_cond_wait_until(&gate.changed, &gate.lock, deadline)) {
    }
    const bool inside = gate.inside;
    g_mutex_unlock(&gate.lock);
    fail_unless(inside, "the proxy did not negotiate");

    // The bin's lock first, then the proxy's, while the proxy's thread goes on to post its error.
    GST_OBJECT_LOCK(multi);
    g_mutex_lock(&gate.lock);
    gate.open = true;
    g_cond_broadcast(&gate.changed);
    g_mutex_unlock(&gate.lock);
    bool taken = false;
    for (int i = 0; i < 3000 && !taken; ++i) { // 30 s
        taken = g_mutex_trylock(GST_OBJECT_GET_LOCK(proxy)) != FALSE;
        if (!taken)
            g_usleep(10000);
    }
    if (taken)
        GST_OBJECT_UNLOCK(proxy);
    GST_OBJECT_UNLOCK(multi);
    fail_unless(taken, "the proxy's lock stayed held while its thread waited for the bin's");

    // Kept until the streaming threads have ended, so that its last reference goes here and not on the thread that
    // posted it, whose hand-over through GStreamer's reference count ThreadSanitizer cannot see.
    GstMessage *msg = gst_bus_timed_pop_filtered(bus, 10 * GST_SECOND, GST_MESSAGE_ERROR);
    fail_unless(msg != nullptr);
    GError *error = nullptr;
    gst_message_parse_error(msg, &error, nullptr);
    fail_unless(g_strrstr(error->message, "Cannot set up context 1.") != nullptr, "%s", error->message);
    g_error_free(error);
    gst_object_unref(proxy);
    gst_object_unref(pad1);
    gst_harness_teardown(h1);
    gst_harness_teardown(h0);
    dropMulti(multi, bus);
    gst_message_unref(msg);
}
GST_END_TEST;

namespace {

/** Pulls from both harnesses until each holds the same frame, and returns those two buffers. */
void samePair(GstHarness *a, GstHarness *b, GstBuffer **ba, GstBuffer **bb) {
    *ba = gst_harness_pull(a);
    *bb = gst_harness_pull(b);
    fail_unless(*ba != nullptr && *bb != nullptr);
    while (GST_BUFFER_OFFSET(*ba) != GST_BUFFER_OFFSET(*bb)) {
        GstBuffer **behind = GST_BUFFER_OFFSET(*ba) < GST_BUFFER_OFFSET(*bb) ? ba : bb;
        gst_buffer_unref(*behind);
        *behind = gst_harness_pull(behind == ba ? a : b);
        fail_unless(*behind != nullptr);
    }
}

} // namespace

// Two branches on the same context and format show the same capture buffer: the memory is read-only on both, so
// that an element writing in place on one branch works on a copy and the other branch's frame stays intact. Both
// memory kinds: system memory over the capture buffer, and the descriptor memory of "use-dmabuf".
GST_START_TEST(test_shared_memory_read_only) {
    Workspace ws; // one per process: its parameter file is read once
    for (const gboolean dmabuf : {gboolean(FALSE), gboolean(TRUE)}) {
        GstBus *bus = nullptr;
        GstElement *multi = makeMulti(&bus);
        // Eight capture buffers: each harness keeps every buffer it is given until pulled, and the frames one
        // branch receives while the other is pulled stay held downstream.
        g_object_set(multi, "use-dmabuf", dmabuf, "alloc-buffers", 8u, nullptr);
        GstHarness *h0 = branch(multi, "video/x-raw, format=NV12, width=320, height=240");
        GstHarness *h1 = branch(multi, "video/x-raw, format=NV12, width=320, height=240");
        gst_harness_play(h0);
        gst_harness_play(h1);
        GstBuffer *b0 = nullptr, *b1 = nullptr;
        samePair(h0, h1, &b0, &b1);
        fail_unless_equals_int(gst_is_dmabuf_memory(gst_buffer_peek_memory(b0, 0)), dmabuf);
        fail_unless(GST_MEMORY_IS_READONLY(gst_buffer_peek_memory(b0, 0)), "dmabuf %d", dmabuf);
        fail_unless(GST_MEMORY_IS_READONLY(gst_buffer_peek_memory(b1, 0)), "dmabuf %d", dmabuf);
        GstMapInfo map;
        fail_unless(gst_buffer_map(b1, &map, GST_MAP_READ));
        const std::string before(reinterpret_cast<const char *>(map.data), 4096);
        gst_buffer_unmap(b1, &map);

        b0 = gst_buffer_make_writable(b0);
        fail_unless(gst_buffer_map(b0, &map, GST_MAP_WRITE));
        std::memset(map.data, 0x5a, 4096);
        gst_buffer_unmap(b0, &map);
        fail_unless(gst_buffer_map(b1, &map, GST_MAP_READ));
        fail_unless(std::string(reinterpret_cast<const char *>(map.data), 4096) == before,
                    "the other branch's frame changed (dmabuf %d)", dmabuf);
        gst_buffer_unmap(b1, &map);
        gst_buffer_unref(b0);
        gst_buffer_unref(b1);
        fail_unless(errorText(bus).empty());
        gst_harness_teardown(h1);
        gst_harness_teardown(h0);
        dropMulti(multi, bus);
    }
}
GST_END_TEST;

namespace {

/** A sink pad that counts the buffers it receives and remembers the last offset. */
struct CountingSink {
    GstPad *pad = nullptr;
    gint count = 0;
    guint64 last = G_MAXUINT64;
    gint gaps = 0;

    CountingSink() {
        pad = gst_pad_new("sink", GST_PAD_SINK);
        gst_pad_set_chain_function(pad, chain);
        gst_pad_set_element_private(pad, this);
        gst_pad_set_active(pad, TRUE);
    }
    ~CountingSink() {
        gst_pad_set_active(pad, FALSE);
        gst_object_unref(pad);
    }
    static GstFlowReturn chain(GstPad *pad, GstObject *, GstBuffer *buffer) {
        CountingSink *self = static_cast<CountingSink *>(gst_pad_get_element_private(pad));
        const guint64 offset = GST_BUFFER_OFFSET(buffer);
        if (self->last != G_MAXUINT64 && offset != self->last + 1)
            g_atomic_int_inc(&self->gaps);
        self->last = offset;
        gst_buffer_unref(buffer);
        g_atomic_int_inc(&self->count);
        return GST_FLOW_OK;
    }
    /** Waits up to 30 s for `n` more buffers. */
    bool waitFor(gint n) {
        const gint target = g_atomic_int_get(&count) + n;
        for (int i = 0; i < 3000 && g_atomic_int_get(&count) < target; ++i)
            g_usleep(10000);
        return g_atomic_int_get(&count) >= target;
    }
};

guint openDescriptors() {
    guint n = 0;
    DIR *dir = opendir("/proc/self/fd");
    fail_unless(dir != nullptr);
    while (readdir(dir) != nullptr)
        ++n;
    closedir(dir);
    return n;
}

} // namespace

// Releasing the pad of the internal source keeps it capturing for the proxies; pads requested while streaming
// stream too. A hundred request and release cycles of a second pad cost the first pad no frame and leave no
// descriptor behind.
GST_START_TEST(test_pads_while_streaming) {
    Workspace ws;
    // Frames at a camera's pace. On demand, a pad that fetches for itself runs ahead of src_1 by every capture
    // buffer whenever src_1's thread is not scheduled for a moment, and the free-buffer rule then rightly drops
    // frames src_1 has not taken yet. Paced too, src_1's thread may lose the core for a while on a busy machine:
    // 16 capture buffers at 20 frames per second give it 800 ms before a frame is dropped. Under ThreadSanitizer
    // every thread runs several times slower, and so does the camera here.
#ifdef NORVA_TSAN
    norva_sim::SetPacedFrameRate(10.0);
#else
    norva_sim::SetPacedFrameRate(20.0);
#endif
    GstBus *bus = nullptr;
    GstElement *multi = makeMulti(&bus);
    g_object_set(multi, "alloc-buffers", 16u, nullptr);
    gst_util_set_object_arg(G_OBJECT(multi), "buf-mode", "copy");
    CountingSink sink0, sink1;
    GstPad *src0 = gst_element_request_pad_simple(multi, "src_%u");
    GstPad *src1 = gst_element_request_pad_simple(multi, "src_%u");
    fail_unless_equals_int(gst_pad_link(src0, sink0.pad), GST_PAD_LINK_OK);
    fail_unless_equals_int(gst_pad_link(src1, sink1.pad), GST_PAD_LINK_OK);
    fail_unless(gst_element_set_state(multi, GST_STATE_PLAYING) != GST_STATE_CHANGE_FAILURE);
    fail_unless(sink0.waitFor(3) && sink1.waitFor(3));

    // src_0 goes; the proxy behind src_1 keeps receiving every frame.
    gst_element_release_request_pad(multi, src0);
    gst_object_unref(src0);
    fail_unless(sink1.waitFor(5));
    fail_unless_equals_int(g_atomic_int_get(&sink1.gaps), 0);
    fail_unless(GST_OBJECT_PARENT(GST_NORVAMULTISRC(multi)->source) == GST_OBJECT(multi));

    // src_1 now streams alone while further pads come and go.
    guint descriptors = 0;
    for (int cycle = 0; cycle < 100; ++cycle) {
        CountingSink extra;
        GstPad *pad = gst_element_request_pad_simple(multi, "src_%u");
        fail_unless(pad != nullptr);
        fail_unless_equals_int(gst_pad_link(pad, extra.pad), GST_PAD_LINK_OK);
        fail_unless(extra.waitFor(1), "cycle %d: a pad requested while playing does not stream", cycle);
        gst_element_release_request_pad(multi, pad);
        gst_object_unref(pad);
        if (cycle == 0)
            descriptors = openDescriptors();
    }
    fail_unless_equals_int(openDescriptors(), descriptors);
    fail_unless(sink1.waitFor(3));
    fail_unless_equals_int(g_atomic_int_get(&sink1.gaps), 0);
    fail_unless(errorText(bus).empty());

    // Stopped and started again without src_0: the internal source captures for src_1 once more, while its own
    // pad, activated again by the state change but linked to nothing, neither negotiates nor ends the stream.
    fail_unless_equals_int(gst_element_set_state(multi, GST_STATE_READY), GST_STATE_CHANGE_SUCCESS);
    sink1.last = G_MAXUINT64; // frame numbers start again
    fail_unless(gst_element_set_state(multi, GST_STATE_PLAYING) != GST_STATE_CHANGE_FAILURE);
    fail_unless(sink1.waitFor(5));
    fail_unless_equals_int(g_atomic_int_get(&sink1.gaps), 0);
    fail_unless(errorText(bus).empty());
    gst_element_set_state(multi, GST_STATE_NULL);
    gst_element_release_request_pad(multi, src1);
    gst_object_unref(src1);
    dropMulti(multi, bus);
}
GST_END_TEST;

namespace {

/** The next buffer of `h` within 30 s, or null (gst_harness_pull would wait a minute). */
GstBuffer *pullWithin(GstHarness *h) {
    for (int i = 0; i < 3000; ++i) {
        GstBuffer *buffer = gst_harness_try_pull(h);
        if (buffer != nullptr)
            return buffer;
        g_usleep(10000);
    }
    return nullptr;
}

} // namespace

// A pad whose streaming thread comes late (here: its element waits in PAUSED, as a live source does until the
// pipeline plays) still receives every frame captured since it started, while the other branch holds every
// capture buffer it was given (as a sink that prerolls does): the late pad is served from its queue instead of
// waiting for a capture buffer nobody gives back.
GST_START_TEST(test_late_pad_receives_first_frames) {
    Workspace ws;
    GstBus *bus = nullptr;
    GstElement *multi = makeMulti(&bus);
    g_object_set(multi, "alloc-buffers", 4u, "preenq-buffers", 1u, nullptr);
    GstHarness *h0 = branch(multi, "video/x-raw, format=NV12, width=320, height=240");
    GstHarness *h1 = branch(multi, "video/x-raw, format=NV12, width=320, height=240");
    GstElement *late = elementOfPad(multi, "src_1");
    fail_unless(gst_element_set_state(multi, GST_STATE_PAUSED) != GST_STATE_CHANGE_FAILURE);
    gst_element_set_locked_state(late, TRUE);
    fail_unless(gst_element_set_state(multi, GST_STATE_PLAYING) != GST_STATE_CHANGE_FAILURE);
    // Every capture buffer but the pre-enqueued one ends up held by the first branch.
    GstBuffer *held[3] = {nullptr, nullptr, nullptr};
    for (GstBuffer *&b : held) {
        b = pullWithin(h0);
        fail_unless(b != nullptr);
    }
    gst_element_set_locked_state(late, FALSE);
    fail_unless(gst_element_sync_state_with_parent(late));
    for (GstBuffer *b : held) {
        GstBuffer *got = pullWithin(h1);
        fail_unless(got != nullptr, "the late pad received no frame");
        fail_unless_equals_uint64(GST_BUFFER_OFFSET(got), GST_BUFFER_OFFSET(b));
        gst_buffer_unref(got);
    }
    for (GstBuffer *b : held)
        gst_buffer_unref(b);
    fail_unless(errorText(bus).empty());
    gst_object_unref(late);
    gst_harness_teardown(h1);
    gst_harness_teardown(h0);
    dropMulti(multi, bus);
}
GST_END_TEST;

namespace {

/** The device's record of the frame a buffer shows (by its stream time); fails when there is none. */
norva_sim::SimFrameRecord deviceFrame(GstBuffer *buffer) {
    GstCaps *caps = gst_caps_from_string("timestamp/x-norva-stream");
    GstReferenceTimestampMeta *meta = gst_buffer_get_reference_timestamp_meta(buffer, caps);
    gst_caps_unref(caps);
    fail_unless(meta != nullptr);
    norva_sim::SimFrameRecord record;
    fail_unless(norva_sim::FindFrameRecord(meta->timestamp, &record), "no device frame at %" G_GUINT64_FORMAT,
                meta->timestamp);
    return record;
}

GstPadProbeReturn holdBranch(GstPad *, GstPadProbeInfo *, gpointer) { return GST_PAD_PROBE_OK; }

} // namespace

// One branch blocked downstream from its first event on: it takes no frame, so that once every capture buffer is
// in use the free-buffer rule drops the oldest of its untaken frames. The other branch loses nothing: it receives
// every frame the device completed, in order. Unblocked, the first branch goes on with the newest frames left in
// its queue, in order, and then with every frame.
GST_START_TEST(test_blocked_branch_loses_only_its_frames) {
    Workspace ws;
    GstBus *bus = nullptr;
    GstElement *multi = makeMulti(&bus);
    g_object_set(multi, "alloc-buffers", 4u, "preenq-buffers", 1u, nullptr);
    GstHarness *flowing = branch(multi, "video/x-raw, format=NV12, width=320, height=240");
    GstHarness *blocked = branch(multi, "video/x-raw, format=NV12, width=320, height=240");
    GstPad *pad = gst_element_get_static_pad(multi, "src_1");
    const gulong probe = gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_BLOCK_DOWNSTREAM, holdBranch, nullptr, nullptr);
    gst_harness_play(flowing);
    gst_harness_play(blocked);

    constexpr int kFrames = 30; // far more than the capture buffers
    guint64 offset = 0, deviceFrames = 0, firstFlowing = 0;
    for (int i = 0; i < kFrames; ++i) {
        GstBuffer *b = pullWithin(flowing);
        fail_unless(b != nullptr, "frame %d did not come", i);
        const norva_sim::SimFrameRecord record = deviceFrame(b);
        if (i == 0) {
            firstFlowing = GST_BUFFER_OFFSET(b);
        } else {
            fail_unless_equals_uint64(GST_BUFFER_OFFSET(b), offset + 1);
            fail_unless_equals_uint64(record.frame, deviceFrames + 1);
        }
        offset = GST_BUFFER_OFFSET(b);
        deviceFrames = record.frame;
        gst_buffer_unref(b);
    }

    gst_pad_remove_probe(pad, probe);
    guint64 previous = 0;
    bool first = true, skipped = false;
    int consecutive = 0;
    while (consecutive < 5) {
        GstBuffer *b = pullWithin(blocked);
        fail_unless(b != nullptr);
        const guint64 got = GST_BUFFER_OFFSET(b);
        fail_unless(first || got > previous, "frame %" G_GUINT64_FORMAT " after %" G_GUINT64_FORMAT, got, previous);
        skipped = skipped || (first ? got > firstFlowing : got > previous + 1);
        consecutive = !first && got == previous + 1 ? consecutive + 1 : 0;
        (void)deviceFrame(b);
        previous = got;
        first = false;
        gst_buffer_unref(b);
        // The other branch keeps taking frames meanwhile.
        while ((b = gst_harness_try_pull(flowing)) != nullptr)
            gst_buffer_unref(b);
    }
    fail_unless(skipped, "the blocked branch lost no frame");
    fail_unless(previous > offset, "the unblocked branch never reached the frames after the block");
    fail_unless(errorText(bus).empty());
    gst_object_unref(pad);
    gst_harness_teardown(blocked);
    gst_harness_teardown(flowing);
    dropMulti(multi, bus);
}
GST_END_TEST;

// An erroneous frame of one context, while both stream: only the pad of that context shows that frame CORRUPTED;
// the other pad's buffer of the same frame is intact, and the slave context's pad carries the control results
// of the main context like the main pad.
GST_START_TEST(test_error_on_one_context) {
    Workspace ws;
    writeSlaveParams(ws);
    GstBus *bus = nullptr;
    GstElement *multi = makeMulti(&bus);
    GstHarness *h[2] = {branch(multi, "video/x-raw, format=NV12, width=320, height=240"),
                        branch(multi, "video/x-raw, format=NV12, width=160, height=120")};
    GstPad *pad1 = gst_element_get_static_pad(multi, "src_1");
    g_object_set(pad1, "context", 1, nullptr);
    gst_harness_play(h[0]);
    gst_harness_play(h[1]);
    const guint64 first = firstCommonFrame(h[0], h[1]);
    norva_sim::InjectNextFrameError(true);
    int corrupted[2] = {0, 0};
    // Frames completed before the injection may still be on their way: with eight capture buffers, the erroneous
    // frame is among the next sixteen.
    for (guint64 offset = first + 1; offset <= first + 16; ++offset) {
        bool flagged[2] = {false, false};
        for (int p = 0; p < 2; ++p) {
            GstBuffer *b = pullWithin(h[p]);
            fail_unless(b != nullptr);
            fail_unless_equals_uint64(GST_BUFFER_OFFSET(b), offset);
            flagged[p] = GST_BUFFER_FLAG_IS_SET(b, GST_BUFFER_FLAG_CORRUPTED);
            corrupted[p] += flagged[p] ? 1 : 0;
            for (GType api : {gst_iris_correction_meta_api_get_type(), gst_focus_value_meta_api_get_type(),
                              gst_norva_current_brightness_meta_api_get_type()})
                fail_unless(gst_buffer_get_meta(b, api) != nullptr, "pad %d, frame %" G_GUINT64_FORMAT ": no %s", p,
                            offset, g_type_name(api));
            gst_buffer_unref(b);
        }
        fail_if(flagged[0] && flagged[1], "frame %" G_GUINT64_FORMAT " CORRUPTED on both pads", offset);
    }
    fail_unless_equals_int(corrupted[0] + corrupted[1], 1);
    fail_unless(errorText(bus).empty());
    gst_object_unref(pad1);
    gst_harness_teardown(h[1]);
    gst_harness_teardown(h[0]);
    dropMulti(multi, bus);
}
GST_END_TEST;

// A parameter set that configures both contexts with different buffer counts is refused at READY, naming both.
GST_START_TEST(test_buffer_counts_differ) {
    Workspace ws;
    ws.writeParams("-CT1_setupFile " + ws.setup + " -CT1_nBuffers 2");
    GstElement *multi = gst_element_factory_make("norvamultisrc", nullptr);
    GstBus *bus = gst_bus_new();
    gst_element_set_bus(multi, bus);
    g_object_set(multi, "sensor", kDataGenerator, nullptr);
    GstPad *pad = gst_element_request_pad_simple(multi, "src_%u");
    fail_unless_equals_int(gst_element_set_state(multi, GST_STATE_READY), GST_STATE_CHANGE_FAILURE);
    const std::string text = errorText(bus);
    fail_unless(text.find("3 capture buffers and the second context 2") != std::string::npos, "%s", text.c_str());
    gst_element_set_state(multi, GST_STATE_NULL);
    gst_element_release_request_pad(multi, pad);
    gst_object_unref(pad);
    dropMulti(multi, bus);
}
GST_END_TEST;

// A fetch that fails (no frame within the driver's bound) ends the stream of the pad that fetched, with an
// error; the other pad's thread, waiting for that frame, is woken at once and fetches itself instead of running
// into its own five-second timeout.
GST_START_TEST(test_failed_fetch_wakes_other_pads) {
    Workspace ws;
    GstBus *bus = nullptr;
    GstElement *multi = makeMulti(&bus);
    gst_util_set_object_arg(G_OBJECT(multi), "buf-mode", "copy");
    GstHarness *h[2] = {branch(multi, "video/x-raw, format=NV12, width=320, height=240"),
                        branch(multi, "video/x-raw, format=NV12, width=320, height=240")};
    gst_harness_play(h[0]);
    gst_harness_play(h[1]);
    firstCommonFrame(h[0], h[1]);
    norva_sim::SetCaptureTimeoutMs(200);
    norva_sim::DropFrames(0, 1000);
    const gint64 start = g_get_monotonic_time();

    // Both pads end before a five-second timeout could have run out, each with the failure of its own fetch.
    const gint64 bound = 45 * G_TIME_SPAN_SECOND / 10;
    guint errors = 0;
    while (errors < 2 && g_get_monotonic_time() - start < bound) {
        for (GstHarness *each : h) {
            while (GstBuffer *b = gst_harness_try_pull(each))
                gst_buffer_unref(b);
        }
        const std::string text = errorText(bus);
        if (text.find("Cannot capture a frame.") != std::string::npos) {
            fail_unless(text.find("Timeout while waiting for buffer") == std::string::npos, "%s", text.c_str());
            ++errors;
        }
        g_usleep(10000);
    }
    fail_unless_equals_int(errors, 2);
    fail_unless(g_get_monotonic_time() - start < bound, "the second pad waited for its timeout");
    norva_sim::DropFrames(0, 0);
    gst_harness_teardown(h[1]);
    gst_harness_teardown(h[0]);
    dropMulti(multi, bus);
}
GST_END_TEST;

namespace {

/** A sink pad that keeps the last buffer it received, as a sink showing its last sample does, and counts them. */
struct KeepingSink {
    GstPad *pad = nullptr;
    GMutex lock;
    GstBuffer *last = nullptr;
    gint count = 0;

    KeepingSink() {
        g_mutex_init(&lock);
        pad = gst_pad_new("sink", GST_PAD_SINK);
        gst_pad_set_chain_function(pad, chain);
        gst_pad_set_element_private(pad, this);
        gst_pad_set_active(pad, TRUE);
    }
    ~KeepingSink() {
        gst_pad_set_active(pad, FALSE);
        gst_object_unref(pad);
        gst_buffer_replace(&last, nullptr);
        g_mutex_clear(&lock);
    }
    static GstFlowReturn chain(GstPad *pad, GstObject *, GstBuffer *buffer) {
        KeepingSink *self = static_cast<KeepingSink *>(gst_pad_get_element_private(pad));
        g_mutex_lock(&self->lock);
        gst_buffer_replace(&self->last, buffer);
        g_mutex_unlock(&self->lock);
        gst_buffer_unref(buffer);
        g_atomic_int_inc(&self->count);
        return GST_FLOW_OK;
    }
    /** Waits up to 20 s for `n` more buffers. */
    bool waitFor(gint n) {
        const gint target = g_atomic_int_get(&count) + n;
        for (int i = 0; i < 2000 && g_atomic_int_get(&count) < target; ++i)
            g_usleep(10000);
        return g_atomic_int_get(&count) >= target;
    }
    /** The bytes of the kept buffer (its first `n`). */
    std::string bytes(gsize n) {
        g_mutex_lock(&lock);
        GstBuffer *b = last != nullptr ? gst_buffer_ref(last) : nullptr;
        g_mutex_unlock(&lock);
        fail_unless(b != nullptr);
        GstMapInfo map;
        fail_unless(gst_buffer_map(b, &map, GST_MAP_READ));
        std::string text(reinterpret_cast<const char *>(map.data), MIN(n, map.size));
        gst_buffer_unmap(b, &map);
        gst_buffer_unref(b);
        return text;
    }
};

struct ReleaseCase {
    guint branches;
    guint released; /**< index of the pad released */
    gboolean dmabuf;
};

const ReleaseCase kReleaseCases[] = {
    {2, 1, FALSE}, {2, 1, TRUE}, {2, 0, FALSE}, {2, 0, TRUE}, {3, 1, FALSE}, {3, 2, TRUE}, {3, 0, TRUE},
};

} // namespace

// A branch whose sink keeps its last buffer (as a sink showing its last sample does) is released while every
// branch streams, with the default capture buffers: the others go on streaming; the buffer the released branch
// keeps stays readable and, shown from mapped memory, keeps its frame.
GST_START_TEST(test_released_branch_holds_nothing_back) {
    const ReleaseCase &c = kReleaseCases[__i__];
    Workspace ws;
    GstElement *multi = gst_element_factory_make("norvamultisrc", nullptr);
    GstBus *bus = gst_bus_new();
    gst_element_set_bus(multi, bus);
    g_object_set(multi, "sensor", kDataGenerator, "use-dmabuf", c.dmabuf, "use-mapped-dmabuf", FALSE, "alloc-buffers",
                 3u, "preenq-buffers", 1u, nullptr);
    std::vector<KeepingSink *> sinks;
    std::vector<GstPad *> pads;
    for (guint i = 0; i < c.branches; ++i) {
        sinks.push_back(new KeepingSink());
        pads.push_back(gst_element_request_pad_simple(multi, "src_%u"));
        fail_unless_equals_int(gst_pad_link(pads[i], sinks[i]->pad), GST_PAD_LINK_OK);
    }
    fail_unless(gst_element_set_state(multi, GST_STATE_PLAYING) != GST_STATE_CHANGE_FAILURE);
    for (KeepingSink *sink : sinks)
        fail_unless(sink->waitFor(3), "a branch does not stream");

    gst_element_release_request_pad(multi, pads[c.released]);
    gst_object_unref(pads[c.released]);
    pads[c.released] = nullptr;
    const std::string kept = sinks[c.released]->bytes(4096);
    for (guint i = 0; i < c.branches; ++i) {
        if (i != c.released)
            fail_unless(sinks[i]->waitFor(30), "branch %u stopped after branch %u was released: %s", i, c.released,
                        errorText(bus).c_str());
    }
    fail_unless(errorText(bus).empty());
    if (!c.dmabuf)
        fail_unless(sinks[c.released]->bytes(4096) == kept, "the released branch's buffer changed");

    gst_element_set_state(multi, GST_STATE_NULL);
    for (guint i = 0; i < c.branches; ++i) {
        if (pads[i] != nullptr) {
            gst_element_release_request_pad(multi, pads[i]);
            gst_object_unref(pads[i]);
        }
    }
    for (KeepingSink *sink : sinks)
        delete sink;
    gst_element_set_bus(multi, nullptr);
    gst_object_unref(bus);
    gst_object_unref(multi);
}
GST_END_TEST;

static Suite *norvamultisrc_suite(void) {
    Suite *s = suite_create("norvamultisrc");
    TCase *surface = tcase_create("surface");
    suite_add_tcase(s, surface);
    tcase_add_test(surface, test_surface);
    tcase_add_test(surface, test_request_pads);
    tcase_add_test(surface, test_forwarding);
    TCase *stream = tcase_create("stream");
    tcase_set_timeout(stream, 90);
    suite_add_tcase(s, stream);
    tcase_add_test(stream, test_proxy_beside_source);
    tcase_add_test(stream, test_two_contexts);
    tcase_add_test(stream, test_slave_brightness_follows_main);
    tcase_add_test(stream, test_slave_context_fails);
    tcase_add_test(stream, test_failing_negotiation_leaves_the_proxy_unlocked);
    tcase_add_test(stream, test_shared_memory_read_only);
    tcase_add_test(stream, test_pads_while_streaming);
    tcase_add_test(stream, test_late_pad_receives_first_frames);
    tcase_add_test(stream, test_blocked_branch_loses_only_its_frames);
    tcase_add_test(stream, test_error_on_one_context);
    tcase_add_test(stream, test_buffer_counts_differ);
    tcase_add_test(stream, test_failed_fetch_wakes_other_pads);
    tcase_add_loop_test(stream, test_released_branch_holds_nothing_back, 0, G_N_ELEMENTS(kReleaseCases));
    return s;
}

int main(int argc, char **argv) {
    gst_check_init(&argc, &argv);
    gst_plugin_norvasrc_register();
    Suite *s = norvamultisrc_suite();
    return gst_check_run_suite(s, "norvamultisrc", __FILE__);
}
