#pragma once

#include <functional>
#include <memory>
#include <string>

#include "jtag_file.h"
#include "tap_state.h"

// A player whose whole "file" is a function: it resets the TAP like the real players and then
// runs Body once on the worker thread. Lets link tests drive full runs through the harness.
class TLambdaPlayer : public TJtagFile {
public:
    using TBody = std::function<void(TLambdaPlayer& Self)>;
    explicit TLambdaPlayer(TBody Body) : TJtagFile("lambda"), FBody(std::move(Body)) {}

    static std::string FileType() { return "LAMBDA"; }
    std::string GetFileType() const override { return FileType(); }
    int64_t Progress() const override { return 0; }
    int64_t ProgressMax() const override { return 1; }

    void Start(int64_t DefaultFrequency) override {
        Thread = std::make_unique<TPlayerThread>();
        if (OnSetFrequency)
            OnSetFrequency(DefaultFrequency, true);
        Thread->Resume([this] {
            bool Done = false;
            RunPlayerLoop(
                *Thread, OnMessage,
                [this] {
                    Goto(tsRESET);
                    OnFlush();
                },
                [this, &Done] {
                    if (Done)
                        return false;
                    FBody(*this);
                    Done = true;
                    return false;
                });
        });
    }

    // Walks the TAP with the players' walk.
    void Goto(uint8_t Target) {
        WalkTapState(State, Target, OnClockTms, [] { throw std::runtime_error("bad TAP state"); });
    }

    // Shifts Bits (bit i of Tdi at index i) in Shift-DR or Shift-IR, ending in Exit1, then walks
    // to End; with Capture set reads every bit back.
    std::vector<uint8_t> Scan(bool Ir, const std::vector<uint8_t>& Tdi, bool Capture,
                              uint8_t End = tsIDLE) {
        Goto(Ir ? tsIRSHIFT : tsDRSHIFT);
        const std::vector<uint8_t> Flags(Tdi.size(), Capture ? 1 : 0);
        std::vector<uint8_t> Tdo(Tdi.size(), 0);
        OnShift(Tdi.data(), Flags.data(), static_cast<int64_t>(Tdi.size()), true);
        State = Ir ? tsIREXIT1 : tsDREXIT1;
        Goto(End);
        if (Capture) {
            OnFlush();
            while (!OnReadCaptured(Tdo.data(), Flags.data(), static_cast<int64_t>(Tdi.size())))
                ;
        }
        return Tdo;
    }

    uint8_t State = tsRESET;

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

inline uint64_t ValueOf(const std::vector<uint8_t>& Bits) {
    uint64_t V = 0;
    for (size_t I = 0; I < Bits.size() && I < 64; ++I)
        if (Bits[I])
            V |= 1ull << I;
    return V;
}
