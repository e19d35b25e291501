/* rkvdec: takes a whole song from upstream, then plays it from a task on its source pad.
 *
 * A song is a small header and a few tracks, and nothing can be played before all of it is
 * there, so the sink pad only collects bytes until upstream ends; the library then renders the
 * song frame by frame. Durations, positions and seeks are the library's frames at the output
 * rate: a time becomes the nearest frame, and a frame's time is rounded down to the nanosecond,
 * so every frame's timestamp leads back to that same frame. */
#include "rkvdec.h"

#include <gst/audio/audio.h>
#include <gst/base/gstadapter.h>
#include <rkv/rkv.h>

GST_DEBUG_CATEGORY_STATIC(rkv_dec_debug);
#define GST_CAT_DEFAULT rkv_dec_debug

/* About 46 ms at the native rate: small enough for a quick start and a seek, large enough that
 * the per-buffer cost does not matter. */
#define FRAMES_PER_BUFFER 1024

enum { PROP_0, PROP_LOOPS };

struct _GstRkvDec {
    GstElement parent;
    GstPad* sinkpad;
    GstPad* srcpad;
    GstAdapter* adapter; /* the song's bytes until upstream ends */

    /* The streaming state belongs to the source pad's task; a seek changes it with the task
     * stopped and the stream lock held. */
    rkv_song* song;
    gboolean is_float;
    GstSegment segment;
    gboolean send_segment;
    guint32 seek_seqnum; /* of the seek the next segment answers; 0 for none */
    gboolean discont;
    GstTagList* tags;
    guint64 stop_frame; /* the last frame plus one that this segment plays */

    /* Read by queries from any thread: under the object lock. */
    gint loops;
    gboolean playing_song; /* a song is open and its task runs */
    gint rate;
    guint64 length; /* frames, RKV_LENGTH_FOREVER when the loop repeats for ever */
    guint64 offset; /* the next frame pushed */
};

/* clang-format off */
#define SRC_CAPS                                                                                   \
    "audio/x-raw, format = (string) { " GST_AUDIO_NE(S16) ", " GST_AUDIO_NE(F32) " }, "            \
    "layout = (string) interleaved, channels = (int) 2, "                                          \
    "rate = (int) [ " G_STRINGIFY(RKV_MIN_RATE) ", " G_STRINGIFY(RKV_MAX_RATE) " ]"
/* clang-format on */

static GstStaticPadTemplate sink_template =
    GST_STATIC_PAD_TEMPLATE("sink", GST_PAD_SINK, GST_PAD_ALWAYS, GST_STATIC_CAPS("audio/x-rkv"));
static GstStaticPadTemplate src_template =
    GST_STATIC_PAD_TEMPLATE("src", GST_PAD_SRC, GST_PAD_ALWAYS, GST_STATIC_CAPS(SRC_CAPS));

G_DEFINE_TYPE(GstRkvDec, gst_rkv_dec, GST_TYPE_ELEMENT);
GST_ELEMENT_REGISTER_DEFINE(rkvdec, "rkvdec", GST_RANK_PRIMARY, GST_TYPE_RKV_DEC);

static GstClockTime frame_time(const GstRkvDec* self, guint64 frame) {
    return gst_util_uint64_scale_int(frame, GST_SECOND, self->rate);
}

static GstClockTime duration_time(const GstRkvDec* self) {
    return self->length == RKV_LENGTH_FOREVER ? GST_CLOCK_TIME_NONE
                                              : frame_time(self, self->length);
}

/* Forgets the song: back to collecting bytes. */
static void reset(GstRkvDec* self) {
    gst_adapter_clear(self->adapter);
    rkv_close(self->song);
    self->song = NULL;
    gst_clear_tag_list(&self->tags);
    gst_segment_init(&self->segment, GST_FORMAT_TIME);
    GST_OBJECT_LOCK(self);
    self->playing_song = FALSE;
    self->rate = RKV_NATIVE_RATE;
    self->length = 0;
    self->offset = 0;
    GST_OBJECT_UNLOCK(self);
}

/* 16-bit samples when downstream takes them: they are what the player itself sends, and a
 * conversion from float downstream might dither. The rate nearest the native one. */
