// The lowest layer of the SVF player: the file read forwards in blocks, one character at a time,
// lines counted for error messages, comments removed and echoed, one statement assembled up to its
// ";" and split into words.

#include <sys/stat.h>
#include <unistd.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <system_error>

#include "line_exception.h"
#include "native_file.h"
#include "svf_file.h"

namespace {

constexpr char CR = 13;
constexpr char LF = 10;

// Blank, the control characters and 255 separate words; everything else is significant.
constexpr bool IsSeparatorCode(unsigned C) {
    return C <= 32 || C == 255;
}

struct TCharTables {
    std::array<bool, 256> Separator{};
    // Characters a statement takes over as they are (apart from the case): the fast path of the
    // statement builder copies runs of them in one go. Everything that changes the builder's
    // state (separators, parentheses, ";", comment starts) is excluded.
    std::array<bool, 256> Plain{};
    // Separators that end no line.
    std::array<bool, 256> Blank{};
    std::array<char, 256> Upper{};
    // The characters of a simple statement (see SimpleStatementEnd): scWord for a word's
    // characters (plain, no lower case), scHex for the digits of a value, and the punctuation.
    std::array<uint8_t, 256> Simple{};
};

enum : uint8_t {
    scOther = 0,
    scWord = 1,
    scHex = 2,
    scBlank = 4,
    scOpen = 8,
    scClose = 16,
    scEnd = 32
};

constexpr TCharTables MakeTables() {
    TCharTables T;
    for (unsigned C = 0; C < 256; ++C) {
        T.Separator[C] = IsSeparatorCode(C);
        T.Plain[C] =
            !IsSeparatorCode(C) && C != '(' && C != ')' && C != ';' && C != '!' && C != '/';
        T.Blank[C] = IsSeparatorCode(C) && C != CR && C != LF;
        T.Upper[C] = static_cast<char>((C >= 'a' && C <= 'z') ? C - 'a' + 'A' : C);
        if (T.Plain[C] && !(C >= 'a' && C <= 'z'))
            T.Simple[C] |= scWord;
        if ((C >= '0' && C <= '9') || (C >= 'A' && C <= 'F'))
            T.Simple[C] |= scHex;
    }
    T.Simple[' '] = scBlank;
    T.Simple['('] = scOpen;
    T.Simple[')'] = scClose;
    T.Simple[';'] = scEnd;
    return T;
}

constexpr TCharTables Tables = MakeTables();

inline unsigned Code(char C) {
    return static_cast<unsigned char>(C);
}

// The end of the run of plain characters that starts at P. Bitstreams are megabytes of such
// runs; sixteen characters are tested at a time where the processor allows.
inline const char* PlainRunEnd(const char* P, const char* End) {
#if defined(__SSE2__)
    const __m128i Space = _mm_set1_epi8(32);
    while (End - P >= 16) {
        const __m128i V = _mm_loadu_si128(reinterpret_cast<const __m128i*>(P));
        __m128i Bad = _mm_cmpeq_epi8(_mm_max_epu8(V, Space), Space);   // 0 to 32
        Bad = _mm_or_si128(Bad, _mm_cmpeq_epi8(V, _mm_set1_epi8(-1))); // 255
        for (char C : {'(', ')', ';', '!', '/'})
            Bad = _mm_or_si128(Bad, _mm_cmpeq_epi8(V, _mm_set1_epi8(C)));
        const unsigned Mask = static_cast<unsigned>(_mm_movemask_epi8(Bad));
        if (Mask != 0)
            return P + __builtin_ctz(Mask);
        P += 16;
    }
#endif
    while (P < End && Tables.Plain[Code(*P)])
        ++P;
    return P;
}

// The end of the run of separators other than CR and LF that starts at P: indentation, and the
// NUL bytes of a file that is nothing else.
inline const char* BlankRunEnd(const char* P, const char* End) {
#if defined(__SSE2__)
    const __m128i Space = _mm_set1_epi8(32);
    while (End - P >= 16) {
        const __m128i V = _mm_loadu_si128(reinterpret_cast<const __m128i*>(P));
        __m128i Blank = _mm_cmpeq_epi8(_mm_max_epu8(V, Space), Space); // 0 to 32
        Blank = _mm_or_si128(Blank, _mm_cmpeq_epi8(V, _mm_set1_epi8(-1)));
        Blank = _mm_andnot_si128(_mm_cmpeq_epi8(V, _mm_set1_epi8(CR)), Blank);
        Blank = _mm_andnot_si128(_mm_cmpeq_epi8(V, _mm_set1_epi8(LF)), Blank);
        const unsigned Mask = static_cast<unsigned>(_mm_movemask_epi8(Blank)) ^ 0xFFFFu;
        if (Mask != 0)
            return P + __builtin_ctz(Mask);
        P += 16;
    }
#endif
    while (P < End && Tables.Separator[Code(*P)] && *P != CR && *P != LF)
        ++P;
    return P;
}

// A statement as tools write them, whole from P on in the block: words of upper-case plain
// characters and values of upper-case hexadecimal digits in parentheses, one blank between
// them, the ";" last; no comment, no line end, nothing to normalise. Returns its ";", with the
// words (at most MaxSimpleWords) in Words, or null when the statement is anything else (the
// general reader takes it then).
constexpr int MaxSimpleWords = 24;
struct TSimpleWord {
    const char* Begin;
    const char* End;
};

const char* SimpleStatementEnd(const char* P, const char* End, TSimpleWord* Words, int& Count) {
    Count = 0;
    for (;;) {
        if (P == End || Count == MaxSimpleWords)
            return nullptr;
        const char* const Begin = P;
        const uint8_t C = Tables.Simple[Code(*P)];
        if (C & scWord) {
            do
                ++P;
            while (P != End && (Tables.Simple[Code(*P)] & scWord));
        } else if (C & scOpen) {
            do
                ++P;
            while (P != End && (Tables.Simple[Code(*P)] & scHex));
            if (P == End || *P != ')')
                return nullptr;
            ++P;
        } else
            return nullptr;
        Words[Count++] = {Begin, P};
        if (P == End)
            return nullptr;
        if (*P == ';')
            return P;
        if (*P != ' ')
            return nullptr;
        ++P;
    }
}

} // namespace

