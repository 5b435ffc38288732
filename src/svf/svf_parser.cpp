// The SVF command parser: one statement becomes a TSVFCommand, and ApplySettings folds it into
// the persistent state (end states, run state, and the TDI/TDO/MASK values of the header, trailer
// and scan commands with the rules on what carries over to the next command).

#include <array>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <utility>

#include "line_exception.h"
#include "svf_file.h"
#include "tap_state.h"

namespace {

constexpr std::array<std::string_view, 15> CommandKeywords = {
    "ENDDR", "ENDIR", "FREQUENCY", "HDR",   "HIR", "SDR",  "SIR",    "TDR",
    "TIR",   "TRST",  "RUNTEST",   "STATE", "",    "LOOP", "ENDLOOP"};

struct TKeyword {
    std::string_view Word;
    uint8_t Kind;
};

// In the order the keywords are tested at each word.
constexpr std::array<TKeyword, 30> ParamKeywords = {{
    {"RESET", 0},
    {"IDLE", 1},
    {"DRSELECT", 2},
    {"DRCAPTURE", 3},
    {"DRSHIFT", 4},
    {"DREXIT1", 5},
    {"DRPAUSE", 6},
    {"DREXIT2", 7},
    {"DRUPDATE", 8},
    {"IRSELECT", 9},
    {"IRCAPTURE", 10},
    {"IRSHIFT", 11},
    {"IREXIT1", 12},
    {"IRPAUSE", 13},
    {"IREXIT2", 14},
    {"IRUPDATE", 15},
    {"TDI", pkTDI},
    {"TDO", pkTDO},
    {"MASK", pkMASK},
    {"SMASK", pkSMASK},
    {"SEC", pkSEC},
    {"HZ", pkHZ},
    {"ENDSTATE", pkENDSTATE},
    {"ON", pkON},
    {"OFF", pkOFF},
    {"Z", pkZ},
    {"ABSENT", pkABSENT},
    {"TCK", pkTCK},
    {"SCK", pkSCK},
    {"MAXIMUM", pkMAXIMUM},
}};

// The parameter keywords by their first letter: the words are all different, so which of them a
// word is does not depend on the order they are tried in, and only the few with its first letter
// need a look. Entries are indexes into ParamKeywords, 0xFF ends a bucket.
constexpr size_t BucketSize = 8;
using TKeywordBuckets = std::array<std::array<uint8_t, BucketSize>, 26>;
constexpr TKeywordBuckets MakeKeywordBuckets() {
    TKeywordBuckets B{};
    for (auto& Bucket : B)
        for (auto& E : Bucket)
            E = 0xFF;
    for (size_t K = 0; K < ParamKeywords.size(); ++K) {
        auto& Bucket = B[static_cast<size_t>(ParamKeywords[K].Word.front() - 'A')];
        size_t I = 0;
        while (Bucket[I] != 0xFF)
            ++I;
        Bucket[I] = static_cast<uint8_t>(K);
    }
    return B;
}
constexpr TKeywordBuckets KeywordBuckets = MakeKeywordBuckets();

const TKeyword* FindParamKeyword(std::string_view Word) {
    const unsigned First = static_cast<unsigned char>(Word.front()) - 'A';
    if (First >= 26)
        return nullptr;
    for (uint8_t K : KeywordBuckets[First]) {
        if (K == 0xFF)
            break;
        if (ParamKeywords[K].Word == Word)
            return &ParamKeywords[K];
    }
    return nullptr;
}

// A value longer than this replaces the one in force in that one's storage.
constexpr size_t KeptBytes = 4096;

bool IsScanCommand(uint8_t C) {
    return C >= cmdHDR && C <= cmdTIR;
}

// Hexadecimal digit values; 0xFF marks a character that is not one.
constexpr std::array<uint8_t, 256> MakeHexTable() {
    std::array<uint8_t, 256> T{};
    for (auto& V : T)
        V = 0xFF;
    for (int C = '0'; C <= '9'; ++C)
        T[static_cast<size_t>(C)] = static_cast<uint8_t>(C - '0');
    for (int C = 'A'; C <= 'F'; ++C)
        T[static_cast<size_t>(C)] = static_cast<uint8_t>(C - 'A' + 10);
    for (int C = 'a'; C <= 'f'; ++C)
        T[static_cast<size_t>(C)] = static_cast<uint8_t>(C - 'a' + 10);
    return T;
}
constexpr std::array<uint8_t, 256> HexValue = MakeHexTable();

inline uint8_t HexOf(char C) {
    return HexValue[static_cast<unsigned char>(C)];
}

// A word as a message quotes it: a damaged file may hold megabytes without a blank, so a long
// word is cut to its first 80 characters.
std::string Quoted(std::string_view Word) {
    constexpr size_t MaxQuoted = 80;
    if (Word.size() <= MaxQuoted)
        return std::string(Word);
    return std::string(Word.substr(0, MaxQuoted)) + "...";
}

[[noreturn]] void InvalidInteger(std::string_view Text) {
    throw std::invalid_argument("'" + Quoted(Text) + "' is not a valid integer value");
}

[[noreturn]] void InvalidFloat(std::string_view Text) {
    throw std::invalid_argument("'" + Quoted(Text) + "' is not a valid floating point value");
}

// The word list of a statement. Consuming a word blanks it, and a blank word matches nothing.
// A statement missing a word its keyword needs (SDR with no length, "TDI" as the last word)
// asks for an index beyond the list: that fails with "List index out of bounds" and the index,
// which the run reports as a fatal error.
class TWords {
public:
    explicit TWords(std::vector<std::string_view>& W) : FWords(W) {}
    int Count() const { return static_cast<int>(FWords.size()); }
    std::string_view At(int Index) const {
        if (Index < 0 || Index >= Count())
            OutOfBounds(Index);
        return FWords[static_cast<size_t>(Index)];
    }
    std::string_view Take(int Index) {
        const std::string_view W = At(Index);
        FWords[static_cast<size_t>(Index)] = {};
        return W;
    }

private:
    [[noreturn, gnu::cold, gnu::noinline]] static void OutOfBounds(int Index) {
        throw std::out_of_range("List index out of bounds (" + std::to_string(Index) + ")");
    }

