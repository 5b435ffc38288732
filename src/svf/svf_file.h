#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "compare_result.h"
#include "jtag_file.h"
#include "var_len.h"

// Statement codes, in the order the keyword of a statement is tested.
enum TSVFCommandCode : uint8_t {
    cmdENDDR = 0,
    cmdENDIR = 1,
    cmdFREQUENCY = 2,
    cmdHDR = 3,
    cmdHIR = 4,
    cmdSDR = 5,
    cmdSIR = 6,
    cmdTDR = 7,
    cmdTIR = 8,
    cmdTRST = 9,
    cmdRUNTEST = 10,
    cmdSTATE = 11,
    cmdEOF = 12, // the end of the file
    cmdLOOP = 13,
    cmdENDLOOP = 14,
    cmdNone = 15, // the record holds no statement yet
};

// Parameter kinds. 0 to 15 are the TAP states (TTapState); the numbers are not in the order the
// keywords are tested (HZ is 27, MAXIMUM 21).
enum TSVFParamKind : uint8_t {
    pkTDI = 16,
    pkTDO = 17,
    pkMASK = 18,
    pkSMASK = 19,
    pkSEC = 20,
    pkMAXIMUM = 21,
    pkENDSTATE = 22,
    pkON = 23,
    pkOFF = 24,
    pkZ = 25,
    pkABSENT = 26,
    pkHZ = 27,
    pkTCK = 28,
    pkSCK = 29,
    pkInteger = 30, // the scan length of HDR to TIR, or the run_count of RUNTEST
};

struct TSVFParam {
    uint8_t Kind = 0;
    int32_t Value = 0;    // kind 30
    TVarLen Vector;       // kinds 16 to 19
    long double Real = 0; // SEC, HZ, MAXIMUM
};

// The parameters of a statement, used like a vector. Clearing keeps the elements, and with them
// the storage of their values: the next statement's values are parsed into memory already there,
// so a file of short statements parses without allocating.
class TSVFParams {
public:
    size_t size() const { return FCount; }
    bool empty() const { return FCount == 0; }
    TSVFParam& operator[](size_t I) { return FItems[I]; }
    const TSVFParam& operator[](size_t I) const { return FItems[I]; }
    TSVFParam* data() { return FItems.data(); }
    TSVFParam* begin() { return FItems.data(); }
    TSVFParam* end() { return FItems.data() + FCount; }
    const TSVFParam* begin() const { return FItems.data(); }
    const TSVFParam* end() const { return FItems.data() + FCount; }
    const TSVFParam& front() const { return FItems.front(); }
    const TSVFParam& back() const { return FItems[FCount - 1]; }
    void clear() { FCount = 0; }
    // A new last parameter of that kind, its numbers zero; its value keeps the storage (and the
    // contents) of an earlier statement's until a value is parsed into it.
    TSVFParam& emplace_back(uint8_t Kind) {
        if (FCount == FItems.size())
            FItems.emplace_back();
        TSVFParam& P = FItems[FCount++];
        P.Kind = Kind;
        P.Value = 0;
        // The value is whatever the kind's parser assigns. Zero bytes are +0.0, written without
        // the slow 80-bit store of the floating point unit.
        std::memset(&P.Real, 0, sizeof P.Real);
        return P;
    }

private:
    std::vector<TSVFParam> FItems;
    size_t FCount = 0;
};

// One parsed statement. The queries return the first parameter of a kind: a keyword given twice
// is parsed twice, and the first one counts.
struct TSVFCommand {
    uint8_t Command = cmdNone;
    TSVFParams Parameters;

    bool HasParam(uint8_t Kind) const { return Find(Kind) != nullptr; }
    int32_t ParamInt(uint8_t Kind) const;
    long double ParamReal(uint8_t Kind) const;
    const TVarLen* ParamVector(uint8_t Kind) const;

private:
    const TSVFParam* Find(uint8_t Kind) const;
};

// The SVF player. One class holds the four layers, each in its own source file:
//   svf_reader.cpp    block reader, comments, statements, words, line text for errors
//   svf_parser.cpp    statement to TSVFCommand, and the persistent header/trailer/scan state
//   svf_executor.cpp  commands to events, scan composition, read-back comparison
//   svf_run.cpp       Start, the writer/reader pipeline on the worker thread, registration
//
// During a run three objects hold the same file, each with its own handle: the player the
// registry built (it only knows the size), a writer copy that parses and executes every statement
// at once, and a reader copy that trails behind and checks the read-back of every scan. The reader
// takes the expected values from the writer (TCheck) and reads the file only for an error report.
class TSVFFile : public TJtagFile {
public:
    // Opens the file; "Cannot open file <name> for read." when that fails.
    explicit TSVFFile(const std::string& FileName);
    ~TSVFFile() override;

