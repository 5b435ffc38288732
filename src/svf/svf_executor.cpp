// The SVF executor: parsed commands become TAP walks, shifts, waits and clock runs through the
// events, and the captured TDO of every scan is compared under its mask.

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstring>
#include <stdexcept>

#include "bit_pack.h"
#include "svf_file.h"
#include "svf_hex.h"
#include "tap_state.h"

namespace {

// The waiting time as "Waiting " shows it: rounded to one decimal, but to no more than three
// significant digits, always in fixed notation with one decimal (2.5, 12.3, 123.0, 4320.0).
// Integer arithmetic on the microseconds, so no locale and no binary fraction gets in the way.
std::string WaitingSeconds(int64_t Us) {
    int Digits = 0;
    for (int64_t V = Us; V > 0; V /= 10)
        ++Digits;
    int64_t Unit = 100000; // a tenth of a second
    for (int D = 8; D < Digits; ++D)
        Unit *= 10;
    const int64_t Rounded = (Us + Unit / 2) / Unit * Unit;
    return std::to_string(Rounded / 1000000) + "." + std::to_string(Rounded / 100000 % 10);
}

} // namespace

int64_t TSVFFile::CheckedScanLength(bool Dr) {
    const int64_t N = ScanLength(Dr);
    // Each length passed the parser's limit; header, scan and trailer together must as well.
    if (N > MaxScanBits)
        RaiseLineError("Scan of " + std::to_string(N) + " bits with header and trailer is longer " +
                       "than " + std::to_string(MaxScanBits) + " bits");
    return N;
}

namespace {

// Zeros for the capture flags of a slice that compares nothing. Never written, so its pages stay
// the system's shared zero page and take no memory of their own.
uint8_t NoCapture[TSVFFile::SliceBits / 8];

// Bytes First .. First+Count-1 of a value when it holds them all, otherwise null.
const uint8_t* HeldBytes(const TVarLen& Value, int64_t First, int64_t Count) {
    return First + Count <= Value.StoredBytes() ? Value.Data() + First : nullptr;
}

} // namespace

void TSVFFile::ComposeSlice(bool Dr, int64_t From, int64_t Count, bool WithTdi) {
    FSliceTdi = FTdi.data();
    FSliceCapture = FCapture.data();
    if (Count <= 0)
        return; // a scan of no bits: nothing to compose, and the arrays may have no storage
    const auto Bytes = static_cast<size_t>(TVarLen::BytesFor(Count));
    // A slice that lies in one part and starts on a byte of it is that part's own bytes when the
    // value holds them: handed on as they are, nothing copied. A bitstream's scan is such a
    // slice, and so is a short scan without header and trailer.
    int64_t PartStart = 0;
    for (const TScanData* P : ScanParts(Dr)) {
        const int64_t Len = P->Tdi.BitLength();
        if (From >= PartStart && From + Count <= PartStart + Len) {
            if (((From - PartStart) & 7) == 0) {
                const int64_t First = (From - PartStart) >> 3;
                const auto N = static_cast<int64_t>(Bytes);
                const uint8_t* Tdi = WithTdi ? HeldBytes(P->Tdi, First, N) : nullptr;
                const uint8_t* Capture =
                    P->Tdo.BitLength() == 0 ? NoCapture : HeldBytes(P->CompareMask(), First, N);
                if ((Tdi || !WithTdi) && Capture) {
                    FSliceTdi = Tdi;
                    FSliceCapture = Capture;
                    return;
                }
            }
            break;
        }
        PartStart += Len;
    }
    // The arrays only grow, and only as far as one slice: a scan longer than that is composed
    // piece by piece, so memory follows the slice, not the length the file asked for.
    if (FCapture.size() < Bytes)
        FCapture.resize(Bytes);
    std::memset(FCapture.data(), 0, Bytes);
    if (WithTdi) {
        if (FTdi.size() < Bytes)
            FTdi.resize(Bytes);
        std::memset(FTdi.data(), 0, Bytes);
    }
    FSliceTdi = FTdi.data();
    FSliceCapture = FCapture.data();
    PartStart = 0;
    for (const TScanData* P : ScanParts(Dr)) {
        const int64_t Len = P->Tdi.BitLength();
        const int64_t A = std::max(From, PartStart);
        const int64_t B = std::min(From + Count, PartStart + Len);
        if (A < B) {
            if (WithTdi)
                OrBits(FTdi.data(), A - From, P->Tdi, A - PartStart, B - A);
            // A bit is captured exactly when it will be compared.
            if (P->Tdo.BitLength() != 0)
                OrBits(FCapture.data(), A - From, P->CompareMask(), A - PartStart, B - A);
        }
        PartStart += Len;
    }
}

