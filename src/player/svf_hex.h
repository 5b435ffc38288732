#pragma once

#include <cstdint>
#include <string>

// A bit array of one bit a byte (non-zero is 1, bit 0 first) as an SVF file writes a
// value: hexadecimal, most significant digit first, one digit per four bits, the first bit
// shifted in the last digit's lowest bit. Mismatch reports use it so a failing value can be put
// side by side with the statement in the file.
inline std::string SvfHexOfBits(const uint8_t* Bits, int64_t Count) {
    static constexpr char Digits[] = "0123456789ABCDEF";
    const int64_t DigitCount = (Count + 3) / 4;
    std::string Hex(static_cast<size_t>(DigitCount), '0');
    for (int64_t D = 0; D < DigitCount; ++D) {
        unsigned V = 0;
        for (int64_t B = 0; B < 4 && D * 4 + B < Count; ++B)
            V |= (Bits[D * 4 + B] != 0 ? 1u : 0u) << B;
        Hex[static_cast<size_t>(DigitCount - 1 - D)] = Digits[V];
    }
    return Hex;
}

// The three lines that follow a mismatch report, with the prefixes the run report looks for.
inline constexpr const char* HexExpectedPrefix = "Expected (hex): ";
inline constexpr const char* HexReadPrefix = "Read     (hex): ";
inline constexpr const char* HexMaskPrefix = "Mask     (hex): ";
// XSVF names the command that failed: "Failing XSVF command #12 XSDRTDO".
inline constexpr const char* XsvfFailingCommandPrefix = "Failing XSVF command ";
