#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

// An error found in one line of a vector file. The worker reports it as
//   Fatal error <message> near line <n>
//   "<line text>"
// so a user can find the statement in an editor.
class ELineException : public std::runtime_error {
public:
    // LineIndex is 0-based; LineNumber is what a user sees, 1-based.
    ELineException(const std::string& Message, int32_t LineIndex, std::string Text)
        : std::runtime_error(Message), LineNumber(LineIndex + 1), LineText(std::move(Text)) {}

    int32_t LineNumber;
    std::string LineText;
};
