// The libftdi1 entry points of the simulated KORVEX programmer: the calls the link's libftdi
// backend makes, with libftdi's return conventions (a count or 0 on success, a negative code with
// an error string on the context on failure). Loaded through $KORVEX_LIBFTDI, the same scenarios
// run through the libftdi path as through D2XX.
//
// As with the real library on libusb, a listing sees every attached device of the asked-for id
// and its serial string can be read while another program holds it; only the open fails then.

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <thread>

#include "sim_usb.h"

#define KORVEX_SIM_EXPORT extern "C" __attribute__((visibility("default")))

// The context the library hands out: opaque to its users.
struct ftdi_context {
    void* Connection = nullptr;
    const char* Error = "";
};
struct libusb_device; // a listed device: the simulator's own device pointer
struct ftdi_device_list {
    ftdi_device_list* next;
    libusb_device* dev;
};

namespace {

using namespace korvexsim;

int Fail(ftdi_context* C, int Code, const char* Text) {
    if (C)
        C->Error = Text;
    return Code;
}

// The product ids libftdi searches for when asked for vendor 0 and product 0.
bool DefaultFtdiId(uint16_t Vid, uint16_t Pid) {
    return Vid == 0x0403 &&
           (Pid == 0x6001 || Pid == 0x6010 || Pid == 0x6011 || Pid == 0x6014 || Pid == 0x6015);
}

} // namespace

KORVEX_SIM_EXPORT ftdi_context* ftdi_new() {
    return new (std::nothrow) ftdi_context;
}

KORVEX_SIM_EXPORT int ftdi_usb_close(ftdi_context* C) {
    if (!C)
        return -3;
    if (C->Connection)
        korvexsim::Close(C->Connection);
    C->Connection = nullptr;
    return 0;
}

KORVEX_SIM_EXPORT void ftdi_free(ftdi_context* C) {
    if (C)
        ftdi_usb_close(C);
    delete C;
}

KORVEX_SIM_EXPORT const char* ftdi_get_error_string(ftdi_context* C) {
    return C ? C->Error : "";
}

KORVEX_SIM_EXPORT int ftdi_usb_find_all(ftdi_context* C, ftdi_device_list** List, int Vendor,
                                        int Product) {
    if (!C || !List)
        return Fail(C, -3, "out of memory");
    *List = nullptr;
    ftdi_device_list** Tail = List;
    int Count = 0;
    for (const TListedDevice& D : ListAttached()) {
        const bool Wanted = Vendor == 0 && Product == 0
                                ? DefaultFtdiId(D.VendorId, D.ProductId)
                                : D.VendorId == Vendor && D.ProductId == Product;
        if (!Wanted)
            continue;
        auto* Node = static_cast<ftdi_device_list*>(std::malloc(sizeof(ftdi_device_list)));
        if (!Node)
            return Fail(C, -3, "out of memory");
        Node->next = nullptr;
        Node->dev = static_cast<libusb_device*>(D.Device);
        *Tail = Node;
        Tail = &Node->next;
        ++Count;
    }
    return Count;
}

KORVEX_SIM_EXPORT void ftdi_list_free(ftdi_device_list** List) {
    if (!List)
        return;
    for (ftdi_device_list* D = *List; D;) {
        ftdi_device_list* Next = D->next;
        std::free(D);
        D = Next;
    }
    *List = nullptr;
}

KORVEX_SIM_EXPORT int ftdi_usb_get_strings(ftdi_context* C, libusb_device* Dev, char* Manufacturer,
                                           int ManufacturerLength, char* Description,
                                           int DescriptionLength, char* Serial, int SerialLength) {
    std::string Text;
    if (!C || !Dev)
        return Fail(C, -1, "wrong arguments");
    if (SerialOf(Dev, Text) != TUsbResult::Ok)
        return Fail(C, -4, "libusb_open() failed");
    auto Copy = [](char* To, int Size, const std::string& From) {
        if (To && Size > 0) {
            std::strncpy(To, From.c_str(), static_cast<size_t>(Size) - 1);
            To[Size - 1] = 0;
        }
    };
    Copy(Manufacturer, ManufacturerLength, "KORVEX");
    Copy(Description, DescriptionLength, "KORVEX simulated programmer");
    Copy(Serial, SerialLength, Text);
    return 0;
}

