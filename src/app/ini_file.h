#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A small INI file with the semantics programs on Windows get from the profile service, so a
// settings file moves between the two unchanged:
// - sections and keys are found case-insensitively, the first of a name wins;
// - an integer is the value's leading decimal digits with an optional sign ("1 ; long cable" is
//   1); a missing file, section or key, a value without digits or one beyond 32 bits gives the
//   caller's default;
// - a UTF-8 byte order mark at the start does not hide the first section;
// - a write replaces the key's line in place, or adds the key at the end of its section, or adds
//   the section at the end of the file, creating the file when needed; every other line is kept
//   byte for byte.
// The file is read once by the constructor; writes collect in memory until UpdateFile.
class TIniFile {
public:
    explicit TIniFile(std::string FileName);

    int32_t ReadInteger(const std::string& Section, const std::string& Key, int32_t Default) const;
    // The value as written (trimmed), Default when the file, section or key is missing.
    std::string ReadString(const std::string& Section, const std::string& Key,
                           const std::string& Default) const;
    void WriteInteger(const std::string& Section, const std::string& Key, int32_t Value);
    void WriteString(const std::string& Section, const std::string& Key, const std::string& Value);

    // Writes the file when something changed, through ReplaceFile. Throws std::runtime_error
    // naming the file when it cannot be written; the old file is then as it was.
    void UpdateFile();

    const std::string& FileName() const { return FFileName; }

private:
    // Index of the section's header line, or -1.
    int FindSection(const std::string& Section) const;
    // Index of the key's line within the section that starts at Header, or -1.
    int FindKey(int Header, const std::string& Key) const;
    // One past the last line belonging to the section that starts at Header.
    int SectionEnd(int Header) const;

    std::string FFileName;
    std::vector<std::string> FLines; // without their line ends
    std::string FLineEnd = "\n";     // the file's own line end, kept for lines we add
    bool FFinalLineEnd = true;       // whether the file ended with a line end
    bool FDirty = false;
};

// Replaces a file's whole content the way editors do: a temporary file in the same folder,
// flushed to the disk, then renamed over the old one, so the old file stays whole until the new
// one is complete. A symbolic link is kept and the file it points to replaced; the old file's
// permissions carry over. Throws std::runtime_error naming the file, and saying that it was left
// as it was, on any failure.
void ReplaceFile(const std::string& FileName, const std::string& Text);
