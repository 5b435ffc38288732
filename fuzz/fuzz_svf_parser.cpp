// The SVF reader and parser on arbitrary bytes: every statement of the input is read, split,
// parsed and applied to the persistent header/trailer/scan state until the end of the file or
// the first error, as the writer copy of a run does without executing anything.

#include <cstddef>
#include <cstdint>
#include <exception>

#include "fuzz_support.h"
#include "line_exception.h"
#include "svf_file.h"
#include "svf_stepper.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
    static TFuzzInputFile Input(".svf");
    TSVFFile File(Input.Write(Data, Size));
    File.Events.OnMessage = [](const std::string&, uint8_t) {};
    File.Events.OnSetFrequency = [](int64_t Hz, bool) { return Hz; };
    TSVFStepper Step(File);
    TSVFCommand Command;
    try {
        // Every statement takes at least its ";" from the file, and the end marker ends the loop:
        // more statements than bytes means the reader stopped moving forwards.
        for (size_t Statements = 0;; ++Statements) {
            if (Statements > Size + 1)
                FuzzFault("the reader delivers statements beyond the end of the file");
            Step.ParseAndApply(Command);
            if (Command.Command == cmdEOF)
                break;
        }
    } catch (const ELineException& E) {
        if (E.LineNumber < 1)
            FuzzFault("line error with line number " + std::to_string(E.LineNumber));
    } catch (const std::exception&) {
        // Conversion and index errors: the run reports them as fatal errors.
    }
    return 0;
}
