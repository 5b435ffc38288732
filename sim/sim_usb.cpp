#include "sim_usb.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>

#include "native_file.h"
#include "native_path.h"
#include "native_process.h"
#include "sim_config.h"
#include "sim_programmer.h"

namespace korvexsim {
namespace {

struct TSimDevice {
    TAttachedDevice Info;
    bool Vanished = false;
    int64_t BytesWritten = 0; // in the current connection
    std::unique_ptr<TProgrammer> Session;
};

struct TSimState {
    std::mutex Lock;
    bool Loaded = false;
    std::string Path, Text;
    TConfig Config;
    std::string ConfigError;
    std::vector<std::unique_ptr<TSimDevice>> Devices;
};

TSimState& State() {
    static TSimState S;
    return S;
}

std::string ReadFile(const std::string& Path) {
    std::ifstream In(platform::PathFromUtf8(Path), std::ios::binary);
    std::ostringstream Out;
    Out << In.rdbuf();
    return Out.str();
}

void Apply(TSimState& S, const std::string& Path, const std::string& Text) {
    S.Path = Path;
    S.Text = Text;
    S.Loaded = true;
    S.ConfigError.clear();
    for (auto& D : S.Devices)
        if (D->Session)
            D->Session->Finish();
    S.Devices.clear();
    try {
        S.Config = ParseConfig(Text);
    } catch (const std::exception& E) {
        // A broken configuration attaches nothing; the reason goes to stderr for the developer.
        S.Config = TConfig{};
        S.Config.Devices.clear();
        S.ConfigError = E.what();
        std::fprintf(stderr, "%s\n", E.what());
    }
    for (const TAttachedDevice& A : S.Config.Devices) {
        auto D = std::make_unique<TSimDevice>();
        D->Info = A;
        S.Devices.push_back(std::move(D));
    }
    if (!S.Config.TracePath.empty()) // a new scenario, a new trace
        if (FILE* Trace = platform::OpenStream(S.Config.TracePath, "w"))
            std::fclose(Trace);
}

void Refresh(TSimState& S, bool Force) {
    const std::string Path = platform::EnvironmentValue("KORVEX_SIM").value_or("");
    const std::string Text = Path.empty() ? std::string() : ReadFile(Path);
    if (Force || !S.Loaded || Path != S.Path || Text != S.Text)
        Apply(S, Path, Text);
}

// The attached devices in index order (a vanished one is no longer attached).
std::vector<TSimDevice*> Attached(TSimState& S) {
    std::vector<TSimDevice*> List;
    for (auto& D : S.Devices)
        if (!D->Vanished)
            List.push_back(D.get());
    return List;
}

TSimDevice* Known(TSimState& S, void* Device) {
    for (auto& D : S.Devices)
        if (D.get() == Device)
            return D.get();
    return nullptr;
}

TSimDevice* OpenOf(TSimState& S, void* Handle) {
    TSimDevice* D = Known(S, Handle);
    return D && D->Session ? D : nullptr;
}

TUsbResult OpenLocked(TSimState& S, TSimDevice* D, void*& Handle) {
    if (!D || D->Vanished)
        return TUsbResult::Gone;
    if (D->Info.RefuseOpen || D->Session)
        return TUsbResult::Busy;
    D->Session = std::make_unique<TProgrammer>(S.Config);
    D->BytesWritten = 0;
    Handle = D;
    return TUsbResult::Ok;
}

} // namespace

std::vector<TListedDevice> ListAttached() {
    TSimState& S = State();
    std::lock_guard G(S.Lock);
    Refresh(S, false);
    std::vector<TListedDevice> List;
    for (TSimDevice* D : Attached(S))
        List.push_back({D, D->Info.VendorId, D->Info.ProductId, D->Info.Serial});
    return List;
}

TUsbResult OpenAt(int Index, void*& Handle) {
    TSimState& S = State();
    std::lock_guard G(S.Lock);
    Refresh(S, false);
    const auto List = Attached(S);
    if (Index < 0 || Index >= static_cast<int>(List.size()))
        return TUsbResult::Gone;
    return OpenLocked(S, List[static_cast<size_t>(Index)], Handle);
}

TUsbResult OpenDevice(void* Device, void*& Handle) {
    TSimState& S = State();
    std::lock_guard G(S.Lock);
    Refresh(S, false);
    return OpenLocked(S, Known(S, Device), Handle);
}

TUsbResult SerialOf(void* Device, std::string& Serial) {
    TSimState& S = State();
    std::lock_guard G(S.Lock);
    TSimDevice* D = Known(S, Device);
    if (!D || D->Vanished)
        return TUsbResult::Gone;
    Serial = D->Info.Serial;
    return TUsbResult::Ok;
}

TUsbResult Close(void* Handle) {
    TSimState& S = State();
    std::lock_guard G(S.Lock);
    TSimDevice* D = OpenOf(S, Handle);
    if (!D)
        return TUsbResult::BadHandle;
    D->Session->Finish();
    D->Session.reset();
    return TUsbResult::Ok;
}

TUsbResult Info(void* Handle, uint16_t& VendorId, uint16_t& ProductId, std::string& Serial) {
    TSimState& S = State();
    std::lock_guard G(S.Lock);
    TSimDevice* D = OpenOf(S, Handle);
    if (!D || D->Vanished)
        return TUsbResult::BadHandle;
    VendorId = D->Info.VendorId;
    ProductId = D->Info.ProductId;
    Serial = D->Info.Serial;
    return TUsbResult::Ok;
}

TUsbResult Write(void* Handle, const uint8_t* Bytes, size_t Count, size_t& Written) {
    TSimState& S = State();
    std::lock_guard G(S.Lock);
    Written = 0;
    TSimDevice* D = OpenOf(S, Handle);
    if (!D)
        return TUsbResult::BadHandle;
    if (D->Vanished)
        return TUsbResult::Gone;
    const TConfig& C = S.Config;
    int64_t Accept = static_cast<int64_t>(Count);
    if (C.WriteFailFrom >= 0) {
        if (D->BytesWritten >= C.WriteFailFrom)
            return TUsbResult::IoError;
        Accept = std::min<int64_t>(Accept, C.WriteFailFrom - D->BytesWritten);
    }
    if (C.VanishAfter >= 0)
        Accept = std::min<int64_t>(Accept, C.VanishAfter - D->BytesWritten);
    if (C.WriteMax > 0)
        Accept = std::min<int64_t>(Accept, C.WriteMax);
    // A device in real time takes what its input buffer holds; the rest is the caller's to
    // send again, as with a D2XX write time-out.
    if (Accept > 0)
        Accept = static_cast<int64_t>(D->Session->InputRoom(static_cast<size_t>(Accept)));
    if (Accept > 0) {
        D->Session->Write(Bytes, static_cast<size_t>(Accept));
        D->BytesWritten += Accept;
    }
    if (C.VanishAfter >= 0 && D->BytesWritten >= C.VanishAfter) {
        // Unplugged: what was accepted is reported, every later call fails.
        D->Vanished = true;
        if (Accept <= 0)
            return TUsbResult::Gone;
    }
    Written = static_cast<size_t>(std::max<int64_t>(Accept, 0));
    return TUsbResult::Ok;
}

TUsbResult Available(void* Handle, size_t& Count) {
    TSimState& S = State();
    std::lock_guard G(S.Lock);
    Count = 0;
    TSimDevice* D = OpenOf(S, Handle);
    if (!D)
        return TUsbResult::BadHandle;
    if (D->Vanished)
        return TUsbResult::Gone;
    if (S.Config.FailQueueStatus)
        return TUsbResult::IoError;
    Count = D->Session->PollAvailable();
    return TUsbResult::Ok;
}

TUsbResult Read(void* Handle, uint8_t* Buffer, size_t Count, size_t& Got) {
    TSimState& S = State();
    std::lock_guard G(S.Lock);
    Got = 0;
    TSimDevice* D = OpenOf(S, Handle);
    if (!D)
        return TUsbResult::BadHandle;
    if (D->Vanished)
        return TUsbResult::Gone;
    if (S.Config.FailRead)
        return TUsbResult::IoError;
    Got = D->Session->Read(Buffer, Count);
    return TUsbResult::Ok;
}

TUsbResult Check(void* Handle) {
    TSimState& S = State();
    std::lock_guard G(S.Lock);
    TSimDevice* D = OpenOf(S, Handle);
    return !D ? TUsbResult::BadHandle : D->Vanished ? TUsbResult::Gone : TUsbResult::Ok;
}

TUsbResult PurgeReplies(void* Handle) {
    TSimState& S = State();
    std::lock_guard G(S.Lock);
    TSimDevice* D = OpenOf(S, Handle);
    if (!D)
        return TUsbResult::BadHandle;
    if (D->Vanished)
        return TUsbResult::Gone;
    D->Session->PurgeReplies();
    return TUsbResult::Ok;
}

bool Reload() {
    TSimState& S = State();
    std::lock_guard G(S.Lock);
    Refresh(S, true);
    return S.ConfigError.empty();
}

} // namespace korvexsim
