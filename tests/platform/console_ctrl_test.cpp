// Ctrl-C and Ctrl-Break on Windows, and korvex-cli.exe cancelled by Ctrl-C. A program of its own,
// run alone: it takes a console of its own, and under Wine its end waits for the other test
// programs running beside it.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include <windows.h>

#include "native_console.h"
#include "native_process.h"

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

namespace {
std::string ReadAll(const std::filesystem::path& File) {
    std::ifstream In(File, std::ios::binary);
    std::ostringstream Text;
    Text << In.rdbuf();
    return Text.str();
}

} // namespace

// korvex-cli.exe in the same console: Ctrl-C during a run cancels it, the programmer is closed
// properly (the simulator sees the closing bytes) and the exit code is 1.
TEST(Platform, CtrlCCancelsKorvexCliAndClosesTheProgrammer) {
    namespace fs = std::filesystem;
    const fs::path Dir =
        fs::temp_directory_path() / ("korvex-ctrl-" + std::to_string(::GetCurrentProcessId()));
    fs::create_directories(Dir);
    // Plain clocks on a device that keeps real time: over two minutes at 3 MHz.
    std::ofstream(Dir / "long.svf") << "SIR 8 TDI(01);\n" + [] {
        std::string Clocks;
        for (int I = 0; I < 20; ++I)
            Clocks += "RUNTEST 20000000 TCK;\n";
        return Clocks;
    }();
    std::ofstream(Dir / "korvex.ini") << "[Params]\nRTwCount=0\n";
    const fs::path Trace = Dir / "trace.txt";
    std::ofstream(Dir / "sim.cfg") << "tdo_constant 0\nrealtime 1\ntrace " + Trace.string() + "\n";
    platform::SetEnvironmentValue("KORVEX_D2XX", std::string(KORVEX_SIM_LIBRARY));
    platform::SetEnvironmentValue("KORVEX_SIM", (Dir / "sim.cfg").string());

    static std::atomic<bool> OwnStop{false}; // this program receives the Ctrl-C as well
    platform::InstallStopHandler(OwnStop);
    ::FreeConsole();
    ASSERT_TRUE(::AllocConsole());
    ::SetConsoleCtrlHandler(nullptr, FALSE);
    std::wstring Line = L"\"" + fs::path(KORVEX_CLI).make_preferred().wstring() + L"\" -I \"" +
                        (Dir / "korvex.ini").wstring() + L"\" -S 012345 \"" +
                        (Dir / "long.svf").wstring() + L"\"";
    STARTUPINFOW Start{};
    Start.cb = sizeof Start;
    PROCESS_INFORMATION Child{};
    ASSERT_TRUE(::CreateProcessW(nullptr, Line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                 &Start, &Child))
        << ::GetLastError();
    // Under way: the programmer has been opened (the trace begins), and a moment later.
    for (int Wait = 0; Wait < 300 && ReadAll(Trace).empty(); ++Wait)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    std::this_thread::sleep_for(std::chrono::seconds(1));
    OwnStop = false;
    ASSERT_TRUE(::GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0));
    const bool Ended = ::WaitForSingleObject(Child.hProcess, 60000) == WAIT_OBJECT_0;
    if (!Ended)
        ::TerminateProcess(Child.hProcess, 99);
    DWORD ExitCode = 0;
    ::GetExitCodeProcess(Child.hProcess, &ExitCode);
    ::CloseHandle(Child.hThread);
    ::CloseHandle(Child.hProcess);
    EXPECT_TRUE(Ended) << "korvex-cli did not end";
    EXPECT_EQ(ExitCode, 1u) << "cancelled (a completed run ends with 0)";
    EXPECT_NE(ReadAll(Trace).find("TOTAL"), std::string::npos) << "the programmer was not closed";
    std::error_code Ignored;
    fs::remove_all(Dir, Ignored);
}
