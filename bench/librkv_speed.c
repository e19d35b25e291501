/* Speed of librkv's rkv_read_s16 on a song repeated for ever, in frames per second and as a
 * multiple of real time, best of five; compare with bench/render_speed.sh on the same song.
 * Usage: librkv_speed SONG [SECONDS] */
#include <rkv/rkv.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    const double seconds = argc > 2 ? atof(argv[2]) : 600;
    static int16_t buffer[2 * 32768];
    double best = 1e30;
    for (int run = 0; run < 5; ++run) {
        struct timespec t0, t1;
        clock_gettime(CLOCK_MONOTONIC, &t0);
        rkv_song* song;
        if (rkv_open_file(argv[1], &song, NULL, 0) != RKV_OK) return 1;
        rkv_set_repeat(song, RKV_FOREVER);
        const size_t frames = (size_t)(seconds * RKV_NATIVE_RATE);
        for (size_t done = 0; done < frames;)
            done += rkv_read_s16(song, buffer, frames - done < 32768 ? frames - done : 32768);
        rkv_close(song);
        clock_gettime(CLOCK_MONOTONIC, &t1);
        const double t = (double)(t1.tv_sec - t0.tv_sec) + (double)(t1.tv_nsec - t0.tv_nsec) / 1e9;
        best = t < best ? t : best;
    }
    printf("rkv_read_s16, %g s of audio: best of 5 %.3f s = %.0f frames/s = %.0fx real time\n",
           seconds, best, seconds * RKV_NATIVE_RATE / best, seconds / best);
    return 0;
}
