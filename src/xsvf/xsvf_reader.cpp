// Reading and decoding of XSVF files: the byte reader, the opcode table, value loading and the
// pre-scan that refuses a file before anything reaches the programmer.

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <system_error>

#include "native_file.h"
#include "tap_state.h"
#include "xsvf_file.h"

namespace {

// How many argument bytes follow an opcode.
enum TArgKind : uint8_t {
    akUnknown,   // refused
    akFixed,     // a fixed count
    akValue,     // one scan value of the current XSDRSIZE
    akTwoValues, // TDI then expected TDO, each of the current XSDRSIZE
    akSir,       // a length byte, then that many bits
    akSir2,      // two length bytes, then that many bits
    akIncrement, // XSDRINC: a value, a count, then that many data pieces
    akComment,   // bytes up to and including a 0
};

struct TOpcodeInfo {
    const char* Name = "";
    TArgKind Kind = akUnknown;
    uint8_t Fixed = 0;
};

constexpr std::array<TOpcodeInfo, 256> MakeOpcodeTable() {
    std::array<TOpcodeInfo, 256> T{};
    T[XCOMPLETE] = {"XCOMPLETE", akFixed, 0};
    T[XTDOMASK] = {"XTDOMASK", akValue, 0};
    T[XSIR] = {"XSIR", akSir, 0};
    T[XSDR] = {"XSDR", akValue, 0};
    T[XRUNTEST] = {"XRUNTEST", akFixed, 4};
    T[XREPEAT] = {"XREPEAT", akFixed, 1};
    T[XSDRSIZE] = {"XSDRSIZE", akFixed, 4};
    T[XSDRTDO] = {"XSDRTDO", akTwoValues, 0};
    T[XSDRB] = {"XSDRB", akValue, 0};
    T[XSDRC] = {"XSDRC", akValue, 0};
    T[XSDRE] = {"XSDRE", akValue, 0};
    T[XSDRTDOB] = {"XSDRTDOB", akTwoValues, 0};
    T[XSDRTDOC] = {"XSDRTDOC", akTwoValues, 0};
    T[XSDRTDOE] = {"XSDRTDOE", akTwoValues, 0};
    T[XSTATE] = {"XSTATE", akFixed, 1};
    T[XENDIR] = {"XENDIR", akFixed, 1};
    T[XENDDR] = {"XENDDR", akFixed, 1};
    T[XCOMMENT] = {"XCOMMENT", akComment, 0};
    T[XSETSDRMASKS] = {"XSETSDRMASKS", akTwoValues, 0};
    T[XSDRINC] = {"XSDRINC", akIncrement, 0};
    T[XSIR2] = {"XSIR2", akSir2, 0};
    T[XWAIT] = {"XWAIT", akFixed, 6};            // wait state, end state, microseconds
    T[XWAITSTATE] = {"XWAITSTATE", akFixed, 10}; // wait state, end state, clocks, microseconds
    T[LCOUNT] = {"LCOUNT", akFixed, 4};
    T[LDELAY] = {"LDELAY", akFixed, 9}; // state, clocks, microseconds
    T[LSDR] = {"LSDR", akTwoValues, 0};
    T[XTRST] = {"XTRST", akFixed, 1};
    return T;
}

constexpr std::array<TOpcodeInfo, 256> OpcodeTable = MakeOpcodeTable();

// Reverses N bytes in place, eight at a time from both ends: a bitstream's values are megabytes.
void ReverseBytes(uint8_t* Bytes, size_t N) {
    size_t I = 0;
    size_t J = N;
    while (J - I >= 16) {
        uint64_t Low, High;
        std::memcpy(&Low, Bytes + I, 8);
        std::memcpy(&High, Bytes + J - 8, 8);
        Low = __builtin_bswap64(Low);
        High = __builtin_bswap64(High);
        std::memcpy(Bytes + I, &High, 8);
        std::memcpy(Bytes + J - 8, &Low, 8);
        I += 8;
        J -= 8;
    }
    std::reverse(Bytes + I, Bytes + J);
}

std::string Hex2(uint8_t V) {
    static const char Digits[] = "0123456789ABCDEF";
    return {Digits[V >> 4], Digits[V & 15]};
}

} // namespace

