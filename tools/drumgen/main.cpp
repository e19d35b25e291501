// Writes the six drum sounds as NAME.wav into the directory given on the command line.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "drum_sounds.hpp"
#include "wave_file.hpp"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_DIR\n", argv[0]);
        return 2;
    }
    const std::filesystem::path dir = argv[1];
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    for (const drumgen::DrumSound& sound : drumgen::kDrumSounds) {
        const auto bytes = drumgen::encodeDrumWave(drumgen::renderDrum(sound));
        const auto path = dir / (std::string(sound.name) + ".wav");
        std::ofstream file(path, std::ios::binary | std::ios::trunc);
        file.write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
        if (!file) {
            std::fprintf(stderr, "cannot write %s\n", path.string().c_str());
            return 1;
        }
    }
    return 0;
}