    std::vector<std::string_view>& FWords;
};

// Decimal 32-bit integers; the number text never depends on the user's locale.
int32_t ParseInteger(std::string_view Text) {
    std::string_view Digits = Text;
    if (!Digits.empty() && Digits.front() == '+')
        Digits.remove_prefix(1);
    if (Digits.empty())
        InvalidInteger(Text);
    int32_t Value = 0;
    const auto [End, Err] = std::from_chars(Digits.data(), Digits.data() + Digits.size(), Value);
    if (Err != std::errc() || End != Digits.data() + Digits.size())
        InvalidInteger(Text);
    return Value;
}

// Decimal reals with an optional fraction and exponent (1E6, 1.00e+006, 50021E-6), always with
// "." as the decimal point.
long double ParseReal(std::string_view Text) {
    std::string_view Digits = Text;
    if (!Digits.empty() && Digits.front() == '+')
        Digits.remove_prefix(1);
    if (Digits.empty() || !(std::isdigit(static_cast<unsigned char>(Digits.front())) ||
                            Digits.front() == '.' || Digits.front() == '-'))
        InvalidFloat(Text);
    long double Value = 0;
    const auto [End, Err] = std::from_chars(Digits.data(), Digits.data() + Digits.size(), Value);
    if (Err != std::errc() || End != Digits.data() + Digits.size() || !std::isfinite(Value))
        InvalidFloat(Text);
    return Value;
}

// A value "(hex digits)" of Bits bits: the rightmost two digits are byte 0. Digits beyond the
// length are checked and dropped; the spare bits of the last byte are kept as given (they are
// never shifted or compared).
// False when the word is not in parentheses.
bool ParseHex(std::string_view Word, int64_t Bits, TVarLen& Out) {
    if (Word.size() < 2 || Word.front() != '(' || Word.back() != ')')
        return false;
    const std::string_view Digits = Word.substr(1, Word.size() - 2);
    // Only the bytes the digits spell out are held; the rest of the length reads as zeros.
    uint8_t* Bytes = Out.Assign(Bits, static_cast<int64_t>(Digits.size() + 1) / 2);
    const int64_t Size = Out.StoredBytes();
    const char* P = Digits.data();
    int64_t End = static_cast<int64_t>(Digits.size());
    int64_t Index = 0;
    while (End >= 2) {
        const uint8_t Hi = HexOf(P[End - 2]);
        const uint8_t Lo = HexOf(P[End - 1]);
        if ((Hi | Lo) & 0xF0)
            InvalidInteger(std::string("$").append(P + End - 2, 2));
        if (Index < Size)
            Bytes[Index] = static_cast<uint8_t>(Hi << 4 | Lo);
        ++Index;
        End -= 2;
    }
    if (End == 1) {
        const uint8_t Lo = HexOf(P[0]);
        if (Lo & 0xF0)
            InvalidInteger(std::string("$").append(P, 1));
        if (Index < Size)
            Bytes[Index] = Lo;
    }
    return true;
}

} // namespace

