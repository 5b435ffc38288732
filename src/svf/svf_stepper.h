#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "svf_file.h"

// Single steps through an SVF file on the caller's thread, one layer at a time: read a statement,
// parse it, fold it into the persistent state, execute it, check its read-back. The run itself
// never uses this; it is the narrow door through which the unit tests, the fuzz targets and the
// micro-benchmarks look at one layer without a worker thread in between.
class TSVFStepper {
public:
    explicit TSVFStepper(TSVFFile& File) : F(File) {}

    // The words of the next statement as the reader delivers them, values as text.
    std::vector<std::string> ReadWords() {
        std::vector<std::string> Words;
        F.ReadWords(Words);
        return Words;
    }
    void ReadWords(std::vector<std::string>& Words) { F.ReadWords(Words); }
    // The same joined by blanks: the statement without comments, in upper case, its separators
    // collapsed, as the parser sees it.
    std::string ReadStatement() {
        std::string Text;
        for (const std::string& W : ReadWords())
            Text += (Text.empty() ? "" : " ") + W;
        return Text;
    }
    void Parse(TSVFCommand& Command) { F.ParseCommand(Command); }
    void Apply(const TSVFCommand& Command) { F.ApplySettings(Command); }
    // Parses the next statement and folds it into the state, as both copies of a run do.
    void ParseAndApply(TSVFCommand& Command) {
        TSVFFile::FreeParams(Command);
        F.ParseCommand(Command);
        F.ApplySettings(Command);
    }
    void Execute(const TSVFCommand& Command) { F.ExecuteCommand(Command); }
    // Flushes what the statement queued; true once the statement is the end of the file.
    bool End(const TSVFCommand& Command) { return F.EndStatement(Command); }
    TCompareResult Check(const TSVFCommand& Command) { return F.CheckCommand(Command); }
    void ShiftScan(bool Dr) { F.ShiftScan(Dr); }
    TCompareResult CompareScan(bool Dr) { return F.CompareScan(Dr); }

    int32_t LineIndex() const { return F.FLineIndex; }
    int64_t CharsRead() const { return F.FCharsRead; }
    bool AtEof() const { return F.FAtEof; }
    uint8_t EndDR() const { return F.EndDR; }
    uint8_t EndIR() const { return F.EndIR; }
    uint8_t RunState() const { return F.RunState; }
    uint8_t CurrentState() const { return F.CurrentState; }
    void SetCurrentState(uint8_t State) { F.CurrentState = State; }
    // The frequency a FREQUENCY statement without a value asks for (Start's argument in a run).
    void SetDefaultFrequency(int64_t Hz) { F.DefaultFrequency = Hz; }

    // The persistent TDI, TDO, MASK and SMASK of one scan kind (cmdHDR to cmdTIR).
    struct TScanValues {
        TVarLen &Tdi, &Tdo, &Mask, &Smask;
    };
    TScanValues Scan(uint8_t Command) {
        auto& D = F.FScans[TSVFFile::ScanIndex(Command)];
        return {D.Tdi, D.Tdo, D.Mask, D.Smask};
    }

private:
    TSVFFile& F;
};