    static std::string FileType() { return "SVF"; }
    std::string GetFileType() const override { return FileType(); }
    void Start(int64_t DefaultFrequency) override;
    int64_t Progress() const override;
    int64_t ProgressMax() const override { return FileSize; }
    int64_t StatementsExecuted() const override;
    int32_t LineReached() const override;

    // Size of one block read from the file.
    static constexpr int BlockSize = 4096;
    // The longest scan played, header and trailer included: 2^28 bits, 90 s of TCK at 3 MHz,
    // room for the bitstreams of the CPLDs and FPGAs this programmer serves shifted in one SDR.
    // A damaged or hostile length (SDR 2147483647) is refused with its line instead of taking
    // hours of shifting.
    static constexpr int64_t MaxScanBits = int64_t{1} << 28;
    // Scans are composed, shifted and compared in slices of this many bits (1 MiB packed), so
    // the memory a scan takes does not grow with a length the file did not spell out. The
    // bitstream scans of the devices served here fit in one.
    static constexpr int64_t SliceBits = int64_t{1} << 23;
    // The most bits a mismatch report of a scan longer than one slice shows.
    static constexpr int64_t ReportBits = int64_t{1} << 16;
    // What the reader delivers once the file is exhausted, as if it stood in the file. Only the
    // marker itself ends the file: the same word written in the file is an unknown command.
    static constexpr std::string_view EndMarker = "__EOF;";
    static constexpr std::string_view EndWord = "__EOF";

private:
    friend class TSVFPipeline;
    friend class TSVFStepper;

    // Raises an ELineException for the line being read, with that line's text.
    [[noreturn]] void RaiseLineError(const std::string& Message);
    // The file no longer has the size it had when it was opened.
    [[noreturn]] void ThrowFileChanged();
    int64_t FileSizeNow() const; // -1 when the system cannot tell

    // A place in the file to read again from (the body of a LOOP).
    struct TReadMark {
        int64_t Chars = 0;
        int32_t Line = 0;
        bool LastWasCR = false;
    };
    TReadMark Mark() const { return {FCharsRead, FLineIndex, FLastWasCR}; }
    void Rewind(const TReadMark& Mark);

    // The persistent values of one scan kind: what a scan statement sets and the next one of the
    // same kind may carry over.
    struct TScanData {
        TVarLen Tdi, Tdo, Mask, Smask;
        // The reader's record of a long scan compares under the writer's own mask instead of a
        // copy of megabytes: the writer leaves its values alone until that scan is checked.
        const TVarLen* SharedMask = nullptr;
        const TVarLen& CompareMask() const { return SharedMask ? *SharedMask : Mask; }
    };
    // Index of a scan kind in FScans: the statement codes HDR to TIR in order.
    static size_t ScanIndex(uint8_t Command) { return static_cast<size_t>(Command - cmdHDR); }

    // A scan of at most 64 bits without header or trailer as words: its length (-1: not such a
    // scan), whether it has TDO, and TDO and MASK, bit 0 first.
    struct TShortScan {
        int64_t Bits = -1;
        bool HasTdo = false;
        uint64_t Tdo = 0, Mask = 0;
    };
    // The reader's checks of such a scan, which it took over as words; the values are only
    // set up when a mismatch is to be shown.
    TCompareResult CompareShortScan(bool Dr);
    void SetShortScanValues(bool Dr);

