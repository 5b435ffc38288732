// Ctrl-C and Ctrl-Break on Windows. A program of its own, run alone: it takes a console of its
// own, and under Wine its end waits for the other test programs running beside it.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include <windows.h>

#include "native_console.h"

// Ctrl-C and Ctrl-Break reach korvex-cli's stop flag through the console control handler, and
// the program goes on (the main loop then cancels the run and closes the programmer).
TEST(Platform, ConsoleCtrlEventsSetTheStopFlag) {
    ::FreeConsole();
    ASSERT_TRUE(::AllocConsole()) << "a console of our own to send the events in";
    ::SetConsoleCtrlHandler(nullptr, FALSE); // Ctrl-C processing on, as in a normal console
    static std::atomic<bool> Stop{false};
    platform::InstallStopHandler(Stop);
    const struct {
        const char* Case;
        DWORD Event;
    } Rows[] = {{"Ctrl-C", CTRL_C_EVENT}, {"Ctrl-Break", CTRL_BREAK_EVENT}};
    // Wine (8.0) generates Ctrl-C only; Ctrl-Break is tried on Windows itself.
    const bool UnderWine = ::GetProcAddress(::GetModuleHandleA("ntdll.dll"), "wine_get_version");
    for (const auto& R : Rows) {
        SCOPED_TRACE(R.Case);
        if (UnderWine && R.Event == CTRL_BREAK_EVENT)
            continue;
        Stop = false;
        ASSERT_TRUE(::GenerateConsoleCtrlEvent(R.Event, 0)) << ::GetLastError();
        // The handler runs on a thread the system starts for it.
        for (int Wait = 0; Wait < 500 && !Stop; ++Wait)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        EXPECT_TRUE(Stop.load());
    }
}
