#include "console/status_line.h"

#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "data/long_work.h"

namespace korw::console {

namespace {

constexpr unsigned char kEscape = 27;
constexpr unsigned char kCtrlC = 3;
constexpr const char* kStopHint = " (Escape stops)";
// Where standard error is no terminal a status line is written at most this often, one a line.
constexpr auto kPlainInterval = std::chrono::seconds(1);

bool lookAtKeys = false;
bool showStatus = false;
bool overwrite = false;  // standard error is a terminal: the line is rewritten in place
bool shown = false;
std::string lastShown;
std::chrono::steady_clock::time_point lastPlain;

// Escape or Ctrl+C among the pending keys raises the stop flag. The terminal leaves canonical
// mode just long enough to take the bytes typed so far; other keys typed during a command are
// dropped, as they are between the lines of a program.
void TakeStopKeys() {
    if (!::isatty(STDIN_FILENO)) return;
    termios saved;
    if (::tcgetattr(STDIN_FILENO, &saved) != 0) return;
    termios raw = saved;
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    raw.c_cc[VMIN] = 0;
    raw.c_cc[VTIME] = 0;
    ::tcsetattr(STDIN_FILENO, TCSANOW, &raw);
    pollfd p{STDIN_FILENO, POLLIN, 0};
    unsigned char c;
    while (::poll(&p, 1, 0) > 0 && ::read(STDIN_FILENO, &c, 1) == 1)
        if (c == kEscape || c == kCtrlC) data::RequestStop();
    ::tcsetattr(STDIN_FILENO, TCSANOW, &saved);
}

void ShowStatus() {
    if (data::WorkElapsed() < data::kStatusDelay) return;
    std::string text = data::StatusText();
    if (text.empty()) return;
    if (lookAtKeys) text += kStopHint;
    if (overwrite) {
        if (shown && text == lastShown) return;
        std::fprintf(stderr, "\r%s\033[K", text.c_str());
    } else {
        auto now = std::chrono::steady_clock::now();
        if (text == lastShown || (shown && now - lastPlain < kPlainInterval)) return;
        lastPlain = now;
        std::fprintf(stderr, "%s\n", text.c_str());
    }
    std::fflush(stderr);
    lastShown = text;
    shown = true;
}

void EraseStatus() {
    if (shown && overwrite) {
        std::fputs("\r\033[K", stderr);
        std::fflush(stderr);
    }
    shown = false;
    lastShown.clear();
}

void Hook(bool ended) {
    if (ended) return EraseStatus();
    if (lookAtKeys) TakeStopKeys();
    if (showStatus) ShowStatus();
}

}  // namespace

void InstallTerminalLongWork() {
    lookAtKeys = true;
    showStatus = true;
    overwrite = ::isatty(STDERR_FILENO) != 0;
    data::ReadTestHooksFromEnvironment();
    data::SetLongWorkHook(Hook);
}

void InstallBatchLongWork(bool progress) {
    lookAtKeys = false;
    showStatus = progress;
    overwrite = ::isatty(STDERR_FILENO) != 0;
    data::ReadTestHooksFromEnvironment();
    data::SetLongWorkHook(Hook);
}

}  // namespace korw::console
