// The SVF reader and parser on arbitrary bytes: every statement of the input is read, split,
// parsed and applied to the persistent header/trailer/scan state until the end of the file or
// the first error, as the writer copy of a run does without executing anything.
//
// The input is read a second time with a vertical tab before every blank and tab. That is a
// separator like them, but the reader's shortcuts for statements as tools write them refuse it,
// so the second reading goes through the general reader alone: both must give the same
// statements, the same state and the same error.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <string>
#include <typeinfo>
#include <vector>

#include "fuzz_support.h"
#include "line_exception.h"
#include "svf_file.h"
#include "svf_stepper.h"

namespace {

void AddValue(std::string& Out, const TVarLen& V) {
    char Buf[40];
    std::snprintf(Buf, sizeof Buf, " %lld/%lld/%02X:", static_cast<long long>(V.BitLength()),
                  static_cast<long long>(V.StoredBytes()), V.Fill());
    Out += Buf;
    for (int64_t I = 0; I < V.StoredBytes(); ++I) {
        std::snprintf(Buf, sizeof Buf, "%02X", V.Data()[I]);
        Out += Buf;
    }
}

// What the parser made of the input, statement by statement, and how it ended.
std::string Transcript(const std::string& Path, size_t Size) {
    TSVFFile File(Path);
    File.Events.OnMessage = [](const std::string&, uint8_t) {};
    File.Events.OnSetFrequency = [](int64_t Hz, bool) { return Hz; };
    TSVFStepper Step(File);
    TSVFCommand Command;
    std::string Out;
    try {
        // Every statement takes at least its ";" from the file, and the end marker ends the loop:
        // more statements than bytes means the reader stopped moving forwards.
        for (size_t Statements = 0;; ++Statements) {
            if (Statements > Size + 1)
                FuzzFault("the reader delivers statements beyond the end of the file");
            Step.ParseAndApply(Command);
            Out += "\n" + std::to_string(Command.Command) + " @" + std::to_string(Step.LineIndex());
            for (const TSVFParam& P : Command.Parameters) {
                char Buf[64];
                std::snprintf(Buf, sizeof Buf, " %u:%d:%La", static_cast<unsigned>(P.Kind), P.Value,
                              P.Real);
                Out += Buf;
            }
            for (uint8_t Scan = cmdHDR; Scan <= cmdTIR; ++Scan) {
                const auto V = Step.Scan(Scan);
                for (const TVarLen* Value : {&V.Tdi, &V.Tdo, &V.Mask, &V.Smask})
                    AddValue(Out, *Value);
            }
            Out += " " + std::to_string(Step.EndDR()) + std::to_string(Step.EndIR()) +
                   std::to_string(Step.RunState());
            if (Command.Command == cmdEOF)
                break;
        }
    } catch (const ELineException& E) {
        if (E.LineNumber < 1)
            FuzzFault("line error with line number " + std::to_string(E.LineNumber));
        Out += "\nline error " + std::to_string(E.LineNumber) + ": " + E.what();
    } catch (const std::exception& E) {
        // Conversion and index errors: the run reports them as fatal errors.
        Out += std::string("\n") + typeid(E).name() + ": " + E.what();
    }
    return Out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
    static TFuzzInputFile Input(".svf");
    const std::string Direct = Transcript(Input.Write(Data, Size), Size);
    std::vector<uint8_t> General;
    General.reserve(2 * Size);
    for (size_t I = 0; I < Size; ++I) {
        if (Data[I] == ' ' || Data[I] == '\t')
            General.push_back('\v');
        General.push_back(Data[I]);
    }
    const std::string Slow =
        Transcript(Input.Write(General.data(), General.size()), General.size());
    if (Direct != Slow)
        FuzzFault("the reader's shortcut and its general path read the input differently:" +
                  Direct + "\n---- general path:" + Slow);
    return 0;
}
