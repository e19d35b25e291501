// Two handles rendering at once in two threads give the samples each gives alone: handles share
// nothing. Runs under ThreadSanitizer too. Usage: concurrency_test SONG SONG
#include <fstream>
#include <iterator>
#include <thread>
#include <vector>

#include "rkv/rkv.h"

namespace {

// 150000 frames of a song at a rate, after a seek forward and back.
std::vector<std::int16_t> render(const char* path, std::int32_t rate) {
    std::ifstream in(path, std::ios::binary);
    const std::vector<char> bytes{std::istreambuf_iterator<char>(in), {}};
    rkv_song* song = nullptr;
    std::vector<std::int16_t> out(2 * 150000);
    if (rkv_open_memory(bytes.data(), bytes.size(), &song, nullptr, 0) != RKV_OK) return {};
    rkv_set_repeat(song, RKV_FOREVER);
    rkv_set_rate(song, rate);
    rkv_seek_frame(song, 70000);
    rkv_seek_frame(song, 0);
    for (std::size_t done = 0, got = 1; done < out.size() / 2 && got > 0; done += got)
        got = rkv_read_s16(song, out.data() + 2 * done,
                           std::min<std::size_t>(out.size() / 2 - done, 999));
    rkv_close(song);
    return out;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) return 2;
    const std::vector<std::int16_t> alone[2] = {render(argv[1], 22050), render(argv[2], 48000)};
    std::vector<std::int16_t> together[2];
    std::thread other([&] { together[1] = render(argv[2], 48000); });
    together[0] = render(argv[1], 22050);
    other.join();
    // A song that failed to open leaves an empty render, which fails too.
    return alone[0].empty() || alone[1].empty() || together[0] != alone[0] ||
           together[1] != alone[1];
}
