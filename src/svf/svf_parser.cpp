// The SVF command parser: one statement becomes a TSVFCommand, and ApplySettings folds it into
// the persistent state (end states, run state, and the TDI/TDO/MASK values of the header, trailer
// and scan commands with the rules on what carries over to the next command).

#include <algorithm>
#include <array>
#include <bit>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <stdexcept>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "line_exception.h"
#include "svf_file.h"
#include "tap_state.h"

namespace {

constexpr std::array<std::string_view, 15> CommandKeywords = {
    "ENDDR", "ENDIR", "FREQUENCY", "HDR",   "HIR", "SDR",  "SIR",    "TDR",
    "TIR",   "TRST",  "RUNTEST",   "STATE", "",    "LOOP", "ENDLOOP"};

// Every word the parser knows, with what it is as a statement's keyword and as a parameter.
constexpr uint8_t NotOne = 0xFF;
constexpr uint8_t cmdPIO = 0xFE; // PIO and PIOMAP: known, not supported
constexpr uint8_t cmdEndWord = 0xFD;

struct TKeyword {
    std::string_view Word;
    uint8_t Command;
    uint8_t Kind;
};

constexpr std::array<TKeyword, 47> Keywords = {{
    {"ENDDR", cmdENDDR, NotOne},
    {"ENDIR", cmdENDIR, NotOne},
    {"FREQUENCY", cmdFREQUENCY, NotOne},
    {"HDR", cmdHDR, NotOne},
    {"HIR", cmdHIR, NotOne},
    {"SDR", cmdSDR, NotOne},
    {"SIR", cmdSIR, NotOne},
    {"TDR", cmdTDR, NotOne},
    {"TIR", cmdTIR, NotOne},
    {"TRST", cmdTRST, NotOne},
    {"RUNTEST", cmdRUNTEST, NotOne},
    {"STATE", cmdSTATE, NotOne},
    {"LOOP", cmdLOOP, NotOne},
    {"ENDLOOP", cmdENDLOOP, NotOne},
    {"PIO", cmdPIO, NotOne},
    {"PIOMAP", cmdPIO, NotOne},
    {"__EOF", cmdEndWord, NotOne},
    {"RESET", NotOne, 0},
    {"IDLE", NotOne, 1},
    {"DRSELECT", NotOne, 2},
    {"DRCAPTURE", NotOne, 3},
    {"DRSHIFT", NotOne, 4},
    {"DREXIT1", NotOne, 5},
    {"DRPAUSE", NotOne, 6},
    {"DREXIT2", NotOne, 7},
    {"DRUPDATE", NotOne, 8},
    {"IRSELECT", NotOne, 9},
    {"IRCAPTURE", NotOne, 10},
    {"IRSHIFT", NotOne, 11},
    {"IREXIT1", NotOne, 12},
    {"IRPAUSE", NotOne, 13},
    {"IREXIT2", NotOne, 14},
    {"IRUPDATE", NotOne, 15},
    {"TDI", NotOne, pkTDI},
    {"TDO", NotOne, pkTDO},
    {"MASK", NotOne, pkMASK},
    {"SMASK", NotOne, pkSMASK},
    {"SEC", NotOne, pkSEC},
    {"HZ", NotOne, pkHZ},
    {"ENDSTATE", NotOne, pkENDSTATE},
    {"ON", NotOne, pkON},
    {"OFF", NotOne, pkOFF},
    {"Z", NotOne, pkZ},
    {"ABSENT", NotOne, pkABSENT},
    {"TCK", NotOne, pkTCK},
    {"SCK", NotOne, pkSCK},
    {"MAXIMUM", NotOne, pkMAXIMUM},
}};
constexpr size_t LongestKeyword = 9;

// A word is found by a hash of its first eight characters and its length, which no two of the
// words share, and one comparison.
constexpr uint64_t KeyOf(const char* P, size_t N) {
    uint64_t K = 0;
    for (size_t I = 0; I < N && I < 8; ++I)
        K |= uint64_t{static_cast<unsigned char>(P[I])} << (8 * I);
    return K ^ (uint64_t{N} << 59);
}
constexpr size_t SlotOf(uint64_t Key) {
    return static_cast<size_t>((Key * 0xad1d2cb9983f9a9bULL) >> 57);
}

struct TKeywordTable {
    std::array<uint8_t, 128> Slot{}; // index into Keywords + 1; 0 is free
    std::array<uint64_t, Keywords.size()> Key{};
    bool Collides = false;
};
constexpr TKeywordTable MakeKeywordTable() {
    TKeywordTable T;
    for (size_t I = 0; I < Keywords.size(); ++I) {
        const std::string_view W = Keywords[I].Word;
        T.Key[I] = KeyOf(W.data(), W.size());
        uint8_t& S = T.Slot[SlotOf(T.Key[I])];
        T.Collides = T.Collides || S != 0;
        S = static_cast<uint8_t>(I + 1);
    }
    return T;
}
constexpr TKeywordTable KeywordTable = MakeKeywordTable();
static_assert(!KeywordTable.Collides, "two keywords share a slot");

// The first eight characters of a word and its length as KeyOf makes them; the caller's
// buffer has room for eight characters whatever the length.
inline uint64_t LoadKey(const char* P, size_t N) {
    if constexpr (std::endian::native != std::endian::little)
        return KeyOf(P, N);
    uint64_t K;
    std::memcpy(&K, P, 8);
    if (N < 8)
        K &= (uint64_t{1} << (8 * N)) - 1;
    return K ^ (uint64_t{N} << 59);
}

inline const TKeyword* FindKeyword(const char* P, size_t N) {
    if (N == 0 || N > LongestKeyword)
        return nullptr;
    const uint64_t Key = LoadKey(P, N);
    const uint8_t S = KeywordTable.Slot[SlotOf(Key)];
    if (S == 0)
        return nullptr;
    const TKeyword& K = Keywords[S - 1];
    if (KeywordTable.Key[S - 1] != Key || (N > 8 && K.Word[8] != P[8]))
        return nullptr;
    return &K;
}

// The characters of S as a little-endian load of eight bytes gives them.
constexpr uint64_t Packed(std::string_view S) {
    uint64_t K = 0;
    for (size_t I = 0; I < S.size() && I < 8; ++I)
        K |= uint64_t{static_cast<unsigned char>(S[I])} << (8 * I);
    return K;
}

// The first eight bytes at P, little-endian, which the buffer has.
inline uint64_t Load8(const char* P) {
    uint64_t W;
    std::memcpy(&W, P, 8);
    if constexpr (std::endian::native == std::endian::big)
        W = __builtin_bswap64(W);
    return W;
}

// " TDI (", " TDO (", " MASK (" or " SMASK (" at P, as tools write them: the parameter kind,
// with P moved past the parenthesis, or 0. One load of eight bytes.
inline uint8_t ValueKeywordAt(const char*& P, const char* End) {
    if (End - P < 8)
        return 0;
    const uint64_t W = Load8(P);
    constexpr uint64_t Six = (uint64_t{1} << 48) - 1, Seven = (uint64_t{1} << 56) - 1;
    uint8_t Kind = 0;
    size_t Length = 0;
    if ((W & Six) == Packed(" TDI ("))
        Kind = pkTDI, Length = 6;
    else if ((W & Six) == Packed(" TDO ("))
        Kind = pkTDO, Length = 6;
    else if ((W & Seven) == Packed(" MASK ("))
        Kind = pkMASK, Length = 7;
    else if (W == Packed(" SMASK ("))
        Kind = pkSMASK, Length = 8;
    P += Length;
    return Kind;
}

// A value longer than this replaces the one in force in that one's storage.
constexpr size_t KeptBytes = 4096;

bool IsScanCommand(uint8_t C) {
    return C >= cmdHDR && C <= cmdTIR;
}

// What a character of a value is: a hexadecimal digit's value, NoDigit for any other character
// the reader keeps in a word, and EndOfDigits for those it treats itself (separators,
// parentheses, ";", comment starts).
constexpr uint8_t NoDigit = 0x10;
constexpr uint8_t EndOfDigits = 0xFF;
constexpr std::array<uint8_t, 256> MakeHexTable() {
    std::array<uint8_t, 256> T{};
    for (unsigned C = 0; C < 256; ++C)
        T[C] = (C <= 32 || C == 255 || C == '(' || C == ')' || C == ';' || C == '!' || C == '/')
                   ? EndOfDigits
                   : NoDigit;
    for (unsigned C = '0'; C <= '9'; ++C)
        T[C] = static_cast<uint8_t>(C - '0');
    for (unsigned C = 'A'; C <= 'F'; ++C)
        T[C] = static_cast<uint8_t>(C - 'A' + 10);
    for (unsigned C = 'a'; C <= 'f'; ++C)
        T[C] = static_cast<uint8_t>(C - 'a' + 10);
    return T;
}
constexpr std::array<uint8_t, 256> HexValue = MakeHexTable();

inline uint8_t HexOf(char C) {
    return HexValue[static_cast<unsigned char>(C)];
}

// The hexadecimal digits at P, at most 16 and none at or beyond End: how many there are, and in
// Value the number they spell. Reads 16 bytes at P, which the buffer has. Without branches on
// the digits, whose count differs from value to value.
inline size_t HexRun(const char* P, const char* End, uint64_t& Value) {
#if defined(__SSE2__)
    const __m128i V = _mm_loadu_si128(reinterpret_cast<const __m128i*>(P));
    const __m128i Digit = _mm_and_si128(_mm_cmpgt_epi8(V, _mm_set1_epi8('0' - 1)),
                                        _mm_cmplt_epi8(V, _mm_set1_epi8('9' + 1)));
    const __m128i Lower = _mm_or_si128(V, _mm_set1_epi8(0x20));
    const __m128i Letter = _mm_and_si128(_mm_cmpgt_epi8(Lower, _mm_set1_epi8('a' - 1)),
                                         _mm_cmplt_epi8(Lower, _mm_set1_epi8('f' + 1)));
    const auto Hex = static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(Digit, Letter)));
    const size_t Count = std::min<size_t>(static_cast<size_t>(__builtin_ctz(~Hex | 0x10000u)),
                                          static_cast<size_t>(End - P));
    if (Count == 0) {
        Value = 0;
        return 0;
    }
    // Each digit's value in its byte: the low four bits, and 9 more for a letter (bit 6).
    const __m128i Nine = _mm_and_si128(_mm_srli_epi16(V, 6), _mm_set1_epi8(1));
    const __m128i Nibbles = _mm_add_epi8(_mm_and_si128(V, _mm_set1_epi8(0x0F)),
                                         _mm_add_epi8(_mm_slli_epi16(Nine, 3), Nine));
    uint64_t Half[2];
    _mm_storeu_si128(reinterpret_cast<__m128i*>(Half), Nibbles);
    // Eight digits, the first in the lowest byte, as the number they spell.
    const auto Spell = [](uint64_t X) {
        X = ((X & 0x000F000F000F000Full) << 4) | ((X >> 8) & 0x000F000F000F000Full);
        X = (X | (X >> 8)) & 0x0000FFFF0000FFFFull;
        X = (X | (X >> 16)) & 0xFFFFFFFFull;
        return uint64_t{__builtin_bswap32(static_cast<uint32_t>(X))};
    };
    // All sixteen positions spelled, the ones after the digits dropped.
    Value = (Spell(Half[0]) << 32 | Spell(Half[1])) >> (4 * (16 - Count));
    return Count;
