#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "processing_controller.h"

// The headless front end: console lines go to standard output as they are drained (ANSI colours
// when it is a terminal and NO_COLOR is not set), the progress bar is drawn on standard error when
// that is a terminal, error boxes become lines on standard error. The programmer is chosen without
// a dialog (see ChooseKorvex).
class TTerminalView : public IControllerView {
public:
    TTerminalView(FILE* Out, FILE* Err);

    // The controller whose link ChooseKorvex sets; bound once both exist.
    TProcessingController* Controller = nullptr;
    // Set by Quit: the run is over and the program ends.
    bool Closed = false;

    bool Colour() const { return FColour; }

    void ClearConsole() override {}
    void ProcessPendingEvents() override {}
    // A stop request (a signal) heard while a file is read before its run.
    std::function<void()> OnLoading;
    void WhileLoading() override {
        if (OnLoading)
            OnLoading();
    }
    void AppendConsoleLines(const std::vector<TConsoleLine>& Lines) override;
    void SetProgress(int64_t Max, int64_t Position) override;
    void Quit() override;
    void ShowError(const std::string& Text) override;
    // Without a dialog: the controller's rule (-S, else the only one attached).
    bool ChooseProgrammer() override;
    void SetStatusText(const std::string&) override {}
    // Elapsed and left beside the progress bar; the total on standard error once the run's last
    // console line is out.
    void SetRunTime(const std::string& Text, bool Finished) override;

    // Every console line as it is written (the run's transcript and report).
    std::function<void(const TConsoleLine&)> OnLine;

    // Writes a note on standard error between progress-bar redraws.
    void Note(const std::string& Text);
    // Removes the progress bar from the terminal.
    void EraseProgress();

private:
    void DrawProgress();

    FILE* FOut;
    FILE* FErr;
    bool FOutTerminal;   // FOut is a terminal: control characters are masked
    bool FColour;        // ANSI colours on FOut
    bool FErrColour;     // ANSI colours on FErr
    bool FProgressShown; // FErr is a terminal: the bar is drawn there
    bool FBarVisible = false;
    int64_t FMax = 0;
    int64_t FPosition = 0;
    int FLastPermille = -1;
    std::string FRunTime; // beside the bar
    std::string FDrawnRunTime;
    std::string FTotalTime; // written when the window would close
};
