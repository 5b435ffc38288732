// The SVF player's front half: statements read from the file, split into words, and parsed
// (which is where the hexadecimal values become TVarLen). The parse figures include the reading;
// the difference between the two is the word splitting and the hex conversion.

#include <benchmark/benchmark.h>

#include "bench_files.h"
#include "svf_file.h"
#include "svf_stepper.h"

namespace {

const TTempFile& SmallFile() {
    static const TTempFile F(".svf", SmallStatementsSvf(2 << 20, 1));
    return F;
}

// Two DR scans of 8 Mibit and one with read-back: 10 MiB of hexadecimal digits.
const TTempFile& LongFile() {
    static const TTempFile F(".svf", LongScansSvf(8 << 20, 3, 2));
    return F;
}

const TTempFile& File(int Which) {
    return Which == 0 ? SmallFile() : LongFile();
}

void BM_ReadStatement(benchmark::State& State) {
    const TTempFile& F = File(static_cast<int>(State.range(0)));
    int64_t Statements = 0;
    for (auto _ : State) {
        TSVFFile File(F.Path());
        TSVFStepper Svf(File);
        for (;;) {
            const auto S = Svf.ReadStatement();
            benchmark::DoNotOptimize(S.data());
            ++Statements;
            if (S == "__EOF")
                break;
        }
    }
    State.SetBytesProcessed(State.iterations() * F.Size());
    State.counters["statements/s"] =
        benchmark::Counter(static_cast<double>(Statements), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ReadStatement)->ArgName("long")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_ReadAndSplitWords(benchmark::State& State) {
    const TTempFile& F = File(static_cast<int>(State.range(0)));
    for (auto _ : State) {
        TSVFFile File(F.Path());
        TSVFStepper Svf(File);
        std::vector<std::string_view> Words;
        for (;;) {
            const auto S = Svf.ReadStatement();
            TSVFStepper::SplitWords(S, Words);
            benchmark::DoNotOptimize(Words.data());
            if (S == "__EOF")
                break;
        }
    }
    State.SetBytesProcessed(State.iterations() * F.Size());
}
BENCHMARK(BM_ReadAndSplitWords)->ArgName("long")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// Reading, splitting and parsing: every hexadecimal value becomes a TVarLen.
void BM_ParseCommand(benchmark::State& State) {
    const TTempFile& F = File(static_cast<int>(State.range(0)));
    for (auto _ : State) {
        TSVFFile File(F.Path());
        TSVFStepper Svf(File);
        TSVFCommand C;
        do {
            Svf.Parse(C);
            benchmark::DoNotOptimize(C.Parameters.data());
        } while (C.Command != cmdEOF);
    }
    State.SetBytesProcessed(State.iterations() * F.Size());
}
BENCHMARK(BM_ParseCommand)->ArgName("long")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// Parsing and folding into the persistent scan state, as the writer copy does before executing.
void BM_ParseAndApply(benchmark::State& State) {
    const TTempFile& F = File(static_cast<int>(State.range(0)));
    for (auto _ : State) {
        TSVFFile File(F.Path());
        TSVFStepper Svf(File);
        TSVFCommand C;
        do {
            Svf.Parse(C);
            Svf.Apply(C);
        } while (C.Command != cmdEOF);
        benchmark::DoNotOptimize(Svf.Scan(cmdSDR).Tdi.Data());
    }
    State.SetBytesProcessed(State.iterations() * F.Size());
}
BENCHMARK(BM_ParseAndApply)->ArgName("long")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// The word splitting alone, on the normalised text of a typical read-back statement.
void BM_SplitWords(benchmark::State& State) {
    const std::string S = "SDR 64 TDI (0123456789ABCDEF) TDO (FFFFFFFFFFFFFFFF) MASK "
                          "(00000000FFFFFFFF)";
    std::vector<std::string_view> Words;
    for (auto _ : State) {
        TSVFStepper::SplitWords(S, Words);
        benchmark::DoNotOptimize(Words.data());
    }
    State.SetBytesProcessed(State.iterations() * static_cast<int64_t>(S.size()));
}
BENCHMARK(BM_SplitWords);

} // namespace