#else
    uint64_t V = 0;
    size_t Count = 0;
    for (uint8_t H; P + Count != End && Count < 16 && (H = HexOf(P[Count])) < 16; ++Count)
        V = V << 4 | H;
    Value = V;
    return Count;
#endif
}

char UpperOf(char C) {
    return static_cast<char>(C ^ ((static_cast<unsigned char>(C - 'a') < 26) << 5));
}

// A word as a message quotes it: a damaged file may hold megabytes without a blank, so a long
// word is cut to its first 80 characters.
std::string Quoted(std::string_view Word) {
    constexpr size_t MaxQuoted = 80;
    if (Word.size() <= MaxQuoted)
        return std::string(Word);
    return std::string(Word.substr(0, MaxQuoted)) + "...";
}

std::string Invalid(std::string_view Text, const char* What) {
    std::string Message(1, '\'');
    Message.append(Quoted(Text)).append("' is not a valid ").append(What).append(" value");
    return Message;
}

std::string InvalidInteger(std::string_view Text) {
    return Invalid(Text, "integer");
}

std::string InvalidFloat(std::string_view Text) {
    return Invalid(Text, "floating point");
}

std::string OutOfBounds(int32_t Index) {
    return "List index out of bounds (" + std::to_string(Index) + ")";
}

