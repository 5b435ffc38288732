#pragma once

#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>

// Files by UTF-8 name, always in binary mode (a vector file's bytes are read as they are, and
// Windows' text mode would both change line ends and stop at a Ctrl-Z).
namespace platform {

// The line end of text files that other programs on this system read: "\r\n" on Windows (the
// settings file we create, the run's transcript), "\n" elsewhere. Reading accepts both.
const char* TextLineEnd();

// A file descriptor for reading, -1 with errno set when the file cannot be opened.
int OpenForReading(const std::string& Name);
// A stdio stream ("r", "w", "a" and so on; always binary), null with errno set.
FILE* OpenStream(const std::string& Name, const char* Mode);

// Appends Text to the file in one write, creating the file when needed: every write lands at the
// end, whole, even with other processes appending to the same file. False when it failed; Error
// (when given) then says why ("No such file or directory").
bool AppendToFile(const std::string& Name, std::string_view Text, std::string* Error = nullptr);

// Puts Text in place of the file at Target: written to a new file in the same folder, flushed to
// the disk, then moved over the old one, so the old file stays whole until the new one is
// complete. An existing file's permissions carry over. Throws std::runtime_error with the
// system's reason on failure, the old file (if any) then as it was.
void ReplaceFileContent(const std::filesystem::path& Target, std::string_view Text);

// Whether a file can be created in the folder: tried, not guessed from permission bits, since on
// Windows an access list decides (Program Files is read-only to a user, whatever the attributes).
bool FolderWritable(const std::filesystem::path& Folder);

// True for the system's own program folders (/usr/bin, /bin, ...): a packaged program run by root
// could write there, but its settings belong in the user's folder, not beside the package's files.
// Always false on Windows, where a program keeps its settings beside itself when it may.
bool SystemProgramFolder(const std::filesystem::path& Folder);

} // namespace platform
