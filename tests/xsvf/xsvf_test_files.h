#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "xsvf_asm.h"

// Test XSVF files are written as descriptions and assembled here, into the test's temporary
// directory; the path of the binary file is returned.
inline std::string WriteBytes(const std::string& Name, const std::vector<uint8_t>& Bytes) {
    const std::string Path = testing::TempDir() + Name;
    std::ofstream Out(Path, std::ios::binary | std::ios::trunc);
    Out.write(reinterpret_cast<const char*>(Bytes.data()),
              static_cast<std::streamsize>(Bytes.size()));
    return Path;
}

inline std::string MakeXsvf(const std::string& Name, const std::string& Description) {
    return WriteBytes(Name, AssembleXsvf(Description));
}
