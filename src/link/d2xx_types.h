#pragma once

#include <cstdint>

// The D2XX driver interface as far as this program uses it. The vendor header is not needed: the
// library is loaded at run time and only these types, codes and entry-point signatures matter.
//
// DWORD and FT_STATUS are 32 bits on every platform the library exists for; declaring them as
// uint32_t (not unsigned long, which is 64 bits on Linux) keeps the out-parameters the size the
// library writes.

using FT_HANDLE = void*;
using FT_STATUS = uint32_t;
using FT_DWORD = uint32_t;
using FT_UCHAR = uint8_t;

enum : FT_STATUS {
    FT_OK = 0,
    FT_INVALID_HANDLE = 1,
    FT_DEVICE_NOT_FOUND = 2,
    FT_DEVICE_NOT_OPENED = 3,
    FT_IO_ERROR = 4,
    FT_INSUFFICIENT_RESOURCES = 5,
    FT_INVALID_PARAMETER = 6,
};

// FT_ListDevices flag: return the number of attached devices in the first argument.
constexpr FT_DWORD FT_LIST_NUMBER_ONLY = 0x80000000u;
// FT_Purge mask bits.
constexpr FT_DWORD FT_PURGE_RX = 1;
constexpr FT_DWORD FT_PURGE_TX = 2;
// Size of the serial-number and description buffers FT_GetDeviceInfo fills.
constexpr int FT_INFO_BUFFER_SIZE = 64;

// The library's calling convention: WINAPI (__stdcall) on Windows, as the vendor's header declares
// every entry point. On 64-bit Windows there is only one convention and the keyword changes
// nothing, but a 32-bit build calling through a cdecl pointer would unbalance the stack.
#ifdef _WIN32
#define FT_API __stdcall
#else
#define FT_API
#endif

extern "C" {
using PFT_Open = FT_STATUS(FT_API*)(int DeviceNumber, FT_HANDLE* Handle);
using PFT_ListDevices = FT_STATUS(FT_API*)(void* Arg1, void* Arg2, FT_DWORD Flags);
using PFT_Close = FT_STATUS(FT_API*)(FT_HANDLE Handle);
using PFT_Read = FT_STATUS(FT_API*)(FT_HANDLE Handle, void* Buffer, FT_DWORD BytesToRead,
                                    FT_DWORD* BytesReturned);
using PFT_Write = FT_STATUS(FT_API*)(FT_HANDLE Handle, void* Buffer, FT_DWORD BytesToWrite,
                                     FT_DWORD* BytesWritten);
using PFT_ResetDevice = FT_STATUS(FT_API*)(FT_HANDLE Handle);
using PFT_Purge = FT_STATUS(FT_API*)(FT_HANDLE Handle, FT_DWORD Mask);
using PFT_GetQueueStatus = FT_STATUS(FT_API*)(FT_HANDLE Handle, FT_DWORD* RxBytes);
using PFT_GetStatus = FT_STATUS(FT_API*)(FT_HANDLE Handle, FT_DWORD* RxBytes, FT_DWORD* TxBytes,
                                         FT_DWORD* EventStatus);
using PFT_SetLatencyTimer = FT_STATUS(FT_API*)(FT_HANDLE Handle, FT_UCHAR Timer);
using PFT_SetBitMode = FT_STATUS(FT_API*)(FT_HANDLE Handle, FT_UCHAR Mask, FT_UCHAR Enable);
using PFT_GetBitMode = FT_STATUS(FT_API*)(FT_HANDLE Handle, FT_UCHAR* Mode);
using PFT_SetUSBParameters = FT_STATUS(FT_API*)(FT_HANDLE Handle, FT_DWORD InTransferSize,
                                                FT_DWORD OutTransferSize);
using PFT_GetDeviceInfo = FT_STATUS(FT_API*)(FT_HANDLE Handle, FT_DWORD* Type, FT_DWORD* Id,
                                             char* SerialNumber, char* Description, void* Dummy);
}
