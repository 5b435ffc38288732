#pragma once

#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "jtag_file.h"
#include "tap_state.h"

// Moves a TAP and shifts scans through a set of events: what a player does, in a few lines.
class TTapDriver {
public:
    explicit TTapDriver(TJtagEvents Events) : E(std::move(Events)) {}

    void Goto(uint8_t Target) {
        WalkTapState(State, Target, E.OnClockTms,
                     [] { throw std::runtime_error("bad TAP state"); });
    }
    // Queues one scan of Tdi (bit i at index i) in Shift-DR or Shift-IR and walks on to End.
    void Queue(bool Ir, const std::vector<uint8_t>& Tdi, const std::vector<uint8_t>& Capture,
               uint8_t End = tsIDLE) {
        Goto(Ir ? tsIRSHIFT : tsDRSHIFT);
        E.OnShift(Tdi.data(), Capture.data(), static_cast<int64_t>(Tdi.size()), true);
        State = Ir ? tsIREXIT1 : tsDREXIT1;
        Goto(End);
    }
    // Collects the read-back of the oldest queued scan.
    std::vector<uint8_t> Collect(const std::vector<uint8_t>& Capture) {
        std::vector<uint8_t> Tdo(Capture.size(), 0);
        E.OnFlush();
        while (!E.OnReadCaptured(Tdo.data(), Capture.data(), static_cast<int64_t>(Tdo.size())))
            ;
        for (uint8_t& B : Tdo)
            B = B ? 1 : 0;
        return Tdo;
    }
    // One scan with every bit read back.
    std::vector<uint8_t> Scan(bool Ir, const std::vector<uint8_t>& Tdi, uint8_t End = tsIDLE) {
        const std::vector<uint8_t> All(Tdi.size(), 1);
        Queue(Ir, Tdi, All, End);
        return Collect(All);
    }

    TJtagEvents E;
    uint8_t State = tsRESET;
};

// A player whose whole "file" is a function: it resets the TAP like the real players and then
// runs Body once on the worker thread. Lets link tests drive full runs through the harness.
class TLambdaPlayer : public TJtagFile {
public:
    using TBody = std::function<void(TLambdaPlayer& Self, TTapDriver& Tap)>;
    explicit TLambdaPlayer(TBody Body) : TJtagFile("lambda"), FBody(std::move(Body)) {}

    static std::string FileType() { return "LAMBDA"; }
    std::string GetFileType() const override { return FileType(); }
    int64_t Progress() const override { return 0; }
    int64_t ProgressMax() const override { return 1; }

    void Start(int64_t DefaultFrequency) override {
        Thread = std::make_unique<TPlayerThread>();
        if (Events.OnSetFrequency)
            Events.OnSetFrequency(DefaultFrequency, true);
        Thread->Resume([this] {
            TTapDriver Tap(Events);
            RunPlayerLoop(
                *Thread, Events.OnMessage,
                [&] {
                    for (int I = 0; I < 6; ++I)
                        Events.OnClockTms(0, 1);
                    Events.OnFlush();
                },
                [&] {
                    FBody(*this, Tap);
                    Events.OnFlush();
                    return false;
                });
        });
    }

private:
    TBody FBody;
};

// Bits of a value, bit 0 first.
inline std::vector<uint8_t> BitsOf(uint64_t Value, int Count) {
    std::vector<uint8_t> Bits(static_cast<size_t>(Count));
    for (int I = 0; I < Count; ++I)
        Bits[static_cast<size_t>(I)] = static_cast<uint8_t>((Value >> I) & 1);
    return Bits;
}

inline uint64_t ValueOf(const std::vector<uint8_t>& Bits, size_t From = 0, size_t Count = 64) {
    uint64_t V = 0;
    for (size_t I = 0; I < Count && From + I < Bits.size(); ++I)
        if (Bits[From + I])
            V |= 1ull << I;
    return V;
}

// The trace lines that start with Prefix.
inline std::vector<std::string> TraceLines(const std::string& Trace, const std::string& Prefix) {
    std::vector<std::string> Out;
    size_t Pos = 0;
    while (Pos < Trace.size()) {
        size_t End = Trace.find('\n', Pos);
        if (End == std::string::npos)
            End = Trace.size();
        std::string Line = Trace.substr(Pos, End - Pos);
        if (Line.rfind(Prefix, 0) == 0)
            Out.push_back(Line);
        Pos = End + 1;
    }
    return Out;
}