const char* XSVFOpcodeName(uint8_t Opcode) {
    return OpcodeTable[Opcode].Name;
}

TXSVFFile::TXSVFFile(const std::string& FileName, TPlain) : TJtagFile(FileName) {
    OpenFile();
}

TXSVFFile::TXSVFFile(const std::string& FileName, const TKeepLoading& KeepLoading)
    : TJtagFile(FileName) {
    OpenFile();
    PreScan(KeepLoading);
}

TXSVFFile::~TXSVFFile() {
    // The worker runs on the copies the thread owns, but join it before this object's members go.
    Thread.reset();
}

void TXSVFFile::OpenFile() {
    FFile.reset(platform::OpenStream(FFileName, "rb"));
    if (!FFile)
        throw std::runtime_error("Cannot open file " + FFileName + " for read.");
    FBuffer = std::make_unique<uint8_t[]>(BufferSize);
    // The size bounds every length the file declares: a value cannot hold more bytes than the
    // file, so a corrupt XSDRSIZE is refused instead of allocating gigabytes.
    if (std::fseek(FFile.get(), 0, SEEK_END) == 0) {
        const long Size = std::ftell(FFile.get());
        FFileSize = Size > 0 ? Size : 0;
    }
    std::rewind(FFile.get());
    // Only a regular file has a size to hold it to.
    struct stat St {};
    FCheckFileSize = ::fstat(::fileno(FFile.get()), &St) == 0 && S_ISREG(St.st_mode);
}

void TXSVFFile::PreScan(const TKeepLoading& KeepLoading) {
    TXSVFFile Scanner(FFileName, TPlain{});
    // Counting needs no scan value: they are skipped, not read.
    Scanner.Kept = {false, false, false};
    FProgress.Set(0);
    FProgressMax = 1;
    TXSVFCommand Command;
    for (;;) {
        Scanner.ReadCommand(Command);
        Scanner.Decode(Command);
        if (Scanner.IsComplete(Command))
            break;
        ++FProgressMax;
        if (KeepLoading && FProgressMax % 4096 == 0 && !KeepLoading())
            throw ELoadCancelled();
        HasLsdr = HasLsdr || Command[0] == LSDR;
    }
    XC9500Method = Scanner.XC9500Method;
}

// Up to Count bytes from the system into Destination; 0 only at the end of the file.
size_t TXSVFFile::ReadFromSystem(uint8_t* Destination, size_t Count) {
    const size_t Got = std::fread(Destination, 1, Count, FFile.get());
    // A read error (a folder, a failing disk) must not pass for the end of the file.
    if (Got == 0 && std::ferror(FFile.get())) {
        const int Err = errno;
        throw std::runtime_error("Cannot read file " + FFileName + ": " +
                                 std::generic_category().message(Err));
    }
    FFileBytesRead += static_cast<int64_t>(Got);
    // A file cut or extended while it plays would otherwise end early with a puzzling message,
    // or run on into bytes the pre-scan never saw. At the end the size is asked for as well: a
    // cut behind what was already read shows only there.
    if (FCheckFileSize) {
        struct stat St {};
        const auto SizeNow = [&]() -> int64_t {
            return ::fstat(::fileno(FFile.get()), &St) == 0 ? St.st_size : -1;
        };
        if (FFileBytesRead > FFileSize ||
            (Got == 0 && (FFileBytesRead < FFileSize || SizeNow() != FFileSize)))
            throw std::runtime_error("File " + FFileName + " changed while it was played: it had " +
                                     std::to_string(FFileSize) + " bytes, now " +
                                     std::to_string(SizeNow()));
    }
    return Got;
}

