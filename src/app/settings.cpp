#include "settings.h"

#include <cctype>

#include "ini_file.h"

namespace {
bool SameName(const std::string& A, const char* B) {
    size_t I = 0;
    for (; I < A.size() && B[I]; ++I)
        if (std::tolower(static_cast<unsigned char>(A[I])) !=
            std::tolower(static_cast<unsigned char>(B[I])))
            return false;
    return I == A.size() && !B[I];
}

// A named value read by its name (any case) or its number; anything else gives the default.
int32_t ReadNamed(const TIniFile& Ini, const TRunOptionInfo& Option) {
    const std::string Text = Ini.ReadString(SettingsSection, Option.Key, "");
    for (int32_t V = Option.Min; V <= Option.Max; ++V)
        if (SameName(Text, Option.ValueNames[V - Option.Min]))
            return V;
    const int32_t Number = Ini.ReadInteger(SettingsSection, Option.Key, Option.Default());
    return Number >= Option.Min && Number <= Option.Max ? Number : Option.Default();
}
} // namespace

TSettings ReadSettings(const std::string& IniFileName) {
    const TIniFile Ini(IniFileName);
    TSettings S;
    for (const TRunOptionInfo& Option : RunOptions())
        Option.Set(S.Options, Option.ValueNames
                                  ? ReadNamed(Ini, Option)
                                  : Ini.ReadInteger(SettingsSection, Option.Key, Option.Default()));
    S.LastSerial = Ini.ReadInteger(SettingsSection, "LastSerial", S.LastSerial);
    return S;
}

void WriteSettings(const std::string& IniFileName, const TSettings& S,
                   const std::function<void(TIniFile&)>& WriteMore) {
    TIniFile Ini(IniFileName);
    for (const TRunOptionInfo& Option : RunOptions()) {
        const int32_t V = Option.Get(S.Options);
        if (Option.ValueNames)
            Ini.WriteString(SettingsSection, Option.Key, Option.ValueNames[V - Option.Min]);
        else
            Ini.WriteInteger(SettingsSection, Option.Key, V);
    }
    Ini.WriteInteger(SettingsSection, "LastSerial", S.LastSerial);
    if (WriteMore)
        WriteMore(Ini);
    Ini.UpdateFile();
}
