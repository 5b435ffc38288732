#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "d2xx_types.h"

// Serial values of the devices a search matched, in the order of the library's device indexes.
using TFTIndexes = std::vector<int32_t>;

// Summary of one search.
struct TFTSearch {
    uint32_t DeviceId = 0; // vendor id << 16 | product id
    std::string SerialMask;
    int32_t DevicesReported = 0;
    int32_t DevicesMatched = 0;
};

// The KORVEX programmer's USB identity and serial-number pattern.
constexpr uint16_t KorvexVendorId = 0x0403;
constexpr uint16_t KorvexProductId = 0xF1A0;
inline constexpr const char* KorvexSerialMask = "A601????";

// Upper-case comparison where "?" on either side matches any character; lengths must agree.
bool MatchSerialMask(const std::string& Mask, const std::string& Serial);

// A serial-number string read as a hexadecimal number (at most 64 bits), low 24 bits kept;
// -1 when it is not such a number.
int32_t SerialValueOf(const std::string& Serial);

// One loaded D2XX driver library. The program never links against the library: it is opened by
// name at run time, so a machine without it still starts and can say what is missing. The handle
// and the entry table belong to this object; the destructor releases the library.
class TUsbDriver {
public:
    TUsbDriver() = default;
    ~TUsbDriver() { UnloadUSBDriver(); }
    TUsbDriver(const TUsbDriver&) = delete;
    TUsbDriver& operator=(const TUsbDriver&) = delete;

    // The library file: $KORVEX_D2XX when set, else the vendor's library name for the platform.
    static std::string LibraryName();

    // True when the library is loaded and all fourteen entry points were found; a library that
    // lacks any of them is released again.
    bool LoadUSBDriver();
    void UnloadUSBDriver();
    bool Loaded() const { return FModule != nullptr; }
    // What the last failed load found wrong (for a diagnostic line), empty after success.
    const std::string& LoadError() const { return FLoadError; }

    // Number of attached devices the library reports; 0 when not loaded or the call fails.
    int32_t CountDevices();

    // Opens every attached device in turn and lists those with the given id whose serial string
    // matches Mask and, unless Filter is -1, whose serial value equals Filter's low 24 bits.
    // DeviceIndex (optional) names the device only when exactly one matched, else -1.
    void SearchDevices(uint16_t VendorId, uint16_t ProductId, const std::string& Mask,
                       TFTIndexes& Serials, int32_t* DeviceIndex = nullptr,
                       TFTSearch* Summary = nullptr, int32_t Filter = -1);

    // The called entry points, status passed through unchanged. Before a successful load they
    // return FT_DEVICE_NOT_FOUND / FT_INVALID_HANDLE instead of calling through a null pointer.
    FT_STATUS FT_ListDevices(void* Arg1, void* Arg2, FT_DWORD Flags);
    FT_STATUS FT_Open(int DeviceNumber, FT_HANDLE* Handle);
    FT_STATUS FT_GetDeviceInfo(FT_HANDLE Handle, FT_DWORD* Type, FT_DWORD* Id, char* SerialNumber,
                               char* Description, void* Dummy);
    FT_STATUS FT_Close(FT_HANDLE Handle);
    FT_STATUS FT_Write(FT_HANDLE Handle, void* Buffer, FT_DWORD BytesToWrite,
                       FT_DWORD* BytesWritten);
    FT_STATUS FT_Read(FT_HANDLE Handle, void* Buffer, FT_DWORD BytesToRead,
                      FT_DWORD* BytesReturned);
    FT_STATUS FT_GetQueueStatus(FT_HANDLE Handle, FT_DWORD* RxBytes);
    FT_STATUS FT_ResetDevice(FT_HANDLE Handle);
    FT_STATUS FT_Purge(FT_HANDLE Handle, FT_DWORD Mask);
    FT_STATUS FT_SetLatencyTimer(FT_HANDLE Handle, FT_UCHAR Timer);

private:
    // Resolved in this order; the loader walks the table by index.
    struct TEntryTable {
        PFT_Open Open = nullptr;
        PFT_ListDevices ListDevices = nullptr;
        PFT_Close Close = nullptr;
        PFT_Read Read = nullptr;
        PFT_Write Write = nullptr;
        PFT_ResetDevice ResetDevice = nullptr;
        PFT_Purge Purge = nullptr;
        PFT_GetQueueStatus GetQueueStatus = nullptr;
        PFT_GetStatus GetStatus = nullptr;
        PFT_SetLatencyTimer SetLatencyTimer = nullptr;
        PFT_SetBitMode SetBitMode = nullptr;
        PFT_GetBitMode GetBitMode = nullptr;
        PFT_SetUSBParameters SetUSBParameters = nullptr;
        PFT_GetDeviceInfo GetDeviceInfo = nullptr;
    };

    void* FModule = nullptr; // dlopen handle; null = not loaded
    TEntryTable FEntries;
    std::string FLoadError;
};

// A serial value as the front ends show it: upper-case hexadecimal, at least six digits, the
// value taken as 32 bits ("012345", "A6012345", "FFFFFFFF").
std::string FormatSerial(int32_t Value);