bool TXSVFFile::Refill() {
    if (FBufferPos < FBufferFill)
        return true;
    FBufferPos = 0;
    FBufferFill = ReadFromSystem(FBuffer.get(), BufferSize);
    return FBufferFill > 0;
}

void TXSVFFile::ThrowTruncated(uint8_t Opcode, bool InsideCommand) const {
    if (InsideCommand)
        throw std::runtime_error(std::string("Unexpected end of file inside command ") +
                                 XSVFOpcodeName(Opcode));
    throw std::runtime_error("Unexpected end of file: the file has no XCOMPLETE command");
}

// Count bytes of the command Opcode must still be in the file: checked before anything is
// allocated or read for them, so a hostile length fails at once.
void TXSVFFile::CheckLeft(uint64_t Count, uint8_t Opcode) const {
    if (Count > static_cast<uint64_t>(std::max<int64_t>(FFileSize - FFileOffset, 0)))
        ThrowTruncated(Opcode, true);
}

// The next Count bytes of the file. Whatever the block holds is copied from it; a long rest goes
// from the system straight to Destination. The block is refilled as soon as it is empty, so the
// end of the file (and a file changed behind the player's back) shows right after the last byte.
void TXSVFFile::TakeBytes(uint8_t* Destination, size_t Count) {
    const size_t FromBlock = std::min(Count, FBufferFill - FBufferPos);
    if (FromBlock > 0)
        std::memcpy(Destination, FBuffer.get() + FBufferPos, FromBlock);
    FBufferPos += FromBlock;
    Destination += FromBlock;
    size_t Rest = Count - FromBlock;
    while (Rest >= BufferSize) {
        const size_t Got = ReadFromSystem(Destination, Rest);
        if (Got == 0)
            throw std::runtime_error("Unexpected end of file");
        Destination += Got;
        Rest -= Got;
    }
    while (Rest > 0) {
        if (!Refill())
            throw std::runtime_error("Unexpected end of file");
        const size_t N = std::min(Rest, FBufferFill - FBufferPos);
        std::memcpy(Destination, FBuffer.get() + FBufferPos, N);
        FBufferPos += N;
        Destination += N;
        Rest -= N;
    }
    FFileOffset += static_cast<int64_t>(Count);
    if (FBufferPos >= FBufferFill)
        Refill();
}

// Past the next Count bytes. In a regular file a long stretch is passed by seeking (the reader
// copy passes every TDI value of a bitstream this way); elsewhere it is read and dropped.
void TXSVFFile::SkipBytes(uint64_t Count) {
    const uint64_t FromBlock = std::min<uint64_t>(Count, FBufferFill - FBufferPos);
    FBufferPos += static_cast<size_t>(FromBlock);
    uint64_t Rest = Count - FromBlock;
    if (FCheckFileSize && Rest > BufferSize &&
        Rest <= static_cast<uint64_t>(std::numeric_limits<long>::max()) &&
        std::fseek(FFile.get(), static_cast<long>(Rest), SEEK_CUR) == 0) {
        FFileBytesRead += static_cast<int64_t>(Rest);
        Rest = 0;
    }
    while (Rest > 0) {
        if (!Refill())
            throw std::runtime_error("Unexpected end of file");
        const uint64_t N = std::min<uint64_t>(Rest, FBufferFill - FBufferPos);
        FBufferPos += static_cast<size_t>(N);
        Rest -= N;
    }
    FFileOffset += static_cast<int64_t>(Count);
    if (FBufferPos >= FBufferFill)
        Refill();
}

// Storage for all Bits bits of Destination, every byte to be written by the caller. A value of
// the same length is written over as it is (no clearing first); a long value's old storage goes
// before the new one is taken, so two of them are never held at once.
uint8_t* TXSVFFile::ValueStorage(TVarLen& Destination, int64_t Bits) {
    const int64_t N = TVarLen::BytesFor(Bits);
    if (Destination.BitLength() == Bits && Destination.StoredBytes() == N)
        return Destination.Data();
    if (static_cast<size_t>(N) > Destination.CapacityBytes())
        Destination.SetAllZeros();
    return Destination.Assign(Bits, N);
}

