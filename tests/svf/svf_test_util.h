#pragma once

#include <cstdint>
#include <cstdio>
#include <deque>
#include <fstream>
#include <functional>
#include <mutex>
#include <string>
#include <unistd.h>
#include <vector>

#include "scratch.h"
#include "svf_file.h"
#include "svf_stepper.h"

// Helpers shared by the SVF player tests: temporary files and a recording of the events.

// A file of its own for every call, in the test program's scratch folder.
inline std::string WriteTemp(const std::string& Name, const std::string& Text) {
    static int Counter = 0;
    return SuiteScratch().Write(std::to_string(++Counter) + "-" + Name, Text);
}

inline std::string Bits(const uint8_t* P, int64_t N) {
    std::string S;
    for (int64_t I = 0; I < N; ++I)
        S.push_back(P[I] ? '1' : '0');
    return S;
}

// Records every event call as one line of text, in order; the read-back is answered from a
// queue of bit strings (bit 0 first), optionally only after a number of refused polls.
struct TEventLog {
    std::mutex M;
    std::vector<std::string> Calls;
    std::vector<std::pair<std::string, int>> Messages;
    std::string Tms;
    std::deque<std::string> Answers; // one per OnReadCaptured that delivers
    int LatePolls = 0;               // polls refused before each answer
    int Refused = 0;
    int PendingShifts = 0; // shifts not yet collected
    bool FrequencyUnderPending = false;
    bool TrstDriven = true; // what OnSetTrst answers

    void Add(const std::string& S) {
        std::lock_guard<std::mutex> L(M);
        Calls.push_back(S);
    }

    void Attach(TJtagFile& P) {
        P.Events.OnMessage = [this](const std::string& T, uint8_t S) {
            std::lock_guard<std::mutex> L(M);
            Messages.emplace_back(T, S);
        };
        P.Events.OnShift = [this](const uint8_t* Tdi, const uint8_t* Cap, int64_t N, bool Exit) {
            ++PendingShifts;
            Add("SHIFT " + std::to_string(N) + " " + Bits(Tdi, N) + " " + Bits(Cap, N) +
                (Exit ? " exit" : ""));
        };
        P.Events.OnReadCaptured = [this](uint8_t* Tdo, const uint8_t* Cap, int64_t N) {
            if (Refused < LatePolls) {
                ++Refused;
                return false;
            }
            Refused = 0;
            --PendingShifts;
            std::string A;
            if (!Answers.empty()) {
                A = Answers.front();
                Answers.pop_front();
            }
            for (int64_t I = 0; I < N; ++I)
                if (Cap[I])
                    Tdo[I] =
                        (I < static_cast<int64_t>(A.size()) && A[static_cast<size_t>(I)] == '1')
                            ? 0x08
                            : 0;
            Add("READ " + std::to_string(N));
            return true;
        };
        P.Events.OnFlush = [this] { Add("FLUSH"); };
        P.Events.OnClockTms = [this](uint8_t, uint8_t T) {
            Tms.push_back(static_cast<char>('0' + T));
            Add("TMS " + std::to_string(T));
        };
        P.Events.OnWaitTime = [this](bool Sck, int64_t T, uint8_t Tms) {
            Add("WAIT " + std::to_string(Sck) + " " + std::to_string(T) + " " +
                std::to_string(Tms));
        };
        P.Events.OnRunClocks = [this](bool Sck, int64_t N, uint8_t Tms) {
            Add("RUN " + std::to_string(Sck) + " " + std::to_string(N) + " " + std::to_string(Tms));
        };
        P.Events.OnSetTrst = [this](bool On, bool Drive) {
            Add("TRST " + std::to_string(On) + " " + std::to_string(Drive));
            return TrstDriven;
        };
        P.Events.OnSetFrequency = [this](int64_t F, bool Send) {
            if (PendingShifts > 0)
                FrequencyUnderPending = true;
            Add("FREQ " + std::to_string(F) + " " + std::to_string(Send));
            return F;
        };
    }

    // The calls other than TMS clocks and flushes, for checks that look at the shifts only.
    std::vector<std::string> Without(std::initializer_list<const char*> Prefixes) const {
        std::vector<std::string> Out;
        for (const std::string& C : Calls) {
            bool Skip = false;
            for (const char* P : Prefixes)
                Skip = Skip || C.rfind(P, 0) == 0;
            if (!Skip)
                Out.push_back(C);
        }
        return Out;
    }
};
