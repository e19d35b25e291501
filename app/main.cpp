// The desktop player's entry point.
#include <QApplication>

#include "app/startup.hpp"

int main(int, char**) {
    rkv::prepareQtApplication();
    // The player takes nothing from its command line, and neither does Qt.
    static char name[] = "tuvimoplayer2";
    static char* args[] = {name, nullptr};
    int count = 1;
    QApplication app(count, args);
    return rkv::runPlayer();
}