void TXSVFFile::ReadValue(int64_t Bits, TVarLen& Destination, bool Keep) {
    const int64_t N = TVarLen::BytesFor(Bits);
    if (!Keep) {
        if (Destination.BitLength() != Bits || Destination.StoredBytes() != 0)
            Destination.Assign(Bits, 0);
        SkipBytes(static_cast<uint64_t>(N));
        return;
    }
    uint8_t* Bytes = ValueStorage(Destination, Bits);
    TakeBytes(Bytes, static_cast<size_t>(N));
    // The file holds the most significant byte first; storage byte 0 holds bits 0 to 7.
    ReverseBytes(Bytes, static_cast<size_t>(N));
}

// The same for a value that is in the block already: copied in reverse straight from it.
void TXSVFFile::ValueFromBlock(const uint8_t* From, int64_t Bits, TVarLen& Destination, bool Keep) {
    if (!Keep) {
        if (Destination.BitLength() != Bits || Destination.StoredBytes() != 0)
            Destination.Assign(Bits, 0);
        return;
    }
    const int64_t N = TVarLen::BytesFor(Bits);
    uint8_t* Bytes = ValueStorage(Destination, Bits);
    for (int64_t I = 0; I < N; ++I)
        Bytes[I] = From[N - 1 - I];
}

// A command that lies whole in the block (the short XSIR, XSDR, XSDRTDO and XRUNTEST that make up
// most files) is taken from there in one piece. False leaves everything to the general path: a
// command across the block's end, a long value, XSDRINC and XCOMMENT.
bool TXSVFFile::CommandFromBlock(TXSVFCommand& Command, uint8_t Kind, uint8_t Fixed) {
    const uint8_t* P = FBuffer.get() + FBufferPos;
    const size_t Avail = FBufferFill - FBufferPos;
    const int64_t Size = SdrSize;
    const int64_t ValueBytes = TVarLen::BytesFor(Size);
    int64_t Total = 0;
    switch (Kind) {
    case akFixed:
        Total = 1 + Fixed;
        break;
    case akValue:
        Total = 1 + ValueBytes;
        break;
    case akTwoValues:
        Total = 1 + 2 * ValueBytes;
        break;
    case akSir:
        Total = Avail >= 2 ? 2 + TVarLen::BytesFor(P[1]) : 0;
        break;
    case akSir2:
        Total = Avail >= 3 ? 3 + TVarLen::BytesFor(int64_t{P[1]} << 8 | P[2]) : 0;
        break;
    default:
        return false;
    }
    if (Total == 0 || static_cast<uint64_t>(Total) > Avail || Total > FFileSize - FFileOffset)
        return false;
    const uint8_t Opcode = P[0];
    Command.FileBytes = Total;
    switch (Kind) {
    case akFixed:
        std::memcpy(Command.Head.data(), P, static_cast<size_t>(Total));
        Command.HeadSize = static_cast<uint8_t>(Total);
        break;
    case akValue:
        if (Opcode == XTDOMASK) {
            ValueFromBlock(P + 1, Size, TdoMask, Kept.Mask);
            FMaskBitsValid = false;
        } else {
            ValueFromBlock(P + 1, Size, TdiValue, Kept.Tdi);
        }
        break;
    case akTwoValues:
        if (Opcode == XSETSDRMASKS) {
            ValueFromBlock(P + 1, Size, AddressMask, true);
            ValueFromBlock(P + 1 + ValueBytes, Size, DataMask, true);
        } else {
            ValueFromBlock(P + 1, Size, TdiValue, Kept.Tdi);
            ValueFromBlock(P + 1 + ValueBytes, Size, TdoExpected, Kept.Expected);
        }
        break;
    case akSir:
        Command.Head[1] = P[1];
        Command.HeadSize = 2;
        ValueFromBlock(P + 2, P[1], TdiValue, Kept.Tdi);
        break;
    case akSir2:
        Command.Head[1] = P[1];
        Command.Head[2] = P[2];
        Command.HeadSize = 3;
        ValueFromBlock(P + 3, int64_t{P[1]} << 8 | P[2], TdiValue, Kept.Tdi);
        break;
    default:
        break;
    }
    Command.Head[0] = Opcode;
    if (Command.HeadSize == 0)
        Command.HeadSize = 1;
    FBufferPos += static_cast<size_t>(Total);
    FFileOffset += Total;
    if (FBufferPos >= FBufferFill)
        Refill(); // read ahead; the end of the file is only an error when a byte is wanted
    return true;
}

