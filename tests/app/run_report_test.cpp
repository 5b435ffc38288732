// The --json object, the --log transcript and what a run's console lines tell about a failure.

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include <nlohmann/json.hpp>

#include "native_file.h"
#include "run_report.h"
#include "run_timer.h"
#include "scratch.h"
#include "transcript.h"

namespace {

std::string ReadAll(const std::string& Path) {
    std::ifstream In(Path, std::ios::binary);
    std::stringstream S;
    S << In.rdbuf();
    return S.str();
}

TEST(RunReport, JsonHasEveryFieldAndParsesBack) {
    TRunReport R;
    R.File = "/tmp/board \"a\".svf";
    R.Sha256 = "ab";
    R.Serial = "A6012345";
    R.Driver = "libkorvex-sim.so";
    R.Result = "failed";
    R.ExitCode = 1;
    R.StartTime = std::chrono::system_clock::from_time_t(1796770501); // 2026-12-08T22:55:01Z
    R.DurationSeconds = 2.3456;
    R.Statements = 12;
    R.Scans = 4;
    R.TckCycles = 1234;
    const auto Passed = nlohmann::json::parse(RunReportJson(R));
    EXPECT_TRUE(Passed["failure"].is_null());
    R.Failed = true;
    R.Failure = {"Failing SDR statement near line 12", 12, "", "5EC0FFEF", "5EC0FFEE", "FFFFFFFF"};
    const std::string Text = RunReportJson(R);
    EXPECT_EQ(Text.find('\n'), std::string::npos);
    const auto J = nlohmann::json::parse(Text);
    EXPECT_EQ(J["file"], R.File);
    EXPECT_EQ(J["start_time"], "2026-12-08T22:55:01Z");
    EXPECT_EQ(J["duration_s"], 2.346);
    EXPECT_EQ(J["exit_code"], 1);
    EXPECT_EQ(J["tck_cycles"], 1234);
    EXPECT_EQ(J["failure"]["line"], 12);
    EXPECT_EQ(J["failure"]["read"], "5EC0FFEE");
    for (const char* Key : {"sha256", "serial", "driver", "result", "statements", "scans"})
        EXPECT_TRUE(J.contains(Key)) << Key;
}

TEST(Transcript, AppendsTimestampedLinesAcrossRuns) {
    const std::string Path = SuiteScratch().File("runs.log");
    std::remove(Path.c_str());
    for (int Run = 0; Run < 2; ++Run) {
        TTranscript T(Path);
        T.Now = [] { return std::chrono::system_clock::from_time_t(1796770501); };
        EXPECT_TRUE(T.Start("korvex-cli a.svf"));
        T.Line("Fatal error \"x\" near line 2\r\n\"SDR 8;\"", sevError);
        T.Line("File processing completed successfully", sevInfo);
        T.End("passed, exit code 0");
    }
    // Lines end as the system's text tools expect (CRLF on Windows).
    const std::string Eol = platform::TextLineEnd();
    const std::string Expected = "2026-12-08T22:55:01Z ==== start: korvex-cli a.svf" + Eol +
                                 "2026-12-08T22:55:01Z  ERR Fatal error \"x\" near line 2" + Eol +
                                 "2026-12-08T22:55:01Z  ERR \"SDR 8;\"" + Eol +
                                 "2026-12-08T22:55:01Z      File processing completed "
                                 "successfully" +
                                 Eol + "2026-12-08T22:55:01Z ==== end: passed, exit code 0" + Eol;
    EXPECT_EQ(ReadAll(Path), Expected + Expected);
    EXPECT_FALSE(TTranscript(SuiteScratch().File("no/such/folder/x.log")).Start("x"));
}

} // namespace

namespace {

TEST(RunTimer, EstimatesTheTimeLeftOnceThereIsSomethingToGoBy) {
    TRunTimer T;
    const auto T0 = TRunTimer::TClock::now();
    T.Start(T0);
    const auto At = [&](double S) {
        return T0 + std::chrono::duration_cast<TRunTimer::TClock::duration>(
                        std::chrono::duration<double>(S));
    };
    const struct {
        double Elapsed;
        int64_t Position, Max;
        const char* Text;
    } Cases[] = {
        {0.5, 50, 100, "0:01 elapsed"}, // too early for an estimate
        {12, 0, 100, "0:12 elapsed"},   // nothing done yet
        {12, 0, 10000, "0:12 elapsed"}, // less than a hundredth done
        {12, 25, 100, "0:12 elapsed, 0:36 left"},
        {3000, 50, 100, "50:00 elapsed, 50:00 left"},
        {4000, 100, 100, "1:06:40 elapsed, 0:00 left"},
    };
    for (const auto& C : Cases)
        EXPECT_EQ(T.Text(C.Position, C.Max, At(C.Elapsed)), C.Text) << C.Elapsed;
}

} // namespace
