#include "command_line.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

#include <unistd.h>

#include "jtag_files_list.h"
#include "usbplow.h"

namespace fs = std::filesystem;

TSessionOptions ParseCommandLine(const std::vector<std::string>& Args) {
    TSessionOptions Result;
    // The value of an option is the next parameter, consumed even when it looks like an option.
    auto Value = [&](size_t& I) { return I + 1 < Args.size() ? Args[++I] : std::string(); };
    for (size_t I = 0; I < Args.size(); ++I) {
        const std::string Option = AsciiUpper(Args[I]);
        if (Option == "-P")
            Result.AutoProcess = true;
        else if (Option == "-F")
            Result.FileName = Value(I);
        else if (Option == "-I")
            Result.IniFileName = Value(I);
        else if (Option == "-C")
            Result.CloseOnSuccess = true;
        else if (Option == "-CC")
            Result.CloseOnError = true;
        else if (Option == "-S")
            Result.Serial = Value(I);
    }
    return Result;
}

int32_t ParseSerialNumber(const std::string& Hex) {
    return SerialValueOf(Hex);
}

std::string SettingsFileNameFor(const std::string& Name) {
    const std::string Ext = ExtractFileExt(Name);
    return Name.substr(0, Name.size() - Ext.size()) + ".ini";
}

namespace {
std::string UserConfigFolder() {
    const char* Xdg = std::getenv("XDG_CONFIG_HOME");
    // A relative XDG_CONFIG_HOME is invalid and must be ignored.
    if (Xdg && *Xdg == '/')
        return std::string(Xdg) + "/korvex";
    const char* Home = std::getenv("HOME");
    if (Home && *Home)
        return std::string(Home) + "/.config/korvex";
    return "."; // no home at all (a bare service account): the working folder is all there is
}
} // namespace

std::string DefaultSettingsFileName(const std::string& ExecutablePath,
                                    const std::string& BaseName) {
    const fs::path Exe(ExecutablePath);
    const fs::path Folder = Exe.parent_path();
    const std::string Own =
        SettingsFileNameFor(BaseName.empty() ? Exe.filename().string() : BaseName);
    const fs::path Beside = Folder / Own;
    std::error_code Ec;
    const std::string FolderText = Folder.empty() ? "." : Folder.string();
    if (fs::exists(Beside, Ec) || ::access(FolderText.c_str(), W_OK) == 0)
        return Beside.string();
    return (fs::path(UserConfigFolder()) / Own).string();
}
