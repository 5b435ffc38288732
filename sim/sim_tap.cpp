#include "sim_tap.h"

namespace korvexsim {

const TState NextState[16][2] = {
    /* RESET     */ {IDLE, RESET},
    /* IDLE      */ {IDLE, DRSELECT},
    /* DRSELECT  */ {DRCAPTURE, IRSELECT},
    /* DRCAPTURE */ {DRSHIFT, DREXIT1},
    /* DRSHIFT   */ {DRSHIFT, DREXIT1},
    /* DREXIT1   */ {DRPAUSE, DRUPDATE},
    /* DRPAUSE   */ {DRPAUSE, DREXIT2},
    /* DREXIT2   */ {DRSHIFT, DRUPDATE},
    /* DRUPDATE  */ {IDLE, DRSELECT},
    /* IRSELECT  */ {IRCAPTURE, RESET},
    /* IRCAPTURE */ {IRSHIFT, IREXIT1},
    /* IRSHIFT   */ {IRSHIFT, IREXIT1},
    /* IREXIT1   */ {IRPAUSE, IRUPDATE},
    /* IRPAUSE   */ {IRPAUSE, IREXIT2},
    /* IREXIT2   */ {IRSHIFT, IRUPDATE},
    /* IRUPDATE  */ {IDLE, DRSELECT},
};

const char* StateName(TState S) {
    static const char* const Names[16] = {"RESET",    "IDLE",     "DRSELECT",  "DRCAPTURE",
                                          "DRSHIFT",  "DREXIT1",  "DRPAUSE",   "DREXIT2",
                                          "DRUPDATE", "IRSELECT", "IRCAPTURE", "IRSHIFT",
                                          "IREXIT1",  "IRPAUSE",  "IREXIT2",   "IRUPDATE"};
    return Names[S];
}

TChainDevice::TChainDevice(const TDeviceConfig& Config)
    : FConfig(Config), FIrMask(Config.IrLength >= 64 ? ~0ull : ((1ull << Config.IrLength) - 1)),
      FInstruction(0) {
    if (FConfig.DataLength < 1)
        FConfig.DataLength = 1;
    FMemory.assign(static_cast<size_t>(FConfig.DataLength), 0);
    // Power-up is Test-Logic-Reset: IDCODE selected when the device has one, else BYPASS.
    FInstruction = FConfig.HasIdcode ? (FConfig.IdcodeOp & FIrMask) : FIrMask;
    Select();
}

void TChainDevice::Select() {
    if (FConfig.HasIdcode && FInstruction == (FConfig.IdcodeOp & FIrMask))
        FSelected = regIdcode;
    else if (FInstruction == (FConfig.DataOp & FIrMask) && FInstruction != FIrMask)
        FSelected = regData;
    else
        FSelected = regBypass;
    const size_t Length = FSelected == regIdcode ? 32 : FSelected == regData ? FMemory.size() : 1;
    FDr.assign(Length, 0);
    FHead = 0;
}

void TChainDevice::CaptureDr() {
    FHead = 0;
    switch (FSelected) {
    case regBypass:
        FDr[0] = 0;
        break;
    case regIdcode:
        for (size_t I = 0; I < 32; ++I)
            FDr[I] = static_cast<uint8_t>((FConfig.Idcode >> I) & 1);
        break;
    case regData:
        FDr = FMemory;
        break;
    }
}

void TChainDevice::Rise(uint8_t Tms, uint8_t Tdi) {
    switch (FState) {
    case DRCAPTURE:
        CaptureDr();
        break;
    case DRSHIFT:
        ShiftDr(Tdi);
        break;
    case IRCAPTURE:
        // The instruction register captures ...01: bit 0 high, bit 1 low.
        FIr = 1;
        break;
    case IRSHIFT:
        FIr = (FIr >> 1) | (static_cast<uint64_t>(Tdi) << (FConfig.IrLength - 1));
        FIr &= FIrMask;
        break;
    default:
        break;
    }
    const TState Next = NextState[FState][Tms & 1];
    if (Next == DRUPDATE && FSelected == regData) {
        for (size_t I = 0; I < FMemory.size(); ++I) {
            size_t P = FHead + I;
            if (P >= FDr.size())
                P -= FDr.size();
            FMemory[I] = FDr[P];
        }
    } else if (Next == IRUPDATE) {
        FInstruction = FIr & FIrMask;
        Select();
    } else if (Next == RESET && FState != RESET) {
        Reset();
        return;
    }
    FState = Next;
}

void TChainDevice::Reset() {
    FInstruction = FConfig.HasIdcode ? (FConfig.IdcodeOp & FIrMask) : FIrMask;
    Select();
    FState = RESET;
}

} // namespace korvexsim
