#include "native_path.h"

namespace platform {

// char8_t is the C++ way of saying "this is UTF-8", and std::filesystem converts it to the
// system's own encoding of names on both systems.
std::filesystem::path PathFromUtf8(std::string_view Name) {
    return std::filesystem::path(
        std::u8string(reinterpret_cast<const char8_t*>(Name.data()), Name.size()));
}

std::string Utf8FromPath(const std::filesystem::path& Path) {
    const std::u8string Text = Path.u8string();
    return std::string(reinterpret_cast<const char*>(Text.data()), Text.size());
}

namespace {
constexpr char32_t Replacement = 0xFFFD;

// One code point from UTF-8 at I (advanced past it); Replacement for a malformed sequence.
char32_t NextFromUtf8(std::string_view S, size_t& I) {
    const auto Byte = [&](size_t K) { return static_cast<unsigned char>(S[K]); };
    const unsigned char Lead = Byte(I++);
    if (Lead < 0x80)
        return Lead;
    int More = Lead >= 0xF0 && Lead < 0xF5 ? 3 : Lead >= 0xE0 ? 2 : Lead >= 0xC2 ? 1 : -1;
    if (More < 0 || Lead >= 0xF5)
        return Replacement;
    char32_t C = Lead & (0x3F >> More);
    for (int K = 0; K < More; ++K) {
        if (I >= S.size() || (Byte(I) & 0xC0) != 0x80)
            return Replacement;
        C = (C << 6) | (Byte(I++) & 0x3F);
    }
    // Overlong forms and surrogates are not characters.
    const char32_t Least[] = {0, 0x80, 0x800, 0x10000};
    if (C < Least[More] || C > 0x10FFFF || (C >= 0xD800 && C <= 0xDFFF))
        return Replacement;
    return C;
}

void AppendUtf8(std::string& Out, char32_t C) {
    if (C < 0x80) {
        Out += static_cast<char>(C);
    } else if (C < 0x800) {
        Out += static_cast<char>(0xC0 | (C >> 6));
        Out += static_cast<char>(0x80 | (C & 0x3F));
    } else if (C < 0x10000) {
        Out += static_cast<char>(0xE0 | (C >> 12));
        Out += static_cast<char>(0x80 | ((C >> 6) & 0x3F));
        Out += static_cast<char>(0x80 | (C & 0x3F));
    } else {
        Out += static_cast<char>(0xF0 | (C >> 18));
        Out += static_cast<char>(0x80 | ((C >> 12) & 0x3F));
        Out += static_cast<char>(0x80 | ((C >> 6) & 0x3F));
        Out += static_cast<char>(0x80 | (C & 0x3F));
    }
}
} // namespace

// Written out rather than taken from WideCharToMultiByte so that both directions behave the
// same on Linux, where the tests of names coming from Windows run as well. wchar_t is 16 bits on
// Windows and 32 on Linux; only the UTF-16 values are used either way.
std::string Utf8FromWide(std::wstring_view Text) {
    std::string Out;
    Out.reserve(Text.size());
    for (size_t I = 0; I < Text.size(); ++I) {
        char32_t C = static_cast<char32_t>(Text[I]) & 0xFFFF;
        if (C >= 0xD800 && C <= 0xDBFF && I + 1 < Text.size()) {
            const char32_t Low = static_cast<char32_t>(Text[I + 1]) & 0xFFFF;
            if (Low >= 0xDC00 && Low <= 0xDFFF) {
                C = 0x10000 + ((C - 0xD800) << 10) + (Low - 0xDC00);
                ++I;
            }
        }
        AppendUtf8(Out, C >= 0xD800 && C <= 0xDFFF ? Replacement : C);
    }
    return Out;
}

std::wstring WideFromUtf8(std::string_view Text) {
    std::wstring Out;
    Out.reserve(Text.size());
    for (size_t I = 0; I < Text.size();) {
        const char32_t C = NextFromUtf8(Text, I);
        if (C >= 0x10000) {
            Out += static_cast<wchar_t>(0xD800 + ((C - 0x10000) >> 10));
            Out += static_cast<wchar_t>(0xDC00 + ((C - 0x10000) & 0x3FF));
        } else {
            Out += static_cast<wchar_t>(C);
        }
    }
    return Out;
}

} // namespace platform
