/*
 * Placeholders of the image-save service and the upstream events until their implementation lands in
 * gstnorvasrc_signals.cpp, which replaces this file: no request is ever pending and no event is consumed.
 */
#include "gstnorvasrc.h"

void gst_norvasrc_offer_shot_for_save(GstNorvasrc *, const CombinedShot &) {}

gboolean gst_norvasrc_handle_event(GstNorvasrc *, GstEvent *) { return FALSE; }