TSVFFile::TSVFFile(const std::string& FileName) : TJtagFile(FileName) {
    FFileHandle = platform::OpenForReading(FileName);
    if (FFileHandle < 0)
        throw std::runtime_error("Cannot open file " + FileName + " for read.");
    struct stat St {};
    if (::fstat(FFileHandle, &St) == 0)
        FileSize = St.st_size;
    // Only a regular file has a size to hold it to.
    FCheckFileSize = S_ISREG(St.st_mode);
}

TSVFFile::~TSVFFile() {
    // The worker owns the copies and touches them until it has ended; join it first. A run
    // still going when its owner lets go of the player has no one left to report to: stop it
    // at its next pass rather than wait for a read-back that may never come.
    RequestTerminate();
    Thread.reset();
    if (FFileHandle >= 0)
        ::close(FFileHandle);
}

void TSVFFile::ReadBlock() {
    if (FReadAheadPos >= FReadAheadFill) {
        if (FReadAhead.empty())
            FReadAhead.resize(ReadAheadSize);
        ssize_t N;
        do
            N = ::read(FFileHandle, FReadAhead.data(), FReadAhead.size());
        while (N < 0 && errno == EINTR);
        if (N < 0) {
            // A read error must never look like more data or like the end of the file: the run
            // would play garbage or stop early and report success.
            const int Err = errno;
            throw std::runtime_error("Cannot read file " + FileName() + ": " +
                                     std::generic_category().message(Err));
        }
        FReadAheadPos = 0;
        FReadAheadFill = static_cast<size_t>(N);
        FFileBytesRead += N;
        // A file cut or extended while it plays (an editor saving over it, a copy still being
        // written) would otherwise end early, or run on, and report success.
        // At the end the size is asked for as well: a cut behind what was already read ahead
        // shows only there.
        if (FCheckFileSize &&
            (FFileBytesRead > FileSize ||
             (N == 0 && (FFileBytesRead < FileSize || FileSizeNow() != FileSize))))
            ThrowFileChanged();
    }
    const size_t N = std::min<size_t>(BlockSize, FReadAheadFill - FReadAheadPos);
    if (N == 0) {
        std::memcpy(FBuffer.data(), EndMarker.data(), EndMarker.size());
        FBufferFill = static_cast<int>(EndMarker.size());
        FAtEof = true;
    } else {
        std::memcpy(FBuffer.data(), FReadAhead.data() + FReadAheadPos, N);
        FReadAheadPos += N;
        FBufferFill = static_cast<int>(N);
    }
}

