#include <cstdlib>
#include <filesystem>

#include "native_process.h"

namespace platform {

std::vector<std::string> Utf8Arguments(int Argc, char** Argv) {
    return std::vector<std::string>(Argv, Argv + Argc);
}

std::string ExecutablePath(const char* Argv0) {
    std::error_code Ec;
    const auto Self = std::filesystem::read_symlink("/proc/self/exe", Ec);
    return Ec ? std::string(Argv0) : Self.string();
}

std::optional<std::string> EnvironmentValue(const std::string& Name) {
    const char* V = std::getenv(Name.c_str());
    return V ? std::optional<std::string>(V) : std::nullopt;
}

void SetEnvironmentValue(const std::string& Name, const std::optional<std::string>& Value) {
    if (Value)
        ::setenv(Name.c_str(), Value->c_str(), 1);
    else
        ::unsetenv(Name.c_str());
}

std::string UserSettingsFolder() {
    // A relative XDG_CONFIG_HOME is invalid and must be ignored.
    if (const auto Xdg = EnvironmentValue("XDG_CONFIG_HOME"); Xdg && Xdg->starts_with('/'))
        return *Xdg + "/korvex";
    if (const auto Home = EnvironmentValue("HOME"); Home && !Home->empty())
        return *Home + "/.config/korvex";
    return ".";
}

} // namespace platform
