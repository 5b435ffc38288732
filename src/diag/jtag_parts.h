#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// What an IDCODE tells about a device: its maker from the JEDEC JEP106 code in bits 11..1 and,
// for the parts in the built-in table (jtag_parts.tsv), its name and instruction length.

struct TJtagMaker {
    int Bank = 0;     // JEP106 bank, 1-based: IDCODE bits 11..8 plus one
    uint8_t Code = 0; // JEP106 code without its parity bit: IDCODE bits 7..1
    std::string Name;
};

struct TJtagPart {
    uint32_t Idcode = 0;
    uint32_t Mask = 0xFFFFFFFF;
    int IrLength = 0;
    std::string Name;
};

class TJtagPartTable {
public:
    // Reads the table's text; a malformed line throws std::runtime_error naming its line.
    explicit TJtagPartTable(std::string_view Text);
    // The table compiled into the program.
    static const TJtagPartTable& BuiltIn();

    // The maker of an IDCODE, or null when its JEP106 code is not in the table.
    const TJtagMaker* MakerOf(uint32_t Idcode) const;
    // The part of an IDCODE, or null when none matches.
    const TJtagPart* PartOf(uint32_t Idcode) const;

    const std::vector<TJtagMaker>& Makers() const { return FMakers; }
    const std::vector<TJtagPart>& Parts() const { return FParts; }

private:
    std::vector<TJtagMaker> FMakers;
    std::vector<TJtagPart> FParts;
};

// The JEP106 bank (1-based) and code of an IDCODE.
inline int Jep106Bank(uint32_t Idcode) {
    return static_cast<int>((Idcode >> 8) & 0xF) + 1;
}
inline uint8_t Jep106Code(uint32_t Idcode) {
    return static_cast<uint8_t>((Idcode >> 1) & 0x7F);
}
