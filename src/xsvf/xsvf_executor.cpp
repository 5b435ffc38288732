// Execution of XSVF commands through the player events: the writer, the reader that checks the
// read-back behind it, the XC9500 method with its pause-state retries, and the worker thread.

#include <algorithm>
#include <array>
#include <bit>
#include <chrono>
#include <stdexcept>
#include <thread>

#include "bit_pack.h"
#include "svf_hex.h"
#include "xsvf_file.h"

namespace {

// Out = bits 0..Count-1 of Value, packed; bits beyond its storage read as its fill.
void PackValue(const TVarLen& Value, int64_t Count, std::vector<uint8_t>& Out) {
    Out.assign(static_cast<size_t>(TVarLen::BytesFor(Count)), 0);
    OrBits(Out.data(), 0, Value, 0, Count);
}

} // namespace

// --- Small helpers --------------------------------------------------------------------------

void TXSVFFile::GotoState(uint8_t Target) {
    if (!WalkTapState(CurrentState, Target, Events))
        throw std::runtime_error(UnhandledTapStateMessage);
}

// A mask XTDOMASK loaded for the scan size in force is held whole and already packed: it is
// handed out as it is. Otherwise (XSDRSIZE changed the size since) a packed copy is made, and
// kept until XTDOMASK or XSDRSIZE changes the mask.
const uint8_t* TXSVFFile::MaskBits() {
    if (TdoMask.BitLength() == TdiValue.BitLength() && TdoMask.StoredBytes() == TdoMask.ByteCount())
        return TdoMask.Data();
    const auto Count = static_cast<size_t>(TVarLen::BytesFor(TdiValue.BitLength()));
    if (!FMaskBitsValid || FMaskBits.size() != Count) {
        PackValue(TdoMask, TdiValue.BitLength(), FMaskBits);
        FMaskBitsValid = true;
    }
    return FMaskBits.data();
}

const uint8_t* TXSVFFile::OnesBits(int64_t Count) {
    const auto Bytes = static_cast<size_t>(TVarLen::BytesFor(Count));
    if (FOnes.size() < Bytes)
        FOnes.resize(Bytes, 0xFF);
    return FOnes.data();
}

const uint8_t* TXSVFFile::ZeroBits(int64_t Count) {
    const auto Bytes = static_cast<size_t>(TVarLen::BytesFor(Count));
    if (FZeros.size() < Bytes)
        FZeros.resize(Bytes, 0);
    return FZeros.data();
}

// ReadCommand holds every byte of TdiValue, already in the packed order the events take.
void TXSVFFile::Shift(const uint8_t* Capture, bool Exit) {
    if (Events.OnShift)
        Events.OnShift(TdiValue.Data(), Capture, TdiValue.BitLength(), Exit);
}

// A shift with Exit leaves the TAP in the exit state only when it clocked at least one bit: a
// zero-length shift clocks nothing, and the device is still in the shift state. Tracking it as
// the exit state would put every later walk one step out of line with the device.
void TXSVFFile::ExitedShift(uint8_t ExitState) {
    if (TdiValue.BitLength() > 0)
        CurrentState = ExitState;
}

// After XSDR, XSDRTDO and each XSDRINC step: an XRUNTEST time holds the TAP in Run-Test/Idle for
// that long (the programming pulse of a flash row). XRUNTEST stays in force until the next one:
// vendors' tools write it only when the time changes, so thousands of rows rely on one.
void TXSVFFile::RunTestStep() {
    if (RunTestTime != 0) {
        GotoState(tsIDLE);
        if (Events.OnWaitTime)
            Events.OnWaitTime(false, RunTestTime, 0);
    } else {
        GotoState(EndDR);
    }
}

// After XSIR and XSIR2 the same time is waited in Run-Test/Idle: an instruction such as JPROGRAM
// or ISC_ERASE needs it before the next scan.
void TXSVFFile::IrRunTestStep() {
    if (RunTestTime != 0) {
        GotoState(tsIDLE);
        if (Events.OnWaitTime)
            Events.OnWaitTime(false, RunTestTime, 0);
    } else {
        GotoState(EndIR);
    }
}

