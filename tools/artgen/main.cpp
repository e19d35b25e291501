// Writes title.bmp, icon.ico and icon.svg into the directory given on the command line.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <vector>

#include "artwork.hpp"
#include "indexed_image.hpp"

namespace {

bool writeFile(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    if (!file) std::fprintf(stderr, "cannot write %s\n", path.string().c_str());
    return static_cast<bool>(file);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_DIR\n", argv[0]);
        return 2;
    }
    const std::filesystem::path dir = argv[1];
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    const bool ok = writeFile(dir / "title.bmp", artgen::encodeBmp4(artgen::drawTitle())) &&
                    writeFile(dir / "icon.ico",
                              artgen::encodeIco4(artgen::drawIcon(), artgen::iconTransparency())) &&
                    writeFile(dir / "icon.svg",
                              artgen::encodeSvg(artgen::drawIcon(), artgen::iconTransparency()));
    return ok ? 0 : 1;
}