    // What the reader copy needs of one statement the writer executed: the reader never reads
    // the file itself, so each statement is parsed once. For SDR and SIR the expected values of
    // the header, the scan and the trailer (lengths, TDO and MASK; TDI is never compared).
    // Records are reused, so their values keep their storage and a run of short scans does not
    // allocate once it is under way.
    struct TCheck {
        uint8_t Command = cmdNone;
        int32_t LoopCount = 0; // LOOP
        int32_t Line = 0;      // the line the writer had read up to
        int64_t Chars = 0;     // the characters the writer had read
        std::array<TScanData, 3> Parts;
        // A scan of at most 64 bits without header or trailer, the bulk of a CPLD file, is
        // handed over as words instead of values.
        TShortScan Short;
    };
    // The writer fills Check from the statement it has just folded into its state and is about
    // to execute; the scan's own TDO moves over (it never carries over to the next statement).
    // WriterWaits: the writer will not change its values before the reader has checked this
    // statement, so long masks are shared rather than copied.
    void HandOver(uint8_t Command, int32_t LoopCount, TCheck& Check, bool WriterWaits = false);
    // The reader takes the statement over: the values change places with its own, and Check
    // keeps the old ones' storage for a later statement.
    void TakeOver(TCheck& Check);

    // --- Reader ---------------------------------------------------------------------------------
    char NextChar();
    char PeekChar();
    void FillBuffer();
    // Reads the next statement up to its ";" in one pass and hands each word to the parser as
    // it ends: comments removed (and echoed), separators ending words (inside parentheses they
    // vanish, as a value may be wrapped over lines), parentheses standing apart from their
    // neighbours, upper case. The statement text is never kept as a whole.
    void ReadStatement();
    // ReadStatement's shortcut for the commonest statement line; false when it does not apply
    // (nothing is read then). TriedAt: the block position where the statement shortcut was
    // tried, if it was.
    bool ReadTypicalStatement(int& TriedAt);
    // The words of the next statement as text, values included: the reader alone, without the
    // parser's interpretation (for the tests and the micro-benchmarks).
    void ReadWords(std::vector<std::string>& Words);
    // The raw text of the line with that 0-based index. Rewinds the file: only for error reports.
    std::string ReadLineText(int32_t LineIndex);

    // A word as the reader builds it. A value the parser expects is decoded as its digits
    // arrive; any other word is collected as upper-case text, up to Cap characters.
    void OpenWord(char First);
    void AppendWord(const char* Text, size_t Count);
    void CloseWord(bool Closed);

    // --- Parser ---------------------------------------------------------------------------------
    void ParseCommand(TSVFCommand& Command);
    // One word of a statement the reader found simple, Begin to End in its block.
    void TakeSimpleWord(const char* Begin, const char* End);
    // The value of up to 16 upper-case hexadecimal digits (no more than 64 bits long) that
    // Digits points to: what BeginValue, FeedHex and EndValue make of it, in one step.
    void TakeShortValue(const char* Digits, size_t Count);
    // The same for the digits already decoded: Value holds the last Count of them.
    void StoreShortValue(uint64_t Value, size_t Count);
    // A scan or RUNTEST statement as tools write it (SDR 36 TDI (C612E7696) TDO (17DFFBDAF);
    // RUNTEST IDLE 200 TCK;), whole in P .. End, the buffer readable 16 bytes beyond: parsed
    // in one pass into the statement, which needs no further checks. Returns its ";", or null
    // when the statement has any other shape; nothing is changed then.
    const char* TakeTypicalStatement(const char* P, const char* End);
    // What the parser makes of the word just ended (upper case).
    void TakeWord(std::string_view Word);
    // A value "(digits)": its storage is prepared at the "(", the digits are decoded as they are
    // read (FeedHex returns where the digits stop), and EndValue checks it at its end.
    void BeginValue();
    const char* FeedHex(const char* P, const char* End);
    void AddDigit(char C); // one character of a value, slowly
    void EndValue(bool Closed);
    void GrowValue();
    // The checks that need the whole statement, once its ";" has been read.
    void FinishStatement();
    // The first error of a statement is kept and raised once the statement has been read, so
    // that it names the line of the ";"; the words after it are only read.
    enum TFrontError : uint8_t { feNone, feLine, feArgument, feRange };
    void Fail(TFrontError Kind, std::string Text);
    void ApplySettings(const TSVFCommand& Command);
    // The same, the scan values moved out of Command instead of copied (a bitstream's are
    // megabytes); the run's copies use it, as they never look at a command's values again.
    void TakeSettings(TSVFCommand& Command);
    void ApplySettings(const TSVFCommand& Command, TSVFCommand* Source);
    static void FreeParams(TSVFCommand& Command);