// XWAIT, XWAITSTATE and the pause between LSDR tries: to State unless the TAP is there already,
// Clocks TCK cycles and Microseconds there (TMS holding the state), then to EndState.
void TXSVFFile::WaitIn(uint8_t State, uint32_t Clocks, uint32_t Microseconds, uint8_t EndState) {
    if (CurrentState != State)
        GotoState(State);
    const uint8_t Tms = State == tsRESET ? 1 : 0;
    if (Clocks != 0 && Events.OnRunClocks)
        Events.OnRunClocks(false, Clocks, Tms);
    if (Microseconds != 0 && Events.OnWaitTime)
        Events.OnWaitTime(false, Microseconds, Tms);
    if (CurrentState != EndState)
        GotoState(EndState);
}

// XTRST: 0 on, 1 off, 2 Z, 3 absent, as SVF's TRST. A TRST line really pulled resets the TAP.
void TXSVFFile::TrstCommand(uint8_t Mode) {
    if (Mode > 3)
        throw std::runtime_error("XTRST with an unknown mode " + std::to_string(Mode));
    if (Mode == 3 || !Events.OnSetTrst)
        return;
    if (Events.OnSetTrst(Mode == 0, Mode <= 1) && Mode == 0)
        CurrentState = tsRESET;
}

int TXSVFFile::IncrementSteps(const TXSVFCommand& Command) const {
    return 1 + Command.Pieces;
}

// XSDRINC, the XC9500's compressed programming: step 0 shifts the start address (ReadCommand put
// it into TdiValue); each further step adds the address mask to the address and puts the next
// data piece into the bits of the data mask, lowest first.
void TXSVFFile::LoadIncrementStep(int Step) {
    if (Step == 0)
        return;
    int Carry = 0;
    for (int64_t I = 0; I < TdiValue.ByteCount(); ++I) {
        const int Sum = TdiValue.GetByte(I) + AddressMask.GetByte(I) + Carry;
        TdiValue.SetByte(I, static_cast<uint8_t>(Sum));
        Carry = Sum >> 8;
    }
    // The piece as the file holds it: most significant byte first, so its bit K is in the K / 8th
    // byte from its end.
    const auto PieceBytes = static_cast<size_t>((DataMaskBits + 7) / 8);
    const uint8_t* PieceEnd = FIncrementData.data() + static_cast<size_t>(Step) * PieceBytes;
    const int64_t Size = TdoMask.BitLength();
    int64_t Next = 0;
    for (int64_t I = 0; I < Size; ++I)
        if (DataMask.GetBit(I)) {
            TdiValue.SetBit(I, (PieceEnd[-1 - (Next >> 3)] >> (Next & 7)) & 1);
            ++Next;
        }
}

// --- Writer ---------------------------------------------------------------------------------

