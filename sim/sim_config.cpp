#include "sim_config.h"

#include <cctype>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace korvexsim {

namespace {

uint64_t Number(const std::string& Text, const std::string& Line) {
    try {
        size_t Used = 0;
        const uint64_t V = std::stoull(Text, &Used, 0);
        if (Used == Text.size())
            return V;
    } catch (const std::exception&) {
    }
    throw std::runtime_error("korvex-sim: bad number \"" + Text + "\" in line: " + Line);
}

// "key=value" into key and value; a bare word gives an empty value.
void SplitOption(const std::string& Word, std::string& Key, std::string& Value) {
    const size_t Eq = Word.find('=');
    Key = Word.substr(0, Eq);
    Value = Eq == std::string::npos ? "" : Word.substr(Eq + 1);
}

// SVF hex: the last digit holds bits 0 to 3, bit 0 shifted first.
std::vector<uint8_t> HexBits(const std::string& Hex, int64_t Length, const std::string& Line) {
    std::vector<uint8_t> Bits(static_cast<size_t>(Length), 0);
    int64_t Bit = 0;
    for (auto It = Hex.rbegin(); It != Hex.rend(); ++It) {
        const char C = static_cast<char>(std::toupper(static_cast<unsigned char>(*It)));
        int Digit;
        if (C >= '0' && C <= '9')
            Digit = C - '0';
        else if (C >= 'A' && C <= 'F')
            Digit = C - 'A' + 10;
        else
            throw std::runtime_error("korvex-sim: bad hex digit in script line: " + Line);
        for (int K = 0; K < 4; ++K, ++Bit)
            if (Bit < Length)
                Bits[static_cast<size_t>(Bit)] = static_cast<uint8_t>((Digit >> K) & 1);
    }
    return Bits;
}

} // namespace

std::vector<TScriptedScan> ReadScript(const std::string& Path) {
    std::ifstream In(Path);
    if (!In)
        throw std::runtime_error("korvex-sim: cannot open TDO script " + Path);
    std::vector<TScriptedScan> Scans;
    std::string Line;
    while (std::getline(In, Line)) {
        std::istringstream Words(Line);
        std::string Kind, Length, Hex;
        if (!(Words >> Kind) || Kind[0] == '#')
            continue;
        if (!(Words >> Length >> Hex) || (Kind != "IR" && Kind != "DR"))
            throw std::runtime_error("korvex-sim: bad TDO script line: " + Line);
        if (Hex.size() >= 2 && Hex.front() == '(' && Hex.back() == ')')
            Hex = Hex.substr(1, Hex.size() - 2);
        TScriptedScan S;
        S.Ir = Kind == "IR";
        S.Length = static_cast<int64_t>(Number(Length, Line));
        S.Bits = HexBits(Hex, S.Length, Line);
        Scans.push_back(std::move(S));
    }
    return Scans;
}

