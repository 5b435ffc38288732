#pragma once

#include <algorithm>
#include <chrono>
#include <deque>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "jtag_file.h"

// A stand-in for the programmer link: records every event a player makes, follows the TAP with a
// next-state table of its own (not the player's walk), and answers read-back from a script.
//
// The trace is a list of tokens: the state name reached by each TCK clock, "SHIFT<n>" or
// "SHIFT<n>E" (with Exit) for a scan, "WAIT<us>" and "FLUSH".
class TEventRecorder {
public:
    // TDO for the k-th scan that captured bits (k from 0), given its TDI bits; by default the
    // device answers with zeros.
    std::function<std::vector<uint8_t>(int K, const std::vector<uint8_t>& Tdi)> Tdo;
    // Each read-back answers "not yet" this many times before it delivers.
    int LateBy = 0;
    // When set, a read-back throws this after answering "not yet" LateBy times (a device that
    // stopped replying, as the link reports it).
    std::string ReadBackError;

    std::vector<std::string> Trace;
    std::vector<std::pair<std::string, int>> Messages;
    std::vector<std::string> Faults; // contract breaches seen by the recorder
    std::vector<std::vector<uint8_t>> ShiftedTdi;
    int Flushes = 0;
    int ReadCalls = 0;
    int State = 0; // RESET

    void Assign(TJtagFile& P) {
        P.Events.OnMessage = [this](const std::string& T, uint8_t S) {
            std::lock_guard<std::mutex> L(FMessagesLock);
            Messages.emplace_back(T, S);
        };
        P.Events.OnClockTms = [this](uint8_t Tdi, uint8_t Tms) {
            if (Tdi != 0)
                Faults.push_back("clock with TDI 1");
            State = Next[State][Tms ? 1 : 0];
            Trace.push_back(Names[State]);
        };
        P.Events.OnShift = [this](const uint8_t* Tdi, const uint8_t* Capture, int64_t Count,
                                  bool Exit) {
            if (Count == 0)
                return;
            if (State != 4 && State != 11)
                Faults.push_back(std::string("shift in ") + Names[State]);
            std::vector<uint8_t> T(Tdi, Tdi + Count), C(Capture, Capture + Count);
            ShiftedTdi.push_back(T);
            bool Any = false;
            for (auto B : C)
                Any = Any || B;
            if (Any)
                FPending.push_back({T, C, FCaptured++});
            Trace.push_back("SHIFT" + std::to_string(Count) + (Exit ? "E" : ""));
            if (Exit)
                State = State == 4 ? 5 : 12;
        };
        P.Events.OnReadCaptured = [this](uint8_t* Out, const uint8_t* Capture, int64_t Count) {
            ++ReadCalls;
            // A read-back with no capture flag set asks for nothing, as the link counts it.
            if (std::none_of(Capture, Capture + Count, [](uint8_t C) { return C != 0; }))
                return true;
            if (FPending.empty()) {
                Faults.push_back("read-back without a capturing shift");
                return true;
            }
            auto& S = FPending.front();
            if (static_cast<int64_t>(S.Tdi.size()) != Count ||
                !std::equal(S.Capture.begin(), S.Capture.end(), Capture))
                Faults.push_back("read-back does not match its shift");
            if (S.Waited++ < LateBy)
                return false;
            if (!ReadBackError.empty())
                throw std::runtime_error(ReadBackError);
            const auto Bits = Tdo ? Tdo(S.Index, S.Tdi) : std::vector<uint8_t>(Count, 0);
            // Like the link, a high TDO bit is any non-zero byte, not necessarily 1.
            for (int64_t I = 0; I < Count; ++I)
                if (S.Capture[I])
                    Out[I] = (I < static_cast<int64_t>(Bits.size()) && Bits[I]) ? 0x08 : 0;
            FPending.pop_front();
            return true;
        };
        P.Events.OnFlush = [this] {
            ++Flushes;
            Trace.push_back("FLUSH");
        };
        P.Events.OnWaitTime = [this](bool, int64_t Us, uint8_t) {
            Trace.push_back("WAIT" + std::to_string(Us));
        };
        P.Events.OnSetFrequency = [](int64_t F, bool) { return F; };
    }

    // The trace between the opening reset and the flushes at the end, space-separated.
    std::string AfterReset() const {
        size_t I = 0, End = Trace.size();
        while (I < End && (Trace[I] == "RESET" || Trace[I] == "FLUSH"))
            ++I;
        while (End > I && Trace[End - 1] == "FLUSH")
            --End;
        std::string S;
        for (; I < End; ++I)
            S += (S.empty() ? "" : " ") + Trace[I];
        return S;
    }

    std::vector<std::string> MessageTexts() {
        std::lock_guard<std::mutex> L(FMessagesLock);
        std::vector<std::string> R;
        for (auto& M : Messages)
            R.push_back(M.first);
        return R;
    }

private:
    struct TPendingRead {
        std::vector<uint8_t> Tdi, Capture;
        int Index;
        int Waited = 0;
    };
    std::deque<TPendingRead> FPending;
    int FCaptured = 0;
    std::mutex FMessagesLock;

    static constexpr const char* Names[16] = {"RESET",    "IDLE",     "DRSELECT",  "DRCAPTURE",
                                              "DRSHIFT",  "DREXIT1",  "DRPAUSE",   "DREXIT2",
                                              "DRUPDATE", "IRSELECT", "IRCAPTURE", "IRSHIFT",
                                              "IREXIT1",  "IRPAUSE",  "IREXIT2",   "IRUPDATE"};
    // IEEE 1149.1 next state for TMS 0 and TMS 1.
    static constexpr int Next[16][2] = {{1, 0},   {1, 2},   {3, 9},   {4, 5},  {4, 5},   {6, 8},
                                        {6, 7},   {4, 8},   {1, 2},   {10, 0}, {11, 12}, {11, 12},
                                        {13, 15}, {13, 14}, {11, 15}, {1, 2}};
};

// Waits for a started player to finish, at most a few seconds.
inline void WaitForEnd(const TJtagFile& P) {
    for (int I = 0; I < 10000 && P.Status() == 0; ++I)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}
