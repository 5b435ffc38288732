// The open libftdi1 library (on libusb), as Debian ships it in libftdi1-2. Loaded at run time like
// D2XX, so building needs neither its header nor its library; only the calls below are declared,
// all of them on opaque context and device pointers except the two-pointer device list node.
//
// Listing asks libusb for devices of the KORVEX's own USB id and reads their serial strings with
// control transfers (ftdi_usb_get_strings): nothing is claimed and no kernel driver is detached, so
// other FTDI devices on the machine (serial adapters, other programmers) are left alone. Opening
// claims the KORVEX's interface; a device held by another program is listed but refuses the open.
//
// libftdi has no queue-status call. ftdi_read_data returns what the chip has sent within one
// latency period (1 ms here), so QueueStatus reads that into a per-connection buffer and Read
// hands it out.

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <type_traits>

#include "dynamic_library.h"
#include "native_process.h"
#include "usb_backend.h"

namespace {

struct ftdi_context;    // opaque: created by ftdi_new, never looked into
struct libusb_device;   // opaque
struct ftdi_device_list // as in ftdi.h since libftdi 1.0
{
    ftdi_device_list* next;
    libusb_device* dev;
};

extern "C" {
using Pftdi_new = ftdi_context* (*)();
using Pftdi_free = void (*)(ftdi_context*);
using Pftdi_usb_find_all = int (*)(ftdi_context*, ftdi_device_list**, int vendor, int product);
using Pftdi_list_free = void (*)(ftdi_device_list**);
using Pftdi_usb_get_strings = int (*)(ftdi_context*, libusb_device*, char* manufacturer,
                                      int mnf_len, char* description, int desc_len, char* serial,
                                      int serial_len);
using Pftdi_usb_open_dev = int (*)(ftdi_context*, libusb_device*);
using Pftdi_usb_close = int (*)(ftdi_context*);
using Pftdi_usb_reset = int (*)(ftdi_context*);
using Pftdi_tcioflush = int (*)(ftdi_context*);
using Pftdi_set_latency_timer = int (*)(ftdi_context*, unsigned char latency);
using Pftdi_write_data = int (*)(ftdi_context*, const unsigned char* buf, int size);
using Pftdi_read_data = int (*)(ftdi_context*, unsigned char* buf, int size);
using Pftdi_get_error_string = const char* (*)(ftdi_context*);
}

// Bytes asked of ftdi_read_data per poll: one bulk transfer's worth of the chip's packets.
constexpr int ReadChunk = 4096;

struct TConnection {
    ftdi_context* Context = nullptr;
    std::vector<uint8_t> Arrived; // read from the chip, not yet handed to the link
    size_t Taken = 0;
};

class TLibftdiBackend final : public TUsbBackend {
public:
    const char* Name() const override { return "libftdi1"; }

    std::string LibraryName() const override {
        if (const auto Env = platform::EnvironmentValue("KORVEX_LIBFTDI"); Env && !Env->empty())
            return *Env;
#ifdef _WIN32
        return "libftdi1.dll";
#else
        return "libftdi1.so.2";
#endif
    }

    bool Load(std::string& Error) override {
        const std::string File = LibraryName();
        std::string Why;
        if (!FLibrary.Open(File, Why)) {
            Error = "cannot load " + File + ": " + Why;
            return false;
        }
        bool Complete = true;
        auto Resolve = [&](auto& Entry, const char* Name) {
            Entry =
                reinterpret_cast<std::remove_reference_t<decltype(Entry)>>(FLibrary.Symbol(Name));
            if (!Entry && Complete) {
                Error = File + " has no entry point " + Name;
                Complete = false;
            }
        };
        Resolve(FNew, "ftdi_new");
        Resolve(FFree, "ftdi_free");
        Resolve(FFindAll, "ftdi_usb_find_all");
        Resolve(FListFree, "ftdi_list_free");
        Resolve(FGetStrings, "ftdi_usb_get_strings");
        Resolve(FOpenDev, "ftdi_usb_open_dev");
        Resolve(FClose, "ftdi_usb_close");
        Resolve(FReset, "ftdi_usb_reset");
        Resolve(FSetLatency, "ftdi_set_latency_timer");
        Resolve(FWrite, "ftdi_write_data");
        Resolve(FRead, "ftdi_read_data");
        Resolve(FErrorString, "ftdi_get_error_string");
        // ftdi_tcioflush replaced ftdi_usb_purge_buffers in 1.5; both flush both directions.
        FFlush = reinterpret_cast<Pftdi_tcioflush>(FLibrary.Symbol("ftdi_tcioflush"));
        FFlushName = "ftdi_tcioflush";
        if (!FFlush) {
            FFlush = reinterpret_cast<Pftdi_tcioflush>(FLibrary.Symbol("ftdi_usb_purge_buffers"));
            FFlushName = "ftdi_usb_purge_buffers";
        }
        if (Complete && !FFlush) {
            Error = File + " has no entry point ftdi_tcioflush";
            Complete = false;
        }
        if (!Complete)
            FLibrary.Close();
        return Complete;
    }

