// Run control of the SVF player: Start, the writer/reader pipeline on the worker thread, progress
// and registration.
//
// Two copies of the player share one worker thread. The writer copy parses and executes each
// statement at once and only queues programmer commands; it hands every statement on to the reader
// copy (TCheck: for SDR and SIR the expected values), which trails behind and, for every scan,
// waits for its captured TDO and compares it. The writer never waits for the USB round trip; the
// reader catches up as the read-back arrives. The file is parsed once.
//
// LOOP n; ... ENDLOOP; (a polling loop, as vendors write one for a busy flag): the body runs, and
// at ENDLOOP the writer waits until the reader has checked every scan of the pass. When all of
// them matched, the run goes on after ENDLOOP; otherwise both copies go back to the first
// statement of the body, at most n passes in all. A mismatch in a pass that may still be repeated
// is no error; in the n-th pass it fails the run as any mismatch does.

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <thread>

#include "jtag_files_list.h"
#include "svf_file.h"
#include "tap_state.h"

namespace {
using TSVFThread = TReadWriteThread<TSVFFile>;
// Masks longer than this are shared with the reader when the writer waits for it.
constexpr int64_t SharedMaskBytes = 4096;
} // namespace

class TSVFPipeline {
public:
    TSVFPipeline(TSVFFile& Writer, TSVFFile& Reader, TPlayerThread& Thread)
        : W(Writer), R(Reader), T(Thread) {
        // A scan longer than one slice is checked while it is shifted: after each slice but the
        // last, the reader may take up the very statement the writer is executing and check the
        // slices already out. Otherwise the read-back of a scan of 2^28 captured bits would pile
        // up in the link (64 MB) before the reader saw any of it.
        Shift = W.Events.OnShift;
        if (Shift)
            W.Events.OnShift = [this](const uint8_t* Tdi, const uint8_t* Capture, int64_t Count,
                                      bool Exit) {
                Shift(Tdi, Capture, Count, Exit);
                ShiftedInScan = Exit ? 0 : ShiftedInScan + Count;
                if (Exit)
                    return;
                if (W.Events.OnFlush)
                    W.Events.OnFlush();
                ReaderStep();
            };
    }

    void Prologue() {
        W.GotoState(tsRESET);
        if (W.Events.OnFlush)
            W.Events.OnFlush();
    }

    // One cycle: the writer executes one statement, the reader checks one if it can.
    bool Pass() {
        if (WC.Command == cmdEOF && RC.Command == cmdEOF)
            return false;
        bool Progressed = WriterStep();
        Progressed = ReaderStep() || Progressed;
        // Only the read-back is awaited here. USB delivers it in steps of at least 125 us, and a
        // device busy with a long wait answers only after it: poll at once for a while, then
        // in short sleeps, so a long wait does not keep a processor core spinning.
        if (Progressed)
            IdlePasses = 0;
        else if (++IdlePasses < 256)
            std::this_thread::yield();
        else
            std::this_thread::sleep_for(std::chrono::microseconds(50));
        return true;
    }

private:
    bool WriterStep() {
        if (WC.Command == cmdEOF)
            return false;
        // The read-back of a long scan is megabytes (a reply byte for every four captured bits).
        // The next statement waits until the reader has checked it, so the host holds the
        // replies of one such scan at a time, not of two; the wait is one USB round trip, next
        // to the seconds a scan of that length takes to shift.
        if (RDone <= LongScanAt)
            return false;
        if (!WParsed) {
            TSVFFile::FreeParams(WC);
            W.ParseCommand(WC);
            WParsed = true;
        }
        // A frequency change switches the link between its fast and divider modes, which
        // changes how many reply bytes a scan has. Scans still waiting for their read-back were
        // counted in the old mode, so the reader copy checks every earlier statement before the
        // writer copy touches the frequency.
        if (WC.Command == cmdFREQUENCY && RDone < WDone)
            return false;
        if (WC.Command == cmdLOOP || WC.Command == cmdENDLOOP || WC.Command == cmdEOF) {
            if (!LoopStatement())
                return false;
        }
        W.TakeSettings(WC);
        // A long scan keeps the writer waiting until the reader has checked it (see above).
        const bool Long = (WC.Command == cmdSDR || WC.Command == cmdSIR) &&
                          W.ScanLength(WC.Command == cmdSDR) > LongScanBits;
        W.HandOver(WC.Command, WC.Command == cmdLOOP ? WC.ParamInt(pkInteger) : 0, PushCheck(),
                   Long);
        W.ExecuteCommand(WC);
        if (Long)
            LongScanAt = WDone;
        W.EndStatement(WC);
        // The scan state and the reader's record hold the values now; the parameters keep only
        // storage for the next statement's.
        if (WC.Command != cmdEOF)
            TSVFFile::FreeParams(WC);
        WParsed = false;
        ++WDone;
        return true;
    }

