// The D2XX entry points of the simulated KORVEX programmer. The link loads this library exactly
// as it loads the vendor's driver, so a simulated run goes through every line of the real path.
//
// One process-wide state behind one mutex: the configuration, the attached devices and the open
// connections. The configuration is re-read on FT_ListDevices and FT_Open whenever $KORVEX_SIM or
// the file's content changed, so tests can run differently configured scenarios one after another.

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "d2xx_types.h"
#include "sim_config.h"
#include "sim_programmer.h"

#define KORVEX_SIM_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

using namespace korvexsim;

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
    std::ifstream In(Path, std::ios::binary);
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
    if (!S.Config.TracePath.empty())
        std::fclose(std::fopen(S.Config.TracePath.c_str(), "w")); // a new scenario, a new trace
}

void Refresh(TSimState& S, bool Force) {
    const char* Env = std::getenv("KORVEX_SIM");
    const std::string Path = Env ? Env : "";
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

TSimDevice* Open(TSimState& S, FT_HANDLE Handle) {
    for (auto& D : S.Devices)
        if (D.get() == Handle && D->Session)
            return D.get();
    return nullptr;
}

} // namespace

KORVEX_SIM_EXPORT FT_STATUS FT_ListDevices(void* Arg1, void* /*Arg2*/, FT_DWORD Flags) {
    TSimState& S = State();
    std::lock_guard G(S.Lock);
    Refresh(S, false);
    if (!(Flags & FT_LIST_NUMBER_ONLY) || !Arg1)
        return FT_INVALID_PARAMETER;
    *static_cast<FT_DWORD*>(Arg1) = static_cast<FT_DWORD>(Attached(S).size());
    return FT_OK;
}

KORVEX_SIM_EXPORT FT_STATUS FT_Open(int DeviceNumber, FT_HANDLE* Handle) {
    TSimState& S = State();
    std::lock_guard G(S.Lock);
    Refresh(S, false);
    if (!Handle)
        return FT_INVALID_PARAMETER;
    const auto List = Attached(S);
    if (DeviceNumber < 0 || DeviceNumber >= static_cast<int>(List.size()))
        return FT_DEVICE_NOT_FOUND;
    TSimDevice* D = List[static_cast<size_t>(DeviceNumber)];
    if (D->Info.RefuseOpen || D->Session)
        return FT_DEVICE_NOT_OPENED; // held by another program (or by our own run)
    D->Session = std::make_unique<TProgrammer>(S.Config);
    D->BytesWritten = 0;
    *Handle = D;
    return FT_OK;
}

KORVEX_SIM_EXPORT FT_STATUS FT_Close(FT_HANDLE Handle) {
    TSimState& S = State();
    std::lock_guard G(S.Lock);
    TSimDevice* D = Open(S, Handle);
    if (!D)
        return FT_INVALID_HANDLE;
    D->Session->Finish();
    D->Session.reset();
    return FT_OK;
}

KORVEX_SIM_EXPORT FT_STATUS FT_GetDeviceInfo(FT_HANDLE Handle, FT_DWORD* Type, FT_DWORD* Id,
                                             char* SerialNumber, char* Description, void*) {
    TSimState& S = State();
    std::lock_guard G(S.Lock);
    TSimDevice* D = Open(S, Handle);
    if (!D || D->Vanished)
        return FT_INVALID_HANDLE;
    if (Type)
        *Type = 4; // an FT2232-class chip
    if (Id)
        *Id = (static_cast<FT_DWORD>(D->Info.VendorId) << 16) | D->Info.ProductId;
    if (SerialNumber) {
        std::strncpy(SerialNumber, D->Info.Serial.c_str(), FT_INFO_BUFFER_SIZE - 1);
        SerialNumber[FT_INFO_BUFFER_SIZE - 1] = 0;
    }
    if (Description)
        std::strcpy(Description, "KORVEX simulated programmer");
    return FT_OK;
}

KORVEX_SIM_EXPORT FT_STATUS FT_Write(FT_HANDLE Handle, void* Buffer, FT_DWORD Count,
                                     FT_DWORD* Written) {
    TSimState& S = State();
    std::lock_guard G(S.Lock);
    if (Written)
        *Written = 0;
    TSimDevice* D = Open(S, Handle);
    if (!D)
        return FT_INVALID_HANDLE;
    if (D->Vanished)
        return FT_DEVICE_NOT_FOUND;
    const TConfig& C = S.Config;
    int64_t Accept = Count;
    if (C.WriteFailFrom >= 0) {
        if (D->BytesWritten >= C.WriteFailFrom)
            return FT_IO_ERROR;
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
        D->Session->Write(static_cast<const uint8_t*>(Buffer), static_cast<size_t>(Accept));
        D->BytesWritten += Accept;
    }
    if (C.VanishAfter >= 0 && D->BytesWritten >= C.VanishAfter) {
        // Unplugged: what was accepted is reported, every later call fails.
        D->Vanished = true;
        if (Accept <= 0)
            return FT_DEVICE_NOT_FOUND;
    }
    if (Written)
        *Written = static_cast<FT_DWORD>(std::max<int64_t>(Accept, 0));
    return FT_OK;
}

