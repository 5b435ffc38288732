// XSVF decoding: commands read from the file and their parameters applied, then the values
// loaded into TVarLen and expanded into the event arrays as the writer copy does.

#include <benchmark/benchmark.h>

#include <string>

#include "bench_files.h"
#include "xsvf_file.h"

namespace {

const TTempFile& XsvfFile(int Which) {
    auto Text = [](const std::vector<uint8_t>& B) { return std::string(B.begin(), B.end()); };
    static const TTempFile Short(".xsvf", Text(ScansXsvf(64, 20000, 4)));
    static const TTempFile Long(".xsvf", Text(ScansXsvf(8 << 20, 3, 5)));
    return Which == 0 ? Short : Long;
}

void BM_XsvfDecode(benchmark::State& State) {
    const TTempFile& F = XsvfFile(static_cast<int>(State.range(0)));
    for (auto _ : State) {
        State.PauseTiming();
        TXSVFFile X(F.Path()); // its pre-scan is a decoding pass of its own, not timed here
        State.ResumeTiming();
        TXSVFCommand C;
        do {
            X.ReadCommand(C);
            X.Decode(C);
        } while (!X.IsComplete(C));
    }
    State.SetBytesProcessed(State.iterations() * F.Size());
}
BENCHMARK(BM_XsvfDecode)->ArgName("long")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// Decoding and executing with a shift handler that only looks at the arrays: adds the value
// loading and the one-byte-per-bit expansion.
void BM_XsvfExecuteWrite(benchmark::State& State) {
    const TTempFile& F = XsvfFile(static_cast<int>(State.range(0)));
    int64_t Bits = 0;
    for (auto _ : State) {
        State.PauseTiming();
        TXSVFFile X(F.Path());
        State.ResumeTiming();
        X.Events.OnShift = [&](const uint8_t* Tdi, const uint8_t*, int64_t Count, bool) {
            benchmark::DoNotOptimize(Tdi[Count - 1]);
            Bits += Count;
        };
        TXSVFCommand C;
        do {
            X.ReadCommand(C);
            X.Decode(C);
            X.ExecuteWrite(C);
        } while (!X.IsComplete(C));
    }
    State.SetBytesProcessed(State.iterations() * F.Size());
    State.counters["shifted bits/s"] =
        benchmark::Counter(static_cast<double>(Bits), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_XsvfExecuteWrite)->ArgName("long")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

} // namespace
