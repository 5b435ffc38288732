#include "ini_file.h"

#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>
#include <stdexcept>
#include <string_view>
#include <system_error>

#include "jtag_files_list.h"
#include "native_file.h"
#include "native_path.h"

namespace {

std::string Trim(const std::string& S) {
    const char* Blank = " \t\r";
    const auto B = S.find_first_not_of(Blank);
    if (B == std::string::npos)
        return "";
    return S.substr(B, S.find_last_not_of(Blank) - B + 1);
}

bool SameName(const std::string& A, const std::string& B) {
    return AsciiUpper(A) == AsciiUpper(B);
}

// A UTF-8 byte order mark at the start of the file belongs to no section or key.
constexpr std::string_view Bom = "\xEF\xBB\xBF";

std::string WithoutBom(const std::string& Line) {
    return Line.compare(0, Bom.size(), Bom) == 0 ? Line.substr(Bom.size()) : Line;
}

// "[Name]" gives Name; anything else is not a section header.
bool SectionName(const std::string& Line, std::string& Name) {
    const std::string T = Trim(WithoutBom(Line));
    if (T.size() < 2 || T.front() != '[')
        return false;
    const auto Close = T.find(']');
    if (Close == std::string::npos)
        return false;
    Name = Trim(T.substr(1, Close - 1));
    return true;
}

// "Key=Value" gives Key and Value; comments and lines without "=" are not entries.
bool Entry(const std::string& Line, std::string& Key, std::string& Value) {
    const std::string T = Trim(WithoutBom(Line));
    if (T.empty() || T[0] == ';')
        return false;
    const auto Eq = T.find('=');
    if (Eq == std::string::npos)
        return false;
    Key = Trim(T.substr(0, Eq));
    Value = Trim(T.substr(Eq + 1));
    // The profile service drops one pair of quotes around a value.
    if (Value.size() >= 2 && (Value.front() == '"' || Value.front() == '\'') &&
        Value.back() == Value.front())
        Value = Value.substr(1, Value.size() - 2);
    return true;
}

// The leading decimal digits of a value, with an optional sign, as the profile service reads an
// integer: "1 ; long cable" is 1. No digit at all, or a number beyond 32 bits, is not a number.
bool ParseInt32(const std::string& S, int32_t& Out) {
    size_t I = 0;
    bool Negative = false;
    if (I < S.size() && (S[I] == '-' || S[I] == '+'))
        Negative = S[I++] == '-';
    if (I == S.size() || S[I] < '0' || S[I] > '9')
        return false;
    int64_t V = 0;
    for (; I < S.size() && S[I] >= '0' && S[I] <= '9'; ++I) {
        V = V * 10 + (S[I] - '0');
        if (V > int64_t(std::numeric_limits<int32_t>::max()) + 1)
            return false;
    }
    if (Negative)
        V = -V;
    if (V > std::numeric_limits<int32_t>::max() || V < std::numeric_limits<int32_t>::min())
        return false;
    Out = static_cast<int32_t>(V);
    return true;
}
} // namespace

TIniFile::TIniFile(std::string FileName)
    : FFileName(std::move(FileName)), FLineEnd(platform::TextLineEnd()) {
    std::ifstream In(platform::PathFromUtf8(FFileName), std::ios::binary);
    if (!In)
        return; // a missing or unreadable file reads as empty
    std::stringstream Buffer;
    Buffer << In.rdbuf();
    const std::string Text = Buffer.str();
    if (Text.empty())
        return;
    size_t Begin = 0;
    while (Begin < Text.size()) {
        const size_t Nl = Text.find('\n', Begin);
        if (Nl == std::string::npos) {
            FLines.push_back(Text.substr(Begin));
            FFinalLineEnd = false;
            break;
        }
        FLines.push_back(Text.substr(Begin, Nl - Begin)); // a CR before the LF stays in the line
        Begin = Nl + 1;
    }
    // Lines we add end as the file's first line does; a new file gets the system's line end.
    if (!FLines.empty())
        FLineEnd = !FLines[0].empty() && FLines[0].back() == '\r' ? "\r\n" : "\n";
}

