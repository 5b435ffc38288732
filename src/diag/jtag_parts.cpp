#include "jtag_parts.h"

#include <sstream>
#include <stdexcept>

// The text of jtag_parts.tsv, generated into the build folder (jtag_parts_data.cpp.in).
extern const char* const JtagPartsText;

namespace {

uint32_t ParseNumber(const std::string& Field, int LineNumber) {
    try {
        size_t Used = 0;
        const unsigned long V = std::stoul(Field, &Used, 0);
        if (Used == Field.size() && V <= 0xFFFFFFFFul)
            return static_cast<uint32_t>(V);
    } catch (const std::exception&) {
    }
    throw std::runtime_error("Part table line " + std::to_string(LineNumber) + ": \"" + Field +
                             "\" is not a number");
}

std::vector<std::string> SplitTabs(const std::string& Line) {
    std::vector<std::string> Fields;
    std::string Field;
    std::istringstream In(Line);
    while (std::getline(In, Field, '\t')) {
        const size_t First = Field.find_first_not_of(" \r");
        if (First != std::string::npos)
            Fields.push_back(Field.substr(First, Field.find_last_not_of(" \r") - First + 1));
    }
    return Fields;
}

} // namespace

TJtagPartTable::TJtagPartTable(std::string_view Text) {
    std::istringstream In{std::string(Text)};
    std::string Line;
    int LineNumber = 0;
    while (std::getline(In, Line)) {
        ++LineNumber;
        if (const size_t Hash = Line.find('#'); Hash != std::string::npos)
            Line.erase(Hash);
        const std::vector<std::string> F = SplitTabs(Line);
        if (F.empty())
            continue;
        if (F[0] == "maker" && F.size() == 4) {
            const uint32_t Bank = ParseNumber(F[1], LineNumber);
            const uint32_t Code = ParseNumber(F[2], LineNumber);
            if (Bank < 1 || Bank > 16 || Code > 0x7F)
                throw std::runtime_error("Part table line " + std::to_string(LineNumber) +
                                         ": JEP106 bank 1..16 and code 0..0x7F expected");
            FMakers.push_back({static_cast<int>(Bank), static_cast<uint8_t>(Code), F[3]});
        } else if (F[0] == "part" && F.size() == 5) {
            FParts.push_back({ParseNumber(F[1], LineNumber), ParseNumber(F[2], LineNumber),
                              static_cast<int>(ParseNumber(F[3], LineNumber)), F[4]});
        } else {
            throw std::runtime_error("Part table line " + std::to_string(LineNumber) +
                                     ": \"maker\" with 3 or \"part\" with 4 fields expected");
        }
    }
}

const TJtagPartTable& TJtagPartTable::BuiltIn() {
    static const TJtagPartTable Table(JtagPartsText);
    return Table;
}

const TJtagMaker* TJtagPartTable::MakerOf(uint32_t Idcode) const {
    for (const TJtagMaker& M : FMakers)
        if (M.Bank == Jep106Bank(Idcode) && M.Code == Jep106Code(Idcode))
            return &M;
    return nullptr;
}

const TJtagPart* TJtagPartTable::PartOf(uint32_t Idcode) const {
    for (const TJtagPart& P : FParts)
        if ((Idcode & P.Mask) == (P.Idcode & P.Mask))
            return &P;
    return nullptr;
}