void TXSVFFile::ExecuteWrite(const TXSVFCommand& Command) {
    if (Command.empty())
        return;
    // ReadCommand has loaded the command's values already.
    const int64_t Size = TdoMask.BitLength();
    switch (Command[0]) {
    case XSIR:
    case XSIR2: {
        GotoState(tsIRSHIFT);
        Shift(ZeroBits(TdiValue.BitLength()), true);
        ExitedShift(tsIREXIT1);
        IrRunTestStep();
        break;
    }
    case XSDRINC:
        for (int Step = 0; Step < IncrementSteps(Command); ++Step) {
            GotoState(tsDRSHIFT);
            LoadIncrementStep(Step);
            Shift(MaskBits(), true);
            ExitedShift(tsDREXIT1);
            RunTestStep();
        }
        break;
    case XWAIT:
        WaitIn(Command[1], 0, BigEndian32(Command, 3), Command[2]);
        break;
    case XWAITSTATE:
        WaitIn(Command[1], BigEndian32(Command, 3), BigEndian32(Command, 7), Command[2]);
        break;
    case XTRST:
        TrstCommand(Command[1]);
        break;
    case XSDR:
    case XSDRTDO:
        GotoState(tsDRSHIFT);
        Shift(MaskBits(), true);
        ExitedShift(tsDREXIT1);
        RunTestStep();
        break;
    case XSDRB:
        GotoState(tsDRSHIFT);
        [[fallthrough]];
    case XSDRC:
        // A long register written in pieces: the TAP stays in DRSHIFT between them.
        Shift(ZeroBits(Size), false);
        break;
    case XSDRE:
        Shift(ZeroBits(Size), true);
        ExitedShift(tsDREXIT1);
        GotoState(EndDR);
        break;
    case XSDRTDOB:
        GotoState(tsDRSHIFT);
        [[fallthrough]];
    case XSDRTDOC:
        Shift(OnesBits(Size), false);
        break;
    case XSDRTDOE:
        Shift(OnesBits(Size), true);
        ExitedShift(tsDREXIT1);
        GotoState(EndDR);
        break;
    case XSTATE:
        // Only reset and Run-Test/Idle are reached on their own; any other code means idle.
        GotoState(Command[1] == tsRESET ? tsRESET : tsIDLE);
        break;
    default:
        break;
    }
}

// --- Reader (pipelined mode) ----------------------------------------------------------------

// Only the bits the expected value has are compared: an XSDR after a longer XSDRSIZE reuses a
// shorter expected value, and the spare bits of its last byte are padding from the file, not an
// expectation.
bool TXSVFFile::ReadBackDiffers(const TVarLen* Mask, int64_t Count) const {
    const int64_t Compared = std::min(Count, TdoExpected.BitLength());
    return DiffersUnderMask(FTdoBits.data(), Count, 0, TdoExpected, Mask, 0, Compared);
}

TCompareResult TXSVFFile::ReadBackAndCompare(bool Full) {
    const int64_t Count = TdiValue.BitLength();
    if (!FReadPrepared) {
        // Built once per command: a read-back that is not there yet is asked for again on every
        // pass, and a long scan must not be rebuilt each time.
        // Only captured positions are written and compared; the rest need no clearing.
        FTdoBits.resize(static_cast<size_t>(TVarLen::BytesFor(Count)));
        FReadPrepared = true;
    }
    const uint8_t* Capture = Full ? OnesBits(Count) : MaskBits();
    if (!Events.OnReadCaptured)
        throw std::runtime_error("No read-back handler assigned");
    if (!Events.OnReadCaptured(FTdoBits.data(), Capture, Count))
        return TCompareResult::Pending;
    FReadPrepared = false;
    if (!CompareReadBack)
        return TCompareResult::Match;
    return ReadBackDiffers(Full ? nullptr : &TdoMask, Count) ? TCompareResult::Mismatch
                                                             : TCompareResult::Match;
}

TCompareResult TXSVFFile::ExecuteRead(const TXSVFCommand& Command) {
    if (Command.empty())
        return TCompareResult::Match;
    const int64_t Size = TdoMask.BitLength();
    const uint8_t Op = Command[0];
    if (Op == XSDRINC) {
        // Every step is a scan of its own, compared with the expected value in force.
        TdiValue.SetBitLength(Size);
        for (; FIncrementStep < IncrementSteps(Command); ++FIncrementStep) {
            const TCompareResult R = ReadBackAndCompare(false);
            if (R == TCompareResult::Mismatch)
                ReportFailingCommand(Op, FTdoBits.data(), &TdoMask);
            if (R != TCompareResult::Match)
                return R;
        }
        FIncrementStep = 0;
        return TCompareResult::Match;
    }
    if (Op != XSDR && Op != XSDRTDO && Op != XSDRTDOB && Op != XSDRTDOC && Op != XSDRTDOE)
        return TCompareResult::Match;
    const bool Full = Op != XSDR && Op != XSDRTDO;
    const TCompareResult Result = ReadBackAndCompare(Full);
    if (Result == TCompareResult::Mismatch)
        ReportFailingCommand(Op, FTdoBits.data(), Full ? nullptr : &TdoMask);
    return Result;
}