// Decimal 32-bit integers; the number text never depends on the user's locale.
bool ParseInteger(std::string_view Text, int32_t& Value) {
    // Lengths and counts are a few plain digits.
    if (!Text.empty() && Text.size() <= 9) {
        int32_t V = 0;
        size_t I = 0;
        for (; I < Text.size(); ++I) {
            const unsigned D = static_cast<unsigned char>(Text[I]) - unsigned{'0'};
            if (D > 9)
                break;
            V = V * 10 + static_cast<int32_t>(D);
        }
        if (I == Text.size()) {
            Value = V;
            return true;
        }
    }
    std::string_view Digits = Text;
    if (!Digits.empty() && Digits.front() == '+')
        Digits.remove_prefix(1);
    if (Digits.empty())
        return false;
    const auto [End, Err] = std::from_chars(Digits.data(), Digits.data() + Digits.size(), Value);
    return Err == std::errc() && End == Digits.data() + Digits.size();
}

// Decimal reals with an optional fraction and exponent (1E6, 1.00e+006, 50021E-6), always with
// "." as the decimal point.
bool ParseReal(std::string_view Text, long double& Value) {
    std::string_view Digits = Text;
    if (!Digits.empty() && Digits.front() == '+')
        Digits.remove_prefix(1);
    if (Digits.empty() || !(std::isdigit(static_cast<unsigned char>(Digits.front())) ||
                            Digits.front() == '.' || Digits.front() == '-'))
        return false;
    const auto [End, Err] = std::from_chars(Digits.data(), Digits.data() + Digits.size(), Value);
    return Err == std::errc() && End == Digits.data() + Digits.size() && std::isfinite(Value);
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
    FreeParams(Command);
    FCommand = &Command;
    FRole = wrCommand;
    FWordCount = 0;
    FLength = 0;
    FEndWord = false;
    FPrevFree = false;
    FFreeCount = 0;
    FError = feNone;
    FTypical = false;
    ReadStatement();
    if (FTypical)
        FCommand = nullptr; // nothing left to check
    else
        FinishStatement();
}

