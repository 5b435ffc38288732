#include <cstdlib>

#include <windows.h>

#include <shellapi.h>

#include "native_path.h"
#include "native_process.h"

namespace platform {

std::vector<std::string> SplitCommandLine(const std::wstring& CommandLine) {
    std::vector<std::string> Result;
    int Count = 0;
    wchar_t** Words = ::CommandLineToArgvW(CommandLine.c_str(), &Count);
    if (!Words)
        return Result;
    for (int I = 0; I < Count; ++I)
        Result.push_back(Utf8FromWide(Words[I]));
    ::LocalFree(Words);
    return Result;
}

std::vector<std::string> Utf8Arguments(int Argc, char** Argv) {
    std::vector<std::string> Result = SplitCommandLine(::GetCommandLineW());
    // The runtime and the system split alike; should they ever disagree on the count, the narrow
    // arguments are at least the ones main was given.
    if (static_cast<int>(Result.size()) != Argc)
        Result.assign(Argv, Argv + Argc);
    return Result;
}

std::string ExecutablePath(const char* Argv0) {
    std::wstring Path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD N = ::GetModuleFileNameW(nullptr, Path.data(), static_cast<DWORD>(Path.size()));
        if (N == 0)
            return Argv0;
        if (N < Path.size()) {
            Path.resize(N);
            return Utf8FromWide(Path);
        }
        Path.resize(Path.size() * 2); // a long path: ask again with room for it
    }
}

std::optional<std::string> EnvironmentValue(const std::string& Name) {
    const wchar_t* V = ::_wgetenv(WideFromUtf8(Name).c_str());
    return V ? std::optional<std::string>(Utf8FromWide(V)) : std::nullopt;
}

void SetEnvironmentValue(const std::string& Name, const std::optional<std::string>& Value) {
    // An empty value removes the variable (the runtime's rule on Windows).
    ::_wputenv_s(WideFromUtf8(Name).c_str(), Value ? WideFromUtf8(*Value).c_str() : L"");
}

std::string UserSettingsFolder() {
    if (const auto AppData = EnvironmentValue("APPDATA"); AppData && !AppData->empty())
        return *AppData + "\\korvex";
    return ".";
}

} // namespace platform
