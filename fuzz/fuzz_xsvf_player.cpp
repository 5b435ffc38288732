// The XSVF decoder, pre-scan and player on arbitrary bytes. The constructor's pre-scan must
// refuse a bad file with an exception; a file it accepts is played to its end against a
// recording device, in whichever mode (pipelined or XC9500 retries) the pre-scan chose.

#include <cstddef>
#include <cstdint>
#include <exception>
#include <memory>

#include "fuzz_support.h"
#include "xsvf_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
    static TFuzzInputFile Input(".xsvf");
    std::unique_ptr<TXSVFFile> Player;
    try {
        Player = std::make_unique<TXSVFFile>(Input.Write(Data, Size));
    } catch (const std::exception&) {
        return 0; // refused before anything reaches the programmer
    }
    if (Player->ProgressMax() < 1)
        FuzzFault("pre-scan counted no command");
    TRecordingDevice Device(/*CheckShiftState=*/false);
    const int Status = Device.Play(*Player);
    if (Status != 1 && Status != 2)
        FuzzFault("run ended with status " + std::to_string(Status));
    // The copies read the file the pre-scan accepted; a run that passes has executed exactly the
    // commands the pre-scan counted.
    if (Status == 2 && Player->Progress() != Player->ProgressMax())
        FuzzFault("progress " + std::to_string(Player->Progress()) + " of " +
                  std::to_string(Player->ProgressMax()) + " after a passed run");
    return 0;
}
