// The per-frame metadata library: fixed layouts, registration, add and copy rules, and refusals.
#include <gst/check/gstcheck.h>

#include <atomic>
#include <cstddef>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "gstnorvameta.h"
#include "mc/mc_stats.h"

// The plug-in hands the ISP's histogram statistics straight to the library.
static_assert(sizeof(MC_STATS_HIS) == sizeof(GstNorvaHistogram), "histogram record size");
static_assert(offsetof(MC_STATS_HIS, regionHistograms) == offsetof(GstNorvaHistogram, regionHistograms),
              "histogram record layout");
static_assert(sizeof(GstNorvaCurrentBrightnessMeta) == 24 && offsetof(GstNorvaCurrentBrightnessMeta, brightness) == 16,
              "brightness record");
static_assert(sizeof(GstNorvaBrightnessHistMeta) == 3408 && offsetof(GstNorvaBrightnessHistMeta, hist) == 16,
              "histogram record");
static_assert(sizeof(GstFocusValueMeta) == 24 && offsetof(GstFocusValueMeta, value) == 16, "focus record");
static_assert(sizeof(GstIrisCorrectionMeta) == 24 && offsetof(GstIrisCorrectionMeta, correction) == 16, "iris record");

namespace {

struct MetaKind {
    const char *api_name;
    const char *impl_name;
    const char *add_name;
    GType (*api_type)();
    const GstMetaInfo *(*info)();
    GstMeta *(*add)(GstBuffer *);
    double (*value)(const GstMeta *); // the stored value, or the first global bin of the histogram
    double expected;
    bool follows_copy;
};

MC_STATS_HIS make_histogram() {
    MC_STATS_HIS h;
    for (unsigned i = 0; i < 64; ++i)
        h.globalHistogram[i] = 1000u + i;
    for (unsigned r = 0; r < 7; ++r)
        for (unsigned c = 0; c < 7; ++c)
            for (unsigned b = 0; b < 16; ++b)
                h.regionHistograms[r][c][b] = 100000u + (r * 7 + c) * 16 + b;
    return h;
}

const MC_STATS_HIS kHistogram = make_histogram();

const MetaKind kKinds[] = {
    {"GstNorvaCurrentBrightnessMetaAPI", "GstNorvaCurrentBrightnessMeta", "gst_buffer_add_current_brightness_meta",
     gst_norva_current_brightness_meta_api_get_type, gst_norva_current_brightness_meta_get_info,
     [](GstBuffer *b) { return reinterpret_cast<GstMeta *>(gst_buffer_add_current_brightness_meta(b, -0.5f)); },
     [](const GstMeta *m) { return double(reinterpret_cast<const GstNorvaCurrentBrightnessMeta *>(m)->brightness); },
     -0.5, false},
    {"GstNorvaBrightnessHistMetaAPI", "GstNorvaBrightnessHistMeta", "gst_buffer_add_brightness_hist_meta",
     gst_norva_brightness_hist_meta_api_get_type, gst_norva_brightness_hist_meta_get_info,
     [](GstBuffer *b) { return reinterpret_cast<GstMeta *>(gst_buffer_add_brightness_hist_meta(b, &kHistogram)); },
     [](const GstMeta *m) {
         return double(reinterpret_cast<const GstNorvaBrightnessHistMeta *>(m)->hist.globalHistogram[0]);
     },
     1000.0, false},
    {"GstFocusValueMetaAPI", "GstFocusValueMeta", "gst_buffer_add_focus_value_meta", gst_focus_value_meta_api_get_type,
     gst_focus_value_meta_get_info,
     [](GstBuffer *b) { return reinterpret_cast<GstMeta *>(gst_buffer_add_focus_value_meta(b, 42.25f)); },
     [](const GstMeta *m) { return double(reinterpret_cast<const GstFocusValueMeta *>(m)->value); }, 42.25, true},
    {"GstIrisCorrectionMetaAPI", "GstIrisCorrectionMeta", "gst_buffer_add_iris_correction_meta",
     gst_iris_correction_meta_api_get_type, gst_iris_correction_meta_get_info,
     [](GstBuffer *b) { return reinterpret_cast<GstMeta *>(gst_buffer_add_iris_correction_meta(b, -3.5)); },
     [](const GstMeta *m) { return reinterpret_cast<const GstIrisCorrectionMeta *>(m)->correction; }, -3.5, true},
};

// Collects the critical messages GLib prints, leaving them to GstCheck's handler as well.
std::vector<std::string> g_criticals;
gboolean remember_critical(const gchar *, GLogLevelFlags, const gchar *message, gpointer) {
    g_criticals.emplace_back(message);
    return FALSE;
}

bool has_critical(const std::string &text) {
    for (const auto &m : g_criticals)
        if (m.find(text) != std::string::npos)
            return true;
    return false;
}

} // namespace

