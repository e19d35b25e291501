// The desktop player's entry point.
#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/startup.hpp"

int main(int argc, char** argv) {
    // `--version` alone is answered; any other command line is ignored as always, so a normal
    // start (also one given a song path) is unchanged.
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("tuvimoplayer2 %s\n", RKV_VERSION);
        return 0;
    }
    // Qt's own report of a missing display is many lines and an abort.
    const auto unset = [](const char* name) {
        const char* value = std::getenv(name);
        return !value || !*value;
    };
    if (unset("QT_QPA_PLATFORM") && unset("DISPLAY") && unset("WAYLAND_DISPLAY")) {
        std::fprintf(stderr, "tuvimoplayer2: no display to open the window on (DISPLAY and "
                             "WAYLAND_DISPLAY are unset)\n");
        return 1;
    }
    rkv::prepareQtApplication();
    // The player takes nothing from its command line, and neither does Qt.
    static char name[] = "tuvimoplayer2";
    static char* args[] = {name, nullptr};
    int count = 1;
    QApplication app(count, args);
    return rkv::runPlayer();
}
