#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <thread>
#include <vector>

#include "line_exception.h"
#include "scratch.h"
#include "test_player.h"

namespace {

struct TRecorder {
    std::mutex M;
    std::vector<std::pair<std::string, int>> Lines;
    std::string Tms;
    std::vector<int64_t> Frequencies;

    void Assign(TJtagFile& P) {
        P.Events.OnMessage = [this](const std::string& T, uint8_t S) {
            std::lock_guard<std::mutex> L(M);
            Lines.emplace_back(T, S);
        };
        P.Events.OnClockTms = [this](uint8_t, uint8_t T) { Tms += static_cast<char>('0' + T); };
        P.Events.OnSetFrequency = [this](int64_t F, bool) {
            Frequencies.push_back(F);
            return F;
        };
    }
};

std::string WriteFile(const std::string& Name, const std::string& Text) {
    return SuiteScratch().Write(Name, Text);
}

void WaitEnd(const TJtagFile& P) {
    for (int I = 0; I < 5000 && P.Status() == 0; ++I)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

} // namespace

TEST(PlayerThread, PlaysThroughTheWorkerAndReportsSuccess) {
    const auto Path = WriteFile("ok.tst", "MSG one\nTMS 0101\nMSG two\n");
    TRecorder R;
    TTestPlayer P(Path);
    R.Assign(P);
    EXPECT_EQ(P.Status(), 0);
    EXPECT_EQ(P.Progress(), 0);
    P.Start(3000000);
    WaitEnd(P);
    EXPECT_EQ(P.Status(), 2);
    EXPECT_EQ(P.Progress(), 3);
    EXPECT_EQ(R.Tms, "1111110101"); // the reset, then the file's clocks
    ASSERT_EQ(R.Lines.size(), 2u);
    EXPECT_EQ(R.Lines[0].first, "one");
    EXPECT_EQ(R.Lines[1].first, "two");
    EXPECT_EQ(R.Frequencies, std::vector<int64_t>{3000000});
}

TEST(PlayerThread, ExceptionFailsTheRunWithAFatalErrorLine) {
    const auto Path = WriteFile("fail.tst", "MSG before\nFAIL broken cable\nMSG after\n");
    TRecorder R;
    TTestPlayer P(Path);
    R.Assign(P);
    P.Start(1);
    WaitEnd(P);
    EXPECT_EQ(P.Status(), 1);
    ASSERT_EQ(R.Lines.size(), 2u);
    EXPECT_EQ(R.Lines[1].first, "Fatal error broken cable");
    EXPECT_EQ(R.Lines[1].second, 2);
}

TEST(PlayerThread, StatusStaysZeroUntilTheWorkerHasEnded) {
    const auto Path = WriteFile("slow.tst", "WAIT 150\nMSG done\n");
    TRecorder R;
    TTestPlayer P(Path);
    R.Assign(P);
    P.Start(1);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(P.Status(), 0);
    WaitEnd(P);
    EXPECT_EQ(P.Status(), 2);
    EXPECT_EQ(R.Lines.size(), 1u);
}

TEST(PlayerThread, TerminationRequestFailsTheRunAsCancelled) {
    std::string Text;
    for (int I = 0; I < 200; ++I)
        Text += "WAIT 5\n";
    const auto Path = WriteFile("long.tst", Text);
    TRecorder R;
    TTestPlayer P(Path);
    R.Assign(P);
    P.Start(1);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    P.RequestTerminate();
    EXPECT_NE(P.Status(), 2); // never success, not even for a moment
    WaitEnd(P);
    EXPECT_EQ(P.Status(), 1);
    ASSERT_FALSE(R.Lines.empty());
    EXPECT_EQ(R.Lines.back().first, CancelledMessage);
    EXPECT_LT(P.Progress(), 200);
}

TEST(PlayerThread, FreeingStartedAndUnstartedPlayers) {
    const auto Path = WriteFile("free.tst", "WAIT 30\n");
    const int Before = TTestPlayer::LiveObjects;
    {
        TTestPlayer Never(Path); // only its file was opened
    }
    {
        TRecorder R;
        TTestPlayer Running(Path);
        R.Assign(Running);
        Running.Start(1);
        // destroyed while the worker still sleeps: the destructor waits for it
    }
    EXPECT_EQ(TTestPlayer::LiveObjects, Before);
}

TEST(PlayerThread, LineErrorsNameTheLine) {
    ELineException E("Unknown SVF command PIO", 6, "PIO (HLX);");
    EXPECT_EQ(E.LineNumber, 7);
    EXPECT_EQ(FatalErrorText(E),
              "Fatal error Unknown SVF command PIO near line 7\r\n\"PIO (HLX);\"");
    EXPECT_EQ(FatalErrorText(std::runtime_error("x")), "Fatal error x");
}

TEST(PlayerThread, ConstructorFailureLeavesNoObject) {
    const int Before = TTestPlayer::LiveObjects;
    EXPECT_THROW(TTestPlayer("/nonexistent/file.tst"), std::runtime_error);
    EXPECT_EQ(TTestPlayer::LiveObjects, Before);
}

// A front end waiting for its next poll wakes when a worker ends, and hears of it once.
TEST(PlayerThread, WaitingForThePollWakesWhenAWorkerEnds) {
    AnyPlayerFinished(); // what earlier tests left
    std::atomic<bool> Go{false};
    TPlayerThread T;
    T.Resume([&] {
        while (!Go.load())
            std::this_thread::yield();
    });
    EXPECT_FALSE(AnyPlayerFinished());
    Go.store(true);
    EXPECT_TRUE(WaitForAnyPlayerToFinish(std::chrono::minutes(1))); // a hang guard only
    EXPECT_TRUE(T.Finished());
    EXPECT_FALSE(AnyPlayerFinished());
}
