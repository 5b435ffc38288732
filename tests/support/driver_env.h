#pragma once

// Which driver backend the simulator scenarios go through. The suite runs twice: as written
// (D2XX) and, for the tests CTest registers with the suffix ".libftdi", with KORVEX_TEST_DRIVER set
// to "libftdi". Tests point the link at a driver library with UseDriverLibrary instead of setting
// KORVEX_D2XX themselves, and ask ThroughLibftdi where the two libraries differ on purpose
// (failure texts, listing a device another program holds).

#include <cstdlib>
#include <cstring>
#include <string>

namespace korvextest {

inline bool ThroughLibftdi() {
    const char* E = std::getenv("KORVEX_TEST_DRIVER");
    return E && std::strcmp(E, "libftdi") == 0;
}

// The environment variable that names the driver library in this pass.
inline const char* DriverVariable() {
    return ThroughLibftdi() ? "KORVEX_LIBFTDI" : "KORVEX_D2XX";
}

// Makes the next driver load use Library through this pass's backend.
inline void UseDriverLibrary(const std::string& Library) {
    ::unsetenv(ThroughLibftdi() ? "KORVEX_D2XX" : "KORVEX_LIBFTDI");
    ::setenv(DriverVariable(), Library.c_str(), 1);
}

// How the link reports a fault the simulator injects, up to the closing parenthesis:
// write_fail_from (Write), vanish_after (WriteGone), fail_queue_status and fail_read. libftdi has
// no queue-status call: its one read call fails for both read faults.
enum class TSimFault { Write, WriteGone, QueueStatus, Read };
inline std::string FailureText(TSimFault Fault) {
    const std::string Write = "Cannot write to the KORVEX programmer (";
    if (ThroughLibftdi())
        return Fault == TSimFault::Write || Fault == TSimFault::WriteGone
                   ? Write + "ftdi_write_data status -1, usb bulk write failed)"
                   : "Cannot query the KORVEX programmer (ftdi_read_data status -1, usb bulk read "
                     "failed)";
    switch (Fault) {
    case TSimFault::Write:
        return Write + "FT_Write status 4)";
    case TSimFault::WriteGone:
        return Write + "FT_Write status 2)";
    case TSimFault::QueueStatus:
        return "Cannot query the KORVEX programmer (FT_GetQueueStatus status 4)";
    case TSimFault::Read:
        return "Cannot read from the KORVEX programmer (FT_Read status 4)";
    }
    return "";
}

} // namespace korvextest
