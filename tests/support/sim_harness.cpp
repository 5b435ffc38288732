#include "sim_harness.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "driver_env.h"

namespace {

std::string ReadAll(const std::string& Path) {
    std::ifstream In(Path, std::ios::binary);
    std::ostringstream Out;
    Out << In.rdbuf();
    return Out.str();
}

} // namespace

bool TSimRun::HasLine(const std::string& Part) const {
    for (const std::string& L : Lines)
        if (L.find(Part) != std::string::npos)
            return true;
    return false;
}

std::string TSimHarness::SimLibrary() {
    return TSimScenario::Library();
}

TSimHarness::TSimHarness(const std::string& Config) {
    FTracePath = FScratch.File("trace.txt");
    FSummaryPath = FScratch.File("summary.txt");
    korvextest::UseDriverLibrary(SimLibrary());
    Configure(Config);
    FDriver = std::make_unique<TUsbDriver>();
    if (!FDriver->LoadUSBDriver())
        throw std::runtime_error("cannot load the simulator: " + FDriver->LoadError());
    FLink = std::make_unique<TKorvexLink>(*FDriver);
}

TSimHarness::~TSimHarness() {
    FLink.reset();
    FDriver.reset();
}

void TSimHarness::Configure(const std::string& Config) {
    // A new file name each time, so the simulator sees the change even within one second.
    const std::string Path = FScratch.File("sim-" + std::to_string(++FConfigCount) + ".cfg");
    std::ofstream Out(Path);
    Out << Config << "\n";
    auto Mentions = [&](const char* Key) {
        std::istringstream In(Config);
        for (std::string Line; std::getline(In, Line);) {
            std::istringstream Words(Line);
            std::string First;
            if (Words >> First && First == Key)
                return true;
        }
        return false;
    };
    if (!Mentions("trace"))
        Out << "trace " << FTracePath << "\n";
    if (!Mentions("summary"))
        Out << "summary " << FSummaryPath << "\n";
    Out.close();
    setenv("KORVEX_SIM", Path.c_str(), 1);
}

std::string TSimHarness::TraceText() const {
    return ReadAll(FTracePath);
}
std::string TSimHarness::SummaryText() const {
    return ReadAll(FSummaryPath);
}

int64_t TSimHarness::SummaryValue(const std::string& Key) const {
    std::istringstream In(SummaryText());
    std::string K;
    long long V;
    while (In >> K >> V)
        if (K == Key)
            return V;
    return -1;
}

TSimRun TSimHarness::Play(TJtagFile& File, int64_t Frequency, std::chrono::milliseconds Timeout) {
    TSimRun Run;
    std::mutex Lock;
    auto Collect = [&](const std::string& Text, uint8_t Severity) {
        std::lock_guard G(Lock);
        Run.Messages.push_back({Text, Severity});
        Run.Lines.push_back(Text);
    };
    TKorvexLink& L = *FLink;
    L.QueueMessage = Collect;
    L.ShowError = [&](const std::string& Text) { Collect(Text, sevError); };
    L.SetStatusText = nullptr;
    // The headless rule: take the first programmer listed.
    L.ChooseKorvex = [&L] {
        const std::vector<int32_t> Serials = L.ListKorvexSerials();
        if (Serials.empty())
            return false;
        L.SerialNumber = static_cast<int32_t>(static_cast<uint32_t>(Serials.front()) | 0xA6000000u);
        return true;
    };

    if (!L.FindKorvex()) {
        Run.Status = 1;
        return Run;
    }
    if (!L.OpenKorvex()) {
        Collect("Fatal error: Cannot open KORVEX", sevError);
        Run.Status = 1;
        return Run;
    }
    Run.Opened = true;
    TJtagEvents E = L.Events();
    E.OnMessage = Collect;
    File.Events = E;
    L.Frequency = Frequency;
    File.Start(Frequency);
    const auto Deadline = std::chrono::steady_clock::now() + Timeout;
    while (File.Status() == 0) {
        if (std::chrono::steady_clock::now() > Deadline) {
            File.RequestTerminate();
            Collect("Harness: the run did not end in time", sevError);
            while (File.Status() == 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    Run.Status = File.Status();
    L.CloseKorvex();
    File.Events = TJtagEvents{}; // the collector below lives only as long as this call
    {
        std::lock_guard G(Lock);
        L.QueueMessage = nullptr;
    }
    Run.Trace = TraceText();
    Run.Summary = SummaryText();
    return Run;
}