static gboolean negotiate(GstRkvDec* self) {
    GstCaps* allowed = gst_pad_get_allowed_caps(self->srcpad);
    if (!allowed) {
        GST_ELEMENT_ERROR(self, CORE, NEGOTIATION, (NULL), ("the source pad is not linked"));
        return FALSE;
    }
    GstCaps* s16 =
        gst_caps_new_simple("audio/x-raw", "format", G_TYPE_STRING, GST_AUDIO_NE(S16), NULL);
    self->is_float = !gst_caps_can_intersect(allowed, s16);
    gst_caps_unref(s16);
    GstCaps* format =
        gst_caps_new_simple("audio/x-raw", "format", G_TYPE_STRING,
                            self->is_float ? GST_AUDIO_NE(F32) : GST_AUDIO_NE(S16), NULL);
    GstCaps* caps = gst_caps_intersect(allowed, format);
    gst_caps_unref(format);
    gst_caps_unref(allowed);
    if (gst_caps_is_empty(caps)) {
        gst_caps_unref(caps);
        GST_ELEMENT_ERROR(self, CORE, NEGOTIATION, (NULL), ("downstream takes no stereo audio"));
        return FALSE;
    }
    caps = gst_caps_truncate(caps);
    caps = gst_caps_make_writable(caps);
    gst_structure_fixate_field_nearest_int(gst_caps_get_structure(caps, 0), "rate",
                                           RKV_NATIVE_RATE);
    caps = gst_caps_fixate(caps);
    gint rate = RKV_NATIVE_RATE;
    gst_structure_get_int(gst_caps_get_structure(caps, 0), "rate", &rate);
    gboolean ok = rkv_set_rate(self->song, rate) == RKV_OK && gst_pad_set_caps(self->srcpad, caps);
    gst_caps_unref(caps);
    if (!ok) {
        GST_ELEMENT_ERROR(self, CORE, NEGOTIATION, (NULL), ("cannot play at %d Hz", rate));
        return FALSE;
    }
    GST_OBJECT_LOCK(self);
    self->rate = rate;
    self->length = rkv_length_frames(self->song);
    GST_OBJECT_UNLOCK(self);
    return TRUE;
}

/* What the file itself says, and nothing made up: the codec, the length, and the song's steps
 * and loop as the player treats them. */
static GstTagList* song_tags(GstRkvDec* self) {
    gchar* comment = g_strdup_printf("%d steps of %u ms; the loop plays steps %d to %d",
                                     rkv_step_count(self->song), rkv_step_time_ms(self->song),
                                     rkv_loop_wraps_to(self->song), rkv_loop_last_step(self->song));
    GstTagList* tags = gst_tag_list_new(GST_TAG_AUDIO_CODEC, "RKV step-sequenced song",
                                        GST_TAG_COMMENT, comment, NULL);
    g_free(comment);
    GstClockTime duration = duration_time(self);
    if (GST_CLOCK_TIME_IS_VALID(duration))
        gst_tag_list_add(tags, GST_TAG_MERGE_REPLACE, GST_TAG_DURATION, duration, NULL);
    return tags;
}

static void src_loop(gpointer user_data);

/* Upstream has ended: open what it sent, and play it. */
static gboolean start_song(GstRkvDec* self) {
    gsize size = gst_adapter_available(self->adapter);
    if (size == 0) {
        GST_ELEMENT_ERROR(self, STREAM, DECODE, ("The song is empty."), (NULL));
        return FALSE;
    }
    GstBuffer* bytes = gst_adapter_take_buffer(self->adapter, size);
    GstMapInfo map;
    if (!gst_buffer_map(bytes, &map, GST_MAP_READ)) {
        gst_buffer_unref(bytes);
        GST_ELEMENT_ERROR(self, RESOURCE, READ, (NULL), ("cannot map the song's bytes"));
        return FALSE;
    }
    char message[256] = "";
    GST_PAD_STREAM_LOCK(self->srcpad);
    rkv_status status = rkv_open_memory(map.data, map.size, &self->song, message, sizeof message);
    gst_buffer_unmap(bytes, &map);
    gst_buffer_unref(bytes);
    if (status != RKV_OK) {
        GST_PAD_STREAM_UNLOCK(self->srcpad);
        if (status == RKV_ERROR_NOT_A_SONG)
            GST_ELEMENT_ERROR(self, STREAM, WRONG_TYPE, ("%s", message), (NULL));
        else
            GST_ELEMENT_ERROR(self, STREAM, DECODE, ("%s", message), (NULL));
        return FALSE;
    }
    GST_OBJECT_LOCK(self);
    gint loops = self->loops;
    GST_OBJECT_UNLOCK(self);
    rkv_set_repeat(self->song, loops);
    if (!negotiate(self)) {
        GST_PAD_STREAM_UNLOCK(self->srcpad);
        return FALSE;
    }
    gst_segment_init(&self->segment, GST_FORMAT_TIME);
    self->segment.duration = duration_time(self);
    self->stop_frame = self->length;
    self->send_segment = TRUE;
    self->seek_seqnum = 0;
    self->discont = TRUE;
    self->tags = song_tags(self);
    GST_OBJECT_LOCK(self);
    self->playing_song = TRUE;
    GST_OBJECT_UNLOCK(self);
    gboolean ok = gst_pad_start_task(self->srcpad, src_loop, self, NULL);
    GST_PAD_STREAM_UNLOCK(self->srcpad);
    return ok;
}

