/* librkv called from C: what it renders is what `rkv render` writes, its lengths and seeks are
 * exact, and refusals carry the right code. Usage: api_test RKV_BIN SONG... */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "rkv/rkv.h"

static int failures = 0;
static char context[256] = "";
static void check(int ok, int line, const char* what) {
    if (!ok) fprintf(stderr, "line %d: %s: %s\n", line, context, what);
    failures += !ok;
}
#define CHECK(c) check((c), __LINE__, #c)

/* The data chunk of the WAV `rkv render SONG ARGS` writes; *bytes is its size. */
static unsigned char* rendered(const char* rkv, const char* song, const char* args, long* bytes) {
    char command[4096];
    snprintf(command, sizeof command, "%s render %s -o api_test.wav %s", rkv, song, args);
    FILE* f = system(command) == 0 ? fopen("api_test.wav", "rb") : NULL;
    if (!f) return NULL;
    fseek(f, 0, SEEK_END);
    const long size = ftell(f);
    unsigned char* b = malloc((size_t)size);
    fseek(f, 0, SEEK_SET);
    const int ok = fread(b, 1, (size_t)size, f) == (size_t)size;
    fclose(f);
    for (long at = 12, n = 0; ok && at + 8 <= size; at += 8 + n + (n & 1)) {
        n = b[at + 4] | b[at + 5] << 8 | b[at + 6] << 16 | (long)b[at + 7] << 24;
        if (memcmp(b + at, "data", 4) == 0 && at + 8 + n <= size) {
            memmove(b, b + at + 8, (size_t)(*bytes = n));
            return b;
        }
    }
    free(b);
    return NULL;
}

/* Reads from the position in uneven pieces; returns the frames read. */
static size_t readAll(rkv_song* song, void* into, size_t frames, int f32) {
    size_t done = 0, got = 1, piece = 1;
    while (done < frames && got > 0) {
        piece = piece * 7 % 5003 + 1;
        const size_t n = piece < frames - done ? piece : frames - done;
        got = f32 ? rkv_read_f32(song, (float*)into + 2 * done, n)
                  : rkv_read_s16(song, (int16_t*)into + 2 * done, n);
        done += got;
    }
    return done;
}

