// The SVF executor: parsed commands become TAP walks, shifts, waits and clock runs through the
// events, and the captured TDO of every scan is compared under its mask.

#include <array>
#include <bit>
#include <cmath>
#include <cstring>
#include <stdexcept>

#include "bit_pack.h"
#include "svf_file.h"
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

std::array<const TSVFFile::TScanData*, 3> TSVFFile::ScanParts(bool Dr) const {
    const size_t Side = Dr ? 0 : 1;
    return {&FScans[ScanIndex(cmdHDR) + Side], &FScans[ScanIndex(cmdSDR) + Side],
            &FScans[ScanIndex(cmdTDR) + Side]};
}

int64_t TSVFFile::ScanLength(bool Dr) const {
    int64_t N = 0;
    for (const TScanData* P : ScanParts(Dr))
        N += P->Tdi.BitLength();
    return N;
}

int64_t TSVFFile::ComposeScan(bool Dr, bool WithTdi) {
    const auto Parts = ScanParts(Dr);
    const int64_t N = ScanLength(Dr);
    // Each length passed the parser's limit; header, scan and trailer together must as well.
    if (N > MaxScanBits)
        RaiseLineError("Scan of " + std::to_string(N) + " bits with header and trailer is longer " +
                       "than " + std::to_string(MaxScanBits) + " bits");
    FCapture.resize(static_cast<size_t>(N));
    if (WithTdi)
        FTdi.resize(static_cast<size_t>(N));
    int64_t Offset = 0;
    for (const TScanData* P : Parts) {
        const int64_t Len = P->Tdi.BitLength();
        if (WithTdi)
            ExpandBits(P->Tdi, FTdi.data() + Offset, Len);
        // A bit is captured exactly when it will be compared.
        if (P->Tdo.BitLength() != 0)
            ExpandBits(P->Mask, FCapture.data() + Offset, Len);
        else if (Len > 0)
            std::memset(FCapture.data() + Offset, 0, static_cast<size_t>(Len));
        Offset += Len;
    }
    return N;
}

void TSVFFile::GotoState(uint8_t Target) {
    WalkTapState(CurrentState, Target, Events.OnClockTms,
                 [this] { RaiseLineError(UnhandledTapStateMessage); });
}

void TSVFFile::ShiftScan(bool Dr) {
    const int64_t N = ComposeScan(Dr, true);
    if (Events.OnShift)
        Events.OnShift(FTdi.data(), FCapture.data(), N, true);
}

void TSVFFile::ExecuteCommand(const TSVFCommand& Command) {
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
    // Everything a statement queued goes out at its end, so the read-back of its scan is on
    // its way by the time the reader copy asks for it.
    if (Events.OnFlush)
        Events.OnFlush();
    return Command.Command == cmdEOF;
}

TCompareResult TSVFFile::CheckCommand(const TSVFCommand& Command) {
    if (Command.Command == cmdSDR)
        return CompareScan(true);
    if (Command.Command == cmdSIR)
        return CompareScan(false);
    return TCompareResult::Match;
}

TCompareResult TSVFFile::CompareScan(bool Dr) {
    const int64_t N = ComposeScan(Dr, false);
    if (N == 0)
        return TCompareResult::Match; // nothing was shifted, so nothing comes back
    // Only captured positions are written by the read-back and only those are compared or
    // shown, so the array is not cleared between scans (a bitstream scan is megabytes).
    FCaptured.resize(static_cast<size_t>(N));
    if (!Events.OnReadCaptured)
        throw std::logic_error("No read-back handler assigned for a file that shifts data");
    // Called even when nothing is compared: read-back is collected one per shift, in order.
    if (!Events.OnReadCaptured(FCaptured.data(), FCapture.data(), N))
        return TCompareResult::Pending;
    int64_t Offset = 0;
    for (const TScanData* P : ScanParts(Dr)) {
        const int64_t Len = P->Tdi.BitLength();
        if (P->Tdo.BitLength() != 0) {
            const uint8_t* Got = FCaptured.data() + Offset;
            for (int64_t I = 0; I < Len; I += 8) {
                // Eight bits at a time: packed read-back against expected value under the mask.
                const int64_t K = std::min<int64_t>(8, Len - I);
                unsigned Packed = 0;
                if (K == 8)
                    Packed = PackEight(Got + I);
                else
                    for (int64_t B = 0; B < K; ++B)
                        Packed |= (Got[I + B] != 0 ? 1u : 0u) << B;
                const unsigned Valid = (1u << K) - 1;
                const unsigned Diff =
                    (Packed ^ P->Tdo.GetByte(I / 8)) & P->Mask.GetByte(I / 8) & Valid;
                if (Diff != 0) {
                    if (FLoopQuiet) {
                        FLoopMismatch = true;
                        return TCompareResult::Match;
                    }
                    ReportMismatch(Dr, FCaptured.data());
                    if (Events.OnMessage)
                        Events.OnMessage(std::string("Failing ") + (Dr ? "SDR" : "SIR") +
                                             " statement near line " +
                                             std::to_string(FLineIndex + 1),
                                         sevError);
                    return TCompareResult::Mismatch;
                }
            }
        }
        Offset += Len;
    }
    return TCompareResult::Match;
}

void TSVFFile::ReportMismatch(bool Dr, const uint8_t* Captured) {
    if (!Events.OnMessage)
        return;
    std::string Expected = "Expected: ";
    std::string Readed = "Readed:   ";
    int64_t Count = 0;
    int64_t Offset = 0;
    for (const TScanData* P : ScanParts(Dr)) {
        const int64_t Len = P->Tdi.BitLength();
        Expected.reserve(Expected.size() + static_cast<size_t>(Len + Len / 4));
        Readed.reserve(Readed.size() + static_cast<size_t>(Len + Len / 4));
        for (int64_t I = 0; I < Len; ++I) {
            if (P->Tdo.BitLength() == 0 || !P->Mask.GetBit(I)) {
                Expected.push_back('x');
                Readed.push_back('x');
            } else {
                Expected.push_back(P->Tdo.GetBit(I) ? '1' : '0');
                Readed.push_back(Captured[Offset + I] != 0 ? '1' : '0');
            }
            // A blank after every fourth bit, counted across the part boundaries.
            if (++Count % 4 == 0) {
                Expected.push_back(' ');
                Readed.push_back(' ');
            }
        }
        Offset += Len;
    }
    Events.OnMessage(Dr ? "Error on SDR instruction: " : "Error on SIR instruction: ", sevError);
    Events.OnMessage(Expected, sevError);
    Events.OnMessage(Readed, sevError);
}
