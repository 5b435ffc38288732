// The D2XX entry points of the simulated KORVEX programmer. The link loads this library exactly
// as it loads the vendor's driver, so a simulated run goes through every line of the real path.
// The devices and connections behind these calls are in sim_usb.cpp, shared with the libftdi1
// entry points of the same library.

#include <cstring>
#include <string>

#include "d2xx_types.h"
#include "sim_usb.h"

// Exported under their plain names with the vendor's calling convention, as ftd2xx.dll exports
// them (the .def file beside this one lists them for the Windows build).
#ifdef _WIN32
#define KORVEX_SIM_EXPORT extern "C" __declspec(dllexport)
#else
#define KORVEX_SIM_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace {

using namespace korvexsim;

FT_STATUS StatusOf(TUsbResult R) {
    switch (R) {
    case TUsbResult::Ok:
        return FT_OK;
    case TUsbResult::BadHandle:
        return FT_INVALID_HANDLE;
    case TUsbResult::Gone:
        return FT_DEVICE_NOT_FOUND;
    case TUsbResult::Busy:
        return FT_DEVICE_NOT_OPENED;
    case TUsbResult::IoError:
        return FT_IO_ERROR;
    }
    return FT_IO_ERROR;
}

} // namespace

KORVEX_SIM_EXPORT FT_STATUS FT_API FT_ListDevices(void* Arg1, void* /*Arg2*/, FT_DWORD Flags) {
    const auto List = ListAttached();
    if (!(Flags & FT_LIST_NUMBER_ONLY) || !Arg1)
        return FT_INVALID_PARAMETER;
    *static_cast<FT_DWORD*>(Arg1) = static_cast<FT_DWORD>(List.size());
    return FT_OK;
}

KORVEX_SIM_EXPORT FT_STATUS FT_API FT_Open(int DeviceNumber, FT_HANDLE* Handle) {
    if (!Handle)
        return FT_INVALID_PARAMETER;
    void* H = nullptr;
    const TUsbResult R = OpenAt(DeviceNumber, H);
    if (R == TUsbResult::Ok)
        *Handle = H;
    return StatusOf(R);
}

KORVEX_SIM_EXPORT FT_STATUS FT_API FT_Close(FT_HANDLE Handle) {
    return StatusOf(Close(Handle));
}

KORVEX_SIM_EXPORT FT_STATUS FT_API FT_GetDeviceInfo(FT_HANDLE Handle, FT_DWORD* Type, FT_DWORD* Id,
                                                    char* SerialNumber, char* Description, void*) {
    uint16_t Vid = 0, Pid = 0;
    std::string Serial;
    if (Info(Handle, Vid, Pid, Serial) != TUsbResult::Ok)
        return FT_INVALID_HANDLE;
    if (Type)
        *Type = 4; // an FT2232-class chip
    if (Id)
        *Id = (static_cast<FT_DWORD>(Vid) << 16) | Pid;
    if (SerialNumber) {
        std::strncpy(SerialNumber, Serial.c_str(), FT_INFO_BUFFER_SIZE - 1);
        SerialNumber[FT_INFO_BUFFER_SIZE - 1] = 0;
    }
    if (Description)
        std::strcpy(Description, "KORVEX simulated programmer");
    return FT_OK;
}

KORVEX_SIM_EXPORT FT_STATUS FT_API FT_Write(FT_HANDLE Handle, void* Buffer, FT_DWORD Count,
                                            FT_DWORD* Written) {
    size_t N = 0;
    const TUsbResult R = Write(Handle, static_cast<const uint8_t*>(Buffer), Count, N);
    if (Written)
        *Written = static_cast<FT_DWORD>(N);
    return StatusOf(R);
}

KORVEX_SIM_EXPORT FT_STATUS FT_API FT_Read(FT_HANDLE Handle, void* Buffer, FT_DWORD Count,
                                           FT_DWORD* Read) {
    size_t N = 0;
    const TUsbResult R = korvexsim::Read(Handle, static_cast<uint8_t*>(Buffer), Count, N);
    if (Read)
        *Read = static_cast<FT_DWORD>(N);
    return StatusOf(R);
}

KORVEX_SIM_EXPORT FT_STATUS FT_API FT_GetQueueStatus(FT_HANDLE Handle, FT_DWORD* RxBytes) {
    size_t N = 0;
    const TUsbResult R = Available(Handle, N);
    if (RxBytes)
        *RxBytes = static_cast<FT_DWORD>(N);
    return StatusOf(R);
}

KORVEX_SIM_EXPORT FT_STATUS FT_API FT_ResetDevice(FT_HANDLE Handle) {
    return StatusOf(Check(Handle));
}

KORVEX_SIM_EXPORT FT_STATUS FT_API FT_Purge(FT_HANDLE Handle, FT_DWORD Mask) {
    const TUsbResult R = Check(Handle);
    if (R == TUsbResult::Ok && (Mask & FT_PURGE_RX))
        return StatusOf(PurgeReplies(Handle));
    return StatusOf(R);
}

KORVEX_SIM_EXPORT FT_STATUS FT_API FT_SetLatencyTimer(FT_HANDLE Handle, FT_UCHAR) {
    return Check(Handle) == TUsbResult::BadHandle ? FT_INVALID_HANDLE : FT_OK;
}

// Resolved by the link but never called; present so the simulator passes for the real library.
KORVEX_SIM_EXPORT FT_STATUS FT_API FT_GetStatus(FT_HANDLE, FT_DWORD* Rx, FT_DWORD* Tx,
                                                FT_DWORD* Event) {
    if (Rx)
        *Rx = 0;
    if (Tx)
        *Tx = 0;
    if (Event)
        *Event = 0;
    return FT_OK;
}
KORVEX_SIM_EXPORT FT_STATUS FT_API FT_SetBitMode(FT_HANDLE, FT_UCHAR, FT_UCHAR) {
    return FT_OK;
}
KORVEX_SIM_EXPORT FT_STATUS FT_API FT_GetBitMode(FT_HANDLE, FT_UCHAR* Mode) {
    if (Mode)
        *Mode = 0;
    return FT_OK;
}
KORVEX_SIM_EXPORT FT_STATUS FT_API FT_SetUSBParameters(FT_HANDLE, FT_DWORD, FT_DWORD) {
    return FT_OK;
}

// Not part of D2XX: re-reads $KORVEX_SIM now, closing any open connection and starting a fresh
// trace, even when the file did not change. Returns 0, or -1 when the configuration is invalid.
KORVEX_SIM_EXPORT int KorvexSimReload() {
    return Reload() ? 0 : -1;
}
