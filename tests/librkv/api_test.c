/* librkv called from C: what it renders is what `rkv render` writes, its lengths and seeks are
 * exact, and refusals carry the right code. Usage: api_test RKV_BIN SONG... */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "rkv/rkv.h"

static int failures = 0;
#define CHECK(cond, ...)                                                                           \
    do {                                                                                           \
        if (!(cond)) {                                                                             \
            fprintf(stderr, "%s:%d: %s: ", __FILE__, __LINE__, #cond);                             \
            fprintf(stderr, __VA_ARGS__);                                                          \
            fputc('\n', stderr);                                                                   \
            ++failures;                                                                            \
        }                                                                                          \
    } while (0)

/* The data chunk of the WAV `rkv render ARGS` writes; *bytes is its size. */
static unsigned char* rendered(const char* rkv, const char* song, const char* args, long* bytes) {
    char command[4096];
    const char* out = "librkv_api_test.wav";
    snprintf(command, sizeof command, "%s render %s -o %s %s", rkv, song, out, args);
    if (system(command) != 0) return NULL;
    FILE* f = fopen(out, "rb");
    if (!f) return NULL;
    fseek(f, 0, SEEK_END);
    const long size = ftell(f);
    unsigned char* b = malloc((size_t)size);
    fseek(f, 0, SEEK_SET);
    const int ok = b && fread(b, 1, (size_t)size, f) == (size_t)size;
    fclose(f);
    remove(out);
    for (long at = 12; ok && at + 8 <= size;) {
        const long n = b[at + 4] | b[at + 5] << 8 | b[at + 6] << 16 | (long)b[at + 7] << 24;
        if (memcmp(b + at, "data", 4) == 0 && at + 8 + n <= size) {
            memmove(b, b + at + 8, (size_t)n);
            *bytes = n;
            return b;
        }
        at += 8 + n + (n & 1);
    }
    free(b);
    return NULL;
}

/* Reads from the handle's position in uneven pieces; returns frames read. */
static size_t readAll(rkv_song* song, void* into, size_t frames, int f32) {
    size_t done = 0, got = 0, piece = 1;
    while (done < frames) {
        piece = piece * 7 % 5003 + 1;
        const size_t n = piece < frames - done ? piece : frames - done;
        got = f32 ? rkv_read_f32(song, (float*)into + 2 * done, n)
                  : rkv_read_s16(song, (int16_t*)into + 2 * done, n);
        if (got == 0) break;
        done += got;
    }
    return done;
}

/* The whole render equals `rkv render`, and a seek lands on the same frames. */
static void compare(const char* rkv, const char* path, int repeat, int rate, int f32) {
    char args[64];
    snprintf(args, sizeof args, "--loops %d --rate %d %s", repeat, rate, f32 ? "--float" : "");
    long bytes = 0;
    unsigned char* want = rendered(rkv, path, args, &bytes);
    CHECK(want != NULL, "%s %s: rkv render failed", path, args);
    if (!want) return;
    char why[256];
    rkv_song* song = NULL;
    CHECK(rkv_open_file(path, &song, why, sizeof why) == RKV_OK, "%s: %s", path, why);
    if (!song) return;
    CHECK(rkv_set_repeat(song, repeat) == RKV_OK && rkv_set_rate(song, rate) == RKV_OK, "%s",
          rkv_last_error(song));
    const size_t frame = f32 ? 8 : 4, frames = (size_t)bytes / frame;
    CHECK(rkv_length_frames(song) == frames, "%s %s: length %llu, rkv render wrote %zu", path, args,
          (unsigned long long)rkv_length_frames(song), frames);
    unsigned char* got = calloc(frames + 1, frame);
    CHECK(readAll(song, got, frames + 1, f32) == frames, "%s %s: frames read", path, args);
    CHECK(memcmp(got, want, frames * frame) == 0, "%s %s: samples differ", path, args);
    CHECK(rkv_read_s16(song, (int16_t*)got, 1) == 0 && rkv_last_status(song) == RKV_OK,
          "%s: a read after the end", path);
    const size_t at[] = {frames / 3 + 7, 1, frames - 5};
    for (size_t i = 0; i < sizeof at / sizeof at[0]; ++i) {
        rkv_position p;
        CHECK(rkv_seek_frame(song, at[i]) == RKV_OK, "%s", rkv_last_error(song));
        CHECK(rkv_position_get(song, &p) == RKV_OK && p.frame == at[i], "%s: position", path);
        const size_t n = readAll(song, got, 4000, f32), left = frames - at[i];
        CHECK(n == (left < 4000 ? left : 4000), "%s: %zu frames after a seek", path, n);
        CHECK(memcmp(got, want + at[i] * frame, n * frame) == 0, "%s %s: seek to %zu differs", path,
              args, at[i]);
    }
    free(got);
    free(want);
    rkv_close(song);
}

int main(int argc, char** argv) {
    for (int i = 2; i < argc; ++i) {
        compare(argv[1], argv[i], i - 2, 22050, 0);
        compare(argv[1], argv[i], 1, 48000, i % 2);
    }

    /* Repeat counts: each repeat adds a loop pass; for ever has no end. */
    rkv_song* song = NULL;
    CHECK(rkv_open_file(argv[2], &song, NULL, 0) == RKV_OK, "open");
    uint64_t previous = 0;
    for (int32_t repeat = 0; repeat < 3; ++repeat) {
        rkv_set_repeat(song, repeat);
        CHECK(rkv_length_frames(song) > previous, "repeat %d: length", (int)repeat);
        previous = rkv_length_frames(song);
    }
    rkv_position p;
    CHECK(rkv_seek_frame(song, previous) == RKV_OK && rkv_position_get(song, &p) == RKV_OK &&
              p.pass == 2 && p.ring_out,
          "repeat 2: the end rings out after the second repeat (pass %llu)",
          (unsigned long long)p.pass);
    CHECK(rkv_set_repeat(song, RKV_FOREVER) == RKV_OK, "for ever");
    CHECK(rkv_length_frames(song) == RKV_LENGTH_FOREVER, "for ever: length");
    CHECK(rkv_position_get(song, &p) == RKV_OK && p.frame == previous && p.pass >= 2 && !p.ring_out,
          "for ever: the position stays and the loop goes on");
    int16_t buffer[2 * 64];
    CHECK(rkv_read_s16(song, buffer, 64) == 64, "for ever: reads go on");

    /* Refusals: a code, a message, no handle; bad arguments leave the handle as it was. */
    CHECK(rkv_set_rate(song, 7999) == RKV_ERROR_ARGUMENT && strstr(rkv_last_error(song), "7999") &&
              rkv_rate(song) == 22050,
          "rate refused: %s", rkv_last_error(song));
    CHECK(rkv_set_repeat(song, -2) == RKV_ERROR_ARGUMENT, "repeat -2");
    CHECK(rkv_seek_seconds(song, -1.0) == RKV_ERROR_ARGUMENT, "negative seconds");
    CHECK(rkv_read_s16(song, NULL, 4) == 0 && rkv_last_status(song) == RKV_ERROR_ARGUMENT,
          "null buffer");
    rkv_close(song);
    static const unsigned char noStepsSong[1100] = {'R', 'K', 'V'};
    const struct {
        const void* data;
        size_t size;
        rkv_status status;
        const char* message;
    } refusals[] = {{"RIFF", 4, RKV_ERROR_NOT_A_SONG, "not a song file (no RKV magic)"},
                    {"", 0, RKV_ERROR_NOT_A_SONG, "not a song file (no RKV magic)"},
                    {noStepsSong, sizeof noStepsSong, RKV_ERROR_REFUSED, "refused: "},
                    {NULL, 1, RKV_ERROR_ARGUMENT, "null data"}};
    for (size_t i = 0; i < sizeof refusals / sizeof refusals[0]; ++i) {
        char why[256] = "unset";
        song = (rkv_song*)&failures;
        const rkv_status s = rkv_open_memory(refusals[i].data, refusals[i].size, &song, why, 8);
        CHECK(s == refusals[i].status && song == NULL, "refusal %zu: %s", i, rkv_status_text(s));
        CHECK(strncmp(why, refusals[i].message, 7) == 0 && strlen(why) <= 7, "message %s", why);
    }
    /* Song facts: a song whose clock never ticks (step time 0), whose loop start lies past its
     * two steps, and whose drum track (3) plays key 0 on step 1. */
    static unsigned char facts[1048 + 4 * 2 * 4] = {'R', 'K', 'V', 0, 0, 0, 0, 0, 0, 0, 0,
                                                    0,   5,   0,   0, 0, 2, 0, 0, 0, 2};
    facts[1048 + (3 * 2 + 1) * 4] = 1;
    CHECK(rkv_open_memory(facts, sizeof facts, &song, NULL, 0) == RKV_OK, "facts song");
    CHECK(rkv_step_time_ms(song) == 0 && rkv_step_count(song) == 2 && rkv_loop_start(song) == 5 &&
              rkv_loop_end(song) == 2 && rkv_loop_wraps_to(song) == 1 &&
              rkv_loop_last_step(song) == 1,
          "header facts");
    CHECK(rkv_tracks_used(song) == 8 && rkv_instrument_sounds(song, 0) == 0 &&
              rkv_instrument_note_length(song, 2) == 0 && rkv_instrument_octave(song, 3) == -1,
          "tracks and instruments");
    int clamped = 0, noTicks = 0;
    for (size_t i = 0; i < rkv_warning_count(song); ++i) {
        clamped += strncmp(rkv_warning_text(song, i), "clamped: loop start 5", 21) == 0;
        noTicks += strncmp(rkv_warning_text(song, i), "no ticks: step time 0", 21) == 0;
    }
    CHECK(clamped == 1 && noTicks == 1 && !rkv_warning_text(song, rkv_warning_count(song)),
          "warnings");
    rkv_close(song);

    char why[256];
    CHECK(rkv_open_file("/nonexistent/x.rkv", &song, why, sizeof why) == RKV_ERROR_CANNOT_READ &&
              strstr(why, "/nonexistent/x.rkv: cannot open"),
          "missing file: %s", why);
    CHECK(strcmp(rkv_status_text(RKV_ERROR_REFUSED), "refused") == 0, "status text");
    CHECK(rkv_version() == (RKV_VERSION_MAJOR << 16 | RKV_VERSION_MINOR << 8 | RKV_VERSION_PATCH),
          "version");
    return failures ? 1 : 0;
}