void TSVFFile::GotoState(uint8_t Target) {
    if (!WalkTapState(CurrentState, Target, Events))
        RaiseLineError(UnhandledTapStateMessage);
}

void TSVFFile::ShiftScan(bool Dr) {
    const int64_t N = CheckedScanLength(Dr);
    if (!Events.OnShift)
        return;
    if (N == 0) {
        Events.OnShift(FTdi.data(), FCapture.data(), 0, true);
        return;
    }
    for (int64_t From = 0; From < N; From += SliceBits) {
        const int64_t Count = std::min(SliceBits, N - From);
        ComposeSlice(Dr, From, Count, true);
        Events.OnShift(FSliceTdi, FSliceCapture, Count, From + Count == N);
    }
}

void TSVFFile::ExecuteCommand(const TSVFCommand& Command) {
    if (Command.Command != cmdEOF)
        FStatementsDone.Add(1);
    switch (Command.Command) {
    case cmdSDR:
    case cmdSIR: {
        const bool Dr = Command.Command == cmdSDR;
        // A scan of no bits at all is no scan: entering Shift would clock one bit through the
        // register and Update would latch it (after SIR 0 a new instruction, maybe EXTEST).
        // The TAP goes straight to the end state instead.
        if (ScanLength(Dr) == 0) {
            GotoState(Dr ? EndDR : EndIR);
            break;
        }
        GotoState(Dr ? tsDRSHIFT : tsIRSHIFT);
        ShiftScan(Dr);
        CurrentState = Dr ? tsDREXIT1 : tsIREXIT1;
        GotoState(Dr ? EndDR : EndIR);
        break;
    }
    case cmdFREQUENCY:
        SetFrequency(Command, true);
        break;
    case cmdTRST:
        if (Events.OnSetTrst && !Command.HasParam(pkABSENT)) {
            const bool On = Command.HasParam(pkON);
            // A TRST line really pulled low resets the TAP asynchronously: it is in
            // Test-Logic-Reset now, and stays there when the line is released.
            if (Events.OnSetTrst(On, On || Command.HasParam(pkOFF)) && On)
                CurrentState = tsRESET;
        }
        break;
    case cmdRUNTEST:
        RunTest(Command);
        break;
    case cmdSTATE:
        // A TAP already in the final state stays there: walking a pause state round to itself
        // would pass Update and Capture, which the file never asked for.
        if (Command.Parameters.size() == 1 && Command.Parameters.front().Kind == CurrentState &&
            CurrentState != tsRESET)
            break;
        for (const TSVFParam& P : Command.Parameters)
            GotoState(P.Kind);
        break;
    default:
        break; // ENDDR, ENDIR, headers and trailers act through ApplySettings
    }
}

