#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "compare_result.h"
#include "jtag_file.h"
#include "player_thread.h"
#include "tap_state.h"
#include "var_len.h"

// One XSVF command as read from the file: the opcode at index 0, then its short arguments (sizes,
// states, times). Scan values do not pass through here: the reading copy loads them straight into
// the values it keeps (TdiValue, TdoExpected, TdoMask, ...), so a command of megabytes is held
// once.
struct TXSVFCommand {
    // XWAITSTATE is the longest: opcode, two states, clocks and microseconds.
    static constexpr size_t MaxHead = 11;
    std::array<uint8_t, MaxHead> Head{};
    uint8_t HeadSize = 0;  // 0: no command yet
    uint8_t Pieces = 0;    // XSDRINC: the data pieces after the start address
    int64_t FileBytes = 0; // the whole command in the file, opcode and values included

    bool empty() const { return HeadSize == 0; }
    void clear() {
        HeadSize = 0;
        Pieces = 0;
        FileBytes = 0;
    }
    uint8_t operator[](size_t Index) const { return Head[Index]; }
};

// The XSVF opcodes this player knows: the Xilinx command set and the waiting, looping and reset
// extensions (XWAITSTATE to XTRST). The codes not listed here (0x05, 0x06 and everything from
// 0x1D on) are refused.
enum TXSVFOpcode : uint8_t {
    XCOMPLETE = 0x00,
    XTDOMASK = 0x01,
    XSIR = 0x02,
    XSDR = 0x03,
    XRUNTEST = 0x04,
    XREPEAT = 0x07,
    XSDRSIZE = 0x08,
    XSDRTDO = 0x09,
    XSDRB = 0x0C,
    XSDRC = 0x0D,
    XSETSDRMASKS = 0x0A,
    XSDRINC = 0x0B,
    XSDRE = 0x0E,
    XSDRTDOB = 0x0F,
    XSDRTDOC = 0x10,
    XSDRTDOE = 0x11,
    XSTATE = 0x12,
    XENDIR = 0x13,
    XENDDR = 0x14,
    XSIR2 = 0x15,
    XCOMMENT = 0x16,
    XWAIT = 0x17,
    XWAITSTATE = 0x18,
    LCOUNT = 0x19,
    LDELAY = 0x1A,
    LSDR = 0x1B,
    XTRST = 0x1C,
};

// The 32-bit number at Offset of a command, most significant byte first as XSVF stores it.
inline uint32_t BigEndian32(const TXSVFCommand& C, size_t Offset) {
    return (uint32_t{C[Offset]} << 24) | (uint32_t{C[Offset + 1]} << 16) |
           (uint32_t{C[Offset + 2]} << 8) | uint32_t{C[Offset + 3]};
}

// The name of an opcode for messages ("XSDRTDO"), or "" for one this player refuses.
const char* XSVFOpcodeName(uint8_t Opcode);

// The player of Xilinx XSVF files. The object the front end holds opens and pre-scans the file;
// Start makes the copies that really read and execute it on the worker thread:
//  - pipelined (no XREPEAT of 2 or more in the file): a writer copy queues every command, a reader
//    copy decodes the same file behind it and checks each read-back;
//  - XC9500 method (some XREPEAT of 2 or more): one copy shifts, waits for the read-back and
//    retries a failing shift through the pause states, as the XC9500 needs while it programs its
//    flash;
//  - one copy that waits for each read-back (an LSDR in the file): LSDR repeats its scan until
//    TDO matches, so the next command depends on the read-back of the one before.
class TXSVFFile : public TJtagFile {
public:
    // Opens and pre-scans the file: a file with an opcode this player refuses, or that ends before
    // XCOMPLETE, is refused here, before anything reaches the programmer.
    // Reads the whole file once (the pre-scan): counts the commands for the progress bar and
    // refuses a malformed file before the programmer is touched. KeepLoading, when given, is
    // asked every few thousand commands.
    explicit TXSVFFile(const std::string& FileName, const TKeepLoading& KeepLoading = {});
    ~TXSVFFile() override;