void TSVFFile::FillBuffer() {
    if (FBufferPos < FBufferFill)
        return;
    FBufferPos = 0;
    ReadBlock();
    PublishProgress();
}

char TSVFFile::NextChar() {
    if (FBufferPos >= FBufferFill)
        FillBuffer();
    const char Ch = FBuffer[static_cast<size_t>(FBufferPos++)];
    ++FCharsRead;
    CountLine(Ch);
    // Look ahead at once, so PeekChar always sees the next character and AtEof turns true as
    // soon as the file's last byte has been handed out.
    if (FBufferPos >= FBufferFill)
        FillBuffer();
    return Ch;
}

char TSVFFile::PeekChar() {
    if (FBufferPos >= FBufferFill)
        FillBuffer();
    if (FBufferPos < FBufferFill)
        return FBuffer[static_cast<size_t>(FBufferPos)];
    FillBuffer();
    return 0;
}

void TSVFFile::EchoComment(std::string& Comment) {
    if (!Comment.empty() && EchoComments && Events.OnMessage)
        Events.OnMessage(Comment, sevComment);
    Comment.clear();
}

inline void TSVFFile::OpenWord(char First) {
    FWordOpen = true;
    FWordLength = 0;
    FWordIsValue = FRole == wrValue && First == '(';
    if (FWordIsValue) {
        BeginValue();
        return;
    }
    // Only a number needs all of its text; any other word is at most quoted, by its first 80
    // characters. Words of a failed statement, and a value without its parenthesis, are not
    // looked at.
    constexpr size_t Quoted = 81;
    if (FRole == wrCollect)
        FWordCap = SIZE_MAX;
    else if (FRole == wrSkip || FRole == wrValue)
        FWordCap = 0;
    else if (First == '(' || FRole == wrCommand)
        FWordCap = Quoted;
    else
        FWordCap = SIZE_MAX;
}

inline void TSVFFile::AppendWord(const char* Text, size_t Count) {
    const size_t N = std::min(Count, FWordCap - FWordLength);
    if (N == 0)
        return;
    if (FWord.size() < FWordLength + N)
        FWord.resize(std::max(FWord.size() * 2, std::max<size_t>(FWordLength + N, 64)));
    char* Out = FWord.data() + FWordLength;
    for (size_t I = 0; I < N; ++I) {
        const char C = Text[I];
        Out[I] = static_cast<char>(C ^ ((static_cast<unsigned char>(C - 'a') < 26) << 5));
    }
    FWordLength += N;
}

inline void TSVFFile::CloseWord(bool Closed) {
    if (!FWordOpen)
        return;
    FWordOpen = false;
    if (FWordIsValue)
        EndValue(Closed);
    else
        TakeWord({FWord.data(), FWordLength});
    ++FWordCount;
}