static void src_loop(gpointer user_data) {
    GstRkvDec* self = GST_RKV_DEC(user_data);
    if (self->send_segment) {
        GstEvent* segment = gst_event_new_segment(&self->segment);
        if (self->seek_seqnum) gst_event_set_seqnum(segment, self->seek_seqnum);
        gst_pad_push_event(self->srcpad, segment);
        self->send_segment = FALSE;
    }
    if (self->tags) {
        gst_pad_push_event(self->srcpad, gst_event_new_tag(self->tags));
        self->tags = NULL;
    }
    GST_OBJECT_LOCK(self);
    guint64 offset = self->offset;
    GST_OBJECT_UNLOCK(self);
    guint64 frames = MIN(FRAMES_PER_BUFFER, self->stop_frame - MIN(offset, self->stop_frame));
    gsize frame_bytes = self->is_float ? 2 * sizeof(float) : 2 * sizeof(gint16);
    GstBuffer* buffer = gst_buffer_new_allocate(NULL, FRAMES_PER_BUFFER * frame_bytes, NULL);
    GstMapInfo map;
    gst_buffer_map(buffer, &map, GST_MAP_WRITE);
    size_t got = frames == 0      ? 0
                 : self->is_float ? rkv_read_f32(self->song, (float*)map.data, frames)
                                  : rkv_read_s16(self->song, (int16_t*)map.data, frames);
    gst_buffer_unmap(buffer, &map);
    if (got == 0) {
        gst_buffer_unref(buffer);
        if (rkv_last_status(self->song) != RKV_OK)
            GST_ELEMENT_ERROR(self, STREAM, DECODE, ("%s", rkv_last_error(self->song)), (NULL));
        gst_pad_push_event(self->srcpad, gst_event_new_eos());
        gst_pad_pause_task(self->srcpad);
        return;
    }
    gst_buffer_set_size(buffer, got * frame_bytes);
    GST_BUFFER_OFFSET(buffer) = offset;
    GST_BUFFER_OFFSET_END(buffer) = offset + got;
    GST_BUFFER_PTS(buffer) = frame_time(self, offset);
    GST_BUFFER_DURATION(buffer) = frame_time(self, offset + got) - GST_BUFFER_PTS(buffer);
    if (self->discont) {
        GST_BUFFER_FLAG_SET(buffer, GST_BUFFER_FLAG_DISCONT);
        self->discont = FALSE;
    }
    /* A seek that leaves the start as it is goes on from here. */
    self->segment.position = GST_BUFFER_PTS(buffer) + GST_BUFFER_DURATION(buffer);
    GST_OBJECT_LOCK(self);
    self->offset = offset + got;
    GST_OBJECT_UNLOCK(self);
    GstFlowReturn flow = gst_pad_push(self->srcpad, buffer);
    if (flow == GST_FLOW_OK) return;
    GST_DEBUG_OBJECT(self, "pausing: %s", gst_flow_get_name(flow));
    gst_pad_pause_task(self->srcpad);
    if (flow == GST_FLOW_EOS) {
        gst_pad_push_event(self->srcpad, gst_event_new_eos());
    } else if (flow == GST_FLOW_NOT_LINKED || flow < GST_FLOW_EOS) {
        GST_ELEMENT_FLOW_ERROR(self, flow);
        gst_pad_push_event(self->srcpad, gst_event_new_eos());
    }
}

/* Only flushing seeks in time, forwards: that is what players send. The segment starts on the
 * frame the seek lands on, so that no sink clips a part of its first buffer. */
