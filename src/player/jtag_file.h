#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

#include "jtag_events.h"
#include "player_thread.h"

// Asked now and then while a player reads its whole file before the run (the XSVF pre-scan of a
// large file takes seconds): the front end keeps its window alive and a stop request heard.
// Returning false cancels the load with ELoadCancelled.
using TKeepLoading = std::function<bool()>;

class ELoadCancelled : public std::runtime_error {
public:
    ELoadCancelled() : std::runtime_error("Reading the file was cancelled") {}
};

// The abstract vector-file player. A player is constructed from a file name (through the registry),
// gets its events record from the front end, and after Start plays the file on a worker thread of
// its own, turning every JTAG action into an event call. It knows nothing of the programmer.
//
// Each concrete player also provides `static std::string FileType()`, the class-level type name
// ("SVF", "XSVF") the registry files it under.
class TJtagFile {
public:
    explicit TJtagFile(const std::string& FileName) : FFileName(FileName) {}
    // Waits for the worker (if any) and frees it with the copies it owns.
    virtual ~TJtagFile();
    TJtagFile(const TJtagFile&) = delete;
    TJtagFile& operator=(const TJtagFile&) = delete;

    // The port to the programmer: set before Start, read by the copies Start makes.
    TJtagEvents Events;

    // Report comments found in the file with OnMessage severity 1.
    bool EchoComments = true;
    // False for a check of the file without a target: read-back is still collected, one per
    // shift, but never compared, so every scan passes and the whole file is played.
    bool CompareReadBack = true;

    // Creates the worker and its copies, sets the frequency and lets the worker run. Called once.
    virtual void Start(int64_t DefaultFrequency) = 0;
    // 0 = not started or still running, 1 = finished and failed, 2 = finished successfully.
    virtual int Status() const;
    virtual std::string GetFileType() const = 0;
    virtual int64_t Progress() const = 0;
    virtual int64_t ProgressMax() const = 0;
    // Statements (SVF) or commands (XSVF) the worker has executed so far.
    virtual int64_t StatementsExecuted() const { return 0; }
    // The line the worker has read up to (where an error without a line of its own was met);
    // 0 for a format without lines.
    virtual int32_t LineReached() const { return 0; }

    // Asks the worker to stop at its next pass; the run then fails as cancelled. Safe from any
    // thread; does nothing before Start.
    void RequestTerminate();

    const std::string& FileName() const { return FFileName; }

protected:
    // The thread a player's Start creates; Status and RequestTerminate look at it.
    std::unique_ptr<TPlayerThread> Thread;
    std::string FFileName;
};