const TSVFParam* TSVFCommand::Find(uint8_t Kind) const {
    for (const TSVFParam& P : Parameters)
        if (P.Kind == Kind)
            return &P;
    return nullptr;
}

int32_t TSVFCommand::ParamInt(uint8_t Kind) const {
    const TSVFParam* P = Find(Kind);
    return P ? P->Value : 0;
}

long double TSVFCommand::ParamReal(uint8_t Kind) const {
    const TSVFParam* P = Find(Kind);
    return P ? P->Real : 0;
}

const TVarLen* TSVFCommand::ParamVector(uint8_t Kind) const {
    const TSVFParam* P = Find(Kind);
    return P ? &P->Vector : nullptr;
}

void TSVFFile::FreeParams(TSVFCommand& Command) {
    Command.Parameters.clear();
}

void TSVFFile::ParseCommand(TSVFCommand& Command) {
    SplitWords(ReadStatement(), FWords);
    TWords W(FWords);
    FreeParams(Command);

    const std::string_view First = W.At(0);
    if (FStatementAtEnd && First == EndWord && W.Count() == 1) {
        Command.Command = cmdEOF;
        return;
    }
    size_t Code = 0;
    while (Code < CommandKeywords.size() && CommandKeywords[Code] != First)
        ++Code;
    if (First == "PIO" || First == "PIOMAP")
        RaiseLineError("Unsupported SVF command " + std::string(First) +
                       ": parallel vectors: the KORVEX drives JTAG only");
    if (Code == CommandKeywords.size() || First.empty())
        RaiseLineError("Unknown SVF command " + Quoted(First));
    Command.Command = static_cast<uint8_t>(Code);
    W.Take(0);

    auto Append = [&](uint8_t Kind) -> TSVFParam& { return Command.Parameters.emplace_back(Kind); };

    int64_t Length = 0;
    if (IsScanCommand(Command.Command)) {
        const int32_t L = ParseInteger(W.At(1));
        W.Take(1);
        // A negative length has no meaning for a scan; refuse it before it reaches a vector.
        if (L < 0)
            RaiseLineError("Scan length " + std::to_string(L) + " is negative");
        if (L > MaxScanBits)
            RaiseLineError("Scan length " + std::to_string(L) + " is longer than " +
                           std::to_string(MaxScanBits) + " bits");
        Append(pkInteger).Value = L;
        Length = L;
    }

    for (int A = 1; A < W.Count(); ++A) {
        const std::string_view Word = W.At(A);
        if (Word.empty())
            continue;
        // Values and numbers are most of the words; they start with no letter and are passed at
        // once.
        const TKeyword* Match = FindParamKeyword(Word);
        if (!Match)
            continue;
        W.Take(A);
        TSVFParam& P = Append(Match->Kind);
        switch (Match->Kind) {
        case pkTDI:
        case pkTDO:
        case pkMASK:
        case pkSMASK:
            if (W.At(A + 1).size() / 2 > KeptBytes && IsScanCommand(Command.Command)) {
                // A long value given again replaces the one in force, which is only dead weight
                // from here on: its storage takes the new digits, so a bitstream's values are
                // not held twice.
                TScanData& D = FScans[ScanIndex(Command.Command)];
                TVarLen& Old = Match->Kind == pkTDI    ? D.Tdi
                               : Match->Kind == pkTDO  ? D.Tdo
                               : Match->Kind == pkMASK ? D.Mask
                                                       : D.Smask;
                if (Old.CapacityBytes() > P.Vector.CapacityBytes()) {
                    P.Vector = std::move(Old);
                    Old = TVarLen();
                }
            }
            if (!ParseHex(W.At(A + 1), Length, P.Vector))
                RaiseLineError("Hexadecimal number is not enclosed in parentheses.");
            W.Take(A + 1);
            break;
        case pkSEC:
        case pkHZ:
            // The value stands before its keyword: 1.0E-3 SEC, 1E6 HZ.
            P.Real = ParseReal(W.At(A - 1));
            W.Take(A - 1);
            break;
        case pkMAXIMUM:
            P.Real = ParseReal(W.At(A + 1));
            W.Take(A + 1);
            if (W.At(A + 2) != "SEC")
                RaiseLineError("Keyword MAXIMUM without keyword SEC");
            W.Take(A + 2);
            break;
        default:
            break;
        }
    }

    if (Command.Command == cmdRUNTEST || Command.Command == cmdLOOP)
        for (int A = 1; A < W.Count(); ++A)
            if (!W.At(A).empty()) {
                Append(pkInteger).Value = ParseInteger(W.Take(A));
                break;
            }

    for (int A = 1; A < W.Count(); ++A)
        if (!W.At(A).empty())
            RaiseLineError("Unknown keyword " + Quoted(W.At(A)));

    // Targets the TAP walk can never reach are refused here, with the statement's line, instead
    // of sending the device somewhere nobody asked for.
    // A state the TAP cannot stay in is refused as well: clocks or a wait there would move the
    // device on while the player believes it stayed.
    const auto& Ps = Command.Parameters;
    const std::string_view Name = CommandKeywords[Command.Command];
    auto RequireStable = [&](uint8_t State) {
        if (!IsStableTapState(State))
            RaiseLineError(std::string(Name) + " " + std::string(TapStateName(State)) +
                           ": not a stable TAP state (RESET, IDLE, DRPAUSE or IRPAUSE)");
    };
    if (Command.Command == cmdENDDR || Command.Command == cmdENDIR) {
        if (Ps.empty() || !IsTapState(Ps.front().Kind))
            RaiseLineError(std::string(Name) + " without a TAP state");
        RequireStable(Ps.front().Kind);
    } else if (Command.Command == cmdSTATE) {
        for (const TSVFParam& P : Ps)
            if (!IsTapState(P.Kind))
                RaiseLineError("STATE with a parameter that is not a TAP state");
        // The states before the last one are a path the TAP passes through.
        if (!Ps.empty())
            RequireStable(Ps.back().Kind);
    } else if (Command.Command == cmdRUNTEST) {
        for (size_t I = 0; I < Ps.size(); ++I)
            if (Ps[I].Kind == pkENDSTATE && (I + 1 >= Ps.size() || !IsTapState(Ps[I + 1].Kind)))
                RaiseLineError("Keyword ENDSTATE without a TAP state");
        for (const TSVFParam& P : Ps)
            if (IsTapState(P.Kind))
                RequireStable(P.Kind);
        if (Command.HasParam(pkInteger) && Command.ParamInt(pkInteger) < 0)
            RaiseLineError("RUNTEST run_count must not be negative");
    } else if (Command.Command == cmdLOOP) {
        if (!Command.HasParam(pkInteger) || Command.ParamInt(pkInteger) < 1)
            RaiseLineError("LOOP needs a count of at least 1");
    }
}

