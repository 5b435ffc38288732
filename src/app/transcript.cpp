#include "transcript.h"

#include "jtag_events.h"
#include "native_file.h"
#include "run_report.h"

bool TTranscript::Start(const std::string& What) {
    return Write("====", "start: " + What);
}

bool TTranscript::End(const std::string& Outcome) {
    return Write("====", "end: " + Outcome);
}

bool TTranscript::Line(const std::string& Text, uint8_t Severity) {
    const char* Tag = Severity == sevError     ? " ERR"
                      : Severity == sevWarning ? "WARN"
                      : Severity == sevComment ? "  //"
                                               : "    ";
    // A console message may hold several lines (a fatal error and its statement).
    bool Ok = true;
    size_t Start = 0;
    for (;;) {
        size_t End = Text.find_first_of("\r\n", Start);
        Ok = Write(Tag, Text.substr(Start, End == std::string::npos ? End : End - Start)) && Ok;
        if (End == std::string::npos)
            break;
        if (Text.compare(End, 2, "\r\n") == 0)
            ++End;
        Start = End + 1;
    }
    return Ok;
}

bool TTranscript::Write(const std::string& Tag, const std::string& Text) {
    if (FFileName.empty())
        return true;
    // Appended whole, in one write, even with other processes writing to the same file; with the
    // line end the system's own text tools expect (Notepad before Windows 10 showed a transcript
    // with bare line feeds as one long line).
    return platform::AppendToFile(
        FFileName, IsoTime(Now()) + " " + Tag + " " + Text + platform::TextLineEnd(), &FLastError);
}