    // The writer's side of LOOP and ENDLOOP. False while ENDLOOP waits for the reader, and
    // after going back to the start of the body (nothing to execute then).
    bool LoopStatement() {
        if (WC.Command == cmdEOF) {
            if (Loop.Count > 0)
                W.RaiseLineError("LOOP without ENDLOOP");
            return true;
        }
        if (WC.Command == cmdLOOP) {
            if (Loop.Count > 0)
                W.RaiseLineError("Nested LOOP");
            Loop = {WC.ParamInt(pkInteger), 1, W.Mark(), W.EchoComments};
            return true;
        }
        if (Loop.Count == 0)
            W.RaiseLineError("ENDLOOP without LOOP");
        if (RDone < WDone)
            return false;
        if (!R.FLoopMismatch || Loop.Pass >= Loop.Count) {
            W.EchoComments = Loop.Echo;
            Loop = {};
            return true;
        }
        // Another pass: the writer reads the body again. Its comments were shown once.
        ++Loop.Pass;
        W.Rewind(Loop.Body);
        R.FLoopMismatch = false;
        R.FLoopQuiet = Loop.Pass < Loop.Count;
        W.EchoComments = false;
        WParsed = false;
        return false;
    }

    bool ReaderStep() {
        // After a mismatch the reader stays on the failed statement, and the run ends with this
        // pass: a slice of a long scan must not check it once more.
        if (RC.Command == cmdEOF || T.Failed.load())
            return false;
        if (RC.Command == cmdNone) {
            // The reader never takes up a statement the writer has not executed: it would ask
            // for read-back of a scan that was never shifted. Only the statement whose slices
            // are going out is taken up early, as far as they have gone (FCompareLimit).
            if (RDone >= WDone && !(RDone == WDone && ShiftedInScan > 0))
                return false;
            TSVFFile::TCheck& C = Checks[CheckHead];
            R.TakeOver(C);
            RC.Command = C.Command;
            if (RC.Command == cmdLOOP) {
                R.FLoopMismatch = false;
                R.FLoopQuiet = C.LoopCount > 1;
            } else if (RC.Command == cmdENDLOOP)
                R.FLoopQuiet = false;
            if (++CheckHead == Checks.size())
                CheckHead = 0;
            --CheckCount;
        }
        R.FCompareLimit = RDone == WDone && ShiftedInScan > 0 ? ShiftedInScan : INT64_MAX;
        switch (R.CheckCommand(RC)) {
        case TCompareResult::Match:
            ++RDone;
            if (!R.EndStatement(RC))
                RC.Command = cmdNone;
            return true;
        case TCompareResult::Mismatch:
            T.Failed.store(true);
            return true;
        case TCompareResult::Pending:
            break;
        }
        return false; // read-back not there yet; the same scan is examined next cycle
    }

