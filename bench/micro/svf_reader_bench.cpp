// The SVF player's front half: statements read from the file and parsed in one pass (which is
// where the hexadecimal values become TVarLen). The reader alone, delivering every word as
// text, is measured for comparison.

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

// The reader alone: every word of every statement as text, values included.
void BM_ReadWords(benchmark::State& State) {
    const TTempFile& F = File(static_cast<int>(State.range(0)));
    int64_t Statements = 0;
    for (auto _ : State) {
        TSVFFile File(F.Path());
        TSVFStepper Svf(File);
        std::vector<std::string> Words;
        for (;;) {
            Svf.ReadWords(Words);
            benchmark::DoNotOptimize(Words.data());
            ++Statements;
            if (Words.size() == 1 && Words[0] == "__EOF")
                break;
        }
    }
    State.SetBytesProcessed(State.iterations() * F.Size());
    State.counters["statements/s"] =
        benchmark::Counter(static_cast<double>(Statements), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ReadWords)->ArgName("long")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// The front end: statements read and parsed in one pass, every hexadecimal value decoded into
// a TVarLen as its digits are read.
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

} // namespace
