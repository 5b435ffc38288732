#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "message_queue.h"

namespace {
std::vector<TConsoleLine> Drain(TMessageQueue& Q) {
    std::vector<TConsoleLine> Out;
    Q.DrainMessages([&](const TConsoleLine& L) { Out.push_back(L); });
    return Out;
}
} // namespace

TEST(MessageQueue, CrLfMakesTwoLinesOfOneSeverity) {
    TMessageQueue Q;
    Q.QueueMessage("Fatal error \"x\" near line 3\r\n\"SDR 8;\"", 2);
    Q.QueueMessage("after", 0);
    auto Lines = Drain(Q);
    ASSERT_EQ(Lines.size(), 3u);
    EXPECT_EQ(Lines[0].Text, "Fatal error \"x\" near line 3");
    EXPECT_EQ(Lines[1].Text, "\"SDR 8;\"");
    EXPECT_EQ(Lines[1].Severity, sevError);
    EXPECT_EQ(Lines[2].Severity, sevInfo);
    EXPECT_TRUE(Drain(Q).empty()); // a drain empties the queue; an empty drain yields nothing
}

TEST(MessageQueue, KeepsOrderAcrossThreads) {
    TMessageQueue Q;
    constexpr int PerThread = 5000;
    std::vector<std::thread> Threads;
    for (int T = 0; T < 4; ++T)
        Threads.emplace_back([&Q, T] {
            for (int I = 0; I < PerThread; ++I)
                Q.QueueMessage(std::to_string(T) + ":" + std::to_string(I), 0);
        });
    std::vector<TConsoleLine> All;
    while (All.size() < 4 * PerThread) {
        auto Part = Drain(Q);
        All.insert(All.end(), Part.begin(), Part.end());
    }
    for (auto& T : Threads)
        T.join();
    int Next[4] = {0, 0, 0, 0};
    for (const auto& L : All) {
        const int T = L.Text[0] - '0';
        EXPECT_EQ(std::stoi(L.Text.substr(2)), Next[T]++);
    }
}
