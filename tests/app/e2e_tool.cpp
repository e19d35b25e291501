// Writes the song the end-to-end scripts play (see test_song.hpp).
//   rkv_e2e_tool song OUT.rkv [busy]
#include <cstdio>
#include <string>

#include "app/test_song.hpp"

int main(int argc, char** argv) {
    const bool busy = argc == 3 || (argc == 4 && std::string(argv[3]) == "busy");
    if (!busy || std::string(argv[1]) != "song") {
        std::fprintf(stderr, "usage: %s song OUT.rkv [busy]\n", argv[0]);
        return 2;
    }
    return rkvtest::writeFile(argv[2], rkvtest::songBytes(rkvtest::busySong())) ? 0 : 1;
}
