/* The rkv plugin: a typefinder that knows a song by its first bytes, and the rkvdec decoder, so
 * that decodebin, playbin and the players built on them play .rkv songs. */
#include <string.h>

#include <gst/gst.h>

#include "rkvdec.h"

/* A song's header: the magic, then everything up to the tracks. */
#define HEADER_BYTES 1048

/* The magic is a song's first three bytes (the fourth is not part of it). With a whole header
 * behind it the type is settled, and the other typefinders are not asked: some of them fail on
 * a short song's bytes, which would stop the stream. */
static void rkv_type_find(GstTypeFind* tf, gpointer user_data) {
    (void)user_data;
    const guint8* data = gst_type_find_peek(tf, 0, 3);
    if (data && memcmp(data, "RKV", 3) == 0) {
        GstCaps* caps = gst_caps_new_empty_simple("audio/x-rkv");
        gst_type_find_suggest(tf,
                              gst_type_find_peek(tf, 0, HEADER_BYTES) ? GST_TYPE_FIND_MAXIMUM
                                                                      : GST_TYPE_FIND_LIKELY,
                              caps);
        gst_caps_unref(caps);
    }
}

static gboolean plugin_init(GstPlugin* plugin) {
    GstCaps* caps = gst_caps_new_empty_simple("audio/x-rkv");
    gboolean ok = gst_type_find_register(plugin, "audio/x-rkv", GST_RANK_PRIMARY, rkv_type_find,
                                         "rkv", caps, NULL, NULL);
    gst_caps_unref(caps);
    return ok && GST_ELEMENT_REGISTER(rkvdec, plugin);
}

/* GStreamer's own macro leaves its padding to zero-initialisation. */
#define PACKAGE "tuvimoplayer2"
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
GST_PLUGIN_DEFINE(GST_VERSION_MAJOR, GST_VERSION_MINOR, rkv, "Plays .rkv step-sequenced songs",
                  plugin_init, RKV_PLUGIN_VERSION, "Proprietary", "TuvimoPlayer2", "TuvimoPlayer2")
#pragma GCC diagnostic pop
