#include <cstring>
#include <fcntl.h>
#include <io.h>
#include <stdexcept>

#include <windows.h>

#include "native_file.h"
#include "native_path.h"
#include "windows_error.h"

namespace platform {

const char* TextLineEnd() {
    return "\r\n";
}

int OpenForReading(const std::string& Name) {
    return ::_wopen(WideFromUtf8(Name).c_str(),
                    _O_RDONLY | _O_BINARY | _O_NOINHERIT | _O_SEQUENTIAL);
}

FILE* OpenStream(const std::string& Name, const char* Mode) {
    std::wstring WideMode = WideFromUtf8(Mode);
    if (WideMode.find(L'b') == std::wstring::npos)
        WideMode += L'b';
    return ::_wfopen(WideFromUtf8(Name).c_str(), WideMode.c_str());
}

namespace {
// Closes a file handle on every way out.
struct THandle {
    HANDLE H;
    explicit THandle(HANDLE Handle) : H(Handle) {}
    ~THandle() {
        if (H != INVALID_HANDLE_VALUE)
            ::CloseHandle(H);
    }
    THandle(const THandle&) = delete;
    THandle& operator=(const THandle&) = delete;
    bool Valid() const { return H != INVALID_HANDLE_VALUE; }
    // Closes now, reporting whether that worked.
    bool Close() {
        const bool Ok = ::CloseHandle(H) != 0;
        H = INVALID_HANDLE_VALUE;
        return Ok;
    }
};

bool WriteAll(HANDLE H, std::string_view Text) {
    while (!Text.empty()) {
        const DWORD Chunk = static_cast<DWORD>(std::min<size_t>(Text.size(), 1u << 30));
        DWORD Written = 0;
        if (!::WriteFile(H, Text.data(), Chunk, &Written, nullptr) || Written == 0)
            return false;
        Text.remove_prefix(Written);
    }
    return true;
}
} // namespace

bool AppendToFile(const std::string& Name, std::string_view Text, std::string* Error) {
    // Append access alone (no FILE_WRITE_DATA) makes the system put every write at the end of the
    // file, as O_APPEND does.
    THandle File(::CreateFileW(WideFromUtf8(Name).c_str(), FILE_APPEND_DATA,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    const bool Ok = File.Valid() && WriteAll(File.H, Text) && File.Close();
    if (Error)
        *Error = Ok ? "" : WindowsErrorText(::GetLastError());
    return Ok;
}

void ReplaceFileContent(const std::filesystem::path& Target, std::string_view Text) {
    const std::wstring TargetName = Target.wstring();
    const std::wstring TempName =
        TargetName + L"." + std::to_wstring(::GetCurrentProcessId()) + L".tmp";
    auto Fail = [&](DWORD Error) {
        ::DeleteFileW(TempName.c_str());
        throw std::runtime_error(WindowsErrorText(Error));
    };
    THandle File(::CreateFileW(TempName.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!File.Valid())
        throw std::runtime_error(WindowsErrorText(::GetLastError()));
    if (!WriteAll(File.H, Text) || !::FlushFileBuffers(File.H)) {
        const DWORD Error = ::GetLastError();
        File.Close();
        Fail(Error);
    }
    if (!File.Close())
        Fail(::GetLastError());
    // Write-through: the move is on the disk when the call returns.
    if (!::MoveFileExW(TempName.c_str(), TargetName.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        Fail(::GetLastError());
}

bool FolderWritable(const std::filesystem::path& Folder) {
    const std::filesystem::path Probe =
        (Folder.empty() ? std::filesystem::path(L".") : Folder) /
        (L"korvex-write-test-" + std::to_wstring(::GetCurrentProcessId()) + L".tmp");
    const HANDLE H = ::CreateFileW(Probe.c_str(), GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                                   FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (H == INVALID_HANDLE_VALUE)
        return false;
    ::CloseHandle(H);
    return true;
}

bool SystemProgramFolder(const std::filesystem::path&) {
    return false;
}

} // namespace platform
