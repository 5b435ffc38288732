#include "usbplow.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "native_process.h"

namespace {

char Upper(char C) {
    return static_cast<char>(std::toupper(static_cast<unsigned char>(C)));
}

} // namespace

bool MatchSerialMask(const std::string& Mask, const std::string& Serial) {
    if (Mask.size() != Serial.size())
        return false;
    for (size_t I = 0; I < Mask.size(); ++I) {
        const char M = Upper(Mask[I]), S = Upper(Serial[I]);
        if (M != S && M != '?' && S != '?')
            return false;
    }
    return true;
}

int32_t SerialValueOf(const std::string& Serial) {
    // Read as a 64-bit hexadecimal number: every character a hex digit, at most sixteen
    // significant digits. Only the low 24 bits name the programmer; the rest is the fixed "A6"
    // prefix or noise.
    if (Serial.empty())
        return -1;
    uint64_t Value = 0;
    int Significant = 0;
    for (char C : Serial) {
        int Digit;
        if (C >= '0' && C <= '9')
            Digit = C - '0';
        else if (C >= 'a' && C <= 'f')
            Digit = C - 'a' + 10;
        else if (C >= 'A' && C <= 'F')
            Digit = C - 'A' + 10;
        else
            return -1;
        if (Significant > 0 || Digit != 0)
            ++Significant;
        if (Significant > 16)
            return -1;
        Value = (Value << 4) | static_cast<uint64_t>(Digit);
    }
    return static_cast<int32_t>(Value & 0xFFFFFF);
}

std::string DriverChoiceName(TDriverChoice Choice) {
    switch (Choice) {
    case TDriverChoice::D2xx:
        return "d2xx";
    case TDriverChoice::Libftdi:
        return "libftdi";
    case TDriverChoice::Auto:
        break;
    }
    return "auto";
}

namespace {
std::string Lower(const std::string& Text) {
    std::string L;
    for (char C : Text)
        L += static_cast<char>(std::tolower(static_cast<unsigned char>(C)));
    return L;
}
} // namespace

bool IsDriverChoiceName(const std::string& Name) {
    const std::string L = Lower(Name);
    return L == "auto" || L == "d2xx" || L == "libftdi";
}

TDriverChoice DriverChoiceFromName(const std::string& Name) {
    const std::string L = Lower(Name);
    return L == "d2xx"      ? TDriverChoice::D2xx
           : L == "libftdi" ? TDriverChoice::Libftdi
                            : TDriverChoice::Auto;
}

TUsbDriver::~TUsbDriver() {
    UnloadUSBDriver();
}

std::string TUsbDriver::LibraryName() {
    return MakeD2xxBackend()->LibraryName();
}

std::string TUsbDriver::LibftdiLibraryName() {
    return MakeLibftdiBackend()->LibraryName();
}

bool TUsbDriver::LoadUSBDriver() {
    if (FBackend)
        return true;
    FLoadError.clear();
    auto Named = [](const char* Variable) {
        const auto Env = platform::EnvironmentValue(Variable);
        return Env && !Env->empty();
    };
    std::vector<std::unique_ptr<TUsbBackend>> Candidates;
    if (Choice == TDriverChoice::D2xx ||
        (Choice == TDriverChoice::Auto && (Named("KORVEX_D2XX") || !Named("KORVEX_LIBFTDI"))))
        Candidates.push_back(MakeD2xxBackend());
    if (Choice == TDriverChoice::Libftdi ||
        (Choice == TDriverChoice::Auto && !Named("KORVEX_D2XX") &&
         (LibftdiInAutoChoice || Named("KORVEX_LIBFTDI"))))
        Candidates.push_back(MakeLibftdiBackend());
    for (auto& Candidate : Candidates) {
        std::string Error;
        if (Candidate->Load(Error)) {
            FLibrary = Candidate->LibraryName();
            FBackend = std::move(Candidate);
            FLoadError.clear();
            return true;
        }
        FLoadError +=
            (FLoadError.empty() ? "" : "; ") + std::string(Candidate->Name()) + ": " + Error;
    }
    return false;
}

void TUsbDriver::UnloadUSBDriver() {
    FBackend.reset();
    FLibrary.clear();
}

std::string TUsbDriver::DriverName() const {
    return FBackend ? FBackend->Name() : "";
}

std::string TUsbDriver::DriverDescription() const {
    return FBackend ? std::string(FBackend->Name()) + " (" + FLibrary + ")" : "";
}

int32_t TUsbDriver::CountDevices() {
    return FBackend ? FBackend->CountDevices() : 0;
}