void TSVFFile::Fail(TFrontError Kind, std::string Text) {
    FError = Kind;
    FErrorText = std::move(Text);
    FRole = wrSkip;
}

void TSVFFile::TakeWord(std::string_view Word) {
    TSVFCommand& Command = *FCommand;
    switch (FRole) {
    case wrCommand: {
        const TKeyword* K = FindKeyword(Word.data(), Word.size());
        const uint8_t Code = K ? K->Command : NotOne;
        if (Code == cmdEndWord) {
            // Only the reader's own end marker, alone in its statement, ends the file; that is
            // known at the ";".
            FEndWord = true;
            FRole = wrSkip;
        } else if (Code == cmdPIO)
            Fail(feLine, "Unsupported SVF command " + std::string(Word) +
                             ": parallel vectors: the KORVEX drives JTAG only");
        else if (Code == NotOne)
            Fail(feLine, "Unknown SVF command " + Quoted(Word));
        else {
            Command.Command = Code;
            FRole = IsScanCommand(Code) ? wrLength : wrKeyword;
        }
        return;
    }
    case wrLength: {
        int32_t L = 0;
        if (!ParseInteger(Word, L))
            Fail(feArgument, InvalidInteger(Word));
        // A negative length has no meaning for a scan; refuse it before it reaches a vector.
        else if (L < 0)
            Fail(feLine, "Scan length " + std::to_string(L) + " is negative");
        else if (L > MaxScanBits)
            Fail(feLine, "Scan length " + std::to_string(L) + " is longer than " +
                             std::to_string(MaxScanBits) + " bits");
        else {
            Command.Parameters.emplace_back(pkInteger).Value = L;
            FLength = L;
            FRole = wrKeyword;
        }
        return;
    }
    case wrKeyword:
        break;
    case wrValue:
        // A value must stand in parentheses; this word does not start with one.
        Fail(feLine, "Hexadecimal number is not enclosed in parentheses.");
        return;
    case wrMaxReal: {
        long double Real = 0;
        if (!ParseReal(Word, Real))
            Fail(feArgument, InvalidFloat(Word));
        else {
            Command.Parameters[FValueParam].Real = Real;
            FRole = wrMaxSec;
        }
        return;
    }
    case wrMaxSec:
        if (Word != "SEC")
            Fail(feLine, "Keyword MAXIMUM without keyword SEC");
        else
            FRole = wrKeyword;
        return;
    case wrSkip:
        return;
    case wrCollect:
        FCollected->emplace_back(Word);
        return;
    }

    // A parameter keyword, or a word no keyword has taken yet: a time the next SEC or HZ takes,
    // the run count of RUNTEST or LOOP, or an unknown keyword.
    const TKeyword* K = FindKeyword(Word.data(), Word.size());
    const uint8_t Kind = K ? K->Kind : NotOne;
    if (Kind == NotOne) {
        if (FPrevFree && FFreeCount < static_cast<int>(FFreeWords.size()))
            FFreeWords[static_cast<size_t>(FFreeCount++)].swap(FPrevWord);
        FPrevWord.assign(Word);
        FPrevFree = true;
        return;
    }
    TSVFParam& P = Command.Parameters.emplace_back(Kind);
    switch (Kind) {
    case pkTDI:
    case pkTDO:
    case pkMASK:
    case pkSMASK:
        FValueParam = Command.Parameters.size() - 1;
        FRole = wrValue;
        break;
    case pkSEC:
    case pkHZ: {
        // The value stands before its keyword: 1.0E-3 SEC, 1E6 HZ. A word some other keyword
        // took reads as empty.
        const std::string_view Time = FPrevFree ? std::string_view(FPrevWord) : std::string_view();
        FPrevFree = false;
        long double Real = 0;
        if (!ParseReal(Time, Real))
            Fail(feArgument, InvalidFloat(Time));
        else
            P.Real = Real;
        return;
    }
    case pkMAXIMUM:
        FValueParam = Command.Parameters.size() - 1;
        FRole = wrMaxReal;
        break;
    default:
        break;
    }
    if (FPrevFree && FFreeCount < static_cast<int>(FFreeWords.size()))
        FFreeWords[static_cast<size_t>(FFreeCount++)].swap(FPrevWord);
    FPrevFree = false;
}

