#include "korvex_link.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <thread>

#include "usbplow.h"

using namespace korvex;
using Clock = std::chrono::steady_clock;

namespace {

// VPP pin state (0 released, 2 low, 3 high) for the "during the run" setting; -1 = keep.
int PinStateForActive(uint8_t Setting) {
    switch (Setting) {
    case 0:
        return 2;
    case 1:
        return 3;
    case 2:
        return 0;
    case 3:
        return 0; // TRST: released until the file drives it
    case 4:
        return 2; // SCK: held low
    default:
        return -1;
    }
}

// The same for the "after the run" setting; 3 keeps what the run left.
int PinStateForInactive(uint8_t Setting) {
    switch (Setting) {
    case 0:
        return 2;
    case 1:
        return 3;
    case 2:
        return 0;
    default:
        return -1;
    }
}

std::string DurationText(std::chrono::milliseconds D) {
    if (D.count() % 1000 == 0)
        return std::to_string(D.count() / 1000) + " s";
    return std::to_string(D.count()) + " ms";
}

} // namespace

TKorvexLink::TKorvexLink(TUsbDriver& Driver) : FDriver(Driver) {}

TKorvexLink::~TKorvexLink() {
    CloseKorvex();
}

bool TKorvexLink::Connected() const {
    return FDeviceHandle != nullptr;
}

int64_t TKorvexLink::DefaultFrequencyFor(uint8_t DefFreq) {
    switch (DefFreq) {
    case 0:
        return 3000000;
    case 1:
        return 1500000;
    default:
        return 750000;
    }
}

std::vector<int32_t> TKorvexLink::ListKorvexSerials() {
    TFTIndexes Serials;
    FDriver.SearchDevices(KorvexVendorId, KorvexProductId, KorvexSerialMask, Serials);
    return Serials;
}

std::vector<TProgrammerEntry> TKorvexLink::ListKorvexDevices() {
    return FDriver.DescribeDevices(KorvexVendorId, KorvexProductId, KorvexSerialMask);
}

std::string TKorvexLink::DescribeAttached(const std::vector<TProgrammerEntry>& Devices) {
    std::string Text;
    int Unknown = 0;
    for (const TProgrammerEntry& D : Devices) {
        if (D.Serial.empty()) {
            ++Unknown;
            continue;
        }
        Text += Text.empty() ? "" : ", ";
        Text += D.Value == -1 ? "\"" + D.Serial + "\" (not hexadecimal)" : FormatSerial(D.Value);
        if (D.InUse)
            Text += " (in use by another program)";
    }
    if (Unknown > 0)
        Text += (Text.empty() ? "" : ", ") +
                (Unknown == 1 ? std::string("one FTDI device")
                              : std::to_string(Unknown) + " FTDI devices") +
                " in use by another program";
    return Text.empty() ? "none" : Text;
}

bool TKorvexLink::FindKorvex() {
    TFTIndexes Serials;
    int32_t Index = -1;
    auto Search = [&](int32_t Filter) {
        FDriver.SearchDevices(KorvexVendorId, KorvexProductId, KorvexSerialMask, Serials, &Index,
                              nullptr, Filter);
    };
    Search(SerialNumber);
    if (Index == -1 || SerialNumber == -1) {
        // The remembered programmer is not attached (or not unique, or none is remembered):
        // the user chooses among those that are.
        SerialNumber = -1;
        Search(-1);
        for (;;) {
            if (Serials.empty()) {
                // A programmer that another program holds is not missing: say which it is, as far
                // as the driver can tell.
                const std::vector<TProgrammerEntry> Held = ListKorvexDevices();
                if (ShowError)
                    ShowError(Held.empty() ? std::string("KORVEX not found")
                                           : "KORVEX in use by another program (attached: " +
                                                 DescribeAttached(Held) + ")");
                return false;
            }
            if (!ChooseKorvex || !ChooseKorvex())
                return false;
            Search(SerialNumber);
            if (Index != -1)
                break;
        }
        // Read the chosen programmer's serial back so the value stored is the device's own.
        const std::string Serial = FDriver.SerialAt(Index, KorvexVendorId, KorvexProductId);
        SerialNumber = SerialValueOf(Serial);
        if (SerialNumber == -1 && ShowError && !Serial.empty())
            ShowError("KORVEX serial number \"" + Serial +
                      "\" is not hexadecimal: this programmer cannot be chosen");
        if (SerialNumber != -1 && SetStatusText)
            SetStatusText("Using KORVEX S/N " + FormatSerial(SerialNumber));
    }
    ClearQueue();
    return SerialNumber != -1;
}