    int32_t CountDevices() override {
        // libftdi lists devices of one id at a time; the FTDI ids the library knows by default
        // (vendor and product 0) plus the KORVEX's own.
        return static_cast<int32_t>(Find(0, 0).size() + Find(0x0403, 0xF1A0).size());
    }

    std::vector<TUsbDeviceEntry> List(uint16_t VendorId, uint16_t ProductId) override {
        std::vector<TUsbDeviceEntry> Found;
        ftdi_context* Context = FNew();
        if (!Context)
            return Found;
        ftdi_device_list* Devices = nullptr;
        if (FFindAll(Context, &Devices, VendorId, ProductId) > 0) {
            int32_t Index = 0;
            for (ftdi_device_list* D = Devices; D; D = D->next, ++Index) {
                char Serial[128] = {};
                // Strings that cannot be read (no permission, device gone) leave the serial empty;
                // such a device matches no serial mask.
                FGetStrings(Context, D->dev, nullptr, 0, nullptr, 0, Serial, sizeof Serial);
                Found.push_back({Index, VendorId, ProductId,
                                 std::string(Serial, strnlen(Serial, sizeof Serial))});
            }
        }
        if (Devices)
            FListFree(&Devices);
        FFree(Context);
        return Found;
    }

    // Reading a serial string does not claim the device, so a held one is listed like a free one;
    // only an open tells them apart.
    bool ListingOpensDevices() const override {
        return false;
    }
    bool LastOpenFoundBusy() const override {
        return FOpenBusy;
    }

    int Open(int32_t Index, uint16_t VendorId, uint16_t ProductId, TUsbHandle& Handle) override {
        Handle = nullptr;
        FOpenBusy = false;
        auto C = std::make_unique<TConnection>();
        C->Context = FNew();
        if (!C->Context)
            return Failed("ftdi_new", -1, nullptr);
        ftdi_device_list* Devices = nullptr;
        int Status = FFindAll(C->Context, &Devices, VendorId, ProductId);
        ftdi_device_list* D = Devices;
        for (int32_t I = 0; D && I < Index; ++I)
            D = D->next;
        if (Status < 0)
            Failed("ftdi_usb_find_all", Status, C->Context);
        else if (!D)
            Status = Failed("ftdi_usb_open_dev", -3, nullptr); // gone since it was listed
        else if ((Status = FOpenDev(C->Context, D->dev)) < 0) {
            // -5: the interface could not be claimed: another program (or the kernel's serial
            // driver) has it.
            FOpenBusy = Status == -5;
            Failed("ftdi_usb_open_dev", Status, C->Context);
        }
        if (Devices)
            FListFree(&Devices);
        if (Status < 0) {
            FFree(C->Context);
            return Status;
        }
        Handle = C.release();
        return 0;
    }