int TIniFile::FindSection(const std::string& Section) const {
    std::string Name;
    for (size_t I = 0; I < FLines.size(); ++I)
        if (SectionName(FLines[I], Name) && SameName(Name, Section))
            return static_cast<int>(I);
    return -1;
}

int TIniFile::SectionEnd(int Header) const {
    std::string Name;
    size_t I = static_cast<size_t>(Header) + 1;
    while (I < FLines.size() && !SectionName(FLines[I], Name))
        ++I;
    return static_cast<int>(I);
}

int TIniFile::FindKey(int Header, const std::string& Key) const {
    std::string K, V;
    const int End = SectionEnd(Header);
    for (int I = Header + 1; I < End; ++I)
        if (Entry(FLines[I], K, V) && SameName(K, Key))
            return I;
    return -1;
}

int32_t TIniFile::ReadInteger(const std::string& Section, const std::string& Key,
                              int32_t Default) const {
    const int Header = FindSection(Section);
    if (Header < 0)
        return Default;
    const int Line = FindKey(Header, Key);
    if (Line < 0)
        return Default;
    std::string K, V;
    Entry(FLines[Line], K, V);
    int32_t Result;
    return ParseInt32(V, Result) ? Result : Default;
}

std::string TIniFile::ReadString(const std::string& Section, const std::string& Key,
                                 const std::string& Default) const {
    const int Header = FindSection(Section);
    const int Line = Header < 0 ? -1 : FindKey(Header, Key);
    if (Line < 0)
        return Default;
    std::string K, V;
    Entry(FLines[Line], K, V);
    return V;
}

void TIniFile::WriteInteger(const std::string& Section, const std::string& Key, int32_t Value) {
    WriteString(Section, Key, std::to_string(Value));
}

void TIniFile::WriteString(const std::string& Section, const std::string& Key,
                           const std::string& Value) {
    const std::string Cr = FLineEnd == "\r\n" ? "\r" : "";
    const std::string NewLine = Key + "=" + Value + Cr;
    FDirty = true;
    int Header = FindSection(Section);
    if (Header < 0) {
        FLines.push_back("[" + Section + "]" + Cr);
        FLines.push_back(NewLine);
        FFinalLineEnd = true;
        return;
    }
    const int Line = FindKey(Header, Key);
    if (Line >= 0) {
        FLines[Line] = NewLine;
        return;
    }
    // After the section's last non-blank line, so a blank line before the next section stays put.
    int Insert = SectionEnd(Header);
    while (Insert > Header + 1 && Trim(FLines[Insert - 1]).empty())
        --Insert;
    if (Insert == static_cast<int>(FLines.size()))
        FFinalLineEnd = true;
    FLines.insert(FLines.begin() + Insert, NewLine);
}

void TIniFile::UpdateFile() {
    if (!FDirty)
        return;
    std::string Text;
    for (size_t I = 0; I < FLines.size(); ++I) {
        Text += FLines[I];
        if (I + 1 < FLines.size() || FFinalLineEnd)
            Text += '\n';
    }
    ReplaceFile(FFileName, Text);
    FDirty = false;
}

void ReplaceFile(const std::string& FileName, const std::string& Text) {
    namespace fs = std::filesystem;
    std::error_code Ec;
    // A settings file that is a symbolic link stays one: the file it points to is replaced.
    fs::path Target = platform::PathFromUtf8(FileName);
    for (int Hops = 0; Hops < 40 && fs::is_symlink(Target, Ec); ++Hops) {
        const fs::path Next = fs::read_symlink(Target, Ec);
        if (Ec)
            break;
        Target = Next.is_absolute() ? Next : Target.parent_path() / Next;
    }
    if (Target.has_parent_path() && !fs::exists(Target.parent_path(), Ec))
        fs::create_directories(Target.parent_path(), Ec); // the user's configuration folder
    // The whole text goes to a new file beside the old one, reaches the disk, and only then takes
    // the old one's place: a full disk, a crash or a kill leaves either the old file or the new
    // one, never half of one.
    try {
        platform::ReplaceFileContent(Target, Text);
    } catch (const std::runtime_error& E) {
        throw std::runtime_error("Unable to write to " + FileName + ": " + E.what() +
                                 " (the file was left as it was)");
    }
}
