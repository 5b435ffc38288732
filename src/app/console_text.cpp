#include "console_text.h"

#include <cstdint>

namespace {
// The length of the valid UTF-8 sequence that starts at Bytes[I] (1 for ASCII), 0 when the bytes
// there are not one: stray continuation bytes, overlong forms, surrogates, values beyond
// U+10FFFF and cut-off sequences.
size_t Utf8Length(std::string_view Bytes, size_t I, uint32_t& Code) {
    const auto Byte = [&](size_t K) { return static_cast<uint8_t>(Bytes[K]); };
    const uint8_t Lead = Byte(I);
    if (Lead < 0x80) {
        Code = Lead;
        return 1;
    }
    size_t Length;
    uint32_t Min;
    if (Lead >= 0xC2 && Lead <= 0xDF) {
        Length = 2, Min = 0x80, Code = Lead & 0x1F;
    } else if (Lead >= 0xE0 && Lead <= 0xEF) {
        Length = 3, Min = 0x800, Code = Lead & 0x0F;
    } else if (Lead >= 0xF0 && Lead <= 0xF4) {
        Length = 4, Min = 0x10000, Code = Lead & 0x07;
    } else {
        return 0;
    }
    if (I + Length > Bytes.size())
        return 0;
    for (size_t K = 1; K < Length; ++K) {
        if ((Byte(I + K) & 0xC0) != 0x80)
            return 0;
        Code = (Code << 6) | (Byte(I + K) & 0x3F);
    }
    if (Code < Min || Code > 0x10FFFF || (Code >= 0xD800 && Code <= 0xDFFF))
        return 0;
    return Length;
}

void AppendUtf8(std::string& Out, uint32_t Code) {
    if (Code < 0x80) {
        Out += static_cast<char>(Code);
    } else if (Code < 0x800) {
        Out += static_cast<char>(0xC0 | (Code >> 6));
        Out += static_cast<char>(0x80 | (Code & 0x3F));
    } else {
        Out += static_cast<char>(0xE0 | (Code >> 12));
        Out += static_cast<char>(0x80 | ((Code >> 6) & 0x3F));
        Out += static_cast<char>(0x80 | (Code & 0x3F));
    }
}

// Windows-1252 at 0x80-0x9F; the five unassigned bytes keep their C1 value.
constexpr uint16_t Cp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
} // namespace

std::string ConsoleUtf8(std::string_view Bytes) {
    std::string Out;
    Out.reserve(Bytes.size());
    for (size_t I = 0; I < Bytes.size();) {
        uint32_t Code = 0;
        if (const size_t N = Utf8Length(Bytes, I, Code)) {
            Out.append(Bytes.substr(I, N));
            I += N;
            continue;
        }
        const auto Byte = static_cast<uint8_t>(Bytes[I++]);
        AppendUtf8(Out, Byte >= 0x80 && Byte <= 0x9F ? Cp1252High[Byte - 0x80] : Byte);
    }
    return Out;
}

std::string TerminalSafe(std::string_view Bytes) {
    std::string Out;
    Out.reserve(Bytes.size());
    for (size_t I = 0; I < Bytes.size();) {
        uint32_t Code = 0;
        size_t N = Utf8Length(Bytes, I, Code);
        const auto Byte = static_cast<uint8_t>(Bytes[I]);
        if (N == 0) {
            // Not UTF-8: one byte, a C1 control in an 8-bit terminal when 0x80-0x9F.
            N = 1;
            Code = Byte;
        }
        const bool Control = (Code < 0x20 && Code != '\t') || (Code >= 0x7F && Code <= 0x9F);
        if (Control)
            Out += '?';
        else
            Out.append(Bytes.substr(I, N));
        I += N;
    }
    return Out;
}