void TSVFFile::RunTest(const TSVFCommand& Command) {
    if (RunState != CurrentState)
        GotoState(RunState);
    const uint8_t Tms = RunState == tsRESET ? 1 : 0;
    const bool Sck = Command.HasParam(pkSCK);
    const bool HasCount = Command.HasParam(pkInteger);
    if (!HasCount && !Command.HasParam(pkSEC))
        RaiseLineError("RUNTEST without both parameters \"run_count\" and \"min_time SEC\"");
    // Both given: at least run_count clocks and at least min_time. The clocks come first; only
    // the time they cannot take at the programmer's real TCK rate is waited on top. How the
    // programmer spends a wait (TCK or a pause) is its own setting.
    int64_t ClockUs = 0;
    if (HasCount) {
        const int64_t Count = Command.ParamInt(pkInteger);
        if (Events.OnRunClocks)
            Events.OnRunClocks(Sck, Count, Tms);
        if (!Sck && FFrequency > 0)
            ClockUs = Count * 1000000 / FFrequency;
    }
    if (Command.HasParam(pkSEC)) {
        // 64-bit microseconds: waits of 4295 s and more are waited in full.
        const long double Us = std::nearbyint(Command.ParamReal(pkSEC) * 1e6L);
        if (Us < 0)
            RaiseLineError("RUNTEST min_time must not be negative");
        // Never a wait cut short or skipped: one too long to count is refused.
        if (Us > static_cast<long double>(MaxWaitUs))
            RaiseLineError("RUNTEST min_time is too long: at most " +
                           std::to_string(MaxWaitUs / 1000000) + " SEC");
        const auto T = static_cast<int64_t>(Us);
        if (T >= 1000000 && Events.OnMessage)
            Events.OnMessage("Waiting " + WaitingSeconds(T) + " seconds...", sevInfo);
        if ((!HasCount || T > ClockUs) && Events.OnWaitTime)
            Events.OnWaitTime(Sck, T - ClockUs, Tms);
    }
    // The end state is not remembered: the next RUNTEST ends in its run state unless it names
    // one of its own. The parser made sure a state follows every ENDSTATE. A RUNTEST already in
    // its end state stays there.
    const auto& Ps = Command.Parameters;
    for (size_t I = 0; I + 1 < Ps.size(); ++I)
        if (Ps[I].Kind == pkENDSTATE && Ps[I + 1].Kind != CurrentState)
            GotoState(Ps[I + 1].Kind);
}

bool TSVFFile::EndStatement(const TSVFCommand& Command) {
    // The link sends its queue when it is full, and when the reader copy asks for read-back
    // that is still queued while the writer waits (a FREQUENCY or an ENDLOOP waits for the
    // reader): small statements share one USB write instead of taking one each. Only the end
    // of the file must send what is left.
    const bool AtEnd = Command.Command == cmdEOF;
    if (AtEnd && Events.OnFlush)
        Events.OnFlush();
    return AtEnd;
}

TCompareResult TSVFFile::CheckCommand(const TSVFCommand& Command) {
    if (Command.Command == cmdSDR)
        return CompareScan(true);
    if (Command.Command == cmdSIR)
        return CompareScan(false);
    return TCompareResult::Match;
}

TCompareResult TSVFFile::CompareShortScan(bool Dr) {
    const int64_t N = FShort.Bits;
    if (N == 0 || !FShort.HasTdo)
        return TCompareResult::Match; // nothing was captured, so nothing comes back
    if (!Events.OnReadCaptured)
        throw std::logic_error("No read-back handler assigned for a file that shifts data");
    if (FCompareLimit <= 0)
        return TCompareResult::Pending; // not shifted yet
    // The bits that capture are those the mask compares, as for any scan with TDO.
    uint8_t Capture[8];
    uint8_t Read[8] = {};
    StoreBytesLE(Capture, FShort.Mask, 8);
    if (!Events.OnReadCaptured(Read, Capture, N))
        return TCompareResult::Pending;
    if (!CompareReadBack)
        return TCompareResult::Match;
    const uint64_t Got = LoadBytesLE(Read, 8);
    const uint64_t Bits = N == 64 ? ~uint64_t{0} : (uint64_t{1} << N) - 1;
    if (((Got ^ FShort.Tdo) & FShort.Mask & Bits) == 0)
        return TCompareResult::Match;
    if (FLoopQuiet) {
        FLoopMismatch = true;
        return TCompareResult::Match;
    }
    // The report reads the values and the read-back where a longer scan has them.
    SetShortScanValues(Dr);
    if (FCaptured.size() < 8)
        FCaptured.resize(8);
    std::memcpy(FCaptured.data(), Read, 8);
    ReportMismatch(Dr, 0, 0, N, N);
    return TCompareResult::Mismatch;
}

