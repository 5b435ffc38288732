// FTDI's D2XX library: the vendor's driver, the only one on Windows and an alternative on Linux
// for users who have installed it. Devices are addressed by their index in the library's list; a
// serial string is only readable through an open handle, so listing opens each device in turn
// (one held by another program cannot be opened: it is listed as in use, with nothing else known
// of it, not even whether it is a KORVEX).

#include <cstdlib>
#include <cstring>

#include "d2xx_types.h"
#include "dynamic_library.h"
#include "native_process.h"
#include "usb_backend.h"

namespace {

// The entry points in the order they are resolved. All fourteen are required: a library of
// another version may lack one, and such a library is not used at all rather than crash a run
// by calling through a null pointer later.
constexpr const char* EntryNames[14] = {"FT_Open",
                                        "FT_ListDevices",
                                        "FT_Close",
                                        "FT_Read",
                                        "FT_Write",
                                        "FT_ResetDevice",
                                        "FT_Purge",
                                        "FT_GetQueueStatus",
                                        "FT_GetStatus",
                                        "FT_SetLatencyTimer",
                                        "FT_SetBitMode",
                                        "FT_GetBitMode",
                                        "FT_SetUSBParameters",
                                        "FT_GetDeviceInfo"};

class TD2xxBackend final : public TUsbBackend {
public:
    const char* Name() const override { return "D2XX"; }

    std::string LibraryName() const override {
        if (const auto Env = platform::EnvironmentValue("KORVEX_D2XX"); Env && !Env->empty())
            return *Env;
#ifdef _WIN32
        return "ftd2xx.dll";
#else
        return "libftd2xx.so";
#endif
    }

    bool Load(std::string& Error) override {
        const std::string File = LibraryName();
        std::string Why;
        if (!FLibrary.Open(File, Why)) {
            Error = "cannot load " + File + ": " + Why;
            return false;
        }
        void* Found[14];
        for (int I = 0; I < 14; ++I) {
            Found[I] = FLibrary.Symbol(EntryNames[I]);
            if (!Found[I]) {
                Error = File + " has no entry point " + EntryNames[I];
                FLibrary.Close();
                return false;
            }
        }
        FOpen = reinterpret_cast<PFT_Open>(Found[0]);
        FListDevices = reinterpret_cast<PFT_ListDevices>(Found[1]);
        FClose = reinterpret_cast<PFT_Close>(Found[2]);
        FRead = reinterpret_cast<PFT_Read>(Found[3]);
        FWrite = reinterpret_cast<PFT_Write>(Found[4]);
        FResetDevice = reinterpret_cast<PFT_ResetDevice>(Found[5]);
        FPurge = reinterpret_cast<PFT_Purge>(Found[6]);
        FGetQueueStatus = reinterpret_cast<PFT_GetQueueStatus>(Found[7]);
        FSetLatencyTimer = reinterpret_cast<PFT_SetLatencyTimer>(Found[9]);
        FGetDeviceInfo = reinterpret_cast<PFT_GetDeviceInfo>(Found[13]);
        return true;
    }

    int32_t CountDevices() override {
        FT_DWORD Count = 0;
        if (FListDevices(&Count, nullptr, FT_LIST_NUMBER_ONLY) != FT_OK)
            return 0;
        return static_cast<int32_t>(Count);
    }