bool TSVFFile::ReadTypicalStatement(int& TriedAt) {
    // A line end, then a statement as tools write it, whole in the block: the line of most
    // statements of a programming file. Taken without the character loop below.
    if (FRole != wrCommand || FWordCount != 0 || FAtEof || FBufferPos >= FBufferFill)
        return false;
    const char* const B = FBuffer.data();
    int Pos = FBufferPos;
    const int32_t Line = FLineIndex;
    const bool WasCR = FLastWasCR;
    if (B[Pos] == LF || B[Pos] == CR) {
        CountLine(B[Pos++]);
        if (B[Pos - 1] == CR && Pos < FBufferFill && B[Pos] == LF)
            CountLine(B[Pos++]);
    }
    const char* Semicolon = nullptr;
    if (Pos < FBufferFill && Tables.Plain[Code(B[Pos])]) {
        TriedAt = Pos;
        Semicolon = TakeTypicalStatement(B + Pos, B + FBufferFill);
    }
    if (!Semicolon) {
        FLineIndex = Line;
        FLastWasCR = WasCR;
        return false;
    }
    FTypical = true;
    FStatementAtEnd = false;
    FLastWasCR = false;
    Pos = static_cast<int>(Semicolon - B) + 1;
    FCharsRead += Pos - FBufferPos;
    FBufferPos = Pos;
    if (FBufferPos >= FBufferFill)
        FillBuffer();
    PublishProgress();
    return true;
}

