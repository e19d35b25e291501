/* Speed of librkv's rkv_read_s16 on a song repeated for ever, in frames per second and as a
 * multiple of real time, best of five; compare with bench/render_speed.sh on the same song. Then
 * the time of an open and of a seek back to the start (best of five), which restores the player as
 * the load left it. SECONDS 0 measures only those.
 * Usage: librkv_speed SONG [SECONDS] */
#include <rkv/rkv.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

static double now(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (double)t.tv_sec + (double)t.tv_nsec / 1e9;
}

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    const double seconds = argc > 2 ? atof(argv[2]) : 600;
    static int16_t buffer[2 * 32768];
    double best = 1e30;
    for (int run = 0; run < 5 && seconds > 0; ++run) {
        const double t0 = now();
        rkv_song* song;
        if (rkv_open_file(argv[1], &song, NULL, 0) != RKV_OK) return 1;
        rkv_set_repeat(song, RKV_FOREVER);
        const size_t frames = (size_t)(seconds * RKV_NATIVE_RATE);
        for (size_t done = 0; done < frames;)
            done += rkv_read_s16(song, buffer, frames - done < 32768 ? frames - done : 32768);
        rkv_close(song);
        const double t = now() - t0;
        best = t < best ? t : best;
    }
    if (seconds > 0)
        printf("rkv_read_s16, %g s of audio: best of 5 %.3f s = %.0f frames/s = %.0fx real time\n",
               seconds, best, seconds * RKV_NATIVE_RATE / best, seconds / best);

    const double t0 = now();
    rkv_song* song;
    if (rkv_open_file(argv[1], &song, NULL, 0) != RKV_OK) return 1;
    const double opened = now() - t0;
    best = 1e30;
    for (int run = 0; run < 5; ++run) {
        rkv_seek_frame(song, RKV_NATIVE_RATE / 10);
        const double t1 = now();
        if (rkv_seek_frame(song, 0) != RKV_OK) return 1;
        const double t = now() - t1;
        best = t < best ? t : best;
    }
    rkv_close(song);
    printf("rkv_open_file %.3f s; seek back to the start, best of 5: %.6f s\n", opened, best);
    return 0;
}
