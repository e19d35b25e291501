#include <cstdio>
#include <iostream>

#include "cli/commands.hpp"
#include "cli/session.hpp"
#include "cli/song_report.hpp"

namespace rkv::cli {

int runInfo(const InfoOptions& options) {
    const DrumKitVoices kit = builtinDrumKitVoices();
    nlohmann::json reports = nlohmann::json::array();
    int status = EXIT_OK;
    bool firstText = true;
    for (const std::string& path : options.songs) {
        // Every file is reported; the exit code is that of the first one that failed.
        try {
            const SongFile file = readSongFile(path);
            const nlohmann::json report = songReport(file, kit, options.loops);
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