    int Reset(TUsbHandle Handle) override {
        return Checked("ftdi_usb_reset", FReset(Of(Handle).Context), Handle);
    }
    int Purge(TUsbHandle Handle) override {
        Of(Handle).Arrived.clear();
        Of(Handle).Taken = 0;
        return Checked(FFlushName, FFlush(Of(Handle).Context), Handle);
    }
    int SetLatencyTimer(TUsbHandle Handle, uint8_t Milliseconds) override {
        return Checked("ftdi_set_latency_timer", FSetLatency(Of(Handle).Context, Milliseconds),
                       Handle);
    }
    int Write(TUsbHandle Handle, const uint8_t* Data, uint32_t Count, uint32_t& Written) override {
        const int N = FWrite(Of(Handle).Context, Data, static_cast<int>(Count));
        Written = N > 0 ? static_cast<uint32_t>(N) : 0;
        return Checked("ftdi_write_data", N, Handle);
    }
    int QueueStatus(TUsbHandle Handle, uint32_t& Waiting) override {
        TConnection& C = Of(Handle);
        if (C.Taken == C.Arrived.size()) {
            C.Arrived.clear();
            C.Taken = 0;
        }
        const size_t Old = C.Arrived.size();
        C.Arrived.resize(Old + ReadChunk);
        const int N = FRead(C.Context, C.Arrived.data() + Old, ReadChunk);
        C.Arrived.resize(Old + (N > 0 ? static_cast<size_t>(N) : 0));
        Waiting = static_cast<uint32_t>(C.Arrived.size() - C.Taken);
        if (N < 0)
            Waiting = 0;
        return Checked("ftdi_read_data", N, Handle);
    }
    int Read(TUsbHandle Handle, uint8_t* Buffer, uint32_t Count, uint32_t& Got) override {
        TConnection& C = Of(Handle);
        if (C.Taken == C.Arrived.size()) {
            // Nothing fetched by QueueStatus: read what the chip has now.
            uint32_t Waiting = 0;
            if (const int S = QueueStatus(Handle, Waiting); S != 0) {
                Got = 0;
                return S;
            }
        }
        Got = static_cast<uint32_t>(std::min<size_t>(Count, C.Arrived.size() - C.Taken));
        std::memcpy(Buffer, C.Arrived.data() + C.Taken, Got);
        C.Taken += Got;
        return 0;
    }
    void Close(TUsbHandle Handle) override {
        std::unique_ptr<TConnection> C(&Of(Handle));
        FClose(C->Context);
        FFree(C->Context);
    }
    std::string LastFailure() const override {
        return FLastFailure;
    }

private:
    bool FOpenBusy = false;
    static TConnection& Of(TUsbHandle Handle) {
        return *static_cast<TConnection*>(Handle);
    }

    std::vector<TUsbDeviceEntry> Find(uint16_t VendorId, uint16_t ProductId) {
        ftdi_context* Context = FNew();
        if (!Context)
            return {};
        ftdi_device_list* Devices = nullptr;
        const int N = FFindAll(Context, &Devices, VendorId, ProductId);
        if (Devices)
            FListFree(&Devices);
        FFree(Context);
        return std::vector<TUsbDeviceEntry>(N > 0 ? static_cast<size_t>(N) : 0);
    }

    // libftdi returns a negative code on failure and a count or 0 on success.
    int Checked(const char* Call, int Status, TUsbHandle Handle) {
        return Status < 0 ? Failed(Call, Status, Of(Handle).Context) : 0;
    }
    int Failed(const char* Call, int Status, ftdi_context* Context) {
        FLastFailure = std::string(Call) + " status " + std::to_string(Status);
        if (const char* Text = Context ? FErrorString(Context) : nullptr; Text && *Text)
            FLastFailure += ", " + std::string(Text);
        return Status;
    }

    TDynamicLibrary FLibrary;
    Pftdi_new FNew = nullptr;
    Pftdi_free FFree = nullptr;
    Pftdi_usb_find_all FFindAll = nullptr;
    Pftdi_list_free FListFree = nullptr;
    Pftdi_usb_get_strings FGetStrings = nullptr;
    Pftdi_usb_open_dev FOpenDev = nullptr;
    Pftdi_usb_close FClose = nullptr;
    Pftdi_usb_reset FReset = nullptr;
    Pftdi_tcioflush FFlush = nullptr;
    const char* FFlushName = "";
    Pftdi_set_latency_timer FSetLatency = nullptr;
    Pftdi_write_data FWrite = nullptr;
    Pftdi_read_data FRead = nullptr;
    Pftdi_get_error_string FErrorString = nullptr;
    std::string FLastFailure;
};

} // namespace

std::unique_ptr<TUsbBackend> MakeLibftdiBackend() {
    return std::make_unique<TLibftdiBackend>();
}