/* The whole render equals `rkv render`, and seeks land on the same frames. */
static void compare(const char* rkv, const char* path, int repeat, int rate, int f32) {
    char args[64];
    snprintf(args, sizeof args, "--loops %d --rate %d %s", repeat, rate, f32 ? "--float" : "");
    snprintf(context, sizeof context, "%s %s", path, args);
    long bytes = 0;
    unsigned char* want = rendered(rkv, path, args, &bytes);
    rkv_song* song = NULL;
    CHECK(want && rkv_open_file(path, &song, NULL, 0) == RKV_OK);
    if (!want || !song) return;
    CHECK(rkv_set_repeat(song, repeat) == RKV_OK && rkv_set_rate(song, rate) == RKV_OK);
    const size_t frame = f32 ? 8 : 4, frames = (size_t)bytes / frame;
    CHECK(rkv_length_frames(song) == frames);
    unsigned char* got = calloc(frames + 1, frame);
    CHECK(readAll(song, got, frames + 1, f32) == frames && !memcmp(got, want, frames * frame));
    CHECK(rkv_read_s16(song, (int16_t*)got, 1) == 0 && rkv_last_status(song) == RKV_OK);
    const size_t at[] = {frames / 3 + 7, 1, frames - 5};
    for (size_t i = 0; i < 3; ++i) {
        rkv_position p;
        CHECK(rkv_seek_frame(song, at[i]) == RKV_OK && rkv_position_get(song, &p) == RKV_OK &&
              p.frame == at[i]);
        const size_t n = readAll(song, got, 4000, f32), left = frames - at[i];
        CHECK(n == (left < 4000 ? left : 4000) && !memcmp(got, want + at[i] * frame, n * frame));
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
    remove("api_test.wav");

    /* Repeat counts: two repeats end in pass 2's ring-out; for ever has no end. */
    strcpy(context, "repeats");
    rkv_song* song = NULL;
    CHECK(rkv_open_file(argv[2], &song, NULL, 0) == RKV_OK && rkv_set_repeat(song, 2) == RKV_OK);
    const uint64_t previous = rkv_length_frames(song);
    rkv_position p;
    CHECK(rkv_seek_frame(song, previous) == RKV_OK && rkv_position_get(song, &p) == RKV_OK &&
          p.pass == 2 && p.ring_out);
    CHECK(rkv_set_repeat(song, RKV_FOREVER) == RKV_OK &&
          rkv_length_frames(song) == RKV_LENGTH_FOREVER);
    CHECK(rkv_position_get(song, &p) == RKV_OK && p.frame == previous && !p.ring_out);
    int16_t buffer[2 * 64];
    CHECK(rkv_read_s16(song, buffer, 64) == 64);

    /* Refusals: a code and a message; bad arguments leave the handle as it was. */
    strcpy(context, "refusals");
    CHECK(rkv_set_rate(song, 7999) == RKV_ERROR_ARGUMENT && strstr(rkv_last_error(song), "7999") &&
          rkv_rate(song) == 22050);
    CHECK(rkv_set_repeat(song, -2) == RKV_ERROR_ARGUMENT && rkv_repeat(song) == RKV_FOREVER);
    CHECK(rkv_seek_seconds(song, -1.0) == RKV_ERROR_ARGUMENT);
    CHECK(rkv_read_s16(song, NULL, 4) == 0 && rkv_last_status(song) == RKV_ERROR_ARGUMENT);
    rkv_close(song);
    static const unsigned char noSteps[1100] = {'R', 'K', 'V'};
    char why[256];
    song = (rkv_song*)&failures;
    CHECK(rkv_open_memory("RIFF", 4, &song, why, 8) == RKV_ERROR_NOT_A_SONG && !song &&
          !strcmp(why, "not a s"));
    CHECK(rkv_open_memory(noSteps, sizeof noSteps, &song, why, sizeof why) == RKV_ERROR_REFUSED &&
          !strncmp(why, "refused: ", 9));
    CHECK(rkv_open_file("/nonexistent/x.rkv", &song, why, sizeof why) == RKV_ERROR_CANNOT_READ &&
          strstr(why, "/nonexistent/x.rkv: cannot open"));

    /* Song facts: a song whose clock never ticks (step time 0), whose loop start lies past its
     * two steps, and whose drum track (3) plays key 0 on step 1. */
    strcpy(context, "facts");
    static unsigned char facts[1048 + 4 * 2 * 4] = {'R', 'K', 'V', [12] = 5, [16] = 2, [20] = 2};
    facts[1048 + (3 * 2 + 1) * 4] = 1;
    CHECK(rkv_open_memory(facts, sizeof facts, &song, NULL, 0) == RKV_OK);
    CHECK(rkv_step_time_ms(song) == 0 && rkv_step_count(song) == 2 && rkv_loop_start(song) == 5 &&
          rkv_loop_end(song) == 2 && rkv_loop_wraps_to(song) == 1 && rkv_loop_last_step(song) == 1);
    CHECK(rkv_tracks_used(song) == 8 && rkv_instrument_sounds(song, 0) == 0 &&
          rkv_instrument_note_length(song, 2) == 0 && rkv_instrument_octave(song, 3) == -1);
    int clamped = 0, noTicks = 0;
    for (size_t i = 0; i < rkv_warning_count(song); ++i) {
        clamped += !strncmp(rkv_warning_text(song, i), "clamped: loop start 5", 21);
        noTicks += !strncmp(rkv_warning_text(song, i), "no ticks: step time 0", 21);
    }
    CHECK(clamped == 1 && noTicks == 1 && !rkv_warning_text(song, rkv_warning_count(song)));
    rkv_close(song);
    return failures ? 1 : 0;
}
