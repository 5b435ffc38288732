#include "settings.h"

#include "ini_file.h"

TSettings ReadSettings(const std::string& IniFileName) {
    const TIniFile Ini(IniFileName);
    const TSettings Defaults;
    TSettings S;
    auto Byte = [&](const char* Key, uint8_t Default) {
        return static_cast<uint8_t>(Ini.ReadInteger(SettingsSection, Key, Default) & 0xFF);
    };
    S.DefFreq = Byte("DefFreq", Defaults.DefFreq);
    S.RTwTime = Byte("RTwTime", Defaults.RTwTime);
    S.RTwCount = Byte("RTwCount", Defaults.RTwCount);
    S.PActive = Byte("PActive", Defaults.PActive);
    S.PInactive = Byte("PInactive", Defaults.PInactive);
    S.LastSerial = Ini.ReadInteger(SettingsSection, "LastSerial", Defaults.LastSerial);
    S.SecurityTime = Ini.ReadInteger(SettingsSection, "SecurityTime", Defaults.SecurityTime);
    S.WriteComments = Ini.ReadInteger(SettingsSection, "WriteComments", 1) != 0;
    return S;
}

void WriteSettings(const std::string& IniFileName, const TSettings& S) {
    TIniFile Ini(IniFileName);
    Ini.WriteInteger(SettingsSection, "DefFreq", S.DefFreq);
    Ini.WriteInteger(SettingsSection, "RTwTime", S.RTwTime);
    Ini.WriteInteger(SettingsSection, "RTwCount", S.RTwCount);
    Ini.WriteInteger(SettingsSection, "PActive", S.PActive);
    Ini.WriteInteger(SettingsSection, "PInactive", S.PInactive);
    Ini.WriteInteger(SettingsSection, "SecurityTime", S.SecurityTime);
    Ini.WriteInteger(SettingsSection, "WriteComments", S.WriteComments ? 1 : 0);
    Ini.WriteInteger(SettingsSection, "LastSerial", S.LastSerial);
    Ini.UpdateFile();
}
