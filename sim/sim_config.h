#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim_tap.h"

// The simulator's configuration, read from the text file $KORVEX_SIM names (format: README.md).
namespace korvexsim {

struct TAttachedDevice {
    std::string Serial = "A6012345";
    uint16_t VendorId = 0x0403;
    uint16_t ProductId = 0xF1A0;
    bool RefuseOpen = false;
};

struct TScriptedScan {
    bool Ir = false;
    int64_t Length = 0;
    std::vector<uint8_t> Bits; // bit 0 first on TDO
};

struct TConfig {
    std::vector<TAttachedDevice> Devices{TAttachedDevice{}};
    std::vector<TDeviceConfig> Chain{TDeviceConfig{}};
    bool ChainModel = true; // false: TDO is TdoConstant, no devices simulated
    uint8_t TdoConstant = 0;
    bool VppTrst = false; // VPP driven high (pin state 3) is the chain's TRST, asserted
    std::string TracePath;
    std::string SummaryPath;
    std::vector<TScriptedScan> Script;
    bool HasScript = false;
    int64_t ReplyBuffer = 16384;
    // Faults.
    int64_t WriteFailFrom = -1;  // FT_Write fails once this many bytes were written
    int64_t WriteMax = -1;       // each FT_Write takes at most this many bytes
    int64_t ReplyDelayPolls = 0; // replies show up only after this many queue-status polls
    int64_t ReplyDelayMs = 0;    // ... or this many milliseconds after their write
    int64_t VanishAfter = -1;    // the device disappears once this many bytes were written
    bool FailQueueStatus = false;
    bool FailRead = false;
    // USB 2.0 full speed as an FTDI device costs it (README.md: "USB costs"); 0 turns a cost off.
    int64_t UsbTransactionUs = 250;      // each FT_Write, and each FT_Read that returns data
    int64_t UsbLatencyUs = 1000;         // a short reply packet waits for the latency timer
    int64_t UsbBytesPerSecond = 1000000; // bulk data rate, both directions
    // Real time: commands execute as the device clock reaches the wall clock, and at most
    // InputBuffer unexecuted bytes are accepted (FT_Write takes fewer when it is full).
    bool Realtime = false;
    int64_t InputBuffer = 4096;
};

// Parses the configuration text; throws std::runtime_error naming the bad line.
TConfig ParseConfig(const std::string& Text);

// Reads a scripted-TDO file: lines "IR|DR <length> <hex>" with hex as SVF writes it.
std::vector<TScriptedScan> ReadScript(const std::string& Path);

} // namespace korvexsim
