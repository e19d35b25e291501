/* librkv: play .rkv step-sequenced songs inside any program.
 *
 * A song is opened into a handle (rkv_song), from memory or from a file. The handle renders the
 * song as interleaved stereo frames (left, right) into buffers the caller passes, exactly as
 * `rkv render` writes them: the same samples, the same length, the same end.
 *
 * Units
 *   frame    one stereo pair of samples, at the handle's output rate (22050 Hz unless
 *            rkv_set_rate chose another). Every length, position and seek is in frames at the
 *            output rate, counted from 0 at the first frame of the song.
 *   samples  int16_t in [-32768, 32767], or float where full scale is [-1, 1] (a loud song may
 *            go beyond it; the int16 samples are clamped).
 *   step     a step of the song, 0 = the first; a song plays its steps one per step time and,
 *            after the first pass, repeats its loop region.
 *   repeat   how many times the loop region is repeated after the first pass: 0 plays the first
 *            pass only; RKV_FOREVER never ends. After the last played step the voices still
 *            sounding ring out (at most 3 s), then the song ends.
 *
 * Errors
 *   Functions that can fail return an rkv_status: RKV_OK (0) or a code below. rkv_status_text
 *   names a code. A handle also keeps the message of its last failure (rkv_last_error), which
 *   says more (for instance why a song was refused); opening, which has no handle yet, writes
 *   its message into a buffer the caller may pass. The reading functions return a frame count
 *   and 0 at the end of the song; on failure they return 0 too, and rkv_last_status tells the
 *   two apart. Null handles and null buffers are refused with RKV_ERROR_ARGUMENT (or 0 frames),
 *   never dereferenced.
 *
 * Threads
 *   The library has no global state. A handle may be used by one thread at a time (any thread,
 *   not always the same); different handles are independent and may be used at the same time
 *   from different threads. Strings returned for a handle stay valid until the next call on
 *   that handle or until it is closed; the other strings are static.
 *
 * Memory
 *   A handle owns everything it allocates; rkv_close frees it. Opening copies the song's bytes:
 *   the caller's buffer may be freed as soon as rkv_open_memory returns.
 */
#ifndef RKV_RKV_H
#define RKV_RKV_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32) || defined(__CYGWIN__)
#define RKV_API
#elif defined(RKV_BUILDING_LIBRARY) && defined(__GNUC__)
#define RKV_API __attribute__((visibility("default")))
#else
#define RKV_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

#define RKV_VERSION_MAJOR 0
#define RKV_VERSION_MINOR 1
#define RKV_VERSION_PATCH 0

/* The native rate of the engine; other output rates are resampled (high quality). */
#define RKV_NATIVE_RATE 22050
/* Output rates rkv_set_rate accepts. */
#define RKV_MIN_RATE 8000
#define RKV_MAX_RATE 192000

/* rkv_set_repeat: repeat the loop region for ever. */
#define RKV_FOREVER (-1)
/* rkv_length_frames of a song repeated for ever. */
#define RKV_LENGTH_FOREVER UINT64_MAX

/* Sizes of the song's fixed parts. */
#define RKV_TRACK_COUNT 4
#define RKV_INSTRUMENT_COUNT 3

typedef enum rkv_status {
    RKV_OK = 0,
    RKV_ERROR_ARGUMENT = 1,      /* a null pointer, a rate or repeat count out of range */
    RKV_ERROR_CANNOT_READ = 2,   /* the file could not be opened or read */
    RKV_ERROR_NOT_A_SONG = 3,    /* the bytes do not begin with the song magic */
    RKV_ERROR_REFUSED = 4,       /* a song the player would not load (see the message) */
    RKV_ERROR_OUT_OF_MEMORY = 5, /* an allocation failed */
    RKV_ERROR_INTERNAL = 6       /* anything else (e.g. the resampler failed) */
} rkv_status;

typedef struct rkv_song rkv_song;

/* Where playback is: the frame that the next read returns first, and what sounds there. */
typedef struct rkv_position {
    uint64_t frame;   /* at the output rate */
    int32_t step;     /* the step playing at that frame (the last one played during ring-out) */
    int32_t ring_out; /* non-zero once no step plays any more: the voices ring out or it ended */
    uint64_t pass;    /* 0 during the first pass, n during the n-th repeat of the loop region */
} rkv_position;

/* (major << 16) | (minor << 8) | patch of the library actually loaded, and "major.minor.patch". */
RKV_API uint32_t rkv_version(void);
RKV_API const char* rkv_version_string(void);

