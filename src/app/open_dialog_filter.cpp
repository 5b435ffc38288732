#include "open_dialog_filter.h"

#include <cctype>

TOpenDialogFilter BuildOpenDialogFilter(const TJtagFilesList& Registry) {
    TOpenDialogFilter Result;
    std::string Patterns;
    const auto& Records = Registry.Records();
    for (size_t I = 0; I < Records.size(); ++I) {
        const std::string& Name = Records[I].TypeName;
        std::string Lower = Name;
        for (char& C : Lower)
            C = static_cast<char>(std::tolower(static_cast<unsigned char>(C)));
        if (I > 0) {
            Result.Filter += "|";
            Patterns += ";";
        }
        Result.Filter += Name + " files (*." + Lower + ")|*." + Name;
        Patterns += "*." + Name;
    }
    if (Records.size() > 1) {
        Result.Filter += "|All supported files|" + Patterns;
        Result.FilterIndex = static_cast<int>(Records.size()) + 1;
    }
    return Result;
}