// XCOMMENT: bytes up to and including a 0, passed over.
void TXSVFFile::ReadComment(TXSVFCommand& Command) {
    for (;;) {
        if (FBufferPos >= FBufferFill && !Refill())
            ThrowTruncated(XCOMMENT, true);
        const uint8_t* From = FBuffer.get() + FBufferPos;
        const size_t Left = FBufferFill - FBufferPos;
        const auto* End = static_cast<const uint8_t*>(std::memchr(From, 0, Left));
        const size_t N = End ? static_cast<size_t>(End - From) + 1 : Left;
        FBufferPos += N;
        FFileOffset += static_cast<int64_t>(N);
        Command.FileBytes += static_cast<int64_t>(N);
        if (End) {
            if (FBufferPos >= FBufferFill)
                Refill();
            return;
        }
    }
}

void TXSVFFile::ReadCommand(TXSVFCommand& Command) {
    Command.clear();
    FReadPrepared = false;
    if (FBufferPos >= FBufferFill && !Refill())
        ThrowTruncated(XCOMPLETE, false);
    const uint8_t Opcode = FBuffer[FBufferPos];
    const TOpcodeInfo& Info = OpcodeTable[Opcode];
    if (Info.Kind == akUnknown)
        throw std::runtime_error("Unknown command " + Hex2(Opcode));
    if (CommandFromBlock(Command, Info.Kind, Info.Fixed))
        return;
    Command.Head[0] = Opcode;
    Command.HeadSize = 1;
    Command.FileBytes = 1;
    // Opcode and short arguments: mostly all in the block already, taken in one copy.
    auto TakeHead = [&](size_t Count) {
        CheckLeft(Count, Opcode);
        TakeBytes(Command.Head.data() + Command.HeadSize, Count);
        Command.HeadSize = static_cast<uint8_t>(Command.HeadSize + Count);
        Command.FileBytes += static_cast<int64_t>(Count);
    };
    ++FBufferPos;
    ++FFileOffset;
    if (FBufferPos >= FBufferFill)
        Refill(); // read ahead; the end of the file is only an error when a byte is wanted

    const int64_t Size = SdrSize;
    const uint64_t ValueBytes = static_cast<uint64_t>(TVarLen::BytesFor(Size));
    auto Value = [&](int64_t Bits, TVarLen& Destination, bool Keep) {
        ReadValue(Bits, Destination, Keep);
        Command.FileBytes += TVarLen::BytesFor(Bits);
    };
    switch (Info.Kind) {
    case akFixed:
        TakeHead(Info.Fixed);
        break;
    case akValue:
        CheckLeft(ValueBytes, Opcode);
        if (Opcode == XTDOMASK) {
            Value(Size, TdoMask, Kept.Mask);
            FMaskBitsValid = false;
        } else {
            Value(Size, TdiValue, Kept.Tdi);
        }
        break;
    case akTwoValues:
        CheckLeft(2 * ValueBytes, Opcode);
        if (Opcode == XSETSDRMASKS) {
            Value(Size, AddressMask, true);
            Value(Size, DataMask, true);
        } else {
            Value(Size, TdiValue, Kept.Tdi);
            Value(Size, TdoExpected, Kept.Expected);
        }
        break;
    case akSir:
        TakeHead(1);
        CheckLeft(TVarLen::BytesFor(Command[1]), Opcode);
        Value(Command[1], TdiValue, Kept.Tdi);
        break;
    case akSir2: {
        TakeHead(2);
        const int64_t Bits = int64_t{Command[1]} << 8 | Command[2];
        CheckLeft(static_cast<uint64_t>(TVarLen::BytesFor(Bits)), Opcode);
        Value(Bits, TdiValue, Kept.Tdi);
        break;
    }
    case akIncrement: {
        CheckLeft(ValueBytes + 1, Opcode);
        Value(Size, TdiValue, Kept.Tdi); // the start address
        TakeBytes(&Command.Pieces, 1);
        ++Command.FileBytes;
        const uint64_t PieceBytes =
            uint64_t{Command.Pieces} * static_cast<uint64_t>((DataMaskBits + 7) / 8);
        CheckLeft(PieceBytes, Opcode);
        if (Kept.Tdi) {
            FIncrementData.resize(static_cast<size_t>(PieceBytes));
            TakeBytes(FIncrementData.data(), static_cast<size_t>(PieceBytes));
        } else {
            SkipBytes(PieceBytes);
        }
        Command.FileBytes += static_cast<int64_t>(PieceBytes);
        break;
    }
    case akComment:
        ReadComment(Command);
        break;
    case akUnknown:
        break;
    }
}

