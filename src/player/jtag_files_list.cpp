#include "jtag_files_list.h"

#include <stdexcept>

std::string AsciiUpper(std::string S) {
    for (char& C : S)
        if (C >= 'a' && C <= 'z')
            C = static_cast<char>(C - 'a' + 'A');
    return S;
}

std::string ExtractFileExt(const std::string& Path) {
    const auto Slash = Path.find_last_of("/\\");
    const auto Dot = Path.find_last_of('.');
    if (Dot == std::string::npos || (Slash != std::string::npos && Dot < Slash))
        return "";
    return Path.substr(Dot);
}

void TJtagFilesList::Register(const std::string& TypeName, TJtagFileClass FileClass) {
    FRecords.push_back({TypeName, std::move(FileClass)});
}

std::unique_ptr<TJtagFile> TJtagFilesList::CreateForFile(const std::string& Extension,
                                                         const std::string& FileName,
                                                         const TKeepLoading& KeepLoading) const {
    std::string Ext = AsciiUpper(Extension);
    if (!Ext.empty() && Ext[0] == '.')
        Ext.erase(0, 1);
    for (const TJtagFileRecord& R : FRecords)
        if (AsciiUpper(R.TypeName) == Ext)
            return R.FileClass(FileName, KeepLoading);
    throw std::runtime_error("No registered class for file type \"" + Ext + "\"");
}

TJtagFilesList& TJtagFilesList::Global() {
    static TJtagFilesList* List = new TJtagFilesList; // lives until the process ends
    return *List;
}
