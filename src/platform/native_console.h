#pragma once

#include <atomic>
#include <cstdio>

// The terminal the headless player writes to.
namespace platform {

// Whether the stream is a terminal (a console window on Windows), not a file or a pipe.
bool IsTerminal(FILE* Stream);

// Whether colour escape sequences ("\033[31m") may be written to the stream: a terminal that
// understands them. A Windows console does once virtual-terminal processing is switched on, which
// this does; an older console, a file or a pipe gets plain text.
bool EnableColourSequences(FILE* Stream);

// The first Ctrl-C (Ctrl-Break, a kill, the terminal or console window going away) sets Stop and
// leaves the program running, so the run is cancelled and the programmer closed properly; a second
// one ends the program at once. A reader that goes away from a pipe never kills the program.
void InstallStopHandler(std::atomic<bool>& Stop);

} // namespace platform
