#include "message_queue.h"

void TMessageQueue::QueueMessage(const std::string& Text, uint8_t Severity) {
    TConsoleLine Line{Text, Severity};
    std::lock_guard<std::mutex> Lock(MessagesLock);
    Messages.push_back(std::move(Line));
}

bool TMessageQueue::Empty() const {
    std::lock_guard<std::mutex> Lock(MessagesLock);
    return Messages.empty();
}

void TMessageQueue::DrainMessages(const std::function<void(const TConsoleLine&)>& Sink) {
    std::vector<TConsoleLine> Batch;
    {
        std::lock_guard<std::mutex> Lock(MessagesLock);
        Batch.swap(Messages);
    }
    for (const TConsoleLine& Entry : Batch) {
        const std::string& T = Entry.Text;
        size_t Begin = 0;
        for (;;) {
            const size_t Nl = T.find('\n', Begin);
            if (Nl == std::string::npos) {
                Sink({T.substr(Begin), Entry.Severity});
                break;
            }
            size_t End = Nl;
            if (End > Begin && T[End - 1] == '\r')
                --End;
            Sink({T.substr(Begin, End - Begin), Entry.Severity});
            Begin = Nl + 1;
        }
    }
}
