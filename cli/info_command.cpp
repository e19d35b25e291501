#include <cstdio>
#include <iostream>

#include "cli/commands.hpp"
#include "cli/session.hpp"
#include "render/song_report.hpp"

namespace rkv::cli {

using render::formatReport;
using render::songReport;

namespace {

// File names are bytes, JSON strings are UTF-8: a name that is not valid UTF-8 is shown with
// U+FFFD in "file" and given exactly, as hexadecimal bytes, in "file_hex".
void nameFileExactly(nlohmann::json& report, const std::string& path) {
    const nlohmann::json name(path);
    try {
        (void)name.dump();
        return;
    } catch (const nlohmann::json::type_error&) {
    }
    report["file"] =
        nlohmann::json::parse(name.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
    static const char* HEX = "0123456789abcdef";
    std::string hex;
    for (const char c : path) {
        hex += HEX[static_cast<unsigned char>(c) >> 4];
        hex += HEX[static_cast<unsigned char>(c) & 15];
    }
    report["file_hex"] = hex;
}

} // namespace

int runInfo(const InfoOptions& options) {
    const DrumKitVoices kit = builtinDrumKitVoices();
    nlohmann::json reports = nlohmann::json::array();
    int status = EXIT_OK;
    bool firstText = true;
    for (const std::string& path : options.songs) {
        // Every file is reported; the exit code is that of the first one that failed.
        try {
            const SongFile file = readSongFile(path);
            nlohmann::json report = songReport(file, kit, options.loops);
            nameFileExactly(report, path);
            if (options.json) {
                reports.push_back(report);
            } else {
                std::cout << (firstText ? "" : "\n") << formatReport(report);
                firstText = false;
            }
            requirePlayable(file);
        } catch (const CliError& e) {
            std::cout.flush();
            std::fprintf(stderr, "rkv: %s\n", e.what());
            if (status == EXIT_OK) status = e.code();
        }
    }
    if (options.json) {
        // One file gives one object, several give an array of them.
        const nlohmann::json& out = reports.size() == 1 ? reports[0] : reports;
        if (!reports.empty() || options.songs.size() != 1) std::cout << out.dump(2) << "\n";
    }
    std::cout.flush();
    return status;
}

} // namespace rkv::cli