void TSVFFile::BeginValue() {
    TSVFParam& P = FCommand->Parameters[FValueParam];
    if (static_cast<size_t>(TVarLen::BytesFor(FLength)) > KeptBytes &&
        IsScanCommand(FCommand->Command)) {
        // A long value given again replaces the one in force, which is only dead weight from
        // here on: its storage takes the new digits, so a bitstream's values are not held
        // twice.
        TScanData& D = FScans[ScanIndex(FCommand->Command)];
        TVarLen& Old = P.Kind == pkTDI    ? D.Tdi
                       : P.Kind == pkTDO  ? D.Tdo
                       : P.Kind == pkMASK ? D.Mask
                                          : D.Smask;
        if (Old.CapacityBytes() > P.Vector.CapacityBytes()) {
            P.Vector = std::move(Old);
            Old = TVarLen();
        }
    }
    FValue = &P.Vector;
    // The value takes the bytes of its length; a few are enough to start with, as a value may
    // be much shorter than its length. A value of the same length as the one the storage held
    // before is written over as it is.
    const int64_t Bytes = TVarLen::BytesFor(FLength);
    FValueNeed = Bytes + 1;
    FValueRoom = std::min<int64_t>(Bytes, 64);
    if (FValue->BitLength() == FLength && FValue->StoredBytes() == FValueRoom &&
        FValue->Fill() == 0)
        FValueBytes = FValue->Data();
    else
        FValueBytes = FValue->Assign(FLength, FValueRoom);
    FValueUsed = 0;
    FDigits = 0;
    FBadAt = -1;
    FBadNeedsAfter = false;
    FLastDigit = 0;
}

void TSVFFile::TakeShortValue(const char* Digits, size_t Count) {
    uint64_t V = 0;
    for (size_t I = 0; I < Count; ++I)
        V = V << 4 | HexOf(Digits[I]);
    StoreShortValue(V, Count);
}

void TSVFFile::StoreShortValue(uint64_t V, size_t Count) {
    // The bytes the digits spell out, none beyond the length.
    const int64_t Held = std::min(static_cast<int64_t>(Count + 1) / 2, TVarLen::BytesFor(FLength));
    // Every held byte is written below.
    StoreBytesLE(FCommand->Parameters[FValueParam].Vector.Reshape(FLength, Held), V, Held);
    FRole = wrKeyword;
}

