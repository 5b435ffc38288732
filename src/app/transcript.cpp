#include "transcript.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

#include "jtag_events.h"
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
    const std::string Line = IsoTime(Now()) + " " + Tag + " " + Text + "\n";
    // O_APPEND: every write lands at the end of the file, whole, even with other processes
    // writing to it.
    const int Fd = ::open(FFileName.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (Fd < 0) {
        FLastError = std::strerror(errno);
        return false;
    }
    const ssize_t Written = ::write(Fd, Line.data(), Line.size());
    FLastError = Written < 0 ? std::strerror(errno) : "";
    ::close(Fd);
    if (Written >= 0 && Written != static_cast<ssize_t>(Line.size()))
        FLastError = "the line was cut short (disk full?)";
    return Written == static_cast<ssize_t>(Line.size());
}