    // --- Executor -------------------------------------------------------------------------------
    void ExecuteCommand(const TSVFCommand& Command);
    // Ends a statement: true when it was the end of the file, which also sends what is queued.
    bool EndStatement(const TSVFCommand& Command);
    TCompareResult CheckCommand(const TSVFCommand& Command);
    void ShiftScan(bool Dr);
    TCompareResult CompareScan(bool Dr);
    // True when bits From .. From+Count-1 of the scan differ where compared; FCaptured holds the
    // read-back of the slice SliceFrom .. SliceFrom+SliceCount-1 that contains them.
    bool SliceDiffers(bool Dr, int64_t SliceFrom, int64_t SliceCount, int64_t From,
                      int64_t Count) const;
    // The expected and read bits From .. From+Count-1 of a scan of Length bits, and the line of
    // the failing statement.
    void ReportMismatch(bool Dr, int64_t SliceFrom, int64_t From, int64_t Count, int64_t Length);
    void GotoState(uint8_t Target);

    // Header, scan and trailer of the DR (or IR) side, in shifting order.
    std::array<const TScanData*, 3> ScanParts(bool Dr) const {
        const size_t Side = Dr ? 0 : 1;
        return {&FScans[ScanIndex(cmdHDR) + Side], &FScans[ScanIndex(cmdSDR) + Side],
                &FScans[ScanIndex(cmdTDR) + Side]};
    }
    // Header, scan and trailer together.
    int64_t ScanLength(bool Dr) const {
        const size_t Side = Dr ? 0 : 1;
        return FScans[ScanIndex(cmdHDR) + Side].Tdi.BitLength() +
               FScans[ScanIndex(cmdSDR) + Side].Tdi.BitLength() +
               FScans[ScanIndex(cmdTDR) + Side].Tdi.BitLength();
    }
    // ScanLength, refused with the line when longer than MaxScanBits.
    int64_t CheckedScanLength(bool Dr);
    // Points FSliceCapture at the compare flags of bits From .. From+Count-1 of the scan (and
    // FSliceTdi at those bits when WithTdi), packed: into the value itself when one part holds
    // them all from a byte boundary on, otherwise into FCapture and FTdi, composed there.
    void ComposeSlice(bool Dr, int64_t From, int64_t Count, bool WithTdi);
    void ReadBlock();
    // The frequency of a FREQUENCY statement: its HZ value rounded, or DefaultFrequency.
    int64_t FrequencyOf(const TSVFCommand& Command) const;
    // Hands a FREQUENCY statement to the programmer; its refusal becomes a line error.
    void SetFrequency(const TSVFCommand& Command, bool Send);
    // A RUNTEST: clocks, time or both in the run state.
    void RunTest(const TSVFCommand& Command);
    // The progress only moves forward, also when a LOOP reads its body again.
    void PublishProgress() {
        if (FCharsRead > FProgress.Get())
            FProgress.Set(FCharsRead);
    }
    void EchoComment(std::string& Comment);

    // Persistent SVF state: the values of HDR, HIR, SDR, SIR, TDR and TIR, the end states and
    // the run state, and where the device's TAP is believed to be.
    std::array<TScanData, 6> FScans;
    uint8_t EndIR = 1;    // IDLE
    uint8_t EndDR = 1;    // IDLE
    uint8_t RunState = 1; // IDLE
    uint8_t CurrentState = 0;
    int64_t DefaultFrequency = 0;
    int64_t FFrequency = 0;     // the TCK frequency the programmer really runs, 0 until known
    bool FLoopQuiet = false;    // a mismatch now only marks the loop pass as failed
    bool FLoopMismatch = false; // some scan of the current loop pass did not match

    // The worker a copy runs on. The statement reader looks at its termination request once a
    // block, so a file that never ends (a device, gigabytes of blanks) still stops when asked.
    const TPlayerThread* FWorker = nullptr;

