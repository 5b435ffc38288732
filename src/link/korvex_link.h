#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "jtag_events.h"
#include "korvex_commands.h"
#include "run_options.h"
#include "usb_backend.h"

class TUsbDriver; // usbplow.h: the loaded USB driver library

// The programmer link: connection state, option fields and the handlers of the player events
// (all but OnMessage) on the KORVEX command protocol. GUI-free; the main window and the headless
// player each own one.
class TKorvexLink {
public:
    explicit TKorvexLink(TUsbDriver& Driver);
    ~TKorvexLink(); // closes a connection still open
    TKorvexLink(const TKorvexLink&) = delete;
    TKorvexLink& operator=(const TKorvexLink&) = delete;

    // The run's options. Changed on the UI thread while the handlers run on the worker thread:
    // each handler works with one copy taken under the lock, so it never sees half a change.
    TRunOptions Options() const {
        std::lock_guard<std::mutex> Lock(FOptionsLock);
        return FOptions;
    }
    void SetOptions(const TRunOptions& Options) {
        std::lock_guard<std::mutex> Lock(FOptionsLock);
        FOptions = Options;
    }
    // Changes some fields in one step: UpdateOptions([](TRunOptions& O) { O.RTwTime = 0; }).
    template <class TChange> void UpdateOptions(TChange&& Change) {
        std::lock_guard<std::mutex> Lock(FOptionsLock);
        Change(FOptions);
    }

    // The programmer to use: serial value in the low 24 bits (0xA6 in the top byte when chosen in
    // the selection dialog), -1 for none.
    int32_t SerialNumber = -1;
    // TCK frequency in effect (Hz); the controller sets it from DefFreq before Start.
    int64_t Frequency = 0;

    // --- Discovery (the dialog parts are callbacks the front end fills) -------------------------
    // Shows the selection among attached programmers; returns true on OK and sets SerialNumber.
    std::function<bool()> ChooseKorvex;
    // An error box ("KORVEX not found").
    std::function<void(const std::string&)> ShowError;
    // The status bar text ("Using KORVEX S/N 012345").
    std::function<void(const std::string&)> SetStatusText;
    // Makes sure exactly one attached programmer is chosen; true when one is. Empties the command
    // queue for the new run.
    bool FindKorvex();
    // Serial values of all attached KORVEX programmers, in the driver's order.
    std::vector<int32_t> ListKorvexSerials();
    // The attached programmers as the user is shown them: with the ones held by another program
    // and the ones whose serial is not hexadecimal.
    std::vector<TProgrammerEntry> ListKorvexDevices();
    // "012345", "012346 (in use by another program)", "\"A6XY1234\" (not hexadecimal)", "one FTDI
    // device in use by another program": the listing above as one line for a message.
    static std::string DescribeAttached(const std::vector<TProgrammerEntry>& Devices);
    // Why the last OpenKorvex failed ("in use by another program"), empty when it did not.
    const std::string& OpenProblem() const { return FOpenProblem; }

    // --- Connection ---------------------------------------------------------------------------
    bool OpenKorvex();  // closes any open connection first; false when it cannot be opened
    void CloseKorvex(); // VPP to its after-run state, closing bytes, device closed
    bool Connected() const;

    // --- Event handlers (worker thread) ---------------------------------------------------------
    void OnShift(const uint8_t* Tdi, const uint8_t* Capture, int64_t Count, bool Exit);
    bool OnReadCaptured(uint8_t* Tdo, const uint8_t* Capture, int64_t Count);
    void OnFlush();
    void OnClockTms(uint8_t Tdi, uint8_t Tms);
    void OnTmsPath(uint32_t TmsBits, int Count);
    int64_t OnSetFrequency(int64_t FrequencyHz, bool Send);
    void OnWaitTime(bool Sck, int64_t TimeUs, uint8_t Tms);
    void OnRunClocks(bool Sck, int64_t Count, uint8_t Tms);
    bool OnSetTrst(bool On, bool Drive);

    // Asks a wait or clock run in progress to stop: what is left of it is not queued, so the
    // player reaches its own stop check at once instead of after hours of queued clocks. Safe
    // from any thread; OpenKorvex clears it for the next run.
    void RequestStop() noexcept { FStopRequested.store(true, std::memory_order_relaxed); }
    bool StopRequested() const noexcept { return FStopRequested.load(std::memory_order_relaxed); }

    // Where the TRST warning goes (the message queue's QueueMessage).
    TMessageEvent QueueMessage;

    // The events bound to this link's handlers, OnMessage bound to QueueMessage. They count what
    // a player asks of the programmer: the scans, and the TCK clocks of scans, walks and runs
    // (also those a run turns into a wait). Written on the player's worker thread; read them
    // after it has ended, clear them before the next run.
    TJtagEvents Events();
    struct TRequested {
        int64_t Scans = 0;
        int64_t TckCycles = 0;
    } Requested;

    // The frequency DefFreq selects: 0 = 3 MHz, 1 = 1.5 MHz, anything else 750 kHz.
    static int64_t DefaultFrequencyFor(uint8_t DefFreq);

