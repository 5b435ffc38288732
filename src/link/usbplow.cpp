#include "usbplow.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace {

#ifdef _WIN32
void* OpenLibrary(const std::string& Name) {
    return reinterpret_cast<void*>(LoadLibraryA(Name.c_str()));
}
void* FindSymbol(void* Module, const char* Name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(Module), Name));
}
void CloseLibrary(void* Module) {
    FreeLibrary(static_cast<HMODULE>(Module));
}
std::string LastLibraryError() {
    return "error " + std::to_string(GetLastError());
}
#else
void* OpenLibrary(const std::string& Name) {
    return dlopen(Name.c_str(), RTLD_NOW | RTLD_LOCAL);
}
void* FindSymbol(void* Module, const char* Name) {
    return dlsym(Module, Name);
}
void CloseLibrary(void* Module) {
    dlclose(Module);
}
std::string LastLibraryError() {
    const char* E = dlerror();
    return E ? E : "unknown error";
}
#endif

// The entry points in the order they are resolved.
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

char Upper(char C) {
    return static_cast<char>(std::toupper(static_cast<unsigned char>(C)));
}

} // namespace

bool MatchSerialMask(const std::string& Mask, const std::string& Serial) {
    if (Mask.size() != Serial.size())
        return false;
    for (size_t I = 0; I < Mask.size(); ++I) {
        const char M = Upper(Mask[I]), S = Upper(Serial[I]);
        if (M != S && M != '?' && S != '?')
            return false;
    }
    return true;
}

int32_t SerialValueOf(const std::string& Serial) {
    // Read as a 64-bit hexadecimal number: every character a hex digit, at most sixteen
    // significant digits. Only the low 24 bits name the programmer; the rest is the fixed "A6"
    // prefix or noise.
    if (Serial.empty())
        return -1;
    uint64_t Value = 0;
    int Significant = 0;
    for (char C : Serial) {
        int Digit;
        if (C >= '0' && C <= '9')
            Digit = C - '0';
        else if (C >= 'a' && C <= 'f')
            Digit = C - 'a' + 10;
        else if (C >= 'A' && C <= 'F')
            Digit = C - 'A' + 10;
        else
            return -1;
        if (Significant > 0 || Digit != 0)
            ++Significant;
        if (Significant > 16)
            return -1;
        Value = (Value << 4) | static_cast<uint64_t>(Digit);
    }
    return static_cast<int32_t>(Value & 0xFFFFFF);
}

std::string TUsbDriver::LibraryName() {
    if (const char* Env = std::getenv("KORVEX_D2XX"); Env && *Env)
        return Env;
#ifdef _WIN32
    return "ftd2xx.dll";
#else
    return "libftd2xx.so";
#endif
}

bool TUsbDriver::LoadUSBDriver() {
    if (FModule)
        return true;
    FLoadError.clear();
    const std::string Name = LibraryName();
    void* Module = OpenLibrary(Name);
    if (!Module) {
        FLoadError = "cannot load " + Name + ": " + LastLibraryError();
        return false;
    }
    void* Found[14];
    for (int I = 0; I < 14; ++I) {
        Found[I] = FindSymbol(Module, EntryNames[I]);
        if (!Found[I]) {
            // A library of another version may lack an entry point; calling through a null
            // pointer later would crash the run, so such a library is not used at all.
            FLoadError = Name + " has no entry point " + EntryNames[I];
            CloseLibrary(Module);
            return false;
        }
    }
    FModule = Module;
    FEntries.Open = reinterpret_cast<PFT_Open>(Found[0]);
    FEntries.ListDevices = reinterpret_cast<PFT_ListDevices>(Found[1]);
    FEntries.Close = reinterpret_cast<PFT_Close>(Found[2]);
    FEntries.Read = reinterpret_cast<PFT_Read>(Found[3]);
    FEntries.Write = reinterpret_cast<PFT_Write>(Found[4]);
    FEntries.ResetDevice = reinterpret_cast<PFT_ResetDevice>(Found[5]);
    FEntries.Purge = reinterpret_cast<PFT_Purge>(Found[6]);
    FEntries.GetQueueStatus = reinterpret_cast<PFT_GetQueueStatus>(Found[7]);
    FEntries.GetStatus = reinterpret_cast<PFT_GetStatus>(Found[8]);
    FEntries.SetLatencyTimer = reinterpret_cast<PFT_SetLatencyTimer>(Found[9]);
    FEntries.SetBitMode = reinterpret_cast<PFT_SetBitMode>(Found[10]);
    FEntries.GetBitMode = reinterpret_cast<PFT_GetBitMode>(Found[11]);
    FEntries.SetUSBParameters = reinterpret_cast<PFT_SetUSBParameters>(Found[12]);
    FEntries.GetDeviceInfo = reinterpret_cast<PFT_GetDeviceInfo>(Found[13]);
    return true;
}

void TUsbDriver::UnloadUSBDriver() {
    if (FModule)
        CloseLibrary(FModule);
    FModule = nullptr;
    FEntries = TEntryTable{};
}