static gboolean seek(GstRkvDec* self, GstEvent* event) {
    gdouble rate;
    GstFormat format;
    GstSeekFlags flags;
    GstSeekType start_type, stop_type;
    gint64 start, stop;
    gst_event_parse_seek(event, &rate, &format, &flags, &start_type, &start, &stop_type, &stop);
    GST_OBJECT_LOCK(self);
    gboolean playing_song = self->playing_song;
    GST_OBJECT_UNLOCK(self);
    if (!playing_song || format != GST_FORMAT_TIME || rate != 1.0 ||
        !(flags & GST_SEEK_FLAG_FLUSH)) {
        GST_DEBUG_OBJECT(self, "refusing a seek: no song yet, not in time, not flushing or not "
                               "at normal speed");
        return FALSE;
    }
    guint32 seqnum = gst_event_get_seqnum(event);
    GstEvent* flush_start = gst_event_new_flush_start();
    gst_event_set_seqnum(flush_start, seqnum);
    gst_pad_push_event(self->srcpad, flush_start);
    gst_pad_pause_task(self->srcpad);

    GST_PAD_STREAM_LOCK(self->srcpad);
    GstSegment segment = self->segment;
    gst_segment_do_seek(&segment, rate, format, flags, start_type, start, stop_type, stop, NULL);
    guint64 frame = gst_util_uint64_scale_int_round(segment.position, self->rate, GST_SECOND);
    frame = MIN(frame, self->length);
    gboolean ok = rkv_seek_frame(self->song, frame) == RKV_OK;
    if (ok) {
        self->stop_frame = self->length;
        if (GST_CLOCK_TIME_IS_VALID(segment.stop))
            self->stop_frame =
                MIN(self->length,
                    gst_util_uint64_scale_int_round(segment.stop, self->rate, GST_SECOND));
        segment.start = segment.position = segment.time = frame_time(self, frame);
        self->segment = segment;
        self->segment.duration = duration_time(self);
        self->send_segment = TRUE;
        self->seek_seqnum = seqnum;
        self->discont = TRUE;
        GST_OBJECT_LOCK(self);
        self->offset = frame;
        GST_OBJECT_UNLOCK(self);
    } else {
        GST_ELEMENT_WARNING(self, STREAM, DECODE, ("%s", rkv_last_error(self->song)), (NULL));
    }
    GstEvent* flush_stop = gst_event_new_flush_stop(TRUE);
    gst_event_set_seqnum(flush_stop, seqnum);
    gst_pad_push_event(self->srcpad, flush_stop);
    gst_pad_start_task(self->srcpad, src_loop, self, NULL);
    GST_PAD_STREAM_UNLOCK(self->srcpad);
    return ok;
}

static gboolean src_event(GstPad* pad, GstObject* parent, GstEvent* event) {
    GstRkvDec* self = GST_RKV_DEC(parent);
    if (GST_EVENT_TYPE(event) == GST_EVENT_SEEK) {
        gboolean ok = seek(self, event);
        gst_event_unref(event);
        return ok;
    }
    return gst_pad_event_default(pad, parent, event);
}

static gboolean src_query(GstPad* pad, GstObject* parent, GstQuery* query) {
    GstRkvDec* self = GST_RKV_DEC(parent);
    GstFormat format;
    gboolean answered = FALSE;
    GST_OBJECT_LOCK(self);
    if (self->playing_song) {
        switch (GST_QUERY_TYPE(query)) {
        case GST_QUERY_DURATION:
            gst_query_parse_duration(query, &format, NULL);
            if (format == GST_FORMAT_TIME) {
                gst_query_set_duration(query, format, duration_time(self));
                answered = TRUE;
            } else if (format == GST_FORMAT_DEFAULT) {
                gst_query_set_duration(
                    query, format, self->length == RKV_LENGTH_FOREVER ? -1 : (gint64)self->length);
                answered = TRUE;
            }
            break;
        case GST_QUERY_POSITION:
            gst_query_parse_position(query, &format, NULL);
            if (format == GST_FORMAT_TIME) {
                gst_query_set_position(query, format, frame_time(self, self->offset));
                answered = TRUE;
            } else if (format == GST_FORMAT_DEFAULT) {
                gst_query_set_position(query, format, self->offset);
                answered = TRUE;
            }
            break;
        case GST_QUERY_SEEKING:
            gst_query_parse_seeking(query, &format, NULL, NULL, NULL);
            if (format == GST_FORMAT_TIME) {
                gst_query_set_seeking(query, format, TRUE, 0, duration_time(self));
                answered = TRUE;
            }
            break;
        default:
            break;
        }
    }
    GST_OBJECT_UNLOCK(self);
    return answered || gst_pad_query_default(pad, parent, query);
}

static gboolean src_activate_mode(GstPad* pad, GstObject* parent, GstPadMode mode,
                                  gboolean active) {
    (void)parent;
    (void)mode;
    return active || gst_pad_stop_task(pad);
}

static GstFlowReturn sink_chain(GstPad* pad, GstObject* parent, GstBuffer* buffer) {
    (void)pad;
    GstRkvDec* self = GST_RKV_DEC(parent);
    if (self->song) { /* the song is whole already */
        gst_buffer_unref(buffer);
        return GST_FLOW_EOS;
    }
    gst_adapter_push(self->adapter, buffer);
    return GST_FLOW_OK;
}

