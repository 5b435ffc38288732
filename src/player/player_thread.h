#pragma once

#include <atomic>
#include <chrono>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "jtag_events.h"

// The worker thread of a player. It is created without running (the players construct their
// copies first), started once by Resume, and joined by its destructor. Status is read from the UI
// thread through the atomics below without a lock.
//
// Finished and the termination request are two flags: a request must never make a run look
// finished, let alone successful, before the worker has left its loop.
class TPlayerThread {
public:
    TPlayerThread() = default;
    virtual ~TPlayerThread() { WaitFor(); }
    TPlayerThread(const TPlayerThread&) = delete;
    TPlayerThread& operator=(const TPlayerThread&) = delete;

    // Starts Body on a new thread; Finished becomes true when it returns, whatever happens in it.
    void Resume(std::function<void()> Body);
    bool Started() const { return FThread.joinable() || FFinished.load(); }

    void Terminate() noexcept { FTerminate.store(true); }
    bool TerminateRequested() const noexcept { return FTerminate.load(); }
    bool Finished() const noexcept { return FFinished.load(std::memory_order_acquire); }
    void WaitFor();

    // 0 while running, 1 finished and failed, 2 finished successfully.
    int Status() const;

    std::atomic<bool> Failed{false};

private:
    std::thread FThread;
    std::atomic<bool> FTerminate{false};
    std::atomic<bool> FFinished{false};
};

// The thread of one player class with its writer and reader copies, which it owns. The copies are
// destroyed only after the worker has been joined.
template <class TPlayer> class TReadWriteThread : public TPlayerThread {
public:
    ~TReadWriteThread() override { WaitFor(); }
    std::unique_ptr<TPlayer> Reader; // trails the writer and checks read-back; may be absent
    std::unique_ptr<TPlayer> Writer; // executes every command
};

// The text a worker reports for an exception that ended a run: "Fatal error " + message, and for a
// line error " near line <n>" CR LF and the line's text in double quotes.
std::string FatalErrorText(const std::exception& E);

// Waits until some player's worker finishes or Timeout passes, whichever comes first: a front
// end that polls its run wakes at once when the run ends instead of at its next tick. Returns
// true when a worker finished since the last call returned true.
bool WaitForAnyPlayerToFinish(std::chrono::milliseconds Timeout);
// The same without waiting: whether a worker finished since a worker's end was last reported.
bool AnyPlayerFinished();

// The message of a run stopped by a termination request.
inline constexpr const char* CancelledMessage = "File processing cancelled";

// Thrown by a copy that saw the termination request deep inside a step (reading a file that does
// not end, say); the loop ends the run as cancelled, exactly as a request seen between passes.
struct ERunCancelled : std::exception {
    const char* what() const noexcept override { return CancelledMessage; }
};

// The loop shape both players share, run on the worker thread:
//   Prologue once (the TAP reset), then Pass until it returns false. Before every pass a
//   termination request sets the failed flag, and a set failed flag ends the loop. An exception
//   from the prologue or a pass is reported through Report with severity 2 as FatalErrorText and
//   fails the run. ERunCancelled from either ends the run as cancelled.
void RunPlayerLoop(TPlayerThread& Thread, const TMessageEvent& Report,
                   const std::function<void()>& Prologue, const std::function<bool()>& Pass);

// A counter written by the worker alone and read by the UI thread without a lock.
class TProgressCounter {
public:
    int64_t Get() const { return FValue.load(std::memory_order_relaxed); }
    void Set(int64_t V) { FValue.store(V, std::memory_order_relaxed); }
    void Add(int64_t N) { Set(Get() + N); } // single writer: no read-modify-write needed
private:
    std::atomic<int64_t> FValue{0};
};
