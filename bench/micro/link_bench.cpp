// The scan path through the programmer link: a scan composed from its TVarLen values into the
// one-byte-per-bit event arrays, packed into KORVEX command bytes, written, and its read-back
// decoded. The link talks to the null device, which answers every reply at once and costs almost
// nothing, so the figures are the host's.

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <random>
#include <stdexcept>
#include <vector>

#include "bench_files.h"
#include "korvex_link.h"
#include "svf_file.h"
#include "svf_stepper.h"
#include "usbplow.h"

namespace {

class TNullLink {
public:
    TNullLink() {
        ::setenv("KORVEX_D2XX", KORVEX_NULL_D2XX, 1);
        if (!Driver.LoadUSBDriver())
            throw std::runtime_error("cannot load the null device: " + Driver.LoadError());
        if (!Link.OpenKorvex())
            throw std::runtime_error("cannot open the null device");
        Link.OnSetFrequency(3000000, true);
        Link.OnFlush();
    }
    TUsbDriver Driver;
    TKorvexLink Link{Driver};
};

std::vector<uint8_t> RandomBits(int64_t Count, uint32_t Seed) {
    std::mt19937 Rng(Seed);
    std::vector<uint8_t> V(static_cast<size_t>(Count));
    for (auto& B : V)
        B = static_cast<uint8_t>(Rng() & 1);
    return V;
}

void ScanSizes(benchmark::internal::Benchmark* B) {
    B->ArgName("bits")->Arg(8)->Arg(64)->Arg(4096)->Arg(8 << 20);
}

// Packing a scan without read-back into command bytes and writing them.
void BM_LinkShift(benchmark::State& State) {
    TNullLink N;
    const int64_t Bits = State.range(0);
    const auto Tdi = RandomBits(Bits, 1);
    const std::vector<uint8_t> Capture(static_cast<size_t>(Bits), 0);
    for (auto _ : State)
        N.Link.OnShift(Tdi.data(), Capture.data(), Bits, true);
    N.Link.OnFlush();
    State.SetItemsProcessed(State.iterations() * Bits); // items = shifted bits
}
BENCHMARK(BM_LinkShift)->Apply(ScanSizes);

// The reply decoding alone: the scan is shifted and written outside the timed part.
void BM_ReplyDecode(benchmark::State& State) {
    TNullLink N;
    const int64_t Bits = State.range(0);
    const auto Tdi = RandomBits(Bits, 2);
    const std::vector<uint8_t> Capture(static_cast<size_t>(Bits), 1);
    std::vector<uint8_t> Tdo(static_cast<size_t>(Bits));
    for (auto _ : State) {
        State.PauseTiming();
        N.Link.OnShift(Tdi.data(), Capture.data(), Bits, true);
        N.Link.OnFlush();
        State.ResumeTiming();
        if (!N.Link.OnReadCaptured(Tdo.data(), Capture.data(), Bits))
            State.SkipWithError("read-back not available");
    }
    State.SetItemsProcessed(State.iterations() * Bits);
}
BENCHMARK(BM_ReplyDecode)->ArgName("bits")->Arg(4096)->Arg(8 << 20);

// The SVF executor's scan: TVarLen values expanded into the event arrays (the one-byte-per-bit
// layout), packed and written, and with read-back also collected and compared under the mask.
void BM_SvfScan(benchmark::State& State) {
    TNullLink N;
    const int64_t Bits = State.range(0);
    const bool ReadBack = State.range(1) != 0;
    const TTempFile Empty(".svf", "");
    TSVFFile Svf(Empty.Path());
    Svf.Events.OnShift = [&](const uint8_t* Tdi, const uint8_t* Cap, int64_t Count, bool Exit) {
        N.Link.OnShift(Tdi, Cap, Count, Exit);
    };
    Svf.Events.OnReadCaptured = [&](uint8_t* Tdo, const uint8_t* Cap, int64_t Count) {
        return N.Link.OnReadCaptured(Tdo, Cap, Count);
    };
    TSVFStepper Step(Svf);
    const TSVFStepper::TScanValues Sdr = Step.Scan(cmdSDR);
    Sdr.Tdi.SetBitLength(Bits);
    std::mt19937 Rng(3);
    for (int64_t I = 0; I < Sdr.Tdi.ByteCount(); ++I)
        Sdr.Tdi.SetByte(I, static_cast<uint8_t>(Rng()));
    // The null device reads ones: expect ones under a full mask.
    Sdr.Tdo.SetBitLength(ReadBack ? Bits : 0);
    Sdr.Tdo.SetAllOnes();
    Sdr.Mask.SetBitLength(Bits);
    Sdr.Mask.SetAllOnes();
    for (auto _ : State) {
        Step.ShiftScan(true);
        if (ReadBack) {
            N.Link.OnFlush();
            if (Step.CompareScan(true) != TCompareResult::Match)
                State.SkipWithError("read-back did not match");
        }
    }
    N.Link.OnFlush();
    State.SetItemsProcessed(State.iterations() * Bits);
}
BENCHMARK(BM_SvfScan)->ArgNames({"bits", "readback"})->ArgsProduct({{64, 4096, 8 << 20}, {0, 1}});

// The queue itself: a long RUNTEST becomes group bytes written block by block.
void BM_RunClocks(benchmark::State& State) {
    TNullLink N;
    N.Link.UpdateOptions([](TRunOptions& O) { O.RTwCount = 0; });
    const int64_t Clocks = State.range(0);
    for (auto _ : State)
        N.Link.OnRunClocks(false, Clocks, 0);
    N.Link.OnFlush();
    State.SetItemsProcessed(State.iterations() * Clocks);
}
BENCHMARK(BM_RunClocks)->ArgName("clocks")->Arg(256)->Arg(100000000)->Unit(benchmark::kMillisecond);

} // namespace
