#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A small INI file with the semantics programs on Windows get from the profile service, so a
// settings file moves between the two unchanged:
// - sections and keys are found case-insensitively, the first of a name wins;
// - an integer read from a missing file, section or key, or from a value that is not a decimal
//   32-bit integer, gives the caller's default;
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

    // Writes the file when something changed. Throws std::runtime_error naming the file when it
    // cannot be written.
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