    // Scans of up to this many bits take the short path of OnShift (when the queue has room for
    // it), which writes at most ShortScanBytes bytes.
    static constexpr int64_t ShortScanBits = 57;
    static constexpr uint32_t ShortScanBytes = 24;

    // --- Command queue ----------------------------------------------------------------------
    // Appends one command byte; the queue is written as soon as it holds QueueSize bytes.
    void WriteKorvexByte(uint8_t B) {
        FQueue[FQueueLength++] = B;
        if (FQueueLength >= korvex::QueueSize)
            FlushKorvex();
    }
    // Writes the queue to the device (the handler of OnFlush). Throws std::runtime_error when the
    // device stops accepting data or stops answering.
    void FlushKorvex();
    // Bytes queued and not yet written (for tests and diagnostics).
    uint32_t QueueLength() const { return FQueueLength; }
    const uint8_t* QueueData() const { return FQueue.data(); }
    // Empties the command queue without sending it (discovery does this before every run).
    void ClearQueue() { FQueueLength = 0; }

    // --- Connection state, readable for diagnostics and tests --------------------------------
    int64_t PendingReplies() const { return FPendingReplies; }
    int64_t BufferedReplies() const { return static_cast<int64_t>(FReplyCount - FReplyPos); }
    int64_t RequestedFrequency() const { return FRequestedFrequency; }
    int64_t Divider() const { return FDivider; }
    uint8_t PinState() const { return FPinState; }

    // How long a write may make no progress, and how long pending replies may stay away, before
    // the run is failed (the device was unplugged or hangs). Tests shorten them.
    std::chrono::milliseconds WriteTimeout{5000};
    std::chrono::milliseconds ReplyTimeout{5000};

private:
    std::string FOpenProblem;
    // Replies a scan of Count bits with these capture flags produces (grouped as OnShift does).
    int64_t CountScanReplies(const uint8_t* Capture, int64_t Count) const;
    // Makes sure Needed replies are in the host-side reply buffer; false when they have not all
    // arrived yet. Throws when they cannot come or stay away too long.
    bool FetchReplies(int64_t Needed);
    // The first Count replies of the host-side buffer have been used.
    void ConsumeReplies(int64_t Count);
    // Moves whatever replies the device holds into the host-side buffer; returns the count moved.
    int64_t DrainReplies();
    void ThrowIfNotOpen() const;

    // Pin command with the given TMS level; remembers the level for OnSetTrst.
    void QueuePin(uint8_t Tms) {
        FLastTms = Tms ? 1 : 0;
        WriteKorvexByte(static_cast<uint8_t>(korvex::CmdPin | (FLastTms << 2) | FPinState));
    }
    // N clocks at the current speed with TDI low (group shifts in fast mode).
    void QueueClockRun(int64_t N, bool ForceFast);
    void QueueSpeedOf(int64_t Hz);
    // Queues Count copies of one command byte a queue at a time; stops early (false) once a
    // stop is requested.
    bool QueueRepeated(uint8_t Command, int64_t Count);

    TUsbDriver& FDriver;
    mutable std::mutex FOptionsLock;
    TRunOptions FOptions;
    TUsbHandle FDeviceHandle = nullptr;
    std::array<uint8_t, korvex::QueueSize> FQueue{};
    uint32_t FQueueLength = 0;
    int64_t FPendingReplies = 0;
    // Replies read from the device ahead of their OnReadCaptured (while a flush had to wait for
    // the device's reply buffer), consumed first: FReplyCount replies as their low nibbles, two
    // to a byte (reply k in byte k / 2, the high nibble for odd k), FReplyPos of them consumed.
    std::vector<uint8_t> FReplies;
    size_t FReplyCount = 0;
    size_t FReplyPos = 0;
    std::vector<uint8_t> FReadBuffer; // one driver read, before packing
    void ClearReplies() {
        FReplies.clear();
        FReplyCount = 0;
        FReplyPos = 0;
    }
    // When the current wait for replies began to see no progress (zero when not waiting).
    std::chrono::steady_clock::time_point FReplyWaitSince{};
    int64_t FRequestedFrequency = 0;
    int64_t FDivider = 0;
    uint8_t FPinState = 0;
    uint8_t FLastTms = 1;
    std::atomic<bool> FStopRequested{false};
    // Writes made, and the queue length and write count at the last read-back that found its
    // replies still queued; after StalledReadsBeforeWrite more such calls with nothing queued in
    // between, the queue is sent.
    static constexpr int StalledReadsBeforeWrite = 16;
    int64_t FWriteCount = 0;
    int64_t FMissWriteCount = -1;
    uint32_t FMissQueueLength = 0;
    int FMissesInARow = 0;
    // The connection's start byte has reached the device: closing bytes may follow.
    bool FStartSent = false;
    // The scan whose read-back is awaited and the replies it needs (Capture null: none).
    struct TNeeded {
        const uint8_t* Capture = nullptr;
        int64_t Count = 0;
        int64_t Divider = 0;
        int64_t Replies = 0;
    } FNeededFor;
};
