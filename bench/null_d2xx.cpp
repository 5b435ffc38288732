// A D2XX driver library with one KORVEX behind it that does nothing but answer: every command
// byte that asks for a reply gets 0xFF (TDO high on every bit, as the benchmark files expect).
// No TAP, no clock, no trace. Played through it, a file costs only what the host spends, which
// is how the benchmarks separate the host's figures from the simulator's.
//
//     KORVEX_D2XX=/path/to/libkorvex-null-d2xx.so korvex-cli file.svf

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "d2xx_types.h"
#include "korvex_commands.h"

#define NULL_D2XX_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

struct TNullDevice {
    bool Open = false;
    // Replies produced and not yet read. A real device holds at most a few thousand; the host
    // never lets more pile up, so a plain counter is all the state there is.
    uint64_t Pending = 0;
};

TNullDevice Device;
constexpr const char* Serial = "A6012345";

bool Valid(FT_HANDLE Handle) {
    return Handle == &Device && Device.Open;
}

} // namespace

NULL_D2XX_EXPORT FT_STATUS FT_ListDevices(void* Arg1, void*, FT_DWORD Flags) {
    if (!(Flags & FT_LIST_NUMBER_ONLY) || !Arg1)
        return FT_INVALID_PARAMETER;
    *static_cast<FT_DWORD*>(Arg1) = 1;
    return FT_OK;
}

NULL_D2XX_EXPORT FT_STATUS FT_Open(int DeviceNumber, FT_HANDLE* Handle) {
    if (!Handle)
        return FT_INVALID_PARAMETER;
    if (DeviceNumber != 0)
        return FT_DEVICE_NOT_FOUND;
    if (Device.Open)
        return FT_DEVICE_NOT_OPENED;
    Device = TNullDevice{};
    Device.Open = true;
    *Handle = &Device;
    return FT_OK;
}

NULL_D2XX_EXPORT FT_STATUS FT_Close(FT_HANDLE Handle) {
    if (!Valid(Handle))
        return FT_INVALID_HANDLE;
    Device.Open = false;
    return FT_OK;
}

NULL_D2XX_EXPORT FT_STATUS FT_GetDeviceInfo(FT_HANDLE Handle, FT_DWORD* Type, FT_DWORD* Id,
                                            char* SerialNumber, char* Description, void*) {
    if (!Valid(Handle))
        return FT_INVALID_HANDLE;
    if (Type)
        *Type = 4;
    if (Id)
        *Id = (FT_DWORD{0x0403} << 16) | 0xF1A0;
    if (SerialNumber)
        std::strcpy(SerialNumber, Serial);
    if (Description)
        std::strcpy(Description, "KORVEX null device");
    return FT_OK;
}

NULL_D2XX_EXPORT FT_STATUS FT_Write(FT_HANDLE Handle, void* Buffer, FT_DWORD Count,
                                    FT_DWORD* Written) {
    if (!Valid(Handle))
        return FT_INVALID_HANDLE;
    Device.Pending +=
        static_cast<uint64_t>(korvex::CountReplies(static_cast<const uint8_t*>(Buffer), Count));
    if (Written)
        *Written = Count;
    return FT_OK;
}

NULL_D2XX_EXPORT FT_STATUS FT_Read(FT_HANDLE Handle, void* Buffer, FT_DWORD Count, FT_DWORD* Read) {
    if (!Valid(Handle))
        return FT_INVALID_HANDLE;
    const auto N = static_cast<FT_DWORD>(std::min<uint64_t>(Count, Device.Pending));
    std::memset(Buffer, 0xFF, N);
    Device.Pending -= N;
    if (Read)
        *Read = N;
    return FT_OK;
}

NULL_D2XX_EXPORT FT_STATUS FT_GetQueueStatus(FT_HANDLE Handle, FT_DWORD* RxBytes) {
    if (!Valid(Handle))
        return FT_INVALID_HANDLE;
    if (RxBytes)
        *RxBytes = static_cast<FT_DWORD>(std::min<uint64_t>(Device.Pending, 0xFFFFFFFFu));
    return FT_OK;
}

NULL_D2XX_EXPORT FT_STATUS FT_ResetDevice(FT_HANDLE Handle) {
    return Valid(Handle) ? FT_OK : FT_INVALID_HANDLE;
}

NULL_D2XX_EXPORT FT_STATUS FT_Purge(FT_HANDLE Handle, FT_DWORD Mask) {
    if (!Valid(Handle))
        return FT_INVALID_HANDLE;
    if (Mask & FT_PURGE_RX)
        Device.Pending = 0;
    return FT_OK;
}

NULL_D2XX_EXPORT FT_STATUS FT_SetLatencyTimer(FT_HANDLE Handle, FT_UCHAR) {
    return Valid(Handle) ? FT_OK : FT_INVALID_HANDLE;
}

// Resolved by the link but never called.
NULL_D2XX_EXPORT FT_STATUS FT_GetStatus(FT_HANDLE, FT_DWORD* Rx, FT_DWORD* Tx, FT_DWORD* Event) {
    for (FT_DWORD* P : {Rx, Tx, Event})
        if (P)
            *P = 0;
    return FT_OK;
}
NULL_D2XX_EXPORT FT_STATUS FT_SetBitMode(FT_HANDLE, FT_UCHAR, FT_UCHAR) {
    return FT_OK;
}
NULL_D2XX_EXPORT FT_STATUS FT_GetBitMode(FT_HANDLE, FT_UCHAR* Mode) {
    if (Mode)
        *Mode = 0;
    return FT_OK;
}
NULL_D2XX_EXPORT FT_STATUS FT_SetUSBParameters(FT_HANDLE, FT_DWORD, FT_DWORD) {
    return FT_OK;
}
