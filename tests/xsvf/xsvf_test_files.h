#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "scratch.h"
#include "xsvf_asm.h"

// Test XSVF files are written as descriptions and assembled here, into the test program's scratch
// folder; the path of the binary file is returned.
inline std::string WriteBytes(const std::string& Name, const std::vector<uint8_t>& Bytes) {
    return SuiteScratch().Write(Name, std::string(Bytes.begin(), Bytes.end()));
}

inline std::string MakeXsvf(const std::string& Name, const std::string& Description) {
    return WriteBytes(Name, AssembleXsvf(Description));
}