void TSVFFile::ReadStatement() {
    FComment.clear();
    FWordOpen = false;
    if (FWorker && FWorker->TerminateRequested())
        throw ERunCancelled();
    // Where the shortcut was tried in the current block and did not apply: not tried again there.
    int TypicalTriedAt = -1;
    if (ReadTypicalStatement(TypicalTriedAt))
        return;
    bool InComment = false;
    bool InParens = false;
    bool Ended = false;
    bool TriedSimple = false;

    while (!Ended) {
        if (FWorker && FWorker->TerminateRequested())
            throw ERunCancelled();
        if (FBufferPos >= FBufferFill) {
            FillBuffer();
            TypicalTriedAt = -1;
        }
        const char* const B = FBuffer.data();
        const int Fill = FBufferFill;
        int Pos = FBufferPos;
        // The whole block is the end marker or none of it is. The marker never belongs to a
        // comment: a comment that runs into the end of the file ends there, and with it the
        // statement.
        const bool Marker = FAtEof;
        bool Refilled = false;

        while (Pos < Fill) {
            const char Ch = B[Pos];
            if (InComment) {
                if (Marker) {
                    // The marker's characters are read as any others.
                    EchoComment(FComment);
                    InComment = false;
                    continue;
                } else if (Ch != CR && Ch != LF) {
                    int Q = Pos + 1;
                    while (Q < Fill && B[Q] != CR && B[Q] != LF)
                        ++Q;
                    FComment.append(B + Pos, static_cast<size_t>(Q - Pos));
                    FLastWasCR = false;
                    Pos = Q;
                    continue;
                }
            } else if (Tables.Plain[Code(Ch)]) {
                if (!FWordOpen && !InParens && !TriedSimple && !Marker) {
                    // Once a statement: is the rest of it simple? Then its words go to the
                    // parser without looking at each character again.
                    TriedSimple = true;
                    TSimpleWord Words[MaxSimpleWords];
                    int Count = 0;
                    const char* Semicolon = nullptr;
                    if (FRole == wrCommand && FWordCount == 0 && Pos != TypicalTriedAt &&
                        (Semicolon = TakeTypicalStatement(B + Pos, B + Fill)))
                        FTypical = true;
                    else if ((Semicolon = SimpleStatementEnd(B + Pos, B + Fill, Words, Count))) {
                        for (int I = 0; I < Count; ++I)
                            TakeSimpleWord(Words[I].Begin, Words[I].End);
                    }
                    if (Semicolon) {
                        Pos = static_cast<int>(Semicolon - B) + 1;
                        FLastWasCR = false;
                        Ended = true;
                        FStatementAtEnd = false;
                        break;
                    }
                }
                // Keywords, numbers and digits in runs. A value's digits are decoded as they
                // come; other words are measured a character at a time, and a run longer than
                // that goes on sixteen at a time.
                if (!FWordOpen)
                    OpenWord(Ch);
                if (FWordIsValue) {
                    Pos = static_cast<int>(FeedHex(B + Pos, B + Fill) - B);
                } else {
                    int Q = Pos + 1;
                    const int Short = std::min(Fill, Pos + 16);
                    while (Q < Short && Tables.Plain[Code(B[Q])])
                        ++Q;
                    if (Q == Short && Q < Fill)
                        Q = static_cast<int>(PlainRunEnd(B + Q, B + Fill) - B);
                    AppendWord(B + Pos, static_cast<size_t>(Q - Pos));
                    Pos = Q;
                }
                FLastWasCR = false;
                continue;
            } else if (Tables.Blank[Code(Ch)]) {
                // Blanks, tabs and the other separators that end no line end a word (none
                // inside parentheses).
                ++Pos;
                if (Pos < Fill && Tables.Blank[Code(B[Pos])])
                    Pos = static_cast<int>(BlankRunEnd(B + Pos + 1, B + Fill) - B);
                if (!InParens)
                    CloseWord(false);
                FLastWasCR = false;
                continue;
            } else if (Ch == '(' || Ch == ')') {
                // Parentheses stand apart from their neighbours: TDI(0F)MASK(FF) reads as
                // TDI (0F) MASK (FF).
                ++Pos;
                FLastWasCR = false;
                if (Ch == '(') {
                    CloseWord(false);
                    InParens = true;
                    OpenWord(Ch);
                    if (!FWordIsValue)
                        AppendWord(&Ch, 1);
                } else {
                    if (!FWordOpen)
                        OpenWord(Ch);
                    if (!FWordIsValue)
                        AppendWord(&Ch, 1);
                    CloseWord(true);
                    InParens = false;
                }
                continue;
            }

            ++Pos;
            CountLine(Ch);

            if (Ch == '!')
                InComment = true;
            else if (Ch == '/') {
                char Next;
                if (Pos < Fill)
                    Next = B[Pos];
                else {
                    // The "/" ends the block: look into the next one, as NextChar would.
                    FCharsRead += Pos - FBufferPos;
                    FBufferPos = Pos;
                    FillBuffer();
                    Next = FBuffer[static_cast<size_t>(FBufferPos)];
                    Refilled = true;
                }
                if (Next == '/')
                    InComment = true;
            }
            if (Ch == CR || Ch == LF) {
                if (InComment)
                    EchoComment(FComment);
                InComment = false;
                FComment.clear();
            }
            if (InComment)
                FComment.push_back(Ch);
            else if (Ch == ';') {
                CloseWord(false);
                Ended = true;
                FStatementAtEnd = Marker;
            } else if (!Tables.Separator[Code(Ch)]) {
                // A "/" that starts no comment is an ordinary character.
                if (!FWordOpen)
                    OpenWord(Ch);
                if (FWordIsValue)
                    AddDigit(Ch);
                else
                    AppendWord(&Ch, 1);
            } else if (!InParens)
                // Line ends separate words; inside parentheses they vanish, since a
                // hexadecimal value may be wrapped over many lines.
                CloseWord(false);
            if (Refilled || Ended)
                break;
        }
        if (!Refilled) {
            FCharsRead += Pos - FBufferPos;
            FBufferPos = Pos;
            // Look ahead at once, as NextChar does, so AtEof turns true as soon as the file's
            // last byte has been handed out.
            if (FBufferPos >= FBufferFill)
                FillBuffer();
        }
    }
    PublishProgress();
}

