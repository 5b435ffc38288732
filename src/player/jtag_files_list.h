#pragma once

#include <functional>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "jtag_file.h"

// Builds a player of one class for a file name: the "class reference" the registry keeps.
// KeepLoading may be empty.
using TJtagFileClass = std::function<std::unique_ptr<TJtagFile>(const std::string& FileName,
                                                                const TKeepLoading& KeepLoading)>;

struct TJtagFileRecord {
    std::string TypeName; // "SVF", "XSVF"
    TJtagFileClass FileClass;
};

// Maps a file extension to the player class that plays such files. Registration order is kept:
// the open dialog lists the types in that order.
class TJtagFilesList {
public:
    // Appends without a duplicate check; a second record of a name is never found.
    void Register(const std::string& TypeName, TJtagFileClass FileClass);

    // Extension is upper-cased (ASCII letters only) and loses one leading dot; the first record
    // whose upper-cased type name equals it builds the player. Otherwise throws
    //   No registered class for file type "<EXT>"
    // Constructor exceptions pass through unchanged; KeepLoading goes to a player that reads its
    // file before the run.
    std::unique_ptr<TJtagFile> CreateForFile(const std::string& Extension,
                                             const std::string& FileName,
                                             const TKeepLoading& KeepLoading = {}) const;

    const std::vector<TJtagFileRecord>& Records() const { return FRecords; }

    // The process-wide registry, created on first use and kept until the process ends.
    static TJtagFilesList& Global();

    // Registers class T under T::FileType().
    template <class T> void Register() {
        Register(T::FileType(), [](const std::string& FileName, const TKeepLoading& KeepLoading) {
            if constexpr (std::is_constructible_v<T, const std::string&, const TKeepLoading&>)
                return std::make_unique<T>(FileName, KeepLoading);
            else
                return std::make_unique<T>(FileName);
        });
    }

private:
    std::vector<TJtagFileRecord> FRecords;
};

// Upper-cases ASCII letters a to z only, as file-type names are compared.
std::string AsciiUpper(std::string S);

// The extension of a path with its dot ("" when there is none), by the last path component only:
// "dir.d/a.svf.txt" gives ".txt".
std::string ExtractFileExt(const std::string& Path);