    int FFileHandle = -1;
    // The system is asked for the file in pieces of ReadAheadSize, which are handed to the
    // statement builder in blocks of BlockSize: a bitstream file then costs one system call per
    // 64 KiB instead of one per block. Allocated at the first read (the player the registry
    // holds never reads).
    static constexpr size_t ReadAheadSize = 64 * 1024;
    std::vector<char> FReadAhead;
    size_t FReadAheadFill = 0;
    size_t FReadAheadPos = 0;
    int64_t FileSize = 0;        // when opened; the copies of a run take the player's
    int64_t FFileBytesRead = 0;  // from the system so far
    bool FCheckFileSize = false; // a regular file, and no error report rereading it
    // A block and 16 bytes more: the statement shortcut loads keywords and digits 8 and 16 at
    // a time, also at the end of a block.
    std::array<char, BlockSize + 16> FBuffer{};
    int FBufferFill = 0;
    int FBufferPos = 0;
    bool FAtEof = false;
    bool FLastWasCR = false; // a LF right after a CR ends the same line
    // CR LF, a lone CR and a lone LF each end one line, so files from any system number their
    // lines as an editor does.
    void CountLine(char Ch) {
        if (Ch == '\r') {
            ++FLineIndex;
            FLastWasCR = true;
        } else {
            if (Ch == '\n' && !FLastWasCR)
                ++FLineIndex;
            FLastWasCR = false;
        }
    }
    int32_t FLineIndex = 0;
    int64_t FCharsRead = 0;
    TProgressCounter FProgress;       // FCharsRead as the UI thread sees it
    TProgressCounter FStatementsDone; // statements the writer copy has executed

    bool FStatementAtEnd = false; // the statement's ";" came from the end marker
    std::string FComment;

    // The word being read.
    enum TWordRole : uint8_t {
        wrCommand, // the statement's keyword
        wrLength,  // the length of a scan statement
        wrKeyword, // a parameter keyword, or a number belonging to the next or to none
        wrValue,   // the value of TDI, TDO, MASK or SMASK
        wrMaxReal, // the time after MAXIMUM
        wrMaxSec,  // the SEC after that time
        wrSkip,    // the statement has failed: its words are only read
        wrCollect, // ReadWords: every word as text
    };
    bool FWordOpen = false;
    bool FWordIsValue = false;
    std::string FWord; // upper-case text, FWordLength characters used
    size_t FWordLength = 0;
    size_t FWordCap = 0;
    std::vector<std::string>* FCollected = nullptr; // ReadWords

    // The statement being parsed.
    TSVFCommand* FCommand = nullptr;
    TWordRole FRole = wrCommand;
    int32_t FWordCount = 0;
    int64_t FLength = 0;    // the scan length, 0 outside scan statements
    size_t FValueParam = 0; // the parameter the value or the MAXIMUM time belongs to
    bool FEndWord = false;  // the first word is the end marker's
    bool FPrevFree = false; // the previous word belongs to no keyword yet (FPrevWord)
    std::string FPrevWord;  // which a SEC or HZ after it takes as its time
    int FFreeCount = 0;     // words no keyword took, in FFreeWords the first two of them
    std::array<std::string, 2> FFreeWords;
    TFrontError FError = feNone;
    bool FTypical = false; // TakeTypicalStatement took the whole statement
    std::string FErrorText;

    // The value being decoded: digit pairs in reading order into the parameter's storage; at
    // the ")" reversed in place (and moved by half a byte for an odd count), so the rightmost
    // digits become byte 0. Only the bytes the length can use are held: a value with more
    // digits keeps the last ones.
    TVarLen* FValue = nullptr;
    uint8_t* FValueBytes = nullptr;
    int64_t FValueUsed = 0;  // bytes written
    int64_t FValueRoom = 0;  // bytes writable
    int64_t FValueNeed = 0;  // the bytes of the length, and one for an odd digit
    int64_t FDigits = 0;     // digits read
    uint8_t FHighNibble = 0; // the digit waiting for its partner (odd FDigits)
    // The rightmost character that is no digit, and its neighbours, for the message.
    int64_t FBadAt = -1;
    char FBadBefore = 0, FBadChar = 0, FBadAfter = 0;
    bool FBadNeedsAfter = false;
    char FLastDigit = 0;

    // Packed bit arrays of one slice of a scan, reused between scans.
    std::vector<uint8_t> FTdi, FCapture, FCaptured;
    // The slice ComposeSlice prepared; valid until the scan state changes.
    const uint8_t* FSliceTdi = nullptr;
    const uint8_t* FSliceCapture = nullptr;
    int64_t FCompareFrom = 0;    // the first bit of the scan whose read-back is still to check
    bool FSlicePrepared = false; // FSliceCapture holds the slice that starts at FCompareFrom
    // The scan statement the reader took over last, when it came as words.
    TShortScan FShort;
    // Bits of the scan the writer has shifted, while the reader checks a scan still going out.
    int64_t FCompareLimit = INT64_MAX;
};

// Registers "SVF" in the global registry; further calls do nothing.
void RegisterSVFFile();
