#pragma once

#include <fstream>
#include <string>
#include <vector>

#include "jtag_file.h"

// A tiny player used to prove the framework before the real ones: a text file with one command a
// line, played by a writer copy on the worker thread through the shared loop.
//   MSG <text>   OnMessage(text, 0)
//   TMS <bits>   one OnClockTms per digit
//   FAIL <text>  throws std::runtime_error(text)
//   WAIT <ms>    sleeps, so tests can watch a running player
class TTestPlayer : public TJtagFile {
public:
    explicit TTestPlayer(const std::string& FileName);
    ~TTestPlayer() override;

    static std::string FileType() { return "TST"; }
    std::string GetFileType() const override { return FileType(); }
    void Start(int64_t DefaultFrequency) override;
    int64_t Progress() const override;
    int64_t ProgressMax() const override { return static_cast<int64_t>(FLines.size()); }

    static int LiveObjects;

private:
    bool Step();
    std::vector<std::string> FLines;
    size_t FNext = 0;
    TProgressCounter FDone;
};