void TUsbDriver::SearchDevices(uint16_t VendorId, uint16_t ProductId, const std::string& Mask,
                               TFTIndexes& Serials, int32_t* DeviceIndex, TFTSearch* Summary,
                               int32_t Filter) {
    Serials.clear();
    const uint32_t Id = (static_cast<uint32_t>(VendorId) << 16) | ProductId;
    const std::vector<TUsbDeviceEntry> Listed =
        FBackend ? FBackend->List(VendorId, ProductId) : std::vector<TUsbDeviceEntry>{};
    if (DeviceIndex)
        *DeviceIndex = -1;
    if (Summary)
        *Summary = TFTSearch{Id, Mask, CountDevices(), 0};
    for (const TUsbDeviceEntry& D : Listed) {
        if (D.InUse && D.Serial.empty())
            continue; // nothing is known of it
        const int32_t Value = SerialValueOf(D.Serial);
        if (!MatchSerialMask(Mask, D.Serial) ||
            (Filter != -1 && (Value == -1 || Value != (Filter & 0xFFFFFF))))
            continue;
        Serials.push_back(Value);
        if (Summary)
            ++Summary->DevicesMatched;
        if (DeviceIndex)
            *DeviceIndex = D.Index;
    }
    if (Serials.size() > 1 && DeviceIndex)
        *DeviceIndex = -1;
}

std::vector<TProgrammerEntry> TUsbDriver::DescribeDevices(uint16_t VendorId, uint16_t ProductId,
                                                          const std::string& Mask) {
    std::vector<TProgrammerEntry> Found;
    if (!FBackend)
        return Found;
    for (const TUsbDeviceEntry& D : FBackend->List(VendorId, ProductId)) {
        if (D.InUse && D.Serial.empty()) {
            Found.push_back({"", -1, true});
            continue;
        }
        if (!MatchSerialMask(Mask, D.Serial))
            continue;
        bool InUse = D.InUse;
        if (!InUse && !FBackend->ListingOpensDevices()) {
            TUsbHandle Handle = nullptr;
            if (FBackend->Open(D.Index, VendorId, ProductId, Handle) == 0 && Handle)
                FBackend->Close(Handle);
            else
                InUse = FBackend->LastOpenFoundBusy();
        }
        Found.push_back({D.Serial, SerialValueOf(D.Serial), InUse});
    }
    return Found;
}

std::string TUsbDriver::SerialAt(int32_t Index, uint16_t VendorId, uint16_t ProductId) {
    if (FBackend)
        for (const TUsbDeviceEntry& D : FBackend->List(VendorId, ProductId))
            if (D.Index == Index)
                return D.Serial;
    return "";
}

// Status 1 before a load: D2XX's "invalid handle", and no library code is called.
int TUsbDriver::Open(int32_t Index, uint16_t VendorId, uint16_t ProductId, TUsbHandle& Handle) {
    Handle = nullptr;
    return FBackend ? FBackend->Open(Index, VendorId, ProductId, Handle) : 1;
}
int TUsbDriver::Reset(TUsbHandle Handle) {
    return FBackend ? FBackend->Reset(Handle) : 1;
}
int TUsbDriver::Purge(TUsbHandle Handle) {
    return FBackend ? FBackend->Purge(Handle) : 1;
}
int TUsbDriver::SetLatencyTimer(TUsbHandle Handle, uint8_t Milliseconds) {
    return FBackend ? FBackend->SetLatencyTimer(Handle, Milliseconds) : 1;
}
int TUsbDriver::Write(TUsbHandle Handle, const uint8_t* Data, uint32_t Count, uint32_t& Written) {
    Written = 0;
    return FBackend ? FBackend->Write(Handle, Data, Count, Written) : 1;
}
int TUsbDriver::QueueStatus(TUsbHandle Handle, uint32_t& Waiting) {
    Waiting = 0;
    return FBackend ? FBackend->QueueStatus(Handle, Waiting) : 1;
}
int TUsbDriver::Read(TUsbHandle Handle, uint8_t* Buffer, uint32_t Count, uint32_t& Got) {
    Got = 0;
    return FBackend ? FBackend->Read(Handle, Buffer, Count, Got) : 1;
}
void TUsbDriver::Close(TUsbHandle Handle) {
    if (FBackend && Handle)
        FBackend->Close(Handle);
}
bool TUsbDriver::LastOpenFoundBusy() const {
    return FBackend && FBackend->LastOpenFoundBusy();
}
std::string TUsbDriver::LastFailure() const {
    return FBackend ? FBackend->LastFailure() : "no USB driver loaded";
}

std::string FormatSerial(int32_t Value) {
    char Buf[16];
    std::snprintf(Buf, sizeof Buf, "%06X", static_cast<unsigned>(static_cast<uint32_t>(Value)));
    return Buf;
}