    static std::string FileType() { return "XSVF"; }
    std::string GetFileType() const override { return FileType(); }
    void Start(int64_t DefaultFrequency) override;
    int64_t Progress() const override;
    int64_t ProgressMax() const override { return FProgressMax; }
    int64_t StatementsExecuted() const override;

    // --- Reading and decoding (every copy reads the file through its own handle) -------------
    // Which values a copy loads from the file; the others are skipped and only their lengths
    // kept. The writer of a pipelined run shifts TDI under the mask, the reader compares the
    // read-back with the expected TDO under the mask, the pre-scan only counts.
    struct TKeptValues {
        bool Tdi = true;
        bool Expected = true;
        bool Mask = true;
    };
    TKeptValues Kept;
    // Replaces Command with the next command of the file, and loads its values into TdiValue,
    // TdoExpected, TdoMask, AddressMask and DataMask (the XSDRINC pieces are kept aside) as far
    // as Kept asks for them.
    void ReadCommand(TXSVFCommand& Command);
    // Applies the commands that only set parameters (sizes, masks, end states, XRUNTEST, XREPEAT).
    void Decode(const TXSVFCommand& Command);
    // True for XCOMPLETE; then also sends everything queued, every time it is asked.
    bool IsComplete(const TXSVFCommand& Command);

    // --- Execution (worker thread) ----------------------------------------------------------
    void ExecuteWrite(const TXSVFCommand& Command);
    TCompareResult ExecuteRead(const TXSVFCommand& Command);
    bool ExecuteReadWrite(const TXSVFCommand& Command);
    void GotoState(uint8_t Target);

    // --- State, public for the tests and the copies ------------------------------------------
    TVarLen TdoMask{8};
    TVarLen TdiValue{8};
    TVarLen TdoExpected{8};
    // XSDRSIZE: the length of every DR value. TdoMask follows it when a command uses a value,
    // so a length the file cannot hold allocates nothing before that command is refused.
    uint32_t SdrSize = 8;
    // XSETSDRMASKS: which TDI bits XSDRINC counts up (address) and which it fills from the file.
    TVarLen AddressMask, DataMask;
    int64_t DataMaskBits = 0;
    // XRUNTEST: holds for every later XSDR, XSDRTDO, XSDRINC and XSIR until the next XRUNTEST.
    uint32_t RunTestTime = 0;
    // LCOUNT and LDELAY: how often LSDR tries and how it waits between tries.
    uint32_t LoopCount = 1;
    uint8_t LoopState = tsIDLE;
    uint32_t LoopClocks = 0;
    uint32_t LoopMicroseconds = 0;
    uint8_t RepeatCount = 0;
    uint8_t EndIR = tsIDLE;
    uint8_t EndDR = tsIDLE;
    uint8_t CurrentState = tsRESET;
    bool XC9500Method = false;
    bool HasLsdr = false; // the run waits for every read-back before the next command

    // The messages this player reports itself.
    static constexpr const char* XC9500Warning = "Warning: Using XC9500 programming method.";
    static constexpr const char* RetryingText = "Retrying: retry #";

private:
    struct TPlain {};
    // Open and initial values only, no pre-scan: the scanner and the copies made by Start.
    TXSVFFile(const std::string& FileName, TPlain);
    void OpenFile();
    void PreScan(const TKeepLoading& KeepLoading);
    bool Refill();
    size_t ReadFromSystem(uint8_t* Destination, size_t Count);
    void CheckLeft(uint64_t Count, uint8_t Opcode) const;
    void TakeBytes(uint8_t* Destination, size_t Count);
    void SkipBytes(uint64_t Count);
    // The next value of Bits bits (most significant byte first in the file) into Destination,
    // storage byte 0 holding bits 0 to 7; skipped when Keep is false (Destination then only
    // takes the length).
    void ReadValue(int64_t Bits, TVarLen& Destination, bool Keep);
    void ReadComment(TXSVFCommand& Command);
    static uint8_t* ValueStorage(TVarLen& Destination, int64_t Bits);
    static void ValueFromBlock(const uint8_t* From, int64_t Bits, TVarLen& Destination, bool Keep);
    bool CommandFromBlock(TXSVFCommand& Command, uint8_t Kind, uint8_t Fixed);
    [[noreturn]] void ThrowTruncated(uint8_t Opcode, bool InsideCommand) const;