// After a failed compare: which command of the file failed, and its expected, read and mask
// values as an SVF file would write them. Commands are counted from 1 in file order.
void TXSVFFile::ReportFailingCommand(uint8_t Opcode, const uint8_t* Tdo, const TVarLen* Mask) {
    if (!Events.OnMessage)
        return;
    // Tdo is the packed read-back; a bit that was not captured is shown as 0 in all three values.
    const int64_t Count = TdiValue.BitLength();
    std::vector<uint8_t> Expected(static_cast<size_t>(Count)), MaskBits(static_cast<size_t>(Count)),
        Read(static_cast<size_t>(Count));
    for (int64_t I = 0; I < Count; ++I) {
        const auto At = static_cast<size_t>(I);
        MaskBits[At] = !Mask || Mask->GetBit(I) ? 1 : 0;
        Expected[At] = TdoExpected.GetBit(I) ? 1 : 0;
        Read[At] = MaskBits[At] && ((Tdo[I >> 3] >> (I & 7)) & 1) ? 1 : 0;
    }
    Events.OnMessage(XsvfFailingCommandPrefix + ("#" + std::to_string(FProgress.Get() + 1)) + " " +
                         XSVFOpcodeName(Opcode),
                     sevError);
    Events.OnMessage(HexExpectedPrefix + SvfHexOfBits(Expected.data(), Count), sevError);
    Events.OnMessage(HexReadPrefix + SvfHexOfBits(Read.data(), Count), sevError);
    Events.OnMessage(HexMaskPrefix + SvfHexOfBits(MaskBits.data(), Count), sevError);
}

// --- XC9500 method --------------------------------------------------------------------------

// One shift of the current XSDR/XSDRTDO from DRSHIFT, its read-back awaited and compared under
// the mask. The wait polls every millisecond; the programmer link raises its own time-out when
// replies stop coming, so this loop is bounded by it.
bool TXSVFFile::Attempt() {
    const int64_t Count = TdiValue.BitLength();
    const uint8_t* Capture = MaskBits();
    Shift(Capture, true);
    if (Events.OnFlush)
        Events.OnFlush();
    if (!Events.OnReadCaptured)
        throw std::runtime_error("No read-back handler assigned");
    FTdoBits.resize(static_cast<size_t>(TVarLen::BytesFor(Count)));
    while (!Events.OnReadCaptured(FTdoBits.data(), Capture, Count))
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return !CompareReadBack || !ReadBackDiffers(&TdoMask, Count);
}

// An XC9500 cell that did not take its value is given another programming pulse: leave the shift
// through DRPAUSE, shift once more without data (the pause-state pass through DRSHIFT), update,
// wait the XRUNTEST time in Run-Test/Idle and come back to DRSHIFT for the next attempt.
bool TXSVFFile::RetryProcedure() {
    const int N = RepeatCount;
    if (N == 0) {
        const bool Ok = Attempt();
        ExitedShift(tsDREXIT1);
        return Ok;
    }
    for (int K = 1; K <= N; ++K) {
        if (Attempt()) {
            ExitedShift(tsDREXIT1);
            return true;
        }
        if (Events.OnMessage)
            Events.OnMessage(RetryingText + std::to_string(K), sevInfo);
        ExitedShift(tsDREXIT1);
        for (uint8_t S : {tsDRPAUSE, tsDREXIT2, tsDRSHIFT, tsDREXIT1, tsDRUPDATE, tsIDLE})
            GotoState(S);
        if (Events.OnWaitTime)
            Events.OnWaitTime(false, RunTestTime, 0);
        GotoState(tsDRSHIFT);
    }
    return false;
}

