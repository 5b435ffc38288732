#pragma once

#include <filesystem>
#include <string>
#include <string_view>

// Inside the program every file name is UTF-8 text. The system sees it only through these: on
// Linux the bytes are the name; on Windows the name is UTF-16, and the narrow "ANSI" calls would
// turn every character outside the user's code page into '?'.
namespace platform {

std::filesystem::path PathFromUtf8(std::string_view Name);
std::string Utf8FromPath(const std::filesystem::path& Path);

// UTF-8 from and to UTF-16 (Windows' wide strings). Invalid input becomes U+FFFD rather than
// failing: a name that cannot be converted is reported, not lost.
std::string Utf8FromWide(std::wstring_view Text);
std::wstring WideFromUtf8(std::string_view Text);

} // namespace platform