GST_START_TEST(registrations_have_the_published_names) {
    for (const MetaKind &k : kKinds) {
        GType api = k.api_type();
        fail_unless(api != 0);
        fail_unless_equals_string(g_type_name(api), k.api_name);
        fail_unless(k.api_type() == api);
        const gchar *const *tags = gst_meta_api_type_get_tags(api);
        fail_unless(tags == nullptr || tags[0] == nullptr, "%s has tags", k.api_name);
        fail_unless(!gst_meta_api_type_has_tag(api, g_quark_from_string("size")));

        const GstMetaInfo *info = k.info();
        fail_unless(info != nullptr && info == k.info());
        fail_unless(info->api == api);
        fail_unless_equals_string(g_type_name(info->type), k.impl_name);
        fail_unless(gst_meta_get_info(k.impl_name) == info);
        fail_unless(info->free_func == nullptr);
        fail_unless((info->transform_func != nullptr) == k.follows_copy, "%s transform", k.impl_name);
    }
    fail_unless_equals_int(kKinds[0].info()->size, 24);
    fail_unless_equals_int(kKinds[1].info()->size, 3408);
    fail_unless_equals_int(kKinds[2].info()->size, 24);
    fail_unless_equals_int(kKinds[3].info()->size, 24);
}
GST_END_TEST;

GST_START_TEST(concurrent_first_registration_gives_one_type) {
    // Each test runs in a fresh process, so these are the first calls.
    for (const MetaKind &k : kKinds) {
        std::atomic<int> ready{0};
        GType seen[2] = {0, 0};
        const GstMetaInfo *infos[2] = {nullptr, nullptr};
        auto run = [&](int i) {
            ready.fetch_add(1);
            while (ready.load() < 2) {
            }
            seen[i] = k.api_type();
            infos[i] = k.info();
        };
        std::thread a(run, 0), b(run, 1);
        a.join();
        b.join();
        fail_unless(seen[0] != 0 && seen[0] == seen[1], "%s registered twice", k.api_name);
        fail_unless(infos[0] != nullptr && infos[0] == infos[1]);
        fail_unless(g_type_from_name(k.api_name) == seen[0]);
    }
}
GST_END_TEST;

GST_START_TEST(records_store_and_read_back) {
    for (const MetaKind &k : kKinds) {
        GstBuffer *buffer = gst_buffer_new();
        GstMeta *added = k.add(buffer);
        fail_unless(added != nullptr);
        GstMeta *found = gst_buffer_get_meta(buffer, k.api_type());
        fail_unless(found == added);
        fail_unless(found->info == k.info());
        fail_unless(k.value(found) == k.expected, "%s value", k.impl_name);
        gst_buffer_unref(buffer);
    }
}
GST_END_TEST;

GST_START_TEST(histogram_bins_sit_at_the_published_offsets) {
    GstBuffer *buffer = gst_buffer_new();
    GstNorvaBrightnessHistMeta *meta = gst_buffer_add_brightness_hist_meta(buffer, &kHistogram);
    fail_unless(meta != nullptr);
    const guint8 *bytes = reinterpret_cast<const guint8 *>(meta);
    for (unsigned i = 0; i < 64; ++i) {
        guint32 v;
        std::memcpy(&v, bytes + 16 + i * 4, 4);
        fail_unless_equals_int(v, 1000u + i);
    }
    for (unsigned r = 0; r < 7; ++r)
        for (unsigned c = 0; c < 7; ++c)
            for (unsigned b = 0; b < 16; ++b) {
                guint32 v;
                std::memcpy(&v, bytes + 16 + 256 + ((r * 7 + c) * 16 + b) * 4, 4);
                fail_unless(v == 100000u + (r * 7 + c) * 16 + b, "bin (%u, %u, %u) reads %u", r, c, b, v);
            }
    gst_buffer_unref(buffer);
}
GST_END_TEST;

GST_START_TEST(a_fresh_record_is_zero) {
    GstBuffer *buffer = gst_buffer_new();
    GstNorvaBrightnessHistMeta *hist = reinterpret_cast<GstNorvaBrightnessHistMeta *>(
        gst_buffer_add_meta(buffer, gst_norva_brightness_hist_meta_get_info(), nullptr));
    GstNorvaHistogram zero;
    std::memset(&zero, 0, sizeof zero);
    fail_unless(std::memcmp(&hist->hist, &zero, sizeof zero) == 0);
    GstIrisCorrectionMeta *iris = reinterpret_cast<GstIrisCorrectionMeta *>(
        gst_buffer_add_meta(buffer, gst_iris_correction_meta_get_info(), nullptr));
    fail_unless(iris->correction == 0.0);
    gst_buffer_unref(buffer);
}
GST_END_TEST;

