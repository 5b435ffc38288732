#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "jtag_events.h"
#include "jtag_parts.h"

// Reads what the JTAG chain says about itself after a reset, through the same events a player
// uses, so it runs on the programmer link (or anything else that implements them).
//
// After Test-Logic-Reset every device has selected IDCODE, or BYPASS when it has no IDCODE
// register; an IDCODE always ends in a 1 bit, BYPASS captures a 0. The scan measures:
//  - the total instruction length: the IR chain is filled with zeros, then ones are shifted in
//    and the zeros that come out before the first one are counted; the IR ends all ones, which
//    selects BYPASS in every device;
//  - the number of devices: with every device in BYPASS (one bit each) the DR chain is filled
//    with zeros and the bits before a one comes out are counted;
//  - each device's IDCODE or BYPASS bit, from a DR scan after a second reset.
// The device nearest the programmer's TDO answers first; positions count from the TDI end.

struct TChainDevice {
    int Position = 0;       // 1 = the device the programmer's TDI drives
    bool HasIdcode = false; // false: it offered BYPASS after reset
    uint32_t Idcode = 0;
    const TJtagMaker* Maker = nullptr; // null: JEP106 code not in the table (or no IDCODE)
    const TJtagPart* Part = nullptr;   // null: not in the part table
};

struct TChainScan {
    bool Ok = false;
    std::string Error; // why the chain could not be read (Ok false)
    int IrLength = 0;  // all instruction registers together
    std::vector<TChainDevice> Devices;
};

class TChainScanner {
public:
    // Uses OnClockTms, OnShift, OnFlush and OnReadCaptured; the frequency is the caller's.
    explicit TChainScanner(const TJtagEvents& Events,
                           const TJtagPartTable& Parts = TJtagPartTable::BuiltIn());

    // Resets the TAPs and reads the chain; leaves every TAP in Test-Logic-Reset. Exceptions from
    // the events (a programmer that stops answering) pass through.
    TChainScan Scan();

    static constexpr int MaxIrBits = 1024; // longest IR chain measured
    static constexpr int MaxDevices = 128; // most devices counted

private:
    // One scan of the IR or DR chain from Run-Test/Idle back to it; returns TDO, one byte a bit.
    std::vector<uint8_t> ShiftAndRead(bool Dr, const std::vector<uint8_t>& Tdi);
    void GotoState(uint8_t Target);

    const TJtagEvents& FEvents;
    const TJtagPartTable& FParts;
    uint8_t FState;
};

class TKorvexLink;
// The scan on the programmer the link has chosen (FindKorvex done): opens it, sets the TCK
// frequency, scans and closes it again. A programmer that cannot be opened or stops answering
// is a failed scan with the reason in Error.
TChainScan ScanChainThrough(TKorvexLink& Link, int64_t FrequencyHz);

// The console lines of a scan: a summary line, then a table with a line per device.
std::vector<std::string> ChainReportLines(const TChainScan& Scan);
// An IDCODE as "0x09604093".
std::string IdcodeHex(uint32_t Idcode);
