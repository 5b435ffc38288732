#pragma once

#include <optional>
#include <string>
#include <vector>

// The program's surroundings as UTF-8: its arguments, its own path, the environment and the
// user's settings folder.
namespace platform {

// The command line's arguments, program name first. On Windows main's argv is in the ANSI code
// page, where a file name in another script arrives as '?'; the wide command line is used instead.
std::vector<std::string> Utf8Arguments(int Argc, char** Argv);
// Splits a Windows command line the way the system gives it to programs (CommandLineToArgvW:
// quotes group, backslashes before a quote escape it). Windows only: elsewhere main's arguments
// are already the bytes the caller passed.
std::vector<std::string> SplitCommandLine(const std::wstring& CommandLine);

// The running executable's full path (Argv0 when the system will not say).
std::string ExecutablePath(const char* Argv0);

// An environment variable's value, nullopt when it is not set.
std::optional<std::string> EnvironmentValue(const std::string& Name);
// Sets (or, with nullopt, removes) a variable for this process and the ones it starts.
void SetEnvironmentValue(const std::string& Name, const std::optional<std::string>& Value);

// Where the user's settings go when the program's own folder is read-only: %APPDATA%\korvex on
// Windows; $XDG_CONFIG_HOME/korvex or ~/.config/korvex elsewhere. "." when there is no such place
// (a service account without a home).
std::string UserSettingsFolder();

} // namespace platform