/* Upstream's caps and segments are about bytes, and its flushes restart the bytes: none of
 * them is passed on. Its end is where the song starts playing. */
static gboolean sink_event(GstPad* pad, GstObject* parent, GstEvent* event) {
    GstRkvDec* self = GST_RKV_DEC(parent);
    switch (GST_EVENT_TYPE(event)) {
    case GST_EVENT_EOS:
        gst_event_unref(event);
        return self->song ? TRUE : start_song(self);
    case GST_EVENT_FLUSH_STOP:
        if (!self->song) gst_adapter_clear(self->adapter);
        gst_event_unref(event);
        return TRUE;
    case GST_EVENT_CAPS:
    case GST_EVENT_SEGMENT:
    case GST_EVENT_FLUSH_START:
        gst_event_unref(event);
        return TRUE;
    default:
        return gst_pad_event_default(pad, parent, event);
    }
}

static GstStateChangeReturn change_state(GstElement* element, GstStateChange transition) {
    GstRkvDec* self = GST_RKV_DEC(element);
    if (transition == GST_STATE_CHANGE_READY_TO_PAUSED) reset(self);
    GstStateChangeReturn ret =
        GST_ELEMENT_CLASS(gst_rkv_dec_parent_class)->change_state(element, transition);
    if (transition == GST_STATE_CHANGE_PAUSED_TO_READY)
        reset(self); /* the pads are inactive: the task has stopped */
    return ret;
}

static void set_property(GObject* object, guint id, const GValue* value, GParamSpec* pspec) {
    GstRkvDec* self = GST_RKV_DEC(object);
    if (id != PROP_LOOPS) {
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
        return;
    }
    GST_OBJECT_LOCK(self);
    self->loops = g_value_get_int(value);
    GST_OBJECT_UNLOCK(self);
}

static void get_property(GObject* object, guint id, GValue* value, GParamSpec* pspec) {
    GstRkvDec* self = GST_RKV_DEC(object);
    if (id != PROP_LOOPS) {
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
        return;
    }
    GST_OBJECT_LOCK(self);
    g_value_set_int(value, self->loops);
    GST_OBJECT_UNLOCK(self);
}

static void finalize(GObject* object) {
    GstRkvDec* self = GST_RKV_DEC(object);
    rkv_close(self->song);
    gst_clear_tag_list(&self->tags);
    g_object_unref(self->adapter);
    G_OBJECT_CLASS(gst_rkv_dec_parent_class)->finalize(object);
}

static void gst_rkv_dec_class_init(GstRkvDecClass* klass) {
    GObjectClass* object_class = G_OBJECT_CLASS(klass);
    GstElementClass* element_class = GST_ELEMENT_CLASS(klass);
    object_class->set_property = set_property;
    object_class->get_property = get_property;
    object_class->finalize = finalize;
    g_object_class_install_property(
        object_class, PROP_LOOPS,
        g_param_spec_int("loops", "Loops",
                         "Repeats of the loop region after the first pass, then the voices ring "
                         "out; -1 repeats it for ever. Read when a song starts.",
                         RKV_FOREVER, G_MAXINT32, 0,
                         G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS | GST_PARAM_MUTABLE_READY));
    element_class->change_state = change_state;
    gst_element_class_add_static_pad_template(element_class, &sink_template);
    gst_element_class_add_static_pad_template(element_class, &src_template);
    gst_element_class_set_static_metadata(
        element_class, "RKV song decoder", "Codec/Decoder/Audio",
        "Plays .rkv step-sequenced songs: the whole file in, interleaved stereo audio out",
        "TuvimoPlayer2 developers");
    GST_DEBUG_CATEGORY_INIT(rkv_dec_debug, "rkvdec", 0, "RKV song decoder");
}

static void gst_rkv_dec_init(GstRkvDec* self) {
    self->sinkpad = gst_pad_new_from_static_template(&sink_template, "sink");
    gst_pad_set_chain_function(self->sinkpad, sink_chain);
    gst_pad_set_event_function(self->sinkpad, sink_event);
    gst_element_add_pad(GST_ELEMENT(self), self->sinkpad);
    self->srcpad = gst_pad_new_from_static_template(&src_template, "src");
    gst_pad_set_event_function(self->srcpad, src_event);
    gst_pad_set_query_function(self->srcpad, src_query);
    gst_pad_set_activatemode_function(self->srcpad, src_activate_mode);
    gst_pad_use_fixed_caps(self->srcpad);
    gst_element_add_pad(GST_ELEMENT(self), self->srcpad);
    self->adapter = gst_adapter_new();
    reset(self);
}