    TSVFFile& W;
    TSVFFile& R;
    TPlayerThread& T;
    TSVFCommand WC, RC;   // both start with no statement (cmdNone)
    bool WParsed = false; // WC holds a statement parsed but not yet executed
    int64_t WDone = 0;    // statements the writer has executed
    int64_t RDone = 0;    // statements the reader has checked
    int IdlePasses = 0;   // passes in a row that waited for read-back
    TShiftEvent Shift;    // the writer's own OnShift
    // Scans longer than this are checked before the writer goes on (256 KiB of replies).
    static constexpr int64_t LongScanBits = int64_t{1} << 20;
    int64_t LongScanAt = -1;   // the statement number of the last such scan
    int64_t ShiftedInScan = 0; // bits of the writer's scan out so far while it is unfinished
    struct TLoop {
        int32_t Count = 0; // 0: not inside a loop
        int32_t Pass = 0;
        TSVFFile::TReadMark Body{};
        bool Echo = true;
    } Loop;
    // Statements the writer has handed on and the reader has not taken up, oldest at
    // CheckHead. The writer runs at most a USB queue's worth of statements ahead; the slots are
    // reused, so their values keep their storage.
    std::vector<TSVFFile::TCheck> Checks = std::vector<TSVFFile::TCheck>(16);
    size_t CheckHead = 0;
    size_t CheckCount = 0;

    TSVFFile::TCheck& PushCheck() {
        if (CheckCount == Checks.size()) {
            std::rotate(Checks.begin(), Checks.begin() + static_cast<std::ptrdiff_t>(CheckHead),
                        Checks.end());
            CheckHead = 0;
            Checks.resize(Checks.size() * 2);
        }
        // A ring: the slot after the last one, wrapped without a division.
        size_t Slot = CheckHead + CheckCount++;
        if (Slot >= Checks.size())
            Slot -= Checks.size();
        return Checks[Slot];
    }
};

void TSVFFile::HandOver(uint8_t Command, int32_t LoopCount, TCheck& Check, bool WriterWaits) {
    Check.Command = Command;
    Check.LoopCount = LoopCount;
    Check.Line = FLineIndex;
    Check.Chars = FCharsRead;
    Check.Short.Bits = -1;
    if (Command != cmdSDR && Command != cmdSIR)
        return;
    const size_t Side = Command == cmdSDR ? 0 : 1;
    if (const auto Parts = ScanParts(Side == 0); Parts[0]->Tdi.BitLength() == 0 &&
                                                 Parts[2]->Tdi.BitLength() == 0 &&
                                                 Parts[1]->Tdi.BitLength() <= 64) {
        // The writer's TDO stays where it is: it only looks at its length, and the next scan
        // statement gives a new one or none.
        const TScanData& Scan = *Parts[1];
        TShortScan& Short = Check.Short;
        Short.Bits = Scan.Tdi.BitLength();
        Short.HasTdo = Scan.Tdo.BitLength() != 0;
        if (Short.HasTdo) {
            Short.Tdo = Scan.Tdo.Word();
            Short.Mask = Scan.Mask.Word();
        }
        return;
    }
    for (size_t I = 0; I < Check.Parts.size(); ++I) {
        TScanData& Mine = FScans[ScanIndex(cmdHDR) + 2 * I + Side];
        TScanData& To = Check.Parts[I];
        To.Tdi.Assign(Mine.Tdi.BitLength(), 0); // only the length counts for the reader
        To.SharedMask = nullptr;
        if (Mine.Tdi.BitLength() == 0)
            continue; // no bits (no header or trailer): nothing is compared
        if (I == 1) {
            // The scan's own TDO never carries over: it moves, and the writer keeps its length,
            // which says whether the scan captures.
            To.Tdo.swap(Mine.Tdo);
            Mine.Tdo.Assign(To.Tdo.BitLength(), 0);
        } else
            To.Tdo = Mine.Tdo; // a header's or trailer's TDO holds for the scans that follow
        // Without TDO nothing of this part is compared, and its mask is never looked at.
        if (To.Tdo.BitLength() == 0)
            continue;
        if (WriterWaits && Mine.Mask.StoredBytes() > SharedMaskBytes) {
            To.SharedMask = &Mine.Mask;
            To.Mask = TVarLen();
        } else
            To.Mask = Mine.Mask;
    }
}

