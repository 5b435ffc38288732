#pragma once

// What the fuzz targets share: the input written to a file (the players read files by name), and
// a recording device that stands in for the programmer link.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "jtag_file.h"

// A file of this process that holds the current input; rewritten for every input.
class TFuzzInputFile {
public:
    explicit TFuzzInputFile(const std::string& Extension);
    ~TFuzzInputFile();
    TFuzzInputFile(const TFuzzInputFile&) = delete;
    TFuzzInputFile& operator=(const TFuzzInputFile&) = delete;

    const std::string& Write(const uint8_t* Data, size_t Size);
    const std::string& Path() const { return FPath; }

private:
    std::string FPath;
};

// Stops the fuzzer with a message, as a crash: a broken contract between player and link.
[[noreturn]] void FuzzFault(const std::string& What);

// Records the events of one run and answers read-back from what was shifted, so every run ends
// without a device. It follows the TAP with its own next-state table and checks the contract the
// programmer link relies on:
//  - every read-back that asks for captured bits matches the oldest capturing shift not yet read
//    back, bit count and capture flags alike;
//  - a run that reports success has read back every capturing shift.
// With CheckShiftState, a shift must start in Shift-DR or Shift-IR (XSVF's XSDRC and XSDRTDOC
// shift wherever the file left the TAP, so that player is not held to it).
class TRecordingDevice {
public:
    explicit TRecordingDevice(bool CheckShiftState) : FCheckShiftState(CheckShiftState) {}

    void Assign(TJtagFile& Player);
    // Starts the player and waits for its end; a run that does not end in Limit seconds is a hang.
    // A valid file may ask for billions of shifts (an XSVF LSDR loop of 2^32 passes that never
    // matches): after ShiftBudget shifts the run is cancelled, and then it must end promptly.
    int Play(TJtagFile& Player, int LimitSeconds = 20);
    static constexpr uint64_t ShiftBudget = 200000;

    uint64_t Clocks = 0;
    uint64_t ShiftedBits = 0;
    uint64_t Messages = 0;

private:
    struct TPending {
        std::vector<uint8_t> Tdi, Capture;
    };
    bool FCheckShiftState;
    uint8_t FState = 0; // Test-Logic-Reset
    std::deque<TPending> FPending;
    uint64_t FReads = 0;
    std::atomic<uint64_t> FShifts{0};
};
