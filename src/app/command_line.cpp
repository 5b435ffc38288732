#include "command_line.h"

#include <filesystem>
#include <system_error>

#include "jtag_files_list.h"
#include "native_file.h"
#include "native_path.h"
#include "native_process.h"
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

std::string DefaultSettingsFileName(const std::string& ExecutablePath,
                                    const std::string& BaseName) {
    const fs::path Exe = platform::PathFromUtf8(ExecutablePath);
    const fs::path Folder = Exe.parent_path();
    const std::string Own =
        SettingsFileNameFor(BaseName.empty() ? platform::Utf8FromPath(Exe.filename()) : BaseName);
    const fs::path Beside = Folder / platform::PathFromUtf8(Own);
    std::error_code Ec;
    if (fs::exists(Beside, Ec) ||
        (!platform::SystemProgramFolder(Folder) && platform::FolderWritable(Folder)))
        return platform::Utf8FromPath(Beside);
    return platform::Utf8FromPath(platform::PathFromUtf8(platform::UserSettingsFolder()) /
                                  platform::PathFromUtf8(Own));
}