void TSVFFile::TakeOver(TCheck& Check) {
    FLineIndex = Check.Line;
    FCharsRead = Check.Chars;
    PublishProgress();
    if (Check.Command != cmdSDR && Check.Command != cmdSIR)
        return;
    const size_t Side = Check.Command == cmdSDR ? 0 : 1;
    FShort = Check.Short;
    if (FShort.Bits >= 0)
        return;
    // A bitstream's values are megabytes: a record only keeps the storage of short ones.
    constexpr int64_t KeptBytes = 4096;
    for (size_t I = 0; I < Check.Parts.size(); ++I) {
        TScanData& Mine = FScans[ScanIndex(cmdHDR) + 2 * I + Side];
        TScanData& From = Check.Parts[I];
        if (From.Tdi.BitLength() == 0) {
            // A part of no bits is never looked at: its values stay where they are.
            Mine.Tdi.Assign(0, 0);
            continue;
        }
        Mine.Tdi.swap(From.Tdi);
        Mine.SharedMask = From.SharedMask;
        From.SharedMask = nullptr;
        for (auto [Value, Old] :
             {std::pair{&Mine.Tdo, &From.Tdo}, std::pair{&Mine.Mask, &From.Mask}}) {
            Value->swap(*Old);
            if (Old->StoredBytes() > KeptBytes)
                *Old = TVarLen();
        }
    }
}

void TSVFFile::Start(int64_t Frequency) {
    // If a copy cannot be built, the exception leaves Start and the unstarted thread object is
    // released with it; nothing waits for a thread that never ran.
    auto T = std::make_unique<TSVFThread>();
    T->Reader = std::make_unique<TSVFFile>(FileName());
    T->Writer = std::make_unique<TSVFFile>(FileName());
    // Both copies expect the file as it was when it was opened and its progress measured.
    T->Reader->FileSize = FileSize;
    T->Writer->FileSize = FileSize;

    // Only the writer drives the programmer and echoes comments; the reader only collects
    // read-back and reports mismatches.
    TSVFFile& Wr = *T->Writer;
    Wr.EchoComments = EchoComments;
    Wr.Events = Events;
    Wr.Events.OnReadCaptured = nullptr;
    TSVFFile& Rd = *T->Reader;
    Rd.EchoComments = false;
    Rd.Events.OnMessage = Events.OnMessage;
    Rd.Events.OnReadCaptured = Events.OnReadCaptured;
    Rd.CompareReadBack = CompareReadBack;

    DefaultFrequency = Frequency;
    Wr.DefaultFrequency = Frequency;
    if (Events.OnSetFrequency)
        Wr.FFrequency = Events.OnSetFrequency(Frequency, true);

    TSVFThread* Raw = T.get();
    Wr.FWorker = Raw;
    Rd.FWorker = Raw;
    Thread = std::move(T);
    Raw->Resume([Raw] {
        TSVFPipeline Pipeline(*Raw->Writer, *Raw->Reader, *Raw);
        RunPlayerLoop(
            *Raw, Raw->Writer->Events.OnMessage, [&] { Pipeline.Prologue(); },
            [&] { return Pipeline.Pass(); });
        // A run that failed (a mismatch, a line error) still sends what the writer executed
        // before it, so the target ends where the executed statements left it. A cancelled
        // run sends nothing more.
        const auto& Flush = Raw->Writer->Events.OnFlush;
        if (Flush && !Raw->TerminateRequested()) {
            try {
                Flush();
            } catch (const std::exception&) {
                // The failure that ended the run is already reported; a programmer that is gone
                // now adds nothing to it.
            }
        }
    });
}

int64_t TSVFFile::Progress() const {
    const auto* T = static_cast<const TSVFThread*>(Thread.get());
    if (!T)
        return FProgress.Get();
    // The reader trails: this is how far the comparison has come.
    return std::min(T->Writer->FProgress.Get(), T->Reader->FProgress.Get());
}

int64_t TSVFFile::StatementsExecuted() const {
    const auto* T = static_cast<const TSVFThread*>(Thread.get());
    return T ? T->Writer->FStatementsDone.Get() : 0;
}

int32_t TSVFFile::LineReached() const {
    const auto* T = static_cast<const TSVFThread*>(Thread.get());
    return T ? T->Writer->FLineIndex + 1 : 0;
}

void RegisterSVFFile() {
    static std::once_flag Once;
    std::call_once(Once, [] { TJtagFilesList::Global().Register<TSVFFile>(); });
}