const char* TSVFFile::TakeTypicalStatement(const char* P, const char* End) {
    // Everything is read into locals first: a statement of any other shape leaves the parser
    // as it was, and the general reader takes it from its first character.
    const auto Blank = [](char C) { return C == ' ' || C == '\t'; };
    const auto SkipBlanks = [&] {
        while (P != End && Blank(*P))
            ++P;
    };
    // A keyword: upper-case letters (FindKeyword loads eight bytes, which the block has).
    const auto Word = [&] {
        const char* const Begin = P;
        while (P != End && static_cast<unsigned char>(*P - 'A') < 26)
            ++P;
        return FindKeyword(Begin, static_cast<size_t>(P - Begin));
    };
    // Plain decimal digits, few enough not to overflow, followed by a blank or the ";".
    const auto Number = [&](int64_t& Value) {
        Value = 0;
        const char* const Digits = P;
        while (P != End && static_cast<unsigned char>(*P - '0') < 10 && P - Digits < 9)
            Value = Value * 10 + (*P++ - '0');
        return P != Digits && P != End && (Blank(*P) || *P == ';');
    };
    // SDR and SIR with one blank, the commonest of all, by one load; anything else by its letters.
    uint8_t Code;
    if (End - P < 8)
        return nullptr;
    if (const uint64_t W = Load8(P) & 0xFFFFFFFFu; W == Packed("SDR ") || W == Packed("SIR ")) {
        Code = W == Packed("SDR ") ? cmdSDR : cmdSIR;
        P += 4;
    } else if (Load8(P) == Packed("RUNTEST ")) {
        Code = cmdRUNTEST;
        P += 8;
    } else {
        const TKeyword* Keyword = Word();
        if (!Keyword || P == End || !Blank(*P))
            return nullptr;
        Code = Keyword->Command;
    }
    SkipBlanks();
    const auto StableState = [&] {
        const TKeyword* K = Word();
        return K && IsTapState(K->Kind) && IsStableTapState(K->Kind) ? K->Kind : NotOne;
    };
    if (Code == cmdRUNTEST) {
        // RUNTEST [state] count TCK|SCK [ENDSTATE state], the parameters in the order the
        // general parser gives them: the count, a word of its own, comes last.
        uint8_t Run = NotOne, EndState = NotOne;
        if (P != End && static_cast<unsigned char>(*P - 'A') < 26) {
            Run = StableState();
            if (Run == NotOne || P == End || !Blank(*P))
                return nullptr;
            SkipBlanks();
        }
        int64_t Clocks = 0;
        if (!Number(Clocks) || !Blank(*P))
            return nullptr;
        SkipBlanks();
        uint8_t Unit;
        if (End - P >= 8 && (Load8(P) & 0xFFFFFF) == Packed("TCK") &&
            (Blank(P[3]) || P[3] == ';')) {
            Unit = pkTCK;
            P += 3;
        } else {
            const TKeyword* K = Word();
            if (!K || (K->Kind != pkTCK && K->Kind != pkSCK))
                return nullptr;
            Unit = K->Kind;
        }
        SkipBlanks();
        if (P != End && *P != ';') {
            const TKeyword* K = Word();
            if (!K || K->Kind != pkENDSTATE || P == End || !Blank(*P))
                return nullptr;
            SkipBlanks();
            if ((EndState = StableState()) == NotOne)
                return nullptr;
            SkipBlanks();
        }
        if (P == End || *P != ';')
            return nullptr;
        TSVFParams& Ps = FCommand->Parameters;
        FCommand->Command = cmdRUNTEST;
        if (Run != NotOne)
            Ps.emplace_back(Run);
        Ps.emplace_back(Unit);
        if (EndState != NotOne) {
            Ps.emplace_back(pkENDSTATE);
            Ps.emplace_back(EndState);
        }
        Ps.emplace_back(pkInteger).Value = static_cast<int32_t>(Clocks);
        FRole = wrKeyword;
        FWordCount = static_cast<int32_t>(Ps.size() + 1);
        return P;
    }
    int64_t Length = 0;
    if (!IsScanCommand(Code) || !Number(Length) || Length > MaxScanBits)
        return nullptr;
    // TDI, TDO, MASK and SMASK with their values: up to 16 digits decoded as they are read,
    // longer ones only checked.
    struct TItem {
        uint8_t Kind;
        const char* Digits;
        size_t Count;
        uint64_t Value;
    };
    constexpr size_t MaxItems = 8;
    TItem Items[MaxItems];
    size_t Count = 0;
    for (;;) {
        uint8_t Kind = ValueKeywordAt(P, End);
        if (!Kind) {
            SkipBlanks();
            if (P == End)
                return nullptr;
            if (*P == ';')
                break;
            const TKeyword* K = Word();
            if (!K || K->Kind < pkTDI || K->Kind > pkSMASK)
                return nullptr;
            SkipBlanks();
            if (P == End || *P != '(')
                return nullptr;
            Kind = K->Kind;
            ++P;
        }
        if (Count == MaxItems)
            return nullptr;
        TItem& Item = Items[Count++];
        Item.Kind = Kind;
        Item.Digits = P;
        P += HexRun(P, End, Item.Value);
        if (P - Item.Digits == 16)
            while (P != End && HexOf(*P) < 16)
                ++P; // a long value: only checked here, decoded below
        if (P == End || *P != ')')
            return nullptr;
        Item.Count = static_cast<size_t>(P - Item.Digits);
        ++P;
    }

    TSVFCommand& Command = *FCommand;
    Command.Command = Code;
    Command.Parameters.emplace_back(pkInteger).Value = static_cast<int32_t>(Length);
    FLength = Length;
    for (size_t I = 0; I < Count; ++I) {
        const TItem& Item = Items[I];
        Command.Parameters.emplace_back(Item.Kind);
        FValueParam = Command.Parameters.size() - 1;
        if (Item.Count <= 16 && Length <= 64)
            StoreShortValue(Item.Value, Item.Count);
        else {
            BeginValue();
            FeedHex(Item.Digits, Item.Digits + Item.Count);
            EndValue(true);
        }
    }
    FRole = wrKeyword;
    FWordCount = static_cast<int32_t>(2 + 2 * Count);
    return P;
}

