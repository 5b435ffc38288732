// The whole SVF player on arbitrary bytes: Start, the writer and reader copies on the worker
// thread, the TAP walks, scans, waits and read-back compares, against a recording device that
// answers every read-back at once. A run must end, keep the read-back contract and never crash.

#include <cstddef>
#include <cstdint>

#include "fuzz_support.h"
#include "svf_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
    static TFuzzInputFile Input(".svf");
    TSVFFile Player(Input.Write(Data, Size));
    TRecordingDevice Device(/*CheckShiftState=*/true);
    const int Status = Device.Play(Player);
    if (Status != 1 && Status != 2)
        FuzzFault("run ended with status " + std::to_string(Status));
    return 0;
}
