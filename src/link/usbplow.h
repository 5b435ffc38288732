#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "usb_backend.h"

// Serial values of the devices a search matched, in the order of the library's device indexes.
using TFTIndexes = std::vector<int32_t>;

// Summary of one search.
struct TFTSearch {
    uint32_t DeviceId = 0; // vendor id << 16 | product id
    std::string SerialMask;
    int32_t DevicesReported = 0; // attached FTDI devices of any id the library reports
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

// Which driver library talks to the programmer. Auto: D2XX when $KORVEX_D2XX names a library,
// libftdi1 when $KORVEX_LIBFTDI does, else D2XX when the vendor's library loads, else libftdi1.
enum class TDriverChoice { Auto, D2xx, Libftdi };

// The choice as the settings file and the command line spell it: "auto", "d2xx", "libftdi"
// (case-insensitive when read; anything else reads as auto).
std::string DriverChoiceName(TDriverChoice Choice);
TDriverChoice DriverChoiceFromName(const std::string& Name);
// True when Name is one of the three spellings.
bool IsDriverChoiceName(const std::string& Name);

// The loaded USB driver: one of the backends in usb_backend.h, chosen and loaded by
// LoadUSBDriver. The program never links against a driver library, so a machine without one
// still starts and can say what is missing. Until a load succeeds every call fails harmlessly.
class TUsbDriver {
public:
    TUsbDriver() = default;
    ~TUsbDriver();
    TUsbDriver(const TUsbDriver&) = delete;
    TUsbDriver& operator=(const TUsbDriver&) = delete;

    // The D2XX library file: $KORVEX_D2XX when set, else the vendor's library name.
    static std::string LibraryName();
    // The libftdi1 library file: $KORVEX_LIBFTDI when set, else libftdi1.so.2.
    static std::string LibftdiLibraryName();

    // Set before LoadUSBDriver; a loaded driver stays until UnloadUSBDriver.
    TDriverChoice Choice = TDriverChoice::Auto;

    // True when a library is loaded with every entry point its backend needs.
    bool LoadUSBDriver();
    void UnloadUSBDriver();
    bool Loaded() const { return FBackend != nullptr; }
    // What the last failed load tried and found wrong (one clause per library), empty after
    // success.
    const std::string& LoadError() const { return FLoadError; }
    // "D2XX" or "libftdi1" once loaded, else empty.
    std::string DriverName() const;
    // "libftdi1 (libftdi1.so.2)": the backend and its file, for a status line; empty before a
    // load.
    std::string DriverDescription() const;
    // The library file in use, empty when none is loaded.
    const std::string& DriverLibrary() const { return FLibrary; }

    // Number of attached FTDI devices the library reports; 0 when not loaded or the call fails.
    int32_t CountDevices();

    // Lists the attached devices with the given id whose serial string matches Mask and, unless
    // Filter is -1, whose serial value equals Filter's low 24 bits, in the library's order.
    // DeviceIndex (optional) names the device only when exactly one matched, else -1.
    void SearchDevices(uint16_t VendorId, uint16_t ProductId, const std::string& Mask,
                       TFTIndexes& Serials, int32_t* DeviceIndex = nullptr,
                       TFTSearch* Summary = nullptr, int32_t Filter = -1);
    // Devices with the given id whose serial matches Mask, and the devices held by another
    // program whose serial the library cannot read, in the library's order. Whether each is free
    // is known: a backend whose listing does not open devices has each opened and closed once.
    std::vector<TProgrammerEntry> DescribeDevices(uint16_t VendorId, uint16_t ProductId,
                                                  const std::string& Mask);
    // The serial string of the device at Index among those with the given id; empty when it is
    // not listed (any more).
    std::string SerialAt(int32_t Index, uint16_t VendorId, uint16_t ProductId);

    // The connection calls of the loaded backend (usb_backend.h). Before a load they fail with
    // a nonzero status instead of calling into nothing.
    int Open(int32_t Index, uint16_t VendorId, uint16_t ProductId, TUsbHandle& Handle);
    int Reset(TUsbHandle Handle);
    int Purge(TUsbHandle Handle);
    int SetLatencyTimer(TUsbHandle Handle, uint8_t Milliseconds);
    int Write(TUsbHandle Handle, const uint8_t* Data, uint32_t Count, uint32_t& Written);
    int QueueStatus(TUsbHandle Handle, uint32_t& Waiting);
    int Read(TUsbHandle Handle, uint8_t* Buffer, uint32_t Count, uint32_t& Got);
    void Close(TUsbHandle Handle);
    // True when the last failed Open found the device held by another program.
    bool LastOpenFoundBusy() const;
    // The failing call and its status, as in "FT_Write status 4".
    std::string LastFailure() const;

private:
    std::unique_ptr<TUsbBackend> FBackend; // null = not loaded
    std::string FLibrary;
    std::string FLoadError;
};

// A serial value as the front ends show it: upper-case hexadecimal, at least six digits, the
// value taken as 32 bits ("012345", "A6012345", "FFFFFFFF").
std::string FormatSerial(int32_t Value);