void TSVFFile::GrowValue() {
    const int64_t Bytes = FValueNeed - 1;
    if (FValueRoom < Bytes) {
        // Up to the length's bytes, doubling; the last step goes all the way, as the storage
        // would otherwise double once more for the few bytes beyond.
        FValueRoom = 4 * FValueRoom > Bytes ? Bytes : std::max<int64_t>(2 * FValueRoom, 64);
        FValue->SetByte(FValueRoom - 1, 0);
    } else if (FValueRoom < 2 * FValueNeed + 64) {
        // More digits than the length (or an odd count filling it): room for as many again,
        // after which the oldest are dropped in whole bytes (the count of digits keeps its
        // parity). The value is longer than its length until its end.
        FValueRoom = 2 * FValueNeed + 64;
        FValue->SetBitLength(8 * FValueRoom);
        FValue->SetByte(FValueRoom - 1, 0);
    } else {
        std::memmove(FValueBytes, FValueBytes + FValueUsed - FValueNeed,
                     static_cast<size_t>(FValueNeed));
        FValueUsed = FValueNeed;
    }
    FValueBytes = FValue->Data();
}

void TSVFFile::AddDigit(char C) {
    const uint8_t V = HexOf(C);
    if (FBadNeedsAfter) {
        FBadAfter = UpperOf(C);
        FBadNeedsAfter = false;
    }
    if (V > 15) {
        FBadAt = FDigits;
        FBadBefore = FLastDigit;
        FBadChar = UpperOf(C);
        FBadNeedsAfter = true;
    }
    if (FDigits & 1) {
        if (FValueUsed == FValueRoom)
            GrowValue();
        FValueBytes[FValueUsed++] = static_cast<uint8_t>(FHighNibble << 4 | (V & 15));
    } else
        FHighNibble = V & 15;
    ++FDigits;
    FLastDigit = UpperOf(C);
}

const char* TSVFFile::FeedHex(const char* P, const char* End) {
    for (;;) {
        // Pairs of digits while nothing else needs looking at.
        if (!(FDigits & 1) && !FBadNeedsAfter) {
            if (FValueUsed == FValueRoom && End - P >= 2)
                GrowValue();
            const int64_t Pairs = std::min<int64_t>((End - P) / 2, FValueRoom - FValueUsed);
            uint8_t* Out = FValueBytes + FValueUsed;
            int64_t I = 0;
            for (; I < Pairs; ++I) {
                const uint8_t Hi = HexOf(P[2 * I]);
                const uint8_t Lo = HexOf(P[2 * I + 1]);
                if ((Hi | Lo) > 15)
                    break;
                Out[I] = static_cast<uint8_t>(Hi << 4 | Lo);
            }
            if (I > 0) {
                FValueUsed += I;
                FDigits += 2 * I;
                P += 2 * I;
                FLastDigit = UpperOf(P[-1]);
            }
        }
        if (P == End || HexOf(*P) == EndOfDigits)
            return P;
        AddDigit(*P++);
    }
}