KORVEX_SIM_EXPORT FT_STATUS FT_Read(FT_HANDLE Handle, void* Buffer, FT_DWORD Count,
                                    FT_DWORD* Read) {
    TSimState& S = State();
    std::lock_guard G(S.Lock);
    if (Read)
        *Read = 0;
    TSimDevice* D = Open(S, Handle);
    if (!D)
        return FT_INVALID_HANDLE;
    if (D->Vanished)
        return FT_DEVICE_NOT_FOUND;
    if (S.Config.FailRead)
        return FT_IO_ERROR;
    const size_t N = D->Session->Read(static_cast<uint8_t*>(Buffer), Count);
    if (Read)
        *Read = static_cast<FT_DWORD>(N);
    return FT_OK;
}

KORVEX_SIM_EXPORT FT_STATUS FT_GetQueueStatus(FT_HANDLE Handle, FT_DWORD* RxBytes) {
    TSimState& S = State();
    std::lock_guard G(S.Lock);
    if (RxBytes)
        *RxBytes = 0;
    TSimDevice* D = Open(S, Handle);
    if (!D)
        return FT_INVALID_HANDLE;
    if (D->Vanished)
        return FT_DEVICE_NOT_FOUND;
    if (S.Config.FailQueueStatus)
        return FT_IO_ERROR;
    const size_t N = D->Session->PollAvailable();
    if (RxBytes)
        *RxBytes = static_cast<FT_DWORD>(N);
    return FT_OK;
}

KORVEX_SIM_EXPORT FT_STATUS FT_ResetDevice(FT_HANDLE Handle) {
    TSimState& S = State();
    std::lock_guard G(S.Lock);
    TSimDevice* D = Open(S, Handle);
    return !D ? FT_INVALID_HANDLE : D->Vanished ? FT_DEVICE_NOT_FOUND : FT_OK;
}

KORVEX_SIM_EXPORT FT_STATUS FT_Purge(FT_HANDLE Handle, FT_DWORD Mask) {
    TSimState& S = State();
    std::lock_guard G(S.Lock);
    TSimDevice* D = Open(S, Handle);
    if (!D)
        return FT_INVALID_HANDLE;
    if (D->Vanished)
        return FT_DEVICE_NOT_FOUND;
    if (Mask & FT_PURGE_RX)
        D->Session->PurgeReplies();
    return FT_OK;
}

KORVEX_SIM_EXPORT FT_STATUS FT_SetLatencyTimer(FT_HANDLE Handle, FT_UCHAR) {
    TSimState& S = State();
    std::lock_guard G(S.Lock);
    return Open(S, Handle) ? FT_OK : FT_INVALID_HANDLE;
}

// Resolved by the link but never called; present so the simulator passes for the real library.
KORVEX_SIM_EXPORT FT_STATUS FT_GetStatus(FT_HANDLE, FT_DWORD* Rx, FT_DWORD* Tx, FT_DWORD* Event) {
    if (Rx)
        *Rx = 0;
    if (Tx)
        *Tx = 0;
    if (Event)
        *Event = 0;
    return FT_OK;
}
KORVEX_SIM_EXPORT FT_STATUS FT_SetBitMode(FT_HANDLE, FT_UCHAR, FT_UCHAR) {
    return FT_OK;
}
KORVEX_SIM_EXPORT FT_STATUS FT_GetBitMode(FT_HANDLE, FT_UCHAR* Mode) {
    if (Mode)
        *Mode = 0;
    return FT_OK;
}
KORVEX_SIM_EXPORT FT_STATUS FT_SetUSBParameters(FT_HANDLE, FT_DWORD, FT_DWORD) {
    return FT_OK;
}

// Not part of D2XX: re-reads $KORVEX_SIM now, closing any open connection and starting a fresh
// trace, even when the file did not change. Returns 0, or -1 when the configuration is invalid.
KORVEX_SIM_EXPORT int KorvexSimReload() {
    TSimState& S = State();
    std::lock_guard G(S.Lock);
    Refresh(S, true);
    return S.ConfigError.empty() ? 0 : -1;
}