KORVEX_SIM_EXPORT int ftdi_usb_open_dev(ftdi_context* C, libusb_device* Dev) {
    if (!C)
        return -8;
    void* H = nullptr;
    switch (OpenDevice(Dev, H)) {
    case TUsbResult::Ok:
        C->Connection = H;
        return 0;
    case TUsbResult::Busy:
        return Fail(C, -5,
                    "unable to claim usb device. Make sure the default FTDI driver is not in use");
    default:
        return Fail(C, -4, "libusb_open() failed");
    }
}

KORVEX_SIM_EXPORT int ftdi_usb_reset(ftdi_context* C) {
    if (!C || !C->Connection)
        return Fail(C, -2, "USB device unavailable");
    return Check(C->Connection) == TUsbResult::Ok ? 0 : Fail(C, -1, "FTDI reset failed");
}

KORVEX_SIM_EXPORT int ftdi_tcioflush(ftdi_context* C) {
    if (!C || !C->Connection)
        return Fail(C, -3, "USB device unavailable");
    return PurgeReplies(C->Connection) == TUsbResult::Ok
               ? 0
               : Fail(C, -1, "FTDI purge of RX buffer failed");
}

KORVEX_SIM_EXPORT int ftdi_set_latency_timer(ftdi_context* C, unsigned char Latency) {
    if (Latency < 1)
        return Fail(C, -1, "latency out of range. Only valid for 1-255");
    if (!C || !C->Connection)
        return Fail(C, -3, "USB device unavailable");
    return Check(C->Connection) == TUsbResult::Ok ? 0 : Fail(C, -2, "unable to set latency timer");
}

// Like the library: the whole buffer in transfers, a failing transfer fails the call (what went
// before it is sent but not reported). A device whose input buffer is full (real-time mode) holds
// the transfer back, as the USB bulk write waits, up to the library's 5 s write time-out.
KORVEX_SIM_EXPORT int ftdi_write_data(ftdi_context* C, const unsigned char* Buf, int Size) {
    if (!C || !C->Connection)
        return Fail(C, -666, "USB device unavailable");
    int Done = 0;
    auto Since = std::chrono::steady_clock::now();
    while (Done < Size) {
        size_t N = 0;
        if (Write(C->Connection, Buf + Done, static_cast<size_t>(Size - Done), N) != TUsbResult::Ok)
            return Fail(C, -1, "usb bulk write failed");
        if (N > 0) {
            Done += static_cast<int>(N);
            Since = std::chrono::steady_clock::now();
        } else if (std::chrono::steady_clock::now() - Since > std::chrono::seconds(5)) {
            return Fail(C, -1, "usb bulk write failed"); // LIBUSB_ERROR_TIMEOUT
        } else {
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    }
    return Done;
}

// What the chip has sent within one latency period; 0 when nothing came.
KORVEX_SIM_EXPORT int ftdi_read_data(ftdi_context* C, unsigned char* Buf, int Size) {
    if (!C || !C->Connection)
        return Fail(C, -666, "USB device unavailable");
    size_t Ready = 0, Got = 0;
    TUsbResult R = Available(C->Connection, Ready);
    if (R == TUsbResult::Ok && Ready > 0)
        R = korvexsim::Read(C->Connection, Buf, std::min<size_t>(Ready, static_cast<size_t>(Size)),
                            Got);
    if (R == TUsbResult::Gone)
        return Fail(C, -4, "usb bulk read failed"); // LIBUSB_ERROR_NO_DEVICE
    if (R != TUsbResult::Ok)
        return Fail(C, -1, "usb bulk read failed"); // LIBUSB_ERROR_IO
    return static_cast<int>(Got);
}
