// The --json object, the --log transcript and what a run's console lines tell about a failure.

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include <nlohmann/json.hpp>

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

TEST(RunReport, Sha256OfAFile) {
    const std::string Path = SuiteScratch().File("abc.txt");
    std::ofstream(Path) << "abc";
    EXPECT_EQ(Sha256OfFile(Path),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(Sha256OfFile(SuiteScratch().File("no-such-file")), "");
}

TEST(FailureCollector, KeepsOnlyTheFirstFailureAndItsHexLines) {
    const struct {
        std::vector<std::pair<std::string, uint8_t>> Lines;
        TRunFailure Expected;
    } Cases[] = {
        {{{"Using KORVEX S/N A6012345", sevInfo},
          {"Error on SDR instruction: ", sevError},
          {"Expected: 1111 0111", sevError},
          {"Readed:   0111 0111", sevError},
          {"Expected (hex): EE", sevError},
          {"Read     (hex): EF", sevError},
          {"Mask     (hex): FF", sevError},
          {"Failing SDR statement near line 9", sevError},
          {"!! ERROR !! File processing failed", sevError}},
         {"Failing SDR statement near line 9", 9, "", "EE", "EF", "FF"}},
        {{{"Retrying: retry #1", sevInfo},
          {"XSDRTDO operation failed after maximum retries", sevError},
          {"Failing XSVF command #7 XSDRTDO", sevError},
          {"Expected (hex): 0A6B5093", sevError},
          {"Read     (hex): 0A6B5193", sevError},
          {"Mask     (hex): 0FFFFFFF", sevError},
          {"!! ERROR !! File processing failed", sevError}},
         {"XSDRTDO operation failed after maximum retries", 0, "#7 XSDRTDO", "0A6B5093", "0A6B5193",
          "0FFFFFFF"}},
        {{{"Failing XSVF command #3 XSDRTDO", sevError},
          {"Expected (hex): 1", sevError},
          {"Read     (hex): 0", sevError},
          {"Mask     (hex): 1", sevError},
          {"!! ERROR !! File processing failed", sevError},
          {"Expected (hex): 2", sevError}},
         {"Failing XSVF command #3 XSDRTDO", 0, "#3 XSDRTDO", "1", "0", "1"}},
        {{{"Fatal error \"Unknown command\" near line 4\r\n\"FOO;\"", sevError}},
         {"Fatal error \"Unknown command\" near line 4", 4, "", "", "", ""}},
    };
    for (const auto& C : Cases) {
        TFailureCollector F;
        for (const auto& [Text, Severity] : C.Lines)
            F.Line(Text, Severity);
        ASSERT_TRUE(F.Found());
        EXPECT_EQ(F.Failure().Message, C.Expected.Message);
        EXPECT_EQ(F.Failure().Line, C.Expected.Line);
        EXPECT_EQ(F.Failure().Command, C.Expected.Command);
        EXPECT_EQ(F.Failure().Expected, C.Expected.Expected);
        EXPECT_EQ(F.Failure().Read, C.Expected.Read);
        EXPECT_EQ(F.Failure().Mask, C.Expected.Mask);
    }
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
    const std::string Expected = "2026-12-08T22:55:01Z ==== start: korvex-cli a.svf\n"
                                 "2026-12-08T22:55:01Z  ERR Fatal error \"x\" near line 2\n"
                                 "2026-12-08T22:55:01Z  ERR \"SDR 8;\"\n"
                                 "2026-12-08T22:55:01Z      File processing completed "
                                 "successfully\n"
                                 "2026-12-08T22:55:01Z ==== end: passed, exit code 0\n";
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
