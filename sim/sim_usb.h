#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The simulated USB side shared by both driver faces of the library (d2xx_sim.cpp and
// libftdi_sim.cpp): the configuration, the attached devices and their open connections, in one
// process-wide state behind one mutex. The configuration is re-read on every listing and open
// whenever $KORVEX_SIM or the file's content changed, so tests can run differently configured
// scenarios one after another.
namespace korvexsim {

enum class TUsbResult {
    Ok,
    BadHandle, // not an open connection of this library
    Gone,      // the device was unplugged, or the index names no attached device
    Busy,      // held by another program (or by this one)
    IoError,   // an injected transfer failure
};

struct TListedDevice {
    void* Device; // stays valid until the configuration is reloaded
    uint16_t VendorId, ProductId;
    std::string Serial;
};

// The attached devices in index order.
std::vector<TListedDevice> ListAttached();
// Opens the device at Index of ListAttached, or the device Device names; Handle is the connection.
TUsbResult OpenAt(int Index, void*& Handle);
TUsbResult OpenDevice(void* Device, void*& Handle);
// The serial string of a listed device, readable without opening it (USB string descriptors).
TUsbResult SerialOf(void* Device, std::string& Serial);
TUsbResult Close(void* Handle);
TUsbResult Info(void* Handle, uint16_t& VendorId, uint16_t& ProductId, std::string& Serial);
// Accepts what the device takes of Count bytes (faults may cut it short).
TUsbResult Write(void* Handle, const uint8_t* Bytes, size_t Count, size_t& Written);
// Reply bytes readable now; each call is one poll for the delay faults.
TUsbResult Available(void* Handle, size_t& Count);
TUsbResult Read(void* Handle, uint8_t* Buffer, size_t Count, size_t& Got);
TUsbResult Check(void* Handle); // reset, latency timer: only whether the device is there
TUsbResult PurgeReplies(void* Handle);
// Re-reads $KORVEX_SIM now; false when the configuration is invalid.
bool Reload();

} // namespace korvexsim