    // Run-time helpers.
    void Shift(const uint8_t* Capture, bool Exit);
    void RunTestStep();
    void IrRunTestStep();
    void FitMaskToSize();
    void CountDataMaskBits();
    void EnterXC9500Method();
    void WaitIn(uint8_t State, uint32_t Clocks, uint32_t Microseconds, uint8_t EndState);
    void TrstCommand(uint8_t Mode);
    // XSDRINC: the TDI value of step Step (0 the start address, then each data piece).
    void LoadIncrementStep(int Step);
    int IncrementSteps(const TXSVFCommand& Command) const;
    bool CheckedWrite(const TXSVFCommand& Command);
    bool LsdrProcedure();
    // FTdoBits, the read-back of a scan of Count bits, differs from TdoExpected under Mask
    // (every bit when null).
    bool ReadBackDiffers(const TVarLen* Mask, int64_t Count) const;
    bool Attempt();
    bool RetryProcedure();
    TCompareResult ReadBackAndCompare(bool Full);
    void ReportFailingCommand(uint8_t Opcode, const uint8_t* Tdo, const TVarLen* Mask);
    const uint8_t* MaskBits();
    const uint8_t* OnesBits(int64_t Count);
    const uint8_t* ZeroBits(int64_t Count);
    void ExitedShift(uint8_t ExitState);
    static void RunWorker(TReadWriteThread<TXSVFFile>& T);

    using TThread = TReadWriteThread<TXSVFFile>;
    TThread* FRwThread = nullptr; // the typed view of Thread
    // The worker a copy runs on: LSDR's tries (up to 2^32 of them) stop when the user stops.
    const TPlayerThread* FWorker = nullptr;

    int64_t FProgressMax = 0;
    TProgressCounter FProgress;

    struct TFileCloser {
        void operator()(std::FILE* F) const { std::fclose(F); }
    };
    std::unique_ptr<std::FILE, TFileCloser> FFile;
    int64_t FFileSize = 0;
    int64_t FFileOffset = 0;     // bytes handed out by the reader so far
    int64_t FFileBytesRead = 0;  // from the system so far
    bool FCheckFileSize = false; // a regular file: its size must stay what it was
    // Short commands are taken from this block without a call per byte; long values bypass it.
    static constexpr size_t BufferSize = 32768;
    std::unique_ptr<uint8_t[]> FBuffer;
    size_t FBufferFill = 0;
    size_t FBufferPos = 0;

    // Packed bit arrays of the events, kept between commands so a long file does not allocate per
    // scan. TDI needs none: TdiValue's bytes are shifted as they are.
    std::vector<uint8_t> FMaskBits;
    std::vector<uint8_t> FTdoBits;
    std::vector<uint8_t> FOnes;  // capture every bit
    std::vector<uint8_t> FZeros; // capture no bit
    // XSDRINC: the data pieces as the file holds them, most significant byte first.
    std::vector<uint8_t> FIncrementData;
    bool FMaskBitsValid = false; // FMaskBits holds TdoMask as it is now
    bool FReadPrepared = false;  // the reader's arrays already hold the current command's capture
    int FIncrementStep = 0;      // the reader's next XSDRINC step to check
};

// Registers "XSVF" in the global registry; calling it again changes nothing.
void RegisterXSVFFile();
