#include "test_player.h"

#include <chrono>
#include <stdexcept>
#include <thread>

#include "tap_state.h"

int TTestPlayer::LiveObjects = 0;

TTestPlayer::TTestPlayer(const std::string& FileName) : TJtagFile(FileName) {
    std::ifstream In(FileName);
    if (!In)
        throw std::runtime_error("Cannot open file " + FileName + " for read.");
    for (std::string L; std::getline(In, L);)
        FLines.push_back(L);
    ++LiveObjects;
}

TTestPlayer::~TTestPlayer() {
    Thread.reset();
    --LiveObjects;
}

int64_t TTestPlayer::Progress() const {
    auto* T = static_cast<TReadWriteThread<TTestPlayer>*>(Thread.get());
    return T ? T->Writer->FDone.Get() : FDone.Get();
}

bool TTestPlayer::Step() {
    if (FNext >= FLines.size())
        return false;
    const std::string L = FLines[FNext++];
    const auto Space = L.find(' ');
    const std::string Arg = Space == std::string::npos ? "" : L.substr(Space + 1);
    if (L.rfind("MSG ", 0) == 0 && Events.OnMessage)
        Events.OnMessage(Arg, 0);
    else if (L.rfind("TMS ", 0) == 0) {
        for (char C : Arg)
            if (Events.OnClockTms)
                Events.OnClockTms(0, static_cast<uint8_t>(C - '0'));
    } else if (L.rfind("FAIL", 0) == 0)
        throw std::runtime_error(Arg);
    else if (L.rfind("WAIT", 0) == 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(std::stoi(Arg)));
    FDone.Add(1);
    return true;
}

void TTestPlayer::Start(int64_t DefaultFrequency) {
    auto T = std::make_unique<TReadWriteThread<TTestPlayer>>();
    T->Writer = std::make_unique<TTestPlayer>(FFileName);
    T->Writer->Events = Events;
    if (Events.OnSetFrequency)
        Events.OnSetFrequency(DefaultFrequency, true);
    auto* Raw = T.get();
    Thread = std::move(T);
    Raw->Resume([Raw] {
        TTestPlayer& W = *Raw->Writer;
        uint8_t State = tsIDLE;
        RunPlayerLoop(
            *Raw, W.Events.OnMessage,
            [&] {
                WalkTapState(State, tsRESET, W.Events.OnClockTms,
                             [] { throw std::logic_error("tap"); });
                if (W.Events.OnFlush)
                    W.Events.OnFlush();
            },
            [&] { return W.Step(); });
    });
}