bool TXSVFFile::ExecuteReadWrite(const TXSVFCommand& Command) {
    if (Command.empty())
        return true;
    if (Command[0] == LSDR)
        return LsdrProcedure();
    if (!XC9500Method)
        return CheckedWrite(Command);
    switch (Command[0]) {
    case XSIR:
    case XSDRB:
    case XSDRC:
    case XSDRE:
    case XSTATE:
        ExecuteWrite(Command);
        return true;
    case XSDRINC: {
        // Each step programs one row: the XC9500 retry rule applies to each.
        bool Ok = true;
        for (int Step = 0; Ok && Step < IncrementSteps(Command); ++Step) {
            LoadIncrementStep(Step);
            GotoState(tsDRSHIFT);
            Ok = RetryProcedure();
            RunTestStep();
        }
        if (!Ok && Events.OnMessage) {
            Events.OnMessage("XSDRINC operation failed after maximum retries", sevError);
            ReportFailingCommand(XSDRINC, FTdoBits.data(), &TdoMask);
        }
        return Ok;
    }
    case XSDR:
    case XSDRTDO: {
        const bool IsTdo = Command[0] == XSDRTDO;
        GotoState(tsDRSHIFT);
        const bool Ok = RetryProcedure();
        if (!Ok && Events.OnMessage) {
            Events.OnMessage(IsTdo ? "XSDRTDO operation failed after maximum retries"
                                   : "XSDR operation failed after maximum retries",
                             sevError);
            // The last attempt's read-back is still in the array it was read into.
            ReportFailingCommand(Command[0], FTdoBits.data(), &TdoMask);
        }
        RunTestStep();
        return Ok;
    }
    case XSDRTDOB:
        throw std::runtime_error("Internal error DoCommandReadWrite [3]");
    case XSDRTDOC:
        throw std::runtime_error("Internal error DoCommandReadWrite [4]");
    case XSDRTDOE:
        throw std::runtime_error("Internal error DoCommandReadWrite [5]");
    default:
        ExecuteWrite(Command);
        return true;
    }
}

// One copy that waits for each read-back: the command is written, sent, and its scans checked
// before the next command is read.
bool TXSVFFile::CheckedWrite(const TXSVFCommand& Command) {
    ExecuteWrite(Command);
    if (Events.OnFlush)
        Events.OnFlush();
    for (;;) {
        switch (ExecuteRead(Command)) {
        case TCompareResult::Match:
            return true;
        case TCompareResult::Mismatch:
            return false;
        case TCompareResult::Pending:
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            break;
        }
    }
}

// LSDR: shift and compare; while TDO differs, wait as LDELAY says and shift again, at most
// LCOUNT tries in all (a device polled until it reports ready).
bool TXSVFFile::LsdrProcedure() {
    const uint32_t Tries = std::max<uint32_t>(LoopCount, 1);
    for (uint32_t K = 1;; ++K) {
        GotoState(tsDRSHIFT);
        const bool Ok = Attempt();
        ExitedShift(tsDREXIT1);
        GotoState(EndDR);
        if (Ok)
            return true;
        if (K >= Tries)
            break;
        if (FWorker && FWorker->TerminateRequested())
            return false;
        WaitIn(LoopState, LoopClocks, LoopMicroseconds, LoopState);
    }
    if (Events.OnMessage)
        Events.OnMessage("LSDR operation failed after maximum retries", sevError);
    return false;
}

// --- Run control ------------------------------------------------------------------------------

int64_t TXSVFFile::Progress() const {
    if (!FRwThread)
        return FProgress.Get();
    const int64_t W = FRwThread->Writer->FProgress.Get();
    if (!FRwThread->Reader)
        return W;
    return std::min(W, FRwThread->Reader->FProgress.Get());
}

int64_t TXSVFFile::StatementsExecuted() const {
    return FRwThread ? FRwThread->Writer->FProgress.Get() : 0;
}

