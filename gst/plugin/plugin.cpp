/*
 * The plug-in "norvasrc": its descriptor and entry points. GStreamer finds gst_plugin_norvasrc_get_desc from
 * the library's file name; gst_plugin_norvasrc_register registers the plug-in statically. The descriptor carries
 * the GStreamer version of the headers the plug-in is built with, so it loads on the GStreamer it was built for.
 */
#include <gst/gst.h>

#include "gstnorvamultisrc.h"
#include "gstnorvasrc.h"

static gboolean plugin_init(GstPlugin *plugin) {
    return gst_element_register(plugin, "norvasrc", GST_RANK_NONE, GST_TYPE_NORVASRC) &&
           gst_element_register(plugin, "norvamultisrc", GST_RANK_NONE, GST_TYPE_NORVAMULTISRC);
}

static const GstPluginDesc gst_plugin_desc = {
    GST_VERSION_MAJOR,
    GST_VERSION_MINOR,
    "norvasrc",
    "Norva ISP plugin",
    plugin_init,
    "0.1",
    "Proprietary",
    "Norvasrc",
    "Plugins for Kelvo-2 platform",
    "https://norva.invalid/",
    nullptr,
    {nullptr},
};

extern "C" {

GST_PLUGIN_EXPORT const GstPluginDesc *gst_plugin_norvasrc_get_desc(void);
GST_PLUGIN_EXPORT void gst_plugin_norvasrc_register(void);

const GstPluginDesc *gst_plugin_norvasrc_get_desc(void) { return &gst_plugin_desc; }

void gst_plugin_norvasrc_register(void) {
    gst_plugin_register_static(gst_plugin_desc.major_version, gst_plugin_desc.minor_version, gst_plugin_desc.name,
                               gst_plugin_desc.description, gst_plugin_desc.plugin_init, gst_plugin_desc.version,
                               gst_plugin_desc.license, gst_plugin_desc.source, gst_plugin_desc.package,
                               gst_plugin_desc.origin);
}
}