bool TKorvexLink::OpenKorvex() {
    CloseKorvex();
    TFTIndexes Serials;
    int32_t Index = -1;
    FOpenProblem.clear();
    FDriver.SearchDevices(KorvexVendorId, KorvexProductId, KorvexSerialMask, Serials, &Index,
                          nullptr, SerialNumber);
    if (Index == -1) {
        // D2XX cannot tell whose a held device is: it may be this one.
        FOpenProblem = "not attached";
        for (const TProgrammerEntry& D : ListKorvexDevices())
            if (D.InUse && D.Serial.empty())
                FOpenProblem = "in use by another program, or not attached";
        return false;
    }
    TUsbHandle Handle = nullptr;
    if (FDriver.Open(Index, KorvexVendorId, KorvexProductId, Handle) != 0 || !Handle) {
        FOpenProblem =
            FDriver.LastOpenFoundBusy() ? "in use by another program" : FDriver.LastFailure();
        return false;
    }
    FDeviceHandle = Handle;
    FPendingReplies = 0;
    ClearReplies();
    FReplyWaitSince = {};
    FStopRequested.store(false, std::memory_order_relaxed);
    FMissWriteCount = -1;
    FNeededFor = {};
    // Bytes left in the queue by a run that ended early belong to the old connection; sending
    // them ahead of the start byte would feed the new one garbage.
    FQueueLength = 0;
    FDriver.Reset(Handle);
    FDriver.Purge(Handle);
    // Replies must come back at once: the reader waits for them scan by scan. The chip sends what
    // it holds when this timer runs out (16 ms unless told otherwise).
    FDriver.SetLatencyTimer(Handle, 1);
    if (const int P = PinStateForActive(Options().PActive); P >= 0)
        FPinState = static_cast<uint8_t>(P);
    FStartSent = false;
    WriteKorvexByte(CmdStart);
    WriteKorvexByte(CmdSpeed3M);
    WriteKorvexByte(CmdSetup1);
    WriteKorvexByte(CmdSetup2);
    QueuePin(1);
    return true;
}

void TKorvexLink::CloseKorvex() {
    if (FDeviceHandle && !FStartSent && FQueueLength > 0) {
        // A start that failed before anything was flushed: the device obeys a closing sequence
        // only after a start byte, so the queued opening bytes go first.
        try {
            FlushKorvex();
        } catch (const std::exception&) {
            // The device is gone or stuck; without its start byte it gets no closing bytes.
        }
    }
    if (FDeviceHandle && !FStartSent) {
        FDriver.Close(FDeviceHandle);
    } else if (FDeviceHandle) {
        if (const int P = PinStateForInactive(Options().PInactive); P >= 0)
            FPinState = static_cast<uint8_t>(P);
        uint8_t Closing[4] = {CmdEnd, CmdSpeed3M, static_cast<uint8_t>(CmdPin | 0x04 | FPinState),
                              CmdCloseLow};
        uint32_t Written = 0;
        // Best effort: a device that is already gone cannot be told goodbye.
        FDriver.Write(FDeviceHandle, Closing, sizeof Closing, Written);
        FDriver.Close(FDeviceHandle);
    }
    FDeviceHandle = nullptr;
    ClearReplies();
}

void TKorvexLink::ThrowIfNotOpen() const {
    if (!FDeviceHandle)
        throw std::runtime_error("The KORVEX programmer is not open");
}

