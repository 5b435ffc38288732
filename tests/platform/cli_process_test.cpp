// korvex-cli.exe as a user starts it: file names in other scripts on the command line, the
// transcript's line ends, the exit codes, all on the simulated programmer.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#ifndef _WIN32
#include <sys/wait.h>
#endif

#include "native_file.h"
#include "native_path.h"
#include "scratch.h"

namespace {

std::string ReadWhole(const std::string& Name) {
    std::ifstream In(platform::PathFromUtf8(Name), std::ios::binary);
    std::ostringstream Text;
    Text << In.rdbuf();
    return Text.str();
}

// Runs a command line through the system's shell, output into Output; the exit code.
int RunCommand(const std::string& Command, const std::string& Output) {
    const std::string Line = Command + " > \"" + Output + "\" 2>&1";
#ifdef _WIN32
    // cmd.exe takes the whole line in one more pair of quotes; the wide call keeps every name.
    return ::_wsystem(platform::WideFromUtf8("\"" + Line + "\"").c_str());
#else
    const int Status = std::system(Line.c_str());
    return WIFEXITED(Status) ? WEXITSTATUS(Status) : -1;
#endif
}

std::string Quoted(const std::string& S) {
    return "\"" + S + "\"";
}

} // namespace

TEST(CliProcess, FileNamesInAnyScript) {
    const TScratchFolder Dir("cli \xC3\xBC");
    TSimScenario Sim(Dir);
    Sim.Use("");
    const std::string Good = ReadWhole(KORVEX_TEST_DATA "/svf/program_verify.svf");
    const std::string Bad = ReadWhole(KORVEX_TEST_DATA "/svf/program_verify_wrong_bit.svf");
    const std::string Eol = platform::TextLineEnd();
    const struct {
        const char* Name;
        const std::string* Content; // nullptr: the file does not exist
        int ExitCode;
        const char* Says;
    } Rows[] = {
        {"Gr\xC3\xBC\xC3\x9F"
         "e.svf",
         &Good, 0, "File processing completed successfully"},
        {"\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E.svf", &Good, 0,
         "File processing completed successfully"},
        {"\xD0\xBF\xD0\xBB\xD0\xB0\xD1\x82\xD0\xB0 \xF0\x9F\x98\x80.svf", &Bad, 1, "Failing SDR"},
        {"n\xC3\xA4mlos.svf", nullptr, 2, "n\xC3\xA4mlos.svf"},
    };
    for (const auto& R : Rows) {
        SCOPED_TRACE(R.Name);
        const std::string File = R.Content ? Dir.Write(R.Name, *R.Content) : Dir.File(R.Name);
        const std::string Log = Dir.File("\xD0\xBB\xD0\xBE\xD0\xB3.log");
        std::filesystem::remove(platform::PathFromUtf8(Log));
        const int Exit = RunCommand(Quoted(KORVEX_CLI) + " -I " + Quoted(Dir.File("korvex.ini")) +
                                        " --log " + Quoted(Log) + " " + Quoted(File),
                                    Dir.File("out.txt"));
        const std::string Out = ReadWhole(Dir.File("out.txt"));
        EXPECT_EQ(Exit, R.ExitCode) << Out;
        EXPECT_NE(Out.find(R.Says), std::string::npos) << Out;
        if (!R.Content)
            continue;
        // The file reached the player under its own name, and the transcript ends its lines as
        // the system's text tools expect.
        EXPECT_NE(Out.find(R.Name), std::string::npos) << Out;
        const std::string Transcript = ReadWhole(Log);
        EXPECT_NE(Transcript.find(R.Name), std::string::npos) << Transcript;
        ASSERT_GE(Transcript.size(), Eol.size());
        EXPECT_EQ(Transcript.substr(Transcript.size() - Eol.size()), Eol);
        size_t Lines = 0, Ends = 0;
        for (size_t I = 0; (I = Transcript.find('\n', I)) != std::string::npos; ++I, ++Lines)
            Ends += Transcript.compare(I + 1 - Eol.size(), Eol.size(), Eol) == 0;
        EXPECT_EQ(Ends, Lines) << "every line ends with the system's line end";
    }
}