void TSVFFile::TakeSimpleWord(const char* Begin, const char* End) {
    // A word as the general reader hands it over. It needs no upper-casing, so the parser reads
    // it where it stands; a value is decoded as it would be, a short one in one go.
    const auto Length = static_cast<size_t>(End - Begin);
    if (*Begin != '(' || FRole != wrValue)
        TakeWord({Begin, Length});
    else if (Length - 2 <= 16 && FLength <= 64)
        TakeShortValue(Begin + 1, Length - 2);
    else {
        OpenWord('(');
        FeedHex(Begin + 1, End - 1);
        CloseWord(true);
        return;
    }
    ++FWordCount;
}

void TSVFFile::ReadWords(std::vector<std::string>& Words) {
    Words.clear();
    FCollected = &Words;
    FRole = wrCollect;
    try {
        ReadStatement();
    } catch (...) {
        FCollected = nullptr;
        throw;
    }
    FCollected = nullptr;
}

int64_t TSVFFile::FileSizeNow() const {
    struct stat St {};
    return ::fstat(FFileHandle, &St) == 0 ? St.st_size : -1;
}

void TSVFFile::ThrowFileChanged() {
    const int64_t Now = FileSizeNow();
    throw std::runtime_error("File " + FileName() + " changed while it was played: it had " +
                             std::to_string(FileSize) + " bytes, now " + std::to_string(Now));
}

std::string TSVFFile::ReadLineText(int32_t Index) {
    const int64_t SavedChars = FCharsRead;
    std::string Text;
    if (::lseek(FFileHandle, 0, SEEK_SET) < 0)
        return Text;
    // The error being reported comes first; the line is only shown as far as it can be read.
    FCheckFileSize = false;
    FFileBytesRead = 0;
    FReadAheadFill = 0;
    FReadAheadPos = 0;
    FBufferFill = 0;
    FBufferPos = 0;
    FAtEof = false;
    FLineIndex = 0;
    FLastWasCR = false;
    // A line of megabytes (a damaged file without line ends) is shown by its beginning, and a
    // word by its first 80 characters, as the error message quotes it.
    constexpr size_t MaxLineText = 256, MaxWord = 80, MaxExamined = 65536;
    size_t WordLength = 0, Examined = 0;
    while (!FAtEof && Index >= FLineIndex) {
        const char Ch = NextChar();
        if (FLineIndex != Index || Ch == CR || Ch == LF)
            continue;
        const bool Blank = Ch == ' ' || Ch == '\t';
        WordLength = Blank ? 0 : WordLength + 1;
        if (Text.size() >= MaxLineText || ++Examined > MaxExamined) {
            if (Text.size() < 3 || Text.compare(Text.size() - 3, 3, "...") != 0)
                Text += "...";
            break;
        }
        if (WordLength == MaxWord + 1)
            Text += "...";
        else if (WordLength <= MaxWord)
            Text.push_back(Ch);
    }
    // Only the error report looks at the file after this; keep the progress where it was.
    FCharsRead = SavedChars;
    PublishProgress();
    return Text;
}

void TSVFFile::Rewind(const TReadMark& Mark) {
    if (::lseek(FFileHandle, Mark.Chars, SEEK_SET) < 0) {
        const int Err = errno;
        throw std::runtime_error("Cannot read file " + FileName() + ": " +
                                 std::generic_category().message(Err));
    }
    FReadAheadFill = 0;
    FReadAheadPos = 0;
    FBufferFill = 0;
    FBufferPos = 0;
    FAtEof = false;
    FFileBytesRead = Mark.Chars;
    FCharsRead = Mark.Chars;
    FLineIndex = Mark.Line;
    FLastWasCR = Mark.LastWasCR;
}

void TSVFFile::RaiseLineError(const std::string& Message) {
    const int32_t Index = FLineIndex;
    std::string Text = ReadLineText(Index);
    throw ELineException(Message, Index, std::move(Text));
}
