#include <csignal>

#include <unistd.h>

#include "native_console.h"

namespace platform {

bool IsTerminal(FILE* Stream) {
    return ::isatty(::fileno(Stream));
}

bool EnableColourSequences(FILE* Stream) {
    return IsTerminal(Stream);
}

namespace {
std::atomic<bool>* StopFlag = nullptr;

extern "C" void OnStopSignal(int) {
    if (StopFlag)
        StopFlag->store(true);
}
} // namespace

void InstallStopHandler(std::atomic<bool>& Stop) {
    StopFlag = &Stop;
    struct sigaction Action {};
    Action.sa_handler = OnStopSignal;
    sigemptyset(&Action.sa_mask);
    // Reset by the first signal: the second one ends the program.
    Action.sa_flags = SA_RESETHAND;
    sigaction(SIGINT, &Action, nullptr);
    sigaction(SIGTERM, &Action, nullptr);
    sigaction(SIGHUP, &Action, nullptr);
    // "korvex-cli f.svf | head -1": the lines are lost, the run and its exit code are not, and the
    // programmer is not left driving the target.
    std::signal(SIGPIPE, SIG_IGN);
}

} // namespace platform