void TSVFFile::ApplySettings(const TSVFCommand& Command) {
    ApplySettings(Command, nullptr);
}

void TSVFFile::TakeSettings(TSVFCommand& Command) {
    ApplySettings(Command, &Command);
}

void TSVFFile::ApplySettings(const TSVFCommand& Command, TSVFCommand* Source) {
    switch (Command.Command) {
    case cmdENDDR:
        EndDR = Command.Parameters.front().Kind;
        return;
    case cmdENDIR:
        EndIR = Command.Parameters.front().Kind;
        return;
    case cmdFREQUENCY:
        SetFrequency(Command, false);
        return;
    case cmdRUNTEST:
        if (!Command.Parameters.empty() && IsTapState(Command.Parameters.front().Kind))
            RunState = Command.Parameters.front().Kind;
        return;
    default:
        break;
    }
    if (!IsScanCommand(Command.Command))
        return;

    TScanData& D = FScans[ScanIndex(Command.Command)];
    const int64_t Length = Command.ParamInt(pkInteger);
    // The first value of each kind counts; one pass over the parameters finds them all. Values
    // are moved out when Source (Command itself, as a modifiable object) is given, and the
    // command gets the old storage to reuse.
    std::array<TVarLen*, 4> Values = {&D.Tdi, &D.Tdo, &D.Mask, &D.Smask};
    std::array<bool, 4> Given{};
    for (size_t I = 0; I < Command.Parameters.size(); ++I) {
        const unsigned K = Command.Parameters[I].Kind - pkTDI;
        if (K >= Values.size() || Given[K])
            continue;
        Given[K] = true;
        if (Source)
            std::swap(*Values[K], Source->Parameters[I].Vector);
        else
            *Values[K] = Command.Parameters[I].Vector;
    }
    // TDI carries over to the next command of the same kind, even when the length changes.
    if (!Given[0])
        D.Tdi.SetBitLength(Length);
    // TDO never carries over: without one nothing is compared.
    if (!Given[1])
        D.Tdo.SetBitLength(0);
    // MASK and SMASK carry over while the length stays; otherwise every bit counts.
    for (size_t K : {2, 3})
        if (!Given[K] && Values[K]->BitLength() != Length)
            Values[K]->Assign(Length, 0, 0xFF);
}

void TSVFFile::SetFrequency(const TSVFCommand& Command, bool Send) {
    if (!Events.OnSetFrequency)
        return;
    // The programmer refuses a frequency it cannot make (0 Hz, a negative one): say where.
    try {
        const int64_t Hz = Events.OnSetFrequency(FrequencyOf(Command), Send);
        if (Send)
            FFrequency = Hz;
    } catch (const ELineException&) {
        throw;
    } catch (const std::exception& E) {
        RaiseLineError(E.what());
    }
}

int64_t TSVFFile::FrequencyOf(const TSVFCommand& Command) const {
    if (!Command.HasParam(pkHZ))
        return DefaultFrequency;
    // Halves to even, as the default rounding mode does; kept inside what 64 bits can carry.
    const long double Hz = std::nearbyint(Command.ParamReal(pkHZ));
    if (Hz >= 9.0e18L)
        return INT64_MAX;
    if (Hz <= -9.0e18L)
        return INT64_MIN;
    return static_cast<int64_t>(Hz);
}
