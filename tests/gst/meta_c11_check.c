/* A plain C11 program built against the public metadata header reads back all four records. */
#include <gst/check/gstcheck.h>

#include "gstnorvameta.h"

GST_START_TEST(c_reader_sees_all_four_records) {
    GstBuffer *buffer = gst_buffer_new();
    GstNorvaHistogram hist;
    memset(&hist, 0, sizeof hist);
    hist.globalHistogram[63] = 63u;
    hist.regionHistograms[6][5][4] = 654u;

    fail_unless(gst_buffer_add_current_brightness_meta(buffer, -0.25f) != NULL);
    fail_unless(gst_buffer_add_brightness_hist_meta(buffer, (const struct MC_STATS_HIS *)&hist) != NULL);
    fail_unless(gst_buffer_add_focus_value_meta(buffer, 12.5f) != NULL);
    fail_unless(gst_buffer_add_iris_correction_meta(buffer, -6.0) != NULL);

    GstNorvaCurrentBrightnessMeta *brightness =
        (GstNorvaCurrentBrightnessMeta *)gst_buffer_get_meta(buffer, gst_norva_current_brightness_meta_api_get_type());
    GstNorvaBrightnessHistMeta *histogram =
        (GstNorvaBrightnessHistMeta *)gst_buffer_get_meta(buffer, gst_norva_brightness_hist_meta_api_get_type());
    GstFocusValueMeta *focus = (GstFocusValueMeta *)gst_buffer_get_meta(buffer, gst_focus_value_meta_api_get_type());
    GstIrisCorrectionMeta *iris =
        (GstIrisCorrectionMeta *)gst_buffer_get_meta(buffer, gst_iris_correction_meta_api_get_type());

    fail_unless(brightness != NULL && histogram != NULL && focus != NULL && iris != NULL);
    fail_unless(brightness->brightness == -0.25f);
    fail_unless(histogram->hist.globalHistogram[63] == 63u);
    fail_unless(histogram->hist.regionHistograms[6][5][4] == 654u);
    fail_unless(focus->value == 12.5f);
    fail_unless(iris->correction == -6.0);
    gst_buffer_unref(buffer);
}
GST_END_TEST;

static Suite *meta_c11_suite(void) {
    Suite *s = suite_create("norvameta-c11");
    TCase *tc = tcase_create("reader");
    suite_add_tcase(s, tc);
    tcase_add_test(tc, c_reader_sees_all_four_records);
    return s;
}

GST_CHECK_MAIN(meta_c11);