void TXSVFFile::Start(int64_t DefaultFrequency) {
    if (Thread)
        return;
    auto T = std::make_unique<TThread>();
    if (XC9500Method || HasLsdr) {
        T->Writer.reset(new TXSVFFile(FFileName, TPlain{}));
        T->Writer->Events = Events;
    } else {
        // The reader only collects read-back; every other event belongs to the writer.
        T->Reader.reset(new TXSVFFile(FFileName, TPlain{}));
        T->Reader->Events.OnReadCaptured = Events.OnReadCaptured;
        T->Reader->Events.OnMessage = Events.OnMessage; // a failed compare is reported
        // Each copy holds only what it uses: the writer shifts TDI under the mask, the reader
        // compares with the expected TDO under the mask. A bitstream's values are held once.
        T->Reader->Kept = {false, true, true};
        T->Writer.reset(new TXSVFFile(FFileName, TPlain{}));
        T->Writer->Events = Events;
        T->Writer->Events.OnReadCaptured = nullptr;
        T->Writer->Kept = {true, false, true};
    }
    T->Writer->XC9500Method = XC9500Method;
    T->Writer->CompareReadBack = CompareReadBack;
    if (T->Reader)
        T->Reader->CompareReadBack = CompareReadBack;
    // The copies expect the file the pre-scan accepted, not whatever it has become since.
    T->Writer->FFileSize = FFileSize;
    if (T->Reader)
        T->Reader->FFileSize = FFileSize;
    T->Writer->FWorker = T.get();
    FRwThread = T.get();
    Thread = std::move(T);
    if (Events.OnSetFrequency)
        Events.OnSetFrequency(DefaultFrequency, true);
    TThread* Raw = FRwThread;
    Raw->Resume([Raw] { RunWorker(*Raw); });
}

void TXSVFFile::RunWorker(TThread& T) {
    TXSVFFile& W = *T.Writer;
    TXSVFFile* R = T.Reader.get();
    TXSVFCommand CW, CR;

    auto Prologue = [&] {
        // The copies take the method from the pre-scan, so their own XREPEAT never reports it:
        // say it once here, so the user knows why the run is slow.
        if (W.XC9500Method && W.Events.OnMessage)
            W.Events.OnMessage(XC9500Warning, sevWarning);
        W.GotoState(tsRESET);
        if (W.Events.OnFlush)
            W.Events.OnFlush();
    };

    // One command at a time: shift, wait for the read-back, retry if the device asks for it.
    auto XC9500Pass = [&] {
        if (W.IsComplete(CW))
            return false;
        W.ReadCommand(CW);
        W.Decode(CW);
        if (!W.ExecuteReadWrite(CW)) {
            T.Failed.store(true);
            // The failed command ends with its retry path and run-test step; send them, so the
            // device is left in Run-Test/Idle rather than halfway through a retry. Nothing after
            // this command is executed.
            if (W.Events.OnFlush)
                W.Events.OnFlush();
        }
        W.FProgress.Add(1);
        W.IsComplete(CW); // sends what XCOMPLETE leaves queued
        return true;
    };

    // The writer runs ahead and never waits; the reader follows, one command per pass once its
    // read-back has arrived.
    auto PipelinedPass = [&] {
        const bool WriterDone = W.IsComplete(CW);
        if (WriterDone && R->IsComplete(CR))
            return false;
        if (!WriterDone) {
            W.ReadCommand(CW);
            W.Decode(CW);
            W.ExecuteWrite(CW);
            W.FProgress.Add(1);
            W.IsComplete(CW);
        }
        if (R->IsComplete(CR))
            return true;
        if (CR.empty()) {
            R->ReadCommand(CR);
            R->Decode(CR);
        }
        switch (R->ExecuteRead(CR)) {
        case TCompareResult::Match:
            R->FProgress.Add(1);
            if (CR[0] != XCOMPLETE)
                CR.clear();
            break;
        case TCompareResult::Mismatch:
            T.Failed.store(true);
            break;
        case TCompareResult::Pending:
            // With nothing left to write, only the device can make progress: let it.
            if (WriterDone)
                std::this_thread::yield();
            break;
        }
        return true;
    };

    if (R)
        RunPlayerLoop(T, W.Events.OnMessage, Prologue, PipelinedPass);
    else
        RunPlayerLoop(T, W.Events.OnMessage, Prologue, XC9500Pass);
}
