#include "sim_programmer.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>
#include <thread>

#include "native_file.h"

namespace korvexsim {

namespace {

constexpr int64_t TicksPerBitCommand = 3; // half a microsecond
constexpr int64_t TicksPerPause = 1024;   // 512 periods of 3 MHz
constexpr int64_t TicksPerUs = 6;
constexpr int64_t UsbPacket = 64;  // a full-speed bulk packet
constexpr int64_t UsbPayload = 62; // an FTDI IN packet carries two status bytes first

// Ticks Bytes take on the bus at BytesPerSecond (0: no cost).
int64_t TransferTicks(int64_t Bytes, int64_t BytesPerSecond) {
    if (BytesPerSecond <= 0)
        return 0;
    return (Bytes * TicksPerUs * 1000000 + BytesPerSecond - 1) / BytesPerSecond;
}

std::string Hex2(uint8_t B) {
    char Buf[8];
    std::snprintf(Buf, sizeof Buf, "0x%02X", B);
    return Buf;
}

// Bits (bit 0 first) as SVF hex: most significant digit first, bit 0 in the last digit.
std::string SvfHex(const std::vector<uint8_t>& Bits) {
    static const char Digits[] = "0123456789ABCDEF";
    const size_t N = (Bits.size() + 3) / 4;
    std::string S(N, '0');
    for (size_t D = 0; D < N; ++D) {
        unsigned V = 0;
        for (size_t K = 0; K < 4; ++K) {
            const size_t I = D * 4 + K;
            if (I < Bits.size() && Bits[I])
                V |= 1u << K;
        }
        S[N - 1 - D] = Digits[V];
    }
    return S.empty() ? "0" : S;
}

} // namespace

TProgrammer::TProgrammer(const TConfig& Config) : FConfig(Config) {
    if (Config.ChainModel)
        for (const TDeviceConfig& D : Config.Chain)
            FChain.emplace_back(D);
}

TProgrammer::~TProgrammer() {
    if (FTrace)
        std::fclose(FTrace);
}

void TProgrammer::Line(const std::string& Text) {
    FlushPending();
    std::fputs(Text.c_str(), FTrace);
    std::fputc('\n', FTrace);
}

void TProgrammer::FlushPending() {
    if (FPendingClocks) {
        std::fprintf(FTrace, "CLOCKS %lld\n", static_cast<long long>(FPendingClocks));
        FPendingClocks = 0;
    }
    if (FPendingWaitTicks) {
        std::fprintf(FTrace, "WAIT %lld\n", static_cast<long long>((FPendingWaitTicks + 3) / 6));
        FPendingWaitTicks = 0;
    }
}

void TProgrammer::Error(const std::string& Text) {
    ++FTotals.Errors;
    if (Tracing())
        Line("ERROR " + Text);
}

void TProgrammer::Write(const uint8_t* Bytes, size_t Count) {
    // Only connections that carry commands appear in the trace; the searches that open and
    // close every device leave no mark.
    if (FTotals.Writes == 0) {
        if (!FConfig.TracePath.empty())
            FTrace = platform::OpenStream(FConfig.TracePath, "a");
        FRealStart = Clock::now();
    }
    ++FTotals.Writes;
    FTotals.BytesWritten += static_cast<int64_t>(Count);
    if (FConfig.Realtime) {
        if (FInputHead == FInput.size()) {
            FInput.clear();
            FInputHead = 0;
            // An idle device starts on new bytes as they arrive.
            FDeviceEnd = std::max(FDeviceEnd, RealTicks());
        } else if (FInputHead >= 65536) {
            FInput.erase(FInput.begin(), FInput.begin() + static_cast<std::ptrdiff_t>(FInputHead));
            FInputHead = 0;
        }
        FInput.insert(FInput.end(), Bytes, Bytes + Count);
        Advance(false);
        return;
    }
    // The write's transaction is set up, its bytes cross the bus, and the device starts on the
    // first packet once it has finished what came before; it cannot finish before the last
    // packet is in.
    const int64_t Rate = FConfig.UsbBytesPerSecond;
    const int64_t Sent = FHostTicks + FConfig.UsbTransactionUs * TicksPerUs;
    FHostTicks = Sent + TransferTicks(static_cast<int64_t>(Count), Rate);
    const int64_t Start =
        std::max(FDeviceEnd, Sent + TransferTicks(std::min<int64_t>(UsbPacket, Count), Rate));
    const int64_t ExecBefore = FTotals.DeviceTicks;
    const int64_t RepliesBefore = FTotals.ReplyBytes;
    Execute(Bytes, Count);
    FDeviceEnd = std::max(Start + (FTotals.DeviceTicks - ExecBefore), FHostTicks);
    if (FTotals.ReplyBytes != RepliesBefore)
        FReplyTimes.push_back({FTotals.ReplyBytes, Start + (FLastReplyExec - ExecBefore)});
    AddBatch();
}

void TProgrammer::Execute(const uint8_t* Bytes, size_t Count) {
    // Benchmark path: without chain, trace or script, a run of group shifts that leaves the TAP
    // where it is only needs counting (and constant replies).
    const bool Countable = !FConfig.ChainModel && !Tracing() && !FConfig.HasScript;
    size_t I = 0;
    while (I < Count) {
        const uint8_t B = Bytes[I];
        if (Countable && FStarted) {
            if (B < 0x80 && GroupShiftsCountable(FTck, FTdoPin, FState, FTms)) {
                I = CountGroupShifts(Bytes, I, Count);
                continue;
            }
            if ((B & 0xE0) == 0xC0 || (B >= 0xE8 && !FConfig.VppTrst)) {
                I = CountBitCommands(Bytes, I, Count);
                continue;
            }
        }
        Command(Bytes[I++]);
    }
    if (FLostReplies) {
        Error("reply overflow: the device's buffer of " + std::to_string(FConfig.ReplyBuffer) +
              " reply bytes is full, " + std::to_string(FLostReplies) + " lost");
        FLostReplies = 0;
    }
}

void TProgrammer::AddBatch() {
    // The clock is read only when replies are delayed by time: a run of short statements
    // writes a batch per statement.
    const Clock::time_point VisibleAt =
        FConfig.ReplyDelayMs > 0 ? Clock::now() + std::chrono::milliseconds(FConfig.ReplyDelayMs)
                                 : Clock::time_point{};
    FBatches.push_back({FReplies.size(), FPolls + FConfig.ReplyDelayPolls, VisibleAt});
}

int64_t TProgrammer::RealTicks() const {
    const auto Ns =
        std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - FRealStart).count();
    return Ns * TicksPerUs / 1000;
}