void TSVFFile::EndValue(bool Closed) {
    if (!Closed) {
        Fail(feLine, "Hexadecimal number is not enclosed in parentheses.");
        return;
    }
    if (FBadAt >= 0) {
        // The digits pair up from the right: the message names the rightmost pair that is not
        // a hexadecimal number, or the single leading digit of an odd count.
        std::string Pair = "$";
        if ((FDigits - FBadAt) % 2 == 0)
            Pair.append({FBadChar, FBadAfter});
        else if (FBadAt > 0)
            Pair.append({FBadBefore, FBadChar});
        else
            Pair.push_back(FBadChar);
        Fail(feArgument, InvalidInteger(Pair));
        return;
    }
    if (FDigits & 1) {
        // The odd digit is the lowest: move every digit half a byte further, so the first one
        // stands alone in the top byte.
        if (FValueUsed == FValueRoom)
            GrowValue();
        FValueBytes[FValueUsed++] = static_cast<uint8_t>(FHighNibble << 4);
        uint8_t* const B = FValueBytes;
        for (int64_t I = FValueUsed - 1; I > 0; --I)
            B[I] = static_cast<uint8_t>(B[I - 1] << 4 | B[I] >> 4);
        B[0] = static_cast<uint8_t>(B[0] >> 4);
    }
    std::reverse(FValueBytes, FValueBytes + FValueUsed);
    // Only the bytes the digits spell out are held, and none beyond the length; the spare bits
    // of the last byte stay as given (they are never shifted or compared).
    const int64_t Held = std::min((FDigits + 1) / 2, TVarLen::BytesFor(FLength));
    if (FValue->StoredBytes() != Held || FValue->BitLength() != FLength) {
        FValue->SetBitLength(8 * Held);
        FValue->SetBitLength(FLength);
    }
    FValue = nullptr;
    FRole = wrKeyword;
}

void TSVFFile::FinishStatement() {
    TSVFCommand& Command = *FCommand;
    FCommand = nullptr;
    switch (FError) {
    case feNone:
        break;
    case feLine:
        RaiseLineError(FErrorText);
    case feArgument:
        throw std::invalid_argument(FErrorText);
    case feRange:
        throw std::out_of_range(FErrorText);
    }
    if (FWordCount == 0)
        throw std::out_of_range(OutOfBounds(0));
    if (FEndWord) {
        if (FStatementAtEnd && FWordCount == 1) {
            Command.Command = cmdEOF;
            return;
        }
        RaiseLineError("Unknown SVF command " + std::string(EndWord));
    }
    // A statement missing a word its keyword needs (SDR with no length, "TDI" as the last word)
    // asks for a word beyond the last one: that fails with "List index out of bounds" and the
    // index, which the run reports as a fatal error.
    if (FRole != wrKeyword)
        throw std::out_of_range(OutOfBounds(FWordCount));
    if (FPrevFree && FFreeCount < static_cast<int>(FFreeWords.size()))
        FFreeWords[static_cast<size_t>(FFreeCount++)].swap(FPrevWord);
    FPrevFree = false;

    int Free = 0;
    if ((Command.Command == cmdRUNTEST || Command.Command == cmdLOOP) && FFreeCount > 0) {
        int32_t Count = 0;
        if (!ParseInteger(FFreeWords[0], Count))
            throw std::invalid_argument(InvalidInteger(FFreeWords[0]));
        Command.Parameters.emplace_back(pkInteger).Value = Count;
        Free = 1;
    }
    if (Free < FFreeCount)
        RaiseLineError("Unknown keyword " + Quoted(FFreeWords[static_cast<size_t>(Free)]));

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
    // The parser puts the length first.
    const TSVFParams& Ps = Command.Parameters;
    const int64_t Length =
        !Ps.empty() && Ps[0].Kind == pkInteger ? Ps[0].Value : Command.ParamInt(pkInteger);
    // The first value of each kind counts; one pass over the parameters finds them all. Values
    // are moved out when Source (Command itself, as a modifiable object) is given, and the
    // command gets the old storage to reuse.
    std::array<TVarLen*, 4> Values = {&D.Tdi, &D.Tdo, &D.Mask, &D.Smask};
    unsigned Given = 0; // bit K: the value of kind pkTDI + K was given (a register, not an array)
    for (size_t I = 0; I < Command.Parameters.size(); ++I) {
        const unsigned K = Command.Parameters[I].Kind - pkTDI;
        if (K >= Values.size() || ((Given >> K) & 1))
            continue;
        Given |= 1u << K;
        if (Source)
            Values[K]->swap(Source->Parameters[I].Vector);
        else
            *Values[K] = Command.Parameters[I].Vector;
    }
    // TDI carries over to the next command of the same kind, even when the length changes.
    if (!(Given & 1))
        D.Tdi.SetBitLength(Length);
    // TDO never carries over: without one nothing is compared.
    if (!(Given & 2))
        D.Tdo.SetBitLength(0);
    // MASK and SMASK carry over while the length stays; otherwise every bit counts.
    for (unsigned K : {2u, 3u})
        if (!((Given >> K) & 1) && Values[K]->BitLength() != Length)
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
