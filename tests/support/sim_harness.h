#pragma once

// End-to-end runs on the simulated KORVEX programmer.
//
//   TSimHarness H("tap irlen=8 idcode=0x0A6B5093\n");       // simulator config lines
//   (sim/README.md) auto File = TJtagFilesList::Global().CreateForFile(".svf", Path); TSimRun R =
//   H.Play(*File);                               // opens, plays to the end, closes
//   EXPECT_EQ(R.Status, 2);
//   EXPECT_NE(R.Trace.find("SHIFT DR 32 TDI 00000000 TDO 0A6B5093"), std::string::npos);
//
// The harness points KORVEX_D2XX (KORVEX_LIBFTDI in the libftdi pass, driver_env.h) at
// libkorvex-sim.so and KORVEX_SIM at a config file it writes in a private temporary folder (with
// "trace" and "summary" lines added unless the config has its own), loads the driver and owns one
// TKorvexLink. Link() gives the link for option changes (RTwTime, PActive, timeouts ...) before
// Play, or for driving it by hand. Configure() switches to another scenario; the simulator picks it
// up at the next device search.

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "jtag_file.h"
#include "korvex_link.h"
#include "scratch.h"
#include "usbplow.h"

struct TSimMessage {
    std::string Text;
    uint8_t Severity;
};

struct TSimRun {
    int Status = 0;      // 2 success, 1 failure (also when the programmer was not found/opened)
    bool Opened = false; // OpenKorvex succeeded
    std::vector<TSimMessage> Messages; // OnMessage and the link's warnings, in order
    std::vector<std::string> Lines;    // the same texts only
    std::string Trace;                 // the simulator's trace of the run
    std::string Summary;               // the simulator's totals ("tck_cycles 123" lines)

    bool HasLine(const std::string& Part) const;
};

class TSimHarness {
public:
    explicit TSimHarness(const std::string& Config = "");
    ~TSimHarness();
    TSimHarness(const TSimHarness&) = delete;
    TSimHarness& operator=(const TSimHarness&) = delete;

    // Writes a new simulator configuration; the next search or open uses it.
    void Configure(const std::string& Config);

    TUsbDriver& Driver() { return *FDriver; }
    TKorvexLink& Link() { return *FLink; }

    // Finds and opens the programmer as the controller does (the first one listed when the
    // remembered serial is not attached), binds the file's events to the link, starts it at
    // Frequency, waits for its end (failing it after Timeout), and closes the link.
    TSimRun Play(TJtagFile& File, int64_t Frequency = 3000000,
                 std::chrono::milliseconds Timeout = std::chrono::seconds(60));

    std::string TraceText() const;
    std::string SummaryText() const;
    // One value of the summary ("tck_cycles", "bytes_written", "writes", "reply_bytes",
    // "device_us", "errors"); -1 when absent.
    int64_t SummaryValue(const std::string& Key) const;
    const std::string& Folder() const { return FScratch.Path(); }
    const std::string& TracePath() const { return FTracePath; }

    // Path of libkorvex-sim.so as built.
    static std::string SimLibrary();

private:
    TScratchFolder FScratch{"sim"};
    std::string FTracePath, FSummaryPath;
    int FConfigCount = 0;
    std::unique_ptr<TUsbDriver> FDriver;
    std::unique_ptr<TKorvexLink> FLink;
};