void TXSVFFile::FitMaskToSize() {
    if (TdoMask.BitLength() != SdrSize) {
        TdoMask.SetBitLength(SdrSize);
        FMaskBitsValid = false;
    }
}

// Decode runs for every command of every copy: the rare, heavier parts stay out of it.
void TXSVFFile::CountDataMaskBits() {
    DataMaskBits = 0;
    for (int64_t I = 0; I < DataMask.ByteCount(); ++I) {
        const int64_t Valid = std::min<int64_t>(8, int64_t{SdrSize} - I * 8);
        DataMaskBits +=
            std::popcount(static_cast<unsigned>(DataMask.GetByte(I)) & ((1u << Valid) - 1));
    }
}

void TXSVFFile::EnterXC9500Method() {
    if (Events.OnMessage)
        Events.OnMessage(XC9500Warning, sevWarning);
    XC9500Method = true;
}

void TXSVFFile::Decode(const TXSVFCommand& Command) {
    if (Command.empty())
        return;
    // A command that carries DR values has them in the file: the mask may take their size now.
    const TArgKind Kind = OpcodeTable[Command[0]].Kind;
    if (Kind == akValue || Kind == akTwoValues || Kind == akIncrement)
        FitMaskToSize();
    switch (Command[0]) {
    case XSETSDRMASKS:
        CountDataMaskBits();
        break;
    case LCOUNT:
        LoopCount = BigEndian32(Command, 1);
        break;
    case LDELAY:
        LoopState = Command[1];
        LoopClocks = BigEndian32(Command, 2);
        LoopMicroseconds = BigEndian32(Command, 6);
        break;
    case XRUNTEST:
        RunTestTime = BigEndian32(Command, 1);
        break;
    case XREPEAT:
        RepeatCount = Command[1];
        if (RepeatCount >= 2 && !XC9500Method)
            EnterXC9500Method();
        break;
    case XSDRSIZE:
        // Only a value of this length that the file does not hold is an error (a command that
        // needs it is refused as truncated); a shorter mask is cut at once, a longer one waits
        // for the first command that brings a value.
        SdrSize = BigEndian32(Command, 1);
        if (SdrSize < TdoMask.BitLength())
            FitMaskToSize();
        break;
    case XENDIR:
        EndIR = Command[1] == 0 ? tsIDLE : tsIRPAUSE;
        break;
    case XENDDR:
        EndDR = Command[1] == 0 ? tsIDLE : tsDRPAUSE;
        break;
    default:
        break;
    }
}

bool TXSVFFile::IsComplete(const TXSVFCommand& Command) {
    if (Command.empty() || Command[0] != XCOMPLETE)
        return false;
    if (Events.OnFlush)
        Events.OnFlush();
    return true;
}
