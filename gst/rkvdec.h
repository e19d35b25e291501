/* rkvdec: decodes a whole .rkv song taken from upstream into interleaved stereo audio. */
#pragma once

#include <gst/gst.h>

G_BEGIN_DECLS

#define GST_TYPE_RKV_DEC (gst_rkv_dec_get_type())
G_DECLARE_FINAL_TYPE(GstRkvDec, gst_rkv_dec, GST, RKV_DEC, GstElement)

GST_ELEMENT_REGISTER_DECLARE(rkvdec);

G_END_DECLS