    std::vector<TUsbDeviceEntry> List(uint16_t VendorId, uint16_t ProductId) override {
        std::vector<TUsbDeviceEntry> Found;
        const FT_DWORD Wanted = (static_cast<FT_DWORD>(VendorId) << 16) | ProductId;
        const int32_t Count = CountDevices();
        for (int32_t I = 0; I < Count; ++I) {
            FT_HANDLE Handle = nullptr;
            if (const FT_STATUS S = FOpen(I, &Handle); S != FT_OK) {
                // Held by another program, or by our own run.
                if (S == FT_DEVICE_NOT_OPENED)
                    Found.push_back({I, 0, 0, "", true});
                continue;
            }
            FT_DWORD Type = 0, Id = 0;
            char Serial[FT_INFO_BUFFER_SIZE + 1] = {};
            char Description[FT_INFO_BUFFER_SIZE + 1] = {};
            if (FGetDeviceInfo(Handle, &Type, &Id, Serial, Description, nullptr) == FT_OK &&
                Id == Wanted)
                Found.push_back({I, VendorId, ProductId,
                                 std::string(Serial, strnlen(Serial, FT_INFO_BUFFER_SIZE))});
            FClose(Handle);
        }
        return Found;
    }

    bool ListingOpensDevices() const override {
        return true;
    }
    bool LastOpenFoundBusy() const override {
        return FOpenBusy;
    }

    int Open(int32_t Index, uint16_t, uint16_t, TUsbHandle& Handle) override {
        FT_HANDLE H = nullptr;
        const FT_STATUS S = FOpen(Index, &H);
        FOpenBusy = S == FT_DEVICE_NOT_OPENED;
        Handle = S == FT_OK ? H : nullptr;
        return Checked("FT_Open", S == FT_OK && !H ? FT_INVALID_HANDLE : S);
    }
    int Reset(TUsbHandle Handle) override {
        return Checked("FT_ResetDevice", FResetDevice(Handle));
    }
    int Purge(TUsbHandle Handle) override {
        return Checked("FT_Purge", FPurge(Handle, FT_PURGE_RX | FT_PURGE_TX));
    }
    int SetLatencyTimer(TUsbHandle Handle, uint8_t Milliseconds) override {
        return Checked("FT_SetLatencyTimer", FSetLatencyTimer(Handle, Milliseconds));
    }
    int Write(TUsbHandle Handle, const uint8_t* Data, uint32_t Count, uint32_t& Written) override {
        FT_DWORD Done = 0;
        const FT_STATUS S = FWrite(Handle, const_cast<uint8_t*>(Data), Count, &Done);
        Written = S == FT_OK ? Done : 0;
        return Checked("FT_Write", S);
    }
    int QueueStatus(TUsbHandle Handle, uint32_t& Waiting) override {
        FT_DWORD N = 0;
        const FT_STATUS S = FGetQueueStatus(Handle, &N);
        Waiting = S == FT_OK ? N : 0;
        return Checked("FT_GetQueueStatus", S);
    }
    int Read(TUsbHandle Handle, uint8_t* Buffer, uint32_t Count, uint32_t& Got) override {
        FT_DWORD N = 0;
        const FT_STATUS S = FRead(Handle, Buffer, Count, &N);
        Got = S == FT_OK ? N : 0;
        return Checked("FT_Read", S);
    }
    void Close(TUsbHandle Handle) override {
        FClose(Handle);
    }
    std::string LastFailure() const override {
        return FLastFailure;
    }

private:
    int Checked(const char* Call, FT_STATUS Status) {
        if (Status != FT_OK)
            FLastFailure = std::string(Call) + " status " + std::to_string(Status);
        return static_cast<int>(Status);
    }

    TDynamicLibrary FLibrary;
    bool FOpenBusy = false;
    PFT_Open FOpen = nullptr;
    PFT_ListDevices FListDevices = nullptr;
    PFT_Close FClose = nullptr;
    PFT_Read FRead = nullptr;
    PFT_Write FWrite = nullptr;
    PFT_ResetDevice FResetDevice = nullptr;
    PFT_Purge FPurge = nullptr;
    PFT_GetQueueStatus FGetQueueStatus = nullptr;
    PFT_SetLatencyTimer FSetLatencyTimer = nullptr;
    PFT_GetDeviceInfo FGetDeviceInfo = nullptr;
    std::string FLastFailure;
};

} // namespace

std::unique_ptr<TUsbBackend> MakeD2xxBackend() {
    return std::make_unique<TD2xxBackend>();
}
