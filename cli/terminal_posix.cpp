#include <cerrno>
#include <csignal>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include "cli/terminal.hpp"

namespace rkv::cli {

namespace {

// The terminal as found and as played in; the stop and continue handlers switch between them, so
// a shell that gets the terminal back on Ctrl-Z finds it as it was, and `fg` gives the keys back.
termios cooked{};
termios raw{};
bool cursorHidden = false;

void showCursor(bool shown) {
    if (cursorHidden) (void)!write(STDERR_FILENO, shown ? "\033[?25h" : "\033[?25l", 6);
}

void onStop(int) {
    const int saved = errno;
    tcsetattr(STDIN_FILENO, TCSANOW, &cooked);
    showCursor(true);
    std::signal(SIGTSTP, SIG_DFL);
    // Held until this handler returns, then it stops the process as usual.
    std::raise(SIGTSTP);
    errno = saved;
}

void onContinue(int) {
    const int saved = errno;
    if (tcgetpgrp(STDIN_FILENO) == getpgrp()) {
        tcsetattr(STDIN_FILENO, TCSANOW, &raw);
        showCursor(false);
    }
    std::signal(SIGTSTP, &onStop);
    errno = saved;
}

} // namespace

std::vector<Key> parseKeys(const char* bytes, int count) {
    std::vector<Key> keys;
    for (int i = 0; i < count; ++i) {
        const char c = bytes[i];
        // Arrows arrive as ESC [ X, or ESC O X in the terminal's application mode.
        if (c == '\033' && i + 2 < count && (bytes[i + 1] == '[' || bytes[i + 1] == 'O')) {
            switch (bytes[i + 2]) {
            case 'A':
                keys.push_back(Key::PassForward);
                break;
            case 'B':
                keys.push_back(Key::PassBack);
                break;
            case 'C':
                keys.push_back(Key::StepForward);
                break;
            case 'D':
                keys.push_back(Key::StepBack);
                break;
            default:
                break;
            }
            i += 2;
            continue;
        }
        switch (c) {
        case ' ':
            keys.push_back(Key::Pause);
            break;
        case 'p':
        case 'P':
            keys.push_back(Key::Previous);
            break;
        case 'n':
        case 'N':
            keys.push_back(Key::Next);
            break;
        case '-':
        case '_':
            keys.push_back(Key::VolumeDown);
            break;
        case '+':
        case '=':
            keys.push_back(Key::VolumeUp);
            break;
        case 'q':
        case 'Q':
            keys.push_back(Key::Quit);
            break;
        case 'h':
        case 'H':
        case '?':
            keys.push_back(Key::Help);
            break;
        default:
            break;
        }
    }
    return keys;
}

KeyInput::KeyInput(bool wanted) {
    // In the background (`rkv play song &`), touching the terminal would stop the process.
    if (!wanted || isatty(STDIN_FILENO) == 0 || tcgetpgrp(STDIN_FILENO) != getpgrp()) return;
    if (tcgetattr(STDIN_FILENO, &cooked) != 0) return;
    raw = cooked;
    // Keys arrive one by one and unechoed; Ctrl-C still raises SIGINT, which stops the command.
    raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    if (tcsetattr(STDIN_FILENO, TCSANOW, &raw) != 0) return;
    active_ = taken_ = true;
    cursorHidden = isatty(STDERR_FILENO) != 0;
    showCursor(false);
    std::signal(SIGTSTP, &onStop);
    std::signal(SIGCONT, &onContinue);
}

KeyInput::~KeyInput() {
    if (!taken_) return;
    std::signal(SIGTSTP, SIG_DFL);
    std::signal(SIGCONT, SIG_DFL);
    showCursor(true);
    cursorHidden = false;
    tcsetattr(STDIN_FILENO, TCSANOW, &cooked);
}

std::vector<Key> KeyInput::wait(int ms) {
    pollfd in{active_ ? STDIN_FILENO : -1, POLLIN, 0};
    // With no terminal, poll on nothing is a plain sleep (a negative descriptor is ignored).
    if (::poll(&in, 1, ms) <= 0) return {};
    if ((in.revents & POLLIN) == 0) {
        active_ = false; // the terminal hung up: stop polling it, or this would spin
        return {};
    }
    char bytes[64];
    const ssize_t n = ::read(STDIN_FILENO, bytes, sizeof bytes);
    if (n <= 0) {
        active_ = n < 0 ? active_ : false;
        return {};
    }
    return parseKeys(bytes, static_cast<int>(n));
}

} // namespace rkv::cli
