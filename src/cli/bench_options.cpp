#include "bench_options.h"

#include <CLI/CLI.hpp>

void AddBenchOptions(CLI::App& App, TBenchOptions& O) {
    App.add_flag("--detect", O.Detect,
                 "Reset the JTAG chain and list its devices (IDCODE, maker, part), then exit");
    App.add_option("--check", O.CheckFile,
                   "Read FILE to its end without a programmer: the first error with its line, or "
                   "statements, scans, TCK cycles and the estimated play time")
        ->option_text("FILE");
    App.add_option("--log", O.LogFile,
                   "Append a timestamped transcript of the run to FILE (one file can serve many "
                   "runs and processes)")
        ->option_text("FILE");
    App.add_flag("--json", O.Json,
                 "Print one JSON object describing the run on standard output at the end; the "
                 "console lines then go to standard error");
    App.footer(R"(Examples:
  korvex-cli board.svf                    play a file on the only attached programmer
  korvex-cli -S A6012345 board.xsvf       play it on the programmer with that serial number
  korvex-cli --list                       serial numbers of the attached programmers
  korvex-cli --detect                     list the devices on the JTAG chain
  korvex-cli --check board.svf            check a file without a programmer, with its play time
  korvex-cli --log line3.log --json board.svf > result.json
                                          keep a transcript and a JSON result of the run
  korvex-cli -S A6012345 a.svf & korvex-cli -S A6012346 b.svf & wait
                                          two programmers at once: one process each

Simulated programmer: KORVEX_D2XX=build/sim/libkorvex-sim.so korvex-cli ...)");
}