void TProgrammer::Advance(bool All) {
    if (FInputHead == FInput.size())
        return;
    const int64_t Now = All ? std::numeric_limits<int64_t>::max() : RealTicks();
    const int64_t RepliesBefore = FTotals.ReplyBytes;
    // A command starts once the device clock has reached it and is carried out at once; the
    // next one starts when its time has passed.
    while (FInputHead < FInput.size() && FDeviceEnd <= Now) {
        const int64_t Before = FTotals.DeviceTicks;
        Execute(FInput.data() + FInputHead, 1);
        ++FInputHead;
        FDeviceEnd += FTotals.DeviceTicks - Before;
    }
    if (FTotals.ReplyBytes != RepliesBefore)
        AddBatch();
}

size_t TProgrammer::InputRoom(size_t Count) {
    if (!FConfig.Realtime)
        return Count;
    // USB moves 64-byte packets: the device takes the next one once it has room for it.
    const size_t Capacity = static_cast<size_t>(FConfig.InputBuffer);
    const size_t Want = std::min<size_t>({Count, Capacity, static_cast<size_t>(UsbPacket)});
    for (int Try = 0;; ++Try) {
        Advance(false);
        const size_t Held = FInput.size() - FInputHead;
        const size_t Room = Held >= Capacity ? 0 : Capacity - Held;
        if (Room >= Want || Try == 8)
            return std::min(Count, Room);
        // Room comes as commands start; a short sleep bounds the wait for a long command.
        std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
}

size_t TProgrammer::PollAvailable() {
    ++FPolls;
    if (FConfig.Realtime)
        Advance(false);
    // Without a time delay every batch is visible at the epoch already.
    const auto Now = FConfig.ReplyDelayMs > 0 ? Clock::now() : Clock::time_point{};
    size_t Done = 0;
    for (; Done < FBatches.size(); ++Done) {
        const TBatch& B = FBatches[Done];
        if (B.VisibleAtPoll > FPolls || B.VisibleAt > Now)
            break;
        FVisibleEnd = B.End;
    }
    FBatches.erase(FBatches.begin(), FBatches.begin() + static_cast<std::ptrdiff_t>(Done));
    return FVisibleEnd - FReplyRead;
}

size_t TProgrammer::Read(uint8_t* Buffer, size_t Count) {
    const size_t N = std::min(Count, FVisibleEnd - FReplyRead);
    std::memcpy(Buffer, FReplies.data() + FReplyRead, N);
    FReplyRead += N;
    if (N > 0)
        TakeReplies(static_cast<int64_t>(N));
    if (FReplyRead == FReplies.size() && FBatches.empty()) {
        FReplies.clear();
        FReplyRead = FVisibleEnd = 0;
    } else if (FReplyRead >= (1u << 20)) {
        // Delayed batches keep the buffer from ever running empty: drop what was read.
        FReplies.erase(FReplies.begin(),
                       FReplies.begin() + static_cast<std::ptrdiff_t>(FReplyRead));
        for (TBatch& B : FBatches)
            B.End -= FReplyRead;
        FVisibleEnd -= FReplyRead;
        FReplyRead = 0;
    }
    return N;
}

void TProgrammer::TakeReplies(int64_t N) {
    ++FTotals.Reads;
    FRepliesTaken += N;
    // When the last of them was made: their entries are done with, and the entry the read ends
    // in (if it ends inside one) is when the device had made it whole, an upper bound.
    int64_t Ready = 0;
    while (!FReplyTimes.empty() && FReplyTimes.front().End <= FRepliesTaken) {
        Ready = std::max(Ready, FReplyTimes.front().Ready);
        FReplyTimesBase = FReplyTimes.front().End;
        FReplyTimes.pop_front();
    }
    if (!FReplyTimes.empty() && FRepliesTaken > FReplyTimesBase)
        Ready = std::max(Ready, FReplyTimes.front().Ready);
    if (FConfig.Realtime)
        return;
    // The reply packets cross the bus at its rate; after the last byte was made, its packet
    // still waits for the latency timer when it is short, then for its transaction.
    const int64_t Rate = FConfig.UsbBytesPerSecond;
    const int64_t Packets = (N + UsbPayload - 1) / UsbPayload;
    const int64_t Tx = FConfig.UsbTransactionUs * TicksPerUs;
    const int64_t LastPacket = TransferTicks(N - (Packets - 1) * UsbPayload + 2, Rate);
    const int64_t Latency = N % UsbPayload != 0 ? FConfig.UsbLatencyUs * TicksPerUs : 0;
    FHostTicks = std::max(FHostTicks + Tx + TransferTicks(N + 2 * Packets, Rate),
                          Ready + Latency + Tx + LastPacket);
}

void TProgrammer::PurgeReplies() {
    FRepliesTaken = FTotals.ReplyBytes;
    FReplyTimes.clear();
    FReplyTimesBase = FRepliesTaken;
    FReplies.clear();
    FBatches.clear();
    FReplyRead = FVisibleEnd = 0;
}

void TProgrammer::Reply(uint8_t B) {
    if (static_cast<int64_t>(FReplies.size() - FReplyRead) >= FConfig.ReplyBuffer) {
        ++FLostReplies;
        return;
    }
    FReplies.push_back(B);
    ++FTotals.ReplyBytes;
    FLastReplyExec = FTotals.DeviceTicks;
}

uint8_t TProgrammer::ChainOutput() const {
    if (FScripted && FInShift) {
        return FShiftBits < static_cast<int64_t>(FScripted->Bits.size())
                   ? FScripted->Bits[static_cast<size_t>(FShiftBits)]
                   : 0;
    }
    if (!FConfig.ChainModel)
        return FConfig.TdoConstant;
    return FChain.empty() ? FTdi : FChain.back().Output();
}

void TProgrammer::Fall() {
    // Devices change TDO on the falling edge; the programmer samples it before the next rise.
    FTdoPin = ChainOutput();
}

void TProgrammer::Rise() {
    ++FTotals.TckCycles;
    const TState Prev = FState;
    const TState Next = NextState[Prev][FTms];
    if (IsShift(Prev)) {
        if (Tracing()) {
            FShiftTdi.push_back(FTdi);
            FShiftTdo.push_back(FTdoPin);
        }
        ++FShiftBits;
    }
    uint8_t Carry = FTdi;
    for (TChainDevice& D : FChain) {
        const uint8_t Out = D.Output();
        D.Rise(FTms, Carry);
        Carry = Out;
    }
    FState = Next;
    if (Prev == Next) {
        if (IsStable(Prev) && Tracing()) {
            if (FPendingWaitTicks)
                FlushPending();
            ++FPendingClocks;
        }
        return;
    }
    if (IsShift(Prev))
        EndShiftVisit();
    if (IsShift(Next)) {
        FInShift = true;
        FShiftBits = 0;
        FShiftTdi.clear();
        FShiftTdo.clear();
        FScripted = nullptr;
        if (FConfig.HasScript) {
            if (FScriptNext < FConfig.Script.size()) {
                FScripted = &FConfig.Script[FScriptNext++];
                if (FScripted->Ir != (Next == IRSHIFT))
                    Error(std::string("TDO script expects an ") + (FScripted->Ir ? "IR" : "DR") +
                          " scan here, the host shifts " + (Next == IRSHIFT ? "IR" : "DR"));
            } else {
                Error("TDO script has no entry for this scan");
            }
        }
    }
    if (Tracing() && IsStable(Next))
        Line(std::string("STATE ") + StateName(Next));
}

void TProgrammer::EndShiftVisit() {
    if (Tracing())
        Line(std::string("SHIFT ") + (FState == DREXIT1 ? "DR " : "IR ") +
             std::to_string(FShiftBits) + " TDI " + SvfHex(FShiftTdi) + " TDO " +
             SvfHex(FShiftTdo));
    if (FScripted && FScripted->Length != FShiftBits)
        Error("TDO script gives " + std::to_string(FScripted->Length) + " bits, the scan has " +
              std::to_string(FShiftBits));
    FInShift = false;
    FScripted = nullptr;
}

void TProgrammer::SetTck(uint8_t Level) {
    if (Level == FTck)
        return;
    FTck = Level;
    if (Level)
        Rise();
    else
        Fall();
}

void TProgrammer::SpeedSelect(int64_t Hz, int64_t TicksPerClock) {
    FTicksPerClock = TicksPerClock;
    if (Hz != FSpeedHz && Tracing())
        Line("FREQ " + std::to_string(Hz));
    FSpeedHz = Hz;
}

size_t TProgrammer::CountGroupShifts(const uint8_t* Bytes, size_t From, size_t Count) {
    const uint8_t Level = FConfig.TdoConstant;
    // The run is measured first, so the reply buffer grows by what the run answers and no more:
    // growing it by the whole write and cutting it back cleared kilobytes per statement.
    // The end of the run first, then the sums over it: loops without an early exit, which the
    // compiler vectorises.
    // Eight bytes at a time while all eight are group shifts: the clocks (bits 4-5, plus one)
    // and the replies (bit 6) of all eight added up by one multiplication each.
    size_t I = From;
    int64_t Clocks = 0;
    size_t Replies = 0;
    constexpr uint64_t Ones = 0x0101010101010101ull;
    for (uint64_t W; I + 8 <= Count; I += 8) {
        std::memcpy(&W, Bytes + I, 8);
        if (W & (Ones << 7))
            break;
        Clocks += 8 + static_cast<int64_t>((((W >> 4) & (3 * Ones)) * Ones) >> 56);
        Replies += static_cast<size_t>((((W >> 6) & Ones) * Ones) >> 56);
    }
    {
        // The word where the run ends is counted with the same sums, the bytes from the first
        // other command on masked off: no loop over single bytes.
        uint64_t W = ~uint64_t{0}; // bytes beyond the write read as other commands
        std::memcpy(&W, Bytes + I, std::min<size_t>(Count - I, 8));
        if constexpr (std::endian::native == std::endian::big)
            W = __builtin_bswap64(W); // the first byte in the lowest bits, as below
        const uint64_t Stop = W & (Ones << 7);
        const size_t Groups = Stop ? static_cast<size_t>(__builtin_ctzll(Stop)) / 8 : 8;
        const uint64_t G = Groups == 8 ? W : W & ((uint64_t{1} << (8 * Groups)) - 1);
        Clocks += static_cast<int64_t>(Groups) +
                  static_cast<int64_t>((((G >> 4) & (3 * Ones)) * Ones) >> 56);
        Replies += static_cast<size_t>((((G >> 6) & Ones) * Ones) >> 56);
        I += Groups;
    }
    if (Replies != 0) {
        // Every byte's reply is written and only those that answer are kept: no branch on the
        // read-back flag, which varies from byte to byte. One spare byte takes the last write.
        // A group shift of N clocks answers N TDO bits, all at the constant level.
        const uint8_t Answer[4] = {
            static_cast<uint8_t>(Level ? 0x1 : 0), static_cast<uint8_t>(Level ? 0x3 : 0),
            static_cast<uint8_t>(Level ? 0x7 : 0), static_cast<uint8_t>(Level ? 0xF : 0)};
        const size_t Base = FReplies.size();
        FReplies.resize(Base + Replies + 1);
        uint8_t* Out = FReplies.data() + Base;
        for (size_t J = From; J < I; ++J) {
            const uint8_t B = Bytes[J];
            *Out = Answer[(B >> 4) & 3];
            Out += (B >> 6) & 1;
        }
        FReplies.pop_back();
    }
    const int64_t Unread = static_cast<int64_t>(FReplies.size() - FReplyRead);
    if (Unread > FConfig.ReplyBuffer) {
        const int64_t Lost = std::min<int64_t>(Unread - FConfig.ReplyBuffer, Replies);
        FReplies.resize(FReplies.size() - static_cast<size_t>(Lost));
        Replies -= static_cast<size_t>(Lost);
        FLostReplies += Lost;
    }
    FTotals.ReplyBytes += static_cast<int64_t>(Replies);
    const uint8_t Last = Bytes[I - 1];
    FTdi = (Last >> ((Last >> 4) & 3)) & 1;
    FTdoPin = Level;
    FTck = 1; // every group shift ends on a rising edge
    FTotals.TckCycles += Clocks;
    FTotals.DeviceTicks += FTicksPerClock * Clocks;
    if (Replies)
        FLastReplyExec = FTotals.DeviceTicks;
    return I;
}

size_t TProgrammer::CountBitCommands(const uint8_t* Bytes, size_t I, size_t Count) {
    // The pin state lives in locals for the run: stores through the members would be reloaded
    // after every byte, as the command bytes might alias them.
    uint8_t Tck = FTck, Tms = FTms, Tdi = FTdi, Tdo = FTdoPin;
    TState State = FState;
    int Pin = FPinState;
    int64_t Ticks = FTotals.DeviceTicks, Cycles = FTotals.TckCycles;
    const uint8_t Constant = FConfig.TdoConstant;
    const bool PinCommands = !FConfig.VppTrst;
    while (I < Count) {
        const uint8_t B = Bytes[I];
        if (B < 0x80) {
            // The group shifts of a scan between its edges, in the same run: the counters go
            // through the members and back.
            if (!GroupShiftsCountable(Tck, Tdo, State, Tms))
                break;
            FTotals.DeviceTicks = Ticks;
            FTotals.TckCycles = Cycles;
            I = CountGroupShifts(Bytes, I, Count);
            Ticks = FTotals.DeviceTicks;
            Cycles = FTotals.TckCycles;
            Tdi = FTdi;
            Tdo = FTdoPin;
            Tck = 1;
            continue;
        }
        if (B >= 0xE8 && PinCommands) {
            // Clocks of a TAP walk as the host sends them: the pin command with TMS, then TCK
            // low, high and low with one TDI level. Taken four bytes at a time: the same edges
            // as the bytes one at a time (no reply, TDO driven anew on the falling edges).
            const size_t First = I;
            for (uint32_t W; I + 4 <= Count; I += 4) {
                std::memcpy(&W, Bytes + I, 4);
                if constexpr (std::endian::native == std::endian::big)
                    W = __builtin_bswap32(W);
                const uint32_t D = (W >> 8) & 1;
                if ((W & 0xFF) < 0xE8 || (W >> 8) != (0xCACECAu | D * 0x010101u))
                    break;
                Tms = (W >> 2) & 1;
                Pin = W & 3;
                Tdi = static_cast<uint8_t>(D);
                State = NextState[State][Tms];
            }
            if (I != First) {
                const auto Clocks = static_cast<int64_t>((I - First) / 4);
                Ticks += 4 * TicksPerBitCommand * Clocks;
                Cycles += Clocks;
                Tdo = Constant;
                Tck = 0;
                continue;
            }
        }
        if ((B & 0xE0) == 0xC0) {
            ++I;
            Ticks += TicksPerBitCommand;
            Tdi = B & 1;
            // TDO is sampled while TCK is still at its old level, then the edge (if any) happens.
            const uint8_t Sampled = Tdo;
            const uint8_t Level = (B >> 2) & 1;
            if (Level != Tck) {
                Tck = Level;
                if (Level) {
                    ++Cycles;
                    State = NextState[State][Tms];
                } else
                    Tdo = Constant;
            }
            if (B & 0x10) {
                FTotals.DeviceTicks = Ticks;
                Reply(static_cast<uint8_t>(Sampled << 3));
            }
        } else if (B >= 0xE8 && PinCommands) {
            ++I;
            Ticks += TicksPerBitCommand;
            Tms = (B >> 2) & 1;
            Pin = B & 3;
        } else
            break; // not a bit or pin command: the caller takes it
    }
    FTck = Tck;
    FTms = Tms;
    FTdi = Tdi;
    FTdoPin = Tdo;
    FState = State;
    FPinState = Pin;
    FTotals.DeviceTicks = Ticks;
    FTotals.TckCycles = Cycles;
    return I;
}

void TProgrammer::GroupShift(uint8_t B) {
    const unsigned Clocks = ((B >> 4) & 3) + 1;
    const bool ReadBack = (B & 0x40) != 0;
    FTotals.DeviceTicks += FTicksPerClock * Clocks;
    uint8_t Sampled = 0;
    for (unsigned K = 0; K < Clocks; ++K) {
        SetTck(0);
        FTdi = (B >> K) & 1;
        Sampled |= static_cast<uint8_t>(FTdoPin << K);
        SetTck(1);
    }
    if (ReadBack)
        Reply(Sampled);
}

void TProgrammer::Command(uint8_t B) {
    if (!FStarted && B != 0xA7) {
        Error("command " + Hex2(B) + " before the connection start byte 0xA7");
        FStarted = true; // report once
    }
    if (B < 0x80) {
        GroupShift(B);
        return;
    }
    switch (B >> 4) {
    case 0x8:
        if (B != 0x80) {
            Error("unknown command byte " + Hex2(B));
            return;
        }
        FTotals.DeviceTicks += TicksPerPause;
        if (Tracing()) {
            if (FPendingClocks)
                FlushPending();
            FPendingWaitTicks += TicksPerPause;
        }
        return;
    case 0xA:
        switch (B) {
        case 0xA3:
            return;
        case 0xA7:
            FStarted = true;
            return;
        case 0xA8:
            SpeedSelect(3000000, 2);
            return;
        case 0xA9:
            SpeedSelect(1500000, 4);
            return;
        case 0xAA:
            SpeedSelect(750000, 8);
            return;
        case 0xAB:
            SpeedSelect(93750, 64);
            return;
        default:
            break;
        }
        break;
    case 0xB:
        if (B == 0xB0 || B == 0xB8)
            return;
        break;
    case 0xC:
    case 0xD: {
        FTotals.DeviceTicks += TicksPerBitCommand;
        FTdi = B & 1;
        // TDO is sampled while TCK is still at its old level, then the edge (if any) happens.
        const uint8_t Sampled = FTdoPin;
        SetTck((B >> 2) & 1);
        if (B & 0x10)
            Reply(static_cast<uint8_t>(Sampled << 3));
        return;
    }
    case 0xE:
        if (B >= 0xE8) {
            FTotals.DeviceTicks += TicksPerBitCommand;
            FTms = (B >> 2) & 1;
            const int Pin = B & 3;
            if (Pin != FPinState && Tracing())
                Line("VPP " + std::to_string(Pin));
            FPinState = Pin;
            // TRST resets every TAP of the chain asynchronously, without a clock.
            if (FConfig.VppTrst && Pin == 3) {
                for (TChainDevice& D : FChain)
                    D.Reset();
                if (FState != RESET && Tracing())
                    Line("STATE RESET");
                FState = RESET;
            }
            return;
        }
        break;
    default:
        break;
    }
    Error("unknown command byte " + Hex2(B));
    // The never-sent bytes of these rows still answer, so the host's reply count stays right.
    if ((B >> 4) == 0x9 || (B >> 4) == 0xF)
        Reply(0);
}

void TProgrammer::Finish() {
    // What the device still holds is carried out after the host let go of it.
    Advance(true);
    FTotals.TotalTicks = FConfig.Realtime ? FDeviceEnd : std::max(FDeviceEnd, FHostTicks);
    if (Tracing()) {
        FlushPending();
        std::fprintf(
            FTrace,
            "TOTAL TCK %lld BYTES %lld WRITES %lld REPLIES %lld US %lld READS %lld "
            "EXEC_US %lld\n",
            static_cast<long long>(FTotals.TckCycles), static_cast<long long>(FTotals.BytesWritten),
            static_cast<long long>(FTotals.Writes), static_cast<long long>(FTotals.ReplyBytes),
            static_cast<long long>(FTotals.DeviceMicroseconds()),
            static_cast<long long>(FTotals.Reads),
            static_cast<long long>(TTotals::Microseconds(FTotals.DeviceTicks)));
        std::fclose(FTrace);
        FTrace = nullptr;
    }
    if (!FConfig.SummaryPath.empty() && FTotals.Writes > 0) {
        if (FILE* S = platform::OpenStream(FConfig.SummaryPath, "w")) {
            std::fprintf(
                S,
                "tck_cycles %lld\nbytes_written %lld\nwrites %lld\nreply_bytes %lld\n"
                "device_us %lld\nerrors %lld\nreads %lld\nexec_us %lld\n",
                static_cast<long long>(FTotals.TckCycles),
                static_cast<long long>(FTotals.BytesWritten),
                static_cast<long long>(FTotals.Writes), static_cast<long long>(FTotals.ReplyBytes),
                static_cast<long long>(FTotals.DeviceMicroseconds()),
                static_cast<long long>(FTotals.Errors), static_cast<long long>(FTotals.Reads),
                static_cast<long long>(TTotals::Microseconds(FTotals.DeviceTicks)));
            std::fclose(S);
        }
    }
}

} // namespace korvexsim
