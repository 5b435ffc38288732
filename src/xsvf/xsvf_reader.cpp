// Reading and decoding of XSVF files: the byte reader, the opcode table, value loading and the
// pre-scan that refuses a file before anything reaches the programmer.

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <cstring>
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

bool TXSVFFile::Refill() {
    if (FBufferPos < FBufferFill)
        return true;
    FBufferPos = 0;
    FBufferFill = std::fread(FBuffer, 1, BufferSize, FFile.get());
    // A read error (a folder, a failing disk) must not pass for the end of the file.
    if (FBufferFill == 0 && std::ferror(FFile.get())) {
        const int Err = errno;
        throw std::runtime_error("Cannot read file " + FFileName + ": " +
                                 std::generic_category().message(Err));
    }
    FFileBytesRead += static_cast<int64_t>(FBufferFill);
    // A file cut or extended while it plays would otherwise end early with a puzzling message,
    // or run on into bytes the pre-scan never saw. At the end the size is asked for as well: a
    // cut behind what was already read shows only there.
    if (FCheckFileSize) {
        struct stat St {};
        const auto SizeNow = [&]() -> int64_t {
            return ::fstat(::fileno(FFile.get()), &St) == 0 ? St.st_size : -1;
        };
        if (FFileBytesRead > FFileSize ||
            (FBufferFill == 0 && (FFileBytesRead < FFileSize || SizeNow() != FFileSize)))
            throw std::runtime_error("File " + FFileName + " changed while it was played: it had " +
                                     std::to_string(FFileSize) + " bytes, now " +
                                     std::to_string(SizeNow()));
    }
    return FBufferFill > 0;
}

void TXSVFFile::ThrowTruncated(uint8_t Opcode, bool InsideCommand) const {
    if (InsideCommand)
        throw std::runtime_error(std::string("Unexpected end of file inside command ") +
                                 XSVFOpcodeName(Opcode));
    throw std::runtime_error("Unexpected end of file: the file has no XCOMPLETE command");
}

uint8_t TXSVFFile::NextByte() {
    if (FBufferPos >= FBufferFill && !Refill())
        throw std::runtime_error("Unexpected end of file");
    const uint8_t B = FBuffer[FBufferPos++];
    ++FFileOffset;
    if (FBufferPos >= FBufferFill)
        Refill(); // read ahead; the end of the file is only an error when a byte is wanted
    return B;
}

void TXSVFFile::ReadCommand(TXSVFCommand& Command) {
    Command.clear();
    FReadPrepared = false;
    if (FBufferPos >= FBufferFill && !Refill())
        ThrowTruncated(XCOMPLETE, false);
    const uint8_t Opcode = NextByte();
    const TOpcodeInfo& Info = OpcodeTable[Opcode];
    if (Info.Kind == akUnknown)
        throw std::runtime_error("Unknown command " + Hex2(Opcode));
    Command.push_back(Opcode);

    // Appends Count argument bytes straight from the buffer. The count is checked against what is
    // left of the file first, so a hostile length fails without allocating.
    auto ReadArguments = [&](uint64_t Count) {
        if (Count > static_cast<uint64_t>(std::max<int64_t>(FFileSize - FFileOffset, 0)))
            ThrowTruncated(Opcode, true);
        size_t At = Command.size();
        Command.resize(At + Count);
        while (Count > 0) {
            if (FBufferPos >= FBufferFill && !Refill())
                ThrowTruncated(Opcode, true);
            const size_t N = std::min<uint64_t>(Count, FBufferFill - FBufferPos);
            std::memcpy(Command.data() + At, FBuffer + FBufferPos, N);
            FBufferPos += N;
            FFileOffset += static_cast<int64_t>(N);
            At += N;
            Count -= N;
        }
        if (FBufferPos >= FBufferFill)
            Refill();
    };

    const uint64_t ValueBytes = (uint64_t{SdrSize} + 7) / 8;
    switch (Info.Kind) {
    case akFixed:
        ReadArguments(Info.Fixed);
        break;
    case akValue:
        ReadArguments(ValueBytes);
        break;
    case akTwoValues:
        ReadArguments(2 * ValueBytes);
        break;
    case akSir:
        ReadArguments(1);
        ReadArguments((Command[1] + 7u) / 8u);
        break;
    case akSir2:
        ReadArguments(2);
        ReadArguments(((uint32_t{Command[1]} << 8 | Command[2]) + 7u) / 8u);
        break;
    case akIncrement:
        ReadArguments(ValueBytes + 1);
        ReadArguments(uint64_t{Command.back()} * static_cast<uint64_t>((DataMaskBits + 7) / 8));
        break;
    case akComment:
        for (;;) {
            if (FBufferPos >= FBufferFill && !Refill())
                ThrowTruncated(Opcode, true);
            const uint8_t B = NextByte();
            Command.push_back(B);
            if (B == 0)
                break;
        }
        break;
    case akUnknown:
        break;
    }
}

void TXSVFFile::LoadValue(const TXSVFCommand& Command, size_t Offset, int64_t Bits,
                          TVarLen& Destination) const {
    const auto N = static_cast<size_t>(TVarLen::BytesFor(Bits));
    if (Offset > Command.size() || N > Command.size() - Offset)
        throw std::runtime_error("Internal error LoadValue: value beyond the command");
    // The file holds the most significant byte first; storage byte 0 holds bits 0 to 7.
    std::reverse_copy(Command.begin() + static_cast<std::ptrdiff_t>(Offset),
                      Command.begin() + static_cast<std::ptrdiff_t>(Offset + N),
                      Destination.Assign(Bits, static_cast<int64_t>(N)));
}

void TXSVFFile::FitMaskToSize() {
    if (TdoMask.BitLength() != SdrSize) {
        TdoMask.SetBitLength(SdrSize);
        FMaskBitsValid = false;
    }
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
        LoadValue(Command, 1, SdrSize, AddressMask);
        LoadValue(Command, 1 + static_cast<size_t>(TdoMask.ByteCount()), SdrSize, DataMask);
        DataMaskBits = 0;
        for (int64_t I = 0; I < DataMask.ByteCount(); ++I) {
            const int64_t Valid = std::min<int64_t>(8, int64_t{SdrSize} - I * 8);
            DataMaskBits +=
                std::popcount(static_cast<unsigned>(DataMask.GetByte(I)) & ((1u << Valid) - 1));
        }
        break;
    case LCOUNT:
        LoopCount = BigEndian32(Command, 1);
        break;
    case LDELAY:
        LoopState = Command[1];
        LoopClocks = BigEndian32(Command, 2);
        LoopMicroseconds = BigEndian32(Command, 6);
        break;
    case XTDOMASK:
        LoadValue(Command, 1, TdoMask.BitLength(), TdoMask);
        FMaskBitsValid = false;
        break;
    case XRUNTEST:
        RunTestTime = BigEndian32(Command, 1);
        break;
    case XREPEAT:
        RepeatCount = Command[1];
        if (RepeatCount >= 2) {
            if (!XC9500Method && Events.OnMessage)
                Events.OnMessage(XC9500Warning, sevWarning);
            XC9500Method = true;
        }
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
