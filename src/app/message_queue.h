#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "jtag_events.h"

// One console line and how serious it is (a TSeverity: information, comment, error, warning);
// each front end picks its own colour for it.
struct TConsoleLine {
    std::string Text;
    uint8_t Severity;
};

// Every line a run shows goes through this queue: players report from the worker thread, the
// controller from the UI thread. Queuing costs one short locked append; the front end moves all
// queued lines into its console once per timer tick.
class TMessageQueue {
public:
    // Callable from any thread.
    void QueueMessage(const std::string& Text, uint8_t Severity);

    // Hands every queued line, in queue order, to Sink. A text holding CR LF (or a bare LF) becomes
    // several lines of the same severity. The queue is swapped out under the lock and delivered
    // outside it, so a slow console never holds up the worker.
    void DrainMessages(const std::function<void(const TConsoleLine&)>& Sink);

    bool Empty() const;

private:
    mutable std::mutex MessagesLock;
    std::vector<TConsoleLine> Messages;
};