TConfig ParseConfig(const std::string& Text) {
    TConfig C;
    bool DevicesGiven = false, ChainGiven = false;
    std::istringstream In(Text);
    std::string Line;
    while (std::getline(In, Line)) {
        if (const size_t Hash = Line.find('#'); Hash != std::string::npos)
            Line.erase(Hash);
        std::istringstream Words(Line);
        std::string Key;
        if (!(Words >> Key))
            continue;
        std::vector<std::string> Args;
        for (std::string W; Words >> W;)
            Args.push_back(W);
        auto Arg = [&](size_t I) -> const std::string& {
            if (I >= Args.size())
                throw std::runtime_error("korvex-sim: missing value in line: " + Line);
            return Args[I];
        };
        auto Int = [&](size_t I) { return static_cast<int64_t>(Number(Arg(I), Line)); };

        if (Key == "device") {
            if (!DevicesGiven)
                C.Devices.clear();
            DevicesGiven = true;
            TAttachedDevice D;
            D.Serial = Arg(0) == "-" ? "" : Arg(0);
            for (size_t I = 1; I < Args.size(); ++I) {
                std::string K, V;
                SplitOption(Args[I], K, V);
                if (K == "vid")
                    D.VendorId = static_cast<uint16_t>(Number(V, Line));
                else if (K == "pid")
                    D.ProductId = static_cast<uint16_t>(Number(V, Line));
                else if (K == "refuse")
                    D.RefuseOpen = true;
                else
                    throw std::runtime_error("korvex-sim: unknown device option " + K);
            }
            C.Devices.push_back(D);
        } else if (Key == "no_devices") {
            DevicesGiven = true;
            C.Devices.clear();
        } else if (Key == "tap") {
            if (!ChainGiven)
                C.Chain.clear();
            ChainGiven = true;
            TDeviceConfig D;
            for (const std::string& A : Args) {
                std::string K, V;
                SplitOption(A, K, V);
                if (K == "irlen")
                    D.IrLength = static_cast<int>(Number(V, Line));
                else if (K == "idcode" && V == "none")
                    D.HasIdcode = false;
                else if (K == "idcode")
                    D.Idcode = static_cast<uint32_t>(Number(V, Line));
                else if (K == "idcode_op")
                    D.IdcodeOp = Number(V, Line);
                else if (K == "data_op")
                    D.DataOp = Number(V, Line);
                else if (K == "data_len")
                    D.DataLength = static_cast<int>(Number(V, Line));
                else
                    throw std::runtime_error("korvex-sim: unknown tap option " + K);
            }
            if (D.IrLength < 2 || D.IrLength > 64)
                throw std::runtime_error("korvex-sim: irlen must be 2 to 64 in line: " + Line);
            C.Chain.push_back(D);
        } else if (Key == "tdo_constant") {
            C.ChainModel = false;
            C.TdoConstant = Int(0) ? 1 : 0;
        } else if (Key == "vpp_trst") {
            C.VppTrst = true;
        } else if (Key == "trace") {
            C.TracePath = Arg(0) == "-" ? "" : Arg(0);
        } else if (Key == "summary") {
            C.SummaryPath = Arg(0) == "-" ? "" : Arg(0);
        } else if (Key == "tdo_script") {
            C.Script = ReadScript(Arg(0));
            C.HasScript = true;
        } else if (Key == "reply_buffer") {
            C.ReplyBuffer = Int(0);
        } else if (Key == "write_fail_from") {
            C.WriteFailFrom = Int(0);
        } else if (Key == "write_max") {
            C.WriteMax = Int(0);
        } else if (Key == "reply_delay_polls") {
            C.ReplyDelayPolls = Int(0);
        } else if (Key == "reply_delay_ms") {
            C.ReplyDelayMs = Int(0);
        } else if (Key == "vanish_after") {
            C.VanishAfter = Int(0);
        } else if (Key == "fail_queue_status") {
            C.FailQueueStatus = true;
        } else if (Key == "fail_read") {
            C.FailRead = true;
        } else if (Key == "usb_transaction_us") {
            C.UsbTransactionUs = Int(0);
        } else if (Key == "usb_latency_us") {
            C.UsbLatencyUs = Int(0);
        } else if (Key == "usb_bytes_per_s") {
            C.UsbBytesPerSecond = Int(0);
        } else if (Key == "usb" && Arg(0) == "off") {
            C.UsbTransactionUs = C.UsbLatencyUs = C.UsbBytesPerSecond = 0;
        } else if (Key == "realtime") {
            C.Realtime = Int(0) != 0;
        } else if (Key == "input_buffer") {
            C.InputBuffer = Int(0);
            if (C.InputBuffer < 1)
                throw std::runtime_error("korvex-sim: input_buffer must be at least 1 in line: " +
                                         Line);
        } else {
            throw std::runtime_error("korvex-sim: unknown setting \"" + Key + "\"");
        }
    }
    return C;
}

} // namespace korvexsim