int32_t TUsbDriver::CountDevices() {
    if (!FModule)
        return 0;
    FT_DWORD Count = 0;
    if (FT_ListDevices(&Count, nullptr, FT_LIST_NUMBER_ONLY) != FT_OK)
        return 0;
    return static_cast<int32_t>(Count);
}

void TUsbDriver::SearchDevices(uint16_t VendorId, uint16_t ProductId, const std::string& Mask,
                               TFTIndexes& Serials, int32_t* DeviceIndex, TFTSearch* Summary,
                               int32_t Filter) {
    const int32_t Count = CountDevices();
    Serials.clear();
    const uint32_t Id = (static_cast<uint32_t>(VendorId) << 16) | ProductId;
    if (DeviceIndex)
        *DeviceIndex = -1;
    if (Summary)
        *Summary = TFTSearch{Id, Mask, Count, 0};
    for (int32_t I = 0; I < Count; ++I) {
        FT_HANDLE Handle = nullptr;
        if (FT_Open(I, &Handle) != FT_OK)
            continue; // held by another program, or by our own run
        FT_DWORD Type = 0, DevId = 0;
        char SerialBuf[FT_INFO_BUFFER_SIZE + 1] = {};
        char DescBuf[FT_INFO_BUFFER_SIZE + 1] = {};
        if (FT_GetDeviceInfo(Handle, &Type, &DevId, SerialBuf, DescBuf, nullptr) == FT_OK) {
            const std::string Serial(SerialBuf, strnlen(SerialBuf, FT_INFO_BUFFER_SIZE));
            const int32_t Value = SerialValueOf(Serial);
            const bool Matches = DevId == Id && MatchSerialMask(Mask, Serial) &&
                                 (Filter == -1 || (Value != -1 && Value == (Filter & 0xFFFFFF)));
            if (Matches) {
                Serials.push_back(Value);
                if (Summary)
                    ++Summary->DevicesMatched;
                if (DeviceIndex)
                    *DeviceIndex = I;
            }
        }
        FT_Close(Handle);
    }
    if (Serials.size() > 1 && DeviceIndex)
        *DeviceIndex = -1;
}

FT_STATUS TUsbDriver::FT_ListDevices(void* Arg1, void* Arg2, FT_DWORD Flags) {
    return FEntries.ListDevices ? FEntries.ListDevices(Arg1, Arg2, Flags) : FT_DEVICE_NOT_FOUND;
}
FT_STATUS TUsbDriver::FT_Open(int DeviceNumber, FT_HANDLE* Handle) {
    return FEntries.Open ? FEntries.Open(DeviceNumber, Handle) : FT_DEVICE_NOT_FOUND;
}
FT_STATUS TUsbDriver::FT_GetDeviceInfo(FT_HANDLE Handle, FT_DWORD* Type, FT_DWORD* Id,
                                       char* SerialNumber, char* Description, void* Dummy) {
    return FEntries.GetDeviceInfo
               ? FEntries.GetDeviceInfo(Handle, Type, Id, SerialNumber, Description, Dummy)
               : FT_INVALID_HANDLE;
}
FT_STATUS TUsbDriver::FT_Close(FT_HANDLE Handle) {
    return FEntries.Close ? FEntries.Close(Handle) : FT_INVALID_HANDLE;
}
FT_STATUS TUsbDriver::FT_Write(FT_HANDLE Handle, void* Buffer, FT_DWORD BytesToWrite,
                               FT_DWORD* BytesWritten) {
    return FEntries.Write ? FEntries.Write(Handle, Buffer, BytesToWrite, BytesWritten)
                          : FT_INVALID_HANDLE;
}
FT_STATUS TUsbDriver::FT_Read(FT_HANDLE Handle, void* Buffer, FT_DWORD BytesToRead,
                              FT_DWORD* BytesReturned) {
    return FEntries.Read ? FEntries.Read(Handle, Buffer, BytesToRead, BytesReturned)
                         : FT_INVALID_HANDLE;
}
FT_STATUS TUsbDriver::FT_GetQueueStatus(FT_HANDLE Handle, FT_DWORD* RxBytes) {
    return FEntries.GetQueueStatus ? FEntries.GetQueueStatus(Handle, RxBytes) : FT_INVALID_HANDLE;
}
FT_STATUS TUsbDriver::FT_ResetDevice(FT_HANDLE Handle) {
    return FEntries.ResetDevice ? FEntries.ResetDevice(Handle) : FT_INVALID_HANDLE;
}
FT_STATUS TUsbDriver::FT_Purge(FT_HANDLE Handle, FT_DWORD Mask) {
    return FEntries.Purge ? FEntries.Purge(Handle, Mask) : FT_INVALID_HANDLE;
}
FT_STATUS TUsbDriver::FT_SetLatencyTimer(FT_HANDLE Handle, FT_UCHAR Timer) {
    return FEntries.SetLatencyTimer ? FEntries.SetLatencyTimer(Handle, Timer) : FT_INVALID_HANDLE;
}

std::string FormatSerial(int32_t Value) {
    char Buf[16];
    std::snprintf(Buf, sizeof Buf, "%06X", static_cast<unsigned>(static_cast<uint32_t>(Value)));
    return Buf;
}
