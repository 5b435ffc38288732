#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// The calls the link makes on an FTDI driver library, whichever library it is: FTDI's own D2XX or
// the open libftdi1 (on libusb). Both are loaded at run time by name, so the program builds and
// starts without either and can say what it tried.

// One attached FTDI device as a listing sees it, in the library's order. Index is what Open takes.
struct TUsbDeviceEntry {
    int32_t Index = 0;
    uint16_t VendorId = 0;
    uint16_t ProductId = 0;
    std::string Serial;
    // Held by another program (or by this one). D2XX cannot read anything of such a device, so
    // its id and serial are left empty; libftdi reads the strings but cannot claim it.
    bool InUse = false;
};

// An attached programmer as a listing for the user shows it. Value is -1 when the serial string
// is not hexadecimal; Serial is empty for a device held by another program whose strings the
// library cannot read.
struct TProgrammerEntry {
    std::string Serial;
    int32_t Value = -1;
    bool InUse = false;
};

// An open device; the backend's own handle, never looked into by the link.
using TUsbHandle = void*;

class TUsbBackend {
public:
    virtual ~TUsbBackend() = default;

    // "D2XX" or "libftdi1", for the status line and for diagnostics.
    virtual const char* Name() const = 0;
    // The library file this backend opens (an environment variable may name another).
    virtual std::string LibraryName() const = 0;
    // Loads the library and resolves every entry point it needs; on failure says why in Error
    // and leaves nothing loaded.
    virtual bool Load(std::string& Error) = 0;

    // Attached devices with the given USB id and their serial strings. Devices of other ids are
    // not touched. A device held by another program is listed InUse with no id or serial by D2XX
    // (which must open a device to read its serial) and listed with its serial, not InUse, by
    // libftdi (which reads the strings without claiming the device).
    virtual std::vector<TUsbDeviceEntry> List(uint16_t VendorId, uint16_t ProductId) = 0;
    // True when List has tried to open every device, so that InUse is known for each.
    virtual bool ListingOpensDevices() const = 0;
    // True when the last failed Open found the device held by another program.
    virtual bool LastOpenFoundBusy() const = 0;
    // Number of attached devices of any kind the library reports (diagnostics only).
    virtual int32_t CountDevices() = 0;

    // The connection calls. Every call returns 0 on success, else the library's own status;
    // LastFailure then names the call and its status ("FT_Write status 4").
    virtual int Open(int32_t Index, uint16_t VendorId, uint16_t ProductId, TUsbHandle& Handle) = 0;
    virtual int Reset(TUsbHandle Handle) = 0;
    virtual int Purge(TUsbHandle Handle) = 0; // both directions
    virtual int SetLatencyTimer(TUsbHandle Handle, uint8_t Milliseconds) = 0;
    virtual int Write(TUsbHandle Handle, const uint8_t* Data, uint32_t Count,
                      uint32_t& Written) = 0;
    // Bytes that have arrived from the device and can be read without waiting.
    virtual int QueueStatus(TUsbHandle Handle, uint32_t& Waiting) = 0;
    virtual int Read(TUsbHandle Handle, uint8_t* Buffer, uint32_t Count, uint32_t& Got) = 0;
    virtual void Close(TUsbHandle Handle) = 0;
    virtual std::string LastFailure() const = 0;
};

std::unique_ptr<TUsbBackend> MakeD2xxBackend();
// On Windows the programmer comes with FTDI's driver, and libftdi1 would first need the device
// moved to another USB driver (WinUSB): there the automatic choice is D2XX alone, and libftdi1 is
// used only when asked for by name.
#ifdef _WIN32
inline constexpr bool LibftdiInAutoChoice = false;
#else
inline constexpr bool LibftdiInAutoChoice = true;
#endif
std::unique_ptr<TUsbBackend> MakeLibftdiBackend();
