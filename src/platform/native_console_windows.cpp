#include <io.h>

#include <windows.h>

#include "native_console.h"

namespace platform {

namespace {
HANDLE ConsoleOf(FILE* Stream) {
    const intptr_t H = ::_get_osfhandle(::_fileno(Stream));
    return H == -1 ? INVALID_HANDLE_VALUE : reinterpret_cast<HANDLE>(H);
}
} // namespace

bool IsTerminal(FILE* Stream) {
    // _isatty is also true for the NUL device; only a console has a console mode.
    DWORD Mode = 0;
    return ::GetConsoleMode(ConsoleOf(Stream), &Mode) != 0;
}

bool EnableColourSequences(FILE* Stream) {
    const HANDLE H = ConsoleOf(Stream);
    DWORD Mode = 0;
    if (!::GetConsoleMode(H, &Mode))
        return false;
    if (Mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING)
        return true;
    // Refused by consoles older than Windows 10: those would print the sequences as text.
    return ::SetConsoleMode(H, Mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

namespace {
std::atomic<bool>* StopFlag = nullptr;

// Called on a thread of its own. Handled (TRUE) the first time: the main loop cancels the run,
// closes the programmer, saves the settings and exits. Not handled (FALSE) after that, so the
// system's own handler ends the process as a second Ctrl-C does on Linux.
BOOL WINAPI OnConsoleEvent(DWORD Event) {
    switch (Event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
        if (!StopFlag || StopFlag->exchange(true))
            return FALSE;
        if (Event == CTRL_CLOSE_EVENT)
            ::Sleep(5000); // the system ends the process when this returns; let the run stop
        return TRUE;
    default:
        return FALSE;
    }
}
} // namespace

void InstallStopHandler(std::atomic<bool>& Stop) {
    StopFlag = &Stop;
    ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

} // namespace platform
