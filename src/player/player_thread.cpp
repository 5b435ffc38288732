#include "player_thread.h"

#include <condition_variable>
#include <mutex>

#include "line_exception.h"

namespace {

// Workers that finished and no waiter has seen yet.
std::mutex FinishedLock;
std::condition_variable FinishedSignal;
int FinishedUnseen = 0;

void SignalFinished() {
    {
        std::lock_guard<std::mutex> Lock(FinishedLock);
        ++FinishedUnseen;
    }
    FinishedSignal.notify_all();
}

} // namespace

bool WaitForAnyPlayerToFinish(std::chrono::milliseconds Timeout) {
    std::unique_lock<std::mutex> Lock(FinishedLock);
    if (!FinishedSignal.wait_for(Lock, Timeout, [] { return FinishedUnseen > 0; }))
        return false;
    FinishedUnseen = 0;
    return true;
}

bool AnyPlayerFinished() {
    std::lock_guard<std::mutex> Lock(FinishedLock);
    const bool Any = FinishedUnseen > 0;
    FinishedUnseen = 0;
    return Any;
}

void TPlayerThread::Resume(std::function<void()> Body) {
    if (Started())
        return;
    FThread = std::thread([this, Body = std::move(Body)] {
        try {
            Body();
        } catch (...) {
            // The loop reports what it can; whatever escapes still ends the run as failed.
            Failed.store(true);
        }
        FFinished.store(true, std::memory_order_release);
        SignalFinished();
    });
}

void TPlayerThread::WaitFor() {
    if (FThread.joinable() && FThread.get_id() != std::this_thread::get_id())
        FThread.join();
}

int TPlayerThread::Status() const {
    if (!Finished())
        return 0;
    return Failed.load() ? 1 : 2;
}

std::string FatalErrorText(const std::exception& E) {
    if (const auto* L = dynamic_cast<const ELineException*>(&E))
        return std::string("Fatal error ") + L->what() + " near line " +
               std::to_string(L->LineNumber) + "\r\n\"" + L->LineText + "\"";
    return std::string("Fatal error ") + E.what();
}

void RunPlayerLoop(TPlayerThread& Thread, const TMessageEvent& Report,
                   const std::function<void()>& Prologue, const std::function<bool()>& Pass) {
    auto Fail = [&](const std::string& Text) {
        if (Report)
            Report(Text, sevError);
        Thread.Failed.store(true);
    };
    try {
        Prologue();
        for (;;) {
            if (Thread.TerminateRequested()) {
                if (!Thread.Failed.load())
                    Fail(CancelledMessage);
                Thread.Failed.store(true);
            }
            if (Thread.Failed.load())
                break;
            if (!Pass())
                break;
        }
    } catch (const ERunCancelled&) {
        if (!Thread.Failed.load())
            Fail(CancelledMessage);
    } catch (const std::exception& E) {
        Fail(FatalErrorText(E));
    }
}