void TSVFFile::SetShortScanValues(bool Dr) {
    const size_t Side = Dr ? 0 : 1;
    for (size_t I = 0; I < 3; ++I) {
        TScanData& Part = FScans[ScanIndex(cmdHDR) + 2 * I + Side];
        Part.Tdi.Assign(I == 1 ? FShort.Bits : 0, 0);
        Part.SharedMask = nullptr;
    }
    TScanData& Scan = FScans[ScanIndex(cmdSDR) + Side];
    Scan.Tdo.SetWord(FShort.Bits, FShort.Tdo);
    Scan.Mask.SetWord(FShort.Bits, FShort.Mask);
    FShort.Bits = -1;
}

TCompareResult TSVFFile::CompareScan(bool Dr) {
    if (FShort.Bits >= 0)
        return CompareShortScan(Dr);
    const int64_t N = CheckedScanLength(Dr);
    if (N == 0)
        return TCompareResult::Match; // nothing was shifted, so nothing comes back
    // A scan without TDO captures nothing, so nothing comes back for it: no read-back to ask for.
    bool Captures = false;
    for (const TScanData* P : ScanParts(Dr))
        Captures = Captures || (P->Tdi.BitLength() != 0 && P->Tdo.BitLength() != 0);
    if (!Captures)
        return TCompareResult::Match;
    if (!Events.OnReadCaptured)
        throw std::logic_error("No read-back handler assigned for a file that shifts data");
    // Slice by slice, as the writer shifted them; a slice whose read-back has not arrived is
    // asked for again on the next call, without composing it again.
    do {
        const int64_t From = FCompareFrom;
        const int64_t Count = std::min(SliceBits, N - From);
        if (From >= FCompareLimit)
            return TCompareResult::Pending; // the writer has not shifted this slice yet
        if (!FSlicePrepared) {
            ComposeSlice(Dr, From, Count, false);
            // Only captured bits are written by the read-back and only those are compared or
            // shown, so the array is not cleared between scans.
            const auto Bytes = static_cast<size_t>(TVarLen::BytesFor(Count));
            if (FCaptured.size() < Bytes)
                FCaptured.resize(Bytes);
            FSlicePrepared = true;
        }
        // Called for every slice of a scan with TDO, even when its mask compares nothing: the
        // read-back of such scans is collected one per shift, in order.
        if (!Events.OnReadCaptured(FCaptured.data(), FSliceCapture, Count))
            return TCompareResult::Pending;
        FSlicePrepared = false;
        FCompareFrom = From + Count;
        if (!CompareReadBack)
            continue; // a check of the file without a target: the read-back is only collected
        if (SliceDiffers(Dr, From, Count, From, Count)) {
            // Inside a LOOP a mismatch only means another pass; the read-back of the slices
            // still to come is collected all the same.
            if (FLoopQuiet) {
                FLoopMismatch = true;
                continue;
            }
            FCompareFrom = 0;
            // A scan of one slice is shown whole. Of a longer one, which only a file with a
            // length far beyond any device can ask for, the first window with a failing bit.
            int64_t Shown = From, ShownCount = Count;
            if (Count != N)
                for (;; Shown += ReportBits) {
                    ShownCount = std::min(ReportBits, From + Count - Shown);
                    if (SliceDiffers(Dr, From, Count, Shown, ShownCount))
                        break;
                }
            ReportMismatch(Dr, From, Shown, ShownCount, N);
            return TCompareResult::Mismatch;
        }
    } while (FCompareFrom < N);
    FCompareFrom = 0;
    return TCompareResult::Match;
}

