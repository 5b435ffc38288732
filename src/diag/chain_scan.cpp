#include "chain_scan.h"

#include <chrono>
#include <cstdio>
#include <stdexcept>
#include <thread>

#include "bit_pack.h"
#include "korvex_link.h"
#include "tap_state.h"

namespace {

// Index of the first 1 in Bits[From, To), or -1.
int FirstOne(const std::vector<uint8_t>& Bits, size_t From, size_t To) {
    for (size_t I = From; I < To && I < Bits.size(); ++I)
        if (Bits[I] != 0)
            return static_cast<int>(I - From);
    return -1;
}

std::string UnknownMaker(uint32_t Idcode) {
    char Text[40];
    std::snprintf(Text, sizeof Text, "JEP106 bank %d code 0x%02X", Jep106Bank(Idcode),
                  Jep106Code(Idcode));
    return Text;
}

std::vector<uint8_t> ZerosThenOnes(int Half) {
    std::vector<uint8_t> V(static_cast<size_t>(2 * Half), 0);
    std::fill(V.begin() + Half, V.end(), 1);
    return V;
}

} // namespace

TChainScanner::TChainScanner(const TJtagEvents& Events, const TJtagPartTable& Parts)
    : FEvents(Events), FParts(Parts), FState(tsRESET) {}

void TChainScanner::GotoState(uint8_t Target) {
    WalkTapState(FState, Target, FEvents.OnClockTms,
                 [] { throw std::logic_error(UnhandledTapStateMessage); });
}

std::vector<uint8_t> TChainScanner::ShiftAndRead(bool Dr, const std::vector<uint8_t>& Tdi) {
    GotoState(Dr ? tsDRSHIFT : tsIRSHIFT);
    // The events carry packed bits; the scanner works on one bit a byte, which is short here.
    const int64_t N = static_cast<int64_t>(Tdi.size());
    const std::vector<uint8_t> PackedTdi = PackBits(Tdi);
    const std::vector<uint8_t> Capture = PackBits(std::vector<uint8_t>(Tdi.size(), 1));
    std::vector<uint8_t> Tdo(Capture.size(), 0);
    if (FEvents.OnShift)
        FEvents.OnShift(PackedTdi.data(), Capture.data(), N, true);
    FState = Dr ? tsDREXIT1 : tsIREXIT1;
    GotoState(tsIDLE);
    if (FEvents.OnFlush)
        FEvents.OnFlush();
    if (!FEvents.OnReadCaptured)
        throw std::logic_error("The chain scan needs a read-back handler");
    // The link answers false until the programmer has sent every captured bit; it raises its own
    // time-out when the replies stop.
    while (!FEvents.OnReadCaptured(Tdo.data(), Capture.data(), N))
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return UnpackBits(Tdo.data(), N);
}

