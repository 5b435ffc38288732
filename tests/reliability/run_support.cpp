#include "run_support.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "driver_env.h"
#include "player_registration.h"
#include "processing_controller.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

std::string ReadFile(const fs::path& P) {
    std::ifstream In(P, std::ios::binary);
    std::stringstream S;
    S << In.rdbuf();
    return S.str();
}

std::vector<std::string> SplitLines(const std::string& Text) {
    std::vector<std::string> Lines;
    std::istringstream In(Text);
    for (std::string L; std::getline(In, L);)
        Lines.push_back(L);
    return Lines;
}

std::chrono::milliseconds Since(Clock::time_point Began) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - Began);
}

// What a window shows, kept for the checks: the console since its last clear, error boxes and
// whether the application was told to close. The programmer selection picks the first one listed,
// as a user confirming the dialog would.
struct TRecordingView : IControllerView {
    std::vector<std::string> Console;
    std::vector<std::string> ErrorBoxes;
    int Closes = 0;
    TProcessingController* Controller = nullptr;

    void ClearConsole() override { Console.clear(); }
    void ProcessPendingEvents() override {}
    void AppendConsoleLines(const std::vector<TConsoleLine>& Lines) override {
        for (const TConsoleLine& L : Lines)
            Console.push_back(L.Text);
    }
    void SetProgress(int64_t, int64_t) override {}
    void Quit() override { ++Closes; }
    void ShowError(const std::string& Text) override { ErrorBoxes.push_back(Text); }
    bool ChooseProgrammer() override {
        const std::vector<int32_t> Serials = Controller->Link.ListKorvexSerials();
        Controller->Link.SerialNumber = Serials.empty() ? -1 : (Serials[0] | 0xA6000000);
        return true;
    }
    void SetStatusText(const std::string&) override {}
};

} // namespace

bool TRunOutcome::HasLine(const std::string& Line) const {
    for (const std::string& L : Console)
        if (L == Line)
            return true;
    return false;
}

std::string TRunOutcome::LineStartingWith(const std::string& Prefix) const {
    for (const std::string& L : Console)
        if (L.rfind(Prefix, 0) == 0)
            return L;
    return "";
}

TControllerRun::TControllerRun() : FFolder("ctl") {}

TRunOutcome TControllerRun::Play(const std::string& File, const std::string& SimConfig,
                                 const std::function<void(TProcessingController&)>& Setup,
                                 const std::string& Driver, std::chrono::milliseconds Limit) {
    const int N = ++FRuns;
    const std::string TraceName = "trace" + std::to_string(N) + ".txt";
    const std::string Config = FFolder.Write(
        "sim" + std::to_string(N) + ".cfg",
        SimConfig + "\ntrace " + (fs::path(FFolder.Path()) / TraceName).string() + "\n");
    korvextest::UseDriverLibrary(Driver.empty() ? KORVEX_SIM_LIBRARY : Driver);
    ::setenv("KORVEX_SIM", Config.c_str(), 1);
    RegisterPlayers();

    TRunOutcome Out;
    TRecordingView View;
    const auto Began = Clock::now();
    {
        TProcessingController C(View);
        View.Controller = &C;
        C.Configure((fs::path(FFolder.Path()) / "korvex-player").string(),
                    ParseCommandLine(
                        {"-P", "-F", File, "-C", "-CC", "-I", FFolder.Path() + "/settings.ini"}));
        if (Setup)
            Setup(C);
        if (C.LoadDriver()) {
            const auto Deadline = Began + Limit;
            while (View.Closes == 0 || C.Processing()) {
                C.Poll();
                if (Clock::now() > Deadline && !Out.Hung) {
                    // Counted as a failure by the caller; stopping lets the test go on.
                    Out.Hung = true;
                    C.Stop();
                }
                if (View.Closes == 0 || C.Processing())
                    std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
        }
        Out.ExitCode = C.ExitCode;
        Out.StillConnected = C.Link.Connected();
    }
    Out.Took = Since(Began);
    Out.Console = View.Console;
    Out.ErrorBoxes = View.ErrorBoxes;
    Out.WindowClosed = View.Closes > 0;
    Out.Trace = FFolder.Read(TraceName);
    return Out;
}

std::vector<std::string> TCliOutcome::Lines() const {
    std::vector<std::string> All = SplitLines(Out);
    size_t Skip = 0;
    if (Skip < All.size() && All[Skip].rfind("Using KORVEX S/N ", 0) == 0)
        ++Skip;
    if (Skip < All.size() && All[Skip].rfind("Reading file ", 0) == 0)
        ++Skip;
    return {All.begin() + static_cast<std::ptrdiff_t>(Skip), All.end()};
}

bool UnderSanitizer() {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    return true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
    return true;
#else
    return false;
#endif
#else
    return false;
#endif
}

TCliOutcome RunCli(const TScratchFolder& Folder, const std::string& File,
                   std::chrono::milliseconds Limit, int64_t AddressSpaceMb) {
    const std::string Exe = std::string(KORVEX_BINARY_DIR) + "/src/cli/korvex-cli";
    const std::string Config = Folder.Write("cli-sim.cfg", "");
    const std::string OutPath = Folder.Path() + "/cli-out.txt";
    const std::string ErrPath = Folder.Path() + "/cli-err.txt";
    const std::string Ini = Folder.Path() + "/cli-settings.ini";
    const bool LimitMemory = !UnderSanitizer();

    const auto Began = Clock::now();
    const pid_t Pid = ::fork();
    if (Pid == 0) {
        korvextest::UseDriverLibrary(KORVEX_SIM_LIBRARY);
        ::setenv("KORVEX_SIM", Config.c_str(), 1);
        ::setenv("NO_COLOR", "1", 1);
        if (LimitMemory) {
            const rlim_t Bytes = static_cast<rlim_t>(AddressSpaceMb) << 20;
            const struct rlimit L { Bytes, Bytes };
            ::setrlimit(RLIMIT_AS, &L);
        }
        const int O = ::open(OutPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int E = ::open(ErrPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::dup2(O, 1);
        ::dup2(E, 2);
        std::vector<std::string> Args{Exe, "-I", Ini, File};
        std::vector<char*> Argv;
        for (std::string& A : Args)
            Argv.push_back(A.data());
        Argv.push_back(nullptr);
        ::execv(Exe.c_str(), Argv.data());
        ::_exit(127);
    }

    TCliOutcome R;
    int Status = 0;
    struct rusage Usage {};
    for (;;) {
        const pid_t Done = ::wait4(Pid, &Status, WNOHANG, &Usage);
        if (Done == Pid)
            break;
        if (Clock::now() - Began > Limit) {
            R.Hung = true;
            ::kill(Pid, SIGKILL);
            ::wait4(Pid, &Status, 0, &Usage);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    R.Took = Since(Began);
    R.ExitCode = WIFEXITED(Status) ? WEXITSTATUS(Status) : 128 + WTERMSIG(Status);
    R.PeakRssKb = Usage.ru_maxrss;
    R.Out = ReadFile(OutPath);
    R.Err = ReadFile(ErrPath);
    return R;
}
