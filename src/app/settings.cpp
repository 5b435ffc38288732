#include "settings.h"

#include "ini_file.h"

TSettings ReadSettings(const std::string& IniFileName) {
    const TIniFile Ini(IniFileName);
    TSettings S;
    for (const TRunOptionInfo& Option : RunOptions())
        Option.Set(S.Options, Ini.ReadInteger(SettingsSection, Option.Key, Option.Default()));
    S.LastSerial = Ini.ReadInteger(SettingsSection, "LastSerial", S.LastSerial);
    return S;
}

void WriteSettings(const std::string& IniFileName, const TSettings& S) {
    TIniFile Ini(IniFileName);
    for (const TRunOptionInfo& Option : RunOptions())
        Ini.WriteInteger(SettingsSection, Option.Key, Option.Get(S.Options));
    Ini.WriteInteger(SettingsSection, "LastSerial", S.LastSerial);
    Ini.UpdateFile();
}