GST_START_TEST(copy_keeps_focus_and_iris_only) {
    GstBuffer *buffer = gst_buffer_new();
    for (const MetaKind &k : kKinds)
        fail_unless(k.add(buffer) != nullptr);
    GstBuffer *copy = gst_buffer_copy(buffer);
    for (const MetaKind &k : kKinds) {
        GstMeta *m = gst_buffer_get_meta(copy, k.api_type());
        fail_unless((m != nullptr) == k.follows_copy, "%s on the copy", k.impl_name);
        if (m) {
            fail_unless(k.value(m) == k.expected);
            fail_unless_equals_int(gst_buffer_get_n_meta(copy, k.api_type()), 1);
        }
    }
    gst_buffer_unref(copy);
    gst_buffer_unref(buffer);
}
GST_END_TEST;

GST_START_TEST(the_first_of_two_records_is_found) {
    GstBuffer *buffer = gst_buffer_new();
    GstFocusValueMeta *first = gst_buffer_add_focus_value_meta(buffer, 1.0f);
    fail_unless(gst_buffer_add_focus_value_meta(buffer, 2.0f) != nullptr);
    fail_unless_equals_int(gst_buffer_get_n_meta(buffer, gst_focus_value_meta_api_get_type()), 2);
    GstFocusValueMeta *found =
        reinterpret_cast<GstFocusValueMeta *>(gst_buffer_get_meta(buffer, gst_focus_value_meta_api_get_type()));
    fail_unless(found == first && found->value == 1.0f);
    gst_buffer_unref(buffer);
}
GST_END_TEST;

GST_START_TEST(refused_buffers_get_nothing) {
    gst_check_add_log_filter(nullptr, G_LOG_LEVEL_CRITICAL,
                             g_regex_new(".*", GRegexCompileFlags(0), GRegexMatchFlags(0), nullptr), remember_critical,
                             nullptr, nullptr);
    GstCaps *not_a_buffer = gst_caps_new_empty();
    for (const MetaKind &k : kKinds) {
        GstMeta *result = reinterpret_cast<GstMeta *>(1);
        g_criticals.clear();
        ASSERT_CRITICAL(result = k.add(nullptr));
        fail_unless(result == nullptr);
        fail_unless(has_critical(std::string(k.add_name) + ": assertion 'GST_IS_BUFFER (buffer)' failed"),
                    "%s null message", k.add_name);

        ASSERT_CRITICAL(result = k.add(reinterpret_cast<GstBuffer *>(not_a_buffer)));
        fail_unless(result == nullptr);

        GstBuffer *shared = gst_buffer_new();
        gst_buffer_ref(shared);
        g_criticals.clear();
        ASSERT_CRITICAL(result = k.add(shared));
        fail_unless(result == nullptr);
        fail_unless(has_critical(std::string(k.add_name) + ": assertion 'gst_buffer_is_writable (buffer)' failed"),
                    "%s writable message", k.add_name);
        fail_unless_equals_int(gst_buffer_get_n_meta(shared, k.api_type()), 0);
        gst_buffer_unref(shared);
        gst_buffer_unref(shared);
    }
    gst_caps_unref(not_a_buffer);
    gst_check_clear_log_filter();
}
GST_END_TEST;

GST_START_TEST(transform_onto_a_shared_buffer_adds_nothing_but_succeeds) {
    for (const MetaKind &k : kKinds) {
        if (!k.follows_copy)
            continue;
        GstBuffer *source = gst_buffer_new();
        GstMeta *meta = k.add(source);
        GstBuffer *dest = gst_buffer_new();
        gst_buffer_ref(dest);
        GstMetaTransformCopy copy = {FALSE, 0, static_cast<gsize>(-1)};
        gboolean result = FALSE;
        ASSERT_CRITICAL(result = meta->info->transform_func(dest, meta, source, _gst_meta_transform_copy, &copy));
        fail_unless(result == TRUE);
        fail_unless_equals_int(gst_buffer_get_n_meta(dest, k.api_type()), 0);
        gst_buffer_unref(dest);
        gst_buffer_unref(dest);
        gst_buffer_unref(source);
    }
}
GST_END_TEST;

static Suite *norvameta_suite() {
    Suite *s = suite_create("norvameta");
    TCase *tc = tcase_create("records");
    suite_add_tcase(s, tc);
    tcase_add_test(tc, registrations_have_the_published_names);
    tcase_add_test(tc, concurrent_first_registration_gives_one_type);
    tcase_add_test(tc, records_store_and_read_back);
    tcase_add_test(tc, histogram_bins_sit_at_the_published_offsets);
    tcase_add_test(tc, a_fresh_record_is_zero);
    tcase_add_test(tc, copy_keeps_focus_and_iris_only);
    tcase_add_test(tc, the_first_of_two_records_is_found);
    tcase_add_test(tc, refused_buffers_get_nothing);
    tcase_add_test(tc, transform_onto_a_shared_buffer_adds_nothing_but_succeeds);
    return s;
}

GST_CHECK_MAIN(norvameta);
