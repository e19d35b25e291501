// Two handles rendering at the same time in two threads give the samples each gives alone: the
// library shares nothing between handles. Run under ThreadSanitizer too.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <thread>
#include <vector>

#include "rkv/rkv.h"

namespace {

constexpr std::size_t FRAMES = 150000;

// The first FRAMES frames of a song at a rate, with a seek back and forth on the way.
std::vector<std::int16_t> render(const std::vector<char>& bytes, std::int32_t rate) {
    rkv_song* song = nullptr;
    std::vector<std::int16_t> out(2 * FRAMES);
    if (rkv_open_memory(bytes.data(), bytes.size(), &song, nullptr, 0) != RKV_OK) return {};
    rkv_set_repeat(song, RKV_FOREVER);
    rkv_set_rate(song, rate);
    rkv_seek_frame(song, FRAMES / 2);
    rkv_seek_frame(song, 0);
    std::size_t done = 0;
    while (done < FRAMES) {
        const std::size_t got =
            rkv_read_s16(song, out.data() + 2 * done, std::min<std::size_t>(FRAMES - done, 1000));
        if (got == 0) break;
        done += got;
    }
    rkv_close(song);
    out.resize(2 * done);
    return out;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) return 2;
    std::vector<char> songs[2];
    for (int i = 0; i < 2; ++i) {
        std::ifstream in(argv[1 + i], std::ios::binary);
        songs[i].assign(std::istreambuf_iterator<char>(in), {});
    }
    const std::int32_t rates[2] = {22050, 48000};
    std::vector<std::int16_t> alone[2], together[2];
    for (int i = 0; i < 2; ++i)
        alone[i] = render(songs[i], rates[i]);
    std::thread other([&] { together[1] = render(songs[1], rates[1]); });
    together[0] = render(songs[0], rates[0]);
    other.join();
    int failures = 0;
    for (int i = 0; i < 2; ++i) {
        if (alone[i].size() != 2 * FRAMES || together[i] != alone[i]) {
            std::fprintf(stderr, "%s: %zu frames alone, threads differ\n", argv[1 + i],
                         alone[i].size() / 2);
            ++failures;
        }
    }
    return failures;
}
