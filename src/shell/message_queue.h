#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

// One console line with its colour as 0xRRGGBB.
struct TConsoleLine {
    std::string Text;
    uint32_t Color;
};

// Every line a run shows goes through this queue: players report from the worker thread, the
// controller from the UI thread. Queuing costs one short locked append; the front end moves all
// queued lines into its console once per timer tick.
class TMessageQueue {
public:
    // Callable from any thread.
    void QueueMessage(const std::string& Text, uint8_t Severity);

    // Hands every queued line, in queue order, to Sink. A text holding CR LF (or a bare LF) becomes
    // several lines of the same colour. The queue is swapped out under the lock and delivered
    // outside it, so a slow console never holds up the worker.
    void DrainMessages(const std::function<void(const TConsoleLine&)>& Sink);

    bool Empty() const;

    // Black for information, grey for comments, red for errors, dark brown for warnings; any other
    // severity draws black.
    static uint32_t SeverityColor(uint8_t Severity);

    static constexpr uint32_t clBlack = 0x000000;
    static constexpr uint32_t clGrey = 0x808080;
    static constexpr uint32_t clRed = 0xFF0000;
    static constexpr uint32_t clBrown = 0x604000;

private:
    mutable std::mutex MessagesLock;
    std::vector<TConsoleLine> Messages;
};