TChainScan TChainScanner::Scan() {
    TChainScan Result;
    GotoState(tsRESET);
    GotoState(tsIDLE);

    // Instruction length: the zeros pushed out ahead of the first one.
    const std::vector<uint8_t> Ir = ShiftAndRead(false, ZerosThenOnes(MaxIrBits));
    const int IrLength = FirstOne(Ir, MaxIrBits, 2 * MaxIrBits);
    if (IrLength < 0) {
        Result.Error = "TDO stays low: no chain, no target power, or an instruction register "
                       "longer than " +
                       std::to_string(MaxIrBits) + " bits";
        GotoState(tsRESET);
        return Result;
    }
    if (IrLength == 0) {
        Result.Error = "TDO stays high: no device answers (is the target powered and the cable "
                       "connected?)";
        GotoState(tsRESET);
        return Result;
    }
    Result.IrLength = IrLength;

    // Every device in BYPASS now: one bit each.
    const std::vector<uint8_t> Bypass = ShiftAndRead(true, ZerosThenOnes(MaxDevices));
    const int Count = FirstOne(Bypass, MaxDevices, 2 * MaxDevices);
    if (Count <= 0) {
        Result.Error = Count == 0 ? "The data registers do not pass bits through: a device does "
                                    "not select BYPASS with an instruction of all ones"
                                  : "More than " + std::to_string(MaxDevices) +
                                        " devices, or TDO stuck low in the data register scan";
        GotoState(tsRESET);
        return Result;
    }

    // IDCODE or BYPASS of every device, as reset selected them.
    GotoState(tsRESET);
    GotoState(tsIDLE);
    const std::vector<uint8_t> Ids(static_cast<size_t>(32 * Count), 1);
    const std::vector<uint8_t> Tdo = ShiftAndRead(true, Ids);
    size_t Bit = 0;
    std::vector<TChainDevice> FromTdo;
    for (int D = 0; D < Count; ++D) {
        TChainDevice Device;
        if (Tdo[Bit] != 0) {
            uint32_t Id = 0;
            for (int K = 0; K < 32; ++K)
                Id |= static_cast<uint32_t>(Tdo[Bit + static_cast<size_t>(K)] != 0) << K;
            Bit += 32;
            Device.HasIdcode = true;
            Device.Idcode = Id;
            Device.Maker = FParts.MakerOf(Id);
            Device.Part = FParts.PartOf(Id);
        } else {
            Bit += 1;
        }
        FromTdo.push_back(Device);
    }
    GotoState(tsRESET);

    for (int D = 0; D < Count; ++D) {
        TChainDevice Device = FromTdo[static_cast<size_t>(Count - 1 - D)];
        Device.Position = D + 1;
        Result.Devices.push_back(Device);
    }
    Result.Ok = true;
    return Result;
}

TChainScan ScanChainThrough(TKorvexLink& Link, int64_t FrequencyHz) {
    TChainScan Result;
    if (!Link.OpenKorvex()) {
        Result.Error = "Cannot open KORVEX: " + Link.OpenProblem();
        return Result;
    }
    try {
        Link.OnSetFrequency(FrequencyHz, true);
        const TJtagEvents Events = Link.Events();
        Result = TChainScanner(Events).Scan();
        Link.FlushKorvex();
    } catch (const std::exception& E) {
        Result = TChainScan{};
        Result.Error = E.what();
    }
    Link.CloseKorvex();
    return Result;
}

std::string IdcodeHex(uint32_t Idcode) {
    char Text[16];
    std::snprintf(Text, sizeof Text, "0x%08X", Idcode);
    return Text;
}

std::vector<std::string> ChainReportLines(const TChainScan& Scan) {
    std::vector<std::string> Lines;
    if (!Scan.Ok) {
        Lines.push_back("Chain scan failed: " + Scan.Error);
        return Lines;
    }
    const size_t N = Scan.Devices.size();
    Lines.push_back("JTAG chain: " + std::to_string(N) + (N == 1 ? " device" : " devices") +
                    ", instruction registers " + std::to_string(Scan.IrLength) +
                    " bits in total (device 1 is nearest TDI)");
    Lines.push_back("  #  IDCODE      Maker                     Part");
    int KnownIr = 0;
    bool AllKnown = true;
    for (const TChainDevice& D : Scan.Devices) {
        char Row[160];
        const std::string Id = D.HasIdcode ? IdcodeHex(D.Idcode) : "BYPASS";
        const std::string Maker = !D.HasIdcode ? "-"
                                  : D.Maker    ? D.Maker->Name
                                               : UnknownMaker(D.Idcode);
        std::string Part = D.Part ? D.Part->Name : "-";
        if (D.Part)
            Part += " (IR " + std::to_string(D.Part->IrLength) + ")";
        std::snprintf(Row, sizeof Row, "%3d  %-10s  %-24s  %s", D.Position, Id.c_str(),
                      Maker.c_str(), Part.c_str());
        Lines.emplace_back(Row);
        if (D.Part)
            KnownIr += D.Part->IrLength;
        else
            AllKnown = false;
    }
    if (AllKnown && KnownIr != Scan.IrLength)
        Lines.push_back("Warning: the parts' instruction registers add up to " +
                        std::to_string(KnownIr) + " bits, the chain has " +
                        std::to_string(Scan.IrLength));
    return Lines;
}