/* A short English name of a status code ("ok", "not a song file", ...); never null. */
RKV_API const char* rkv_status_text(rkv_status status);

/* Opens a song. On success *song is a new handle (close it with rkv_close); on failure *song is
 * null and, when message is not null, the reason is written there as a null-terminated string
 * cut to message_size bytes. The handle starts at frame 0, 22050 Hz, repeat 0. */
RKV_API rkv_status rkv_open_memory(const void* data, size_t size, rkv_song** song, char* message,
                                   size_t message_size);
RKV_API rkv_status rkv_open_file(const char* path, rkv_song** song, char* message,
                                 size_t message_size);
/* Frees the handle; null is allowed. */
RKV_API void rkv_close(rkv_song* song);

/* The status and message of the handle's last failed call; RKV_OK and "" when there was none. */
RKV_API rkv_status rkv_last_status(const rkv_song* song);
RKV_API const char* rkv_last_error(const rkv_song* song);

/* Output rate in Hz, RKV_MIN_RATE .. RKV_MAX_RATE. The position keeps its time: it moves to the
 * frame at the new rate nearest the old one. */
RKV_API rkv_status rkv_set_rate(rkv_song* song, int32_t hz);
RKV_API int32_t rkv_rate(const rkv_song* song);

/* Repeat count: 0 .. INT32_MAX, or RKV_FOREVER. The position keeps its frame; a position past
 * the new end reads as the end. */
RKV_API rkv_status rkv_set_repeat(rkv_song* song, int32_t repeat);
RKV_API int32_t rkv_repeat(const rkv_song* song);

/* The exact number of frames the reads return from frame 0 to the end, at the output rate and
 * repeat count; RKV_LENGTH_FOREVER when repeating for ever. */
RKV_API uint64_t rkv_length_frames(const rkv_song* song);

/* Render up to `frames` frames (2 * frames samples) at the position and advance it. Returns the
 * frames written: fewer than asked only at the end of the song, 0 after it (or on failure). */
RKV_API size_t rkv_read_s16(rkv_song* song, int16_t* buffer, size_t frames);
RKV_API size_t rkv_read_f32(rkv_song* song, float* buffer, size_t frames);

/* Moves to a frame, sample-exact: the next read returns what a read from frame 0 would have
 * returned there. A frame past the end moves to the end. Seeking forward costs rendering the
 * frames skipped (many times faster than real time); seeking back renders from the start. */
RKV_API rkv_status rkv_seek_frame(rkv_song* song, uint64_t frame);
/* The same at the frame nearest `seconds` (>= 0, finite). */
RKV_API rkv_status rkv_seek_seconds(rkv_song* song, double seconds);
RKV_API rkv_status rkv_position_get(const rkv_song* song, rkv_position* position);

/* Song facts, as the file gives them and as the player treats them. */
RKV_API uint32_t rkv_step_time_ms(const rkv_song* song); /* milliseconds per step */
RKV_API int32_t rkv_step_count(const rkv_song* song);
RKV_API int32_t rkv_loop_start(const rkv_song* song);     /* as stored in the file */
RKV_API int32_t rkv_loop_end(const rkv_song* song);       /* as stored in the file */
RKV_API int32_t rkv_loop_wraps_to(const rkv_song* song);  /* where the loop really restarts */
RKV_API int32_t rkv_loop_last_step(const rkv_song* song); /* the last step before a wrap */
/* Instrument 0 .. RKV_INSTRUMENT_COUNT-1: octave, note length in samples (22050 Hz), volume
 * level (300 = full), and whether its notes sound (0: silent, as `rkv info` explains). -1 for an
 * index out of range. */
RKV_API int32_t rkv_instrument_octave(const rkv_song* song, int32_t index);
RKV_API int32_t rkv_instrument_note_length(const rkv_song* song, int32_t index);
RKV_API int32_t rkv_instrument_volume(const rkv_song* song, int32_t index);
RKV_API int32_t rkv_instrument_sounds(const rkv_song* song, int32_t index);
/* Bit t set when track t (0 .. RKV_TRACK_COUNT-1, the last one the drums) plays any note. */
RKV_API uint32_t rkv_tracks_used(const rkv_song* song);
/* What `rkv info` warns about this song: how many, and warning i's text (null out of range). */
RKV_API size_t rkv_warning_count(const rkv_song* song);
RKV_API const char* rkv_warning_text(const rkv_song* song, size_t index);

#ifdef __cplusplus
}
#endif

#endif /* RKV_RKV_H */
