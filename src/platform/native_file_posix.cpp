#include <cerrno>
#include <cstring>
#include <stdexcept>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "native_file.h"

namespace platform {

const char* TextLineEnd() {
    return "\n";
}

int OpenForReading(const std::string& Name) {
    const int Fd = ::open(Name.c_str(), O_RDONLY | O_CLOEXEC);
    // The file is read strictly forwards; let the kernel read ahead generously.
    if (Fd >= 0)
        ::posix_fadvise(Fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    return Fd;
}

FILE* OpenStream(const std::string& Name, const char* Mode) {
    return std::fopen(Name.c_str(), Mode);
}

bool AppendToFile(const std::string& Name, std::string_view Text, std::string* Error) {
    const int Fd = ::open(Name.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (Fd < 0) {
        if (Error)
            *Error = std::strerror(errno);
        return false;
    }
    const ssize_t Written = ::write(Fd, Text.data(), Text.size());
    if (Error)
        *Error = Written < 0 ? std::strerror(errno)
                 : Written != static_cast<ssize_t>(Text.size())
                     ? "the line was cut short (disk full?)"
                     : "";
    ::close(Fd);
    return Written == static_cast<ssize_t>(Text.size());
}

namespace {
// What a new file gets: read and write for everyone the umask allows.
mode_t DefaultMode() {
    const mode_t Mask = ::umask(0);
    ::umask(Mask);
    return 0666 & ~Mask;
}

[[noreturn]] void Fail(int Err, const std::string& TempName) {
    if (!TempName.empty())
        ::unlink(TempName.c_str());
    throw std::runtime_error(std::strerror(Err));
}
} // namespace

void ReplaceFileContent(const std::filesystem::path& Target, std::string_view Text) {
    std::string TempName = Target.string() + ".XXXXXX";
    const int Fd = ::mkstemp(TempName.data());
    if (Fd < 0)
        Fail(errno, "");
    struct stat Old {};
    const mode_t Mode = ::stat(Target.c_str(), &Old) == 0 && S_ISREG(Old.st_mode)
                            ? Old.st_mode & 07777
                            : DefaultMode();
    ::fchmod(Fd, Mode);
    size_t Done = 0;
    while (Done < Text.size()) {
        const ssize_t N = ::write(Fd, Text.data() + Done, Text.size() - Done);
        if (N < 0 && errno == EINTR)
            continue;
        if (N <= 0) {
            const int Err = N < 0 ? errno : ENOSPC;
            ::close(Fd);
            Fail(Err, TempName);
        }
        Done += static_cast<size_t>(N);
    }
    if (::fsync(Fd) != 0) {
        const int Err = errno;
        ::close(Fd);
        Fail(Err, TempName);
    }
    if (::close(Fd) != 0)
        Fail(errno, TempName);
    if (::rename(TempName.c_str(), Target.c_str()) != 0)
        Fail(errno, TempName);
    // The rename itself is kept only once the folder reaches the disk.
    const std::string Folder = Target.has_parent_path() ? Target.parent_path().string() : ".";
    if (const int Dir = ::open(Folder.c_str(), O_RDONLY | O_DIRECTORY); Dir >= 0) {
        ::fsync(Dir);
        ::close(Dir);
    }
}

bool FolderWritable(const std::filesystem::path& Folder) {
    return ::access(Folder.empty() ? "." : Folder.c_str(), W_OK) == 0;
}

bool SystemProgramFolder(const std::filesystem::path& Folder) {
    const std::string F = Folder.lexically_normal().string();
    for (const char* System : {"/usr", "/bin", "/sbin", "/lib"})
        if (F == System || F.starts_with(std::string(System) + "/"))
            return true;
    return false;
}

} // namespace platform
