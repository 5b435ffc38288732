#pragma once

#include <string>

#include <windows.h>

namespace platform {

// The system's text for a GetLastError code ("Access is denied."), with the number, for messages.
inline std::string WindowsErrorText(DWORD Error) {
    char* Text = nullptr;
    const DWORD N = ::FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                         FORMAT_MESSAGE_IGNORE_INSERTS,
                                     nullptr, Error, 0, reinterpret_cast<char*>(&Text), 0, nullptr);
    std::string Result = N && Text ? std::string(Text, N) : std::string();
    if (Text)
        ::LocalFree(Text);
    while (!Result.empty() &&
           (Result.back() == '\n' || Result.back() == '\r' || Result.back() == ' '))
        Result.pop_back();
    return Result.empty() ? "error " + std::to_string(Error)
                          : Result + " (error " + std::to_string(Error) + ")";
}

} // namespace platform