bool TSVFFile::SliceDiffers(bool Dr, int64_t SliceFrom, int64_t SliceCount, int64_t From,
                            int64_t Count) const {
    int64_t PartStart = 0;
    for (const TScanData* P : ScanParts(Dr)) {
        const int64_t Len = P->Tdi.BitLength();
        const int64_t A = std::max(From, PartStart);
        const int64_t B = std::min(From + Count, PartStart + Len);
        if (A < B && P->Tdo.BitLength() != 0 &&
            DiffersUnderMask(FCaptured.data(), SliceCount, A - SliceFrom, P->Tdo, &P->CompareMask(),
                             A - PartStart, B - A))
            return true;
        PartStart += Len;
    }
    return false;
}

void TSVFFile::ReportMismatch(bool Dr, int64_t SliceFrom, int64_t From, int64_t Count,
                              int64_t Length) {
    if (!Events.OnMessage)
        return;
    std::string Expected = "Expected: ";
    std::string Readed = "Readed:   ";
    Expected.reserve(Expected.size() + static_cast<size_t>(Count + Count / 4));
    Readed.reserve(Readed.size() + static_cast<size_t>(Count + Count / 4));
    int64_t PartStart = 0;
    // The same bits as the file writes them, in hexadecimal (most significant digit first); a bit
    // that is not compared is 0 in all three.
    std::vector<uint8_t> HexExpected(static_cast<size_t>(Count), 0);
    std::vector<uint8_t> HexRead(static_cast<size_t>(Count), 0);
    std::vector<uint8_t> HexMask(static_cast<size_t>(Count), 0);
    for (const TScanData* P : ScanParts(Dr)) {
        const int64_t Len = P->Tdi.BitLength();
        const int64_t A = std::max(From, PartStart);
        const int64_t B = std::min(From + Count, PartStart + Len);
        for (int64_t S = A; S < B; ++S) {
            const int64_t I = S - PartStart;
            if (P->Tdo.BitLength() == 0 || !P->CompareMask().GetBit(I)) {
                Expected.push_back('x');
                Readed.push_back('x');
            } else {
                const int64_t G = S - SliceFrom;
                Expected.push_back(P->Tdo.GetBit(I) ? '1' : '0');
                const bool Bit = ((FCaptured[static_cast<size_t>(G >> 3)] >> (G & 7)) & 1) != 0;
                Readed.push_back(Bit ? '1' : '0');
                const auto At = static_cast<size_t>(S - From);
                HexExpected[At] = P->Tdo.GetBit(I) ? 1 : 0;
                HexRead[At] = Bit ? 1 : 0;
                HexMask[At] = 1;
            }
            // A blank after every fourth bit, counted across the part boundaries from the
            // first bit of the scan (what is shown starts on a multiple of four).
            if ((S + 1) % 4 == 0) {
                Expected.push_back(' ');
                Readed.push_back(' ');
            }
        }
        PartStart += Len;
    }
    Events.OnMessage(Dr ? "Error on SDR instruction: " : "Error on SIR instruction: ", sevError);
    if (Count != Length)
        Events.OnMessage("Bits " + std::to_string(From) + " to " +
                             std::to_string(From + Count - 1) + " of " + std::to_string(Length) +
                             " shown",
                         sevError);
    Events.OnMessage(Expected, sevError);
    Events.OnMessage(Readed, sevError);
    Events.OnMessage(HexExpectedPrefix + SvfHexOfBits(HexExpected.data(), Count), sevError);
    Events.OnMessage(HexReadPrefix + SvfHexOfBits(HexRead.data(), Count), sevError);
    Events.OnMessage(HexMaskPrefix + SvfHexOfBits(HexMask.data(), Count), sevError);
    Events.OnMessage(std::string("Failing ") + (Dr ? "SDR" : "SIR") + " statement near line " +
                         std::to_string(FLineIndex + 1),
                     sevError);
}
