// Run control of the SVF player: Start, the writer/reader pipeline on the worker thread, progress
// and registration.
//
// Two copies of the player read the same file on one worker thread. The writer copy parses and
// executes each statement at once and only queues programmer commands; the reader copy parses the
// same statements behind it and, for every SDR and SIR, waits for that scan's captured TDO and
// compares it. The writer never waits for the USB round trip; the reader catches up as the
// read-back arrives.
//
// LOOP n; ... ENDLOOP; (a polling loop, as vendors write one for a busy flag): the body runs, and
// at ENDLOOP the writer waits until the reader has checked every scan of the pass. When all of
// them matched, the run goes on after ENDLOOP; otherwise both copies go back to the first
// statement of the body, at most n passes in all. A mismatch in a pass that may still be repeated
// is no error; in the n-th pass it fails the run as any mismatch does.

#include <chrono>
#include <mutex>
#include <thread>

#include "jtag_files_list.h"
#include "svf_file.h"
#include "tap_state.h"

namespace {
using TSVFThread = TReadWriteThread<TSVFFile>;
} // namespace

class TSVFPipeline {
public:
    TSVFPipeline(TSVFFile& Writer, TSVFFile& Reader, TPlayerThread& Thread)
        : W(Writer), R(Reader), T(Thread) {}

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
        W.ApplySettings(WC);
        W.ExecuteCommand(WC);
        W.EndStatement(WC);
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
        // Another pass: both copies read the body again. Its comments were shown once.
        ++Loop.Pass;
        W.Rewind(Loop.Body);
        R.Rewind(RLoopBody);
        R.FLoopMismatch = false;
        R.FLoopQuiet = Loop.Pass < Loop.Count;
        W.EchoComments = false;
        WParsed = false;
        return false;
    }

    bool ReaderStep() {
        if (RC.Command == cmdEOF)
            return false;
        if (RC.Command == cmdNone) {
            // The reader never parses a statement the writer has not executed: it would ask
            // for read-back of a scan that was never shifted.
            if (RDone >= WDone)
                return false;
            R.ParseCommand(RC);
            R.ApplySettings(RC);
            if (RC.Command == cmdLOOP) {
                RLoopBody = R.Mark();
                R.FLoopMismatch = false;
                R.FLoopQuiet = RC.ParamInt(pkInteger) > 1;
            } else if (RC.Command == cmdENDLOOP)
                R.FLoopQuiet = false;
        }
        switch (R.CheckCommand(RC)) {
        case TCompareResult::Match:
            ++RDone;
            if (!R.EndStatement(RC)) {
                TSVFFile::FreeParams(RC);
                RC.Command = cmdNone;
            }
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
    struct TLoop {
        int32_t Count = 0; // 0: not inside a loop
        int32_t Pass = 0;
        TSVFFile::TReadMark Body{};
        bool Echo = true;
    } Loop;
    TSVFFile::TReadMark RLoopBody{};
};

void TSVFFile::Start(int64_t Frequency) {
    // If a copy cannot be built, the exception leaves Start and the unstarted thread object is
    // released with it; nothing waits for a thread that never ran.
    auto T = std::make_unique<TSVFThread>();
    T->Reader = std::make_unique<TSVFFile>(FileName());
    T->Writer = std::make_unique<TSVFFile>(FileName());

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

    DefaultFrequency = Frequency;
    Wr.DefaultFrequency = Frequency;
    if (Events.OnSetFrequency)
        Wr.FFrequency = Events.OnSetFrequency(Frequency, true);

    TSVFThread* Raw = T.get();
    Thread = std::move(T);
    Raw->Resume([Raw] {
        TSVFPipeline Pipeline(*Raw->Writer, *Raw->Reader, *Raw);
        RunPlayerLoop(
            *Raw, Raw->Writer->Events.OnMessage, [&] { Pipeline.Prologue(); },
            [&] { return Pipeline.Pass(); });
    });
}

int64_t TSVFFile::Progress() const {
    const auto* T = static_cast<const TSVFThread*>(Thread.get());
    if (!T)
        return FProgress.Get();
    // The reader trails: this is how far the comparison has come.
    return std::min(T->Writer->FProgress.Get(), T->Reader->FProgress.Get());
}

void RegisterSVFFile() {
    static std::once_flag Once;
    std::call_once(Once, [] { TJtagFilesList::Global().Register<TSVFFile>(); });
}