void TKorvexLink::FlushKorvex() {
    const uint32_t Length = FQueueLength;
    if (Length == 0)
        return;
    // The queue is taken now: whatever happens below, a later byte starts a new queue.
    FQueueLength = 0;
    ThrowIfNotOpen();

    const auto NewReplies = static_cast<uint32_t>(CountReplies(FQueue.data(), Length));

    // The device holds a limited number of reply bytes. Rather than wait for a reader that may
    // be this very thread (a long scan, or a writer far ahead of its reader), move the replies
    // that have arrived into the host-side buffer until this write fits.
    if (FPendingReplies + NewReplies > MaxPendingReplies) {
        auto Since = Clock::now();
        while (FPendingReplies + NewReplies > MaxPendingReplies) {
            if (DrainReplies() > 0) {
                Since = Clock::now();
                continue;
            }
            if (Clock::now() - Since > ReplyTimeout)
                throw std::runtime_error(
                    "The KORVEX programmer stopped sending read-back data: check the USB "
                    "connection and the target's power");
            std::this_thread::yield();
        }
    }

    // A write may take only part of the buffer; the rest follows, never the whole queue again.
    // The clock is read only once a write makes no progress: a run flushes after every
    // statement, and two clock reads around each successful write are a measurable part of a
    // file of short statements.
    uint32_t Done = 0;
    Clock::time_point Stalled{}; // since when writes make no progress; zero while they do
    while (Done < Length) {
        uint32_t Written = 0;
        const int Status =
            FDriver.Write(FDeviceHandle, FQueue.data() + Done, Length - Done, Written);
        if (Status == 0 && Written > 0) {
            Done += std::min<uint32_t>(Written, Length - Done);
            FStartSent = true; // the first byte of every connection is its start byte
            Stalled = {};
            continue;
        }
        const auto Now = Clock::now();
        if (Stalled == Clock::time_point{})
            Stalled = Now;
        else if (Now - Stalled > WriteTimeout)
            throw std::runtime_error("Cannot write to the KORVEX programmer (" +
                                     FDriver.LastFailure() + "): check that it is still connected");
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    FPendingReplies += NewReplies;
    ++FWriteCount;
}

int64_t TKorvexLink::DrainReplies() {
    uint32_t Waiting = 0;
    if (FDriver.QueueStatus(FDeviceHandle, Waiting) != 0)
        throw std::runtime_error("Cannot query the KORVEX programmer (" + FDriver.LastFailure() +
                                 "): check that it is still connected");
    if (Waiting == 0)
        return 0;
    // Drop what has been consumed before growing the buffer (whole bytes of two replies).
    if (FReplyPos > 0 && FReplyPos == FReplyCount)
        ClearReplies();
    else if (FReplyPos >= 131072) {
        const size_t Bytes = FReplyPos / 2;
        FReplies.erase(FReplies.begin(), FReplies.begin() + static_cast<std::ptrdiff_t>(Bytes));
        FReplyPos -= 2 * Bytes;
        FReplyCount -= 2 * Bytes;
    }
    FReadBuffer.resize(std::max<size_t>(FReadBuffer.size(), Waiting));
    uint32_t Read = 0;
    if (FDriver.Read(FDeviceHandle, FReadBuffer.data(), Waiting, Read) != 0)
        throw std::runtime_error("Cannot read from the KORVEX programmer (" +
                                 FDriver.LastFailure() + "): check that it is still connected");
    Read = std::min(Read, Waiting);
    // The low nibble of each reply is all it says (see OnReadCaptured): two to a byte, so the
    // read-back of a long scan takes a byte per eight captured bits.
    FReplies.resize((FReplyCount + Read + 1) / 2);
    const uint8_t* In = FReadBuffer.data();
    const uint8_t* const End = In + Read;
    uint8_t* Out = FReplies.data() + FReplyCount / 2;
    if ((FReplyCount & 1) && In != End) {
        *Out = static_cast<uint8_t>((*Out & 0x0F) | (*In++ & 0x0F) << 4);
        ++Out;
    }
    for (; End - In >= 2; In += 2)
        *Out++ = static_cast<uint8_t>((In[0] & 0x0F) | (In[1] & 0x0F) << 4);
    if (In != End)
        *Out = static_cast<uint8_t>(*In & 0x0F);
    FReplyCount += Read;
    FPendingReplies -= Read;
    return Read;
}

bool TKorvexLink::FetchReplies(int64_t Needed) {
    if (BufferedReplies() >= Needed) {
        FReplyWaitSince = {};
        return true;
    }
    ThrowIfNotOpen();
    if (BufferedReplies() + FPendingReplies < Needed) {
        // The commands that produce them are still queued. A reader copy that trails its writer
        // asks between the writer's statements: while the writer keeps queueing, the queue goes
        // out when it is full, one USB write for many statements. Calls in a row with nothing
        // queued in between mean the writer waits for this read-back or has finished: send it.
        // Several are allowed, as a writer passes statements that queue nothing (sizes, masks,
        // end states) on its way to the next scan.
        if (FMissWriteCount != FWriteCount || FMissQueueLength != FQueueLength) {
            FMissWriteCount = FWriteCount;
            FMissQueueLength = FQueueLength;
            FMissesInARow = 0;
            return false;
        }
        if (++FMissesInARow < StalledReadsBeforeWrite)
            return false;
        FlushKorvex();
        if (BufferedReplies() + FPendingReplies < Needed)
            throw std::runtime_error("Read-back requested for TDO bits that were never captured");
    }
    const int64_t Got = DrainReplies();
    if (BufferedReplies() >= Needed) {
        FReplyWaitSince = {};
        return true;
    }
    const auto Now = Clock::now();
    if (Got > 0 || FReplyWaitSince == Clock::time_point{})
        FReplyWaitSince = Now;
    else if (Now - FReplyWaitSince > ReplyTimeout)
        throw std::runtime_error("No read-back data from the KORVEX programmer for " +
                                 DurationText(ReplyTimeout) +
                                 ": check the USB connection and the target's power");
    return false;
}

void TKorvexLink::OnFlush() {
    FlushKorvex();
}

TJtagEvents TKorvexLink::Events() {
    TJtagEvents E;
    E.OnMessage = [this](const std::string& Text, uint8_t Severity) {
        if (QueueMessage)
            QueueMessage(Text, Severity);
    };
    E.OnShift = [this](const uint8_t* Tdi, const uint8_t* Capture, int64_t Count, bool Exit) {
        ++Requested.Scans;
        Requested.TckCycles += Count;
        OnShift(Tdi, Capture, Count, Exit);
    };
    E.OnReadCaptured = [this](uint8_t* Tdo, const uint8_t* Capture, int64_t Count) {
        return OnReadCaptured(Tdo, Capture, Count);
    };
    E.OnFlush = [this] { OnFlush(); };
    E.OnClockTms = [this](uint8_t Tdi, uint8_t Tms) {
        ++Requested.TckCycles;
        OnClockTms(Tdi, Tms);
    };
    E.OnTmsPath = [this](uint32_t TmsBits, int Count) {
        Requested.TckCycles += Count;
        OnTmsPath(TmsBits, Count);
    };
    E.OnWaitTime = [this](bool Sck, int64_t TimeUs, uint8_t Tms) { OnWaitTime(Sck, TimeUs, Tms); };
    E.OnRunClocks = [this](bool Sck, int64_t Count, uint8_t Tms) {
        Requested.TckCycles += Count;
        OnRunClocks(Sck, Count, Tms);
    };
    E.OnSetTrst = [this](bool On, bool Drive) { return OnSetTrst(On, Drive); };
    E.OnSetFrequency = [this](int64_t Hz, bool Send) { return OnSetFrequency(Hz, Send); };
    return E;
}
