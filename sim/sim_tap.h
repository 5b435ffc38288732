#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// The IEEE 1149.1 TAP controller of a simulated device, written from the standard's state
// diagram (deliberately not shared with the players' walk, so each checks the other).
namespace korvexsim {

enum TState : uint8_t {
    RESET,
    IDLE,
    DRSELECT,
    DRCAPTURE,
    DRSHIFT,
    DREXIT1,
    DRPAUSE,
    DREXIT2,
    DRUPDATE,
    IRSELECT,
    IRCAPTURE,
    IRSHIFT,
    IREXIT1,
    IRPAUSE,
    IREXIT2,
    IRUPDATE
};

// Next state for TMS low / TMS high.
extern const TState NextState[16][2];
// The SVF keyword of a state ("RESET", "IDLE", "DRPAUSE", ...).
const char* StateName(TState S);

inline bool IsShift(TState S) {
    return S == DRSHIFT || S == IRSHIFT;
}
// The states a TAP can stay in while TCK runs.
inline bool IsStable(TState S) {
    return S == RESET || S == IDLE || S == DRPAUSE || S == IRPAUSE;
}

// What one device on the chain looks like.
struct TDeviceConfig {
    int IrLength = 8;
    bool HasIdcode = true;
    uint32_t Idcode = 0x0A6B5093;
    uint64_t IdcodeOp = 0xFE;
    uint64_t DataOp = 0x02; // the memory-like data register
    int DataLength = 32;
    // BYPASS is the all-ones instruction; any instruction not listed selects BYPASS as well.
};

// One device: TAP controller, instruction register, BYPASS, IDCODE and a data register that
// keeps what Update-DR stored and hands it back on Capture-DR, so a program-then-verify flow
// passes or fails for real.
class TChainDevice {
public:
    explicit TChainDevice(const TDeviceConfig& Config);

    // The level the device drives on TDO in its current state (high when not shifting: the line
    // is released and pulled up).
    uint8_t Output() const {
        if (FState == DRSHIFT)
            return FDr[FHead];
        if (FState == IRSHIFT)
            return static_cast<uint8_t>(FIr & 1);
        return 1;
    }
    // One rising TCK edge with the given TMS and TDI levels.
    void Rise(uint8_t Tms, uint8_t Tdi);
    // TRST asserted: Test-Logic-Reset at once, without a clock.
    void Reset();

    TState State() const { return FState; }
    uint64_t Instruction() const { return FInstruction; }
    const std::vector<uint8_t>& Memory() const { return FMemory; }

private:
    enum TRegister { regBypass, regIdcode, regData };
    void Select();
    void CaptureDr();
    void ShiftDr(uint8_t Tdi) {
        FDr[FHead] = Tdi;
        if (++FHead == FDr.size())
            FHead = 0;
    }

    TDeviceConfig FConfig;
    TState FState = RESET;
    uint64_t FIrMask;
    uint64_t FIr = 0;
    uint64_t FInstruction;
    TRegister FSelected = regBypass;
    // The selected data register as a ring: bit i of the register is FDr[(FHead + i) % size],
    // bit 0 being the one next on TDO. Shifting is then O(1) whatever the length.
    std::vector<uint8_t> FDr;
    size_t FHead = 0;
    std::vector<uint8_t> FMemory;
};

} // namespace korvexsim
